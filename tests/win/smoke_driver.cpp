// Starts Qimbo.exe, finds its main window (the dialog with the favorites file
// box), checks that it is visible, exits through the "X" button and checks
// that the process ended with code 0. Usage: smoke_driver Qimbo.exe|FOLDER
// "smoke_driver --close" only asks a running copy to exit (for scripts).
#include "driver_kit.h"

int wmain(int argc, wchar_t** argv) {
  if (!drv::HasArguments(argc, 2, "smoke_driver Qimbo.exe|FOLDER | --close")) return 2;
  if (std::wstring(argv[1]) == L"--close") {
    for (HWND w : drv::WindowsOf(0, [](HWND w) { return IsWindowVisible(w) && GetDlgItem(w, IDC_FILE_BOX); }))
      PostMessageW(w, WM_COMMAND, IDC_EXIT_BUTTON, 0);
    return 0;
  }
  std::wstring exe = argv[1];
  if (exe.size() < 4 || _wcsicmp(exe.c_str() + exe.size() - 4, L".exe") != 0) exe += L"\\Qimbo.exe";
  drv::Proc app;
  if (!drv::Check(app.Start(exe, L""), "the program starts (error " + std::to_string(GetLastError()) + ")"))
    return drv::Finish();
  HWND wnd = nullptr;
  drv::WaitUntil([&] { return (wnd = drv::MainWindowOf(app.pi.dwProcessId)) != nullptr || app.Ended(0); },
                 drv::kStartMs, 100);
  if (!drv::Check(wnd || !app.Ended(0), "the program does not end before showing its window (exit code " +
                                            std::to_string(app.ExitCode()) + ")") ||
      !drv::Check(wnd != nullptr, "its main window with the favorites file box is visible"))
    return drv::Finish();
  PostMessageW(wnd, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  if (drv::Check(app.Ended(15000), "the program ends after the exit button"))
    drv::Check(app.ExitCode() == 0, "with exit code 0 (" + std::to_string(app.ExitCode()) + ")");
  return drv::Finish();
}

// Starts Qimbo.exe, finds its main window (the dialog with the favorites file
// box), checks that it is visible, exits through the "X" button and checks
// that the process ended with code 0. Usage: smoke_driver Qimbo.exe|FOLDER
// "smoke_driver --close" only asks a running copy to exit (for scripts).
#include <windows.h>

#include <cstdio>
#include <string>

#include "proc_util.h"

static int Fail(const char* what) {
  fprintf(stderr, "smoke: %s (error %lu)\n", what, GetLastError());
  return 1;
}

static BOOL CALLBACK CloseProc(HWND wnd, LPARAM) {
  if (IsWindowVisible(wnd) && GetDlgItem(wnd, 1096)) PostMessageW(wnd, WM_COMMAND, 1007, 0);
  return TRUE;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Fail("usage: smoke_driver Qimbo.exe");
  if (std::wstring(argv[1]) == L"--close") return EnumWindows(CloseProc, 0) ? 0 : 1;
  std::wstring exe = argv[1];
  if (exe.size() < 4 || _wcsicmp(exe.c_str() + exe.size() - 4, L".exe") != 0) exe += L"\\Qimbo.exe";
  drv::Proc app;
  if (!app.Start(exe, L"")) return Fail("cannot start the program");
  const int kFileBox = 1096, kExit = 1007;
  HWND wnd = nullptr;
  for (int i = 0; i < 300 && !wnd; ++i) {
    wnd = drv::FindMainWindow(app.pi.dwProcessId, kFileBox);
    if (!wnd && app.Ended(100)) {
      fprintf(stderr, "smoke: exit code %lu\n", app.ExitCode());
      return Fail("the program ended before showing its window");
    }
  }
  if (!wnd) return Fail("no main window with the favorites file box");
  printf("smoke: main window found and visible\n");
  PostMessageW(wnd, WM_COMMAND, kExit, 0);
  if (!app.Ended(15000)) return Fail("the program did not end after the exit button");
  if (app.ExitCode() != 0) {
    fprintf(stderr, "smoke: exit code %lu\n", app.ExitCode());
    return 1;
  }
  printf("smoke: closed cleanly with exit code 0\n");
  return 0;
}

// Puts the main window into the states worth a screenshot and hands over to
// the shell script that takes them: for each state it writes FOLDER\shot-NAME.ready
// and waits for the script's FOLDER\shot-NAME.done.
// States: web (web-address folder), program (program folder), skin4000 and
// skin3999 (the first two entries of the skin menu, in web mode).
// Usage: shot_driver FOLDER
#include "driver_kit.h"

namespace {

std::wstring g_folder;

bool Handshake(HWND wnd, const wchar_t* name) {
  InvalidateRect(wnd, nullptr, TRUE);
  Sleep(300);  // let the windows finish painting before the picture is taken
  std::wstring ready = g_folder + L"\\shot-" + name + L".ready", done = g_folder + L"\\shot-" + name + L".done";
  CloseHandle(CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (drv::WaitUntil([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, drv::kPatienceMs))
    return true;
  fwprintf(stderr, L"shot_driver: no screenshot of %ls\n", name);
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  g_folder = argv[1];
  drv::Proc app;
  if (!app.Start(g_folder + L"\\Qimbo.exe", g_folder)) return 1;
  HWND wnd = drv::WaitForMainWindow(app.pi.dwProcessId);
  if (!wnd) return 1;
  Sleep(500);
  bool ok = Handshake(wnd, L"web");
  SendMessageW(wnd, WM_COMMAND, IDC_FOLDER_BUTTON, 0);
  ok &= Handshake(wnd, L"program");
  SendMessageW(wnd, WM_COMMAND, IDC_FOLDER_BUTTON, 0);
  SendMessageW(wnd, WM_COMMAND, ID_SKIN_FIRST, 0);
  Sleep(500);
  ok &= Handshake(wnd, L"skin4000");
  SendMessageW(wnd, WM_COMMAND, ID_SKIN_FIRST - 1, 0);
  Sleep(500);
  ok &= Handshake(wnd, L"skin3999");
  PostMessageW(wnd, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  ok &= app.Ended(15000);
  return ok ? 0 : 1;
}

// Drives Qimbo.exe from outside, in a fresh program folder, through window
// messages: the main window and its captions, hiding and the tray callback,
// a second copy with and without a browser window (and the keystrokes it
// sends), and the favorites file written on exit.
// Usage: app_driver FOLDER   (FOLDER holds Qimbo.exe and config\MyConfig.ini)
#include "base/messages.h"
#include "driver_kit.h"

namespace {

using drv::Check;
using drv::ItemText;

std::vector<std::pair<DWORD, bool>> g_keys;  // injected key events seen

LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    auto* k = reinterpret_cast<KBDLLHOOKSTRUCT*>(lParam);
    if (k->flags & LLKHF_INJECTED) g_keys.emplace_back(k->vkCode, wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Waits for a process to end while this thread keeps its messages (and the
// keyboard hook) running.
bool WaitPumping(drv::Proc& p, DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD left = ms - (GetTickCount() - start);
    if (static_cast<int>(left) <= 0) return false;
    DWORD r = MsgWaitForMultipleObjects(1, &p.pi.hProcess, FALSE, left, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return true;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

LRESULT CALLBACK BrowserProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!drv::HasArguments(argc, 2, "app_driver FOLDER")) return 2;
  std::wstring folder = argv[1];
  std::wstring exe = folder + L"\\Qimbo.exe";
  std::string favorites = qb::Gbk(folder) + "\\data\\1-我的收藏.sc";
  os::RemoveFile(favorites);
  drv::WriteConfig(qb::Gbk(folder) + "\\", "Ctrl+Shift+X");

  drv::Proc app;
  Check(app.Start(exe, folder), "Qimbo.exe starts");
  HWND wnd = nullptr;
  drv::WaitUntil([&] { return (wnd = drv::MainWindowOf(app.pi.dwProcessId)) != nullptr || app.Ended(0); }, drv::kStartMs,
                 100);
  Check(wnd != nullptr, "the main window shows with its favorites file box");
  if (!wnd) return drv::Finish();
  Check(drv::Text(wnd).empty(), "the main window's title is empty");
  Check(ItemText(wnd, IDC_SETTINGS_BUTTON) == "设置" && ItemText(wnd, IDC_SKIN_BUTTON) == "变脸" &&
            ItemText(wnd, IDC_LOGIN_BUTTON) == "登录" && ItemText(wnd, IDC_CHAT_BUTTON) == "圈友" &&
            ItemText(wnd, IDC_TOP_VISITED_BUTTON) == "Go",
        "function buttons 设置 变脸 登录 圈友 Go");
  Check(ItemText(wnd, IDC_FOLDER_BUTTON) == "程序夹", "folder button reads 程序夹");
  SendMessageW(wnd, WM_COMMAND, IDC_FOLDER_BUTTON, 0);
  Check(ItemText(wnd, IDC_FOLDER_BUTTON) == "网址夹", "after the switch it reads 网址夹");
  SendMessageW(wnd, WM_COMMAND, IDC_FOLDER_BUTTON, 0);
  Check(ItemText(wnd, IDC_FOLDER_BUTTON) == "程序夹", "and back to 程序夹");

  SendMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  Check(!IsWindowVisible(wnd) && !app.Ended(300), "closing hides the window and the program runs on");
  SendMessageW(wnd, qb::WM_TRAY_NOTIFY, IDR_TRAY_MENU, WM_LBUTTONDOWN);
  Check(IsWindowVisible(wnd), "a left click on the tray icon brings it back");

  // A second copy without a browser window: ends at once, sends nothing.
  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyHook, GetModuleHandleW(nullptr), 0);
  {
    drv::Proc second;
    second.Start(exe, folder);
    bool ended = WaitPumping(second, 10000);
    Check(ended, "a second copy ends by itself");
    Check(ended && second.ExitCode() == 0, "a second copy ends with code 0");
    Check(g_keys.empty(), "without a browser window it sends no keystroke");
    Check(drv::WindowOf(second.pi.dwProcessId, [](HWND w) { return IsWindowVisible(w) != FALSE; }) == nullptr, "and shows no window");
  }
  // With a browser frame window: Ctrl+Shift+X is replayed in the program's order.
  WNDCLASSW wc = {};
  wc.lpfnWndProc = BrowserProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"IEFrame";
  RegisterClassW(&wc);
  HWND browser = CreateWindowExW(0, L"IEFrame", L"browser", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  g_keys.clear();
  {
    drv::Proc second;
    second.Start(exe, folder);
    Check(WaitPumping(second, 10000), "a second copy with a browser window ends by itself");
    DWORD end = GetTickCount() + 500;
    while (GetTickCount() < end) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      Sleep(10);
    }
  }
  std::vector<std::pair<DWORD, bool>> want = {{VK_LSHIFT, true}, {VK_LCONTROL, true}, {'X', true},
                                              {'X', false},      {VK_LSHIFT, false},  {VK_LCONTROL, false}};
  // The hook reports left or generic modifier codes depending on the system.
  for (auto& k : g_keys) {
    if (k.first == VK_SHIFT) k.first = VK_LSHIFT;
    if (k.first == VK_CONTROL) k.first = VK_LCONTROL;
  }
  Check(g_keys == want, "it sends Shift down, Ctrl down, X down, X up, Shift up, Ctrl up");
  if (g_keys != want)
    for (auto& k : g_keys) printf("      key %lu %s\n", k.first, k.second ? "down" : "up");
  UnhookWindowsHookEx(hook);
  DestroyWindow(browser);

  // Exit through the X button: the favorites file is written, the process ends cleanly.
  PostMessageW(wnd, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  Check(app.Ended(15000), "the X button ends the program");
  Check(app.ExitCode() == 0, "with exit code 0");
  Check(os::FileExists(favorites), "exit wrote data\\1-我的收藏.sc");

  return drv::Finish();
}

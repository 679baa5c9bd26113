// Drives Qimbo.exe from outside, in a fresh program folder, through window
// messages: the main window and its captions, hiding and the tray callback,
// a second copy with and without a browser window (and the keystrokes it
// sends), and the favorites file written on exit.
// Usage: app_driver FOLDER   (FOLDER holds Qimbo.exe and config\MyConfig.ini)
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../../src/base/messages.h"
#include "proc_util.h"

namespace {

int g_failures = 0;
#define CHECK(cond, what)                                   \
  do {                                                      \
    if (cond) {                                             \
      printf("ok    %s\n", what);                           \
    } else {                                                \
      printf("FAIL  %s (line %d)\n", what, __LINE__);       \
      ++g_failures;                                         \
    }                                                       \
  } while (0)

const int kFileBox = 1096, kExit = 1007, kFolder = 1004;
const UINT kTrayNotify = qb::WM_TRAY_NOTIFY;

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

std::wstring Item(HWND dlg, int id) {
  wchar_t t[128] = {};
  GetDlgItemTextW(dlg, id, t, 128);
  return t;
}

void WriteConfig(const std::wstring& folder, const char* hotkey) {
  std::string text = std::string("[HOTKEY]\r\nFavoriteKey=") + hotkey +
                     "\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=Ctrl+Enter\r\n[END]";
  HANDLE f = CreateFileW((folder + L"\\config\\MyConfig.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  CloseHandle(f);
}

LRESULT CALLBACK BrowserProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: app_driver FOLDER\n");
    return 2;
  }
  std::wstring folder = argv[1];
  std::wstring exe = folder + L"\\Qimbo.exe";
  std::wstring favorites = folder + L"\\data\\1-\u6211\u7684\u6536\u85CF.sc";  // 1-我的收藏.sc
  DeleteFileW(favorites.c_str());
  WriteConfig(folder, "Ctrl+Shift+X");

  drv::Proc app;
  CHECK(app.Start(exe, folder), "Qimbo.exe starts");
  HWND wnd = nullptr;
  for (int i = 0; i < 300 && !wnd; ++i) {
    wnd = drv::FindMainWindow(app.pi.dwProcessId, kFileBox);
    if (!wnd && app.Ended(100)) break;
  }
  CHECK(wnd != nullptr, "the main window shows with its favorites file box");
  if (!wnd) return 1;
  wchar_t title[64] = {L'?'};
  GetWindowTextW(wnd, title, 64);
  CHECK(title[0] == 0, "the main window's title is empty");
  CHECK(Item(wnd, 1009) == L"\u8BBE\u7F6E" && Item(wnd, 1076) == L"\u53D8\u8138" && Item(wnd, 1075) == L"\u767B\u5F55" &&
            Item(wnd, 1099) == L"\u5708\u53CB" && Item(wnd, 1077) == L"Go",
        "function buttons 设置 变脸 登录 圈友 Go");
  CHECK(Item(wnd, kFolder) == L"\u7A0B\u5E8F\u5939", "folder button reads 程序夹");
  SendMessageW(wnd, WM_COMMAND, kFolder, 0);
  CHECK(Item(wnd, kFolder) == L"\u7F51\u5740\u5939", "after the switch it reads 网址夹");
  SendMessageW(wnd, WM_COMMAND, kFolder, 0);
  CHECK(Item(wnd, kFolder) == L"\u7A0B\u5E8F\u5939", "and back to 程序夹");

  SendMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  CHECK(!IsWindowVisible(wnd) && !app.Ended(300), "closing hides the window and the program runs on");
  SendMessageW(wnd, kTrayNotify, 132, WM_LBUTTONDOWN);
  CHECK(IsWindowVisible(wnd), "a left click on the tray icon brings it back");

  // A second copy without a browser window: ends at once, sends nothing.
  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyHook, GetModuleHandleW(nullptr), 0);
  {
    drv::Proc second;
    second.Start(exe, folder);
    bool ended = WaitPumping(second, 10000);
    CHECK(ended, "a second copy ends by itself");
    CHECK(ended && second.ExitCode() == 0, "a second copy ends with code 0");
    CHECK(g_keys.empty(), "without a browser window it sends no keystroke");
    CHECK(drv::FindMainWindow(second.pi.dwProcessId, 0) == nullptr, "and shows no window");
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
    CHECK(WaitPumping(second, 10000), "a second copy with a browser window ends by itself");
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
  CHECK(g_keys == want, "it sends Shift down, Ctrl down, X down, X up, Shift up, Ctrl up");
  if (g_keys != want)
    for (auto& k : g_keys) printf("      key %lu %s\n", k.first, k.second ? "down" : "up");
  UnhookWindowsHookEx(hook);
  DestroyWindow(browser);

  // Exit through the X button: the favorites file is written, the process ends cleanly.
  PostMessageW(wnd, WM_COMMAND, kExit, 0);
  CHECK(app.Ended(15000), "the X button ends the program");
  CHECK(app.ExitCode() == 0, "with exit code 0");
  CHECK(GetFileAttributesW(favorites.c_str()) != INVALID_FILE_ATTRIBUTES, "exit wrote data\\1-我的收藏.sc");

  printf("%s: %d failure(s)\n", g_failures ? "FAILED" : "passed", g_failures);
  return g_failures ? 1 : 0;
}

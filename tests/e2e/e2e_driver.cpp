// One step of the two-program test, run against the Qimbo.exe of the Wine
// prefix it is started in: it finds the program's windows, works them with
// synthesized mouse and keyboard input, checks what they show and ends.
//   e2e_driver main
//   e2e_driver login-open NUMBER PASSWORD-BOX REMEMBER(0|1) [SHOT.bmp]
//   e2e_driver login-submit NUMBER PASSWORD|- REMEMBER(0|1) ok|refused [SHOT.bmp]
//   e2e_driver login-cancel
//   e2e_driver tray ENTRY       the tray menu's ENTRY-th command (1 = the first), by keyboard
//   e2e_driver transfer up|down the prompt's final text, then its OK
//   e2e_driver tray-click-pending   the tray's left click while a chat line waits
// Prints "ok: ..." and "FAILED: ..." lines; the exit code is the number of failures.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/messages.h"
#include "win/text_win32.h"

#include "../../res/login_ids.h"
#include "../../res/resource.h"

namespace {

int g_failures = 0;
bool Check(bool ok, const std::string& what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", qb::ToUtf8(what).c_str());
  fflush(stdout);
  if (!ok) ++g_failures;
  return ok;
}

using qb::W;

std::string Text(HWND w) {
  wchar_t buf[512] = {};
  // Read from the window manager's copy: works while the program's thread is busy.
  InternalGetWindowText(w, buf, 511);
  return qb::Gbk(buf);
}
std::string ControlText(HWND w) {
  wchar_t buf[512] = {};
  SendMessageTimeoutW(w, WM_GETTEXT, 511, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 3000, nullptr);
  return qb::Gbk(buf);
}

bool WaitUntil(const std::function<bool()>& done, DWORD ms, DWORD step = 50) {
  for (DWORD start = GetTickCount();;) {
    if (done()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(step);
  }
}

std::wstring ClassOf(HWND w) {
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  return cls;
}

HWND TopWindow(const std::function<bool(HWND)>& test) {
  struct Find {
    const std::function<bool(HWND)>* test;
    HWND found;
  } f{&test, nullptr};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* f = reinterpret_cast<Find*>(p);
        if (!(*f->test)(w)) return TRUE;
        f->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&f));
  return f.found;
}

bool IsDialogWith(HWND w, int a, int b) {
  return ClassOf(w) == L"#32770" && GetDlgItem(w, a) && GetDlgItem(w, b);
}
HWND MainWindow() { return TopWindow([](HWND w) { return IsDialogWith(w, IDC_LOGIN_BUTTON, IDC_FILE_BOX); }); }
HWND LoginWindow() {
  return TopWindow([](HWND w) { return IsWindowVisible(w) && IsDialogWith(w, IDC_LOGIN_USER, IDC_LOGIN_OK); });
}
HWND PromptWindow() {
  return TopWindow([](HWND w) { return IsWindowVisible(w) && IsDialogWith(w, IDC_PROMPT_TEXT, IDC_PROMPT_OK); });
}
HWND MenuWindow() { return TopWindow([](HWND w) { return ClassOf(w) == L"#32768" && IsWindowVisible(w); }); }

// ---- input ---------------------------------------------------------------------------

bool PlaceCursor(int x, int y) {
  SetCursorPos(x, y);
  int steady = 0;
  for (int i = 0; i < 200 && steady < 3; ++i) {
    POINT at;
    if (GetCursorPos(&at) && at.x == x && at.y == y) {
      ++steady;
    } else {
      steady = 0;
      SetCursorPos(x, y);
    }
    Sleep(10);
  }
  return steady >= 3;
}

void ClickOn(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  PlaceCursor((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  INPUT in[2] = {};
  for (INPUT& i : in) i.type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
  Sleep(150);
}

void Key(WORD vk, bool down) {
  INPUT i = {};
  i.type = INPUT_KEYBOARD;
  i.ki.wVk = vk;
  i.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  i.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &i, sizeof(INPUT));
}
void Press(WORD vk) {
  Key(vk, true);
  Key(vk, false);
  Sleep(30);
}
// Digits and lower-case letters, as typed on the keyboard.
void Type(const std::string& text) {
  for (char c : text) Press(static_cast<WORD>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
}

// Clicks into an edit box, replaces what it holds by typing, and checks it.
bool TypeInto(HWND dlg, int id, const std::string& text) {
  HWND edit = GetDlgItem(dlg, id);
  ClickOn(edit);
  Press(VK_END);
  Key(VK_SHIFT, true);
  Press(VK_HOME);
  Key(VK_SHIFT, false);
  Press(VK_DELETE);
  Type(text);
  return WaitUntil([&] { return ControlText(edit) == text; }, 3000);
}

void Screenshot(const std::string& path) {
  HDC screen = GetDC(nullptr);
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFOHEADER bi = {sizeof bi, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  int stride = (w * 3 + 3) & ~3;
  std::vector<char> bits(static_cast<size_t>(stride) * h);
  GetDIBits(mem, bmp, 0, h, bits.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
  BITMAPFILEHEADER fh = {0x4D42, static_cast<DWORD>(sizeof fh + sizeof bi + bits.size()), 0, 0, sizeof fh + sizeof bi};
  HANDLE f = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(f, &fh, sizeof fh, &n, nullptr);
  WriteFile(f, &bi, sizeof bi, &n, nullptr);
  WriteFile(f, bits.data(), static_cast<DWORD>(bits.size()), &n, nullptr);
  CloseHandle(f);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

// ---- steps -----------------------------------------------------------------------------

HWND NeedMain() {
  HWND main = nullptr;
  WaitUntil([&] { return (main = MainWindow()) != nullptr && IsWindowVisible(main); }, 60000, 200);
  Check(main && IsWindowVisible(main), "the main window is up");
  return main;
}

int LoginOpen(HWND main, const std::string& number, const std::string& box, bool remember, const std::string& shot) {
  if (!Check(IsWindowEnabled(GetDlgItem(main, IDC_LOGIN_BUTTON)) != FALSE, "the login button is enabled")) return 1;
  ClickOn(GetDlgItem(main, IDC_LOGIN_BUTTON));
  HWND login = nullptr;
  if (!Check(WaitUntil([&] { return (login = LoginWindow()) != nullptr; }, 10000), "the login window opens")) return 1;
  Sleep(300);  // painted
  Check(Text(login) == "用户登录", "its title is 用户登录 (" + Text(login) + ")");
  Check(!IsWindowEnabled(main), "the main window waits for it");
  Check(ControlText(GetDlgItem(login, IDC_LOGIN_USER)) == number, "the number box shows '" + number + "'");
  Check(ControlText(GetDlgItem(login, IDC_LOGIN_PASSWORD)) == box, "the password box holds '" + box + "'");
  Check((IsDlgButtonChecked(login, IDC_LOGIN_REMEMBER) == BST_CHECKED) == remember, "记住密码 as remembered");
  std::string above;
  for (HWND w = GetWindow(login, GW_HWNDPREV); w; w = GetWindow(w, GW_HWNDPREV))
    if (IsWindowVisible(w)) above += " " + qb::Gbk(ClassOf(w));
  Check(above.empty(), "no window of the program lies over it" + above);
  if (!shot.empty()) Screenshot(shot);
  return 0;
}

int LoginSubmit(HWND main, const std::string& number, const std::string& password, bool remember,
                const std::string& expect, const std::string& shot) {
  HWND login = LoginWindow();
  if (!Check(login != nullptr, "the login window is open")) return 1;
  Check(TypeInto(login, IDC_LOGIN_USER, number), "typed the number " + number);
  if (password != "-") Check(TypeInto(login, IDC_LOGIN_PASSWORD, password), "typed the password");
  if ((IsDlgButtonChecked(login, IDC_LOGIN_REMEMBER) == BST_CHECKED) != remember) {
    ClickOn(GetDlgItem(login, IDC_LOGIN_REMEMBER));
    Check(WaitUntil([&] { return (IsDlgButtonChecked(login, IDC_LOGIN_REMEMBER) == BST_CHECKED) == remember; }, 3000),
          "clicked 记住密码");
  }
  ClickOn(GetDlgItem(login, IDC_LOGIN_OK));
  if (expect == "refused") {
    Check(WaitUntil([&] { return Text(login) == "用户名与密码不符!"; }, 15000, 20),
          "the title says 用户名与密码不符! (" + Text(login) + ")");
    Check(IsWindowVisible(login) != FALSE, "the login window stays for another try");
    Sleep(300);
    if (!shot.empty()) Screenshot(shot);
    return 0;
  }
  // The title stands for 680 ms before the window goes.
  bool seen = WaitUntil([&] { return !IsWindow(login) || Text(login) == "登录成功!"; }, 15000, 10) && IsWindow(login);
  Check(seen, "the title says 登录成功!");
  Check(WaitUntil([&] { return !IsWindow(login) || !IsWindowVisible(login); }, 5000), "the login window closes");
  HWND button = GetDlgItem(main, IDC_LOGIN_BUTTON);
  Check(WaitUntil([&] { return Text(button) == number; }, 3000), "the login button shows the number (" + Text(button) + ")");
  Check(!IsWindowEnabled(button), "the login button is disabled");
  Check(IsWindowEnabled(main) != FALSE, "the main window is enabled again");
  return 0;
}

int TrayCommand(HWND main, int entry) {
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  PostMessageW(main, qb::WM_TRAY_NOTIFY, IDR_TRAY_MENU, WM_RBUTTONDOWN);
  if (!Check(WaitUntil([] { return MenuWindow() != nullptr; }, 10000), "the tray menu opens")) return 1;
  Sleep(300);
  for (int i = 0; i < entry; ++i) Press(VK_DOWN);
  Press(VK_RETURN);
  Check(WaitUntil([] { return MenuWindow() == nullptr; }, 5000), "the tray menu closes on the choice");
  return 0;
}

int Transfer(bool upload) {
  HWND prompt = nullptr;
  if (!Check(WaitUntil([&] { return (prompt = PromptWindow()) != nullptr; }, 10000), "the progress prompt opens"))
    return 1;
  std::string done = upload ? "上传成功！" : "下载成功！";
  HWND text = GetDlgItem(prompt, IDC_PROMPT_TEXT);
  Check(WaitUntil([&] { return ControlText(text) == done; }, 20000), "the prompt says " + done + " (" + ControlText(text) + ")");
  Check(IsWindowEnabled(GetDlgItem(prompt, IDC_PROMPT_OK)) && !IsWindowEnabled(GetDlgItem(prompt, IDC_PROMPT_CANCEL)),
        "OK enabled, Cancel not");
  ClickOn(GetDlgItem(prompt, IDC_PROMPT_OK));
  Check(WaitUntil([&] { return !IsWindow(prompt); }, 5000), "OK closes the prompt");
  return 0;
}

// A waiting chat line makes the tray icon flash; the left click then takes
// the user to it instead of hiding the main window.
int TrayClickPending(HWND main) {
  PostMessageW(main, qb::WM_TRAY_NOTIFY, IDR_TRAY_MENU, WM_LBUTTONDOWN);
  Sleep(800);
  Check(IsWindowVisible(main) != FALSE, "the tray was flashing: its click did not hide the main window");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> a;
  for (int i = 1; i < argc; ++i) a.push_back(qb::Gbk(argv[i]));
  if (a.empty()) return 2;
  auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
  HWND main = NeedMain();
  if (!main) return 1;
  const std::string& step = a[0];
  if (step == "main") return g_failures;
  if (step == "login-open") LoginOpen(main, arg(1), arg(2), arg(3) == "1", arg(4));
  else if (step == "login-submit") LoginSubmit(main, arg(1), arg(2), arg(3) == "1", arg(4), arg(5));
  else if (step == "login-cancel") {
    HWND login = LoginWindow();
    if (Check(login != nullptr, "the login window is open")) {
      ClickOn(GetDlgItem(login, IDC_LOGIN_CANCEL));
      Check(WaitUntil([&] { return !IsWindow(login); }, 5000), "取消 closes it");
      Check(WaitUntil([&] { return IsWindowEnabled(main) != FALSE; }, 3000), "the main window is enabled again");
    }
  } else if (step == "tray") TrayCommand(main, atoi(arg(1).c_str()));
  else if (step == "transfer") Transfer(arg(1) == "up");
  else if (step == "tray-click-pending") TrayClickPending(main);
  else {
    fprintf(stderr, "unknown step %s\n", step.c_str());
    return 2;
  }
  return g_failures;
}

// The kit every window-test driver program is built from: checks with one
// time-out, reading windows' text, keys and clicks, settling, finding and
// waiting for the program's windows, screenshots, and a child process
// (proc_util.h). The control numbers are the resource headers' own.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "os/os.h"
#include "win/input_win32.h"
#include "win/text_win32.h"

#include "../../res/resource.h"
#include "proc_util.h"

namespace drv {

using qb::W;

// ---- checks ----------------------------------------------------------------------------

// The one time-out of the checks that wait for the program to get somewhere:
// a check that passes waits only as long as the program takes.
constexpr DWORD kPatienceMs = 30000;
// A program starting under Wine on a loaded machine, up to its main window.
constexpr DWORD kStartMs = 60000;

struct Tally {
  int passes = 0, failures = 0;
};
inline Tally& Results() {
  static Tally tally;
  return tally;
}

// Prints "ok: WHAT" or "FAILED: WHAT" (WHAT is GBK, printed as UTF-8) and counts it.
inline bool Check(bool ok, const std::string& what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", qb::ToUtf8(what).c_str());
  fflush(stdout);
  (ok ? Results().passes : Results().failures)++;
  return ok;
}
inline void Note(const std::string& what) {
  printf("note: %s\n", qb::ToUtf8(what).c_str());
  fflush(stdout);
}

// Polls `done` every `step` ms until it holds or `ms` have passed.
inline bool WaitUntil(const std::function<bool()>& done, DWORD ms, DWORD step = 50) {
  for (DWORD start = GetTickCount();;) {
    if (done()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(step);
  }
}

// A check of what the program does in answer: `done` polled until it holds
// or the shared time-out has passed.
inline bool CheckSoon(const std::function<bool()>& done, const std::string& what) {
  return Check(WaitUntil(done, kPatienceMs), what);
}

// The driver's last words: the tally, and its exit code (0: every check passed).
inline int Finish() {
  printf("%d passed, %d failed\n", Results().passes, Results().failures);
  return Results().failures == 0 ? 0 : 1;
}

// The driver's first words: false, with "usage: USAGE" on the error output,
// when fewer than `needed` arguments came (the program's name among them).
inline bool HasArguments(int argc, int needed, const char* usage) {
  if (argc >= needed) return true;
  fprintf(stderr, "usage: %s\n", usage);
  return false;
}

// ---- files -----------------------------------------------------------------------------

inline std::string ReadFile(const std::string& path) {
  std::string all;
  os::ReadWholeFile(path, all);
  return all;
}

// The program folder's configuration (`dir` ends in '\\'): the capture
// hotkey, chat tips on, Ctrl+Enter sending a chat line.
inline bool WriteConfig(const std::string& dir, const char* hotkey) {
  return os::WriteWholeFile(dir + "config\\MyConfig.ini", std::string("[HOTKEY]\r\nFavoriteKey=") + hotkey +
                                                               "\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=Ctrl+Enter\r\n[END]") != 0;
}

// ---- windows ---------------------------------------------------------------------------

inline DWORD PidOf(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

inline std::wstring ClassOf(HWND w) {
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  return cls;
}
inline bool IsDialog(HWND w) { return ClassOf(w) == L"#32770"; }

// The top-level windows of process `pid` (0: of every process) that pass `test`, in Z order.
inline std::vector<HWND> WindowsOf(DWORD pid, const std::function<bool(HWND)>& test) {
  struct Find {
    DWORD pid;
    const std::function<bool(HWND)>* test;
    std::vector<HWND> found;
  } f{pid, &test, {}};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* f = reinterpret_cast<Find*>(p);
        if ((f->pid == 0 || PidOf(w) == f->pid) && (*f->test)(w)) f->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&f));
  return f.found;
}
inline HWND WindowOf(DWORD pid, const std::function<bool(HWND)>& test) {
  std::vector<HWND> all = WindowsOf(pid, test);
  return all.empty() ? nullptr : all[0];
}
// The first such window once it is there (null after `ms`).
inline HWND WaitForWindow(DWORD pid, const std::function<bool(HWND)>& test, DWORD ms = kPatienceMs) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = WindowOf(pid, test)) != nullptr; }, ms);
  return found;
}

// The program's main window: the visible one with the favorites file box.
inline HWND MainWindowOf(DWORD pid) {
  return WindowOf(pid, [](HWND w) { return IsWindowVisible(w) && GetDlgItem(w, IDC_FILE_BOX); });
}
inline HWND WaitForMainWindow(DWORD pid, DWORD ms = kStartMs) {
  HWND main = nullptr;
  WaitUntil([&] { return (main = MainWindowOf(pid)) != nullptr; }, ms, 100);
  return main;
}

// The top-level windows of process `pid` owned by another window and holding a control `id`.
inline std::vector<HWND> OwnedWith(DWORD pid, int id) {
  return WindowsOf(pid, [id](HWND w) { return GetWindow(w, GW_OWNER) && GetDlgItem(w, id); });
}

// The visible control of a dialog with this identifier (controls may share
// theirs with hidden frames they are placed by).
inline HWND VisibleItem(HWND dlg, int id) {
  struct Find {
    int id;
    HWND found;
  } f{id, nullptr};
  EnumChildWindows(
      dlg,
      [](HWND w, LPARAM p) -> BOOL {
        auto* f = reinterpret_cast<Find*>(p);
        if (GetDlgCtrlID(w) != f->id || !IsWindowVisible(w)) return TRUE;
        f->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&f));
  return f.found;
}

// A visible popup menu of the process (0: of any).
inline HWND OpenMenu(DWORD pid) {
  return WindowOf(pid, [](HWND w) { return ClassOf(w) == L"#32768" && IsWindowVisible(w); });
}
// Closes the process's popup menus, one Escape at a time.
inline void CloseMenus(DWORD pid) {
  for (int i = 0; i < 20; ++i) {
    HWND menu = OpenMenu(pid);
    if (!menu) return;
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    Sleep(150);
  }
}

// Lets the program handle what was posted to it: a pause, then twice a sent
// message to each window, answered only once its thread reads its queue
// again (the second round for what the first one's handling posted).
inline void Settle(DWORD ms, std::initializer_list<HWND> windows) {
  Sleep(ms);
  for (int round = 0; round < 2; ++round) {
    for (HWND w : windows)
      if (w) SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    Sleep(50);
  }
}

// ---- text ------------------------------------------------------------------------------

// A window's text asked with WM_GETTEXT, which only a window that answers
// answers (GetWindowText reads another process's controls from their
// creation text); false when it does not answer within `ms`.
inline bool AskText(HWND w, std::string& text, UINT ms = 5000) {
  std::vector<wchar_t> buf(16384);
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, buf.size() - 1, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                           ms, &got))
    return false;
  text = qb::Gbk(buf.data(), got);
  return true;
}
inline std::string Text(HWND w) {
  std::string text;
  AskText(w, text);
  return text;
}
inline std::string ItemText(HWND dlg, int id) { return Text(GetDlgItem(dlg, id)); }
// The title the window manager keeps: readable while the window's thread is busy.
inline std::string Caption(HWND w) {
  wchar_t buf[512] = {};
  InternalGetWindowText(w, buf, 511);
  return qb::Gbk(buf);
}
// The texts of a message box (its static controls), run together.
inline std::string BoxText(HWND box) {
  std::string all;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (ClassOf(c) == L"Static") all += Text(c);
  return all;
}

// ---- input -----------------------------------------------------------------------------

using qb::SendKeys;
// One key pressed and released.
inline void Press(WORD vk) {
  SendKeys({{vk, true}, {vk, false}});
  Sleep(30);
}
// Chooses the entry of an open popup menu that `downs` presses of the down
// arrow reach, and presses Enter, all in one batch of input. Under Wine a
// mouse move that reaches the menu between two keys (a window of the program
// shown or hidden under the pointer is one) takes its highlight away, so the
// next arrow starts from the top again and an entry above the wanted one is
// chosen; a batch is queued whole, so nothing comes between its keys.
inline void ChooseMenuEntry(int downs) {
  std::vector<std::pair<WORD, bool>> keys;
  for (int i = 0; i < downs; ++i) {
    keys.push_back({VK_DOWN, true});
    keys.push_back({VK_DOWN, false});
  }
  keys.push_back({VK_RETURN, true});
  keys.push_back({VK_RETURN, false});
  SendKeys(keys);
  Sleep(30);
}
// Any text, as characters typed (Chinese included).
inline void TypeUnicode(const std::wstring& text) {
  for (wchar_t c : text) {
    INPUT in[2] = {};
    for (INPUT& i : in) {
      i.type = INPUT_KEYBOARD;
      i.ki.wScan = c;
      i.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    in[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof(INPUT));
    Sleep(20);
  }
}

// Puts the pointer at (x, y) and waits until the position reads back three
// times in a row: under load Wine may still deliver motion from an earlier
// place, and a click sent before the pointer is there lands at that place.
// `between` runs before each look (a test with windows of its own pumps them).
inline bool PlaceCursor(int x, int y, const std::function<void()>& between = nullptr, DWORD step = 10) {
  SetCursorPos(x, y);
  int steady = 0;
  for (int i = 0; i < 200 && steady < 3; ++i) {
    if (between) between();
    POINT at;
    if (GetCursorPos(&at) && at.x == x && at.y == y) {
      ++steady;
    } else {
      steady = 0;
      SetCursorPos(x, y);
    }
    Sleep(step);
  }
  return steady >= 3;
}

// A real click (the pointer moved there first) at a screen point, or on a window's middle.
inline void ClickAt(int x, int y, bool right = false) {
  if (!PlaceCursor(x, y)) Note("the pointer did not stay at " + std::to_string(x) + "," + std::to_string(y));
  INPUT in[2] = {};
  for (INPUT& i : in) i.type = INPUT_MOUSE;
  in[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
}
inline void ClickOn(HWND w, bool right = false) {
  RECT r;
  GetWindowRect(w, &r);
  ClickAt((r.left + r.right) / 2, (r.top + r.bottom) / 2, right);
}
// The visible windows `owner` owns that lie under it (its panels belong
// over it), by class, space-separated; empty when none does.
inline std::string OwnedUnder(HWND owner) {
  std::string under;
  for (HWND w = GetWindow(owner, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
    if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == owner) under += " " + qb::Gbk(ClassOf(w));
  return under;
}
// A click posted to a button of the program, as its window receives one.
inline void PostClick(HWND button) {
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

// Fills a file dialog's name box and presses its OK button; false when it
// has none.
inline bool AnswerFileDialog(HWND dlg, const std::string& path) {
  // The name box: the edit inside the explorer-style combo (cmb13), or the
  // old-style edit (edt1).
  HWND edit = nullptr;
  EnumChildWindows(
      dlg,
      [](HWND c, LPARAM p) -> BOOL {
        HWND parent = GetParent(c);
        bool inNameBox = GetDlgCtrlID(c) == 0x480 || (parent && (GetDlgCtrlID(parent) == 0x47c ||
                                                                (GetParent(parent) && GetDlgCtrlID(GetParent(parent)) == 0x47c)));
        if (ClassOf(c) == L"Edit" && inNameBox) {
          *reinterpret_cast<HWND*>(p) = c;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&edit));
  if (!edit) return false;
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(W(path).c_str()));
  PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
  return true;
}

// ---- screenshots -----------------------------------------------------------------------

// A rectangle of the screen as a 24-bit BMP file (the wrappers make PNGs of them).
inline bool Screenshot(const std::string& path, RECT r) {
  int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFOHEADER bi = {sizeof bi, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  int stride = (w * 3 + 3) & ~3;
  std::string bits(static_cast<size_t>(stride) * h, '\0');
  GetDIBits(mem, bmp, 0, h, &bits[0], reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
  BITMAPFILEHEADER fh = {0x4D42, static_cast<DWORD>(sizeof fh + sizeof bi + bits.size()), 0, 0, sizeof fh + sizeof bi};
  std::string file(reinterpret_cast<const char*>(&fh), sizeof fh);
  file.append(reinterpret_cast<const char*>(&bi), sizeof bi);
  file += bits;
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return os::WriteWholeFile(path, file) != 0;
}
// The whole screen.
inline bool Screenshot(const std::string& path) {
  return Screenshot(path, RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
}

}  // namespace drv

// A stand-in for a web browser, for the capture tests. Built three times,
// under the names the real browsers' programs have:
//   iexplore.exe ie ADDRESS TITLE LOG   an "IEFrame" window whose address box is
//       the Edit in WorkerW > ReBarWindow32 > ComboBoxEx32 > ComboBox, as
//       Internet Explorer lays it out;
//   chrome.exe chrome ADDRESS TITLE LOG, firefox.exe firefox ...   a
//       "Chrome_WidgetWin_1" / "MozillaWindowClass" window that draws its own
//       address bar: Ctrl+L focuses it, Ctrl+C then puts the address on the
//       clipboard, Escape leaves it. Each of those keys is written to LOG,
//       any other key to LOG.other.
// The title is shown with the browser's own suffix. The window covers the
// left part of the screen and comes to the front.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

std::wstring g_address, g_log;
bool g_barFocused = false;
// Ctrl as the key messages brought it, in their order. Wine's GetKeyState
// may still report the state before the last messages when a burst of keys
// comes (a C whose Ctrl had just gone down read as a plain C, lost).
bool g_ctrlDown = false;

void Log(const char* what, const wchar_t* ext = L"") {
  FILE* f = _wfopen((g_log + ext).c_str(), L"ab");
  if (!f) return;
  fprintf(f, "%s\n", what);
  fclose(f);
}

void CopyAddress(HWND wnd) {
  if (!OpenClipboard(wnd)) return;
  EmptyClipboard();
  size_t bytes = (g_address.size() + 1) * sizeof(wchar_t);
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes);
  memcpy(GlobalLock(g), g_address.c_str(), bytes);
  GlobalUnlock(g);
  if (!SetClipboardData(CF_UNICODETEXT, g)) GlobalFree(g);
  CloseClipboard();
}

LRESULT CALLBACK DrawnBarProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SYSKEYDOWN || (msg == WM_KEYDOWN && wParam != 'L' && wParam != 'C' && wParam != VK_ESCAPE &&
                                wParam != VK_CONTROL && wParam != VK_MENU && wParam != VK_SHIFT)) {
    // Any other key, kept apart for a test that looks for a lost hotkey.
    char line[64];
    snprintf(line, sizeof line, "%s 0x%02X ctrl=%d alt=%d", msg == WM_SYSKEYDOWN ? "syskey" : "key",
             static_cast<unsigned>(wParam), GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0);
    Log(line, L".other");
    return DefWindowProcW(wnd, msg, wParam, lParam);
  }
  if ((msg == WM_KEYDOWN || msg == WM_KEYUP) && wParam == VK_CONTROL) g_ctrlDown = msg == WM_KEYDOWN;
  if (msg == WM_KEYDOWN) {
    bool ctrl = g_ctrlDown || GetKeyState(VK_CONTROL) < 0;
    if (ctrl && wParam == 'L') {
      g_barFocused = true;
      Log("Ctrl+L");
    } else if (ctrl && wParam == 'C') {
      Log(g_barFocused ? "Ctrl+C" : "Ctrl+C outside the address bar");
      if (g_barFocused) CopyAddress(wnd);
    } else if (wParam == VK_ESCAPE) {
      g_barFocused = false;
      Log("Escape");
    } else if (wParam == 'L' || wParam == 'C') {
      Log(wParam == 'L' ? "L without Ctrl" : "C without Ctrl");
    }
    return 0;
  }
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd, &ps);
    RECT rc;
    GetClientRect(wnd, &rc);
    FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
    RECT bar = {8, 8, rc.right - 8, 34};
    FrameRect(dc, &bar, GetSysColorBrush(COLOR_WINDOWTEXT));
    TextOutW(dc, 14, 13, g_address.c_str(), static_cast<int>(g_address.size()));
    EndPaint(wnd, &ps);
    return 0;
  }
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

LRESULT CALLBACK FrameProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

HWND MakeIeFrame(const std::wstring& title, int w, int h) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = FrameProc;
  wc.hInstance = inst;
  wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  wc.lpszClassName = L"IEFrame";
  RegisterClassW(&wc);
  wc.lpszClassName = L"WorkerW";
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  RegisterClassW(&wc);
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_COOL_CLASSES | ICC_USEREX_CLASSES};
  InitCommonControlsEx(&icc);
  HWND frame = CreateWindowExW(0, L"IEFrame", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, w, h, nullptr,
                               nullptr, inst, nullptr);
  HWND worker = CreateWindowExW(0, L"WorkerW", L"", WS_CHILD | WS_VISIBLE, 0, 0, w, 40, frame, nullptr, inst, nullptr);
  HWND rebar = CreateWindowExW(0, REBARCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_NODIVIDER, 0, 0, w, 36, worker,
                               nullptr, inst, nullptr);
  HWND combo = CreateWindowExW(0, WC_COMBOBOXEXW, L"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWN, 4, 4, w - 40, 200,
                               rebar, nullptr, inst, nullptr);
  // The address goes into the edit box, as the browser puts it there.
  HWND box = FindWindowExW(combo, nullptr, L"ComboBox", nullptr);
  HWND edit = box ? FindWindowExW(box, nullptr, L"Edit", nullptr) : nullptr;
  if (!edit) {
    fprintf(stderr, "fake browser: no edit inside the ComboBoxEx32\n");
    return nullptr;
  }
  SetWindowTextW(edit, g_address.c_str());
  return frame;
}

HWND MakeDrawnBarBrowser(const wchar_t* cls, const std::wstring& title, int w, int h) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DrawnBarProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = cls;
  RegisterClassW(&wc);
  return CreateWindowExW(0, cls, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, w, h, nullptr, nullptr, inst,
                         nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: fake_browser ie|chrome|firefox ADDRESS TITLE LOG\n");
    return 2;
  }
  std::wstring kind = argv[1];
  g_address = argv[2];
  g_log = argv[4];
  int w = GetSystemMetrics(SM_CXSCREEN) * 3 / 4, h = GetSystemMetrics(SM_CYSCREEN) * 3 / 4;
  HWND wnd = nullptr;
  if (kind == L"ie")
    wnd = MakeIeFrame(std::wstring(argv[3]) + L" - Microsoft Internet Explorer", w, h);
  else if (kind == L"chrome")
    wnd = MakeDrawnBarBrowser(L"Chrome_WidgetWin_1", std::wstring(argv[3]) + L" - Google Chrome", w, h);
  else if (kind == L"firefox")
    wnd = MakeDrawnBarBrowser(L"MozillaWindowClass", std::wstring(argv[3]) + L" \u2014 Mozilla Firefox", w, h);
  if (!wnd) return 1;
  SetForegroundWindow(wnd);
  SetFocus(wnd);
  Log("ready");
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

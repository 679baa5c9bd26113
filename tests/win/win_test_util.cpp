#include "win_test_util.h"

#include <cstdlib>

#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "driver_kit.h"
#include "os/os.h"
#include "testutil.h"

namespace wintest {

namespace {
LRESULT CALLBACK HostProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(wnd, msg, wParam, lParam);
}
}  // namespace

HostWindow::HostWindow(int w, int h) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"QimboTestHost";
  RegisterClassW(&wc);
  m_hwnd = CreateWindowExW(0, L"QimboTestHost", L"host", WS_POPUP | WS_VISIBLE, 0, 0, w, h, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  SetForegroundWindow(m_hwnd);
  Pump();
}

HostWindow::~HostWindow() { DestroyWindow(m_hwnd); }

HWND HostWindow::AddButton(const wchar_t* caption, UINT id, int x, int y, int w, int h, DWORD style) {
  HWND b = CreateWindowExW(0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, x, y, w, h, m_hwnd,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return b;
}

int Canvas::Count(COLORREF c, const RECT& r) const {
  int n = 0;
  for (int y = r.top; y < r.bottom && y < h; ++y)
    for (int x = r.left; x < r.right && x < w; ++x)
      if (At(x, y) == c) ++n;
  return n;
}

int Canvas::CountNear(COLORREF c, const RECT& r, int tolerance) const {
  int n = 0;
  for (int y = r.top; y < r.bottom && y < h; ++y)
    for (int x = r.left; x < r.right && x < w; ++x) {
      COLORREF p = At(x, y);
      if (abs(GetRValue(p) - GetRValue(c)) <= tolerance && abs(GetGValue(p) - GetGValue(c)) <= tolerance &&
          abs(GetBValue(p) - GetBValue(c)) <= tolerance)
        ++n;
    }
  return n;
}

Canvas ReadCanvas(HDC dc, int w, int h) {
  Canvas c;
  c.w = w;
  c.h = h;
  c.px.resize(static_cast<size_t>(c.w) * c.h);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) c.px[static_cast<size_t>(y) * c.w + x] = GetPixel(dc, x, y);
  return c;
}

void MakeSurface(qb::OffscreenBitmap& surface, int w, int h) {
  qb::WindowDc screen(nullptr);
  surface.Make(screen.Get(), w, h);
}

Canvas Draw(qb::CSkinButton& button, UINT itemState) {
  HWND wnd = button.GetSafeHwnd();
  RECT rc;
  GetClientRect(wnd, &rc);
  qb::OffscreenBitmap surface;
  MakeSurface(surface, rc.right, rc.bottom);
  HDC mem = surface.dc.Get();
  DRAWITEMSTRUCT dis = {};
  dis.CtlType = ODT_BUTTON;
  dis.CtlID = static_cast<UINT>(GetDlgCtrlID(wnd));
  dis.itemAction = ODA_DRAWENTIRE;
  dis.itemState = itemState | (IsWindowEnabled(wnd) ? 0 : ODS_DISABLED);
  dis.hwndItem = wnd;
  dis.hDC = mem;
  dis.rcItem = rc;
  SendMessageW(wnd, qb::OCM_SKIN_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
  return ReadCanvas(mem, rc.right, rc.bottom);
}

void MouseOver(HWND wnd) {
  RECT r;
  GetWindowRect(wnd, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2));
}

void MouseAway(HWND wnd, WPARAM keys) {
  RECT r;
  GetWindowRect(wnd, &r);
  SetCursorPos(r.right + 150, r.bottom + 150);
  SendMessageW(wnd, WM_MOUSEMOVE, keys, MAKELPARAM(r.right - r.left + 150, r.bottom - r.top + 150));
}

bool PlaceCursor(int x, int y) { return drv::PlaceCursor(x, y, Pump, 5); }

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD ms, const std::function<void()>& pump) {
  for (DWORD start = GetTickCount();;) {
    if (pump) pump();
    else Pump();
    if (done()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(20);
  }
}

FILETIME WriteTimeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(qb::W(path).c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

bool SetWriteTime(const std::string& path, FILETIME when) {
  HANDLE h = CreateFileW(qb::W(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool set = SetFileTime(h, nullptr, nullptr, &when) != FALSE;
  CloseHandle(h);
  return set;
}

std::string RedBlueJpeg() {
  static const unsigned char bytes[] = {
      255, 216, 255, 224, 0, 16, 74, 70, 73, 70, 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 255, 219, 0, 67, 0, 1, 1, 1, 1, 1, 1,
      1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
      1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 255, 219, 0, 67, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
      1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
      1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 255, 192, 0, 17, 8, 0, 8, 0, 32, 3, 1, 17, 0, 2, 17, 1, 3,
      17, 1, 255, 196, 0, 21, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 255, 196, 0, 20, 16, 1, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 196, 0, 23, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      11, 9, 10, 255, 196, 0, 20, 17, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 218, 0, 12, 3, 1, 0, 2,
      17, 3, 17, 0, 63, 0, 139, 236, 167, 119, 240, 2, 67, 170, 160, 154, 248, 15, 255, 217};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string MakeProgramFolder(const std::string& dir, bool favorites) {
  for (const char* f : {"data", "config", "skin", "head", "profiles"}) os::CreateFolder(dir + f);
  std::string home = dir + "profiles\\" + os::UserName();
  for (const std::string& h : {home, dir + "profiles\\All Users"}) {
    os::CreateFolder(h);
    os::CreateFolder(h + "\\桌面");
    os::CreateFolder(h + "\\「开始」菜单");
    os::CreateFolder(h + "\\「开始」菜单\\程序");
  }
  if (favorites) os::CreateFolder(home + "\\Favorites");
  // Links on ports of their own: a program of another test started beside
  // this one holds the usual ports, and the box that would say so waits for
  // a click nobody gives. The tests of one driver run one after the other.
  qbtest::WriteFileBytes(dir + "config\\NetServer.ini", "[Server]\r\nPorts=27230\r\n");
  return home;
}

qb::CMainDlg* StartProgram(std::unique_ptr<qb::CFavoritesApp>& app, const std::string& folder,
                           const std::string& home) {
  os::SetProgramDirectory(folder);
  app.reset(new qb::CFavoritesApp);
  app->SetHomePath(home);
  if (!app->InitInstance()) return nullptr;
  return app->MainWindow();
}

void StopProgram(std::unique_ptr<qb::CFavoritesApp>& app) {
  if (app) app->ExitInstance();
  app.reset();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

namespace {
InsideModalLoop* g_inside = nullptr;

std::vector<HWND> ThreadWindows() {
  std::vector<HWND> all;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&all));
  return all;
}
}  // namespace

InsideModalLoop::InsideModalLoop(std::function<void()> action)
    : m_action(std::move(action)), m_before(ThreadWindows()) {
  g_inside = this;
  m_timer = SetTimer(nullptr, 0, 50, Tick);
}

InsideModalLoop::~InsideModalLoop() {
  KillTimer(nullptr, m_timer);
  g_inside = nullptr;
}

void CALLBACK InsideModalLoop::Tick(HWND, UINT, UINT_PTR, DWORD) {
  InsideModalLoop* self = g_inside;
  if (!self) return;
  if (!self->m_ran) {
    self->m_ran = true;
    self->m_action();
    return;
  }
  EndMenu();
  for (HWND w : ThreadWindows()) {
    bool old = false;
    for (HWND b : self->m_before) old = old || b == w;
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (!old && std::wstring(cls) == L"#32770") PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
  }
}

std::wstring Text(HWND wnd) {
  wchar_t buf[512] = {};
  GetWindowTextW(wnd, buf, 512);
  return buf;
}

std::wstring ItemText(HWND dlg, int id) { return Text(GetDlgItem(dlg, id)); }


}  // namespace wintest

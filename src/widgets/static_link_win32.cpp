// The hyperlink static.
#include "widgets/static_link_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include "win/messages_win32.h"
#include "win/subclass_win32.h"
#include "win/text_win32.h"

namespace qb {

namespace {
const UINT_PTR kLinkSubclass = 0x514C4E4B;
const UINT_PTR kLinkParentSubclass = 0x514C4E50;
const wchar_t kLinkProp[] = L"QimboStaticLink";
const wchar_t kLinkParentProp[] = L"QimboStaticLinkParent";
HCURSOR g_hand = nullptr;
bool g_handLoaded = false;

INT_PTR ShellOpen(const std::string& target) {
  return reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", W(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}
CStaticLink::OpenFn g_open = ShellOpen;

// The hand of the system's help viewer, copied once and kept for the process.
HCURSOR HandCursor() {
  if (!g_handLoaded) {
    g_handLoaded = true;
    wchar_t dir[MAX_PATH] = {};
    GetWindowsDirectoryW(dir, MAX_PATH);
    std::wstring path = std::wstring(dir) + L"\\winhlp32.exe";
    ScopedLibrary mod(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (mod) {
      HCURSOR c = LoadCursorW(mod.Get(), MAKEINTRESOURCEW(106));
      if (c) g_hand = CopyCursor(c);
    }
  }
  return g_hand;
}
}  // namespace

void CStaticLink::SetOpener(OpenFn fn) { g_open = fn ? fn : ShellOpen; }

CStaticLink::CStaticLink(const std::string& link, bool deleteOnDestroy)
    : m_link(link), m_deleteOnDestroy(deleteOnDestroy) {}

CStaticLink::~CStaticLink() {
  if (m_hWnd) {
    qb::Unsubclass(m_hWnd, Proc, kLinkSubclass);
    RemovePropW(m_hWnd, kLinkProp);
  }
}

bool CStaticLink::SubclassDlgItem(UINT id, HWND parent) {
  HWND wnd = GetDlgItem(parent, static_cast<int>(id));
  if (!wnd || m_hWnd) return false;
  m_hWnd = wnd;
  SetWindowLongPtrW(wnd, GWL_STYLE, GetWindowLongPtrW(wnd, GWL_STYLE) | SS_NOTIFY);
  SetPropW(wnd, kLinkProp, this);
  qb::Subclass(wnd, Proc, kLinkSubclass, reinterpret_cast<DWORD_PTR>(this));
  if (!GetPropW(parent, kLinkParentProp)) {
    SetPropW(parent, kLinkParentProp, reinterpret_cast<HANDLE>(1));
    qb::Subclass(parent, ParentProc, kLinkParentSubclass, 0);
  }
  return true;
}

LRESULT CALLBACK CStaticLink::ParentProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (msg == WM_CTLCOLORSTATIC && GetPropW(reinterpret_cast<HWND>(lParam), kLinkProp))
    return SendMessageW(reinterpret_cast<HWND>(lParam), OCM_LINK_CTLCOLOR, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    qb::Unsubclass(wnd, ParentProc, kLinkParentSubclass);
    RemovePropW(wnd, kLinkParentProp);
  }
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

void CStaticLink::Redraw() { InvalidateRect(m_hWnd, nullptr, TRUE); }

LRESULT CStaticLink::CtlColor(HDC dc) {
  LONG_PTR type = GetWindowLongPtrW(m_hWnd, GWL_STYLE) & SS_TYPEMASK;
  if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_LEFTNOWORDWRAP) return 0;
  if (!m_font) {
    LOGFONTW lf = {};
    HFONT current = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    GetObjectW(current ? static_cast<HGDIOBJ>(current) : GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    lf.lfUnderline = TRUE;
    m_font.Reset(CreateFontIndirectW(&lf));
  }
  // Into the DC the control paints with: it stays there for that painting.
  SelectObject(dc, m_font.Get());
  SetTextColor(dc, m_colour);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(GetStockObject(HOLLOW_BRUSH));
}

std::string CStaticLink::ResolveLink() const {
  if (!m_link.empty()) return m_link;
  wchar_t buf[1024] = {};
  int id = GetDlgCtrlID(m_hWnd);
  if (LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), buf, 1024) > 0) return Gbk(buf);
  return WindowTextGbk(m_hWnd);
}

LRESULT CALLBACK CStaticLink::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<CStaticLink*>(ref);
  switch (msg) {
    case OCM_LINK_CTLCOLOR: {
      LRESULT r = self->CtlColor(reinterpret_cast<HDC>(wParam));
      if (r) return r;
      break;
    }
    case WM_SETCURSOR: {
      HCURSOR hand = HandCursor();
      SetCursor(hand ? hand : LoadCursorW(nullptr, IDC_ARROW));
      return TRUE;
    }
    case WM_NCHITTEST:
      if (!self->m_hover) {
        self->m_hover = true;
        self->m_colour = kHover;
        self->Redraw();
        SetTimer(wnd, kLinkHoverTimer, 100, nullptr);
      }
      return HTCLIENT;
    case WM_TIMER:
      if (wParam == kLinkHoverTimer) {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(wnd, &pt);
        RECT rc;
        GetClientRect(wnd, &rc);
        if (!PtInRect(&rc, pt)) {
          self->m_hover = false;
          KillTimer(wnd, kLinkHoverTimer);
          self->m_colour = kUnvisited;
          self->Redraw();
        }
        return 0;
      }
      break;
    case WM_LBUTTONDOWN: {
      std::string target = self->ResolveLink();
      if (target.empty()) return 0;
      if (g_open(target) <= 32) {
        MessageBeep(0);
      } else {
        self->m_colour = kVisited;
        self->Redraw();
      }
      return 0;
    }
    case WM_NCDESTROY: {
      LRESULT r = qb::DefSubclass(wnd, msg, wParam, lParam);
      qb::Unsubclass(wnd, Proc, kLinkSubclass);
      RemovePropW(wnd, kLinkProp);
      self->m_hWnd = nullptr;
      if (self->m_deleteOnDestroy) delete self;
      return r;
    }
  }
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

}  // namespace qb

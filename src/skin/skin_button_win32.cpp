// The skin button as a control: attaching to a button window, its messages,
// and its tool in the tooltip control the buttons of a window share.
#include "skin/skin_button_win32.h"

#include <commctrl.h>

#include "skin/bcmenu_win32.h"
#include "win/common_controls_win32.h"
#include "win/subclass_win32.h"

namespace qb {

namespace {
const UINT_PTR kButtonSubclassId = 0x5153424E;  // 'QSBN'
}  // namespace

CSkinButton::CSkinButton() {
  for (int i = 0; i < 6; ++i) m_colours[i] = GetSysColor(i % 2 == 0 ? COLOR_BTNFACE : COLOR_BTNTEXT);
}

// The images, the background copy and the menu go with their owners.
CSkinButton::~CSkinButton() { Detach(); }

CSkinButton* CSkinButton::FromHandle(HWND button) {
  return reinterpret_cast<CSkinButton*>(SubclassData(button, SubclassProc, kButtonSubclassId));
}

bool CSkinButton::SubclassDlgItem(UINT id, HWND parent) {
  HWND button = GetDlgItem(parent, static_cast<int>(id));
  return button && Attach(button);
}

bool CSkinButton::Create(const std::wstring& caption, DWORD style, const RECT& r, HWND parent, UINT id,
                         bool parentFont) {
  // Created owner-drawn at once (a later style change costs a repaint per button).
  UINT type = style & BS_TYPEMASK;
  style = (style & ~static_cast<DWORD>(BS_TYPEMASK)) | BS_OWNERDRAW;
  HWND button = CreateWindowExW(0, L"BUTTON", caption.c_str(), style | WS_CHILD, r.left, r.top,
                                r.right - r.left, r.bottom - r.top, parent,
                                reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (!button) return false;
  if (parent && parentFont) SendMessageW(button, WM_SETFONT, SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
  return AttachAs(button, type);
}

bool CSkinButton::Attach(HWND button) {
  if (!button) return false;
  return AttachAs(button, static_cast<UINT>(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK));
}

bool CSkinButton::AttachAs(HWND button, UINT type) {
  if (m_hWnd || !button) return false;
  m_hWnd = button;
  Subclass(button, SubclassProc, kButtonSubclassId, reinterpret_cast<DWORD_PTR>(this));
  InstallReflection(GetParent(button));
  m_creationType = type;
  if (m_creationType == BS_CHECKBOX || m_creationType == BS_AUTOCHECKBOX) m_checkBox = true;
  if (m_creationType == BS_DEFPUSHBUTTON) m_default = true;
  LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
  if ((style & BS_TYPEMASK) != BS_OWNERDRAW) {
    SetWindowLongPtrW(button, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    Redraw();
  }
  return true;
}

void CSkinButton::Detach() {
  if (!m_hWnd) return;
  Unsubclass(m_hWnd, SubclassProc, kButtonSubclassId);
  if (m_tooltip && IsWindow(m_tooltip)) {
    TOOLINFOW ti = {};
    ti.cbSize = sizeof ti;
    ti.hwnd = GetParent(m_hWnd);
    ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    SendMessageW(m_tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  m_tooltip = nullptr;
  m_hWnd = nullptr;
}

LRESULT CALLBACK CSkinButton::SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  CSkinButton* self = reinterpret_cast<CSkinButton*>(ref);
  if (msg == WM_NCDESTROY) {
    LRESULT r = DefSubclass(wnd, msg, wParam, lParam);
    self->Detach();
    return r;
  }
  return self->WindowProc(msg, wParam, lParam);
}

LRESULT CSkinButton::Default(UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefSubclass(m_hWnd, msg, wParam, lParam);
}

LRESULT CSkinButton::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case OCM_SKIN_DRAWITEM:
      DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case OCM_SKIN_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    case OCM_SKIN_COMMAND:
      OnClicked();
      return 0;
    case WM_MOUSEMOVE:
      return OnMouseMove(wParam, lParam);
    case WM_MOUSELEAVE:
      MouseGone();
      return 0;
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
    case WM_ACTIVATE: {
      LRESULT r = Default(msg, wParam, lParam);
      if (msg != WM_ACTIVATE || LOWORD(wParam) == WA_INACTIVE) MouseGone();
      return r;
    }
    case WM_ENABLE:
      return OnEnable(wParam, lParam);
    case WM_SETCURSOR:
      if (!m_cursor) break;
      SetCursor(m_cursor);
      return TRUE;
    case WM_SYSCOLORCHANGE: {
      LRESULT r = Default(msg, wParam, lParam);
      FreeBackground();
      return r;
    }
    case WM_MEASUREITEM:
    case WM_DRAWITEM:
    case WM_MENUCHAR: {
      // The items of a menu the button owns (ShowAttachedMenu routes them
      // too; this covers a menu shown some other way).
      LRESULT r = 0;
      if (BCMenu::OwnerMessage(m_hWnd, msg, wParam, lParam, &r)) return r;
      break;
    }
    case BM_SETSTYLE:
    case BM_SETCHECK:
    case BM_GETCHECK:
    case WM_GETDLGCODE:
      return OnButtonMessage(msg, wParam, lParam);
  }
  return Default(msg, wParam, lParam);
}

// A flat button lights up while the mouse is over it, and only then.
LRESULT CSkinButton::OnMouseMove(WPARAM wParam, LPARAM lParam) {
  LRESULT r = Default(WM_MOUSEMOVE, wParam, lParam);
  if (!m_flat) return r;
  POINT pt;
  GetCursorPos(&pt);
  HWND under = WindowFromPoint(pt);
  if ((wParam & MK_LBUTTON) && !m_mouseOver) return r;  // a press that started elsewhere
  if (under == m_hWnd) {
    if (!m_mouseOver) {
      m_mouseOver = true;
      Redraw();
      TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, m_hWnd, 0};
      TrackMouseEvent(&track);
    }
  } else if (m_mouseOver) {
    m_mouseOver = false;
    Redraw();
  }
  return r;
}

void CSkinButton::MouseGone() {
  if (!m_flat || !m_mouseOver) return;
  m_mouseOver = false;
  Redraw();
}

// A disabled button gives its focus on and drops its hover look.
LRESULT CSkinButton::OnEnable(WPARAM wParam, LPARAM lParam) {
  LRESULT r = Default(WM_ENABLE, wParam, lParam);
  if (wParam) return r;
  HWND parent = GetParent(m_hWnd);
  if (GetFocus() == m_hWnd) {
    HWND next = parent ? GetNextDlgTabItem(parent, m_hWnd, FALSE) : nullptr;
    SetFocus(next && next != m_hWnd ? next : parent);
  }
  m_mouseOver = false;
  Redraw();
  return r;
}

// The push-button and check-box messages, answered for an owner-drawn button
// as the button it stands for would answer them.
LRESULT CSkinButton::OnButtonMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case BM_SETSTYLE: {
      UINT type = static_cast<UINT>(wParam) & BS_TYPEMASK;
      if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) m_default = type == BS_DEFPUSHBUTTON;
      return Default(msg, (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW, lParam);
    }
    case BM_SETCHECK:
      if (!m_checkBox) return 0;
      m_checked = wParam == BST_CHECKED || wParam == BST_INDETERMINATE;
      Redraw();
      return 0;
    case BM_GETCHECK:
      if (!m_checkBox) return 0;
      return m_checked ? BST_CHECKED : BST_UNCHECKED;
    default: {  // WM_GETDLGCODE
      LRESULT code = Default(msg, wParam, lParam);
      code &= ~static_cast<LRESULT>(DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
      return code | (m_default ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    }
  }
}

void CSkinButton::OnClicked() {
  SetFocus(m_hWnd);
  if (m_checkBox) {
    m_checked = !m_checked;
    Redraw();
  }
}

void CSkinButton::SetFont(HFONT font, bool redraw) {
  if (!m_hWnd) return;
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}

// One tooltip control serves every skin button of a window (a panel holds
// dozens); each button is one tool of it, covering the button.
void CSkinButton::CreateTooltip() {
  if (m_tooltip || !m_hWnd) return;
  HWND parent = GetParent(m_hWnd);
  if (!parent) return;
  m_tooltip = SharedTooltip(parent);
  if (m_tooltip) return;
  EnsureCommonControls();
  m_tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!m_tooltip) return;
  SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, 400);
  KeepSharedTooltip(parent, m_tooltip);
}

// Deactivating takes the button's tool out; activating puts it (back) in.
int CSkinButton::SetTooltipText(const wchar_t* text, bool activate) {
  if (!text || !m_hWnd) return 0;
  CreateTooltip();
  if (!m_tooltip) return 0;
  TOOLINFOW ti = {};
  ti.cbSize = sizeof ti;
  ti.hwnd = GetParent(m_hWnd);
  ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
  bool present = SendMessageW(m_tooltip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti)) != 0;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.lpszText = const_cast<wchar_t*>(text);
  if (!activate) {
    if (present) SendMessageW(m_tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  } else if (present) {
    SendMessageW(m_tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  } else {
    SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  m_tipText = text;
  return 0;
}

}  // namespace qb

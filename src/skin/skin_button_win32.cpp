// The owner-drawn skin button.
#include "skin/bcmenu_win32.h"
#include "win/common_controls_win32.h"
#include "win/subclass_win32.h"
#include "skin/skin_button_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <map>

namespace qb {

namespace {

const UINT_PTR kButtonSubclassId = 0x5153424E;   // 'QSBN'
const UINT_PTR kParentSubclassId = 0x51534250;   // 'QSBP'
const wchar_t kButtonProp[] = L"QimboSkinButton";
const wchar_t kReflectProp[] = L"QimboSkinReflect";
const wchar_t kTipsProp[] = L"QimboSkinTips";  // the tooltip control the buttons of a window share

// The parent hands these three back to the child that caused them.
LRESULT CALLBACK ReflectProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  HWND child = nullptr;
  switch (msg) {
    case WM_DRAWITEM:
      child = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
      break;
    case WM_CTLCOLORBTN:
      child = reinterpret_cast<HWND>(lParam);
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && lParam) {
        HWND button = reinterpret_cast<HWND>(lParam);
        if (GetPropW(button, kButtonProp)) SendMessageW(button, OCM_SKIN_COMMAND, wParam, lParam);
      }
      return DefSubclass(wnd, msg, wParam, lParam);  // the parent is notified as usual
    case WM_NCDESTROY:
      Unsubclass(wnd, ReflectProc, kParentSubclassId);
      RemovePropW(wnd, kReflectProp);
      if (HWND tips = static_cast<HWND>(RemovePropW(wnd, kTipsProp))) DestroyWindow(tips);
      break;
  }
  if (child && GetPropW(child, kButtonProp)) return SendMessageW(child, kReflectBase + msg, wParam, lParam);
  return DefSubclass(wnd, msg, wParam, lParam);
}

void FillSolid(HDC dc, const RECT& r, COLORREF c) {
  COLORREF old = SetBkColor(dc, c);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void Draw3dRect(HDC dc, const RECT& r, COLORREF topLeft, COLORREF bottomRight) {
  int w = r.right - r.left, h = r.bottom - r.top;
  RECT t = {r.left, r.top, r.left + w - 1, r.top + 1};
  FillSolid(dc, t, topLeft);
  RECT l = {r.left, r.top, r.left + 1, r.top + h - 1};
  FillSolid(dc, l, topLeft);
  RECT rr = {r.left + w - 1, r.top, r.left + w, r.top + h};
  FillSolid(dc, rr, bottomRight);
  RECT b = {r.left, r.top + h - 1, r.left + w, r.top + h};
  FillSolid(dc, b, bottomRight);
}

bool IconSize(HICON icon, int* w, int* h);

// The size of a shared icon, examined once.
bool SharedIconSize(HICON icon, int* w, int* h) {
  static std::map<HICON, std::pair<int, int>> sizes;
  auto it = sizes.find(icon);
  if (it == sizes.end()) {
    if (!IconSize(icon, w, h)) return false;
    sizes[icon] = {*w, *h};
    return true;
  }
  *w = it->second.first;
  *h = it->second.second;
  return true;
}

bool IconSize(HICON icon, int* w, int* h) {
  ICONINFO info = {};
  if (!icon || !GetIconInfo(icon, &info)) return false;
  BITMAP bm = {};
  bool ok = GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm) != 0;
  *w = bm.bmWidth;
  *h = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return ok;
}

// A copy of an icon and its size, from one look at its bitmaps.
HICON CopyWithSize(HICON icon, int* w, int* h) {
  ICONINFO info = {};
  if (!icon || !GetIconInfo(icon, &info)) return nullptr;
  BITMAP bm = {};
  HICON copy = nullptr;
  if (GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm)) {
    *w = bm.bmWidth;
    *h = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
    copy = CreateIconIndirect(&info);
  }
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return copy;
}

// A monochrome mask: 1 where the bitmap has the transparent colour.
HBITMAP MakeMask(HBITMAP bitmap, COLORREF transparent, int w, int h) {
  HDC screen = GetDC(nullptr);
  HDC src = CreateCompatibleDC(screen), dst = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HBITMAP mask = CreateBitmap(w, h, 1, 1, nullptr);
  if (!src || !dst || !mask) {
    if (mask) DeleteObject(mask);
    if (src) DeleteDC(src);
    if (dst) DeleteDC(dst);
    return nullptr;
  }
  HGDIOBJ oldSrc = SelectObject(src, bitmap);
  HGDIOBJ oldDst = SelectObject(dst, mask);
  SetBkColor(src, transparent);
  BitBlt(dst, 0, 0, w, h, src, 0, 0, SRCCOPY);
  SelectObject(dst, oldDst);
  SelectObject(src, oldSrc);
  DeleteDC(src);
  DeleteDC(dst);
  return mask;
}

}  // namespace

void InstallReflection(HWND parent) {
  if (parent && !GetPropW(parent, kReflectProp)) {
    SetPropW(parent, kReflectProp, reinterpret_cast<HANDLE>(1));
    Subclass(parent, ReflectProc, kParentSubclassId, 0);
  }
}

CSkinButton::CSkinButton() {
  for (int i = 0; i < 6; ++i) m_colours[i] = GetSysColor(i % 2 == 0 ? COLOR_BTNFACE : COLOR_BTNTEXT);
}

CSkinButton::~CSkinButton() {
  Detach();
  FreeIcons();
  FreeBitmaps();
  FreeBackground();
  delete m_bcMenu;
}

CSkinButton* CSkinButton::FromHandle(HWND button) {
  return static_cast<CSkinButton*>(GetPropW(button, kButtonProp));
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
  SetPropW(button, kButtonProp, this);
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
  RemovePropW(m_hWnd, kButtonProp);
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
    case WM_MOUSEMOVE: {
      LRESULT r = Default(msg, wParam, lParam);
      if (!m_flat) return r;
      POINT pt;
      GetCursorPos(&pt);
      HWND under = WindowFromPoint(pt);
      if ((wParam & MK_LBUTTON) && !m_mouseOver) return r;  // a press that started elsewhere
      if (under == m_hWnd && (m_alwaysTrack || GetActiveWindow())) {
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
    case WM_MOUSELEAVE:
      if (m_flat && m_mouseOver) {
        m_mouseOver = false;
        Redraw();
      }
      return 0;
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
    case WM_ACTIVATE: {
      LRESULT r = Default(msg, wParam, lParam);
      if (msg == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) return r;
      if (m_flat && m_mouseOver) {
        m_mouseOver = false;
        Redraw();
      }
      return r;
    }
    case WM_ENABLE: {
      LRESULT r = Default(msg, wParam, lParam);
      if (!wParam) {
        HWND parent = GetParent(m_hWnd);
        if (GetFocus() == m_hWnd) {
          HWND next = parent ? GetNextDlgTabItem(parent, m_hWnd, FALSE) : nullptr;
          SetFocus(next && next != m_hWnd ? next : parent);
        }
        m_mouseOver = false;
        Redraw();
      }
      return r;
    }
    case WM_SETCURSOR:
      if (m_cursor) {
        SetCursor(m_cursor);
        return TRUE;
      }
      break;
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
    case WM_GETDLGCODE: {
      LRESULT code = Default(msg, wParam, lParam);
      code &= ~static_cast<LRESULT>(DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
      return code | (m_default ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    }
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
  }
  return Default(msg, wParam, lParam);
}

void CSkinButton::OnClicked() {
  SetFocus(m_hWnd);
  if (m_checkBox) {
    m_checked = !m_checked;
    Redraw();
  }
}

int CSkinButton::SetColor(int index, COLORREF colour, bool redraw) {
  if (index < 0 || index > 5) return 3;
  m_colours[index] = colour;
  if (redraw) Redraw();
  return 0;
}

int CSkinButton::OffsetColor(int index, int offset, bool redraw) {
  if (index < 0 || index > 5) return 3;
  if (offset < -255 || offset > 255) return 5;
  COLORREF c = m_colours[index];
  int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  int shift;
  if (offset > 0)
    shift = std::min({offset, 255 - r, 255 - g, 255 - b});
  else
    shift = std::max({offset, -r, -g, -b});
  return SetColor(index, RGB(r + shift, g + shift, b + shift), redraw);
}

int CSkinButton::SetFlat(bool flat, bool redraw) {
  m_flat = flat;
  if (redraw) Redraw();
  return 0;
}

int CSkinButton::SetClickMark(bool mark, bool redraw) {
  m_clickMark = mark;
  if (redraw) Redraw();
  return 0;
}

int CSkinButton::SetFlatFocus(bool focus, bool redraw) {
  m_flatFocus = focus;
  if (redraw) Redraw();
  return 0;
}

int CSkinButton::SetAlign(int align, bool redraw) {
  if (align < 0 || align > 2) return 4;
  m_align = align;
  if (redraw) Redraw();
  return 0;
}

void CSkinButton::SetFont(HFONT font, bool redraw) {
  if (!m_hWnd) return;
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}

void CSkinButton::FreeIcons() {
  if (m_icons.in && !m_icons.shared) DestroyIcon(m_icons.in);
  if (m_icons.out && m_icons.out != m_icons.in && !m_icons.shared) DestroyIcon(m_icons.out);
  m_icons = IconPair();
}

// The button keeps its own copies, so callers may pass shared icons.
int CSkinButton::SetIcon(HICON in, HICON out) {
  FreeIcons();
  if (!in) {
    Redraw();
    return 0;
  }
  IconPair p;
  p.in = CopyWithSize(in, &p.inW, &p.inH);
  if (!p.in) return 1;
  if (out == GreyIcon()) {
    p.out = CreateGrayscaleIcon(in);
    p.outW = p.inW;
    p.outH = p.inH;
  } else if (out) {
    p.out = CopyWithSize(out, &p.outW, &p.outH);
    if (!p.out) {
      DestroyIcon(p.in);
      return 1;
    }
  }
  m_icons = p;
  Redraw();
  return 0;
}

// Resource icons are shared by the system: loaded once however many buttons
// show them, never copied or destroyed (item panels show the same few icons
// on dozens of buttons, and start-up time counts).
int CSkinButton::SetIconById(int inId, int outId) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  HICON in = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(inId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  HICON out = outId ? static_cast<HICON>(
                          LoadImageW(inst, MAKEINTRESOURCEW(outId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED))
                    : nullptr;
  FreeIcons();
  if (!in) return 1;
  IconPair p;
  p.shared = true;
  p.in = in;
  p.out = out;
  if (!SharedIconSize(in, &p.inW, &p.inH) || (out && !SharedIconSize(out, &p.outW, &p.outH))) return 1;
  m_icons = p;
  Redraw();
  return 0;
}

void CSkinButton::FreeBitmaps() {
  BitmapPair& b = m_bitmaps;
  for (HBITMAP h : {b.in, b.inMask, b.out, b.outMask})
    if (h) DeleteObject(h);
  m_bitmaps = BitmapPair();
}

// Takes ownership of the bitmaps.
int CSkinButton::SetBitmaps(HBITMAP in, COLORREF inTransparent, HBITMAP out, COLORREF outTransparent) {
  FreeBitmaps();
  if (!in) {
    if (out) DeleteObject(out);
    Redraw();
    return 0;
  }
  BITMAP bm = {};
  BitmapPair p;
  p.in = in;
  p.out = out;
  if (!GetObjectW(in, sizeof bm, &bm)) {
    m_bitmaps = p;
    FreeBitmaps();
    return 1;
  }
  p.inW = bm.bmWidth;
  p.inH = bm.bmHeight;
  p.inTransparent = inTransparent;
  if (out) {
    if (!GetObjectW(out, sizeof bm, &bm)) {
      m_bitmaps = p;
      FreeBitmaps();
      return 1;
    }
    p.outW = bm.bmWidth;
    p.outH = bm.bmHeight;
    p.outTransparent = outTransparent;
  }
  p.inMask = MakeMask(in, inTransparent, p.inW, p.inH);
  if (out) p.outMask = MakeMask(out, outTransparent, p.outW, p.outH);
  m_bitmaps = p;
  if (!p.inMask || (out && !p.outMask)) {
    FreeBitmaps();
    return 2;
  }
  Redraw();
  return 0;
}

int CSkinButton::SetBitmapsById(int inId, COLORREF inTransparent, int outId, COLORREF outTransparent) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  HBITMAP in = static_cast<HBITMAP>(LoadImageW(inst, MAKEINTRESOURCEW(inId), IMAGE_BITMAP, 0, 0, 0));
  HBITMAP out = outId ? static_cast<HBITMAP>(LoadImageW(inst, MAKEINTRESOURCEW(outId), IMAGE_BITMAP, 0, 0, 0)) : nullptr;
  if (!in) {
    if (out) DeleteObject(out);
    FreeBitmaps();
    return 1;
  }
  return SetBitmaps(in, inTransparent, out, outTransparent);
}

// Cursors are shared resources: every tab of a panel uses the same two, so
// they are loaded once and never destroyed.
int CSkinButton::SetCursorById(int id, bool redraw) {
  static std::map<int, HCURSOR> loaded;
  m_cursor = nullptr;
  if (id) {
    HCURSOR& cursor = loaded[id];
    if (!cursor)
      cursor = static_cast<HCURSOR>(
          LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    m_cursor = cursor;
    if (!m_cursor) return 1;
  }
  if (redraw) Redraw();
  return 0;
}

// One tooltip control serves every skin button of a window (a panel holds
// dozens); each button is one tool of it, covering the button.
void CSkinButton::CreateTooltip() {
  if (m_tooltip || !m_hWnd) return;
  HWND parent = GetParent(m_hWnd);
  if (!parent) return;
  m_tooltip = static_cast<HWND>(GetPropW(parent, kTipsProp));
  if (m_tooltip) return;
  EnsureCommonControls();
  m_tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!m_tooltip) return;
  SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, 400);
  SetPropW(parent, kTipsProp, m_tooltip);
  InstallReflection(parent);  // destroys the control with the window
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

int CSkinButton::DrawTransparent(bool redraw) {
  m_transparent = true;
  FreeBackground();
  if (redraw) Redraw();
  return 0;
}

void CSkinButton::FreeBackground() {
  if (m_backDc) {
    SelectObject(m_backDc, m_backOld);
    DeleteDC(m_backDc);
  }
  if (m_backBitmap) DeleteObject(m_backBitmap);
  m_backDc = nullptr;
  m_backBitmap = nullptr;
  m_backOld = nullptr;
}

// The parent's pixels under the button, taken once, the first time they are needed.
void CSkinButton::TakeBackground() {
  if (m_backDc) return;
  HWND parent = GetParent(m_hWnd);
  RECT r;
  GetWindowRect(m_hWnd, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  HDC parentDc = GetDC(parent);
  m_backDc = CreateCompatibleDC(parentDc);
  m_backBitmap = CreateCompatibleBitmap(parentDc, r.right - r.left, r.bottom - r.top);
  m_backOld = SelectObject(m_backDc, m_backBitmap);
  BitBlt(m_backDc, 0, 0, r.right - r.left, r.bottom - r.top, parentDc, r.left, r.top, SRCCOPY);
  ReleaseDC(parent, parentDc);
}

int CSkinButton::SetMenu(int menuId, HWND receiver, bool classicLook, bool redraw) {
  delete m_bcMenu;
  m_bcMenu = nullptr;
  m_menu = nullptr;
  m_menuReceiver = nullptr;
  m_menuId = 0;
  m_menuClassic = classicLook;
  if (menuId) {
    // Loaded when first needed: a panel attaches menus to dozens of buttons.
    if (!FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId), MAKEINTRESOURCEW(4) /* RT_MENU */))
      return 1;
    m_menuId = menuId;
    m_menuReceiver = receiver;
  }
  if (redraw) Redraw();
  return 0;
}

void CSkinButton::SetMenuImages(int bitmapId, const MenuImage* images, int count) {
  m_menuBitmap = bitmapId;
  m_menuImages = images;
  m_menuImageCount = count;
  if (m_bcMenu && bitmapId) m_bcMenu->LoadToolbar(bitmapId, images, count);
}

HMENU CSkinButton::AttachedMenu() {
  if (!m_bcMenu && m_menuId) {
    m_bcMenu = new BCMenu;
    if (!m_bcMenu->LoadMenu(m_menuId)) {
      delete m_bcMenu;
      m_bcMenu = nullptr;
      m_menuId = 0;  // not tried again
      return nullptr;
    }
    m_bcMenu->SetLook(m_menuClassic ? BCMenu::kLookClassic : BCMenu::kLookTheme);
    if (m_menuBitmap) m_bcMenu->LoadToolbar(m_menuBitmap, m_menuImages, m_menuImageCount);
    m_menu = m_bcMenu->GetSafeHmenu();
  }
  return m_menu;
}

void CSkinButton::ShowAttachedMenu() {
  if (!AttachedMenu()) return;
  m_menuOpen = true;
  Redraw();
  UpdateWindow(m_hWnd);
  POINT pt;
  GetCursorPos(&pt);
  // The button owns the menu window: its measure, draw and menu-character
  // messages go to the menu while it is open.
  UINT cmd = m_bcMenu->Track(m_hWnd, TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_RETURNCMD,
                             pt.x, pt.y);
  m_menuOpen = false;
  Redraw();
  if (cmd && m_menuReceiver) PostMessageW(m_menuReceiver, WM_COMMAND, MAKEWPARAM(cmd, 0), 0);
}

void CSkinButton::PlaceImage(const RECT& item, int w, int h, bool hasCaption, RECT* image, RECT* caption) const {
  *caption = item;
  int x, y;
  switch (m_align) {
    case kAlignTop:
      x = item.left + (item.right - item.left - w) / 2;
      y = item.top + 3;
      caption->top = y + h;
      break;
    case kAlignRight:
      x = item.right - 3 - w;
      y = item.top + (item.bottom - item.top - h) / 2;
      caption->right = x;
      break;
    default:
      if (hasCaption) {
        x = item.left + 3;
        caption->left = x + w + 3;
      } else {
        x = item.left + (item.right - item.left - w) / 2;
      }
      y = item.top + (item.bottom - item.top - h) / 2;
      break;
  }
  if (m_pressed && !m_checkBox) {
    ++x;
    ++y;
  }
  SetRect(image, x, y, x + w, y + h);
}

void CSkinButton::DrawBackground(HDC dc, RECT* rect) {
  COLORREF c = m_colours[kBackOut];
  if (m_mouseOver || m_pressed)
    c = m_colours[kBackIn];
  else if (m_focused)
    c = m_colours[kBackFocus];
  FillSolid(dc, *rect, c);
}

void CSkinButton::DrawBorder(HDC dc, RECT* rect) {
  if (m_pressed)
    Draw3dRect(dc, *rect, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHILIGHT));
  else
    Draw3dRect(dc, *rect, GetSysColor(COLOR_BTNHILIGHT), GetSysColor(COLOR_BTNSHADOW));
}

void CSkinButton::DrawCaption(HDC dc, RECT caption) {
  int len = GetWindowTextLengthW(m_hWnd);
  if (len <= 0) return;
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  GetWindowTextW(m_hWnd, &text[0], len + 1);
  text.resize(static_cast<size_t>(len));
  if (m_pressed && !m_checkBox) OffsetRect(&caption, 1, 1);
  RECT measure = caption;
  DrawTextW(dc, text.c_str(), len, &measure, DT_WORDBREAK | DT_CENTER | DT_CALCRECT);
  int w = measure.right - measure.left, h = measure.bottom - measure.top;
  measure.left = caption.left + ((caption.right - caption.left) - w) / 2;
  measure.right = measure.left + w;
  measure.top = caption.top + ((caption.bottom - caption.top) - h) / 2;
  measure.bottom = measure.top + h;
  m_layout.caption = measure;
  if (m_disabled) {
    OffsetRect(&measure, 1, 1);
    SetTextColor(dc, GetSysColor(COLOR_3DHILIGHT));
    DrawTextW(dc, text.c_str(), len, &measure, DT_WORDBREAK | DT_CENTER);
    OffsetRect(&measure, -1, -1);
    SetTextColor(dc, GetSysColor(COLOR_3DSHADOW));
    DrawTextW(dc, text.c_str(), len, &measure, DT_WORDBREAK | DT_CENTER);
    return;
  }
  bool in = m_mouseOver || m_pressed;
  SetTextColor(dc, m_colours[in ? kForeIn : kForeOut]);
  SetBkColor(dc, m_colours[in ? kBackIn : kBackOut]);
  DrawTextW(dc, text.c_str(), len, &measure, DT_WORDBREAK | DT_CENTER);
}

void CSkinButton::DrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  bool selected = (item.itemState & ODS_SELECTED) != 0;
  m_pressed = m_checkBox ? (selected || m_checked) : (selected || (m_menu && m_menuOpen));
  m_focused = (item.itemState & ODS_FOCUS) != 0;
  m_disabled = (item.itemState & ODS_DISABLED) != 0;
  m_layout = Layout();
  RECT r = item.rcItem;
  int oldMode = SetBkMode(dc, TRANSPARENT);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));

  if (!m_flat && (m_focused || m_default)) {
    FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&r, -1, -1);
  }
  if (m_transparent) {
    TakeBackground();
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, m_backDc, r.left - item.rcItem.left,
           r.top - item.rcItem.top, SRCCOPY);
  } else {
    DrawBackground(dc, &r);
  }
  if (m_pressed) {
    if (!m_flat) {
      HBRUSH shadow = CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW));
      FrameRect(dc, &r, shadow);
      DeleteObject(shadow);
    } else if (m_clickMark) {
      DrawBorder(dc, &r);
    }
  } else if (!m_flat) {
    Draw3dRect(dc, r, GetSysColor(COLOR_BTNHILIGHT), GetSysColor(COLOR_3DDKSHADOW));
    RECT inner = r;
    InflateRect(&inner, -1, -1);
    Draw3dRect(dc, inner, GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_BTNSHADOW));
  } else if (m_mouseOver && m_clickMark) {
    DrawBorder(dc, &r);
  }

  bool atRest = m_checkBox ? !m_pressed : (!m_pressed && !m_mouseOver);
  bool hasCaption = GetWindowTextLengthW(m_hWnd) > 0;
  RECT caption = item.rcItem;
  if (m_icons.in) {
    bool useOut = m_icons.out && atRest;
    HICON icon = useOut ? m_icons.out : m_icons.in;
    int w = useOut ? m_icons.outW : m_icons.inW, h = useOut ? m_icons.outH : m_icons.inH;
    RECT image;
    PlaceImage(item.rcItem, w, h, hasCaption, &image, &caption);
    m_layout.image = image;
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, image.left, image.top, w, h,
               DST_ICON | (m_disabled ? DSS_DISABLED : DSS_NORMAL));
  }
  if (m_bitmaps.in) {
    bool useOut = m_bitmaps.out && atRest;
    HBITMAP bmp = useOut ? m_bitmaps.out : m_bitmaps.in;
    HBITMAP mask = useOut ? m_bitmaps.outMask : m_bitmaps.inMask;
    int w = useOut ? m_bitmaps.outW : m_bitmaps.inW, h = useOut ? m_bitmaps.outH : m_bitmaps.inH;
    RECT image;
    PlaceImage(item.rcItem, w, h, hasCaption, &image, &caption);
    m_layout.image = image;
    if (m_disabled && m_showDisabledBitmap) {
      DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(bmp), 0, image.left, image.top, w, h,
                 DST_BITMAP | DSS_DISABLED);
    } else {
      HDC mem = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(mem, mask);
      COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255)), oldText = SetTextColor(dc, RGB(0, 0, 0));
      BitBlt(dc, image.left, image.top, w, h, mem, 0, 0, SRCAND);
      SelectObject(mem, bmp);
      // Paint only where the mask is 0: black out the transparent part of a copy first.
      HDC tmp = CreateCompatibleDC(dc);
      HBITMAP tmpBmp = CreateCompatibleBitmap(dc, w, h);
      HGDIOBJ oldTmp = SelectObject(tmp, tmpBmp);
      BitBlt(tmp, 0, 0, w, h, mem, 0, 0, SRCCOPY);
      SelectObject(mem, mask);
      SetBkColor(tmp, RGB(0, 0, 0));
      SetTextColor(tmp, RGB(255, 255, 255));
      BitBlt(tmp, 0, 0, w, h, mem, 0, 0, SRCAND);
      BitBlt(dc, image.left, image.top, w, h, tmp, 0, 0, SRCPAINT);
      SelectObject(tmp, oldTmp);
      DeleteObject(tmpBmp);
      DeleteDC(tmp);
      SetBkColor(dc, oldBk);
      SetTextColor(dc, oldText);
      SelectObject(mem, old);
      DeleteDC(mem);
    }
  }
  if (!m_icons.in && !m_bitmaps.in) m_layout.caption = caption;
  DrawCaption(dc, caption);
  if (m_focused && (!m_flat || m_flatFocus)) {
    RECT f = item.rcItem;
    InflateRect(&f, -3, -3);
    DrawFocusRect(dc, &f);
  }
  SelectObject(dc, oldFont);
  SetBkMode(dc, oldMode);
}

HICON CreateGrayscaleIcon(HICON icon) {
  ICONINFO info = {};
  if (!icon || !GetIconInfo(icon, &info)) return nullptr;
  HICON grey = nullptr;
  BITMAP bm = {};
  if (info.hbmColor && GetObjectW(info.hbmColor, sizeof bm, &bm)) {
    HDC screen = GetDC(nullptr);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::basic_string<DWORD> px(static_cast<size_t>(bm.bmWidth) * bm.bmHeight, 0);
    GetDIBits(screen, info.hbmColor, 0, bm.bmHeight, &px[0], &bi, DIB_RGB_COLORS);
    for (DWORD& p : px) {
      DWORD rgb = p & 0xFFFFFF;
      if (!rgb) continue;
      unsigned b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
      unsigned level = static_cast<unsigned>(0.299 * r + 0.587 * g + 0.114 * b);
      if (level > 255) level = 255;
      p = (p & 0xFF000000) | (level << 16) | (level << 8) | level;
    }
    SetDIBits(screen, info.hbmColor, 0, bm.bmHeight, &px[0], &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    grey = CreateIconIndirect(&info);
  }
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return grey;
}

// A button not on screen is painted whole when it shows: no repaint is asked for.
void ApplySkinToButton(CSkinButton& button, const SkinColours& skin) {
  bool redraw = IsWindowVisible(button.GetSafeHwnd()) != 0;
  button.SetFont(skin.font, redraw);
  button.SetColor(CSkinButton::kBackIn, skin.hoverBack, false);
  button.SetColor(CSkinButton::kForeIn, skin.hoverText, false);
  button.SetColor(CSkinButton::kBackOut, skin.normalBack, false);
  button.SetColor(CSkinButton::kForeOut, skin.normalText, false);
  button.SetColor(CSkinButton::kBackFocus, skin.pressedBack, false);
  button.SetColor(CSkinButton::kForePressed, skin.pressedText, false);
  button.SetFlat(skin.flat != 0, redraw);
  button.SetClickMark(skin.clickMark != 0, false);
}

void ApplySkinTextColours(CSkinButton& button, const SkinColours& skin) {
  bool redraw = IsWindowVisible(button.GetSafeHwnd()) != 0;
  button.SetFont(skin.font, redraw);
  button.SetColor(CSkinButton::kForeIn, skin.hoverText, false);
  button.SetColor(CSkinButton::kForeOut, skin.normalText, false);
  button.SetColor(CSkinButton::kForePressed, skin.pressedText, false);
  button.SetFlat(skin.flat != 0, redraw);
  button.SetClickMark(skin.clickMark != 0, false);
}

}  // namespace qb

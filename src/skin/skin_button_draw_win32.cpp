// The skin button's drawing: background (its colour or the parent's pixels),
// the frame of its state, the icon or masked bitmap, the caption.
#include "skin/skin_button_win32.h"
#include "win/text_win32.h"

namespace qb {

namespace {

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

// The bitmap where its mask is 0; the DC keeps its own pixels where it is 1.
void DrawMasked(HDC dc, const RECT& image, HBITMAP bitmap, HBITMAP mask) {
  int w = image.right - image.left, h = image.bottom - image.top;
  MemoryDc mem(dc);
  SelectIn maskIn(mem.Get(), mask);
  COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255)), oldText = SetTextColor(dc, RGB(0, 0, 0));
  BitBlt(dc, image.left, image.top, w, h, mem.Get(), 0, 0, SRCAND);
  // Paint only where the mask is 0: black out the transparent part of a copy first.
  OffscreenBitmap copy(dc, w, h);
  {
    SelectIn pictureIn(mem.Get(), bitmap);
    BitBlt(copy.dc.Get(), 0, 0, w, h, mem.Get(), 0, 0, SRCCOPY);
  }
  SetBkColor(copy.dc.Get(), RGB(0, 0, 0));
  SetTextColor(copy.dc.Get(), RGB(255, 255, 255));
  BitBlt(copy.dc.Get(), 0, 0, w, h, mem.Get(), 0, 0, SRCAND);
  BitBlt(dc, image.left, image.top, w, h, copy.dc.Get(), 0, 0, SRCPAINT);
  SetBkColor(dc, oldBk);
  SetTextColor(dc, oldText);
}

}  // namespace

// The parent's pixels under the button, taken once, the first time they are needed.
void CSkinButton::TakeBackground() {
  if (m_back.dc) return;
  HWND parent = GetParent(m_hWnd);
  RECT r;
  GetWindowRect(m_hWnd, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  WindowDc parentDc(parent);
  m_back.Make(parentDc.Get(), r.right - r.left, r.bottom - r.top);
  BitBlt(m_back.dc.Get(), 0, 0, r.right - r.left, r.bottom - r.top, parentDc.Get(), r.left, r.top, SRCCOPY);
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
  std::wstring text = WindowTextW(m_hWnd);
  int len = static_cast<int>(text.size());
  if (len <= 0) return;
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

// The background and the frame of the state: raised, pressed, or flat with
// a border while the mouse is over it.
void CSkinButton::DrawFace(HDC dc, const RECT& item) {
  RECT r = item;
  if (!m_flat && (m_focused || m_default)) {
    FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&r, -1, -1);
  }
  if (m_transparent) {
    TakeBackground();
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, m_back.dc.Get(), r.left - item.left,
           r.top - item.top, SRCCOPY);
  } else {
    DrawBackground(dc, &r);
  }
  if (m_pressed) {
    if (!m_flat) {
      GdiBrush shadow(CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW)));
      FrameRect(dc, &r, shadow.Get());
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
}

// The icon or the bitmap of the state, placed by the alignment; returns
// where the caption goes.
RECT CSkinButton::DrawImage(HDC dc, const RECT& item) {
  bool atRest = m_checkBox ? !m_pressed : (!m_pressed && !m_mouseOver);
  bool hasCaption = GetWindowTextLengthW(m_hWnd) > 0;
  RECT caption = item;
  if (m_icons.in) {
    bool useOut = m_icons.out && atRest;
    HICON icon = useOut ? m_icons.out : m_icons.in;
    int w = useOut ? m_icons.outW : m_icons.inW, h = useOut ? m_icons.outH : m_icons.inH;
    RECT image;
    PlaceImage(item, w, h, hasCaption, &image, &caption);
    m_layout.image = image;
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, image.left, image.top, w, h,
               DST_ICON | (m_disabled ? DSS_DISABLED : DSS_NORMAL));
  }
  if (m_bitmaps.in) {
    bool useOut = m_bitmaps.out && atRest;
    HBITMAP bmp = useOut ? m_bitmaps.out.Get() : m_bitmaps.in.Get();
    HBITMAP mask = useOut ? m_bitmaps.outMask.Get() : m_bitmaps.inMask.Get();
    int w = useOut ? m_bitmaps.outW : m_bitmaps.inW, h = useOut ? m_bitmaps.outH : m_bitmaps.inH;
    RECT image;
    PlaceImage(item, w, h, hasCaption, &image, &caption);
    m_layout.image = image;
    if (m_disabled)
      DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(bmp), 0, image.left, image.top, w, h,
                 DST_BITMAP | DSS_DISABLED);
    else
      DrawMasked(dc, image, bmp, mask);
  }
  if (!m_icons.in && !m_bitmaps.in) m_layout.caption = caption;
  return caption;
}

void CSkinButton::DrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  bool selected = (item.itemState & ODS_SELECTED) != 0;
  m_pressed = m_checkBox ? (selected || m_checked) : (selected || (m_menu && m_menuOpen));
  m_focused = (item.itemState & ODS_FOCUS) != 0;
  m_disabled = (item.itemState & ODS_DISABLED) != 0;
  m_layout = Layout();
  int oldMode = SetBkMode(dc, TRANSPARENT);
  SelectIn font(dc, reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
  DrawFace(dc, item.rcItem);
  DrawCaption(dc, DrawImage(dc, item.rcItem));
  if (m_focused && !m_flat) {
    RECT f = item.rcItem;
    InflateRect(&f, -3, -3);
    DrawFocusRect(dc, &f);
  }
  SetBkMode(dc, oldMode);
}

}  // namespace qb

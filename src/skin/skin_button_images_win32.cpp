// The skin button's images: icons (its own copies, or shared resource icons),
// bitmaps with the masks of their transparent colour, and the cursor.
#include "skin/skin_button_win32.h"

#include <map>
#include <mutex>
#include <string>

namespace qb {

namespace {

// The size of an icon from one look at its bitmaps.
bool IconSize(const IconBitmaps& bits, int* w, int* h) {
  BITMAP bm = {};
  bool ok = GetObjectW(bits.Colour() ? bits.Colour() : bits.Mask(), sizeof bm, &bm) != 0;
  *w = bm.bmWidth;
  *h = bits.Colour() ? bm.bmHeight : bm.bmHeight / 2;
  return ok;
}

// The size of a shared icon, examined once, by whichever thread loads it
// first (the main window's icons are loaded ahead on a second thread).
bool SharedIconSize(HICON icon, int* w, int* h) {
  static std::mutex lock;
  static std::map<HICON, std::pair<int, int>> sizes;
  std::lock_guard<std::mutex> hold(lock);
  auto it = sizes.find(icon);
  if (it == sizes.end()) {
    IconBitmaps bits;
    if (!bits.Read(icon) || !IconSize(bits, w, h)) return false;
    sizes[icon] = {*w, *h};
    return true;
  }
  *w = it->second.first;
  *h = it->second.second;
  return true;
}

// A copy of an icon and its size, from one look at its bitmaps.
ScopedIcon CopyWithSize(HICON icon, int* w, int* h) {
  IconBitmaps bits;
  if (!bits.Read(icon) || !IconSize(bits, w, h)) return ScopedIcon();
  ICONINFO info = bits.Info();
  return ScopedIcon(CreateIconIndirect(&info));
}

// A monochrome mask: 1 where the bitmap has the transparent colour.
GdiBitmap MakeMask(HBITMAP bitmap, COLORREF transparent, int w, int h) {
  WindowDc screen(nullptr);
  MemoryDc src(screen.Get()), dst(screen.Get());
  GdiBitmap mask(CreateBitmap(w, h, 1, 1, nullptr));
  if (!src || !dst || !mask) return GdiBitmap();
  SelectIn bitmapIn(src.Get(), bitmap), maskIn(dst.Get(), mask.Get());
  SetBkColor(src.Get(), transparent);
  BitBlt(dst.Get(), 0, 0, w, h, src.Get(), 0, 0, SRCCOPY);
  return mask;
}

bool BitmapSize(HBITMAP bitmap, int* w, int* h) {
  BITMAP bm = {};
  if (!GetObjectW(bitmap, sizeof bm, &bm)) return false;
  *w = bm.bmWidth;
  *h = bm.bmHeight;
  return true;
}

HBITMAP LoadBitmapResource(int id) {
  return static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
}

}  // namespace

HICON CreateGrayscaleIcon(HICON icon) {
  IconBitmaps bits;
  BITMAP bm = {};
  if (!bits.Read(icon) || !bits.Colour() || !GetObjectW(bits.Colour(), sizeof bm, &bm)) return nullptr;
  BITMAPINFO bi = TopDownBitmapInfo(bm.bmWidth, bm.bmHeight);
  std::basic_string<DWORD> px(static_cast<size_t>(bm.bmWidth) * bm.bmHeight, 0);
  {
    WindowDc screen(nullptr);
    GetDIBits(screen.Get(), bits.Colour(), 0, bm.bmHeight, &px[0], &bi, DIB_RGB_COLORS);
    for (DWORD& p : px) {
      DWORD rgb = p & 0xFFFFFF;
      if (!rgb) continue;
      unsigned b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
      unsigned level = static_cast<unsigned>(0.299 * r + 0.587 * g + 0.114 * b);
      if (level > 255) level = 255;
      p = (p & 0xFF000000) | (level << 16) | (level << 8) | level;
    }
    SetDIBits(screen.Get(), bits.Colour(), 0, bm.bmHeight, &px[0], &bi, DIB_RGB_COLORS);
  }
  ICONINFO info = bits.Info();
  return CreateIconIndirect(&info);
}

// The button keeps its own copies, so callers may pass shared icons.
int CSkinButton::SetIcon(HICON in, HICON out) {
  FreeIcons();
  if (!in) {
    Redraw();
    return 0;
  }
  IconPair p;
  p.ownIn = CopyWithSize(in, &p.inW, &p.inH);
  if (!p.ownIn) return 1;
  if (out == GreyIcon()) {
    p.ownOut.Reset(CreateGrayscaleIcon(in));
    p.outW = p.inW;
    p.outH = p.inH;
  } else if (out) {
    p.ownOut = CopyWithSize(out, &p.outW, &p.outH);
    if (!p.ownOut) return 1;
  }
  p.in = p.ownIn.Get();
  p.out = p.ownOut.Get();
  m_icons = std::move(p);
  Redraw();
  return 0;
}

// Resource icons are shared by the system: loaded once however many buttons
// show them, never copied or destroyed (item panels show the same few icons
// on dozens of buttons, and start-up time counts).
HICON CSkinButton::SharedIcon(int id) {
  HICON icon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  int w = 0, h = 0;
  if (icon) SharedIconSize(icon, &w, &h);  // so that a button's showing it only looks the size up
  return icon;
}

int CSkinButton::SetIconById(int inId, int outId) {
  HICON in = SharedIcon(inId);
  HICON out = outId ? SharedIcon(outId) : nullptr;
  FreeIcons();
  if (!in) return 1;
  IconPair p;
  p.in = in;
  p.out = out;
  if (!SharedIconSize(in, &p.inW, &p.inH) || (out && !SharedIconSize(out, &p.outW, &p.outH))) return 1;
  m_icons = std::move(p);
  Redraw();
  return 0;
}

// Takes ownership of the bitmaps.
int CSkinButton::SetBitmaps(HBITMAP in, COLORREF inTransparent, HBITMAP out, COLORREF outTransparent) {
  FreeBitmaps();
  BitmapPair p;
  p.in.Reset(in);
  p.out.Reset(out);
  if (!in) {
    Redraw();
    return 0;
  }
  if (!BitmapSize(in, &p.inW, &p.inH) || (out && !BitmapSize(out, &p.outW, &p.outH))) return 1;
  p.inTransparent = inTransparent;
  if (out) p.outTransparent = outTransparent;
  p.inMask = MakeMask(in, inTransparent, p.inW, p.inH);
  if (out) p.outMask = MakeMask(out, outTransparent, p.outW, p.outH);
  if (!p.inMask || (out && !p.outMask)) return 2;
  m_bitmaps = std::move(p);
  Redraw();
  return 0;
}

int CSkinButton::SetBitmapsById(int inId, COLORREF inTransparent, int outId, COLORREF outTransparent) {
  GdiBitmap in(LoadBitmapResource(inId)), out(outId ? LoadBitmapResource(outId) : nullptr);
  if (!in) {
    FreeBitmaps();
    return 1;
  }
  return SetBitmaps(in.Release(), inTransparent, out.Release(), outTransparent);
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

void CSkinButton::ChangeCursorById(int id) {
  SetCursorById(id, false);
  SendMessageW(m_hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

}  // namespace qb

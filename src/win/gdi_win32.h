// Owners of GDI objects and device contexts. A paint or draw handler builds
// what it needs from these and has no cleanup code: the selections go back,
// the memory DCs and objects are deleted, the window DC is released, in the
// reverse order of their making.
//
//   GdiBitmap, GdiFont, GdiBrush     DeleteObject
//   MemoryDc                         CreateCompatibleDC ... DeleteDC
//   WindowDc                         GetDC ... ReleaseDC
//   PaintDc                          BeginPaint ... EndPaint
//   SelectIn                         SelectObject, and the old object back on exit
//   IconBitmaps                      the two bitmaps GetIconInfo hands out
#pragma once
#include <windows.h>

#include <utility>

#include "win/handles_win32.h"

namespace qb {

template <typename T>
struct GdiObjectTraits {
  using Handle = T;
  static Handle Empty() { return nullptr; }
  static bool Free(Handle h) { return DeleteObject(h) != FALSE; }
};

template <typename T>
using GdiObject = ScopedHandle<GdiObjectTraits<T>>;
using GdiBitmap = GdiObject<HBITMAP>;
using GdiFont = GdiObject<HFONT>;
using GdiBrush = GdiObject<HBRUSH>;

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Empty() { return nullptr; }
  static bool Free(Handle h) { return DeleteDC(h) != FALSE; }
};

// A memory DC compatible with `like` (null: the screen).
class MemoryDc : public ScopedHandle<MemoryDcTraits> {
 public:
  MemoryDc() = default;
  explicit MemoryDc(HDC like) : ScopedHandle(CreateCompatibleDC(like)) {}
};

// GetDC of a window (null: the screen), released on exit.
class WindowDc {
 public:
  explicit WindowDc(HWND wnd) : m_wnd(wnd), m_dc(GetDC(wnd)) {}
  ~WindowDc() {
    if (m_dc) ReleaseDC(m_wnd, m_dc);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const { return m_dc; }

 private:
  HWND m_wnd;
  HDC m_dc;
};

// BeginPaint on WM_PAINT, EndPaint on exit.
class PaintDc {
 public:
  explicit PaintDc(HWND wnd) : m_wnd(wnd) { m_dc = BeginPaint(wnd, &m_ps); }
  ~PaintDc() { EndPaint(m_wnd, &m_ps); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC Get() const { return m_dc; }
  const PAINTSTRUCT& Info() const { return m_ps; }

 private:
  HWND m_wnd;
  PAINTSTRUCT m_ps{};
  HDC m_dc = nullptr;
};

// An object selected into a DC for as long as this lives; the object that
// was there goes back in on exit. Moves, so that a DC kept with a bitmap in
// it (a cached picture) can hold its selection as a member.
class SelectIn {
 public:
  SelectIn() = default;
  SelectIn(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~SelectIn() { Restore(); }
  SelectIn(SelectIn&& other) noexcept
      : m_dc(std::exchange(other.m_dc, nullptr)), m_old(std::exchange(other.m_old, nullptr)) {}
  SelectIn& operator=(SelectIn&& other) noexcept {
    if (this != &other) {
      Restore();
      m_dc = std::exchange(other.m_dc, nullptr);
      m_old = std::exchange(other.m_old, nullptr);
    }
    return *this;
  }
  SelectIn(const SelectIn&) = delete;
  SelectIn& operator=(const SelectIn&) = delete;

 private:
  void Restore() {
    if (m_dc && m_old) SelectObject(m_dc, m_old);
    m_dc = nullptr;
    m_old = nullptr;
  }
  HDC m_dc = nullptr;
  HGDIOBJ m_old = nullptr;
};

// A memory DC with a bitmap of its own selected in: a picture kept off
// screen. Members go in reverse order: the selection is undone, then the
// bitmap deleted, then the DC.
struct OffscreenBitmap {
  MemoryDc dc;
  GdiBitmap bitmap;
  SelectIn selection;

  OffscreenBitmap() = default;
  // A `w` x `h` bitmap compatible with `like`.
  OffscreenBitmap(HDC like, int w, int h)
      : dc(like), bitmap(CreateCompatibleBitmap(like, w, h)), selection(dc.Get(), bitmap.Get()) {}
  OffscreenBitmap(const OffscreenBitmap&) = delete;
  OffscreenBitmap& operator=(const OffscreenBitmap&) = delete;
  bool Valid() const { return dc.Valid() && bitmap.Valid(); }
  // Makes a fresh `w` x `h` bitmap compatible with `like`, letting the old
  // one go; false when the DC or the bitmap could not be made.
  bool Make(HDC like, int w, int h) {
    Free();
    dc.Reset(CreateCompatibleDC(like));
    bitmap.Reset(CreateCompatibleBitmap(like, w, h));
    selection = SelectIn(dc.Get(), bitmap.Get());
    return Valid();
  }
  // Lets everything go, in the safe order.
  void Free() {
    selection = SelectIn();
    bitmap.Reset();
    dc.Reset();
  }
};

// The header of a top-down 32-bit DIB of `w` x `h` pixels (GetDIBits,
// CreateDIBSection): row 0 first, one DWORD a pixel.
inline BITMAPINFO TopDownBitmapInfo(int w, int h) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

// What GetIconInfo hands out: a colour bitmap (null for a monochrome icon)
// and a mask, both the caller's to delete.
class IconBitmaps {
 public:
  // False (and nothing held) when the icon is null or not an icon.
  bool Read(HICON icon) {
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info)) return false;
    m_info = info;
    m_colour.Reset(info.hbmColor);
    m_mask.Reset(info.hbmMask);
    return true;
  }
  const ICONINFO& Info() const { return m_info; }
  HBITMAP Colour() const { return m_colour.Get(); }
  HBITMAP Mask() const { return m_mask.Get(); }

 private:
  ICONINFO m_info{};
  GdiBitmap m_colour, m_mask;
};

}  // namespace qb

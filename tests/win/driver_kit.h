// Small pieces every window-test driver program needs: waiting for a
// condition, a window's class, a child process (proc_util.h), a screenshot.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "proc_util.h"

namespace drv {

// Polls `done` every `step` ms until it holds or `ms` have passed.
inline bool WaitUntil(const std::function<bool()>& done, DWORD ms, DWORD step = 50) {
  for (DWORD start = GetTickCount();;) {
    if (done()) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(step);
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

// The first top-level window of process `pid` that passes `test`, in Z order.
inline HWND WindowOf(DWORD pid, const std::function<bool(HWND)>& test) {
  struct Find {
    DWORD pid;
    const std::function<bool(HWND)>* test;
    HWND found;
  } f{pid, &test, nullptr};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* f = reinterpret_cast<Find*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner != f->pid || !(*f->test)(w)) return TRUE;
        f->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&f));
  return f.found;
}

inline std::wstring ClassOf(HWND w) {
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  return cls;
}

// The screen as a 24-bit BMP file.
inline void Screenshot(const std::wstring& path) {
  HDC screen = GetDC(nullptr);
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFOHEADER bi = {sizeof bi, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  int stride = (w * 3 + 3) & ~3;
  std::vector<char> bits((size_t)stride * h);
  GetDIBits(mem, bmp, 0, h, bits.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
  BITMAPFILEHEADER fh = {0x4D42, (DWORD)(sizeof fh + sizeof bi + bits.size()), 0, 0, sizeof fh + sizeof bi};
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(f, &fh, sizeof fh, &n, nullptr);
  WriteFile(f, &bi, sizeof bi, &n, nullptr);
  WriteFile(f, bits.data(), (DWORD)bits.size(), &n, nullptr);
  CloseHandle(f);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

}  // namespace drv

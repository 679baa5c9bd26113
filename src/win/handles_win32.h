// Owners of Win32 handles: each handle has exactly one owner object, which
// releases it in its destructor with the one call that fits the handle.
// Owners move, never copy; Release() hands the handle to someone else (a
// window, a menu bar, an API that takes it over) without closing it.
//
//   ScopedHandle<Traits>   the template; Traits names the handle type, its
//                          empty value and its release call
//   KernelHandle           CloseHandle (mutexes, events, threads, files)
//   FindHandle             FindClose (FindFirstFile; empty is INVALID_HANDLE_VALUE)
//   ScopedIcon             DestroyIcon (icons we made or copied; not LR_SHARED ones)
//   ScopedCursor           DestroyCursor (copied cursors)
//   ScopedMenu             DestroyMenu (with its sub-menus)
//   ScopedLibrary          FreeLibrary
//   ScopedRegKey           RegCloseKey
// GDI objects and device contexts are in win/gdi_win32.h.
#pragma once
#include <windows.h>

#include <utility>

namespace qb {

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle h) : m_h(h) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(ScopedHandle&& other) noexcept : m_h(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  Handle Get() const { return m_h; }
  bool Valid() const { return m_h != Traits::Empty(); }
  explicit operator bool() const { return Valid(); }
  // Gives the handle up without releasing it.
  Handle Release() { return std::exchange(m_h, Traits::Empty()); }
  // Releases the handle held, then holds `h`.
  void Reset(Handle h = Traits::Empty()) {
    if (h == m_h) return;
    Close();
    m_h = h;
  }
  // For a call that hands a handle out through a pointer: lets go of what
  // is held and gives the place for the new one.
  Handle* Receive() {
    Close();
    return &m_h;
  }
  // Releases the handle now; false, with the handle still held, when the
  // release call refuses (DestroyMenu of a menu that is on screen).
  bool TryFree() {
    if (Valid() && !Traits::Free(m_h)) return false;
    m_h = Traits::Empty();
    return true;
  }

 private:
  void Close() {
    if (Valid()) Traits::Free(m_h);
    m_h = Traits::Empty();
  }
  Handle m_h = Traits::Empty();
};

// Traits: Empty() is the value that holds nothing, Free(h) releases and
// says whether the call succeeded.
template <typename H, BOOL(WINAPI* FreeFn)(H)>
struct NullEmptyTraits {
  using Handle = H;
  static Handle Empty() { return nullptr; }
  static bool Free(Handle h) { return FreeFn(h) != FALSE; }
};

struct FindTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static bool Free(Handle h) { return FindClose(h) != FALSE; }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static bool Free(Handle h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};

using KernelHandle = ScopedHandle<NullEmptyTraits<HANDLE, CloseHandle>>;
using FindHandle = ScopedHandle<FindTraits>;
using ScopedIcon = ScopedHandle<NullEmptyTraits<HICON, DestroyIcon>>;
using ScopedCursor = ScopedHandle<NullEmptyTraits<HCURSOR, DestroyCursor>>;
using ScopedMenu = ScopedHandle<NullEmptyTraits<HMENU, DestroyMenu>>;
using ScopedLibrary = ScopedHandle<NullEmptyTraits<HMODULE, FreeLibrary>>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;

}  // namespace qb

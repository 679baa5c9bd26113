// The common controls library (tooltips, progress bars) is loaded and its
// window classes registered the first time one of them is made, not at
// start-up: the first window does not wait for it.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "win/handles_win32.h"

namespace qb {

// Initialises the common controls once; later calls cost nothing.
void EnsureCommonControls();

struct ImageListTraits {
  using Handle = HIMAGELIST;
  static Handle Empty() { return nullptr; }
  static bool Free(Handle h) { return ImageList_Destroy(h) != FALSE; }
};
// An image list of our own, destroyed with its owner.
using ScopedImageList = ScopedHandle<ImageListTraits>;

}  // namespace qb

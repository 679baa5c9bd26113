#include "win/common_controls_win32.h"

#include <windows.h>
#include <commctrl.h>

namespace qb {

void EnsureCommonControls() {
  static bool done = false;
  if (done) return;
  done = true;
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
}

}  // namespace qb

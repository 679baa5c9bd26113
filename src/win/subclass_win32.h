// Window subclassing with a chain per window: several handlers, each with its
// own identifier and reference data, on one window, any of them removable at
// any time (also from inside its own handler), the next one reached through
// DefSubclass. The same contract as the common controls' subclassing, kept in
// the program so that the windows shown at start-up do not wait for that
// library to load.
#pragma once
#include <windows.h>

namespace qb {

using SubclassHandler = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM, UINT_PTR id, DWORD_PTR ref);

// Adds the handler on top of the window's chain; for a handler already there
// with the same identifier only its reference data changes. Windows of the
// calling thread only.
bool Subclass(HWND wnd, SubclassHandler handler, UINT_PTR id, DWORD_PTR ref);
// Takes the handler out; the window's own procedure comes back when the chain
// is empty and nobody has subclassed the window on top of it meanwhile.
bool Unsubclass(HWND wnd, SubclassHandler handler, UINT_PTR id);
// The reference data of the handler on the window, 0 when it is not there;
// from the window's thread (a look-up in the program, no call to the window
// system, unlike a window property).
DWORD_PTR SubclassData(HWND wnd, SubclassHandler handler, UINT_PTR id);
// From inside a handler: the next handler down the chain, else the window's
// own procedure.
LRESULT DefSubclass(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// How many handlers the window's chain holds (for tests).
int SubclassCount(HWND wnd);

}  // namespace qb

// Helpers of the in-process window tests: a host window, drawing a skin
// button into memory, text of controls.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "skin/skin_button_win32.h"
#include "win/gdi_win32.h"

namespace qb {
class CFavoritesApp;
class CMainDlg;
}  // namespace qb

namespace wintest {

// A visible top-level window at the screen's corner that hosts controls.
class HostWindow {
 public:
  HostWindow(int w = 400, int h = 200);
  ~HostWindow();
  HWND hwnd() const { return m_hwnd; }
  HWND AddButton(const wchar_t* caption, UINT id, int x, int y, int w, int h, DWORD style = BS_PUSHBUTTON);

 private:
  HWND m_hwnd = nullptr;
};

// The pixels a skin button draws for an owner-draw state.
struct Canvas {
  int w = 0, h = 0;
  std::vector<COLORREF> px;
  COLORREF At(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
  // How many pixels of a rectangle have exactly this colour.
  int Count(COLORREF c, const RECT& r) const;
  // Pixels within `tolerance` of the colour on every channel (smoothed text).
  int CountNear(COLORREF c, const RECT& r, int tolerance = 70) const;
};
Canvas Draw(qb::CSkinButton& button, UINT itemState = 0);
// The pixels of a DC's top-left `w` x `h`.
Canvas ReadCanvas(HDC dc, int w, int h);
// A fresh `w` x `h` surface like the screen's, to draw into.
void MakeSurface(qb::OffscreenBitmap& surface, int w, int h);

// Sends the mouse over a window's centre (or away from it) and delivers the move.
void MouseOver(HWND wnd);
void MouseAway(HWND wnd, WPARAM keys = 0);
// Runs the posted messages of this thread.
void Pump();
// Runs them (by `pump`, Pump when none) until `done` holds (true) or `ms`
// have passed (false).
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 8000, const std::function<void()>& pump = nullptr);
// Puts the mouse pointer at a screen point; false if it does not stay there.
bool PlaceCursor(int x, int y);

// The bytes of a 32x8 JPEG file: the left half red, the right half blue.
std::string RedBlueJpeg();
// A file's last-write time, and that time set on it (false when the file
// cannot be opened): for what a program does when a file changes.
FILETIME WriteTimeOf(const std::string& path);
bool SetWriteTime(const std::string& path, FILETIME when);

// A program folder of a test's own under `dir` (ending in '\\'): data,
// config, skin, head, and under profiles\ the desktop and Start-menu
// programs of the user and of "All Users"; with `favorites`, the user's
// Favorites folder too. Returns the user's profile folder.
std::string MakeProgramFolder(const std::string& dir, bool favorites);

// The program started as it starts for a user: from the program folder
// `folder`, with `home` as the user's home (the profile's folder). Fills `app`
// and returns its main window, or null when InitInstance failed or made none.
// StopProgram ends it, as the program's exit does, and drops the WM_QUIT the
// exit posts, so the next test's loops run.
qb::CMainDlg* StartProgram(std::unique_ptr<qb::CFavoritesApp>& app, const std::string& folder,
                           const std::string& home);
void StopProgram(std::unique_ptr<qb::CFavoritesApp>& app);

// Runs `action` once from inside the next modal loop of this thread (every
// box, dialog and menu loop dispatches a thread timer), then ends whatever
// box, dialog or menu made after this object is left, so that a test never
// hangs on one.
class InsideModalLoop {
 public:
  explicit InsideModalLoop(std::function<void()> action);
  ~InsideModalLoop();
  bool Ran() const { return m_ran; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  std::function<void()> m_action;
  std::vector<HWND> m_before;  // the thread's windows when it was made
  UINT_PTR m_timer = 0;
  bool m_ran = false;
};

std::wstring Text(HWND wnd);
std::wstring ItemText(HWND dlg, int id);

}  // namespace wintest

// The find box: a borderless pop-up owned by the main window, lying over the
// item panel, with a typing field and the list of what it finds (bookmarks of
// every category and program-folder entries). Enter or a click opens the
// chosen entry as a double click on its button does; Escape or a click
// elsewhere puts the box away.
#pragma once
#include <windows.h>

#include <map>
#include <vector>

#include "panels/find_logic.h"
#include "win/handles_win32.h"

namespace panels {

class CFindBox {
 public:
  CFindBox() = default;
  ~CFindBox();
  CFindBox(const CFindBox&) = delete;
  CFindBox& operator=(const CFindBox&) = delete;

  // Shows the box over `place` (screen pixels), owned by `owner`, with the
  // typing field empty and focused. The entries are read from the tree
  // again. False when the window could not be made.
  bool Open(HWND owner, const RECT& place, HFONT font);
  void Close();
  bool IsOpen() const { return m_hWnd && IsWindowVisible(m_hWnd); }
  HWND Window() const { return m_hWnd; }
  HWND Edit() const { return m_edit; }
  // Opens the selected entry and puts the box away.
  void OpenSelection();

 private:
  static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK ListProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  bool Make(HWND owner, HFONT font);
  void Layout(int width, int height);
  void Search();
  void MoveSelection(int by);
  void DrawRow(const DRAWITEMSTRUCT& d);
  HICON RowIcon(const FindEntry& e);

  HWND m_hWnd = nullptr;
  HWND m_edit = nullptr;
  HWND m_list = nullptr;
  HWND m_none = nullptr;
  HFONT m_font = nullptr;
  CFindIndex m_index;
  std::vector<FindHit> m_hits;
  std::map<const CMyNode*, qb::ScopedIcon> m_icons;
  qb::ScopedIcon m_defaultIcon;
  bool m_closing = false;
};

// How many results the box lists at most.
constexpr size_t kFindBoxRows = 200;

}  // namespace panels

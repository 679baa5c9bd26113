// CStaticLink: a static text that works as a hyperlink.
#pragma once
#include <windows.h>

#include <string>

#include "win/gdi_win32.h"

namespace qb {

class CStaticLink {
 public:
  static constexpr COLORREF kUnvisited = RGB(0, 0, 255);
  static constexpr COLORREF kVisited = RGB(128, 0, 128);
  static constexpr COLORREF kHover = RGB(255, 0, 0);

  // link: GBK target; empty means the string resource of the control's
  // identifier, else the control's text, looked up at click time.
  explicit CStaticLink(const std::string& link = std::string(), bool deleteOnDestroy = false);
  ~CStaticLink();
  CStaticLink(const CStaticLink&) = delete;
  CStaticLink& operator=(const CStaticLink&) = delete;

  bool SubclassDlgItem(UINT id, HWND parent);
  HWND GetSafeHwnd() const { return m_hWnd; }
  COLORREF Colour() const { return m_colour; }
  bool Hover() const { return m_hover; }
  std::string ResolveLink() const;
  // The shell call, replaceable by tests: returns the ShellExecute result.
  using OpenFn = INT_PTR (*)(const std::string& target);
  static void SetOpener(OpenFn fn);

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK ParentProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT CtlColor(HDC dc);
  void Redraw();

  HWND m_hWnd = nullptr;
  std::string m_link;
  COLORREF m_colour = kUnvisited;
  GdiFont m_font;  // the control's font, underlined
  bool m_hover = false;
  bool m_deleteOnDestroy = false;
};

}  // namespace qb

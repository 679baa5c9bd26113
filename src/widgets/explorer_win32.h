// CExplorer1: a window that hosts the system's web browser control, with a
// painted banner in its place when the system has no browser engine.
#pragma once
#include <windows.h>

#include <string>

struct IOleObject;
struct IDispatch;

namespace qb {

class CBrowserSite;

class CExplorer1 {
 public:
  CExplorer1() = default;
  ~CExplorer1();
  CExplorer1(const CExplorer1&) = delete;
  CExplorer1& operator=(const CExplorer1&) = delete;

  bool Create(const std::wstring& name, DWORD style, const RECT& rect, HWND parent, UINT id);
  // Without an engine a web address is only named in the painted banner; a
  // local page is shown there by its title.
  void Navigate(const std::string& gbkAddress);
  bool HasEngine() const { return m_browser != nullptr; }
  const std::string& Address() const { return m_address; }
  const std::wstring& BannerTitle() const { return m_title; }
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Tests and the command line can refuse the engine.
  static void DisableEngine(bool off);

 private:
  static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
  bool CreateEngine();
  void DestroyEngine();
  void PaintBanner(HDC dc);

  HWND m_hWnd = nullptr;
  CBrowserSite* m_site = nullptr;
  IOleObject* m_object = nullptr;
  IDispatch* m_browser = nullptr;
  bool m_oleHeld = false;  // OLE started for the engine
  std::string m_address;
  std::wstring m_title;
};

}  // namespace qb

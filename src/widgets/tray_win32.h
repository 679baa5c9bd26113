// CSystemTray: the program's icon in the notification area, with an
// animation that cycles through a list of icons.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "win/handles_win32.h"

namespace qb {

// Not copyable: it owns its icons and its window.
class CSystemTray {
 public:
  ~CSystemTray();
  // The tip is GBK; only its first 63 bytes are shown (cut at a character).
  bool Create(HWND owner, UINT callbackMessage, const std::string& tip, HICON icon, UINT id);
  bool SetIcon(HICON icon);
  // A balloon over the icon with a title and a GBK text (information icon).
  bool ShowBalloon(const std::string& title, const std::string& text);
  bool SetIconList(UINT firstId, UINT lastId);
  bool Animate(UINT intervalMs, int maxSeconds);
  void StopAnimation();
  // One animation step, as the timer does it; public for the timer seam.
  void OnTimer();

  bool Enabled() const { return m_enabled; }
  bool Animating() const { return m_timer != 0; }
  HICON CurrentIcon() const { return m_data.hIcon; }
  size_t IconCount() const { return m_icons.size(); }
  HICON ListIcon(size_t i) const { return i < m_icons.size() ? m_icons[i].Get() : nullptr; }
  std::string Tip() const;
  HWND Window() const { return m_hWnd; }

 private:
  static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
  void FreeIconList() { m_icons.clear(); }

  HWND m_hWnd = nullptr;
  bool m_enabled = false;
  NOTIFYICONDATAW m_data{};
  std::vector<ScopedIcon> m_icons;
  UINT_PTR m_timer = 0;
  size_t m_current = 0;
  unsigned m_start = 0;
  int m_maxSeconds = 0;
  HICON m_saved = nullptr;
};

// The first bytes of a GBK text, at most `limit`, never cutting a character.
std::string CutGbk(const std::string& text, size_t limit);

}  // namespace qb

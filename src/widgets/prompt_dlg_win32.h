// CPromptDlg: the progress prompt of a favorites transfer (template 185).
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "win/messages_win32.h"

namespace qb {

class CPromptDlg {
 public:
  CPromptDlg() = default;
  ~CPromptDlg();
  CPromptDlg(const CPromptDlg&) = delete;
  CPromptDlg& operator=(const CPromptDlg&) = delete;

  // Modeless; the user-interface thread gets WM_CLOSE_PROMPT when a button closes it.
  bool Create(HWND owner, DWORD uiThread);
  void SetCancelHandler(std::function<void()> cancel) { m_cancel = std::move(cancel); }
  void SetProgress(int pos, int range);
  void SetText(const std::string& gbk);
  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  void Close();

  HWND m_hWnd = nullptr;
  DWORD m_uiThread = 0;
  std::function<void()> m_cancel;
};

}  // namespace qb

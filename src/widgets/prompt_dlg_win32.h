// CPromptDlg: the progress prompt of a favorites transfer (template 185).
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "win/dialog_win32.h"
#include "win/messages_win32.h"

namespace qb {

class CPromptDlg : public CDialogWindow {
 public:
  // Modeless; the user-interface thread gets WM_CLOSE_PROMPT when a button
  // closes it, and deletes the object then.
  bool Create(HWND owner, DWORD uiThread);
  void SetCancelHandler(std::function<void()> cancel) { m_cancel = std::move(cancel); }
  void SetProgress(int pos, int range);
  void SetText(const std::string& gbk);

 private:
  INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void Close();

  DWORD m_uiThread = 0;
  std::function<void()> m_cancel;
};

}  // namespace qb

// The transfer progress prompt.
#include "widgets/prompt_dlg_win32.h"

#include <commctrl.h>

#include "../../res/resource.h"
#include "win/common_controls_win32.h"
#include "win/text_win32.h"

namespace qb {

bool CPromptDlg::Create(HWND owner, DWORD uiThread) {
  m_uiThread = uiThread;
  EnsureCommonControls();  // the progress bar
  return CDialogWindow::Create(IDD_PROMPT, owner);
}

void CPromptDlg::SetProgress(int pos, int range) {
  HWND bar = GetDlgItem(m_hWnd, IDC_PROMPT_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE32, 0, range);
  SendMessageW(bar, PBM_SETPOS, pos, 0);
}

void CPromptDlg::SetText(const std::string& gbk) { SetDlgItemTextW(m_hWnd, IDC_PROMPT_TEXT, W(gbk).c_str()); }

void CPromptDlg::Close() {
  DestroyQuietly();
  PostThreadMessageW(m_uiThread, WM_CLOSE_PROMPT, 0, 0);
}

INT_PTR CPromptDlg::DialogProc(UINT msg, WPARAM wParam, LPARAM) {
  if (msg != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDC_PROMPT_OK:
      Close();
      return TRUE;
    case IDC_PROMPT_CANCEL:
      if (m_cancel) m_cancel();
      Close();
      return TRUE;
  }
  return FALSE;
}

}  // namespace qb

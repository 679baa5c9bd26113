// The transfer progress prompt.
#include "widgets/prompt_dlg_win32.h"

#include <commctrl.h>

#include "../../res/resource.h"
#include "win/common_controls_win32.h"
#include "win/text_win32.h"

namespace qb {

CPromptDlg::~CPromptDlg() {
  if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

bool CPromptDlg::Create(HWND owner, DWORD uiThread) {
  m_uiThread = uiThread;
  EnsureCommonControls();  // the progress bar
  m_hWnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROMPT), owner, Proc,
                              reinterpret_cast<LPARAM>(this));
  return m_hWnd != nullptr;
}

void CPromptDlg::SetProgress(int pos, int range) {
  HWND bar = GetDlgItem(m_hWnd, IDC_PROMPT_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE32, 0, range);
  SendMessageW(bar, PBM_SETPOS, pos, 0);
}

void CPromptDlg::SetText(const std::string& gbk) { SetDlgItemTextW(m_hWnd, IDC_PROMPT_TEXT, W(gbk).c_str()); }

void CPromptDlg::Close() {
  HWND wnd = m_hWnd;
  m_hWnd = nullptr;
  if (wnd) DestroyWindow(wnd);
  PostThreadMessageW(m_uiThread, WM_CLOSE_PROMPT, 0, 0);
}

INT_PTR CALLBACK CPromptDlg::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(wnd, DWLP_USER, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<CPromptDlg*>(GetWindowLongPtrW(wnd, DWLP_USER));
  if (!self || msg != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDC_PROMPT_OK:
      self->Close();
      return TRUE;
    case IDC_PROMPT_CANCEL:
      if (self->m_cancel) self->m_cancel();
      self->Close();
      return TRUE;
  }
  return FALSE;
}

}  // namespace qb

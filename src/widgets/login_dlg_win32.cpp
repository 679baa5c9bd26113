// The login window.
#include "widgets/login_dlg_win32.h"

#include <shellapi.h>

#include "../../res/login_ids.h"
#include "win/messages_win32.h"
#include "win/text_win32.h"

namespace qb {

namespace {
const char kErrorCaption[] = "登陆出错提示";
}

CLoginDlg::CLoginDlg(CNetState& net, HWND mainWindow, std::string webHost)
    : m_net(net), m_main(mainWindow), m_webHost(std::move(webHost)) {}

bool CLoginDlg::Create() { return CDialogWindow::Create(IDD_LOGIN, m_main); }

bool CLoginDlg::OnInitDialog() {
  LoginDialogInit(m_net, m_data);
  m_filling = true;
  SendDlgItemMessageW(m_hWnd, IDC_LOGIN_USER, EM_LIMITTEXT, 10, 0);
  SendDlgItemMessageW(m_hWnd, IDC_LOGIN_PASSWORD, EM_LIMITTEXT, kMaxPassword, 0);
  SetDlgItemTextW(m_hWnd, IDC_LOGIN_USER, m_data.user ? W(FormatNumber(m_data.user)).c_str() : L"");
  SetDlgItemTextW(m_hWnd, IDC_LOGIN_PASSWORD, W(m_data.passwordBox).c_str());
  CheckDlgButton(m_hWnd, IDC_LOGIN_REMEMBER, m_data.rememberPassword ? BST_CHECKED : BST_UNCHECKED);
  m_filling = false;
  m_data.passwordEdited = false;
  return true;
}

void CLoginDlg::Refuse(const std::string& text) {
  MessageBoxW(m_hWnd, W(text).c_str(), W(kErrorCaption).c_str(), MB_OK | MB_ICONWARNING);
  // The box's loop may have closed this window (the tray's exit, a login
  // accepted meanwhile); the object itself stays until the program's loop.
  if (!m_hWnd) return;
  HWND number = GetDlgItem(m_hWnd, IDC_LOGIN_USER);
  SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(number), TRUE);
}

void CLoginDlg::OnOk() {
  std::string error;
  if (!LoginDialogTakeValues(WindowTextGbk(GetDlgItem(m_hWnd, IDC_LOGIN_USER)),
                             WindowTextGbk(GetDlgItem(m_hWnd, IDC_LOGIN_PASSWORD)), m_data, error))
    return Refuse(error);
  m_data.rememberPassword = IsDlgButtonChecked(m_hWnd, IDC_LOGIN_REMEMBER) == BST_CHECKED;
  // Asked here rather than by the login logic, so that the box belongs to
  // this window and leaves the disabled main window alone.
  if (m_data.user == 0) return Refuse("请填写用户号码");
  if (LoginDialogOk(m_net, m_data) == kLoginNeedNumber) return;
  SetWindowTextW(m_hWnd, W(m_data.title).c_str());
}

void CLoginDlg::CloseAndTell(bool openWizard) {
  HWND main = m_main;
  std::string site = "http://" + m_webHost + "/";
  DestroyQuietly();
  if (openWizard) ShellExecuteW(nullptr, L"open", W(site).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
  SendMessageW(main, WM_LOGIN_CLOSED, 0, 0);  // this object is gone afterwards
}

INT_PTR CLoginDlg::DialogProc(UINT msg, WPARAM wParam, LPARAM) {
  if (msg != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDC_LOGIN_PASSWORD:
      if (HIWORD(wParam) == EN_CHANGE && !m_filling) m_data.passwordEdited = true;
      return TRUE;
    case IDOK:  // Enter
    case IDC_LOGIN_OK:
      OnOk();
      return TRUE;
    case IDCANCEL:  // Escape and the close box
    case IDC_LOGIN_CANCEL:
      CloseAndTell(false);
      return TRUE;
    case IDC_LOGIN_WIZARD:
      CloseAndTell(true);
      return TRUE;
  }
  return FALSE;
}

}  // namespace qb

// CLoginDlg: the login window (template 184 "用户登录"). Modeless, owned by
// the main window, which is disabled while it is open. It shows the
// remembered number and password, sends the login on OK and stays open
// until the main window closes it on the server's answer, or the user
// cancels; either way the main window gets WM_LOGIN_CLOSED or closes it.
#pragma once
#include <windows.h>

#include <string>

#include "net/login.h"
#include "win/dialog_win32.h"

namespace qb {

class CLoginDlg : public CDialogWindow {
 public:
  // `webHost` names the site of the registration wizard.
  CLoginDlg(CNetState& net, HWND mainWindow, std::string webHost);
  bool Create();
  // What the controls held at the last OK (the tests read it).
  const LoginDialogData& Data() const { return m_data; }

 private:
  bool OnInitDialog() override;
  INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnOk();
  // Destroys the window and tells the main window, which deletes this
  // object before the call returns.
  void CloseAndTell(bool openWizard);
  void Refuse(const std::string& text);

  CNetState& m_net;
  HWND m_main;
  std::string m_webHost;
  LoginDialogData m_data;
  bool m_filling = false;  // the password box changes while the dialog fills it
};

}  // namespace qb

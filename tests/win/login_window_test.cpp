// The login window from the main window: opening, the remembered values, the
// server's two answers, cancelling, and the tray's transfer entries that the
// login opens.
#include <gtest/gtest.h>

#include "../../res/chat_ids.h"
#include "../../res/login_ids.h"
#include "../../res/resource.h"
#include "../../res/script_ids.h"
#include "app/chat_dlg_win32.h"
#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "script/key_script_dlg_win32.h"
#include "base/cipher.h"
#include "net/login.h"
#include "net_access.h"
#include "os/os.h"
#include "testutil.h"
#include "win/text_win32.h"
#include "win_test_util.h"

namespace {

// The pause after an accepted login: recorded, with the window's title as it
// stood then, instead of slept.
std::vector<uint32_t> g_sleeps;
std::wstring g_titleDuringPause;
HWND g_login = nullptr;
uint32_t Tick() { return GetTickCount(); }
void RecordSleep(uint32_t ms) {
  g_sleeps.push_back(ms);
  if (g_login) g_titleDuringPause = wintest::Text(g_login);
}

class LoginWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    wintest::MakeProgramFolder(dir.Path(), false);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\tavlo");
    g_sleeps.clear();
    g_titleDuringPause.clear();
    g_login = nullptr;
  }
  void Start() {
    main = wintest::StartProgram(app, dir.Path(), dir.Path() + "profiles\\" + os::UserName());
    ASSERT_TRUE(main);
    wnd = main->GetSafeHwnd();
    wintest::Pump();
  }
  void TearDown() override {
    os::SetClock(nullptr, nullptr);
    wintest::StopProgram(app);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\tavlo");
  }
  HWND OpenLogin() {
    SendMessageW(wnd, WM_COMMAND, IDC_LOGIN_BUTTON, 0);
    return main->LoginWindow() ? main->LoginWindow()->GetSafeHwnd() : nullptr;
  }
  bool AllEnabled(bool enabled) {
    for (HWND w : {wnd, main->TabPanel(), main->UrlPanel(), main->LnkPanel()})
      if ((IsWindowEnabled(w) != FALSE) != enabled) return false;
    return true;
  }
  UINT MenuState(HMENU menu, UINT id) { return GetMenuState(menu, id, MF_BYCOMMAND); }
  std::wstring MenuText(HMENU menu, UINT id) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, id, text, 128, MF_BYCOMMAND);
    return text;
  }

  qbtest::TempDir dir;
  std::unique_ptr<qb::CFavoritesApp> app;
  qb::CMainDlg* main = nullptr;
  HWND wnd = nullptr;
};

TEST_F(LoginWindowTest, OpensEmptyWithoutRememberedValuesAndCancelGivesTheWindowBack) {
  Start();
  HWND login = OpenLogin();
  ASSERT_TRUE(login);
  EXPECT_TRUE(IsWindowVisible(login));
  EXPECT_EQ(L"用户登录", wintest::Text(login));
  EXPECT_EQ(L"", wintest::ItemText(login, IDC_LOGIN_USER));
  EXPECT_EQ(L"", wintest::ItemText(login, IDC_LOGIN_PASSWORD));
  EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(login, IDC_LOGIN_REMEMBER));
  EXPECT_EQ(L"记住密码", wintest::ItemText(login, IDC_LOGIN_REMEMBER));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(login, IDC_LOGIN_INVISIBLE))) << "隐身登录 is never shown";
  EXPECT_EQ(L"确定", wintest::ItemText(login, IDC_LOGIN_OK));
  EXPECT_EQ(L"取消", wintest::ItemText(login, IDC_LOGIN_CANCEL));
  EXPECT_EQ(L"注册向导", wintest::ItemText(login, IDC_LOGIN_WIZARD));
  EXPECT_TRUE(GetWindowLongPtrW(GetDlgItem(login, IDC_LOGIN_PASSWORD), GWL_STYLE) & ES_PASSWORD);
  EXPECT_TRUE(AllEnabled(false)) << "the main window and its three panels wait for the login window";

  SendMessageW(login, WM_COMMAND, IDC_LOGIN_CANCEL, 0);
  EXPECT_FALSE(IsWindow(login));
  EXPECT_FALSE(main->LoginWindow());
  EXPECT_TRUE(AllEnabled(true));
  // The close box (IDCANCEL) does the same.
  login = OpenLogin();
  ASSERT_TRUE(login);
  SendMessageW(login, WM_COMMAND, IDCANCEL, 0);
  EXPECT_FALSE(main->LoginWindow());
  EXPECT_TRUE(AllEnabled(true));
}

TEST_F(LoginWindowTest, RememberedPasswordShowsThePlaceholderAndOkSendsTheStoredOne) {
  qb::CRegAccess reg;
  ASSERT_TRUE(reg.WriteString("id", "10001"));
  ASSERT_TRUE(reg.WriteDword("isSavePwd", 1));
  ASSERT_TRUE(reg.WriteString("password", qb::EncodeText("demo1234")));
  Start();
  HWND login = OpenLogin();
  ASSERT_TRUE(login);
  EXPECT_EQ(L"10001", wintest::ItemText(login, IDC_LOGIN_USER));
  EXPECT_EQ(L"1234567890", wintest::ItemText(login, IDC_LOGIN_PASSWORD));
  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(login, IDC_LOGIN_REMEMBER));
  qb::CNetState* net = app->Net();
  EXPECT_EQ("demo1234", net->Login().Password());

  // OK without touching the box: the stored password stays; the title asks to wait.
  SendMessageW(login, WM_COMMAND, IDC_LOGIN_OK, 0);
  EXPECT_EQ(L"正在登录中,请稍候。。。", wintest::Text(login));
  EXPECT_EQ("demo1234", net->Login().Password());
  EXPECT_EQ(10001, net->Login().User());
  EXPECT_FALSE(main->LoginWindow()->Data().passwordEdited);

  // Typing makes the box the password, and unticking forgets it in the registry.
  SetDlgItemTextW(login, IDC_LOGIN_PASSWORD, L"typed");
  CheckDlgButton(login, IDC_LOGIN_REMEMBER, BST_UNCHECKED);
  SendMessageW(login, WM_COMMAND, IDC_LOGIN_OK, 0);
  EXPECT_EQ("typed", net->Login().Password());
  std::string stored = "x";
  ASSERT_TRUE(reg.ReadString("password", stored));
  EXPECT_EQ("", stored);
  uint32_t save = 9;
  ASSERT_TRUE(reg.ReadDword("isSavePwd", save));
  EXPECT_EQ(0u, save);
}

TEST_F(LoginWindowTest, RefusedKeepsTheWindowAcceptedNamesTheUserAndCloses) {
  Start();
  os::SetClock(Tick, RecordSleep);
  HWND login = OpenLogin();
  ASSERT_TRUE(login);
  SetDlgItemTextW(login, IDC_LOGIN_USER, L"123456789");
  SetDlgItemTextW(login, IDC_LOGIN_PASSWORD, L"pw");
  SendMessageW(login, WM_COMMAND, IDC_LOGIN_OK, 0);
  EXPECT_EQ(123456789, app->Net()->Login().User());

  SendMessageW(wnd, qb::WM_LOGIN_RESULT, qb::kLoginRefused, 0);
  EXPECT_EQ(L"用户名与密码不符!", wintest::Text(login));
  EXPECT_TRUE(IsWindow(login));
  EXPECT_TRUE(AllEnabled(false));
  EXPECT_EQ(L"登录", wintest::ItemText(wnd, IDC_LOGIN_BUTTON));

  g_login = login;
  SendMessageW(wnd, qb::WM_LOGIN_RESULT, qb::kLoginAccepted, 0);
  EXPECT_EQ(std::vector<uint32_t>{680}, g_sleeps);
  EXPECT_EQ(L"登录成功!", g_titleDuringPause);
  EXPECT_FALSE(IsWindow(login));
  EXPECT_FALSE(main->LoginWindow());
  EXPECT_EQ(L"123456789", wintest::ItemText(wnd, IDC_LOGIN_BUTTON));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wnd, IDC_LOGIN_BUTTON)));
  EXPECT_TRUE(IsWindowEnabled(wnd));
  EXPECT_TRUE(IsWindowEnabled(main->TabPanel()));
}

// A login accepted after its window was cancelled still names the user on
// the button and disables it: the program would never send a second login.
TEST_F(LoginWindowTest, AcceptedAfterCancelStillDisablesTheButton) {
  Start();
  os::SetClock(Tick, RecordSleep);
  app->Net()->Login().SetUser(777);
  SendMessageW(wnd, qb::WM_LOGIN_RESULT, qb::kLoginAccepted, 0);
  EXPECT_TRUE(g_sleeps.empty()) << "no window, no pause";
  EXPECT_EQ(L"777", wintest::ItemText(wnd, IDC_LOGIN_BUTTON));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wnd, IDC_LOGIN_BUTTON)));
  EXPECT_TRUE(IsWindowEnabled(wnd));
  // A refusal without the window changes nothing.
  SendMessageW(wnd, qb::WM_LOGIN_RESULT, qb::kLoginRefused, 0);
  EXPECT_EQ(L"777", wintest::ItemText(wnd, IDC_LOGIN_BUTTON));
}

TEST_F(LoginWindowTest, TrayTransferEntriesAreGreyedUntilTheLoginIsTaken) {
  Start();
  HMENU tray = nullptr;
  qb::ScopedMenu resource = main->BuildTrayMenu(&tray);
  ASSERT_TRUE(tray);
  EXPECT_EQ(L"上传收藏夹到服务器", MenuText(tray, ID_TRAY_UPLOAD));
  EXPECT_EQ(L"从服务器下载收藏夹", MenuText(tray, ID_TRAY_DOWNLOAD));
  EXPECT_TRUE(MenuState(tray, ID_TRAY_UPLOAD) & MF_GRAYED);
  EXPECT_TRUE(MenuState(tray, ID_TRAY_DOWNLOAD) & MF_GRAYED);
  EXPECT_EQ(L"同步收藏夹", MenuText(tray, ID_TRAY_SYNC));
  EXPECT_TRUE(MenuState(tray, ID_TRAY_SYNC) & MF_GRAYED);
  EXPECT_EQ(L"添加当前网页到收藏夹", MenuText(tray, ID_TRAY_CAPTURE));
  EXPECT_FALSE(MenuState(tray, ID_TRAY_CAPTURE) & MF_GRAYED);

  qb::NetStateTestAccess::LoggedIn(*app->Net()) = true;
  resource = main->BuildTrayMenu(&tray);
  EXPECT_EQ(L"上传收藏夹到服务器", MenuText(tray, ID_TRAY_UPLOAD));
  EXPECT_EQ(L"从服务器下载收藏夹", MenuText(tray, ID_TRAY_DOWNLOAD));
  EXPECT_FALSE(MenuState(tray, ID_TRAY_UPLOAD) & MF_GRAYED);
  EXPECT_FALSE(MenuState(tray, ID_TRAY_DOWNLOAD) & MF_GRAYED);
  EXPECT_FALSE(MenuState(tray, ID_TRAY_SYNC) & MF_GRAYED);
}

// Without a web page engine (Wine has none here) the version notice opens nothing.
TEST_F(LoginWindowTest, VersionNoticeWithoutAnEngineOpensNothing) {
  Start();
  os::SetClock(Tick, RecordSleep);
  SendMessageW(wnd, qb::WM_NEW_VERSION, 0, 0);
  EXPECT_TRUE(g_sleeps.empty());
}

// ---- windows closed inside their own modal loops ---------------------------------
// The MinGW build has no AddressSanitizer: the window object under test lives
// on guarded pages (qbtest::GuardObjectsOfSize), where a read after its
// deletion is counted instead of passing unseen.

class ModalLoopTest : public LoginWindowTest {
 protected:
  // Makes the window object of `size` bytes through `open`, on guarded pages.
  HWND Guarded(size_t size, const std::function<HWND()>& open) {
    qbtest::GuardObjectsOfSize(size);
    HWND made = open();
    qbtest::GuardObjectsOfSize(0);
    usesBefore = qbtest::GuardedUsesAfterFree();
    return made;
  }
  // `inside` runs within the modal loop that `command` opens in `target`.
  void CommandWithModalLoop(HWND target, WPARAM command, const std::function<void()>& inside) {
    wintest::InsideModalLoop loop(inside);
    SendMessageW(target, WM_COMMAND, command, 0);
    EXPECT_TRUE(loop.Ran()) << "no modal loop ran";
  }
  void ExpectNoUseAfterFree() {
    EXPECT_EQ(usesBefore, qbtest::GuardedUsesAfterFree()) << "the window object was used after it was deleted";
  }
  HWND OpenChat() {
    SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_CHAT_BUTTON, BN_CLICKED), 0);
    return main->ChatWindow() ? main->ChatWindow()->GetSafeHwnd() : nullptr;
  }
  size_t usesBefore = 0;
};

// A login accepted inside the loop of the window's own message box (the
// number was left empty) closes the window; the object waits for the
// program's loop.
TEST_F(ModalLoopTest, LoginAcceptedWhileTheLoginWindowShowsABox) {
  Start();
  os::SetClock(Tick, RecordSleep);
  HWND login = Guarded(sizeof(qb::CLoginDlg), [&] { return OpenLogin(); });
  ASSERT_TRUE(login);
  CommandWithModalLoop(login, IDC_LOGIN_OK, [&] { SendMessageW(wnd, qb::WM_LOGIN_RESULT, qb::kLoginAccepted, 0); });
  ExpectNoUseAfterFree();
  EXPECT_FALSE(IsWindow(login));
  EXPECT_FALSE(main->LoginWindow());
  EXPECT_TRUE(AllEnabled(true));
  EXPECT_EQ(1u, qb::CDialogWindow::RetiredCount());
  qb::CDialogWindow::DeleteRetired();  // as the program's loop does
  EXPECT_EQ(0u, qb::CDialogWindow::RetiredCount());
  ExpectNoUseAfterFree();
  // Out of any modal loop a window object goes at once again.
  login = OpenLogin();
  ASSERT_TRUE(login);
  SendMessageW(login, WM_COMMAND, IDC_LOGIN_CANCEL, 0);
  EXPECT_EQ(0u, qb::CDialogWindow::RetiredCount());
}

// The tray's exit while the login window's box is up ends the program: the
// main window and the login window go, their objects when the loop is left.
TEST_F(ModalLoopTest, TrayExitWhileTheLoginWindowShowsABox) {
  Start();
  HWND login = Guarded(sizeof(qb::CLoginDlg), [&] { return OpenLogin(); });
  ASSERT_TRUE(login);
  CommandWithModalLoop(login, IDC_LOGIN_OK, [&] { SendMessageW(wnd, WM_COMMAND, ID_TRAY_EXIT, 0); });
  ExpectNoUseAfterFree();
  EXPECT_FALSE(IsWindow(login));
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_FALSE(app->MainWindow());
  app->ExitInstance();  // deletes what the exit left to the program's loop
  app.reset();
  ExpectNoUseAfterFree();
  EXPECT_EQ(0u, qb::CDialogWindow::RetiredCount());
}

// A circle reply closes the chat window while its font dialog or its
// send-key menu is open.
TEST_F(ModalLoopTest, ChatClosedWhileItsFontDialogOrSendKeyMenuIsOpen) {
  Start();
  for (WPARAM command : {WPARAM(IDC_CHAT_FONT), WPARAM(IDC_CHAT_SEND_KEY)}) {
    HWND chat = Guarded(sizeof(qb::CChatDialog), [&] { return OpenChat(); });
    ASSERT_TRUE(chat);
    CommandWithModalLoop(chat, command, [&] { SendMessageW(wnd, qb::WM_CLOSE_CHAT, 0, 0); });
    ExpectNoUseAfterFree();
    EXPECT_FALSE(IsWindow(chat)) << command;
    EXPECT_FALSE(main->ChatWindow()) << command;
    qb::CDialogWindow::DeleteRetired();
    ExpectNoUseAfterFree();
  }
  // A chat window opened again after that is marked open, and its
  // predecessor's late deletion does not mark it closed.
  HWND chat = OpenChat();
  ASSERT_TRUE(chat);
  CommandWithModalLoop(chat, IDC_CHAT_FONT, [&] {
    SendMessageW(wnd, qb::WM_CLOSE_CHAT, 0, 0);
    OpenChat();
  });
  ASSERT_TRUE(main->ChatWindow());
  qb::CDialogWindow::DeleteRetired();
  EXPECT_TRUE(app->Net()->Circles().ChatWindowOpen());
}

// The recorder outlives its item (deleted, or the favorites file switched,
// during the recording): stopping saves nothing and marks no freed node.
TEST_F(ModalLoopTest, RecorderStoppedAfterItsItemWasDeleted) {
  Start();
  qbtest::GuardObjectsOfSize(sizeof(CMyNode));
  std::unique_ptr<CMyNode> item(new CMyNode);
  qbtest::GuardObjectsOfSize(0);
  usesBefore = qbtest::GuardedUsesAfterFree();
  item->m_strName = "Mail";
  item->m_nKind = UrlItem;
  int recorded = 0;
  HWND recorder = script::CreateRecorder(item.get(), nullptr, [&] { ++recorded; });
  ASSERT_TRUE(recorder);
  item.reset();
  SendMessageW(recorder, WM_COMMAND, MAKEWPARAM(IDC_SCRIPT_STOP_RECORD, BN_CLICKED), 0);
  ExpectNoUseAfterFree();
  EXPECT_EQ(L"录制后存盘失败!", wintest::ItemText(recorder, IDC_SCRIPT_STATUS));
  EXPECT_FALSE(os::FileExists(dir.Path() + "script\\url\\Mail"));
  EXPECT_EQ(0, recorded);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(recorder, IDC_SCRIPT_RECORD)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(recorder, IDC_SCRIPT_PLAY)));
  SendMessageW(recorder, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(recorder));
}

}  // namespace

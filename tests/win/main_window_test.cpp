// The application and its main window in this process, in a program folder of
// the test's own: controls, menus, modes, favorites files, hiding, the tray,
// skin changes and the save on exit.
#include <gtest/gtest.h>

#include "../../res/resource.h"
#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "os/net.h"
#include "os/os.h"
#include "panels/site_icon.h"
#include "skin/skin.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "testutil.h"
#include "net_access.h"
#include "widgets/prompt_dlg_win32.h"
#include "win/text_win32.h"
#include "win_test_util.h"

namespace {

using qb::CMainDlg;

// One web category with items whose visit counts are given.
void WriteFavorites(const std::string& dataDir, const std::string& file, const std::string& category,
                    const std::vector<std::pair<std::string, int>>& items) {
  CMyNodeList list;
  CMyNode* cat = new CMyNode;
  cat->m_strName = category;
  cat->m_nKind = UrlCategory;
  ASSERT_TRUE(list.AddNode(cat));
  int slot = 0;
  for (const auto& it : items) {
    CMyNode* n = new CMyNode;
    n->m_strName = it.first;
    n->m_strAddress = "http://www.example.com/" + std::to_string(slot);
    n->m_nKind = UrlItem;
    n->m_pParent = cat;
    n->m_nVisits = it.second;
    n->m_nSlot = slot++;
    ASSERT_TRUE(list.AddNode(n));
  }
  ASSERT_TRUE(SaveFavoritesFile(list, dataDir, file));
}

void WriteSkin(const std::string& folder, COLORREF normalBack, const std::string& image) {
  qb::SkinSet skins;
  qb::ResetSkins(skins);
  for (auto& s : skins) {
    s.m_clrNormalBack = normalBack;
    s.m_strImagePath = image;
  }
  qbtest::WriteFileBytes(folder + "MySkin.db", qb::EncodeSkinRecords(skins));
}

std::vector<std::pair<UINT, std::wstring>> MenuItems(HMENU menu) {
  std::vector<std::pair<UINT, std::wstring>> out;
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
    wchar_t text[256] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
    out.emplace_back(GetMenuItemID(menu, i), text);
  }
  return out;
}

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string p = dir.Path();
    wintest::MakeProgramFolder(p, true);
    WriteFavorites(p + "data\\", "1-我的收藏.sc", "新闻", {{"甲站.url", 9}, {" 乙站 ", 5}, {"丙站", 1}});
    WriteFavorites(p + "data\\", "B.sc", "工作", {{"邮件", 3}, {"日程", 7}});
    os::CreateFolder(p + "skin\\红皮");
    WriteSkin(p + "skin\\红皮\\", RGB(200, 30, 30), "none.bmp");
    WriteSkin(p + "skin\\", RGB(30, 200, 30), "none.bmp");
  }
  // The program started in the test's folder; Start also lets its loop run.
  void StartBeforeTheLoop() {
    main = wintest::StartProgram(app, dir.Path(), dir.Path() + "profiles\\" + os::UserName());
    ASSERT_TRUE(main);
    wnd = main->GetSafeHwnd();
  }
  void Start() {
    StartBeforeTheLoop();
    wintest::Pump();
  }
  void TearDown() override { wintest::StopProgram(app); }
  COLORREF ButtonColour(int id, int index) {
    return qb::CSkinButton::FromHandle(GetDlgItem(wnd, id))->GetColor(index);
  }

  qbtest::TempDir dir;
  std::unique_ptr<qb::CFavoritesApp> app;
  CMainDlg* main = nullptr;
  HWND wnd = nullptr;
};

TEST_F(MainWindowTest, ControlsCaptionsAndShape) {
  Start();
  EXPECT_TRUE(IsWindowVisible(wnd));
  EXPECT_EQ(L"", wintest::Text(wnd));
  EXPECT_TRUE(SendMessageW(wnd, WM_GETICON, ICON_BIG, 0)) << "the program icon, set once the window is up";
  EXPECT_TRUE(SendMessageW(wnd, WM_GETICON, ICON_SMALL, 0));
  LONG_PTR style = GetWindowLongPtrW(wnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE((style & WS_CAPTION) == WS_CAPTION);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE(GetWindowLongPtrW(wnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  RECT want = {0, 0, 588, 421}, client;
  MapDialogRect(wnd, &want);
  GetClientRect(wnd, &client);
  EXPECT_EQ(want.right, client.right);
  EXPECT_EQ(want.bottom, client.bottom);

  EXPECT_EQ(L"设置", wintest::ItemText(wnd, IDC_SETTINGS_BUTTON));
  EXPECT_EQ(L"变脸", wintest::ItemText(wnd, IDC_SKIN_BUTTON));
  EXPECT_EQ(L"登录", wintest::ItemText(wnd, IDC_LOGIN_BUTTON));
  EXPECT_EQ(L"圈友", wintest::ItemText(wnd, IDC_CHAT_BUTTON));
  EXPECT_EQ(L"Go", wintest::ItemText(wnd, IDC_TOP_VISITED_BUTTON));
  EXPECT_EQ(L"_", wintest::ItemText(wnd, IDC_HIDE_BUTTON));
  EXPECT_EQ(L"X", wintest::ItemText(wnd, IDC_EXIT_BUTTON));
  EXPECT_EQ(L"程序夹", wintest::ItemText(wnd, IDC_FOLDER_BUTTON));
  EXPECT_EQ(L"", wintest::ItemText(wnd, IDC_HELP_BUTTON));
  EXPECT_TRUE(GetDlgItem(wnd, IDC_BANNER));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(wnd, IDC_BANNER)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(wnd, IDC_OPEN_ALL_BROWSER)));
  for (int id : {IDC_SETTINGS_BUTTON, IDC_FOLDER_BUTTON, IDC_EXIT_BUTTON, IDC_HIDE_BUTTON})
    EXPECT_TRUE(qb::CSkinButton::FromHandle(GetDlgItem(wnd, id))) << id;
  // The function buttons wear the current skin's area 0.
  EXPECT_EQ(RGB(30, 200, 30), ButtonColour(IDC_SETTINGS_BUTTON, 2));
  EXPECT_TRUE(IsWindowVisible(main->TabPanel()));
  EXPECT_TRUE(IsWindowVisible(main->UrlPanel()));
  EXPECT_FALSE(IsWindowVisible(main->LnkPanel()));
}

TEST_F(MainWindowTest, TransferCommandOpensThePromptAndItsCloseIsHandled) {
  Start();
  MSG command = {};
  command.message = WM_COMMAND;
  command.wParam = ID_TRAY_UPLOAD;
  ASSERT_TRUE(app->OnThreadMessage(command));
  ASSERT_TRUE(app->Prompt());
  HWND prompt = app->Prompt()->GetSafeHwnd();
  ASSERT_TRUE(IsWindow(prompt));
  EXPECT_EQ(L"您未登录,请先登录!", wintest::ItemText(prompt, IDC_PROMPT_TEXT));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(prompt, IDC_PROMPT_OK)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(prompt, IDC_PROMPT_CANCEL)));
  // A second command while the prompt is open changes nothing.
  command.wParam = ID_TRAY_DOWNLOAD;
  app->OnThreadMessage(command);
  EXPECT_EQ(prompt, app->Prompt()->GetSafeHwnd());
  // OK closes it; the close message frees it and a new command may open one again.
  SendMessageW(prompt, WM_COMMAND, IDC_PROMPT_OK, 0);
  MSG closed = {};
  ASSERT_TRUE(PeekMessageW(&closed, reinterpret_cast<HWND>(-1), qb::WM_CLOSE_PROMPT, qb::WM_CLOSE_PROMPT, PM_REMOVE));
  ASSERT_TRUE(app->OnThreadMessage(closed));
  EXPECT_FALSE(app->Prompt());
  ASSERT_TRUE(app->OnThreadMessage(command));
  ASSERT_TRUE(app->Prompt());
  EXPECT_EQ(L"您未登录,请先登录!", wintest::ItemText(app->Prompt()->GetSafeHwnd(), IDC_PROMPT_TEXT));
}

std::vector<std::pair<std::string, unsigned>> g_appBoxes;
int RecordAppBox(const std::string& gbkText, unsigned flags) {
  g_appBoxes.emplace_back(gbkText, flags);
  return IDOK;
}

// The progress prompt is made before the request goes out: when it cannot
// be made the user is told and no transfer runs unseen.
TEST_F(MainWindowTest, TheTransferPromptIsMadeBeforeTheRequestIsSent) {
  Start();
  qb::CNetState* net = app->Net();
  ASSERT_TRUE(net);
  qb::NetStateTestAccess::LoggedIn(*net) = true;
  net->Sender().m_serverAddress = qb::MakeAddress(127, 0, 0, 1);
  qb::CFavoritesApp::SetBoxHook(RecordAppBox);
  MSG command = {};
  command.message = WM_COMMAND;
  command.wParam = ID_TRAY_UPLOAD;
  using Fault = qb::CFavoritesApp::PromptFault;
  const std::pair<Fault, std::string> cases[] = {{Fault::kNoMemory, "主窗口申请空间失败，按确认退出！"},
                                                 {Fault::kCreate, "创建主窗口失败，按确认退出！"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    g_appBoxes.clear();
    app->FailPrompt(c.first);
    ASSERT_TRUE(app->OnThreadMessage(command));
    ASSERT_EQ(1u, g_appBoxes.size());
    EXPECT_EQ(c.second, g_appBoxes[0].first);
    EXPECT_EQ(static_cast<unsigned>(MB_OK | MB_ICONHAND), g_appBoxes[0].second);
    EXPECT_FALSE(app->Prompt());
    EXPECT_EQ(0, net->Transfer().Mode()) << "no transfer runs";
    EXPECT_EQ(0, net->Sender().m_nCounter) << "no request was sent";
  }
  // With its prompt the upload starts.
  g_appBoxes.clear();
  app->FailPrompt(Fault::kNone);
  ASSERT_TRUE(app->OnThreadMessage(command));
  EXPECT_TRUE(g_appBoxes.empty());
  ASSERT_TRUE(app->Prompt());
  EXPECT_EQ(L"正在上传......", wintest::ItemText(app->Prompt()->GetSafeHwnd(), IDC_PROMPT_TEXT));
  EXPECT_TRUE(IsWindowVisible(app->Prompt()->GetSafeHwnd()));
  EXPECT_EQ(1, net->Transfer().Mode());
  EXPECT_EQ(1, net->Sender().m_nCounter);
  net->Transfer().CancelTransfer();
  qb::NetStateTestAccess::LoggedIn(*net) = false;
  qb::CFavoritesApp::SetBoxHook(nullptr);
}

TEST_F(MainWindowTest, BannerAndFileBoxStayVisibleAboveThePanels) {
  Start();
  RECT banner, filebox, items, tabs;
  GetWindowRect(GetDlgItem(wnd, IDC_BANNER), &banner);
  GetWindowRect(GetDlgItem(wnd, IDC_FILE_BOX), &filebox);
  GetWindowRect(main->UrlPanel(), &items);
  GetWindowRect(main->TabPanel(), &tabs);
  EXPECT_LE(banner.bottom, items.top);
  EXPECT_GT(banner.bottom - banner.top, 20) << "the banner keeps its visible band";
  // Of the file box, at most its lower frame slips under the category panel.
  EXPECT_LE(filebox.bottom - tabs.top, 4);
  EXPECT_GE(filebox.top, banner.top);
}

// The file box's fit above the category panel: its field lowered by what
// the box reaches past the panel (not under 12 pixels), then, if it still
// does, the box moved up, but not above the window's top.
TEST(FileBoxFit, LowersTheFieldThenMovesTheBoxUp) {
  struct Case {
    int top, height, field, limit;
    qb::FileBoxFit want;
  } cases[] = {
      {3, 20, 14, 30, {3, 20, 14}},   // above the panel already
      {10, 20, 16, 28, {10, 18, 14}},  // lowered by the 2 pixels over
      {3, 20, 14, 16, {0, 18, 12}},   // lowered to 12, then moved up
      {0, 20, 14, 16, {0, 18, 12}},   // at the top: stays, its frame under the panel
  };
  for (const Case& c : cases) {
    qb::FileBoxFit fit = qb::FitFileBox(c.top, c.height, c.field, c.limit);
    EXPECT_EQ(c.want.top, fit.top) << c.top << " " << c.limit;
    EXPECT_EQ(c.want.height, fit.height) << c.top << " " << c.limit;
    EXPECT_EQ(c.want.field, fit.field) << c.top << " " << c.limit;
  }
}

// The box that says the link ports are taken is the window's own and lies
// over the panels, also when they are shown again over their window while
// it is up (the box's loop runs that, as it runs the start's later steps).
HWND g_boxOwner = nullptr;
int g_boxTicks = 0;
bool g_boxOwned = false, g_boxOnTop = false;
void CALLBACK LookAtTheBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = nullptr;  // a message box of this thread, owned or not
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM found) {
        if (!IsWindowVisible(w) || wintest::Text(w) != L"Qimbo收藏" || !GetDlgItem(w, IDOK)) return TRUE;
        *reinterpret_cast<HWND*>(found) = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&box));
  if (!box || ++g_boxTicks < 2) {
    if (box) SendMessageW(g_boxOwner, qb::WM_RESTACK_PANELS, 0, 0);
    return;
  }
  g_boxOwned = GetWindow(box, GW_OWNER) == g_boxOwner && !IsWindowEnabled(g_boxOwner);
  g_boxOnTop = true;
  for (HWND w = GetWindow(box, GW_HWNDPREV); w; w = GetWindow(w, GW_HWNDPREV))
    if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == g_boxOwner) g_boxOnTop = false;
  KillTimer(nullptr, timer);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST_F(MainWindowTest, ThePortsBoxOfTheStartLiesOverThePanels) {
  ASSERT_TRUE(os::NetStartup());
  os::CUdpSocket taken;
  ASSERT_TRUE(taken.Open() && taken.Bind(0, 27232));
  qb::CFavoritesApp::SetBoxHook(nullptr);
  StartBeforeTheLoop();
  g_boxOwner = wnd;
  g_boxTicks = 0;
  g_boxOwned = g_boxOnTop = false;
  UINT_PTR timer = SetTimer(nullptr, 0, 100, LookAtTheBox);
  EXPECT_TRUE(wintest::PumpUntil([] { return g_boxTicks >= 2; }, 20000)) << "no box";
  KillTimer(nullptr, timer);
  EXPECT_TRUE(g_boxOwned) << "a box of the window, which waits for it";
  EXPECT_TRUE(g_boxOnTop) << "a panel lies over the box";
  taken.Close();
}

TEST_F(MainWindowTest, FileBoxListsTheFavoritesFilesAndSwitchingLoadsTheChosenOne) {
  Start();
  HWND box = GetDlgItem(wnd, IDC_FILE_BOX);
  ASSERT_EQ(2, SendMessageW(box, CB_GETCOUNT, 0, 0));
  std::vector<std::wstring> names;
  for (int i = 0; i < 2; ++i) {
    wchar_t t[64] = {};
    SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(t));
    names.push_back(t);
  }
  std::vector<std::wstring> want;
  std::vector<os::DirEntry> files;
  os::ListFolder(dir / "data\\", "*.sc", files);
  for (const auto& f : files)
    if (f.name != "." && f.name != "..") want.push_back(qb::W(f.name.substr(0, f.name.size() - 3)));
  EXPECT_EQ(want, names) << "in the order the folder lists them";
  wchar_t sel[64] = {};
  SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(SendMessageW(box, CB_GETCURSEL, 0, 0)), reinterpret_cast<LPARAM>(sel));
  EXPECT_EQ(std::wstring(L"1-我的收藏"), sel);

  LRESULT b = SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"B"));
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(b), 0);
  SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_FILE_BOX, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
  EXPECT_EQ("B.sc", app->Logic()->m_strCurrentFile);
  auto items = MenuItems(main->TopVisitedMenu());
  ASSERT_EQ(4u, items.size());
  EXPECT_EQ(L"邮件", items[0].second);
  EXPECT_EQ(L"日程", items[1].second);
  EXPECT_EQ(L"程序夹", wintest::ItemText(wnd, IDC_FOLDER_BUTTON));
}

TEST_F(MainWindowTest, TopVisitedMenuRunsFromLeastToMostVisitedWithCleanNames) {
  Start();
  auto items = MenuItems(main->TopVisitedMenu());
  ASSERT_EQ(5u, items.size());
  EXPECT_EQ(3503u, items[0].first);
  EXPECT_EQ(L"丙站", items[0].second);
  EXPECT_EQ(3502u, items[1].first);
  EXPECT_EQ(L"乙站", items[1].second) << "blanks trimmed";
  EXPECT_EQ(3501u, items[2].first);
  EXPECT_EQ(L"甲站", items[2].second) << ".url removed";
  EXPECT_EQ(3500u, items[4].first);
  EXPECT_EQ(L"点击排行榜~Qimbo收藏", items[4].second);

  std::vector<std::string> forty;
  for (int i = 0; i < 40; ++i) forty.push_back("site" + std::to_string(i));
  qb::ScopedMenu big = CMainDlg::BuildTopVisitedMenu(forty);
  auto all = MenuItems(big.Get());
  ASSERT_EQ(40u, all.size());
  EXPECT_EQ(3538u, all[0].first);
  EXPECT_EQ(L"site37", all[0].second);
  EXPECT_EQ(3501u, all[37].first);
}

TEST_F(MainWindowTest, SkinMenuTakesAtMost200SkinFolders) {
  for (int i = 0; i < 204; ++i) os::CreateFolder(dir / ("skin\\s" + std::to_string(1000 + i)));
  qbtest::WriteFileBytes(dir / "skin\\file-without-dot", "x");
  Start();
  auto items = MenuItems(main->SkinMenu());
  ASSERT_EQ(202u, items.size());
  EXPECT_EQ(3800u, items[0].first);
  EXPECT_EQ(L"设置中可定制皮肤", items[0].second);
  EXPECT_EQ(4000u, items[2].first);
  EXPECT_EQ(3801u, items[201].first);
  for (const auto& it : items) EXPECT_NE(L"file-without-dot", it.second);
}

TEST_F(MainWindowTest, ChangingTheSkinRepaintsTheButtonsAndMakesItCurrent) {
  Start();
  auto items = MenuItems(main->SkinMenu());
  ASSERT_EQ(3u, items.size());
  ASSERT_EQ(L"红皮", items[2].second);
  SendMessageW(wnd, WM_COMMAND, items[2].first, 0);
  wintest::Pump();
  EXPECT_EQ(RGB(200, 30, 30), ButtonColour(IDC_SETTINGS_BUTTON, 2));
  EXPECT_EQ(RGB(200, 30, 30), ButtonColour(IDC_FOLDER_BUTTON, 2));
  EXPECT_EQ(dir / "skin\\红皮\\none.bmp", app->Skins()[0].m_strImagePath);
  // The current skin file now holds the chosen skin.
  qb::SkinSet reread;
  qb::ResetSkins(reread);
  qbtest::CRecordingUi ui;
  ASSERT_EQ(1, qb::LoadSkin(dir.Path(), "", reread, &ui));
  EXPECT_EQ(static_cast<qb::Colour>(RGB(200, 30, 30)), reread[0].m_clrNormalBack);
  EXPECT_TRUE(IsWindowVisible(wnd));
}

TEST_F(MainWindowTest, FolderButtonSwitchesBetweenTheTwoFolders) {
  Start();
  SendMessageW(wnd, WM_COMMAND, IDC_FOLDER_BUTTON, 0);
  EXPECT_EQ(qb::kModeProgram, main->Mode());
  EXPECT_EQ(L"网址夹", wintest::ItemText(wnd, IDC_FOLDER_BUTTON));
  EXPECT_TRUE(IsWindowVisible(main->LnkPanel()));
  EXPECT_FALSE(IsWindowVisible(main->UrlPanel()));
  SendMessageW(wnd, WM_COMMAND, IDC_FOLDER_BUTTON, 0);
  EXPECT_EQ(qb::kModeWeb, main->Mode());
  EXPECT_EQ(L"程序夹", wintest::ItemText(wnd, IDC_FOLDER_BUTTON));
  EXPECT_TRUE(IsWindowVisible(main->UrlPanel()));
  EXPECT_FALSE(IsWindowVisible(main->LnkPanel()));
}

TEST_F(MainWindowTest, CloseHidesEverythingAndTheTrayBringsItBack) {
  Start();
  SendMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(IsWindow(wnd));
  EXPECT_FALSE(IsWindowVisible(wnd));
  EXPECT_FALSE(IsWindowVisible(main->TabPanel()));
  EXPECT_FALSE(IsWindowVisible(main->UrlPanel()));
  HMENU tray = nullptr;
  qb::ScopedMenu resource = main->BuildTrayMenu(&tray);
  auto items = MenuItems(tray);
  std::vector<UINT> ids;
  for (const auto& it : items)
    if (it.first) ids.push_back(it.first);
  EXPECT_EQ((std::vector<UINT>{32810, 32808, 32816, 32817, 32818, 32809, 32812, 32811}), ids);
  for (const auto& it : items) {
    if (it.first == ID_TRAY_SHOW) {
      EXPECT_EQ(L"显示(&S)", it.second);
    }
  }
  SendMessageW(wnd, qb::WM_TRAY_NOTIFY, IDR_TRAY_MENU, WM_LBUTTONDOWN);
  EXPECT_TRUE(IsWindowVisible(wnd));
  EXPECT_TRUE(IsWindowVisible(main->TabPanel()));
  resource = main->BuildTrayMenu(&tray);
  wchar_t text[64] = {};
  GetMenuStringW(tray, ID_TRAY_SHOW, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(std::wstring(L"隐藏(&H)"), text);
  // The "_" button hides as well, and the tray's 显示 entry toggles back.
  SendMessageW(wnd, WM_COMMAND, IDC_HIDE_BUTTON, 0);
  EXPECT_FALSE(IsWindowVisible(wnd));
  SendMessageW(wnd, WM_COMMAND, ID_TRAY_SHOW, 0);
  EXPECT_TRUE(IsWindowVisible(wnd));
}

TEST_F(MainWindowTest, MessagesWhileTheChatIsClosedFlashTheTrayByTheirRules) {
  Start();
  app->Config().chatTip = 0;
  SendMessageW(wnd, qb::WM_CHAT_ARRIVED, 0, 0);
  EXPECT_FALSE(main->ChatPending()) << "chat lines need the tip flag";
  SendMessageW(wnd, qb::WM_PLAZA_ARRIVED, 0, 0);
  EXPECT_TRUE(main->ChatPending()) << "plaza lines flash regardless";
  EXPECT_TRUE(main->Tray().Animating());
  HICON plaza = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PLAZA_FIRST), IMAGE_ICON, 0, 0, 0));
  EXPECT_EQ(2u, main->Tray().IconCount());
  DestroyIcon(plaza);
  // A left click on the tray icon while a flash is pending stops it, keeps
  // the window and opens the chat window.
  SendMessageW(wnd, qb::WM_TRAY_NOTIFY, IDR_TRAY_MENU, WM_LBUTTONDOWN);
  EXPECT_FALSE(main->ChatPending());
  EXPECT_FALSE(main->Tray().Animating());
  EXPECT_TRUE(IsWindowVisible(wnd));
  ASSERT_TRUE(main->ChatWindow());
  // While it is open the lines go to it, and nothing flashes.
  SendMessageW(wnd, qb::WM_PLAZA_ARRIVED, 0, 0);
  EXPECT_FALSE(main->ChatPending());
  SendMessageW(wnd, qb::WM_CLOSE_CHAT, 0, 0);
  EXPECT_FALSE(main->ChatWindow());
  app->Config().chatTip = 1;
  SendMessageW(wnd, qb::WM_CHAT_ARRIVED, 0, 0);
  EXPECT_TRUE(main->ChatPending());
}

TEST_F(MainWindowTest, ExitSavesTheCurrentFavoritesFileAndQuits) {
  Start();
  CMyNode* item = app->Logic()->FindNode("丙站", UrlItem);
  ASSERT_TRUE(item);
  item->m_nVisits = 77;
  SendMessageW(wnd, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_EQ(nullptr, app->MainWindow());
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the loop is told to end";
  CMyNodeList reread;
  ASSERT_TRUE(LoadFavoritesFile(reread, dir / "data\\1-我的收藏.sc"));
  CMyNode* saved = reread.FindNode("丙站", UrlItem);
  ASSERT_TRUE(saved);
  EXPECT_EQ(77, saved->m_nVisits);
}

TEST_F(MainWindowTest, ASecondCopyEndsAtOnceWithoutABrowserWindow) {
  Start();
  qb::CFavoritesApp second;
  EXPECT_FALSE(second.InitInstance());
  EXPECT_EQ(nullptr, second.MainWindow());
  EXPECT_EQ(nullptr, second.Logic());
  second.ExitInstance();
  EXPECT_TRUE(IsWindowVisible(wnd));
}

}  // namespace

namespace {

struct AboutSeen {
  std::wstring title, version, slogan, site, mail;
  bool siteIsLink = false, found = false;
};
AboutSeen g_about;

void CALLBACK InspectAbout(HWND, UINT, UINT_PTR id, DWORD) {
  HWND about = FindWindowW(L"#32770", L"Qimbo");
  if (!about) return;
  KillTimer(nullptr, id);
  g_about.found = true;
  g_about.title = wintest::Text(about);
  g_about.site = wintest::ItemText(about, IDC_SITE_LINK);
  g_about.mail = wintest::ItemText(about, IDC_MAIL_LINK);
  g_about.siteIsLink = (GetWindowLongPtrW(GetDlgItem(about, IDC_SITE_LINK), GWL_STYLE) & SS_NOTIFY) != 0;
  for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    std::wstring t = wintest::Text(c);
    if (t == L"Qimbo收藏V1.06") g_about.version = t;
    if (t == L"Qimbo收藏，助您驰骋五湖四海") g_about.slogan = t;
  }
  PostMessageW(about, WM_COMMAND, IDOK, 0);
}

TEST_F(MainWindowTest, AboutBoxShowsTheVersionSloganAndTwoLinks) {
  Start();
  g_about = AboutSeen();
  SetTimer(nullptr, 0, 50, InspectAbout);
  SendMessageW(wnd, WM_COMMAND, ID_TRAY_ABOUT, 0);  // returns when the box is closed
  ASSERT_TRUE(g_about.found);
  EXPECT_EQ(L"Qimbo", g_about.title);
  EXPECT_EQ(L"Qimbo收藏V1.06", g_about.version);
  EXPECT_EQ(L"Qimbo收藏，助您驰骋五湖四海", g_about.slogan);
  EXPECT_FALSE(g_about.site.empty());
  EXPECT_FALSE(g_about.mail.empty());
  EXPECT_TRUE(g_about.siteIsLink);
  EXPECT_TRUE(IsWindowVisible(wnd));
}

}  // namespace

namespace {

// A 24-bit bottom-up bitmap file of one colour.
std::string SolidBitmapFile(int w, int h, COLORREF colour) {
  int row = (w * 3 + 3) & ~3;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(row * h);
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
  bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
  std::string line(static_cast<size_t>(row), '\0');
  for (int x = 0; x < w; ++x) {
    line[static_cast<size_t>(x) * 3] = static_cast<char>(GetBValue(colour));
    line[static_cast<size_t>(x) * 3 + 1] = static_cast<char>(GetGValue(colour));
    line[static_cast<size_t>(x) * 3 + 2] = static_cast<char>(GetRValue(colour));
  }
  for (int y = 0; y < h; ++y) bytes += line;
  return bytes;
}

}  // namespace

// The background image and the tray icon wait until the window is up; the
// first paint still shows the image, and a flash before the tray icon came
// brings it along.
TEST_F(MainWindowTest, BackgroundAndTrayThatWaitForTheWindowStillCome) {
  const COLORREF blue = RGB(10, 120, 240);
  std::string image = dir.Path() + "skin\\back.bmp";
  qbtest::WriteFileBytes(image, SolidBitmapFile(300, 300, blue));
  WriteSkin(dir.Path() + "skin\\", RGB(30, 200, 30), image);
  StartBeforeTheLoop();
  EXPECT_TRUE(IsWindowVisible(wnd));
  EXPECT_FALSE(main->Tray().Enabled()) << "the tray icon comes after the window is shown";
  EXPECT_FALSE(app->NetworkStarted()) << "the links start after the window is shown";
  // A flash asked for before then makes the tray icon to flash it.
  SendMessageW(wnd, qb::WM_PLAZA_ARRIVED, 0, 0);
  EXPECT_TRUE(main->Tray().Enabled());
  EXPECT_TRUE(main->Tray().Animating());
  EXPECT_EQ("Qimbo收藏", main->Tray().Tip());
  wintest::Pump();
  EXPECT_TRUE(main->Tray().Animating()) << "the late start-up step leaves the flashing tray alone";
  EXPECT_TRUE(app->NetworkStarted());
  EXPECT_EQ(2u, main->Tray().IconCount());

  InvalidateRect(wnd, nullptr, FALSE);
  UpdateWindow(wnd);
  HDC dc = GetDC(wnd);
  COLORREF seen = GetPixel(dc, 60, 60);
  ReleaseDC(wnd, dc);
  EXPECT_EQ(blue, seen) << "the main window paints its skin's image";
}

TEST_F(MainWindowTest, TheTrayIconAndTheLinksComeOnceTheLoopRuns) {
  os::RegRemoveValue(os::Hive::LocalMachine, panels::kToolbarKey, "Exec");
  Start();
  EXPECT_TRUE(app->NetworkStarted());
  // The browser's toolbar button is registered then too, pointing at the program.
  std::string exec;
  EXPECT_TRUE(os::RegReadString(os::Hive::LocalMachine, panels::kToolbarKey, "Exec", exec));
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(qb::Gbk(self), exec);
  EXPECT_TRUE(main->Tray().Enabled());
  EXPECT_EQ("Qimbo收藏", main->Tray().Tip());
  EXPECT_FALSE(main->Tray().Animating());

  // Idle with the links running, the program sleeps: its loop, timers and
  // workers take a few milliseconds of processor in two seconds, where one
  // that spun would take most of them.
  auto cpuMs = [] {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ms = [](const FILETIME& f) { return ((uint64_t)f.dwHighDateTime << 32 | f.dwLowDateTime) / 10000; };
    return ms(kernel) + ms(user);
  };
  uint64_t before = cpuMs();
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 2000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    wintest::Pump();
  }
  EXPECT_LT(cpuMs() - before, 200u) << "milliseconds of processor in two idle seconds";
}

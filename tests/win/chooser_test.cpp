// The category chooser in this process: the hotkey it registers (and the
// boxes when it cannot), the change of the hotkey, bringing it up by the
// hotkey and by the tray command, and what it shows.
#include <gtest/gtest.h>

#include "../../res/panels_ids.h"
#include "../../res/resource.h"
#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "os/os.h"
#include "panels/chooser_win32.h"
#include "skin/config.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "testutil.h"
#include "win/text_win32.h"
#include "win_test_util.h"

namespace {

struct SeenBox {
  std::string text;
  unsigned flags;
};
std::vector<SeenBox> g_boxes;
int RecordBox(const std::string& text, unsigned flags) {
  g_boxes.push_back({text, flags});
  return IDOK;
}

// Closes this process's open popup menu (from a timer while it is tracked).
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD) {
  EnumWindows(
      [](HWND w, LPARAM) -> BOOL {
        wchar_t cls[16] = {};
        GetClassNameW(w, cls, 16);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w) && lstrcmpW(cls, L"#32768") == 0)
          PostMessageW(w, WM_KEYDOWN, VK_ESCAPE, 0);
        return TRUE;
      },
      0);
}

class ChooserTest : public testing::Test {
 protected:
  void SetUp() override {
    g_boxes.clear();
    qb::CFavoritesApp::SetBoxHook(RecordBox);
    std::string p = dir.Path();
    home = wintest::MakeProgramFolder(p, false);
    CMyNodeList list;
    for (int slot : {0, 3}) {
      CMyNode* c = new CMyNode(slot ? "工具" : "新闻", UrlCategory, nullptr, slot);
      ASSERT_TRUE(list.AddNode(c));
    }
    ASSERT_TRUE(SaveFavoritesFile(list, p + "data\\", "1-我的收藏.sc"));
    os::SetProgramDirectory(p);
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    for (int id : held) UnregisterHotKey(nullptr, id);
    qb::CFavoritesApp::SetBoxHook(nullptr);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    wintest::Pump();
  }
  void Start(const char* hotkey) {
    qb::ConfigSettings config;
    config.hotkeyText = hotkey;
    ASSERT_TRUE(qb::SaveConfig(dir.Path(), config));
    app.reset(new qb::CFavoritesApp);
    app->SetHomePath(home);
    ASSERT_TRUE(app->InitInstance());
    wintest::Pump();  // the chooser comes once the loop runs
    chooser = app->Chooser();
    ASSERT_TRUE(chooser);
  }
  // Whether this thread may still register the key (it is free): the test
  // takes it for a moment and gives it back.
  static bool Free(UINT modifiers, UINT key) {
    if (!RegisterHotKey(nullptr, 0x3FFF, modifiers, key)) return false;
    UnregisterHotKey(nullptr, 0x3FFF);
    return true;
  }
  void Hold(int id, UINT modifiers, UINT key) {
    ASSERT_TRUE(RegisterHotKey(nullptr, id, modifiers, key));
    held.push_back(id);
  }

  qbtest::TempDir dir;
  std::string home;
  std::unique_ptr<qb::CFavoritesApp> app;
  HWND chooser = nullptr;
  std::vector<int> held;
};

TEST_F(ChooserTest, ALetterHotkeyRegistersTheKeyAndItsLowerCaseCode) {
  ASSERT_TRUE(Free(MOD_CONTROL | MOD_ALT, 'Z'));
  ASSERT_TRUE(Free(MOD_CONTROL | MOD_ALT, 122));
  Start("Ctrl+Alt+Z");
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_FALSE(Free(MOD_CONTROL | MOD_ALT, 'Z')) << "2001: Z";
  EXPECT_FALSE(Free(MOD_CONTROL | MOD_ALT, 122)) << "2002: code 122";
  EXPECT_TRUE(Free(MOD_CONTROL, 'Z')) << "only with the modifiers given";
  EXPECT_FALSE(IsWindowVisible(chooser)) << "the chooser starts hidden";
  // Shutdown gives the keys back.
  app->ExitInstance();
  app.reset();
  EXPECT_TRUE(Free(MOD_CONTROL | MOD_ALT, 'Z'));
  EXPECT_TRUE(Free(MOD_CONTROL | MOD_ALT, 122));
}

TEST_F(ChooserTest, ABareFunctionKeyOfF2ToF11Registers) {
  ASSERT_TRUE(Free(0, VK_F5));
  Start("F5");
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_FALSE(Free(0, VK_F5));
}

TEST_F(ChooserTest, AnIllegalHotkeyIsBoxedAndTheProgramGoesOn) {
  for (const char* text : {"Z", "F1", "F12"}) {
    SCOPED_TRACE(text);
    g_boxes.clear();
    Start(text);
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ("热键非法，请重新定义！", g_boxes[0].text);
    EXPECT_EQ(static_cast<unsigned>(MB_OK | MB_ICONHAND), g_boxes[0].flags);
    EXPECT_TRUE(IsWindowVisible(app->MainWindow()->GetSafeHwnd()));
    app->ExitInstance();
    app.reset();
  }
  // An empty FavoriteKey= keeps the default Ctrl+S, which registers.
  g_boxes.clear();
  Start("");
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(ChooserTest, AKeyTakenByAnotherProgramIsBoxed) {
  Hold(1, MOD_CONTROL | MOD_ALT, 'Q');
  Start("Ctrl+Alt+Q");
  ASSERT_EQ(1u, g_boxes.size());
  EXPECT_EQ("Ctrl+Alt+Q--热键注册失败，请重新定义！", g_boxes[0].text);
  EXPECT_EQ(static_cast<unsigned>(MB_OK | MB_ICONHAND), g_boxes[0].flags);
  app->ExitInstance();
  app.reset();

  // The lower-case twin taken: said, and the key itself stays registered.
  g_boxes.clear();
  Hold(2, MOD_CONTROL | MOD_ALT, 122);
  Start("Ctrl+Alt+Z");
  ASSERT_EQ(1u, g_boxes.size());
  EXPECT_EQ("Ctrl+Alt+Z--其中小写热键注册失败！", g_boxes[0].text);
  EXPECT_FALSE(Free(MOD_CONTROL | MOD_ALT, 'Z'));
}

TEST_F(ChooserTest, ChangingTheHotkeyKeepsItOnlyWhenItRegisters) {
  Start("Ctrl+Alt+Z");
  panels::UnregisterCaptureHotkeys();
  EXPECT_TRUE(Free(MOD_CONTROL | MOD_ALT, 'Z'));
  EXPECT_EQ(0, panels::ChangeCaptureHotkey("F1"));
  ASSERT_EQ(1u, g_boxes.size());
  EXPECT_EQ("热键非法，请重新定义！", g_boxes[0].text);
  EXPECT_EQ("Ctrl+Alt+Z", app->Config().hotkeyText);

  EXPECT_EQ(1, panels::ChangeCaptureHotkey("Shift+Ctrl+F7"));
  EXPECT_EQ("Shift+Ctrl+F7", app->Config().hotkeyText);
  EXPECT_FALSE(Free(MOD_SHIFT | MOD_CONTROL, VK_F7));
  qb::ConfigSettings saved;
  ASSERT_TRUE(qb::LoadConfig(dir.Path(), saved));
  EXPECT_EQ("Shift+Ctrl+F7", saved.hotkeyText) << "the configuration is saved";
}

TEST_F(ChooserTest, TheHotkeyBringsItUpOnlyWithABrowserWindowAndTheTrayAlways) {
  Start("Ctrl+Alt+Z");
  HWND main = app->MainWindow()->GetSafeHwnd();
  HWND panel = app->MainWindow()->TabPanel();
  SendMessageW(chooser, WM_HOTKEY, 2001, 0);
  wintest::Pump();
  EXPECT_FALSE(IsWindowVisible(chooser)) << "no browser window: nothing";
  EXPECT_FALSE(IsIconic(main));

  // A browser frame, even a hidden one, as the system's search by class finds it.
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"IEFrame";
  RegisterClassW(&wc);
  HWND browser = CreateWindowExW(0, L"IEFrame", L"browser", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(browser);
  SendMessageW(chooser, WM_HOTKEY, 2002, 0);
  wintest::Pump();
  EXPECT_TRUE(IsWindowVisible(chooser)) << "the lower-case twin brings it up too";
  EXPECT_TRUE(IsIconic(main));
  RECT c, p;
  GetWindowRect(chooser, &c);
  GetWindowRect(panel, &p);
  EXPECT_TRUE(EqualRect(&c, &p)) << "over the category panel";
  EXPECT_TRUE(GetWindowLongPtrW(chooser, GWL_EXSTYLE) & WS_EX_TOPMOST);
  // Tabs in add mode: captions of the two categories at their slots, the rest hidden.
  HWND t0 = GetDlgItem(chooser, IDC_FIRST_CHOOSER_TAB), t3 = GetDlgItem(chooser, IDC_FIRST_CHOOSER_TAB + 3);
  ASSERT_TRUE(t0 && t3);
  EXPECT_EQ(L"新闻", wintest::Text(t0));
  EXPECT_EQ(L"工具", wintest::Text(t3));
  EXPECT_TRUE(IsWindowVisible(t0) && IsWindowVisible(t3));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(chooser, IDC_FIRST_CHOOSER_TAB + 1)));
  RECT r3;
  GetWindowRect(t3, &r3);
  EXPECT_EQ(c.left + 1, r3.left);
  EXPECT_EQ(c.top + 2 + 90, r3.top) << "row 3 of column 0";
  EXPECT_EQ(100, r3.right - r3.left);
  EXPECT_EQ(28, r3.bottom - r3.top);
  EXPECT_TRUE(GetDlgItem(chooser, IDC_FIRST_CHOOSER_TAB + 43)) << "44 tabs";
  EXPECT_FALSE(GetDlgItem(chooser, IDC_FIRST_CHOOSER_TAB + 44));
  RECT r22;
  GetWindowRect(GetDlgItem(chooser, IDC_FIRST_CHOOSER_TAB + 22), &r22);
  EXPECT_EQ(c.left + 102, r22.left) << "column 1 begins at 1 + 101";

  // Escape puts it away; the tray command brings it up without a browser.
  SendMessageW(chooser, WM_COMMAND, IDCANCEL, 0);
  EXPECT_FALSE(IsWindowVisible(chooser));
  DestroyWindow(browser);
  ShowWindow(main, SW_RESTORE);
  SendMessageW(main, WM_COMMAND, ID_TRAY_CAPTURE, 0);
  wintest::Pump();
  EXPECT_TRUE(IsWindowVisible(chooser));
  EXPECT_TRUE(IsIconic(main));
}

TEST_F(ChooserTest, ANewCategoryMadeInTheChooserReachesTheMainWindow) {
  Start("Ctrl+Alt+Z");
  HWND main = app->MainWindow()->GetSafeHwnd();
  SendMessageW(main, WM_COMMAND, ID_TRAY_CAPTURE, 0);
  wintest::Pump();
  // A right click on the empty slot 5, then its menu's 新建分类.
  RECT c;
  GetWindowRect(chooser, &c);
  ASSERT_TRUE(wintest::PlaceCursor(c.left + 40, c.top + 2 + 30 * 5 + 14));
  PostMessageW(chooser, WM_COMMAND, ID_CHOOSER_NEW_CATEGORY, 0);  // no slot chosen yet: nothing
  wintest::Pump();
  EXPECT_FALSE(GetDlgItem(chooser, IDC_NEW_CATEGORY_EDIT));
  UINT_PTR timer = SetTimer(nullptr, 0, 200, CloseMenu);
  SendMessageW(chooser, WM_RBUTTONDOWN, MK_RBUTTON, 0);
  KillTimer(nullptr, timer);
  SendMessageW(chooser, WM_COMMAND, ID_CHOOSER_NEW_CATEGORY, 0);
  HWND edit = GetDlgItem(chooser, IDC_NEW_CATEGORY_EDIT);
  ASSERT_TRUE(edit);
  SetWindowTextW(edit, L"  新 类  ");
  SendMessageW(chooser, qb::WM_PANEL_ENTER, 0, 0);
  wintest::Pump();
  EXPECT_FALSE(GetDlgItem(chooser, IDC_NEW_CATEGORY_EDIT));
  const CMyNode* made = app->Logic()->FindNode("新类", UrlCategory);
  ASSERT_TRUE(made);
  EXPECT_EQ(5, made->m_nSlot);
  EXPECT_EQ("一级目录", made->m_strNote);
  EXPECT_EQ(L"新类", wintest::Text(GetDlgItem(chooser, IDC_FIRST_CHOOSER_TAB + 5)));
  HWND panelTab = GetDlgItem(app->MainWindow()->TabPanel(), IDC_FIRST_TAB + 5);
  EXPECT_EQ(L"新类", wintest::Text(panelTab)) << "the main window's category panel took the notice";

  // The same name again in another slot makes nothing.
  ASSERT_TRUE(wintest::PlaceCursor(c.left + 40, c.top + 2 + 30 * 7 + 14));
  timer = SetTimer(nullptr, 0, 200, CloseMenu);
  SendMessageW(chooser, WM_RBUTTONDOWN, MK_RBUTTON, 0);
  KillTimer(nullptr, timer);
  SendMessageW(chooser, WM_COMMAND, ID_CHOOSER_NEW_CATEGORY, 0);
  edit = GetDlgItem(chooser, IDC_NEW_CATEGORY_EDIT);
  ASSERT_TRUE(edit);
  SetWindowTextW(edit, L"新类");
  SendMessageW(chooser, qb::WM_PANEL_ENTER, 0, 0);
  wintest::Pump();
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(chooser, IDC_FIRST_CHOOSER_TAB + 7)));
  int count = 0;
  for (const CMyNode* n : *app->Logic()) count += n->m_nKind == UrlCategory;
  EXPECT_EQ(3, count);
}

}  // namespace

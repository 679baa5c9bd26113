// The hotkey and skin settings window in this process, opened from the real
// main window: what it shows per area, the pickers (through the window's
// seams), apply and its hand-over, cancel, and a named skin made while the
// window keeps answering.
#include <gtest/gtest.h>

#include "../../res/resource.h"
#include "../../res/settings_ids.h"
#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "base/messages.h"
#include "net/message.h"
#include "net/netstate.h"
#include "os/font_win32.h"
#include "os/os.h"
#include "skin/config.h"
#include "skin/settings_dlg_win32.h"
#include "skin/skin.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "testutil.h"
#include "win/text_win32.h"
#include "win_test_util.h"

namespace {

using qb::CBackBmpDlg;
using qb::SettingsHost;

int NoBox(const std::string&, unsigned) { return IDOK; }

struct Picks {
  COLORREF colour = RGB(1, 2, 3);
  bool colourOk = true;
  std::wstring face = L"Tahoma";
  bool fontOk = true;
  std::string image;
  bool imageOk = true;
  std::vector<std::wstring> boxes;
  std::vector<uint32_t> pauses;
  std::function<void()> duringPause;
} g_picks;

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    g_picks = Picks();
    qb::CFavoritesApp::SetBoxHook(NoBox);
    CBackBmpDlg::SetHostAdjuster([](SettingsHost& h) {
      h.pickColour = [](HWND, COLORREF& c) {
        if (g_picks.colourOk) c = g_picks.colour;
        return g_picks.colourOk;
      };
      h.pickFont = [](HWND, LOGFONTW& lf) {
        lstrcpynW(lf.lfFaceName, g_picks.face.c_str(), LF_FACESIZE);
        return g_picks.fontOk;
      };
      h.pickImage = [](HWND, std::string& path) {
        path = g_picks.image;
        return g_picks.imageOk;
      };
      h.stopBox = [](HWND, const wchar_t* text, const wchar_t* title) {
        g_picks.boxes.push_back(std::wstring(text) + L"|" + title);
      };
      h.pause = [](uint32_t ms) {
        g_picks.pauses.push_back(ms);
        if (g_picks.duringPause) g_picks.duringPause();
        CBackBmpDlg::PumpMessagesFor(1);
      };
    });
    std::string p = dir.Path();
    home = wintest::MakeProgramFolder(p, false);
    CMyNodeList list;
    CMyNode* c = new CMyNode("新闻", UrlCategory, nullptr, 0);
    ASSERT_TRUE(list.AddNode(c));
    ASSERT_TRUE(SaveFavoritesFile(list, p + "data\\", "1-我的收藏.sc"));
    qb::SkinSet skins;
    qb::ResetSkins(skins);
    for (int i = 0; i < qb::kSkinAreaCount; ++i) {
      skins[i].m_clrHoverText = RGB(10 + i, 20, 30);
      skins[i].m_clrNormalBack = RGB(200, 200, 10 + i);
      qbtest::WriteFileBytes(p + "pic" + std::to_string(i) + ".bmp", "picture " + std::to_string(i));
      skins[i].m_strImagePath = p + "pic" + std::to_string(i) + ".bmp";
    }
    qbtest::WriteFileBytes(p + "skin\\MySkin.db", qb::EncodeSkinRecords(skins));
    qb::ConfigSettings config;
    config.hotkeyText = "Ctrl+Alt+Z";
    ASSERT_TRUE(qb::SaveConfig(p, config));
    main = wintest::StartProgram(app, p, home);
    ASSERT_TRUE(main);
    wnd = main->GetSafeHwnd();
    wintest::Pump();
  }
  void TearDown() override {
    wintest::StopProgram(app);
    CBackBmpDlg::SetHostAdjuster(nullptr);
    qb::CFavoritesApp::SetBoxHook(nullptr);
    wintest::Pump();
  }
  HWND Open(UINT command = IDC_SETTINGS_BUTTON) {
    SendMessageW(wnd, WM_COMMAND, command, 0);
    wintest::Pump();
    return main->Settings() ? main->Settings()->GetSafeHwnd() : nullptr;
  }
  HWND Item(int id) { return GetDlgItem(dlg, id); }
  bool Shown(int id) { return IsWindowVisible(Item(id)) != FALSE; }
  void Click(int id) {
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    wintest::Pump();
  }
  void SelectArea(int area) {
    SendMessageW(Item(IDC_SET_AREA), CB_SETCURSEL, static_cast<WPARAM>(area), 0);
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_SET_AREA, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(IDC_SET_AREA)));
    wintest::Pump();
  }
  COLORREF SampleColour(int id, int index) { return qb::CSkinButton::FromHandle(Item(id))->GetColor(index); }
  static bool Free(UINT modifiers, UINT key) {
    if (!RegisterHotKey(nullptr, 0x3FFE, modifiers, key)) return false;
    UnregisterHotKey(nullptr, 0x3FFE);
    return true;
  }
  qb::SkinSet Stored() {
    qb::SkinSet s;
    qb::ResetSkins(s);
    qbtest::CRecordingUi ui;
    EXPECT_EQ(1, qb::LoadSkin(dir.Path(), "", s, &ui));
    return s;
  }

  qbtest::TempDir dir;
  std::string home;
  std::unique_ptr<qb::CFavoritesApp> app;
  qb::CMainDlg* main = nullptr;
  HWND wnd = nullptr, dlg = nullptr;
};

TEST_F(SettingsTest, OpensOnTheBookmarkAreaWithTheTransparentSample) {
  dlg = Open();
  ASSERT_TRUE(dlg);
  EXPECT_EQ(L"当前热键及皮肤设置", wintest::Text(dlg));
  EXPECT_EQ(L"Ctrl+Alt+Z", wintest::ItemText(dlg, IDC_SET_HOTKEY));
  EXPECT_FALSE(main->Settings()->HotkeyChanged()) << "the first text is no change";
  EXPECT_EQ(2, SendMessageW(Item(IDC_SET_AREA), CB_GETCURSEL, 0, 0));
  EXPECT_EQ(5, SendMessageW(Item(IDC_SET_AREA), CB_GETCOUNT, 0, 0));
  wchar_t name[64] = {};
  SendMessageW(Item(IDC_SET_AREA), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(name));
  EXPECT_EQ(std::wstring(L"功能按钮区(左下角及中缝)"), name);
  EXPECT_EQ(GetFocus(), Item(IDC_SET_AREA)) << "the area list has the focus";
  EXPECT_TRUE(Shown(IDC_SET_TEXT_SAMPLE));
  EXPECT_FALSE(Shown(IDC_SET_BUTTON_SAMPLE));
  for (int id : {IDC_SET_HOVER_BACK, IDC_SET_NORMAL_BACK, IDC_SET_PRESSED_BACK, IDC_SET_PRESSED_TEXT, IDC_SET_CLICK_MARK})
    EXPECT_FALSE(Shown(id)) << id;
  for (int id : {IDC_SET_FONT, IDC_SET_NORMAL_TEXT, IDC_SET_HOVER_TEXT, IDC_SET_FLAT, IDC_SET_CONFIRM, IDC_SET_CANCEL})
    EXPECT_TRUE(Shown(id)) << id;
  EXPECT_EQ(qb::W(dir.Path() + "pic2.bmp"), wintest::ItemText(dlg, IDC_SET_IMAGE_PATH));
  EXPECT_EQ(RGB(12, 20, 30), SampleColour(IDC_SET_TEXT_SAMPLE, 1)) << "hover text of area 2";
  EXPECT_EQ(0u, wintest::ItemText(dlg, IDC_SET_TEXT_SAMPLE).find(L"透明样板-"));
  EXPECT_FALSE(IsWindowEnabled(wnd)) << "the main window waits for the settings";
  EXPECT_FALSE(IsWindowEnabled(main->TabPanel()));
}

TEST_F(SettingsTest, OneWindowAtATimeAndItsCloseEnablesTheMainWindow) {
  dlg = Open(IDC_SETTINGS_BUTTON);
  ASSERT_TRUE(dlg);
  EXPECT_EQ(dlg, Open(ID_TRAY_SETTINGS)) << "the tray's command shows the same window";
  Click(IDC_SET_CANCEL);
  EXPECT_FALSE(IsWindow(dlg));
  EXPECT_EQ(nullptr, main->Settings()) << "1058 frees the window object";
  EXPECT_TRUE(IsWindowEnabled(wnd));
  EXPECT_TRUE(IsWindowEnabled(main->UrlPanel()));
  HWND again = Open(ID_TRAY_SETTINGS);
  ASSERT_TRUE(again);
  SendMessageW(again, WM_CLOSE, 0, 0);
  wintest::Pump();
  EXPECT_FALSE(IsWindow(again)) << "the close box cancels";
  EXPECT_TRUE(IsWindowEnabled(wnd));
}

TEST_F(SettingsTest, AreaKindsShowTheirControlsAndSwitchingDropsUnappliedEdits) {
  dlg = Open();
  SelectArea(1);
  EXPECT_TRUE(Shown(IDC_SET_BUTTON_SAMPLE));
  EXPECT_FALSE(Shown(IDC_SET_TEXT_SAMPLE));
  for (int id : {IDC_SET_HOVER_BACK, IDC_SET_NORMAL_BACK, IDC_SET_PRESSED_BACK, IDC_SET_PRESSED_TEXT})
    EXPECT_TRUE(Shown(id)) << id;
  EXPECT_FALSE(Shown(IDC_SET_CLICK_MARK)) << "never shown";
  g_picks.colour = RGB(250, 1, 1);
  Click(IDC_SET_HOVER_TEXT);
  EXPECT_EQ(RGB(250, 1, 1), main->Settings()->WorkingCopy().m_clrHoverText);
  EXPECT_EQ(RGB(250, 1, 1), SampleColour(IDC_SET_BUTTON_SAMPLE, 1));
  g_picks.colour = RGB(3, 250, 3);
  Click(IDC_SET_NORMAL_BACK);
  EXPECT_EQ(RGB(3, 250, 3), SampleColour(IDC_SET_BUTTON_SAMPLE, 2));
  SelectArea(3);
  EXPECT_FALSE(Shown(IDC_SET_BUTTON_SAMPLE));
  EXPECT_TRUE(Shown(IDC_SET_TEXT_SAMPLE));
  EXPECT_FALSE(Shown(IDC_SET_NORMAL_BACK));
  EXPECT_EQ(RGB(13, 20, 30), main->Settings()->WorkingCopy().m_clrHoverText);
  SelectArea(1);
  EXPECT_EQ(RGB(11, 20, 30), main->Settings()->WorkingCopy().m_clrHoverText) << "the change was dropped";
  EXPECT_EQ(RGB(11, 20, 30), SampleColour(IDC_SET_BUTTON_SAMPLE, 1));
  EXPECT_EQ(RGB(11, 20, 30), app->Skins()[1].m_clrHoverText);
  Click(IDC_SET_CONFIRM);
  EXPECT_EQ(RGB(11, 20, 30), Stored()[1].m_clrHoverText);
}

TEST_F(SettingsTest, ACancelledPickerChangesNothing) {
  dlg = Open();
  g_picks.colourOk = false;
  Click(IDC_SET_NORMAL_TEXT);
  EXPECT_EQ(app->Skins()[2].m_clrNormalText, main->Settings()->WorkingCopy().m_clrNormalText);
  g_picks.imageOk = false;
  Click(IDC_SET_IMAGE);
  EXPECT_EQ(qb::W(dir.Path() + "pic2.bmp"), wintest::ItemText(dlg, IDC_SET_IMAGE_PATH));
  g_picks.fontOk = false;
  Click(IDC_SET_FONT);
  EXPECT_EQ(nullptr, main->Settings()->WorkingCopy().m_font);
}

TEST_F(SettingsTest, ConfirmHandsTheWorkingCopyToTheAreaAndSavesTheSkin) {
  dlg = Open();
  SelectArea(0);
  g_picks.colour = RGB(90, 80, 70);
  Click(IDC_SET_NORMAL_BACK);
  g_picks.image = "D:\\pictures\\sea.jpg";
  Click(IDC_SET_IMAGE);
  EXPECT_EQ(L"D:\\pictures\\sea.jpg", wintest::ItemText(dlg, IDC_SET_IMAGE_PATH));
  CheckDlgButton(dlg, IDC_SET_FLAT, BST_CHECKED);
  Click(IDC_SET_FLAT);
  EXPECT_TRUE(qb::CSkinButton::FromHandle(Item(IDC_SET_BUTTON_SAMPLE))->IsFlat());
  g_picks.face = L"Tahoma";
  Click(IDC_SET_FONT);
  ASSERT_NE(nullptr, main->Settings()->WorkingCopy().m_font);
  EXPECT_EQ(L"Tahoma", wintest::ItemText(dlg, IDC_SET_TEXT_SAMPLE)) << "the face name alone";
  Click(IDC_SET_CONFIRM);
  EXPECT_FALSE(IsWindow(dlg));
  const qb::SkinStyle& s = app->Skins()[0];
  EXPECT_EQ(RGB(90, 80, 70), s.m_clrNormalBack);
  EXPECT_EQ(1, s.m_nFlat);
  EXPECT_EQ("D:\\pictures\\sea.jpg", s.m_strImagePath);
  ASSERT_TRUE(s.m_font);
  EXPECT_EQ("Tahoma", os::FaceName(s.m_font->Desc()));
  EXPECT_EQ("功能按钮区(左下角及中缝)", s.m_strAreaName);
  qb::SkinSet stored = Stored();
  EXPECT_EQ(RGB(90, 80, 70), stored[0].m_clrNormalBack);
  EXPECT_EQ("D:\\pictures\\sea.jpg", stored[0].m_strImagePath);
  EXPECT_EQ(RGB(200, 200, 11), stored[1].m_clrNormalBack) << "other areas as they were";
  // 1059 reached the main window: its buttons wear the new colour.
  wintest::Pump();
  EXPECT_EQ(RGB(90, 80, 70), qb::CSkinButton::FromHandle(GetDlgItem(wnd, IDC_SETTINGS_BUTTON))->GetColor(2));
}

TEST_F(SettingsTest, WithoutAPickedFontTheAreaKeepsItsFont) {
  app->Skins()[4].m_font = os::CFont::Create(qb::DefaultSkinFont(4));
  const os::CFont* before = app->Skins()[4].m_font.get();
  ASSERT_TRUE(before);
  dlg = Open();
  SelectArea(4);
  EXPECT_EQ(0u, wintest::ItemText(dlg, IDC_SET_BUTTON_SAMPLE).find(L"按钮样板-宋体"));
  Click(IDC_SET_CONFIRM);
  EXPECT_EQ(before, app->Skins()[4].m_font.get());
}

bool RefuseAll(const os::FontDesc&) { return true; }

// The font dialog's LOGFONT and the skin's description: every field goes to
// its own place and back, the face name through code page 936.
TEST(SkinFontDesc, GoesToTheSystemsFormAndBackWhole) {
  os::FontDesc d;
  d.head = {-16, 7, 900, 450, 700, 1, 2, 3, 134, 4, 5, 6, 49};
  os::SetFaceName(d, "微软雅黑");
  LOGFONTW lf = os::ToLogFont(d);
  EXPECT_EQ((std::vector<long>{-16, 7, 900, 450, 700, 1, 2, 3, 134, 4, 5, 6, 49}),
            (std::vector<long>{lf.lfHeight, lf.lfWidth, lf.lfEscapement, lf.lfOrientation, lf.lfWeight, lf.lfItalic,
                               lf.lfUnderline, lf.lfStrikeOut, lf.lfCharSet, lf.lfOutPrecision, lf.lfClipPrecision,
                               lf.lfQuality, lf.lfPitchAndFamily}));
  EXPECT_STREQ(L"微软雅黑", lf.lfFaceName);
  EXPECT_TRUE(os::SameFontDesc(d, os::FromLogFont(lf)));
}

TEST_F(SettingsTest, AFontThatCannotBeMadeIsReportedAndNotTaken) {
  dlg = Open();
  os::SetFontRefusal(RefuseAll);
  Click(IDC_SET_FONT);
  os::SetFontRefusal(nullptr);
  ASSERT_EQ(1u, g_picks.boxes.size());
  EXPECT_EQ(L"Unable to create font !|Error", g_picks.boxes[0]);
  EXPECT_EQ(nullptr, main->Settings()->WorkingCopy().m_font);
}

TEST_F(SettingsTest, TheHotkeyGoesOffAtTheFirstChangeAndCancelPutsItBack) {
  ASSERT_FALSE(Free(MOD_CONTROL | MOD_ALT, 'Z')) << "registered at start";
  dlg = Open();
  SetDlgItemTextW(dlg, IDC_SET_HOTKEY, L"Ctrl + Alt + Q");
  wintest::Pump();
  EXPECT_TRUE(main->Settings()->HotkeyChanged());
  EXPECT_TRUE(Free(MOD_CONTROL | MOD_ALT, 'Z')) << "off while the edit changes";
  Click(IDC_SET_CANCEL);
  EXPECT_FALSE(Free(MOD_CONTROL | MOD_ALT, 'Z')) << "the old hotkey again";
  EXPECT_TRUE(Free(MOD_CONTROL | MOD_ALT, 'Q'));
  qb::ConfigSettings config;
  ASSERT_EQ(1, qb::LoadConfig(dir.Path(), config));
  EXPECT_EQ("Ctrl+Alt+Z", config.hotkeyText);
}

TEST_F(SettingsTest, ConfirmRegistersTheTextWithoutBlanksAndSavesIt) {
  dlg = Open();
  SetDlgItemTextW(dlg, IDC_SET_HOTKEY, L"Shift + Ctrl + F5");
  Click(IDC_SET_CONFIRM);
  EXPECT_FALSE(Free(MOD_SHIFT | MOD_CONTROL, VK_F5));
  EXPECT_TRUE(Free(MOD_CONTROL | MOD_ALT, 'Z'));
  EXPECT_EQ("Shift+Ctrl+F5", app->Config().hotkeyText);
  qb::ConfigSettings config;
  ASSERT_EQ(1, qb::LoadConfig(dir.Path(), config));
  EXPECT_EQ("Shift+Ctrl+F5", config.hotkeyText);
}

TEST_F(SettingsTest, AHotkeyThatCannotBeRegisteredKeepsTheOldOneWorking) {
  dlg = Open();
  SetDlgItemTextW(dlg, IDC_SET_HOTKEY, L"Q");  // a letter alone is refused
  Click(IDC_SET_CONFIRM);
  EXPECT_FALSE(Free(MOD_CONTROL | MOD_ALT, 'Z')) << "registered again";
  EXPECT_EQ("Ctrl+Alt+Z", app->Config().hotkeyText);
}

TEST_F(SettingsTest, ANamedSkinIsMadeWhileTheWindowAnswersAndTheMenuListsIt) {
  dlg = Open();
  SetDlgItemTextW(dlg, IDC_SET_SKIN_NAME, L"My Skin.url");
  std::vector<std::wstring> titles, progress;
  std::vector<bool> enabled;
  g_picks.duringPause = [&] {
    titles.push_back(wintest::Text(dlg));
    progress.push_back(wintest::ItemText(dlg, IDC_SET_PROGRESS));
    enabled.push_back(IsWindowEnabled(GetDlgItem(dlg, IDC_SET_CONFIRM)) || IsWindowEnabled(GetDlgItem(dlg, IDC_SET_CANCEL)));
    // Closing half-way is refused.
    SendMessageW(dlg, WM_CLOSE, 0, 0);
    SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
    SendMessageW(wnd, WM_COMMAND, ID_TRAY_EXIT, 0);
  };
  Click(IDC_SET_MAKE_SKIN);
  ASSERT_EQ(6u, g_picks.pauses.size());
  EXPECT_EQ((std::vector<uint32_t>{1200, 1200, 1200, 1200, 1200, 1000}), g_picks.pauses);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(L"当前热键及皮肤设置--正在生成皮肤...", titles[i]) << i;
    EXPECT_EQ(L"正在生成皮肤...", progress[i]) << i;
    EXPECT_FALSE(enabled[i]) << i;
  }
  EXPECT_EQ(L"当前热键及皮肤设置--皮肤生成成功", titles[5]);
  EXPECT_EQ(L"正在生成皮肤...皮肤生成成功", progress[5]);
  wintest::Pump();
  EXPECT_FALSE(IsWindow(dlg));
  EXPECT_TRUE(IsWindow(wnd)) << "the exit waited for the save";
  std::string folder = dir.Path() + "skin\\my skin\\";
  EXPECT_TRUE(os::FileExists(folder + "MySkin.db"));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(os::FileExists(folder + "pic" + std::to_string(i) + ".bmp")) << i;
  bool listed = false;
  HMENU menu = main->SkinMenu();
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
    listed = listed || std::wstring(text) == L"my skin";
  }
  EXPECT_TRUE(listed) << "the skin menu lists the new skin at once";
}

// The save's own pump hands thread messages to the program, as the modal
// loops do: the server's address arriving meanwhile is taken, not lost.
TEST_F(SettingsTest, ThreadMessagesDuringANamedSkinsSaveReachTheProgram) {
  dlg = Open();
  qb::CNetState* net = app->Net();
  ASSERT_TRUE(net);
  net->Sender().m_serverAddress = 0;
  const uint32_t address = qb::MakeAddress(10, 1, 2, 3);
  SetDlgItemTextW(dlg, IDC_SET_SKIN_NAME, L"thread");
  bool posted = false;
  g_picks.duringPause = [&] {
    if (!posted) PostThreadMessageW(GetCurrentThreadId(), qb::WM_SERVER_ADDRESS, 0, static_cast<LPARAM>(address));
    posted = true;
  };
  SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_SET_MAKE_SKIN, BN_CLICKED), 0);
  EXPECT_TRUE(posted);
  EXPECT_EQ(address, net->Sender().m_serverAddress);
}

TEST_F(SettingsTest, ANameThatCleansToNothingMakesNoSkinAndSaysSo) {
  dlg = Open();
  SetDlgItemTextW(dlg, IDC_SET_SKIN_NAME, L" .. ");
  std::wstring title;
  g_picks.duringPause = [&] { title = wintest::Text(dlg); };
  std::string current = qbtest::ReadFileBytes(dir.Path() + "skin\\MySkin.db");
  Click(IDC_SET_MAKE_SKIN);
  EXPECT_EQ(std::vector<uint32_t>{1000}, g_picks.pauses) << "nothing copied, only the last pause";
  EXPECT_EQ(L"当前热键及皮肤设置--皮肤生成失败", title);
  wintest::Pump();
  EXPECT_FALSE(IsWindow(dlg));
}

TEST_F(SettingsTest, ThePlatformPauseKeepsTheWindowAnswering) {
  dlg = Open();
  // A message sent from another thread is only answered while this one
  // handles its messages.
  struct Ask {
    HWND target;
    bool answered = false;
  } ask{dlg};
  HANDLE t = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* a = static_cast<Ask*>(p);
        DWORD_PTR r = 0;
        a->answered = SendMessageTimeoutW(a->target, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &r) != 0;
        return 0;
      },
      &ask, 0, nullptr);
  CBackBmpDlg::PumpMessagesFor(600);
  WaitForSingleObject(t, 5000);
  CloseHandle(t);
  EXPECT_TRUE(ask.answered);
}

}  // namespace

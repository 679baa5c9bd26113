// The drivers' kit (driver_kit.h) on windows of this process: texts read
// whole and in code page 936, the finders' filters, the tally and the waits,
// the screenshot file, and the configuration the drivers write.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "driver_kit.h"
#include "skin/config.h"
#include "testutil.h"
#include "win_test_util.h"

namespace {

HWND Child(HWND parent, const wchar_t* cls, const std::string& gbk, int id, DWORD style = 0) {
  return CreateWindowExW(0, cls, qb::W(gbk).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 50, 20, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}
HWND Popup(HWND owner) {
  return CreateWindowExW(0, L"#32770", L"", WS_POPUP, 0, 0, 50, 50, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
}

TEST(DriverKit, TextsAreReadWholeInGbkByWindowAndByIdentifier) {
  wintest::HostWindow host;
  std::string longText;
  for (int i = 0; i < 300; ++i) longText += "收藏";  // 600 characters: more than the drivers' old 511
  HWND edit = Child(host.hwnd(), L"EDIT", longText, 77, ES_AUTOHSCROLL);
  SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
  SetWindowTextW(edit, qb::W(longText).c_str());
  EXPECT_EQ(drv::Text(edit), longText);
  EXPECT_EQ(drv::ItemText(host.hwnd(), 77), longText);
  EXPECT_EQ(drv::ItemText(host.hwnd(), 78), "");
  std::string text = "kept";
  DestroyWindow(edit);
  EXPECT_FALSE(drv::AskText(edit, text));
  EXPECT_EQ(text, "kept");

  // A message box's text: its statics in order, not its buttons.
  Child(host.hwnd(), L"STATIC", "您还未登录,", 0xFFFF);
  Child(host.hwnd(), L"BUTTON", "确定", IDOK);
  Child(host.hwnd(), L"STATIC", "登录后才能加入圈子！", 0xFFFF);
  EXPECT_EQ(drv::BoxText(host.hwnd()), "您还未登录,登录后才能加入圈子！");
}

TEST(DriverKit, FindersKeepToTheProcessTheTestAndTheOwner) {
  wintest::HostWindow host;
  HWND owned = Popup(host.hwnd()), free = Popup(nullptr);
  Child(owned, L"STATIC", "", IDC_FIRST_TAB);
  Child(free, L"STATIC", "", IDC_FIRST_TAB);
  DWORD me = GetCurrentProcessId();
  std::vector<HWND> withTab = drv::OwnedWith(me, IDC_FIRST_TAB);
  ASSERT_EQ(withTab.size(), 1u);
  EXPECT_EQ(withTab[0], owned);
  EXPECT_TRUE(drv::OwnedWith(me, IDC_FIRST_ITEM).empty());
  auto both = [&](HWND w) { return w == owned || w == free; };
  EXPECT_EQ(drv::WindowsOf(me, both).size(), 2u);
  EXPECT_EQ(drv::WindowsOf(0, both).size(), 2u);
  EXPECT_EQ(drv::WindowOf(me + 4, both), nullptr) << "another process's windows only";

  // The main window: visible, with the favorites file box.
  EXPECT_EQ(drv::MainWindowOf(me), nullptr);
  Child(free, L"COMBOBOX", "", IDC_FILE_BOX);
  EXPECT_EQ(drv::MainWindowOf(me), nullptr) << "a hidden window is no main window";
  ShowWindow(free, SW_SHOWNA);
  EXPECT_EQ(drv::MainWindowOf(me), free);
  EXPECT_EQ(drv::WaitForMainWindow(me, 0), free);
  EXPECT_EQ(drv::VisibleItem(free, IDC_FILE_BOX), GetDlgItem(free, IDC_FILE_BOX));
  ShowWindow(GetDlgItem(free, IDC_FILE_BOX), SW_HIDE);
  EXPECT_EQ(drv::VisibleItem(free, IDC_FILE_BOX), nullptr);
  DestroyWindow(owned);
  DestroyWindow(free);
}

TEST(DriverKit, ChecksCountTheirResultsAndWaitsEndAtTheirCondition) {
  drv::Tally before = drv::Results();
  EXPECT_TRUE(drv::Check(true, "a check that holds"));
  EXPECT_FALSE(drv::Check(false, "a check that fails (on purpose, in the kit's own test)"));
  EXPECT_EQ(drv::Results().passes, before.passes + 1);
  EXPECT_EQ(drv::Results().failures, before.failures + 1);
  EXPECT_EQ(drv::Finish(), 1);
  int polls = 0;
  EXPECT_TRUE(drv::CheckSoon([&] { return ++polls == 3; }, "a condition that holds at the third look"));
  EXPECT_EQ(polls, 3);
  DWORD start = GetTickCount();
  EXPECT_FALSE(drv::WaitUntil([] { return false; }, 120, 10));
  EXPECT_GE(GetTickCount() - start, 120u);
  drv::Results() = before;
  EXPECT_EQ(drv::Finish(), before.failures ? 1 : 0);
  // The program's name counts among the arguments.
  EXPECT_TRUE(drv::HasArguments(3, 3, "driver A B"));
  EXPECT_FALSE(drv::HasArguments(2, 3, "driver A B (printed on purpose, in the kit's own test)"));
}

TEST(DriverKit, ScreenshotsAre24BitBmpFilesOfTheRectangle) {
  qbtest::TempDir dir;
  ASSERT_TRUE(drv::Screenshot(dir / "part.bmp", RECT{0, 0, 10, 7}));
  std::string bmp = drv::ReadFile(dir / "part.bmp");
  ASSERT_EQ(bmp.size(), 14u + 40u + 32u * 7u);  // rows of 30 bytes padded to 32
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(bmp.data() + 14);
  EXPECT_EQ(info->biWidth, 10);
  EXPECT_EQ(info->biHeight, 7);
  EXPECT_EQ(info->biBitCount, 24);
  EXPECT_FALSE(drv::Screenshot(dir / "no such folder\\x.bmp", RECT{0, 0, 2, 2}));
}

TEST(DriverKit, TheConfigurationWrittenGivesTheProgramItsHotkey) {
  qbtest::TempDir dir;
  os::CreateFolder(dir / "config");
  ASSERT_TRUE(drv::WriteConfig(dir.Path(), "Ctrl+Alt+Z"));
  qb::ConfigSettings c;
  ASSERT_EQ(qb::LoadConfig(dir.Path(), c), 1);
  EXPECT_EQ(c.hotkeyText, "Ctrl+Alt+Z");
  EXPECT_EQ(c.chatSendKey, "Ctrl+Enter");
  EXPECT_EQ(c.chatTip, 1);
}

}  // namespace

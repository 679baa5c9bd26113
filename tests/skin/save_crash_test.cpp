// The configuration file and the skin database, their saves ended at every
// step: the previous or the new contents always load.
#include <gtest/gtest.h>

#include "os/os.h"
#include "skin/config.h"
#include "skin/skin.h"
#include "store/crash_steps.h"
#include "testutil.h"

using namespace qb;
using qbtest::ReadFileBytes;
using qbtest::TempDir;
using qbtest::WriteFileBytes;

namespace {

void FreshFolder(const std::string& folder) {
  qbtest::RemoveTree(folder);
  ASSERT_TRUE(os::CreateFolder(folder));
}

TEST(ConfigFileCrash, OldOrNewSettingsLoadAfterAnyStepOfASave) {
  TempDir dir;
  const std::string config = dir / "config";
  const std::string oldText = "[HOTKEY]\r\nFavoriteKey=Alt+Q\r\n[CHAT]\r\nIF_CHATTIP\t0\r\nChatSendKey=Enter\r\n[END]";
  ConfigSettings wanted;
  wanted.hotkeyText = "Shift+Ctrl+F7";
  wanted.chatSendKey = "Ctrl+Enter";
  wanted.chatTip = 1;
  int sawOld = 0, sawNew = 0;
  int steps = qbtest::CrashAtEveryStep(
      [&] {
        FreshFolder(config);
        WriteFileBytes(config + "\\MyConfig.ini", oldText);
        WriteFileBytes(config + "\\MyConfig.bak", "[HOTKEY]\r\nFavoriteKey=Alt+B\r\n[END]");
      },
      [&] { SaveConfig(dir.Path(), wanted); },
      [&](int step, bool finished) {
        ConfigSettings got;
        got.hotkeyText = "none";
        ASSERT_EQ(1, LoadConfig(dir.Path(), got)) << "step " << step;
        if (got.hotkeyText == "Alt+Q" && got.chatSendKey == "Enter" && got.chatTip == 0) {
          ++sawOld;
        } else if (got.hotkeyText == "Shift+Ctrl+F7" && got.chatSendKey == "Ctrl+Enter" && got.chatTip == 1) {
          ++sawNew;
        } else {
          ADD_FAILURE() << "after step " << step << ": " << got.hotkeyText << " " << got.chatSendKey << " "
                        << got.chatTip;
        }
        if (finished) {
          EXPECT_EQ(oldText, ReadFileBytes(config + "\\MyConfig.bak"));
        }
      });
  EXPECT_GE(steps, 5);  // write, flush, close, two renames
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 1);
}

TEST(ConfigFileCrash, ATextCutShortIsNotTakenForTheFile) {
  TempDir dir;
  ASSERT_TRUE(os::CreateFolder(dir / "config"));
  WriteFileBytes(dir / "config\\MyConfig.ini.new", "[HOTKEY]\r\nFavoriteKey=Alt+N\r\n[CHAT]\r\n");
  WriteFileBytes(dir / "config\\MyConfig.bak", "[HOTKEY]\r\nFavoriteKey=Alt+B\r\n[END]");
  ConfigSettings got;
  ASSERT_EQ(1, LoadConfig(dir.Path(), got));
  EXPECT_EQ("Alt+B", got.hotkeyText) << "the backup, not the text that never reached its end";
}

SkinSet Sample(unsigned shade, const char* image) {
  SkinSet s;
  ResetSkins(s);
  for (int i = 0; i < kSkinAreaCount; ++i) {
    s[i].m_clrNormalBack = MakeColour(shade, (unsigned)i, 7);
    s[i].m_strImagePath = std::string("D:\\皮肤\\") + image + std::to_string(i) + ".bmp";
  }
  return s;
}

TEST(SkinDatabaseCrash, OldOrNewSkinLoadsAfterAnyStepOfASave) {
  TempDir dir;
  const std::string skin = dir / "skin";
  SkinSet before = Sample(10, "old"), after = Sample(20, "new");
  const std::string beforeBytes = EncodeSkinRecords(before);
  int sawOld = 0, sawNew = 0;
  int steps = qbtest::CrashAtEveryStep(
      [&] {
        FreshFolder(skin);
        WriteFileBytes(skin + "\\MySkin.db", beforeBytes);
      },
      [&] { SaveSkin(dir.Path(), "", after); },
      [&](int step, bool finished) {
        SkinSet got;
        ResetSkins(got);
        ASSERT_EQ(1, LoadSkin(dir.Path(), "", got, nullptr)) << "step " << step;
        if (got[3].m_strImagePath == before[3].m_strImagePath && got[4].m_clrNormalBack == before[4].m_clrNormalBack) {
          ++sawOld;
        } else if (got[3].m_strImagePath == after[3].m_strImagePath &&
                   got[4].m_clrNormalBack == after[4].m_clrNormalBack) {
          ++sawNew;
        } else {
          ADD_FAILURE() << "after step " << step << ": " << got[3].m_strImagePath;
        }
        if (finished) {
          EXPECT_EQ(beforeBytes, ReadFileBytes(skin + "\\MySkin.bak"));
        }
      });
  EXPECT_GE(steps, 5);  // write, flush, close, two renames
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 1);
}

}  // namespace

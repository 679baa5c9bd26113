#include <gtest/gtest.h>

#include <cstdint>

#include "os/os.h"
#include "skin/config.h"
#include "skin/skin.h"
#include "testutil.h"

using namespace qb;
using qbtest::ReadFileBytes;
using qbtest::TempDir;
using qbtest::WriteFileBytes;

namespace {
// A program folder with its config\ folder.
struct ConfigFolder {
  TempDir dir;
  ConfigFolder() { EXPECT_TRUE(os::CreateFolder(dir / "config")); }
  std::string Ini() const { return dir / "config\\MyConfig.ini"; }
  std::string Bak() const { return dir / "config\\MyConfig.bak"; }
  ConfigSettings Load(const std::string& bytes, int expectResult = 1) {
    WriteFileBytes(Ini(), bytes);
    ConfigSettings s;
    EXPECT_EQ(LoadConfig(dir.Path(), s), expectResult);
    return s;
  }
};
const ConfigSettings kDefaults;
}  // namespace

TEST(ConfigFile, SaveWritesTheSixLinesWithCrLfAndNoEndAfterEnd) {
  ConfigFolder f;
  ASSERT_TRUE(SaveConfig(f.dir.Path(), ConfigSettings()));
  EXPECT_EQ(ReadFileBytes(f.Ini()),
            "[HOTKEY]\r\nFavoriteKey=Ctrl+S\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=Ctrl+Enter\r\n[END]");
  ConfigSettings s;
  s.hotkeyText = "Shift+Alt+F7";
  s.chatSendKey = "Enter";
  s.chatTip = 0;
  ASSERT_TRUE(SaveConfig(f.dir.Path(), s));
  ConfigSettings back;
  back.chatTip = 9;
  ASSERT_EQ(LoadConfig(f.dir.Path(), back), 1);
  EXPECT_EQ(back.hotkeyText, "Shift+Alt+F7");
  EXPECT_EQ(back.chatSendKey, "Enter");
  EXPECT_EQ(back.chatTip, 0);
}

TEST(ConfigFile, SaveKeepsThePreviousContentsInTheBackup) {
  ConfigFolder f;
  WriteFileBytes(f.Bak(), "stale backup");
  ConfigSettings s;
  s.hotkeyText = "Alt+Q";
  ASSERT_TRUE(SaveConfig(f.dir.Path(), s));
  EXPECT_EQ(ReadFileBytes(f.Bak()), "stale backup") << "no current file: the old backup is not touched";
  std::string first = ReadFileBytes(f.Ini());
  s.hotkeyText = "Ctrl+W";
  ASSERT_TRUE(SaveConfig(f.dir.Path(), s));
  EXPECT_EQ(ReadFileBytes(f.Bak()), first);
  EXPECT_NE(ReadFileBytes(f.Ini()).find("FavoriteKey=Ctrl+W\r\n"), std::string::npos);
}

TEST(ConfigFile, SaveFailsWithoutTheConfigFolder) {
  TempDir dir;
  EXPECT_EQ(SaveConfig(dir.Path(), ConfigSettings()), 0);
  EXPECT_FALSE(os::FileExists(dir / "config"));
}

TEST(ConfigFile, LoadRecoversTheBackupWhenTheFileIsMissing) {
  ConfigFolder f;
  WriteFileBytes(f.Bak(), "[HOTKEY]\r\nFavoriteKey=Alt+Z\r\n[CHAT]\r\nIF_CHATTIP\t0\r\nChatSendKey=Enter\r\n[END]");
  ConfigSettings s;
  ASSERT_EQ(LoadConfig(f.dir.Path(), s), 1);
  EXPECT_EQ(s.hotkeyText, "Alt+Z");
  EXPECT_EQ(s.chatTip, 0);
  EXPECT_EQ(s.chatSendKey, "Enter");
  EXPECT_TRUE(os::FileExists(f.Ini()));
  EXPECT_FALSE(os::FileExists(f.Bak()));
  // A new text left beside a missing file is taken only when it reached its end mark.
  ASSERT_TRUE(os::RemoveFile(f.Ini()));
  WriteFileBytes(f.Bak(), "[HOTKEY]\r\nFavoriteKey=Alt+B\r\n[END]");
  for (const char* cut : {"[EN", "", "[HOTKEY]\r\nFavoriteKey=Alt+N\r\n[END"}) {
    WriteFileBytes(f.Ini() + ".new", cut);
    ConfigSettings b;
    ASSERT_EQ(LoadConfig(f.dir.Path(), b), 1);
    EXPECT_EQ(b.hotkeyText, "Alt+B") << "the backup, not \"" << cut << "\"";
    ASSERT_TRUE(os::RenameFile(f.Ini(), f.Bak()));
    ASSERT_TRUE(os::RemoveFile(f.Ini() + ".new"));
  }
  WriteFileBytes(f.Ini() + ".new", "[END]");
  ConfigSettings bare;
  ASSERT_EQ(LoadConfig(f.dir.Path(), bare), 1);
  EXPECT_EQ(bare.hotkeyText, "Ctrl+S") << "the end mark alone is a whole text, of no settings";
  EXPECT_FALSE(os::FileExists(f.Ini() + ".new"));
  ASSERT_TRUE(os::RemoveFile(f.Ini()));
  WriteFileBytes(f.Ini() + ".new", "[HOTKEY]\r\nFavoriteKey=Alt+N\r\n[END]");
  ASSERT_EQ(LoadConfig(f.dir.Path(), s), 1);
  EXPECT_EQ(s.hotkeyText, "Alt+N");
  EXPECT_FALSE(os::FileExists(f.Ini() + ".new"));
}

TEST(ConfigFile, MissingFileKeepsTheSettings) {
  ConfigFolder f;
  ConfigSettings s;
  s.hotkeyText = "Alt+1";
  EXPECT_EQ(LoadConfig(f.dir.Path(), s), 0);
  EXPECT_EQ(s.hotkeyText, "Alt+1");
  EXPECT_EQ(s.chatTip, 1);
}

TEST(ConfigFile, PositionalLinesAndEarlyEnd) {
  ConfigFolder f;
  // Only the hotkey section.
  ConfigSettings s = f.Load("[HOTKEY]\r\nFavoriteKey=Alt+Q");
  EXPECT_EQ(s.hotkeyText, "Alt+Q");
  EXPECT_EQ(s.chatSendKey, kDefaults.chatSendKey);
  EXPECT_EQ(s.chatTip, kDefaults.chatTip);
  // [END] on line 3 stops before the chat lines.
  s = f.Load("[HOTKEY]\r\nFavoriteKey=Alt+W\r\n[END]\r\nIF_CHATTIP\t0\r\nChatSendKey=Enter\r\n[END]");
  EXPECT_EQ(s.hotkeyText, "Alt+W");
  EXPECT_EQ(s.chatTip, 1);
  EXPECT_EQ(s.chatSendKey, "Ctrl+Enter");
  // [END] on line 4.
  s = f.Load("[HOTKEY]\r\nFavoriteKey=Alt+W\r\n[CHAT]\r\n[END]\r\nChatSendKey=Enter");
  EXPECT_EQ(s.chatTip, 1);
  EXPECT_EQ(s.chatSendKey, "Ctrl+Enter");
  // An empty value changes nothing.
  s = f.Load("[HOTKEY]\r\nFavoriteKey=\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=\r\n[END]");
  EXPECT_EQ(s.hotkeyText, "Ctrl+S");
  EXPECT_EQ(s.chatSendKey, "Ctrl+Enter");
  // Section names are not looked at, only line numbers; the key must begin the line.
  s = f.Load("whatever\nFavoriteKey=Shift+A\nx\nIF_CHATTIP 0\n  ChatSendKey=Enter\n");
  EXPECT_EQ(s.hotkeyText, "Shift+A");
  EXPECT_EQ(s.chatTip, 0);
  EXPECT_EQ(s.chatSendKey, "Ctrl+Enter");
  s = f.Load("FavoriteKey=Alt+B\r\n[HOTKEY]\r\n");
  EXPECT_EQ(s.hotkeyText, "Ctrl+S") << "the hotkey is read from line 2 only";
  // An empty file opens and changes nothing.
  s = f.Load("");
  EXPECT_EQ(s.hotkeyText, "Ctrl+S");
  // An empty first line and a first line of any length are still line 1.
  s = f.Load("\nFavoriteKey=Alt+F\n");
  EXPECT_EQ(s.hotkeyText, "Alt+F");
  s = f.Load(std::string(4096, '[') + "\nFavoriteKey=Alt+G\n");
  EXPECT_EQ(s.hotkeyText, "Alt+G");
}

TEST(ConfigFile, ChatTipLineIsAWordAndANumber) {
  ConfigFolder f;
  EXPECT_EQ(f.Load("[HOTKEY]\r\nFavoriteKey=Ctrl+S\r\n[CHAT]\r\nIF_CHATTIP\t0").chatTip, 0);
  EXPECT_EQ(f.Load("[HOTKEY]\r\nFavoriteKey=Ctrl+S\r\n[CHAT]\r\nanything 5").chatTip, 5);
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\nIF_CHATTIP\t-3").chatTip, -3);
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\nIF_CHATTIP\tyes").chatTip, 1) << "no number: unchanged";
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\n7").chatTip, 1) << "a number alone is the word, with no number after it";
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\nIF_CHATTIP\t99999999999").chatTip, INT32_MAX) << "pinned, never wrapped";
  // Decimal digits only, up to the first other byte; both ends of the range exactly.
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\nIF_CHATTIP\t19").chatTip, 19);
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\nIF_CHATTIP\t12a").chatTip, 12);
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\nIF_CHATTIP\t2147483647").chatTip, 2147483647);
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\nIF_CHATTIP\t-2147483648").chatTip, -2147483647 - 1);
  EXPECT_EQ(f.Load("1\r\n2\r\n3\r\nIF_CHATTIP\t-2147483649").chatTip, -2147483647 - 1) << "pinned below too";
}

TEST(ConfigFile, ValuesStopAtWhiteSpaceAndAreCutAt99Bytes) {
  ConfigFolder f;
  ConfigSettings s = f.Load("[HOTKEY]\r\nFavoriteKey= Alt+E tail\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=Enter\t\r\n[END]");
  EXPECT_EQ(s.hotkeyText, "Alt+E");
  EXPECT_EQ(s.chatSendKey, "Enter");
  s = f.Load("[HOTKEY]\r\nFavoriteKey=\vAlt+V\fmore\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=\fCtrl+Enter\r\r\n");
  EXPECT_EQ(s.hotkeyText, "Alt+V") << "vertical tab and form feed are white space too";
  EXPECT_EQ(s.chatSendKey, "Ctrl+Enter") << "and so is a carriage return before the line's own";
  std::string longValue(5000, 'K');
  s = f.Load("[HOTKEY]\r\nFavoriteKey=" + longValue + "\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=" + longValue);
  EXPECT_EQ(s.hotkeyText, std::string(99, 'K'));
  EXPECT_EQ(s.chatSendKey, std::string(99, 'K'));
  s = f.Load("[HOTKEY]\r\nFavoriteKey=Alt+H" + std::string(300000, 'h') + "\r\n[CHAT]\r\nIF_CHATTIP\t4\r\nChatSendKey=Enter");
  EXPECT_EQ(s.hotkeyText, "Alt+H" + std::string(94, 'h'));
  EXPECT_EQ(s.chatTip, 4) << "the lines after a huge one are still found";
  EXPECT_EQ(s.chatSendKey, "Enter");
  std::string exact(99, 'x');
  s = f.Load("[HOTKEY]\r\nFavoriteKey=" + exact);
  EXPECT_EQ(s.hotkeyText, exact);
  // Only the first 64 KiB of a line are read: here the value's first letter.
  s = f.Load("[HOTKEY]\r\nFavoriteKey=" + std::string(65536 - 13, ' ') + "Alt+Q\r\n[CHAT]");
  EXPECT_EQ(s.hotkeyText, "A");
  // A file of 4097 bytes: its last byte comes in a read of its own.
  std::string head = "[HOTKEY]\r\nFavoriteKey=" + std::string(4096 - 22 - 1, ' ') + "F";
  ASSERT_EQ(4096u, head.size());
  s = f.Load(head + "9");
  EXPECT_EQ(s.hotkeyText, "F9");
}

#include "skin/settings.h"

TEST(SettingsAtStart, ReadsConfigurationAndCurrentSkin) {
  ConfigFolder f;
  ASSERT_TRUE(os::CreateFolder(f.dir / "skin"));
  SkinSet stored;
  ResetSkins(stored);
  stored[2].m_nFlat = 1;
  ASSERT_TRUE(SaveSkin(f.dir.Path(), "", stored));
  ConfigSettings wanted;
  wanted.chatSendKey = "Enter";
  ASSERT_TRUE(SaveConfig(f.dir.Path(), wanted));
  ConfigSettings config;
  SkinSet skins;
  ResetSkins(skins);
  LoadSettingsAtStart(f.dir.Path(), config, skins, nullptr);
  EXPECT_EQ(config.chatSendKey, "Enter");
  EXPECT_EQ(skins[2].m_nFlat, 1);
  EXPECT_TRUE(skins[2].m_font) << "a record saved without a font comes back with the default one";
}

TEST(SettingsAtStart, SecondCopyForwardsOnlyUsableHotkeys) {
  ConfigFolder f;
  int m = -1, k = -1;
  EXPECT_EQ(ForwardableHotkey(f.dir.Path(), m, k), 1) << "no configuration: nothing to complain about";
  EXPECT_EQ(m, 0);
  EXPECT_EQ(k, 0);
  struct { const char* text; int result, mods, key; } cases[] = {
      {"Ctrl+Shift+X", 2, 6, 'X'}, {"F5", 2, 0, 116}, {"A", 0, 0, 'A'}, {"F12", 0, 0, 0}, {"Alt+F", 0, 1, 0},
  };
  for (auto& c : cases) {
    ConfigSettings s;
    s.hotkeyText = c.text;
    ASSERT_TRUE(SaveConfig(f.dir.Path(), s));
    EXPECT_EQ(ForwardableHotkey(f.dir.Path(), m, k), c.result) << c.text;
    EXPECT_EQ(m, c.mods) << c.text;
    EXPECT_EQ(k, c.key) << c.text;
  }
}

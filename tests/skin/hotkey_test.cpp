#include <gtest/gtest.h>

#include "skin/hotkey.h"

using namespace qb;

namespace {
struct Parsed {
  int mods, key;
};
Parsed Parse(const std::string& text) {
  Parsed p{-1, -1};
  ParseHotkeyText(text, p.mods, p.key);
  return p;
}
}  // namespace

TEST(HotkeyText, ParsesTheDocumentedExamples) {
  Parsed p = Parse("Ctrl + Shift + s");
  EXPECT_EQ(p.mods, kHotkeyCtrl | kHotkeyShift);
  EXPECT_EQ(p.key, 'S');
  p = Parse("F5");
  EXPECT_EQ(p.mods, 0);
  EXPECT_EQ(p.key, 116);
  EXPECT_EQ(Parse("Q").key, 81);
  EXPECT_EQ(Parse("Shift+Ctrl+Alt+F11").mods, 7);
  EXPECT_EQ(Parse("Shift+Ctrl+Alt+F11").key, 122);
  EXPECT_EQ(Parse("F2").key, 113);
  EXPECT_EQ(Parse("Alt+7").key, '7');
  EXPECT_EQ(Parse("Alt+a").key, 'A') << "letters in either case";
  EXPECT_EQ(Parse("Alt+z").key, 'Z');
  EXPECT_EQ(Parse("Alt+`").key, '`') << "the characters beside the letters stay";
  EXPECT_EQ(Parse("Alt+{").key, '{');
}

TEST(HotkeyText, KeysOutsideTheGrammarGiveNoKey) {
  EXPECT_EQ(Parse("Ctrl+F12").key, 0);
  EXPECT_EQ(Parse("Ctrl+F1").key, 0);
  EXPECT_EQ(Parse("Ctrl+F1").mods, kHotkeyCtrl);
  EXPECT_EQ(Parse("Ctrl+F").key, 0) << "F alone is the start of a function key, not the letter";
  EXPECT_EQ(Parse("Ctrl+F011").key, 0) << "a function key is F and at most two more characters";
  EXPECT_EQ(Parse("Ctrl+F05").key, 116);
  EXPECT_EQ(Parse("Ctrl+S+F").key, 0) << "F alone ends the parse and clears an earlier key";
  EXPECT_EQ(Parse("Ctrl+F+S").key, 0) << "pieces after F alone are ignored";
  EXPECT_EQ(Parse("Ctrl+Enter").key, 0);
  EXPECT_EQ(Parse("ctrl+S").mods, 0) << "modifier names are case-sensitive";
  EXPECT_EQ(Parse("Ctrl+Fx").key, 0);
  EXPECT_EQ(Parse("Ctrl+F-3").key, 0);
  Parsed empty = Parse("");
  EXPECT_EQ(empty.mods, 0);
  EXPECT_EQ(empty.key, 0);
  Parsed plus = Parse("+ + +");
  EXPECT_EQ(plus.mods, 0);
  EXPECT_EQ(plus.key, 0);
}

TEST(HotkeyText, OrderDoesNotMatterAndTheLastKeyWins) {
  EXPECT_EQ(Parse("s+Alt++Ctrl").mods, kHotkeyAlt | kHotkeyCtrl);
  EXPECT_EQ(Parse("s+Alt++Ctrl").key, 'S');
  EXPECT_EQ(Parse("Ctrl+A+F3").key, 114);
  EXPECT_EQ(Parse("Ctrl+F3+b").key, 'B');
  EXPECT_EQ(Parse("Ctrl+F05").key, 116) << "the number after F is read as a decimal number";
}

TEST(HotkeyText, UsabilityRule) {
  EXPECT_TRUE(IsHotkeyUsable(0, 116));   // F5 alone
  EXPECT_TRUE(IsHotkeyUsable(0, 113));   // F2 alone
  EXPECT_TRUE(IsHotkeyUsable(0, 122));   // F11 alone
  EXPECT_FALSE(IsHotkeyUsable(0, 112));  // F1 alone
  EXPECT_FALSE(IsHotkeyUsable(0, 123));  // F12 alone
  EXPECT_FALSE(IsHotkeyUsable(0, 81));   // Q alone
  EXPECT_TRUE(IsHotkeyUsable(kHotkeyCtrl, 81));
  EXPECT_FALSE(IsHotkeyUsable(kHotkeyCtrl | kHotkeyAlt, 0));
  int m, k;
  ParseHotkeyText("Q", m, k);
  EXPECT_FALSE(IsHotkeyUsable(m, k));
  ParseHotkeyText("Ctrl+F12", m, k);
  EXPECT_FALSE(IsHotkeyUsable(m, k));
}

TEST(HotkeyText, FormatPutsModifiersInFrontInShiftCtrlAltOrder) {
  EXPECT_EQ(FormatHotkeyText('K', true, true, true), "Shift + Ctrl + Alt + K");
  EXPECT_EQ(FormatHotkeyText('0', false, true, false), "Ctrl + 0");
  EXPECT_EQ(FormatHotkeyText(121, false, false, false), "F10");
  EXPECT_EQ(FormatHotkeyText(17, false, true, false), "Ctrl + ") << "a modifier pressed alone";
  EXPECT_EQ(FormatHotkeyText(112, false, false, false), "") << "F1 is not in the table";
  EXPECT_EQ(FormatHotkeyText(123, true, false, false), "Shift + ");
  EXPECT_EQ(FormatHotkeyText(47, false, false, false), "");
  EXPECT_EQ(FormatHotkeyText(91, false, false, false), "");
}

TEST(HotkeyText, EveryFormattedKeyParsesBack) {
  // What the settings dialog shows for a key press, stored without blanks,
  // must register as the same key and modifiers.
  for (unsigned vk = 0; vk < 256; ++vk) {
    for (int mods = 0; mods < 8; ++mods) {
      bool shift = mods & kHotkeyShift, ctrl = mods & kHotkeyCtrl, alt = mods & kHotkeyAlt;
      std::string text = FormatHotkeyText(vk, shift, ctrl, alt);
      int m = -1, k = -1;
      ParseHotkeyText(text, m, k);
      bool printable = vk >= '0' && vk <= 'Z';
      bool functionKey = vk >= 113 && vk <= 122;
      if (vk == 'F') {
        EXPECT_EQ(k, 0) << "F by itself reads as a function key without a number";
        continue;
      }
      if (printable || functionKey) {
        EXPECT_EQ(k, (int)vk) << text;
        EXPECT_EQ(m, mods) << text;
      } else {
        EXPECT_EQ(k, 0) << text;
        EXPECT_EQ(m, mods) << text;
      }
    }
  }
}

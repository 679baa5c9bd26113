#include <gtest/gtest.h>

#if defined(__GLIBC__) && !defined(_WIN32)
#include <malloc.h>
#endif

#include <cstring>

#include "base/codepage.h"
#include "base/ui.h"

TEST(CodePage, LiteralsAreGbkInTheBinary) {
  // The build compiles narrow literals to code page 936 on both targets.
  EXPECT_EQ(std::string("桌面"), std::string("\xD7\xC0\xC3\xE6"));
}

TEST(CodePage, RoundTripsBetweenGbkUtf16AndUtf8) {
  std::string gbk = "\xD7\xC0\xC3\xE6 Qimbo";  // 桌面 Qimbo
  std::u16string w;
  ASSERT_EQ(1, qb::GbkToUtf16(gbk, w));
  EXPECT_EQ(w, std::u16string(u"\u684C\u9762 Qimbo"));
  std::string back;
  ASSERT_EQ(1, qb::Utf16ToGbk(w, back));
  EXPECT_EQ(back, gbk);

  std::string utf8;
  ASSERT_EQ(1, qb::GbkToUtf8(gbk, utf8));
  EXPECT_EQ(utf8, "\xE6\xA1\x8C\xE9\x9D\xA2 Qimbo");
  ASSERT_EQ(1, qb::Utf8ToGbk(utf8, back));
  EXPECT_EQ(back, gbk);

  // The shorthand forms give the converted text itself.
  EXPECT_EQ(std::u16string(u"\u684C\u9762 Qimbo"), qb::ToWide(gbk));
  EXPECT_EQ(gbk, qb::FromWide(u"\u684C\u9762 Qimbo"));
  EXPECT_EQ("\xE6\xA1\x8C\xE9\x9D\xA2 Qimbo", qb::ToUtf8(gbk));
  EXPECT_EQ(gbk, qb::FromUtf8("\xE6\xA1\x8C\xE9\x9D\xA2 Qimbo"));

  // Every two-byte GBK character of the common range survives the round trip.
  for (int hi = 0xB0; hi <= 0xF7; hi += 7)
    for (int lo = 0xA1; lo <= 0xFE; lo += 5) {
      std::string c = {(char)hi, (char)lo};
      EXPECT_EQ(qb::FromUtf8(qb::ToUtf8(c)), c) << hi << "," << lo;
    }
}

TEST(CodePage, EmptyAndUnmappableInput) {
  std::string out = "x";
  EXPECT_EQ(1, qb::GbkToUtf8("", out));
  EXPECT_EQ(out, "");
  // A character with no GBK form is reported, not silently dropped.
  std::string gbk;
  EXPECT_FALSE(qb::Utf16ToGbk(u"a\U0001F600b", gbk));
  EXPECT_EQ(gbk.front(), 'a');
  EXPECT_EQ(gbk.back(), 'b');
#ifndef _WIN32
  // Malformed input in each direction: one '?' for each unit that cannot be
  // read. (Windows' own code page 936 gives such bytes characters of its own.)
  std::string utf8;
  EXPECT_FALSE(qb::GbkToUtf8("a\xFF" "b", utf8));
  EXPECT_EQ("a?b", utf8);
  EXPECT_FALSE(qb::Utf8ToGbk("a\xFF" "b", gbk));
  EXPECT_EQ("a?b", gbk);
  std::u16string wide;
  EXPECT_FALSE(qb::GbkToUtf16("a\xFF" "b", wide));
  EXPECT_EQ(u"a?b", wide);
  // A character the code page lacks is one '?' too.
  EXPECT_FALSE(qb::Utf16ToGbk(u"a\u00AEb", gbk));
  EXPECT_EQ("a?b", gbk);
#endif
  std::u16string none = u"x";
  EXPECT_EQ(1, qb::GbkToUtf16("", none));
  EXPECT_TRUE(none.empty());
}

// Characters code page 936 lacks are kept as references where text comes in
// and given back as themselves where it goes out; the same bytes both ways.
TEST(CodePage, CharactersOutsideTheCodePageTravelAsReferences) {
  // 😀, 한 (Hangul), € and 中.
  const std::u16string wide = u"\U0001F600\uD55C\u20AC\u4E2D!";
  const std::string kept = "&#x1F600;&#xD55C;&#x20AC;\xD6\xD0!";
  EXPECT_EQ(kept, qb::FromWide(wide));
  EXPECT_EQ(wide, qb::ToWide(kept));
  const std::string utf8 = "\xF0\x9F\x98\x80\xED\x95\x9C\xE2\x82\xAC\xE4\xB8\xAD!";
  EXPECT_EQ(kept, qb::FromUtf8(utf8));
  EXPECT_EQ(utf8, qb::ToUtf8(kept));
  // Only a reference the program would make is turned back: to a character
  // the code page lacks, with its semicolon. Decimal and lower case count.
  for (const char* text : {"&#x41;", "&#x4E2D;", "&#20013;", "&#x1F600", "&#x;", "&#;", "&amp;", "&#xD800;",
                           "&#x110000;", "&#x0000000001F600;", "&", "&#", "&#x"}) {
    EXPECT_EQ(qb::ToWide(text), std::u16string(text, text + strlen(text))) << text;
    EXPECT_EQ(text, qb::ToUtf8(text)) << text;
  }
  EXPECT_EQ(u"\U0001F600", qb::ToWide("&#128512;"));
  EXPECT_EQ(u"\U0001F600x", qb::ToWide("&#x1f600;x"));
  EXPECT_EQ(u"a&\U0001F600", qb::ToWide("a&&#x1F600;"));
  // Half a surrogate pair stands for nothing; a malformed UTF-8 byte is a "?".
  EXPECT_EQ("a?b", qb::FromWide(u"a\xD83D" u"b"));
  EXPECT_EQ("a?b", qb::FromUtf8("a\xFF" "b"));
  // Double-byte characters around a reference stay whole.
  EXPECT_EQ(u"\u4E2D\U0001F600\u4E2D", qb::ToWide("\xD6\xD0&#x1F600;\xD6\xD0"));
}

TEST(CodePage, AReferenceIsOneCharacterToCountAndCut) {
  const std::string text = "ab&#x1F600;\xD6\xD0";
  EXPECT_EQ(0u, qb::RefAt(text, 0));
  uint32_t cp = 0;
  EXPECT_EQ(9u, qb::RefAt(text, 2, &cp));
  EXPECT_EQ(0x1F600u, cp);
  EXPECT_EQ(9u, qb::CharLenAt(text, 2));
  EXPECT_EQ(2u, qb::CharLenAt(text, 11));
  EXPECT_EQ(4u, qb::CharCount(text));
  EXPECT_EQ(0u, qb::RefAt("&#x4E2D;", 0)) << "a character the code page holds is no reference of ours";
  // A cut never ends inside a reference or a double-byte character.
  EXPECT_EQ("ab", qb::CutBytes(text, 2));
  for (size_t n = 3; n <= 10; ++n) EXPECT_EQ("ab", qb::CutBytes(text, n)) << n;
  EXPECT_EQ("ab&#x1F600;", qb::CutBytes(text, 11));
  EXPECT_EQ("ab&#x1F600;", qb::CutBytes(text, 12));
  EXPECT_EQ(text, qb::CutBytes(text, 13));
  EXPECT_EQ("&#x20AC;", qb::CharRef(0x20AC));
  EXPECT_EQ("&#x1F600;", qb::CharRef(0x1F600));
  EXPECT_EQ(0, qb::GbkCode(0x20AC)) << "the euro sign has no double-byte code";
  EXPECT_EQ(0xD6D0, qb::GbkCode(0x4E2D));
}

#if defined(__GLIBC__) && !defined(_WIN32)
// Each conversion gives back what it takes: a thousand of them leave the heap
// as it was (a converter left open costs some hundred bytes each time).
TEST(CodePage, ConversionsKeepNoMemory) {
  std::string out;
  std::u16string wide;
  qb::GbkToUtf8("\xD7\xC0", out);  // the first use loads the converters
  qb::GbkToUtf16("\xD7\xC0", wide);
  long long before = (long long)mallinfo2().uordblks;
  for (int i = 0; i < 1000; ++i) {
    qb::GbkToUtf8("\xD7\xC0", out);
    qb::GbkToUtf16("\xD7\xC0", wide);
  }
  long long grown = (long long)mallinfo2().uordblks - before;
  EXPECT_LT(grown, 20000) << grown;
}
#endif

// Without a window the console answers every question itself: yes to a
// yes/no question, OK to anything else, and prints caption and text in UTF-8.
TEST(ConsoleUi, AnswersYesToQuestionsAndOkOtherwise) {
  qb::CConsoleUi ui;
  testing::internal::CaptureStderr();
  EXPECT_EQ(6, ui.ShowMessage("删除?", "收藏", 0x4));       // yes/no
  EXPECT_EQ(6, ui.ShowMessage("q", "", 0x24));              // yes/no with the question icon
  EXPECT_EQ(1, ui.ShowMessage("done", "", 0x0));            // OK
  EXPECT_EQ(1, ui.ShowMessage("sure?", "", 0x1));           // OK/Cancel
  EXPECT_EQ(1, ui.ShowMessage("warn", "", 0x30));           // OK with the warning icon
  EXPECT_EQ(1, ui.ShowMessage("again?", "", 0x5));          // retry/cancel: the low bit counts too
  EXPECT_EQ(1, ui.ShowMessage("three?", "", 0x3));          // yes/no/cancel is no yes/no either
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0u, printed.find("\xE6\x94\xB6\xE8\x97\x8F: \xE5\x88\xA0\xE9\x99\xA4?\nq\ndone\n"));
}

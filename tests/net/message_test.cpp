#include "net/message.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/cipher.h"

using namespace qb;

TEST(Message, SplitFieldsScanner) {
  FieldList f;
  ASSERT_TRUE(SplitFields("<5><LGI><OK><100>\r\n", f));
  EXPECT_EQ(FieldList({"5", "LGI", "OK", "100"}), f);
  ASSERT_TRUE(SplitFields("<9><LEAVEWORD><1><2>hello", f));
  EXPECT_EQ(4u, f.size());
  EXPECT_EQ("2", f.back());
  ASSERT_TRUE(SplitFields("x<a>", f));
  EXPECT_EQ(FieldList({"a"}), f);
  ASSERT_TRUE(SplitFields("ab>", f));
  EXPECT_EQ(FieldList({"ab"}), f);
  ASSERT_TRUE(SplitFields("a>b>", f));
  EXPECT_EQ(FieldList({"a", "b"}), f) << "each '>' ends a field of its own";
  ASSERT_TRUE(SplitFields("<a<b>", f));
  EXPECT_EQ(FieldList({"a<b"}), f);
  ASSERT_TRUE(SplitFields("<>", f));
  EXPECT_EQ(FieldList({""}), f);
  EXPECT_FALSE(SplitFields("no fields here <open", f));
  EXPECT_TRUE(f.empty());
}

TEST(Message, BracketAndNumbers) {
  EXPECT_EQ("<abc>", BracketField("a<b>c"));
  EXPECT_EQ("<>", BracketField(""));
  EXPECT_EQ(-5, ReadNumber("  -5xyz"));
  EXPECT_EQ(0, ReadNumber("abc"));
  EXPECT_EQ(0, ReadNumber(""));
  EXPECT_EQ(INT32_MAX, ReadNumber("99999999999999999999"));
  EXPECT_EQ(INT32_MIN, ReadNumber("-2147483648"));
  EXPECT_EQ("<-7>", BracketNumber(-7));
  // Every kind of blank before the number, a plus sign, both ends of the range.
  EXPECT_EQ(42, ReadNumber("\t\n\r\v\f 42"));
  EXPECT_EQ(7, ReadNumber("+7"));
  EXPECT_EQ(INT32_MAX, ReadNumber("2147483647"));
  EXPECT_EQ(INT32_MAX, ReadNumber("2147483648"));
  EXPECT_EQ(INT32_MIN, ReadNumber("-2147483649"));
  // However many digits: 2^64 and 2^64 + 5 are no small numbers.
  EXPECT_EQ(INT32_MAX, ReadNumber("18446744073709551616"));
  EXPECT_EQ(INT32_MIN, ReadNumber("-18446744073709551621"));
}

TEST(Message, Addresses) {
  EXPECT_EQ(67305985, AddressNumber(MakeAddress(1, 2, 3, 4)));
  EXPECT_EQ(16820416, AddressNumber(ParseDottedAddress("192.168.0.1")));
  EXPECT_LT(AddressNumber(ParseDottedAddress("3.2.1.200")), 0);  // high last octet
  EXPECT_EQ("3.2.1.200", DottedAddress(AddressFromNumber(AddressNumber(ParseDottedAddress("3.2.1.200")))));
  // Every octet in full, each in its place.
  EXPECT_EQ("255.255.255.255", DottedAddress(MakeAddress(255, 255, 255, 255)));
  EXPECT_EQ("1.3.5.7", DottedAddress(MakeAddress(1, 3, 5, 7)));
  EXPECT_EQ(kNoAddress, ParseDottedAddress("1.2.3"));
  EXPECT_EQ(kNoAddress, ParseDottedAddress("1.2.3.256"));
  EXPECT_EQ(MakeAddress(255, 254, 3, 255), ParseDottedAddress("255.254.3.255"));
  EXPECT_EQ(MakeAddress(1, 2, 3, 4), ParseDottedAddress("001.002.003.004"));
  EXPECT_EQ(kNoAddress, ParseDottedAddress("1.2.3.0004")) << "three digits at most";
  EXPECT_EQ(kNoAddress, ParseDottedAddress("1.2.3.4x"));
  EXPECT_EQ(kNoAddress, ParseDottedAddress("1-2.3.4"));
  EXPECT_EQ(kNoAddress, ParseDottedAddress("1.2.3:4"));
  EXPECT_EQ(kNoAddress, ParseDottedAddress(""));
  EXPECT_EQ(kNoAddress, ParseDottedAddress("1..3.4")) << "an empty part is no 0";
  EXPECT_EQ(kNoAddress, ParseDottedAddress(".2.3.4"));
}

TEST(Message, ChatTextEscaping) {
  EXPECT_EQ("\xA8\xB5" "b\xA8\xB6", EscapeChatText("<b>"));
  // A typed A8 B5 pair is dropped rather than turning into '<' at the receiver.
  EXPECT_EQ("xy", EscapeChatText("x\xA8\xB5y"));
  EXPECT_EQ("a<b>c", UnescapeChatText(EscapeChatText("a<b>c")));
  // Other GBK characters with lead byte A8 are kept, both ways.
  EXPECT_EQ("\xA8\xA1", EscapeChatText("\xA8\xA1"));
  EXPECT_EQ("\xA8\xA1\xA8\xB4", UnescapeChatText("\xA8\xA1\xA8\xB4"));
  // Only the pairs A8 B5 and A8 B6 are brackets, not other characters
  // ending in B5 or B6, nor a letter before a stray B6.
  EXPECT_EQ("\xB0\xB5\xB0\xB6" "x\xB6", UnescapeChatText("\xB0\xB5\xB0\xB6" "x\xB6"));
}

// Words whose bytes hold A8 B5 or A8 B6 across two characters: 报道 is
// B1 A8 B5 C0, 定点 B6 A8 B5 E3, 法定 B7 A8 B6 A8, 波段 B2 A8 B6 CE.
TEST(Message, ChatTextEscapingKeepsWholeChineseCharacters) {
  for (const char* word : {"报道", "定点", "法定", "波段"}) {
    SCOPED_TRACE(word);
    EXPECT_EQ(word, EscapeChatText(word));
    EXPECT_EQ(word, UnescapeChatText(word));
  }
  // Mixed with brackets: the brackets still go out as A8 B5 / A8 B6.
  EXPECT_EQ("\xA8\xB5" "\xB1\xA8\xB5\xC0" "\xA8\xB6" "\xB2\xA8\xB6\xCE",
            EscapeChatText("<报道>波段"));
  EXPECT_EQ("<报道>波段", UnescapeChatText(EscapeChatText("<报道>波段")));
  EXPECT_EQ("法定<定点>报道", UnescapeChatText(EscapeChatText("法定<定点>报道")));
  EXPECT_EQ("a>法定<b", UnescapeChatText(EscapeChatText("a>法定<b")));
  // A real U+01D6 / U+01D8 typed between the words is still dropped on sending.
  EXPECT_EQ("报道波段", EscapeChatText("报道ǖ波段ǘ"));
  // A received text whose pair stands across two characters is no bracket.
  EXPECT_EQ("\xB1\xA8\xB5\xC0", UnescapeChatText("\xB1\xA8\xB5\xC0"));
}

TEST(Message, ChatTextEscapingOddBytes) {
  // A lead byte at the end, or before a byte that cannot follow it, stands
  // alone: the bracket after it is still escaped.
  EXPECT_EQ("\xB1", EscapeChatText("\xB1"));
  EXPECT_EQ("\xB1\xA8\xB5", EscapeChatText("\xB1<"));
  EXPECT_EQ("\xB1\xA8\xB6" "x", EscapeChatText("\xB1>x"));
  // Single-byte 0x80 and 0xFF are characters of their own.
  EXPECT_EQ("\x80\xA8\xB5", EscapeChatText("\x80<"));
  EXPECT_EQ("\xFF\xA8\xB6", EscapeChatText("\xFF>"));
  // Where each character ends decides which pair is a typed U+01D6: lead
  // bytes run from 0x81 to 0xFE, and a lead byte takes 0xFE with it.
  EXPECT_EQ("\x80", EscapeChatText("\x80\xA8\xB5"));
  EXPECT_EQ("\xFF", EscapeChatText("\xFF\xA8\xB5"));
  EXPECT_EQ("\xFE\xA1", EscapeChatText("\xFE\xA1\xA8\xB5"));
  EXPECT_EQ("\x81\xFE", EscapeChatText("\x81\xFE\xA8\xB5"));
}

TEST(Message, FontFields) {
  CharFormat cf;
  cf.dwMask = 0xF800003F;
  cf.dwEffects = 0x00010002;
  cf.yHeight = 210;
  cf.yOffset = -3;
  cf.crTextColor = 0xFF8000;
  cf.bCharSet = 134;
  cf.bPitchAndFamily = 49;
  cf.faceName = "宋体";
  std::string text = FormatFontFields(cf);
  EXPECT_NE(std::string::npos, text.find("<255><32768>"));
  FieldList f;
  ASSERT_TRUE(SplitFields(text + "<after>", f));
  ASSERT_EQ(13u, f.size());
  CharFormat back;
  ASSERT_TRUE(ParseFontFields(f, back));
  EXPECT_TRUE(back == cf);
  EXPECT_EQ(FieldList({"after"}), f);
  // A face name holds 31 bytes at most, on sending and on reading.
  cf.faceName = std::string(31, 'f');
  ASSERT_TRUE(SplitFields(FormatFontFields(cf), f));
  ASSERT_TRUE(ParseFontFields(f, back));
  EXPECT_EQ(std::string(31, 'f'), back.faceName);
  cf.faceName = std::string(32, 'g');
  ASSERT_TRUE(SplitFields(FormatFontFields(cf), f));
  EXPECT_EQ(std::string(31, 'g'), f.back());
  f.back() = std::string(40, 'h');
  ASSERT_TRUE(ParseFontFields(f, back));
  EXPECT_EQ(std::string(31, 'h'), back.faceName);
  // A partial description yields nothing and leaves nothing behind.
  ASSERT_TRUE(SplitFields(text.substr(0, text.rfind('<')), f));
  EXPECT_FALSE(ParseFontFields(f, back));
  EXPECT_TRUE(f.empty());
}

// Two formats are the same only when every member is.
TEST(Message, FontsDifferingInAnyOneMemberDiffer) {
  CharFormat base;
  base.dwMask = 0xF800003F;
  base.yHeight = 210;
  base.crTextColor = 0x008000;
  base.bCharSet = 134;
  base.faceName = "宋体";
  const std::function<void(CharFormat&)> changes[] = {
      [](CharFormat& c) { c.cbSize = 59; },          [](CharFormat& c) { c.dwMask = 0xF800003E; },
      [](CharFormat& c) { c.dwEffects = 1; },        [](CharFormat& c) { c.yHeight = 200; },
      [](CharFormat& c) { c.yOffset = -3; },         [](CharFormat& c) { c.crTextColor = 0x008001; },
      [](CharFormat& c) { c.bCharSet = 0; },         [](CharFormat& c) { c.bPitchAndFamily = 49; },
      [](CharFormat& c) { c.faceName = "新宋体"; }};
  EXPECT_TRUE(base == base);
  for (size_t i = 0; i < sizeof changes / sizeof changes[0]; ++i) {
    CharFormat other = base;
    changes[i](other);
    EXPECT_FALSE(base == other) << i;
    EXPECT_FALSE(other == base) << i;
  }
}

TEST(Message, NodeFieldsRoundTripAndRejects) {
  NodeWire n;
  n.name = "新浪<网>";
  n.kind = 1;
  n.address = "http://www.example.com/" + std::string(600, 'x');
  n.parentName = "新闻";
  n.iconPath = "images\\icon\\a.ico";
  n.note = "note";
  n.visits = 12;
  n.slot = 29;
  n.circle = "Reserved";
  FieldList f;
  ASSERT_TRUE(SplitFields(MsgFavUpNode(n), f));
  EXPECT_EQ(12u, f.size());
  f.erase(f.begin(), f.begin() + 3);
  NodeWire back;
  ASSERT_TRUE(ParseNodeFields(f, back));
  EXPECT_EQ(n.name, back.name);  // enciphered, so the brackets survive
  EXPECT_EQ(n.address, back.address);
  EXPECT_EQ(n.parentName, back.parentName);
  EXPECT_EQ(n.iconPath, back.iconPath);
  EXPECT_EQ(1, back.kind);
  EXPECT_EQ("note", back.note);
  EXPECT_EQ(12, back.visits);
  EXPECT_EQ(29, back.slot);
  EXPECT_EQ("Reserved", back.circle);

  // The name, kind, visits and slot must be there; address, parent, icon
  // and note may be empty.
  for (const char* text : {"<><1><><><><><1><3><x>", "<AB><><><><><><1><3><x>", "<AB><1><><><><><><3><x>",
                           "<AB><1><><><><><1><><x>"}) {
    ASSERT_TRUE(SplitFields(text, f));
    EXPECT_FALSE(ParseNodeFields(f, back)) << text;
  }
  // Eight fields are the least: seven are refused.
  ASSERT_TRUE(SplitFields("<AB><1><><><><><1>", f));
  EXPECT_FALSE(ParseNodeFields(f, back));
  // Kind out of range reads as 0; the circle mark is optional.
  ASSERT_TRUE(SplitFields("<AB><7><><><><><1><3>", f));
  ASSERT_TRUE(ParseNodeFields(f, back));
  EXPECT_EQ(0, back.kind);
  EXPECT_EQ("", back.circle);
  // Kinds 0 to 3 are kept as sent; 4 and -1 are out of range.
  for (const char* kind : {"3", "4", "-1", "2"}) {
    ASSERT_TRUE(SplitFields(std::string("<AB><") + kind + "><><><><><1><3>", f));
    ASSERT_TRUE(ParseNodeFields(f, back));
    EXPECT_EQ(std::string(kind) == "3" ? 3 : std::string(kind) == "2" ? 2 : 0, back.kind) << kind;
  }
}

TEST(Message, CatalogueShapes) {
  EXPECT_EQ("<3><REQWORDS><100>\r\n", FrameMessage(3, MsgReqWords(100)));
  EXPECT_EQ("<LGI><1060><5><" + EncodeText("pw") + ">", MsgLogin(5, "pw"));
  EXPECT_EQ("<FAV><UP><COUNT><4><5><pw>", MsgFavUpCount(4, 5, "p<w"));
  std::string key(300, 'k');
  FieldList f;
  ASSERT_TRUE(SplitFields(MsgGroupUpNode(7, "n", 1, key, "", "", "Reserved"), f));
  EXPECT_EQ(200u, f[5].size());
  EXPECT_EQ("<LEAVEWORD><1><2>a\xA8\xB5", MsgLeaveWord(1, 2, "a\xA8\xB5"));
  ASSERT_TRUE(SplitFields(MsgGroupList("c", {{"1.2.3.4", "nick", 9, "c"}}), f));
  EXPECT_EQ(FieldList({"GROUP", "LIST", "1", "c", "1.2.3.4", "nick", "9", "c"}), f);
  // The server's short answers, field by field.
  EXPECT_EQ("<LGI><OK><100>", MsgLoginOk(100));
  EXPECT_EQ("<LGI><FAILED>", MsgLoginRefused());
  EXPECT_EQ("<VER><1070>", MsgVersion(1070));
  EXPECT_EQ("<FAV><UP><ALLOWED>", MsgFavUpAllowed());
  EXPECT_EQ("<FAV><UP><NODE><OK>", MsgFavUpNodeOk());
  EXPECT_EQ("<FAV><DOWN><REQ><INVALID>", MsgFavDownInvalid());
  EXPECT_EQ("<FAV><DOWN><REQ><BLANK>", MsgFavDownBlank());
  EXPECT_EQ("<FAV><DOWN><COUNT><3>", MsgFavDownCount(3));
  EXPECT_EQ("<GROUP><UPNODE><OK>", MsgGroupUpNodeResult(true));
  EXPECT_EQ("<GROUP><UPNODE><FAILED>", MsgGroupUpNodeResult(false));
  EXPECT_EQ("<CHAT><DELEUSER><1.2.3.4>", MsgChatDeleUser("1.2.3.4"));
  EXPECT_EQ("<CHATAD><http://ad/>", MsgChatAd("http://ad/"));
}

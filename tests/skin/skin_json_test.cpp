#include <gtest/gtest.h>

#include "base/codepage.h"
#include "os/font.h"
#include "skin/skin.h"
#include "skin/skin_json.h"
#include "testutil.h"

using namespace qb;

namespace {
void Sample(SkinSet& skins) {
  ResetSkins(skins);
  skins[0].m_font = os::CFont::Create(qbtest::ChineseFont("微软雅黑", -14, 700, 0x31));
  skins[0].m_clrHoverBack = MakeColour(0x12, 0x34, 0x56);
  skins[1].m_nFlat = 1;
  skins[3].m_strImagePath = "D:\\皮肤\\\"引号\"\\a.bmp";
  skins[4].m_nClickMark = 0;
}

// Five records, the given text standing for record `at`.
std::string WithRecord(int at, const std::string& record) {
  std::string json = "[";
  for (int i = 0; i < kSkinAreaCount; ++i) json += std::string(i ? "," : "") + (i == at ? record : "{}");
  return json + "]";
}

std::string Fails(const std::string& json) {
  SkinSet skins;
  Sample(skins);
  std::string before = EncodeSkinRecords(skins), error;
  EXPECT_EQ(SkinFromJson(json, skins, error), 0) << json.substr(0, 200);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(EncodeSkinRecords(skins), before) << "a failed read leaves the records alone";
  return error;
}
}  // namespace

TEST(SkinJson, DumpReadsBackToTheSameDatabase) {
  SkinSet skins, back;
  Sample(skins);
  std::string json = SkinToJson(skins);
  EXPECT_NE(json.find("\"hoverBack\": \"#123456\""), std::string::npos) << "red first";
  EXPECT_NE(json.find(ToUtf8("微软雅黑")), std::string::npos) << "text is UTF-8";
  EXPECT_NE(json.find("\"font\": null"), std::string::npos);
  std::string error;
  ASSERT_EQ(SkinFromJson(json, back, error), 1) << error;
  EXPECT_EQ(EncodeSkinRecords(back), EncodeSkinRecords(skins));
  EXPECT_FALSE(back[1].m_font);
  EXPECT_EQ(back[3].m_strImagePath, skins[3].m_strImagePath);
}

TEST(SkinJson, MissingMembersKeepTheDefaultsAndEscapesAreDecoded) {
  SkinSet skins;
  std::string error;
  std::string json = WithRecord(2, "{\"faceName\": \"\\u5b8b\\u4f53\", \"colours\": {\"normalText\": \"#ff0000\"},"
                                   " \"image\": \"a\\\\b\\/c.bmp\", \"area\": 2}");
  ASSERT_EQ(SkinFromJson(json, skins, error), 1) << error;
  ASSERT_TRUE(skins[2].m_font) << "a face name alone asks for a font";
  EXPECT_EQ(os::FaceName(skins[2].m_font->Desc()), "宋体");
  EXPECT_EQ(skins[2].m_font->Desc().head.height, DefaultSkinFont(2).head.height);
  EXPECT_EQ(skins[2].m_clrNormalText, 0x0000FFu);
  EXPECT_EQ(skins[2].m_clrNormalBack, MakeColour(208, 208, 208));
  EXPECT_EQ(skins[2].m_strImagePath, "a\\b/c.bmp");
  EXPECT_FALSE(skins[0].m_font);
  EXPECT_EQ(skins[0].m_strAreaName, SkinAreaName(0));
}

TEST(SkinJson, BadDocumentsFailCleanly) {
  Fails("");
  Fails("[");
  Fails("[{},{},{},{}]");
  Fails("[{},{},{},{},{},{}]");
  Fails("{}");
  Fails("[{},{},{},{},{}] x");
  Fails("[{},{},{},{},{},]");
  Fails(std::string(100000, '['));
  Fails(WithRecord(0, "{\"colour\": {}}"));
  Fails(WithRecord(0, "{\"flat\": 2}"));
  Fails(WithRecord(0, "{\"flat\": -1}"));
  Fails(WithRecord(0, "{\"clickMark\": -1}"));
  Fails(WithRecord(0, "{\"flat\": 1.0}"));
  Fails(WithRecord(0, "{\"flat\": 01}"));
  Fails(WithRecord(0, "{\"flat\": 1, \"flat\": 0}"));
  Fails(WithRecord(1, "{\"area\": 0}"));
  Fails(WithRecord(0, "{\"colours\": {\"normalText\": \"red\"}}"));
  Fails(WithRecord(0, "{\"colours\": {\"normalText\": \"#12345\"}}"));
  Fails(WithRecord(0, "{\"colours\": {\"normalText\": \"#12345G\"}}"));
  // The characters just outside each hex range, and the ends of the ranges.
  for (const char* bad : {"#12345/", "#12345:", "#12345@", "#12345`", "#12345g", " 123456", "#1234567"})
    Fails(WithRecord(0, std::string("{\"colours\": {\"normalText\": \"") + bad + "\"}}"));
  SkinSet hex;
  std::string error;
  ASSERT_EQ(1, SkinFromJson(WithRecord(0, "{\"colours\": {\"normalText\": \"#09afAF\"}}"), hex, error)) << error;
  EXPECT_EQ(MakeColour(0x09, 0xAF, 0xAF), hex[0].m_clrNormalText);
  // The ends of the font members' ranges are taken.
  ASSERT_EQ(1, SkinFromJson(WithRecord(0, "{\"font\": {\"charSet\": 255, \"italic\": 0,"
                                          " \"height\": -2147483648, \"width\": 2147483647}}"),
                            hex, error))
      << error;
  ASSERT_TRUE(hex[0].m_font);
  EXPECT_EQ(255, hex[0].m_font->Desc().head.charSet);
  EXPECT_EQ(0, hex[0].m_font->Desc().head.italic);
  EXPECT_EQ(INT32_MIN, hex[0].m_font->Desc().head.height);
  EXPECT_EQ(INT32_MAX, hex[0].m_font->Desc().head.width);
  Fails(WithRecord(0, "{\"font\": {\"italic\": 256}}"));
  Fails(WithRecord(0, "{\"font\": {\"charSet\": -1}}"));
  Fails(WithRecord(0, "{\"font\": {\"height\": 2147483648}}"));
  Fails(WithRecord(0, "{\"font\": {\"height\": 99999999999999999999999}}"));
  Fails(WithRecord(0, "{\"font\": {\"size\": 9}}"));
  Fails(WithRecord(0, "{\"font\": 9}"));
  Fails(WithRecord(0, "{\"faceName\": \"" + std::string(32, 'x') + "\"}"));
  Fails(WithRecord(0, "{\"faceName\": \"a\\u0000b\"}"));
  EXPECT_EQ("record 2: not an object", Fails(WithRecord(2, "5")));
  EXPECT_EQ("record 1: unknown member \"imag\"", Fails(WithRecord(1, "{\"imag\": \"a.bmp\"}")));
  EXPECT_EQ("record 0: \"colours\" must be an object", Fails(WithRecord(0, "{\"colours\": [\"#000000\"]}")));
  EXPECT_EQ("record 3: unknown colour \"purple\"", Fails(WithRecord(3, "{\"colours\": {\"purple\": \"#000000\"}}")));
  for (const char* face : {"\"\\ud83d\\ude00\"", "5"})  // a character code page 936 lacks; no text at all
    EXPECT_EQ("record 1: \"faceName\" must be a string that code page 936 can hold",
              Fails(WithRecord(1, std::string("{\"faceName\": ") + face + "}")));
  Fails(WithRecord(0, "{\"image\": \"\\ud800\"}"));
  Fails(WithRecord(0, "{\"image\": \"\\udc00\"}"));
  Fails(WithRecord(0, "{\"image\": \"\\ud83d\\ude00\"}"));  // not a character code page 936 has
  Fails(WithRecord(0, "{\"image\": \"\xC3\x28\"}"));  // not UTF-8
  Fails(WithRecord(0, "{\"image\": \"tab\there\"}"));
  Fails(WithRecord(0, "{\"image\": \"\\x\"}"));
  Fails(WithRecord(0, "{\"image\": tru}"));
}

TEST(SkinJson, EveryCutOfAGoodDocumentFailsWithoutHarm) {
  SkinSet skins;
  Sample(skins);
  std::string json = SkinToJson(skins);
  for (size_t n = 0; n + 2 < json.size(); n += 7) Fails(json.substr(0, n));
}

TEST(SkinJson, FontRefusedByTheSystemIsAnError) {
  os::SetFontRefusal([](const os::FontDesc&) { return true; });
  std::string error = Fails(WithRecord(4, "{\"faceName\": \"Arial\"}"));
  os::SetFontRefusal(nullptr);
  EXPECT_NE(error.find("record 4"), std::string::npos) << error;
}

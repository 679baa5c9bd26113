#include <gtest/gtest.h>

#include "os/font.h"
#include "testutil.h"

#ifdef _WIN32
#include <windows.h>
#endif

TEST(FontSeam, FontKeepsItsDescriptionAndOnWindowsIsAGdiFont) {
  os::FontDesc d = qbtest::ChineseFont("宋体", -15, 700, 0x31);
  auto font = os::CFont::Create(d);
  ASSERT_TRUE(font);
  EXPECT_TRUE(os::SameFontDesc(font->Desc(), d));
#ifdef _WIN32
  ASSERT_NE(font->Handle(), nullptr);
  LOGFONTW lf;
  ASSERT_EQ(GetObjectW((HFONT)font->Handle(), sizeof lf, &lf), (int)sizeof lf);
  EXPECT_EQ(lf.lfHeight, -15);
  EXPECT_EQ(lf.lfWeight, 700);
  EXPECT_EQ(lf.lfCharSet, 134);
  EXPECT_EQ(lf.lfPitchAndFamily, 0x31);
  EXPECT_EQ(std::u16string((const char16_t*)lf.lfFaceName), u"宋体") << "the face name is code page 936";
#else
  EXPECT_EQ(font->Handle(), nullptr);
#endif
}

// Face names hold 31 bytes and end at a whole character; two descriptions
// are the same font when every head byte and the face name agree.
TEST(FontSeam, FaceNamesAreCutAtWholeCharactersAndCompared) {
  auto face = [](const std::string& name) {
    os::FontDesc d;
    os::SetFaceName(d, name);
    return os::FaceName(d);
  };
  std::string a30(30, 'a');
  EXPECT_EQ(a30 + "b", face(a30 + "b"));
  EXPECT_EQ(a30 + "b", face(a30 + "bc"));
  EXPECT_EQ(a30, face(a30 + "宋")) << "a character that does not fit is left out whole";
  EXPECT_EQ(a30, face(a30 + "\x81x"));
  EXPECT_EQ(a30, face(a30 + "\xFEx"));
  EXPECT_EQ(a30 + "\x80", face(a30 + "\x80x")) << "0x80 leads no character";
  EXPECT_EQ(a30 + "\xFF", face(a30 + "\xFFx"));
  EXPECT_EQ(std::string(29, 'a') + "\x81", face(std::string(29, 'a') + "\x81")) << "a lead byte at the end";
  EXPECT_EQ("ab", face(std::string("ab\0cd", 5)));
  EXPECT_EQ("", face(""));
  EXPECT_EQ("", face(std::string("\0x", 2)));
  std::string song15;
  for (int i = 0; i < 15; ++i) song15 += "宋";
  EXPECT_EQ(song15, face(song15 + "宋")) << "whole characters from the first byte on";
  // A name filled to the last byte without its zero (as a file may hand it
  // over) is still read as 31 bytes.
  os::FontDesc full;
  memset(full.faceName, 'f', sizeof full.faceName);
  EXPECT_EQ(std::string(31, 'f'), os::FaceName(full));

  os::FontDesc x, y;
  os::SetFaceName(x, "宋体");
  os::SetFaceName(y, "宋体");
  EXPECT_TRUE(os::SameFontDesc(x, y));
  y.head.italic = 1;
  EXPECT_FALSE(os::SameFontDesc(x, y));
  y = x;
  os::SetFaceName(y, "黑体");
  EXPECT_FALSE(os::SameFontDesc(x, y));
}

// The head as the files store it: five little-endian 32-bit numbers, then
// eight single bytes, 28 in all.
TEST(FontSeam, HeadBytesInTheirPlaces) {
  unsigned char raw[28];
  for (int i = 0; i < 28; ++i) raw[i] = (unsigned char)(0x10 + i);
  raw[19] = 0xF0;  // a negative weight
  os::FontHead h = os::DecodeFontHead(raw);
  EXPECT_EQ(0x13121110, h.height);
  EXPECT_EQ(0x17161514, h.width);
  EXPECT_EQ(0x1B1A1918, h.escapement);
  EXPECT_EQ(0x1F1E1D1C, h.orientation);
  EXPECT_EQ((int32_t)0xF0222120, h.weight);
  EXPECT_EQ(0x24, h.italic);
  EXPECT_EQ(0x25, h.underline);
  EXPECT_EQ(0x26, h.strikeOut);
  EXPECT_EQ(0x27, h.charSet);
  EXPECT_EQ(0x28, h.outPrecision);
  EXPECT_EQ(0x29, h.clipPrecision);
  EXPECT_EQ(0x2A, h.quality);
  EXPECT_EQ(0x2B, h.pitchAndFamily);
  EXPECT_EQ(std::string((const char*)raw, 28), os::EncodeFontHead(h));
}

#include <gtest/gtest.h>

#include <cstdint>

#include "os/font.h"

#ifdef _WIN32
#include <windows.h>
#endif

TEST(FontSeam, HeadBytesRoundTripAtTheirLimits) {
  os::FontHead h;
  h.height = INT32_MIN;
  h.width = INT32_MAX;
  h.escapement = -1;
  h.weight = 0x01020304;
  h.italic = 255;
  h.pitchAndFamily = 0x80;
  std::string bytes = os::EncodeFontHead(h);
  ASSERT_EQ(bytes.size(), (size_t)os::kFontHeadBytes);
  EXPECT_EQ(bytes.substr(16, 4), "\x04\x03\x02\x01");
  os::FontHead back = os::DecodeFontHead((const unsigned char*)bytes.data());
  EXPECT_EQ(os::EncodeFontHead(back), bytes);
  EXPECT_EQ(back.height, INT32_MIN);
  EXPECT_EQ(back.escapement, -1);
}

TEST(FontSeam, FontKeepsItsDescriptionAndOnWindowsIsAGdiFont) {
  os::FontDesc d;
  d.head.height = -15;
  d.head.weight = 700;
  d.head.charSet = 134;
  d.head.pitchAndFamily = 0x31;
  os::SetFaceName(d, "宋体");
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

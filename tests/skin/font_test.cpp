#include <gtest/gtest.h>

#include "os/font.h"

#ifdef _WIN32
#include <windows.h>
#endif

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

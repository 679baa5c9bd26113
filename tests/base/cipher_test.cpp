#include <gtest/gtest.h>

#include <cstring>

#include "base/cipher.h"

using qb::DecodeText;
using qb::EncodeText;

TEST(Cipher, KnownVectorsAndKeyReuse) {
  // 'a' (0x61) ^ 'K' (0x4B) = 0x2A -> "CK".
  EXPECT_EQ(EncodeText("a"), "CK");
  EXPECT_EQ(DecodeText("CK"), "a");
  // The ninth byte reuses key byte 0, so it encodes like the first.
  std::string nine = EncodeText("aaaaaaaaa");
  ASSERT_EQ(nine.size(), 18u);
  EXPECT_EQ(nine.substr(16, 2), nine.substr(0, 2));
  EXPECT_NE(nine.substr(2, 2), nine.substr(0, 2));
  EXPECT_EQ(DecodeText(nine), "aaaaaaaaa");
}

TEST(Cipher, EdgesOfTheLetterAlphabet) {
  EXPECT_EQ(EncodeText(""), "");
  EXPECT_EQ(DecodeText(""), "");
  // An odd last letter is ignored.
  EXPECT_EQ(DecodeText("CKX"), "a");
  EXPECT_EQ(DecodeText("C"), "");
  // Letters outside A..P stand for 0: 0 ^ 'K' = 'K'.
  EXPECT_EQ(DecodeText("ZZ"), "K");
  EXPECT_EQ(DecodeText("zq"), "K");
  // Plain text ends at its first zero byte.
  EXPECT_EQ(EncodeText(std::string("ab\0cd", 5)), EncodeText("ab"));
  // So does a decoded one: "CKHIFC" holds 'a', a zero byte, 'a'.
  EXPECT_EQ(DecodeText("CKHIFC"), "a");
  EXPECT_EQ(DecodeText("ELCK"), "");  // a zero byte first
  EXPECT_EQ(DecodeText("CKHIFCFE"), "a");  // 'a', zero, 'a', zero: the first zero ends it
  // Bytes above 0x7F are no letters either.
  EXPECT_EQ(DecodeText("\xFF\xFF"), "K");
  EXPECT_EQ(DecodeText("\x80\xC1"), "K");
}

TEST(Cipher, RoundTripsEveryByteValueAndGbk) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back((char)b);
  std::string coded = EncodeText(all);
  ASSERT_EQ(coded.size(), all.size() * 2);
  for (char c : coded) ASSERT_TRUE(c >= 'A' && c <= 'P');
  EXPECT_EQ(DecodeText(coded), all);
  EXPECT_EQ(DecodeText(EncodeText("我的收藏 password")), "我的收藏 password");
  // The text goes on to the system as a C string: it ends where it should.
  std::string pw = DecodeText(EncodeText("abc"));
  EXPECT_EQ(3u, strlen(pw.c_str()));
}

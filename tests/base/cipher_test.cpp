#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

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

// The decoder takes sixteen pairs at a time where it can: every length, any
// bytes (letters or not) and a zero byte at any place give what one pair at
// a time gives, and the decode into a string with room left over from a
// longer text gives the same.
TEST(Cipher, LongTextsDecodeAsPairByPair) {
  auto reference = [](const std::string& coded) {
    auto nibble = [](unsigned char c) { return c >= 'A' && c <= 'P' ? c - 'A' : 0; };
    std::string out;
    for (size_t j = 0; j + 1 < coded.size(); j += 2) {
      char c = (char)(((nibble(coded[j]) << 4) | nibble(coded[j + 1])) ^ qb::kCipherKey[(j / 2) % 8]);
      if (c == '\0') break;
      out.push_back(c);
    }
    return out;
  };
  uint32_t seed = 20261209;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  std::string room(600, 'x');
  for (int round = 0; round < 3000; ++round) {
    std::string plain;
    size_t len = next() % 300;  // past 128, where the decoder writes into the string itself
    for (size_t i = 0; i < len; ++i) plain.push_back((char)(1 + next() % 255));
    std::string coded = EncodeText(plain);
    if (round % 3 == 1 && !coded.empty())  // a few bytes that are no letters, or a zero byte made
      for (int k = 0; k < 3; ++k) coded[next() % coded.size()] = (char)(next() % 256);
    if (round % 3 == 2) coded.push_back('C');  // an odd last letter
    ASSERT_EQ(reference(coded), DecodeText(coded)) << "round " << round;
    qb::DecodeText(std::string_view(coded), room);
    ASSERT_EQ(reference(coded), room) << "round " << round;
    if (round % 3 == 0) {
      ASSERT_EQ(plain, room);
    }
  }
  // A zero at each place of a text of each length up to 40 ends it there,
  // whichever of the overlapping blocks finds it. The letters lie in a block
  // of their exact size, so a read past their end is caught under the
  // address sanitizer.
  for (size_t len = 1; len <= 40; ++len) {
    for (size_t zero = 0; zero <= len; ++zero) {
      std::string coded = EncodeText(std::string(len, 'q'));
      if (zero < len) {
        coded[2 * zero] = 'A' + ((unsigned char)qb::kCipherKey[zero % 8] >> 4);
        coded[2 * zero + 1] = 'A' + ((unsigned char)qb::kCipherKey[zero % 8] & 15);
      }
      std::unique_ptr<char[]> exact(new char[coded.size()]);
      memcpy(exact.get(), coded.data(), coded.size());
      qb::DecodeText(std::string_view(exact.get(), coded.size()), room);
      ASSERT_EQ(std::string(std::min(zero, len), 'q'), room) << len << " " << zero;
    }
  }
}

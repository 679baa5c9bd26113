#include "base/cipher.h"

namespace qb {

const char kCipherKey[9] = "Kx3Tz@8W";

std::string EncodeText(const std::string& plain) {
  std::string out;
  out.reserve(plain.size() * 2);
  for (size_t i = 0; i < plain.size() && plain[i] != '\0'; ++i) {
    unsigned char x = (unsigned char)plain[i] ^ (unsigned char)kCipherKey[i % 8];
    out.push_back((char)('A' + (x >> 4)));
    out.push_back((char)('A' + (x & 15)));
  }
  return out;
}

static unsigned Nibble(char c) { return (c >= 'A' && c <= 'P') ? (unsigned)(c - 'A') : 0u; }

std::string DecodeText(const std::string& coded) {
  std::string out;
  size_t pairs = coded.size() / 2;
  out.reserve(pairs);
  for (size_t j = 0; j < pairs; ++j) {
    unsigned v = (Nibble(coded[2 * j]) << 4) | Nibble(coded[2 * j + 1]);
    out.push_back((char)(v ^ (unsigned char)kCipherKey[j % 8]));
  }
  return out;
}

}  // namespace qb

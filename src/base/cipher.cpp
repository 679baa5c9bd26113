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

namespace {
// Letter -> nibble for every byte value; favorites files decode every text
// field at load, so this sits on the start-up path.
struct NibbleTable {
  unsigned char v[256] = {};
  NibbleTable() {
    for (int c = 'A'; c <= 'P'; ++c) v[c] = (unsigned char)(c - 'A');
  }
};
const NibbleTable kNibble;
}  // namespace

std::string DecodeText(const std::string& coded) {
  size_t pairs = coded.size() / 2;
  std::string out(pairs, '\0');
  const unsigned char* in = (const unsigned char*)coded.data();
  for (size_t j = 0; j < pairs; ++j) {
    unsigned v = ((unsigned)kNibble.v[in[2 * j]] << 4) | kNibble.v[in[2 * j + 1]];
    out[j] = (char)(v ^ (unsigned char)kCipherKey[j & 7]);
    // The text ends at its first zero byte, as the encoder's does: a name
    // read with one would otherwise change at its next save.
    if (out[j] == '\0') {
      out.resize(j);
      break;
    }
  }
  return out;
}

}  // namespace qb

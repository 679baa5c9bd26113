#include "base/cipher.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// Favorites files decode every text field at load, so this sits on the
// start-up path.
#if defined(__SSE2__)
// Decodes 16 bytes from 32 letters at `in`, the j-th with key byte j & 7.
// Returns where the first zero byte fell, 16 when none did.
unsigned DecodeSixteen(const unsigned char* in, char* out) {
  const __m128i a = _mm_set1_epi8('A'), fifteen = _mm_set1_epi8(15), low = _mm_set1_epi16(0x00F0);
  __m128i half[2];
  for (int h = 0; h < 2; ++h) {
    __m128i x = _mm_sub_epi8(_mm_loadu_si128((const __m128i*)(in + 16 * h)), a);
    // A byte outside A..P counts as 0.
    x = _mm_and_si128(x, _mm_cmpeq_epi8(_mm_min_epu8(x, fifteen), x));
    // Each 16-bit lane holds a pair: the high nibble's letter, then the low one's.
    half[h] = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(x, 4), low), _mm_srli_epi16(x, 8));
  }
  const __m128i key = _mm_loadl_epi64((const __m128i*)kCipherKey);
  __m128i plain = _mm_xor_si128(_mm_packus_epi16(half[0], half[1]), _mm_unpacklo_epi64(key, key));
  _mm_storeu_si128((__m128i*)out, plain);
  unsigned zeros = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(plain, _mm_setzero_si128()));
  return zeros ? (unsigned)__builtin_ctz(zeros) : 16;
}
#else
// Letter -> nibble for every byte value.
struct NibbleTable {
  unsigned char v[256] = {};
  NibbleTable() {
    for (int c = 'A'; c <= 'P'; ++c) v[c] = (unsigned char)(c - 'A');
  }
};
const NibbleTable kNibble;
#endif

}  // namespace

// The text ends at its first zero byte, as the encoder's does: a name read
// with one would otherwise change at its next save.
void DecodeText(std::string_view coded, std::string& out) {
  size_t pairs = coded.size() / 2;
  out.resize(pairs);
  const unsigned char* in = (const unsigned char*)coded.data();
  char* o = &out[0];
  size_t j = 0;
#if defined(__SSE2__)
  // Sixteen at a time; the key repeats every eight.
  for (; j + 16 <= pairs; j += 16) {
    unsigned zero = DecodeSixteen(in + 2 * j, o + j);
    if (zero < 16) {
      out.resize(j + zero);
      return;
    }
  }
  if (j < pairs) {
    // The rest, after zero bytes: they decode to key bytes, which end nothing.
    size_t rest = pairs - j;
    unsigned char letters[32] = {};
    char plain[16];
    memcpy(letters, in + 2 * j, 2 * rest);
    unsigned zero = DecodeSixteen(letters, plain);
    memcpy(o + j, plain, rest);
    if (zero < rest) out.resize(j + zero);
  }
#else
  for (; j < pairs; ++j) {
    unsigned v = ((unsigned)kNibble.v[in[2 * j]] << 4) | kNibble.v[in[2 * j + 1]];
    o[j] = (char)(v ^ (unsigned char)kCipherKey[j & 7]);
    if (o[j] == '\0') {
      out.resize(j);
      return;
    }
  }
#endif
}

std::string DecodeText(const std::string& coded) {
  std::string out;
  DecodeText(coded, out);
  return out;
}

}  // namespace qb

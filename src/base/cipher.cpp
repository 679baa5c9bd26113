#include "base/cipher.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qb {

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

// A letter A..P stands for its nibble; any other byte for 0.
inline unsigned Nibble(unsigned char c) {
  unsigned d = (unsigned)c - 'A';
  return d < 16 ? d : 0;
}

// Decodes one pair at a time, the j-th with key byte j & 7. Returns where
// the first zero byte fell, `pairs` when none did.
size_t DecodePairs(const unsigned char* in, size_t pairs, char* out) {
  for (size_t j = 0; j < pairs; ++j) {
    out[j] = (char)(((Nibble(in[2 * j]) << 4) | Nibble(in[2 * j + 1])) ^ (unsigned char)kCipherKey[j & 7]);
    if (out[j] == '\0') return j;
  }
  return pairs;
}

#if defined(__SSE2__)
// Favorites files decode every text field at load, so this sits on the
// start-up path. Blocks of 16, 8 or 4 pairs are read straight from the
// text, the last block of a text overlapping the one before it, so no byte
// past the end is read and none is copied first.

// The key from each of its eight places on: kPhased.v[p][i] = key[(p + i) & 7].
struct PhasedKeys {
  alignas(16) unsigned char v[8][16] = {};
  constexpr PhasedKeys() {
    for (int p = 0; p < 8; ++p)
      for (int i = 0; i < 16; ++i) v[p][i] = (unsigned char)kCipherKey[(p + i) & 7];
  }
};
constexpr PhasedKeys kPhased;

// Pairs of letters -> one byte in the low half of each 16-bit lane.
inline __m128i Bytes(__m128i letters) {
  __m128i x = _mm_sub_epi8(letters, _mm_set1_epi8('A'));
  x = _mm_and_si128(x, _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(15)), x));  // outside A..P: 0
  return _mm_or_si128(_mm_and_si128(_mm_slli_epi16(x, 4), _mm_set1_epi16(0x00F0)), _mm_srli_epi16(x, 8));
}
inline __m128i Key(size_t at) { return _mm_load_si128((const __m128i*)kPhased.v[at & 7]); }
inline unsigned Zeros(__m128i plain) {
  return (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(plain, _mm_setzero_si128()));
}

// Each decodes the pairs from pair `at` on; returns a bit for each zero byte.
inline unsigned Decode16(const unsigned char* in, size_t at, char* out) {
  const unsigned char* p = in + 2 * at;
  __m128i plain = _mm_packus_epi16(Bytes(_mm_loadu_si128((const __m128i*)p)),
                                   Bytes(_mm_loadu_si128((const __m128i*)(p + 16))));
  plain = _mm_xor_si128(plain, Key(at));
  _mm_storeu_si128((__m128i*)(out + at), plain);
  return Zeros(plain);
}
inline unsigned Decode8(const unsigned char* in, size_t at, char* out) {
  __m128i b = Bytes(_mm_loadu_si128((const __m128i*)(in + 2 * at)));
  __m128i plain = _mm_xor_si128(_mm_packus_epi16(b, b), Key(at));
  _mm_storel_epi64((__m128i*)(out + at), plain);
  return Zeros(plain) & 0xFF;
}
inline unsigned Decode4(const unsigned char* in, size_t at, char* out) {
  __m128i b = Bytes(_mm_loadl_epi64((const __m128i*)(in + 2 * at)));
  __m128i plain = _mm_xor_si128(_mm_packus_epi16(b, b), Key(at));
  int four = _mm_cvtsi128_si32(plain);
  memcpy(out + at, &four, 4);
  return Zeros(plain) & 0xF;
}

inline size_t FirstZero(unsigned zeros, size_t none) { return zeros ? (size_t)__builtin_ctz(zeros) : none; }

size_t DecodeAll(const unsigned char* in, size_t pairs, char* out) {
  if (pairs >= 16) {
    size_t j = 0;
    for (; j + 16 <= pairs; j += 16)
      if (unsigned z = Decode16(in, j, out)) return j + (size_t)__builtin_ctz(z);
    // The last block again from 16 before the end: its first pairs, decoded
    // already, hold no zero.
    if (j < pairs) return pairs - 16 + FirstZero(Decode16(in, pairs - 16, out), 16);
    return pairs;
  }
  // Two blocks, the second ending at the end.
  if (pairs >= 8) return FirstZero(Decode8(in, 0, out) | Decode8(in, pairs - 8, out) << (pairs - 8), pairs);
  if (pairs >= 4) return FirstZero(Decode4(in, 0, out) | Decode4(in, pairs - 4, out) << (pairs - 4), pairs);
  return DecodePairs(in, pairs, out);
}
#else
size_t DecodeAll(const unsigned char* in, size_t pairs, char* out) { return DecodePairs(in, pairs, out); }
#endif

}  // namespace

// The text ends at its first zero byte, as the encoder's does: a name read
// with one would otherwise change at its next save.
void DecodeText(std::string_view coded, std::string& out) {
  size_t pairs = coded.size() / 2;
  const unsigned char* in = (const unsigned char*)coded.data();
  // A field of a favorites record goes into a new string: made at its
  // length from the decoded bytes, not made, filled with zeros and
  // written again. A string with the room keeps it.
  if (pairs <= 128) {
    char plain[128];
    size_t end = DecodeAll(in, pairs, plain);
    if (out.capacity() >= end)
      out.assign(plain, end);
    else
      out = std::string(plain, end);
    return;
  }
  out.resize(pairs);
  size_t end = DecodeAll(in, pairs, &out[0]);
  if (end < pairs) out.resize(end);
}

std::string DecodeText(const std::string& coded) {
  std::string out;
  DecodeText(coded, out);
  return out;
}

}  // namespace qb

// The pinyin readings of the Chinese characters of code page 936, generated
// at build time (scripts/gen-pinyin-table.py) from the Unihan readings.
#pragma once

namespace panels {
namespace pinyin {

// The syllables, toneless and in lower case, each ended by a zero byte;
// syllable n starts at kSyllableText + kSyllableStart[n].
extern const char kSyllableText[];
extern const unsigned short kSyllableStart[];
extern const int kSyllableCount;
// One cell per double-byte code, (lead - 0x81) * 190 + (trail - 0x40) for a
// lead byte 0x81..0xFE and a trail byte 0x40..0xFE: 0 for no reading,
// syllable + 1 for one reading, 0x8000 | index into kMultiReadings for
// several (the list's last entry carries 0x8000).
extern const unsigned short kCodeCell[];
extern const unsigned short kMultiReadings[];
extern const int kCodesWithReading;

constexpr int kTrailCount = 0xFF - 0x40;
constexpr int kMaxReadings = 16;

// The syllable numbers of a double-byte code, at most `max` of them; 0 for a
// code without reading or outside the table.
inline int ReadingsOf(unsigned char lead, unsigned char trail, unsigned short* out, int max) {
  if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE) return 0;
  unsigned short cell = kCodeCell[(lead - 0x81) * kTrailCount + (trail - 0x40)];
  if (cell == 0) return 0;
  if (!(cell & 0x8000)) {
    if (max > 0) out[0] = static_cast<unsigned short>(cell - 1);
    return max > 0 ? 1 : 0;
  }
  int n = 0;
  for (const unsigned short* p = kMultiReadings + (cell & 0x7FFF); n < max; ++p) {
    out[n++] = static_cast<unsigned short>(*p & 0x7FFF);
    if (*p & 0x8000) break;
  }
  return n;
}

inline const char* Syllable(int n) { return kSyllableText + kSyllableStart[n]; }
inline int SyllableLength(int n) { return kSyllableStart[n + 1] - kSyllableStart[n] - 1; }

}  // namespace pinyin
}  // namespace panels

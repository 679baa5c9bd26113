// Conversions between the program's byte strings (code page 936) and the
// encodings of the outside world. All text inside the program is GBK; these
// are used only at the edges: Win32 calls, JSON output, file names on Linux.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

// Each returns 1 on success, 0 when the input is not valid in its encoding.
// On failure the output holds a best-effort conversion with '?' for bad bytes.
int GbkToUtf16(const std::string& gbk, std::u16string& out);
int Utf16ToGbk(const std::u16string& wide, std::string& out);
int GbkToUtf8(const std::string& gbk, std::string& out);
int Utf8ToGbk(const std::string& utf8, std::string& out);

// ---- characters code page 936 cannot hold ----------------------------------
// A character the code page lacks (an emoji, Hangul, the euro sign) is kept
// inside the program's text as a numeric character reference, "&#x1F600;".
// Where text comes in (the W calls' way back, imports, the capture) such a
// character becomes its reference; where text goes out (the W calls, exports,
// the tools' UTF-8) the reference becomes the character again. Only a
// reference to a character the code page lacks counts: "&#x41;" or "&amp;"
// stay text, so text in and out again is always the same bytes. Files keep
// their format: an older reader shows the reference as it is.

// The code page 936 code (lead byte << 8 | trail byte) of a character above
// U+007F, 0 when the code page has none. A character counts only when it
// decodes and encodes to the same double-byte code; the euro sign (a single
// byte in one system's table and none in the other's) and the private use
// area have none.
uint16_t GbkCode(uint32_t codePoint);
// "&#x1F600;": the reference the program makes for a character.
std::string CharRef(uint32_t codePoint);
// The length of a reference at text[i] that stands for a character the code
// page lacks ("&#x" hex digits ";" or "&#" decimal digits ";"), its character
// in *codePoint; 0 when there is none.
size_t RefAt(const std::string& text, size_t i, uint32_t* codePoint = nullptr);
// The length of the character at text[i]: such a reference, a double-byte
// character (a lead byte with a byte after it) or one byte.
size_t CharLenAt(const std::string& text, size_t i);
// The number of characters of a text, a reference counting as one.
size_t CharCount(const std::string& text);
// At most `n` bytes of a text, never cutting a double-byte character or a
// reference.
std::string CutBytes(const std::string& text, size_t n);

// Convenience forms that return the best-effort result; they are the edges
// described above: ToWide and ToUtf8 give a reference's character, FromWide
// and FromUtf8 make a reference of each character the code page lacks.
std::u16string ToWide(const std::string& gbk);
std::string FromWide(const std::u16string& wide);
std::string ToUtf8(const std::string& gbk);
std::string FromUtf8(const std::string& utf8);

}  // namespace qb

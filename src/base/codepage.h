// Conversions between the program's byte strings (code page 936) and the
// encodings of the outside world. All text inside the program is GBK; these
// are used only at the edges: Win32 calls, JSON output, file names on Linux.
#pragma once
#include <string>

namespace qb {

// Each returns 1 on success, 0 when the input is not valid in its encoding.
// On failure the output holds a best-effort conversion with '?' for bad bytes.
int GbkToUtf16(const std::string& gbk, std::u16string& out);
int Utf16ToGbk(const std::u16string& wide, std::string& out);
int GbkToUtf8(const std::string& gbk, std::string& out);
int Utf8ToGbk(const std::string& utf8, std::string& out);

// Convenience forms that return the best-effort result.
std::u16string ToWide(const std::string& gbk);
std::string FromWide(const std::u16string& wide);
std::string ToUtf8(const std::string& gbk);
std::string FromUtf8(const std::string& utf8);

}  // namespace qb

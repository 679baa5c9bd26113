// The text cipher that hides passwords and the text fields of favorites
// records. Not security: it keeps casual eyes off the bytes, nothing more.
#pragma once
#include <string>
#include <string_view>

namespace qb {

inline constexpr char kCipherKey[9] = "Kx3Tz@8W";

// Plain text ends at its first zero byte; the output is the letters A..P,
// twice as long.
std::string EncodeText(const std::string& plain);
// Letters in pairs; a byte outside A..P counts as 0; an odd last letter is
// ignored; the text ends at its first zero byte.
std::string DecodeText(const std::string& coded);
// The same into `out`, which keeps its room.
void DecodeText(std::string_view coded, std::string& out);

}  // namespace qb

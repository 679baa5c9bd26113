#include "base/codepage.h"
#include "base/json.h"

#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <iconv.h>
#endif

namespace qb {

// The four conversions: on Windows the system's code pages (codepage_win32.cpp),
// elsewhere iconv.
#ifndef _WIN32
namespace {
// iconv with substitution: an unconvertible or malformed input unit becomes
// '?' (in the target's width) and the result reports failure.
int Convert(const char* to, const char* from, const char* in, size_t inLen, std::string& out,
            size_t unitIn, const char* subst, size_t substLen) {
  out.clear();
  if (inLen == 0) return 1;
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return 0;
  int ok = 1;
  std::string buf(inLen * 4 + 16, '\0');
  char* src = const_cast<char*>(in);
  size_t srcLeft = inLen;
  while (srcLeft > 0) {
    char* dst = &buf[0];
    size_t dstLeft = buf.size();
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(&buf[0], buf.size() - dstLeft);
    if (r == (size_t)-1) {
      if (errno == E2BIG) continue;
      ok = 0;  // EILSEQ or EINVAL: skip one unit and substitute
      size_t skip = srcLeft < unitIn ? srcLeft : unitIn;
      src += skip;
      srcLeft -= skip;
      out.append(subst, substLen);
    }
  }
  iconv_close(cd);
  return ok;
}
}  // namespace

int GbkToUtf16(const std::string& gbk, std::u16string& out) {
  std::string bytes;
  int ok = Convert("UTF-16LE", "GBK", gbk.data(), gbk.size(), bytes, 1, "?\0", 2);
  out.assign(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
  return ok;
}
int Utf16ToGbk(const std::u16string& wide, std::string& out) {
  return Convert("GBK", "UTF-16LE", reinterpret_cast<const char*>(wide.data()), wide.size() * 2, out, 2, "?", 1);
}
int GbkToUtf8(const std::string& gbk, std::string& out) {
  return Convert("UTF-8", "GBK", gbk.data(), gbk.size(), out, 1, "?", 1);
}
int Utf8ToGbk(const std::string& utf8, std::string& out) {
  return Convert("GBK", "UTF-8", utf8.data(), utf8.size(), out, 1, "?", 1);
}
#endif

// ---- characters code page 936 cannot hold ----------------------------------

namespace {

// Code page 936 code of each character of the Basic Multilingual Plane (0:
// none). Every double-byte code is decoded once, and what came out is
// encoded again: a character is kept only when both ways agree, so neither
// a "best fit" nor a decoder's stand-in for a bad code gets a code of its own.
const std::vector<uint16_t>& GbkCodes() {
  static const std::vector<uint16_t> codes = [] {
    std::vector<uint16_t> t(0x10000, 0);
    std::string all;
    all.reserve(126 * 190 * 3);
    for (int lead = 0x81; lead <= 0xFE; ++lead)
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        all.push_back((char)lead);
        all.push_back((char)trail);
        all.push_back('\n');
      }
    std::u16string wide;
    GbkToUtf16(all, wide);
    // One line per code; a code that decodes to one character (outside the
    // private use area, which the systems fill differently) may give it.
    std::u16string back;
    size_t pos = 0;
    for (size_t k = 0; k < all.size(); k += 3) {
      size_t end = wide.find(u'\n', pos);
      if (end == std::u16string::npos) break;
      char16_t c = wide[pos];
      if (end - pos == 1 && c >= 0x80 && !(c >= 0xE000 && c <= 0xF8FF) && !(c >= 0xD800 && c <= 0xDFFF) &&
          t[c] == 0) {
        t[c] = (uint16_t)(((unsigned char)all[k] << 8) | (unsigned char)all[k + 1]);
        back.push_back(c);
        back.push_back(u'\n');
      }
      pos = end + 1;
    }
    std::string again;
    Utf16ToGbk(back, again);
    size_t at = 0;
    for (size_t k = 0; k < back.size(); k += 2) {
      size_t end = again.find('\n', at);
      if (end == std::string::npos) end = again.size();
      char16_t c = back[k];
      if (end - at != 2 || (((unsigned char)again[at] << 8) | (unsigned char)again[at + 1]) != t[c]) t[c] = 0;
      at = end + 1;
    }
    return t;
  }();
  return codes;
}

bool IsLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// One character in the program's text: ASCII, its double-byte code, or its reference.
void AppendChar(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back((char)cp);
  } else if (uint16_t code = GbkCode(cp)) {
    out.push_back((char)(code >> 8));
    out.push_back((char)(code & 0xFF));
  } else {
    out += CharRef(cp);
  }
}

void AppendUtf16(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back((char16_t)cp);
  } else {
    cp -= 0x10000;
    out.push_back((char16_t)(0xD800 + (cp >> 10)));
    out.push_back((char16_t)(0xDC00 + (cp & 0x3FF)));
  }
}

// The text with its references turned into characters: the runs between
// them go through `convert`, each reference through `append`.
template <class Out, class Convert, class Append>
Out Expand(const std::string& gbk, Convert convert, Append append) {
  Out out, run;
  size_t from = 0;
  for (size_t i = gbk.find("&#"); i != std::string::npos; i = gbk.find("&#", i + 1)) {
    // '&' is never the trail byte of a double-byte character: every match
    // starts a character of its own.
    uint32_t cp = 0;
    size_t len = RefAt(gbk, i, &cp);
    if (!len) continue;
    convert(gbk.substr(from, i - from), run);
    out += run;
    append(out, cp);
    from = i + len;
    i = from - 1;
  }
  if (from == 0) {
    convert(gbk, out);
    return out;
  }
  convert(gbk.substr(from), run);
  out += run;
  return out;
}

}  // namespace

uint16_t GbkCode(uint32_t codePoint) {
  if (codePoint < 0x80 || codePoint > 0xFFFF) return 0;
  return GbkCodes()[codePoint];
}

std::string CharRef(uint32_t codePoint) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string digits;
  do {
    digits.insert(digits.begin(), kHex[codePoint & 15]);
    codePoint >>= 4;
  } while (codePoint);
  while (digits.size() < 4) digits.insert(digits.begin(), '0');
  return "&#x" + digits + ";";
}

size_t RefAt(const std::string& text, size_t i, uint32_t* codePoint) {
  if (i + 3 >= text.size() || text[i] != '&' || text[i + 1] != '#') return 0;
  size_t p = i + 2;
  bool hex = text[p] == 'x' || text[p] == 'X';
  if (hex) ++p;
  uint32_t cp = 0;
  size_t digits = 0;
  for (; p < text.size() && digits <= 8; ++p, ++digits) {
    char c = text[p];
    int v = c >= '0' && c <= '9' ? c - '0'
            : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
    if (v < 0) break;
    cp = cp * (hex ? 16 : 10) + (uint32_t)v;
    if (cp > 0x10FFFF) return 0;
  }
  if (!digits || p >= text.size() || text[p] != ';') return 0;
  // Only what the program itself would have made: a character the code page lacks.
  if (cp < 0x80 || (cp >= 0xD800 && cp <= 0xDFFF) || GbkCode(cp)) return 0;
  if (codePoint) *codePoint = cp;
  return p + 1 - i;
}

size_t CharLenAt(const std::string& text, size_t i) {
  if (i >= text.size()) return 0;
  if (text[i] == '&') {
    if (size_t n = RefAt(text, i)) return n;
  }
  return IsLead((unsigned char)text[i]) && i + 1 < text.size() ? 2 : 1;
}

size_t CharCount(const std::string& text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); i += CharLenAt(text, i)) ++n;
  return n;
}

std::string CutBytes(const std::string& text, size_t n) {
  if (text.size() <= n) return text;
  size_t i = 0;
  while (i < n) {
    size_t step = CharLenAt(text, i);
    if (i + step > n) break;
    i += step;
  }
  return text.substr(0, i);
}

std::u16string ToWide(const std::string& gbk) {
  return Expand<std::u16string>(gbk, [](const std::string& in, std::u16string& out) { GbkToUtf16(in, out); },
                                AppendUtf16);
}

std::string ToUtf8(const std::string& gbk) {
  return Expand<std::string>(gbk, [](const std::string& in, std::string& out) { GbkToUtf8(in, out); }, AppendUtf8);
}

std::string FromWide(const std::u16string& wide) {
  std::string out;
  out.reserve(wide.size() * 2);
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out.push_back('?');  // half a pair stands for nothing
      continue;
    }
    AppendChar(out, c);
  }
  return out;
}

std::string FromUtf8(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    if (c < 0x80) {
      out.push_back((char)c);
      ++i;
      continue;
    }
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    uint32_t cp = len ? c & (0x7F >> len) : 0;
    bool ok = len && i + len <= utf8.size();
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char t = (unsigned char)utf8[i + k];
      ok = (t & 0xC0) == 0x80;
      cp = (cp << 6) | (t & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back('?');  // a byte that starts no character
      ++i;
      continue;
    }
    AppendChar(out, cp);
    i += len;
  }
  return out;
}

}  // namespace qb

#include "base/codepage.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <cerrno>
#endif

namespace qb {

#ifdef _WIN32
namespace {
int ToWideCp(UINT cp, const std::string& in, std::u16string& out) {
  out.clear();
  if (in.empty()) return 1;
  int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in.data(), (int)in.size(), nullptr, 0);
  int ok = n > 0;
  DWORD flags = ok ? MB_ERR_INVALID_CHARS : 0;
  if (!ok) n = MultiByteToWideChar(cp, 0, in.data(), (int)in.size(), nullptr, 0);
  if (n <= 0) return 0;
  out.resize(n);
  MultiByteToWideChar(cp, flags, in.data(), (int)in.size(), reinterpret_cast<wchar_t*>(&out[0]), n);
  return ok;
}
int FromWideCp(UINT cp, const std::u16string& in, std::string& out) {
  out.clear();
  if (in.empty()) return 1;
  const wchar_t* w = reinterpret_cast<const wchar_t*>(in.data());
  BOOL usedDefault = FALSE;
  BOOL* pUsed = (cp == CP_UTF8) ? nullptr : &usedDefault;
  int n = WideCharToMultiByte(cp, 0, w, (int)in.size(), nullptr, 0, nullptr, pUsed);
  if (n <= 0) return 0;
  out.resize(n);
  WideCharToMultiByte(cp, 0, w, (int)in.size(), &out[0], n, nullptr, pUsed);
  return !usedDefault;
}
}  // namespace

int GbkToUtf16(const std::string& gbk, std::u16string& out) { return ToWideCp(936, gbk, out); }
int Utf16ToGbk(const std::u16string& wide, std::string& out) { return FromWideCp(936, wide, out); }
int GbkToUtf8(const std::string& gbk, std::string& out) {
  std::u16string w;
  int ok = GbkToUtf16(gbk, w);
  return FromWideCp(CP_UTF8, w, out) && ok;
}
int Utf8ToGbk(const std::string& utf8, std::string& out) {
  std::u16string w;
  int ok = ToWideCp(CP_UTF8, utf8, w);
  return Utf16ToGbk(w, out) && ok;
}
#else
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

std::u16string ToWide(const std::string& gbk) { std::u16string w; GbkToUtf16(gbk, w); return w; }
std::string FromWide(const std::u16string& wide) { std::string s; Utf16ToGbk(wide, s); return s; }
std::string ToUtf8(const std::string& gbk) { std::string s; GbkToUtf8(gbk, s); return s; }
std::string FromUtf8(const std::string& utf8) { std::string s; Utf8ToGbk(utf8, s); return s; }

}  // namespace qb

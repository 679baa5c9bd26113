// The four conversions of base/codepage.h on Windows, by the system's code
// pages; elsewhere codepage.cpp makes them with iconv.
#include "base/codepage.h"

#include <windows.h>

namespace qb {

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

}  // namespace qb

// The program's text (byte strings in code page 936) at a Win32 call: the W
// functions take and give UTF-16, converted here with code page 936 whatever
// the system's own code page is. The one place every Win32 file converts.
#pragma once
#include <windows.h>

#include <string>

#include "base/codepage.h"

namespace qb {

// A character code page 936 lacks is kept in the program's text as its
// numeric character reference ("&#x1F600;"): the W calls are given the
// character itself, and a character the code page lacks coming back from a
// window becomes its reference (qb::ToWide, qb::FromWide).

// GBK to the UTF-16 of a W call.
inline std::wstring W(const std::string& gbk) {
  std::u16string w = ToWide(gbk);
  return std::wstring(w.begin(), w.end());
}

// UTF-16 from a W call to GBK.
inline std::string Gbk(const wchar_t* wide, size_t length) {
  return FromWide(std::u16string(reinterpret_cast<const char16_t*>(wide), length));
}
inline std::string Gbk(const std::wstring& wide) { return Gbk(wide.data(), wide.size()); }

// A window's text: a control's contents, a dialog's title.
inline std::wstring WindowTextW(HWND wnd) {
  int len = GetWindowTextLengthW(wnd);
  if (len <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  int got = GetWindowTextW(wnd, &text[0], len + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}
// The same as GBK.
inline std::string WindowTextGbk(HWND wnd) { return Gbk(WindowTextW(wnd)); }

}  // namespace qb

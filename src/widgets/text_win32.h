// GBK byte strings to and from the UTF-16 text of the Win32 calls.
#pragma once
#include <windows.h>

#include <string>

#include "base/codepage.h"

namespace qb {

inline std::wstring W(const std::string& gbk) {
  std::u16string w = ToWide(gbk);
  return std::wstring(w.begin(), w.end());
}

inline std::string Gbk(const std::wstring& wide) {
  return FromWide(std::u16string(wide.begin(), wide.end()));
}

inline std::string WindowTextGbk(HWND wnd) {
  int len = GetWindowTextLengthW(wnd);
  std::wstring text(static_cast<size_t>(len > 0 ? len : 0) + 1, L'\0');
  GetWindowTextW(wnd, &text[0], len + 1);
  text.resize(static_cast<size_t>(len > 0 ? len : 0));
  return Gbk(text);
}

}  // namespace qb

#include <windows.h>

#include "base/codepage.h"
#include "os/fileattr.h"

namespace os {

int ClearReadOnly(const std::string& path) {
  std::u16string w16 = qb::ToWide(path);
  std::wstring w(w16.begin(), w16.end());
  DWORD a = GetFileAttributesW(w.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return 0;
  return SetFileAttributesW(w.c_str(), a & ~(DWORD)FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace os

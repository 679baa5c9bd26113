#include <windows.h>

#include "os/fileattr.h"
#include "win/text_win32.h"

namespace os {

int ClearReadOnly(const std::string& path) {
  std::wstring w = qb::W(path);
  DWORD a = GetFileAttributesW(w.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return 0;
  return SetFileAttributesW(w.c_str(), a & ~(DWORD)FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace os

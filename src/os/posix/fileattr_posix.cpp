#include <sys/stat.h>

#include "os/fileattr.h"
#include "os/os.h"

namespace os {

int ClearReadOnly(const std::string& path) {
  std::string native = NativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return 0;
  return chmod(native.c_str(), st.st_mode | S_IWUSR) == 0;
}

}  // namespace os

namespace os {

int KeepToOwner(const std::string& path) { return chmod(NativePath(path).c_str(), S_IRUSR | S_IWUSR) == 0; }

}  // namespace os

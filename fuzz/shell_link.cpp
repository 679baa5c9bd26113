// Shell link files (.lnk) of the desktop and the Start menu: the target
// program that opening a program item runs.
#include <cstring>

#include "fuzz_util.h"
#include "panels/open_item.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string target = panels::ShortcutTargetOfBytes(std::string((const char*)data, size));
  if (target.empty()) return 0;
  FUZZ_CHECK(target.find(".EXE") != std::string::npos);
  FUZZ_CHECK(target.size() <= 1024);
  FUZZ_CHECK(strlen(target.c_str()) == target.size());
  return 0;
}

#include "base/ui.h"

#include <cstdio>

#include "base/codepage.h"

namespace qb {

int CConsoleUi::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
  fprintf(stderr, "%s%s%s\n", ToUtf8(caption).c_str(), caption.empty() ? "" : ": ", ToUtf8(text).c_str());
  unsigned buttons = flags & 0xF;
  return buttons == kMbYesNo ? kIdYes : kIdOk;
}

}  // namespace qb

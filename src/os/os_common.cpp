// Parts of the OS seam that are the same on every system.
#include <cctype>

#include "os/os.h"

namespace os {

namespace {
bool Glob(const char* n, const char* p) {
  // Iterative wildcard match with one backtrack point; '?' matches one byte.
  const char *star = nullptr, *mark = nullptr;
  while (*n) {
    if (*p == '*') { star = p++; mark = n; continue; }
    if (*p == '?' || tolower((unsigned char)*p) == tolower((unsigned char)*n)) { ++p; ++n; continue; }
    if (!star) return false;
    p = star + 1;
    n = ++mark;
  }
  while (*p == '*') ++p;
  return *p == '\0';
}
}  // namespace

bool MatchPattern(const std::string& name, const std::string& pattern) {
  if (name == "." || name == "..") return pattern == "*" || pattern == "*.*" || pattern == "*.";
  if (pattern == "*" || pattern == "*.*") return true;
  if (pattern == "*.") return name.find('.') == std::string::npos;
  return Glob(name.c_str(), pattern.c_str());
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  std::string out = folder;
  if (out.back() != '\\') out.push_back('\\');
  size_t skip = 0;
  while (skip < name.size() && name[skip] == '\\') ++skip;
  out.append(name, skip, std::string::npos);
  return out;
}

}  // namespace os

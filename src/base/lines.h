// A text's lines, for the line-based files the program reads.
#pragma once
#include <string>
#include <vector>

namespace qb {

// The lines of `text` split at each '\n', which no line keeps; a '\r' before
// it stays on its line. A final '\n' ends the last line and starts no other.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace qb

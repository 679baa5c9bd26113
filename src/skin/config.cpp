#include "skin/config.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "os/os.h"

namespace qb {

namespace {
const char kIniName[] = "config\\MyConfig.ini";
const char kBakName[] = "config\\MyConfig.bak";
const char kEnd[] = "[END]";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// The first six lines as a text-mode read gives them: CR LF ends a line, and
// a missing line reads as an empty one. Only the head of each line is kept
// (a value longer than the limit is cut anyway), so a huge or binary file
// costs no more memory than a good one.
int ReadSixLines(const std::string& path, std::vector<std::string>& lines) {
  const size_t kKeep = 65536;
  os::CReadStream in;
  if (!in.Open(path)) return 0;
  lines.assign(1, std::string());
  char buf[4096];
  size_t n;
  while (lines.size() <= 6 && (n = in.Read(buf, sizeof buf)) > 0) {
    for (size_t i = 0; i < n && lines.size() <= 6; ++i) {
      if (buf[i] == '\n') {
        if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
        lines.emplace_back();
      } else if (lines.back().size() < kKeep) {
        lines.back().push_back(buf[i]);
      }
    }
  }
  if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
  lines.resize(6);
  return 1;
}

// One word after leading white space, as a "%s" scan reads it, cut to the
// value limit.
std::string ScanWord(const std::string& s, size_t& pos) {
  while (pos < s.size() && IsSpace(s[pos])) ++pos;
  size_t start = pos;
  while (pos < s.size() && !IsSpace(s[pos])) ++pos;
  std::string word = s.substr(start, pos - start);
  if (word.size() > kConfigValueMax) word.resize(kConfigValueMax);
  return word;
}

// "Key=%s": the key must stand at the start of the line; the value must not
// be empty.
bool ScanKeyValue(const std::string& line, const std::string& key, std::string& value) {
  if (line.compare(0, key.size(), key) != 0) return false;
  size_t pos = key.size();
  std::string word = ScanWord(line, pos);
  if (word.empty()) return false;
  value = word;
  return true;
}

// "%s\t%d": a word, white space, a decimal integer (out-of-range numbers are
// pinned to the 32-bit range instead of wrapping).
bool ScanWordAndNumber(const std::string& line, int32_t& number) {
  size_t pos = 0;
  if (ScanWord(line, pos).empty()) return false;
  while (pos < line.size() && IsSpace(line[pos])) ++pos;
  std::string rest = line.substr(pos);
  const char* p = rest.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(p, &end, 10);
  if (end == p) return false;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  number = (int32_t)v;
  return true;
}
// A configuration text that was written to its end.
bool IsCompleteConfigText(const std::string& bytes) {
  size_t n = sizeof kEnd - 1;
  return bytes.size() >= n && bytes.compare(bytes.size() - n, n, kEnd) == 0;
}
}  // namespace

int LoadConfig(const std::string& programDir, ConfigSettings& settings) {
  std::string ini = programDir + kIniName, bak = programDir + kBakName;
  // A save that ended before its last step left the new text beside the
  // file; failing that, the backup of the previous text comes back.
  os::TakeCompleteNewFile(ini, IsCompleteConfigText);
  if (!os::FileExists(ini) && os::FileExists(bak)) os::RenameFile(bak, ini);
  std::vector<std::string> lines;
  if (os::IsFolder(ini) || !ReadSixLines(ini, lines)) return 0;
  std::string value;
  if (ScanKeyValue(lines[1], "FavoriteKey=", value)) settings.hotkeyText = value;
  if (lines[2] == kEnd) return 1;
  if (lines[3] == kEnd) return 1;
  int32_t tip = 0;
  if (ScanWordAndNumber(lines[3], tip)) settings.chatTip = tip;
  if (lines[4] != kEnd && ScanKeyValue(lines[4], "ChatSendKey=", value)) settings.chatSendKey = value;
  return 1;
}

int SaveConfig(const std::string& programDir, const ConfigSettings& settings) {
  std::string ini = programDir + kIniName, bak = programDir + kBakName;
  std::string text = "[HOTKEY]\r\nFavoriteKey=" + settings.hotkeyText + "\r\n[CHAT]\r\nIF_CHATTIP\t" +
                     std::to_string(settings.chatTip) + "\r\nChatSendKey=" + settings.chatSendKey +
                     "\r\n" + kEnd;
  // The new text is whole on the disk before the previous file becomes the
  // backup, and takes the file's place in one step.
  return os::SaveFileReplacing(ini, bak, text);
}

}  // namespace qb

// Parts of the OS seam that are the same on every system.
#include <atomic>
#include <cctype>

#include "os/os.h"
#include "os/os_internal.h"

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

int ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  CReadStream in;
  if (!in.Open(path)) return 0;
  bytes.resize((size_t)in.Remaining());
  return in.Read(bytes.empty() ? nullptr : &bytes[0], bytes.size()) == bytes.size();
}

int WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".tmp~";
  CWriteStream out;
  if (!out.Open(tmp)) return 0;
  out.Write(bytes.data(), bytes.size());
  if (!out.Close() || !ReplaceWithFile(tmp, path)) {
    RemoveFile(tmp);
    return 0;
  }
  return 1;
}

static std::atomic<TickFn> g_tick{nullptr};
static std::atomic<SleepFn> g_sleep{nullptr};
void SetClock(TickFn tick, SleepFn sleep) {
  g_tick = tick;
  g_sleep = sleep;
}
uint32_t TickCount() {
  TickFn f = g_tick;
  return f ? f() : SystemTick();
}
void SleepMs(uint32_t ms) {
  SleepFn f = g_sleep;
  if (f) f(ms);
  else SystemSleep(ms);
}

}  // namespace os

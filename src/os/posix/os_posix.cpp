// The OS seam on Linux: the same contract as on Windows, for tests, tools and
// the server. Program paths use '\' and GBK; the file system gets '/' and UTF-8.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "base/codepage.h"
#include "base/lines.h"
#include "os/os.h"
#include "os/os_internal.h"

namespace os {

std::string NativePath(const std::string& path) {
  std::string utf8;
  qb::GbkToUtf8(path, utf8);
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  return utf8;
}

std::string ProgramPath(const std::string& nativePath) {
  std::string gbk;
  qb::Utf8ToGbk(nativePath, gbk);
  std::replace(gbk.begin(), gbk.end(), '/', '\\');
  return gbk;
}

int FileExists(const std::string& path) {
  struct stat st;
  return stat(NativePath(path).c_str(), &st) == 0;
}

int IsFolder(const std::string& path) {
  struct stat st;
  return stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int RenameFile(const std::string& from, const std::string& to) {
  if (!FileStepAllowed(FileStep::Rename, from)) return 0;
  std::string a = NativePath(from), b = NativePath(to);
  struct stat st;
  if (lstat(b.c_str(), &st) == 0) return 0;  // MoveFile never replaces
  return rename(a.c_str(), b.c_str()) == 0;
}

int RemoveFile(const std::string& path) {
  if (!FileStepAllowed(FileStep::Remove, path)) return 0;
  return unlink(NativePath(path).c_str()) == 0;
}

int CopyOneFile(const std::string& from, const std::string& to, int failIfExists) {
  if (failIfExists && FileExists(to)) return 0;
  std::string bytes;
  if (!ReadWholeFile(from, bytes)) return 0;
  CWriteStream out;
  if (!out.Open(to)) return 0;
  out.Write(bytes.data(), bytes.size());
  return out.Close();
}

int CreateFolder(const std::string& path) {
  std::string n = NativePath(path);
  if (mkdir(n.c_str(), 0777) == 0) return 1;
  return errno == EEXIST && IsFolder(path);
}

int RemoveFolder(const std::string& path) { return rmdir(NativePath(path).c_str()) == 0; }

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (stat(NativePath(path).c_str(), &st) != 0) return -1;
  return (int64_t)st.st_size;
}

int ReplaceWithFile(const std::string& from, const std::string& to) {
  if (!FileStepAllowed(FileStep::Rename, from)) return 0;
  std::string target = NativePath(to);
  if (rename(NativePath(from).c_str(), target.c_str()) != 0) return 0;
  // The rename is on the disk once its folder is.
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return 1;
}

// ---- raw files under the buffered streams --------------------------------------
int RawOpenRead(const std::string& path, intptr_t& h, uint64_t& size) {
  int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) { close(fd); return 0; }
  h = fd;
  size = (uint64_t)st.st_size;
  return 1;
}

int RawOpenWrite(const std::string& path, intptr_t& h) {
  int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return 0;
  h = fd;
  return 1;
}

size_t RawRead(intptr_t h, void* dst, size_t n) {
  for (;;) {
    ssize_t r = read((int)h, dst, n);
    if (r < 0 && errno == EINTR) continue;
    return r < 0 ? 0 : (size_t)r;
  }
}

size_t RawWrite(intptr_t h, const void* src, size_t n) {
  for (;;) {
    ssize_t w = write((int)h, src, n);
    if (w < 0 && errno == EINTR) continue;
    return w < 0 ? 0 : (size_t)w;
  }
}

int RawSync(intptr_t h) { return fsync((int)h) == 0; }
int RawClose(intptr_t h) { return close((int)h) == 0; }

// ---- folders -------------------------------------------------------------------
int ListFolder(const std::string& folder, const std::string& pattern, std::vector<DirEntry>& out) {
  out.clear();
  std::string native = NativePath(folder);
  DIR* d = opendir(native.c_str());
  if (!d) return 0;
  std::vector<DirEntry> rest;
  bool dot = false, dotdot = false;
  while (struct dirent* e = readdir(d)) {
    std::string nameUtf8 = e->d_name;
    if (nameUtf8 == ".") { dot = true; continue; }
    if (nameUtf8 == "..") { dotdot = true; continue; }
    DirEntry de;
    qb::Utf8ToGbk(nameUtf8, de.name);
    if (!MatchPattern(de.name, pattern)) continue;
    struct stat st;
    std::string full = native + "/" + nameUtf8;
    if (stat(full.c_str(), &st) == 0) {
      de.isFolder = S_ISDIR(st.st_mode);
      de.size = de.isFolder ? 0 : (int64_t)st.st_size;
    }
    rest.push_back(de);
  }
  closedir(d);
  if (dot && MatchPattern(".", pattern)) out.push_back(DirEntry{".", true, 0});
  if (dotdot && MatchPattern("..", pattern)) out.push_back(DirEntry{"..", true, 0});
  out.insert(out.end(), rest.begin(), rest.end());
  SortFolderEntries(out);
  return 1;
}

// ---- process and user ------------------------------------------------------------
static std::mutex g_lock;

std::string SystemProgramDirectory() {
  // Set and not empty: an empty variable names no folder.
  const char* env = getenv("QIMBO_PROGRAM_DIR");
  if (env && *env) {
    std::string p = ProgramPath(env);
    if (p.back() != '\\') p.push_back('\\');
    return p;
  }
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string p = ProgramPath(std::string(buf, (size_t)n));
  size_t slash = p.rfind('\\');
  return slash == std::string::npos ? p : p.substr(0, slash + 1);
}

std::string UserName() {
  if (const char* u = getenv("USER")) return qb::FromUtf8(u);
  if (struct passwd* pw = getpwuid(getuid())) return qb::FromUtf8(pw->pw_name);
  return "";
}

std::string HostName() {
  char buf[256] = {0};
  if (gethostname(buf, sizeof buf - 1) != 0) return "";
  return qb::FromUtf8(buf);
}

// ---- registry: one text file per hive --------------------------------------------
// Each line: key TAB value TAB type(S|D) TAB data, with '\\', TAB and newline escaped.
static std::string g_regFolder;

void SetRegistryFolder(const std::string& folder) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_regFolder = folder;
}

namespace {
struct RegEntry {
  char type;
  std::string data;
};
using RegMap = std::map<std::pair<std::string, std::string>, RegEntry>;

std::string RegFile(Hive hive) {
  std::string folder;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    folder = g_regFolder;
  }
  if (folder.empty()) {
    if (const char* env = getenv("QIMBO_REGISTRY_DIR")) folder = env;
    else if (const char* home = getenv("HOME")) folder = std::string(home) + "/.qimbo-registry";
    else folder = "/tmp/qimbo-registry";
  }
  mkdir(folder.c_str(), 0700);
  return folder + (hive == Hive::CurrentUser ? "/HKCU.reg" : "/HKLM.reg");  // the classes root: HKLM
}

std::string Escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '\\') o += "\\\\";
    else if (c == '\t') o += "\\t";
    else if (c == '\n') o += "\\n";
    else if (c == '\r') o += "\\r";
    else o.push_back(c);
  }
  return o;
}

std::string Unescape(const std::string& s) {
  std::string o;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char c = s[++i];
      o.push_back(c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c);
    } else {
      o.push_back(s[i]);
    }
  }
  return o;
}

std::string LowerKey(const std::string& k) {  // registry keys and values ignore case
  std::string o = k;
  for (char& c : o) c = (char)tolower((unsigned char)c);
  return o;
}

RegMap LoadReg(const std::string& file) {
  RegMap map;
  FILE* f = fopen(file.c_str(), "rb");
  if (!f) return map;
  std::string all;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  fclose(f);
  for (const std::string& line : qb::SplitLines(all)) {
    size_t a = line.find('\t'), b = a == std::string::npos ? a : line.find('\t', a + 1);
    size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
    if (c == std::string::npos) continue;
    std::string key = Unescape(line.substr(0, a)), val = Unescape(line.substr(a + 1, b - a - 1));
    map[{LowerKey(key), LowerKey(val)}] = RegEntry{line[b + 1], Unescape(line.substr(c + 1))};
  }
  return map;
}

int SaveReg(const std::string& file, const RegMap& map) {
  std::string all;
  for (auto& kv : map)
    all += Escape(kv.first.first) + "\t" + Escape(kv.first.second) + "\t" + kv.second.type + "\t" +
           Escape(kv.second.data) + "\n";
  std::string tmp = file + ".tmp";
  FILE* f = fopen(tmp.c_str(), "wb");
  if (!f) return 0;
  int ok = fwrite(all.data(), 1, all.size(), f) == all.size();
  ok = (fclose(f) == 0) && ok;
  return ok && rename(tmp.c_str(), file.c_str()) == 0;
}

// The file store keeps the classes root as the machine's Software\Classes.
std::string StoreKey(Hive hive, const std::string& key) {
  return LowerKey(hive == Hive::ClassesRoot ? "Software\\Classes\\" + key : key);
}

std::mutex g_regLock;
}  // namespace

int RegReadString(Hive hive, const std::string& key, const std::string& value, std::string& out) {
  std::lock_guard<std::mutex> hold(g_regLock);
  RegMap map = LoadReg(RegFile(hive));
  auto it = map.find({StoreKey(hive, key), LowerKey(value)});
  if (it == map.end() || it->second.type != 'S') return 0;
  out = it->second.data;
  return 1;
}

// The file store keeps strings by their length: terminated or not, they read back alike.
int RegWriteString(Hive hive, const std::string& key, const std::string& value, const std::string& data, bool) {
  std::lock_guard<std::mutex> hold(g_regLock);
  std::string file = RegFile(hive);
  RegMap map = LoadReg(file);
  map[{StoreKey(hive, key), LowerKey(value)}] = RegEntry{'S', data};
  return SaveReg(file, map);
}

// A key of the file store exists while it holds a value; a new one comes
// with its first value.
int RegMakeKey(Hive, const std::string&) { return 1; }

int RegKeyExists(Hive hive, const std::string& key) {
  std::lock_guard<std::mutex> hold(g_regLock);
  for (const auto& kv : LoadReg(RegFile(hive)))
    if (kv.first.first == StoreKey(hive, key)) return 1;
  return 0;
}

int RegKeyWritable(Hive hive, const std::string& key) {
  if (access(RegFile(hive).c_str(), W_OK) != 0) return 0;
  return RegKeyExists(hive, key);
}

int RegReadDword(Hive hive, const std::string& key, const std::string& value, uint32_t& out) {
  std::lock_guard<std::mutex> hold(g_regLock);
  RegMap map = LoadReg(RegFile(hive));
  auto it = map.find({StoreKey(hive, key), LowerKey(value)});
  if (it == map.end() || it->second.type != 'D') return 0;
  out = (uint32_t)strtoul(it->second.data.c_str(), nullptr, 10);
  return 1;
}

int RegWriteDword(Hive hive, const std::string& key, const std::string& value, uint32_t data) {
  std::lock_guard<std::mutex> hold(g_regLock);
  std::string file = RegFile(hive);
  RegMap map = LoadReg(file);
  map[{StoreKey(hive, key), LowerKey(value)}] = RegEntry{'D', std::to_string(data)};
  return SaveReg(file, map);
}

int RegRemoveValue(Hive hive, const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> hold(g_regLock);
  std::string file = RegFile(hive);
  RegMap map = LoadReg(file);
  if (!map.erase({StoreKey(hive, key), LowerKey(value)})) return 0;
  return SaveReg(file, map);
}

// The file store keeps values but no empty keys: a value that is not there
// counts as a missing key.
RegStatus RegQueryString(Hive hive, const std::string& key, const std::string& value, size_t maxBytes,
                         std::string& out) {
  std::string data;
  if (!RegReadString(hive, key, value, data)) return RegKeyExists(hive, key) ? kRegNoValue : kRegNoKey;
  if (maxBytes > 0 && data.size() > maxBytes - 1) data.resize(maxBytes - 1);
  out = data;
  return kRegOk;
}

// ---- clock -------------------------------------------------------------------
uint32_t SystemTick() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

void SystemSleep(uint32_t ms) {
  struct timespec ts = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}


std::string FormatLocalTime(const char* format) {
  time_t now = time(nullptr);
  struct tm tmv;
  localtime_r(&now, &tmv);
  char buf[256];
  size_t n = strftime(buf, sizeof buf, format, &tmv);
  return std::string(buf, n);
}

}  // namespace os

namespace os {
std::string LocalAppDataFolder() {
  const char* d = getenv("LOCALAPPDATA");
  return d && *d ? ProgramPath(d) : std::string();
}

std::string RoamingAppDataFolder() {
  const char* d = getenv("APPDATA");
  return d && *d ? ProgramPath(d) : std::string();
}

std::string TempFolder() {
  const char* t = getenv("TMPDIR");
  std::string p = ProgramPath(t && *t ? t : "/tmp");
  if (p.back() != '\\') p.push_back('\\');
  return p;
}
}  // namespace os

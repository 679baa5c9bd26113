// Parts of the OS seam that are the same on every system.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <new>

#include "os/fileattr.h"
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

namespace {
std::mutex g_programDirLock;
std::string g_programDir;
std::mutex g_hookLock;
ShellHook g_hook;
}  // namespace

std::string ProgramDirectory() {
  {
    std::lock_guard<std::mutex> hold(g_programDirLock);
    if (!g_programDir.empty()) return g_programDir;
  }
  return SystemProgramDirectory();
}

void SetProgramDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> hold(g_programDirLock);
  g_programDir = dir;
  if (!g_programDir.empty() && g_programDir.back() != '\\') g_programDir.push_back('\\');
}

void SetShellHook(ShellHook hook) {
  std::lock_guard<std::mutex> lock(g_hookLock);
  g_hook = std::move(hook);
}

ShellHook CurrentShellHook() {
  std::lock_guard<std::mutex> lock(g_hookLock);
  return g_hook;
}

void SortFolderEntries(std::vector<DirEntry>& entries) {
  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  std::stable_sort(entries.begin(), entries.end(), [&](const DirEntry& a, const DirEntry& b) {
    int ra = rank(a.name), rb = rank(b.name);
    if (ra != rb) return ra < rb;
    size_t n = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < n; ++i) {
      int ca = tolower((unsigned char)a.name[i]), cb = tolower((unsigned char)b.name[i]);
      if (ca != cb) return ca < cb;
    }
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
  });
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

// ---- buffered streams over the system's raw files -------------------------------
static const size_t kBuf = 1 << 16;
static const intptr_t kNoFile = -1;

struct CReadStream::Impl {
  intptr_t h = kNoFile;
  uint64_t size = 0, pos = 0;  // pos: bytes handed out
  std::string buf;
  size_t bufPos = 0, bufLen = 0;
};

CReadStream::CReadStream() : m(new Impl) {}
CReadStream::~CReadStream() { Close(); }

int CReadStream::Open(const std::string& path) {
  Close();
  if (!RawOpenRead(path, m->h, m->size)) { m->h = kNoFile; return 0; }
  m->pos = 0;
  m->bufPos = m->bufLen = 0;
  return 1;
}

void CReadStream::Close() {
  if (m->h != kNoFile) RawClose(m->h);
  m->h = kNoFile;
  m->size = m->pos = 0;
  m->bufPos = m->bufLen = 0;
}

int CReadStream::IsOpen() const { return m->h != kNoFile; }

size_t CReadStream::Read(void* dst, size_t n) {
  if (m->h == kNoFile) return 0;
  char* out = (char*)dst;
  size_t done = 0;
  while (done < n) {
    if (m->bufPos == m->bufLen) {
      // Large reads, and the rest of the file in one, bypass the buffer.
      uint64_t rest = Remaining() > done ? Remaining() - done : 0;
      if (n - done >= kBuf || n - done >= rest) {
        size_t got = RawRead(m->h, out + done, n - done);
        if (got == 0) break;
        done += got;
        continue;
      }
      if (m->buf.empty()) m->buf.resize(kBuf);  // made for the first small read: a whole file needs none
      size_t got = RawRead(m->h, &m->buf[0], kBuf);
      if (got == 0) break;
      m->bufPos = 0;
      m->bufLen = got;
    }
    size_t take = std::min(n - done, m->bufLen - m->bufPos);
    memcpy(out + done, &m->buf[m->bufPos], take);
    m->bufPos += take;
    done += take;
  }
  m->pos += done;
  return done;
}

uint64_t CReadStream::Remaining() const { return m->pos <= m->size ? m->size - m->pos : 0; }

struct CWriteStream::Impl {
  intptr_t h = kNoFile;
  std::string path;  // for the file-step hook
  std::string buf;
  bool failed = false;
};

CWriteStream::CWriteStream() : m(new Impl) {}
CWriteStream::~CWriteStream() { Close(); }

int CWriteStream::Open(const std::string& path) {
  Close();
  if (!RawOpenWrite(path, m->h)) { m->h = kNoFile; return 0; }
  m->path = path;
  m->failed = false;
  m->buf.clear();
  m->buf.reserve(kBuf);
  return 1;
}

static int WriteAll(intptr_t h, const std::string& path, const char* p, size_t n) {
  while (n > 0) {
    if (!FileStepAllowed(FileStep::Write, path)) return 0;
    size_t put = RawWrite(h, p, n);
    if (put == 0) return 0;
    p += put;
    n -= put;
  }
  return 1;
}

int CWriteStream::Write(const void* src, size_t n) {
  if (m->h == kNoFile || m->failed) return 0;
  if (m->buf.size() + n > kBuf) {
    if (!WriteAll(m->h, m->path, m->buf.data(), m->buf.size())) { m->failed = true; return 0; }
    m->buf.clear();
    if (n >= kBuf) {
      if (!WriteAll(m->h, m->path, (const char*)src, n)) { m->failed = true; return 0; }
      return 1;
    }
  }
  m->buf.append((const char*)src, n);
  return 1;
}

int CWriteStream::Flush() {
  if (m->h == kNoFile || m->failed) return 0;
  if (!WriteAll(m->h, m->path, m->buf.data(), m->buf.size()) || !FileStepAllowed(FileStep::Flush, m->path) ||
      !RawSync(m->h)) {
    m->failed = true;
    return 0;
  }
  m->buf.clear();
  return 1;
}

int CWriteStream::Close() {
  if (m->h == kNoFile) return 0;
  int ok = Flush();
  // A refused close still gives the handle back, as the end of a process does.
  if (!FileStepAllowed(FileStep::Close, m->path)) ok = 0;
  if (!RawClose(m->h)) ok = 0;
  m->h = kNoFile;
  return ok;
}

int ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  CReadStream in;
  if (!in.Open(path)) return 0;
  bytes.resize((size_t)in.Remaining());
  return in.Read(bytes.empty() ? nullptr : &bytes[0], bytes.size()) == bytes.size();
}

int ReadWholeFile(const std::string& path, std::unique_ptr<char[]>& bytes, size_t& size) {
  bytes.reset();
  size = 0;
  CReadStream in;
  if (!in.Open(path)) return 0;
  uint64_t remaining = in.Remaining();
  if (remaining > SIZE_MAX - 1) return 0;
  size = (size_t)remaining;
  bytes.reset(new (std::nothrow) char[size ? size : 1]);
  if (!bytes) return 0;
  if (in.Read(bytes.get(), size) == size) return 1;
  bytes.reset();
  size = 0;
  return 0;
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

int WritePrivateFile(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".tmp~";
  if (FileExists(tmp)) RemoveFile(tmp);
  {
    CWriteStream create;
    if (!create.Open(tmp) || !create.Close()) {
      RemoveFile(tmp);
      return 0;
    }
  }
  // Kept to the owner while still empty. A file system without permissions
  // (FAT, some network shares) refuses, and the file is written all the same.
  KeepToOwner(tmp);
  CWriteStream out;
  int ok = out.Open(tmp);
  ok = ok && out.Write(bytes.data(), bytes.size());
  ok = out.Close() && ok;
  if (!ok || !ReplaceWithFile(tmp, path)) {
    RemoveFile(tmp);
    return 0;
  }
  return 1;
}

std::string NewFileName(const std::string& path) { return path + ".new"; }

int SaveFileReplacing(const std::string& path, const std::string& backup, const std::string& bytes) {
  std::string fresh = NewFileName(path);
  if (FileExists(fresh)) RemoveFile(fresh);
  {
    CWriteStream out;
    int ok = out.Open(fresh);
    ok = ok && out.Write(bytes.data(), bytes.size());
    ok = out.Close() && ok;  // Close flushes to the disk
    if (!ok) {
      RemoveFile(fresh);
      return 0;
    }
  }
  // From here on the new contents are complete under `fresh`; a loader that
  // finds `path` missing takes them.
  bool moved = false;
  if (!backup.empty() && FileExists(path)) {
    // In one step, so that a save that cannot move the file (another program
    // holds it) leaves the older backup as it was.
    if (!ReplaceWithFile(path, backup)) {
      RemoveFile(fresh);
      return 0;
    }
    moved = true;
  }
  if (!ReplaceWithFile(fresh, path)) {
    if (moved) RenameFile(backup, path);
    RemoveFile(fresh);
    return 0;
  }
  return 1;
}

int TakeCompleteNewFile(const std::string& path, CompleteFn complete) {
  if (FileExists(path)) return 0;
  std::string fresh = NewFileName(path), bytes;
  if (IsFolder(fresh) || !ReadWholeFile(fresh, bytes) || !complete(bytes)) return 0;
  return RenameFile(fresh, path);
}

static std::atomic<FileStepHook> g_fileStepHook{nullptr};
void SetFileStepHook(FileStepHook hook) { g_fileStepHook = hook; }
int FileStepAllowed(FileStep step, const std::string& path) {
  FileStepHook hook = g_fileStepHook;
  return hook ? hook(step, path) : 1;
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

// The OS seam on Windows: W functions, with code page 936 <-> UTF-16 at the call.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/codepage.h"
#include "os/os.h"
#include "os/os_internal.h"

namespace os {

namespace {
std::wstring W(const std::string& gbk) {
  std::u16string w = qb::ToWide(gbk);
  return std::wstring(w.begin(), w.end());
}
std::string G(const wchar_t* w, size_t n) {
  return qb::FromWide(std::u16string(reinterpret_cast<const char16_t*>(w), n));
}
std::string G(const std::wstring& w) { return G(w.data(), w.size()); }
}  // namespace

std::string NativePath(const std::string& path) { return path; }
std::string ProgramPath(const std::string& nativePath) { return nativePath; }

int FileExists(const std::string& path) {
  return GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int IsFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(W(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int RenameFile(const std::string& from, const std::string& to) {
  return MoveFileW(W(from).c_str(), W(to).c_str()) != 0;
}

int RemoveFile(const std::string& path) { return DeleteFileW(W(path).c_str()) != 0; }

int CopyOneFile(const std::string& from, const std::string& to, int failIfExists) {
  return CopyFileW(W(from).c_str(), W(to).c_str(), failIfExists ? TRUE : FALSE) != 0;
}

int CreateFolder(const std::string& path) {
  if (CreateDirectoryW(W(path).c_str(), nullptr)) return 1;
  return GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(path);
}

int RemoveFolder(const std::string& path) { return RemoveDirectoryW(W(path).c_str()) != 0; }

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(W(path).c_str(), GetFileExInfoStandard, &d)) return -1;
  return ((int64_t)d.nFileSizeHigh << 32) | d.nFileSizeLow;
}

int ReplaceWithFile(const std::string& from, const std::string& to) {
  return MoveFileExW(W(from).c_str(), W(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// ---- streams -------------------------------------------------------------------
static const size_t kBuf = 1 << 16;

struct CReadStream::Impl {
  HANDLE h = INVALID_HANDLE_VALUE;
  uint64_t size = 0, pos = 0;
  std::string buf;
  size_t bufPos = 0, bufLen = 0;
};

CReadStream::CReadStream() : m(new Impl) {}
CReadStream::~CReadStream() { Close(); }

int CReadStream::Open(const std::string& path) {
  Close();
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER sz;
  if (!GetFileSizeEx(h, &sz)) { CloseHandle(h); return 0; }
  m->h = h;
  m->size = (uint64_t)sz.QuadPart;
  m->pos = 0;
  m->buf.resize(kBuf);
  m->bufPos = m->bufLen = 0;
  return 1;
}

void CReadStream::Close() {
  if (m->h != INVALID_HANDLE_VALUE) CloseHandle(m->h);
  m->h = INVALID_HANDLE_VALUE;
  m->size = m->pos = 0;
  m->bufPos = m->bufLen = 0;
}

int CReadStream::IsOpen() const { return m->h != INVALID_HANDLE_VALUE; }

size_t CReadStream::Read(void* dst, size_t n) {
  if (m->h == INVALID_HANDLE_VALUE) return 0;
  char* out = (char*)dst;
  size_t done = 0;
  while (done < n) {
    if (m->bufPos == m->bufLen) {
      DWORD got = 0;
      if (n - done >= kBuf) {
        DWORD want = (DWORD)std::min<size_t>(n - done, 1u << 30);
        if (!ReadFile(m->h, out + done, want, &got, nullptr) || got == 0) break;
        done += got;
        continue;
      }
      if (!ReadFile(m->h, &m->buf[0], (DWORD)kBuf, &got, nullptr) || got == 0) break;
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
  HANDLE h = INVALID_HANDLE_VALUE;
  std::string buf;
  bool failed = false;
};

CWriteStream::CWriteStream() : m(new Impl) {}
CWriteStream::~CWriteStream() { Close(); }

int CWriteStream::Open(const std::string& path) {
  Close();
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  m->h = h;
  m->failed = false;
  m->buf.clear();
  m->buf.reserve(kBuf);
  return 1;
}

static int WriteAll(HANDLE h, const char* p, size_t n) {
  while (n > 0) {
    DWORD put = 0, want = (DWORD)std::min<size_t>(n, 1u << 30);
    if (!WriteFile(h, p, want, &put, nullptr) || put == 0) return 0;
    p += put;
    n -= put;
  }
  return 1;
}

int CWriteStream::Write(const void* src, size_t n) {
  if (m->h == INVALID_HANDLE_VALUE || m->failed) return 0;
  if (m->buf.size() + n > kBuf) {
    if (!WriteAll(m->h, m->buf.data(), m->buf.size())) { m->failed = true; return 0; }
    m->buf.clear();
    if (n >= kBuf) {
      if (!WriteAll(m->h, (const char*)src, n)) { m->failed = true; return 0; }
      return 1;
    }
  }
  m->buf.append((const char*)src, n);
  return 1;
}

int CWriteStream::Flush() {
  if (m->h == INVALID_HANDLE_VALUE || m->failed) return 0;
  if (!WriteAll(m->h, m->buf.data(), m->buf.size())) { m->failed = true; return 0; }
  m->buf.clear();
  if (!FlushFileBuffers(m->h)) { m->failed = true; return 0; }
  return 1;
}

int CWriteStream::Close() {
  if (m->h == INVALID_HANDLE_VALUE) return 0;
  int ok = Flush();
  if (!CloseHandle(m->h)) ok = 0;
  m->h = INVALID_HANDLE_VALUE;
  return ok;
}

// ---- folders -------------------------------------------------------------------
int ListFolder(const std::string& folder, const std::string& pattern, std::vector<DirEntry>& out) {
  out.clear();
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(W(JoinPath(folder, pattern)).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES ? IsFolder(folder) : 0;
  }
  std::vector<DirEntry> dots;
  do {
    DirEntry de;
    de.name = G(fd.cFileName, wcslen(fd.cFileName));
    de.isFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    de.size = de.isFolder ? 0 : (((int64_t)fd.nFileSizeHigh << 32) | fd.nFileSizeLow);
    // The system's own matching differs between versions (and under Wine) for
    // patterns like "*."; the program's rule decides.
    if (!MatchPattern(de.name, pattern)) continue;
    if (de.name == "." || de.name == "..") dots.push_back(de);
    else out.push_back(de);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  // "." before "..", both ahead of the rest, whatever order the file system gave.
  std::sort(dots.begin(), dots.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  out.insert(out.begin(), dots.begin(), dots.end());
  return 1;
}

// ---- process and user ------------------------------------------------------------
static std::mutex g_lock;
static std::string g_programDir;

std::string ProgramDirectory() {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_programDir.empty()) return g_programDir;
  }
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, buf, (DWORD)(sizeof buf / sizeof buf[0]));
  std::string p = G(buf, n);
  size_t slash = p.rfind('\\');
  return slash == std::string::npos ? p : p.substr(0, slash + 1);
}

void SetProgramDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_programDir = dir;
  if (!g_programDir.empty() && g_programDir.back() != '\\') g_programDir.push_back('\\');
}

std::string UserName() {
  wchar_t buf[256];
  DWORD n = 256;
  if (!GetUserNameW(buf, &n) || n == 0) return "";
  return G(buf, wcslen(buf));
}

std::string HostName() {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buf, &n)) return "";
  return G(buf, n);
}

// ---- registry ------------------------------------------------------------------
void SetRegistryFolder(const std::string&) {}

namespace {
HKEY Root(Hive h) { return h == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

struct Key {
  HKEY h = nullptr;
  ~Key() { if (h) RegCloseKey(h); }
};
}  // namespace

int RegReadString(Hive hive, const std::string& key, const std::string& value, std::string& out) {
  Key k;
  if (RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_READ, &k.h) != ERROR_SUCCESS) return 0;
  DWORD type = 0, size = 0;
  std::wstring v = W(value);
  if (RegQueryValueExW(k.h, v.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return 0;
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(k.h, v.c_str(), nullptr, &type, (BYTE*)&data[0], &size) != ERROR_SUCCESS) return 0;
  data.resize(wcsnlen(data.c_str(), size / sizeof(wchar_t)));
  out = G(data);
  return 1;
}

int RegWriteString(Hive hive, const std::string& key, const std::string& value, const std::string& data) {
  Key k;
  if (RegCreateKeyExW(Root(hive), W(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k.h, nullptr) != ERROR_SUCCESS)
    return 0;
  std::wstring d = W(data);
  return RegSetValueExW(k.h, W(value).c_str(), 0, REG_SZ, (const BYTE*)d.c_str(),
                        (DWORD)((d.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

int RegReadDword(Hive hive, const std::string& key, const std::string& value, uint32_t& out) {
  Key k;
  if (RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_READ, &k.h) != ERROR_SUCCESS) return 0;
  DWORD type = 0, v = 0, size = sizeof v;
  if (RegQueryValueExW(k.h, W(value).c_str(), nullptr, &type, (BYTE*)&v, &size) != ERROR_SUCCESS) return 0;
  if (type != REG_DWORD) return 0;
  out = v;
  return 1;
}

int RegWriteDword(Hive hive, const std::string& key, const std::string& value, uint32_t data) {
  Key k;
  if (RegCreateKeyExW(Root(hive), W(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k.h, nullptr) != ERROR_SUCCESS)
    return 0;
  DWORD v = data;
  return RegSetValueExW(k.h, W(value).c_str(), 0, REG_DWORD, (const BYTE*)&v, sizeof v) == ERROR_SUCCESS;
}

int RegRemoveValue(Hive hive, const std::string& key, const std::string& value) {
  Key k;
  if (RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_SET_VALUE, &k.h) != ERROR_SUCCESS) return 0;
  return RegDeleteValueW(k.h, W(value).c_str()) == ERROR_SUCCESS;
}

// ---- clock -------------------------------------------------------------------
uint32_t SystemTick() { return GetTickCount(); }
void SystemSleep(uint32_t ms) { Sleep(ms); }


std::string FormatLocalTime(const char* format) {
  time_t now = time(nullptr);
  struct tm* tmv = localtime(&now);
  char buf[256];
  size_t n = tmv ? strftime(buf, sizeof buf, format, tmv) : 0;
  return std::string(buf, n);
}

}  // namespace os

namespace os {
std::string TempFolder() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  std::string p = n ? G(buf, n) : std::string("C:\\");
  if (p.back() != '\\') p.push_back('\\');
  return p;
}
}  // namespace os

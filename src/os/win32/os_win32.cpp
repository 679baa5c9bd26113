// The OS seam on Windows: W functions, with code page 936 <-> UTF-16 at the call.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "os/os.h"
#include "os/os_internal.h"
#include "win/handles_win32.h"
#include "win/text_win32.h"

namespace os {

using qb::W;

std::string NativePath(const std::string& path) { return path; }
std::string ProgramPath(const std::string& nativePath) { return nativePath; }

int FileExists(const std::string& path) {
  return GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int IsFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(W(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
// Another program that holds a file open without letting others rename or
// delete it (a virus scanner, a backup or search indexer, a second copy of
// this program reading it) makes a rename, replace or delete fail for as long
// as it holds it, with a sharing violation or "access denied". Such a step
// is tried again for up to two seconds before it counts as failed: a save
// must not be lost to a reader that looked at the file at the same moment.
constexpr int kBusyTries = 40;
constexpr DWORD kBusyPauseMs = 50;

// "Access denied" also answers a step that can never work: on a folder or a
// read-only file. That is not waited for.
bool CanOnlyBeBusy(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a == INVALID_FILE_ATTRIBUTES || !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

template <class Step>
bool RetryWhileBusy(const std::wstring& from, const std::wstring& to, Step step) {
  for (int i = 1;; ++i) {
    if (step()) return true;
    DWORD e = GetLastError();
    bool busy = e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION ||
                (e == ERROR_ACCESS_DENIED && CanOnlyBeBusy(from) && (to.empty() || CanOnlyBeBusy(to)));
    if (!busy || i >= kBusyTries) {
      SetLastError(e);
      return false;
    }
    Sleep(kBusyPauseMs);
  }
}
}  // namespace

int RenameFile(const std::string& from, const std::string& to) {
  if (!FileStepAllowed(FileStep::Rename, from)) return 0;
  std::wstring a = W(from), b = W(to);
  return RetryWhileBusy(a, b, [&] { return MoveFileW(a.c_str(), b.c_str()) != 0; });
}

int RemoveFile(const std::string& path) {
  if (!FileStepAllowed(FileStep::Remove, path)) return 0;
  std::wstring p = W(path);
  return RetryWhileBusy(p, std::wstring(), [&] { return DeleteFileW(p.c_str()) != 0; });
}

int CopyOneFile(const std::string& from, const std::string& to, int failIfExists) {
  if (!FileStepAllowed(FileStep::Write, to)) return 0;
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
  if (!FileStepAllowed(FileStep::Rename, from)) return 0;
  // One step: the target is never missing, and the move is on the disk when
  // the call returns.
  std::wstring a = W(from), b = W(to);
  return RetryWhileBusy(a, b, [&] {
    return MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  });
}

// ---- raw files under the buffered streams --------------------------------------
int RawOpenRead(const std::string& path, intptr_t& h, uint64_t& size) {
  // A reader lets others rename the file away meanwhile (it goes on reading
  // what it opened): a save that moves the current file to its backup must
  // not fail because the file is being read.
  HANDLE f = CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 0;
  qb::KernelHandle file(f);
  LARGE_INTEGER sz;
  if (!GetFileSizeEx(f, &sz)) return 0;
  h = (intptr_t)file.Release();  // RawClose closes it
  size = (uint64_t)sz.QuadPart;
  return 1;
}

int RawOpenWrite(const std::string& path, intptr_t& h) {
  HANDLE f = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 0;
  h = (intptr_t)f;
  return 1;
}

size_t RawRead(intptr_t h, void* dst, size_t n) {
  DWORD got = 0;
  if (!ReadFile((HANDLE)h, dst, (DWORD)std::min<size_t>(n, 1u << 30), &got, nullptr)) return 0;
  return got;
}

size_t RawWrite(intptr_t h, const void* src, size_t n) {
  DWORD put = 0;
  if (!WriteFile((HANDLE)h, src, (DWORD)std::min<size_t>(n, 1u << 30), &put, nullptr)) return 0;
  return put;
}

int RawSync(intptr_t h) { return FlushFileBuffers((HANDLE)h) != 0; }
// The close of the seam's raw file: the buffered streams above own the
// handle as a number, so the call is written out here.
int RawClose(intptr_t h) { return CloseHandle((HANDLE)h) != 0; }

// ---- folders -------------------------------------------------------------------
int ListFolder(const std::string& folder, const std::string& pattern, std::vector<DirEntry>& out) {
  out.clear();
  WIN32_FIND_DATAW fd;
  qb::FindHandle h(FindFirstFileW(W(JoinPath(folder, pattern)).c_str(), &fd));
  if (!h) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES ? IsFolder(folder) : 0;
  }
  do {
    DirEntry de;
    de.name = qb::Gbk(fd.cFileName, wcslen(fd.cFileName));
    de.isFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    de.size = de.isFolder ? 0 : (((int64_t)fd.nFileSizeHigh << 32) | fd.nFileSizeLow);
    // The system's own matching differs between versions (and under Wine) for
    // patterns like "*."; the program's rule decides.
    if (!MatchPattern(de.name, pattern)) continue;
    out.push_back(de);
  } while (FindNextFileW(h.Get(), &fd));
  h.Reset();
  SortFolderEntries(out);
  return 1;
}

// ---- process and user ------------------------------------------------------------
std::string SystemProgramDirectory() {
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, buf, (DWORD)(sizeof buf / sizeof buf[0]));
  std::string p = qb::Gbk(buf, n);
  size_t slash = p.rfind('\\');
  return slash == std::string::npos ? p : p.substr(0, slash + 1);
}

std::string UserName() {
  wchar_t buf[256];
  DWORD n = 256;
  if (!GetUserNameW(buf, &n) || n == 0) return "";
  return qb::Gbk(buf, wcslen(buf));
}

std::string HostName() {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buf, &n)) return "";
  return qb::Gbk(buf, n);
}

// ---- registry ------------------------------------------------------------------
void SetRegistryFolder(const std::string&) {}

namespace {
HKEY Root(Hive h) {
  return h == Hive::CurrentUser ? HKEY_CURRENT_USER : h == Hive::ClassesRoot ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
}

}  // namespace

int RegReadString(Hive hive, const std::string& key, const std::string& value, std::string& out) {
  qb::ScopedRegKey k;
  if (RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_READ, k.Receive()) != ERROR_SUCCESS) return 0;
  DWORD type = 0, size = 0;
  std::wstring v = W(value);
  if (RegQueryValueExW(k.Get(), v.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return 0;
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(k.Get(), v.c_str(), nullptr, &type, (BYTE*)&data[0], &size) != ERROR_SUCCESS) return 0;
  data.resize(wcsnlen(data.c_str(), size / sizeof(wchar_t)));
  out = qb::Gbk(data);
  return 1;
}

int RegWriteString(Hive hive, const std::string& key, const std::string& value, const std::string& data,
                   bool terminated) {
  qb::ScopedRegKey k;
  if (RegCreateKeyExW(Root(hive), W(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Receive(), nullptr) != ERROR_SUCCESS)
    return 0;
  std::wstring d = W(data);
  return RegSetValueExW(k.Get(), W(value).c_str(), 0, REG_SZ, (const BYTE*)d.c_str(),
                        (DWORD)((d.size() + (terminated ? 1 : 0)) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

int RegMakeKey(Hive hive, const std::string& key) {
  qb::ScopedRegKey k;
  return RegCreateKeyExW(Root(hive), W(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Receive(), nullptr) ==
         ERROR_SUCCESS;
}

int RegKeyWritable(Hive hive, const std::string& key) {
  qb::ScopedRegKey k;
  return RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_WRITE, k.Receive()) == ERROR_SUCCESS;
}

int RegKeyExists(Hive hive, const std::string& key) {
  qb::ScopedRegKey k;
  return RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_READ, k.Receive()) == ERROR_SUCCESS;
}

int RegReadDword(Hive hive, const std::string& key, const std::string& value, uint32_t& out) {
  qb::ScopedRegKey k;
  if (RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_READ, k.Receive()) != ERROR_SUCCESS) return 0;
  DWORD type = 0, v = 0, size = sizeof v;
  if (RegQueryValueExW(k.Get(), W(value).c_str(), nullptr, &type, (BYTE*)&v, &size) != ERROR_SUCCESS) return 0;
  if (type != REG_DWORD) return 0;
  out = v;
  return 1;
}

int RegWriteDword(Hive hive, const std::string& key, const std::string& value, uint32_t data) {
  qb::ScopedRegKey k;
  if (RegCreateKeyExW(Root(hive), W(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Receive(), nullptr) != ERROR_SUCCESS)
    return 0;
  DWORD v = data;
  return RegSetValueExW(k.Get(), W(value).c_str(), 0, REG_DWORD, (const BYTE*)&v, sizeof v) == ERROR_SUCCESS;
}

int RegRemoveValue(Hive hive, const std::string& key, const std::string& value) {
  qb::ScopedRegKey k;
  if (RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_SET_VALUE, k.Receive()) != ERROR_SUCCESS) return 0;
  return RegDeleteValueW(k.Get(), W(value).c_str()) == ERROR_SUCCESS;
}

RegStatus RegQueryString(Hive hive, const std::string& key, const std::string& value, size_t maxBytes,
                         std::string& out) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(Root(hive), W(key).c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return kRegNoKey;
  qb::ScopedRegKey keyOwner(k);
  DWORD type = 0, size = 0;
  std::wstring name = W(value);
  LONG rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, nullptr, &size);
  std::wstring buf;
  if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    buf.resize(size / sizeof(wchar_t) + 1);
    rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, (BYTE*)&buf[0], &size);
  } else if (rc == ERROR_SUCCESS) {
    rc = ERROR_INVALID_DATA;
  }
  keyOwner.Reset();
  if (rc != ERROR_SUCCESS) return kRegNoValue;
  buf.resize(wcsnlen(buf.c_str(), buf.size()));
  std::string data = qb::Gbk(buf);
  if (maxBytes > 0 && data.size() > maxBytes - 1) data.resize(maxBytes - 1);
  out = data;
  return kRegOk;
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
namespace {
std::string FolderFromEnvironment(const wchar_t* name) {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH * 2);
  if (n == 0 || n >= MAX_PATH * 2) return std::string();
  return qb::Gbk(buf, n);
}
}  // namespace

std::string LocalAppDataFolder() { return FolderFromEnvironment(L"LOCALAPPDATA"); }
std::string RoamingAppDataFolder() { return FolderFromEnvironment(L"APPDATA"); }

std::string TempFolder() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  std::string p = n ? qb::Gbk(buf, n) : std::string("C:\\");
  if (p.back() != '\\') p.push_back('\\');
  return p;
}
}  // namespace os

// The thin seam between the program and the operating system. One contract,
// two implementations: win32/ (the real thing) and posix/ (Linux, for tests,
// tools and the server).
//
// Paths are byte strings in code page 936 with '\' separators. The posix side
// turns '\' into '/' and GBK names into UTF-8 names at the call.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/archive.h"

namespace os {

// ---- files and folders -----------------------------------------------------
int FileExists(const std::string& path);      // a file or a folder
int IsFolder(const std::string& path);
int RenameFile(const std::string& from, const std::string& to);  // fails if `to` exists
int RemoveFile(const std::string& path);
int CopyOneFile(const std::string& from, const std::string& to, int failIfExists);
int CreateFolder(const std::string& path);    // one level; 1 if it already exists
int RemoveFolder(const std::string& path);    // empty folder only
int64_t FileSize(const std::string& path);    // -1 when missing
int ReadWholeFile(const std::string& path, std::string& bytes);
// The same into a buffer of its own, which is not filled with zeros first:
// for files read once and parsed, where that pass over every byte counts.
int ReadWholeFile(const std::string& path, std::unique_ptr<char[]>& bytes, size_t& size);
// Writes to a temporary name beside `path`, flushes, then replaces `path`.
int WriteWholeFile(const std::string& path, const std::string& bytes);

// Saves `bytes` as `path` so that at every moment either `path` or a
// complete `path` + ".new" holds the previous or the new contents: the bytes
// go to path + ".new" and onto the disk; then, when `backup` is named and
// `path` exists, `path` replaces an older backup in one step; then
// path + ".new" takes the place of `path` in one atomic step. A failure
// leaves `path` as it was (or puts it back).
int SaveFileReplacing(const std::string& path, const std::string& backup, const std::string& bytes);
// For loaders: when `path` is missing and path + ".new" holds bytes that
// `complete` accepts (a save ended before its last step), that file becomes
// `path`. 1 when it did.
using CompleteFn = bool (*)(const std::string& bytes);
int TakeCompleteNewFile(const std::string& path, CompleteFn complete);
// The name a save writes before it replaces `path`.
std::string NewFileName(const std::string& path);

// Every step that changes a file passes through here first: each write,
// flush and close of a write stream, each removal and each rename. A hook
// that returns 0 fails the step without touching the file (a close still
// gives the handle back); it may also end the process. Tests use it to end
// a save at each of its steps. nullptr: no hook.
enum class FileStep { Write, Flush, Close, Remove, Rename };
using FileStepHook = int (*)(FileStep step, const std::string& path);
void SetFileStepHook(FileStepHook hook);

// Buffered read stream over a file; also an archive byte source.
class CReadStream : public qb::IByteSource {
 public:
  CReadStream();
  ~CReadStream() override;
  CReadStream(const CReadStream&) = delete;
  CReadStream& operator=(const CReadStream&) = delete;
  int Open(const std::string& path);
  void Close();
  int IsOpen() const;
  size_t Read(void* dst, size_t n) override;
  uint64_t Remaining() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> m;
};

// Buffered write stream over a file (created or truncated); an archive byte sink.
class CWriteStream : public qb::IByteSink {
 public:
  CWriteStream();
  ~CWriteStream() override;
  CWriteStream(const CWriteStream&) = delete;
  CWriteStream& operator=(const CWriteStream&) = delete;
  int Open(const std::string& path);
  int Write(const void* src, size_t n) override;
  // Writes the buffer out and asks the system to put it on disk.
  int Flush();
  // Flushes and closes; 1 when every byte reached the file.
  int Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> m;
};

struct DirEntry {
  std::string name;  // GBK, no folder part
  bool isFolder = false;
  int64_t size = 0;
};

// Entries of `folder` matching `pattern` ("*.", "*.url", "*.*", "*.sc", ...),
// case-insensitively as Windows matches, with "." and ".." first, the rest by
// name as NTFS lists them (letters without case) on every system. Returns 0
// when the folder cannot be read.
int ListFolder(const std::string& folder, const std::string& pattern, std::vector<DirEntry>& out);
// The matching rule on its own ("*." matches names without a dot).
bool MatchPattern(const std::string& name, const std::string& pattern);

// Joins a folder and a name with exactly one '\'.
std::string JoinPath(const std::string& folder, const std::string& name);

// ---- process and user ------------------------------------------------------
// Full path of the running executable up to and including its last '\'.
std::string ProgramDirectory();
// Tests and tools may point the program at another folder.
void SetProgramDirectory(const std::string& dir);
std::string UserName();
std::string HostName();
// The system's folder for temporary files, ending in '\'.
std::string TempFolder();
// The user's local application data folder (LOCALAPPDATA), where browsers
// keep their profiles; empty when the system names none.
std::string LocalAppDataFolder();
// The user's roaming application data folder (APPDATA); empty when none.
std::string RoamingAppDataFolder();

// ---- registry --------------------------------------------------------------
// ClassesRoot is the machine's Software\Classes merged with the user's, as
// Windows shows it; the posix store keeps it as the machine's Software\Classes.
enum class Hive { CurrentUser, LocalMachine, ClassesRoot };
// posix: the registry is a file-backed store under this folder (native path).
void SetRegistryFolder(const std::string& folder);
int RegReadString(Hive hive, const std::string& key, const std::string& value, std::string& out);
// With `terminated` false the string is stored without its terminating zero
// (the login dialog's values are kept so); readers take either form.
int RegWriteString(Hive hive, const std::string& key, const std::string& value, const std::string& data,
                   bool terminated = true);
// Creates the key, or opens it, with write access.
int RegMakeKey(Hive hive, const std::string& key);
// Whether the key exists and can be opened with write access.
int RegKeyWritable(Hive hive, const std::string& key);
// Whether the key exists.
int RegKeyExists(Hive hive, const std::string& key);
int RegReadDword(Hive hive, const std::string& key, const std::string& value, uint32_t& out);
int RegWriteDword(Hive hive, const std::string& key, const std::string& value, uint32_t data);
int RegRemoveValue(Hive hive, const std::string& key, const std::string& value);
// A string read that tells a missing key from a missing value: at most
// maxBytes - 1 bytes of the value (the key's default value when `value` is
// empty); kRegNoValue also for a value that is not a string.
enum RegStatus { kRegOk = 1, kRegNoValue = 0, kRegNoKey = -1 };
RegStatus RegQueryString(Hive hive, const std::string& key, const std::string& value, size_t maxBytes,
                         std::string& out);

// ---- clock ------------------------------------------------------------------
uint32_t TickCount();  // milliseconds, wraps like GetTickCount
void SleepMs(uint32_t ms);
// Tests replace the clock so that timed behaviour runs without sleeping;
// nullptr puts the system clock back.
using TickFn = uint32_t (*)();
using SleepFn = void (*)(uint32_t ms);
void SetClock(TickFn tick, SleepFn sleep);
// strftime-style format of the local time now (GBK result).
std::string FormatLocalTime(const char* format);

// ---- native paths (posix side only does real work) ---------------------------
// The path the operating system is given for a program path.
std::string NativePath(const std::string& path);
// The program path for a path the operating system gave.
std::string ProgramPath(const std::string& nativePath);

}  // namespace os

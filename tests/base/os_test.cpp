#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif
#include <unistd.h>
#include <time.h>

#include <cstring>
#include <ctime>
#endif

#include "loopback_http.h"
#include "os/fileattr.h"
#include "os/http.h"
#include "os/net.h"
#include "os/os.h"
#include "os/shell.h"
#include "testutil.h"

using qbtest::TempDir;

namespace {
std::vector<std::string> Names(const std::string& folder, const std::string& pattern) {
  std::vector<os::DirEntry> entries;
  EXPECT_TRUE(os::ListFolder(folder, pattern, entries));
  std::vector<std::string> names;
  for (auto& e : entries) names.push_back(e.name);
  return names;
}
}  // namespace

TEST(OsFiles, CreateRenameCopyDeleteWithChineseNames) {
  TempDir dir;
  std::string a = dir / "我的收藏.sc", b = dir / "上次收藏.bak", c = dir / "copy.sc";
  qbtest::WriteFileBytes(a, "one");
  EXPECT_TRUE(os::FileExists(a));
  EXPECT_FALSE(os::IsFolder(a));
  EXPECT_EQ(os::FileSize(a), 3);
  qbtest::WriteFileBytes(b, "two");
  EXPECT_FALSE(os::RenameFile(a, b)) << "a rename never replaces an existing file";
  EXPECT_EQ(qbtest::ReadFileBytes(b), "two");
  EXPECT_TRUE(os::RemoveFile(b));
  EXPECT_EQ(1, os::RenameFile(a, b));
  EXPECT_FALSE(os::FileExists(a));
  // A rename the file layer refuses moves nothing and says so.
  os::SetFileStepHook([](os::FileStep step, const std::string&) { return step == os::FileStep::Rename ? 0 : 1; });
  EXPECT_EQ(0, os::RenameFile(b, a));
  os::SetFileStepHook(nullptr);
  EXPECT_TRUE(os::FileExists(b));
  EXPECT_FALSE(os::FileExists(a));
  EXPECT_TRUE(os::CopyOneFile(b, c, 1));
  EXPECT_FALSE(os::CopyOneFile(b, c, 1));
  EXPECT_EQ(qbtest::ReadFileBytes(c), "one");
  EXPECT_EQ(0, os::CopyOneFile(dir / "missing", dir / "copy", 0)) << "nothing to copy";
  EXPECT_FALSE(os::FileExists(dir / "copy"));
  EXPECT_FALSE(os::RemoveFile(dir / "missing"));
  EXPECT_EQ(os::FileSize(dir / "missing"), -1);
  EXPECT_FALSE(os::WriteWholeFile(dir / "no such folder\\f.dat", "x")) << "nowhere to write";
  // A folder by the file's name cannot be replaced: the write fails and
  // leaves the folder and no temporary behind.
  ASSERT_TRUE(os::CreateFolder(dir / "taken"));
  qbtest::WriteFileBytes(dir / "taken\\inside", "i");
  EXPECT_FALSE(os::WriteWholeFile(dir / "taken", "x")) << "a full folder is in the way";
  EXPECT_TRUE(os::IsFolder(dir / "taken"));
  EXPECT_FALSE(os::FileExists(dir / "taken.tmp~"));
  std::string bytes = "left over";
  EXPECT_FALSE(os::ReadWholeFile(dir / "missing", bytes));
  EXPECT_EQ("", bytes) << "a failed read hands out nothing";
  os::CReadStream never;
  EXPECT_FALSE(never.IsOpen());
  EXPECT_EQ(0u, never.Remaining());
  char one = 0;
  EXPECT_EQ(0u, never.Read(&one, 1));

  EXPECT_EQ(1, os::CreateFolder(dir / "图标"));
  EXPECT_EQ(1, os::CreateFolder(dir / "图标")) << "an existing folder is success";
  EXPECT_TRUE(os::IsFolder(dir / "图标"));
  EXPECT_FALSE(os::CreateFolder(c)) << "a file is in the way";
  qbtest::WriteFileBytes(dir / "图标\\x.ico", "i");
  EXPECT_FALSE(os::RemoveFolder(dir / "图标")) << "only an empty folder goes";
  EXPECT_TRUE(os::RemoveFile(dir / "图标\\x.ico"));
  EXPECT_TRUE(os::RemoveFolder(dir / "图标"));
  EXPECT_FALSE(os::IsFolder(dir / "图标"));
  EXPECT_FALSE(os::RemoveFolder(dir / "图标"));
}

TEST(OsFiles, WholeFileReplaceKeepsNoTemporaryAndStreamsLargeData) {
  TempDir dir;
  std::string f = dir / "data.bin";
  ASSERT_TRUE(os::WriteWholeFile(f, "old contents"));
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = (char)(i * 7);
  ASSERT_TRUE(os::WriteWholeFile(f, big));
  EXPECT_EQ(qbtest::ReadFileBytes(f), big);
  EXPECT_FALSE(os::FileExists(f + ".tmp~"));
  // Into a buffer of its own: the same bytes; nothing for a missing file, and
  // an empty file is read as empty.
  std::unique_ptr<char[]> raw;
  size_t rawSize = 1;
  ASSERT_EQ(1, os::ReadWholeFile(f, raw, rawSize));
  EXPECT_EQ(std::string(raw.get(), rawSize), big);
  EXPECT_EQ(0, os::ReadWholeFile(dir / "missing", raw, rawSize));
  EXPECT_TRUE(raw == nullptr && rawSize == 0);
  ASSERT_TRUE(os::WriteWholeFile(dir / "empty.bin", ""));
  EXPECT_EQ(1, os::ReadWholeFile(dir / "empty.bin", raw, rawSize));
  EXPECT_EQ(0u, rawSize);

  // A stream flushed on the way writes every byte once.
  {
    os::CWriteStream out;
    ASSERT_EQ(1, out.Open(dir / "flushed.bin"));
    out.Write("ab", 2);
    ASSERT_EQ(1, out.Flush());
    out.Write("cd", 2);
    ASSERT_EQ(1, out.Flush());
    out.Write("e", 1);
    ASSERT_EQ(1, out.Close());
  }
  EXPECT_EQ("abcde", qbtest::ReadFileBytes(dir / "flushed.bin"));

  // Mixed small and large reads through the buffered stream.
  os::CReadStream in;
  ASSERT_EQ(1, in.Open(f));
  EXPECT_EQ(in.Remaining(), big.size());
  std::string got(big.size() * 2, '\0');  // room for the over-long last request
  size_t pos = 0;
  for (size_t step : {1, 3, 70000, 5, 100000}) {
    ASSERT_EQ(in.Read(&got[pos], step), step);
    pos += step;
  }
  EXPECT_EQ(in.Read(&got[pos], big.size()), big.size() - pos);
  EXPECT_EQ(in.Remaining(), 0u);
  got.resize(big.size());
  EXPECT_EQ(got, big);
  ASSERT_EQ(1, in.Open(f));
  EXPECT_FALSE(in.Open(dir / "missing"));
  EXPECT_EQ(in.Remaining(), 0u) << "a failed open leaves nothing of the file before";
  EXPECT_FALSE(in.Open(dir.Path().substr(0, dir.Path().size() - 1))) << "a folder is not a file";
#ifndef _WIN32
  {
    // The refused folder's descriptor is given back: the next file gets the same number.
    int before = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(before);
    in.Open(dir.Path().substr(0, dir.Path().size() - 1));
    int after = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(after);
    EXPECT_EQ(before, after);
  }
#endif
  os::CWriteStream out;
  EXPECT_FALSE(out.Open(dir / "missing\\new.bin"));
  EXPECT_FALSE(out.Write("x", 1));
  EXPECT_FALSE(out.Close());

  // Mixed small and large writes: every byte once, in order, whatever the
  // buffer held when a write overflowed it.
  std::string f2 = dir / "mixed.bin", want;
  os::CWriteStream mixed;
  ASSERT_EQ(1, mixed.Open(f2));
  size_t at = 0;
  for (size_t step : {1000, 1000, 70000, 3, 65530, 65536, 10, 200000, 7}) {
    std::string piece = big.substr(at % 1000, step);
    if (piece.size() < step) piece += std::string(step - piece.size(), 'z');
    ASSERT_EQ(1, mixed.Write(piece.data(), piece.size())) << step;
    want += piece;
    at += step;
  }
  ASSERT_TRUE(mixed.Close());
  EXPECT_EQ(want.size(), qbtest::ReadFileBytes(f2).size());
  EXPECT_TRUE(qbtest::ReadFileBytes(f2) == want);
}

#ifndef _WIN32
// Bytes lost once are lost for good: a stream that failed to write keeps
// failing, even when the disk has room again, so no caller believes a file
// with a hole in it is whole.
TEST(OsFiles, AWriteStreamThatFailedOnceStaysFailed) {
  TempDir dir;
  qbtest::CDiskLimit disk(1000);
  for (size_t size : {5000, 200000}) {  // through the buffer, and past it
    os::CWriteStream out;
    ASSERT_TRUE(out.Open(dir / ("f" + std::to_string(size))));
    ASSERT_TRUE(disk.Fill());
    std::string bytes(size, 'b');
    out.Write(bytes.data(), bytes.size());
    int flushed = out.Flush();
    disk.Lift();
    int wroteMore = out.Write("x", 1);
    int flushedAgain = out.Flush();
    EXPECT_FALSE(flushed) << size;
    EXPECT_FALSE(wroteMore) << size;
    EXPECT_FALSE(flushedAgain) << size;
    EXPECT_FALSE(out.Close()) << size;
  }
}

// A save the disk cannot hold reports failure, leaves the file that was there
// as it was, and leaves no half-written file behind under any name.
// A close the system refuses is a failed save, though the handle is given back.
#ifndef _WIN32
// errno is only read after a call failed: one left over from an earlier
// interrupted call does not make a read that worked go round again.
TEST(OsFiles, ALeftOverInterruptDoesNotRepeatARead) {
  TempDir dir;
  qbtest::WriteFileBytes(dir / "a", "abc");
  std::string bytes;
  errno = EINTR;
  EXPECT_TRUE(os::ReadWholeFile(dir / "a", bytes));
  EXPECT_EQ("abc", bytes);
  // Nor does it turn the end of the file into a read that never ends.
  os::CReadStream in;
  ASSERT_TRUE(in.Open(dir / "a"));
  char buf[10];
  errno = EINTR;
  EXPECT_EQ(3u, in.Read(buf, sizeof buf));
  EXPECT_EQ(0u, in.Read(buf, sizeof buf));
  // A file that grew while open is read to its new end; nothing is left then,
  // not a count run below zero.
  qbtest::WriteFileBytes(dir / "a", "abcdef");
  EXPECT_EQ(3u, in.Read(buf, sizeof buf));
  EXPECT_EQ(0u, in.Remaining());
  // One that shrank gives what it still holds, down to its last byte.
  ASSERT_TRUE(in.Open(dir / "a"));
  qbtest::WriteFileBytes(dir / "a", "z");
  EXPECT_EQ(1u, in.Read(buf, 2));
  EXPECT_EQ('z', buf[0]);
  // Small reads are served from one block read ahead: bytes changed on disk
  // after the first small read are not seen by the next one.
  qbtest::WriteFileBytes(dir / "c", "xyz");
  os::CReadStream ahead;
  ASSERT_TRUE(ahead.Open(dir / "c"));
  ASSERT_EQ(1u, ahead.Read(buf, 1));
  qbtest::WriteFileBytes(dir / "c", "XYZ");
  ASSERT_EQ(2u, ahead.Read(buf, 2));
  EXPECT_EQ("yz", std::string(buf, 2));
  // Nor a write that worked.
  os::CWriteStream out;
  ASSERT_TRUE(out.Open(dir / "b"));
  ASSERT_TRUE(out.Write("def", 3));
  errno = EINTR;
  EXPECT_TRUE(out.Close());
  EXPECT_EQ("def", qbtest::ReadFileBytes(dir / "b"));
}
#endif

// A stream with nothing open touches no file: not even a flush is tried.
static int g_stepsAsked = 0;
#ifdef __linux__
// Every fsync of this program passes here first, so a test can see what was
// made durable: each descriptor's file as the system names it.
static std::vector<std::string>* g_synced = nullptr;
extern "C" int fsync(int fd) {
  if (g_synced) {
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target);
    g_synced->push_back(n > 0 ? std::string(target, (size_t)n) : "?");
  }
  return (int)syscall(SYS_fsync, fd);
}

// A whole-file write is durable before it counts as done: the new bytes under
// their temporary name, then the folder that now holds the final name.
TEST(OsFiles, AReplacedFileAndItsFolderReachTheDisk) {
  TempDir dir;
  std::string file = os::NativePath(dir / "a.txt"), folder = file.substr(0, file.rfind('/'));
  std::vector<std::string> synced;
  g_synced = &synced;
  int ok = os::WriteWholeFile(dir / "a.txt", "data");
  g_synced = nullptr;
  ASSERT_EQ(1, ok);
  EXPECT_EQ((std::vector<std::string>{file + ".tmp~", folder}), synced);
}
#endif

TEST(OsFiles, AStreamWithNothingOpenAsksForNoStep) {
  TempDir dir;
  g_stepsAsked = 0;
  os::SetFileStepHook([](os::FileStep, const std::string&) { return ++g_stepsAsked, 1; });
  os::CWriteStream out;
  int before = out.Flush();
  ASSERT_TRUE(out.Open(dir / "s.bin"));
  ASSERT_TRUE(out.Write("abc", 3));
  ASSERT_TRUE(out.Close());
  int askedWhileOpen = g_stepsAsked;
  int after = out.Flush(), closedAgain = out.Close();
  os::SetFileStepHook(nullptr);
  EXPECT_EQ(0, before);
  EXPECT_EQ(0, after);
  EXPECT_EQ(0, closedAgain);
  EXPECT_LT(0, askedWhileOpen);
  EXPECT_EQ(askedWhileOpen, g_stepsAsked) << "nothing asked once closed";
  EXPECT_EQ("abc", qbtest::ReadFileBytes(dir / "s.bin"));
}

TEST(OsFiles, ARefusedCloseIsAFailure) {
  TempDir dir;
  os::CWriteStream out;
  ASSERT_TRUE(out.Open(dir / "c.bin"));
  ASSERT_TRUE(out.Write("abc", 3));
  os::SetFileStepHook([](os::FileStep step, const std::string&) { return step == os::FileStep::Close ? 0 : 1; });
  int closed = out.Close();
  os::SetFileStepHook(nullptr);
  EXPECT_EQ(0, closed);
  EXPECT_EQ(0, out.Close()) << "nothing is left open";
  EXPECT_EQ("abc", qbtest::ReadFileBytes(dir / "c.bin"));
}

TEST(OsFiles, ASaveThatDoesNotFitChangesNothing) {
  TempDir dir;
  std::string priv = dir / "user.dat", conf = dir / "MyConfig.ini", bak = dir / "MyConfig.bak";
  qbtest::WriteFileBytes(priv, "old private");
  qbtest::WriteFileBytes(conf, "old config");
  qbtest::WriteFileBytes(bak, "old backup");
  qbtest::CDiskLimit disk(1000);
  ASSERT_TRUE(disk.Fill());
  std::string big(5000, 'n');
  int savedPrivate = os::WritePrivateFile(priv, big);
  int savedReplacing = os::SaveFileReplacing(conf, bak, big);
  disk.Lift();
  EXPECT_EQ(0, savedPrivate);
  EXPECT_EQ("old private", qbtest::ReadFileBytes(priv));
  EXPECT_FALSE(os::FileExists(priv + ".tmp~"));
  EXPECT_EQ(0, savedReplacing);
  EXPECT_EQ("old config", qbtest::ReadFileBytes(conf));
  EXPECT_EQ("old backup", qbtest::ReadFileBytes(bak));
  EXPECT_FALSE(os::FileExists(conf + ".new"));
  // Exactly as much as fits is saved, the previous text becoming the backup.
  ASSERT_TRUE(disk.Fill());
  int savedFitting = os::SaveFileReplacing(conf, bak, std::string(1000, 's'));
  disk.Lift();
  EXPECT_EQ(1, savedFitting);
  EXPECT_EQ(std::string(1000, 's'), qbtest::ReadFileBytes(conf));
  EXPECT_EQ("old config", qbtest::ReadFileBytes(bak));
}
#endif

namespace {
int g_failStep = 0, g_stepsSeen = 0;
int FailOneStep(os::FileStep, const std::string&) { return ++g_stepsSeen != g_failStep; }
}  // namespace

// A save whose one file step fails (a write, flush, close or rename the system
// refuses) says so, leaves the file as it was and nothing of its own behind;
// the program goes on, unlike a crash, and may save again at once.
TEST(OsFiles, ASaveWithAFailedStepChangesNothingAndLeavesNothing) {
  TempDir dir;
  std::string file = dir / "f.dat", bak = dir / "f.bak";
  struct Save { const char* name; std::function<int()> run; bool backup; };
  std::vector<Save> saves = {
      {"whole", [&] { return os::WriteWholeFile(file, "new"); }, false},
      {"private", [&] { return os::WritePrivateFile(file, "new"); }, false},
      {"replacing", [&] { return os::SaveFileReplacing(file, bak, "new"); }, true},
  };
  for (const Save& save : saves) {
    int steps = 0;
    for (int n = 1;; ++n) {
      qbtest::WriteFileBytes(file, "old");
      qbtest::WriteFileBytes(bak, "older");
      g_failStep = n;
      g_stepsSeen = 0;
      os::SetFileStepHook(FailOneStep);
      int saved = save.run();
      os::SetFileStepHook(nullptr);
      bool failed = g_stepsSeen >= n;
      if (!failed) {
        EXPECT_EQ(1, saved) << save.name;
        EXPECT_EQ("new", qbtest::ReadFileBytes(file)) << save.name;
        EXPECT_EQ(save.backup ? "old" : "older", qbtest::ReadFileBytes(bak)) << save.name;
        steps = n - 1;
        break;
      }
      EXPECT_EQ(0, saved) << save.name << " step " << n;
      EXPECT_EQ("old", qbtest::ReadFileBytes(file)) << save.name << " step " << n;
      EXPECT_FALSE(os::FileExists(file + ".tmp~")) << save.name << " step " << n;
      EXPECT_FALSE(os::FileExists(file + ".new")) << save.name << " step " << n;
      if (n > 20) break;
    }
    EXPECT_GE(steps, 2) << save.name << ": the contents and the move at least";
  }
  // A removal the system refuses is no removal.
  qbtest::WriteFileBytes(file, "old");
  g_failStep = 1;
  g_stepsSeen = 0;
  os::SetFileStepHook(FailOneStep);
  int removed = os::RemoveFile(file);
  os::SetFileStepHook(nullptr);
  EXPECT_EQ(0, removed);
  EXPECT_TRUE(os::FileExists(file));
  // A first save, with only an older backup there, that fails leaves that
  // backup as the backup: it is not put in the file's place.
  for (int n = 1; n <= 20; ++n) {
    os::RemoveFile(file);
    qbtest::WriteFileBytes(bak, "older");
    g_failStep = n;
    g_stepsSeen = 0;
    os::SetFileStepHook(FailOneStep);
    int saved = os::SaveFileReplacing(file, bak, "new");
    os::SetFileStepHook(nullptr);
    if (g_stepsSeen < n) {
      EXPECT_EQ(1, saved);
      EXPECT_EQ("new", qbtest::ReadFileBytes(file));
      EXPECT_GE(n, 3) << "the contents and the move at least";
      break;
    }
    EXPECT_EQ(0, saved) << "step " << n;
    EXPECT_FALSE(os::FileExists(file)) << "step " << n;
    EXPECT_EQ("older", qbtest::ReadFileBytes(bak)) << "step " << n;
  }
}

namespace {
int g_diskWrites = 0;
int CountWrites(os::FileStep step, const std::string&) {
  if (step == os::FileStep::Write) ++g_diskWrites;
  return 1;
}
}  // namespace

// Small pieces are gathered and reach the disk in one write; a piece larger
// than the buffer goes in one write of its own, after what was gathered.
// A new file left by a save that ended early is taken when the file is
// missing and the check says it is whole; never over an existing file.
TEST(OsFiles, ALeftNewFileIsTakenOnlyWholeAndOnlyForAMissingFile) {
  TempDir dir;
  std::string f = dir / "d.dat";
  auto whole = [](const std::string& bytes) { return bytes == "whole"; };
  qbtest::WriteFileBytes(f + ".new", "half");
  EXPECT_EQ(0, os::TakeCompleteNewFile(f, whole));
  EXPECT_FALSE(os::FileExists(f));
  qbtest::WriteFileBytes(f + ".new", "whole");
  qbtest::WriteFileBytes(f, "current");
  EXPECT_EQ(0, os::TakeCompleteNewFile(f, whole));
  EXPECT_EQ("current", qbtest::ReadFileBytes(f));
  ASSERT_TRUE(os::RemoveFile(f));
  EXPECT_EQ(1, os::TakeCompleteNewFile(f, whole));
  EXPECT_EQ("whole", qbtest::ReadFileBytes(f));
  EXPECT_FALSE(os::FileExists(f + ".new"));
  EXPECT_EQ(0, os::TakeCompleteNewFile(f, whole)) << "nothing left to take";
}

TEST(OsFiles, SmallWritesReachTheDiskTogether) {
  TempDir dir;
  os::CWriteStream out;
  ASSERT_TRUE(out.Open(dir / "w.bin"));
  g_diskWrites = 0;
  os::SetFileStepHook(CountWrites);
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    out.Write("0123456789", 10);
    expected += "0123456789";
  }
  int smallWrites = g_diskWrites;
  std::string big(70000, 'B');
  out.Write(big.data(), big.size());
  int afterBig = g_diskWrites;
  out.Write("tail", 4);
  EXPECT_EQ(1, out.Close()) << "1 when every byte reached the file";
  os::SetFileStepHook(nullptr);
  EXPECT_EQ(0, smallWrites) << "10,000 bytes wait in the buffer";
  EXPECT_EQ(2, afterBig) << "the gathered bytes, then the large piece";
  EXPECT_EQ(3, g_diskWrites) << "the tail at the close";
  EXPECT_EQ(expected + big + "tail", qbtest::ReadFileBytes(dir / "w.bin"));
  // Opening another file saves what the stream held for the first.
  ASSERT_TRUE(out.Open(dir / "a.txt"));
  out.Write("first", 5);
  ASSERT_TRUE(out.Open(dir / "b.txt"));
  out.Write("second", 6);
  EXPECT_TRUE(out.Close());
  EXPECT_EQ("first", qbtest::ReadFileBytes(dir / "a.txt"));
  EXPECT_EQ("second", qbtest::ReadFileBytes(dir / "b.txt"));
  {
    os::CWriteStream dropped;
    ASSERT_TRUE(dropped.Open(dir / "c.txt"));
    dropped.Write("kept", 4);
  }
  EXPECT_EQ("kept", qbtest::ReadFileBytes(dir / "c.txt")) << "a stream let go without a close still saves";
  // The buffer holds 64 KiB: filled to the byte it still waits, and one byte more sends it.
  {
    os::CWriteStream full;
    ASSERT_TRUE(full.Open(dir / "full.bin"));
    g_diskWrites = 0;
    os::SetFileStepHook(CountWrites);
    std::string piece(65526, 'f');
    full.Write(piece.data(), piece.size());
    full.Write("0123456789", 10);
    int whenFull = g_diskWrites;
    full.Write("x", 1);
    int oneMore = g_diskWrites;
    EXPECT_TRUE(full.Close());
    os::SetFileStepHook(nullptr);
    EXPECT_EQ(0, whenFull);
    EXPECT_EQ(1, oneMore);
    EXPECT_EQ(65537, os::FileSize(dir / "full.bin"));
  }
  // A write the disk refuses fails, and so do every later write and the close.
  os::SetFileStepHook([](os::FileStep step, const std::string&) { return step == os::FileStep::Write ? 0 : 1; });
  std::string large(65536, 'r');
  int gathered = -1, flushRefused = -1, later = -1, closed = -1, largeRefused = -1, largeClosed = -1;
  {
    os::CWriteStream a, b;
    if (a.Open(dir / "r1.bin")) {
      gathered = a.Write("abc", 3);
      flushRefused = a.Write(large.data(), large.size());
      later = a.Write("x", 1);
      closed = a.Close();
    }
    if (b.Open(dir / "r2.bin")) {
      large += 'r';  // over the buffer's 64 KiB: it goes to the disk at once
      largeRefused = b.Write(large.data(), large.size());
      largeClosed = b.Close();
    }
  }
  os::SetFileStepHook(nullptr);
  EXPECT_EQ(1, gathered);
  EXPECT_EQ(0, flushRefused);
  EXPECT_EQ(0, later);
  EXPECT_EQ(0, closed);
  EXPECT_EQ(0, largeRefused) << "a large piece with nothing gathered before it";
  EXPECT_EQ(0, largeClosed);
}

// A save is not lost to a reader that has the file open at that moment
// (the program's own loads, a second copy of it, a test looking at the
// file): the reader goes on reading what it opened, and the save lands.
TEST(OsFiles, ASaveLandsWhileTheFileIsBeingRead) {
  TempDir dir;
  std::string fav = dir / "我的收藏.sc", bak = dir / "上次收藏.bak", conf = dir / "MyConfig.ini";
  qbtest::WriteFileBytes(fav, "old favorites");
  qbtest::WriteFileBytes(conf, "old config");
  {
    os::CReadStream reading;
    ASSERT_TRUE(reading.Open(fav));
    EXPECT_EQ(1, os::SaveFileReplacing(fav, bak, "new favorites"));
    std::string got(13, '\0');
    EXPECT_EQ(13u, reading.Read(&got[0], got.size()));
    EXPECT_EQ("old favorites", got);
  }
  EXPECT_EQ("new favorites", qbtest::ReadFileBytes(fav));
  EXPECT_EQ("old favorites", qbtest::ReadFileBytes(bak));
  EXPECT_FALSE(os::FileExists(os::NewFileName(fav)));
  // A whole-file write replaces the file in one step; a reader that lets go
  // soon (here after 100 ms) only delays it.
  os::CEvent opened;
  os::CThread reader;
  ASSERT_TRUE(reader.Start([&] {
    os::CReadStream r;
    if (r.Open(conf)) {
      opened.Set();
      os::SleepMs(100);
    }
  }));
  ASSERT_TRUE(opened.Wait(60000));
  EXPECT_EQ(1, os::WriteWholeFile(conf, "new config"));
  EXPECT_TRUE(reader.Join());
  EXPECT_EQ("new config", qbtest::ReadFileBytes(conf));
  EXPECT_FALSE(os::FileExists(conf + ".tmp~"));
}

#ifdef _WIN32
// Another program holding the file without sharing it (a scanner, an
// indexer): a save waits for it a while, and when it does not let go the
// save fails whole: the file and its backup as they were, nothing left over.
TEST(OsFiles, ASaveWaitsForAForeignReaderAndFailsWholeIfItStays) {
  TempDir dir;
  std::string fav = dir / "收藏.sc", bak = dir / "收藏.bak";
  qbtest::WriteFileBytes(fav, "old favorites");
  qbtest::WriteFileBytes(bak, "old backup");
  std::wstring wide(MAX_PATH, L'\0');
  wide.resize(MultiByteToWideChar(936, 0, fav.c_str(), -1, &wide[0], MAX_PATH) - 1);
  auto open = [&] {
    return CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  // Let go after 100 ms: the save lands.
  os::CEvent held;
  os::CThread holder;
  ASSERT_TRUE(holder.Start([&] {
    HANDLE h = open();
    if (h == INVALID_HANDLE_VALUE) return;
    held.Set();
    os::SleepMs(100);
    CloseHandle(h);
  }));
  ASSERT_TRUE(held.Wait(60000));
  EXPECT_EQ(1, os::SaveFileReplacing(fav, bak, "new favorites"));
  EXPECT_TRUE(holder.Join());
  EXPECT_EQ("new favorites", qbtest::ReadFileBytes(fav));
  EXPECT_EQ("old favorites", qbtest::ReadFileBytes(bak));
  // Held for good: the save gives up, changing nothing.
  HANDLE h = open();
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(0, os::SaveFileReplacing(fav, bak, "newer favorites"));
  CloseHandle(h);
  EXPECT_EQ("new favorites", qbtest::ReadFileBytes(fav));
  EXPECT_EQ("old favorites", qbtest::ReadFileBytes(bak));
  EXPECT_FALSE(os::FileExists(os::NewFileName(fav)));
  // A read-only file is not waited for.
  qbtest::WriteFileBytes(dir / "ro.txt", "x");
  std::wstring ro(MAX_PATH, L'\0');
  ro.resize(MultiByteToWideChar(936, 0, (dir / "ro.txt").c_str(), -1, &ro[0], MAX_PATH) - 1);
  ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  uint32_t before = os::TickCount();
  EXPECT_EQ(0, os::RemoveFile(dir / "ro.txt"));
  EXPECT_LT(os::TickCount() - before, 1500u) << "the waiting is for two seconds";
  SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

TEST(OsFolders, ListingPutsDotsFirstAndMatchesLikeWindows) {
  TempDir dir;
  for (const char* n : {"b.url", "a.url", "C.URL", "noext", "收藏.url", "x.sc", "x.url.bak"})
    qbtest::WriteFileBytes(dir / n, "x");
  ASSERT_TRUE(os::CreateFolder(dir / "sub"));

  std::vector<std::string> all = Names(dir.Path(), "*.*");
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0], ".");
  EXPECT_EQ(all[1], "..");
  EXPECT_EQ(all.size(), 10u);

  // Every system lists by name as NTFS does, letters without case, whatever
  // order the disk keeps (Wine and Linux give the file system's own).
  EXPECT_EQ(Names(dir.Path(), "*.url"), (std::vector<std::string>{"a.url", "b.url", "C.URL", "收藏.url"}));

  EXPECT_EQ(Names(dir.Path(), "*."), (std::vector<std::string>{".", "..", "noext", "sub"}));
  EXPECT_EQ(Names(dir.Path(), "*.sc"), (std::vector<std::string>{"x.sc"}));

  std::vector<os::DirEntry> none;
  EXPECT_FALSE(os::ListFolder(dir / "missing", "*.*", none));

  // Entries say what they are: folders with size 0, files with their size.
  qbtest::WriteFileBytes(dir / "x.sc", std::string(70000, 's'));
  std::vector<os::DirEntry> entries;
  ASSERT_EQ(1, os::ListFolder(dir.Path(), "*.*", entries));
  for (const os::DirEntry& e : entries) {
    bool folder = e.name == "." || e.name == ".." || e.name == "sub";
    EXPECT_EQ(folder, e.isFolder) << e.name;
    EXPECT_EQ(e.name == "x.sc" ? 70000 : folder ? 0 : 1, e.size) << e.name;
  }
#ifndef _WIN32
  // A link to nothing is listed as a plain empty file.
  ASSERT_EQ(0, symlink("/nonexistent/target", os::NativePath(dir / "dangling").c_str()));
  ASSERT_TRUE(os::ListFolder(dir.Path(), "dangling", entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_FALSE(entries[0].isFolder);
  EXPECT_EQ(0, entries[0].size);
#endif
}

TEST(OsSockets, ASocketNotOpenRefusesEverything) {
  os::CUdpSocket s;
  char buf[4];
  uint32_t from = 0;
  uint16_t port = 0;
  EXPECT_FALSE(s.IsOpen());
  EXPECT_EQ(0, s.Bind(0, 0));
  EXPECT_EQ(0, s.SendTo("x", 1, 0x0100007F, 9));
  EXPECT_EQ(-1, s.WaitReadable(0));
  EXPECT_EQ(-1, s.ReceiveFrom(buf, sizeof buf, from, port));
  EXPECT_EQ(0, s.LocalPort());
}

#ifndef _WIN32
// A closed socket lets go of its descriptor once: a second close (or the
// object's end) does not close whatever the system gave that number to next.
TEST(OsSockets, AClosedSocketLetsGoOfItsDescriptorOnce) {
  int other = -1;
  {
    os::CUdpSocket s;
    ASSERT_TRUE(s.Open());
    s.Close();
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(0, s.SendTo("x", 1, 0x0100007F, 9));
    other = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    s.Close();
  }
  EXPECT_NE(-1, fcntl(other, F_GETFD)) << "the next file's descriptor is still open";
  close(other);
}
#endif

// Addresses are handed around with the first octet in the low byte.
TEST(OsSockets, HostNamesResolveToIpv4Addresses) {
  EXPECT_EQ(0x0403027Fu, os::ResolveHost("127.2.3.4"));
  EXPECT_EQ(0xFE0000C0u, os::ResolveHost("192.0.0.254"));
  EXPECT_EQ(0x0100007Fu, os::ResolveHost("localhost"));
  EXPECT_EQ(0u, os::ResolveHost(""));
  EXPECT_EQ(0u, os::ResolveHost("a..b")) << "a name no query can carry";
  EXPECT_EQ(0u, os::ResolveHost("0.0.0.0")) << "the one address that reads as none";
  // A datagram to 127.0.0.1 arrives from it, by the same numbering.
  os::CUdpSocket a, b;
  ASSERT_TRUE(a.Open() && b.Open());
  ASSERT_TRUE(a.Bind(0x0100007F, 0));
  ASSERT_TRUE(b.Bind(0x0100007F, 0));
  EXPECT_EQ(0, b.WaitReadable(0)) << "nothing waiting is a time-out, not an error";
  EXPECT_EQ(0, b.WaitReadable(20));
  // A wait without end lasts until the datagram comes.
  os::CThread later;
  ASSERT_TRUE(later.Start([&] {
    os::SleepMs(50);
    a.SendTo("hi", 2, os::ResolveHost("127.0.0.1"), b.LocalPort());
  }));
  ASSERT_EQ(1, b.WaitReadable(os::kWaitForever));
  later.Join();
  char buf[4];
  uint32_t from = 0;
  uint16_t port = 0;
  EXPECT_EQ(2, b.ReceiveFrom(buf, sizeof buf, from, port));
  EXPECT_EQ(0x0100007Fu, from);
  EXPECT_EQ(a.LocalPort(), port);
#ifndef _WIN32
  // An empty datagram is one: no bytes, from its sender.
  port = 0;
  ASSERT_TRUE(a.SendTo("", 0, 0x0100007F, b.LocalPort()));
  ASSERT_EQ(1, b.WaitReadable(os::kWaitForever));
  EXPECT_EQ(0, b.ReceiveFrom(buf, sizeof buf, from, port));
  EXPECT_EQ(a.LocalPort(), port);
  // A wait the system refuses outright (here: not even one descriptor
  // allowed) is an error, not a time-out.
  struct rlimit old;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &old));
  struct rlimit none = old;
  none.rlim_cur = 0;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &none));
  int refused = b.WaitReadable(0);
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(-1, refused);
  // A receive the system refuses (here: no room to put the datagram) is an
  // error, not an empty datagram.
  ASSERT_TRUE(a.SendTo("hi", 2, 0x0100007F, b.LocalPort()));
  ASSERT_EQ(1, b.WaitReadable(os::kWaitForever));
  EXPECT_EQ(-1, b.ReceiveFrom(nullptr, sizeof buf, from, port));
#endif
}

#ifndef _WIN32
// With every descriptor taken, opening a socket fails and leaves it closed.
TEST(OsSockets, OpeningWithNoDescriptorLeftFails) {
  struct rlimit old;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &old));
  struct rlimit few = old;
  few.rlim_cur = 64;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &few));
  std::vector<int> taken;
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
  int opened = -1, isOpen = -1;
  {
    os::CUdpSocket s;
    opened = s.Open();
    isOpen = s.IsOpen();
  }
  for (int fd : taken) close(fd);
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(0, opened);
  EXPECT_EQ(0, isOpen);
}
#endif

#ifndef _WIN32
// Descriptor 0 is a socket like any other: a program started with its
// standard input closed gets it for its first socket.
TEST(OsSockets, ASocketOnDescriptorZeroWorks) {
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  int opened = 0, onZero = 0, isOpen = 0, sent = 0, readable = -1, got = -1;
  uint32_t from = 0;
  uint16_t port = 0, local = 0;
  char buf[8] = {0};
  {
    os::CUdpSocket s;
    opened = s.Open();
    onZero = fcntl(0, F_GETFD) != -1;
    isOpen = s.IsOpen();
    s.Bind(0x0100007F, 0);
    local = s.LocalPort();
    sent = s.SendTo("zero", 4, 0x0100007F, local);
    readable = s.WaitReadable(5000);
    got = s.ReceiveFrom(buf, sizeof buf, from, port);
  }
  bool closed = fcntl(0, F_GETFD) == -1;
  dup2(saved, 0);
  close(saved);
  ASSERT_TRUE(opened);
  ASSERT_TRUE(onZero);
  EXPECT_TRUE(isOpen);
  EXPECT_NE(0, local);
  EXPECT_TRUE(sent);
  EXPECT_EQ(1, readable);
  EXPECT_EQ(4, got);
  EXPECT_EQ("zero", std::string(buf, 4));
  EXPECT_EQ(0x0100007Fu, from);
  EXPECT_EQ(local, port);
  EXPECT_TRUE(closed) << "the socket on descriptor 0 is closed with the object";
}
#endif

#ifndef _WIN32
// A signal that cuts a wait short is no error: the wait answers "nothing yet".
TEST(OsSockets, ASignalDuringAWaitIsNoError) {
  struct sigaction onSignal = {}, saved = {};
  onSignal.sa_handler = [](int) {};
  sigaction(SIGUSR1, &onSignal, &saved);  // no SA_RESTART: the wait ends with EINTR
  os::CUdpSocket s;
  ASSERT_TRUE(s.Open() && s.Bind(0x0100007F, 0));
  std::atomic<bool> done{false};
  pthread_t waiter = pthread_self();
  os::CThread kicker;
  kicker.Start([&] {
    while (!done) {
      os::SleepMs(20);
      if (!done) pthread_kill(waiter, SIGUSR1);
    }
  });
  uint32_t t0 = os::TickCount();
  int r = s.WaitReadable(10000);
  done = true;
  kicker.Join();
  sigaction(SIGUSR1, &saved, nullptr);
  EXPECT_EQ(0, r);
  EXPECT_LT(os::TickCount() - t0, 9000u) << "the signal came during the wait";
}

namespace {
using qbtest::CLoopbackHttp;
using qbtest::HttpReply;

std::string Body(std::unique_ptr<os::CHttpStream>& s, size_t piece) {
  std::string body;
  char buf[7];
  long n;
  while (s && (n = s->Read(buf, piece)) > 0) body.append(buf, (size_t)n);
  return body;
}
}  // namespace

// An IPv6 literal in brackets names the host without them, with or without a port.
TEST(OsHttp, AnIpv6LiteralIsAHost) {
  // Once on a port of the system's choosing, named in the address; once on
  // port 80, left out of it (skipped where port 80 is taken or not ours).
  for (uint16_t want : {(uint16_t)0, (uint16_t)80}) {
    CLoopbackHttp a("HTTP/1.0 200 OK\r\n\r\nsix by", CLoopbackHttp::Options{want, true, false});
    if (!a.Listening()) {
      if (want == 0) GTEST_SKIP() << "no IPv6 loopback here";
      continue;
    }
    std::string host = want ? "[::1]" : "[::1]:" + std::to_string(a.Port());
    std::unique_ptr<os::CHttpStream> s = os::HttpOpen("http://" + host + "/a.ico", "Agent", "");
    ASSERT_TRUE(s) << host;
    EXPECT_EQ("six by", Body(s, 16));
    EXPECT_NE(std::string::npos, a.LastRequest().find("Host: " + host + "\r\n")) << a.LastRequest();
  }
}

// The web client's connection may get descriptor 0 as well.
TEST(OsHttp, AConnectionOnDescriptorZeroWorks) {
  CLoopbackHttp a("HTTP/1.0 200 OK\r\n\r\nzero");
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  std::unique_ptr<os::CHttpStream> s = os::HttpOpen(a.Base() + "/", "A", "");
  bool onZero = fcntl(0, F_GETFD) != -1;
  std::string body = Body(s, 7);
  s.reset();
  dup2(saved, 0);
  close(saved);
  EXPECT_TRUE(onZero);
  EXPECT_EQ("zero", body);
  EXPECT_EQ(1, a.Answered());
}

// An address without a port goes to the web's own port, 80. Listening there
// takes the right to; without it there is nothing to check.
TEST(OsHttp, AnAddressWithoutAPortGoesToPort80) {
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  int reuse = 1;
  setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  struct sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(80);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool free80 = bind(probe, (struct sockaddr*)&sa, sizeof sa) == 0;
  close(probe);
  if (!free80) GTEST_SKIP() << "port 80 is taken or not ours to listen on";
  CLoopbackHttp a("HTTP/1.0 200 OK\r\n\r\neighty", CLoopbackHttp::Options{80, false, false});
  ASSERT_EQ(80, a.Port());
  std::unique_ptr<os::CHttpStream> s = os::HttpOpen("http://127.0.0.1/x", "A", "");
  EXPECT_EQ("eighty", Body(s, 7));
  s.reset();
  EXPECT_EQ(0u, a.LastRequest().find("GET /x HTTP/1.0\r\nHost: 127.0.0.1\r\n")) << a.LastRequest();
}

TEST(OsHttp, TheRequestAndTheAnswerAsTheWireHasThem) {
  {
    CLoopbackHttp a("HTTP/1.1 200 OK\nServer: lf-only\n\nbody after bare line ends");
    std::unique_ptr<os::CHttpStream> s = os::HttpOpen(a.Base() + "/p/q?x=1#part", "Agent/1", "X-A: 1\r\n\r\n");
    EXPECT_EQ("body after bare line ends", Body(s, 1)) << "read a byte at a time";
    s.reset();
    EXPECT_EQ("GET /p/q?x=1 HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(a.Port()) +
                  "\r\nUser-Agent: Agent/1\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
                  "Connection: close\r\nX-A: 1\r\n\r\n",
              a.LastRequest());
  }
  {
    CLoopbackHttp a("HTTP/1.0 200 OK\r\n\r\n");
    std::unique_ptr<os::CHttpStream> s = os::HttpOpen(a.Base(), "A", "");
    EXPECT_TRUE(s);
    s.reset();
    EXPECT_EQ(0u, a.LastRequest().find("GET / HTTP/1.0\r\n")) << "no path asks for the root";
  }
  {
    // Headers that are only the blank line add nothing: the head ends once.
    CLoopbackHttp a("HTTP/1.0 200 OK\r\n\r\n");
    std::unique_ptr<os::CHttpStream> s = os::HttpOpen(a.Base() + "/", "A", "\r\n");
    EXPECT_TRUE(s);
    s.reset();
    EXPECT_EQ("GET / HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(a.Port()) +
                  "\r\nUser-Agent: A\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n",
              a.LastRequest());
  }
  {
    CLoopbackHttp a("HTTP/1.0 200 OK\r\nContent-Type: image/x-icon\r\n");
    EXPECT_FALSE(os::HttpOpen(a.Base() + "/", "A", "")) << "a head cut short by the hang-up";
    EXPECT_EQ(1, a.Requests()) << "the request went out, the answer was refused";
  }
  {
    // The head's last byte arriving on its own ends the head, not the answer.
    CLoopbackHttp a(HttpReply("HTTP/1.0 200 OK\r\n\r", "\n"));
    std::unique_ptr<os::CHttpStream> s = os::HttpOpen(a.Base() + "/", "A", "");
    EXPECT_TRUE(s);
    EXPECT_EQ("", Body(s, 7));
  }
  {
    CLoopbackHttp a("SSH-2.0-other\r\n\r\n");
    EXPECT_FALSE(os::HttpOpen(a.Base() + "/", "A", "")) << "not an HTTP answer";
    EXPECT_EQ(1, a.Requests());
  }
  {
    // A head that never ends is given up after 64 KiB, without waiting for the hang-up.
    CLoopbackHttp a(HttpReply("HTTP/1.0 200 OK\r\n" + std::string(70000, 'h'), "", HttpReply::End::kHoldOpen));
    uint32_t t0 = os::TickCount();
    EXPECT_FALSE(os::HttpOpen(a.Base() + "/", "A", ""));
    EXPECT_LT(os::TickCount() - t0, 5000u);
    EXPECT_EQ(1, a.Requests());
  }
  {
    // The limit is 64 KiB exactly: one byte over it, held open, is given up at once...
    CLoopbackHttp a(HttpReply("HTTP/1.0 200 OK\r\n" + std::string(65537 - 17, 'h'), "", HttpReply::End::kHoldOpen));
    uint32_t t0 = os::TickCount();
    EXPECT_FALSE(os::HttpOpen(a.Base() + "/", "A", ""));
    EXPECT_LT(os::TickCount() - t0, 5000u);
    EXPECT_EQ(1, a.Requests());
  }
  {
    // ...while a head whose blank line ends on the byte after 64 KiB is still
    // read: never more than 64 KiB were held without its end.
    CLoopbackHttp a("HTTP/1.0 200 OK\r\nX: " + std::string(65537 - 4 - 20, 'h') + "\r\n\r\nbody");
    std::unique_ptr<os::CHttpStream> s = os::HttpOpen(a.Base() + "/", "A", "");
    EXPECT_EQ("body", Body(s, 7));
  }
  {
    // A connection reset after the head is an error, not the end of the body.
    os::CEvent opened;
    CLoopbackHttp a(HttpReply("HTTP/1.0 200 OK\r\n\r\n", "", HttpReply::End::kReset, &opened));
    std::unique_ptr<os::CHttpStream> s = os::HttpOpen(a.Base() + "/", "A", "");
    ASSERT_TRUE(s);
    char none[1];
    EXPECT_EQ(0, s->Read(none, 0)) << "a read of nothing reads nothing";
    opened.Set();
    a.WaitClosed(1, 10000);
    char buf[8];
    EXPECT_EQ(-1, s->Read(buf, sizeof buf));
  }
  EXPECT_FALSE(os::HttpOpen("ftp://127.0.0.1/", "A", ""));
  EXPECT_FALSE(os::HttpOpen("http:///x", "A", ""));
}
#endif

TEST(OsThreads, AThreadRunsUntilItsBodyEndsAndJoinWaitsForIt) {
  os::CThread idle;
  EXPECT_FALSE(idle.IsRunning());
  EXPECT_EQ(1, idle.Join(0)) << "a thread that never ran has ended";
  os::CEvent go;
  os::CThread t;
  EXPECT_EQ(1, t.Start([&] { go.Wait(60000); })) << "1, as every call of this layer answers success";
  EXPECT_TRUE(t.IsRunning());
  EXPECT_FALSE(t.Join(50)) << "still waiting for the event";
  EXPECT_TRUE(t.IsRunning());
  go.Set();
  EXPECT_EQ(1, t.Join());
  EXPECT_FALSE(t.IsRunning());
  EXPECT_EQ(1, t.Join(0)) << "joined once, done for good";
  // One body at a time: a second start is refused while the first runs, and
  // the thread can start again once joined.
  os::CEvent again;
  int ran = 0;
  ASSERT_TRUE(t.Start([&] { again.Wait(60000); ++ran; }));
  EXPECT_FALSE(t.Start([&] { ran += 10; }));
  EXPECT_FALSE(t.Join(50)) << "the second run waits as the first did";
  again.Set();
  EXPECT_TRUE(t.Join());
  EXPECT_EQ(1, ran);
  // A body that has ended is no longer running, joined or not.
  ASSERT_TRUE(t.Start([&] { ++ran; }));
  for (int i = 0; i < 500 && t.IsRunning(); ++i) os::SleepMs(10);
  EXPECT_FALSE(t.IsRunning());
  EXPECT_FALSE(t.Start([&] { ran += 10; })) << "not before it is joined";
  EXPECT_TRUE(t.Join(0));
  EXPECT_EQ(2, ran);
  // A thread object that goes away waits for its body first.
  std::atomic<int> finished{0};
  {
    os::CThread brief;
    ASSERT_TRUE(brief.Start([&] {
      os::SleepMs(50);
      finished = 1;
    }));
  }
  EXPECT_EQ(1, finished.load());
}

TEST(OsThreads, AMutexIsHeldByOneThreadAtATime) {
  os::CMutex m;
  ASSERT_EQ(1, m.Lock());
  int other = -1, later = -1;
  os::CThread t;
  ASSERT_TRUE(t.Start([&] { other = m.Lock(50); }));
  ASSERT_TRUE(t.Join());
  m.Unlock();
  ASSERT_TRUE(t.Start([&] {
    later = m.Lock(50);
    if (later) m.Unlock();
  }));
  ASSERT_TRUE(t.Join());
  EXPECT_EQ(0, other) << "held here, so the other thread's wait runs out";
  EXPECT_EQ(1, later);
}

#ifndef _WIN32
// On Linux the folders of the browsers' profiles and the temporary folder
// come from the environment, as program paths.
TEST(OsFolders, TheEnvironmentNamesTheSpecialFolders) {
  const char* names[] = {"LOCALAPPDATA", "APPDATA", "TMPDIR"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* v = getenv(names[i]);
    had[i] = v != nullptr;
    saved[i] = v ? v : "";
  }
  setenv("LOCALAPPDATA", "/home/u/local", 1);
  setenv("APPDATA", "/home/u/roaming", 1);
  setenv("TMPDIR", "/var/tmp/", 1);
  std::string local = os::LocalAppDataFolder(), roaming = os::RoamingAppDataFolder(), temp = os::TempFolder();
  setenv("LOCALAPPDATA", "", 1);
  setenv("APPDATA", "", 1);
  setenv("TMPDIR", "", 1);
  std::string noLocal = os::LocalAppDataFolder(), noRoaming = os::RoamingAppDataFolder(), noTemp = os::TempFolder();
  for (const char* n : names) unsetenv(n);
  std::string unsetLocal = os::LocalAppDataFolder(), unsetRoaming = os::RoamingAppDataFolder(),
              unsetTemp = os::TempFolder();
  for (int i = 0; i < 3; ++i) {
    if (had[i]) setenv(names[i], saved[i].c_str(), 1);
    else unsetenv(names[i]);
  }
  EXPECT_EQ("\\home\\u\\local", local);
  EXPECT_EQ("\\home\\u\\roaming", roaming);
  EXPECT_EQ("\\var\\tmp\\", temp);
  EXPECT_EQ("", noLocal);
  EXPECT_EQ("", noRoaming);
  EXPECT_EQ("\\tmp\\", noTemp);
  EXPECT_EQ("", unsetLocal);
  EXPECT_EQ("", unsetRoaming);
  EXPECT_EQ("\\tmp\\", unsetTemp);
}

// A timed wait lasts its whole time, also when its end falls in the next
// second of the clock (999 ms almost always carries over).
TEST(OsThreads, ATimedWaitIsNeverCutShort) {
  os::CEvent never;
  os::CEvent once;
  once.Set();
  EXPECT_EQ(1, once.Wait(0)) << "a set event answers 1";
  EXPECT_EQ(0, once.Wait(0)) << "and is reset by the wait";
  uint32_t t0 = os::TickCount();
  EXPECT_EQ(0, never.Wait(999));
  EXPECT_GE(os::TickCount() - t0, 999u);
  os::CThread blocked;
  ASSERT_TRUE(blocked.Start([&] { never.Wait(os::kWaitForever); }));
  t0 = os::TickCount();
  EXPECT_EQ(0, blocked.Join(1000));
  EXPECT_GE(os::TickCount() - t0, 1000u) << "a whole second";
  never.Set();
  EXPECT_TRUE(blocked.Join());
  t0 = os::TickCount();
  os::SleepMs(1000);
  EXPECT_GE(os::TickCount() - t0, 1000u) << "a pause of a whole second";
}
#endif

TEST(OsFiles, ReadOnlyClearedAndPrivateFilesKeptToTheOwner) {
  TempDir dir;
  EXPECT_EQ(0, os::ClearReadOnly(dir / "missing"));
  std::string f = dir / "ro.txt", p = dir / "private.dat";
  qbtest::WriteFileBytes(f, "x");
  ASSERT_TRUE(os::WritePrivateFile(p, "secret"));
  EXPECT_EQ("secret", qbtest::ReadFileBytes(p));
#ifndef _WIN32
  ASSERT_EQ(0, chmod(os::NativePath(f).c_str(), 0444));
  EXPECT_EQ(1, os::ClearReadOnly(f));
  struct stat st;
  ASSERT_EQ(0, stat(os::NativePath(f).c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777u) << "the owner may write; the rest as it was";
  ASSERT_EQ(0, stat(os::NativePath(p).c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777u);
  ASSERT_EQ(0, chmod(os::NativePath(f).c_str(), 0664));
  EXPECT_EQ(1, os::KeepToOwner(f)) << "done is said as done";
  ASSERT_EQ(0, stat(os::NativePath(f).c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777u);
  EXPECT_EQ(0, os::KeepToOwner(dir / "missing"));
  // A temporary left behind as a link is taken away, not written through.
  std::string other = dir / "other.txt";
  qbtest::WriteFileBytes(other, "keep");
  ASSERT_EQ(0, symlink(os::NativePath(other).c_str(), os::NativePath(p + ".tmp~").c_str()));
  ASSERT_TRUE(os::WritePrivateFile(p, "again"));
  EXPECT_EQ("keep", qbtest::ReadFileBytes(other));
  EXPECT_EQ("again", qbtest::ReadFileBytes(p));
  ASSERT_EQ(0, lstat(os::NativePath(p).c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
#endif
}

#ifndef _WIN32
// A program started without standard input gets descriptor 0 for its first file.
TEST(OsFiles, AFileOnDescriptorZeroIsOpen) {
  TempDir dir;
  qbtest::WriteFileBytes(dir / "z.txt", "zero");
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  std::string got(4, '\0');
  int open = 0, onZero = 0;
  size_t read = 0;
  {
    os::CReadStream in;
    open = in.Open(dir / "z.txt") && in.IsOpen();
    onZero = fcntl(0, F_GETFD) != -1;
    read = in.Read(&got[0], 4);
  }
  bool closed = fcntl(0, F_GETFD) == -1;
  // A stream closed by hand lets go of its descriptor once: its end does not
  // close whatever file was given that number next.
  int isOpenAfterClose = -1, other = -1;
  {
    os::CReadStream in;
    in.Open(dir / "z.txt");
    in.Close();
    isOpenAfterClose = in.IsOpen();
    other = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  bool otherKept = fcntl(other, F_GETFD) != -1;
  close(other);
  dup2(saved, 0);
  close(saved);
  EXPECT_TRUE(open);
  EXPECT_TRUE(onZero);
  EXPECT_EQ(4u, read);
  EXPECT_EQ("zero", got);
  EXPECT_TRUE(closed) << "closed with the stream";
  EXPECT_EQ(0, isOpenAfterClose);
  EXPECT_EQ(0, other);
  EXPECT_TRUE(otherKept);
}

// Nor does a whole-file save that gets descriptor 0 for its file and then for
// its folder keep either open.
TEST(OsFiles, ASaveOnDescriptorZeroKeepsNothingOpen) {
  TempDir dir;
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  int wrote = os::WriteWholeFile(dir / "z.txt", "zero");
  bool closed = fcntl(0, F_GETFD) == -1;
  dup2(saved, 0);
  close(saved);
  EXPECT_TRUE(wrote);
  EXPECT_EQ("zero", qbtest::ReadFileBytes(dir / "z.txt"));
  EXPECT_TRUE(closed);
}

TEST(OsFolders, ListingGivesBackItsHandle) {
  TempDir dir;
  auto openHandles = [] {
    std::vector<os::DirEntry> fds;
    EXPECT_TRUE(os::ListFolder(os::ProgramPath("/proc/self/fd"), "*", fds));
    return fds.size();
  };
  size_t before = openHandles();
  std::vector<os::DirEntry> entries;
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(os::ListFolder(dir.Path(), "*", entries));
  EXPECT_EQ(before, openHandles());
}
#endif

TEST(OsFolders, PatternRules) {
  EXPECT_TRUE(os::MatchPattern("A.Url", "*.url"));
  EXPECT_FALSE(os::MatchPattern("a.urlx", "*.url"));
  EXPECT_TRUE(os::MatchPattern("noext", "*.*"));
  EXPECT_FALSE(os::MatchPattern("a.b", "*."));
  EXPECT_TRUE(os::MatchPattern("..", "*."));
  EXPECT_FALSE(os::MatchPattern(".", "*.url"));
  EXPECT_TRUE(os::MatchPattern("a.b.sc", "*.sc"));
  EXPECT_EQ(os::JoinPath("C:\\a\\", "\\b"), "C:\\a\\b");
  EXPECT_EQ(os::JoinPath("C:\\a", "b"), "C:\\a\\b");
  EXPECT_EQ(os::JoinPath("", "\\b"), "\\b") << "no folder: the name as it is";
  EXPECT_EQ(os::JoinPath("C:\\a", "\\\\b\\c"), "C:\\a\\b\\c");
  // '?' stands for one byte, stars in a row for one, letters in either case.
  EXPECT_TRUE(os::MatchPattern("abc.URL", "a?c.url"));
  EXPECT_FALSE(os::MatchPattern("ac.url", "a?c.url"));
  EXPECT_TRUE(os::MatchPattern("x.url", "**.url"));
  EXPECT_TRUE(os::MatchPattern("x.url", "x.url**"));
  EXPECT_FALSE(os::MatchPattern("x.url", "x.url*?")) << "a '?' needs its byte";
  // After a mismatch the star takes one byte more and the whole rest of the
  // pattern is tried again.
  EXPECT_FALSE(os::MatchPattern("a.xurl", "*.url"));
  EXPECT_TRUE(os::MatchPattern("a.b.url", "*.url"));
}

// The classes root is the machine's Software\Classes; a query tells a missing
// key from a missing value and keeps within its byte limit.
TEST(OsRegistry, ClassesRootAndQueries) {
  TempDir dir;
  os::SetRegistryFolder(os::NativePath(dir / "reg"));
  const std::string key = "QimboTest.收藏\\shell\\open\\command";
  std::string s = "old";
  EXPECT_EQ(os::kRegNoKey, os::RegQueryString(os::Hive::ClassesRoot, key + "\\none", "", 256, s));
  EXPECT_EQ("old", s);
  ASSERT_TRUE(os::RegMakeKey(os::Hive::LocalMachine, "Software\\Classes\\" + key));
  ASSERT_TRUE(os::RegWriteString(os::Hive::LocalMachine, "Software\\Classes\\" + key, "", "\"浏览.exe\" \"%1\""));
  ASSERT_TRUE(os::RegWriteDword(os::Hive::LocalMachine, "Software\\Classes\\" + key, "n", 7));
  EXPECT_TRUE(os::RegKeyExists(os::Hive::ClassesRoot, key));
  EXPECT_EQ(os::kRegOk, os::RegQueryString(os::Hive::ClassesRoot, key, "", 256, s));
  EXPECT_EQ("\"浏览.exe\" \"%1\"", s);
  EXPECT_EQ(os::kRegOk, os::RegQueryString(os::Hive::ClassesRoot, key, "", 4, s));
  EXPECT_EQ(std::string("\"浏"), s) << "cut to maxBytes - 1, a whole character here";
  s = "kept";
  EXPECT_EQ(os::kRegNoValue, os::RegQueryString(os::Hive::ClassesRoot, key, "other", 256, s));
  EXPECT_EQ(os::kRegNoValue, os::RegQueryString(os::Hive::ClassesRoot, key, "n", 256, s)) << "not a string";
  EXPECT_EQ("kept", s);
  EXPECT_EQ(os::kRegNoKey, os::RegQueryString(os::Hive::CurrentUser, key, "", 256, s));
  EXPECT_TRUE(os::RegRemoveValue(os::Hive::ClassesRoot, key, "n"));
  EXPECT_TRUE(os::RegRemoveValue(os::Hive::LocalMachine, "Software\\Classes\\" + key, ""));
}

TEST(OsRegistry, StringsAndNumbersRoundTrip) {
  TempDir dir;
  os::SetRegistryFolder(os::NativePath(dir / "reg"));
  const std::string key = "Software\\QimboTest\\收藏";
  os::RegRemoveValue(os::Hive::CurrentUser, key, "id");
  std::string s;
  EXPECT_FALSE(os::RegReadString(os::Hive::CurrentUser, key, "id", s));
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, key, "id", "12345\t用户\n"));
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, key, "raw", "a\\t\r\\"));
  ASSERT_EQ(1, os::RegReadString(os::Hive::CurrentUser, key, "raw", s));
  EXPECT_EQ("a\\t\r\\", s) << "backslashes and line ends come back as they went";
  ASSERT_TRUE(os::RegWriteDword(os::Hive::CurrentUser, key, "isSavePwd", 1));
  ASSERT_TRUE(os::RegReadString(os::Hive::CurrentUser, key, "id", s));
  EXPECT_EQ(s, "12345\t用户\n");
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, key, "id", ""));
  ASSERT_TRUE(os::RegReadString(os::Hive::CurrentUser, key, "id", s));
  EXPECT_EQ(s, "");
  uint32_t v = 0;
  ASSERT_TRUE(os::RegReadDword(os::Hive::CurrentUser, key, "isSavePwd", v));
  EXPECT_EQ(v, 1u);
  // A key's unnamed value, and a number of ten digits.
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, key, "", "默认"));
  ASSERT_TRUE(os::RegWriteDword(os::Hive::CurrentUser, key, "big", 4000000000u));
  ASSERT_TRUE(os::RegReadString(os::Hive::CurrentUser, key, "", s));
  EXPECT_EQ("默认", s);
  ASSERT_TRUE(os::RegReadDword(os::Hive::CurrentUser, key, "big", v));
  EXPECT_EQ(4000000000u, v);
  EXPECT_FALSE(os::RegReadDword(os::Hive::CurrentUser, key, "id", v)) << "type mismatch";
  EXPECT_TRUE(os::RegRemoveValue(os::Hive::CurrentUser, key, "id"));
  EXPECT_FALSE(os::RegReadString(os::Hive::CurrentUser, key, "id", s));
  EXPECT_FALSE(os::RegReadDword(os::Hive::CurrentUser, key, "id", v));
  EXPECT_FALSE(os::RegReadString(os::Hive::LocalMachine, key, "isSavePwd", s));
  EXPECT_TRUE(os::RegRemoveValue(os::Hive::CurrentUser, key, "isSavePwd"));
  EXPECT_FALSE(os::RegRemoveValue(os::Hive::CurrentUser, key, "isSavePwd")) << "gone already";
#ifndef _WIN32
  // Tabs and line ends inside a value's name are kept apart from the file's own separators.
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, key, "tab\tname\n", "v"));
  ASSERT_TRUE(os::RegReadString(os::Hive::CurrentUser, key, "tab\tname\n", s));
  EXPECT_EQ("v", s);
  EXPECT_TRUE(os::RegRemoveValue(os::Hive::CurrentUser, key, "tab\tname\n"));
  // A value the disk cannot hold is not reported written, and the store keeps what it had.
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, key, "small", "s"));
  qbtest::CDiskLimit disk(1000);
  ASSERT_TRUE(disk.Fill());
  int wrote = os::RegWriteString(os::Hive::CurrentUser, key, "big", std::string(5000, 'b'));
  disk.Lift();
  EXPECT_EQ(0, wrote);
  EXPECT_FALSE(os::RegReadString(os::Hive::CurrentUser, key, "big", s));
  EXPECT_TRUE(os::RegReadString(os::Hive::CurrentUser, key, "small", s));
#endif
}

#ifndef _WIN32
namespace {
// Waits (up to 10 s) until a file holds `lines` lines; its text.
std::string WaitForLines(const std::string& path, size_t lines) {
  std::string text;
  for (int i = 0; i < 1000; ++i) {
    text = os::FileExists(path) ? qbtest::ReadFileBytes(path) : "";
    if ((size_t)std::count(text.begin(), text.end(), '\n') >= lines) break;
    os::SleepMs(10);
  }
  return text;
}
}  // namespace

// On Linux documents and addresses go to xdg-open and command lines to
// /bin/sh, started on their own: the caller is not held up by what it
// started, gets no child to reap, and hears "started" whatever the program
// does after.
TEST(OsShell, StartsOnItsOwnAndHandsOnTheTarget) {
  TempDir dir;
  std::string native = os::NativePath(dir.Path());
  std::string opened = dir / "opened";
  qbtest::WriteFileBytes(dir / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + native + "opened'\n");
  ASSERT_EQ(0, chmod((native + "xdg-open").c_str(), 0755));
  const char* path = getenv("PATH");
  std::string savedPath = path ? path : "";
  setenv("PATH", (native + ":" + savedPath).c_str(), 1);
  os::SetShellHook(nullptr);

  EXPECT_EQ(1, os::ShellOpen("http://example.test/a\\b?c=1", 1));
  EXPECT_EQ("http://example.test/a\\b?c=1\n", WaitForLines(opened, 1)) << "an address goes as it is";
  EXPECT_EQ(1, os::ShellOpen(dir / "docs\\a.txt", 1));
  EXPECT_EQ("http://example.test/a\\b?c=1\n" + native + "docs/a.txt\n", WaitForLines(opened, 2))
      << "a file goes by its native path";
  EXPECT_EQ(0, os::ShellOpen("", 1));
  // A hook takes every request in place of the system, with its own answer.
  std::vector<std::string> asked;
  os::SetShellHook([&](const os::ShellRequest& r) {
    asked.push_back(r.verb + " " + r.target);
    return 7;
  });
  EXPECT_EQ(7, os::ShellOpen("http://hooked.example/", 1));
  EXPECT_EQ(7, os::RunCommandLine("touch '" + native + "ran'", 1));
  os::SetShellHook(nullptr);
  EXPECT_EQ((std::vector<std::string>{"open http://hooked.example/", "run touch '" + native + "ran'"}), asked);
  os::SleepMs(200);
  const std::string openedNow = qbtest::ReadFileBytes(opened);
  EXPECT_EQ(2, std::count(openedNow.begin(), openedNow.end(), '\n')) << "nothing more was opened";
  EXPECT_FALSE(os::FileExists(dir / "ran"));
  setenv("PATH", savedPath.c_str(), 1);

  // A command that waits on a pipe nobody writes yet: the call comes back first.
  // The command runs in a session of its own and outlives a failed test: it
  // gives up waiting by itself.
  std::string fifo = native + "gate", out = dir / "out";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  EXPECT_EQ(1, os::RunCommandLine("timeout 30 cat '" + fifo + "' > '" + native + "out'", 1));
  int w = -1;
  for (int i = 0; i < 1000 && w < 0; ++i) {
    w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // fails until the command reads
    if (w < 0) os::SleepMs(10);
  }
  ASSERT_GE(w, 0) << "the command never started";
  ASSERT_EQ(5, write(w, "done\n", 5));
  close(w);
  EXPECT_EQ("done\n", WaitForLines(out, 1));
  EXPECT_EQ(1, os::RunCommandLine("exit 3", 1)) << "started is started, whatever the program answers";
  EXPECT_EQ(0, os::RunCommandLine("", 1));
  errno = 0;
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG)) << "no child is left to reap";
  EXPECT_EQ(ECHILD, errno);

  // A program started with SIGCHLD ignored (it is inherited) reaps nothing
  // itself: a start still reports started.
  struct sigaction ignore = {}, saved = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &saved);
  int started = os::RunCommandLine("exit 0", 1);
  sigaction(SIGCHLD, &saved, nullptr);
  EXPECT_EQ(1, started);
}

// The test registry lives in files: the folder given, else QIMBO_REGISTRY_DIR,
// else ~/.qimbo-registry; one file per hive. A key exists while it holds a value.
TEST(OsRegistry, TheFileStoreAndItsKeys) {
  TempDir dir;
  std::string native = os::NativePath(dir.Path());
  const char* home = getenv("HOME");
  const char* env = getenv("QIMBO_REGISTRY_DIR");
  std::string savedHome = home ? home : "", savedEnv = env ? env : "";
  os::SetRegistryFolder("");
  setenv("QIMBO_REGISTRY_DIR", (native + "fromenv").c_str(), 1);
  EXPECT_TRUE(os::RegWriteString(os::Hive::CurrentUser, "Software\\Q", "a", "1"));
  EXPECT_TRUE(os::RegWriteDword(os::Hive::LocalMachine, "Software\\Q", "b", 2));
  unsetenv("QIMBO_REGISTRY_DIR");
  setenv("HOME", (native + "home").c_str(), 1);
  mkdir((native + "home").c_str(), 0700);
  EXPECT_TRUE(os::RegWriteString(os::Hive::CurrentUser, "Software\\Q", "c", "3"));
  setenv("HOME", savedHome.c_str(), 1);
  if (env) setenv("QIMBO_REGISTRY_DIR", savedEnv.c_str(), 1);
  EXPECT_TRUE(os::FileExists(dir / "fromenv\\HKCU.reg"));
  EXPECT_TRUE(os::FileExists(dir / "fromenv\\HKLM.reg"));
  EXPECT_TRUE(os::FileExists(dir / "home\\.qimbo-registry\\HKCU.reg"));
  EXPECT_FALSE(os::FileExists(dir / "home\\.qimbo-registry\\HKLM.reg"));

  os::SetRegistryFolder(native + "reg");
  EXPECT_EQ(1, os::RegMakeKey(os::Hive::CurrentUser, "Software\\Q\\New"));
  EXPECT_EQ(0, os::RegKeyWritable(os::Hive::CurrentUser, "Software\\Q\\New")) << "no value yet";
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, "Software\\Q\\New", "v", "x"));
  EXPECT_EQ(1, os::RegKeyWritable(os::Hive::CurrentUser, "SOFTWARE\\q\\new")) << "keys match in any case";
  EXPECT_EQ(0, os::RegKeyWritable(os::Hive::LocalMachine, "Software\\Q\\New")) << "the other hive";
  EXPECT_EQ(0, os::RegKeyWritable(os::Hive::CurrentUser, "Software\\Q"));
  ASSERT_TRUE(os::RegRemoveValue(os::Hive::CurrentUser, "Software\\Q\\New", "v"));
  EXPECT_EQ(0, os::RegKeyWritable(os::Hive::CurrentUser, "Software\\Q\\New")) << "its last value gone";

  // The file as written by hand: lines short of their three tabs are passed
  // over, a last line without its line end counts, any length is read.
  ASSERT_TRUE(os::CreateFolder(dir / "hand"));
  qbtest::WriteFileBytes(dir / "hand\\HKLM.reg", std::string(5000, '#') + "\nno tabs\none\ttab\ntwo\ttabs\tS\n" +
                                                    "Software\\\\H\tName\tS\tv1\\tx\nSoftware\\\\H\tDir\tS\tC:\\\n" +
                                                    "Software\\\\H\tNum\tD\t7");
  os::SetRegistryFolder(native + "hand");
  std::string text;
  uint32_t number = 0;
  EXPECT_TRUE(os::RegReadString(os::Hive::LocalMachine, "software\\h", "NAME", text));
  EXPECT_EQ("v1\tx", text);
  EXPECT_TRUE(os::RegReadString(os::Hive::LocalMachine, "Software\\H", "Dir", text));
  EXPECT_EQ("C:\\", text) << "a backslash at the very end stands for itself";
  EXPECT_EQ(1, os::RegReadDword(os::Hive::LocalMachine, "Software\\H", "Num", number));
  EXPECT_EQ(7u, number);
  EXPECT_FALSE(os::RegReadString(os::Hive::LocalMachine, "two", "tabs", text)) << "no data field";
  EXPECT_FALSE(os::RegReadString(os::Hive::LocalMachine, "Software\\H", "Num", text)) << "a number is no text";

  // A store whose new copy cannot be made refuses the write and keeps what it had.
  ASSERT_TRUE(os::CreateFolder(dir / "hand\\HKLM.reg.tmp"));
  EXPECT_EQ(0, os::RegWriteString(os::Hive::LocalMachine, "Software\\H", "Name", "v2"));
  EXPECT_EQ(0, os::RegWriteDword(os::Hive::LocalMachine, "Software\\H", "Num", 8));
  EXPECT_TRUE(os::RegReadString(os::Hive::LocalMachine, "Software\\H", "Name", text));
  EXPECT_EQ("v1\tx", text);
  os::SetRegistryFolder("");
}
#endif

TEST(OsProcess, DirectoryNamesAndClock) {
  std::string dir = os::ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  os::SetProgramDirectory("C:\\Qimbo");
  EXPECT_EQ(os::ProgramDirectory(), "C:\\Qimbo\\");
  os::SetProgramDirectory("");
  EXPECT_EQ(os::ProgramDirectory(), dir);
#ifndef _WIN32
  // Test runs may name the program's folder; it is handed out with one '\' at the end.
  setenv("QIMBO_PROGRAM_DIR", "/opt/q", 1);
  EXPECT_EQ("\\opt\\q\\", os::ProgramDirectory());
  setenv("QIMBO_PROGRAM_DIR", "/opt/q/", 1);
  EXPECT_EQ("\\opt\\q\\", os::ProgramDirectory());
  setenv("QIMBO_PROGRAM_DIR", "", 1);
  EXPECT_EQ(os::ProgramDirectory(), dir) << "an empty variable names no folder";
  unsetenv("QIMBO_PROGRAM_DIR");
  EXPECT_EQ(os::ProgramDirectory(), dir);
#endif
  EXPECT_FALSE(os::UserName().empty());
  EXPECT_FALSE(os::HostName().empty());
#ifndef _WIN32
  // The logon name comes from USER (UTF-8, handed out as GBK), else from the user database.
  const char* user = getenv("USER");
  std::string saved = user ? user : "";
  setenv("USER", "\xE5\xBC\xA0\xE4\xB8\x89", 1);  // 张三 in UTF-8
  std::string fromEnv = os::UserName();
  unsetenv("USER");
  std::string fromDatabase = os::UserName();
  if (user) setenv("USER", saved.c_str(), 1);
  EXPECT_EQ("张三", fromEnv);
  EXPECT_FALSE(fromDatabase.empty());
#endif
  uint32_t t0 = os::TickCount();
  os::SleepMs(30);
  EXPECT_LT(os::TickCount() - t0, 60000u) << "the system clock moves forward";
#ifndef _WIN32
  EXPECT_GE(os::TickCount() - t0, 30u) << "a pause of 30 ms lasts 30 ms at least";
  // An interrupt left over from an earlier call does not make a finished pause start again.
  t0 = os::TickCount();
  errno = EINTR;
  os::SleepMs(10);
  EXPECT_LT(os::TickCount() - t0, 5000u);
  // Ticks are the milliseconds of the monotonic clock, wrapping at 2^32.
  auto ms = [] {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000);
  };
  uint32_t before = ms(), tick = os::TickCount(), after = ms();
  EXPECT_LE(tick - before, after - before);
#endif
  // Local time as the C library gives it: the year of today, in four digits.
  auto year = [] {
    time_t now = time(nullptr);
    return std::to_string(1900 + std::localtime(&now)->tm_year);
  };
  std::string yearBefore = year(), formatted = os::FormatLocalTime("%Y"), yearAfter = year();
  EXPECT_TRUE(formatted == yearBefore || formatted == yearAfter) << formatted;
}

namespace {
uint32_t g_fakeNow = 0;
uint32_t FakeTick() { return g_fakeNow; }
void FakeSleep(uint32_t ms) { g_fakeNow += ms; }
}  // namespace

TEST(OsProcess, ReplaceableClockForTimedBehaviour) {
  g_fakeNow = 0xFFFFFFF0u;
  os::SetClock(FakeTick, FakeSleep);
  uint32_t t0 = os::TickCount();
  os::SleepMs(1200);
  EXPECT_EQ(os::TickCount() - t0, 1200u) << "differences survive the wrap";
  os::SetClock(nullptr, nullptr);
  EXPECT_NE(os::TickCount(), g_fakeNow);
}

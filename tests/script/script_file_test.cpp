// The script file format: round trips, and every kind of broken file refused
// without a big allocation.
#include <gtest/gtest.h>

#include <random>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "os/os.h"
#include "script/script_file.h"
#include "testutil.h"

namespace {

using qb::Script;
using qb::ScriptEvent;

ScriptEvent Ev(uint32_t t, uint8_t type, uint16_t code, int32_t x = 0, int32_t y = 0, int32_t data = 0,
               uint8_t flags = 0) {
  return ScriptEvent{t, type, flags, code, x, y, data};
}

// A login: click into the box, type "ab", Tab, a right-Ctrl, a wheel notch, a click on the button.
Script Login() {
  Script s;
  s.mode = 2;
  s.events = {Ev(0, qb::kButtonDown, qb::kLeftButton, 100, 200), Ev(40, qb::kButtonUp, qb::kLeftButton, 100, 200),
              Ev(300, qb::kKeyDown, 0x41, 0, 0, 0x1E), Ev(380, qb::kKeyUp, 0x41, 0, 0, 0x1E),
              Ev(380, qb::kKeyDown, 0x42, 0, 0, 0x30), Ev(450, qb::kKeyUp, 0x42, 0, 0, 0x30),
              Ev(600, qb::kKeyDown, 0xA3, 0, 0, 0x1D, 1), Ev(650, qb::kKeyUp, 0xA3, 0, 0, 0x1D, 1),
              Ev(700, qb::kMouseMove, 0, -1920, -5), Ev(800, qb::kWheel, 0, 10, 10, -120),
              Ev(900, qb::kHWheel, 0, 10, 10, 240), Ev(1000, qb::kButtonDown, qb::kXButton2, 640, 480),
              Ev(1001, qb::kButtonUp, qb::kXButton2, 640, 480)};
  return s;
}

void PutU32At(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = (char)((v >> (8 * i)) & 0xFF);
}
// Recomputes the trailing check so a test reaches the check it means.
void Reseal(std::string& s) {
  size_t body = s.size() - 4;
  PutU32At(s, body, qb::Crc32((const unsigned char*)s.data(), body));
}

TEST(ScriptFile, LayoutIsHeaderEventsAndCheck) {
  Script s = Login();
  std::string b = qb::EncodeScript(s);
  ASSERT_EQ(b.size(), 16u + 13u * 20u + 4u);
  EXPECT_EQ(b.substr(0, 8), "QBSCRIPT");
  EXPECT_EQ((unsigned char)b[8], 1);  // version 1
  EXPECT_EQ((unsigned char)b[9], 0);
  EXPECT_EQ((unsigned char)b[10], 2);  // mode 2
  EXPECT_EQ((unsigned char)b[12], 13);
  // The seventh event, right Ctrl down at 600 ms: time, type, flags, code, x, y, scan code.
  std::string e = b.substr(16 + 6 * 20, 20);
  EXPECT_EQ(e, std::string("\x58\x02\x00\x00\x01\x01\xA3\x00\x00\x00\x00\x00\x00\x00\x00\x00\x1D\x00\x00\x00", 20));
  // Negative coordinates survive as two's complement.
  EXPECT_EQ(b.substr(16 + 8 * 20 + 8, 4), std::string("\x80\xF8\xFF\xFF", 4));
}

// The check value is the common CRC-32 (reflected, 0xEDB88320), so files
// written by any build read in any other.
TEST(ScriptFile, CheckValueIsTheCommonCrc32) {
  const char digits[] = "123456789";
  EXPECT_EQ(0xCBF43926u, qb::Crc32((const unsigned char*)digits, 9));
  EXPECT_EQ(0u, qb::Crc32((const unsigned char*)digits, 0));
  // Every byte value once, so every entry of the table takes part.
  unsigned char all[256];
  for (int i = 0; i < 256; ++i) all[i] = (unsigned char)i;
  EXPECT_EQ(0x29058C73u, qb::Crc32(all, sizeof all));
}

TEST(ScriptFile, RoundTripInMemoryAndOnDisk) {
  Script s = Login();
  Script back;
  ASSERT_EQ(qb::DecodeScript(qb::EncodeScript(s), back), 1);
  EXPECT_EQ(back.mode, 2);
  EXPECT_EQ(back.events, s.events);

  Script empty;
  ASSERT_EQ(qb::DecodeScript(qb::EncodeScript(empty), back), 1);
  EXPECT_EQ(back.mode, 1);
  EXPECT_TRUE(back.events.empty());

  qbtest::TempDir dir;
  std::string path = dir / "网易邮箱";  // items have Chinese names; files have no extension
  ASSERT_EQ(qb::StoreScriptFile(path, s), 1);
  Script loaded;
  ASSERT_EQ(qb::LoadScriptFile(path, loaded), 1);
  EXPECT_EQ(loaded.events, s.events);
  EXPECT_FALSE(os::FileExists(path + ".tmp~"));
  // A script of no events, the shortest file, loads as well.
  ASSERT_EQ(qb::StoreScriptFile(path, empty), 1);
  loaded = s;
  ASSERT_EQ(qb::LoadScriptFile(path, loaded), 1);
  EXPECT_TRUE(loaded.events.empty());
  // A second save replaces the first in place.
  s.events.resize(2);
  ASSERT_EQ(qb::StoreScriptFile(path, s), 1);
  ASSERT_EQ(qb::LoadScriptFile(path, loaded), 1);
  EXPECT_EQ(loaded.events.size(), 2u);
}

TEST(ScriptFile, SavedFileIsTheOwnersAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "access lists are checked by the window tests";
#else
  qbtest::TempDir dir;
  std::string path = dir / "Mail";
  ASSERT_EQ(qb::StoreScriptFile(path, Login()), 1);
  struct stat st;
  ASSERT_EQ(stat(os::NativePath(path).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST(ScriptFile, FailedSaveKeepsTheOldScriptAndLeavesNoTemporary) {
  qbtest::TempDir dir;
  std::string path = dir / "Mail";
  ASSERT_EQ(qb::StoreScriptFile(path, Login()), 1);
  std::string before = qbtest::ReadFileBytes(path);
  static std::string target;
  target = path;
  // The rename over the old script fails: the old one stays whole.
  os::SetFileStepHook([](os::FileStep step, const std::string& p) {
    return step == os::FileStep::Rename && p == target + ".tmp~" ? 0 : 1;
  });
  Script other;
  other.events = {Ev(5, qb::kKeyDown, 0x43)};
  int r = qb::StoreScriptFile(path, other);
  os::SetFileStepHook(nullptr);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(qbtest::ReadFileBytes(path), before);
  EXPECT_FALSE(os::FileExists(path + ".tmp~"));
  // A missing folder fails; nothing is created.
  EXPECT_EQ(qb::StoreScriptFile(dir / "nofolder\\Mail", other), 0);
  EXPECT_FALSE(os::FileExists(dir / "nofolder"));
}

TEST(ScriptFile, InvalidEventsAreNotWritten) {
  qbtest::TempDir dir;
  Script s;
  s.events = {Ev(0, 9, 0)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0);
  s.events = {Ev(0, qb::kKeyDown, 0)};  // key code 0
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0);
  s.events = {Ev(0, qb::kKeyDown, 255)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0);
  s.events = {Ev(0, qb::kKeyDown, 254), Ev(0, qb::kKeyUp, 1)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 1);
  s.events = {Ev(0, qb::kButtonDown, 0)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0);
  s.events = {Ev(0, qb::kButtonDown, 6)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0);
  s.events = {Ev(0, qb::kButtonDown, 5)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 1);
  // A key's scan data is 0 to 0xFFFF; only the lowest flag bit exists.
  s.events = {Ev(0, qb::kKeyDown, 0x41, 0, 0, 0xFFFF, 1)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 1);
  s.events = {Ev(0, qb::kKeyDown, 0x41, 0, 0, 0x10000)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0);
  s.events = {Ev(0, qb::kKeyDown, 0x41, 0, 0, -1)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0);
  s.events = {Ev(0, qb::kKeyDown, 0x41, 0, 0, 0, 2)};
  EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0);
  // Moves, wheels and buttons carry no flags; moves and wheels no code.
  for (const ScriptEvent& e : {Ev(0, qb::kButtonUp, qb::kLeftButton, 0, 0, 0, 1), Ev(0, qb::kMouseMove, 1),
                               Ev(0, qb::kHWheel, 0, 0, 0, 0, 1), Ev(0, qb::kWheel, 1)}) {
    s.events = {e};
    EXPECT_EQ(qb::StoreScriptFile(dir / "a", s), 0) << (int)e.type;
  }
}

TEST(ScriptFile, BrokenFilesFail) {
  const std::string good = qb::EncodeScript(Login());
  Script out;
  out.mode = 1;
  out.events = {Ev(7, qb::kKeyDown, 0x50)};
  const Script untouched = out;
  auto refused = [&](const std::string& b) {
    int r = qb::DecodeScript(b, out);
    EXPECT_EQ(out.events, untouched.events);
    return r == 0;
  };
  // Every truncation, down to nothing.
  for (size_t n = 0; n < good.size(); ++n) EXPECT_TRUE(refused(good.substr(0, n))) << n;
  // Shorter than a header with its check: refused by its size before a byte
  // is read (each copy is exactly that long, so a read past it is seen).
  for (size_t n = 0; n < 20; ++n) {  // none at all: no buffer either
    std::vector<unsigned char> exact(good.begin(), good.begin() + n);
    EXPECT_EQ(0, qb::DecodeScript(exact.data(), exact.size(), out)) << n;
  }
  EXPECT_TRUE(refused(good + '\0'));
  // Any flipped byte: the check catches what the fields do not.
  for (size_t i = 0; i < good.size(); ++i) {
    std::string b = good;
    b[i] ^= 0x10;
    EXPECT_TRUE(refused(b)) << i;
  }
  std::string b = good;
  for (size_t i : {0, 7}) {  // the file's mark, first and last byte, under a good check
    b = good;
    b[i] ^= 0x01;
    Reseal(b);
    EXPECT_TRUE(refused(b)) << i;
  }
  b = good;
  b[8] = 2;  // a newer version
  Reseal(b);
  EXPECT_TRUE(refused(b));
  for (uint16_t mode : {0, 3}) {
    b = good;
    b[10] = (char)mode;
    Reseal(b);
    EXPECT_TRUE(refused(b)) << mode;
  }
  // Counts one off either way, and a count that lies by gigabytes.
  for (uint32_t count : {12u, 14u, 0u, 0xFFFFFFFFu, 400001u}) {
    b = good;
    PutU32At(b, 12, count);
    Reseal(b);
    EXPECT_TRUE(refused(b)) << count;
  }
  // Time going backwards between two events.
  b = good;
  PutU32At(b, 16 + 1 * 20, 0xFFFF);
  Reseal(b);
  EXPECT_TRUE(refused(b));
  // A key code with a high byte (0x0141) is no key code.
  b = good;
  b[16 + 2 * 20 + 7] = 1;
  Reseal(b);
  EXPECT_TRUE(refused(b));
  // An event of no known type.
  b = good;
  b[16 + 20 + 4] = 8;
  Reseal(b);
  EXPECT_TRUE(refused(b));
  // A resealed file with sound fields still loads (the reseal helper is honest).
  b = good;
  Reseal(b);
  EXPECT_EQ(qb::DecodeScript(b, out), 1);
}

TEST(ScriptFile, SizeLimitOnBothSides) {
  // 400,000 events is the largest script; one more is refused before reading.
  Script big;
  big.events.assign(400000, Ev(1, qb::kMouseMove, 0, 3, 4));
  std::string b = qb::EncodeScript(big);
  EXPECT_EQ(b.size(), 8000020u);
  Script out;
  EXPECT_EQ(qb::DecodeScript(b, out), 1);
  EXPECT_EQ(out.events.size(), 400000u);

  qbtest::TempDir dir;
  ASSERT_EQ(qb::StoreScriptFile(dir / "big", big), 1);
  out.events.clear();
  EXPECT_EQ(qb::LoadScriptFile(dir / "big", out), 1) << "the largest file loads";
  EXPECT_EQ(out.events.size(), 400000u);
  big.events.push_back(Ev(2, qb::kMouseMove, 0));
  EXPECT_EQ(qb::StoreScriptFile(dir / "big2", big), 0);
  // A file one event past the limit, with a header that is honest about it.
  std::string over = qb::EncodeScript(big);
  EXPECT_EQ(over.size(), 8000040u);
  EXPECT_EQ(qb::DecodeScript(over, out), 0);
  qbtest::WriteFileBytes(dir / "over", over);
  EXPECT_EQ(qb::LoadScriptFile(dir / "over", out), 0);
  EXPECT_EQ(out.events.size(), 400000u);
#ifndef _WIN32
  // A file of a terabyte (sparse, it takes no room) is refused by its size:
  // nothing is allocated for it and nothing read.
  qbtest::WriteFileBytes(dir / "huge", "");
  ASSERT_EQ(0, truncate(os::NativePath(dir / "huge").c_str(), (off_t)1 << 40));
  EXPECT_EQ(qb::LoadScriptFile(dir / "huge", out), 0);
  EXPECT_EQ(out.events.size(), 400000u);
#endif
}

// An empty path is refused before any file is made or removed (a save makes
// its temporary beside the path: here that would be the working folder).
TEST(ScriptFile, AnEmptyPathTouchesNoFile) {
#ifdef _WIN32
  GTEST_SKIP() << "the working folder is the window tests' own";
#else
  qbtest::TempDir dir;
  char old[4096];
  ASSERT_TRUE(getcwd(old, sizeof old));
  ASSERT_EQ(0, chdir(os::NativePath(dir.Path()).c_str()));
  qbtest::WriteFileBytes(dir / ".tmp~", "not ours");
  int stored = qb::StoreScriptFile("", Login());
  bool kept = os::FileExists(dir / ".tmp~");
  ASSERT_EQ(0, chdir(old));
  EXPECT_EQ(0, stored);
  EXPECT_TRUE(kept);
#endif
}

TEST(ScriptFile, MissingFolderAndRandomFilesFail) {
  qbtest::TempDir dir;
  Script out;
  EXPECT_EQ(qb::LoadScriptFile(dir / "none", out), 0);
  EXPECT_EQ(qb::LoadScriptFile(dir.Path(), out), 0);
  EXPECT_EQ(qb::LoadScriptFile("", out), 0);
  std::mt19937 rng(17);
  std::string good = qb::EncodeScript(Login());
  for (int i = 0; i < 2000; ++i) {
    std::string b;
    if (i % 2) {
      b.resize(rng() % 200);
      for (char& c : b) c = (char)rng();
    } else {
      // Our own header and count, random events: only the check can tell.
      b = good;
      for (size_t k = 16; k < b.size(); ++k) b[k] = (char)rng();
    }
    EXPECT_EQ(qb::DecodeScript(b, out), 0) << i;
  }
}

// What the recorder keeps at its stop: presses let go later stay, the rest go.
TEST(ScriptRecording, PressesNotLetGoAreDropped) {
  // A login with auto-repeat, then the stop button's press, left down when
  // the recording ended, and a Shift still held.
  std::vector<ScriptEvent> ev = {
      Ev(0, qb::kButtonDown, qb::kLeftButton, 100, 200), Ev(40, qb::kButtonUp, qb::kLeftButton, 100, 200),
      Ev(300, qb::kKeyDown, 0x41, 0, 0, 0x1E),           Ev(330, qb::kKeyDown, 0x41, 0, 0, 0x1E),
      Ev(380, qb::kKeyUp, 0x41, 0, 0, 0x1E),             Ev(400, qb::kMouseMove, 0, 5, 6),
      Ev(450, qb::kKeyDown, 0x10, 0, 0, 0x2A),           Ev(500, qb::kButtonDown, qb::kLeftButton, 9, 9)};
  qb::DropUnreleased(ev);
  ASSERT_EQ(ev.size(), 6u);
  EXPECT_EQ(ev[0], Ev(0, qb::kButtonDown, qb::kLeftButton, 100, 200));
  EXPECT_EQ(ev[3], Ev(330, qb::kKeyDown, 0x41, 0, 0, 0x1E));
  EXPECT_EQ(ev[5], Ev(400, qb::kMouseMove, 0, 5, 6));
}

TEST(ScriptRecording, APressAfterTheLastReleaseOfItsKeyIsDropped) {
  // The same key and button pressed again after their last release; a key and
  // a button with the same code do not let go of each other.
  std::vector<ScriptEvent> ev = {
      Ev(0, qb::kKeyDown, 1, 0, 0, 1),  Ev(10, qb::kKeyUp, 1, 0, 0, 1),
      Ev(20, qb::kButtonDown, qb::kLeftButton), Ev(30, qb::kButtonUp, qb::kLeftButton),
      Ev(40, qb::kKeyDown, 1, 0, 0, 1), Ev(50, qb::kButtonDown, qb::kLeftButton),
      Ev(60, qb::kKeyDown, qb::kRightButton, 0, 0, 2), Ev(70, qb::kButtonUp, qb::kRightButton)};
  qb::DropUnreleased(ev);
  ASSERT_EQ(ev.size(), 5u);
  EXPECT_EQ(ev[3].time, 30u);
  EXPECT_EQ(ev[4], Ev(70, qb::kButtonUp, qb::kRightButton));
  std::vector<ScriptEvent> none;
  qb::DropUnreleased(none);
  EXPECT_TRUE(none.empty());
}

TEST(ScriptRecording, TheInputThatStoppedTheRecordingIsDropped) {
  // Typed into the page (target 0), a click on a button of another thread
  // (9), then the move to the stop button and its click (thread 5), a move after.
  std::vector<ScriptEvent> ev = {
      Ev(0, qb::kKeyDown, 0x41, 0, 0, 0x1E),          Ev(10, qb::kKeyUp, 0x41, 0, 0, 0x1E),
      Ev(20, qb::kButtonDown, qb::kLeftButton, 1, 1), Ev(30, qb::kButtonUp, qb::kLeftButton, 1, 1),
      Ev(40, qb::kMouseMove, 0, 2, 2),                Ev(50, qb::kButtonDown, qb::kLeftButton, 3, 3),
      Ev(60, qb::kMouseMove, 0, 3, 4),                Ev(70, qb::kButtonUp, qb::kLeftButton, 3, 4),
      Ev(80, qb::kMouseMove, 0, 5, 5)};
  std::vector<uint32_t> target = {0, 0, 9, 9, 0, 5, 0, 5, 0};
  std::vector<ScriptEvent> kept = ev;
  qb::DropTrailingInputTo(kept, target, 5);
  ASSERT_EQ(kept.size(), 4u);
  EXPECT_EQ(kept[3], Ev(30, qb::kButtonUp, qb::kLeftButton, 1, 1));
  // Stopped from thread 9: its button was not the last thing pressed, and the
  // moves at the end stay.
  kept = ev;
  qb::DropTrailingInputTo(kept, target, 9);
  EXPECT_EQ(kept.size(), 9u);
  // Space on a focused stop button: its key events go.
  std::vector<ScriptEvent> keys = {Ev(0, qb::kKeyDown, 0x41), Ev(5, qb::kKeyUp, 0x41), Ev(9, qb::kKeyDown, 0x20),
                                   Ev(12, qb::kKeyUp, 0x20)};
  qb::DropTrailingInputTo(keys, {0, 0, 5, 5}, 5);
  EXPECT_EQ(keys.size(), 2u);
  // No stopper, or targets that do not match the events: nothing goes.
  kept = ev;
  qb::DropTrailingInputTo(kept, target, 0);
  EXPECT_EQ(kept.size(), 9u);
  qb::DropTrailingInputTo(kept, {5, 5}, 5);
  EXPECT_EQ(kept.size(), 9u);
  std::vector<ScriptEvent> more = {Ev(0, qb::kKeyDown, 0x20), Ev(5, qb::kKeyUp, 0x20)};
  qb::DropTrailingInputTo(more, {5, 5, 5}, 5);
  EXPECT_EQ(more.size(), 2u) << "one target too many";
  std::vector<ScriptEvent> unknown = keys;  // events whose window was not found
  qb::DropTrailingInputTo(unknown, {0, 0}, 0);
  EXPECT_EQ(unknown.size(), 2u) << "no stopper: nothing goes, though no target is known either";
  // Everything went to the stopper: nothing is left.
  kept = {ev[5], ev[6], ev[7]};
  qb::DropTrailingInputTo(kept, {5, 0, 5}, 5);
  EXPECT_TRUE(kept.empty());
  // Nothing but the way to the stop button before it: that goes too.
  kept = {ev[4], ev[5], ev[6], ev[7]};
  qb::DropTrailingInputTo(kept, {0, 5, 0, 5}, 5);
  EXPECT_TRUE(kept.empty());
}

}  // namespace

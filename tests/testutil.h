// Helpers shared by the test suites.
#pragma once
#include <string>
#include <vector>

#include "base/ui.h"
#include "os/font.h"

namespace qbtest {

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes away. Path() is a program path ending in '\'.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + name; }

 private:
  std::string m_path;
};

// Deletes a folder and everything under it.
void RemoveTree(const std::string& folder);

// Writes bytes to a file (program path); fails the current test when it can't.
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);

// A font of the Chinese character set (GB2312) as the skins describe theirs.
os::FontDesc ChineseFont(const std::string& face, int32_t height, int32_t weight, uint8_t pitchAndFamily = 0);

// A folder of the source tree named when the tests were built (a Linux path
// ending in '/'), as the program names it: under Wine on the Z: drive.
std::string SourceFolder(const std::string& linuxPath);

#ifndef _WIN32
// A full disk as the program sees it: while Fill() is in force, a file of
// this process cannot grow past `bytes`, and a write past it fails instead of
// ending the process. Lift() (or the object going away) gives the room back.
class CDiskLimit {
 public:
  explicit CDiskLimit(size_t bytes);
  ~CDiskLimit();
  CDiskLimit(const CDiskLimit&) = delete;
  CDiskLimit& operator=(const CDiskLimit&) = delete;
  bool Fill();  // false when the limit could not be set
  void Lift();

 private:
  unsigned long long m_old, m_max, m_bytes;
  void (*m_oldHandler)(int);
};
#endif

// The user's home values that a test sets (HOMEDRIVE and HOMEPATH under
// HKEY_CURRENT_USER\Volatile Environment), put back as they were by
// Restore() or when the object goes away.
class CHomeValues {
 public:
  CHomeValues();
  ~CHomeValues() { Restore(); }
  CHomeValues(const CHomeValues&) = delete;
  CHomeValues& operator=(const CHomeValues&) = delete;
  void Set(const std::string& drive, const std::string& path);
  void Restore();

 private:
  struct Saved { const char* name; bool had; std::string value; };
  Saved m_saved[2];
  bool m_restored = false;
};

// Records what the model asked of the user interface. Boxes answer with
// `answer` (default: the first button).
class CRecordingUi : public qb::IUserInterface {
 public:
  struct Box { std::string text, caption; unsigned flags; };
  struct PostRec { qb::UiTarget target; unsigned msg; uintptr_t wParam; intptr_t lParam; bool delivered = false; };
  struct TimerRec { qb::UiTarget target; unsigned id; unsigned ms; bool start; };
  std::vector<Box> boxes;
  std::vector<PostRec> posts;
  std::vector<TimerRec> timers;
  int answer = qb::kIdOk;

  int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override {
    boxes.push_back({text, caption, flags});
    return answer;
  }
  void Post(qb::UiTarget t, unsigned msg, uintptr_t w, intptr_t l) override { posts.push_back({t, msg, w, l}); }
  void Deliver(qb::UiTarget t, unsigned msg, uintptr_t w, intptr_t l) override { posts.push_back({t, msg, w, l, true}); }
  void StartTimer(qb::UiTarget t, unsigned id, unsigned ms) override { timers.push_back({t, id, ms, true}); }
  void StopTimer(qb::UiTarget t, unsigned id) override { timers.push_back({t, id, 0, false}); }
};

// The largest single allocation since the last reset (alloc_watch.cpp).
void ResetLargestAllocation();
size_t LargestAllocation();

// Windows only (the MinGW build has no AddressSanitizer): while armed, every
// object of exactly `size` bytes gets pages of its own, which become
// unreadable when it is deleted and are never used again. A later read or
// write of such an object is counted and then let through, so a test
// reports a use after free as a failure instead of passing it unseen.
// Arm with the size of the class under test, disarm with 0.
void GuardObjectsOfSize(size_t size);
size_t GuardedUsesAfterFree();

}  // namespace qbtest

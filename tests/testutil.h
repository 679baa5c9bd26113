// Helpers shared by the test suites.
#pragma once
#include <string>
#include <vector>

#include "base/ui.h"

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

// Records what the model asked of the user interface. Boxes answer with
// `answer` (default: the first button).
class CRecordingUi : public qb::IUserInterface {
 public:
  struct Box { std::string text, caption; unsigned flags; };
  struct PostRec { qb::UiTarget target; unsigned msg; uintptr_t wParam; intptr_t lParam; };
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

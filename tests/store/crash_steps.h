// Ending a save at each of its file steps (writes, flushes, closes, removals,
// renames), to check what a crash there leaves on the disk.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "os/os.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qbtest {

namespace crash_detail {
inline int& Target() { static int n = 0; return n; }
inline int& Seen() { static int n = 0; return n; }
inline int Step(os::FileStep, const std::string&) {
  if (++Seen() < Target()) return 1;
#ifndef _WIN32
  _exit(42);  // the process ends here, before the step
#else
  return 0;  // this step and every later one never reach the disk
#endif
}
}  // namespace crash_detail

// Runs `save` and ends it before its `n`-th file step (from 1). Natively the
// save runs in a child process that ends there; on Windows it runs here and
// that step and every later one fail without touching a file, which leaves
// the disk as the end of the process would. 1 when step n was reached, 0
// when the save finished in fewer steps.
inline int RunSaveUntilStep(int n, const std::function<void()>& save) {
  crash_detail::Target() = n;
  crash_detail::Seen() = 0;
#ifndef _WIN32
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    os::SetFileStepHook(crash_detail::Step);
    save();
    _exit(0);
  }
  int status = 0;
  EXPECT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status));
  return WIFEXITED(status) && WEXITSTATUS(status) == 42;
#else
  os::SetFileStepHook(crash_detail::Step);
  save();
  os::SetFileStepHook(nullptr);
  return crash_detail::Seen() >= n;
#endif
}

// For every step of `save` in turn: `prepare` lays out the previous state,
// the save is ended before that step, and `check` judges what is left (told
// the step, and whether the save ran to its end instead). Returns how many
// steps the whole save took.
inline int CrashAtEveryStep(const std::function<void()>& prepare, const std::function<void()>& save,
                            const std::function<void(int step, bool finished)>& check) {
  for (int n = 1; n < 1000; ++n) {
    prepare();
    int reached = RunSaveUntilStep(n, save);
    check(n, !reached);
    if (!reached) return n - 1;
  }
  ADD_FAILURE() << "the save never ended";
  return 0;
}

}  // namespace qbtest

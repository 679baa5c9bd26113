// The in-process window tests: real windows under Wine, driven by real
// messages. A watchdog ends a run that a stray modal box would hang.
#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

static DWORD WINAPI Watchdog(void*) {
  Sleep(200000);  // the whole run; ctest allows 240 s
  fprintf(stderr, "window tests: watchdog ended the run after 200 s (a modal box?)\n");
  ExitProcess(3);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
  return RUN_ALL_TESTS();
}

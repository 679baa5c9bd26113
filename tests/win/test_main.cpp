// The in-process window tests: real windows under Wine, driven by real
// messages. A watchdog ends a run when one test stops moving for 90 s (a
// stray modal box would hang it) and names that test. It times each test on
// its own, so a whole run that a loaded machine makes slow still finishes.
#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

CRITICAL_SECTION g_lock;
std::string g_current;        // the test running, "" between tests
DWORD g_started = 0;          // GetTickCount() when it started
const DWORD kPerTest = 90000;  // ctest allows the whole run 240 s

class TestClock : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo& info) override {
    EnterCriticalSection(&g_lock);
    g_current = std::string(info.test_suite_name()) + "." + info.name();
    g_started = GetTickCount();
    LeaveCriticalSection(&g_lock);
  }
  void OnTestEnd(const testing::TestInfo&) override {
    EnterCriticalSection(&g_lock);
    g_current.clear();
    LeaveCriticalSection(&g_lock);
  }
};

// The visible windows of the process and their controls' texts, read
// without a message to their (maybe stuck) threads: what a stray box said.
void PrintWindow(HWND w, int depth) {
  wchar_t text[256] = {}, cls[64] = {};
  InternalGetWindowText(w, text, 256);
  GetClassNameW(w, cls, 64);
  char line[1024];
  WideCharToMultiByte(CP_UTF8, 0, text, -1, line, sizeof line, nullptr, nullptr);
  char name[128];
  WideCharToMultiByte(CP_UTF8, 0, cls, -1, name, sizeof name, nullptr, nullptr);
  fprintf(stderr, "%*s%s \"%s\" (thread %lu)\n", 2 + 2 * depth, "", name, line, GetWindowThreadProcessId(w, nullptr));
}

void ListWindows() {
  EnumWindows(
      [](HWND w, LPARAM) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
        PrintWindow(w, 0);
        EnumChildWindows(
            w,
            [](HWND c, LPARAM) -> BOOL {
              PrintWindow(c, 1);
              return TRUE;
            },
            0);
        return TRUE;
      },
      0);
}

DWORD WINAPI Watchdog(void*) {
  for (;;) {
    Sleep(1000);
    EnterCriticalSection(&g_lock);
    bool stuck = !g_current.empty() && GetTickCount() - g_started > kPerTest;
    std::string name = g_current;
    LeaveCriticalSection(&g_lock);
    if (stuck) {
      fprintf(stderr, "window tests: watchdog ended the run: %s ran for %lu s (a modal box?)\n", name.c_str(),
              kPerTest / 1000);
      ListWindows();
      fflush(stderr);
      ExitProcess(3);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  InitializeCriticalSection(&g_lock);
  testing::UnitTest::GetInstance()->listeners().Append(new TestClock);
  CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
  return RUN_ALL_TESTS();
}

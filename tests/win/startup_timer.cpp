// Times a program from process start to its first visible top-level window,
// and on to the moment that window answers a sent message (its message loop
// runs, so the first frame is painted next), several runs, and ends it
// through a command after each run.
// Usage: startup_timer RUNS EXE FOLDER COMMAND   (COMMAND: WM_COMMAND id, 0 = WM_CLOSE)
// Prints the two medians in milliseconds: visible, responsive.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "proc_util.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: startup_timer RUNS EXE FOLDER COMMAND\n");
    return 2;
  }
  int runs = _wtoi(argv[1]);
  int command = _wtoi(argv[4]);
  std::vector<double> times, answered;
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  for (int i = 0; i < runs; ++i) {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    drv::Proc p;
    if (!p.Start(argv[2], argv[3])) return 1;
    HWND wnd = nullptr;
    while (!wnd) {
      wnd = drv::FindMainWindow(p.pi.dwProcessId, 0);
      if (!wnd) {
        if (p.Ended(1)) {
          fprintf(stderr, "startup_timer: the program ended early\n");
          return 1;
        }
      }
    }
    QueryPerformanceCounter(&t1);
    times.push_back(1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_NORMAL, 15000, &result);
    QueryPerformanceCounter(&t1);
    answered.push_back(1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart);
    if (command)
      PostMessageW(wnd, WM_COMMAND, static_cast<WPARAM>(command), 0);
    else
      PostMessageW(wnd, WM_CLOSE, 0, 0);
    if (!p.Ended(15000)) p.Kill();
  }
  std::sort(times.begin(), times.end());
  std::sort(answered.begin(), answered.end());
  printf("%.1f %.1f\n", times[times.size() / 2], answered[answered.size() / 2]);
  return 0;
}

// Times a program from process start to its first visible top-level window,
// and on to the moment that window answers a sent message (its message loop
// runs, so the first frame is painted next), several runs, and ends it
// through a command after each run.
// Usage: startup_timer RUNS EXE FOLDER COMMAND   (COMMAND: WM_COMMAND id, 0 = WM_CLOSE)
// Prints the two medians in milliseconds: visible, responsive.
//
// The timer learns of the program's windows as they are made (an event hook
// on window creation in that process) and looks only at those: looking over
// every top-level window of the desktop each millisecond cost the system's
// server about half as much work as the program being timed, which both
// share, and so slowed the program it timed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "proc_util.h"

namespace {

DWORD g_pid = 0;
std::vector<HWND> g_made;  // the program's top-level windows, as they were made

void CALLBACK OnMade(HWINEVENTHOOK, DWORD, HWND wnd, LONG object, LONG, DWORD, DWORD) {
  if (object != OBJID_WINDOW || !wnd || GetAncestor(wnd, GA_PARENT) != GetDesktopWindow()) return;
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid == g_pid) g_made.push_back(wnd);
}

// The first of the program's windows made so far that is visible; every
// 50 ms (and where no creation event ever comes) the whole desktop is looked
// over as well.
HWND VisibleWindow(DWORD pid, bool lookEverywhere) {
  for (HWND wnd : g_made)
    if (IsWindowVisible(wnd)) return wnd;
  return lookEverywhere ? drv::FindMainWindow(pid, 0) : nullptr;
}

}  // namespace

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
    // Windows come some 70 ms after the process: none is made before the hook.
    g_pid = p.pi.dwProcessId;
    g_made.clear();
    HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, OnMade, g_pid, 0, WINEVENT_OUTOFCONTEXT);
    HWND wnd = nullptr;
    DWORD lastFullLook = GetTickCount();
    while (!wnd) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      bool everywhere = !hook || GetTickCount() - lastFullLook >= 50;
      if (everywhere) lastFullLook = GetTickCount();
      wnd = VisibleWindow(p.pi.dwProcessId, everywhere);
      if (wnd) break;
      if (MsgWaitForMultipleObjects(1, &p.pi.hProcess, FALSE, 1, QS_ALLINPUT) == WAIT_OBJECT_0) {
        fprintf(stderr, "startup_timer: the program ended early\n");
        return 1;
      }
    }
    QueryPerformanceCounter(&t1);
    times.push_back(1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_NORMAL, 15000, &result);
    QueryPerformanceCounter(&t1);
    answered.push_back(1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart);
    if (hook) UnhookWinEvent(hook);
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

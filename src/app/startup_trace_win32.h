// Start-up timestamps for profiling: when the environment variable
// QIMBO_STARTUP_TRACE names a file, each mark appends one line to it with the
// milliseconds since the process was created and since the previous mark,
// and the processor time the marking thread (the user-interface thread) has
// used so far, user and system, which a busy machine changes less than the
// clock (counted in the system's ticks).
// Without the variable a mark costs one check of a cached flag.
#pragma once

#include <windows.h>

#include <cstdio>

namespace qb {

inline void StartupMark(const char* what) {
  static int state = 0;  // 0 unknown, 1 tracing, 2 off
  static wchar_t path[MAX_PATH];
  static double last = 0;
  if (state == 2) return;
  if (state == 0) {
    state = GetEnvironmentVariableW(L"QIMBO_STARTUP_TRACE", path, MAX_PATH) ? 1 : 2;
    if (state == 2) return;
  }
  // The precise clock is looked up, not imported: older systems lack it and
  // would refuse to start the program.
  typedef VOID(WINAPI * ClockFn)(LPFILETIME);
  static ClockFn clock = reinterpret_cast<ClockFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
  FILETIME created, exited, kernel, user, now;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  GetThreadTimes(GetCurrentThread(), &exited, &exited, &kernel, &user);
  if (clock)
    clock(&now);
  else
    GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER a, b;
  a.LowPart = created.dwLowDateTime;
  a.HighPart = created.dwHighDateTime;
  b.LowPart = now.dwLowDateTime;
  b.HighPart = now.dwHighDateTime;
  double ms = (b.QuadPart - a.QuadPart) / 10000.0;
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime;
  k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime;
  u.HighPart = user.dwHighDateTime;
  double cpu = (k.QuadPart + u.QuadPart) / 10000.0;
  if (FILE* f = _wfopen(path, L"a")) {
    fprintf(f, "%8.1f %7.1f %7.1f  %s\n", ms, ms - last, cpu, what);
    fclose(f);
  }
  last = ms;
}

}  // namespace qb

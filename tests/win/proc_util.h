// Starting a program and finding its main window from another process.
#pragma once
#include <windows.h>

#include <string>

namespace drv {

struct Proc {
  PROCESS_INFORMATION pi = {};
  // The program with no arguments, working in `dir` (empty: this one's).
  bool Start(const std::wstring& exe, const std::wstring& dir) { return Start(exe, L"", dir); }
  bool Start(const std::wstring& exe, const std::wstring& args, const std::wstring& dir) {
    std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    return CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                          dir.empty() ? nullptr : dir.c_str(), &si, &pi) != FALSE;
  }
  bool Ended(DWORD ms) { return pi.hProcess && WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
  DWORD ExitCode() {
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
  void Kill() {
    if (pi.hProcess && !Ended(0)) TerminateProcess(pi.hProcess, 9);
  }
  ~Proc() {
    Kill();
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
  }
};

// A visible top-level dialog of the process that holds a control `id`
// (0: any visible top-level window of the process).
struct FindData {
  DWORD pid;
  int id;
  HWND found;
};
inline BOOL CALLBACK FindProc(HWND wnd, LPARAM lp) {
  auto* d = reinterpret_cast<FindData*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != d->pid || !IsWindowVisible(wnd)) return TRUE;
  if (d->id && !GetDlgItem(wnd, d->id)) return TRUE;
  d->found = wnd;
  return FALSE;
}
inline HWND FindMainWindow(DWORD pid, int id) {
  FindData d = {pid, id, nullptr};
  EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
  return d.found;
}

}  // namespace drv

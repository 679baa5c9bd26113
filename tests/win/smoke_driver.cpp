// Starts Qimbo.exe, finds its window by caption, closes it and checks that the
// process ended with code 0. Usage: smoke_driver Qimbo.exe
#include <windows.h>

#include <cstdio>
#include <string>

static int Fail(const char* what) {
  fprintf(stderr, "smoke: %s (error %lu)\n", what, GetLastError());
  return 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Fail("usage: smoke_driver Qimbo.exe");
  std::wstring cmd = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(argv[1], &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return Fail("cannot start the program");
  const wchar_t* caption = L"Qimbo\u6536\u85CF";  // Qimbo收藏
  HWND wnd = nullptr;
  for (int i = 0; i < 300 && !wnd; ++i) {
    wnd = FindWindowW(nullptr, caption);
    if (!wnd) {
      if (WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0) return Fail("the program ended before showing its window");
    }
  }
  if (!wnd) {
    TerminateProcess(pi.hProcess, 9);
    return Fail("no window with the caption Qimbo收藏");
  }
  wchar_t text[64] = {};
  GetWindowTextW(wnd, text, 64);
  if (std::wstring(text) != caption) return Fail("caption differs");
  if (!IsWindowVisible(wnd)) return Fail("window is not visible");
  printf("smoke: window found and visible\n");
  PostMessageW(wnd, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, 15000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 9);
    return Fail("the program did not end after WM_CLOSE");
  }
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (code != 0) {
    fprintf(stderr, "smoke: exit code %lu\n", code);
    return 1;
  }
  printf("smoke: closed cleanly with exit code 0\n");
  return 0;
}

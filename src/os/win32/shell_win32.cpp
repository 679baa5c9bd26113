// Shell integration on Windows: ShellExecute's "open" verb, CreateProcess
// for command lines, and registry reads with code page 936 at the call.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "os/os_internal.h"
#include "os/shell.h"
#include "win/handles_win32.h"
#include "win/text_win32.h"

namespace os {

using qb::W;

namespace {

// The window tests run the program with QIMBO_SHELL_LOG naming a file: what
// would be opened is then written there (UTF-8, one request a line) instead.
int LogRequest(const ShellRequest& r) {
  const wchar_t* log = _wgetenv(L"QIMBO_SHELL_LOG");
  if (!log || !*log) return 0;
  HANDLE f = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  qb::KernelHandle file(f);
  std::string line = r.verb + "\t" + qb::ToUtf8(r.target) + "\t" + std::to_string(r.show) + "\n";
  DWORD written = 0;
  WriteFile(file.Get(), line.data(), (DWORD)line.size(), &written, nullptr);
  return 1;
}

int CallHook(const ShellRequest& r, int& result) {
  ShellHook hook = CurrentShellHook();
  if (!hook) {
    result = 1;
    return LogRequest(r);
  }
  result = hook(r);
  return 1;
}
}  // namespace

int ShellOpen(const std::string& target, int show) {
  int result = 0;
  if (CallHook(ShellRequest{"open", target, show}, result)) return result;
  HINSTANCE h = ShellExecuteW(nullptr, L"open", W(target).c_str(), nullptr, nullptr, show);
  return (INT_PTR)h > 32;
}

int RunCommandLine(const std::string& commandLine, int show) {
  int result = 0;
  if (CallHook(ShellRequest{"run", commandLine, show}, result)) return result;
  std::wstring cmd = W(commandLine);
  if (cmd.empty()) return 0;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = (WORD)show;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0;
  qb::KernelHandle thread(pi.hThread), process(pi.hProcess);  // the program runs on by itself
  return 1;
}

}  // namespace os

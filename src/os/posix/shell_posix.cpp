// Shell integration on Linux: documents and addresses go to xdg-open,
// command lines to /bin/sh. Both are started detached and never waited for.
#include <sys/wait.h>
#include <unistd.h>

#include "os/os.h"
#include "os/os_internal.h"
#include "os/shell.h"

namespace os {

namespace {
int CallHook(const ShellRequest& r, int& result) {
  ShellHook hook = CurrentShellHook();
  if (!hook) return 0;
  result = hook(r);
  return 1;
}

// Double fork so that the started program is not our child to reap.
int StartDetached(const char* file, const char* arg0, const char* arg1, const char* arg2) {
  pid_t pid = fork();
  if (pid < 0) return 0;
  if (pid == 0) {
    setsid();
    if (fork() == 0) {
      execlp(file, arg0, arg1, arg2, (char*)nullptr);
      _exit(127);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
}  // namespace

int ShellOpen(const std::string& target, int show) {
  int result = 0;
  if (CallHook(ShellRequest{"open", target, show}, result)) return result;
  if (target.empty()) return 0;
  bool address = target.find("://") != std::string::npos;
  std::string what = address ? target : NativePath(target);
  return StartDetached("xdg-open", "xdg-open", what.c_str(), nullptr);
}

int RunCommandLine(const std::string& commandLine, int show) {
  int result = 0;
  if (CallHook(ShellRequest{"run", commandLine, show}, result)) return result;
  if (commandLine.empty()) return 0;
  return StartDetached("/bin/sh", "sh", "-c", commandLine.c_str());
}

}  // namespace os

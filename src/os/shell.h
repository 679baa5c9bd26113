// Shell integration: opening documents and addresses and running command
// lines (the registry is os.h's). Tests replace
// the shell with a recorder so that nothing is really started.
#pragma once
#include <functional>
#include <string>

namespace os {

// Window show states, with the values Windows gives them.
enum : int { kShowNormal = 1, kShowMaximized = 3 };

// The "open" verb on a document, folder or address. 1 when the shell took it.
int ShellOpen(const std::string& target, int show);
// A command line started as a program (program path first, then arguments).
int RunCommandLine(const std::string& commandLine, int show);

// What a recorder is told: verb is "open" for ShellOpen, "run" for RunCommandLine.
struct ShellRequest {
  std::string verb;
  std::string target;
  int show;
};
using ShellHook = std::function<int(const ShellRequest&)>;
// While a hook is set every request goes to it instead of the system; an
// empty hook puts the system back.
void SetShellHook(ShellHook hook);

}  // namespace os

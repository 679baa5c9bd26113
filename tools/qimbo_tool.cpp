// qimbo-tool: the program's core on the command line, for backups, scripting and tests.
#include <cstdio>
#include <string>

#include "tool.h"

int main(int argc, char** argv) {
  if (argc < 2) return qtool::UsageError("", "no command given");
  std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    if (argc > 2 && qtool::FindGroup(argv[2])) {
      qtool::PrintUsage(stdout, argv[2]);
    } else {
      qtool::PrintUsage(stdout);
    }
    return 0;
  }
  if (cmd == "--version") cmd = "version";
  qtool::RunFn run = qtool::FindGroup(cmd);
  if (!run) return qtool::UsageError("", "unknown command '" + cmd + "'");
  if (argc > 2 && (std::string(argv[2]) == "--help" || std::string(argv[2]) == "-h")) {
    qtool::PrintUsage(stdout, cmd);
    return 0;
  }
  return run(argc - 1, argv + 1);
}

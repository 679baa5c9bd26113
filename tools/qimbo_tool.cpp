// qimbo-tool: the program's core on the command line, for backups, scripting and tests.
#include <cstdio>
#include <cstring>
#include <map>

#include "base/codepage.h"
#include "base/json.h"
#include "tool.h"

namespace qtool {

namespace {
struct Entry {
  RunFn run;
  const char* usage;
};
std::map<std::string, Entry>& Groups() {
  static std::map<std::string, Entry> groups;
  return groups;
}
}  // namespace

Registrar::Registrar(const char* group, RunFn run, const char* usage) { Groups()[group] = Entry{run, usage}; }

std::string Utf8(const std::string& gbk) { return qb::ToUtf8(gbk); }

void Error(const std::string& gbkText) { fprintf(stderr, "%s\n", Utf8(gbkText).c_str()); }

std::string JsonString(const std::string& gbk) { return qb::JsonQuote(Utf8(gbk)); }

}  // namespace qtool

static void Usage() {
  fprintf(stderr, "usage: qimbo-tool COMMAND ...\n");
  for (auto& g : qtool::Groups()) fprintf(stderr, "%s\n", g.second.usage);
}

int main(int argc, char** argv) {
  if (argc < 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "help")) {
    Usage();
    return argc < 2 ? 2 : 0;
  }
  auto it = qtool::Groups().find(argv[1]);
  if (it == qtool::Groups().end()) {
    fprintf(stderr, "qimbo-tool: unknown command '%s'\n", argv[1]);
    Usage();
    return 2;
  }
  return it->second.run(argc - 1, argv + 1);
}

// What every command group shares: the group table, messages, paths.
#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "base/codepage.h"
#include "base/json.h"
#include "os/os.h"
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
// Core path (GBK, '\') -> the path as typed, in GBK.
std::map<std::string, std::string>& TypedPaths() {
  static std::map<std::string, std::string> paths;
  return paths;
}
}  // namespace

Registrar::Registrar(const char* group, RunFn run, const char* usage) { Groups()[group] = Entry{run, usage}; }

RunFn FindGroup(const std::string& group) {
  auto it = Groups().find(group);
  return it == Groups().end() ? nullptr : it->second.run;
}

void PrintUsage(FILE* to, const std::string& group) {
  fprintf(to, group.empty() ? "usage: qimbo-tool COMMAND ...\n" : "usage: qimbo-tool\n");
  for (auto& g : Groups())
    if (group.empty() || g.first == group) fprintf(to, "%s\n", g.second.usage);
  if (group.empty())
    fprintf(to,
            "  --help, -h              this text; COMMAND --help: that command's\n"
            "  --version               the tool's version\n");
}

int UsageError(const std::string& group, const std::string& why) {
  if (!why.empty()) fprintf(stderr, "qimbo-tool: %s\n", why.c_str());
  PrintUsage(stderr, group);
  return 2;
}

std::string Utf8(const std::string& gbk) { return qb::ToUtf8(gbk); }

// Every path the core was given, in a message, named as it was typed: the
// longest first, so that a path and one inside it are each given back whole.
std::string WithTypedPaths(const std::string& gbkText) {
  std::vector<std::pair<std::string, std::string>> paths(TypedPaths().begin(), TypedPaths().end());
  std::sort(paths.begin(), paths.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  std::string out;
  for (size_t i = 0; i < gbkText.size();) {
    bool replaced = false;
    for (const auto& p : paths) {
      if (!p.first.empty() && gbkText.compare(i, p.first.size(), p.first) == 0) {
        // A path and what the core made of it ("X.bak", "X\\sub") keep the
        // typed form; the core's separators after it are the system's.
        out += p.second;
        i += p.first.size();
        while (i < gbkText.size() && gbkText[i] != ' ' && gbkText[i] != ':' && gbkText[i] != '"' &&
               gbkText[i] != '\'' && gbkText[i] != ',' && gbkText[i] != ';' && gbkText[i] != ')') {
          out.push_back(gbkText[i] == '\\' ? '/' : gbkText[i]);
          ++i;
        }
        replaced = true;
        break;
      }
    }
    if (replaced) continue;
    size_t n = qb::CharLenAt(gbkText, i);
    out.append(gbkText, i, n);
    i += n;
  }
  return out;
}

void Error(const std::string& gbkText) { fprintf(stderr, "%s\n", Utf8(WithTypedPaths(gbkText)).c_str()); }

std::string JsonString(const std::string& gbk) { return qb::JsonQuote(Utf8(gbk)); }

std::string PathArg(const std::string& typed) {
  std::string path = os::ProgramPath(typed);
  std::string gbk;
  qb::Utf8ToGbk(typed, gbk);
  TypedPaths()[path] = gbk;
  return path;
}

std::string Shown(const std::string& path) {
  auto it = TypedPaths().find(path);
  if (it != TypedPaths().end()) return it->second;
  std::string shown = path;  // made from a typed path: the system's separator
  for (char& c : shown)
    if (c == '\\') c = '/';
  return shown;
}

}  // namespace qtool

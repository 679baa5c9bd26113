// qimbo-tool: each command group registers itself from its own file.
#pragma once
#include <string>

namespace qtool {

using RunFn = int (*)(int argc, char** argv);  // argv[0] is the group name

struct Registrar {
  Registrar(const char* group, RunFn run, const char* usage);
};

// Prints a message in UTF-8 (converted from GBK) on stderr.
void Error(const std::string& gbkText);
// Text for output: GBK to UTF-8.
std::string Utf8(const std::string& gbk);
std::string JsonString(const std::string& gbk);  // quoted, escaped, UTF-8

}  // namespace qtool

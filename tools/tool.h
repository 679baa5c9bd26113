// qimbo-tool: each command group registers itself from its own file.
#pragma once
#include <cstdio>
#include <string>

namespace qtool {

using RunFn = int (*)(int argc, char** argv);  // argv[0] is the group name

struct Registrar {
  Registrar(const char* group, RunFn run, const char* usage);
};

// The group's run function, or null.
RunFn FindGroup(const std::string& group);
// The usage of every group (`group` empty) or of one.
void PrintUsage(FILE* to, const std::string& group = std::string());
// A usage error: `why` (when given) and the usage on stderr; returns 2.
int UsageError(const std::string& group, const std::string& why = std::string());

// Prints a message in UTF-8 (converted from GBK) on stderr; a path given
// through PathArg is named in it as it was typed, wherever it stands.
void Error(const std::string& gbkText);
// Text for output: GBK to UTF-8.
std::string Utf8(const std::string& gbk);
std::string JsonString(const std::string& gbk);  // quoted, escaped, UTF-8

// A path argument as the core takes it (GBK, '\' between folders); the tool
// remembers what was typed, and Shown() gives that back (GBK, for Error) so
// that messages name the path as the user wrote it.
std::string PathArg(const std::string& typed);
std::string Shown(const std::string& path);

}  // namespace qtool

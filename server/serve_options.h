// The named limits of "qimbo-server serve": each option sets one field of
// ServerOptions. Times are given in seconds or milliseconds as the name says.
#pragma once
#include <string>
#include <vector>

#include "server.h"

namespace qsrv {

struct LimitOptionInfo {
  const char* name;  // "--user-fail-limit"
  const char* help;  // what it limits
};

const std::vector<LimitOptionInfo>& LimitOptions();
bool IsLimitOption(const std::string& name);
// False with the reason in `error` when `name` is no limit option or `value`
// is no whole number in its range.
bool ApplyLimitOption(const std::string& name, const std::string& value, ServerOptions& opt, std::string& error);
// A line per option, for the usage text.
std::string LimitOptionsUsage();

}  // namespace qsrv

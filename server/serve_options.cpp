#include "serve_options.h"

#include <cstdlib>
#include <functional>

namespace qsrv {
namespace {

struct LimitOption {
  LimitOptionInfo info;
  long long lo, hi;
  std::function<void(ServerOptions&, long long)> set;
};

const long long kBig = 1000000000;  // no limit needs more

const std::vector<LimitOption>& Table() {
  static const std::vector<LimitOption> table = {
      {{"--login-fail-limit", "wrong passwords per address and window"}, 1, kBig,
       [](ServerOptions& o, long long v) { o.loginFailLimit = (int)v; }},
      {{"--user-fail-limit", "wrong passwords per user and window, from addresses he never logged in from"}, 1, kBig,
       [](ServerOptions& o, long long v) { o.userFailLimit = (int)v; }},
      {{"--login-fail-window-s", "the window of both, in seconds"}, 1, 86400,
       [](ServerOptions& o, long long v) { o.loginFailWindowMs = (uint64_t)v * 1000; }},
      {{"--fail-records", "addresses, and user numbers, whose wrong passwords are remembered"}, 1, 16 * 1048576,
       [](ServerOptions& o, long long v) { o.maxFailRecords = (size_t)v; }},
      {{"--known-logins", "(address, user) pairs remembered as having logged in"}, 0, kBig,
       [](ServerOptions& o, long long v) { o.maxKnownLogins = (size_t)v; }},
      {{"--pending-checks", "password checks waiting for a worker"}, 1, 65536,
       [](ServerOptions& o, long long v) { o.maxPendingChecks = (size_t)v; }},
      {{"--check-workers", "password checks at once (worker threads)"}, 1, 64,
       [](ServerOptions& o, long long v) { o.maxChecksAtOnce = (size_t)v; }},
      {{"--session-timeout-s", "seconds without a keep-alive after which a session ends (here and elsewhere)"}, 1,
       86400, [](ServerOptions& o, long long v) { o.sessionTimeoutMs = (uint64_t)v * 1000; }},
      {{"--sessions", "sessions at once"}, 1, kBig, [](ServerOptions& o, long long v) { o.maxSessions = (size_t)v; }},
      {{"--transfers", "uploads and downloads under way at once"}, 1, kBig,
       [](ServerOptions& o, long long v) { o.maxTransfers = (size_t)v; }},
      {{"--upload-bytes", "bytes staged by one upload"}, 1, kBig,
       [](ServerOptions& o, long long v) { o.maxStagedBytes = (size_t)v; }},
      {{"--staged-bytes", "bytes held by all uploads and downloads together"}, 1, 64 * kBig,
       [](ServerOptions& o, long long v) { o.maxStagedTotal = (size_t)v; }},
      {{"--reclaim-idle-s", "seconds a transfer must be idle to give way when room runs short"}, 1, 86400,
       [](ServerOptions& o, long long v) { o.reclaimIdleMs = (uint64_t)v * 1000; }},
      {{"--words-per-user", "leave-words waiting for one user"}, 1, kBig,
       [](ServerOptions& o, long long v) { o.maxWordsPerUser = (int)v; }},
      {{"--words-per-sender", "leave-words waiting from one sender for one user"}, 1, kBig,
       [](ServerOptions& o, long long v) { o.maxWordsPerSender = (int)v; }},
      {{"--circles-per-user", "circle memberships per user"}, 1, kBig,
       [](ServerOptions& o, long long v) { o.maxCirclesPerUser = (int)v; }},
      {{"--log-summary-s", "seconds over which repeated refusals are logged as one count"}, 1, 86400,
       [](ServerOptions& o, long long v) { o.logSummaryMs = (uint64_t)v * 1000; }},
      {{"--account-poll-ms", "how often password changes and deleted users are looked for"}, 10, 3600000,
       [](ServerOptions& o, long long v) { o.accountPollMs = (uint64_t)v; }},
  };
  return table;
}

}  // namespace

const std::vector<LimitOptionInfo>& LimitOptions() {
  static const std::vector<LimitOptionInfo> infos = [] {
    std::vector<LimitOptionInfo> v;
    for (const LimitOption& o : Table()) v.push_back(o.info);
    return v;
  }();
  return infos;
}

bool IsLimitOption(const std::string& name) {
  for (const LimitOption& o : Table())
    if (name == o.info.name) return true;
  return false;
}

bool ApplyLimitOption(const std::string& name, const std::string& value, ServerOptions& opt, std::string& error) {
  for (const LimitOption& o : Table()) {
    if (name != o.info.name) continue;
    char* end = nullptr;
    long long v = value.empty() ? 0 : strtoll(value.c_str(), &end, 10);
    if (value.empty() || *end != 0 || v < o.lo || v > o.hi) {
      error = name + " needs a whole number from " + std::to_string(o.lo) + " to " + std::to_string(o.hi);
      return false;
    }
    o.set(opt, v);
    return true;
  }
  error = "unknown option " + name;
  return false;
}

std::string LimitOptionsUsage() {
  std::string text;
  for (const LimitOption& o : Table()) {
    std::string name = std::string(o.info.name) + " N";
    text += "    " + name + std::string(name.size() < 26 ? 26 - name.size() : 1, ' ') + o.info.help + "\n";
  }
  return text;
}

}  // namespace qsrv

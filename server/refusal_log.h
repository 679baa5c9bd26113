// Refused requests come in floods. The first refusal of a kind is logged in
// full; the rest are counted, with the addresses they came from, and logged
// as one line per interval ("1234 more refused logins (...) from 200
// addresses in the last 10 s"). A kind that stays quiet for a whole interval
// is logged in full again the next time.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_set>

namespace qsrv {

class CRefusalLog {
 public:
  // Addresses remembered per kind and interval; beyond it the count says "more than".
  static const size_t kMaxAddresses = 65536;

  CRefusalLog(uint64_t intervalMs, std::function<void(const std::string&)> log)
      : m_intervalMs(intervalMs ? intervalMs : 1), m_log(std::move(log)) {}
  // `kind` names the refusal in the counts ("logins (too many wrong
  // passwords)"); `line` is the full text for the first one.
  void Note(const std::string& kind, const std::string& line, uint32_t address, uint64_t now);
  // Writes the counts of the intervals that have ended by `now` (of all
  // intervals with `all`, when the server stops).
  void Flush(uint64_t now, bool all = false);

 private:
  struct Kind {
    uint64_t start = 0;
    uint64_t count = 0;
    std::unordered_set<uint32_t> addresses;
    bool overflow = false;
  };
  // Writes the count of `k` if there is one; false when the kind fell quiet.
  bool Close(const std::string& name, Kind& k, uint64_t now);

  uint64_t m_intervalMs;
  std::function<void(const std::string&)> m_log;
  std::map<std::string, Kind> m_kinds;  // the kinds seen in the current interval
};

}  // namespace qsrv

#include "refusal_log.h"

namespace qsrv {

void CRefusalLog::Note(const std::string& kind, const std::string& line, uint32_t address, uint64_t now) {
  auto it = m_kinds.find(kind);
  if (it != m_kinds.end() && now - it->second.start >= m_intervalMs && !Close(kind, it->second, now)) {
    m_kinds.erase(it);
    it = m_kinds.end();
  }
  if (it == m_kinds.end()) {
    m_kinds[kind].start = now;
    return m_log(line);
  }
  Kind& k = it->second;
  ++k.count;
  if (k.addresses.size() < kMaxAddresses) k.addresses.insert(address);
  else if (!k.addresses.count(address)) k.overflow = true;
}

bool CRefusalLog::Close(const std::string& name, Kind& k, uint64_t now) {
  if (k.count == 0) return false;
  std::string from = (k.overflow ? "more than " : "") + std::to_string(k.addresses.size()) +
                     (k.addresses.size() == 1 && !k.overflow ? " address" : " addresses");
  m_log(std::to_string(k.count) + " more refused " + name + " from " + from + " in the last " +
        std::to_string((now - k.start + 500) / 1000) + " s");
  k.start = now;
  k.count = 0;
  k.addresses.clear();
  k.overflow = false;
  return true;
}

void CRefusalLog::Flush(uint64_t now, bool all) {
  for (auto it = m_kinds.begin(); it != m_kinds.end();)
    it = (all || now - it->second.start >= m_intervalMs) && !Close(it->first, it->second, now) ? m_kinds.erase(it)
                                                                                               : std::next(it);
}

}  // namespace qsrv

#include "login_gate.h"

namespace qsrv {

const char* RefusalText(Refusal why) {
  switch (why) {
    case Refusal::None: return "accepted";
    case Refusal::AddressBlocked: return "too many wrong passwords";
    case Refusal::UserBlocked: return "too many wrong passwords for this user";
    case Refusal::WrongPassword: return "unknown user or wrong password";
    case Refusal::CheckUnderWay: return "a password check is under way";
    case Refusal::ChecksFull: return "too many password checks waiting";
    case Refusal::TooManySessions: return "too many sessions";
    case Refusal::NoDatabase: return "the database cannot be reached";
  }
  return "refused";
}

template <typename Key>
void CFailTable<Key>::Note(Key key, uint64_t now, uint64_t windowMs, size_t max) {
  auto it = m_records.find(key);
  if (it != m_records.end() && now - it->second.start >= windowMs) {
    // A new window for this key: it moves to the young end.
    it->second.count = 0;
    it->second.start = now;
    m_byStart.splice(m_byStart.end(), m_byStart, it->second.place);
  }
  if (it == m_records.end()) {
    if (max == 0) return;
    Expire(now, windowMs);
    // Still full of live windows: the one that started first would end first anyway.
    if (m_records.size() >= max) {
      m_records.erase(m_byStart.front());
      m_byStart.pop_front();
    }
    m_byStart.push_back(key);
    Record r;
    r.start = now;
    r.place = std::prev(m_byStart.end());
    it = m_records.emplace(key, r).first;
  }
  ++it->second.count;
}

template <typename Key>
void CFailTable<Key>::Expire(uint64_t now, uint64_t windowMs) {
  while (!m_byStart.empty()) {
    auto it = m_records.find(m_byStart.front());
    if (now - it->second.start < windowMs) break;
    m_records.erase(it);
    m_byStart.pop_front();
  }
}

template class CFailTable<uint32_t>;
template class CFailTable<int32_t>;

Refusal CLoginGate::Admit(uint32_t address, int32_t user, uint64_t now, bool knownHere) const {
  if (m_addresses.Count(address, now, m_limits.windowMs) >= m_limits.addressFailLimit) return Refusal::AddressBlocked;
  if (!knownHere && !Known(address, user) && m_users.Count(user, now, m_limits.windowMs) >= m_limits.userFailLimit)
    return Refusal::UserBlocked;
  return Refusal::None;
}

void CLoginGate::NoteFailure(uint32_t address, int32_t user, bool userExists, uint64_t now) {
  m_addresses.Note(address, now, m_limits.windowMs, m_limits.maxFailRecords);
  if (userExists) m_users.Note(user, now, m_limits.windowMs, m_limits.maxFailRecords);
}

void CLoginGate::NoteSuccess(uint32_t address, int32_t user) {
  uint64_t key = PairKey(address, user);
  auto it = m_known.find(key);
  if (it != m_known.end()) {
    m_recent.splice(m_recent.begin(), m_recent, it->second);
    return;
  }
  if (m_limits.maxKnownPairs == 0) return;
  if (m_known.size() >= m_limits.maxKnownPairs) {
    m_known.erase(m_recent.back());
    m_recent.pop_back();
  }
  m_recent.push_front(key);
  m_known[key] = m_recent.begin();
}

int CLoginGate::Rank(uint32_t address, int32_t user, uint64_t now) const {
  if (Known(address, user)) return kKnown;
  if (m_addresses.Count(address, now, m_limits.windowMs) > 0) return kAddressFailing;
  return m_users.Count(user, now, m_limits.windowMs) > 0 ? kUserFailing : kClean;
}

void CLoginGate::Expire(uint64_t now) {
  m_addresses.Expire(now, m_limits.windowMs);
  m_users.Expire(now, m_limits.windowMs);
}

}  // namespace qsrv

// What a wrong password costs, and who has his password checked first.
//
// Wrong passwords are counted per source address and per user number within
// a window; over either limit, further passwords are refused unchecked. The
// user-number limit spares the (address, user) pairs that logged in before,
// so guessing one account from thousands of addresses does not lock its owner
// out where he usually logs in. Those known pairs also rank first for the slow
// checks, then addresses and users without recent failures, then users with
// failures, then addresses with failures.
#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

namespace qsrv {

// Why a password check said no (None: it said yes).
enum class Refusal {
  None,
  AddressBlocked,   // too many wrong passwords from this address
  UserBlocked,      // too many wrong passwords for this user, from addresses he never logged in from
  WrongPassword,    // or unknown user
  CheckUnderWay,    // this address has a check running or waiting already
  ChecksFull,       // the waiting checks are full of ones that rank as high or higher
  TooManySessions,
  NoDatabase,       // the database cannot be reached: nothing is known of the user
};
const char* RefusalText(Refusal why);

struct LoginLimits {
  int addressFailLimit = 5;
  int userFailLimit = 10;
  uint64_t windowMs = 60 * 1000;
  size_t maxFailRecords = 65536;  // per table: addresses, user numbers
  size_t maxKnownPairs = 65536;
};

// Failures per key within a window; bounded, the oldest window going first.
template <typename Key>
class CFailTable {
 public:
  // Failures of `key` within the window that `now` falls in.
  int Count(Key key, uint64_t now, uint64_t windowMs) const {
    auto it = m_records.find(key);
    return it == m_records.end() || now - it->second.start >= windowMs ? 0 : it->second.count;
  }
  void Note(Key key, uint64_t now, uint64_t windowMs, size_t max);
  void Expire(uint64_t now, uint64_t windowMs);
  size_t Size() const { return m_records.size(); }

 private:
  struct Record {
    int count = 0;
    uint64_t start = 0;
    typename std::list<Key>::iterator place;  // in m_byStart
  };
  std::unordered_map<Key, Record> m_records;
  std::list<Key> m_byStart;  // the keys, oldest window first
};

class CLoginGate {
 public:
  explicit CLoginGate(const LoginLimits& limits) : m_limits(limits) {}
  // The limits alone, before any password is compared. `knownHere`: the user
  // has logged in from this address (or holds a session there).
  Refusal Admit(uint32_t address, int32_t user, uint64_t now, bool knownHere) const;
  // A wrong password, or a user number that does not exist (`userExists`
  // false: counted for the address only, so made-up numbers fill no table).
  void NoteFailure(uint32_t address, int32_t user, bool userExists, uint64_t now);
  void NoteSuccess(uint32_t address, int32_t user);
  bool Known(uint32_t address, int32_t user) const { return m_known.count(PairKey(address, user)) != 0; }
  // The rank of a check now: kKnown, kClean, kUserFailing or kAddressFailing.
  static const int kKnown = 0, kClean = 1, kUserFailing = 2, kAddressFailing = 3;
  int Rank(uint32_t address, int32_t user, uint64_t now) const;
  void Expire(uint64_t now);

 private:
  static uint64_t PairKey(uint32_t address, int32_t user) { return (uint64_t)address << 32 | (uint32_t)user; }
  LoginLimits m_limits;
  CFailTable<uint32_t> m_addresses;
  CFailTable<int32_t> m_users;
  // Known pairs, the most recent first, and where each one sits in that list.
  std::list<uint64_t> m_recent;
  std::unordered_map<uint64_t, std::list<uint64_t>::iterator> m_known;
};

}  // namespace qsrv

// The server's protocol logic: sessions, logins, favorites transfers,
// circles, leave-words and the plaza. It owns no socket and reads no clock:
// the event loop hands it each datagram with the time, and it answers through
// IDatagramOut, which is what lets the tests drive it step by step.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/message.h"
#include "password.h"
#include "storage.h"

namespace qsrv {

// The program takes datagrams up to the UDP maximum, so that a favorite with a
// long address can travel both ways. Lists and leave-words are held to 1000
// bytes, which every version of the program accepts.
const size_t kMaxDatagram = 65507;
const size_t kMaxListDatagram = 1000;
const size_t kMaxLeaveWord = 1000;  // bytes of text stored per leave-word
const int kServerPorts = 5;

// Why a password check said no (None: it said yes).
enum class Refusal { None, AddressBlocked, WrongPassword, CheckBusy, TooManySessions };
const char* RefusalText(Refusal why);

class IDatagramOut {
 public:
  virtual ~IDatagramOut() {}
  // `payload` is the whole datagram: "<n>...\r\n" and its terminating zero.
  // It goes to `address` at the program's port 5030 + portIndex.
  virtual void SendDatagram(uint32_t address, int portIndex, const std::string& payload) = 0;
};

struct ServerOptions {
  int32_t newestVersion = 0;   // sent as VER after a login when not 0
  std::string chatAd;          // sent as CHATAD after a login when not empty
  uint64_t sessionTimeoutMs = 45ull * 60 * 1000;
  uint64_t resendMs = 1000;    // a download node not acknowledged by then goes again
  int resendLimit = 10;        // ... this many times, then the download is given up
  uint64_t uploadIdleMs = 60 * 1000;  // a staged upload without news for this long is dropped
  size_t maxSessions = 10000;
  int maxTreeNodes = 20000;
  size_t maxStagedBytes = 8u << 20;
  size_t maxTransfers = 64;    // uploads and downloads under way at once, which bounds their memory
  int maxWordsPerUser = 100;
  int maxCirclesPerUser = 5000;
  int loginFailLimit = 5;      // wrong passwords per address ...
  uint64_t loginFailWindowMs = 60 * 1000;  // ... within this window, then refused unchecked
  size_t maxFailRecords = 4096;
  size_t maxPendingChecks = 256;  // password checks waiting for a worker, one per address
  std::function<int64_t()> wallClock;           // seconds since 1970; time(nullptr) when empty
  std::function<void(const std::string&)> log;  // one line, no newline; stderr when empty
};

struct ServerCounters {
  uint64_t received = 0;
  uint64_t malformed = 0;  // no fields, missing fields, bad values
  uint64_t oversized = 0;
  uint64_t unknown = 0;    // a type or sub-type the server does not serve
  uint64_t refused = 0;    // wrong password, not logged in, over a limit
  uint64_t sent = 0;
};

class CServer {
 public:
  // Without `check`, passwords are checked at once on the calling thread.
  CServer(IStorage& storage, IDatagramOut& out, ServerOptions options, IPasswordCheck* check = nullptr);

  void OnDatagram(uint32_t address, int portIndex, const char* data, size_t size, uint64_t nowMs);
  // Resends, expiries and clean-up; call it a few times a second.
  void OnTick(uint64_t nowMs);

  const ServerCounters& Counters() const { return m_counters; }
  size_t SessionCount() const { return m_sessions.size(); }
  bool IsOnline(int32_t user) const { return m_sessions.count(user) != 0; }

 private:
  struct Upload {
    bool active = false;
    int32_t announced = 0;
    int32_t countNumber = 0;  // the COUNT request's number; older messages are stale
    std::vector<qb::NodeWire> nodes;
    size_t bytes = 0;
    bool haveLast = false;
    int32_t lastNumber = 0;  // request number of the last node stored
    uint64_t lastActivity = 0;
  };
  struct Download {
    bool active = false;
    int32_t reqNumber = 0;    // the program's request number; an older CANCEL is stale
    std::vector<qb::NodeWire> nodes;
    int32_t countNumber = 0;  // the COUNT message's number; node i goes as countNumber + 1 + i
    size_t next = 0;          // nodes acknowledged so far
    bool awaitingReady = true;
    int portIndex = 0;
    std::string pending;      // the datagram awaiting its acknowledgement
    uint64_t sentAt = 0;
    int tries = 0;
  };
  struct Session {
    int32_t user = 0;
    uint32_t address = 0;
    std::string nickname;
    std::string digest;  // keyed digest of the password, for cheap checks
    uint64_t lastSeen = 0;
    int32_t counter = 0;  // the server's own message numbers towards this user
    Upload up;
    Download down;
  };
  struct FailRecord {
    int count = 0;
    uint64_t windowStart = 0;
  };

  void Dispatch(uint32_t address, int k, const std::string& text, qb::FieldList& f, uint64_t now);
  void OnLogin(uint32_t address, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void OnLogout(uint32_t address, qb::FieldList& f);
  void OnKeepAlive(uint32_t address, qb::FieldList& f, uint64_t now);
  void OnReqWords(uint32_t address, qb::FieldList& f);
  void OnLeaveWord(uint32_t address, const std::string& text, qb::FieldList& f);
  void OnFav(uint32_t address, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void OnFavUp(Session& s, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void OnFavDown(Session& s, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void StartDownload(uint32_t address, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void FinishLogin(uint32_t address, int k, int32_t n, const UserRecord& rec, const std::string& password);
  void OnGroup(uint32_t address, int k, int32_t n, qb::FieldList& f);

  // The one password check of every message that carries a password: the
  // limits first, then (with `sessionFirst`, when `user` has a session at
  // `address`) the session's digest, else the stored hash on the check pool.
  // `done` gets None with the user's record, or the reason; it may run later.
  void CheckPassword(uint32_t address, int32_t user, const std::string& password, bool sessionFirst, uint64_t now,
                     std::function<void(Refusal, const UserRecord&)> done);
  // Calls `then` with the session of `user` at `address` whose password is
  // `password`: checked against the session's digest, or (no session yet,
  // e.g. after a restart) against the stored hash, which then makes the
  // session. Null when refused. `then` may run later, never after a Session
  // pointer went stale: it gets a fresh one.
  void Authenticate(uint32_t address, int32_t user, const std::string& password, uint64_t now, const char* what,
                    std::function<void(Session*)> then);
  bool BeginCheck(uint32_t address);
  size_t CountTransfers() const;
  Session* SessionAt(uint32_t address, int32_t user);
  Session* SessionAt(uint32_t address);
  Session* OpenSession(uint32_t address, const UserRecord& user, const std::string& password, uint64_t now);
  void EndSession(int32_t user, const char* why);
  bool LoginBlocked(uint32_t address, uint64_t now);
  void NoteLoginFailure(uint32_t address, uint64_t now);

  void Reply(uint32_t address, int k, int32_t n, const std::string& body);
  void Push(Session& s, const std::string& body);  // numbered from the session's counter
  int32_t NextNumber(Session& s, int32_t reserve = 1);
  std::string PlazaName(const Session& s) const;
  void SendPlazaList(Session& s);
  void SendCircleList(Session& s, const std::string& key);
  void SendDownloadStep(Session& s, uint64_t now);
  void CommitUpload(Session& s, int k, int32_t n);
  void DropUpload(Session& s, const char* why);
  void Log(const std::string& line);
  void Refused(uint32_t address, const std::string& what);

  IStorage& m_storage;
  IDatagramOut& m_out;
  CInlinePasswordCheck m_inlineCheck;
  IPasswordCheck* m_check;
  uint64_t m_now = 0;  // the time of the datagram or tick being handled
  std::unordered_map<uint32_t, bool> m_checking;  // addresses with a password check under way
  ServerOptions m_opt;
  ServerCounters m_counters;
  std::map<int32_t, Session> m_sessions;           // by user number
  std::unordered_map<uint32_t, int32_t> m_byAddress;  // address -> user number
  std::unordered_map<uint32_t, FailRecord> m_fails;
};

// True when `framed` (as FrameMessage gives it) fits with its zero byte.
inline bool FitsDatagram(const std::string& framed, size_t limit = kMaxListDatagram) {
  return framed.size() + 1 <= limit;
}

}  // namespace qsrv

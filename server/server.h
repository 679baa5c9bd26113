// The server's protocol logic: sessions, logins, favorites transfers,
// circles, leave-words and the plaza. It owns no socket and reads no clock:
// the event loop hands it each datagram with the time, and it answers through
// IDatagramOut, which is what lets the tests drive it step by step.
#pragma once
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "login_gate.h"
#include "net/message.h"
#include "password.h"
#include "refusal_log.h"
#include "storage.h"
#include "user_lookup.h"

namespace qsrv {

// The program takes datagrams up to the UDP maximum, so that a favorite with a
// long address can travel both ways. Lists and leave-words are held to 1000
// bytes, which every version of the program accepts.
const size_t kMaxDatagram = 65507;
const size_t kMaxListDatagram = 1000;
const size_t kMaxLeaveWord = 1000;  // bytes of text stored per leave-word
const int kServerPorts = 5;

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
  // A download message not acknowledged in time goes again: after resendMs
  // until a round trip is measured, then after the smoothed round trip plus
  // four times its variation (resendFloorMs to resendCeilingMs), doubled
  // after each resend; resendLimit times, then the download is given up.
  uint64_t resendMs = 1000;
  uint64_t resendFloorMs = 10;
  uint64_t resendCeilingMs = 3000;
  int resendLimit = 10;
  uint64_t uploadIdleMs = 60 * 1000;  // a staged upload without news for this long is dropped
  size_t maxSessions = 10000;
  int maxTreeNodes = 20000;
  size_t maxStagedBytes = 8u << 20;   // held by one upload
  size_t maxStagedTotal = 16u << 20;  // held by all uploads and downloads together
  size_t maxTransfers = 64;    // uploads and downloads under way at once
  uint64_t reclaimIdleMs = 7 * 1000;  // when room or transfers run short, one idle this long gives way
  int maxWordsPerUser = 100;
  int maxWordsPerSender = 10;  // leave-words waiting from one sender for one addressee
  int maxCirclesPerUser = 5000;
  int loginFailLimit = 5;      // wrong passwords per address ...
  int userFailLimit = 10;      // ... and per user, from addresses he never logged in from ...
  uint64_t loginFailWindowMs = 60 * 1000;  // ... within this window, then refused unchecked
  size_t maxFailRecords = 65536;  // addresses, and user numbers, with wrong passwords
  size_t maxKnownLogins = 65536;  // (address, user) pairs that logged in; their checks go first
  size_t maxPendingChecks = 256;  // password checks waiting, one per address
  size_t maxChecksAtOnce = 4;     // checks handed to the check pool at once (its worker count)
  uint64_t logSummaryMs = 10 * 1000;  // refusals of a kind after the first: one count per interval
  uint64_t accountPollMs = 1000;      // how often password changes and deleted users are looked for
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
  // Without `check`, passwords are checked at once on the calling thread;
  // without `lookup`, their users are looked up at once in `storage`;
  // without `writer`, trees, presence and events are written at once there.
  CServer(IStorage& storage, IDatagramOut& out, ServerOptions options, IPasswordCheck* check = nullptr,
          IUserLookup* lookup = nullptr, IDatabaseWriter* writer = nullptr);

  void OnDatagram(uint32_t address, int portIndex, const char* data, size_t size, uint64_t nowMs);
  // Resends, expiries and clean-up; call it a few times a second.
  void OnTick(uint64_t nowMs);
  // Download messages due to go again; when NextResendAt() has come.
  void ResendDue(uint64_t nowMs);
  // The earliest time a download message goes again; UINT64_MAX when none waits.
  uint64_t NextResendAt() const;
  // Logs the refusals counted so far; when the server stops.
  void FlushLog(uint64_t nowMs) { m_refusals.Flush(nowMs, true); }
  // Events from the other instances sharing the database (OnTick looks too).
  void OnClusterEvents(uint64_t nowMs);
  // Ends every session, telling the other instances; when the server stops.
  void Shutdown();
  // Between HoldLookups() and RunLookups(), the stored users that password
  // checks need are looked up together, in one query, when RunLookups comes
  // (the event loop holds them over the datagrams of one turn). Without
  // HoldLookups each is looked up by itself. With a lookup of its own the
  // answer comes later; while maxPendingChecks users wait for theirs, more
  // are refused.
  void HoldLookups() { m_holdLookups = true; }
  void RunLookups();
  // Readable when events of other instances may have come; -1 when none.
  int EventFd() const { return m_cluster ? m_cluster->EventFd() : -1; }

  const ServerCounters& Counters() const { return m_counters; }
  size_t SessionCount() const { return m_sessions.size(); }
  bool IsOnline(int32_t user) const { return m_sessions.count(user) != 0; }
  // Bytes held by staged uploads and running downloads.
  size_t StagedBytes() const { return m_stagedTotal; }

 private:
  struct Upload {
    bool active = false;
    int32_t announced = 0;
    int32_t countNumber = 0;  // the COUNT request's number; older messages are stale
    std::vector<qb::NodeWire> nodes;
    size_t bytes = 0;
    bool haveLast = false;
    int32_t lastNumber = 0;  // request number of the last node stored
    qb::NodeWire lastNode;   // that node, kept past the move of `nodes` to the store
    uint64_t lastActivity = 0;
    int32_t fromRevision = kAnyRevision;  // the revision it was made from, when the request named one
    bool storing = false;  // every node came; the writer is storing the tree
    uint64_t storeId = 0;  // which store its answer belongs to
  };
  // The answer to an upload's last node (stored or refused as stale), for
  // the program that sends that node again because the answer was lost.
  struct UploadEnd {
    bool have = false;
    int32_t number = 0;
    std::string body;
    qb::NodeWire node;  // the last node itself, which older programs send again under a later number
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
    uint64_t rto = 0;                 // the wait before `pending` goes again
    int64_t srtt = -1, rttvar = 0;    // the round trip measured, -1 before the first
    size_t bytes = 0;
    uint64_t lastActivity = 0;  // the request or the last acknowledgement
  };
  struct Session {
    int32_t user = 0;
    uint32_t address = 0;
    std::string nickname;
    std::string digest;  // keyed digest of the password, for cheap checks
    // The stored hash the session was opened or last renewed with, while no
    // account change was seen since; a login over the session checks it
    // without asking the database again (empty: it asks).
    std::string hash;
    uint64_t lastSeen = 0;
    uint64_t presenceAt = 0;  // when the shared presence was last written
    int32_t counter = 0;  // the server's own message numbers towards this user
    Upload up;
    UploadEnd upEnd;
    Download down;
    bool readingTree = false;  // a download's tree is being read by the writer
  };
  // A password check waiting for its user's record (see HoldLookups).
  struct Lookup {
    uint32_t address = 0;
    int32_t user = 0;
    std::string password;
    std::function<void(Refusal, const UserRecord&)> done;
    std::string wrongHash;  // the password was checked against this stored hash already, in vain
  };
  // A slow check waiting for the pool.
  struct WaitingCheck {
    uint32_t address = 0;
    int32_t user = 0;
    std::string hash, password;
    std::function<void(Refusal)> done;
    bool kept = false;  // against a session's kept hash: a mismatch asks the database, it is no failure yet
  };

  void Dispatch(uint32_t address, int k, const std::string& text, qb::FieldList& f, uint64_t now);
  void OnLogin(uint32_t address, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void OnLogout(uint32_t address, qb::FieldList& f, uint64_t now);
  void OnKeepAlive(uint32_t address, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void NoteDisplaced(int32_t user, uint32_t address);
  void OnReqWords(uint32_t address, qb::FieldList& f);
  void OnLeaveWord(uint32_t address, const std::string& text, qb::FieldList& f);
  void OnFav(uint32_t address, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void OnFavUp(Session& s, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void OnFavDown(Session& s, int k, int32_t n, qb::FieldList& f, uint64_t now);
  void StartDownload(uint32_t address, int k, int32_t n, qb::FieldList& f, uint64_t now);
  // The rest of StartDownload once the tree is read (`read`).
  void BeginDownload(Session& s, int k, int32_t n, bool read, std::vector<qb::NodeWire>& nodes, int32_t revision);
  void FinishLogin(uint32_t address, int k, int32_t n, const UserRecord& rec, const std::string& password);
  void AnswerLogin(uint32_t address, int k, int32_t n, int32_t user);  // OK, and what a new session is sent
  void OnGroup(uint32_t address, int k, int32_t n, qb::FieldList& f);

  // The one password check of every message that carries a password: the
  // limits first, then (with `sessionFirst`, when `user` has a session at
  // `address`) the session's digest, else the stored hash on the check pool.
  // Every wrong password counts toward the limits. `done` gets None with the
  // user's record, or the reason; it may run later.
  void CheckPassword(uint32_t address, int32_t user, const std::string& password, bool sessionFirst, uint64_t now,
                     std::function<void(Refusal, const UserRecord&)> done);
  // Each lookup's CheckStored, once `found` (the users that exist) is known;
  // `answered` false: the look-up failed.
  void FinishLookups(std::vector<Lookup>& lookups, bool answered, const std::vector<UserRecord>& found);
  // The rest of CheckPassword once the stored record is known (`exists`).
  // `kept`: against a session's kept hash, whose mismatch is no failure yet.
  void CheckStored(uint32_t address, int32_t user, const std::string& password, bool exists, UserRecord rec,
                   uint64_t now, const std::function<void(Refusal, const UserRecord&)>& done, bool kept = false);
  // Looks the user up (together with the other logins of the turn), then CheckStored.
  void AskStored(Lookup l);
  // Queues a slow check; when the queue is full it pushes out the newest
  // waiting check of a lower rank, or finds no room (false).
  bool QueueCheck(WaitingCheck check);
  // Hands waiting checks to the pool while it has room, best rank first,
  // then in order of arrival. One worker is kept for the known and clean
  // ranks: the others never take all of them.
  void RunChecks();
  int RankOf(const WaitingCheck& c) const { return m_gate.Rank(c.address, c.user, m_now); }
  // Calls `then` with the session of `user` at `address` whose password is
  // `password`: checked against the session's digest, or (no session yet,
  // e.g. after a restart) against the stored hash, which then makes the
  // session. Null when refused. `then` may run later, never after a Session
  // pointer went stale: it gets a fresh one.
  void Authenticate(uint32_t address, int32_t user, const std::string& password, uint64_t now, const char* what,
                    std::function<void(Session*)> then);
  size_t CountTransfers() const;
  Session* SessionAt(uint32_t address, int32_t user);
  Session* SessionAt(uint32_t address);
  // `known` runs once the other instances can see him (at once when nothing
  // is written elsewhere), if the session was opened.
  Session* OpenSession(uint32_t address, const UserRecord& user, const std::string& password, uint64_t now,
                       std::function<void()> known = nullptr);
  // `tellOthers`: the other instances are told he left.
  void EndSession(int32_t user, const char* why, bool tellOthers = true);
  void DeliverWords(Session& s);  // hands out his stored leave-words
  void RefreshPresence(uint64_t now);
  void PollAccountChanges(uint64_t now);

  // Staged bytes: every change of an upload or download goes through these.
  void ClearUpload(Session& s);
  void ClearDownload(Session& s);
  // True when `bytes` more for a transfer of `keep` (which then holds
  // `mine`) fit within the total, after dropping, as needed, transfers idle
  // for reclaimIdleMs, then the largest if it holds more than `mine`. So an
  // upload within the fair share (total / transfers) always finds room.
  bool MakeRoom(size_t bytes, size_t mine, const Session* keep, uint64_t now);
  // True when one more transfer may begin: if all are taken, one idle for
  // reclaimIdleMs gives way, else the largest if it holds more than its fair share.
  bool MakeTransferRoom(const Session* keep, uint64_t now);
  // Drops the transfer idle longest (at least reclaimIdleMs), other than `keep`'s.
  bool DropIdlest(const Session* keep, uint64_t now);
  // Drops the transfer holding the most bytes, more than `than`, other than `keep`'s.
  bool DropLargest(const Session* keep, size_t than);
  void DropTransfer(Session& s, bool upload, const char* why);

  void Reply(uint32_t address, int k, int32_t n, const std::string& body);
  void Push(Session& s, const std::string& body);  // numbered from the session's counter
  int32_t NextNumber(Session& s, int32_t reserve = 1);
  std::string PlazaName(const Session& s) const;
  void SendPlazaList(Session& s);
  void SendCircleList(Session& s, const std::string& key);
  void SendDownloadStep(Session& s, uint64_t now);
  void NoteRoundTrip(Download& d, uint64_t now);
  void CommitUpload(Session& s, int k, int32_t n);
  void FinishUpload(Session& s, int k, int32_t n, TreeWrite w, int32_t revision);
  // Runs `work` on the shared part: at once, or later on the writer in the
  // order handed over; then `after` (when given) with what it returned.
  void OnCluster(std::function<bool(ICluster&)> work, std::function<void(bool)> after = nullptr);
  void DropUpload(Session& s, const char* why);
  void Log(const std::string& line);
  // `kind` names what was refused, in the plural ("logins"); `what` says
  // which one, `why` (a fixed text) why. Floods are logged as counts.
  void Refused(uint32_t address, const char* kind, const std::string& what, const std::string& why);

  IStorage& m_storage;
  IDatagramOut& m_out;
  CInlinePasswordCheck m_inlineCheck;
  IPasswordCheck* m_check;
  ServerOptions m_opt;
  uint64_t m_now = 0;  // the time of the datagram or tick being handled
  bool m_clockStarted = false;
  ServerCounters m_counters;
  std::map<int32_t, Session> m_sessions;           // by user number
  std::unordered_map<uint32_t, int32_t> m_byAddress;  // address -> user number
  // Where a user was when a login of his from elsewhere ended that session:
  // a keep-alive from there is told so instead of taking the session back.
  std::unordered_map<int32_t, uint32_t> m_displaced;
  size_t m_stagedTotal = 0;
  std::unordered_set<int32_t> m_downloading;  // users with a download under way

  CLoginGate m_gate;
  std::list<WaitingCheck> m_waiting;        // in order of arrival; ranks change as failures come
  std::unordered_set<uint32_t> m_checking;  // addresses with a check waiting or under way
  size_t m_checksRunning = 0;
  size_t m_suspectsRunning = 0;  // ... of them, those of failing users or addresses
  bool m_runningChecks = false;
  bool m_holdLookups = false;
  std::vector<Lookup> m_lookups;  // held until RunLookups
  IUserLookup* m_lookup;           // null: looked up at once
  size_t m_lookupsWaiting = 0;     // handed to m_lookup, not answered yet

  CRefusalLog m_refusals;
  ICluster* m_cluster;  // null for a single instance
  IDatabaseWriter* m_writer;  // null: written at once
  uint64_t m_stores = 0;      // trees handed to m_writer so far
  int64_t m_accountChange = 0;  // the last account change seen
  uint64_t m_changeRounds = 0;  // looks at the account changes that found some
  uint64_t m_nextAccountPoll = 0;
};

// True when `framed` (as FrameMessage gives it) fits with its zero byte.
inline bool FitsDatagram(const std::string& framed, size_t limit = kMaxListDatagram) {
  return framed.size() + 1 <= limit;
}

}  // namespace qsrv

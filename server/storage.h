// Everything the server keeps across restarts: users, their favorites trees,
// circle memberships and leave-words. The server talks to storage only
// through this interface; SQL stays inside the implementation files.
#pragma once
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/message.h"

namespace qsrv {

struct UserRecord {
  int32_t number = 0;
  std::string hash;      // crypto_pwhash_str output; never the password
  std::string nickname;  // GBK
};

struct LeaveWord {
  int32_t from = 0;
  int64_t time = 0;   // seconds since 1970, when it was left
  std::string text;   // escaped chat text, as the sender sent it
};

// A tree's revision counts its stored uploads; 0 means none is stored.
const int32_t kAnyRevision = -1;
enum class TreeWrite { Stored, Stale, Failed };

// One tree of several stored together (StoreTrees): what to store, and how it went.
struct TreeJob {
  int32_t user = 0;
  std::vector<qb::NodeWire> nodes;
  int32_t fromRevision = kAnyRevision;
  TreeWrite result = TreeWrite::Failed;
  int32_t revision = -1;
};

class IStorage {
 public:
  virtual ~IStorage() {}

  // False when the user exists already or the write failed.
  virtual bool AddUser(const UserRecord& user) = 0;
  // Both note an account change (see AccountChangesSince).
  virtual bool SetPasswordHash(int32_t user, const std::string& hash) = 0;
  // Removes the user with the tree, memberships and leave-words to and from him.
  virtual bool DeleteUser(int32_t user) = 0;
  // The users whose password changed or who were deleted after change number
  // `seen` (by any process sharing the storage); `seen` becomes the newest
  // change number. Only the latest changes are kept, plenty for a server that
  // looks every second.
  virtual bool AccountChangesSince(int64_t& seen, std::vector<int32_t>& users) = 0;
  virtual bool FindUser(int32_t user, UserRecord& out) = 0;
  // The users of `numbers` that exist, each once, in any order, in one
  // look-up where the storage can; false when the look-up failed.
  virtual bool FindUsers(const std::vector<int32_t>& numbers, std::vector<UserRecord>& out) {
    out.clear();
    for (size_t i = 0; i < numbers.size(); ++i) {
      UserRecord u;
      if (std::find(numbers.begin(), numbers.begin() + i, numbers[i]) == numbers.begin() + i &&
          FindUser(numbers[i], u))
        out.push_back(u);
    }
    return true;
  }
  virtual bool ListUsers(std::vector<UserRecord>& out) = 0;

  // Replaces the whole stored tree at once (either all nodes or the old
  // tree) when its revision is still `fromRevision` (kAnyRevision: whatever
  // it is), and raises the revision by one. `revision` gets the new revision,
  // or the current one when Stale. Check and write are one transaction, so
  // of two uploads made from the same revision only one is stored.
  virtual TreeWrite StoreTree(int32_t user, const std::vector<qb::NodeWire>& nodes, int32_t fromRevision,
                              int32_t& revision) = 0;
  // Each job as StoreTree would, where the storage can in one commit for
  // all (a failure of one then stores the others one by one).
  virtual void StoreTrees(std::vector<TreeJob>& jobs) {
    for (TreeJob& j : jobs) j.result = StoreTree(j.user, j.nodes, j.fromRevision, j.revision);
  }
  bool ReplaceTree(int32_t user, const std::vector<qb::NodeWire>& nodes) {
    int32_t revision;
    return StoreTree(user, nodes, kAnyRevision, revision) == TreeWrite::Stored;
  }
  // The tree and its revision as they were at one moment.
  virtual bool LoadTree(int32_t user, std::vector<qb::NodeWire>& out, int32_t& revision) = 0;
  bool LoadTree(int32_t user, std::vector<qb::NodeWire>& out) {
    int32_t revision;
    return LoadTree(user, out, revision);
  }
  // The revision of the user's tree: 0 when none is stored, -1 on failure.
  virtual int32_t TreeRevision(int32_t user) = 0;
  virtual int CountTree(int32_t user) = 0;

  virtual bool AddMember(const std::string& key, int32_t user) = 0;
  virtual bool RemoveMember(const std::string& key, int32_t user) = 0;
  virtual bool ListMembers(const std::string& key, std::vector<int32_t>& out) = 0;  // in joining order
  virtual int CountMemberships(int32_t user) = 0;

  virtual bool AddLeaveWord(int32_t to, const LeaveWord& word) = 0;
  virtual int CountLeaveWords(int32_t to) = 0;
  virtual int CountLeaveWordsFrom(int32_t to, int32_t from) = 0;
  // Hands out every leave-word for `to`, oldest first, and forgets them.
  virtual bool TakeLeaveWords(int32_t to, std::vector<LeaveWord>& out) = 0;

  // False while the database cannot be reached: a failed look-up then says
  // nothing about the user.
  virtual bool Reachable() { return true; }
  // Exchanges with a database server so far, each a wait for its answer
  // (0 for a database inside the process).
  virtual uint64_t RoundTrips() const { return 0; }
  // The schema version of the database.
  virtual int SchemaVersion() = 0;
};

// The schema version this program writes; both back ends keep it in the
// table schema_version.
const int kSchemaVersion = 3;

// What instances sharing one database tell each other: who is online where,
// and events for the clients of another instance. A single instance on a
// SQLite file has none of this.
struct Presence {
  int32_t user = 0;
  uint32_t address = 0;
  std::string instance;
  std::string nickname;  // GBK
};

class ICluster {
 public:
  virtual ~ICluster() {}
  // This instance's name, unique among those sharing the database.
  virtual const std::string& Instance() const = 0;
  // Records `user` as online through this instance at `address`; `previous`
  // gets the instance he was online through before (empty when none or this
  // one). A `broadcast` event goes to every other instance with it, in one
  // step (as Notify("", broadcast)).
  virtual bool SetPresence(int32_t user, uint32_t address, const std::string& nickname, std::string& previous,
                           const std::string& broadcast = std::string()) = 0;
  // Notes a keep-alive of these users (of this instance) now.
  virtual bool TouchPresence(const std::vector<int32_t>& users) = 0;
  // Forgets `user` when he is online through this instance.
  virtual bool DropPresence(int32_t user) = 0;
  // Users online through other instances, with a keep-alive within `maxAgeMs`.
  virtual bool OthersOnline(uint64_t maxAgeMs, std::vector<Presence>& out) = 0;
  // The same for one user; false when he is not online elsewhere.
  virtual bool FindOnline(int32_t user, uint64_t maxAgeMs, Presence& out) = 0;
  // Forgets presence older than `maxAgeMs` (of instances that went away).
  virtual bool ExpirePresence(uint64_t maxAgeMs) = 0;
  // An event for one instance, or for every other one when `instance` is empty.
  virtual bool Notify(const std::string& instance, const std::string& event) = 0;
  // A descriptor that becomes readable when events may have come; -1 when none.
  virtual int EventFd() = 0;
  // The events that came for this instance since the last call.
  virtual void TakeEvents(std::vector<std::string>& out) = 0;
};

struct PgOptions {
  std::function<uint64_t()> clock;              // milliseconds, for the back-off; monotonic when empty
  std::function<void(const std::string&)> log;  // outages and recoveries; stderr when empty
  std::string instance;                         // a name of its own when empty
  bool listen = false;                          // receive events (a serving instance)
};

// Opens (creating when missing, readable by its owner only) a SQLite database
// file. Null on failure, with the reason in `error`.
std::unique_ptr<IStorage> OpenSqliteStorage(const std::string& path, std::string& error);

// Opens a PostgreSQL database ("postgresql://..." or "postgres://..."),
// creating the schema in an empty one. An older schema is refused unless
// `migrate`, which brings it up to date. Null on failure, with the reason.
std::unique_ptr<IStorage> OpenPgStorage(const std::string& url, const PgOptions& options, bool migrate,
                                        std::string& error);
bool IsPgUrl(const std::string& db);
// Either of the two, by the form of `db`.
std::unique_ptr<IStorage> OpenStorage(const std::string& db, const PgOptions& options, bool migrate,
                                      std::string& error);
// The shared part of a storage, when it has one.
ICluster* ClusterOf(IStorage& storage);

}  // namespace qsrv

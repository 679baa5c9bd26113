// The PostgreSQL storage, for several instances sharing one database. Every
// statement is prepared once per connection and run with its values passed
// apart from the text (binary format both ways), so no user data ever becomes
// SQL. A lost connection is noted once, retried with a growing pause, and
// every call in between fails at once instead of waiting.
#include <arpa/inet.h>
#include <endian.h>
#include <libpq-fe.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>

#include "storage.h"

namespace qsrv {
namespace {

const Oid kInt8 = 20, kText = 25, kBytea = 17, kInt8Array = 1016;

// Version 1: what every database had before versions were kept; 2 adds
// presence; 3 the trees' revisions (a tree stored before is revision 1).
const char* const kMigrations[] = {
    // to version 1
    "CREATE TABLE IF NOT EXISTS users(number bigint PRIMARY KEY, hash text NOT NULL, nickname bytea NOT NULL);"
    "CREATE TABLE IF NOT EXISTS nodes(\"user\" bigint NOT NULL, ord bigint NOT NULL, name bytea, kind bigint,"
    "  address bytea, parent bytea, icon bytea, note bytea, visits bigint, slot bigint, circle bytea,"
    "  PRIMARY KEY(\"user\", ord));"
    "CREATE TABLE IF NOT EXISTS members(id bigserial, key bytea NOT NULL, \"user\" bigint NOT NULL,"
    "  PRIMARY KEY(key, \"user\"));"
    "CREATE INDEX IF NOT EXISTS members_user ON members(\"user\");"
    "CREATE TABLE IF NOT EXISTS words(id bigserial PRIMARY KEY, target bigint NOT NULL, sender bigint NOT NULL,"
    "  time bigint NOT NULL, text bytea NOT NULL);"
    "CREATE INDEX IF NOT EXISTS words_target ON words(target);"
    "CREATE TABLE IF NOT EXISTS account_changes(id bigserial PRIMARY KEY, \"user\" bigint NOT NULL);",
    // to version 2
    "CREATE TABLE IF NOT EXISTS presence(\"user\" bigint PRIMARY KEY, address bigint NOT NULL,"
    "  instance text NOT NULL, nickname bytea NOT NULL, last_seen timestamptz NOT NULL);"
    "CREATE INDEX IF NOT EXISTS presence_instance ON presence(instance);",
    // to version 3
    "CREATE TABLE IF NOT EXISTS trees(\"user\" bigint PRIMARY KEY, revision bigint NOT NULL);"
    "INSERT INTO trees SELECT DISTINCT \"user\", 1 FROM nodes ON CONFLICT DO NOTHING;",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == kSchemaVersion, "one migration per version");

const int kKeptAccountChanges = 1000;
const uint64_t kFirstRetryMs = 500, kLongestRetryMs = 30000;
const size_t kCopyChunk = 64 * 1024;  // bytes handed to the link at a time in a copy
const char kBroadcastChannel[] = "qimbo_all";
// Who is online where lives only as long as the instances that wrote it: a
// crash of the database host that loses its last changes loses nothing the
// instances do not write again. Its statements do not wait for the disk at
// their commit, which every login and logout would otherwise do (the
// setting lasts to the end of the statement's own transaction). Everything
// else (users, trees, circles, leave-words) is flushed before a commit is
// answered.
#define QUIET_COMMIT "quiet AS (SELECT set_config('synchronous_commit', 'off', true) AS off)"
// The answer of OthersOnline is kept this long, or until an event of
// another instance comes; an instance without events asks every time.
const uint64_t kOthersKeptMs = 1000;

struct Statement {
  const char* name;
  const char* sql;
  std::vector<Oid> types;
};

const std::vector<Statement>& Statements() {
  static const std::vector<Statement> s = {
      {"add_user", "INSERT INTO users(number, hash, nickname) VALUES($1,$2,$3) ON CONFLICT DO NOTHING",
       {kInt8, kText, kBytea}},
      {"set_hash", "UPDATE users SET hash=$1 WHERE number=$2", {kText, kInt8}},
      {"del_nodes", "DELETE FROM nodes WHERE \"user\"=$1", {kInt8}},
      {"del_tree", "DELETE FROM trees WHERE \"user\"=$1", {kInt8}},
      {"tree_row", "INSERT INTO trees(\"user\", revision) VALUES($1, 0) ON CONFLICT DO NOTHING", {kInt8}},
      // Under read committed an update waiting for another's commit looks at
      // the row again: of two uploads from one revision only one matches. The
      // one that does clears its old nodes in the same statement.
      {"raise_revision",
       "WITH raised AS (UPDATE trees SET revision=revision+1 WHERE \"user\"=$1 AND ($2 < 0 OR revision=$2)"
       " RETURNING revision), cleared AS (DELETE FROM nodes WHERE \"user\"=$1 AND EXISTS (SELECT 1 FROM raised))"
       " SELECT revision FROM raised",
       {kInt8, kInt8}},
      {"tree_revision", "SELECT revision FROM trees WHERE \"user\"=$1", {kInt8}},
      {"del_members", "DELETE FROM members WHERE \"user\"=$1", {kInt8}},
      {"del_words", "DELETE FROM words WHERE target=$1 OR sender=$1", {kInt8}},
      {"del_user", "DELETE FROM users WHERE number=$1", {kInt8}},
      {"note_change", "INSERT INTO account_changes(\"user\") VALUES($1) RETURNING id", {kInt8}},
      {"trim_changes", "DELETE FROM account_changes WHERE id<=$1", {kInt8}},
      {"changes", "SELECT id, \"user\" FROM account_changes WHERE id>$1 ORDER BY id", {kInt8}},
      {"find_user", "SELECT number, hash, nickname FROM users WHERE number=$1", {kInt8}},
      {"find_users", "SELECT number, hash, nickname FROM users WHERE number=ANY($1)", {kInt8Array}},
      {"list_users", "SELECT number, hash, nickname FROM users ORDER BY number", {}},
      // The revision and the nodes in one statement, so of one moment: a
      // row with no node when the tree is empty.
      {"load_tree",
       "SELECT r.revision, n.ord, n.name, n.kind, n.address, n.parent, n.icon, n.note, n.visits, n.slot, n.circle"
       " FROM (SELECT (SELECT revision FROM trees WHERE \"user\"=$1) AS revision) r"
       " LEFT JOIN nodes n ON n.\"user\"=$1 ORDER BY n.ord",
       {kInt8}},
      {"count_tree", "SELECT COUNT(*) FROM nodes WHERE \"user\"=$1", {kInt8}},
      {"add_member", "INSERT INTO members(key, \"user\") VALUES($1,$2) ON CONFLICT DO NOTHING", {kBytea, kInt8}},
      {"remove_member", "DELETE FROM members WHERE key=$1 AND \"user\"=$2", {kBytea, kInt8}},
      {"list_members", "SELECT \"user\" FROM members WHERE key=$1 ORDER BY id", {kBytea}},
      {"count_memberships", "SELECT COUNT(*) FROM members WHERE \"user\"=$1", {kInt8}},
      {"add_word", "INSERT INTO words(target, sender, time, text) VALUES($1,$2,$3,$4)", {kInt8, kInt8, kInt8, kBytea}},
      {"count_words", "SELECT COUNT(*) FROM words WHERE target=$1", {kInt8}},
      {"count_words_from", "SELECT COUNT(*) FROM words WHERE target=$1 AND sender=$2", {kInt8, kInt8}},
      {"take_words", "DELETE FROM words WHERE target=$1 RETURNING id, sender, time, text", {kInt8}},
      // The instance he was on, read under a lock of his row before the row
      // is written (the write reads `old`, so it comes after): of two
      // instances taking him at once, the second learns of the first.
      // With a payload, its event goes to channel $5 at the same commit.
      {"set_presence",
       "WITH " QUIET_COMMIT ", old AS (SELECT instance FROM presence WHERE \"user\"=$1 FOR UPDATE),"
       " up AS (INSERT INTO presence(\"user\", address, instance, nickname, last_seen)"
       "  SELECT $1, $2, $3, $4, now() WHERE (SELECT count(*) FROM old) >= 0"
       "  ON CONFLICT(\"user\") DO UPDATE SET address=$2, instance=$3, nickname=$4, last_seen=now() RETURNING 1),"
       " told AS (SELECT pg_notify($5, $6) WHERE $6 <> '' AND (SELECT count(*) FROM up) = 1)"
       " SELECT (SELECT instance FROM old), (SELECT count(*) FROM up), (SELECT off FROM quiet),"
       " (SELECT count(*) FROM told)",
       {kInt8, kInt8, kText, kBytea, kText, kText}},
      {"touch_presence",
       "WITH " QUIET_COMMIT ", t AS (UPDATE presence SET last_seen=now() WHERE \"user\"=ANY($1) AND instance=$2"
       " RETURNING 1) SELECT (SELECT count(*) FROM t), (SELECT off FROM quiet)",
       {kInt8Array, kText}},
      {"drop_presence",
       "WITH " QUIET_COMMIT ", d AS (DELETE FROM presence WHERE \"user\"=$1 AND instance=$2 RETURNING 1)"
       " SELECT (SELECT count(*) FROM d), (SELECT off FROM quiet)",
       {kInt8, kText}},
      {"others_online",
       "SELECT \"user\", address, instance, nickname FROM presence WHERE instance<>$1"
       " AND last_seen > now() - $2 * interval '1 millisecond' ORDER BY last_seen",
       {kText, kInt8}},
      {"find_online",
       "SELECT \"user\", address, instance, nickname FROM presence WHERE \"user\"=$1 AND instance<>$2"
       " AND last_seen > now() - $3 * interval '1 millisecond'",
       {kInt8, kText, kInt8}},
      {"expire_presence",
       "WITH " QUIET_COMMIT ", d AS (DELETE FROM presence WHERE last_seen <= now() - $1 * interval '1 millisecond'"
       " RETURNING 1) SELECT (SELECT count(*) FROM d), (SELECT off FROM quiet)",
       {kInt8}},
      // An event is gone with the links if the database host fails, so its
      // commit (a notification makes one) need not wait for the disk either.
      {"notify", "WITH " QUIET_COMMIT " SELECT pg_notify($1, $2), (SELECT off FROM quiet)", {kText, kText}},
  };
  return s;
}

uint64_t SteadyMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

// Parameters in binary: integers as 8 big-endian bytes, text and bytes as they are.
class CParams {
 public:
  CParams& Int(int64_t v) {
    uint64_t be = htobe64((uint64_t)v);
    m_values.push_back(std::string((const char*)&be, 8));
    return *this;
  }
  CParams& Bytes(const std::string& s) {
    m_values.push_back(s);
    return *this;
  }
  // A one-dimensional array without nulls, in the binary form of an array
  // value: dimensions, flags, element type, length and lower bound, then
  // each element as its length and its bytes.
  template <typename T, typename F>
  CParams& Array(Oid element, const std::vector<T>& items, F bytesOf) {
    std::string a;
    auto put = [&a](uint32_t v) {
      uint32_t be = htonl(v);
      a.append((const char*)&be, 4);
    };
    put(items.empty() ? 0 : 1);
    put(0);
    put(element);
    if (!items.empty()) {
      put((uint32_t)items.size());
      put(1);
    }
    for (const T& item : items) {
      std::string b = bytesOf(item);
      put((uint32_t)b.size());
      a += b;
    }
    m_values.push_back(std::move(a));
    return *this;
  }
  template <typename T, typename F>
  CParams& Ints(const std::vector<T>& items, F intOf) {
    return Array(kInt8, items, [&intOf](const T& item) {
      uint64_t be = htobe64((uint64_t)(int64_t)intOf(item));
      return std::string((const char*)&be, 8);
    });
  }
  int Count() const { return (int)m_values.size(); }
  void Fill(std::vector<const char*>& v, std::vector<int>& len, std::vector<int>& fmt) const {
    for (const std::string& s : m_values) {
      v.push_back(s.data());
      len.push_back((int)s.size());
      fmt.push_back(1);
    }
  }

 private:
  std::vector<std::string> m_values;
};

class CResult {
 public:
  explicit CResult(PGresult* r = nullptr) : m_r(r) {}
  ~CResult() { PQclear(m_r); }
  CResult(CResult&& o) : m_r(o.m_r) { o.m_r = nullptr; }
  CResult& operator=(CResult&& o) {
    std::swap(m_r, o.m_r);
    return *this;
  }
  bool Ok() const {
    ExecStatusType s = m_r ? PQresultStatus(m_r) : PGRES_FATAL_ERROR;
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  int Rows() const { return m_r ? PQntuples(m_r) : 0; }
  int Changed() const { return m_r ? atoi(PQcmdTuples(m_r)) : 0; }
  bool Null(int row, int col) const { return PQgetisnull(m_r, row, col); }
  int64_t Int(int row, int col) const {
    if (Null(row, col) || PQgetlength(m_r, row, col) != 8) return 0;
    uint64_t be;
    memcpy(&be, PQgetvalue(m_r, row, col), 8);
    return (int64_t)be64toh(be);
  }
  std::string Bytes(int row, int col) const {
    if (Null(row, col)) return std::string();
    return std::string(PQgetvalue(m_r, row, col), (size_t)PQgetlength(m_r, row, col));
  }
  const char* Error() const { return m_r ? PQresultErrorMessage(m_r) : "no result"; }
  PGresult* m() const { return m_r; }

 private:
  PGresult* m_r;
};

std::string NewInstanceName() {
  char host[64] = "";
  gethostname(host, sizeof host - 1);
  std::random_device rd;
  char tail[32];
  snprintf(tail, sizeof tail, "-%d-%08x", (int)getpid(), (unsigned)rd());
  return std::string(host) + tail;
}

// The channel of one instance: a fixed prefix and a hash of its name, since
// channel names are identifiers of limited length.
std::string ChannelOf(const std::string& instance) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : instance) h = (h ^ c) * 1099511628211ull;
  char buf[40];
  snprintf(buf, sizeof buf, "qimbo_%016llx", (unsigned long long)h);
  return buf;
}

class CPgStorage : public IStorage, public ICluster {
 public:
  CPgStorage(const std::string& url, const PgOptions& opt) : m_url(url), m_opt(opt) {
    // A database host that does not answer must not hold the server for long.
    if (m_url.find("connect_timeout=") == std::string::npos)
      m_url += std::string(m_url.find('?') == std::string::npos ? "?" : "&") + "connect_timeout=3";
    if (m_opt.instance.empty()) m_opt.instance = NewInstanceName();
    m_channel = ChannelOf(m_opt.instance);
  }
  ~CPgStorage() override {
    if (m_conn) PQfinish(m_conn);
    if (m_listen) PQfinish(m_listen);
  }

  // The first connection: creates or migrates the schema, prepares everything.
  bool Open(bool migrate, std::string& error) {
    m_conn = PQconnectdb(m_url.c_str());
    if (PQstatus(m_conn) != CONNECTION_OK) {
      error = PQerrorMessage(m_conn);
      while (!error.empty() && error.back() == '\n') error.pop_back();
      return false;
    }
    Quiet(m_conn);
    // One instance migrates at a time; the others wait for it here.
    if (!Simple("SELECT pg_advisory_lock(7263544)", error)) return false;
    bool ok = Upgrade(migrate, error);
    std::string unlockError;
    Simple("SELECT pg_advisory_unlock(7263544)", unlockError);
    if (!ok || !Prepare(m_conn, error)) return false;
    if (m_opt.listen && !OpenListener(error)) return false;
    return true;
  }
  int SchemaVersion() override { return m_version; }

  // ---- IStorage ----
  bool AddUser(const UserRecord& u) override {
    CResult r = Run("add_user", CParams().Int(u.number).Bytes(u.hash).Bytes(u.nickname));
    return r.Ok() && r.Changed() == 1;
  }
  bool SetPasswordHash(int32_t user, const std::string& hash) override {
    if (!Begin()) return false;
    CResult r = Run("set_hash", CParams().Bytes(hash).Int(user));
    return Finish(r.Ok() && r.Changed() == 1 && NoteAccountChange(user));
  }
  bool DeleteUser(int32_t user) override {
    if (!Begin()) return false;
    bool ok = true;
    for (const char* s : {"del_nodes", "del_tree", "del_members", "del_words"}) ok = ok && Run(s, CParams().Int(user)).Ok();
    CResult r = Run("del_user", CParams().Int(user));
    return Finish(ok && r.Ok() && r.Changed() == 1 && NoteAccountChange(user));
  }
  bool AccountChangesSince(int64_t& seen, std::vector<int32_t>& users) override {
    users.clear();
    CResult r = Run("changes", CParams().Int(seen));
    if (!r.Ok()) return false;
    for (int i = 0; i < r.Rows(); ++i) {
      seen = r.Int(i, 0);
      users.push_back((int32_t)r.Int(i, 1));
    }
    return true;
  }
  bool FindUser(int32_t user, UserRecord& out) override {
    CResult r = Run("find_user", CParams().Int(user));
    if (!r.Ok() || r.Rows() != 1) return false;
    out = {(int32_t)r.Int(0, 0), r.Bytes(0, 1), r.Bytes(0, 2)};
    return true;
  }
  bool FindUsers(const std::vector<int32_t>& numbers, std::vector<UserRecord>& out) override {
    out.clear();
    if (numbers.empty()) return true;
    CResult r = Run("find_users", CParams().Ints(numbers, [](int32_t n) { return n; }));
    if (!r.Ok()) return false;
    for (int i = 0; i < r.Rows(); ++i) out.push_back({(int32_t)r.Int(i, 0), r.Bytes(i, 1), r.Bytes(i, 2)});
    return true;
  }
  bool ListUsers(std::vector<UserRecord>& out) override {
    out.clear();
    CResult r = Run("list_users", CParams());
    if (!r.Ok()) return false;
    for (int i = 0; i < r.Rows(); ++i) out.push_back({(int32_t)r.Int(i, 0), r.Bytes(i, 1), r.Bytes(i, 2)});
    return true;
  }

  using IStorage::LoadTree;
  TreeWrite StoreTree(int32_t user, const std::vector<qb::NodeWire>& nodes, int32_t fromRevision,
                      int32_t& revision) override {
    std::vector<TreeJob> one(1);
    one[0].user = user;
    one[0].nodes = nodes;
    one[0].fromRevision = fromRevision;
    StoreTrees(one);
    revision = one[0].revision;
    return one[0].result;
  }
  void StoreTrees(std::vector<TreeJob>& jobs) override {
    // In the order of their users, so that instances storing at once take
    // the rows' locks in one order and never wait for each other in a ring.
    std::vector<TreeJob*> order;
    for (TreeJob& j : jobs) order.push_back(&j);
    std::stable_sort(order.begin(), order.end(), [](const TreeJob* a, const TreeJob* b) { return a->user < b->user; });
    if (StoreTogether(order) || order.size() == 1) return;
    // One tree that cannot be stored must not cost the others theirs.
    for (TreeJob* j : order) StoreTogether({j});
  }
  int32_t TreeRevision(int32_t user) override {
    CResult r = Run("tree_revision", CParams().Int(user));
    if (!r.Ok()) return -1;
    return r.Rows() == 1 ? (int32_t)r.Int(0, 0) : 0;
  }
  bool LoadTree(int32_t user, std::vector<qb::NodeWire>& out, int32_t& revision) override {
    out.clear();
    CResult r = Run("load_tree", CParams().Int(user));
    if (!r.Ok() || r.Rows() < 1) return false;
    revision = (int32_t)r.Int(0, 0);  // 0 when none is stored
    for (int i = 0; i < r.Rows(); ++i) {
      if (r.Null(i, 1)) continue;  // the row of an empty tree
      qb::NodeWire n;
      n.name = r.Bytes(i, 2);
      n.kind = (int)r.Int(i, 3);
      n.address = r.Bytes(i, 4);
      n.parentName = r.Bytes(i, 5);
      n.iconPath = r.Bytes(i, 6);
      n.note = r.Bytes(i, 7);
      n.visits = (int32_t)r.Int(i, 8);
      n.slot = (int32_t)r.Int(i, 9);
      n.circle = r.Bytes(i, 10);
      out.push_back(std::move(n));
    }
    return true;
  }
  int CountTree(int32_t user) override { return Count("count_tree", CParams().Int(user)); }

  bool AddMember(const std::string& key, int32_t user) override {
    return Run("add_member", CParams().Bytes(key).Int(user)).Ok();
  }
  bool RemoveMember(const std::string& key, int32_t user) override {
    return Run("remove_member", CParams().Bytes(key).Int(user)).Ok();
  }
  bool ListMembers(const std::string& key, std::vector<int32_t>& out) override {
    out.clear();
    CResult r = Run("list_members", CParams().Bytes(key));
    if (!r.Ok()) return false;
    for (int i = 0; i < r.Rows(); ++i) out.push_back((int32_t)r.Int(i, 0));
    return true;
  }
  int CountMemberships(int32_t user) override { return Count("count_memberships", CParams().Int(user)); }

  bool AddLeaveWord(int32_t to, const LeaveWord& w) override {
    return Run("add_word", CParams().Int(to).Int(w.from).Int(w.time).Bytes(w.text)).Ok();
  }
  int CountLeaveWords(int32_t to) override { return Count("count_words", CParams().Int(to)); }
  int CountLeaveWordsFrom(int32_t to, int32_t from) override {
    return Count("count_words_from", CParams().Int(to).Int(from));
  }
  bool TakeLeaveWords(int32_t to, std::vector<LeaveWord>& out) override {
    out.clear();
    // One statement: two instances asking at once cannot both hand out a word.
    CResult r = Run("take_words", CParams().Int(to));
    if (!r.Ok()) return false;
    std::vector<std::pair<int64_t, LeaveWord>> got;
    for (int i = 0; i < r.Rows(); ++i) got.push_back({r.Int(i, 0), {(int32_t)r.Int(i, 1), r.Int(i, 2), r.Bytes(i, 3)}});
    std::sort(got.begin(), got.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& g : got) out.push_back(std::move(g.second));
    return true;
  }
  bool Reachable() override { return !m_down && m_conn && PQstatus(m_conn) == CONNECTION_OK; }
  uint64_t RoundTrips() const override { return m_roundTrips; }

  // ---- ICluster ----
  const std::string& Instance() const override { return m_opt.instance; }
  bool SetPresence(int32_t user, uint32_t address, const std::string& nickname, std::string& previous,
                   const std::string& broadcast) override {
    previous.clear();
    CResult r = Run("set_presence", CParams()
                                        .Int(user)
                                        .Int(address)
                                        .Bytes(m_opt.instance)
                                        .Bytes(nickname)
                                        .Bytes(kBroadcastChannel)
                                        .Bytes(broadcast.empty() ? "" : Payload(broadcast)));
    if (!r.Ok() || r.Rows() != 1 || r.Int(0, 1) != 1) return false;
    if (!r.Null(0, 0) && r.Bytes(0, 0) != m_opt.instance) previous = r.Bytes(0, 0);
    return true;
  }
  bool TouchPresence(const std::vector<int32_t>& users) override {
    if (users.empty()) return true;
    return Run("touch_presence", CParams().Ints(users, [](int32_t u) { return u; }).Bytes(m_opt.instance)).Ok();
  }
  bool DropPresence(int32_t user) override {
    return Run("drop_presence", CParams().Int(user).Bytes(m_opt.instance)).Ok();
  }
  bool OthersOnline(uint64_t maxAgeMs, std::vector<Presence>& out) override {
    // Logins ask at every one; with events coming, the answer of the last
    // second serves (the events of a change since it are yet to come, and
    // tell the server's users of the change then).
    uint64_t now = Now();
    if (m_listen && m_othersKept && m_othersAge == maxAgeMs && now - m_othersAt < kOthersKeptMs) {
      out = m_others;
      return true;
    }
    out.clear();
    m_othersKept = false;
    CResult r = Run("others_online", CParams().Bytes(m_opt.instance).Int((int64_t)maxAgeMs));
    if (!r.Ok()) return false;
    for (int i = 0; i < r.Rows(); ++i) {
      Presence p;
      p.user = (int32_t)r.Int(i, 0);
      p.address = (uint32_t)r.Int(i, 1);
      p.instance = r.Bytes(i, 2);
      p.nickname = r.Bytes(i, 3);
      out.push_back(std::move(p));
    }
    if (m_listen && !m_listenDown) {
      m_others = out;
      m_othersKept = true;
      m_othersAt = now;
      m_othersAge = maxAgeMs;
    }
    return true;
  }
  bool FindOnline(int32_t user, uint64_t maxAgeMs, Presence& out) override {
    CResult r = Run("find_online", CParams().Int(user).Bytes(m_opt.instance).Int((int64_t)maxAgeMs));
    if (!r.Ok() || r.Rows() != 1) return false;
    out.user = (int32_t)r.Int(0, 0);
    out.address = (uint32_t)r.Int(0, 1);
    out.instance = r.Bytes(0, 2);
    out.nickname = r.Bytes(0, 3);
    return true;
  }
  bool ExpirePresence(uint64_t maxAgeMs) override { return Run("expire_presence", CParams().Int((int64_t)maxAgeMs)).Ok(); }
  bool Notify(const std::string& instance, const std::string& event) override {
    std::string channel = instance.empty() ? kBroadcastChannel : ChannelOf(instance);
    return Run("notify", CParams().Bytes(channel).Bytes(Payload(event))).Ok();
  }
  // Every event names its sender, so that a broadcast is not handled by it again.
  std::string Payload(const std::string& event) const { return m_opt.instance + "\n" + event; }
  int EventFd() override {
    if (!m_listen || PQstatus(m_listen) != CONNECTION_OK) return -1;
    return PQsocket(m_listen);
  }
  void TakeEvents(std::vector<std::string>& out) override {
    out.clear();
    if (!m_listen) return;
    if (PQstatus(m_listen) != CONNECTION_OK || !PQconsumeInput(m_listen)) {
      m_othersKept = false;
      // The listening link broke: the storage link's retries decide when to try again.
      if (!m_listenDown) Log("database: the event link is lost; retrying");
      m_listenDown = true;
      uint64_t now = Now();
      if (now < m_listenRetryAt) return;
      m_listenRetryAt = now + kFirstRetryMs * 4;
      PQfinish(m_listen);
      m_listen = nullptr;
      std::string error;
      if (!OpenListener(error)) return;
      Log("database: the event link is back");
      m_listenDown = false;
      // Events sent meanwhile are lost: what depends on them is looked up again.
      out.push_back("resync");
      return;
    }
    while (PGnotify* n = PQnotifies(m_listen)) {
      std::string payload = n->extra ? n->extra : "";
      PQfreemem(n);
      size_t cut = payload.find('\n');
      if (cut == std::string::npos || payload.compare(0, cut, m_opt.instance) == 0) continue;
      out.push_back(payload.substr(cut + 1));
      m_othersKept = false;  // whatever it says, the next answer is asked afresh
    }
  }

 private:
  static void Quiet(PGconn* c) {
    // Notices (e.g. "relation exists, skipping") are of no interest to an operator.
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
  }
  PGresult* Exec(const char* sql) {
    ++m_roundTrips;
    return PQexec(m_conn, sql);
  }
  bool Simple(const char* sql, std::string& error) {
    CResult r(Exec(sql));
    if (!r.Ok()) error = r.Error();
    return r.Ok();
  }
  bool Upgrade(bool migrate, std::string& error) {
    std::string ignore;
    if (!Simple("CREATE TABLE IF NOT EXISTS schema_version(version integer NOT NULL)", error)) return false;
    CResult v(Exec("SELECT version FROM schema_version"));
    CResult users(Exec("SELECT to_regclass('users') IS NOT NULL"));
    if (!v.Ok() || !users.Ok()) {
      error = v.Ok() ? users.Error() : v.Error();
      return false;
    }
    bool empty = PQgetvalue(users.m(), 0, 0)[0] != 't';
    // Tables from before versions were kept are version 1; every step
    // creates only what is missing, so they are all taken from the first.
    int version = v.Rows() ? atoi(PQgetvalue(v.m(), 0, 0)) : empty ? 0 : 1;
    int from = v.Rows() ? version : 0;
    if (version > kSchemaVersion) {
      error = "the database has schema version " + std::to_string(version) + ", newer than this program's " +
              std::to_string(kSchemaVersion);
      return false;
    }
    if (version > 0 && version < kSchemaVersion && !migrate) {
      error = "the database has schema version " + std::to_string(version) + "; run \"qimbo-server db migrate\"";
      return false;
    }
    if (version < kSchemaVersion) {
      if (!Simple("BEGIN", error)) return false;
      bool ok = true;
      for (int i = from; ok && i < kSchemaVersion; ++i) ok = Simple(kMigrations[i], error);
      ok = ok && Simple("DELETE FROM schema_version", error);
      std::string set = "INSERT INTO schema_version VALUES(" + std::to_string(kSchemaVersion) + ")";
      ok = ok && Simple(set.c_str(), error) && Simple("COMMIT", error);
      if (!ok) {
        Simple("ROLLBACK", ignore);
        return false;
      }
    }
    m_version = kSchemaVersion;
    return true;
  }
  bool Prepare(PGconn* c, std::string& error) {
    for (const Statement& s : Statements()) {
      CResult r(PQprepare(c, s.name, s.sql, (int)s.types.size(), s.types.data()));
      if (!r.Ok()) {
        error = std::string(s.name) + ": " + r.Error();
        return false;
      }
    }
    return true;
  }
  bool OpenListener(std::string& error) {
    m_listen = PQconnectdb(m_url.c_str());
    if (PQstatus(m_listen) != CONNECTION_OK) {
      error = PQerrorMessage(m_listen);
      return false;
    }
    Quiet(m_listen);
    PQsetnonblocking(m_listen, 1);
    // Names from our own hash: plain identifiers, nothing of the user's.
    std::string sql = "LISTEN " + m_channel + "; LISTEN " + kBroadcastChannel;
    CResult r(PQexec(m_listen, sql.c_str()));
    if (!r.Ok()) {
      error = r.Error();
      return false;
    }
    return true;
  }

  uint64_t Now() const { return m_opt.clock ? m_opt.clock() : SteadyMs(); }
  void Log(const std::string& line) {
    if (m_opt.log) return m_opt.log(line);
    fprintf(stderr, "qimbo-server: %s\n", line.c_str());
  }

  // True when the link is up, or came back now.
  bool Connected() {
    if (!m_down && PQstatus(m_conn) == CONNECTION_OK) return true;
    uint64_t now = Now();
    if (!m_down) {
      m_down = true;
      // A transaction under way is gone with the link: its remaining
      // statements must not run on a new link outside of it.
      m_txBroken = m_inTransaction;
      m_downSince = now;
      m_retryMs = kFirstRetryMs;
      m_retryAt = now + kFirstRetryMs;
      Log("database: connection lost; retrying");
    }
    if (now < m_retryAt) return false;
    PQreset(m_conn);
    std::string error;
    if (PQstatus(m_conn) != CONNECTION_OK || !Prepare(m_conn, error)) {
      m_retryAt = now + m_retryMs;
      m_retryMs = std::min(m_retryMs * 2, kLongestRetryMs);
      return false;
    }
    Quiet(m_conn);
    m_down = false;
    m_inTransaction = false;
    Log("database: connection back after " + std::to_string((now - m_downSince) / 1000) + " s");
    return true;
  }
  CResult Run(const char* name, const CParams& p) {
    if (m_txBroken || !Connected()) return CResult();
    std::vector<const char*> v;
    std::vector<int> len, fmt;
    p.Fill(v, len, fmt);
    ++m_roundTrips;
    CResult r(PQexecPrepared(m_conn, name, p.Count(), v.data(), len.data(), fmt.data(), 1));
    if (!r.Ok() && PQstatus(m_conn) != CONNECTION_OK) Connected();  // notes the outage once
    return r;
  }
  bool Begin(const char* sql = "BEGIN") {
    m_txBroken = false;
    if (!Connected()) return false;
    CResult r(Exec(sql));
    m_inTransaction = r.Ok();
    return r.Ok();
  }
  // Commits when `ok`, else rolls back; true when committed.
  bool Finish(bool ok) {
    bool broken = m_txBroken;
    m_txBroken = false;
    if (!m_inTransaction || broken) {
      m_inTransaction = false;
      return false;
    }
    m_inTransaction = false;
    CResult r(Exec(ok ? "COMMIT" : "ROLLBACK"));
    if (!r.Ok() && PQstatus(m_conn) != CONNECTION_OK) Connected();
    return ok && r.Ok() && strcmp(PQcmdStatus(r.m()), "COMMIT") == 0;
  }
  // Statements sent at once and answered at once: one round trip however
  // many. Each gets its result (a failed one, and those after it in the same
  // transaction, fail); false when the link failed.
  typedef std::vector<std::pair<const char*, CParams>> Batch;
  bool Pipeline(const Batch& batch, std::vector<CResult>& out) {
    out.clear();
    out.resize(batch.size());
    if (m_txBroken || !Connected() || !PQenterPipelineMode(m_conn)) return false;
    ++m_roundTrips;
    bool ok = true;
    for (const auto& st : batch) {
      std::vector<const char*> v;
      std::vector<int> len, fmt;
      st.second.Fill(v, len, fmt);
      // Transaction control is plain text; the rest are prepared statements.
      bool plain = strcmp(st.first, "BEGIN") == 0 || strcmp(st.first, "COMMIT") == 0 || strcmp(st.first, "ROLLBACK") == 0;
      ok = ok && (plain ? PQsendQueryParams(m_conn, st.first, 0, nullptr, nullptr, nullptr, nullptr, 1)
                        : PQsendQueryPrepared(m_conn, st.first, st.second.Count(), v.data(), len.data(), fmt.data(), 1));
    }
    ok = ok && PQpipelineSync(m_conn);
    for (size_t i = 0; ok && i < batch.size(); ++i) {
      PGresult* r = PQgetResult(m_conn);
      ok = r != nullptr;
      out[i] = CResult(r);
      while (PGresult* rest = PQgetResult(m_conn)) PQclear(rest);  // each result ends with a null
    }
    if (ok) {
      CResult sync(PQgetResult(m_conn));
      ok = sync.m() && PQresultStatus(sync.m()) == PGRES_PIPELINE_SYNC;
    }
    if (!PQexitPipelineMode(m_conn) && PQstatus(m_conn) == CONNECTION_OK) {
      // Results left unread after a failure half way: the link starts afresh
      // rather than stay in this mode, and a transaction under way is gone.
      ok = false;
      m_txBroken = m_inTransaction;
      PQreset(m_conn);
      std::string error;
      if (PQstatus(m_conn) == CONNECTION_OK && Prepare(m_conn, error)) Quiet(m_conn);
    }
    if (!ok && PQstatus(m_conn) != CONNECTION_OK) Connected();  // notes the outage once
    return ok;
  }
  // Stores the trees in one transaction of two round trips: first each
  // revision is raised under a lock of its row when the upload was made from
  // it, its old nodes cleared in the same statement, and read; then the new
  // nodes of the raised ones come in one binary copy (the cheapest way in
  // for the database), with one commit (one wait for the disk) for all.
  // False when a failure undid the whole transaction; stale trees are no
  // failure.
  bool StoreTogether(const std::vector<TreeJob*>& jobs) {
    for (TreeJob* j : jobs) j->result = TreeWrite::Failed, j->revision = -1;
    Batch first = {{"BEGIN", CParams()}};
    for (TreeJob* j : jobs) {
      first.push_back({"tree_row", CParams().Int(j->user)});
      first.push_back({"raise_revision", CParams().Int(j->user).Int(j->fromRevision)});
      first.push_back({"tree_revision", CParams().Int(j->user)});
    }
    std::vector<CResult> r;
    bool ok = Pipeline(first, r);
    for (size_t i = 0; ok && i < r.size(); ++i) ok = r[i].Ok();
    if (!ok) return Undo();
    // A link lost from here on takes the transaction with it.
    m_inTransaction = true;
    std::vector<TreeJob*> raised;
    for (size_t i = 0; i < jobs.size(); ++i) {
      const CResult &raise = r[2 + 3 * i], &now = r[3 + 3 * i];
      TreeJob* j = jobs[i];
      if (raise.Rows() != 1) {
        // Stored from another revision meanwhile: nothing of this tree is written.
        j->result = TreeWrite::Stale;
        j->revision = now.Rows() == 1 ? (int32_t)now.Int(0, 0) : 0;
        continue;
      }
      j->revision = (int32_t)raise.Int(0, 0);
      raised.push_back(j);
    }
    if (raised.empty()) {
      // Only stale trees: nothing to keep.
      CResult undone(m_txBroken || !Connected() ? nullptr : Exec("ROLLBACK"));
      ok = undone.Ok() && strcmp(PQcmdStatus(undone.m()), "ROLLBACK") == 0;
    } else {
      // A user's later tree of the same batch replaces his earlier at once.
      std::vector<TreeJob*> kept;
      for (size_t i = 0; i < raised.size(); ++i)
        if (i + 1 == raised.size() || raised[i + 1]->user != raised[i]->user) kept.push_back(raised[i]);
      ok = CopyAndCommit(kept);
    }
    m_inTransaction = false;
    m_txBroken = false;
    if (!ok) {
      Undo();
      for (TreeJob* j : jobs) j->result = TreeWrite::Failed, j->revision = -1;
      return false;
    }
    for (TreeJob* j : raised) j->result = TreeWrite::Stored;
    return true;
  }
  // The trees' nodes in one binary copy (the cheapest way in for the
  // database), the commit in the same round trip; true when every node went
  // in and the commit held. A failed copy skips the commit.
  bool CopyAndCommit(const std::vector<TreeJob*>& trees) {
    if (m_txBroken || !Connected()) return false;
    ++m_roundTrips;
    if (!PQsendQuery(m_conn, "COPY nodes(\"user\", ord, name, kind, address, parent, icon, note, visits, slot, circle)"
                             " FROM STDIN (FORMAT binary); COMMIT"))
      return false;
    CResult start(PQgetResult(m_conn));
    const bool copying = PQresultStatus(start.m()) == PGRES_COPY_IN;
    bool sent = copying;
    std::string out("PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19);
    auto word = [&out](uint64_t v, int bytes) {
      for (int i = bytes - 1; i >= 0; --i) out += (char)(v >> (8 * i));
    };
    auto number = [&word](int64_t v) {
      word(8, 4);
      word((uint64_t)v, 8);
    };
    auto bytes = [&](const std::string& b) {
      word(b.size(), 4);
      out += b;
    };
    size_t nodes = 0;
    for (TreeJob* j : trees) {
      for (size_t i = 0; sent && i < j->nodes.size(); ++i, ++nodes) {
        const qb::NodeWire& n = j->nodes[i];
        word(11, 2);  // columns
        number(j->user);
        number((int64_t)i);
        bytes(n.name);
        number(n.kind);
        bytes(n.address);
        bytes(n.parentName);
        bytes(n.iconPath);
        bytes(n.note);
        number(n.visits);
        number(n.slot);
        bytes(n.circle);
        if (out.size() < kCopyChunk) continue;
        sent = PQputCopyData(m_conn, out.data(), (int)out.size()) == 1;
        out.clear();
      }
    }
    word(0xffff, 2);  // the end of the rows
    if (copying) {
      sent = sent && PQputCopyData(m_conn, out.data(), (int)out.size()) == 1;
      // Ended with an error when sending failed half way: nothing is kept.
      if (PQputCopyEnd(m_conn, sent ? nullptr : "the rows could not be sent") != 1) sent = false;
    }
    CResult copied(PQgetResult(m_conn)), committed(PQgetResult(m_conn));
    while (PGresult* rest = PQgetResult(m_conn)) PQclear(rest);
    // Every node or none: a copy short of its trees fails the whole.
    bool ok = sent && copied.Ok() && copied.Changed() == (int64_t)nodes && committed.Ok() &&
              strcmp(PQcmdStatus(committed.m()), "COMMIT") == 0;
    if (!ok && PQstatus(m_conn) != CONNECTION_OK) Connected();  // notes the outage once
    return ok;
  }
  // Ends a transaction that failed half way; false for the caller to return.
  bool Undo() {
    m_inTransaction = false;
    m_txBroken = false;
    if (!m_down && PQstatus(m_conn) == CONNECTION_OK) CResult undone(Exec("ROLLBACK"));
    return false;
  }
  bool NoteAccountChange(int32_t user) {
    CResult r = Run("note_change", CParams().Int(user));
    if (!r.Ok() || r.Rows() != 1) return false;
    return Run("trim_changes", CParams().Int(r.Int(0, 0) - kKeptAccountChanges)).Ok();
  }
  int Count(const char* name, const CParams& p) {
    CResult r = Run(name, p);
    return r.Ok() && r.Rows() == 1 ? (int)r.Int(0, 0) : -1;
  }

  std::string m_url;
  PgOptions m_opt;
  std::string m_channel;
  PGconn* m_conn = nullptr;
  PGconn* m_listen = nullptr;
  int m_version = 0;
  bool m_down = false, m_listenDown = false, m_inTransaction = false, m_txBroken = false;
  std::atomic<uint64_t> m_roundTrips{0};  // read by other threads (the bench's)
  uint64_t m_downSince = 0, m_retryAt = 0, m_retryMs = kFirstRetryMs, m_listenRetryAt = 0;
  std::vector<Presence> m_others;  // the last answer of OthersOnline ...
  bool m_othersKept = false;       // ... while it serves
  uint64_t m_othersAt = 0, m_othersAge = 0;
};

}  // namespace

bool IsPgUrl(const std::string& db) {
  return db.compare(0, 13, "postgresql://") == 0 || db.compare(0, 11, "postgres://") == 0;
}

std::unique_ptr<IStorage> OpenPgStorage(const std::string& url, const PgOptions& options, bool migrate,
                                        std::string& error) {
  std::unique_ptr<CPgStorage> s(new CPgStorage(url, options));
  if (!s->Open(migrate, error)) return nullptr;
  return s;
}

std::unique_ptr<IStorage> OpenStorage(const std::string& db, const PgOptions& options, bool migrate,
                                      std::string& error) {
  if (IsPgUrl(db)) return OpenPgStorage(db, options, migrate, error);
  return OpenSqliteStorage(db, error);
}

ICluster* ClusterOf(IStorage& storage) { return dynamic_cast<ICluster*>(&storage); }

}  // namespace qsrv

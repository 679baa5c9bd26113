// The SQLite storage: one file, nothing to set up. Text is stored as BLOBs
// because every text the server holds is GBK bytes, not UTF-8.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage.h"

namespace qsrv {
namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS users(number INTEGER PRIMARY KEY, hash TEXT NOT NULL, nickname BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS nodes(user INTEGER NOT NULL, ord INTEGER NOT NULL, name BLOB, kind INTEGER,"
    "  address BLOB, parent BLOB, icon BLOB, note BLOB, visits INTEGER, slot INTEGER, circle BLOB,"
    "  PRIMARY KEY(user, ord));"
    "CREATE TABLE IF NOT EXISTS members(key BLOB NOT NULL, user INTEGER NOT NULL, PRIMARY KEY(key, user));"
    "CREATE INDEX IF NOT EXISTS members_user ON members(user);"
    "CREATE TABLE IF NOT EXISTS words(id INTEGER PRIMARY KEY AUTOINCREMENT, target INTEGER NOT NULL,"
    "  sender INTEGER NOT NULL, time INTEGER NOT NULL, text BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS words_target ON words(target);"
    "CREATE TABLE IF NOT EXISTS account_changes(id INTEGER PRIMARY KEY AUTOINCREMENT, user INTEGER NOT NULL);"
    // Presence is what instances sharing a database tell each other; a file
    // serves one instance, so the table stays empty here.
    "CREATE TABLE IF NOT EXISTS presence(user INTEGER PRIMARY KEY, address INTEGER NOT NULL,"
    "  instance TEXT NOT NULL, nickname BLOB NOT NULL, last_seen INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS presence_instance ON presence(instance);"
    // One row per stored tree: its revision, raised by every stored upload.
    "CREATE TABLE IF NOT EXISTS trees(user INTEGER PRIMARY KEY, revision INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL);";

// Account changes kept for the servers to read; older ones are forgotten.
const int kKeptAccountChanges = 1000;

// One prepared statement, reset on every use.
class CStmt {
 public:
  CStmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
  ~CStmt() { sqlite3_finalize(m_stmt); }
  CStmt(const CStmt&) = delete;
  CStmt& operator=(const CStmt&) = delete;
  bool Ok() const { return m_stmt != nullptr; }
  CStmt& Bind(int i, int64_t v) {
    sqlite3_bind_int64(m_stmt, i, v);
    return *this;
  }
  CStmt& Bind(int i, const std::string& s) {
    sqlite3_bind_blob(m_stmt, i, s.data(), (int)s.size(), SQLITE_TRANSIENT);
    return *this;
  }
  CStmt& BindText(int i, const std::string& s) {
    sqlite3_bind_text(m_stmt, i, s.data(), (int)s.size(), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
  bool Run() {
    int rc = Step();
    Reset();
    return rc == SQLITE_DONE;
  }
  // A statement that did not prepare (its table is gone) has nothing to
  // reset, and sqlite3_clear_bindings does not take a null one.
  void Reset() {
    if (!m_stmt) return;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  int64_t Int(int col) { return sqlite3_column_int64(m_stmt, col); }
  std::string Blob(int col) {
    const void* p = sqlite3_column_blob(m_stmt, col);
    int n = sqlite3_column_bytes(m_stmt, col);
    return p ? std::string((const char*)p, (size_t)n) : std::string();
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

class CSqliteStorage : public IStorage {
 public:
  explicit CSqliteStorage(sqlite3* db) : m_db(db) {}
  ~CSqliteStorage() override { sqlite3_close(m_db); }

  bool Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
  int SchemaVersion() override {
    CStmt s(m_db, "SELECT version FROM schema_version");
    return s.Step() == SQLITE_ROW ? (int)s.Int(0) : 0;
  }
  // A file has one owner, so its schema is brought up to date on opening:
  // the tables are created when missing, then the version is set.
  bool Upgrade() {
    int version = SchemaVersion();
    if (version > kSchemaVersion) return false;
    if (version == kSchemaVersion) return true;
    CStmt del(m_db, "DELETE FROM schema_version");
    CStmt set(m_db, "INSERT INTO schema_version(version) VALUES(?)");
    if (!Exec("BEGIN")) return false;
    // Trees stored before revisions were kept are revision 1.
    bool ok = version >= 3 || Exec("INSERT OR IGNORE INTO trees(user, revision) SELECT DISTINCT user, 1 FROM nodes");
    ok = ok && del.Run() && set.Bind(1, kSchemaVersion).Run();
    if (!ok) Exec("ROLLBACK");
    return ok && Exec("COMMIT");
  }

  bool AddUser(const UserRecord& u) override {
    CStmt s(m_db, "INSERT INTO users(number, hash, nickname) VALUES(?,?,?)");
    return s.Bind(1, u.number).BindText(2, u.hash).Bind(3, u.nickname).Run();
  }
  bool SetPasswordHash(int32_t user, const std::string& hash) override {
    if (!Exec("BEGIN")) return false;
    bool ok;
    {
      CStmt s(m_db, "UPDATE users SET hash=? WHERE number=?");
      ok = s.BindText(1, hash).Bind(2, user).Run() && sqlite3_changes(m_db) == 1 && NoteAccountChange(user);
    }
    if (!ok) {
      Exec("ROLLBACK");
      return false;
    }
    return Exec("COMMIT");
  }
  bool DeleteUser(int32_t user) override {
    if (!Exec("BEGIN")) return false;
    bool ok = true;
    int changed = 0;
    const char* sqls[] = {"DELETE FROM nodes WHERE user=?", "DELETE FROM trees WHERE user=?",
                          "DELETE FROM members WHERE user=?",
                          "DELETE FROM words WHERE target=? OR sender=?", "DELETE FROM users WHERE number=?"};
    for (const char* sql : sqls) {
      CStmt s(m_db, sql);
      s.Bind(1, user);
      if (std::string(sql).find(" OR ") != std::string::npos) s.Bind(2, user);
      ok = ok && s.Run();
      changed = sqlite3_changes(m_db);
    }
    if (!ok || changed != 1 || !NoteAccountChange(user)) {
      Exec("ROLLBACK");
      return false;
    }
    return Exec("COMMIT");
  }
  bool AccountChangesSince(int64_t& seen, std::vector<int32_t>& users) override {
    users.clear();
    CStmt s(m_db, "SELECT id, user FROM account_changes WHERE id>? ORDER BY id");
    s.Bind(1, seen);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
      seen = s.Int(0);
      users.push_back((int32_t)s.Int(1));
    }
    return rc == SQLITE_DONE;
  }
  bool FindUser(int32_t user, UserRecord& out) override {
    CStmt s(m_db, "SELECT number, hash, nickname FROM users WHERE number=?");
    s.Bind(1, user);
    if (s.Step() != SQLITE_ROW) return false;
    out.number = (int32_t)s.Int(0);
    out.hash = s.Blob(1);
    out.nickname = s.Blob(2);
    return true;
  }
  bool ListUsers(std::vector<UserRecord>& out) override {
    out.clear();
    CStmt s(m_db, "SELECT number, hash, nickname FROM users ORDER BY number");
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) out.push_back({(int32_t)s.Int(0), s.Blob(1), s.Blob(2)});
    return rc == SQLITE_DONE;
  }

  using IStorage::LoadTree;
  TreeWrite StoreTree(int32_t user, const std::vector<qb::NodeWire>& nodes, int32_t fromRevision,
                      int32_t& revision) override {
    if (!Exec("BEGIN")) return TreeWrite::Failed;
    // Writing first takes the write lock, which holds until the commit: the
    // revision checked is the one replaced.
    CStmt row(m_db, "INSERT OR IGNORE INTO trees(user, revision) VALUES(?, 0)");
    CStmt raise(m_db, "UPDATE trees SET revision=revision+1 WHERE user=? AND (?<0 OR revision=?)");
    bool ok = row.Bind(1, user).Run() && raise.Bind(1, user).Bind(2, fromRevision).Bind(3, fromRevision).Run();
    if (ok && sqlite3_changes(m_db) != 1) {
      revision = TreeRevision(user);
      Exec("ROLLBACK");
      return revision < 0 ? TreeWrite::Failed : TreeWrite::Stale;
    }
    CStmt del(m_db, "DELETE FROM nodes WHERE user=?");
    ok = ok && del.Bind(1, user).Run();
    CStmt ins(m_db,
              "INSERT INTO nodes(user, ord, name, kind, address, parent, icon, note, visits, slot, circle)"
              " VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    for (size_t i = 0; ok && i < nodes.size(); ++i) {
      const qb::NodeWire& n = nodes[i];
      ok = ins.Bind(1, user).Bind(2, (int64_t)i).Bind(3, n.name).Bind(4, n.kind).Bind(5, n.address)
               .Bind(6, n.parentName).Bind(7, n.iconPath).Bind(8, n.note).Bind(9, n.visits).Bind(10, n.slot)
               .Bind(11, n.circle).Run();
    }
    revision = ok ? TreeRevision(user) : -1;
    if (!ok || revision < 0) {
      Exec("ROLLBACK");
      return TreeWrite::Failed;
    }
    return Exec("COMMIT") ? TreeWrite::Stored : TreeWrite::Failed;
  }
  int32_t TreeRevision(int32_t user) override {
    CStmt s(m_db, "SELECT revision FROM trees WHERE user=?");
    s.Bind(1, user);
    int rc = s.Step();
    return rc == SQLITE_ROW ? (int32_t)s.Int(0) : rc == SQLITE_DONE ? 0 : -1;
  }
  bool LoadTree(int32_t user, std::vector<qb::NodeWire>& out, int32_t& revision) override {
    out.clear();
    // One read transaction: the nodes and the revision of the same moment.
    if (!Exec("BEGIN")) return false;
    revision = TreeRevision(user);
    CStmt s(m_db,
            "SELECT name, kind, address, parent, icon, note, visits, slot, circle FROM nodes"
            " WHERE user=? ORDER BY ord");
    s.Bind(1, user);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
      qb::NodeWire n;
      n.name = s.Blob(0);
      n.kind = (int)s.Int(1);
      n.address = s.Blob(2);
      n.parentName = s.Blob(3);
      n.iconPath = s.Blob(4);
      n.note = s.Blob(5);
      n.visits = (int32_t)s.Int(6);
      n.slot = (int32_t)s.Int(7);
      n.circle = s.Blob(8);
      out.push_back(std::move(n));
    }
    s.Reset();
    Exec("COMMIT");
    return rc == SQLITE_DONE && revision >= 0;
  }
  int CountTree(int32_t user) override { return Count("SELECT COUNT(*) FROM nodes WHERE user=?", user); }

  bool AddMember(const std::string& key, int32_t user) override {
    CStmt s(m_db, "INSERT OR IGNORE INTO members(key, user) VALUES(?,?)");
    return s.Bind(1, key).Bind(2, user).Run();
  }
  bool RemoveMember(const std::string& key, int32_t user) override {
    CStmt s(m_db, "DELETE FROM members WHERE key=? AND user=?");
    return s.Bind(1, key).Bind(2, user).Run();
  }
  bool ListMembers(const std::string& key, std::vector<int32_t>& out) override {
    out.clear();
    CStmt s(m_db, "SELECT user FROM members WHERE key=? ORDER BY rowid");
    s.Bind(1, key);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) out.push_back((int32_t)s.Int(0));
    return rc == SQLITE_DONE;
  }
  int CountMemberships(int32_t user) override { return Count("SELECT COUNT(*) FROM members WHERE user=?", user); }

  bool AddLeaveWord(int32_t to, const LeaveWord& w) override {
    CStmt s(m_db, "INSERT INTO words(target, sender, time, text) VALUES(?,?,?,?)");
    return s.Bind(1, to).Bind(2, w.from).Bind(3, w.time).Bind(4, w.text).Run();
  }
  int CountLeaveWords(int32_t to) override { return Count("SELECT COUNT(*) FROM words WHERE target=?", to); }
  int CountLeaveWordsFrom(int32_t to, int32_t from) override {
    CStmt s(m_db, "SELECT COUNT(*) FROM words WHERE target=? AND sender=?");
    s.Bind(1, to).Bind(2, from);
    return s.Step() == SQLITE_ROW ? (int)s.Int(0) : -1;
  }
  bool TakeLeaveWords(int32_t to, std::vector<LeaveWord>& out) override {
    out.clear();
    if (!Exec("BEGIN")) return false;
    bool ok;
    {
      CStmt s(m_db, "SELECT sender, time, text FROM words WHERE target=? ORDER BY id");
      s.Bind(1, to);
      int rc;
      while ((rc = s.Step()) == SQLITE_ROW) out.push_back({(int32_t)s.Int(0), s.Int(1), s.Blob(2)});
      ok = rc == SQLITE_DONE;
    }
    if (ok) {
      CStmt d(m_db, "DELETE FROM words WHERE target=?");
      ok = d.Bind(1, to).Run();
    }
    if (!ok) {
      Exec("ROLLBACK");
      out.clear();
      return false;
    }
    return Exec("COMMIT");
  }

 private:
  // Inside the caller's transaction.
  bool NoteAccountChange(int32_t user) {
    CStmt add(m_db, "INSERT INTO account_changes(user) VALUES(?)");
    if (!add.Bind(1, user).Run()) return false;
    CStmt trim(m_db, "DELETE FROM account_changes WHERE id<=?");
    return trim.Bind(1, sqlite3_last_insert_rowid(m_db) - kKeptAccountChanges).Run();
  }
  int Count(const char* sql, int32_t v) {
    CStmt s(m_db, sql);
    s.Bind(1, v);
    return s.Step() == SQLITE_ROW ? (int)s.Int(0) : -1;
  }

  sqlite3* m_db;
};

}  // namespace

std::unique_ptr<IStorage> OpenSqliteStorage(const std::string& path, std::string& error) {
  // Create the file ourselves so that it is born readable by its owner only;
  // SQLite gives its journal files the same permissions.
  if (path != ":memory:") {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = "cannot open " + path;
      return nullptr;
    }
    close(fd);
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    error = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 2000);
  std::unique_ptr<CSqliteStorage> s(new CSqliteStorage(db));
  // WAL keeps the admin commands from blocking a running server for long.
  // Every commit is flushed to the disk before it returns: an upload is
  // answered as stored once its commit returns, and in this mode NORMAL
  // flushes only at checkpoints, so a power cut could take back trees
  // already answered.
  s->Exec("PRAGMA journal_mode=WAL");
  s->Exec("PRAGMA synchronous=FULL");
  if (!s->Exec(kSchema)) {
    error = sqlite3_errmsg(db);
    return nullptr;
  }
  if (!s->Upgrade()) {
    error = "the database has schema version " + std::to_string(s->SchemaVersion()) + ", newer than this program's " +
            std::to_string(kSchemaVersion);
    return nullptr;
  }
  return s;
}

}  // namespace qsrv

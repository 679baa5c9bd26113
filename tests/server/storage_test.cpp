// Both storages, SQLite on a real database file and PostgreSQL in a cluster
// of the suite's own, through one suite; and the user commands on both.
#include <gtest/gtest.h>
#include <sodium.h>
#include <sqlite3.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "os/os.h"
#include "password.h"
#include "pg_cluster.h"
#include "server_cli.h"
#include "storage.h"
#include "testutil.h"

using namespace qsrv;

namespace {

// The parameter names the back end: "sqlite" or "postgresql".
class StorageBackend : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (Pg()) {
      qbtest::CPgCluster& c = qbtest::CPgCluster::Shared();
      if (!c.Up()) GTEST_SKIP() << "PostgreSQL cannot be started here: " << c.Why();
      db = c.NewDatabase();
      ASSERT_FALSE(db.empty());
    } else {
      db = os::NativePath(dir / "users.db");
    }
  }
  bool Pg() const { return GetParam() == "postgresql"; }
  // Another connection to the same database each time.
  std::unique_ptr<IStorage> Open() {
    std::string error;
    PgOptions opt;
    opt.log = [this](const std::string& line) { log.push_back(line); };
    opt.clock = [this] { return clock; };
    std::unique_ptr<IStorage> s = OpenStorage(db, opt, false, error);
    EXPECT_TRUE(s) << error;
    return s;
  }
  // Runs SQL on the database beside the storage's own link.
  bool Sql(const std::string& sql) {
    if (Pg()) return qbtest::CPgCluster::Shared().Exec(db, sql);
    sqlite3* h = nullptr;
    bool ok = sqlite3_open(db.c_str(), &h) == SQLITE_OK &&
              sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(h);
    return ok;
  }

  qbtest::TempDir dir;
  std::string db;
  std::vector<std::string> log;
  uint64_t clock = 1000;
};

std::string BackendName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

class ServerStorage : public StorageBackend {};
INSTANTIATE_TEST_SUITE_P(Backends, ServerStorage, ::testing::Values("sqlite", "postgresql"), BackendName);

TEST_P(ServerStorage, DatabaseKeepsEverythingAcrossReopeningAndAFileIsPrivate) {
  std::string error;
  qb::NodeWire node = MakeSampleTree(2)[1];
  node.note = std::string("zero\0byte", 9);  // BLOBs keep any byte
  {
    std::unique_ptr<IStorage> s = Open();
    ASSERT_TRUE(s) << error;
    ASSERT_TRUE(s->AddUser({7, "hash7", "\xC0\xEE\xCB\xC4"}));
    EXPECT_FALSE(s->AddUser({7, "other", ""}));
    ASSERT_TRUE(s->ReplaceTree(7, {MakeSampleTree(1)[0], node}));
    ASSERT_TRUE(s->AddMember("k", 7));
    ASSERT_TRUE(s->AddLeaveWord(7, {8, 99, "w"}));
  }
  if (!Pg()) {
    struct stat st;
    ASSERT_EQ(0, stat(db.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_NE(0, stat((db + "-wal").c_str(), &st));  // closed: the log is folded in and gone
    // Kept in write-ahead mode, so that the admin commands do not hold up a running server.
    sqlite3* h = nullptr;
    sqlite3_stmt* mode = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(db.c_str(), &h));
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(h, "PRAGMA journal_mode", -1, &mode, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(mode));
    EXPECT_STREQ("wal", (const char*)sqlite3_column_text(mode, 0));
    sqlite3_finalize(mode);
    sqlite3_close(h);
  }
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  UserRecord u;
  ASSERT_TRUE(s->FindUser(7, u));
  EXPECT_EQ(7, u.number);
  EXPECT_EQ("hash7", u.hash);
  EXPECT_EQ("\xC0\xEE\xCB\xC4", u.nickname);
  std::vector<UserRecord> all;
  ASSERT_TRUE(s->ListUsers(all));
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ(7, all[0].number);
  EXPECT_EQ("hash7", all[0].hash);
  EXPECT_EQ("\xC0\xEE\xCB\xC4", all[0].nickname);
  std::vector<qb::NodeWire> tree;
  ASSERT_TRUE(s->LoadTree(7, tree));
  ASSERT_EQ(2u, tree.size());
  EXPECT_EQ(node.note, tree[1].note);
  EXPECT_EQ(node.address, tree[1].address);
  EXPECT_EQ(node.visits, tree[1].visits);
  EXPECT_EQ(node.circle, tree[1].circle);
  EXPECT_EQ(1, s->CountMemberships(7));
  EXPECT_EQ(1, s->CountLeaveWords(7));
  EXPECT_EQ(3, s->SchemaVersion());
}

TEST_P(ServerStorage, ReplacingATreeDropsTheOldNodesAndKeepsOrder) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->ReplaceTree(1, MakeSampleTree(50)));
  ASSERT_TRUE(s->ReplaceTree(2, MakeSampleTree(3)));
  std::vector<qb::NodeWire> small = MakeSampleTree(12);
  std::reverse(small.begin(), small.end());
  ASSERT_TRUE(s->ReplaceTree(1, small));
  std::vector<qb::NodeWire> got;
  ASSERT_TRUE(s->LoadTree(1, got));
  ASSERT_EQ(12u, got.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(small[i].name, got[i].name);
  EXPECT_EQ(3, s->CountTree(2));
}

// Every field of every node comes back as it went in: all byte values but
// zero, empty and long texts, the extremes of the numbers, in order; a tree
// of the largest size the server takes; and a tree of no nodes, which empties
// the stored one and still counts as a stored upload.
TEST_P(ServerStorage, EveryFieldOfEveryNodeComesBackAndAnEmptyTreeIsATree) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  std::vector<qb::NodeWire> tree = MakeSampleTree(300);
  std::string bytes;
  for (int c = 1; c < 256; ++c) bytes += (char)c;
  tree[1].name = bytes;
  tree[1].address = std::string(60000, 'a') + bytes;
  tree[2].note = tree[2].iconPath = tree[2].circle = tree[2].parentName = "";
  tree[3].visits = INT32_MAX;
  tree[3].slot = INT32_MIN;
  tree[4].kind = -1;
  tree[4].visits = -7;
  auto same = [](const std::vector<qb::NodeWire>& a, const std::vector<qb::NodeWire>& b) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " nodes against " << b.size();
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i].name != b[i].name || a[i].kind != b[i].kind || a[i].address != b[i].address ||
          a[i].parentName != b[i].parentName || a[i].iconPath != b[i].iconPath || a[i].note != b[i].note ||
          a[i].visits != b[i].visits || a[i].slot != b[i].slot || a[i].circle != b[i].circle)
        return ::testing::AssertionFailure() << "node " << i << " differs";
    return ::testing::AssertionSuccess();
  };
  int32_t rev = 0;
  ASSERT_EQ(TreeWrite::Stored, s->StoreTree(3, tree, 0, rev));
  std::vector<qb::NodeWire> got;
  ASSERT_TRUE(Open()->LoadTree(3, got, rev));
  EXPECT_TRUE(same(tree, got));
  EXPECT_EQ(1, rev);
  std::vector<qb::NodeWire> big = MakeSampleTree(20000);
  ASSERT_TRUE(s->ReplaceTree(4, big));
  uint64_t trips = s->RoundTrips();
  ASSERT_TRUE(s->LoadTree(4, got));
  EXPECT_TRUE(same(big, got));
  EXPECT_EQ(Pg() ? trips + 1 : 0u, s->RoundTrips()) << "a tree and its revision in one statement";
  ASSERT_EQ(TreeWrite::Stored, s->StoreTree(3, {}, 1, rev));
  EXPECT_EQ(2, rev);
  ASSERT_TRUE(s->LoadTree(3, got, rev));
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(2, rev);
  ASSERT_TRUE(s->LoadTree(99, got, rev));
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(0, rev) << "none stored";
  EXPECT_EQ(0, s->CountTree(3));
  EXPECT_EQ(20000, s->CountTree(4)) << "another user's tree stays";
}

// A tree's revision: 0 while none is stored, one more per stored tree; a
// write conditioned on an older revision changes nothing, also when it comes
// through another connection (another instance).
TEST_P(ServerStorage, ATreeWrittenFromAnOlderRevisionIsRefusedAndChangesNothing) {
  std::unique_ptr<IStorage> s = Open(), other = Open();
  ASSERT_TRUE(s && other);
  ASSERT_TRUE(s->AddUser({7, "h", ""}));
  EXPECT_EQ(0, s->TreeRevision(7));
  int32_t rev = -5;
  EXPECT_EQ(TreeWrite::Stale, s->StoreTree(7, MakeSampleTree(2), 1, rev)) << "nothing stored is revision 0";
  EXPECT_EQ(0, rev);
  EXPECT_EQ(TreeWrite::Stored, s->StoreTree(7, MakeSampleTree(2), 0, rev));
  EXPECT_EQ(1, rev);
  // Two machines that both downloaded revision 1: the first to store wins.
  std::vector<qb::NodeWire> mine = MakeSampleTree(3), theirs = MakeSampleTree(4);
  EXPECT_EQ(TreeWrite::Stored, other->StoreTree(7, theirs, 1, rev));
  EXPECT_EQ(2, rev);
  EXPECT_EQ(TreeWrite::Stale, s->StoreTree(7, mine, 1, rev));
  EXPECT_EQ(2, rev);
  std::vector<qb::NodeWire> got;
  ASSERT_TRUE(s->LoadTree(7, got, rev));
  EXPECT_EQ(4u, got.size());
  EXPECT_EQ(2, rev);
  // Without a revision (the programs before revisions) a tree always goes in.
  EXPECT_TRUE(s->ReplaceTree(7, mine));
  EXPECT_EQ(3, other->TreeRevision(7));
  ASSERT_TRUE(other->LoadTree(7, got, rev));
  EXPECT_EQ(3u, got.size());
  EXPECT_EQ(3, rev);
  EXPECT_EQ(0, s->TreeRevision(8)) << "each user's own";
  // Deleting the user forgets the revision with the tree.
  ASSERT_TRUE(s->DeleteUser(7));
  EXPECT_EQ(0, other->TreeRevision(7));
}

// A list handed in with something in it comes back holding the answer only.
// A row whose columns were emptied by hand (an administrator's repair)
// loads with empty text and zero numbers, not with whatever lay in memory.
TEST_P(ServerStorage, EmptiedColumnsOfANodeLoadAsNothing) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  std::vector<qb::NodeWire> tree = MakeSampleTree(3);
  ASSERT_TRUE(s->ReplaceTree(5, tree));
  ASSERT_TRUE(Sql("UPDATE nodes SET kind=NULL, visits=NULL, slot=NULL, address=NULL, note=NULL WHERE ord=2"));
  std::vector<qb::NodeWire> got;
  ASSERT_TRUE(s->LoadTree(5, got));
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ(tree[1].name, got[1].name);
  EXPECT_EQ(tree[1].visits, got[1].visits) << "the other rows keep theirs";
  EXPECT_EQ(tree[2].name, got[2].name);
  EXPECT_EQ(0, got[2].kind);
  EXPECT_EQ(0, got[2].visits);
  EXPECT_EQ(0, got[2].slot);
  EXPECT_EQ("", got[2].address);
  EXPECT_EQ("", got[2].note);
}

TEST_P(ServerStorage, AnAnswerReplacesWhatTheListHeld) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->AddUser({4, "h4", ""}));
  ASSERT_TRUE(s->ReplaceTree(4, MakeSampleTree(2)));
  ASSERT_TRUE(s->AddMember("k", 4));
  ASSERT_TRUE(s->AddLeaveWord(4, {5, 99, "w"}));
  std::vector<UserRecord> users(3);
  std::vector<qb::NodeWire> tree = MakeSampleTree(5);
  std::vector<int32_t> members = {8, 9};
  std::vector<LeaveWord> words(2);
  ASSERT_TRUE(s->ListUsers(users));
  ASSERT_TRUE(s->LoadTree(4, tree));
  ASSERT_TRUE(s->ListMembers("k", members));
  ASSERT_TRUE(s->TakeLeaveWords(4, words));
  ASSERT_EQ(1u, users.size());
  EXPECT_EQ(4, users[0].number);
  EXPECT_EQ(2u, tree.size());
  EXPECT_EQ(std::vector<int32_t>{4}, members);
  ASSERT_EQ(1u, words.size());
  EXPECT_EQ("w", words[0].text);
}

TEST_P(ServerStorage, MembersLeaveWordsAndDeletingAUser) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  for (int u : {1, 2, 3}) ASSERT_TRUE(s->AddUser({u, "h", ""}));
  s->AddMember("c", 2);
  s->AddMember("c", 1);
  s->AddMember("c", 2);  // twice is once
  s->AddMember("d", 2);
  std::vector<int32_t> m;
  ASSERT_TRUE(s->ListMembers("c", m));
  EXPECT_EQ((std::vector<int32_t>{2, 1}), m);
  ASSERT_TRUE(s->RemoveMember("d", 2));
  ASSERT_TRUE(s->RemoveMember("c", 3));  // not a member: nothing to remove
  ASSERT_TRUE(s->ListMembers("d", m));
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(1, s->CountMemberships(2));
  s->AddLeaveWord(1, {2, 10, "first"});
  s->AddLeaveWord(1, {3, 11, "second"});
  s->AddLeaveWord(3, {2, 12, "to three"});
  std::vector<LeaveWord> w;
  ASSERT_TRUE(s->TakeLeaveWords(1, w));
  ASSERT_EQ(2u, w.size());
  EXPECT_EQ("first", w[0].text);
  EXPECT_EQ(3, w[1].from);
  EXPECT_EQ(11, w[1].time);
  EXPECT_EQ(0, s->CountLeaveWords(1));
  s->ReplaceTree(2, MakeSampleTree(4));
  ASSERT_TRUE(s->DeleteUser(2));
  EXPECT_FALSE(s->DeleteUser(2));
  UserRecord u;
  EXPECT_FALSE(s->FindUser(2, u));
  EXPECT_EQ(0, s->CountTree(2));
  EXPECT_EQ(0, s->CountMemberships(2));
  EXPECT_EQ(0, s->CountLeaveWords(3));  // the words he left go with him
  ASSERT_TRUE(s->ListMembers("c", m));
  EXPECT_EQ((std::vector<int32_t>{1}), m);
}

// A statement the database refuses half way through a tree, through taking
// the leave-words or through noting an account change, leaves everything as it was.
TEST_P(ServerStorage, ARefusalHalfWayLeavesEverythingAsItWas) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->ReplaceTree(7, MakeSampleTree(10)));
  ASSERT_TRUE(s->AddLeaveWord(7, {8, 99, "w"}));
  ASSERT_TRUE(s->AddUser({7, "h7", ""}));
  ASSERT_TRUE(s->AddUser({9, "h9", ""}));
  ASSERT_TRUE(s->ReplaceTree(9, MakeSampleTree(1)));
  ASSERT_TRUE(s->AddMember("c", 9));
  ASSERT_TRUE(Sql(Pg() ? "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION 'no'; END$$;"
                         "CREATE TRIGGER refuse_node BEFORE INSERT ON nodes FOR EACH ROW WHEN (NEW.ord = 2)"
                         " EXECUTE FUNCTION refuse();"
                         "CREATE TRIGGER refuse_take BEFORE DELETE ON words FOR EACH ROW EXECUTE FUNCTION refuse();"
                         "CREATE TRIGGER refuse_note BEFORE INSERT ON account_changes FOR EACH ROW EXECUTE FUNCTION refuse()"
                       : "CREATE TRIGGER refuse_node BEFORE INSERT ON nodes WHEN NEW.ord = 2"
                         " BEGIN SELECT RAISE(ABORT, 'no'); END;"
                         "CREATE TRIGGER refuse_take BEFORE DELETE ON words BEGIN SELECT RAISE(ABORT, 'no'); END;"
                         "CREATE TRIGGER refuse_note BEFORE INSERT ON account_changes BEGIN SELECT RAISE(ABORT, 'no'); END"));
  // An account change the other servers could not be told of is not made.
  EXPECT_FALSE(s->SetPasswordHash(7, "h8"));
  EXPECT_FALSE(s->DeleteUser(7));
  UserRecord u;
  ASSERT_TRUE(s->FindUser(7, u));
  EXPECT_EQ("h7", u.hash);
  EXPECT_FALSE(s->ReplaceTree(7, MakeSampleTree(5)));
  std::vector<qb::NodeWire> tree;
  ASSERT_TRUE(s->LoadTree(7, tree));
  ASSERT_EQ(10u, tree.size());
  EXPECT_EQ(MakeSampleTree(10)[9].name, tree[9].name);
  std::vector<LeaveWord> w = {{1, 2, "stale"}};
  EXPECT_FALSE(s->TakeLeaveWords(7, w));
  EXPECT_TRUE(w.empty());
  EXPECT_EQ(1, s->CountLeaveWords(7));
  // Two nodes go in before the refused third: a tree that small is taken.
  ASSERT_TRUE(s->ReplaceTree(7, MakeSampleTree(2)));
  EXPECT_EQ(2, s->CountTree(7));
  // A deletion that fails at its third step (the table is gone) keeps the
  // node and the membership its first two steps had removed.
  ASSERT_TRUE(Sql(Pg() ? "DROP TRIGGER refuse_note ON account_changes; DROP TABLE words"
                       : "DROP TRIGGER refuse_note; DROP TABLE words"));
  EXPECT_FALSE(s->DeleteUser(9));
  EXPECT_TRUE(s->FindUser(9, u));
  EXPECT_EQ(1, s->CountTree(9));
  EXPECT_EQ(1, s->CountMemberships(9));
}

// A count the database cannot make is -1, never a count; a list or account
// changes it cannot read are a failure, never "none".
TEST_P(ServerStorage, ACountOrAListThatCannotBeMadeIsAFailure) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->AddUser({5, "h", ""}));
  ASSERT_TRUE(Sql("DROP TABLE words; DROP TABLE members; DROP TABLE nodes; DROP TABLE account_changes;"
                  "DROP TABLE users; DROP TABLE presence"));
  std::vector<UserRecord> users5 = {{9, "stale", ""}};
  EXPECT_FALSE(s->ListUsers(users5));
  EXPECT_TRUE(users5.empty());
  std::vector<qb::NodeWire> tree = MakeSampleTree(1);
  EXPECT_FALSE(s->LoadTree(5, tree));
  EXPECT_TRUE(tree.empty());
  std::vector<int32_t> members = {9};
  EXPECT_FALSE(s->ListMembers("c", members));
  EXPECT_TRUE(members.empty());
  if (ICluster* c = ClusterOf(*s)) {
    std::vector<Presence> online(1);
    EXPECT_FALSE(c->OthersOnline(60000, online));
    EXPECT_TRUE(online.empty());
  }
  EXPECT_EQ(-1, s->CountTree(5));
  EXPECT_EQ(-1, s->CountMemberships(5));
  EXPECT_EQ(-1, s->CountLeaveWords(5));
  EXPECT_EQ(-1, s->CountLeaveWordsFrom(5, 6));
  int64_t seen = 4;
  std::vector<int32_t> users;
  EXPECT_FALSE(s->AccountChangesSince(seen, users));
  EXPECT_EQ(4, seen);
  EXPECT_TRUE(users.empty());
}

// Another process (the admin commands) changes accounts; the server reads the
// changes from the same file.
TEST_P(ServerStorage, PasswordChangesAndDeletionsAreSeenByAnotherConnection) {
  std::unique_ptr<IStorage> admin = Open(), server = Open();
  ASSERT_TRUE(admin && server);
  for (int32_t u : {1, 2, 3}) ASSERT_TRUE(admin->AddUser({u, "h", ""}));
  int64_t seen = 0;
  std::vector<int32_t> users;
  ASSERT_TRUE(server->AccountChangesSince(seen, users));
  EXPECT_TRUE(users.empty());  // adding a user changes no session
  ASSERT_TRUE(admin->SetPasswordHash(2, "h2"));
  ASSERT_TRUE(admin->DeleteUser(3));
  EXPECT_FALSE(admin->SetPasswordHash(9, "h9"));  // no such user: nothing to note
  EXPECT_FALSE(admin->DeleteUser(9));
  ASSERT_TRUE(server->AccountChangesSince(seen, users));
  EXPECT_EQ((std::vector<int32_t>{2, 3}), users);
  ASSERT_TRUE(server->AccountChangesSince(seen, users));
  EXPECT_TRUE(users.empty());
  // The last 1000 changes are kept: at that many a reader misses none, one more drops the oldest.
  int64_t first = seen, second = seen;
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(admin->SetPasswordHash(1 + i % 2, "x"));
  ASSERT_TRUE(server->AccountChangesSince(first, users));
  EXPECT_EQ(1000u, users.size());
  EXPECT_EQ(seen + 1000, first);
  ASSERT_TRUE(admin->SetPasswordHash(1, "y"));
  ASSERT_TRUE(server->AccountChangesSince(second, users));
  EXPECT_EQ(1000u, users.size());
  EXPECT_EQ(seen + 1001, second);
}

// Several users in one look-up: those that exist, each whole; on
// PostgreSQL one round trip however many are asked for.
TEST_P(ServerStorage, UsersAreFoundSeveralAtOnceInOneRoundTrip) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->AddUser({1, "h1", "\xD5\xC5\xC8\xFD"}));
  ASSERT_TRUE(s->AddUser({3, "h3", ""}));
  ASSERT_TRUE(s->AddUser({4, "h4", "d"}));
  std::vector<UserRecord> found = {{7, "left", "over"}};
  uint64_t trips = s->RoundTrips();
  ASSERT_TRUE(s->FindUsers({3, 9, 1, 3}, found));
  EXPECT_EQ(Pg() ? trips + 1 : 0u, s->RoundTrips());
  std::sort(found.begin(), found.end(), [](const UserRecord& a, const UserRecord& b) { return a.number < b.number; });
  ASSERT_EQ(2u, found.size());
  EXPECT_EQ(1, found[0].number);
  EXPECT_EQ("h1", found[0].hash);
  EXPECT_EQ("\xD5\xC5\xC8\xFD", found[0].nickname);
  EXPECT_EQ(3, found[1].number);
  EXPECT_EQ("h3", found[1].hash);
  ASSERT_TRUE(s->FindUsers({}, found));
  EXPECT_TRUE(found.empty());
}

// Trees stored together: each as if alone (a stale one changes nothing),
// on PostgreSQL in one commit of two round trips; a tree the database
// refuses costs only its own upload.
TEST_P(ServerStorage, TreesStoredTogetherEachGoAsAloneAndOneRefusedCostsNoOther) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->ReplaceTree(2, MakeSampleTree(3)));  // revision 1
  ASSERT_TRUE(s->ReplaceTree(3, MakeSampleTree(9)));
  auto job = [](int32_t user, int nodes, int32_t from) {
    TreeJob j;
    j.user = user;
    j.nodes = MakeSampleTree(nodes);
    j.fromRevision = from;
    return j;
  };
  auto count = [&](int32_t user) {
    std::vector<qb::NodeWire> got;
    int32_t rev = -9;
    return s->LoadTree(user, got, rev) ? std::make_pair((int)got.size(), rev) : std::make_pair(-1, -1);
  };
  // Given out of the users' order, a stale one among them, user 3 twice.
  std::vector<TreeJob> jobs = {job(3, 4, 1), job(1, 5, 0), job(2, 6, 0), job(3, 2, 2)};
  uint64_t trips = s->RoundTrips();
  s->StoreTrees(jobs);
  if (Pg()) EXPECT_EQ(trips + 2, s->RoundTrips());
  EXPECT_EQ(TreeWrite::Stored, jobs[0].result);
  EXPECT_EQ(2, jobs[0].revision);
  EXPECT_EQ(TreeWrite::Stored, jobs[1].result);
  EXPECT_EQ(1, jobs[1].revision);
  EXPECT_EQ(TreeWrite::Stale, jobs[2].result);
  EXPECT_EQ(1, jobs[2].revision);
  EXPECT_EQ(TreeWrite::Stored, jobs[3].result) << "made from the revision the first of user 3 stored";
  EXPECT_EQ(3, jobs[3].revision);
  EXPECT_EQ(std::make_pair(2, 3), count(3));
  EXPECT_EQ(std::make_pair(5, 1), count(1));
  EXPECT_EQ(std::make_pair(3, 1), count(2)) << "the stale tree changed nothing";
  // The database refuses user 2's third node: the others are stored.
  ASSERT_TRUE(Sql(Pg() ? "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION 'no'; END$$;"
                         "CREATE TRIGGER refuse_node BEFORE INSERT ON nodes FOR EACH ROW"
                         " WHEN (NEW.ord = 2 AND NEW.\"user\" = 2) EXECUTE FUNCTION refuse()"
                       : "CREATE TRIGGER refuse_node BEFORE INSERT ON nodes WHEN NEW.ord = 2 AND NEW.user = 2"
                         " BEGIN SELECT RAISE(ABORT, 'no'); END"));
  jobs = {job(1, 7, 1), job(2, 8, 1), job(3, 1, kAnyRevision)};
  s->StoreTrees(jobs);
  EXPECT_EQ(TreeWrite::Stored, jobs[0].result);
  EXPECT_EQ(TreeWrite::Failed, jobs[1].result);
  EXPECT_EQ(TreeWrite::Stored, jobs[2].result);
  EXPECT_EQ(std::make_pair(7, 2), count(1));
  EXPECT_EQ(std::make_pair(3, 1), count(2));
  EXPECT_EQ(std::make_pair(1, 4), count(3));
}

TEST_P(ServerStorage, LeaveWordsAreCountedPerSender) {
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->AddLeaveWord(5, {6, 1, "a"}));
  ASSERT_TRUE(s->AddLeaveWord(5, {6, 2, "b"}));
  ASSERT_TRUE(s->AddLeaveWord(5, {7, 3, "c"}));
  ASSERT_TRUE(s->AddLeaveWord(6, {6, 4, "d"}));
  EXPECT_EQ(2, s->CountLeaveWordsFrom(5, 6));
  EXPECT_EQ(1, s->CountLeaveWordsFrom(5, 7));
  EXPECT_EQ(0, s->CountLeaveWordsFrom(7, 6));
  EXPECT_EQ(3, s->CountLeaveWords(5));
}

class ServerUserCommands : public StorageBackend {};
INSTANTIATE_TEST_SUITE_P(Backends, ServerUserCommands, ::testing::Values("sqlite", "postgresql"), BackendName);

TEST_P(ServerUserCommands, AddChangeDeleteAndList) {
  std::string error;
  std::unique_ptr<IStorage> s = Open();
  ASSERT_TRUE(s);
  std::ostringstream out;
  auto run = [&](std::vector<std::string> w) { return RunUserCommand(*s, w, HashCost::Minimum, out, error); };
  ASSERT_TRUE(run({"add", "12345", "\xE5\xAF\x86\xE7\xA0\x81pw", "\xE5\xBC\xA0\xE4\xB8\x89"})) << error;
  UserRecord u;
  ASSERT_TRUE(s->FindUser(12345, u));
  EXPECT_EQ("\xD5\xC5\xC8\xFD", u.nickname);  // stored as GBK
  EXPECT_EQ(0u, u.hash.find("$argon2id$"));
  EXPECT_TRUE(VerifyPassword(u.hash, "\xC3\xDC\xC2\xEBpw"));  // the program sends GBK
  EXPECT_FALSE(run({"add", "12345", "x"}));
  EXPECT_EQ("user 12345 exists already", error) << "named by its number, never by the password";
  EXPECT_FALSE(run({"add", "0", "x"}));
  EXPECT_FALSE(run({"add", "1000000000", "x"}));
  EXPECT_FALSE(run({"add", "12x", "x"}));
  EXPECT_FALSE(run({"add", "5", "123456789012345678901"}));  // more than the program can send
  EXPECT_FALSE(run({"add", "5", ""}));
  EXPECT_FALSE(run({"add", "5", "pw", "a<b>"}));
  EXPECT_FALSE(run({"add", "5", "pw", "\xFF\xFE"}));
  EXPECT_EQ("the nickname is not valid text", error);
  EXPECT_FALSE(run({"add", "5", "\xC3"}));
  EXPECT_EQ("the password is not valid text", error);
  EXPECT_FALSE(run({"add", "5", "pw", std::string(33, 'n')}));
  EXPECT_FALSE(s->FindUser(5, u));
  // Twenty bytes of password and 32 of nickname are the most, and are taken.
  ASSERT_TRUE(run({"add", "5", std::string(20, 'p'), std::string(32, 'n')})) << error;
  ASSERT_TRUE(s->FindUser(5, u));
  EXPECT_EQ(std::string(32, 'n'), u.nickname);
  ASSERT_TRUE(run({"del", "5"}));
  ASSERT_TRUE(run({"passwd", "12345", "new"}));
  ASSERT_TRUE(s->FindUser(12345, u));
  EXPECT_TRUE(VerifyPassword(u.hash, "new"));
  EXPECT_FALSE(VerifyPassword(u.hash, "\xC3\xDC\xC2\xEBpw"));
  EXPECT_FALSE(run({"passwd", "777", "new"}));
  EXPECT_EQ("no user 777", error);
  ASSERT_TRUE(run({"add", "99", "pw"}));
  EXPECT_EQ("added user 12345\nadded user 5\ndeleted user 5\nchanged the password of user 12345\nadded user 99\n",
            out.str());
  out.str("");
  ASSERT_TRUE(run({"list"}));
  EXPECT_EQ("99\t0 nodes\n12345\t\xE5\xBC\xA0\xE4\xB8\x89\t0 nodes\n", out.str());
  ASSERT_TRUE(run({"del", "99"}));
  EXPECT_FALSE(run({"del", "99"}));
  for (const char* cmd : {"del", "passwd"}) {
    std::vector<std::string> w = {cmd, "0"};
    if (w[0] == "passwd") w.push_back("pw");
    EXPECT_FALSE(run(w)) << cmd;
    EXPECT_EQ("a user number is 1 to 999999999: 0", error) << cmd;
  }
  EXPECT_FALSE(run({"frobnicate"}));
  EXPECT_EQ("unknown or incomplete user command", error);
  // A word too few or too many makes none of the commands: the user stays.
  for (std::vector<std::string> w : std::vector<std::vector<std::string>>{
           {"add", "12345"}, {"passwd", "12345"}, {"list", "12345"}, {"del", "12345", "x"}, {"frob", "12345"}}) {
    EXPECT_FALSE(run(w)) << w[0];
    EXPECT_EQ("unknown or incomplete user command", error) << w[0];
  }
  EXPECT_TRUE(s->FindUser(12345, u));

  // A password of "-" is the next line of standard input, without its line end.
  std::istringstream in("from stdin\r\nsecond\n\r\n");
  std::streambuf* console = std::cin.rdbuf(in.rdbuf());
  bool added = run({"add", "98", "-"}) && s->FindUser(98, u) && VerifyPassword(u.hash, "from stdin");
  bool changed = run({"passwd", "98", "-"}) && s->FindUser(98, u) && VerifyPassword(u.hash, "second");
  bool empty = run({"passwd", "98", "-"});
  std::string emptyError = error;
  bool none = run({"passwd", "98", "-"});
  std::cin.rdbuf(console);
  std::cin.clear();
  EXPECT_TRUE(added);
  EXPECT_TRUE(changed);
  EXPECT_FALSE(empty);
  EXPECT_EQ("a password has 1 to 20 bytes", emptyError);
  EXPECT_FALSE(none);
  EXPECT_EQ("no password on standard input", error);
  ASSERT_TRUE(s->FindUser(98, u));
  EXPECT_TRUE(VerifyPassword(u.hash, "second"));
  // 1 and 999999999 are the ends of what the login dialog takes.
  for (const char* n : {"1", "999999999"}) {
    EXPECT_TRUE(run({"add", n, "x"})) << n << ": " << error;
    EXPECT_TRUE(run({"passwd", n, "y"})) << n << ": " << error;
    EXPECT_TRUE(run({"del", n})) << n << ": " << error;
  }
}

// The database refuses the change: the command fails, says which, and prints nothing.
TEST(ServerUserCommandsRefused, EachCommandSaysWhatTheDatabaseRefused) {
  qbtest::TempDir dir;
  std::string path = os::NativePath(dir / "users.db"), error;
  std::unique_ptr<IStorage> s = OpenSqliteStorage(path, error);
  ASSERT_TRUE(s) << error;
  std::ostringstream out;
  auto run = [&](std::vector<std::string> w) { return RunUserCommand(*s, w, HashCost::Minimum, out, error); };
  ASSERT_TRUE(run({"add", "5", "pw"})) << error;
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db,
                                    "CREATE TRIGGER no_add BEFORE INSERT ON users BEGIN SELECT RAISE(ABORT, 'no'); END;"
                                    "CREATE TRIGGER no_change BEFORE UPDATE ON users BEGIN SELECT RAISE(ABORT, 'no'); END",
                                    nullptr, nullptr, nullptr));
  out.str("");
  EXPECT_FALSE(run({"add", "6", "pw"}));
  EXPECT_EQ("cannot add user 6", error);
  EXPECT_FALSE(run({"passwd", "5", "pw2"}));
  EXPECT_EQ("cannot change the password of user 5", error);
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, "DROP TABLE users", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  EXPECT_FALSE(run({"list"}));
  EXPECT_EQ("cannot read the users", error);
  EXPECT_EQ("", out.str());
}

// SQLite waits for a lock by sleeping through its file layer. A test puts in
// a copy of the default layer with its own sleep, and the holder of a write
// lock opened through the default one.
sqlite3* g_holder = nullptr;
int g_sleeps = 0;
struct CSleepLayer {
  sqlite3_vfs* plain = sqlite3_vfs_find(nullptr);
  sqlite3_vfs layer;
  CSleepLayer(const char* name, int (*sleep)(sqlite3_vfs*, int)) {
    layer = *plain;
    layer.zName = name;
    layer.pNext = nullptr;
    layer.xSleep = sleep;
    EXPECT_EQ(SQLITE_OK, sqlite3_vfs_register(&layer, 1));
  }
  ~CSleepLayer() {
    sqlite3_vfs_unregister(&layer);
    sqlite3_vfs_register(plain, 1);
  }
  // The other connection, in the middle of a write.
  bool HoldWriteLock(const std::string& path) {
    g_sleeps = 0;
    return sqlite3_open_v2(path.c_str(), &g_holder, SQLITE_OPEN_READWRITE, plain->zName) == SQLITE_OK &&
           sqlite3_exec(g_holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  void LetGo() {
    sqlite3_exec(g_holder, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(g_holder);
    g_holder = nullptr;
  }
};

// This layer ends the other connection's transaction at the first sleep.
int SleepEndsTheHoldersTransaction(sqlite3_vfs*, int microseconds) {
  ++g_sleeps;
  sqlite3_exec(g_holder, "COMMIT", nullptr, nullptr, nullptr);
  return microseconds;
}

// A write that finds the database locked by another connection (an admin
// command beside the running server) waits for it rather than failing at once.
TEST(ServerSqliteStorage, AWriteWaitsForAnotherConnectionsLock) {
  qbtest::TempDir dir;
  std::string path = os::NativePath(dir / "users.db"), error;
  CSleepLayer waiting("qimbo-waiting", SleepEndsTheHoldersTransaction);
  std::unique_ptr<IStorage> s = OpenSqliteStorage(path, error);
  EXPECT_TRUE(s) << error;
  ASSERT_TRUE(waiting.HoldWriteLock(path));
  EXPECT_TRUE(s && s->AddUser({5, "hash5", ""}));
  EXPECT_EQ(1, g_sleeps);
  waiting.LetGo();
}

int SleepCounted(sqlite3_vfs*, int microseconds) {
  ++g_sleeps;
  return microseconds;
}

// Opening a database that is up to date writes nothing: an admin command
// opens it at once while the running server is in the middle of a write.
TEST(ServerSqliteStorage, OpeningAnUpToDateDatabaseTakesNoWriteLock) {
  qbtest::TempDir dir;
  std::string path = os::NativePath(dir / "users.db"), error;
  ASSERT_TRUE(OpenSqliteStorage(path, error)) << error;
  CSleepLayer counting("qimbo-counting", SleepCounted);
  ASSERT_TRUE(counting.HoldWriteLock(path));
  std::unique_ptr<IStorage> s = OpenSqliteStorage(path, error);
  EXPECT_TRUE(s) << error;
  EXPECT_EQ(0, g_sleeps) << "the opening waited for the write lock";
  s.reset();
  counting.LetGo();
}

// This layer counts the flushes of the write-ahead log to the disk: the log
// file keeps its own state and gets a copy of its methods whose flush counts
// first.
int g_walSyncs = 0;
sqlite3_io_methods g_countingMethods;
int (*g_plainSync)(sqlite3_file*, int) = nullptr;
int CountedSync(sqlite3_file* f, int flags) {
  ++g_walSyncs;
  return g_plainSync(f, flags);
}
int OpenCountingWalSyncs(sqlite3_vfs* vfs, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  sqlite3_vfs* plain = static_cast<sqlite3_vfs*>(vfs->pAppData);
  int rc = plain->xOpen(plain, name, f, flags, outFlags);
  if (rc == SQLITE_OK && f->pMethods && (flags & SQLITE_OPEN_WAL)) {
    g_countingMethods = *f->pMethods;
    g_plainSync = f->pMethods->xSync;
    g_countingMethods.xSync = CountedSync;
    f->pMethods = &g_countingMethods;
  }
  return rc;
}

// An upload is answered once its tree is stored, and the program then takes
// it for backed up: the commit is on the disk before it returns, not only
// handed to the system (where a power cut would lose it).
TEST(ServerSqliteStorage, AStoredTreeIsOnTheDiskWhenTheStoreReturns) {
  qbtest::TempDir dir;
  std::string path = os::NativePath(dir / "users.db"), error;
  CSleepLayer counting("qimbo-wal-syncs", SleepCounted);
  counting.layer.pAppData = counting.plain;
  counting.layer.xOpen = OpenCountingWalSyncs;
  std::unique_ptr<IStorage> s = OpenSqliteStorage(path, error);
  ASSERT_TRUE(s) << error;
  ASSERT_TRUE(s->AddUser({7, "hash7", ""}));
  int32_t rev = 0;
  for (int i = 0; i < 3; ++i) {
    int before = g_walSyncs;
    ASSERT_EQ(TreeWrite::Stored, s->StoreTree(7, MakeSampleTree(4 + i), i, rev));
    EXPECT_GT(g_walSyncs, before) << "store " << i << " returned before its commit was flushed";
  }
  s.reset();
}

// Every sqlite3_exec of this program passes here first, so that a test can
// have the database refuse to begin a transaction.
bool g_refuseBegin = false;
}  // namespace
extern "C" int sqlite3_exec(sqlite3* db, const char* sql, int (*each)(void*, int, char**, char**), void* arg,
                            char** error) {
  using Exec = int (*)(sqlite3*, const char*, int (*)(void*, int, char**, char**), void*, char**);
  static Exec real = (Exec)dlsym(RTLD_NEXT, "sqlite3_exec");
  if (g_refuseBegin && strcmp(sql, "BEGIN") == 0) return SQLITE_BUSY;
  return real(db, sql, each, arg, error);
}
namespace {

// A change that cannot begin its transaction is a failure and changes nothing;
// a tree's reading, whose nodes and revision must be of one moment, fails too.
TEST(ServerSqliteStorage, AChangeThatCannotBeginIsRefused) {
  qbtest::TempDir dir;
  std::string error;
  std::unique_ptr<IStorage> s = OpenSqliteStorage(os::NativePath(dir / "users.db"), error);
  ASSERT_TRUE(s) << error;
  ASSERT_TRUE(s->AddUser({1, "h1", ""}));
  ASSERT_TRUE(s->ReplaceTree(1, MakeSampleTree(3)));
  ASSERT_TRUE(s->AddLeaveWord(1, {2, 5, "w"}));
  g_refuseBegin = true;
  EXPECT_FALSE(s->SetPasswordHash(1, "h2"));
  EXPECT_FALSE(s->DeleteUser(1));
  EXPECT_FALSE(s->ReplaceTree(1, MakeSampleTree(1)));
  std::vector<LeaveWord> words;
  EXPECT_FALSE(s->TakeLeaveWords(1, words));
  std::vector<qb::NodeWire> nodes;
  int32_t revision = 0;
  EXPECT_FALSE(s->LoadTree(1, nodes, revision));
  g_refuseBegin = false;
  UserRecord u;
  ASSERT_TRUE(s->FindUser(1, u));
  EXPECT_EQ("h1", u.hash);
  EXPECT_EQ(3, s->CountTree(1));
  EXPECT_EQ(1, s->CountLeaveWords(1));
}

// A server started with its standard input closed gets descriptor 0 for the
// database file: that is a good descriptor like any other.
int DescriptorsNaming(const std::string& path) {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (struct dirent* e = d ? readdir(d) : nullptr) {
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%s", e->d_name);
    ssize_t len = readlink(link, target, sizeof target - 1);
    if (len > 0 && std::string(target, (size_t)len) == path) ++n;
  }
  if (d) closedir(d);
  return n;
}

TEST(ServerSqliteStorage, OpensWithStandardInputClosed) {
  qbtest::TempDir dir;
  std::string path = os::NativePath(dir / "users.db"), error;
  int saved = dup(0);  // -1 when it is closed already
  if (saved >= 0) close(0);
  std::unique_ptr<IStorage> s = OpenSqliteStorage(path, error);
  if (saved >= 0) {
    dup2(saved, 0);
    close(saved);
  }
  ASSERT_TRUE(s) << error;
  EXPECT_TRUE(s->AddUser({5, "hash5", ""}));
  // Once a storage is gone, no descriptor of this process names its file.
  s = OpenSqliteStorage(path, error);
  ASSERT_TRUE(s) << error;
  s.reset();
  EXPECT_EQ(0, DescriptorsNaming(path));
  std::string missing = os::NativePath(dir / "no") + "/users.db";
  EXPECT_FALSE(OpenSqliteStorage(missing, error));
  EXPECT_EQ("cannot open " + missing, error);
}

TEST(ServerPasswords, InteractiveHashesAreSaltedAndVerify) {
  std::string h1, h2;
  ASSERT_TRUE(HashPassword("same", h1));
  ASSERT_TRUE(HashPassword("same", h2));
  EXPECT_NE(h1, h2);
  EXPECT_EQ(0u, h1.find("$argon2id$"));
  EXPECT_TRUE(VerifyPassword(h1, "same"));
  EXPECT_FALSE(VerifyPassword(h1, "Same"));
  EXPECT_FALSE(VerifyPassword("", "same"));
  EXPECT_FALSE(VerifyPassword("garbage", "same"));
  // A stored hash longer than the library ever writes is refused unread, even
  // one that is a sound encoding (of a 96-byte hash) of the right password.
  unsigned char salt[crypto_pwhash_SALTBYTES] = {7}, raw[96];
  ASSERT_EQ(0, crypto_pwhash(raw, sizeof raw, "same", 4, salt, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN,
                             crypto_pwhash_ALG_ARGON2ID13));
  char salt64[64], raw64[160];
  sodium_bin2base64(salt64, sizeof salt64, salt, sizeof salt, sodium_base64_VARIANT_ORIGINAL_NO_PADDING);
  sodium_bin2base64(raw64, sizeof raw64, raw, sizeof raw, sodium_base64_VARIANT_ORIGINAL_NO_PADDING);
  std::string encoded = std::string("$argon2id$v=19$m=8,t=1,p=1$") + salt64 + "$" + raw64;
  ASSERT_GT(encoded.size(), 128u);
  EXPECT_FALSE(VerifyPassword(encoded, "same"));
  EXPECT_EQ(0, crypto_pwhash_str_verify(encoded.c_str(), "same", 4)) << "not a sound encoding";
  EXPECT_TRUE(DigestMatches(SessionDigest("same"), "same"));
  EXPECT_FALSE(DigestMatches(SessionDigest("same"), "same "));
  // 32 bytes, keyed with a key of this run's own: not what a known (all-zero) key gives.
  unsigned char zero[crypto_generichash_KEYBYTES] = {}, known[32];
  crypto_generichash(known, sizeof known, (const unsigned char*)"same", 4, zero, sizeof zero);
  EXPECT_EQ(32u, SessionDigest("same").size());
  EXPECT_NE(std::string((const char*)known, sizeof known), SessionDigest("same"));
}

// Both spellings of the PostgreSQL scheme name a database server; anything
// else is a file.
TEST(ServerStorageNames, PostgresqlUrlsAndFiles) {
  EXPECT_TRUE(IsPgUrl("postgresql://u@127.0.0.1:5432/qimbo"));
  EXPECT_TRUE(IsPgUrl("postgres://u@127.0.0.1/qimbo"));
  EXPECT_TRUE(IsPgUrl("postgres://"));
  EXPECT_FALSE(IsPgUrl("/var/lib/qimbo/users.db"));
  EXPECT_FALSE(IsPgUrl("postgres:/u@h/db"));
  EXPECT_FALSE(IsPgUrl("xpostgresql://u@h/db"));
  EXPECT_FALSE(IsPgUrl("POSTGRESQL://u@h/db"));
  EXPECT_FALSE(IsPgUrl(""));
}

// A pool of one worker (a one-core machine) answers every check, in order,
// on the thread that runs the completed checks; answers wait there until run.
TEST(ServerPasswords, APoolOfOneWorkerAnswersEveryCheck) {
  std::string hash;
  ASSERT_TRUE(HashPassword("pw", hash, HashCost::Minimum));
  CPasswordPool pool(1);
  std::vector<std::string> answers;
  for (const char* guess : {"pw", "wrong", "pw"})
    pool.Check(hash, guess, [&answers, guess](bool ok) { answers.push_back(std::string(guess) + (ok ? "+" : "-")); });
  EXPECT_TRUE(answers.empty()) << "nothing is answered before the server's thread runs the completed checks";
  for (int i = 0; i < 100 && answers.size() < 3; ++i) {
    struct pollfd p = {pool.EventFd(), POLLIN, 0};
    if (poll(&p, 1, 100) == 1) pool.RunCompleted();
  }
  EXPECT_EQ((std::vector<std::string>{"pw+", "wrong-", "pw+"}), answers);
}

// With standard input closed the pool's event descriptor is 0, and it is
// given back with the pool like any other.
TEST(ServerPasswords, APoolOnDescriptorZeroGivesItBack) {
  int saved = dup(0);  // -1 when it is closed already
  if (saved >= 0) close(0);
  int eventFd;
  {
    CPasswordPool pool(1);
    eventFd = pool.EventFd();
  }
  int next = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (saved >= 0) {
    dup2(saved, 0);
    close(saved);
  }
  if (next > 0) close(next);
  EXPECT_EQ(0, eventFd);
  EXPECT_EQ(0, next) << "descriptor 0 is free again";
}

}  // namespace

// PostgreSQL only: what instances sharing one database tell each other, the
// schema versions, a lost database link, and two real qimbo-server processes
// on their own loopback addresses with clients on further ones.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "os/os.h"
#include "pg_cluster.h"
#include "server_cli.h"
#include "serve_options.h"
#include "server_fixture.h"
#include "storage.h"
#include "test_client.h"
#include "testutil.h"

using namespace qbtest;

namespace {

uint32_t Loop(unsigned last) { return qb::MakeAddress(127, 0, 0, last); }

#define NEED_PG()                                                                      \
  CPgCluster& cluster = CPgCluster::Shared();                                          \
  if (!cluster.Up()) GTEST_SKIP() << "PostgreSQL cannot be started here: " << cluster.Why()

std::unique_ptr<IStorage> OpenPg(const std::string& url, const std::string& instance, bool listen,
                                 std::vector<std::string>* log = nullptr, uint64_t* clock = nullptr) {
  PgOptions opt;
  opt.instance = instance;
  opt.listen = listen;
  if (log) opt.log = [log](const std::string& l) { log->push_back(l); };
  if (clock) opt.clock = [clock] { return *clock; };
  std::string error;
  std::unique_ptr<IStorage> s = OpenStorage(url, opt, false, error);
  EXPECT_TRUE(s) << error;
  return s;
}

// Waits for events on `c` (a real wait on its descriptor, bounded).
std::vector<std::string> WaitEvents(ICluster& c, size_t want, int limitMs = 5000) {
  std::vector<std::string> all, got;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (all.size() < want && std::chrono::steady_clock::now() < end) {
    struct pollfd p = {c.EventFd(), POLLIN, 0};
    poll(&p, 1, 50);
    c.TakeEvents(got);
    all.insert(all.end(), got.begin(), got.end());
  }
  return all;
}

// Instance A on a new database, with its log and a clock the test moves.
struct LoggedInstance {
  std::string db;
  std::vector<std::string> log;
  uint64_t clock = 1000;
  std::unique_ptr<IStorage> storage;
  LoggedInstance(CPgCluster& cluster, bool listen) : db(cluster.NewDatabase()) {
    storage = OpenPg(db, "A", listen, &log, &clock);
  }
};

// Two instances without event links on one new database.
struct StoragePair {
  std::unique_ptr<IStorage> a, b;
  ICluster *ca = nullptr, *cb = nullptr;
};
StoragePair OpenTwo(CPgCluster& cluster, const std::string& nameA, const std::string& nameB) {
  StoragePair p;
  std::string db = cluster.NewDatabase();
  p.a = OpenPg(db, nameA, false);
  p.b = OpenPg(db, nameB, false);
  if (p.a && p.b) p.ca = ClusterOf(*p.a), p.cb = ClusterOf(*p.b);
  return p;
}

TEST(SharedDatabase, PresenceIsSeenByTheOtherInstanceAndExpires) {
  NEED_PG();
  StoragePair two = OpenTwo(cluster, "A", "B");
  ICluster *ca = two.ca, *cb = two.cb;
  ASSERT_TRUE(ca && cb);
  std::string previous;
  ASSERT_TRUE(ca->SetPresence(100, Loop(2), "zhang", previous));
  EXPECT_EQ("", previous);
  ASSERT_TRUE(ca->SetPresence(100, Loop(2), "zhang", previous));
  EXPECT_EQ("", previous);  // again through the same instance
  std::vector<Presence> seen;
  ASSERT_TRUE(cb->OthersOnline(60000, seen));
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(100, seen[0].user);
  EXPECT_EQ(Loop(2), seen[0].address);
  EXPECT_EQ("A", seen[0].instance);
  EXPECT_EQ("zhang", seen[0].nickname);
  ASSERT_TRUE(ca->OthersOnline(60000, seen));
  EXPECT_TRUE(seen.empty());  // its own users are no others
  Presence p;
  ASSERT_TRUE(cb->FindOnline(100, 60000, p));
  EXPECT_EQ(100, p.user);
  EXPECT_EQ(Loop(2), p.address);
  EXPECT_EQ("A", p.instance);
  EXPECT_EQ("zhang", p.nickname);
  EXPECT_FALSE(ca->FindOnline(100, 60000, p));  // not elsewhere: on A itself
  EXPECT_FALSE(cb->FindOnline(200, 60000, p));
  // He moves to B: B learns where he was; A can no longer drop him.
  ASSERT_TRUE(cb->SetPresence(100, Loop(3), "zhang", previous));
  EXPECT_EQ("A", previous);
  ASSERT_TRUE(ca->DropPresence(100));
  ASSERT_TRUE(ca->OthersOnline(60000, seen));
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(Loop(3), seen[0].address);
  // Older than the time-out: not online, and expired.
  ASSERT_TRUE(ca->OthersOnline(0, seen));
  EXPECT_TRUE(seen.empty());
  ASSERT_TRUE(ca->ExpirePresence(60000));
  EXPECT_TRUE(ca->FindOnline(100, 60000, p));
  ASSERT_TRUE(ca->ExpirePresence(0));
  EXPECT_FALSE(ca->FindOnline(100, 60000, p));
}

// An instance's touch keeps its own users online for the others, and only
// its own: a touch of somebody else's user changes nothing.
TEST(SharedDatabase, ATouchKeepsTheInstancesOwnUsersOnline) {
  NEED_PG();
  StoragePair two = OpenTwo(cluster, "A", "B");
  ICluster *ca = two.ca, *cb = two.cb;
  ASSERT_TRUE(ca && cb);
  std::string previous;
  ASSERT_TRUE(ca->SetPresence(100, Loop(2), "zhang", previous));
  ASSERT_TRUE(ca->SetPresence(200, Loop(3), "lisi", previous));
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_TRUE(ca->TouchPresence({}));
  ASSERT_TRUE(ca->TouchPresence({100}));
  ASSERT_TRUE(cb->TouchPresence({200}));
  std::vector<Presence> seen;
  ASSERT_TRUE(cb->OthersOnline(1000, seen));
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(100, seen[0].user);
}

// Users, trees, circles and leave-words are on disk before their commit is
// answered, even where the database's default says otherwise; presence
// alone is not waited for. A trigger deferred to the commit notes the
// setting the commit runs under.
TEST(SharedDatabase, EveryWriteButPresenceWaitsForTheDiskAtItsCommit) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  std::string name = db.substr(db.rfind('/') + 1);
  auto a = OpenPg(db, "A", false);
  ASSERT_TRUE(a);
  ASSERT_TRUE(cluster.Exec(db, "ALTER DATABASE " + name + " SET synchronous_commit=on;"
                               "CREATE TABLE commits(tbl text, setting text);"
                               "CREATE FUNCTION note() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN"
                               " INSERT INTO commits VALUES(TG_TABLE_NAME, current_setting('synchronous_commit'));"
                               " RETURN NULL; END$$;"));
  for (const char* t : {"users", "nodes", "trees", "members", "words", "presence"})
    ASSERT_TRUE(cluster.Exec(db, std::string("CREATE CONSTRAINT TRIGGER note_") + t + " AFTER INSERT OR UPDATE OR DELETE ON " +
                                     t + " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION note()"));
  auto s = OpenPg(db, "B", false);  // a link made after the database's setting
  ICluster* c = ClusterOf(*s);
  ASSERT_TRUE(s->AddUser({5, "h", "n"}));
  ASSERT_TRUE(s->ReplaceTree(5, MakeSampleTree(3)));
  ASSERT_TRUE(s->AddMember("c", 5));
  ASSERT_TRUE(s->AddLeaveWord(5, {6, 1, "w"}));
  std::string previous;
  ASSERT_TRUE(c->SetPresence(5, Loop(2), "n", previous));
  ASSERT_TRUE(c->TouchPresence({5}));
  ASSERT_TRUE(c->DropPresence(5));
  ASSERT_TRUE(c->SetPresence(6, Loop(3), "m", previous));
  ASSERT_TRUE(c->ExpirePresence(0));
  PGconn* q = PQconnectdb(db.c_str());
  PGresult* r = PQexec(q, "SELECT tbl, string_agg(DISTINCT setting, ',') FROM commits GROUP BY tbl ORDER BY tbl");
  std::vector<std::string> seen;
  for (int i = 0; i < PQntuples(r); ++i) seen.push_back(std::string(PQgetvalue(r, i, 0)) + " " + PQgetvalue(r, i, 1));
  PQclear(r);
  PQfinish(q);
  EXPECT_EQ((std::vector<std::string>{"members on", "nodes on", "presence off", "trees on", "users on", "words on"}), seen);
}

// A listening instance asks for the others online at most once a second
// while no event comes; an event, or the second gone, makes it ask again. An
// instance without events asks every time.
TEST(SharedDatabase, TheOthersOnlineAreAskedAgainAfterAnEventOrASecond) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  uint64_t clock = 5000;
  auto a = OpenPg(db, "A", true, nullptr, &clock), b = OpenPg(db, "B", false), quiet = OpenPg(db, "Q", false, nullptr, &clock);
  ICluster *ca = ClusterOf(*a), *cb = ClusterOf(*b), *cq = ClusterOf(*quiet);
  std::string previous;
  std::vector<Presence> seen;
  auto users = [&seen] {
    std::vector<int32_t> u;
    for (const Presence& p : seen) u.push_back(p.user);
    std::sort(u.begin(), u.end());
    return u;
  };
  ASSERT_TRUE(cb->SetPresence(100, Loop(2), "zhang", previous));
  ASSERT_TRUE(ca->OthersOnline(60000, seen));
  EXPECT_EQ((std::vector<int32_t>{100}), users());
  ASSERT_TRUE(cb->SetPresence(200, Loop(3), "lisi", previous));
  clock += 999;
  ASSERT_TRUE(ca->OthersOnline(60000, seen));
  EXPECT_EQ((std::vector<int32_t>{100}), users()) << "kept within the second";
  ASSERT_TRUE(cq->OthersOnline(60000, seen));
  EXPECT_EQ((std::vector<int32_t>{100, 200}), users()) << "without events: asked";
  ASSERT_TRUE(ca->OthersOnline(1000, seen));
  EXPECT_EQ((std::vector<int32_t>{100, 200}), users()) << "another age: asked";
  clock += 1;
  ASSERT_TRUE(cb->DropPresence(100));
  ASSERT_TRUE(ca->OthersOnline(1000, seen));
  EXPECT_EQ((std::vector<int32_t>{100, 200}), users());
  clock += 1000;
  ASSERT_TRUE(ca->OthersOnline(1000, seen));
  EXPECT_EQ((std::vector<int32_t>{200}), users()) << "a second later: asked";
  ASSERT_TRUE(cb->SetPresence(300, Loop(4), "wang", previous));
  ASSERT_TRUE(cb->Notify("", "join 300 127.0.0.4 77"));
  EXPECT_EQ(1u, WaitEvents(*ca, 1).size());
  ASSERT_TRUE(ca->OthersOnline(1000, seen));
  EXPECT_EQ((std::vector<int32_t>{200, 300}), users()) << "after an event: asked";
}

// Of two instances taking one user at once, the one that waited for the
// other's write learns that he was there.
TEST(SharedDatabase, ATakeOfAUserWaitingForAnothersLearnsOfIt) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  auto a = OpenPg(db, "A", false), b = OpenPg(db, "B", false);
  ICluster *ca = ClusterOf(*a), *cb = ClusterOf(*b);
  std::string previous;
  ASSERT_TRUE(ca->SetPresence(100, Loop(2), "zhang", previous));
  // Instance C takes him in a transaction it has not committed yet.
  PGconn* c = PQconnectdb(db.c_str());
  PGconn* watch = PQconnectdb(db.c_str());
  ASSERT_EQ(CONNECTION_OK, PQstatus(c));
  PGresult* r = PQexec(c, "BEGIN; UPDATE presence SET instance='C', address=9 WHERE \"user\"=100");
  EXPECT_EQ(PGRES_COMMAND_OK, PQresultStatus(r));
  PQclear(r);
  bool ok = false;
  std::thread t([&] { ok = cb->SetPresence(100, Loop(3), "zhang", previous); });
  // B's write waits for C's lock (as the database reports it) ...
  bool waiting = false;
  for (int i = 0; i < 1000 && !waiting; ++i) {
    r = PQexec(watch, "SELECT count(*) FROM pg_stat_activity WHERE datname=current_database() AND wait_event_type='Lock'");
    waiting = PQresultStatus(r) == PGRES_TUPLES_OK && atoi(PQgetvalue(r, 0, 0)) == 1;
    PQclear(r);
    if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(waiting);
  // ... and, C committed, finds C where the row said A when it began.
  r = PQexec(c, "COMMIT");
  PQclear(r);
  t.join();
  PQfinish(c);
  PQfinish(watch);
  EXPECT_TRUE(ok);
  EXPECT_EQ("C", previous);
  Presence p;
  ASSERT_TRUE(ca->FindOnline(100, 60000, p));
  EXPECT_EQ("B", p.instance);
  EXPECT_EQ(Loop(3), p.address);
}

// Instances opened without a name are named, each differently, so that they
// neither take each other's events for their own nor share a channel.
TEST(SharedDatabase, UnnamedInstancesAreNamedApart) {
  NEED_PG();
  StoragePair two = OpenTwo(cluster, "", "");
  ICluster *ca = two.ca, *cb = two.cb;
  ASSERT_TRUE(ca && cb);
  EXPECT_FALSE(ca->Instance().empty());
  EXPECT_NE(ca->Instance(), cb->Instance());
}

TEST(SharedDatabase, EventsReachTheNamedInstanceAndBroadcastsAllButTheSender) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  auto a = OpenPg(db, "A", true), b = OpenPg(db, "B", true), c = OpenPg(db, "C", true);
  ICluster *ca = ClusterOf(*a), *cb = ClusterOf(*b), *cc = ClusterOf(*c);
  ASSERT_GE(cb->EventFd(), 0);
  ASSERT_TRUE(ca->Notify("B", "words 200"));
  ASSERT_TRUE(ca->Notify("", "join 100 127.0.0.2 7a"));
  EXPECT_EQ((std::vector<std::string>{"words 200", "join 100 127.0.0.2 7a"}), WaitEvents(*cb, 2));
  EXPECT_EQ((std::vector<std::string>{"join 100 127.0.0.2 7a"}), WaitEvents(*cc, 1));
  // A presence written with its news: the others hear it once it is there.
  std::string previous;
  ASSERT_TRUE(ca->SetPresence(100, Loop(2), "zhang", previous, "join 100 127.0.0.2 7b"));
  EXPECT_EQ((std::vector<std::string>{"join 100 127.0.0.2 7b"}), WaitEvents(*cc, 1));
  Presence p;
  EXPECT_TRUE(cc->FindOnline(100, 60000, p));
  // The sender hears nothing of its own broadcast (a marker shows the wait was
  // long enough), nor does anyone hear a notice that names no sender.
  ASSERT_TRUE(cluster.Exec(db, "NOTIFY qimbo_all, 'stray'"));
  ASSERT_TRUE(cb->Notify("A", "marker"));
  EXPECT_EQ((std::vector<std::string>{"marker"}), WaitEvents(*ca, 1));
}

TEST(SharedDatabase, ALostLinkIsLoggedOnceRetriedWithBackOffAndKeepsTheOldTree) {
  NEED_PG();
  LoggedInstance one(cluster, false);
  auto& [db, log, clock, s] = one;
  ASSERT_TRUE(s->ReplaceTree(7, MakeSampleTree(10)));
  ASSERT_TRUE(s->AddUser({1, "h1", ""}));
  ASSERT_TRUE(cluster.DropConnections(db));
  EXPECT_FALSE(s->ReplaceTree(7, MakeSampleTree(30)));
  EXPECT_FALSE(s->Reachable());
  // No change can begin while the link is down, and none claims it did.
  EXPECT_FALSE(s->SetPasswordHash(1, "h2"));
  EXPECT_FALSE(s->DeleteUser(1));
  std::string previous;
  EXPECT_FALSE(ClusterOf(*s)->SetPresence(1, Loop(2), "zhang", previous));
  EXPECT_FALSE(ClusterOf(*s)->TouchPresence({1}));
  UserRecord u;
  // Within the pause nothing is tried, and nothing more is logged.
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(s->FindUser(1, u));
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ("database: connection lost; retrying", log[0]);
  clock += 499;
  EXPECT_EQ(-1, s->CountTree(7));
  clock += 1;  // the first pause is half a second
  EXPECT_EQ(10, s->CountTree(7));
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ("database: connection back after 0 s", log[1]);
  EXPECT_TRUE(s->Reachable());
  ASSERT_TRUE(s->ReplaceTree(7, MakeSampleTree(30)));
  EXPECT_EQ(30, s->CountTree(7));

  // Lost again with only writes coming: a write itself takes the link up
  // again once the pause is over.
  ASSERT_TRUE(cluster.DropConnections(db));
  EXPECT_FALSE(s->ReplaceTree(7, MakeSampleTree(5)));
  bool written = false;
  for (int i = 0; i < 3 && !written; ++i) {
    clock += 500;
    written = s->ReplaceTree(7, MakeSampleTree(5));
  }
  EXPECT_TRUE(written);
  EXPECT_EQ(5, s->CountTree(7));
}

// Asks for `user` until the answer fails: the storage has found its link
// ended (the server's end of it goes a moment after it is told to).
bool FindsTheLinkLost(IStorage& s, int32_t user) {
  UserRecord u;
  for (int i = 0; i < 200; ++i) {
    if (!s.FindUser(user, u)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Turns new links to the database of `url` away (true) or lets them in again.
bool RefuseLinks(CPgCluster& cluster, const std::string& url, bool refuse) {
  std::string name = url.substr(url.rfind('/') + 1);
  return cluster.Exec(url.substr(0, url.rfind('/') + 1) + "postgres",
                      "ALTER DATABASE " + name + " ALLOW_CONNECTIONS " + (refuse ? "false" : "true"));
}

TEST(SharedDatabase, WhileTheDatabaseTurnsLinksAwayTheRetriesDoubleUpToThirtySeconds) {
  NEED_PG();
  LoggedInstance one(cluster, false);
  auto& [db, log, clock, s] = one;
  ASSERT_TRUE(s->AddUser({5, "h", "n"}));
  ASSERT_TRUE(RefuseLinks(cluster, db, true));
  ASSERT_TRUE(cluster.DropConnections(db));
  UserRecord u;
  ASSERT_TRUE(FindsTheLinkLost(*s, 5));
  // Tried again 0.5, 1, 2, 4, 8, 16 and 32 s after the loss, each time in vain.
  for (uint64_t at : {500, 1000, 2000, 4000, 8000, 16000, 32000}) {
    clock = 1000 + at;
    EXPECT_FALSE(s->FindUser(5, u)) << at;
  }
  ASSERT_TRUE(RefuseLinks(cluster, db, false));
  // The next pause is thirty seconds, not 32.
  clock = 1000 + 61999;
  EXPECT_FALSE(s->FindUser(5, u));
  clock = 1000 + 62000;
  EXPECT_TRUE(s->FindUser(5, u));
  EXPECT_EQ((std::vector<std::string>{"database: connection lost; retrying", "database: connection back after 62 s"}),
            log);
  // Lost again, the pauses start over from half a second: tried at 0.5 and
  // 1 s in vain, then not before 2 s.
  ASSERT_TRUE(RefuseLinks(cluster, db, true));
  ASSERT_TRUE(cluster.DropConnections(db));
  clock = 100000;
  ASSERT_TRUE(FindsTheLinkLost(*s, 5));
  clock = 100500;
  EXPECT_FALSE(s->FindUser(5, u));
  clock = 101000;
  EXPECT_FALSE(s->FindUser(5, u));
  ASSERT_TRUE(RefuseLinks(cluster, db, false));
  clock = 101999;
  EXPECT_FALSE(s->FindUser(5, u));
  clock = 102000;
  EXPECT_TRUE(s->FindUser(5, u));
}

// A link that comes back but cannot prepare its statements (a table is
// missing for the while) is not taken as back: the next try, when the table
// is there again, prepares them and serves.
TEST(SharedDatabase, ALinkBackWithoutItsStatementsIsTriedAgain) {
  NEED_PG();
  LoggedInstance one(cluster, false);
  auto& [db, log, clock, s] = one;
  ASSERT_TRUE(s->AddUser({5, "h", "n"}));
  ASSERT_TRUE(cluster.DropConnections(db));
  UserRecord u;
  ASSERT_TRUE(FindsTheLinkLost(*s, 5));
  ASSERT_TRUE(cluster.Exec(db, "ALTER TABLE users RENAME TO users_away"));
  clock += 500;
  EXPECT_FALSE(s->FindUser(5, u));
  EXPECT_FALSE(s->Reachable());
  ASSERT_TRUE(cluster.Exec(db, "ALTER TABLE users_away RENAME TO users"));
  clock += 1000;
  EXPECT_TRUE(s->FindUser(5, u));
  EXPECT_TRUE(s->Reachable());
  EXPECT_EQ((std::vector<std::string>{"database: connection lost; retrying", "database: connection back after 1 s"}), log);
}

TEST(SharedDatabase, ALostEventLinkIsTriedAgainEveryTwoSecondsThenAsksForAResync) {
  NEED_PG();
  LoggedInstance one(cluster, true);
  auto& [db, log, clock, a] = one;
  ICluster* ca = ClusterOf(*a);
  ASSERT_GE(ca->EventFd(), 0);
  ASSERT_TRUE(RefuseLinks(cluster, db, true));
  ASSERT_TRUE(cluster.DropConnections(db));
  const std::string lost = "database: the event link is lost; retrying";
  std::vector<std::string> got;
  for (int i = 0; i < 100 && std::find(log.begin(), log.end(), lost) == log.end(); ++i) {
    struct pollfd p = {ca->EventFd(), POLLIN, 0};
    poll(&p, 1, 50);
    ca->TakeEvents(got);
    EXPECT_TRUE(got.empty());
  }
  // Seen once, and tried again at once (in vain, with links turned away).
  ASSERT_EQ((std::vector<std::string>{lost}), log);
  EXPECT_EQ(-1, ca->EventFd());
  ASSERT_TRUE(RefuseLinks(cluster, db, false));
  clock += 1999;
  ca->TakeEvents(got);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(1u, log.size());
  clock += 1;
  ca->TakeEvents(got);
  EXPECT_EQ((std::vector<std::string>{"resync"}), got);
  EXPECT_EQ((std::vector<std::string>{lost, "database: the event link is back"}), log);
  ASSERT_GE(ca->EventFd(), 0);
  // Events reach it again.
  auto b = OpenPg(db, "B", false);
  ASSERT_TRUE(ClusterOf(*b)->Notify("A", "words 5"));
  EXPECT_EQ((std::vector<std::string>{"words 5"}), WaitEvents(*ca, 1));
}

// The link dies inside a transaction (the backend ends itself at the third
// node): nothing of it is kept, and nothing after it runs outside it.
TEST(SharedDatabase, ALinkLostInsideATransactionKeepsTheOldTree) {
  NEED_PG();
  LoggedInstance one(cluster, false);
  auto& [db, log, clock, s] = one;
  ASSERT_TRUE(s->ReplaceTree(7, MakeSampleTree(10)));
  ASSERT_TRUE(cluster.Exec(db,
                           "CREATE FUNCTION die() RETURNS trigger LANGUAGE plpgsql AS"
                           " $$BEGIN PERFORM pg_terminate_backend(pg_backend_pid()); PERFORM pg_sleep(5); RETURN NEW; END$$;"
                           "CREATE TRIGGER die BEFORE INSERT ON nodes FOR EACH ROW WHEN (NEW.ord = 2) EXECUTE FUNCTION die()"));
  EXPECT_FALSE(s->ReplaceTree(7, MakeSampleTree(5)));
  EXPECT_EQ((std::vector<std::string>{"database: connection lost; retrying"}), log);
  ASSERT_TRUE(cluster.Exec(db, "DROP TRIGGER die ON nodes"));
  clock += 500;
  EXPECT_EQ(10, s->CountTree(7));
  ASSERT_TRUE(s->ReplaceTree(7, MakeSampleTree(5)));
  EXPECT_EQ(5, s->CountTree(7));
}

// An instance that cannot take the opening lock (another one holds it, to
// migrate) within the lock time-out of its address does not open.
TEST(SharedDatabase, AnOpeningThatCannotTakeTheLockInTimeFails) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  PGconn* holder = PQconnectdb(db.c_str());
  ASSERT_EQ(CONNECTION_OK, PQstatus(holder));
  PGresult* r = PQexec(holder, "SELECT pg_advisory_lock(7263544)");
  EXPECT_EQ(PGRES_TUPLES_OK, PQresultStatus(r));
  PQclear(r);
  std::string error, url = db + "?options=-c%20lock_timeout%3D100";
  EXPECT_FALSE(OpenStorage(url, PgOptions(), false, error));
  EXPECT_NE(std::string::npos, error.find("lock timeout")) << error;
  PQfinish(holder);
  EXPECT_TRUE(OpenStorage(url, PgOptions(), false, error)) << error;
}

// An instance that cannot make its event link (its role may hold one link
// only) does not open without it.
TEST(SharedDatabase, AnInstanceWithoutItsEventLinkDoesNotOpen) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  std::string name = db.substr(db.rfind('/') + 1), role = name + "_one";
  ASSERT_TRUE(cluster.Exec(db, "CREATE ROLE " + role + " LOGIN CONNECTION LIMIT 1;"
                               "ALTER DATABASE " + name + " OWNER TO " + role));
  std::string url = "postgresql://" + role + db.substr(db.find('@'));
  PgOptions opt;
  opt.listen = true;
  std::string error;
  EXPECT_FALSE(OpenStorage(url, opt, false, error));
  EXPECT_NE(std::string::npos, error.find("too many connections")) << error;
  // Its one link is enough without events (once the refused instance's links are gone).
  opt.listen = false;
  bool opened = false;
  for (int i = 0; i < 100 && !opened; ++i) {
    opened = OpenStorage(url, opt, false, error) != nullptr;
    if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(opened) << error;
}

// The link dies inside a deletion and is back by its next statement (each
// reading of this clock is a second on): the rest of the deletion does not run
// on the new link, outside the transaction, and the user stays whole.
TEST(SharedDatabase, ADeletionCutByALostLinkRunsNothingOnTheNextLink) {
  NEED_PG();
  std::string db = cluster.NewDatabase(), error;
  uint64_t clock = 1000;
  PgOptions opt;
  opt.instance = "A";
  opt.log = [](const std::string&) {};
  opt.clock = [&clock] { return clock += 1000; };
  std::unique_ptr<IStorage> s = OpenStorage(db, opt, false, error);
  ASSERT_TRUE(s) << error;
  ASSERT_TRUE(s->AddUser({7, "h7", ""}));
  ASSERT_TRUE(s->ReplaceTree(7, MakeSampleTree(3)));
  ASSERT_TRUE(cluster.Exec(db,
                           "CREATE FUNCTION die() RETURNS trigger LANGUAGE plpgsql AS"
                           " $$BEGIN PERFORM pg_terminate_backend(pg_backend_pid()); PERFORM pg_sleep(5); RETURN OLD; END$$;"
                           "CREATE TRIGGER die BEFORE DELETE ON nodes FOR EACH ROW EXECUTE FUNCTION die()"));
  EXPECT_FALSE(s->DeleteUser(7));
  ASSERT_TRUE(cluster.Exec(db, "DROP TRIGGER die ON nodes"));
  UserRecord u;
  EXPECT_TRUE(s->FindUser(7, u));
  EXPECT_EQ(3, s->CountTree(7));
}

// A database whose tables do not fit is refused on opening, saying where.
TEST(SharedDatabase, TablesThatDoNotFitAreRefusedOnOpening) {
  NEED_PG();
  std::string error;
  std::string db = cluster.NewDatabase();
  ASSERT_TRUE(cluster.Exec(db, "CREATE TABLE schema_version(v integer)"));
  EXPECT_FALSE(OpenStorage(db, PgOptions(), true, error));
  EXPECT_NE(std::string::npos, error.find("column \"version\" does not exist")) << error;
  // A step of the migration fails: all of it is undone.
  db = cluster.NewDatabase();
  ASSERT_TRUE(cluster.Exec(db, "CREATE TABLE users(number bigint PRIMARY KEY, hash text NOT NULL, nickname bytea NOT NULL);"
                               "CREATE TABLE presence(\"user\" bigint)"));
  EXPECT_FALSE(OpenStorage(db, PgOptions(), true, error));
  EXPECT_NE(std::string::npos, error.find("column \"instance\" does not exist")) << error;
  EXPECT_FALSE(cluster.Exec(db, "SELECT * FROM nodes"));
  ASSERT_TRUE(cluster.Exec(db, "DROP TABLE presence"));
  std::unique_ptr<IStorage> s = OpenStorage(db, PgOptions(), true, error);
  ASSERT_TRUE(s) << error;
  s.reset();
  // The version says all is there, but a table lacks a column: the statement using it is named.
  ASSERT_TRUE(cluster.Exec(db, "ALTER TABLE users DROP COLUMN nickname"));
  EXPECT_FALSE(OpenStorage(db, PgOptions(), false, error));
  EXPECT_EQ(0u, error.find("add_user: ")) << error;
  // A database that takes no writes cannot even have its version table made.
  db = cluster.NewDatabase();
  EXPECT_FALSE(OpenStorage(db + "?options=-c%20default_transaction_read_only%3Don", PgOptions(), true, error));
  EXPECT_NE(std::string::npos, error.find("read-only transaction")) << error;
  // Nobody listening at the address.
  EXPECT_FALSE(OpenStorage("postgresql://nobody@127.0.0.1:1/none", PgOptions(), false, error));
  EXPECT_FALSE(error.empty());
  EXPECT_NE('\n', error.back());
}

TEST(SharedDatabase, AnOlderSchemaIsRefusedUntilMigrated) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  // The tables as they were before versions were kept.
  ASSERT_TRUE(cluster.Exec(db,
                           "CREATE TABLE users(number bigint PRIMARY KEY, hash text NOT NULL, nickname bytea NOT NULL);"
                           "INSERT INTO users VALUES(5, 'h', '\\x6e'::bytea);"
                           "CREATE TABLE nodes(\"user\" bigint NOT NULL, ord bigint NOT NULL, name bytea, kind bigint,"
                           "  address bytea, parent bytea, icon bytea, note bytea, visits bigint, slot bigint,"
                           "  circle bytea, PRIMARY KEY(\"user\", ord));"
                           "INSERT INTO nodes VALUES(5, 0, 'c'::bytea, 0, '', '', '', '', 0, 0, '')"));
  std::string error;
  EXPECT_FALSE(OpenStorage(db, PgOptions(), false, error));
  EXPECT_NE(std::string::npos, error.find("schema version 1; run \"qimbo-server db migrate\"")) << error;
  std::string out;
  TempDir dir;
  ASSERT_EQ(0, RunCapture({QIMBO_SERVER_EXE, "db", "migrate", "--db", db}, os::NativePath(dir / "o.txt"), out)) << out;
  EXPECT_EQ("schema version 3\n", out);
  std::unique_ptr<IStorage> s = OpenStorage(db, PgOptions(), false, error);
  ASSERT_TRUE(s) << error;
  UserRecord u;
  ASSERT_TRUE(s->FindUser(5, u));
  EXPECT_EQ("n", u.nickname);
  EXPECT_EQ(1, s->TreeRevision(5)) << "a tree stored before revisions were kept";
  // A newer one is refused too.
  ASSERT_TRUE(cluster.Exec(db, "UPDATE schema_version SET version=4"));
  EXPECT_FALSE(OpenStorage(db, PgOptions(), true, error));
  EXPECT_NE(std::string::npos, error.find("version 4, newer")) << error;
}

// A database host that takes the link but never answers holds the opening up
// for a few seconds, not for as long as the system would wait.
TEST(SharedDatabase, AHostThatNeverAnswersIsGivenUpOnOpening) {
  int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ASSERT_EQ(0, bind(silent, (struct sockaddr*)&sa, sizeof sa));
  ASSERT_EQ(0, listen(silent, 4));
  ASSERT_EQ(0, getsockname(silent, (struct sockaddr*)&sa, &len));
  std::string url = "postgresql://nobody@127.0.0.1:" + std::to_string(ntohs(sa.sin_port)) + "/none", error;
  std::atomic<bool> done(false);
  bool opened = true;
  std::thread t([&] {
    opened = OpenStorage(url, PgOptions(), false, error) != nullptr;
    done = true;
  });
  for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  bool gaveUp = done;  // within 20 s: a bound against a hang only
  close(silent);       // lets go an opening that still waits
  t.join();
  EXPECT_TRUE(gaveUp);
  EXPECT_FALSE(opened);
  EXPECT_FALSE(error.empty());
}

// One instance sets up or migrates the tables at a time: an instance opening
// while another holds the lock for that waits for it. (The lock's key is what
// instances of every version agree on.)
TEST(SharedDatabase, OpeningWaitsWhileAnotherInstanceSetsUpTheTables) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  PGconn* other = PQconnectdb(db.c_str());
  ASSERT_EQ(CONNECTION_OK, PQstatus(other));
  PQclear(PQexec(other, "SELECT pg_advisory_lock(7263544)"));
  std::atomic<bool> opened(false);
  std::thread t([&] {
    std::unique_ptr<IStorage> s = OpenPg(db, "A", false);
    opened = s != nullptr;
  });
  bool waiting = false;  // until the opening waits for the lock; bounded only against a hang
  for (int i = 0; i < 1000 && !waiting && !opened; ++i) {
    PGresult* r = PQexec(other, "SELECT count(*) FROM pg_locks WHERE locktype='advisory' AND NOT granted");
    waiting = PQresultStatus(r) == PGRES_TUPLES_OK && std::string(PQgetvalue(r, 0, 0)) == "1";
    PQclear(r);
    if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(waiting);
  EXPECT_FALSE(opened);
  PQclear(PQexec(other, "SELECT pg_advisory_unlock(7263544)"));
  t.join();
  EXPECT_TRUE(opened);
  PQfinish(other);
}

TEST(SharedDatabase, ASqliteFileOfEarlierVersionsIsBroughtUpToDateOnOpening) {
  TempDir dir;
  std::string path = os::NativePath(dir / "old.db"), error;
  {
    std::unique_ptr<IStorage> s = OpenSqliteStorage(path, error);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->AddUser({5, "h", "n"}));
    ASSERT_TRUE(s->ReplaceTree(5, MakeSampleTree(2)));
  }
  // As a file from before versions were kept.
  auto sql = [&](const char* text) {
    sqlite3* h = nullptr;
    bool ok = sqlite3_open(path.c_str(), &h) == SQLITE_OK && sqlite3_exec(h, text, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(h);
    return ok;
  };
  ASSERT_TRUE(sql("DROP TABLE schema_version; DROP TABLE presence; DROP TABLE trees"));
  std::string out, scratch = os::NativePath(dir / "o.txt");
  ASSERT_EQ(0, RunCapture({QIMBO_SERVER_EXE, "db", "migrate", "--db", path}, scratch, out)) << out;
  EXPECT_EQ("schema version 3\n", out);
  EXPECT_TRUE(sql("SELECT instance FROM presence"));
  std::unique_ptr<IStorage> s = OpenSqliteStorage(path, error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(3, s->SchemaVersion());
  UserRecord u;
  EXPECT_TRUE(s->FindUser(5, u));
  EXPECT_EQ(1, s->TreeRevision(5)) << "a tree stored before revisions were kept";
  EXPECT_EQ(0, s->TreeRevision(6));
  s.reset();
  // A newer file, and one that is no database, are refused.
  ASSERT_TRUE(sql("UPDATE schema_version SET version=4"));
  EXPECT_FALSE(OpenSqliteStorage(path, error));
  EXPECT_EQ("the database has schema version 4, newer than this program's 3", error);
  std::string junk = os::NativePath(dir / "junk.db");
  WriteFileBytes(junk, std::string(4096, 'x'));
  EXPECT_FALSE(OpenSqliteStorage(junk, error));
  EXPECT_EQ("file is not a database", error);
}

TEST(ServeHelp, ListsEveryOptionServeTakes) {
  TempDir dir;
  std::string out;
  ASSERT_EQ(0, RunCapture({QIMBO_SERVER_EXE, "serve", "--help"}, os::NativePath(dir / "o.txt"), out)) << out;
  for (const char* o : {"--listen ADDR", "--db DB", "--version N", "--chat-ad URL", "--instance NAME", "--port-base N",
                        "--client-port-base N", "--help"})
    EXPECT_NE(std::string::npos, out.find(o)) << o;
  for (const qsrv::LimitOptionInfo& o : qsrv::LimitOptions())
    EXPECT_NE(std::string::npos, out.find(std::string(o.name) + " N")) << o.name;
  EXPECT_NE(std::string::npos, out.find("postgresql://"));
  // The limits' explanations start in one column, 30 characters in.
  EXPECT_NE(std::string::npos, out.find("\n    --sessions N              sessions at once\n"));
  EXPECT_NE(std::string::npos, out.find("\n    --login-fail-window-s N   the window of both, in seconds\n"));
}

// The protocol core on PostgreSQL while its link goes away.
class ServerCorePg : public ServerCore {
 protected:
  void SetUp() override {
    CPgCluster& c = CPgCluster::Shared();
    if (!c.Up()) GTEST_SKIP() << "PostgreSQL cannot be started here: " << c.Why();
    url = c.NewDatabase();
    PgOptions po;
    po.instance = "core";
    po.clock = [this] { return dbClock; };
    po.log = [this](const std::string& l) { log.push_back(l); };
    std::string error;
    storage = OpenStorage(url, po, false, error);
    ASSERT_TRUE(storage) << error;
    AddUser(100, "secret", "\xD5\xC5\xC8\xFD");
    AddUser(200, "pw200", "lisi");
    opt.log = [this](const std::string& line) { log.push_back(line); };
    opt.wallClock = [] { return (int64_t)1700000000; };
    Restart();
  }
  std::string url;
  uint64_t dbClock = 1000;
};

TEST_F(ServerCorePg, WithoutTheDatabaseTheLastNodeIsNotAcknowledgedAndLoginsAreNotHeldAgainstAnyone) {
  Login(A, 100, "secret");
  std::vector<qb::NodeWire> tree = MakeSampleTree(3);
  ASSERT_TRUE(storage->ReplaceTree(100, MakeSampleTree(5)));
  Send(A, 2, 10, qb::MsgFavUpCount(3, 100, "secret"));
  Send(A, 2, 11, qb::MsgFavUpNode(tree[0]));
  ASSERT_TRUE(CPgCluster::Shared().DropConnections(url));
  Send(A, 2, 12, qb::MsgFavUpNode(tree[1]));
  Send(A, 2, 13, qb::MsgFavUpNode(tree[2]));
  std::vector<Sent> s = TakeFor(A);
  ASSERT_EQ(3u, s.size());  // ALLOWED and two nodes: the last one is not
  EXPECT_EQ(12, s[2].n);
  EXPECT_TRUE(Logged("error: cannot store the tree of user 100"));
  // Keep-alives over the live session need no database.
  Send(A, 0, 14, qb::MsgKeepAlive(100, "secret"));
  EXPECT_TRUE(server->IsOnline(100));
  // A login cannot be checked: refused, and not as a wrong password, however often.
  for (int i = 0; i < 12; ++i) Send(B, 0, 20 + i, qb::MsgLogin(200, "pw200"));
  s = TakeFor(B);
  ASSERT_EQ(12u, s.size());
  EXPECT_NE("OK", s[0].f.at(0));
  EXPECT_TRUE(Logged("refused login of user 200: the database cannot be reached"));
  EXPECT_EQ(1u, std::count(log.begin(), log.end(), std::string("database: connection lost; retrying")));
  dbClock += 500;
  Login(B, 200, "pw200");  // back: and no limit closed meanwhile
  EXPECT_EQ(5, storage->CountTree(100));
}

TEST_F(ServerCorePg, APresenceTheDatabaseRefusesIsLoggedAndTheLoginStands) {
  ASSERT_TRUE(CPgCluster::Shared().Exec(
      url, "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION 'no'; END$$;"
           "CREATE TRIGGER refuse BEFORE INSERT ON presence FOR EACH ROW EXECUTE FUNCTION refuse()"));
  Login(A, 100, "secret");
  EXPECT_TRUE(Logged("error: cannot record the presence of user 100"));
  EXPECT_TRUE(server->IsOnline(100));
}

// The logins of one turn of the loop wait for one look-up of their users
// together, not one each.
TEST_F(ServerCorePg, TheLoginsOfOneTurnCostOneLookUp) {
  auto turn = [this](bool held) {
    uint64_t before = storage->RoundTrips();
    if (held) server->HoldLookups();
    Send(A, 0, 1, qb::MsgLogin(100, "secret"));
    Send(B, 0, 2, qb::MsgLogin(200, "pw200"));
    Send(C, 0, 3, qb::MsgLogin(300, "none"));
    if (held) server->RunLookups();
    int ok = 0;
    for (const Sent& m : Take()) ok += m.type == "LGI" && !m.f.empty() && m.f[0] == "OK";
    EXPECT_EQ(2, ok);
    uint64_t trips = storage->RoundTrips() - before;
    // Not over live sessions the next time: their logins ask nothing.
    Send(A, 0, 8, qb::MsgLogout(100, "secret"));
    Send(B, 0, 9, qb::MsgLogout(200, "pw200"));
    Take();
    return trips;
  };
  uint64_t alone = turn(false), together = turn(true);
  EXPECT_EQ(alone - 2, together);
}

// The look-up thread asks over its own link and hands the answer over on
// the thread that runs the loop, when its descriptor says so; look-ups asked
// while one is under way go together.
TEST(SharedDatabase, ALookUpThreadAnswersOnTheLoopsThread) {
  NEED_PG();
  std::string db = cluster.NewDatabase();
  auto s = OpenPg(db, "A", false);
  ASSERT_TRUE(s->AddUser({100, "h100", "zhang"}));
  ASSERT_TRUE(s->AddUser({200, "h200", "lisi"}));
  CLookupThread lookups(OpenPg(db, "A", false));
  std::vector<UserRecord> got;
  bool answered = false, called = false;
  std::thread::id on;
  lookups.Find({200, 300, 100}, [&](bool ok, const std::vector<UserRecord>& found) {
    called = true, answered = ok, got = found, on = std::this_thread::get_id();
  });
  EXPECT_FALSE(called);
  struct pollfd p = {lookups.EventFd(), POLLIN, 0};
  ASSERT_EQ(1, poll(&p, 1, 10000));
  lookups.RunCompleted();
  ASSERT_TRUE(called);
  EXPECT_TRUE(answered);
  EXPECT_EQ(std::this_thread::get_id(), on);
  std::sort(got.begin(), got.end(), [](const UserRecord& a, const UserRecord& b) { return a.number < b.number; });
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ("h100", got[0].hash);
  EXPECT_EQ("lisi", got[1].nickname);
  EXPECT_EQ(1u, lookups.RoundTrips());

  // Look-ups asked while one is under way wait for it, then go together in
  // one round trip. Another link holds the users' table, so the first waits
  // in the database.
  PGconn* holder = PQconnectdb(db.c_str());
  ASSERT_EQ(CONNECTION_OK, PQstatus(holder));
  PQclear(PQexec(holder, "BEGIN; LOCK TABLE users IN ACCESS EXCLUSIVE MODE"));
  std::vector<std::vector<int32_t>> answers;
  auto ask = [&](std::vector<int32_t> numbers) {
    lookups.Find(numbers, [&answers](bool ok, const std::vector<UserRecord>& found) {
      std::vector<int32_t> numbers;
      for (const UserRecord& u : found) numbers.push_back(ok ? u.number : -1);
      std::sort(numbers.begin(), numbers.end());
      answers.push_back(numbers);
    });
  };
  ask({100});
  auto waiting = [&] {
    return cluster.Exec(db, "DO $$BEGIN IF (SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'"
                            " AND datname = current_database()) = 0"
                            " THEN RAISE EXCEPTION 'none'; END IF; END$$");
  };
  for (int i = 0; i < 1000 && !waiting(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(waiting());
  ask({200});
  ask({300, 100});
  PQclear(PQexec(holder, "COMMIT"));
  PQfinish(holder);
  while (answers.size() < 3) {
    ASSERT_EQ(1, poll(&p, 1, 10000));
    lookups.RunCompleted();
  }
  EXPECT_EQ(std::vector<int32_t>({100}), answers[0]);
  EXPECT_EQ(std::vector<int32_t>({100, 200}), answers[1]) << "both of the second turn";
  EXPECT_EQ(answers[1], answers[2]);
  EXPECT_EQ(3u, lookups.RoundTrips());
}

// With a writer of its own the protocol thread waits for no tree, presence
// or event: the last node is answered once its tree is stored, and what
// comes for the upload meanwhile changes nothing.
TEST_F(ServerCorePg, WithAWriterTheLastNodeIsAnsweredOnceItsTreeIsStored) {
  PgOptions po;
  po.instance = "core";
  std::string error;
  CWriteThread writer(OpenStorage(url, po, false, error));
  server.reset(new CServer(*storage, out, opt, nullptr, nullptr, &writer));
  // A new session is answered once the other instances can see it.
  Send(A, 0, 1, qb::MsgLogin(100, "secret"));
  EXPECT_TRUE(TakeFor(A).empty());
  writer.Finish();
  std::vector<Sent> s = TakeFor(A);
  ASSERT_FALSE(s.empty());
  EXPECT_EQ("OK", s[0].f.at(0));
  Presence p;
  auto other = OpenPg(url, "other", false);
  ASSERT_TRUE(ClusterOf(*other)->FindOnline(100, 60000, p));
  EXPECT_EQ("core", p.instance) << "the writer writes as this instance";
  Login(A, 100, "secret");  // again over the live session: at once
  std::vector<qb::NodeWire> tree = MakeSampleTree(3);
  uint64_t trips = storage->RoundTrips();
  Send(A, 2, 10, qb::MsgFavUpCount(3, 100, "secret"));
  for (int i = 0; i < 3; ++i) Send(A, 2, 11 + i, qb::MsgFavUpNode(tree[i]));
  s = TakeFor(A);
  ASSERT_EQ(3u, s.size()) << "ALLOWED and two nodes; the last waits for its tree";
  Send(A, 2, 13, qb::MsgFavUpNode(tree[2]));
  Send(A, 2, 14, qb::MsgFavUpCancel());
  Send(A, 2, 15, qb::MsgFavUpCount(3, 100, "secret"));
  EXPECT_EQ(trips, storage->RoundTrips()) << "the protocol thread's own link waited for nothing";
  now += opt.uploadIdleMs + opt.reclaimIdleMs;
  server->OnTick(now);
  EXPECT_TRUE(TakeFor(A).empty());
  writer.Finish();
  s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ(13, s[0].n);
  EXPECT_EQ("NODE", s[0].f.at(1));
  EXPECT_EQ("OK", s[0].f.at(2));
  EXPECT_EQ("1", s[0].f.at(3)) << "the new revision";
  EXPECT_EQ(3, storage->CountTree(100));
  Send(A, 2, 13, qb::MsgFavUpNode(tree[2]));
  s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("1", s[0].f.at(3)) << "the same answer again";
  // A download's tree is read by the writer too; the request again meanwhile waits with it.
  trips = storage->RoundTrips();
  Send(A, 0, 16, qb::MsgFavDownReq(100, "secret"));
  Send(A, 0, 17, qb::MsgFavDownReq(100, "secret"));
  EXPECT_TRUE(TakeFor(A).empty());
  EXPECT_EQ(trips, storage->RoundTrips());
  writer.Finish();
  s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ((qb::FieldList{"DOWN", "COUNT", "3", "1"}), s[0].f);
  Send(A, 0, 18, qb::MsgFavDownCancel());
  // A session that ends while its tree is stored: the tree is stored all the same.
  Send(A, 2, 20, qb::MsgFavUpCount(1, 100, "secret"));
  Send(A, 2, 21, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, 22, qb::MsgLogout(100, "secret"));
  EXPECT_FALSE(server->IsOnline(100));
  writer.Finish();
  EXPECT_TRUE(Logged("upload of user 100 stored as revision 2 after its session ended"));
  EXPECT_EQ(1, storage->CountTree(100));
  EXPECT_FALSE(ClusterOf(*other)->FindOnline(100, 60000, p)) << "his presence went after it came, in order";
  EXPECT_EQ(0u, server->StagedBytes());
}

// ---- two server processes ---------------------------------------------------------

class TwoInstances : public ::testing::Test {
 protected:
  void SetUp() override {
    CPgCluster& c = CPgCluster::Shared();
    if (!c.Up()) GTEST_SKIP() << "PostgreSQL cannot be started here: " << c.Why();
    db = c.NewDatabase();
    ASSERT_EQ(0, RunUserCommand(db, {"add", "100", "secret", "zhang"}));
    ASSERT_EQ(0, RunUserCommand(db, {"add", "200", "pw200", "lisi"}));
    ASSERT_EQ(0, RunUserCommand(db, {"add", "300", "pw300", "wang"}));
  }
  void StartBoth(std::vector<std::string> extra = {}) {
    std::vector<std::string> ea = extra, eb = extra;
    ea.insert(ea.end(), {"--instance", "A"});
    eb.insert(eb.end(), {"--instance", "B"});
    ASSERT_TRUE(a.Start(db, ea)) << a.Log();
    b.SetListen(Loop(50), a.Ports());
    ASSERT_TRUE(b.Start(db, eb)) << b.Log();
    // Each names itself where it says what it serves from.
    EXPECT_NE(std::string::npos, a.Log().find("://..., instance A\n")) << a.Log();
    EXPECT_NE(std::string::npos, b.Log().find("://..., instance B\n")) << b.Log();
  }
  void TearDown() override {
    if (a.Running()) {
      EXPECT_EQ(0, a.Stop()) << a.Log();
    }
    if (b.Running()) {
      EXPECT_EQ(0, b.Stop()) << b.Log();
    }
  }
  std::unique_ptr<CTestClient> Client(unsigned last, CServerProcess& at) {
    std::unique_ptr<CTestClient> c(new CTestClient(Loop(last), at.Ports()));
    EXPECT_TRUE(c->Ok());
    return c;
  }
  void Login(CTestClient& c, int32_t user, const std::string& pw) { ASSERT_TRUE(c.LoginAccepted(user, pw, 10000)); }
  Received Join(CTestClient& c, int32_t user, const std::string& key) {
    c.Request(3, qb::MsgGroupUpNode(user, "forum", 1, key, "cat", "", "Reserved"));
    Received r;
    EXPECT_TRUE(c.WaitType("GROUP", "LIST", r, 10000));
    return r;
  }
  bool Upload(CTestClient& c, int32_t user, const std::string& pw, const std::vector<qb::NodeWire>& nodes,
              size_t stopAfter = SIZE_MAX) {
    return c.Upload(user, pw, nodes, stopAfter, 10000);
  }
  std::vector<std::string> Download(CTestClient& c, int32_t user, const std::string& pw) {
    std::vector<std::string> got;
    int32_t n = c.Request(0, qb::MsgFavDownReq(user, pw));
    Received r;
    if (!c.WaitFor([&](const Received& m) { return m.type == "FAV" && (m.n == n || m.f.at(1) == "COUNT"); }, r, 10000) ||
        r.f.size() < 3 || r.f[1] != "COUNT")
      return got;
    int32_t total = qb::ReadNumber(r.f[2]), next = r.n + 1;
    c.Reply(0, r.n, qb::MsgFavDownReady());
    // A node sent again (its acknowledgement was late) is passed over, as the program does.
    for (int32_t i = 0; i < total; ++i, ++next) {
      if (!c.WaitFor([&](const Received& m) { return m.type == "FAV" && m.f.size() > 2 && m.f[1] == "NODE" && m.n == next; }, r,
                     10000))
        return got;
      std::string text(r.payload.c_str());
      got.push_back(text.substr(text.find("<NODE>") + 6));
      c.Reply(0, r.n, qb::MsgFavDownNodeOk());
    }
    return got;
  }
  static std::string Wire(const qb::NodeWire& node) {
    std::string s = qb::MsgFavUpNode(node);
    return s.substr(s.find("<NODE>") + 6) + "\r\n";
  }

  std::string db;
  CServerProcess a, b;
};

TEST_F(TwoInstances, CircleMembersAndThePlazaSeeUsersOfTheOtherInstanceWithTheirAddresses) {
  StartBoth();
  auto ca = Client(2, a), cb = Client(3, b);
  Login(*ca, 100, "secret");
  Login(*cb, 200, "pw200");
  Received r;
  // The plaza list at B's login holds A's user, online at the other instance.
  ASSERT_TRUE(cb->WaitType("CHAT", "LIST", r, 10000));
  EXPECT_EQ((qb::FieldList{"LIST", "2", "127.0.0.3", "lisi(200)", "127.0.0.2", "zhang(100)"}), r.f);
  // The plaza: B's user arrives at A's client through A.
  ASSERT_TRUE(ca->WaitFor([](const Received& m) { return m.type == "CHAT" && m.f.at(0) == "ADDUSER"; }, r, 10000));
  EXPECT_EQ("127.0.0.3", r.f.at(1));
  EXPECT_EQ(Loop(1), r.from);  // from its own server only
  EXPECT_EQ("lisi(200)", r.f.at(2));
  const std::string key = "http://www.example.com/forum";
  Join(*ca, 100, key);
  r = Join(*cb, 200, key);
  ASSERT_EQ(3u + 2 * 4, r.f.size());
  EXPECT_EQ(Loop(50), r.from);
  EXPECT_EQ("127.0.0.3", r.f[3]);
  EXPECT_EQ("127.0.0.2", r.f[7]);
  EXPECT_EQ("100", r.f[9]);
  r = Join(*ca, 100, key);
  ASSERT_EQ(3u + 2 * 4, r.f.size());
  EXPECT_EQ("127.0.0.3", r.f[7]);
  EXPECT_EQ("200", r.f[9]);
  // A logout at B reaches A's client.
  cb->Request(1, qb::MsgLogout(200, "pw200"));
  ASSERT_TRUE(ca->WaitFor([](const Received& m) { return m.type == "CHAT" && m.f.at(0) == "DELEUSER"; }, r, 10000));
  EXPECT_EQ("127.0.0.3", r.f.at(1));
  r = Join(*ca, 100, key);
  ASSERT_EQ(3u + 2 * 4, r.f.size());
  EXPECT_EQ("0.0.0.0", r.f[7]);
}

TEST_F(TwoInstances, ALeaveWordThroughAReachesAUserOnlineAtBAtOnce) {
  StartBoth();
  auto ca = Client(2, a), cb = Client(3, b);
  Login(*ca, 100, "secret");
  Login(*cb, 200, "pw200");
  ca->Request(0, qb::MsgLeaveWord(100, 200, qb::EscapeChatText("see <this>")));
  Received r;
  ASSERT_TRUE(cb->WaitType("LWORDS", "", r, 10000));
  EXPECT_EQ(Loop(50), r.from);
  EXPECT_EQ("100", r.f.at(0));
  EXPECT_EQ("see <this>", qb::UnescapeChatText(r.f.at(1)));
  EXPECT_NE(std::string::npos, r.f.at(2).find("zhang(100)"));
  // Handed out: nothing waits for his next login.
  cb->Request(0, qb::MsgReqWords(200));
  ca->Request(0, qb::MsgLeaveWord(100, 300, "for later"));  // 300 is offline: it waits
  auto cc = Client(4, b);
  Login(*cc, 300, "pw300");
  cc->Request(0, qb::MsgReqWords(300));
  ASSERT_TRUE(cc->WaitType("LWORDS", "", r, 10000));
  EXPECT_EQ("for later", r.f.at(1));
  for (const Received& m : cb->Backlog()) EXPECT_NE("LWORDS", m.type);
}

TEST_F(TwoInstances, AnUploadThroughAIsDownloadedThroughBTheSame) {
  StartBoth();
  std::vector<qb::NodeWire> tree = MakeSampleTree(1320);
  tree[7].note = "<angle> brackets go, \xD6\xD0\xCE\xC4 stays";
  auto ca = Client(2, a);
  Login(*ca, 100, "secret");
  ASSERT_TRUE(Upload(*ca, 100, "secret", tree));
  auto cb = Client(3, b);
  Login(*cb, 100, "secret");
  std::vector<std::string> got = Download(*cb, 100, "secret");
  ASSERT_EQ(tree.size(), got.size());
  for (size_t i = 0; i < tree.size(); ++i) ASSERT_EQ(Wire(tree[i]), got[i]) << i;
}

TEST_F(TwoInstances, KillingAMidUploadLeavesTheStoredTreeAndBGoesOnServing) {
  StartBoth();
  std::vector<qb::NodeWire> oldTree = MakeSampleTree(10), newTree = MakeSampleTree(40);
  newTree[0].name = "new";
  auto ca = Client(2, a);
  Login(*ca, 100, "secret");
  ASSERT_TRUE(Upload(*ca, 100, "secret", oldTree));
  ASSERT_TRUE(Upload(*ca, 100, "secret", newTree, 39));
  a.Kill();
  auto cb = Client(3, b);
  Login(*cb, 100, "secret");
  std::vector<std::string> got = Download(*cb, 100, "secret");
  ASSERT_EQ(10u, got.size());
  EXPECT_EQ(Wire(oldTree[0]), got[0]);
  auto cc = Client(4, b);
  Login(*cc, 200, "pw200");
  ASSERT_TRUE(Upload(*cc, 200, "pw200", newTree));
  EXPECT_EQ(40u, Download(*cc, 200, "pw200").size());
}

// A real server that loses its database link says so on its standard error,
// keeps running, and logs users in again once the link is back.
TEST_F(TwoInstances, ALostDatabaseLinkIsReportedOnStandardErrorAndLoginsComeBack) {
  StartBoth();
  ASSERT_TRUE(CPgCluster::Shared().DropConnections(db));
  auto c = Client(2, a);
  bool in = false;
  for (int i = 0; i < 40 && !in; ++i) {
    int32_t n = c->Request(0, qb::MsgLogin(100, "secret"));
    Received r;
    in = c->WaitFor([&](const Received& m) { return m.type == "LGI" && m.n == n; }, r, 1000) && r.f.at(0) == "OK";
    if (!in) std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  EXPECT_TRUE(in) << a.Log();
  EXPECT_TRUE(a.Running());
  EXPECT_NE(std::string::npos, a.Log().find("qimbo-server: database: connection lost; retrying\n")) << a.Log();
}

TEST_F(TwoInstances, TheUsersOfACrashedInstanceGoOfflineAfterTheSessionTimeOut) {
  StartBoth({"--session-timeout-s", "2"});
  const std::string key = "k";
  auto ca = Client(2, a), cb = Client(3, b);
  Login(*ca, 100, "secret");
  Login(*cb, 200, "pw200");
  Join(*ca, 100, key);
  Received r = Join(*cb, 200, key);
  ASSERT_EQ(3u + 2 * 4, r.f.size());
  EXPECT_EQ("127.0.0.2", r.f[7]);
  a.Kill();
  // Until the time-out he still counts as online; then not. Each look keeps 200 alive.
  bool offline = false;
  for (int i = 0; i < 60 && !offline; ++i) {
    cb->Request(0, qb::MsgKeepAlive(200, "pw200"));
    r = Join(*cb, 200, key);
    offline = r.f.size() == 11 && r.f[7] == "0.0.0.0";
    if (!offline) std::this_thread::sleep_for(std::chrono::milliseconds(250));  // the clock must move on
  }
  EXPECT_TRUE(offline);
  EXPECT_TRUE(b.Running());
}

}  // namespace

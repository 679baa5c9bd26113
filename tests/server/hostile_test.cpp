// The protocol core under attack, with a fake clock: login floods from many
// addresses, guessing through a live session, refusal floods against the log,
// leave-word floods, staged-upload floods, and accounts changed under a
// running session.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "base/cipher.h"
#include "server_cli.h"
#include "server_fixture.h"

using namespace qsrv;
using namespace qbtest;

namespace {

uint32_t Flood(int i) { return qb::MakeAddress(172, 16 + i / 65536 % 16, i / 256 % 256, i % 256); }

bool IsLoginOk(const Sent& s, int32_t user) {
  return s.type == "LGI" && s.f.size() == 2 && s.f[0] == "OK" && s.f[1] == qb::FormatNumber(user);
}
bool IsLoginRefused(const Sent& s) { return s.type == "LGI" && (s.f.empty() || s.f[0] != "OK"); }

class Hostile : public ServerCore {
 protected:
  // The reply to a login sent from `address` as number `n`, if one came.
  bool LoginReply(uint32_t address, int32_t n, Sent& reply) {
    for (auto& s : out.sent)
      if (s.address == address && s.type == "LGI" && s.n == n) {
        reply = s;
        return true;
      }
    return false;
  }
  size_t LogCount(const std::string& part) {
    size_t n = 0;
    for (auto& l : log) n += l.find(part) != std::string::npos;
    return n;
  }
  CDeferredCheck check;
};

// ---- logins -----------------------------------------------------------------------

// 3,000 addresses guess user 100's password as fast as a flood comes (about
// 1,300 logins a second); two workers check one password each per 100 ms.
// A user who logged in from his address before, and a new user at a new
// address, both get their answer within a second.
TEST_F(Hostile, ALoginFloodFromThousandsOfAddressesLeavesOtherLoginsPrompt) {
  server.reset(new CServer(*storage, out, opt, &check));
  Send(B, 0, 1, qb::MsgLogin(200, "pw200"));
  check.Answer(0);
  ASSERT_TRUE(IsLoginOk(Take().at(0), 200));
  size_t answered = 1;
  uint64_t start = now, legitAt = 0, newcomerAt = 0, legitOk = 0, newcomerOk = 0;
  int32_t flood = 0;
  for (uint64_t t = 0; t < 4000; ++t) {
    now = start + t;
    // 1.3 datagrams per millisecond, each from the next of 3,000 addresses.
    for (int i = 0; i < (t % 10 < 3 ? 2 : 1); ++i, ++flood) Send(Flood(flood % 3000), 0, flood, qb::MsgLogin(100, "guess"));
    if (t == 1000) Send(B, 1, 2, qb::MsgLogin(200, "pw200")), legitAt = now;
    if (t == 1500) Send(C, 2, 3, qb::MsgLogin(300, "pw300")), newcomerAt = now;
    if (t % 100 == 99)
      for (int w = 0; w < 2 && answered < check.pending.size(); ++w) check.Answer(answered++);
    Sent r;
    if (!legitOk && LoginReply(B, 2, r)) {
      ASSERT_TRUE(IsLoginOk(r, 200)) << "answered after " << now - legitAt << " ms";
      legitOk = now;
    }
    if (!newcomerOk && LoginReply(C, 3, r)) {
      ASSERT_TRUE(IsLoginOk(r, 300)) << "answered after " << now - newcomerAt << " ms";
      newcomerOk = now;
    }
    out.sent.clear();
  }
  ASSERT_NE(0u, legitOk);
  ASSERT_NE(0u, newcomerOk);
  EXPECT_LE(legitOk - legitAt, 1000u);
  EXPECT_LE(newcomerOk - newcomerAt, 1000u);
  // Guessing one account from many addresses is held to the per-user limit
  // (10 a minute), give or take the checks already under way.
  EXPECT_LE(check.pending.size(), 1u + 10 + 4 + 2);
  EXPECT_GT(flood, 5000);
}

TEST_F(Hostile, WrongPasswordsPerUserAreLimitedAcrossAddressesButNotForHisOwnAddress) {
  opt.userFailLimit = 3;
  server.reset(new CServer(*storage, out, opt, &check));
  Send(B, 0, 1, qb::MsgLogin(100, "secret"));  // B is where user 100 logs in
  check.Answer(0);
  Take();
  // Up to the limit, wrong passwords from new addresses are checked ...
  for (int i = 0; i < 3; ++i) {
    Send(Flood(i), 0, 1, qb::MsgLogin(100, "guess"));
    ASSERT_EQ(2u + i, check.pending.size());
    check.Answer(1 + i);
  }
  // ... one past it, the next is refused unchecked, the right password too.
  Send(Flood(3), 0, 7, qb::MsgLogin(100, "secret"));
  EXPECT_EQ(4u, check.pending.size());
  Sent r;
  ASSERT_TRUE(LoginReply(Flood(3), 7, r));
  EXPECT_TRUE(IsLoginRefused(r));
  EXPECT_EQ(1u, LogCount("refused login of user 100: too many wrong passwords for this user"));
  // Other users are not touched, and user 100 still gets in where he logged in before.
  Send(C, 0, 8, qb::MsgLogin(300, "pw300"));
  check.Answer(4);
  ASSERT_TRUE(LoginReply(C, 8, r));
  EXPECT_TRUE(IsLoginOk(r, 300));
  Send(B, 0, 9, qb::MsgLogin(100, "secret"));
  check.Answer(5);
  ASSERT_TRUE(LoginReply(B, 9, r));
  EXPECT_TRUE(IsLoginOk(r, 100));
  // The limit ends with its window.
  now += opt.loginFailWindowMs;
  Send(Flood(4), 0, 10, qb::MsgLogin(100, "secret"));
  check.Answer(6);
  ASSERT_TRUE(LoginReply(Flood(4), 10, r));
  EXPECT_TRUE(IsLoginOk(r, 100));
}

// A live session spares its own requests the user's limit, also where no
// logins are remembered at all.
TEST_F(Hostile, ASessionsOwnRequestsPassTheUsersLimitWithoutRememberedLogins) {
  opt.userFailLimit = 3;
  opt.maxKnownLogins = 0;
  server.reset(new CServer(*storage, out, opt));
  Login(A, 100, "secret");
  for (int i = 0; i < 3; ++i) Send(Flood(i), 0, 1, qb::MsgLogin(100, "guess"));
  Take();
  Send(A, 0, 5, qb::MsgFavDownReq(100, "secret"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("BLANK", s[0].f.at(2));
  // Without the session the limit holds.
  Send(B, 0, 6, qb::MsgLogin(100, "secret"));
  Sent r;
  ASSERT_TRUE(LoginReply(B, 6, r));
  EXPECT_TRUE(IsLoginRefused(r));
}

TEST_F(Hostile, WaitingChecksAreServedKnownAddressesFirstThenCleanOnesThenTheRest) {
  // Ranks: B known for 200; C and user 100 clean; user 300 has failures;
  // Flood(0), Flood(4) and Flood(5) have failures themselves.
  opt.maxChecksAtOnce = 1;
  opt.maxPendingChecks = 3;
  server.reset(new CServer(*storage, out, opt, &check));
  Send(B, 0, 1, qb::MsgLogin(200, "pw200"));  // B becomes a known address of user 200
  check.Answer(0);
  // Three addresses with a failure behind them: their next checks rank last.
  const uint32_t failed[] = {Flood(0), Flood(4), Flood(5)};
  for (uint32_t a : failed) {
    Send(a, 0, 1, qb::MsgLogin(300, "bad"));
    check.Answer(check.pending.size() - 1);
  }
  Take();
  Send(Flood(1), 0, 2, qb::MsgLogin(300, "bad"));  // under way
  Send(Flood(0), 0, 3, qb::MsgLogin(300, "bad"));  // waits, ranked last
  Send(Flood(4), 0, 4, qb::MsgLogin(300, "bad"));  // waits, ranked last
  Send(Flood(2), 0, 5, qb::MsgLogin(300, "bad"));  // waits, ranked third: the queue is full now
  EXPECT_TRUE(Take().empty());
  ASSERT_EQ(5u, check.pending.size());
  // One past: nothing ranks below it, so it is refused at once.
  Send(Flood(5), 0, 6, qb::MsgLogin(300, "bad"));
  Sent r;
  ASSERT_TRUE(LoginReply(Flood(5), 6, r));
  EXPECT_TRUE(IsLoginRefused(r));
  Take();
  // A known address, then a clean one, each push out the newest of the last rank.
  Send(B, 0, 8, qb::MsgLogin(200, "pw200"));
  ASSERT_TRUE(LoginReply(Flood(4), 4, r));
  EXPECT_TRUE(IsLoginRefused(r));
  Send(C, 0, 7, qb::MsgLogin(100, "secret"));
  ASSERT_TRUE(LoginReply(Flood(0), 3, r));
  EXPECT_TRUE(IsLoginRefused(r));
  Take();
  // Served in order: the known address, the clean one, then the user who has failures.
  check.Answer(4);  // Flood(1)
  ASSERT_EQ(6u, check.pending.size());
  check.Answer(5);
  ASSERT_TRUE(LoginReply(B, 8, r));
  EXPECT_TRUE(IsLoginOk(r, 200));
  check.Answer(6);
  ASSERT_TRUE(LoginReply(C, 7, r));
  EXPECT_TRUE(IsLoginOk(r, 100));
  EXPECT_FALSE(LoginReply(Flood(2), 5, r));
  check.Answer(7);
  EXPECT_TRUE(LoginReply(Flood(2), 5, r));
  EXPECT_EQ(8u, check.pending.size());
}

// Checks of a user with failures behind him take all workers but one: a
// check of a clean user still finds one free, and the waiting suspect runs
// when the suspect before it is done.
TEST_F(Hostile, SuspectChecksLeaveOneWorkerForTheOthers) {
  opt.maxChecksAtOnce = 2;
  server.reset(new CServer(*storage, out, opt, &check));
  Send(Flood(0), 0, 1, qb::MsgLogin(300, "bad"));
  check.Answer(0);  // user 300 has a failure now
  Take();
  Send(Flood(1), 0, 2, qb::MsgLogin(300, "bad"));
  Send(Flood(2), 0, 3, qb::MsgLogin(300, "pw300"));
  ASSERT_EQ(2u, check.pending.size()) << "the second suspect waits, though a worker is free";
  Send(C, 0, 4, qb::MsgLogin(100, "secret"));
  ASSERT_EQ(3u, check.pending.size()) << "the clean user takes the free worker";
  check.Answer(2);
  Sent r;
  ASSERT_TRUE(LoginReply(C, 4, r));
  EXPECT_TRUE(IsLoginOk(r, 100));
  EXPECT_EQ(3u, check.pending.size()) << "a worker is free, but not for a suspect";
  check.Answer(1);
  ASSERT_EQ(4u, check.pending.size()) << "the first suspect is done: the second runs";
  check.Answer(3);
  ASSERT_TRUE(LoginReply(Flood(2), 3, r));
  EXPECT_TRUE(IsLoginOk(r, 300));
}

// With three workers the suspects take two of them.
TEST_F(Hostile, SuspectChecksTakeAllWorkersButOne) {
  opt.maxChecksAtOnce = 3;
  server.reset(new CServer(*storage, out, opt, &check));
  Send(Flood(0), 0, 1, qb::MsgLogin(300, "bad"));
  check.Answer(0);
  Take();
  Send(Flood(1), 0, 2, qb::MsgLogin(300, "bad"));
  Send(Flood(2), 0, 3, qb::MsgLogin(300, "bad"));
  Send(Flood(3), 0, 4, qb::MsgLogin(300, "pw300"));
  EXPECT_EQ(3u, check.pending.size()) << "two suspects run, the third waits";
}

// A check still waiting when the limits close on its user is answered with
// a refusal, not left without an answer, and never run.
TEST_F(Hostile, AWaitingCheckTheLimitClosesOnIsRefusedWithAnAnswer) {
  opt.userFailLimit = 3;
  opt.maxChecksAtOnce = 1;
  server.reset(new CServer(*storage, out, opt, &check));
  for (int i = 0; i < 3; ++i) Send(Flood(i), 0, 1, qb::MsgLogin(100, "guess"));
  Send(C, 0, 2, qb::MsgLogin(100, "secret"));
  Send(Flood(7), 0, 3, qb::MsgLogin(100, "secret"));
  ASSERT_EQ(1u, check.pending.size()) << "one at a time";
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(i + 1, check.pending.size());
    check.Answer(i);
  }
  // Both waiting checks, one behind the other, are refused.
  Sent r;
  ASSERT_TRUE(LoginReply(C, 2, r));
  EXPECT_TRUE(IsLoginRefused(r));
  ASSERT_TRUE(LoginReply(Flood(7), 3, r));
  EXPECT_TRUE(IsLoginRefused(r));
  EXPECT_EQ(3u, check.pending.size()) << "their passwords were never checked";
}

TEST_F(Hostile, GuessingThroughALiveSessionCountsTowardTheSameLimit) {
  Login(A, 100, "secret");
  // At the limit: five wrong passwords are each checked and refused.
  for (int i = 0; i < 5; ++i) Send(A, 0, 10 + i, qb::MsgFavDownReq(100, "guess" + std::to_string(i)));
  std::vector<Sent> s = Take();
  ASSERT_EQ(5u, s.size());
  for (auto& m : s) EXPECT_EQ("INVALID", m.f.at(2));
  // One past: the address is locked out, the right password included.
  Send(A, 0, 20, qb::MsgFavDownReq(100, "secret"));
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("INVALID", s[0].f.at(2));
  EXPECT_EQ(1u, LogCount("refused download for user 100: too many wrong passwords"));
  now += opt.loginFailWindowMs;
  Send(A, 0, 21, qb::MsgFavDownReq(100, "secret"));
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("BLANK", s[0].f.at(2));
}

TEST_F(Hostile, WrongPasswordsInKeepAlivesAndLogoutsCountToo) {
  Login(A, 100, "secret");
  for (int i = 0; i < 3; ++i) Send(A, 0, 10 + i, qb::MsgKeepAlive(100, "guess"));
  for (int i = 0; i < 2; ++i) Send(A, 0, 20 + i, qb::MsgLogout(100, "guess"));
  Send(A, 0, 30, qb::MsgLogout(100, "secret"));  // locked out: not even the right one
  EXPECT_TRUE(server->IsOnline(100));
  now += opt.loginFailWindowMs;
  Send(A, 0, 31, qb::MsgLogout(100, "secret"));
  EXPECT_FALSE(server->IsOnline(100));
}

TEST_F(Hostile, RememberedFailuresAreBoundedTheOldestWindowGoingFirst) {
  opt.maxFailRecords = 2;
  Restart();
  const uint32_t x = Flood(1), y = Flood(2), z = Flood(3);
  for (int i = 0; i < 5; ++i) Send(x, 0, i, qb::MsgLogin(999, "guess"));  // no such user: counted per address
  now += 1;
  for (int i = 0; i < 5; ++i) Send(y, 0, i, qb::MsgLogin(999, "guess"));
  // At the limit both are remembered, and blocked.
  Take();
  Send(x, 0, 10, qb::MsgLogin(100, "secret"));
  Send(y, 0, 11, qb::MsgLogin(100, "secret"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(2u, s.size());
  EXPECT_TRUE(IsLoginRefused(s[0]));
  EXPECT_TRUE(IsLoginRefused(s[1]));
  // One past: a third address with a failure pushes out the oldest window, x's.
  Send(z, 0, 12, qb::MsgLogin(999, "guess"));
  Take();
  Login(x, 100, "secret");
  Send(y, 0, 13, qb::MsgLogin(100, "secret"));
  EXPECT_TRUE(IsLoginRefused(Take().at(0)));
}

TEST_F(Hostile, KnownLoginsAreBoundedTheLeastRecentGoingFirst) {
  opt.maxKnownLogins = 2;
  opt.userFailLimit = 1;
  Restart();
  // Known pairs without sessions (a session would spare its address anyway).
  auto visit = [&](uint32_t address, int32_t user, const std::string& pw) {
    Login(address, user, pw);
    Send(address, 0, 90, qb::MsgLogout(user, pw));
    Take();
  };
  visit(B, 200, "pw200");
  visit(C, 300, "pw300");
  Send(Flood(0), 0, 1, qb::MsgLogin(200, "guess"));  // user 200 is over his limit now
  Send(Flood(1), 0, 2, qb::MsgLogin(300, "guess"));  // and so is user 300
  Take();
  // At the limit both pairs are remembered: B gets in as 200 (and is the most recent now).
  visit(B, 200, "pw200");
  // One past: a third pair pushes out the least recent, C for 300.
  visit(A, 100, "secret");
  Send(C, 0, 3, qb::MsgLogin(300, "pw300"));
  Sent r;
  ASSERT_TRUE(LoginReply(C, 3, r));
  EXPECT_TRUE(IsLoginRefused(r));
  EXPECT_TRUE(Logged("refused login of user 300: too many wrong passwords for this user (from 10.0.0.3)"));
  visit(B, 200, "pw200");
}

// ---- the log ----------------------------------------------------------------------

TEST_F(Hostile, AHundredThousandRefusedDatagramsMakeABoundedLog) {
  Login(B, 200, "pw200");
  log.clear();
  const std::string leave = qb::MsgLeaveWord(100, 200, "hi");
  const std::string node = qb::MsgFavUpNode(MakeSampleTree(2)[1]);
  const std::string circle = qb::MsgGroupUpNode(100, "n", 0, "key", "", "", "Reserved");
  for (int i = 0; i < 100000; ++i) {
    uint32_t from = Flood(i / 4 % 200);
    switch (i % 4) {
      case 0: Send(from, 0, i, qb::MsgLogin(100, "guess")); break;
      case 1: Send(from, 1, i, leave); break;
      case 2: Send(from, 2, i, node); break;
      default: Send(from, 3, i, circle);
    }
    now += 1;  // 100 s in all
    if (i % 100 == 0) server->OnTick(now);
  }
  now += opt.logSummaryMs;
  server->OnTick(now);
  EXPECT_EQ(100000u, server->Counters().refused);
  // One line when a kind starts, then one count per kind and 10 s.
  EXPECT_LE(log.size(), 6u * (1 + 10 + 1));
  std::regex summary("^([0-9]+) more refused (.*) from ([0-9]+) address(es)? in the last [0-9]+ s$");
  uint64_t counted = 0;
  size_t first = 0;
  for (auto& line : log) {
    std::smatch m;
    if (std::regex_match(line, m, summary)) {
      counted += std::stoull(m[1]);
      EXPECT_LE(std::stoi(m[3]), 200) << line;
    } else if (line.compare(0, 8, "refused ") == 0) {
      ++first;
    }
  }
  EXPECT_EQ(100000u, counted + first);
  EXPECT_TRUE(Logged(" more refused logins (too many wrong passwords for this user) from 200 addresses in the last 10 s"));
}

TEST_F(Hostile, ARefusalAfterAQuietIntervalIsLoggedInFullAgain) {
  Send(A, 0, 1, qb::MsgLeaveWord(100, 200, "a"));
  Send(A, 0, 2, qb::MsgLeaveWord(100, 200, "b"));
  EXPECT_EQ(1u, LogCount("refused leave-word from 100 to 200: not logged in there"));
  now += opt.logSummaryMs;
  server->OnTick(now);
  EXPECT_EQ(1u, LogCount("1 more refused leave-words (not logged in there) from 1 address in the last 10 s"));
  now += opt.logSummaryMs;
  server->OnTick(now);  // nothing refused meanwhile: nothing to say
  EXPECT_EQ(2u, log.size());
  Send(A, 0, 3, qb::MsgLeaveWord(100, 200, "c"));
  EXPECT_EQ(2u, LogCount("refused leave-word from 100 to 200: not logged in there"));
}

TEST(RefusalLog, AddressesAreCountedUpToTheirBoundThenAsMoreThan) {
  std::vector<std::string> lines;
  CRefusalLog log(10000, [&](const std::string& l) { lines.push_back(l); });
  const uint32_t bound = (uint32_t)CRefusalLog::kMaxAddresses;  // 65536
  ASSERT_EQ(65536u, bound);
  // The first is written in full; then exactly as many addresses as remembered ...
  for (uint32_t i = 0; i <= bound; ++i) log.Note("pings (no)", "refused ping", i, 5);
  log.Flush(10005);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("refused ping", lines[0]);
  EXPECT_EQ("65536 more refused pings (no) from 65536 addresses in the last 10 s", lines[1]);
  // ... one more than that is "more than".
  for (uint32_t i = 0; i <= bound; ++i) log.Note("pings (no)", "refused ping", i, 10010);
  log.Flush(20010);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("65537 more refused pings (no) from more than 65536 addresses in the last 10 s", lines[2]);
  // The next interval counts its addresses afresh.
  log.Note("pings (no)", "refused ping", 7, 20011);
  log.Flush(30010);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("1 more refused pings (no) from 1 address in the last 10 s", lines[3]);
  // The seconds are rounded: 10.499 s are 10, 10.5 s are 11.
  log.Note("pings (no)", "refused ping", 7, 30011);
  log.Flush(40509);
  log.Note("pings (no)", "refused ping", 7, 40510);
  log.Flush(51009);
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ("1 more refused pings (no) from 1 address in the last 10 s", lines[4]);
  EXPECT_EQ("1 more refused pings (no) from 1 address in the last 11 s", lines[5]);
  // A refusal just as the interval ends closes it first.
  log.Note("pings (no)", "refused ping", 7, 51010);
  log.Note("pings (no)", "refused ping", 7, 61009);
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ("1 more refused pings (no) from 1 address in the last 10 s", lines[6]);
}

// ---- leave-words ------------------------------------------------------------------

TEST_F(Hostile, OneSenderFillsAtMostHisShareOfAMailbox) {
  Login(A, 100, "secret");
  Login(C, 300, "pw300");
  // At the limit: ten leave-words from 100 to 200 wait; the eleventh is refused.
  for (int i = 0; i < 10; ++i) Send(A, 0, 10 + i, qb::MsgLeaveWord(100, 200, "w" + std::to_string(i)));
  EXPECT_EQ(10, storage->CountLeaveWords(200));
  Send(A, 0, 20, qb::MsgLeaveWord(100, 200, "one more"));
  EXPECT_EQ(10, storage->CountLeaveWords(200));
  EXPECT_TRUE(Logged("refused leave-word from 100 to 200: too many from this sender"));
  // Others still reach 200, and 100 still reaches others.
  Send(C, 0, 21, qb::MsgLeaveWord(300, 200, "from 300"));
  Send(A, 0, 22, qb::MsgLeaveWord(100, 300, "to 300"));
  EXPECT_EQ(11, storage->CountLeaveWords(200));
  EXPECT_EQ(1, storage->CountLeaveWords(300));
  // Once 200 has read them, 100 may write again.
  Login(B, 200, "pw200");
  Send(B, 0, 2, qb::MsgReqWords(200));
  Take();
  Send(A, 0, 23, qb::MsgLeaveWord(100, 200, "again"));
  EXPECT_EQ(1, storage->CountLeaveWords(200));
}

TEST_F(Hostile, ALeaveWordIsSignedByTheSessionNotByTheNumberItClaims) {
  Login(A, 100, "secret");
  Send(A, 0, 5, qb::MsgLeaveWord(300, 200, "forged"));
  EXPECT_EQ(0, storage->CountLeaveWords(200));
  Send(A, 0, 6, qb::MsgLeaveWord(100, 200, "mine"));
  std::vector<LeaveWord> words;
  ASSERT_TRUE(storage->TakeLeaveWords(200, words));
  ASSERT_EQ(1u, words.size());
  EXPECT_EQ(100, words[0].from);
  EXPECT_EQ("mine", words[0].text);
}

// ---- staged transfers ------------------------------------------------------------------

class StagedBytes : public Hostile {
 protected:
  // Opens an upload of `announced` nodes for `user` at `address` and sends
  // `count` nodes; returns how many were acknowledged, -1
  // when the upload was not allowed.
  int Stage(uint32_t address, int32_t user, const std::string& pw, int count, int announced = 100) {
    Send(address, 0, 100, qb::MsgFavUpCount(announced, user, pw));
    if (TakeFor(address).size() != 1) return -1;
    return More(address, count, 101);
  }
  // `count` more nodes of the upload at `address`, numbered from `n`: each
  // named after its number (the same node again would be a repeat), all of
  // one size.
  int More(uint32_t address, int count, int32_t n) {
    int acked = 0;
    for (int i = 0; i < count; ++i, ++n) {
      qb::NodeWire numbered = node;
      char tag[16];
      snprintf(tag, sizeof tag, "%08d", (int)n);
      numbered.name.replace(numbered.name.size() - 8, 8, tag);
      Send(address, 0, n, qb::MsgFavUpNode(numbered));
      for (auto& s : TakeFor(address)) acked += s.n == n && s.f.size() >= 3 && s.f[2] == "OK";
    }
    return acked;
  }
  void SetUp() override {
    Hostile::SetUp();
    node = MakeSampleTree(2)[1];
    node.name += "00000000";  // the place of a staged node's number (More)
    // What one staged node holds, measured once.
    Login(A, 100, "secret");
    Stage(A, 100, "secret", 1);
    unit = server->StagedBytes();
    Send(A, 0, 200, qb::MsgFavUpCancel());
    ASSERT_EQ(0u, server->StagedBytes());
    ASSERT_GT(unit, 100u);
    Take();
  }
  void LogInAll() {
    Restart();
    Login(A, 100, "secret");
    Login(B, 200, "pw200");
    Login(C, 300, "pw300");
  }
  // Room for two transfers of 50 nodes each, and a download of `nodes` nodes
  // under way for user 100.
  void DownloadUnderWay(int nodes) {
    opt.maxTransfers = 2;
    opt.maxStagedTotal = 100 * unit;
    LogInAll();
    ASSERT_TRUE(storage->ReplaceTree(100, std::vector<qb::NodeWire>(nodes, node)));
    Send(A, 0, 50, qb::MsgFavDownReq(100, "secret"));
    Take();
  }
  qb::NodeWire node;
  size_t unit = 0;
};

// One upload holds up to its own limit, that node included, and no node more.
TEST_F(StagedBytes, AnUploadHoldsUpToItsOwnLimit) {
  opt.maxStagedBytes = 3 * unit;
  LogInAll();
  EXPECT_EQ(3, Stage(A, 100, "secret", 3));
  EXPECT_EQ(3 * unit, server->StagedBytes());
  EXPECT_FALSE(Logged("too large"));
  EXPECT_EQ(0, More(A, 1, 104));
  EXPECT_TRUE(Logged("upload of user 100 dropped after 3 of 100 nodes: too large"));
}

TEST_F(StagedBytes, AllUploadsTogetherHoldNoMoreThanTheTotal) {
  opt.maxStagedTotal = 10 * unit;
  LogInAll();
  EXPECT_EQ(5, Stage(A, 100, "secret", 5));
  EXPECT_EQ(5, Stage(B, 200, "pw200", 5));  // at the total
  EXPECT_EQ(10 * unit, server->StagedBytes());
  // One node past it: nobody holds more than B would, nobody is idle: B's upload goes.
  EXPECT_EQ(0, More(B, 1, 106));
  EXPECT_TRUE(Logged("upload of user 200 dropped after 5 of 100 nodes: no room"));
  EXPECT_EQ(5 * unit, server->StagedBytes());
  // Room comes back as uploads end: cancelled, or with their session.
  EXPECT_EQ(5, Stage(B, 200, "pw200", 5));
  Send(B, 0, 120, qb::MsgFavUpCancel());
  EXPECT_EQ(5 * unit, server->StagedBytes());
  Send(A, 0, 121, qb::MsgLogout(100, "secret"));
  EXPECT_EQ(0u, server->StagedBytes());
}

TEST_F(StagedBytes, TheLargestUploadGivesWayToASmallerOne) {
  opt.maxStagedTotal = 10 * unit;
  LogInAll();
  EXPECT_EQ(6, Stage(A, 100, "secret", 6));
  EXPECT_EQ(4, Stage(B, 200, "pw200", 4));
  // C's first node: A holds the most, more than C would, and gives way.
  EXPECT_EQ(1, Stage(C, 300, "pw300", 1));
  EXPECT_TRUE(Logged("upload of user 100 dropped after 6 of 100 nodes: it held the most when room was needed"));
  EXPECT_EQ(5 * unit, server->StagedBytes());
  // C grows past B while room lasts; then C holds the most and finds none.
  EXPECT_EQ(5, More(C, 5, 102));
  EXPECT_EQ(10 * unit, server->StagedBytes());
  EXPECT_EQ(0, More(C, 1, 107));
  EXPECT_TRUE(Logged("upload of user 300 dropped after 6 of 100 nodes: no room"));
  EXPECT_FALSE(Logged("upload of user 200 dropped"));
}

TEST_F(StagedBytes, AStalledUploadGivesWayWhenRoomIsNeeded) {
  opt.maxStagedTotal = 10 * unit;
  LogInAll();
  EXPECT_EQ(5, Stage(A, 100, "secret", 5));  // then A falls silent
  EXPECT_EQ(5, Stage(B, 200, "pw200", 5));
  // Just short of the idle time, B's next node finds no room ...
  now += opt.reclaimIdleMs - 1;
  EXPECT_EQ(0, More(B, 1, 106));
  EXPECT_EQ(5, Stage(B, 200, "pw200", 5));
  // ... from then on the idle upload makes room.
  now += 1;
  EXPECT_EQ(1, More(B, 1, 106));
  EXPECT_TRUE(Logged("upload of user 100 dropped after 5 of 100 nodes: idle while room was needed"));
  EXPECT_EQ(6 * unit, server->StagedBytes());
}

TEST_F(StagedBytes, WithAllTransfersTakenAnIdleOneOrTheLargestGivesWay) {
  opt.maxTransfers = 2;
  opt.maxStagedTotal = 100 * unit;  // a fair share of 50 nodes each
  LogInAll();
  EXPECT_EQ(5, Stage(A, 100, "secret", 5));
  EXPECT_EQ(5, Stage(B, 200, "pw200", 5));
  // At the limit: C is refused while both are busy and within their share ...
  EXPECT_EQ(-1, Stage(C, 300, "pw300", 0));
  EXPECT_TRUE(Logged("refused upload by user 300: too many transfers under way"));
  // ... an upload beyond its share gives way ...
  EXPECT_EQ(50, More(A, 50, 106));
  EXPECT_EQ(0, Stage(C, 300, "pw300", 0));
  EXPECT_TRUE(Logged("upload of user 100 dropped after 55 of 100 nodes: it held the most when room was needed"));
  // ... and so does one idle long enough.
  now += opt.reclaimIdleMs;
  Send(C, 0, 150, qb::MsgFavUpNode(node));
  Take();
  EXPECT_EQ(0, Stage(A, 100, "secret", 0));
  EXPECT_TRUE(Logged("upload of user 200 dropped after 5 of 100 nodes: idle while room was needed"));
}

// Of several transfers idle long enough, the one idle longest gives way,
// wherever it stands among the others.
TEST_F(StagedBytes, OfTheIdleTransfersTheIdlestGivesWay) {
  opt.maxTransfers = 3;
  opt.maxStagedTotal = 100 * unit;
  AddUser(400, "pw400", "");
  const uint32_t D = qb::MakeAddress(10, 0, 0, 4);
  LogInAll();
  Login(D, 400, "pw400");
  EXPECT_EQ(1, Stage(B, 200, "pw200", 1));  // B falls silent first,
  now += 1000;
  EXPECT_EQ(1, Stage(A, 100, "secret", 1));  // then A,
  now += 1000;
  EXPECT_EQ(1, Stage(C, 300, "pw300", 1));  // then C
  now += opt.reclaimIdleMs;
  EXPECT_EQ(0, Stage(D, 400, "pw400", 0));
  EXPECT_TRUE(Logged("upload of user 200 dropped after 1 of 100 nodes: idle while room was needed"));
  EXPECT_FALSE(Logged("upload of user 100 dropped after 1 of 100 nodes: idle"));
  EXPECT_FALSE(Logged("upload of user 300 dropped after 1 of 100 nodes: idle"));
}

// A download counts among the transfers under way, and is dropped for room as
// an upload is; a user starting an upload never loses his own download to it.
TEST_F(StagedBytes, AnotherUsersLargeDownloadGivesWayButNotOnesOwn) {
  DownloadUnderWay(60);
  EXPECT_EQ(60 * unit, server->StagedBytes());
  EXPECT_EQ(5, Stage(B, 200, "pw200", 5));
  EXPECT_EQ(-1, Stage(A, 100, "secret", 0));
  EXPECT_TRUE(Logged("refused upload by user 100: too many transfers under way"));
  EXPECT_EQ(65 * unit, server->StagedBytes());
  EXPECT_EQ(0, Stage(C, 300, "pw300", 0));
  EXPECT_TRUE(Logged("download of user 100 dropped after 0 of 60 nodes: it held the most when room was needed"));
  EXPECT_EQ(5 * unit, server->StagedBytes());
}

// Only a transfer holding more than its fair share gives way: an upload or a
// download of exactly the share stays, and the newcomer is refused.
TEST_F(StagedBytes, ATransferOfExactlyItsShareStays) {
  for (bool upload : {true, false}) {
    log.clear();
    if (upload) {
      opt.maxTransfers = 2;
      opt.maxStagedTotal = 100 * unit;
      LogInAll();
      EXPECT_EQ(50, Stage(A, 100, "secret", 50));
    } else {
      DownloadUnderWay(50);
    }
    EXPECT_EQ(50 * unit, server->StagedBytes()) << upload;
    EXPECT_EQ(5, Stage(B, 200, "pw200", 5));
    EXPECT_EQ(-1, Stage(C, 300, "pw300", 0));
    EXPECT_TRUE(Logged("refused upload by user 300: too many transfers under way")) << upload;
    EXPECT_FALSE(Logged("it held the most")) << upload;
    EXPECT_EQ(55 * unit, server->StagedBytes()) << upload;
  }
}

TEST_F(StagedBytes, ACompletedUploadFreesItsRoom) {
  Login(A, 100, "secret");
  EXPECT_EQ(20, Stage(A, 100, "secret", 20, 20));
  EXPECT_EQ(20, storage->CountTree(100));
  EXPECT_EQ(0u, server->StagedBytes());
}

TEST_F(StagedBytes, ADownloadCountsTowardTheTotalToo) {
  std::vector<qb::NodeWire> tree(10, node);
  Login(B, 200, "pw200");
  ASSERT_TRUE(storage->ReplaceTree(200, tree));
  Send(B, 0, 50, qb::MsgFavDownReq(200, "pw200"));
  Take();
  EXPECT_EQ(10 * unit, server->StagedBytes());
  // Asked for again while under way, it begins anew and holds its room once.
  Send(B, 0, 51, qb::MsgFavDownReq(200, "pw200"));
  EXPECT_EQ("COUNT", Take().at(0).f.at(1));
  EXPECT_EQ(10 * unit, server->StagedBytes());
  Send(B, 0, 52, qb::MsgFavDownCancel());
  EXPECT_EQ(0u, server->StagedBytes());
  // With no room for it the download is not begun (the program times out and tries later).
  opt.maxStagedTotal = 10 * unit - 1;
  Restart();
  Login(B, 200, "pw200");
  Send(B, 0, 52, qb::MsgFavDownReq(200, "pw200"));
  EXPECT_TRUE(Take().empty());
  EXPECT_TRUE(Logged("refused download by user 200: no room"));
  opt.maxStagedTotal = 10 * unit;
  Restart();
  Login(B, 200, "pw200");
  Send(B, 0, 53, qb::MsgFavDownReq(200, "pw200"));
  EXPECT_EQ("COUNT", Take().at(0).f.at(1));
}

// ---- accounts changed while logged in ------------------------------------------------------

TEST_F(Hostile, ChangingOrDeletingAnAccountEndsItsSessionAtTheNextPoll) {
  Login(A, 100, "secret");
  Login(B, 200, "pw200");
  Login(C, 300, "pw300");
  std::ostringstream said;
  std::string error;
  ASSERT_TRUE(RunUserCommand(*storage, {"passwd", "100", "changed"}, HashCost::Minimum, said, error)) << error;
  ASSERT_TRUE(RunUserCommand(*storage, {"del", "200"}, HashCost::Minimum, said, error)) << error;
  now += opt.accountPollMs - 1;
  server->OnTick(now);
  EXPECT_TRUE(server->IsOnline(100));
  now += 1;
  server->OnTick(now);
  EXPECT_FALSE(server->IsOnline(100));
  EXPECT_FALSE(server->IsOnline(200));
  EXPECT_TRUE(server->IsOnline(300));
  EXPECT_TRUE(Logged("logout user 100 (account changed)"));
  // The old password opens nothing any more; the new one does.
  Send(A, 0, 5, qb::MsgKeepAlive(100, "secret"));
  EXPECT_FALSE(server->IsOnline(100));
  Send(A, 0, 6, qb::MsgKeepAlive(100, "changed"));
  EXPECT_TRUE(server->IsOnline(100));
  // A server started later does not end sessions for changes made before it.
  Restart();
  Login(A, 100, "changed");
  now += opt.accountPollMs;
  server->OnTick(now);
  EXPECT_TRUE(server->IsOnline(100));
}

}  // namespace

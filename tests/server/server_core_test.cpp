// The protocol core driven datagram by datagram with a fake clock: sessions,
// refusals, rate limits, transfers with their resends and limits, circles,
// leave-words and the plaza.
#include <algorithm>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "base/cipher.h"
#include "server_cli.h"
#include "server_fixture.h"

using namespace qsrv;
using namespace qbtest;

namespace {

TEST_F(ServerCore, LoginAcceptedAnswersOnThePortItCameInWithVersionAdAndPlaza) {
  opt.newestVersion = 1061;
  opt.chatAd = "http://ad.example.com/";
  Restart();
  Send(A, 3, 41, qb::MsgLogin(100, "secret"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(4u, s.size());
  EXPECT_EQ(A, s[0].address);
  EXPECT_EQ(3, s[0].k);
  EXPECT_EQ(41, s[0].n);
  EXPECT_EQ(qb::FrameMessage(41, qb::MsgLoginOk(100)) + '\0', s[0].payload);
  EXPECT_EQ("VER", s[1].type);
  EXPECT_EQ("1061", s[1].f.at(0));
  // The news go to the program's first port, whatever port the request came in on.
  for (int i = 1; i < 4; ++i) EXPECT_EQ(0, s[i].k) << i;
  EXPECT_EQ("CHATAD", s[2].type);
  EXPECT_EQ("http://ad.example.com/", s[2].f.at(0));
  EXPECT_EQ("CHAT", s[3].type);
  EXPECT_EQ("LIST", s[3].f.at(0));
  EXPECT_EQ("1", s[3].f.at(1));
  EXPECT_EQ("10.0.0.1", s[3].f.at(2));
  EXPECT_EQ("\xD5\xC5\xC8\xFD(100)", s[3].f.at(3));
  // The server's own numbers count up from 1 in each session, as the program's do.
  EXPECT_EQ(1, s[1].n);
  EXPECT_EQ(2, s[2].n);
  EXPECT_EQ(3, s[3].n);
  EXPECT_TRUE(server->IsOnline(100));
  EXPECT_TRUE(Logged("login user 100 from 10.0.0.1"));
}

// A datagram is read to its size: without a terminating zero, the bytes
// after it in the buffer are not part of the message, not even one that
// would complete it.
TEST_F(ServerCore, ADatagramWithoutItsZeroEndsAtItsSize) {
  std::string d = qb::FrameMessage(41, qb::MsgLogin(100, "secret"));
  server->OnDatagram(A, 0, d.data(), d.size() - 3, now);  // the password's ">" and the line end left outside
  EXPECT_FALSE(server->IsOnline(100)) << "a login without its password is no login";
  Take();
  server->OnDatagram(A, 0, d.data(), d.size(), now);
  std::vector<Sent> s = Take();
  ASSERT_EQ(2u, s.size()) << "no version and no ad are set: the login and the plaza list only";
  EXPECT_EQ(qb::FrameMessage(41, qb::MsgLoginOk(100)) + '\0', s[0].payload);
  EXPECT_EQ("CHAT", s[1].type);
  // A number with no message after it is malformed, not a message of no kind.
  uint64_t malformed = server->Counters().malformed;
  std::string bare = "<42>\r\n";
  server->OnDatagram(A, 0, bare.data(), bare.size(), now);
  EXPECT_EQ(malformed + 1, server->Counters().malformed);
  EXPECT_TRUE(Take().empty());
}

// A port index outside the five is answered as if it came in on the first.
TEST_F(ServerCore, ARequestOnAPortIndexOutsideTheFiveIsAnsweredOnTheFirst) {
  for (int k : {-1, 5}) {
    Send(A, k, 7, qb::MsgLogin(100, "wrong"));
    std::vector<Sent> s = Take();
    ASSERT_EQ(1u, s.size()) << k;
    EXPECT_EQ(0, s[0].k) << k;
    EXPECT_EQ(7, s[0].n) << k;
  }
}

TEST_F(ServerCore, WrongPasswordUnknownUserAndBadCipherAreRefused) {
  Send(A, 0, 1, qb::MsgLogin(100, "Secret"));
  Send(A, 0, 2, qb::MsgLogin(999, "secret"));
  Send(A, 0, 3, "<LGI><1060><100><" + std::string("ZZZZ") + ">");
  std::vector<Sent> s = Take();
  ASSERT_EQ(3u, s.size());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(i + 1, s[i].n);
    EXPECT_EQ("LGI", s[i].type);
    EXPECT_TRUE(s[i].f.empty() || s[i].f[0] != "OK");
  }
  EXPECT_FALSE(server->IsOnline(100));
  EXPECT_EQ(3u, server->Counters().refused);
  // A right login reply only ever names the user who asked.
  Login(B, 200, "pw200");
}

TEST_F(ServerCore, WrongPasswordsAreRateLimitedPerAddress) {
  EXPECT_EQ(5, ServerOptions().loginFailLimit);
  EXPECT_EQ(60000u, ServerOptions().loginFailWindowMs);
  // Named limits reach the gate: three wrong passwords in half a minute.
  opt.loginFailLimit = 3;
  opt.loginFailWindowMs = 30000;
  Restart();
  for (int i = 0; i < 3; ++i) Send(A, 0, i, qb::MsgLogin(100, "guess"));
  Take();
  Send(A, 0, 9, qb::MsgLogin(100, "secret"));  // right, but the address is blocked now
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_NE("OK", s[0].f.empty() ? "" : s[0].f[0]);
  EXPECT_TRUE(Logged("too many wrong passwords"));
  // Another address is not affected, and the block ends with its window.
  Login(B, 100, "secret");
  now += 29999;
  Send(A, 0, 10, qb::MsgLogin(100, "secret"));
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_NE("OK", s[0].f.empty() ? "" : s[0].f[0]);
  now += 1;
  Login(A, 100, "secret");
}

TEST_F(ServerCore, SessionEndsWithoutKeepAliveAndKeepAliveHoldsIt) {
  Login(A, 100, "secret");
  Login(B, 200, "pw200");
  // 200 keeps alive every 20 minutes; 100 stays silent.
  for (int i = 0; i < 3; ++i) {
    now += 20 * 60 * 1000;
    Send(B, 1, 10 + i, qb::MsgKeepAlive(200, "pw200"));
    server->OnTick(now);
  }
  EXPECT_FALSE(server->IsOnline(100));
  EXPECT_TRUE(server->IsOnline(200));
  // The plaza hears that 100 left.
  bool dele = false;
  for (auto& s : Take())
    if (s.address == B && s.type == "CHAT" && s.f.at(0) == "DELEUSER" && s.f.at(1) == "10.0.0.1") dele = true;
  EXPECT_TRUE(dele);
  EXPECT_TRUE(Logged("logout user 100 (no keep-alive)"));
}

// Logging in again over a live session renews it from the moment its
// password is found right (a check may wait for a worker).
TEST_F(ServerCore, ALoginOverALiveSessionRenewsItWhenItsCheckIsAnswered) {
  CDeferredCheck check;
  server.reset(new CServer(*storage, out, opt, &check));
  Send(A, 0, 1, qb::MsgLogin(100, "secret"));
  check.Answer(0);
  now += 30 * 60 * 1000;
  Send(A, 0, 2, qb::MsgLogin(100, "secret"));
  now += 10 * 60 * 1000;
  server->OnTick(now);
  ASSERT_EQ(2u, check.pending.size());
  check.Answer(1);
  EXPECT_TRUE(Logged("login user 100 from 10.0.0.1 (again)"));
  EXPECT_FALSE(Logged("logout user 100")) << "from the same address the session goes on";
  now += 45 * 60 * 1000 - 1;
  server->OnTick(now);
  EXPECT_TRUE(server->IsOnline(100));
  now += 1;
  server->OnTick(now);
  EXPECT_FALSE(server->IsOnline(100));
}

// Every keep-alive is answered, under its own number, so that the program
// learns when its session is gone.
TEST_F(ServerCore, KeepAliveWithTheRightPasswordReopensASessionLostInARestart) {
  auto answer = [&](uint32_t from, int32_t n) {
    for (auto& m : Take())
      if (m.address == from && m.type == "LIV") {
        EXPECT_EQ(n, m.n);
        return m.f.empty() ? std::string("-") : m.f[0];
      }
    return std::string("none");
  };
  Login(A, 100, "secret");
  Send(A, 0, 4, qb::MsgKeepAlive(100, "secret"));
  EXPECT_EQ("OK", answer(A, 4));
  Restart();
  EXPECT_FALSE(server->IsOnline(100));
  Send(A, 0, 5, qb::MsgKeepAlive(100, "wrong"));
  EXPECT_EQ("FAILED", answer(A, 5));
  EXPECT_FALSE(server->IsOnline(100));
  Send(A, 0, 6, qb::MsgKeepAlive(100, "secret"));
  EXPECT_EQ("OK", answer(A, 6));
  EXPECT_TRUE(server->IsOnline(100));

  // The same user logs in on B: A's keep-alive no longer takes the session
  // back (which would throw B out), it is told; A's own login again does.
  Login(B, 100, "secret");
  Send(A, 0, 7, qb::MsgKeepAlive(100, "secret"));
  EXPECT_EQ("ELSEWHERE", answer(A, 7));
  EXPECT_TRUE(server->IsOnline(100));
  EXPECT_EQ(1, std::count_if(log.begin(), log.end(),
                             [](const std::string& l) { return l.find("logged in elsewhere") != std::string::npos; }));
  Send(B, 0, 8, qb::MsgKeepAlive(100, "secret"));
  EXPECT_EQ("OK", answer(B, 8));
  Login(A, 100, "secret");
  Send(A, 0, 9, qb::MsgKeepAlive(100, "secret"));
  EXPECT_EQ("OK", answer(A, 9));
  Send(B, 0, 10, qb::MsgKeepAlive(100, "secret"));
  EXPECT_EQ("ELSEWHERE", answer(B, 10));
}

TEST_F(ServerCore, PlazaAnnouncesJoinsAndLeavesAndLogoutNeedsThePassword) {
  Login(A, 100, "secret");
  Send(B, 0, 1, qb::MsgLogin(200, "pw200"));
  std::vector<Sent> s = Take();
  bool add = false, list = false;
  for (auto& m : s) {
    if (m.address == A && m.type == "CHAT" && m.f.at(0) == "ADDUSER") {
      EXPECT_EQ("10.0.0.2", m.f.at(1));
      EXPECT_EQ("lisi(200)", m.f.at(2));
      add = true;
    }
    if (m.address == B && m.type == "CHAT" && m.f.at(0) == "LIST") {
      EXPECT_EQ("2", m.f.at(1));
      EXPECT_EQ("10.0.0.2", m.f.at(2));  // the user himself first
      EXPECT_EQ("10.0.0.1", m.f.at(4));
      list = true;
    }
  }
  EXPECT_TRUE(add);
  EXPECT_TRUE(list);
  Send(B, 0, 2, qb::MsgLogout(200, "nope"));
  EXPECT_TRUE(server->IsOnline(200));
  Send(B, 0, 3, qb::MsgLogout(200, "pw200"));
  Send(B, 0, 4, qb::MsgLogout(200, "pw200"));  // the program sends it twice
  EXPECT_FALSE(server->IsOnline(200));
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ(A, s[0].address);
  EXPECT_EQ("DELEUSER", s[0].f.at(0));
}

TEST_F(ServerCore, ALoginFromTheSameAddressEndsTheOtherUsersSession) {
  Login(A, 100, "secret");
  Login(A, 200, "pw200");
  EXPECT_FALSE(server->IsOnline(100));
  EXPECT_TRUE(server->IsOnline(200));
  // ... and a user logging in elsewhere leaves his old address.
  Login(B, 200, "pw200");
  EXPECT_EQ(1u, server->SessionCount());
}

TEST_F(ServerCore, SessionsAreBoundedAndALoginBeyondTheBoundIsRefused) {
  EXPECT_EQ(10000u, ServerOptions().maxSessions);
  opt.maxSessions = 2;
  Restart();
  Login(A, 100, "secret");
  Login(B, 200, "pw200");
  Send(C, 0, 5, qb::MsgLogin(300, "pw300"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_NE("OK", s[0].f.empty() ? "" : s[0].f[0]);
  EXPECT_TRUE(Logged("login of user 300: too many sessions"));
  EXPECT_FALSE(server->IsOnline(300));
  // Nor does a keep-alive with the right password open one beyond the bound.
  size_t refused = server->Counters().refused;
  Send(C, 0, 6, qb::MsgKeepAlive(300, "pw300"));
  EXPECT_EQ(refused + 1, server->Counters().refused);
  EXPECT_TRUE(Logged("refused keep-alive for user 300: too many sessions"));
  EXPECT_FALSE(server->IsOnline(300));
  // Logging in again over one's own session takes no new one.
  Login(B, 200, "pw200");
  // One leaves: room again.
  Send(A, 0, 6, qb::MsgLogout(100, "secret"));
  Login(C, 300, "pw300");
  EXPECT_EQ(2u, server->SessionCount());
}

// The count of a plaza list, checked for its form: a pair of fields per
// user after the count, all in one datagram of at most 1000 bytes.
static int32_t PlazaCount(const Sent& list) {
  EXPECT_EQ("CHAT", list.type);
  EXPECT_EQ("LIST", list.f.at(0));
  int32_t count = qb::ReadNumber(list.f.at(1));
  EXPECT_EQ(2u + 2 * count, list.f.size());
  EXPECT_LE(list.payload.size(), 1000u);
  return count;
}

// More people on the plaza than one datagram can name: the newcomer first,
// then as many as fit.
TEST_F(ServerCore, APlazaListFitsOneDatagramWithTheNewcomerFirst) {
  for (int i = 0; i < 30; ++i) {
    AddUser(1000 + i, "p", std::string(32, (char)('a' + i % 26)));
    Login(qb::MakeAddress(10, 0, 1, 100 + i), 1000 + i, "p");
  }
  Sent list = PlazaAfterLogin();
  ASSERT_FALSE(list.payload.empty());
  int32_t count = PlazaCount(list);
  EXPECT_GE(count, 2);
  EXPECT_LT(count, 31);
  EXPECT_EQ("10.0.0.1", list.f.at(2));
  EXPECT_EQ("\xD5\xC5\xC8\xFD(100)", list.f.at(3));
  // One more ("10.0.1.1xx" and 32 bytes of nickname with "(10xx)") would not have fitted.
  EXPECT_GT(list.payload.size() + 10 + 38 + 2 * 2, 1000u);
}

TEST_F(ServerCore, SlowPasswordChecksHoldUpNobodyAndOneAddressGetsOneAtATime) {
  CDeferredCheck check;
  server.reset(new CServer(*storage, out, opt, &check));
  Send(B, 0, 1, qb::MsgLogin(200, "pw200"));
  ASSERT_EQ(1u, check.pending.size());
  EXPECT_TRUE(Take().empty());
  check.Answer(0);
  Take();
  Send(A, 0, 1, qb::MsgLogin(100, "secret"));
  Send(A, 0, 2, qb::MsgLogin(100, "secret"));  // a second check from A is refused at once
  Send(C, 0, 3, qb::MsgLogin(300, "wrong"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ(2, s[0].n);
  EXPECT_NE("OK", s[0].f.empty() ? "" : s[0].f[0]);
  ASSERT_EQ(3u, check.pending.size());
  // Meanwhile a logged-in user is served as usual.
  Send(B, 0, 4, qb::MsgFavDownReq(200, "pw200"));
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("BLANK", s[0].f.at(2));
  check.Answer(2);
  check.Answer(1);
  s = Take();
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(C, s[0].address);
  EXPECT_EQ(3, s[0].n);
  EXPECT_TRUE(s[0].f.empty() || s[0].f[0] != "OK");
  bool okForA = false;
  for (auto& m : s) okForA |= m.address == A && m.payload == qb::FrameMessage(1, qb::MsgLoginOk(100)) + '\0';
  EXPECT_TRUE(okForA);
  EXPECT_TRUE(server->IsOnline(100));
  // A transfer request without a session waits for its check as well.
  Send(C, 2, 9, qb::MsgFavUpCount(2, 300, "pw300"));
  EXPECT_TRUE(Take().empty());
  check.Answer(3);
  s = Take();
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(9, s.back().n);
  EXPECT_EQ("ALLOWED", s.back().f.at(1));
}

TEST_F(ServerCore, APasswordLongerThanTwentyBytesNeverReachesTheSlowCheck) {
  // Passwords are 1 to 20 bytes: a longer one is refused unchecked, on login
  // and on the keep-alive that reopens a session.
  AddUser(400, std::string(20, 'p'), "max");
  CDeferredCheck check;
  server.reset(new CServer(*storage, out, opt, &check));
  Send(A, 0, 1, qb::MsgLogin(400, std::string(21, 'p')));
  Send(B, 1, 2, qb::MsgKeepAlive(400, std::string(21, 'p')));
  EXPECT_TRUE(check.pending.empty());
  std::vector<Sent> s = Take();
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ(A, s[0].address);
  EXPECT_EQ("LGI", s[0].type);
  EXPECT_NE("OK", s[0].f.empty() ? "" : s[0].f[0]);
  EXPECT_EQ(B, s[1].address);
  EXPECT_EQ("LIV", s[1].type);
  EXPECT_EQ("FAILED", s[1].f.at(0));
  EXPECT_EQ(2u, server->Counters().refused);
  // Twenty bytes exactly go to the check and log in.
  Send(C, 0, 3, qb::MsgLogin(400, std::string(20, 'p')));
  ASSERT_EQ(1u, check.pending.size());
  check.Answer(0);
  EXPECT_TRUE(server->IsOnline(400));
}

// ---- transfers ----------------------------------------------------------------

class Transfer : public ServerCore {
 protected:
  // Uploads `nodes` from A as user 100, numbering from `n`; false when an
  // acknowledgement is missing or carries another number.
  bool Upload(const std::vector<qb::NodeWire>& nodes, int32_t n = 100) {
    Send(A, 2, n, qb::MsgFavUpCount((int32_t)nodes.size(), 100, "secret"));
    std::vector<Sent> s = TakeFor(A);
    if (s.size() != 1 || s[0].n != n || s[0].f.size() != 2 || s[0].f[1] != "ALLOWED") return false;
    for (const qb::NodeWire& node : nodes) {
      Send(A, 2, ++n, qb::MsgFavUpNode(node));
      s = TakeFor(A);
      if (s.size() != 1 || s[0].n != n || s[0].f.size() < 3 || s[0].f[2] != "OK") return false;
    }
    return true;
  }
  void SetUp() override {
    ServerCore::SetUp();
    Login(A, 100, "secret");
  }
};

TEST_F(Transfer, DownloadOfNothingIsBlankAndAWrongPasswordIsInvalid) {
  Send(A, 0, 7, qb::MsgFavDownReq(100, "secret"));
  Send(A, 0, 8, qb::MsgFavDownReq(100, "bad"));
  Send(B, 0, 9, qb::MsgFavDownReq(200, "bad"));  // no session, wrong password
  std::vector<Sent> s = Take();
  ASSERT_EQ(3u, s.size());
  EXPECT_EQ(7, s[0].n);
  EXPECT_EQ("BLANK", s[0].f.at(2));
  EXPECT_EQ("INVALID", s[1].f.at(2));
  EXPECT_EQ("INVALID", s[2].f.at(2));
}

TEST_F(Transfer, TheStoredTreeChangesOnlyWhenTheLastNodeArrives) {
  std::vector<qb::NodeWire> oldTree = MakeSampleTree(5);
  ASSERT_TRUE(Upload(oldTree));
  std::vector<qb::NodeWire> newTree = MakeSampleTree(40);
  newTree[0].name = "changed";
  // Cancelled half way.
  Send(A, 0, 300, qb::MsgFavUpCount(40, 100, "secret"));
  for (int i = 0; i < 20; ++i) Send(A, 0, 301 + i, qb::MsgFavUpNode(newTree[i]));
  EXPECT_EQ(5, storage->CountTree(100));
  size_t refused = server->Counters().refused;
  Send(A, 0, 330, qb::MsgFavUpCancel());
  Send(A, 0, 331, qb::MsgFavUpNode(newTree[20]));  // no upload any more: not stored
  Send(A, 0, -1, qb::MsgFavUpNode(newTree[20]));   // refused whatever its number
  EXPECT_EQ(refused + 2, server->Counters().refused);
  // Abandoned half way.
  Send(A, 0, 400, qb::MsgFavUpCount(40, 100, "secret"));
  for (int i = 0; i < 20; ++i) Send(A, 0, 401 + i, qb::MsgFavUpNode(newTree[i]));
  now += opt.uploadIdleMs;
  server->OnTick(now);
  EXPECT_TRUE(Logged("dropped after 20 of 40 nodes: abandoned"));
  // Ended by a logout.
  Send(A, 0, 500, qb::MsgFavUpCount(40, 100, "secret"));
  Send(A, 0, 501, qb::MsgFavUpNode(newTree[0]));
  Send(A, 0, 502, qb::MsgLogout(100, "secret"));
  Take();
  EXPECT_TRUE(Logged("upload of user 100 dropped: session ended"));
  EXPECT_FALSE(Logged("download of user 100 dropped"));
  std::vector<qb::NodeWire> stored;
  ASSERT_TRUE(storage->LoadTree(100, stored));
  ASSERT_EQ(5u, stored.size());
  EXPECT_EQ(oldTree[0].name, stored[0].name);
}

// An upload naming the revision it was made from is refused when the tree
// changed since: at its COUNT, or at its last node when another upload was
// stored meanwhile. A download names the revision it carries.
TEST_F(Transfer, AnUploadFromAnOlderRevisionIsRefusedAtItsCountOrItsLastNode) {
  auto count = [&](int32_t n, int nodes, const std::string& from) {
    Send(A, 0, n, qb::MsgFavUpCount(nodes, 100, "secret") + from);
    std::vector<Sent> s = TakeFor(A);
    return s.size() == 1 && s[0].n == n ? s[0].f.at(1) + (s[0].f.size() > 2 ? s[0].f[2] : "") : "?";
  };
  std::vector<qb::NodeWire> tree = MakeSampleTree(2);
  EXPECT_EQ("STALE0", count(10, 2, "<3>")) << "nothing stored: revision 0";
  EXPECT_EQ("ALLOWED", count(11, 2, "<0>"));
  Send(A, 0, 12, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, 13, qb::MsgFavUpNode(tree[1]));
  std::vector<Sent> s = TakeFor(A);
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ((qb::FieldList{"UP", "NODE", "OK", "1"}), s[1].f) << "the new revision";
  // A second machine made its tree from revision 0 too: refused.
  EXPECT_EQ("STALE1", count(20, 2, "<0>"));
  // Refused while an upload is under way, the COUNT ends that upload too.
  EXPECT_EQ("ALLOWED", count(21, 2, "<1>"));
  Send(A, 0, 22, qb::MsgFavUpNode(tree[0]));
  Take();
  EXPECT_EQ("STALE1", count(23, 2, "<0>"));
  Send(A, 0, 24, qb::MsgFavUpNode(tree[1]));
  Take();
  EXPECT_EQ(1, storage->TreeRevision(100)) << "the upload under way was dropped";
  // Another instance stores a tree between ALLOWED and the last node.
  EXPECT_EQ("ALLOWED", count(30, 2, "<1>"));
  Send(A, 0, 31, qb::MsgFavUpNode(tree[0]));
  ASSERT_TRUE(storage->ReplaceTree(100, MakeSampleTree(7)));
  Take();
  Send(A, 0, 32, qb::MsgFavUpNode(tree[1]));
  s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ(32, s[0].n);
  EXPECT_EQ((qb::FieldList{"UP", "STALE", "2"}), s[0].f);
  EXPECT_EQ(7, storage->CountTree(100)) << "the other's tree stays";
  EXPECT_TRUE(Logged("refused: made from revision 1, the tree is at 2"));
  // The answer lost, the last node comes again: the same answer, nothing stored.
  Send(A, 0, 32, qb::MsgFavUpNode(tree[1]));
  s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ((qb::FieldList{"UP", "STALE", "2"}), s[0].f);
  EXPECT_EQ(7, storage->CountTree(100));
  // Without a revision the upload replaces whatever is stored, as before.
  EXPECT_TRUE(Upload(tree, 40));
  EXPECT_EQ(3, storage->TreeRevision(100));
  // A download carries the revision after its total.
  Send(A, 0, 60, qb::MsgFavDownReq(100, "secret"));
  s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ((qb::FieldList{"DOWN", "COUNT", "2", "3"}), s[0].f);
}

// Answers lost on the way: a COUNT or a last node sent again gets the same
// answer again, and the upload goes on or stays stored once.
TEST_F(Transfer, AnUploadRequestOrLastNodeSentAgainIsAnsweredAgain) {
  std::vector<qb::NodeWire> tree = MakeSampleTree(2);
  Send(A, 0, 10, qb::MsgFavUpCount(2, 100, "secret"));
  Send(A, 3, 10, qb::MsgFavUpCount(2, 100, "secret"));
  std::vector<Sent> s = TakeFor(A);
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ("ALLOWED", s[1].f.at(1));
  EXPECT_EQ(3, s[1].k);
  EXPECT_FALSE(Logged("a new upload began"));
  Send(A, 0, 11, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, 12, qb::MsgFavUpNode(tree[1]));
  s = TakeFor(A);
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ((qb::FieldList{"UP", "NODE", "OK", "1"}), s[1].f);
  Send(A, 2, 12, qb::MsgFavUpNode(tree[1]));
  s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ(12, s[0].n);
  EXPECT_EQ((qb::FieldList{"UP", "NODE", "OK", "1"}), s[0].f);
  EXPECT_EQ(1, storage->TreeRevision(100)) << "stored once";
  EXPECT_EQ(2, storage->CountTree(100));
  // A program started again may number its request as before: once nodes
  // came, the COUNT begins anew rather than adding to the old nodes.
  Send(A, 0, 20, qb::MsgFavUpCount(2, 100, "secret"));
  Send(A, 0, 21, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, 20, qb::MsgFavUpCount(2, 100, "secret"));
  EXPECT_TRUE(Logged("dropped after 1 of 2 nodes: a new upload began"));
}

TEST_F(Transfer, ACancelOvertakenByTheNextRequestCancelsNothing) {
  std::vector<qb::NodeWire> tree = MakeSampleTree(3);
  Send(A, 0, 49, qb::MsgFavUpCancel());
  EXPECT_FALSE(Logged("dropped")) << "a cancel with no upload under way drops nothing";
  Send(A, 0, 50, qb::MsgFavUpCount(3, 100, "secret"));
  Send(A, 0, 51, qb::MsgFavUpNode(tree[0]));
  // The program cancelled (52) and started again (53); the COUNT came in first.
  Send(A, 3, 53, qb::MsgFavUpCount(3, 100, "secret"));
  Send(A, 0, 52, qb::MsgFavUpCancel());
  Send(A, 3, 54, qb::MsgFavUpNode(tree[0]));
  Send(A, 3, 55, qb::MsgFavUpNode(tree[1]));
  Send(A, 3, 56, qb::MsgFavUpNode(tree[2]));
  EXPECT_TRUE(Logged("dropped after 1 of 3 nodes: a new upload began"));
  // The node of the first try is not kept in front of the second.
  std::vector<qb::NodeWire> stored;
  ASSERT_TRUE(storage->LoadTree(100, stored));
  ASSERT_EQ(3u, stored.size());
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(tree[i].name, stored[i].name) << i;
  // The same for a download and its CANCEL.
  Send(A, 0, 60, qb::MsgFavDownReq(100, "secret"));
  Send(A, 0, 59, qb::MsgFavDownCancel());
  EXPECT_FALSE(Logged("cancelled")) << "the stale cancel is passed over";
  int32_t count = Take().back().n;
  Send(A, 0, count, qb::MsgFavDownReady());
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ(count + 1, s[0].n);
  Send(A, 0, 61, qb::MsgFavDownCancel());
  EXPECT_TRUE(Logged("download of user 100 cancelled"));
  Send(A, 0, count + 1, qb::MsgFavDownNodeOk());
  EXPECT_TRUE(Take().empty());
  // Only an older number is stale: a cancel numbered like its request counts.
  log.clear();
  Send(A, 0, 70, qb::MsgFavDownReq(100, "secret"));
  Take();
  Send(A, 0, 70, qb::MsgFavDownCancel());
  EXPECT_TRUE(Logged("download of user 100 cancelled"));
  Send(A, 0, 80, qb::MsgFavUpCount(3, 100, "secret"));
  Send(A, 0, 80, qb::MsgFavUpCancel());
  EXPECT_TRUE(Logged("dropped after 0 of 3 nodes: cancelled"));
}

TEST_F(Transfer, AWrongPasswordOrAnAbsurdCountGetsNoPermission) {
  Send(A, 0, 10, qb::MsgFavUpCount(3, 100, "wrong"));
  Send(A, 0, 11, qb::MsgFavUpCount(0, 100, "secret"));
  Send(A, 0, 12, qb::MsgFavUpCount(20001, 100, "secret"));
  Send(A, 0, 13, qb::MsgFavUpCount(-5, 100, "secret"));
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(4u, server->Counters().refused);
  // One node and 20000 nodes are uploads.
  for (int32_t count : {1, 20000}) {
    Send(A, 0, 14, qb::MsgFavUpCount(count, 100, "secret"));
    std::vector<Sent> s = Take();
    ASSERT_EQ(1u, s.size()) << count;
    EXPECT_EQ("ALLOWED", s[0].f.at(1)) << count;
  }
  EXPECT_EQ(4u, server->Counters().refused);
}

TEST_F(Transfer, TransfersUnderWayAtOnceAreBounded) {
  opt.maxTransfers = 1;
  Restart();
  Login(A, 100, "secret");
  Login(B, 200, "pw200");
  ASSERT_TRUE(storage->ReplaceTree(200, MakeSampleTree(2)));
  Send(A, 0, 10, qb::MsgFavUpCount(2, 100, "secret"));
  EXPECT_EQ(1u, TakeFor(A).size());
  Send(B, 0, 11, qb::MsgFavDownReq(200, "pw200"));
  Send(B, 0, 12, qb::MsgFavUpCount(2, 200, "pw200"));
  EXPECT_TRUE(TakeFor(B).empty());
  EXPECT_TRUE(Logged("too many transfers under way"));
  // The one under way may begin anew: it takes no second place.
  Send(A, 0, 12, qb::MsgFavUpCount(2, 100, "secret"));
  std::vector<Sent> s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("ALLOWED", s[0].f.at(1));
  Send(A, 0, 13, qb::MsgFavUpCancel());
  Send(B, 0, 14, qb::MsgFavDownReq(200, "pw200"));
  s = TakeFor(B);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("COUNT", s[0].f.at(1));
  Send(B, 0, 15, qb::MsgFavDownReq(200, "pw200"));
  s = TakeFor(B);
  ASSERT_EQ(1u, s.size()) << "a download asked for again begins anew";
  EXPECT_EQ("COUNT", s[0].f.at(1));
}

// With one transfer at a time, the one under way keeps its place even when it
// holds most of the room: another is refused, not given its place.
TEST_F(Transfer, TheOnlyTransferIsNotDroppedForItsSize) {
  std::vector<qb::NodeWire> tree = MakeSampleTree(2);
  size_t node = qb::FrameMessage(INT32_MIN, qb::MsgFavDownNode(tree[0])).size() + sizeof(qb::NodeWire);
  opt.maxTransfers = 1;
  opt.maxStagedTotal = node * 3 / 2;  // the first node takes two thirds of it
  Restart();
  Login(A, 100, "secret");
  Login(B, 200, "pw200");
  Send(A, 0, 10, qb::MsgFavUpCount(2, 100, "secret"));
  Send(A, 0, 11, qb::MsgFavUpNode(tree[0]));
  std::vector<Sent> s = TakeFor(A);
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ("NODE", s[1].f.at(1));
  Send(B, 0, 12, qb::MsgFavUpCount(2, 200, "pw200"));
  EXPECT_TRUE(TakeFor(B).empty());
  EXPECT_TRUE(Logged("too many transfers under way"));
  EXPECT_FALSE(Logged("it held the most")) << "the upload under way goes on";
}

TEST_F(Transfer, ADuplicatedNodeDatagramIsAcknowledgedButStoredOnce) {
  std::vector<qb::NodeWire> tree = MakeSampleTree(3);
  Send(A, 0, 20, qb::MsgFavUpCount(3, 100, "secret"));
  Send(A, 0, 21, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, 21, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, 22, qb::MsgFavUpNode(tree[1]));
  EXPECT_EQ(0, storage->CountTree(100));
  Send(A, 0, 23, qb::MsgFavUpNode(tree[2]));
  std::vector<Sent> s = Take();
  ASSERT_EQ(5u, s.size());
  EXPECT_EQ(21, s[2].n);
  EXPECT_EQ(3, storage->CountTree(100));
  // A new upload remembers no node yet: its first node is stored whatever its number.
  Send(A, 0, -3, qb::MsgFavUpCount(2, 100, "secret"));
  Send(A, 0, -2, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, -1, qb::MsgFavUpNode(tree[1]));
  EXPECT_EQ(2, storage->CountTree(100));
}

// Older programs send an unanswered node again under the number of the
// keep-alive they sent meanwhile. The same node once more is that repeat,
// and a node under an older number than the last one stored is a late copy:
// neither is stored again, so the upload ends with its real last node.
TEST_F(Transfer, TheLastNodeAgainUnderALaterNumberIsARepeat) {
  std::vector<qb::NodeWire> tree = MakeSampleTree(3);
  Send(A, 0, 20, qb::MsgFavUpCount(3, 100, "secret"));
  Send(A, 0, 21, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, 23, qb::MsgFavUpNode(tree[0]));  // 22 was a keep-alive
  Send(A, 0, 21, qb::MsgFavUpNode(tree[0]));  // a copy overtaken on another port
  Send(A, 0, 24, qb::MsgFavUpNode(tree[1]));
  Send(A, 0, 21, qb::MsgFavUpNode(tree[0]));
  EXPECT_EQ(0, storage->CountTree(100));
  Send(A, 0, 25, qb::MsgFavUpNode(tree[2]));
  Send(A, 0, 27, qb::MsgFavUpNode(tree[2]));  // the last one's answer was lost
  Send(A, 0, 28, qb::MsgFavUpNode(tree[1]));  // not the last node: no upload under way
  std::vector<Sent> s = Take();
  ASSERT_EQ(6u, s.size());
  EXPECT_EQ(23, s[2].n);
  EXPECT_EQ((qb::FieldList{"UP", "NODE", "OK"}), s[2].f);
  EXPECT_EQ(27, s[5].n);
  EXPECT_EQ(s[4].f, s[5].f) << "the stored tree's answer again";
  EXPECT_EQ(1, storage->TreeRevision(100));
  std::vector<qb::NodeWire> stored;
  ASSERT_TRUE(storage->LoadTree(100, stored));
  EXPECT_TRUE(stored == tree) << "each node once, the last one included";
  EXPECT_TRUE(Logged("no upload under way"));
}

TEST_F(Transfer, ANodeTheProgramCouldNotReadBackIsRefusedAndTheOldTreeStays) {
  ASSERT_TRUE(Upload(MakeSampleTree(2)));
  // The seventh field (visits) empty: the program would fail every later download.
  Send(A, 0, 40, qb::MsgFavUpCount(2, 100, "secret"));
  Send(A, 0, 41, "<FAV><UP><NODE><" + qb::EncodeText("x") + "><0><><><><><><3><>");
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size()) << s.back().payload;  // ALLOWED only
  EXPECT_EQ(2, storage->CountTree(100));
  // A node whose download form would not fit one datagram.
  qb::NodeWire big = MakeSampleTree(2)[1];
  big.note = "";
  // An upload datagram of the largest size: the download form is longer.
  big.note = std::string(kMaxDatagram - (qb::FrameMessage(43, qb::MsgFavUpNode(big)).size() + 1), 'n');
  ASSERT_EQ(kMaxDatagram, qb::FrameMessage(43, qb::MsgFavUpNode(big)).size() + 1);
  Send(A, 0, 42, qb::MsgFavUpCount(2, 100, "secret"));
  Send(A, 0, 43, qb::MsgFavUpNode(big));
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_TRUE(Logged("too long to download again"));
  EXPECT_EQ(2, storage->CountTree(100));
}

TEST_F(Transfer, AnUnacknowledgedNodeGoesAgainLaterEachTimeThenTheDownloadIsGivenUp) {
  ASSERT_TRUE(Upload(MakeSampleTree(3)));
  Send(A, 1, 60, qb::MsgFavDownReq(100, "secret"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  int32_t count = s[0].n;
  // COUNT itself is repeated while no READY comes, after a second while no
  // round trip is measured.
  now += opt.resendMs - 1;
  server->OnTick(now);
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(now + 1, server->NextResendAt());
  now += 1;
  server->ResendDue(now);
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ(count, s[0].n);
  EXPECT_EQ(1, s[0].k);
  // The next time waits twice as long.
  now += 2 * opt.resendMs - 1;
  server->OnTick(now);
  EXPECT_TRUE(Take().empty());
  // A READY carrying another number is not the answer, nor an acknowledgement before the READY.
  Send(A, 0, count - 1, qb::MsgFavDownReady());
  Send(A, 0, count + 1, qb::MsgFavDownNodeOk());
  EXPECT_TRUE(Take().empty());
  Send(A, 0, count, qb::MsgFavDownReady());
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ(count + 1, s[0].n);
  EXPECT_EQ(0, s[0].k);  // the acknowledgements come in on link 0
  // The answer to a message sent twice measures nothing: the wait stays
  // backed off, then doubles up to its ceiling.
  std::string node1 = s[0].payload;
  uint64_t wait = 2 * opt.resendMs;
  for (int i = 0; i < opt.resendLimit; ++i) {
    now += wait - 1;
    server->OnTick(now);
    EXPECT_TRUE(Take().empty()) << i;
    now += 1;
    server->OnTick(now);
    s = Take();
    ASSERT_EQ(1u, s.size()) << i;
    EXPECT_EQ(node1, s[0].payload);
    wait = std::min(opt.resendCeilingMs, wait * 2);
  }
  EXPECT_EQ(3000u, wait);
  now += wait;
  server->OnTick(now);
  EXPECT_TRUE(Take().empty());
  EXPECT_TRUE(Logged("given up after 0 of 3 nodes"));
  EXPECT_EQ(UINT64_MAX, server->NextResendAt());
}

// With round trips measured, a lost node costs about one round trip: the
// wait is the smoothed round trip plus four times its variation, at least
// the floor.
TEST_F(Transfer, TheWaitBeforeANodeGoesAgainFollowsTheMeasuredRoundTrip) {
  ASSERT_TRUE(Upload(MakeSampleTree(100)));
  Send(A, 0, 60, qb::MsgFavDownReq(100, "secret"));
  int32_t n = Take().at(0).n;
  auto answer = [&](uint64_t after, const std::string& body) {
    now += after;
    Send(A, 0, n, body);
    std::vector<Sent> s = Take();
    n = s.empty() ? 0 : s.back().n;
    return s.size();
  };
  // Round trips of 200 ms: 200 + 4 * 100, then 200 + 4 * 75.
  ASSERT_EQ(1u, answer(200, qb::MsgFavDownReady()));
  EXPECT_EQ(now + 600, server->NextResendAt());
  ASSERT_EQ(1u, answer(200, qb::MsgFavDownNodeOk()));
  EXPECT_EQ(now + 500, server->NextResendAt());
  // Round trips of 1 ms bring it down to the floor, not below.
  for (int i = 0; i < 90; ++i) ASSERT_EQ(1u, answer(1, qb::MsgFavDownNodeOk())) << i;
  EXPECT_EQ(now + opt.resendFloorMs, server->NextResendAt());
  now += opt.resendFloorMs;
  server->ResendDue(now);
  EXPECT_EQ(1u, Take().size());
  EXPECT_EQ(now + 2 * opt.resendFloorMs, server->NextResendAt()) << "backed off";
}

TEST_F(Transfer, PlazaNewsDuringADownloadDoNotBreakTheConsecutiveNumbers) {
  ASSERT_TRUE(Upload(MakeSampleTree(4)));
  Send(A, 0, 70, qb::MsgFavDownReq(100, "secret"));
  int32_t count = Take().at(0).n;
  Send(A, 0, count, qb::MsgFavDownReady());
  EXPECT_EQ(count + 1, Take().at(0).n);
  Send(B, 0, 1, qb::MsgLogin(200, "pw200"));  // A hears ADDUSER in between
  std::vector<Sent> s = TakeFor(A);
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("ADDUSER", s[0].f.at(0));
  EXPECT_GT(s[0].n, count + 4);
  // Anything but an acknowledgement during the download is counted as unknown and answered with nothing.
  size_t unknown = server->Counters().unknown;
  Send(A, 0, count + 1, "<FAV><DOWN><NODE><FAILED>");
  Send(A, 0, count + 1, "<FAV><DOWN><AGAIN>");
  Send(A, 0, count + 1, "<FAV><DOWN><AGAIN><OK>");
  EXPECT_EQ(unknown + 3, server->Counters().unknown);
  EXPECT_TRUE(Take().empty());
  // An acknowledgement carrying another number than the node's is not the
  // answer, nor is the READY again.
  Send(A, 0, count, qb::MsgFavDownReady());
  Send(A, 0, count, qb::MsgFavDownNodeOk());
  Send(A, 0, count + 2, qb::MsgFavDownNodeOk());
  EXPECT_TRUE(Take().empty());
  Send(A, 0, count + 1, qb::MsgFavDownNodeOk());
  EXPECT_EQ(count + 2, Take().at(0).n);
}

TEST_F(Transfer, ReadyAndNodeAcknowledgementsWithoutADownloadAreIgnored) {
  ASSERT_TRUE(Upload(MakeSampleTree(2)));
  // No download under way: whatever number they carry, they get no answer.
  for (int32_t n = -1; n < 3; ++n) {
    Send(A, 0, n, qb::MsgFavDownReady());
    Send(A, 0, n, qb::MsgFavDownNodeOk());
  }
  EXPECT_TRUE(Take().empty());
  // Nor once a download has ended with its last acknowledgement.
  uint64_t sent = server->Counters().sent;
  Send(A, 0, 80, qb::MsgFavDownReq(100, "secret"));
  int32_t count = Take().at(0).n;
  Send(A, 0, count, qb::MsgFavDownReady());
  Send(A, 0, count + 1, qb::MsgFavDownNodeOk());
  Send(A, 0, count + 2, qb::MsgFavDownNodeOk());
  EXPECT_EQ(2u, Take().size());  // node 1 and node 2, nothing after the last
  EXPECT_EQ(sent + 3, server->Counters().sent) << "the count and both nodes are counted as sent";
  EXPECT_TRUE(Logged("download of 2 nodes by user 100 done"));
  Send(A, 0, count, qb::MsgFavDownReady());
  Send(A, 0, count + 3, qb::MsgFavDownNodeOk());
  now += 10 * 1000;
  server->OnTick(now);
  EXPECT_TRUE(Take().empty());
  // A download cut short by the logout is logged as such.
  EXPECT_FALSE(Logged("download of user 100 dropped"));
  Send(A, 0, 90, qb::MsgFavDownReq(100, "secret"));
  Send(A, 0, 91, qb::MsgLogout(100, "secret"));
  EXPECT_TRUE(Logged("download of user 100 dropped: session ended"));
  EXPECT_FALSE(Logged("upload of user 100 dropped"));
}

TEST_F(Transfer, AnUploadIsStagedUpToEightMebibytes) {
  ASSERT_TRUE(Upload(MakeSampleTree(2)));
  // Nodes of about 60 KB each (a 30 KB address, ciphered): 130 of them (7.8 MB)
  // fit, 150 (9.0 MB) do not.
  auto bigTree = [](int count) {
    std::vector<qb::NodeWire> tree = MakeSampleTree(count);
    for (int i = 0; i < count; ++i) tree[i].address = "http://h/" + std::string(30000, 'a' + i % 26);
    return tree;
  };
  EXPECT_FALSE(Upload(bigTree(150), 1000));
  EXPECT_TRUE(Logged("too large"));
  EXPECT_EQ(2, storage->CountTree(100));
  Take();
  EXPECT_TRUE(Upload(bigTree(130), 2000));
  EXPECT_EQ(130, storage->CountTree(100));
}

// ---- circles, leave-words -------------------------------------------------------

TEST_F(ServerCore, CircleListNamesOnlineMembersWithAddressesAndOfflineOnesWithout) {
  Login(A, 100, "secret");
  Login(B, 200, "pw200");
  Login(C, 300, "pw300");
  const std::string key = "http://www.example.com/";
  std::string up300 = qb::MsgGroupUpNode(300, "ex", 1, key, "cat", "", "Reserved");
  std::string up200 = qb::MsgGroupUpNode(200, "ex", 1, key, "cat", "", "Reserved");
  Send(C, 0, 2, up300);
  Send(B, 0, 2, up200);
  Send(C, 0, 3, qb::MsgLogout(300, "pw300"));
  Take();
  Send(A, 2, 9, qb::MsgGroupUpNode(100, "ex", 1, key, "cat", "", "Reserved"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ(9, s[0].n);
  EXPECT_EQ("UPNODE", s[0].f.at(0));
  EXPECT_EQ("OK", s[0].f.at(1));
  ASSERT_EQ("LIST", s[1].f.at(0));
  qb::FieldList f = s[1].f;
  ASSERT_EQ(2u + 1 + 3 * 4, f.size());
  EXPECT_EQ("3", f[1]);
  EXPECT_EQ(key, f[2]);
  EXPECT_EQ("10.0.0.1", f[3]);  // the user himself
  EXPECT_EQ("100", f[5]);
  EXPECT_EQ("10.0.0.2", f[7]);  // online
  EXPECT_EQ("lisi", f[8]);
  EXPECT_EQ("0.0.0.0", f[11]);  // offline: the program offers a leave-word
  EXPECT_EQ("300", f[13]);
  EXPECT_EQ(key, f[14]);
  // Dropping out takes the membership away.
  Send(B, 0, 4, qb::MsgGroupDropOut(key, 200));
  std::vector<int32_t> members;
  storage->ListMembers(key, members);
  EXPECT_EQ((std::vector<int32_t>{300, 100}), members);
}

TEST_F(ServerCore, CircleRequestsNeedTheLoginAndAListFitsOneDatagramOnlineFirst) {
  Send(A, 0, 1, qb::MsgGroupUpNode(100, "n", 0, "cat", "", "", "Reserved"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("FAILED", s[0].f.at(1));
  // 60 offline members with long nicknames, then two online ones.
  const std::string key(150, 'k');
  for (int i = 0; i < 60; ++i) {
    AddUser(1000 + i, "p", std::string(30, 'a' + i % 26));
    storage->AddMember(key, 1000 + i);
  }
  Login(B, 200, "pw200");
  Send(B, 0, 2, qb::MsgGroupUpNode(200, "n", 0, key, "", "", ""));
  Login(A, 100, "secret");
  Take();
  Send(A, 0, 3, qb::MsgGroupUpNode(100, "n", 0, key, "", "", ""));
  s = Take();
  ASSERT_EQ(2u, s.size());
  EXPECT_LE(s[1].payload.size(), 1000u);
  qb::FieldList f = s[1].f;
  int32_t count = qb::ReadNumber(f.at(1));
  EXPECT_GE(count, 3);
  EXPECT_LT(count, 62);
  EXPECT_EQ(3u + 4 * count, f.size());
  EXPECT_EQ("10.0.0.1", f.at(3));
  EXPECT_EQ("10.0.0.2", f.at(7));
  // Adding one more member would not have fitted.
  EXPECT_GT(s[1].payload.size() + 4 + 150 + 30 + 7 + 4 * 2, 1000u);
}

// Words longer than a leave-word holds are cut to 1000 bytes, before a
// character that would not fit whole, whichever lead byte it has.
TEST_F(ServerCore, LongLeaveWordsAreCutBeforeAWholeCharacter) {
  Login(A, 100, "secret");
  for (const char* lead : {"\x81\x40", "\xFE\x40", "\xB0\xA1"}) {
    Send(A, 0, 5, qb::MsgLeaveWord(100, 200, std::string(999, 'a') + lead));
    std::vector<LeaveWord> stored;
    ASSERT_TRUE(storage->TakeLeaveWords(200, stored));
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ(std::string(999, 'a'), stored[0].text) << (unsigned)(unsigned char)lead[0];
  }
}

TEST_F(ServerCore, LeaveWordsWaitForTheirAddresseeAndAreHandedOutOnce) {
  Login(A, 100, "secret");
  std::string text = qb::EscapeChatText("hi <there>");
  Send(A, 0, 5, qb::MsgLeaveWord(100, 200, text));
  Send(A, 0, 6, qb::MsgLeaveWord(100, 424242, text));  // no such user
  Send(B, 0, 7, qb::MsgLeaveWord(200, 100, text));     // not logged in
  EXPECT_EQ(1, storage->CountLeaveWords(200));
  EXPECT_EQ(0, storage->CountLeaveWords(100));
  Login(B, 200, "pw200");
  Send(B, 0, 2, qb::MsgReqWords(200));
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("LWORDS", s[0].type);
  EXPECT_EQ("100", s[0].f.at(0));
  EXPECT_EQ(text, s[0].f.at(1));
  EXPECT_NE(std::string::npos, s[0].f.at(2).find("\xD5\xC5\xC8\xFD(100)"));
  Send(B, 0, 3, qb::MsgReqWords(200));
  EXPECT_TRUE(Take().empty());
  // The header names the sender and when he left the words, in local time.
  const char* tz = getenv("TZ");
  std::string savedTz = tz ? tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  Login(A, 100, "secret");
  Send(A, 0, 8, qb::MsgLeaveWord(100, 200, text));
  Send(B, 0, 4, qb::MsgReqWords(200));
  s = Take();
  if (tz) setenv("TZ", savedTz.c_str(), 1);
  else unsetenv("TZ");
  tzset();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("\r\n\xD5\xC5\xC8\xFD(100)  2023-11-14 22:13\r\n", s[0].f.at(2));  // 1700000000
}

TEST_F(ServerCore, ALongLeaveWordIsCutToFitWithoutSplittingACharacter) {
  Login(A, 100, "secret");
  std::string text;
  for (int i = 0; i < 470; ++i) text += "\xD6\xD0";  // 中, 940 bytes
  Send(A, 0, 5, qb::MsgLeaveWord(100, 200, text));
  Login(B, 200, "pw200");
  Send(B, 0, 2, qb::MsgReqWords(200));
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_LE(s[0].payload.size(), 1000u);
  const std::string& got = s[0].f.at(1);
  EXPECT_EQ(0u, got.size() % 2);
  EXPECT_EQ(text.substr(0, got.size()), got);
  EXPECT_GT(got.size(), 800u);
  // At most 1000 bytes are kept: a character across that bound is left out
  // whole, one that ends on it is kept.
  std::string ends = "a", across = "a";
  for (int i = 0; i < 499; ++i) ends += "\xD6\xD0";
  ends += "b";  // 1000 bytes
  for (int i = 0; i < 500; ++i) across += "\xD6\xD0";  // 1001 bytes
  Send(A, 0, 6, qb::MsgLeaveWord(100, 300, ends));
  Send(A, 0, 7, qb::MsgLeaveWord(100, 300, across));
  // A lead byte that ends the text has no second byte: it is one byte, kept as the 1000th.
  std::string lone = ends.substr(0, 999) + "\xB0";
  Send(A, 0, 8, qb::MsgLeaveWord(100, 300, lone));
  std::vector<LeaveWord> kept;
  ASSERT_TRUE(storage->TakeLeaveWords(300, kept));
  ASSERT_EQ(3u, kept.size());
  EXPECT_EQ(ends, kept[0].text);
  EXPECT_EQ(across.substr(0, 999), kept[1].text);
  EXPECT_EQ(lone, kept[2].text);
  // The cut takes one byte at a time: one byte more would not have fitted,
  // with the widest message number.
  int32_t n = 9;
  for (size_t length : {990u, 991u}) {
    std::string plain(length, 'x');
    Send(A, 0, n++, qb::MsgLeaveWord(100, 200, plain));
    Send(B, 0, n++, qb::MsgReqWords(200));
    s = Take();
    ASSERT_EQ(1u, s.size());
    const std::string& cut = s[0].f.at(1);
    EXPECT_EQ(plain.substr(0, cut.size()), cut);
    std::string more = qb::FrameMessage(INT32_MIN, qb::MsgLWords(100, plain.substr(0, cut.size() + 1), s[0].f.at(2)));
    EXPECT_EQ(1000u, more.size()) << length;
  }
}

TEST_F(ServerCore, AMailboxHoldsAHundredLeaveWords) {
  Login(A, 100, "secret");
  LeaveWord w;
  w.from = 300;
  w.text = "old";
  for (int i = 0; i < 99; ++i) ASSERT_TRUE(storage->AddLeaveWord(200, w));
  Send(A, 0, 5, qb::MsgLeaveWord(100, 200, "the hundredth"));
  EXPECT_EQ(100, storage->CountLeaveWords(200));
  EXPECT_FALSE(Logged("mailbox full"));
  Send(A, 0, 6, qb::MsgLeaveWord(100, 200, "one too many"));
  EXPECT_EQ(100, storage->CountLeaveWords(200));
  EXPECT_TRUE(Logged("leave-word from 100 to 200: mailbox full"));
  // Empty words are not stored at all.
  Send(A, 0, 7, qb::MsgLeaveWord(100, 300, ""));
  EXPECT_EQ(0, storage->CountLeaveWords(300));
  EXPECT_TRUE(Logged("leave-word from 100 to 300: empty"));
}

TEST_F(ServerCore, ACircleNeedsAKeyOfOneToTwoHundredAndFiftyBytes) {
  Login(A, 100, "secret");
  // Written out by hand: the program's own request never carries more than 200 bytes of key.
  auto up = [](const std::string& key) { return "<GROUP><UPNODE><100><n><0><" + key + "><><><Reserved>"; };
  Send(A, 0, 1, up(""));
  Send(A, 0, 2, up(std::string(251, 'k')));
  std::vector<Sent> s = Take();
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ("FAILED", s[0].f.at(1));
  EXPECT_EQ("FAILED", s[1].f.at(1));
  EXPECT_TRUE(Logged("circle request of user 100: bad circle key"));
  EXPECT_EQ(0, storage->CountMemberships(100));
  // One byte and 250 bytes are keys.
  Send(A, 0, 3, up("k"));
  Send(A, 0, 4, up(std::string(250, 'k')));
  s = Take();
  ASSERT_EQ(4u, s.size());
  EXPECT_EQ("OK", s[0].f.at(1));
  EXPECT_EQ("LIST", s[1].f.at(0));
  EXPECT_EQ("OK", s[2].f.at(1));
  EXPECT_EQ(std::string(250, 'k'), s[3].f.at(2));
  EXPECT_EQ(2, storage->CountMemberships(100));
  // A list that cannot hold even its asker (the longest key, a nickname
  // stored longer than the user command allows) is logged and not sent.
  AddUser(400, "pw400", std::string(600, 'n'));
  Login(C, 400, "pw400");
  Take();
  Send(C, 0, 5, "<GROUP><UPNODE><400><n><0><" + std::string(250, 'k') + "><><><Reserved>");
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("OK", s[0].f.at(1));
  EXPECT_TRUE(Logged("error: circle key too long for a member list"));
}

// A user joins as many circles as the limit allows, and not one more.
TEST_F(ServerCore, AUserJoinsCirclesUpToTheLimit) {
  opt.maxCirclesPerUser = 2;
  Restart();
  Login(A, 100, "secret");
  auto up = [](const std::string& key) { return "<GROUP><UPNODE><100><n><0><" + key + "><><><Reserved>"; };
  Send(A, 0, 1, up("one"));
  Send(A, 0, 2, up("two"));
  Send(A, 0, 3, up("three"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(5u, s.size());  // two answers with their lists, and a refusal
  EXPECT_EQ("FAILED", s[4].f.at(1));
  EXPECT_TRUE(Logged("circle request of user 100: too many circles"));
  EXPECT_EQ(2, storage->CountMemberships(100));
}

// The real storage, with the operations a test names failing, as a full or
// broken disk makes them fail.
class CFailingStorage : public IStorage {
 public:
  explicit CFailingStorage(IStorage& real) : r(real) {}
  std::set<std::string> failing;
  bool AddUser(const UserRecord& u) override { return r.AddUser(u); }
  bool SetPasswordHash(int32_t u, const std::string& h) override { return r.SetPasswordHash(u, h); }
  bool DeleteUser(int32_t u) override { return r.DeleteUser(u); }
  bool AccountChangesSince(int64_t& seen, std::vector<int32_t>& users) override {
    return r.AccountChangesSince(seen, users);
  }
  bool FindUser(int32_t u, UserRecord& out) override {
    ++lookups;
    return r.FindUser(u, out);
  }
  bool FindUsers(const std::vector<int32_t>& numbers, std::vector<UserRecord>& out) override {
    ++lookups;
    asked.push_back(numbers);
    return !failing.count("FindUsers") && r.FindUsers(numbers, out);
  }
  bool Reachable() override { return !failing.count("Reachable") && r.Reachable(); }
  int lookups = 0;                         // of one user or of several
  std::vector<std::vector<int32_t>> asked;  // by each look-up of several
  bool ListUsers(std::vector<UserRecord>& out) override { return r.ListUsers(out); }
  TreeWrite StoreTree(int32_t u, const std::vector<qb::NodeWire>& n, int32_t from, int32_t& revision) override {
    return failing.count("ReplaceTree") ? TreeWrite::Failed : r.StoreTree(u, n, from, revision);
  }
  using IStorage::LoadTree;
  bool LoadTree(int32_t u, std::vector<qb::NodeWire>& out, int32_t& revision) override {
    return !failing.count("LoadTree") && r.LoadTree(u, out, revision);
  }
  int32_t TreeRevision(int32_t u) override { return failing.count("TreeRevision") ? -1 : r.TreeRevision(u); }
  int CountTree(int32_t u) override { return r.CountTree(u); }
  bool AddMember(const std::string& k, int32_t u) override { return !failing.count("AddMember") && r.AddMember(k, u); }
  bool RemoveMember(const std::string& k, int32_t u) override {
    return !failing.count("RemoveMember") && r.RemoveMember(k, u);
  }
  bool ListMembers(const std::string& k, std::vector<int32_t>& out) override { return r.ListMembers(k, out); }
  int CountMemberships(int32_t u) override { return r.CountMemberships(u); }
  bool AddLeaveWord(int32_t to, const LeaveWord& w) override {
    return !failing.count("AddLeaveWord") && r.AddLeaveWord(to, w);
  }
  int CountLeaveWords(int32_t to) override { return r.CountLeaveWords(to); }
  int CountLeaveWordsFrom(int32_t to, int32_t from) override { return r.CountLeaveWordsFrom(to, from); }
  int SchemaVersion() override { return r.SchemaVersion(); }
  bool TakeLeaveWords(int32_t to, std::vector<LeaveWord>& out) override {
    return !failing.count("TakeLeaveWords") && r.TakeLeaveWords(to, out);
  }

 private:
  IStorage& r;
};

TEST_F(ServerCore, AStorageFailureIsLoggedAndAnsweredAsAFailure) {
  CFailingStorage failing(*storage);
  failing.failing = {"ReplaceTree", "LoadTree", "AddMember", "RemoveMember", "AddLeaveWord", "TakeLeaveWords"};
  ASSERT_TRUE(storage->ReplaceTree(100, MakeSampleTree(2)));
  ASSERT_TRUE(storage->AddMember("k", 100));
  ASSERT_TRUE(storage->AddLeaveWord(100, {200, 5, "kept"}));
  server.reset(new CServer(failing, out, opt));
  Login(A, 100, "secret");
  // The last node of an upload is not acknowledged when the tree cannot be stored.
  std::vector<qb::NodeWire> tree = MakeSampleTree(2);
  Send(A, 0, 10, qb::MsgFavUpCount(2, 100, "secret"));
  Send(A, 0, 11, qb::MsgFavUpNode(tree[0]));
  Send(A, 0, 12, qb::MsgFavUpNode(tree[1]));
  std::vector<Sent> s = Take();
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ(11, s[1].n);
  EXPECT_TRUE(Logged("error: cannot store the tree of user 100"));
  Send(A, 0, 13, qb::MsgFavUpNode(tree[1]));  // the upload is over
  EXPECT_TRUE(Take().empty());
  // A tree that cannot be read is no tree to download.
  Send(A, 0, 14, qb::MsgFavDownReq(100, "secret"));
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("INVALID", s[0].f.at(2));
  EXPECT_TRUE(Logged("error: cannot read the tree of user 100"));
  // Circles.
  Send(A, 0, 15, qb::MsgGroupUpNode(100, "n", 0, "c", "", "", "Reserved"));
  s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("FAILED", s[0].f.at(1));
  EXPECT_TRUE(Logged("circle request of user 100: cannot store the membership"));
  Send(A, 0, 16, qb::MsgGroupDropOut("k", 100));
  EXPECT_TRUE(Logged("error: cannot remove a circle membership"));
  EXPECT_FALSE(Logged("left \"k\""));
  // Leave-words.
  Send(A, 0, 17, qb::MsgLeaveWord(100, 200, "hello"));
  EXPECT_TRUE(Logged("error: cannot store leave-word from 100 to 200"));
  Send(A, 0, 18, qb::MsgReqWords(100));
  EXPECT_TRUE(Take().empty());
  EXPECT_TRUE(Logged("error: cannot read the leave-words of user 100"));
  // Nothing was lost on the way.
  EXPECT_EQ(2, storage->CountTree(100));
  EXPECT_EQ(1, storage->CountMemberships(100));
  EXPECT_EQ(1, storage->CountLeaveWords(100));
  EXPECT_EQ(0, storage->CountLeaveWords(200));
}

// The loop holds the password checks of one turn's datagrams: their users
// are looked up together once the turn's datagrams are in, each answered as
// alone; a look-up that fails is held against nobody.
TEST_F(ServerCore, TheLoginsOfOneTurnLookUpTheirUsersTogether) {
  CFailingStorage db(*storage);
  server.reset(new CServer(db, out, opt));
  Login(C, 300, "pw300");
  ASSERT_EQ(1, db.lookups);
  db.asked.clear();
  server->HoldLookups();
  Send(A, 0, 1, qb::MsgLogin(100, "secret"));
  Send(B, 0, 2, qb::MsgLogin(999, "secret"));
  Send(C, 0, 3, qb::MsgLogin(300, "wrong"));
  Send(B, 1, 4, qb::MsgLogin(200, "pw200"));
  Send(C, 0, 5, qb::MsgKeepAlive(300, "pw300"));  // over the session: no look-up
  std::vector<Sent> s = Take();
  ASSERT_EQ(1u, s.size());
  EXPECT_EQ("LIV", s[0].type);
  server->RunLookups();
  EXPECT_EQ(2, db.lookups);
  EXPECT_EQ((std::vector<std::vector<int32_t>>{{100, 200, 300, 999}}), db.asked);
  db.asked.clear();
  std::vector<std::string> answers;
  for (const Sent& m : Take())
    if (m.type == "LGI") answers.push_back(qb::FormatNumber(m.n) + (!m.f.empty() && m.f[0] == "OK" ? " ok" : " refused"));
  EXPECT_EQ((std::vector<std::string>{"1 ok", "2 refused", "3 refused", "4 ok"}), answers);
  EXPECT_TRUE(server->IsOnline(100) && server->IsOnline(200) && server->IsOnline(300));
  // Over its live session a login checks the hash the session keeps: no look-up.
  Send(A, 0, 6, qb::MsgLogin(100, "secret"));
  EXPECT_EQ(2, db.lookups);
  EXPECT_TRUE(Logged("login user 100 from 10.0.0.1 (again)"));
  Take();
  // Outside a held turn each is looked up by itself.
  Send(A, 0, 7, qb::MsgLogout(100, "secret"));
  Send(A, 0, 8, qb::MsgLogin(100, "secret"));
  EXPECT_EQ(3, db.lookups);
  EXPECT_EQ((std::vector<std::vector<int32_t>>{{100}}), db.asked);
  Send(A, 0, 9, qb::MsgLogout(100, "secret"));
  // A failed look-up refuses them all as the database's fault, however often.
  db.failing = {"FindUsers"};
  for (int i = 0; i < 2 * opt.loginFailLimit; ++i) {
    server->HoldLookups();
    Send(A, 0, 10 + i, qb::MsgLogin(100, "secret"));
    server->RunLookups();
  }
  EXPECT_TRUE(Logged("refused login of user 100: the database cannot be reached"));
  db.failing.clear();
  Take();
  server->HoldLookups();
  Send(A, 0, 30, qb::MsgLogin(100, "secret"));
  server->RunLookups();
  EXPECT_TRUE(server->IsOnline(100)) << "no limit closed meanwhile";
}

// A login over a live session checks the stored hash the session keeps, on
// the check pool as ever, without asking the database. A password that hash
// refuses asks the database (it may be the new one) and costs no second slow
// check when the database has the same hash; an account change ends the
// session at the next poll all the same, and a check that the poll overtakes
// asks the database again.
TEST_F(ServerCore, ALoginOverALiveSessionChecksTheHashTheSessionKeeps) {
  CFailingStorage db(*storage);
  CDeferredCheck check;
  server.reset(new CServer(db, out, opt, &check));
  auto answer = [&](size_t i) {
    if (i >= check.pending.size()) return std::string("no check");
    check.Answer(i);
    for (const Sent& m : Take())
      if (m.type == "LGI") return m.f.empty() ? std::string("-") : m.f[0];
    return std::string("none");
  };
  auto passwd = [&](const std::string& pw) {
    std::ostringstream said;
    std::string error;
    ASSERT_TRUE(RunUserCommand(*storage, {"passwd", "100", pw}, HashCost::Minimum, said, error)) << error;
  };
  Send(A, 0, 1, qb::MsgLogin(100, "secret"));
  EXPECT_EQ("OK", answer(0));
  Send(A, 0, 2, qb::MsgLogin(100, "secret"));
  EXPECT_EQ("OK", answer(1));
  EXPECT_EQ(1, db.lookups);
  Send(A, 0, 3, qb::MsgLogin(100, "wrong"));
  EXPECT_EQ("FAILED", answer(2));
  EXPECT_EQ(2, db.lookups);
  EXPECT_EQ(3u, check.pending.size()) << "the database's hash is the one checked already";
  // Changed by the admin: before the poll the new password is found right
  // through the database, and the session keeps the new hash.
  passwd("changed");
  Send(A, 0, 4, qb::MsgLogin(100, "changed"));
  EXPECT_EQ("none", answer(3));
  EXPECT_EQ(3, db.lookups);
  EXPECT_EQ("OK", answer(4));
  Send(A, 0, 5, qb::MsgLogin(100, "secret"));
  EXPECT_EQ("FAILED", answer(5));
  EXPECT_EQ(6u, check.pending.size());
  now += opt.accountPollMs;
  server->OnTick(now);
  EXPECT_FALSE(server->IsOnline(100));
  EXPECT_TRUE(Logged("logout user 100 (account changed)"));
  // A check against the kept hash that an account change overtakes.
  Send(A, 0, 6, qb::MsgLogin(100, "changed"));
  EXPECT_EQ("OK", answer(6));
  Send(A, 0, 7, qb::MsgLogin(100, "changed"));
  ASSERT_EQ(8u, check.pending.size());
  passwd("third");
  now += opt.accountPollMs;
  server->OnTick(now);
  int asked = db.lookups;
  EXPECT_EQ("none", answer(7)) << "right against the kept hash, yet the database decides";
  EXPECT_EQ(asked + 1, db.lookups);
  EXPECT_EQ("FAILED", answer(8));
  EXPECT_FALSE(server->IsOnline(100));
  // A hash read before an account change was seen opens the session (as it
  // always did) but is not kept by it.
  Send(A, 0, 8, qb::MsgLogin(100, "third"));
  passwd("fourth");
  now += opt.accountPollMs;
  server->OnTick(now);
  EXPECT_EQ("OK", answer(9));
  asked = db.lookups;
  Send(A, 0, 9, qb::MsgLogin(100, "third"));
  EXPECT_EQ(asked + 1, db.lookups);
  EXPECT_EQ("FAILED", answer(10));
  // With the database out of reach, a login over the session is refused as
  // before, whatever hash the session keeps.
  Send(A, 0, 10, qb::MsgLogin(100, "fourth"));
  EXPECT_EQ("OK", answer(11));
  db.failing = {"Reachable", "FindUsers"};
  Send(A, 0, 11, qb::MsgLogin(100, "fourth"));
  EXPECT_EQ(12u, check.pending.size());
  EXPECT_TRUE(Logged("refused login of user 100: the database cannot be reached"));
}

// With the users looked up elsewhere (a thread with a database link of its
// own), the server goes on meanwhile; each login is answered when its look-up
// is, a look-up that failed is held against nobody, and while too many wait
// more are refused at once.
TEST_F(ServerCore, WhileUsersAreLookedUpElsewhereOthersAreServed) {
  CDeferredLookup lookup(storage);
  opt.maxPendingChecks = 3;
  server.reset(new CServer(*storage, out, opt, nullptr, &lookup));
  Send(C, 0, 1, qb::MsgLogin(300, "pw300"));
  EXPECT_TRUE(Take().empty());
  lookup.Answer(0);
  ASSERT_EQ("OK", TakeFor(C).at(0).f.at(0));
  server->HoldLookups();
  Send(A, 0, 2, qb::MsgLogin(100, "secret"));
  Send(B, 0, 3, qb::MsgLogin(200, "pw200"));
  server->RunLookups();
  Send(B, 1, 4, qb::MsgLogin(999, "x"));
  ASSERT_EQ(3u, lookup.pending.size());
  EXPECT_EQ((std::vector<int32_t>{100, 200}), lookup.pending[1].first);
  // Three wait: a fourth is refused without a look-up; the session of C goes on.
  Send(A, 1, 5, qb::MsgKeepAlive(100, "secret"));
  Send(C, 0, 6, qb::MsgKeepAlive(300, "pw300"));
  std::vector<Sent> s = Take();
  ASSERT_EQ(2u, s.size());
  EXPECT_EQ(5, s[0].n);
  EXPECT_EQ("FAILED", s[0].f.at(0));
  EXPECT_EQ("OK", s[1].f.at(0));
  EXPECT_EQ(3u, lookup.pending.size());
  lookup.Answer(1, false);
  lookup.Answer(2);
  s = Take();
  ASSERT_EQ(3u, s.size());
  EXPECT_EQ(2, s[0].n);
  EXPECT_EQ(3, s[1].n);
  EXPECT_EQ(4, s[2].n);
  for (const Sent& m : s) EXPECT_NE("OK", m.f.at(0));
  EXPECT_TRUE(Logged("refused login of user 100: the database cannot be reached"));
  EXPECT_FALSE(server->IsOnline(100));
  Send(A, 0, 7, qb::MsgLogin(100, "secret"));
  lookup.Answer(3);
  EXPECT_EQ("OK", TakeFor(A).at(0).f.at(0));
}

// The real storage shared with other instances that never answer: records
// what this instance tells the cluster.
class CRecordingCluster : public CFailingStorage, public ICluster {
 public:
  explicit CRecordingCluster(IStorage& real) : CFailingStorage(real) {}
  std::vector<std::vector<int32_t>> touched;
  std::vector<uint64_t> expired;
  const std::string& Instance() const override { return name; }
  bool SetPresence(int32_t, uint32_t, const std::string&, std::string& previous,
                   const std::string& broadcast) override {
    previous.clear();
    if (!broadcast.empty()) notified.push_back("|" + broadcast);
    return true;
  }
  bool TouchPresence(const std::vector<int32_t>& users) override {
    touched.push_back(users);
    return true;
  }
  bool DropPresence(int32_t) override { return true; }
  std::vector<Presence> others;  // online at the other instances
  bool OthersOnline(uint64_t, std::vector<Presence>& out) override {
    out = others;
    return true;
  }
  bool FindOnline(int32_t user, uint64_t, Presence& out) override {
    for (const Presence& p : others)
      if (p.user == user) return out = p, true;
    return false;
  }
  bool ExpirePresence(uint64_t maxAgeMs) override {
    expired.push_back(maxAgeMs);
    return true;
  }
  std::vector<std::string> notified;  // "instance|event", the instance empty for all
  bool Notify(const std::string& to, const std::string& event) override {
    notified.push_back(to + "|" + event);
    return true;
  }
  int EventFd() override { return -1; }
  std::vector<std::string> events;  // what the others are heard to say next
  void TakeEvents(std::vector<std::string>& out) override {
    out.insert(out.end(), events.begin(), events.end());
    events.clear();
  }

 private:
  std::string name = "t";
};

// A newcomer who is still listed at the instance he came from is not shown
// himself among the others.
TEST_F(ServerCore, APlazaListLeavesOutTheNewcomersOwnPresenceElsewhere) {
  CRecordingCluster cluster(*storage);
  Presence self, other;
  self.user = 100;
  self.address = qb::MakeAddress(10, 0, 2, 9);
  self.instance = "other";
  other.user = 2000;
  other.address = qb::MakeAddress(10, 0, 2, 100);
  other.instance = "other";
  cluster.others = {self, other};
  server.reset(new CServer(cluster, out, opt));
  Sent list = PlazaAfterLogin();
  ASSERT_FALSE(list.payload.empty());
  EXPECT_EQ(2, PlazaCount(list));
  EXPECT_EQ("10.0.0.1", list.f.at(2));
  EXPECT_EQ("10.0.2.100", list.f.at(4));
  EXPECT_EQ(std::string::npos, list.payload.find("10.0.2.9"));
}

// The users of the other instances fill the plaza list only as far as one
// datagram holds, after the newcomer and the users here.
TEST_F(ServerCore, APlazaListOfOtherInstancesUsersFitsOneDatagram) {
  CRecordingCluster cluster(*storage);
  for (int i = 0; i < 30; ++i) {
    Presence p;
    p.user = 2000 + i;
    p.address = qb::MakeAddress(10, 0, 2, 100 + i);
    p.instance = "other";
    p.nickname = std::string(32, (char)('a' + i % 26));
    cluster.others.push_back(p);
  }
  server.reset(new CServer(cluster, out, opt));
  Login(B, 200, "pw200");
  Sent list = PlazaAfterLogin();
  ASSERT_FALSE(list.payload.empty());
  int32_t count = PlazaCount(list);
  EXPECT_GE(count, 3);
  EXPECT_LT(count, 32);
  EXPECT_EQ("10.0.0.1", list.f.at(2));
  EXPECT_EQ("10.0.0.2", list.f.at(4)) << "the users here before the others";
  EXPECT_EQ("10.0.2.100", list.f.at(6));
  EXPECT_EQ(std::string(32, 'a') + "(2000)", list.f.at(7));
  // One more would not have fitted with the widest message number, which the
  // list is measured with ("-2147483648", ten characters more than "1").
  EXPECT_GT(list.payload.size() + 10 + 38 + 2 * 2 + 10, 1000u);
}

// From the other instances: a join tells the users here of the newcomer; an
// event of another kind with as many words is no join.
TEST_F(ServerCore, OnlyAJoinEventAnnouncesANewcomer) {
  CRecordingCluster cluster(*storage);
  server.reset(new CServer(cluster, out, opt));
  Login(A, 100, "secret");
  cluster.events = {"kick 200 10.0.0.9 7a", "words 200 10.0.0.9 7a", "leave 200 10.0.0.9 7a",
                    "kick 100 10.0.0.9 7a",  // not a kick either: A stays
                    "", "join 200 10.0.0.9 7a "};  // nor are an empty event and a join with a fifth, empty word
  server->OnClusterEvents(now);
  EXPECT_TRUE(TakeFor(A).empty());
  // Nor is an event of another kind with a kick's three words a kick, nor
  // anything but a two-word "words" a call to hand out leave-words.
  LeaveWord waiting;
  waiting.from = 200;
  waiting.text = "hi";
  ASSERT_TRUE(storage->AddLeaveWord(100, waiting));
  cluster.events = {"words 100 10.0.0.9", "join 100 10.0.0.9", "kicks 100 10.0.0.9", "word 100"};
  server->OnClusterEvents(now);
  EXPECT_TRUE(server->IsOnline(100));
  EXPECT_TRUE(TakeFor(A).empty());
  EXPECT_EQ(1, storage->CountLeaveWords(100));
  cluster.events = {"join 200 10.0.0.9 7a", "join 300 10.0.0.8 7a7"};  // an odd last digit goes
  server->OnClusterEvents(now);
  std::vector<Sent> told = TakeFor(A);
  ASSERT_EQ(2u, told.size());
  EXPECT_NE(std::string::npos, told[0].payload.find(qb::MsgChatAddUser("10.0.0.9", "z")));
  EXPECT_NE(std::string::npos, told[1].payload.find(qb::MsgChatAddUser("10.0.0.8", "z") + "\r\n"));
  // A newcomer still in session here (his kick is on its way) is not told of himself.
  Login(B, 200, "pw200");
  TakeFor(A);
  cluster.events = {"join 100 10.0.0.9 7a"};
  server->OnClusterEvents(now);
  std::vector<Sent> sent = Take();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(B, sent[0].address);
}

// A kick from the instance a user moved to ends his session here; the others
// hear of a leave only when he moved to another address: at the same address
// the newcomer is he.
TEST_F(ServerCore, AKickEndsTheSessionAndTellsOfALeaveOnlyFromAnotherAddress) {
  CRecordingCluster cluster(*storage);
  server.reset(new CServer(cluster, out, opt));
  Login(A, 100, "secret");
  Login(B, 200, "pw200");
  cluster.notified.clear();
  cluster.events = {"kick 100 10.0.0.1"};
  server->OnClusterEvents(now);
  EXPECT_FALSE(server->IsOnline(100));
  EXPECT_TRUE(cluster.notified.empty());
  cluster.events = {"kick 200 10.0.0.9"};
  server->OnClusterEvents(now);
  EXPECT_FALSE(server->IsOnline(200));
  EXPECT_EQ(std::vector<std::string>{"|leave 200 10.0.0.2"}, cluster.notified);
}

// A word left for a user online at another instance is announced there at
// once; for one online nowhere it only waits in the database.
TEST_F(ServerCore, AWordForAUserOnlineElsewhereIsAnnouncedThereOnly) {
  CRecordingCluster cluster(*storage);
  server.reset(new CServer(cluster, out, opt));
  Login(A, 100, "secret");
  cluster.notified.clear();
  Send(A, 0, 5, qb::MsgLeaveWord(100, 200, "hi"));
  EXPECT_TRUE(cluster.notified.empty());
  Presence there;
  there.user = 200;
  there.address = qb::MakeAddress(10, 0, 2, 9);
  there.instance = "other";
  cluster.others = {there};
  Send(A, 0, 6, qb::MsgLeaveWord(100, 200, "hi"));
  EXPECT_EQ(std::vector<std::string>{"other|words 200"}, cluster.notified);
  EXPECT_EQ(2, storage->CountLeaveWords(200));
}

// A server that stops tells the other instances of every user's leave at once.
TEST_F(ServerCore, AStoppingServerTellsOfEveryUsersLeave) {
  CRecordingCluster cluster(*storage);
  server.reset(new CServer(cluster, out, opt));
  Login(A, 100, "secret");
  Login(B, 200, "pw200");
  cluster.notified.clear();
  server->Shutdown();
  EXPECT_FALSE(server->IsOnline(100));
  EXPECT_FALSE(server->IsOnline(200));
  EXPECT_EQ((std::vector<std::string>{"|leave 100 10.0.0.1", "|leave 200 10.0.0.2"}), cluster.notified);
}

TEST_F(ServerCore, PresenceIsTouchedAtMostEveryMinuteOrQuarterOfTheTimeOut) {
  opt.accountPollMs = 1;  // every tick looks
  CRecordingCluster cluster(*storage);
  server.reset(new CServer(cluster, out, opt));  // 45 min time-out: once a minute
  Login(A, 100, "secret");                          // at 1000
  auto keepAliveAndTick = [&](uint64_t at) {
    now = at;
    Send(A, 0, 2, qb::MsgKeepAlive(100, "secret"));
    server->OnTick(now);
  };
  keepAliveAndTick(60999);
  EXPECT_TRUE(cluster.touched.empty());
  ASSERT_FALSE(cluster.expired.empty());
  EXPECT_EQ(2700000u, cluster.expired.back());
  keepAliveAndTick(61000);
  ASSERT_EQ(1u, cluster.touched.size());
  EXPECT_EQ(std::vector<int32_t>{100}, cluster.touched[0]);
  keepAliveAndTick(120999);
  EXPECT_EQ(1u, cluster.touched.size());
  keepAliveAndTick(121000);
  EXPECT_EQ(2u, cluster.touched.size());

  // A short time-out: a quarter of it, 25 s of 100 s.
  opt.sessionTimeoutMs = 100000;
  CRecordingCluster quick(*storage);
  now = 1000;
  server.reset(new CServer(quick, out, opt));
  Login(A, 100, "secret");
  keepAliveAndTick(25999);
  EXPECT_TRUE(quick.touched.empty());
  keepAliveAndTick(26000);
  EXPECT_EQ(1u, quick.touched.size());
  ASSERT_FALSE(quick.expired.empty());
  EXPECT_EQ(100000u, quick.expired.back());
}

TEST_F(ServerCore, RandomMessagesOfEveryKindKeepTheServerConsistent) {
  // Right types and sub-types with random values, from a few addresses, with
  // time passing: reaches the handlers' deeper branches that raw noise misses.
  std::mt19937 rng(7);
  const std::string coded = qb::EncodeText("secret");
  const std::string words[] = {"LGI", "LGO", "LIV", "REQWORDS", "LEAVEWORD", "FAV", "GROUP", "UP", "DOWN", "COUNT",
                         "NODE", "OK", "READY", "REQ", "CANCEL", "UPNODE", "DROPOUT", "100", "200", "-1",
                         "2147483647", "0", "secret", coded, "", "x"};
  const uint32_t from[] = {A, B, C};
  int32_t logins = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string body;
    int fields = 1 + rng() % 10;
    for (int j = 0; j < fields; ++j) body += qb::BracketField(words[j == 0 ? rng() % 7 : rng() % 26]);
    if (rng() % 4 == 0) body += "free text";
    Send(from[rng() % 3], rng() % 6, (int32_t)(rng() % 50), body);
    if (i % 97 == 0) Send(A, 0, 1, qb::MsgLogin(100, "secret")), ++logins;
    now += rng() % 2000;
    if (i % 10 == 0) server->OnTick(now);
    out.sent.clear();
  }
  EXPECT_LE(server->SessionCount(), 3u);
  EXPECT_EQ(20000u + logins, server->Counters().received);
  Login(qb::MakeAddress(10, 0, 0, 9), 200, "pw200");  // still answering
}

TEST_F(ServerCore, NoiseIsCountedAndDropped) {
  std::string big(kMaxDatagram + 1, 'x');
  server->OnDatagram(A, 0, big.data(), big.size(), now);
  server->OnDatagram(A, 0, "", 0, now);
  Send(A, 0, 1, "<NOSUCH>");
  Send(A, 0, 1, "<FAV><SIDEWAYS><x>");
  Send(A, 0, 1, "<LGI>");
  Send(A, 9, 1, "<GROUP><UPNODE><100>");
  Send(A, 0, 1, "<GROUP><SIDEWAYS><key><100>");
  const ServerCounters& c = server->Counters();
  EXPECT_EQ(7u, c.received);
  EXPECT_EQ(1u, c.oversized);
  EXPECT_EQ(3u, c.malformed);
  EXPECT_EQ(3u, c.unknown);
  EXPECT_TRUE(Take().empty());
  // An upload message of no known kind, from a session: counted, not refused.
  Login(A, 100, "secret");
  Take();
  Send(A, 0, 2, "<FAV><UP><SIDEWAYS><x>");
  Send(A, 0, 3, "<FAV><UP><REQ><100><secret>");  // a download is asked for DOWN only
  EXPECT_EQ(5u, c.unknown);
  Send(A, 0, 4, "<FAV><DOWN><COUNT><3><100><secret>");  // and an upload begun UP only; no download to count against
  EXPECT_EQ(5u, c.unknown);
  EXPECT_EQ(0u, c.refused);
  EXPECT_TRUE(Take().empty());
}

// A request short of a field, from a logged-in address, is counted as
// malformed and goes no further: nothing refused, answered or changed.
TEST_F(ServerCore, ARequestShortOfAFieldGoesNoFurther) {
  Login(A, 100, "secret");
  const char* bodies[] = {"<LGI><1061><100>",         "<LGO><100>",          "<LIV><100>",
                          "<REQWORDS>",               "<LEAVEWORD><100>",    "<FAV><UP>",
                          "<FAV><UP><COUNT><3><100>", "<FAV><DOWN><REQ><100>", "<GROUP><DROPOUT><key>",
                          "<GROUP><UPNODE><100><n><0>"};
  for (const char* body : bodies) Send(A, 0, 5, body);
  const ServerCounters& c = server->Counters();
  EXPECT_EQ(10u, c.malformed);
  EXPECT_EQ(0u, c.refused);
  EXPECT_EQ(0u, c.unknown);
  EXPECT_TRUE(Take().empty());
  EXPECT_TRUE(server->IsOnline(100));
}

}  // namespace

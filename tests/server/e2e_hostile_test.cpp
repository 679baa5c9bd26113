// The real qimbo-server process under attack on loopback: a login flood from
// 3,000 addresses, an account changed by the admin command while its owner is
// logged in, and the named limits of "serve".
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "os/os.h"
#include "serve_options.h"
#include "test_client.h"
#include "testutil.h"

using namespace qbtest;

namespace {

uint32_t Loop(unsigned last) { return qb::MakeAddress(127, 0, 0, last); }

// Under AddressSanitizer every password hash takes several times as long:
// the flood and the bounds on the legitimate logins stretch with it, so the
// test asks the same of the server in both builds.
#if defined(__SANITIZE_ADDRESS__)
const int kSlow = 3;
#else
const int kSlow = 1;
#endif

int64_t MsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count();
}

class HostileProcess : public ::testing::Test {
 protected:
  void SetUp() override { db = os::NativePath(dir / "server.db"); }
  void TearDown() override {
    if (server.Running()) {
      EXPECT_EQ(0, server.Stop()) << server.Log();
    }
  }
  std::unique_ptr<CTestClient> Client(unsigned last) {
    std::unique_ptr<CTestClient> c(new CTestClient(Loop(last), server.Ports()));
    EXPECT_TRUE(c->Ok());
    return c;
  }
  // The login's answer: 1 accepted, 0 refused, -1 none within the limit.
  int TryLogin(CTestClient& c, int32_t user, const std::string& pw, int limitMs = 5000) {
    int32_t n = c.Request(0, qb::MsgLogin(user, pw));
    Received r;
    if (!c.WaitFor([&](const Received& m) { return m.type == "LGI" && m.n == n; }, r, limitMs)) return -1;
    return r.f.size() == 2 && r.f[0] == "OK" && r.f[1] == qb::FormatNumber(user) ? 1 : 0;
  }
  size_t LogLines() {
    std::string log = server.Log();
    return (size_t)std::count(log.begin(), log.end(), '\n');
  }

  TempDir dir;
  std::string db;
  CServerProcess server;
};

// Wrong-password logins for one user with a real (slow) hash, from 3,000
// loopback addresses, for three seconds (longer in a sanitized build).
class CLoginFlood {
 public:
  CLoginFlood(const ServerPorts& ports, int32_t user) : m_ports(ports), m_user(user) {}
  ~CLoginFlood() { Stop(); }
  void Start() {
    m_thread = std::thread([this] { Run(); });
  }
  void Stop() {
    m_stop = true;
    Join();
  }
  void Join() {
    if (m_thread.joinable()) m_thread.join();
  }
  int Sent() const { return m_sent; }

 private:
  void Run() {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; !m_stop && MsSince(start) < 3000 * kSlow; ++i) {
      int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      struct sockaddr_in sa;
      memset(&sa, 0, sizeof sa);
      sa.sin_family = AF_INET;
      int a = i % 3000;
      sa.sin_addr.s_addr = qb::MakeAddress(127, 1, (uint8_t)(a / 250), (uint8_t)(1 + a % 250));
      if (fd >= 0 && bind(fd, (struct sockaddr*)&sa, sizeof sa) == 0) {
        std::string d = qb::FrameMessage(i + 1, qb::MsgLogin(m_user, "guess" + std::to_string(i))) + '\0';
        sa.sin_addr.s_addr = qb::MakeAddress(127, 0, 0, 1);
        sa.sin_port = htons((uint16_t)(m_ports.server + i % 5));
        if (sendto(fd, d.data(), d.size(), 0, (struct sockaddr*)&sa, sizeof sa) > 0) ++m_sent;
      }
      if (fd >= 0) close(fd);
      // About 1,300 a second, the rate that used to shut everybody out.
      while (!m_stop && i * 10 > MsSince(start) * 13) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ServerPorts m_ports;
  int32_t m_user;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_sent{0};
  std::thread m_thread;
};

TEST_F(HostileProcess, ALoginFloodFromThreeThousandAddressesLeavesOtherLoginsWithinASecond) {
  // The flooded account has a real, slow hash; the others cheap ones.
  std::string out;
  ASSERT_EQ(0, RunCapture({QIMBO_SERVER_EXE, "user", "add", "100", "secret", "--db", db},
                          os::NativePath(dir / "add.txt"), out))
      << out;
  ASSERT_EQ(0, RunUserCommand(db, {"add", "200", "pw200", "lisi"}));
  ASSERT_EQ(0, RunUserCommand(db, {"add", "300", "pw300", "wang"}));
  ASSERT_TRUE(server.Start(db)) << server.Log();
  auto regular = Client(2), newcomer = Client(3);
  ASSERT_EQ(1, TryLogin(*regular, 200, "pw200"));  // his usual address
  CLoginFlood flood(server.Ports(), 100);
  flood.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000 * kSlow));
  auto t = std::chrono::steady_clock::now();
  EXPECT_EQ(1, TryLogin(*regular, 200, "pw200", 1000 * kSlow)) << "after " << MsSince(t) << " ms";
  std::this_thread::sleep_for(std::chrono::milliseconds(500 * kSlow));
  t = std::chrono::steady_clock::now();
  EXPECT_EQ(1, TryLogin(*newcomer, 300, "pw300", 1000 * kSlow)) << "after " << MsSince(t) << " ms\n" << server.Log();
  flood.Join();
  EXPECT_GT(flood.Sent(), 3500);
  EXPECT_EQ(0, server.Stop());
  std::string log = server.Log();
  // Thousands of refusals, a few dozen lines.
  EXPECT_LT(LogLines(), 40u) << log;
  if (getenv("QIMBO_SHOW_LOG")) printf("%s", log.c_str());
  EXPECT_NE(std::string::npos, log.find(" more refused logins (")) << log;
}

TEST_F(HostileProcess, AChangedOrDeletedAccountLosesItsLiveSessionAtOnce) {
  ASSERT_EQ(0, RunUserCommand(db, {"add", "100", "secret", "zhang"}));
  ASSERT_EQ(0, RunUserCommand(db, {"add", "200", "pw200", "lisi"}));
  ASSERT_EQ(0, RunUserCommand(db, {"add", "300", "pw300", "wang"}));
  ASSERT_TRUE(server.Start(db)) << server.Log();
  auto a = Client(2), b = Client(3), c = Client(4);
  ASSERT_EQ(1, TryLogin(*a, 100, "secret"));
  ASSERT_EQ(1, TryLogin(*b, 200, "pw200"));
  ASSERT_EQ(1, TryLogin(*c, 300, "pw300"));
  a->Backlog();
  ASSERT_EQ(0, RunUserCommand(db, {"passwd", "200", "changed"}));
  ASSERT_EQ(0, RunUserCommand(db, {"del", "300"}));
  // The others on the plaza hear both leave (the server looks every second).
  Received r;
  ASSERT_TRUE(a->WaitFor([](const Received& m) { return m.type == "CHAT" && m.f.at(0) == "DELEUSER" && m.f.at(1) == "127.0.0.3"; }, r));
  ASSERT_TRUE(a->WaitFor([](const Received& m) { return m.type == "CHAT" && m.f.at(0) == "DELEUSER" && m.f.at(1) == "127.0.0.4"; }, r));
  // The old password opens nothing any more.
  int32_t n = b->Request(0, qb::MsgFavDownReq(200, "pw200"));
  ASSERT_TRUE(b->WaitFor([&](const Received& m) { return m.type == "FAV" && m.n == n; }, r));
  EXPECT_EQ("INVALID", r.f.at(2));
  EXPECT_EQ(1, TryLogin(*b, 200, "changed"));
  EXPECT_EQ(0, server.Stop());
  std::string log = server.Log();
  EXPECT_NE(std::string::npos, log.find("logout user 200 (account changed)")) << log;
  EXPECT_NE(std::string::npos, log.find("logout user 300 (account changed)")) << log;
}

TEST_F(HostileProcess, NamedLimitsReachTheServerAndBadValuesStopIt) {
  ASSERT_EQ(0, RunUserCommand(db, {"add", "100", "secret", "zhang"}));
  ASSERT_EQ(0, RunUserCommand(db, {"add", "300", "pw300", "wang"}));
  std::string out, scratch = os::NativePath(dir / "out.txt");
  for (const char* bad : {"0", "-1", "", "7x", "99999999999999999999"}) {
    EXPECT_EQ(1, RunCapture({QIMBO_SERVER_EXE, "serve", "--db", db, "--listen", "127.0.0.1", "--port-base", "29990",
                             "--words-per-sender", bad},
                            scratch, out))
        << bad;
    EXPECT_NE(std::string::npos, out.find("--words-per-sender needs a whole number from 1 to")) << out;
  }
  ASSERT_TRUE(server.Start(db, {"--words-per-sender", "2"})) << server.Log();
  auto a = Client(2);
  ASSERT_EQ(1, TryLogin(*a, 100, "secret"));
  for (int i = 0; i < 3; ++i) a->Request(0, qb::MsgLeaveWord(100, 300, "word" + std::to_string(i)));
  ASSERT_EQ(0, server.Stop());
  std::string log = server.Log();
  EXPECT_NE(std::string::npos, log.find("leave-word from 100 to 300\n")) << log;
  EXPECT_NE(std::string::npos, log.find("refused leave-word from 100 to 300: too many from this sender")) << log;
  ASSERT_TRUE(server.Start(db)) << server.Log();
  auto c = Client(4);
  ASSERT_EQ(1, TryLogin(*c, 300, "pw300")) << server.Log();
  c->Request(0, qb::MsgReqWords(300));
  std::vector<std::string> got;
  Received r;
  while (c->WaitType("LWORDS", "", r, 500)) got.push_back(r.f.at(1));
  EXPECT_EQ((std::vector<std::string>{"word0", "word1"}), got);
}

// Each named limit sets its own field, in its own unit, and nothing else.
TEST(ServeLimits, EachOptionSetsItsFieldInItsUnit) {
  struct Case {
    const char* name;
    const char* value;
    std::function<bool(const qsrv::ServerOptions&)> holds;
  };
  const Case cases[] = {
      {"--login-fail-limit", "7", [](const qsrv::ServerOptions& o) { return o.loginFailLimit == 7; }},
      {"--user-fail-limit", "12", [](const qsrv::ServerOptions& o) { return o.userFailLimit == 12; }},
      {"--login-fail-window-s", "90", [](const qsrv::ServerOptions& o) { return o.loginFailWindowMs == 90000; }},
      {"--fail-records", "100", [](const qsrv::ServerOptions& o) { return o.maxFailRecords == 100; }},
      {"--known-logins", "0", [](const qsrv::ServerOptions& o) { return o.maxKnownLogins == 0; }},
      {"--pending-checks", "32", [](const qsrv::ServerOptions& o) { return o.maxPendingChecks == 32; }},
      {"--check-workers", "3", [](const qsrv::ServerOptions& o) { return o.maxChecksAtOnce == 3; }},
      {"--sessions", "500", [](const qsrv::ServerOptions& o) { return o.maxSessions == 500; }},
      {"--transfers", "9", [](const qsrv::ServerOptions& o) { return o.maxTransfers == 9; }},
      {"--upload-bytes", "300000", [](const qsrv::ServerOptions& o) { return o.maxStagedBytes == 300000; }},
      {"--staged-bytes", "4000000", [](const qsrv::ServerOptions& o) { return o.maxStagedTotal == 4000000; }},
      {"--reclaim-idle-s", "20", [](const qsrv::ServerOptions& o) { return o.reclaimIdleMs == 20000; }},
      {"--words-per-user", "50", [](const qsrv::ServerOptions& o) { return o.maxWordsPerUser == 50; }},
      {"--words-per-sender", "4", [](const qsrv::ServerOptions& o) { return o.maxWordsPerSender == 4; }},
      {"--circles-per-user", "100", [](const qsrv::ServerOptions& o) { return o.maxCirclesPerUser == 100; }},
      {"--log-summary-s", "30", [](const qsrv::ServerOptions& o) { return o.logSummaryMs == 30000; }},
      {"--account-poll-ms", "250", [](const qsrv::ServerOptions& o) { return o.accountPollMs == 250; }},
      {"--session-timeout-s", "120", [](const qsrv::ServerOptions& o) { return o.sessionTimeoutMs == 120000; }},
  };
  EXPECT_EQ(sizeof cases / sizeof cases[0], qsrv::LimitOptions().size());
  for (const Case& c : cases) {
    qsrv::ServerOptions opt;
    std::string error;
    EXPECT_TRUE(qsrv::IsLimitOption(c.name)) << c.name;
    ASSERT_TRUE(qsrv::ApplyLimitOption(c.name, c.value, opt, error)) << c.name << ": " << error;
    EXPECT_TRUE(c.holds(opt)) << c.name;
    EXPECT_FALSE(qsrv::ApplyLimitOption(c.name, "-1", opt, error)) << c.name;
    EXPECT_FALSE(qsrv::ApplyLimitOption(c.name, std::string(c.value) + "s", opt, error)) << c.name;
    EXPECT_TRUE(c.holds(opt)) << c.name << " changed by a refused value";
  }
  qsrv::ServerOptions opt;
  std::string error;
  EXPECT_FALSE(qsrv::IsLimitOption("--db"));
  EXPECT_FALSE(qsrv::ApplyLimitOption("--no-such-limit", "1", opt, error));
  // Ranges, at their ends and one past.
  EXPECT_TRUE(qsrv::ApplyLimitOption("--check-workers", "64", opt, error));
  EXPECT_FALSE(qsrv::ApplyLimitOption("--check-workers", "65", opt, error));
  EXPECT_TRUE(qsrv::ApplyLimitOption("--account-poll-ms", "10", opt, error));
  EXPECT_FALSE(qsrv::ApplyLimitOption("--account-poll-ms", "9", opt, error));
  EXPECT_TRUE(qsrv::ApplyLimitOption("--login-fail-window-s", "86400", opt, error));
  EXPECT_FALSE(qsrv::ApplyLimitOption("--login-fail-window-s", "86401", opt, error));
}

// Every limit takes the whole numbers of its range, both ends included, and
// names the range when it refuses one.
TEST(ServeLimits, EachLimitTakesBothEndsOfItsRangeAndNothingOutside) {
  struct Range {
    const char *name, *lo, *below, *hi, *above;
  };
  const Range ranges[] = {
      {"--login-fail-limit", "1", "0", "1000000000", "1000000001"},
      {"--user-fail-limit", "1", "0", "1000000000", "1000000001"},
      {"--login-fail-window-s", "1", "0", "86400", "86401"},
      {"--fail-records", "1", "0", "16777216", "16777217"},
      {"--known-logins", "0", "-1", "1000000000", "1000000001"},
      {"--pending-checks", "1", "0", "65536", "65537"},
      {"--check-workers", "1", "0", "64", "65"},
      {"--session-timeout-s", "1", "0", "86400", "86401"},
      {"--sessions", "1", "0", "1000000000", "1000000001"},
      {"--transfers", "1", "0", "1000000000", "1000000001"},
      {"--upload-bytes", "1", "0", "1000000000", "1000000001"},
      {"--staged-bytes", "1", "0", "64000000000", "64000000001"},
      {"--reclaim-idle-s", "1", "0", "86400", "86401"},
      {"--words-per-user", "1", "0", "1000000000", "1000000001"},
      {"--words-per-sender", "1", "0", "1000000000", "1000000001"},
      {"--circles-per-user", "1", "0", "1000000000", "1000000001"},
      {"--log-summary-s", "1", "0", "86400", "86401"},
      {"--account-poll-ms", "10", "9", "3600000", "3600001"},
  };
  EXPECT_EQ(sizeof ranges / sizeof ranges[0], qsrv::LimitOptions().size());
  for (const Range& r : ranges) {
    qsrv::ServerOptions opt;
    std::string error, refusal = std::string(r.name) + " needs a whole number from " + r.lo + " to " + r.hi;
    EXPECT_TRUE(qsrv::ApplyLimitOption(r.name, r.lo, opt, error)) << r.name << ": " << error;
    EXPECT_TRUE(qsrv::ApplyLimitOption(r.name, r.hi, opt, error)) << r.name << ": " << error;
    for (const char* bad : {r.below, r.above, "", "5 "}) {
      error.clear();
      EXPECT_FALSE(qsrv::ApplyLimitOption(r.name, bad, opt, error)) << r.name << " " << bad;
      EXPECT_EQ(refusal, error);
    }
  }
  qsrv::ServerOptions opt;
  std::string error;
  EXPECT_FALSE(qsrv::ApplyLimitOption("--no-such-limit", "1", opt, error));
  EXPECT_EQ("unknown option --no-such-limit", error);
}

}  // namespace

// The real qimbo-server process on loopback, with clients on their own
// loopback addresses speaking the program's messages over plain UDP.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "qimbo_version.h"
#include "base/cipher.h"
#include "os/os.h"
#include "server_cli.h"
#include "storage.h"
#include "test_client.h"
#include "testutil.h"
#include "udp_loop.h"

using namespace qbtest;

namespace {

uint32_t Loop(unsigned last) { return qb::MakeAddress(127, 0, 0, last); }

// Processor time a process has used so far, user and system, in milliseconds.
long ProcessCpuMs(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(file, stat)) return -1;
  // The fields after the command's closing parenthesis: state is the 3rd, utime the 14th, stime the 15th.
  size_t at = stat.rfind(')');
  if (at == std::string::npos) return -1;
  std::istringstream in(stat.substr(at + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    db = os::NativePath(dir / "server.db");
    ASSERT_EQ(0, RunUserCommand(db, {"add", "100", "secret", "zhang"}));
    ASSERT_EQ(0, RunUserCommand(db, {"add", "200", "pw200", "lisi"}));
    ASSERT_EQ(0, RunUserCommand(db, {"add", "300", "pw300", "wang"}));
    ASSERT_TRUE(server.Start(db, {"--version", "1061", "--chat-ad", "http://ad.example.com/"})) << server.Log();
  }
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
  void Login(CTestClient& c, int32_t user, const std::string& pw) { ASSERT_TRUE(c.LoginAccepted(user, pw)); }
  // Sends a download request and returns its answer; anything the server
  // sent before it for earlier messages of the same port is in the backlog.
  Received Probe(CTestClient& c, int32_t user, const std::string& pw) {
    int32_t n = c.Request(0, qb::MsgFavDownReq(user, pw));
    Received r;
    EXPECT_TRUE(c.WaitFor([&](const Received& m) { return m.type == "FAV" && (m.n == n || m.f.at(1) == "COUNT"); }, r));
    return r;
  }
  bool Upload(CTestClient& c, int32_t user, const std::string& pw, const std::vector<qb::NodeWire>& nodes,
              size_t stopAfter = SIZE_MAX) {
    return c.Upload(user, pw, nodes, stopAfter);
  }
  // Downloads like the program: READY, then an acknowledgement per node,
  // both carrying the server's number. Returns each node's fields as sent.
  std::vector<std::string> Download(CTestClient& c, int32_t user, const std::string& pw) {
    std::vector<std::string> got;
    Received r = Probe(c, user, pw);
    if (r.f.size() < 3 || r.f[1] != "COUNT") return got;
    int32_t total = qb::ReadNumber(r.f[2]);
    int32_t last = r.n;
    c.Reply(0, last, qb::MsgFavDownReady());
    for (int32_t i = 0; i < total; ++i) {
      // A node sent again (its acknowledgement was late) is passed over, as the program does.
      if (!c.WaitFor([&](const Received& m) { return m.type == "FAV" && m.f.size() > 2 && m.f[1] == "NODE" && m.n == last + 1; }, r))
        return got;
      EXPECT_EQ(last + 1, r.n);
      last = r.n;
      std::string text(r.payload.c_str());
      got.push_back(text.substr(text.find("<NODE>") + 6));
      c.Reply(0, last, qb::MsgFavDownNodeOk());
    }
    return got;
  }

  TempDir dir;
  std::string db;
  CServerProcess server;
};

// A server started with the stop signals blocked, as a shell or a service
// manager may hand them down, still stops on either of them.
TEST(ServerProcess, StopsOnEitherSignalWhenStartedWithThemBlocked) {
  TempDir dir;
  std::string db = os::NativePath(dir / "server.db");
  ASSERT_EQ(0, RunUserCommand(db, {"add", "100", "secret", "zhang"}));
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  for (int sig : {SIGTERM, SIGINT}) {
    CServerProcess server;
    ASSERT_EQ(0, pthread_sigmask(SIG_BLOCK, &block, &old));
    bool started = server.Start(db);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(started) << server.Log();
    EXPECT_EQ(0, server.Stop(sig)) << "signal " << sig << "\n" << server.Log();
  }
}

TEST_F(EndToEnd, LoginAndRefusal) {
  auto c = Client(2);
  int32_t n = c->Request(1, qb::MsgLogin(100, "wrong"));
  Received r;
  ASSERT_TRUE(c->WaitType("LGI", "", r));
  EXPECT_EQ(n, r.n);
  EXPECT_EQ(1, r.k);  // answered on the port matching the one it was sent to
  EXPECT_TRUE(r.f.empty() || r.f[0] != "OK");
  Login(*c, 100, "secret");
  ASSERT_TRUE(c->WaitType("VER", "", r));
  EXPECT_EQ("1061", r.f.at(0));
  ASSERT_TRUE(c->WaitType("CHATAD", "", r));
  EXPECT_EQ("http://ad.example.com/", r.f.at(0));
  ASSERT_TRUE(c->WaitType("CHAT", "LIST", r));
  EXPECT_EQ("127.0.0.2", r.f.at(2));
  // Password checks run on one worker per core, four at most: the process is
  // the main thread and those workers.
  unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::vector<os::DirEntry> threads;
  ASSERT_TRUE(os::ListFolder(os::ProgramPath("/proc/" + std::to_string(server.Pid()) + "/task"), "*", threads));
  threads.erase(std::remove_if(threads.begin(), threads.end(), [](const os::DirEntry& e) { return e.name[0] == '.'; }),
                threads.end());
  EXPECT_EQ(1 + cores, threads.size());
  // With a session open and nothing arriving, the loop and the workers sleep:
  // two seconds of idling take a few milliseconds of processor, where a loop
  // that spun would take most of them.
  long cpu = ProcessCpuMs(server.Pid());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  long idle = ProcessCpuMs(server.Pid()) - cpu;
  ASSERT_GE(cpu, 0);
  EXPECT_LT(idle, 200) << "milliseconds of processor in two idle seconds";
  EXPECT_EQ(0, server.Stop());
  std::string log = server.Log();
  EXPECT_NE(std::string::npos, log.find("refused login of user 100")) << log;
  EXPECT_NE(std::string::npos, log.find("login user 100 from 127.0.0.2")) << log;
  int base = server.Ports().server;
  EXPECT_NE(std::string::npos, log.find("qimbo-server: listening on 127.0.0.1:" + std::to_string(base) + "-" +
                                        std::to_string(base + 4) + ", database " + db + "\n"))
      << log;
  // Two logins came in; a refusal, the welcome and its three news went out.
  EXPECT_NE(std::string::npos, log.find("stopped; 2 datagrams received, dropped 0 malformed, 0 oversized, 0 unknown; "
                                        "1 requests refused; 5 datagrams sent"))
      << log;
}

TEST_F(EndToEnd, UploadThenDownloadReproducesA1320NodeTree) {
  std::vector<qb::NodeWire> tree = qsrv::MakeSampleTree(1320);
  tree[7].note = "<angle> brackets go, 中文 stays";
  // A long address makes a datagram of more than 1000 bytes each way.
  tree[9].address = "http://www.example.com/" + std::string(700, 'q');
  auto a = Client(2);
  Login(*a, 100, "secret");
  ASSERT_TRUE(Upload(*a, 100, "secret", tree));
  // The same user on another machine.
  auto b = Client(3);
  Login(*b, 100, "secret");
  std::vector<std::string> got = Download(*b, 100, "secret");
  ASSERT_EQ(tree.size(), got.size());
  for (size_t i = 0; i < tree.size(); ++i) {
    std::string sent = qb::MsgFavUpNode(tree[i]);
    ASSERT_EQ(sent.substr(sent.find("<NODE>") + 6) + "\r\n", got[i]) << i;
  }
  EXPECT_EQ(0, server.Stop());
  EXPECT_NE(std::string::npos, server.Log().find("download of 1320 nodes by user 100 done"));
}

TEST_F(EndToEnd, AnInterruptedUploadLeavesTheOldTree) {
  std::vector<qb::NodeWire> oldTree = qsrv::MakeSampleTree(10), newTree = qsrv::MakeSampleTree(40);
  newTree[0].name = "new";
  auto a = Client(2);
  Login(*a, 100, "secret");
  ASSERT_TRUE(Upload(*a, 100, "secret", oldTree));
  ASSERT_TRUE(Upload(*a, 100, "secret", newTree, 25));
  a->Request(2, qb::MsgFavUpCancel());
  ASSERT_TRUE(Upload(*a, 100, "secret", newTree, 39));  // and one the program gave up on
  auto b = Client(3);
  Login(*b, 100, "secret");  // the user moves: the staged nodes are dropped
  std::vector<std::string> got = Download(*b, 100, "secret");
  ASSERT_EQ(10u, got.size());
  std::string first = qb::MsgFavUpNode(oldTree[0]);
  EXPECT_EQ(first.substr(first.find("<NODE>") + 6) + "\r\n", got[0]);
  EXPECT_EQ(0, server.Stop());
  std::string log = server.Log();
  EXPECT_NE(std::string::npos, log.find("dropped after 25 of 40 nodes: cancelled")) << log;
  EXPECT_NE(std::string::npos, log.find("upload of user 100 dropped: session ended")) << log;
}

TEST_F(EndToEnd, TwoClientsInOneCircleChatWithEachOther) {
  auto a = Client(2), b = Client(3);
  Login(*a, 100, "secret");
  Login(*b, 200, "pw200");
  const std::string key = "http://www.example.com/forum";
  a->Request(3, qb::MsgGroupUpNode(100, "forum", 1, key, "cat", "", "Reserved"));
  Received r;
  ASSERT_TRUE(a->WaitType("GROUP", "UPNODE", r));
  EXPECT_EQ("OK", r.f.at(1));
  b->Request(4, qb::MsgGroupUpNode(200, "forum", 1, key, "cat", "", "Reserved"));
  ASSERT_TRUE(b->WaitType("GROUP", "LIST", r));
  ASSERT_EQ(3u + 2 * 4, r.f.size());
  EXPECT_EQ(key, r.f[2]);
  EXPECT_EQ("127.0.0.3", r.f[3]);
  EXPECT_EQ("200", r.f[5]);
  // b talks to a at the address the list gave, directly.
  uint32_t peer = qb::ParseDottedAddress(r.f[7]);
  ASSERT_EQ(Loop(2), peer);
  EXPECT_EQ("100", r.f[9]);
  qb::CharFormat cf;
  cf.faceName = "\xCB\xCE\xCC\xE5";
  b->SendToPeer(peer, 2, qb::MsgChatText(200, qb::EscapeChatText("hello <a>"), cf));
  ASSERT_TRUE(a->WaitFor([](const Received& m) { return m.type == "CHAT" && m.f.at(0) == "TEXT"; }, r));
  EXPECT_EQ(Loop(3), r.from);
  EXPECT_EQ("200", r.f.at(1));
  EXPECT_EQ("hello <a>", qb::UnescapeChatText(r.f.at(2)));
  a->SendToPeer(Loop(3), 0, qb::MsgChatTextPlain(100, "hi"));
  ASSERT_TRUE(b->WaitFor([](const Received& m) { return m.type == "CHAT" && m.f.at(0) == "TEXT"; }, r));
  EXPECT_EQ("hi", r.f.at(2));
}

TEST_F(EndToEnd, ALeaveWordReachesAnOfflineMemberAtHisNextLogin) {
  const std::string key = "\xC2\xDB\xCC\xB3";  // 论坛
  {
    auto c = Client(4);
    Login(*c, 300, "pw300");
    c->Request(0, qb::MsgGroupUpNode(300, key, 0, key, "", "", "Reserved"));
    Received r;
    ASSERT_TRUE(c->WaitType("GROUP", "LIST", r));
    c->Request(0, qb::MsgLogout(300, "pw300"));
  }
  auto a = Client(2);
  Login(*a, 100, "secret");
  a->Request(0, qb::MsgGroupUpNode(100, key, 0, key, "", "", "Reserved"));
  Received r;
  ASSERT_TRUE(a->WaitType("GROUP", "LIST", r));
  ASSERT_EQ(3u + 2 * 4, r.f.size());
  EXPECT_EQ("0.0.0.0", r.f[7]);  // 300 is offline
  EXPECT_EQ("300", r.f[9]);
  a->Request(0, qb::MsgLeaveWord(100, 300, qb::EscapeChatText("zhang gave you a message: see <this>")));
  Probe(*a, 100, "secret");  // the leave-word has been handled by now
  auto c = Client(4);
  Login(*c, 300, "pw300");
  c->Request(0, qb::MsgReqWords(300));
  ASSERT_TRUE(c->WaitType("LWORDS", "", r));
  ASSERT_EQ(3u, r.f.size());
  EXPECT_EQ("100", r.f[0]);
  EXPECT_EQ("zhang gave you a message: see <this>", qb::UnescapeChatText(r.f[1]));
  EXPECT_NE(std::string::npos, r.f[2].find("zhang(100)"));
  // Handed out once only.
  c->Request(0, qb::MsgReqWords(300));
  Probe(*c, 300, "pw300");
  for (const Received& m : c->Backlog()) EXPECT_NE("LWORDS", m.type);
}

TEST_F(EndToEnd, PlazaJoinAndLeave) {
  auto a = Client(2), b = Client(3);
  Login(*a, 100, "secret");
  Login(*b, 200, "pw200");
  Received r;
  ASSERT_TRUE(a->WaitFor([](const Received& m) { return m.type == "CHAT" && m.f.at(0) == "ADDUSER"; }, r));
  EXPECT_EQ("127.0.0.3", r.f.at(1));
  EXPECT_EQ("lisi(200)", r.f.at(2));
  ASSERT_TRUE(b->WaitType("CHAT", "LIST", r));
  EXPECT_EQ("2", r.f.at(1));
  EXPECT_EQ("127.0.0.2", r.f.at(4));
  EXPECT_EQ("zhang(100)", r.f.at(5));
  b->Request(1, qb::MsgLogout(200, "pw200"));
  ASSERT_TRUE(a->WaitFor([](const Received& m) { return m.type == "CHAT" && m.f.at(0) == "DELEUSER"; }, r));
  EXPECT_EQ("127.0.0.3", r.f.at(1));
}

TEST_F(EndToEnd, TenThousandBadDatagramsLeaveTheServerUpAndAnswering) {
  auto noise = Client(5), probe = Client(6);
  std::mt19937 rng(20261207);
  const char* templates[] = {"<1><LGI>", "<2><FAV><DOWN><NODE><OK>", "<3><FAV><UP><NODE><A><0>", "<><><><>",
                             "<99999999999999><GROUP><UPNODE><100><n><0><",
                             "<4><LEAVEWORD><100><300>", "<5><FAV><DOWN><READY>", "<6><CHAT><TEXT><1><x>",
                             "<7><GROUP><LIST><-5>", "<8><FAV><UP><COUNT><2147483647><100><secret>", ">>>>", "<<<<"};
  int sent = 0;
  for (int batch = 0; batch < 100; ++batch) {
    for (int i = 0; i < 100; ++i, ++sent) {
      std::string d;
      switch (rng() % 4) {
        case 0: {  // random bytes, sometimes more than a datagram may hold
          size_t len = rng() % 1400;
          for (size_t j = 0; j < len; ++j) d.push_back((char)(rng() & 255));
          break;
        }
        case 1:  // a message cut short or with garbage behind
          d = templates[rng() % 12];
          d = d.substr(0, rng() % (d.size() + 1)) + std::string(rng() % 3, '\xFF');
          break;
        case 2:  // right shapes, random values
          d = "<" + std::to_string((int)rng()) + "><" + (rng() % 2 ? "FAV" : "GROUP") + "><" +
              (rng() % 2 ? "UP" : "DOWN") + "><" + std::to_string((int)rng()) + ">";
          break;
        default:  // long, without any zero byte
          d = std::string(900 + rng() % 300, '<');
      }
      noise->SendRaw(rng() % 5, d);
    }
    // The server still answers on every port, after all the noise sent there.
    for (int k = 0; k < 5; ++k) {
      int32_t n = probe->Request(k, qb::MsgLogin(200, "pw200"));
      Received r;
      ASSERT_TRUE(probe->WaitFor([&](const Received& m) { return m.type == "LGI" && m.n == n; }, r)) << batch;
      ASSERT_EQ("OK", r.f.at(0));
    }
  }
  EXPECT_EQ(10000, sent);
  auto a = Client(2);
  Login(*a, 100, "secret");
  EXPECT_EQ(0, server.Stop());
  std::string log = server.Log();
  size_t at = log.find("stopped; ");
  ASSERT_NE(std::string::npos, at) << log;
  EXPECT_GE(std::stoull(log.substr(at + 9)), 10000u + 500 + 1);
}

// The server's own command line: what it refuses before it serves, and the
// real password hash that "user add" makes unless told otherwise.
TEST(ServerCommandLine, RefusesBadArgumentsAndHashesWithTheInteractiveLimits) {
  TempDir dir;
  std::string db = os::NativePath(dir / "cli.db"), scratch = os::NativePath(dir / "out.txt"), out;
  auto serve = [&](std::vector<std::string> words) {
    std::vector<std::string> args = {QIMBO_SERVER_EXE, "serve", "--db", db};
    args.insert(args.end(), words.begin(), words.end());
    return RunCapture(args, scratch, out, 5000);
  };
  // A command line it cannot take: exit code 2; a value it cannot use: 1.
  EXPECT_EQ(2, serve({"extra"}));
  EXPECT_NE(std::string::npos, out.find("qimbo-server: serve takes no words: extra")) << out;
  EXPECT_EQ(1, serve({"--version", "0"}));
  EXPECT_NE(std::string::npos, out.find("--version needs a non-zero number")) << out;
  EXPECT_EQ(1, serve({"--version", "7x"}));
  EXPECT_EQ(1, serve({"--port-base", "65531"}));  // five ports must fit below 65536
  EXPECT_NE(std::string::npos, out.find("bad --port-base")) << out;
  EXPECT_EQ(1, serve({"--client-port-base", "0"}));
  EXPECT_NE(std::string::npos, out.find("bad --client-port-base")) << out;
  // Both ends of both port ranges are taken: the run goes on to the bad address after them.
  for (const char* base : {"1", "65530"}) {
    EXPECT_EQ(1, serve({"--port-base", base, "--client-port-base", base, "--listen", "127.0.0.256"})) << base;
    EXPECT_NE(std::string::npos, out.find("not an IPv4 address: 127.0.0.256")) << out;
  }
  EXPECT_EQ(2, serve({"--listen"}));
  EXPECT_NE(std::string::npos, out.find("--listen needs a value")) << out;
  EXPECT_EQ(2, serve({"--cheap-hash"}));
  EXPECT_NE(std::string::npos, out.find("unknown option --cheap-hash")) << out;
  EXPECT_EQ(1, serve({"--listen", "127.0.0.256"}));
  EXPECT_NE(std::string::npos, out.find("not an IPv4 address: 127.0.0.256")) << out;
  // A port of the five already taken.
  int taken = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ASSERT_EQ(0, bind(taken, (struct sockaddr*)&sa, sizeof sa));
  ASSERT_EQ(0, getsockname(taken, (struct sockaddr*)&sa, &len));
  int port = ntohs(sa.sin_port);
  EXPECT_EQ(1, serve({"--listen", "127.0.0.1", "--port-base", std::to_string(port - 4)}));
  close(taken);
  EXPECT_NE(std::string::npos, out.find("cannot listen on 127.0.0.1:" + std::to_string(port))) << out;
  EXPECT_EQ(2, RunCapture({QIMBO_SERVER_EXE, "frobnicate"}, scratch, out, 5000));
  EXPECT_NE(std::string::npos, out.find("usage:")) << out;
  EXPECT_EQ(2, RunCapture({QIMBO_SERVER_EXE, "user", "--db", db}, scratch, out, 5000));
  EXPECT_NE(std::string::npos, out.find("user needs a command")) << out;
  EXPECT_EQ(2, RunCapture({QIMBO_SERVER_EXE, "bench", "--clients", "0"}, scratch, out, 5000));
  EXPECT_NE(std::string::npos, out.find("qimbo-server bench: 1 to 1000 clients")) << out;
  EXPECT_EQ(2, RunCapture({QIMBO_SERVER_EXE, "bench", "--runs", "0"}, scratch, out, 5000));
  EXPECT_NE(std::string::npos, out.find("at least one round and one run")) << out;

  ASSERT_EQ(0, RunCapture({QIMBO_SERVER_EXE, "user", "add", "500", "pw", "--db", db}, scratch, out)) << out;
  std::string error;
  std::unique_ptr<qsrv::IStorage> storage = qsrv::OpenSqliteStorage(db, error);
  ASSERT_TRUE(storage) << error;
  qsrv::UserRecord u;
  ASSERT_TRUE(storage->FindUser(500, u));
  EXPECT_EQ(0u, u.hash.find("$argon2id$v=19$m=65536,t=2,p=1$")) << u.hash;
  ASSERT_EQ(0, RunCapture({QIMBO_SERVER_EXE, "user", "list", "--db", db}, scratch, out)) << out;
  EXPECT_EQ("500\t0 nodes\n", out);
  // Each user command with one word too few or too many is refused before the database is touched.
  for (std::vector<std::string> w : std::vector<std::vector<std::string>>{
           {"list", "500"}, {"add", "501"}, {"add", "501", "pw", "nick", "more"}, {"passwd", "500"},
           {"passwd", "500", "pw", "more"}, {"del"}, {"del", "500", "more"}}) {
    std::vector<std::string> args = {QIMBO_SERVER_EXE, "user"};
    args.insert(args.end(), w.begin(), w.end());
    args.insert(args.end(), {"--db", db});
    EXPECT_EQ(2, RunCapture(args, scratch, out, 5000)) << w.size();
    EXPECT_EQ(0u, out.find("qimbo-server: unknown or incomplete user command: " + w[0] + "\nusage:\n")) << out;
  }
  // "db" takes the one word "migrate".
  for (std::vector<std::string> w : std::vector<std::vector<std::string>>{{}, {"upgrade"}, {"migrate", "now"}}) {
    std::vector<std::string> args = {QIMBO_SERVER_EXE, "db"};
    args.insert(args.end(), w.begin(), w.end());
    args.insert(args.end(), {"--db", db});
    EXPECT_EQ(2, RunCapture(args, scratch, out, 5000)) << w.size();
    EXPECT_EQ(0u, out.find("qimbo-server: db needs: migrate\nusage:\n")) << out;
  }
  ASSERT_TRUE(storage->FindUser(500, u));
  // A bare "--" is a word, not an option.
  EXPECT_EQ(2, RunCapture({QIMBO_SERVER_EXE, "user", "--", "--db", db}, scratch, out, 5000));
  EXPECT_EQ(0u, out.find("qimbo-server: unknown or incomplete user command: --\n")) << out;
  // Help and version, whichever way they are asked for, on standard output with exit code 0.
  for (std::vector<std::string> ask : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"help"}, {"user", "--help"}, {"db", "migrate", "--help"}}) {
    std::vector<std::string> args = {QIMBO_SERVER_EXE};
    args.insert(args.end(), ask.begin(), ask.end());
    EXPECT_EQ(0, RunCapture(args, scratch, out, 5000)) << ask[0];
    EXPECT_EQ(0u, out.find("usage:\n  qimbo-server serve [--listen ADDR]")) << out;
    EXPECT_NE(std::string::npos, out.find("  qimbo-server user list [--db DB]\n")) << out;
  }
  EXPECT_EQ(0, RunCapture({QIMBO_SERVER_EXE, "--version"}, scratch, out, 5000));
  EXPECT_EQ(std::string("qimbo-server ") + QIMBO_VERSION + "\n", out);  // the project's one version
  // A database that cannot be opened: exit code 1 with the reason, for each command.
  std::string nowhere = os::NativePath(dir / "no") + "/such.db";
  for (std::vector<std::string> w :
       std::vector<std::vector<std::string>>{{"user", "list"}, {"db", "migrate"}, {"serve", "--listen", "127.0.0.1"}}) {
    std::vector<std::string> args = {QIMBO_SERVER_EXE};
    args.insert(args.end(), w.begin(), w.end());
    args.insert(args.end(), {"--db", nowhere});
    EXPECT_EQ(1, RunCapture(args, scratch, out, 5000)) << w[0];
    EXPECT_EQ("qimbo-server: cannot open the database: cannot open " + nowhere + "\n", out);
  }
  EXPECT_EQ(2, RunCapture({QIMBO_SERVER_EXE}, scratch, out, 5000));
  EXPECT_EQ(0u, out.find("qimbo-server: no command given\nusage:\n")) << out;
}

// A server started with its standard input closed gets descriptor 0 for its
// first port, which is opened, answers through and is closed like the others.
TEST(ServerPorts, APortOnDescriptorZeroOpensAndSends) {
  int receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ASSERT_EQ(0, bind(receiver, (struct sockaddr*)&sa, sizeof sa));
  ASSERT_EQ(0, getsockname(receiver, (struct sockaddr*)&sa, &len));
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  bool opened = false, onZero = false;
  std::string error;
  std::mt19937 pick((unsigned)getpid());
  {
    std::unique_ptr<qsrv::CUdpPorts> ports;
    qsrv::LoopConfig config;
    config.listen = "127.0.0.1";
    config.clientPortBase = ntohs(sa.sin_port);
    // Five free ports in a row: a few tries in the high range.
    for (int tries = 0; tries < 20 && !opened; ++tries) {
      ports.reset(new qsrv::CUdpPorts);
      close(0);
      config.serverPortBase = 20000 + (int)(pick() % 8000) * 5;
      opened = ports->Open(config, error);
      onZero = fcntl(0, F_GETFD) != -1;
    }
    if (opened) ports->SendDatagram(htonl(INADDR_LOOPBACK), 0, "zero");
  }
  bool zeroClosed = fcntl(0, F_GETFD) == -1;
  dup2(saved, 0);
  close(saved);
  ASSERT_TRUE(opened) << error;
  EXPECT_TRUE(onZero);
  EXPECT_TRUE(zeroClosed) << "the port on descriptor 0 is closed with the others";
  char buf[8] = {};
  struct timeval wait = {5, 0};
  setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  EXPECT_EQ(4, recv(receiver, buf, sizeof buf, 0));
  EXPECT_EQ("zero", std::string(buf, 4));
  close(receiver);
}

// Without a descriptor to spare the ports are not opened, and the reason is given.
TEST(ServerPorts, NoDescriptorLeftForASocketIsReported) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own checks need descriptors of their own";
#endif
  struct rlimit old, low;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &old));
  int lowest = open("/dev/null", O_RDONLY);  // the lowest free descriptor
  ASSERT_GE(lowest, 0);
  close(lowest);
  low = old;
  low.rlim_cur = (rlim_t)lowest;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &low));
  std::string error;
  bool opened;
  {
    qsrv::CUdpPorts ports;
    qsrv::LoopConfig config;
    config.listen = "127.0.0.1";
    opened = ports.Open(config, error);
  }
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &old));
  EXPECT_FALSE(opened);
  EXPECT_EQ("socket: Too many open files", error);
}

// The command-line tool runs the program's network code without windows.
TEST_F(EndToEnd, TheToolLogsInHearsItsLeaveWordsUploadsAndDownloads) {
  std::string jsonl;
  for (int c = 0; c < 44; ++c) {
    jsonl += "{\"name\":\"cat " + std::to_string(c) + "\",\"kind\":0,\"slot\":" + std::to_string(c) + "}\n";
    for (int i = 0; i < 29; ++i)
      jsonl += "{\"name\":\"\xE7\xAB\x99 " + std::to_string(i) + "\",\"kind\":1,\"address\":\"http://s" +
               std::to_string(c) + ".example.com/" + std::to_string(i) + "\",\"parent\":\"cat " + std::to_string(c) +
               "\",\"icon\":\"images\\\\icon\\\\" + std::to_string(i) + ".ico\",\"note\":\"n\",\"visits\":" +
               std::to_string(i) + ",\"slot\":" + std::to_string(i) + "}\n";
  }
  std::string in = os::NativePath(dir / "in.jsonl"), up = os::NativePath(dir / "up.sc"),
              down = os::NativePath(dir / "down.sc"), scratch = os::NativePath(dir / "out.txt"), out;
  WriteFileBytes(dir / "in.jsonl", jsonl);
  ASSERT_EQ(0, RunCapture({QIMBO_TOOL_EXE, "fav", "make", in, up}, scratch, out)) << out;
  auto net = [&](std::vector<std::string> words, unsigned last, const std::string& pw) {
    std::vector<std::string> args = {QIMBO_TOOL_EXE, "net"};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<std::string> rest = {"--server", "127.0.0.1", "--user", "100", "--password", pw, "--bind",
                                     "127.0.0." + std::to_string(last), "--port-base",
                                     std::to_string(server.Ports().client), "--server-port-base",
                                     std::to_string(server.Ports().server), "--timeout", "20"};
    args.insert(args.end(), rest.begin(), rest.end());
    return RunCapture(args, scratch, out);
  };
  EXPECT_EQ(1, net({"login"}, 10, "wrong")) << out;

  auto b = Client(3);
  Login(*b, 200, "pw200");
  b->Request(0, qb::MsgLeaveWord(200, 100, qb::EscapeChatText("call me <soon>")));
  Probe(*b, 200, "pw200");
  ASSERT_EQ(0, net({"login"}, 10, "secret")) << out;
  // Shown as the header with the sender, then the words.
  EXPECT_NE(std::string::npos, out.find("{\"from\":200,\"text\":\"\\r\\nlisi(200)")) << out;
  EXPECT_NE(std::string::npos, out.find("\\r\\ncall me <soon>\"}")) << out;

  ASSERT_EQ(0, net({"upload", up}, 10, "secret")) << out;
  ASSERT_EQ(0, net({"download", down}, 11, "secret")) << out;
  std::string upDump, downDump;
  ASSERT_EQ(0, RunCapture({QIMBO_TOOL_EXE, "fav", "dump", up}, scratch, upDump));
  ASSERT_EQ(0, RunCapture({QIMBO_TOOL_EXE, "fav", "dump", down}, scratch, downDump));
  // The last-visit time does not travel; everything else comes back.
  std::regex time("\"time\":[0-9]+,");
  upDump = std::regex_replace(upDump, time, "");
  downDump = std::regex_replace(downDump, time, "");
  EXPECT_EQ(1320u, (size_t)std::count(upDump.begin(), upDump.end(), '\n'));
  EXPECT_EQ(upDump, downDump);
}

}  // namespace

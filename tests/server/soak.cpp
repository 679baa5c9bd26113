// server_soak: the real qimbo-server under a hostile mix on loopback for a set
// time, while a regular user at 127.0.0.2 logs in, uploads a 1,320-node tree
// and downloads it again, over and over. Reports that user's times and the
// server's peak memory. Run by "make soak"; not part of the test suites.
//
// The mix, each paced to its rate and ended with the run:
//   - wrong-password logins for one user from 3,000 addresses (127.1.x.y);
//   - password guesses through another user's live session at 127.3.0.1;
//   - junk from 200 addresses (127.4.x.y): random bytes, well-formed
//     messages with huge and negative fields, transfer messages without a login;
//   - leave-word floods from 20 accounts (127.5.0.x) at the regular user;
//   - stalled uploads from 64 accounts (127.6.0.x): large nodes, then silence.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "os/os.h"
#include "password.h"
#include "server_cli.h"
#include "storage.h"
#include "test_client.h"
#include "testutil.h"

using namespace qbtest;

namespace {

using Clock = std::chrono::steady_clock;

struct SoakConfig {
  int seconds = 60;
  int loginRate = 1300;  // wrong-password logins a second
  int junkRate = 2000;   // junk datagrams a second
  int guessRate = 50;    // guesses through the session a second
  int wordsRate = 200;   // leave-words a second
  int nodeRate = 200;    // stalled-upload nodes a second
  std::string server;    // another qimbo-server program to run (to compare builds)
};

const int32_t kRegular = 100, kVictim = 500, kShared = 700;
const int kWordSenders = 20, kStallers = 64;
const int32_t kFirstSender = 600, kFirstStaller = 800;
const char kPassword[] = "pw-regular1";

double Seconds(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Sleeps so that `done` things took at least done / rate seconds since `start`.
void Pace(Clock::time_point start, long done, int rate) {
  double due = (double)done / rate;
  double now = Seconds(start);
  if (due > now) std::this_thread::sleep_for(std::chrono::duration<double>(due - now));
}

// A datagram to the server from `from`, through a socket made for it.
class CRawSender {
 public:
  explicit CRawSender(const ServerPorts& ports) : m_ports(ports) {}
  bool Send(uint32_t from, int k, const std::string& bytes) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = from;
    bool ok = bind(fd, (struct sockaddr*)&sa, sizeof sa) == 0;
    sa.sin_addr.s_addr = qb::MakeAddress(127, 0, 0, 1);
    sa.sin_port = htons((uint16_t)(m_ports.server + k));
    ok = ok && sendto(fd, bytes.data(), bytes.size(), 0, (struct sockaddr*)&sa, sizeof sa) > 0;
    close(fd);
    return ok;
  }

 private:
  ServerPorts m_ports;
};

struct Counts {
  std::atomic<long> logins{0}, guesses{0}, junk{0}, words{0}, nodes{0};
};

class CSoak {
 public:
  CSoak(const SoakConfig& config) : m_config(config) {}
  int Run();

 private:
  bool MakeUsers();
  void LoginFlood();
  void Guessing();
  void Junk();
  void WordFlood();
  void StalledUploads();
  bool Login(CTestClient& c, int32_t user, const std::string& pw, int limitMs = 10000);
  // For the attackers' own accounts: again and again until it works or the run ends.
  bool LoginPersistently(CTestClient& c, int32_t user, const std::string& pw);
  bool Upload(CTestClient& c);
  bool Download(CTestClient& c);
  void Report(const std::vector<double>& login, const std::vector<double>& up, const std::vector<double>& down,
              int failures);
  bool Running() const { return !m_stop && Seconds(m_start) < m_config.seconds; }

  SoakConfig m_config;
  TempDir m_dir;
  std::string m_db;
  CServerProcess m_server;
  Clock::time_point m_start;
  std::atomic<bool> m_stop{false};
  Counts m_counts;
  std::vector<qb::NodeWire> m_tree;
};

bool CSoak::MakeUsers() {
  std::string error;
  std::unique_ptr<qsrv::IStorage> storage = qsrv::OpenSqliteStorage(m_db, error);
  if (!storage) return false;
  auto add = [&](int32_t number, const std::string& pw, qsrv::HashCost cost) {
    qsrv::UserRecord u;
    u.number = number;
    u.nickname = "u" + std::to_string(number);
    return qsrv::HashPassword(pw, u.hash, cost) && storage->AddUser(u);
  };
  // The accounts that matter have real hashes, as a real server's do.
  bool ok = add(kRegular, kPassword, qsrv::HashCost::Interactive) &&
            add(kVictim, "victim-pw", qsrv::HashCost::Interactive) &&
            add(kShared, "shared-pw", qsrv::HashCost::Interactive);
  for (int i = 0; ok && i < kWordSenders; ++i) ok = add(kFirstSender + i, "sender", qsrv::HashCost::Minimum);
  for (int i = 0; ok && i < kStallers; ++i) ok = add(kFirstStaller + i, "staller", qsrv::HashCost::Minimum);
  return ok;
}

void CSoak::LoginFlood() {
  CRawSender raw(m_server.Ports());
  Clock::time_point start = Clock::now();
  for (long i = 0; Running(); ++i) {
    int a = (int)(i % 3000);
    uint32_t from = qb::MakeAddress(127, 1, (uint8_t)(a / 250), (uint8_t)(1 + a % 250));
    raw.Send(from, (int)(i % 5), qb::FrameMessage((int32_t)i, qb::MsgLogin(kVictim, "guess" + std::to_string(i))) + '\0');
    ++m_counts.logins;
    Pace(start, i + 1, m_config.loginRate);
  }
}

void CSoak::Guessing() {
  // The session's owner logs in; a second program at the same address guesses.
  CTestClient owner(qb::MakeAddress(127, 3, 0, 1), m_server.Ports());
  if (!owner.Ok() || !LoginPersistently(owner, kShared, "shared-pw")) return;
  Clock::time_point start = Clock::now();
  for (long i = 0; Running(); ++i) {
    owner.Request((int)(i % 5), qb::MsgFavDownReq(kShared, "guess" + std::to_string(i)));
    ++m_counts.guesses;
    if (i % 100 == 0) owner.Backlog();
    Pace(start, i + 1, m_config.guessRate);
  }
}

void CSoak::Junk() {
  CRawSender raw(m_server.Ports());
  std::mt19937 rng(19);
  const std::string node = qb::MsgFavUpNode(m_tree[3]);
  Clock::time_point start = Clock::now();
  for (long i = 0; Running(); ++i) {
    int a = (int)(i % 200);
    uint32_t from = qb::MakeAddress(127, 4, (uint8_t)(a / 100), (uint8_t)(1 + a % 100));
    std::string d;
    switch (rng() % 6) {
      case 0:
        for (size_t j = 0, n = rng() % 1400; j < n; ++j) d.push_back((char)(rng() & 255));
        break;
      case 1:
        d = qb::FrameMessage((int32_t)rng(), qb::MsgFavUpCount((int32_t)rng(), (int32_t)rng(), "x")) + '\0';
        break;
      case 2:
        d = qb::FrameMessage(-1, qb::MsgKeepAlive((int32_t)(rng() % 1000), "pw" + std::to_string(rng()))) + '\0';
        break;
      case 3: d = qb::FrameMessage((int32_t)i, node) + '\0'; break;
      case 4: d = qb::FrameMessage(INT32_MAX, qb::MsgLeaveWord(kRegular, kRegular, "junk")) + '\0'; break;
      default: d = "<99999999999999><GROUP><UPNODE><-5><" + std::string(rng() % 600, 'k') + "><0><";
    }
    raw.Send(from, (int)(rng() % 5), d);
    ++m_counts.junk;
    Pace(start, i + 1, m_config.junkRate);
  }
}

void CSoak::WordFlood() {
  std::vector<std::unique_ptr<CTestClient>> senders;
  for (int i = 0; i < kWordSenders; ++i) {
    senders.emplace_back(new CTestClient(qb::MakeAddress(127, 5, 0, (uint8_t)(1 + i)), m_server.Ports()));
    if (!senders.back()->Ok() || !LoginPersistently(*senders.back(), kFirstSender + i, "sender")) return;
  }
  Clock::time_point start = Clock::now();
  for (long i = 0; Running(); ++i) {
    CTestClient& c = *senders[i % kWordSenders];
    c.Request(0, qb::MsgLeaveWord(kFirstSender + (int32_t)(i % kWordSenders), kRegular, "flood " + std::to_string(i)));
    ++m_counts.words;
    if (i % 1000 == 0)
      for (auto& s : senders) s->Backlog();
    Pace(start, i + 1, m_config.wordsRate);
  }
}

void CSoak::StalledUploads() {
  std::vector<std::unique_ptr<CTestClient>> stallers;
  for (int i = 0; i < kStallers; ++i) {
    stallers.emplace_back(new CTestClient(qb::MakeAddress(127, 6, 0, (uint8_t)(1 + i)), m_server.Ports()));
    if (!stallers.back()->Ok() || !LoginPersistently(*stallers.back(), kFirstStaller + i, "staller")) return;
  }
  // Nodes as large as a datagram allows; a staller sends 40 (2.4 MB), then falls silent.
  qb::NodeWire big = m_tree[5];
  big.note = std::string(60000, 'n');
  const std::string node = qb::MsgFavUpNode(big);
  Clock::time_point start = Clock::now();
  long sent = 0;
  for (int round = 0; Running(); ++round) {
    for (int i = 0; i < kStallers && Running(); ++i) {
      CTestClient& c = *stallers[i];
      c.Backlog();
      c.Request(0, qb::MsgFavUpCount(20000, kFirstStaller + i, "staller"));
      for (int j = 0; j < 40 && Running(); ++j) {
        c.Request(0, node);
        ++m_counts.nodes;
        Pace(start, ++sent, m_config.nodeRate);
      }
    }
  }
}

bool CSoak::Login(CTestClient& c, int32_t user, const std::string& pw, int limitMs) {
  int32_t n = c.Request(0, qb::MsgLogin(user, pw));
  Received r;
  return c.WaitFor([&](const Received& m) { return m.type == "LGI" && m.n == n; }, r, limitMs) && r.f.size() == 2 &&
         r.f[0] == "OK";
}

bool CSoak::LoginPersistently(CTestClient& c, int32_t user, const std::string& pw) {
  while (Running()) {
    if (Login(c, user, pw, 2000)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

bool CSoak::Upload(CTestClient& c) {
  // Like the program: one link per second of the clock.
  auto link = [] { return (int)(time(nullptr) % 5); };
  int32_t n = c.Request(link(), qb::MsgFavUpCount((int32_t)m_tree.size(), kRegular, kPassword));
  Received r;
  auto answer = [&](const Received& m) { return m.type == "FAV" && m.n == n; };
  if (!c.WaitFor(answer, r, 6100) || r.f.size() != 2 || r.f[1] != "ALLOWED") return false;
  for (const qb::NodeWire& node : m_tree) {
    n = c.Request(link(), qb::MsgFavUpNode(node));
    if (!c.WaitFor(answer, r, 6100) || r.f.size() < 3 || r.f[2] != "OK") return false;
  }
  return true;
}

bool CSoak::Download(CTestClient& c) {
  int32_t n = c.Request((int)(time(nullptr) % 5), qb::MsgFavDownReq(kRegular, kPassword));
  Received r;
  if (!c.WaitFor([&](const Received& m) { return m.type == "FAV" && (m.n == n || (m.f.size() > 1 && m.f[1] == "COUNT")); },
                 r, 6100) ||
      r.f.size() < 3 || r.f[1] != "COUNT")
    return false;
  int32_t total = qb::ReadNumber(r.f[2]), last = r.n;
  c.Reply(0, last, qb::MsgFavDownReady());
  for (int32_t i = 0; i < total; ++i) {
    if (!c.WaitFor([&](const Received& m) { return m.type == "FAV" && m.f.size() > 2 && m.f[1] == "NODE" && m.n == last + 1; },
                   r, 6100))
      return false;
    last = r.n;
    c.Reply(0, last, qb::MsgFavDownNodeOk());
  }
  return total == (int32_t)m_tree.size();
}

std::string Figures(std::vector<double> v) {
  if (v.empty()) return "none";
  std::sort(v.begin(), v.end());
  char buf[128];
  snprintf(buf, sizeof buf, "%3zu done, min %6.3f s, median %6.3f s, max %6.3f s", v.size(), v.front(),
           v[v.size() / 2], v.back());
  return buf;
}

long StatusKb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, strlen(field), field) == 0) return atol(line.c_str() + strlen(field) + 1);
  return -1;
}

void CSoak::Report(const std::vector<double>& login, const std::vector<double>& up, const std::vector<double>& down,
                   int failures) {
  printf("qimbo-server soak: %d s of hostile traffic on loopback\n", m_config.seconds);
  printf("  sent: %ld wrong logins from 3000 addresses, %ld guesses through a session, %ld junk datagrams\n"
         "        from 200 addresses, %ld leave-words from %d accounts, %ld stalled-upload nodes of 60 KB from %d accounts\n",
         m_counts.logins.load(), m_counts.guesses.load(), m_counts.junk.load(), m_counts.words.load(), kWordSenders,
         m_counts.nodes.load(), kStallers);
  printf("  regular user at 127.0.0.2 meanwhile (%d operations failed):\n", failures);
  printf("    login:    %s\n", Figures(login).c_str());
  printf("    upload:   %s (1320 nodes)\n", Figures(up).c_str());
  printf("    download: %s (1320 nodes)\n", Figures(down).c_str());
}

int CSoak::Run() {
  m_db = os::NativePath(m_dir / "soak.db");
  m_tree = qsrv::MakeSampleTree(1320);
  if (!qsrv::InitPasswords() || !MakeUsers()) {
    fprintf(stderr, "server_soak: cannot make the users\n");
    return 1;
  }
  if (!m_config.server.empty()) m_server.SetExecutable(m_config.server);
  if (!m_server.Start(m_db)) {
    fprintf(stderr, "server_soak: the server does not start:\n%s", m_server.Log().c_str());
    return 1;
  }
  CTestClient regular(qb::MakeAddress(127, 0, 0, 2), m_server.Ports());
  // The regular user has logged in from his address before the storm.
  if (!regular.Ok() || !Login(regular, kRegular, kPassword)) {
    fprintf(stderr, "server_soak: the regular user cannot log in\n");
    return 1;
  }
  m_start = Clock::now();
  std::vector<std::thread> hostile;
  hostile.emplace_back(&CSoak::LoginFlood, this);
  hostile.emplace_back(&CSoak::Guessing, this);
  hostile.emplace_back(&CSoak::Junk, this);
  hostile.emplace_back(&CSoak::WordFlood, this);
  hostile.emplace_back(&CSoak::StalledUploads, this);
  std::this_thread::sleep_for(std::chrono::seconds(std::min(3, m_config.seconds / 4)));
  std::vector<double> login, up, down;
  int failures = 0;
  while (Running()) {
    regular.Backlog();
    Clock::time_point t = Clock::now();
    if (Login(regular, kRegular, kPassword)) login.push_back(Seconds(t));
    else ++failures;
    t = Clock::now();
    if (Upload(regular)) up.push_back(Seconds(t));
    else ++failures;
    regular.Backlog();
    t = Clock::now();
    if (Download(regular)) down.push_back(Seconds(t));
    else ++failures;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  m_stop = true;
  for (std::thread& t : hostile) t.join();
  long hwm = StatusKb(m_server.Pid(), "VmHWM:"), rss = StatusKb(m_server.Pid(), "VmRSS:");
  int rc = m_server.Stop();
  std::string log = m_server.Log();
  Report(login, up, down, failures);
  printf("  server: peak resident memory (VmHWM) %.1f MB, resident at the end %.1f MB, exit status %d\n",
         hwm / 1024.0, rss / 1024.0, rc);
  printf("  server log: %zu lines, %zu bytes; its last line:\n", (size_t)std::count(log.begin(), log.end(), '\n'),
         log.size());
  size_t last = log.rfind("qimbo-server: stopped");
  printf("    %s", last == std::string::npos ? "(none)\n" : log.substr(last).c_str());
  if (getenv("QIMBO_SOAK_LOG")) printf("%s", log.c_str());
  return rc == 0 && failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  SoakConfig config;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--server" && i + 1 < argc) {
      config.server = argv[++i];
      continue;
    }
    int* target = a == "--seconds" ? &config.seconds
                  : a == "--login-rate" ? &config.loginRate
                  : a == "--junk-rate" ? &config.junkRate
                  : a == "--guess-rate" ? &config.guessRate
                  : a == "--words-rate" ? &config.wordsRate
                  : a == "--node-rate" ? &config.nodeRate
                                       : nullptr;
    if (!target || i + 1 >= argc || atoi(argv[i + 1]) < 1 || atoi(argv[i + 1]) > 100000) {
      fprintf(stderr,
              "usage: server_soak [--seconds N] [--login-rate N] [--junk-rate N] [--guess-rate N] [--words-rate N] "
              "[--node-rate N] [--server PROGRAM]\n");
      return 2;
    }
    *target = atoi(argv[++i]);
  }
  return CSoak(config).Run();
}

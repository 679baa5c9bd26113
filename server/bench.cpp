// qimbo-server bench: many simulated programs on loopback addresses against
// a server running in this process, each figure set against a plain UDP echo
// loop measured in the same run with the same clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <functional>
#include <thread>

#include "base/cipher.h"
#include "server_cli.h"
#include "udp_loop.h"

namespace qsrv {

std::vector<qb::NodeWire> MakeSampleTree(int count) {
  // Categories of 29 items each, the shape of a full favorites file.
  std::vector<qb::NodeWire> nodes;
  std::string category;
  for (int i = 0; (int)nodes.size() < count; ++i) {
    qb::NodeWire n;
    if (i % 30 == 0) {
      category = "\xB7\xD6\xC0\xE0" + std::to_string(i / 30);  // "分类" in GBK
      n.name = category;
      n.kind = 0;
      n.slot = i / 30;
    } else {
      n.name = "site " + std::to_string(i) + " \xCD\xF8\xD5\xBE";  // "网站"
      n.kind = 1;
      n.address = "http://www.example" + std::to_string(i) + ".com/path?q=" + std::to_string(i * 7);
      n.parentName = category;
      n.iconPath = "images\\icon\\" + std::to_string(i) + ".ico";
      n.note = "note " + std::to_string(i);
      n.visits = i * 3;
      n.slot = i % 30 - 1;
      n.circle = i % 5 == 0 ? "GROUP" : "Reserved";
    }
    nodes.push_back(n);
  }
  return nodes;
}

namespace {

const int kBenchServerBase = 28080;
const int kBenchClientBase = 28030;
const int kBenchEchoPort = 28090;

uint32_t ClientAddress(int i) { return qb::MakeAddress(127, 0, 1 + i / 250, 1 + i % 250); }

struct BenchClient {
  int fd = -1;
  int32_t user = 0;
  int32_t counter = 0;
  std::string last;      // the datagram awaiting its answer
  int32_t lastNumber = 0;
  bool done = false;
  uint64_t sentAt = 0;
  size_t step = 0;
  uint32_t server = 0;   // the instance it talks to
};

int OpenClientSocket(uint32_t address, int port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int size = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons((uint16_t)port);
  if (bind(fd, (struct sockaddr*)&sa, sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void SendTo(int fd, const std::string& payload, int port, uint32_t to = qb::MakeAddress(127, 0, 0, 1)) {
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = to;
  sa.sin_port = htons((uint16_t)port);
  sendto(fd, payload.data(), payload.size(), 0, (struct sockaddr*)&sa, sizeof sa);
}

// The echo loop is on 127.0.0.1; a server is wherever the client's instance listens.
uint32_t Target(const BenchClient& c, int port) {
  return port == kBenchEchoPort || !c.server ? qb::MakeAddress(127, 0, 0, 1) : c.server;
}

// Every client sends its next datagram as soon as the previous one is
// answered. `next` gives a client's next datagram (false: that client is done);
// `answers` says whether a received text answers the awaited one (pushes of
// the server are not answers). Returns the seconds taken, or -1 when the
// exchange stalls.
double RunLockstep(std::vector<BenchClient>& clients, int port,
                   const std::function<bool(BenchClient&, std::string&)>& next,
                   const std::function<bool(BenchClient&, const std::string&)>& answers) {
  auto t0 = std::chrono::steady_clock::now();
  uint64_t start = MonotonicMs();
  size_t left = clients.size();
  for (BenchClient& c : clients) {
    c.done = !next(c, c.last);
    if (c.done) --left;
    else SendTo(c.fd, c.last, port, Target(c, port)), c.sentAt = start;
  }
  std::vector<struct pollfd> fds(clients.size());
  std::vector<char> buffer(65536);
  char* buf = buffer.data();
  while (left > 0) {
    for (size_t i = 0; i < clients.size(); ++i) fds[i] = {clients[i].fd, POLLIN, 0};
    poll(fds.data(), fds.size(), 50);
    uint64_t now = MonotonicMs();
    if (now - start > 120000) return -1;
    for (size_t i = 0; i < clients.size(); ++i) {
      BenchClient& c = clients[i];
      ssize_t n;
      while ((n = recv(c.fd, buf, buffer.size(), 0)) > 0) {
        if (c.done || !answers(c, std::string(buf, strnlen(buf, (size_t)n)))) continue;
        if (!next(c, c.last)) {
          c.done = true;
          --left;
        } else {
          SendTo(c.fd, c.last, port, Target(c, port));
          c.sentAt = now;
        }
      }
      // A datagram lost in a full buffer goes again; long enough that a
      // queue of slow password checks is not mistaken for a loss.
      if (!c.done && now - c.sentAt > 5000) {
        SendTo(c.fd, c.last, port, Target(c, port));
        c.sentAt = now;
      }
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void EchoLoop(int fd, std::atomic<bool>* stop) {
  std::vector<char> buffer(65536);
  char* buf = buffer.data();
  struct pollfd p = {fd, POLLIN, 0};
  while (!*stop) {
    if (poll(&p, 1, 50) <= 0) continue;
    struct sockaddr_in from;
    socklen_t len = sizeof from;
    ssize_t n;
    while ((n = recvfrom(fd, buf, buffer.size(), 0, (struct sockaddr*)&from, &len)) > 0) {
      sendto(fd, buf, (size_t)n, 0, (struct sockaddr*)&from, len);
      len = sizeof from;
    }
  }
}

std::string Frame(BenchClient& c, const std::string& body) {
  c.lastNumber = ++c.counter;
  return qb::FrameMessage(c.lastNumber, body) + '\0';
}

bool FieldsOf(const std::string& text, qb::FieldList& f) { return qb::SplitFields(text, f) && f.size() >= 2; }

struct BenchArgs {
  int clients = 16;
  int rounds = 64;  // 1,024 logins with 16 clients: a tenth of a second, long enough that a stray
                    // moment of the machine does not make the figure
  int runs = 15;    // each figure is the median of this many runs (with 7, two runs of the bench
                    // gave PostgreSQL's ratios a tenth apart)
  bool realHash = false;
  std::string pg;  // a PostgreSQL database for the runs on it
};

// 0 when the words are understood; otherwise the exit status (2).
int ParseBenchArgs(int argc, char** argv, BenchArgs& out) {
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--clients" && i + 1 < argc) out.clients = atoi(argv[++i]);
    else if (a == "--rounds" && i + 1 < argc) out.rounds = atoi(argv[++i]);
    else if (a == "--runs" && i + 1 < argc) out.runs = atoi(argv[++i]);
    else if (a == "--real-hash") out.realHash = true;
    else if (a == "--db" && i + 1 < argc && IsPgUrl(argv[i + 1])) out.pg = argv[++i];
    else {
      fprintf(stderr,
              "usage: qimbo-server bench [--clients N] [--rounds N] [--runs N] [--real-hash] [--db postgresql://...]\n");
      return 2;
    }
  }
  if (out.clients < 1 || out.clients > 1000 || out.rounds < 1 || out.runs < 1) {
    fprintf(stderr, "qimbo-server bench: 1 to 1000 clients, at least one round and one run\n");
    return 2;
  }
  return 0;
}

const char kBenchPassword[] = "pw123456";
const int kBatch = 8;  // keep-alives per answered probe
const int kTreeNodes = 1320;

// The figures of one run; -1 where an exchange stalled.
struct Figures {
  double logins = -1, loginsEcho = -1;  // per second
  double lives = -1, livesEcho = -1;    // per second
  double upload = -1, uploadEcho = -1;  // seconds
  double loginTrips = 0, uploadTrips = 0;  // database round trips per login, per stored tree
  double loginWaits = 0;                   // ... per login, of them on the protocol thread
  bool Complete() const {
    return logins >= 0 && loginsEcho >= 0 && lives >= 0 && livesEcho >= 0 && upload >= 0 && uploadEcho >= 0;
  }
};

// One run: a server on its own thread, an echo loop on another, the clients.
class CBenchRun {
 public:
  // `pg` empty: a SQLite file of its own. `instances`: 1, or 2 sharing `pg`,
  // the second on 127.0.0.2 with every other client.
  CBenchRun(const BenchArgs& args, const std::string& pg, int instances)
      : m_args(args), m_pg(pg), m_instances(instances) {}
  ~CBenchRun();
  bool Start();
  // Each phase sets its server figure and its echo figure (seconds, -1 when stalled).
  void Logins();
  void KeepAlives();
  void Uploads();
  Figures Result() const;

 private:
  // A look-up or write thread over a link of its own, as qimbo-server serve makes them.
  template <typename T>
  std::unique_ptr<T> OpenLink(const PgOptions& po, std::string& error) {
    PgOptions link = po;
    link.listen = false;
    std::unique_ptr<IStorage> s = OpenPgStorage(m_pg, link, false, error);
    if (!s) fprintf(stderr, "qimbo-server bench: %s\n", error.c_str());
    return s ? std::unique_ptr<T>(new T(std::move(s))) : nullptr;
  }
  bool FillUsers();
  void ResetSteps();
  double EchoRounds(size_t perClient, const std::string& payload);
  static bool AnswersFav(BenchClient& c, const std::string& text) {
    qb::FieldList f;
    return FieldsOf(text, f) && f[1] == "FAV" && qb::ReadNumber(f[0]) == c.lastNumber;
  }

  BenchArgs m_args;
  std::string m_pg;
  int m_instances = 1;
  std::unique_ptr<IStorage> m_storage2;
  CUdpPorts m_ports2;
  std::unique_ptr<CServer> m_server2;
  std::thread m_serverThread2;
  char m_dir[32] = "/tmp/qimbo-bench-XXXXXX";
  bool m_haveDir = false;
  std::string m_dbPath;
  std::unique_ptr<IStorage> m_storage;
  CUdpPorts m_ports;
  std::unique_ptr<CPasswordPool> m_pool;
  std::unique_ptr<CLookupThread> m_lookups, m_lookups2;  // on PostgreSQL
  std::unique_ptr<CWriteThread> m_writes, m_writes2;
  std::unique_ptr<CServer> m_server;
  std::atomic<bool> m_stopServer{false}, m_stopEcho{false};
  std::thread m_serverThread, m_echoThread;
  int m_echoFd = -1;
  std::vector<BenchClient> m_clients;
  std::vector<qb::NodeWire> m_tree;
  double m_login = -1, m_loginEcho = -1, m_live = -1, m_liveEcho = -1, m_upload = -1, m_uploadEcho = -1;
  uint64_t m_loginTrips = 0, m_uploadTrips = 0, m_loginWaits = 0;
  // Those the protocol threads wait for.
  uint64_t Waits() const { return m_storage->RoundTrips() + (m_storage2 ? m_storage2->RoundTrips() : 0); }
  uint64_t RoundTrips() const {
    uint64_t n = Waits();
    for (const CDatabaseThread* t : {(const CDatabaseThread*)m_lookups.get(), (const CDatabaseThread*)m_lookups2.get(),
                                     (const CDatabaseThread*)m_writes.get(), (const CDatabaseThread*)m_writes2.get()})
      n += t ? t->RoundTrips() : 0;
    return n;
  }
};

bool CBenchRun::FillUsers() {
  for (int i = 0; i < m_args.clients; ++i) {
    UserRecord u;
    u.number = 10000 + i;
    m_storage->DeleteUser(u.number);  // left by an earlier run on the same database
    u.nickname = "bench" + std::to_string(i);
    if (!HashPassword(kBenchPassword, u.hash, m_args.realHash ? HashCost::Interactive : HashCost::Minimum) ||
        !m_storage->AddUser(u))
      return false;
  }
  return true;
}

bool CBenchRun::Start() {
  if (!mkdtemp(m_dir)) return false;
  m_haveDir = true;
  m_dbPath = std::string(m_dir) + "/bench.db";
  std::string error;
  PgOptions po;
  po.listen = true;
  po.instance = "bench-a";
  m_storage = m_pg.empty() ? OpenSqliteStorage(m_dbPath, error) : OpenPgStorage(m_pg, po, true, error);
  if (!m_storage || !FillUsers()) {
    fprintf(stderr, "qimbo-server bench: %s\n", m_storage ? "cannot add the users" : error.c_str());
    return false;
  }
  LoopConfig loop;
  loop.listen = "127.0.0.1";
  loop.serverPortBase = kBenchServerBase;
  loop.clientPortBase = kBenchClientBase;
  if (!m_ports.Open(loop, error)) {
    fprintf(stderr, "qimbo-server bench: %s\n", error.c_str());
    return false;
  }
  ServerOptions opt;
  opt.log = [](const std::string&) {};
  unsigned cores = std::thread::hardware_concurrency();
  opt.maxChecksAtOnce = cores < 2 ? 1 : cores > 4 ? 4 : cores;
  m_pool.reset(new CPasswordPool((int)opt.maxChecksAtOnce));
  // As qimbo-server serve does: on PostgreSQL users are looked up over a link of their own.
  if (!m_pg.empty() && (!(m_lookups = OpenLink<CLookupThread>(po, error)) || !(m_writes = OpenLink<CWriteThread>(po, error))))
    return false;
  m_server.reset(new CServer(*m_storage, m_ports, opt, m_pool.get(), m_lookups.get(), m_writes.get()));
  m_serverThread = std::thread(
      [this] { RunLoop(*m_server, m_ports, m_stopServer, m_pool.get(), m_lookups.get(), m_writes.get()); });
  if (m_instances == 2) {
    po.instance = "bench-b";
    m_storage2 = OpenPgStorage(m_pg, po, false, error);
    loop.listen = "127.0.0.2";
    if (!m_storage2 || !m_ports2.Open(loop, error)) {
      fprintf(stderr, "qimbo-server bench: %s\n", error.c_str());
      return false;
    }
    // Its checks inline on its own thread: the two instances share the cores.
    if (!(m_lookups2 = OpenLink<CLookupThread>(po, error)) || !(m_writes2 = OpenLink<CWriteThread>(po, error)))
      return false;
    m_server2.reset(new CServer(*m_storage2, m_ports2, opt, nullptr, m_lookups2.get(), m_writes2.get()));
    m_serverThread2 = std::thread(
        [this] { RunLoop(*m_server2, m_ports2, m_stopServer, nullptr, m_lookups2.get(), m_writes2.get()); });
  }
  m_echoFd = OpenClientSocket(qb::MakeAddress(127, 0, 0, 1), kBenchEchoPort);
  if (m_echoFd >= 0) m_echoThread = std::thread(EchoLoop, m_echoFd, &m_stopEcho);
  m_clients.resize(m_args.clients);
  bool ok = m_echoFd >= 0;
  for (int i = 0; i < m_args.clients && ok; ++i) {
    m_clients[i].fd = OpenClientSocket(ClientAddress(i), kBenchClientBase);
    m_clients[i].user = 10000 + i;
    if (m_instances == 2 && i % 2) m_clients[i].server = qb::MakeAddress(127, 0, 0, 2);
    ok = m_clients[i].fd >= 0;
  }
  if (!ok) fprintf(stderr, "qimbo-server bench: cannot open the client sockets\n");
  m_tree = MakeSampleTree(kTreeNodes);
  return ok;
}

CBenchRun::~CBenchRun() {
  m_stopServer = true;
  m_stopEcho = true;
  if (m_serverThread.joinable()) m_serverThread.join();
  if (m_serverThread2.joinable()) m_serverThread2.join();
  // The next run on the database finds nobody online, as the first did.
  if (m_server) m_server->Shutdown();
  if (m_server2) m_server2->Shutdown();
  m_server2.reset();
  m_storage2.reset();
  if (m_echoThread.joinable()) m_echoThread.join();
  for (BenchClient& c : m_clients)
    if (c.fd >= 0) close(c.fd);
  if (m_echoFd >= 0) close(m_echoFd);
  m_server.reset();
  m_pool.reset();
  m_storage.reset();
  if (!m_haveDir) return;
  unlink(m_dbPath.c_str());
  unlink((m_dbPath + "-wal").c_str());
  unlink((m_dbPath + "-shm").c_str());
  rmdir(m_dir);
}

void CBenchRun::ResetSteps() {
  for (BenchClient& c : m_clients) c.step = 0;
}

// The echo loop: as many exchanges, of the same sizes, as a server figure.
double CBenchRun::EchoRounds(size_t perClient, const std::string& payload) {
  ResetSteps();
  return RunLockstep(
      m_clients, kBenchEchoPort,
      [&](BenchClient& c, std::string& out) {
        if (c.step >= perClient) return false;
        ++c.step;
        out = payload;
        return true;
      },
      [](BenchClient&, const std::string&) { return true; });
}

// Every client logs in `rounds` times (the first opens the session, the
// others renew it); each costs one password hash check.
void CBenchRun::Logins() {
  ResetSteps();
  size_t rounds = (size_t)m_args.rounds;
  uint64_t trips = RoundTrips(), waits = Waits();
  m_login = RunLockstep(
      m_clients, kBenchServerBase,
      [&](BenchClient& c, std::string& out) {
        if (c.step >= rounds) return false;
        ++c.step;
        out = Frame(c, qb::MsgLogin(c.user, kBenchPassword));
        return true;
      },
      [](BenchClient& c, const std::string& text) {
        qb::FieldList f;
        return FieldsOf(text, f) && f[1] == "LGI" && qb::ReadNumber(f[0]) == c.lastNumber;
      });
  m_loginTrips = RoundTrips() - trips;
  m_loginWaits = Waits() - waits;
  m_loginEcho = EchoRounds(rounds, qb::FrameMessage(1, qb::MsgLogin(10000, kBenchPassword)) + '\0');
}

// Batches of LIV closed by a download request, whose answer (BLANK: nothing
// stored yet) proves the batch was handled.
void CBenchRun::KeepAlives() {
  ResetSteps();
  size_t probes = (size_t)m_args.rounds * 4;
  m_live = RunLockstep(
      m_clients, kBenchServerBase,
      [&](BenchClient& c, std::string& out) {
        if (c.step >= probes) return false;
        ++c.step;
        for (int i = 0; i < kBatch; ++i)
          SendTo(c.fd, Frame(c, qb::MsgKeepAlive(c.user, kBenchPassword)), kBenchServerBase,
                 Target(c, kBenchServerBase));  // to its own instance, as the probe
        out = Frame(c, qb::MsgFavDownReq(c.user, kBenchPassword));
        return true;
      },
      AnswersFav);
  m_liveEcho = EchoRounds(probes * (kBatch + 1), qb::FrameMessage(1, qb::MsgLogin(10000, kBenchPassword)) + '\0');
}

// Every client stores a 1,320-node tree at the same time.
void CBenchRun::Uploads() {
  ResetSteps();
  uint64_t trips = RoundTrips();
  m_upload = RunLockstep(
      m_clients, kBenchServerBase,
      [&](BenchClient& c, std::string& out) {
        if (c.step > m_tree.size()) return false;
        out = c.step == 0 ? Frame(c, qb::MsgFavUpCount((int32_t)m_tree.size(), c.user, kBenchPassword))
                          : Frame(c, qb::MsgFavUpNode(m_tree[c.step - 1]));
        ++c.step;
        return true;
      },
      AnswersFav);
  m_uploadTrips = RoundTrips() - trips;
  m_uploadEcho = EchoRounds(m_tree.size() + 1, qb::FrameMessage(1, qb::MsgFavUpNode(m_tree[5])) + '\0');
}

Figures CBenchRun::Result() const {
  Figures r;
  double n = (double)m_args.clients * m_args.rounds;
  if (m_login > 0) r.logins = n / m_login;
  if (m_loginEcho > 0) r.loginsEcho = n / m_loginEcho;
  if (m_live > 0) r.lives = n * 4.0 * kBatch / m_live;
  if (m_liveEcho > 0) r.livesEcho = n * 4.0 * (kBatch + 1) / m_liveEcho;
  r.upload = m_upload;
  r.uploadEcho = m_uploadEcho;
  r.loginTrips = (double)m_loginTrips / n;
  r.loginWaits = (double)m_loginWaits / n;
  r.uploadTrips = (double)m_uploadTrips / m_args.clients;
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t h = v.size() / 2;
  return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

// One column of figures over the runs.
template <typename F>
std::vector<double> Column(const std::vector<Figures>& runs, F of) {
  std::vector<double> v;
  for (const Figures& f : runs) v.push_back(of(f));
  return v;
}

const char* const kSetups[] = {"SQLite, one instance", "PostgreSQL, one instance",
                               "PostgreSQL, two instances (every other client)"};

void PrintRun(int run, const std::vector<Figures>& now) {
  printf("run %d: logins/s %7.0f", run, now[0].logins);
  for (size_t k = 1; k < now.size(); ++k) printf("  %7.0f (%.2fx)", now[k].logins, now[k].logins / now[0].logins);
  printf("   upload s %.3f", now[0].upload);
  for (size_t k = 1; k < now.size(); ++k) printf("  %.3f (%.2fx)", now[k].upload, now[k].upload / now[0].upload);
  printf("\n");
  fflush(stdout);
}

// The medians of each set-up, and on PostgreSQL the medians of the ratios
// to SQLite of the same run (the runs of one round follow each other, so
// what else the machine does weighs on both alike).
void PrintMedians(const BenchArgs& args, const std::vector<std::vector<Figures>>& bySetup) {
  const std::vector<Figures>& base = bySetup[0];
  printf("median of %zu runs; %d clients on 127.0.1.x, %d logins each, %s password hashes:\n", base.size(),
         args.clients, args.rounds, args.realHash ? "interactive" : "minimum-cost");
  for (size_t k = 0; k < bySetup.size(); ++k) {
    const std::vector<Figures>& runs = bySetup[k];
    double logins = Median(Column(runs, [](const Figures& f) { return f.logins; }));
    double lives = Median(Column(runs, [](const Figures& f) { return f.lives; }));
    double upload = Median(Column(runs, [](const Figures& f) { return f.upload; }));
    printf("%s\n", kSetups[k]);
    printf("  logins:      %10.0f /s   echo %10.0f round trips/s   ratio %.3f\n", logins,
           Median(Column(runs, [](const Figures& f) { return f.loginsEcho; })),
           Median(Column(runs, [](const Figures& f) { return f.logins / f.loginsEcho; })));
    printf("  keep-alives: %10.0f /s   echo %10.0f datagrams/s     ratio %.3f\n", lives,
           Median(Column(runs, [](const Figures& f) { return f.livesEcho; })),
           Median(Column(runs, [](const Figures& f) { return f.lives / f.livesEcho; })));
    printf("  upload of %d nodes by %d clients at once: %.3f s   echo %.3f s   ratio %.2f\n", kTreeNodes, args.clients,
           upload,
           Median(Column(runs, [](const Figures& f) { return f.uploadEcho; })),
           Median(Column(runs, [](const Figures& f) { return f.upload / f.uploadEcho; })));
    if (k == 0) continue;
    std::vector<double> loginRatio, uploadRatio;
    for (size_t i = 0; i < runs.size(); ++i) {
      loginRatio.push_back(runs[i].logins / base[i].logins);
      uploadRatio.push_back(runs[i].upload / base[i].upload);
    }
    double lr = Median(loginRatio), ur = Median(uploadRatio);
    printf("  against SQLite in the same round: logins %.2fx (at least 0.8: %s), upload %.2fx (at most 1.5: %s)\n",
           lr, lr >= 0.8 ? "yes" : "no", ur, ur <= 1.5 ? "yes" : "no");
    printf("  database round trips: %.2f per login (%.2f waited for by the protocol thread), %.2f per stored tree\n",
           Median(Column(runs, [](const Figures& f) { return f.loginTrips; })),
           Median(Column(runs, [](const Figures& f) { return f.loginWaits; })),
           Median(Column(runs, [](const Figures& f) { return f.uploadTrips; })));
  }
}

}  // namespace

int RunBench(int argc, char** argv) {
  BenchArgs args;
  if (int rc = ParseBenchArgs(argc, argv, args)) return rc;
  // SQLite and (given a database) PostgreSQL with one and two instances,
  // one run of each per round; every other round in the reverse order, so
  // that a trend of the machine's load favours none.
  size_t setups = args.pg.empty() ? 1 : 3;
  std::vector<std::vector<Figures>> bySetup(setups);
  for (int round = 0; round < args.runs; ++round) {
    std::vector<Figures> now(setups);
    for (size_t i = 0; i < setups; ++i) {
      size_t which = round % 2 ? setups - 1 - i : i;
      CBenchRun run(args, which == 0 ? std::string() : args.pg, which == 2 ? 2 : 1);
      if (!run.Start()) return 1;
      run.Logins();
      run.KeepAlives();
      run.Uploads();
      now[which] = run.Result();
      if (!now[which].Complete()) {
        fprintf(stderr, "qimbo-server bench: an exchange stalled (%s)\n", kSetups[which]);
        return 1;
      }
    }
    PrintRun(round + 1, now);
    for (size_t k = 0; k < setups; ++k) bySetup[k].push_back(now[k]);
  }
  PrintMedians(args, bySetup);
  return 0;
}

}  // namespace qsrv

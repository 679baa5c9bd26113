// qimbo-server bench: many simulated programs on loopback addresses against
// a server running in this process, each figure set against a plain UDP echo
// loop measured in the same run with the same clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

const int kBenchServerBase = 47080;
const int kBenchClientBase = 47030;
const int kBenchEchoPort = 47090;

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

void SendTo(int fd, const std::string& payload, int port) {
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = qb::MakeAddress(127, 0, 0, 1);
  sa.sin_port = htons((uint16_t)port);
  sendto(fd, payload.data(), payload.size(), 0, (struct sockaddr*)&sa, sizeof sa);
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
    else SendTo(c.fd, c.last, port), c.sentAt = start;
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
          SendTo(c.fd, c.last, port);
          c.sentAt = now;
        }
      }
      // A datagram lost in a full buffer goes again; long enough that a
      // queue of slow password checks is not mistaken for a loss.
      if (!c.done && now - c.sentAt > 5000) {
        SendTo(c.fd, c.last, port);
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

}  // namespace

int RunBench(int argc, char** argv) {
  int clientCount = 16, rounds = 4;
  bool realHash = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--clients" && i + 1 < argc) clientCount = atoi(argv[++i]);
    else if (a == "--rounds" && i + 1 < argc) rounds = atoi(argv[++i]);
    else if (a == "--real-hash") realHash = true;
    else {
      fprintf(stderr, "usage: qimbo-server bench [--clients N] [--rounds N] [--real-hash]\n");
      return 2;
    }
  }
  if (clientCount < 1 || clientCount > 1000 || rounds < 1) {
    fprintf(stderr, "qimbo-server bench: 1 to 1000 clients, at least one round\n");
    return 2;
  }
  char dir[] = "/tmp/qimbo-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string dbPath = std::string(dir) + "/bench.db", error;
  int rc = 1;
  {
    std::unique_ptr<IStorage> storage = OpenSqliteStorage(dbPath, error);
    if (!storage) {
      fprintf(stderr, "qimbo-server bench: %s\n", error.c_str());
      return 1;
    }
    const std::string password = "pw123456";
    for (int i = 0; i < clientCount; ++i) {
      UserRecord u;
      u.number = 10000 + i;
      u.nickname = "bench" + std::to_string(i);
      HashPassword(password, u.hash, realHash ? HashCost::Interactive : HashCost::Minimum);
      storage->AddUser(u);
    }
    LoopConfig loop;
    loop.listen = "127.0.0.1";
    loop.serverPortBase = kBenchServerBase;
    loop.clientPortBase = kBenchClientBase;
    CUdpPorts ports;
    if (!ports.Open(loop, error)) {
      fprintf(stderr, "qimbo-server bench: %s\n", error.c_str());
      return 1;
    }
    ServerOptions opt;
    opt.log = [](const std::string&) {};
    unsigned cores = std::thread::hardware_concurrency();
    CPasswordPool pool(cores < 2 ? 1 : cores > 4 ? 4 : (int)cores);
    CServer server(*storage, ports, opt, &pool);
    volatile sig_atomic_t stopServer = 0;
    std::thread serverThread([&] { RunLoop(server, ports, &stopServer, &pool); });

    int echoFd = OpenClientSocket(qb::MakeAddress(127, 0, 0, 1), kBenchEchoPort);
    std::atomic<bool> stopEcho(false);
    std::thread echoThread(EchoLoop, echoFd, &stopEcho);

    std::vector<BenchClient> clients(clientCount);
    bool ok = echoFd >= 0;
    for (int i = 0; i < clientCount && ok; ++i) {
      clients[i].fd = OpenClientSocket(ClientAddress(i), kBenchClientBase);
      clients[i].user = 10000 + i;
      ok = clients[i].fd >= 0;
    }
    const std::vector<qb::NodeWire> tree = MakeSampleTree(1320);
    const int kBatch = 8;  // keep-alives per answered probe
    if (ok) {
      std::string login = qb::FrameMessage(1, qb::MsgLogin(10000, password)) + '\0';
      auto answerAny = [](BenchClient&, const std::string&) { return true; };
      // The echo loop: as many exchanges, of the same sizes, as each server figure.
      auto echoRounds = [&](size_t perClient, const std::string& payload) {
        return RunLockstep(clients, kBenchEchoPort,
                           [&](BenchClient& c, std::string& out) {
                             if (c.step >= perClient) return false;
                             ++c.step;
                             out = payload;
                             return true;
                           },
                           answerAny);
      };
      auto reset = [&] {
        for (BenchClient& c : clients) c.step = 0;
      };

      // Logins: every client logs in `rounds` times (the first opens the
      // session, the others renew it); each costs one password hash check.
      reset();
      double tLogin = RunLockstep(
          clients, kBenchServerBase,
          [&](BenchClient& c, std::string& out) {
            if (c.step >= (size_t)rounds) return false;
            ++c.step;
            out = Frame(c, qb::MsgLogin(c.user, password));
            return true;
          },
          [&](BenchClient& c, const std::string& text) {
            qb::FieldList f;
            return FieldsOf(text, f) && f[1] == "LGI" && qb::ReadNumber(f[0]) == c.lastNumber;
          });
      reset();
      double tLoginEcho = echoRounds(rounds, login);

      // Keep-alives: batches of LIV closed by a download request, whose
      // answer (BLANK: nothing stored yet) proves the batch was handled.
      reset();
      double tLive = RunLockstep(
          clients, kBenchServerBase,
          [&](BenchClient& c, std::string& out) {
            if (c.step >= (size_t)rounds * 4) return false;
            ++c.step;
            for (int i = 0; i < kBatch; ++i) SendTo(c.fd, Frame(c, qb::MsgKeepAlive(c.user, password)), kBenchServerBase);
            out = Frame(c, qb::MsgFavDownReq(c.user, password));
            return true;
          },
          [&](BenchClient& c, const std::string& text) {
            qb::FieldList f;
            return FieldsOf(text, f) && f[1] == "FAV" && qb::ReadNumber(f[0]) == c.lastNumber;
          });
      reset();
      double tLiveEcho = echoRounds((size_t)rounds * 4 * (kBatch + 1), login);

      // Uploads: every client stores a 1,320-node tree at the same time.
      reset();
      double tUpload = RunLockstep(
          clients, kBenchServerBase,
          [&](BenchClient& c, std::string& out) {
            if (c.step > tree.size()) return false;
            out = c.step == 0 ? Frame(c, qb::MsgFavUpCount((int32_t)tree.size(), c.user, password))
                              : Frame(c, qb::MsgFavUpNode(tree[c.step - 1]));
            ++c.step;
            return true;
          },
          [&](BenchClient& c, const std::string& text) {
            qb::FieldList f;
            return FieldsOf(text, f) && f[1] == "FAV" && qb::ReadNumber(f[0]) == c.lastNumber;
          });
      reset();
      std::string node = qb::FrameMessage(1, qb::MsgFavUpNode(tree[5])) + '\0';
      double tUploadEcho = echoRounds(tree.size() + 1, node);

      bool stalled = tLogin < 0 || tLoginEcho < 0 || tLive < 0 || tLiveEcho < 0 || tUpload < 0 || tUploadEcho < 0;
      if (stalled) {
        fprintf(stderr, "qimbo-server bench: an exchange stalled\n");
      } else {
        double logins = clientCount * rounds / tLogin, echoLogin = clientCount * rounds / tLoginEcho;
        double lives = clientCount * rounds * 4.0 * kBatch / tLive;
        double echoLive = clientCount * rounds * 4.0 * (kBatch + 1) / tLiveEcho;
        printf("qimbo-server bench: %d clients on 127.0.1.x, %s password hashes\n", clientCount,
               realHash ? "interactive" : "minimum-cost");
        printf("  logins:      %10.0f /s   echo %10.0f round trips/s   ratio %.3f\n", logins, echoLogin,
               logins / echoLogin);
        printf("  keep-alives: %10.0f /s   echo %10.0f datagrams/s     ratio %.3f\n", lives, echoLive,
               lives / echoLive);
        printf("  upload of %zu nodes by %d clients at once: %.3f s   echo %.3f s   ratio %.2f\n", tree.size(),
               clientCount, tUpload, tUploadEcho, tUpload / tUploadEcho);
        rc = 0;
      }
    } else {
      fprintf(stderr, "qimbo-server bench: cannot open the client sockets\n");
    }
    stopServer = 1;
    stopEcho = true;
    serverThread.join();
    echoThread.join();
    for (BenchClient& c : clients)
      if (c.fd >= 0) close(c.fd);
    if (echoFd >= 0) close(echoFd);
  }
  unlink(dbPath.c_str());
  unlink((dbPath + "-wal").c_str());
  unlink((dbPath + "-shm").c_str());
  rmdir(dir);
  return rc;
}

}  // namespace qsrv

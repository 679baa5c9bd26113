#include "test_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>
#include <fstream>
#include <sstream>
#include <thread>

namespace qbtest {
namespace {

uint64_t NowMs() {
  return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& stderrPath) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int fd = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd >= 0) {
    dup2(fd, 2);
    dup2(fd, 1);
    close(fd);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// The child's exit code, or -1 when it is still running at the limit: then
// it is killed and reaped, so no test leaves a process behind.
int WaitExit(pid_t pid, int limitMs) {
  uint64_t end = NowMs() + limitMs;
  int status = 0;
  while (NowMs() < end) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

// ---- the server process -------------------------------------------------------------

CServerProcess::~CServerProcess() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  if (!m_logPath.empty()) unlink(m_logPath.c_str());
}

bool CServerProcess::Start(const std::string& db, const std::vector<std::string>& extra) {
  // A database address is no place for a log file.
  static int started = 0;
  m_logPath = db.find("://") == std::string::npos
                  ? db + ".log"
                  : "/tmp/qimbo-server-" + std::to_string(getpid()) + "-" + std::to_string(++started) + ".log";
  // Ports away from the defaults and from other runs on the same machine.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int base = 20000 + (int)((getpid() * 7 + attempt * 1237) % 4000) * 10;
    m_ports.server = base;
    m_ports.client = base + 5;
    std::string listen = "127.0.0.1";
    if (m_listen) {
      m_ports = m_fixedPorts;
      m_ports.address = m_listen;
      listen = qb::DottedAddress(m_listen);
    }
    std::vector<std::string> args = {m_exe.empty() ? QIMBO_SERVER_EXE : m_exe, "serve", "--listen", listen, "--db", db,
                                     "--port-base", std::to_string(m_ports.server), "--client-port-base",
                                     std::to_string(m_ports.client)};
    args.insert(args.end(), extra.begin(), extra.end());
    // A log left by an earlier start would say "listening" before this one does.
    unlink(m_logPath.c_str());
    m_pid = Spawn(args, m_logPath);
    uint64_t end = NowMs() + 10000;
    while (NowMs() < end) {
      if (Log().find("listening on") != std::string::npos) return true;
      int status;
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        break;  // the ports were taken: try others
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (m_pid > 0 || m_listen) return false;
  }
  return false;
}

void CServerProcess::Kill() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGKILL);
  waitpid(m_pid, nullptr, 0);
  m_pid = -1;
}

int CServerProcess::Stop(int sig) {
  if (m_pid <= 0) return -1;
  kill(m_pid, sig);
  int rc = WaitExit(m_pid, 5000);
  m_pid = -1;
  return rc;
}

bool CServerProcess::Running() const { return m_pid > 0 && kill(m_pid, 0) == 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }

std::string CServerProcess::Log() const { return ReadAll(m_logPath); }

int RunUserCommand(const std::string& db, const std::vector<std::string>& words) {
  std::vector<std::string> args = {QIMBO_SERVER_EXE, "user"};
  args.insert(args.end(), words.begin(), words.end());
  args.push_back("--db");
  args.push_back(db);
  args.push_back("--cheap-hash");
  static int runs = 0;
  std::string out = db.find("://") == std::string::npos
                        ? db + ".user.log"
                        : "/tmp/qimbo-user-" + std::to_string(getpid()) + "-" + std::to_string(++runs) + ".log";
  pid_t pid = Spawn(args, out);
  int rc = WaitExit(pid, 10000);
  unlink(out.c_str());
  return rc;
}

int RunCapture(const std::vector<std::string>& args, const std::string& scratch, std::string& output, int limitMs) {
  pid_t pid = Spawn(args, scratch);
  int rc = WaitExit(pid, limitMs);
  output = ReadAll(scratch);
  unlink(scratch.c_str());
  return rc;
}

// ---- the client -------------------------------------------------------------------

CTestClient::CTestClient(uint32_t address, const ServerPorts& ports) : m_address(address), m_ports(ports) {
  m_ok = true;
  for (int k = 0; k < 5; ++k) {
    m_fd[k] = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int size = 4 << 20;
    setsockopt(m_fd[k], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons((uint16_t)(ports.client + k));
    if (m_fd[k] < 0 || bind(m_fd[k], (struct sockaddr*)&sa, sizeof sa) != 0) m_ok = false;
  }
}

CTestClient::~CTestClient() {
  for (int fd : m_fd)
    if (fd >= 0) close(fd);
}

static void SendFrom(int fd, uint32_t to, int port, const std::string& bytes) {
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = to;
  sa.sin_port = htons((uint16_t)port);
  sendto(fd, bytes.data(), bytes.size(), 0, (struct sockaddr*)&sa, sizeof sa);
}

int32_t CTestClient::Request(int k, const std::string& body) {
  Reply(k, ++m_counter, body);
  return m_counter;
}

void CTestClient::Reply(int k, int32_t n, const std::string& body) { SendRaw(k, qb::FrameMessage(n, body) + '\0'); }

void CTestClient::SendRaw(int k, const std::string& bytes) {
  SendFrom(m_fd[k], m_ports.address, m_ports.server + k, bytes);
}

void CTestClient::SendToPeer(uint32_t peer, int k, const std::string& body) {
  SendFrom(m_fd[k], peer, m_ports.client + k, qb::FrameMessage(m_counter, body) + '\0');
}

void CTestClient::Drain(int waitMs) {
  struct pollfd fds[5];
  for (int k = 0; k < 5; ++k) fds[k] = {m_fd[k], POLLIN, 0};
  if (poll(fds, 5, waitMs) <= 0) return;
  std::vector<char> buffer(65536);
  char* buf = buffer.data();
  for (int k = 0; k < 5; ++k) {
    for (;;) {
      struct sockaddr_in from;
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(m_fd[k], buf, buffer.size(), 0, (struct sockaddr*)&from, &len);
      if (n < 0) break;
      Received r;
      r.from = from.sin_addr.s_addr;
      r.k = k;
      r.payload.assign(buf, (size_t)n);
      SplitHead(std::string(buf, strnlen(buf, (size_t)n)), r.f, r.n, r.type);
      m_backlog.push_back(std::move(r));
    }
  }
}

bool CTestClient::WaitFor(const std::function<bool(const Received&)>& match, Received& out, int limitMs) {
  uint64_t end = NowMs() + limitMs;
  for (;;) {
    for (size_t i = 0; i < m_backlog.size(); ++i) {
      if (match(m_backlog[i])) {
        out = m_backlog[i];
        m_backlog.erase(m_backlog.begin() + i);
        return true;
      }
    }
    uint64_t now = NowMs();
    if (now >= end) return false;
    Drain((int)std::min<uint64_t>(end - now, 100));
  }
}

bool CTestClient::WaitType(const std::string& type, const std::string& sub, Received& out, int limitMs) {
  return WaitFor([&](const Received& r) { return r.type == type && (sub.empty() || (!r.f.empty() && r.f[0] == sub)); },
                 out, limitMs);
}

std::vector<Received> CTestClient::Backlog() {
  Drain(0);
  std::vector<Received> b;
  b.swap(m_backlog);
  return b;
}

bool CTestClient::LoginAccepted(int32_t user, const std::string& pw, int limitMs) {
  int32_t n = Request(0, qb::MsgLogin(user, pw));
  Received r;
  return WaitFor([&](const Received& m) { return m.type == "LGI" && m.n == n; }, r, limitMs) && r.f.size() == 2 &&
         r.f[0] == "OK" && r.f[1] == qb::FormatNumber(user);
}

bool CTestClient::Upload(int32_t user, const std::string& pw, const std::vector<qb::NodeWire>& nodes, size_t stopAfter,
                         int limitMs) {
  int32_t n = Request(2, qb::MsgFavUpCount((int32_t)nodes.size(), user, pw));
  Received r;
  auto ack = [&](const Received& m) { return m.type == "FAV" && m.n == n; };
  if (!WaitFor(ack, r, limitMs) || r.f.size() != 2 || r.f[1] != "ALLOWED") return false;
  for (size_t i = 0; i < nodes.size() && i < stopAfter; ++i) {
    n = Request(2, qb::MsgFavUpNode(nodes[i]));
    if (!WaitFor(ack, r, limitMs) || r.f.size() < 3 || r.f[1] != "NODE" || r.f[2] != "OK") return false;
  }
  return true;
}

}  // namespace qbtest

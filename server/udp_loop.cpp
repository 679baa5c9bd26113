#include "udp_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <vector>

namespace qsrv {

// Lock-free, so the signal handler may set it.
static std::atomic<bool> g_stop(false);
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be safe in a signal handler");
static sigset_t g_waitMask;
static bool g_signalsInstalled = false;

static void OnStopSignal(int) { g_stop.store(true); }

uint64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

std::atomic<bool>& InstallStopSignals() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  sigprocmask(SIG_BLOCK, &block, &g_waitMask);
  sigdelset(&g_waitMask, SIGINT);
  sigdelset(&g_waitMask, SIGTERM);
  g_signalsInstalled = true;
  return g_stop;
}

CUdpPorts::~CUdpPorts() {
  for (int& fd : m_fd)
    if (fd >= 0) close(fd);
}

bool CUdpPorts::Open(const LoopConfig& config, std::string& error) {
  m_clientPortBase = config.clientPortBase;
  struct in_addr ip;
  if (inet_pton(AF_INET, config.listen.c_str(), &ip) != 1) {
    error = "not an IPv4 address: " + config.listen;
    return false;
  }
  for (int k = 0; k < kServerPorts; ++k) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = std::string("socket: ") + strerror(errno);
      return false;
    }
    m_fd[k] = fd;
    int size = 1 << 20;  // room for bursts: every program of a busy hour logs in at once
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr = ip;
    sa.sin_port = htons((uint16_t)(config.serverPortBase + k));
    if (bind(fd, (struct sockaddr*)&sa, sizeof sa) != 0) {
      error = "cannot listen on " + config.listen + ":" + std::to_string(config.serverPortBase + k) + ": " +
              strerror(errno);
      return false;
    }
  }
  return true;
}

void CUdpPorts::SendDatagram(uint32_t address, int k, const std::string& payload) {
  if (k < 0 || k >= kServerPorts || m_fd[k] < 0) return;
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;  // both hold the first octet in the lowest byte
  sa.sin_port = htons((uint16_t)(m_clientPortBase + k));
  // A full send buffer loses the datagram, as UDP may; the program copes.
  sendto(m_fd[k], payload.data(), payload.size(), 0, (struct sockaddr*)&sa, sizeof sa);
}

int RunLoop(CServer& server, CUdpPorts& ports, const std::atomic<bool>& stop, CWorkerPool* pool,
            CWorkerPool* lookups, CWorkerPool* writes) {
  const int kEvents = kServerPorts + 1, kLookups = kServerPorts + 2, kWrites = kServerPorts + 3;
  struct pollfd fds[kServerPorts + 4];
  for (int k = 0; k < kServerPorts; ++k) fds[k] = {ports.Socket(k), POLLIN, 0};
  fds[kServerPorts] = {pool ? pool->EventFd() : -1, POLLIN, 0};
  fds[kLookups] = {lookups ? lookups->EventFd() : -1, POLLIN, 0};
  fds[kWrites] = {writes ? writes->EventFd() : -1, POLLIN, 0};
  std::vector<char> buffer(65536);
  char* buf = buffer.data();
  uint64_t lastTick = MonotonicMs();
  while (!stop.load()) {
    // A download message due to go again wakes the loop before the next tick.
    uint64_t resendAt = server.NextResendAt(), before = MonotonicMs();
    uint64_t waitMs = resendAt <= before ? 0 : std::min<uint64_t>(100, resendAt - before);
    struct timespec wait = {0, (long)waitMs * 1000000};
    // The link to the other instances may be a new one after a reconnection.
    fds[kEvents] = {server.EventFd(), POLLIN, 0};
    int r = ppoll(fds, kServerPorts + 4, &wait, g_signalsInstalled ? &g_waitMask : nullptr);
    if (r < 0 && errno != EINTR) return 1;
    uint64_t now = MonotonicMs();
    if (r > 0 && lookups && (fds[kLookups].revents & POLLIN)) lookups->RunCompleted();
    if (r > 0 && writes && (fds[kWrites].revents & POLLIN)) writes->RunCompleted();
    if (r > 0 && pool && (fds[kServerPorts].revents & POLLIN)) pool->RunCompleted();
    if (r > 0 && (fds[kEvents].revents & POLLIN)) server.OnClusterEvents(now);
    if (r > 0) {
      // The logins of one turn cost one look-up of their users together.
      server.HoldLookups();
      for (int k = 0; k < kServerPorts; ++k) {
        if (!(fds[k].revents & POLLIN)) continue;
        // A bounded batch per socket keeps one busy port from starving the others.
        for (int i = 0; i < 64; ++i) {
          struct sockaddr_in from;
          socklen_t fromLen = sizeof from;
          ssize_t n = recvfrom(fds[k].fd, buf, buffer.size(), MSG_TRUNC, (struct sockaddr*)&from, &fromLen);
          if (n < 0) break;
          if (fromLen < sizeof from || from.sin_family != AF_INET) continue;
          server.OnDatagram(from.sin_addr.s_addr, k, buf, (size_t)n, now);
        }
      }
      server.RunLookups();
    }
    if (now - lastTick >= 100) {
      server.OnTick(now);
      lastTick = now;
    } else if (now >= resendAt) {
      server.ResendDue(now);
    }
  }
  return 0;
}

}  // namespace qsrv

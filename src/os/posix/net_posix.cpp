// Sockets and threads on Linux: BSD sockets and pthreads.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/net.h"

namespace os {

int NetStartup() { return 1; }
void NetCleanup() {}

static void FillAddress(sockaddr_in& sa, uint32_t address, uint16_t port) {
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  memcpy(&sa.sin_addr, &address, 4);  // first octet first in memory
}

static uint32_t AddressOf(const sockaddr_in& sa) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&sa.sin_addr);
  return b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24;
}

uint32_t ResolveHost(const std::string& host) {
  if (host.empty()) return 0;
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return 0;
  uint32_t out = 0;
  for (addrinfo* p = res; p && !out; p = p->ai_next)
    if (p->ai_family == AF_INET) out = AddressOf(*reinterpret_cast<sockaddr_in*>(p->ai_addr));
  freeaddrinfo(res);
  return out;
}

// ---- sockets ----
CUdpSocket::CUdpSocket() : m_socket(-1) {}
CUdpSocket::~CUdpSocket() { Close(); }

int CUdpSocket::Open() {
  Close();
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return 0;
  m_socket = s;
  return 1;
}

int CUdpSocket::Bind(uint32_t address, uint16_t port) {
  if (m_socket < 0) return 0;
  sockaddr_in sa;
  FillAddress(sa, address, port);
  return bind((int)m_socket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

int CUdpSocket::IsOpen() const { return m_socket >= 0; }

int CUdpSocket::SendTo(const void* data, size_t size, uint32_t address, uint16_t port) {
  if (m_socket < 0) return 0;
  sockaddr_in sa;
  FillAddress(sa, address, port);
  ssize_t n = sendto((int)m_socket, data, size, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return n == (ssize_t)size;
}

int CUdpSocket::WaitReadable(uint32_t ms) {
  if (m_socket < 0) return -1;
  pollfd p = {(int)m_socket, POLLIN, 0};
  int r = poll(&p, 1, ms == kWaitForever ? -1 : (int)ms);
  if (r < 0) return errno == EINTR ? 0 : -1;
  return r > 0 ? 1 : 0;
}

int CUdpSocket::ReceiveFrom(void* buf, size_t capacity, uint32_t& address, uint16_t& port) {
  if (m_socket < 0) return -1;
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  ssize_t n = recvfrom((int)m_socket, buf, capacity, 0, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) return -1;
  address = AddressOf(sa);
  port = ntohs(sa.sin_port);
  return (int)n;
}

int CUdpSocket::ReceiveWithin(uint32_t ms, void* buf, size_t capacity, uint32_t& address, uint16_t& port) {
  if (m_socket < 0) return -1;
  if (ms == 0) ms = 1;  // a zero time-out waits for ever
  if (ms != m_receiveWait) {
    timeval tv = {0, 0};
    if (ms != kWaitForever) {
      tv.tv_sec = ms / 1000;
      tv.tv_usec = (ms % 1000) * 1000;
    }
    if (setsockopt((int)m_socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return -1;
    m_receiveWait = ms;
  }
  int n = ReceiveFrom(buf, capacity, address, port);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  return n;
}

uint16_t CUdpSocket::LocalPort() const {
  if (m_socket < 0) return 0;
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (getsockname((int)m_socket, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

void CUdpSocket::Close() {
  if (m_socket >= 0) close((int)m_socket);
  m_socket = -1;
  m_receiveWait = 0;
}

// ---- timed waits ----
// Condition variables wait on the monotonic clock, so that a change of the
// system time neither ends a wait early nor stretches it; the mutex's timed
// lock only knows the real-time clock.
static timespec Deadline(uint32_t ms, clockid_t clock = CLOCK_MONOTONIC) {
  timespec ts;
  clock_gettime(clock, &ts);
  ts.tv_sec += ms / 1000;
  ts.tv_nsec += (long)(ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

// ---- threads ----
struct CThread::Impl {
  pthread_t thread;
  bool started = false;
  bool joined = false;
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond;
  bool done = false;
  std::function<void()> body;
};

static void InitMonotonicCond(pthread_cond_t& cond) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&cond, &attr);
  pthread_condattr_destroy(&attr);
}

CThread::CThread() : m(new Impl) { InitMonotonicCond(m->cond); }
CThread::~CThread() {
  Join();
  pthread_mutex_destroy(&m->lock);
  pthread_cond_destroy(&m->cond);
}

static void* ThreadMain(void* arg) {
  CThread::Impl* impl = static_cast<CThread::Impl*>(arg);
  impl->body();
  pthread_mutex_lock(&impl->lock);
  impl->done = true;
  pthread_cond_broadcast(&impl->cond);
  pthread_mutex_unlock(&impl->lock);
  return nullptr;
}

int CThread::Start(std::function<void()> body) {
  if (m->started && !m->joined) return 0;
  m->body = std::move(body);
  m->done = false;
  m->joined = false;
  if (pthread_create(&m->thread, nullptr, ThreadMain, m.get()) != 0) return 0;
  m->started = true;
  return 1;
}

int CThread::Join(uint32_t ms) {
  if (!m->started || m->joined) return 1;
  pthread_mutex_lock(&m->lock);
  if (ms == kWaitForever) {
    while (!m->done) pthread_cond_wait(&m->cond, &m->lock);
  } else {
    timespec ts = Deadline(ms);
    while (!m->done)
      if (pthread_cond_timedwait(&m->cond, &m->lock, &ts) == ETIMEDOUT) break;
  }
  bool done = m->done;
  pthread_mutex_unlock(&m->lock);
  if (!done) return 0;
  pthread_join(m->thread, nullptr);
  m->joined = true;
  return 1;
}

int CThread::IsRunning() const {
  if (!m->started || m->joined) return 0;
  pthread_mutex_lock(&m->lock);
  bool done = m->done;
  pthread_mutex_unlock(&m->lock);
  return !done;
}

// ---- mutex ----
struct CMutex::Impl {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};
CMutex::CMutex() : m(new Impl) {}
CMutex::~CMutex() { pthread_mutex_destroy(&m->mutex); }

int CMutex::Lock(uint32_t ms) {
  if (ms == kWaitForever) return pthread_mutex_lock(&m->mutex) == 0;
  timespec ts = Deadline(ms, CLOCK_REALTIME);
  return pthread_mutex_timedlock(&m->mutex, &ts) == 0;
}
void CMutex::Unlock() { pthread_mutex_unlock(&m->mutex); }

// ---- auto-reset event ----
struct CEvent::Impl {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond;
  bool signalled = false;
};
CEvent::CEvent() : m(new Impl) { InitMonotonicCond(m->cond); }
CEvent::~CEvent() {
  pthread_mutex_destroy(&m->lock);
  pthread_cond_destroy(&m->cond);
}

void CEvent::Set() {
  pthread_mutex_lock(&m->lock);
  m->signalled = true;
  pthread_cond_signal(&m->cond);
  pthread_mutex_unlock(&m->lock);
}

void* CEvent::NativeHandle() const { return nullptr; }

int CEvent::Wait(uint32_t ms) {
  pthread_mutex_lock(&m->lock);
  if (ms == kWaitForever) {
    while (!m->signalled) pthread_cond_wait(&m->cond, &m->lock);
  } else {
    timespec ts = Deadline(ms);
    while (!m->signalled)
      if (pthread_cond_timedwait(&m->cond, &m->lock, &ts) == ETIMEDOUT) break;
  }
  bool got = m->signalled;
  m->signalled = false;
  pthread_mutex_unlock(&m->lock);
  return got ? 1 : 0;
}


double NetTraceClockMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// The file QIMBO_NET_TRACE names, to append to; none without it.
FILE* OpenNetTraceFile() {
  const char* path = getenv("QIMBO_NET_TRACE");
  return path && *path ? fopen(path, "ab") : nullptr;
}

}  // namespace os

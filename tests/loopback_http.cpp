#include "loopback_http.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define CLOSESOCK closesocket
#define SEND_FLAGS 0
#define SHUT_WR SD_SEND
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#define CLOSESOCK close
#define SEND_FLAGS MSG_NOSIGNAL
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "os/net.h"

namespace qbtest {

namespace {

typedef decltype(socket(0, 0, 0)) Sock;

Sock S(intptr_t s) { return (Sock)s; }

struct Address {
  sockaddr_storage storage = {};
  socklen_t size = 0;
  sockaddr* Get() { return (sockaddr*)&storage; }
};

Address Loopback(bool ipv6, uint16_t port) {
  Address a;
  if (ipv6) {
    sockaddr_in6* a6 = (sockaddr_in6*)&a.storage;
    a6->sin6_family = AF_INET6;
    a6->sin6_addr.s6_addr[15] = 1;
    a6->sin6_port = htons(port);
    a.size = sizeof *a6;
  } else {
    sockaddr_in* a4 = (sockaddr_in*)&a.storage;
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a4->sin_port = htons(port);
    a.size = sizeof *a4;
  }
  return a;
}

bool WaitReadable(Sock s, int ms) {
  fd_set r;
  FD_ZERO(&r);
  FD_SET(s, &r);
  timeval t = {ms / 1000, (ms % 1000) * 1000};
  return select((int)s + 1, &r, nullptr, nullptr, &t) == 1;
}

void SendAll(Sock c, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    int n = send(c, bytes.data() + done, (int)(bytes.size() - done), SEND_FLAGS);
    if (n <= 0) return;
    done += (size_t)n;
  }
}

void Reset(Sock c) {
  linger now = {1, 0};
  setsockopt(c, SOL_SOCKET, SO_LINGER, (const char*)&now, sizeof now);
}

// What a client sends up to the blank line that ends its request's head.
std::string ReceiveHead(Sock c) {
  std::string head;
  char buf[2048];
  while (head.find("\r\n\r\n") == std::string::npos) {
    int n = recv(c, buf, sizeof buf, 0);
    if (n <= 0) break;
    head.append(buf, (size_t)n);
  }
  return head;
}

}  // namespace

std::string HttpAnswer(const std::string& status, const std::string& body, const std::string& type) {
  std::string head = "HTTP/1.0 " + status + "\r\n";
  if (!type.empty()) head += "Content-Type: " + type + "\r\n";
  return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

CLoopbackHttp::CLoopbackHttp(const HttpReply& every) : CLoopbackHttp(every, Options()) {}

CLoopbackHttp::CLoopbackHttp(const HttpReply& every, Options options)
    : CLoopbackHttp([every](const std::string&) { return every; }, options) {}

CLoopbackHttp::CLoopbackHttp(Answerer answerer, Options options)
    : m_answerer(std::move(answerer)), m_options(options) {
  os::NetStartup();
  Sock s = socket(options.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  m_listen = (intptr_t)s;
  int reuse = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char*)&reuse, sizeof reuse);
  Address a = Loopback(options.ipv6, options.port);
  bool bound = bind(s, a.Get(), a.size) == 0 && listen(s, 4) == 0;
  // Only a port asked for by number, or IPv6, may be missing here.
  if (!options.ipv6 && options.port == 0) {
    EXPECT_TRUE(bound) << "a loopback port of the system's choosing";
  }
  if (!bound) return;
  socklen_t len = sizeof a.storage;
  EXPECT_EQ(0, getsockname(s, a.Get(), &len));
  m_port = ntohs(options.ipv6 ? ((sockaddr_in6*)&a.storage)->sin6_port : ((sockaddr_in*)&a.storage)->sin_port);
  m_thread = std::thread([this] { Serve(); });
}

CLoopbackHttp::~CLoopbackHttp() {
  Release();
  if (m_thread.joinable()) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_stop = true;
    }
    // Wake the accept with one last connection.
    Sock s = socket(m_options.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    Address a = Loopback(m_options.ipv6, m_port);
    connect(s, a.Get(), a.size);
    CLOSESOCK(s);
    m_thread.join();
  }
  CLOSESOCK(S(m_listen));
  os::NetCleanup();
}

std::string CLoopbackHttp::Base() const {
  return std::string(m_options.ipv6 ? "http://[::1]:" : "http://127.0.0.1:") + std::to_string(m_port);
}

int CLoopbackHttp::Requests() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_requests;
}

std::string CLoopbackHttp::LastRequest() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_last;
}

int CLoopbackHttp::Answered() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_answered;
}

bool CLoopbackHttp::WaitClosed(int n, int ms) {
  std::unique_lock<std::mutex> hold(m_lock);
  return m_changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return m_closed >= n; });
}

bool CLoopbackHttp::WaitHeld(int ms) {
  std::unique_lock<std::mutex> hold(m_lock);
  return m_changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return m_held > 0; });
}

void CLoopbackHttp::Release() {
  std::lock_guard<std::mutex> hold(m_lock);
  m_options.hold = false;
  m_changed.notify_all();
}

void CLoopbackHttp::Serve() {
  for (;;) {
    Sock c = accept(S(m_listen), nullptr, nullptr);
    if ((intptr_t)c == -1) return;
    std::string request = ReceiveHead(c);
    {
      std::unique_lock<std::mutex> hold(m_lock);
      if (m_stop) {
        CLOSESOCK(c);
        return;
      }
      m_last = request;
      ++m_requests;
      ++m_held;
      m_changed.notify_all();
      m_changed.wait(hold, [&] { return !m_options.hold; });
    }
    Answer((intptr_t)c, request);
    std::lock_guard<std::mutex> hold(m_lock);
    ++m_closed;
    m_changed.notify_all();
  }
}

void CLoopbackHttp::Answer(intptr_t client, const std::string& request) {
  Sock c = S(client);
  HttpReply r = m_answerer(request);
  if (r.end != HttpReply::End::kHangUp) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      ++m_answered;
    }
    SendAll(c, r.bytes);
    if (!r.later.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      SendAll(c, r.later);
    }
  }
  if (r.end == HttpReply::End::kReset) {
    if (r.resetOn) r.resetOn->Wait(10000);
    else std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Reset(c);
  } else if (r.end != HttpReply::End::kHangUp) {
    if (r.end == HttpReply::End::kClose) shutdown(c, SHUT_WR);
    // Until the client hangs up (or sends anything more).
    WaitReadable(c, 10000);
  }
  CLOSESOCK(c);
}

}  // namespace qbtest

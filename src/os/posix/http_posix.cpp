// A small HTTP/1.0 client for Linux: one GET, the status line and headers
// skipped, the body handed out as it arrives. Enough for site icons and pages.
#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/http.h"

namespace os {

namespace {

class CSocketStream : public CHttpStream {
 public:
  explicit CSocketStream(int fd) : m_fd(fd) {}
  ~CSocketStream() override { close(m_fd); }
  CSocketStream(const CSocketStream&) = delete;
  CSocketStream& operator=(const CSocketStream&) = delete;

  // Reads until the blank line that ends the headers; what came after it is
  // the start of the body.
  int SkipHeaders() {
    std::string head;
    char buf[4096];
    for (;;) {
      size_t end = head.find("\r\n\r\n");
      size_t skip = 4;
      if (end == std::string::npos) {
        end = head.find("\n\n");
        skip = 2;
      }
      if (end != std::string::npos) {
        if (head.compare(0, 5, "HTTP/") != 0) return 0;
        m_pending = head.substr(end + skip);
        return 1;
      }
      if (head.size() > 65536) return 0;
      long n = Receive(buf, sizeof buf);
      if (n <= 0) return 0;
      head.append(buf, (size_t)n);
    }
  }

  long Read(char* dst, size_t n) override {
    if (n == 0) return 0;
    if (m_pos < m_pending.size()) {
      size_t k = std::min(n, m_pending.size() - m_pos);
      memcpy(dst, m_pending.data() + m_pos, k);
      m_pos += k;
      return (long)k;
    }
    return Receive(dst, n);
  }

 private:
  long Receive(char* dst, size_t n) {
    for (;;) {
      ssize_t r = recv(m_fd, dst, n, 0);
      if (r < 0 && errno == EINTR) continue;
      return r < 0 ? -1 : (long)r;
    }
  }

  int m_fd;
  std::string m_pending;
  size_t m_pos = 0;
};

int SendAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t r = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    done += (size_t)r;
  }
  return 1;
}

}  // namespace

std::unique_ptr<CHttpStream> HttpOpen(const std::string& address, const std::string& agent,
                                      const std::string& headers) {
  const std::string scheme = "http://";
  if (address.compare(0, scheme.size(), scheme) != 0) return nullptr;
  std::string rest = address.substr(scheme.size());
  size_t slash = rest.find('/');
  std::string hostPort = rest.substr(0, slash);
  std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
  size_t hash = path.find('#');
  if (hash != std::string::npos) path.resize(hash);
  std::string host = hostPort, port = "80";
  // A port follows the last ':' unless that ':' is inside an IPv6 literal's brackets.
  size_t colon = hostPort.rfind(':'), bracket = hostPort.rfind(']');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    host = hostPort.substr(0, colon);
    port = hostPort.substr(colon + 1);
  }
  if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return nullptr;

  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) return nullptr;
  int fd = -1;
  for (addrinfo* a = list; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(list);
  if (fd < 0) return nullptr;
  timeval tv = {30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

  // The caller's headers end with the blank line; ours go before them.
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + hostPort + "\r\nUser-Agent: " + agent +
                        "\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n";
  std::string extra = headers;
  while (extra.size() >= 2 && extra.compare(extra.size() - 2, 2, "\r\n") == 0) extra.resize(extra.size() - 2);
  if (!extra.empty()) request += extra + "\r\n";
  request += "\r\n";
  auto stream = std::make_unique<CSocketStream>(fd);
  if (!SendAll(fd, request) || !stream->SkipHeaders()) return nullptr;
  return stream;
}

}  // namespace os

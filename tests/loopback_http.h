// A web server on the loopback interface for the suites that fetch pages and
// icons: one connection at a time on a thread of its own, on a port of the
// system's choosing. It reads each request's head up to its blank line,
// remembers it, and sends back what the test's answer says.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace os {
class CEvent;
}

namespace qbtest {

// What the server does with one request.
struct HttpReply {
  enum class End {
    kClose,     // ends its side, then closes once the client has hung up (at most 10 s)
    kHoldOpen,  // keeps its side open until the client hangs up (at most 10 s)
    kReset,     // resets the connection: when `resetOn` is set, or a moment (100 ms) after the answer
    kHangUp,    // closes without sending anything
  };
  HttpReply(std::string bytes = "", std::string later = "", End end = End::kClose, os::CEvent* resetOn = nullptr)
      : bytes(std::move(bytes)), later(std::move(later)), end(end), resetOn(resetOn) {}
  HttpReply(const char* bytes) : HttpReply(std::string(bytes)) {}
  std::string bytes;  // the answer as the wire has it, head and body
  std::string later;  // sent on its own a moment (100 ms) after `bytes`
  End end;
  os::CEvent* resetOn;
};

// "HTTP/1.0 <status>" with the body's length, and its type unless empty.
std::string HttpAnswer(const std::string& status, const std::string& body, const std::string& type = "");

class CLoopbackHttp {
 public:
  using Answerer = std::function<HttpReply(const std::string& request)>;
  struct Options {
    uint16_t port = 0;  // 0: the system's choice
    bool ipv6 = false;  // listen on ::1 instead of 127.0.0.1
    bool hold = false;  // every request waits for Release() before it is answered
  };

  // Every request gets the same answer.
  explicit CLoopbackHttp(const HttpReply& every);
  CLoopbackHttp(const HttpReply& every, Options options);
  CLoopbackHttp(Answerer answerer, Options options);
  ~CLoopbackHttp();
  CLoopbackHttp(const CLoopbackHttp&) = delete;
  CLoopbackHttp& operator=(const CLoopbackHttp&) = delete;

  // False where the port could not be had (taken, or no IPv6 here).
  bool Listening() const { return m_port != 0; }
  uint16_t Port() const { return m_port; }
  // "http://127.0.0.1:<port>", or "http://[::1]:<port>".
  std::string Base() const;

  // Requests whose head came in; the last of them as it was sent.
  int Requests() const;
  std::string LastRequest() const;
  // Requests given an answer (counted before it is sent, so a client that
  // has read its answer is already counted); a hang-up is none.
  int Answered() const;
  // Waits until `n` connections have been closed on the server's side.
  bool WaitClosed(int n, int ms);

  // With Options::hold: waits until a request is being held; lets them all go.
  bool WaitHeld(int ms);
  void Release();

 private:
  void Serve();
  void Answer(intptr_t client, const std::string& request);

  Answerer m_answerer;
  Options m_options;
  intptr_t m_listen = -1;
  uint16_t m_port = 0;
  bool m_stop = false;
  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  int m_requests = 0;
  int m_answered = 0;
  int m_closed = 0;
  int m_held = 0;
  std::string m_last;
  std::thread m_thread;
};

}  // namespace qbtest

// The network and thread part of the OS seam: IPv4 UDP sockets, host-name
// lookup, threads, a mutex with a timed lock and an auto-reset event.
// Winsock and Win32 threads on Windows; BSD sockets and pthreads on Linux.
//
// IPv4 addresses are uint32_t with the first octet in the low byte (network
// order in memory on the little-endian machines the program runs on).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace os {

const uint32_t kWaitForever = 0xFFFFFFFFu;

// Winsock start-up and shut-down (counted; a no-op on Linux). 1 on success.
int NetStartup();
void NetCleanup();

// The first IPv4 address of a host name or dotted text; 0 when there is none.
uint32_t ResolveHost(const std::string& host);

class CUdpSocket {
 public:
  CUdpSocket();
  ~CUdpSocket();
  CUdpSocket(const CUdpSocket&) = delete;
  CUdpSocket& operator=(const CUdpSocket&) = delete;

  int Open();  // a fresh IPv4 UDP socket
  // Local address 0 means every local address; port 0 lets the system choose.
  int Bind(uint32_t address, uint16_t port);
  int IsOpen() const;
  // 1 when every byte went out.
  int SendTo(const void* data, size_t size, uint32_t address, uint16_t port);
  // Waits up to `ms` for a datagram: 1 readable, 0 time-out, -1 error.
  int WaitReadable(uint32_t ms);
  // One datagram into buf; returns its size (cut to `capacity`), -1 on error.
  int ReceiveFrom(void* buf, size_t capacity, uint32_t& address, uint16_t& port);
  // The same, waiting up to `ms` for the datagram: 0 when none came in time
  // (an empty datagram counts as none). One call where WaitReadable and
  // ReceiveFrom make two, each a round trip to the Wine server under Wine.
  int ReceiveWithin(uint32_t ms, void* buf, size_t capacity, uint32_t& address, uint16_t& port);
  // The port the socket is bound to (0 when unknown).
  uint16_t LocalPort() const;
  void Close();

 private:
  intptr_t m_socket;
  uint32_t m_receiveWait = 0;  // the receive time-out the socket has (0: none set yet)
};

// A plain thread. The destructor waits for it to end.
class CThread {
 public:
  CThread();
  ~CThread();
  CThread(const CThread&) = delete;
  CThread& operator=(const CThread&) = delete;
  int Start(std::function<void()> body);
  // 1 when the thread has ended within `ms` (or never ran).
  int Join(uint32_t ms = kWaitForever);
  int IsRunning() const;

  struct Impl;  // public so that the platform's thread entry can reach it

 private:
  std::unique_ptr<Impl> m;
};

class CMutex {
 public:
  CMutex();
  ~CMutex();
  CMutex(const CMutex&) = delete;
  CMutex& operator=(const CMutex&) = delete;
  int Lock(uint32_t ms = kWaitForever);  // 1 when held
  void Unlock();

 private:
  struct Impl;
  std::unique_ptr<Impl> m;
};

// Auto-reset: one Wait consumes one Set.
class CEvent {
 public:
  CEvent();
  ~CEvent();
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;
  void Set();
  int Wait(uint32_t ms);  // 1 signalled, 0 time-out
  // The Windows event handle, for a message loop's MsgWaitForMultipleObjects
  // (nullptr on Linux).
  void* NativeHandle() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m;
};

// The hop trace of the network path: when the environment variable
// QIMBO_NET_TRACE names a file, every mark appends a line "MS HOP TEXT" to
// it, MS being the milliseconds of the machine's monotonic clock (the
// performance counter on Windows, the same for every process), TEXT the
// first bytes of the datagram or line at that hop. Without the variable a
// mark costs one test of a cached flag.
void NetTrace(const char* hop, const std::string& text);
// The clock of the trace, in milliseconds.
double NetTraceClockMs();
// The line a mark writes.
std::string NetTraceLine(double ms, const char* hop, const std::string& text);
// The system's part: the file QIMBO_NET_TRACE names, opened to append (null without it).
FILE* OpenNetTraceFile();

}  // namespace os

// The server link: queued datagrams, the five UDP links with their receive
// workers, and the resolver thread that finds the server's address.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/net.h"

namespace qb {

// Largest datagram a link delivers: the UDP maximum over IPv4. (An upload node
// carries its texts enciphered at twice their length, so a 1000-byte cap would
// strand a long bookmark on the server for good.)
const size_t kMaxDatagram = 65507;
const int kLinkCount = 5;
const uint16_t kLocalBasePort = 5030;
const uint16_t kServerBasePort = 5080;

struct NetDatagram {
  std::string text;      // message text; outgoing text ends in CR LF
  uint32_t address = 0;  // destination (outgoing) or sender (incoming)
  uint16_t port = 0;     // destination port (outgoing only)
};

// First in, first out, shared between threads. Producers wait at most 100 ms
// for the lock; the auto-reset event wakes the one consumer.
class CMsgQueue {
 public:
  static const size_t kCapacity = 1600;
  static const uint32_t kPushWaitMs = 100;

  CMsgQueue() = default;
  CMsgQueue(const CMsgQueue&) = delete;
  CMsgQueue& operator=(const CMsgQueue&) = delete;

  // Takes ownership on success; on failure the datagram stays the caller's.
  int Push(std::unique_ptr<NetDatagram>& datagram);
  // The oldest datagram, or none.
  std::unique_ptr<NetDatagram> Pop();
  size_t Count();
  os::CEvent& Event() { return m_event; }
  // For a reader that cannot always wait on the event (a user-interface
  // thread inside a modal loop): `wake` tells it that datagrams wait. It is
  // called when one arrives and no wake is outstanding, on the pushing
  // thread after the event is set, and by Pop when datagrams remain after
  // the one it took (so that a reader held up inside the handling of that
  // one learns of the rest). The reader calls WakeTaken when it acts on a
  // wake, before it pops.
  void SetWake(std::function<void()> wake);
  void WakeTaken();

 private:
  std::function<void()> TakeWakeLocked();
  std::function<void()> m_wake;
  bool m_wakeOutstanding = false;
  std::deque<std::unique_ptr<NetDatagram>> m_items;
  os::CMutex m_mutex;
  os::CEvent m_event;
};

// How the start of one link went.
enum class LinkStart {
  kRunning,
  kPortUnavailable,  // no socket, or its port is taken by another program
  kThreadFailed,     // the system would not start its threads
};

// One link: a send thread that empties its queue into an unbound socket and
// a receive worker that pushes what arrives on the link's port into the
// application's receive queue.
class CCommProxy {
 public:
  CCommProxy() = default;
  ~CCommProxy() { Stop(); }
  CCommProxy(const CCommProxy&) = delete;
  CCommProxy& operator=(const CCommProxy&) = delete;

  // Sockets, bind and both threads; on failure nothing is left running and
  // the answer says what failed. A non-zero bind address also becomes the
  // source address of what is sent.
  LinkStart Start(uint16_t localPort, uint32_t bindAddress, CMsgQueue* receiveQueue);
  // Ends both threads (each within the 5000 ms the program allows), sends
  // what is still queued (for at most a quarter of a second) and closes both
  // sockets. Returns 1 when both threads ended.
  int Stop();
  // Tells both threads to end without waiting, so that five links stop together.
  void RequestStop();
  int IsRunning() const { return m_running; }
  CMsgQueue* SendQueue() { return m_running ? &m_sendQueue : nullptr; }
  uint16_t LocalPort() const { return m_localPort; }
  // Tests make the next start fail where the threads are started, as if the
  // system refused them.
  void FailThreadStart() { m_failThreadStart = true; }

 private:
  void SendLoop();
  void ReceiveLoop();
  void SendOne(const NetDatagram& d);
  void SendQueued(std::chrono::steady_clock::time_point until);

  CMsgQueue m_sendQueue;
  uint16_t m_localPort = 0;
  uint32_t m_bindAddress = 0;
  os::CUdpSocket m_sendSocket;
  os::CUdpSocket m_receiveSocket;
  CMsgQueue* m_receiveQueue = nullptr;
  os::CThread m_sendThread;
  os::CThread m_receiveThread;
  std::atomic<bool> m_stop{false};
  bool m_running = false;
  bool m_failThreadStart = false;
};

// Server host names and where the program listens.
struct CNetConfig {
  std::string serverHost;    // default server host name
  std::string fallbackHost;  // tried when the default gives no address
  std::string webHost;       // update notice and registration pages
  uint32_t bindAddress = 0;  // 0: every local address
  uint16_t localBasePort = kLocalBasePort;
  uint16_t peerBasePort = kLocalBasePort;  // other users' programs listen here
  uint16_t serverBasePort = kServerBasePort;
  // The keep-alive period; shorter only in tests ("TestKeepAliveMs" in NetServer.ini).
  uint32_t keepAliveMs = 1200000;
};

// The default server host name, then the fallback; 0 when neither resolves.
uint32_t ResolveServer(const CNetConfig& config);

// The resolver: one request at a time, answered through a callback on its
// own thread (the program posts WM_SERVER_ADDRESS from it).
class CGetIpWithNameThread {
 public:
  ~CGetIpWithNameThread() { Stop(); }
  int Start(const CNetConfig& config, std::function<void(uint32_t)> onResolved);
  void RequestResolve();  // WM_RESOLVE_SERVER
  int Stop(uint32_t ms = 1000);

 private:
  CNetConfig m_config;
  std::function<void(uint32_t)> m_onResolved;
  os::CEvent m_request;
  os::CThread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_pending{false};
};

// What the start of the five links found.
struct LinkStartReport {
  int running = 0;
  std::vector<uint16_t> unavailablePorts;  // their links stay down
  int threadFailed = -1;  // the link whose threads would not start; no later link was started
};

// The receive queue and the five links, as the application object holds them.
class CNetLinks {
 public:
  CNetLinks() = default;
  ~CNetLinks() { Stop(); }
  CNetLinks(const CNetLinks&) = delete;
  CNetLinks& operator=(const CNetLinks&) = delete;

  // Starts links 0..4 on ports base..base+4. Returns the number of links
  // running. A link whose port cannot be had stays down and sends through it
  // fail; a link whose threads cannot start ends the start there. `report`
  // (when given) says which.
  int Start(const CNetConfig& config, LinkStartReport* report = nullptr);
  void Stop();
  CMsgQueue& ReceiveQueue() { return m_receiveQueue; }
  CMsgQueue* SendQueue(int link) { return link >= 0 && link < kLinkCount ? m_links[link].SendQueue() : nullptr; }
  CCommProxy& Link(int i) { return m_links[i]; }
  // Tests: link i's threads fail to start (CCommProxy::FailThreadStart).
  void FailThreadStart(int link) {
    if (link >= 0 && link < kLinkCount) m_links[link].FailThreadStart();
  }

 private:
  CMsgQueue m_receiveQueue;
  CCommProxy m_links[kLinkCount];
  bool m_started = false;
};

}  // namespace qb

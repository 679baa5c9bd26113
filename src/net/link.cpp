#include "net/link.h"

#include <chrono>
#include <thread>
#include <vector>

namespace qb {

// ---- queue ----
int CMsgQueue::Push(std::unique_ptr<NetDatagram>& datagram) {
  if (!datagram) return 0;
  if (!m_mutex.Lock(kPushWaitMs)) return 0;
  bool ok = m_items.size() < kCapacity;
  if (ok) m_items.push_back(std::move(datagram));
  std::function<void()> wake = ok ? TakeWakeLocked() : nullptr;
  m_mutex.Unlock();
  if (ok) m_event.Set();
  if (wake) wake();
  return ok;
}

std::function<void()> CMsgQueue::TakeWakeLocked() {
  if (!m_wake || m_wakeOutstanding) return nullptr;
  m_wakeOutstanding = true;
  return m_wake;
}

void CMsgQueue::SetWake(std::function<void()> wake) {
  m_mutex.Lock();
  m_wake = std::move(wake);
  m_wakeOutstanding = false;
  m_mutex.Unlock();
}

void CMsgQueue::WakeTaken() {
  m_mutex.Lock();
  m_wakeOutstanding = false;
  m_mutex.Unlock();
}

std::unique_ptr<NetDatagram> CMsgQueue::Pop() {
  std::unique_ptr<NetDatagram> out;
  m_mutex.Lock();
  if (!m_items.empty()) {
    out = std::move(m_items.front());
    m_items.pop_front();
  }
  std::function<void()> wake = out && !m_items.empty() ? TakeWakeLocked() : nullptr;
  m_mutex.Unlock();
  if (wake) wake();
  return out;
}

size_t CMsgQueue::Count() {
  m_mutex.Lock();
  size_t n = m_items.size();
  m_mutex.Unlock();
  return n;
}

// ---- one link ----
// How long the receive worker waits for a datagram before it looks at the
// stop flag again. A stop wakes it at once with a datagram to its own port;
// this only bounds a stop whose datagram was lost.
static const uint32_t kStopCheckMs = 1000;
static const uint32_t kLoopback = 0x0100007F;
// How long a stopping link goes on sending what is still queued (the logout
// at exit is queued just before the links stop).
static const auto kStopSendLimit = std::chrono::milliseconds(250);

LinkStart CCommProxy::Start(uint16_t localPort, uint32_t bindAddress, CMsgQueue* receiveQueue) {
  Stop();
  m_localPort = localPort;
  m_bindAddress = bindAddress;
  m_receiveQueue = receiveQueue;
  m_stop = false;
  while (m_sendQueue.Pop()) {
  }
  if (!m_sendSocket.Open() || !m_receiveSocket.Open()) {
    Stop();
    return LinkStart::kPortUnavailable;
  }
  // Unbound unless the program was given an address: then what it sends must
  // come from that address, or replies would go to another client on the
  // same machine.
  if (bindAddress && !m_sendSocket.Bind(bindAddress, 0)) {
    Stop();
    return LinkStart::kPortUnavailable;
  }
  if (!m_receiveSocket.Bind(bindAddress, localPort)) {
    Stop();
    return LinkStart::kPortUnavailable;
  }
  m_running = true;
  bool refused = m_failThreadStart;
  m_failThreadStart = false;
  if (refused || !m_receiveThread.Start([this] { ReceiveLoop(); }) || !m_sendThread.Start([this] { SendLoop(); })) {
    Stop();
    return LinkStart::kThreadFailed;
  }
  return LinkStart::kRunning;
}

void CCommProxy::RequestStop() {
  m_stop = true;
  m_sendQueue.Event().Set();
  if (m_running && m_sendSocket.IsOpen())
    m_sendSocket.SendTo("", 1, m_bindAddress ? m_bindAddress : kLoopback, m_localPort);
}

int CCommProxy::Stop() {
  RequestStop();
  int ended = m_sendThread.Join(5000);
  ended &= m_receiveThread.Join(5000);
  // The send thread leaves at the stop; what it left queued goes out from
  // here, unless the thread is still inside the socket.
  if (ended) SendQueued(std::chrono::steady_clock::now() + kStopSendLimit);
  m_sendSocket.Close();
  m_receiveSocket.Close();
  while (m_sendQueue.Pop()) {
  }
  m_running = false;
  return ended;
}

void CCommProxy::SendLoop() {
  while (!m_stop) {
    m_sendQueue.Event().Wait(6000);
    while (!m_stop) {
      std::unique_ptr<NetDatagram> d = m_sendQueue.Pop();
      if (!d) break;
      SendOne(*d);
    }
  }
}

// The payload carries the text's terminating zero byte.
void CCommProxy::SendOne(const NetDatagram& d) {
  m_sendSocket.SendTo(d.text.c_str(), d.text.size() + 1, d.address, d.port);
  os::NetTrace("sent", d.text);
}

void CCommProxy::SendQueued(std::chrono::steady_clock::time_point until) {
  if (!m_sendSocket.IsOpen()) return;
  while (std::chrono::steady_clock::now() < until) {
    std::unique_ptr<NetDatagram> d = m_sendQueue.Pop();
    if (!d) return;
    SendOne(*d);
  }
}

void CCommProxy::ReceiveLoop() {
  std::vector<char> buf(kMaxDatagram + 1);
  while (!m_stop) {
    uint32_t from = 0;
    uint16_t port = 0;
    int n = m_receiveSocket.ReceiveWithin(kStopCheckMs, buf.data(), buf.size(), from, port);
    // A failing socket must not spin. (Not os::SleepMs: tests replace that clock.)
    if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (m_stop || n <= 0 || (size_t)n > kMaxDatagram) continue;
    size_t len = 0;
    while (len < (size_t)n && buf[len] != '\0') ++len;
    std::unique_ptr<NetDatagram> d(new NetDatagram);
    d->text.assign(buf.data(), len);
    d->address = from;
    os::NetTrace("received", d->text);
    if (m_receiveQueue) m_receiveQueue->Push(d);  // a refused datagram is dropped
  }
}

// ---- resolver ----
uint32_t ResolveServer(const CNetConfig& config) {
  uint32_t a = os::ResolveHost(config.serverHost);
  if (!a) a = os::ResolveHost(config.fallbackHost);
  return a;
}

int CGetIpWithNameThread::Start(const CNetConfig& config, std::function<void(uint32_t)> onResolved) {
  Stop();
  m_config = config;
  m_onResolved = std::move(onResolved);
  m_stop = false;
  return m_thread.Start([this] {
    while (!m_stop) {
      m_request.Wait(6000);
      if (m_stop) break;
      if (!m_pending.exchange(false)) continue;
      uint32_t a = ResolveServer(m_config);
      if (a && !m_stop && m_onResolved) m_onResolved(a);
    }
  });
}

void CGetIpWithNameThread::RequestResolve() {
  m_pending = true;
  m_request.Set();
}

int CGetIpWithNameThread::Stop(uint32_t ms) {
  m_stop = true;
  m_request.Set();
  return m_thread.Join(ms);
}

// ---- the five links ----
int CNetLinks::Start(const CNetConfig& config, LinkStartReport* report) {
  Stop();
  LinkStartReport r;
  for (int i = 0; i < kLinkCount; ++i) {
    uint16_t port = (uint16_t)(config.localBasePort + i);
    LinkStart s = m_links[i].Start(port, config.bindAddress, &m_receiveQueue);
    if (s == LinkStart::kRunning) {
      ++r.running;
    } else if (s == LinkStart::kPortUnavailable) {
      r.unavailablePorts.push_back(port);
    } else {
      r.threadFailed = i;
      break;
    }
  }
  m_started = true;
  if (report) *report = r;
  return r.running;
}

void CNetLinks::Stop() {
  if (!m_started) return;
  for (CCommProxy& l : m_links) l.RequestStop();
  for (CCommProxy& l : m_links) l.Stop();
  while (m_receiveQueue.Pop()) {
  }
  m_started = false;
}

}  // namespace qb

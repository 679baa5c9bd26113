// Real UDP on loopback: the client's five links on one 127.0.0.x address, a
// scripted server and a scripted peer on two others. The native and the
// Windows suites use different addresses and ports so that they can run at
// the same time.
#pragma once
#ifdef _WIN32
#include <winsock2.h>
#endif
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "net/link.h"
#include "net/message.h"
#include "net/netstate.h"
#include "os/net.h"
#include "os/os.h"
#include "store/node.h"
#include "testutil.h"

namespace nettest {

#ifdef _WIN32
const uint16_t kPortBase = 26000;
#else
const uint16_t kPortBase = 25000;
#endif
const uint16_t kClientPorts = kPortBase + 30;
const uint16_t kServerPorts = kPortBase + 80;
#ifdef _WIN32
// Wine sends everything bound to a 127.x address from 127.0.0.1, so the
// client and the server share it, and the peer, which must look different,
// uses the machine's own network address on ports of its own.
const uint16_t kPeerPorts = kPortBase + 130;
// Only loopback is ever a test target: the network-address layout runs only
// when QIMBO_TEST_LOCAL_ADDRESS names the machine's own address; otherwise
// the tests that need a distinct peer are skipped under Wine (they run
// natively on loopback).
inline uint32_t LocalNetworkAddress() {
  static uint32_t found = [] {
    const char* own = getenv("QIMBO_TEST_LOCAL_ADDRESS");
    if (!own || !*own) return 0u;
    // Connecting a UDP socket sends nothing; it only picks the source address.
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = inet_addr(own);
    uint32_t a = 0;
    if (connect(s, (sockaddr*)&to, sizeof to) == 0) {
      sockaddr_in me{};
      int len = sizeof me;
      if (getsockname(s, (sockaddr*)&me, &len) == 0) memcpy(&a, &me.sin_addr, 4);
    }
    closesocket(s);
    WSACleanup();
    return (a & 255) == 127 ? 0u : a;
  }();
  return found;
}
const uint32_t kServerAddr = qb::MakeAddress(127, 0, 0, 1);
const uint32_t kPeerAddr = LocalNetworkAddress();
// The client listens on every address; Linux will not carry a datagram from
// the network address to 127.x, so the peer reaches it on the network address.
const uint32_t kClientBind = 0;
const uint32_t kClientAddr = kServerAddr;
const uint32_t kClientFromPeer = kPeerAddr;
#else
const uint16_t kPeerPorts = kClientPorts;
const uint32_t kServerAddr = qb::MakeAddress(127, 0, 0, 21);
const uint32_t kClientAddr = qb::MakeAddress(127, 0, 0, 22);
const uint32_t kPeerAddr = qb::MakeAddress(127, 0, 0, 23);
const uint32_t kClientBind = kClientAddr;
const uint32_t kClientFromPeer = kClientAddr;
#endif

inline qb::CNetConfig TestConfig() {
  qb::CNetConfig c;
  c.serverHost = qb::DottedAddress(kServerAddr);
  c.bindAddress = kClientBind;
  c.localBasePort = kClientPorts;
  c.serverBasePort = kServerPorts;
  c.peerBasePort = kPeerPorts;
  return c;
}

struct Received {
  std::string text;  // without the terminating zero
  int link = -1;     // which of the five ports it arrived on
  bool hadZero = false;
  size_t size = 0;
  uint16_t fromPort = 0;  // the sending socket's port
};

// Five sockets on one address: a scripted server (server ports) or a peer
// (client ports).
class CEndpoint {
 public:
  CEndpoint(uint32_t address, uint16_t basePort, uint32_t client = kClientAddr) : m_client(client) {
    for (int i = 0; i < qb::kLinkCount; ++i) {
      m_sockets[i].reset(new os::CUdpSocket);
      EXPECT_TRUE(m_sockets[i]->Open());
      EXPECT_TRUE(m_sockets[i]->Bind(address, (uint16_t)(basePort + i))) << "port " << basePort + i;
    }
  }
  // The next datagram on any of the five ports, or link -1 after `ms`.
  Received Receive(uint32_t ms = 3000) {
    Received r;
    // The real clock: tests freeze the program's clock.
    auto start = std::chrono::steady_clock::now();
    std::string buf(qb::kMaxDatagram + 1, '\0');
    for (;;) {
      for (int i = 0; i < qb::kLinkCount; ++i) {
        if (m_sockets[i]->WaitReadable(5) != 1) continue;
        uint32_t from;
        uint16_t port;
        int n = m_sockets[i]->ReceiveFrom(&buf[0], buf.size(), from, port);
        if (n <= 0) continue;
        r.size = (size_t)n;
        r.hadZero = buf[n - 1] == '\0';
        r.text = buf.substr(0, r.hadZero ? n - 1 : n);
        r.link = i;
        r.fromPort = port;
        return r;
      }
      if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(ms)) return r;
    }
  }
  // Nothing more arrives within `ms`.
  bool Quiet(uint32_t ms = 300) { return Receive(ms).link < 0; }
  void SendRaw(const std::string& payload, uint16_t port) {
    EXPECT_TRUE(m_sockets[0]->SendTo(payload.data(), payload.size(), m_client, port));
  }
  // A numbered message to the client's link 0, framed as the program frames it.
  void Send(int32_t number, const std::string& body) {
    std::string text = qb::FrameMessage(number, body);
    text.push_back('\0');
    SendRaw(text, kClientPorts);
  }

 private:
  uint32_t m_client;  // where the client is reached from here
  std::unique_ptr<os::CUdpSocket> m_sockets[qb::kLinkCount];
};

// The fake clock: time stands still unless a test moves it.
inline uint32_t& FakeNow() {
  static uint32_t now = 1000000;
  return now;
}
inline std::vector<uint32_t>& Sleeps() {
  static std::vector<uint32_t> s;
  return s;
}
inline uint32_t FakeTick() { return FakeNow(); }
inline void FakeSleep(uint32_t ms) {
  Sleeps().push_back(ms);
  FakeNow() += ms;
}

// A client with its links up, a scripted server and a scripted peer.
class NetFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(os::NetStartup());
    if (kPeerAddr == 0) GTEST_SKIP() << "a distinct peer needs an own address besides loopback under Wine";
    os::SetClock(FakeTick, FakeSleep);
    Sleeps().clear();
    config = TestConfig();
    server.reset(new CEndpoint(kServerAddr, kServerPorts));
    peer.reset(new CEndpoint(kPeerAddr, kPeerPorts, kClientFromPeer));
    ASSERT_EQ(qb::kLinkCount, links.Start(config));
    net.reset(new qb::CNetState(tree, ui, config));
    net->SetLinks(&links);
    net->Sender().m_serverAddress = kServerAddr;
  }
  void TearDown() override {
    CheckPostedMessages();
    net.reset();
    links.Stop();
    os::SetClock(nullptr, nullptr);
    os::NetCleanup();
  }
  // Hands what the links receive to the dispatcher until `done` or a time-out.
  bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 3000) {
    for (int waited = 0; (uint32_t)waited < ms; waited += 20) {
      links.ReceiveQueue().Event().Wait(20);
      net->PumpReceived();
      if (done()) return true;
    }
    return false;
  }
  // The chat, circle and version messages carry what the window procedures read and
  // nothing more: a member's serial, the server's address for plaza lines,
  // otherwise 0; lParam is always 0.
  void CheckPostedMessages() const {
    for (auto& p : ui.posts) {
      if (p.target != qb::UiTarget::MainWindow) continue;
      switch (p.msg) {
        case qb::WM_MEMBER_ADDED:
        case qb::WM_MEMBER_CHANGED:
        case qb::WM_MEMBER_REMOVED:
          EXPECT_NE(0u, p.wParam) << std::hex << p.msg;
          break;
        case qb::WM_PLAZA_ARRIVED:
          EXPECT_EQ((uintptr_t)kServerAddr, p.wParam) << std::hex << p.msg;
          break;
        case qb::WM_OPEN_CHAT:
        case qb::WM_CLOSE_CHAT:
        case qb::WM_CHAT_AD:
        case qb::WM_CHAT_ARRIVED:
        case qb::WM_MEMBERS_RELISTED:
        case qb::WM_NEW_VERSION:
          EXPECT_EQ(0u, p.wParam) << std::hex << p.msg;
          break;
        default:
          continue;
      }
      EXPECT_EQ(0, p.lParam) << std::hex << p.msg;
    }
  }
  size_t PostCount(unsigned msg) const {
    size_t n = 0;
    for (auto& p : ui.posts) n += p.msg == msg;
    return n;
  }
  // Transfer statuses posted on a channel, in order.
  std::vector<int> Statuses(uintptr_t channel) const {
    std::vector<int> out;
    for (auto& p : ui.posts)
      if (p.msg == qb::WM_TRANSFER_STATUS && p.wParam == channel) out.push_back((int)p.lParam);
    return out;
  }
  // Sends a login reply and waits until it is taken.
  void LogIn(int32_t user = 100) {
    net->Login().SetUser(user);
    net->Login().SetPassword("secret");
    server->Send(1, qb::MsgLoginOk(user));
    ASSERT_TRUE(PumpUntil([&] { return net->Login().LoggedIn(); }));
    Received r = server->Receive();  // the leave-word request
    ASSERT_NE(std::string::npos, r.text.find("<REQWORDS>"));
  }

  qb::CNetConfig config;
  std::unique_ptr<CEndpoint> server, peer;
  qb::CNetLinks links;
  CMyNodeList tree;
  qbtest::CRecordingUi ui;
  std::unique_ptr<qb::CNetState> net;
};

}  // namespace nettest

// The server link over real loopback UDP: queue limits, numbering, link
// choice, what a link delivers, and the dispatchers.
#include "nettest.h"
#include "net_access.h"

#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace qb;
using namespace nettest;

TEST(MsgQueue, RefusesThe1601stPushAndKeepsOrder) {
  CMsgQueue q;
  for (int i = 0; i < 1600; ++i) {
    std::unique_ptr<NetDatagram> d(new NetDatagram);
    d->text = std::to_string(i);
    ASSERT_TRUE(q.Push(d));
    EXPECT_FALSE(d);  // the queue owns it now
  }
  std::unique_ptr<NetDatagram> extra(new NetDatagram);
  EXPECT_FALSE(q.Push(extra));
  ASSERT_TRUE(extra);  // still the caller's
  EXPECT_EQ(1600u, q.Count());
  std::unique_ptr<NetDatagram> none;
  EXPECT_FALSE(q.Push(none));
  EXPECT_TRUE(q.Event().Wait(0));
  EXPECT_FALSE(q.Event().Wait(0));  // auto-reset
  EXPECT_EQ("0", q.Pop()->text);
  EXPECT_EQ("1", q.Pop()->text);
}

// The wake is for a reader inside a modal loop: one outstanding at a time,
// and the reader that took it and is held up in the first datagram (a box
// shown while handling it) is woken again for the ones behind it.
TEST(MsgQueue, OneWakeOutstandingAndAgainForWhatRemains) {
  CMsgQueue q;
  int wakes = 0;
  q.SetWake([&] { ++wakes; });
  auto push = [&](const char* text) {
    std::unique_ptr<NetDatagram> d(new NetDatagram);
    d->text = text;
    return q.Push(d);
  };
  ASSERT_TRUE(push("a"));
  EXPECT_EQ(1, wakes);
  ASSERT_TRUE(push("b"));
  EXPECT_EQ(1, wakes) << "the first wake is not taken yet";
  EXPECT_EQ("a", q.Pop()->text);
  EXPECT_EQ(1, wakes) << "b remains, and a wake is still outstanding";
  q.WakeTaken();
  EXPECT_EQ("b", q.Pop()->text);
  EXPECT_EQ(1, wakes) << "nothing remains";
  EXPECT_FALSE(q.Pop());
  ASSERT_TRUE(push("c"));
  EXPECT_EQ(2, wakes);
  ASSERT_TRUE(push("d"));
  q.WakeTaken();
  EXPECT_EQ("c", q.Pop()->text);
  EXPECT_EQ(3, wakes) << "the reader took the wake, then popped c: d wakes it again";
  q.WakeTaken();
  for (int i = 1; i < 1600; ++i) ASSERT_TRUE(push("x"));
  EXPECT_EQ(4, wakes);
  EXPECT_FALSE(push("over"));
  EXPECT_EQ(4, wakes) << "a refused push wakes nobody";
  q.SetWake(nullptr);
  while (q.Pop()) {
  }
  ASSERT_TRUE(push("e"));
  EXPECT_EQ(4, wakes) << "no wake set";
}

// Every use of the queue waits while another thread is inside it: here a
// thread that changes the wake and is held up there, in the old wake's end.
TEST(MsgQueue, EveryUseWaitsWhileAnotherThreadIsInside) {
  struct Guard {
    os::CEvent& inside;
    os::CEvent& release;
    ~Guard() {
      inside.Set();
      release.Wait(30000);
    }
  };
  CMsgQueue q;
  std::unique_ptr<NetDatagram> d(new NetDatagram);
  d->text = "a";
  ASSERT_TRUE(q.Push(d));
  os::CEvent inside, release;
  {
    std::shared_ptr<Guard> guard(new Guard{inside, release});
    q.SetWake([guard] {});
  }
  os::CThread changer, popper, counter, taker, pusher;
  ASSERT_TRUE(changer.Start([&] { q.SetWake(nullptr); }));
  ASSERT_TRUE(inside.Wait(30000));
  std::atomic<int> popped{0}, counted{0}, taken{0};
  std::unique_ptr<NetDatagram> got;
  int pushed = -1;
  ASSERT_TRUE(popper.Start([&] { got = q.Pop(), popped = 1; }));
  ASSERT_TRUE(counter.Start([&] { q.Count(), counted = 1; }));
  ASSERT_TRUE(taker.Start([&] { q.WakeTaken(), taken = 1; }));
  ASSERT_TRUE(pusher.Start([&] {
    std::unique_ptr<NetDatagram> e(new NetDatagram);
    pushed = q.Push(e);
  }));
  ASSERT_TRUE(pusher.Join(30000));
  EXPECT_EQ(0, pushed) << "a producer gives up after 100 ms";
  EXPECT_EQ(0, popped + counted + taken) << popped << counted << taken;
  release.Set();
  for (os::CThread* t : {&changer, &popper, &counter, &taker}) EXPECT_TRUE(t->Join(30000));
  ASSERT_TRUE(got);
  EXPECT_EQ("a", got->text);
  EXPECT_EQ(0u, q.Count());
}

TEST(ThreadSeam, TimedLockGivesUpWhileAnotherThreadHoldsIt) {
  // What a producer of the queue relies on: it waits 100 ms, then gives up.
  os::CEvent locked, release;
  os::CThread holder;
  os::CMutex m;
  ASSERT_TRUE(holder.Start([&] {
    m.Lock();
    locked.Set();
    release.Wait(5000);
    m.Unlock();
  }));
  ASSERT_TRUE(locked.Wait(5000));
  EXPECT_FALSE(m.Lock(100));
  release.Set();
  EXPECT_TRUE(holder.Join(5000));
  EXPECT_TRUE(m.Lock(100));
  m.Unlock();
}

class LinkTest : public NetFixture {};

TEST_F(LinkTest, NumbersFramingAndLinkChoice) {
  // A peer message before any server message carries 0.
  ASSERT_TRUE(net->Sender().SendToPeer("<CHAT><TEXT><1><hi>", false, kPeerAddr));
  Received p = peer->Receive();
  ASSERT_GE(p.link, 0);
  EXPECT_EQ("<0><CHAT><TEXT><1><hi>\r\n", p.text);
  EXPECT_TRUE(p.hadZero);

  // The first server message carries 1, the next 2; within one second both
  // take the same link, so they reach the same server port.
  ASSERT_TRUE(net->Sender().SendToServer("<REQWORDS><5>"));
  ASSERT_TRUE(net->Sender().SendToServer("<REQWORDS><6>"));
  Received a = server->Receive(), b = server->Receive();
  EXPECT_EQ("<1><REQWORDS><5>\r\n", a.text);
  EXPECT_EQ("<2><REQWORDS><6>\r\n", b.text);
  ASSERT_GE(a.link, 0);
  EXPECT_EQ(a.link, b.link);

  // Over many seconds every link gets used.
  bool used[kLinkCount] = {};
  for (int s = 0; s < 60; ++s) {
    FakeNow() += 1000;
    used[CMsgSender::ChooseLink()] = true;
  }
  for (bool u : used) EXPECT_TRUE(u);

  // A reply carries the caller's number and always goes through link 0.
  ASSERT_TRUE(net->Sender().ReplyToServer(41, MsgFavDownNodeOk()));
  Received r = server->Receive();
  EXPECT_EQ("<41><FAV><DOWN><NODE><OK>\r\n", r.text);
  EXPECT_EQ(0, r.link);
  EXPECT_EQ(2, net->Sender().m_nCounter);
  // Link 0 means the client's own first link too, whichever this second's is.
  while (CMsgSender::ChooseLink() != 0) FakeNow() += 1000;
  ASSERT_TRUE(net->Sender().SendToServer("<REQWORDS><7>"));
  uint16_t first = server->Receive().fromPort;
  do FakeNow() += 1000;
  while (CMsgSender::ChooseLink() == 0);
  ASSERT_TRUE(net->Sender().SendToServer("<REQWORDS><8>"));
  EXPECT_NE(first, server->Receive().fromPort);
  ASSERT_TRUE(net->Sender().ReplyToServer(42, MsgFavDownNodeOk()));
  EXPECT_EQ(first, server->Receive().fromPort);
}

TEST_F(LinkTest, DeliversWholeDatagramsUpToTheUdpMaximum) {
  // 1000 bytes without a zero byte: delivered whole.
  std::string thousand = "<1><CHAT>" + std::string(991, 'x');
  ASSERT_EQ(1000u, thousand.size());
  server->SendRaw(thousand, kClientPorts + 3);
  ASSERT_TRUE(links.ReceiveQueue().Event().Wait(3000));
  std::unique_ptr<NetDatagram> d = links.ReceiveQueue().Pop();
  ASSERT_TRUE(d);
  EXPECT_EQ(thousand, d->text);
  EXPECT_EQ(kServerAddr, d->address);

  // A long upload node (far beyond 1000 bytes) arrives too.
  std::string big(kMaxDatagram, 'y');
  big[0] = '<';
  server->SendRaw(big, kClientPorts + 1);
  ASSERT_TRUE(links.ReceiveQueue().Event().Wait(3000));
  d = links.ReceiveQueue().Pop();
  ASSERT_TRUE(d);
  EXPECT_EQ(kMaxDatagram, d->text.size());
  // A shorter one after it, without a zero byte, ends at its own end.
  server->SendRaw("<5><VER>", kClientPorts + 1);
  ASSERT_TRUE(links.ReceiveQueue().Event().Wait(3000));
  EXPECT_EQ("<5><VER>", links.ReceiveQueue().Pop()->text);

  // The text ends at the first zero byte.
  server->SendRaw(std::string("<2><VER>\0tail", 13), kClientPorts);
  ASSERT_TRUE(links.ReceiveQueue().Event().Wait(3000));
  EXPECT_EQ("<2><VER>", links.ReceiveQueue().Pop()->text);

  // An empty datagram is nothing: only the message behind it arrives.
  server->SendRaw("", kClientPorts);
  server->SendRaw(std::string("<3><VER>\0", 9), kClientPorts);
  ASSERT_TRUE(links.ReceiveQueue().Event().Wait(3000));
  EXPECT_EQ("<3><VER>", links.ReceiveQueue().Pop()->text);

  // A new start begins with an empty queue: what the last run received and
  // nobody took is not handed to the next.
  server->SendRaw(std::string("<4><VER>\0", 9), kClientPorts);
  ASSERT_TRUE(links.ReceiveQueue().Event().Wait(3000));
  ASSERT_EQ(kLinkCount, links.Start(config));
  EXPECT_FALSE(links.ReceiveQueue().Pop());
}

TEST_F(LinkTest, DispatchServerAndPeerMessages) {
  net->Login().SetUser(5);
  server->Send(7, "<LGI><OK><5>");
  ASSERT_TRUE(PumpUntil([&] { return net->Login().LoggedIn(); }));
  EXPECT_EQ(7, net->LastReceived());
  ASSERT_EQ(1u, PostCount(WM_LOGIN_RESULT));
  EXPECT_EQ(0x433u, ui.posts.back().msg);
  EXPECT_EQ(101u, ui.posts.back().wParam);  // accepted
  EXPECT_EQ(0, ui.posts.back().lParam);
  EXPECT_EQ("<1><REQWORDS><5>\r\n", server->Receive().text);

  // LGI from a peer is ignored, but its number is kept.
  qb::NetStateTestAccess::LoggedIn(*net) = false;
  peer->Send(9, "<LGI><OK><5>");
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 9; }));
  EXPECT_FALSE(net->Login().LoggedIn());
  EXPECT_EQ(1u, PostCount(WM_LOGIN_RESULT));

  // A datagram without any '>' is dropped; the number stays.
  peer->SendRaw(std::string("<12 no fields", 13) + '\0', kClientPorts);
  peer->Send(13, "<UNKNOWN>");
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 13; }));
}

TEST_F(LinkTest, WithoutAServerAddressEverythingFailsQuietly) {
  CNetConfig nowhere = config;
  nowhere.serverHost = "";
  nowhere.fallbackHost = "";
  CNetState lost(tree, ui, nowhere);
  lost.SetLinks(&links);
  EXPECT_FALSE(lost.Sender().SendToServer("<LIV>"));
  EXPECT_FALSE(lost.Sender().SendToPeer("<CHAT>", false, kPeerAddr));
  EXPECT_FALSE(lost.Sender().ReplyToServer(3, "<FAV>"));
  // A download whose READY cannot go out ends at once, as failed.
  NetStateTestAccess::TransferMode(lost) = CNetTransfer::kDownloading;
  FieldList count{"DOWN", "COUNT", "3"};
  lost.Transfer().OnFavReply(count);
  EXPECT_EQ(0, lost.Transfer().Mode());
  EXPECT_FALSE(lost.Transfer().DownloadList());
  ASSERT_FALSE(ui.posts.empty());
  EXPECT_EQ(0x432u, ui.posts.back().msg);
  EXPECT_EQ(102u, ui.posts.back().wParam);
  EXPECT_EQ(7026, ui.posts.back().lParam);
  ui.posts.clear();
  server->Send(4, "<VER><2000>");
  ASSERT_TRUE(links.ReceiveQueue().Event().Wait(3000));
  EXPECT_EQ(1, lost.PumpReceived());
  EXPECT_EQ(0, lost.LastReceived());
  EXPECT_TRUE(ui.posts.empty());
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(server->Quiet(100));
}

TEST_F(LinkTest, ServerAddressFoundOnDemandFromTheHostName) {
  net->Sender().m_serverAddress = 0;
  server->Send(4, "<VER><1061>");
  ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_NEW_VERSION) == 1; }));
  EXPECT_EQ(kServerAddr, net->Sender().m_serverAddress);
  // The second name is asked only when the first finds nothing.
  CNetConfig c = config;
  c.fallbackHost = DottedAddress(kPeerAddr);
  EXPECT_EQ(kServerAddr, ResolveServer(c));
  c.serverHost = "";
  EXPECT_EQ(kPeerAddr, ResolveServer(c));
  // An address known already is kept: the name is not looked up again.
  CMsgSender sender(c);
  EXPECT_EQ(kPeerAddr, sender.EnsureServerAddress());
  sender.m_serverAddress = kServerAddr;
  EXPECT_EQ(kServerAddr, sender.EnsureServerAddress());
}

TEST_F(LinkTest, ResolverThreadAnswersOnItsOwnThread) {
  CGetIpWithNameThread resolver;
  os::CEvent answered;
  std::atomic<uint32_t> got{0};
  ASSERT_TRUE(resolver.Start(config, [&](uint32_t a) {
    got = a;
    answered.Set();
  }));
  resolver.RequestResolve();
  ASSERT_TRUE(answered.Wait(5000));
  EXPECT_EQ(kServerAddr, got.load());
  EXPECT_TRUE(resolver.Stop());
  // Names that give no address are not answered with one of 0.
  CNetConfig nameless = config;
  nameless.serverHost = nameless.fallbackHost = "";
  os::CEvent again;
  ASSERT_TRUE(resolver.Start(nameless, [&](uint32_t a) {
    got = a;
    again.Set();
  }));
  resolver.RequestResolve();
  EXPECT_FALSE(again.Wait(300));
  EXPECT_TRUE(resolver.Stop());
}

// The receive worker waits inside one receive: a datagram ends the wait at
// once, a quiet socket only after the time given, an error is an error.
TEST(CommProxy, AReceiveWaitsForItsDatagramOrItsTime) {
  ASSERT_TRUE(os::NetStartup());
  os::CUdpSocket a, b, closed;
  char buf[8];
  uint32_t from = 0;
  uint16_t port = 0;
  EXPECT_EQ(-1, closed.ReceiveWithin(10, buf, sizeof buf, from, port));
  ASSERT_TRUE(a.Open() && b.Open());
  ASSERT_TRUE(a.Bind(0x0100007F, 0) && b.Bind(0x0100007F, 0));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(0, b.ReceiveWithin(30, buf, sizeof buf, from, port)) << "nothing came: a time-out";
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(25)) << "it waited its time";
  os::CThread later;
  ASSERT_TRUE(later.Start([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    a.SendTo("0123456789", 10, 0x0100007F, b.LocalPort());
  }));
  EXPECT_EQ(8, b.ReceiveWithin(os::kWaitForever, buf, sizeof buf, from, port)) << "cut to the buffer";
  EXPECT_EQ(0x0100007Fu, from);
  EXPECT_EQ(a.LocalPort(), port);
  EXPECT_EQ(std::string("01234567"), std::string(buf, 8));
  later.Join();
  // After a wait without end, a short one still ends in its time.
  EXPECT_EQ(0, b.ReceiveWithin(10, buf, sizeof buf, from, port));
  os::NetCleanup();
}

// A trace line: the clock to the microsecond, the hop, and the text up to
// its first line break, at most 60 bytes of it.
TEST(NetTrace, ALineHoldsTheTextUpToItsBreakAndNoMoreThan60Bytes) {
  EXPECT_EQ("12.346 sent <1><LGI>\n", os::NetTraceLine(12.3456, "sent", "<1><LGI>\r\n<more>"));
  EXPECT_EQ("0.000 shown \n", os::NetTraceLine(0, "shown", "\r\n测"));
  std::string longText(100, 'x');
  EXPECT_EQ("1.500 received " + std::string(60, 'x') + "\n", os::NetTraceLine(1.5, "received", longText));
  double a = os::NetTraceClockMs(), b = os::NetTraceClockMs();
  EXPECT_LE(a, b) << "the clock never goes back";
}

// A stop wakes the receive workers with a datagram to their own ports: the
// links end at once, not when the workers next look at the stop flag (a
// second later), with the links bound to an address or to every address.
TEST(CommProxy, StopsPromptlyAndFreesItsPort) {
  ASSERT_TRUE(os::NetStartup());
  CNetConfig c = TestConfig();
  c.localBasePort = (uint16_t)(kPortBase + 200);
  for (int round = 0; round < 3; ++round) {
    if (round == 2) c.bindAddress = 0;
    CNetLinks links;
    ASSERT_EQ(kLinkCount, links.Start(c)) << "round " << round;  // the ports were given back
    auto t0 = std::chrono::steady_clock::now();
    links.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(700)) << "round " << round;
    EXPECT_FALSE(links.SendQueue(0));
    os::CUdpSocket again;  // the port is free once stopped, not when the links go
    ASSERT_TRUE(again.Open());
    EXPECT_TRUE(again.Bind(c.bindAddress, (uint16_t)(c.localBasePort + 4)));
  }
  c.bindAddress = TestConfig().bindAddress;
  // A port already taken: that link stays down, the others run.
  os::CUdpSocket taken;
  ASSERT_TRUE(taken.Open());
  ASSERT_TRUE(taken.Bind(c.bindAddress, (uint16_t)(c.localBasePort + 2)));
  CNetLinks links;
  EXPECT_EQ(kLinkCount - 1, links.Start(c));
  EXPECT_FALSE(links.SendQueue(2));
  EXPECT_TRUE(links.SendQueue(1));
  links.Stop();
  os::NetCleanup();
}

// The logout at exit is queued just before the links stop: whatever is queued
// when a link stops is still sent, also what came after the stop was asked
// for, and the stop stays prompt.
TEST(CommProxy, StopSendsWhatIsQueuedFirst) {
  ASSERT_TRUE(os::NetStartup());
  CNetConfig c = TestConfig();
  c.localBasePort = (uint16_t)(kPortBase + 230);
  const uint16_t receiverPort = (uint16_t)(kPortBase + 240);
  os::CUdpSocket receiver;
  ASSERT_TRUE(receiver.Open());
  ASSERT_TRUE(receiver.Bind(kServerAddr, receiverPort));
  auto queue = [&](CNetLinks& links, const std::string& text) {
    std::unique_ptr<NetDatagram> d(new NetDatagram{text, kServerAddr, receiverPort});
    ASSERT_TRUE(links.SendQueue(0));
    EXPECT_TRUE(links.SendQueue(0)->Push(d));
  };
  auto receive = [&] {
    char buf[256] = {};
    uint32_t from = 0;
    uint16_t port = 0;
    if (receiver.WaitReadable(3000) != 1) return std::string("(nothing)");
    int n = receiver.ReceiveFrom(buf, sizeof buf - 1, from, port);
    return n > 0 ? std::string(buf) : std::string("(nothing)");
  };
  for (bool askedFirst : {false, true}) {
    CNetLinks links;
    ASSERT_EQ(kLinkCount, links.Start(c));
    // Asked first, the send thread has left before the datagrams are queued.
    if (askedFirst) links.Link(0).RequestStop();
    queue(links, "<1><LGO><first>\r\n");
    queue(links, "<2><LGO><second>\r\n");
    auto t0 = std::chrono::steady_clock::now();
    links.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2000));
    EXPECT_EQ("<1><LGO><first>\r\n", receive()) << "asked first: " << askedFirst;
    EXPECT_EQ("<2><LGO><second>\r\n", receive()) << "asked first: " << askedFirst;
  }
  os::NetCleanup();
}

// The start tells a port that cannot be had (the link stays down, the others
// start) from threads that cannot start (the start ends at that link).
TEST(CommProxy, TheStartReportsTakenPortsAndAThreadThatWouldNotStart) {
  ASSERT_TRUE(os::NetStartup());
  CNetConfig c = TestConfig();
  c.localBasePort = (uint16_t)(kPortBase + 210);
  {
    os::CUdpSocket a, b;
    ASSERT_TRUE(a.Open() && b.Open());
    ASSERT_TRUE(a.Bind(c.bindAddress, (uint16_t)(c.localBasePort + 0)));
    ASSERT_TRUE(b.Bind(c.bindAddress, (uint16_t)(c.localBasePort + 4)));
    CNetLinks links;
    LinkStartReport report;
    EXPECT_EQ(3, links.Start(c, &report));
    EXPECT_EQ(3, report.running);
    EXPECT_EQ((std::vector<uint16_t>{(uint16_t)(kPortBase + 210), (uint16_t)(kPortBase + 214)}),
              report.unavailablePorts);
    EXPECT_EQ(-1, report.threadFailed);
    for (int i : {1, 2, 3}) EXPECT_TRUE(links.Link(i).IsRunning()) << i;
    links.Stop();
  }
  CNetLinks links;
  LinkStartReport report;
  links.FailThreadStart(3);
  EXPECT_EQ(3, links.Start(c, &report));
  EXPECT_EQ(3, report.threadFailed);
  EXPECT_TRUE(report.unavailablePorts.empty());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(links.Link(i).IsRunning()) << i;
  EXPECT_FALSE(links.Link(3).IsRunning());
  EXPECT_FALSE(links.Link(4).IsRunning()) << "nothing starts after the failing link";
  links.Stop();
  // The refusal was for one start: the next start runs all five.
  EXPECT_EQ(kLinkCount, links.Start(c, &report));
  EXPECT_EQ(-1, report.threadFailed);
  links.Stop();
  os::NetCleanup();
}

#ifndef _WIN32
namespace {
// The descriptor the next socket would get.
int LowestFreeDescriptor() {
  int fd = open("/dev/null", O_RDONLY);
  if (fd >= 0) close(fd);
  return fd;
}
}  // namespace

// A link that cannot have its sockets, or cannot bind the address it was
// given, stays down and keeps no socket open.
TEST(CommProxy, ALinkThatCannotStartHoldsNoSocket) {
  ASSERT_TRUE(os::NetStartup());
  CNetConfig c = TestConfig();
  c.localBasePort = (uint16_t)(kPortBase + 220);
  c.bindAddress = MakeAddress(192, 0, 2, 1);  // no address of this machine
  const int spare = LowestFreeDescriptor();
  ASSERT_GE(spare, 0);
  CNetLinks links;
  LinkStartReport report;
  EXPECT_EQ(0, links.Start(c, &report));
  EXPECT_EQ(5u, report.unavailablePorts.size());
  EXPECT_EQ(-1, report.threadFailed);
  EXPECT_EQ(spare, LowestFreeDescriptor());
  links.Stop();

  // Room for one descriptor only: the sending socket opens, the receiving one not.
  c.bindAddress = kClientBind;
  rlimit old{};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &old));
  rlimit tight = old;
  tight.rlim_cur = (rlim_t)spare + 1;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &tight));
  int running = links.Start(c, &report);
  int after = LowestFreeDescriptor();
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &old));
  EXPECT_EQ(0, running);
  EXPECT_EQ(5u, report.unavailablePorts.size());
  EXPECT_EQ(spare, after);
  links.Stop();
  EXPECT_EQ(kLinkCount, links.Start(c, &report)) << "the ports were never taken";
  links.Stop();
  os::NetCleanup();
}
#endif

// The resolver's answer fills in a missing server address and replaces none.
TEST_F(LinkTest, TheResolverAnswerFillsOnlyAMissingAddress) {
  net->OnServerAddress(MakeAddress(10, 9, 8, 7));
  EXPECT_EQ(kServerAddr, net->Sender().m_serverAddress);
  net->Sender().m_serverAddress = 0;
  net->OnServerAddress(0);
  EXPECT_EQ(0u, net->Sender().m_serverAddress);
  net->OnServerAddress(MakeAddress(10, 9, 8, 7));
  EXPECT_EQ(MakeAddress(10, 9, 8, 7), net->Sender().m_serverAddress);
}

// A state without its links (or with a link down) sends and receives nothing.
TEST(NetState, WithoutLinksNothingGoesOutOrComesIn) {
  CMyNodeList tree;
  qbtest::CRecordingUi ui;
  CNetState state(tree, ui, TestConfig());
  state.Sender().m_serverAddress = kServerAddr;
  EXPECT_EQ(0, state.Sender().SendToServer("<LIV>"));
  EXPECT_EQ(0, state.Sender().ReplyToServer(1, "<FAV>"));
  EXPECT_EQ(0, state.PumpReceived());
}

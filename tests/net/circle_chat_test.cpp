// Circles and chat against a scripted server and a scripted peer.
#include "net/netstate.h"
#include "net_access.h"
#include "panels/circles.h"
#include "panels/panel_logic.h"
#include "nettest.h"

#include <chrono>
#include <thread>

#ifndef _WIN32
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qb;
using namespace nettest;

namespace {

const int32_t kMe = 100, kPeer = 200, kAway = 300;

CMyNode* NewNode(CMyNodeList& tree, int kind, const std::string& name, const std::string& url = "",
                 CMyNode* parent = nullptr) {
  CMyNode* n = new CMyNode;
  n->m_nKind = kind;
  n->m_strName = name;
  n->m_strAddress = url;
  n->m_pParent = parent;
  EXPECT_TRUE(tree.AddNode(n));
  return n;
}

}  // namespace

class CircleTest : public NetFixture {
 protected:
  // Logs in, asks for the circle of `node` and answers with a member list of
  // the user, a reachable peer and an unreachable member.
  void EnterWithMembers(CMyNode* node, const std::string& circle) {
    if (!net->Login().LoggedIn()) LogIn(kMe);
    size_t opened = PostCount(WM_OPEN_CHAT);
    ASSERT_EQ(kCircleRequestSent, net->Circles().RequestCircle(node));
    server->Receive();
    std::vector<GroupListMember> members = {{DottedAddress(kClientAddr), "我", kMe, circle},
                                            {DottedAddress(kPeerAddr), "朋友", kPeer, circle},
                                            {"0.0.0.0", "不在", kAway, circle}};
    server->Send(2, MsgGroupList(circle, members));
    ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_OPEN_CHAT) == opened + 1; }));
  }
  void PeerSays(int32_t number, const std::string& body) {
    size_t before = ui.posts.size();
    peer->Send(number, body);
    ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == number; }));
    (void)before;
  }
};

TEST_F(CircleTest, FilteredNameAndLongAddressInTheRequest) {
  LogIn(kMe);
  // A name made only of filtered words is not sent, and stays shortened.
  std::string bad = std::string(kCircleNameFilter[0]) + kCircleNameFilter[1];
  CMyNode* cat = NewNode(tree, UrlCategory, bad);
  EXPECT_EQ(kCircleRequestNotSent, net->Circles().EnterCircle(cat));
  EXPECT_LT(cat->m_strName.size(), bad.size());
  EXPECT_TRUE(server->Quiet(150));

  // A name needs two bytes: one Chinese character will do, a letter will not.
  EXPECT_EQ(kCircleRequestNotSent, net->Circles().EnterCircle(NewNode(tree, UrlCategory, "x")));
  EXPECT_TRUE(server->Quiet(100));
  EXPECT_EQ(kCircleRequestSent, net->Circles().EnterCircle(NewNode(tree, UrlCategory, "书")));
  EXPECT_NE(std::string::npos, server->Receive().text.find("<GROUP><UPNODE><100><书>"));

  // A filtered word inside a name goes; the rest is sent.
  CMyNode* mixed = NewNode(tree, UrlCategory, std::string("新闻") + kCircleNameFilter[0] + "网");
  EXPECT_EQ(kCircleRequestSent, net->Circles().EnterCircle(mixed));
  EXPECT_EQ("新闻网", mixed->m_strName);
  FieldList f;
  ASSERT_TRUE(SplitFields(server->Receive().text, f));
  EXPECT_EQ((FieldList{"3", "GROUP", "UPNODE", "100", "新闻网", "0", "新闻网", "", "", "Reserved"}), f);

  // A 300-byte address: only the first 200 bytes go; the item keeps all.
  std::string url = "http://example.com/" + std::string(281, 'q');
  CMyNode* item = NewNode(tree, UrlItem, "长地址", url, mixed);
  EXPECT_EQ(kCircleRequestSent, net->Circles().EnterCircle(item));
  ASSERT_TRUE(SplitFields(server->Receive().text, f));
  EXPECT_EQ(url.substr(0, 200), f[6]);
  EXPECT_EQ("新闻网", f[7]);
  EXPECT_EQ(300u, item->m_strAddress.size());
  // Only an item names its parent; a category inside another does not.
  CMyNode* inner = NewNode(tree, UrlCategory, "国内", "", mixed);
  EXPECT_EQ(kCircleRequestSent, net->Circles().EnterCircle(inner));
  ASSERT_TRUE(SplitFields(server->Receive().text, f));
  EXPECT_EQ("", f.at(7));
  // An item with no parent (one being edited, not yet placed) names none.
  CMyNode loose;
  loose.m_nKind = UrlItem;
  loose.m_strName = "散页";
  loose.m_strAddress = "http://loose/";
  EXPECT_EQ(kCircleRequestSent, net->Circles().EnterCircle(&loose));
  ASSERT_TRUE(SplitFields(server->Receive().text, f));
  EXPECT_EQ("http://loose/", f.at(6));
  EXPECT_EQ("", f.at(7));

  // The server names the circle by those 200 bytes: the item gets its mark.
  int saves = 0;
  net->Circles().m_saveFavorites = [&] { return ++saves; };
  CMyNode* shown = nullptr;
  net->Circles().m_showCategoryItems = [&](CMyNode* c) { shown = c; };
  qb::NetStateTestAccess::RequestingNode(*net) = item;
  server->Send(3, MsgGroupList(url.substr(0, 200), {{DottedAddress(kClientAddr), "我", kMe, url.substr(0, 200)}}));
  ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_OPEN_CHAT) == 1; }));
  EXPECT_EQ("GROUP", item->m_strCircle);
  EXPECT_EQ(1, saves);
  EXPECT_EQ(mixed, shown);
  EXPECT_EQ("长地址", net->Circles().CircleTitle());
  // With no panel to show the items, nor a file to save, the item is marked all the same.
  net->Circles().m_saveFavorites = nullptr;
  net->Circles().m_showCategoryItems = nullptr;
  item->m_strCircle.clear();
  qb::NetStateTestAccess::RequestingNode(*net) = item;
  server->Send(4, MsgGroupList(url.substr(0, 200), {{DottedAddress(kClientAddr), "我", kMe, url.substr(0, 200)}}));
  EXPECT_TRUE(PumpUntil([&] { return item->m_strCircle == "GROUP"; }));
}

TEST_F(CircleTest, ListWithAnotherNameStillBecomesCurrentWithoutMark) {
  LogIn(kMe);
  CMyNode* cat = NewNode(tree, UrlCategory, "音乐");
  qb::NetStateTestAccess::RequestingNode(*net) = cat;
  // The count rules: a third member past a count of 2 is not read.
  FieldList f{"LIST", "2", "别的圈", "1.2.3.4", "x", "7", "别的圈", "1.2.3.5", "y", "8", "第三",
              "1.2.3.6", "z", "9", "别的圈"};
  net->Circles().OnGroupReply(f);
  EXPECT_EQ("别的圈", net->Circles().CurrentCircle());
  // A member listed in another circle is reached by leave-words.
  ASSERT_EQ(2u, net->Circles().Members().size());
  EXPECT_EQ("x(7)", net->Circles().Members()[0]->display);
  EXPECT_EQ("y(8)留言", net->Circles().Members()[1]->display);
  EXPECT_EQ("Reserved", cat->m_strCircle);
  // A count of 0 changes nothing.
  FieldList zero{"LIST", "0", "第三"}, unnamed{"LIST", "1", "", "1.2.3.4", "x", "7", ""};
  FieldList unknown{"LISTS", "1", "第四", "1.2.3.4", "x", "7", "第四"};
  net->Circles().OnGroupReply(zero);
  net->Circles().OnGroupReply(unnamed);
  net->Circles().OnGroupReply(unknown);
  EXPECT_EQ("别的圈", net->Circles().CurrentCircle());
  EXPECT_EQ(2u, net->Circles().Members().size());
  // The next list replaces the members.
  FieldList next{"LIST", "1", "第五", "1.2.3.7", "w", "9", "第五"};
  net->Circles().OnGroupReply(next);
  ASSERT_EQ(1u, net->Circles().Members().size());
  EXPECT_EQ("w(9)", net->Circles().Members()[0]->display);
  // Replies to the request itself are boxes.
  FieldList ok{"UPNODE", "OK"}, failed{"UPNODE", "FAILED"};
  net->Circles().OnGroupReply(ok);
  net->Circles().OnGroupReply(failed);
  ASSERT_EQ(2u, ui.boxes.size());
  EXPECT_EQ("加入社区成功！", ui.boxes[0].text);
  EXPECT_EQ("加入社区失败！", ui.boxes[1].text);
}

TEST_F(CircleTest, EnterAnnouncesLeaveAnnouncesAndEmpties) {
  CMyNode* cat = NewNode(tree, UrlCategory, "读书");
  int saves = 0, shown = 0;
  net->Circles().m_saveFavorites = [&] { return ++saves; };
  net->Circles().m_showCategoryItems = [&](CMyNode*) { ++shown; };
  EnterWithMembers(cat, "读书");
  EXPECT_EQ("GROUP", cat->m_strCircle);
  EXPECT_EQ(1, saves);
  EXPECT_EQ(0, shown) << "a category's mark shows in no item list";
  ASSERT_EQ(3u, net->Circles().Members().size());
  EXPECT_EQ("朋友(200)", net->Circles().Members()[1]->display);
  EXPECT_EQ("不在(300)留言", net->Circles().Members()[2]->display);

  // Only the reachable other member hears of the arrival.
  FieldList f;
  ASSERT_TRUE(SplitFields(peer->Receive().text, f));
  EXPECT_EQ((FieldList{"2", "GROUP", "USERENTER", FormatNumber(AddressNumber(kClientAddr)), "我", "100", "读书"}), f);
  EXPECT_TRUE(peer->Quiet(150));
  // Announcements go to the members of this circle with an address, the user's
  // own record left out; a member who moved to another circle hears none.
  std::vector<uint32_t> to;
  net->Sender().m_sendHook = [&](const NetDatagram& d) {
    to.push_back(d.address);
    return 1;
  };
  net->Circles().AnnounceEnter();
  EXPECT_EQ((std::vector<uint32_t>{kPeerAddr}), to);
  net->Circles().Members()[1]->circle = "别的圈";
  net->Circles().AnnounceEnter();
  EXPECT_EQ(1u, to.size());
  net->Circles().Members()[1]->circle = "读书";
  net->Sender().m_sendHook = nullptr;

  net->Circles().SetChatWindowOpen(true);
  net->Circles().LeaveCurrentCircle();
  ASSERT_TRUE(SplitFields(peer->Receive().text, f));
  EXPECT_EQ((FieldList{"2", "GROUP", "USEROUT", "100", "读书", FormatNumber(AddressNumber(kClientAddr)), "我"}), f);
  EXPECT_TRUE(net->Circles().Members().empty());
  EXPECT_FALSE(net->Circles().IsCircleCurrent());
  EXPECT_EQ("QB4K", net->Circles().CircleTitle());
  EXPECT_EQ(1u, PostCount(WM_CLOSE_CHAT));

  // Logout leaves the circle first, then says goodbye twice.
  EnterWithMembers(cat, "读书");
  peer->Receive();
  ASSERT_TRUE(net->Login().SendLogout());
  ASSERT_TRUE(SplitFields(peer->Receive().text, f));
  EXPECT_EQ("USEROUT", f[2]);
  EXPECT_NE(std::string::npos, server->Receive().text.find("<LGO>"));
  EXPECT_NE(std::string::npos, server->Receive().text.find("<LGO>"));

  // Dropping out names the circle's key.
  EXPECT_TRUE(net->Circles().DropOutOfCircle(cat));
  EXPECT_NE(std::string::npos, server->Receive().text.find("<GROUP><DROPOUT><读书><100>"));
  // A program item has no circle, and no node is nothing to drop.
  CMyNode* program = NewNode(tree, ProgramItem, "计算器");
  EXPECT_EQ(0, net->Circles().DropOutOfCircle(program));
  EXPECT_EQ(0, net->Circles().DropOutOfCircle(nullptr));
  EXPECT_TRUE(server->Quiet(150));
}

TEST_F(CircleTest, UserEnterAndUserOutRules) {
  CMyNode* cat = NewNode(tree, UrlCategory, "读书");
  EnterWithMembers(cat, "读书");
  size_t changed = PostCount(WM_MEMBER_CHANGED);

  // USEROUT: the member stays, marked for leave-words.
  PeerSays(20, MsgUserOut(kPeer, "读书", AddressNumber(kPeerAddr), "朋友"));
  EXPECT_EQ("朋友(200)留言", net->Circles().FindMemberByUser(kPeer)->display);
  EXPECT_EQ(changed + 1, PostCount(WM_MEMBER_CHANGED));
  EXPECT_EQ(kPeerAddr, net->Circles().FindMemberByUser(kPeer)->address);

  // USERENTER for a known member in another circle: new nickname, no suffix.
  PeerSays(21, MsgUserEnter(AddressNumber(kPeerAddr), "新名", kPeer, "另一个圈"));
  CircleMember* m = net->Circles().FindMemberByUser(kPeer);
  EXPECT_EQ("新名(200)", m->display);
  EXPECT_EQ("另一个圈", m->circle);
  EXPECT_EQ(changed + 2, PostCount(WM_MEMBER_CHANGED));
  EXPECT_EQ(m->serial, ui.posts.back().wParam);
  EXPECT_EQ(m, net->Circles().FindMember(ui.posts.back().wParam));

  // USERENTER for a stranger adds a member; an incomplete one does nothing.
  PeerSays(22, MsgUserEnter(AddressNumber(MakeAddress(10, 1, 2, 3)), "新人", 400, "读书"));
  EXPECT_EQ(4u, net->Circles().Members().size());
  EXPECT_EQ(1u, PostCount(WM_MEMBER_ADDED));
  const CircleMember* stranger = net->Circles().FindMemberByUser(400);
  ASSERT_TRUE(stranger);
  EXPECT_EQ(MakeAddress(10, 1, 2, 3), stranger->address);
  EXPECT_EQ("新人", stranger->nickname);
  EXPECT_EQ("读书", stranger->circle);
  EXPECT_EQ("新人(400)", stranger->display);
  PeerSays(23, "<GROUP><USERENTER><1><x><500>");
  EXPECT_EQ(4u, net->Circles().Members().size());

  // Two members listed are enough for USEROUT.
  qb::NetStateTestAccess::Members(*net).resize(2);
  PeerSays(24, MsgUserOut(kPeer, "读书", 0, "新名"));
  EXPECT_EQ("新名(200)留言", net->Circles().FindMemberByUser(kPeer)->display);

  // With a single member listed USEROUT changes nothing.
  qb::NetStateTestAccess::Members(*net).resize(1);
  size_t before = PostCount(WM_MEMBER_CHANGED);
  PeerSays(25, MsgUserOut(kMe, "读书", 0, "我"));
  EXPECT_EQ("我(100)", net->Circles().Members()[0]->display);
  EXPECT_EQ(before, PostCount(WM_MEMBER_CHANGED));
}

class ChatTest : public CircleTest {
 protected:
  void SetUp() override {
    CircleTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    cat = NewNode(tree, UrlCategory, "读书");
    EnterWithMembers(cat, "读书");
    peer->Receive();  // the arrival announcement
  }
  CMyNode* cat = nullptr;
};

// Members without an address (offline, reached by leave-words only), and
// those listed in another circle, are left out of what goes to the whole circle.
TEST_F(ChatTest, LinesToTheCircleGoOnlyToMembersWithAnAddress) {
  auto elsewhere = std::make_unique<CircleMember>();
  elsewhere->user = 700;
  elsewhere->address = MakeAddress(10, 7, 7, 7);
  elsewhere->circle = "别处";
  qb::NetStateTestAccess::Members(*net).push_back(std::move(elsewhere));
  auto offline = std::make_unique<CircleMember>();
  offline->user = 701;
  offline->circle = "读书";
  qb::NetStateTestAccess::Members(*net).push_back(std::move(offline));
  std::vector<NetDatagram> sent;
  net->Sender().m_sendHook = [&](const NetDatagram& d) {
    sent.push_back(d);
    return 1;
  };
  ChatSendInput in;
  in.text = "hi";
  in.format = DefaultInputFormat();
  EXPECT_TRUE(net->Chat().OnChatSend(in).sent);
  ASSERT_EQ(2u, sent.size()) << "the peer, then the user's own record for the echo";
  EXPECT_EQ(kPeerAddr, sent[0].address);
  EXPECT_EQ(kClientAddr, sent[1].address);
  sent.clear();
  net->Circles().LeaveCurrentCircle();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(kPeerAddr, sent[0].address);
  EXPECT_NE(std::string::npos, sent[0].text.find("<USEROUT>"));
  // Out of the circle nobody is left to hear the line: it is not reported sent.
  sent.clear();
  ChatSendOutcome out = net->Chat().OnChatSend(in);
  EXPECT_FALSE(out.sent);
  EXPECT_TRUE(out.clearInput);
  EXPECT_TRUE(sent.empty());
  // A line to one member with no member named goes nowhere.
  EXPECT_EQ(0, net->Chat().SendChat(false, nullptr, "hi", in.format));
  EXPECT_TRUE(sent.empty());
  net->Sender().m_sendHook = nullptr;
}

// A line whose every datagram the queues refuse is not reported sent; one
// datagram taken is enough.
TEST_F(ChatTest, LineToTheCircleRefusedEverywhereIsNotSent) {
  int tries = 0;
  net->Sender().m_sendHook = [&](const NetDatagram&) {
    ++tries;
    return 0;
  };
  ChatSendInput in;
  in.text = "hi";
  in.format = DefaultInputFormat();
  EXPECT_FALSE(net->Chat().OnChatSend(in).sent);
  EXPECT_EQ(2, tries);
  tries = 0;
  net->Sender().m_sendHook = [&](const NetDatagram&) { return ++tries == 2 ? 1 : 0; };
  EXPECT_TRUE(net->Chat().OnChatSend(in).sent);
  EXPECT_EQ(2, tries);
  net->Sender().m_sendHook = nullptr;
}

TEST_F(ChatTest, ToEverybodyCutEscapedAndShownBack) {
  ChatSendInput in;
  in.text = std::string(700, 'w');
  in.format = DefaultInputFormat();
  ChatSendOutcome out = net->Chat().OnChatSend(in);
  EXPECT_TRUE(out.sent);
  EXPECT_TRUE(out.clearInput);
  EXPECT_TRUE(out.echo.empty());  // the own line comes back over the network
  FieldList f;
  ASSERT_TRUE(SplitFields(peer->Receive().text, f));
  ASSERT_EQ(17u, f.size());
  EXPECT_EQ("TEXT", f[2]);
  EXPECT_EQ(600u, f[4].size());
  // The user's own record is a member, so the client hears itself too
  // (where peers and the client share their ports, that is not under Wine).
  const bool hearsItself = kPeerPorts == kClientPorts;
  if (hearsItself) {
    ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_CHAT_ARRIVED) == 1; }));
  }

  in.text = "a<b>c";
  in.receiveOnlyFromSelected = true;  // then the line is echoed at once
  out = net->Chat().OnChatSend(in);
  ASSERT_EQ(2u, out.echo.size());
  EXPECT_EQ("a<b>c", out.echo[1].text);
  EXPECT_NE(std::string::npos, out.echo[0].text.find("我(100)"));
  Received r = peer->Receive();
  EXPECT_NE(std::string::npos, r.text.find("<a\xA8\xB5" "b\xA8\xB6" "c>"));
  if (hearsItself) {
    ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_CHAT_ARRIVED) == 2; }));
  }

  // The peer answers with the same escaped text and its own font.
  CharFormat cf = DefaultInputFormat();
  cf.crTextColor = 0xFF8000;
  net->Chat().TakeRecords();
  PeerSays(30, MsgChatText(kPeer, EscapeChatText("a<b>c"), cf));
  ASSERT_EQ(1u, net->Chat().Records().size());
  EXPECT_EQ(kPeerAddr, net->Chat().Records()[0]->address);
  EXPECT_EQ(0, net->Chat().Records()[0]->kind) << "a peer's line";
  std::vector<ChatLine> lines;
  ASSERT_TRUE(net->Chat().OnChatArrived(0, false, nullptr, lines));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(0u, lines[0].text.find("\r\n朋友(200)   "));
  EXPECT_EQ("a<b>c", lines[1].text);
  EXPECT_TRUE(lines[1].format == cf);
  EXPECT_TRUE(net->Chat().Records().empty());

  // The word filter works on lines to everybody too; a line of nothing but
  // such words is not sent at all, and the box is cleared all the same.
  in.receiveOnlyFromSelected = false;
  in.text = std::string("好") + kChatWordFilter[2] + "书";
  out = net->Chat().OnChatSend(in);
  EXPECT_TRUE(out.sent);
  ASSERT_TRUE(SplitFields(peer->Receive().text, f));
  EXPECT_EQ("好书", f.at(4));
  in.text = std::string(kChatWordFilter[0]) + kChatWordFilter[1];
  out = net->Chat().OnChatSend(in);
  EXPECT_FALSE(out.sent);
  EXPECT_TRUE(out.clearInput);
  EXPECT_TRUE(peer->Quiet(150));
}

// A peer's chat line that lacks its kind, its user or its text is dropped:
// nothing is queued and the window is not told of a line.
TEST_F(ChatTest, BrokenLinesFromAPeerAreDropped) {
  net->Chat().TakeRecords();
  size_t arrived = PostCount(WM_CHAT_ARRIVED);
  PeerSays(50, "<CHAT><TEXT><200>");
  PeerSays(51, "<CHAT><WORDS><200><hi>");
  PeerSays(52, "<CHAT><TEXT>");
  EXPECT_TRUE(net->Chat().Records().empty());
  EXPECT_EQ(arrived, PostCount(WM_CHAT_ARRIVED));
  PeerSays(53, "<CHAT><TEXT><200><hi>");
  ASSERT_EQ(1u, net->Chat().Records().size());
  EXPECT_EQ("hi", net->Chat().Records()[0]->text);
  EXPECT_EQ(arrived + 1, PostCount(WM_CHAT_ARRIVED));
}

// Lines that came together are handed to the window together, once, at
// once (not posted to wait their turn), when they have all been handled.
TEST_F(ChatTest, LinesThatCameTogetherAreHandedOverOnceAtOnce) {
  net->Chat().TakeRecords();
  size_t before = ui.posts.size();
  for (int32_t k = 60; k < 63; ++k) peer->Send(k, "<CHAT><TEXT><200><line " + std::to_string(k) + ">");
  // On the clock of the machine: the tests' clock stands still.
  for (int i = 0; i < 300 && links.ReceiveQueue().Count() < 3; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(3u, links.ReceiveQueue().Count());
  EXPECT_EQ(before, ui.posts.size()) << "nothing is told before the handling";
  net->PumpReceived();
  ASSERT_EQ(3u, net->Chat().Records().size());
  ASSERT_EQ(before + 1, ui.posts.size());
  EXPECT_EQ(WM_CHAT_ARRIVED, ui.posts.back().msg);
  EXPECT_TRUE(ui.posts.back().delivered);
  net->PumpReceived();
  EXPECT_EQ(before + 1, ui.posts.size()) << "told once";
}

// Chinese words whose bytes hold A8 B5 / A8 B6 across two characters travel
// whole, beside real brackets, both ways.
TEST_F(ChatTest, ChineseWordsArriveWhole) {
  ChatSendInput in;
  in.text = "报道<定点>法定";
  in.format = DefaultInputFormat();
  ASSERT_TRUE(net->Chat().OnChatSend(in).sent);
  FieldList f;
  ASSERT_TRUE(SplitFields(peer->Receive().text, f));
  ASSERT_GE(f.size(), 5u);
  EXPECT_EQ("\xB1\xA8\xB5\xC0" "\xA8\xB5" "\xB6\xA8\xB5\xE3" "\xA8\xB6" "\xB7\xA8\xB6\xA8", f[4]);
  if (kPeerPorts == kClientPorts) {  // the client hears its own line too
    ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_CHAT_ARRIVED) == 1; }));
  }

  net->Chat().TakeRecords();
  PeerSays(31, MsgChatTextPlain(kPeer, EscapeChatText("波段>报道")));
  std::vector<ChatLine> lines;
  ASSERT_TRUE(net->Chat().OnChatArrived(0, false, nullptr, lines));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("波段>报道", lines[1].text);
}

// What the chat window starts with: the conversation in green 新宋体, the
// input in black 宋体, both 10.5 points (210 twips) in the GB2312 set.
TEST(ChatFormats, TheConversationAndTheInputStartAsDesigned) {
  CharFormat shown = DefaultDisplayFormat(), typed = DefaultInputFormat();
  for (const CharFormat* cf : {&shown, &typed}) {
    EXPECT_EQ(60u, cf->cbSize);
    EXPECT_EQ(0xF800003Fu, cf->dwMask);
    EXPECT_EQ(0u, cf->dwEffects);
    EXPECT_EQ(210, cf->yHeight);
    EXPECT_EQ(0, cf->yOffset);
    EXPECT_EQ(134, cf->bCharSet);
    EXPECT_EQ(0, cf->bPitchAndFamily);
  }
  EXPECT_EQ(0x008000u, shown.crTextColor);
  EXPECT_EQ("新宋体", shown.faceName);
  EXPECT_EQ(0u, typed.crTextColor);
  EXPECT_EQ("宋体", typed.faceName);
}

#ifndef _WIN32
// Runs `body` in a child process whose machine name is `name`; its exit code,
// or 77 where the system will not give the child a name of its own.
static int WithMachineName(const std::string& name, const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWUTS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWUTS) != 0) _exit(77);
    if (sethostname(name.data(), name.size()) != 0) _exit(77);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Without a member record of his own the user's lines are headed by the
// machine's name without its outer blanks, and by "自己" when it has none.
TEST(ChatEcho, HeadedByTheTrimmedMachineNameWithoutAnOwnRecord) {
  const struct {
    const char* machine;
    const char* shown;
  } cases[] = {{"  lab pc  ", "lab pc"}, {"pc7", "pc7"}, {"   ", "自己"}, {"", "自己"}};
  for (const auto& c : cases) {
    int code = WithMachineName(c.machine, [&] {
      CMyNodeList tree;
      qbtest::CRecordingUi ui;
      CNetState net(tree, ui, TestConfig());
      std::vector<ChatLine> lines = net.Chat().EchoOwnText("hi");
      if (lines.size() != 2 || lines[1].text != "hi") return 1;
      std::string head = "\r\n" + std::string(c.shown) + "      ";
      return lines[0].text.compare(0, head.size(), head) == 0 ? 0 : 2;
    });
    if (code == 77) GTEST_SKIP() << "no machine name of its own for a child here";
    EXPECT_EQ(0, code) << "'" << c.machine << "'";
  }
}
#endif

// The cut at 600 bytes keeps a double-byte character whole: lead bytes run
// from 0x81 to 0xFE, so 0x80 and 0xFF stand alone; and a character reference.
TEST_F(ChatTest, TheCutKnowsTheLeadBytes) {
  const struct {
    const char* tail;
    size_t kept;
  } cases[] = {{"\x81\x40", 599}, {"\xFE\xA1", 599}, {"\x80\x41", 600}, {"\xFF\x41", 600}, {"&#x1F600;", 599}};
  // The character at the cut, with more text after it or as the last one.
  for (const char* after : {"www", ""}) {
    for (const auto& c : cases) {
      ChatSendInput in;
      in.text = std::string(599, 'w') + c.tail + after;
      in.format = DefaultInputFormat();
      ASSERT_TRUE(net->Chat().OnChatSend(in).sent);
      FieldList f;
      ASSERT_TRUE(SplitFields(peer->Receive().text, f));
      ASSERT_GE(f.size(), 5u);
      EXPECT_EQ(c.kept, f[4].size()) << (unsigned)(unsigned char)c.tail[0] << " then '" << after << "'";
    }
  }
}

TEST_F(ChatTest, ToOneMemberAndLeaveWords) {
  ChatSendInput in;
  in.sendOnlyToSelected = true;
  in.text = "你好";
  // Nobody selected: nothing happens and the input keeps its text.
  ChatSendOutcome out = net->Chat().OnChatSend(in);
  EXPECT_FALSE(out.clearInput);
  EXPECT_FALSE(out.sent);

  // Reachable: a plain line without font fields, prefixed with the target.
  in.selected = net->Circles().FindMemberByUser(kPeer);
  out = net->Chat().OnChatSend(in);
  EXPECT_TRUE(out.sent);
  FieldList f;
  ASSERT_TRUE(SplitFields(peer->Receive().text, f));
  EXPECT_EQ((FieldList{"2", "CHAT", "TEXT", "100", "对 [朋友(200)]说:   你好"}), f);
  // Reachable but in another circle: a leave-word through the server.
  net->Circles().FindMemberByUser(kPeer)->circle = "别的圈";
  out = net->Chat().OnChatSend(in);
  EXPECT_TRUE(out.sent);
  EXPECT_EQ("<3><LEAVEWORD><100><200>" + std::string("我(100)给你留言:你好") + "\r\n", server->Receive().text);
  EXPECT_TRUE(peer->Quiet(100));
  net->Circles().FindMemberByUser(kPeer)->circle = "读书";

  // Unreachable: a leave-word of at most 240 bytes through the server.
  in.selected = net->Circles().FindMemberByUser(kAway);
  in.text = std::string(300, 'L');
  out = net->Chat().OnChatSend(in);
  EXPECT_TRUE(out.sent);
  EXPECT_EQ("(!留言莫超过120字!)" + std::string(240, 'L'), out.echo[1].text);
  std::string expected = "<4><LEAVEWORD><100><300>" + std::string("我(100)给你留言:") + std::string(240, 'L') + "\r\n";
  EXPECT_EQ(expected, server->Receive().text);
  // Exactly 240 bytes go whole, without the warning.
  in.text = std::string(240, 'M');
  out = net->Chat().OnChatSend(in);
  ASSERT_EQ(2u, out.echo.size());
  EXPECT_EQ(std::string(240, 'M'), out.echo[1].text);
  EXPECT_EQ("<5><LEAVEWORD><100><300>" + std::string("我(100)给你留言:") + std::string(240, 'M') + "\r\n",
            server->Receive().text);
  // One byte more is cut, with the warning.
  in.text = std::string(241, 'N');
  out = net->Chat().OnChatSend(in);
  ASSERT_EQ(2u, out.echo.size());
  EXPECT_EQ("(!留言莫超过120字!)" + std::string(240, 'N'), out.echo[1].text);
  server->Receive();

  // A cut never splits a double-byte character: 1 + 2 * 119 bytes stay.
  in.text = "x";
  for (int i = 0; i < 150; ++i) in.text += "字";
  out = net->Chat().OnChatSend(in);
  std::string kept = "x";
  for (int i = 0; i < 119; ++i) kept += "字";
  EXPECT_EQ("<7><LEAVEWORD><100><300>" + std::string("我(100)给你留言:") + kept + "\r\n", server->Receive().text);
  // Starting on a double-byte character, 120 of them fill the 240 bytes.
  in.text.clear();
  kept.clear();
  for (int i = 0; i < 150; ++i) in.text += "字";
  for (int i = 0; i < 120; ++i) kept += "字";
  out = net->Chat().OnChatSend(in);
  EXPECT_EQ("<8><LEAVEWORD><100><300>" + std::string("我(100)给你留言:") + kept + "\r\n", server->Receive().text);

  // Only filtered words: nothing is sent, the box is cleared.
  in.text = std::string(kChatWordFilter[0]) + kChatWordFilter[1];
  out = net->Chat().OnChatSend(in);
  EXPECT_FALSE(out.sent);
  EXPECT_TRUE(out.clearInput);
  EXPECT_TRUE(server->Quiet(150));
}

TEST_F(ChatTest, LeaveWordsPlazaAndAdvertisement) {
  server->Send(40, MsgLWords(kAway, "第二", "第一"));
  ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_CHAT_ARRIVED) == 1; }));
  server->Send(41, "<CHAT>" + MsgChatText(kAway, "plaza", DefaultInputFormat()).substr(6));
  ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_PLAZA_ARRIVED) == 1; }));
  EXPECT_EQ(kServerAddr, ui.posts.back().wParam);

  // Only from the selected member: others' lines are dropped, leave-words stay shown.
  std::vector<ChatLine> lines(1);
  CircleMember* peerMember = net->Circles().FindMemberByUser(kPeer);
  EXPECT_FALSE(net->Chat().OnChatArrived(0, true, nullptr, lines));
  EXPECT_TRUE(lines.empty());
  // No server address known: a line of no address is still not the plaza's.
  net->Sender().m_serverAddress = 0;
  EXPECT_FALSE(net->Chat().OnChatArrived(0, true, nullptr, lines));
  net->Sender().m_serverAddress = kServerAddr;
  EXPECT_EQ(2u, net->Chat().Records().size());
  PeerSays(42, MsgChatTextPlain(kPeer, "selected"));  // the selected member's own line is shown
  ASSERT_TRUE(net->Chat().OnChatArrived(0, true, peerMember, lines));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("第一第二", lines[0].text);
  EXPECT_EQ(0u, lines[1].text.find("\r\n朋友(200)   "));
  EXPECT_EQ("selected", lines[2].text);
  // The plaza's notice (from the server's address) shows every line even then.
  server->Send(44, MsgLWords(kAway, "b", "a"));
  server->Send(45, "<CHAT>" + MsgChatText(kAway, "plaza", DefaultInputFormat()).substr(6));
  ASSERT_TRUE(PumpUntil([&] { return net->Chat().Records().size() == 2; }));
  // A leave-word and a plaza line, both from the server's address.
  EXPECT_EQ(1, net->Chat().Records()[0]->kind);
  EXPECT_EQ(2, net->Chat().Records()[1]->kind);
  EXPECT_EQ(kServerAddr, net->Chat().Records()[0]->address);
  EXPECT_EQ(kServerAddr, net->Chat().Records()[1]->address);
  ASSERT_TRUE(net->Chat().OnChatArrived(kServerAddr, true, nullptr, lines));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("ab", lines[0].text);
  EXPECT_EQ("plaza", lines[2].text);

  // Plaza lists replace the members; joins stop at 14; a leave needs two.
  server->Send(42, MsgChatList({{"10.1.2.3", "甲"}, {"10.1.2.4", ""}}));
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 42; }));
  ASSERT_EQ(2u, net->Circles().Members().size());
  // An open chat window named the freed records in its rows: it lists again.
  EXPECT_EQ(1u, PostCount(WM_MEMBERS_RELISTED));
  FieldList empty{"LIST", "0"};
  net->Chat().OnServerChat(empty);
  EXPECT_EQ(2u, net->Circles().Members().size()) << "a list of none changes nothing";
  EXPECT_EQ(1u, PostCount(WM_MEMBERS_RELISTED));
  // The count rules: a member past it is not read.
  FieldList extra{"LIST", "2", "10.1.2.3", "甲", "10.1.2.4", "", "10.1.2.5", "丙"};
  net->Chat().OnServerChat(extra);
  ASSERT_EQ(2u, net->Circles().Members().size());
  EXPECT_EQ(2u, PostCount(WM_MEMBERS_RELISTED));
  // A row shows the name given, or the address half hidden.
  EXPECT_EQ("甲", MemberRowText(*net->Circles().Members()[0]));
  EXPECT_EQ("10.1.*.*", MemberRowText(*net->Circles().Members()[1]));
  for (int i = 0; i < 15; ++i) {
    FieldList add{"ADDUSER", "10.0.0." + std::to_string(i), "n"};
    net->Chat().OnServerChat(add);
  }
  EXPECT_EQ(14u, net->Circles().Members().size());
  EXPECT_EQ("n", net->Circles().Members().back()->display) << "the newcomer shows by the name given";
  EXPECT_EQ(MakeAddress(10, 0, 0, 11), net->Circles().Members().back()->address) << "and is reached at the address given";
  FieldList del{"DELEUSER", "10.1.2.3"};
  uintptr_t gone = net->Circles().Members()[0]->serial;
  net->Chat().OnServerChat(del);
  EXPECT_EQ(13u, net->Circles().Members().size());
  EXPECT_EQ(gone, ui.posts.back().wParam);
  EXPECT_FALSE(net->Circles().FindMember(gone));  // a late look-up finds nothing
  FieldList odd{"NOSUCH", "10.1.2.4"};
  net->Chat().OnServerChat(odd);
  EXPECT_EQ(13u, net->Circles().Members().size());
  // The last member is never taken out.
  server->Send(43, MsgChatList({{"10.1.2.5", "乙"}}));
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 43; }));
  server->Send(46, MsgChatList({{"10.1.2.5", "乙"}, {"10.1.2.6", "丁"}}));
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 46; }));
  FieldList second{"DELEUSER", "10.1.2.6"};
  net->Chat().OnServerChat(second);
  ASSERT_EQ(1u, net->Circles().Members().size()) << "of two, one may leave";
  FieldList last{"DELEUSER", "10.1.2.5"};
  net->Chat().OnServerChat(last);
  ASSERT_EQ(1u, net->Circles().Members().size());
  EXPECT_EQ(ParseDottedAddress("10.1.2.5"), net->Circles().Members()[0]->address);

  FieldList ad{"http://ad.example/x"}, notAd{"ftp://x"};
  net->Chat().OnChatAd(notAd);
  EXPECT_EQ(0u, PostCount(WM_CHAT_AD));
  net->Chat().OnChatAd(ad);
  EXPECT_EQ("http://ad.example/x", net->Chat().AdAddress());
  EXPECT_EQ(1u, PostCount(WM_CHAT_AD));
}

TEST(ChatWindowRules, EnterSendsBySendKeyOrWithCtrl) {
  EXPECT_TRUE(EnterSends(1, false));
  EXPECT_TRUE(EnterSends(1, true));
  EXPECT_FALSE(EnterSends(0, false)) << "Ctrl+Enter: Enter alone is a new line";
  EXPECT_TRUE(EnterSends(0, true));
}

TEST(ChatWindowRules, SendKeyMenuSetsTheConfigurationValue) {
  EXPECT_EQ("Enter", SendKeyOfCommand(4011));
  EXPECT_EQ("Ctrl+Enter", SendKeyOfCommand(4012));
  EXPECT_EQ("", SendKeyOfCommand(4010));
  EXPECT_EQ("", SendKeyOfCommand(4013));
  EXPECT_EQ(1, SendKeyFlag("Enter"));
  EXPECT_EQ(0, SendKeyFlag("Ctrl+Enter"));
  EXPECT_EQ(0, SendKeyFlag("enter")) << "only the exact value";
  EXPECT_EQ(0, SendKeyFlag(""));
}

TEST(ChatWindowRules, TitleAndPosterBoardAddress) {
  EXPECT_EQ("读书[圈]", ChatTitleText("读书"));
  EXPECT_EQ("[圈]", ChatTitleText(""));
  // The title's GBK bytes go into the query as they are.
  EXPECT_EQ("http://bbs.qimbo.net/f?kw=\xB6\xC1\xCA\xE9 a&b", PosterBoardAddress("读书 a&b"));
}

TEST(WordFilter, TablesAndCharacterBoundaries) {
  EXPECT_EQ(115u, kCircleNameFilterCount);
  EXPECT_EQ(108u, kChatWordFilterCount);
  auto check = [](const char* const* table, size_t n) {
    int latin = 0;
    for (size_t i = 0; i < n; ++i) {
      std::string w = table[i];
      EXPECT_FALSE(w.empty());
      EXPECT_LE(w.size(), 20u) << i;
      if ((unsigned char)w[0] < 0x80) {
        ++latin;
        EXPECT_GE(w.size(), 2u);
        EXPECT_LE(w.size(), 7u);
      }
      for (size_t j = 0; j < i; ++j) EXPECT_NE(w, table[j]) << "twice: " << i;
    }
    EXPECT_EQ(7, latin);
  };
  check(kCircleNameFilter, kCircleNameFilterCount);
  check(kChatWordFilter, kChatWordFilterCount);

  const char* table[] = {"ab", "\xB0\xA1"};
  EXPECT_EQ("xy", ApplyWordFilter("abxaby", table, 2));
  // B0 A1 appears across two characters (A3 B0, A1 A1): left alone.
  EXPECT_EQ("\xA3\xB0\xA1\xA1", ApplyWordFilter("\xA3\xB0\xA1\xA1", table, 2));
  EXPECT_EQ("z", ApplyWordFilter("\xB0\xA1z", table, 2));
  // A lead byte takes the next byte with it up to the very end of the text.
  const char* single[] = {"a"};
  EXPECT_EQ("\xB1" "a", ApplyWordFilter("\xB1" "a", single, 1));
  EXPECT_EQ("\xB1", ApplyWordFilter("a\xB1", single, 1));
  // Lead bytes run from 0x81 to 0xFE; 0x80 and 0xFF stand alone.
  EXPECT_EQ("\x81" "a" "\xFE" "a", ApplyWordFilter("\x81" "a" "\xFE" "a", single, 1));
  EXPECT_EQ("\x80\xFF", ApplyWordFilter("\x80" "a" "\xFF" "a", single, 1));
  // An empty word in a table removes nothing (and does not stall on the first character).
  const char* empty[] = {""};
  EXPECT_EQ("abc", ApplyWordFilter("abc", empty, 1));
}

// The circle commands of the panels and the item editor (panels/circles.h,
// panels/panel_logic.h) over the real network state's circles part.
TEST_F(CircleTest, PanelCommandsNeedTheLoginAndKeepTheMarks) {
  CMyNode* cat = NewNode(tree, UrlCategory, "读书");
  CMyNode* item = NewNode(tree, UrlItem, "书店", "http://books.example/", cat);
  item->m_strCircle = "GROUP";
  panels::CircleService circles = panels::CirclesOf(*net);
  auto dropOut = [](CMyNode* n, void* state) { static_cast<CNetState*>(state)->Circles().DropOutOfCircle(n); };
  EXPECT_EQ(0, panels::EnterCategoryCircle(circles, cat, ui));
  EXPECT_EQ(panels::kRefusedCircle, panels::DeleteItemNode(tree, item, net->Login().LoggedIn(), ui, dropOut, net.get()));
  EXPECT_EQ(0, panels::JoinCircleCheckBox(circles, item, false, ui));
  ASSERT_EQ(3u, ui.boxes.size());
  EXPECT_EQ("您还未登录,请先登录！", ui.boxes[0].text);
  EXPECT_EQ(kMbIconInformation, ui.boxes[0].flags & 0xF0);
  EXPECT_EQ("GROUP", item->m_strCircle);
  EXPECT_TRUE(server->Quiet(100));

  EnterWithMembers(cat, "读书");
  peer->Receive();
  // Asking again for the circle that is open in the chat window does nothing.
  net->Circles().SetChatWindowOpen(true);
  EXPECT_EQ(0, panels::EnterCategoryCircle(circles, cat, ui));
  // An item, or no node, has no category circle.
  EXPECT_EQ(0, panels::EnterCategoryCircle(circles, item, ui));
  EXPECT_EQ(0, panels::EnterCategoryCircle(circles, nullptr, ui));
  EXPECT_TRUE(server->Quiet(100));
  // The item's circle: the current one is left first, then the chat closes.
  EXPECT_EQ(kCircleRequestSent, panels::EnterItemCircle(circles, item, ui));
  EXPECT_NE(std::string::npos, peer->Receive().text.find("<USEROUT>"));
  EXPECT_NE(std::string::npos, server->Receive().text.find("<GROUP><UPNODE><100><书店><1><http://books.example/>"));
  EXPECT_EQ(item, net->Circles().RequestingNode());
  EXPECT_EQ(WM_CLOSE_CHAT, ui.posts.back().msg);

  // Unticking "join circle" drops out and clears the mark.
  EXPECT_TRUE(panels::JoinCircleCheckBox(circles, item, false, ui));
  EXPECT_EQ("Reserved", item->m_strCircle);
  EXPECT_NE(std::string::npos, server->Receive().text.find("<GROUP><DROPOUT><http://books.example/><100>"));
  // Deleting a marked item drops out first; once the tree frees it, it is
  // no requester any more.
  item->m_strCircle = "GROUP";
  EXPECT_EQ(panels::kDeleted, panels::DeleteItemNode(tree, item, net->Login().LoggedIn(), ui, dropOut, net.get()));
  EXPECT_NE(std::string::npos, server->Receive().text.find("<DROPOUT>"));
  EXPECT_FALSE(net->Circles().RequestingNode());
}

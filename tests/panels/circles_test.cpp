#include <gtest/gtest.h>

#include "panels/circles.h"
#include "store/node.h"
#include "testutil.h"

using namespace panels;

namespace {
// A circle service that records what the panels asked of it.
struct FakeCircles {
  bool loggedIn = true;
  bool chatOpen = false;
  std::string current = "您还未指定要进入的圈";
  std::vector<std::string> calls;
  CircleService Service() {
    CircleService c;
    c.loggedIn = [this] { return loggedIn; };
    c.currentCircle = [this] { return current; };
    c.chatOpen = [this] { return chatOpen; };
    c.enterCircle = [this](CMyNode* n) {
      calls.push_back("enter " + n->m_strName);
      return 1;
    };
    c.leaveCurrentCircle = [this] { calls.push_back("leave"); };
    c.dropOutOfCircle = [this](CMyNode* n) {
      calls.push_back("drop " + n->m_strName + " " + n->m_strCircle);
      return 1;
    };
    return c;
  }
};

CMyNode Category(const std::string& name) {
  CMyNode n;
  n.m_nKind = UrlCategory;
  n.m_strName = name;
  return n;
}
}  // namespace

TEST(CategoryCircle, LoggedOutAsksForALoginAndSendsNothing) {
  FakeCircles f;
  f.loggedIn = false;
  qbtest::CRecordingUi ui;
  CMyNode cat = Category("音乐");
  EnterCategoryCircle(f.Service(), &cat, ui);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "您还未登录,请先登录！");
  EXPECT_EQ(ui.boxes[0].flags, (unsigned)(qb::kMbOk | qb::kMbIconInformation));
  EXPECT_TRUE(f.calls.empty());
  // With no service at all the user counts as logged out.
  EnterCategoryCircle(CircleService(), &cat, ui);
  EXPECT_EQ(ui.boxes.size(), 2u);
}

TEST(CategoryCircle, OnlyCategoriesAreLeft) {
  FakeCircles f;
  qbtest::CRecordingUi ui;
  CMyNode item = Category("音乐");
  item.m_nKind = UrlItem;
  item.m_strCircle = "GROUP";
  LeaveCategoryCircle(f.Service(), &item, ui);
  LeaveCategoryCircle(f.Service(), nullptr, ui);
  EXPECT_TRUE(f.calls.empty());
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ("GROUP", item.m_strCircle);
  // A program category is a category too.
  CMyNode programs = Category("游戏");
  programs.m_nKind = ProgramCategory;
  EnterCategoryCircle(f.Service(), &programs, ui);
  EXPECT_EQ(f.calls, std::vector<std::string>{"enter 游戏"});
}

TEST(CategoryCircle, TheCurrentCircleIsLeftFirst) {
  FakeCircles f;
  qbtest::CRecordingUi ui;
  CMyNode cat = Category("音乐");
  EnterCategoryCircle(f.Service(), &cat, ui);
  EXPECT_EQ(f.calls, std::vector<std::string>{"enter 音乐"});
  f.calls.clear();
  f.current = "旅游";
  EnterCategoryCircle(f.Service(), &cat, ui);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"leave", "enter 音乐"}));
  // Already in this circle with the chat window open: nothing to do.
  f.calls.clear();
  f.current = "音乐";
  f.chatOpen = true;
  EnterCategoryCircle(f.Service(), &cat, ui);
  EXPECT_TRUE(f.calls.empty());
  // The same circle with the chat window closed, or another with it open: in again.
  f.chatOpen = false;
  EnterCategoryCircle(f.Service(), &cat, ui);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"leave", "enter 音乐"}));
  f.calls.clear();
  f.chatOpen = true;
  f.current = "旅游";
  EnterCategoryCircle(f.Service(), &cat, ui);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"leave", "enter 音乐"}));
  f.calls.clear();
  // Items are not categories.
  CMyNode item;
  item.m_nKind = UrlItem;
  f.current = "x";
  EnterCategoryCircle(f.Service(), &item, ui);
  EnterCategoryCircle(f.Service(), nullptr, ui);
  EXPECT_TRUE(f.calls.empty());
  EXPECT_TRUE(ui.boxes.empty());
}

TEST(CategoryCircle, LeavingClosesTheChatOnlyForTheCurrentCircle) {
  FakeCircles f;
  qbtest::CRecordingUi ui;
  CMyNode cat = Category("音乐");
  LeaveCategoryCircle(f.Service(), &cat, ui);  // not in a circle: nothing
  EXPECT_TRUE(f.calls.empty());
  cat.m_strCircle = "GROUP";
  f.loggedIn = false;
  LeaveCategoryCircle(f.Service(), &cat, ui);
  EXPECT_EQ(ui.boxes.back().text, "您还未登录,登录后才能把自己从该圈子名单中划掉！");
  EXPECT_EQ(cat.m_strCircle, "GROUP");
  f.loggedIn = true;
  f.current = "音乐";
  LeaveCategoryCircle(f.Service(), &cat, ui);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"leave", "drop 音乐 Reserved"}));
  ASSERT_EQ(ui.posts.size(), 1u);
  EXPECT_EQ(ui.posts[0].msg, kCloseChatMessage);
  CMyNode other = Category("旅游");
  other.m_strCircle = "GROUP";
  f.calls.clear();
  LeaveCategoryCircle(f.Service(), &other, ui);
  EXPECT_EQ(f.calls, std::vector<std::string>{"drop 旅游 Reserved"});
  EXPECT_EQ(ui.posts.size(), 1u);
}

TEST(ItemCircle, KeyedByTheAddressAndClosesTheOldChat) {
  FakeCircles f;
  qbtest::CRecordingUi ui;
  CMyNode item;
  item.m_nKind = UrlItem;
  item.m_strName = "page";
  item.m_strAddress = "http://a.example/";
  EnterItemCircle(f.Service(), &item, ui);
  EXPECT_EQ(f.calls, std::vector<std::string>{"enter page"});
  EXPECT_TRUE(ui.posts.empty());
  f.calls.clear();
  f.current = "旅游";
  EnterItemCircle(f.Service(), &item, ui);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"leave", "enter page"}));
  EXPECT_EQ(ui.posts.size(), 1u);
  f.calls.clear();
  f.current = "http://a.example/";
  f.chatOpen = true;
  EnterItemCircle(f.Service(), &item, ui);
  EXPECT_TRUE(f.calls.empty());
  CMyNode cat = Category("c");
  f.current = "x";
  EnterItemCircle(f.Service(), &cat, ui);
  EXPECT_TRUE(f.calls.empty());
}

#include "net/netstate.h"

TEST(CircleService, OfTheNetworkStateReadsItAndActsOnIt) {
  CMyNodeList tree;
  qbtest::CRecordingUi ui;
  qb::CNetConfig nowhere;
  nowhere.serverHost = "";
  nowhere.fallbackHost = "";
  qb::CNetState net(tree, ui, nowhere);
  CircleService c = CirclesOf(net);
  ASSERT_TRUE(c.loggedIn && c.currentCircle && c.chatOpen && c.enterCircle && c.leaveCurrentCircle &&
              c.dropOutOfCircle);
  EXPECT_FALSE(c.loggedIn());
  EXPECT_FALSE(c.chatOpen());
  net.m_bLoggedIn = true;
  net.m_bChatWindowOpen = true;
  net.m_strCurrentCircle = "读书";
  EXPECT_TRUE(c.loggedIn());
  EXPECT_TRUE(c.chatOpen());
  EXPECT_EQ("读书", c.currentCircle());
  // Entering makes the node the requesting one; with no server nothing goes out (7051).
  CMyNode cat = Category("旅游");
  EXPECT_EQ(7051, c.enterCircle(&cat));
  EXPECT_EQ(&cat, net.m_pRequestingNode);
  EXPECT_EQ(0, c.dropOutOfCircle(&cat));
  // Leaving with the chat window open closes it (0x42A).
  c.leaveCurrentCircle();
  ASSERT_EQ(1u, ui.posts.size());
  EXPECT_EQ(0x42Au, ui.posts[0].msg);
}

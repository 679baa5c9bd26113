#include <gtest/gtest.h>

#include "net/netstate.h"
#include "net_access.h"
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

CMyNode Bookmark(const std::string& name, const std::string& address) {
  CMyNode n(name, UrlItem, nullptr, 0, address);
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
  // Logged in but with nobody to send for it: nothing is reported sent.
  CircleService deaf = f.Service();
  deaf.loggedIn = [] { return true; };
  deaf.enterCircle = nullptr;
  deaf.dropOutOfCircle = nullptr;
  CMyNode page = Bookmark("p", "http://p.example/");
  EXPECT_EQ(0, EnterItemCircle(deaf, &page, ui));
  EXPECT_EQ(0, JoinCircleCheckBox(deaf, &page, true, ui));
  page.m_strCircle = "GROUP";
  EXPECT_EQ(0, JoinCircleCheckBox(deaf, &page, false, ui));
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
  EXPECT_EQ(0, LeaveCategoryCircle(f.Service(), &item, ui));
  EXPECT_EQ(0, LeaveCategoryCircle(f.Service(), nullptr, ui));
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
  EXPECT_EQ(0, EnterCategoryCircle(f.Service(), &cat, ui));
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
  EXPECT_EQ(0, LeaveCategoryCircle(f.Service(), &cat, ui));  // not in a circle: nothing
  EXPECT_TRUE(f.calls.empty());
  cat.m_strCircle = "GROUP";
  f.loggedIn = false;
  EXPECT_EQ(0, LeaveCategoryCircle(f.Service(), &cat, ui));
  EXPECT_EQ(ui.boxes.back().text, "您还未登录,登录后才能把自己从该圈子名单中划掉！");
  EXPECT_EQ(cat.m_strCircle, "GROUP");
  f.loggedIn = true;
  f.current = "音乐";
  LeaveCategoryCircle(f.Service(), &cat, ui);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"leave", "drop 音乐 Reserved"}));
  ASSERT_EQ(ui.posts.size(), 1u);
  EXPECT_EQ(ui.posts[0].msg, qb::WM_CLOSE_CHAT);
  EXPECT_EQ(0u, ui.posts[0].wParam);
  EXPECT_EQ(0, ui.posts[0].lParam);
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
  CMyNode item = Bookmark("page", "http://a.example/");
  EXPECT_EQ(0, EnterItemCircle(f.Service(), nullptr, ui)) << "no item (deleted meanwhile): nothing";
  EXPECT_TRUE(f.calls.empty());
  EXPECT_EQ(1, EnterItemCircle(f.Service(), &item, ui)) << "what the service answers";
  EXPECT_EQ(f.calls, std::vector<std::string>{"enter page"});
  EXPECT_TRUE(ui.posts.empty());
  f.calls.clear();
  f.current = "旅游";
  f.chatOpen = true;  // the chat of another circle is open: it is left
  EnterItemCircle(f.Service(), &item, ui);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"leave", "enter page"}));
  EXPECT_EQ(ui.posts.size(), 1u);
  f.calls.clear();
  f.current = "http://a.example/";
  f.chatOpen = true;
  EXPECT_EQ(0, EnterItemCircle(f.Service(), &item, ui)) << "already there";
  EXPECT_TRUE(f.calls.empty());
  f.chatOpen = false;  // there, but the chat window was closed: in again
  EnterItemCircle(f.Service(), &item, ui);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"leave", "enter page"}));
  f.calls.clear();
  CMyNode cat = Category("c");
  f.current = "x";
  EnterItemCircle(f.Service(), &cat, ui);
  EXPECT_TRUE(f.calls.empty());
  // Logged out: the login is asked for, nothing is sent.
  f.loggedIn = false;
  f.chatOpen = false;
  EXPECT_EQ(0, EnterItemCircle(f.Service(), &item, ui));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ("您还未登录,请先登录！", ui.boxes[0].text);
  EXPECT_TRUE(f.calls.empty());
}

// The join box of a bookmark's editor, with the circles it asks and the boxes it shows.
class JoinCheckBox : public ::testing::Test {
 protected:
  FakeCircles f;
  qbtest::CRecordingUi ui;
  CMyNode item = Bookmark("page", "http://a.example/");
};

TEST_F(JoinCheckBox, AsksOnlyForAChangeAndNeedsTheLoginForIt) {
  // Ticked on an unmarked item: its circle is asked for.
  EXPECT_EQ(1, JoinCircleCheckBox(f.Service(), &item, true, ui));
  EXPECT_EQ(f.calls, std::vector<std::string>{"enter page"});
  // No change asked for either way: nothing is sent, 1 all the same.
  f.calls.clear();
  EXPECT_EQ(1, JoinCircleCheckBox(f.Service(), &item, false, ui));
  item.m_strCircle = "GROUP";
  EXPECT_EQ(1, JoinCircleCheckBox(f.Service(), &item, true, ui));
  EXPECT_TRUE(f.calls.empty());
  EXPECT_EQ(0, JoinCircleCheckBox(f.Service(), nullptr, true, ui));
  EXPECT_TRUE(ui.boxes.empty());
  // Logged out: each change is refused with its own notice, the mark kept.
  f.loggedIn = false;
  EXPECT_EQ(0, JoinCircleCheckBox(f.Service(), &item, false, ui));
  EXPECT_EQ("GROUP", item.m_strCircle);
  CMyNode fresh = Category("音乐");
  EXPECT_EQ(0, JoinCircleCheckBox(f.Service(), &fresh, true, ui));
  ASSERT_EQ(2u, ui.boxes.size());
  EXPECT_EQ("您还未登录,登录后才能把自己从该圈子名单中注销！", ui.boxes[0].text);
  EXPECT_EQ("您还未登录,登录后才能加入圈子！", ui.boxes[1].text);
  EXPECT_TRUE(f.calls.empty());
}

TEST_F(JoinCheckBox, UntickingTheCurrentBookmarkCircleLeavesItAndClosesTheChat) {
  item.m_strCircle = "GROUP";
  f.current = "http://a.example/";
  EXPECT_EQ(1, JoinCircleCheckBox(f.Service(), &item, false, ui));
  EXPECT_EQ("Reserved", item.m_strCircle);
  EXPECT_EQ(f.calls, (std::vector<std::string>{"drop page Reserved", "leave"}));
  ASSERT_EQ(1u, ui.posts.size());
  EXPECT_EQ(qb::WM_CLOSE_CHAT, ui.posts[0].msg);
  EXPECT_EQ(0u, ui.posts[0].wParam);
  EXPECT_EQ(0, ui.posts[0].lParam);
  // A category of the current circle's name is dropped, and the circle stays,
  // whatever address the category holds.
  CMyNode cat = Category("http://a.example/");
  cat.m_strAddress = "http://a.example/";
  cat.m_strCircle = "GROUP";
  f.calls.clear();
  EXPECT_EQ(1, JoinCircleCheckBox(f.Service(), &cat, false, ui));
  EXPECT_EQ(f.calls, std::vector<std::string>{"drop http://a.example/ Reserved"});
  EXPECT_EQ(1u, ui.posts.size());
  // Another bookmark's circle is dropped while the chat stays where it is.
  CMyNode other = Bookmark("other", "http://b.example/");
  other.m_strCircle = "GROUP";
  f.calls.clear();
  EXPECT_EQ(1, JoinCircleCheckBox(f.Service(), &other, false, ui));
  EXPECT_EQ(f.calls, std::vector<std::string>{"drop other Reserved"});
  EXPECT_EQ(1u, ui.posts.size());
}

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
  qb::NetStateTestAccess::LoggedIn(net) = true;
  net.Circles().SetChatWindowOpen(true);
  EXPECT_TRUE(c.loggedIn());
  EXPECT_TRUE(c.chatOpen());
  EXPECT_EQ("您还未指定要进入的圈", c.currentCircle());
  // Entering makes the node the requesting one; with no server nothing goes out (7051).
  CMyNode cat = Category("旅游");
  EXPECT_EQ(7051, c.enterCircle(&cat));
  EXPECT_EQ(&cat, net.Circles().RequestingNode());
  EXPECT_EQ(0, c.dropOutOfCircle(&cat));
  // Leaving with the chat window open closes it (0x42A).
  c.leaveCurrentCircle();
  ASSERT_EQ(1u, ui.posts.size());
  EXPECT_EQ(0x42Au, ui.posts[0].msg);
}

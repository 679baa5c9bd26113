// Nodes the tree frees while windows and the network state hold them:
// deleting the node, choosing another favorites file and a finished download.
// What the category panel and the item buttons keep (CNodeRef, as their
// windows hold it), and the circle service's requester: the real network
// state behind the panels' circle service, over a model in a program folder
// of the test's own; there are no links, so the request goes nowhere and the
// server's late member list is handed to the state as the dispatcher hands it over.
#include <gtest/gtest.h>

#include "model/app_logic.h"
#include "net/netstate.h"
#include "os/os.h"
#include "panels/circles.h"
#include "panels/panel_logic.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "testutil.h"
#include "tree_util.h"
#include "net_access.h"

using namespace panels;

namespace {

const char kNoCircle[] = "您还未指定要进入的圈";

using qbtest::AddNodeTo;

struct LiveCircles : testing::Test {
  qbtest::TempDir dir;
  qbtest::CRecordingUi ui;
  CAppLogic app{&ui};
  qb::CNetState net{app, ui, qb::CNetConfig()};
  int saves = 0;
  std::vector<CMyNode*> shown;

  LiveCircles() {
    os::SetProgramDirectory(dir.Path());
    os::CreateFolder(dir / "data");
    app.m_strProgramDir = dir.Path();
    app.m_strBaseDir = dir.Path();
    qb::NetStateTestAccess::LoggedIn(net) = true;
    net.Circles().m_saveFavorites = [this] { return ++saves; };
    net.Circles().m_showCategoryItems = [this](CMyNode* c) { shown.push_back(c); };
  }
  ~LiveCircles() override { os::SetProgramDirectory(""); }

  // The server's member list for `circle`, with the user alone in it.
  void ServerLists(const std::string& circle) {
    qb::FieldList f{"LIST", "1", circle, "1.2.3.4", "我", "100", circle};
    net.Circles().OnGroupReply(f);
  }
  // Nothing in the tree took the circle's mark, nothing was saved or shown.
  void ExpectNothingMarked() {
    for (const CMyNode* n : app) EXPECT_EQ("Reserved", n->m_strCircle) << n->m_strName;
    EXPECT_EQ(0, saves);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(kNoCircle, net.Circles().CircleTitle());
  }
};

TEST_F(LiveCircles, TheAnsweredRequesterIsMarkedAndSaved) {
  CMyNode* cat = AddNodeTo(app, "读书", UrlCategory, nullptr, 0);
  CMyNode* item = AddNodeTo(app, "书店", UrlItem, cat, 0, "http://books.example/");
  ASSERT_TRUE(cat && item);
  EnterItemCircle(CirclesOf(net), item, ui);
  EXPECT_EQ(item, static_cast<CMyNode*>(net.Circles().RequestingNode()));
  ServerLists("http://books.example/");
  EXPECT_EQ("GROUP", item->m_strCircle);
  EXPECT_EQ(1, saves);
  EXPECT_EQ(std::vector<CMyNode*>{cat}, shown);
  EXPECT_EQ("书店", net.Circles().CircleTitle());
}

TEST_F(LiveCircles, ALateListForADeletedCategoryOrItemWritesNowhere) {
  CMyNode* cat = AddNodeTo(app, "读书", UrlCategory, nullptr, 0);
  CMyNode* other = AddNodeTo(app, "音乐", UrlCategory, nullptr, 1);
  ASSERT_TRUE(cat && other);
  EnterCategoryCircle(CirclesOf(net), cat, ui);
  ASSERT_EQ(cat, static_cast<CMyNode*>(net.Circles().RequestingNode()));
  ASSERT_EQ(kDeleted, DeleteCategoryNode(app, cat, true, ui));
  EXPECT_FALSE(net.Circles().RequestingNode()) << "the deleted category is no requester any more";
  ServerLists("读书");
  ExpectNothingMarked();
  // The server's list still names the circle the user is in.
  EXPECT_EQ("读书", net.Circles().CurrentCircle());

  CMyNode* item = AddNodeTo(app, "唱片", UrlItem, other, 0, "http://music.example/");
  ASSERT_TRUE(item);
  EnterItemCircle(CirclesOf(net), item, ui);
  ASSERT_EQ(item, static_cast<CMyNode*>(net.Circles().RequestingNode()));
  ASSERT_EQ(kDeleted, DeleteItemNode(app, item, true, ui, nullptr, nullptr));
  EXPECT_FALSE(net.Circles().RequestingNode());
  ServerLists("http://music.example/");
  ExpectNothingMarked();
}

TEST_F(LiveCircles, ALateListAfterAFileSwitchMarksNothingInTheNewFile) {
  CMyNode* cat = AddNodeTo(app, "读书", UrlCategory, nullptr, 0);
  AddNodeTo(app, "书店", UrlItem, cat, 0, "http://books.example/");
  ASSERT_TRUE(app.SaveFavorites("A.sc"));
  {
    // The other file has a category of the same name.
    CMyNodeList b;
    AddNodeTo(b, "读书", UrlCategory, nullptr, 3);
    ASSERT_TRUE(SaveFavoritesFile(b, dir / "data\\", "B.sc"));
  }
  EnterCategoryCircle(CirclesOf(net), cat, ui);
  ASSERT_EQ(cat, static_cast<CMyNode*>(net.Circles().RequestingNode()));
  // A file that cannot be read changes nothing: the requester stays.
  qbtest::WriteFileBytes(dir / "data\\bad.sc", "\x05");
  ASSERT_FALSE(app.SwitchFavoritesFile("bad.sc"));
  EXPECT_EQ(cat, static_cast<CMyNode*>(net.Circles().RequestingNode()));
  ASSERT_TRUE(app.SwitchFavoritesFile("B.sc"));
  EXPECT_FALSE(net.Circles().RequestingNode());
  ServerLists("读书");
  ExpectNothingMarked();
  ASSERT_TRUE(app.FindNode("读书", UrlCategory));
  EXPECT_EQ(3, app.FindNode("读书", UrlCategory)->m_nSlot);
}

TEST_F(LiveCircles, ALateListAfterADownloadReplacedTheTreeWritesNowhere) {
  CMyNode* cat = AddNodeTo(app, "读书", UrlCategory, nullptr, 0);
  CMyNode* item = AddNodeTo(app, "书店", UrlItem, cat, 0, "http://books.example/");
  CMyNode* program = AddNodeTo(app, "桌面", ProgramCategory, nullptr, 0);
  ASSERT_TRUE(item && program);
  EnterItemCircle(CirclesOf(net), item, ui);
  CMyNodeList download;
  CMyNode* fresh = AddNodeTo(download, "读书", UrlCategory, nullptr, 0);
  CMyNode* freshItem = AddNodeTo(download, "书店", UrlItem, fresh, 0, "http://books.example/");
  ASSERT_TRUE(freshItem);
  freshItem->m_strParentName = "读书";
  app.ReplaceWithDownloaded(download);
  EXPECT_FALSE(net.Circles().RequestingNode());
  ServerLists("http://books.example/");
  ExpectNothingMarked();
  // A program category stays through the replacement, and so does its request.
  EnterCategoryCircle(CirclesOf(net), program, ui);
  CMyNodeList again;
  AddNodeTo(again, "新", UrlCategory, nullptr, 0);
  app.ReplaceWithDownloaded(again);
  EXPECT_EQ(program, static_cast<CMyNode*>(net.Circles().RequestingNode()));
}

// The category panel keeps the right-clicked category (its context node)
// and each button its node; another favorites file frees them all, a file
// that cannot be read frees none.
TEST_F(LiveCircles, WhatThePanelsHoldGoesWithTheFileAndTheDownload) {
  CMyNode* news = AddNodeTo(app, "新闻", UrlCategory, nullptr, 0);
  CMyNode* item = AddNodeTo(app, "甲站", UrlItem, news, 0, "http://a.example/");
  CMyNode* desk = AddNodeTo(app, "桌面", ProgramCategory, nullptr, 0);
  CMyNode* file = AddNodeTo(app, "a.txt", ProgramItem, desk, 0, "C:\\d\\");
  ASSERT_TRUE(item && file);
  ASSERT_TRUE(app.SaveFavorites("A.sc"));
  {
    CMyNodeList b;
    AddNodeTo(b, "体育", UrlCategory, nullptr, 0);
    ASSERT_TRUE(SaveFavoritesFile(b, dir / "data\\", "B.sc"));
  }
  CNodeRef contextNode = news, button = item, programButton = file, shown = news;
  qbtest::WriteFileBytes(dir / "data\\bad.sc", "\x05");
  ASSERT_FALSE(app.SwitchFavoritesFile("bad.sc"));
  EXPECT_EQ(news, contextNode.Get());
  EXPECT_EQ(item, button.Get());
  ASSERT_TRUE(app.SwitchFavoritesFile("B.sc"));
  EXPECT_FALSE(contextNode);
  EXPECT_FALSE(button);
  EXPECT_FALSE(shown);
  EXPECT_EQ(file, programButton.Get()) << "the program folder stays";
  // The item panel's next category is none when the file has no web category.
  CMyNodeList none;
  ASSERT_TRUE(SaveFavoritesFile(none, dir / "data\\", "C.sc"));
  contextNode = app.FindNode("体育", UrlCategory);
  ASSERT_TRUE(contextNode);
  ASSERT_TRUE(app.SwitchFavoritesFile("C.sc"));
  EXPECT_FALSE(contextNode);
  EXPECT_EQ(nullptr, app.FirstNodeBySlot(UrlCategory));
  EXPECT_EQ(nullptr, ItemAtSlot(app, app.FirstNodeBySlot(UrlCategory), 0));

  // A download replaces the web-address folder.
  CMyNodeList download;
  AddNodeTo(download, "下载", UrlCategory, nullptr, 0);
  ASSERT_TRUE(app.SwitchFavoritesFile("A.sc"));
  contextNode = app.FindNode("新闻", UrlCategory);
  ASSERT_TRUE(contextNode);
  app.ReplaceWithDownloaded(download);
  EXPECT_FALSE(contextNode);
  EXPECT_EQ(file, programButton.Get());
  ASSERT_TRUE(app.FindNode("下载", UrlCategory));
}

}  // namespace

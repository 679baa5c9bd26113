// The program's own network core (links, sender, login, transfer) against
// the real server process: what one builds, the other must read.
#include <gtest/gtest.h>

#include <chrono>

#include "net/link.h"
#include "net/netstate.h"
#include "os/net.h"
#include "os/os.h"
#include "store/node.h"
#include "test_client.h"
#include "testutil.h"

using namespace qbtest;

namespace {

// One copy of the program's network side on its own loopback address.
struct CProgram {
  CProgram(unsigned last, const ServerPorts& ports) {
    config.serverHost = "127.0.0.1";
    config.bindAddress = qb::MakeAddress(127, 0, 0, last);
    config.localBasePort = (uint16_t)ports.client;
    config.peerBasePort = (uint16_t)ports.client;
    config.serverBasePort = (uint16_t)ports.server;
    started = links.Start(config);
    net.reset(new qb::CNetState(tree, ui, config));
    net->SetLinks(&links);
    net->Sender().m_serverAddress = qb::MakeAddress(127, 0, 0, 1);
  }
  ~CProgram() {
    net.reset();
    links.Stop();
  }
  bool PumpUntil(const std::function<bool()>& done) {
    // The limit only guards against a hang.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
      links.ReceiveQueue().Event().Wait(20);
      net->PumpReceived();
      if (done()) return true;
    }
    return false;
  }
  // The last transfer status posted on a channel, 0 when none.
  int LastStatus(uintptr_t channel) const {
    int last = 0;
    for (auto& p : ui.posts)
      if (p.msg == qb::WM_TRANSFER_STATUS && p.wParam == channel) last = (int)p.lParam;
    return last;
  }
  bool Posted(unsigned msg) const {
    for (auto& p : ui.posts)
      if (p.msg == msg) return true;
    return false;
  }
  // Joins the circle of a category named `name`; true once the member list came.
  bool EnterCircle(const std::string& name) {
    CMyNode* cat = new CMyNode;
    cat->m_strName = name;
    cat->m_nKind = UrlCategory;
    if (!tree.AddNode(cat)) return false;
    return net->Circles().RequestCircle(cat) == qb::kCircleRequestSent && PumpUntil([&] { return Posted(qb::WM_OPEN_CHAT); });
  }
  bool LogIn(int32_t user, const std::string& password) {
    net->Login().SetUser(user);
    net->Login().SetPassword(password);
    if (!net->Login().SendLogin()) return false;
    return PumpUntil([&] {
      for (auto& p : ui.posts)
        if (p.msg == qb::WM_LOGIN_RESULT) return true;
      return false;
    }) && net->Login().LoggedIn();
  }

  qb::CNetConfig config;
  int started = 0;
  qb::CNetLinks links;
  CMyNodeList tree;
  CRecordingUi ui;
  std::unique_ptr<qb::CNetState> net;
};

class ProgramAgainstServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(os::NetStartup());
    db = os::NativePath(dir / "server.db");
    ASSERT_EQ(0, RunUserCommand(db, {"add", "100", "secret", "zhang"}));
    ASSERT_EQ(0, RunUserCommand(db, {"add", "200", "pw200", "lisi"}));
    ASSERT_EQ(0, RunUserCommand(db, {"add", "300", "pw300", "wang"}));
    ASSERT_TRUE(server.Start(db)) << server.Log();
  }
  void TearDown() override {
    EXPECT_EQ(0, server.Stop()) << server.Log();
    os::NetCleanup();
  }
  // Waits until the server has logged `line` (the links send on their own threads).
  bool LogShows(const std::string& line) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      if (server.Log().find(line) != std::string::npos) return true;
      os::SleepMs(2);
    }
    return false;
  }
  TempDir dir;
  std::string db;
  CServerProcess server;
};

TEST_F(ProgramAgainstServer, LoginRefusalUploadAndDownloadOfAFullTree) {
  CProgram a(7, server.Ports());
  ASSERT_EQ(qb::kLinkCount, a.started);
  EXPECT_FALSE(a.LogIn(100, "wrong"));
  a.ui.posts.clear();
  ASSERT_TRUE(a.LogIn(100, "secret"));
  // 44 categories of 29 items: 1,320 nodes, one with a long address.
  for (int c = 0; c < 44; ++c) {
    CMyNode* cat = new CMyNode;
    cat->m_strName = "\xB7\xD6\xC0\xE0" + std::to_string(c);
    cat->m_nKind = UrlCategory;
    cat->m_nSlot = c;
    ASSERT_TRUE(a.tree.AddNode(cat));
    for (int i = 0; i < 29; ++i) {
      CMyNode* n = new CMyNode;
      n->m_strName = "site <" + std::to_string(c * 100 + i) + ">";
      n->m_nKind = UrlItem;
      n->m_strAddress = "http://s" + std::to_string(c) + ".example.com/" + std::to_string(i);
      if (c == 3 && i == 4) n->m_strAddress += std::string(650, 'x');
      n->m_pParent = cat;
      n->m_nSlot = i;
      n->m_nVisits = c + i;
      n->m_strNote = "note " + std::to_string(i);
      ASSERT_TRUE(a.tree.AddNode(n));
    }
  }
  ASSERT_EQ(1320u, a.tree.GetCount());
  ASSERT_EQ(qb::kUploadStarted, a.net->Transfer().StartUpload());
  // Now and then a keep-alive goes out between a node and its answer, and
  // takes the next number: the answer must still count (the program's
  // timers do not run here, so a node that waited for a resend would stall).
  int steps = 0;
  ASSERT_TRUE(a.PumpUntil([&] {
    if (++steps % 100 == 0) a.net->OnTimer(qb::kKeepAliveTimer);
    return a.net->Transfer().Mode() == 0;
  }));
  ASSERT_EQ(qb::kUploadDone, a.LastStatus(qb::kUploadChannel));
  ASSERT_TRUE(LogShows("upload of 1320 nodes by user 100 stored"));

  CProgram b(8, server.Ports());
  ASSERT_TRUE(b.LogIn(100, "secret"));
  ASSERT_EQ(qb::kDownloadStarted, b.net->Transfer().StartDownload());
  ASSERT_TRUE(b.PumpUntil([&] { return b.LastStatus(qb::kDownloadChannel) == qb::kDownloadDone; }));
  std::unique_ptr<CMyNodeList> got = b.net->Transfer().TakeDownloadList();
  ASSERT_TRUE(got);
  ASSERT_EQ(1320u, got->GetCount());
  for (size_t i = 0; i < 1320; ++i) {
    const CMyNode& s = *a.tree.GetAt(i);
    const CMyNode& d = *got->GetAt(i);
    ASSERT_EQ(s.m_strName, d.m_strName) << i;
    EXPECT_EQ(s.m_nKind, d.m_nKind);
    EXPECT_EQ(s.m_strAddress, d.m_strAddress);
    EXPECT_EQ(s.m_pParent ? s.m_pParent->m_strName : "", d.m_strParentName);
    EXPECT_EQ(s.m_strIconPath, d.m_strIconPath);
    EXPECT_EQ(s.m_strNote, d.m_strNote);
    EXPECT_EQ(s.m_nVisits, d.m_nVisits);
    EXPECT_EQ(s.m_nSlot, d.m_nSlot);
    EXPECT_EQ(s.m_strCircle, d.m_strCircle);
  }
  // Every node came, and hardly one twice: on loopback an acknowledgement
  // comes in time, bar the odd one a busy machine holds up past the resend
  // time (a repeat is acknowledged again and posts progress again). A resend
  // time too short would repeat hundreds.
  size_t progress = 0;
  for (auto& p : b.ui.posts)
    progress += p.msg == qb::WM_TRANSFER_STATUS && p.wParam == qb::kDownloadChannel && (int)p.lParam == qb::kDownloadProgress;
  EXPECT_GE(progress, 1319u);
  EXPECT_LE(progress, 1319u + 13) << "more than one node in a hundred came twice";
}

TEST_F(ProgramAgainstServer, CircleChatBetweenTwoProgramsAndALeaveWordForAThird) {
  const std::string circle = "Qimbo club";
  {
    CProgram c(9, server.Ports());
    ASSERT_TRUE(c.LogIn(300, "pw300"));
    ASSERT_TRUE(c.EnterCircle(circle));
    c.net->Login().SendLogout();  // 300 stays a member, offline
  }
  ASSERT_TRUE(LogShows("logout user 300"));
  CProgram a(7, server.Ports()), b(8, server.Ports());
  ASSERT_TRUE(a.LogIn(100, "secret"));
  ASSERT_TRUE(a.EnterCircle(circle));
  EXPECT_EQ(circle, a.net->Circles().CurrentCircle());
  qb::CircleMember* offline = a.net->Circles().FindMemberByUser(300);
  ASSERT_TRUE(offline);
  EXPECT_EQ(0u, offline->address);
  EXPECT_EQ("wang", offline->nickname);

  ASSERT_TRUE(b.LogIn(200, "pw200"));
  ASSERT_TRUE(b.EnterCircle(circle));
  qb::CircleMember* aSeenByB = b.net->Circles().FindMemberByUser(100);
  ASSERT_TRUE(aSeenByB);
  EXPECT_EQ(qb::MakeAddress(127, 0, 0, 7), aSeenByB->address);
  // b announced itself to a directly, and talks to the whole circle.
  ASSERT_TRUE(a.PumpUntil([&] {
    qb::CircleMember* m = a.net->Circles().FindMemberByUser(200);
    return m && m->address == qb::MakeAddress(127, 0, 0, 8);
  }));
  ASSERT_TRUE(b.net->Chat().SendChat(true, nullptr, "hello <everybody>", qb::DefaultInputFormat()));
  ASSERT_TRUE(a.PumpUntil([&] { return !a.net->Chat().Records().empty(); }));
  EXPECT_EQ(200, a.net->Chat().Records()[0]->user);
  EXPECT_EQ("hello <everybody>", qb::UnescapeChatText(a.net->Chat().Records()[0]->text));

  // a leaves a word for 300, who is not online.
  offline = a.net->Circles().FindMemberByUser(300);
  ASSERT_TRUE(offline);
  ASSERT_TRUE(a.net->Chat().SendChat(false, offline, "see you <later>", qb::DefaultInputFormat()));
  ASSERT_TRUE(LogShows("leave-word from 100 to 300"));
  CProgram c(9, server.Ports());
  ASSERT_TRUE(c.LogIn(300, "pw300"));  // the login asks for the leave-words by itself
  ASSERT_TRUE(c.PumpUntil([&] { return !c.net->Chat().Records().empty(); }));
  EXPECT_EQ(1, c.net->Chat().Records()[0]->kind);
  EXPECT_EQ(100, c.net->Chat().Records()[0]->user);
  const std::string& text = c.net->Chat().Records()[0]->text;
  EXPECT_NE(std::string::npos, text.find("zhang(100)")) << text;
  // Shown as the header (time and sender) followed by the words.
  std::string words = qb::EscapeChatText("see you <later>");
  ASSERT_GT(text.size(), words.size());
  EXPECT_EQ(words, text.substr(text.size() - words.size()));
}

}  // namespace

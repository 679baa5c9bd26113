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
  bool LogIn(int32_t user, const std::string& password) {
    net->m_nUser = user;
    net->m_strPassword = password;
    if (!net->SendLogin()) return false;
    return PumpUntil([&] {
      for (auto& p : ui.posts)
        if (p.msg == qb::WM_LOGIN_RESULT) return true;
      return false;
    }) && net->m_bLoggedIn;
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
    ASSERT_TRUE(server.Start(db)) << server.Log();
  }
  void TearDown() override {
    EXPECT_EQ(0, server.Stop()) << server.Log();
    os::NetCleanup();
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
  ASSERT_EQ(qb::kUploadStarted, a.net->StartUpload());
  ASSERT_TRUE(a.PumpUntil([&] { return a.net->m_nMode == 0; }));
  ASSERT_EQ(qb::kUploadDone, a.LastStatus(qb::kUploadChannel));

  CProgram b(8, server.Ports());
  ASSERT_TRUE(b.LogIn(100, "secret"));
  ASSERT_EQ(qb::kDownloadStarted, b.net->StartDownload());
  ASSERT_TRUE(b.PumpUntil([&] { return b.LastStatus(qb::kDownloadChannel) == qb::kDownloadDone; }));
  std::unique_ptr<CMyNodeList> got = b.net->TakeDownloadList();
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
  // Not one repeat: every node came once, acknowledged in time.
  size_t progress = 0;
  for (auto& p : b.ui.posts)
    progress += p.msg == qb::WM_TRANSFER_STATUS && p.wParam == qb::kDownloadChannel && (int)p.lParam == qb::kDownloadProgress;
  EXPECT_EQ(1319u, progress);
}

}  // namespace

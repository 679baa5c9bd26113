// The program's side of the protocol: every datagram from the server or from
// another user's program goes through the receive dispatcher and the field
// readers of login, transfer, circles and chat, between the commands a user
// gives (upload, download, circles, chat) and the timers.
//
// Input: records separated by the byte FF, each an op byte and its payload:
//   S  datagram from the server        P, Q  datagram from two other users
//   M  datagram from the first circle member's address
//   u, d  upload / download command    c  cancel the transfer   w  prompt closed
//   e, i, j, l, o  enter a category's / an item's circle, join check box,
//         leave circle, drop out, on the node picked by the payload's first byte
//   t, k  transfer / keep-alive timer  a  chat window shows what arrived
//   x  chat send (payload: flags byte, then the text)
#include <memory>

#include "model/app_logic.h"
#include "fuzz_util.h"
#include "net/netstate.h"
#include "net/transfer.h"
#include "panels/circles.h"

using namespace qb;

namespace {

const uint32_t kServer = 0x0100000A;  // 10.0.0.1
const uint32_t kPeerP = 0x0200000A, kPeerQ = 0x0300000A;

CMyNode* AddNode(CMyNodeList& tree, const char* name, NodeKind kind, CMyNode* parent, int slot,
                 const char* address = "") {
  CMyNode* n = new CMyNode(name, kind, parent, slot, address);
  n->m_tLastVisit = 0;
  // A refused node is the tree's to delete.
  return tree.AddNode(n) ? n : nullptr;
}

CMyNode* Pick(CMyNodeList& tree, const std::string& payload) {
  if (tree.GetCount() == 0) return nullptr;
  unsigned i = payload.empty() ? 0 : (unsigned char)payload[0];
  return tree.GetAt(i % tree.GetCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qfuzz::CQuietUi ui;
  CAppLogic tree(&ui);
  CMyNode* news = AddNode(tree, "新闻", UrlCategory, nullptr, 0);
  AddNode(tree, "新浪", UrlItem, news, 0, "http://www.sina.com.cn/");
  AddNode(tree, "报道", UrlItem, news, 1, "http://news.example.cn/a?b=<c>");
  CMyNode* tools = AddNode(tree, "工具", UrlCategory, nullptr, 1);
  AddNode(tree, "搜索", UrlItem, tools, 0, "http://search.example.com/");
  AddNode(tree, "记事本", ProgramItem, nullptr, 0);

  CNetConfig config;
  CNetState net(tree, ui, config);
  size_t sent = 0;
  net.Sender().m_sendHook = [&sent](const NetDatagram& d) {
    FUZZ_CHECK(d.text.size() >= 4 && d.text.compare(d.text.size() - 2, 2, "\r\n") == 0);
    ++sent;
    return 1;
  };
  net.OnServerAddress(kServer);
  // Logged in, as the login dialog and the server's answer make it.
  net.Login().SetUser(100);
  net.Login().SetPassword("pw1");
  net.Login().SendLogin();
  net.OnDatagram(NetDatagram{"<1><LGI><OK><100>\r\n", kServer, 0});
  FUZZ_CHECK(net.Login().LoggedIn());
  CTransferProgress progress(net);
  panels::CircleService circles = panels::CirclesOf(net);
  auto members = [&net]() -> const std::vector<std::unique_ptr<CircleMember>>& { return net.Circles().Members(); };

  for (const qfuzz::Record& r : qfuzz::SplitRecords(data, size)) {
    PromptView view;
    switch (r.op) {
      case 'S': net.OnDatagram(NetDatagram{r.payload, kServer, 0}); break;
      case 'P': net.OnDatagram(NetDatagram{r.payload, kPeerP, 0}); break;
      case 'Q': net.OnDatagram(NetDatagram{r.payload, kPeerQ, 0}); break;
      case 'M':
        if (!members().empty()) net.OnDatagram(NetDatagram{r.payload, members()[0]->address, 0});
        break;
      case 'u': progress.OnCommand(true, view); break;
      case 'd': progress.OnCommand(false, view); break;
      case 'c': net.Transfer().CancelTransfer(); break;
      case 'w': progress.OnPromptClosed(); break;
      case 'e': panels::EnterCategoryCircle(circles, Pick(tree, r.payload), ui); break;
      case 'i': panels::EnterItemCircle(circles, Pick(tree, r.payload), ui); break;
      case 'j':
        panels::JoinCircleCheckBox(circles, Pick(tree, r.payload), r.payload.size() > 1 && (r.payload[1] & 1), ui);
        break;
      case 'l': panels::LeaveCategoryCircle(circles, Pick(tree, r.payload), ui); break;
      case 'o': net.Circles().DropOutOfCircle(Pick(tree, r.payload)); break;
      case 't': net.OnTimer(kTransferTimer); break;
      case 'k': net.OnTimer(kKeepAliveTimer); break;
      case 'a': {
        std::vector<ChatLine> lines;
        const CircleMember* selected = members().empty() ? nullptr : members().back().get();
        net.Chat().OnChatArrived(r.payload.empty() ? 0 : kServer, !r.payload.empty() && (r.payload[0] & 1), selected,
                                 lines);
        break;
      }
      case 'x': {
        ChatSendInput in;
        unsigned flags = r.payload.empty() ? 0 : (unsigned char)r.payload[0];
        in.text = r.payload.empty() ? std::string() : r.payload.substr(1);
        in.sendOnlyToSelected = flags & 1;
        in.receiveOnlyFromSelected = flags & 2;
        in.selected = members().empty() ? nullptr : members()[(flags >> 2) % members().size()].get();
        in.format = DefaultInputFormat();
        net.Chat().OnChatSend(in);
        break;
      }
      default: break;
    }
    // The user-interface thread's share: transfer statuses to the prompt, and
    // a finished download replacing the web-address folder.
    std::vector<qfuzz::CQuietUi::PostRec> posts;
    posts.swap(ui.posts);
    for (const auto& p : posts) {
      if (p.msg != WM_TRANSFER_STATUS) continue;
      PromptView v;
      if (progress.OnTransferStatus(p.wParam, p.lParam, v) && v.replaceFavorites) {
        std::unique_ptr<CMyNodeList> download = net.Transfer().TakeDownloadList();
        if (download) tree.ReplaceWithDownloaded(*download);
      }
    }
    for (const auto& m : members()) FUZZ_CHECK(m != nullptr);
    // The circle's requesting node is gone with the tree's nodes, or in the tree.
    if (CMyNode* requesting = net.Circles().RequestingNode()) {
      bool inTree = false;
      for (const CMyNode* n : tree) inTree = inTree || n == requesting;
      FUZZ_CHECK(inTree);
    }
  }
  return 0;
}

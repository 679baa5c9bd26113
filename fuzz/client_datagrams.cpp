// The program's side of the protocol: every datagram from the server or from
// another user's program goes through the receive dispatcher and the field
// readers of login, transfer, circles and chat, between the commands a user
// gives (upload, download, circles, chat) and the timers.
//
// Input: records separated by the byte FF, each an op byte and its payload:
//   S  datagram from the server        P, Q  datagram from two other users
//   M  datagram from the first circle member's address
//   u, d  upload / download command    c  cancel the transfer   w  prompt closed
//   e, j, l, g, o  enter circle, join check box, leave circle, delete group
//         item, drop out, on the node picked by the payload's first byte
//   t, k  transfer / keep-alive timer  a  chat window shows what arrived
//   x  chat send (payload: flags byte, then the text)
#include <memory>

#include "app/app_logic.h"
#include "fuzz_util.h"
#include "net/netstate.h"
#include "net/transfer.h"

using namespace qb;

namespace {

const uint32_t kServer = 0x0100000A;  // 10.0.0.1
const uint32_t kPeerP = 0x0200000A, kPeerQ = 0x0300000A;

CMyNode* AddNode(CMyNodeList& tree, const char* name, NodeKind kind, CMyNode* parent, int slot,
                 const char* address = "") {
  CMyNode* n = new CMyNode(0);
  n->m_strName = name;
  n->m_nKind = kind;
  n->m_pParent = parent;
  n->m_nSlot = slot;
  n->m_strAddress = address;
  if (!tree.AddNode(n)) {
    delete n;
    return nullptr;
  }
  return n;
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
  net.m_nUser = 100;
  net.m_strPassword = "pw1";
  net.m_bLoggedIn = true;
  CTransferProgress progress(net);

  for (const qfuzz::Record& r : qfuzz::SplitRecords(data, size)) {
    PromptView view;
    switch (r.op) {
      case 'S': net.OnDatagram(NetDatagram{r.payload, kServer, 0}); break;
      case 'P': net.OnDatagram(NetDatagram{r.payload, kPeerP, 0}); break;
      case 'Q': net.OnDatagram(NetDatagram{r.payload, kPeerQ, 0}); break;
      case 'M':
        if (!net.m_members.empty()) net.OnDatagram(NetDatagram{r.payload, net.m_members[0]->address, 0});
        break;
      case 'u': progress.OnCommand(true, view); break;
      case 'd': progress.OnCommand(false, view); break;
      case 'c': net.CancelTransfer(); break;
      case 'w': progress.OnPromptClosed(); break;
      case 'e': net.CommandEnterCircle(Pick(tree, r.payload)); break;
      case 'j': net.CommandJoinCheckBox(Pick(tree, r.payload), r.payload.size() > 1 && (r.payload[1] & 1)); break;
      case 'l': net.CommandLeaveCircle(Pick(tree, r.payload)); break;
      case 'g': net.CommandDeleteGroupItem(Pick(tree, r.payload)); break;
      case 'o': net.DropOutOfCircle(Pick(tree, r.payload)); break;
      case 't': net.OnTimer(kTransferTimer); break;
      case 'k': net.OnTimer(kKeepAliveTimer); break;
      case 'a': {
        std::vector<ChatLine> lines;
        const CircleMember* selected = net.m_members.empty() ? nullptr : net.m_members.back().get();
        net.OnChatArrived(r.payload.empty() ? 0 : kServer, !r.payload.empty() && (r.payload[0] & 1), selected,
                          lines);
        break;
      }
      case 'x': {
        ChatSendInput in;
        unsigned flags = r.payload.empty() ? 0 : (unsigned char)r.payload[0];
        in.text = r.payload.empty() ? std::string() : r.payload.substr(1);
        in.sendOnlyToSelected = flags & 1;
        in.receiveOnlyFromSelected = flags & 2;
        in.selected = net.m_members.empty() ? nullptr : net.m_members[(flags >> 2) % net.m_members.size()].get();
        in.format = DefaultInputFormat();
        ChatSendOutcome out = net.OnChatSend(in);
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
        std::unique_ptr<CMyNodeList> download = net.TakeDownloadList();
        if (download) tree.ReplaceWithDownloaded(*download);
      }
    }
    for (const auto& m : net.m_members) FUZZ_CHECK(m != nullptr);
  }
  return 0;
}

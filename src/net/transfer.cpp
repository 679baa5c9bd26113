// Favorites upload and download: stop-and-wait over numbered messages.
#include "net/transfer.h"

#include "store/node.h"

namespace qb {

void CNetState::PostStatus(uintptr_t channel, int code) {
  m_ui.Post(UiTarget::UiThread, WM_TRANSFER_STATUS, channel, code);
}

// The deadline counts from the last progress, so that only a transfer that
// stalls fails, however many nodes it carries.
void CNetState::ArmTransferDeadline() { m_ui.StartTimer(UiTarget::UiThread, kTransferTimer, kTransferDeadlineMs); }

int CNetState::StartUpload() {
  if (!m_bLoggedIn) return kNotLoggedIn;
  if (!m_sender.m_serverAddress) return kNoServer;
  if (m_nMode != 0) return kTransferBusy;
  if (m_tree.CountKind(UrlItem) + m_tree.CountKind(UrlCategory) < 2) return kNothingToTransfer;
  if (m_sender.SendToServer(MsgFavUpCount((int32_t)m_tree.GetCount(), m_nUser, m_strPassword))) {
    m_nTransferCount = 0;
    m_nMode = 1;
    return kUploadStarted;
  }
  m_nMode = 0;
  return kUploadFailed;
}

int CNetState::StartDownload() {
  if (!m_bLoggedIn) return kNotLoggedIn;
  if (!m_sender.m_serverAddress) return kNoServer;
  if (m_nMode != 0) return kTransferBusy;
  if (m_sender.SendToServer(MsgFavDownReq(m_nUser, m_strPassword))) {
    m_nTransferCount = 0;
    m_nMode = 2;
    return kDownloadStarted;
  }
  m_nMode = 0;
  return kDownloadFailed;
}

int CNetState::SendNode(size_t index) {
  if (index >= m_tree.GetCount()) return kUploadFailed;
  if (!m_sender.SendToServer("<FAV><UP><NODE>" + m_tree.GetAt(index)->UploadRecord())) {
    m_nMode = 0;
    return kUploadFailed;
  }
  ArmTransferDeadline();
  return kUploadProgress;
}

int CNetState::ReceiveNode(FieldList& fields) {
  if (m_nMode != 2 || !m_pDownloadList) return kDownloadFailed;
  if (m_nTransferCount == 0) m_nDownloadBase = m_nLastReceived;
  int32_t expected = m_nDownloadBase + m_nTransferCount;
  if (m_nLastReceived < expected) return kDownloadProgress;  // a repeat: neither stored nor acknowledged
  if (m_nLastReceived > expected) return kDownloadFailed;    // a node was lost
  ++m_nTransferCount;
  std::unique_ptr<CMyNode> node(new CMyNode);
  std::vector<std::string> v(fields.begin(), fields.end());
  if (!node->ReadFields(v)) return kDownloadFailed;
  // The loader's add: items with the same name and address under two
  // different categories are both kept. The list takes the node.
  m_pDownloadList->AddLoadedNode(node.release());
  if (!m_sender.ReplyToServer(m_nLastReceived, MsgFavDownNodeOk())) return kDownloadFailed;
  ArmTransferDeadline();
  return m_nDownloadBase + m_nDownloadTotal == m_nLastReceived + 1 ? kDownloadDone : kDownloadProgress;
}

void CNetState::OnFavReply(FieldList& fields) {
  std::string dir, what;
  if (!TakeField(fields, dir)) return;
  if (dir == "UP") {
    // Only while uploading: a stray reply must not start sending the tree.
    if (fields.empty() || m_nMode != 1) return;
    TakeField(fields, what);
    bool current = m_nLastReceived == m_sender.m_nCounter;
    if (what == "ALLOWED") {
      if (current) PostStatus(kUploadChannel, SendNode((size_t)m_nTransferCount));
    } else if (what == "NODE") {
      std::string ok;
      if (!TakeField(fields, ok) || ok != "OK" || !current) return;
      ++m_nTransferCount;
      if ((size_t)m_nTransferCount < m_tree.GetCount()) {
        PostStatus(kUploadChannel, SendNode((size_t)m_nTransferCount));
      } else {
        m_nMode = 0;
        PostStatus(kUploadChannel, kUploadDone);
      }
    }
    return;
  }
  if (dir != "DOWN" || !TakeField(fields, what)) return;
  if (what == "REQ") {
    std::string answer;
    if (!TakeField(fields, answer)) return;
    if (answer == "INVALID")
      PostStatus(kDownloadChannel, kDownloadRefused);
    else if (answer == "BLANK")
      PostStatus(kDownloadChannel, kNothingToTransfer);
  } else if (what == "COUNT") {
    std::string total;
    // Only while a download is running: a late COUNT after a cancel would
    // otherwise leave the program "downloading" with no deadline, for good.
    if (!TakeField(fields, total) || total.empty() || m_nMode != 2) return;
    m_nDownloadTotal = ReadNumber(total);
    if (!m_sender.ReplyToServer(m_nLastReceived, MsgFavDownReady())) {
      m_nDownloadTotal = 0;
      m_nMode = 0;
      PostStatus(kDownloadChannel, kDownloadFailed);
      return;
    }
    m_pDownloadList.reset(new CMyNodeList);
    m_pDownloadList->m_strBaseDir = m_tree.m_strBaseDir;
    m_nTransferCount = 0;
    m_nMode = 2;
    ArmTransferDeadline();
    m_ui.Post(UiTarget::UiThread, WM_TRANSFER_STATUS, kDownloadTotalChannel, m_nDownloadTotal);
  } else if (what == "NODE" && !fields.empty()) {
    int status = ReceiveNode(fields);
    if (status == kDownloadFailed) {
      m_nMode = 0;
      m_pDownloadList.reset();
    }
    PostStatus(kDownloadChannel, status);
  }
}

void CNetState::OnTransferDeadline() {
  m_ui.StopTimer(UiTarget::UiThread, kTransferTimer);
  if (m_nMode == 1) PostStatus(kUploadChannel, kUploadTimedOut);
  if (m_nMode == 2) {
    PostStatus(kDownloadChannel, kDownloadTimedOut);
    m_pDownloadList.reset();
  }
  m_nMode = 0;
}

int CNetState::CancelTransfer() {
  m_ui.StopTimer(UiTarget::UiThread, kTransferTimer);
  std::string msg;
  if (m_nMode == 1) msg = MsgFavUpCancel();
  if (m_nMode == 2) {
    msg = MsgFavDownCancel();
    m_pDownloadList.reset();
  }
  m_nMode = 0;
  return msg.empty() ? 0 : m_sender.SendToServer(msg);
}

std::unique_ptr<CMyNodeList> CNetState::TakeDownloadList() { return std::move(m_pDownloadList); }

// ---- the progress prompt's logic ----
std::string TransferStatusText(uintptr_t channel, int code) {
  switch (code) {
    case kNotLoggedIn: return "您未登录,请先登录!";
    case kNoServer: return "连网失败!";
    case kTransferBusy: return "已经有上传或下载正在进行!";
    case kNothingToTransfer: return channel == kUploadChannel ? "收藏夹内容为空,请检查！" : "网络收藏为空！";
  }
  if (channel == kUploadChannel) {
    switch (code) {
      case kUploadStarted:
      case kUploadProgress: return "正在上传......";
      case kUploadFailed: return "上传失败！";
      case kUploadTimedOut: return "上传超时失败!";
      case kUploadDone: return "上传成功！";
    }
  } else if (channel == kDownloadChannel) {
    switch (code) {
      case kDownloadStarted:
      case kDownloadProgress: return "正在下载......";
      case kDownloadFailed: return "下载失败！";
      case kDownloadDone: return "下载成功！";
      case kDownloadTimedOut: return "下载超时!";
      case kDownloadRefused: return "下载非法！";
    }
  }
  return "";
}

static void SetButtons(int code, PromptView& v) {
  bool running = code == kUploadStarted || code == kUploadProgress || code == kDownloadStarted ||
                 code == kDownloadProgress;
  v.cancelEnabled = running;
  v.okEnabled = !running;
}

bool CTransferProgress::OnCommand(bool upload, PromptView& view) {
  view = PromptView();
  if (m_bPromptOpen) return false;
  m_bPromptOpen = true;
  m_nStep = 0;
  if (upload) m_nAnnouncedTotal = 0;
  int code = upload ? m_net.StartUpload() : m_net.StartDownload();
  view.text = TransferStatusText(upload ? kUploadChannel : kDownloadChannel, code);
  SetButtons(code, view);
  if (code == kUploadStarted || code == kDownloadStarted)
    m_net.Ui().StartTimer(UiTarget::UiThread, kTransferTimer, kTransferDeadlineMs);
  view.setRange = true;
  view.rangeMax = (int)m_net.Tree().GetCount();
  return true;
}

bool CTransferProgress::OnTransferStatus(uintptr_t channel, intptr_t code, PromptView& view) {
  view = PromptView();
  if (!m_bPromptOpen) return false;
  if (channel == kDownloadTotalChannel) {
    m_nAnnouncedTotal = (int)code;
    view.setRange = true;
    view.rangeMax = (int)code;
    return true;
  }
  bool ends = (channel == kUploadChannel && (code == kUploadFailed || code == kUploadDone)) ||
              (channel == kDownloadChannel && (code == kNothingToTransfer || code == kDownloadFailed ||
                                               code == kDownloadDone || code == kDownloadRefused));
  if (ends) {
    m_net.Ui().StopTimer(UiTarget::UiThread, kTransferTimer);
    m_net.m_nMode = 0;
  }
  int limit = -1;
  if (channel == kUploadChannel && code == kUploadProgress) limit = (int)m_net.Tree().GetCount();
  if (channel == kDownloadChannel && code == kDownloadProgress) limit = m_nAnnouncedTotal;
  if (limit >= 0 && m_nStep <= limit) {
    view.moveBar = true;
    view.barPos = m_nStep++;
  }
  if (channel == kUploadChannel && code == kUploadDone) {
    view.moveBar = true;
    view.barPos = (int)m_net.Tree().GetCount();
  }
  if (channel == kDownloadChannel && code == kDownloadDone) {
    view.moveBar = true;
    view.barPos = m_nAnnouncedTotal;
    view.replaceFavorites = true;
  }
  view.text = TransferStatusText(channel, (int)code);
  SetButtons((int)code, view);
  return true;
}

}  // namespace qb

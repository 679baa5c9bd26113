// Favorites upload and download: stop-and-wait over numbered messages.
#include "net/transfer.h"

#include <algorithm>
#include <cstdlib>

#include "os/os.h"
#include "store/node.h"

namespace qb {

void CNetTransfer::PostStatus(uintptr_t channel, int code) {
  m_net.Ui().Post(UiTarget::UiThread, WM_TRANSFER_STATUS, channel, code);
}

// The deadline counts from the last progress, so that only a transfer that
// stalls fails, however many nodes it carries.
void CNetTransfer::ArmTransferDeadline() {
  m_net.Ui().StartTimer(UiTarget::UiThread, kTransferTimer, kTransferDeadlineMs);
}

CNetTransfer::~CNetTransfer() {
  if (m_bResendArmed) m_net.Ui().StopTimer(UiTarget::UiThread, kTransferResendTimer);
}

void CNetTransfer::Ended() {
  m_nMode = kIdle;
  StopResend();
}

void CNetTransfer::StopResend() {
  m_strAwaited.clear();
  if (m_bResendArmed) m_net.Ui().StopTimer(UiTarget::UiThread, kTransferResendTimer);
  m_bResendArmed = false;
}

// A message of the upload that the server answers: sent again, with the same
// number, when its answer is late, so one lost datagram costs a round trip
// or two rather than the whole upload.
int CNetTransfer::SendAwaited(const std::string& message) {
  StopResend();
  if (!m_net.Sender().SendToServer(message)) return 0;
  m_strAwaited = message;
  m_nAwaitedNumber = m_net.Sender().m_nCounter;
  m_nSentAt = os::TickCount();
  m_nSends = 1;
  m_net.Ui().StartTimer(UiTarget::UiThread, kTransferResendTimer, m_nRto);
  m_bResendArmed = true;
  return 1;
}

void CNetTransfer::OnResendTimer() {
  m_net.Ui().StopTimer(UiTarget::UiThread, kTransferResendTimer);
  m_bResendArmed = false;
  if (m_nMode != kUploading || m_strAwaited.empty() || m_nSends >= kResendTries) return;
  if (!m_net.Sender().SendToServerAs(m_nAwaitedNumber, m_strAwaited)) return;
  ++m_nSends;
  // Backing off: a path that loses more than the estimate knows is given longer.
  m_nRto = std::min(m_nRto * 2, kResendCeilingMs);
  m_net.Ui().StartTimer(UiTarget::UiThread, kTransferResendTimer, m_nRto);
  m_bResendArmed = true;
}

// The awaited answer came. As TCP does: a smoothed round trip plus four
// times its variation, and no sample from a message sent more than once,
// whose answer may be to either copy.
void CNetTransfer::NoteRoundTrip() {
  if (m_nSends == 1) {
    int r = (int)(os::TickCount() - m_nSentAt);
    if (m_nSrtt < 0) {
      m_nSrtt = r;
      m_nRttVar = r / 2;
    } else {
      m_nRttVar = (3 * m_nRttVar + std::abs(m_nSrtt - r)) / 4;
      m_nSrtt = (7 * m_nSrtt + r) / 8;
    }
    m_nRto = std::max(kResendFloorMs, std::min(kResendCeilingMs, (unsigned)(m_nSrtt + 4 * m_nRttVar)));
  }
  StopResend();
}

int CNetTransfer::StartUpload(int32_t fromRevision) {
  const CNetLogin& login = m_net.Login();
  CMyNodeList& tree = m_net.Tree();
  if (!login.LoggedIn()) return kNotLoggedIn;
  if (!m_net.Sender().m_serverAddress) return kNoServer;
  if (m_nMode != kIdle) return kTransferBusy;
  if (tree.CountKind(UrlItem) + tree.CountKind(UrlCategory) < 2) return kNothingToTransfer;
  // The revision goes as a trailing field, which servers before revisions pass over.
  std::string count = MsgFavUpCount((int32_t)tree.GetCount(), login.User(), login.Password());
  if (fromRevision >= 0) count += BracketNumber(fromRevision);
  if (SendAwaited(count)) {
    m_nTransferCount = 0;
    m_nFromRevision = fromRevision;
    m_nUploadRevision = m_nStaleRevision = kNoRevision;
    m_nMode = kUploading;
    return kUploadStarted;
  }
  m_nMode = kIdle;
  return kUploadFailed;
}

int CNetTransfer::StartDownload() {
  const CNetLogin& login = m_net.Login();
  if (!login.LoggedIn()) return kNotLoggedIn;
  if (!m_net.Sender().m_serverAddress) return kNoServer;
  if (m_nMode != kIdle) return kTransferBusy;
  if (m_net.Sender().SendToServer(MsgFavDownReq(login.User(), login.Password()))) {
    m_nTransferCount = 0;
    m_nLastDoneNumber = 0;
    m_nCountRevision = kNoRevision;
    m_pDownloadList.reset();  // a list not taken is no part of this download
    m_nMode = kDownloading;
    return kDownloadStarted;
  }
  m_nMode = kIdle;
  return kDownloadFailed;
}

int CNetTransfer::SendNode(size_t index) {
  if (index >= m_net.Tree().GetCount()) return kUploadFailed;
  if (!SendAwaited("<FAV><UP><NODE>" + m_net.Tree().GetAt(index)->UploadRecord())) {
    m_nMode = kIdle;
    return kUploadFailed;
  }
  ArmTransferDeadline();
  return kUploadProgress;
}

// Only while downloading; a node before the count has no list to go to.
int CNetTransfer::ReceiveNode(FieldList& fields) {
  if (!m_pDownloadList) return kDownloadFailed;
  int32_t received = m_net.LastReceived();
  if (m_nTransferCount == 0) m_nDownloadBase = received;
  int32_t expected = m_nDownloadBase + m_nTransferCount;
  if (received < expected) {
    // A repeat: the server sends a node again when its acknowledgement was
    // lost, and goes on sending it until one arrives. Acknowledged again,
    // stored once.
    if (!m_net.Sender().ReplyToServer(received, MsgFavDownNodeOk())) return kDownloadFailed;
    return kDownloadProgress;
  }
  if (received > expected) return kDownloadFailed;    // a node was lost
  ++m_nTransferCount;
  std::unique_ptr<CMyNode> node(new CMyNode);
  std::vector<std::string> v(fields.begin(), fields.end());
  if (!node->ReadFields(v)) return kDownloadFailed;
  // The loader's add: items with the same name and address under two
  // different categories are both kept. The list takes the node, and finds
  // an equal one through its index, so a long download costs time in
  // proportion to its size.
  m_pDownloadList->AddLoadedNode(node.release());
  if (!m_net.Sender().ReplyToServer(received, MsgFavDownNodeOk())) return kDownloadFailed;
  ArmTransferDeadline();
  if (m_nDownloadBase + m_nDownloadTotal != received + 1) return kDownloadProgress;
  m_nLastDoneNumber = received;
  m_nDownloadRevision = m_nCountRevision;
  return kDownloadDone;
}

// Only while uploading: a stray reply must not start sending the tree.
void CNetTransfer::OnUpReply(FieldList& fields) {
  std::string what;
  if (fields.empty() || m_nMode != kUploading) return;
  TakeField(fields, what);
  // The answer to the message awaited, not to an earlier one. A keep-alive
  // sent meanwhile takes the next number: the answer is still this one's.
  bool current = m_net.LastReceived() == m_nAwaitedNumber;
  if (what == "ALLOWED") {
    if (!current) return;
    NoteRoundTrip();
    PostStatus(kUploadChannel, SendNode((size_t)m_nTransferCount));
  } else if (what == "NODE") {
    std::string ok, revision;
    if (!TakeField(fields, ok) || ok != "OK" || !current) return;
    NoteRoundTrip();
    ++m_nTransferCount;
    if ((size_t)m_nTransferCount < m_net.Tree().GetCount()) {
      PostStatus(kUploadChannel, SendNode((size_t)m_nTransferCount));
    } else {
      // The last node's answer names the tree's new revision (servers before revisions do not).
      m_nUploadRevision = TakeField(fields, revision) && !revision.empty() ? ReadNumber(revision) : kNoRevision;
      m_nMode = kIdle;
      PostStatus(kUploadChannel, kUploadDone);
    }
  } else if (what == "STALE") {
    // Another machine's upload came first: this tree would undo it.
    std::string revision;
    if (!current) return;
    StopResend();
    m_nStaleRevision = TakeField(fields, revision) && !revision.empty() ? ReadNumber(revision) : kNoRevision;
    m_nMode = kIdle;
    PostStatus(kUploadChannel, kUploadStale);
  }
}

// Only while a download is running: a late COUNT after a cancel would
// otherwise leave the program "downloading" with no deadline, for good.
void CNetTransfer::OnDownCount(FieldList& fields) {
  std::string total, revision;
  if (!TakeField(fields, total) || total.empty() || m_nMode != kDownloading) return;
  int32_t number = m_net.LastReceived();
  // The same COUNT again: the server did not hear READY. It is answered
  // again; the list made for it stays.
  if (m_pDownloadList && number == m_nCountNumber) {
    m_net.Sender().ReplyToServer(number, MsgFavDownReady());
    return;
  }
  m_nDownloadTotal = ReadNumber(total);
  // Servers that keep revisions name the tree's as a trailing field.
  m_nCountRevision = TakeField(fields, revision) && !revision.empty() ? ReadNumber(revision) : kNoRevision;
  m_nCountNumber = number;
  if (!m_net.Sender().ReplyToServer(number, MsgFavDownReady())) {
    m_nDownloadTotal = 0;
    m_nMode = kIdle;
    PostStatus(kDownloadChannel, kDownloadFailed);
    return;
  }
  m_pDownloadList.reset(new CMyNodeList);
  m_pDownloadList->m_strBaseDir = m_net.Tree().m_strBaseDir;
  m_nTransferCount = 0;
  m_nMode = kDownloading;
  ArmTransferDeadline();
  m_net.Ui().Post(UiTarget::UiThread, WM_TRANSFER_STATUS, kDownloadTotalChannel, m_nDownloadTotal);
}

void CNetTransfer::OnFavReply(FieldList& fields) {
  std::string dir, what;
  if (!TakeField(fields, dir)) return;
  if (dir == "UP") {
    OnUpReply(fields);
    return;
  }
  if (dir != "DOWN" || !TakeField(fields, what)) return;
  if (what == "REQ") {
    std::string answer;
    if (!TakeField(fields, answer)) return;
    if (answer == "INVALID") {
      PostStatus(kDownloadChannel, kDownloadRefused);
    } else if (answer == "BLANK") {
      if (m_nMode == kDownloading) m_nDownloadRevision = 0;  // nothing stored: revision 0
      PostStatus(kDownloadChannel, kNothingToTransfer);
    }
  } else if (what == "COUNT") {
    OnDownCount(fields);
  } else if (what == "NODE" && !fields.empty()) {
    // With no download under way this is the last node sent again (its
    // acknowledgement was lost): acknowledged again, and the list the user
    // is about to take stays.
    if (m_nMode != kDownloading) {
      if (m_nLastDoneNumber != 0 && m_net.LastReceived() == m_nLastDoneNumber)
        m_net.Sender().ReplyToServer(m_nLastDoneNumber, MsgFavDownNodeOk());
      return;
    }
    int status = ReceiveNode(fields);
    if (status == kDownloadFailed) {
      m_nMode = kIdle;
      m_pDownloadList.reset();
    }
    PostStatus(kDownloadChannel, status);
  }
}

void CNetTransfer::OnTransferDeadline() {
  m_net.Ui().StopTimer(UiTarget::UiThread, kTransferTimer);
  StopResend();
  if (m_nMode == kUploading) PostStatus(kUploadChannel, kUploadTimedOut);
  if (m_nMode == kDownloading) {
    PostStatus(kDownloadChannel, kDownloadTimedOut);
    m_pDownloadList.reset();
  }
  m_nMode = kIdle;
}

int CNetTransfer::CancelTransfer() {
  m_net.Ui().StopTimer(UiTarget::UiThread, kTransferTimer);
  StopResend();
  std::string msg;
  if (m_nMode == kUploading) msg = MsgFavUpCancel();
  if (m_nMode == kDownloading) {
    msg = MsgFavDownCancel();
    m_pDownloadList.reset();
  }
  m_nMode = kIdle;
  return msg.empty() ? 0 : m_net.Sender().SendToServer(msg);
}

std::unique_ptr<CMyNodeList> CNetTransfer::TakeDownloadList() { return std::move(m_pDownloadList); }

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
      case kUploadStale: return "服务器上的收藏夹已被另一台电脑更改，请重新同步！";
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

bool CTransferProgress::OnCommand(bool upload, PromptView& view, int32_t fromRevision) {
  view = PromptView();
  if (m_bPromptOpen) return false;
  m_bPromptOpen = true;
  m_nStep = 0;
  if (upload) m_nAnnouncedTotal = 0;
  int code = upload ? m_net.Transfer().StartUpload(fromRevision) : m_net.Transfer().StartDownload();
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
  bool ends = (channel == kUploadChannel && (code == kUploadFailed || code == kUploadDone || code == kUploadStale)) ||
              (channel == kDownloadChannel && (code == kNothingToTransfer || code == kDownloadFailed ||
                                               code == kDownloadDone || code == kDownloadRefused));
  if (ends) {
    m_net.Ui().StopTimer(UiTarget::UiThread, kTransferTimer);
    m_net.Transfer().Ended();
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

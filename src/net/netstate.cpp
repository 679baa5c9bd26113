// The numbered sender, the two dispatchers, and the login part: login,
// keep-alive and version.
#include "net/netstate.h"

#include <algorithm>
#include <random>

#include "base/cipher.h"
#include "os/os.h"
#include "store/node.h"

namespace qb {

const char kNoCircleText[] = "您还未指定要进入的圈";

const char* SessionLostText(uintptr_t why) {
  if (why == kLostElsewhere) return "您的号码已在另一台电脑上登录，本机已退出登录。";
  if (why == kLostRefused) return "服务器拒绝了重新登录，请重新登录。";
  return "与服务器的连接已断开，请稍后重新登录。";
}

// ---- sender ----
int CMsgSender::ChooseLink() {
  // Reseeded from the clock in whole seconds: every message of one second
  // takes the same link.
  std::minstd_rand gen(os::TickCount() / 1000 + 1);
  return (int)(gen() % kLinkCount);
}

int CMsgSender::Push(int link, const std::string& text, uint32_t address, uint16_t port) {
  if (m_sendHook) return m_sendHook(NetDatagram{text, address, port});
  CMsgQueue* queue = m_links ? m_links->SendQueue(link) : nullptr;
  if (!queue) return 0;
  std::unique_ptr<NetDatagram> d(new NetDatagram);
  d->text = text;
  d->address = address;
  d->port = port;
  return queue->Push(d);
}

int CMsgSender::SendToServer(const std::string& message) {
  if (!m_serverAddress) return 0;
  return SendToServerAs(++m_nCounter, message);
}

int CMsgSender::SendToServerAs(int32_t number, const std::string& message) {
  if (!m_serverAddress) return 0;
  int k = ChooseLink();
  return Push(k, FrameMessage(number, message), m_serverAddress, (uint16_t)(m_config.serverBasePort + k));
}

int CMsgSender::SendToPeer(const std::string& message, bool advance, uint32_t address) {
  if (!m_serverAddress) return 0;
  if (advance) ++m_nCounter;
  int k = ChooseLink();
  return Push(k, FrameMessage(m_nCounter, message), address, (uint16_t)(m_config.peerBasePort + k));
}

uint32_t CMsgSender::EnsureServerAddress() {
  if (!m_serverAddress) m_serverAddress = ResolveServer(m_config);
  return m_serverAddress;
}

int CMsgSender::ReplyToServer(int32_t number, const std::string& message) {
  if (!EnsureServerAddress()) return 0;
  return Push(0, FrameMessage(number, message), m_serverAddress, m_config.serverBasePort);
}

// ---- the state ----
CNetState::CNetState(CMyNodeList& tree, IUserInterface& ui, const CNetConfig& config)
    : m_tree(tree), m_ui(ui), m_config(config), m_sender(config) {
  m_ui.StartTimer(UiTarget::UiThread, kKeepAliveTimer, m_config.keepAliveMs);
}

CNetState::~CNetState() {
  m_ui.StopTimer(UiTarget::UiThread, kKeepAliveTimer);
  m_ui.StopTimer(UiTarget::UiThread, kTransferTimer);
  m_ui.StopTimer(UiTarget::UiThread, kSessionTimer);
}

void CNetState::OnTimer(unsigned id) {
  if (id == kKeepAliveTimer)
    m_login.SendKeepAlive();
  else if (id == kTransferTimer)
    m_transfer.OnTransferDeadline();
  else if (id == kTransferResendTimer)
    m_transfer.OnResendTimer();
  else if (id == kSessionTimer)
    m_login.OnSessionTimer();
}

void CNetState::OnServerAddress(uint32_t address) {
  if (address && !m_sender.m_serverAddress) m_sender.m_serverAddress = address;
}

// ---- dispatch ----
int CNetState::PumpReceived() {
  if (!m_links) return 0;
  int n = 0;
  while (std::unique_ptr<NetDatagram> d = m_links->ReceiveQueue().Pop()) {
    OnDatagram(*d);
    ++n;
  }
  m_chat.DeliverNotices();
  return n;
}

void CNetState::OnDatagram(const NetDatagram& datagram) {
  FieldList fields;
  if (!SplitFields(datagram.text, fields)) return;
  if (!m_sender.EnsureServerAddress()) return;
  if (datagram.address == m_sender.m_serverAddress) {
    OnServerMessage(fields);
    return;
  }
  std::string field;
  TakeField(fields, field);
  m_nLastReceived = ReadNumber(field);
  if (!TakeField(fields, field)) return;
  if (field == "CHAT")
    m_chat.OnPeerChat(fields, datagram.address);
  else if (field == "GROUP")
    m_circles.OnPeerGroup(fields);
}

// The server's messages by type, and the part that handles each.
namespace {
using ServerHandler = void (*)(CNetState&, FieldList&);
const struct {
  const char* type;
  ServerHandler handle;
} kServerMessages[] = {
    {"LGI", [](CNetState& n, FieldList& f) { n.Login().OnLoginReply(f); }},
    {"FAV", [](CNetState& n, FieldList& f) { n.Transfer().OnFavReply(f); }},
    {"VER", [](CNetState& n, FieldList& f) { n.Login().OnVersion(f); }},
    {"LIV", [](CNetState& n, FieldList& f) { n.Login().OnKeepAliveReply(f); }},
    {"GROUP", [](CNetState& n, FieldList& f) { n.Circles().OnGroupReply(f); }},
    {"LWORDS", [](CNetState& n, FieldList& f) { n.Chat().OnLeaveWords(f); }},
    {"CHAT", [](CNetState& n, FieldList& f) { n.Chat().OnServerChat(f); }},
    {"CHATAD", [](CNetState& n, FieldList& f) { n.Chat().OnChatAd(f); }},
};
}  // namespace

void CNetState::OnServerMessage(FieldList& fields) {
  std::string field;
  if (!TakeField(fields, field)) return;
  m_nLastReceived = ReadNumber(field);
  if (!TakeField(fields, field)) return;
  for (const auto& m : kServerMessages)
    if (field == m.type) return m.handle(*this, fields);
}

// ---- login ----
int CNetLogin::SendLogin() {
  if (m_bLoggedIn) return 0;
  return m_net.Sender().SendToServer(MsgLogin(m_nUser, m_strPassword));
}

int CNetLogin::SendLogout() {
  if (!m_bLoggedIn) return 0;
  m_net.Circles().LeaveCurrentCircle();
  std::string msg = MsgLogout(m_nUser, m_strPassword);
  m_net.Sender().SendToServer(msg);
  // Twice, half a second apart: one of them usually gets through.
  os::SleepMs(500);
  return m_net.Sender().SendToServer(msg);
}

// The server answers a keep-alive (servers before that answer did not: a
// login then renews the session, which such a server takes as well).
void CNetLogin::SendKeepAlive() {
  if (!m_bLoggedIn || Relogging()) return;
  if (!m_net.Sender().SendToServer(MsgKeepAlive(m_nUser, m_strPassword))) return;  // no address yet
  m_bAwaitingAlive = true;
  m_net.Ui().StartTimer(UiTarget::UiThread, kSessionTimer, AliveReplyMs());
}

unsigned CNetLogin::AliveReplyMs() const {
  return std::min<unsigned>(kAliveReplyMs, m_net.Config().keepAliveMs / 2);
}

unsigned CNetLogin::ReloginPauseMs(unsigned tries) const {
  unsigned first = std::max<unsigned>(1, std::min<unsigned>(kReloginFirstPauseMs, m_net.Config().keepAliveMs / 8));
  return first << std::min<unsigned>(tries - 1, 16);
}

void CNetLogin::OnKeepAliveReply(FieldList& fields) {
  if (!m_bAwaitingAlive) return;  // set only while logged in
  std::string answer;
  TakeField(fields, answer);
  m_bAwaitingAlive = false;
  m_net.Ui().StopTimer(UiTarget::UiThread, kSessionTimer);
  if (answer == "OK") return;
  // Logging in again would throw the other machine out, which logs in again...
  if (answer == "ELSEWHERE") return LoseSession(kLostElsewhere);
  BeginRelogin();
}

void CNetLogin::OnSessionTimer() {
  m_net.Ui().StopTimer(UiTarget::UiThread, kSessionTimer);
  if (!m_bLoggedIn) return;
  if (m_bAwaitingAlive) {
    m_bAwaitingAlive = false;
    return BeginRelogin();
  }
  if (!Relogging()) return;
  if (m_nReloginTries >= kReloginTries) return LoseSession(kLostNoServer);
  ++m_nReloginTries;
  m_net.Sender().SendToServer(MsgLogin(m_nUser, m_strPassword));
  m_net.Ui().StartTimer(UiTarget::UiThread, kSessionTimer, ReloginPauseMs(m_nReloginTries));
}

void CNetLogin::BeginRelogin() {
  m_bAwaitingAlive = false;
  m_nReloginTries = 1;
  m_net.Sender().SendToServer(MsgLogin(m_nUser, m_strPassword));
  m_net.Ui().StartTimer(UiTarget::UiThread, kSessionTimer, ReloginPauseMs(m_nReloginTries));
}

// Shown once: the login button comes back, the tray's transfers grey out.
void CNetLogin::LoseSession(SessionLost why) {
  m_bLoggedIn = false;
  m_bAwaitingAlive = false;
  m_nReloginTries = 0;
  m_net.Ui().StopTimer(UiTarget::UiThread, kSessionTimer);
  m_net.Ui().Post(UiTarget::MainWindow, WM_SESSION_LOST, why, 0);
}

void CNetLogin::OnLoginReply(FieldList& fields) {
  std::string ok, number;
  bool accepted = TakeField(fields, ok) && ok == "OK" && TakeField(fields, number) && ReadNumber(number) == m_nUser;
  if (Relogging()) {
    if (!accepted) return LoseSession(kLostRefused);  // a wrong password stops the tries
    m_nReloginTries = 0;
    m_net.Ui().StopTimer(UiTarget::UiThread, kSessionTimer);
    m_net.Sender().SendToServer(MsgReqWords(m_nUser));
    return;
  }
  if (accepted) {
    m_bLoggedIn = true;
    m_net.Ui().Post(UiTarget::MainWindow, WM_LOGIN_RESULT, kLoginAccepted, 0);
    m_net.Sender().SendToServer(MsgReqWords(m_nUser));
    return;
  }
  m_net.Ui().Post(UiTarget::MainWindow, WM_LOGIN_RESULT, kLoginRefused, 0);
}

void CNetLogin::OnVersion(FieldList& fields) {
  std::string v;
  if (!TakeField(fields, v)) return;
  if ((uint32_t)ReadNumber(v) > (uint32_t)kProgramVersion) m_net.Ui().Post(UiTarget::MainWindow, WM_NEW_VERSION, 0, 0);
}

}  // namespace qb

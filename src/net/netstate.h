// The network state of the program: the numbered sender, the dispatchers,
// login, favorites upload and download, circles and chat. Everything here
// runs on the user-interface thread; it talks to windows only through
// IUserInterface (posts, boxes, timers).
//
// How the program drives it:
//   start-up  config = LoadNetConfig(programDir); links.Start(config);
//             net.SetLinks(&links); resolver.Start(config, callback that
//             posts WM_SERVER_ADDRESS to the user-interface thread);
//             resolver.RequestResolve() once the main window exists.
//   loop      wait on links.ReceiveQueue().Event() (NativeHandle() for
//             MsgWaitForMultipleObjects) and call net.PumpReceived().
//   messages  WM_SERVER_ADDRESS -> OnServerAddress(lParam); a timer started on
//             UiTarget::UiThread -> OnTimer(id); WM_TRANSFER_STATUS ->
//             CTransferProgress::OnTransferStatus (net/transfer.h).
//   members   WM_MEMBER_* carry CircleMember::serial; Circles().FindMember(serial).
//   exit      net.Login().SendLogout(); links.Stop(); resolver.Stop().
//
// CNetState owns four parts and dispatches what arrives to them: Login(),
// Transfer(), Circles() and Chat(). Their state is private; the windows read
// it and change it only through the parts' functions.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/ui.h"
#include "net/link.h"
#include "net/message.h"
#include "store/node.h"

namespace qb {

// Timers on the user-interface thread (no owner window); their identifiers
// and the message numbers are in base/messages.h.
const unsigned kKeepAliveMs = 1200000;
// Logging in again after the server forgot the login: this many tries, the
// first pause kReloginFirstPauseMs (or an eighth of a shorter keep-alive
// period), doubled after each; a keep-alive unanswered for kAliveReplyMs (or
// half a shorter period) starts them.
const unsigned kReloginTries = 6;
const unsigned kReloginFirstPauseMs = 5000;
const unsigned kAliveReplyMs = 10000;
const unsigned kTransferDeadlineMs = 6100;
// Resending a transfer message whose answer is late (net/transfer.h): the
// wait before any round trip is measured, its floor and ceiling, and the
// sends of one message at most.
const unsigned kResendInitialMs = 1000;
const unsigned kResendFloorMs = 10;
const unsigned kResendCeilingMs = 3000;
const int kResendTries = 8;
// A tree's revision on the server; unknown, or any (an upload not conditioned on one).
const int32_t kNoRevision = -1;

enum TransferStatus : int {
  kNotLoggedIn = 7009,
  kNoServer = 7010,
  kTransferBusy = 7011,
  kUploadStarted = 7012,
  kNothingToTransfer = 7013,
  kUploadFailed = 7014,
  kUploadTimedOut = 7015,
  kUploadProgress = 7017,
  kUploadDone = 7018,
  kUploadStale = 7019,  // refused: the server's tree changed since the revision named
  kDownloadStarted = 7025,
  kDownloadFailed = 7026,
  kDownloadDone = 7027,
  kDownloadTimedOut = 7028,
  kDownloadProgress = 7029,
  kDownloadRefused = 7030,
};
enum : int { kCircleRequestSent = 7050, kCircleRequestNotSent = 7051 };

// The numbered sender: every protocol message goes out through one of these.
class CMsgSender {
 public:
  explicit CMsgSender(const CNetConfig& config) : m_config(config) {}
  void SetLinks(CNetLinks* links) { m_links = links; }

  int SendToServer(const std::string& message);
  // Under a given number: a message sent again goes under the one it first
  // went with (a keep-alive may have taken the next numbers meanwhile).
  int SendToServerAs(int32_t number, const std::string& message);
  int SendToPeer(const std::string& message, bool advance, uint32_t address);
  int ReplyToServer(int32_t number, const std::string& message);
  // Resolves the server on the spot when its address is not known yet.
  uint32_t EnsureServerAddress();
  // The link for a message sent now: the same for every message of one second.
  static int ChooseLink();

  int32_t m_nCounter = 0;        // number of the last numbered message to the server
  uint32_t m_serverAddress = 0;  // 0 until known
  // When set, takes every datagram instead of the links (a harness without
  // sockets); returns what a send queue's Push would.
  std::function<int(const NetDatagram&)> m_sendHook;

 private:
  int Push(int link, const std::string& text, uint32_t address, uint16_t port);
  CNetConfig m_config;
  CNetLinks* m_links = nullptr;
};

struct CircleMember {
  int32_t user = 0;
  std::string display;
  std::string nickname;
  uint32_t address = 0;
  std::string circle;
  // Names the member in window messages: the chat window looks it up with
  // FindMember, so a message that arrives after the member went is harmless.
  uintptr_t serial = 0;
};

struct ChatRecord {
  int kind = 0;  // 0 peer line, 1 leave-word, 2 plaza line
  uint32_t address = 0;
  int32_t user = 0;
  std::string text;  // still escaped
  std::unique_ptr<CharFormat> format;
};

// One piece of text to append to the conversation, with its format.
struct ChatLine {
  std::string text;
  CharFormat format;
};

// The chat window's Send, as the window hands it over.
struct ChatSendInput {
  std::string text;
  bool sendOnlyToSelected = false;       // "只发给指定人"
  bool receiveOnlyFromSelected = false;  // "只接收指定人"
  const CircleMember* selected = nullptr;
  CharFormat format;  // the input box's current format
};
struct ChatSendOutcome {
  std::vector<ChatLine> echo;  // to append to the conversation
  bool clearInput = false;     // clear the input box and focus it
  bool sent = false;
};

CharFormat DefaultDisplayFormat();
CharFormat DefaultInputFormat();
// Deletes every occurrence of every word of a filter table, in table order.
std::string ApplyWordFilter(const std::string& text, const char* const* table, size_t count);
extern const char* const kCircleNameFilter[];
extern const size_t kCircleNameFilterCount;  // 115
extern const char* const kChatWordFilter[];
extern const size_t kChatWordFilterCount;  // 108
// The row text of a member in the chat window's list.
std::string MemberRowText(const CircleMember& member);

// ---- the chat window's own decisions ----
// Enter in the input box sends with the send key "Enter" (flag 1), or while
// Ctrl is held; otherwise it makes a new line.
bool EnterSends(int sendKeyFlag, bool ctrlHeld);
// The send-key menu: 4011 "按Enter键发送", 4012 "按Ctrl+Enter键发送".
enum : unsigned { kSendKeyEnterCommand = 4011, kSendKeyCtrlEnterCommand = 4012 };
// The configuration value a menu command sets ("Enter" / "Ctrl+Enter"),
// empty for any other command; and the flag a value gives.
std::string SendKeyOfCommand(unsigned command);
int SendKeyFlag(const std::string& chatSendKey);
// The window title and the title box: circle name or title + "[圈]".
std::string ChatTitleText(const std::string& name);
// The poster board: our forum's search page for the circle title, the
// title's GBK bytes put in as they are.
extern const char kForumHost[];
std::string PosterBoardAddress(const std::string& circleTitle);

class CNetState;
// Tests reach the parts' state through this (tests/net_access.h); the
// program goes through the parts' functions.
struct NetStateTestAccess;

// Login: the user's number and password, whether the server took them, the
// keep-alive and the version notice.
class CNetLogin {
 public:
  explicit CNetLogin(CNetState& net) : m_net(net) {}
  int SendLogin();
  // Leaves the circle first; sent twice, half a second apart.
  int SendLogout();
  void SendKeepAlive();
  void OnLoginReply(FieldList& fields);
  void OnVersion(FieldList& fields);
  // The server's answer to a keep-alive: "OK", "ELSEWHERE" or a refusal.
  void OnKeepAliveReply(FieldList& fields);
  // kSessionTimer: the keep-alive's answer is late, or the next login try is due.
  void OnSessionTimer();

  bool LoggedIn() const { return m_bLoggedIn; }
  // Logging in again by itself after the server forgot the session.
  bool Relogging() const { return m_nReloginTries > 0; }
  int32_t User() const { return m_nUser; }
  const std::string& Password() const { return m_strPassword; }
  // What the login dialog (or the command line) gives for the next login.
  void SetUser(int32_t user) { m_nUser = user; }
  void SetPassword(const std::string& password) { m_strPassword = password; }

 private:
  friend struct NetStateTestAccess;
  void BeginRelogin();
  void LoseSession(SessionLost why);
  unsigned ReloginPauseMs(unsigned tries) const;
  unsigned AliveReplyMs() const;

  CNetState& m_net;
  int32_t m_nUser = 0;
  std::string m_strPassword;
  bool m_bLoggedIn = false;
  bool m_bAwaitingAlive = false;  // a keep-alive went out, its answer has not come
  unsigned m_nReloginTries = 0;   // logins sent since the session was found gone
};

// Favorites upload and download: stop-and-wait over numbered messages.
class CNetTransfer {
 public:
  enum Mode { kIdle = 0, kUploading = 1, kDownloading = 2 };
  explicit CNetTransfer(CNetState& net) : m_net(net) {}
  ~CNetTransfer();
  // `fromRevision`: the server refuses the upload (kUploadStale) when its
  // tree is no longer at that revision; kNoRevision uploads unconditionally.
  int StartUpload(int32_t fromRevision = kNoRevision);
  int StartDownload();
  int CancelTransfer();
  void OnFavReply(FieldList& fields);
  void OnTransferDeadline();
  void OnResendTimer();  // kTransferResendTimer
  // The progress prompt saw the transfer end.
  void Ended();
  // The server's revision of the tree: of the last completed download (0:
  // nothing stored), after the last completed upload, and the one a stale
  // upload was refused for; kNoRevision when not known (an older server).
  int32_t DownloadRevision() const { return m_nDownloadRevision; }
  int32_t UploadRevision() const { return m_nUploadRevision; }
  int32_t StaleRevision() const { return m_nStaleRevision; }
  // The current wait before a message is sent again, from the round trips measured.
  unsigned ResendMs() const { return m_nRto; }
  int Mode() const { return m_nMode; }
  // The download list on success (7027), for ReplaceWithDownloaded.
  std::unique_ptr<CMyNodeList> TakeDownloadList();
  const CMyNodeList* DownloadList() const { return m_pDownloadList.get(); }

 private:
  friend struct NetStateTestAccess;
  int SendNode(size_t index);
  int ReceiveNode(FieldList& fields);
  void ArmTransferDeadline();
  void PostStatus(uintptr_t channel, int code);
  void OnUpReply(FieldList& fields);
  void OnDownCount(FieldList& fields);
  int SendAwaited(const std::string& message);
  void StopResend();
  void NoteRoundTrip();

  CNetState& m_net;
  int m_nMode = kIdle;
  int32_t m_nDownloadBase = 0;
  int32_t m_nTransferCount = 0;
  int32_t m_nDownloadTotal = 0;
  std::unique_ptr<CMyNodeList> m_pDownloadList;
  // Resending: the message awaiting its answer and the number it went with
  // (other messages to the server may have gone since), when it went first,
  // how often, and the round-trip estimate.
  std::string m_strAwaited;
  int32_t m_nAwaitedNumber = 0;
  uint32_t m_nSentAt = 0;
  int m_nSends = 0;
  bool m_bResendArmed = false;
  int m_nSrtt = -1, m_nRttVar = 0;  // milliseconds; -1: nothing measured yet
  unsigned m_nRto = kResendInitialMs;
  int32_t m_nFromRevision = kNoRevision;
  int32_t m_nCountNumber = 0;     // the download's COUNT, which a lost READY brings again
  int32_t m_nCountRevision = kNoRevision;
  int32_t m_nLastDoneNumber = 0;  // the last node of the download completed last
  int32_t m_nDownloadRevision = kNoRevision;
  int32_t m_nUploadRevision = kNoRevision;
  int32_t m_nStaleRevision = kNoRevision;
};

// Circles: the circle request, the member list and the announcements
// between members. The user's commands about circles (boxes, the chat
// window closed) are the panels' (panels/circles.h).
class CNetCircles {
 public:
  explicit CNetCircles(CNetState& net);
  // Asks the server for the node's circle and remembers the node, which the
  // answer marks "GROUP" when it names it.
  int RequestCircle(CMyNode* node);
  int EnterCircle(CMyNode* node);
  void LeaveCurrentCircle();
  int DropOutOfCircle(CMyNode* node);
  void AnnounceEnter();
  void OnGroupReply(FieldList& fields);
  void OnPeerGroup(FieldList& fields);

  bool IsCircleCurrent() const;
  const std::string& CurrentCircle() const { return m_strCurrentCircle; }
  const std::string& CircleTitle() const { return m_strCircleTitle; }
  CMyNode* RequestingNode() const { return m_pRequestingNode; }
  const std::vector<std::unique_ptr<CircleMember>>& Members() const { return m_members; }
  CircleMember* FindMember(uintptr_t serial) const;
  CircleMember* FindMemberByUser(int32_t user) const;
  // The member list is the plaza's too (the chat part keeps it then).
  CircleMember* AddMember(std::unique_ptr<CircleMember> member);
  void ClearMembers();
  void RemoveMembersAt(uint32_t address);

  // The chat window says whether it is open.
  bool ChatWindowOpen() const { return m_bChatWindowOpen; }
  void SetChatWindowOpen(bool open) { m_bChatWindowOpen = open; }

  // What the program around this supplies.
  std::function<int()> m_saveFavorites;  // after a circle mark changed
  std::function<void(CMyNode* category)> m_showCategoryItems;

 private:
  friend struct NetStateTestAccess;
  std::string DisplayText(const CircleMember& m) const;
  void SendToCircle(const std::string& message);
  void MarkRequester(const std::string& circle);

  CNetState& m_net;
  std::vector<std::unique_ptr<CircleMember>> m_members;
  std::string m_strCurrentCircle;
  std::string m_strCircleTitle;
  // The node whose circle was asked for last; null once the tree freed it,
  // so that a late member list marks nothing.
  CNodeRef m_pRequestingNode;
  bool m_bChatWindowOpen = false;
  uintptr_t m_nextSerial = 1;
};

// Chat: lines between members, leave-words, the plaza, the advertisement.
class CNetChat {
 public:
  explicit CNetChat(CNetState& net) : m_net(net) {}
  int SendChat(bool everybody, const CircleMember* target, const std::string& text, const CharFormat& cf);
  ChatSendOutcome OnChatSend(const ChatSendInput& input);
  std::vector<ChatLine> EchoOwnText(const std::string& text) const;
  // Everything queued, as lines to append; a filter of a user number drops
  // other senders' lines unshown.
  std::vector<ChatLine> ShowChatRecords(const int32_t* filterUser = nullptr);
  // WM_CHAT_ARRIVED in the chat window: false when the records stay queued.
  bool OnChatArrived(uintptr_t wParam, bool receiveOnlyFromSelected, const CircleMember* selected,
                     std::vector<ChatLine>& lines);
  void OnPeerChat(FieldList& fields, uint32_t from);
  void OnServerChat(FieldList& fields);
  void OnLeaveWords(FieldList& fields);
  void OnChatAd(FieldList& fields);

  // What is queued for the chat window; taking empties the queue.
  const std::vector<std::unique_ptr<ChatRecord>>& Records() const { return m_chatRecords; }
  std::vector<std::unique_ptr<ChatRecord>> TakeRecords() {
    std::vector<std::unique_ptr<ChatRecord>> taken;
    taken.swap(m_chatRecords);
    return taken;
  }
  const std::string& AdAddress() const { return m_strAdAddress; }
  // The main window is told of the lines queued since the last time, once
  // per kind, at once rather than by a posted message that would wait its
  // turn: called when the datagrams that came have been handled.
  void DeliverNotices();

 private:
  friend struct NetStateTestAccess;
  void Queue(std::unique_ptr<ChatRecord> record, unsigned message, uintptr_t wParam);
  void OnPlazaList(FieldList& fields);

  CNetState& m_net;
  std::vector<std::unique_ptr<ChatRecord>> m_chatRecords;
  std::vector<std::pair<unsigned, uintptr_t>> m_notices;  // due: message and wParam
  std::string m_strAdAddress;
};

// The network state: the sender, the dispatch of what arrives to the four
// parts it owns, and the two timers.
class CNetState {
 public:
  CNetState(CMyNodeList& tree, IUserInterface& ui, const CNetConfig& config);
  ~CNetState();
  CNetState(const CNetState&) = delete;
  CNetState& operator=(const CNetState&) = delete;

  void SetLinks(CNetLinks* links) { m_sender.SetLinks(links); m_links = links; }
  const CNetConfig& Config() const { return m_config; }
  CMsgSender& Sender() { return m_sender; }
  CMyNodeList& Tree() { return m_tree; }
  IUserInterface& Ui() { return m_ui; }

  CNetLogin& Login() { return m_login; }
  CNetTransfer& Transfer() { return m_transfer; }
  CNetCircles& Circles() { return m_circles; }
  CNetChat& Chat() { return m_chat; }
  const CNetLogin& Login() const { return m_login; }
  const CNetCircles& Circles() const { return m_circles; }

  // ---- dispatch ----
  // Hands every datagram waiting in the links' receive queue to OnDatagram.
  int PumpReceived();
  void OnDatagram(const NetDatagram& datagram);
  void OnServerMessage(FieldList& fields);
  void OnServerAddress(uint32_t address);  // WM_SERVER_ADDRESS
  void OnTimer(unsigned id);               // the two timers of this state
  // The number of the message dispatched last.
  int32_t LastReceived() const { return m_nLastReceived; }

 private:
  friend struct NetStateTestAccess;
  CMyNodeList& m_tree;
  IUserInterface& m_ui;
  CNetConfig m_config;
  CMsgSender m_sender;
  CNetLinks* m_links = nullptr;
  int32_t m_nLastReceived = 0;
  CNetLogin m_login{*this};
  CNetTransfer m_transfer{*this};
  CNetCircles m_circles{*this};
  CNetChat m_chat{*this};
};

extern const char kNoCircleText[];  // "您还未指定要进入的圈"
// What the user is told, once, when the login is gone (a SessionLost reason).
const char* SessionLostText(uintptr_t why);

}  // namespace qb

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
//   members   WM_MEMBER_* carry CircleMember::serial; FindMember(serial).
//   exit      net.SendLogout(); links.Stop(); resolver.Stop().
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/ui.h"
#include "net/link.h"
#include "net/message.h"

class CMyNode;
class CMyNodeList;

namespace qb {

// Messages between the network code and the program's windows and threads.
const unsigned WM_LOGIN_CLOSED = 0x428;
const unsigned WM_OPEN_CHAT = 0x429;
const unsigned WM_CLOSE_CHAT = 0x42A;
const unsigned WM_CHAT_CLOSED = 0x42B;
const unsigned WM_TRANSFER_STATUS = 0x432;  // thread message
const unsigned WM_CLOSE_PROMPT = 0x433;     // thread message
const unsigned WM_LOGIN_RESULT = 0x433;     // to the main window
const unsigned WM_NEW_VERSION = 0x434;
const unsigned WM_RESOLVE_SERVER = 0x435;   // thread message to the resolver
const unsigned WM_CHAT_AD = 0x435;          // to the main window
const unsigned WM_SERVER_ADDRESS = 0x436;   // thread message from the resolver
const unsigned WM_MEMBER_ADDED = 0x437;
const unsigned WM_MEMBER_CHANGED = 0x438;
const unsigned WM_MEMBER_REMOVED = 0x439;
const unsigned WM_CHAT_ARRIVED = 0x43A;
const unsigned WM_PLAZA_ARRIVED = 0x43B;

// wParam of WM_TRANSFER_STATUS.
const uintptr_t kUploadChannel = 101, kDownloadChannel = 102, kDownloadTotalChannel = 103;
// wParam of WM_LOGIN_RESULT.
const uintptr_t kLoginAccepted = 101, kLoginRefused = 102;

// Timers on the user-interface thread (no owner window).
const unsigned kKeepAliveTimer = 0x4E01;
const unsigned kTransferTimer = 0x4E02;
const unsigned kKeepAliveMs = 1200000;
const unsigned kTransferDeadlineMs = 6100;

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

  int SendToServer(const std::string& message, bool advance = true);
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

class CNetState {
 public:
  CNetState(CMyNodeList& tree, IUserInterface& ui, const CNetConfig& config);
  ~CNetState();
  CNetState(const CNetState&) = delete;
  CNetState& operator=(const CNetState&) = delete;

  void SetLinks(CNetLinks* links) { m_sender.SetLinks(links); m_links = links; }
  const CNetConfig& Config() const { return m_config; }
  CMsgSender& Sender() { return m_sender; }

  // What the program around this supplies.
  std::function<int()> m_saveFavorites;                  // after a circle mark changed
  std::function<void(CMyNode* category)> m_showCategoryItems;
  bool m_bChatWindowOpen = false;

  // ---- dispatch ----
  // Hands every datagram waiting in the links' receive queue to OnDatagram.
  int PumpReceived();
  void OnDatagram(const NetDatagram& datagram);
  void OnServerMessage(FieldList& fields);
  void OnServerAddress(uint32_t address);  // WM_SERVER_ADDRESS
  void OnTimer(unsigned id);               // the two timers of this state

  // ---- login ----
  int SendLogin();
  int SendLogout();
  void SendKeepAlive();
  void OnLoginReply(FieldList& fields);
  void OnVersion(FieldList& fields);

  // ---- transfer ----
  int StartUpload();
  int StartDownload();
  int CancelTransfer();
  void OnFavReply(FieldList& fields);
  void OnTransferDeadline();
  // The download list on success (7027), for ReplaceWithDownloaded.
  std::unique_ptr<CMyNodeList> TakeDownloadList();

  // ---- circles ----
  int EnterCircle(CMyNode* node);
  void LeaveCurrentCircle();
  int DropOutOfCircle(CMyNode* node);
  void AnnounceEnter();
  void OnGroupReply(FieldList& fields);
  void OnPeerGroup(FieldList& fields);
  bool IsCircleCurrent() const;
  CircleMember* FindMember(uintptr_t serial) const;
  CircleMember* FindMemberByUser(int32_t user) const;
  // The tree is about to lose this node.
  void ForgetNode(const CMyNode* node);

  // The panels' circle commands. Each shows the log-in notice and does
  // nothing when the user is not logged in.
  // Category menu "进入该名称的圈子" and item menu "进入该网页(URL)的圈子":
  // returns the EnterCircle result, or 0 when nothing was asked.
  int CommandEnterCircle(CMyNode* node);
  // Category menu "申请退出该圈子" on a node marked "GROUP"; returns the send result.
  int CommandLeaveCircle(CMyNode* category);
  // Before a bookmark marked "GROUP" is deleted; false: keep it.
  bool CommandDeleteGroupItem(CMyNode* item);
  // The item editor's "加入圈子" check box at OK; returns 0 when refused.
  int CommandJoinCheckBox(CMyNode* node, bool ticked);

  // ---- chat ----
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

  // ---- state ----
  // transfer
  int m_nMode = 0;  // 0 idle, 1 uploading, 2 downloading
  int32_t m_nDownloadBase = 0;
  int32_t m_nTransferCount = 0;
  int32_t m_nDownloadTotal = 0;
  std::unique_ptr<CMyNodeList> m_pDownloadList;
  // login
  int32_t m_nUser = 0;
  std::string m_strPassword;
  bool m_bLoggedIn = false;
  int32_t m_nLastReceived = 0;
  // circles
  std::vector<std::unique_ptr<CircleMember>> m_members;
  std::string m_strCurrentCircle;
  std::string m_strCircleTitle;
  CMyNode* m_pRequestingNode = nullptr;
  // chat
  std::vector<std::unique_ptr<ChatRecord>> m_chatRecords;
  std::string m_strAdAddress;

  CMyNodeList& Tree() { return m_tree; }
  IUserInterface& Ui() { return m_ui; }

 private:
  int SendNode(size_t index);
  int ReceiveNode(FieldList& fields);
  void ArmTransferDeadline();
  void PostStatus(uintptr_t channel, int code);
  CircleMember* AddMember(std::unique_ptr<CircleMember> member);
  void ClearMembers();
  std::string DisplayText(const CircleMember& m) const;
  void SendToCircle(const std::string& message);
  bool RequireLogin(const char* notice);

  CMyNodeList& m_tree;
  IUserInterface& m_ui;
  CNetConfig m_config;
  CMsgSender m_sender;
  CNetLinks* m_links = nullptr;
  uintptr_t m_nextSerial = 1;
};

extern const char kNoCircleText[];  // "您还未指定要进入的圈"

}  // namespace qb

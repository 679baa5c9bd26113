// Chat lines, leave-words and the plaza.
#include <algorithm>

#include "base/codepage.h"
#include "net/netstate.h"
#include "os/os.h"

namespace qb {

CharFormat DefaultDisplayFormat() {
  CharFormat cf;
  cf.dwMask = 0xF800003F;
  cf.dwEffects = 0;
  cf.yHeight = 210;
  cf.yOffset = 0;
  cf.crTextColor = 0x008000;  // RGB(0, 128, 0)
  cf.bCharSet = 134;
  cf.bPitchAndFamily = 0;
  cf.faceName = "新宋体";
  return cf;
}

CharFormat DefaultInputFormat() {
  CharFormat cf = DefaultDisplayFormat();
  cf.crTextColor = 0;
  cf.faceName = "宋体";
  return cf;
}

bool EnterSends(int sendKeyFlag, bool ctrlHeld) { return sendKeyFlag == 1 || ctrlHeld; }

std::string SendKeyOfCommand(unsigned command) {
  if (command == kSendKeyEnterCommand) return "Enter";
  if (command == kSendKeyCtrlEnterCommand) return "Ctrl+Enter";
  return std::string();
}

int SendKeyFlag(const std::string& chatSendKey) { return chatSendKey == "Enter" ? 1 : 0; }

std::string ChatTitleText(const std::string& name) { return name + "[圈]"; }

const char kForumHost[] = "bbs.qimbo.net";

std::string PosterBoardAddress(const std::string& circleTitle) {
  return std::string("http://") + kForumHost + "/f?kw=" + circleTitle;
}

int CNetChat::SendChat(bool everybody, const CircleMember* target, const std::string& text, const CharFormat& cf) {
  std::string escaped = EscapeChatText(text);
  int32_t me = m_net.Login().User();
  const std::string& circle = m_net.Circles().CurrentCircle();
  CMsgSender& sender = m_net.Sender();
  if (everybody) {
    // The user's own record is a member too, so the line comes back over the
    // network; it goes last, so that the others' copies leave first.
    std::string msg = MsgChatText(me, escaped, cf);
    int sent = 0;
    for (bool own : {false, true})
      for (const auto& m : m_net.Circles().Members())
        if (m->address != 0 && m->circle == circle && (m->user == me) == own)
          sent += sender.SendToPeer(msg, false, m->address);
    return sent > 0;
  }
  if (!target) return 0;
  if (target->address != 0 && target->circle == circle)
    return sender.SendToPeer(MsgChatTextPlain(me, escaped), false, target->address);
  return sender.SendToServer(MsgLeaveWord(me, target->user, escaped));
}

std::vector<ChatLine> CNetChat::EchoOwnText(const std::string& text) const {
  std::string name;
  if (CircleMember* self = m_net.Circles().FindMemberByUser(m_net.Login().User())) name = self->display;
  if (name.empty()) {
    name = os::HostName();
    size_t a = name.find_first_not_of(' '), b = name.find_last_not_of(' ');
    name = a == std::string::npos ? "" : name.substr(a, b - a + 1);
  }
  if (name.empty()) name = "自己";
  CharFormat cf = DefaultDisplayFormat();
  return {{"\r\n" + name + "      " + os::FormatLocalTime("%X") + " ---------------\r\n", cf}, {text, cf}};
}

ChatSendOutcome CNetChat::OnChatSend(const ChatSendInput& in) {
  ChatSendOutcome out;
  if (in.text.empty()) return out;
  std::string text = CutBytes(in.text, 600);
  auto echo = [&](const std::string& t) {
    for (ChatLine& l : EchoOwnText(t)) out.echo.push_back(l);
  };
  if (!in.sendOnlyToSelected) {
    if (in.receiveOnlyFromSelected) echo(text);
    std::string outgoing = ApplyWordFilter(text, kChatWordFilter, kChatWordFilterCount);
    if (!outgoing.empty()) out.sent = SendChat(true, nullptr, outgoing, in.format) != 0;
    out.clearInput = true;
    return out;
  }
  if (!in.selected) return out;
  const CircleMember& target = *in.selected;
  std::string outgoing;
  size_t prefix = 0;
  if (target.address != 0 && target.circle == m_net.Circles().CurrentCircle()) {
    outgoing = "对 [" + target.display + "]说:   " + text;
    echo(outgoing);
  } else {
    if (text.size() > 240) {
      text = CutBytes(text, 240);
      echo("(!留言莫超过120字!)" + text);
    } else {
      echo(text);
    }
    std::string self;
    if (CircleMember* m = m_net.Circles().FindMemberByUser(m_net.Login().User())) self = m->display;
    std::string head = self + "给你留言:";
    outgoing = head + text;
    prefix = head.size();
  }
  outgoing = ApplyWordFilter(outgoing, kChatWordFilter, kChatWordFilterCount);
  if (outgoing.size() != prefix) out.sent = SendChat(false, &target, outgoing, in.format) != 0;
  out.clearInput = true;
  return out;
}

std::vector<ChatLine> CNetChat::ShowChatRecords(const int32_t* filterUser) {
  std::vector<ChatLine> lines;
  std::string stamp = "   " + os::FormatLocalTime("%X");
  CharFormat plain = DefaultDisplayFormat();
  for (const auto& r : m_chatRecords) {
    if (r->kind == 1) {
      lines.push_back({UnescapeChatText(r->text), plain});
      continue;
    }
    if (filterUser && r->user != *filterUser) continue;
    std::string nickname;
    if (CircleMember* m = m_net.Circles().FindMemberByUser(r->user)) nickname = m->nickname;
    lines.push_back({"\r\n" + nickname + "(" + FormatNumber(r->user) + ")" + stamp + "\r\n", plain});
    lines.push_back({UnescapeChatText(r->text), r->format ? *r->format : plain});
  }
  m_chatRecords.clear();
  return lines;
}

bool CNetChat::OnChatArrived(uintptr_t wParam, bool receiveOnlyFromSelected, const CircleMember* selected,
                              std::vector<ChatLine>& lines) {
  lines.clear();
  if ((wParam != 0 && wParam == m_net.Sender().m_serverAddress) || !receiveOnlyFromSelected) {
    lines = ShowChatRecords();
    return true;
  }
  if (!selected) return false;
  int32_t user = selected->user;
  lines = ShowChatRecords(&user);
  return true;
}

// "TEXT", user, text, then optional font fields.
static std::unique_ptr<ChatRecord> ReadChatText(FieldList& fields, int kind, uint32_t from) {
  std::string text, user;
  if (!TakeField(fields, text) || text != "TEXT" || !TakeField(fields, user)) return nullptr;
  std::unique_ptr<ChatRecord> r(new ChatRecord);
  if (!TakeField(fields, r->text)) return nullptr;
  r->kind = kind;
  r->address = from;
  r->user = ReadNumber(user);
  CharFormat cf;
  if (ParseFontFields(fields, cf)) r->format.reset(new CharFormat(cf));
  return r;
}

void CNetChat::Queue(std::unique_ptr<ChatRecord> record, unsigned message, uintptr_t wParam) {
  m_chatRecords.push_back(std::move(record));
  std::pair<unsigned, uintptr_t> notice(message, wParam);
  if (std::find(m_notices.begin(), m_notices.end(), notice) == m_notices.end()) m_notices.push_back(notice);
}

void CNetChat::DeliverNotices() {
  // Taken first: the window's handling may pump datagrams again.
  std::vector<std::pair<unsigned, uintptr_t>> due;
  due.swap(m_notices);
  for (const auto& n : due) m_net.Ui().Deliver(UiTarget::MainWindow, n.first, n.second, 0);
}

void CNetChat::OnPeerChat(FieldList& fields, uint32_t from) {
  std::unique_ptr<ChatRecord> r = ReadChatText(fields, 0, from);
  if (!r) return;
  os::NetTrace("handled", r->text);
  Queue(std::move(r), WM_CHAT_ARRIVED, 0);
}

void CNetChat::OnLeaveWords(FieldList& fields) {
  std::string user, second, third;
  if (!TakeField(fields, user) || !TakeField(fields, second) || !TakeField(fields, third)) return;
  std::unique_ptr<ChatRecord> r(new ChatRecord);
  r->kind = 1;
  r->address = m_net.Sender().m_serverAddress;
  r->user = ReadNumber(user);
  r->text = third + second;
  Queue(std::move(r), WM_CHAT_ARRIVED, 0);
}

// The plaza's member list: the circles' list, the plaza's while it is on.
void CNetChat::OnPlazaList(FieldList& fields) {
  CNetCircles& circles = m_net.Circles();
  std::string count;
  if (!TakeField(fields, count) || ReadNumber(count) <= 0) return;
  circles.ClearMembers();
  for (int32_t i = 0, n = ReadNumber(count); i < n; ++i) {
    std::string dotted;
    if (!TakeField(fields, dotted)) break;
    std::unique_ptr<CircleMember> m(new CircleMember);
    m->address = ParseDottedAddress(dotted);
    TakeField(fields, m->display);
    circles.AddMember(std::move(m));
  }
  // The rows of an open chat window named the records just freed.
  m_net.Ui().Post(UiTarget::MainWindow, WM_MEMBERS_RELISTED, 0, 0);
}

void CNetChat::OnServerChat(FieldList& fields) {
  if (fields.empty()) return;
  const std::string what = fields.front();
  uint32_t server = m_net.Sender().m_serverAddress;
  if (what == "TEXT") {
    std::unique_ptr<ChatRecord> r = ReadChatText(fields, 2, server);
    if (r) Queue(std::move(r), WM_PLAZA_ARRIVED, server);
    return;
  }
  fields.pop_front();
  CNetCircles& circles = m_net.Circles();
  std::string dotted;
  if (what == "LIST") {
    OnPlazaList(fields);
  } else if (what == "ADDUSER") {
    if (circles.Members().size() >= 14 || !TakeField(fields, dotted)) return;
    std::unique_ptr<CircleMember> m(new CircleMember);
    m->address = ParseDottedAddress(dotted);
    TakeField(fields, m->display);
    CircleMember* added = circles.AddMember(std::move(m));
    m_net.Ui().Post(UiTarget::MainWindow, WM_MEMBER_ADDED, added->serial, 0);
  } else if (what == "DELEUSER") {
    if (circles.Members().size() <= 1 || !TakeField(fields, dotted)) return;
    circles.RemoveMembersAt(ParseDottedAddress(dotted));
  }
}

void CNetChat::OnChatAd(FieldList& fields) {
  std::string address;
  if (!TakeField(fields, address) || address.find("http:") == std::string::npos) return;
  m_strAdAddress = address;
  m_net.Ui().Post(UiTarget::MainWindow, WM_CHAT_AD, 0, 0);
}

}  // namespace qb

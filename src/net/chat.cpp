// Chat lines, leave-words and the plaza.
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

// At most `limit` bytes, never half of a double-byte character.
static std::string CutText(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t i = 0;
  while (i < limit) {
    size_t step = ((unsigned char)text[i] >= 0x81 && (unsigned char)text[i] <= 0xFE && i + 1 < text.size()) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return text.substr(0, i);
}

int CNetState::SendChat(bool everybody, const CircleMember* target, const std::string& text, const CharFormat& cf) {
  std::string escaped = EscapeChatText(text);
  if (everybody) {
    // The user's own record is a member too, so the line comes back over the network.
    std::string msg = MsgChatText(m_nUser, escaped, cf);
    int sent = 0;
    for (const auto& m : m_members)
      if (m->address != 0 && m->circle == m_strCurrentCircle) sent += m_sender.SendToPeer(msg, false, m->address);
    return sent > 0;
  }
  if (!target) return 0;
  if (target->address != 0 && target->circle == m_strCurrentCircle)
    return m_sender.SendToPeer(MsgChatTextPlain(m_nUser, escaped), false, target->address);
  return m_sender.SendToServer(MsgLeaveWord(m_nUser, target->user, escaped));
}

std::vector<ChatLine> CNetState::EchoOwnText(const std::string& text) const {
  std::string name;
  if (CircleMember* self = FindMemberByUser(m_nUser)) name = self->display;
  if (name.empty()) {
    name = os::HostName();
    size_t a = name.find_first_not_of(' '), b = name.find_last_not_of(' ');
    name = a == std::string::npos ? "" : name.substr(a, b - a + 1);
  }
  if (name.empty()) name = "自己";
  CharFormat cf = DefaultDisplayFormat();
  return {{"\r\n" + name + "      " + os::FormatLocalTime("%X") + " ---------------\r\n", cf}, {text, cf}};
}

ChatSendOutcome CNetState::OnChatSend(const ChatSendInput& in) {
  ChatSendOutcome out;
  if (in.text.empty()) return out;
  std::string text = CutText(in.text, 600);
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
  if (target.address != 0 && target.circle == m_strCurrentCircle) {
    outgoing = "对 [" + target.display + "]说:   " + text;
    echo(outgoing);
  } else {
    if (text.size() > 240) {
      text = CutText(text, 240);
      echo("(!留言莫超过120字!)" + text);
    } else {
      echo(text);
    }
    std::string self;
    if (CircleMember* m = FindMemberByUser(m_nUser)) self = m->display;
    std::string head = self + "给你留言:";
    outgoing = head + text;
    prefix = head.size();
  }
  outgoing = ApplyWordFilter(outgoing, kChatWordFilter, kChatWordFilterCount);
  if (outgoing.size() != prefix) out.sent = SendChat(false, &target, outgoing, in.format) != 0;
  out.clearInput = true;
  return out;
}

std::vector<ChatLine> CNetState::ShowChatRecords(const int32_t* filterUser) {
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
    if (CircleMember* m = FindMemberByUser(r->user)) nickname = m->nickname;
    lines.push_back({"\r\n" + nickname + "(" + FormatNumber(r->user) + ")" + stamp + "\r\n", plain});
    lines.push_back({UnescapeChatText(r->text), r->format ? *r->format : plain});
  }
  m_chatRecords.clear();
  return lines;
}

bool CNetState::OnChatArrived(uintptr_t wParam, bool receiveOnlyFromSelected, const CircleMember* selected,
                              std::vector<ChatLine>& lines) {
  lines.clear();
  if ((wParam != 0 && wParam == m_sender.m_serverAddress) || !receiveOnlyFromSelected) {
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

void CNetState::OnPeerChat(FieldList& fields, uint32_t from) {
  std::unique_ptr<ChatRecord> r = ReadChatText(fields, 0, from);
  if (!r) return;
  m_chatRecords.push_back(std::move(r));
  m_ui.Post(UiTarget::MainWindow, WM_CHAT_ARRIVED, 0, 0);
}

void CNetState::OnLeaveWords(FieldList& fields) {
  std::string user, second, third;
  if (!TakeField(fields, user) || !TakeField(fields, second) || !TakeField(fields, third)) return;
  std::unique_ptr<ChatRecord> r(new ChatRecord);
  r->kind = 1;
  r->address = m_sender.m_serverAddress;
  r->user = ReadNumber(user);
  r->text = third + second;
  m_chatRecords.push_back(std::move(r));
  m_ui.Post(UiTarget::MainWindow, WM_CHAT_ARRIVED, 0, 0);
}

void CNetState::OnServerChat(FieldList& fields) {
  if (fields.empty()) return;
  const std::string what = fields.front();
  if (what == "TEXT") {
    std::unique_ptr<ChatRecord> r = ReadChatText(fields, 2, m_sender.m_serverAddress);
    if (!r) return;
    m_chatRecords.push_back(std::move(r));
    m_ui.Post(UiTarget::MainWindow, WM_PLAZA_ARRIVED, m_sender.m_serverAddress, 0);
    return;
  }
  fields.pop_front();
  if (what == "LIST") {
    std::string count;
    if (!TakeField(fields, count) || ReadNumber(count) <= 0) return;
    ClearMembers();
    for (int32_t i = 0, n = ReadNumber(count); i < n; ++i) {
      std::string dotted;
      if (!TakeField(fields, dotted)) break;
      std::unique_ptr<CircleMember> m(new CircleMember);
      m->address = ParseDottedAddress(dotted);
      TakeField(fields, m->display);
      AddMember(std::move(m));
    }
  } else if (what == "ADDUSER") {
    std::string dotted;
    if (m_members.size() >= 14 || !TakeField(fields, dotted)) return;
    std::unique_ptr<CircleMember> m(new CircleMember);
    m->address = ParseDottedAddress(dotted);
    TakeField(fields, m->display);
    CircleMember* added = AddMember(std::move(m));
    m_ui.Post(UiTarget::MainWindow, WM_MEMBER_ADDED, added->serial, 0);
  } else if (what == "DELEUSER") {
    std::string dotted;
    if (m_members.size() <= 1 || !TakeField(fields, dotted)) return;
    uint32_t address = ParseDottedAddress(dotted);
    // The record goes at once; the chat window drops its rows by serial.
    for (size_t i = 0; i < m_members.size();) {
      if (m_members[i]->address == address) {
        m_ui.Post(UiTarget::MainWindow, WM_MEMBER_REMOVED, m_members[i]->serial, 0);
        m_members.erase(m_members.begin() + i);
      } else {
        ++i;
      }
    }
  }
}

void CNetState::OnChatAd(FieldList& fields) {
  std::string address;
  if (!TakeField(fields, address) || address.find("http:") == std::string::npos) return;
  m_strAdAddress = address;
  m_ui.Post(UiTarget::MainWindow, WM_CHAT_AD, 0, 0);
}

}  // namespace qb

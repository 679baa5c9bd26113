// Circles: the circle request, the member list and the announcements
// between members.
#include "base/codepage.h"
#include "net/netstate.h"
#include "store/node.h"

namespace qb {

// The server keys an address circle by the first 200 bytes of the address.
static const size_t kCircleKeyBytes = 200;

static std::string CircleKey(const CMyNode& node) {
  return node.m_nKind == UrlItem ? node.m_strAddress : node.m_strName;
}

CNetCircles::CNetCircles(CNetState& net)
    : m_net(net), m_strCurrentCircle(kNoCircleText), m_strCircleTitle(kNoCircleText) {}

bool CNetCircles::IsCircleCurrent() const { return m_strCurrentCircle != kNoCircleText; }

std::string CNetCircles::DisplayText(const CircleMember& m) const {
  std::string text = m.nickname + "(" + FormatNumber(m.user) + ")";
  if (m.address == 0 || m.circle != m_strCurrentCircle) text += "留言";
  return text;
}

CircleMember* CNetCircles::AddMember(std::unique_ptr<CircleMember> member) {
  member->serial = m_nextSerial++;
  m_members.push_back(std::move(member));
  return m_members.back().get();
}

void CNetCircles::ClearMembers() { m_members.clear(); }

// The records go at once; the chat window drops their rows by serial.
void CNetCircles::RemoveMembersAt(uint32_t address) {
  for (size_t i = 0; i < m_members.size();) {
    if (m_members[i]->address == address) {
      m_net.Ui().Post(UiTarget::MainWindow, WM_MEMBER_REMOVED, m_members[i]->serial, 0);
      m_members.erase(m_members.begin() + i);
    } else {
      ++i;
    }
  }
}

CircleMember* CNetCircles::FindMember(uintptr_t serial) const {
  for (const auto& m : m_members)
    if (m->serial == serial) return m.get();
  return nullptr;
}

CircleMember* CNetCircles::FindMemberByUser(int32_t user) const {
  for (const auto& m : m_members)
    if (m->user == user) return m.get();
  return nullptr;
}

int CNetCircles::RequestCircle(CMyNode* node) {
  m_pRequestingNode = node;
  return EnterCircle(node);
}

int CNetCircles::EnterCircle(CMyNode* node) {
  if (!node) return kCircleRequestNotSent;
  node->m_strName = ApplyWordFilter(node->m_strName, kCircleNameFilter, kCircleNameFilterCount);
  if (node->m_strName.size() < 2) return kCircleRequestNotSent;
  std::string parent;
  if (node->IsItem() && node->m_pParent) parent = node->m_pParent->m_strName;
  std::string msg = MsgGroupUpNode(m_net.Login().User(), node->m_strName, node->m_nKind, CircleKey(*node), parent,
                                   node->m_strNote, node->m_strCircle);
  return m_net.Sender().SendToServer(msg) ? kCircleRequestSent : kCircleRequestNotSent;
}

void CNetCircles::SendToCircle(const std::string& message) {
  int32_t me = m_net.Login().User();
  for (const auto& m : m_members)
    if (m->address != 0 && m->circle == m_strCurrentCircle && m->user != me)
      m_net.Sender().SendToPeer(message, false, m->address);
}

void CNetCircles::AnnounceEnter() {
  int32_t me = m_net.Login().User();
  CircleMember* self = FindMemberByUser(me);
  if (!self) return;
  SendToCircle(MsgUserEnter(AddressNumber(self->address), self->nickname, me, self->circle));
}

void CNetCircles::LeaveCurrentCircle() {
  if (m_strCurrentCircle.empty()) return;
  if (m_bChatWindowOpen) m_net.Ui().Post(UiTarget::MainWindow, WM_CLOSE_CHAT, 0, 0);
  int32_t me = m_net.Login().User();
  CircleMember* self = FindMemberByUser(me);
  if (!self) return;
  SendToCircle(MsgUserOut(me, self->circle, AddressNumber(self->address), self->nickname));
  ClearMembers();
  m_strCurrentCircle = kNoCircleText;
  m_strCircleTitle = "QB4K";
}

int CNetCircles::DropOutOfCircle(CMyNode* node) {
  if (!node || node->m_nKind == ProgramItem) return 0;
  return m_net.Sender().SendToServer(MsgGroupDropOut(CircleKey(*node), m_net.Login().User()));
}

// The node that asked gets the circle's mark when the server's list names
// it: the request carried at most 200 bytes of an address, so that is what
// the server names the circle by.
void CNetCircles::MarkRequester(const std::string& circle) {
  CMyNode* node = m_pRequestingNode;
  if (!node) return;
  bool named = node->m_nKind == UrlItem ? node->m_strAddress.substr(0, kCircleKeyBytes) == circle
                                        : node->m_strName == circle;
  if (!named) return;
  node->m_strCircle = "GROUP";
  if (m_saveFavorites) m_saveFavorites();
  if (node->m_nKind == UrlItem && m_showCategoryItems) m_showCategoryItems(node->m_pParent);
}

void CNetCircles::OnGroupReply(FieldList& fields) {
  std::string what;
  if (!TakeField(fields, what)) return;
  if (what == "UPNODE") {
    std::string result;
    if (!TakeField(fields, result)) return;
    if (result == "OK") m_net.Ui().ShowMessage("加入社区成功！", "提示", kMbOk | kMbIconInformation);
    if (result == "FAILED") m_net.Ui().ShowMessage("加入社区失败！", "提示", kMbOk | kMbIconInformation);
    return;
  }
  if (what != "LIST") return;
  std::string countText, circle;
  if (!TakeField(fields, countText)) return;
  int32_t count = ReadNumber(countText);
  if (count <= 0 || !TakeField(fields, circle) || circle.empty()) return;

  m_strCurrentCircle = circle;
  if (m_pRequestingNode) m_strCircleTitle = m_pRequestingNode->m_strName;
  ClearMembers();
  MarkRequester(circle);
  for (int32_t i = 0; i < count; ++i) {
    std::unique_ptr<CircleMember> m(new CircleMember);
    std::string dotted, user;
    if (!TakeField(fields, dotted)) break;
    TakeField(fields, m->nickname);
    if (!TakeField(fields, user)) break;
    TakeField(fields, m->circle);
    m->address = ParseDottedAddress(dotted);
    m->user = ReadNumber(user);
    m->display = DisplayText(*m);
    AddMember(std::move(m));
  }
  AnnounceEnter();
  m_net.Ui().Post(UiTarget::MainWindow, WM_OPEN_CHAT, 0, 0);
}

void CNetCircles::OnPeerGroup(FieldList& fields) {
  std::string what;
  if (!TakeField(fields, what)) return;
  if (what == "USERENTER") {
    std::string number, nickname, user, circle;
    if (!TakeField(fields, number) || !TakeField(fields, nickname) || !TakeField(fields, user) ||
        !TakeField(fields, circle))
      return;
    int32_t userNumber = ReadNumber(user);
    CircleMember* m = FindMemberByUser(userNumber);
    bool isNew = !m;
    if (isNew) m = AddMember(std::unique_ptr<CircleMember>(new CircleMember));
    m->address = AddressFromNumber(ReadNumber(number));
    m->user = userNumber;
    m->circle = circle;
    m->nickname = nickname;
    m->display = nickname + "(" + FormatNumber(userNumber) + ")";
    m_net.Ui().Post(UiTarget::MainWindow, isNew ? WM_MEMBER_ADDED : WM_MEMBER_CHANGED, m->serial, 0);
  } else if (what == "USEROUT") {
    std::string user;
    if (!TakeField(fields, user) || m_members.size() <= 1) return;
    int32_t userNumber = ReadNumber(user);
    for (const auto& m : m_members) {
      if (m->user != userNumber) continue;
      m->display = m->nickname + "(" + FormatNumber(m->user) + ")" + "留言";
      m_net.Ui().Post(UiTarget::MainWindow, WM_MEMBER_CHANGED, m->serial, 0);
    }
  }
}

std::string MemberRowText(const CircleMember& member) {
  if (!member.display.empty()) return member.display;
  uint32_t a = member.address;
  return FormatNumber(a & 255) + "." + FormatNumber((a >> 8) & 255) + ".*.*";
}

}  // namespace qb

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

bool CNetState::IsCircleCurrent() const { return m_strCurrentCircle != kNoCircleText; }

std::string CNetState::DisplayText(const CircleMember& m) const {
  std::string text = m.nickname + "(" + FormatNumber(m.user) + ")";
  if (m.address == 0 || m.circle != m_strCurrentCircle) text += "留言";
  return text;
}

CircleMember* CNetState::AddMember(std::unique_ptr<CircleMember> member) {
  member->serial = m_nextSerial++;
  m_members.push_back(std::move(member));
  return m_members.back().get();
}

void CNetState::ClearMembers() { m_members.clear(); }

CircleMember* CNetState::FindMember(uintptr_t serial) const {
  for (const auto& m : m_members)
    if (m->serial == serial) return m.get();
  return nullptr;
}

CircleMember* CNetState::FindMemberByUser(int32_t user) const {
  for (const auto& m : m_members)
    if (m->user == user) return m.get();
  return nullptr;
}

int CNetState::EnterCircle(CMyNode* node) {
  if (!node) return kCircleRequestNotSent;
  node->m_strName = ApplyWordFilter(node->m_strName, kCircleNameFilter, kCircleNameFilterCount);
  if (node->m_strName.size() < 2) return kCircleRequestNotSent;
  std::string parent;
  if (node->IsItem() && node->m_pParent) parent = node->m_pParent->m_strName;
  std::string msg = MsgGroupUpNode(m_nUser, node->m_strName, node->m_nKind, CircleKey(*node), parent,
                                   node->m_strNote, node->m_strCircle);
  return m_sender.SendToServer(msg) ? kCircleRequestSent : kCircleRequestNotSent;
}

void CNetState::SendToCircle(const std::string& message) {
  for (const auto& m : m_members)
    if (m->address != 0 && m->circle == m_strCurrentCircle && m->user != m_nUser)
      m_sender.SendToPeer(message, false, m->address);
}

void CNetState::AnnounceEnter() {
  CircleMember* self = FindMemberByUser(m_nUser);
  if (!self) return;
  SendToCircle(MsgUserEnter(AddressNumber(self->address), self->nickname, m_nUser, self->circle));
}

void CNetState::LeaveCurrentCircle() {
  if (m_strCurrentCircle.empty()) return;
  if (m_bChatWindowOpen) m_ui.Post(UiTarget::MainWindow, WM_CLOSE_CHAT, 0, 0);
  CircleMember* self = FindMemberByUser(m_nUser);
  if (!self) return;
  SendToCircle(MsgUserOut(m_nUser, self->circle, AddressNumber(self->address), self->nickname));
  ClearMembers();
  m_strCurrentCircle = kNoCircleText;
  m_strCircleTitle = "QB4K";
}

int CNetState::DropOutOfCircle(CMyNode* node) {
  if (!node || node->m_nKind == ProgramItem) return 0;
  return m_sender.SendToServer(MsgGroupDropOut(CircleKey(*node), m_nUser));
}

void CNetState::OnGroupReply(FieldList& fields) {
  std::string what;
  if (!TakeField(fields, what)) return;
  if (what == "UPNODE") {
    std::string result;
    if (!TakeField(fields, result)) return;
    if (result == "OK") m_ui.ShowMessage("加入社区成功！", "提示", kMbOk | kMbIconInformation);
    if (result == "FAILED") m_ui.ShowMessage("加入社区失败！", "提示", kMbOk | kMbIconInformation);
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
  if (CMyNode* node = m_pRequestingNode) {
    // The request carried at most 200 bytes of an address, so that is what
    // the server names the circle by.
    bool named = node->m_nKind == UrlItem ? node->m_strAddress.substr(0, kCircleKeyBytes) == circle
                                          : node->m_strName == circle;
    if (named) {
      node->m_strCircle = "GROUP";
      if (m_saveFavorites) m_saveFavorites();
      if (node->m_nKind == UrlItem && m_showCategoryItems) m_showCategoryItems(node->m_pParent);
    }
  }
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
  m_ui.Post(UiTarget::MainWindow, WM_OPEN_CHAT, 0, 0);
}

void CNetState::OnPeerGroup(FieldList& fields) {
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
    m_ui.Post(UiTarget::MainWindow, isNew ? WM_MEMBER_ADDED : WM_MEMBER_CHANGED, m->serial, 0);
  } else if (what == "USEROUT") {
    std::string user;
    if (!TakeField(fields, user) || m_members.size() <= 1) return;
    int32_t userNumber = ReadNumber(user);
    for (const auto& m : m_members) {
      if (m->user != userNumber) continue;
      m->display = m->nickname + "(" + FormatNumber(m->user) + ")" + "留言";
      m_ui.Post(UiTarget::MainWindow, WM_MEMBER_CHANGED, m->serial, 0);
    }
  }
}

bool CNetState::RequireLogin(const char* notice) {
  if (m_bLoggedIn) return true;
  m_ui.ShowMessage(notice, "提示", kMbOk | kMbIconInformation);
  return false;
}

int CNetState::CommandEnterCircle(CMyNode* node) {
  if (!node || !RequireLogin("您还未登录,请先登录！")) return 0;
  if (node->m_nKind == ProgramItem) return 0;
  if (CircleKey(*node) == m_strCurrentCircle && m_bChatWindowOpen) return 0;
  bool wasCurrent = IsCircleCurrent();
  if (wasCurrent) LeaveCurrentCircle();
  m_pRequestingNode = node;
  int result = EnterCircle(node);
  if (node->m_nKind == UrlItem && wasCurrent) m_ui.Post(UiTarget::MainWindow, WM_CLOSE_CHAT, 0, 0);
  return result;
}

int CNetState::CommandLeaveCircle(CMyNode* category) {
  if (!category || category->m_strCircle != "GROUP") return 0;
  if (!RequireLogin("您还未登录,登录后才能把自己从该圈子名单中划掉！")) return 0;
  if (category->m_strName == m_strCurrentCircle) {
    m_ui.Post(UiTarget::MainWindow, WM_CLOSE_CHAT, 0, 0);
    LeaveCurrentCircle();
  }
  category->m_strCircle = "Reserved";
  return DropOutOfCircle(category);
}

bool CNetState::CommandDeleteGroupItem(CMyNode* item) {
  if (!item || item->m_strCircle != "GROUP") return true;
  if (!RequireLogin("该网址URL加入了圈子,登录后才能删除！")) return false;
  item->m_strCircle = "Reserved";
  DropOutOfCircle(item);
  return true;
}

int CNetState::CommandJoinCheckBox(CMyNode* node, bool ticked) {
  if (!node) return 0;
  bool marked = node->m_strCircle == "GROUP";
  if (ticked && !marked) {
    if (!RequireLogin("您还未登录,登录后才能加入圈子！")) return 0;
    m_pRequestingNode = node;
    return EnterCircle(node);
  }
  if (!ticked && marked) {
    if (!RequireLogin("您还未登录,登录后才能把自己从该圈子名单中注销！")) return 0;
    node->m_strCircle = "Reserved";
    int sent = DropOutOfCircle(node);
    if (node->m_nKind == UrlItem && node->m_strAddress == m_strCurrentCircle) {
      m_ui.Post(UiTarget::MainWindow, WM_CLOSE_CHAT, 0, 0);
      LeaveCurrentCircle();
    }
    return sent;
  }
  return 1;
}

std::string MemberRowText(const CircleMember& member) {
  if (!member.display.empty()) return member.display;
  uint32_t a = member.address;
  return FormatNumber(a & 255) + "." + FormatNumber((a >> 8) & 255) + ".*.*";
}

}  // namespace qb

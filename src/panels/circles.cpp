#include "panels/circles.h"

#include "net/netstate.h"
#include "panels/open_item.h"
#include "store/node.h"

namespace panels {

namespace {
const char kNoCircle[] = "您还未指定要进入的圈";

bool LoggedIn(const CircleService& c) { return c.loggedIn && c.loggedIn(); }
std::string Current(const CircleService& c) { return c.currentCircle ? c.currentCircle() : std::string(kNoCircle); }
bool ChatOpen(const CircleService& c) { return c.chatOpen && c.chatOpen(); }
void Leave(const CircleService& c) {
  if (c.leaveCurrentCircle) c.leaveCurrentCircle();
}
void Enter(const CircleService& c, CMyNode* n) {
  if (c.enterCircle) c.enterCircle(n);
}
void AskLogin(qb::IUserInterface& ui, const char* text) {
  ui.ShowMessage(text, kBoxCaption, qb::kMbOk | qb::kMbIconInformation);
}
}  // namespace

CircleService CirclesOf(qb::CNetState& net) {
  CircleService c;
  c.loggedIn = [&net] { return net.m_bLoggedIn; };
  c.currentCircle = [&net] { return net.m_strCurrentCircle; };
  c.chatOpen = [&net] { return net.m_bChatWindowOpen; };
  c.enterCircle = [&net](CMyNode* n) {
    net.m_pRequestingNode = n;
    return net.EnterCircle(n);
  };
  c.leaveCurrentCircle = [&net] { net.LeaveCurrentCircle(); };
  c.dropOutOfCircle = [&net](CMyNode* n) { return net.DropOutOfCircle(n); };
  return c;
}

void EnterCategoryCircle(const CircleService& c, CMyNode* node, qb::IUserInterface& ui) {
  if (!LoggedIn(c)) {
    AskLogin(ui, "您还未登录,请先登录！");
    return;
  }
  if (!node || !node->IsCategory()) return;
  if (node->m_strName != Current(c) || !ChatOpen(c)) {
    if (Current(c) != kNoCircle) Leave(c);
    Enter(c, node);
  }
}

void LeaveCategoryCircle(const CircleService& c, CMyNode* node, qb::IUserInterface& ui) {
  if (!node || !node->IsCategory() || node->m_strCircle != "GROUP") return;
  if (!LoggedIn(c)) {
    AskLogin(ui, "您还未登录,登录后才能把自己从该圈子名单中划掉！");
    return;
  }
  if (node->m_strName == Current(c)) {
    ui.Post(qb::UiTarget::MainWindow, qb::WM_CLOSE_CHAT, 0, 0);
    Leave(c);
  }
  node->m_strCircle = "Reserved";
  if (c.dropOutOfCircle) c.dropOutOfCircle(node);
}

void EnterItemCircle(const CircleService& c, CMyNode* item, qb::IUserInterface& ui) {
  if (!LoggedIn(c)) {
    AskLogin(ui, "您还未登录,请先登录！");
    return;
  }
  if (!item || item->m_nKind != UrlItem) return;
  if (item->m_strAddress != Current(c) || !ChatOpen(c)) {
    bool wasCurrent = Current(c) != kNoCircle;
    if (wasCurrent) Leave(c);
    Enter(c, item);
    if (wasCurrent) ui.Post(qb::UiTarget::MainWindow, qb::WM_CLOSE_CHAT, 0, 0);
  }
}

}  // namespace panels

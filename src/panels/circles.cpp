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
int Enter(const CircleService& c, CMyNode* n) { return c.enterCircle ? c.enterCircle(n) : 0; }
int DropOut(const CircleService& c, CMyNode* n) { return c.dropOutOfCircle ? c.dropOutOfCircle(n) : 0; }
void AskLogin(qb::IUserInterface& ui, const char* text) {
  ui.ShowMessage(text, kBoxCaption, qb::kMbOk | qb::kMbIconInformation);
}
}  // namespace

CircleService CirclesOf(qb::CNetState& net) {
  CircleService c;
  c.loggedIn = [&net] { return net.Login().LoggedIn(); };
  c.currentCircle = [&net] { return net.Circles().CurrentCircle(); };
  c.chatOpen = [&net] { return net.Circles().ChatWindowOpen(); };
  c.enterCircle = [&net](CMyNode* n) { return net.Circles().RequestCircle(n); };
  c.leaveCurrentCircle = [&net] { net.Circles().LeaveCurrentCircle(); };
  c.dropOutOfCircle = [&net](CMyNode* n) { return net.Circles().DropOutOfCircle(n); };
  return c;
}

int EnterCategoryCircle(const CircleService& c, CMyNode* node, qb::IUserInterface& ui) {
  if (!LoggedIn(c)) {
    AskLogin(ui, "您还未登录,请先登录！");
    return 0;
  }
  if (!node || !node->IsCategory()) return 0;
  if (node->m_strName == Current(c) && ChatOpen(c)) return 0;
  if (Current(c) != kNoCircle) Leave(c);
  return Enter(c, node);
}

int LeaveCategoryCircle(const CircleService& c, CMyNode* node, qb::IUserInterface& ui) {
  if (!node || !node->IsCategory() || node->m_strCircle != "GROUP") return 0;
  if (!LoggedIn(c)) {
    AskLogin(ui, "您还未登录,登录后才能把自己从该圈子名单中划掉！");
    return 0;
  }
  if (node->m_strName == Current(c)) {
    ui.Post(qb::UiTarget::MainWindow, qb::WM_CLOSE_CHAT, 0, 0);
    Leave(c);
  }
  node->m_strCircle = "Reserved";
  return DropOut(c, node);
}

int EnterItemCircle(const CircleService& c, CMyNode* item, qb::IUserInterface& ui) {
  if (!LoggedIn(c)) {
    AskLogin(ui, "您还未登录,请先登录！");
    return 0;
  }
  if (!item || item->m_nKind != UrlItem) return 0;
  if (item->m_strAddress == Current(c) && ChatOpen(c)) return 0;
  bool wasCurrent = Current(c) != kNoCircle;
  if (wasCurrent) Leave(c);
  int result = Enter(c, item);
  if (wasCurrent) ui.Post(qb::UiTarget::MainWindow, qb::WM_CLOSE_CHAT, 0, 0);
  return result;
}

int JoinCircleCheckBox(const CircleService& c, CMyNode* node, bool ticked, qb::IUserInterface& ui) {
  if (!node) return 0;
  bool marked = node->m_strCircle == "GROUP";
  if (ticked && !marked) {
    if (!LoggedIn(c)) {
      AskLogin(ui, "您还未登录,登录后才能加入圈子！");
      return 0;
    }
    return Enter(c, node);
  }
  if (!ticked && marked) {
    if (!LoggedIn(c)) {
      AskLogin(ui, "您还未登录,登录后才能把自己从该圈子名单中注销！");
      return 0;
    }
    node->m_strCircle = "Reserved";
    int sent = DropOut(c, node);
    if (node->m_nKind == UrlItem && node->m_strAddress == Current(c)) {
      ui.Post(qb::UiTarget::MainWindow, qb::WM_CLOSE_CHAT, 0, 0);
      Leave(c);
    }
    return sent;
  }
  return 1;
}

}  // namespace panels

// The circle commands of the category and item menus and the item editor,
// over the network state's circles part.
#pragma once
#include <functional>
#include <string>

#include "base/messages.h"
#include "base/ui.h"

class CMyNode;
namespace qb {
class CNetState;
}

namespace panels {

// The circle service as the panels call it. Left empty, the user counts as
// logged out and no circle is current.
struct CircleService {
  std::function<bool()> loggedIn;
  std::function<std::string()> currentCircle;  // "您还未指定要进入的圈" when none
  std::function<bool()> chatOpen;
  std::function<int(CMyNode*)> enterCircle;     // makes the node the requesting node
  std::function<void()> leaveCurrentCircle;
  std::function<int(CMyNode*)> dropOutOfCircle;
};

// The service of the program's network state.
CircleService CirclesOf(qb::CNetState& net);

// The circle commands of the category and item menus and the item editor:
// the only implementation of them. Each shows the log-in notice and does
// nothing when the user is not logged in; each returns what was sent (the
// request's kCircleRequestSent / kCircleRequestNotSent, the drop-out's send
// result) or 0 when nothing was asked.

// "进入该名称的圈子": a category's circle; the current one is left first.
int EnterCategoryCircle(const CircleService& circles, CMyNode* category, qb::IUserInterface& ui);
// "申请退出该圈子": strikes the user off a category's circle; when it is the
// current one, the chat window is closed (posted to the main window) and the
// circle left.
int LeaveCategoryCircle(const CircleService& circles, CMyNode* category, qb::IUserInterface& ui);
// "进入该网页(URL)的圈子": a bookmark's circle, keyed by its address.
int EnterItemCircle(const CircleService& circles, CMyNode* item, qb::IUserInterface& ui);
// The item editor's "加入圈子" check box at OK: ticked on an unmarked node
// asks for its circle; unticked on a marked one drops out (and leaves the
// circle, closing the chat, when it is the bookmark's current one). 1 when
// the box asks for no change.
int JoinCircleCheckBox(const CircleService& circles, CMyNode* node, bool ticked, qb::IUserInterface& ui);
// Deleting a bookmark that is in a circle: DeleteItemNode (panels/panel_logic.h)
// with the service's drop-out.

}  // namespace panels

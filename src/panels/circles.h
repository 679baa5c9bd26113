// The circle commands of the category and item menus, over the network
// core's circle service.
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

// "进入该名称的圈子": a category's circle; the current one is left first.
void EnterCategoryCircle(const CircleService& circles, CMyNode* category, qb::IUserInterface& ui);
// "申请退出该圈子": strikes the user off a category's circle; when it is the
// current one, the chat window is closed (posted to the main window) and the
// circle left.
void LeaveCategoryCircle(const CircleService& circles, CMyNode* category, qb::IUserInterface& ui);
// "进入该网页(URL)的圈子": a bookmark's circle, keyed by its address.
void EnterItemCircle(const CircleService& circles, CMyNode* item, qb::IUserInterface& ui);

}  // namespace panels

// The network state's private parts, for test set-ups that put a part in a
// state without the server conversation that would lead there.
#pragma once
#include <memory>
#include <vector>

#include "net/netstate.h"

namespace qb {

struct NetStateTestAccess {
  static bool& LoggedIn(CNetState& net) { return net.m_login.m_bLoggedIn; }
  static int& TransferMode(CNetState& net) { return net.m_transfer.m_nMode; }
  static CNodeRef& RequestingNode(CNetState& net) { return net.m_circles.m_pRequestingNode; }
  static std::vector<std::unique_ptr<CircleMember>>& Members(CNetState& net) { return net.m_circles.m_members; }
};

}  // namespace qb

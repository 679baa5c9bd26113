// Building favorites trees in tests: one node at a time, through the tree's
// own AddNode (a refused node is the tree's to delete, so the answer is null).
#pragma once

#include <string>

#include "model/app_logic.h"
#include "store/node.h"

namespace qbtest {

inline CMyNode* AddNodeTo(CMyNodeList& list, const std::string& name, int kind, CMyNode* parent, int slot,
                          const std::string& address = "") {
  CMyNode* n = new CMyNode(name, kind, parent, slot, address);
  return list.AddNode(n) ? n : nullptr;
}

// The model over the program folder `dir`: its favorites written before the
// program starts, or read once it has ended.
class CFolderModel : public CAppLogic {
 public:
  explicit CFolderModel(const std::string& dir) {
    m_strProgramDir = dir;
    m_strBaseDir = dir;
  }
};

}  // namespace qbtest

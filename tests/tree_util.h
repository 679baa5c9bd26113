// Building favorites trees in tests: one node at a time, through the tree's
// own AddNode (a refused node is the tree's to delete, so the answer is null).
#pragma once

#include <string>

#include "store/node.h"

namespace qbtest {

inline CMyNode* AddNodeTo(CMyNodeList& list, const std::string& name, int kind, CMyNode* parent, int slot,
                          const std::string& address = "") {
  CMyNode* n = new CMyNode;
  n->m_strName = name;
  n->m_nKind = kind;
  n->m_pParent = parent;
  n->m_nSlot = slot;
  n->m_strAddress = address;
  return list.AddNode(n) ? n : nullptr;
}

}  // namespace qbtest

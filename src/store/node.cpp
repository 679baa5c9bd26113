#include "store/node.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/cipher.h"
#include "base/codepage.h"

const char kDeleteMark[] = "NULL-DELETE";

namespace {

// Every occurrence of `what` removed from `s`, scanning once left to right.
void RemoveAll(std::string& s, const std::string& what) {
  if (what.empty()) return;
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s.compare(i, what.size(), what) == 0) {
      i += what.size();
    } else {
      out.push_back(s[i++]);
    }
  }
  s.swap(out);
}

std::string Bracket(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '<' || c == '>'; }), text.end());
  return "<" + text + ">";
}

// A decimal field as the program's atoi reads it: leading blanks, a sign, digits.
int32_t Decimal(const std::string& s) { return (int32_t)strtol(s.c_str(), nullptr, 10); }

}  // namespace

CMyNode::CMyNode() : m_tLastVisit((int64_t)time(nullptr)) {}

CMyNode::~CMyNode() {
  for (CNodeRef* r = m_watchers.first; r;) {
    CNodeRef* next = r->m_next;
    r->m_node = nullptr;
    r->m_prev = r->m_next = nullptr;
    r = next;
  }
}

void CNodeRef::Attach(CMyNode* node) {
  m_node = node;
  if (!node) return;
  m_prev = nullptr;
  m_next = node->m_watchers.first;
  if (m_next) m_next->m_prev = this;
  node->m_watchers.first = this;
}

void CNodeRef::Detach() {
  if (!m_node) return;
  if (m_prev)
    m_prev->m_next = m_next;
  else
    m_node->m_watchers.first = m_next;
  if (m_next) m_next->m_prev = m_prev;
  m_node = nullptr;
  m_prev = m_next = nullptr;
}

void CMyNode::Visit() {
  ++m_nVisits;
  m_tLastVisit = (int64_t)time(nullptr);
}

void CMyNode::Store(qb::CArchiveWriter& ar) const {
  ar.WriteCountedString(qb::EncodeText(m_strName));
  ar.WriteI32(m_nKind);
  ar.WriteCountedString(qb::EncodeText(m_strAddress));
  if (m_nKind == UrlItem && m_pParent)
    ar.WriteCountedString(qb::EncodeText(m_pParent->m_strName));
  else
    ar.WriteCountedString(std::string());
  ar.WriteCountedString(qb::EncodeText(m_strIconPath));
  ar.WriteCountedString(m_strNote);
  ar.WriteI32(m_nVisits);
  ar.WriteU32((uint32_t)m_tLastVisit);
  ar.WriteI32(m_nSlot);
  ar.WriteI32(m_bScript);
  ar.WriteCountedString(m_strCircle);
}

int CMyNode::Load(qb::CArchiveReader& ar) {
  std::string s;
  uint32_t t = 0;
  if (!ar.ReadCountedString(s)) return 0;
  m_strName = qb::DecodeText(s);
  if (!ar.ReadI32(m_nKind) || !ar.ReadCountedString(s)) return 0;
  m_strAddress = qb::DecodeText(s);
  if (!ar.ReadCountedString(s)) return 0;
  m_strParentName = qb::DecodeText(s);
  if (!ar.ReadCountedString(s)) return 0;
  m_strIconPath = qb::DecodeText(s);
  if (!ar.ReadCountedString(m_strNote) || !ar.ReadI32(m_nVisits) || !ar.ReadU32(t) || !ar.ReadI32(m_nSlot) ||
      !ar.ReadI32(m_bScript) || !ar.ReadCountedString(m_strCircle))
    return 0;
  // The file keeps 32 bits of time; they are widened as unsigned.
  m_tLastVisit = (int64_t)t;
  return 1;
}

std::string CMyNode::UploadRecord() const {
  std::string parent;
  if ((m_nKind == UrlItem || m_nKind == ProgramItem) && m_pParent) parent = qb::EncodeText(m_pParent->m_strName);
  return Bracket(qb::EncodeText(m_strName)) + Bracket(std::to_string(m_nKind)) +
         Bracket(qb::EncodeText(m_strAddress)) + Bracket(parent) + Bracket(qb::EncodeText(m_strIconPath)) +
         Bracket(m_strNote) + Bracket(std::to_string(m_nVisits)) + Bracket(std::to_string(m_nSlot)) +
         Bracket(m_strCircle);
}

std::string CMyNode::CircleRecord() const {
  std::string key = m_nKind == UrlItem ? m_strAddress.substr(0, 200) : m_strName;
  std::string parent;
  if ((m_nKind == UrlItem || m_nKind == ProgramItem) && m_pParent) parent = m_pParent->m_strName;
  return Bracket(m_strName) + Bracket(std::to_string(m_nKind)) + Bracket(key) + Bracket(parent) +
         Bracket(m_strNote) + Bracket(m_strCircle);
}

int CMyNode::ReadFields(const std::vector<std::string>& f, size_t& pos) {
  auto next = [&](std::string& out) {
    if (pos >= f.size()) return false;
    out = f[pos++];
    return true;
  };
  std::string s;
  if (!next(s) || s.empty()) return 0;
  m_strName = qb::DecodeText(s);
  if (!next(s) || s.empty()) return 0;
  m_nKind = Decimal(s);
  if (m_nKind < UrlCategory || m_nKind > ProgramItem) m_nKind = UrlCategory;
  if (!next(s)) return 0;
  m_strAddress = qb::DecodeText(s);
  if (!next(s)) return 0;
  m_strParentName = qb::DecodeText(s);
  if (!next(s)) return 0;
  m_strIconPath = qb::DecodeText(s);
  if (!next(m_strNote)) return 0;
  if (!next(s) || s.empty()) return 0;
  m_nVisits = Decimal(s);
  if (!next(s) || s.empty()) return 0;
  m_nSlot = Decimal(s);
  if (pos < f.size()) m_strCircle = f[pos++];
  return 1;
}

// ---- the list ----------------------------------------------------------------

void CMyNodeList::DeleteAll() {
  for (CMyNode* n : m_nodes) delete n;
  m_nodes.clear();
  ForgetAddIndex();
}

void CMyNodeList::ReleaseAll() {
  m_nodes.clear();
  ForgetAddIndex();
}

CMyNode* CMyNodeList::FindNode(const std::string& name, int kind) const {
  for (CMyNode* n : m_nodes)
    if (n->m_nKind == kind && n->m_strName == name) return n;
  return nullptr;
}

std::string CMyNodeList::DefaultIconPath(int32_t slot) const {
  return m_strBaseDir + "images\\icon\\ieicon\\IE XP" + std::to_string((unsigned)slot % 5u) + ".ico";
}

int CMyNodeList::TryAddNode(CMyNode* node) {
  if (!node) return 0;
  if (HasEqualForAdd(node)) return 0;
  if (node->m_nKind == UrlItem && node->m_strIconPath.empty())
    node->m_strIconPath = DefaultIconPath(node->m_nSlot);
  Append(node);
  return 1;
}

int CMyNodeList::AddNode(CMyNode* node) {
  if (TryAddNode(node)) return 1;
  delete node;
  return 0;
}

int CMyNodeList::AddLoadedNode(CMyNode* node) {
  if (!node) return 0;
  for (CMyNode* n : m_nodes)
    if (n->m_pParent == node->m_pParent && n->m_strName == node->m_strName &&
        n->m_strAddress == node->m_strAddress && n->m_strParentName == node->m_strParentName) {
      delete node;
      return 0;
    }
  Append(node);
  return 1;
}

int CMyNodeList::RemoveNode(CMyNode* node) {
  auto it = std::find(m_nodes.begin(), m_nodes.end(), node);
  if (it == m_nodes.end()) return 0;
  m_nodes.erase(it);
  ForgetAddIndex();
  return 1;
}

int CMyNodeList::CountChildren(const CMyNode* node) const {
  int c = 0;
  for (CMyNode* n : m_nodes)
    if (n->m_pParent == node) ++c;
  return c;
}

int CMyNodeList::CountKind(int kind) const {
  int c = 0;
  for (CMyNode* n : m_nodes)
    if (n->m_nKind == kind) ++c;
  return c;
}

CMyNode* CMyNodeList::FirstNodeBySlot(int kind) const {
  int limit = (kind == UrlCategory || kind == ProgramCategory) ? 44 : 30;
  CMyNode* best = nullptr;
  for (CMyNode* n : m_nodes)
    if (n->m_nKind == kind && n->m_nSlot >= 0 && n->m_nSlot < limit && (!best || n->m_nSlot < best->m_nSlot))
      best = n;
  return best;
}

int CMyNodeList::IsSlotFree(int slot, const CMyNode* category) const {
  for (CMyNode* n : m_nodes)
    if (n->m_pParent == category && n->m_nSlot == slot) return 0;
  return 1;
}

int CMyNodeList::FirstFreeItemSlot(const CMyNode* category) const {
  bool taken[30] = {};
  for (CMyNode* n : m_nodes)
    if (n->m_pParent == category && n->m_nSlot >= 0 && n->m_nSlot < 30) taken[n->m_nSlot] = true;
  for (int s = 0; s < 30; ++s)
    if (!taken[s]) return s;
  return -1;
}

int CMyNodeList::MoveItemToCategory(CMyNode* item, CMyNode* category) {
  if (!item || !category) return 0;
  if (!IsSlotFree(item->m_nSlot, category)) {
    int slot = FirstFreeItemSlot(category);
    if (slot < 0) return 0;
    item->m_nSlot = slot;
  }
  item->m_pParent = category;
  return 1;
}

int CMyNodeList::AddItemAtFreeSlot(CMyNode* item) {
  if (!item) return 0;
  int slot = FirstFreeItemSlot(item->m_pParent);
  if (slot < 0) {
    delete item;
    return 0;
  }
  item->m_nSlot = slot;
  return AddNode(item);
}

namespace {

size_t Mix(size_t h, size_t v) { return h ^ (v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2)); }
size_t HashText(const std::string& s) { return std::hash<std::string_view>()(std::string_view(s)); }

// What AddLoadedNode compares: parent, name, address, staging parent name.
struct LoadedHash {
  size_t operator()(const CMyNode* n) const {
    size_t h = std::hash<const void*>()(n->m_pParent);
    h = Mix(h, HashText(n->m_strName));
    h = Mix(h, HashText(n->m_strAddress));
    return Mix(h, HashText(n->m_strParentName));
  }
};
struct LoadedEq {
  bool operator()(const CMyNode* a, const CMyNode* b) const {
    return a->m_pParent == b->m_pParent && a->m_strName == b->m_strName && a->m_strAddress == b->m_strAddress &&
           a->m_strParentName == b->m_strParentName;
  }
};

// What AddNode compares: kind and name, and for items parent and address too.
struct AddHash {
  size_t operator()(const CMyNode* n) const {
    size_t h = Mix((size_t)n->m_nKind, HashText(n->m_strName));
    if (n->IsItem()) h = Mix(Mix(h, std::hash<const void*>()(n->m_pParent)), HashText(n->m_strAddress));
    return h;
  }
};
struct AddEq {
  bool operator()(const CMyNode* a, const CMyNode* b) const {
    if (a->m_nKind != b->m_nKind || a->m_strName != b->m_strName) return false;
    return !a->IsItem() || (a->m_pParent == b->m_pParent && a->m_strAddress == b->m_strAddress);
  }
};

// A fixed-size open-addressing set of nodes, big enough for every node it will
// hold; one array, no allocation per node.
template <class Hash, class Eq>
class CNodeIndex {
 public:
  explicit CNodeIndex(size_t most) {
    size_t cap = 16;
    while (cap < most * 2) cap <<= 1;
    m_slots.assign(cap, Slot());
  }
  // Adds `n` unless an equal node is there already.
  bool Insert(const CMyNode* n) {
    size_t h = Hash()(n), mask = m_slots.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      Slot& s = m_slots[i];
      if (!s.node) {
        s.node = n;
        s.hash = h;
        return true;
      }
      if (s.hash == h && Eq()(s.node, n)) return false;
    }
  }

 private:
  struct Slot {
    size_t hash = 0;
    const CMyNode* node = nullptr;
  };
  std::vector<Slot> m_slots;
};

}  // namespace

// ---- AddNode's duplicate test ----------------------------------------------------

struct CMyNodeList::AddIndex {
  std::unordered_set<const CMyNode*, AddHash, AddEq> nodes;
  bool built = false;
};

CMyNodeList::CMyNodeList() = default;
CMyNodeList::~CMyNodeList() { DeleteAll(); }

void CMyNodeList::Append(CMyNode* node) {
  RemoveAll(node->m_strNote, "<>");
  m_nodes.push_back(node);
  if (m_addIndex && m_addIndex->built) m_addIndex->nodes.insert(node);
}

void CMyNodeList::ForgetAddIndex() {
  if (m_addIndex) {
    m_addIndex->nodes.clear();
    m_addIndex->built = false;
  }
}

bool CMyNodeList::HasEqualForAdd(const CMyNode* node) {
  if (m_addIndex) {
    if (!m_addIndex->built) {
      m_addIndex->nodes.reserve(m_nodes.size() * 2);
      m_addIndex->nodes.insert(m_nodes.begin(), m_nodes.end());
      m_addIndex->built = true;
    }
    return m_addIndex->nodes.count(node) != 0;
  }
  if (!node->IsItem()) return FindNode(node->m_strName, node->m_nKind) != nullptr;
  for (CMyNode* n : m_nodes)
    if (n->m_nKind == node->m_nKind && n->m_pParent == node->m_pParent && n->m_strName == node->m_strName &&
        n->m_strAddress == node->m_strAddress)
      return true;
  return false;
}

CMyNodeList::CAddBatch::CAddBatch(CMyNodeList& list) : m_list(list), m_owner(!list.m_addIndex) {
  if (m_owner) m_list.m_addIndex.reset(new AddIndex);
}

CMyNodeList::CAddBatch::~CAddBatch() {
  if (m_owner) m_list.m_addIndex.reset();
}

void CMyNodeList::MergeLoadedNodes(const std::vector<CMyNode*>& nodes) {
  std::vector<CMyNode*> added;
  added.reserve(nodes.size());
  {
    CNodeIndex<LoadedHash, LoadedEq> seen(m_nodes.size() + nodes.size());
    for (CMyNode* n : m_nodes) seen.Insert(n);
    m_nodes.reserve(m_nodes.size() + nodes.size());
    for (CMyNode* n : nodes) {
      if (!seen.Insert(n)) {
        delete n;
        continue;
      }
      Append(n);
      added.push_back(n);
    }
  }
  // Names are not changed while the map is in use.
  std::unordered_map<std::string_view, CMyNode*> firstCategory;
  for (CMyNode* n : m_nodes)
    if (n->m_nKind == UrlCategory) firstCategory.emplace(n->m_strName, n);
  bool marked = false;
  for (CMyNode* n : added) {
    if (n->m_nKind != UrlItem) continue;
    auto it = firstCategory.find(n->m_strParentName);
    if (it != firstCategory.end()) {
      n->m_pParent = it->second;
    } else {
      n->m_strName = kDeleteMark;
      marked = true;
    }
  }
  if (marked) DeleteMarked();
}

int CMyNodeList::AddNodes(const std::vector<CMyNode*>& nodes) {
  CNodeIndex<AddHash, AddEq> seen(m_nodes.size() + nodes.size());
  for (CMyNode* n : m_nodes) seen.Insert(n);
  int added = 0;
  for (CMyNode* n : nodes) {
    if (!n) continue;
    if (!seen.Insert(n)) {
      delete n;
      continue;
    }
    if (n->m_nKind == UrlItem && n->m_strIconPath.empty())
      n->m_strIconPath = DefaultIconPath(n->m_nSlot);
    Append(n);
    ++added;
  }
  return added;
}

void CMyNodeList::DeleteKind(int kind) {
  size_t keep = 0;
  for (CMyNode* n : m_nodes) {
    if (n->m_nKind == kind)
      delete n;
    else
      m_nodes[keep++] = n;
  }
  m_nodes.resize(keep);
  ForgetAddIndex();
}

void CMyNodeList::DeleteMarked() {
  size_t keep = 0;
  for (CMyNode* n : m_nodes) {
    if (n->m_strName == kDeleteMark)
      delete n;
    else
      m_nodes[keep++] = n;
  }
  m_nodes.resize(keep);
  ForgetAddIndex();
}

// ---- names ---------------------------------------------------------------------

namespace {

// Length of the character at s[i]: 2 for a lead byte with a trail, the whole
// reference for a character code page 936 lacks ("&#x1F600;"), so that the
// name rule never cleans inside one.
size_t CharLen(const std::string& s, size_t i) { return qb::CharLenAt(s, i); }

// Removes every `what` (ASCII) that starts on a character boundary, so the
// trail byte of a double-byte character is never taken for a letter.
void RemoveAllChars(std::string& s, const char* what) {
  size_t len = strlen(what);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    if (s.compare(i, len, what) == 0) {
      i += len;
    } else {
      size_t n = CharLen(s, i);
      out.append(s, i, n);
      i += n;
    }
  }
  s.swap(out);
}

}  // namespace

std::string CleanName(const std::string& text) {
  std::string s = text;
  for (size_t i = 0; i < s.size();) {
    size_t n = CharLen(s, i);
    if (n == 1 && s[i] >= 'A' && s[i] <= 'Z') s[i] = (char)(s[i] - 'A' + 'a');
    i += n;
  }
  static const char* const kRemove[] = {".url", ".com", ".exe", "*", "\"", "\\", "/", ">", "<", ":",
                                        "?",    "|",    " - ",  "  ", "   ", "..", ".", "--"};
  for (const char* r : kRemove) RemoveAllChars(s, r);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    size_t n = CharLen(s, i);
    if (n == 2 && (unsigned char)s[i] == 0xA1 && (unsigned char)s[i + 1] == 0xAA)
      out.push_back('-');
    else
      out.append(s, i, n);
    i += n;
  }
  return out;
}

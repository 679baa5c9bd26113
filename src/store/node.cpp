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
void RemoveAll(std::string& s, std::string_view what) {
  if (what.empty() || s.find(what) == std::string::npos) return;
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

CMyNode::CMyNode(const std::string& name, int kind, CMyNode* parent, int slot, const std::string& address)
    : CMyNode() {
  m_strName = name;
  m_nKind = kind;
  m_strAddress = address;
  m_pParent = parent;
  m_nSlot = slot;
}

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
  // The coded fields are decoded from where they lie in the archive's source
  // straight into the node: one copy of each.
  std::string room;
  std::string_view s;
  uint32_t t = 0;
  if (!ar.ReadCountedString(s, room)) return 0;
  qb::DecodeText(s, m_strName);
  if (!ar.ReadI32(m_nKind) || !ar.ReadCountedString(s, room)) return 0;
  qb::DecodeText(s, m_strAddress);
  if (!ar.ReadCountedString(s, room)) return 0;
  qb::DecodeText(s, m_strParentName);
  if (!ar.ReadCountedString(s, room)) return 0;
  qb::DecodeText(s, m_strIconPath);
  if (!ar.ReadCountedString(m_strNote) || !ar.ReadI32(m_nVisits) || !ar.ReadU32(t) || !ar.ReadI32(m_nSlot) ||
      !ar.ReadI32(m_bScript) || !ar.ReadCountedString(s, room))
    return 0;
  // Nearly every record holds the circle a new node has already.
  if (s != m_strCircle) m_strCircle.assign(s.data(), s.size());
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
  ForgetAddIndex();  // the indexes keep the parent the item had
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
// These tables live only while the program runs, so their hash is free to
// be quick: sixteen bytes at a time, inline, their two halves multiplied in
// one full 64 x 64 bit product. A text longer than sixteen bytes ends with
// the sixteen before its end, read again in part; one of eight to sixteen
// is its first eight and its last eight.
inline uint64_t Fold(uint64_t a, uint64_t b) {
  unsigned __int128 p = (unsigned __int128)a * b;
  return (uint64_t)p ^ (uint64_t)(p >> 64);
}
inline uint64_t Load8(const char* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}
size_t HashText(std::string_view s) {
  const uint64_t k0 = 0xa0761d6478bd642full, k1 = 0xe7037ed1a0b428dbull, k2 = 0x8ebc6af09c88c6e3ull;
  const char* p = s.data();
  size_t n = s.size();
  uint64_t h = n ^ k0, a = 0, b = 0;
  if (n > 16) {
    for (; n > 16; p += 16, n -= 16) h = Fold(Load8(p) ^ k1, Load8(p + 8) ^ h);
    a = Load8(p + n - 16);
    b = Load8(p + n - 8);
  } else if (n >= 8) {
    a = Load8(p);
    b = Load8(p + n - 8);
  } else {
    for (size_t i = 0; i < n; ++i) a |= (uint64_t)(unsigned char)p[i] << (8 * i);
  }
  return (size_t)Fold(a ^ k1, b ^ h ^ k2);
}

// What AddLoadedNode compares: parent, name, address, staging parent name.
// The parent is the one the node had when it came: a file's items join
// their categories only after the test.
struct LoadedHash {
  size_t operator()(const CMyNode* n, const CMyNode* parent) const {
    size_t h = std::hash<const void*>()(parent);
    h = Mix(h, HashText(n->m_strName));
    h = Mix(h, HashText(n->m_strAddress));
    return Mix(h, HashText(n->m_strParentName));
  }
};
struct LoadedEq {
  bool operator()(const CMyNode* a, const CMyNode* aParent, const CMyNode* b, const CMyNode* bParent) const {
    return aParent == bParent && a->m_strName == b->m_strName && a->m_strAddress == b->m_strAddress &&
           a->m_strParentName == b->m_strParentName;
  }
};

// What AddNode compares: kind and name, and for items parent and address too.
struct AddHash {
  size_t operator()(const CMyNode* n, const CMyNode* parent) const {
    size_t h = Mix((size_t)n->m_nKind, HashText(n->m_strName));
    if (n->IsItem()) h = Mix(Mix(h, std::hash<const void*>()(parent)), HashText(n->m_strAddress));
    return h;
  }
  size_t operator()(const CMyNode* n) const { return (*this)(n, n->m_pParent); }
};
struct AddEq {
  bool operator()(const CMyNode* a, const CMyNode* aParent, const CMyNode* b, const CMyNode* bParent) const {
    if (a->m_nKind != b->m_nKind || a->m_strName != b->m_strName) return false;
    return !a->IsItem() || (aParent == bParent && a->m_strAddress == b->m_strAddress);
  }
  bool operator()(const CMyNode* a, const CMyNode* b) const { return (*this)(a, a->m_pParent, b, b->m_pParent); }
};

// An open-addressing set of nodes: one array, no allocation per node. Sized
// for the nodes it is expected to hold, it grows when it holds more. Each
// node is kept with the parent it had when it came, which is what is
// compared.
template <class Hash, class Eq>
class CNodeIndex {
 public:
  explicit CNodeIndex(size_t most = 0) { m_slots.assign(Capacity(most), Slot()); }
  // Empty again, with room for `most` nodes; the array's memory is kept.
  void Clear(size_t most) {
    m_slots.assign(Capacity(most), Slot());
    m_count = 0;
  }
  // Adds `n` unless an equal node is there already.
  bool Insert(const CMyNode* n) { return Insert(n, n->m_pParent); }
  size_t Count() const { return m_count; }
  bool Insert(const CMyNode* n, const CMyNode* parent) {
    if (2 * (m_count + 1) > m_slots.size()) Grow();
    size_t h = Hash()(n, parent);
    Slot* s = Find(h);
    for (; s->node; s = Next(s))
      if (s->hash == h && Eq()(s->node, s->parent, n, parent)) return false;
    s->node = n;
    s->parent = parent;
    s->hash = h;
    ++m_count;
    return true;
  }

 private:
  struct Slot {
    size_t hash = 0;
    const CMyNode* node = nullptr;
    const CMyNode* parent = nullptr;
  };
  static size_t Capacity(size_t most) {
    size_t cap = 16;
    while (cap < most * 2) cap <<= 1;
    return cap;
  }
  Slot* Find(size_t h) { return &m_slots[h & (m_slots.size() - 1)]; }
  Slot* Next(Slot* s) { return s + 1 == m_slots.data() + m_slots.size() ? m_slots.data() : s + 1; }
  // Twice the room; the nodes move by their kept hashes.
  void Grow() {
    std::vector<Slot> old(m_slots.size() * 2);
    old.swap(m_slots);
    for (const Slot& o : old) {
      if (!o.node) continue;
      Slot* s = Find(o.hash);
      while (s->node) s = Next(s);
      *s = o;
    }
  }
  std::vector<Slot> m_slots;
  size_t m_count = 0;
};

}  // namespace

// ---- AddNode's duplicate test ----------------------------------------------------

struct CMyNodeList::AddIndex {
  std::unordered_set<const CMyNode*, AddHash, AddEq> nodes;
  bool built = false;
};

// AddLoadedNode's duplicate test: every listed node, while nodes only came
// through AddLoadedNode since it was made.
struct CMyNodeList::LoadIndex {
  CNodeIndex<LoadedHash, LoadedEq> nodes;
  explicit LoadIndex(size_t most) : nodes(most) {}
};

CMyNodeList::CMyNodeList() = default;
CMyNodeList::~CMyNodeList() { DeleteAll(); }

void CMyNodeList::Append(CMyNode* node) {
  m_loadIndex.reset();  // a node that AddLoadedNode did not see
  AppendIndexed(node);
}

void CMyNodeList::AppendIndexed(CMyNode* node) {
  RemoveAll(node->m_strNote, "<>");
  m_nodes.push_back(node);
  if (m_addIndex && m_addIndex->built) m_addIndex->nodes.insert(node);
}

void CMyNodeList::ForgetAddIndex() {
  m_loadIndex.reset();
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

int CMyNodeList::AddLoadedNode(CMyNode* node) {
  if (!node) return 0;
  if (!m_loadIndex) {
    m_loadIndex.reset(new LoadIndex(m_nodes.size() + 1));
    for (CMyNode* n : m_nodes) m_loadIndex->nodes.Insert(n);
  }
  if (!m_loadIndex->nodes.Insert(node)) {
    delete node;
    return 0;
  }
  AppendIndexed(node);
  return 1;
}

CMyNodeList::CAddBatch::CAddBatch(CMyNodeList& list) : m_list(list), m_owner(!list.m_addIndex) {
  if (m_owner) m_list.m_addIndex.reset(new AddIndex);
}

CMyNodeList::CAddBatch::~CAddBatch() {
  if (m_owner) m_list.m_addIndex.reset();
}

// ---- reading a file ---------------------------------------------------------------

namespace {

// Name and address: what LoadedEq compares within one parent name and parent.
struct NameAddressHash {
  size_t operator()(const CMyNode* n, const CMyNode*) const {
    return Mix(HashText(n->m_strName), HashText(n->m_strAddress));
  }
};

// AddLoadedNode's test for a whole file: the nodes grouped by parent name
// and parent, each group tested on its own. A file lists a category's items
// together, so one table, emptied for each new group, serves them while it
// stays in the processor's cache; the group keeps only a list of its nodes.
// A group that comes back after another (a file that lists a category's
// items apart) gets a table of its own from that list, kept from then on,
// so that no node is put in a table more than twice.
class CGroupedLoadedIndex {
 public:
  // Adds `n` unless an equal node is there already.
  bool Insert(const CMyNode* n) {
    Key key{n->m_strParentName, n->m_pParent};
    if (!m_last || !(key == m_lastKey)) Switch(key);
    if (!m_table->Insert(n)) return false;
    if (m_table == &m_current) m_last->nodes.push_back(n);
    return true;
  }

 private:
  // Views the parent name of a listed node, which does not change meanwhile.
  struct Key {
    std::string_view parentName;
    const CMyNode* parent;
    bool operator==(const Key& o) const { return parent == o.parent && parentName == o.parentName; }
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return Mix(HashText(k.parentName), std::hash<const void*>()(k.parent));
    }
  };
  using Table = CNodeIndex<NameAddressHash, LoadedEq>;
  struct Group {
    std::vector<const CMyNode*> nodes;  // while the group is tested in m_current
    std::unique_ptr<Table> own;         // once it came back
  };

  // The key kept views the group's first node, which stays listed (`n` may
  // be refused and freed, but never as a group's first). A new group's
  // table is sized for twice as many nodes as the group made before it held
  // (a file's categories are alike), so that it seldom grows and its
  // look-ups seldom go past a taken slot. Not the group used last: between
  // two categories' items that is the categories' own, as large as the file
  // has categories.
  void Switch(const Key& key) {
    auto group = m_groups.find(key);
    if (group == m_groups.end()) {
      size_t expected = m_groups.empty() ? 0 : std::min<size_t>(2 * m_current.Count(), kMostExpected);
      group = m_groups.emplace(key, Group()).first;
      group->second.nodes.reserve(expected / 2 + 1);
      m_current.Clear(expected);
      m_table = &m_current;
    } else {
      Group& g = group->second;
      if (!g.own) {
        g.own.reset(new Table(g.nodes.size() + 1));
        // With the parent they came with (an item joins its category after the test).
        for (const CMyNode* n : g.nodes) g.own->Insert(n, group->first.parent);
        std::vector<const CMyNode*>().swap(g.nodes);
      }
      m_table = g.own.get();
    }
    m_lastKey = group->first;
    m_last = &group->second;
  }

  static constexpr size_t kMostExpected = 1024;
  std::unordered_map<Key, Group, KeyHash> m_groups;  // its values stay where they are
  Table m_current;                                   // the table of the newest group
  Table* m_table = nullptr;                          // the last group's table
  Key m_lastKey{};
  Group* m_last = nullptr;
};

}  // namespace

struct CMyNodeList::CLoader::State {
  size_t start;  // the first node added
  CGroupedLoadedIndex seen;
  // The first category (kind 0) of each name in list order; the names are
  // not changed while it is in use.
  std::unordered_map<std::string_view, CMyNode*> firstCategory;
  // The category the last item joined, by its name as the table keeps it: a
  // file lists a category's items together, and the next item's parent
  // name is compared with it instead of hashed and looked up.
  std::string_view lastName;
  CMyNode* lastCategory = nullptr;
  // Items whose category was not listed yet when they came.
  std::vector<CMyNode*> waiting;
  bool finished = false;
  explicit State(size_t first) : start(first) {}
};

CMyNodeList::CLoader::CLoader(CMyNodeList& list, size_t expected)
    : m_list(list), m_state(new State(list.m_nodes.size())) {
  m_list.m_nodes.reserve(m_list.m_nodes.size() + expected);
  for (CMyNode* n : m_list.m_nodes) {
    m_state->seen.Insert(n);
    if (n->m_nKind == UrlCategory) m_state->firstCategory.emplace(n->m_strName, n);
  }
}

CMyNodeList::CLoader::~CLoader() {
  if (m_state->finished) return;
  std::vector<CMyNode*>& nodes = m_list.m_nodes;
  for (size_t i = m_state->start; i < nodes.size(); ++i) delete nodes[i];
  nodes.resize(m_state->start);
  m_list.ForgetAddIndex();
}

void CMyNodeList::CLoader::Add(CMyNode* node) {
  if (!m_state->seen.Insert(node)) {
    delete node;
    return;
  }
  m_list.Append(node);
  // A category listed already is the first of its name for good: the item
  // joins it now, while the item is at hand.
  if (node->m_nKind == UrlCategory) {
    m_state->firstCategory.emplace(node->m_strName, node);
  } else if (node->m_nKind == UrlItem) {
    State& st = *m_state;
    if (st.lastCategory && node->m_strParentName == st.lastName) {
      node->m_pParent = st.lastCategory;
      return;
    }
    auto it = st.firstCategory.find(node->m_strParentName);
    if (it != st.firstCategory.end()) {
      node->m_pParent = it->second;
      st.lastName = it->first;
      st.lastCategory = it->second;
    } else {
      st.waiting.push_back(node);
    }
  }
}

void CMyNodeList::CLoader::Finish() {
  std::unordered_set<const CMyNode*> orphans;
  for (CMyNode* n : m_state->waiting) {
    auto it = m_state->firstCategory.find(n->m_strParentName);
    if (it != m_state->firstCategory.end())
      n->m_pParent = it->second;
    else
      orphans.insert(n);
  }
  m_state->finished = true;
  if (orphans.empty()) return;
  // Only the new items without a category go; nothing listed before.
  std::vector<CMyNode*>& nodes = m_list.m_nodes;
  size_t keep = m_state->start;
  for (size_t i = m_state->start; i < nodes.size(); ++i) {
    if (orphans.count(nodes[i]))
      delete nodes[i];
    else
      nodes[keep++] = nodes[i];
  }
  nodes.resize(keep);
  m_list.ForgetAddIndex();
}

void CMyNodeList::MergeLoadedNodes(const std::vector<CMyNode*>& nodes) {
  CLoader loader(*this, nodes.size());
  for (CMyNode* n : nodes) loader.Add(n);
  loader.Finish();
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

template <class Pred>
void CMyNodeList::DeleteWhere(Pred gone) {
  size_t keep = 0;
  for (CMyNode* n : m_nodes) {
    if (gone(*n))
      delete n;
    else
      m_nodes[keep++] = n;
  }
  m_nodes.resize(keep);
  ForgetAddIndex();
}

void CMyNodeList::DeleteKind(int kind) {
  DeleteWhere([kind](const CMyNode& n) { return n.m_nKind == kind; });
}

void CMyNodeList::DeleteMarked() {
  DeleteWhere([](const CMyNode& n) { return n.m_strName == kDeleteMark; });
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

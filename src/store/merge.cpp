#include "store/merge.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/web_import.h"

const char kOtherMachineMark[] = " (另一台电脑)";

namespace {

// Length of the code page 936 character at s[i].
size_t CharLen(const std::string& s, size_t i) {
  unsigned char c = (unsigned char)s[i];
  return (c >= 0x81 && c <= 0xFE && i + 1 < s.size()) ? 2 : 1;
}

std::string CutAtCharacter(const std::string& s, size_t limit) {
  size_t end = 0;
  while (end < s.size()) {
    size_t n = CharLen(s, end);
    if (end + n > limit) break;
    end += n;
  }
  return s.substr(0, end);
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string ParentName(const CMyNode* n) { return n->m_pParent ? n->m_pParent->m_strName : n->m_strParentName; }

// One tree as the merge reads it: its categories (the first of each name)
// and the items whose category it holds, each with its place in the list.
struct Tree {
  struct Node {
    const CMyNode* node;
    std::string cat;  // items: the category's name
    int order;
  };
  std::vector<Node> cats, items;
  std::unordered_map<std::string, size_t> catByName;

  explicit Tree(const CMyNodeList* list) {
    if (!list) return;
    int order = 0;
    for (const CMyNode* n : *list) {
      ++order;
      if (n->m_nKind == UrlCategory && catByName.emplace(n->m_strName, cats.size()).second)
        cats.push_back({n, std::string(), order});
    }
    order = 0;
    for (const CMyNode* n : *list) {
      ++order;
      if (n->m_nKind != UrlItem) continue;
      std::string cat = ParentName(n);
      if (catByName.count(cat)) items.push_back({n, cat, order});  // loading drops the others too
    }
  }
  const CMyNode* Cat(const std::string& name) const {
    auto it = catByName.find(name);
    return it == catByName.end() ? nullptr : cats[it->second].node;
  }
  int CatOrder(const std::string& name) const {
    auto it = catByName.find(name);
    return it == catByName.end() ? 0 : cats[it->second].order;
  }
};

// Pairs the items of `a` with those of `b`: equal category, address and
// name first, then equal category and address, then (with `moves`) the
// address alone, each time the first unpaired one in list order.
void PairItems(const Tree& a, const Tree& b, bool moves, std::vector<int>& aToB, std::vector<int>& bToA) {
  aToB.assign(a.items.size(), -1);
  bToA.assign(b.items.size(), -1);
  auto pass = [&](std::string (*key)(const Tree::Node&)) {
    std::unordered_map<std::string, std::vector<int>> open;
    for (int j = (int)b.items.size() - 1; j >= 0; --j)
      if (bToA[j] < 0) {
        std::string k = key(b.items[j]);
        if (!k.empty()) open[k].push_back(j);
      }
    for (size_t i = 0; i < a.items.size(); ++i) {
      if (aToB[i] >= 0) continue;
      std::string k = key(a.items[i]);
      auto it = k.empty() ? open.end() : open.find(k);
      if (it == open.end() || it->second.empty()) continue;
      int j = it->second.back();
      it->second.pop_back();
      aToB[i] = j;
      bToA[j] = (int)i;
    }
  };
  pass([](const Tree::Node& x) { return x.cat + '\n' + x.node->m_strAddress + '\n' + x.node->m_strName; });
  pass([](const Tree::Node& x) { return x.cat + '\n' + x.node->m_strAddress; });
  if (moves) pass([](const Tree::Node& x) { return x.node->m_strAddress; });
}

// One node of the result before it is placed.
struct Out {
  CMyNode node;
  std::string cat;     // items: the category's name
  int64_t order = 0;   // its place in the result's list
  bool local = false;  // stands for a node this machine had
  bool copy = false;   // the other machine's copy of a node changed on both sides
};

// The remote tree's order comes first, so that a machine that changed
// nothing ends with exactly the server's tree; what only this machine has
// follows, then what only the base still holds.
int64_t RemoteOrder(int order) { return (int64_t)order * 2; }
int64_t LocalOrder(int order) { return ((int64_t)1 << 40) + (int64_t)order * 2; }
int64_t BaseOrder(int order) { return ((int64_t)1 << 41) + (int64_t)order * 2; }

// The three-way choice of one field: the side that changed it wins; both
// changed it differently: this machine's, and `conflict` says so.
template <class T>
T Pick(const T* b, const T& l, const T& r, bool& conflict) {
  if (l == r) return l;
  if (b && *b == l) return r;
  if (b && *b == r) return l;
  conflict = true;
  return l;
}

CMyNode Fields(const CMyNode* n) {
  CMyNode f(*n);
  f.m_pParent = nullptr;
  f.m_strParentName.clear();
  return f;
}

class CMerge {
 public:
  CMerge(const CMyNodeList* base, const CMyNodeList& local, const CMyNodeList& remote)
      : B(base), L(&local), R(&remote) {}

  MergeCounts Run(CMyNodeList& out) {
    MergeItems();
    MergeCategories();
    NameCopies();
    Place(out);
    return m_counts;
  }

 private:
  // ---- items ----
  void MergeItems() {
    std::vector<int> lToB, bToL, rToB, bToR, lToR, rToL;
    PairItems(L, B, true, lToB, bToL);
    PairItems(R, B, true, rToB, bToR);
    for (size_t i = 0; i < B.items.size(); ++i)
      Item(&B.items[i], bToL[i] >= 0 ? &L.items[bToL[i]] : nullptr, bToR[i] >= 0 ? &R.items[bToR[i]] : nullptr);
    // What is new on both sides: paired with each other on category and
    // address (an address new in two categories is two items).
    Tree newL(nullptr), newR(nullptr);
    std::vector<size_t> fromL, fromR;
    for (size_t i = 0; i < L.items.size(); ++i)
      if (lToB[i] < 0) newL.items.push_back(L.items[i]), fromL.push_back(i);
    for (size_t i = 0; i < R.items.size(); ++i)
      if (rToB[i] < 0) newR.items.push_back(R.items[i]), fromR.push_back(i);
    PairItems(newL, newR, false, lToR, rToL);
    for (size_t i = 0; i < newL.items.size(); ++i)
      Item(nullptr, &newL.items[i], lToR[i] >= 0 ? &newR.items[lToR[i]] : nullptr);
    for (size_t i = 0; i < newR.items.size(); ++i)
      if (rToL[i] < 0) Item(nullptr, nullptr, &newR.items[i]);
  }

  // Edits that a deletion on the other side does not undo.
  static bool Edited(const Tree::Node& b, const Tree::Node& x) {
    return x.node->m_strName != b.node->m_strName || x.node->m_strNote != b.node->m_strNote || x.cat != b.cat ||
           x.node->m_bScript != b.node->m_bScript;
  }

  void Keep(const Tree::Node& x, bool local, int64_t order) {
    Out o;
    o.node = Fields(x.node);
    o.cat = x.cat;
    o.order = order;
    o.local = local;
    m_items.push_back(std::move(o));
  }

  void Item(const Tree::Node* b, const Tree::Node* l, const Tree::Node* r) {
    if (l && !r) {
      if (b && !Edited(*b, *l)) {
        ++m_counts.removed;  // the other machine deleted it
        return;
      }
      Keep(*l, true, LocalOrder(l->order));
      return;
    }
    if (r && !l) {
      if (b && !Edited(*b, *r)) return;  // deleted here
      Keep(*r, false, RemoteOrder(r->order));
      return;
    }
    if (!l) return;  // deleted on both sides
    const CMyNode *bn = b ? b->node : nullptr, *ln = l->node, *rn = r->node;
    bool twice = false, other = false;
    Out o;
    o.node = Fields(ln);
    o.order = RemoteOrder(r->order);
    o.local = true;
    o.node.m_strName = Pick(bn ? &bn->m_strName : nullptr, ln->m_strName, rn->m_strName, twice);
    o.node.m_strNote = Pick(bn ? &bn->m_strNote : nullptr, ln->m_strNote, rn->m_strNote, twice);
    o.cat = Pick(b ? &b->cat : nullptr, l->cat, r->cat, twice);
    if (twice) {
      // Both versions, each as its side left it.
      Keep(*l, true, RemoteOrder(r->order));
      Keep(*r, false, RemoteOrder(r->order) + 1);
      m_items.back().copy = true;
      ++m_counts.keptTwice;
      return;
    }
    o.node.m_nSlot = Pick(bn ? &bn->m_nSlot : nullptr, ln->m_nSlot, rn->m_nSlot, other);
    o.node.m_strIconPath = Pick(bn ? &bn->m_strIconPath : nullptr, ln->m_strIconPath, rn->m_strIconPath, other);
    o.node.m_strCircle = Pick(bn ? &bn->m_strCircle : nullptr, ln->m_strCircle, rn->m_strCircle, other);
    o.node.m_bScript = Pick(bn ? &bn->m_bScript : nullptr, ln->m_bScript, rn->m_bScript, other);
    o.node.m_nVisits = Visits(bn, ln, rn);
    m_items.push_back(std::move(o));
  }

  // What each machine added to the base's count; without a base the two
  // counts may hold the same visits, so the larger stands.
  static int32_t Visits(const CMyNode* b, const CMyNode* l, const CMyNode* r) {
    int64_t visits = b ? (int64_t)l->m_nVisits + r->m_nVisits - b->m_nVisits : std::max<int64_t>(l->m_nVisits, r->m_nVisits);
    return (int32_t)std::min<int64_t>(std::max<int64_t>(visits, 0), std::numeric_limits<int32_t>::max());
  }

  // ---- categories ----
  void MergeCategories() {
    std::unordered_set<std::string> used;  // categories the result's items live in
    for (const Out& o : m_items) used.insert(o.cat);
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const Tree* t : {&R, &L, &B})
      for (const Tree::Node& c : t->cats)
        if (seen.insert(c.node->m_strName).second) names.push_back(c.node->m_strName);
    for (const std::string& name : names) {
      const CMyNode *b = B.Cat(name), *l = L.Cat(name), *r = R.Cat(name);
      bool needed = used.count(name) != 0;
      auto changed = [&](const CMyNode* x) {
        return !b || x->m_strNote != b->m_strNote || x->m_strAddress != b->m_strAddress;
      };
      Out o;
      o.cat = name;
      o.local = l != nullptr;
      if (l && r) {
        bool other = false;
        o.node = Fields(l);
        o.node.m_strNote = Pick(b ? &b->m_strNote : nullptr, l->m_strNote, r->m_strNote, other);
        o.node.m_strAddress = Pick(b ? &b->m_strAddress : nullptr, l->m_strAddress, r->m_strAddress, other);
        o.node.m_nSlot = Pick(b ? &b->m_nSlot : nullptr, l->m_nSlot, r->m_nSlot, other);
        // Its circle joined on one machine is joined on both.
        o.node.m_strCircle = Pick(b ? &b->m_strCircle : nullptr, l->m_strCircle, r->m_strCircle, other);
        o.node.m_nVisits = Visits(b, l, r);  // a tab's clicks on both machines count
        o.order = RemoteOrder(R.CatOrder(name));
      } else if (l) {
        if (!needed && !changed(l)) {
          ++m_counts.removed;
          continue;
        }
        o.node = Fields(l);
        o.order = LocalOrder(L.CatOrder(name));
      } else if (r) {
        if (!needed && !changed(r)) continue;
        o.node = Fields(r);
        o.order = RemoteOrder(R.CatOrder(name));
      } else {
        if (!needed) continue;
        o.node = Fields(b);  // both deleted it, but an item edited on one side lives in it
        o.order = BaseOrder(B.CatOrder(name));
      }
      m_cats.push_back(std::move(o));
    }
  }

  // ---- the other machine's copies get names no other item of their
  // category and address has; a copy that an earlier merge made already
  // (the same name and note there) is not made twice ----
  void NameCopies() {
    auto key = [](const Out& o) { return o.cat + '\n' + o.node.m_strAddress + '\n' + o.node.m_strName; };
    std::unordered_map<std::string, const Out*> taken;
    for (const Out& o : m_items)
      if (!o.copy) taken.emplace(key(o), &o);
    std::vector<Out> kept;
    for (Out& o : m_items) {
      if (o.copy) {
        std::string name = o.node.m_strName;
        o.node.m_strName = OtherMachineName(name, 1);
        auto there = taken.find(key(o));
        if (there != taken.end() && there->second->node.m_strNote == o.node.m_strNote) {
          --m_counts.keptTwice;
          continue;
        }
        for (int n = 2; there != taken.end(); ++n) {
          o.node.m_strName = OtherMachineName(name, n);
          there = taken.find(key(o));
        }
        taken.emplace(key(o), nullptr);
      }
      kept.push_back(std::move(o));
    }
    m_items.swap(kept);
  }

  // ---- within the limits ----
  void Place(CMyNodeList& out) {
    auto byOrder = [](const Out* a, const Out* b) { return a->order < b->order; };
    std::vector<Out*> cats, items;
    for (Out& o : m_cats) cats.push_back(&o);
    for (Out& o : m_items) items.push_back(&o);
    std::stable_sort(cats.begin(), cats.end(), byOrder);
    std::stable_sort(items.begin(), items.end(), byOrder);

    // Tabs: each category keeps its own when it is free, then the others
    // take the free ones in order.
    std::vector<bool> tabs(kCategorySlots, false);
    std::vector<Out*> homeless;
    for (Out* c : cats) {
      int s = c->node.m_nSlot;
      if (s >= 0 && s < kCategorySlots && !tabs[s])
        tabs[s] = true;
      else
        homeless.push_back(c);
    }
    std::unordered_map<std::string, CMyNode*> placed;
    std::unordered_map<const Out*, CMyNode*> made;
    for (Out* c : homeless) {
      auto free = std::find(tabs.begin(), tabs.end(), false);
      if (free == tabs.end()) {
        c->order = -1;  // no tab: its items try the overflow categories
        ++m_counts.notPlaced;
        continue;
      }
      *free = true;
      c->node.m_nSlot = (int)(free - tabs.begin());
    }
    for (Out* c : cats) {
      if (c->order < 0) continue;
      CMyNode* n = new CMyNode(c->node);
      made[c] = n;
      placed[c->cat] = n;
      if (!c->local) ++m_counts.added;
    }
    // Buttons: each item keeps its own when it is free in its category; the
    // rest go on through the importers' placing (first free button, then
    // "name2", "name3"…).
    std::unordered_map<std::string, uint32_t> buttons;
    std::vector<Out*> later;
    for (Out* i : items) {
      auto cat = placed.find(i->cat);
      int s = i->node.m_nSlot;
      uint32_t& taken = buttons[i->cat];
      if (cat == placed.end() || s < 0 || s >= kItemSlots || (taken & (1u << s))) {
        later.push_back(i);
        continue;
      }
      taken |= 1u << s;
      CMyNode* n = new CMyNode(i->node);
      n->m_nKind = UrlItem;
      n->m_pParent = cat->second;
      made[i] = n;
    }
    std::vector<Out*> all;
    for (Out* c : cats)
      if (made.count(c)) all.push_back(c);
    for (Out* i : items)
      if (made.count(i)) all.push_back(i);
    std::stable_sort(all.begin(), all.end(), byOrder);
    std::vector<CMyNode*> nodes;
    nodes.reserve(all.size());
    for (Out* o : all) nodes.push_back(made[o]);
    out.AddNodes(nodes);
    for (Out* i : items)
      if (made.count(i) && !i->local && !i->copy) ++m_counts.added;

    CWebImport place(out);
    for (Out* i : later) {
      int before = place.NotImported();
      CMyNode* n = new CMyNode(i->node);
      if (place.AddLink(place.Folder(i->cat), n)) {
        if (!i->local && !i->copy) ++m_counts.added;
      } else if (place.NotImported() > before) {
        ++m_counts.notPlaced;
      }
    }
  }

  Tree B, L, R;
  std::vector<Out> m_items, m_cats;
  MergeCounts m_counts;
};

}  // namespace

std::string OtherMachineName(const std::string& name, int number) {
  std::string mark = kOtherMachineMark;
  if (number > 1) mark.insert(mark.size() - 1, std::to_string(number));
  std::string stem = name;
  // A copy of a copy carries one mark, not two.
  if (EndsWith(stem, kOtherMachineMark)) stem.resize(stem.size() - (sizeof kOtherMachineMark - 1));
  return CutAtCharacter(stem, kMergedNameMax - mark.size()) + mark;
}

MergeCounts MergeWebFolders(const CMyNodeList* base, const CMyNodeList& local, const CMyNodeList& remote,
                            CMyNodeList& out) {
  return CMerge(base, local, remote).Run(out);
}

bool SameWebFolder(const CMyNodeList& a, const CMyNodeList& b) {
  std::vector<const CMyNode*> x, y;
  for (const CMyNode* n : a)
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem) x.push_back(n);
  for (const CMyNode* n : b)
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem) y.push_back(n);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    const CMyNode *p = x[i], *q = y[i];
    bool item = p->m_nKind == UrlItem;
    if (p->m_nKind != q->m_nKind || p->m_strName != q->m_strName || p->m_strAddress != q->m_strAddress ||
        (item && ParentName(p) != ParentName(q)) || p->m_strIconPath != q->m_strIconPath ||
        p->m_strNote != q->m_strNote || p->m_nVisits != q->m_nVisits || p->m_nSlot != q->m_nSlot ||
        p->m_strCircle != q->m_strCircle)
      return false;
  }
  return true;
}

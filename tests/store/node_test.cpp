#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <random>

#include "base/archive.h"
#include "base/cipher.h"
#include "store/node.h"

namespace {

CMyNode* Cat(const std::string& name, int kind = UrlCategory, const std::string& address = "") {
  CMyNode* n = new CMyNode(name, kind, nullptr, 0, address);
  return n;
}

CMyNode* Item(const std::string& name, const std::string& url, CMyNode* parent, int slot = 0) {
  CMyNode* n = new CMyNode;
  n->m_strName = name;
  n->m_strAddress = url;
  n->m_pParent = parent;
  n->m_nSlot = slot;
  if (parent) n->m_nKind = parent->m_nKind == ProgramCategory ? ProgramItem : UrlItem;
  return n;
}

TEST(NodeList, AddNodeDuplicateRules) {
  CMyNodeList list;
  CMyNode* a = Cat("News");
  CMyNode* b = Cat("Tools");
  ASSERT_TRUE(list.AddNode(a));
  ASSERT_TRUE(list.AddNode(b));
  // Same name and URL under different categories: both stay.
  EXPECT_EQ(1, list.AddNode(Item("sina", "http://sina.com.cn", a)));
  EXPECT_EQ(1, list.AddNode(Item("sina", "http://sina.com.cn", b)));
  // The same again under the same category is refused (and freed by the list).
  CMyNode* dup = Item("sina", "http://sina.com.cn", a);
  EXPECT_FALSE(list.AddNode(dup));
  // A web category named like a program category is another kind.
  ASSERT_TRUE(list.AddNode(Cat("桌面", ProgramCategory)));
  EXPECT_EQ(1, list.AddNode(Cat("桌面", UrlCategory)));
  CMyNode* dupCat = Cat("News", UrlCategory, "other address");
  EXPECT_FALSE(list.AddNode(dupCat));
  EXPECT_FALSE(list.AddNode(nullptr));
  EXPECT_EQ(6u, list.GetCount());
}

// The duplicate tests hash names and addresses eight bytes at a time, the
// last eight read again in part: texts of every length up to 20 that differ
// in one byte anywhere are told apart, and the same text again is refused,
// through a batch of AddNode, AddLoadedNode and a file's loader alike.
TEST(NodeList, DuplicateTestsTellTextsOfEveryLengthApart) {
  for (int way = 0; way < 3; ++way) {
    CMyNodeList list;
    CMyNode* cat = Cat("分类");
    ASSERT_TRUE(list.AddNode(cat));
    CMyNodeList::CAddBatch batch(list);
    std::unique_ptr<CMyNodeList::CLoader> loader(way == 2 ? new CMyNodeList::CLoader(list, 0) : nullptr);
    auto add = [&](int field, const std::string& text) {
      size_t before = list.GetCount();
      CMyNode* n = Item(field ? "同名" : text, field ? text : "http://同一个", loader ? nullptr : cat);
      n->m_strParentName = "分类";
      loader ? loader->Add(n) : way == 0 ? (void)list.AddNode(n) : (void)list.AddLoadedNode(n);
      return list.GetCount() > before;
    };
    for (size_t len = 1; len <= 40; ++len)  // the hash takes sixteen bytes a step, and the last sixteen
      for (int field = 0; field < 2; ++field) {
        std::string text(len, 'a');
        for (size_t at = 0; at <= len; ++at) {  // at == len: the text itself
          std::string other = text;
          if (at < len) other[at] = 'b';
          EXPECT_TRUE(add(field, other)) << way << " " << len << " " << at;
        }
        EXPECT_FALSE(add(field, text)) << way << " " << len;
      }
    if (loader) loader->Finish();
    EXPECT_EQ(1u + 2 * (40 + 820), list.GetCount()) << way;
  }
}

// References let go in any order, first, last or between others, and the
// rest still follow the node to its end.
TEST(NodeRef, AnyReferenceMayLetGoFirst) {
  CMyNode* node = Cat("n");
  CNodeRef a = node, b = node, c = node, d = node;
  c.Reset();
  { CNodeRef e = node; }
  b.Reset();
  EXPECT_EQ(node, a.Get());
  EXPECT_EQ(node, d.Get());
  delete node;
  EXPECT_FALSE(a);
  EXPECT_FALSE(d);
}

TEST(NodeRef, FollowsItsNodeUntilTheNodeIsDeleted) {
  CMyNode* node = Cat("News");
  CNodeRef a = node;
  CNodeRef b(a), c;
  EXPECT_EQ(node, a.Get());
  EXPECT_EQ(node, static_cast<CMyNode*>(b));
  EXPECT_FALSE(c);
  EXPECT_EQ("News", a->m_strName);
  {
    CNodeRef inner = node;  // gone before the node: it unhooks itself
    c = inner;
  }
  CNodeRef self = node;
  self = self;
  // A copy of the node is another node, watched by nobody.
  CMyNode copy(*node);
  CNodeRef onCopy = &copy;
  copy = *node;
  EXPECT_EQ(&copy, onCopy.Get());
  delete node;
  EXPECT_FALSE(a);
  EXPECT_FALSE(b);
  EXPECT_FALSE(c);
  EXPECT_FALSE(self);
  EXPECT_EQ(&copy, onCopy.Get());
  // Pointed elsewhere, a reference leaves its old node's watchers.
  CMyNode* one = Cat("one");
  CMyNode* two = Cat("two");
  CNodeRef r = one, s = one;
  r = two;
  s = nullptr;
  delete one;
  EXPECT_EQ(two, r.Get());
  delete two;
  EXPECT_FALSE(r);
}

// Every way a list frees a node leaves no reference to it; a node the list
// gives up without freeing keeps its references.
TEST(NodeRef, EveryNodeTheListFreesLeavesNoReference) {
  CMyNodeList list;
  CMyNode* news = Cat("News");
  ASSERT_TRUE(list.AddNode(news));
  CMyNode* dup = Cat("News");
  CNodeRef refused = dup;
  EXPECT_FALSE(list.AddNode(dup));
  EXPECT_FALSE(refused) << "a refused node is freed by the list";

  CMyNode* loaded = Item("x", "http://x", nullptr);
  CMyNode* loadedAgain = Item("x", "http://x", nullptr);
  ASSERT_TRUE(list.AddLoadedNode(loaded));
  refused = loadedAgain;
  EXPECT_FALSE(list.AddLoadedNode(loadedAgain));
  EXPECT_FALSE(refused);

  for (int s = 0; s < 30; ++s) ASSERT_TRUE(list.AddNode(Item("i" + std::to_string(s), "u", news, s)));
  CMyNode* noRoom = Item("full", "u", news, 0);
  refused = noRoom;
  EXPECT_FALSE(list.AddItemAtFreeSlot(noRoom));
  EXPECT_FALSE(refused) << "an item with no free slot is freed too";

  CMyNode* twin = Cat("News");
  refused = twin;
  EXPECT_EQ(0, list.AddNodes({twin}));
  EXPECT_FALSE(refused);

  CMyNode* orphan = Item("orphan", "http://o", nullptr);
  orphan->m_strParentName = "nowhere";
  refused = orphan;
  list.MergeLoadedNodes({orphan});
  EXPECT_FALSE(refused) << "an item without its category is dropped";
  CMyNode* held = Cat("News");
  refused = held;
  list.MergeLoadedNodes({held});
  EXPECT_FALSE(refused) << "a record the list holds already is not merged again";

  CMyNode* program = Cat("桌面", ProgramCategory);
  ASSERT_TRUE(list.AddNode(program));
  CNodeRef kept = program, item = list.FindNode("i3", UrlItem), category = news;
  list.DeleteKind(UrlItem);
  EXPECT_FALSE(item);
  EXPECT_TRUE(category);
  news->m_strName = kDeleteMark;
  list.DeleteMarked();
  EXPECT_FALSE(category);
  EXPECT_EQ(program, kept.Get());

  ASSERT_TRUE(list.RemoveNode(program));
  EXPECT_EQ(program, kept.Get()) << "taken out, not freed";
  ASSERT_TRUE(list.AddNode(program));
  std::unique_ptr<CMyNodeList> other(new CMyNodeList);
  CNodeRef last = Cat("last");
  ASSERT_TRUE(other->AddNode(last));
  list.DeleteAll();
  EXPECT_FALSE(kept);
  EXPECT_TRUE(last);
  other.reset();
  EXPECT_FALSE(last) << "the list's destructor frees its nodes";
}

TEST(NodeList, AddNodeGivesStockIconAndCleansNote) {
  CMyNodeList list;
  list.m_strBaseDir = "C:\\Qimbo\\";
  CMyNode* c = Cat("News");
  list.AddNode(c);
  CMyNode* i = Item("x", "http://x", c, 7);
  i->m_strNote = "<>abc<>";
  ASSERT_TRUE(list.AddNode(i));
  EXPECT_EQ("C:\\Qimbo\\images\\icon\\ieicon\\IE XP2.ico", i->m_strIconPath);
  EXPECT_EQ("abc", i->m_strNote);
  // A negative slot counts as unsigned, as the program always did.
  CMyNode* neg = Item("y", "http://y", c, -1);
  list.AddNode(neg);
  EXPECT_EQ("C:\\Qimbo\\images\\icon\\ieicon\\IE XP0.ico", neg->m_strIconPath);  // 4294967295 % 5
  // Program items and icons already set are left alone.
  CMyNode* own = Item("z", "http://z", c, 3);
  own->m_strIconPath = "D:\\z.ico";
  list.AddNode(own);
  EXPECT_EQ("D:\\z.ico", own->m_strIconPath);
  CMyNode* pc = Cat("Games", ProgramCategory);
  list.AddNode(pc);
  CMyNode* pi = Item("a.lnk", "C:\\g\\", pc);
  list.AddNode(pi);
  EXPECT_EQ("", pi->m_strIconPath);
}

TEST(NodeList, AddLoadedNodeComparesStagingParentName) {
  CMyNodeList list;
  CMyNode* a = Item("x", "http://x", nullptr);
  a->m_strParentName = "A";
  CMyNode* b = Item("x", "http://x", nullptr);
  b->m_strParentName = "B";
  CMyNode* c = Item("x", "http://x", nullptr);
  c->m_strParentName = "A";
  c->m_strNote = "n<>";
  EXPECT_EQ(1, list.AddLoadedNode(a));
  EXPECT_TRUE(list.AddLoadedNode(b));
  EXPECT_FALSE(list.AddLoadedNode(c));
  EXPECT_EQ("", a->m_strIconPath);  // no stock icon while loading
  CMyNode other;  // the same fields under another parent node: another node
  CMyNode* d = Item("x", "http://x", &other);
  d->m_strParentName = "A";
  EXPECT_TRUE(list.AddLoadedNode(d));
  EXPECT_EQ(0, list.AddLoadedNode(nullptr));
  EXPECT_EQ(3u, list.GetCount());
}

// AddLoadedNode looks nodes up in an index while nodes come only through
// it; any other change of the list makes it compare with what is listed now.
TEST(NodeList, AddLoadedNodeAfterOtherChangesComparesWithTheListAsItIs) {
  CMyNodeList list;
  CMyNode* cat = Cat("c");
  ASSERT_TRUE(list.AddNode(cat));
  CMyNode* a = Item("a", "http://a", cat);
  ASSERT_TRUE(list.AddLoadedNode(a));
  ASSERT_TRUE(list.AddLoadedNode(Item("b", "http://b", cat)));
  EXPECT_FALSE(list.AddLoadedNode(Item("a", "http://a", cat)));
  // Renamed, then the list changes: the node is found by its new name only.
  a->m_strName = "a2";
  ASSERT_TRUE(list.AddNode(Cat("d")));
  EXPECT_FALSE(list.AddLoadedNode(Item("a2", "http://a", cat)));
  EXPECT_TRUE(list.AddLoadedNode(Item("a", "http://a", cat)));
  // A node added by AddNode is compared with too.
  ASSERT_TRUE(list.AddNode(Item("e", "http://e", cat)));
  EXPECT_FALSE(list.AddLoadedNode(Item("e", "http://e", cat)));
  // A moved item is compared under its new category.
  CMyNode* d = list.FindNode("d", UrlCategory);
  ASSERT_TRUE(list.MoveItemToCategory(list.FindNode("b", UrlItem), d));
  EXPECT_FALSE(list.AddLoadedNode(Item("b", "http://b", d)));
  EXPECT_TRUE(list.AddLoadedNode(Item("b", "http://b", cat)));
  // Nodes that left the list are not.
  ASSERT_TRUE(list.RemoveNode(a));
  delete a;
  EXPECT_TRUE(list.AddLoadedNode(Item("a2", "http://a", cat)));
  list.DeleteKind(UrlItem);
  EXPECT_TRUE(list.AddLoadedNode(Item("b", "http://b", cat)));
  EXPECT_EQ(3u, list.GetCount());
}

TEST(NodeList, AHundredThousandLoadedAddsTakeTimeInProportion) {
  // A download adds node by node; each compared with every listed node took minutes.
  CMyNodeList list;
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(list.AddLoadedNode(Cat("c")));
  for (int i = 0; i < 100000; ++i) {
    CMyNode* n = Item("site " + std::to_string(i), "http://x/", nullptr);
    n->m_strParentName = "c";
    ASSERT_TRUE(list.AddLoadedNode(n));
  }
  CMyNode* again = Item("site 99999", "http://x/", nullptr);
  again->m_strParentName = "c";
  EXPECT_FALSE(list.AddLoadedNode(again));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 30.0);
  EXPECT_EQ(100001u, list.GetCount());
}

// Reading a file node by node: a node listed before the load is never
// dropped by it (not even one named as the program once marked nodes to
// drop), and a loader that does not finish leaves the list as it was.
TEST(NodeList, ALoaderTouchesOnlyWhatItAdded) {
  CMyNodeList list;
  CMyNode* news = Cat("News");
  ASSERT_TRUE(list.AddNode(news));
  CMyNode* marked = Item(kDeleteMark, "http://m", news);
  ASSERT_TRUE(list.AddNode(marked));
  {
    CMyNodeList::CLoader loader(list, 4);
    CMyNode* item = Item("a", "http://a", nullptr);
    item->m_strParentName = "News";
    loader.Add(item);
    CMyNode* orphan = Item("o", "http://o", nullptr);
    orphan->m_strParentName = "none";
    loader.Add(orphan);
    CMyNode* named = Item(kDeleteMark, "http://n", nullptr);
    named->m_strParentName = "Late";
    loader.Add(named);
    loader.Add(Cat("Late"));  // the category after its item
    CMyNode* twice = Item("a", "http://a", nullptr);  // back to News, refused
    twice->m_strParentName = "News";
    loader.Add(twice);
    CMyNode* next = Item("c", "http://c", nullptr);
    next->m_strParentName = "News";
    loader.Add(next);
    loader.Finish();
    EXPECT_EQ(news, next->m_pParent);
    EXPECT_EQ(news, item->m_pParent) << "joins the category listed before";
    EXPECT_EQ(list.FindNode("Late", UrlCategory), named->m_pParent);
  }
  ASSERT_EQ(6u, list.GetCount());
  EXPECT_EQ(marked, list.GetAt(1));
  EXPECT_EQ(std::string(kDeleteMark), list.GetAt(3)->m_strName);
  EXPECT_EQ(nullptr, list.FindNode("o", UrlItem));
  auto unfinished = std::make_unique<CMyNodeList::CLoader>(list, 2);
  unfinished->Add(Cat("Other"));
  CMyNode* item = Item("b", "http://b", nullptr);
  item->m_strParentName = "News";
  CNodeRef ref = item;
  unfinished->Add(item);
  EXPECT_EQ(8u, list.GetCount());
  unfinished.reset();
  EXPECT_FALSE(ref) << "what it added is freed";
  EXPECT_EQ(6u, list.GetCount());
  EXPECT_EQ(marked, list.GetAt(1));
}

TEST(NodeList, SlotsAndMoves) {
  CMyNodeList list;
  CMyNode* a = Cat("A");
  CMyNode* b = Cat("B");
  a->m_nSlot = 5;
  b->m_nSlot = 2;
  list.AddNode(a);
  list.AddNode(b);
  CMyNode* c = Cat("C");
  c->m_nSlot = 2;
  list.AddNode(c);
  EXPECT_EQ(b, list.FirstNodeBySlot(UrlCategory));  // lowest slot, first in list order
  EXPECT_EQ(nullptr, list.FirstNodeBySlot(ProgramCategory));
  b->m_nSlot = 44;  // outside the 44 tabs
  c->m_nSlot = -1;
  EXPECT_EQ(a, list.FirstNodeBySlot(UrlCategory));
  a->m_nSlot = -1;
  EXPECT_EQ(nullptr, list.FirstNodeBySlot(UrlCategory)) << "slot 44 alone is no tab";
  a->m_nSlot = 5;
  c->m_nSlot = 0;  // the first tab counts; the last one, 43, too
  EXPECT_EQ(c, list.FirstNodeBySlot(UrlCategory));
  c->m_nSlot = -1;
  a->m_nSlot = 43;
  EXPECT_EQ(a, list.FirstNodeBySlot(UrlCategory));
  a->m_nSlot = 5;

  {
    // Program tabs run to 43 as well; item buttons to 29 only.
    CMyNodeList kinds;
    CMyNode* p = Cat("P", ProgramCategory);
    p->m_nSlot = 43;
    kinds.AddNode(p);
    EXPECT_EQ(p, kinds.FirstNodeBySlot(ProgramCategory));
    CMyNode* item = Item("i", "u", p, 30);
    kinds.AddNode(item);
    EXPECT_EQ(nullptr, kinds.FirstNodeBySlot(ProgramItem));
    item->m_nSlot = 29;
    EXPECT_EQ(item, kinds.FirstNodeBySlot(ProgramItem));
  }

  for (int s = 0; s < 30; ++s)
    if (s != 4) list.AddNode(Item("i" + std::to_string(s), "u", a, s));
  EXPECT_EQ(4, list.FirstFreeItemSlot(a));
  {
    // The last slot, 29, when it is the only free one; slots outside 0..29 take none.
    CMyNodeList full;
    CMyNode* d = Cat("D");
    full.AddNode(d);
    for (int s = -1; s < 29; ++s) full.AddNode(Item("j" + std::to_string(s), "u", d, s));
    full.AddNode(Item("j30", "u", d, 30));
    EXPECT_EQ(29, full.FirstFreeItemSlot(d));
    EXPECT_EQ(1, full.IsSlotFree(29, d));
    EXPECT_FALSE(full.IsSlotFree(0, d));
  }
  EXPECT_FALSE(list.IsSlotFree(3, a));
  EXPECT_TRUE(list.IsSlotFree(3, b));
  EXPECT_EQ(29, list.CountChildren(a));
  EXPECT_EQ(3, list.CountKind(UrlCategory));

  CMyNode* moving = Item("m", "u", b, 3);
  list.AddNode(moving);
  ASSERT_EQ(1, list.MoveItemToCategory(moving, a));  // slot 3 is taken: takes 4
  EXPECT_EQ(a, moving->m_pParent);
  EXPECT_EQ(4, moving->m_nSlot);
  EXPECT_EQ(-1, list.FirstFreeItemSlot(a));
  CMyNode* other = Item("o", "u", b, 9);
  list.AddNode(other);
  EXPECT_FALSE(list.MoveItemToCategory(other, a));  // full: nothing changes
  EXPECT_EQ(b, other->m_pParent);
  EXPECT_EQ(9, other->m_nSlot);
  EXPECT_FALSE(list.MoveItemToCategory(nullptr, a));

  CMyNode* atFree = Item("f", "u", b, 17);
  ASSERT_TRUE(list.AddItemAtFreeSlot(atFree));
  EXPECT_EQ(0, atFree->m_nSlot);
  CMyNode* noRoom = Item("g", "u", a, 0);
  EXPECT_FALSE(list.AddItemAtFreeSlot(noRoom));
  EXPECT_EQ(0, list.AddItemAtFreeSlot(nullptr));
  EXPECT_EQ(0, list.MoveItemToCategory(atFree, nullptr));
  EXPECT_EQ(b, atFree->m_pParent);
  ASSERT_TRUE(list.MoveItemToCategory(other, c));  // its slot is free there: kept
  EXPECT_EQ(c, other->m_pParent);
  EXPECT_EQ(9, other->m_nSlot);
  CMyNode* second = Item("s", "u", b, 9);
  list.AddNode(second);
  ASSERT_TRUE(list.MoveItemToCategory(second, c));  // slot 9 is taken there: the first free one
  EXPECT_EQ(c, second->m_pParent);
  EXPECT_EQ(0, second->m_nSlot);

  ASSERT_EQ(1, list.RemoveNode(other));
  EXPECT_EQ(0, list.RemoveNode(other));
  delete other;
}

TEST(CleanName, Examples) {
  EXPECT_EQ("my sitehome", CleanName("My Site - Home.url"));
  EXPECT_EQ("a-b", CleanName("a\xA1\xAA" "b"));
  EXPECT_EQ("a\xA1\xA2\xA1\xA9\xA1\xAB" "b", CleanName("a\xA1\xA2\xA1\xA9\xA1\xAB" "b"));  // its neighbours stay
  EXPECT_EQ("a\xB0\xAA" "b", CleanName("a\xB0\xAA" "b"));  // and so does another lead byte before AA
  EXPECT_EQ("page12", CleanName("page1.2"));
  EXPECT_EQ("abc", CleanName("A*\"\\/><:?|bC"));
  EXPECT_EQ("azaz", CleanName("AZaz")) << "both ends of the capitals";
  EXPECT_EQ("\xFF" "a\x81" "B", CleanName("\xFF" "A\x81" "B")) << "0xFF leads no character; 0x81 does";
  EXPECT_EQ("ab", CleanName("a--b"));
  EXPECT_EQ("notepad", CleanName("Notepad.EXE"));
  // Three blanks: the two-blank pass leaves one.
  EXPECT_EQ("a b", CleanName("a   b"));
}

TEST(CleanName, KeepsDoubleByteCharactersWhole) {
  // Trail bytes that look like '\' or capital letters belong to their character.
  EXPECT_EQ("\x81\x5C", CleanName("\x81\x5C"));
  EXPECT_EQ("\x81\x41x", CleanName("\x81\x41X"));
  EXPECT_EQ("\xFE\x41x", CleanName("\xFE\x41X")) << "the last lead byte";
  EXPECT_EQ("\x80" "ax", CleanName("\x80" "AX")) << "0x80 leads nothing";
  // A1 AA straddling two characters (B0 A1 | AA B0) is no dash.
  EXPECT_EQ("\xB0\xA1\xAA\xB0", CleanName("\xB0\xA1\xAA\xB0"));
  EXPECT_EQ("收藏", CleanName("收藏.url"));
}

// A character the code page lacks is kept as "&#x1F600;": the rule takes the
// reference as one character and leaves it as it is (its hex digits too).
TEST(CleanName, KeepsCharacterReferencesWhole) {
  EXPECT_EQ("a&#x1F600;b", CleanName("A&#x1F600;B"));
  EXPECT_EQ("5&#x20AC; &#xD55C;", CleanName("5&#x20AC; &#xD55C;.URL"));
  EXPECT_EQ("&#x1F600;&#x1F600;", CleanName("&#x1F600;/&#x1F600;"));
  // Not a reference of the program's: cleaned like any text.
  EXPECT_EQ("&#x4e2d;", CleanName("&#x4E2D;"));
  EXPECT_EQ("&#xzz;", CleanName("&#xZZ;"));
}

TEST(NodeRecords, UploadAndCircleRecords) {
  CMyNode cat;
  cat.m_strName = "News";
  cat.m_nKind = UrlCategory;
  CMyNode n("a<b>", UrlItem, &cat, 4, "http://x");
  n.m_strIconPath = "i";
  n.m_strNote = "note<1>";
  n.m_nVisits = 3;
  EXPECT_EQ("<" + qb::EncodeText("a<b>") + "><1><" + qb::EncodeText("http://x") + "><" + qb::EncodeText("News") +
                "><" + qb::EncodeText("i") + "><note1><3><4><Reserved>",
            n.UploadRecord());
  EXPECT_EQ("<ab><1><http://x><News><note1><Reserved>", n.CircleRecord());
  EXPECT_EQ("a<b>", n.m_strName);  // built from copies

  n.m_strAddress = std::string(250, 'u');
  EXPECT_EQ("<ab><1><" + std::string(200, 'u') + "><News><note1><Reserved>", n.CircleRecord());
  // Categories send their name as the key and no parent.
  EXPECT_EQ("<News><0><News><><><Reserved>", cat.CircleRecord());
  n.m_pParent = nullptr;
  EXPECT_NE(std::string::npos, n.UploadRecord().find("><><"));
  EXPECT_EQ("<ab><1><" + std::string(200, 'u') + "><><note1><Reserved>", n.CircleRecord());
}

// A record read back is the record written; Load says 1 for a whole one and
// 0 for one cut anywhere, its last field included.
// A visit counts once and stamps the time of the visit.
TEST(NodeRecords, VisitCountsAndStampsTheTime) {
  CMyNode n(100);
  n.m_nVisits = 41;
  int64_t before = (int64_t)time(nullptr);
  n.Visit();
  int64_t after = (int64_t)time(nullptr);
  EXPECT_EQ(42, n.m_nVisits);
  EXPECT_GE(n.m_tLastVisit, before);
  EXPECT_LE(n.m_tLastVisit, after);
}

TEST(NodeRecords, LoadReadsBackWhatStoreWrote) {
  CMyNode n("新闻", UrlItem, nullptr, 0, "http://x/");
  CMyNode cat;
  cat.m_strName = "News";
  n.m_pParent = &cat;  // the parent's name is what is written
  n.m_strIconPath = "i.ico";
  n.m_strNote = "note";
  n.m_nVisits = 7;
  n.m_tLastVisit = 0xFFFFFFF0LL;
  n.m_nSlot = 2;
  n.m_strCircle = "GROUP";
  auto stored = [](const CMyNode& node) {
    qb::CMemorySink sink;
    qb::CArchiveWriter w(sink);
    node.Store(w);
    return sink.Bytes();
  };
  const std::string bytes = stored(n);
  qb::CMemorySource whole(bytes);
  qb::CArchiveReader r(whole);
  CMyNode back;
  EXPECT_EQ(1, back.Load(r));
  EXPECT_EQ("新闻", back.m_strName);
  EXPECT_EQ(UrlItem, back.m_nKind);
  EXPECT_EQ("http://x/", back.m_strAddress);
  EXPECT_EQ("News", back.m_strParentName);
  EXPECT_EQ("i.ico", back.m_strIconPath);
  EXPECT_EQ("note", back.m_strNote);
  EXPECT_EQ(7, back.m_nVisits);
  EXPECT_EQ(0xFFFFFFF0LL, back.m_tLastVisit);
  EXPECT_EQ(2, back.m_nSlot);
  EXPECT_EQ("GROUP", back.m_strCircle);
  const std::string cut = bytes.substr(0, bytes.size() - 1);
  qb::CMemorySource part(cut);
  qb::CArchiveReader r2(part);
  EXPECT_EQ(0, back.Load(r2));
  // Stored and read back into `back`.
  auto roundTrip = [&](const CMyNode& node) {
    const std::string bytes = stored(node);
    qb::CMemorySource source(bytes);
    qb::CArchiveReader reader(source);
    return back.Load(reader);
  };
  // Only a web item writes its category's name; a program item under one does not.
  n.m_nKind = ProgramItem;
  ASSERT_EQ(1, roundTrip(n));
  EXPECT_EQ("", back.m_strParentName);
  // Nor does a web item that is not (yet) under any category.
  n.m_nKind = UrlItem;
  n.m_pParent = nullptr;
  ASSERT_EQ(1, roundTrip(n));
  EXPECT_EQ("", back.m_strParentName);
  EXPECT_EQ("http://x/", back.m_strAddress);
}

std::vector<std::string> Fields(const CMyNode& n) {
  std::vector<std::string> f;
  std::string r = n.UploadRecord();
  for (size_t i = 0; i < r.size();) {
    size_t e = r.find('>', i);
    f.push_back(r.substr(i + 1, e - i - 1));
    i = e + 1;
  }
  return f;
}

TEST(NodeRecords, ReadReceivedFields) {
  CMyNode cat;
  cat.m_strName = "分类";
  CMyNode src("名字", UrlItem, &cat, 6, "http://a");
  src.m_strIconPath = "C:\\i.ico";
  src.m_strNote = "note";
  src.m_nVisits = 12;
  src.m_strCircle = "GROUP";
  std::vector<std::string> f = Fields(src);
  ASSERT_EQ(9u, f.size());
  CMyNode got;
  ASSERT_EQ(1, got.ReadFields(f));
  EXPECT_EQ("名字", got.m_strName);
  EXPECT_EQ(UrlItem, got.m_nKind);
  EXPECT_EQ("http://a", got.m_strAddress);
  EXPECT_EQ("分类", got.m_strParentName);
  EXPECT_EQ("C:\\i.ico", got.m_strIconPath);
  EXPECT_EQ(12, got.m_nVisits);
  EXPECT_EQ(6, got.m_nSlot);
  EXPECT_EQ("GROUP", got.m_strCircle);

  // Two records in one list, read one after the other.
  std::vector<std::string> two = f;
  two.insert(two.end(), f.begin(), f.end());
  size_t pos = 0;
  CMyNode r1, r2;
  EXPECT_TRUE(r1.ReadFields(two, pos));
  EXPECT_EQ(9u, pos);
  EXPECT_TRUE(r2.ReadFields(two, pos));

  std::vector<std::string> eight(f.begin(), f.begin() + 8);
  CMyNode e;
  EXPECT_TRUE(e.ReadFields(eight));
  EXPECT_EQ("Reserved", e.m_strCircle);

  for (const char* kind : {"7", "-1"}) {
    std::vector<std::string> k = f;
    k[1] = kind;
    CMyNode bad;
    ASSERT_TRUE(bad.ReadFields(k));
    EXPECT_EQ(UrlCategory, bad.m_nKind) << kind;
  }
  for (size_t mandatory : {0u, 1u, 6u, 7u}) {
    std::vector<std::string> k = f;
    k[mandatory].clear();
    CMyNode bad;
    EXPECT_FALSE(bad.ReadFields(k)) << mandatory;
  }
  for (size_t len = 0; len < 8; ++len) {
    CMyNode shortRec;
    EXPECT_FALSE(shortRec.ReadFields(std::vector<std::string>(f.begin(), f.begin() + len))) << len;
  }
  std::vector<std::string> emptyCircle = f;
  emptyCircle[8].clear();
  CMyNode ec;
  ASSERT_TRUE(ec.ReadFields(emptyCircle));
  EXPECT_EQ("", ec.m_strCircle);
}

// The batch merge of a file's records must give what one AddLoadedNode per
// record and the list-order look-ups give.
TEST(NodeList, MergeMatchesNodeByNodeScans) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    std::vector<CMyNode*> a, b;
    int count = 1 + (int)(rng() % 60);
    for (int i = 0; i < count; ++i) {
      CMyNode* n = new CMyNode;
      n->m_nKind = (rng() % 3 == 0) ? UrlCategory : UrlItem;
      n->m_strName = "n" + std::to_string(rng() % 4);
      n->m_strAddress = "a" + std::to_string(rng() % 2);
      if (n->m_nKind == UrlItem) n->m_strParentName = "n" + std::to_string(rng() % 5);
      n->m_nSlot = i;
      CMyNode* copy = new CMyNode(*n);
      a.push_back(n);
      b.push_back(copy);
    }
    CMyNodeList fast, slow;
    fast.MergeLoadedNodes(a);
    for (CMyNode* n : b)
      slow.AddLoadedNode(n);
    for (CMyNode* n : slow)
      if (n->m_nKind == UrlItem) {
        CMyNode* p = slow.FindNode(n->m_strParentName, UrlCategory);
        if (p) {
          n->m_pParent = p;
        } else {
          n->m_strName = "NULL-DELETE";
        }
      }
    slow.DeleteMarked();
    ASSERT_EQ(slow.GetCount(), fast.GetCount()) << round;
    for (size_t i = 0; i < slow.GetCount(); ++i) {
      CMyNode* s = slow.GetAt(i);
      CMyNode* f = fast.GetAt(i);
      EXPECT_EQ(s->m_nSlot, f->m_nSlot);
      EXPECT_EQ(s->m_strName, f->m_strName);
      ASSERT_EQ(s->m_pParent == nullptr, f->m_pParent == nullptr);
      if (s->m_pParent) {
        EXPECT_EQ(s->m_pParent->m_nSlot, f->m_pParent->m_nSlot);
      }
    }
  }
}

TEST(NodeList, AddNodesMatchesAddNode) {
  CMyNodeList fast, slow;
  std::vector<CMyNode*> a, b;
  // A category is the same by kind and name alone, wherever its address points.
  const char* names[] = {"x", "y", "x", "x"};
  const char* addresses[] = {"", "", "D:\\a\\", ""};
  for (int i = 0; i < 4; ++i) {
    CMyNode* c = Cat(names[i], UrlCategory, addresses[i]);
    c->m_nSlot = i;
    a.push_back(c);
    b.push_back(new CMyNode(*c));
  }
  CMyNode* i1 = Item("i", "u", a[0]);
  CMyNode* i2 = Item("i", "u", a[0]);
  a.push_back(i1);
  a.push_back(i2);
  EXPECT_EQ(3, fast.AddNodes(a));
  for (CMyNode* n : b)
    slow.AddNode(n);
  ASSERT_EQ(2u, slow.GetCount());
  EXPECT_EQ(0, fast.GetAt(0)->m_nSlot);
  EXPECT_EQ(1, fast.GetAt(1)->m_nSlot);
  EXPECT_EQ(i1, fast.GetAt(2));
  // Items get the stock icon of their slot unless they bring their own, as with AddNode.
  CMyNode* own = Item("j", "u", a[0], 7);
  own->m_strIconPath = "images\\icon\\j.ico";
  CMyNode* stock = Item("k", "u", a[0], 7);
  fast.m_strBaseDir = "D:\\Q\\";
  CMyNode* programs = Cat("程序", ProgramCategory);
  CMyNode* program = Item("p", "C:\\p\\", programs, 7);
  EXPECT_EQ(4, fast.AddNodes({own, stock, programs, program}));
  EXPECT_EQ("images\\icon\\j.ico", own->m_strIconPath);
  EXPECT_EQ("D:\\Q\\images\\icon\\ieicon\\IE XP2.ico", stock->m_strIconPath);
  // Web items only: categories and program items keep their empty icon.
  EXPECT_EQ("", programs->m_strIconPath);
  EXPECT_EQ("", program->m_strIconPath);
}


// AddNode, which deletes a refused node itself.
int AddOrDrop(CMyNodeList& list, CMyNode* node) { return list.AddNode(node); }

TEST(NodeList, AddNodeInABatchRefusesExactlyWhatItRefusesWithout) {
  // The same random adds and removals, once node by node and once in a batch.
  std::mt19937 rng(7);
  CMyNodeList plain, batched;
  std::vector<CMyNode*> plainCats, batchedCats;
  for (int c = 0; c < 3; ++c) {
    plainCats.push_back(Cat("c" + std::to_string(c), c == 2 ? ProgramCategory : UrlCategory));
    batchedCats.push_back(Cat("c" + std::to_string(c), c == 2 ? ProgramCategory : UrlCategory));
    ASSERT_TRUE(plain.AddNode(plainCats.back()));
  }
  CMyNodeList::CAddBatch batch(batched);
  for (CMyNode* c : batchedCats) ASSERT_TRUE(batched.AddNode(c));
  for (int step = 0; step < 3000; ++step) {
    int c = (int)(rng() % 3), kind = (int)(rng() % 5);
    std::string name = "n" + std::to_string(rng() % 12), url = "u" + std::to_string(rng() % 3);
    if (kind == 4 && plain.GetCount() > 3) {  // now and then a node leaves both lists
      size_t at = 3 + rng() % (plain.GetCount() - 3);
      CMyNode* p = plain.GetAt(at);
      CMyNode* b = batched.GetAt(at);
      ASSERT_TRUE(plain.RemoveNode(p));
      ASSERT_TRUE(batched.RemoveNode(b));
      delete p;
      delete b;
      continue;
    }
    CMyNode* p = kind == 3 ? Cat(name, c == 2 ? ProgramCategory : UrlCategory, url) : Item(name, url, plainCats[c]);
    CMyNode* b = kind == 3 ? Cat(name, c == 2 ? ProgramCategory : UrlCategory, url) : Item(name, url, batchedCats[c]);
    ASSERT_EQ(AddOrDrop(plain, p), AddOrDrop(batched, b)) << "step " << step;
  }
  ASSERT_EQ(plain.GetCount(), batched.GetCount());
  for (size_t i = 0; i < plain.GetCount(); ++i) EXPECT_EQ(plain.GetAt(i)->m_strName, batched.GetAt(i)->m_strName);
}

// Emptying the list in a batch empties what the batch compares with, too.
TEST(NodeList, ABatchForgetsTheNodesTheListLetsGo) {
  CMyNodeList list;
  CMyNode* kept = Cat("A");
  CMyNodeList::CAddBatch batch(list);
  ASSERT_TRUE(list.AddNode(kept));
  list.ReleaseAll();  // the caller owns `kept` now
  EXPECT_EQ(1, list.AddNode(Cat("A")));
  list.DeleteAll();
  EXPECT_EQ(1, list.AddNode(Cat("A")));
  EXPECT_EQ(1u, list.GetCount());
  delete kept;
}

// Once the batch is over, a node renamed since is found by its new name.
TEST(NodeList, AfterABatchARenamedNodeIsFoundByItsNewName) {
  CMyNodeList list;
  CMyNode* a = Cat("A");
  {
    CMyNodeList::CAddBatch batch(list);
    ASSERT_TRUE(list.AddNode(a));
  }
  a->m_strName = "B";
  EXPECT_EQ(0, list.AddNode(Cat("B")));
  EXPECT_EQ(1u, list.GetCount());
}

TEST(NodeList, AHundredThousandAddsInABatchTakeTimeInProportion) {
  // Each add compared with every listed node took minutes for this many.
  CMyNodeList list;
  CMyNode* cat = Cat("c");
  list.AddNode(cat);
  auto t0 = std::chrono::steady_clock::now();
  {
    CMyNodeList::CAddBatch batch(list);
    for (int i = 0; i < 100000; ++i) ASSERT_TRUE(list.AddNode(Item("site " + std::to_string(i), "http://x/", cat)));
    // ... and as many of one name, each at an address of its own.
    for (int i = 0; i < 100000; ++i) ASSERT_TRUE(list.AddNode(Item("site", "http://" + std::to_string(i) + "/", cat)));
    EXPECT_FALSE(AddOrDrop(list, Item("site 99999", "http://x/", cat)));
  }
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 30.0);
  EXPECT_FALSE(AddOrDrop(list, Item("site 5", "http://x/", cat))) << "the batch over, the scan finds it as well";
}

TEST(NodeList, AHundredThousandLoadedRecordsMergeInProportion) {
  // A file's records, all of one address in one category, and one of them twice.
  std::vector<CMyNode*> records;
  records.push_back(Cat("c"));
  for (int i = 0; i <= 100000; ++i) {
    CMyNode* n = Item("site " + std::to_string(i == 100000 ? 7 : i), "http://x/", nullptr);
    n->m_strParentName = "c";
    records.push_back(n);
  }
  CMyNodeList list;
  auto t0 = std::chrono::steady_clock::now();
  list.MergeLoadedNodes(records);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 30.0);
  ASSERT_EQ(100001u, list.GetCount());
  EXPECT_EQ(list.GetAt(0), list.GetAt(100000)->m_pParent);
}

}  // namespace

// A node of every kind comes back from its upload record as that kind.
TEST(NodeRecord, EveryKindSurvivesItsUploadRecord) {
  for (int kind : {UrlCategory, UrlItem, ProgramCategory, ProgramItem}) {
    CMyNode n;
    n.m_strName = "n";
    n.m_nKind = kind;
    n.m_strAddress = "C:\\x\\";
    std::string record = n.UploadRecord();
    ASSERT_GE(record.size(), 2u);
    std::vector<std::string> fields;
    size_t at = 1;
    for (size_t end; (end = record.find("><", at)) != std::string::npos; at = end + 2)
      fields.push_back(record.substr(at, end - at));
    fields.push_back(record.substr(at, record.size() - 1 - at));
    CMyNode back;
    ASSERT_EQ(1, back.ReadFields(fields)) << record;
    EXPECT_EQ(kind, back.m_nKind);
  }
}

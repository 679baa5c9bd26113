#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/messages.h"
#include "model/app_logic.h"
#include "model/sync.h"
#include "net/message.h"
#include "net_access.h"
#include "os/os.h"
#include "store/favorites_file.h"
#include "store/merge.h"
#include "testutil.h"

namespace {

// A tree from a short text: entries between ';', "A" a category, "A/name=url"
// an item of category A (made when not yet there), "#note" after either.
// Slots follow the order of the text, per folder and per category.
std::unique_ptr<CMyNodeList> TreeOf(const std::string& text) {
  std::unique_ptr<CMyNodeList> list(new CMyNodeList);
  auto category = [&](const std::string& name) {
    if (CMyNode* c = list->FindNode(name, UrlCategory)) return c;
    CMyNode* c = new CMyNode(name, UrlCategory, nullptr, list->CountKind(UrlCategory));
    list->AddNode(c);
    return c;
  };
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string e = text.substr(start, end - start);
    start = end + 1;
    e.erase(0, e.find_first_not_of(' '));
    e.erase(e.find_last_not_of(' ') + 1);
    if (e.empty()) continue;
    std::string note;
    size_t hash = e.find('#');
    if (hash != std::string::npos) note = e.substr(hash + 1), e.resize(hash);
    size_t slash = e.find('/');
    if (slash == std::string::npos) {
      category(e)->m_strNote = note;
      continue;
    }
    CMyNode* cat = category(e.substr(0, slash));
    size_t eq = e.find('=');
    CMyNode* n = new CMyNode;
    n->m_strName = e.substr(slash + 1, eq - slash - 1);
    n->m_strAddress = e.substr(eq + 1);
    n->m_strNote = note;
    n->m_pParent = cat;
    n->m_strParentName = cat->m_strName;  // as a download names it
    n->m_nSlot = list->CountChildren(cat);
    EXPECT_TRUE(list->AddNode(n)) << e;
  }
  return list;
}

// The web-address folder as the tree text names it, sorted.
std::string TextOf(const CMyNodeList& list) {
  std::vector<std::string> lines;
  for (const CMyNode* n : list) {
    if (n->m_nKind == UrlCategory) lines.push_back(n->m_strName);
    if (n->m_nKind == UrlItem)
      lines.push_back((n->m_pParent ? n->m_pParent->m_strName : n->m_strParentName) + "/" + n->m_strName + "=" + n->m_strAddress +
                      (n->m_strNote.empty() ? "" : "#" + n->m_strNote));
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "" : "; ") + l;
  return out;
}

std::string Counts(const MergeCounts& c) {
  return std::to_string(c.added) + " " + std::to_string(c.removed) + " " + std::to_string(c.keptTwice) + " " +
         std::to_string(c.notPlaced);
}

// Every node of the list has a slot of its own within the tree's limits.
void ExpectPlacedWithinLimits(const CMyNodeList& list) {
  std::vector<int> tabs;
  for (const CMyNode* c : list) {
    if (c->m_nKind != UrlCategory) continue;
    tabs.push_back(c->m_nSlot);
    std::vector<int> buttons;
    for (const CMyNode* i : list)
      if (i->m_pParent == c) buttons.push_back(i->m_nSlot);
    std::sort(buttons.begin(), buttons.end());
    EXPECT_TRUE(std::adjacent_find(buttons.begin(), buttons.end()) == buttons.end()) << c->m_strName;
    for (int b : buttons) EXPECT_TRUE(b >= 0 && b < 30) << c->m_strName << " button " << b;
  }
  std::sort(tabs.begin(), tabs.end());
  EXPECT_TRUE(std::adjacent_find(tabs.begin(), tabs.end()) == tabs.end());
  for (int t : tabs) EXPECT_TRUE(t >= 0 && t < 44) << t;
}

struct MergeCase {
  const char* what;
  const char* base;  // "-": no base (the first sync)
  const char* local;
  const char* remote;
  const char* result;
  const char* counts;  // added removed kept-twice not-placed
};

const char kMark[] = " (另一台电脑)";

const MergeCase kCases[] = {
    // Added on either side.
    {"added here", "A/x=1", "A/x=1; A/y=2", "A/x=1", "A; A/x=1; A/y=2", "0 0 0 0"},
    {"added there", "A/x=1", "A/x=1", "A/x=1; A/y=2", "A; A/x=1; A/y=2", "1 0 0 0"},
    {"category added there", "A/x=1", "A/x=1", "A/x=1; B/z=3", "A; A/x=1; B; B/z=3", "2 0 0 0"},
    {"empty category added there", "A/x=1", "A/x=1", "A/x=1; B", "A; A/x=1; B", "1 0 0 0"},
    {"the same added on both sides", "A/x=1", "A/x=1; A/y=2", "A/x=1; A/y=2", "A; A/x=1; A/y=2", "0 0 0 0"},
    // Deleted on one side, unchanged on the other.
    {"deleted here", "A/x=1; A/y=2", "A/x=1", "A/x=1; A/y=2", "A; A/x=1", "0 0 0 0"},
    {"deleted there", "A/x=1; A/y=2", "A/x=1; A/y=2", "A/x=1", "A; A/x=1", "0 1 0 0"},
    {"deleted on both sides", "A/x=1; A/y=2", "A/x=1", "A/x=1", "A; A/x=1", "0 0 0 0"},
    {"category deleted there", "A/x=1; B/y=2", "A/x=1; B/y=2", "A/x=1", "A; A/x=1", "0 2 0 0"},
    {"category deleted here", "A/x=1; B/y=2", "A/x=1", "A/x=1; B/y=2", "A; A/x=1", "0 0 0 0"},
    // Deleted on one side, edited on the other: the edit stays.
    {"deleted here, renamed there", "A/x=1; A/y=2", "A/x=1", "A/x=1; A/yy=2", "A; A/x=1; A/yy=2", "1 0 0 0"},
    {"one address under two names: one deleted here, renamed there", "A/x=1; A/y=1", "A/x=1", "A/yy=1; A/x=1",
     "A; A/x=1; A/yy=1", "1 0 0 0"},
    {"deleted there, noted here", "A/x=1; A/y=2", "A/x=1; A/y=2#n", "A/x=1", "A; A/x=1; A/y=2#n", "0 0 0 0"},
    {"category deleted there, item renamed here", "A/x=1; B/y=2", "A/x=1; B/yy=2", "A/x=1", "A; A/x=1; B; B/yy=2",
     "0 0 0 0"},
    // Changed on one side only.
    {"renamed here", "A/x=1", "A/xx=1", "A/x=1", "A; A/xx=1", "0 0 0 0"},
    {"noted there", "A/x=1", "A/x=1", "A/x=1#n", "A; A/x=1#n", "0 0 0 0"},
    {"renamed here, noted there", "A/x=1", "A/xx=1", "A/x=1#n", "A; A/xx=1#n", "0 0 0 0"},
    {"category note changed there", "A/x=1", "A/x=1", "A#n; A/x=1", "A; A/x=1", "0 0 0 0"},
    // Changed differently on both sides: both kept.
    {"renamed on both sides", "A/x=1", "A/xl=1", "A/xr=1", "A; A/xl=1; A/xr (另一台电脑)=1", "0 0 1 0"},
    {"noted on both sides", "A/x=1", "A/x=1#l", "A/x=1#r", "A; A/x (另一台电脑)=1#r; A/x=1#l", "0 0 1 0"},
    {"renamed alike on both sides", "A/x=1", "A/xx=1", "A/xx=1", "A; A/xx=1", "0 0 0 0"},
    // Moves follow.
    {"moved here", "A; B; A/x=1", "A; B; B/x=1", "A; B; A/x=1", "A; B; B/x=1", "0 0 0 0"},
    {"moved there, renamed here", "A; B; A/x=1", "A; B; A/xx=1", "A; B; B/x=1", "A; B; B/xx=1", "0 0 0 0"},
    {"moved to a new category there", "A/x=1; A/y=2", "A/x=1; A/y=2", "A/x=1; C/y=2", "A; A/x=1; C; C/y=2",
     "1 0 0 0"},
    {"moved on both sides to two categories", "A; B; C; A/x=1", "A; B; C; B/x=1", "A; B; C; C/x=1",
     "A; B; B/x=1; C; C/x (另一台电脑)=1", "0 0 1 0"},
    {"moved here, deleted there", "A; B; A/x=1; A/y=2", "A; B; B/x=1; A/y=2", "A; B; A/y=2", "A; A/y=2; B; B/x=1",
     "0 0 0 0"},
    // A renamed category is the old one deleted and a new one added: its
    // items move with it, and what the other side put into the old name stays there.
    {"category renamed here", "A/x=1; A/y=2", "A2/x=1; A2/y=2", "A/x=1; A/y=2", "A2; A2/x=1; A2/y=2", "0 0 0 0"},
    {"category renamed here, filled there", "A/x=1; A/y=2", "A2/x=1; A2/y=2", "A/x=1; A/y=2; A/z=3",
     "A; A/z=3; A2; A2/x=1; A2/y=2", "2 0 0 0"},
    // The first sync takes the union and deletes nothing.
    {"first sync", "-", "A/x=1; A/y=2", "A/x=1; B/z=3", "A; A/x=1; A/y=2; B; B/z=3", "2 0 0 0"},
    {"first sync, one address named two ways", "-", "A/x=1", "A/y=1", "A; A/x=1; A/y (另一台电脑)=1", "0 0 1 0"},
    {"first sync, one address in two categories", "-", "A/x=1", "B/x=1", "A; A/x=1; B; B/x=1", "2 0 0 0"},
    // An empty side.
    {"first sync, nothing here", "-", "", "A/x=1", "A; A/x=1", "2 0 0 0"},
    {"first sync, nothing there", "-", "A/x=1", "", "A; A/x=1", "0 0 0 0"},
    {"everything deleted here", "A/x=1; B/y=2", "", "A/x=1; B/y=2", "", "0 0 0 0"},
    {"everything deleted there, one added here", "A/x=1", "A/x=1; A/y=2", "", "A; A/y=2", "0 1 0 0"},
    {"all empty", "", "", "", "", "0 0 0 0"},
};

TEST(Merge, RulesEachWay) {
  for (const MergeCase& c : kCases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<CMyNodeList> base = TreeOf(c.base), local = TreeOf(c.local), remote = TreeOf(c.remote);
    CMyNodeList out;
    MergeCounts counts = MergeWebFolders(std::string(c.base) == "-" ? nullptr : base.get(), *local, *remote, out);
    EXPECT_EQ(c.result, TextOf(out));
    EXPECT_EQ(c.counts, Counts(counts));
    ExpectPlacedWithinLimits(out);
    // Seen from the other machine the same merge gives the same folder, but
    // for which copy carries the mark.
    if (counts.keptTwice == 0) {
      CMyNodeList mirror;
      MergeWebFolders(std::string(c.base) == "-" ? nullptr : base.get(), *remote, *local, mirror);
      EXPECT_EQ(c.result, TextOf(mirror));
    }
  }
}

// A download reads items with their category's name only.
TEST(Merge, RemoteItemsJoinTheirCategoryByName) {
  std::unique_ptr<CMyNodeList> local = TreeOf("A/x=1");
  CMyNodeList remote;
  for (const char* name : {"A", "B"}) {
    CMyNode* c = new CMyNode(name, UrlCategory, nullptr, name[0] - 'A');
    remote.AddLoadedNode(c);
  }
  CMyNode* y = new CMyNode;
  y->m_strName = "y";
  y->m_strAddress = "2";
  y->m_strParentName = "B";
  remote.AddLoadedNode(y);
  CMyNode* lost = new CMyNode;  // names no category: dropped, as a download drops it
  lost->m_strName = "z";
  lost->m_strParentName = "Q";
  remote.AddLoadedNode(lost);
  CMyNode* program = new CMyNode;  // the other machine's program folder stays there
  program->m_strName = "p";
  program->m_nKind = ProgramCategory;
  remote.AddLoadedNode(program);
  CMyNodeList out;
  MergeCounts counts = MergeWebFolders(nullptr, *local, remote, out);
  EXPECT_EQ("A; A/x=1; B; B/y=2", TextOf(out));
  EXPECT_EQ("2 0 0 0", Counts(counts));
}

// Fields that are no content: a change on one side wins, both changed keep
// this machine's, for favorites and categories alike; visit counts add what
// each side added.
TEST(Merge, PositionIconCircleAndVisits) {
  std::unique_ptr<CMyNodeList> base = TreeOf("A/x=1; A/y=2; A/z=3"), local = TreeOf("A/x=1; A/y=2; A/z=3"),
                               remote = TreeOf("A/x=1; A/y=2; A/z=3");
  auto item = [](CMyNodeList& l, const char* name) {
    for (CMyNode* n : l)
      if (n->m_strName == name) return n;
    return (CMyNode*)nullptr;
  };
  item(*base, "x")->m_nVisits = 5;
  item(*local, "x")->m_nVisits = 7;
  item(*remote, "x")->m_nVisits = 9;
  item(*local, "x")->m_nSlot = 10;  // moved here
  item(*remote, "y")->m_nSlot = 11;  // moved there
  item(*local, "z")->m_nSlot = 12;   // moved on both sides
  item(*remote, "z")->m_nSlot = 13;
  item(*remote, "y")->m_strCircle = "GROUP";
  item(*local, "z")->m_strIconPath = "here.ico";
  item(*remote, "z")->m_strIconPath = "there.ico";
  item(*base, "A")->m_nVisits = 2;  // a category's tab clicked on both sides
  item(*local, "A")->m_nVisits = 3;
  item(*remote, "A")->m_nVisits = 4;
  item(*remote, "A")->m_strCircle = "GROUP";  // its circle joined there
  CMyNodeList out;
  EXPECT_EQ("0 0 0 0", Counts(MergeWebFolders(base.get(), *local, *remote, out)));
  EXPECT_EQ(11, item(out, "x")->m_nVisits);
  EXPECT_EQ(5, item(out, "A")->m_nVisits);
  EXPECT_EQ("GROUP", item(out, "A")->m_strCircle);
  EXPECT_EQ(10, item(out, "x")->m_nSlot);
  EXPECT_EQ(11, item(out, "y")->m_nSlot);
  EXPECT_EQ("GROUP", item(out, "y")->m_strCircle);
  EXPECT_EQ(12, item(out, "z")->m_nSlot);
  EXPECT_EQ("here.ico", item(out, "z")->m_strIconPath);
  // Without a base the two counts may hold the same visits: the larger.
  CMyNodeList first;
  MergeWebFolders(nullptr, *local, *remote, first);
  EXPECT_EQ(9, item(first, "x")->m_nVisits);
  EXPECT_EQ(4, item(first, "A")->m_nVisits);
}

TEST(Merge, ItemsAddedOnBothSidesAtOneButtonTakeTwo) {
  std::unique_ptr<CMyNodeList> base = TreeOf("A/x=1"), local = TreeOf("A/x=1; A/y=2"),
                               remote = TreeOf("A/x=1; A/z=3; B/w=4");
  CMyNodeList out;
  EXPECT_EQ("3 0 0 0", Counts(MergeWebFolders(base.get(), *local, *remote, out)));
  EXPECT_EQ("A; A/x=1; A/y=2; A/z=3; B; B/w=4", TextOf(out));
  ExpectPlacedWithinLimits(out);
}

// A category over 30 items goes on in "A2", "A3" as the imports do; once
// every tab is taken, what finds no place is counted.
TEST(Merge, OverflowGoesOnInNumberedCategories) {
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "A/i" + std::to_string(i) + "=u" + std::to_string(i) + ";";
  std::unique_ptr<CMyNodeList> base = TreeOf(thirty), local = TreeOf(thirty + "A/h1=h1; A/h2=h2"),
                               remote = TreeOf(thirty + "A/t1=t1");
  CMyNodeList out;
  MergeCounts counts = MergeWebFolders(base.get(), *local, *remote, out);
  EXPECT_EQ("1 0 0 0", Counts(counts));
  ExpectPlacedWithinLimits(out);
  CMyNode* a2 = out.FindNode("A2", UrlCategory);
  ASSERT_NE(nullptr, a2);
  EXPECT_EQ(30, out.CountChildren(out.FindNode("A", UrlCategory)));
  EXPECT_EQ(3, out.CountChildren(a2));
  EXPECT_EQ(33, out.CountKind(UrlItem));

  std::string tabs;
  for (int i = 0; i < 44; ++i) tabs += "C" + std::to_string(i) + "/c=c" + std::to_string(i) + ";";
  std::unique_ptr<CMyNodeList> full = TreeOf(tabs), more = TreeOf(tabs + "Z/z1=z1; Z/z2=z2");
  CMyNodeList capped;
  counts = MergeWebFolders(full.get(), *full, *more, capped);
  EXPECT_EQ("0 0 0 3", Counts(counts));  // the category Z and its two items
  EXPECT_EQ(44, capped.CountKind(UrlCategory));
  EXPECT_EQ(44, capped.CountKind(UrlItem));
  ExpectPlacedWithinLimits(capped);

  // A tab number out of range (a damaged file) finds a free tab.
  std::unique_ptr<CMyNodeList> odd = TreeOf("A/x=1; B/y=2");
  odd->FindNode("B", UrlCategory)->m_nSlot = -1;
  CMyNodeList placed;
  MergeWebFolders(nullptr, *TreeOf("A/x=1"), *odd, placed);
  EXPECT_EQ("A; A/x=1; B; B/y=2", TextOf(placed));
  ExpectPlacedWithinLimits(placed);
}

TEST(Merge, CopyNamesStayUniqueAndWithinTheLimit) {
  EXPECT_EQ(std::string("x") + kMark, OtherMachineName("x"));
  EXPECT_EQ("x (另一台电脑2)", OtherMachineName("x", 2));
  EXPECT_EQ(std::string("x") + kMark, OtherMachineName(std::string("x") + kMark));  // not marked twice
  // 300 bytes of a two-byte character: cut at a whole character.
  std::string longName;
  for (int i = 0; i < 150; ++i) longName += "字";
  std::string cut = OtherMachineName(longName);
  EXPECT_LE(cut.size(), kMergedNameMax);
  EXPECT_EQ(0u, (cut.size() - (sizeof kMark - 1)) % 2);
  EXPECT_EQ(kMark, cut.substr(cut.size() - (sizeof kMark - 1)));
  // The mark's first name is taken by another item at the same address: the
  // next number; by the same copy (a merge made again from the same base,
  // after an upload that came too late): no second copy.
  std::unique_ptr<CMyNodeList> base = TreeOf("A/x=1"), local = TreeOf("A/xl=1; A/xr (另一台电脑)=1#old"),
                               remote = TreeOf("A/xr=1");
  CMyNodeList out;
  EXPECT_EQ("0 0 1 0", Counts(MergeWebFolders(base.get(), *local, *remote, out)));
  EXPECT_EQ("A; A/xl=1; A/xr (另一台电脑)=1#old; A/xr (另一台电脑2)=1", TextOf(out));
  std::unique_ptr<CMyNodeList> again = TreeOf("A/xl=1; A/xr (另一台电脑)=1");
  CMyNodeList once;
  EXPECT_EQ("0 0 0 0", Counts(MergeWebFolders(base.get(), *again, *remote, once)));
  EXPECT_EQ("A; A/xl=1; A/xr (另一台电脑)=1", TextOf(once));
}

std::unique_ptr<CMyNodeList> Reread(const CMyNodeList& list) {
  std::vector<const CMyNode*> nodes(list.begin(), list.end());
  std::vector<CMyNode*> records;
  EXPECT_TRUE(ReadFavoritesRecords(FavoritesFileBytes(nodes), records));
  std::unique_ptr<CMyNodeList> copy(new CMyNodeList);
  copy->MergeLoadedNodes(records);
  return copy;
}

// Two machines that sync in turn through one server tree end with the same
// tree, holding what each changed.
TEST(Merge, TwoMachinesConverge) {
  std::unique_ptr<CMyNodeList> server = TreeOf("A/x=1; A/y=2; B/z=3");
  std::unique_ptr<CMyNodeList> a = TreeOf("A/x=1; A/y=2; B/z=3"), b = TreeOf("A/x=1; A/y=2; B/z=3");
  std::unique_ptr<CMyNodeList> baseA = TreeOf("A/x=1; A/y=2; B/z=3"), baseB = TreeOf("A/x=1; A/y=2; B/z=3");
  // A adds and renames, B deletes and adds a category.
  a = TreeOf("A/x=1; A/yy=2; B/z=3; B/w=4");
  b = TreeOf("A/x=1; A/y=2; C/v=5");
  auto sync = [&](std::unique_ptr<CMyNodeList>& mine, std::unique_ptr<CMyNodeList>& base) {
    std::unique_ptr<CMyNodeList> out(new CMyNodeList);
    MergeWebFolders(base.get(), *mine, *server, *out);
    mine = std::move(out);
    // The server and the base keep what was uploaded, read back from its bytes.
    server = Reread(*mine);
    base = Reread(*mine);
  };
  sync(a, baseA);
  sync(b, baseB);
  sync(a, baseA);
  sync(b, baseB);
  EXPECT_EQ("A; A/x=1; A/yy=2; B; B/w=4; C; C/v=5", TextOf(*a));
  EXPECT_TRUE(SameWebFolder(*a, *b));
  EXPECT_TRUE(SameWebFolder(*a, *server));
}

TEST(Merge, SameWebFolderLooksAtWhatTheServerKeeps) {
  std::unique_ptr<CMyNodeList> a = TreeOf("A/x=1; A/y=2"), b = TreeOf("A/x=1; A/y=2");
  EXPECT_TRUE(SameWebFolder(*a, *b));
  b->GetAt(1)->m_tLastVisit = 12345;  // not kept by the server
  b->GetAt(1)->m_bScript = 1;
  EXPECT_TRUE(SameWebFolder(*a, *b));
  b->GetAt(1)->m_nVisits = 1;
  EXPECT_FALSE(SameWebFolder(*a, *b));
  EXPECT_FALSE(SameWebFolder(*a, *TreeOf("A/x=1; A/y=3")));
  EXPECT_FALSE(SameWebFolder(*a, *TreeOf("A/x=1")));
  EXPECT_FALSE(SameWebFolder(*a, *TreeOf("A/y=2; A/x=1")));  // order counts
}

// ---- the sync, against a server in this process ----------------------------------

// Keeps one tree and its revision, and answers the transfer messages the
// client sends as the real server does; `beforeUpload` runs when an upload
// asks to begin (another machine's upload coming first).
class CFakeServer {
 public:
  std::vector<std::string> records;  // the nine fields of each stored node
  int32_t revision = 0;
  std::function<void(CFakeServer&)> beforeUpload;
  std::deque<qb::NetDatagram> replies;

  void Store(const CMyNodeList& tree) {
    records.clear();
    for (const CMyNode* n : tree) records.push_back(n->UploadRecord());
  }
  std::unique_ptr<CMyNodeList> Tree() const {
    std::unique_ptr<CMyNodeList> t(new CMyNodeList);
    for (const std::string& r : records) {
      qb::FieldList f;
      qb::SplitFields(r, f);
      CMyNode* n = new CMyNode;
      std::vector<std::string> v(f.begin(), f.end());
      EXPECT_TRUE(n->ReadFields(v));
      t->AddLoadedNode(n);
    }
    return t;
  }
  int OnSent(const qb::NetDatagram& d) {
    qb::FieldList f;
    std::string number, type, dir, what;
    if (!qb::SplitFields(d.text, f) || !qb::TakeField(f, number) || !qb::TakeField(f, type) || type != "FAV") return 1;
    qb::TakeField(f, dir);
    qb::TakeField(f, what);
    int32_t n = qb::ReadNumber(number);
    if (dir == "DOWN" && what == "REQ") {
      if (records.empty()) return Reply(n, "<FAV><DOWN><REQ><BLANK>");
      Reply(++m_sent, "<FAV><DOWN><COUNT>" + qb::BracketNumber((int32_t)records.size()) + qb::BracketNumber(revision));
    } else if (dir == "DOWN" && what == "READY") {
      for (const std::string& r : records) Reply(++m_sent, "<FAV><DOWN><NODE>" + r);
    } else if (dir == "UP" && what == "COUNT") {
      std::string count, user, password, from;
      qb::TakeField(f, count);
      qb::TakeField(f, user);
      qb::TakeField(f, password);
      if (beforeUpload) beforeUpload(*this);
      m_expected = qb::ReadNumber(count);
      m_incoming.clear();
      if (qb::TakeField(f, from) && qb::ReadNumber(from) != revision)
        return Reply(n, "<FAV><UP><STALE>" + qb::BracketNumber(revision));
      Reply(n, "<FAV><UP><ALLOWED>");
    } else if (dir == "UP" && what == "NODE") {
      std::string r;
      for (std::string x; qb::TakeField(f, x);) r += "<" + x + ">";
      m_incoming.push_back(r);
      if ((int)m_incoming.size() < m_expected) return Reply(n, "<FAV><UP><NODE><OK>");
      if (!storeUploads) return 1;  // the last node lost on its way
      records = m_incoming;
      ++revision;
      if (loseLastAnswers > 0 && loseLastAnswers--) return 1;  // stored, but the answer is lost
      Reply(n, "<FAV><UP><NODE><OK>" + qb::BracketNumber(revision));
    }
    return 1;
  }

 private:
  int Reply(int32_t number, const std::string& body) {
    replies.push_back(qb::NetDatagram{qb::FrameMessage(number, body), kAddress, 0});
    return 1;
  }
  int32_t m_sent = 500, m_expected = 0;

 public:
  int loseLastAnswers = 0;
  bool storeUploads = true;

 private:
  std::vector<std::string> m_incoming;

 public:
  static const uint32_t kAddress = 0x0100007F;
};

class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net.reset(new qb::CNetState(tree, ui, qb::CNetConfig()));
    net->Sender().m_serverAddress = CFakeServer::kAddress;
    net->Sender().m_sendHook = [this](const qb::NetDatagram& d) { return server.OnSent(d); };
    qb::NetStateTestAccess::LoggedIn(*net) = true;
    net->Login().SetUser(10005);
    progress.reset(new qb::CTransferProgress(*net));
    sync.reset(new qb::CSyncProgress(*net, *progress));
    host.favoritesPath = dir / "1-我的收藏.sc";
    host.basePath = SyncBasePath(host.favoritesPath, 10005);
    host.saveFavorites = [this] {
      ++saves;
      return ReplaceFileKeepingBackup(host.favoritesPath, std::string(), WebFolderBytes(tree));
    };
  }
  void SetTree(const std::string& text) {
    std::unique_ptr<CMyNodeList> t = TreeOf(text);
    std::vector<CMyNode*> nodes(t->begin(), t->end());
    t->ReleaseAll();
    tree.DeleteAll();
    tree.AddNodes(nodes);
  }
  void SetBase(const std::string& text) {
    ASSERT_TRUE(ReplaceFileKeepingBackup(host.basePath, std::string(), WebFolderBytes(*TreeOf(text))));
  }
  // The program's loop: the server's answers, then the statuses they post.
  std::string Run() {
    const int kDeadlines = 3;
    int deadlines = 0;
    qb::PromptView v;
    EXPECT_TRUE(sync->OnCommand(host, v));
    std::string text = v.text;
    for (int guard = 0; sync->Running() && guard < 10000; ++guard) {
      if (!server.replies.empty()) {
        qb::NetDatagram d = server.replies.front();
        server.replies.pop_front();
        net->OnDatagram(d);
      }
      while (!ui.posts.empty()) {
        qbtest::CRecordingUi::PostRec p = ui.posts.front();
        ui.posts.erase(ui.posts.begin());
        if (p.msg == qb::WM_TRANSFER_STATUS && sync->OnTransferStatus(p.wParam, p.lParam, v)) text = v.text;
      }
      // Nothing comes: the transfer's deadline passes, as the program's timer would tell.
      if (server.replies.empty() && ui.posts.empty() && sync->Running()) {
        if (deadlines++ == kDeadlines) break;
        net->OnTimer(qb::kTransferTimer);
      }
    }
    EXPECT_TRUE(v.okEnabled);
    // The prompt's OK.
    progress->OnPromptClosed();
    sync->OnPromptClosed();
    return text;
  }
  std::string BaseText() {
    CMyNodeList base;
    EXPECT_TRUE(LoadFavoritesFile(base, host.basePath));
    return TextOf(base);
  }

  qbtest::TempDir dir;
  CMyNodeList tree;
  qbtest::CRecordingUi ui;
  CFakeServer server;
  std::unique_ptr<qb::CNetState> net;
  std::unique_ptr<qb::CTransferProgress> progress;
  std::unique_ptr<qb::CSyncProgress> sync;
  qb::SyncHost host;
  int saves = 0;
};

// An upload refused because another machine's came first downloads and
// merges again; the second machine's change is then kept too.
TEST_F(SyncTest, AnUploadOvertakenMergesAgain) {
  SetTree("A/x=1; A/y=2");
  SetBase("A/x=1");
  server.Store(*TreeOf("A/x=1; B/z=3"));
  server.revision = 5;
  int uploads = 0;
  server.beforeUpload = [&](CFakeServer& s) {
    if (++uploads == 1) {
      s.Store(*TreeOf("A/x=1; B/z=3; B/w=4"));
      s.revision = 6;
    }
  };
  EXPECT_EQ("同步成功！新增3，删除0，保留两份0", Run());
  EXPECT_EQ(qb::SyncOutcome::kDone, sync->Outcome());
  EXPECT_EQ(2, sync->Tries());
  EXPECT_EQ("A; A/x=1; A/y=2; B; B/w=4; B/z=3", TextOf(tree));
  EXPECT_EQ(TextOf(tree), TextOf(*server.Tree()));
  EXPECT_EQ(7, server.revision);
  EXPECT_EQ(TextOf(tree), BaseText());
  CMyNodeList saved;
  ASSERT_TRUE(LoadFavoritesFile(saved, host.favoritesPath));
  EXPECT_EQ(TextOf(tree), TextOf(saved));
  // The tree the first merge replaced is in the backup folder.
  std::vector<os::DirEntry> copies;
  ASSERT_TRUE(os::ListFolder(dir / "backup\\", "1-我的收藏-同步前-*.sc", copies));
  ASSERT_EQ(2u, copies.size());
}

// The tree is stored but the answer to its last node is lost: the sync
// downloads again and finds its own tree there, which becomes the base.
// Another machine that renamed one of this machine's nodes meanwhile then
// meets no node of this one twice.
TEST_F(SyncTest, AStoredUploadWhoseAnswerIsLostIsFoundStored) {
  SetTree("A/x=1; A/y=2");
  SetBase("A/x=1");
  server.Store(*TreeOf("A/x=1; B/z=3"));
  server.revision = 5;
  server.loseLastAnswers = 1;
  EXPECT_EQ("同步成功！新增2，删除0，保留两份0", Run());
  EXPECT_EQ(2, sync->Tries());
  EXPECT_EQ(6, server.revision) << "uploaded once";
  EXPECT_EQ("A; A/x=1; A/y=2; B; B/z=3", TextOf(*server.Tree()));
  EXPECT_EQ(TextOf(*server.Tree()), BaseText());
  // Never stored: each try merges with the same tree again, which changes
  // nothing more; the sync gives up and says why, and the base stays.
  server.storeUploads = false;
  SetTree("A/x=1; A/y=2; B/z=3; C/v=5");
  EXPECT_EQ("同步失败：上传超时失败!", Run());
  EXPECT_EQ(qb::kSyncTries, sync->Tries());
  EXPECT_EQ("A; A/x=1; A/y=2; B; B/z=3; C; C/v=5", TextOf(tree));
  EXPECT_EQ(TextOf(*server.Tree()), BaseText());
}

// Overtaken every time: the sync gives up after its tries; the base stays.
TEST_F(SyncTest, OvertakenAtEveryTryGivesUp) {
  SetTree("A/x=1; A/y=2");
  SetBase("A/x=1");
  server.Store(*TreeOf("A/x=1"));
  server.beforeUpload = [](CFakeServer& s) { ++s.revision; };
  std::string text = Run();
  EXPECT_EQ(0u, text.find("同步失败：")) << text;
  EXPECT_EQ(qb::SyncOutcome::kFailed, sync->Outcome());
  EXPECT_EQ(qb::kSyncTries, sync->Tries());
  EXPECT_EQ("A; A/x=1", BaseText());
}

// A server holding nothing takes this machine's tree as it is; a merge that
// gives the server's own tree uploads nothing.
TEST_F(SyncTest, NothingStoredUploadsAndNothingChangedUploadsNothing) {
  SetTree("A/x=1; A/y=2");
  EXPECT_EQ("同步成功！新增0，删除0，保留两份0", Run());
  EXPECT_TRUE(sync->Uploaded());
  EXPECT_EQ(0, saves);
  EXPECT_EQ(1, server.revision);
  EXPECT_EQ("A; A/x=1; A/y=2", TextOf(*server.Tree()));
  EXPECT_EQ("A; A/x=1; A/y=2", BaseText());
  EXPECT_EQ("同步成功！新增0，删除0，保留两份0", Run());
  EXPECT_FALSE(sync->Uploaded());
  EXPECT_EQ(1, server.revision);
}

// Not logged in: nothing is sent, nothing changes.
TEST_F(SyncTest, NotLoggedInChangesNothing) {
  qb::NetStateTestAccess::LoggedIn(*net) = false;
  SetTree("A/x=1; A/y=2");
  EXPECT_EQ("您未登录,请先登录!", Run());
  EXPECT_FALSE(os::FileExists(host.basePath));
  EXPECT_EQ(0, saves);
}

// ---- dated copies before a replace ---------------------------------------------

TEST(DatedCopies, TheNewestFiveOfOneKindStay) {
  qbtest::TempDir dir;
  std::string folder = dir / "backup\\";
  for (int i = 1; i <= 7; ++i) ASSERT_TRUE(SaveDatedCopy(folder, "1-我的收藏", "下载前", std::to_string(i)));
  ASSERT_TRUE(SaveDatedCopy(folder, "1-我的收藏", "同步前", "s"));
  ASSERT_TRUE(SaveDatedCopy(folder, "2-工作", "下载前", "w"));
  std::vector<os::DirEntry> all;
  ASSERT_TRUE(os::ListFolder(folder, "*.sc", all));
  std::vector<std::string> kept;
  for (const os::DirEntry& e : all)
    if (e.name.find("1-我的收藏-下载前-") == 0) kept.push_back(qbtest::ReadFileBytes(folder + e.name));
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ((std::vector<std::string>{"3", "4", "5", "6", "7"}), kept);
  // Five, the sync's one, the other file's one.
  EXPECT_EQ(7, std::count_if(all.begin(), all.end(), [](const os::DirEntry& e) { return e.name[0] != '.'; }));
  EXPECT_EQ(dir / "data\\backup\\", BackupFolderOf(dir / "data\\1-我的收藏.sc"));
  EXPECT_EQ("1-我的收藏", FavoritesStem(dir / "data\\1-我的收藏.sc"));
}

// A plain download still replaces the web-address folder, after keeping it;
// the copy holds that folder only, never the program folder beside it.
TEST(DatedCopies, ADownloadKeepsTheFolderItReplaces) {
  qbtest::TempDir dir;
  ASSERT_TRUE(os::CreateFolder(dir / "data"));
  CAppLogic logic;
  logic.m_strProgramDir = dir.Path();
  logic.m_strCurrentFile = "1-我的收藏.sc";
  std::unique_ptr<CMyNodeList> before = TreeOf("A/x=1; A/y=2"), download = TreeOf("B/z=3");
  std::vector<CMyNode*> nodes(before->begin(), before->end());
  before->ReleaseAll();
  CMyNode* programs = new CMyNode("桌面", ProgramCategory, nullptr, 0);
  nodes.push_back(programs);
  nodes.push_back(new CMyNode("记事本", ProgramItem, programs, 0, "C:\\Windows\\"));
  logic.AddNodes(nodes);
  logic.ReplaceWithDownloaded(*download);
  EXPECT_EQ("B; B/z=3", TextOf(logic));
  std::vector<os::DirEntry> copies;
  ASSERT_TRUE(os::ListFolder(dir / "data\\backup\\", "1-我的收藏-下载前-*.sc", copies));
  ASSERT_EQ(1u, copies.size());
  CMyNodeList old;
  ASSERT_TRUE(LoadFavoritesFile(old, dir / "data\\backup\\" + copies[0].name));
  EXPECT_EQ("A; A/x=1; A/y=2", TextOf(old));
  std::vector<CMyNode*> records;
  ASSERT_TRUE(ReadFavoritesRecords(qbtest::ReadFileBytes(dir / "data\\backup\\" + copies[0].name), records));
  EXPECT_EQ(3u, records.size()) << "the program folder's two nodes are not in the copy";
  for (CMyNode* n : records) delete n;
}

}  // namespace

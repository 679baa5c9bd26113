#include <gtest/gtest.h>

#include "panels/item_edit.h"
#include "store/node.h"
#include "testutil.h"
#include "tree_util.h"

using namespace panels;

namespace {
using qbtest::AddNodeTo;

// A tree of three web categories around a program category, and a bookmark
// in the second web category.
struct Tree {
  CMyNodeList list;
  CMyNode* news = AddNodeTo(list, "新闻", UrlCategory, nullptr, 3);
  CMyNode* tools = AddNodeTo(list, "工具", UrlCategory, nullptr, 0);
  CMyNode* programs = AddNodeTo(list, "程序", ProgramCategory, nullptr, 1);
  CMyNode* music = AddNodeTo(list, "音乐", UrlCategory, nullptr, 2);
  CMyNode* item = AddNodeTo(list, "page", UrlItem, tools, 4, "http://a.example/");
};

// The editor's fields as it opens on `item`.
ItemEdits Unchanged(const CMyNode& item) {
  return ItemEdits{item.m_strName, item.m_strAddress, item.m_strNote, item.m_pParent, item.m_bScript != 0};
}

struct FakeCircles {
  bool loggedIn = false;
  std::vector<std::string> calls;
  CircleService Service() {
    CircleService c;
    c.loggedIn = [this] { return loggedIn; };
    c.currentCircle = [] { return std::string("您还未指定要进入的圈"); };
    c.enterCircle = [this](CMyNode* n) {
      calls.push_back("enter " + n->m_strName);
      return 1;
    };
    c.dropOutOfCircle = [this](CMyNode* n) {
      calls.push_back("drop " + n->m_strName);
      return 1;
    };
    return c;
  }
};
}  // namespace

TEST(ItemEditorOpening, OnlyANoteOfExactlyTwoBracketsIsEmptied) {
  CMyNode n;
  n.m_strNote = "<>";
  EmptyBracketNote(n);
  EXPECT_EQ(n.m_strNote, "");
  for (const char* kept : {"<> ", "<a>", "<", ">", "<<>>"}) {
    n.m_strNote = kept;
    EmptyBracketNote(n);
    EXPECT_EQ(n.m_strNote, kept);
  }
}

TEST(ItemEditorOpening, TheCircleBoxIsTickedForGroupWithOrWithoutBrackets) {
  EXPECT_TRUE(CircleTicked("GROUP"));
  EXPECT_TRUE(CircleTicked("<GROUP>"));
  EXPECT_TRUE(CircleTicked("<<GR>OUP>"));
  EXPECT_FALSE(CircleTicked("Reserved"));
  EXPECT_FALSE(CircleTicked("group"));
  EXPECT_FALSE(CircleTicked("GROUP "));
  EXPECT_FALSE(CircleTicked(""));
}

// A calendar time; the month counts from 1.
std::tm CalendarTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(ItemEditorOpening, TheLastVisitReadsYearMonthDayAndTheTime) {
  // The "C" locale's %X is the 24-hour clock.
  EXPECT_EQ(FormatVisitTime(CalendarTime(2026, 1, 5, 9, 7, 3)), "2026年01月05日,09:07:03");
  EXPECT_EQ(FormatVisitTime(CalendarTime(2026, 12, 31, 23, 59, 59)), "2026年12月31日,23:59:59");
  // Seconds since 1970 go through the local time: the date part has its shape.
  std::string local = LastVisitText(1700000000);
  ASSERT_GE(local.size(), 12u);
  EXPECT_EQ(local.substr(0, 4), "2023");
  EXPECT_NE(local.find("年"), std::string::npos);
  EXPECT_NE(local.find("日,"), std::string::npos);
  EXPECT_EQ("", LastVisitText(INT64_MAX)) << "a time past any calendar shows nothing";
}

TEST(ItemEditorOpening, CategoriesAreListedInTreeOrderWithTheParentSelected) {
  Tree t;
  std::vector<CMyNode*> choices = CategoryChoices(t.list);
  ASSERT_EQ(choices.size(), 3u);
  EXPECT_EQ(choices[0], t.news);  // tree order, not slot order
  EXPECT_EQ(choices[1], t.tools);
  EXPECT_EQ(choices[2], t.music);
  EXPECT_EQ(ChoiceOfParent(choices, t.tools), 1);
  EXPECT_EQ(ChoiceOfParent(choices, t.music), 2);
  // A parent not listed (a program category, none at all) selects the first.
  EXPECT_EQ(ChoiceOfParent(choices, t.programs), 0);
  EXPECT_EQ(ChoiceOfParent(choices, nullptr), 0);
  EXPECT_TRUE(CategoryChoices(CMyNodeList()).empty());
}

TEST(ItemEditorSave, NameAndNoteAreCleanedAndTheAddressLosesItsBlanks) {
  Tree t;
  ItemEdits e = Unchanged(*t.item);
  e.name = "My Page: News?";
  e.address = " http://b.example/ a b ";
  e.note = "Read <Later>";
  e.script = true;
  EXPECT_EQ(ApplyItemEdits(t.list, t.item, e), t.tools);
  EXPECT_EQ(t.item->m_strName, "my page news");
  EXPECT_EQ(t.item->m_strAddress, "http://b.example/ab");
  EXPECT_EQ(t.item->m_strNote, "read later");
  EXPECT_EQ(t.item->m_bScript, 1);
  EXPECT_EQ(t.item->m_pParent, t.tools);
  e.script = false;
  e.note = "";
  ApplyItemEdits(t.list, t.item, e);
  EXPECT_EQ(t.item->m_bScript, 0);
  EXPECT_EQ(t.item->m_strNote, "");
  // With no item (deleted while its editor was open) nothing is applied.
  size_t count = t.list.GetCount();
  EXPECT_EQ(ApplyItemEdits(t.list, nullptr, e), nullptr);
  EXPECT_EQ(count, t.list.GetCount());
}

TEST(ItemEditorSave, ANameOrAddressThatCleansToNothingKeepsTheOldOne) {
  Tree t;
  ItemEdits e = Unchanged(*t.item);
  e.name = "???";
  e.address = "   ";
  ApplyItemEdits(t.list, t.item, e);
  EXPECT_EQ(t.item->m_strName, "page");
  EXPECT_EQ(t.item->m_strAddress, "http://a.example/");
  // One byte left is a name.
  e.name = "?x?";
  ApplyItemEdits(t.list, t.item, e);
  EXPECT_EQ(t.item->m_strName, "x");
}

TEST(ItemEditorSave, AnotherCategoryMovesTheItemAndReturnsTheOldParent) {
  Tree t;
  ItemEdits e = Unchanged(*t.item);
  e.category = t.music;
  EXPECT_EQ(ApplyItemEdits(t.list, t.item, e), t.tools);
  EXPECT_EQ(t.item->m_pParent, t.music);
  EXPECT_EQ(t.item->m_nSlot, 4);  // its slot was free there
  // The same category again changes nothing.
  EXPECT_EQ(ApplyItemEdits(t.list, t.item, e), t.music);
  EXPECT_EQ(t.item->m_pParent, t.music);
  EXPECT_EQ(t.item->m_nSlot, 4);
  // A program category is no place for a bookmark; with none chosen the item stays.
  e.category = t.programs;
  ApplyItemEdits(t.list, t.item, e);
  EXPECT_EQ(t.item->m_pParent, t.music);
  e.category = nullptr;
  EXPECT_EQ(ApplyItemEdits(t.list, t.item, e), t.music);
  EXPECT_EQ(t.item->m_pParent, t.music);
}

TEST(ItemEditorSave, ATakenSlotGivesTheFirstFreeOneAndAFullCategoryKeepsTheItem) {
  Tree t;
  for (int slot = 0; slot < 29; ++slot)
    ASSERT_TRUE(AddNodeTo(t.list, "n" + std::to_string(slot), UrlItem, t.news, slot, "http://n/" + std::to_string(slot)));
  // 29 of 30 taken, slot 4 among them: the item goes to the last free slot.
  ItemEdits e = Unchanged(*t.item);
  e.category = t.news;
  ApplyItemEdits(t.list, t.item, e);
  EXPECT_EQ(t.item->m_pParent, t.news);
  EXPECT_EQ(t.item->m_nSlot, 29);
  // Now news is full: another bookmark cannot move in and stays, silently.
  CMyNode* other = AddNodeTo(t.list, "other", UrlItem, t.tools, 7, "http://o/");
  ASSERT_TRUE(other);
  ItemEdits o = Unchanged(*other);
  o.category = t.news;
  o.name = "Other2";
  EXPECT_EQ(ApplyItemEdits(t.list, other, o), t.tools);
  EXPECT_EQ(other->m_pParent, t.tools);
  EXPECT_EQ(other->m_nSlot, 7);
  EXPECT_EQ(other->m_strName, "other2");  // the rest of the edit is kept
}

// The editor's circle box for an item named "page", with the circles it asks
// and the boxes it shows.
class ItemEditorCircleBox : public ::testing::Test {
 protected:
  FakeCircles f;
  qbtest::CRecordingUi ui;
  CMyNode n{"page", UrlItem, nullptr, 0};
};

TEST_F(ItemEditorCircleBox, TheCircleBoxNeedsALoginOnlyForAChange) {
  n.m_strCircle = "Reserved";
  // No change asked: go on, whoever is logged in.
  EXPECT_TRUE(SaveCircleBox(f.Service(), &n, false, ui));
  EXPECT_TRUE(ui.boxes.empty());
  // Ticked while logged out: the login box, stop, nothing sent.
  EXPECT_FALSE(SaveCircleBox(f.Service(), &n, true, ui));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "您还未登录,登录后才能加入圈子！");
  EXPECT_EQ(ui.boxes[0].flags, (unsigned)(qb::kMbOk | qb::kMbIconInformation));
  EXPECT_TRUE(f.calls.empty());
  // Cleared on a circle member while logged out: the other box, mark kept.
  n.m_strCircle = "GROUP";
  EXPECT_FALSE(SaveCircleBox(f.Service(), &n, false, ui));
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text, "您还未登录,登录后才能把自己从该圈子名单中注销！");
  EXPECT_EQ(n.m_strCircle, "GROUP");
  // Logged in: the drop-out goes out and the save goes on.
  f.loggedIn = true;
  EXPECT_TRUE(SaveCircleBox(f.Service(), &n, false, ui));
  EXPECT_EQ(n.m_strCircle, "Reserved");
  n.m_strCircle = "Reserved";
  EXPECT_TRUE(SaveCircleBox(f.Service(), &n, true, ui));
  EXPECT_EQ(f.calls, (std::vector<std::string>{"drop page", "enter page"}));
  EXPECT_EQ(ui.boxes.size(), 2u);
  EXPECT_FALSE(SaveCircleBox(f.Service(), nullptr, true, ui));
}

// The file readers keep a mark with its brackets; the box shows it ticked,
// and an unchanged box must ask for nothing.
TEST_F(ItemEditorCircleBox, ABracketedMarkIsComparedWithoutItsBrackets) {
  n.m_strCircle = "<GROUP>";
  ASSERT_TRUE(CircleTicked(n.m_strCircle));
  // Logged out, unchanged: saved without the login box.
  EXPECT_TRUE(SaveCircleBox(f.Service(), &n, true, ui));
  EXPECT_TRUE(ui.boxes.empty());
  // Logged in, unchanged: no new circle request.
  f.loggedIn = true;
  n.m_strCircle = "<GROUP>";
  EXPECT_TRUE(SaveCircleBox(f.Service(), &n, true, ui));
  EXPECT_TRUE(f.calls.empty());
  EXPECT_EQ(n.m_strCircle, "GROUP");
  // A bracketed "Reserved" unticked stays unasked too; ticking it asks once.
  n.m_strCircle = "<Reserved>";
  EXPECT_TRUE(SaveCircleBox(f.Service(), &n, false, ui));
  EXPECT_TRUE(f.calls.empty());
  n.m_strCircle = "<Reserved>";
  EXPECT_TRUE(SaveCircleBox(f.Service(), &n, true, ui));
  EXPECT_EQ(f.calls, (std::vector<std::string>{"enter page"}));
  // Unticking a bracketed member drops out.
  n.m_strCircle = "<GROUP>";
  EXPECT_TRUE(SaveCircleBox(f.Service(), &n, false, ui));
  EXPECT_EQ(f.calls, (std::vector<std::string>{"enter page", "drop page"}));
  EXPECT_TRUE(ui.boxes.empty());
}

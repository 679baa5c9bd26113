#include <gtest/gtest.h>

#include "model/app_logic.h"
#include "os/os.h"
#include "panels/panel_logic.h"
#include "store/node.h"
#include "testutil.h"
#include "tree_util.h"

using namespace panels;

namespace {
using qbtest::AddNodeTo;
}  // namespace

TEST(Slots, EachDisplayModeShowsTheCategoriesOfItsFolder) {
  EXPECT_EQ(0, CategoryKindOf(DisplayMode::kWeb));
  EXPECT_EQ(2, CategoryKindOf(DisplayMode::kProgram));
}

TEST(Slots, TheFirstNodeInTreeOrderWinsASlot) {
  CMyNodeList list;
  CMyNode* a = AddNodeTo(list, "a", UrlCategory, nullptr, 4);
  CMyNode* b = AddNodeTo(list, "b", UrlCategory, nullptr, 4);
  AddNodeTo(list, "p", ProgramCategory, nullptr, 4);
  AddNodeTo(list, "far", UrlCategory, nullptr, 44);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(CategoryAtSlot(list, UrlCategory, 4), a);
  EXPECT_EQ(CategoryAtSlot(list, ProgramCategory, 4)->m_strName, "p");
  EXPECT_EQ(CategoryAtSlot(list, UrlCategory, 5), nullptr);
  CMyNode* x = AddNodeTo(list, "x", UrlItem, a, 2, "http://x/");
  AddNodeTo(list, "y", UrlItem, a, 2, "http://y/");
  AddNodeTo(list, "z", UrlItem, b, 3, "http://z/");
  EXPECT_EQ(ItemAtSlot(list, a, 2), x);
  EXPECT_EQ(ItemAtSlot(list, a, 3), nullptr);
  EXPECT_EQ(ItemAtSlot(list, nullptr, 2), nullptr);
}

TEST(Slots, AProgramFolderShowsItsFirstThirtyChildren) {
  CMyNodeList list;
  CMyNode* folder = AddNodeTo(list, "桌面", ProgramCategory, nullptr, 0);
  CMyNode* other = AddNodeTo(list, "其他", ProgramCategory, nullptr, 1);
  for (int i = 0; i < 31; ++i) {
    AddNodeTo(list, "f" + std::to_string(i) + ".txt", ProgramItem, folder, 0, "C:\\d\\");
    if (i == 10) AddNodeTo(list, "elsewhere.lnk", ProgramItem, other, 0, "C:\\e\\");
  }
  std::vector<CMyNode*> shown = ProgramFolderItems(list, folder);
  ASSERT_EQ(shown.size(), 30u);
  EXPECT_EQ(shown.front()->m_strName, "f0.txt");
  EXPECT_EQ(shown.back()->m_strName, "f29.txt");
  EXPECT_EQ(ProgramFolderItems(list, other).size(), 1u);
  EXPECT_TRUE(ProgramFolderItems(list, nullptr).empty());
}

TEST(RenameInPlace, CleansRefusesShortAndClashingNames) {
  CAppLogic app;
  CMyNode* cat = AddNodeTo(app, "old", UrlCategory, nullptr, 0);
  AddNodeTo(app, "taken", UrlCategory, nullptr, 1);
  EXPECT_EQ(RenameInPlace(app, cat, "a <b> c"), 1);
  EXPECT_EQ(cat->m_strName, "abc");
  EXPECT_EQ(RenameInPlace(app, cat, " x "), 0);
  EXPECT_EQ(cat->m_strName, "abc");
  EXPECT_EQ(RenameInPlace(app, cat, "ta ken"), 0);  // cleaned, it clashes
  EXPECT_EQ(cat->m_strName, "abc");
  EXPECT_EQ(RenameInPlace(app, cat, "书"), 1);
  EXPECT_EQ(cat->m_strName, "书");
  EXPECT_EQ(RenameInPlace(app, nullptr, "abc"), 0);
}

TEST(RenameInPlace, AProgramFolderIsRenamedOnDisk) {
  qbtest::TempDir dir;
  CAppLogic app;
  ASSERT_TRUE(os::CreateFolder(dir / "tools"));
  CMyNode* cat = AddNodeTo(app, "tools", ProgramCategory, nullptr, 0);
  cat->m_strAddress = dir.Path();
  EXPECT_EQ(RenameInPlace(app, cat, "my tools"), 1);
  EXPECT_TRUE(os::IsFolder(dir / "mytools"));
  EXPECT_FALSE(os::FileExists(dir / "tools"));
  CMyNode* gone = AddNodeTo(app, "gone", ProgramCategory, nullptr, 1);
  gone->m_strAddress = dir.Path();
  EXPECT_EQ(RenameInPlace(app, gone, "back"), 0);
  EXPECT_EQ(gone->m_strName, "gone");
}

TEST(NewCategory, BlanksAroundAndBetweenAndASecondTry) {
  CMyNodeList list;
  CMyNode* n = CreateCategoryInPlace(list, "  a b  ", UrlCategory, 7);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->m_strName, "ab");
  EXPECT_EQ(n->m_nSlot, 7);
  EXPECT_EQ(n->m_strNote, "一级目录");
  EXPECT_EQ(CreateCategoryInPlace(list, "a b", UrlCategory, 8), nullptr);  // the tree refuses "ab" again
  EXPECT_EQ(CreateCategoryInPlace(list, "ab", UrlCategory, 8), nullptr);   // found by its name
  EXPECT_EQ(CreateCategoryInPlace(list, " \t ", UrlCategory, 8), nullptr);
  EXPECT_NE(CreateCategoryInPlace(list, "ab", ProgramCategory, 8), nullptr);  // another kind
  EXPECT_EQ(list.CountKind(UrlCategory), 1);
  // A name typed as it stands in the tree (an imported one keeps its blanks) is taken already.
  ASSERT_TRUE(AddNodeTo(list, "c d", UrlCategory, nullptr, 9));
  EXPECT_EQ(CreateCategoryInPlace(list, " c d ", UrlCategory, 10), nullptr);
  EXPECT_EQ(list.FindNode("cd", UrlCategory), nullptr);
}

TEST(DeleteCategory, ItemsAndCirclesKeepACategory) {
  CMyNodeList list;
  qbtest::CRecordingUi ui;
  CMyNode* full = AddNodeTo(list, "full", UrlCategory, nullptr, 0);
  AddNodeTo(list, "i", UrlItem, full, 0, "http://i/");
  EXPECT_EQ(DeleteCategoryNode(list, full, true, ui), kRefusedHasItems);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "此类下还有子项，请先删除子项!");
  EXPECT_EQ(ui.boxes[0].flags, (unsigned)(qb::kMbOk | qb::kMbIconStop));

  CMyNode* circle = AddNodeTo(list, "circle", UrlCategory, nullptr, 1);
  circle->m_strCircle = "GROUP";
  EXPECT_EQ(DeleteCategoryNode(list, circle, false, ui), kRefusedCircle);
  EXPECT_EQ(ui.boxes.back().flags, (unsigned)(qb::kMbOk | qb::kMbIconInformation));
  EXPECT_EQ(list.FindNode("circle", UrlCategory), circle);
  EXPECT_EQ(DeleteCategoryNode(list, circle, true, ui), kDeleted);
  EXPECT_EQ(list.FindNode("circle", UrlCategory), nullptr);
  // One in no circle goes without a login.
  CMyNode* plain = AddNodeTo(list, "plain", UrlCategory, nullptr, 2);
  EXPECT_EQ(DeleteCategoryNode(list, plain, false, ui), kDeleted);
  EXPECT_EQ(list.FindNode("plain", UrlCategory), nullptr);

  CMyNode* prog = AddNodeTo(list, "prog", ProgramCategory, nullptr, 0);
  EXPECT_EQ(DeleteCategoryNode(list, prog, true, ui), kNotDeleted);
  size_t boxes = ui.boxes.size();
  EXPECT_EQ(DeleteCategoryNode(list, nullptr, true, ui), kNotDeleted);
  EXPECT_EQ(ui.boxes.size(), boxes);
  EXPECT_EQ(list.FindNode("prog", ProgramCategory), prog);
  EXPECT_EQ(ui.boxes.size(), 2u);
}

TEST(DeleteItem, ACircleItemNeedsALoginAndLeavesItsCircleFirst) {
  CMyNodeList list;
  qbtest::CRecordingUi ui;
  CMyNode* cat = AddNodeTo(list, "c", UrlCategory, nullptr, 0);
  CMyNode* item = AddNodeTo(list, "i", UrlItem, cat, 0, "http://i/");
  item->m_strCircle = "GROUP";
  std::vector<std::string> dropped;
  auto dropOut = [](CMyNode* n, void* ctx) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(n->m_strName + ":" + n->m_strCircle);
  };
  EXPECT_EQ(DeleteItemNode(list, item, false, ui, dropOut, &dropped), kRefusedCircle);
  EXPECT_EQ(ui.boxes.back().text, "该网址URL加入了圈子,登录后才能删除！");
  EXPECT_EQ(item->m_strCircle, "GROUP");
  EXPECT_EQ(list.CountChildren(cat), 1);
  EXPECT_EQ(DeleteItemNode(list, item, true, ui, dropOut, &dropped), kDeleted);
  EXPECT_EQ(dropped, std::vector<std::string>{"i:Reserved"});
  EXPECT_EQ(list.CountChildren(cat), 0);
  // An item in no circle goes without a login and leaves no circle.
  size_t boxes = ui.boxes.size();
  AddNodeTo(list, "plain", UrlItem, cat, 0, "http://p/");
  EXPECT_EQ(DeleteItemNode(list, list.FindNode("plain", UrlItem), false, ui, dropOut, &dropped), kDeleted);
  EXPECT_EQ(dropped.size(), 1u);
  EXPECT_EQ(ui.boxes.size(), boxes);

  CMyNode loose;
  loose.m_nKind = UrlItem;
  EXPECT_EQ(DeleteItemNode(list, &loose, true, ui, nullptr, nullptr), kNotDeleted);
  EXPECT_EQ(DeleteItemNode(list, cat, true, ui, nullptr, nullptr), kNotDeleted);
  EXPECT_EQ(DeleteItemNode(list, nullptr, true, ui, nullptr, nullptr), kNotDeleted);  // gone meanwhile
}

TEST(DragItem, OntoAFullCategoryLeavesItInPlace) {
  CMyNodeList list;
  CMyNode* from = AddNodeTo(list, "from", UrlCategory, nullptr, 0);
  CMyNode* full = AddNodeTo(list, "full", UrlCategory, nullptr, 1);
  for (int i = 0; i < 30; ++i) AddNodeTo(list, "f" + std::to_string(i), UrlItem, full, i, "http://f/" + std::to_string(i));
  CMyNode* item = AddNodeTo(list, "moving", UrlItem, from, 3, "http://m/");
  EXPECT_EQ(list.MoveItemToCategory(item, full), 0);
  EXPECT_EQ(item->m_pParent, from);
  EXPECT_EQ(ItemAtSlot(list, from, 3), item);
}

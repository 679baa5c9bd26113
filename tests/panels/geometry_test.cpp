#include <gtest/gtest.h>

#include "panels/geometry.h"

using namespace panels;

TEST(TabGeometry, CornerCasesOfTheHitAreas) {
  // Above the first row and right of the second column nothing is hit.
  EXPECT_EQ(HitTestTab(1, 15), -1);
  EXPECT_FALSE(InTabPanel(1, 15));
  EXPECT_FALSE(InTabPanel(200, 17));
  EXPECT_EQ(HitTestTab(1, 17), 0);
  // Rows 0 and 1 overlap from y 47 to 51: the upper row wins.
  EXPECT_EQ(HitTestTab(50, 47), 0);
  EXPECT_EQ(HitTestTab(50, 51), 0);
  EXPECT_EQ(HitTestTab(50, 52), 1);
  EXPECT_EQ(HitTestTab(111, 17), 22);
  // The column gap: x 103..110 belongs to no tab.
  EXPECT_EQ(HitTestTab(102, 17), 0);
  EXPECT_EQ(HitTestTab(103, 17), -1);
  EXPECT_EQ(HitTestTab(110, 17), -1);
  // The last slot and just past it.
  EXPECT_EQ(HitTestTab(212, 17 + 30 * 21 + 34), 43);
  EXPECT_EQ(HitTestTab(212, 17 + 30 * 21 + 35), -1);
  // Negative coordinates compare as huge unsigned numbers.
  EXPECT_EQ(HitTestTab(-1, 20), -1);
  EXPECT_EQ(HitTestTab(5, -20), -1);
  EXPECT_EQ(HitTestTab(0, 20), -1);
}

TEST(TabGeometry, RectanglesPerSlotAndInvalidSlots) {
  PanelRect r = TabRect(0);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 1);
  EXPECT_EQ(r.right, 99);
  EXPECT_EQ(r.bottom, 27);
  r = TabRect(23);  // column 1, row 1
  EXPECT_EQ(r.left, 111);
  EXPECT_EQ(r.top, 31);
  EXPECT_EQ(r.right, 209);
  EXPECT_EQ(r.bottom, 57);
  EXPECT_TRUE(TabRect(-1).IsEmpty());
  EXPECT_TRUE(TabRect(44).IsEmpty());
  EXPECT_FALSE(TabRect(43).IsEmpty());
  EXPECT_TRUE(TabHitArea(-1).IsEmpty());
  EXPECT_TRUE(TabHitArea(44).IsEmpty());
  EXPECT_EQ(111, TabHitArea(43).left);  // the second column, row 22
  EXPECT_EQ(647, TabHitArea(43).top);
  EXPECT_EQ(212, TabHitArea(43).right);
  EXPECT_EQ(681, TabHitArea(43).bottom);
  // Every slot's hit area leads back to the slot (below the overlap).
  for (int s = 0; s < kTabSlots; ++s) {
    PanelRect h = TabHitArea(s);
    EXPECT_EQ(HitTestTab(h.left, h.bottom - 5), s) << s;
  }
}

TEST(ItemGeometry, CornerCasesOfTheHitAreas) {
  EXPECT_EQ(HitTestItemSlot(364, 41), 0);  // in slots 0 and 1: the left one wins
  EXPECT_EQ(HitTestItemSlot(366, 41), 0);
  EXPECT_EQ(HitTestItemSlot(367, 41), 1);
  EXPECT_EQ(HitTestItemSlot(199, 41), -1);
  EXPECT_EQ(HitTestItemSlot(200, 40), -1);
  // Rows overlap by one pixel at y 156: the upper row wins.
  EXPECT_EQ(HitTestItemSlot(250, 156), 0);
  EXPECT_EQ(HitTestItemSlot(250, 157), 5);
  EXPECT_EQ(HitTestItemSlot(200 + 164 * 4 + 166, 156 + 115 * 5), 29);
  EXPECT_EQ(HitTestItemSlot(200 + 164 * 4 + 167, 156 + 115 * 5), -1);
  EXPECT_EQ(HitTestItemSlot(-300, 50), -1);
}

TEST(ItemGeometry, ButtonRectangles) {
  PanelRect r = ItemButtonRect(7);  // row 1, column 2
  EXPECT_EQ(r.left, 328);
  EXPECT_EQ(r.top, 116);
  EXPECT_EQ(r.right, 479);
  EXPECT_EQ(r.bottom, 216);
  EXPECT_TRUE(ItemButtonRect(30).IsEmpty());
  EXPECT_TRUE(ItemButtonRect(-1).IsEmpty());
  // The first and the last button, at the corners.
  EXPECT_EQ(0, ItemButtonRect(0).left);
  EXPECT_EQ(1, ItemButtonRect(0).top);
  EXPECT_EQ(151, ItemButtonRect(0).right);
  EXPECT_EQ(101, ItemButtonRect(0).bottom);
  EXPECT_EQ(656, ItemButtonRect(29).left);
  EXPECT_EQ(576, ItemButtonRect(29).top);
  EXPECT_TRUE(ItemHitArea(-1).IsEmpty());
  EXPECT_TRUE(ItemHitArea(30).IsEmpty());
  EXPECT_EQ(856, ItemHitArea(29).left);  // row 6, column 5
  EXPECT_EQ(616, ItemHitArea(29).top);
  EXPECT_EQ(1022, ItemHitArea(29).right);
  EXPECT_EQ(731, ItemHitArea(29).bottom);
  PanelRect p = ProgramButtonRect(7);
  EXPECT_EQ(p.left, 328);
  EXPECT_EQ(p.right, 487);
  EXPECT_TRUE(ProgramButtonRect(-1).IsEmpty());
}

TEST(DropRanges, AreTwoPixelsOffThePanelChecks) {
  EXPECT_FALSE(InTabDropRange(10, 17));
  EXPECT_TRUE(InTabDropRange(10, 18));
  EXPECT_TRUE(InTabDropRange(10, 675));
  EXPECT_FALSE(InTabPanel(10, 675));
  EXPECT_FALSE(InItemDropRange(199, 100));
  EXPECT_TRUE(InItemDropRange(1024, 694));
  EXPECT_FALSE(InItemDropRange(1025, 100));
}

TEST(DropRanges, EveryEdgeHoldsItsLastPixelAndNotTheNext) {
  struct Range {
    bool (*in)(int, int);
    int left, top, right, bottom;
  } ranges[] = {{InTabPanel, 0, 16, 199, 673}, {InTabDropRange, 0, 18, 199, 675}, {InItemDropRange, 200, 18, 1024, 694}};
  for (const Range& r : ranges) {
    int midX = (r.left + r.right) / 2, midY = (r.top + r.bottom) / 2;
    EXPECT_TRUE(r.in(r.left, midY)) << r.left;
    EXPECT_FALSE(r.in(r.left - 1, midY)) << r.left;
    EXPECT_TRUE(r.in(r.right, midY)) << r.right;
    EXPECT_FALSE(r.in(r.right + 1, midY)) << r.right;
    EXPECT_TRUE(r.in(midX, r.top)) << r.top;
    EXPECT_FALSE(r.in(midX, r.top - 1)) << r.top;
    EXPECT_TRUE(r.in(midX, r.bottom)) << r.bottom;
    EXPECT_FALSE(r.in(midX, r.bottom + 1)) << r.bottom;
  }
}

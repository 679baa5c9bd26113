// Where the tabs and buttons of the three panels sit, and which slot a cursor
// position falls on. Pure arithmetic, shared by the windows and the tests.
#pragma once

namespace panels {

struct PanelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool IsEmpty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
};

enum : int {
  kTabSlots = 44,       // two columns of 22
  kTabRows = 22,
  kItemSlots = 30,      // six rows of five
  kItemColumns = 5,
  kItemRows = 6,
  kFirstTabId = 1801,
  kFirstItemId = 1201,
  kFirstProgramId = 1501,
};

// Tab of `slot` in the category panel's client area; all zero for a bad slot.
PanelRect TabRect(int slot);
// Inclusive hit area of a tab, in screen coordinates.
PanelRect TabHitArea(int slot);
// Slot under the cursor's screen position, or -1. Rows overlap by five
// pixels and the upper row wins.
int HitTestTab(int x, int y);
// The range of cursor positions in which the category panel reacts at all.
bool InTabPanel(int x, int y);

// Item button of `slot` in the item panel's client area (all zero when bad).
PanelRect ItemButtonRect(int slot);
PanelRect ItemHitArea(int slot);
// Slot under the cursor's screen position, or -1; left neighbours win.
int HitTestItemSlot(int x, int y);
// Program-folder button `number` (the same grid, eight pixels wider).
PanelRect ProgramButtonRect(int number);

// Where a dragged item may be dropped: onto a tab, or onto a free button.
bool InTabDropRange(int x, int y);
bool InItemDropRange(int x, int y);

}  // namespace panels

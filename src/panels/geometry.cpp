#include "panels/geometry.h"

namespace panels {

namespace {
// Bounds are compared as unsigned numbers, so a negative coordinate is a
// very large one and never inside.
bool Holds(const PanelRect& r, int x, int y) {
  unsigned ux = (unsigned)x, uy = (unsigned)y;
  return ux >= (unsigned)r.left && ux <= (unsigned)r.right && uy >= (unsigned)r.top && uy <= (unsigned)r.bottom;
}

// The cell at column `col` and row `row` of a grid whose first cell is `first`
// and whose cells are `dx` apart across and `dy` apart down.
PanelRect GridCell(PanelRect first, int col, int row, int dx, int dy) {
  first.left += dx * col;
  first.right += dx * col;
  first.top += dy * row;
  first.bottom += dy * row;
  return first;
}
}  // namespace

PanelRect TabRect(int slot) {
  if (slot < 0 || slot >= kTabSlots) return PanelRect();
  return GridCell({1, 1, 99, 27}, slot / kTabRows, slot % kTabRows, 110, 30);
}

PanelRect TabHitArea(int slot) {
  if (slot < 0 || slot >= kTabSlots) return PanelRect();
  return GridCell({1, 17, 102, 51}, slot / kTabRows, slot % kTabRows, 110, 30);
}

int HitTestTab(int x, int y) {
  for (int slot = 0; slot < kTabSlots; ++slot)
    if (Holds(TabHitArea(slot), x, y)) return slot;
  return -1;
}

bool InTabPanel(int x, int y) { return x >= 0 && x <= 199 && y >= 16 && y <= 673; }

PanelRect ItemButtonRect(int slot) {
  if (slot < 0 || slot >= kItemSlots) return PanelRect();
  return GridCell({0, 1, 151, 101}, slot % kItemColumns, slot / kItemColumns, 164, 115);
}

PanelRect ItemHitArea(int slot) {
  if (slot < 0 || slot >= kItemSlots) return PanelRect();
  return GridCell({200, 41, 366, 156}, slot % kItemColumns, slot / kItemColumns, 164, 115);
}

int HitTestItemSlot(int x, int y) {
  for (int slot = 0; slot < kItemSlots; ++slot)
    if (Holds(ItemHitArea(slot), x, y)) return slot;
  return -1;
}

PanelRect ProgramButtonRect(int number) {
  PanelRect r = ItemButtonRect(number);
  if (!r.IsEmpty()) r.right += 8;
  return r;
}

bool InTabDropRange(int x, int y) { return x >= 0 && x <= 199 && y >= 18 && y <= 675; }
bool InItemDropRange(int x, int y) { return x >= 200 && x <= 1024 && y >= 18 && y <= 694; }

}  // namespace panels

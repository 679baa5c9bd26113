#include "panels/geometry.h"

namespace panels {

namespace {
// Bounds are compared as unsigned numbers, so a negative coordinate is a
// very large one and never inside.
bool Holds(const PanelRect& r, int x, int y) {
  unsigned ux = (unsigned)x, uy = (unsigned)y;
  return ux >= (unsigned)r.left && ux <= (unsigned)r.right && uy >= (unsigned)r.top && uy <= (unsigned)r.bottom;
}
}  // namespace

PanelRect TabRect(int slot) {
  PanelRect r;
  if (slot < 0 || slot >= kTabSlots) return r;
  int col = slot / kTabRows, row = slot % kTabRows;
  r.left = 1 + 110 * col;
  r.top = 1 + 30 * row;
  r.right = 99 + 110 * col;
  r.bottom = 27 + 30 * row;
  return r;
}

PanelRect TabHitArea(int slot) {
  PanelRect r;
  if (slot < 0 || slot >= kTabSlots) return r;
  int col = slot / kTabRows, row = slot % kTabRows;
  r.left = 1 + 110 * col;
  r.top = 17 + 30 * row;
  r.right = 102 + 110 * col;
  r.bottom = 51 + 30 * row;
  return r;
}

int HitTestTab(int x, int y) {
  for (int slot = 0; slot < kTabSlots; ++slot)
    if (Holds(TabHitArea(slot), x, y)) return slot;
  return -1;
}

bool InTabPanel(int x, int y) { return x >= 0 && x <= 199 && y >= 16 && y <= 673; }

PanelRect ItemButtonRect(int slot) {
  PanelRect r;
  if (slot < 0 || slot >= kItemSlots) return r;
  int col = slot % kItemColumns, row = slot / kItemColumns;
  r.left = 164 * col;
  r.top = 1 + 115 * row;
  r.right = 164 * col + 151;
  r.bottom = 101 + 115 * row;
  return r;
}

PanelRect ItemHitArea(int slot) {
  PanelRect r;
  if (slot < 0 || slot >= kItemSlots) return r;
  int col = slot % kItemColumns, row = slot / kItemColumns;
  r.left = 200 + 164 * col;
  r.top = 41 + 115 * row;
  r.right = 366 + 164 * col;
  r.bottom = 156 + 115 * row;
  return r;
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

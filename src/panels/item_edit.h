// What the item editor decides apart from its window: what it shows when it
// opens and what a save writes into the bookmark.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "base/ui.h"
#include "panels/circles.h"

class CMyNode;
class CMyNodeList;

namespace panels {

// A note of exactly "<>" stands for no note: it is emptied in the node
// itself when the editor opens.
void EmptyBracketNote(CMyNode& item);

// The "加入圈子" box at opening: the circle mark with every '<' and '>'
// removed reads "GROUP".
bool CircleTicked(const std::string& circle);

// The last-visit field: "%Y年%m月%d日,%X" of the given broken-down time, and
// of a time in seconds since 1970 taken in local time.
std::string FormatVisitTime(const std::tm& when);
std::string LastVisitText(int64_t seconds);

// The address as stored: every blank taken out.
std::string AddressWithoutSpaces(const std::string& typed);

// The category list: every web category in tree order.
std::vector<CMyNode*> CategoryChoices(const CMyNodeList& list);
// The entry to select for a bookmark: its parent's, else the first (0).
int ChoiceOfParent(const std::vector<CMyNode*>& choices, const CMyNode* parent);

// What the editor's fields hold at "保存".
struct ItemEdits {
  std::string name;
  std::string address;
  std::string note;
  CMyNode* category = nullptr;  // the selected entry's node; null when none
  bool script = false;
};

// The circle box at "保存": asks for the circle or drops out of it when its
// state differs from the node's mark (through JoinCircleCheckBox). False when
// the user must log in first: the box was shown, the editor stays open and
// nothing may be saved.
bool SaveCircleBox(const CircleService& circles, CMyNode* item, bool ticked, qb::IUserInterface& ui);

// Writes the fields into the bookmark: name and note through CleanName, the
// address without blanks, the move to another category (a full one leaves
// the item where it was), the script flag. A name or an address that cleans
// down to nothing keeps the old one: a bookmark without a name has no
// caption, and one without an address opens nothing. Returns the parent the
// item had before.
CMyNode* ApplyItemEdits(CMyNodeList& list, CMyNode* item, const ItemEdits& edits);

}  // namespace panels

// The three-way merge of the web-address folder (kinds 0 and 1) that a sync
// makes of the tree as this machine last synced it (the base), the tree here
// (local) and the tree on the server (remote).
//
// How nodes are recognised:
//   - a category by its name: a category renamed on one side counts as the
//     old one deleted and a new one added there (its items follow as moves;
//     an old category the other side put something into stays with that);
//   - an item by its address within its category (among equal addresses in
//     one category, the one of equal name first, then in list order); an
//     address gone from one category and new in another on the same side is
//     that item moved.
// The rules, for each category or item:
//   - added on either side: kept (the first sync, with no base, takes the
//     union of both trees and deletes nothing);
//   - deleted on one side and unchanged on the other: deleted; deleted on one
//     side and edited on the other (name, note, script flag, category): the
//     edited one is kept;
//   - changed on one side only: the change wins;
//   - name, note or category changed differently on both sides: both are
//     kept, the other machine's copy under its name + " (另一台电脑)";
//     position, icon, circle mark and script flag changed differently on both
//     sides take this machine's, visit counts add up what each side added.
// The result keeps the tree's limits: a category holding more than 30 items
// goes on in "name2", "name3"… as the imports do; what finds no tab or
// button is left out and counted.
#pragma once
#include <cstddef>
#include <string>

#include "store/node.h"

struct MergeCounts {
  int added = 0;      // categories and items in the result that this machine did not have
  int removed = 0;    // categories and items of this machine that the other side deleted
  int keptTwice = 0;  // changed differently on both sides: both versions kept
  int notPlaced = 0;  // no free tab or button for them: left out
};

extern const char kOtherMachineMark[];  // " (另一台电脑)"
// The longest name the merge gives a copy, in bytes, its mark included.
constexpr size_t kMergedNameMax = 254;

// The name of the other machine's copy: `name` (without a mark it may carry
// already, cut at a whole character so that the whole fits kMergedNameMax)
// and the mark, numbered from the second copy on: " (另一台电脑2)".
std::string OtherMachineName(const std::string& name, int number = 1);

// Fills `out` (empty; its base directory gives default icons) with the merge
// of the web-address folders of the three lists; program nodes are not
// looked at. `base` null: the first sync. Items of `remote` may carry their
// category by name only (m_strParentName, as a download reads them).
MergeCounts MergeWebFolders(const CMyNodeList* base, const CMyNodeList& local, const CMyNodeList& remote,
                            CMyNodeList& out);

// The web-address folders hold the same nodes in the same order, equal in
// every field the server keeps (a sync whose result is the server's tree
// has nothing to upload).
bool SameWebFolder(const CMyNodeList& a, const CMyNodeList& b);

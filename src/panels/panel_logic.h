// What the panels decide about the tree, apart from the windows: which node
// a slot shows, and the category and item edits made in place.
#pragma once
#include <string>
#include <vector>

#include "base/ui.h"

class CAppLogic;
class CMyNode;
class CMyNodeList;

namespace panels {

// What the main window shows: the web-address folder or the program folder.
// A mode is not a node kind; CategoryKindOf names the kind its tabs show.
enum class DisplayMode { kWeb, kProgram };
int CategoryKindOf(DisplayMode mode);  // UrlCategory or ProgramCategory

// The category shown in a tab slot: the first node in tree order of that
// kind and slot; null when none.
CMyNode* CategoryAtSlot(const CMyNodeList& list, int kind, int slot);
// The item shown in a button slot of a category (first in tree order).
CMyNode* ItemAtSlot(const CMyNodeList& list, const CMyNode* category, int slot);
// The children of a program category in tree order, at most 30.
std::vector<CMyNode*> ProgramFolderItems(const CMyNodeList& list, const CMyNode* category);
// The children of a category in tree order.
std::vector<CMyNode*> ChildrenOf(const CMyNodeList& list, const CMyNode* category);

// A category renamed in its tab: blanks and angle brackets dropped; a name
// of one byte or less, or one the tree refuses, leaves the old name. 1 when
// the name changed.
int RenameInPlace(CAppLogic& app, CMyNode* category, const std::string& typed);

// A new category typed into an empty slot. Created (and returned) unless the
// text is blank, the trimmed text names a category of that kind already, or
// the tree refuses the blank-free name; null then.
CMyNode* CreateCategoryInPlace(CMyNodeList& list, const std::string& typed, int kind, int slot);

// The outcome of a delete command.
enum DeleteOutcome { kDeleted, kRefusedHasItems, kRefusedCircle, kNotDeleted };
// Deletes a web-address category without items, telling the user why not
// otherwise. A category in a circle needs a login first. The node is freed.
DeleteOutcome DeleteCategoryNode(CMyNodeList& list, CMyNode* category, bool loggedIn, qb::IUserInterface& ui);
// Deletes a bookmark; one in a circle only when logged in, after `dropOut`
// (the circle service) has been told. The node is freed when the tree held it.
DeleteOutcome DeleteItemNode(CMyNodeList& list, CMyNode* item, bool loggedIn, qb::IUserInterface& ui,
                             void (*dropOut)(CMyNode*, void*), void* context);

}  // namespace panels

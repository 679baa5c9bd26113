// Favorites files (.sc, legacy .db) and single-category bookmark files: a
// 32-bit record count followed by that many node records, nothing else.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/ui.h"
#include "store/node.h"

struct TopVisited {
  std::string m_strName;
  std::string m_strAddress;
  int32_t m_nVisits = 0;
};
constexpr size_t kTopVisitedMax = 38;

extern const char kBackupFileName[];  // "上次收藏.bak"

// The bytes of a file holding `nodes` in this order.
std::string FavoritesFileBytes(const std::vector<const CMyNode*>& nodes);

// Reads every record of a file image; the nodes are new and unjoined. Nothing
// is returned unless all the records are complete.
int ReadFavoritesRecords(const std::string& bytes, std::vector<CMyNode*>& out);

// The bytes hold every record their count announces.
bool IsCompleteFavoritesFile(const std::string& bytes);

// Reads a favorites file into `list`: items join their category by name, items
// without one are dropped. Returns 0 and leaves `list` as it was when the
// file cannot be read completely. When `path` is missing, a complete
// `path` + ".new" left by an interrupted save takes its place first.
int LoadFavoritesFile(CMyNodeList& list, const std::string& path);

// Writes `bytes` to `path` completely and on disk before the previous
// contents of `path` go into `backup` (when `backup` is not empty); the last
// step is one atomic replace (os::SaveFileReplacing).
int ReplaceFileKeepingBackup(const std::string& path, const std::string& backup, const std::string& bytes);

// Every node of kind 0 or 1, in list order, to dataDir + name, the previous
// contents kept as dataDir + "上次收藏.bak".
int SaveFavoritesFile(const CMyNodeList& list, const std::string& dataDir, const std::string& name);

// A bookmark file: the category and its children, in list order.
int WriteBookmark(const CMyNodeList& list, const std::string& path, const CMyNode* category);

// Reads a bookmark file and adds its category (given `slot`) and items to
// `list`; a category name that is taken already gives the duplicate-name box
// and adds nothing (still 1).
int ImportBookmark(CMyNodeList& list, const std::string& path, int slot, qb::IUserInterface* ui);

// The web-address folder becomes the downloaded one; program nodes stay, after
// it. `download` is emptied.
void ReplaceWebFolder(CMyNodeList& list, CMyNodeList& download);

// Appends the at most 38 most visited bookmarks, most visited first.
void BuildTopVisitedList(const CMyNodeList& list, std::vector<TopVisited>& out);

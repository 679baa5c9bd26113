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
// The file is read through a window of kFavoritesReadWindow bytes (or the
// file's size when smaller), filled again as its records are taken, so that
// a large file needs no memory of its size; the window grows for a record
// larger than itself.
int LoadFavoritesFile(CMyNodeList& list, const std::string& path);
constexpr size_t kFavoritesReadWindow = 1 << 18;

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

// The web-address folder (kinds 0 and 1) of `list` as a favorites file holds it.
std::string WebFolderBytes(const CMyNodeList& list);

// Dated copies of a favorites file's web-address folder, kept before a
// download or a sync replaces it, so that it can be brought back: in the
// folder "backup\" beside the favorites file, named
// "<stem>-<what>-<YYYYMMDD-HHMMSS>-<NN>.sc" (NN counts copies made within
// one second), only the newest kDatedCopiesKept of one stem and kind kept.
constexpr size_t kDatedCopiesKept = 5;
extern const char kBackupFolderName[];  // "backup"
std::string BackupFolderOf(const std::string& favoritesPath);
// The file's name without its folder and ".sc": the stem of its dated copies.
std::string FavoritesStem(const std::string& favoritesPath);
// `stem`: the favorites file's name without ".sc". 1 when the copy was saved.
int SaveDatedCopy(const std::string& folder, const std::string& stem, const std::string& what,
                  const std::string& bytes, size_t keep = kDatedCopiesKept);
// The base of the sync of the favorites file at `path` for one user: the tree
// as this machine last synced it, beside the file.
std::string SyncBasePath(const std::string& favoritesPath, int32_t user);

// Appends the at most 38 most visited bookmarks, most visited first.
void BuildTopVisitedList(const CMyNodeList& list, std::vector<TopVisited>& out);

// The bookmarks of the Chromium-family browsers (Chrome, Edge, Brave,
// Vivaldi, Opera, Chromium, 360): the "Bookmarks" JSON file of a profile.
// Folders directly under the bookmark bar, "other bookmarks", "mobile
// bookmarks" and Opera's own roots under "custom_root" (Speed Dial, the user
// root, unsorted, pinboard; not the trash) become categories; deeper folders are flattened into their
// first-level folder; bookmarks lying directly in one of the three roots go
// into a category named after that root. The bookmarks are placed within
// the tree's limits as every import of other programs' bookmarks is
// (CWebImport): a folder of more than 30 goes on in "name2", "name3" … while
// tabs are free.
#pragma once
#include <string>
#include <vector>

#include "store/node.h"

struct ChromiumImport {
  int categories = 0;  // categories made
  int items = 0;       // bookmarks added
  // Bookmarks left out: no free tab left, already present, in the trash or a
  // root no browser shows, or an address that cannot be opened from here
  // (script, data, too long).
  int skipped = 0;
  // The names of the bookmarks left out for a "javascript:" or "data:"
  // address (a bookmarklet runs only inside the browser), in the tree's text.
  std::vector<std::string> browserOnly;
};

// A Bookmarks file larger than this is refused without being read.
constexpr size_t kChromiumBookmarksMaxBytes = 32u << 20;
// Addresses longer than this are left out (the longest address the system's
// address functions take).
constexpr size_t kChromiumAddressMax = 2083;

// Adds the bookmarks of a Bookmarks file's text to `list`. The whole file is
// checked before anything is added: on an error the result is 0, `error`
// says what is wrong and the list is unchanged.
int ImportChromiumBookmarks(CMyNodeList& list, const std::string& json, ChromiumImport& result, std::string& error);
// The same from a file; a missing, unreadable or oversized file is an error.
int ImportChromiumBookmarksFile(CMyNodeList& list, const std::string& path, ChromiumImport& result,
                                std::string& error);

// The Bookmarks files of the default profiles of the Chromium-family browsers
// installed for this user, under the local application data folder (Chrome,
// Edge, Brave, Vivaldi, Chromium, 360) and then the roaming one (Opera, Opera
// GX), either ending in '\' or not, in a fixed browser order; only files that
// exist. An empty folder name is passed over.
std::vector<std::string> ChromiumBookmarkFiles(const std::string& localAppData,
                                               const std::string& roamingAppData = std::string());
// The first start's import: every file of ChromiumBookmarkFiles in turn; a
// broken file is passed over. Returns the number of bookmarks added.
int ImportChromiumProfiles(CMyNodeList& list, const std::string& localAppData,
                           const std::string& roamingAppData = std::string());

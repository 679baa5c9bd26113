// Bookmark files in the HTML format that browsers and bookmark services
// export ("NETSCAPE-Bookmark-file-1"): folders of links in nested <DL> lists.
#pragma once
#include <string>

#include "store/node.h"

struct BookmarkImportResult {
  int links = 0;        // links added to the tree
  int notImported = 0;  // links left out: every category slot was taken
  int duplicates = 0;   // links equal to one already in their category
};

// Adds the bookmarks in `bytes` (a whole file) to the web-address folder of
// `list`: each top-level folder becomes a category (deeper folders are
// flattened into it), links outside every folder go to the category "目录名".
int ImportBookmarkHtml(CMyNodeList& list, const std::string& bytes, BookmarkImportResult& result);

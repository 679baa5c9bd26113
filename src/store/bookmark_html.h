// Bookmark files in the HTML format that browsers and bookmark services
// export ("NETSCAPE-Bookmark-file-1"): folders of links in nested <DL> lists.
#pragma once
#include <string>

#include "store/node.h"

struct BookmarkImportResult {
  int links = 0;        // links added to the tree
  int notImported = 0;  // links left out: every category tab was taken
  int duplicates = 0;   // links equal to one already in their category
};

// Adds the bookmarks in `bytes` (a whole file) to the web-address folder of
// `list`. Each top-level folder becomes a category (deeper folders are
// flattened into it; a folder's description becomes the category's note);
// links outside every folder go to the category "目录名"; a link's
// description becomes its note. The tree's limits hold (CWebImport): a folder
// with more than 30 links goes on in "name2", "name3" … while tabs are free.
// Links in comments are not links. Returns 1.
int ImportBookmarkHtml(CMyNodeList& list, const std::string& bytes, BookmarkImportResult& result);

// The file's text as UTF-8: by its byte-order mark, else by the charset its
// <META> declares, else as UTF-8 when the bytes are valid UTF-8, else as code
// page 936.
std::string BookmarkHtmlToUtf8(const std::string& bytes);

// What the import box says when links were left out; empty when none were.
std::string ImportShortfallText(const BookmarkImportResult& result);

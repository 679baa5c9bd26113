// Bookmark HTML files (the exports of browsers and bookmark services), as
// the program and qimbo-tool fav import-html read them. Nothing imported is
// out of sight: every category has a tab of its own, every link a button of
// its own in its category, and the count of links told is the count added.
#include "fuzz_util.h"
#include "store/bookmark_html.h"
#include "store/node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes((const char*)data, size);
  BookmarkHtmlToUtf8(bytes);

  CMyNodeList list;
  list.m_strBaseDir = "C:\\Qimbo\\";
  BookmarkImportResult result;
  FUZZ_CHECK(ImportBookmarkHtml(list, bytes, result));
  FUZZ_CHECK(result.links >= 0 && result.notImported >= 0 && result.duplicates >= 0);
  FUZZ_CHECK(qfuzz::CheckImportedTree(list) == result.links);
  if (result.notImported > 0) FUZZ_CHECK(!ImportShortfallText(result).empty());
  return 0;
}

// Bookmark HTML files (the exports of browsers and bookmark services), as
// the program and qimbo-tool fav import-html read them. Nothing imported is
// out of sight: every category has a tab of its own, every link a button of
// its own in its category, and the count of links told is the count added.
#include <set>
#include <utility>

#include "fuzz_util.h"
#include "store/bookmark_html.h"
#include "store/favorites_file.h"
#include "store/node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes((const char*)data, size);
  BookmarkHtmlToUtf8(bytes);

  CMyNodeList list;
  list.m_strBaseDir = "C:\\Qimbo\\";
  BookmarkImportResult result;
  FUZZ_CHECK(ImportBookmarkHtml(list, bytes, result));
  FUZZ_CHECK(result.links >= 0 && result.notImported >= 0 && result.duplicates >= 0);
  int links = 0;
  std::set<int> tabs;
  std::set<std::pair<const CMyNode*, int>> buttons;
  for (const CMyNode* n : list) {
    if (n->m_nKind == UrlCategory) {
      FUZZ_CHECK(n->m_nSlot >= 0 && n->m_nSlot < 44);
      FUZZ_CHECK(tabs.insert(n->m_nSlot).second);
    } else {
      FUZZ_CHECK(n->m_nKind == UrlItem);
      FUZZ_CHECK(n->m_pParent != nullptr && n->m_pParent->m_nKind == UrlCategory);
      FUZZ_CHECK(n->m_nSlot >= 0 && n->m_nSlot < 30);
      FUZZ_CHECK(buttons.insert({n->m_pParent, n->m_nSlot}).second);
      ++links;
    }
  }
  FUZZ_CHECK(links == result.links);
  if (result.notImported > 0) FUZZ_CHECK(!ImportShortfallText(result).empty());

  // Saved as the tool saves it, it loads as it is.
  std::vector<const CMyNode*> nodes(list.begin(), list.end());
  std::string saved = FavoritesFileBytes(nodes);
  CMyNodeList back;
  FUZZ_CHECK(LoadFavoritesFile(back, qfuzz::WriteScratch("out.sc", saved)));
  FUZZ_CHECK(back.GetCount() == list.GetCount());
  return 0;
}

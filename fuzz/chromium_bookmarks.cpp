// The Bookmarks JSON file of the Chromium-family browsers, as the first
// start and qimbo-tool fav import-chromium read it. A file is taken whole or
// not at all: a refused one leaves the tree as it was and says why; a taken
// one puts every bookmark it counts at a button of its own, in a category
// with a tab of its own, and saves and loads back as it is.
#include <set>
#include <utility>

#include "fuzz_util.h"
#include "store/favorites_file.h"
#include "store/import_chromium.h"
#include "store/node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string json((const char*)data, size);
  CMyNodeList list;
  list.m_strBaseDir = "C:\\Qimbo\\";
  // One category and item already there: a refused file must not touch them,
  // and a taken one must not put a second item at their button.
  CMyNode* mine = new CMyNode;
  mine->m_strName = "我的";
  mine->m_nKind = UrlCategory;
  mine->m_nSlot = 0;
  list.AddNode(mine);
  CMyNode* item = new CMyNode;
  item->m_strName = "mail";
  item->m_nKind = UrlItem;
  item->m_strAddress = "http://mail.example/";
  item->m_pParent = mine;
  item->m_nSlot = 0;
  list.AddNode(item);
  size_t before = list.GetCount();

  ChromiumImport result;
  std::string error;
  if (!ImportChromiumBookmarks(list, json, result, error)) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(list.GetCount() == before);
    return 0;
  }
  FUZZ_CHECK(result.categories >= 0 && result.items >= 0 && result.skipped >= 0);
  FUZZ_CHECK(list.GetCount() == before + (size_t)result.categories + (size_t)result.items);
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
      FUZZ_CHECK(!n->m_strAddress.empty() && n->m_strAddress.size() <= kChromiumAddressMax);
    }
  }
  std::vector<const CMyNode*> nodes(list.begin(), list.end());
  CMyNodeList back;
  FUZZ_CHECK(LoadFavoritesFile(back, qfuzz::WriteScratch("out.sc", FavoritesFileBytes(nodes))));
  FUZZ_CHECK(back.GetCount() == list.GetCount());
  return 0;
}

// The Bookmarks JSON file of the Chromium-family browsers, as the first
// start and qimbo-tool fav import-chromium read it. A file is taken whole or
// not at all: a refused one leaves the tree as it was and says why; a taken
// one puts every bookmark it counts at a button of its own, in a category
// with a tab of its own, and saves and loads back as it is.
#include "fuzz_util.h"
#include "store/import_chromium.h"
#include "store/node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string json((const char*)data, size);
  CMyNodeList list;
  list.m_strBaseDir = "C:\\Qimbo\\";
  // One category and item already there: a refused file must not touch them,
  // and a taken one must not put a second item at their button.
  CMyNode* mine = new CMyNode("我的", UrlCategory, nullptr, 0);
  list.AddNode(mine);
  CMyNode* item = new CMyNode("mail", UrlItem, mine, 0, "http://mail.example/");
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
  qfuzz::CheckImportedTree(list);
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem) FUZZ_CHECK(!n->m_strAddress.empty() && n->m_strAddress.size() <= kChromiumAddressMax);
  return 0;
}

// Internet shortcut files (.url) of the browser's Favorites folder: one file
// read alone, and a folder of them imported as a category.
#include "fuzz_util.h"
#include "store/importer.h"
#include "store/node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes((const char*)data, size);
  qfuzz::WriteScratch("Favorites/新闻/网站.url", bytes);
  std::string folder = qfuzz::ScratchCore() + "Favorites\\新闻\\";
  CMyNode* n = ParseUrlFile(folder, "网站.url");
  FUZZ_CHECK(n != nullptr);
  FUZZ_CHECK(n->m_strAddress.size() <= kUrlValueMax);
  FUZZ_CHECK(n->m_strIconPath.size() <= kUrlValueMax);
  delete n;

  CMyNodeList list;
  list.m_strBaseDir = qfuzz::ScratchCore();
  ImportUrlFolder(list, folder, "新闻");
  ImportBrowserFavorites(list, qfuzz::ScratchCore() + "Favorites\\");
  for (const CMyNode* node : list)
    if (node->m_nKind == UrlItem) FUZZ_CHECK(node->m_pParent != nullptr);
  return 0;
}

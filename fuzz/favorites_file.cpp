// Favorites files (.sc and .qimbop): the records, the loader's joining of
// items to categories, and the tree operations that follow a load. What one
// load keeps must survive a save and a second load unchanged.
#include <vector>

#include "fuzz_util.h"
#include "store/favorites_file.h"
#include "store/node.h"

static std::string Bytes(const CMyNodeList& list) {
  std::vector<const CMyNode*> nodes(list.begin(), list.end());
  return FavoritesFileBytes(nodes);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes((const char*)data, size);

  // The records alone: a file that reads writes back as bytes that read the same.
  std::vector<CMyNode*> records;
  bool complete = ReadFavoritesRecords(bytes, records);
  if (complete) {
    std::vector<const CMyNode*> view(records.begin(), records.end());
    std::string again = FavoritesFileBytes(view);
    std::vector<CMyNode*> reread;
    FUZZ_CHECK(ReadFavoritesRecords(again, reread));
    FUZZ_CHECK(reread.size() == records.size());
    std::vector<const CMyNode*> view2(reread.begin(), reread.end());
    FUZZ_CHECK(FavoritesFileBytes(view2) == again);
    for (CMyNode* n : reread) delete n;
    for (CMyNode* n : records) delete n;
  } else {
    FUZZ_CHECK(records.empty());
  }

  // The loader, as the program calls it on a file.
  std::string path = qfuzz::WriteScratch("data/1.sc", bytes);
  CMyNodeList list;
  list.m_strBaseDir = qfuzz::ScratchCore();
  // The loader reads the file through a window; the records in memory, whole.
  bool loaded = LoadFavoritesFile(list, path);
  FUZZ_CHECK(loaded == complete);
  if (!loaded) {
    FUZZ_CHECK(list.GetCount() == 0);
    return 0;
  }
  for (const CMyNode* n : list) {
    FUZZ_CHECK(n->m_nKind == UrlCategory || n->m_nKind == UrlItem);
    if (n->m_nKind == UrlItem) {
      FUZZ_CHECK(n->m_pParent != nullptr);
      FUZZ_CHECK(n->m_pParent->m_nKind == UrlCategory);
    }
  }
  std::vector<TopVisited> top;
  BuildTopVisitedList(list, top);
  FUZZ_CHECK(top.size() <= kTopVisitedMax);
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlCategory) list.FirstFreeItemSlot(n);

  // Saved and loaded again: nothing more is dropped or changed.
  std::string saved = Bytes(list);
  std::string path2 = qfuzz::WriteScratch("data/2.sc", saved);
  CMyNodeList second;
  second.m_strBaseDir = list.m_strBaseDir;
  FUZZ_CHECK(LoadFavoritesFile(second, path2));
  FUZZ_CHECK(Bytes(second) == saved);

  // The same file as a single-category bookmark file, into the loaded tree.
  qfuzz::CQuietUi ui;
  ImportBookmark(second, path, 3, &ui);

  // And as a download that replaces the web-address folder.
  CMyNodeList download;
  LoadFavoritesFile(download, path);
  ReplaceWebFolder(list, download);
  FUZZ_CHECK(download.GetCount() == 0);
  return 0;
}

// Bookmark HTML files (the exports of browsers and bookmark services),
// through qimbo-tool fav import-html as the user runs it. Whatever it writes
// is a favorites file the program can load.
#include "fuzz_util.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "tools/tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qfuzz::WriteScratch("in.html", std::string((const char*)data, size));
  qfuzz::RemoveScratch("out.sc");
  std::string in = qfuzz::ScratchNative() + "in.html", out = qfuzz::ScratchNative() + "out.sc";
  char* argv[] = {(char*)"fav", (char*)"import-html", &in[0], &out[0], nullptr};
  qtool::RunFn fav = qtool::FindGroup("fav");
  FUZZ_CHECK(fav != nullptr);
  if (fav(4, argv) != 0) return 0;

  CMyNodeList list;
  FUZZ_CHECK(LoadFavoritesFile(list, qfuzz::ScratchCore() + "out.sc"));
  for (const CMyNode* n : list) {
    FUZZ_CHECK(n->m_nKind == UrlCategory || n->m_nKind == UrlItem);
    if (n->m_nKind == UrlItem) FUZZ_CHECK(n->m_pParent != nullptr);
  }
  return 0;
}

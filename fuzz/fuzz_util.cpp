#include "fuzz_util.h"

#include <ftw.h>
#include <set>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

#include "base/codepage.h"
#include "os/os.h"
#include "store/favorites_file.h"

namespace qfuzz {

namespace {
std::string g_native, g_core;

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }
void RemoveAll() {
  if (!g_native.empty()) nftw(g_native.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

void MakeScratch() {
  if (!g_native.empty()) return;
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qimbo-fuzz-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  FUZZ_CHECK(mkdtemp(buf.data()) != nullptr);
  g_native = std::string(buf.data()) + "/";
  g_core = os::ProgramPath(g_native);
  atexit(RemoveAll);
}
}  // namespace

const std::string& ScratchNative() {
  MakeScratch();
  return g_native;
}

const std::string& ScratchCore() {
  MakeScratch();
  return g_core;
}

std::string WriteScratch(const std::string& name, const std::string& bytes) {
  MakeScratch();
  std::string native = qb::ToUtf8(name);
  for (size_t slash = native.find('/'); slash != std::string::npos; slash = native.find('/', slash + 1))
    mkdir((g_native + native.substr(0, slash)).c_str(), 0700);
  FILE* f = fopen((g_native + native).c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  FUZZ_CHECK(fclose(f) == 0);
  std::string core = g_core + name;
  for (char& c : core)
    if (c == '/') c = '\\';
  return core;
}

void RemoveScratch(const std::string& name) {
  MakeScratch();
  remove((g_native + qb::ToUtf8(name)).c_str());
}

std::vector<Record> SplitRecords(const uint8_t* data, size_t size) {
  std::vector<Record> out;
  size_t start = 0;
  while (start < size) {
    size_t end = start;
    while (end < size && data[end] != 0xFF) ++end;
    if (end > start) out.push_back({(char)data[start], std::string((const char*)data + start + 1, end - start - 1)});
    start = end + 1;
  }
  return out;
}

bool IsText(const std::string& gbk) {
  std::string utf8, back;
  return gbk.find('\0') == std::string::npos && qb::GbkToUtf8(gbk, utf8) && qb::Utf8ToGbk(utf8, back) &&
         back == gbk;
}

bool IsWholeGbk(const std::string& t) {
  for (size_t i = 0; i < t.size(); ++i) {
    unsigned char c = (unsigned char)t[i];
    if (c == 0xFF) return false;
    if (c < 0x81) continue;
    if (i + 1 >= t.size()) return false;
    unsigned char d = (unsigned char)t[++i];
    if (d < 0x40 || d == 0x7F || d == 0xFF) return false;
  }
  return true;
}

int CheckImportedTree(const CMyNodeList& list) {
  int items = 0;
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
      ++items;
    }
  }
  std::vector<const CMyNode*> nodes(list.begin(), list.end());
  CMyNodeList back;
  FUZZ_CHECK(LoadFavoritesFile(back, WriteScratch("out.sc", FavoritesFileBytes(nodes))));
  FUZZ_CHECK(back.GetCount() == list.GetCount());
  return items;
}

}  // namespace qfuzz

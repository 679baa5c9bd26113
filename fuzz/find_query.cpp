// The find box's matching on any name and any typed text: the input is a
// name, a zero byte, then the text typed (the note and the address are the
// name again). Nothing may crash or hang, and a name always finds itself.
#include <string>

#include "fuzz_util.h"
#include "panels/find_logic.h"
#include "store/node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in((const char*)data, size);
  size_t cut = in.find('\0');
  std::string name = in.substr(0, cut), query = cut == std::string::npos ? in : in.substr(cut + 1);
  std::string norm = panels::NormalizeFindText(name);
  FUZZ_CHECK(norm.size() <= name.size());
  for (const std::string& w : panels::FindWords(query)) {
    int tier = panels::NameTier(norm, w);
    FUZZ_CHECK(tier >= panels::kTierNone && tier <= panels::kTierAnywhere);
  }
  if (!norm.empty() && norm.find_first_of(" \t\r\n") == std::string::npos)
    FUZZ_CHECK(panels::NameTier(norm, norm) == panels::kTierPrefix);
  CMyNodeList list;
  CMyNode* cat = new CMyNode("c", UrlCategory, nullptr, 0);
  if (!list.AddNode(cat)) return 0;
  CMyNode* item = new CMyNode(name, UrlItem, cat, 0, name);
  item->m_strNote = name;
  if (!list.AddNode(item)) return 0;
  panels::CFindIndex index;
  index.Build(list);
  FUZZ_CHECK(index.Find(query).size() <= 1);
  return 0;
}

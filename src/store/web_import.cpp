#include "store/web_import.h"

#include <cstdint>

#include "base/codepage.h"

const char kRootCategoryName[] = "目录名";

namespace {

// The code point at s[i], advancing i; a malformed sequence is one U+FFFD per byte.
uint32_t NextCodePoint(const std::string& s, size_t& i) {
  unsigned char c = (unsigned char)s[i];
  if (c < 0x80) {
    ++i;
    return c;
  }
  int len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  uint32_t cp = c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    unsigned char t = (unsigned char)s[i + k];
    if ((t & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (t & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += len;
  return cp;
}

bool IsBlank(uint32_t cp) { return cp <= 0x20 || cp == 0x7F || cp == 0xA0; }

std::string LinkKey(const CMyNode* category, const std::string& name, const std::string& address) {
  return std::to_string((uintptr_t)category) + '\n' + name + '\n' + address;
}

}  // namespace

std::string ImportedText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  bool blank = false;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = NextCodePoint(utf8, i);
    if (cp == 0xFEFF) continue;  // a byte-order mark inside the text
    if (IsBlank(cp)) {  // the ideographic space is a character of the code page: kept
      blank = !out.empty();
      continue;
    }
    if (blank) out.push_back(' ');
    blank = false;
    if (cp < 0x80) {
      out.push_back((char)cp);
    } else if (uint16_t code = qb::GbkCode(cp)) {
      out.push_back((char)(code >> 8));
      out.push_back((char)(code & 0xFF));
    } else if (cp == 0xFFFD || cp < 0xA0) {
      out.push_back('?');  // bytes that were no character, a control character
    } else {
      out += qb::CharRef(cp);  // kept: shown and exported as the character
    }
  }
  return out;
}

// ---- placing links within the limits ------------------------------------------

CWebImport::CWebImport(CMyNodeList& list) : m_list(list), m_batch(list), m_tabs(kCategorySlots, false) {
  for (CMyNode* n : list) {
    if (n->m_nKind == UrlCategory) {
      m_categories.emplace(n->m_strName, n);
      if (n->m_nSlot >= 0 && n->m_nSlot < kCategorySlots) m_tabs[n->m_nSlot] = true;
    } else if (n->m_nKind == UrlItem && n->m_pParent) {
      m_links.insert(LinkKey(n->m_pParent, n->m_strName, n->m_strAddress));
      if (n->m_nSlot >= 0 && n->m_nSlot < kItemSlots) m_buttons[n->m_pParent].taken |= 1u << n->m_nSlot;
    }
  }
  m_root.name = kRootCategoryName;
}

bool CWebImport::InChain(const Chain& chain, const std::string& name, const std::string& address) const {
  auto holds = [&](const std::string& category) {
    auto it = m_categories.find(category);
    return it != m_categories.end() && m_links.count(LinkKey(it->second, name, address)) != 0;
  };
  if (holds(chain.name)) return true;
  // The further categories are numbered from 2; there are never more than tabs.
  for (int k = 2; k <= kCategorySlots + 1; ++k)
    if (holds(chain.name + std::to_string(k))) return true;
  return false;
}

int CWebImport::FreeButton(CMyNode* category) const {
  auto it = m_buttons.find(category);
  unsigned taken = it == m_buttons.end() ? 0 : it->second.taken;
  for (int s = 0; s < kItemSlots; ++s)
    if (!(taken & (1u << s))) return s;
  return -1;
}

CMyNode* CWebImport::NewCategory(Chain& chain, const std::string& name) {
  int tab = -1;
  for (int s = 0; s < kCategorySlots && tab < 0; ++s)
    if (!m_tabs[s]) tab = s;
  if (tab < 0) return nullptr;
  CMyNode* cat = new CMyNode(name, UrlCategory, nullptr, 0);
  cat->m_strNote = chain.note;
  cat->m_nSlot = tab;
  m_list.AddNode(cat);  // never refused: every web category's name is known here
  m_tabs[tab] = true;
  m_categories.emplace(name, cat);
  chain.made.push_back(cat);
  return cat;
}

CMyNode* CWebImport::Take(Chain& chain, const std::string& name) {
  auto it = m_categories.find(name);
  if (it == m_categories.end()) return NewCategory(chain, name);
  CMyNode* cat = it->second;
  // A category without a tab of its own is shown nowhere: it takes nothing.
  return cat->m_nSlot >= 0 && cat->m_nSlot < kCategorySlots ? cat : nullptr;
}

CMyNode* CWebImport::Place(Chain& chain) {
  if (!chain.started) {
    chain.started = true;
    chain.category = Take(chain, chain.name);
  }
  while (!chain.category || FreeButton(chain.category) < 0) {
    // The next further category; names already listed are used when they
    // have room, so the loop ends once it reaches a name nobody has.
    std::string name = chain.name + std::to_string(chain.next++);
    bool listed = m_categories.count(name) != 0;
    chain.category = Take(chain, name);
    if (!chain.category && !listed) return nullptr;
  }
  return chain.category;
}

int CWebImport::Folder(const std::string& name) {
  // An untitled folder would be a category without a name, whose links the
  // next load drops: its links join the loose ones in the root category.
  if (name.empty()) return -1;
  auto it = m_folderByName.find(name);
  if (it != m_folderByName.end()) return it->second;
  int number = (int)m_chains.size();
  m_chains.emplace_back();
  Chain& chain = m_chains.back();
  chain.name = name;
  chain.started = true;
  chain.category = Take(chain, name);
  m_folderByName.emplace(name, number);
  return number;
}

void CWebImport::FolderNote(int folder, const std::string& note) {
  if (folder < 0 || folder >= (int)m_chains.size()) return;
  Chain& chain = m_chains[folder];
  chain.note = note;
  for (CMyNode* cat : chain.made) cat->m_strNote = note;
}

CMyNode* CWebImport::AddLink(int folder, CMyNode* item) {
  Chain& chain = folder >= 0 && folder < (int)m_chains.size() ? m_chains[folder] : m_root;
  // AddNode's rule for items (the same name and address in the same
  // category), over every category of the folder: a link that an earlier
  // import put into "name2" is there already, even though this import
  // starts again at "name".
  if (InChain(chain, item->m_strName, item->m_strAddress)) {
    delete item;
    ++m_duplicates;
    return nullptr;
  }
  CMyNode* cat = Place(chain);
  if (!cat) {
    delete item;
    ++m_notImported;
    return nullptr;
  }
  m_links.insert(LinkKey(cat, item->m_strName, item->m_strAddress));
  int slot = FreeButton(cat);
  item->m_nKind = UrlItem;
  item->m_pParent = cat;
  item->m_nSlot = slot;
  m_list.AddNode(item);  // never refused: equal links were found above
  m_buttons[cat].taken |= 1u << slot;
  ++m_added;
  return item;
}

#include "store/bookmark_html.h"

#include <cstdlib>
#include <cstring>
#include <map>

#include "base/codepage.h"
#include "base/json.h"

namespace {

// Entities of bookmark files: the five named ones and numeric references.
std::string HtmlUnescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s[i] != '&') {
      out.push_back(s[i++]);
      continue;
    }
    size_t semi = s.find(';', i);
    if (semi == std::string::npos || semi - i > 10) {
      out.push_back(s[i++]);
      continue;
    }
    std::string ent = s.substr(i + 1, semi - i - 1);
    uint32_t cp = 0;
    if (ent == "amp") cp = '&';
    else if (ent == "lt") cp = '<';
    else if (ent == "gt") cp = '>';
    else if (ent == "quot") cp = '"';
    else if (ent == "apos") cp = '\'';
    else if (ent == "nbsp") cp = ' ';
    else if (ent.size() > 1 && ent[0] == '#')
      cp = (ent[1] == 'x' || ent[1] == 'X') ? (uint32_t)strtoul(ent.c_str() + 2, nullptr, 16)
                                            : (uint32_t)strtoul(ent.c_str() + 1, nullptr, 10);
    if (cp == 0 || cp > 0x10FFFF) {
      out.push_back(s[i++]);
      continue;
    }
    qb::AppendUtf8(out, cp);
    i = semi + 1;
  }
  return out;
}

// Case-insensitive search for an ASCII tag text from `from`.
size_t FindNoCase(const std::string& s, const char* what, size_t from) {
  size_t n = strlen(what);
  for (size_t i = from; i + n <= s.size(); ++i) {
    size_t k = 0;
    while (k < n && tolower((unsigned char)s[i + k]) == tolower((unsigned char)what[k])) ++k;
    if (k == n) return i;
  }
  return std::string::npos;
}

std::string Attribute(const std::string& tag, const char* name) {
  std::string key = std::string(name) + "=\"";
  size_t p = FindNoCase(tag, key.c_str(), 0);
  if (p == std::string::npos) return std::string();
  p += key.size();
  size_t q = tag.find('"', p);
  return q == std::string::npos ? std::string() : tag.substr(p, q - p);
}

std::string HtmlText(const std::string& raw) {
  std::string text = HtmlUnescape(raw);
  // Trim blanks and line breaks at both ends.
  size_t a = text.find_first_not_of(" \t\r\n"), b = text.find_last_not_of(" \t\r\n");
  text = a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
  std::string gbk;
  qb::Utf8ToGbk(text, gbk);
  return gbk;
}

}  // namespace

int ImportBookmarkHtml(CMyNodeList& list, const std::string& bytes, BookmarkImportResult& result) {
  result = BookmarkImportResult();
  std::string html = bytes;
  // Bookmark files are UTF-8 today; an old export in the system code page is
  // taken as GBK bytes.
  std::string probe;
  if (!qb::Utf8ToGbk(html, probe)) html = qb::ToUtf8(html);
  int depth = 0;            // <DL> nesting: 1 is the top list, 2 inside a first-level folder
  std::string pendingFolder;  // an <H3> waiting for its <DL>
  CMyNode* category = nullptr;
  int categorySlot = 0;
  std::map<CMyNode*, int> itemCount;
  CMyNode* lastItem = nullptr;  // a <DD> after a link is its note
  size_t i = 0;
  while ((i = html.find('<', i)) != std::string::npos) {
    size_t close = html.find('>', i);
    if (close == std::string::npos) break;
    std::string tag = html.substr(i, close - i + 1);
    size_t next = close + 1;
    if (FindNoCase(tag, "<DL", 0) == 0) {
      lastItem = nullptr;
      ++depth;
      if (depth == 2 && !pendingFolder.empty()) {
        category = list.FindNode(pendingFolder, UrlCategory);
        if (!category) {
          category = new CMyNode;
          category->m_strName = pendingFolder;
          category->m_nKind = UrlCategory;
          category->m_nSlot = categorySlot++;
          list.AddNode(category);
        }
      }
      pendingFolder.clear();
    } else if (FindNoCase(tag, "</DL", 0) == 0) {
      if (depth > 0) --depth;
      if (depth < 2) category = nullptr;
    } else if (FindNoCase(tag, "<H3", 0) == 0) {
      size_t end = FindNoCase(html, "</H3", next);
      if (end == std::string::npos) break;
      if (depth == 1) pendingFolder = HtmlText(html.substr(next, end - next));
      next = end;
    } else if (FindNoCase(tag, "<A ", 0) == 0 || FindNoCase(tag, "<A\t", 0) == 0) {
      size_t end = FindNoCase(html, "</A", next);
      if (end == std::string::npos) break;
      CMyNode* parent = category;
      if (!parent) {  // a link outside every folder goes to the root category
        parent = list.FindNode("目录名", UrlCategory);
        if (!parent) {
          parent = new CMyNode;
          parent->m_strName = "目录名";
          parent->m_nKind = UrlCategory;
          parent->m_nSlot = categorySlot++;
          list.AddNode(parent);
        }
      }
      CMyNode* n = new CMyNode;
      n->m_strName = HtmlText(html.substr(next, end - next));
      n->m_strAddress = HtmlText(Attribute(tag, "HREF"));
      std::string visit = Attribute(tag, "LAST_VISIT");
      if (!visit.empty()) n->m_tLastVisit = (int64_t)strtoull(visit.c_str(), nullptr, 10);
      n->m_pParent = parent;
      n->m_nSlot = itemCount[parent];
      if (list.AddNode(n)) {
        ++result.links;
        ++itemCount[parent];
        lastItem = n;
      } else {
        delete n;
        lastItem = nullptr;
      }
      next = end;
    } else if (FindNoCase(tag, "<DD", 0) == 0 && lastItem) {
      size_t end = html.find('<', next);
      if (end == std::string::npos) end = html.size();
      lastItem->m_strNote = HtmlText(html.substr(next, end - next));
      lastItem = nullptr;
      next = end;
    }
    i = next;
  }
  return 1;
}


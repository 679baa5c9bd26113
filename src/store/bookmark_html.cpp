#include "store/bookmark_html.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/codepage.h"
#include "base/json.h"
#include "store/web_import.h"

namespace {

// ---- the file's characters --------------------------------------------------------

enum class Charset { Unknown, Utf8, Gbk, Latin, Utf16Le, Utf16Be };

char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// s[pos..] begins with the lower-case ASCII `what`, in any case.
bool At(const std::string& s, size_t pos, const char* what) {
  for (; *what; ++what, ++pos)
    if (pos >= s.size() || Lower(s[pos]) != *what) return false;
  return true;
}

Charset CharsetNamed(std::string name) {
  for (char& c : name) c = Lower(c);
  static const char* const kUtf8[] = {"utf-8", "utf8", "unicode-1-1-utf-8"};
  static const char* const kGbk[] = {"gb2312", "gbk", "gb18030", "x-gbk", "cp936", "windows-936", "ms936",
                                     "euc-cn", "csgb2312", "gb_2312-80", "chinese", "iso-ir-58"};
  static const char* const kLatin[] = {"iso-8859-1", "iso8859-1", "latin1", "l1", "windows-1252", "cp1252",
                                       "x-cp1252", "us-ascii", "ascii", "iso_8859-1", "cp819", "ibm819"};
  for (const char* n : kUtf8)
    if (name == n) return Charset::Utf8;
  for (const char* n : kGbk)
    if (name == n) return Charset::Gbk;
  for (const char* n : kLatin)
    if (name == n) return Charset::Latin;
  return Charset::Unknown;
}

// Where the "-->" ending the comment that starts at p stands, or npos.
// "<!-->" and "<!--->" end at once, as in a browser.
size_t CommentEnd(const std::string& s, size_t p) { return s.find("-->", p + 2); }

// The charset a <META> near the top declares ("… charset=UTF-8" in its
// content, or a charset attribute); comments are skipped.
Charset DeclaredCharset(const std::string& b) {
  size_t end = std::min(b.size(), (size_t)65536);
  for (size_t p = b.find('<'); p < end; p = b.find('<', p + 1)) {
    if (At(b, p, "<!--")) {
      p = CommentEnd(b, p);
      if (p == std::string::npos) break;
      continue;
    }
    if (!At(b, p, "<meta") || p + 5 >= b.size() || IsLetter(b[p + 5])) continue;
    size_t close = b.find('>', p);
    if (close == std::string::npos || close > end) break;
    size_t tag = p;
    p = close;  // the next search starts after this tag: the scan stays linear
    for (size_t k = tag + 5; k + 7 <= close; ++k) {
      if (!At(b, k, "charset")) continue;
      size_t v = k + 7;
      while (v < close && IsSpace(b[v])) ++v;
      if (v >= close || b[v] != '=') continue;
      ++v;
      while (v < close && (IsSpace(b[v]) || b[v] == '"' || b[v] == '\'')) ++v;
      size_t w = v;
      while (w < close && (IsLetter(b[w]) || (b[w] >= '0' && b[w] <= '9') || (b[w] && strchr("-_.:", b[w])))) ++w;
      return CharsetNamed(b.substr(v, w - v));
    }
  }
  return Charset::Unknown;
}

bool IsValidUtf8(const std::string& s) {
  const unsigned char* p = (const unsigned char*)s.data();
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    unsigned char d = p[i + 1];
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d > 0x8F))
      return false;  // too long a form, a surrogate, beyond U+10FFFF
    i += len;
  }
  return true;
}

// Windows-1252 in the range 0x80..0x9F (0: undefined there).
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t Cp1252(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F) return kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : 0xFFFD;
  return c;
}

std::string Utf16ToUtf8(const std::string& b, size_t from, bool bigEndian) {
  std::string out;
  out.reserve(b.size());
  for (size_t i = from; i + 1 < b.size(); i += 2) {
    uint32_t u = bigEndian ? ((unsigned char)b[i] << 8) | (unsigned char)b[i + 1]
                           : ((unsigned char)b[i + 1] << 8) | (unsigned char)b[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size()) {
      uint32_t v = bigEndian ? ((unsigned char)b[i + 2] << 8) | (unsigned char)b[i + 3]
                             : ((unsigned char)b[i + 3] << 8) | (unsigned char)b[i + 2];
      if (v >= 0xDC00 && v <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
        i += 2;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    qb::AppendUtf8(out, u);
  }
  return out;
}

// ---- markup --------------------------------------------------------------------------

// The next '<' from `from` that opens markup (a tag, an end tag, a comment or
// a declaration); a '<' before anything else is text.
size_t NextMarkup(const std::string& d, size_t from) {
  for (size_t p = d.find('<', from); p != std::string::npos; p = d.find('<', p + 1)) {
    if (p + 1 >= d.size()) return std::string::npos;
    char c = d[p + 1];
    if (IsLetter(c) || c == '/' || c == '!' || c == '?') return p;
  }
  return std::string::npos;
}

// The '>' that ends a tag, outside quoted values. A quote that is not closed
// on its own line is an ordinary character, so one stray quote cannot swallow
// the rest of the file.
size_t TagEnd(const std::string& d, size_t p) {
  while (p < d.size()) {
    char c = d[p];
    if (c == '>') return p;
    if (c == '"' || c == '\'') {
      size_t q = p + 1;
      while (q < d.size() && d[q] != c && d[q] != '\n') ++q;
      if (q < d.size() && d[q] == c) {
        p = q + 1;
        continue;
      }
    }
    ++p;
  }
  return std::string::npos;
}

// The value of attribute `name` (lower case) in the tag text [from, to), raw.
bool Attribute(const std::string& d, size_t from, size_t to, const char* name, std::string& value) {
  size_t p = from;
  size_t nameLen = strlen(name);
  while (p < to) {
    while (p < to && (IsSpace(d[p]) || d[p] == '/')) ++p;
    size_t a = p;
    while (p < to && !IsSpace(d[p]) && d[p] != '=' && d[p] != '/') ++p;
    bool match = p - a == nameLen && At(d, a, name);
    while (p < to && IsSpace(d[p])) ++p;
    if (p >= to || d[p] != '=') {
      if (match) {
        value.clear();
        return true;
      }
      continue;
    }
    ++p;
    while (p < to && IsSpace(d[p])) ++p;
    size_t v = p, w;
    if (p < to && (d[p] == '"' || d[p] == '\'')) {
      char q = d[p];
      w = d.find(q, p + 1);
      if (w == std::string::npos || w > to) w = to;
      v = p + 1;
      p = w + 1;
    } else {
      while (p < to && !IsSpace(d[p])) ++p;
      w = p;
    }
    if (match) {
      value = d.substr(v, w - v);
      return true;
    }
  }
  return false;
}

struct NamedEntity {
  const char* name;
  uint32_t cp;
};
const NamedEntity kEntities[] = {
    {"amp", '&'},       {"lt", '<'},        {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", 0xA0},     {"copy", 0xA9},     {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014},  {"ndash", 0x2013},  {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D},  {"laquo", 0xAB},    {"raquo", 0xBB},   {"middot", 0xB7},  {"times", 0xD7},
    {"divide", 0xF7},   {"deg", 0xB0},      {"plusmn", 0xB1},  {"yen", 0xA5},     {"euro", 0x20AC},
    {"bull", 0x2022},   {"sect", 0xA7},     {"para", 0xB6},    {"emsp", 0x2003},  {"ensp", 0x2002},
};

// Text with its character references resolved. A reference is at most 32
// characters up to its ';': an '&' without one is taken as it is, and the
// scan never looks further, so the work stays in proportion to the text.
std::string Unescape(const std::string& d, size_t from, size_t to) {
  std::string out;
  out.reserve(to - from);
  size_t i = from;
  while (i < to) {
    const char* amp = (const char*)memchr(d.data() + i, '&', to - i);
    size_t a = amp ? (size_t)(amp - d.data()) : to;
    out.append(d, i, a - i);
    if (a >= to) break;
    size_t semi = a + 1, limit = std::min(to, a + 34);
    while (semi < limit && (IsLetter(d[semi]) || (d[semi] >= '0' && d[semi] <= '9') || d[semi] == '#')) ++semi;
    uint32_t cp = 0;
    if (semi < limit && d[semi] == ';' && semi > a + 1) {
      std::string ent = d.substr(a + 1, semi - a - 1);
      if (ent[0] == '#') {
        bool hex = ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X');
        const char* digits = ent.c_str() + (hex ? 2 : 1);
        char* end = nullptr;
        unsigned long v = *digits ? strtoul(digits, &end, hex ? 16 : 10) : 0;
        if (end && *end == '\0') {
          cp = v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF) ? 0xFFFD : (uint32_t)v;
          if (cp >= 0x80 && cp <= 0x9F) cp = Cp1252((unsigned char)cp);  // as browsers read them
        }
      } else {
        for (const NamedEntity& e : kEntities)
          if (ent == e.name) cp = e.cp;
      }
    }
    if (cp) {
      qb::AppendUtf8(out, cp);
      i = semi + 1;
    } else {
      out.push_back('&');
      i = a + 1;
    }
  }
  return out;
}

bool TagIs(const std::string& d, size_t name, size_t nameEnd, const char* what) {
  return nameEnd - name == strlen(what) && At(d, name, what);
}

}  // namespace

std::string BookmarkHtmlToUtf8(const std::string& b) {
  if (b.compare(0, 3, "\xEF\xBB\xBF") == 0) return b.substr(3);
  if (b.compare(0, 2, "\xFF\xFE") == 0) return Utf16ToUtf8(b, 2, false);
  if (b.compare(0, 2, "\xFE\xFF") == 0) return Utf16ToUtf8(b, 2, true);
  Charset cs = DeclaredCharset(b);
  if (cs == Charset::Unknown) cs = IsValidUtf8(b) ? Charset::Utf8 : Charset::Gbk;
  switch (cs) {
    case Charset::Gbk: {
      std::string out;
      qb::GbkToUtf8(b, out);  // bytes that are no character become "?"
      return out;
    }
    case Charset::Latin: {
      std::string out;
      out.reserve(b.size());
      for (char c : b) qb::AppendUtf8(out, Cp1252((unsigned char)c));
      return out;
    }
    default:
      return b;  // UTF-8; a malformed sequence becomes "?" when the text is taken
  }
}

namespace {

// Without "<>", as AddNode leaves every note: one pass, left to right.
std::string WithoutEmptyBrackets(const std::string& note) {
  std::string kept;
  kept.reserve(note.size());
  for (size_t k = 0; k < note.size();) {
    if (note.compare(k, 2, "<>") == 0) {
      k += 2;
    } else {
      kept.push_back(note[k++]);
    }
  }
  return kept;
}

// One pass over the markup of a bookmark file: top-level folders become
// categories, deeper ones are flattened into theirs, links before any folder
// are loose.
class CBookmarkReader {
 public:
  CBookmarkReader(CMyNodeList& list, const std::string& utf8) : d(utf8), m_web(list) {}

  void Run() {
    size_t i = 0;
    for (;;) {
      size_t p = NextMarkup(d, i);
      if (p == std::string::npos) return;
      if (At(d, p, "<!--")) {  // links in comments are no links
        size_t e = CommentEnd(d, p);
        i = e == std::string::npos ? d.size() : e + 3;
        continue;
      }
      if (d[p + 1] == '!' || d[p + 1] == '?') {
        size_t e = d.find('>', p);
        i = e == std::string::npos ? d.size() : e + 1;
        continue;
      }
      bool endTag = d[p + 1] == '/';
      size_t name = p + 1 + (endTag ? 1 : 0), nameEnd = name;
      while (nameEnd < d.size() && (IsLetter(d[nameEnd]) || (d[nameEnd] >= '0' && d[nameEnd] <= '9'))) ++nameEnd;
      size_t close = TagEnd(d, nameEnd);
      if (close == std::string::npos) return;
      i = close + 1;
      if (TagIs(d, name, nameEnd, "dl")) {
        OnList(endTag);
      } else if (endTag) {
        continue;
      } else if (TagIs(d, name, nameEnd, "h3")) {
        OnFolder(TextAfter(i));
      } else if (TagIs(d, name, nameEnd, "a")) {
        OnLink(TextAfter(i), nameEnd, close);
      } else if (TagIs(d, name, nameEnd, "dd")) {
        OnDescription(TextAfter(i));
      }
    }
  }

  void Report(BookmarkImportResult& result) const {
    result.links = m_web.Added();
    result.notImported = m_web.NotImported();
    result.duplicates = m_web.Duplicates();
  }

 private:
  // The text up to the next markup; `i` moves past it.
  std::string TextAfter(size_t& i) const {
    size_t end = NextMarkup(d, i);
    if (end == std::string::npos) end = d.size();
    std::string text = ImportedText(Unescape(d, i, end));
    i = end;
    return text;
  }

  void OnList(bool endTag) {
    m_lastLink = nullptr;
    m_describedFolder = -1;
    if (!endTag) {
      ++m_depth;
      if (m_top >= 0 && m_depth == m_top + 1) m_folder = m_namedFolder;
    } else {
      if (m_depth > 0) --m_depth;
      if (m_top >= 0 && m_depth <= m_top) m_folder = -1;
    }
    m_namedFolder = -1;
  }

  void OnFolder(const std::string& title) {
    m_lastLink = nullptr;
    m_describedFolder = -1;
    if (m_top < 0) m_top = m_depth;
    if (m_depth <= m_top) {  // a top-level folder; deeper ones are flattened into it
      m_namedFolder = m_web.Folder(title);
      m_describedFolder = m_namedFolder;
    }
  }

  void OnLink(const std::string& title, size_t nameEnd, size_t close) {
    m_lastLink = nullptr;
    m_describedFolder = -1;
    if (m_top < 0) m_top = m_depth;
    std::string href, visit;
    if (!Attribute(d, nameEnd, close, "href", href)) return;  // an anchor, not a link
    std::string address = ImportedText(Unescape(href, 0, href.size()));
    if (address.empty() || At(address, 0, "place:")) return;  // the browser's own queries
    CMyNode* n = new CMyNode;
    n->m_strName = title.empty() ? address : title;
    n->m_strAddress = address;
    if (Attribute(d, nameEnd, close, "last_visit", visit) && !visit.empty())
      n->m_tLastVisit = (int64_t)strtoull(visit.c_str(), nullptr, 10);
    m_lastLink = m_web.AddLink(m_depth > m_top ? m_folder : -1, n);
  }

  void OnDescription(const std::string& note) {
    if (m_lastLink) {
      m_lastLink->m_strNote = WithoutEmptyBrackets(note);
    } else if (m_describedFolder >= 0) {
      m_web.FolderNote(m_describedFolder, note);
    }
    m_lastLink = nullptr;
    m_describedFolder = -1;
  }

  const std::string& d;
  CWebImport m_web;
  int m_depth = 0;               // open <DL> lists
  int m_top = -1;                // depth of the top-level entries, known at the first one
  int m_namedFolder = -1;        // a top-level <H3> waiting for its <DL>
  int m_folder = -1;             // the top-level folder whose list is open; -1: none
  CMyNode* m_lastLink = nullptr;  // a <DD> right after a link describes it
  int m_describedFolder = -1;    // a <DD> right after a top-level <H3> describes the folder
};

}  // namespace

int ImportBookmarkHtml(CMyNodeList& list, const std::string& bytes, BookmarkImportResult& result) {
  result = BookmarkImportResult();
  const std::string d = BookmarkHtmlToUtf8(bytes);
  CBookmarkReader reader(list, d);
  reader.Run();
  reader.Report(result);
  return 1;
}

std::string ImportShortfallText(const BookmarkImportResult& result) {
  if (result.notImported <= 0) return std::string();
  return "有" + std::to_string(result.notImported) + "个网址未能导入：44个分类都已用完。";
}

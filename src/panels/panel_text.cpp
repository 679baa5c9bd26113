#include "panels/panel_text.h"

#include <cstring>

#include "../../res/panels_ids.h"
#include "base/codepage.h"
#include "store/node.h"

namespace panels {

namespace {
std::string RemoveChars(const std::string& text, const char* chars) {
  std::string out;
  for (char c : text)
    if (!strchr(chars, c)) out += c;
  return out;
}
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string CleanRenameText(const std::string& typed) { return RemoveChars(typed, " <>"); }

bool RenameAccepted(const std::string& cleaned) { return cleaned.size() > 1; }

std::string TrimBlanks(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::string RemoveSpaces(const std::string& text) { return RemoveChars(text, " "); }

std::string CutBefore(const std::string& text, const std::string& mark) {
  size_t p = text.find(mark);
  return p == std::string::npos ? text : text.substr(0, p);
}

std::string IconSource(const CMyNode& node) {
  return node.m_strIconPath.empty() ? node.m_strAddress + node.m_strName : node.m_strIconPath;
}

std::string LocalIconPath(const std::string& programDir, const std::string& source) {
  size_t p = source.rfind('\\');
  return programDir + "images\\icon" + (p == std::string::npos ? source : source.substr(p));
}

std::string SearchQuery(const CMyNode* context) {
  if (context && (context->m_nKind == UrlCategory || context->m_nKind == ProgramCategory)) return context->m_strName;
  return std::string();
}

std::string SearchAddress(int id, const std::string& query) {
  switch (id) {
    case ID_SEARCH_TOPICS: return "http://so.qimbo.net/s?tn=siteqb4k&word=" + query;
    case ID_SEARCH_CHATROOMS: return "http://so.qimbo.net/s?tn=siteqb4k&word=" + query + "聊天室";
    case ID_SEARCH_POSTS: return "http://bbs.qimbo.net/f?kw=" + query;
    case ID_SEARCH_TRADE: return "http://trade.qimbo.net/news/search?do=1&keywords2=" + query + "&news=search";
    case ID_SEARCH_TAOBAO: return "http://shop.qimbo.net/browse/ad_search.htm";
    case ID_SEARCH_SOFTWARE: return "http://soft.qimbo.net/search.php";
    case ID_SEARCH_BLOG: return "http://blog.qimbo.net/";
    case ID_SEARCH_RSS: return "http://rss.qimbo.net/";
    case ID_SEARCH_MP3: return "http://mp3.qimbo.net/";
    case ID_SEARCH_DICT: return "http://dict.qimbo.net/";
    case ID_SEARCH_FLASH: return "http://flash.qimbo.net/";
    case ID_SEARCH_MAP: return "http://map.qimbo.net/";
    case ID_SEARCH_SHOPPING: return "http://buy.qimbo.net/";
    case ID_SEARCH_GAMES: return "http://game.qimbo.net/";
    case ID_SEARCH_TRADES: return "http://b2b.qimbo.net/";
    case ID_SEARCH_BT: return "http://bt.qimbo.net/";
    case ID_SEARCH_MEDLEY: return "http://all.qimbo.net/";
    case ID_SEARCH_FORUM: return "http://forum.qimbo.net/";
    case ID_SEARCH_VIDEO: return "http://video.qimbo.net/";
  }
  return std::string();
}

std::string CutBytesGbk(const std::string& text, size_t n) { return qb::CutBytes(text, n); }

}  // namespace panels

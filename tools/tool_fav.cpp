// qimbo-tool fav: favorites files on the command line, through the same code
// the program uses.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/json.h"
#include "base/lines.h"
#include "os/os.h"
#include "panels/find_logic.h"
#include "store/bookmark_html.h"
#include "store/favorites_file.h"
#include "store/import_chromium.h"
#include "store/importer.h"
#include "store/node.h"
#include "tool.h"

namespace {

// ---- helpers ---------------------------------------------------------------------

std::string Path(const char* arg) { return qtool::PathArg(arg); }

std::string Gbk(const std::string& utf8, bool& ok) {
  std::string out;
  ok = qb::Utf8ToGbk(utf8, out) != 0;
  return out;
}

int WriteNodes(const CMyNodeList& list, const std::string& path) {
  std::vector<const CMyNode*> nodes;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem) nodes.push_back(n);
  if (!ReplaceFileKeepingBackup(path, std::string(), FavoritesFileBytes(nodes))) {
    qtool::Error("cannot write " + qtool::Shown(path));
    return 1;
  }
  return 0;
}

int LoadOrComplain(CMyNodeList& list, const std::string& path) {
  if (LoadFavoritesFile(list, path)) return 1;
  qtool::Error("cannot load favorites file " + qtool::Shown(path) + " (missing, unreadable or not a favorites file)");
  return 0;
}

// ---- dump ------------------------------------------------------------------------

int Dump(const std::string& file) {
  CMyNodeList list;
  if (!LoadOrComplain(list, file)) return 1;
  for (const CMyNode* n : list) {
    std::string line = "{\"name\":" + qtool::JsonString(n->m_strName) + ",\"kind\":" + std::to_string(n->m_nKind) +
                       ",\"address\":" + qtool::JsonString(n->m_strAddress) + ",\"parent\":" +
                       (n->m_pParent ? qtool::JsonString(n->m_pParent->m_strName) : std::string("null")) +
                       ",\"icon\":" + qtool::JsonString(n->m_strIconPath) + ",\"note\":" +
                       qtool::JsonString(n->m_strNote) + ",\"visits\":" + std::to_string(n->m_nVisits) +
                       ",\"time\":" + std::to_string(n->m_tLastVisit) + ",\"slot\":" + std::to_string(n->m_nSlot) +
                       ",\"script\":" + std::to_string(n->m_bScript) + ",\"circle\":" +
                       qtool::JsonString(n->m_strCircle) + "}\n";
    fputs(line.c_str(), stdout);
  }
  return 0;
}

// ---- make ------------------------------------------------------------------------

bool NodeFromJson(const qb::JsonValue& obj, CMyNode& n, std::string& error) {
  static const char* const kKeys[] = {"name", "kind",  "address", "parent", "icon",  "note",
                                      "visits", "time", "slot",    "script", "circle"};
  if (obj.type != qb::JsonValue::Object) {
    error = "expected an object";
    return false;
  }
  for (auto& kv : obj.members) {
    bool known = false;
    for (const char* k : kKeys) known = known || kv.first == k;
    if (!known) {
      error = "unknown key \"" + qb::FromUtf8(kv.first) + "\"";  // messages are GBK until printed
      return false;
    }
  }
  auto text = [&](const char* key, std::string& field, bool required) {
    const qb::JsonValue* v = obj.Find(key);
    if (!v || v->type == qb::JsonValue::Null) {
      if (required) error = std::string("\"") + key + "\" is required";
      return !required;
    }
    if (v->type != qb::JsonValue::String) {
      error = std::string("\"") + key + "\" must be a string";
      return false;
    }
    bool ok;
    field = Gbk(v->text, ok);
    if (!ok) error = std::string("\"") + key + "\" holds characters that code page 936 cannot store";
    return ok;
  };
  auto number = [&](const char* key, int64_t lo, int64_t hi, int64_t& field) {
    const qb::JsonValue* v = obj.Find(key);
    if (!v) return true;
    if (!v->IsInteger(lo, hi)) {
      error = std::string("\"") + key + "\" must be a whole number from " + std::to_string(lo) + " to " +
              std::to_string(hi);
      return false;
    }
    field = v->integer;
    return true;
  };
  int64_t kind = UrlItem, visits = 0, time = n.m_tLastVisit, slot = 0, script = 0;
  if (!text("name", n.m_strName, true) || !text("address", n.m_strAddress, false) ||
      !text("parent", n.m_strParentName, false) || !text("icon", n.m_strIconPath, false) ||
      !text("note", n.m_strNote, false) || !text("circle", n.m_strCircle, false))
    return false;
  if (!number("kind", 0, 1, kind) || !number("visits", INT32_MIN, INT32_MAX, visits) ||
      !number("time", 0, UINT32_MAX, time) || !number("slot", INT32_MIN, INT32_MAX, slot) ||
      !number("script", 0, 1, script))
    return false;
  n.m_nKind = (int32_t)kind;
  n.m_nVisits = (int32_t)visits;
  n.m_tLastVisit = time;
  n.m_nSlot = (int32_t)slot;
  n.m_bScript = (int32_t)script;
  if (n.m_nKind == UrlItem && n.m_strParentName.empty()) {
    error = "an item (kind 1) needs \"parent\", the name of its category";
    return false;
  }
  if (n.m_nKind == UrlCategory && !n.m_strParentName.empty()) {
    error = "a category (kind 0) has no \"parent\"";
    return false;
  }
  return true;
}

int Make(const std::string& in, const std::string& file) {
  std::string bytes;
  if (!os::ReadWholeFile(in, bytes)) {
    qtool::Error("cannot read " + qtool::Shown(in));
    return 1;
  }
  std::vector<std::unique_ptr<CMyNode>> nodes;
  int lineNo = 0;
  for (const std::string& line : qb::SplitLines(bytes)) {
    ++lineNo;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    qb::JsonValue obj;
    qb::JsonError jsonError;
    std::string error;
    std::unique_ptr<CMyNode> n(new CMyNode);
    if (!qb::ParseJson(line, obj, jsonError)) {
      // One line at a time: the reader's column is the place on this line.
      qtool::Error(qtool::Shown(in) + ": line " + std::to_string(lineNo) + ", column " + std::to_string(jsonError.column) + ": " +
                   qb::FromUtf8(jsonError.what));
      return 1;
    }
    if (!NodeFromJson(obj, *n, error)) {
      qtool::Error(qtool::Shown(in) + ": line " + std::to_string(lineNo) + ": " + error);
      return 1;
    }
    nodes.push_back(std::move(n));
  }
  // Items join the first category of their parent's name, as loading does.
  std::map<std::string, CMyNode*> categories;
  for (auto& n : nodes)
    if (n->m_nKind == UrlCategory) categories.emplace(n->m_strName, n.get());
  for (auto& n : nodes) {
    if (n->m_nKind != UrlItem) continue;
    auto it = categories.find(n->m_strParentName);
    if (it == categories.end()) {
      qtool::Error(qtool::Shown(in) + ": item \"" + n->m_strName + "\" names the category \"" + n->m_strParentName +
                   "\", which is not in the file");
      return 1;
    }
    n->m_pParent = it->second;
  }
  std::vector<const CMyNode*> order;
  for (auto& n : nodes) order.push_back(n.get());
  if (!ReplaceFileKeepingBackup(file, std::string(), FavoritesFileBytes(order))) {
    qtool::Error("cannot write " + qtool::Shown(file));
    return 1;
  }
  return 0;
}

// ---- bookmark HTML -------------------------------------------------------------

std::string HtmlEscape(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

int ExportHtml(const std::string& file, const std::string& out) {
  CMyNodeList list;
  if (!LoadOrComplain(list, file)) return 1;
  std::string html =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
  for (const CMyNode* c : list) {
    if (c->m_nKind != UrlCategory) continue;
    html += "    <DT><H3>" + HtmlEscape(qtool::Utf8(c->m_strName)) + "</H3>\n    <DL><p>\n";
    for (const CMyNode* n : list) {
      if (n->m_pParent != c) continue;
      html += "        <DT><A HREF=\"" + HtmlEscape(qtool::Utf8(n->m_strAddress)) + "\" LAST_VISIT=\"" +
              std::to_string(n->m_tLastVisit) + "\">" + HtmlEscape(qtool::Utf8(n->m_strName)) + "</A>\n";
      if (!n->m_strNote.empty()) html += "        <DD>" + HtmlEscape(qtool::Utf8(n->m_strNote)) + "\n";
    }
    html += "    </DL><p>\n";
  }
  html += "</DL><p>\n";
  if (!ReplaceFileKeepingBackup(out, std::string(), html)) {
    qtool::Error("cannot write " + qtool::Shown(out));
    return 1;
  }
  return 0;
}

int ImportHtml(const std::string& in, const std::string& file) {
  std::string html;
  if (!os::ReadWholeFile(in, html)) {
    qtool::Error("cannot read " + qtool::Shown(in));
    return 1;
  }
  CMyNodeList list;
  list.m_strBaseDir = os::ProgramDirectory();
  BookmarkImportResult result;
  ImportBookmarkHtml(list, html, result);
  if (int rc = WriteNodes(list, file)) return rc;
  // The file is written; what did not fit is said, as the program's import box says it.
  if (result.notImported > 0)
    qtool::Error(std::to_string(result.notImported) + " of " + std::to_string(result.notImported + result.links) +
                 " links could not be imported: all 44 categories are in use");
  if (result.duplicates > 0)
    qtool::Error(std::to_string(result.duplicates) + " links were left out as duplicates of links in their category");
  return 0;
}

// ---- import-favorites --------------------------------------------------------------

int ImportFavoritesFolder(std::string dir, const std::string& file) {
  const std::string shown = qtool::Shown(dir);
  if (!os::IsFolder(dir)) {
    qtool::Error("not a folder: " + qtool::Shown(dir));
    return 1;
  }
  if (dir.empty() || dir.back() != '\\') dir.push_back('\\');
  CMyNodeList list;
  list.m_strBaseDir = os::ProgramDirectory();
  if (!ImportBrowserFavorites(list, dir)) {
    qtool::Error("the Favorites folder could not be imported: " + shown);
    return 1;
  }
  return WriteNodes(list, file);
}

// ---- import-chromium ---------------------------------------------------------------

// Adds a Chromium-family Bookmarks file to a favorites file (made when it
// does not exist). A file that cannot be taken whole changes nothing.
int ImportChromium(const std::string& bookmarks, const std::string& file) {
  CMyNodeList list;
  list.m_strBaseDir = os::ProgramDirectory();
  if (os::FileExists(file) && !LoadOrComplain(list, file)) return 1;
  ChromiumImport result;
  std::string error;
  if (!ImportChromiumBookmarksFile(list, bookmarks, result, error)) {
    qtool::Error(bookmarks + ": " + error + "; nothing imported");
    return 1;
  }
  if (int rc = WriteNodes(list, file)) return rc;
  printf("%d bookmarks in %d new categories; %d left out\n", result.items, result.categories, result.skipped);
  for (const std::string& name : result.browserOnly)
    printf("left out, runs only inside the browser: %s\n", qtool::Utf8(name).c_str());
  return 0;
}

// ---- find ------------------------------------------------------------------------

// The find box's matches of a favorites file, best first, one JSON object a
// line. 0 when something matched, 1 when nothing did, 2 when the file cannot
// be read.
int Find(const std::string& file, int argc, char** argv) {
  CMyNodeList list;
  if (!LoadOrComplain(list, file)) return 2;
  std::string query;
  for (int i = 0; i < argc; ++i) query += qb::FromUtf8(argv[i]) + " ";
  panels::CFindIndex index;
  index.Build(list);
  std::vector<panels::FindHit> hits = index.Find(query);
  for (const panels::FindHit& h : hits) {
    const CMyNode& n = *h.entry->node;
    printf("{\"name\":%s,\"address\":%s,\"category\":%s,\"note\":%s,\"visits\":%d,\"rank\":%d}\n",
           qtool::JsonString(h.entry->caption).c_str(), qtool::JsonString(n.m_strAddress).c_str(),
           qtool::JsonString(h.entry->where).c_str(), qtool::JsonString(n.m_strNote).c_str(), n.m_nVisits, h.tier);
  }
  return hits.empty() ? 1 : 0;
}

int RunFav(int argc, char** argv) {
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "dump" && argc == 3) return Dump(Path(argv[2]));
  if (cmd == "make" && argc == 4) return Make(Path(argv[2]), Path(argv[3]));
  if (cmd == "import-favorites" && argc == 4) return ImportFavoritesFolder(Path(argv[2]), Path(argv[3]));
  if (cmd == "export-html" && argc == 4) return ExportHtml(Path(argv[2]), Path(argv[3]));
  if (cmd == "import-html" && argc == 4) return ImportHtml(Path(argv[2]), Path(argv[3]));
  if (cmd == "import-chromium" && argc == 4) return ImportChromium(Path(argv[2]), Path(argv[3]));
  if (cmd == "find" && argc >= 4) return Find(Path(argv[2]), argc - 3, argv + 3);
  fprintf(stderr,
          "usage: qimbo-tool fav dump FILE\n"
          "       qimbo-tool fav make IN.jsonl FILE\n"
          "       qimbo-tool fav import-favorites DIR FILE\n"
          "       qimbo-tool fav export-html FILE OUT.html\n"
          "       qimbo-tool fav import-html IN.html FILE\n"
          "       qimbo-tool fav import-chromium BOOKMARKS.json FILE\n"
          "       qimbo-tool fav find FILE WORDS...   (exit 1: no match)\n");
  return 2;
}

}  // namespace

static qtool::Registrar reg("fav", RunFav,
                            "  fav dump FILE | make IN.jsonl FILE | import-favorites DIR FILE |\n"
                            "      export-html FILE OUT.html | import-html IN.html FILE |\n"
                            "      import-chromium BOOKMARKS.json FILE | find FILE WORDS...");

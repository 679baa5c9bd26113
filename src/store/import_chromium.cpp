#include "store/import_chromium.h"

#include <cstdint>

#include "base/codepage.h"
#include "base/json.h"
#include "os/os.h"
#include "store/web_import.h"

namespace {

const char kFirstLevel[] = "一级目录";
const char kUnnamed[] = "未命名";

// The three roots in the order the browsers show them, with the name their
// loose bookmarks' category gets when the file names none.
const struct {
  const char* key;
  const char* fallbackName;
} kRoots[] = {
    {"bookmark_bar", "书签栏"},
    {"other", "其他书签"},
    {"synced", "移动设备书签"},
};

// Opera's own roots, kept under "custom_root", with the names their
// categories get when the file names none. The trash is left out (and
// counted); a root not listed here is imported under its own name or key.
const struct {
  const char* key;
  const char* fallbackName;
} kOperaRoots[] = {
    {"speedDial", "快速拨号"},
    {"userRoot", "我的文件夹"},
    {"unsorted", "未分类书签"},
    {"pinboard", "图板"},
};
const char kOperaTrash[] = "trash";

// Where each browser keeps its default profile, below the local application data.
const char* const kProfiles[] = {
    "Google\\Chrome\\User Data\\Default\\Bookmarks",
    "Microsoft\\Edge\\User Data\\Default\\Bookmarks",
    "BraveSoftware\\Brave-Browser\\User Data\\Default\\Bookmarks",
    "Vivaldi\\User Data\\Default\\Bookmarks",
    "Chromium\\User Data\\Default\\Bookmarks",
    "360Chrome\\Chrome\\User Data\\Default\\Bookmarks",
};
// Opera keeps its profile in the roaming application data, without "User Data".
const char* const kRoamingProfiles[] = {
    "Opera Software\\Opera Stable\\Bookmarks",
    "Opera Software\\Opera GX Stable\\Bookmarks",
};

// A folder nests two JSON levels (the node and its "children" array); this
// leaves room for folders 60 deep and still bounds the reader's recursion.
const int kMaxJsonDepth = 128;

struct Bookmark {
  std::string name, url;  // UTF-8
  int64_t lastUsed = 0;   // seconds since 1970, 0 = unknown
};
struct Folder {
  std::string name;  // UTF-8
  std::vector<Bookmark> bookmarks;
  bool loose = false;  // a root's own bookmarks: no folder of the browser's
};

// The checked contents of a file, before anything touches the tree.
class CPlan {
 public:
  std::vector<Folder> folders;
  int leftOut = 0;  // bookmarks of the trash, of roots no browser shows, of unknown node types

  bool Read(const qb::JsonValue& doc, std::string& error) {
    if (doc.type != qb::JsonValue::Object) return Fail(error, "the file is not a JSON object");
    const qb::JsonValue* roots = doc.Find("roots");
    if (!roots || roots->type != qb::JsonValue::Object)
      return Fail(error, "no \"roots\" object: not a Chromium bookmarks file");
    int found = 0;
    for (const auto& r : kRoots) {
      const qb::JsonValue* root = roots->Find(r.key);
      if (!root) continue;
      ++found;
      if (!ReadRoot(*root, r.key, r.fallbackName, error)) return false;
    }
    for (const auto& member : roots->members) {
      if (member.first == "custom_root") {
        if (!ReadCustomRoots(member.second, error)) return false;
        ++found;
      } else if (!IsStandardRoot(member.first)) {
        leftOut += CountBookmarks(member.second);  // a root no browser of the family shows
      }
    }
    if (!found) return Fail(error, "\"roots\" holds none of bookmark_bar, other, synced, custom_root");
    return true;
  }

 private:
  static bool Fail(std::string& error, const std::string& what) {
    error = what;
    return false;
  }

  static bool IsStandardRoot(const std::string& key) {
    for (const auto& r : kRoots)
      if (key == r.key) return true;
    return false;
  }

  // The bookmarks anywhere under a node, whatever its shape.
  static int CountBookmarks(const qb::JsonValue& node) {
    if (node.type == qb::JsonValue::Array) {
      int n = 0;
      for (const qb::JsonValue& v : node.items) n += CountBookmarks(v);
      return n;
    }
    if (node.type != qb::JsonValue::Object) return 0;
    const qb::JsonValue* type = node.Find("type");
    if (type && type->type == qb::JsonValue::String && type->text == "url") return 1;
    const qb::JsonValue* children = node.Find("children");
    return children ? CountBookmarks(*children) : 0;
  }

  // Opera's roots: an object of folders by key, each read like the other
  // roots; the trash is left out and counted.
  bool ReadCustomRoots(const qb::JsonValue& custom, std::string& error) {
    if (custom.type != qb::JsonValue::Object) return Fail(error, "custom_root: not an object");
    for (const auto& member : custom.members) {
      if (member.first == kOperaTrash) {
        leftOut += CountBookmarks(member.second);
        continue;
      }
      std::string fallback = member.first;
      for (const auto& r : kOperaRoots)
        if (member.first == r.key) qb::GbkToUtf8(r.fallbackName, fallback);
      if (!ReadRoot(member.second, ("custom_root." + member.first).c_str(), fallback, error)) return false;
    }
    return true;
  }

  // Checks the members every node has and tells folders from bookmarks;
  // other node types (none today) are passed over.
  static bool NodeKind(const qb::JsonValue& node, const std::string& where, bool& folder, bool& bookmark,
                       std::string& error) {
    folder = bookmark = false;
    if (node.type != qb::JsonValue::Object) return Fail(error, where + ": a node that is not an object");
    const qb::JsonValue* type = node.Find("type");
    if (!type || type->type != qb::JsonValue::String) return Fail(error, where + ": a node without a \"type\" text");
    const qb::JsonValue* name = node.Find("name");
    if (name && name->type != qb::JsonValue::String) return Fail(error, where + ": a \"name\" that is not a text");
    folder = type->text == "folder";
    bookmark = type->text == "url";
    if (bookmark) {
      const qb::JsonValue* url = node.Find("url");
      if (!url || url->type != qb::JsonValue::String) return Fail(error, where + ": a bookmark without a \"url\" text");
    }
    if (folder) {
      const qb::JsonValue* children = node.Find("children");
      if (!children || children->type != qb::JsonValue::Array)
        return Fail(error, where + ": a folder without a \"children\" list");
    }
    return true;
  }

  static std::string NameOf(const qb::JsonValue& node) {
    const qb::JsonValue* name = node.Find("name");
    return name ? name->text : std::string();
  }

  // "date_last_used" is a count of microseconds since 1601 in decimal
  // text; anything else is no time.
  static int64_t LastUsed(const qb::JsonValue& node) {
    const qb::JsonValue* v = node.Find("date_last_used");
    if (!v || v->type != qb::JsonValue::String || v->text.empty() || v->text.size() > 19) return 0;
    uint64_t us = 0;
    for (char c : v->text) {
      if (c < '0' || c > '9') return 0;
      us = us * 10 + (uint64_t)(c - '0');
    }
    const int64_t kFrom1601 = 11644473600LL;
    int64_t seconds = (int64_t)(us / 1000000) - kFrom1601;
    return seconds > 0 ? seconds : 0;
  }

  static Bookmark MakeBookmark(const qb::JsonValue& node) {
    Bookmark b;
    b.name = NameOf(node);
    b.url = node.Find("url")->text;
    b.lastUsed = LastUsed(node);
    return b;
  }

  bool ReadRoot(const qb::JsonValue& root, const char* key, const char* fallbackName, std::string& error) {
    std::string fallback;
    qb::GbkToUtf8(fallbackName, fallback);
    return ReadRoot(root, std::string(key), fallback, error);
  }

  // `fallback` (UTF-8) names the loose bookmarks' category when the root has no name.
  bool ReadRoot(const qb::JsonValue& root, const std::string& key, const std::string& fallback,
                std::string& error) {
    bool folder = false, bookmark = false;
    if (!NodeKind(root, key, folder, bookmark, error)) return false;
    if (!folder) return Fail(error, key + ": the root is not a folder");
    Folder loose;
    loose.loose = true;
    loose.name = NameOf(root);
    if (loose.name.empty()) loose.name = fallback;
    std::vector<Folder> inner;
    for (const qb::JsonValue& child : root.Find("children")->items) {
      if (!NodeKind(child, key, folder, bookmark, error)) return false;
      if (bookmark) loose.bookmarks.push_back(MakeBookmark(child));
      if (!folder && !bookmark) ++leftOut;  // a node type this reader does not know
      if (!folder) continue;
      Folder f;
      f.name = NameOf(child);
      if (!Flatten(child, f.bookmarks, key, error)) return false;
      inner.push_back(std::move(f));
    }
    if (!loose.bookmarks.empty()) folders.push_back(std::move(loose));
    for (Folder& f : inner) folders.push_back(std::move(f));
    return true;
  }

  // Every bookmark under a folder, depth first in the file's order.
  bool Flatten(const qb::JsonValue& folderNode, std::vector<Bookmark>& out, const std::string& key,
               std::string& error) {
    for (const qb::JsonValue& child : folderNode.Find("children")->items) {
      bool folder = false, bookmark = false;
      if (!NodeKind(child, key, folder, bookmark, error)) return false;
      if (bookmark) out.push_back(MakeBookmark(child));
      if (!folder && !bookmark) ++leftOut;
      if (folder && !Flatten(child, out, key, error)) return false;
    }
    return true;
  }
};

// A category name as the other imports make them; the brackets of the
// protocol's fields cannot be part of it.
std::string CategoryName(const std::string& utf8) {
  std::string out;
  for (char c : ImportedText(utf8))
    if (c != '<' && c != '>') out.push_back(c);
  return out.empty() ? std::string(kUnnamed) : out;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= s.size()) return false;
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Whether an address can be opened from the program: scripts and inline
// data only work inside the browser that holds them.
bool UsableAddress(const std::string& url) {
  if (url.empty() || url.size() > kChromiumAddressMax) return false;
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

// A bookmarklet or inline data: it runs only inside the browser that holds it.
bool BrowserOnlyAddress(const std::string& url) {
  return StartsWithNoCase(url, "javascript:") || StartsWithNoCase(url, "data:");
}

// What the report names for a bookmark left out: its name (or, without
// one, the start of its address), in the tree's text.
std::string ReportName(const Bookmark& b) {
  std::string name = ImportedText(b.name);
  if (name.empty()) name = qb::CutBytes(ImportedText(b.url), 60);
  return name;
}

}  // namespace

int ImportChromiumBookmarks(CMyNodeList& list, const std::string& json, ChromiumImport& result, std::string& error) {
  result = ChromiumImport();
  qb::JsonValue doc;
  qb::JsonError jsonError;
  qb::JsonLimits limits;
  limits.maxBytes = kChromiumBookmarksMaxBytes;
  limits.maxDepth = kMaxJsonDepth;
  if (!qb::ParseJson(json, doc, jsonError, limits)) {
    error = "not valid JSON: " + jsonError.Message();
    return 0;
  }
  CPlan plan;
  if (!plan.Read(doc, error)) return 0;

  int before = list.CountKind(UrlCategory), unusable = 0;
  {
    // Placed as every import of other programs' bookmarks is placed.
    CWebImport web(list);
    for (const Folder& f : plan.folders) {
      // A root's own bookmarks make a category only when one of them can go in.
      bool any = !f.loose;
      for (const Bookmark& b : f.bookmarks) any = any || (!BrowserOnlyAddress(b.url) && UsableAddress(b.url));
      int folder = any ? web.Folder(CategoryName(f.name)) : -1;
      if (any) web.FolderNote(folder, kFirstLevel);
      for (const Bookmark& b : f.bookmarks) {
        if (BrowserOnlyAddress(b.url)) {
          ++unusable;
          result.browserOnly.push_back(ReportName(b));
          continue;
        }
        if (!UsableAddress(b.url)) {
          ++unusable;
          continue;
        }
        CMyNode* item = new CMyNode;
        item->m_strAddress = ImportedText(b.url);
        item->m_strName = CleanName(ImportedText(b.name));
        // Without a title the bookmark is named after its address, by the same rule.
        if (item->m_strName.empty()) item->m_strName = CleanName(item->m_strAddress);
        if (item->m_strName.empty()) item->m_strName = kUnnamed;
        if (b.lastUsed) item->m_tLastVisit = b.lastUsed;
        web.AddLink(folder, item);
      }
    }
    result.items = web.Added();
    result.skipped = unusable + plan.leftOut + web.NotImported() + web.Duplicates();
  }
  result.categories = list.CountKind(UrlCategory) - before;
  return 1;
}

int ImportChromiumBookmarksFile(CMyNodeList& list, const std::string& path, ChromiumImport& result,
                                std::string& error) {
  result = ChromiumImport();
  int64_t size = os::FileSize(path);
  if (size < 0 || os::IsFolder(path)) {
    error = "cannot read the file";
    return 0;
  }
  if ((uint64_t)size > kChromiumBookmarksMaxBytes) {
    error = "the file is larger than " + std::to_string(kChromiumBookmarksMaxBytes) + " bytes";
    return 0;
  }
  std::string json;
  if (!os::ReadWholeFile(path, json)) {
    error = "cannot read the file";
    return 0;
  }
  return ImportChromiumBookmarks(list, json, result, error);
}

std::vector<std::string> ChromiumBookmarkFiles(const std::string& localAppData, const std::string& roamingAppData) {
  std::vector<std::string> files;
  auto take = [&](const std::string& folder, const char* profile) {
    if (folder.empty()) return;
    std::string path = os::JoinPath(folder, profile);
    if (os::FileExists(path) && !os::IsFolder(path)) files.push_back(path);
  };
  for (const char* profile : kProfiles) take(localAppData, profile);
  for (const char* profile : kRoamingProfiles) take(roamingAppData, profile);
  return files;
}

int ImportChromiumProfiles(CMyNodeList& list, const std::string& localAppData, const std::string& roamingAppData) {
  int added = 0;
  for (const std::string& file : ChromiumBookmarkFiles(localAppData, roamingAppData)) {
    ChromiumImport result;
    std::string error;
    if (ImportChromiumBookmarksFile(list, file, result, error)) added += result.items;
  }
  return added;
}

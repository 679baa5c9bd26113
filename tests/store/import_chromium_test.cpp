#include <gtest/gtest.h>

#include <ctime>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#endif

#include "base/codepage.h"
#include "model/app_logic.h"
#include "os/os.h"
#include "store/favorites_file.h"
#include "store/import_chromium.h"
#include "testutil.h"
#include "tree_util.h"

namespace {

using qbtest::ReadFileBytes;
using qbtest::TempDir;
using qbtest::WriteFileBytes;

std::string TestData(const std::string& name) { return qbtest::SourceFolder(QIMBO_CHROMIUM_TEST_DATA) + name; }

const CMyNode* Item(const CMyNodeList& list, const std::string& name) {
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem && n->m_strName == name) return n;
  return nullptr;
}

std::vector<std::string> Categories(const CMyNodeList& list) {
  std::vector<std::string> names;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlCategory) names.push_back(n->m_strName + "@" + std::to_string(n->m_nSlot));
  return names;
}

// A Bookmarks file around the bookmark bar's children (JSON text).
std::string Bar(const std::string& children, const std::string& other = "") {
  return R"({"checksum":"0","roots":{"bookmark_bar":{"children":[)" + children +
         R"(],"name":"Bookmarks bar","type":"folder"},"other":{"children":[)" + other +
         R"(],"name":"Other bookmarks","type":"folder"},"synced":{"children":[],"name":"Mobile bookmarks","type":"folder"}},"version":1})";
}
std::string Url(const std::string& name, const std::string& url) {
  return R"({"name":")" + name + R"(","type":"url","url":")" + url + R"("})";
}
std::string Dir(const std::string& name, const std::string& children) {
  return R"({"children":[)" + children + R"(],"name":")" + name + R"(","type":"folder"})";
}

TEST(ChromiumImport, AFileInTheBrowsersOwnShape) {
  CMyNodeList list;
  list.m_strBaseDir = "C:\\Q\\";
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarksFile(list, TestData("chromium-Bookmarks.json"), r, error)) << error;
  // The bar's loose bookmark, then its folder with the deeper folder's
  // bookmark flattened into it, then the folder under "other bookmarks";
  // the empty mobile root makes nothing.
  EXPECT_EQ((std::vector<std::string>{"书签栏@0", "新闻@1", "工具@2"}), Categories(list));
  EXPECT_EQ(3, r.categories);
  EXPECT_EQ(4, r.items);
  EXPECT_EQ(0, r.skipped);

  const CMyNode* sina = Item(list, "新浪首页");
  ASSERT_TRUE(sina);
  EXPECT_EQ("https://www.sina.example.cn/", sina->m_strAddress);
  EXPECT_EQ("书签栏", sina->m_pParent->m_strName);
  // date_last_used 13351017600000000 us after 1601 is 2024-02-05 00:00:00 UTC.
  EXPECT_EQ(1707091200, sina->m_tLastVisit);
  EXPECT_EQ("C:\\Q\\images\\icon\\ieicon\\IE XP0.ico", sina->m_strIconPath);

  // Item names pass through the name cleaning: lower case, " - " gone.
  const CMyNode* news = Item(list, "daily newsfront page");
  ASSERT_TRUE(news);
  EXPECT_EQ(0, news->m_nSlot);
  const CMyNode* sports = Item(list, "体育 & sports");
  ASSERT_TRUE(sports) << "the \\u0026 escape is an ampersand";
  EXPECT_EQ("新闻", sports->m_pParent->m_strName);
  EXPECT_EQ(1, sports->m_nSlot);
  const CMyNode* mdn = Item(list, "mdn web docs");
  ASSERT_TRUE(mdn);
  EXPECT_EQ("工具", mdn->m_pParent->m_strName);
  // Categories are first-level folders, as the Favorites import makes them.
  EXPECT_EQ("一级目录", list.FindNode("新闻", UrlCategory)->m_strNote);
}

TEST(ChromiumImport, NestedFoldersFlattenIntoTheirFirstLevelFolder) {
  std::string json = Bar(Dir("A", Url("a1", "http://a/1") + "," + Dir("B", Url("b1", "http://b/1") + "," +
                                                                          Dir("C", Url("c1", "http://c/1"))) +
                                      "," + Url("a2", "http://a/2")) +
                         "," + Dir("D", ""));
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  ASSERT_EQ(1, ImportChromiumBookmarks(list, json, r, error)) << error;
  EXPECT_EQ((std::vector<std::string>{"A@0", "D@1"}), Categories(list)) << "an empty folder is still a category";
  std::vector<std::string> order;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem) order.push_back(n->m_strName + "@" + std::to_string(n->m_nSlot));
  EXPECT_EQ((std::vector<std::string>{"a1@0", "b1@1", "c1@2", "a2@3"}), order) << "depth first, in the file's order";
  // A node of another type after a folder is passed over, not taken for the folder again.
  CMyNodeList other;
  ASSERT_TRUE(ImportChromiumBookmarks(
      other, Bar(Dir("E", Url("e1", "http://e/1")) + ",{\"type\": \"separator\", \"name\": \"--\"}"), r, error))
      << error;
  EXPECT_EQ((std::vector<std::string>{"E@0"}), Categories(other));
  for (const CMyNode* n : list) {
    if (n->m_nKind == UrlItem) {
      EXPECT_EQ("A", n->m_pParent->m_strName);
    }
  }
}

TEST(ChromiumImport, NonAsciiNamesAndEscapes) {
  // \u4e2d\u6587 is 中文; \ud83d\ude00 (an emoji) has no GBK form and is
  // kept as its reference; a literal "&amp;" is text, not an entity to decode.
  std::string json = Bar(Dir(R"(\u4e2d\u6587  \u76ee\u5f55 \ud83d\ude00)",
                             Url(R"(\u7f51\u9875 \"\u5feb\" \/ \\)", "http://cn.example/") + "," +
                                 Url("Tom &amp; Jerry", "http://tj.example/")) +
                         "," + Dir(R"(<b>)", Url("x", "http://x.example/")));
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarks(list, json, r, error)) << error;
  // Runs of blanks become one; the angle brackets of the protocol's fields
  // go; a name left empty becomes 未命名.
  EXPECT_EQ((std::vector<std::string>{"中文 目录 &#x1F600;@0", "b@1"}), Categories(list));
  // The cleaning drops the quote marks, "/" and "\" from item names.
  EXPECT_TRUE(Item(list, "网页 快"));
  EXPECT_TRUE(Item(list, "tom &amp; jerry"));

  CMyNodeList blank;
  ASSERT_TRUE(ImportChromiumBookmarks(blank, Bar(Dir("<>", Url("", "http://nameless.example/"))), r, error));
  EXPECT_EQ((std::vector<std::string>{"未命名@0"}), Categories(blank));
  EXPECT_TRUE(Item(blank, "httpnamelessexample")) << "a bookmark without a name is named by its address, cleaned";
}

TEST(ChromiumImport, TheTreesLimitsHold) {
  // 31 bookmarks in one folder: 30 buttons, the 31st goes on in "Full2", as
  // every import of other programs' bookmarks does.
  std::string many;
  for (int i = 0; i < 31; ++i) many += (i ? "," : "") + Url("n" + std::to_string(i), "http://h/" + std::to_string(i));
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarks(list, Bar(Dir("Full", many)), r, error));
  EXPECT_EQ(31, r.items);
  EXPECT_EQ(0, r.skipped);
  EXPECT_EQ(2, r.categories);
  EXPECT_EQ((std::vector<std::string>{"Full@0", "Full2@1"}), Categories(list));
  EXPECT_EQ("Full2", Item(list, "n30")->m_pParent->m_strName);
  EXPECT_EQ(0, Item(list, "n30")->m_nSlot);
  EXPECT_EQ(29, Item(list, "n29")->m_nSlot);

  // 45 folders: tabs 0..43, the 45th folder's bookmark left out.
  std::string folders;
  for (int i = 0; i < 45; ++i)
    folders += (i ? "," : "") + Dir("F" + std::to_string(i), Url("b" + std::to_string(i), "http://f/" + std::to_string(i)));
  CMyNodeList tabs;
  ASSERT_TRUE(ImportChromiumBookmarks(tabs, Bar(folders), r, error));
  EXPECT_EQ(44, r.categories);
  EXPECT_EQ(44, r.items);
  EXPECT_EQ(1, r.skipped);
  EXPECT_TRUE(tabs.FindNode("F43", UrlCategory));
  EXPECT_FALSE(tabs.FindNode("F44", UrlCategory));
}

TEST(ChromiumImport, JoinsExistingCategoriesAndSkipsWhatIsThere) {
  CMyNodeList list;
  CMyNode* tools = qbtest::AddNodeTo(list, "Tools", UrlCategory, nullptr, 0);
  ASSERT_TRUE(tools);
  ASSERT_TRUE(qbtest::AddNodeTo(list, "have", UrlItem, tools, 0, "http://have/"));

  std::string json = Bar(Dir("Tools", Url("have", "http://have/") + "," + Url("new", "http://new/")) + "," +
                         Dir("Other", Url("o", "http://o/")));
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarks(list, json, r, error));
  EXPECT_EQ((std::vector<std::string>{"Tools@0", "Other@1"}), Categories(list));
  EXPECT_EQ(1, r.categories);
  EXPECT_EQ(2, r.items);
  EXPECT_EQ(1, r.skipped) << "the bookmark already in the category";
  EXPECT_EQ(1, Item(list, "new")->m_nSlot);

  // The same file again adds nothing.
  size_t count = list.GetCount();
  ASSERT_TRUE(ImportChromiumBookmarks(list, json, r, error));
  EXPECT_EQ(count, list.GetCount());
  EXPECT_EQ(3, r.skipped);
}

TEST(ChromiumImport, AddressesThatCannotOpenFromHereAreLeftOut) {
  std::string longUrl = "http://l/" + std::string(kChromiumAddressMax - 9, 'a');
  ASSERT_EQ(kChromiumAddressMax, longUrl.size());
  std::string json = Bar(Url("script", "javascript:alert(1)") + "," + Url("SCRIPT", "JavaScript:void(0)") + "," +
                         Url("data", "data:text/html,hi") + "," + Url("empty", "") + "," +
                         Url("tab", "http://t/\\tx") + "," + Url("longest", longUrl) + "," +
                         Url("too long", longUrl + "a") + "," + Url("ftp", "ftp://files.example/") + "," +
                         Url("other scheme", "kata:x") + "," + Url("del", "http://d/\\u007f") + "," +
                         Url("unit", "http://u/\\u001fx") + "," + Url("space", "http://s/ x") + "," +
                         Url("c1", "http://c/\\u0080") + "," + Url("DATA", "DATA:text/plain,x") + "," +
                         Url("short", "data"));
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarks(list, json, r, error));
  EXPECT_EQ(6, r.items);
  EXPECT_EQ(9, r.skipped);
  EXPECT_TRUE(Item(list, "short")) << "shorter than data: is no data: address";
  EXPECT_TRUE(Item(list, "space"));
  EXPECT_TRUE(Item(list, "c1")) << "U+0080 is no control byte of the address";
  EXPECT_TRUE(Item(list, "longest"));
  EXPECT_TRUE(Item(list, "ftp"));
  EXPECT_TRUE(Item(list, "other scheme")) << "only its first letter differs from data:";
}

TEST(ChromiumImport, BrokenFilesAreRefusedAndChangeNothing) {
  std::string good = Bar(Url("a", "http://a/"));
  const struct {
    std::string json;
    const char* says;
  } cases[] = {
      {good.substr(0, good.size() / 2), "not valid JSON"},
      {"", "not valid JSON"},
      {"[1,2]", "not a JSON object"},
      {R"({"roots":[]})", "no \"roots\""},
      {R"({"version":1})", "no \"roots\""},
      {R"({"roots":{"x":{}}})", "none of"},
      {R"({"roots":{"bookmark_bar":{"type":"url","url":"http://a/"}}})", "not a folder"},
      {R"({"roots":{"bookmark_bar":{"type":"folder","children":{}}}})", "\"children\" list"},
      {R"({"roots":{"bookmark_bar":{"type":"folder"}}})", "\"children\" list"},
      {Bar(R"({"name":5,"type":"url","url":"http://a/"})"), "\"name\""},
      {Bar(R"({"name":"a","type":"url"})"), "\"url\" text"},
      {Bar(R"({"name":"a","type":"url","url":7})"), "\"url\" text"},
      {Bar(R"({"name":"a","url":"http://a/"})"), "\"type\""},
      {Bar(R"({"name":"a","type":1,"url":"http://a/"})"), "\"type\" text"},
      {Bar(R"("just text")"), "not an object"},
      {Bar(Dir("d", R"({"type":"folder","name":"e","children":[3]})")), "not an object"},
      {"{\"roots\":{\"bookmark_bar\":{\"type\":\"folder\",\"name\":\"\xff\",\"children\":[]}}}", "not valid JSON"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json.substr(0, 80));
    CMyNodeList list;
    ASSERT_TRUE(qbtest::AddNodeTo(list, "keep", UrlCategory, nullptr, 0));
    ChromiumImport r;
    r.items = 99;
    std::string error;
    EXPECT_FALSE(ImportChromiumBookmarks(list, c.json, r, error));
    EXPECT_NE(std::string::npos, error.find(c.says)) << error;
    EXPECT_EQ(1u, list.GetCount());
    EXPECT_EQ(0, r.items);
  }

  // Bad nodes deep down refuse the whole file, even after good folders.
  std::string deepBad = Bar(Dir("ok", Url("a", "http://a/")) + "," + Dir("bad", Dir("x", R"({"type":"url"})")));
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  EXPECT_FALSE(ImportChromiumBookmarks(list, deepBad, r, error));
  EXPECT_EQ(0u, list.GetCount());

  // Folders nested far past any real profile are refused, not recursed into.
  // The reader takes 128 levels: the file's object, "roots", the bar, its list (4),
  // two per folder, one for a link.
  std::string deep = Url("a", "http://a/");
  for (int i = 0; i < 62; ++i) deep = Dir("d", deep);  // 4 + 124 + 1 = 129
  EXPECT_FALSE(ImportChromiumBookmarks(list, Bar(deep), r, error));
  EXPECT_NE(std::string::npos, error.find("nested too deeply")) << error;
  std::string fine = Url("a", "http://a/");
  for (int i = 0; i < 61; ++i) fine = Dir("d", fine);  // 127
  EXPECT_TRUE(ImportChromiumBookmarks(list, Bar(fine), r, error)) << error;
  std::string empty = Dir("e", "");
  for (int i = 0; i < 61; ++i) empty = Dir("d", empty);  // 128
  EXPECT_TRUE(ImportChromiumBookmarks(list, Bar(empty), r, error)) << error;
  empty = Dir("d", empty);  // 130
  EXPECT_FALSE(ImportChromiumBookmarks(list, Bar(empty), r, error));
}

// "date_last_used": microseconds since 1601 as up to 19 decimal digits; anything
// else, and any time not after 1970, leaves the import's own time.
TEST(ChromiumImport, LastUsedTimes) {
  const struct {
    const char* text;
    int64_t seconds;  // 0: the time of the import
  } cases[] = {
      {"\"13390000000999999\"", 1745526400},     {"\"0013390000000000000\"", 1745526400},
      {"\"00013390000000000000\"", 0},           {"\"9999999999999999999\"", 9988355526399},
      {"\"11644473601000000\"", 1},              {"\"11644473600999999\"", 0},
      {"\"1339000000000000/\"", 0},              {"\"1339000000000000:\"", 0},
      {"\"\"", 0},                                 {"13390000000000000", 0},
  };
  for (const auto& c : cases) {
    CMyNodeList list;
    ChromiumImport r;
    std::string error;
    int64_t before = (int64_t)time(nullptr);
    ASSERT_TRUE(ImportChromiumBookmarks(
        list, Bar(std::string(R"({"date_last_used":)") + c.text + R"(,"name":"a","type":"url","url":"http://a/"})"), r,
        error))
        << error;
    const CMyNode* a = Item(list, "a");
    ASSERT_TRUE(a) << c.text;
    if (c.seconds)
      EXPECT_EQ(c.seconds, a->m_tLastVisit) << c.text;
    else
      EXPECT_GE(a->m_tLastVisit, before) << c.text;
  }
}

// A root without a name is named as the browser shows it.
TEST(ChromiumImport, RootsWithoutANameTakeTheirUsualOne) {
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarks(
      list,
      std::string(R"({"roots":{"bookmark_bar":{"children":[)") + Url("a", "http://a/") +
          R"(],"type":"folder"},"other":{"children":[)" + Url("b", "http://b/") + R"(],"type":"folder"}},"version":1})",
      r, error))
      << error;
  EXPECT_EQ((std::vector<std::string>{"书签栏@0", "其他书签@1"}), Categories(list));
  // A root with a name keeps it.
  CMyNodeList named;
  ASSERT_EQ(1, ImportChromiumBookmarks(named, Bar(Url("a", "http://a/"), Url("b", "http://b/")), r, error)) << error;
  EXPECT_EQ((std::vector<std::string>{"Bookmarks bar@0", "Other bookmarks@1"}), Categories(named));
}

// Opera keeps Speed Dial, the user's own root, the unsorted bookmarks and
// the pinboard under "custom_root": they are imported like the other roots,
// the trash is not, and everything left out is counted.
TEST(ChromiumImport, OperasOwnRootsAndEverythingLeftOutCounted) {
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarksFile(list, TestData("opera-Bookmarks.json"), r, error)) << error;
  EXPECT_EQ((std::vector<std::string>{"书签栏@0", "常用 &#x1F600;@1", "常用 &#x1F600;2@2",
                                      "日本語のサイト@3", "Unsorted Bookmarks@4", "Pinboards@5"}),
            Categories(list));
  // 44 bookmarks: 40 in, the bookmarklet, the data address and the two in the trash out.
  EXPECT_EQ(40, r.items);
  EXPECT_EQ(4, r.skipped);
  EXPECT_TRUE(Item(list, "速拨 0"));
  EXPECT_EQ("常用 &#x1F600;2", Item(list, "速拨 34")->m_pParent->m_strName);
  EXPECT_TRUE(Item(list, "看板"));
  EXPECT_FALSE(Item(list, "old 1"));
  EXPECT_FALSE(Item(list, "old 2"));
  // The two that run only inside the browser are named for the report; the
  // one without a title by its address. They were all the user root's own
  // bookmarks: it makes no empty category.
  EXPECT_EQ((std::vector<std::string>{"Bookmarklet", "data:text/html,<b>hi</b>"}), r.browserOnly);

  // A second import of the same file adds nothing, the overflowed folder included.
  size_t count = list.GetCount();
  ASSERT_TRUE(ImportChromiumBookmarksFile(list, TestData("opera-Bookmarks.json"), r, error)) << error;
  EXPECT_EQ(count, list.GetCount());
  EXPECT_EQ(0, r.items);
  EXPECT_EQ(0, r.categories);
  EXPECT_EQ(44, r.skipped);

  // A root nobody shows and a node type nobody knows are counted too.
  CMyNodeList odd;
  std::string json = R"({"roots":{"bookmark_bar":{"children":[)" + Url("a", "http://a/") +
                     R"(,{"type":"separator","name":"-"}],"type":"folder"},"workspaces":{"children":[)" +
                     Url("w", "http://w/") + R"(],"type":"folder"}},"version":1})";
  ASSERT_TRUE(ImportChromiumBookmarks(odd, json, r, error)) << error;
  EXPECT_EQ(1, r.items);
  EXPECT_EQ(2, r.skipped);
  // A file of Opera's roots alone is a bookmarks file; a custom_root that is no object is not.
  CMyNodeList only;
  ASSERT_TRUE(ImportChromiumBookmarks(
      only, R"({"roots":{"custom_root":{"speedDial":{"children":[)" + Url("s", "http://s/") + R"(],"type":"folder"}}}})",
      r, error))
      << error;
  EXPECT_EQ((std::vector<std::string>{"快速拨号@0"}), Categories(only));
  EXPECT_FALSE(ImportChromiumBookmarks(only, R"({"roots":{"custom_root":[]}})", r, error));
}

TEST(ChromiumImport, ASecondImportOfAnOverflowedFolderAddsNothing) {
  std::string many;
  for (int i = 0; i < 65; ++i) many += (i ? "," : "") + Url("n" + std::to_string(i), "http://h/" + std::to_string(i));
  std::string json = Bar(Dir("Full", many));
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarks(list, json, r, error));
  EXPECT_EQ((std::vector<std::string>{"Full@0", "Full2@1", "Full3@2"}), Categories(list));
  size_t count = list.GetCount();
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(ImportChromiumBookmarks(list, json, r, error));
    EXPECT_EQ(count, list.GetCount());
    EXPECT_EQ(0, r.items);
    EXPECT_EQ(65, r.skipped);
  }
  // A new bookmark in the folder still finds its place after the others.
  ASSERT_TRUE(ImportChromiumBookmarks(list, Bar(Dir("Full", many + "," + Url("new", "http://new/"))), r, error));
  EXPECT_EQ(1, r.items);
  EXPECT_EQ("Full3", Item(list, "new")->m_pParent->m_strName);
}

// Characters code page 936 lacks, from a Bookmarks file through a
// favorites file to the wide text of a window and out again as UTF-8.
TEST(ChromiumImport, EmojiHangulAndTheEuroSurviveTheRoundTrip) {
  // 한국어 (Hangul), 🚀 and € in UTF-8, as the browsers write them.
  const std::string hangul = "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4", rocket = "\xF0\x9F\x9A\x80",
                    euro = "\xE2\x82\xAC";
  std::string json = Bar(Dir(hangul, Url(hangul + " " + rocket, "http://kr.example/") + "," +
                                         Url("5" + euro + " " + qb::ToUtf8("中文"), "http://eu.example/")));
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  ASSERT_TRUE(ImportChromiumBookmarks(list, json, r, error)) << error;
  const std::string name = "&#xD55C;&#xAD6D;&#xC5B4; &#x1F680;";
  ASSERT_TRUE(Item(list, name));
  ASSERT_TRUE(Item(list, "5&#x20AC; 中文"));
  TempDir d;
  std::vector<const CMyNode*> nodes(list.begin(), list.end());
  WriteFileBytes(d / "a.sc", FavoritesFileBytes(nodes));
  CMyNodeList back;
  ASSERT_TRUE(LoadFavoritesFile(back, d / "a.sc"));
  const CMyNode* item = Item(back, name);
  ASSERT_TRUE(item);
  EXPECT_EQ(hangul, qb::ToUtf8(item->m_pParent->m_strName));
  // What a window is given and what it gives back.
  std::u16string wide = qb::ToWide(item->m_strName);
  EXPECT_EQ(u"\uD55C\uAD6D\uC5B4 \U0001F680", wide);
  EXPECT_EQ(item->m_strName, qb::FromWide(wide));
  EXPECT_EQ(hangul + " " + rocket, qb::ToUtf8(item->m_strName));
  EXPECT_EQ("5" + euro + " " + qb::ToUtf8("中文"), qb::ToUtf8(Item(back, "5&#x20AC; 中文")->m_strName));
}

TEST(ChromiumImport, FileSizeLimitBothSides) {
  TempDir d;
  std::string body = Bar(Url("a", "http://a/"));
  // Blanks after the value are allowed, so a file of exactly the limit is good.
  std::string atLimit = body + std::string(kChromiumBookmarksMaxBytes - body.size(), ' ');
  WriteFileBytes(d / "Bookmarks", atLimit);
  CMyNodeList list;
  ChromiumImport r;
  std::string error;
  EXPECT_TRUE(ImportChromiumBookmarksFile(list, d / "Bookmarks", r, error)) << error;
  EXPECT_EQ(1, r.items);

  WriteFileBytes(d / "Bookmarks", atLimit + " ");
  CMyNodeList big;
  EXPECT_FALSE(ImportChromiumBookmarksFile(big, d / "Bookmarks", r, error));
  EXPECT_NE(std::string::npos, error.find("larger than")) << error;
  EXPECT_EQ(0u, big.GetCount());

  EXPECT_FALSE(ImportChromiumBookmarksFile(big, d / "missing", r, error));
  EXPECT_EQ("cannot read the file", error);
  EXPECT_FALSE(ImportChromiumBookmarksFile(big, d.Path(), r, error)) << "a folder is no file";
  WriteFileBytes(d / "Empty", "");
  EXPECT_FALSE(ImportChromiumBookmarksFile(big, d / "Empty", r, error));
  EXPECT_NE("cannot read the file", error) << "an empty file is read, and is no JSON";
#ifndef _WIN32
  // A socket has a size but cannot be opened for reading.
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::string sockPath = d / "Bookmarks.sock", native = sockPath;
  for (char& c : native)
    if (c == '\\') c = '/';
  ASSERT_LT(native.size(), sizeof addr.sun_path);
  memcpy(addr.sun_path, native.c_str(), native.size() + 1);
  ASSERT_EQ(0, bind(sock, (sockaddr*)&addr, sizeof addr));
  ASSERT_EQ(0, os::FileSize(sockPath));
  error.clear();
  EXPECT_EQ(0, ImportChromiumBookmarksFile(big, sockPath, r, error));
  EXPECT_EQ("cannot read the file", error);
  close(sock);
  unlink(native.c_str());
#endif
}

TEST(ChromiumImport, ProfilesOfTheInstalledBrowsersAtFirstStart) {
  TempDir d;
  std::string local = d / "Local";
  for (const char* f : {"Local", "Local\\Google", "Local\\Google\\Chrome", "Local\\Google\\Chrome\\User Data",
                        "Local\\Google\\Chrome\\User Data\\Default", "Local\\Microsoft", "Local\\Microsoft\\Edge",
                        "Local\\Microsoft\\Edge\\User Data", "Local\\Microsoft\\Edge\\User Data\\Default",
                        "Local\\Vivaldi", "Local\\Vivaldi\\User Data", "Local\\Vivaldi\\User Data\\Default"})
    ASSERT_TRUE(os::CreateFolder(d / f));
  WriteFileBytes(local + "\\Google\\Chrome\\User Data\\Default\\Bookmarks",
                 Bar(Dir("Work", Url("mail", "http://mail.example/"))));
  WriteFileBytes(local + "\\Microsoft\\Edge\\User Data\\Default\\Bookmarks",
                 Bar(Dir("Work", Url("mail", "http://mail.example/") + "," + Url("wiki", "http://wiki.example/"))));
  WriteFileBytes(local + "\\Vivaldi\\User Data\\Default\\Bookmarks", "{broken");
  // Opera's profile is in the roaming folder, without "User Data"; a folder
  // named like the file is no file.
  std::string roaming = d / "Roaming";
  for (const char* f : {"Roaming", "Roaming\\Opera Software", "Roaming\\Opera Software\\Opera Stable",
                        "Roaming\\Opera Software\\Opera GX Stable",
                        "Roaming\\Opera Software\\Opera GX Stable\\Bookmarks"})
    ASSERT_TRUE(os::CreateFolder(d / f));
  WriteFileBytes(roaming + "\\Opera Software\\Opera Stable\\Bookmarks",
                 Bar(Dir(R"(\u6b4c\u5267)", Url("opera news", "http://news.example/"))));  // 歌剧
  std::vector<std::string> files = ChromiumBookmarkFiles(local, roaming);
  ASSERT_EQ(4u, files.size());
  EXPECT_EQ(local + "\\Google\\Chrome\\User Data\\Default\\Bookmarks", files[0]);
  EXPECT_EQ(local + "\\Microsoft\\Edge\\User Data\\Default\\Bookmarks", files[1]);
  EXPECT_EQ(local + "\\Vivaldi\\User Data\\Default\\Bookmarks", files[2]);
  EXPECT_EQ(roaming + "\\Opera Software\\Opera Stable\\Bookmarks", files[3]);
  EXPECT_EQ(3u, ChromiumBookmarkFiles(local).size());
  EXPECT_EQ((std::vector<std::string>{roaming + "\\Opera Software\\Opera Stable\\Bookmarks"}),
            ChromiumBookmarkFiles("", roaming));
  EXPECT_TRUE(ChromiumBookmarkFiles("").empty());
  {
    CMyNodeList direct;  // mail once, wiki, opera news; the broken file adds none
    EXPECT_EQ(3, ImportChromiumProfiles(direct, local, roaming));
    EXPECT_EQ(0, ImportChromiumProfiles(direct, local, roaming)) << "all of them are there already";
  }

  // The start with no favorites file and no Favorites folder takes them, one
  // "Work" for both browsers, the bookmark they share once, the broken file passed over.
  CAppLogic app;
  app.m_strProgramDir = d.Path();
  app.m_strBaseDir = d.Path();
  app.m_strHomePath = d / "nohome";
  app.m_strLocalAppData = local;
  app.m_strRoamingAppData = roaming;
  ASSERT_TRUE(os::CreateFolder(d / "data"));
  ASSERT_EQ(1, app.OpenFavoritesAtStart());
  EXPECT_EQ((std::vector<std::string>{"Work@0", "歌剧@1"}), Categories(app));
  EXPECT_EQ(3, app.CountKind(UrlItem));
  CMyNodeList saved;
  ASSERT_TRUE(LoadFavoritesFile(saved, d / "data\\1-我的收藏.sc"));
  EXPECT_EQ(5u, saved.GetCount()) << "the import is saved at once";

  // With a Favorites folder that gives a bookmark, the browsers are not asked.
  std::string home = d / "home";
  ASSERT_TRUE(os::CreateFolder(home));
  ASSERT_TRUE(os::CreateFolder(home + "\\Favorites"));
  WriteFileBytes(home + "\\Favorites\\Site.url", "[InternetShortcut]\r\nURL=http://site.example/\r\n");
  os::RemoveFile(d / "data\\1-我的收藏.sc");
  CAppLogic withFavorites;
  withFavorites.m_strProgramDir = d.Path();
  withFavorites.m_strHomePath = home;
  withFavorites.m_strLocalAppData = local;
  ASSERT_EQ(1, withFavorites.OpenFavoritesAtStart());
  EXPECT_EQ(1, withFavorites.CountKind(UrlItem));
  EXPECT_FALSE(withFavorites.FindNode("Work", UrlCategory));
}

}  // namespace

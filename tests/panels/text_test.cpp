#include <gtest/gtest.h>

#include "../../res/panels_ids.h"
#include "panels/panel_text.h"
#include "store/node.h"

using namespace panels;

TEST(RenameText, BlanksAndAngleBracketsGoAndOneByteIsRefused) {
  EXPECT_EQ(CleanRenameText("a <b> c"), "abc");
  EXPECT_TRUE(RenameAccepted(CleanRenameText("a <b> c")));
  EXPECT_FALSE(RenameAccepted(CleanRenameText(" x ")));
  EXPECT_FALSE(RenameAccepted(CleanRenameText("<>")));
  EXPECT_TRUE(RenameAccepted(CleanRenameText("书")));  // one Chinese character is two bytes
}

TEST(NewCategoryText, TrimmedForTheLookUpAndSpacelessForTheName) {
  std::string typed = "  a b \t";
  EXPECT_EQ(TrimBlanks(typed), "a b");
  EXPECT_EQ(RemoveSpaces(TrimBlanks(typed)), "ab");
  EXPECT_EQ(TrimBlanks(" \r\n "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  // A second category typed as "a b" looks up "a b" (not found) and then
  // is refused by the tree because "ab" exists.
  CMyNodeList list;
  CMyNode* first = new CMyNode(RemoveSpaces(TrimBlanks(typed)), UrlCategory, nullptr, 0);
  ASSERT_EQ(list.AddNode(first), 1);
  EXPECT_EQ(list.FindNode(TrimBlanks(typed), UrlCategory), nullptr);
  CMyNode* second = new CMyNode(RemoveSpaces(TrimBlanks(typed)), UrlCategory, nullptr, 0);
  EXPECT_EQ(list.AddNode(second), 0);
}

TEST(Captions, CutBeforeTheirEnding) {
  EXPECT_EQ(ItemCaption("新闻.url"), "新闻");
  EXPECT_EQ(ItemCaption("a.url.b"), "a");
  EXPECT_EQ(ItemCaption("plain"), "plain");
  EXPECT_EQ(ProgramCaption("记事本.lnk"), "记事本");
  EXPECT_EQ(ProgramCaption("readme.txt"), "readme.txt");
}

TEST(IconLookUp, SourceAndLocalFallback) {
  CMyNode n;
  n.m_strAddress = "http://a.example/";
  n.m_strName = "x";
  EXPECT_EQ(IconSource(n), "http://a.example/x");
  n.m_strIconPath = "C:\\icons\\site.ico";
  EXPECT_EQ(IconSource(n), "C:\\icons\\site.ico");
  EXPECT_EQ(LocalIconPath("D:\\Q\\", IconSource(n)), "D:\\Q\\images\\icon\\site.ico");
  EXPECT_EQ(LocalIconPath("D:\\Q\\", "noslash"), "D:\\Q\\images\\iconnoslash");
}

TEST(Searches, PathsAndKeysWithTheQueryUnescaped) {
  CMyNode cat;
  cat.m_nKind = UrlCategory;
  cat.m_strName = "音乐 & mp3";
  std::string q = SearchQuery(&cat);
  EXPECT_EQ(q, "音乐 & mp3");
  auto pathOf = [](const std::string& a) { return a.substr(a.find('/', 7)); };
  EXPECT_EQ(pathOf(SearchAddress(ID_SEARCH_TOPICS, q)), "/s?tn=siteqb4k&word=音乐 & mp3");
  EXPECT_EQ(pathOf(SearchAddress(ID_SEARCH_CHATROOMS, q)), "/s?tn=siteqb4k&word=音乐 & mp3聊天室");
  EXPECT_EQ(pathOf(SearchAddress(ID_SEARCH_POSTS, q)), "/f?kw=音乐 & mp3");
  EXPECT_EQ(pathOf(SearchAddress(ID_SEARCH_TRADE, q)), "/news/search?do=1&keywords2=音乐 & mp3&news=search");
  EXPECT_EQ(pathOf(SearchAddress(ID_SEARCH_TAOBAO, q)), "/browse/ad_search.htm");
  EXPECT_EQ(pathOf(SearchAddress(ID_SEARCH_SOFTWARE, q)), "/search.php");
  // Topics and chat rooms share one site.
  EXPECT_EQ(SearchAddress(ID_SEARCH_TOPICS, "").substr(0, 20), SearchAddress(ID_SEARCH_CHATROOMS, "").substr(0, 20));
  // Every entry of the submenu opens a home page; other ids open nothing.
  for (int id : {ID_SEARCH_FORUM, ID_SEARCH_BLOG, ID_SEARCH_RSS, ID_SEARCH_BT, ID_SEARCH_SHOPPING, ID_SEARCH_MP3,
                 ID_SEARCH_FLASH, ID_SEARCH_VIDEO, ID_SEARCH_GAMES, ID_SEARCH_MAP, ID_SEARCH_TRADES, ID_SEARCH_DICT,
                 ID_SEARCH_MEDLEY}) {
    std::string a = SearchAddress(id, q);
    EXPECT_EQ(a.compare(0, 7, "http://"), 0) << id;
    EXPECT_EQ(a.find(q), std::string::npos) << id;
  }
  EXPECT_EQ(SearchAddress(ID_RENAME_CATEGORY, q), "");
}

TEST(Searches, WithoutACategoryTheQueryIsEmpty) {
  CMyNode item;
  item.m_nKind = UrlItem;
  item.m_strName = "page";
  EXPECT_EQ(SearchQuery(&item), "");
  EXPECT_EQ(SearchQuery(nullptr), "");
  CMyNode prog;
  prog.m_nKind = ProgramCategory;
  prog.m_strName = "工具";
  EXPECT_EQ(SearchQuery(&prog), "工具");
  std::string a = SearchAddress(ID_SEARCH_POSTS, SearchQuery(nullptr));
  EXPECT_EQ(a.substr(a.size() - 6), "/f?kw=");
}

TEST(GbkCut, NeverSplitsADoubleByteCharacter) {
  std::string s = "a" + std::string("中文");  // 1 + 4 bytes
  EXPECT_EQ(CutBytesGbk(s, 5), s);
  EXPECT_EQ(CutBytesGbk(s, 4), "a中");
  EXPECT_EQ(CutBytesGbk(s, 3), "a中");
  EXPECT_EQ(CutBytesGbk(s, 2), "a");
  EXPECT_EQ(CutBytesGbk("abcdef", 3), "abc");
  EXPECT_EQ(CutBytesGbk("中文", 3), "中") << "a text that starts with a double-byte character";
  // Lead bytes run from 0x81 to 0xFE: 0x80 and 0xFF stand alone at the cut.
  EXPECT_EQ(CutBytesGbk("ab\x81" "cd", 3), "ab");
  EXPECT_EQ(CutBytesGbk("ab\xFE" "cd", 3), "ab");
  EXPECT_EQ(CutBytesGbk("ab\x80" "cd", 3), "ab\x80");
  EXPECT_EQ(CutBytesGbk("ab\xFF" "cd", 3), "ab\xFF");
}

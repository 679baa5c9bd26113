// Bookmark HTML files in the shapes that browsers and bookmark services
// write them (tests/store/html/), and files made here for the limits.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/json.h"
#include "os/os.h"
#include "store/bookmark_html.h"
#include "store/favorites_file.h"
#include "store/web_import.h"
#include "testutil.h"
#include "tree_util.h"

namespace {

std::string Sample(const std::string& name) {
  return qbtest::ReadFileBytes(qbtest::SourceFolder(QIMBO_STORE_TEST_DATA) + name);
}

// One line per node, in list order: "C slot name | note" for a category,
// "I parent/slot name | address | note" for a link.
std::vector<std::string> Describe(const CMyNodeList& list) {
  std::vector<std::string> out;
  for (const CMyNode* n : list) {
    if (n->m_nKind == UrlCategory)
      out.push_back("C " + std::to_string(n->m_nSlot) + " " + n->m_strName + " | " + n->m_strNote);
    else
      out.push_back("I " + (n->m_pParent ? n->m_pParent->m_strName : std::string("?")) + "/" +
                    std::to_string(n->m_nSlot) + " " + n->m_strName + " | " + n->m_strAddress + " | " + n->m_strNote);
  }
  return out;
}

// Every link is on a button that a panel shows: a tab 0..43 of its own
// category, a button 0..29 that no other link of the category has.
void ExpectAllVisible(const CMyNodeList& list) {
  std::set<int> tabs;
  std::set<std::pair<const CMyNode*, int>> buttons;
  for (const CMyNode* n : list) {
    if (n->m_nKind == UrlCategory) {
      EXPECT_TRUE(n->m_nSlot >= 0 && n->m_nSlot <= 43) << n->m_strName << " tab " << n->m_nSlot;
      EXPECT_TRUE(tabs.insert(n->m_nSlot).second) << "two categories on tab " << n->m_nSlot;
    } else {
      ASSERT_TRUE(n->m_pParent) << n->m_strName;
      EXPECT_EQ(UrlCategory, n->m_pParent->m_nKind);
      EXPECT_TRUE(n->m_nSlot >= 0 && n->m_nSlot <= 29) << n->m_strName << " button " << n->m_nSlot;
      EXPECT_TRUE(buttons.insert({n->m_pParent, n->m_nSlot}).second) << "two links on one button: " << n->m_strName;
    }
  }
}

struct Imported {
  CMyNodeList list;
  BookmarkImportResult result;
  explicit Imported(const std::string& bytes) {
    list.m_strBaseDir = "C:\\Qimbo\\";
    EXPECT_EQ(1, ImportBookmarkHtml(list, bytes, result));
    ExpectAllVisible(list);
  }
};

const char kHead[] =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";

// A folder of `links` links, as a browser writes it (names and text UTF-8).
std::string FolderHtml(const std::string& name, int links, const std::string& tag = "") {
  std::string h = "    <DT><H3 ADD_DATE=\"1700000000\">" + name + "</H3>\n    <DL><p>\n";
  for (int i = 0; i < links; ++i)
    h += "        <DT><A HREF=\"http://" + tag + std::to_string(i) + ".example.com/\" ADD_DATE=\"1700000001\">" +
         tag + "link " + std::to_string(i) + "</A>\n";
  return h + "    </DL><p>\n";
}

std::string Utf8(const std::string& gbk) { return qb::ToUtf8(gbk); }

// ---- what browsers and services write ------------------------------------------------

TEST(BookmarkHtml, FirefoxFoldersDescriptionsAndCharactersOutsideTheCodePage) {
  Imported im(Sample("firefox.html"));
  EXPECT_EQ((std::vector<std::string>{
                "C 0 目录名 | ",
                "I 目录名/0 新手上路 | https://www.firefox.com.cn/central/ | ",
                "C 1 书签工具栏 | 添加书签到此文件夹，即可在书签工具栏中看到它们",
                "I 书签工具栏/0 百度一下，你就知道 | https://www.baidu.com/ | 最常用的搜索",
                "I 书签工具栏/1 Qimbo&#x00AE; 收藏&#x2122; &#x1F600; 专区 | https://www.example.com/r?x=1&y=2 | ",
                "I 书签工具栏/2 新浪新闻 | https://news.sina.com.cn/ | ",
                "I 书签工具栏/3 腾讯新闻 & 评论 <热> | https://news.qq.com/?a=1&b=2 | ",
                "I 书签工具栏/4 豆瓣 | https://www.douban.com/ | ",
                "I 目录名/1 附加组件 | https://addons.mozilla.org/zh-CN/firefox/ | ",
                "C 2 其他书签 | ",
            }),
            Describe(im.list));
  EXPECT_EQ(7, im.result.links);
  EXPECT_EQ(0, im.result.notImported);
  EXPECT_EQ("C:\\Qimbo\\images\\icon\\ieicon\\IE XP1.ico", im.list.GetAt(4)->m_strIconPath);
}

TEST(BookmarkHtml, ChromiumFileWithANonBreakingSpaceAndAnEmojiStaysUtf8) {
  Imported im(Sample("chromium.html"));
  EXPECT_EQ((std::vector<std::string>{
                "C 0 书签栏 | ",
                "I 书签栏/0 淘宝网 - 淘！我喜欢 | https://www.taobao.com/ | ",
                "I 书签栏/1 哔哩哔哩 (つロ) 干杯~ | https://www.bilibili.com/ | ",
                "I 书签栏/2 QQ邮箱 &#x1F4E7; | https://mail.qq.com/ | ",
                "I 书签栏/3 腾讯文档 | https://docs.qq.com/ | ",
                "C 1 其他书签 | ",
                "I 其他书签/0 中文 - 维基百科，自由的百科全书 | https://zh.wikipedia.org/wiki/%E4%B8%AD%E6%96%87 | ",
            }),
            Describe(im.list));
}

TEST(BookmarkHtml, ServiceExportWithByteOrderMarkCommentsAndReferences) {
  Imported im(Sample("service.html"));
  EXPECT_EQ((std::vector<std::string>{
                "C 0 目录名 | ",
                "I 目录名/0 知乎 - 有问题，就会有答案 | https://www.zhihu.com/ | Tom's \"favourite\" Q&A <site> &#x1F600; &#x2122;",
                "I 目录名/1 GitHub | https://github.com/ | ",
                "I 目录名/2 R&D &#x00A9; 2024 &unknown; ? & | https://www.example.org/a&b | ",
            }),
            Describe(im.list));
}

TEST(BookmarkHtml, InternetExplorerInTheSystemCodePage) {
  Imported im(Sample("ie_gbk.html"));
  EXPECT_EQ((std::vector<std::string>{
                "C 0 链接 | ",
                "I 链接/0 hao123_网址之家 | http://www.hao123.com/ | ",
                "I 链接/1 搜狐—中国最大的门户网站 | http://www.sohu.com/ | ",
                "C 1 常用网站 | ",
                "I 常用网站/0 中国铁路客户服务中心 | http://www.12306.cn/ | ",
                "C 2 目录名 | ",
                "I 目录名/0 自定义链接 | http://www.microsoft.com/isapi/redir.dll?prd=ie&pver=6&ar=CLinks | ",
            }),
            Describe(im.list));
  EXPECT_EQ(1262390400, im.list.GetAt(1)->m_tLastVisit);
}

TEST(BookmarkHtml, DeclaredCharsetWinsOverBytesThatLookLikeUtf8) {
  std::string bytes = Sample("gbk_meta.html");
  Imported im(bytes);
  EXPECT_EQ((std::vector<std::string>{
                "C 0 图片 | ",
                "I 图片/0 女士 | http://pic.example.cn/1 | ",
                "I 图片/1 木偶 | http://pic.example.cn/2 | 陆路",
            }),
            Describe(im.list));
  // The same bytes without their declaration are valid UTF-8 and read so.
  std::string undeclared = bytes;
  undeclared.replace(undeclared.find("charset=gb2312"), 14, "charset=none00");
  EXPECT_EQ(undeclared, BookmarkHtmlToUtf8(undeclared));
  // Undeclared bytes whose lead bytes are not followed by continuation bytes are code page 936:
  // 中文 as D6 D0 CE C4 comes out as its UTF-8 form.
  EXPECT_EQ("<DT><A HREF=\"http://a/\">\xE4\xB8\xAD\xE6\x96\x87</A>",
            BookmarkHtmlToUtf8("<DT><A HREF=\"http://a/\">\xD6\xD0\xCE\xC4</A>"));
}

TEST(BookmarkHtml, SafariFileWithoutAnOuterListKeepsItsFolders) {
  Imported im(Sample("safari.html"));
  EXPECT_EQ((std::vector<std::string>{
                "C 0 个人收藏 | ",
                "I 个人收藏/0 Apple (中国大陆) | https://www.apple.com.cn/ | ",
                "I 个人收藏/1 京东(JD.COM)-正品低价、品质保障、配送及时、轻松购物！ | https://www.jd.com/ | ",
                "C 1 书签菜单 | ",
                "C 2 阅读列表 | ",
                "I 阅读列表/0 一篇长文 | https://www.ifanr.com/1234567 | 这是阅读列表保存的预览文字……",
                "C 3 目录名 | ",
                "I 目录名/0 iCloud | https://www.icloud.com/ | ",
            }),
            Describe(im.list));
}

TEST(BookmarkHtml, Netscape4WesternCodePageAliasesAndToolbarDescription) {
  Imported im(Sample("netscape4.html"));
  EXPECT_EQ((std::vector<std::string>{
                "C 0 目录名 | ",
                "I 目录名/0 Netscape | http://home.netscape.com/ | ",
                "C 1 Personal Toolbar Folder | Add bookmarks to this folder to see them displayed on the Personal Toolbar",
                "I Personal Toolbar Folder/0 Café &#x2122; Menu | http://www.cafe.example/ | ",
            }),
            Describe(im.list));
  EXPECT_EQ(2, im.result.links);
  EXPECT_EQ(1, im.result.duplicates) << "the alias is the same link";
}

TEST(BookmarkHtml, FolderDescriptionIsNotTheNoteOfTheLinkBeforeIt) {
  Imported im(std::string(kHead) +
              "<DT><A HREF=\"http://a/\">A</A>\n<DT><H3>F</H3>\n<DD>about F\n<DL><p>\n"
              "<DT><A HREF=\"http://b/\">B</A>\n<DD>about B\n<DT><H3>Inner</H3>\n<DD>about Inner\n<DL><p>\n</DL><p>\n"
              "</DL><p>\n</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{
                "C 0 目录名 | ",
                "I 目录名/0 A | http://a/ | ",
                "C 1 F | about F",
                "I F/0 B | http://b/ | about B",
            }),
            Describe(im.list));
  // One description per folder; one after an anchor is nobody's.
  Imported two(std::string(kHead) +
               "<DT><H3>F</H3>\n<DD>about F\n<DD>more\n<DL><p>\n</DL><p>\n"
               "<DT><H3>G</H3>\n<DT><A NAME=\"g\">anchor</A>\n<DD>about the anchor\n<DL><p>\n</DL><p>\n"
               "<DT><A HREF=\"http://x/\">X</A>\n<DL><p>\n<DD>not X's, after a list\n</DL><p>\n"
               "<DT><A HREF=\"http://y/\">Y</A>\n<DD>about Y\n<DD>not Y's\n</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{"C 0 F | about F", "C 1 G | ", "C 2 目录名 | ", "I 目录名/0 X | http://x/ | ",
                                      "I 目录名/1 Y | http://y/ | about Y"}),
            Describe(two.list));
}

TEST(BookmarkHtml, LinksInCommentsAreNotImported) {
  Imported im(std::string(kHead) +
              "<!-- <DT><A HREF=\"http://one/\">One</A> -->\n"
              "<DT><A HREF=\"http://two/\">Two</A>\n"
              "<!--\n<DT><H3>Old</H3>\n<DL><p>\n<DT><A HREF=\"http://three/\">Three</A>\n</DL><p>\n-->\n"
              "</DL><p>\n<!-- an unclosed comment hides the rest <DT><A HREF=\"http://four/\">Four</A>");
  EXPECT_EQ((std::vector<std::string>{"C 0 目录名 | ", "I 目录名/0 Two | http://two/ | "}), Describe(im.list));
  // Empty comments, however short, hide nothing after them.
  Imported empty(std::string(kHead) + "<!--><DT><A HREF=\"http://a/\">A</A>\n<!---><DT><A HREF=\"http://b/\">B</A>\n"
                                      "<!----><DT><A HREF=\"http://c/\">C</A>\n</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{"C 0 目录名 | ", "I 目录名/0 A | http://a/ | ", "I 目录名/1 B | http://b/ | ",
                                      "I 目录名/2 C | http://c/ | "}),
            Describe(empty.list));
  // Nor do a comment, a declaration or a stray '<' right before a tag.
  Imported close(std::string(kHead) + "<DT><!-- x --><A HREF=\"http://d/\">D</A>\n<DT><!x><A HREF=\"http://e/\">E</A>\n"
                                      "<DT><<A HREF=\"http://f/\">F</A>\n</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{"C 0 目录名 | ", "I 目录名/0 D | http://d/ | ", "I 目录名/1 E | http://e/ | ",
                                      "I 目录名/2 F | http://f/ | "}),
            Describe(close.list));
}

TEST(BookmarkHtml, OddMarkupIsReadAsBrowsersRead) {
  // A '<' that opens no tag is text; a '>' inside a quoted value does not end
  // the tag, after an empty one too; a stray quote does not swallow the lines after it; a link
  // without a title shows its address; anchors and the browser's own
  // queries are no links.
  Imported im(std::string(kHead) +
              "<DT><A HREF=\"http://x/?q=a>b\" TITLE='it''s'>1 < 2</A>\n"
              "<DT><A HREF=\"http://stray/ ADD_DATE=\"1\">Stray</A>\n"
              "<DT><A HREF=\"http://open/>Open</A>\n"
              "<DT><A HREF=\"http://untitled/\"></A>\n"
              "<DT><A NAME=\"top\">Anchor</A>\n"
              "<DT><A HREF=\"place:type=6\">Tags</A>\n"
              "<dt><a href=http://bare/ add_date=5>Bare</a>\n"
              "<DT><A HREF=\"http://empty/\" TAGS=\"\" ICON_URI=\"x>y\">Empty</A>\n"
              "<DT><A HREF='http://single/?a>b'>Single</A>\n"  // in single quotes as well
              "<DT><A HREF=\"\">Nowhere</A>\n"                  // an empty address is no link
              // Digits belong to a tag's name: these are no folders.
              "<DT><H30>Zero</H30>\n<DL><p><DT><A HREF=\"http://zero/\">Z</A></DL><p>\n"
              "<DT><H39>Nine</H39>\n<DL><p><DT><A HREF=\"http://nine/\">N</A></DL><p>\n"
              "</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{
                "C 0 目录名 | ",
                "I 目录名/0 1 < 2 | http://x/?q=a>b | ",
                "I 目录名/1 Stray | http://stray/ ADD_DATE= | ",
                "I 目录名/2 Open | http://open/ | ",
                "I 目录名/3 http://untitled/ | http://untitled/ | ",
                "I 目录名/4 Bare | http://bare/ | ",
                "I 目录名/5 Empty | http://empty/ | ",
                "I 目录名/6 Single | http://single/?a>b | ",
                "I 目录名/7 Z | http://zero/ | ",
                "I 目录名/8 N | http://nine/ | ",
            }),
            Describe(im.list));

  // A list after a folder's own list is no part of the folder; end tags without
  // a list do not shift the levels of what follows.
  Imported more(std::string(kHead) +
                "<DT><H3>F</H3>\n<DL><p><DD>inside, no description\n<DT><A HREF=\"http://a/\">a</A>\n</DL><p>\n"
                "<DL><p><DT><A HREF=\"http://b/\" LAST_VISIT=\"\">b</A>\n</DL><p>\n"
                "</DL><p>\n</DL></DL>\n"
                "<DL><p><DT><H3>G</H3>\n<DL><p><DT><A HREF=\"http://c/\">c</A>\n</DL><p>\n</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{
                "C 0 F | ",
                "I F/0 a | http://a/ | ",
                "C 1 目录名 | ",
                "I 目录名/0 b | http://b/ | ",
                "C 2 G | ",
                "I G/0 c | http://c/ | ",
            }),
            Describe(more.list));
  EXPECT_NE(0, more.list.FindNode("b", UrlItem)->m_tLastVisit) << "an empty LAST_VISIT is no time";

  // A declaration or an instruction ends at its first '>', quotes or not, and
  // is no part of a title; a '/' between attributes separates them.
  Imported odd(std::string(kHead) +
               "<!X \"><DT><A HREF=\"http://a/\">A<?php echo \"?></A>\n"
               "<?x \"><DT><A HREF=\"http://b/\">B</A>\n"
               "<DT><A/HREF=\"http://c/\"/ADD_DATE=\"1\"/>C</A>\n"
               "<DT><A HREF = \"http://d/\" >D</A>\n"
               // Any blank separates, none is needed after a quoted value.
               "<DT><A\nHREF=\"http://e/\">E</A>\n<DT><A\fHREF=\"http://f/\">F</A>\n"
               "<DT><A\tADD_DATE=\"1\"HREF=\"http://g/\">G</A>\n<DT><A\r\nHREF=\"http://h/\">H</A>\n"
               "<DT><A HREF=http://t/\tADD_DATE=1>T</A>\n<DT><A HREF=http://r/\rADD_DATE=1>R</A>\n"
               "<DT><A HREF=http://v/>V</A>\n"
               // An attribute without a value (FOLDED, as older browsers write it) ends at the next name.
               "<DT><A FOLDED HREF=\"http://w/\">W</A>\n</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{
                "C 0 目录名 | ",
                "I 目录名/0 A | http://a/ | ",
                "I 目录名/1 B | http://b/ | ",
                "I 目录名/2 C | http://c/ | ",
                "I 目录名/3 D | http://d/ | ",
                "I 目录名/4 E | http://e/ | ",
                "I 目录名/5 F | http://f/ | ",
                "I 目录名/6 G | http://g/ | ",
                "I 目录名/7 H | http://h/ | ",
                "I 目录名/8 T | http://t/ | ",
                "I 目录名/9 R | http://r/ | ",
                "I 目录名/10 V | http://v/ | ",
                "I 目录名/11 W | http://w/ | ",
            }),
            Describe(odd.list));
  // The first entry sets the top level: a folder above it is a top-level one all the
  // same, and links as deep as that first entry stay loose.
  Imported level("<DL><p><DL><p><DT><A HREF=\"http://a/\">A</A>\n</DL><p>\n"
                 "<DT><H3>F</H3>\n<DL><p><DT><A HREF=\"http://b/\">B</A>\n</DL><p>\n</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{"C 0 目录名 | ", "I 目录名/0 A | http://a/ | ", "C 1 F | ",
                                      "I 目录名/1 B | http://b/ | "}),
            Describe(level.list));
  // Text that runs on to the end of the file, after the last tag.
  Imported tail(std::string(kHead) + "<DT><A HREF=\"http://a/\">A</A>\n<DD>the last words");
  EXPECT_EQ((std::vector<std::string>{"C 0 目录名 | ", "I 目录名/0 A | http://a/ | the last words"}), Describe(tail.list));
  // A link as the file's very first bytes.
  Imported bare("<A HREF=\"http://a/\">A</A>");
  EXPECT_EQ((std::vector<std::string>{"C 0 目录名 | ", "I 目录名/0 A | http://a/ | "}), Describe(bare.list));
}

// A folder without a title (browsers allow one) would make a category with
// an empty name, whose links the next load drops as links without a
// category: its links join the loose ones instead.
TEST(BookmarkHtml, UntitledFoldersLinksSurviveASaveAndALoad) {
  Imported im(std::string(kHead) + "<DT><H3>T</H3>\n<DL><p>\n<DT><A HREF=\"http://t/\">T</A>\n</DL><p>\n" +
              "<DT><H3 ADD_DATE=\"1\"></H3>\n<DD>no name\n<DL><p>\n<DT><A HREF=\"http://a/\">A</A>\n</DL><p>\n"
              "<DT><H3>  &nbsp; </H3>\n<DL><p>\n<DT><A HREF=\"http://b/\">B</A>\n</DL><p>\n"
              "<DT><A HREF=\"http://c/\">C</A>\n</DL><p>\n");
  EXPECT_EQ((std::vector<std::string>{
                "C 0 T | ",
                "I T/0 T | http://t/ | ",
                "C 1 目录名 | ",
                "I 目录名/0 A | http://a/ | ",
                "I 目录名/1 B | http://b/ | ",
                "I 目录名/2 C | http://c/ | ",
            }),
            Describe(im.list));
  EXPECT_EQ(4, im.result.links);

  qbtest::TempDir dir;
  std::vector<const CMyNode*> nodes(im.list.begin(), im.list.end());
  qbtest::WriteFileBytes(dir / "a.sc", FavoritesFileBytes(nodes));
  CMyNodeList back;
  ASSERT_TRUE(LoadFavoritesFile(back, dir / "a.sc"));
  EXPECT_EQ(6u, back.GetCount());
}

// ---- the file's characters ---------------------------------------------------------------

TEST(BookmarkHtmlText, CharactersOutsideTheCodePageBecomeTheirReferences) {
  EXPECT_EQ("Qimbo&#x00AE; 收藏&#x2122; &#x1F600;!", ImportedText(Utf8("Qimbo") + "\xC2\xAE " + Utf8("收藏") + "\xE2\x84\xA2 \xF0\x9F\x98\x80!"));
  EXPECT_EQ("a b", ImportedText("  a\xC2\xA0\t\r\n b \xEF\xBB\xBF"));
  // Blank are the controls up to the space, DEL and the no-break space; their neighbours are not.
  EXPECT_EQ("a b", ImportedText("a\x7F" "b"));
  EXPECT_EQ("a~b", ImportedText("a~b"));
  EXPECT_EQ("a!b", ImportedText("a!b"));
  EXPECT_EQ("a?b", ImportedText("a\xC2\x80" "b")) << "a control character is no text to keep";
  EXPECT_EQ("a?b", ImportedText("a\xC2\x9F" "b"));
  EXPECT_EQ("a&#x07FF;b", ImportedText("a\xDF\xBF" "b")) << "the last two-byte lead, one character";
  EXPECT_EQ("a&#x10FFFF;b", ImportedText("a\xF4\x8F\xBF\xBF" "b")) << "the last four-byte lead, U+10FFFF";
  EXPECT_EQ("Caf\xA8\xA6 \xA1\xAA \xA1\xA1x", ImportedText("Caf\xC3\xA9 \xE2\x80\x94 \xE3\x80\x80x"));
  EXPECT_EQ("??x??", ImportedText("\xFF\xC3x\xE4\xB8"));  // malformed: one "?" per byte
  EXPECT_EQ("a????b", ImportedText("a\x80\x90\x80\x80" "b"));  // a continuation byte starts nothing
  // Either side of the surrogates, one character each.
  EXPECT_EQ("a&#xD7FF;b&#xE000;c", ImportedText("a\xED\x9F\xBF" "b\xEE\x80\x80" "c"));
  // The surrogates themselves, first and last, are a "?" per byte.
  EXPECT_EQ("a???b???c", ImportedText("a\xED\xA0\x80" "b\xED\xBF\xBF" "c"));
  // The private use area is not taken to the code page, though some systems
  // give it codes: its characters are kept as references.
  EXPECT_EQ("&#xE000;x&#xF8FF;", ImportedText("\xEE\x80\x80x\xEF\xA3\xBF"));
  // The shortest form of each length is one character; one below it, a "?" per byte.
  EXPECT_EQ("a&#x0800;b???c&#x10000;d????e????f???g",
            ImportedText("a\xE0\xA0\x80" "b\xE0\x9F\xBF" "c\xF0\x90\x80\x80" "d\xF0\x8F\xBF\xBF"
                         "e\xF4\x90\x80\x80" "f\xED\xA0\x80" "g"));
}

TEST(BookmarkHtmlText, EveryUnifiedIdeographOfTheCodePageIsKept) {
  // U+4E00..U+9FA5, all 20,902 of them, are in code page 936.
  std::string all;
  for (uint32_t cp = 0x4E00; cp <= 0x9FA5; ++cp) qb::AppendUtf8(all, cp);
  std::string gbk = ImportedText(all);
  EXPECT_EQ(2u * 20902, gbk.size());
  EXPECT_EQ(std::string::npos, gbk.find('?'));
  EXPECT_EQ(all, Utf8(gbk));
  // The corners of the page: the first and last lead byte, trails either side of 0x7F and the last trail.
  EXPECT_EQ("\x81\x40\x81\x7E\x81\x80\xB0\xFE\xFE\x40\xFE\x4F",
            ImportedText("\xE4\xB8\x82\xE4\xBA\x8A\xE4\xBA\x90\xE5\x89\xA5\xEF\xA8\x8C\xEF\xA8\xA9"));
}

TEST(BookmarkHtmlText, WesternBytesAndReferencesFrom0x80To0x9FAreReadAsWindowsDoes) {
  // U+20AC, U+2039 and U+2013 in a file declared windows-1252, as bytes and as references.
  const std::string head = "<META CONTENT=\"text/html; charset=windows-1252\">";
  EXPECT_EQ(head + "\xE2\x82\xAC\xE2\x80\xB9\xE2\x80\x93", BookmarkHtmlToUtf8(head + "\x80\x8B\x96"));
  CMyNodeList list;
  BookmarkImportResult result;
  ImportBookmarkHtml(list, head + "<DL><DT><H3>F</H3><DL><DT><A HREF=\"http://a/\">&#128;&#139;&#150;x</A></DL></DL>",
                     result);
  ASSERT_EQ(1, result.links);
  std::string name;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem) name = qb::ToUtf8(n->m_strName);
  EXPECT_EQ("\xE2\x82\xAC\xE2\x80\xB9\xE2\x80\x93x", name)
      << "U+20AC and U+2039 are not in the code page: kept as references, written out as the characters";
}

TEST(BookmarkHtmlText, EveryWesternByteFrom0x80To0x9FHasItsWindowsCharacter) {
  const std::string head = "<META CONTENT=\"text/html; charset=windows-1252\">";
  std::string bytes;
  for (int c = 0x80; c <= 0x9F; ++c) bytes.push_back((char)c);
  // 0x81, 0x8D, 0x8F, 0x90 and 0x9D are no character: U+FFFD.
  EXPECT_EQ(head +
                "\xE2\x82\xAC\xEF\xBF\xBD\xE2\x80\x9A\xC6\x92\xE2\x80\x9E\xE2\x80\xA6\xE2\x80\xA0\xE2\x80\xA1"  // 80-87
                "\xCB\x86\xE2\x80\xB0\xC5\xA0\xE2\x80\xB9\xC5\x92\xEF\xBF\xBD\xC5\xBD\xEF\xBF\xBD"              // 88-8F
                "\xEF\xBF\xBD\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\xA2\xE2\x80\x93\xE2\x80\x94"  // 90-97
                "\xCB\x9C\xE2\x84\xA2\xC5\xA1\xE2\x80\xBA\xC5\x93\xEF\xBF\xBD\xC5\xBE\xC5\xB8"                  // 98-9F
                "\xC2\xA0\xC3\xBF",
            BookmarkHtmlToUtf8(head + bytes + "\xA0\xFF"));
}

// The named references a bookmark file uses, as the code page keeps them: the
// program's own reference for a character outside it, a blank for the
// no-break space.
TEST(BookmarkHtmlText, NamedReferencesBecomeTheirCharacters) {
  CMyNodeList list;
  BookmarkImportResult result;
  ImportBookmarkHtml(list,
                     std::string(kHead) +
                         "<DT><A HREF=\"http://a/\">a&nbsp;b&copy;&reg;&trade;&hellip;&mdash;&ndash;&lsquo;&rsquo;&ldquo;"
                         "&rdquo;&laquo;&raquo;&middot;&times;&divide;&deg;&plusmn;&yen;&euro;&bull;&sect;&para;"
                         "c&emsp;d&ensp;e&amp;&lt;&gt;&quot;&apos;&nosuch;"
                         // Numbers: none, beyond U+10FFFF, surrogates, just past them, and malformed.
                         "&#0;&#x110000;&#xD800;&#xDFFF;&#xE000;&#X41;&#x;&#;&#12a;</A>\n</DL>",
                     result);
  ASSERT_EQ(1, result.links);
  std::string name;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem) name = n->m_strName;
  EXPECT_EQ("a b&#x00A9;&#x00AE;&#x2122;\xA1\xAD\xA1\xAA\xA8\x43\xA1\xAE\xA1\xAF\xA1\xB0\xA1\xB1&#x00AB;&#x00BB;"
            "\xA1\xA4\xA1\xC1\xA1\xC2\xA1\xE3\xA1\xC0&#x00A5;&#x20AC;&#x2022;\xA1\xEC&#x00B6;c&#x2003;d&#x2002;e"
            "&<>\"'&nosuch;????&#xE000;A&#x;&#;&#12a;",
            name);
}

// A reference ends at its ';': without one the '&' and what follows stay as written.
TEST(BookmarkHtmlText, ReferencesNeedTheirSemicolon) {
  CMyNodeList list;
  BookmarkImportResult result;
  ImportBookmarkHtml(list, std::string(kHead) + "<DT><A HREF=\"http://a/\">R&D &amp co &lt;b&gt; &#65;&#x42; &amp</A>\n</DL>",
                     result);
  ASSERT_EQ(1, result.links);
  std::string name;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem) name = n->m_strName;
  EXPECT_EQ("R&D &amp co <b> AB &amp", name);
  // At most 32 characters between the '&' and the ';'.
  const std::string zeros(29, '0');
  list.DeleteKind(UrlItem);
  ImportBookmarkHtml(list, std::string(kHead) + "<DT><A HREF=\"http://b/\">&#" + zeros + "65;&#0" + zeros + "66;</A>\n</DL>",
                     result);
  name.clear();
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem) name = n->m_strName;
  EXPECT_EQ("A&#0" + zeros + "66;", name);
}

TEST(BookmarkHtmlText, CharsetComesFromTheByteOrderMarkTheDeclarationOrTheBytes) {
  const std::string cn = Utf8("收藏");
  EXPECT_EQ("<H3>" + cn, BookmarkHtmlToUtf8("\xEF\xBB\xBF<H3>" + cn));
  EXPECT_EQ("<H3>" + cn, BookmarkHtmlToUtf8(std::string("\xFF\xFE<\0H\0" "3\0>\0\x36\x65\xCF\x85", 14)));
  EXPECT_EQ("<H3>" + cn, BookmarkHtmlToUtf8(std::string("\xFE\xFF\0<\0H\0" "3\0>\x65\x36\x85\xCF", 14)));
  EXPECT_EQ("<A>" + cn + "\xC2\xAE", BookmarkHtmlToUtf8("<A>" + cn + "\xC2\xAE")) << "valid UTF-8 is UTF-8";
  // Every byte below 0x80 stands for itself, the last one (DEL) too.
  EXPECT_EQ("<A>\x7F" + cn, BookmarkHtmlToUtf8("<A>\x7F" + cn));
  // A four-byte character (U+1F600) is whole at the very end and before more text.
  EXPECT_EQ("<A>" + cn + "\xF0\x9F\x98\x80", BookmarkHtmlToUtf8("<A>" + cn + "\xF0\x9F\x98\x80"));
  EXPECT_EQ("<A>\xF4\x8F\xBF\xBFx" + cn, BookmarkHtmlToUtf8("<A>\xF4\x8F\xBF\xBFx" + cn));
  // The last lead byte of each length, 0xDF and 0xEF, starts UTF-8 as well.
  EXPECT_EQ("<A>\xDF\xBF\xEF\xBC\x81" + cn, BookmarkHtmlToUtf8("<A>\xDF\xBF\xEF\xBC\x81" + cn));
  // U+D7FF, the last character before the surrogates, is UTF-8 too.
  EXPECT_EQ("<A>\xED\x9F\xBF" + cn, BookmarkHtmlToUtf8("<A>\xED\x9F\xBF" + cn));
  EXPECT_EQ("<A>" + cn, BookmarkHtmlToUtf8("<A>\xCA\xD5\xB2\xD8")) << "else code page 936";
  const char meta[] = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=GBK\">";
  EXPECT_EQ(meta + cn, BookmarkHtmlToUtf8(meta + std::string("\xCA\xD5\xB2\xD8")));
  EXPECT_EQ("<meta charset='iso-8859-1'>caf\xC3\xA9\xE2\x84\xA2",
            BookmarkHtmlToUtf8("<meta charset='iso-8859-1'>caf\xE9\x99"));
  // Pairs of surrogates, in either byte order; one without its partner is U+FFFD.
  EXPECT_EQ("<\xF0\x9F\x98\x80x\xF0\xA4\xAD\xA2", BookmarkHtmlToUtf8(std::string("\xFF\xFE<\0\x3D\xD8\x00\xDEx\0\x52\xD8\x62\xDF", 14)));
  EXPECT_EQ("<\xF0\x9F\x98\x80x\xF0\xA4\xAD\xA2", BookmarkHtmlToUtf8(std::string("\xFE\xFF\0<\xD8\x3D\xDE\x00\0x\xD8\x52\xDF\x62", 14)));
  // The first and the last pair (U+10000, U+10FFFF), then the last low surrogate alone, after a character.
  EXPECT_EQ("\xF0\x90\x80\x80\xF4\x8F\xBF\xBFx\xEF\xBF\xBD",
            BookmarkHtmlToUtf8(std::string("\xFE\xFF\xD8\x00\xDC\x00\xDB\xFF\xDF\xFF\0x\xDF\xFF", 14)));
  // Two low ones, the first just past the high ones, pair with nothing; nor does the
  // last character before the high ones.
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", BookmarkHtmlToUtf8(std::string("\xFE\xFF\xDC\x00\xDC\x00", 6)));
  EXPECT_EQ("\xED\x9F\xBF\xEF\xBF\xBD", BookmarkHtmlToUtf8(std::string("\xFE\xFF\xD7\xFF\xDC\x00", 6)));
  // A high surrogate with only one byte after it: the odd byte is no half of a partner.
  EXPECT_EQ("x\xEF\xBF\xBD", BookmarkHtmlToUtf8(std::string("\xFE\xFF\0x\xD8\x3D\xDC", 7)));
  // A high surrogate before another high one, before U+E000, at the end; a low one alone.
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBDx\xEF\xBF\xBD\xEE\x80\x80\xEF\xBF\xBD\xED\x9F\xBF\xEF\xBF\xBD",
            BookmarkHtmlToUtf8(std::string("\xFE\xFF\xD8\x3D\xDB\xFF\0x\xDB\xFF\xE0\x00\xDC\x00\xD7\xFF\xD8\x00", 18)));
  // Too long a form, a surrogate, beyond U+10FFFF: not UTF-8, so code page 936; the
  // forms just inside those bounds are UTF-8.
  EXPECT_EQ("<A>\xE9\x85\x82\xE7\xB7\xBC", BookmarkHtmlToUtf8("<A>\xE0\x9F\xBF\x41"));
  EXPECT_EQ("<A>\xE9\xA0\x8E\xE7\x99\x86", BookmarkHtmlToUtf8("<A>\xED\xA0\xB0\x41"));
  EXPECT_EQ("<A>\xE9\xA5\x9B\xE9\x9D\xA0", BookmarkHtmlToUtf8("<A>\xF0\x8F\xBF\xBF"));
  EXPECT_EQ("<A>\xE9\xAD\xAB\xE5\x95\x8A", BookmarkHtmlToUtf8("<A>\xF4\x90\xB0\xA1"));
  EXPECT_EQ("<A>\xE9\x85\xA2\xE5\x95\x8A", BookmarkHtmlToUtf8("<A>\xF5\xA1\xB0\xA1")) << "F5 leads nothing";
  EXPECT_EQ("<A>\xE0\xA0\x80\xF0\x90\x80\x80", BookmarkHtmlToUtf8("<A>\xE0\xA0\x80\xF0\x90\x80\x80"));
  // A declaration counts when it ends within the first 65,536 bytes.
  const std::string utf8 = "\xE6\x94\xB6\xE8\x97\x8F";  // also two characters of code page 936
  std::string padded = std::string(65519, ' ') + "<meta charset=gbk>" + utf8;
  EXPECT_EQ("<meta charset=gbk>\xE9\x8F\x80\xE6\x83\xB0\xE6\xA3\x8C", BookmarkHtmlToUtf8(padded).substr(65519));
  padded.insert(0, " ");
  EXPECT_EQ("<meta charset=gbk>" + utf8, BookmarkHtmlToUtf8(padded).substr(65520));
  // Declared UTF-8 stays as it is, even where its bytes are not.
  EXPECT_EQ("<meta charset=UTF-8>\xCA\xD5\xB2\xD8", BookmarkHtmlToUtf8("<meta charset=UTF-8>\xCA\xD5\xB2\xD8"));
  // An empty comment ends at once.
  EXPECT_EQ("<!----><meta charset=gbk>\xE9\x8F\x80\xE6\x83\xB0\xE6\xA3\x8C<!-- -->",
            BookmarkHtmlToUtf8("<!----><meta charset=gbk>" + utf8 + "<!-- -->"));
  EXPECT_EQ("<meta charset=gb_2312-80>\xE9\x8F\x80\xE6\x83\xB0\xE6\xA3\x8C",
            BookmarkHtmlToUtf8("<meta charset=gb_2312-80>" + utf8));
  // Only a meta tag declares: a link's charset attribute (of what it links to) does not.
  EXPECT_EQ("<link charset=gbk>" + utf8, BookmarkHtmlToUtf8("<link charset=gbk>" + utf8));
  // A "charset" that no '=' follows declares nothing; the one after it in the tag does.
  EXPECT_EQ("<meta name=\"charset\" content=\"charset=gbk\">\xE9\x8F\x80\xE6\x83\xB0\xE6\xA3\x8C",
            BookmarkHtmlToUtf8("<meta name=\"charset\" content=\"charset=gbk\">" + utf8));
  // A tag is read once: a comment opener inside a value opens nothing.
  EXPECT_EQ("<meta name=\"<!--\"><meta charset=gbk>\xE9\x8F\x80\xE6\x83\xB0\xE6\xA3\x8C-->",
            BookmarkHtmlToUtf8("<meta name=\"<!--\"><meta charset=gbk>" + utf8 + "-->"));
  // An odd byte at the end of UTF-16 is no character.
  EXPECT_EQ("<A", BookmarkHtmlToUtf8(std::string("\xFF\xFE<\0A\0B", 7)));
  EXPECT_EQ("<A", BookmarkHtmlToUtf8(std::string("\xFE\xFF\0<\0AB", 7)));
  // A declaration inside a comment declares nothing, in one never closed too.
  EXPECT_EQ("<!-- <meta charset=gbk> --><A>" + cn, BookmarkHtmlToUtf8("<!-- <meta charset=gbk> --><A>" + cn));
  EXPECT_EQ("<!-- <meta charset=gbk><A>" + cn, BookmarkHtmlToUtf8("<!-- <meta charset=gbk><A>" + cn));
  // Blanks around the '='.
  EXPECT_EQ("<meta content=\"text/html; charset = gbk\">\xE9\x8F\x80\xE6\x83\xB0\xE6\xA3\x8C",
            BookmarkHtmlToUtf8("<meta content=\"text/html; charset = gbk\">" + utf8));
  // "<!-->" is a whole comment; a tag named longer than meta is none.
  EXPECT_EQ("<!--><meta charset=gbk>\xE9\x8F\x80\xE6\x83\xB0\xE6\xA3\x8C",
            BookmarkHtmlToUtf8("<!--><meta charset=gbk>" + utf8));
  EXPECT_EQ("<metaz charset=gbk><metaZ charset=gbk>" + utf8, BookmarkHtmlToUtf8("<metaz charset=gbk><metaZ charset=gbk>" + utf8));
  // A first byte that starts nothing makes the file code page 936 (8141 is U+4E04).
  EXPECT_EQ("\xE4\xB8\x84" "BC", BookmarkHtmlToUtf8("\x81" "ABC"));
  // 0x80 starts no UTF-8 character: these bytes are code page 936 (E4B8, 8280).
  EXPECT_EQ("<A>\xE6\xB6\x93\xE5\x80\x8B", BookmarkHtmlToUtf8("<A>\xE4\xB8\x82\x80"));
}

// ---- the tree's limits ------------------------------------------------------------------

TEST(BookmarkHtmlLimits, AFolderOfMoreThan30LinksGoesOnInNumberedCategories) {
  for (int links : {30, 31, 70}) {
    SCOPED_TRACE(links);
    Imported im(kHead + FolderHtml(Utf8("新闻"), links) + "</DL><p>\n");
    std::vector<std::string> cats;
    std::vector<int> counts;
    for (const CMyNode* n : im.list)
      if (n->m_nKind == UrlCategory) {
        cats.push_back(std::to_string(n->m_nSlot) + n->m_strName);
        counts.push_back(im.list.CountChildren(n));
      }
    if (links == 30) {
      EXPECT_EQ((std::vector<std::string>{"0新闻"}), cats);
      EXPECT_EQ((std::vector<int>{30}), counts);
    } else if (links == 31) {
      EXPECT_EQ((std::vector<std::string>{"0新闻", "1新闻2"}), cats);
      EXPECT_EQ((std::vector<int>{30, 1}), counts);
    } else {
      EXPECT_EQ((std::vector<std::string>{"0新闻", "1新闻2", "2新闻3"}), cats);
      EXPECT_EQ((std::vector<int>{30, 30, 10}), counts);
    }
    EXPECT_EQ(links, im.result.links);
    EXPECT_EQ(0, im.result.notImported);
    EXPECT_EQ("", ImportShortfallText(im.result));
  }
  // The 31st link is the first of 新闻2, on its first button.
  Imported im(kHead + FolderHtml(Utf8("新闻"), 31) + "</DL><p>\n");
  const CMyNode* last = im.list.GetAt(im.list.GetCount() - 1);
  EXPECT_EQ("link 30", last->m_strName);
  EXPECT_EQ(0, last->m_nSlot);
  EXPECT_EQ("新闻2", last->m_pParent->m_strName);
  // A folder named like a further category of another fills that one.
  Imported named(kHead + FolderHtml(Utf8("新闻"), 31) + FolderHtml(Utf8("新闻2"), 1, "x") + "</DL><p>\n");
  EXPECT_EQ(2, named.list.CountKind(UrlCategory));
  EXPECT_EQ(2, named.list.CountChildren(named.list.FindNode("新闻2", UrlCategory)));
  // The folder's description goes with it to every category it fills.
  std::string folder = FolderHtml(Utf8("新闻"), 31);
  folder.insert(folder.find("</H3>\n") + 6, "<DD>about\n");
  Imported described(kHead + folder + "</DL><p>\n");
  EXPECT_EQ("about", described.list.FindNode("新闻", UrlCategory)->m_strNote);
  EXPECT_EQ("about", described.list.FindNode("新闻2", UrlCategory)->m_strNote);
}

// The same file imported again adds nothing, also where a folder went on in
// further categories; a link new to the folder goes after the others.
TEST(BookmarkHtmlLimits, ASecondImportAddsNothingToAnOverflowedFolder) {
  const std::string html = kHead + FolderHtml(Utf8("新闻"), 70) + "</DL><p>\n";
  Imported im(html);
  ASSERT_EQ(3, im.list.CountKind(UrlCategory));
  size_t count = im.list.GetCount();
  BookmarkImportResult again;
  ImportBookmarkHtml(im.list, html, again);
  EXPECT_EQ(count, im.list.GetCount());
  EXPECT_EQ(0, again.links);
  std::string more = FolderHtml(Utf8("新闻"), 71);
  ImportBookmarkHtml(im.list, kHead + more + "</DL><p>\n", again);
  EXPECT_EQ(count + 1, im.list.GetCount());
  EXPECT_EQ("新闻3", im.list.GetAt(im.list.GetCount() - 1)->m_pParent->m_strName);
  EXPECT_EQ(11, im.list.CountChildren(im.list.FindNode("新闻3", UrlCategory)));
}

TEST(BookmarkHtmlLimits, OnceAll44TabsAreTakenLinksAreCountedNotHidden) {
  for (int folders : {44, 45, 47}) {
    SCOPED_TRACE(folders);
    std::string html = kHead;
    for (int f = 0; f < folders; ++f) html += FolderHtml("F" + std::to_string(f), 2, "f" + std::to_string(f));
    html += "<DT><A HREF=\"http://loose/\">Loose</A>\n</DL><p>\n";
    Imported im(html);
    EXPECT_EQ(44, im.list.CountKind(UrlCategory));
    EXPECT_EQ(88, im.result.links);
    EXPECT_EQ((folders - 44) * 2 + 1, im.result.notImported) << "the loose link finds no tab for 目录名";
    if (folders == 44) {
      EXPECT_EQ("有1个网址未能导入：44个分类都已用完。", ImportShortfallText(im.result));
    }
    EXPECT_TRUE(im.list.FindNode("F43", UrlCategory));
    EXPECT_FALSE(im.list.FindNode("F44", UrlCategory));
  }
  std::string full = kHead;
  for (int f = 0; f < 43; ++f) full += FolderHtml("F" + std::to_string(f), 1, "f" + std::to_string(f));
  full += FolderHtml(Utf8("新闻"), 35) + "</DL><p>\n";  // the 44th tab holds 30, five are left out
  Imported last(full);
  EXPECT_EQ(43 + 30, last.result.links);
  EXPECT_EQ(5, last.result.notImported);
  EXPECT_EQ("有5个网址未能导入：44个分类都已用完。", ImportShortfallText(last.result));
}

TEST(BookmarkHtmlLimits, AnExistingTreeKeepsItsTabsAndFillsItsFreeButtons) {
  using qbtest::AddNodeTo;
  CMyNodeList list;
  CMyNode* news = AddNodeTo(list, "新闻", UrlCategory, nullptr, 0);
  for (int i = 0; i < 29; ++i)  // buttons 1..29 taken, button 0 free
    AddNodeTo(list, "old" + std::to_string(i), UrlItem, news, i + 1);
  // On no button (slot 32, as an odd file may hold): takes none of them; slot -1 takes no button either.
  AddNodeTo(list, "beyond", UrlItem, news, 32);
  AddNodeTo(list, "before", UrlItem, news, -1);
  CMyNode* untabbed = AddNodeTo(list, "体育", UrlCategory, nullptr, -1);  // slot -1: on no tab either
  CMyNode* past = AddNodeTo(list, "音乐", UrlCategory, nullptr, 44);  // just past the last of the 44 tabs: shown nowhere
  // A category of the same chain without a tab, far beyond the 44.
  CMyNode* hidden = AddNodeTo(list, "新闻2", UrlCategory, nullptr, 1000);
  BookmarkImportResult result;
  ImportBookmarkHtml(list,
                     kHead + FolderHtml(Utf8("新闻"), 3) + FolderHtml(Utf8("体育"), 1, "s") +
                         FolderHtml(Utf8("音乐"), 1, "m") + "</DL><p>\n",
                     result);
  EXPECT_EQ(5, result.links);
  EXPECT_EQ(0, list.CountChildren(past));
  EXPECT_EQ(0, list.CountChildren(untabbed));
  EXPECT_EQ(0, list.FindNode("link 0", UrlItem)->m_nSlot);
  EXPECT_EQ(news, list.FindNode("link 0", UrlItem)->m_pParent);
  const CMyNode* third = list.FindNode("新闻3", UrlCategory);
  ASSERT_TRUE(third) << "新闻2 shows nowhere, so the links go on in 新闻3";
  EXPECT_EQ(1, third->m_nSlot);
  EXPECT_EQ(third, list.FindNode("link 2", UrlItem)->m_pParent);
  EXPECT_EQ(0, list.CountChildren(hidden));
}

TEST(BookmarkHtmlLimits, LooseLinksAndSameNamedFoldersShareTheirCategories) {
  std::string html = kHead;
  for (int i = 0; i < 32; ++i) html += "<DT><A HREF=\"http://l" + std::to_string(i) + "/\">L</A>\n";
  html += FolderHtml("Work", 2, "a") + FolderHtml("Work", 2, "b") + "</DL><p>\n";
  Imported im(html);
  std::vector<std::string> cats;
  for (const CMyNode* n : im.list)
    if (n->m_nKind == UrlCategory) cats.push_back(std::to_string(n->m_nSlot) + n->m_strName);
  EXPECT_EQ((std::vector<std::string>{"0目录名", "1目录名2", "2Work"}), cats);
  EXPECT_EQ(4, im.list.CountChildren(im.list.FindNode("Work", UrlCategory)));
}

// A folder's description goes to the categories made for it; a number that
// names no folder (the root's -1, one past the last) changes nothing.
TEST(BookmarkHtmlLimits, AFolderNoteReachesOnlyItsOwnCategories) {
  CMyNodeList list;
  CWebImport web(list);
  int work = web.Folder("Work");
  ASSERT_EQ(0, work);
  CMyNode* loose = new CMyNode;
  loose->m_strName = "l";
  loose->m_strAddress = "http://l/";
  ASSERT_TRUE(web.AddLink(-1, loose));
  CMyNode* root = list.FindNode("目录名", UrlCategory);
  ASSERT_TRUE(root);
  std::string rootNote = root->m_strNote;
  web.FolderNote(work, "工作");
  web.FolderNote(-1, "root");
  web.FolderNote(1, "none");
  EXPECT_EQ("工作", list.FindNode("Work", UrlCategory)->m_strNote);
  EXPECT_EQ(rootNote, root->m_strNote);
  EXPECT_EQ(2, list.CountKind(UrlCategory));
  // A link for a folder number there is not goes with the loose ones.
  CMyNode* stray = new CMyNode;
  stray->m_strName = "s";
  stray->m_strAddress = "http://s/";
  ASSERT_TRUE(web.AddLink(1, stray));
  EXPECT_EQ(root, stray->m_pParent);
}

// ---- large files ----------------------------------------------------------------------------

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST(BookmarkHtmlLarge, BareAmpersandsCostTheirLengthOnly) {
  // Two megabytes of "&" without ";" took half a minute when each "&"
  // searched the rest of the text; the bound leaves room for slow machines.
  std::string amps(2 << 20, '&');
  auto t0 = std::chrono::steady_clock::now();
  Imported im(std::string(kHead) + "<DT><A HREF=\"http://a/?" + amps + "\">" + amps + "</A>\n<DD>" + amps +
              "\n</DL><p>\n");
  EXPECT_LT(Seconds(t0), 30.0);
  ASSERT_EQ(2u, im.list.GetCount());
  EXPECT_EQ(amps, im.list.GetAt(1)->m_strName);
  EXPECT_EQ(amps, im.list.GetAt(1)->m_strNote);
}

TEST(BookmarkHtmlLarge, OtherFloodsCostTheirLengthOnly) {
  auto t0 = std::chrono::steady_clock::now();
  std::string pairs;
  for (int i = 0; i < (1 << 20); ++i) pairs += "&lt;&gt;";
  Imported notes(std::string(kHead) + "<DT><A HREF=\"http://a/\">a</A>\n<DD>x" + pairs + "y\n</DL><p>\n");
  ASSERT_EQ(2u, notes.list.GetCount());
  EXPECT_EQ("xy", notes.list.GetAt(1)->m_strNote) << "every \"<>\" goes, as AddNode takes them out";
  std::string metas;
  for (int i = 0; i < 20000; ++i) metas += "<meta charset";
  Imported unclosed(metas + "<DT><A HREF=\"http://b/\">b</A>");
  EXPECT_EQ(2u, unclosed.list.GetCount()) << "the '>' of <DT> ends the last <meta, as in a browser";
  Imported endless(metas + "<A HREF=\"http://b/\"");
  EXPECT_EQ(0u, endless.list.GetCount()) << "a tag that never ends ends the reading";
  std::string quotes(1 << 20, '"');
  Imported stray("<DL><DT><A HREF=\"http://c/\" X=" + quotes + ">c</A></DL>");
  EXPECT_EQ(2u, stray.list.GetCount());
  EXPECT_LT(Seconds(t0), 30.0);
}

TEST(BookmarkHtmlLarge, TenMegabytesOfAHundredThousandLinks) {
  std::string html = kHead;
  for (int f = 0; f < 40; ++f) {
    html += "<DT><H3 ADD_DATE=\"1700000000\">" + Utf8("文件夹") + std::to_string(f) + "</H3>\n<DL><p>\n";
    for (int i = 0; i < 2500; ++i)
      html += "<DT><A HREF=\"https://www.example" + std::to_string(f) + ".com.cn/page-" + std::to_string(i) +
              ".html?a=1&b=2\" ADD_DATE=\"1700001234\">" + Utf8("网站") + std::to_string(i) + " &amp; " +
              Utf8("新闻") + "</A>\n";
    html += "</DL><p>\n";
  }
  html += "</DL><p>\n";
  ASSERT_GT(html.size(), 10u << 20);
  auto t0 = std::chrono::steady_clock::now();
  Imported im(html);
  EXPECT_LT(Seconds(t0), 30.0) << "a minute and more when the importer was quadratic";
  // The first folder fills all 44 tabs: 文件夹0, 文件夹02 … 文件夹044.
  EXPECT_EQ(44 * 30, im.result.links);
  EXPECT_TRUE(im.list.FindNode("文件夹044", UrlCategory));
  EXPECT_EQ(100000 - im.result.links, im.result.notImported);
  EXPECT_EQ("网站29 & 新闻", im.list.FindNode("网站29 & 新闻", UrlItem)->m_strName);
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "loopback_http.h"
#include "os/os.h"
#include "panels/capture_logic.h"
#include "panels/page_fetcher.h"
#include "panels/site_icon.h"
#include "store/node.h"
#include "testutil.h"

using namespace panels;

namespace {

TEST(CaptureHotkey, WhichTextsRegisterWhat) {
  CaptureHotkey f5 = PlanCaptureHotkey("F5");
  EXPECT_EQ(CaptureHotkey::kUsable, f5.verdict);
  EXPECT_EQ(0, f5.modifiers);
  EXPECT_EQ(116, f5.key);
  EXPECT_EQ(0, f5.lowerKey) << "no lower-case twin for a function key";
  // The bare function keys at both ends of F2..F11, and just outside them.
  EXPECT_EQ(CaptureHotkey::kUsable, PlanCaptureHotkey("F2").verdict);
  EXPECT_EQ(CaptureHotkey::kUsable, PlanCaptureHotkey("F11").verdict);
  EXPECT_EQ(CaptureHotkey::kIllegal, PlanCaptureHotkey("F1").verdict);
  EXPECT_EQ(CaptureHotkey::kIllegal, PlanCaptureHotkey("F12").verdict);
  EXPECT_EQ(CaptureHotkey::kIllegal, PlanCaptureHotkey("Z").verdict);
  EXPECT_EQ(CaptureHotkey::kIllegal, PlanCaptureHotkey("Ctrl+").verdict) << "a modifier without a key";
  EXPECT_EQ(CaptureHotkey::kEmpty, PlanCaptureHotkey("").verdict);

  CaptureHotkey z = PlanCaptureHotkey("Ctrl+Alt+Z");
  EXPECT_EQ(CaptureHotkey::kUsable, z.verdict);
  EXPECT_EQ(3, z.modifiers);
  EXPECT_EQ(90, z.key);
  EXPECT_EQ(122, z.lowerKey);
  // The letters at both ends get their twin; a digit does not.
  EXPECT_EQ(97, PlanCaptureHotkey("Shift+A").lowerKey);
  EXPECT_EQ(0, PlanCaptureHotkey("Ctrl+9").lowerKey);
  EXPECT_EQ(57, PlanCaptureHotkey("Ctrl+9").key);
  EXPECT_EQ("热键非法，请重新定义！", std::string(kIllegalHotkeyText));
}

TEST(CaptureBrowsers, FamiliesByClassAndProgram) {
  EXPECT_EQ(BrowserFamily::kInternetExplorer, FamilyOfWindow("IEFrame", ""));
  EXPECT_EQ(BrowserFamily::kChromium, FamilyOfWindow("Chrome_WidgetWin_1", "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe"));
  EXPECT_EQ(BrowserFamily::kChromium, FamilyOfWindow("Chrome_WidgetWin_1", "MSEDGE.EXE"));
  for (const char* p : {"brave.exe", "vivaldi.exe", "opera.exe", "chromium.exe"})
    EXPECT_EQ(BrowserFamily::kChromium, FamilyOfWindow("Chrome_WidgetWin_1", p)) << p;
  EXPECT_EQ(BrowserFamily::kFirefox, FamilyOfWindow("MozillaWindowClass", "C:/Mozilla Firefox/firefox.exe"));
  // Programs are named in any case, from A to Z.
  for (const char* p : {"C:\\APPS\\BRAVE.EXE", "QQBrowser.exe", "SogouExplorer.exe", "360Chrome.exe"})
    EXPECT_EQ(BrowserFamily::kChromium, FamilyOfWindow("Chrome_WidgetWin_1", p)) << p;
  for (const char* p : {"LibreWolf.exe", "WATERFOX.EXE", "FLOORP.EXE"})
    EXPECT_EQ(BrowserFamily::kFirefox, FamilyOfWindow("MozillaWindowClass", p)) << p;
  // The same classes serve programs that are no browsers.
  EXPECT_EQ(BrowserFamily::kNone, FamilyOfWindow("Chrome_WidgetWin_1", "Code.exe"));
  EXPECT_EQ(BrowserFamily::kNone, FamilyOfWindow("MozillaWindowClass", "thunderbird.exe"));
  EXPECT_EQ(BrowserFamily::kNone, FamilyOfWindow("Chrome_WidgetWin_0", "chrome.exe"));
  EXPECT_EQ(BrowserFamily::kNone, FamilyOfWindow("Chrome_WidgetWin_1", "notchrome.exe"));
  EXPECT_EQ(BrowserFamily::kNone, FamilyOfWindow("Notepad", "firefox.exe"));
}

TEST(CaptureTitles, EachFamilysSuffixGoesBeforeTheCleaning) {
  // The word and one blank stay: the cleaning removes only runs of blanks.
  EXPECT_EQ("word ", PageNameFromTitle(BrowserFamily::kInternetExplorer, "Word - Microsoft Internet Explorer"));
  EXPECT_EQ("新闻中心", PageNameFromTitle(BrowserFamily::kInternetExplorer, "新闻中心- Microsoft Internet Explorer"));
  // Internet Explorer's later suffixes are not its own; the cleaning takes their " - ".
  EXPECT_EQ("pagewindows internet explorer",
            PageNameFromTitle(BrowserFamily::kInternetExplorer, "Page - Windows Internet Explorer"));

  EXPECT_EQ("news front", PageNameFromTitle(BrowserFamily::kChromium, "News Front - Google Chrome"));
  EXPECT_EQ("", PageNameFromTitle(BrowserFamily::kChromium, " - Google Chrome")) << "an empty title and the brand";
  EXPECT_EQ("新浪首页", PageNameFromTitle(BrowserFamily::kChromium, "新浪首页 - Microsoft Edge"));
  EXPECT_EQ("docsblog", PageNameFromTitle(BrowserFamily::kChromium, "Docs - Blog - Brave"))
      << "only the separator before the brand";
  EXPECT_EQ("a", PageNameFromTitle(BrowserFamily::kChromium, "A - Vivaldi"));
  EXPECT_EQ("", PageNameFromTitle(BrowserFamily::kChromium, "Google Chrome")) << "a page without a title";
  EXPECT_EQ("my chrome tipsgoogle chrome help",
            PageNameFromTitle(BrowserFamily::kChromium, "My Chrome tips - Google Chrome Help"))
      << "a brand inside the page's own title is kept";

  EXPECT_EQ("mdn", PageNameFromTitle(BrowserFamily::kFirefox, "MDN — Mozilla Firefox"));
  EXPECT_EQ("mdn", PageNameFromTitle(BrowserFamily::kFirefox, "MDN - Mozilla Firefox"));
  EXPECT_EQ("mdn", PageNameFromTitle(BrowserFamily::kFirefox, "MDN — Mozilla Firefox Private Browsing"));
  EXPECT_EQ("a-b", PageNameFromTitle(BrowserFamily::kFirefox, "a—b — Firefox Developer Edition"))
      << "a dash inside the title is cleaned to '-' after the suffix is gone";
  // A Chromium suffix means nothing in Firefox's title.
  EXPECT_EQ("xgoogle chrome", PageNameFromTitle(BrowserFamily::kFirefox, "X - Google Chrome"));
}

TEST(CaptureTitles, InvisibleCharactersAreDropped) {
  // Microsoft\u200b Edge, as that browser writes its own name.
  EXPECT_EQ(u"Page - Microsoft Edge", DropInvisible(u"Page - Microsoft\u200b Edge"));
  EXPECT_EQ(u"ab", DropInvisible(u"\ufeffa\u200e\u2060b\u202e"));
  EXPECT_EQ(u"a\u200ab\u2065\u202f", DropInvisible(u"a\u200ab\u2065\u202f")) << "the neighbours of the ranges stay";
  EXPECT_EQ(u"a\u205fb\u2010\u2029c", DropInvisible(u"a\u205f\u2064b\u2010\u200f\u2029\u202ac"));
}

TEST(CaptureAddresses, AsEachBrowserGivesThem) {
  EXPECT_EQ("http://a.example/x?q=1", IeAddress(" http://a.example/ x?q=1 "));
  EXPECT_EQ("https://a.example/", NormaliseCopiedAddress("https://a.example/"));
  EXPECT_EQ("", NormaliseCopiedAddress(""));
  EXPECT_EQ("http://a.example/p", NormaliseCopiedAddress("  a.example/p\r\n"));
  EXPECT_EQ("http://localhost:8080/x", NormaliseCopiedAddress("localhost:8080/x"));
  EXPECT_EQ("http://www.a.example:80/", NormaliseCopiedAddress("www.a.example:80/"));
  EXPECT_EQ("about:blank", NormaliseCopiedAddress("about:blank"));
  EXPECT_EQ("mailto:a@b.example", NormaliseCopiedAddress("mailto:a@b.example"));
  EXPECT_EQ("file:///C:/x.html", NormaliseCopiedAddress("file:///C:/x.html"));
  EXPECT_EQ("http://192.168.1.1/", NormaliseCopiedAddress("192.168.1.1/"));
  EXPECT_EQ("", NormaliseCopiedAddress("two words"));
  EXPECT_EQ("", NormaliseCopiedAddress("line1\r\nline2"));
  EXPECT_EQ("", NormaliseCopiedAddress(" \r\n"));
  // Blanks of every kind at both ends; a control character or DEL anywhere refuses.
  EXPECT_EQ("http://a.example/", NormaliseCopiedAddress("\t\r\n a.example/\n\r\t "));
  EXPECT_EQ("", NormaliseCopiedAddress("a.example/\x7F"));
  EXPECT_EQ("", NormaliseCopiedAddress("a.example/\x1F"));
  EXPECT_EQ("http://a.example/!~", NormaliseCopiedAddress("a.example/!~"));
  // A scheme's letters: "+", "-" and "." inside it, a letter first, a port is no scheme.
  EXPECT_EQ("svn+ssh://h/r", NormaliseCopiedAddress("svn+ssh://h/r"));
  EXPECT_EQ("view-source:x", NormaliseCopiedAddress("view-source:x"));
  EXPECT_EQ("a.b:x", NormaliseCopiedAddress("a.b:x"));
  EXPECT_EQ("http://a_b:x", NormaliseCopiedAddress("a_b:x"));
  EXPECT_EQ("http://1a:x", NormaliseCopiedAddress("1a:x"));
  EXPECT_EQ("http://:x", NormaliseCopiedAddress(":x"));
  EXPECT_EQ("http://h:8", NormaliseCopiedAddress("h:8"));
  EXPECT_EQ("http://h:0/", NormaliseCopiedAddress("h:0/"));
  EXPECT_EQ("h://8", NormaliseCopiedAddress("h://8"));
  EXPECT_EQ("h:", NormaliseCopiedAddress("h:"));
}

CMyNode* Category(CMyNodeList& list, const std::string& name) {
  CMyNode* c = new CMyNode(name, UrlCategory, nullptr, 0);
  EXPECT_TRUE(list.AddNode(c));
  return c;
}

TEST(CaptureFiling, NewItemAtTheFirstFreeButton) {
  qbtest::TempDir dir;
  CMyNodeList list;
  list.m_strBaseDir = dir.Path();
  CMyNode* cat = Category(list, "新闻");
  CMyNode* other = new CMyNode;
  other->m_strName = "other";
  other->m_pParent = cat;
  other->m_nSlot = 0;
  ASSERT_TRUE(list.AddNode(other));

  FiledPage f = FilePage(list, dir.Path(), cat, BrowserFamily::kInternetExplorer, "Word - Microsoft Internet Explorer",
                         "http://news.example.com/a/b.html");
  ASSERT_TRUE(f.added);
  EXPECT_EQ("word ", f.added->m_strName);
  EXPECT_EQ(UrlItem, f.added->m_nKind);
  EXPECT_EQ(cat, f.added->m_pParent);
  EXPECT_EQ(1, f.added->m_nSlot);
  EXPECT_TRUE(f.fetchIcon) << "no icon file yet";
  EXPECT_EQ(dir / "images\\icon\\ieicon\\IE XP1.ico", f.added->m_strIconPath) << "the stock icon meanwhile";

  // The same page again into the same category: nothing.
  size_t count = list.GetCount();
  FiledPage again = FilePage(list, dir.Path(), cat, BrowserFamily::kInternetExplorer,
                             "Word - Microsoft Internet Explorer", "http://news.example.com/a/b.html");
  EXPECT_EQ(nullptr, again.added);
  EXPECT_EQ(count, list.GetCount());
  // Into another category it is a new item.
  CMyNode* cat2 = Category(list, "工具");
  EXPECT_TRUE(FilePage(list, dir.Path(), cat2, BrowserFamily::kInternetExplorer, "Word - Microsoft Internet Explorer",
                       "http://news.example.com/a/b.html")
                  .added);

  // An icon file of the site that is there already is used at once.
  ASSERT_TRUE(os::CreateFolder(dir / "images"));
  ASSERT_TRUE(os::CreateFolder(dir / "images\\icon"));
  qbtest::WriteFileBytes(dir / "images\\icon\\newsexample.ico", "icon");
  FiledPage known = FilePage(list, dir.Path(), cat, BrowserFamily::kChromium, "Other - Google Chrome",
                             "http://news.example.com/c.html");
  ASSERT_TRUE(known.added);
  EXPECT_FALSE(known.fetchIcon);
  EXPECT_EQ(dir / "images\\icon\\newsexample.ico", known.added->m_strIconPath);

  // An address without an icon address: the stock icon, nothing to fetch.
  FiledPage bare = FilePage(list, dir.Path(), cat, BrowserFamily::kChromium, "Bare - Google Chrome",
                            "http://bare.example");
  ASSERT_TRUE(bare.added);
  EXPECT_FALSE(bare.fetchIcon);
  EXPECT_EQ(dir / "images\\icon\\ieicon\\IE XP3.ico", bare.added->m_strIconPath);
  // An address not found at all still makes an item, with an empty address.
  FiledPage none = FilePage(list, dir.Path(), cat, BrowserFamily::kInternetExplorer, "T", "");
  ASSERT_TRUE(none.added);
  EXPECT_EQ("", none.added->m_strAddress);
  EXPECT_EQ(nullptr, FilePage(list, dir.Path(), nullptr, BrowserFamily::kChromium, "x", "http://x/").added);
}

// A title that cleans down to nothing ("***", only the browser's name)
// names the item after the address's host, never leaves it without a name.
TEST(CaptureFiling, AnEmptyTitleNamesThePageAfterItsHost) {
  qbtest::TempDir dir;
  CMyNodeList list;
  list.m_strBaseDir = dir.Path();
  CMyNode* cat = Category(list, "新闻");
  FiledPage f = FilePage(list, dir.Path(), cat, BrowserFamily::kChromium, "*** - Google Chrome",
                         "https://user@News.Example.com:8443/a/b.html?q=1");
  ASSERT_TRUE(f.added);
  EXPECT_EQ("news.example.com", f.added->m_strName);
  FiledPage blank = FilePage(list, dir.Path(), cat, BrowserFamily::kInternetExplorer, "", "http://[::1]:8080/x");
  ASSERT_TRUE(blank.added);
  EXPECT_EQ("[::1]", blank.added->m_strName);
  FiledPage none = FilePage(list, dir.Path(), cat, BrowserFamily::kInternetExplorer, "", "");
  ASSERT_TRUE(none.added);
  EXPECT_EQ(kUntitledPage, none.added->m_strName);
  EXPECT_EQ("site.example", AddressHost("site.example#top"));
  // A title of characters the code page lacks is a name: kept as references.
  FiledPage emoji = FilePage(list, dir.Path(), cat, BrowserFamily::kChromium, "&#x1F600; - Google Chrome",
                             "http://e.example/");
  ASSERT_TRUE(emoji.added);
  EXPECT_EQ("&#x1F600;", emoji.added->m_strName);
}

TEST(CaptureFiling, AFullCategoryTakesNothing) {
  qbtest::TempDir dir;
  CMyNodeList list;
  CMyNode* cat = Category(list, "满");
  for (int i = 0; i < 29; ++i) {
    CMyNode* n = new CMyNode;
    n->m_strName = "n" + std::to_string(i);
    n->m_pParent = cat;
    n->m_nSlot = i;
    ASSERT_TRUE(list.AddNode(n));
  }
  FiledPage last = FilePage(list, dir.Path(), cat, BrowserFamily::kChromium, "Last - Google Chrome", "http://l/");
  ASSERT_TRUE(last.added) << "the 30th button is free";
  EXPECT_EQ(29, last.added->m_nSlot);
  size_t count = list.GetCount();
  EXPECT_EQ(nullptr, FilePage(list, dir.Path(), cat, BrowserFamily::kChromium, "More - Google Chrome", "http://m/").added);
  EXPECT_EQ(count, list.GetCount());
}

TEST(CaptureFiling, AnArrivingIconGoesToTheItemsStillWaitingForIt) {
  CMyNodeList list;
  list.m_strBaseDir = "C:\\Q\\";
  CMyNode* cat = Category(list, "c");
  auto item = [&](const std::string& name, const std::string& address) {
    FiledPage f = FilePage(list, "C:\\Q\\", cat, BrowserFamily::kChromium, name, address);
    EXPECT_TRUE(f.added && f.fetchIcon);
    return f.added;
  };
  CMyNode* a = item("a", "http://s.example/1");
  CMyNode* b = item("b", "http://s.example/1");
  CMyNode* edited = item("e", "http://s.example/1");
  CMyNode* moved = item("m", "http://s.example/1");
  CMyNode* gone = item("g", "http://s.example/1");
  CMyNode* elsewhere = item("x", "http://t.example/1");
  CMyNode* detached = item("d", "http://s.example/1");
  CMyNode* asked = item("y", "http://t.example/2");
  CIconWaits waits;
  for (CMyNode* n : {a, b, edited, moved, gone, elsewhere, detached, asked}) waits.Expect(n);
  const std::string askedStock = asked->m_strIconPath;
  asked->m_strAddress = "http://s.example/1";      // moved onto the arriving site while waiting for another
  ASSERT_TRUE(list.RemoveNode(detached));          // out of the tree, not yet freed
  const std::string stock = detached->m_strIconPath;
  edited->m_strIconPath = "C:\\my.ico";            // the user chose an icon meanwhile
  moved->m_strAddress = "http://s.example/2";      // or another address
  ASSERT_TRUE(list.RemoveNode(gone));              // or deleted the item
  delete gone;
  std::vector<CMyNode*> took = waits.Arrived(list, "http://s.example/1", "C:\\Q\\images\\icon\\sexample.ico");
  EXPECT_EQ((std::vector<CMyNode*>{a, b}), took);
  EXPECT_EQ("C:\\Q\\images\\icon\\sexample.ico", a->m_strIconPath);
  EXPECT_EQ("C:\\my.ico", edited->m_strIconPath);
  EXPECT_EQ(stock, detached->m_strIconPath) << "not in the tree";
  EXPECT_EQ(askedStock, asked->m_strIconPath) << "an icon goes only to the items that asked for it";
  waits.Failed("http://t.example/2");
  delete detached;
  EXPECT_EQ(1u, waits.Waiting()) << "only the other site's item still waits";
  waits.Failed("http://t.example/1");
  EXPECT_EQ(0u, waits.Waiting());
  EXPECT_EQ("C:\\Q\\images\\icon\\ieicon\\IE XP0.ico", elsewhere->m_strIconPath) << "a failure keeps the stock icon";
}

TEST(CaptureClipboard, WhatIsKeptWhileTheAddressIsCopied) {
  using V = std::vector<unsigned>;
  auto kept = [](const V& formats) {
    std::vector<std::pair<unsigned, ClipKeep>> out;
    for (const ClipFormat& f : PlanClipboardKeep(formats)) out.emplace_back(f.format, f.keep);
    return out;
  };
  using P = std::vector<std::pair<unsigned, ClipKeep>>;
  EXPECT_TRUE(kept(V{}).empty()) << "an empty clipboard is put back empty";
  // Unicode text with what the system makes from it: the text and its locale.
  EXPECT_EQ((P{{13, ClipKeep::kMemory}, {16, ClipKeep::kMemory}}), kept(V{13, 16, 1, 7}));
  // Text given as code-page text: that one.
  EXPECT_EQ((P{{1, ClipKeep::kMemory}, {16, ClipKeep::kMemory}}), kept(V{1, 16, 13, 7}));
  // A browser's copy: HTML and other registered formats are memory too.
  EXPECT_EQ((P{{0xC0F1, ClipKeep::kMemory}, {13, ClipKeep::kMemory}, {0xC00D, ClipKeep::kMemory}}),
            kept(V{0xC0F1, 13, 0xC00D, 1}));
  // A picture: the device-independent form, not the handle or the palette.
  EXPECT_EQ((P{{8, ClipKeep::kMemory}}), kept(V{2, 8, 9, 17}));
  // Text and a picture together: one of each.
  EXPECT_EQ((P{{13, ClipKeep::kMemory}, {8, ClipKeep::kMemory}}), kept(V{13, 8}));
  EXPECT_EQ((P{{17, ClipKeep::kMemory}}), kept(V{17, 2, 8}));
  EXPECT_EQ((P{{2, ClipKeep::kBitmap}}), kept(V{2}));
  EXPECT_EQ((P{{17, ClipKeep::kMemory}}), kept(V{2, 17}));
  EXPECT_EQ((P{{14, ClipKeep::kEnhMetafile}}), kept(V{3, 14}));
  // Handles of the owner: private and GDI-object formats, owner display, at the range ends.
  EXPECT_EQ((P{{0x1FF, ClipKeep::kMemory}, {0x400, ClipKeep::kMemory}}),
            kept(V{0x80, 0x1FF, 0x200, 0x2FF, 0x300, 0x3FF, 0x400}));
  // What an owner shows in the viewer: text and pictures as their plain forms, its own drawing not.
  EXPECT_EQ((P{{0x81, ClipKeep::kMemory}, {0x82, ClipKeep::kBitmap}, {0x84, ClipKeep::kMemory},
               {0x8D, ClipKeep::kMemory}, {0x8E, ClipKeep::kEnhMetafile}}),
            kept(V{0x81, 0x82, 0x83, 0x84, 0x8D, 0x8E}));
  // Files dropped on the clipboard (a memory block).
  EXPECT_EQ((P{{15, ClipKeep::kMemory}}), kept(V{15}));
}

// ---- downloads after the capture ----------------------------------------------------

std::string Icon() { return std::string("\0\0\1\0\1\0icon", 10); }
std::string Page() { return "<html><body>page</body></html>"; }

// A slow site on the loopback interface: it holds every request until the
// test lets it go, then answers /favicon.ico with an icon and anything else
// with a page. The program folder has the folders the downloads go to.
class CaptureDownloads : public ::testing::Test {
 protected:
  CaptureDownloads() { MakeFolders(dir); }
  static void MakeFolders(const qbtest::TempDir& programDir) {
    for (const char* f : {"images", "images\\icon", "offline-page"}) EXPECT_TRUE(os::CreateFolder(programDir / f));
  }
  FetchJob Job(const std::string& path, bool icon = false) {
    FetchJob job;
    job.programDir = dir.Path();
    job.address = server.Base() + path;
    job.icon = icon;
    return job;
  }
  // A fetcher's report, kept in `results`.
  void Keep(const FetchResult& r) {
    std::lock_guard<std::mutex> hold(lock);
    results.push_back(r);
  }
  size_t Kept() {
    std::lock_guard<std::mutex> hold(lock);
    return results.size();
  }

  std::atomic<int> dropIcons{0};  // the next so many icon requests are hung up on without an answer
  qbtest::CLoopbackHttp server{[this](const std::string& request) {
                                 qbtest::HttpReply r;
                                 bool icon = request.find("/favicon.ico") != std::string::npos;
                                 if (icon && dropIcons > 0) {
                                   --dropIcons;
                                   r.end = qbtest::HttpReply::End::kHangUp;
                                 }
                                 r.bytes = qbtest::HttpAnswer("200 OK", icon ? Icon() : Page());
                                 return r;
                               },
                               {0, false, true}};
  qbtest::TempDir dir;
  std::mutex lock;
  std::vector<FetchResult> results;
};

TEST_F(CaptureDownloads, ASlowSiteHoldsUpNothingAndItsIconAndPageComeLater) {
  CPageFetcher fetcher([this](const FetchResult& r) { Keep(r); });
  FetchJob job = Job("/news/today.html", true);
  fetcher.Add(job);  // returns while the site says nothing
  ASSERT_TRUE(server.WaitHeld(10000)) << "the icon is asked for";
  EXPECT_EQ(0, fetcher.WaitIdle(50));
  EXPECT_EQ(0u, Kept());
  server.Release();
  ASSERT_EQ(1, fetcher.WaitIdle(20000));
  ASSERT_EQ(1u, results.size());
  const FetchResult& r = results[0];
  EXPECT_EQ(job.address, r.address);
  EXPECT_TRUE(r.iconSaved);
  EXPECT_EQ(SiteIconFile(dir.Path(), job.address), r.iconFile);
  EXPECT_EQ(Icon(), qbtest::ReadFileBytes(r.iconFile));
  EXPECT_TRUE(r.offlineSaved);
  EXPECT_EQ(dir / ("offline-page\\" + OfflinePageName(job.address) + ".html"), r.offlineFile);
  EXPECT_EQ(Page(), qbtest::ReadFileBytes(r.offlineFile)) << "the offline copy takes HTML";
  EXPECT_EQ(2, server.Answered());
}

TEST_F(CaptureDownloads, WithoutAnIconToFetchOnlyThePageIsAsked) {
  server.Release();
  CPageFetcher fetcher([this](const FetchResult& r) { Keep(r); });
  FetchJob job = Job("/a.html");
  fetcher.Add(job);
  ASSERT_EQ(1, fetcher.WaitIdle(20000));
  ASSERT_EQ(1u, results.size());
  EXPECT_FALSE(results[0].iconSaved);
  EXPECT_TRUE(results[0].offlineSaved);
  EXPECT_EQ(1, server.Answered());
  // A site that cannot be reached is reported too, with nothing saved.
  FetchJob dead = job;
  dead.address = "http://127.0.0.1:1/x.html";
  dead.icon = true;
  fetcher.Add(dead);
  ASSERT_EQ(1, fetcher.WaitIdle(20000));
  ASSERT_EQ(2u, results.size());
  EXPECT_FALSE(results[1].iconSaved);
  EXPECT_FALSE(results[1].offlineSaved);
  EXPECT_EQ("", results[1].offlineFile) << "no file named for a copy not saved";
  // The icon alone, without an offline copy: only the icon is asked for.
  FetchJob iconOnly = Job("/b.html", true);
  iconOnly.offline = false;
  fetcher.Add(iconOnly);
  ASSERT_EQ(1, fetcher.WaitIdle(20000));
  ASSERT_EQ(3u, results.size());
  EXPECT_TRUE(results[2].iconSaved);
  EXPECT_FALSE(results[2].offlineSaved);
  EXPECT_FALSE(os::FileExists(dir / ("offline-page\\" + OfflinePageName(iconOnly.address) + ".html")));
  EXPECT_EQ(2, server.Answered());
}

// The browser's own copy of the page is taken first, over an older offline
// copy, and an icon on disk is kept, without asking the site (here one that
// cannot be reached).
TEST_F(CaptureDownloads, TheBrowsersCachedCopyIsTakenFirstAndReplacesAnOlderOne) {
  qbtest::TempDir home;
  os::SetRegistryFolder(os::NativePath(home / "reg"));
  qbtest::CHomeValues homeValues;
  std::string homePath = home.Path().substr(0, home.Path().size() - 1);
  homeValues.Set("", homePath);
  EXPECT_TRUE(os::CreateFolder(home / "Local Settings"));
  EXPECT_TRUE(os::CreateFolder(home / "Local Settings\\Temporary Internet Files"));
  qbtest::WriteFileBytes(home / "Local Settings\\Temporary Internet Files\\127.0.html", "<html>cached</html>");
  FetchJob job;
  job.programDir = dir.Path();
  job.address = "http://127.0.0.1:1/page.html";
  std::string offline = OfflinePagePath(dir.Path(), job.address);
  qbtest::WriteFileBytes(offline, "<html>older</html>");
  // The site's icon fetched before is kept as well.
  job.icon = true;
  std::string icon = SiteIconFile(dir.Path(), job.address);
  qbtest::WriteFileBytes(icon, "kept icon");
  FetchResult r = RunFetchJob(job);
  homeValues.Restore();
  EXPECT_TRUE(r.offlineSaved);
  EXPECT_EQ(offline, r.offlineFile);
  EXPECT_EQ("<html>cached</html>", qbtest::ReadFileBytes(offline));
  EXPECT_TRUE(r.iconSaved);
  EXPECT_EQ(icon, r.iconFile);
  EXPECT_EQ("kept icon", qbtest::ReadFileBytes(icon));
}

TEST_F(CaptureDownloads, AnIconRequestThatFailsIsTriedTwiceMore) {
  server.Release();
  CPageFetcher fetcher([this](const FetchResult& r) { Keep(r); });
  FetchJob job = Job("/a.html", true);
  dropIcons = 2;  // the third try gets it
  uint32_t t0 = os::TickCount();
  fetcher.Add(job);
  ASSERT_EQ(1, fetcher.WaitIdle(20000));
  // Each try again comes after a pause (300 ms; a margin for a coarse clock).
  EXPECT_GE(os::TickCount() - t0, 2 * kIconRetryMs - 100);
  ASSERT_EQ(1u, results.size());
  EXPECT_TRUE(results[0].iconSaved);
  EXPECT_EQ(Icon(), qbtest::ReadFileBytes(SiteIconFile(dir.Path(), job.address)));
  // Three failures in a row: the item keeps its stock icon.
  qbtest::TempDir other;
  MakeFolders(other);
  job.programDir = other.Path();
  dropIcons = 3;
  fetcher.Add(job);
  ASSERT_EQ(1, fetcher.WaitIdle(20000));
  ASSERT_EQ(2u, results.size());
  EXPECT_FALSE(results[1].iconSaved);
  EXPECT_FALSE(os::FileExists(SiteIconFile(other.Path(), job.address)));
  EXPECT_TRUE(results[1].offlineSaved) << "the page itself still comes";
}

TEST_F(CaptureDownloads, ClosingDoesNotWaitForASilentSiteAndReportsNothingAfterwards) {
  auto reported = std::make_shared<std::atomic<int>>(0);
  {
    CPageFetcher fetcher([reported](const FetchResult&) { ++*reported; });
    FetchJob job = Job("/a.html");
    fetcher.Add(job);
    fetcher.Add(job);  // a second job waiting behind it is dropped
    ASSERT_TRUE(server.WaitHeld(10000));
  }  // the destructor gives up after its bounded wait
  server.Release();
  // An idle fetcher's worker ends at once, and closing waits for exactly that.
  uint32_t t0 = os::TickCount();
  { CPageFetcher idle([](const FetchResult&) {}); }
  EXPECT_LT(os::TickCount() - t0, 1000u) << "closing an idle fetcher is not held up";
  // Let the transfer end on its own (the client has hung up); its result goes nowhere.
  server.WaitClosed(1, 10000);
  os::SleepMs(100);
  EXPECT_EQ(0, reported->load());
  EXPECT_EQ(1, server.Answered()) << "the waiting job never ran";
}

// A fetcher nobody listens to still does its jobs, and reports to no one.
TEST_F(CaptureDownloads, AFetcherWithoutAReportRunsItsJobs) {
  CPageFetcher fetcher(nullptr);
  FetchJob job;
  job.offline = false;  // nothing to fetch: the job ends at once
  fetcher.Add(job);
  EXPECT_EQ(1, fetcher.WaitIdle(5000));
}

}  // namespace

#include <gtest/gtest.h>

#include <utility>

#include "loopback_http.h"
#include "os/os.h"
#include "panels/site_icon.h"
#include "testutil.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace panels;
using qbtest::CLoopbackHttp;
using qbtest::HttpAnswer;

namespace {

std::string IconBytes(size_t n) {
  std::string b("\0\0\1\0\1\0", 6);
  while (b.size() < n) b += (char)(b.size() * 7 % 251);
  return b;
}

}  // namespace

TEST(SiteIcon, NamesOfTheExampleAddress) {
  std::string a = "http://news.example.com/a/b.html";
  EXPECT_EQ(FaviconAddress(a), "http://news.example.com/favicon.ico");
  EXPECT_EQ(SiteIconFile("D:\\Q\\", a), "D:\\Q\\images\\icon\\newsexample.ico");
  EXPECT_EQ(OfflinePageName(a), "newsexampleab");
  EXPECT_EQ(OfflinePagePath("D:\\Q\\", a), "D:\\Q\\offline-page\\newsexampleab.html");
  // Host only, no final slash: no icon address.
  EXPECT_EQ(FaviconAddress("http://news.example.com"), "");
  EXPECT_EQ(FaviconAddress("news.example.com/a"), "");
  EXPECT_EQ(FaviconAddress("http://news.example.com/"), "http://news.example.com/favicon.ico");
  EXPECT_EQ(FaviconAddress("http://a/"), "http://a/favicon.ico");
  EXPECT_EQ(FaviconAddress("http:///x"), "") << "no host, no icon";
  EXPECT_EQ(SiteIconFile("D:\\Q\\", "http://news.example.com"), "D:\\Q\\images\\icon\\newsexample.ico");
  EXPECT_EQ(OfflinePageName("http://nodots/path"), "");
}

TEST(SiteIcon, OfflineNameKeepsFiftyBytesWithoutSplittingACharacter) {
  std::string longPath = "http://s/" + std::string(60, 'x') + ".html";
  EXPECT_EQ(OfflinePageName(longPath), "s" + std::string(48, 'x'));  // "/" cleaned away after the cut
  std::string cn = "http://" + std::string(49, 'y') + "中文.html";
  EXPECT_EQ(OfflinePageName(cn), std::string(49, 'y'));
}

TEST(SiteIcon, CachePathFromTheHomeFolder) {
  std::string p = CachedPagePath("http://www.example.org/x.html");
  const std::string tail = "\\Local Settings\\Temporary Internet Files\\www.example.html";
  ASSERT_GE(p.size(), tail.size());
  EXPECT_EQ(p.substr(p.size() - tail.size()), tail);
  std::string none = CachedPagePath("http://abcdef");
  const std::string empty = "\\Local Settings\\Temporary Internet Files\\.html";
  ASSERT_GE(none.size(), empty.size());
  EXPECT_EQ(none.substr(none.size() - empty.size()), empty);
  // The name ends at the first dot from the fifth byte after the scheme on.
  auto name = [](const std::string& address) {
    std::string p = CachedPagePath(address);
    return p.substr(p.rfind('\\') + 1);
  };
  EXPECT_EQ("abc.example.html", name("http://abc.example.org/"));
  EXPECT_EQ("abcd.html", name("http://abcd.e.f"));
  EXPECT_EQ("abcd.html", name("http://abcd."));
  EXPECT_EQ(".html", name("http://abcd"));
}

TEST(SiteIcon, CachePathTakesAtMostTenAndAHundredBytesOfTheHomeValues) {
  // The values are read into buffers of 10 and 100 bytes, their terminating
  // zero included: 9 and 99 bytes of text at most.
  qbtest::TempDir d;
  os::SetRegistryFolder(os::NativePath(d / "reg"));
  qbtest::CHomeValues home;
  const std::string tail = "\\Local Settings\\Temporary Internet Files\\www.example.html";
  std::string paths[4];
  const char* drives[] = {"D:", "012345678", "0123456789", "D:"};
  const size_t pathSizes[] = {99, 1, 1, 100};
  for (int i = 0; i < 4; ++i) {
    home.Set(drives[i], "\\" + std::string(pathSizes[i] - 1, 'p'));
    paths[i] = CachedPagePath("http://www.example.org/");
  }
  // Put the machine's own values back before checking.
  home.Restore();
  EXPECT_EQ("D:\\" + std::string(98, 'p') + tail, paths[0]);
  EXPECT_EQ("012345678\\" + tail, paths[1]);
  EXPECT_EQ("012345678\\" + tail, paths[2]);
  EXPECT_EQ("D:\\" + std::string(98, 'p') + tail, paths[3]);
}

TEST(Download, AnIconIsWrittenWhole) {
  std::string icon = IconBytes(40000);  // more than two blocks
  CLoopbackHttp server(HttpAnswer("200 OK", icon, "image/x-icon"));
  qbtest::TempDir dir;
  ASSERT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "site.ico", 1), 1);
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "site.ico"), icon);
  std::string req = server.LastRequest();
  EXPECT_EQ(req.compare(0, 21, "GET /favicon.ico HTTP"), 0) << req;
  EXPECT_NE(req.find("Accept: */*"), std::string::npos) << req;
  EXPECT_NE(req.find("User-Agent: Agent"), std::string::npos) << req;
  EXPECT_NE(req.find("no-cache"), std::string::npos) << req;
}

#ifndef _WIN32
// An IPv6 address in brackets is connected to without them, and whole.
TEST(Download, ABracketedAddressIsReachedWhole) {
  int probe = socket(AF_INET6, SOCK_STREAM, 0);
  if (probe < 0) GTEST_SKIP() << "no IPv6 on this machine";
  close(probe);
  std::string icon = IconBytes(100);
  CLoopbackHttp server(HttpAnswer("200 OK", icon, "image/x-icon"));
  std::string port = server.Base().substr(server.Base().rfind(':') + 1);
  qbtest::TempDir dir;
  ASSERT_EQ(DownloadToFile("http://[::ffff:127.0.0.1]:" + port + "/favicon.ico", dir / "site.ico", 1), 1);
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "site.ico"), icon);
}

// A transfer broken off half way is no icon, and leaves no file.
TEST(Download, ABrokenTransferLeavesNoFile) {
  std::string icon = IconBytes(40000);
  CLoopbackHttp server({HttpAnswer("200 OK", icon, "image/x-icon").substr(0, 20000), "", qbtest::HttpReply::End::kReset});
  qbtest::TempDir dir;
  EXPECT_EQ(0, DownloadToFile(server.Base() + "/favicon.ico", dir / "site.ico", 1));
  EXPECT_FALSE(os::FileExists(dir / "site.ico"));
}
#endif

#ifndef _WIN32  // 128 MiB through Wine's web client would take the Windows suite minutes
// An answer of up to 64 MiB is taken; one byte more is refused and leaves no file.
TEST(Download, AnswersUpTo64MegabytesAreTaken) {
  qbtest::TempDir dir;
  std::string body = IconBytes(64u << 20);
  {
    CLoopbackHttp server(HttpAnswer("200 OK", body, "image/x-icon"));
    ASSERT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "max.ico", 1), 1);
  }
  EXPECT_EQ(67108864, os::FileSize(dir / "max.ico"));
  body += 'x';
  {
    CLoopbackHttp server(HttpAnswer("200 OK", body, "image/x-icon"));
    EXPECT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "over.ico", 1), 0);
  }
  EXPECT_FALSE(os::FileExists(dir / "over.ico"));
}
#endif

// An answer without a body is no icon: the download fails and an old icon stays.
TEST(Download, AnEmptyAnswerIsNoIcon) {
  CLoopbackHttp server(HttpAnswer("200 OK", "", "image/x-icon"));
  qbtest::TempDir dir;
  qbtest::WriteFileBytes(dir / "old.ico", "good icon");
  EXPECT_EQ(0, DownloadToFile(server.Base() + "/favicon.ico", dir / "old.ico", 1));
  EXPECT_EQ("good icon", qbtest::ReadFileBytes(dir / "old.ico"));
  EXPECT_EQ(0, DownloadToFile(server.Base() + "/favicon.ico", dir / "new.ico", 0));
  EXPECT_FALSE(os::FileExists(dir / "new.ico"));
}

// Some servers end their header lines with a bare line feed: the body still starts right after the blank line.
TEST(Download, HeaderLinesEndingInLineFeedsOnly) {
  std::string icon = IconBytes(300);
  CLoopbackHttp server("HTTP/1.0 200 OK\nContent-Type: image/x-icon\nContent-Length: 300\n\n" + icon);
  qbtest::TempDir dir;
  ASSERT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "lf.ico", 1), 1);
  EXPECT_EQ(icon, qbtest::ReadFileBytes(dir / "lf.ico"));
}

TEST(Download, AnHtmlErrorPageLeavesNoFileAndKeepsAnOldOne) {
  CLoopbackHttp server(HttpAnswer("404 Not Found", "<html><body>not here</body></html>", "text/html"));
  qbtest::TempDir dir;
  EXPECT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "site.ico", 1), 0);
  EXPECT_FALSE(os::FileExists(dir / "site.ico"));
  qbtest::WriteFileBytes(dir / "old.ico", "good icon");
  EXPECT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "old.ico", 1), 0);
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "old.ico"), "good icon");
  // Without the check the page itself is the download.
  EXPECT_EQ(DownloadToFile(server.Base() + "/page.html", dir / "page.html", 0), 1);
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "page.html"), "<html><body>not here</body></html>");
}

TEST(Download, OnlyLowerCaseHttpAddressesAreFetched) {
  CLoopbackHttp server(HttpAnswer("200 OK", IconBytes(100), "image/x-icon"));
  qbtest::TempDir dir;
  std::string upper = "HTTP://" + server.Base().substr(7) + "/favicon.ico";
  EXPECT_EQ(DownloadToFile(upper, dir / "a.ico", 1), 0);
  EXPECT_EQ(DownloadToFile("ftp://127.0.0.1/favicon.ico", dir / "a.ico", 1), 0);
  EXPECT_EQ(server.Requests(), 0);
  EXPECT_FALSE(os::FileExists(dir / "a.ico"));
}

TEST(Download, NoServerMeansFailure) {
  qbtest::TempDir dir;
  int port;
  {
    CLoopbackHttp gone("");
    port = std::stoi(gone.Base().substr(17));
  }
  EXPECT_EQ(DownloadToFile("http://127.0.0.1:" + std::to_string(port) + "/x.ico", dir / "x.ico", 1), 0);
  EXPECT_FALSE(os::FileExists(dir / "x.ico"));
}

TEST(FetchSiteIcon, ReusesAnExistingFileOnlyWhenAsked) {
  CLoopbackHttp server(HttpAnswer("200 OK", IconBytes(300), "image/x-icon"));
  qbtest::TempDir dir;
  ASSERT_TRUE(os::CreateFolder(dir / "images"));
  ASSERT_TRUE(os::CreateFolder(dir / "images\\icon"));
  std::string page = server.Base() + "/a/b.html";
  std::string file = SiteIconFile(dir.Path(), page);
  EXPECT_EQ(file, dir / ("images\\icon\\127001" + server.Base().substr(17) + ".ico"));
  qbtest::WriteFileBytes(file, "kept");
  EXPECT_EQ(FetchSiteIcon(dir.Path(), page, 1), 1);
  EXPECT_EQ(server.Requests(), 0);
  EXPECT_EQ(qbtest::ReadFileBytes(file), "kept");
  EXPECT_EQ(FetchSiteIcon(dir.Path(), page, 0), 1);
  EXPECT_EQ(server.Requests(), 1);
  EXPECT_EQ(qbtest::ReadFileBytes(file), IconBytes(300));
  // A host without a path has no icon address: nothing is asked.
  EXPECT_EQ(FetchSiteIcon(dir.Path(), server.Base(), 0), 0);
  EXPECT_EQ(server.Requests(), 1);
  // A site answering its icon address with a page keeps the old icon.
  CLoopbackHttp pages(HttpAnswer("404 Not Found", "<html>no icon</html>", "text/html"));
  std::string other = SiteIconFile(dir.Path(), pages.Base() + "/a/b.html");
  qbtest::WriteFileBytes(other, "old icon");
  EXPECT_EQ(FetchSiteIcon(dir.Path(), pages.Base() + "/a/b.html", 0), 0);
  EXPECT_EQ(pages.Requests(), 1);
  EXPECT_EQ(qbtest::ReadFileBytes(other), "old icon");
}

#ifndef _WIN32
TEST(ToolbarButton, WritesTheSixValues) {
  qbtest::TempDir reg;
  os::SetRegistryFolder(os::NativePath(reg / "reg"));
  RegisterToolbarButton("D:\\Q\\Qimbo.exe", "Ctrl+Alt+Z");
  // Each value's name and what it holds.
  const std::pair<const char*, const char*> kValues[] = {
      {"ButtonText", "添加点这里或者用收藏热键Ctrl+Alt+Z"},
      {"Icon", "D:\\Q\\Qimbo.exe,154"},
      {"HotIcon", "D:\\Q\\Qimbo.exe,153"},
      {"Exec", "D:\\Q\\Qimbo.exe"},
      {"CLSID", "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"},
      {"Default Visible", "Yes"},
  };
  for (const auto& [name, value] : kValues) {
    std::string v;
    EXPECT_TRUE(os::RegReadString(os::Hive::LocalMachine, kToolbarKey, name, v)) << name;
    EXPECT_EQ(v, value) << name;
  }
}
#endif

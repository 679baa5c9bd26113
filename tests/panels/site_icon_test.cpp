#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET Sock;
#define CLOSESOCK closesocket
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int Sock;
#define CLOSESOCK close
#endif

#include <atomic>
#include <thread>

#include "os/os.h"
#include "panels/site_icon.h"
#include "testutil.h"

using namespace panels;

namespace {

// A one-request-at-a-time HTTP server on a loopback port, answering every
// request with a fixed response and remembering what it was asked.
class CLoopbackServer {
 public:
  // `breakOff`: the connection is torn down (a reset) a moment after the response.
  explicit CLoopbackServer(std::string response, bool breakOff = false)
      : m_response(std::move(response)), m_breakOff(breakOff) {
#ifdef _WIN32
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
#endif
    m_listen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(m_listen, (sockaddr*)&a, sizeof a);
    listen(m_listen, 4);
    socklen_t len = sizeof a;
    getsockname(m_listen, (sockaddr*)&a, &len);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~CLoopbackServer() {
    m_stop = true;
    // Wake the accept with one last connection.
    Sock s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((unsigned short)m_port);
    connect(s, (sockaddr*)&a, sizeof a);
    CLOSESOCK(s);
    m_thread.join();
    CLOSESOCK(m_listen);
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
  int Requests() const { return m_requests; }
  std::string LastRequest() const { return m_last; }

 private:
  void Serve() {
    while (!m_stop) {
      Sock c = accept(m_listen, nullptr, nullptr);
      if (m_stop) {
        CLOSESOCK(c);
        break;
      }
      std::string req;
      char buf[2048];
      while (req.find("\r\n\r\n") == std::string::npos) {
        int n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, (size_t)n);
      }
      m_last = req;
      ++m_requests;
      size_t done = 0;
      while (done < m_response.size()) {
        int n = send(c, m_response.data() + done, (int)(m_response.size() - done), 0);
        if (n <= 0) break;
        done += (size_t)n;
      }
#ifndef _WIN32
      if (m_breakOff) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        struct linger hard = {1, 0};
        setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      }
#endif
      CLOSESOCK(c);
    }
  }
  std::string m_response;
  bool m_breakOff;
  Sock m_listen;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_requests{0};
  std::string m_last;
  std::thread m_thread;
};

std::string Answer(const char* status, const std::string& type, const std::string& body) {
  return std::string("HTTP/1.0 ") + status + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

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
  const std::string key = "Volatile Environment";
  std::string oldDrive, oldPath;
  bool hadDrive = os::RegReadString(os::Hive::CurrentUser, key, "HOMEDRIVE", oldDrive);
  bool hadPath = os::RegReadString(os::Hive::CurrentUser, key, "HOMEPATH", oldPath);
  const std::string tail = "\\Local Settings\\Temporary Internet Files\\www.example.html";
  std::string paths[4];
  const char* drives[] = {"D:", "012345678", "0123456789", "D:"};
  const size_t pathSizes[] = {99, 1, 1, 100};
  for (int i = 0; i < 4; ++i) {
    os::RegWriteString(os::Hive::CurrentUser, key, "HOMEDRIVE", drives[i]);
    os::RegWriteString(os::Hive::CurrentUser, key, "HOMEPATH", "\\" + std::string(pathSizes[i] - 1, 'p'));
    paths[i] = CachedPagePath("http://www.example.org/");
  }
  // Put the machine's own values back before checking.
  if (hadDrive) os::RegWriteString(os::Hive::CurrentUser, key, "HOMEDRIVE", oldDrive);
  else os::RegRemoveValue(os::Hive::CurrentUser, key, "HOMEDRIVE");
  if (hadPath) os::RegWriteString(os::Hive::CurrentUser, key, "HOMEPATH", oldPath);
  else os::RegRemoveValue(os::Hive::CurrentUser, key, "HOMEPATH");
  EXPECT_EQ("D:\\" + std::string(98, 'p') + tail, paths[0]);
  EXPECT_EQ("012345678\\" + tail, paths[1]);
  EXPECT_EQ("012345678\\" + tail, paths[2]);
  EXPECT_EQ("D:\\" + std::string(98, 'p') + tail, paths[3]);
}

TEST(Download, AnIconIsWrittenWhole) {
  std::string icon = IconBytes(40000);  // more than two blocks
  CLoopbackServer server(Answer("200 OK", "image/x-icon", icon));
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
  CLoopbackServer server(Answer("200 OK", "image/x-icon", icon));
  std::string port = server.Base().substr(server.Base().rfind(':') + 1);
  qbtest::TempDir dir;
  ASSERT_EQ(DownloadToFile("http://[::ffff:127.0.0.1]:" + port + "/favicon.ico", dir / "site.ico", 1), 1);
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "site.ico"), icon);
}

// A transfer broken off half way is no icon, and leaves no file.
TEST(Download, ABrokenTransferLeavesNoFile) {
  std::string icon = IconBytes(40000);
  CLoopbackServer server(Answer("200 OK", "image/x-icon", icon).substr(0, 20000), true);
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
    CLoopbackServer server(Answer("200 OK", "image/x-icon", body));
    ASSERT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "max.ico", 1), 1);
  }
  EXPECT_EQ(67108864, os::FileSize(dir / "max.ico"));
  body += 'x';
  {
    CLoopbackServer server(Answer("200 OK", "image/x-icon", body));
    EXPECT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "over.ico", 1), 0);
  }
  EXPECT_FALSE(os::FileExists(dir / "over.ico"));
}
#endif

// An answer without a body is no icon: the download fails and an old icon stays.
TEST(Download, AnEmptyAnswerIsNoIcon) {
  CLoopbackServer server(Answer("200 OK", "image/x-icon", ""));
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
  CLoopbackServer server("HTTP/1.0 200 OK\nContent-Type: image/x-icon\nContent-Length: 300\n\n" + icon);
  qbtest::TempDir dir;
  ASSERT_EQ(DownloadToFile(server.Base() + "/favicon.ico", dir / "lf.ico", 1), 1);
  EXPECT_EQ(icon, qbtest::ReadFileBytes(dir / "lf.ico"));
}

TEST(Download, AnHtmlErrorPageLeavesNoFileAndKeepsAnOldOne) {
  CLoopbackServer server(Answer("404 Not Found", "text/html", "<html><body>not here</body></html>"));
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
  CLoopbackServer server(Answer("200 OK", "image/x-icon", IconBytes(100)));
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
    CLoopbackServer gone("");
    port = std::stoi(gone.Base().substr(17));
  }
  EXPECT_EQ(DownloadToFile("http://127.0.0.1:" + std::to_string(port) + "/x.ico", dir / "x.ico", 1), 0);
  EXPECT_FALSE(os::FileExists(dir / "x.ico"));
}

TEST(FetchSiteIcon, ReusesAnExistingFileOnlyWhenAsked) {
  CLoopbackServer server(Answer("200 OK", "image/x-icon", IconBytes(300)));
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
  CLoopbackServer pages(Answer("404 Not Found", "text/html", "<html>no icon</html>"));
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
  std::string v;
  ASSERT_TRUE(os::RegReadString(os::Hive::LocalMachine, kToolbarKey, "ButtonText", v));
  EXPECT_EQ(v, "添加点这里或者用收藏热键Ctrl+Alt+Z");
  ASSERT_TRUE(os::RegReadString(os::Hive::LocalMachine, kToolbarKey, "Icon", v));
  EXPECT_EQ(v, "D:\\Q\\Qimbo.exe,154");
  ASSERT_TRUE(os::RegReadString(os::Hive::LocalMachine, kToolbarKey, "HotIcon", v));
  EXPECT_EQ(v, "D:\\Q\\Qimbo.exe,153");
  ASSERT_TRUE(os::RegReadString(os::Hive::LocalMachine, kToolbarKey, "Exec", v));
  EXPECT_EQ(v, "D:\\Q\\Qimbo.exe");
  ASSERT_TRUE(os::RegReadString(os::Hive::LocalMachine, kToolbarKey, "CLSID", v));
  EXPECT_EQ(v, "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}");
  ASSERT_TRUE(os::RegReadString(os::Hive::LocalMachine, kToolbarKey, "Default Visible", v));
  EXPECT_EQ(v, "Yes");
}
#endif

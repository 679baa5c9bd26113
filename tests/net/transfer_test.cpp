// Login and favorites transfer against a scripted server on loopback.
#ifdef _WIN32
#include <windows.h>
#endif
#include <algorithm>

#include "base/cipher.h"
#include "net/login.h"
#include "os/os.h"
#include "net/transfer.h"
#include "nettest.h"
#include "net_access.h"

using namespace qb;
using namespace nettest;

namespace {

CMyNode* AddCategory(CMyNodeList& tree, const std::string& name, int slot) {
  CMyNode* c = new CMyNode;
  c->m_strName = name;
  c->m_nKind = UrlCategory;
  c->m_nSlot = slot;
  EXPECT_TRUE(tree.AddNode(c));
  return c;
}

CMyNode* AddItem(CMyNodeList& tree, CMyNode* parent, const std::string& name, const std::string& url, int slot) {
  CMyNode* n = new CMyNode;
  n->m_strName = name;
  n->m_nKind = UrlItem;
  n->m_strAddress = url;
  n->m_pParent = parent;
  n->m_nSlot = slot;
  EXPECT_TRUE(tree.AddNode(n));
  return n;
}

NodeWire Wire(const std::string& name, int kind, const std::string& url, const std::string& parent, int slot) {
  NodeWire w;
  w.name = name;
  w.kind = kind;
  w.address = url;
  w.parentName = parent;
  w.slot = slot;
  w.circle = "Reserved";
  return w;
}

}  // namespace

class LoginTest : public NetFixture {};

TEST_F(LoginTest, ReplyForAnotherUserIsARefusal) {
  net->Login().SetUser(100);
  server->Send(3, MsgLoginOk(101));
  ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_LOGIN_RESULT) == 1; }));
  EXPECT_EQ(102u, ui.posts.back().wParam);  // refused
  EXPECT_EQ(0, ui.posts.back().lParam);
  EXPECT_FALSE(net->Login().LoggedIn());
  EXPECT_TRUE(server->Quiet(200));  // no leave-word request

  FieldList none;
  net->Login().OnLoginReply(none);
  EXPECT_EQ(kLoginRefused, ui.posts.back().wParam);
  // A reply naming the user but not saying OK is a refusal too.
  FieldList failed = {"FAILED", "100"};
  net->Login().OnLoginReply(failed);
  EXPECT_EQ(kLoginRefused, ui.posts.back().wParam);
  EXPECT_FALSE(net->Login().LoggedIn());
}

TEST_F(LoginTest, VersionNotice) {
  auto ver = [&](const std::string& v) {
    FieldList f{v};
    net->Login().OnVersion(f);
    return PostCount(WM_NEW_VERSION);
  };
  EXPECT_EQ(0u, ver("1060"));
  EXPECT_EQ(1u, ver("1061"));
  EXPECT_EQ(2u, ver("-1"));  // compared without sign
  EXPECT_EQ(2u, ver("abc"));
  CheckPostedMessages();
}

TEST_F(LoginTest, LoginOnceLogoutTwiceKeepAliveOnlyWhenLoggedIn) {
  // The keep-alive timer runs from construction, before any login.
  ASSERT_FALSE(ui.timers.empty());
  EXPECT_EQ(kKeepAliveTimer, ui.timers[0].id);
  EXPECT_EQ(1200000u, ui.timers[0].ms);
  net->OnTimer(kKeepAliveTimer);
  EXPECT_TRUE(server->Quiet(200));
  EXPECT_FALSE(net->Login().SendLogout());

  net->Login().SetUser(100);
  net->Login().SetPassword("secret");
  ASSERT_TRUE(net->Login().SendLogin());
  EXPECT_EQ("<1><LGI><1060><100><" + EncodeText("secret") + ">\r\n", server->Receive().text);
  LogIn(100);
  EXPECT_FALSE(net->Login().SendLogin());  // once logged in, never again

  net->OnTimer(kKeepAliveTimer);
  EXPECT_EQ("<3><LIV><100><" + EncodeText("secret") + ">\r\n", server->Receive().text);

  ASSERT_TRUE(net->Login().SendLogout());
  std::string lgo = "<LGO><100><" + EncodeText("secret") + ">\r\n";
  EXPECT_EQ("<4>" + lgo, server->Receive().text);
  EXPECT_EQ("<5>" + lgo, server->Receive().text);
  ASSERT_EQ(1u, Sleeps().size());
  EXPECT_EQ(500u, Sleeps()[0]);

  // Both of the state's timers stop with it.
  size_t before = ui.timers.size();
  net.reset();
  std::vector<unsigned> stopped;
  for (size_t i = before; i < ui.timers.size(); ++i)
    if (!ui.timers[i].start) stopped.push_back(ui.timers[i].id);
  std::sort(stopped.begin(), stopped.end());
  EXPECT_EQ((std::vector<unsigned>{0x4E01, 0x4E02, 0x4E05}), stopped);
}

// The server forgets sessions (a restart, its time-out, a login elsewhere):
// the keep-alive's answer, or its absence, tells; the program logs in again
// by itself a bounded number of times, and otherwise shows itself logged out
// once.
TEST_F(LoginTest, SessionTheServerForgot) {
  const std::string liv = "<LIV><100><" + EncodeText("secret") + ">\r\n";
  const std::string lgi = "<LGI><1060><100><" + EncodeText("secret") + ">\r\n";
  auto lastSessionTimer = [&] {
    for (auto it = ui.timers.rbegin(); it != ui.timers.rend(); ++it)
      if (it->id == kSessionTimer) return it->start ? it->ms : 0u;
    return 0u;
  };
  auto keepAlive = [&] {
    net->OnTimer(kKeepAliveTimer);
    Received r = server->Receive();
    EXPECT_NE(std::string::npos, r.text.find(liv)) << r.text;
    EXPECT_EQ(10000u, lastSessionTimer());  // the answer is awaited this long
  };
  LogIn(100);

  // Answered: nothing more happens, also when the timer fires late.
  keepAlive();
  server->Send(7, "<LIV><OK>");
  ASSERT_TRUE(PumpUntil([&] { return lastSessionTimer() == 0; }));
  net->OnTimer(kSessionTimer);
  EXPECT_TRUE(server->Quiet(100));

  // Unanswered: a login goes out at once; its acceptance renews the session
  // without a word to the login window, and asks for the leave-words.
  keepAlive();
  net->OnTimer(kSessionTimer);
  EXPECT_NE(std::string::npos, server->Receive().text.find(lgi));
  EXPECT_TRUE(net->Login().Relogging());
  EXPECT_EQ(5000u, lastSessionTimer());
  server->Send(8, MsgLoginOk(100));
  ASSERT_TRUE(PumpUntil([&] { return !net->Login().Relogging(); }));
  EXPECT_NE(std::string::npos, server->Receive().text.find("<REQWORDS><100>"));
  EXPECT_TRUE(net->Login().LoggedIn());
  EXPECT_EQ(1u, PostCount(WM_LOGIN_RESULT));  // only the first login's
  EXPECT_EQ(0u, PostCount(WM_SESSION_LOST));

  // A server that never answers: six logins with doubling pauses, then
  // logged out, said once.
  keepAlive();
  std::vector<unsigned> pauses;
  for (int i = 0; i < 7; ++i) {
    net->OnTimer(kSessionTimer);
    if (!net->Login().LoggedIn()) break;
    EXPECT_NE(std::string::npos, server->Receive().text.find(lgi)) << i;
    pauses.push_back(lastSessionTimer());
  }
  EXPECT_EQ((std::vector<unsigned>{5000, 10000, 20000, 40000, 80000, 160000}), pauses);
  EXPECT_FALSE(net->Login().LoggedIn());
  ASSERT_EQ(1u, PostCount(WM_SESSION_LOST));
  EXPECT_EQ((uintptr_t)kLostNoServer, ui.posts.back().wParam);
  EXPECT_EQ(0u, lastSessionTimer());
  net->OnTimer(kKeepAliveTimer);  // logged out: no keep-alive, no timer
  net->OnTimer(kSessionTimer);
  EXPECT_TRUE(server->Quiet(100));
  EXPECT_EQ(1u, PostCount(WM_SESSION_LOST));

  // The login dialog works again; a refused keep-alive logs in again, and a
  // refused login (the password changed) stops at once.
  EXPECT_EQ(1, net->Login().SendLogin());
  server->Receive();
  LogIn(100);
  keepAlive();
  server->Send(9, "<LIV><FAILED>");
  ASSERT_TRUE(PumpUntil([&] { return net->Login().Relogging(); }));
  EXPECT_NE(std::string::npos, server->Receive().text.find(lgi));
  server->Send(10, MsgLoginRefused());
  ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_SESSION_LOST) == 2; }));
  EXPECT_EQ((uintptr_t)kLostRefused, ui.posts.back().wParam);
  EXPECT_EQ(2u, PostCount(WM_LOGIN_RESULT));  // no "refused" title for a window that is not there

  // Logged in on another machine: no login from here, which would throw
  // the other one out.
  LogIn(100);
  keepAlive();
  server->Send(11, "<LIV><ELSEWHERE>");
  ASSERT_TRUE(PumpUntil([&] { return PostCount(WM_SESSION_LOST) == 3; }));
  EXPECT_EQ((uintptr_t)kLostElsewhere, ui.posts.back().wParam);
  EXPECT_TRUE(server->Quiet(100));
  EXPECT_FALSE(net->Login().LoggedIn());
}

TEST_F(LoginTest, DialogRemembersNumberAndPassword) {
  qbtest::TempDir dir;
  os::SetRegistryFolder(os::NativePath(dir / "reg"));
  CRegAccess reg;
  reg.WriteDword("isSavePwd", 0);
  reg.WriteString("password", "");

  LoginDialogData d;
  LoginDialogInit(*net, d);
  d.user = 0;
  EXPECT_EQ(kLoginNeedNumber, LoginDialogOk(*net, d));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ("请填写用户号码", ui.boxes[0].text);

  // A 20-character password, remembered: 40 letters in the registry.
  std::string pw20 = "abcdefghij0123456789";
  d.user = 123456789;
  d.passwordBox = pw20;
  d.passwordEdited = true;
  d.rememberPassword = true;
  EXPECT_EQ(kLoginSent, LoginDialogOk(*net, d));
  EXPECT_EQ("正在登录中,请稍候。。。", d.title);
  EXPECT_EQ("<1><LGI><1060><123456789><" + EncodeText(pw20) + ">\r\n", server->Receive().text);
  std::string stored;
  ASSERT_TRUE(reg.ReadString("password", stored));
  EXPECT_EQ(40u, stored.size());
  EXPECT_FALSE(reg.ReadString("no such value", stored));
  EXPECT_EQ(40u, stored.size()) << "a value not there changes nothing";

  // Reopened: the box shows the placeholder, OK untouched sends the stored password.
  net->Login().SetPassword(std::string());
  LoginDialogInit(*net, d);
  EXPECT_EQ(123456789, d.user);
  EXPECT_TRUE(d.rememberPassword);
  EXPECT_EQ("1234567890", d.passwordBox);
  EXPECT_EQ(pw20, net->Login().Password());
  EXPECT_EQ(kLoginSent, LoginDialogOk(*net, d));
  EXPECT_NE(std::string::npos, server->Receive().text.find(EncodeText(pw20)));

  // Typing, even the same text, makes the box the password; unticking
  // "remember" empties the stored value but keeps the password for this run.
  d.passwordBox = "newpass";
  d.passwordEdited = true;
  d.rememberPassword = false;
  EXPECT_EQ(kLoginSent, LoginDialogOk(*net, d));
  EXPECT_NE(std::string::npos, server->Receive().text.find(EncodeText("newpass")));
  EXPECT_EQ("newpass", net->Login().Password());
  ASSERT_TRUE(reg.ReadString("password", stored));
  EXPECT_EQ("", stored);
  uint32_t save = 9;
  ASSERT_TRUE(reg.ReadDword("isSavePwd", save));
  EXPECT_EQ(0u, save);
  EXPECT_FALSE(d.passwordEdited);

  // Reopened with "remember" off (0, or anything but 1): nothing is filled in,
  // even when a password is still stored.
  for (uint32_t flag : {0u, 2u}) {
    reg.WriteDword("isSavePwd", flag);
    reg.WriteString("password", EncodeText("stale"));
    net->Login().SetPassword("newpass");
    LoginDialogInit(*net, d);
    EXPECT_FALSE(d.rememberPassword) << flag;
    EXPECT_EQ("", d.passwordBox) << flag;
    EXPECT_EQ("", net->Login().Password()) << flag;
    EXPECT_EQ(123456789, d.user) << flag;
  }
  // No flag at all, with a password stored: not remembered either.
  os::RegRemoveValue(os::Hive::CurrentUser, CRegAccess::kKey, "isSavePwd");
  net->Login().SetPassword("newpass");
  LoginDialogInit(*net, d);
  EXPECT_FALSE(d.rememberPassword);
  EXPECT_EQ("", d.passwordBox);
  EXPECT_EQ("", net->Login().Password());
  // A stored value longer than 40 letters is read as its first 40.
  reg.WriteDword("isSavePwd", 1);
  reg.WriteString("password", EncodeText(pw20 + "XY"));
  LoginDialogInit(*net, d);
  EXPECT_EQ(pw20, net->Login().Password());

  // Opened where nothing was ever saved: an empty dialog, nothing of the last one kept.
  os::SetRegistryFolder(os::NativePath(dir / "none"));
  d.passwordEdited = true;
  d.title = "t";
  LoginDialogInit(*net, d);
  EXPECT_EQ(0, d.user);
  EXPECT_EQ("", d.passwordBox);
  EXPECT_FALSE(d.rememberPassword);
  EXPECT_FALSE(d.passwordEdited);
  EXPECT_EQ("", d.title);
}

// What the dialog takes from its boxes before OK.
TEST(LoginDialogValues, UserNumberRange) {
  int32_t n = -1;
  EXPECT_TRUE(ParseUserNumber("999999999", n));
  EXPECT_EQ(999999999, n);
  EXPECT_FALSE(ParseUserNumber("1000000000", n));
  EXPECT_FALSE(ParseUserNumber("99999999999999999999", n)) << "no overflow into the range";
  EXPECT_TRUE(ParseUserNumber("0", n));
  EXPECT_EQ(0, n);
  n = 5;
  EXPECT_TRUE(ParseUserNumber("", n));
  EXPECT_EQ(0, n) << "blank asks for a number";
  n = 5;
  EXPECT_TRUE(ParseUserNumber(" \t ", n));
  EXPECT_EQ(0, n) << "blanks only, too";
  EXPECT_TRUE(ParseUserNumber(" 10001 ", n));
  EXPECT_EQ(10001, n);
  EXPECT_FALSE(ParseUserNumber("-1", n));
  EXPECT_FALSE(ParseUserNumber("12a", n));
  EXPECT_FALSE(ParseUserNumber("1 2", n));
}

TEST(LoginDialogValues, PasswordCutToTwentyBytesOnCharacterBounds) {
  EXPECT_EQ("abcdefghij0123456789", CutPassword("abcdefghij0123456789"));
  EXPECT_EQ("abcdefghij0123456789", CutPassword("abcdefghij0123456789X"));
  // Ten Chinese characters are 20 bytes; the eleventh goes whole.
  EXPECT_EQ("密码密码密码密码密码", CutPassword("密码密码密码密码密码密"));
  EXPECT_EQ(std::string(19, 'a'), CutPassword(std::string(19, 'a') + "&#x1F600;"));  // a reference stays whole
  // A character that would straddle byte 20 is left out, not split.
  EXPECT_EQ("a密码密码密码密码密", CutPassword("a密码密码密码密码密码"));
  EXPECT_EQ(19u, CutPassword("a密码密码密码密码密码").size());
  // Lead bytes run from 0x81 to 0xFE; 0x80 and 0xFF stand alone.
  const std::string nineteen(19, 'p');
  EXPECT_EQ(nineteen, CutPassword(nineteen + "\x81\x40"));
  EXPECT_EQ(nineteen, CutPassword(nineteen + "\xFE\xA1"));
  EXPECT_EQ(nineteen + "\x80", CutPassword(nineteen + "\x80\x41"));
  // A lead byte that ends the text stands alone, and fits as the twentieth byte.
  EXPECT_EQ(nineteen + "\x81", CutPassword(nineteen + "\x81"));
  EXPECT_EQ(nineteen + "\xFF", CutPassword(nineteen + "\xFF\x41"));

  LoginDialogData d;
  std::string error;
  EXPECT_FALSE(LoginDialogTakeValues("1000000000", "pw", d, error));
  EXPECT_EQ("用户号码应为0到999999999之间的整数！", error);
  EXPECT_TRUE(LoginDialogTakeValues("999999999", "abcdefghij0123456789XYZ", d, error));
  EXPECT_EQ(999999999, d.user);
  EXPECT_EQ("abcdefghij0123456789", d.passwordBox);
}

TEST_F(LoginTest, NumberOutsideTheRangeIsRefusedBeforeAnythingIsSent) {
  qbtest::TempDir dir;
  os::SetRegistryFolder(os::NativePath(dir / "reg"));
  LoginDialogData d;
  d.user = 1000000000;
  d.passwordBox = "pw";
  d.passwordEdited = true;
  EXPECT_EQ(kLoginNeedNumber, LoginDialogOk(*net, d));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ("用户号码应为0到999999999之间的整数！", ui.boxes[0].text);
  EXPECT_TRUE(server->Quiet(100));
  d.user = -5;
  EXPECT_EQ(kLoginNeedNumber, LoginDialogOk(*net, d));
  EXPECT_EQ(2u, ui.boxes.size());
  d.user = 999999999;
  EXPECT_EQ(kLoginSent, LoginDialogOk(*net, d));
  EXPECT_EQ("<1><LGI><1060><999999999><" + EncodeText("pw") + ">\r\n", server->Receive().text);
  // With no password held the box is the password, edited or not.
  net->Login().SetPassword("");
  d.passwordBox = "pw2";
  d.passwordEdited = false;
  EXPECT_EQ(kLoginSent, LoginDialogOk(*net, d));
  EXPECT_EQ("<2><LGI><1060><999999999><" + EncodeText("pw2") + ">\r\n", server->Receive().text);
}

// A key that is not there yet: the dialog opens empty; OK makes it.
TEST_F(LoginTest, MissingKeyOpensEmptyAndOkMakesIt) {
  qbtest::TempDir dir;
  os::SetRegistryFolder(os::NativePath(dir / "reg"));
  os::RegRemoveValue(os::Hive::CurrentUser, CRegAccess::kKey, "id");
  os::RegRemoveValue(os::Hive::CurrentUser, CRegAccess::kKey, "isSavePwd");
  os::RegRemoveValue(os::Hive::CurrentUser, CRegAccess::kKey, "password");
#ifdef _WIN32
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\tavlo");
#endif
  net->Login().SetPassword("held");
  LoginDialogData d;
  LoginDialogInit(*net, d);
  EXPECT_EQ(0, d.user);
  EXPECT_EQ("", d.passwordBox);
  EXPECT_FALSE(d.rememberPassword);
  d.user = 42;
  d.passwordBox = "pw";
  d.passwordEdited = true;
  d.rememberPassword = true;
  EXPECT_EQ(kLoginSent, LoginDialogOk(*net, d));
  CRegAccess reg;
  EXPECT_TRUE(reg.KeyWritable());
  std::string id;
  ASSERT_EQ(1, reg.ReadString("id", id));
  EXPECT_EQ("42", id);
}

#ifdef _WIN32
// The values are kept without a terminating zero, and read back whole either way.
TEST_F(LoginTest, RegistryStringsCarryNoTerminatingZero) {
  CRegAccess reg;
  ASSERT_TRUE(reg.WriteString("password", EncodeText("abc")));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\tavlo", 0, KEY_READ, &key));
  DWORD type = 0, size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"password", nullptr, &type, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(6u * sizeof(wchar_t), size) << "six letters, no zero";
  // A value written by another program with its zero reads the same.
  const wchar_t withZero[] = L"12345";
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\tavlo", 0, KEY_WRITE, &key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"id", 0, REG_SZ, reinterpret_cast<const BYTE*>(withZero), sizeof withZero));
  RegCloseKey(key);
  std::string s;
  ASSERT_TRUE(reg.ReadString("password", s));
  EXPECT_EQ(EncodeText("abc"), s);
  ASSERT_TRUE(reg.ReadString("id", s));
  EXPECT_EQ("12345", s);
}
#endif

TEST(NetConfigFile, DefaultsAndOverrides) {
  qbtest::TempDir dir;
  CNetConfig c = LoadNetConfig(dir.Path());
  EXPECT_FALSE(c.serverHost.empty());
  EXPECT_FALSE(c.fallbackHost.empty());
  EXPECT_EQ(0u, c.bindAddress);
  ASSERT_TRUE(os::CreateFolder(dir / "config"));
  // Keys this program does not know are passed over, numbers or not.
  qbtest::WriteFileBytes(dir / "config\\NetServer.ini",
                         "[Server]\r\nBind=127.0.0.9\r\nHost = a.example\r\nTimeout=30\r\nTestKeepAliveMs=1600\r\n");
  c = LoadNetConfig(dir.Path());
  EXPECT_EQ("a.example", c.serverHost);
  EXPECT_EQ(1600u, c.keepAliveMs);  // tests only; 100 ms at the least
  EXPECT_EQ(DefaultNetConfig().fallbackHost, c.fallbackHost);
  EXPECT_EQ(MakeAddress(127, 0, 0, 9), c.bindAddress);
  c.webHost = "w.example";
  ASSERT_TRUE(SaveNetConfig(dir.Path(), c));
  CNetConfig back = LoadNetConfig(dir.Path());
  EXPECT_EQ("w.example", back.webHost);
  EXPECT_EQ(c.bindAddress, back.bindAddress);
  EXPECT_EQ(5030, back.localBasePort);
  EXPECT_EQ(std::string::npos, qbtest::ReadFileBytes(dir / "config\\NetServer.ini").find("Ports"));
}

// Blank host names keep the defaults, a blank fallback means none, blanks
// around keys and values do not count, an unreadable address binds nowhere.
TEST(NetConfigFile, BlankValuesBlanksAroundAndABadAddress) {
  qbtest::TempDir dir;
  ASSERT_TRUE(os::CreateFolder(dir / "config"));
  qbtest::WriteFileBytes(dir / "config\\NetServer.ini",
                         "[Server]\r\nHost=\r\nWeb=  \r\nFallback=\r\n\tPorts = 47100 \r\nBind=127.0.0.9\r\n"
                         "Bind=127.0.0.256\r\nno value here\r\nWeb\r\n Host\t=  h.example\r\nTestKeepAliveMs=99");
  CNetConfig c = LoadNetConfig(dir.Path());
  EXPECT_EQ(1200000u, c.keepAliveMs);
  EXPECT_EQ("h.example", c.serverHost);
  EXPECT_EQ("www.qimbo.net", c.webHost);
  EXPECT_EQ("", c.fallbackHost);
  EXPECT_EQ(47100, c.localBasePort);
  EXPECT_EQ(0u, c.bindAddress);
  qbtest::WriteFileBytes(dir / "config\\NetServer.ini", "Host=\r\n");
  c = LoadNetConfig(dir.Path());
  EXPECT_EQ("server.qimbo.net", c.serverHost);
  qbtest::WriteFileBytes(dir / "config\\NetServer.ini", "Host=first.example\r\n");
  EXPECT_EQ("first.example", LoadNetConfig(dir.Path()).serverHost) << "a key on the file's first byte";
  EXPECT_EQ("server2.qimbo.net", c.fallbackHost);
}

TEST(NetConfigFile, TheLocalPortsMayBeMovedWhileAllFiveFit) {
  qbtest::TempDir dir;
  ASSERT_TRUE(os::CreateFolder(dir / "config"));
  const std::pair<const char*, int> cases[] = {{"47100", 47100}, {"1", 1},        {"65531", 65531}, {"65532", 5030},
                                               {"0", 5030},      {"-5", 5030},    {"50x", 5030},    {"", 5030}};
  for (const auto& t : cases) {
    qbtest::WriteFileBytes(dir / "config\\NetServer.ini", std::string("[Server]\r\nPorts=") + t.first + "\r\n");
    EXPECT_EQ(t.second, LoadNetConfig(dir.Path()).localBasePort) << t.first;
  }
  CNetConfig c = DefaultNetConfig();
  c.localBasePort = 47100;
  ASSERT_TRUE(SaveNetConfig(dir.Path(), c));
  EXPECT_EQ(47100, LoadNetConfig(dir.Path()).localBasePort);
}

TEST(NetConfigFile, PeerAndServerPortsMoveOnTheirOwn) {
  qbtest::TempDir dir;
  ASSERT_TRUE(os::CreateFolder(dir / "config"));
  qbtest::WriteFileBytes(dir / "config\\NetServer.ini", "[Server]\r\nPorts=28430\r\n");
  CNetConfig c = LoadNetConfig(dir.Path());
  EXPECT_EQ(28430, c.localBasePort);
  EXPECT_EQ(5030, c.peerBasePort) << "other users' programs keep the common ports";
  EXPECT_EQ(5080, c.serverBasePort);
  qbtest::WriteFileBytes(dir / "config\\NetServer.ini",
                         "[Server]\r\nPeerPorts=28430\r\nServerPorts=65531\r\n");
  c = LoadNetConfig(dir.Path());
  EXPECT_EQ(5030, c.localBasePort);
  EXPECT_EQ(28430, c.peerBasePort);
  EXPECT_EQ(65531, c.serverBasePort);
  qbtest::WriteFileBytes(dir / "config\\NetServer.ini", "[Server]\r\nPeerPorts=65532\r\nServerPorts=0\r\n");
  c = LoadNetConfig(dir.Path());
  EXPECT_EQ(5030, c.peerBasePort) << "all five must fit";
  EXPECT_EQ(5080, c.serverBasePort);
  c.peerBasePort = 28430;
  c.serverBasePort = 28480;
  ASSERT_TRUE(SaveNetConfig(dir.Path(), c));
  CNetConfig back = LoadNetConfig(dir.Path());
  EXPECT_EQ(28430, back.peerBasePort);
  EXPECT_EQ(28480, back.serverBasePort);
}

class TransferTest : public NetFixture {
 protected:
  void SetUp() override {
    NetFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    prog.reset(new CTransferProgress(*net));
  }
  // Feeds the posted statuses to the prompt logic, as the program's loop does.
  PromptView Deliver() {
    PromptView v;
    for (; delivered < ui.posts.size(); ++delivered) {
      auto& p = ui.posts[delivered];
      if (p.msg == WM_TRANSFER_STATUS) {
        EXPECT_TRUE(prog->OnTransferStatus(p.wParam, p.lParam, v));
      }
    }
    return v;
  }
  // How often the transfer deadline was started; each time for 6100 ms.
  size_t DeadlineArms() const {
    size_t n = 0;
    for (auto& t : ui.timers) {
      if (t.id != kTransferTimer || !t.start) continue;
      EXPECT_EQ(6100u, t.ms);
      ++n;
    }
    return n;
  }
  // Logged in, one favorite in 新闻, its upload asked for from the prompt
  // and the count sent to the server.
  void StartOneItemUpload() {
    LogIn(100);
    CMyNode* cat = AddCategory(tree, "新闻", 0);
    AddItem(tree, cat, "a", "http://a.example/", 0);
    PromptView v;
    ASSERT_TRUE(prog->OnCommand(true, v));
    EXPECT_NE(std::string::npos, server->Receive().text.find("<COUNT>"));
  }
  std::unique_ptr<CTransferProgress> prog;
  size_t delivered = 0;
};

TEST_F(TransferTest, UploadWholeTreeWithDeadlineFromLastProgress) {
  PromptView v;
  EXPECT_TRUE(prog->OnCommand(true, v));
  EXPECT_EQ("您未登录,请先登录!", v.text);
  EXPECT_TRUE(v.okEnabled);
  EXPECT_FALSE(prog->OnCommand(true, v));  // a prompt is open
  prog->OnPromptClosed();

  LogIn(100);
  CMyNode* cat = AddCategory(tree, "新闻", 0);
  EXPECT_TRUE(prog->OnCommand(true, v));
  EXPECT_EQ("收藏夹内容为空,请检查！", v.text);  // one web node is not enough
  prog->OnPromptClosed();

  std::string longUrl = "http://example.com/" + std::string(581, 'a');
  AddItem(tree, cat, "长地址", longUrl, 0);
  AddItem(tree, cat, "a<b>", "http://b.example/", 1);
  ASSERT_TRUE(prog->OnCommand(true, v));
  EXPECT_EQ("正在上传......", v.text);
  EXPECT_TRUE(v.cancelEnabled);
  EXPECT_FALSE(v.okEnabled);
  EXPECT_TRUE(v.setRange);
  EXPECT_EQ(3, v.rangeMax);
  EXPECT_EQ(1u, DeadlineArms());
  EXPECT_EQ("<2><FAV><UP><COUNT><3><100><secret>\r\n", server->Receive().text);

  server->Send(2, MsgFavUpAllowed());
  for (int i = 0; i < 3; ++i) {
    Received r;
    ASSERT_TRUE(PumpUntil([&] {
      r = server->Receive(10);
      return r.link >= 0;
    }));
    FieldList f;
    ASSERT_TRUE(SplitFields(r.text, f));
    EXPECT_EQ(std::to_string(3 + i), f[0]);
    ASSERT_EQ("NODE", f[3]);
    f.erase(f.begin(), f.begin() + 4);
    CMyNode back;
    std::vector<std::string> fv(f.begin(), f.end());
    ASSERT_TRUE(back.ReadFields(fv));
    EXPECT_EQ(tree.GetAt(i)->m_strName, back.m_strName);
    EXPECT_EQ(tree.GetAt(i)->m_strAddress, back.m_strAddress);
    PromptView step = Deliver();
    EXPECT_TRUE(step.moveBar);
    EXPECT_EQ(i, step.barPos);
    // Every node sent re-arms the deadline.
    EXPECT_EQ(2u + i, DeadlineArms());
    server->Send(3 + i, MsgFavUpNodeOk());
  }
  ASSERT_TRUE(PumpUntil([&] { return net->Transfer().Mode() == 0; }));
  v = Deliver();
  EXPECT_EQ("上传成功！", v.text);
  EXPECT_TRUE(v.okEnabled);
  EXPECT_EQ(kTransferTimer, ui.timers.back().id);
  EXPECT_FALSE(ui.timers.back().start) << "the deadline stops with the upload";
  EXPECT_TRUE(v.moveBar) << "the bar goes to its end";
  EXPECT_EQ(3, v.barPos);
  EXPECT_EQ((std::vector<int>{kUploadProgress, kUploadProgress, kUploadProgress, kUploadDone}),
            Statuses(kUploadChannel));
}

TEST_F(TransferTest, StaleAllowedIsIgnoredUntilTheDeadline) {
  StartOneItemUpload();
  if (HasFatalFailure()) return;
  server->Send(0, MsgFavUpAllowed());  // answers an older message
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 0; }));
  EXPECT_TRUE(server->Quiet(200));
  net->OnTimer(kTransferTimer);
  EXPECT_EQ(0, net->Transfer().Mode());
  PromptView v = Deliver();
  EXPECT_EQ("上传超时失败!", v.text);
  EXPECT_TRUE(v.okEnabled);
  EXPECT_FALSE(v.moveBar);
  // A download's stray reply while uploading does nothing either.
  FieldList f{"UP", "ALLOWED"};
  net->Transfer().OnFavReply(f);
  EXPECT_TRUE(server->Quiet(100));
  // Nor does a late ALLOWED for the current number once the upload ended.
  server->Send(net->Sender().m_nCounter, MsgFavUpAllowed());
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == net->Sender().m_nCounter; }));
  EXPECT_TRUE(server->Quiet(150));
}

// Only the server's OK for the node just sent moves the upload on.
TEST_F(TransferTest, AnUploadGoesOnOnlyForTheCurrentNodeOk) {
  StartOneItemUpload();
  if (HasFatalFailure()) return;
  server->Send(2, MsgFavUpAllowed());
  Received r;
  ASSERT_TRUE(PumpUntil([&] {
    r = server->Receive(10);
    return r.link >= 0;
  }));
  EXPECT_EQ(0u, r.text.find("<3><FAV><UP><NODE>"));
  server->Send(3, "<FAV><UP><NODE><FAILED>");
  server->Send(3, "<FAV><UP><NODES><OK>");
  server->Send(1, MsgFavUpNodeOk());  // answers an older message
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 1; }));
  EXPECT_TRUE(server->Quiet(150));
  EXPECT_EQ(1, net->Transfer().Mode());
  server->Send(3, MsgFavUpNodeOk());
  ASSERT_TRUE(PumpUntil([&] {
    r = server->Receive(10);
    return r.link >= 0;
  }));
  EXPECT_EQ(0u, r.text.find("<4><FAV><UP><NODE>"));
  // The tree shrank under the upload to the one node already sent: the node
  // asked for is gone, it fails.
  while (tree.GetCount() > 1) {
    CMyNode* last = tree.GetAt(tree.GetCount() - 1);
    tree.RemoveNode(last);
    delete last;
  }
  size_t before = Statuses(kUploadChannel).size();
  server->Send(4, MsgFavUpAllowed());
  ASSERT_TRUE(PumpUntil([&] { return Statuses(kUploadChannel).size() > before; }));
  EXPECT_EQ(kUploadFailed, Statuses(kUploadChannel).back());
  EXPECT_TRUE(server->Quiet(100));
}

// A send the queues refuse ends the transfer as failed, in either direction
// and in the middle of an upload; without the server's address nothing starts.
TEST_F(TransferTest, RefusedSendsAndNoServerEndAsFailures) {
  LogIn(100);
  CMyNode* cat = AddCategory(tree, "新闻", 0);
  AddItem(tree, cat, "a", "http://a.example/", 0);
  int refuseFrom = 0, tries = 0;
  net->Sender().m_sendHook = [&](const NetDatagram&) { return ++tries < refuseFrom || refuseFrom == 0 ? 1 : 0; };
  refuseFrom = 1;
  PromptView v;
  ASSERT_TRUE(prog->OnCommand(true, v));
  EXPECT_EQ("上传失败！", v.text);
  EXPECT_TRUE(v.okEnabled);
  EXPECT_FALSE(v.cancelEnabled);
  EXPECT_EQ(0u, DeadlineArms());
  EXPECT_EQ(0, net->Transfer().Mode());
  prog->OnPromptClosed();
  ASSERT_TRUE(prog->OnCommand(false, v));
  EXPECT_EQ("下载失败！", v.text);
  EXPECT_TRUE(v.okEnabled);
  EXPECT_EQ(0, net->Transfer().Mode());
  prog->OnPromptClosed();

  // The count goes out, the first node does not.
  tries = 0;
  refuseFrom = 2;
  ASSERT_TRUE(prog->OnCommand(true, v));
  EXPECT_EQ("正在上传......", v.text);
  EXPECT_EQ(1, net->Transfer().Mode());
  server->Send(net->Sender().m_nCounter, MsgFavUpAllowed());
  ASSERT_TRUE(PumpUntil([&] { return !Statuses(kUploadChannel).empty(); }));
  EXPECT_EQ((std::vector<int>{kUploadFailed}), Statuses(kUploadChannel));
  EXPECT_EQ(0, net->Transfer().Mode());
  EXPECT_EQ(1u, DeadlineArms()) << "the command's; a node that did not go out arms nothing";
  v = Deliver();
  EXPECT_EQ("上传失败！", v.text);
  EXPECT_FALSE(v.moveBar) << "a failure leaves the bar where it is";
  EXPECT_TRUE(v.okEnabled);
  prog->OnPromptClosed();
  net->Sender().m_sendHook = nullptr;

  net->Sender().m_serverAddress = 0;
  ASSERT_TRUE(prog->OnCommand(true, v));
  EXPECT_EQ("连网失败!", v.text);
  prog->OnPromptClosed();
  ASSERT_TRUE(prog->OnCommand(false, v));
  EXPECT_EQ("连网失败!", v.text);
  EXPECT_TRUE(server->Quiet(100));
}

TEST_F(TransferTest, CancelTellsTheServerOnlyWhileATransferRuns) {
  EXPECT_EQ(0, net->Transfer().CancelTransfer());
  LogIn(100);
  CMyNode* cat = AddCategory(tree, "新闻", 0);
  AddItem(tree, cat, "a", "http://a.example/", 0);
  ASSERT_EQ(kUploadStarted, net->Transfer().StartUpload());
  EXPECT_NE(std::string::npos, server->Receive().text.find("<COUNT>"));
  EXPECT_EQ(1, net->Transfer().CancelTransfer());
  EXPECT_EQ("<3><FAV><UP><CANCEL>\r\n", server->Receive().text);
  EXPECT_EQ(0, net->Transfer().Mode());
  EXPECT_EQ(0, net->Transfer().CancelTransfer());
  EXPECT_TRUE(server->Quiet(100));
}

// The bar moves one step per progress status up to its end, and no further.
TEST_F(TransferTest, TheBarStopsAtItsEnd) {
  CMyNode* cat = AddCategory(tree, "新闻", 0);
  AddItem(tree, cat, "a", "http://a.example/", 0);
  AddItem(tree, cat, "b", "http://b.example/", 1);
  PromptView v;
  ASSERT_TRUE(prog->OnCommand(true, v));  // not logged in, but the prompt is open
  // A status that is no progress leaves the bar alone, also at its start.
  ASSERT_TRUE(prog->OnTransferStatus(kUploadChannel, kUploadTimedOut, v));
  EXPECT_FALSE(v.moveBar);
  std::vector<int> moves;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(prog->OnTransferStatus(kUploadChannel, kUploadProgress, v));
    moves.push_back(v.moveBar ? v.barPos : -1);
  }
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, -1}), moves);
  prog->OnPromptClosed();
  ASSERT_TRUE(prog->OnCommand(false, v));
  ASSERT_TRUE(prog->OnTransferStatus(kDownloadTotalChannel, 2, v));
  EXPECT_TRUE(v.setRange);
  EXPECT_EQ(2, v.rangeMax);
  ASSERT_TRUE(prog->OnTransferStatus(kDownloadChannel, kDownloadTimedOut, v));
  EXPECT_FALSE(v.moveBar);
  moves.clear();
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(prog->OnTransferStatus(kDownloadChannel, kDownloadProgress, v));
    moves.push_back(v.moveBar ? v.barPos : -1);
  }
  EXPECT_EQ((std::vector<int>{0, 1, 2, -1}), moves);
  // Statuses that are no progress leave the bar alone.
  ASSERT_TRUE(prog->OnTransferStatus(kDownloadChannel, kDownloadTimedOut, v));
  EXPECT_FALSE(v.moveBar);
  EXPECT_EQ("下载超时!", v.text);
  // An empty tree: the bar's one step is its start and its end.
  prog->OnPromptClosed();
  ASSERT_TRUE(prog->OnCommand(false, v));
  ASSERT_TRUE(prog->OnTransferStatus(kDownloadTotalChannel, 0, v));
  moves.clear();
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(prog->OnTransferStatus(kDownloadChannel, kDownloadProgress, v));
    moves.push_back(v.moveBar ? v.barPos : -1);
  }
  EXPECT_EQ((std::vector<int>{0, -1}), moves);
}

class DownloadTest : public TransferTest {
 protected:
  void Begin(int total) {
    LogIn(100);
    PromptView v;
    ASSERT_TRUE(prog->OnCommand(false, v));
    EXPECT_EQ("正在下载......", v.text);
    EXPECT_EQ("<2><FAV><DOWN><REQ><100><secret>\r\n", server->Receive().text);
    server->Send(39, MsgFavDownCount(total));
    Received r;
    ASSERT_TRUE(PumpUntil([&] {
      r = server->Receive(10);
      return r.link >= 0;
    }));
    EXPECT_EQ("<39><FAV><DOWN><READY>\r\n", r.text);
    EXPECT_EQ(2u, DeadlineArms()) << "the command's, then the count's";
    v = Deliver();
    EXPECT_EQ(total, v.rangeMax);
  }
  // Sends one node and returns the status it produced.
  int Node(int32_t number, const NodeWire& w) {
    size_t before = Statuses(kDownloadChannel).size();
    server->Send(number, MsgFavDownNode(w));
    EXPECT_TRUE(PumpUntil([&] { return Statuses(kDownloadChannel).size() > before; }));
    return Statuses(kDownloadChannel).back();
  }
};

TEST_F(DownloadTest, ConsecutiveNodesWithARepeat) {
  Begin(3);
  std::string longUrl = "http://example.com/" + std::string(581, 'z');
  EXPECT_EQ(kDownloadProgress, Node(40, Wire("新闻", 0, "", "", 0)));
  EXPECT_EQ("<40><FAV><DOWN><NODE><OK>\r\n", server->Receive().text);
  PromptView step = Deliver();
  EXPECT_EQ("正在下载......", step.text);
  EXPECT_TRUE(step.cancelEnabled);
  EXPECT_FALSE(step.okEnabled);
  EXPECT_TRUE(step.moveBar);
  EXPECT_EQ(0, step.barPos);
  EXPECT_EQ(kDownloadProgress, Node(41, Wire("长", 1, longUrl, "新闻", 0)));
  EXPECT_EQ("<41><FAV><DOWN><NODE><OK>\r\n", server->Receive().text);
  // A repeat: the server sends a node again when its acknowledgement was
  // lost, until one comes; acknowledged again, stored once.
  EXPECT_EQ(kDownloadProgress, Node(41, Wire("长", 1, longUrl, "新闻", 0)));
  EXPECT_EQ("<41><FAV><DOWN><NODE><OK>\r\n", server->Receive().text);
  EXPECT_EQ(kDownloadDone, Node(42, Wire("b", 1, "http://b/", "新闻", 1)));
  EXPECT_EQ("<42><FAV><DOWN><NODE><OK>\r\n", server->Receive().text);
  ASSERT_TRUE(net->Transfer().DownloadList());
  ASSERT_EQ(3u, net->Transfer().DownloadList()->GetCount());
  EXPECT_EQ(longUrl, net->Transfer().DownloadList()->GetAt(1)->m_strAddress);
  EXPECT_EQ("新闻", net->Transfer().DownloadList()->GetAt(1)->m_strParentName);
  PromptView v = Deliver();
  EXPECT_EQ("下载成功！", v.text);
  EXPECT_TRUE(v.replaceFavorites);
  EXPECT_EQ(kTransferTimer, ui.timers.back().id);
  EXPECT_FALSE(ui.timers.back().start) << "the deadline stops with the download";
  EXPECT_TRUE(v.moveBar) << "the bar goes to its end";
  EXPECT_EQ(3, v.barPos);
  EXPECT_EQ(0, net->Transfer().Mode());
  std::unique_ptr<CMyNodeList> got = net->Transfer().TakeDownloadList();
  ASSERT_TRUE(got);
  EXPECT_EQ(3u, got->GetCount());
}

// A tree on the server can hold a node twice (sent under two numbers, so
// no repeat): the download keeps the first, as loading a file does, and the
// same name and address under another category is another node. The
// downloaded list looks nodes up in an index, not node by node.
TEST_F(DownloadTest, ANodeListedTwiceIsKeptOnce) {
  Begin(6);
  EXPECT_EQ(kDownloadProgress, Node(40, Wire("新闻", 0, "", "", 0)));
  EXPECT_EQ(kDownloadProgress, Node(41, Wire("a", 1, "http://a/", "新闻", 0)));
  EXPECT_EQ(kDownloadProgress, Node(42, Wire("体育", 0, "", "", 1)));
  EXPECT_EQ(kDownloadProgress, Node(43, Wire("a", 1, "http://a/", "体育", 0)));
  EXPECT_EQ(kDownloadProgress, Node(44, Wire("a", 1, "http://a/", "新闻", 1)));
  EXPECT_EQ(kDownloadDone, Node(45, Wire("新闻", 0, "", "", 2)));
  std::unique_ptr<CMyNodeList> got = net->Transfer().TakeDownloadList();
  ASSERT_TRUE(got);
  std::vector<std::string> kept;
  for (const CMyNode* n : *got) kept.push_back(n->m_strParentName + "/" + n->m_strName);
  EXPECT_EQ((std::vector<std::string>{"/新闻", "新闻/a", "/体育", "体育/a"}), kept);
  EXPECT_EQ(0, got->GetAt(1)->m_nSlot) << "the first of the two";
}

// The server sends the last node again when its acknowledgement was lost.
// The download has ended by then, and the user is asked whether to replace
// the favorites: the repeat neither fails it nor takes the list away.
TEST_F(DownloadTest, TheLastNodeSentAgainAfterTheEndChangesNothing) {
  Begin(2);
  EXPECT_EQ(kDownloadProgress, Node(40, Wire("新闻", 0, "", "", 0)));
  server->Receive();
  EXPECT_EQ(kDownloadDone, Node(41, Wire("b", 1, "http://b/", "新闻", 1)));
  server->Receive();
  PromptView v = Deliver();
  EXPECT_TRUE(v.replaceFavorites);
  EXPECT_EQ(0, net->Transfer().Mode());
  size_t before = Statuses(kDownloadChannel).size();
  server->Send(41, MsgFavDownNode(Wire("b", 1, "http://b/", "新闻", 1)));
  // A later answer shows the repeat was handled first.
  server->Send(42, "<FAV><DOWN><REQ><BLANK>");
  ASSERT_TRUE(PumpUntil([&] { return Statuses(kDownloadChannel).size() > before; }));
  std::vector<int> all = Statuses(kDownloadChannel);
  EXPECT_EQ((std::vector<int>{kNothingToTransfer}), std::vector<int>(all.begin() + before, all.end()));
  ASSERT_TRUE(net->Transfer().DownloadList());
  EXPECT_EQ(2u, net->Transfer().DownloadList()->GetCount());
  // Acknowledged again, so the server stops sending it.
  EXPECT_EQ("<41><FAV><DOWN><NODE><OK>\r\n", server->Receive().text);
  EXPECT_TRUE(server->Quiet(100));
}

// Revisions: a download's COUNT names the tree's after its total (a COUNT
// without it, from a server before revisions, still works); an upload made
// from a revision names it, and is refused with its own status and text when
// the server's tree moved on.
TEST_F(DownloadTest, TheRevisionsOfADownloadAndOfAnUploadFromIt) {
  EXPECT_EQ(kNoRevision, net->Transfer().DownloadRevision());
  LogIn(100);
  PromptView v;
  ASSERT_TRUE(prog->OnCommand(false, v));
  server->Receive();
  server->Send(39, MsgFavDownCount(1) + "<7><more to come>");
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 39; }));
  EXPECT_EQ("<39><FAV><DOWN><READY>\r\n", server->Receive().text);
  // The COUNT again (READY was lost): READY again, the download goes on.
  server->Send(39, MsgFavDownCount(1) + "<7>");
  Received again;
  ASSERT_TRUE(PumpUntil([&] { return (again = server->Receive(10)).link >= 0; }));
  EXPECT_EQ("<39><FAV><DOWN><READY>\r\n", again.text);
  EXPECT_EQ(kNoRevision, net->Transfer().DownloadRevision()) << "only a completed download counts";
  EXPECT_EQ(kDownloadDone, Node(40, Wire("新闻", 0, "", "", 0)));
  EXPECT_EQ("<40><FAV><DOWN><NODE><OK>\r\n", server->Receive().text);
  EXPECT_EQ(7, net->Transfer().DownloadRevision());
  EXPECT_EQ("下载成功！", Deliver().text);
  prog->OnPromptClosed();

  AddItem(tree, AddCategory(tree, "本地", 0), "a", "http://a/", 0);
  ASSERT_TRUE(prog->OnCommand(true, v, net->Transfer().DownloadRevision()));
  int32_t n = net->Sender().m_nCounter;
  EXPECT_EQ("<" + std::to_string(n) + "><FAV><UP><COUNT><2><100><secret><7>\r\n", server->Receive().text);
  server->Send(n - 1, "<FAV><UP><STALE><8>");  // answers an older message
  server->Send(n, "<FAV><UP><STALE><8>");
  ASSERT_TRUE(PumpUntil([&] { return !Statuses(kUploadChannel).empty(); }));
  EXPECT_EQ((std::vector<int>{kUploadStale}), Statuses(kUploadChannel));
  EXPECT_EQ(8, net->Transfer().StaleRevision());
  v = Deliver();
  EXPECT_EQ("服务器上的收藏夹已被另一台电脑更改，请重新同步！", v.text);
  EXPECT_TRUE(v.okEnabled);
  EXPECT_EQ(0, net->Transfer().Mode());
  prog->OnPromptClosed();

  // Unconditioned, as before revisions; the last node's answer names the new one.
  ASSERT_TRUE(prog->OnCommand(true, v));
  n = net->Sender().m_nCounter;
  EXPECT_EQ("<" + std::to_string(n) + "><FAV><UP><COUNT><2><100><secret>\r\n", server->Receive().text);
  server->Send(n, MsgFavUpAllowed());
  for (int i = 0; i < 2; ++i) {
    Received r;
    ASSERT_TRUE(PumpUntil([&] { return (r = server->Receive(10)).link >= 0; }));
    server->Send(n + 1 + i, MsgFavUpNodeOk() + (i == 1 ? "<9>" : ""));
  }
  ASSERT_TRUE(PumpUntil([&] { return net->Transfer().Mode() == 0; }));
  EXPECT_EQ(9, net->Transfer().UploadRevision());
  EXPECT_EQ("上传成功！", Deliver().text);
}

// A lost upload message, or its lost answer: the message goes again under
// the same number (a keep-alive sent meanwhile does not take it) after the
// wait, twice as long each time, and never after its answer came.
TEST_F(TransferTest, AnUnansweredUploadMessageGoesAgainUnderItsNumber) {
  LogIn(100);
  AddItem(tree, AddCategory(tree, "新闻", 0), "a", "http://a/", 0);
  ASSERT_EQ(kUploadStarted, net->Transfer().StartUpload());
  std::string count = server->Receive().text;
  int32_t n = net->Sender().m_nCounter;
  auto resendArms = [&] {
    std::vector<unsigned> ms;
    for (auto& t : ui.timers)
      if (t.id == kTransferResendTimer && t.start) ms.push_back(t.ms);
    return ms;
  };
  EXPECT_EQ((std::vector<unsigned>{1000}), resendArms()) << "no round trip measured yet";
  // A keep-alive takes the next number meanwhile: the COUNT still goes
  // under its own, and the answer to it still counts.
  net->OnTimer(kKeepAliveTimer);
  EXPECT_NE(std::string::npos, server->Receive().text.find("><LIV><100>"));
  net->OnTimer(kTransferResendTimer);
  EXPECT_EQ(count, server->Receive().text);
  EXPECT_EQ((std::vector<unsigned>{1000, 2000}), resendArms());
  // Answered after 30 ms: a message sent twice measures nothing (either copy may be answered).
  FakeNow() += 30;
  server->Send(n, MsgFavUpAllowed());
  Received node;
  ASSERT_TRUE(PumpUntil([&] { return (node = server->Receive(10)).link >= 0; }));
  EXPECT_EQ(2000u, resendArms().back());
  // The node's answer after 30 ms: 30 + 4 * 15.
  FakeNow() += 30;
  server->Send(net->Sender().m_nCounter, MsgFavUpNodeOk());
  ASSERT_TRUE(PumpUntil([&] { return (node = server->Receive(10)).link >= 0; }));
  EXPECT_EQ(90u, resendArms().back());
  for (int i = 0; i < kResendTries + 2; ++i) net->OnTimer(kTransferResendTimer);
  std::vector<std::string> again;
  for (Received r; (r = server->Receive(100)).link >= 0;) again.push_back(r.text);
  EXPECT_EQ(std::vector<std::string>(kResendTries - 1, node.text), again) << "bounded";
  EXPECT_EQ(kResendCeilingMs, resendArms().back());
  // Answered: nothing more goes, and the resend wait stops with the upload.
  server->Send(net->Sender().m_nCounter, MsgFavUpNodeOk());
  ASSERT_TRUE(PumpUntil([&] { return net->Transfer().Mode() == 0; }));
  EXPECT_EQ(kTransferResendTimer, ui.timers.back().id);
  EXPECT_FALSE(ui.timers.back().start);
  net->OnTimer(kTransferResendTimer);
  EXPECT_TRUE(server->Quiet(100));
}

TEST_F(DownloadTest, AnAcknowledgementThatCannotGoOutFailsTheDownload) {
  Begin(3);
  net->Sender().m_sendHook = [](const NetDatagram&) { return 0; };
  EXPECT_EQ(kDownloadFailed, Node(40, Wire("新闻", 0, "", "", 0)));
  net->Sender().m_sendHook = nullptr;
  EXPECT_EQ(0, net->Transfer().Mode());
  EXPECT_FALSE(net->Transfer().DownloadList());
}

TEST_F(DownloadTest, AGapFailsTheDownload) {
  Begin(3);
  EXPECT_EQ(kDownloadProgress, Node(40, Wire("新闻", 0, "", "", 0)));
  EXPECT_EQ(kDownloadFailed, Node(42, Wire("b", 1, "http://b/", "新闻", 1)));
  EXPECT_FALSE(net->Transfer().DownloadList());
  EXPECT_EQ("下载失败！", Deliver().text);
}

TEST_F(DownloadTest, EmptySeventhFieldFailsTheDownload) {
  Begin(2);
  server->Send(40, "<FAV><DOWN><NODE><" + EncodeText("x") + "><1><><><><><><3><Reserved>");
  ASSERT_TRUE(PumpUntil([&] { return !Statuses(kDownloadChannel).empty(); }));
  EXPECT_EQ(kDownloadFailed, Statuses(kDownloadChannel).back());
}

TEST_F(DownloadTest, CancelFreesThePartialListAndLeavesTheTree) {
  AddCategory(tree, "本地", 0);
  Begin(3);
  EXPECT_EQ(kDownloadProgress, Node(40, Wire("新闻", 0, "", "", 0)));
  server->Receive();
  ASSERT_TRUE(net->Transfer().CancelTransfer());
  EXPECT_EQ("<3><FAV><DOWN><CANCEL>\r\n", server->Receive().text);
  EXPECT_FALSE(net->Transfer().DownloadList());
  EXPECT_EQ(0, net->Transfer().Mode());
  EXPECT_EQ(1u, tree.GetCount());
  EXPECT_FALSE(ui.timers.back().start);  // the deadline stopped

  // A COUNT arriving after the cancel must not restart a download.
  server->Send(50, MsgFavDownCount(3));
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 50; }));
  EXPECT_EQ(0, net->Transfer().Mode());
  EXPECT_TRUE(server->Quiet(150));
}

// A COUNT without its number is no count: nothing is answered, and the
// download still waits for the real one.
TEST_F(DownloadTest, ACountOrANodeWithoutItsFieldsIsIgnored) {
  LogIn(100);
  PromptView v;
  ASSERT_TRUE(prog->OnCommand(false, v));
  EXPECT_NE(std::string::npos, server->Receive().text.find("<REQ>"));
  server->Send(38, "<FAV><SIDEWAYS><COUNT><2>");  // nor is a count of no direction
  server->Send(39, "<FAV><DOWN><COUNT><>");
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 39; }));
  EXPECT_TRUE(server->Quiet(150));
  EXPECT_FALSE(Deliver().setRange);
  tree.m_strBaseDir = "/data/qimbo/";
  server->Send(40, MsgFavDownCount(2));
  Received r;
  ASSERT_TRUE(PumpUntil([&] {
    r = server->Receive(10);
    return r.link >= 0;
  }));
  EXPECT_EQ("<40><FAV><DOWN><READY>\r\n", r.text);
  ASSERT_TRUE(net->Transfer().DownloadList());
  EXPECT_EQ("/data/qimbo/", net->Transfer().DownloadList()->m_strBaseDir) << "the icons' folder";
  // So is a NODE without its fields, and a message of no known kind with a
  // node's fields; the node itself then comes in order.
  server->Send(41, "<FAV><DOWN><NODE>");
  server->Send(41, "<FAV><DOWN><NEWS>" + MsgFavDownNode(Wire("新闻", 0, "", "", 0)).substr(std::string("<FAV><DOWN><NODE>").size()));
  ASSERT_TRUE(PumpUntil([&] { return net->LastReceived() == 41; }));
  EXPECT_TRUE(server->Quiet(150));
  EXPECT_TRUE(Statuses(kDownloadChannel).empty());
  EXPECT_EQ(kDownloadProgress, Node(41, Wire("新闻", 0, "", "", 0)));
}

// A node before the count has no list to go to: the download fails, also
// when the list of the download before was never taken. A second download
// meanwhile is busy.
TEST_F(DownloadTest, ANodeBeforeTheCountFailsTheDownload) {
  Begin(1);
  EXPECT_EQ(kDownloadDone, Node(40, Wire("旧", 0, "", "", 0)));
  EXPECT_EQ("<40><FAV><DOWN><NODE><OK>\r\n", server->Receive().text);
  EXPECT_EQ("下载成功！", Deliver().text);
  prog->OnPromptClosed();
  ASSERT_EQ(kDownloadStarted, net->Transfer().StartDownload());
  EXPECT_FALSE(net->Transfer().DownloadList());
  EXPECT_EQ(kTransferBusy, net->Transfer().StartDownload());
  EXPECT_NE(std::string::npos, server->Receive().text.find("<REQ>"));
  size_t before = Statuses(kDownloadChannel).size();
  server->Send(41, MsgFavDownNode(Wire("新闻", 0, "", "", 0)));
  ASSERT_TRUE(PumpUntil([&] { return Statuses(kDownloadChannel).size() > before; }));
  EXPECT_EQ(kDownloadFailed, Statuses(kDownloadChannel).back());
  EXPECT_EQ(0, net->Transfer().Mode());
  EXPECT_TRUE(server->Quiet(100)) << "nothing acknowledged";
}

TEST_F(DownloadTest, TheDeadlineFreesThePartialList) {
  Begin(3);
  EXPECT_EQ(kDownloadProgress, Node(40, Wire("新闻", 0, "", "", 0)));
  ASSERT_TRUE(net->Transfer().DownloadList());
  net->OnTimer(kTransferTimer);
  EXPECT_FALSE(net->Transfer().DownloadList());
  EXPECT_EQ(0, net->Transfer().Mode());
  EXPECT_EQ(kTransferTimer, ui.timers.back().id);
  EXPECT_FALSE(ui.timers.back().start);  // a one-shot: its procedure stops it
  EXPECT_EQ("下载超时!", Deliver().text);
  EXPECT_TRUE(Statuses(kUploadChannel).empty()) << "no upload timed out";
  // A deadline with no transfer running tells nothing.
  size_t posts = ui.posts.size();
  net->OnTimer(kTransferTimer);
  EXPECT_EQ(posts, ui.posts.size());
}

TEST_F(DownloadTest, RefusedBlankAndTimeout) {
  Begin(1);
  server->Send(60, MsgFavDownBlank());
  ASSERT_TRUE(PumpUntil([&] { return net->Transfer().Mode() == 0 || !Statuses(kDownloadChannel).empty(); }));
  EXPECT_EQ("网络收藏为空！", Deliver().text);
  EXPECT_EQ(0, net->Transfer().Mode());

  PromptView v;
  prog->OnPromptClosed();
  ASSERT_TRUE(prog->OnCommand(false, v));
  server->Receive();
  server->Send(61, MsgFavDownInvalid());
  ASSERT_TRUE(PumpUntil([&] { return Statuses(kDownloadChannel).size() == 2; }));
  EXPECT_EQ("下载非法！", Deliver().text);
  EXPECT_EQ(0, net->Transfer().Mode()) << "a refusal ends the download";
  EXPECT_FALSE(ui.timers.back().start);

  prog->OnPromptClosed();
  ASSERT_TRUE(prog->OnCommand(false, v));
  EXPECT_EQ("正在下载......", v.text);
  net->OnTimer(kTransferTimer);
  EXPECT_EQ("下载超时!", Deliver().text);

  // With the prompt closed a status is dropped.
  prog->OnPromptClosed();
  EXPECT_FALSE(prog->OnTransferStatus(kDownloadChannel, kDownloadDone, v));
}

TEST_F(DownloadTest, UploadWhileDownloadingIsBusyInANewPrompt) {
  Begin(2);
  PromptView v;
  EXPECT_FALSE(prog->OnCommand(true, v));  // the download's prompt is open
  EXPECT_EQ(2, prog->m_nAnnouncedTotal);
  prog->OnPromptClosed();
  ASSERT_TRUE(prog->OnCommand(true, v));
  EXPECT_EQ("已经有上传或下载正在进行!", v.text);
  EXPECT_TRUE(v.okEnabled);
  EXPECT_EQ(0, prog->m_nAnnouncedTotal) << "an upload's prompt has no announced total";
  EXPECT_EQ(2, net->Transfer().Mode());  // the download goes on
}

TEST_F(LoginTest, TruncatedServerMessagesEndTheirHandlersQuietly) {
  // Every server message of the catalogue, cut after each of its fields.
  NodeWire w;
  w.name = "n";
  w.kind = 1;
  w.visits = 1;
  w.slot = 1;
  const std::string messages[] = {
      MsgLoginOk(100), MsgVersion(1070), MsgFavUpAllowed(), MsgFavUpNodeOk(), MsgFavDownInvalid(),
      MsgFavDownBlank(), MsgFavDownCount(3), MsgFavDownNode(w), MsgGroupUpNodeResult(true),
      MsgGroupList("c", {{"1.2.3.4", "x", 7, "c"}, {"bad", "y", 8, "c"}}), MsgLWords(7, "a", "b"),
      MsgChatList({{"1.2.3.4", "x"}}), MsgChatAddUser("1.2.3.5", "y"), MsgChatDeleUser("1.2.3.4"),
      MsgChatText(7, "t", DefaultInputFormat()), MsgChatAd("http://ad/"), MsgUserEnter(1, "n", 9, "c"),
      MsgUserOut(9, "c", 1, "n")};
  net->Login().SetUser(100);
  qb::NetStateTestAccess::TransferMode(*net) = 2;
  for (const std::string& m : messages) {
    FieldList all;
    ASSERT_TRUE(SplitFields("<5>" + m, all));
    for (size_t n = 1; n <= all.size(); ++n) {
      std::string text;
      for (size_t i = 0; i < n; ++i) text += "<" + all[i] + ">";
      NetDatagram fromServer{text, kServerAddr, 0}, fromPeer{text, kPeerAddr, 0};
      net->OnDatagram(fromServer);
      net->OnDatagram(fromPeer);
    }
  }
  // The complete messages did their work; the cut ones did nothing harmful.
  EXPECT_TRUE(net->Login().LoggedIn());
  EXPECT_EQ("http://ad/", net->Chat().AdAddress());
  EXPECT_EQ(5, net->LastReceived());
  size_t leaveWords = 0;
  for (const auto& r : net->Chat().Records()) leaveWords += r->kind == 1;
  EXPECT_EQ(1u, leaveWords) << "only the whole leave-word is queued";
  // A datagram without a single field is not even numbered.
  net->OnDatagram(NetDatagram{"no fields", kPeerAddr, 0});
  EXPECT_EQ(5, net->LastReceived());
}

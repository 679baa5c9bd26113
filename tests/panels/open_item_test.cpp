#include <gtest/gtest.h>

#include <vector>

#include "os/os.h"
#include "os/shell.h"
#include "panels/open_item.h"
#include "store/node.h"
#include "testutil.h"

using namespace panels;

namespace {

// Builds a shell link file the way the published format lays it out: the
// 76-byte header, an optional ID list, then the link info with a volume ID,
// the local base path and the common path suffix.
struct LinkSpec {
  std::string target = "C:\\Program Files\\Tool\\tool.exe";
  bool idList = true;
  bool network = false;
  int lengthLie = 0;  // added to the suffix offset
  uint16_t idListSize = 20;
  uint32_t padding = 0;  // bytes between the volume and the path
};

void Put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += (char)((v >> (8 * i)) & 0xFF);
}
void Set32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (char)((v >> (8 * i)) & 0xFF);
}
void Put16(std::string& b, uint32_t v) {
  b += (char)(v & 0xFF);
  b += (char)((v >> 8) & 0xFF);
}

std::string MakeLink(const LinkSpec& s) {
  std::string b;
  Put32(b, 0x4C);
  b += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
  Put32(b, (s.idList ? 1u : 0u) | 2u);  // link flags: ID list, link info
  b.resize(76, '\0');
  if (s.idList) {
    Put16(b, s.idListSize);
    b += std::string(s.idListSize, '\x11');
  }
  const uint32_t head = 0x1C, volume = 0x10;
  uint32_t local = head + volume + s.padding;
  uint32_t afterPath = local + (uint32_t)s.target.size() + 1;
  uint32_t suffix = afterPath + (s.network ? 8 : 0);
  std::string info;
  Put32(info, 0);  // size, patched below
  Put32(info, head);
  Put32(info, s.network ? 3u : 1u);
  Put32(info, head);
  Put32(info, local);
  Put32(info, s.network ? afterPath : 0u);
  Put32(info, (uint32_t)((int)suffix + s.lengthLie));
  info += std::string(volume, '\x22');
  info += std::string(s.padding, '\x44');
  info += s.target;
  info += '\0';
  if (s.network) info += std::string(8, '\x33');
  info += '\0';
  uint32_t size = (uint32_t)info.size();
  for (int i = 0; i < 4; ++i) info[i] = (char)((size >> (8 * i)) & 0xFF);
  return b + info;
}

std::vector<os::ShellRequest> g_shell;
struct ShellRecorder {
  ShellRecorder() {
    g_shell.clear();
    os::SetShellHook([](const os::ShellRequest& r) {
      g_shell.push_back(r);
      return 1;
    });
  }
  ~ShellRecorder() { os::SetShellHook(nullptr); }
};

std::vector<uint32_t> g_sleeps;
uint32_t g_now = 1000;
struct FakeClock {
  FakeClock() {
    g_sleeps.clear();
    g_now = 1000;
    os::SetClock([] { return g_now; },
                 [](uint32_t ms) {
                   g_sleeps.push_back(ms);
                   g_now += ms;
                 });
  }
  ~FakeClock() { os::SetClock(nullptr, nullptr); }
};

// The scripts played, by path; the program's own player is back afterwards.
std::vector<std::string> g_played;
struct ScriptRecorder {
  ScriptRecorder() {
    g_played.clear();
    SetScriptPlayer([](const std::string& p) {
      g_played.push_back(p);
      return 1;
    });
  }
  ~ScriptRecorder() { SetScriptPlayer(nullptr); }
};

// Everything an opened item goes through, recorded.
struct OpenSeams {
  ShellRecorder shell;
  FakeClock clock;
  ScriptRecorder scripts;
};

}  // namespace

TEST(ShortcutTarget, WellFormedLinksGiveTheUpperCasedProgram) {
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(LinkSpec())), "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  LinkSpec noList;
  noList.idList = false;
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(noList)), "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  // With a network part the path ends where that part begins.
  LinkSpec net;
  net.network = true;
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(net)), "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  // An ID list of more than 255 bytes, as the shell writes for most
  // programs, counts its second size byte.
  LinkSpec bigList;
  bigList.idListSize = 0x1F3;
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(bigList)), "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  // Offsets count their third byte: a path 64 KiB into the link info.
  LinkSpec far;
  far.padding = 0x10000;
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(far)), "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  // Chinese folder names keep their second bytes.
  LinkSpec cn;
  cn.target = "D:\\工具\\a.exe";
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(cn)), "D:\\工具\\A.EXE");
  // A drive letter written small is upper-cased like the rest.
  cn.target = "d:\\tools\\x.exe";
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(cn)), "D:\\TOOLS\\X.EXE");
  // Lead bytes 0x81 to 0xFE keep a letter after them as it is; 0x80 and 0xFF lead nothing.
  cn.target = "C:\\\x81x\xFEy\x80z\xFFw.exe";
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(cn)), "C:\\\x81x\xFEy\x80Z\xFFW.EXE");
  // A path of 1024 bytes with its end mark is taken.
  LinkSpec longest;
  longest.target = "C:\\" + std::string(1023 - 7, 'p') + ".exe";
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(longest)), "C:\\" + std::string(1023 - 7, 'P') + ".EXE");
  // The network part after the path does not count toward those 1024 bytes.
  longest.network = true;
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(longest)), "C:\\" + std::string(1023 - 7, 'P') + ".EXE");
  longest.network = false;
  longest.target.insert(3, "p");
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(longest)), "") << "one byte more is refused";
}

TEST(ShortcutTarget, NonProgramTargetsAndDamagedFilesGiveNothing) {
  LinkSpec doc;
  doc.target = "C:\\docs\\letter.doc";
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(doc)), "");
  std::string good = MakeLink(LinkSpec());
  EXPECT_EQ(ShortcutTargetOfBytes(good.substr(0, 75)), "");
  EXPECT_EQ(ShortcutTargetOfBytes(good.substr(0, 76 + 2 + 20 + 27)), "");  // link info cut short
  // The link info head is 28 bytes; with its last byte missing nothing in it
  // is read, even where the 27 bytes there would name a program.
  std::string shortHead;
  Put32(shortHead, 28);
  Put32(shortHead, 0x1C);
  Put32(shortHead, 1);
  Put32(shortHead, 0x1C);
  Put32(shortHead, 20);                          // the path starts at byte 20 ...
  shortHead += ".EXE";                           // ... here,
  shortHead += std::string("\x1B\x00\x00", 3);  // and ends at byte 27 (one byte of it missing)
  EXPECT_EQ(ShortcutTargetOfBytes(good.substr(0, 76 + 2 + 20) + shortHead), "");
  EXPECT_EQ(ShortcutTargetOfBytes(good.substr(0, 76 + 2 + 20) + shortHead + '\0'), ".EXE\x1B") << "whole, it is read";
  EXPECT_EQ(ShortcutTargetOfBytes(good.substr(0, good.size() - 10)), "");  // path cut short
  // The path may end with the file's last byte; one byte short it is cut.
  EXPECT_EQ(ShortcutTargetOfBytes(good.substr(0, good.size() - 1)), "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  EXPECT_EQ(ShortcutTargetOfBytes(good.substr(0, good.size() - 2)), "");
  // An ID list that claims to run past the end of the file.
  std::string lying = good;
  lying[76] = (char)0xFF;
  lying[77] = (char)0xFF;
  EXPECT_EQ(ShortcutTargetOfBytes(lying), "");
  // Path lengths that are negative, zero or larger than 1024 bytes.
  LinkSpec back;
  back.lengthLie = -200;
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(back)), "");
  LinkSpec huge;
  huge.lengthLie = 5000;
  EXPECT_EQ(ShortcutTargetOfBytes(MakeLink(huge)), "");
  // A base path offset far beyond the file.
  std::string far = good;
  size_t info = 76 + 2 + 20;
  Set32(far, info + 16, 0x70000000);
  Set32(far, info + 24, 0x70000010);
  EXPECT_EQ(ShortcutTargetOfBytes(far), "");
}

TEST(ShortcutTarget, ReadsFromDisk) {
  qbtest::TempDir dir;
  qbtest::WriteFileBytes(dir / "tool.lnk", MakeLink(LinkSpec()));
  EXPECT_EQ(ShortcutTarget(dir / "tool.lnk"), "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  EXPECT_EQ(ShortcutTarget(dir / "missing.lnk"), "");
  // Link files are small: up to 1 MiB is read, anything larger is not one.
  std::string padded = MakeLink(LinkSpec());
  padded.resize(1 << 20, '\0');
  qbtest::WriteFileBytes(dir / "big.lnk", padded);
  EXPECT_EQ(ShortcutTarget(dir / "big.lnk"), "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  qbtest::WriteFileBytes(dir / "bigger.lnk", padded + '\0');
  EXPECT_EQ(ShortcutTarget(dir / "bigger.lnk"), "");
}

TEST(OpenItem, DecisionsForEveryKindOfItem) {
  qbtest::TempDir dir;
  qbtest::CRecordingUi ui;
  qbtest::WriteFileBytes(dir / "tool.lnk", MakeLink(LinkSpec()));
  LinkSpec doc;
  doc.target = "C:\\docs\\letter.doc";
  qbtest::WriteFileBytes(dir / "letter.lnk", MakeLink(doc));
  qbtest::WriteFileBytes(dir / "readme.txt", "hello");

  CMyNode url;
  url.m_nKind = UrlItem;
  url.m_strAddress = "http://a.example/x";
  EXPECT_EQ(DecideOpenItem(url, ui), (OpenAction{OpenAction::Open, "http://a.example/x", os::kShowMaximized}));

  CMyNode prog("readme.txt", ProgramItem, nullptr, 0, dir.Path());
  EXPECT_EQ(DecideOpenItem(prog, ui), (OpenAction{OpenAction::Open, dir / "readme.txt", os::kShowMaximized}));
  prog.m_strName = "tool.lnk";
  EXPECT_EQ(DecideOpenItem(prog, ui),
            (OpenAction{OpenAction::Run, "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE", os::kShowMaximized}));
  qbtest::WriteFileBytes(dir / ".lnk", MakeLink(LinkSpec()));
  prog.m_strName = ".lnk";  // nothing but the ending is still a link
  EXPECT_EQ(DecideOpenItem(prog, ui),
            (OpenAction{OpenAction::Run, "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE", os::kShowMaximized}));
  prog.m_strName = "TOOL.LNK";  // the ending is compared without case
  qbtest::WriteFileBytes(dir / "TOOL.LNK", MakeLink(LinkSpec()));  // the same file on Windows
  EXPECT_EQ(DecideOpenItem(prog, ui),
            (OpenAction{OpenAction::Run, "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE", os::kShowMaximized}));
  prog.m_strName = "letter.lnk";  // a link to a document is opened itself
  EXPECT_EQ(DecideOpenItem(prog, ui), (OpenAction{OpenAction::Open, dir / "letter.lnk", os::kShowMaximized}));
  prog.m_strName = "Microsoft Paint.lnk";  // looks like the table but is not in it
  EXPECT_EQ(DecideOpenItem(prog, ui).kind, OpenAction::None);
  prog.m_strName = "MicroSoft Word.lnk";  // the spelling starts the table look-up, the exact name fails it
  EXPECT_EQ(DecideOpenItem(prog, ui).kind, OpenAction::None);
  prog.m_strName = "Microsoft Word.txt";  // no link: the table is not looked at, the file opens
  EXPECT_EQ(DecideOpenItem(prog, ui), (OpenAction{OpenAction::Open, dir / "Microsoft Word.txt", os::kShowMaximized}));

  CMyNode cat;
  cat.m_nKind = UrlCategory;
  EXPECT_EQ(DecideOpenItem(cat, ui).kind, OpenAction::None);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST(OpenItem, MicrosoftTable) {
  EXPECT_STREQ(MicrosoftProgramPath("Microsoft Visio.lnk"), "\\Program Files\\Microsoft Office\\Visio10\\VISIO.exe");
  EXPECT_STREQ(MicrosoftProgramPath("Microsoft Word.lnk"), "\\Program Files\\Microsoft Office\\Office\\WINWORD.exe");
  EXPECT_EQ(MicrosoftProgramPath("microsoft word.lnk"), nullptr);
  int found = 0;
  for (const char* n : {"Access", "Excel", "FrontPage", "Outlook", "PowerPoint", "Visio", "Word"})
    found += MicrosoftProgramPath(std::string("Microsoft ") + n + ".lnk") != nullptr;
  EXPECT_EQ(found, 7);
}

#ifndef _WIN32
// The registry of the Linux seam lives in a folder of the test's own.
// A registry of the test's own, in a folder under the test's: once the test
// has removed it, a later look-up finds no keys and cannot make it again.
struct PrivateRegistry {
  qbtest::TempDir dir;
  PrivateRegistry() { os::SetRegistryFolder(os::NativePath(dir / "reg")); }
};

TEST(OpenItem, WordRunsFromTheSystemDrive) {
  PrivateRegistry reg;
  qbtest::CRecordingUi ui;
  const char* key = "Software\\Microsoft\\Windows NT\\CurrentVersion";
  EXPECT_EQ(SystemDrive(ui), "");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "错误：无法打开有关的热键");
  ASSERT_TRUE(os::RegWriteString(os::Hive::LocalMachine, key, "Other", "x"));
  EXPECT_EQ(SystemDrive(ui), "") << "the key without the value";
  EXPECT_EQ(ui.boxes.back().text, "错误：无法查询有关的注册表信息");
  ASSERT_TRUE(os::RegWriteString(os::Hive::LocalMachine, key, "PathName", "E\\WINDOWS"));
  EXPECT_EQ(SystemDrive(ui), "");
  EXPECT_EQ(ui.boxes.back().text, "注册表信息有错误(盘符后无:号)");
  ASSERT_TRUE(os::RegWriteString(os::Hive::LocalMachine, key, "PathName", "E"));
  EXPECT_EQ(SystemDrive(ui), "") << "a letter alone";
  EXPECT_EQ(ui.boxes.back().text, "注册表信息有错误(盘符后无:号)");
  ASSERT_TRUE(os::RegWriteString(os::Hive::LocalMachine, key, "PathName", ""));
  EXPECT_EQ(SystemDrive(ui), "") << "an empty value";
  EXPECT_EQ(ui.boxes.back().text, "注册表信息有错误(盘符后无:号)");
  ui.boxes.clear();
  ASSERT_TRUE(os::RegWriteString(os::Hive::LocalMachine, key, "PathName", "D:"));
  EXPECT_EQ(SystemDrive(ui), "D:") << "the drive alone";
  EXPECT_TRUE(ui.boxes.empty());
  ASSERT_TRUE(os::RegWriteString(os::Hive::LocalMachine, key, "PathName", "E:\\WINDOWS"));
  CMyNode prog("Microsoft Word.lnk", ProgramItem, nullptr, 0, "C:\\Start\\");
  EXPECT_EQ(DecideOpenItem(prog, ui),
            (OpenAction{OpenAction::Run, "E:\\Program Files\\Microsoft Office\\Office\\WINWORD.exe", os::kShowMaximized}));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST(Browser, ProgramFromTheOpenCommand) {
  PrivateRegistry reg;
  qbtest::CRecordingUi ui;
  EXPECT_EQ(ReadBrowserProgram(ui), "");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "错误：无法打开有关的注册键");
  const char* key = "Software\\Classes\\htmlfile\\shell\\open\\command";
  // The key without its default value: a box of its own.
  os::RegWriteString(os::Hive::LocalMachine, key, "other", "x");
  EXPECT_EQ(ReadBrowserProgram(ui), "");
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text, "错误：无法查询有关的注册表信息");
  EXPECT_EQ(ui.boxes[1].caption, "Qimbo收藏");
  ui.boxes.pop_back();
  os::RegWriteString(os::Hive::LocalMachine, key, "", "\"C:\\Program Files\\Web\\browse.exe\" -nohome %1");
  EXPECT_EQ(ReadBrowserProgram(ui), "C:\\Program Files\\Web\\browse.exe");
  // An unquoted command keeps its drive letter.
  os::RegWriteString(os::Hive::LocalMachine, key, "", "C:\\Web\\browse.exe %1");
  EXPECT_EQ(ReadBrowserProgram(ui), "C:\\Web\\browse.exe");
  // Without ".exe" nothing is cut but the quotation mark.
  os::RegWriteString(os::Hive::LocalMachine, key, "", "\"C:\\Web\\browse\" %1");
  EXPECT_EQ(ReadBrowserProgram(ui), "C:\\Web\\browse\" %1");
  // The command is read to 255 bytes at most.
  std::string longCommand = "C:\\" + std::string(297, 'w');
  os::RegWriteString(os::Hive::LocalMachine, key, "", longCommand);
  EXPECT_EQ(ReadBrowserProgram(ui), longCommand.substr(0, 255));
  EXPECT_EQ(ui.boxes.size(), 1u);
  os::RegWriteString(os::Hive::LocalMachine, key, "", "C:\\Web\\browse.exe %1");

  ShellRecorder shell;
  FakeClock clock;
  OpenInNewBrowser("http://a.example/", ui);
  ASSERT_EQ(g_shell.size(), 2u);
  EXPECT_EQ(g_shell[0].target, "C:\\Web\\browse.exe");
  EXPECT_EQ(g_shell[0].show, os::kShowNormal);
  EXPECT_EQ(g_shell[1].target, "http://a.example/");
  EXPECT_EQ(g_shell[1].show, os::kShowMaximized);
  EXPECT_EQ(g_sleeps, std::vector<uint32_t>{450});
}

TEST(ItemMenu, NewWindowOfflineCopyAndOpenAll) {
  PrivateRegistry reg;
  qbtest::CRecordingUi ui;
  os::RegWriteString(os::Hive::LocalMachine, "Software\\Classes\\htmlfile\\shell\\open\\command", "",
                     "\"C:\\Web\\browse.exe\" %1");
  OpenSeams seams;
  CMyNode item("新闻页", UrlItem, nullptr, 0, "http://news.example.com/a/b.html");
  item.m_bScript = 1;
  OpenItemInNewWindow(item, "D:\\Q\\", ui);
  ASSERT_EQ(g_shell.size(), 2u);
  EXPECT_EQ(g_shell[1].target, "http://news.example.com/a/b.html");
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{450, 999}));
  EXPECT_EQ(g_played, std::vector<std::string>{"D:\\Q\\script\\url\\新闻页"});
  ViewOfflinePage(item, "D:\\Q\\", ui);
  ASSERT_EQ(g_shell.size(), 4u);
  EXPECT_EQ(g_shell[3].target, "D:\\Q\\offline-page\\newsexampleab.html");
  EXPECT_EQ(g_shell[3].show, os::kShowMaximized);
  EXPECT_EQ(item.m_nVisits, 2);
  // Both are for web addresses only: a program item opens nothing and keeps its count.
  CMyNode program("计算器", ProgramItem, nullptr, 0, "C:\\Windows\\");
  program.m_bScript = 1;
  int visits = program.m_nVisits;
  OpenItemInNewWindow(program, "D:\\Q\\", ui);
  ViewOfflinePage(program, "D:\\Q\\", ui);
  EXPECT_EQ(g_shell.size(), 4u);
  EXPECT_EQ(program.m_nVisits, visits);
  EXPECT_EQ(g_played.size(), 1u);

  g_shell.clear();
  g_sleeps.clear();
  CMyNode a, b;
  a.m_strAddress = "http://a/";
  b.m_strAddress = "http://b/";
  std::vector<std::string> preloaded;
  OpenAllItems({&a, &b}, ui, [&](const std::string& s) {
    preloaded.push_back(s);
    return true;
  });
  EXPECT_EQ(preloaded, (std::vector<std::string>{"http://a/", "http://b/"}));
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{500, 500, 350, 350}));
  std::vector<std::string> targets;
  for (auto& r : g_shell) targets.push_back(r.target + "/" + std::to_string(r.show));
  EXPECT_EQ(targets, (std::vector<std::string>{"C:\\Web\\browse.exe/1", "http://a//3", "C:\\Web\\browse.exe/1",
                                               "http://b//3"}));
  EXPECT_TRUE(ui.boxes.empty());

  // Without a web page engine the small browser loads nothing: no waiting
  // for it, and each bookmark is opened once, in its own browser window.
  for (int withPreload = 0; withPreload < 2; ++withPreload) {
    g_shell.clear();
    g_sleeps.clear();
    preloaded.clear();
    std::function<bool(const std::string&)> noEngine = [&](const std::string& s) {
      preloaded.push_back(s);
      return false;
    };
    OpenAllItems({&a, &b}, ui, withPreload ? noEngine : nullptr);
    EXPECT_EQ(preloaded.size(), withPreload ? 1u : 0u) << "asked once, then no more";
    EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{350, 350}));
    targets.clear();
    for (auto& r : g_shell) targets.push_back(r.target + "/" + std::to_string(r.show));
    EXPECT_EQ(targets, (std::vector<std::string>{"C:\\Web\\browse.exe/1", "http://a//3", "C:\\Web\\browse.exe/1",
                                                 "http://b//3"}));
  }
}
#endif

TEST(OpenItem, OpensCountsVisitsAndPlaysTheScript) {
  OpenSeams seams;
  qbtest::CRecordingUi ui;
  CMyNode url("登录页", UrlItem, nullptr, 0, "http://a.example/login");
  url.m_tLastVisit = 0;
  OpenItem(url, "D:\\Q\\", ui);
  OpenItem(url, "D:\\Q\\", ui);
  EXPECT_EQ(url.m_nVisits, 2);
  EXPECT_GT(url.m_tLastVisit, 0);
  ASSERT_EQ(g_shell.size(), 2u);
  EXPECT_EQ(g_shell[0].verb, "open");
  EXPECT_EQ(g_shell[0].target, "http://a.example/login");
  EXPECT_TRUE(g_played.empty());
  EXPECT_TRUE(g_sleeps.empty());

  url.m_bScript = 1;
  OpenItem(url, "D:\\Q\\", ui);
  EXPECT_EQ(g_sleeps, std::vector<uint32_t>{1100});
  EXPECT_EQ(g_played, std::vector<std::string>{"D:\\Q\\script\\url\\登录页"});

  // A Microsoft shortcut outside the table starts nothing but is still counted.
  CMyNode prog;
  prog.m_nKind = ProgramItem;
  prog.m_strName = "Microsoft Paint.lnk";
  OpenItem(prog, "D:\\Q\\", ui);
  EXPECT_EQ(g_shell.size(), 3u);
  EXPECT_EQ(prog.m_nVisits, 1);

  // A shortcut to a program runs the program it names.
  qbtest::TempDir dir;
  qbtest::WriteFileBytes(dir / "tool.lnk", MakeLink(LinkSpec()));
  CMyNode tool("tool.lnk", ProgramItem, nullptr, 0, dir.Path());
  tool.m_bScript = 1;  // only web addresses carry scripts: the flag on a program is ignored
  OpenItem(tool, "D:\\Q\\", ui);
  EXPECT_EQ(g_played.size(), 1u);
  EXPECT_EQ(g_sleeps.size(), 1u);
  ASSERT_EQ(g_shell.size(), 4u);
  EXPECT_EQ(g_shell[3].verb, "run");
  EXPECT_EQ(g_shell[3].target, "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE");
  EXPECT_EQ(g_shell[3].show, os::kShowMaximized);
  EXPECT_EQ(tool.m_nVisits, 1);
}

TEST(PressTest, ReleaseWithin250msIsAClickOtherwiseADrag) {
  FakeClock clock;
  uint32_t askedAt = 0;
  bool drag = PressIsDrag([&] {
    askedAt = g_now;
    return true;
  });
  EXPECT_FALSE(drag);
  EXPECT_EQ(askedAt, 1000u + 250u);  // the queue is looked at only after the wait
  EXPECT_TRUE(PressIsDrag([] { return false; }));
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{250, 250}));
}

#include <gtest/gtest.h>

#include <memory>

#include "model/app_logic.h"
#include "os/os.h"
#include "store/importer.h"
#include "testutil.h"

namespace {

using qbtest::TempDir;
using qbtest::ReadFileBytes;
using qbtest::WriteFileBytes;

std::string UrlFile(const std::string& url) { return "[InternetShortcut]\r\nURL=" + url + "\r\n"; }

// A profile tree: <root>\Documents and Settings\<user>\...
struct Profile {
  TempDir dir;
  std::string profiles;
  Profile() {
    profiles = dir.Path() + "Documents and Settings";
    os::CreateFolder(profiles);
  }
  std::string Home(const std::string& user) const { return profiles + "\\" + user; }
  std::string MakeFolders(const std::string& path) const {
    // Creates every level below the temporary folder.
    std::string built;
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find('\\', start);
      if (end == std::string::npos) end = path.size();
      built = path.substr(0, end);
      if (built.size() >= dir.Path().size()) os::CreateFolder(built);
      start = end + 1;
    }
    return path;
  }
};

TEST(Import, ProfilePathsFromTheRegistry) {
  TempDir d;
  os::SetRegistryFolder(os::NativePath(d / "reg"));
  const std::string key = "Volatile Environment";
  std::string oldDrive, oldPath;
  bool hadDrive = os::RegReadString(os::Hive::CurrentUser, key, "HOMEDRIVE", oldDrive);
  bool hadPath = os::RegReadString(os::Hive::CurrentUser, key, "HOMEPATH", oldPath);
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, key, "HOMEDRIVE", "C:"));
  ASSERT_TRUE(os::RegWriteString(os::Hive::CurrentUser, key, "HOMEPATH", "\\Documents and Settings\\张三"));
  std::string home = ReadHomePath();
  // Put the machine's own values back before checking.
  if (hadDrive) os::RegWriteString(os::Hive::CurrentUser, key, "HOMEDRIVE", oldDrive);
  else os::RegRemoveValue(os::Hive::CurrentUser, key, "HOMEDRIVE");
  if (hadPath) os::RegWriteString(os::Hive::CurrentUser, key, "HOMEPATH", oldPath);
  else os::RegRemoveValue(os::Hive::CurrentUser, key, "HOMEPATH");
  EXPECT_EQ("C:\\Documents and Settings\\张三", home);
  EXPECT_EQ("C:\\Documents and Settings", ProfilesFolder(home));
  EXPECT_EQ("C:\\Documents and Settings\\All Users\\桌面\\", DesktopFolder(ProfilesFolder(home), "All Users"));
  EXPECT_EQ("C:\\Documents and Settings\\张三\\「开始」菜单\\程序\\", StartMenuFolder(ProfilesFolder(home), "张三"));
  EXPECT_EQ("C:\\Documents and Settings\\张三\\Favorites\\", FavoritesFolder(home));
}

TEST(Import, BrowserFavoritesWithSubfolders) {
  Profile p;
  std::string fav = p.MakeFolders(p.Home("user") + "\\Favorites") + "\\";
  os::CreateFolder(fav + "News");
  os::CreateFolder(fav + "Tools");
  os::CreateFolder(fav + "Z Sites");  // one blank stays in a name
  WriteFileBytes(fav + "News\\Sina Home.url", UrlFile("http://sina.com.cn/"));
  WriteFileBytes(fav + "Tools\\Deep.url", UrlFile("http://deep/"));
  os::CreateFolder(fav + "Tools\\Deeper");
  WriteFileBytes(fav + "Tools\\Deeper\\Ignored.url", UrlFile("http://ignored/"));
  WriteFileBytes(fav + "A Site.url", UrlFile("http://a/"));
  WriteFileBytes(fav + "B Site.url", "[DEFAULT]\r\nBASEURL=http://base/\r\n[InternetShortcut]\r\nURL=http://b/\r\n"
                                     "IconFile=C:\\Program Files\\x.ico\r\nIconIndex=1\r\n");
  CMyNodeList list;
  ASSERT_EQ(1, ImportBrowserFavorites(list, fav));

  CMyNode* root = list.FindNode("目录名", UrlCategory);
  CMyNode* news = list.FindNode("News", UrlCategory);
  CMyNode* tools = list.FindNode("Tools", UrlCategory);
  ASSERT_TRUE(root && news && tools);
  EXPECT_EQ(0, root->m_nSlot);
  EXPECT_EQ(1, news->m_nSlot);
  EXPECT_EQ(2, tools->m_nSlot);
  EXPECT_EQ("一级目录", news->m_strNote);
  EXPECT_EQ(fav, news->m_strAddress);

  CMyNode* a = list.FindNode("a site", UrlItem);
  CMyNode* b = list.FindNode("b site", UrlItem);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(root, a->m_pParent);
  EXPECT_EQ(0, a->m_nSlot);
  EXPECT_EQ(1, b->m_nSlot);
  EXPECT_EQ("http://b/", b->m_strAddress);  // URL= overrides the earlier BASEURL=
  EXPECT_EQ(fav + "B Site.url", b->m_strIconPath);  // the shortcut is its own icon source
  CMyNode* sina = list.FindNode("sina home", UrlItem);
  ASSERT_TRUE(sina);
  EXPECT_EQ(news, sina->m_pParent);
  EXPECT_TRUE(list.FindNode("deep", UrlItem));
  EXPECT_FALSE(list.FindNode("ignored", UrlItem));  // one level of subfolders only
  ASSERT_TRUE(list.FindNode("Z Sites", UrlCategory));
  EXPECT_EQ(8u, list.GetCount());

  // One folder into a category: 1 when it holds shortcuts for a category there is.
  EXPECT_EQ(1, ImportUrlFolder(list, fav + "Tools\\Deeper\\", "News"));
  EXPECT_EQ(news, list.FindNode("ignored", UrlItem)->m_pParent);
  EXPECT_EQ(0, ImportUrlFolder(list, fav + "Tools\\Deeper\\", "NoSuch"));
  EXPECT_EQ(0, ImportUrlFolder(list, fav + "Tools\\Deeper\\nowhere\\", "News"));
  EXPECT_EQ(0, ImportUrlFolder(list, fav + "Z Sites\\", "News")) << "a folder without shortcuts";
  EXPECT_EQ(9u, list.GetCount());

  // A missing Favorites folder imports nothing and is no failure.
  CMyNodeList none;
  EXPECT_EQ(1, ImportBrowserFavorites(none, p.dir / "nowhere\\"));
  EXPECT_EQ(0u, none.GetCount());

  // The first subfolder listed loses its double blanks like any other.
  std::string fav2 = p.MakeFolders(p.Home("other") + "\\Favorites") + "\\";
  os::CreateFolder(fav2 + "Links  Bar");
  WriteFileBytes(fav2 + "Links  Bar\\X.url", UrlFile("http://x/"));
  CMyNodeList two;
  ASSERT_TRUE(ImportBrowserFavorites(two, fav2));
  CMyNode* bar = two.FindNode("LinksBar", UrlCategory);
  CMyNode* x = two.FindNode("x", UrlItem);
  ASSERT_TRUE(bar && x);
  EXPECT_EQ(1, bar->m_nSlot);
  EXPECT_EQ(bar, x->m_pParent);
  // Two blanks at the very end go as well (where the system keeps them).
  std::string fav3 = p.MakeFolders(p.Home("third") + "\\Favorites") + "\\";
  os::CreateFolder(fav3 + "Tail  ");
  CMyNodeList three;
  ASSERT_TRUE(ImportBrowserFavorites(three, fav3));
  EXPECT_TRUE(three.FindNode("Tail", UrlCategory));
  EXPECT_EQ(2, three.CountKind(UrlCategory));

  // A subfolder named like the root category is passed over: the root takes
  // only the loose shortcuts, never that folder's.
  std::string fav4 = p.MakeFolders(p.Home("fourth") + "\\Favorites") + "\\";
  os::CreateFolder(fav4 + "目录名");
  WriteFileBytes(fav4 + "目录名\\Inner.url", UrlFile("http://inner/"));
  WriteFileBytes(fav4 + "Loose.url", UrlFile("http://loose/"));
  CMyNodeList four;
  ASSERT_EQ(1, ImportBrowserFavorites(four, fav4));
  EXPECT_EQ(1, four.CountKind(UrlCategory));
  EXPECT_FALSE(four.FindNode("inner", UrlItem));
  ASSERT_TRUE(four.FindNode("loose", UrlItem));
  EXPECT_EQ(0, four.FindNode("loose", UrlItem)->m_nSlot);
}

TEST(Import, ParseUrlFile) {
  TempDir d;
  // The file written, then read as the import reads it.
  auto parse = [&d](const std::string& name, const std::string& text) {
    WriteFileBytes(d / name, text);
    return std::unique_ptr<CMyNode>(ParseUrlFile(d.Path(), name));
  };
  std::unique_ptr<CMyNode> n = parse(
      "My Bank.url", "[DEFAULT]\nBASEURL=http://old/\n[InternetShortcut]\nURL=http://bank/ x\nIconFile=C:\\Program Files\\x.ico\n");
  ASSERT_TRUE(n);
  EXPECT_EQ("My Bank.url", n->m_strName);
  EXPECT_EQ("http://bank/", n->m_strAddress);
  EXPECT_EQ("C:\\Program", n->m_strIconPath);
  EXPECT_EQ(UrlItem, n->m_nKind);

  // Overlong values are cut to 349 bytes.
  n = parse("long.url", "[InternetShortcut]\r\nURL=" + std::string(5000, 'u') + "\r\n");
  ASSERT_TRUE(n);
  EXPECT_EQ(std::string(kUrlValueMax, 'u'), n->m_strAddress);

  // A key with no value sets nothing.
  n = parse("empty.url", "[InternetShortcut]\r\nURL=http://kept/\r\nURL=\r\nURL= \t\r\n");
  ASSERT_TRUE(n);
  EXPECT_EQ("http://kept/", n->m_strAddress);
  // Every white space counts as a blank: the vertical tab, the form feed and a
  // carriage return inside the line too.
  n = parse("blanks.url", "[InternetShortcut]\r\nURL=\f\vhttp://a/\vb\r\nIconFile=\vi.ico\rj\r\n");
  ASSERT_TRUE(n);
  EXPECT_EQ("http://a/", n->m_strAddress);
  EXPECT_EQ("i.ico", n->m_strIconPath);
  // The last line needs no line end.
  n = parse("last.url", "[InternetShortcut]\r\nURL=http://last/");
  ASSERT_TRUE(n);
  EXPECT_EQ("http://last/", n->m_strAddress);

  // Only the first megabyte (1,048,576 bytes) is read: a line ending right there
  // counts, one starting there does not.
  std::string far = "[InternetShortcut]\r\nBASEURL=" + std::string(1048529, 'b') + "\r\nURL=http://far/\r\n";
  ASSERT_EQ(1048576u, far.size());
  n = parse("far.url", far);
  ASSERT_TRUE(n);
  EXPECT_EQ("http://far/", n->m_strAddress);
  far.insert(30, std::string(17, 'b'));
  n = parse("far.url", far);
  ASSERT_TRUE(n);
  EXPECT_EQ(std::string(kUrlValueMax, 'b'), n->m_strAddress);

  // The first line is never read as a value; after 31 other lines reading stops.
  std::string text = "URL=http://first/\n";
  for (int i = 0; i < 31; ++i) text += "Other=" + std::to_string(i) + "\n";
  text += "URL=http://too-late/\n";
  n = parse("late.url", text);
  ASSERT_TRUE(n);
  EXPECT_EQ("", n->m_strAddress);
  // The 31st counted line is still read, whatever the first line holds.
  text = "\n";
  for (int i = 0; i < 30; ++i) text += "Other=" + std::to_string(i) + "\n";
  text += "URL=http://last/\n";
  n = parse("last.url", text);
  ASSERT_TRUE(n);
  EXPECT_EQ("http://last/", n->m_strAddress);
  // An empty first line is the header all the same.
  n = parse("blank.url", "\nURL=http://second/\n");
  ASSERT_TRUE(n);
  EXPECT_EQ("http://second/", n->m_strAddress);
  // The last matching line wins, in either order.
  n = parse("reverse.url", "[InternetShortcut]\r\nURL=http://url/\r\nBASEURL=http://base/\r\n");
  ASSERT_TRUE(n);
  EXPECT_EQ("http://base/", n->m_strAddress);
  // BASEURL= and IconFile= lines do not count toward the 31.
  text = "[x]\n";
  for (int i = 0; i < 40; ++i) text += "IconFile=i" + std::to_string(i) + "\nBASEURL=http://base" + std::to_string(i) + "/\n";
  text += "URL=http://counted/\n";
  n = parse("icons.url", text);
  ASSERT_TRUE(n);
  EXPECT_EQ("http://counted/", n->m_strAddress);
  EXPECT_EQ("i39", n->m_strIconPath);

  EXPECT_EQ(nullptr, ParseUrlFile(d.Path(), "missing.url"));
}

TEST(Import, UnreadableShortcutStillBecomesAnItem) {
  Profile p;
  std::string fav = p.MakeFolders(p.Home("u") + "\\Favorites") + "\\";
  // A folder named like a shortcut cannot be read as one.
  os::CreateFolder(fav + "Odd.url");
  CMyNodeList list;
  ASSERT_TRUE(ImportBrowserFavorites(list, fav));
  CMyNode* odd = list.FindNode("odd", UrlItem);
  ASSERT_TRUE(odd);
  EXPECT_EQ("", odd->m_strAddress);
}

// Today's systems name the folders in English whatever their language, and
// keep the shared ones under Public and ProgramData (reached as All Users):
// the program folder fills from them, with no box.
TEST(Import, DesktopAndStartMenuOfTodaysProfiles) {
  Profile p;
  std::string desk = p.MakeFolders(p.profiles + "\\me\\Desktop") + "\\";
  std::string pub = p.MakeFolders(p.profiles + "\\Public\\Desktop") + "\\";
  std::string menu = p.MakeFolders(p.profiles + "\\me\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs") + "\\";
  std::string allMenu = p.MakeFolders(p.profiles + "\\All Users\\Microsoft\\Windows\\Start Menu\\Programs") + "\\";
  EXPECT_EQ(desk, DesktopFolder(p.profiles, "me"));
  EXPECT_EQ(pub, DesktopFolder(p.profiles, "All Users"));
  EXPECT_EQ(menu, StartMenuFolder(p.profiles, "me"));
  EXPECT_EQ(allMenu, StartMenuFolder(p.profiles, "All Users"));
  WriteFileBytes(desk + "Mine.lnk", "x");
  WriteFileBytes(pub + "Shared.lnk", "x");
  os::CreateFolder(allMenu + "Office");
  WriteFileBytes(allMenu + "Office\\Word.lnk", "x");
  qbtest::CRecordingUi ui;
  CMyNodeList list;
  int next = 1;
  for (const char* user : {"me", "All Users"}) {
    EXPECT_EQ(1, ImportDesktop(list, p.profiles, user));
    EXPECT_EQ(1, ImportStartMenu(list, p.profiles, user, next, &ui));
  }
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(list.FindNode("Mine.lnk", ProgramItem) && list.FindNode("Shared.lnk", ProgramItem));
  ASSERT_TRUE(list.FindNode("Word.lnk", ProgramItem));
  EXPECT_EQ(list.FindNode("Office", ProgramCategory), list.FindNode("Word.lnk", ProgramItem)->m_pParent);
  // Where neither layout is there, the folder named is the profile's own.
  EXPECT_EQ(p.profiles + "\\nobody\\桌面\\", DesktopFolder(p.profiles, "nobody"));
}

TEST(Import, DesktopAndStartMenu) {
  Profile p;
  std::string userDesk = p.MakeFolders(DesktopFolder(p.profiles, "me"));
  std::string allDesk = p.MakeFolders(DesktopFolder(p.profiles, "All Users"));
  WriteFileBytes(allDesk + "Shared.lnk", "x");
  WriteFileBytes(allDesk + "desktop.ini", "x");
  std::string userMenu = p.MakeFolders(StartMenuFolder(p.profiles, "me"));
  std::string allMenu = p.MakeFolders(StartMenuFolder(p.profiles, "All Users"));
  os::CreateFolder(userMenu + "Games");
  WriteFileBytes(userMenu + "Games\\Mine.lnk", "x");
  WriteFileBytes(userMenu + "Games\\desktop.ini", "x");
  os::CreateFolder(userMenu + "Games\\Sub");
  os::CreateFolder(allMenu + "Games");
  WriteFileBytes(allMenu + "Games\\Solitaire.lnk", "x");
  os::CreateFolder(allMenu + "Office");
  WriteFileBytes(allMenu + "Loose.lnk", "x");
  // Two blanks leave a folder's name; its files still reach the category of that name.
  os::CreateFolder(userMenu + "My  Tools");
  WriteFileBytes(userMenu + "My  Tools\\Paint.lnk", "x");
  os::CreateFolder(allMenu + "My  Tools");
  WriteFileBytes(allMenu + "My  Tools\\Calc.lnk", "x");
  WriteFileBytes(allMenu + "desktop.ini", "x");
  WriteFileBytes(userMenu + ".lnk", "x");  // all tail, no name: a shortcut still

  qbtest::CRecordingUi ui;
  CMyNodeList list;
  int next = 1;
  EXPECT_EQ(1, ImportDesktop(list, p.profiles, "me"));
  EXPECT_EQ(1, ImportDesktop(list, p.profiles, "All Users"));
  EXPECT_EQ(1, ImportStartMenu(list, p.profiles, "me", next, &ui));
  EXPECT_EQ(1, ImportStartMenu(list, p.profiles, "All Users", next, &ui));
  EXPECT_TRUE(ui.boxes.empty());

  CMyNode* desk = list.FindNode("桌面", ProgramCategory);
  ASSERT_TRUE(desk);
  EXPECT_EQ(p.profiles + "\\me", desk->m_strAddress);
  EXPECT_EQ(0, desk->m_nSlot);
  EXPECT_EQ(4, list.CountKind(ProgramCategory));  // 桌面, Games, Office, MyTools
  CMyNode* shared = list.FindNode("Shared.lnk", ProgramItem);
  ASSERT_TRUE(shared);
  EXPECT_EQ(desk, shared->m_pParent);
  EXPECT_EQ(allDesk, shared->m_strAddress);
  EXPECT_TRUE(list.FindNode("desktop.ini", ProgramItem));  // every desktop entry counts

  CMyNode* games = list.FindNode("Games", ProgramCategory);
  CMyNode* office = list.FindNode("Office", ProgramCategory);
  ASSERT_TRUE(games && office);
  EXPECT_EQ(1, games->m_nSlot);
  EXPECT_EQ(3, office->m_nSlot);
  EXPECT_EQ("一级目录", desk->m_strNote);
  EXPECT_EQ("一级目录", games->m_strNote);
  EXPECT_EQ("一级目录", office->m_strNote);
  CMyNode* tools = list.FindNode("MyTools", ProgramCategory);
  ASSERT_TRUE(tools);
  EXPECT_EQ(2, tools->m_nSlot);  // the first user's folders come first
  EXPECT_EQ(userMenu, tools->m_strAddress);
  EXPECT_EQ(2, list.CountChildren(tools));
  ASSERT_TRUE(list.FindNode("Calc.lnk", ProgramItem));
  EXPECT_EQ(tools, list.FindNode("Calc.lnk", ProgramItem)->m_pParent);
  EXPECT_EQ(allMenu + "My  Tools\\", list.FindNode("Calc.lnk", ProgramItem)->m_strAddress);
  EXPECT_EQ(4, next);
  EXPECT_EQ(3, list.CountChildren(games));  // Mine.lnk, Sub, Solitaire.lnk
  CMyNode* sol = list.FindNode("Solitaire.lnk", ProgramItem);
  ASSERT_TRUE(sol);
  EXPECT_EQ(games, sol->m_pParent);
  EXPECT_EQ(allMenu + "Games\\", sol->m_strAddress);
  EXPECT_EQ(userMenu + "Games\\", list.FindNode("Mine.lnk", ProgramItem)->m_strAddress);
  EXPECT_FALSE(list.FindNode("Loose.lnk", ProgramItem));
  // Files for a category that does not exist are not added.
  size_t count = list.GetCount();
  EXPECT_EQ(0, AddProgramFiles(list, allMenu + "Games\\", "NoSuch"));
  EXPECT_EQ(1, AddProgramFiles(list, allMenu + "Games\\", "Games"));  // all there already
  EXPECT_EQ(1, AddProgramFiles(list, allMenu + "nowhere\\", "NoSuch"));  // nothing to list
  EXPECT_EQ(count, list.GetCount());

  // A Start menu that cannot be listed gives the box and imports nothing.
  EXPECT_EQ(1, ImportStartMenu(list, p.profiles, "nobody", next, &ui));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ("错误：Init读directory名称返回错误HANDLE", ui.boxes[0].text);
}

TEST(Import, EmptyDesktopStillHasItsCategory) {
  Profile p;
  p.MakeFolders(DesktopFolder(p.profiles, "me"));
  CMyNodeList list;
  EXPECT_EQ(1, ImportDesktop(list, p.profiles, "me"));
  ASSERT_EQ(1u, list.GetCount());
  EXPECT_EQ("桌面", list.GetAt(0)->m_strName);
  // A desktop folder that is not there at all: the category, no items, success.
  CMyNodeList none;
  EXPECT_EQ(1, ImportDesktop(none, p.profiles, "nobody"));
  ASSERT_EQ(1u, none.GetCount());
  EXPECT_EQ(p.profiles + "\\nobody", none.GetAt(0)->m_strAddress);
}

TEST(Import, LogicStartBuildsProgramFolderThenFavorites) {
  Profile p;
  TempDir program;
  os::SetProgramDirectory(program.Path());
  os::CreateFolder(program / "data");
  std::string user = os::UserName();
  std::string home = p.Home(user);
  WriteFileBytes(p.MakeFolders(DesktopFolder(p.profiles, user)) + "a.lnk", "x");
  std::string fav = p.MakeFolders(home + "\\Favorites") + "\\";
  WriteFileBytes(fav + "Home.url", UrlFile("http://home/"));
  // The start reads the settings of this program folder.
  os::CreateFolder(program / "config");
  WriteFileBytes(program / "config\\MyConfig.ini", "[HOTKEY]\r\nFavoriteKey=Alt+Q\r\n[END]");
  qbtest::CRecordingUi ui;
  // The application-data folders come from the environment unless already given.
#ifndef _WIN32
  TempDir local, roaming;
  setenv("LOCALAPPDATA", os::NativePath(local.Path()).c_str(), 1);
  setenv("APPDATA", os::NativePath(roaming.Path()).c_str(), 1);
#endif
  const std::string localFolder = os::LocalAppDataFolder(), roamingFolder = os::RoamingAppDataFolder();
  EXPECT_FALSE(localFolder.empty());
  EXPECT_FALSE(roamingFolder.empty());
  {
    CAppLogic logic(&ui);
    EXPECT_EQ("Ctrl+S", logic.m_config.hotkeyText);
    EXPECT_EQ("BackGround.Bmp", logic.m_skins[0].m_strImagePath) << "defaults before the start";
    EXPECT_EQ("目录区", logic.m_skins[1].m_strAreaName);
    logic.m_strHomePath = home;
    logic.m_strRoamingAppData = "R:\\given\\";
    ASSERT_TRUE(logic.Start());
    EXPECT_EQ(home, logic.m_strHomePath);
    EXPECT_EQ(localFolder, logic.m_strLocalAppData);
    EXPECT_EQ("R:\\given\\", logic.m_strRoamingAppData);
    EXPECT_EQ("Alt+Q", logic.m_config.hotkeyText);
    EXPECT_EQ(1, logic.m_config.chatTip) << "missing keys keep their defaults";
    EXPECT_EQ(program.Path(), logic.m_strProgramDir);
    ASSERT_EQ(4u, logic.GetCount());  // 桌面, a.lnk, 目录名, home
    EXPECT_EQ(ProgramCategory, logic.GetAt(0)->m_nKind);
    EXPECT_EQ(UrlItem, logic.GetAt(3)->m_nKind);
    EXPECT_EQ(program.Path() + "images\\icon\\ieicon\\IE XP0.ico", logic.GetAt(3)->m_strIconPath);
    EXPECT_EQ(1u, logic.m_topVisited.size());
    EXPECT_TRUE(os::FileExists(program / "data\\1-我的收藏.sc"));
    EXPECT_EQ(2u, ui.boxes.size());  // the two missing Start menus
  }
  {
    // The second start loads the saved file instead of importing, takes the
    // shortcuts of every user's desktop and, unless given, the home folder
    // from the registry.
    os::RemoveFile(fav + "Home.url");
    WriteFileBytes(p.MakeFolders(DesktopFolder(p.profiles, "All Users")) + "b.lnk", "x");
    CAppLogic logic(&ui);
#ifndef _WIN32
    TempDir reg;
    os::SetRegistryFolder(os::NativePath(reg / "reg"));
    os::RegWriteString(os::Hive::CurrentUser, "Volatile Environment", "HOMEDRIVE", home.substr(0, 2));
    os::RegWriteString(os::Hive::CurrentUser, "Volatile Environment", "HOMEPATH", home.substr(2));
#else
    logic.m_strHomePath = home;
#endif
    logic.m_strLocalAppData = "L:\\given\\";
    ASSERT_TRUE(logic.Start());
    EXPECT_TRUE(logic.FindNode("home", UrlItem));
    EXPECT_TRUE(logic.FindNode("b.lnk", ProgramItem));
    EXPECT_EQ(home, logic.m_strHomePath);
    EXPECT_EQ("L:\\given\\", logic.m_strLocalAppData);
    EXPECT_EQ(roamingFolder, logic.m_strRoamingAppData);
  }
#ifndef _WIN32
  unsetenv("LOCALAPPDATA");
  unsetenv("APPDATA");
#endif
  os::SetProgramDirectory("");
}

TEST(AppLogic, ProgramNodeOperations) {
  TempDir d;
  os::CreateFolder(d / "Games");
  os::CreateFolder(d / "Tools");
  WriteFileBytes(d / "Games\\x.lnk", "shortcut");
  CAppLogic logic;
  CMyNode* games = new CMyNode("Games", ProgramCategory, nullptr, 0, d.Path());
  logic.AddNode(games);
  CMyNode* tools = new CMyNode(*games);
  tools->m_strName = "Tools";
  logic.AddNode(tools);
  CMyNode* x = new CMyNode("x.lnk", ProgramItem, games, 0, d / "Games\\");
  logic.AddNode(x);

  WriteFileBytes(d / "Tools\\x.lnk", "older");  // a shortcut of that name is replaced
  ASSERT_EQ(1, logic.MoveProgramItem(x, tools));
  EXPECT_EQ("shortcut", ReadFileBytes(d / "Tools\\x.lnk"));
  EXPECT_EQ(tools, x->m_pParent);
  EXPECT_EQ(d / "Tools\\", x->m_strAddress);
  EXPECT_TRUE(os::FileExists(d / "Tools\\x.lnk"));
  EXPECT_FALSE(os::FileExists(d / "Games\\x.lnk"));
  // A failed copy changes nothing.
  CMyNode nowhere(*games);
  nowhere.m_strName = "Missing";
  EXPECT_EQ(0, logic.MoveProgramItem(x, &nowhere));
  EXPECT_EQ(0, logic.MoveProgramItem(nullptr, tools));
  EXPECT_EQ(0, logic.MoveProgramItem(x, nullptr));
  EXPECT_EQ(tools, x->m_pParent);

  EXPECT_EQ(0, logic.RenameCategory(tools, "Games"));  // the name is taken
  ASSERT_EQ(1, logic.RenameCategory(tools, "Apps"));
  EXPECT_TRUE(os::IsFolder(d / "Apps"));
  EXPECT_EQ("Apps", tools->m_strName);
  CMyNode* ghost = new CMyNode(*games);
  ghost->m_strName = "Ghost";
  logic.AddNode(ghost);
  EXPECT_EQ(0, logic.RenameCategory(ghost, "Spirit"));  // no folder on disk
  EXPECT_EQ("Ghost", ghost->m_strName);

  CMyNode web;
  web.m_nKind = UrlCategory;
  web.m_strName = "W";
  logic.AddNode(new CMyNode(web));
  CMyNode* w = logic.FindNode("W", UrlCategory);
  EXPECT_EQ(1, logic.RenameCategory(w, "W"));  // its own name is no clash
  EXPECT_EQ(1, logic.RenameCategory(w, "Ghost"));  // a program category's name is another kind
  EXPECT_EQ("Ghost", w->m_strName);
  // Only categories are renamed here: an item keeps its name and its file.
  EXPECT_EQ(0, logic.RenameCategory(x, "y.lnk"));
  EXPECT_EQ("x.lnk", x->m_strName);
  EXPECT_EQ(0, logic.RenameCategory(nullptr, "y"));
  CMyNode shortcut("z.lnk", ProgramItem, nullptr, 0, d.Path());
  WriteFileBytes(d / "z.lnk", "z");
  EXPECT_EQ(0, logic.RenameCategory(&shortcut, "q.lnk"));
  EXPECT_TRUE(os::FileExists(d / "z.lnk"));

  // Moves are made from the item's current folder.
  WriteFileBytes(d / "Apps\\x.lnk", "shortcut");
  x->m_strAddress = d / "Apps\\";
  EXPECT_EQ(0, logic.DeleteProgramFile(tools));  // x still belongs to it
  EXPECT_EQ(0, logic.DeleteProgramFile(nullptr));
  EXPECT_EQ(0, CAppLogic().DeleteProgramFile(nullptr)) << "nor in an empty list";
  ASSERT_EQ(1, logic.DeleteProgramFile(x));
  EXPECT_FALSE(os::FileExists(d / "Apps\\x.lnk"));
  EXPECT_EQ(0, logic.DeleteProgramFile(x));  // already gone
}

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>

#include "model/app_logic.h"
#include "base/archive.h"
#include "base/cipher.h"
#include "os/os.h"
#include "store/crash_steps.h"
#include "store/favorites_file.h"
#include "testutil.h"
#include "tree_util.h"

namespace {

using qbtest::AddNodeTo;
using qbtest::ReadFileBytes;
using qbtest::TempDir;
using qbtest::WriteFileBytes;

struct Rec {
  std::string name;
  int32_t kind = 1;
  std::string address, parent, icon, note;
  int32_t visits = 0;
  uint32_t time = 0;
  int32_t slot = 0, script = 0;
  std::string circle = "Reserved";
  std::string codedName;  // when set, the name field as stored, not enciphered here
};

// A record written by hand, field by field, as the file format lays it out.
std::string RecordBytes(const Rec& r) {
  qb::CMemorySink sink;
  qb::CArchiveWriter w(sink);
  w.WriteCountedString(r.codedName.empty() ? qb::EncodeText(r.name) : r.codedName);
  w.WriteI32(r.kind);
  w.WriteCountedString(qb::EncodeText(r.address));
  w.WriteCountedString(qb::EncodeText(r.parent));
  w.WriteCountedString(qb::EncodeText(r.icon));
  w.WriteCountedString(r.note);
  w.WriteI32(r.visits);
  w.WriteU32(r.time);
  w.WriteI32(r.slot);
  w.WriteI32(r.script);
  w.WriteCountedString(r.circle);
  return sink.Bytes();
}

std::string FileBytes(const std::vector<Rec>& recs) {
  qb::CMemorySink sink;
  qb::CArchiveWriter w(sink);
  w.WriteU32((uint32_t)recs.size());
  std::string out = sink.Bytes();
  for (const Rec& r : recs) out += RecordBytes(r);
  return out;
}

Rec C(const std::string& name, const std::string& address = "") {
  Rec r;
  r.name = name;
  r.kind = 0;
  r.address = address;
  return r;
}

Rec I(const std::string& name, const std::string& parent, const std::string& url = "http://x/") {
  Rec r;
  r.name = name;
  r.parent = parent;
  r.address = url;
  return r;
}

// A program folder with a data folder, the model pointed at it.
struct ProgramFolder {
  TempDir dir;
  qbtest::CRecordingUi ui;
  CAppLogic logic{&ui};
  ProgramFolder() {
    os::SetProgramDirectory(dir.Path());
    os::CreateFolder(dir / "data");
    logic.m_strProgramDir = dir.Path();
    logic.m_strBaseDir = dir.Path();
    logic.m_strHomePath = dir.Path() + "nohome";
  }
  ~ProgramFolder() { os::SetProgramDirectory(""); }
  std::string Data(const std::string& name) const { return dir.Path() + "data\\" + name; }
};

std::vector<std::string> Names(const CMyNodeList& list) {
  std::vector<std::string> v;
  for (const CMyNode* n : list) v.push_back(n->m_strName);
  return v;
}

// A file of `recs` loads as the nodes named `names`, and what is saved of
// them loads back as the same bytes.
void ExpectLoadedNamesAndSavedAgainAlike(const ProgramFolder& pf, const std::vector<Rec>& recs,
                                         const std::vector<std::string>& names) {
  WriteFileBytes(pf.Data("read.sc"), FileBytes(recs));
  CMyNodeList once;
  ASSERT_TRUE(LoadFavoritesFile(once, pf.Data("read.sc")));
  EXPECT_EQ(names, Names(once));

  std::vector<const CMyNode*> nodes(once.begin(), once.end());
  WriteFileBytes(pf.Data("saved.sc"), FavoritesFileBytes(nodes));
  CMyNodeList twice;
  ASSERT_TRUE(LoadFavoritesFile(twice, pf.Data("saved.sc")));
  std::vector<const CMyNode*> again(twice.begin(), twice.end());
  EXPECT_EQ(FavoritesFileBytes(nodes), FavoritesFileBytes(again));
}

TEST(FavoritesFile, RecordBytesAreExact) {
  CMyNode empty;
  empty.m_nKind = UrlCategory;
  empty.m_strCircle.clear();
  empty.m_tLastVisit = 0;
  std::string bytes = FavoritesFileBytes({&empty});
  EXPECT_EQ(4u + 26u, bytes.size());
  EXPECT_EQ(std::string("\x01\0\0\0", 4), bytes.substr(0, 4));

  CMyNode cat;
  cat.m_strName = "新闻";
  cat.m_nKind = UrlCategory;
  CMyNode item("sina", UrlItem, &cat, 3, "http://sina.com.cn");
  item.m_strParentName = "stale";  // the written parent is the joined one
  item.m_strIconPath = "C:\\a.ico";
  item.m_strNote = "备注";
  item.m_nVisits = 9;
  item.m_tLastVisit = 0x1122334455LL;  // cut to 32 bits
  item.m_bScript = 1;
  item.m_strCircle = "GROUP";
  Rec r = I("sina", "新闻", "http://sina.com.cn");
  r.icon = "C:\\a.ico";
  r.note = "备注";
  r.visits = 9;
  r.time = 0x22334455u;
  r.slot = 3;
  r.script = 1;
  r.circle = "GROUP";
  Rec rc = C("新闻");
  rc.time = (uint32_t)cat.m_tLastVisit;
  EXPECT_EQ(FileBytes({rc, r}), FavoritesFileBytes({&cat, &item}));

  CMyNode longName;
  longName.m_strName = std::string(300, 'n');
  longName.m_nKind = UrlCategory;
  std::string lb = FavoritesFileBytes({&longName});
  EXPECT_EQ(std::string("\xFF\x58\x02", 3), lb.substr(4, 3));  // FF, then 600

  // Reading gives exactly the file's records, whatever the vector held before.
  std::vector<CMyNode*> read = {nullptr};
  ASSERT_EQ(1, ReadFavoritesRecords(FavoritesFileBytes({&cat, &item}), read));
  ASSERT_EQ(2u, read.size());
  EXPECT_EQ("新闻", read[0]->m_strName);
  EXPECT_EQ("sina", read[1]->m_strName);
  for (CMyNode* n : read) delete n;
  // A third record whose name claims 48 bytes where 10 are left is no record:
  // nothing is read, and the file is not whole.
  std::string broken = FavoritesFileBytes({&cat, &item});
  ASSERT_EQ(2, broken[0]);
  broken[0] = 3;
  broken += "\x30" + std::string(10, 'x');
  EXPECT_EQ(0, ReadFavoritesRecords(broken, read));
  EXPECT_TRUE(read.empty());
  EXPECT_FALSE(IsCompleteFavoritesFile(broken));
  // A count of four thousand million records in a file of two fails before
  // room for them is made.
  std::string lying = FavoritesFileBytes({&cat, &item});
  lying.replace(0, 4, "\xFF\xFF\xFF\xF0");
  qbtest::ResetLargestAllocation();
  EXPECT_EQ(0, ReadFavoritesRecords(lying, read));
  EXPECT_LT(qbtest::LargestAllocation(), 1000u);
}

TEST(FavoritesFile, LoadJoinsParentsInAnyOrder) {
  ProgramFolder pf;
  Rec late = I("early", "Later");
  late.time = 0xF0000000u;  // widened as unsigned
  Rec programs = C("桌面"), program = I("a.lnk", "桌面", "C:\\");  // no web nodes: not read
  programs.kind = ProgramCategory;
  program.kind = ProgramItem;
  WriteFileBytes(pf.Data("a.sc"),
                 FileBytes({late, C("Later"), I("orphan", "Nowhere"), I("noparent", ""), programs, program}));
  ASSERT_TRUE(pf.logic.LoadFavorites(pf.Data("a.sc")));
  ASSERT_EQ((std::vector<std::string>{"early", "Later"}), Names(pf.logic));
  EXPECT_EQ(pf.logic.GetAt(1), pf.logic.GetAt(0)->m_pParent);
  EXPECT_EQ(0xF0000000LL, pf.logic.GetAt(0)->m_tLastVisit);

  // Items of one category in a row, then of another, then of the first
  // again; items whose category comes later, and one after it came.
  WriteFileBytes(pf.Data("mixed.sc"), FileBytes({C("A"), I("a1", "A"), I("a2", "A"), C("B"), I("b1", "B"),
                                                 I("a3", "A"), I("w1", "W"), C("W"), I("w2", "W"), I("b2", "B")}));
  CMyNodeList mixed;
  ASSERT_TRUE(LoadFavoritesFile(mixed, pf.Data("mixed.sc")));
  ASSERT_EQ(10u, mixed.GetCount());
  for (const CMyNode* n : mixed)
    if (n->m_nKind == UrlItem) {
      ASSERT_NE(nullptr, n->m_pParent) << n->m_strName;
      EXPECT_EQ(n->m_strParentName, n->m_pParent->m_strName) << n->m_strName;
    }

  WriteFileBytes(pf.Data("zero.sc"), std::string(4, '\0'));
  CMyNodeList empty;
  EXPECT_EQ(1, LoadFavoritesFile(empty, pf.Data("zero.sc")));
  EXPECT_EQ(0u, empty.GetCount());
}

TEST(FavoritesFile, DuplicateCategoriesInOneFile) {
  ProgramFolder pf;
  WriteFileBytes(pf.Data("same.sc"), FileBytes({C("News", "F"), C("News", "F"), I("a", "News")}));
  CMyNodeList same;
  ASSERT_TRUE(LoadFavoritesFile(same, pf.Data("same.sc")));
  EXPECT_EQ(2u, same.GetCount());

  WriteFileBytes(pf.Data("diff.sc"), FileBytes({C("News", "F1"), C("News", "F2"), I("a", "News")}));
  CMyNodeList diff;
  ASSERT_TRUE(LoadFavoritesFile(diff, pf.Data("diff.sc")));
  ASSERT_EQ(3u, diff.GetCount());
  EXPECT_EQ(diff.GetAt(0), diff.GetAt(2)->m_pParent);  // the first in list order

  // Equal name, address and parent name: the second item is dropped.
  WriteFileBytes(pf.Data("items.sc"), FileBytes({C("News"), I("a", "News"), I("a", "News"), I("a", "News", "u2")}));
  CMyNodeList items;
  ASSERT_TRUE(LoadFavoritesFile(items, pf.Data("items.sc")));
  EXPECT_EQ(3u, items.GetCount());
}

// A category has no parent: a parent name in its record (never written by the
// program) must not make two equal categories differ on the first load only,
// or the second one would vanish at the next load after a save.
TEST(FavoritesFile, CategoryRecordsParentNamesAreIgnored) {
  ProgramFolder pf;
  Rec first = C("News", "F"), second = C("News", "F");
  first.parent = "X";
  second.parent = "Y";
  second.slot = 5;
  ExpectLoadedNamesAndSavedAgainAlike(pf, {first, second, I("a", "News")}, {"News", "a"});
}

// An enciphered name that decodes to "News", a zero byte, "x" is the name
// "News": the text ends at the zero byte the first time it is read, as it
// does once saved.
TEST(FavoritesFile, DecodedNamesEndAtTheirFirstZeroByte) {
  ProgramFolder pf;
  Rec odd = C("");
  odd.codedName = "AFBNEECHHKDI";
  odd.slot = 5;
  ExpectLoadedNamesAndSavedAgainAlike(pf, {C("News"), odd, I("a", "News")}, {"News", "a"});
}

TEST(FavoritesFile, BrokenFilesAddNothing) {
  ProgramFolder pf;
  AddNodeTo(pf.logic, "kept", UrlCategory, nullptr, 0);
  std::string good = FileBytes({C("News"), I("a", "News"), I("b", "News")});
  // Every cut short of the whole file fails and leaves the tree as it was.
  for (size_t cut = 0; cut < good.size(); ++cut) {
    WriteFileBytes(pf.Data("cut.sc"), good.substr(0, cut));
    EXPECT_FALSE(pf.logic.LoadFavorites(pf.Data("cut.sc"))) << cut;
    ASSERT_EQ(1u, pf.logic.GetCount()) << cut;
  }
  // A count no file of this size can hold fails at once.
  std::string huge = "\xFF\xFF\xFF\x7F" + RecordBytes(C("x"));
  WriteFileBytes(pf.Data("huge.sc"), huge);
  EXPECT_FALSE(pf.logic.LoadFavorites(pf.Data("huge.sc")));
  // A string length beyond the end of the file.
  std::string longStr = std::string("\x01\0\0\0", 4) + "\xFF\xFF\xFF\xFF\xFF\xFF\x0F" + "AB";
  WriteFileBytes(pf.Data("long.sc"), longStr);
  EXPECT_FALSE(pf.logic.LoadFavorites(pf.Data("long.sc")));
  EXPECT_FALSE(pf.logic.LoadFavorites(pf.Data("missing.sc")));
  EXPECT_EQ(1u, pf.logic.GetCount());
}

// A file several times the read window, with records of every length
// across its edges and one record larger than the window twice over, loads
// whole; cut anywhere near those edges it fails and leaves the tree alone.
TEST(FavoritesFile, LargeFilesLoadThroughTheReadWindow) {
  ProgramFolder pf;
  std::vector<Rec> recs;
  std::vector<std::string> names;
  for (int c = 0; c < 8; ++c) {
    recs.push_back(C("C" + std::to_string(c)));
    names.push_back(recs.back().name);
    for (int i = 0; i < 400; ++i) {
      recs.push_back(I("i" + std::to_string(c) + "-" + std::to_string(i), recs[recs.size() - 1 - i].name,
                       "http://x/" + std::string((size_t)(i * 37 + c) % 300, 'a' + i % 26)));
      names.push_back(recs.back().name);
    }
  }
  recs[1000].note = std::string(kFavoritesReadWindow * 5 / 2, 'n');
  std::string bytes = FileBytes(recs);
  ASSERT_GT(bytes.size(), 4 * kFavoritesReadWindow);
  ExpectLoadedNamesAndSavedAgainAlike(pf, recs, names);
  CMyNodeList list;
  ASSERT_TRUE(LoadFavoritesFile(list, pf.Data("read.sc")));
  std::vector<const CMyNode*> loaded(list.begin(), list.end());
  EXPECT_EQ(bytes, FavoritesFileBytes(loaded));

  // Whole files whose last record ends one byte past the window, or outgrows it twice.
  for (size_t size : {kFavoritesReadWindow + 1, kFavoritesReadWindow * 9 / 2}) {
    std::vector<Rec> two = {C("W"), I("w", "W")};
    two[1].note = std::string(size, 'n');  // its length's prefix as long as it will be
    two[1].note.resize(size - (FileBytes(two).size() - size));
    ExpectLoadedNamesAndSavedAgainAlike(pf, two, {"W", "w"});
  }

  AddNodeTo(pf.logic, "kept", UrlCategory, nullptr, 0);
  size_t big = FileBytes({recs.begin(), recs.begin() + 1000}).size();
  for (size_t cut : {kFavoritesReadWindow - 1, kFavoritesReadWindow, kFavoritesReadWindow + 1, big + 1,
                     big + kFavoritesReadWindow, bytes.size() - 1}) {
    WriteFileBytes(pf.Data("cut.sc"), bytes.substr(0, cut));
    EXPECT_FALSE(pf.logic.LoadFavorites(pf.Data("cut.sc"))) << cut;
    EXPECT_EQ(1u, pf.logic.GetCount()) << cut;
  }
}

TEST(FavoritesFile, SaveKeepsBackupOfPreviousContents) {
  ProgramFolder pf;
  CMyNode* cat = AddNodeTo(pf.logic, "One", UrlCategory, nullptr, 0);
  AddNodeTo(pf.logic, "桌面", ProgramCategory, nullptr, 0);
  ASSERT_TRUE(pf.logic.SaveFavorites("f.sc"));
  std::string first = ReadFileBytes(pf.Data("f.sc"));
  EXPECT_EQ(std::string("\x01\0\0\0", 4), first.substr(0, 4));  // program nodes are not stored
  cat->m_strName = "Two";
  ASSERT_TRUE(pf.logic.SaveFavorites("f.sc"));
  EXPECT_EQ(first, ReadFileBytes(pf.Data(kBackupFileName)));
  cat->m_strName = "Three";
  ASSERT_TRUE(pf.logic.SaveFavorites("f.sc"));
  CMyNodeList back;
  ASSERT_TRUE(LoadFavoritesFile(back, pf.Data(kBackupFileName)));
  EXPECT_EQ("Two", back.GetAt(0)->m_strName);
  // Nothing but the file and its backup is left behind.
  std::vector<os::DirEntry> entries;
  os::ListFolder(pf.dir / "data", "*.*", entries);
  EXPECT_EQ(4u, entries.size());  // ".", "..", f.sc, the backup
}

TEST(FavoritesFile, FailedSaveLosesNothing) {
  ProgramFolder pf;
  // No data folder: the save fails quietly.
  CAppLogic nodata;
  nodata.m_strProgramDir = pf.dir.Path() + "elsewhere\\";
  EXPECT_FALSE(nodata.SaveFavorites("1-我的收藏.sc"));
  // The new file cannot be written (a folder is in its way): the old one and
  // the backup stay as they were.
  WriteFileBytes(pf.Data("g.sc"), FileBytes({C("Old")}));
  WriteFileBytes(pf.Data(kBackupFileName), FileBytes({C("Older")}));
  os::CreateFolder(pf.Data("g.sc.new"));
  EXPECT_FALSE(pf.logic.SaveFavorites("g.sc"));
  EXPECT_EQ(FileBytes({C("Old")}), ReadFileBytes(pf.Data("g.sc")));
  EXPECT_EQ(FileBytes({C("Older")}), ReadFileBytes(pf.Data(kBackupFileName)));
  os::RemoveFolder(pf.Data("g.sc.new"));
}

#ifndef _WIN32
TEST(FavoritesFile, AWriteRefusedHalfWayLeavesNoPartFile) {
  ProgramFolder pf;
  WriteFileBytes(pf.Data("h.sc"), FileBytes({C("Old")}));
  AddNodeTo(pf.logic, "New", UrlCategory, nullptr, 0, std::string(5000, 'a'));
  // The file system takes 1000 bytes per file and no more, as a full disk would.
  qbtest::CDiskLimit disk(1000);
  ASSERT_TRUE(disk.Fill());
  int saved = pf.logic.SaveFavorites("h.sc");
  disk.Lift();
  EXPECT_FALSE(saved);
  EXPECT_EQ(FileBytes({C("Old")}), ReadFileBytes(pf.Data("h.sc")));
  EXPECT_FALSE(os::FileExists(pf.Data("h.sc.new")));
  EXPECT_FALSE(os::FileExists(pf.Data(kBackupFileName)));
}
#endif

TEST(FavoritesFile, BookmarkFileExportAndImport) {
  ProgramFolder pf;
  WriteFileBytes(pf.Data("a.sc"),
                 FileBytes({C("News"), I("a", "News", "u1"), C("Other"), I("b", "News", "u2"), I("c", "News", "u3"),
                            I("z", "Other")}));
  ASSERT_TRUE(pf.logic.LoadFavorites(pf.Data("a.sc")));
  CMyNode* news = pf.logic.FindNode("News", UrlCategory);
  std::string path = pf.dir / "news.qimbop";
  ASSERT_TRUE(pf.logic.WriteBookmarkFile(path, news));
  std::string bytes = ReadFileBytes(path);
  EXPECT_EQ(std::string("\x04\0\0\0", 4), bytes.substr(0, 4));

  CMyNode* emptyCat = AddNodeTo(pf.logic, "Empty", UrlCategory, nullptr, 0);
  EXPECT_FALSE(pf.logic.WriteBookmarkFile(pf.dir / "empty.qimbop", emptyCat));
  EXPECT_FALSE(os::FileExists(pf.dir / "empty.qimbop"));
  EXPECT_FALSE(pf.logic.WriteBookmarkFile(pf.dir / "none.qimbop", nullptr));
  EXPECT_FALSE(os::FileExists(pf.dir / "none.qimbop"));

  // Importing it beside itself: the name is taken.
  EXPECT_EQ(1, pf.logic.ImportBookmarkFile(path, 9));
  ASSERT_EQ(1u, pf.ui.boxes.size());
  EXPECT_EQ("重名！请修改现有分类名称", pf.ui.boxes[0].text);
  EXPECT_EQ(qb::kMbIconStop, pf.ui.boxes[0].flags & 0xF0);
  EXPECT_EQ(7u, pf.logic.GetCount());
  EXPECT_EQ(1, ImportBookmark(pf.logic, path, 9, nullptr)) << "without a window to say so";
  EXPECT_EQ(7u, pf.logic.GetCount());

  // Into another file's tree: the category takes the tab, items get icons.
  ProgramFolder other;
  ASSERT_TRUE(other.logic.ImportBookmarkFile(path, 9));
  ASSERT_EQ((std::vector<std::string>{"News", "a", "b", "c"}), Names(other.logic));
  EXPECT_EQ(9, other.logic.GetAt(0)->m_nSlot);
  EXPECT_EQ(other.logic.GetAt(0), other.logic.GetAt(3)->m_pParent);
  EXPECT_EQ(other.dir.Path() + "images\\icon\\ieicon\\IE XP0.ico", other.logic.GetAt(1)->m_strIconPath);
  EXPECT_TRUE(other.ui.boxes.empty());

  ProgramFolder first;  // tab 0, the first there is, is a tab as well
  ASSERT_EQ(1, first.logic.ImportBookmarkFile(path, 0));
  EXPECT_EQ(0, first.logic.GetAt(0)->m_nSlot);
  EXPECT_FALSE(other.logic.ImportBookmarkFile(path, -1));
  EXPECT_FALSE(other.logic.ImportBookmarkFile("", 0));
  EXPECT_FALSE(other.logic.ImportBookmarkFile(other.dir / "missing.qimbop", 0));
}

TEST(FavoritesFile, StartUpConvertsLegacyFiles) {
  for (const char* legacy : {"MyFavorites.db", "我的收藏.db"}) {
    ProgramFolder pf;
    WriteFileBytes(pf.Data(legacy), FileBytes({C("Old"), I("a", "Old")}));
    ASSERT_EQ(1, pf.logic.OpenFavoritesAtStart()) << legacy;
    EXPECT_EQ("1-我的收藏.sc", pf.logic.m_strCurrentFile);
    EXPECT_EQ(2u, pf.logic.GetCount());
    EXPECT_FALSE(os::FileExists(pf.Data(legacy)));
    CMyNodeList written;
    ASSERT_TRUE(LoadFavoritesFile(written, pf.Data("1-我的收藏.sc")));
    EXPECT_EQ(2u, written.GetCount());
  }
  // With the current file readable, an old-version file whose contents are
  // in it (a conversion that ended before its delete) goes; one whose
  // contents are not stays where it is.
  ProgramFolder pf;
  WriteFileBytes(pf.Data("1-我的收藏.sc"), FileBytes({C("Now"), C("Old"), I("a", "Old")}));
  WriteFileBytes(pf.Data("我的收藏.db"), FileBytes({C("Old"), I("a", "Old")}));
  WriteFileBytes(pf.Data("MyFavorites.db"), FileBytes({C("Old"), I("b", "Old")}));
  ASSERT_EQ(1, pf.logic.OpenFavoritesAtStart());
  EXPECT_EQ((std::vector<std::string>{"Now", "Old", "a"}), Names(pf.logic));
  EXPECT_FALSE(os::FileExists(pf.Data("我的收藏.db")));
  EXPECT_EQ(FileBytes({C("Old"), I("b", "Old")}), ReadFileBytes(pf.Data("MyFavorites.db")));
}

TEST(FavoritesFile, StartUpConvertsAnOldVersionFileBeforeTheBackup) {
  // An earlier version's data folder: its favorites file and the backup of
  // its last save, which is older than that file.
  for (const char* legacy : {"我的收藏.db", "MyFavorites.db"}) {
    SCOPED_TRACE(legacy);
    ProgramFolder pf;
    WriteFileBytes(pf.Data(legacy), FileBytes({C("Legacy"), I("l", "Legacy")}));
    WriteFileBytes(pf.Data(kBackupFileName), FileBytes({C("Backup")}));
    ASSERT_EQ(1, pf.logic.OpenFavoritesAtStart());
    EXPECT_EQ((std::vector<std::string>{"Legacy", "l"}), Names(pf.logic));
    EXPECT_EQ(FileBytes({C("Legacy"), I("l", "Legacy")}), ReadFileBytes(pf.Data("1-我的收藏.sc")));
    EXPECT_FALSE(os::FileExists(pf.Data(legacy)));
    EXPECT_EQ(FileBytes({C("Backup")}), ReadFileBytes(pf.Data(kBackupFileName)));
  }
  // Both old-version files: the newer one is converted; the older one, whose
  // contents went nowhere, is not deleted.
  ProgramFolder pf;
  WriteFileBytes(pf.Data("我的收藏.db"), FileBytes({C("Newer")}));
  WriteFileBytes(pf.Data("MyFavorites.db"), FileBytes({C("Oldest")}));
  WriteFileBytes(pf.Data(kBackupFileName), FileBytes({C("Backup")}));
  ASSERT_EQ(1, pf.logic.OpenFavoritesAtStart());
  EXPECT_EQ((std::vector<std::string>{"Newer"}), Names(pf.logic));
  EXPECT_FALSE(os::FileExists(pf.Data("我的收藏.db")));
  EXPECT_EQ(FileBytes({C("Oldest")}), ReadFileBytes(pf.Data("MyFavorites.db")));
  // An unreadable old-version file stays, and the next one is tried.
  ProgramFolder broken;
  WriteFileBytes(broken.Data("我的收藏.db"), "\x07");
  WriteFileBytes(broken.Data("MyFavorites.db"), FileBytes({C("Oldest")}));
  ASSERT_EQ(1, broken.logic.OpenFavoritesAtStart());
  EXPECT_EQ((std::vector<std::string>{"Oldest"}), Names(broken.logic));
  EXPECT_EQ("\x07", ReadFileBytes(broken.Data("我的收藏.db")));
  EXPECT_FALSE(os::FileExists(broken.Data("MyFavorites.db")));
}

// An old-version file whose contents are all in the newer one goes with it; a
// conversion whose save fails takes its nodes out before the next file.
TEST(FavoritesFile, StartUpDropsContainedOldFilesAndFailedConversions) {
  ProgramFolder both;
  WriteFileBytes(both.Data("我的收藏.db"), FileBytes({C("Old"), I("a", "Old")}));
  WriteFileBytes(both.Data("MyFavorites.db"), FileBytes({C("Old")}));
  ASSERT_EQ(1, both.logic.OpenFavoritesAtStart());
  EXPECT_FALSE(os::FileExists(both.Data("MyFavorites.db")));

  static int refusals;
  auto refuseOneSave = [](os::FileStep step, const std::string& path) {
    if (step != os::FileStep::Write || path.find("1-我的收藏.sc") == std::string::npos || refusals == 0) return 1;
    return --refusals, 0;
  };
  refusals = 1;
  os::SetFileStepHook(refuseOneSave);
  ProgramFolder pf;
  WriteFileBytes(pf.Data("我的收藏.db"), FileBytes({C("Newer"), I("n", "Newer")}));
  WriteFileBytes(pf.Data("MyFavorites.db"), FileBytes({C("Oldest")}));
  EXPECT_EQ(1, pf.logic.OpenFavoritesAtStart());
  os::SetFileStepHook(nullptr);
  EXPECT_EQ(0, refusals);
  EXPECT_EQ((std::vector<std::string>{"Oldest"}), Names(pf.logic));
  EXPECT_EQ(FileBytes({C("Oldest")}), ReadFileBytes(pf.Data("1-我的收藏.sc")));
  EXPECT_TRUE(os::FileExists(pf.Data("我的收藏.db")));
  // The same for the backup: what it brought gives way to the import.
  ProgramFolder bk;
  bk.logic.m_strHomePath.clear();
  WriteFileBytes(bk.Data(kBackupFileName), FileBytes({C("Backup"), I("k", "Backup")}));
  refusals = 1;
  os::SetFileStepHook(refuseOneSave);
  EXPECT_EQ(1, bk.logic.OpenFavoritesAtStart());
  os::SetFileStepHook(nullptr);
  EXPECT_TRUE(Names(bk.logic).empty());
}

// Without a user profile there is nothing to import: the program starts with
// an empty web folder and saves it as the current file.
TEST(FavoritesFile, StartUpWithoutAProfileStartsEmptyAndSaves) {
  ProgramFolder pf;
  pf.logic.m_strHomePath.clear();
  EXPECT_EQ(1, pf.logic.OpenFavoritesAtStart());
  EXPECT_EQ(0u, pf.logic.GetCount());
  EXPECT_EQ(std::string(4, '\0'), ReadFileBytes(pf.Data("1-我的收藏.sc")));
}

TEST(FavoritesFile, StartUpKeepsAnUnreadableFileAndUsesTheBackup) {
  ProgramFolder pf;
  std::string broken = FileBytes({C("Mine"), I("a", "Mine")});
  broken.resize(broken.size() - 3);
  WriteFileBytes(pf.Data("1-我的收藏.sc"), broken);
  WriteFileBytes(pf.Data(kBackupFileName), FileBytes({C("Backup")}));
  ASSERT_EQ(1, pf.logic.OpenFavoritesAtStart());
  EXPECT_EQ((std::vector<std::string>{"Backup"}), Names(pf.logic));
  EXPECT_EQ(broken, ReadFileBytes(pf.Data("1-我的收藏.sc.bad")));
  EXPECT_EQ(FileBytes({C("Backup")}), ReadFileBytes(pf.Data(kBackupFileName)));
  EXPECT_EQ(std::vector<std::string>{"1-我的收藏.sc"}, pf.logic.ListFavoritesFiles());

  // Again broken, backup broken too: a second aside name, then the import
  // (no Favorites folder here: an empty web folder, still a success).
  WriteFileBytes(pf.Data("1-我的收藏.sc"), broken);
  WriteFileBytes(pf.Data(kBackupFileName), broken);
  CAppLogic again(&pf.ui);
  again.m_strProgramDir = pf.dir.Path();
  again.m_strHomePath = pf.dir.Path() + "nohome";
  ASSERT_EQ(1, again.OpenFavoritesAtStart());
  EXPECT_EQ(0u, again.GetCount());
  EXPECT_EQ(broken, ReadFileBytes(pf.Data("1-我的收藏.sc.bad1")));
  EXPECT_EQ(broken, ReadFileBytes(pf.Data(kBackupFileName)));
  EXPECT_EQ(std::string(4, '\0'), ReadFileBytes(pf.Data("1-我的收藏.sc")));
}

TEST(FavoritesFile, StartUpPutsBackALoneBackup) {
  ProgramFolder pf;
  WriteFileBytes(pf.Data(kBackupFileName), FileBytes({C("Saved")}));
  ASSERT_EQ(1, pf.logic.OpenFavoritesAtStart());
  EXPECT_EQ((std::vector<std::string>{"Saved"}), Names(pf.logic));
  EXPECT_EQ(FileBytes({C("Saved")}), ReadFileBytes(pf.Data("1-我的收藏.sc")));
}

TEST(FavoritesFile, SwitchAndList) {
  ProgramFolder pf;
  WriteFileBytes(pf.Data("1-我的收藏.sc"), FileBytes({C("A"), I("x", "A")}));
  WriteFileBytes(pf.Data("2-work.sc"), FileBytes({C("B")}));
  WriteFileBytes(pf.Data("notes.txt"), "x");
  os::CreateFolder(pf.Data("3-folder.sc"));  // no file: not listed
  ASSERT_EQ(1, pf.logic.OpenFavoritesAtStart());
  AddNodeTo(pf.logic, "Games", ProgramCategory, nullptr, 0);
  // Opening an item from the top-visited menu counts a visit of that item only.
  CMyNode* x = pf.logic.FindNode("x", UrlItem);
  CMyNode* a = pf.logic.FindNode("A", UrlCategory);
  ASSERT_TRUE(x && a);
  const int before = x->m_nVisits, categoryBefore = a->m_nVisits;
  pf.logic.CountTopVisit("x");
  pf.logic.CountTopVisit("x");
  pf.logic.CountTopVisit("A");
  pf.logic.CountTopVisit("nobody");
  EXPECT_EQ(before + 2, x->m_nVisits);
  EXPECT_EQ(categoryBefore, a->m_nVisits);
  pf.logic.BuildTopVisited();
  EXPECT_EQ(1u, pf.logic.m_topVisited.size());
  EXPECT_EQ(2u, pf.logic.ListFavoritesFiles().size());

  EXPECT_EQ(0, pf.logic.SwitchFavoritesFile("3-none.sc"));
  EXPECT_EQ((std::vector<std::string>{"A", "x", "Games"}), Names(pf.logic));

  ASSERT_EQ(1, pf.logic.SwitchFavoritesFile("2-work.sc"));
  EXPECT_EQ((std::vector<std::string>{"Games", "B"}), Names(pf.logic));
  EXPECT_EQ("2-work.sc", pf.logic.m_strCurrentFile);
  EXPECT_TRUE(pf.logic.m_topVisited.empty());

  // A file that does not load changes nothing, so the next save cannot
  // write an empty folder over the current file.
  WriteFileBytes(pf.Data("bad.sc"), "\x05");
  EXPECT_EQ(0, pf.logic.SwitchFavoritesFile("bad.sc"));
  EXPECT_EQ("2-work.sc", pf.logic.m_strCurrentFile);
  EXPECT_EQ((std::vector<std::string>{"Games", "B"}), Names(pf.logic));
  // Back to a file with an item: the top-visited list is built anew.
  ASSERT_EQ(1, pf.logic.SwitchFavoritesFile("1-我的收藏.sc"));
  EXPECT_EQ(1u, pf.logic.m_topVisited.size());
}

TEST(FavoritesFile, TopVisited) {
  CMyNodeList list;
  CMyNode* cat = new CMyNode;
  cat->m_nKind = UrlCategory;
  list.AddNode(cat);
  int counts[] = {5, 9, 9, 1};
  for (int i = 0; i < 4; ++i) {
    CMyNode* n = new CMyNode;
    n->m_strName = "n" + std::to_string(i);
    n->m_strAddress = "u" + std::to_string(i);
    n->m_nVisits = counts[i];
    n->m_pParent = cat;
    list.AddNode(n);
  }
  std::vector<TopVisited> top;
  BuildTopVisitedList(list, top);
  ASSERT_EQ(4u, top.size());
  EXPECT_EQ("n1", top[0].m_strName);
  EXPECT_EQ("n2", top[1].m_strName);
  EXPECT_EQ("n0", top[2].m_strName);
  EXPECT_EQ("n3", top[3].m_strName);
  EXPECT_EQ("u1", top[0].m_strAddress);
  // The last pass of the sort orders the last two.
  list.GetAt(3)->m_nVisits = 1;
  list.GetAt(4)->m_nVisits = 2;
  top.clear();
  BuildTopVisitedList(list, top);
  ASSERT_EQ(4u, top.size());
  EXPECT_EQ((std::vector<std::string>{"n1", "n0", "n3", "n2"}),
            (std::vector<std::string>{top[0].m_strName, top[1].m_strName, top[2].m_strName, top[3].m_strName}));

  // 50 bookmarks: the 38 kept are the first 38 of the whole selection sort.
  CMyNodeList many;
  std::vector<TopVisited> all;
  for (int i = 0; i < 50; ++i) {
    CMyNode* n = new CMyNode;
    n->m_strName = "m" + std::to_string(i);
    n->m_nVisits = (i * 37) % 11;
    many.AddLoadedNode(n);
    all.push_back(TopVisited{n->m_strName, "", n->m_nVisits});
  }
  for (size_t i = 0; i + 1 < all.size(); ++i) {
    size_t best = i;
    for (size_t j = i + 1; j < all.size(); ++j)
      if (all[j].m_nVisits > all[best].m_nVisits) best = j;
    std::swap(all[i], all[best]);
  }
  std::vector<TopVisited> got;
  BuildTopVisitedList(many, got);
  ASSERT_EQ(38u, got.size());
  for (size_t i = 0; i < 38; ++i) EXPECT_EQ(all[i].m_strName, got[i].m_strName) << i;
}

TEST(FavoritesFile, ReplaceWithDownloaded) {
  ProgramFolder pf;
  CMyNode* pc = AddNodeTo(pf.logic, "桌面", ProgramCategory, nullptr, 0);
  AddNodeTo(pf.logic, "a.lnk", ProgramItem, pc, 0);
  WriteFileBytes(pf.Data("old.sc"), FileBytes({C("Old"), I("o", "Old")}));
  pf.logic.LoadFavorites(pf.Data("old.sc"));

  CMyNodeList download;
  auto add = [&](const std::string& name, int kind, const std::string& parent) {
    CMyNode* n = new CMyNode(name, kind, nullptr, 0);
    n->m_strParentName = parent;
    download.AddLoadedNode(n);
  };
  add("x", UrlItem, "New");
  add("New", UrlCategory, "");
  add("lost", UrlItem, "Gone");
  add("桌面", ProgramCategory, "");  // the sender's program folder
  add("b.lnk", ProgramItem, "桌面");
  pf.logic.ReplaceWithDownloaded(download);
  EXPECT_EQ(0u, download.GetCount());
  ASSERT_EQ((std::vector<std::string>{"x", "New", "桌面", "a.lnk"}), Names(pf.logic));
  EXPECT_EQ(pf.logic.GetAt(1), pf.logic.GetAt(0)->m_pParent);
  EXPECT_EQ(pc, pf.logic.GetAt(3)->m_pParent);
  EXPECT_EQ(pc, pf.logic.GetAt(2));
}


// ---- saves ended at every step -------------------------------------------------

// The web-address folder of `list` as file bytes, to compare what loaded.
std::string WebBytes(const CMyNodeList& list) {
  std::vector<const CMyNode*> nodes;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem) nodes.push_back(n);
  return FavoritesFileBytes(nodes);
}

// A folder of some size.
std::string BigFileBytes(const std::string& category, int items) {
  std::vector<Rec> recs{C(category)};
  for (int i = 0; i < items; ++i)
    recs.push_back(I("网站" + std::to_string(i), category, "http://www.example.com.cn/" + std::string(200, 'p') +
                                                           std::to_string(i)));
  return FileBytes(recs);
}

TEST(FavoritesFileCrash, TheCurrentFileLoadsWithItsOldOrNewContentsAfterAnyStep) {
  TempDir dir;
  std::string data = dir / "data\\";
  const std::string current = data + "1-我的收藏.sc";
  const std::string before = FileBytes({C("Old"), I("a", "Old", "http://old/")});
  const std::string older = FileBytes({C("Older")});
  const std::string after = BigFileBytes("New", 400);
  CMyNodeList fresh;
  {
    WriteFileBytes(dir / "new.sc", after);
    ASSERT_TRUE(LoadFavoritesFile(fresh, dir / "new.sc"));
    ASSERT_EQ(after, WebBytes(fresh));
  }
  int loadedOld = 0, loadedNew = 0;
  int steps = qbtest::CrashAtEveryStep(
      [&] {
        qbtest::RemoveTree(data.substr(0, data.size() - 1));
        os::CreateFolder(data.substr(0, data.size() - 1));
        WriteFileBytes(current, before);
        WriteFileBytes(data + kBackupFileName, older);
        WriteFileBytes(current + ".new", after.substr(0, 1000));  // left by an earlier crash
      },
      [&] { SaveFavoritesFile(fresh, data, "1-我的收藏.sc"); },
      [&](int step, bool finished) {
        CAppLogic logic(nullptr);
        logic.m_strProgramDir = dir.Path();
        logic.m_strHomePath = dir.Path() + "nohome";
        ASSERT_EQ(1, logic.OpenFavoritesAtStart()) << "step " << step;
        std::string got = WebBytes(logic);
        if (got == before) {
          ++loadedOld;
        } else if (got == after) {
          ++loadedNew;
        } else {
          ADD_FAILURE() << "neither the old nor the new contents after step " << step;
        }
        if (finished) {
          EXPECT_EQ(after, got);
          EXPECT_EQ(before, ReadFileBytes(data + kBackupFileName));
          EXPECT_FALSE(os::FileExists(current + ".new"));
        }
      });
  // Removing the stale file, the write, flush, close, two renames: every one
  // of them was a place to end.
  EXPECT_GE(steps, 6);
  EXPECT_GT(loadedOld, 0);
  EXPECT_GT(loadedNew, 1) << "a crash after the new file was complete still finds it";
}

TEST(FavoritesFileCrash, AFileReplacedWithoutBackupIsNeverMissing) {
  // qimbo-tool fav make over an existing file, a bookmark file written again.
  TempDir dir;
  const std::string path = dir / "收藏.sc";
  const std::string before = FileBytes({C("Old"), I("a", "Old")});
  const std::string after = BigFileBytes("New", 300);
  int steps = qbtest::CrashAtEveryStep(
      [&] {
        os::RemoveFile(path + ".new");
        WriteFileBytes(path, before);
      },
      [&] { ReplaceFileKeepingBackup(path, "", after); },
      [&](int step, bool finished) {
        CMyNodeList list;
        ASSERT_TRUE(LoadFavoritesFile(list, path)) << "nothing loads after step " << step;
        std::string got = WebBytes(list);
        EXPECT_TRUE(got == before || got == after) << "step " << step;
        if (finished) {
          EXPECT_EQ(after, got);
        }
      });
  EXPECT_GE(steps, 4);  // write, flush, close, rename
}

TEST(FavoritesFileCrash, StartUpGivesEveryFavoritesFileItsCompleteNewContentsBack) {
  ProgramFolder pf;
  WriteFileBytes(pf.Data("1-我的收藏.sc.new"), FileBytes({C("Mine")}));
  WriteFileBytes(pf.Data("2-work.sc.new"), FileBytes({C("Work")}));
  std::string cut = FileBytes({C("Half"), I("h", "Half")});
  WriteFileBytes(pf.Data("3-half.sc.new"), cut.substr(0, cut.size() - 2));
  WriteFileBytes(pf.Data("4-kept.sc"), FileBytes({C("Kept")}));
  WriteFileBytes(pf.Data("4-kept.sc.new"), FileBytes({C("Newer")}));
  ASSERT_EQ(1, pf.logic.OpenFavoritesAtStart());
  EXPECT_EQ((std::vector<std::string>{"Mine"}), Names(pf.logic));
  std::vector<std::string> files = pf.logic.ListFavoritesFiles();
  std::sort(files.begin(), files.end());
  EXPECT_EQ((std::vector<std::string>{"1-我的收藏.sc", "2-work.sc", "4-kept.sc"}), files);
  EXPECT_EQ(FileBytes({C("Work")}), ReadFileBytes(pf.Data("2-work.sc")));
  EXPECT_EQ(FileBytes({C("Kept")}), ReadFileBytes(pf.Data("4-kept.sc"))) << "a file that is there stays";
  EXPECT_TRUE(os::FileExists(pf.Data("3-half.sc.new"))) << "a cut file is not taken, nor deleted";
}

TEST(FavoritesFileCrash, OnlyACompleteNewFileStandsInForAMissingOne) {
  TempDir dir;
  const std::string path = dir / "a.sc";
  std::string whole = FileBytes({C("N"), I("x", "N")});
  WriteFileBytes(path + ".new", whole.substr(0, whole.size() - 1));
  CMyNodeList list;
  EXPECT_FALSE(LoadFavoritesFile(list, path));
  EXPECT_FALSE(os::FileExists(path)) << "a partial file is not taken";
  WriteFileBytes(path + ".new", whole);
  ASSERT_TRUE(LoadFavoritesFile(list, path));
  EXPECT_EQ((std::vector<std::string>{"N", "x"}), Names(list));
  EXPECT_EQ(whole, ReadFileBytes(path));
  EXPECT_FALSE(os::FileExists(path + ".new"));
  // With the file present, a complete ".new" beside it is left alone.
  WriteFileBytes(path + ".new", FileBytes({C("Other")}));
  CMyNodeList again;
  ASSERT_TRUE(LoadFavoritesFile(again, path));
  EXPECT_EQ((std::vector<std::string>{"N", "x"}), Names(again));
}

}  // namespace

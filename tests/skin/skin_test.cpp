#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "base/archive.h"
#include "os/font.h"
#include "os/os.h"
#include "skin/skin.h"
#include "testutil.h"

using namespace qb;
using qbtest::CRecordingUi;
using qbtest::ReadFileBytes;
using qbtest::TempDir;
using qbtest::WriteFileBytes;

namespace {

// Sleeps are recorded, never slept.
std::vector<uint32_t> g_sleeps;
uint32_t FakeTick() { return 1000; }
void FakeSleep(uint32_t ms) { g_sleeps.push_back(ms); }

struct FakeClock {
  FakeClock() {
    g_sleeps.clear();
    os::SetClock(FakeTick, FakeSleep);
  }
  ~FakeClock() { os::SetClock(nullptr, nullptr); }
};

struct RefuseFace {
  explicit RefuseFace(os::FontRefusalFn f) { os::SetFontRefusal(f); }
  ~RefuseFace() { os::SetFontRefusal(nullptr); }
};

os::FontDesc MakeFont(const std::string& face, int32_t height) {
  os::FontDesc d;
  d.head.height = height;
  d.head.width = 7;
  d.head.escapement = 900;
  d.head.orientation = -900;
  d.head.weight = 700;
  d.head.italic = 1;
  d.head.underline = 1;
  d.head.strikeOut = 0;
  d.head.charSet = 134;
  d.head.outPrecision = 3;
  d.head.clipPrecision = 2;
  d.head.quality = 1;
  d.head.pitchAndFamily = 0x31;
  os::SetFaceName(d, face);
  return d;
}

// Five records that differ from the defaults and from each other.
void FillSample(SkinSet& skins) {
  ResetSkins(skins);
  const char* faces[] = {"宋体", "黑体", "Arial", "楷体_GB2312", "Tahoma"};
  for (int i = 0; i < kSkinAreaCount; ++i) {
    SkinStyle& s = skins[i];
    s.m_font = os::CFont::Create(MakeFont(faces[i], -12 - i));
    s.m_clrHoverBack = MakeColour(1, 2, (unsigned)i);
    s.m_clrHoverText = MakeColour(3, 4, (unsigned)i);
    s.m_clrNormalBack = MakeColour(5, 6, (unsigned)i);
    s.m_clrNormalText = MakeColour(7, 8, (unsigned)i);
    s.m_clrPressedBack = MakeColour(9, 10, (unsigned)i);
    s.m_clrPressedText = MakeColour(11, 12, (unsigned)i);
    s.m_nClickMark = i % 2;
    s.m_nFlat = 1 - i % 2;
    s.m_strImagePath = "D:\\皮肤\\area" + std::to_string(i) + ".bmp";
  }
}

void ExpectSameSkins(const SkinSet& a, const SkinSet& b) {
  for (int i = 0; i < kSkinAreaCount; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(!a[i].m_font, !b[i].m_font);
    if (a[i].m_font) {
      EXPECT_TRUE(os::SameFontDesc(a[i].m_font->Desc(), b[i].m_font->Desc()));
    }
    EXPECT_EQ(a[i].m_clrHoverBack, b[i].m_clrHoverBack);
    EXPECT_EQ(a[i].m_clrHoverText, b[i].m_clrHoverText);
    EXPECT_EQ(a[i].m_clrNormalBack, b[i].m_clrNormalBack);
    EXPECT_EQ(a[i].m_clrNormalText, b[i].m_clrNormalText);
    EXPECT_EQ(a[i].m_clrPressedBack, b[i].m_clrPressedBack);
    EXPECT_EQ(a[i].m_clrPressedText, b[i].m_clrPressedText);
    EXPECT_EQ(a[i].m_nClickMark, b[i].m_nClickMark);
    EXPECT_EQ(a[i].m_nFlat, b[i].m_nFlat);
    EXPECT_EQ(a[i].m_strImagePath, b[i].m_strImagePath);
    EXPECT_EQ(a[i].m_strAreaName, b[i].m_strAreaName);
  }
}

// A program folder with skin\.
struct SkinFolder {
  TempDir dir;
  CRecordingUi ui;
  SkinFolder() { EXPECT_TRUE(os::CreateFolder(dir / "skin")); }
  const std::string& Prog() const { return dir.Path(); }
  std::string Db() const { return dir / "skin\\MySkin.db"; }
  std::string Bak() const { return dir / "skin\\MySkin.bak"; }
};

std::string TestData(const std::string& name) { return qbtest::SourceFolder(QIMBO_SKIN_TEST_DATA) + name; }

}  // namespace

TEST(SkinRecords, AreaNamesComeFromTheProgram) {
  SkinSet skins;
  ResetSkins(skins);
  EXPECT_EQ(skins[0].m_strAreaName, "功能按钮区(左下角及中缝)");
  EXPECT_EQ(skins[4].m_strAreaName, "收藏夹添加对话框");
  EXPECT_STREQ(SkinAreaName(5), "");
  EXPECT_STREQ(SkinAreaName(-1), "");
  EXPECT_STREQ(SkinAreaName(4), "收藏夹添加对话框");
  EXPECT_EQ(skins[2].m_clrHoverBack, 0x00C0EAFFu) << "COLORREF: red in the low byte";
  EXPECT_EQ(EncodeSkinRecords(skins).find("书签区"), std::string::npos) << "names are never stored";
}

TEST(SkinRecords, TheSettingsDialogsCopyHasEveryPartButTheFont) {
  SkinSet skins;
  FillSample(skins);
  SkinStyle copy = CopySkinLook(skins[3]);
  EXPECT_FALSE(copy.m_font);
  EXPECT_EQ(copy.m_clrHoverBack, MakeColour(1, 2, 3));
  EXPECT_EQ(copy.m_clrHoverText, MakeColour(3, 4, 3));
  EXPECT_EQ(copy.m_clrNormalBack, MakeColour(5, 6, 3));
  EXPECT_EQ(copy.m_clrNormalText, MakeColour(7, 8, 3));
  EXPECT_EQ(copy.m_clrPressedBack, MakeColour(9, 10, 3));
  EXPECT_EQ(copy.m_clrPressedText, MakeColour(11, 12, 3));
  EXPECT_EQ(copy.m_nClickMark, 1);
  EXPECT_EQ(copy.m_nFlat, 0);
  EXPECT_EQ(copy.m_strImagePath, "D:\\皮肤\\area3.bmp");
  EXPECT_EQ(copy.m_strAreaName, "程序区");
  for (int v : {0, 1}) {
    skins[3].m_nClickMark = v;
    skins[3].m_nFlat = 1 - v;
    SkinStyle c = CopySkinLook(skins[3]);
    EXPECT_EQ(v, c.m_nClickMark);
    EXPECT_EQ(1 - v, c.m_nFlat);
  }
}

TEST(SkinRecords, RecordLayoutAndWordOrder) {
  SkinSet skins;
  FillSample(skins);
  std::string bytes = EncodeSkinRecords(skins);
  std::string head = os::EncodeFontHead(MakeFont("宋体", -12).head);
  ASSERT_EQ(head.size(), 28u);
  EXPECT_EQ(head.substr(0, 8), std::string("\xF4\xFF\xFF\xFF\x07\x00\x00\x00", 8));
  EXPECT_EQ(head.substr(20), std::string("\x01\x01\x00\x86\x03\x02\x01\x31", 8));
  EXPECT_EQ(bytes.substr(0, 28), head);
  EXPECT_EQ(bytes.substr(28, 5), "\x04宋体");
  // pressed back, hover back, normal back, pressed text, hover text, normal
  // text, click mark, flat
  std::string words = bytes.substr(33, 32);
  CMemorySource src(words);
  CArchiveReader ar(src);
  uint32_t w[8];
  for (uint32_t& x : w) ASSERT_TRUE(ar.ReadU32(x));
  EXPECT_EQ(w[0], MakeColour(9, 10, 0));
  EXPECT_EQ(w[1], MakeColour(1, 2, 0));
  EXPECT_EQ(w[2], MakeColour(5, 6, 0));
  EXPECT_EQ(w[3], MakeColour(11, 12, 0));
  EXPECT_EQ(w[4], MakeColour(3, 4, 0));
  EXPECT_EQ(w[5], MakeColour(7, 8, 0));
  EXPECT_EQ(w[6], 0u);
  EXPECT_EQ(w[7], 1u);
  EXPECT_EQ(bytes.substr(65, 1 + skins[0].m_strImagePath.size()), CountedString(skins[0].m_strImagePath));
}

TEST(SkinDatabase, SaveAndLoadRoundTrip) {
  SkinFolder f;
  SkinSet saved, loaded;
  FillSample(saved);
  ASSERT_EQ(SaveSkin(f.Prog(), "", saved), 1);
  std::string first = ReadFileBytes(f.Db());
  ResetSkins(loaded);
  ASSERT_EQ(LoadSkin(f.Prog(), "", loaded, &f.ui), 1);
  ExpectSameSkins(saved, loaded);
  EXPECT_TRUE(f.ui.boxes.empty());
  // Saved again after the load: the same bytes, and the previous file is the backup.
  ASSERT_EQ(SaveSkin(f.Prog(), "", loaded), 1);
  EXPECT_EQ(ReadFileBytes(f.Db()), first);
  EXPECT_EQ(ReadFileBytes(f.Bak()), first);
  FreeSkinFonts(loaded);
  for (auto& s : loaded) EXPECT_FALSE(s.m_font);
}

TEST(SkinDatabase, FaceNamesUpTo31BytesSurviveAndLongerOnesAreCut) {
  SkinFolder f;
  SkinSet skins, back;
  FillSample(skins);
  std::string face31 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ汉字1";  // 26 + 4 + 1 bytes
  ASSERT_EQ(face31.size(), 31u);
  skins[3].m_font = os::CFont::Create(MakeFont(face31, -16));
  ASSERT_EQ(SaveSkin(f.Prog(), "", skins), 1);
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  ASSERT_TRUE(back[3].m_font);
  EXPECT_EQ(os::FaceName(back[3].m_font->Desc()), face31);

  // A longer stored name (another program could write one) is cut to 31
  // bytes, and never in the middle of a double-byte character.
  std::string longAscii(40, 'N');
  std::string longChinese = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234汉字";  // the 31st byte starts 汉
  os::FontDesc d;
  os::SetFaceName(d, longAscii);
  EXPECT_EQ(os::FaceName(d), std::string(31, 'N'));
  os::SetFaceName(d, longChinese);
  EXPECT_EQ(os::FaceName(d), longChinese.substr(0, 30));
  os::SetFaceName(d, std::string("ab\0cd", 5));
  EXPECT_EQ(os::FaceName(d), "ab");
  EXPECT_EQ(std::string(d.faceName, sizeof d.faceName), "ab" + std::string(30, '\0')) << "nothing after the zero";
  // Lead bytes are 0x81 to 0xFE: a character starting with either end stays whole or goes.
  const std::string thirty(30, 'a');
  os::SetFaceName(d, thirty + "\x81\x40");
  EXPECT_EQ(os::FaceName(d), thirty);
  os::SetFaceName(d, thirty + "\xFE\xA1");
  EXPECT_EQ(os::FaceName(d), thirty);
  os::SetFaceName(d, thirty + "\x80\x41");
  EXPECT_EQ(os::FaceName(d), thirty + "\x80");
  os::SetFaceName(d, thirty + "\xFF\x41");
  EXPECT_EQ(os::FaceName(d), thirty + "\xFF");
  // A lead byte that ends the name has no trail byte: it is kept alone, as the 31st byte too.
  os::SetFaceName(d, thirty + "\xB0");
  EXPECT_EQ(os::FaceName(d), thirty + "\xB0");

  // The same through a file: record 0 holds a 40-byte face name.
  std::string bytes = EncodeSkinRecords(skins);
  std::string face0 = CountedString(os::FaceName(skins[0].m_font->Desc()));
  bytes.replace(28, face0.size(), CountedString(longAscii));
  WriteFileBytes(f.Db(), bytes);
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  EXPECT_EQ(os::FaceName(back[0].m_font->Desc()), std::string(31, 'N'));
  EXPECT_EQ(back[4].m_strImagePath, skins[4].m_strImagePath) << "the records after it are read in step";
}

TEST(SkinDatabase, LongImagePathUsesTheSixteenBitPrefix) {
  SkinSet skins;
  FillSample(skins);
  skins[4].m_strImagePath = "C:\\" + std::string(297, 'p');
  std::string bytes = EncodeSkinRecords(skins);
  std::string tail = std::string("\xFF\x2C\x01", 3) + skins[4].m_strImagePath;
  ASSERT_GE(bytes.size(), tail.size());
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
  SkinSet back;
  ResetSkins(back);
  CMemorySource src(bytes);
  CRecordingUi ui;
  ASSERT_EQ(DecodeSkinRecords(src, back, &ui), 1);
  EXPECT_EQ(back[4].m_strImagePath, skins[4].m_strImagePath);
}

TEST(SkinDatabase, WideTextFaceNameIsReadAsGbk) {
  SkinSet skins;
  FillSample(skins);
  std::string bytes = EncodeSkinRecords(skins);
  // Record 0's face "宋体" (04 CB CE CC E5) stored as wide text: 5B8B 4F53.
  bytes.replace(28, 5, std::string("\xFF\xFE\xFF\x02\x8B\x5B\x53\x4F", 8));
  SkinSet back;
  ResetSkins(back);
  CMemorySource src(bytes);
  CRecordingUi ui;
  ASSERT_EQ(DecodeSkinRecords(src, back, &ui), 1);
  EXPECT_EQ(os::FaceName(back[0].m_font->Desc()), "宋体");
}

TEST(SkinDatabase, DamagedFilesFailAndKeepTheUnreadRecords) {
  SkinFolder f;
  SkinSet skins;
  FillSample(skins);
  std::string bytes = EncodeSkinRecords(skins);
  size_t recordSize = bytes.size() / 5;  // every sample record has the same size
  ASSERT_EQ(bytes.size() % 5, 0u);

  // Cut in the middle of record 2.
  WriteFileBytes(f.Db(), bytes.substr(0, 2 * recordSize + 40));
  SkinSet back;
  ResetSkins(back);
  EXPECT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 0);
  EXPECT_EQ(back[0].m_strImagePath, skins[0].m_strImagePath);
  EXPECT_EQ(back[1].m_nFlat, skins[1].m_nFlat);
  EXPECT_TRUE(back[1].m_font);
  EXPECT_EQ(back[2].m_strImagePath, "BackGround.Bmp") << "a half-read record is not applied";
  EXPECT_FALSE(back[2].m_font);
  EXPECT_EQ(back[4].m_clrNormalBack, MakeColour(208, 208, 208));

  // An image path whose length claims 65000 bytes that are not there.
  std::string lying = bytes.substr(0, 3 * recordSize);
  std::string rec3 = bytes.substr(3 * recordSize, recordSize);
  size_t pathAt = recordSize - CountedString(skins[3].m_strImagePath).size();
  lying += rec3.substr(0, pathAt) + std::string("\xFF\xE8\xFD", 3) + "only a little";
  WriteFileBytes(f.Db(), lying);
  ResetSkins(back);
  EXPECT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 0);
  EXPECT_EQ(back[2].m_strImagePath, skins[2].m_strImagePath);
  EXPECT_EQ(back[3].m_strImagePath, "BackGround.Bmp");
  EXPECT_EQ(back[3].m_clrHoverBack, MakeColour(255, 234, 192));

  // A face name claiming a 32-bit length.
  WriteFileBytes(f.Db(), bytes.substr(0, 28) + std::string("\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 7) + "x");
  ResetSkins(back);
  EXPECT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 0);
  EXPECT_FALSE(back[0].m_font);

  // Empty file, missing file.
  WriteFileBytes(f.Db(), "");
  EXPECT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 0);
  os::RemoveFile(f.Db());
  EXPECT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 0);
  EXPECT_TRUE(f.ui.boxes.empty());
}

TEST(SkinDatabase, FontThatCannotBeCreatedIsReportedAndLoadingGoesOn) {
  SkinFolder f;
  SkinSet skins, back;
  FillSample(skins);
  ASSERT_EQ(SaveSkin(f.Prog(), "", skins), 1);
  RefuseFace refuse([](const os::FontDesc& d) { return os::FaceName(d) == "黑体"; });
  ResetSkins(back);
  back[1].m_font = os::CFont::Create(MakeFont("Old", -9));
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, nullptr), 1) << "without a window to tell, loading goes on quietly";
  EXPECT_FALSE(back[1].m_font);
  ResetSkins(back);
  back[1].m_font = os::CFont::Create(MakeFont("Old", -9));
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  ASSERT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_EQ(f.ui.boxes[0].text, "创建字体失败，按确认退出！");
  EXPECT_EQ(f.ui.boxes[0].flags, (unsigned)(kMbOk | kMbIconStop));
  EXPECT_FALSE(back[1].m_font) << "the record is left without a font, not with the old one";
  EXPECT_EQ(back[1].m_strImagePath, skins[1].m_strImagePath);
  EXPECT_TRUE(back[2].m_font);
  EXPECT_EQ(back[4].m_strImagePath, skins[4].m_strImagePath);
}

TEST(SkinDatabase, RecordWithoutFontIsSavedWithTheDefaultFont) {
  SkinFolder f;
  SkinSet skins, back;
  FillSample(skins);
  skins[2].m_font.reset();
  ASSERT_EQ(SaveSkin(f.Prog(), "", skins), 1);
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  ASSERT_TRUE(back[2].m_font);
  EXPECT_TRUE(os::SameFontDesc(back[2].m_font->Desc(), DefaultSkinFont(2)));
  EXPECT_EQ(os::FaceName(back[2].m_font->Desc()), "宋体");
  EXPECT_EQ(back[2].m_font->Desc().head.height, -12);
  EXPECT_EQ(back[2].m_strImagePath, skins[2].m_strImagePath);
}

TEST(SkinDatabase, BackupIsRecoveredWhenTheDatabaseIsMissing) {
  SkinFolder f;
  SkinSet skins, back;
  FillSample(skins);
  ASSERT_EQ(SaveSkin(f.Prog(), "", skins), 1);
  ASSERT_TRUE(os::RenameFile(f.Db(), f.Bak()));
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  ExpectSameSkins(skins, back);
  EXPECT_TRUE(os::FileExists(f.Db()));
  EXPECT_FALSE(os::FileExists(f.Bak()));
}

TEST(SkinDatabase, SaveFailsWithoutTheSkinFolder) {
  TempDir dir;
  SkinSet skins;
  ResetSkins(skins);
  EXPECT_EQ(SaveSkin(dir.Path(), "", skins), 0);
  EXPECT_FALSE(os::FileExists(dir / "skin"));
}

TEST(SkinDatabase, FirstLoadRelocatesIntoTheInstalledSkinOnce) {
  SkinFolder f;
  SkinSet skins, back;
  FillSample(skins);
  skins[0].m_strImagePath = "C:\\Program Files\\Qimbo\\skin\\汽车Qimbo\\car.bmp";
  skins[1].m_strImagePath = "sea.jpg";
  ASSERT_EQ(SaveSkin(f.Prog(), "", skins), 1);
  WriteFileBytes(f.dir / "skin\\FirstRun.txt", "first");

  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  std::string installed = f.Prog() + "skin\\汽车Qimbo\\";
  EXPECT_EQ(back[0].m_strImagePath, installed + "car.bmp");
  EXPECT_EQ(back[1].m_strImagePath, installed + "sea.jpg");
  EXPECT_EQ(back[2].m_strImagePath, installed + "area2.bmp");
  EXPECT_FALSE(os::FileExists(f.dir / "skin\\FirstRun.txt"));
  EXPECT_EQ(ReadFileBytes(f.dir / "skin\\SecondRun.txt"), "first");

  // The relocated paths were saved...
  SkinSet again;
  ResetSkins(again);
  ASSERT_EQ(LoadSkin(f.Prog(), "", again, &f.ui), 1);
  ExpectSameSkins(back, again);
  // ...and a later start leaves the stored paths alone.
  ASSERT_EQ(SaveSkin(f.Prog(), "", skins), 1);
  ResetSkins(again);
  ASSERT_EQ(LoadSkin(f.Prog(), "", again, &f.ui), 1);
  EXPECT_EQ(again[1].m_strImagePath, "sea.jpg");
}

// A new database left beside a missing one is taken only with all five
// records whole; otherwise the backup comes back.
TEST(SkinDatabase, ANewDatabaseIsTakenOnlyWhole) {
  SkinFolder f;
  SkinSet older, newer, back;
  FillSample(older);
  FillSample(newer);
  newer[4].m_clrHoverBack = MakeColour(99, 98, 97);
  WriteFileBytes(f.Bak(), EncodeSkinRecords(older));
  std::string whole = EncodeSkinRecords(newer);
  WriteFileBytes(f.Db() + ".new", whole.substr(0, whole.size() - 1));
  ResetSkins(back);
  ASSERT_EQ(1, LoadSkin(f.Prog(), "", back, &f.ui));
  ExpectSameSkins(older, back);
  ASSERT_TRUE(os::RenameFile(f.Db(), f.Bak()));
  ASSERT_TRUE(os::RemoveFile(f.Db() + ".new"));
  WriteFileBytes(f.Db() + ".new", whole);
  ASSERT_EQ(1, LoadSkin(f.Prog(), "", back, &f.ui));
  ExpectSameSkins(newer, back);
}

TEST(SkinDatabase, FirstRunMarkerReplacesAnOldSecondRunMarker) {
  SkinFolder f;
  SkinSet skins, back;
  FillSample(skins);
  ASSERT_EQ(SaveSkin(f.Prog(), "", skins), 1);
  WriteFileBytes(f.dir / "skin\\FirstRun.txt", "new install");
  WriteFileBytes(f.dir / "skin\\SecondRun.txt", "old install");
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  EXPECT_EQ(back[3].m_strImagePath, f.Prog() + "skin\\汽车Qimbo\\area3.bmp");
  EXPECT_FALSE(os::FileExists(f.dir / "skin\\FirstRun.txt"));
  EXPECT_EQ(ReadFileBytes(f.dir / "skin\\SecondRun.txt"), "new install");

  // A marker that cannot be renamed is removed: the relocation runs once.
  WriteFileBytes(f.dir / "skin\\FirstRun.txt", "again");
  os::SetFileStepHook([](os::FileStep step, const std::string& path) {
    return step == os::FileStep::Rename && path.find("FirstRun.txt") != std::string::npos ? 0 : 1;
  });
  ResetSkins(back);
  int loaded = LoadSkin(f.Prog(), "", back, &f.ui);
  os::SetFileStepHook(nullptr);
  ASSERT_EQ(1, loaded);
  EXPECT_FALSE(os::FileExists(f.dir / "skin\\FirstRun.txt"));

  // The next load does not relocate again.
  ASSERT_EQ(SaveSkin(f.Prog(), "", skins), 1);
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  EXPECT_EQ(back[3].m_strImagePath, skins[3].m_strImagePath);
}

TEST(SkinDatabase, NamedSkinLoadPointsImagesIntoItsFolder) {
  SkinFolder f;
  FakeClock clock;
  SkinSet skins, back;
  FillSample(skins);
  skins[0].m_strImagePath = "E:\\another machine\\pics\\sunset.bmp";
  skins[1].m_strImagePath = "plain.bmp";
  ASSERT_TRUE(os::CreateFolder(f.dir / "skin\\海洋"));
  std::string db = f.dir / "skin\\海洋\\MySkin.db";
  WriteFileBytes(db, EncodeSkinRecords(skins));
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "海洋", back, &f.ui), 1);
  EXPECT_EQ(back[0].m_strImagePath, f.Prog() + "skin\\海洋\\sunset.bmp");
  EXPECT_EQ(back[1].m_strImagePath, f.Prog() + "skin\\海洋\\plain.bmp");
  EXPECT_EQ(back[2].m_strImagePath, f.Prog() + "skin\\海洋\\area2.bmp");
  EXPECT_EQ(ReadFileBytes(db), EncodeSkinRecords(skins)) << "loading a named skin saves nothing";
  EXPECT_FALSE(os::FileExists(f.Db()));
  EXPECT_EQ(LoadSkin(f.Prog(), "没有", back, &f.ui), 0);
  EXPECT_TRUE(g_sleeps.empty());
}

TEST(SkinDatabase, NamedSkinSaveCopiesImagesAndPauses) {
  SkinFolder f;
  FakeClock clock;
  ASSERT_TRUE(os::CreateFolder(f.dir / "pics"));
  ASSERT_TRUE(os::CreateFolder(f.dir / "more"));
  WriteFileBytes(f.dir / "pics\\same.bmp", "first same");
  WriteFileBytes(f.dir / "more\\same.bmp", "second same");
  WriteFileBytes(f.dir / "BackGround.Bmp", "default picture");
  WriteFileBytes(f.dir / "pics\\车.jpg", "jpeg");
  SkinSet skins;
  FillSample(skins);
  skins[0].m_strImagePath = f.dir / "pics\\same.bmp";
  skins[1].m_strImagePath = f.dir / "pics\\车.jpg";
  skins[2].m_strImagePath = f.dir / "more\\same.bmp";
  skins[3].m_strImagePath = "BackGround.Bmp";  // relative: the program directory
  skins[4].m_strImagePath = f.dir / "pics\\missing.bmp";
  SkinSet before;
  FillSample(before);
  for (int i = 0; i < kSkinAreaCount; ++i) before[i].m_strImagePath = skins[i].m_strImagePath;

  ASSERT_EQ(SaveSkin(f.Prog(), "我的皮肤", skins), 1);
  std::string folder = f.dir / "skin\\我的皮肤\\";
  EXPECT_EQ(ReadFileBytes(folder + "same.bmp"), "second same") << "the later area's copy wins";
  EXPECT_EQ(ReadFileBytes(folder + "车.jpg"), "jpeg");
  EXPECT_EQ(ReadFileBytes(folder + "BackGround.Bmp"), "default picture");
  EXPECT_FALSE(os::FileExists(folder + "missing.bmp"));
  EXPECT_EQ(g_sleeps, std::vector<uint32_t>(5, 1200u));
  ExpectSameSkins(before, skins);
  EXPECT_EQ(ReadFileBytes(folder + "MySkin.db"), EncodeSkinRecords(skins)) << "paths are stored as they were";
  EXPECT_FALSE(os::FileExists(f.Db())) << "the current skin is not touched";

  // Saving the same name again keeps the previous database as its backup,
  // and the chosen skin then loads with paths into its own folder.
  std::string previous = ReadFileBytes(folder + "MySkin.db");
  skins[1].m_nFlat = 7;
  ASSERT_EQ(SaveSkin(f.Prog(), "我的皮肤", skins), 1);
  EXPECT_EQ(ReadFileBytes(folder + "MySkin.bak"), previous);
  SkinSet chosen;
  ResetSkins(chosen);
  FreeSkinFonts(chosen);
  ASSERT_EQ(LoadSkin(f.Prog(), "我的皮肤", chosen, &f.ui), 1);
  ASSERT_EQ(SaveSkin(f.Prog(), "", chosen), 1);
  EXPECT_EQ(chosen[0].m_strImagePath, folder + "same.bmp");
  EXPECT_EQ(chosen[3].m_strImagePath, folder + "BackGround.Bmp");
  EXPECT_EQ(chosen[1].m_nFlat, 7);
}

// The checked-in database was written by the Windows build (see
// MakeGoldenSet); both builds must read it and write it back byte for byte.
namespace {
void MakeGoldenSet(SkinSet& skins) {
  FillSample(skins);
  skins[1].m_font = os::CFont::Create(MakeFont("ABCDEFGHIJKLMNOPQRSTUVWXYZ汉字1", -21));
  skins[2].m_font.reset();  // saved with the default font
  skins[3].m_strImagePath = "C:\\" + std::string(297, 'p');
  skins[4].m_strImagePath = "";
  skins[4].m_clrNormalText = 0x00FFFFFFu;
}
}  // namespace

TEST(SkinDatabase, GoldenFileIsTheSameOnEveryBuild) {
  SkinSet skins;
  MakeGoldenSet(skins);
  if (const char* out = getenv("QIMBO_WRITE_SKIN_GOLDEN")) {
    WriteFileBytes(os::ProgramPath(out), EncodeSkinRecords(skins));
    GTEST_SKIP() << "golden file written to " << out;
  }
  std::string golden = ReadFileBytes(TestData("golden-MySkin.db"));
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(EncodeSkinRecords(skins), golden);

  SkinFolder f;
  WriteFileBytes(f.Db(), golden);
  SkinSet back;
  ResetSkins(back);
  ASSERT_EQ(LoadSkin(f.Prog(), "", back, &f.ui), 1);
  EXPECT_EQ(back[1].m_font->Desc().head.height, -21);
  EXPECT_EQ(os::FaceName(back[2].m_font->Desc()), "宋体");
  EXPECT_EQ(back[3].m_strImagePath.size(), 300u);
  ASSERT_EQ(SaveSkin(f.Prog(), "", back), 1);
  EXPECT_EQ(ReadFileBytes(f.Db()), golden);
}

TEST(SkinImages, RelativeNamesAreFilesOfTheProgramDirectory) {
  EXPECT_EQ("C:\\Qimbo\\BackGround.Bmp", SkinImageFile("C:\\Qimbo\\", "BackGround.Bmp"));
  EXPECT_EQ("C:\\Qimbo\\skin\\a\\main.jpg", SkinImageFile("C:\\Qimbo\\", "skin\\a\\main.jpg"));
  EXPECT_EQ("D:\\pics\\main.jpg", SkinImageFile("C:\\Qimbo\\", "D:\\pics\\main.jpg"));
  EXPECT_EQ("\\\\server\\share\\main.jpg", SkinImageFile("C:\\Qimbo\\", "\\\\server\\share\\main.jpg"));
  EXPECT_EQ("", SkinImageFile("C:\\Qimbo\\", "")) << "no image stays no image";
  EXPECT_EQ("\\pics\\main.jpg", SkinImageFile("C:\\Qimbo\\", "\\pics\\main.jpg")) << "from the drive's root";
  EXPECT_EQ("/pics/main.jpg", SkinImageFile("C:\\Qimbo\\", "/pics/main.jpg"));
  EXPECT_EQ("E:", SkinImageFile("C:\\Qimbo\\", "E:"));
}

// The settings dialog's rules without a window: the new skin's folder name,
// the areas' kinds, the hand-over of an edited record, the sample captions,
// and the named save whose pauses a window fills.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/font.h"
#include "os/os.h"
#include "skin/skin.h"
#include "skin/skin_edit.h"
#include "testutil.h"

using namespace qb;

namespace {

std::unique_ptr<os::CFont> Font(const std::string& face) { return os::CFont::Create(qbtest::ChineseFont(face, -14, 400)); }

TEST(SkinName, CleanedInTheOrderOfTheRules) {
  EXPECT_EQ("my skin", CleanSkinName("My Skin.url"));
  EXPECT_EQ("abc", CleanSkinName("A*B\"C"));
  EXPECT_EQ("ab", CleanSkinName("a\\b/"));
  EXPECT_EQ("ab", CleanSkinName("<a>:b?|"));
  EXPECT_EQ("ab", CleanSkinName("a - b"));
  EXPECT_EQ("ab", CleanSkinName("a  b"));
  EXPECT_EQ("a b", CleanSkinName("a   b")) << "two of three blanks go first, one stays";
  EXPECT_EQ("a b", CleanSkinName("a b")) << "a single blank stays";
  EXPECT_EQ("site", CleanSkinName("SITE.COM"));
  EXPECT_EQ("tool", CleanSkinName("tool.exe"));
  EXPECT_EQ("a-b", CleanSkinName("a---b")) << "\"--\" once, leaving one dash";
  EXPECT_EQ("a-b", CleanSkinName("a—b")) << "the em dash becomes a dash";
}

TEST(SkinName, NoPathLeavesTheSkinFolder) {
  EXPECT_EQ("etc", CleanSkinName("..\\..\\etc"));
  EXPECT_EQ("cwindows", CleanSkinName("C:\\Windows"));
  EXPECT_EQ("", CleanSkinName(".."));
  EXPECT_EQ("", CleanSkinName("...."));
  EXPECT_EQ("", CleanSkinName(" . "));
  EXPECT_EQ("", CleanSkinName(""));
}

TEST(SkinName, BlanksAtTheEndsGoAndChineseStaysWhole) {
  EXPECT_EQ("x", CleanSkinName(" X "));
  EXPECT_EQ("a b", CleanSkinName(" a b  "));
  EXPECT_EQ("汽车skin", CleanSkinName("汽车SKIN"));
  // 丏 is 81 44: its trail byte is 'D', which lowering would turn into another character.
  EXPECT_EQ("丏d", CleanSkinName("丏D"));
}

TEST(SkinAreaKinds, TextOnlyAreasAreTheBookmarksAndPrograms) {
  EXPECT_TRUE(AreaTakesAllColours(0));
  EXPECT_TRUE(AreaTakesAllColours(1));
  EXPECT_FALSE(AreaTakesAllColours(2));
  EXPECT_FALSE(AreaTakesAllColours(3));
  EXPECT_TRUE(AreaTakesAllColours(4));
}

struct Records {
  SkinSet skins;
  Records() {
    ResetSkins(skins);
    for (int i = 0; i < kSkinAreaCount; ++i) {
      skins[i].m_clrHoverText = MakeColour(10 * i, 1, 2);
      skins[i].m_nFlat = i % 2;
      skins[i].m_strImagePath = "C:\\skins\\" + std::to_string(i) + ".bmp";
      skins[i].m_font = Font(i == 1 ? "黑体" : "宋体");
    }
  }
};

TEST(SkinWorkingCopy, CopiesTheLookButNotTheFont) {
  Records r;
  SkinStyle w = WorkingCopyOf(r.skins, 1);
  EXPECT_EQ(MakeColour(10, 1, 2), w.m_clrHoverText);
  EXPECT_EQ(1, w.m_nFlat);
  EXPECT_EQ("C:\\skins\\1.bmp", w.m_strImagePath);
  EXPECT_EQ("目录区", w.m_strAreaName);
  EXPECT_EQ(nullptr, w.m_font);
  ASSERT_NE(nullptr, r.skins[1].m_font) << "the area keeps its font";
  EXPECT_EQ(nullptr, WorkingCopyOf(r.skins, 5).m_font);
  EXPECT_EQ("", WorkingCopyOf(r.skins, -1).m_strAreaName);
}

TEST(SkinWorkingCopy, WithoutAFontTakesOverTheAreasFont) {
  Records r;
  const os::CFont* old = r.skins[1].m_font.get();
  SkinStyle w = WorkingCopyOf(r.skins, 1);
  w.m_clrHoverText = MakeColour(1, 2, 3);
  w.m_strImagePath = "D:\\new.jpg";
  w.m_strAreaName = "书签区";  // a name the copy carried from elsewhere
  ASSERT_EQ(1, TakeWorkingCopy(r.skins, 1, w));
  EXPECT_EQ(old, r.skins[1].m_font.get()) << "the same font object, not a copy";
  EXPECT_EQ(MakeColour(1, 2, 3), r.skins[1].m_clrHoverText);
  EXPECT_EQ("D:\\new.jpg", r.skins[1].m_strImagePath);
  EXPECT_EQ("目录区", r.skins[1].m_strAreaName);
  EXPECT_EQ(nullptr, w.m_font);
  EXPECT_EQ(MakeColour(20, 1, 2), r.skins[2].m_clrHoverText) << "other areas untouched";
}

TEST(SkinWorkingCopy, WithAFontReplacesTheAreasFont) {
  Records r;
  SkinStyle w = WorkingCopyOf(r.skins, 4);
  w.m_font = Font("Tahoma");
  const os::CFont* picked = w.m_font.get();
  ASSERT_EQ(1, TakeWorkingCopy(r.skins, 4, w));
  ASSERT_EQ(picked, r.skins[4].m_font.get());
  EXPECT_EQ("Tahoma", os::FaceName(r.skins[4].m_font->Desc()));
  EXPECT_EQ(nullptr, w.m_font);
}

TEST(SkinWorkingCopy, AnAreaOutsideTheFiveChangesNothing) {
  Records r;
  std::string before = EncodeSkinRecords(r.skins);
  for (int area : {-1, 5}) {
    EXPECT_EQ(SkinStyle().m_clrNormalBack, WorkingCopyOf(r.skins, area).m_clrNormalBack) << "no area " << area;
    SkinStyle w = WorkingCopyOf(r.skins, 0);
    w.m_clrNormalBack = MakeColour(9, 9, 9);
    EXPECT_EQ(0, TakeWorkingCopy(r.skins, area, w)) << area;
  }
  EXPECT_EQ(before, EncodeSkinRecords(r.skins));
  SkinStyle last = WorkingCopyOf(r.skins, 0);
  r.skins[0].m_strAreaName.clear();
  EXPECT_EQ(1, TakeWorkingCopy(r.skins, 0, last)) << "area 0 is inside";
  EXPECT_EQ("功能按钮区(左下角及中缝)", r.skins[0].m_strAreaName) << "a record without a name takes the area's";
  // The first and the last area are copied like the others.
  r.skins[0].m_clrNormalBack = MakeColour(1, 2, 3);
  r.skins[4].m_clrNormalBack = MakeColour(4, 5, 6);
  EXPECT_EQ(MakeColour(1, 2, 3), WorkingCopyOf(r.skins, 0).m_clrNormalBack);
  EXPECT_EQ(MakeColour(4, 5, 6), WorkingCopyOf(r.skins, 4).m_clrNormalBack);
}

TEST(SkinSamples, CaptionNamesTheAreasFont) {
  auto font = Font("黑体");
  EXPECT_EQ("透明样板-黑体", SampleCaption("透明样板-", font.get()));
  EXPECT_EQ("按钮样板-", SampleCaption("按钮样板-", nullptr));
}

// The settings dialog fills the pauses of a named save with painting: the
// pause takes the sleep's place, five times, between the copies.
TEST(SkinNamedSave, PausesGoThroughTheGivenPause) {
  qbtest::TempDir dir;
  std::string prog = dir.Path();
  ASSERT_TRUE(os::CreateFolder(prog + "skin"));
  qbtest::WriteFileBytes(prog + "a.bmp", "picture a");
  SkinSet skins;
  ResetSkins(skins);
  for (auto& s : skins) s.m_strImagePath = prog + "a.bmp";
  std::vector<uint32_t> pauses;
  std::vector<bool> copiedAtPause;
  std::string name = CleanSkinName("My Skin.url");
  ASSERT_EQ(1, SaveSkin(prog, name, skins, [&](uint32_t ms) {
              pauses.push_back(ms);
              copiedAtPause.push_back(os::FileExists(prog + "skin\\my skin\\a.bmp"));
            }));
  EXPECT_EQ(std::vector<uint32_t>(5, 1200u), pauses);
  EXPECT_EQ(std::vector<bool>(5, true), copiedAtPause) << "each pause follows a copy";
  EXPECT_TRUE(os::FileExists(prog + "skin\\my skin\\MySkin.db"));
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panels/find_logic.h"
#include "panels/pinyin_table.h"
#include "store/node.h"
#include "tree_util.h"

using namespace panels;

namespace {
using qbtest::AddNodeTo;

struct TierCase {
  const char* name;
  const char* word;
  int tier;
};

void ExpectTiers(const std::vector<TierCase>& cases) {
  for (const TierCase& c : cases)
    EXPECT_EQ(c.tier, NameTier(NormalizeFindText(c.name), NormalizeFindText(c.word)))
        << "name #" << (&c - &cases[0]) << " word " << c.word;
}

std::vector<std::string> Readings(const char* gbkChar) {
  unsigned short r[pinyin::kMaxReadings];
  int n = pinyin::ReadingsOf((unsigned char)gbkChar[0], (unsigned char)gbkChar[1], r, pinyin::kMaxReadings);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(pinyin::Syllable(r[i]));
  return out;
}
bool HasReading(const char* gbkChar, const std::string& s) {
  for (const std::string& r : Readings(gbkChar))
    if (r == s) return true;
  return false;
}

std::vector<std::string> Captions(const std::vector<FindHit>& hits) {
  std::vector<std::string> out;
  for (const FindHit& h : hits) out.push_back(h.entry->caption);
  return out;
}

}  // namespace

TEST(PinyinTable, CoversTheChineseCharactersOfTheCodePageWithEveryReading) {
  // GB2312 alone has 6763 characters, GBK about 21000.
  EXPECT_GT(pinyin::kCodesWithReading, 20800);
  EXPECT_EQ(std::vector<std::string>{"xin"}, Readings("新"));
  EXPECT_TRUE(HasReading("行", "xing") && HasReading("行", "hang"));
  EXPECT_TRUE(HasReading("长", "chang") && HasReading("长", "zhang"));
  EXPECT_TRUE(HasReading("绿", "lv") && HasReading("绿", "lu"));
  // The first character of the GBK extension, the last of GB2312.
  EXPECT_TRUE(HasReading("\x81\x40", "kao"));  // 丂
  EXPECT_EQ(std::vector<std::string>{"zha"}, Readings("\xF7\xFE"));  // 齄
  // Codes that are no Chinese character have none; nothing outside the table.
  EXPECT_TRUE(Readings("\xA3\xC1").empty());  // full-width A
  EXPECT_TRUE(Readings("\xA1\xA1").empty());
  unsigned short r[4];
  EXPECT_EQ(0, pinyin::ReadingsOf(0x80, 0x40, r, 4));
  EXPECT_EQ(0, pinyin::ReadingsOf(0xB0, 0x3F, r, 4));
  EXPECT_EQ(0, pinyin::ReadingsOf(0xB0, 0xFF, r, 4));
  EXPECT_EQ(0, pinyin::ReadingsOf(0xFF, 0xA1, r, 4));
  // Toneless ASCII syllables, none longer than six letters.
  for (int i = 0; i < pinyin::kSyllableCount; ++i) {
    std::string s = pinyin::Syllable(i);
    ASSERT_TRUE(!s.empty() && s.size() <= 6) << s;
    for (char c : s) ASSERT_TRUE(c >= 'a' && c <= 'z') << s;
  }
}

TEST(FindText, FoldsCaseAndWidthButNeverSplitsACharacter) {
  EXPECT_EQ("abc1 x!", NormalizeFindText("ＡＢｃ１　x！"));
  EXPECT_EQ("qq邮箱", NormalizeFindText("QQ邮箱"));
  // The yen sign and the full-width macron are no ASCII.
  EXPECT_EQ("￥￣", NormalizeFindText("￥￣"));
  // A trail byte that looks like a capital letter stays as it is, and so
  // does a lead byte at the very end.
  EXPECT_EQ("\x81\x41x\x81", NormalizeFindText("\x81\x41X\x81"));
  EXPECT_EQ((std::vector<std::string>{"bai", "du"}), FindWords("  BAI　du\t"));
  EXPECT_TRUE(FindWords(" 　 ").empty());
}

TEST(FindMatch, PinyinFullInitialsAndMixes) {
  ExpectTiers({
      {"百度", "baidu", kTierPrefix},
      {"百度", "bd", kTierPrefix},
      {"百度", "baid", kTierPrefix},
      {"百度", "bdu", kTierPrefix},
      {"百度", "BaiDu", kTierPrefix},
      {"百度", "ｂｄ", kTierPrefix},
      {"新闻中心", "xwzx", kTierPrefix},
      {"新闻中心", "xinwenzhongxin", kTierPrefix},
      {"新闻中心", "xinwzx", kTierPrefix},
      {"新闻中心", "zhongx", kTierWordStart},
      {"新闻中心", "zx", kTierWordStart},
      {"百度", "du", kTierWordStart},
      // A syllable is begun at its start only, and all of the word is used.
      {"百度", "aidu", kTierNone},
      {"百度", "bdx", kTierNone},
      {"新闻中心", "xwx", kTierNone},
      // Letters and digits in the name take themselves.
      {"QQ音乐", "qqyy", kTierPrefix},
      {"3D打印", "3ddy", kTierPrefix},
      {"我的Google", "wdgoogle", kTierPrefix},
      // Other characters between are passed over.
      {"百度·新闻", "bdxw", kTierPrefix},
      {"[官方]百度", "gfbd", kTierPrefix},
  });
}

TEST(FindMatch, APolyphonicCharacterMatchesByAnyReading) {
  ExpectTiers({
      {"银行", "yinhang", kTierPrefix},
      {"银行", "yinxing", kTierPrefix},
      {"银行", "yh", kTierPrefix},
      {"银行", "yx", kTierPrefix},
      {"行长", "hangzhang", kTierPrefix},
      {"行长", "xingchang", kTierPrefix},
      {"长城", "cc", kTierPrefix},
      {"长城", "zc", kTierPrefix},
      {"绿色", "lvse", kTierPrefix},
      {"绿色", "luse", kTierPrefix},
      {"音乐", "yinyue", kTierPrefix},
      {"音乐", "yinle", kTierPrefix},
  });
}

TEST(FindMatch, ApostrophesSeparateSyllables) {
  ExpectTiers({
      {"西安", "xi'an", kTierPrefix},
      {"西安", "xian", kTierPrefix},
      {"先锋", "xi'an", kTierNone},
      {"先锋", "xianf", kTierPrefix},
      {"西安", "'xian'", kTierPrefix},
      {"百度", "'", kTierNone},
      {"it's", "'", kTierWordStart},
  });
}

TEST(FindMatch, CharactersPrefixWordStartAndAnywhere) {
  ExpectTiers({
      {"百度新闻", "百度", kTierPrefix},
      {"我的百度", "百度", kTierWordStart},
      {"我的百度", "的百", kTierWordStart},
      {"Google Maps", "maps", kTierWordStart},
      {"Google Maps", "MAPS", kTierWordStart},
      {"google-maps", "maps", kTierWordStart},
      {"百度map", "map", kTierWordStart},
      {"Google Maps", "aps", kTierAnywhere},
      {"Google Maps", "oogle", kTierAnywhere},
      {"Google Maps", "google maps", kTierPrefix},
      {"Google Maps", "bing", kTierNone},
      // A match across the two bytes of neighbouring characters is none:
      // 百 is B0 D9, 度 is B6 C8; "\xD9\xB6" is 俣 and lies across them.
      {"百度", "\xD9\xB6", kTierNone},
      // Regular-expression characters are plain characters.
      {"a.b", ".", kTierWordStart},
      {"ab", ".*", kTierNone},
      {"c++ 教程", "c++", kTierPrefix},
  });
}

TEST(FindIndex, RanksByTierThenVisitsThenLastVisitAcrossCategoriesAndPrograms) {
  CMyNodeList list;
  CMyNode* news = AddNodeTo(list, "新闻", UrlCategory, nullptr, 0);
  CMyNode* tools = AddNodeTo(list, "工具", UrlCategory, nullptr, 1);
  CMyNode* desk = AddNodeTo(list, "桌面", ProgramCategory, nullptr, 0);
  CMyNode* inside = AddNodeTo(list, "我的百度", UrlItem, news, 0, "http://my.example/");
  CMyNode* often = AddNodeTo(list, "百度地图", UrlItem, tools, 0, "http://map.baidu.com/");
  CMyNode* seldom = AddNodeTo(list, "百度.url", UrlItem, news, 1, "http://www.baidu.com/");
  CMyNode* later = AddNodeTo(list, "百度贴吧", UrlItem, news, 2, "http://tieba.example/");
  CMyNode* noted = AddNodeTo(list, "搜索", UrlItem, tools, 1, "http://so.example/");
  CMyNode* prog = AddNodeTo(list, "百度网盘.lnk", ProgramItem, desk, 0, "C:\\baidu\\");
  ASSERT_TRUE(inside && often && seldom && later && noted && prog);
  often->m_nVisits = 9;
  seldom->m_nVisits = 2;
  seldom->m_tLastVisit = 100;
  later->m_nVisits = 2;
  later->m_tLastVisit = 200;
  prog->m_nVisits = 2;
  prog->m_tLastVisit = 50;
  noted->m_strNote = "常用的百度";
  CFindIndex index;
  index.Build(list);
  EXPECT_EQ(6u, index.Size());

  std::vector<FindHit> hits = index.Find("bd");
  EXPECT_EQ((std::vector<std::string>{"百度地图", "百度贴吧", "百度", "百度网盘", "我的百度"}), Captions(hits));
  ASSERT_EQ(5u, hits.size());
  EXPECT_EQ("工具", hits[0].entry->where);
  EXPECT_EQ("新闻", hits[2].entry->where);
  EXPECT_EQ(kProgramFolderName, hits[3].entry->where);
  EXPECT_EQ(prog, hits[3].entry->node.Get());
  EXPECT_EQ(kTierWordStart, hits[4].tier);

  // Notes and addresses are found anywhere, after every name match; a
  // program entry is found by its name only.
  hits = index.Find("百度");
  EXPECT_EQ((std::vector<std::string>{"百度地图", "百度贴吧", "百度", "百度网盘", "我的百度", "搜索"}), Captions(hits));
  EXPECT_EQ(kTierAnywhere, hits.back().tier);
  EXPECT_EQ((std::vector<std::string>{"百度地图", "百度"}), Captions(index.Find("baidu.com")));
  EXPECT_TRUE(index.Find("C:\\").empty());

  // Every word must match; the worst word ranks the entry.
  EXPECT_EQ((std::vector<std::string>{"百度地图"}), Captions(index.Find("bd 地图")));
  hits = index.Find("ditu baidu");
  ASSERT_EQ(1u, hits.size());
  EXPECT_EQ(kTierWordStart, hits[0].tier);
  EXPECT_TRUE(index.Find("bd xyz").empty());
  EXPECT_EQ(2u, index.Find("bd", 2).size());

  // A node the tree frees is found no more.
  EXPECT_TRUE(list.RemoveNode(often));
  delete often;
  EXPECT_EQ((std::vector<std::string>{"百度贴吧", "百度", "百度网盘", "我的百度"}), Captions(index.Find("bd")));
}

TEST(FindIndex, AnyTypedTextFindsWhatItMatchesOrNothing) {
  CMyNodeList list;
  CMyNode* cat = AddNodeTo(list, "类", UrlCategory, nullptr, 0);
  std::string longName;
  for (int i = 0; i < 120; ++i) longName += "中";
  AddNodeTo(list, longName, UrlItem, cat, 0, "http://a.example/");
  AddNodeTo(list, "笑&#x1F600;脸", UrlItem, cat, 1, "http://smile.example/");
  AddNodeTo(list, "a.*b", UrlItem, cat, 2, "http://re.example/");
  CFindIndex index;
  index.Build(list);
  std::string many(500, 'z');
  std::string zhong;
  for (int i = 0; i < 100; ++i) zhong += "zhong";
  std::string allChars;
  for (int c = 1; c < 256; ++c) allChars += (char)c;
  struct {
    std::string query;
    size_t found;
  } cases[] = {
      {"", 0},
      {"'", 0},
      {"&#x1F600;", 1},
      {"&#X1f600;", 1},
      {"\xFF\xFF", 0},
      {"\x81", 0},
      {std::string("\0", 1), 0},
      {".*", 1},
      {"[(", 0},
      {"\\", 0},
      {many, 0},
      {zhong, 1},
      {std::string(500, 'z') + "h", 0},
      {allChars, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.found, index.Find(c.query).size()) << "query of " << c.query.size() << " bytes";
}

#include <gtest/gtest.h>

#include "net/chat_links.h"

using qb::FindChatLinks;
using qb::IsChatLinkAddress;

namespace {
// The links of a text, as their texts.
std::vector<std::u16string> Links(const std::u16string& text) {
  std::vector<std::u16string> out;
  for (const qb::ChatLink& l : FindChatLinks(text)) out.push_back(text.substr(l.from, l.to - l.from));
  return out;
}
}  // namespace

// A stranger in a circle writes the chat lines: only web and mail addresses
// may become something one click hands to the shell.
TEST(ChatLinks, OnlyWebAndMailAddressesAreLinks) {
  for (const char16_t* ok : {u"http://a.example/", u"HTTPS://a.example/x?y=1", u"ftp://files.example/f.zip",
                             u"mailto:someone@example.com", u"www.example.com", u"WWW.Example.com/a"})
    EXPECT_TRUE(IsChatLinkAddress(ok)) << std::string(ok, ok + std::char_traits<char16_t>::length(ok));
  for (const char16_t* no :
       {u"file:///C:/Windows/System32/calc.exe", u"\\\\host\\share\\x.exe", u"javascript:alert(1)",
        u"ms-settings:", u"shell:startup", u"search-ms:query=x", u"c:\\windows\\notepad.exe", u"telnet://h",
        u"news:comp.lang", u"http:", u"https://", u"www.", u"http://a b", u"http://a\nfile://b", u"", u" http://a/",
        u"xhttp://a/", u"wwwx.example"})
    EXPECT_FALSE(IsChatLinkAddress(no)) << std::string(no, no + std::char_traits<char16_t>::length(no));
}

// A box that gained text marks links again only in the stretch around the
// new text: what is found there is what a look at the whole text finds.
TEST(ChatLinks, TheStretchAroundAnEditHoldsTheWholeTextsLinksThere) {
  auto inside = [](const qb::ChatLink& l, const qb::ChatLink& s) { return l.from >= s.from && l.to <= s.to; };
  for (const std::u16string& text :
       {std::u16string(u"see http://a.example/x, and www.b.example."),
        std::u16string(u"\r\n\u7532(1)   12:00:00\r\nhttp://c.example/\u3000mailto:x@y.z\r\n"),
        std::u16string(u"a.http://no/ (https://d.example/(x) \"www.e.example\""), std::u16string(u"plainwords"),
        std::u16string(u"http://f.example/g")}) {
    std::vector<qb::ChatLink> all = FindChatLinks(text);
    for (size_t from = 0; from <= text.size(); ++from)
      for (size_t to = from; to <= text.size() && to <= from + 4; ++to) {
        qb::ChatLink s = qb::LinkStretch(text, from, to);
        ASSERT_LE(s.from, from);
        ASSERT_GE(s.to, to);
        std::vector<qb::ChatLink> want;
        for (const qb::ChatLink& l : all) {
          // A link that touches the edit, or ends or starts right at it, lies wholly in the stretch.
          if (l.to >= from && l.from <= to) {
            EXPECT_TRUE(inside(l, s)) << from << ".." << to;
          }
          if (inside(l, s)) want.push_back(l);
        }
        std::vector<qb::ChatLink> got = FindChatLinks(text.substr(s.from, s.to - s.from));
        ASSERT_EQ(want.size(), got.size()) << from << ".." << to;
        for (size_t i = 0; i < got.size(); ++i) {
          EXPECT_EQ(want[i].from, got[i].from + s.from);
          EXPECT_EQ(want[i].to, got[i].to + s.from);
        }
      }
  }
  // Text added to an address makes it longer: the stretch reaches back to
  // the blank before it, and no further.
  std::u16string text = u"one two http://a.example/bc";
  qb::ChatLink s = qb::LinkStretch(text, text.size() - 2, text.size());
  EXPECT_EQ(text.find(u" http"), s.from);
  EXPECT_EQ(text.size(), s.to);
  EXPECT_TRUE(qb::EndsChatLink(u'\r'));
  EXPECT_TRUE(qb::EndsChatLink(0x3000));
  EXPECT_FALSE(qb::EndsChatLink(u'/'));
}

TEST(ChatLinks, FoundInALineWithTheirEnds) {
  EXPECT_EQ((std::vector<std::u16string>{u"http://a.example/x", u"www.b.example"}),
            Links(u"see http://a.example/x, and www.b.example."));
  EXPECT_EQ((std::vector<std::u16string>{u"https://c.example/(x"}), Links(u"(https://c.example/(x)"));
  // Chinese text around an address; a quoted one ends at its quote.
  EXPECT_EQ((std::vector<std::u16string>{u"http://d.example/"}), Links(u"\u770B\u770Bhttp://d.example/\u3000\u597D"));
  EXPECT_EQ((std::vector<std::u16string>{u"mailto:e@example.com"}), Links(u"\"mailto:e@example.com\""));
  // Local files, shares, scripts and other schemes stay text, also inside a line.
  EXPECT_TRUE(Links(u"open file:///c:/x.exe or \\\\evil\\share\\run.exe or javascript:x()").empty());
  EXPECT_TRUE(Links(u"notwww.example.com and xhttp://y/ and a.http://z/").empty());
  EXPECT_TRUE(Links(u"http: www. https://").empty());
  EXPECT_TRUE(Links(u"").empty());
  // Every link found is one a click may open.
  for (const std::u16string& l : Links(u"x http://a/ y www.b.c z ftp://d/e mailto:f@g"))
    EXPECT_TRUE(IsChatLinkAddress(l));
}

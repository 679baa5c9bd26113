#include <gtest/gtest.h>

#include <climits>

#include "base/codepage.h"
#include "base/json.h"

using namespace qb;

namespace {
// Parses text that must be refused; returns the error.
JsonError Refused(const std::string& text, const JsonLimits& limits = JsonLimits()) {
  JsonValue v;
  JsonError error;
  EXPECT_EQ(ParseJson(text, v, error, limits), 0) << text.substr(0, 80);
  EXPECT_FALSE(error.what.empty()) << text.substr(0, 80);
  return error;
}

JsonValue Parsed(const std::string& text) {
  JsonValue v;
  JsonError error;
  EXPECT_EQ(ParseJson(text, v, error), 1) << text.substr(0, 80) << ": " << error.Message();
  return v;
}

std::string StringOf(const std::string& jsonText) { return Parsed(jsonText).text; }
}  // namespace

TEST(Json, ReadsATreeKeepingMemberOrder) {
  JsonValue v = Parsed(" {\"z\": [1, -2, true, null, \"s\"], \"a\": {\"b\": false}, \"m\": []}\r\n");
  ASSERT_EQ(v.type, JsonValue::Object);
  ASSERT_EQ(v.members.size(), 3u);
  EXPECT_EQ(v.members[0].first, "z");
  EXPECT_EQ(v.members[1].first, "a");
  EXPECT_EQ(v.members[2].first, "m");
  const JsonValue* z = v.Find("z");
  ASSERT_TRUE(z && z->type == JsonValue::Array && z->items.size() == 5);
  EXPECT_TRUE(z->items[1].IsInteger(-2, -2));
  EXPECT_EQ(z->items[2].type, JsonValue::Bool);
  EXPECT_TRUE(z->items[2].boolean);
  EXPECT_EQ(z->items[3].type, JsonValue::Null);
  EXPECT_EQ(z->items[4].type, JsonValue::String);
  EXPECT_EQ(z->items[4].text, "s");
  EXPECT_FALSE(v.Find("a")->Find("b")->boolean);
  EXPECT_EQ(v.Find("missing"), nullptr);
  EXPECT_EQ(z->Find("z"), nullptr) << "an array has no members";
  // Empty ones with blanks inside.
  JsonValue empties = Parsed("[[ \n], {\t}]");
  ASSERT_EQ(empties.items.size(), 2u);
  EXPECT_EQ(empties.items[0].type, JsonValue::Array);
  EXPECT_TRUE(empties.items[0].items.empty());
  EXPECT_EQ(empties.items[1].type, JsonValue::Object);
  EXPECT_TRUE(empties.items[1].members.empty());
}

TEST(Json, MalformedInputIsRefusedWithItsPlace) {
  const char* bad[] = {"",          "   ",       "{",          "[1,]",      "[1 2]",     "{\"a\" 1}",
                       "{\"a\":}",  "{a:1}",     "{\"a\":1,}", "[1]]",      "[1] x",     "tru",
                       "nul",       "01",        "-",          "1.",        "1e",        ".5",
                       "+1",        "\"abc",     "\"\\",       "\"\\x\"",   "\"\\u12\"", "\"\\u12G4\"",
                       "'a'",       "[1,\n2,,]", "\"a\tb\"",   "\"a\nb\"",
                       // a \u cut short by a character that could go on after the string
                       "[\"\\u1]",   "[\"\\u12,3]", "[\"\\ud800\\u1]",
                       // the characters just outside the digits' and the hex letters' ranges
                       "\"\\u00/1\"", "\"\\u00:1\"", "\"\\u00@1\"", "\"\\u00G1\"", "\"\\u00`1\"", "\"\\u00g1\""};
  for (const char* text : bad) Refused(text);

  JsonError e = Refused("{\"a\": 1,\n  \"b\" 2}");
  EXPECT_EQ(e.line, 2);
  EXPECT_EQ(e.column, 7) << "points at the 2";
  EXPECT_EQ(e.Message(), "expected ':' at line 2, column 7");
  // Columns count characters, not bytes: three two-byte characters before the fault.
  e = Refused("[\"\xC3\xA9\xC3\xA9\xC3\xA9\" x]");
  EXPECT_EQ(e.line, 1);
  EXPECT_EQ(e.column, 8) << "points at the x";
  EXPECT_EQ(e.Message(), "expected ',' or ']' at line 1, column 8") << "the first line is named too";
  // A NUL byte in the middle does not end the text.
  Refused(std::string("[1]\0", 4));

  // Each fault is named, at the character where it is found.
  const struct {
    const char* text;
    const char* what;
    int column;
  } faults[] = {
      {"", "unexpected end of JSON", 1},
      {"[1,", "unexpected end of JSON", 4},
      {"{", "expected a member name", 2},
      {"{\"a\":1,}", "expected a member name", 8},
      {"{\"a\" 1}", "expected ':'", 6},
      {"{\"a\":1 2}", "expected ',' or '}'", 8},
      {"{\"a\":1", "expected ',' or '}'", 7},
      {"{\"a\":", "unexpected end of JSON", 6},
      {"[1 2]", "expected ',' or ']'", 4},
      {"[1", "expected ',' or ']'", 3},
      {"[1,]", "unexpected character", 4},
      {"{\"a\":}", "unexpected character", 6},
      {".5", "unexpected character", 1},
      {"[1]]", "unexpected text after the JSON value", 4},
      {"[true,tru]", "invalid literal", 7},
      {"nul", "invalid literal", 1},
      {"fals", "invalid literal", 1},
      {"-", "bad number", 2},
      {"1.", "bad number", 3},
      {"1.e5", "bad number", 3},
      {"1e", "bad number", 3},
      {"1e+", "bad number", 4},
      {"\"abc", "unterminated string", 5},
      {"\"a\tb\"", "control character in a string (write it as an escape)", 3},
      {"\"ab\x1F\"", "control character in a string (write it as an escape)", 4},
      {"\"ab\\x\"", "unknown escape", 4},
      {"\"\\u12G4\"", "\\u must be followed by four hex digits", 6},
      {"\"a\\udc00\"", "low surrogate without a high one before it", 3},
      {"\"a\\ud800x\"", "high surrogate without a low one after it", 3},
      {"\"a\\ud800\\u0041\"", "high surrogate without a low one after it", 3},
  };
  for (const auto& f : faults) {
    JsonError fault = Refused(f.text);
    EXPECT_EQ(fault.what, f.what) << f.text;
    EXPECT_EQ(fault.line, 1) << f.text;
    EXPECT_EQ(fault.column, f.column) << f.text;
  }
}

TEST(Json, DepthAndSizeAreBounded) {
  std::string deep(100000, '[');
  JsonError e = Refused(deep);
  EXPECT_NE(e.what.find("deeply"), std::string::npos) << e.what;
  Refused(std::string(100000, '{'));

  JsonLimits limits;
  limits.maxDepth = 3;
  JsonValue v;
  JsonError error;
  EXPECT_EQ(ParseJson("[[[1]]]", v, error, limits), 1) << error.Message();
  EXPECT_EQ(ParseJson("{\"a\":[{}]}", v, error, limits), 1) << error.Message();
  Refused("[[[[1]]]]", limits);
  Refused("[{\"a\":[{}]}]", limits);

  limits = JsonLimits();
  limits.maxBytes = 10;
  EXPECT_EQ(ParseJson("[1,2,3,45]", v, error, limits), 1);
  e = Refused("[1,2,3,456]", limits);
  EXPECT_EQ(e.line, 0);
  EXPECT_EQ(e.Message(), e.what);
}

TEST(Json, NumbersAreNeverWrapped) {
  EXPECT_TRUE(Parsed("9223372036854775807").IsInteger(INT64_MAX, INT64_MAX));
  EXPECT_TRUE(Parsed("-9223372036854775808").IsInteger(INT64_MIN, INT64_MIN));
  EXPECT_TRUE(Parsed("-0").IsInteger(0, 0));
  // Past the range: still a number, never a wrapped or clipped integer.
  const char* notWhole[] = {"9223372036854775808", "-9223372036854775809", "18446744073709551617",
                            "99999999999999999999999", "1.0", "1e2", "4294967295.5", "-2E-3"};
  for (const char* text : notWhole) {
    JsonValue v = Parsed(text);
    EXPECT_EQ(v.type, JsonValue::Number) << text;
    EXPECT_FALSE(v.whole) << text;
    EXPECT_FALSE(v.IsInteger(INT64_MIN, INT64_MAX)) << text;
  }
  EXPECT_FALSE(Parsed("4294967296").IsInteger(0, UINT32_MAX));
  EXPECT_TRUE(Parsed("4294967295").IsInteger(0, UINT32_MAX));
  // A zero stands alone or before a fraction; before a digit it is refused.
  EXPECT_TRUE(Parsed("0").IsInteger(0, 0));
  EXPECT_TRUE(Parsed("[0,10]").items.at(1).IsInteger(10, 10));
  EXPECT_FALSE(Parsed("0.5").whole);
  EXPECT_EQ(Refused("01").what, "leading zero in a number");
  EXPECT_EQ(Refused("-01").what, "leading zero in a number");
}

TEST(Json, DuplicateMembersAreRefused) {
  JsonError e = Refused("{\"a\":1,\"b\":2,\n\"a\":3}");
  EXPECT_EQ(e.Message(), "member \"a\" given twice at line 2, column 1");
  Refused("{\"x\":{\"k\":1,\"k\":1}}");
  // Names equal after escapes are decoded are the same name.
  Refused("{\"ab\":1,\"\\u0061b\":2}");
  // The same name in different objects is fine.
  Parsed("[{\"a\":1},{\"a\":2}]");
}

TEST(Json, EscapesAndSurrogatesDecodeToUtf8) {
  EXPECT_EQ(StringOf("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(StringOf("\"\\u0041\\u00e9\\u5B8B\""), "A\xC3\xA9\xE5\xAE\x8B");
  EXPECT_EQ(StringOf("\"\\u00aa\\u00AA\\u00ff\\u00FF\""), "\xC2\xAA\xC2\xAA\xC3\xBF\xC3\xBF");
  EXPECT_EQ(StringOf("\"\\ud83d\\ude00\""), "\xF0\x9F\x98\x80");
  EXPECT_EQ(StringOf("\"a\\u0000b\""), std::string("a\0b", 3));
  EXPECT_EQ(StringOf("\" ~\x7F\""), " ~\x7F") << "the space and everything above it stand for themselves";
  Refused("\"\\ud800\"");           // high surrogate alone
  Refused("\"\\ud800x\"");          // followed by a plain character
  Refused("\"\\ud800\\u0041\"");    // followed by a non-surrogate escape
  Refused("\"\\ud800\\ud800\"");    // two highs
  Refused("\"\\udc00\"");           // low surrogate alone
  Refused("\"\\ude00\\ud83d\"");    // pair in the wrong order
  // The ends of both surrogate ranges pair up; one past them does not.
  EXPECT_EQ(StringOf("\"\\ud800\\udc00\""), "\xF0\x90\x80\x80");  // U+10000
  EXPECT_EQ(StringOf("\"\\udbff\\udfff\""), "\xF4\x8F\xBF\xBF");  // U+10FFFF
  Refused("\"\\ud800\\udbff\"");
  Refused("\"\\ud800\\ue000\"");
  Refused("\"\\ud800\\udc0g\"");  // the low half is not hex
  Refused("[\"\\ud800\\u]");       // ... or not there at all
  Refused("\"\\udfff\"");
  EXPECT_EQ(StringOf("\"\\ud7ff\\ue000\""), "\xED\x9F\xBF\xEE\x80\x80");  // either side of them
}

TEST(Json, StringsMustBeUtf8AndChineseSurvivesToCodePage936) {
  // Raw UTF-8 and \u escapes give the same bytes, which convert to GBK.
  std::string song = ToUtf8("宋体");
  EXPECT_EQ(StringOf("\"" + song + "\""), song);
  std::string gbk;
  ASSERT_TRUE(Utf8ToGbk(StringOf("\"\\u5b8b\\u4f53\""), gbk));
  EXPECT_EQ(gbk, "宋体");
  EXPECT_EQ(StringOf("\"\xF0\x9F\x98\x80\xEF\xBF\xBF\""), "\xF0\x9F\x98\x80\xEF\xBF\xBF");

  // A file saved in GBK instead of UTF-8 is refused at the first such byte.
  JsonError e = Refused("{\"name\": \"ab" + std::string("宋体") + "\"}");
  EXPECT_EQ(e.what, "text is not UTF-8");
  EXPECT_EQ(e.column, 13);
  const char* notUtf8[] = {
      "\"\xC3\x28\"",          // lead byte without continuation
      "\"\xC3\"",              // cut before the closing quote
      "\"\xE5\xAE\"",          // three-byte form cut short
      "\"\xC0\xAF\"",          // overlong '/'
      "\"\xE0\x80\xAF\"",      // overlong, three bytes
      "\"\xF0\x80\x80\xAF\"",  // overlong, four bytes
      "\"\xED\xA0\x80\"",      // an encoded surrogate
      "\"\xF4\x90\x80\x80\"",  // past U+10FFFF
      "\"\x80\"",              // stray continuation byte
      "\"\xBF\xBF\"",          // ... two of them, shaped like U+07FF
      "\"\x88\x80\x80\"",      // ... three, shaped like U+8000
      "\"\x81\x80\x80\x80\"",  // ... four, shaped like U+40000
      "\"\xFF\"",
  };
  for (const char* text : notUtf8) Refused(text);
  Refused(std::string("\"\xE5\xAE", 3));  // document ends inside the character
  // The first and last code point of every length, and both sides of the surrogates.
  const char* utf8[] = {"\xC2\x80",         "\xDF\xBF",         "\xE0\xA0\x80",     "\xED\x9F\xBF",
                        "\xEE\x80\x80",     "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
                        "\xE1\x80\x80",     "\xF1\x80\x80\x80"};  // U+1000, U+40000: the lead's low bit counts
  for (const char* text : utf8) EXPECT_EQ(StringOf("\"" + std::string(text) + "\""), text);
  Refused("\"\xC1\xBF\"");          // overlong U+7F
  Refused("\"\xE0\x9F\xBF\"");      // overlong U+7FF
  Refused("\"\xED\xBF\xBF\"");      // the last surrogate
  Refused("\"\xF0\x8F\xBF\xBF\"");  // overlong U+FFFF
  Refused("\"\xF5\x80\x80\x80\"");  // no lead byte above F4
  Refused("\"\xF8\x90\x80\x80\"");  // ... even where its low bits would make a character
  Refused("\"\xFC\x80\x80\x80\"");
}

TEST(Json, ByteOrderMarkIsSkippedOnlyAtTheStart) {
  EXPECT_TRUE(Parsed("\xEF\xBB\xBF[1]").type == JsonValue::Array);
  Refused("[1]\xEF\xBB\xBF");
  Refused(" \xEF\xBB\xBF[1]");
}

TEST(Json, QuotedStringsReadBack) {
  std::string text = std::string("a\"b\\c\n\r\t\x01\x1F/", 12) + ToUtf8("收藏") + std::string("\0z", 2);
  std::string quoted = JsonQuote(text);
  EXPECT_EQ(quoted.substr(0, 27), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u001f/");
  EXPECT_EQ(StringOf(quoted), text);
  EXPECT_EQ("\"a b\\u001f\"", JsonQuote("a b\x1F")) << "a space is the first byte left as it is";
}

TEST(Json, AppendUtf8AtEveryLengthBoundary) {
  const struct {
    uint32_t cp;
    const char* bytes;
  } cases[] = {
      {0x7F, "\x7F"},          {0x80, "\xC2\x80"},         {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"}, {0x5B8B, "\xE5\xAE\x8B"},    {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    std::string mine;
    AppendUtf8(mine, c.cp);
    EXPECT_EQ(mine, c.bytes) << std::hex << c.cp;
    EXPECT_EQ(StringOf("\"" + mine + "\""), mine) << std::hex << c.cp << " is accepted as UTF-8";
  }
}

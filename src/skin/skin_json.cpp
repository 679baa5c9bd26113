#include "skin/skin_json.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "base/codepage.h"

namespace qb {

namespace {

// ---- a small JSON reader: strict grammar, bounded depth, never trusts input ----

struct JValue {
  enum Type { Null, Bool, Number, String, Array, Object } type = Null;
  bool boolean = false;
  bool isInteger = false;
  long long integer = 0;
  std::string text;  // strings: UTF-8
  std::vector<JValue> items;
  std::vector<std::pair<std::string, JValue>> members;

  const JValue* Find(const std::string& key) const {
    for (const auto& m : members)
      if (m.first == key) return &m.second;
    return nullptr;
  }
};

class CJsonReader {
 public:
  explicit CJsonReader(const std::string& s) : m_s(s) {}

  bool ReadDocument(JValue& v) {
    if (!ReadValue(v, 0)) return false;
    SkipSpace();
    if (m_pos != m_s.size()) return Fail("unexpected text after the JSON value");
    return true;
  }
  const std::string& Error() const { return m_error; }

 private:
  enum { kMaxDepth = 32 };

  bool Fail(const std::string& what) {
    if (m_error.empty()) m_error = what + " at offset " + std::to_string(m_pos);
    return false;
  }
  void SkipSpace() {
    while (m_pos < m_s.size() && (m_s[m_pos] == ' ' || m_s[m_pos] == '\t' || m_s[m_pos] == '\n' || m_s[m_pos] == '\r'))
      ++m_pos;
  }
  bool Literal(const char* word) {
    size_t n = strlen(word);
    if (m_s.compare(m_pos, n, word) != 0) return Fail("invalid literal");
    m_pos += n;
    return true;
  }

  bool ReadValue(JValue& v, int depth) {
    if (depth > kMaxDepth) return Fail("JSON nested too deeply");
    SkipSpace();
    if (m_pos >= m_s.size()) return Fail("unexpected end of JSON");
    char c = m_s[m_pos];
    switch (c) {
      case '{': return ReadObject(v, depth);
      case '[': return ReadArray(v, depth);
      case '"': v.type = JValue::String; return ReadString(v.text);
      case 't': v.type = JValue::Bool; v.boolean = true; return Literal("true");
      case 'f': v.type = JValue::Bool; v.boolean = false; return Literal("false");
      case 'n': v.type = JValue::Null; return Literal("null");
      default:
        if (c == '-' || (c >= '0' && c <= '9')) return ReadNumber(v);
        return Fail("unexpected character");
    }
  }

  bool ReadObject(JValue& v, int depth) {
    v.type = JValue::Object;
    ++m_pos;
    SkipSpace();
    if (m_pos < m_s.size() && m_s[m_pos] == '}') { ++m_pos; return true; }
    for (;;) {
      SkipSpace();
      if (m_pos >= m_s.size() || m_s[m_pos] != '"') return Fail("expected a member name");
      std::string key;
      if (!ReadString(key)) return false;
      if (v.Find(key)) return Fail("member \"" + key + "\" given twice");
      SkipSpace();
      if (m_pos >= m_s.size() || m_s[m_pos] != ':') return Fail("expected ':'");
      ++m_pos;
      JValue member;
      if (!ReadValue(member, depth + 1)) return false;
      v.members.emplace_back(key, std::move(member));
      SkipSpace();
      if (m_pos < m_s.size() && m_s[m_pos] == ',') { ++m_pos; continue; }
      if (m_pos < m_s.size() && m_s[m_pos] == '}') { ++m_pos; return true; }
      return Fail("expected ',' or '}'");
    }
  }

  bool ReadArray(JValue& v, int depth) {
    v.type = JValue::Array;
    ++m_pos;
    SkipSpace();
    if (m_pos < m_s.size() && m_s[m_pos] == ']') { ++m_pos; return true; }
    for (;;) {
      JValue item;
      if (!ReadValue(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
      SkipSpace();
      if (m_pos < m_s.size() && m_s[m_pos] == ',') { ++m_pos; continue; }
      if (m_pos < m_s.size() && m_s[m_pos] == ']') { ++m_pos; return true; }
      return Fail("expected ',' or ']'");
    }
  }

  bool Hex4(unsigned& out) {
    if (m_s.size() - m_pos < 4) return Fail("short \\u escape");
    out = 0;
    for (int i = 0; i < 4; ++i) {
      char c = m_s[m_pos++];
      unsigned d;
      if (c >= '0' && c <= '9') d = (unsigned)(c - '0');
      else if (c >= 'a' && c <= 'f') d = (unsigned)(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') d = (unsigned)(c - 'A' + 10);
      else return Fail("bad \\u escape");
      out = out * 16 + d;
    }
    return true;
  }

  static void PutUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out.push_back((char)cp);
    } else if (cp < 0x800) {
      out.push_back((char)(0xC0 | (cp >> 6)));
      out.push_back((char)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back((char)(0xE0 | (cp >> 12)));
      out.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back((char)(0x80 | (cp & 0x3F)));
    } else {
      out.push_back((char)(0xF0 | (cp >> 18)));
      out.push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back((char)(0x80 | (cp & 0x3F)));
    }
  }

  bool ReadString(std::string& out) {
    ++m_pos;  // the opening quote
    out.clear();
    for (;;) {
      if (m_pos >= m_s.size()) return Fail("unterminated string");
      unsigned char c = (unsigned char)m_s[m_pos++];
      if (c == '"') return true;
      if (c < 0x20) return Fail("control character in a string");
      if (c != '\\') { out.push_back((char)c); continue; }
      if (m_pos >= m_s.size()) return Fail("unterminated string");
      char e = m_s[m_pos++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          unsigned cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return Fail("lone low surrogate");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned lo = 0;
            if (m_s.compare(m_pos, 2, "\\u") != 0) return Fail("lone high surrogate");
            m_pos += 2;
            if (!Hex4(lo)) return false;
            if (lo < 0xDC00 || lo > 0xDFFF) return Fail("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          PutUtf8(out, cp);
          break;
        }
        default: return Fail("bad escape");
      }
    }
  }

  bool ReadNumber(JValue& v) {
    v.type = JValue::Number;
    size_t start = m_pos;
    bool negative = false;
    if (m_s[m_pos] == '-') { negative = true; ++m_pos; }
    if (m_pos >= m_s.size() || m_s[m_pos] < '0' || m_s[m_pos] > '9') return Fail("bad number");
    if (m_s[m_pos] == '0' && m_pos + 1 < m_s.size() && m_s[m_pos + 1] >= '0' && m_s[m_pos + 1] <= '9')
      return Fail("leading zero in a number");
    // Magnitudes past any field's range are remembered as "too large", not wrapped.
    unsigned long long mag = 0;
    bool huge = false;
    while (m_pos < m_s.size() && m_s[m_pos] >= '0' && m_s[m_pos] <= '9') {
      if (mag > 1000000000000ULL) huge = true;
      else mag = mag * 10 + (unsigned)(m_s[m_pos] - '0');
      ++m_pos;
    }
    v.isInteger = !huge;
    if (m_pos < m_s.size() && m_s[m_pos] == '.') {
      v.isInteger = false;
      ++m_pos;
      if (m_pos >= m_s.size() || m_s[m_pos] < '0' || m_s[m_pos] > '9') return Fail("bad number");
      while (m_pos < m_s.size() && m_s[m_pos] >= '0' && m_s[m_pos] <= '9') ++m_pos;
    }
    if (m_pos < m_s.size() && (m_s[m_pos] == 'e' || m_s[m_pos] == 'E')) {
      v.isInteger = false;
      ++m_pos;
      if (m_pos < m_s.size() && (m_s[m_pos] == '+' || m_s[m_pos] == '-')) ++m_pos;
      if (m_pos >= m_s.size() || m_s[m_pos] < '0' || m_s[m_pos] > '9') return Fail("bad number");
      while (m_pos < m_s.size() && m_s[m_pos] >= '0' && m_s[m_pos] <= '9') ++m_pos;
    }
    v.integer = negative ? -(long long)mag : (long long)mag;
    v.text = m_s.substr(start, m_pos - start);
    return true;
  }

  const std::string& m_s;
  size_t m_pos = 0;
  std::string m_error;
};

// ---- skin records <-> JSON ------------------------------------------------------

const char* const kHeadInts[] = {"height", "width", "escapement", "orientation", "weight"};
const char* const kHeadBytes[] = {"italic",       "underline",     "strikeOut", "charSet",
                                  "outPrecision", "clipPrecision", "quality",   "pitchAndFamily"};
int32_t* HeadInt(os::FontHead& h, int i) {
  int32_t* p[] = {&h.height, &h.width, &h.escapement, &h.orientation, &h.weight};
  return p[i];
}
uint8_t* HeadByte(os::FontHead& h, int i) {
  uint8_t* p[] = {&h.italic, &h.underline, &h.strikeOut, &h.charSet,
                  &h.outPrecision, &h.clipPrecision, &h.quality, &h.pitchAndFamily};
  return p[i];
}

struct ColourField {
  const char* name;
  Colour SkinStyle::*member;
};
const ColourField kColours[] = {
    {"normalText", &SkinStyle::m_clrNormalText},   {"normalBack", &SkinStyle::m_clrNormalBack},
    {"hoverText", &SkinStyle::m_clrHoverText},     {"hoverBack", &SkinStyle::m_clrHoverBack},
    {"pressedText", &SkinStyle::m_clrPressedText}, {"pressedBack", &SkinStyle::m_clrPressedBack},
};

std::string Quote(const std::string& gbk) {
  std::string out = "\"";
  for (unsigned char c : ToUtf8(gbk)) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back((char)c);
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out.push_back((char)c);
    }
  }
  return out + "\"";
}

std::string ColourText(Colour c) {
  char buf[8];
  snprintf(buf, sizeof buf, "#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
  return buf;
}

bool ParseColour(const std::string& s, Colour& out) {
  if (s.size() != 7 || s[0] != '#') return false;
  unsigned v = 0;
  for (size_t i = 1; i < 7; ++i) {
    char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9') d = (unsigned)(c - '0');
    else if (c >= 'a' && c <= 'f') d = (unsigned)(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = (unsigned)(c - 'A' + 10);
    else return false;
    v = v * 16 + d;
  }
  out = MakeColour((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  return true;
}

bool GetInt(const JValue& v, long long lo, long long hi, long long& out) {
  if (v.type != JValue::Number || !v.isInteger || v.integer < lo || v.integer > hi) return false;
  out = v.integer;
  return true;
}

bool GetGbk(const JValue& v, std::string& out) {
  return v.type == JValue::String && Utf8ToGbk(v.text, out);
}

// One record; `where` names it in messages.
bool ReadRecordJson(const JValue& obj, int area, SkinStyle& s, bool& hasFont, os::FontDesc& font,
                    std::string& error) {
  std::string where = "record " + std::to_string(area) + ": ";
  if (obj.type != JValue::Object) return error = where + "not an object", false;
  hasFont = false;
  font = DefaultSkinFont(area);
  for (const auto& m : obj.members) {
    const std::string& key = m.first;
    const JValue& v = m.second;
    long long n = 0;
    std::string text;
    if (key == "area") {
      if (!GetInt(v, area, area, n)) return error = where + "\"area\" must be " + std::to_string(area), false;
    } else if (key == "areaName") {
      // Shown for the reader only; the program names the areas itself.
    } else if (key == "font") {
      if (v.type == JValue::Null) continue;
      if (v.type != JValue::Object) return error = where + "\"font\" must be an object or null", false;
      hasFont = true;
      for (const auto& f : v.members) {
        bool known = false;
        for (int i = 0; i < 5; ++i) {
          if (f.first != kHeadInts[i]) continue;
          if (!GetInt(f.second, INT32_MIN, INT32_MAX, n)) return error = where + f.first + " must be a 32-bit integer", false;
          *HeadInt(font.head, i) = (int32_t)n;
          known = true;
        }
        for (int i = 0; i < 8; ++i) {
          if (f.first != kHeadBytes[i]) continue;
          if (!GetInt(f.second, 0, 255, n)) return error = where + f.first + " must be an integer 0..255", false;
          *HeadByte(font.head, i) = (uint8_t)n;
          known = true;
        }
        if (!known) return error = where + "unknown font member \"" + f.first + "\"", false;
      }
    } else if (key == "faceName") {
      if (v.type == JValue::Null) continue;
      if (!GetGbk(v, text)) return error = where + "\"faceName\" must be a string that code page 936 can hold", false;
      if (text.size() >= os::kFaceNameBytes || text.find('\0') != std::string::npos)
        return error = where + "\"faceName\" is longer than 31 bytes", false;
      os::SetFaceName(font, text);
      hasFont = true;  // naming a face asks for a font, with the default head unless "font" gives one
    } else if (key == "colours") {
      if (v.type != JValue::Object) return error = where + "\"colours\" must be an object", false;
      for (const auto& c : v.members) {
        bool known = false;
        for (const ColourField& f : kColours) {
          if (c.first != f.name) continue;
          Colour col = 0;
          if (c.second.type != JValue::String || !ParseColour(c.second.text, col))
            return error = where + c.first + " must be \"#RRGGBB\"", false;
          s.*f.member = col;
          known = true;
        }
        if (!known) return error = where + "unknown colour \"" + c.first + "\"", false;
      }
    } else if (key == "flat" || key == "clickMark") {
      if (!GetInt(v, 0, 1, n)) return error = where + "\"" + key + "\" must be 0 or 1", false;
      (key == "flat" ? s.m_nFlat : s.m_nClickMark) = (int32_t)n;
    } else if (key == "image") {
      if (!GetGbk(v, text)) return error = where + "\"image\" must be a string that code page 936 can hold", false;
      s.m_strImagePath = text;
    } else {
      return error = where + "unknown member \"" + key + "\"", false;
    }
  }
  return true;
}

}  // namespace

std::string SkinToJson(const SkinSet& skins) {
  std::string out = "[\n";
  for (int i = 0; i < kSkinAreaCount; ++i) {
    const SkinStyle& s = skins[i];
    out += "  {\"area\": " + std::to_string(i) + ", \"areaName\": " + Quote(SkinAreaName(i)) + ",\n";
    if (s.m_font) {
      os::FontDesc d = s.m_font->Desc();
      os::FontHead h = d.head;
      out += "   \"font\": {";
      for (int k = 0; k < 5; ++k) out += std::string(k ? ", " : "") + "\"" + kHeadInts[k] + "\": " + std::to_string(*HeadInt(h, k));
      for (int k = 0; k < 8; ++k) out += std::string(", \"") + kHeadBytes[k] + "\": " + std::to_string(*HeadByte(h, k));
      out += "},\n   \"faceName\": " + Quote(os::FaceName(d)) + ",\n";
    } else {
      out += "   \"font\": null, \"faceName\": null,\n";
    }
    out += "   \"colours\": {";
    for (size_t k = 0; k < sizeof kColours / sizeof kColours[0]; ++k)
      out += std::string(k ? ", " : "") + "\"" + kColours[k].name + "\": \"" + ColourText(s.*kColours[k].member) + "\"";
    out += "},\n   \"flat\": " + std::to_string(s.m_nFlat) + ", \"clickMark\": " + std::to_string(s.m_nClickMark) +
           ", \"image\": " + Quote(s.m_strImagePath) + "}";
    out += i + 1 < kSkinAreaCount ? ",\n" : "\n";
  }
  return out + "]\n";
}

int SkinFromJson(const std::string& utf8, SkinSet& skins, std::string& error) {
  JValue doc;
  CJsonReader reader(utf8);
  if (!reader.ReadDocument(doc)) {
    error = reader.Error();
    return 0;
  }
  if (doc.type != JValue::Array || doc.items.size() != (size_t)kSkinAreaCount) {
    error = "expected an array of exactly five records";
    return 0;
  }
  SkinSet made;
  ResetSkins(made);
  for (int i = 0; i < kSkinAreaCount; ++i) {
    bool hasFont = false;
    os::FontDesc font;
    if (!ReadRecordJson(doc.items[i], i, made[i], hasFont, font, error)) return 0;
    if (hasFont) {
      made[i].m_font = os::CFont::Create(font);
      if (!made[i].m_font) {
        error = "record " + std::to_string(i) + ": the font cannot be created";
        return 0;
      }
    }
  }
  skins = std::move(made);
  return 1;
}

}  // namespace qb

#include "skin/skin_json.h"

#include <climits>
#include <cstdio>
#include <utility>

#include "base/codepage.h"
#include "base/json.h"

namespace qb {

namespace {

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

std::string Quote(const std::string& gbk) { return JsonQuote(ToUtf8(gbk)); }

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

bool GetInt(const JsonValue& v, long long lo, long long hi, long long& out) {
  if (!v.IsInteger(lo, hi)) return false;
  out = v.integer;
  return true;
}

bool GetGbk(const JsonValue& v, std::string& out) {
  return v.type == JsonValue::String && Utf8ToGbk(v.text, out);
}

// One record; `where` names it in messages.
bool ReadRecordJson(const JsonValue& obj, int area, SkinStyle& s, bool& hasFont, os::FontDesc& font,
                    std::string& error) {
  std::string where = "record " + std::to_string(area) + ": ";
  if (obj.type != JsonValue::Object) return error = where + "not an object", false;
  hasFont = false;
  font = DefaultSkinFont(area);
  for (const auto& m : obj.members) {
    const std::string& key = m.first;
    const JsonValue& v = m.second;
    long long n = 0;
    std::string text;
    if (key == "area") {
      if (!GetInt(v, area, area, n)) return error = where + "\"area\" must be " + std::to_string(area), false;
    } else if (key == "areaName") {
      // Shown for the reader only; the program names the areas itself.
    } else if (key == "font") {
      if (v.type == JsonValue::Null) continue;
      if (v.type != JsonValue::Object) return error = where + "\"font\" must be an object or null", false;
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
      if (v.type == JsonValue::Null) continue;
      if (!GetGbk(v, text)) return error = where + "\"faceName\" must be a string that code page 936 can hold", false;
      if (text.size() >= os::kFaceNameBytes || text.find('\0') != std::string::npos)
        return error = where + "\"faceName\" is longer than 31 bytes", false;
      os::SetFaceName(font, text);
      hasFont = true;  // naming a face asks for a font, with the default head unless "font" gives one
    } else if (key == "colours") {
      if (v.type != JsonValue::Object) return error = where + "\"colours\" must be an object", false;
      for (const auto& c : v.members) {
        bool known = false;
        for (const ColourField& f : kColours) {
          if (c.first != f.name) continue;
          Colour col = 0;
          if (c.second.type != JsonValue::String || !ParseColour(c.second.text, col))
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
  JsonValue doc;
  JsonError jsonError;
  if (!ParseJson(utf8, doc, jsonError)) {
    error = jsonError.Message();
    return 0;
  }
  if (doc.type != JsonValue::Array || doc.items.size() != (size_t)kSkinAreaCount) {
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

#include "base/json.h"

#include <cstdio>
#include <cstring>
#include <set>

namespace qb {

const JsonValue* JsonValue::Find(const std::string& name) const {
  for (const auto& m : members)
    if (m.first == name) return &m.second;
  return nullptr;
}

std::string JsonError::Message() const {
  if (line <= 0) return what;
  return what + " at line " + std::to_string(line) + ", column " + std::to_string(column);
}

void AppendUtf8(std::string& out, uint32_t cp) {
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

std::string JsonQuote(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back((char)c);
        }
    }
  }
  return out + "\"";
}

namespace {

class CReader {
 public:
  CReader(const std::string& s, const JsonLimits& limits, JsonError& error)
      : m_s(s), m_limits(limits), m_error(error) {}

  bool Document(JsonValue& v) {
    if (m_s.compare(0, 3, "\xEF\xBB\xBF") == 0) m_pos = 3;
    if (!Value(v, 0)) return false;
    Skip();
    if (m_pos != m_s.size()) return Fail("unexpected text after the JSON value");
    return true;
  }

  // Records `what` at the current position; the first failure wins.
  bool Fail(const char* what) { return FailAt(m_pos, what); }
  bool FailAt(size_t at, const std::string& what) {
    if (!m_error.what.empty()) return false;
    m_error.what = what;
    m_error.line = 1;
    m_error.column = 1;
    for (size_t i = 0; i < at && i < m_s.size(); ++i) {
      unsigned char c = (unsigned char)m_s[i];
      if (c == '\n') {
        ++m_error.line;
        m_error.column = 1;
      } else if ((c & 0xC0) != 0x80) {  // count characters, not continuation bytes
        ++m_error.column;
      }
    }
    return false;
  }

 private:
  bool AtEnd() const { return m_pos >= m_s.size(); }
  char Peek() const { return m_pos < m_s.size() ? m_s[m_pos] : '\0'; }
  static bool Digit(char c) { return c >= '0' && c <= '9'; }
  void Skip() {
    while (m_pos < m_s.size() && (m_s[m_pos] == ' ' || m_s[m_pos] == '\t' || m_s[m_pos] == '\n' || m_s[m_pos] == '\r'))
      ++m_pos;
  }
  bool Eat(char c) {
    if (AtEnd() || m_s[m_pos] != c) return false;
    ++m_pos;
    return true;
  }
  bool Word(const char* word) {
    size_t n = strlen(word);
    if (m_s.compare(m_pos, n, word) != 0) return Fail("invalid literal");
    m_pos += n;
    return true;
  }

  bool Value(JsonValue& v, int depth) {
    Skip();
    if (AtEnd()) return Fail("unexpected end of JSON");
    switch (m_s[m_pos]) {
      case '{': return Object(v, depth + 1);
      case '[': return Array(v, depth + 1);
      case '"': v.type = JsonValue::String; return String(v.text);
      case 't': v.type = JsonValue::Bool; v.boolean = true; return Word("true");
      case 'f': v.type = JsonValue::Bool; v.boolean = false; return Word("false");
      case 'n': v.type = JsonValue::Null; return Word("null");
      default:
        if (m_s[m_pos] == '-' || Digit(m_s[m_pos])) return Number(v);
        return Fail("unexpected character");
    }
  }

  bool Object(JsonValue& v, int depth) {
    if (depth > m_limits.maxDepth) return Fail("JSON nested too deeply");
    v.type = JsonValue::Object;
    ++m_pos;
    Skip();
    if (Eat('}')) return true;
    std::set<std::string> names;
    for (;;) {
      Skip();
      size_t at = m_pos;
      if (Peek() != '"') return Fail("expected a member name");
      std::string name;
      if (!String(name)) return false;
      if (!names.insert(name).second) return FailAt(at, "member \"" + name + "\" given twice");
      Skip();
      if (!Eat(':')) return Fail("expected ':'");
      v.members.emplace_back(std::move(name), JsonValue());
      if (!Value(v.members.back().second, depth)) return false;
      Skip();
      if (Eat(',')) continue;
      if (Eat('}')) return true;
      return Fail("expected ',' or '}'");
    }
  }

  bool Array(JsonValue& v, int depth) {
    if (depth > m_limits.maxDepth) return Fail("JSON nested too deeply");
    v.type = JsonValue::Array;
    ++m_pos;
    Skip();
    if (Eat(']')) return true;
    for (;;) {
      v.items.emplace_back();
      if (!Value(v.items.back(), depth)) return false;
      Skip();
      if (Eat(',')) continue;
      if (Eat(']')) return true;
      return Fail("expected ',' or ']'");
    }
  }

  bool Hex4(uint32_t& out) {
    out = 0;
    for (int i = 0; i < 4; ++i, ++m_pos) {
      char c = Peek();
      uint32_t d;
      if (c >= '0' && c <= '9') d = (uint32_t)(c - '0');
      else if (c >= 'a' && c <= 'f') d = (uint32_t)(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') d = (uint32_t)(c - 'A' + 10);
      else return Fail("\\u must be followed by four hex digits");
      out = out * 16 + d;
    }
    return true;
  }

  // One character of raw UTF-8 starting at m_pos, copied to `out`.
  bool Utf8Char(std::string& out) {
    size_t at = m_pos;
    unsigned char c = (unsigned char)m_s[m_pos];
    int more;
    uint32_t cp, min;
    if (c >= 0xC2 && c <= 0xDF) more = 1, cp = c & 0x1F, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) more = 2, cp = c & 0x0F, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) more = 3, cp = c & 0x07, min = 0x10000;
    else return Fail("text is not UTF-8");
    for (int i = 1; i <= more; ++i) {
      if (at + i >= m_s.size() || ((unsigned char)m_s[at + i] & 0xC0) != 0x80) return Fail("text is not UTF-8");
      cp = (cp << 6) | ((unsigned char)m_s[at + i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return Fail("text is not UTF-8");
    out.append(m_s, at, (size_t)more + 1);
    m_pos += (size_t)more + 1;
    return true;
  }

  bool String(std::string& out) {
    ++m_pos;  // the opening quote
    out.clear();
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      unsigned char c = (unsigned char)m_s[m_pos];
      if (c == '"') {
        ++m_pos;
        return true;
      }
      if (c < 0x20) return Fail("control character in a string (write it as an escape)");
      if (c >= 0x80) {
        if (!Utf8Char(out)) return false;
        continue;
      }
      ++m_pos;
      if (c != '\\') {
        out.push_back((char)c);
        continue;
      }
      size_t escape = m_pos - 1;
      char e = Peek();
      ++m_pos;
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
          uint32_t cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return FailAt(escape, "low surrogate without a high one before it");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t lo = 0;
            if (m_s.compare(m_pos, 2, "\\u") != 0) return FailAt(escape, "high surrogate without a low one after it");
            m_pos += 2;
            if (!Hex4(lo)) return false;
            if (lo < 0xDC00 || lo > 0xDFFF) return FailAt(escape, "high surrogate without a low one after it");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default: return FailAt(escape, "unknown escape");
      }
    }
  }

  bool Number(JsonValue& v) {
    v.type = JsonValue::Number;
    bool negative = Eat('-');
    if (!Digit(Peek())) return Fail("bad number");
    if (Peek() == '0' && m_pos + 1 < m_s.size() && Digit(m_s[m_pos + 1])) return Fail("leading zero in a number");
    // The magnitude, stopping short of overflow; a number past int64_t is not whole.
    const uint64_t limit = negative ? (uint64_t)INT64_MAX + 1 : (uint64_t)INT64_MAX;
    uint64_t mag = 0;
    bool fits = true;
    while (Digit(Peek())) {
      uint64_t d = (uint64_t)(m_s[m_pos++] - '0');
      if (fits && mag <= (limit - d) / 10) mag = mag * 10 + d;
      else fits = false;
    }
    bool plain = true;
    if (Eat('.')) {
      plain = false;
      if (!Digit(Peek())) return Fail("bad number");
      while (Digit(Peek())) ++m_pos;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      plain = false;
      ++m_pos;
      if (Peek() == '+' || Peek() == '-') ++m_pos;
      if (!Digit(Peek())) return Fail("bad number");
      while (Digit(Peek())) ++m_pos;
    }
    v.whole = plain && fits;
    if (v.whole) v.integer = negative ? (int64_t)(0 - mag) : (int64_t)mag;
    return true;
  }

  const std::string& m_s;
  const JsonLimits& m_limits;
  JsonError& m_error;
  size_t m_pos = 0;
};

}  // namespace

int ParseJson(const std::string& utf8, JsonValue& out, JsonError& error, const JsonLimits& limits) {
  error = JsonError();
  out = JsonValue();
  if (utf8.size() > limits.maxBytes) {
    error.what = "JSON text larger than " + std::to_string(limits.maxBytes) + " bytes";
    return 0;
  }
  CReader reader(utf8, limits, error);
  return reader.Document(out) ? 1 : 0;
}

}  // namespace qb

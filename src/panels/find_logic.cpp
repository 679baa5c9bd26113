#include "panels/find_logic.h"

#include <algorithm>

#include "panels/panel_text.h"
#include "panels/pinyin_table.h"

namespace panels {

const char kProgramFolderName[] = "程序夹";

namespace {

bool IsLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsAlnum(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }
// Length of the character at `at`: a lead byte with a following byte is two.
size_t CharLen(const std::string& s, size_t at) {
  return IsLead((unsigned char)s[at]) && at + 1 < s.size() ? 2 : 1;
}

// One character of a name as the pinyin match sees it.
struct Unit {
  enum Kind : uint8_t { kAscii, kHan, kOther } kind;
  char ch;            // kAscii: the letter or digit
  uint8_t count;      // kHan: readings
  bool start;         // a word or character start
  unsigned short readings[pinyin::kMaxReadings];
};

void NameUnits(const std::string& name, std::vector<Unit>& units) {
  units.clear();
  bool prevAlnum = false;
  for (size_t i = 0; i < name.size();) {
    size_t len = CharLen(name, i);
    Unit u{};
    if (len == 2) {
      u.count = (uint8_t)pinyin::ReadingsOf((unsigned char)name[i], (unsigned char)name[i + 1], u.readings,
                                            pinyin::kMaxReadings);
      u.kind = u.count ? Unit::kHan : Unit::kOther;
      u.start = true;
      prevAlnum = false;
    } else if (IsAlnum((unsigned char)name[i])) {
      u.kind = Unit::kAscii;
      u.ch = name[i];
      u.start = !prevAlnum;
      prevAlnum = true;
    } else {
      u.kind = Unit::kOther;
      prevAlnum = false;
    }
    units.push_back(u);
    i += len;
  }
}

// Query positions reached so far, each once.
class PositionSet {
 public:
  explicit PositionSet(size_t n) : m_seen(n + 1, 0) {}
  void Reset(size_t n) {
    Clear();
    if (m_seen.size() < n + 1) m_seen.resize(n + 1, 0);
  }
  void Clear() {
    for (size_t q : m_list) m_seen[q] = 0;
    m_list.clear();
  }
  void Add(size_t q) {
    if (!m_seen[q]) {
      m_seen[q] = 1;
      m_list.push_back(q);
    }
  }
  bool Has(size_t q) const { return m_seen[q] != 0; }
  bool Empty() const { return m_list.empty(); }
  const std::vector<size_t>& List() const { return m_list; }

 private:
  std::vector<char> m_seen;
  std::vector<size_t> m_list;
};

// Whether the word (letters, digits and apostrophes) runs through the units
// from a start unit on: an ASCII unit takes its own character, a Chinese
// character any non-empty beginning of any of its readings (the whole
// syllable, its initial, or a part where the next character goes on), other
// characters are passed over, and an apostrophe stands only between two
// characters. `anchored`: only the first letter, digit or Chinese character
// of the name may start it.
bool PinyinRuns(const std::vector<Unit>& units, const std::string& w, bool anchored) {
  size_t L = w.size();
  thread_local PositionSet cur(0), next(0);
  cur.Reset(L);
  next.Reset(L);
  bool firstSignificant = true;
  for (const Unit& u : units) {
    if (u.kind == Unit::kOther) continue;  // passed over: the positions stay
    bool mayStart = anchored ? firstSignificant : u.start;
    firstSignificant = false;
    if (mayStart) cur.Add(0);
    if (cur.Empty()) {
      if (anchored) return false;
      continue;
    }
    next.Clear();
    for (size_t q : cur.List()) {
      if (u.kind == Unit::kAscii) {
        if (q < L && w[q] == u.ch) next.Add(q + 1);
        continue;
      }
      for (int r = 0; r < u.count; ++r) {
        const char* s = pinyin::Syllable(u.readings[r]);
        size_t n = (size_t)pinyin::SyllableLength(u.readings[r]);
        for (size_t k = 0; k < n && q + k < L && w[q + k] == s[k]; ++k) next.Add(q + k + 1);
      }
    }
    // An apostrophe stands between two characters.
    for (size_t i = 0; i < next.List().size(); ++i) {
      size_t q = next.List()[i];
      if (q < L && w[q] == '\'') next.Add(q + 1);
    }
    if (next.Has(L)) return true;
    std::swap(cur, next);
  }
  return false;
}

uint32_t LetterBit(unsigned char c) {
  if (c >= 'a' && c <= 'z') return 1u << (c - 'a');
  if (c >= '0' && c <= '9') return 1u << 26;
  return 0;
}

uint32_t WordLetters(const std::string& w) {
  uint32_t m = 0;
  for (unsigned char c : w) m |= LetterBit(c);
  return m;
}

// NameTier with the name's letter masks known.
int NameTierMasked(const std::string& name, uint32_t letters, uint32_t startLetters, const std::string& word);

bool PinyinWord(const std::string& w) {
  bool letter = false;
  for (unsigned char c : w) {
    if (c >= 'a' && c <= 'z') letter = true;
    else if (!(c >= '0' && c <= '9') && c != '\'') return false;
  }
  return letter;
}

// The best tier of a character-boundary occurrence of the word in a text.
int LiteralTier(const std::string& text, const std::string& w) {
  if (w.empty() || w.size() > text.size()) return kTierNone;
  int best = kTierNone;
  bool prevAlnum = false, prevDouble = false;
  for (size_t i = 0; i + w.size() <= text.size();) {
    size_t len = CharLen(text, i);
    if (text.compare(i, w.size(), w) == 0) {
      int tier = i == 0 ? kTierPrefix
                 : (len == 2 || prevDouble || !prevAlnum || !IsAlnum((unsigned char)text[i])) ? kTierWordStart
                                                                                                : kTierAnywhere;
      if (best == kTierNone || tier < best) best = tier;
      if (best == kTierPrefix) return best;
    }
    prevAlnum = len == 1 && IsAlnum((unsigned char)text[i]);
    prevDouble = len == 2;
    i += len;
  }
  return best;
}

}  // namespace

std::string NormalizeFindText(const std::string& gbk) {
  std::string out;
  out.reserve(gbk.size());
  for (size_t i = 0; i < gbk.size();) {
    unsigned char c = (unsigned char)gbk[i];
    if (CharLen(gbk, i) == 2) {
      unsigned char t = (unsigned char)gbk[i + 1];
      // Row A3 holds the full-width forms of ASCII 0x21..0x7E at trail
      // 0xA1..0xFE (but for the yen sign at A4 and the macron at FE).
      if (c == 0xA3 && t >= 0xA1 && t <= 0xFE && t != 0xA4 && t != 0xFE) {
        char h = (char)(t - 0x80);
        out += (h >= 'A' && h <= 'Z') ? (char)(h - 'A' + 'a') : h;
      } else if (c == 0xA1 && t == 0xA1) {
        out += ' ';
      } else {
        out.append(gbk, i, 2);
      }
      i += 2;
      continue;
    }
    out += (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : (char)c;
    ++i;
  }
  return out;
}

std::vector<std::string> FindWords(const std::string& query) {
  std::string norm = NormalizeFindText(query);
  std::vector<std::string> words;
  std::string w;
  for (char c : norm) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!w.empty()) words.push_back(w);
      w.clear();
    } else {
      w += c;
    }
  }
  if (!w.empty()) words.push_back(w);
  return words;
}

bool TextHolds(const std::string& text, const std::string& word) { return LiteralTier(text, word) != kTierNone; }

void PinyinLetters(const std::string& name, uint32_t* letters, uint32_t* startLetters) {
  std::vector<Unit> units;
  NameUnits(name, units);
  *letters = *startLetters = 0;
  for (const Unit& u : units) {
    uint32_t first = 0, all = 0;
    if (u.kind == Unit::kAscii) first = all = LetterBit((unsigned char)u.ch);
    for (int r = 0; r < (u.kind == Unit::kHan ? u.count : 0); ++r) {
      const char* s = pinyin::Syllable(u.readings[r]);
      first |= LetterBit((unsigned char)s[0]);
      for (; *s; ++s) all |= LetterBit((unsigned char)*s);
    }
    *letters |= all;
    if (u.start) *startLetters |= first;
  }
}

int NameTier(const std::string& name, const std::string& word) {
  uint32_t letters, startLetters;
  PinyinLetters(name, &letters, &startLetters);
  return NameTierMasked(name, letters, startLetters, word);
}

namespace {

int NameTierMasked(const std::string& name, uint32_t letters, uint32_t startLetters, const std::string& word) {
  int best = LiteralTier(name, word);
  if (best == kTierPrefix || !PinyinWord(word)) return best;
  // Apostrophes at either end separate nothing.
  size_t a = word.find_first_not_of('\''), b = word.find_last_not_of('\'');
  if (a == std::string::npos) return best;
  std::string w = word.substr(a, b - a + 1);
  if ((WordLetters(w) & ~letters) || !(LetterBit((unsigned char)w[0]) & startLetters)) return best;
  thread_local std::vector<Unit> units;
  NameUnits(name, units);
  size_t significant = 0;
  for (const Unit& u : units) significant += u.kind != Unit::kOther;
  // No syllable is longer than six letters: a longer word cannot run through.
  if (w.size() > significant * 6) return best;
  if (PinyinRuns(units, w, true)) return kTierPrefix;
  if (best != kTierWordStart && PinyinRuns(units, w, false)) return kTierWordStart;
  return best;
}

}  // namespace

void CFindIndex::Build(const CMyNodeList& list) {
  m_entries.clear();
  size_t items = 0;
  for (const CMyNode* n : list) items += n->IsItem();
  m_entries.reserve(items);
  for (int kind : {UrlItem, ProgramItem}) {
    for (CMyNode* n : list) {
      if (n->m_nKind != kind) continue;
      FindEntry e;
      e.node = n;
      if (kind == UrlItem) {
        e.caption = ItemCaption(n->m_strName);
        e.where = n->m_pParent ? n->m_pParent->m_strName : std::string();
        e.note = NormalizeFindText(n->m_strNote);
        e.address = NormalizeFindText(n->m_strAddress);
      } else {
        e.caption = ProgramCaption(n->m_strName);
        e.where = kProgramFolderName;
      }
      e.name = NormalizeFindText(e.caption);
      PinyinLetters(e.name, &e.letters, &e.startLetters);
      e.visits = n->m_nVisits;
      e.lastVisit = n->m_tLastVisit;
      m_entries.push_back(std::move(e));
    }
  }
}

std::vector<FindHit> CFindIndex::Find(const std::string& query, size_t limit) const {
  std::vector<FindHit> hits;
  std::vector<std::string> words = FindWords(query);
  if (words.empty() || limit == 0) return hits;
  for (const FindEntry& e : m_entries) {
    if (!e.node) continue;
    int tier = kTierPrefix;
    for (const std::string& w : words) {
      int t = NameTierMasked(e.name, e.letters, e.startLetters, w);
      if (t == kTierNone && (TextHolds(e.note, w) || TextHolds(e.address, w))) t = kTierAnywhere;
      if (t == kTierNone) {
        tier = kTierNone;
        break;
      }
      tier = std::max(tier, t);
    }
    if (tier != kTierNone) hits.push_back({&e, tier});
  }
  std::stable_sort(hits.begin(), hits.end(), [](const FindHit& a, const FindHit& b) {
    if (a.tier != b.tier) return a.tier < b.tier;
    if (a.entry->visits != b.entry->visits) return a.entry->visits > b.entry->visits;
    return a.entry->lastVisit > b.entry->lastVisit;
  });
  if (hits.size() > limit) hits.resize(limit);
  return hits;
}

}  // namespace panels

// The find box's matching: every bookmark of the favorites (by name, note and
// address) and every program-folder entry (by name), found by what the user
// types, in Chinese, in ASCII, or as the pinyin of a Chinese name (full,
// initials, or a mix of both, without tones).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "store/node.h"

namespace panels {

// Where a program-folder entry lives, as the find box names it.
extern const char kProgramFolderName[];  // "程序夹"

// The comparable form of a code page 936 text: ASCII letters in lower case,
// full-width ASCII characters and the full-width blank as their half-width
// forms. Double-byte characters are never split.
std::string NormalizeFindText(const std::string& gbk);

// How well a word matches: a name that starts with it, a word or character
// start inside the name, anywhere (in the name, the note or the address).
enum FindTier { kTierNone = -1, kTierPrefix = 0, kTierWordStart = 1, kTierAnywhere = 2 };

// The best tier of one word (already normalized, no blanks) against a
// normalized name by its characters and by the pinyin of its Chinese
// characters. kTierNone when the name does not hold it.
int NameTier(const std::string& name, const std::string& word);
// Whether a word is found in a normalized text at all (a character boundary
// match, no pinyin): for notes and addresses.
bool TextHolds(const std::string& text, const std::string& word);
// The letter masks of FindEntry for a normalized name.
void PinyinLetters(const std::string& name, uint32_t* letters, uint32_t* startLetters);

// One thing the box can find.
struct FindEntry {
  CNodeRef node;           // null once the tree has freed it
  std::string caption;     // the name as its button shows it
  std::string where;       // the category's name, or "程序夹"
  std::string name, note, address;  // normalized
  int32_t visits = 0;
  int64_t lastVisit = 0;
  // The letters (bit 0 'a' .. bit 25 'z', bit 26 any digit) the name's
  // pinyin can take anywhere, and those it can start a run with: a word
  // needing others cannot run through it, so most names are passed by at once.
  uint32_t letters = 0, startLetters = 0;
};

struct FindHit {
  const FindEntry* entry;
  int tier;
};

// The entries of a tree, made when the box is first used (and again when it
// opens, for a tree that may have changed), then asked per keystroke.
class CFindIndex {
 public:
  // Every UrlItem with its category, then every ProgramItem.
  void Build(const CMyNodeList& list);
  size_t Size() const { return m_entries.size(); }
  // The entries matching every blank-separated word of `query` (GBK), best
  // first: by tier (the worst of the words), then more visits, then the
  // later last visit, then tree order. At most `limit` hits.
  std::vector<FindHit> Find(const std::string& query, size_t limit = SIZE_MAX) const;

 private:
  std::vector<FindEntry> m_entries;
};

// The words of a query, normalized; blanks (half- or full-width) separate them.
std::vector<std::string> FindWords(const std::string& query);

}  // namespace panels

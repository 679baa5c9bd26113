#include "net/chat_links.h"

namespace qb {

namespace {

const char* const kPrefixes[] = {"http:", "https:", "ftp:", "mailto:", "www."};

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? (char16_t)(c - u'A' + u'a') : c; }

// The length of the allowed prefix at text[i], 0 when there is none.
size_t PrefixAt(const std::u16string& text, size_t i) {
  for (const char* p : kPrefixes) {
    size_t n = 0;
    while (p[n] && i + n < text.size() && Lower(text[i + n]) == (char16_t)p[n]) ++n;
    if (!p[n]) return n;
  }
  return 0;
}

// Where an address ends: blanks, controls, quote marks and angle brackets
// (and the wide blank of Chinese text) are never part of one.
bool Ends(char16_t c) {
  return c <= 0x20 || c == 0x7F || c == u'"' || c == u'<' || c == u'>' || c == 0x3000 || c == 0xA0 ||
         (c >= 0x80 && c < 0xA0);
}

bool WordChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.' ||
         c == u'_' || c == u'-' || c == u'+' || c == u'@' || c == u'/' || c == u'\\' || c == u':';
}

bool Closing(char16_t c) {
  return c == u'.' || c == u',' || c == u';' || c == u':' || c == u'!' || c == u'?' || c == u')' || c == u']' ||
         c == u'}' || c == u'\'';
}

}  // namespace

bool EndsChatLink(char16_t c) { return Ends(c); }

ChatLink LinkStretch(const std::u16string& text, size_t editFrom, size_t editTo) {
  editTo = editTo < text.size() ? editTo : text.size();
  editFrom = editFrom < editTo ? editFrom : editTo;
  ChatLink s{editFrom, editTo};
  while (s.from > 0 && !Ends(text[s.from - 1])) --s.from;
  if (s.from > 0) --s.from;
  while (s.to < text.size() && !Ends(text[s.to])) ++s.to;
  if (s.to < text.size()) ++s.to;
  return s;
}

namespace {
// The first character after the prefix and the slashes that follow it.
size_t BodyAt(const std::u16string& text, size_t i, size_t n) {
  size_t p = i + n;
  while (p < text.size() && text[p] == u'/') ++p;
  return p;
}
}  // namespace

bool IsChatLinkAddress(const std::u16string& text) {
  size_t n = PrefixAt(text, 0);
  if (!n || BodyAt(text, 0, n) >= text.size()) return false;
  for (char16_t c : text)
    if (Ends(c)) return false;
  return true;
}

std::vector<ChatLink> FindChatLinks(const std::u16string& text) {
  std::vector<ChatLink> links;
  for (size_t i = 0; i < text.size();) {
    size_t n = (i == 0 || !WordChar(text[i - 1])) ? PrefixAt(text, i) : 0;
    if (!n) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && !Ends(text[end])) ++end;
    while (end > i + n && Closing(text[end - 1])) --end;
    if (end > BodyAt(text, i, n)) links.push_back(ChatLink{i, end});
    i = end > i ? end : i + 1;
  }
  return links;
}

}  // namespace qb

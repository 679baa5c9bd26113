#include "skin/hotkey.h"

#include <cstdlib>
#include <vector>

namespace qb {

namespace {
std::vector<std::string> SplitPieces(const std::string& text) {
  std::vector<std::string> pieces;
  std::string cur;
  for (char c : text) {
    if (c == ' ') continue;
    if (c == '+') {
      if (!cur.empty()) pieces.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) pieces.push_back(cur);
  return pieces;
}

// The rest of "F<n>" read the way a decimal scan reads it: optional sign,
// then digits. False when it does not begin with a number.
bool ScanNumber(const std::string& rest, long& value) {
  const char* p = rest.c_str();
  char* end = nullptr;
  value = strtol(p, &end, 10);
  return end != p;
}
}  // namespace

void ParseHotkeyText(const std::string& text, int& modifiers, int& virtualKey) {
  modifiers = 0;
  virtualKey = 0;
  for (const std::string& piece : SplitPieces(text)) {
    if (piece == "Shift") { modifiers |= kHotkeyShift; continue; }
    if (piece == "Ctrl") { modifiers |= kHotkeyCtrl; continue; }
    if (piece == "Alt") { modifiers |= kHotkeyAlt; continue; }
    if (piece.size() <= 3 && piece[0] == 'F') {
      std::string rest = piece.substr(1);
      if (rest.empty()) {  // "F" alone ends the parse with no key
        virtualKey = 0;
        return;
      }
      long n = 0;
      if (ScanNumber(rest, n) && n >= 2 && n <= 11) {
        virtualKey = (int)n + 111;
        continue;
      }
    }
    if (piece.size() == 1) {
      unsigned char c = (unsigned char)piece[0];
      if (c >= 'a' && c <= 'z') c = (unsigned char)(c - 'a' + 'A');
      virtualKey = c;
    }
  }
}

bool IsHotkeyUsable(int modifiers, int virtualKey) {
  if (virtualKey == 0) return false;
  return modifiers != 0 || (virtualKey >= kVkF2 && virtualKey <= kVkF11);
}

std::string FormatHotkeyText(unsigned virtualKey, bool shiftDown, bool ctrlDown, bool altDown) {
  static const struct { const char* name; unsigned key; } kFunctionKeys[] = {
      {"F2", 113}, {"F3", 114}, {"F4", 115}, {"F5", 116},  {"F6", 117},
      {"F7", 118}, {"F8", 119}, {"F9", 120}, {"F10", 121}, {"F11", 122},
  };
  std::string text;
  if (virtualKey >= '0' && virtualKey <= 'Z') {
    text.assign(1, (char)virtualKey);
  } else {
    for (const auto& f : kFunctionKeys)
      if (f.key == virtualKey) text = f.name;
  }
  if (altDown) text = "Alt + " + text;
  if (ctrlDown) text = "Ctrl + " + text;
  if (shiftDown) text = "Shift + " + text;
  return text;
}

}  // namespace qb

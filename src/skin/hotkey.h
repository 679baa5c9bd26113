// The hotkey text grammar: "Ctrl+S", "Shift+Ctrl+Alt+F5", "F7". The text is
// what the configuration file stores and the settings dialog shows; the
// parsed form is what RegisterHotKey takes.
#pragma once
#include <string>

namespace qb {

// Modifier flags with the values of the Win32 hotkey modifiers.
enum : int { kHotkeyAlt = 1, kHotkeyCtrl = 2, kHotkeyShift = 4 };

// Virtual keys of the function keys a hotkey may use alone.
enum : int { kVkF2 = 113, kVkF11 = 122 };

// Never fails: an unusable text gives a virtual key of 0.
void ParseHotkeyText(const std::string& text, int& modifiers, int& virtualKey);

// The one rule for whether a parsed hotkey may be registered or sent: a key,
// and either a modifier or one of F2 to F11 alone.
bool IsHotkeyUsable(int modifiers, int virtualKey);

// The text for a key press and the modifier state at that moment, e.g.
// "Shift + Ctrl + Alt + K". A key outside '0'..'Z' and F2..F11 gives only the
// modifier part ("Ctrl + "), or "" when no modifier is down.
std::string FormatHotkeyText(unsigned virtualKey, bool shiftDown, bool ctrlDown, bool altDown);

}  // namespace qb

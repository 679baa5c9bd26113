// Key presses as the keyboard makes them, for the capture's route through a
// browser's address bar (and the window tests that press the program's keys).
#pragma once
#include <windows.h>

#include <utility>
#include <vector>

namespace qb {

// Sends (virtual key, down) pairs in one piece, each with its scan code.
inline void SendKeys(const std::vector<std::pair<WORD, bool>>& keys) {
  std::vector<INPUT> in;
  for (const auto& k : keys) {
    INPUT i = {};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = k.first;
    i.ki.wScan = static_cast<WORD>(MapVirtualKeyW(k.first, MAPVK_VK_TO_VSC));
    i.ki.dwFlags = k.second ? 0 : KEYEVENTF_KEYUP;
    in.push_back(i);
  }
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

}  // namespace qb

// The configuration file config\MyConfig.ini and the hotkey text in it. The
// settings read from any file are saved and read back unchanged.
#include "fuzz_util.h"
#include "skin/config.h"
#include "skin/hotkey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes((const char*)data, size);
  int modifiers = 0, key = 0;
  qb::ParseHotkeyText(bytes, modifiers, key);
  qb::IsHotkeyUsable(modifiers, key);

  qfuzz::RemoveScratch("config/MyConfig.bak");
  qfuzz::WriteScratch("config/MyConfig.ini", bytes);
  qb::ConfigSettings settings;
  FUZZ_CHECK(qb::LoadConfig(qfuzz::ScratchCore(), settings));
  FUZZ_CHECK(settings.hotkeyText.size() <= qb::kConfigValueMax);
  FUZZ_CHECK(settings.chatSendKey.size() <= qb::kConfigValueMax);
  qb::ParseHotkeyText(settings.hotkeyText, modifiers, key);
  // A key the settings dialog can capture, written as it writes one (blanks
  // removed), reads the same. "F" alone is no key to the reader, so the
  // dialog cannot register it either.
  bool capturable = (key >= '0' && key <= 'Z' && key != 'F') || (key >= qb::kVkF2 && key <= qb::kVkF11);
  if (capturable) {
    std::string text = qb::FormatHotkeyText((unsigned)key, modifiers & qb::kHotkeyShift,
                                            modifiers & qb::kHotkeyCtrl, modifiers & qb::kHotkeyAlt);
    std::string stored;
    for (char c : text)
      if (c != ' ') stored.push_back(c);
    int m2 = 0, k2 = 0;
    qb::ParseHotkeyText(stored, m2, k2);
    FUZZ_CHECK(m2 == modifiers);
    FUZZ_CHECK(k2 == key);
  }

  FUZZ_CHECK(qb::SaveConfig(qfuzz::ScratchCore(), settings));
  qb::ConfigSettings again;
  FUZZ_CHECK(qb::LoadConfig(qfuzz::ScratchCore(), again));
  FUZZ_CHECK(again.hotkeyText == settings.hotkeyText);
  FUZZ_CHECK(again.chatSendKey == settings.chatSendKey);
  FUZZ_CHECK(again.chatTip == settings.chatTip);
  return 0;
}

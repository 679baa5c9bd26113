#include "skin/settings.h"

#include "skin/hotkey.h"

namespace qb {

void LoadSettingsAtStart(const std::string& programDir, ConfigSettings& config, SkinSet& skins,
                         IUserInterface* ui) {
  LoadConfig(programDir, config);
  LoadSkin(programDir, "", skins, ui);
}

int ForwardableHotkey(const std::string& programDir, int& modifiers, int& virtualKey) {
  modifiers = 0;
  virtualKey = 0;
  ConfigSettings config;
  if (!LoadConfig(programDir, config)) return 1;
  if (config.hotkeyText.empty()) return 1;
  ParseHotkeyText(config.hotkeyText, modifiers, virtualKey);
  return IsHotkeyUsable(modifiers, virtualKey) ? 2 : 0;
}

}  // namespace qb

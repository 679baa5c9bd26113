// The settings part of the program's logic start, in one place so that the
// order and the "failures keep the defaults" rule hold wherever it is called.
#pragma once
#include <string>

#include "base/ui.h"
#include "skin/config.h"
#include "skin/skin.h"

namespace qb {

// Reads the configuration file, then loads the current skin (empty name).
// Both results are ignored: whatever cannot be read keeps its defaults, and
// nothing is shown except the font-creation box of the skin load.
void LoadSettingsAtStart(const std::string& programDir, ConfigSettings& config, SkinSet& skins,
                         IUserInterface* ui);

// The check a second copy of the program makes before it forwards the
// hotkey: 1 when there is nothing to forward (no configuration, or an empty
// hotkey text), 2 when the hotkey is usable (modifiers and key filled in),
// 0 when it is not.
int ForwardableHotkey(const std::string& programDir, int& modifiers, int& virtualKey);

}  // namespace qb

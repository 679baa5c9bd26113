// The configuration file config\MyConfig.ini: the three settings that are not
// part of a skin, in a fixed six-line layout read by line number.
#pragma once
#include <cstdint>
#include <string>

namespace qb {

struct ConfigSettings {
  std::string hotkeyText = "Ctrl+S";       // add-to-favorites hotkey, no blanks
  std::string chatSendKey = "Ctrl+Enter";  // "Ctrl+Enter" or "Enter"
  int32_t chatTip = 1;                     // flash the tray icon for chat lines
};

// A stored value is at most this many bytes; a longer one in the file is cut.
enum : size_t { kConfigValueMax = 99 };

// programDir ends in '\'. LoadConfig returns 1 when the file could be opened
// (whatever it held) and 0 otherwise, leaving `settings` as they were; a
// missing file whose backup exists is recovered from the backup first.
int LoadConfig(const std::string& programDir, ConfigSettings& settings);
// Rewrites the file whole, keeping the previous contents in the backup.
int SaveConfig(const std::string& programDir, const ConfigSettings& settings);

}  // namespace qb

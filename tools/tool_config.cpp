// qimbo-tool config: the configuration file of a program folder.
#include <cstdio>
#include <cstring>

#include "os/os.h"
#include "skin/config.h"
#include "skin/hotkey.h"
#include "tool.h"

static int RunConfig(int argc, char** argv) {
  if (argc != 3 || strcmp(argv[1], "dump") != 0) {
    fprintf(stderr, "usage: qimbo-tool config dump DIR\n");
    return 2;
  }
  std::string dir = os::ProgramPath(argv[2]);
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  if (!os::IsFolder(dir.substr(0, dir.size() - 1))) {
    fprintf(stderr, "qimbo-tool: %s is not a folder\n", argv[2]);
    return 1;
  }
  qb::ConfigSettings settings;
  int loaded = qb::LoadConfig(dir, settings);  // recovers the backup like the program does
  int modifiers = 0, key = 0;
  qb::ParseHotkeyText(settings.hotkeyText, modifiers, key);
  printf("{\"loaded\": %s, \"FavoriteKey\": %s, \"IF_CHATTIP\": %d, \"ChatSendKey\": %s,\n"
         " \"hotkey\": {\"modifiers\": %d, \"virtualKey\": %d, \"usable\": %s}}\n",
         loaded ? "true" : "false", qtool::JsonString(settings.hotkeyText).c_str(), (int)settings.chatTip,
         qtool::JsonString(settings.chatSendKey).c_str(), modifiers, key,
         qb::IsHotkeyUsable(modifiers, key) ? "true" : "false");
  return 0;
}

static qtool::Registrar reg("config", RunConfig,
                            "  config dump DIR         the settings of program folder DIR as JSON");

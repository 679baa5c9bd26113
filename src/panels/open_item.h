// Opening what the buttons carry: addresses, files, shortcuts and programs,
// through the shell seam so that tests can record instead of starting things.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "base/ui.h"

class CMyNode;

namespace panels {

// What a double click on an item starts.
struct OpenAction {
  enum Kind { None, Open, Run } kind = None;  // Open: the "open" verb; Run: a command line
  std::string target;
  int show = 0;
  bool operator==(const OpenAction& o) const { return kind == o.kind && target == o.target && show == o.show; }
};

// The decision for a node of any kind: a bookmark opens its address; a
// program item opens its file, runs its shortcut's target, or for the
// "Microsoft …" shortcuts runs the office program from a fixed table on the
// system drive. Reads the shortcut file and asks `ui` about a broken drive.
OpenAction DecideOpenItem(const CMyNode& node, qb::IUserInterface& ui);

// Program path below the system drive for a "Microsoft …" shortcut name
// (exact name), or null when the name is not in the table.
const char* MicrosoftProgramPath(const std::string& shortcutName);

// The target program of a shell link file, upper-cased, when it names an
// ".EXE"; empty otherwise, and for any file that is short or lies about its
// lengths.
std::string ShortcutTarget(const std::string& path);
// The same on bytes already read.
std::string ShortcutTargetOfBytes(const std::string& bytes);

// "C:" from the registry's system path, or empty after telling the user.
std::string SystemDrive(qb::IUserInterface& ui);

// The browser program from the registry's open command for web pages, or
// empty after telling the user.
std::string ReadBrowserProgram(qb::IUserInterface& ui);
// Starts the browser, waits for it, then opens the address maximised.
void OpenInNewBrowser(const std::string& address, qb::IUserInterface& ui);

// The hook library plays a script file; 1 when it could read it. Until the
// recorder is built in nothing plays.
using ScriptPlayer = std::function<int(const std::string& scriptPath)>;
void SetScriptPlayer(ScriptPlayer player);
// Plays the item's recorded script after `waitMs` when it has one enabled.
void PlayItemScript(const CMyNode& node, const std::string& programDir, uint32_t waitMs);

// The double click: start what DecideOpenItem says, play a bookmark's
// script, and count the visit. The tree is not saved.
void OpenItem(CMyNode& node, const std::string& programDir, qb::IUserInterface& ui);

// The item menu's "在新窗口中打开": a new browser window for the bookmark,
// then its script after 999 ms; the visit is counted.
void OpenItemInNewWindow(CMyNode& item, const std::string& programDir, qb::IUserInterface& ui);
// "查看离线收藏的网文": the offline copy in a new browser window, whether or
// not the file exists; the visit is counted.
void ViewOfflinePage(CMyNode& item, const std::string& programDir, qb::IUserInterface& ui);
// "本组全部打开": every bookmark of the category first loaded into the main
// window's small browser (`preload`, 500 ms apart), then each opened in a
// browser window of its own, 350 ms after starting the browser. A preload
// that answers false (no web page engine) loaded nothing: the loading step
// ends there, so that each bookmark is opened once.
void OpenAllItems(const std::vector<CMyNode*>& items, qb::IUserInterface& ui,
                  const std::function<bool(const std::string&)>& preload);

// The click-or-drag test of a pressed button: waits 250 ms, then asks whether
// the button's release is already waiting. True when it is not (a drag).
bool PressIsDrag(const std::function<bool()>& releaseWaiting);
constexpr uint32_t kClickTimeMs = 250;

// Caption of the program's message boxes.
extern const char kBoxCaption[];

}  // namespace panels

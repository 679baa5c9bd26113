// The three favorites panels as the main window uses them: the category
// panel (tabs), the item panel (bookmarks) and the program folder. Each is a
// borderless pop-up owned by the main window, placed over its area; the main
// window creates them once, shows and hides them with itself and tells them
// what to show.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "base/messages.h"
#include "base/ui.h"
#include "panels/circles.h"
#include "panels/panel_logic.h"
#include "skin/skin_button_win32.h"

class CAppLogic;
class CMyNode;

namespace panels {

// The messages the panels take are in base/messages.h: WM_PANEL_EDITOR_CLOSED
// and WM_PANEL_RECORDER_CLOSED to the item panel, WM_APPLY_SKIN to any panel.
using qb::WM_APPLY_SKIN;
using qb::WM_PANEL_EDITOR_CLOSED;
using qb::WM_PANEL_RECORDER_CLOSED;

// What the panels need from the program around them.
struct PanelHost {
  CAppLogic* app = nullptr;            // the tree, the program directory, bookmark files
  qb::IUserInterface* ui = nullptr;    // message boxes
  std::function<DisplayMode()> mode;   // which folder the main window shows
  std::function<qb::SkinColours(int area)> skinLook;  // areas 1, 2, 3
  std::function<std::string(int area)> skinImage;     // the area's background image path
  std::function<std::string()> hotkeyText;            // the configured capture hotkey
  // Loads an address into the main window's hidden small browser (1031);
  // false when it has no web page engine to load it into (nothing is done).
  std::function<bool(const std::string&)> navigateOpenAll;
  // Disables (false) or enables (true) the main window and the three panels
  // while an item editor or a script recorder is open.
  std::function<void(bool)> enableAll;
  // The script recorder, when it is built in: creates the window for the
  // node with the item panel as the one told of its end; null when it could
  // not be created. (The item editor is the panels' own.)
  std::function<HWND(CMyNode*, HWND itemPanel)> createRecorder;
  CircleService circles;  // panels::CirclesOf(net state) once the network runs
};

// Creates the three panels, hidden, owned by `owner`: the category panel at
// (0, 16) and the two item panels at (200, 40) from the owner's top-left
// corner. Runs the start-up group "启动" and fills every panel. False when a
// panel could not be created (the caller shows its box and ends).
bool CreatePanels(HWND owner, const PanelHost& host);
// Where the category panel and the item panels sit, in pixels from the
// owner's top-left corner (known before they are made).
RECT TabPanelPlace();
RECT ItemPanelPlace();
void DestroyPanels();

HWND TabPanel();
HWND UrlPanel();
HWND LnkPanel();

// Rebuilds the tabs for UrlCategory (0) or ProgramCategory (2).
void RefreshTabs(int kind);
// Fills the item panel with a web category's items (null: no item at all).
void ShowCategoryItems(CMyNode* category);
// Fills the program folder with a program category's files (null: no file at all).
void ShowProgramFolder(CMyNode* category);
// Focuses the tab of a category (null: slot 0).
void FocusCategoryTab(CMyNode* node);

}  // namespace panels

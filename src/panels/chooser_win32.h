// The category chooser (CSelSortsDlg): the owner of the capture hotkey. A
// borderless window over the category panel's place that shows the web
// categories as tabs; a click on one files the front-most browser's page
// into it. The application object creates it hidden at start-up, after the
// panels, and destroys it at exit.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace panels {

// What the chooser needs from the program beyond the panels' host.
struct ChooserHost {
  HWND mainWindow = nullptr;
  // The hotkey's stop boxes (GBK text, MessageBox flags).
  std::function<int(const std::string& text, unsigned flags)> box;
  // Hides the main window with its three panels (a capture does).
  std::function<void()> hideMain;
  // Keeps a newly registered hotkey text and saves the configuration.
  std::function<int(const std::string& text)> storeHotkey;
  // Tells the main window that a category was made in a slot.
  std::function<void(int slot)> categoryCreated;
};

// Creates the chooser, hidden, and registers the configured hotkey. False
// when the window cannot be made.
bool CreateChooser(const ChooserHost& host);
void DestroyChooser();
HWND ChooserWindow();

// Brings the chooser up over the category panel's place: the main window is
// minimised and brought to the front, the chooser shown with the current web
// categories. The tray's capture command.
void ShowChooser();
// The settings dialog's change of the hotkey, after UnregisterCaptureHotkeys:
// registers the text and, when that works, keeps it and saves it. 1 on success.
int ChangeCaptureHotkey(const std::string& text);
void UnregisterCaptureHotkeys();
// The settings dialog's cancel: the kept text registered again, not saved.
int RestoreCaptureHotkey(const std::string& text);

}  // namespace panels

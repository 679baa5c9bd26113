// CMainDlg: the program's main window (template 102). A borderless dialog with
// the banner, the file box, the function buttons and the tray icon; it creates
// the three panels and switches between the web-address and the program folder.
#pragma once
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "panels/panel_logic.h"
#include "skin/settings_dlg_win32.h"
#include "skin/skin_button_win32.h"
#include "win/dialog_win32.h"
#include "win/gdi_win32.h"
#include "win/handles_win32.h"
#include "win/messages_win32.h"
#include "widgets/explorer_win32.h"
#include "widgets/login_dlg_win32.h"
#include "widgets/picture_win32.h"
#include "widgets/tray_win32.h"

class CMyNode;
namespace panels {
class CFindBox;
}

namespace qb {

class CFavoritesApp;
class CChatDialog;

using panels::DisplayMode;
constexpr DisplayMode kModeWeb = DisplayMode::kWeb, kModeProgram = DisplayMode::kProgram;
enum { kMaxSkins = 200, kTopVisitedEntries = 38 };

// A drop-down list's closed box fitted above `limit`: its selection field
// lowered (not under 12 pixels) by what the box reaches past it, then the
// box moved up if it still does (not above 0; a box at 0 stays).
struct FileBoxFit {
  int top, height, field;
};
FileBoxFit FitFileBox(int top, int height, int field, int limit);

// The object owns its window (win/dialog_win32.h) and deletes itself on the
// exit commands; CFavoritesApp deletes it when start-up fails after it was made.
class CMainDlg : public CDialogWindow {
 public:
  explicit CMainDlg(CFavoritesApp& app);
  ~CMainDlg() override;

  bool Create();
  // A key taken by the program's loop, before the dialog manager sees it:
  // a letter or digit typed into this window or a panel (or Ctrl+F) opens the
  // find box, and the letter goes to it (`msg` is changed for that).
  void OnKeyForFind(MSG& msg);
  // Loads the buttons' shared icons, from any thread: start-up does so on
  // the model's thread while the window's controls are made.
  static void LoadButtonIcons();

  // Operations the panels and other windows call.
  // Brings the window up with its panels; false when the panels, made at the
  // first showing, could not be made. The first showing at start-up paints
  // this window alone: its panels follow once the message loop runs.
  bool Show();
  // How the process was asked to show its first window (STARTUPINFO's
  // wShowWindow), kStartShowNotAsked when its starter did not say; tests
  // set it (kStartShowOfProcess: the process's own again).
  static constexpr int kStartShowNotAsked = -1, kStartShowOfProcess = -2;
  static int StartShowMode();
  static void SetStartShowMode(int mode) { s_startShowMode = mode; }
  // Makes the panels if they are not made yet and shows them; false when
  // they could not be made.
  bool ShowPanels();
  // Makes the panels, hidden, if they are not made yet; false when they
  // could not be made.
  bool MakePanels();
  // Makes the file box if it is not made yet; false when it could not be.
  bool MakeFileBox();
  // Whether the panels of the start-up are still to come.
  bool PanelsDue() const { return m_panelsDue; }
  void Hide();
  void Toggle();
  void RefreshCurrentMode();
  // Shows a web category's items in the item panel (the network code asks).
  void ShowWebCategory(CMyNode* category) { ShowCategory(kModeWeb, category); }
  DisplayMode Mode() const { return m_mode; }
  HWND TabPanel() const { return m_tabPanel; }
  HWND UrlPanel() const { return m_urlPanel; }
  HWND LnkPanel() const { return m_lnkPanel; }
  HMENU SkinMenu() const { return m_skinMenu.Get(); }
  HMENU TopVisitedMenu() const { return m_topMenu.Get(); }
  CSystemTray& Tray() { return m_tray; }
  bool ChatPending() const { return m_chatPending; }
  // The login window while it is open, else null.
  CLoginDlg* LoginWindow() const { return m_login.get(); }
  // The chat window while it is open, else null.
  CChatDialog* ChatWindow() const { return m_chat.get(); }
  // The settings window while it is open (null otherwise).
  CBackBmpDlg* Settings() const { return m_settings.get(); }
  // The tray menu as it would be shown now: the popup of the menu resource,
  // which the returned owner holds.
  ScopedMenu BuildTrayMenu(HMENU* popup) const;

  // The find box over the item panel (Ctrl+F, or a letter or digit typed
  // while this window or a panel has the focus); made at its first use.
  bool OpenFind();

  // The file box (made in the first step after the first frame), and where
  // it sits once made, with its field's height: the first frame draws it
  // there before it is made.
  HWND FileBox() const;
  RECT FileBoxPlace(int* field) const;
  panels::CFindBox* FindBox() const { return m_find.get(); }

  // The menus, as the window builds them; public for the window tests.
  static ScopedMenu BuildSkinMenu(const std::string& programDir);
  static ScopedMenu BuildTopVisitedMenu(const std::vector<std::string>& names);

 private:
  INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool OnInitDialog() override;
  void OnTimer(UINT_PTR id);
  // The start-up work that waits for the first frame, one step per posted
  // WM_AFTER_SHOW (its wParam is the step), so that the loop answers, paints
  // and takes input between the steps.
  enum AfterShowStep : WPARAM {
    kStepFileBox, kStepOle, kStepPanels, kStepTabPanel, kStepItemPanel, kStepChooser, kStepIcons, kStepLinks,
    kStepTray,
    kAfterShowSteps,
    kActivateShown  // not a step: the activation of a start shown without it (Show)
  };
  void OnAfterShow(WPARAM step);
  void MakeHiddenParts();
  void EnsureIcons();
  void AddAboutToSystemMenu();
  bool ActivateShown();
  void BeginStepsAfterShow();
  void RestoreFocus(HWND focus);
  void OnApplySkin();
  void OnWindowClosed(UINT msg);
  void OnOpenChat();
  void OnChatClosed();
  // A chat or member notification: to the chat window when it is open.
  bool PassToChat(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnNewVersion();
  void OpenLogin();
  void OnLoginClosed();
  void OnLoginResult(WPARAM result);
  void OnSessionLost(WPARAM why);
  void RaiseSecondaryWindows();
  void OnCategoryCreated();
  void OnCommand(UINT id, UINT code);
  void OpenSettings();
  void SkinApplied(int area);
  void OnTrayNotify(LPARAM mouse);
  void OnPaint();
  void PaintFrame();
  void ApplySkinToButtons();
  void LoadBackground();
  void EnsureBackground();
  void EnsureTray();
  bool CreatePanels();
  void FitBannerAbovePanels();
  void FitFileBoxAbovePanels();
  void PanelPlaces(RECT* tab, RECT* item) const;
  void PaintFileBoxStandIn(HDC dc);
  std::vector<std::wstring> FileBoxNames(int* select) const;
  void FillFileBox();
  void RebuildTopVisitedMenu();
  void EnterMode(DisplayMode mode, bool freshSkin);
  void SwitchMode();
  void WebModeWithFirstCategory();
  void SwitchFavoritesFile();
  void ChangeSkin(UINT id);
  void OpenTopVisited(UINT id);
  void Exit(bool hideFirst);
  void ShowTrayMenu();
  void ShowMenuAtCursor(HMENU menu);
  void AboutBox();
  void OpenHelp();
  void Flash(UINT firstIcon, UINT lastIcon, bool newList);
  void ShowCategory(DisplayMode mode, CMyNode* category);
  void DestroyPanelWindows();
  void RestackPanels();
  void RestackOverSecondary();
  void RebuildTabs(DisplayMode mode, CMyNode* focus);
  void EnableAll(bool enable);

  void TakeKeyboardFocus();

  CFavoritesApp& m_app;
  std::unique_ptr<panels::CFindBox> m_find;
  HWND m_tabPanel = nullptr;
  HWND m_urlPanel = nullptr;
  HWND m_lnkPanel = nullptr;
  DisplayMode m_mode = kModeWeb;
  bool m_chatPending = false;
  ScopedMenu m_skinMenu;
  ScopedMenu m_topMenu;
  GdiBitmap m_background;
  CPicture m_picture;
  CSystemTray m_tray;
  bool m_backgroundDue = false;  // decoded at the first paint
  bool m_panelsDue = false;      // made and shown once the loop runs (WM_AFTER_SHOW)
  bool m_trayMade = false;
  bool m_shownAtStart = false;   // Show has run once (the first, start-up showing is done)
  static int s_startShowMode;    // StartShowMode's answer set by a test, or kStartShowOfProcess
  bool m_stepsBegun = false;     // the first WM_AFTER_SHOW is posted
  // The favorites files the first frame listed for the file box and the
  // one it showed chosen, until the box is filled with them.
  std::optional<std::vector<std::wstring>> m_drawnFiles;
  int m_drawnSelect = 0;
  ScopedIcon m_icon;
  ScopedIcon m_smallIcon;
  CExplorer1 m_banner;
  CExplorer1 m_openAll;
  CSkinButton m_buttons[9];
  std::unique_ptr<CLoginDlg> m_login;
  std::unique_ptr<CChatDialog> m_chat;
  std::unique_ptr<CBackBmpDlg> m_settings;
};

}  // namespace qb

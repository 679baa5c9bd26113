// CMainDlg: the program's main window (template 102). A borderless dialog with
// the banner, the file box, the function buttons and the tray icon; it creates
// the three panels and switches between the web-address and the program folder.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "skin/skin_button_win32.h"
#include "win/messages_win32.h"
#include "widgets/explorer_win32.h"
#include "widgets/picture_win32.h"
#include "widgets/tray_win32.h"

class CMyNode;

namespace qb {

class CFavoritesApp;

enum { kModeWeb = 0, kModeProgram = 2 };
enum { kMaxSkins = 200, kTopVisitedEntries = 38 };

class CMainDlg {
 public:
  explicit CMainDlg(CFavoritesApp& app);
  ~CMainDlg();
  CMainDlg(const CMainDlg&) = delete;
  CMainDlg& operator=(const CMainDlg&) = delete;

  bool Create();
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Operations the panels and other windows call.
  // Brings the window up with its panels; false when the panels, made at the
  // first showing, could not be made.
  bool Show();
  void Hide();
  void Toggle();
  void RefreshCurrentMode();
  // Shows a web category's items in the item panel (the network code asks).
  void ShowWebCategory(CMyNode* category) { ShowCategory(kModeWeb, category); }
  int Mode() const { return m_mode; }
  HWND TabPanel() const { return m_tabPanel; }
  HWND UrlPanel() const { return m_urlPanel; }
  HWND LnkPanel() const { return m_lnkPanel; }
  HWND Banner() const { return m_banner.GetSafeHwnd(); }
  HWND OpenAllBrowser() const { return m_openAll.GetSafeHwnd(); }
  CExplorer1& OpenAllExplorer() { return m_openAll; }
  HMENU SkinMenu() const { return m_skinMenu; }
  HMENU TopVisitedMenu() const { return m_topMenu; }
  CSystemTray& Tray() { return m_tray; }
  bool ChatPending() const { return m_chatPending; }
  // The tray menu as it would be shown now (the caller destroys it).
  HMENU BuildTrayMenu(HMENU* resource) const;

  // The menus, as the window builds them; public for the window tests.
  static HMENU BuildSkinMenu(const std::string& programDir);
  static HMENU BuildTopVisitedMenu(const std::vector<std::string>& names);

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  bool OnInitDialog();
  void OnCommand(UINT id, UINT code);
  void OnTrayNotify(LPARAM mouse);
  void OnPaint();
  void ApplySkinToButtons();
  void LoadBackground();
  void EnsureBackground();
  void EnsureTray();
  bool CreatePanels();
  void FitAbovePanels();
  void PanelPlaces(RECT* tab, RECT* item) const;
  void FillFileBox();
  void RebuildTopVisitedMenu();
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
  void ShowCategory(int mode, CMyNode* category);
  void DestroyPanelWindows();
  void RestackPanels();
  void RebuildTabs(int mode, CMyNode* focus);
  void EnableAll(bool enable);

  CFavoritesApp& m_app;
  HWND m_hWnd = nullptr;
  HWND m_tabPanel = nullptr;
  HWND m_urlPanel = nullptr;
  HWND m_lnkPanel = nullptr;
  int m_mode = kModeWeb;
  bool m_chatPending = false;
  HMENU m_skinMenu = nullptr;
  HMENU m_topMenu = nullptr;
  HBITMAP m_background = nullptr;
  CPicture m_picture;
  CSystemTray m_tray;
  bool m_backgroundDue = false;  // decoded at the first paint
  bool m_trayMade = false;
  HICON m_icon = nullptr;
  HICON m_smallIcon = nullptr;
  CExplorer1 m_banner;
  CExplorer1 m_openAll;
  CSkinButton m_buttons[9];
};

}  // namespace qb

// The panel windows and their buttons. Internal to the panels; the main
// window uses panels_win32.h.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "panels/geometry.h"
#include "panels/panels_win32.h"
#include "panels/url_edit_dlg_win32.h"
#include "skin/bcmenu_win32.h"
#include "skin/skin_button_win32.h"
#include "store/node.h"
#include "widgets/picture_win32.h"
#include "win/dialog_win32.h"
#include "win/gdi_win32.h"
#include "win/messages_win32.h"
#include "win/text_win32.h"

// Every node a panel or a button keeps is a CNodeRef: it becomes null when
// the tree frees the node (a delete, another favorites file, a download), so
// no window ever reaches a freed node.

namespace panels {

PanelHost& Host();
std::string ProgramDir();
int ShowBox(const std::string& text, unsigned flags);
// The cursor position measured from the main window's top-left corner (the
// screen position when the main window sits at the screen's corner).
POINT CursorInMain();
// The shell's icon for a file, or null; the caller owns it (a ScopedIcon).
// The icon of a ".ico" file is remembered until the file's time or size changes.
HICON ShellIcon(const std::string& path);
// How many times ShellIcon has asked the shell.
int ShellIconLookups();
// A drive or network path ("C:\\..." or "\\\\server\\..."), as opposed to an
// address or a name the shell parses some other way.
bool IsFilePath(const std::string& path);
// Hands Enter in an edit to the panel as WM_PANEL_ENTER (wParam: the edit's
// identifier) instead of to the dialog manager.
void WatchEnter(HWND edit, HWND panel);
// The edit over an empty tab slot where a new category's name is typed: the
// panel's font, Enter watched, shown with the focus. It replaces `edit` (the
// one open before is closed); nothing happens for a slot that has no tab.
void OpenNewCategoryEdit(HWND panel, int slot, UINT id, HWND& edit);
// Closes the new category's edit, giving the name typed in it and the slot it
// was over. `edit` and `slot` are cleared first: destroying the focused edit
// reports its loss of focus again. False when no edit was open.
bool CloseNewCategoryEdit(HWND& edit, int& slot, std::string& name, int& closedSlot);
// Shows or hides a panel's button, touching it only when that changes.
void ShowButton(HWND button, bool show);
using qb::WM_PANEL_EDIT_DONE;
using qb::WM_PANEL_TIPS;

// A category tab (category panel and chooser).
class CBtnTAB : public qb::CSkinButton {
 public:
  CNodeRef m_pNode;
  int m_bDragging = 0;
  HWND m_hRenameEdit = nullptr;
  int m_bAddMode = 0;
  void OpenRenameEdit(const RECT& rect);
  void CloseRenameEdit();

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void TabLeftDown();
  void TabDrop();
  void TabRightDown();
};

// An item button (item panel and program folder).
class CBtnLeafNode : public qb::CSkinButton {
 public:
  CNodeRef m_pNode;
  int m_bDragging = 0;
  // The item whose icon the shell is asked for just before the button is
  // first drawn (the shell takes its time over addresses).
  CNodeRef m_pIconPending;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void ItemLeftDown();
  void ItemDrop();
  void DropOnTab();
  void DropOnItemSlot();
};

// What the three panels share: the dialog, its skin area and background.
// The panel object owns its window (win/dialog_win32.h); the panels are
// deleted by DestroyPanels.
class CPanelDialog : public qb::CDialogWindow {
 public:
  explicit CPanelDialog(int area) : m_area(area) {}
  bool Create(int templateId, HWND owner, int x, int y, int width, int height);
  void LoadPanelBackground();

 protected:
  // The messages the panel handles beyond those every panel handles alike.
  virtual INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  virtual void OnInit() = 0;
  // The buttons, one window each, cost start-up time that nobody sees while
  // the panel is hidden: they are made, and the background is loaded, just
  // before the panel is first shown (or when it is filled while on screen).
  virtual void MakeButtons() = 0;
  void EnsureButtons();
  bool ButtonsMade() const { return m_bButtonsMade; }
  // The buttons drawn over the background, which take a copy of it.
  virtual qb::CSkinButton* TransparentButton(int) { return nullptr; }
  bool HasBackground() const { return m_hBackground.Valid() || m_picture.Loaded(); }
  // Gives the transparent buttons a fresh copy of the painted background.
  void RetakeButtonBackgrounds();
  void Paint();
  int m_area;
  qb::GdiBitmap m_hBackground;
  qb::CPicture m_picture;

 private:
  bool OnInitDialog() override;
  INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool m_bButtonsMade = false;
};

class CTabDialog : public CPanelDialog {
 public:
  CTabDialog() : CPanelDialog(1) {}
  ~CTabDialog() override;
  void RefreshTabs(int kind);
  void FocusCategoryTab(CMyNode* node);
  CBtnTAB& Tab(int slot) { return m_tabs[slot]; }
  // Ends the open rename (Enter, loss of focus, a click on another tab).
  void FinishRename();

  int m_bRenaming = 0;
  CNodeRef m_pDraggedItem;
  CNodeRef m_pDraggedCategory;
  CNodeRef m_pContextNode;

 protected:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnInit() override;

 private:
  void OnCommand(UINT id, UINT code);
  void OnMouseDown(bool right);
  void BeginRename();
  void BeginNewCategory();
  void CommitNewCategory();
  void DeleteCategory();
  void ExportCategory();
  void ImportCategory();
  void OpenAllItems();
  void EnterCategoryCircle();
  void LeaveCategoryCircle();
  void BuildEmptySlotMenu();
  void MakeButtons() override;
  // The tab whose rename edit is open, or null.
  CBtnTAB* RenamingTab();

  CBtnTAB m_tabs[44];
  int m_nShownKind = 0;  // the kind whose categories the tabs show
  bool m_bTipsLater = false;  // until WM_PANEL_TIPS
  std::unique_ptr<qb::BCMenu> m_emptySlotMenu;  // made when first opened
  int m_nNewSlot = -1;
  HWND m_hNewEdit = nullptr;
};

class CUrlDialog : public CPanelDialog {
 public:
  CUrlDialog() : CPanelDialog(2) {}
  ~CUrlDialog() override;
  void ShowCategoryItems(CMyNode* category);
  void SetUpItemButton(int slot, CMyNode* node);
  // The button's icon for the item: the shell's icon of its icon source, else
  // of the like-named file under images\icon (remembered), else the default.
  void SetItemIcon(CBtnLeafNode& button, CMyNode* node);
  CBtnLeafNode& Button(int slot) { return m_buttons[slot]; }
  CNodeRef m_pCurrentItem;
  CNodeRef m_pShownCategory;

 protected:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnInit() override;

 private:
  void OnCommand(UINT id);
  void OpenInNewWindow();
  void ViewOfflinePage();
  void EnterItemCircle();
  void OpenItemWindow(HWND& window, const std::function<HWND(CMyNode*, HWND)>& create, const char* failure);
  void ItemWindowClosed(HWND& window);
  void EditItem();
  void EditorClosed(WPARAM saved, LPARAM category);
  void DeleteItem();
  void RefreshItemIcon();
  void RecordItemScript();
  void RecorderClosed();
  void ApplySkin();
  void SetItemTip(CBtnLeafNode& button, CMyNode* node);
  void MakeButtons() override;
  qb::CSkinButton* TransparentButton(int i) override { return i < 30 && ButtonsMade() ? &m_buttons[i] : nullptr; }

  CBtnLeafNode m_buttons[30];
  bool m_bTipsLater = false;  // until WM_PANEL_TIPS
  std::unique_ptr<CUrlInfoEditDialog> m_editor;  // while the item editor is open
  HWND m_hRecorder = nullptr;
};

class CLnkDialog : public CPanelDialog {
 public:
  CLnkDialog() : CPanelDialog(3) {}
  void ShowProgramFolder(CMyNode* category);
  CBtnLeafNode& Button(int number) { return m_buttons[number]; }

 protected:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnInit() override;

 private:
  void MakeButtons() override;
  void SetUpProgramButton(CBtnLeafNode& button, CMyNode* node);
  qb::CSkinButton* TransparentButton(int i) override { return i < 30 && ButtonsMade() ? &m_buttons[i] : nullptr; }
  CBtnLeafNode m_buttons[30];
  CNodeRef m_pPendingFolder;  // shown once the buttons are made
};

CTabDialog* TabDialog();
CUrlDialog* UrlDialog();

}  // namespace panels

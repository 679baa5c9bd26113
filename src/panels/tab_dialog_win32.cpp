// CTabDialog: the category panel, 44 tabs in two columns.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include "skin/bcmenu_win32.h"
#include "win/file_dialog_win32.h"
#include "model/app_logic.h"
#include "os/os.h"
#include "os/shell.h"
#include "panels/geometry.h"
#include "panels/menu_images_win32.h"
#include "panels/open_item.h"
#include "panels/panel_logic.h"
#include "panels/panel_text.h"
#include "panels/panel_windows_win32.h"
#include "store/node.h"

#include "../../res/panels_ids.h"

namespace panels {

namespace {
const char kTabTip[] = "鼠标右键出菜单(含搜索)/拖动改变位置";
// Posted by the edits when Enter is pressed, so that they are not destroyed
// inside their own window procedure; wParam is the edit's identifier (0 for
// the dialog's own Enter).
using qb::WM_PANEL_ENTER;

DisplayMode Mode() { return Host().mode ? Host().mode() : DisplayMode::kWeb; }
bool LoggedIn() { return Host().circles.loggedIn && Host().circles.loggedIn(); }
}  // namespace

CTabDialog::~CTabDialog() = default;

void CTabDialog::OnInit() {
  m_nShownKind = UrlCategory;
  // The empty-slot menu is built when it is first opened.
}

// Each tab is made with its category's name and shown only when it has one.
void CTabDialog::MakeButtons() {
  CAppLogic* app = Host().app;
  m_bTipsLater = true;
  PostMessageW(m_hWnd, WM_PANEL_TIPS, 0, 0);
  for (int slot = 0; slot < kTabSlots; ++slot) {
    PanelRect r = TabRect(slot);
    RECT rc = {r.left, r.top, r.right, r.bottom};
    CBtnTAB& tab = m_tabs[slot];
    CMyNode* found = app ? CategoryAtSlot(*app, m_nShownKind, slot) : nullptr;
    // No font for a spare tab: a tab gets its skin's when it shows a category.
    tab.Create(found ? qb::W(found->m_strName) : std::wstring(L"TAB"),
               BS_PUSHBUTTON | WS_TABSTOP | (found ? WS_VISIBLE : 0), rc, m_hWnd, (UINT)(kFirstTabId + slot),
               !Host().skinLook);
    tab.SetFlat(false, false);
    tab.SetClickMark(false, false);
    tab.SetAlign(0, false);
    tab.SetCursorById(IDC_BUTTON_CURSOR, false);
    tab.SetMenu(IDR_CATEGORY_MENU, m_hWnd, false, false);
    tab.SetMenuImages(IDB_MENU_IMAGES, kMenuImages, kMenuImageMapSize);
    tab.m_bAddMode = 0;
    tab.m_pNode = found;
    if (found && Host().skinLook) qb::ApplySkinToButton(tab, Host().skinLook(1));
  }
}

void CTabDialog::BuildEmptySlotMenu() {
  auto menu = std::make_unique<qb::BCMenu>();
  if (!menu->CreatePopupMenu()) return;
  std::string hotkey = Host().hotkeyText ? Host().hotkeyText() : std::string();
  menu->AppendMenuGbk(MF_STRING, ID_HOTKEY_TEXT, "Qimbo~收藏热键：" + hotkey);
  menu->AppendMenu(MF_SEPARATOR, 0, std::wstring());
  menu->AppendMenuGbk(MF_STRING, ID_NEW_CATEGORY, "新建分类 (&N)");
  menu->AppendMenuGbk(MF_STRING, ID_IMPORT_CATEGORY, "导入书签文件 (&R)");
  menu->LoadToolbar(IDB_MENU_IMAGES, kMenuImages, kMenuImageMapSize);
  m_emptySlotMenu = std::move(menu);
}

void CTabDialog::RefreshTabs(int kind) {
  m_nShownKind = kind;
  // A rename whose category the tree dropped ends here, before its tab shows another.
  if (m_bRenaming && !m_pContextNode) FinishRename();
  if (!ButtonsMade()) {
    // Hidden still: the tabs are made with this kind when the panel shows.
    if (IsWindowVisible(m_hWnd)) EnsureButtons();
    return;
  }
  CAppLogic* app = Host().app;
  for (int slot = 0; slot < kTabSlots; ++slot) {
    CBtnTAB& tab = m_tabs[slot];
    CMyNode* found = app ? CategoryAtSlot(*app, kind, slot) : nullptr;
    tab.m_pNode = found;
    if (found) {
      if (Host().skinLook) qb::ApplySkinToButton(tab, Host().skinLook(1));
      if (!m_bTipsLater) tab.SetTooltipText(qb::W(kTabTip).c_str());
      SetWindowTextW(tab.GetSafeHwnd(), qb::W(found->m_strName).c_str());
    }
  }
  for (CBtnTAB& tab : m_tabs) ShowButton(tab.GetSafeHwnd(), tab.m_pNode != nullptr);
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CTabDialog::FocusCategoryTab(CMyNode* node) {
  int slot = node ? node->m_nSlot : 0;
  if (slot < 0 || slot >= kTabSlots || !ButtonsMade()) return;
  SetFocus(m_tabs[slot].GetSafeHwnd());
}

INT_PTR CTabDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_RBUTTONDOWN:
    case WM_LBUTTONDOWN:
      OnMouseDown(msg == WM_RBUTTONDOWN);
      return FALSE;
    case WM_PANEL_ENTER:
      // The edit that saw Enter decides; a context node left from an
      // earlier right click on a tab does not.
      if (wParam == IDC_NEW_CATEGORY_EDIT) CommitNewCategory();
      else if (wParam == IDC_RENAME_EDIT || m_bRenaming) FinishRename();
      else if (m_hNewEdit) CommitNewCategory();
      return TRUE;
    case WM_PANEL_EDIT_DONE:
      if (wParam == IDC_RENAME_EDIT) FinishRename();
      else CommitNewCategory();
      return TRUE;
    case WM_APPLY_SKIN:
      if (!ButtonsMade()) return TRUE;  // the background comes with the first showing
      LoadPanelBackground();
      InvalidateRect(m_hWnd, nullptr, TRUE);
      return TRUE;
    case WM_PANEL_TIPS:
      m_bTipsLater = false;
      for (CBtnTAB& tab : m_tabs)
        if (tab.m_pNode) tab.SetTooltipText(qb::W(kTabTip).c_str());
      return TRUE;
  }
  return FALSE;
}

void CTabDialog::OnMouseDown(bool right) {
  POINT screen;
  GetCursorPos(&screen);
  POINT pt = CursorInMain();
  int slot = InTabPanel(pt.x, pt.y) ? HitTestTab(pt.x, pt.y) : -1;
  if (right) {
    if (slot < 0 || m_tabs[slot].m_pNode || m_pDraggedCategory || m_bRenaming || Mode() != DisplayMode::kWeb) return;
    m_nNewSlot = slot;
    if (!m_emptySlotMenu) BuildEmptySlotMenu();
    if (m_emptySlotMenu)
      m_emptySlotMenu->Track(m_hWnd, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y);
    return;
  }
  if (m_nNewSlot >= 0 && slot != m_nNewSlot) {
    CommitNewCategory();
  } else if (m_bRenaming && (!m_pContextNode || slot != m_pContextNode->m_nSlot)) {
    FinishRename();
  }
}

void CTabDialog::OnCommand(UINT id, UINT code) {
  switch (id) {
    case ID_ENTER_CIRCLE: EnterCategoryCircle(); return;
    case ID_LEAVE_CIRCLE: LeaveCategoryCircle(); return;
    case ID_RENAME_CATEGORY: BeginRename(); return;
    case ID_DELETE_CATEGORY: DeleteCategory(); return;
    case ID_EXPORT_CATEGORY: ExportCategory(); return;
    case ID_OPEN_ALL: OpenAllItems(); return;
    case ID_NEW_CATEGORY: BeginNewCategory(); return;
    case ID_IMPORT_CATEGORY: ImportCategory(); return;
    case IDOK: PostMessageW(m_hWnd, WM_PANEL_ENTER, 0, 0); return;
    case IDCANCEL: return;  // the panel never closes
    case IDC_NEW_CATEGORY_EDIT:
      // Not inside the edit's own notification: it is destroyed on the way.
      if (code == EN_KILLFOCUS) PostMessageW(m_hWnd, WM_PANEL_EDIT_DONE, IDC_NEW_CATEGORY_EDIT, 0);
      return;
  }
  std::string address = SearchAddress((int)id, SearchQuery(m_pContextNode));
  if (!address.empty() && Host().ui) OpenInNewBrowser(address, *Host().ui);
}

void CTabDialog::BeginRename() {
  if (!m_pContextNode || m_pContextNode->m_nSlot < 0 || m_pContextNode->m_nSlot >= kTabSlots) return;
  CBtnTAB& tab = m_tabs[m_pContextNode->m_nSlot];
  m_bRenaming = 1;
  RECT rc;
  GetClientRect(tab.GetSafeHwnd(), &rc);
  tab.OpenRenameEdit(rc);
  if (tab.m_hRenameEdit) WatchEnter(tab.m_hRenameEdit, m_hWnd);
}

CBtnTAB* CTabDialog::RenamingTab() {
  for (CBtnTAB& tab : m_tabs)
    if (tab.m_hRenameEdit) return &tab;
  return nullptr;
}

void CTabDialog::FinishRename() {
  CBtnTAB* tab = RenamingTab();
  if (!tab) {
    m_bRenaming = 0;
    return;
  }
  // The category being renamed went with its file (or a download) while its
  // edit was open: the edit closes and nothing is renamed.
  CMyNode* node = m_pContextNode;
  if (node && tab->m_pNode == node) {
    // The caption is the node's name afterwards, new or old.
    if (Host().app) RenameInPlace(*Host().app, node, qb::WindowTextGbk(tab->m_hRenameEdit));
    SetWindowTextW(tab->GetSafeHwnd(), qb::W(node->m_strName).c_str());
  } else if (tab->m_pNode) {
    SetWindowTextW(tab->GetSafeHwnd(), qb::W(tab->m_pNode->m_strName).c_str());
  }
  m_pContextNode = nullptr;
  m_bRenaming = 0;
  tab->CloseRenameEdit();
}

void CTabDialog::BeginNewCategory() {
  if (!m_bRenaming) OpenNewCategoryEdit(m_hWnd, m_nNewSlot, IDC_NEW_CATEGORY_EDIT, m_hNewEdit);
}

void CTabDialog::CommitNewCategory() {
  std::string text;
  int slot = -1;
  if (!CloseNewCategoryEdit(m_hNewEdit, m_nNewSlot, text, slot)) return;
  if (slot < 0 || slot >= kTabSlots) return;
  if (m_tabs[slot].m_pNode || !Host().app) return;
  int kind = CategoryKindOf(Mode());
  if (CreateCategoryInPlace(*Host().app, text, kind, slot)) RefreshTabs(kind);
}

void CTabDialog::DeleteCategory() {
  CMyNode* node = m_pContextNode;
  CAppLogic* app = Host().app;
  if (!node || !app || !Host().ui) return;
  int kind = node->m_nKind;
  DeleteOutcome r = DeleteCategoryNode(*app, node, LoggedIn(), *Host().ui);
  if (r == kRefusedHasItems || r == kRefusedCircle) return;
  m_pContextNode = nullptr;
  RefreshTabs(kind);
}

namespace {
// "书签文件(*.qimbop)|*.qimbop||" as the file dialogs want it.
std::wstring BookmarkFilter() {
  std::wstring f = qb::W("书签文件(*.qimbop)");
  f += L'\0';
  f += L"*.qimbop";
  f += L'\0';
  f += L'\0';
  return f;
}

// The save or open dialog of a bookmark file; `file` holds the suggested name
// and receives the chosen one.
bool AskBookmarkFile(HWND owner, bool save, wchar_t (&file)[MAX_PATH]) {
  std::wstring filter = BookmarkFilter(), chosen = file;
  DWORD flags = OFN_EXPLORER | OFN_HIDEREADONLY | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  if (!qb::AskFileName(owner, save, filter.c_str(), L"qimbop", flags, chosen)) return false;
  chosen.copy(file, MAX_PATH - 1);
  file[std::min<size_t>(chosen.size(), MAX_PATH - 1)] = L'\0';
  return true;
}
}  // namespace

void CTabDialog::ExportCategory() {
  CMyNode* node = m_pContextNode;
  if (node && node->m_nKind == UrlCategory && Host().app) {
    wchar_t file[MAX_PATH] = {};
    wcsncpy(file, qb::W(node->m_strName).c_str(), MAX_PATH - 1);
    if (AskBookmarkFile(m_hWnd, true, file) && !Host().app->WriteBookmarkFile(qb::Gbk(file), node))
      ShowBox("文件无法存盘，按确认退出！", qb::kMbOk | qb::kMbIconStop);
  }
  m_nNewSlot = -1;
}

void CTabDialog::ImportCategory() {
  if (m_bRenaming || m_nNewSlot < 0 || m_nNewSlot >= kTabSlots || !Host().app) return;
  int slot = m_nNewSlot;
  wchar_t file[MAX_PATH] = {};
  if (AskBookmarkFile(m_hWnd, false, file)) {
    if (Host().app->ImportBookmarkFile(qb::Gbk(file), slot)) {
      Host().app->SaveCurrentFavorites();
      RefreshTabs(UrlCategory);
    } else {
      ShowBox("文件无法导入，按确认退出！", qb::kMbOk | qb::kMbIconStop);
    }
  }
  m_nNewSlot = -1;
}

void CTabDialog::OpenAllItems() {
  CMyNode* cat = m_pContextNode;
  CAppLogic* app = Host().app;
  if (!cat || cat->m_nKind != UrlCategory || !app || !Host().ui) return;
  panels::OpenAllItems(ChildrenOf(*app, cat), *Host().ui, Host().navigateOpenAll);
}

void CTabDialog::EnterCategoryCircle() {
  if (Host().ui) panels::EnterCategoryCircle(Host().circles, m_pContextNode, *Host().ui);
}

void CTabDialog::LeaveCategoryCircle() {
  if (Host().ui) panels::LeaveCategoryCircle(Host().circles, m_pContextNode, *Host().ui);
}

}  // namespace panels

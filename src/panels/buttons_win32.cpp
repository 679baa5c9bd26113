// CBtnTAB and CBtnLeafNode: what the category tabs and the item buttons add
// to the skin button: click or drag, drops, menus, rename, opening items.
#include <windows.h>

#include "model/app_logic.h"
#include "panels/geometry.h"
#include "panels/open_item.h"
#include "panels/panel_windows_win32.h"
#include "store/node.h"

#include "../../res/panels_ids.h"

namespace panels {

namespace {
// Whether the button's release is already waiting in the queue.
bool ReleaseWaiting(HWND button) {
  MSG msg;
  return PeekMessageW(&msg, button, WM_LBUTTONUP, WM_LBUTTONUP, PM_NOREMOVE) != 0;
}
}  // namespace

// ---- CBtnTAB ------------------------------------------------------------------

LRESULT CBtnTAB::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_LBUTTONDOWN:
      TabLeftDown();
      break;
    case WM_LBUTTONDBLCLK:
      // The chooser hides on the press that files a page, so its next press
      // at the same place, when the user files another page at once, arrives
      // as the second half of a double click: it is a press like any other.
      if (m_bAddMode) TabLeftDown();
      break;
    case WM_LBUTTONUP:
      if (!m_bAddMode) TabDrop();  // a chooser tab is never dragged
      break;
    case WM_RBUTTONDOWN:
      TabRightDown();
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_RENAME_EDIT && HIWORD(wParam) == EN_KILLFOCUS && TabDialog()) {
        PostMessageW(TabDialog()->GetSafeHwnd(), WM_PANEL_EDIT_DONE, IDC_RENAME_EDIT, 0);
        return 0;
      }
      break;
  }
  return CSkinButton::WindowProc(msg, wParam, lParam);
}

void CBtnTAB::TabLeftDown() {
  CMyNode* node = m_pNode;
  if (!node) return;
  if (node->m_nKind == ProgramCategory) {
    SetFocus(m_hWnd);
    ShowProgramFolder(node);
    node->Visit();
    return;
  }
  if (node->m_nKind != UrlCategory) return;
  if (m_bAddMode) {
    // The category chooser files the browser's page here, once this press is over.
    PostMessageW(GetParent(m_hWnd), qb::WM_CHOOSER_CAPTURE, GetDlgCtrlID(m_hWnd) - IDC_FIRST_CHOOSER_TAB, 0);
    return;
  }
  bool drag = PressIsDrag([this] { return ReleaseWaiting(m_hWnd); });
  SetFocus(m_hWnd);
  if (drag) {
    m_bDragging = 1;
    if (TabDialog()) TabDialog()->m_pDraggedCategory = node;
    ChangeCursorById(IDC_DRAG_CURSOR);
  } else {
    ShowCategoryItems(node);
    node->Visit();
  }
}

void CBtnTAB::TabDrop() {
  CTabDialog* panel = TabDialog();
  if (m_bDragging && m_pNode && panel) {
    POINT pt = CursorInMain();
    int slot = InTabPanel(pt.x, pt.y) ? HitTestTab(pt.x, pt.y) : -1;
    CMyNode* dragged = panel->m_pDraggedCategory;
    if (slot >= 0 && dragged && !panel->Tab(slot).m_pNode) {
      dragged->m_nSlot = slot;
      SetFocus(m_hWnd);
      panel->RefreshTabs(dragged->m_nKind);
      ShowCategoryItems(dragged);
    }
  }
  m_bDragging = 0;
  if (panel) panel->m_pDraggedCategory = nullptr;
  ChangeCursorById(IDC_BUTTON_CURSOR);
}

void CBtnTAB::TabRightDown() {
  CMyNode* node = m_pNode;
  CTabDialog* panel = TabDialog();
  if (!node || m_bAddMode || m_hRenameEdit || !node->IsCategory() || !panel) return;
  SetFocus(m_hWnd);
  if (node->m_nKind == ProgramCategory) ShowProgramFolder(node);
  else ShowCategoryItems(node);
  if (panel->m_bRenaming) return;
  panel->m_pContextNode = node;
  SetFocus(m_hWnd);
  std::string circle;
  for (char c : node->m_strCircle)
    if (c != '<' && c != '>') circle += c;
  node->m_strCircle = circle;
  HMENU menu = AttachedMenu();
  if (!menu) return;
  EnableMenuItem(menu, ID_LEAVE_CIRCLE, MF_BYCOMMAND | (circle == "GROUP" ? MF_ENABLED : MF_GRAYED));
  bool hasChildren = Host().app && Host().app->CountChildren(node) != 0;
  EnableMenuItem(menu, ID_DELETE_CATEGORY, MF_BYCOMMAND | (hasChildren ? MF_GRAYED : MF_ENABLED));
  UINT web = node->m_nKind == ProgramCategory ? MF_GRAYED : MF_ENABLED;
  if (node->m_nKind == ProgramCategory) EnableMenuItem(menu, ID_DELETE_CATEGORY, MF_BYCOMMAND | MF_GRAYED);
  EnableMenuItem(menu, ID_OPEN_ALL, MF_BYCOMMAND | web);
  EnableMenuItem(menu, ID_EXPORT_CATEGORY, MF_BYCOMMAND | web);
  ShowAttachedMenu();
}

void CBtnTAB::OpenRenameEdit(const RECT& rect) {
  m_hRenameEdit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, rect.left,
                                  rect.top, rect.right - rect.left, rect.bottom - rect.top, m_hWnd,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_RENAME_EDIT)),
                                  GetModuleHandleW(nullptr), nullptr);
  if (!m_hRenameEdit) return;
  SendMessageW(m_hRenameEdit, WM_SETFONT, SendMessageW(m_hWnd, WM_GETFONT, 0, 0), FALSE);
  SetWindowTextW(m_hRenameEdit, qb::WindowTextW(m_hWnd).c_str());
  ShowWindow(m_hRenameEdit, SW_SHOW);
  SetFocus(m_hRenameEdit);
}

void CBtnTAB::CloseRenameEdit() {
  HWND edit = m_hRenameEdit;
  // Cleared first: destroying the focused edit reports its loss of focus again.
  m_hRenameEdit = nullptr;
  if (edit) DestroyWindow(edit);
}

// ---- CBtnLeafNode -----------------------------------------------------------------

LRESULT CBtnLeafNode::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
    case qb::OCM_SKIN_DRAWITEM:
      // (Null once the tree freed the item.)
      if (CMyNode* node = m_pIconPending) {
        m_pIconPending = nullptr;
        if (node == m_pNode && UrlDialog()) UrlDialog()->SetItemIcon(*this, node);
      }
      break;
    case WM_LBUTTONDBLCLK:
      if (m_pNode && Host().ui) OpenItem(*m_pNode, ProgramDir(), *Host().ui);
      break;
    case WM_LBUTTONDOWN:
      ItemLeftDown();
      break;
    case WM_LBUTTONUP:
      ItemDrop();
      break;
    case WM_RBUTTONDOWN:
      if (m_pNode && m_pNode->m_nKind == UrlItem && UrlDialog()) {
        UrlDialog()->m_pCurrentItem = m_pNode;
        ShowAttachedMenu();
      }
      break;
  }
  return CSkinButton::WindowProc(msg, wParam, lParam);
}

void CBtnLeafNode::ItemLeftDown() {
  if (!m_pNode || m_pNode->m_nKind != UrlItem) return;
  if (!PressIsDrag([this] { return ReleaseWaiting(m_hWnd); })) return;
  m_bDragging = 1;
  if (TabDialog()) TabDialog()->m_pDraggedItem = m_pNode;
  ChangeCursorById(IDC_DRAG_CURSOR);
}

void CBtnLeafNode::ItemDrop() {
  if (m_bDragging && m_pNode) {
    DropOnTab();
    DropOnItemSlot();
  }
  m_bDragging = 0;
  if (TabDialog()) TabDialog()->m_pDraggedItem = nullptr;
  ChangeCursorById(IDC_BUTTON_CURSOR);
}

void CBtnLeafNode::DropOnTab() {
  CTabDialog* panel = TabDialog();
  POINT pt = CursorInMain();
  if (!panel || !InTabDropRange(pt.x, pt.y)) return;
  int slot = HitTestTab(pt.x, pt.y);
  CMyNode* item = panel->m_pDraggedItem;
  if (slot < 0 || !item) return;
  CMyNode* target = panel->Tab(slot).m_pNode;
  if (!target || target->m_nKind != UrlCategory || !Host().app) return;
  CMyNode* oldParent = item->m_pParent;
  if (Host().app->MoveItemToCategory(item, target)) ShowCategoryItems(oldParent);
}

void CBtnLeafNode::DropOnItemSlot() {
  CTabDialog* panel = TabDialog();
  CUrlDialog* items = UrlDialog();
  POINT pt = CursorInMain();
  if (!panel || !items || !InItemDropRange(pt.x, pt.y)) return;
  int slot = HitTestItemSlot(pt.x, pt.y);
  CMyNode* item = panel->m_pDraggedItem;
  if (slot < 0 || !item || items->Button(slot).m_pNode) return;
  item->m_nSlot = slot;
  ShowCategoryItems(item->m_pParent);
}

}  // namespace panels

// CUrlDialog: the item panel, 30 bookmark buttons. CLnkDialog: the program
// folder, 30 file buttons in tree order.
#include <windows.h>

#include "model/app_logic.h"
#include "os/os.h"
#include "os/shell.h"
#include "panels/geometry.h"
#include "panels/menu_images_win32.h"
#include "panels/open_item.h"
#include "panels/panel_logic.h"
#include "panels/panel_text.h"
#include "panels/panel_windows_win32.h"
#include "panels/site_icon.h"
#include "panels/url_edit_dlg_win32.h"
#include "store/node.h"

#include "../../res/panels_ids.h"

namespace panels {

namespace {
const char kItemTip[] = "双击打开/拖动改位置或分类/鼠标右键出菜单/";
const char kProgramTip[] = "鼠标双击打开";
const char kStartupGroup[] = "启动";

bool LoggedIn() { return Host().circles.loggedIn && Host().circles.loggedIn(); }

void SetIconFromFile(qb::CSkinButton& button, const std::string& path, bool both) {
  qb::ScopedIcon icon(ShellIcon(path));
  if (icon) {
    button.SetIcon(icon.Get(), both ? icon.Get() : nullptr);
  } else {
    button.SetIconById(IDI_ITEM_DEFAULT, both ? IDI_ITEM_DEFAULT : 0);
  }
}
// One item or program button at its place, hidden unless `visible`. No font
// yet: a button gets its skin's when it shows a node. Without a background
// image there is nothing for it to show through.
void MakeLeafButton(CBtnLeafNode& b, const PanelRect& r, const wchar_t* caption, HWND panel, UINT id, DWORD visible,
                    int align, bool transparent) {
  RECT rc = {r.left, r.top, r.right, r.bottom};
  b.Create(caption, BS_PUSHBUTTON | WS_TABSTOP | visible, rc, panel, id, !Host().skinLook);
  b.SetClickMark(false, false);
  b.SetAlign(align, false);
  if (transparent) b.DrawTransparent(false);
}
}  // namespace

// ---- CUrlDialog -------------------------------------------------------------------

CUrlDialog::~CUrlDialog() {
  m_editor.reset();
  if (m_hRecorder) DestroyWindow(m_hRecorder);
}

void CUrlDialog::OnInit() {
  CAppLogic* app = Host().app;
  if (!app) return;
  m_pShownCategory = app->FirstNodeBySlot(UrlCategory);
  if (CMyNode* startup = app->FindNode(kStartupGroup, UrlCategory))
    for (CMyNode* n : *app)
      if (n->m_pParent == startup) os::ShellOpen(n->m_strAddress, os::kShowMaximized);
}

void CUrlDialog::MakeButtons() {
  // Made visible when the category is shown below, which hides the spare ones.
  DWORD visible = m_pShownCategory ? WS_VISIBLE : 0;
  m_bTipsLater = true;
  PostMessageW(m_hWnd, WM_PANEL_TIPS, 0, 0);
  for (int slot = 0; slot < kItemSlots; ++slot) {
    CBtnLeafNode& b = m_buttons[slot];
    MakeLeafButton(b, ItemButtonRect(slot), L"URL", m_hWnd, (UINT)(kFirstItemId + slot), visible, 0, HasBackground());
    b.SetMenu(IDR_ITEM_MENU, m_hWnd, false, false);
    b.SetMenuImages(IDB_MENU_IMAGES, kMenuImages, kMenuImageMapSize);
  }
  ShowCategoryItems(m_pShownCategory);
}

// Without a category (a favorites file with no web category) every button
// is emptied and hidden: none may keep an item of the tree shown before.
void CUrlDialog::ShowCategoryItems(CMyNode* category) {
  CAppLogic* app = Host().app;
  if (!app) return;
  m_pShownCategory = category;
  if (!ButtonsMade()) {
    // Filled when the buttons are made, unless the panel is on screen already.
    if (IsWindowVisible(m_hWnd)) EnsureButtons();
    return;
  }
  for (int slot = 0; slot < kItemSlots; ++slot) {
    CMyNode* found = ItemAtSlot(*app, category, slot);  // none without a category
    if (found) SetUpItemButton(slot, found);
    m_buttons[slot].m_pNode = found;
  }
  for (CBtnLeafNode& b : m_buttons) {
    HWND w = b.GetSafeHwnd();
    ShowButton(w, b.m_pNode != nullptr);
    if (b.m_pNode) InvalidateRect(w, nullptr, TRUE);
  }
}

void CUrlDialog::SetUpItemButton(int slot, CMyNode* node) {
  if (slot < 0 || slot >= kItemSlots || !node) return;
  CBtnLeafNode& b = m_buttons[slot];
  if (Host().skinLook) qb::ApplySkinTextColours(b, Host().skinLook(2));
  b.m_pIconPending = nullptr;
  if (IsFilePath(IconSource(*node))) SetItemIcon(b, node);
  else b.m_pIconPending = node;
  b.SetAlign(node->m_strCircle == "GROUP" ? 1 : 0, false);
  if (!m_bTipsLater) SetItemTip(b, node);
  SetWindowTextW(b.GetSafeHwnd(), qb::W(ItemCaption(node->m_strName)).c_str());
}

void CUrlDialog::SetItemTip(CBtnLeafNode& b, CMyNode* node) {
  b.SetTooltipText(qb::W(node->m_strNote.empty() ? std::string(kItemTip) : node->m_strNote).c_str());
}

void CUrlDialog::SetItemIcon(CBtnLeafNode& b, CMyNode* node) {
  std::string source = IconSource(*node);
  qb::ScopedIcon icon(ShellIcon(source));
  if (icon) {
    b.SetIcon(icon.Get(), nullptr);
  } else {
    std::string local = LocalIconPath(ProgramDir(), source);
    icon.Reset(ShellIcon(local));
    if (icon) {
      node->m_strIconPath = local;
      b.SetIcon(icon.Get(), nullptr);
    } else {
      b.SetIconById(IDI_ITEM_DEFAULT);
    }
  }
}

void CUrlDialog::ApplySkin() {
  if (!ButtonsMade()) return;  // the background comes with the first showing
  LoadPanelBackground();
  InvalidateRect(m_hWnd, nullptr, TRUE);
  if (HasBackground())
    for (CBtnLeafNode& b : m_buttons) b.DrawTransparent(true);
}

INT_PTR CUrlDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_PANEL_EDITOR_CLOSED:
      EditorClosed(wParam, lParam);
      return TRUE;
    case WM_PANEL_RECORDER_CLOSED:
      RecorderClosed();
      return TRUE;
    case WM_APPLY_SKIN:
      ApplySkin();
      return TRUE;
    case WM_PANEL_TIPS:
      m_bTipsLater = false;
      for (CBtnLeafNode& b : m_buttons)
        if (b.m_pNode) SetItemTip(b, b.m_pNode);
      return TRUE;
  }
  return FALSE;
}

void CUrlDialog::OnCommand(UINT id) {
  switch (id) {
    case ID_OPEN_NEW_WINDOW: OpenInNewWindow(); break;
    case ID_VIEW_OFFLINE: ViewOfflinePage(); break;
    case ID_ENTER_ITEM_CIRCLE: EnterItemCircle(); break;
    case ID_EDIT_ITEM: EditItem(); break;
    case ID_DELETE_ITEM: DeleteItem(); break;
    case ID_REFRESH_ICON: RefreshItemIcon(); break;
    case ID_RECORD_SCRIPT: RecordItemScript(); break;
  }
}

void CUrlDialog::OpenInNewWindow() {
  if (m_pCurrentItem && Host().ui) OpenItemInNewWindow(*m_pCurrentItem, ProgramDir(), *Host().ui);
}

void CUrlDialog::ViewOfflinePage() {
  if (m_pCurrentItem && Host().ui) panels::ViewOfflinePage(*m_pCurrentItem, ProgramDir(), *Host().ui);
}

void CUrlDialog::EnterItemCircle() {
  if (Host().ui) panels::EnterItemCircle(Host().circles, m_pCurrentItem, *Host().ui);
}

// The item editor or the recorder, made for the current item and shown, the
// main window and the panels disabled while it is open; `failure` is the box
// when it cannot be made. Nothing when it is not built in.
void CUrlDialog::OpenItemWindow(HWND& window, const std::function<HWND(CMyNode*, HWND)>& create, const char* failure) {
  if (window || !create) return;
  window = create(m_pCurrentItem, m_hWnd);
  if (!window) {
    ShowBox(failure, qb::kMbOk | qb::kMbIconStop);
    return;
  }
  ShowWindow(window, SW_SHOW);
  if (Host().enableAll) Host().enableAll(false);
}

// Its end: the window goes and the others work again.
void CUrlDialog::ItemWindowClosed(HWND& window) {
  if (window && IsWindow(window)) DestroyWindow(window);
  window = nullptr;
  m_pCurrentItem = nullptr;
  if (Host().enableAll) Host().enableAll(true);
  SetFocus(m_hWnd);
}

// The editor for the current bookmark, the main window and the panels
// disabled while it is open. One at a time.
void CUrlDialog::EditItem() {
  CMyNode* item = m_pCurrentItem;
  if (m_editor || !item || item->m_nKind != UrlItem) return;
  std::unique_ptr<CUrlInfoEditDialog> editor(new CUrlInfoEditDialog(item, m_hWnd));
  if (!editor->Create()) {
    ShowBox("创建URL窗口失败，按确认退出！", qb::kMbOk | qb::kMbIconStop);
    return;
  }
  HWND wnd = editor->GetSafeHwnd();
  m_editor = std::move(editor);
  ShowWindow(wnd, SW_SHOW);
  if (Host().enableAll) Host().enableAll(false);
  SetForegroundWindow(wnd);
}

// The editor's end, sent from inside its own handler: its window is gone and
// the object may go. The tree is saved at once (the icon may have changed
// even after a cancel), so that the edit survives a crash; after a save the
// category the bookmark came from is shown again, without it if it moved.
void CUrlDialog::EditorClosed(WPARAM saved, LPARAM category) {
  m_editor.reset();
  CAppLogic* app = Host().app;
  CMyNode* old = nullptr;
  if (app && saved == 1)
    for (CMyNode* n : *app)
      if (reinterpret_cast<LPARAM>(n) == category && n->m_nKind == UrlCategory) old = n;
  if (app) app->SaveCurrentFavorites();
  if (old) {
    ShowCategoryItems(old);
  } else if (CMyNode* item = m_pCurrentItem) {
    // A cancel keeps an icon chosen meanwhile: the button shows it.
    for (CBtnLeafNode& b : m_buttons)
      if (b.m_pNode == item) SetUpItemButton(item->m_nSlot, item);
  }
  m_pCurrentItem = nullptr;
  if (Host().enableAll) Host().enableAll(true);
  if (HWND main = GetWindow(m_hWnd, GW_OWNER)) SetForegroundWindow(main);
  SetFocus(m_hWnd);
}

void CUrlDialog::DeleteItem() {
  CMyNode* item = m_pCurrentItem;
  CAppLogic* app = Host().app;
  if (!item || item->m_nKind != UrlItem || !app || !Host().ui) return;
  CMyNode* parent = item->m_pParent;
  bool inCircle = item->m_strCircle == "GROUP";
  auto dropOut = [](CMyNode* n, void*) {
    if (Host().circles.dropOutOfCircle) Host().circles.dropOutOfCircle(n);
  };
  DeleteOutcome r = DeleteItemNode(*app, item, LoggedIn(), *Host().ui, dropOut, nullptr);
  if (r == kRefusedCircle) return;
  // A deleted bookmark is gone from the buttons and the menu's target already.
  // A bookmark the tree did not hold changes nothing, unless it left its circle.
  if (r == kDeleted || inCircle) ShowCategoryItems(parent);
}

void CUrlDialog::RefreshItemIcon() {
  CMyNode* item = m_pCurrentItem;
  if (!item) return;
  if (!FetchSiteIcon(ProgramDir(), item->m_strAddress, 0)) return;
  item->m_strIconPath = SiteIconFile(ProgramDir(), item->m_strAddress);
  SetUpItemButton(item->m_nSlot, item);
}

void CUrlDialog::RecordItemScript() {
  CMyNode* item = m_pCurrentItem;
  if (item && item->m_nKind == UrlItem) os::ShellOpen(item->m_strAddress, os::kShowMaximized);
  OpenItemWindow(m_hRecorder, Host().createRecorder, "创建录制窗口失败，按确认退出！");
}

void CUrlDialog::RecorderClosed() { ItemWindowClosed(m_hRecorder); }

// ---- CLnkDialog -------------------------------------------------------------------

// The buttons and their file icons cost start-up time (the first file icon
// wakes the shell's icon machinery), and the panel is hidden in the web
// mode: they are made, and the background is loaded, when the panel is
// first shown.
void CLnkDialog::OnInit() {
  if (Host().app) m_pPendingFolder = Host().app->FirstNodeBySlot(ProgramCategory);
}

void CLnkDialog::MakeButtons() {
  // Made visible when a folder is shown next, which hides the spare ones.
  DWORD visible = m_pPendingFolder && Host().app ? WS_VISIBLE : 0;
  for (int i = 0; i < kItemSlots; ++i)
    MakeLeafButton(m_buttons[i], ProgramButtonRect(i), L"", m_hWnd, (UINT)(kFirstProgramId + i), visible, 1,
                   HasBackground());
  CMyNode* folder = m_pPendingFolder;
  m_pPendingFolder = nullptr;
  if (folder) ShowProgramFolder(folder);
}

void CLnkDialog::ShowProgramFolder(CMyNode* category) {
  CAppLogic* app = Host().app;
  if (!app) return;
  if (!ButtonsMade()) {
    // Filled when the buttons are made, unless the panel is on screen already.
    m_pPendingFolder = category;
    if (IsWindowVisible(m_hWnd)) EnsureButtons();
    return;
  }
  for (CBtnLeafNode& b : m_buttons) b.m_pNode = nullptr;
  int next = 0;
  for (CMyNode* n : ProgramFolderItems(*app, category)) {
    SetUpProgramButton(m_buttons[next], n);
    m_buttons[next].m_pNode = n;
    ++next;
  }
  for (CBtnLeafNode& b : m_buttons) {
    HWND w = b.GetSafeHwnd();
    ShowButton(w, b.m_pNode != nullptr);
    if (b.m_pNode) InvalidateRect(w, nullptr, TRUE);
  }
}

void CLnkDialog::SetUpProgramButton(CBtnLeafNode& b, CMyNode* node) {
  if (Host().skinLook) qb::ApplySkinTextColours(b, Host().skinLook(3));
  SetIconFromFile(b, node->m_strAddress + node->m_strName, true);
  b.SetTooltipText(qb::W(node->m_strNote.empty() ? std::string(kProgramTip) : node->m_strNote).c_str());
  SetWindowTextW(b.GetSafeHwnd(), qb::W(ProgramCaption(node->m_strName)).c_str());
}

INT_PTR CLnkDialog::OnMessage(UINT msg, WPARAM, LPARAM) {
  if (msg == WM_APPLY_SKIN) {
    if (!ButtonsMade()) return TRUE;  // the background comes with the first showing
    LoadPanelBackground();
    InvalidateRect(m_hWnd, nullptr, TRUE);
    if (HasBackground())
      for (CBtnLeafNode& b : m_buttons) b.DrawTransparent(true);
    return TRUE;
  }
  return FALSE;
}

}  // namespace panels

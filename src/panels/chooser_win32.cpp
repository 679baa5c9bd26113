// CSelSortsDlg: the category chooser and the capture hotkey's owner.
#include "panels/chooser_win32.h"

#include <algorithm>
#include <memory>

#include "model/app_logic.h"
#include "panels/browser_win32.h"
#include "panels/capture_logic.h"
#include "panels/geometry.h"
#include "panels/page_fetcher.h"
#include "panels/panel_logic.h"
#include "panels/panel_windows_win32.h"
#include "store/node.h"
#include "win/handles_win32.h"

#include "../../res/panels_ids.h"

namespace panels {

namespace {

const char kChooserTip[] = "添加到这吧?  在空白处按鼠标右键建新目录!";
const char kHotkeyMenuText[] = "Qimbo~收藏热键：";
// Skin area 4, "收藏夹添加对话框".
const int kChooserArea = 4;
// The category panel's place and size (from the main window's corner).
const int kPanelW = 200, kPanelH = 660, kPanelY = 16;

DisplayMode Mode() { return Host().mode ? Host().mode() : DisplayMode::kWeb; }

bool InTree(const CMyNode* node) {
  CAppLogic* app = Host().app;
  return app && node && std::find(app->begin(), app->end(), node) != app->end();
}

class CSelSortsDlg : public CPanelDialog {
 public:
  explicit CSelSortsDlg(const ChooserHost& host) : CPanelDialog(kChooserArea), m_host(host) {}
  ~CSelSortsDlg() override;

  bool Make();
  void RefreshChooser(int kind);
  int RegisterCaptureHotkey(const std::string& text);
  void UnregisterHotkeys();
  int ChangeHotkey(const std::string& text);
  void BringUp();
  void HotkeyPressed();

 protected:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnInit() override;
  void MakeButtons() override;

 private:
  RECT PanelPlace() const;
  int SlotUnderCursor() const;
  void OnMouseDown(bool right);
  void BuildMenu();
  void BeginNewCategory();
  void CommitChooserCategory();
  void Capture(CMyNode* category);
  void PageFetched(const FetchResult& result);
  int Box(const std::string& text) {
    return m_host.box ? m_host.box(text, MB_OK | MB_ICONHAND) : ShowBox(text, MB_OK | MB_ICONHAND);
  }

  ChooserHost m_host;
  CBtnTAB m_tabs[kTabSlots];
  qb::ScopedMenu m_hMenu;
  int m_nNewSlot = -1;
  HWND m_hNewEdit = nullptr;
  int m_nShownKind = UrlCategory;
  bool m_bHotkey = false, m_bLowerHotkey = false;
  std::unique_ptr<CPageFetcher> m_fetcher;  // made at the first capture
  CIconWaits m_iconWaits;
};

std::unique_ptr<CSelSortsDlg> g_chooser;

CSelSortsDlg::~CSelSortsDlg() {
  UnregisterHotkeys();
  // A download still under way reports nowhere once the fetcher is gone;
  // the reports already posted are freed here.
  m_fetcher.reset();
  MSG msg;
  while (m_hWnd && PeekMessageW(&msg, m_hWnd, qb::WM_PAGE_FETCHED, qb::WM_PAGE_FETCHED, PM_REMOVE))
    delete reinterpret_cast<FetchResult*>(msg.lParam);
}

RECT CSelSortsDlg::PanelPlace() const {
  RECT r = {0, 0, 0, 0};
  if (TabPanel() && GetWindowRect(TabPanel(), &r)) return r;
  if (m_host.mainWindow) GetWindowRect(m_host.mainWindow, &r);
  return RECT{r.left, r.top + kPanelY, r.left + kPanelW, r.top + kPanelY + kPanelH};
}

bool CSelSortsDlg::Make() {
  RECT r = PanelPlace();
  if (!Create(IDD_TAB_DIALOG, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top)) return false;
  // A picker that comes and goes over the browser: no task bar button, and above the browser.
  SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
  SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return true;
}

// The background and the tabs come with the first showing (CPanelDialog).
void CSelSortsDlg::OnInit() {
  std::string hotkey = Host().hotkeyText ? Host().hotkeyText() : std::string();
  if (!hotkey.empty()) RegisterCaptureHotkey(hotkey);
  m_nShownKind = UrlCategory;
  BuildMenu();
}

void CSelSortsDlg::BuildMenu() {
  m_hMenu.Reset(CreatePopupMenu());
  if (!m_hMenu) return;
  std::string hotkey = Host().hotkeyText ? Host().hotkeyText() : std::string();
  AppendMenuW(m_hMenu.Get(), MF_STRING, ID_CHOOSER_HOTKEY_TEXT, qb::W(kHotkeyMenuText + hotkey).c_str());
  AppendMenuW(m_hMenu.Get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(m_hMenu.Get(), MF_STRING, ID_CHOOSER_NEW_CATEGORY, qb::W("新建分类 (&N)").c_str());
}

void CSelSortsDlg::MakeButtons() {
  for (int slot = 0; slot < kTabSlots; ++slot) {
    int col = slot / kTabRows, row = slot % kTabRows;
    RECT rc = {1 + 101 * col, 2 + 30 * row, 101 + 101 * col, 30 + 30 * row};
    CBtnTAB& tab = m_tabs[slot];
    tab.Create(L"SEL", BS_PUSHBUTTON | WS_TABSTOP, rc, m_hWnd, static_cast<UINT>(IDC_FIRST_CHOOSER_TAB + slot),
               !Host().skinLook);
    tab.SetAlign(0, false);
    tab.m_bAddMode = 1;
  }
  RefreshChooser(m_nShownKind);
}

void CSelSortsDlg::RefreshChooser(int kind) {
  m_nShownKind = kind;
  if (!ButtonsMade()) {
    if (IsWindowVisible(m_hWnd)) EnsureButtons();
    return;
  }
  for (CBtnTAB& tab : m_tabs) tab.m_pNode = nullptr;
  if (CAppLogic* app = Host().app) {
    int placed = 0;
    for (CMyNode* n : *app) {
      if (placed >= kTabSlots) break;
      if (n->m_nKind != kind || n->m_nSlot < 0 || n->m_nSlot >= kTabSlots) continue;
      // A later category of the same slot takes the tab over.
      CBtnTAB& tab = m_tabs[n->m_nSlot];
      if (Host().skinLook) qb::ApplySkinToButton(tab, Host().skinLook(kChooserArea));
      tab.SetTooltipText(qb::W(kChooserTip).c_str());
      SetWindowTextW(tab.GetSafeHwnd(), qb::W(n->m_strName).c_str());
      tab.m_pNode = n;
      ++placed;
    }
  }
  for (CBtnTAB& tab : m_tabs) ShowButton(tab.GetSafeHwnd(), tab.m_pNode != nullptr);
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

// ---- the hotkey --------------------------------------------------------------------

int CSelSortsDlg::RegisterCaptureHotkey(const std::string& text) {
  CaptureHotkey plan = PlanCaptureHotkey(text);
  if (plan.verdict == CaptureHotkey::kEmpty) return 0;
  if (plan.verdict == CaptureHotkey::kIllegal) {
    Box(kIllegalHotkeyText);
    return 0;
  }
  if (!RegisterHotKey(m_hWnd, kCaptureHotkeyId, static_cast<UINT>(plan.modifiers), static_cast<UINT>(plan.key))) {
    Box(text + kHotkeyFailedSuffix);
    return 0;
  }
  m_bHotkey = true;
  if (plan.lowerKey) {
    m_bLowerHotkey =
        RegisterHotKey(m_hWnd, kCaptureLowerHotkeyId, static_cast<UINT>(plan.modifiers), static_cast<UINT>(plan.lowerKey));
    if (!m_bLowerHotkey) Box(text + kLowerHotkeyFailedSuffix);
  }
  return 1;
}

void CSelSortsDlg::UnregisterHotkeys() {
  if (!m_hWnd) return;
  if (m_bHotkey) UnregisterHotKey(m_hWnd, kCaptureHotkeyId);
  if (m_bLowerHotkey) UnregisterHotKey(m_hWnd, kCaptureLowerHotkeyId);
  m_bHotkey = m_bLowerHotkey = false;
}

int CSelSortsDlg::ChangeHotkey(const std::string& text) {
  if (!RegisterCaptureHotkey(text)) return 0;
  if (m_host.storeHotkey) m_host.storeHotkey(text);
  BuildMenu();  // its first line names the hotkey
  return 1;
}

void CSelSortsDlg::BringUp() {
  RECT place = PanelPlace();
  if (HWND main = m_host.mainWindow) {
    ShowWindow(main, SW_MINIMIZE);
    // The panels go with their owner, also where the window system leaves
    // an unmanaged minimised window's pop-ups on screen.
    ShowOwnedPopups(main, FALSE);
    SetForegroundWindow(main);
  }
  SetWindowPos(m_hWnd, HWND_TOPMOST, place.left, place.top, place.right - place.left, place.bottom - place.top,
               SWP_NOACTIVATE);
  RefreshChooser(UrlCategory);
  ShowWindow(m_hWnd, SW_SHOW);
  SetForegroundWindow(m_hWnd);
}

void CSelSortsDlg::HotkeyPressed() {
  if (FindBrowserWindow().hwnd) BringUp();
}

// ---- mouse, menu and the new category ------------------------------------------------

// The slot under the cursor, measured as the category panel measures it: the
// chooser lies where the panel lies, 16 pixels below the main window's top.
int CSelSortsDlg::SlotUnderCursor() const {
  POINT pt;
  GetCursorPos(&pt);
  RECT r;
  GetWindowRect(m_hWnd, &r);
  int x = pt.x - r.left, y = pt.y - r.top + kPanelY;
  return InTabPanel(x, y) ? HitTestTab(x, y) : -1;
}

void CSelSortsDlg::OnMouseDown(bool right) {
  int slot = SlotUnderCursor();
  if (right) {
    if (slot < 0 || m_tabs[slot].m_pNode || Mode() != DisplayMode::kWeb || !m_hMenu) return;
    m_nNewSlot = slot;
    POINT pt;
    GetCursorPos(&pt);
    SetForegroundWindow(m_hWnd);
    TrackPopupMenu(m_hMenu.Get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
    PostMessageW(m_hWnd, WM_NULL, 0, 0);
    return;
  }
  if (m_nNewSlot >= 0 && slot != m_nNewSlot) CommitChooserCategory();
}

void CSelSortsDlg::BeginNewCategory() { OpenNewCategoryEdit(m_hWnd, m_nNewSlot, IDC_NEW_CATEGORY_EDIT, m_hNewEdit); }

void CSelSortsDlg::CommitChooserCategory() {
  std::string text;
  int slot = -1;
  if (!CloseNewCategoryEdit(m_hNewEdit, m_nNewSlot, text, slot)) return;
  CAppLogic* app = Host().app;
  if (slot < 0 || slot >= kTabSlots || !app) return;
  if (ButtonsMade() && m_tabs[slot].m_pNode) return;
  int kind = CategoryKindOf(Mode());
  if (!CreateCategoryInPlace(*app, text, kind, slot)) return;
  RefreshChooser(kind);
  if (m_host.categoryCreated) m_host.categoryCreated(slot);
}

// ---- the capture ------------------------------------------------------------------------

void CSelSortsDlg::Capture(CMyNode* category) {
  BrowserWindow browser = FindBrowserWindow();
  ShowWindow(m_hWnd, SW_HIDE);
  if (m_host.hideMain) m_host.hideMain();
  CAppLogic* app = Host().app;
  if (!browser.hwnd || !app) return;
  std::unique_ptr<IBrowserReader> reader = ReaderFor(browser.family, m_hWnd);
  std::string title = reader->ReadTitle(browser.hwnd);
  std::string address = reader->ReadAddress(browser.hwnd);
  std::string dir = ProgramDir();
  FiledPage filed = FilePage(*app, dir, category, browser.family, title, address);
  if (filed.added) {
    ShowCategoryItems(category);
    app->SaveCurrentFavorites();
    if (filed.fetchIcon) m_iconWaits.Expect(filed.added);
  }
  // The icon and the offline copy come later, from a thread of their own:
  // the item is there and saved whatever the site does.
  if (!m_fetcher) {
    HWND self = m_hWnd;
    m_fetcher = std::make_unique<CPageFetcher>([self](const FetchResult& r) {
      auto* copy = new FetchResult(r);
      if (!PostMessageW(self, qb::WM_PAGE_FETCHED, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
    });
  }
  FetchJob job;
  job.programDir = dir;
  job.address = address;
  job.icon = filed.added && filed.fetchIcon;
  m_fetcher->Add(job);
}

void CSelSortsDlg::PageFetched(const FetchResult& result) {
  CAppLogic* app = Host().app;
  if (!app) return;
  if (!result.iconSaved) {
    m_iconWaits.Failed(result.address);
    return;
  }
  std::vector<CMyNode*> took = m_iconWaits.Arrived(*app, result.address, result.iconFile);
  if (took.empty()) return;
  CUrlDialog* items = UrlDialog();
  for (CMyNode* n : took) {
    if (!items || items->m_pShownCategory != n->m_pParent || n->m_nSlot < 0 || n->m_nSlot >= kItemSlots) continue;
    if (items->Button(n->m_nSlot).m_pNode != n) continue;
    items->SetUpItemButton(n->m_nSlot, n);
    InvalidateRect(items->Button(n->m_nSlot).GetSafeHwnd(), nullptr, TRUE);
  }
  app->SaveCurrentFavorites();
}

INT_PTR CSelSortsDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_HOTKEY:
      if (wParam == kCaptureHotkeyId || wParam == kCaptureLowerHotkeyId) HotkeyPressed();
      return TRUE;
    case WM_RBUTTONDOWN:
    case WM_LBUTTONDOWN:
      OnMouseDown(msg == WM_RBUTTONDOWN);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case ID_CHOOSER_NEW_CATEGORY: BeginNewCategory(); break;
        case IDOK: PostMessageW(m_hWnd, qb::WM_PANEL_ENTER, 0, 0); break;
        case IDCANCEL:
          // Escape puts the chooser away without filing anything.
          if (m_hNewEdit) DestroyWindow(m_hNewEdit);
          m_hNewEdit = nullptr;
          m_nNewSlot = -1;
          ShowWindow(m_hWnd, SW_HIDE);
          break;
        case IDC_NEW_CATEGORY_EDIT:
          if (HIWORD(wParam) == EN_KILLFOCUS) PostMessageW(m_hWnd, qb::WM_PANEL_EDIT_DONE, IDC_NEW_CATEGORY_EDIT, 0);
          break;
      }
      return TRUE;
    case qb::WM_PANEL_ENTER:
    case qb::WM_PANEL_EDIT_DONE:
      if (m_hNewEdit) CommitChooserCategory();
      return TRUE;
    case qb::WM_CHOOSER_CAPTURE: {
      int slot = static_cast<int>(wParam);
      CMyNode* node = slot >= 0 && slot < kTabSlots ? m_tabs[slot].m_pNode : nullptr;
      if (InTree(node)) Capture(node);
      return TRUE;
    }
    case qb::WM_PAGE_FETCHED: {
      std::unique_ptr<FetchResult> result(reinterpret_cast<FetchResult*>(lParam));
      if (result) PageFetched(*result);
      return TRUE;
    }
    case qb::WM_APPLY_SKIN:
      if (!ButtonsMade()) return TRUE;  // the background comes with the first showing
      LoadPanelBackground();
      InvalidateRect(m_hWnd, nullptr, TRUE);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

bool CreateChooser(const ChooserHost& host) {
  g_chooser.reset(new (std::nothrow) CSelSortsDlg(host));
  if (!g_chooser) return false;
  if (!g_chooser->Make()) {
    g_chooser.reset();
    return false;
  }
  return true;
}

void DestroyChooser() { g_chooser.reset(); }

HWND ChooserWindow() { return g_chooser ? g_chooser->GetSafeHwnd() : nullptr; }

void ShowChooser() {
  if (g_chooser) g_chooser->BringUp();
}

int ChangeCaptureHotkey(const std::string& text) { return g_chooser ? g_chooser->ChangeHotkey(text) : 0; }

void UnregisterCaptureHotkeys() {
  if (g_chooser) g_chooser->UnregisterHotkeys();
}

int RestoreCaptureHotkey(const std::string& text) {
  if (!g_chooser) return 0;
  g_chooser->UnregisterHotkeys();
  return g_chooser->RegisterCaptureHotkey(text);
}

}  // namespace panels

// The panels' shared parts: the host, the dialog frame with its skin
// background, and the functions the main window calls.
#include <windows.h>
#include <shellapi.h>

#include <map>
#include <memory>

#include "model/app_logic.h"
#include "os/os.h"
#include "panels/geometry.h"
#include "panels/open_item.h"
#include "panels/panel_windows_win32.h"
#include "skin/skin.h"
#include "store/node.h"
#include "win/subclass_win32.h"

#include "../../res/panels_ids.h"

namespace panels {

namespace {
PanelHost g_host;
std::unique_ptr<CTabDialog> g_tab;
std::unique_ptr<CUrlDialog> g_url;
std::unique_ptr<CLnkDialog> g_lnk;
using qb::WM_PANEL_SHOWN;

// Where the panels sit, from the owner's top-left corner, and their sizes.
const int kTabX = 0, kTabY = 16, kTabW = 200, kTabH = 660;
const int kItemX = 200, kItemY = 40, kItemW = 824, kItemH = 692;
}  // namespace

PanelHost& Host() { return g_host; }
CTabDialog* TabDialog() { return g_tab.get(); }
CUrlDialog* UrlDialog() { return g_url.get(); }

std::string ProgramDir() { return g_host.app ? g_host.app->m_strProgramDir : os::ProgramDirectory(); }

int ShowBox(const std::string& text, unsigned flags) {
  if (g_host.ui) return g_host.ui->ShowMessage(text, kBoxCaption, flags);
  return MessageBoxW(nullptr, qb::W(text).c_str(), qb::W(kBoxCaption).c_str(), flags);
}

POINT CursorInMain() {
  POINT pt;
  GetCursorPos(&pt);
  HWND owner = TabPanel() ? GetWindow(TabPanel(), GW_OWNER) : nullptr;
  RECT r;
  if (owner && GetWindowRect(owner, &r)) {
    pt.x -= r.left;
    pt.y -= r.top;
  }
  return pt;
}

void ShowButton(HWND button, bool show) {
  bool shown = (GetWindowLongPtrW(button, GWL_STYLE) & WS_VISIBLE) != 0;
  if (show != shown) ShowWindow(button, show ? SW_SHOWNA : SW_HIDE);
}

namespace {
// Edits that hand Enter to the panel instead of the dialog manager: the panel
// gets WM_PANEL_ENTER with the edit's identifier, outside the edit's own procedure.
LRESULT CALLBACK EnterEditProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR panel) {
  if (msg == WM_GETDLGCODE) return qb::DefSubclass(wnd, msg, wParam, lParam) | DLGC_WANTALLKEYS;
  if (msg == WM_KEYDOWN && wParam == VK_RETURN) {
    PostMessageW(reinterpret_cast<HWND>(panel), qb::WM_PANEL_ENTER, static_cast<WPARAM>(GetDlgCtrlID(wnd)), 0);
    return 0;
  }
  if (msg == WM_CHAR && (wParam == '\r' || wParam == '\n')) return 0;
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}
}  // namespace

void WatchEnter(HWND edit, HWND panel) { qb::Subclass(edit, EnterEditProc, 1, reinterpret_cast<DWORD_PTR>(panel)); }

void OpenNewCategoryEdit(HWND panel, int slot, UINT id, HWND& edit) {
  if (slot < 0 || slot >= kTabSlots) return;
  PanelRect r = TabRect(slot);
  if (r.IsEmpty()) return;
  if (edit) DestroyWindow(edit);
  edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_DLGFRAME | ES_AUTOHSCROLL, r.left, r.top,
                         r.right - r.left, r.bottom - r.top, panel, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
  if (!edit) return;
  SendMessageW(edit, WM_SETFONT, SendMessageW(panel, WM_GETFONT, 0, 0), FALSE);
  WatchEnter(edit, panel);
  ShowWindow(edit, SW_SHOW);
  SetFocus(edit);
}

bool CloseNewCategoryEdit(HWND& edit, int& slot, std::string& name, int& closedSlot) {
  HWND open = edit;
  closedSlot = slot;
  edit = nullptr;
  slot = -1;
  if (!open) return false;
  name = qb::WindowTextGbk(open);
  DestroyWindow(open);
  return true;
}

bool IsFilePath(const std::string& path) {
  return (path.size() > 2 && path[1] == ':' && path[2] == '\\') || path.compare(0, 2, "\\\\") == 0;
}

namespace {
// The shell's icons of ".ico" files, by path, for as long as the file keeps
// its time and size: the items of a panel share a handful of default icons.
struct CachedIcon {
  FILETIME written;
  DWORD size;
  qb::ScopedIcon icon;
};
std::map<std::wstring, CachedIcon> g_icoCache;
int g_shellLookups = 0;

bool EndsWithIco(const std::wstring& path) {
  return path.size() > 4 && _wcsicmp(path.c_str() + path.size() - 4, L".ico") == 0;
}
}  // namespace

int ShellIconLookups() { return g_shellLookups; }

HICON ShellIcon(const std::string& path) {
  if (path.empty()) return nullptr;
  std::wstring wide = qb::W(path);
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  bool found = false;
  if (IsFilePath(path)) {
    // The shell has no icon for a missing file; asking it costs far more than
    // looking for the file (item panels ask for dozens at start-up).
    found = GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) != 0;
    if (!found) {
      DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME) return nullptr;
    }
  }
  bool cacheable = found && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && EndsWithIco(wide);
  if (cacheable) {
    auto it = g_icoCache.find(wide);
    if (it != g_icoCache.end()) {
      const CachedIcon& c = it->second;
      if (CompareFileTime(&c.written, &data.ftLastWriteTime) == 0 && c.size == data.nFileSizeLow)
        return CopyIcon(c.icon.Get());
      g_icoCache.erase(it);
    }
  }
  SHFILEINFOW info = {};
  ++g_shellLookups;
  if (!SHGetFileInfoW(wide.c_str(), 0, &info, sizeof info, SHGFI_ICON | SHGFI_LARGEICON)) return nullptr;
  if (cacheable && info.hIcon) {
    if (HICON copy = CopyIcon(info.hIcon))
      g_icoCache[wide] = CachedIcon{data.ftLastWriteTime, data.nFileSizeLow, qb::ScopedIcon(copy)};
  }
  return info.hIcon;
}

// ---- the dialog frame ---------------------------------------------------------

bool CPanelDialog::Create(int templateId, HWND owner, int x, int y, int width, int height) {
  if (!CDialogWindow::Create(templateId, owner)) return false;
  RECT r = {0, 0, 0, 0};
  if (owner) GetWindowRect(owner, &r);
  SetWindowPos(m_hWnd, nullptr, r.left + x, r.top + y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
}

bool CPanelDialog::OnInitDialog() {
  OnInit();
  return true;
}

INT_PTR CPanelDialog::DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SHOWWINDOW:
      if (wParam) EnsureButtons();  // before the panel is on screen
      break;
    case WM_ERASEBKGND:
      return SetResult(1);
    case WM_PAINT:
      Paint();
      return TRUE;
    case WM_WINDOWPOSCHANGED:
      if (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW)
        PostMessageW(m_hWnd, WM_PANEL_SHOWN, 0, 0);
      return FALSE;
    case WM_PANEL_SHOWN:
      // A panel is shown over its owner; some window managers leave a newly
      // shown owned window below it.
      SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      RetakeButtonBackgrounds();
      return TRUE;
    case WM_NCDESTROY:
      return FALSE;
  }
  return OnMessage(msg, wParam, lParam);
}

void CPanelDialog::EnsureButtons() {
  if (m_bButtonsMade || !m_hWnd) return;
  m_bButtonsMade = true;
  LoadPanelBackground();
  MakeButtons();
}

void CPanelDialog::RetakeButtonBackgrounds() {
  if (!HasBackground() || !IsWindowVisible(m_hWnd)) return;
  RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  for (int i = 0; qb::CSkinButton* b = TransparentButton(i); ++i) {
    if (!b->GetSafeHwnd()) continue;
    b->DrawTransparent(false);
    RedrawWindow(b->GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
}

// The skin's image of the panel's area: a ".bmp" as a bitmap, a ".jpg"
// through the picture loader. Any other ending changes nothing.
void CPanelDialog::LoadPanelBackground() {
  std::string path = g_host.skinImage ? g_host.skinImage(m_area) : std::string();
  if (path.size() < 4) return;
  qb::LoadBackgroundImage(qb::SkinImageFile(ProgramDir(), path), &m_hBackground, &m_picture);
}

void CPanelDialog::Paint() {
  qb::PaintDc dc(m_hWnd);
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  if (HasBackground())
    qb::PaintBackground(dc.Get(), rc, m_hBackground.Get(), &m_picture);
  else
    FillRect(dc.Get(), &rc, GetSysColorBrush(COLOR_BTNFACE));
}

// ---- what the main window calls -------------------------------------------------

RECT TabPanelPlace() { return RECT{kTabX, kTabY, kTabX + kTabW, kTabY + kTabH}; }
RECT ItemPanelPlace() { return RECT{kItemX, kItemY, kItemX + kItemW, kItemY + kItemH}; }

bool CreatePanels(HWND owner, const PanelHost& host) {
  g_host = host;
  g_tab = std::make_unique<CTabDialog>();
  g_url = std::make_unique<CUrlDialog>();
  g_lnk = std::make_unique<CLnkDialog>();
  // The item panels first: the category panel's first refresh shows items.
  if (!g_url->Create(IDD_URL_DIALOG, owner, kItemX, kItemY, kItemW, kItemH) ||
      !g_lnk->Create(IDD_URL_DIALOG, owner, kItemX, kItemY, kItemW, kItemH) ||
      !g_tab->Create(IDD_TAB_DIALOG, owner, kTabX, kTabY, kTabW, kTabH)) {
    DestroyPanels();
    return false;
  }
  return true;
}

void DestroyPanels() {
  g_tab.reset();
  g_url.reset();
  g_lnk.reset();
  g_icoCache.clear();
}

HWND TabPanel() { return g_tab ? g_tab->GetSafeHwnd() : nullptr; }
HWND UrlPanel() { return g_url ? g_url->GetSafeHwnd() : nullptr; }
HWND LnkPanel() { return g_lnk ? g_lnk->GetSafeHwnd() : nullptr; }

void RefreshTabs(int kind) {
  if (g_tab) g_tab->RefreshTabs(kind);
}
void ShowCategoryItems(CMyNode* category) {
  if (g_url) g_url->ShowCategoryItems(category);
}
void ShowProgramFolder(CMyNode* category) {
  if (g_lnk) g_lnk->ShowProgramFolder(category);
}
void FocusCategoryTab(CMyNode* node) {
  if (g_tab) g_tab->FocusCategoryTab(node);
}

}  // namespace panels

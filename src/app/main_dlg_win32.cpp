// The main window.
#include "app/main_dlg_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "../../res/resource.h"
#include "app/chat_dlg_win32.h"
#include "app/favorites_app_win32.h"
#include "app/startup_trace_win32.h"
#include "os/os.h"
#include "panels/chooser_win32.h"
#include "panels/find_box_win32.h"
#include "panels/open_item.h"
#include "panels/panels_win32.h"
#include "script/key_script_dlg_win32.h"
#include "script/movrec_client_win32.h"
#include "widgets/static_link_win32.h"
#include "win/common_controls_win32.h"
#include "win/text_win32.h"

namespace qb {

namespace {

const UINT kButtonIds[9] = {IDC_TOP_VISITED_BUTTON, IDC_SKIN_BUTTON, IDC_LOGIN_BUTTON, IDC_CHAT_BUTTON,
                            IDC_HELP_BUTTON,        IDC_SETTINGS_BUTTON, IDC_FOLDER_BUTTON, IDC_EXIT_BUTTON,
                            IDC_HIDE_BUTTON};
enum { kSkinnedButtons = 7, kExitIndex = 7, kHideIndex = 8 };
const char kUpdatePath[] = "//notify//update.htm";

void StopBox(HWND owner, const char* gbk) {
  MessageBoxW(owner, W(gbk).c_str(), L"Qimbo\u6536\u85CF", MB_OK | MB_ICONHAND);
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return std::string();
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::string RemoveAll(std::string s, const std::string& what) {
  for (size_t p; (p = s.find(what)) != std::string::npos;) s.erase(p, what.size());
  return s;
}

// The dialog-unit rectangle of a template place, in client pixels.
RECT DialogRect(HWND dlg, int x, int y, int w, int h) {
  RECT r = {x, y, x + w, y + h};
  MapDialogRect(dlg, &r);
  return r;
}

// The file box's place as made, before it is fitted: its height is the
// dropped list's.
RECT FileBoxMadePlace(HWND dlg) { return DialogRect(dlg, 0, 2, 117, 69); }

INT_PTR CALLBACK AboutProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: {
      auto* site = new CStaticLink("http://www.qimbo.example/", true);
      site->SubclassDlgItem(IDC_SITE_LINK, wnd);
      auto* mail = new CStaticLink("mailto:support@qimbo.example", true);
      mail->SubclassDlgItem(IDC_MAIL_LINK, wnd);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(wnd, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

// A window object made for this window, then its window: when either
// cannot be made, the box of that step and no object. True when both are made.
template <class T, class Create>
bool MakeWithWindow(HWND owner, std::unique_ptr<T>& object, T* made, Create create, const char* noMemory,
                    const char* noWindow) {
  object.reset(made);
  if (!object) {
    StopBox(owner, noMemory);
    return false;
  }
  if (!create(*object)) {
    object.reset();
    StopBox(owner, noWindow);
    return false;
  }
  return true;
}

}  // namespace

CMainDlg::CMainDlg(CFavoritesApp& app) : m_app(app) {}

void CMainDlg::DestroyPanelWindows() {
  if (m_tabPanel) panels::DestroyPanels();
  m_tabPanel = m_urlPanel = m_lnkPanel = nullptr;
}

// The window first (it takes its owned panels with it), then the panel
// objects; the menus, images and icons go with their owners after that.
CMainDlg::~CMainDlg() {
  m_find.reset();
  Retire(m_login);
  Retire(m_chat);
  Retire(m_settings);
  DestroyQuietly();
  DestroyPanelWindows();
}

bool CMainDlg::Create() { return CDialogWindow::Create(IDD_MAIN_DIALOG, nullptr); }

bool CMainDlg::OnInitDialog() {
  StartupMark("WM_INITDIALOG");
  // The controls are made; what they show comes from the model.
  if (!m_app.AwaitLogic()) return false;
  StartupMark("model");
  // The system menu's entry and the program's icons come once the window is
  // up (WM_AFTER_SHOW): neither is seen earlier, and the window system
  // converts the icons for the task bar.
  StartupMark("hook");
  for (int i = 0; i < 9; ++i) m_buttons[i].SubclassDlgItem(kButtonIds[i], m_hWnd);
  StartupMark("buttons");
  // The background image is taken when the window first paints (decoded
  // ahead on a second thread); the panels, the chooser, the tray icon and the
  // network links come once the window is up and its messages flow, and so
  // do what the first frame does not show: the two button menus and the
  // hidden open-all browser (MakeHiddenParts).
  m_backgroundDue = true;
  m_panelsDue = true;
  ApplySkinToButtons();
  StartupMark("button skins");
  SetWindowTextW(m_hWnd, L"");
  RECT banner = DialogRect(m_hWnd, 120, 0, 454, 44);
  m_banner.Create(L"", WS_VISIBLE, banner, m_hWnd, IDC_BANNER);
  m_banner.Navigate(m_app.ProgramDir() + "head\\Head.htm");
  StartupMark("banner");
  SetDlgItemTextW(m_hWnd, IDC_FOLDER_BUTTON, W("程序夹").c_str());
  // The panels are made as this window first shows (Show); what lies above
  // their places is fitted now, and the file box as it is made.
  FitBannerAbovePanels();
  // Made hidden: its showing activates it, and the file box takes the focus
  // as it is made (MakeFileBox).
  m_focusFirstControl = false;
  return true;
}

// The file box is made in the first step after the first frame, which
// shows it drawn in its place (PaintFileBoxStandIn): a drop-down list's
// list is a top-level window, and making one costs as much of the start
// as the rest of this window's controls together (under Wine, where the
// display makes a window of its own for it). Made first among the
// controls, it comes first in their order for the keyboard, and takes the
// focus that the window kept meanwhile.
bool CMainDlg::MakeFileBox() {
  if (FileBox()) return true;
  RECT rc = FileBoxMadePlace(m_hWnd);
  HWND box = CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"ComboBox", L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, rc.left, rc.top,
                             rc.right - rc.left, rc.bottom - rc.top, m_hWnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FILE_BOX)), GetModuleHandleW(nullptr),
                             nullptr);
  if (!box) return false;
  SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SendMessageW(box, WM_SETFONT, SendMessageW(m_hWnd, WM_GETFONT, 0, 0), FALSE);
  FitFileBoxAbovePanels();
  FillFileBox();
  if (GetFocus() == m_hWnd) SetFocus(box);
  UpdateWindow(box);
  StartupMark("file box");
  return true;
}

HWND CMainDlg::FileBox() const { return m_hWnd ? GetDlgItem(m_hWnd, IDC_FILE_BOX) : nullptr; }

FileBoxFit FitFileBox(int top, int height, int field, int limit) {
  FileBoxFit fit = {top, height, field};
  int over = top + height - limit;
  if (over <= 0) return fit;
  fit.field = std::max(12, field - over);
  fit.height = height - (field - fit.field);
  if (top + fit.height > limit && top > 0) fit.top = std::max(0, limit - fit.height);
  return fit;
}

// Where the file box will sit and how high its field will be, reckoned
// from the window's font as the window system's drop-down list reckons its
// own (a field of the font's height and 2, the box 6 higher).
RECT CMainDlg::FileBoxPlace(int* field) const {
  RECT rc = FileBoxMadePlace(m_hWnd);
  TEXTMETRICW tm = {};
  if (HDC dc = GetDC(m_hWnd)) {
    SelectIn font(dc, reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
    GetTextMetricsW(dc, &tm);
    ReleaseDC(m_hWnd, dc);
  }
  RECT tabPlace, itemPlace;
  PanelPlaces(&tabPlace, &itemPlace);
  FileBoxFit fit = FitFileBox(rc.top, tm.tmHeight + 8, tm.tmHeight + 2, tabPlace.top);
  *field = fit.field;
  return RECT{rc.left, fit.top, rc.right, fit.top + fit.height};
}

// The first frame's file box, before the box is made: its closed look, as
// the window system draws a drop-down list in a dialog that leaves its
// colours alone, focused while the window keeps the focus for it.
void CMainDlg::PaintFileBoxStandIn(HDC dc) {
  int field = 0;
  RECT box = FileBoxPlace(&field);
  RECT text = {box.left + 2, box.top + 2, box.right - 2 - GetSystemMetrics(SM_CXVSCROLL), box.top + 4 + field};
  RECT button = {text.right, text.top, box.right - 2, text.bottom};
  FillRect(dc, &text, GetSysColorBrush(COLOR_WINDOW));
  DrawEdge(dc, &box, EDGE_SUNKEN, BF_RECT);
  DrawFrameControl(dc, &button, DFC_SCROLL, DFCS_SCROLLCOMBOBOX);
  // Listed once for the frame and the box's filling that follows it.
  if (!m_drawnFiles) m_drawnFiles.emplace(FileBoxNames(&m_drawnSelect));
  const std::vector<std::wstring>& names = *m_drawnFiles;
  if (names.empty()) return;  // no file chosen: the box shows its field empty, unmarked
  const std::wstring& name = names[static_cast<size_t>(m_drawnSelect)];
  bool focused = GetFocus() == m_hWnd;
  InflateRect(&text, -1, -1);
  SelectIn font(dc, reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
  SetBkMode(dc, OPAQUE);
  if (focused) FillRect(dc, &text, GetSysColorBrush(COLOR_HIGHLIGHT));
  SetBkColor(dc, GetSysColor(focused ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  SetTextColor(dc, GetSysColor(focused ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  ExtTextOutW(dc, text.left + 1, text.top + 1, ETO_OPAQUE | ETO_CLIPPED, &text, name.c_str(),
              static_cast<UINT>(name.size()), nullptr);
  if (focused) DrawFocusRect(dc, &text);
}

// The panels sit at fixed pixel places over the top of this window: the
// item panel 40 pixels down, the category panel 16. What lies above them
// must fit there to be seen: the banner ends where the item panel begins,
// and the file box, once made, keeps a low selection field above the
// category panel (FitFileBoxAbovePanels, by the rule of FitFileBox).
void CMainDlg::FitBannerAbovePanels() {
  RECT tabPlace, itemPlace;
  PanelPlaces(&tabPlace, &itemPlace);
  HWND bannerWnd = GetDlgItem(m_hWnd, IDC_BANNER);
  RECT banner;
  if (bannerWnd && GetWindowRect(bannerWnd, &banner)) {
    POINT origin = {banner.left, banner.top};
    ScreenToClient(m_hWnd, &origin);
    LONG top = itemPlace.top;
    if (top > origin.y && top < origin.y + (banner.bottom - banner.top))
      SetWindowPos(bannerWnd, nullptr, 0, 0, banner.right - banner.left, top - origin.y,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void CMainDlg::FitFileBoxAbovePanels() {
  HWND box = FileBox();
  RECT tabPlace, itemPlace, rc;
  if (!box || !GetWindowRect(box, &rc)) return;
  LRESULT field = SendMessageW(box, CB_GETITEMHEIGHT, (WPARAM)-1, 0);
  if (field == CB_ERR) return;
  PanelPlaces(&tabPlace, &itemPlace);
  POINT origin = {rc.left, rc.top};
  ScreenToClient(m_hWnd, &origin);
  FileBoxFit fit = FitFileBox(origin.y, rc.bottom - rc.top, static_cast<int>(field), tabPlace.top);
  if (fit.field != field) SendMessageW(box, CB_SETITEMHEIGHT, (WPARAM)-1, fit.field);
  if (fit.top != origin.y)
    SetWindowPos(box, nullptr, origin.x, fit.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The parts of this window that its first frame does not show: the menus of
// the skin and top-visited buttons, and the small browser that opens a
// category's sites, made hidden (after the banner, as before: the tab order
// is the same). The panels, made next, navigate it.
void CMainDlg::MakeHiddenParts() {
  if (m_openAll.GetSafeHwnd()) return;
  m_skinMenu = BuildSkinMenu(m_app.ProgramDir());
  RebuildTopVisitedMenu();
  RECT openAll = DialogRect(m_hWnd, 18, 44, 40, 38);
  m_openAll.Create(L"", 0, openAll, m_hWnd, IDC_OPEN_ALL_BROWSER);
  StartupMark("menus, open-all browser");
}

void CMainDlg::PanelPlaces(RECT* tab, RECT* item) const {
  *tab = panels::TabPanelPlace();
  *item = panels::ItemPanelPlace();
}

bool CMainDlg::CreatePanels() {
  panels::PanelHost host;
  CFavoritesApp& app = m_app;
  host.app = app.Logic();
  host.ui = &app.Ui();
  host.mode = [this] { return m_mode; };
  host.skinLook = [&app](int area) { return app.SkinLook(area); };
  host.skinImage = [&app](int area) { return app.Skins()[static_cast<size_t>(area)].m_strImagePath; };
  host.hotkeyText = [&app] { return app.Config().hotkeyText; };
  // Without a web page engine the small browser cannot load anything (the
  // bookmarks are opened in browser windows of their own afterwards).
  host.navigateOpenAll = [this](const std::string& address) {
    if (!m_openAll.HasEngine()) return false;
    m_openAll.Navigate(address);
    return true;
  };
  host.enableAll = [this](bool enable) { EnableAll(enable); };
  host.showAll = [this](bool show) {
    if (show) Show();
    else Hide();
  };
  // A recording saved as an item's script marks the item: the tree is saved.
  CAppLogic* logic = app.Logic();
  host.createRecorder = [logic](CMyNode* item, HWND panel) {
    return script::CreateRecorder(item, panel, [logic] {
      if (logic) logic->SaveCurrentFavorites();
    });
  };
  panels::SetScriptPlayer(script::PlayScriptFile);
  if (app.Net()) host.circles = panels::CirclesOf(*app.Net());
  if (app.StartStepFails(CFavoritesApp::StartStep::kPanels) || !panels::CreatePanels(m_hWnd, host)) return false;
  m_tabPanel = panels::TabPanel();
  m_urlPanel = panels::UrlPanel();
  m_lnkPanel = panels::LnkPanel();
  return true;
}

// The favorites files, named without their ending, and the one chosen at
// start: 1-我的收藏 where it is, else the first.
std::vector<std::wstring> CMainDlg::FileBoxNames(int* select) const {
  std::vector<std::wstring> names;
  *select = 0;
  CAppLogic* logic = m_app.Logic();
  if (!logic) return names;
  for (const std::string& file : logic->ListFavoritesFiles()) {
    std::string name = RemoveAll(file, ".sc");
    if (name + ".sc" == "1-我的收藏.sc") *select = static_cast<int>(names.size());
    names.push_back(W(name));
  }
  return names;
}

void CMainDlg::FillFileBox() {
  HWND box = FileBox();
  if (!box) return;
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  int select = m_drawnSelect;
  std::vector<std::wstring> names = m_drawnFiles ? std::move(*m_drawnFiles) : FileBoxNames(&select);
  m_drawnFiles.reset();
  for (const std::wstring& name : names)
    SendMessageW(box, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str()));
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
}

ScopedMenu CMainDlg::BuildSkinMenu(const std::string& programDir) {
  ScopedMenu owner(CreatePopupMenu());
  HMENU menu = owner.Get();
  AppendMenuW(menu, MF_STRING, ID_SKIN_TITLE, W("设置中可定制皮肤").c_str());
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  std::vector<os::DirEntry> entries;
  os::ListFolder(programDir + "skin\\", "*.", entries);
  UINT id = ID_SKIN_FIRST;
  for (size_t i = 1; i < entries.size() && id >= ID_SKIN_LAST; ++i) {  // the first entry is the folder itself
    const os::DirEntry& e = entries[i];
    if (e.name == "." || e.name == ".." || !e.isFolder) continue;
    AppendMenuW(menu, MF_STRING, id--, W(e.name).c_str());
  }
  return owner;
}

ScopedMenu CMainDlg::BuildTopVisitedMenu(const std::vector<std::string>& names) {
  ScopedMenu owner(CreatePopupMenu());
  HMENU menu = owner.Get();
  for (int i = kTopVisitedEntries - 1; i >= 0; --i) {
    if (static_cast<size_t>(i) >= names.size()) continue;
    std::string text = RemoveAll(Trim(names[static_cast<size_t>(i)]), ".url");
    AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(ID_TOP_FIRST + i), W(text).c_str());
  }
  AppendMenuW(menu, MF_SEPARATOR, ID_TOP_TITLE, nullptr);
  AppendMenuW(menu, MF_STRING, ID_TOP_TITLE, W("点击排行榜~Qimbo收藏").c_str());
  return owner;
}

void CMainDlg::RebuildTopVisitedMenu() {
  std::vector<std::string> names;
  if (CAppLogic* logic = m_app.Logic())
    for (const TopVisited& t : logic->m_topVisited) names.push_back(t.m_strName);
  if (!m_topMenu.TryFree()) return;  // keep a menu that would not go
  m_topMenu = BuildTopVisitedMenu(names);
}

namespace {
// The icons of the help and folder buttons: in and out of the mouse.
const int kHelpIcons[2] = {IDI_HELP_BUTTON, IDI_HELP_BUTTON};
const int kFolderIcons[2] = {IDI_TRAY_FIRST, IDI_PROGRAM};
}  // namespace

void CMainDlg::LoadButtonIcons() {
  for (const int* pair : {kHelpIcons, kFolderIcons})
    for (int i = 0; i < 2; ++i) CSkinButton::SharedIcon(pair[i]);
}

void CMainDlg::ApplySkinToButtons() {
  SkinColours look = m_app.SkinLook(kAreaFunctionButtons);
  for (int i = 0; i < kSkinnedButtons; ++i) ApplySkinToButton(m_buttons[i], look);
  CSkinButton& help = m_buttons[4];
  help.SetIconById(kHelpIcons[0], kHelpIcons[1]);
  CSkinButton& folder = m_buttons[6];
  folder.SetIconById(kFolderIcons[0], kFolderIcons[1]);
  folder.SetAlign(CSkinButton::kAlignLeft);
  m_buttons[kExitIndex].SetBitmapsById(IDB_CLOSE_BUTTON, 136, IDB_CLOSE_BUTTON, 0);
  m_buttons[kHideIndex].SetBitmapsById(IDB_MIN_BUTTON, 135, IDB_MIN_BUTTON, 0);
}

void CMainDlg::EnsureBackground() {
  if (!m_backgroundDue) return;
  LoadBackground();
  if (!m_background) {
    // Whatever its ending, the image may still be a bitmap file.
    std::string file = SkinImageFile(m_app.ProgramDir(), m_app.Skins()[0].m_strImagePath);
    m_background.Reset(static_cast<HBITMAP>(
        LoadImageW(nullptr, W(file).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
  }
}

// The program's icons, loaded for the first that needs them: the window's
// icons step, the tray icon, the paint of a window started minimised.
void CMainDlg::EnsureIcons() {
  if (m_icon) return;
  HINSTANCE inst = GetModuleHandleW(nullptr);
  m_icon.Reset(static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 32, 32, 0)));
  m_smallIcon.Reset(static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 16, 16, 0)));
}

void CMainDlg::AddAboutToSystemMenu() {
  wchar_t about[128] = {};
  if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 128) <= 0) return;
  HMENU sys = GetSystemMenu(m_hWnd, FALSE);
  if (!sys) return;
  AppendMenuW(sys, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(sys, MF_STRING, IDM_ABOUTBOX, about);
}

void CMainDlg::EnsureTray() {
  if (m_trayMade) return;
  m_trayMade = true;
  EnsureIcons();
  m_tray.SetIconList(IDI_TRAY_FIRST, IDI_PROGRAM);
  m_tray.Create(m_hWnd, WM_TRAY_NOTIFY, "Qimbo收藏", m_smallIcon.Get(), IDR_TRAY_MENU);
}

void CMainDlg::LoadBackground() {
  m_backgroundDue = false;
  m_background.Reset();
  LoadBackgroundImage(SkinImageFile(m_app.ProgramDir(), m_app.Skins()[0].m_strImagePath), &m_background,
                      &m_picture);
}

// The steps after the first frame begin once it is painted: posted
// messages come before a paint, so that posted earlier they would keep the
// window blank until the last step. A window hidden before its first paint
// begins them as it hides.
void CMainDlg::BeginStepsAfterShow() {
  if (m_stepsBegun || !m_hWnd) return;
  m_stepsBegun = true;
  PostMessageW(m_hWnd, WM_AFTER_SHOW, kStepFileBox, 0);
}

void CMainDlg::OnPaint() {
  bool first = !m_stepsBegun;
  EnsureBackground();
  if (first) StartupMark("main paint");
  BeginStepsAfterShow();
  PaintFrame();
  // The first frame is whole before the first step: the controls' own
  // paints would come after the posted steps.
  if (first) {
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    StartupMark("main painted");
  }
}

void CMainDlg::PaintFrame() {
  PaintDc paint(m_hWnd);
  HDC dc = paint.Get();
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  if (IsIconic(m_hWnd)) {
    EnsureIcons();
    int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (rc.right - cx + 1) / 2, (rc.bottom - cy + 1) / 2, m_icon.Get());
  } else if (m_background) {
    PaintBackground(dc, rc, m_background.Get(), nullptr);
    SelectIn font(dc, reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    TextOutW(dc, 1, 1, L"Qimbo\u6536\u85CF", 7);
  } else {
    m_picture.Show(dc, rc);
  }
  if (!IsIconic(m_hWnd) && !FileBox()) PaintFileBoxStandIn(dc);
}

// ---- show, hide, modes ------------------------------------------------------------

int CMainDlg::s_startShowMode = CMainDlg::kStartShowOfProcess;

int CMainDlg::StartShowMode() {
  if (s_startShowMode != kStartShowOfProcess) return s_startShowMode;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  GetStartupInfoW(&si);
  return (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : kStartShowNotAsked;
}

bool CMainDlg::Show() {
  // Shown first, then activated: the foreground call first would activate
  // it hidden and show it only then. The first showing of a start that asks
  // for no show mode defers the controls' erasing to their first paint, in
  // the loop's first frame: shown the usual way, the window erases each
  // control at once, in a device context of its own, before the loop
  // answers. Its activation is a message posted here, which the loop takes
  // after the messages sent to the window meanwhile and before the first
  // paint: the first frame is the same, active with the file box focused,
  // and the loop answers without waiting for the activation, whose input
  // context starts COM for the thread. A start that asks for a mode (a
  // shortcut set to minimised) keeps the usual first ShowWindow, which is
  // the call that takes that mode, and is activated at once.
  if (m_panelsDue && !m_shownAtStart && StartShowMode() == kStartShowNotAsked) {
    SendMessageW(m_hWnd, WM_SHOWWINDOW, TRUE, 0);
    SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_DEFERERASE | SWP_NOACTIVATE);
    m_shownAtStart = true;
    StartupMark("show main");
    PostMessageW(m_hWnd, WM_AFTER_SHOW, kActivateShown, 0);
    return true;
  }
  ShowWindow(m_hWnd, SW_SHOWNORMAL);
  m_shownAtStart = true;
  StartupMark("show main");
  return ActivateShown();
}

bool CMainDlg::ActivateShown() {
  SetForegroundWindow(m_hWnd);
  StartupMark("foreground");
  // At start-up the first frame is the loop's to paint, as any window's, and
  // the panels come after it (OnAfterShow): this window's first frame and
  // its first answers do not wait for them.
  if (m_panelsDue) {
    // A window that starts minimised (its shortcut says so) gets no paint.
    if (IsIconic(m_hWnd) || !IsWindowVisible(m_hWnd)) BeginStepsAfterShow();
    TakeKeyboardFocus();
    return true;
  }
  return ShowPanels();
}

bool CMainDlg::MakePanels() {
  if (m_tabPanel) return true;
  // The three panels, hidden windows over this one (they make their buttons
  // as they first show); without them the program cannot go on.
  if (!CreatePanels()) return false;
  StartupMark("panels");
  return true;
}

bool CMainDlg::ShowPanels() {
  m_panelsDue = false;
  if (!MakePanels()) return false;
  ShowWindow(m_tabPanel, SW_SHOWNOACTIVATE);
  ShowWindow(m_mode != kModeWeb ? m_lnkPanel : m_urlPanel, SW_SHOWNOACTIVATE);
  StartupMark("panels shown");
  TakeKeyboardFocus();
  return true;
}

// Where the window system raises an activated window over its owned pop-ups
// after the fact (Wine's unmanaged windows do), the panels are shown again.
void CMainDlg::RestackPanels() {
  for (HWND panel : {m_tabPanel, m_urlPanel, m_lnkPanel}) {
    if (!panel || !IsWindowVisible(panel)) continue;
    ShowWindow(panel, SW_HIDE);
    ShowWindow(panel, SW_SHOWNOACTIVATE);
  }
  if (m_find && m_find->IsOpen())
    SetWindowPos(m_find->Window(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // A panel shown raises itself when its own posted message comes: this one
  // comes after.
  PostMessageW(m_hWnd, WM_RAISE_SECONDARY, 0, 0);
}

// Activated, a window this one owns (login, settings) may bring this window
// up to just under it, over the panels it owns as well (Wine does, also once
// the activation settles): the panels are shown again over it now and once
// more as after an activation of this window, the other window over them.
void CMainDlg::RestackOverSecondary() {
  PostMessageW(m_hWnd, WM_RESTACK_PANELS, 0, 0);
  SetTimer(m_hWnd, kRestackTimer, 200, nullptr);
}

// The login and chat windows lie over the panels, which are owned by this
// window as they are: they would be hidden behind them once the panels are
// shown again. A box of this window (which disables it while it is up)
// stays over the chat window.
void CMainDlg::RaiseSecondaryWindows() {
  HWND chat = m_chat && IsWindowEnabled(m_hWnd) ? m_chat->GetSafeHwnd() : nullptr;
  // While the window waits for one of its boxes, that box lies over all.
  HWND box = IsWindowEnabled(m_hWnd) ? nullptr : GetLastActivePopup(m_hWnd);
  if (box == m_hWnd) box = nullptr;
  for (HWND w : {chat, m_login ? m_login->GetSafeHwnd() : nullptr, box})
    if (w) SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void CMainDlg::Hide() {
  BeginStepsAfterShow();
  ShowWindow(m_hWnd, SW_HIDE);
  ShowWindow(m_tabPanel, SW_HIDE);
  ShowWindow(m_urlPanel, SW_HIDE);
  ShowWindow(m_lnkPanel, SW_HIDE);
}

void CMainDlg::Toggle() {
  if (!IsWindowVisible(m_hWnd)) {
    SendMessageW(m_urlPanel, WM_APPLY_SKIN, 0, 0);
    SendMessageW(m_lnkPanel, WM_APPLY_SKIN, 0, 0);
    Show();
  } else {
    Hide();
  }
}

void CMainDlg::ShowCategory(DisplayMode mode, CMyNode* category) {
  if (mode == kModeProgram)
    panels::ShowProgramFolder(category);
  else
    panels::ShowCategoryItems(category);
}

void CMainDlg::RebuildTabs(DisplayMode mode, CMyNode* focus) {
  panels::RefreshTabs(panels::CategoryKindOf(mode));
  if (focus) panels::FocusCategoryTab(focus);
}

// Shows a folder, web addresses or programs, with its first category: the
// folder button names the other folder, the folder's panel shows (with its
// skin taken again when asked or when the mode changes), the other panel
// hides and the tabs are rebuilt.
void CMainDlg::EnterMode(DisplayMode mode, bool freshSkin) {
  bool web = mode != kModeProgram;
  bool changed = m_mode != mode;
  m_mode = mode;
  SetDlgItemTextW(m_hWnd, IDC_FOLDER_BUTTON, W(web ? "程序夹" : "网址夹").c_str());
  CAppLogic* logic = m_app.Logic();
  CMyNode* first = logic ? logic->FirstNodeBySlot(panels::CategoryKindOf(mode)) : nullptr;
  HWND shown = web ? m_urlPanel : m_lnkPanel;
  ShowWindow(shown, SW_SHOWNOACTIVATE);
  if (freshSkin || changed) SendMessageW(shown, WM_APPLY_SKIN, 0, 0);
  ShowCategory(m_mode, first);
  ShowWindow(web ? m_lnkPanel : m_urlPanel, SW_HIDE);
  RebuildTabs(m_mode, first);
}

void CMainDlg::SwitchMode() { EnterMode(m_mode == kModeProgram ? kModeWeb : kModeProgram, true); }

void CMainDlg::RefreshCurrentMode() {
  CAppLogic* logic = m_app.Logic();
  CMyNode* first = logic ? logic->FirstNodeBySlot(panels::CategoryKindOf(m_mode)) : nullptr;
  SendMessageW(m_mode == kModeProgram ? m_lnkPanel : m_urlPanel, WM_APPLY_SKIN, 0, 0);
  ShowCategory(m_mode, first);
  RebuildTabs(m_mode, first);
}

void CMainDlg::WebModeWithFirstCategory() { EnterMode(kModeWeb, false); }

// ---- commands ------------------------------------------------------------------------

void CMainDlg::SwitchFavoritesFile() {
  CAppLogic* logic = m_app.Logic();
  if (!logic) return;
  logic->SaveFavorites(logic->m_strCurrentFile);
  HWND box = FileBox();
  LRESULT sel = SendMessageW(box, CB_GETCURSEL, 0, 0);
  if (sel == CB_ERR) return;
  LRESULT len = SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0);
  std::wstring text(static_cast<size_t>(len > 0 ? len : 0) + 1, L'\0');
  SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(len > 0 ? len : 0));
  if (!logic->SwitchFavoritesFile(Gbk(text) + ".sc")) return;
  RebuildTopVisitedMenu();
  WebModeWithFirstCategory();
}

void CMainDlg::ChangeSkin(UINT id) {
  wchar_t name[MAX_PATH] = {};
  GetMenuStringW(m_skinMenu.Get(), id, name, MAX_PATH, MF_BYCOMMAND);
  SkinSet& skins = m_app.Skins();
  std::string dir = m_app.ProgramDir();
  FreeSkinFonts(skins);
  if (!LoadSkin(dir, Gbk(name), skins, &m_app.Ui())) {
    StopBox(m_hWnd, "读皮肤文件失败,按<确认>按钮退出");
    return;
  }
  if (!SaveSkin(dir, "", skins)) {
    StopBox(m_hWnd, "保存皮肤失败,按<确认>按钮退出");
    return;
  }
  PostMessageW(m_hWnd, WM_APPLY_SKIN, 0, 0);
  for (HWND w : {m_tabPanel, m_urlPanel, m_lnkPanel, m_app.Chooser()})
    if (w) PostMessageW(w, WM_APPLY_SKIN, 0, 0);
  RefreshCurrentMode();
  Hide();
  Show();
}

void CMainDlg::OpenTopVisited(UINT id) {
  CAppLogic* logic = m_app.Logic();
  size_t index = id - ID_TOP_FIRST;
  if (!logic || index >= logic->m_topVisited.size()) return;
  const TopVisited& entry = logic->m_topVisited[index];
  ShellExecuteW(nullptr, L"open", W(entry.m_strAddress).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
  logic->CountTopVisit(entry.m_strName);
}

void CMainDlg::Exit(bool hideFirst) {
  // A named skin being saved runs in the settings window's handler.
  if (m_settings && m_settings->Busy()) return;
  if (CAppLogic* logic = m_app.Logic()) logic->SaveFavorites(logic->m_strCurrentFile);
  if (hideFirst) Toggle();
  PostQuitMessage(0);
  m_app.MainWindowGone();
  Retire(this);  // destroys the window, the panels and the menus
}

void CMainDlg::ShowMenuAtCursor(HMENU menu) {
  POINT pt;
  GetCursorPos(&pt);
  SetForegroundWindow(m_hWnd);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
  PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

ScopedMenu CMainDlg::BuildTrayMenu(HMENU* popup) const {
  ScopedMenu resource(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAY_MENU)));
  *popup = resource ? GetSubMenu(resource.Get(), 0) : nullptr;
  if (!*popup) return resource;
  std::wstring text = W(IsWindowVisible(m_hWnd) ? "隐藏(&H)" : "显示(&S)");
  ModifyMenuW(*popup, ID_TRAY_SHOW, MF_BYCOMMAND | MF_STRING, ID_TRAY_SHOW, text.c_str());
  // The capture and the favorites transfer are reachable from here: the
  // capture always, the transfer once the server has taken the login.
  ModifyMenuW(*popup, ID_TRAY_CAPTURE, MF_BYCOMMAND | MF_STRING, ID_TRAY_CAPTURE, W("添加当前网页到收藏夹").c_str());
  CNetState* net = m_app.Net();
  UINT transfer = MF_BYCOMMAND | MF_STRING | (net && net->Login().LoggedIn() ? MF_ENABLED : MF_GRAYED);
  ModifyMenuW(*popup, ID_TRAY_UPLOAD, transfer, ID_TRAY_UPLOAD, W("上传收藏夹到服务器").c_str());
  ModifyMenuW(*popup, ID_TRAY_DOWNLOAD, transfer, ID_TRAY_DOWNLOAD, W("从服务器下载收藏夹").c_str());
  ModifyMenuW(*popup, ID_TRAY_SYNC, transfer, ID_TRAY_SYNC, W("同步收藏夹").c_str());
  return resource;
}

void CMainDlg::ShowTrayMenu() {
  HMENU popup = nullptr;
  ScopedMenu resource = BuildTrayMenu(&popup);
  if (popup) ShowMenuAtCursor(popup);
}

void CMainDlg::AboutBox() {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), m_hWnd, AboutProc, 0);
}

void CMainDlg::OpenHelp() {
  std::string help = m_app.ProgramDir() + "QimboHelp.chm";
  ShellExecuteW(nullptr, L"open", W(help).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
}

void CMainDlg::Flash(UINT firstIcon, UINT lastIcon, bool newList) {
  EnsureTray();
  if (newList) m_tray.SetIconList(firstIcon, lastIcon);
  m_chatPending = true;
  m_tray.Animate(700, 15);
}

void CMainDlg::EnableAll(bool enable) {
  for (HWND w : {m_hWnd, m_tabPanel, m_urlPanel, m_lnkPanel})
    if (w) EnableWindow(w, enable);
}

void CMainDlg::OnTrayNotify(LPARAM mouse) {
  switch (mouse) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (m_chatPending) {
        OnOpenChat();
      } else {
        Toggle();
      }
      break;
    case WM_RBUTTONDOWN:
      ShowTrayMenu();
      break;
  }
}

// One settings window at a time; this window and the panels wait for it.
void CMainDlg::OpenSettings() {
  if (m_settings && !m_settings->GetSafeHwnd()) Retire(m_settings);
  if (!m_settings) {
    SettingsHost host;
    CFavoritesApp& app = m_app;
    host.mainWindow = m_hWnd;
    host.programDir = app.ProgramDir();
    host.skins = &app.Skins();
    host.hotkeyText = [&app] { return app.Config().hotkeyText; };
    host.changeHotkey = panels::ChangeCaptureHotkey;
    host.unregisterHotkey = panels::UnregisterCaptureHotkeys;
    host.restoreHotkey = [](const std::string& text) { panels::RestoreCaptureHotkey(text); };
    host.skinApplied = [this](int area) { SkinApplied(area); };
    if (!MakeWithWindow(
            m_hWnd, m_settings, new (std::nothrow) CBackBmpDlg(host),
            [this](CBackBmpDlg& settings) { return settings.Create(m_hWnd); }, "窗口申请不到空间，按确认退出！",
            "创建URL窗口失败，按确认退出！"))
      return;
  } else {
    ShowWindow(m_settings->GetSafeHwnd(), SW_SHOW);
    SetForegroundWindow(m_settings->GetSafeHwnd());
  }
  RestackOverSecondary();
  EnableAll(false);
}

// 1059 to the window of the area whose record the settings window replaced.
void CMainDlg::SkinApplied(int area) {
  if (area == kAreaFunctionButtons) {
    PostMessageW(m_hWnd, WM_APPLY_SKIN, 0, 0);
    return;
  }
  HWND target = area == kAreaDirectory ? m_tabPanel
                : area == kAreaBookmarks ? m_urlPanel
                : area == kAreaPrograms  ? m_lnkPanel
                                         : m_app.Chooser();
  if (target) SendMessageW(target, WM_APPLY_SKIN, 0, 0);
}

void CMainDlg::OnCommand(UINT id, UINT code) {
  if (id >= ID_SKIN_LAST && id <= ID_SKIN_FIRST) return ChangeSkin(id);
  if (id >= ID_TOP_FIRST && id <= ID_TOP_LAST) return OpenTopVisited(id);
  switch (id) {
    case IDC_HIDE_BUTTON:
    case ID_TRAY_SHOW:
      Toggle();
      break;
    case IDC_EXIT_BUTTON:
      Exit(true);
      break;
    case ID_TRAY_EXIT:
      Exit(false);
      break;
    case IDC_FOLDER_BUTTON:
      SwitchMode();
      break;
    case IDC_SKIN_BUTTON:
      ShowMenuAtCursor(m_skinMenu.Get());
      break;
    case IDC_TOP_VISITED_BUTTON:
      ShowMenuAtCursor(m_topMenu.Get());
      break;
    case IDC_HELP_BUTTON:
      OpenHelp();
      break;
    case IDC_LOGIN_BUTTON:
      OpenLogin();
      break;
    case IDC_CHAT_BUTTON:
      OnOpenChat();
      break;
    case IDC_FILE_BOX:
      if (code == CBN_SELCHANGE) SwitchFavoritesFile();
      break;
    case ID_TRAY_ABOUT:
      AboutBox();
      break;
    case IDC_SETTINGS_BUTTON:
    case ID_TRAY_SETTINGS:
      OpenSettings();
      break;
    case ID_TRAY_CAPTURE:
      panels::ShowChooser();  // as the capture hotkey brings it up
      break;
    case ID_TRAY_UPLOAD:
    case ID_TRAY_DOWNLOAD:
    case ID_TRAY_SYNC:
      PostThreadMessageW(GetCurrentThreadId(), WM_COMMAND, id, 0);
      break;
    case IDCANCEL:
      break;  // Escape does nothing
  }
}

void CMainDlg::OnTimer(UINT_PTR id) {
  if (id == kRestackTimer) {
    KillTimer(m_hWnd, kRestackTimer);
    RestackPanels();
  } else if (CNetState* net = m_app.Net()) {
    net->OnTimer(static_cast<unsigned>(id));  // keep-alive and transfer deadline
  }
}

// The work that waits until the window is on screen and its messages flow.
// The panels and the category chooser are dialogs made hidden: the last one
// made takes the keyboard focus, and under Wine keeps it, so typing would go
// nowhere. The shown main window takes it back.
void CMainDlg::TakeKeyboardFocus() {
  HWND focus = GetFocus();
  HWND focusRoot = focus ? GetAncestor(focus, GA_ROOT) : nullptr;
  if (!IsWindowVisible(m_hWnd) || (focusRoot && IsWindowVisible(focusRoot))) return;
  SetForegroundWindow(m_hWnd);
  SetActiveWindow(m_hWnd);
  SetFocus(m_hWnd);
}

// A hidden panel or chooser being made takes the keyboard focus from where it was.
void CMainDlg::RestoreFocus(HWND focus) {
  if (focus && GetFocus() != focus && IsWindowVisible(focus)) SetFocus(focus);
}

// When the file box, the panels or the chooser cannot be made the program
// ends (the box is up, the loop's end is asked for) and no step follows: no
// links start. The panels show only over a shown window; hidden meanwhile,
// it shows them when it is shown again.
void CMainDlg::OnAfterShow(WPARAM step) {
  switch (step) {
    case kStepFileBox:
      if (!m_app.MakeFileBox()) return;
      break;
    case kStepOle:
      m_app.PrefetchSkinImages(kAreaDirectory, kAreaAddDialog);  // the panels'
      m_app.StartOle();
      MakeHiddenParts();
      break;
    case kStepPanels: {
      HWND focus = GetFocus();
      if (!m_app.MakePanels()) return;
      RestoreFocus(focus);
      break;
    }
    case kStepTabPanel:
      if (IsWindowVisible(m_hWnd)) ShowWindow(m_tabPanel, SW_SHOWNOACTIVATE);
      StartupMark("category panel shown");
      break;
    case kStepItemPanel:
      m_panelsDue = false;
      if (IsWindowVisible(m_hWnd)) ShowPanels();
      break;
    case kStepChooser: {
      HWND focus = GetFocus();
      if (!m_app.MakeChooser()) return;
      RestoreFocus(focus);
      TakeKeyboardFocus();  // a hidden window made after the first showing took it
      break;
    }
    case kStepIcons:
      AddAboutToSystemMenu();
      EnsureIcons();
      SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon.Get()));
      SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.Get()));
      EnsureCommonControls();
      StartupMark("icons");
      break;
    case kStepLinks:
      m_app.StartNetwork();
      break;
    case kStepTray:
      EnsureTray();
      StartupMark("tray after show");
      break;
    case kActivateShown:
      if (IsWindowVisible(m_hWnd)) ActivateShown();
      return;
    default:
      return;
  }
  if (step + 1 < kAfterShowSteps) PostMessageW(m_hWnd, WM_AFTER_SHOW, step + 1, 0);
}

void CMainDlg::OnApplySkin() {
  ApplySkinToButtons();
  LoadBackground();
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

// The settings window closed.
void CMainDlg::OnWindowClosed(UINT msg) {
  // A message of a settings window already replaced by a new one changes nothing.
  if (msg == WM_SETTINGS_CLOSED && m_settings && m_settings->GetSafeHwnd()) return;
  EnableAll(true);
  SetFocus(m_hWnd);
  if (msg == WM_SETTINGS_CLOSED) {
    Retire(m_settings);
    // A skin made in the window is on the menu at once.
    if (m_skinMenu.TryFree()) m_skinMenu = BuildSkinMenu(m_app.ProgramDir());
    RefreshCurrentMode();
    Hide();
    Show();
  }
}

// A chat window that is open closes first (it reports WM_CHAT_CLOSED at
// once, which deletes it); then a new one shows the current circle.
void CMainDlg::OnOpenChat() {
  if (m_chat && m_chat->GetSafeHwnd() && IsWindow(m_chat->GetSafeHwnd()))
    SendMessageW(m_chat->GetSafeHwnd(), WM_CLOSE_CHAT, 0, 0);
  Retire(m_chat);
  if (m_chatPending) {
    m_chatPending = false;
    m_tray.StopAnimation();
  }
  if (!m_app.Net()) return;
  if (!MakeWithWindow(
          m_hWnd, m_chat, new (std::nothrow) CChatDialog(m_app),
          [this](CChatDialog& chat) { return chat.Create(m_hWnd); }, "主窗口申请空间失败，按确认退出！",
          "创建主窗口失败，按确认退出！"))
    return;
  // While a box of this window waits for its answer (the one that confirms
  // a circle comes before the circle's list), the chat window comes up
  // behind it without the foreground: activated, it would lie over the box
  // (Wine raises the active window once the activation settles), and the
  // user would not see what waits for an answer.
  bool boxWaits = !IsWindowEnabled(m_hWnd);
  ShowWindow(m_chat->GetSafeHwnd(), boxWaits ? SW_SHOWNA : SW_SHOW);
  PostMessageW(m_hWnd, WM_RAISE_SECONDARY, 0, 0);
  if (boxWaits) return;
  SetForegroundWindow(m_chat->GetSafeHwnd());
  SetFocus(m_chat->Input());
}

void CMainDlg::OnChatClosed() { Retire(m_chat); }

bool CMainDlg::PassToChat(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!m_chat || !m_chat->GetSafeHwnd()) return false;
  SendMessageW(m_chat->GetSafeHwnd(), msg, wParam, lParam);
  return true;
}

// Without a web page engine (as under Wine) the banner cannot show the
// notice, and nothing is opened instead.
void CMainDlg::OnNewVersion() {
  CNetState* net = m_app.Net();
  if (!net || !m_banner.HasEngine()) return;
  m_banner.Navigate("http://" + net->Config().webHost + kUpdatePath);
  os::SleepMs(1000);
}

void CMainDlg::OpenLogin() {
  CNetState* net = m_app.Net();
  if (!net) return;
  if (m_login && m_login->GetSafeHwnd()) {
    SetForegroundWindow(m_login->GetSafeHwnd());
    return;
  }
  if (!MakeWithWindow(
          m_hWnd, m_login, new (std::nothrow) CLoginDlg(*net, m_hWnd, net->Config().webHost),
          [](CLoginDlg& login) { return login.Create(); }, "主窗口申请空间失败，按确认退出！", "创建主窗口失败，按确认退出！"))
    return;
  ShowWindow(m_login->GetSafeHwnd(), SW_SHOW);
  RaiseSecondaryWindows();
  RestackOverSecondary();
  EnableAll(false);
}

void CMainDlg::OnLoginClosed() {
  Retire(m_login);
  EnableAll(true);
  SetFocus(m_hWnd);
}

// The server's answer to the login. An accepted login names the user on
// the login button, which is then disabled, even when the window was
// cancelled before the answer came: a second login would never be sent.
void CMainDlg::OnLoginResult(WPARAM result) {
  HWND login = m_login ? m_login->GetSafeHwnd() : nullptr;
  if (result == kLoginRefused) {
    if (login) SetWindowTextW(login, W("用户名与密码不符!").c_str());
    return;
  }
  if (result != kLoginAccepted) return;
  CNetState* net = m_app.Net();
  if (net) SetDlgItemTextW(m_hWnd, IDC_LOGIN_BUTTON, W(FormatNumber(net->Login().User())).c_str());
  EnableWindow(GetDlgItem(m_hWnd, IDC_LOGIN_BUTTON), FALSE);
  if (login) {
    SetWindowTextW(login, W("登录成功!").c_str());
    UpdateWindow(login);
    os::SleepMs(680);  // long enough to be read
  }
  OnLoginClosed();
}

// The server forgot the login and it could not be renewed: the login button
// comes back, the tray's transfer entries grey out (they follow LoggedIn()),
// an open chat window is told, and the user once, in the tray.
void CMainDlg::OnSessionLost(WPARAM why) {
  SetDlgItemTextW(m_hWnd, IDC_LOGIN_BUTTON, W("登录").c_str());
  EnableWindow(GetDlgItem(m_hWnd, IDC_LOGIN_BUTTON), TRUE);
  PassToChat(WM_SESSION_LOST, why, 0);
  m_tray.ShowBalloon("Qimbo收藏", SessionLostText(why));
}

void CMainDlg::OnCategoryCreated() {
  if (m_mode != kModeWeb) return;
  CAppLogic* logic = m_app.Logic();
  CMyNode* first = logic ? logic->FirstNodeBySlot(UrlCategory) : nullptr;
  RebuildTabs(kModeWeb, first);
  ShowCategory(m_mode, first);
}

// ---- the find box ---------------------------------------------------------------

bool CMainDlg::OpenFind() {
  HWND panel = m_mode != kModeWeb ? m_lnkPanel : m_urlPanel;
  if (!panel || !IsWindowVisible(m_hWnd) || !IsWindowEnabled(m_hWnd)) return false;
  if (!m_find) m_find = std::make_unique<panels::CFindBox>();
  RECT place;
  GetWindowRect(panel, &place);
  // The upper part of the panel: room for a dozen results.
  place.bottom = std::min<LONG>(place.bottom, place.top + 320);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  return m_find->Open(m_hWnd, place, font);
}

// Ctrl+F, or a letter or digit pressed while this window, a panel or one of
// their buttons has the focus, opens the find box; the letter is typed into it.
void CMainDlg::OnKeyForFind(MSG& msg) {
  if (msg.message != WM_KEYDOWN || !msg.hwnd) return;
  if (m_find && m_find->IsOpen()) return;
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  if (root != m_hWnd && root != m_tabPanel && root != m_urlPanel && root != m_lnkPanel) return;
  // Edits (a category being renamed) keep their keys, and so does the file
  // box while its list is open. Closed, it has the focus after start: the
  // first control of this window.
  wchar_t cls[16] = {};
  GetClassNameW(msg.hwnd, cls, 16);
  bool fileBox = msg.hwnd == FileBox() && !SendMessageW(msg.hwnd, CB_GETDROPPEDSTATE, 0, 0);
  if (msg.hwnd != root && lstrcmpiW(cls, L"Button") != 0 && !fileBox) return;
  UINT vk = static_cast<UINT>(msg.wParam);
  bool ctrl = GetKeyState(VK_CONTROL) < 0, alt = GetKeyState(VK_MENU) < 0;
  bool typed = (vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9') || (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9);
  if (alt || !typed || (ctrl && vk != 'F')) return;
  if (!OpenFind()) return;
  if (ctrl) {
    msg.message = WM_NULL;
  } else {
    msg.hwnd = m_find->Edit();  // the key, translated, becomes the first character
  }
}

INT_PTR CMainDlg::DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_SIZE:
      // Back from the chooser's minimising: the panels come with the window.
      if (wParam == SIZE_RESTORED) ShowOwnedPopups(m_hWnd, TRUE);
      return FALSE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != SC_CLOSE) return FALSE;
      Hide();  // the close box hides; the exit commands end the program
      return SetResult(0);
    case WM_PAINT: OnPaint(); return TRUE;
    case WM_ERASEBKGND: return SetResult(1);
    case WM_QUERYDRAGICON:
      EnsureIcons();
      return reinterpret_cast<INT_PTR>(m_icon.Get());
    case WM_TRAY_NOTIFY: OnTrayNotify(lParam); return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) return FALSE;
      SetTimer(m_hWnd, kRestackTimer, 200, nullptr);
      // Until the file box is made the window keeps the focus itself: the
      // dialog's way would give it to the first button (as the focus comes
      // to the window; on some systems also as the window is activated).
      return !FileBox();
    case WM_SETFOCUS: return !FileBox();
    case WM_TIMER: OnTimer(wParam); return TRUE;
    case WM_RESTACK_PANELS: RestackPanels(); return TRUE;
    case WM_RAISE_SECONDARY: RaiseSecondaryWindows(); return TRUE;
    case WM_AFTER_SHOW: OnAfterShow(wParam); return TRUE;
    case WM_APPLY_SKIN: OnApplySkin(); return TRUE;
    case WM_SETTINGS_CLOSED: OnWindowClosed(msg); return TRUE;
    case WM_LOGIN_CLOSED: OnLoginClosed(); return TRUE;
    case WM_LOGIN_RESULT: OnLoginResult(wParam); return TRUE;
    case WM_SESSION_LOST: OnSessionLost(wParam); return TRUE;
    case WM_OPEN_CHAT: OnOpenChat(); return TRUE;
    case WM_NEW_VERSION: OnNewVersion(); return TRUE;
    case WM_CATEGORY_CREATED: OnCategoryCreated(); return TRUE;
    case WM_CLOSE_CHAT: PassToChat(msg, wParam, lParam); return TRUE;
    case WM_CHAT_CLOSED: OnChatClosed(); return TRUE;
    case WM_MEMBER_ADDED:
    case WM_MEMBER_CHANGED:
    case WM_MEMBER_REMOVED:
    case WM_MEMBERS_RELISTED: PassToChat(msg, wParam, lParam); return TRUE;
    case WM_CHAT_AD:
      if (!PassToChat(msg, wParam, lParam)) Flash(0, 0, false);
      return TRUE;
    case WM_CHAT_ARRIVED:
      if (!PassToChat(msg, wParam, lParam) && m_app.Config().chatTip) Flash(IDI_TRAY_FIRST, IDI_PROGRAM, true);
      return TRUE;
    case WM_PLAZA_ARRIVED:
      if (!PassToChat(WM_CHAT_ARRIVED, wParam, lParam)) Flash(IDI_PLAZA_FIRST, IDI_PLAZA_SECOND, true);
      return TRUE;
    case WM_DESTROY: DestroyPanelWindows(); return FALSE;
  }
  return FALSE;
}

}  // namespace qb

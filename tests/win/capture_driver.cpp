// Window test of the capture: Qimbo.exe in a program folder of its own, the
// stand-in browsers (fake_browser.cpp) and two local web sites, one of them
// slow (capture_server.py). The real hotkey is pressed and the chooser's tabs
// are clicked with synthesized input; the favorites file is read back after
// each step. Usage:
//   capture_driver FOLDER FAKES CONTROL SHOTS
// FOLDER holds Qimbo.exe, FAKES iexplore.exe, chrome.exe and firefox.exe,
// CONTROL the web sites' ports file, log and hold file; the screenshot of the
// chooser over a browser goes to SHOTS\chooser-over-browser.bmp.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "model/app_logic.h"
#include "base/codepage.h"
#include "os/os.h"
#include "panels/site_icon.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "win/text_win32.h"

#include "../../res/panels_ids.h"

#include "../tree_util.h"
#include "driver_kit.h"

namespace {

using qbtest::AddNodeTo;
using qbtest::CFolderModel;
using namespace drv;

std::string G(const std::wstring& w) { return qb::Gbk(w); }

std::string g_dir;  // the program folder, ending in '\'
DWORD g_pid = 0;
std::string g_control;  // the test's control folder, with the browsers' logs
HWND g_main = nullptr, g_chooser = nullptr, g_tabPanel = nullptr, g_urlPanel = nullptr;

void Settle(DWORD ms = 300) { drv::Settle(ms, {g_main, g_chooser}); }

bool MenuOpen() { return OpenMenu(g_pid) != nullptr; }
void CloseMenus() { drv::CloseMenus(g_pid); }

// The configured capture hotkey, Ctrl+Alt+Z.
void PressHotkey() {
  SendKeys({{VK_CONTROL, true}, {VK_MENU, true}, {'Z', true}, {'Z', false}, {VK_MENU, false}, {VK_CONTROL, false}});
}

HWND ChooserTab(int slot) { return GetDlgItem(g_chooser, IDC_FIRST_CHOOSER_TAB + slot); }

bool ChooserUp() { return IsWindowVisible(g_chooser) != FALSE; }

// The hotkey over a browser: the chooser comes up.

// Under load Wine may take the keyboard's state afresh from the X server
// while the keys go in, which forgets the modifiers pressed: a hotkey that
// brings nothing up is pressed once more, as a user would.
bool BringUpChooser() {
  PressHotkey();
  if (WaitUntil(ChooserUp, 4000)) return true;
  Note("the hotkey is pressed a second time; other keys the browsers saw: " + ReadFile(g_control + "chrome.log.other") +
       ReadFile(g_control + "fx.log.other"));
  PressHotkey();
  return WaitUntil(ChooserUp, 10000);
}

// ---- favorites ---------------------------------------------------------------------

std::string FavoritesPath() { return g_dir + "data\\1-我的收藏.sc"; }

struct Saved {
  CMyNodeList list;
  bool loaded = false;
  Saved() { loaded = LoadFavoritesFile(list, FavoritesPath()) != 0; }
  const CMyNode* ByAddress(const std::string& address) const {
    for (const CMyNode* n : list)
      if (n->m_nKind == UrlItem && n->m_strAddress == address) return n;
    return nullptr;
  }
  int CountAddress(const std::string& address) const {
    int c = 0;
    for (const CMyNode* n : list) c += n->m_nKind == UrlItem && n->m_strAddress == address;
    return c;
  }
};

bool SavedHas(const std::string& address) {
  Saved s;
  return s.ByAddress(address) != nullptr;
}

// ---- clipboard -----------------------------------------------------------------------

UINT g_testFormat = 0;
const char kTestBytes[] = "\x01\x02\x03 kept bytes";

bool PutUserClipboard(const std::wstring& text) {
  if (!OpenClipboard(nullptr)) return false;
  EmptyClipboard();
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes);
  memcpy(GlobalLock(g), text.c_str(), bytes);
  GlobalUnlock(g);
  SetClipboardData(CF_UNICODETEXT, g);
  HGLOBAL b = GlobalAlloc(GMEM_MOVEABLE, sizeof kTestBytes);
  memcpy(GlobalLock(b), kTestBytes, sizeof kTestBytes);
  GlobalUnlock(b);
  SetClipboardData(g_testFormat, b);
  CloseClipboard();
  return true;
}

bool ReadUserClipboard(std::wstring& text, std::string& bytes) {
  if (!OpenClipboard(nullptr)) return false;
  if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(GlobalLock(h));
    GlobalUnlock(h);
  }
  if (HANDLE h = GetClipboardData(g_testFormat)) {
    bytes.assign(static_cast<const char*>(GlobalLock(h)), GlobalSize(h));
    GlobalUnlock(h);
  }
  CloseClipboard();
  return true;
}

// ---- files ---------------------------------------------------------------------------

// A stand-in browser, up and in front.
// The first shown browser frame in Z order, as the program looks for it.
HWND TopBrowser() {
  HWND top = nullptr;
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        std::wstring cls = ClassOf(w);
        if (cls != L"IEFrame" && cls != L"Chrome_WidgetWin_1" && cls != L"MozillaWindowClass") return TRUE;
        if (!IsWindowVisible(w)) return TRUE;
        *reinterpret_cast<HWND*>(p) = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&top));
  return top;
}

HWND StartBrowser(Proc& p, const std::wstring& fakes, const wchar_t* exe, const wchar_t* kind,
                  const std::string& address, const std::string& title, const std::string& log) {
  std::wstring args = std::wstring(kind) + L" \"" + W(address) + L"\" \"" + W(title) + L"\" \"" + W(log) + L"\"";
  if (!p.Start(fakes + L"\\" + exe, args, L"")) return nullptr;
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = WindowOf(p.pi.dwProcessId, [](HWND w) { return IsWindowVisible(w) && GetWindowTextLengthW(w) > 0; });
        return found != nullptr;
      },
      10000);
  if (!found) return nullptr;
  // The program files the page of the browser frame on top: the new one
  // must be in front of the earlier stand-ins, and have the keyboard.
  SetForegroundWindow(found);
  if (!WaitUntil([&] { return GetForegroundWindow() == found && TopBrowser() == found; }, 5000)) {
    Note("the new browser is not in front: foreground " + std::to_string(GetForegroundWindow() == found) +
         ", top browser frame " + std::to_string(TopBrowser() == found));
    return nullptr;
  }
  Sleep(500);  // the window system's own focus events for it come in
  return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!drv::HasArguments(argc, 5, "capture_driver FOLDER FAKES CONTROL SHOTS")) return 2;
  g_dir = G(argv[1]) + "\\";
  std::wstring fakes = argv[2];
  std::string control = G(argv[3]) + "\\";
  g_control = control;
  std::wstring shots = argv[4];
  int quick = 0, slow = 0;
  if (sscanf(ReadFile(control + "ports").c_str(), "%d %d", &quick, &slow) != 2) {
    fprintf(stderr, "no ports from the web sites\n");
    return 1;
  }
  g_testFormat = RegisterClipboardFormatW(L"Qimbo capture test");

  // The program folder: the hotkey Ctrl+Alt+Z, two categories and one item.
  WriteConfig(g_dir, "Ctrl+Alt+Z");
  {
    CFolderModel app(g_dir);
    CMyNode* news = AddNodeTo(app, "新闻", UrlCategory, nullptr, 0);
    AddNodeTo(app, "工具", UrlCategory, nullptr, 1);
    AddNodeTo(app, "旧站", UrlItem, news, 0, "http://old.example/");
    if (!app.SaveFavorites("1-我的收藏.sc")) {
      fprintf(stderr, "cannot write the favorites file\n");
      return 1;
    }
  }

  Proc qimbo;
  if (!qimbo.Start(W(g_dir + "Qimbo.exe"), L"", W(g_dir))) {
    fprintf(stderr, "cannot start the program\n");
    return 1;
  }
  g_pid = qimbo.pi.dwProcessId;
  WaitUntil(
      [] {
        if (!(g_main = MainWindowOf(g_pid))) return false;
        g_tabPanel = WindowOf(g_pid, [](HWND w) { return GetWindow(w, GW_OWNER) == g_main && GetDlgItem(w, IDC_FIRST_TAB); });
        g_urlPanel = WindowOf(g_pid, [](HWND w) { return GetWindow(w, GW_OWNER) == g_main && GetDlgItem(w, IDC_FIRST_ITEM); });
        // The chooser: the program's other top-level dialog, owned by nobody.
        g_chooser = WindowOf(g_pid, [](HWND w) { return w != g_main && !GetWindow(w, GW_OWNER) && ClassOf(w) == L"#32770"; });
        return g_tabPanel && g_urlPanel && g_chooser;
      },
      kStartMs);
  Check(g_main && g_tabPanel && g_chooser, "the main window, its panels and the hidden chooser exist");
  if (!g_chooser) return 1;
  Check(!ChooserUp(), "the chooser starts hidden");
  Settle(1000);

  // ---- no browser window: the hotkey does nothing.
  PressHotkey();
  Settle(1500);
  Check(!ChooserUp() && !IsIconic(g_main) && IsWindowVisible(g_main), "without a browser window the hotkey does nothing");

  // ---- Internet Explorer's frame.
  std::string ieAddress = "http://127.0.0.1:" + std::to_string(quick) + "/ie/page.html";
  Proc ie;
  HWND ieWnd = StartBrowser(ie, fakes, L"iexplore.exe", L"ie", ieAddress, "Ie Page", control + "ie.log");
  Check(ieWnd != nullptr, "the IEFrame stand-in is up");
  Check(BringUpChooser(), "the hotkey over the IE frame brings the chooser up");
  RECT chooserRect = {}, panelRect = {};
  GetWindowRect(g_chooser, &chooserRect);
  GetWindowRect(g_tabPanel, &panelRect);
  Check(EqualRect(&chooserRect, &panelRect) != FALSE, "the chooser lies exactly at the category panel's place");
  Check(IsIconic(g_main) != FALSE, "the main window is minimised");
  Check(!IsWindowVisible(g_tabPanel) && !IsWindowVisible(g_urlPanel), "and its panels are not on screen");
  Settle();
  Check(Text(ChooserTab(0)) == "新闻" && Text(ChooserTab(1)) == "工具" && IsWindowVisible(ChooserTab(0)) &&
            IsWindowVisible(ChooserTab(1)),
        "the chooser shows the two web categories as tabs 2101 and 2102");
  int hidden = 0;
  for (int s = 2; s < 44; ++s) hidden += ChooserTab(s) && !IsWindowVisible(ChooserTab(s));
  Check(hidden == 42, "the other 42 tabs are hidden");
  Screenshot(G(shots) + "\\chooser-over-browser.bmp");

  ClickOn(ChooserTab(0));
  CheckSoon([&] { return SavedHas(ieAddress); }, "a click on 新闻 files the IE page, saved at once");
  {
    Saved s;
    const CMyNode* n = s.ByAddress(ieAddress);
    Check(n && n->m_strName == "ie page " && n->m_pParent && n->m_pParent->m_strName == "新闻" && n->m_nSlot == 1,
          "named from the title without the browser's suffix, in the first free button");
    if (n) Note("name '" + n->m_strName + "' slot " + std::to_string(n->m_nSlot));
  }
  Check(!ChooserUp() && !IsWindowVisible(g_main), "the capture hides the chooser and the main window");
  std::string ieIcon = panels::SiteIconFile(g_dir, ieAddress);
  CheckSoon([&] { return os::FileExists(ieIcon); }, "the site icon is fetched into images\\icon");
  // The driver reads the favorites file over and over meanwhile: the
  // program's save must not fail because the file is being read.
  bool kept = WaitUntil(
      [&] {
        Saved s;
        const CMyNode* n = s.ByAddress(ieAddress);
        return n && n->m_strIconPath == ieIcon;
      },
      20000);
  Check(kept, "the item takes the site icon, saved");
  if (!kept) {
    Saved s;
    const CMyNode* n = s.ByAddress(ieAddress);
    Note("icon path '" + (n ? n->m_strIconPath : std::string("(no item)")) + "'; the sites saw:\n" +
         ReadFile(control + "requests.log"));
  }
  std::string ieOffline = panels::OfflinePagePath(g_dir, ieAddress);
  CheckSoon([&] { return ReadFile(ieOffline).find("page /ie/page.html") != std::string::npos; },
        "the offline copy is saved under offline-page");

  // The same page into the same category again: nothing is added.
  // Soon after the first click, at the same place: the tab takes it as a
  // click, not as the second half of a double click.
  Check(BringUpChooser(), "the hotkey again");
  ClickOn(ChooserTab(0));
  CheckSoon([] { return !ChooserUp(); }, "a second click on 新闻 at once files the page again");
  Settle(800);
  {
    Saved s;
    Check(s.CountAddress(ieAddress) == 1, "capturing the same page into the same category adds nothing");
  }

  // ---- the chooser's own menu and a new category.
  Check(BringUpChooser(), "the chooser comes up for the menus");
  ClickOn(ChooserTab(0), true);
  Settle(800);
  Check(!MenuOpen(), "a right click on a slot that shows a category opens no menu");
  CloseMenus();
  RECT cr;
  GetWindowRect(g_chooser, &cr);
  ClickAt(cr.left + 40, cr.top + 2 + 30 * 5 + 14, true);  // slot 5, empty
  CheckSoon(MenuOpen, "a right click on an empty slot opens the menu");
  CloseMenus();
  Settle();
  PostMessageW(g_chooser, WM_COMMAND, ID_CHOOSER_NEW_CATEGORY, 0);
  Settle();
  HWND edit = GetDlgItem(g_chooser, IDC_NEW_CATEGORY_EDIT);
  Check(edit != nullptr, "新建分类 opens the new category's edit 2501 in the slot");
  if (edit) {
    SendMessageW(edit, WM_SETTEXT, 0, (LPARAM)W("  新 类 ").c_str());
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
  }
  Settle(600);
  Check(Text(ChooserTab(5)) == "新类" && IsWindowVisible(ChooserTab(5)), "Enter makes the category, blanks removed");
  HWND panelTab = GetDlgItem(g_tabPanel, IDC_FIRST_TAB + 5);
  Check(panelTab && Text(panelTab) == "新类", "and the main window's category panel shows it too");
  PostMessageW(g_chooser, WM_COMMAND, IDCANCEL, 0);
  Settle();
  Check(!ChooserUp(), "Escape puts the chooser away");

  // ---- a Chromium-family browser over the IE frame, and a slow site.
  std::wstring userText = W("用户自己的剪贴板 user's own text");
  Check(PutUserClipboard(userText), "the user's clipboard holds text and a format of its own");
  os::WriteWholeFile(control + "hold", "");
  std::string slowBase = "127.0.0.1:" + std::to_string(slow);
  std::string chromeAddress = "http://" + slowBase + "/slow/news.html";
  Proc chrome;
  HWND chromeWnd = StartBrowser(chrome, fakes, L"chrome.exe", L"chrome", slowBase + "/slow/news.html", "Slow News",
                                control + "chrome.log");
  Check(chromeWnd != nullptr, "the Chrome_WidgetWin_1 stand-in is up, in front of the IE frame");
  Check(BringUpChooser(), "the hotkey over it brings the chooser up");
  ClickOn(ChooserTab(1));
  CheckSoon([&] { return SavedHas(chromeAddress); },
        "a click on 工具 files the front-most browser's page, with http:// before the copied address");
  std::string requests;
  WaitUntil(
      [&] {
        requests = ReadFile(control + "requests.log");
        return requests.find("slow asked /favicon.ico") != std::string::npos;
      },
      10000);
  Check(requests.find("slow asked /favicon.ico") != std::string::npos &&
            requests.find("slow answered") == std::string::npos,
        "the item is saved while the slow site is still asked for the icon and has not answered");
  {
    Saved s;
    const CMyNode* n = s.ByAddress(chromeAddress);
    Check(n && n->m_strName == "slow news" && n->m_pParent && n->m_pParent->m_strName == "工具" && n->m_nSlot == 0,
          "named from the Chrome title without \" - Google Chrome\"");
    if (n && (n->m_strName != "slow news" || n->m_nSlot != 0))
      Note("chrome item: '" + n->m_strName + "' in slot " + std::to_string(n->m_nSlot) + " under '" +
           (n->m_pParent ? n->m_pParent->m_strName : std::string()) + "'");
    Check(n && n->m_strIconPath == g_dir + "images\\icon\\ieicon\\IE XP0.ico", "with the stock icon meanwhile");
  }
  HWND button = GetDlgItem(g_urlPanel, IDC_FIRST_ITEM);
  // The panel is hidden with the main window; the button is shown on it.
  Check(button && Text(button) == "slow news" && (GetWindowLongPtrW(button, GWL_STYLE) & WS_VISIBLE),
        "its button is on the item panel already");
  if (button && Text(button) != "slow news") Note("button 1201: '" + Text(button) + "'");
  std::wstring text;
  std::string bytes;
  Check(ReadUserClipboard(text, bytes) && text == userText && bytes == std::string(kTestBytes, sizeof kTestBytes),
        "the user's clipboard is as it was, both formats");
  // The keys reach the browser through its input queue, after the program
  // has gone on: the Escape may be logged a moment after the save.
  std::string keys;
  CheckSoon([&] {
              keys = ReadFile(control + "chrome.log");
              return keys == "ready\nCtrl+L\nCtrl+C\nEscape\n";
            },
        "the browser was sent Ctrl+L, Ctrl+C and Escape");
  if (keys != "ready\nCtrl+L\nCtrl+C\nEscape\n") Note("keys: " + keys + ReadFile(control + "chrome.log.other"));
  os::RemoveFile(control + "hold");
  std::string slowIcon = panels::SiteIconFile(g_dir, chromeAddress);
  CheckSoon([&] {
              Saved s;
              const CMyNode* n = s.ByAddress(chromeAddress);
              return n && n->m_strIconPath == slowIcon && os::FileExists(slowIcon);
            },
        "when the slow site answers, the icon comes and is saved with the item");
  CheckSoon([&] { return os::FileExists(panels::OfflinePagePath(g_dir, chromeAddress)); },
        "and the offline copy");

  // ---- Firefox.
  std::string fxAddress = "http://127.0.0.1:" + std::to_string(quick) + "/fx/a.html";
  Proc fx;
  Check(StartBrowser(fx, fakes, L"firefox.exe", L"firefox", fxAddress, "Fx Page", control + "fx.log") != nullptr,
        "the MozillaWindowClass stand-in is up");
  Check(BringUpChooser(), "the hotkey over it");
  ClickOn(ChooserTab(0));
  if (!CheckSoon([&] { return SavedHas(fxAddress); }, "its page is filed")) {
    Note("firefox keys: " + ReadFile(control + "fx.log") + ReadFile(control + "fx.log.other") +
         "chrome keys: " + ReadFile(control + "chrome.log"));
    Saved s;
    for (const CMyNode* n : s.list)
      if (n->m_nKind == UrlItem)
        Note("item '" + n->m_strName + "' " + n->m_strAddress + " in slot " + std::to_string(n->m_nSlot) +
             " under '" + (n->m_pParent ? n->m_pParent->m_strName : std::string()) + "'");
  }
  {
    Saved s;
    const CMyNode* n = s.ByAddress(fxAddress);
    Check(n && n->m_strName == "fx page" && n->m_nSlot == 2, "named without \" — Mozilla Firefox\"");
    if (n && (n->m_strName != "fx page" || n->m_nSlot != 2))
      Note("fx item: '" + n->m_strName + "' in slot " + std::to_string(n->m_nSlot) + " under '" +
           (n->m_pParent ? n->m_pParent->m_strName : std::string()) + "'");
  }

  // ---- the exit saves and ends cleanly.
  PostMessageW(g_main, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  Check(qimbo.Ended(15000), "the program ends through its exit button");
  DWORD code = 1;
  GetExitCodeProcess(qimbo.pi.hProcess, &code);
  Check(code == 0, "with exit code 0");
  for (Proc* p : {&ie, &chrome, &fx}) TerminateProcess(p->pi.hProcess, 0);

  // Kept for the command-line tool's look at the file (capture-test.sh).
  os::CopyOneFile(FavoritesPath(), control + "captured.sc", 0);

  // ---- the first start on today's Windows: no favorites, the browser's bookmarks.
  os::RemoveFile(FavoritesPath());
  os::RemoveFile(g_dir + "data\\上次收藏.bak");
  std::string local = control + "local";
  for (const char* f : {"", "\\Google", "\\Google\\Chrome", "\\Google\\Chrome\\User Data",
                        "\\Google\\Chrome\\User Data\\Default"})
    os::CreateFolder(local + f);
  os::WriteWholeFile(local + "\\Google\\Chrome\\User Data\\Default\\Bookmarks",
                     "{\"roots\":{\"bookmark_bar\":{\"children\":[{\"children\":[{\"name\":\"Bar Site\","
                     "\"type\":\"url\",\"url\":\"http://bar.example/\"}],\"name\":\"Imported\",\"type\":\"folder\"}],"
                     "\"name\":\"Bookmarks bar\",\"type\":\"folder\"}},\"version\":1}");
  SetEnvironmentVariableW(L"LOCALAPPDATA", W(local).c_str());
  Proc first;
  first.Start(W(g_dir + "Qimbo.exe"), L"", W(g_dir));
  bool imported = WaitUntil(
      [] {
        Saved s;
        return s.ByAddress("http://bar.example/") != nullptr;
      },
      30000);
  Check(imported, "a first start with an empty Favorites folder takes the Chromium bookmarks and saves them");
  if (imported) {
    Saved s;
    const CMyNode* n = s.ByAddress("http://bar.example/");
    Check(n->m_strName == "bar site" && n->m_pParent && n->m_pParent->m_strName == "Imported",
          "the folder became a category");
  }
  HWND firstMain = WaitForMainWindow(first.pi.dwProcessId);
  if (firstMain) PostMessageW(firstMain, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  Check(first.Ended(15000), "and ends through its exit button");

  return Finish();
}

// Window tests of the favorites panels: starts Qimbo.exe in a program folder
// of its own with a prepared favorites file, works the panels through window
// messages and cursor positions, and checks what they show and what the
// program saves. Usage: panels_driver Qimbo.exe [screenshot folder]
// The screenshots (panels_full_category.bmp, panels_program_folder.bmp,
// panels_find_box.bmp) are for a human look.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "model/app_logic.h"
#include "os/os.h"
#include "store/importer.h"
#include "store/node.h"
#include "win/text_win32.h"

#include "../../res/panels_ids.h"

#include "../tree_util.h"
#include "driver_kit.h"

namespace {

using qbtest::AddNodeTo;
using qbtest::CFolderModel;
using namespace drv;

DWORD g_pid = 0;
HWND g_main = nullptr, g_tab = nullptr, g_url = nullptr, g_lnk = nullptr;

void Settle(DWORD ms = 400) { drv::Settle(ms, {g_main}); }

// The window holding the mouse in the program's interface thread.
HWND CaptureOf(HWND anyWindow) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(anyWindow, nullptr), &info);
  return info.hwndCapture;
}

std::vector<HWND> OwnedWith(int control) { return drv::OwnedWith(g_pid, control); }

// A top-level dialog of the program other than the main window and panels:
// a message box or a file dialog.
HWND WaitForBox(DWORD ms = 4000) {
  return WaitForWindow(g_pid, [](HWND w) {
    return IsWindowVisible(w) && IsDialog(w) && w != g_main && w != g_tab && w != g_url && w != g_lnk;
  }, ms);
}

HWND Tab(int slot) { return GetDlgItem(g_tab, IDC_FIRST_TAB + slot); }
HWND Item(int slot) { return GetDlgItem(g_url, IDC_FIRST_ITEM + slot); }

POINT MainOrigin() {
  RECT r;
  GetWindowRect(g_main, &r);
  return POINT{r.left, r.top};
}
// Cursor at a place given from the main window's top-left corner.
void CursorAt(int x, int y) {
  POINT o = MainOrigin();
  drv::PlaceCursor(o.x + x, o.y + y);
}
void CursorOnTabSlot(int slot) { CursorAt(1 + 110 * (slot / 22) + 40, 17 + 30 * (slot % 22) + 20); }

int VisibleTabs() {
  int n = 0;
  for (int s = 0; s < 44; ++s) n += IsWindowVisible(Tab(s)) ? 1 : 0;
  return n;
}
int VisibleItems(HWND panel, int first) {
  int n = 0;
  for (int s = 0; s < 30; ++s) n += IsWindowVisible(GetDlgItem(panel, first + s)) ? 1 : 0;
  return n;
}

void Click(HWND button) {
  PostClick(button);
  Settle(350);
}
// Press, hold past the click time, move, release.
void Drag(HWND button, std::function<void()> moveCursor) {
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  // The button takes the mouse after the click time has run out.
  for (int i = 0; i < 50 && CaptureOf(button) != button; ++i) Sleep(100);
  Sleep(200);
  moveCursor();
  Sleep(100);
  PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  Settle(300);
}
void CloseMenus() { drv::CloseMenus(g_pid); }
// Right-click on a tab: its menu opens (and is closed again); the tab's
// category becomes the target of the panel's commands.
void RightClickTab(int slot) {
  PostMessageW(Tab(slot), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
  Settle(600);
  CloseMenus();
  Settle(300);
}
void RightClickEmptySlot(int slot) {
  CursorOnTabSlot(slot);
  Sleep(100);
  PostMessageW(g_tab, WM_RBUTTONDOWN, MK_RBUTTON, 0);
  Settle(600);
  CloseMenus();
  Settle(300);
}
void Command(HWND w, int id) {
  PostMessageW(w, WM_COMMAND, (WPARAM)id, 0);
  Settle(300);
}
void TypeAndEnter(HWND edit, const std::string& text) {
  SetWindowTextW(edit, W(text).c_str());
  PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
  Settle(300);
}
// Chooses a favorites file in the main window's file box, as a click in its
// list does: the selection changes, then the box tells its window.
bool ChooseFavoritesFile(const std::string& name) {
  HWND box = GetDlgItem(g_main, IDC_FILE_BOX);
  LRESULT at = SendMessageW(box, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)W(name).c_str());
  if (at == CB_ERR) {
    printf("note: no file %s in the file box\n", qb::ToUtf8(name).c_str());
    return false;
  }
  SendMessageW(box, CB_SETCURSEL, (WPARAM)at, 0);
  PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(IDC_FILE_BOX, CBN_SELCHANGE), (LPARAM)box);
  Settle(800);
  return true;
}
// OK on every message box that shows within `ms`; their texts.
std::vector<std::string> DismissBoxes(DWORD ms) {
  std::vector<std::string> texts;
  while (HWND box = WaitForBox(ms)) {
    texts.push_back(BoxText(box));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    Settle(300);
  }
  return texts;
}
// The lines the shell log got since it had `from` bytes.
std::vector<std::string> LogLinesSince(const std::string& log, size_t from) {
  std::string all;
  os::ReadWholeFile(log, all);
  std::vector<std::string> lines;
  for (size_t at = std::min(from, all.size()); at < all.size();) {
    size_t end = all.find('\n', at);
    if (end == std::string::npos) end = all.size();
    lines.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}
size_t LogSize(const std::string& log) {
  std::string all;
  os::ReadWholeFile(log, all);
  return all.size();
}
int CountContaining(const std::vector<std::string>& lines, const std::string& what) {
  int n = 0;
  for (const std::string& l : lines) n += l.find(what) != std::string::npos ? 1 : 0;
  return n;
}
HWND RenameEditAnywhere() {
  for (int s = 0; s < 44; ++s)
    if (HWND e = GetDlgItem(Tab(s), IDC_RENAME_EDIT)) return e;
  return nullptr;
}

// Fills a file dialog's name and presses its OK button.
bool AnswerFileDialog(const std::string& path) {
  HWND dlg = WaitForBox(6000);
  if (!dlg) {
    Note("no file dialog");
    return false;
  }
  Sleep(500);
  if (!drv::AnswerFileDialog(dlg, path)) {
    Note("no name box in the file dialog");
    return false;
  }
  Settle(1200);
  return true;
}

// The number of tools of the tooltip control owned by a panel (-1: none).
int ToolCount(HWND panel) {
  HWND tips = WindowOf(0, [panel](HWND w) { return GetWindow(w, GW_OWNER) == panel && ClassOf(w) == L"tooltips_class32"; });
  return tips ? (int)SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0) : -1;
}

// A 16 x 16 two-colour icon file.
std::string TinyIcon() {
  std::string f;
  auto put16 = [&f](unsigned v) { f += (char)(v & 0xFF); f += (char)(v >> 8); };
  auto put32 = [&](unsigned v) { put16(v & 0xFFFF); put16(v >> 16); };
  put16(0); put16(1); put16(1);                                   // icon directory, one image
  f += (char)16; f += (char)16; f += (char)2; f += (char)0;       // 16 x 16, 2 colours
  put16(1); put16(1); put32(40 + 8 + 64 + 64); put32(22);         // planes, bits, size, offset
  put32(40); put32(16); put32(32); put16(1); put16(1);            // header: height doubled
  put32(0); put32(64 + 64); put32(0); put32(0); put32(2); put32(0);
  put32(0); put32(0x00FFFFFF);                                    // black, white
  for (int row = 0; row < 16; ++row) put32(row % 2 ? 0xFFFFFFFF : 0);  // colour rows
  for (int row = 0; row < 16; ++row) put32(0);                         // mask: all opaque
  return f;
}


// Creates every missing folder of a path ending in '\\'.
void MakeFolders(const std::string& path) {
  for (size_t p = path.find('\\', 1); p != std::string::npos; p = path.find('\\', p + 1))
    if (p > 2 || path[1] != ':') os::CreateFolder(path.substr(0, p));
}

std::string Address(int i) { return "http://site" + std::to_string(i) + ".example/index.html"; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!drv::HasArguments(argc, 2, "panels_driver Qimbo.exe [screenshot folder]")) return 2;
  // Screenshots go beside the driver unless a folder is named.
  std::wstring shots = argc > 2 ? argv[2] : L".";

  // A program folder of its own with the program and a favorites file.
  std::string dir = os::TempFolder() + "qimbo-panels-" + std::to_string(GetTickCount()) + "\\";
  os::CreateFolder(dir.substr(0, dir.size() - 1));
  for (const char* f : {"data", "images", "images\\icon", "offline-page", "config", "skin"}) os::CreateFolder(dir + f);
  std::string exe = dir + "Qimbo.exe";
  std::string source = qb::Gbk(argv[1], wcslen(argv[1]));
  if (!source.empty() && source[0] == '/') {  // a Linux path handed through Wine
    for (char& c : source)
      if (c == '/') c = '\\';
    source = "Z:" + source;
  }
  if (!os::CopyOneFile(source, exe, 0)) {
    fprintf(stderr, "cannot copy the program %s to %s (%lu)\n", qb::ToUtf8(source).c_str(), qb::ToUtf8(exe).c_str(), GetLastError());
    return 1;
  }
  {
    CFolderModel app(dir);
    CMyNode* news = AddNodeTo(app, "新闻", UrlCategory, nullptr, 0);
    CMyNode* tools = AddNodeTo(app, "工具", UrlCategory, nullptr, 1);
    AddNodeTo(app, "空类", UrlCategory, nullptr, 3);
    for (int i = 0; i < 30; ++i) AddNodeTo(app, "站点" + std::to_string(i), UrlItem, news, i, Address(i));
    AddNodeTo(app, "tool-a", UrlItem, tools, 0, "http://tools.example/a");
    // An icon path the shell cannot take, with a like-named file under
    // images\icon: the button shows that file and the item remembers it.
    if (CMyNode* b = AddNodeTo(app, "tool-b", UrlItem, tools, 1, "http://tools.example/b"))
      b->m_strIconPath = "elsewhere\\tool-b.ico";
    os::WriteWholeFile(dir + "images\\icon\\tool-b.ico", TinyIcon());
    CMyNode* startup = AddNodeTo(app, "启动", UrlCategory, nullptr, 10);
    AddNodeTo(app, "s1", UrlItem, startup, 0, "http://start.example/1");
    AddNodeTo(app, "s2", UrlItem, startup, 1, "http://start.example/2");
    if (!app.SaveFavorites("1-我的收藏.sc")) {
      fprintf(stderr, "cannot write the favorites file\n");
      return 1;
    }
  }
  {
    // A second favorites file with other categories, and a third with none.
    CFolderModel other(dir);
    CMyNode* football = AddNodeTo(other, "足球", UrlCategory, nullptr, 0);
    AddNodeTo(other, "篮球", UrlCategory, nullptr, 5);
    AddNodeTo(other, "球场", UrlItem, football, 0, "http://ball.example/field");
    CAppLogic none;
    none.m_strProgramDir = dir;
    if (!other.SaveFavorites("2-体育.sc") || !none.SaveFavorites("3-空.sc")) {
      fprintf(stderr, "cannot write the other favorites files\n");
      return 1;
    }
  }
  // The user's desktop gets a folder of 31 files for the program folder,
  // and the Start menu folder exists, as on any Windows.
  std::string profiles = ProfilesFolder(ReadHomePath());
  std::string desktop = DesktopFolder(profiles, os::UserName());
  bool madeDesktop = !os::FileExists(desktop);
  MakeFolders(desktop);
  MakeFolders(StartMenuFolder(profiles, os::UserName()));
  MakeFolders(StartMenuFolder(profiles, "All Users"));
  std::vector<std::string> desktopFiles;
  for (int i = 0; i < 31; ++i) {
    char name[32];
    snprintf(name, sizeof name, "p%02d.txt", i);
    desktopFiles.push_back(desktop + name);
    os::WriteWholeFile(desktop + name, "x");
  }

  std::string log = dir + "shell.log";
  SetEnvironmentVariableW(L"QIMBO_SHELL_LOG", W(log).c_str());
  Proc program;
  if (!program.Start(W(exe), W(dir))) {
    fprintf(stderr, "cannot start the program\n");
    return 1;
  }
  g_pid = program.pi.dwProcessId;
  WaitUntil(
      [] {
        std::vector<HWND> tabs = OwnedWith(IDC_FIRST_TAB);
        std::vector<HWND> items = OwnedWith(IDC_FIRST_ITEM);
        if (tabs.empty() || items.empty()) return false;
        // The program folder makes its buttons when first shown: it is the
        // other dialog of the main window placed exactly over the item panel.
        RECT ri, rw;
        GetWindowRect(items[0], &ri);
        HWND progs = WindowOf(g_pid, [&](HWND w) {
          return w != items[0] && GetWindow(w, GW_OWNER) == GetWindow(items[0], GW_OWNER) && IsDialog(w) &&
                 GetWindowRect(w, &rw) && EqualRect(&ri, &rw);
        });
        if (!progs) return false;
        g_tab = tabs[0];
        g_main = GetWindow(g_tab, GW_OWNER);
        g_url = items[0];
        g_lnk = progs;
        return true;
      },
      kStartMs, 100);
  Check(g_tab && g_url && g_lnk, "the three panels exist");
  if (!g_tab) {
    for (HWND w : WindowsOf(g_pid, [](HWND) { return true; }))
      printf("window %ls %d/%d/%d visible %d owner %p: %s\n", ClassOf(w).c_str(), !!GetDlgItem(w, IDC_FIRST_TAB),
             !!GetDlgItem(w, IDC_FIRST_ITEM), !!GetDlgItem(w, IDC_FIRST_PROGRAM), IsWindowVisible(w),
             (void*)GetWindow(w, GW_OWNER), qb::ToUtf8(BoxText(w)).c_str());
    return Finish();
  }
  Settle(1500);
  if (HWND box = WaitForBox(300)) {
    Note("box at start: " + BoxText(box));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    Settle();
  }

  // The find box, with real keystrokes right after start: the main window has
  // the focus, the initials of 站点5 find it alone, Enter opens its address.
  {
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(g_main, nullptr), &gui);
    HWND focusRoot = gui.hwndFocus ? GetAncestor(gui.hwndFocus, GA_ROOT) : nullptr;
    Check(focusRoot == g_main || focusRoot == g_tab || focusRoot == g_url,
          "after start the keyboard focus is in the main window");
    if (focusRoot != g_main)
      printf("note: focus %ls in %ls (program folder %d, visible %d), active %p, main %p\n",
             drv::ClassOf(gui.hwndFocus).c_str(), drv::ClassOf(focusRoot).c_str(), focusRoot == g_lnk,
             focusRoot && IsWindowVisible(focusRoot), (void*)gui.hwndActive, (void*)g_main);
    auto press = [](const std::vector<WORD>& keys) {
      for (WORD vk : keys) {
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wVk = in[1].ki.wVk = vk;
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, in, sizeof(INPUT));
        Sleep(60);
      }
      Settle(400);
    };
    auto findBox = [] {
      return drv::WindowOf(g_pid, [](HWND w) { return drv::ClassOf(w) == L"QimboFindBox" && IsWindowVisible(w); });
    };
    size_t mark = LogSize(log);
    press({'Z', 'D'});
    if (!shots.empty()) Screenshot(qb::Gbk(shots) + "\\panels_find_box.bmp");
    press({'5'});
    HWND box = findBox();
    Check(box != nullptr, "typing a letter in the main window opens the find box");
    if (!box) {
      GetGUIThreadInfo(GetWindowThreadProcessId(g_main, nullptr), &gui);
      printf("note: foreground %p, main %p, focus %p in %ls\n", (void*)GetForegroundWindow(), (void*)g_main,
             (void*)gui.hwndFocus, drv::ClassOf(gui.hwndFocus).c_str());
      PostMessageW(gui.hwndFocus, WM_KEYDOWN, 'Z', 0);
      Settle(400);
      printf("note: a posted Z opens the box: %d\n", findBox() != nullptr);
    }
    HWND list = box ? GetDlgItem(box, IDC_FIND_LIST) : nullptr;
    Check(box && ItemText(box, IDC_FIND_EDIT) == "zd5", "the typed letters are in the box");
    Check(list && SendMessageW(list, LB_GETCOUNT, 0, 0) == 1 && SendMessageW(list, LB_GETCURSEL, 0, 0) == 0,
          "the initials find the one item, selected");
    if (box) printf("note: box text '%s', %d rows\n", qb::ToUtf8(ItemText(box, IDC_FIND_EDIT)).c_str(),
                    list ? (int)SendMessageW(list, LB_GETCOUNT, 0, 0) : -1);
    press({VK_RETURN});
    Check(!findBox(), "Enter puts the box away");
    std::vector<std::string> lines = LogLinesSince(log, mark);
    Check(CountContaining(lines, "open\t" + Address(5) + "\t3") == 1, "Enter opens the item's address as a double click does");
    // Ctrl+F opens it empty; a text that matches nothing says so; Escape closes.
    INPUT ctrl[4] = {};
    for (INPUT& in : ctrl) in.type = INPUT_KEYBOARD;
    ctrl[0].ki.wVk = ctrl[3].ki.wVk = VK_CONTROL;
    ctrl[1].ki.wVk = ctrl[2].ki.wVk = 'F';
    ctrl[2].ki.dwFlags = ctrl[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, ctrl, sizeof(INPUT));
    Settle(400);
    box = findBox();
    Check(box && ItemText(box, IDC_FIND_EDIT).empty(), "Ctrl+F opens the box empty");
    press({'Q', 'X', 'Q', 'X'});
    Check(box && IsWindowVisible(GetDlgItem(box, IDC_FIND_NONE)) && !IsWindowVisible(GetDlgItem(box, IDC_FIND_LIST)),
          "no result says so in the box");
    press({VK_ESCAPE});
    Check(!findBox() && IsWindow(g_main), "Escape puts the box away");
  }

  // Tooltips, made once the panels are up: one tool per tab and item button shown.
  Check(ToolCount(g_tab) == 4 && ToolCount(g_url) == 30, "tabs and item buttons have their tooltips");
  if (ToolCount(g_tab) != 4 || ToolCount(g_url) != 30) printf("note: tools %d, %d\n", ToolCount(g_tab), ToolCount(g_url));

  // Start-up time: the hidden program folder has no buttons yet.
  Check(!GetDlgItem(g_lnk, IDC_FIRST_PROGRAM), "the program folder makes its buttons only when first shown");

  // Tabs and items as the file has them.
  Check(VisibleTabs() == 4, "four categories give four tabs");
  {
    std::string opened;
    os::ReadWholeFile(log, opened);
    size_t first = opened.find("open\thttp://start.example/1\t3\n");
    Check(first != std::string::npos && opened.find("http://start.example/1", first + 30) == std::string::npos &&
              opened.find("open\thttp://start.example/2\t3\n") != std::string::npos,
          "the start-up group opens each of its items once");
  }
  Check(Text(Tab(0)) == "新闻" && Text(Tab(1)) == "工具" && Text(Tab(3)) == "空类", "tab captions");
  Check(VisibleItems(g_url, IDC_FIRST_ITEM) == 30, "the first category shows its 30 items");
  if (!shots.empty()) Screenshot(qb::Gbk(shots) + "\\panels_full_category.bmp");

  Click(Tab(1));
  Check(VisibleItems(g_url, IDC_FIRST_ITEM) == 2 && Text(Item(0)) == "tool-a", "clicking a tab shows its items");

  // A press held past the click time drags the tab to a free slot.
  Drag(Tab(1), [] { CursorOnTabSlot(5); });
  Check(!IsWindowVisible(Tab(1)) && IsWindowVisible(Tab(5)) && Text(Tab(5)) == "工具", "a tab dragged to a free slot");
  // A drop on an occupied slot changes nothing.
  Drag(Tab(5), [] { CursorOnTabSlot(0); });
  Check(IsWindowVisible(Tab(5)) && Text(Tab(5)) == "工具" && Text(Tab(0)) == "新闻", "a drop on an occupied slot");

  // A tab dropped on the item panel stays where it was.
  Drag(Tab(5), [] { CursorAt(500, 300); });
  Check(IsWindowVisible(Tab(5)) && Text(Tab(5)) == "工具", "a tab dropped on the item panel stays");

  // An item dragged onto another category moves there.
  Click(Tab(0));
  Drag(Item(7), [] { CursorOnTabSlot(5); });
  Check(VisibleItems(g_url, IDC_FIRST_ITEM) == 29 && !IsWindowVisible(Item(7)), "an item dragged onto a category leaves");
  Click(Tab(5));
  Check(VisibleItems(g_url, IDC_FIRST_ITEM) == 3 && Text(Item(7)) == "站点7", "and shows in that category, same slot");

  // Export the category, rename it in place, then import the file elsewhere.
  std::string bookmark = dir + "tools.qimbop";
  RightClickTab(5);
  Command(g_tab, ID_EXPORT_CATEGORY);
  Check(AnswerFileDialog(bookmark) && os::FileExists(bookmark), "export writes the bookmark file");

  RightClickTab(5);
  Command(g_tab, ID_RENAME_CATEGORY);
  HWND edit = GetDlgItem(Tab(5), IDC_RENAME_EDIT);
  Check(edit != nullptr && Text(edit) == "工具", "rename opens an edit holding the caption");
  if (edit) TypeAndEnter(edit, "a <b> c");
  Check(Text(Tab(5)) == "abc" && !GetDlgItem(Tab(5), IDC_RENAME_EDIT), "rename in place cleans the name");
  RightClickTab(5);
  Command(g_tab, ID_RENAME_CATEGORY);
  edit = GetDlgItem(Tab(5), IDC_RENAME_EDIT);
  if (edit) TypeAndEnter(edit, "x");
  Check(Text(Tab(5)) == "abc", "a one-byte name is refused");
  // A rename also ends when the edit loses the focus to another tab.
  RightClickTab(5);
  Command(g_tab, ID_RENAME_CATEGORY);
  edit = GetDlgItem(Tab(5), IDC_RENAME_EDIT);
  if (edit) SendMessageW(edit, WM_SETTEXT, 0, (LPARAM)L"abcd");
  Click(Tab(0));
  Check(edit && Text(Tab(5)) == "abcd" && !GetDlgItem(Tab(5), IDC_RENAME_EDIT), "a rename ends on loss of focus");
  RightClickTab(5);
  Command(g_tab, ID_RENAME_CATEGORY);
  edit = GetDlgItem(Tab(5), IDC_RENAME_EDIT);
  if (edit) TypeAndEnter(edit, "abc");

  RightClickEmptySlot(8);
  Command(g_tab, ID_IMPORT_CATEGORY);
  Check(AnswerFileDialog(bookmark), "import asks for a bookmark file");
  Check(IsWindowVisible(Tab(8)) && Text(Tab(8)) == "工具", "the import lands in the right-clicked slot");

  // A new category typed in place.
  RightClickEmptySlot(23);
  Command(g_tab, ID_NEW_CATEGORY);
  edit = GetDlgItem(g_tab, IDC_NEW_CATEGORY_EDIT);
  Check(edit != nullptr, "a new category opens an edit in the slot");
  if (edit) TypeAndEnter(edit, "  x y ");
  Check(IsWindowVisible(Tab(23)) && Text(Tab(23)) == "xy", "the new category is named without blanks");
  // Enter commits a new category also when a tab was right-clicked before
  // (and its menu closed without a command).
  RightClickTab(0);
  RightClickEmptySlot(24);
  Command(g_tab, ID_NEW_CATEGORY);
  edit = GetDlgItem(g_tab, IDC_NEW_CATEGORY_EDIT);
  if (edit) TypeAndEnter(edit, "回车");
  Check(edit && IsWindowVisible(Tab(24)) && Text(Tab(24)) == "回车" && !GetDlgItem(g_tab, IDC_NEW_CATEGORY_EDIT),
        "Enter commits the new category after an earlier right click on a tab");
  if (GetDlgItem(g_tab, IDC_NEW_CATEGORY_EDIT)) Click(Tab(0));

  // A category with items is not deleted.
  RightClickTab(0);
  Command(g_tab, ID_DELETE_CATEGORY);
  HWND box = WaitForBox();
  Check(box && BoxText(box).find("此类下还有子项") != std::string::npos, "deleting a category with items is refused");
  if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
  Settle();
  Check(IsWindowVisible(Tab(0)), "and the category stays");
  RightClickTab(3);
  Command(g_tab, ID_DELETE_CATEGORY);
  Check(!IsWindowVisible(Tab(3)), "an empty category is deleted");

  // The item menu's delete takes a bookmark off its page.
  Click(Tab(8));
  int before = VisibleItems(g_url, IDC_FIRST_ITEM);
  PostMessageW(Item(1), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
  Settle(600);
  CloseMenus();
  Command(g_url, ID_DELETE_ITEM);
  Check(before == 3 && VisibleItems(g_url, IDC_FIRST_ITEM) == 2 && !IsWindowVisible(Item(1)),
        "deleting a bookmark from its menu");

  // "Open all" with no web page engine (none runs under Wine here): each
  // bookmark of the category is opened once, maximised.
  {
    size_t mark = LogSize(log);
    RightClickTab(8);
    Command(g_tab, ID_OPEN_ALL);
    std::vector<std::string> boxes = DismissBoxes(1500);
    Settle(500);
    std::vector<std::string> lines = LogLinesSince(log, mark);
    int a = CountContaining(lines, "http://tools.example/a"), b = CountContaining(lines, Address(7));
    Check(a == 1 && b == 1 && CountContaining(lines, "http://tools.example/a\t3") == 1,
          "open all opens each bookmark once");
    if (a != 1 || b != 1)
      for (const std::string& l : lines) printf("note: opened %s\n", l.c_str());
    for (const std::string& t : boxes) printf("note: box during open all: %s\n", qb::ToUtf8(t).c_str());
  }

  // A double click opens the address and counts the visit.
  Click(Tab(0));
  PostMessageW(Item(2), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  Settle(800);
  std::string opened;
  os::ReadWholeFile(log, opened);
  Check(opened.find("open\t" + Address(2) + "\t3") != std::string::npos, "a double click opens the address maximised");
  if (opened.find(Address(2)) == std::string::npos)
    printf("note: shell log '%s', item 2 '%s'\n", opened.c_str(), qb::ToUtf8(Text(Item(2))).c_str());

  // The program folder: 31 files give 30 buttons.
  PostMessageW(g_main, WM_COMMAND, IDC_FOLDER_BUTTON, 0);
  Settle(1500);
  Check(IsWindowVisible(g_lnk) && VisibleItems(g_lnk, IDC_FIRST_PROGRAM) == 30, "a folder of 31 files shows 30 buttons");
  Check(ItemText(g_lnk, IDC_FIRST_PROGRAM) == "p00.txt", "program buttons are captioned with the file name");
  if (!shots.empty()) Screenshot(qb::Gbk(shots) + "\\panels_program_folder.bmp");
  PostMessageW(g_main, WM_COMMAND, IDC_FOLDER_BUTTON, 0);
  Settle(800);

  // Nodes the tree frees while windows hold them. A rename is open in a
  // right-clicked tab when another favorites file is chosen: the edit goes
  // with its category, and Enter renames nothing.
  RightClickTab(5);
  Command(g_tab, ID_RENAME_CATEGORY);
  edit = GetDlgItem(Tab(5), IDC_RENAME_EDIT);
  Check(edit != nullptr, "a rename is open before the file switch");
  Check(ChooseFavoritesFile("2-体育"), "the second favorites file is chosen");
  Check(Text(Tab(0)) == "足球" && Text(Tab(5)) == "篮球" && VisibleTabs() == 2, "the second file's tabs show");
  if (VisibleTabs() != 2 || Text(Tab(5)) != "篮球")
    printf("note: %d tabs, tab 0 '%s', tab 5 '%s'\n", VisibleTabs(), qb::ToUtf8(Text(Tab(0))).c_str(),
           qb::ToUtf8(Text(Tab(5))).c_str());
  Check(!RenameEditAnywhere(), "the rename edit of a category of the old file is closed by the switch");
  if (HWND stale = RenameEditAnywhere()) TypeAndEnter(stale, "改名");
  Check(Text(Tab(5)) == "篮球" && IsWindow(g_main), "Enter in that edit renames nothing");
  // The category menu's commands after the switch have no category: a
  // rename opens no edit, a search has an empty query, a tab click is a click.
  RightClickTab(0);
  Check(ChooseFavoritesFile("1-我的收藏"), "back to the first file");
  Command(g_tab, ID_RENAME_CATEGORY);
  Check(!RenameEditAnywhere(), "a rename after the switch opens no edit");
  {
    size_t mark = LogSize(log);
    Command(g_tab, ID_SEARCH_TOPICS);
    DismissBoxes(1500);
    Settle(600);
    std::vector<std::string> lines = LogLinesSince(log, mark);
    Check(CountContaining(lines, "open\thttp://so.qimbo.net/s?tn=siteqb4k&word=\t3") == 1,
          "a search after the switch asks with an empty query");
    if (CountContaining(lines, "so.qimbo.net") != 1)
      for (const std::string& l : lines) printf("note: opened %s\n", l.c_str());
  }
  Click(Tab(0));
  Check(IsWindow(g_main) && Text(Tab(0)) == "新闻", "a tab click after the switch");
  // A file without a web category: no item button is left from the last one,
  // and a double click where one was opens nothing.
  Check(VisibleItems(g_url, IDC_FIRST_ITEM) == 29, "the first category's items show before the switch");
  Check(ChooseFavoritesFile("3-空"), "a file without categories is chosen");
  Check(VisibleTabs() == 0 && VisibleItems(g_url, IDC_FIRST_ITEM) == 0, "no tab and no item button is left");
  {
    size_t mark = LogSize(log);
    PostMessageW(Item(2), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    Settle(800);
    Check(LogLinesSince(log, mark).empty() && IsWindow(g_main), "a double click where an item was opens nothing");
  }

  // Exit through the exit button: the program saves the favorites.
  PostMessageW(g_main, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  if (!program.Ended(15000)) {
    if (HWND b = WaitForBox(300)) Note("box at exit: " + BoxText(b));
    program.Kill();
    Check(false, "the program ends through its exit button");
  }
  Check(program.ExitCode() == 0, "the program ends cleanly");
  {
    CFolderModel saved(dir);
    Check(saved.LoadFavorites(dir + "data\\1-我的收藏.sc") == 1, "the saved favorites load");
    CMyNode* visited = nullptr;
    CMyNode* moved = nullptr;
    for (CMyNode* n : saved) {
      if (n->m_strName == "站点2") visited = n;
      if (n->m_strName == "站点7" && n->m_pParent && n->m_pParent->m_strName == "abc") moved = n;
    }
    Check(visited && visited->m_nVisits == 1, "the double-clicked item counts one visit");
    CMyNode* found = nullptr;
    for (CMyNode* n : saved)
      if (n->m_strName == "站点5") found = n;
    Check(found && found->m_nVisits == 1, "the item opened from the find box counts its visit");
    CMyNode* iconed = nullptr;
    for (CMyNode* n : saved)
      if (n->m_strName == "tool-b") iconed = n;
    Check(iconed && iconed->m_strIconPath == dir + "images\\icon\\tool-b.ico",
          "an item shown once remembers its icon file under images\\icon");
    if (iconed && iconed->m_strIconPath != dir + "images\\icon\\tool-b.ico")
      printf("note: icon path '%s'\n", iconed->m_strIconPath.c_str());
    Check(moved && moved->m_pParent && moved->m_pParent->m_strName == "abc", "the dragged item is saved in its new category");
    CMyNode* renamed = saved.FindNode("abc", UrlCategory);
    Check(renamed && renamed->m_nSlot == 5, "the renamed, moved category is saved at its slot");
    Check(saved.FindNode("xy", UrlCategory) && !saved.FindNode("空类", UrlCategory), "new and deleted categories saved");
    Check(saved.FindNode("回车", UrlCategory) != nullptr, "the category committed by Enter is saved");
    Check(!saved.FindNode("改名", UrlCategory) && !saved.FindNode("足球", UrlCategory), "the other file's categories stay there");
  }

  for (const std::string& f : desktopFiles) os::RemoveFile(f);
  if (madeDesktop) os::RemoveFolder(desktop.substr(0, desktop.size() - 1));
  return Finish();
}

// Window test of the item editor: starts Qimbo.exe in a laid-out program
// folder with a favorites file of its own, opens "编辑网址信息" from the item
// menu, works its controls, and checks the windows and the saved favorites;
// a restart shows the edit again. Usage:
//   edit_driver PROGRAM-FOLDER SHOT-FOLDER
// The favorites file is left in the program folder for the script around
// this driver, which reads it with qimbo-tool. The screenshot
// editor_dialog.bmp is for a human look.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/app_logic.h"
#include "os/os.h"
#include "store/node.h"
#include "win/text_win32.h"

#include "../../res/panels_ids.h"
#include "../../res/url_edit_ids.h"

#include "../tree_util.h"
#include "driver_kit.h"

namespace {

using qbtest::AddNodeTo;
using qbtest::CFolderModel;
using namespace drv;

std::string U(const std::string& gbk) { return qb::ToUtf8(gbk); }

DWORD g_pid = 0;
HWND g_main = nullptr, g_tab = nullptr, g_url = nullptr;

void Settle(DWORD ms = 400) { drv::Settle(ms, {g_main}); }

HWND Editor() {
  return WindowOf(g_pid, [](HWND w) { return IsWindowVisible(w) && IsDialog(w) && Caption(w) == "编辑网址信息"; });
}
HWND WaitForEditor(DWORD ms = 4000) { return WaitForWindow(g_pid, [](HWND w) { return w == Editor(); }, ms); }

// A visible dialog of the program other than the editor and the panels: a
// message box or a file dialog.
HWND WaitForBox(DWORD ms = 4000) {
  return WaitForWindow(g_pid, [](HWND w) {
    return IsWindowVisible(w) && IsDialog(w) && w != g_main && w != g_tab && w != g_url && w != Editor();
  }, ms);
}

HWND Tab(int slot) { return GetDlgItem(g_tab, IDC_FIRST_TAB + slot); }
HWND Item(int slot) { return GetDlgItem(g_url, IDC_FIRST_ITEM + slot); }
int VisibleItems() {
  int n = 0;
  for (int s = 0; s < 30; ++s) n += IsWindowVisible(Item(s)) ? 1 : 0;
  return n;
}
void Click(HWND button) {
  PostClick(button);
  Settle(350);
}
// A push button or check box pressed as a click on it does.
void Press(HWND dlg, int id) {
  PostMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
  Settle(400);
}
// Types into an edit as the keyboard does: everything selected, then the characters.
void Type(HWND edit, const std::string& text) {
  SendMessageW(edit, EM_SETSEL, 0, -1);
  std::wstring wide = W(text);
  for (wchar_t c : wide) PostMessageW(edit, WM_CHAR, c, 1);
  Settle(300);
}

// Opens the item menu on a bookmark and chooses "修改(&M)" by its key.
HWND EditFromMenu(int slot) {
  PostMessageW(Item(slot), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
  HWND menu = nullptr;
  if (!WaitUntil([&] { return (menu = OpenMenu(g_pid)) != nullptr; }, 4000, 100)) return nullptr;
  Sleep(200);
  PostMessageW(menu, WM_KEYDOWN, 'M', 0);
  PostMessageW(menu, WM_CHAR, 'm', 0);
  return WaitForEditor();
}

bool AnswerFileDialog(const std::string& path) {
  HWND dlg = WaitForBox(6000);
  if (!dlg) return false;
  Sleep(500);
  if (!drv::AnswerFileDialog(dlg, path)) return false;
  Settle(1200);
  return true;
}

// Starts the program and waits for its category and item panels.
bool Start(const std::string& dir, Proc& p) {
  if (!p.Start(W(dir + "Qimbo.exe"), W(dir))) return false;
  g_pid = p.pi.dwProcessId;
  g_main = g_tab = g_url = nullptr;
  WaitUntil(
      [] {
        std::vector<HWND> tabs = OwnedWith(g_pid, IDC_FIRST_TAB), urls = OwnedWith(g_pid, IDC_FIRST_ITEM);
        g_tab = tabs.empty() ? nullptr : tabs[0];
        g_url = urls.empty() ? nullptr : urls[0];
        return g_tab && g_url && IsWindowVisible(g_url);
      },
      kStartMs, 100);
  if (!g_tab || !g_url) return false;
  g_main = GetWindow(g_tab, GW_OWNER);
  Settle(1500);
  // A notice at start (no server to reach) is not what is tested here.
  if (HWND box = WaitForBox(300)) {
    Note("box at start: " + BoxText(box));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    Settle();
  }
  return true;
}

bool Exit(Proc& p) {
  PostMessageW(g_main, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  bool ended = p.Ended(15000);
  p.Kill();
  g_main = g_tab = g_url = nullptr;
  return ended;
}

CMyNode* Named(CAppLogic& app, const std::string& name) {
  for (CMyNode* n : app)
    if (n->m_strName == name) return n;
  return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!drv::HasArguments(argc, 3, "edit_driver PROGRAM-FOLDER SHOT-FOLDER")) return 2;
  std::string dir = qb::Gbk(argv[1], wcslen(argv[1]));
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  std::wstring shots = argv[2];
  std::string favorites = dir + "data\\1-我的收藏.sc";
  std::string stockIcon;
  // The program itself is the new icon: a file of the dialog's filter, with
  // capitals in its name.
  std::string icon = dir + "Qimbo.EXE";
  {
    CFolderModel app(dir);
    CMyNode* news = AddNodeTo(app, "新闻", UrlCategory, nullptr, 0);
    AddNodeTo(app, "工具", UrlCategory, nullptr, 1);
    AddNodeTo(app, "音乐", UrlCategory, nullptr, 2);
    CMyNode* one = AddNodeTo(app, "page one", UrlItem, news, 0, "http://one.example/");
    AddNodeTo(app, "page two", UrlItem, news, 1, "http://two.example/");
    if (!one) return 1;
    one->m_strNote = "<>";
    stockIcon = one->m_strIconPath;
    one->m_nVisits = 7;
    if (!app.SaveFavorites("1-我的收藏.sc")) {
      fprintf(stderr, "cannot write the favorites file\n");
      return 1;
    }
  }
  SetEnvironmentVariableW(L"QIMBO_SHELL_LOG", W(dir + "shell.log").c_str());

  Proc p;
  Check(Start(dir, p), "the program starts with its panels");
  if (!g_url) {
    p.Kill();
    return 1;
  }
  Check(VisibleItems() == 2 && Text(Item(0)) == "page one", "the first category shows its two bookmarks");

  // ---- opening: every field from the bookmark ----------------------------------
  HWND ed = EditFromMenu(0);
  Check(ed != nullptr, "the item menu's edit command (M) opens the editor");
  if (!ed) {
    // Go on through the command itself, to test the editor all the same.
    CloseMenus(g_pid);
    Settle();
    PostMessageW(g_url, WM_COMMAND, ID_EDIT_ITEM, 0);
    ed = WaitForEditor();
  }
  if (!ed) {
    Exit(p);
    Check(false, "the editor opens");
    return Finish();
  }
  Settle(600);
  Check(!IsWindowEnabled(g_main) && !IsWindowEnabled(g_url), "the main window and the panels are disabled while it is open");
  Check(ItemText(ed, IDC_EDIT_NAME) == "page one" && ItemText(ed, IDC_EDIT_ADDRESS) == "http://one.example/",
        "name and address are shown");
  Check(ItemText(ed, IDC_EDIT_NOTE).empty(), "a note of <> is shown empty");
  Check(ItemText(ed, IDC_EDIT_VISITS) == "7", "the visits are shown");
  std::string last = ItemText(ed, IDC_EDIT_LAST_VISIT);
  Check(last.size() > 12 && last.find("年") == 4 && last.find("日,") != std::string::npos, "the last visit reads 年月日,time");
  HWND box = GetDlgItem(ed, IDC_EDIT_CATEGORY);
  {
    std::vector<std::string> entries;
    LRESULT count = SendMessageW(box, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t t[64] = {};
      SendMessageW(box, CB_GETLBTEXT, (WPARAM)i, (LPARAM)t);
      entries.push_back(qb::Gbk(std::wstring(t)));
    }
    Check(entries == std::vector<std::string>({"新闻", "工具", "音乐"}) && SendMessageW(box, CB_GETCURSEL, 0, 0) == 0,
          "the category list in tree order, the parent selected");
  }
  Check(!stockIcon.empty() && ItemText(ed, IDC_EDIT_ICON_PATH) == stockIcon, "the icon path is shown");
  printf("note: icon path %s, last visit %s\n", U(ItemText(ed, IDC_EDIT_ICON_PATH)).c_str(), U(last).c_str());
  Check(IsDlgButtonChecked(ed, IDC_EDIT_CIRCLE) == BST_UNCHECKED && IsDlgButtonChecked(ed, IDC_EDIT_SCRIPT) == BST_UNCHECKED,
        "script and circle boxes clear");
  SetForegroundWindow(ed);
  Settle(500);
  Screenshot(qb::Gbk(shots) + "\\editor_dialog.bmp");

  // ---- a new icon, then cancel: the icon path stays --------------------------------
  PostMessageW(GetDlgItem(ed, IDC_EDIT_CHANGE_ICON), BM_CLICK, 0, 0);
  Check(AnswerFileDialog(icon), "更换图标 asks for a file");
  std::string lowered = icon;
  for (char& c : lowered)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  Check(ItemText(ed, IDC_EDIT_ICON_PATH) == lowered, "the chosen path is shown in lower case");
  if (ItemText(ed, IDC_EDIT_ICON_PATH) != lowered)
    printf("note: shown '%s', wanted '%s'\n", U(ItemText(ed, IDC_EDIT_ICON_PATH)).c_str(), U(lowered).c_str());
  Press(ed, IDC_EDIT_CANCEL);
  Check(!IsWindow(ed) && !Editor(), "cancel closes the editor");
  Check(IsWindowEnabled(g_main) && IsWindowEnabled(g_url), "and the main window works again");
  {
    CFolderModel saved(dir);
    Check(saved.LoadFavorites(favorites) == 1, "the favorites file loads after the cancel");
    CMyNode* one = Named(saved, "page one");
    Check(one && one->m_strIconPath == lowered, "the icon path survives the cancel, saved at the editor's close");
    Check(one && one->m_strNote.empty(), "the <> note is stored empty");
    Check(one && one->m_pParent && one->m_pParent->m_strName == "新闻", "a cancel moves nothing");
  }

  // ---- 加入圈子 while logged out: the login box, nothing saved ----------------------
  ed = EditFromMenu(0);
  Check(ed != nullptr, "the editor opens a second time");
  if (ed) {
    std::string before = ReadFile(favorites);
    Type(GetDlgItem(ed, IDC_EDIT_NAME), "changed");
    Press(ed, IDC_EDIT_CIRCLE);
    PostMessageW(GetDlgItem(ed, IDC_EDIT_SAVE), BM_CLICK, 0, 0);
    HWND login = WaitForBox();
    Check(login && BoxText(login) == "您还未登录,登录后才能加入圈子！", "ticking 加入圈子 logged out shows the login box");
    if (login) {
      Check(GetWindow(login, GW_OWNER) == ed, "the box belongs to the editor");
      PostMessageW(login, WM_COMMAND, IDOK, 0);
    }
    Settle(600);
    Check(IsWindow(ed) && IsWindowVisible(ed), "the editor stays open");
    Check(ReadFile(favorites) == before && Text(Item(0)) == "page one", "nothing is saved");
    Press(ed, IDC_EDIT_CANCEL);
    Check(!IsWindow(ed), "cancel after the box closes the editor");
  }

  // ---- the edit: name, address, note, category, script ---------------------------
  ed = EditFromMenu(0);
  Check(ed != nullptr, "the editor opens a third time");
  if (ed) {
    Check(IsDlgButtonChecked(ed, IDC_EDIT_CIRCLE) == BST_UNCHECKED, "the refused circle left no mark");
    Type(GetDlgItem(ed, IDC_EDIT_NAME), "My Page: One?");
    Type(GetDlgItem(ed, IDC_EDIT_ADDRESS), " http://one.example/ new page ");
    Type(GetDlgItem(ed, IDC_EDIT_NOTE), "Hello <World>");
    // Two steps down the category list, as the arrow keys do.
    HWND list = GetDlgItem(ed, IDC_EDIT_CATEGORY);
    PostMessageW(list, WM_KEYDOWN, VK_DOWN, 1);
    PostMessageW(list, WM_KEYDOWN, VK_DOWN, 1);
    Settle(300);
    Check(SendMessageW(list, CB_GETCURSEL, 0, 0) == 2, "the arrow keys choose the third category");
    Press(ed, IDC_EDIT_SCRIPT);
    Press(ed, IDC_EDIT_SAVE);
    Check(!IsWindow(ed) && !Editor(), "save closes the editor");
    Check(IsWindowEnabled(g_main), "and the main window works again");
    Check(VisibleItems() == 1 && !IsWindowVisible(Item(0)) && Text(Item(1)) == "page two",
          "the old category is shown again without the moved bookmark");
    if (VisibleItems() != 1 || IsWindowVisible(Item(0)))
      printf("note: %d items shown, first '%s' %s, second '%s'\n", VisibleItems(), U(Text(Item(0))).c_str(),
             IsWindowVisible(Item(0)) ? "visible" : "hidden", U(Text(Item(1))).c_str());
    Click(Tab(2));
    Check(VisibleItems() == 1 && Text(Item(0)) == "my page one", "the new category shows it, cleaned");
    CFolderModel saved(dir);
    saved.LoadFavorites(favorites);
    CMyNode* one = Named(saved, "my page one");
    Check(one && one->m_strAddress == "http://one.example/newpage" && one->m_strNote == "hello world" &&
              one->m_bScript == 1 && one->m_pParent && one->m_pParent->m_strName == "音乐",
          "the save is in the favorites file at once");
  }

  // Escape in a field cancels, Enter saves (the default button).
  ed = EditFromMenu(0);
  if (ed) {
    Type(GetDlgItem(ed, IDC_EDIT_NAME), "typed then escaped");
    PostMessageW(GetDlgItem(ed, IDC_EDIT_NAME), WM_KEYDOWN, VK_ESCAPE, 1);
    Settle(500);
    Check(!IsWindow(ed) && Text(Item(0)) == "my page one", "Escape cancels the edit");
  }
  ed = EditFromMenu(0);
  if (ed) {
    PostMessageW(GetDlgItem(ed, IDC_EDIT_NOTE), WM_KEYDOWN, VK_RETURN, 1);
    Settle(500);
    Check(!IsWindow(ed) && IsWindowEnabled(g_main) && Text(Item(0)) == "my page one", "Enter saves");
  }
  // Closing the window is a cancel.
  ed = EditFromMenu(0);
  if (ed) {
    PostMessageW(ed, WM_CLOSE, 0, 0);
    Settle(400);
    Check(!IsWindow(ed) && IsWindowEnabled(g_main) && Text(Item(0)) == "my page one", "closing the window cancels");
  }

  Check(Exit(p), "the program ends through its exit button");

  // ---- a restart shows the edit ----------------------------------------------------
  Proc again;
  Check(Start(dir, again), "the program starts again");
  if (g_url) {
    Click(Tab(2));
    Check(VisibleItems() == 1 && Text(Item(0)) == "my page one", "after a restart the edited bookmark is in its new category");
    Click(Tab(0));
    Check(VisibleItems() == 1 && Text(Item(1)) == "page two", "and gone from the old one");
    Check(Exit(again), "the second run ends");
  }
  return Finish();
}

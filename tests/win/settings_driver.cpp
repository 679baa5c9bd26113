// Window test of the settings window from outside: Qimbo.exe in a program
// folder of its own and a stand-in Internet Explorer (fake_browser.cpp), so
// that the capture hotkey has a browser to bring the chooser up for. Real
// key presses go into the hotkey edit, real clicks confirm and cancel; the
// configuration and the skin files are read back, and a second start shows
// that the changes stayed. Usage:
//   settings_driver FOLDER FAKES SHOTS
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "model/app_logic.h"
#include "os/font.h"
#include "os/os.h"
#include "skin/config.h"
#include "skin/skin.h"
#include "store/node.h"
#include "win/text_win32.h"

#include "../../res/settings_ids.h"

#include "driver_kit.h"

namespace {

using namespace drv;

std::string G(const std::wstring& w) { return qb::Gbk(w); }

std::string g_dir;
DWORD g_pid = 0;
HWND g_main = nullptr, g_chooser = nullptr;

void Settle(DWORD ms = 300) { drv::Settle(ms, {g_main, g_chooser}); }

// Keys pressed, then a pause for them to arrive.
void Keys(std::initializer_list<std::pair<WORD, bool>> keys) {
  SendKeys(keys);
  Sleep(200);
}
void PressOldHotkey() {
  Keys({{VK_CONTROL, true}, {VK_MENU, true}, {'Z', true}, {'Z', false}, {VK_MENU, false}, {VK_CONTROL, false}});
}
void PressNewHotkey() {
  Keys({{VK_CONTROL, true}, {VK_SHIFT, true}, {VK_F5, true}, {VK_F5, false}, {VK_SHIFT, false}, {VK_CONTROL, false}});
}

void Click(HWND w) {
  ClickOn(w);
  Sleep(300);
}

qb::SkinSet StoredSkin(const std::string& name = "") {
  qb::SkinSet s;
  qb::ResetSkins(s);
  qb::LoadSkin(g_dir, name, s, nullptr);
  return s;
}

const char kTitle[] = "当前热键及皮肤设置";

// A settings window of the program on screen.
bool IsSettingsWindow(HWND w) { return IsWindowVisible(w) && IsDialog(w) && GetDlgItem(w, IDC_SET_HOTKEY) != nullptr; }
std::vector<HWND> SettingsWindows() { return WindowsOf(g_pid, IsSettingsWindow); }
HWND OpenSettings(UINT command = IDC_SETTINGS_BUTTON) {
  if (command == IDC_SETTINGS_BUTTON)
    ClickOn(GetDlgItem(g_main, command));  // pressed as a user does
  else
    PostMessageW(g_main, WM_COMMAND, command, 0);
  HWND dlg = WaitForWindow(g_pid, IsSettingsWindow);
  Settle();
  return dlg;
}
bool Gone(HWND dlg) {
  return WaitUntil([&] { return !IsWindow(dlg); }, 15000);
}
bool ChooserUp() { return IsWindowVisible(g_chooser) != FALSE; }
void PutChooserAway() {
  PostMessageW(g_chooser, WM_COMMAND, IDCANCEL, 0);
  WaitUntil([] { return !ChooserUp(); }, 5000);
  ShowWindow(g_main, SW_RESTORE);
  Settle(500);
}

bool StartProgram(Proc& qimbo) {
  if (!qimbo.Start(W(g_dir + "Qimbo.exe"), L"", W(g_dir))) return false;
  g_pid = qimbo.pi.dwProcessId;
  g_main = g_chooser = nullptr;
  return WaitUntil(
      [] {
        if (!(g_main = MainWindowOf(g_pid))) return false;
        g_chooser = WindowOf(g_pid, [](HWND w) { return w != g_main && !GetWindow(w, GW_OWNER) && ClassOf(w) == L"#32770"; });
        return g_chooser != nullptr;
      },
      30000);
}

std::string ConfiguredHotkey() {
  qb::ConfigSettings c;
  c.hotkeyText = "";
  qb::LoadConfig(g_dir, c);
  return c.hotkeyText;
}

// A dialog of the platform that the settings window opened, once it is up.
HWND PickerOf(HWND dlg) {
  HWND picker = WaitForWindow(g_pid, [dlg](HWND w) {
    return w != dlg && IsWindowVisible(w) && ClassOf(w) == L"#32770" && GetWindow(w, GW_OWNER) == dlg;
  });
  Sleep(500);
  return picker;
}

// The platform's colour picker of the settings window: the first of its
// basic colours clicked, then OK.
bool PickFirstBasicColour(HWND dlg) {
  HWND picker = PickerOf(dlg);
  if (!picker) return false;
  HWND basic = GetDlgItem(picker, 720);
  if (!basic) return false;
  RECT r;
  GetWindowRect(basic, &r);
  ClickAt(r.left + 6, r.top + 5);
  Sleep(300);
  Click(GetDlgItem(picker, IDOK));
  return WaitUntil([&] { return !IsWindow(picker); }, 5000);
}

// The area list dropped by a click and moved by the arrow keys.
void MoveArea(HWND dlg, WORD key, int steps) {
  Click(GetDlgItem(dlg, IDC_SET_AREA));
  for (int i = 0; i < steps; ++i) Keys({{key, true}, {key, false}});
  Keys({{VK_RETURN, true}, {VK_RETURN, false}});
  Settle();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!drv::HasArguments(argc, 4, "settings_driver FOLDER FAKES SHOTS")) return 2;
  g_dir = G(argv[1]) + "\\";
  std::wstring fakes = argv[2];
  std::wstring shots = argv[3];

  os::WriteWholeFile(g_dir + "config\\MyConfig.ini",
                     "[HOTKEY]\r\nFavoriteKey=Ctrl+Alt+Z\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=Ctrl+Enter\r\n[END]");
  {
    CAppLogic app;
    app.m_strProgramDir = g_dir;
    app.m_strBaseDir = g_dir;
    CMyNode* n = new CMyNode("新闻", UrlCategory, nullptr, 0);
    if (!app.AddNode(n) || !app.SaveFavorites("1-我的收藏.sc")) {
      fprintf(stderr, "cannot write the favorites file\n");
      return 1;
    }
  }

  Proc browser;
  std::wstring log = W(g_dir + "ie.log");
  if (!browser.Start(fakes + L"\\iexplore.exe", L"ie \"http://127.0.0.1:9/\" \"Page\" \"" + log + L"\"", L"")) {
    fprintf(stderr, "cannot start the stand-in browser\n");
    return 1;
  }
  Proc qimbo;
  Check(StartProgram(qimbo), "the program is up with its main window and the hidden chooser");
  if (!g_chooser) return 1;
  Settle(1000);
  int oldFlat = StoredSkin()[2].m_nFlat;

  // ---- opening
  HWND dlg = OpenSettings();
  Check(dlg != nullptr, "the 设置 button (1009) opens the settings window");
  if (!dlg) return 1;
  Check(Text(dlg) == kTitle, "titled 当前热键及皮肤设置");
  bool over = WaitUntil([] { return OwnedUnder(g_main).empty(); }, kPatienceMs);
  Check(over, "no panel lies under the main window" + OwnedUnder(g_main));
  Check(ItemText(dlg, IDC_SET_HOTKEY) == "Ctrl+Alt+Z", "the hotkey edit shows the configured hotkey");
  Check(SendMessageW(GetDlgItem(dlg, IDC_SET_AREA), CB_GETCURSEL, 0, 0) == 2, "the bookmark area (2) is selected");
  Check(IsWindowVisible(GetDlgItem(dlg, IDC_SET_TEXT_SAMPLE)) && !IsWindowVisible(GetDlgItem(dlg, IDC_SET_BUTTON_SAMPLE)),
        "with the transparent sample");
  bool hidden = true;
  for (int id : {IDC_SET_HOVER_BACK, IDC_SET_NORMAL_BACK, IDC_SET_PRESSED_BACK, IDC_SET_PRESSED_TEXT})
    hidden = hidden && !IsWindowVisible(GetDlgItem(dlg, id));
  Check(hidden, "and the four background-area buttons hidden");
  Check(!IsWindowEnabled(g_main), "the main window waits while it is open");
  Screenshot(G(shots) + "\\settings-dialog.bmp");
  PostMessageW(g_main, WM_COMMAND, 32809, 0);
  Settle(800);
  Check(SettingsWindows().size() == 1, "the tray's 设置 (32809) opens no second window");

  // ---- the hotkey edit under real keys
  HWND edit = GetDlgItem(dlg, IDC_SET_HOTKEY);
  Click(edit);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  Keys({{VK_OEM_PERIOD, true}, {VK_OEM_PERIOD, false}});
  Settle();
  Check(Text(edit) == ".", "a plain key outside 0-9, A-Z and F2-F11 goes to the edit as typing");
  PressNewHotkey();
  Settle();
  Check(Text(edit) == "Shift + Ctrl + F5", "Ctrl+Shift+F5 in the hotkey edit shows \"Shift + Ctrl + F5\"");
  if (Text(edit) != "Shift + Ctrl + F5") Note("the edit shows '" + Text(edit) + "'");
  Click(GetDlgItem(dlg, IDC_SET_FLAT));
  Click(GetDlgItem(dlg, IDC_SET_CONFIRM));
  Check(Gone(dlg), "确认生效 closes the window");
  Settle(500);
  Check(IsWindowEnabled(g_main) != FALSE, "and the main window takes input again (1058)");
  Check(ConfiguredHotkey() == "Shift+Ctrl+F5", "the configuration file holds FavoriteKey=Shift+Ctrl+F5");
  Check(StoredSkin()[2].m_nFlat == !oldFlat, "the bookmark area's flat flag is saved in skin\\MySkin.db");

  PressOldHotkey();
  Settle(1500);
  Check(!ChooserUp(), "the old hotkey Ctrl+Alt+Z no longer brings the chooser up");
  PressNewHotkey();
  CheckSoon(ChooserUp, "the new hotkey Shift+Ctrl+F5 brings the chooser up");
  PutChooserAway();

  // ---- cancel after a key: the old hotkey stays
  dlg = OpenSettings(32809);
  Check(dlg != nullptr, "the tray's 设置 opens the window");
  if (!dlg) return 1;
  edit = GetDlgItem(dlg, IDC_SET_HOTKEY);
  Click(edit);
  Keys({{VK_CONTROL, true}, {VK_MENU, true}, {'Q', true}, {'Q', false}, {VK_MENU, false}, {VK_CONTROL, false}});
  Settle();
  Check(Text(edit) == "Ctrl + Alt + Q", "Ctrl+Alt+Q is captured as \"Ctrl + Alt + Q\"");
  Click(GetDlgItem(dlg, IDC_SET_CANCEL));
  Check(Gone(dlg), "取消 closes the window");
  Settle(500);
  Check(ConfiguredHotkey() == "Shift+Ctrl+F5", "the configuration keeps Shift+Ctrl+F5");
  Keys({{VK_CONTROL, true}, {VK_MENU, true}, {'Q', true}, {'Q', false}, {VK_MENU, false}, {VK_CONTROL, false}});
  Settle(1500);
  Check(!ChooserUp(), "the cancelled Ctrl+Alt+Q does nothing");
  PressNewHotkey();
  CheckSoon(ChooserUp, "the old hotkey is registered again and works");
  PutChooserAway();

  // ---- a colour from the platform's picker: dropped by a switch of area, kept by confirm
  qb::Colour hoverBefore = StoredSkin()[1].m_clrHoverText;
  dlg = OpenSettings();
  if (!dlg) return 1;
  MoveArea(dlg, VK_UP, 1);
  Check(SendMessageW(GetDlgItem(dlg, IDC_SET_AREA), CB_GETCURSEL, 0, 0) == 1 &&
            IsWindowVisible(GetDlgItem(dlg, IDC_SET_HOVER_BACK)) && IsWindowVisible(GetDlgItem(dlg, IDC_SET_BUTTON_SAMPLE)),
        "the directory area (1) shows the background colour buttons and the button sample");
  Click(GetDlgItem(dlg, IDC_SET_HOVER_TEXT));
  Check(PickFirstBasicColour(dlg), "the hover text colour button opens the colour picker, OK closes it");
  MoveArea(dlg, VK_DOWN, 2);
  Check(SendMessageW(GetDlgItem(dlg, IDC_SET_AREA), CB_GETCURSEL, 0, 0) == 3 &&
            !IsWindowVisible(GetDlgItem(dlg, IDC_SET_HOVER_BACK)) && IsWindowVisible(GetDlgItem(dlg, IDC_SET_TEXT_SAMPLE)),
        "the program area (3) hides them and shows the transparent sample");
  MoveArea(dlg, VK_UP, 2);
  Click(GetDlgItem(dlg, IDC_SET_CONFIRM));
  Check(Gone(dlg), "confirm closes the window");
  Check(StoredSkin()[1].m_clrHoverText == hoverBefore, "the colour chosen before switching area was dropped");
  dlg = OpenSettings();
  if (!dlg) return 1;
  MoveArea(dlg, VK_UP, 1);
  Click(GetDlgItem(dlg, IDC_SET_HOVER_TEXT));
  PickFirstBasicColour(dlg);
  Click(GetDlgItem(dlg, IDC_SET_CONFIRM));
  Check(Gone(dlg), "confirm closes the window");
  qb::Colour hoverAfter = StoredSkin()[1].m_clrHoverText;
  Check(hoverAfter != hoverBefore, "a colour chosen and confirmed in the same area is saved");
  Note("hover text colour of area 1: " + std::to_string(hoverBefore) + " -> " + std::to_string(hoverAfter));

  // ---- the platform's font picker and file dialog for the bookmark area
  dlg = OpenSettings();
  if (!dlg) return 1;
  Click(GetDlgItem(dlg, IDC_SET_FONT));
  HWND picker = PickerOf(dlg);
  Check(picker != nullptr, "改字体 opens the font picker");
  if (picker) Click(GetDlgItem(picker, IDOK));
  CheckSoon([&] { return !IsWindow(picker); }, "and OK closes it");
  Settle();
  std::string face = ItemText(dlg, IDC_SET_TEXT_SAMPLE);
  Check(!face.empty() && face.find("透明样板") == std::string::npos, "the transparent sample then shows the face name alone");
  std::string image = g_dir + "skin\\汽车Qimbo\\sel.jpg";  // not the area's picture yet
  Check(ItemText(dlg, IDC_SET_IMAGE_PATH) != image, "the bookmark area's picture is another one");
  Click(GetDlgItem(dlg, IDC_SET_IMAGE));
  picker = PickerOf(dlg);
  Check(picker != nullptr, "更换该区背景图 opens the file dialog");
  if (picker) {
    SendMessageW(GetDlgItem(picker, 0x47C), WM_SETTEXT, 0, (LPARAM)W(image).c_str());
    Click(GetDlgItem(picker, IDOK));
  }
  CheckSoon([&] { return !IsWindow(picker); }, "and OK takes the file");
  Settle();
  Check(ItemText(dlg, IDC_SET_IMAGE_PATH) == image, "the path box shows the chosen picture");
  if (ItemText(dlg, IDC_SET_IMAGE_PATH) != image) Note("path box: " + ItemText(dlg, IDC_SET_IMAGE_PATH));
  Click(GetDlgItem(dlg, IDC_SET_CONFIRM));
  Check(Gone(dlg), "confirm closes the window");
  {
    qb::SkinSet stored = StoredSkin();
    Check(stored[2].m_strImagePath == image, "the bookmark area's picture is saved");
    Check(stored[2].m_font && os::FaceName(stored[2].m_font->Desc()) == face, "and its font, " + face);
  }

  // ---- a named skin, the window answering during the pauses
  dlg = OpenSettings();
  if (!dlg) return 1;
  SendMessageW(GetDlgItem(dlg, IDC_SET_SKIN_NAME), WM_SETTEXT, 0, (LPARAM)L"My Skin.url");
  Click(GetDlgItem(dlg, IDC_SET_MAKE_SKIN));
  std::string making = std::string(kTitle) + "--正在生成皮肤...";
  std::string title;
  bool answered = WaitUntil([&] { return AskText(dlg, title, 500) && title == making; }, 3000);
  Check(answered, "during the save the window answers with the title " + making);
  Sleep(1500);
  std::string later;
  Check(AskText(dlg, later, 500) && later == making, "and still answers seconds later, half-way through");
  Check(ItemText(dlg, IDC_SET_PROGRESS) == "正在生成皮肤...", "the progress box shows 正在生成皮肤...");
  Check(!IsWindowEnabled(GetDlgItem(dlg, IDC_SET_CONFIRM)) && !IsWindowEnabled(GetDlgItem(dlg, IDC_SET_CANCEL)),
        "确认生效 and 取消 are disabled meanwhile");
  Screenshot(G(shots) + "\\settings-making-skin.bmp");
  PostMessageW(dlg, WM_CLOSE, 0, 0);
  Sleep(300);
  Check(IsWindow(dlg) != FALSE, "the close box cannot end it half-way");
  Check(Gone(dlg), "the window goes when the skin is made");
  Settle(800);
  std::string folder = g_dir + "skin\\my skin\\";
  Check(os::FileExists(folder + "MySkin.db"), "skin\\my skin\\MySkin.db is there");
  // The five areas' pictures, two of them one file since the bookmark area took sel.jpg.
  int images = 0, copied = 0;
  for (const qb::SkinStyle& area : StoredSkin()) {
    std::string file = area.m_strImagePath.substr(area.m_strImagePath.rfind('\\') + 1);
    ++images;
    copied += os::FileExists(folder + file) && ReadFile(folder + file) == ReadFile(area.m_strImagePath);
  }
  Check(images == 5 && copied == 5, "with copies of the pictures of all five areas");
  if (copied != 5) Note("pictures copied: " + std::to_string(copied));

  // The skin menu lists it: its command (4000 down, in the folder's order)
  // makes it the current skin.
  std::vector<os::DirEntry> entries;
  os::ListFolder(g_dir + "skin\\", "*.", entries);
  UINT id = 4000, mine = 0;
  for (size_t i = 1; i < entries.size(); ++i) {
    if (entries[i].name == "." || entries[i].name == ".." || !entries[i].isFolder) continue;
    if (entries[i].name == "my skin") mine = id;
    --id;
  }
  Check(mine != 0, "the skin folder lists my skin");
  PostMessageW(g_main, WM_COMMAND, mine, 0);
  Settle(1500);
  Check(StoredSkin()[0].m_strImagePath == folder + "main.jpg", "the skin menu's entry for my skin makes it the current skin");

  // ---- a restart keeps it all
  PostMessageW(g_main, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  Check(qimbo.Ended(15000), "the program ends through its exit button");
  Proc again;
  Check(StartProgram(again), "and starts again");
  Settle(1500);
  PressOldHotkey();
  Settle(1500);
  Check(!ChooserUp(), "after the restart Ctrl+Alt+Z does nothing");
  PressNewHotkey();
  CheckSoon(ChooserUp, "and Shift+Ctrl+F5 brings the chooser up");
  PutChooserAway();
  dlg = OpenSettings();
  if (dlg) {
    Check(ItemText(dlg, IDC_SET_HOTKEY) == "Shift+Ctrl+F5", "the settings window shows Shift+Ctrl+F5");
    Check((SendMessageW(GetDlgItem(dlg, IDC_SET_FLAT), BM_GETCHECK, 0, 0) == BST_CHECKED) ==
              (StoredSkin()[2].m_nFlat != 0),
          "and the bookmark area's flat box as saved");
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    Check(Gone(dlg), "the close box closes it");
  }
  PostMessageW(g_main, WM_COMMAND, IDC_EXIT_BUTTON, 0);
  Check(again.Ended(15000), "the program ends");
  TerminateProcess(browser.pi.hProcess, 0);

  return Finish();
}

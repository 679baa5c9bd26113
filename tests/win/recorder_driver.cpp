// Window test of the script recorder through the running program: Qimbo.exe
// in a laid-out program folder (with Movrec.dll and the script folders), a
// favorites file with the items Mail, Bank and Shop, and a target window of
// the driver's own that logs every key and click it gets. The item menu's
// "录制机器人脚本" records synthesized input typed into the target; a double
// click on the item later replays it into the target. Then the program runs
// with a broken, a foreign and no Movrec.dll. Usage:
//   recorder_driver FOLDER CONTROL SHOTS
// The favorites file is copied into CONTROL after the steps (for qimbo-tool);
// SHOTS gets recorder.bmp, the recorder with a tooltip showing.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "os/os.h"
#include "script/script_file.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "win/text_win32.h"

#include "../../res/panels_ids.h"
#include "../../res/resource.h"
#include "../../res/script_ids.h"
#include "../tree_util.h"

#include "driver_kit.h"

namespace {

using namespace drv;

// ---- the target window: its own thread, logging keys and clicks -----------------------

struct Logged {
  UINT msg;
  WPARAM key;  // virtual key of key messages
  int x, y;    // client position of button messages
  DWORD tick;
};
CRITICAL_SECTION g_logLock;
std::vector<Logged> g_log, g_sentinelLog;
HWND g_target = nullptr, g_sentinel = nullptr;
const int kTargetX = 760, kTargetY = 560, kTargetW = 380, kTargetH = 260;

LRESULT CALLBACK LoggingProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  std::vector<Logged>& log = w == g_sentinel ? g_sentinelLog : g_log;
  UINT kind = msg == WM_SYSKEYDOWN ? WM_KEYDOWN : msg == WM_SYSKEYUP ? WM_KEYUP : msg;
  switch (msg) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      EnterCriticalSection(&g_logLock);
      log.push_back({kind, wp, 0, 0, GetTickCount()});
      LeaveCriticalSection(&g_logLock);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      EnterCriticalSection(&g_logLock);
      log.push_back({msg, 0, (short)LOWORD(lp), (short)HIWORD(lp), GetTickCount()});
      LeaveCriticalSection(&g_logLock);
      return 0;
    case WM_MOUSEACTIVATE:
      return MA_ACTIVATE;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

DWORD WINAPI WindowThread(LPVOID ready) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = LoggingProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"RecorderTarget";
  wc.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
  RegisterClassW(&wc);
  g_target = CreateWindowExW(WS_EX_TOPMOST, L"RecorderTarget", L"login page", WS_POPUP | WS_BORDER | WS_VISIBLE,
                             kTargetX, kTargetY, kTargetW, kTargetH, nullptr, nullptr, wc.hInstance, nullptr);
  // A window that stands where the recorder was, to catch a click replayed there.
  g_sentinel = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"RecorderTarget", L"sentinel", WS_POPUP, 0, 0, 10,
                               10, nullptr, nullptr, wc.hInstance, nullptr);
  SetEvent(static_cast<HANDLE>(ready));
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}

std::vector<Logged> Log(bool sentinel = false) {
  EnterCriticalSection(&g_logLock);
  std::vector<Logged> copy = sentinel ? g_sentinelLog : g_log;
  LeaveCriticalSection(&g_logLock);
  return copy;
}
void ClearLogs() {
  EnterCriticalSection(&g_logLock);
  g_log.clear();
  g_sentinelLog.clear();
  LeaveCriticalSection(&g_logLock);
}
std::vector<Logged> Only(const std::vector<Logged>& log, UINT a, UINT b) {
  std::vector<Logged> out;
  for (const Logged& l : log)
    if (l.msg == a || l.msg == b) out.push_back(l);
  return out;
}

// ---- synthesized input ----------------------------------------------------------------

LONG Absolute(int v, int origin, int extent) { return (LONG)(((long long)(v - origin) * 65536 + extent - 1) / extent); }
void MouseInput(int x, int y, DWORD flags) {
  INPUT in = {};
  in.type = INPUT_MOUSE;
  in.mi.dx = Absolute(x, GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  in.mi.dy = Absolute(y, GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
  in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
  SendInput(1, &in, sizeof in);
}
// Wine may still deliver pointer motion from an earlier place (the X
// pointer's, which input sent by SendInput does not always move): the move is
// made again until the position reads back, twice in a row.
void MoveTo(int x, int y) {
  int steady = 0;
  for (int i = 0; i < 60 && steady < 2; ++i) {
    POINT at;
    if (GetCursorPos(&at) && at.x == x && at.y == y) {
      ++steady;
    } else {
      steady = 0;
      SetCursorPos(x, y);  // moves the X pointer too, which SendInput alone may not
      MouseInput(x, y, 0);
    }
    Sleep(20);
  }
  if (steady < 2) Note("the pointer did not stay at " + std::to_string(x) + "," + std::to_string(y));
}
// A click the recorder's hook sees as the mouse makes it: the moves there, then the buttons.
void ClickMovingTo(int x, int y, bool right = false) {
  MoveTo(x, y);
  MouseInput(x, y, right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
  Sleep(40);
  MouseInput(x, y, right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
  Sleep(40);
}
void ClickTarget(int cx, int cy, bool right = false) {
  POINT p = {cx, cy};
  ClientToScreen(g_target, &p);
  ClickMovingTo(p.x, p.y, right);
}
void Key(WORD vk, bool up) {
  SendKeys({{vk, !up}});
  Sleep(30);
}
void Type(WORD vk) {
  Key(vk, false);
  Key(vk, true);
}

// ---- the program ----------------------------------------------------------------------

std::string g_dir;  // the program folder, ending in '\'
std::string g_control, g_shots;
std::string ShellLog() { return g_dir + "shell.log"; }
std::string FavoritesPath() { return g_dir + "data\\1-我的收藏.sc"; }
std::string ScriptPath(const std::string& name) { return g_dir + "script\\url\\" + name; }
struct Program {
  drv::Proc proc;
  DWORD pid = 0;
  HWND main = nullptr, url = nullptr, tab = nullptr;

  bool Start() {
    SetEnvironmentVariableW(L"QIMBO_SHELL_LOG", W(ShellLog()).c_str());
    if (!proc.Start(W(g_dir + "Qimbo.exe"), W(g_dir))) return false;
    pid = proc.pi.dwProcessId;
    bool up = WaitUntil(
        [this] {
          url = Owned(IDC_FIRST_ITEM);
          tab = Owned(IDC_FIRST_TAB);
          main = url ? GetWindow(url, GW_OWNER) : nullptr;
          return main && tab && IsWindowVisible(Item(0));
        },
        kStartMs);
    Settle(800);
    return up;
  }
  HWND Owned(int control) {
    std::vector<HWND> all = OwnedWith(pid, control);
    return all.empty() ? nullptr : all[0];
  }
  HWND Item(int slot) const { return GetDlgItem(url, IDC_FIRST_ITEM + slot); }
  // Lets the program handle what was posted to it.
  void Settle(DWORD ms = 300) const { drv::Settle(ms, {main}); }
  bool Alive() { return !proc.Ended(0) && IsWindow(main); }
  // The first top-level window of the program that passes the test.
  HWND Window(const std::function<bool(HWND)>& test) { return drv::WindowOf(pid, test); }
  HWND Recorder() {
    return Window([](HWND w) { return IsWindowVisible(w) && GetDlgItem(w, IDC_SCRIPT_STATUS) != nullptr; });
  }
  // A message box or any other dialog that is not one of the known windows.
  HWND Box() {
    return Window([this](HWND w) {
      return IsWindowVisible(w) && ClassOf(w) == L"#32770" && w != main && w != url && w != tab &&
             !GetDlgItem(w, IDC_SCRIPT_STATUS) && !GetDlgItem(w, IDC_FIRST_PROGRAM);
    });
  }
  // Boxes that came up on their own (not from what a test does next): noted and closed.
  void CloseStrayBoxes() {
    for (int i = 0; i < 5; ++i) {
      HWND b = Box();
      if (!b) return;
      Note("a box came up: " + BoxText(b));
      PostMessageW(b, WM_COMMAND, IDOK, 0);
      Settle(300);
    }
  }
  // What a double click on the item in `slot` brings up within 3 s (null: no box).
  HWND BoxAfterDoubleClick(int slot) {
    CloseStrayBoxes();
    DoubleClick(slot);
    HWND box = nullptr;
    WaitUntil([&] { return (box = Box()) != nullptr; }, 3000);
    if (box) Note("box: " + BoxText(box));
    return box;
  }
  HWND VisibleTip() {
    return Window([](HWND w) { return IsWindowVisible(w) && ClassOf(w) == L"tooltips_class32"; });
  }
  void CloseMenus() { drv::CloseMenus(pid); }
  // The item menu's "录制机器人脚本": on an item after a right click on its
  // button, or (slot -1) with no item chosen. The recorder that comes up.
  HWND Record(int slot) {
    if (slot >= 0) {
      PostMessageW(Item(slot), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
      Settle(600);
      CloseMenus();
      Settle(200);
    }
    PostMessageW(url, WM_COMMAND, ID_RECORD_SCRIPT, 0);
    HWND rec = nullptr;
    WaitUntil([&] { return (rec = Recorder()) != nullptr; }, 5000);
    Settle(300);
    return rec;
  }
  void Press(HWND rec, int id) {
    PostMessageW(rec, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(rec, id));
    Settle(300);
  }
  bool CloseRecorder(HWND rec) {
    PostMessageW(rec, WM_CLOSE, 0, 0);
    bool gone = WaitUntil([&] { return !IsWindow(rec); }, 5000);
    Settle(500);
    return gone;
  }
  void DoubleClick(int slot) { PostMessageW(Item(slot), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5)); }
  // Through the exit button: the favorites are saved and the program ends.
  bool Exit() {
    PostMessageW(main, WM_COMMAND, IDC_EXIT_BUTTON, 0);
    if (!proc.Ended(15000)) {
      if (HWND b = Box()) Note("box at exit: " + BoxText(b));
      proc.Kill();
      return false;
    }
    return proc.ExitCode() == 0;
  }
};

bool Enabled(HWND rec, int id) { return IsWindowEnabled(GetDlgItem(rec, id)) != FALSE; }
std::string Status(HWND rec) { return Text(GetDlgItem(rec, IDC_SCRIPT_STATUS)); }

// The tooltip of a recorder button, as the user sees it: the pointer goes
// away until no tip shows, then rests on the button.
std::string TipOf(Program& p, HWND rec, int id) {
  RECT r;
  GetWindowRect(GetDlgItem(rec, id), &r);
  MoveTo(640, 300);
  WaitUntil([&] { return !p.VisibleTip(); }, 3000);
  int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
  HWND tip = nullptr;
  // Every move starts the tip's wait again: one move, then rest. (Right after
  // a replay, Wine may put the pointer back where the last click was for a
  // few seconds: the move is made again.)
  for (int i = 0; i < 6 && !tip; ++i) {
    MoveTo(x + i % 2, y);
    WaitUntil([&] { return (tip = p.VisibleTip()) != nullptr; }, 2500);
    POINT at;
    if (!tip && GetCursorPos(&at)) Note("no tip yet, the pointer at " + std::to_string(at.x) + "," + std::to_string(at.y));
  }
  if (!tip) {
    POINT at;
    GetCursorPos(&at);
    HWND under = WindowFromPoint(at);
    Note("no tip: cursor " + std::to_string(at.x) + "," + std::to_string(at.y) + " over the button " +
         std::to_string(under == GetDlgItem(rec, id)) + ", recorder in front " + std::to_string(GetForegroundWindow() == rec) +
         ", under class " + qb::Gbk(ClassOf(under)));
  }
  return tip ? Text(tip) : std::string("(no tooltip)");
}

// The names of every file in the four script folders.
std::set<std::string> ScriptFiles() {
  std::set<std::string> names;
  for (const char* folder : {"script\\url\\", "script\\url_dir\\", "script\\lnk\\", "script\\lnk_dir\\"}) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(W(g_dir + folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) continue;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(folder + qb::Gbk(std::wstring(fd.cFileName)));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  return names;
}

int ScriptFlag(const std::string& name) {
  CMyNodeList list;
  if (!LoadFavoritesFile(list, FavoritesPath())) return -1;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem && n->m_strName == name) return n->m_bScript;
  return -1;
}

void KeepFavorites(const std::string& as) { os::CopyOneFile(FavoritesPath(), g_control + as, 0); }

int CountEvents(const qb::Script& s, uint8_t type) {
  int n = 0;
  for (const qb::ScriptEvent& e : s.events) n += e.type == type;
  return n;
}

// The input recorded into the target on the Mail page: a click into the
// name box, "Q", a pause, Shift+M, a right click on the button.
// One click into the target recorded and stopped: the item's script has
// that click, in `mode` (1: with the mouse trail, 2: without).
bool RecordOneClick(Program& p, HWND rec, const std::string& item, int mode) {
  SetForegroundWindow(g_target);
  ClickTarget(60, 60);
  p.Press(rec, IDC_SCRIPT_STOP_RECORD);
  qb::Script s;
  return qb::LoadScriptFile(ScriptPath(item), s) == 1 && s.mode == mode &&
         (CountEvents(s, qb::kMouseMove) > 0) == (mode == 1) && CountEvents(s, qb::kButtonDown) == 1;
}

void TypeLogin() {
  SetForegroundWindow(g_target);
  Sleep(200);
  ClickTarget(40, 50);
  Sleep(150);
  Type('Q');
  Sleep(300);
  Key(VK_SHIFT, false);
  Type('M');
  Key(VK_SHIFT, true);
  Sleep(200);
  ClickTarget(300, 210, true);
  Sleep(200);
}

// The replay of a double click on the item in `slot` reaches the target as
// `recorded` did; nothing lands where the recorder stood.
void CheckReplay(Program& p, int slot, const std::vector<Logged>& recorded, DWORD scriptMs, const std::string& what) {
  ClearLogs();
  size_t opened = ReadFile(ShellLog()).size();
  p.DoubleClick(slot);
  // The program waits 1100 ms after opening the page; then the script's own time.
  size_t want = Only(recorded, WM_KEYDOWN, WM_KEYUP).size();
  WaitUntil([&] { return Only(Log(), WM_RBUTTONUP, WM_RBUTTONUP).size() >= 1 && Only(Log(), WM_KEYDOWN, WM_KEYUP).size() >= want; },
            1100 + scriptMs + 6000);
  Sleep(500);
  p.Settle();
  std::vector<Logged> got = Log();
  Check(ReadFile(ShellLog()).size() > opened, what + ": the double click opens the page");
  std::vector<Logged> keysRec = Only(recorded, WM_KEYDOWN, WM_KEYUP), keys = Only(got, WM_KEYDOWN, WM_KEYUP);
  bool sameKeys = keys.size() == keysRec.size();
  for (size_t i = 0; sameKeys && i < keys.size(); ++i)
    sameKeys = keys[i].msg == keysRec[i].msg && keys[i].key == keysRec[i].key;
  Check(sameKeys && keys.size() == 6, what + ": the target gets the same keys in the same order");
  if (!sameKeys)
    for (const Logged& l : got) Note("replayed message " + std::to_string(l.msg) + " key " + std::to_string(l.key));
  std::vector<Logged> downsRec = Only(recorded, WM_LBUTTONDOWN, WM_RBUTTONDOWN),
                      downs = Only(got, WM_LBUTTONDOWN, WM_RBUTTONDOWN);
  bool sameClicks = downs.size() == 2 && downsRec.size() == 2;
  for (size_t i = 0; sameClicks && i < 2; ++i)
    sameClicks = downs[i].msg == downsRec[i].msg && downs[i].x == downsRec[i].x && downs[i].y == downsRec[i].y;
  Check(sameClicks && downs[0].x == 40 && downs[0].y == 50 && downs[1].x == 300 && downs[1].y == 210,
        what + ": the clicks land at the same places");
  for (const Logged& d : downs) Note("replayed click at " + std::to_string(d.x) + "," + std::to_string(d.y));
  // The gap from "Q" to Shift was 300 ms and more when recorded.
  if (keys.size() >= 3 && keysRec.size() >= 3) {
    long rec = (long)(keysRec[2].tick - keysRec[0].tick), play = (long)(keys[2].tick - keys[0].tick);
    Note("gap Q -> Shift: recorded " + std::to_string(rec) + " ms, replayed " + std::to_string(play) + " ms");
    Check(rec >= 280 && play >= rec - 80 && play <= rec + 500, what + ": the replay keeps the recorded pauses");
  }
  Check(Log(true).empty(), what + ": no click is replayed where the recorder's stop button was");
}

// The program with a Movrec.dll that cannot serve (`how`): an item marked as
// having a script opens without a replay and without a box, and a recording
// opens the recorder but cannot be saved.
void RunWithoutLibrary(const std::string& how) {
  Program p;
  if (!Check(p.Start(), how + ": the program starts")) return;
  ClearLogs();
  HWND box = p.BoxAfterDoubleClick(1);  // Bank, marked, with a good script
  p.Settle();
  Check(!box && p.Alive(), how + ": opening an item with a script shows no box and the program runs on");
  if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
  Check(Log().empty(), how + ": nothing is replayed");
  std::set<std::string> before = ScriptFiles();
  HWND rec = p.Record(2);  // Shop
  Check(rec != nullptr, how + ": the recorder still opens");
  if (rec) {
    p.Press(rec, IDC_SCRIPT_STOP_RECORD);
    Check(Status(rec) == "录制后存盘失败!" && Enabled(rec, IDC_SCRIPT_RECORD) && Enabled(rec, IDC_SCRIPT_PLAY),
          how + ": stopping says the save failed and enables both buttons");
    p.Press(rec, IDC_SCRIPT_PLAY);
    Check(p.Alive() && !p.Box(), how + ": play does nothing");
    p.CloseRecorder(rec);
  }
  Check(ScriptFiles() == before, how + ": no script file is written");
  Check(p.Exit(), how + ": the program ends cleanly");
  Check(ScriptFlag("Shop") == 0, how + ": the item is not marked");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!drv::HasArguments(argc, 4, "recorder_driver FOLDER CONTROL SHOTS")) return 2;
  g_dir = qb::Gbk(std::wstring(argv[1]));
  g_control = qb::Gbk(std::wstring(argv[2]));
  g_shots = qb::Gbk(std::wstring(argv[3]));
  for (std::string* d : {&g_dir, &g_control, &g_shots})
    if (d->empty() || d->back() != '\\') *d += '\\';
  InitializeCriticalSection(&g_logLock);

  {
    CMyNodeList list;
    CMyNode* mail = qbtest::AddNodeTo(list, "邮箱", UrlCategory, nullptr, 0);
    qbtest::AddNodeTo(list, "Mail", UrlItem, mail, 0, "http://mail.example/login");
    qbtest::AddNodeTo(list, "Bank", UrlItem, mail, 1, "http://bank.example/");
    qbtest::AddNodeTo(list, "Shop", UrlItem, mail, 2, "http://shop.example/");
    if (!SaveFavoritesFile(list, g_dir + "data\\", "1-我的收藏.sc")) {
      fprintf(stderr, "cannot write the favorites file %s\n", FavoritesPath().c_str());
      return 1;
    }
  }

  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, WindowThread, ready, 0, nullptr);
  WaitForSingleObject(ready, 10000);
  if (!g_target) {
    fprintf(stderr, "no target window\n");
    return 1;
  }
  DWORD targetThread = GetThreadId(thread);

  {
    Program p;
    if (!Check(p.Start(), "the program starts with its favorites")) return 1;
    Check(p.Recorder() == nullptr, "no recorder before it is asked for");

    // ---- Record on Mail ----
    size_t opened = ReadFile(ShellLog()).size();
    HWND rec = p.Record(0);
    Check(rec != nullptr, "the item menu's command opens the recorder");
    if (!rec) {
      Note("no recorder; boxes: " + (p.Box() ? BoxText(p.Box()) : std::string("none")));
      return 1;
    }
    Check(Text(rec) == "脚本录放机" && (GetWindowLongW(rec, GWL_EXSTYLE) & WS_EX_TOPMOST),
          "the recorder is the topmost \"脚本录放机\"");
    Check(ReadFile(ShellLog()).substr(opened).find("open\thttp://mail.example/login\t3") != std::string::npos,
          "the item's page is opened maximised");
    Check(Status(rec) == "按兰色按钮停止录制" && !Enabled(rec, IDC_SCRIPT_RECORD) && !Enabled(rec, IDC_SCRIPT_PLAY) &&
              Enabled(rec, IDC_SCRIPT_STOP_RECORD),
          "it records at once: the record and play buttons are disabled");
    Check(!IsWindowVisible(p.main) && !IsWindowVisible(p.url) && !IsWindowVisible(p.tab),
          "the main window and its panels are hidden while recording");
    Check(!IsWindowEnabled(p.main) && !IsWindowEnabled(p.url), "and disabled");
    Check(p.Record(-1) == rec && p.Window([rec](HWND w) {
      return w != rec && IsWindowVisible(w) && GetDlgItem(w, IDC_SCRIPT_STATUS);
    }) == nullptr, "a second command opens no second recorder");

    RECT recRect;
    GetWindowRect(rec, &recRect);
    RECT overlap, target = {kTargetX, kTargetY, kTargetX + kTargetW, kTargetY + kTargetH};
    Check(!IntersectRect(&overlap, &recRect, &target), "the recorder does not cover the target window");
    std::string tip = TipOf(p, rec, IDC_SCRIPT_TRAIL);
    Check(tip == "单击可关闭鼠标轨迹", "the trail button's tip at first: " + tip);

    TypeLogin();
    std::vector<Logged> recorded = Log();
    Check(Only(recorded, WM_KEYDOWN, WM_KEYUP).size() == 6 && Only(recorded, WM_LBUTTONDOWN, WM_RBUTTONDOWN).size() == 2,
          "the target got the typed keys and clicks");
    // The user presses the blue button with the mouse.
    RECT stop;
    GetWindowRect(GetDlgItem(rec, IDC_SCRIPT_STOP_RECORD), &stop);
    ClickMovingTo((stop.left + stop.right) / 2, (stop.top + stop.bottom) / 2);
    WaitUntil([&] { return Status(rec) == "录制完成!"; }, 5000);
    p.Settle();
    Check(Status(rec) == "录制完成!", "stopping saves: \"录制完成!\"");
    Check(Enabled(rec, IDC_SCRIPT_RECORD) && Enabled(rec, IDC_SCRIPT_PLAY), "both buttons are enabled again");
    qb::Script mail;
    Check(qb::LoadScriptFile(ScriptPath("Mail"), mail) == 1, "the script is saved as script\\url\\Mail");
    Check(mail.mode == 1 && CountEvents(mail, qb::kMouseMove) > 0, "recorded with the mouse trail (mode 1)");
    Check(CountEvents(mail, qb::kKeyDown) == 3 && CountEvents(mail, qb::kKeyUp) == 3, "with the three keys");
    Check(CountEvents(mail, qb::kButtonDown) == 2 && CountEvents(mail, qb::kButtonUp) == 2,
          "and the two clicks, without the press on the stop button");
    Check(!os::FileExists(ScriptPath("Mail") + ".tmp~"), "no temporary file is left");
    Check(ScriptFlag("Mail") == 1 && ScriptFlag("Bank") == 0, "the item is marked and the favorites file saved");
    KeepFavorites("after-record.sc");
    DWORD mailMs = mail.events.empty() ? 0 : mail.events.back().time;

    Check(p.CloseRecorder(rec), "the recorder closes");
    Check(IsWindowVisible(p.main) && IsWindowEnabled(p.main) && IsWindowVisible(p.url) && IsWindowEnabled(p.url),
          "the main window and the item panel are back and enabled");
    // ---- Closing during a recording saves nothing ----
    std::string favBefore = ReadFile(FavoritesPath());
    std::set<std::string> filesBefore = ScriptFiles();
    rec = p.Record(2);  // Shop
    Check(rec != nullptr, "a recorder for Shop");
    if (rec) {
      SetForegroundWindow(g_target);
      ClickTarget(100, 100);
      Type('X');
      Check(p.CloseRecorder(rec), "closed while recording");
    }
    Check(ScriptFiles() == filesBefore && !os::FileExists(ScriptPath("Shop")), "closing during a recording saves no script");
    Check(ReadFile(FavoritesPath()) == favBefore && ScriptFlag("Shop") == 0, "and marks nothing");
    Check(IsWindowVisible(p.main) && IsWindowEnabled(p.main), "the main window is back after the close");

    // ---- No item: nothing is saved; the trail mode ----
    favBefore = ReadFile(FavoritesPath());
    filesBefore = ScriptFiles();
    opened = ReadFile(ShellLog()).size();
    rec = p.Record(-1);
    Check(rec != nullptr, "the command with no item chosen opens the recorder");
    if (rec) {
      Check(ReadFile(ShellLog()).size() == opened, "and opens no page");
      p.Press(rec, IDC_SCRIPT_STOP_RECORD);
      Check(Enabled(rec, IDC_SCRIPT_RECORD) && Enabled(rec, IDC_SCRIPT_PLAY),
            "stopping with no item enables both buttons again");
      Check(Status(rec) == "按兰色按钮停止录制", "and says nothing of a save");
      Check(ScriptFiles() == filesBefore && ReadFile(FavoritesPath()) == favBefore, "and saves nothing");
      p.Press(rec, IDC_SCRIPT_TRAIL);
      std::string tip = TipOf(p, rec, IDC_SCRIPT_TRAIL);
      Check(tip == "已关闭鼠标轨迹", "one click turns the trail off: " + tip);
      RECT shot;
      GetWindowRect(rec, &shot);
      shot.right += 160;
      shot.bottom += 40;
      Screenshot(g_shots + "recorder.bmp", shot);
      p.CloseRecorder(rec);
    }
    rec = p.Record(1);  // Bank
    if (Check(rec != nullptr, "a recorder for Bank")) {
      std::string tip = TipOf(p, rec, IDC_SCRIPT_TRAIL);
      Check(tip == "单击可开启鼠标轨迹", "reopened, the tip matches the mode kept: " + tip);
      Check(RecordOneClick(p, rec, "Bank", 2), "the recording after reopening is made without the trail (mode 2)");
      p.Press(rec, IDC_SCRIPT_TRAIL);
      tip = TipOf(p, rec, IDC_SCRIPT_TRAIL);
      Check(tip == "已开启鼠标轨迹", "a second click turns it on again: " + tip);
      p.CloseRecorder(rec);
    }
    rec = p.Record(1);
    if (Check(rec != nullptr, "a recorder for Bank again")) {
      std::string tip = TipOf(p, rec, IDC_SCRIPT_TRAIL);
      Check(tip == "单击可关闭鼠标轨迹", "reopened after two clicks, mode 1's tip: " + tip);
      Check(RecordOneClick(p, rec, "Bank", 1), "two clicks on the trail button: recorded with the trail again (mode 1)");
      p.CloseRecorder(rec);
    }
    // Whatever stands where the recorder was now logs clicks.
    SetWindowPos(g_sentinel, HWND_TOPMOST, recRect.left, recRect.top, recRect.right - recRect.left,
                 recRect.bottom - recRect.top, SWP_SHOWWINDOW | SWP_NOACTIVATE);

    // ---- A double click on Mail replays into the target ----
    // (A recording left running by the close of Shop's recorder would refuse the replay.)
    SetForegroundWindow(g_target);
    CheckReplay(p, 0, recorded, mailMs, "replay after recording");

    Check(p.Exit(), "the program ends cleanly");
    KeepFavorites("final.sc");
  }

  // ---- After a restart: the mark is kept and a double click replays ----
  {
    Program p;
    if (Check(p.Start(), "the program starts again")) {
      qb::Script mail;
      qb::LoadScriptFile(ScriptPath("Mail"), mail);
      ShowWindow(g_sentinel, SW_SHOWNOACTIVATE);
      SetForegroundWindow(g_target);
      ClearLogs();
      // The recorded input again, as the target logged it the first time.
      std::vector<Logged> recorded;
      recorded.push_back({WM_LBUTTONDOWN, 0, 40, 50, 0});
      for (const qb::ScriptEvent& e : mail.events) {
        if (e.type == qb::kKeyDown || e.type == qb::kKeyUp)
          recorded.push_back({e.type == qb::kKeyDown ? (UINT)WM_KEYDOWN : (UINT)WM_KEYUP, e.code, 0, 0, e.time});
      }
      recorded.push_back({WM_RBUTTONDOWN, 0, 300, 210, 0});
      CheckReplay(p, 0, recorded, mail.events.empty() ? 0 : mail.events.back().time, "replay after a restart");

      // A broken script file: no replay, no box, no crash.
      std::string broken = ReadFile(ScriptPath("Mail"));
      broken[20] ^= 0x5A;  // the check no longer matches
      os::WriteWholeFile(ScriptPath("Mail"), broken);
      ClearLogs();
      HWND box = p.BoxAfterDoubleClick(0);
      Check(!box && p.Alive() && Log().empty(), "a broken script file: no replay, no box, the program runs on");
      if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
      os::WriteWholeFile(ScriptPath("Mail"), std::string("QBSCRIPT\x01\x00\x01\x00\xFF\xFF\xFF\x7F", 16));
      box = p.BoxAfterDoubleClick(0);
      Check(!box && p.Alive() && Log().empty(), "a script file with a lying count: the same");
      if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
      Check(p.Exit(), "the program ends cleanly");
    }
  }

  // ---- Movrec.dll broken, foreign, missing ----
  std::string dll = g_dir + "Movrec.dll";
  std::string good = ReadFile(dll);
  os::WriteWholeFile(dll, "MZ not a library at all");
  RunWithoutLibrary("a broken Movrec.dll");
  wchar_t sys[MAX_PATH];
  GetSystemDirectoryW(sys, MAX_PATH);
  if (os::CopyOneFile(qb::Gbk(std::wstring(sys)) + "\\version.dll", dll, 0))
    RunWithoutLibrary("a Movrec.dll without the six calls");
  else
    Check(false, "a foreign library could be put in place");
  os::RemoveFile(dll);
  RunWithoutLibrary("no Movrec.dll");
  os::WriteWholeFile(dll, good);

  PostThreadMessageW(targetThread, WM_QUIT, 0, 0);
  WaitForSingleObject(thread, 3000);
  return Finish();
}

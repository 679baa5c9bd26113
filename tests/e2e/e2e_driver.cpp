// One step of the two-program test, run against the Qimbo.exe of the Wine
// prefix it is started in: it finds the program's windows, works them with
// synthesized mouse and keyboard input, checks what they show and ends.
//   e2e_driver main
//   e2e_driver login-open NUMBER PASSWORD-BOX REMEMBER(0|1) [SHOT.bmp]
//   e2e_driver login-submit NUMBER PASSWORD|- REMEMBER(0|1) ok|refused [SHOT.bmp]
//   e2e_driver login-cancel
//   e2e_driver tray ENTRY       the tray menu's ENTRY-th command (1 = the first), by keyboard
//   e2e_driver transfer up|down|sync|sync-fail   the prompt's final text, then its OK
//   e2e_driver tray-click-pending   the tray's left click while a chat line waits
//   e2e_driver circle SLOT      the category tab's first menu entry: its circle, and the chat window
//   e2e_driver chat-lists TEXT | chat-send TEXT | chat-shows TEXT [SHOT.bmp]
//   e2e_driver chat-series PREFIX N | chat-watch PREFIX N   timed lines, for the latency
//   e2e_driver login-button CAPTION   within 20 s the main window's login button shows CAPTION,
//                                     enabled for "登录" (logged out), disabled for a user number
// Prints "ok: ..." and "FAILED: ..." lines; the exit code is the number of failures.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "base/messages.h"
#include "win/text_win32.h"

#include "../../res/chat_ids.h"
#include "../../res/login_ids.h"
#include "../../res/panels_ids.h"
#include "../../res/resource.h"

#include "../win/driver_kit.h"

namespace {

using namespace drv;

int Failures() { return Results().failures; }

HWND TopWindow(const std::function<bool(HWND)>& test) { return WindowOf(0, test); }

bool IsDialogWith(HWND w, int a, int b) {
  return ClassOf(w) == L"#32770" && GetDlgItem(w, a) && GetDlgItem(w, b);
}
HWND MainWindow() { return TopWindow([](HWND w) { return IsDialogWith(w, IDC_LOGIN_BUTTON, IDC_FILE_BOX); }); }
HWND LoginWindow() {
  return TopWindow([](HWND w) { return IsWindowVisible(w) && IsDialogWith(w, IDC_LOGIN_USER, IDC_LOGIN_OK); });
}
HWND PromptWindow() {
  return TopWindow([](HWND w) { return IsWindowVisible(w) && IsDialogWith(w, IDC_PROMPT_TEXT, IDC_PROMPT_OK); });
}
HWND ChatWindow() {
  return TopWindow([](HWND w) { return IsWindowVisible(w) && IsDialogWith(w, IDC_CHAT_MEMBERS, IDC_CHAT_SEND); });
}
HWND TabPanel() { return TopWindow([](HWND w) { return IsWindowVisible(w) && IsDialogWith(w, IDC_FIRST_TAB, IDC_FIRST_TAB); }); }
HWND MenuWindow() { return OpenMenu(0); }

// ---- input ---------------------------------------------------------------------------

// A real click lands on whatever lies at its point. A window that opened
// meanwhile may lie over the target (the chat window over the box that
// confirms a circle): the target's window is brought to the front first, as
// a user would, so that the click neither misses nor lands in the other one.
void Click(HWND w, bool right = false) {
  RECT r;
  GetWindowRect(w, &r);
  POINT mid = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  HWND root = GetAncestor(w, GA_ROOT);
  auto reaches = [&] { return GetAncestor(WindowFromPoint(mid), GA_ROOT) == root; };
  if (!reaches()) {
    Note("'" + Caption(GetAncestor(WindowFromPoint(mid), GA_ROOT)) + "' lay over the click's target in '" +
         Caption(root) + "'; that window brought to the front");
    SetForegroundWindow(root);
    WaitUntil(reaches, 2000);
  }
  ClickOn(w, right);
  Sleep(150);
}
void Key(WORD vk, bool down) { SendKeys({{vk, down}}); }
// Digits and lower-case letters, as typed on the keyboard.
void Type(const std::string& text) {
  for (char c : text) Press(static_cast<WORD>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
}

// Clicks into an edit box, replaces what it holds by typing, and checks it.
bool TypeInto(HWND dlg, int id, const std::string& text) {
  HWND edit = GetDlgItem(dlg, id);
  Click(edit);
  Press(VK_END);
  Key(VK_SHIFT, true);
  Press(VK_HOME);
  Key(VK_SHIFT, false);
  Press(VK_DELETE);
  Type(text);
  return WaitUntil([&] { return Text(edit) == text; }, 3000);
}


// ---- steps -----------------------------------------------------------------------------

HWND NeedMain() {
  HWND main = nullptr;
  WaitUntil([&] { return (main = MainWindow()) != nullptr && IsWindowVisible(main); }, kStartMs, 200);
  Check(main && IsWindowVisible(main), "the main window is up");
  return main;
}

void ListWindows() {
  TopWindow([](HWND w) {
    if (!IsWindowVisible(w)) return false;
    HWND text = GetDlgItem(w, 0xFFFF);
    printf("note: visible window %ls '%s' %s\n", ClassOf(w).c_str(), qb::ToUtf8(Caption(w)).c_str(),
           text ? qb::ToUtf8(Text(text)).c_str() : "");
    return false;
  });
}

// Clicks `target` and checks that `opened` comes of it. Once in a while under
// Wine a click on a program's window comes to nothing (the cause is not known
// yet): after 5 s what lies under the click and who has the foreground are
// noted, and it goes once more before the check fails.
bool ClickOpens(HWND target, bool right, const std::function<bool()>& opened, const std::string& what) {
  Click(target, right);
  if (!WaitUntil(opened, 5000)) {
    RECT r;
    GetWindowRect(target, &r);
    HWND hit = WindowFromPoint({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    Note("nothing came of the click; under its middle: " + qb::Gbk(ClassOf(hit)) +
         (hit == target ? " (the target)" : " '" + Caption(hit) + "'") + "; the foreground: '" +
         Caption(GetForegroundWindow()) + "'; clicked again");
    ListWindows();
    Click(target, right);
  }
  return CheckSoon(opened, what);
}

int LoginOpen(HWND main, const std::string& number, const std::string& box, bool remember, const std::string& shot) {
  if (!Check(IsWindowEnabled(GetDlgItem(main, IDC_LOGIN_BUTTON)) != FALSE, "the login button is enabled")) return 1;
  HWND login = nullptr;
  if (!ClickOpens(GetDlgItem(main, IDC_LOGIN_BUTTON), false, [&] { return (login = LoginWindow()) != nullptr; },
                  "the login window opens")) {
    Note(std::string("the main window is ") + (IsWindowEnabled(main) ? "enabled" : "disabled"));
    return 1;
  }
  Sleep(300);  // painted
  Check(Caption(login) == "用户登录", "its title is 用户登录 (" + Caption(login) + ")");
  Check(!IsWindowEnabled(main), "the main window waits for it");
  Check(Text(GetDlgItem(login, IDC_LOGIN_USER)) == number, "the number box shows '" + number + "'");
  Check(Text(GetDlgItem(login, IDC_LOGIN_PASSWORD)) == box, "the password box holds '" + box + "'");
  Check((IsDlgButtonChecked(login, IDC_LOGIN_REMEMBER) == BST_CHECKED) == remember, "记住密码 as remembered");
  // The panels of the main window lie over it (the program puts them back
  // there once the window's activation settles).
  bool over = WaitUntil([&] { return OwnedUnder(main).empty(); }, kPatienceMs);
  Check(over, "no panel lies under the main window" + OwnedUnder(main));
  std::string above;
  for (HWND w = GetWindow(login, GW_HWNDPREV); w; w = GetWindow(w, GW_HWNDPREV))
    if (IsWindowVisible(w)) above += " " + qb::Gbk(ClassOf(w));
  Check(above.empty(), "no window of the program lies over it" + above);
  if (!shot.empty()) Screenshot(shot);
  return 0;
}

int LoginSubmit(HWND main, const std::string& number, const std::string& password, bool remember,
                const std::string& expect, const std::string& shot) {
  HWND login = LoginWindow();
  if (!Check(login != nullptr, "the login window is open")) return 1;
  Check(TypeInto(login, IDC_LOGIN_USER, number), "typed the number " + number);
  if (password != "-") Check(TypeInto(login, IDC_LOGIN_PASSWORD, password), "typed the password");
  if ((IsDlgButtonChecked(login, IDC_LOGIN_REMEMBER) == BST_CHECKED) != remember) {
    Click(GetDlgItem(login, IDC_LOGIN_REMEMBER));
    CheckSoon([&] { return (IsDlgButtonChecked(login, IDC_LOGIN_REMEMBER) == BST_CHECKED) == remember; },
          "clicked 记住密码");
  }
  Click(GetDlgItem(login, IDC_LOGIN_OK));
  if (expect == "refused") {
    Check(WaitUntil([&] { return Caption(login) == "用户名与密码不符!"; }, kPatienceMs, 20),
          "the title says 用户名与密码不符! (" + Caption(login) + ")");
    Check(IsWindowVisible(login) != FALSE, "the login window stays for another try");
    Sleep(300);
    if (!shot.empty()) Screenshot(shot);
    return 0;
  }
  // The title stands for 680 ms before the window goes.
  bool seen = WaitUntil([&] { return !IsWindow(login) || Caption(login) == "登录成功!"; }, 15000, 10) && IsWindow(login);
  Check(seen, "the title says 登录成功!");
  CheckSoon([&] { return !IsWindow(login) || !IsWindowVisible(login); }, "the login window closes");
  HWND button = GetDlgItem(main, IDC_LOGIN_BUTTON);
  CheckSoon([&] { return Caption(button) == number; }, "the login button shows the number (" + Caption(button) + ")");
  Check(!IsWindowEnabled(button), "the login button is disabled");
  CheckSoon([&] { return IsWindowEnabled(main) != FALSE; }, "the main window is enabled again");
  return 0;
}

int TrayCommand(HWND main, int entry) {
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  PostMessageW(main, qb::WM_TRAY_NOTIFY, IDR_TRAY_MENU, WM_RBUTTONDOWN);
  if (!CheckSoon([] { return MenuWindow() != nullptr; }, "the tray menu opens")) return 1;
  // The keys go to the foreground window's thread: the program takes the
  // foreground for its menu before they are typed.
  DWORD foreground = 0;
  if (!CheckSoon([&] { return GetWindowThreadProcessId(GetForegroundWindow(), &foreground) && foreground == pid; },
                 "the program has the keyboard for its menu"))
    return 1;
  Sleep(300);
  ChooseMenuEntry(entry);
  CheckSoon([] { return MenuWindow() == nullptr; }, "the tray menu closes on the choice");
  return 0;
}

// A sync's text goes on after its first words with the counts.
int Transfer(const std::string& what) {
  HWND prompt = nullptr;
  if (!CheckSoon([&] { return (prompt = PromptWindow()) != nullptr; }, "the progress prompt opens"))
    return 1;
  std::string done = what == "up"     ? "上传成功！"
                     : what == "down" ? "下载成功！"
                     : what == "sync" ? "同步成功！"
                                      : "同步失败：";
  HWND text = GetDlgItem(prompt, IDC_PROMPT_TEXT);
  std::vector<std::string> said;  // each text it showed, in turn
  bool ok = WaitUntil(
      [&] {
        std::string now = Text(text);
        if (said.empty() || said.back() != now) said.push_back(now);
        return now.compare(0, done.size(), done) == 0;
      },
      kPatienceMs);
  if (!Check(ok, "the prompt says " + done + " (" + said.back() + ")")) {
    std::string all;
    for (const std::string& t : said) all += (all.empty() ? "" : " -> ") + t;
    Note("the prompt said " + all);
  }
  Check(IsWindowEnabled(GetDlgItem(prompt, IDC_PROMPT_OK)) && !IsWindowEnabled(GetDlgItem(prompt, IDC_PROMPT_CANCEL)),
        "OK enabled, Cancel not");
  Click(GetDlgItem(prompt, IDC_PROMPT_OK));
  CheckSoon([&] { return !IsWindow(prompt); }, "OK closes the prompt");
  return 0;
}

// A waiting chat line makes the tray icon flash; the left click then takes
// the user to it instead of hiding the main window.
int TrayClickPending(HWND main) {
  PostMessageW(main, qb::WM_TRAY_NOTIFY, IDR_TRAY_MENU, WM_LBUTTONDOWN);
  Sleep(800);
  Check(IsWindowVisible(main) != FALSE, "the tray was flashing: its click did not hide the main window");
  return 0;
}


// The category of a tab: its menu's first entry enters the circle of its
// name; the member list that answers opens the chat window.
int EnterCircle(int slot) {
  HWND tabs = TabPanel();
  if (!Check(tabs != nullptr, "the category panel is there")) return 1;
  HWND tab = GetDlgItem(tabs, IDC_FIRST_TAB + slot);
  if (!ClickOpens(tab, true, [] { return MenuWindow() != nullptr; }, "the category's menu opens")) return 1;
  Sleep(300);
  ChooseMenuEntry(1);
  HWND chat = nullptr;
  // The first entry into a circle is confirmed in a box of its own, which
  // may come before or after the chat window.
  bool boxSeen = false;
  auto noticeOrChat = [&] {
    HWND box = TopWindow([](HWND w) {
      return IsWindowVisible(w) && ClassOf(w) == L"#32770" && Caption(w) == "提示" && GetDlgItem(w, IDOK) &&
             !GetDlgItem(w, IDC_PROMPT_TEXT);
    });
    if (box && !boxSeen) {
      boxSeen = true;
      HWND text = GetDlgItem(box, 0xFFFF);
      Check(text && Text(text) == "加入社区成功！", "the box says 加入社区成功！ (" + (text ? Text(text) : "") + ")");
      // The member list the server sends goes on arriving while the box is up.
      CheckSoon([] { return ChatWindow() != nullptr; },
            "the chat window opens while the box is still up");
      Click(GetDlgItem(box, IDOK));
      if (!WaitUntil([&] { return !IsWindow(box); }, 2000)) {
        SetForegroundWindow(box);
        Press(VK_RETURN);
      }
      CheckSoon([&] { return !IsWindow(box); }, "the box is confirmed");
    }
    chat = ChatWindow();
    return boxSeen && chat != nullptr;
  };
  if (!CheckSoon(noticeOrChat, "the chat window opens with the circle")) ListWindows();
  return 0;
}

std::vector<std::string> MemberRows(HWND chat) {
  std::vector<std::string> rows;
  HWND list = GetDlgItem(chat, IDC_CHAT_MEMBERS);
  LRESULT n = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    wchar_t buf[256] = {};
    if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < 255) SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf));
    rows.push_back(qb::Gbk(buf));
  }
  return rows;
}

int ChatListsMember(const std::string& want) {
  HWND chat = ChatWindow();
  if (!Check(chat != nullptr, "the chat window is open")) return 1;
  std::string all;
  bool found = WaitUntil(
      [&] {
        all.clear();
        for (const std::string& r : MemberRows(chat)) {
          all += "[" + r + "]";
          if (r.find(want) != std::string::npos) return true;
        }
        return false;
      },
      15000);
  if (!Check(found, "the member list names " + want + " " + all)) ListWindows();
  return 0;
}

int ChatSend(const std::string& gbk) {
  HWND chat = ChatWindow();
  if (!Check(chat != nullptr, "the chat window is open")) return 1;
  HWND input = VisibleItem(chat, IDC_CHAT_INPUT);
  if (!Check(input != nullptr, "the input box is there")) return 1;
  // The chat window may lie under the panels the main window raised.
  SetForegroundWindow(chat);
  WaitUntil([&] { return GetForegroundWindow() == chat; }, 3000);
  Click(input);
  TypeUnicode(W(gbk));
  if (!CheckSoon([&] { return Text(input) == gbk; }, "typed '" + gbk + "' (" + Text(input) + ")")) {
    ListWindows();
    Screenshot("Z:\\tmp\\e2e-chat-send.bmp");
  }
  Click(GetDlgItem(chat, IDC_CHAT_SEND));
  CheckSoon([&] { return Text(input).empty(); }, "发送 sent it and emptied the box");
  return 0;
}

int ChatShows(const std::string& gbk, const std::string& shot) {
  HWND chat = ChatWindow();
  if (!Check(chat != nullptr, "the chat window is open")) return 1;
  HWND talk = VisibleItem(chat, IDC_CHAT_TALK);
  if (!Check(talk != nullptr, "the conversation is there")) return 1;
  CheckSoon([&] { return Text(talk).find(gbk) != std::string::npos; },
        "the conversation shows '" + gbk + "' exactly");
  if (!shot.empty()) {
    SetForegroundWindow(chat);
    Sleep(300);
    Screenshot(shot);
  }
  return 0;
}

double NowMs() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

std::string SeriesLine(const std::string& prefix, int i) { return prefix + std::to_string(100 + i) + ";"; }

// Sends `count` numbered lines, one every 400 ms, and prints the moment of
// each click on 发送 (the performance counter counts the same for every
// process of the machine). Each line is put in the input box a while before
// its click, as typing is: the box's drawing of the new text is not the
// click's to wait for.
int ChatSeries(const std::string& prefix, int count) {
  HWND chat = ChatWindow();
  if (!Check(chat != nullptr, "the chat window is open")) return 1;
  HWND input = VisibleItem(chat, IDC_CHAT_INPUT);
  HWND send = GetDlgItem(chat, IDC_CHAT_SEND);
  RECT r;
  GetWindowRect(send, &r);
  PlaceCursor((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  for (int i = 0; i < count; ++i) {
    SendMessageW(input, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(W(SeriesLine(prefix, i)).c_str()));
    Sleep(150);
    INPUT in[2] = {};
    for (INPUT& k : in) k.type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    double t = NowMs();
    SendInput(2, in, sizeof(INPUT));
    printf("sent %d %.3f\n", i, t);
    Sleep(250);
  }
  fflush(stdout);
  return 0;
}

// Watches the conversation for the numbered lines and prints when each showed.
// The program's window thread answers every look, and a line is put in and
// drawn within one message of it: the moment its length changes the line is
// on the screen. So the watcher asks only for the length, a small message,
// and reads the whole text (which grows with the conversation, and would
// hold the thread up while a line comes) only after it changed.
int ChatWatch(const std::string& prefix, int count) {
  HWND chat = ChatWindow();
  if (!Check(chat != nullptr, "the chat window is open")) return 1;
  HWND talk = VisibleItem(chat, IDC_CHAT_TALK);
  std::vector<double> seen(count, 0);
  int left = count;
  LRESULT length = -1;
  for (DWORD start = GetTickCount(); left > 0 && GetTickCount() - start < 40000; Sleep(2)) {
    LRESULT now = SendMessageW(talk, WM_GETTEXTLENGTH, 0, 0);
    double t = NowMs();
    if (now == length) continue;
    std::string text = Text(talk);
    // A line that came while the text was read is credited on the next look, not this one's.
    length = SendMessageW(talk, WM_GETTEXTLENGTH, 0, 0) == now ? now : -1;
    for (int i = 0; i < count && length == now; ++i)
      if (seen[i] == 0 && text.find(SeriesLine(prefix, i)) != std::string::npos) {
        seen[i] = t;
        --left;
      }
  }
  for (int i = 0; i < count; ++i)
    if (seen[i] != 0) printf("seen %d %.3f\n", i, seen[i]);
  Check(left == 0, "all " + std::to_string(count) + " lines showed (" + std::to_string(left) + " missing)");
  fflush(stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> a;
  for (int i = 1; i < argc; ++i) a.push_back(qb::Gbk(argv[i]));
  if (a.empty()) return 2;
  auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
  HWND main = NeedMain();
  if (!main) return 1;
  const std::string& step = a[0];
  if (step == "main") return Failures();
  if (step == "login-open") LoginOpen(main, arg(1), arg(2), arg(3) == "1", arg(4));
  else if (step == "login-submit") LoginSubmit(main, arg(1), arg(2), arg(3) == "1", arg(4), arg(5));
  else if (step == "login-cancel") {
    HWND login = LoginWindow();
    if (Check(login != nullptr, "the login window is open")) {
      Click(GetDlgItem(login, IDC_LOGIN_CANCEL));
      CheckSoon([&] { return !IsWindow(login); }, "取消 closes it");
      CheckSoon([&] { return IsWindowEnabled(main) != FALSE; }, "the main window is enabled again");
    }
  } else if (step == "tray") TrayCommand(main, atoi(arg(1).c_str()));
  else if (step == "transfer") Transfer(arg(1));
  else if (step == "tray-click-pending") TrayClickPending(main);
  else if (step == "circle") EnterCircle(atoi(arg(1).c_str()));
  else if (step == "chat-lists") ChatListsMember(arg(1));
  else if (step == "chat-send") ChatSend(arg(1));
  else if (step == "chat-shows") ChatShows(arg(1), arg(2));
  else if (step == "chat-series") ChatSeries(arg(1), atoi(arg(2).c_str()));
  else if (step == "chat-watch") ChatWatch(arg(1), atoi(arg(2).c_str()));
  else if (step == "login-button") {
    HWND button = GetDlgItem(main, IDC_LOGIN_BUTTON);
    bool enabled = arg(1) == "登录";
    Check(WaitUntil([&] { return Text(button) == arg(1) && (IsWindowEnabled(button) != FALSE) == enabled; }, 20000),
          "the login button shows " + arg(1) + (enabled ? ", enabled" : ", disabled") + " (" + Text(button) + ")");
  } else {
    fprintf(stderr, "unknown step %s\n", step.c_str());
    return 2;
  }
  return Failures();
}

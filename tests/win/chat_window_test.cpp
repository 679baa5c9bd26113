// The chat window in the running program, against the real qimbo-server on
// loopback (tests/win/chat-test.sh starts it and names it in
// QIMBO_CHAT_SERVER as "address:server ports:client ports"). The program logs
// in through its network core; everything after that goes through the main
// window's commands and the chat window's controls: the member rows, Enter and
// Ctrl+Enter, the 600-byte cut, a leave-word and its echo, the tray flash
// while the window is closed, and the word reaching its addressee.
//
// The suites run in order in one program folder, as one user's day:
// 10002 ("乙") joins the circle 读书 and goes; 10001 ("甲") talks in it and
// leaves 乙 a word; 乙 comes back and reads it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commdlg.h>
#include <richedit.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "../../res/chat_ids.h"
#include "../../res/resource.h"
#include "app/chat_dlg_win32.h"
#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "os/os.h"
#include "os/shell.h"
#include "skin/config.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "testutil.h"
#include "win/gdi_win32.h"
#include "win/text_win32.h"
#include "win_test_util.h"

namespace {

using qb::CChatDialog;
using qb::CFavoritesApp;

struct ServerPlace {
  std::string address;
  int serverPorts = 0, clientPorts = 0;
};

bool ReadServerPlace(ServerPlace& place) {
  const char* env = getenv("QIMBO_CHAT_SERVER");
  if (!env) return false;
  std::string s = env;
  size_t a = s.find(':'), b = s.find(':', a + 1);
  if (a == std::string::npos || b == std::string::npos) return false;
  place.address = s.substr(0, a);
  place.serverPorts = atoi(s.substr(a + 1, b - a - 1).c_str());
  place.clientPorts = atoi(s.substr(b + 1).c_str());
  return place.serverPorts > 0 && place.clientPorts > 0;
}

// The model's information boxes ("加入社区成功！") are modal: a second thread
// answers them with OK and keeps their texts.
class BoxCloser {
 public:
  BoxCloser() { m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr); }
  ~BoxCloser() {
    InterlockedExchange(&m_stop, 1);
    WaitForSingleObject(m_thread, 5000);
    CloseHandle(m_thread);
  }
  std::vector<std::string> Texts() {
    EnterCriticalSection(m_lock);
    std::vector<std::string> t = m_texts;
    LeaveCriticalSection(m_lock);
    return t;
  }

 private:
  static DWORD WINAPI Run(void* p) {
    auto* self = static_cast<BoxCloser*>(p);
    while (!InterlockedCompareExchange(&self->m_stop, 0, 0)) {
      EnumWindows(
          [](HWND w, LPARAM p) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == GetCurrentProcessId() && IsWindowVisible(w) && getenv("CHAT_DEBUG_WINDOWS")) {
              wchar_t cls[64] = {};
              GetClassNameW(w, cls, 64);
              fprintf(stderr, "window %p %ls '%s'\n", (void*)w, cls, qb::ToUtf8(qb::WindowTextGbk(w)).c_str());
            }
            if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
            // A message box's text: 0xFFFF on Windows, 100 on Wine.
            HWND text = GetDlgItem(w, 0xFFFF);
            if (!text) text = GetDlgItem(w, 100);
            wchar_t cls[16] = {};
            if (text) GetClassNameW(text, cls, 16);
            if (!text || lstrcmpiW(cls, L"Static") != 0 || !GetDlgItem(w, IDOK)) return TRUE;
            auto* self = reinterpret_cast<BoxCloser*>(p);
            EnterCriticalSection(self->m_lock);
            self->m_texts.push_back(qb::WindowTextGbk(text));
            LeaveCriticalSection(self->m_lock);
            PostMessageW(w, WM_COMMAND, IDOK, 0);
            return TRUE;
          },
          reinterpret_cast<LPARAM>(self));
      Sleep(50);
    }
    return 0;
  }
  struct Lock {
    Lock() { InitializeCriticalSection(&cs); }
    ~Lock() { DeleteCriticalSection(&cs); }
    operator CRITICAL_SECTION*() { return &cs; }
    CRITICAL_SECTION cs;
  };
  Lock m_lock;
  std::vector<std::string> m_texts;
  volatile LONG m_stop = 0;
  HANDLE m_thread = nullptr;
};

// One program folder for the whole run.
qbtest::TempDir* g_dir = nullptr;

class ChatWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_dir = new qbtest::TempDir;
    std::string p = g_dir->Path();
    wintest::MakeProgramFolder(p, false);
    CMyNodeList list;
    CMyNode* cat = new CMyNode;
    cat->m_strName = "读书";
    cat->m_nKind = UrlCategory;
    list.AddNode(cat);
    SaveFavoritesFile(list, p + "data\\", "1-我的收藏.sc");
    ServerPlace place;
    if (ReadServerPlace(place)) {
      std::string ini = "[Server]\r\nHost=" + place.address + "\r\nPorts=" + std::to_string(place.clientPorts) +
                        "\r\nPeerPorts=" + std::to_string(place.clientPorts) +
                        "\r\nServerPorts=" + std::to_string(place.serverPorts) + "\r\n";
      qbtest::WriteFileBytes(p + "config\\NetServer.ini", ini);
    }
  }
  static void TearDownTestSuite() {
    delete g_dir;
    g_dir = nullptr;
  }
  void SetUp() override {
    ServerPlace place;
    if (!ReadServerPlace(place)) GTEST_SKIP() << "QIMBO_CHAT_SERVER is not set: run through tests/win/chat-test.sh";
    boxes.reset(new BoxCloser);
  }
  void TearDown() override {
    if (app) app->ExitInstance();
    app.reset();
    boxes.reset();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }

  // The program's loop, one round: window messages (through the dialog
  // manager, as the program does), thread messages, received datagrams.
  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      if (!msg.hwnd && app && app->OnThreadMessage(msg)) continue;
      HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
      if (root && IsDialogMessageW(root, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (app && app->Net()) app->Net()->PumpReceived();
  }
  // Pump, wait `ms` and pump again: what was due by then (a timer) is done.
  void PumpPast(DWORD ms) {
    Pump();
    Sleep(ms);
    Pump();
  }
  // With the fixture's own Pump, which hands thread messages (datagrams) to the program.
  bool PumpUntil(const std::function<bool()>& done, DWORD ms = 8000) {
    return wintest::PumpUntil(done, ms, [this] { Pump(); });
  }

  // The program in a folder, its main window up and its links started.
  void Launch(const std::string& folder) {
    os::SetProgramDirectory(folder);
    app.reset(new CFavoritesApp);
    app->SetHomePath(folder + "profiles\\" + os::UserName());
    ASSERT_TRUE(app->InitInstance());
    main = app->MainWindow();
    ASSERT_TRUE(main);
    wnd = main->GetSafeHwnd();
    ASSERT_TRUE(PumpUntil([&] { return app->NetworkStarted(); }));
  }
  void StartAs(int32_t user, const std::string& password) {
    Launch(g_dir->Path());
    if (HasFatalFailure()) return;
    qb::CNetState* net = app->Net();
    ASSERT_TRUE(net);
    net->Login().SetUser(user);
    net->Login().SetPassword(password);
    ASSERT_TRUE(net->Login().SendLogin());
    ASSERT_TRUE(PumpUntil([&] { return net->Login().LoggedIn(); })) << "no login reply";
  }

  // Asks for the circle of the category 读书; the member list opens the chat window.
  void EnterReading() {
    CMyNode* cat = app->Logic()->FindNode("读书", UrlCategory);
    ASSERT_TRUE(cat);
    ASSERT_EQ(qb::kCircleRequestSent, app->Net()->Circles().RequestCircle(cat));
    HWND before = ChatWnd();
    ASSERT_TRUE(PumpUntil([&] { return app->Net()->Circles().CurrentCircle() == "读书" && Chat() && ChatWnd() != before; }));
    std::vector<std::string> texts = boxes->Texts();
    EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), "加入社区成功！"));
  }

  CChatDialog* Chat() const { return main ? main->ChatWindow() : nullptr; }
  HWND ChatWnd() const { return Chat() ? Chat()->GetSafeHwnd() : nullptr; }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    HWND list = GetDlgItem(ChatWnd(), IDC_CHAT_MEMBERS);
    for (int i = 0, n = (int)SendMessageW(list, LB_GETCOUNT, 0, 0); i < n; ++i) {
      wchar_t text[256] = {};
      SendMessageW(list, LB_GETTEXT, i, (LPARAM)text);
      rows.push_back(qb::Gbk(text));
    }
    std::sort(rows.begin(), rows.end());  // the list sorts by the system's collation
    return rows;
  }
  // The conversation with every line break as "\n".
  std::string Talk() {
    std::string t = qb::WindowTextGbk(Chat()->Conversation()), out;
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') continue;
      out += t[i] == '\r' ? '\n' : t[i];
    }
    return out;
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
    return n;
  }

  void Type(const std::string& gbk) {
    HWND input = Chat()->Input();
    SetWindowTextW(input, qb::W(gbk).c_str());
    CHARRANGE end = {-1, -1};
    SendMessageW(input, EM_EXSETSEL, 0, (LPARAM)&end);
  }
  // Enter on the keyboard, with Ctrl held when asked, into the focused input box.
  void PressEnter(bool ctrl) {
    SetForegroundWindow(ChatWnd());
    SetFocus(Chat()->Input());
    Pump();
    ASSERT_EQ(Chat()->Input(), GetFocus());
    INPUT keys[4] = {};
    int n = 0;
    auto key = [&](WORD vk, bool up) {
      keys[n].type = INPUT_KEYBOARD;
      keys[n].ki.wVk = vk;
      keys[n].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
      ++n;
    };
    if (ctrl) key(VK_CONTROL, false);
    key(VK_RETURN, false);
    key(VK_RETURN, true);
    if (ctrl) key(VK_CONTROL, true);
    SendInput(n, keys, sizeof(INPUT));
    for (int i = 0; i < 10; ++i) {
      Sleep(20);
      Pump();
    }
  }
  std::string InputText() { return qb::WindowTextGbk(Chat()->Input()); }
  // A real mouse button going down or up (flags) with the pointer on a window's middle.
  // Sent once the window is the one under that point: a box the model shows
  // meanwhile (closed by the BoxCloser) or a window not yet raised would take it.
  void MouseOn(HWND w, DWORD flags) {
    RECT r;
    GetWindowRect(w, &r);
    POINT middle = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    EXPECT_TRUE(PumpUntil([&] { return WindowFromPoint(middle) == w; }, 3000)) << "another window over it";
    wintest::PlaceCursor(middle.x, middle.y);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    SendInput(1, &in, sizeof in);
    for (int i = 0; i < 5; ++i) {
      Sleep(20);
      Pump();
    }
  }
  bool SendPushed() { return (SendDlgItemMessageW(ChatWnd(), IDC_CHAT_SEND, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; }

  bool SelectRow(const std::string& text) {
    HWND list = GetDlgItem(ChatWnd(), IDC_CHAT_MEMBERS);
    LRESULT row = SendMessageW(list, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)qb::W(text).c_str());
    if (row == LB_ERR) return false;
    SendMessageW(list, LB_SETCURSEL, row, 0);
    return true;
  }
  void Click(int id) { SendMessageW(ChatWnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(ChatWnd(), id)); }

  std::unique_ptr<BoxCloser> boxes;
  std::unique_ptr<CFavoritesApp> app;
  qb::CMainDlg* main = nullptr;
  HWND wnd = nullptr;
};

// The same pixels: two icons drawn side by side.
bool SameIcon(HICON a, HICON b) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 64, 32);
  HGDIOBJ old = SelectObject(dc, bmp);
  RECT r = {0, 0, 64, 32};
  FillRect(dc, &r, (HBRUSH)GetStockObject(WHITE_BRUSH));
  DrawIconEx(dc, 0, 0, a, 16, 16, 0, nullptr, DI_NORMAL);
  DrawIconEx(dc, 32, 0, b, 16, 16, 0, nullptr, DI_NORMAL);
  bool same = true;
  int inkA = 0, inkB = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      same = same && GetPixel(dc, x, y) == GetPixel(dc, x + 32, y);
      inkA += GetPixel(dc, x, y) != RGB(255, 255, 255);
      inkB += GetPixel(dc, x + 32, y) != RGB(255, 255, 255);
    }
  if (getenv("CHAT_DEBUG")) fprintf(stderr, "icons %p %p: ink %d %d same %d\n", (void*)a, (void*)b, inkA, inkB, same);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return same;
}
HICON ResourceIcon(int id) {
  return (HICON)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0);
}

// 乙 logs in: the plaza lists 乙; the "圈友" button shows it; 乙 joins 读书.
TEST_F(ChatWindowTest, A_PlazaRowsThenTheCircleOfACategory) {
  StartAs(10002, "pw2");
  // The plaza's list comes with the login.
  ASSERT_TRUE(PumpUntil([&] { return app->Net()->Circles().Members().size() == 1; }));
  SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_CHAT_BUTTON, BN_CLICKED), 0);
  ASSERT_TRUE(ChatWnd());
  EXPECT_TRUE(IsWindowVisible(ChatWnd()));
  EXPECT_EQ(L"您还未指定要进入的圈[圈]", wintest::Text(ChatWnd()));
  EXPECT_EQ((std::vector<std::string>{"乙(10002)"}), Rows());
  EXPECT_TRUE(Chat()->ShowsAdPicture()) << "Wine here has no web engine";
  EXPECT_EQ(g_dir->Path() + "head\\Chat_ad.jpg", Chat()->AdAddress());
  EXPECT_EQ(0, Chat()->SendKeyFlagNow()) << "Ctrl+Enter until the menu says otherwise";
  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(ChatWnd(), IDC_CHAT_TRAY_TIP));
  EXPECT_EQ(L"发送", wintest::ItemText(ChatWnd(), IDC_CHAT_SEND));
  EXPECT_EQ(L"关闭", wintest::ItemText(ChatWnd(), IDC_CHAT_CLOSE));
  EXPECT_EQ(L"只发给指定人", wintest::ItemText(ChatWnd(), IDC_CHAT_SEND_TO_ONE));
  EXPECT_EQ(L"只接收指定人", wintest::ItemText(ChatWnd(), IDC_CHAT_RECEIVE_ONE));
  EXPECT_EQ(L"启用托盘闪烁提示来话", wintest::ItemText(ChatWnd(), IDC_CHAT_TRAY_TIP));

  // The circle's list opens a new window over the old one.
  HWND plaza = ChatWnd();
  EnterReading();
  EXPECT_FALSE(IsWindow(plaza));
  EXPECT_EQ(L"读书[圈]", wintest::Text(ChatWnd()));
  EXPECT_EQ(L"读书[圈]", wintest::ItemText(ChatWnd(), IDC_CHAT_TITLE));
  EXPECT_EQ(L"读书", wintest::ItemText(ChatWnd(), IDC_CHAT_POSTER));
  EXPECT_EQ((std::vector<std::string>{"乙(10002)"}), Rows());
}

// 甲 in the circle 读书: rows, the send keys, the cut, a leave-word for the
// absent 乙, and the flash while the window is closed.
TEST_F(ChatWindowTest, B_TalkInTheCircleAndLeaveAWord) {
  StartAs(10001, "pw1");
  EnterReading();
  std::vector<std::string> both = {"乙(10002)留言", "甲(10001)"};
  std::sort(both.begin(), both.end());
  EXPECT_EQ(both, Rows());
  ASSERT_EQ(0, Chat()->SendKeyFlagNow());

  // Ctrl+Enter is the send key: Enter alone makes a new line, Ctrl+Enter sends.
  Type("第一行");
  PressEnter(false);
  EXPECT_EQ(std::string::npos, Talk().find("第一行")) << "Enter alone sent";
  EXPECT_NE(std::string::npos, InputText().find("第一行\r")) << InputText();
  HWND input = Chat()->Input();
  SendMessageW(input, EM_REPLACESEL, FALSE, (LPARAM)qb::W("第二行").c_str());
  PressEnter(true);
  EXPECT_EQ("", InputText());
  // The line goes to every reachable member, the user's own record among them.
  ASSERT_TRUE(PumpUntil([&] { return Talk().find("第二行") != std::string::npos; })) << Talk();
  std::string talk = Talk();
  EXPECT_EQ(1u, Count(talk, "第一行\n第二行")) << talk;
  EXPECT_EQ(1u, Count(talk, "\n甲(10001)   ")) << talk;

  // 发送 by the mouse: pressed, it sends when let go on it, and the focus
  // stays in the input box all along; let go elsewhere it sends nothing.
  HWND send = GetDlgItem(ChatWnd(), IDC_CHAT_SEND);
  SetForegroundWindow(ChatWnd());
  SetFocus(input);
  Type("鼠标发送");
  MouseOn(send, MOUSEEVENTF_LEFTDOWN);
  EXPECT_EQ(input, GetFocus()) << "the press took the focus";
  EXPECT_TRUE(SendPushed());
  EXPECT_EQ(std::string::npos, Talk().find("鼠标发送")) << "sent on the press";
  MouseOn(send, MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(PumpUntil([&] { return Talk().find("鼠标发送") != std::string::npos; })) << Talk();
  EXPECT_EQ("", InputText());
  EXPECT_EQ(input, GetFocus());
  EXPECT_FALSE(SendPushed());
  EXPECT_EQ(nullptr, GetCapture()) << "the mouse is let go with the button";
  Type("不发了");
  MouseOn(send, MOUSEEVENTF_LEFTDOWN);
  EXPECT_EQ(send, GetCapture());
  MouseOn(input, MOUSEEVENTF_LEFTUP);
  EXPECT_FALSE(SendPushed());
  EXPECT_EQ(nullptr, GetCapture());
  EXPECT_EQ(std::string::npos, Talk().find("不发了")) << "let go away from the button, it sent";
  EXPECT_EQ("不发了", InputText());
  EXPECT_EQ(input, GetFocus());
  // The keyboard as before: 发送 focused, Space sends.
  SetFocus(send);
  Pump();
  INPUT space[2] = {};
  for (INPUT& k : space) k.type = INPUT_KEYBOARD, k.ki.wVk = VK_SPACE;
  space[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, space, sizeof(INPUT));
  ASSERT_TRUE(PumpUntil([&] { return Talk().find("不发了") != std::string::npos; })) << Talk();
  EXPECT_EQ("", InputText());
  EXPECT_EQ(input, GetFocus());

  // The menu makes Enter the send key and keeps it in the configuration.
  SendMessageW(ChatWnd(), WM_COMMAND, ID_CHAT_SEND_ENTER, 0);
  EXPECT_EQ(1, Chat()->SendKeyFlagNow());
  qb::ConfigSettings saved;
  ASSERT_TRUE(qb::LoadConfig(g_dir->Path(), saved));
  EXPECT_EQ("Enter", saved.chatSendKey);
  Type("报道 a<b>c 定点");
  PressEnter(false);
  ASSERT_TRUE(PumpUntil([&] { return Talk().find("报道 a<b>c 定点") != std::string::npos; })) << Talk();

  // 700 bytes typed: 600 go.
  Type(std::string(700, 'x'));
  PressEnter(false);
  ASSERT_TRUE(PumpUntil([&] { return Talk().find(std::string(600, 'x')) != std::string::npos; }));
  EXPECT_EQ(std::string::npos, Talk().find(std::string(601, 'x')));

  // Only to the selected member, who is away: a leave-word, echoed at once.
  CheckDlgButton(ChatWnd(), IDC_CHAT_SEND_TO_ONE, BST_CHECKED);
  Type("没人选中");
  PressEnter(false);
  EXPECT_EQ("没人选中", InputText()) << "without a selected row the text stays";
  MouseOn(send, MOUSEEVENTF_LEFTDOWN);
  MouseOn(send, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ("没人选中", InputText());
  EXPECT_EQ(input, GetFocus()) << "a click that sent nothing moved the focus to 发送";
  ASSERT_TRUE(SelectRow("乙(10002)留言"));
  Type("明天见");
  PressEnter(false);
  EXPECT_EQ("", InputText());
  talk = Talk();
  EXPECT_NE(std::string::npos, talk.find("\n甲(10001)      ")) << talk;
  EXPECT_NE(std::string::npos, talk.find(" ---------------\n明天见")) << talk;
  Type(std::string(300, 'L'));
  PressEnter(false);
  talk = Talk();
  EXPECT_NE(std::string::npos, talk.find("---------------\n(!留言莫超过120字!)" + std::string(240, 'L'))) << talk;
  EXPECT_EQ(std::string::npos, talk.find(std::string(241, 'L')));
  CheckDlgButton(ChatWnd(), IDC_CHAT_SEND_TO_ONE, BST_UNCHECKED);

  // Closed, the window leaves the lines queued and the tray flashes with 153..154.
  Click(IDC_CHAT_CLOSE);
  EXPECT_FALSE(Chat());
  EXPECT_FALSE(app->Net()->Circles().ChatWindowOpen());
  qb::CharFormat cf = qb::DefaultInputFormat();
  ASSERT_TRUE(app->Net()->Chat().SendChat(true, nullptr, "窗外一句", cf));
  ASSERT_TRUE(PumpUntil([&] { return main->ChatPending(); }));
  EXPECT_TRUE(main->Tray().Animating());
  ASSERT_EQ(2u, main->Tray().IconCount());
  HICON first = ResourceIcon(IDI_TRAY_FIRST), plaza = ResourceIcon(IDI_PLAZA_FIRST);
  EXPECT_TRUE(SameIcon(first, main->Tray().ListIcon(0)));
  EXPECT_FALSE(SameIcon(plaza, main->Tray().ListIcon(0)));
  DestroyIcon(first);
  DestroyIcon(plaza);
  // A click on the flashing tray icon opens the window with the queued line.
  SendMessageW(wnd, qb::WM_TRAY_NOTIFY, IDR_TRAY_MENU, WM_LBUTTONDOWN);
  ASSERT_TRUE(Chat());
  EXPECT_FALSE(main->ChatPending());
  EXPECT_FALSE(main->Tray().Animating());
  EXPECT_NE(std::string::npos, Talk().find("窗外一句"));

  // The tray check box, cleared, is saved on closing; then nothing flashes.
  CheckDlgButton(ChatWnd(), IDC_CHAT_TRAY_TIP, BST_UNCHECKED);
  Click(IDC_CHAT_CLOSE);
  ASSERT_TRUE(qb::LoadConfig(g_dir->Path(), saved));
  EXPECT_EQ(0, saved.chatTip);
  ASSERT_TRUE(app->Net()->Chat().SendChat(true, nullptr, "无声", cf));
  ASSERT_TRUE(PumpUntil([&] { return !app->Net()->Chat().Records().empty(); }));
  EXPECT_FALSE(main->ChatPending());
}

// 乙 again: the word waits in the server and shows when the window opens.
TEST_F(ChatWindowTest, C_TheLeaveWordReachesItsAddressee) {
  StartAs(10002, "pw2");
  ASSERT_TRUE(PumpUntil([&] { return app->Net()->Chat().Records().size() >= 2; })) << "no leave-words came";
  EXPECT_FALSE(main->ChatPending()) << "the tray flag was cleared";
  SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_CHAT_BUTTON, BN_CLICKED), 0);
  ASSERT_TRUE(Chat());
  std::string talk = Talk();
  EXPECT_NE(std::string::npos, talk.find("甲(10001)给你留言:明天见")) << talk;
  EXPECT_NE(std::string::npos, talk.find("甲(10001)给你留言:" + std::string(240, 'L'))) << talk;
  EXPECT_TRUE(app->Net()->Chat().Records().empty());
}

// ---- without a server: what the window does with what the network part tells it ----

// The program with links on ports of this suite's own and a server address
// where nothing answers; members and records are put in as the handlers
// would put them.
class ChatWindowOffline : public ChatWindowTest {
 protected:
  static void SetUpTestSuite() {}
  static void TearDownTestSuite() {}
  void SetUp() override {
    boxes.reset(new BoxCloser);
    std::string p = folder.Path();
    wintest::MakeProgramFolder(p, false);
    qbtest::WriteFileBytes(p + "config\\NetServer.ini",
                           "[Server]\r\nHost=127.0.0.49\r\nPorts=28440\r\nPeerPorts=28440\r\nServerPorts=28490\r\n");
    Launch(p);
    if (HasFatalFailure()) return;
    os::SetShellHook([this](const os::ShellRequest& r) {
      opened.push_back(r);
      return 1;
    });
  }
  void TearDown() override {
    os::SetShellHook(nullptr);
    ChatWindowTest::TearDown();
  }
  qb::CircleMember* Member(int32_t user, const std::string& display, const std::string& dotted) {
    std::unique_ptr<qb::CircleMember> m(new qb::CircleMember);
    m->user = user;
    m->display = display;
    m->nickname = display;
    m->address = qb::ParseDottedAddress(dotted);
    return app->Net()->Circles().AddMember(std::move(m));
  }
  // A peer's line as the receive pump hands it over: handled, then the
  // window told at once.
  void PeerLine(int32_t user, const std::string& text, const std::string& dotted) {
    qb::FieldList f{"TEXT", std::to_string(user), qb::EscapeChatText(text)};
    app->Net()->Chat().OnPeerChat(f, qb::ParseDottedAddress(dotted));
    app->Net()->Chat().DeliverNotices();
  }
  void OpenChat() {
    SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_CHAT_BUTTON, BN_CLICKED), 0);
    ASSERT_TRUE(ChatWnd());
    Pump();
  }

  qbtest::TempDir folder;
  std::vector<os::ShellRequest> opened;
};

TEST_F(ChatWindowOffline, MemberNotificationsKeepTheRowsInStep) {
  OpenChat();
  EXPECT_TRUE(Rows().empty());
  qb::CircleMember* a = Member(200, "", "10.1.2.3");
  PostMessageW(wnd, qb::WM_MEMBER_ADDED, a->serial, 0);
  PostMessageW(wnd, qb::WM_MEMBER_ADDED, a->serial, 0);  // listed once only
  Pump();
  EXPECT_EQ((std::vector<std::string>{"10.1.*.*"}), Rows());
  a->display = "朋友(200)";
  PostMessageW(wnd, qb::WM_MEMBER_CHANGED, a->serial, 0);
  Pump();
  EXPECT_EQ((std::vector<std::string>{"朋友(200)"}), Rows());
  // A member gone before its notice came: its row goes, nothing else.
  uintptr_t gone = a->serial;
  app->Net()->Circles().RemoveMembersAt(qb::ParseDottedAddress("10.1.2.3"));
  Pump();
  EXPECT_TRUE(Rows().empty());
  PostMessageW(wnd, qb::WM_MEMBER_CHANGED, gone, 0);
  Pump();
  EXPECT_TRUE(Rows().empty());

  // A plaza list replaces the members: the rows follow.
  Member(300, "旧人", "10.0.0.3");
  PostMessageW(wnd, qb::WM_MEMBER_ADDED, app->Net()->Circles().Members().back()->serial, 0);
  Pump();
  ASSERT_EQ(1u, Rows().size());
  qb::FieldList list{"LIST", "2", "10.9.8.7", "甲", "10.9.8.6", ""};
  app->Net()->Chat().OnServerChat(list);
  Pump();
  std::vector<std::string> want = {"10.9.*.*", "甲"};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(want, Rows());
}

// The box that confirms a circle comes before the circle's list: the chat
// window that the list opens while the box waits for its answer comes up
// behind it, without the foreground, and gives the typing to its input box
// once it is activated.
TEST_F(ChatWindowOffline, AChatWindowOpeningWhileABoxWaitsComesBehindIt) {
  boxes.reset();  // the box is answered here, once its place was seen a while
  static struct { qb::CMainDlg* main; HWND chat; int ticks; bool chatOver, chatForeground; } watch;
  watch = {main, nullptr, 0, false, false};
  // A window's timer: the program's filter takes the thread's own messages in a box's loop.
  const UINT_PTR timer = 0x51574254;
  SetTimer(wnd, timer, 50, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowW(L"#32770", L"提示");
    HWND chat = watch.main->ChatWindow() ? watch.main->ChatWindow()->GetSafeHwnd() : nullptr;
    if (!box || !chat || !IsWindowVisible(chat) || watch.ticks == 6) return;
    watch.chat = chat;
    for (HWND w = GetWindow(box, GW_HWNDPREV); w; w = GetWindow(w, GW_HWNDPREV)) watch.chatOver |= w == chat;
    watch.chatForeground |= GetForegroundWindow() == chat;
    if (++watch.ticks == 6) PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  PostMessageW(wnd, qb::WM_OPEN_CHAT, 0, 0);  // handled inside the box's loop
  EXPECT_EQ(IDOK, app->Ui().ShowMessage("加入社区成功！", "提示", qb::kMbOk | qb::kMbIconInformation));
  KillTimer(wnd, timer);
  ASSERT_TRUE(watch.chat) << "the chat window opened while the box waited";
  EXPECT_FALSE(watch.chatOver) << "the chat window lay over the box";
  EXPECT_FALSE(watch.chatForeground);
  SetForegroundWindow(watch.chat);
  EXPECT_TRUE(PumpUntil([&] { return GetFocus() == Chat()->Input(); }));
}

TEST_F(ChatWindowOffline, ReceiveOnlyFromTheSelectedMember) {
  Member(200, "甲(200)", "10.0.0.2");
  Member(300, "乙(300)", "10.0.0.3");
  OpenChat();
  CheckDlgButton(ChatWnd(), IDC_CHAT_RECEIVE_ONE, BST_CHECKED);
  PeerLine(200, "甲说", "10.0.0.2");
  PeerLine(300, "乙说", "10.0.0.3");
  Pump();
  // Nobody selected: the lines wait.
  EXPECT_EQ(std::string::npos, Talk().find("说"));
  EXPECT_EQ(2u, app->Net()->Chat().Records().size());
  ASSERT_TRUE(SelectRow("乙(300)"));
  PostMessageW(wnd, qb::WM_CHAT_ARRIVED, 0, 0);
  Pump();
  std::string talk = Talk();
  EXPECT_NE(std::string::npos, talk.find("\n乙(300)(300)   ")) << talk;
  EXPECT_NE(std::string::npos, talk.find("乙说"));
  EXPECT_EQ(std::string::npos, talk.find("甲说")) << "another sender's line is dropped";
  EXPECT_TRUE(app->Net()->Chat().Records().empty());
  // Plaza lines show whoever sent them.
  uint32_t server = app->Net()->Sender().EnsureServerAddress();
  qb::FieldList plaza{"TEXT", "200", "广场一句"};
  app->Net()->Chat().OnServerChat(plaza);
  app->Net()->Chat().DeliverNotices();
  Pump();
  EXPECT_NE(0u, server);
  EXPECT_NE(std::string::npos, Talk().find("广场一句"));
}

TEST_F(ChatWindowOffline, AddressesInTheConversationOpenWithAClick) {
  Member(200, "甲(200)", "10.0.0.2");
  PeerLine(200, "看这里 http://www.example.com/page 好", "10.0.0.2");
  OpenChat();
  HWND talk = Chat()->Conversation();
  FINDTEXTEXW find = {};
  find.chrg.cpMin = 0;
  find.chrg.cpMax = -1;
  find.lpstrText = L"http://www.example.com/page";
  LRESULT at = SendMessageW(talk, EM_FINDTEXTEXW, FR_DOWN, (LPARAM)&find);
  ASSERT_GE(at, 0);
  // The conversation found the address by itself and marks it as a link.
  CHARRANGE inside = {(LONG)at + 3, (LONG)at + 4};
  SendMessageW(talk, EM_EXSETSEL, 0, (LPARAM)&inside);
  CHARFORMATW cf = {};
  cf.cbSize = sizeof cf;
  cf.dwMask = CFM_LINK;
  SendMessageW(talk, EM_GETCHARFORMAT, SCF_SELECTION, (LPARAM)&cf);
  EXPECT_TRUE(cf.dwEffects & CFE_LINK);
  CHARRANGE before = {1, 2};
  SendMessageW(talk, EM_EXSETSEL, 0, (LPARAM)&before);
  // A press of the left button on the address.
  POINTL at5 = {};
  SendMessageW(talk, EM_POSFROMCHAR, (WPARAM)&at5, at + 5);
  SendMessageW(talk, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at5.x + 2, at5.y + 4));
  SendMessageW(talk, WM_LBUTTONUP, 0, MAKELPARAM(at5.x + 2, at5.y + 4));
  Pump();
  ASSERT_EQ(1u, opened.size());
  EXPECT_EQ("open", opened[0].verb);
  EXPECT_EQ("http://www.example.com/page", opened[0].target);
  EXPECT_EQ(os::kShowMaximized, opened[0].show);
  CHARRANGE after = {};
  SendMessageW(talk, EM_EXGETSEL, 0, (LPARAM)&after);
  EXPECT_EQ(after.cpMin, after.cpMax) << "the link's text does not stay selected";
  // A press elsewhere opens nothing.
  SendMessageW(talk, EM_POSFROMCHAR, (WPARAM)&at5, 1);
  SendMessageW(talk, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at5.x + 2, at5.y + 4));
  SendMessageW(talk, WM_LBUTTONUP, 0, MAKELPARAM(at5.x + 2, at5.y + 4));
  Pump();
  EXPECT_EQ(1u, opened.size());
  // The conversation asks for link notices and finds addresses by itself.
  EXPECT_TRUE(SendMessageW(talk, EM_GETEVENTMASK, 0, 0) & ENM_LINK);
}

// The pixels of a window as the screen has them, its frame and scroll bar included.
wintest::Canvas WindowPixels(HWND w) {
  RECT r = {};
  GetWindowRect(w, &r);
  int cw = r.right - r.left, ch = r.bottom - r.top;
  qb::OffscreenBitmap copy;
  wintest::MakeSurface(copy, cw, ch);
  HDC dc = GetWindowDC(w);
  BitBlt(copy.dc.Get(), 0, 0, cw, ch, dc, 0, 0, SRCCOPY);
  ReleaseDC(w, dc);
  return wintest::ReadCanvas(copy.dc.Get(), cw, ch);
}

// How many pixels of the box change when it is drawn whole again.
int PixelsAWholeDrawChanges(HWND w) {
  wintest::Canvas drawn = WindowPixels(w);
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
  wintest::Canvas whole = WindowPixels(w);
  int differ = 0;
  for (size_t i = 0; i < drawn.px.size(); ++i) differ += drawn.px[i] != whole.px[i];
  return differ;
}

// A line that comes in is drawn where the box changed, the text above it
// moved up by the scroll: the box looks as it does drawn whole, scroll bar
// included, before it scrolls and after, also where it took the user's
// selection away and where a leave-word went on the last line. Its
// addresses are links and nothing else is, whatever format the sender gave.
TEST_F(ChatWindowOffline, ArrivingLinesLookAsTheWholeBoxDrawnAgain) {
  Member(200, "甲(200)", "10.0.0.2");
  OpenChat();
  SetForegroundWindow(ChatWnd());
  HWND talk = Chat()->Conversation();
  for (int i = 0; i < 30; ++i) {
    std::string text = "第" + std::to_string(i) + "句";
    if (i % 7 == 3) text += " 见 http://www.example.com/" + std::to_string(i) + " 好";
    if (i % 7 == 5) text += " 看 http://www.example.com/end" + std::to_string(i);  // the next line begins right after it
    PeerLine(200, text, "10.0.0.2");
    Pump();
    if (i == 1 || i == 17 || i == 29) {
      PumpPast(qb::CMenuRichEdit::kBarQuietMs + 50);  // the scroll bar is drawn a moment later
      EXPECT_EQ(0, PixelsAWholeDrawChanges(talk)) << "after line " << i;
    }
  }
  EXPECT_GT(SendMessageW(talk, EM_GETFIRSTVISIBLELINE, 0, 0), 20) << "the box scrolled with the lines";
  // Text the user selected in the focused conversation: a line that comes
  // takes the selection to the end, and the highlight goes from the screen.
  SetFocus(talk);
  FINDTEXTEXW picked = {{0, -1}, L"第27句", {0, 0}};
  LRESULT pickedAt = SendMessageW(talk, EM_FINDTEXTEXW, FR_DOWN, (LPARAM)&picked);
  ASSERT_GE(pickedAt, 0);
  CHARRANGE selected = {(LONG)pickedAt, (LONG)pickedAt + 4};
  SendMessageW(talk, EM_EXSETSEL, 0, (LPARAM)&selected);
  PumpPast(qb::CMenuRichEdit::kBarQuietMs + 50);
  ASSERT_EQ(0, PixelsAWholeDrawChanges(talk));
  PeerLine(200, "选中之后", "10.0.0.2");
  PumpPast(qb::CMenuRichEdit::kBarQuietMs + 50);
  EXPECT_EQ(0, PixelsAWholeDrawChanges(talk)) << "after a line took the selection";
  SetFocus(Chat()->Input());
  // A part of the box waiting for its paint when a line comes (a window
  // moved off it; the line's message is taken before the paint) is painted.
  {
    HDC dc = GetDC(talk);
    RECT spot = {20, 20, 60, 40};
    qb::GdiBrush magenta(CreateSolidBrush(RGB(255, 0, 255)));
    FillRect(dc, &spot, magenta.Get());
    ReleaseDC(talk, dc);
    InvalidateRect(talk, &spot, FALSE);
  }
  PeerLine(200, "等着画的", "10.0.0.2");
  PumpPast(qb::CMenuRichEdit::kBarQuietMs + 50);
  EXPECT_EQ(0, PixelsAWholeDrawChanges(talk)) << "after a line came before a paint";
  // A leave-word has no line of its own: the last line goes on, and is drawn again.
  qb::FieldList word{"10002", "续上一行", "乙留言:"};
  app->Net()->Chat().OnLeaveWords(word);
  app->Net()->Chat().DeliverNotices();
  PumpPast(qb::CMenuRichEdit::kBarQuietMs + 50);
  EXPECT_NE(std::string::npos, Talk().find("等着画的乙留言:续上一行")) << Talk();
  EXPECT_EQ(0, PixelsAWholeDrawChanges(talk)) << "after the leave-word";
  // The sender's format says "link" (effects 0x20): the text stays plain.
  qb::FieldList f{"TEXT", "200", "不是链接", "60", "63488", "63", "0", "32", "210", "0", "0", "0", "134", "0", "宋体"};
  app->Net()->Chat().OnPeerChat(f, qb::ParseDottedAddress("10.0.0.2"));
  app->Net()->Chat().DeliverNotices();
  PumpPast(qb::CMenuRichEdit::kBarQuietMs + 50);
  EXPECT_EQ(0, PixelsAWholeDrawChanges(talk));
  auto linkAt = [&](const wchar_t* what, int offset) {
    FINDTEXTEXW find = {{0, -1}, what, {0, 0}};
    LRESULT at = SendMessageW(talk, EM_FINDTEXTEXW, FR_DOWN, (LPARAM)&find);
    EXPECT_GE(at, 0) << qb::Gbk(what);
    CHARRANGE one = {(LONG)at + offset, (LONG)at + offset + 1};
    SendMessageW(talk, EM_EXSETSEL, 0, (LPARAM)&one);
    CHARFORMATW cf = {};
    cf.cbSize = sizeof cf;
    SendMessageW(talk, EM_GETCHARFORMAT, SCF_SELECTION, (LPARAM)&cf);
    return (cf.dwEffects & CFE_LINK) != 0;
  };
  EXPECT_FALSE(linkAt(L"不是链接", 1));
  EXPECT_TRUE(linkAt(L"http://www.example.com/24", 8));
  EXPECT_FALSE(linkAt(L"http://www.example.com/24", 25)) << "the blank after the address";
  EXPECT_FALSE(linkAt(L"第24句", 1));
  // An address that ended its line is a link to its last character, the line after it none.
  EXPECT_TRUE(linkAt(L"http://www.example.com/end26", 0));
  EXPECT_TRUE(linkAt(L"http://www.example.com/end26", 27));
  EXPECT_FALSE(linkAt(L"http://www.example.com/end26", 28));
}

// Pieces put in together look exactly as each put in by itself: those of one
// whole format in a row go in as one insertion, a format that gives some
// attributes only, "\r" then "\n" and a change of format keep them apart, and
// an address across two pieces is one link either way.
TEST(ChatPieces, PutInTogetherTheyLookAsPutInOneByOne) {
  wintest::HostWindow host(640, 220);
  qb::CMenuRichEdit single, together;
  const DWORD style = WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
  ASSERT_TRUE(single.Create(style, {0, 0, 310, 210}, host.hwnd(), 1));
  ASSERT_TRUE(together.Create(style, {320, 0, 630, 210}, host.hwnd(), 2));
  single.SetAutoURLDetect(true);
  together.SetAutoURLDetect(true);
  auto format = [](COLORREF colour, const wchar_t* face, DWORD effects) {
    CHARFORMATW cf = {};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_ALL;
    cf.dwEffects = effects;
    cf.yHeight = 210;
    cf.crTextColor = colour;
    cf.bCharSet = GB2312_CHARSET;
    lstrcpynW(cf.szFaceName, face, LF_FACESIZE);
    return cf;
  };
  CHARFORMATW green = format(RGB(0, 128, 0), L"新宋体", 0), black = format(0, L"宋体", 0);
  CHARFORMATW bold = format(RGB(0, 0, 160), L"宋体", CFE_BOLD);
  CHARFORMATW redOnly = {};
  redOnly.cbSize = sizeof redOnly;
  redOnly.dwMask = CFM_COLOR;
  redOnly.crTextColor = RGB(200, 0, 0);
  std::vector<qb::CMenuRichEdit::Piece> pieces = {
      {L"\r\n甲(200)   12:00:00\r\n", green}, {L"看 http://www.exa", green}, {L"mple.com/x 好", green},
      {L"\r\n乙(300)   12:00:01\r\n", green}, {L"不同的格式", black},
      {L"粗体\r", bold}, {L"\n同格式", bold}, {L"红\r\n", redOnly}, {L"只有颜色", redOnly}};
  for (const qb::CMenuRichEdit::Piece& p : pieces) single.AppendText(p.text, p.format);
  together.AppendPieces(pieces);
  EXPECT_EQ(wintest::Text(single.GetSafeHwnd()), wintest::Text(together.GetSafeHwnd()));
  for (qb::CMenuRichEdit* box : {&single, &together}) {
    SendMessageW(box->GetSafeHwnd(), WM_VSCROLL, SB_TOP, 0);
    RedrawWindow(box->GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
  }
  wintest::Canvas a = WindowPixels(single.GetSafeHwnd()), b = WindowPixels(together.GetSafeHwnd());
  ASSERT_EQ(a.px.size(), b.px.size());
  int differ = 0;
  for (size_t i = 0; i < a.px.size(); ++i) differ += a.px[i] != b.px[i];
  EXPECT_EQ(0, differ);
  FINDTEXTEXW find = {{0, -1}, L"mple.com", {0, 0}};
  LRESULT at = SendMessageW(together.GetSafeHwnd(), EM_FINDTEXTEXW, FR_DOWN, (LPARAM)&find);
  ASSERT_GE(at, 0);
  CHARRANGE one = {(LONG)at, (LONG)at + 1};
  SendMessageW(together.GetSafeHwnd(), EM_EXSETSEL, 0, (LPARAM)&one);
  CHARFORMATW cf = {};
  cf.cbSize = sizeof cf;
  SendMessageW(together.GetSafeHwnd(), EM_GETCHARFORMAT, SCF_SELECTION, (LPARAM)&cf);
  EXPECT_TRUE(cf.dwEffects & CFE_LINK) << "the address across two pieces";
}

// A line that comes in draws its strip of the text and not the box's frame
// (its border and scroll bar): a mark painted over the scroll bar's top arrow
// stays while the line is handled, and goes when the scroll bar is drawn a
// moment later, or when the frame itself is asked for.
TEST_F(ChatWindowOffline, ALineDrawsItsTextNotTheFrame) {
  Member(200, "甲(200)", "10.0.0.2");
  OpenChat();
  SetForegroundWindow(ChatWnd());
  HWND talk = Chat()->Conversation();
  for (int i = 0; i < 20; ++i) PeerLine(200, "第" + std::to_string(i) + "句", "10.0.0.2");
  PumpPast(qb::CMenuRichEdit::kBarQuietMs + 50);
  auto barNow = [&] {
    SCROLLBARINFO bar = {};
    bar.cbSize = sizeof bar;
    EXPECT_TRUE(GetScrollBarInfo(talk, OBJID_VSCROLL, &bar));
    return bar;
  };
  SCROLLBARINFO bar = barNow();
  ASSERT_FALSE(bar.rgstate[0] & STATE_SYSTEM_INVISIBLE) << "the lines fill the box";
  RECT window = {};
  GetWindowRect(talk, &window);
  POINT mark = {bar.rcScrollBar.left - window.left + 3, bar.rcScrollBar.top - window.top + 3};
  const COLORREF kMark = RGB(255, 0, 255);
  auto markShows = [&] {
    HDC dc = GetWindowDC(talk);
    COLORREF seen = GetPixel(dc, mark.x, mark.y);
    ReleaseDC(talk, dc);
    return seen == kMark;
  };
  auto paintMark = [&] {
    HDC dc = GetWindowDC(talk);
    RECT spot = {mark.x - 1, mark.y - 1, mark.x + 2, mark.y + 2};
    qb::GdiBrush magenta(CreateSolidBrush(kMark));
    FillRect(dc, &spot, magenta.Get());
    ReleaseDC(talk, dc);
  };
  paintMark();
  ASSERT_TRUE(markShows());

  LONG lines = (LONG)SendMessageW(talk, EM_GETLINECOUNT, 0, 0);
  PeerLine(200, "新来的\r\n一句\r\n有\r\n六\r\n行\r\n长", "10.0.0.2");
  // Only what the line's handling posted, no later paint or timer.
  for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE);)
    if (m.message != WM_TIMER) DispatchMessageW(&m);
  EXPECT_NE(std::string::npos, Talk().find("新来的"));
  EXPECT_GT((LONG)SendMessageW(talk, EM_GETLINECOUNT, 0, 0), lines + 5);
  EXPECT_NE(bar.xyThumbTop, barNow().xyThumbTop) << "the scroll bar has moved";
  EXPECT_TRUE(markShows()) << "the line's drawing painted the frame";

  PumpPast(qb::CMenuRichEdit::kBarQuietMs + 50);
  EXPECT_FALSE(markShows()) << "the scroll bar was not drawn a moment later";
  EXPECT_EQ(0, PixelsAWholeDrawChanges(talk));
  paintMark();
  RedrawWindow(talk, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
  EXPECT_FALSE(markShows()) << "the frame asked for is drawn";

  // The frame's drawing is skipped for a paint whose region lies inside the
  // text (screen coordinates), never for one that reaches the border or bar.
  RECT client = {};
  GetClientRect(talk, &client);
  MapWindowPoints(talk, nullptr, (POINT*)&client, 2);
  auto reaches = [&](RECT r) {
    qb::GdiObject<HRGN> region(CreateRectRgnIndirect(&r));
    return qb::CMenuRichEdit::RegionReachesFrame(talk, (WPARAM)region.Get());
  };
  RECT strip = {client.left, client.bottom - 16, client.right, client.bottom};
  EXPECT_FALSE(reaches(strip));
  EXPECT_FALSE(reaches(client));
  EXPECT_TRUE(reaches({client.left, client.top, client.right + 1, client.bottom})) << "the bar's first column";
  EXPECT_TRUE(reaches({client.left, client.top - 1, client.right, client.top + 5})) << "the top border";
  EXPECT_TRUE(reaches({client.left - 1, client.bottom - 1, client.left + 1, client.bottom + 1})) << "a corner";
  EXPECT_TRUE(qb::CMenuRichEdit::RegionReachesFrame(talk, 1)) << "the whole window";
}

TEST_F(ChatWindowOffline, PosterBoardAdvertisementMenuAndPainting) {
  OpenChat();
  // The poster board: our forum's search for the circle title.
  Click(IDC_CHAT_POSTER);
  ASSERT_FALSE(opened.empty());
  EXPECT_EQ("http://bbs.qimbo.net/f?kw=您还未指定要进入的圈", opened.back().target);
  EXPECT_EQ(os::kShowMaximized, opened.back().show);

  // An advertisement address goes to the open window's panel.
  size_t before = opened.size();
  qb::FieldList ad{"http://ad.example/x"};
  app->Net()->Chat().OnChatAd(ad);
  Pump();
  EXPECT_EQ("http://ad.example/x", Chat()->AdAddress());
  EXPECT_EQ(before, opened.size()) << "nothing opens outside the window";
  EXPECT_FALSE(main->ChatPending());

  // The send-key menu.
  HMENU menu = Chat()->SendKeyMenu();
  ASSERT_EQ(2, GetMenuItemCount(menu));
  EXPECT_EQ((UINT)ID_CHAT_SEND_ENTER, GetMenuItemID(menu, 0));
  EXPECT_EQ((UINT)ID_CHAT_SEND_CTRL_ENTER, GetMenuItemID(menu, 1));
  wchar_t text[64] = {};
  GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
  EXPECT_EQ(L"按Enter键发送", std::wstring(text));
  GetMenuStringW(menu, 1, text, 64, MF_BYPOSITION);
  EXPECT_EQ(L"按Ctrl+Enter键发送", std::wstring(text));
  SendMessageW(ChatWnd(), WM_COMMAND, ID_CHAT_SEND_ENTER, 0);
  EXPECT_EQ(1, Chat()->SendKeyFlagNow());
  SendMessageW(ChatWnd(), WM_COMMAND, ID_CHAT_SEND_CTRL_ENTER, 0);
  EXPECT_EQ(0, Chat()->SendKeyFlagNow());
  EXPECT_EQ("Ctrl+Enter", app->Config().chatSendKey);

  // The background between the controls.
  RedrawWindow(ChatWnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT below = {5, 256, 5, 256};
  MapDialogRect(ChatWnd(), &below);
  HDC dc = GetDC(ChatWnd());
  COLORREF seen = GetPixel(dc, below.left, below.top);
  ReleaseDC(ChatWnd(), dc);
  EXPECT_EQ(RGB(230, 230, 200), seen);
}

TEST_F(ChatWindowOffline, ClosingSavesTheTrayFlagOnlyWhenItChanged) {
  std::string ini = folder.Path() + "config\\MyConfig.ini";
  OpenChat();
  os::RemoveFile(ini);
  SendMessageW(wnd, qb::WM_CLOSE_CHAT, 0, 0);
  EXPECT_FALSE(Chat());
  EXPECT_FALSE(os::FileExists(ini)) << "unchanged: not written";
  OpenChat();
  CheckDlgButton(ChatWnd(), IDC_CHAT_TRAY_TIP, BST_UNCHECKED);
  Click(IDC_CHAT_CLOSE);
  EXPECT_FALSE(Chat());
  EXPECT_EQ(0, app->Config().chatTip);
  qb::ConfigSettings saved;
  ASSERT_TRUE(qb::LoadConfig(folder.Path(), saved));
  EXPECT_EQ(0, saved.chatTip);
  // 1099 while a window is open: the old one goes, a new one comes.
  OpenChat();
  HWND first = ChatWnd();
  OpenChat();
  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(IsWindowVisible(ChatWnd()));
}

}  // namespace

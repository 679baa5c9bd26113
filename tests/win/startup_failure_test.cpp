// Start-up failures of the application object: each failing step shows its
// stop box and makes InitInstance return false; the shutdown that follows
// leaves no window, no thread, no Winsock start and no mutex behind, and the
// favorites on disk are as they were. Also the start with no favorites at all
// and the second copy's hotkey box.
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../../res/resource.h"
#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "os/net.h"
#include "os/os.h"
#include "skin/config.h"
#include "skin/skin.h"
#include "widgets/picture_win32.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "testutil.h"
#include "win_test_util.h"

namespace {

using Step = qb::CFavoritesApp::StartStep;

struct SeenBox {
  std::string text;
  unsigned flags;
};
std::vector<SeenBox> g_boxes;

int RecordBox(const std::string& gbkText, unsigned flags) {
  g_boxes.push_back({gbkText, flags});
  return IDOK;
}

// Every top-level window made on this thread while the hook is in.
std::vector<HWND> g_madeWindows;
HHOOK g_cbt = nullptr;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
    wchar_t cls[64] = {};
    if (HIWORD(reinterpret_cast<ULONG_PTR>(cs->lpszClass)))
      lstrcpynW(cls, cs->lpszClass, 64);
    // OLE's own message window lives until OLE is uninitialised at shutdown.
    if (!(cs->style & WS_CHILD) && lstrcmpW(cls, L"OleMainThreadWndClass") != 0)
      g_madeWindows.push_back(reinterpret_cast<HWND>(wParam));
  }
  return CallNextHookEx(g_cbt, code, wParam, lParam);
}

// The controls erased (WM_ERASEBKGND sent to a child window) while the hook
// is in.
HHOOK g_eraseHook = nullptr;
std::set<HWND> g_controlsErased;
LRESULT CALLBACK CountControlErases(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && m->message == WM_ERASEBKGND && (GetWindowLongW(m->hwnd, GWL_STYLE) & WS_CHILD))
    g_controlsErased.insert(m->hwnd);
  return CallNextHookEx(g_eraseHook, code, wParam, lParam);
}

std::set<DWORD> ThreadsOfThisProcess() {
  std::set<DWORD> ids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 te = {};
  te.dwSize = sizeof te;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(te.th32ThreadID);
  CloseHandle(snap);
  return ids;
}

// Whether Winsock is started in this process: a socket can be made.
bool WinsockUp() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return WSAGetLastError() != WSANOTINITIALISED;
  closesocket(s);
  return true;
}

std::wstring MutexName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  name.erase(0, name.find_last_of(L"\\/") + 1);
  return name.substr(0, name.rfind(L'.'));
}

bool MutexExists() {
  HANDLE m = OpenMutexW(SYNCHRONIZE, FALSE, MutexName().c_str());
  if (!m) return false;
  CloseHandle(m);
  return true;
}

void UseTestPorts(const std::string& programDir);

class StartupTest : public testing::Test {
 protected:
  void SetUp() override {
    g_boxes.clear();
    g_madeWindows.clear();
    qb::CFavoritesApp::SetBoxHook(RecordBox);
    std::string p = dir.Path();
    home = wintest::MakeProgramFolder(p, false);
    os::SetProgramDirectory(p);
  }
  void TearDown() override {
    if (g_cbt) UnhookWindowsHookEx(g_cbt);
    g_cbt = nullptr;
    if (g_eraseHook) UnhookWindowsHookEx(g_eraseHook);
    g_eraseHook = nullptr;
    qb::CMainDlg::SetStartShowMode(qb::CMainDlg::kStartShowOfProcess);
    qb::CFavoritesApp::SetBoxHook(nullptr);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  void WriteFavorites() {
    CMyNodeList list;
    CMyNode* cat = new CMyNode;
    cat->m_strName = "新闻";
    cat->m_nKind = UrlCategory;
    ASSERT_TRUE(list.AddNode(cat));
    CMyNode* item = new CMyNode;
    item->m_strName = "甲站";
    item->m_strAddress = "http://www.example.com/";
    item->m_nKind = UrlItem;
    item->m_pParent = cat;
    item->m_nVisits = 4;
    ASSERT_TRUE(list.AddNode(item));
    ASSERT_TRUE(SaveFavoritesFile(list, dir / "data\\", "1-我的收藏.sc"));
    ASSERT_TRUE(SaveFavoritesFile(list, dir / "data\\", "B.sc"));
  }
  // Every file of the data folder with its bytes.
  std::map<std::string, std::string> DataFiles() {
    std::vector<os::DirEntry> entries;
    os::ListFolder(dir / "data\\", "*.*", entries);
    std::map<std::string, std::string> files;
    for (const auto& e : entries)
      if (!e.isFolder) files[e.name] = qbtest::ReadFileBytes(dir / ("data\\" + e.name));
    return files;
  }
  std::unique_ptr<qb::CFavoritesApp> NewApp() {
    std::unique_ptr<qb::CFavoritesApp> app(new qb::CFavoritesApp);
    app->SetHomePath(home);
    return app;
  }
  // A failing case begins: no box or window seen yet, the threads running
  // now noted, each top-level window made from now on recorded (until
  // StopRecordingWindows), and the application object that fails at `step`.
  std::unique_ptr<qb::CFavoritesApp> BeginFailingCase(Step step, std::set<DWORD>* threadsBefore = nullptr) {
    g_boxes.clear();
    g_madeWindows.clear();
    if (threadsBefore) *threadsBefore = ThreadsOfThisProcess();
    g_cbt = SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
    EXPECT_TRUE(g_cbt);
    std::unique_ptr<qb::CFavoritesApp> app = NewApp();
    app->FailStartStep(step);
    return app;
  }
  void StopRecordingWindows() {
    UnhookWindowsHookEx(g_cbt);
    g_cbt = nullptr;
  }
  // The program with the test's favorites, on the test's ports, started up
  // to its loop; its main window (null when it did not start).
  qb::CMainDlg* StartBeforeTheLoop(std::unique_ptr<qb::CFavoritesApp>& app) {
    WriteFavorites();
    UseTestPorts(dir.Path());
    app = NewApp();
    if (!app->InitInstance()) return nullptr;
    return app->MainWindow();
  }
  // Ends a program that started, and checks that no box came and Winsock is down.
  void EndStartedProgram(std::unique_ptr<qb::CFavoritesApp>& app) {
    EXPECT_TRUE(g_boxes.empty());
    app->ExitInstance();
    app.reset();
    EXPECT_FALSE(WinsockUp());
    wintest::Pump();
  }

  qbtest::TempDir dir;
  std::string home;
};

struct FailCase {
  Step step;
  const char* box;
  bool resolverRan;  // the server-address thread was running when the step failed
};

const FailCase kCases[] = {
    {Step::kLogicObject, "初始化应用逻辑失败，按<确认>按钮退出程序！", false},
    {Step::kLogicStart, "初始化应用逻辑失败，按<确认>按钮退出程序！", false},
    {Step::kResolverObject, "新建对象(获取服务器IP线程)失败，按<确认>按钮退出程序！", false},
    {Step::kResolverStart, "创建(获取服务器IP线程)失败，按<确认>按钮退出程序！", false},
    {Step::kReceiveQueue, "初始化自定义接收消息队列失败，按<确认>按钮退出程序！", true},
    {Step::kNetState, "新建通讯代理对象失败，按<确认>按钮退出程序！", true},
    {Step::kMainWindowObject, "主窗口申请空间失败，按确认退出！", true},
    {Step::kMainWindowCreate, "创建主窗口失败，按确认退出！", true},
};
// The steps that come once the message loop runs, after the main window's first frame.
const FailCase kLateCases[] = {
    {Step::kFileBox, "创建主窗口失败，按确认退出！", true},
    {Step::kPanels, "创建URL窗口失败，按确认退出！", true},
    {Step::kChooserObject, "收藏窗口申请空间失败，按确认退出！", true},
    {Step::kChooserCreate, "创建收藏窗口失败，按确认退出！", true},
};

TEST_F(StartupTest, EachFailingStepShowsItsStopBoxAndTheShutdownLeavesNothingBehind) {
  WriteFavorites();
  const std::map<std::string, std::string> before = DataFiles();
  ASSERT_EQ(2u, before.size());
  ASSERT_FALSE(WinsockUp()) << "no Winsock start is left over from earlier tests";

  for (const FailCase& c : kCases) {
    SCOPED_TRACE(c.box);
    std::set<DWORD> threadsBefore;
    std::unique_ptr<qb::CFavoritesApp> app = BeginFailingCase(c.step, &threadsBefore);
    EXPECT_FALSE(app->InitInstance());
    StopRecordingWindows();

    ASSERT_EQ(1u, g_boxes.size()) << "exactly one box";
    EXPECT_EQ(std::string(c.box), g_boxes[0].text);
    EXPECT_EQ(static_cast<unsigned>(MB_OK | MB_ICONHAND), g_boxes[0].flags);
    EXPECT_EQ(nullptr, app->MainWindow());
    EXPECT_FALSE(app->NetworkStarted()) << "the links never start on a failed start";
    std::set<DWORD> started;
    for (DWORD id : ThreadsOfThisProcess())
      if (!threadsBefore.count(id)) started.insert(id);
    if (c.resolverRan) {
      EXPECT_FALSE(started.empty()) << "the server-address thread runs";
    }
    if (c.step != Step::kLogicObject && c.step != Step::kMainWindowObject) {
      // The main window is made while the model starts: it was made, and a
      // failure then or after it removed it again, before the shutdown.
      EXPECT_GE(g_madeWindows.size(), 1u);
      for (HWND w : g_madeWindows) EXPECT_FALSE(IsWindow(w)) << "removed with the main window object";
    } else {
      EXPECT_TRUE(g_madeWindows.empty()) << "no window without a model or a window object";
    }
    EXPECT_TRUE(WinsockUp());

    app->ExitInstance();
    EXPECT_EQ(nullptr, app->Logic());
    EXPECT_FALSE(WinsockUp()) << "Winsock is shut down as often as it was started";
    for (HWND w : g_madeWindows) EXPECT_FALSE(IsWindow(w)) << "a top-level window is left";
    std::set<DWORD> now = ThreadsOfThisProcess();
    for (DWORD id : started) EXPECT_FALSE(now.count(id)) << "thread " << id << " still runs";
    app.reset();
    EXPECT_FALSE(MutexExists()) << "the single-instance mutex is released";
    EXPECT_EQ(before, DataFiles()) << "a failed start writes no favorites";
  }

  // After all that a fresh application object starts normally in this process.
  g_boxes.clear();
  std::unique_ptr<qb::CFavoritesApp> app = NewApp();
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(g_boxes.empty());
  ASSERT_TRUE(app->MainWindow());
  EXPECT_TRUE(IsWindowVisible(app->MainWindow()->GetSafeHwnd()));
  EXPECT_TRUE(app->Logic()->FindNode("甲站", UrlItem));
  app->ExitInstance();
  app.reset();
  EXPECT_FALSE(WinsockUp());
  wintest::Pump();
}

// Hands the posted messages on as the program's loop does, for a while; true
// when the program asked to end (WM_QUIT).
bool PumpAndSeeQuit() {
  bool quit = false;
  MSG msg;
  for (int round = 0; round < 40; ++round) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
  return quit;
}

bool StartUpStepQueued(HWND main) {
  MSG msg;
  return PeekMessageW(&msg, main, qb::WM_AFTER_SHOW, qb::WM_AFTER_SHOW, PM_NOREMOVE) != FALSE;
}

// Takes the messages the loop takes before its first paint, which posted
// messages precede: the activation of a window shown without it (a start
// that asks for no show mode), posted as it showed.
void TakeTheMessagesBeforeTheFirstPaint(HWND main) {
  MSG msg;
  while (PeekMessageW(&msg, main, qb::WM_AFTER_SHOW, qb::WM_AFTER_SHOW, PM_REMOVE)) DispatchMessageW(&msg);
}

// Takes the main window's next start-up step off the queue and runs it, as
// the loop would; false when no step is queued.
bool RunOneStartUpStep(HWND main) {
  MSG msg;
  if (!PeekMessageW(&msg, main, qb::WM_AFTER_SHOW, qb::WM_AFTER_SHOW, PM_REMOVE)) return false;
  DispatchMessageW(&msg);
  return true;
}

// The links of these tests listen on ports of their own, away from any
// other copy of the program on this machine.
const int kTestPorts = 27130;
void UseTestPorts(const std::string& programDir) {
  qbtest::WriteFileBytes(programDir + "config\\NetServer.ini",
                         "[Server]\r\nPorts=" + std::to_string(kTestPorts) + "\r\n");
}

bool Reddish(COLORREF c) { return GetRValue(c) > 200 && GetBValue(c) < 60; }
bool Bluish(COLORREF c) { return GetBValue(c) > 200 && GetRValue(c) < 60; }

// The main window's first frame is painted before the message loop runs,
// with its skin image decoded ahead on the worker; the panels and the
// chooser come once the loop runs, then the links.
TEST_F(StartupTest, TheMainWindowPaintsFirstAndThePanelsAndChooserComeOnceTheLoopRuns) {
  WriteFavorites();
  UseTestPorts(dir.Path());
  qbtest::WriteFileBytes(dir / "skin\\main.jpg", wintest::RedBlueJpeg());
  qbtest::WriteFileBytes(dir / "skin\\panel.jpg", wintest::RedBlueJpeg());
  qb::SkinSet skins;
  qb::ResetSkins(skins);
  for (size_t area = 0; area < skins.size(); ++area)
    skins[area].m_strImagePath = dir / (area == 0 ? "skin\\main.jpg" : "skin\\panel.jpg");
  qbtest::WriteFileBytes(dir / "skin\\MySkin.db", qb::EncodeSkinRecords(skins));
  int taken = qb::PrefetchedPicturesTaken();

  std::unique_ptr<qb::CFavoritesApp> app = NewApp();
  ASSERT_TRUE(app->InitInstance());
  qb::CMainDlg* main = app->MainWindow();
  ASSERT_TRUE(main);
  HWND wnd = main->GetSafeHwnd();
  EXPECT_TRUE(IsWindowVisible(wnd));
  EXPECT_TRUE(GetUpdateRect(wnd, nullptr, FALSE)) << "nothing painted before the loop";
  TakeTheMessagesBeforeTheFirstPaint(wnd);
  EXPECT_EQ(wnd, GetActiveWindow()) << "activated before its first paint";
  EXPECT_EQ(nullptr, main->FileBox()) << "the file box comes after the first frame";
  EXPECT_EQ(wnd, GetFocus()) << "kept by the window for the file box, not given to a button";
  EXPECT_TRUE(main->PanelsDue());
  EXPECT_EQ(nullptr, main->TabPanel()) << "no panel before the loop runs";
  EXPECT_EQ(nullptr, app->Chooser());
  EXPECT_FALSE(app->NetworkStarted());
  // The loop's first paint comes before any step: none is queued until then.
  EXPECT_FALSE(StartUpStepQueued(wnd));
  EXPECT_TRUE(GetUpdateRect(wnd, nullptr, FALSE)) << "the first frame is the loop's to paint";
  UpdateWindow(wnd);
  EXPECT_TRUE(StartUpStepQueued(wnd));
  EXPECT_FALSE(GetUpdateRect(GetDlgItem(wnd, IDC_EXIT_BUTTON), nullptr, FALSE))
      << "the controls are painted with the first frame, before the steps";
  EXPECT_FALSE(GetUpdateRect(GetDlgItem(wnd, IDC_BANNER), nullptr, FALSE));
  EXPECT_EQ(nullptr, main->TabPanel());
  EXPECT_EQ(taken + 1, qb::PrefetchedPicturesTaken()) << "the first paint took the worker's picture";
  RECT rc;
  GetClientRect(wnd, &rc);
  HDC dc = GetDC(wnd);
  COLORREF left = GetPixel(dc, rc.right / 8, rc.bottom / 2), right = GetPixel(dc, rc.right * 7 / 8, rc.bottom / 2);
  ReleaseDC(wnd, dc);
  EXPECT_TRUE(Reddish(left)) << std::hex << left;
  EXPECT_TRUE(Bluish(right)) << std::hex << right;

  wintest::Pump();
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_EQ(main->FileBox(), GetFocus()) << "the file box has the keyboard focus, as the first control";
  EXPECT_EQ(main->FileBox(), GetNextDlgTabItem(wnd, nullptr, FALSE));
  EXPECT_FALSE(main->PanelsDue());
  ASSERT_TRUE(main->TabPanel());
  EXPECT_TRUE(IsWindowVisible(main->TabPanel()));
  EXPECT_TRUE(IsWindowVisible(main->UrlPanel()));
  EXPECT_FALSE(IsWindowVisible(main->LnkPanel()));
  EXPECT_EQ(main->TabPanel(), app->Ui().windows[static_cast<int>(qb::UiTarget::TabPanel)]);
  EXPECT_EQ(main->UrlPanel(), app->Ui().windows[static_cast<int>(qb::UiTarget::ItemPanel)]);
  ASSERT_TRUE(app->Chooser());
  EXPECT_FALSE(IsWindowVisible(app->Chooser()));
  EXPECT_TRUE(app->NetworkStarted());
  EXPECT_EQ(taken + 2, qb::PrefetchedPicturesTaken()) << "the first panel shown took the other picture";
  // Shown again later (the settings window closing does so), the panels come at once.
  main->Hide();
  EXPECT_TRUE(main->Show());
  EXPECT_TRUE(IsWindowVisible(main->TabPanel()));
  app->ExitInstance();
  app.reset();
  EXPECT_FALSE(WinsockUp());
  wintest::Pump();
  // Both pictures are kept decoded in the program folder for the next start.
  for (const char* image : {"skin\\main.jpg", "skin\\panel.jpg"})
    EXPECT_TRUE(os::FileExists(qb::KeptPictureFile(dir / "images\\cache\\", dir / image))) << image;
}

// A start that asks for no show mode shows the main window with its
// controls' erasing deferred to the loop's first frame, so that the loop
// answers sooner; a start that asks for one (a shortcut's) keeps the usual
// first ShowWindow, which takes that mode and erases the controls at once.
// Either way the window comes up active with the file box's focus, whole
// after the first paint.
TEST_F(StartupTest, AStartAskingNoShowModeErasesTheControlsInTheFirstFrame) {
  std::vector<COLORREF> firstFrame;  // of the first start
  for (int mode : {qb::CMainDlg::kStartShowNotAsked, static_cast<int>(SW_SHOWNORMAL)}) {
    SCOPED_TRACE(mode);
    qb::CMainDlg::SetStartShowMode(mode);
    g_controlsErased.clear();
    g_eraseHook = SetWindowsHookExW(WH_CALLWNDPROC, CountControlErases, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(g_eraseHook);
    std::unique_ptr<qb::CFavoritesApp> app;
    qb::CMainDlg* main = StartBeforeTheLoop(app);
    ASSERT_TRUE(main);
    HWND wnd = main->GetSafeHwnd();
    EXPECT_TRUE(IsWindowVisible(wnd));
    EXPECT_FALSE(IsIconic(wnd));
    TakeTheMessagesBeforeTheFirstPaint(wnd);
    EXPECT_EQ(wnd, GetActiveWindow());
    EXPECT_EQ(wnd, GetFocus());
    HWND exit = GetDlgItem(wnd, IDC_EXIT_BUTTON);
    if (mode == qb::CMainDlg::kStartShowNotAsked)
      EXPECT_TRUE(g_controlsErased.empty()) << "no control erased before the loop";
    else
      EXPECT_TRUE(g_controlsErased.count(exit)) << "the usual showing erases the controls";
    g_controlsErased.clear();
    UpdateWindow(wnd);
    for (int id : {IDC_EXIT_BUTTON, IDC_BANNER})
      EXPECT_FALSE(GetUpdateRect(GetDlgItem(wnd, id), nullptr, FALSE)) << id << " painted in the first frame";
    if (mode == qb::CMainDlg::kStartShowNotAsked) {
      EXPECT_TRUE(g_controlsErased.count(exit)) << "the controls erased as they paint";
    }
    RECT rc;
    GetClientRect(wnd, &rc);
    HDC dc = GetDC(wnd);
    wintest::Canvas frame = wintest::ReadCanvas(dc, rc.right, rc.bottom);
    ReleaseDC(wnd, dc);
    EXPECT_LT(2u, std::set<COLORREF>(frame.px.begin(), frame.px.end()).size()) << "a drawn frame";
    if (firstFrame.empty())
      firstFrame = frame.px;
    else
      EXPECT_TRUE(firstFrame == frame.px) << "the same first frame either way";
    // The file box, made in the first step, takes the focus and the place
    // the first frame drew it in, and looks as it was drawn there.
    ASSERT_TRUE(RunOneStartUpStep(wnd));
    HWND box = main->FileBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box, GetFocus());
    EXPECT_FALSE(GetUpdateRect(box, nullptr, FALSE)) << "painted in its step, before the panels' steps";
    int field = 0;
    RECT drawn = main->FileBoxPlace(&field), made;
    GetWindowRect(box, &made);
    MapWindowPoints(nullptr, wnd, reinterpret_cast<POINT*>(&made), 2);
    EXPECT_TRUE(EqualRect(&drawn, &made)) << made.left << "," << made.top << " " << made.right << "," << made.bottom;
    UpdateWindow(wnd);
    dc = GetDC(wnd);
    wintest::Canvas withBox = wintest::ReadCanvas(dc, rc.right, rc.bottom);
    ReleaseDC(wnd, dc);
    int differ = 0;
    for (int y = 0; y < std::min<int>(made.bottom + 8, rc.bottom); ++y)
      for (int x = 0; x < std::min<int>(made.right + 8, rc.right); ++x) differ += frame.At(x, y) != withBox.At(x, y);
    EXPECT_EQ(0, differ) << "pixels around the file box changed as it was made";
    wintest::Pump();
    EXPECT_TRUE(IsWindowVisible(main->TabPanel()));
    // Hidden and shown again, it shows the usual way, erasing at once.
    main->Hide();
    g_controlsErased.clear();
    EXPECT_TRUE(main->Show());
    EXPECT_TRUE(IsWindowVisible(wnd));
    EXPECT_TRUE(g_controlsErased.count(exit));
    EXPECT_TRUE(IsWindowVisible(main->UrlPanel()));
    UnhookWindowsHookEx(g_eraseHook);
    g_eraseHook = nullptr;
    EndStartedProgram(app);
  }
}

// The work after the first frame comes one step per message, so that the
// loop answers, paints and takes input between the steps: the file box,
// OLE, the panels made, each panel shown, the chooser, the window's icons, the links, the
// tray icon. A window hidden between the steps gets no panel over it until
// it is shown again.
TEST_F(StartupTest, TheWorkAfterTheFirstFrameComesOneStepPerMessage) {
  std::unique_ptr<qb::CFavoritesApp> app;
  qb::CMainDlg* main = StartBeforeTheLoop(app);
  ASSERT_TRUE(main);
  HWND wnd = main->GetSafeHwnd();
  TakeTheMessagesBeforeTheFirstPaint(wnd);
  EXPECT_FALSE(RunOneStartUpStep(wnd)) << "the steps begin with the first paint";
  UpdateWindow(wnd);
  EXPECT_FALSE(app->OleStarted()) << "the first frame does without OLE";
  EXPECT_FALSE(GetDlgItem(wnd, IDC_OPEN_ALL_BROWSER)) << "nor the hidden browser";
  EXPECT_FALSE(main->SkinMenu()) << "nor the buttons' menus";
  EXPECT_FALSE(main->FileBox()) << "nor the file box";

  ASSERT_TRUE(RunOneStartUpStep(wnd));
  HWND focus = main->FileBox();
  ASSERT_TRUE(focus);
  EXPECT_EQ(focus, GetFocus());
  EXPECT_NE(CB_ERR, SendMessageW(focus, CB_GETCURSEL, 0, 0)) << "filled, a file chosen";
  EXPECT_FALSE(app->OleStarted());
  ASSERT_TRUE(RunOneStartUpStep(wnd));
  EXPECT_TRUE(app->OleStarted());
  EXPECT_TRUE(GetDlgItem(wnd, IDC_OPEN_ALL_BROWSER));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(wnd, IDC_OPEN_ALL_BROWSER)));
  EXPECT_LT(0, GetMenuItemCount(main->SkinMenu()));
  EXPECT_EQ(nullptr, main->TabPanel());
  ASSERT_TRUE(RunOneStartUpStep(wnd));
  ASSERT_TRUE(main->TabPanel());
  EXPECT_EQ(main->TabPanel(), app->Ui().windows[static_cast<int>(qb::UiTarget::TabPanel)]);
  EXPECT_FALSE(IsWindowVisible(main->TabPanel())) << "made hidden";
  EXPECT_EQ(focus, GetFocus()) << "the focus stays where the first frame put it";
  ASSERT_TRUE(RunOneStartUpStep(wnd));
  EXPECT_TRUE(IsWindowVisible(main->TabPanel()));
  EXPECT_FALSE(IsWindowVisible(main->UrlPanel()));
  EXPECT_TRUE(main->PanelsDue());

  main->Hide();
  ASSERT_TRUE(RunOneStartUpStep(wnd));
  EXPECT_FALSE(main->PanelsDue());
  EXPECT_FALSE(IsWindowVisible(main->TabPanel()));
  EXPECT_FALSE(IsWindowVisible(main->UrlPanel())) << "no panel over a hidden window";
  EXPECT_TRUE(main->Show());
  EXPECT_TRUE(IsWindowVisible(main->TabPanel()));
  EXPECT_TRUE(IsWindowVisible(main->UrlPanel()));

  ASSERT_TRUE(RunOneStartUpStep(wnd));
  ASSERT_TRUE(app->Chooser());
  EXPECT_FALSE(IsWindowVisible(app->Chooser()));
  auto aboutEntry = [wnd] { return GetMenuState(GetSystemMenu(wnd, FALSE), IDM_ABOUTBOX, MF_BYCOMMAND) != ~0u; };
  EXPECT_EQ(0, SendMessageW(wnd, WM_GETICON, ICON_BIG, 0));
  EXPECT_FALSE(aboutEntry());
  ASSERT_TRUE(RunOneStartUpStep(wnd));
  EXPECT_TRUE(aboutEntry()) << "the system menu's entry comes with the icons";
  EXPECT_NE(0, SendMessageW(wnd, WM_GETICON, ICON_BIG, 0));
  EXPECT_NE(0, SendMessageW(wnd, WM_GETICON, ICON_SMALL, 0));
  EXPECT_FALSE(app->NetworkStarted());
  ASSERT_TRUE(RunOneStartUpStep(wnd));
  EXPECT_TRUE(app->NetworkStarted());
  EXPECT_FALSE(main->Tray().Enabled());
  ASSERT_TRUE(RunOneStartUpStep(wnd));
  EXPECT_TRUE(main->Tray().Enabled());
  EXPECT_FALSE(RunOneStartUpStep(wnd)) << "the tray icon is the last step";
  EndStartedProgram(app);
}

// A window hidden (or minimised) before its first paint gets no paint: the
// steps after the first frame begin as it hides, and it is whole when shown.
TEST_F(StartupTest, AWindowHiddenBeforeItsFirstPaintStillGetsItsPanelsChooserLinksAndTray) {
  std::unique_ptr<qb::CFavoritesApp> app;
  qb::CMainDlg* main = StartBeforeTheLoop(app);
  ASSERT_TRUE(main);
  HWND wnd = main->GetSafeHwnd();
  TakeTheMessagesBeforeTheFirstPaint(wnd);
  EXPECT_FALSE(StartUpStepQueued(wnd));
  main->Hide();
  EXPECT_TRUE(StartUpStepQueued(wnd));
  wintest::Pump();
  EXPECT_FALSE(main->PanelsDue());
  ASSERT_TRUE(main->TabPanel());
  EXPECT_FALSE(IsWindowVisible(main->TabPanel())) << "no panel over a hidden window";
  EXPECT_TRUE(app->Chooser());
  EXPECT_TRUE(app->NetworkStarted());
  EXPECT_TRUE(main->Tray().Enabled());
  EXPECT_TRUE(main->Show());
  EXPECT_TRUE(IsWindowVisible(main->TabPanel()));
  EXPECT_TRUE(IsWindowVisible(main->UrlPanel()));
  EndStartedProgram(app);
}

// A window hidden before the loop takes the activation posted as it showed
// stays hidden and inactive (the tray brings it back), and still gets its
// panels, chooser, links and tray icon; shown again, it is active at once.
TEST_F(StartupTest, AWindowHiddenBeforeItsActivationStaysHiddenAndInactive) {
  qb::CMainDlg::SetStartShowMode(qb::CMainDlg::kStartShowNotAsked);
  std::unique_ptr<qb::CFavoritesApp> app;
  qb::CMainDlg* main = StartBeforeTheLoop(app);
  ASSERT_TRUE(main);
  HWND wnd = main->GetSafeHwnd();
  main->Hide();
  wintest::Pump();
  EXPECT_FALSE(IsWindowVisible(wnd));
  EXPECT_NE(wnd, GetActiveWindow());
  EXPECT_NE(wnd, GetForegroundWindow());
  EXPECT_TRUE(main->Tray().Enabled());
  EXPECT_TRUE(main->Show());
  EXPECT_EQ(wnd, GetActiveWindow());
  EXPECT_TRUE(IsWindowVisible(main->UrlPanel()));
  EndStartedProgram(app);
}

// The file box, a panel or the chooser that cannot be made once the loop
// runs shows its box and ends the program before any link starts; the shutdown removes the
// main window and leaves nothing behind.
TEST_F(StartupTest, APanelOrChooserThatCannotBeMadeOnceTheLoopRunsShowsItsBoxAndEndsTheProgram) {
  WriteFavorites();
  UseTestPorts(dir.Path());
  const std::map<std::string, std::string> before = DataFiles();
  for (const FailCase& c : kLateCases) {
    SCOPED_TRACE(c.box);
    std::set<DWORD> threadsBefore;
    std::unique_ptr<qb::CFavoritesApp> app = BeginFailingCase(c.step, &threadsBefore);
    ASSERT_TRUE(app->InitInstance());
    EXPECT_TRUE(g_boxes.empty()) << "nothing failed before the first frame";
    ASSERT_TRUE(app->MainWindow());
    EXPECT_TRUE(IsWindowVisible(app->MainWindow()->GetSafeHwnd()));
    EXPECT_TRUE(PumpAndSeeQuit()) << "the program ends";
    StopRecordingWindows();
    ASSERT_EQ(1u, g_boxes.size());
    EXPECT_EQ(std::string(c.box), g_boxes[0].text);
    EXPECT_EQ(static_cast<unsigned>(MB_OK | MB_ICONHAND), g_boxes[0].flags);
    EXPECT_FALSE(app->NetworkStarted()) << "the links never start on a failed start";
    EXPECT_EQ(nullptr, app->Chooser());
    app->ExitInstance();
    EXPECT_EQ(nullptr, app->MainWindow());
    EXPECT_FALSE(WinsockUp());
    ASSERT_GE(g_madeWindows.size(), 1u);
    for (HWND w : g_madeWindows) EXPECT_FALSE(IsWindow(w)) << "a top-level window is left";
    std::set<DWORD> now = ThreadsOfThisProcess();
    for (DWORD id : now) EXPECT_TRUE(threadsBefore.count(id)) << "thread " << id << " still runs";
    app.reset();
    EXPECT_FALSE(MutexExists());
    EXPECT_EQ(before, DataFiles()) << "a failed start writes no favorites";
  }
  wintest::Pump();
}

// The links start once the main window is up. A link thread that cannot
// start ends the start-up with the link-thread box; the links started before
// it are stopped by the shutdown, and nothing is saved.
TEST_F(StartupTest, ALinkThreadThatCannotStartShowsItsBoxAndEndsTheProgram) {
  WriteFavorites();
  UseTestPorts(dir.Path());
  const std::map<std::string, std::string> before = DataFiles();
  std::unique_ptr<qb::CFavoritesApp> app = BeginFailingCase(Step::kLinkThread);
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(g_boxes.empty()) << "nothing failed before the window was up";
  EXPECT_TRUE(PumpAndSeeQuit()) << "the program ends";
  StopRecordingWindows();
  ASSERT_EQ(1u, g_boxes.size());
  EXPECT_EQ("创建线程(通讯代理)失败，按<确认>按钮退出程序！", g_boxes[0].text);
  EXPECT_EQ(static_cast<unsigned>(MB_OK | MB_ICONHAND), g_boxes[0].flags);
  ASSERT_TRUE(app->Links());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(app->Links()->Link(i).IsRunning()) << i;
  EXPECT_FALSE(app->Links()->Link(3).IsRunning());
  EXPECT_FALSE(app->Links()->Link(4).IsRunning()) << "no link starts after the failing one";
  app->ExitInstance();
  EXPECT_FALSE(WinsockUp());
  for (HWND w : g_madeWindows) EXPECT_FALSE(IsWindow(w)) << "a top-level window is left";
  app.reset();
  EXPECT_EQ(before, DataFiles()) << "a failed start writes no favorites";
  wintest::Pump();
}

// A port another program holds keeps only that link down: the program runs
// on and says so in one box, naming every such port.
TEST_F(StartupTest, PortsTakenByAnotherProgramAreToldInOneBoxAndTheProgramRunsOn) {
  WriteFavorites();
  UseTestPorts(dir.Path());
  ASSERT_TRUE(os::NetStartup());
  os::CUdpSocket first, second;
  ASSERT_TRUE(first.Open() && second.Open());
  ASSERT_TRUE(first.Bind(0, kTestPorts + 1));
  ASSERT_TRUE(second.Bind(0, kTestPorts + 3));
  std::unique_ptr<qb::CFavoritesApp> app = NewApp();
  ASSERT_TRUE(app->InitInstance());
  EXPECT_FALSE(PumpAndSeeQuit()) << "the program runs on";
  ASSERT_EQ(1u, g_boxes.size());
  EXPECT_EQ("通讯端口27131、27133已被其他程序占用，程序不用这些端口继续运行！", g_boxes[0].text);
  EXPECT_EQ(static_cast<unsigned>(MB_OK | MB_ICONEXCLAMATION), g_boxes[0].flags);
  ASSERT_TRUE(app->MainWindow());
  EXPECT_TRUE(IsWindowVisible(app->MainWindow()->GetSafeHwnd()));
  for (int i : {0, 2, 4}) EXPECT_TRUE(app->Links()->Link(i).IsRunning()) << i;
  for (int i : {1, 3}) EXPECT_FALSE(app->Links()->Link(i).IsRunning()) << i;
  app->ExitInstance();
  app.reset();
  first.Close();
  second.Close();
  os::NetCleanup();
  EXPECT_FALSE(WinsockUp());
  wintest::Pump();
}

TEST_F(StartupTest, NoFaultSetStartsNormallyWithoutABox) {
  WriteFavorites();
  std::unique_ptr<qb::CFavoritesApp> app = NewApp();
  app->FailStartStep(Step::kNone);
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_TRUE(MutexExists());
  // The keep-alive, asked for by the network state before the main window
  // existed, runs on the main window (KillTimer finds only a set timer).
  ASSERT_TRUE(app->MainWindow());
  EXPECT_TRUE(KillTimer(app->MainWindow()->GetSafeHwnd(), qb::kKeepAliveTimer));
  app->ExitInstance();
  app.reset();
  EXPECT_FALSE(MutexExists());
  wintest::Pump();
}

TEST_F(StartupTest, WithoutFavoritesFileOrFavoritesFolderTheWebFolderStartsEmpty) {
  ASSERT_FALSE(os::FileExists(home + "\\Favorites"));
  ASSERT_TRUE(DataFiles().empty());
  std::unique_ptr<qb::CFavoritesApp> app = NewApp();
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(g_boxes.empty()) << "no box: a missing Favorites folder is no failure";
  ASSERT_TRUE(app->MainWindow());
  EXPECT_TRUE(IsWindowVisible(app->MainWindow()->GetSafeHwnd()));
  for (const CMyNode* n : *app->Logic())
    EXPECT_TRUE(n->m_nKind == ProgramCategory || n->m_nKind == ProgramItem) << n->m_strName;
  EXPECT_EQ("1-我的收藏.sc", app->Logic()->m_strCurrentFile);
  app->ExitInstance();
  app.reset();
  wintest::Pump();
}

int g_keyEvents = 0;
HHOOK g_keyHook = nullptr;
LRESULT CALLBACK CountKeys(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) ++g_keyEvents;
  return CallNextHookEx(g_keyHook, code, wParam, lParam);
}

TEST_F(StartupTest, ASecondCopyWithABrowserWindowReplaysAUsableHotkeyAndBoxesAnUnusableOne) {
  // The running copy is the mutex held here; a browser frame window exists.
  HANDLE running = CreateMutexW(nullptr, TRUE, MutexName().c_str());
  ASSERT_TRUE(running);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"IEFrame";
  RegisterClassW(&wc);
  HWND browser = CreateWindowExW(0, L"IEFrame", L"browser", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(browser);
  g_keyEvents = 0;
  g_keyHook = SetWindowsHookExW(WH_KEYBOARD_LL, CountKeys, GetModuleHandleW(nullptr), 0);

  for (const char* hotkey : {"A", "F12", "Ctrl+S"}) {
    SCOPED_TRACE(hotkey);
    qb::ConfigSettings config;
    config.hotkeyText = hotkey;
    ASSERT_TRUE(qb::SaveConfig(dir.Path(), config));
    g_boxes.clear();
    std::unique_ptr<qb::CFavoritesApp> second = NewApp();
    EXPECT_FALSE(second->InitInstance());
    EXPECT_EQ(nullptr, second->Logic());
    EXPECT_EQ(nullptr, second->MainWindow());
    if (std::string(hotkey) == "Ctrl+S") {
      // A usable hotkey is replayed with no box (the order of its keystrokes
      // is checked from outside the program by the app driver).
      EXPECT_TRUE(g_boxes.empty());
      wintest::Pump();
      EXPECT_EQ(4, g_keyEvents) << "Ctrl down, S down, S up, Ctrl up";
    } else {
      ASSERT_EQ(1u, g_boxes.size());
      EXPECT_EQ("收藏热键有问题，请检查！", g_boxes[0].text);
      EXPECT_EQ(static_cast<unsigned>(MB_OK | MB_ICONHAND), g_boxes[0].flags);
      wintest::Pump();
      EXPECT_EQ(0, g_keyEvents) << "an unusable hotkey sends no keystroke";
    }
    second->ExitInstance();
    EXPECT_FALSE(WinsockUp()) << "a second copy never starts Winsock";
    second.reset();
    EXPECT_TRUE(MutexExists()) << "the running copy keeps its mutex";
  }
  UnhookWindowsHookEx(g_keyHook);
  g_keyHook = nullptr;
  wintest::Pump();
  DestroyWindow(browser);
  CloseHandle(running);
}

}  // namespace

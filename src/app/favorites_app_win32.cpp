// The application object: start-up, the message loop and shutdown.
#include "app/favorites_app_win32.h"

#include <winsock2.h>

#include <algorithm>
#include <commctrl.h>
#include <ole2.h>

#include "../../res/resource.h"
#include "app/main_dlg_win32.h"
#include "app/startup_trace_win32.h"
#include "net/login.h"
#include "os/os.h"
#include "panels/site_icon.h"
#include "panels/browser_win32.h"
#include "panels/chooser_win32.h"
#include "skin/hotkey.h"
#include "widgets/picture_win32.h"
#include "widgets/prompt_dlg_win32.h"
#include "win/text_win32.h"

namespace qb {

CFavoritesApp* CFavoritesApp::s_instance = nullptr;

namespace {

CFavoritesApp::BoxHook g_boxHook = nullptr;

int Box(const std::string& gbk, unsigned flags = MB_OK | MB_ICONHAND) {
  if (g_boxHook) return g_boxHook(gbk, flags);
  return MessageBoxW(nullptr, W(gbk).c_str(), L"Qimbo\u6536\u85CF", flags);
}

// Whether a browser window is open: the test of the second copy, the hotkey
// and the capture alike.
bool BrowserWindowOpen() { return panels::FindBrowserWindow().hwnd != nullptr; }

// The notice of links left down because their ports are taken.
std::string PortsTakenText(const std::vector<uint16_t>& ports) {
  std::string list;
  for (uint16_t p : ports) list += (list.empty() ? "" : "、") + std::to_string(p);
  return "通讯端口" + list + "已被其他程序占用，程序不用" + (ports.size() > 1 ? "这些端口" : "该端口") +
         "继续运行！";
}

void SendKey(int vk, bool down) {
  keybd_event(static_cast<BYTE>(vk), static_cast<BYTE>(MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC)),
              down ? 0 : KEYEVENTF_KEYUP, 0);
}

// The executable's base name: the name of the single-instance mutex.
std::wstring ApplicationName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

}  // namespace

// ---- the user interface of the model ----------------------------------------

int CWinUi::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
  HWND owner = windows[static_cast<int>(UiTarget::MainWindow)];
  return MessageBoxW(owner && IsWindowVisible(owner) ? owner : nullptr, W(text).c_str(),
                     W(caption.empty() ? std::string("Qimbo收藏") : caption).c_str(), flags);
}

void CWinUi::Post(UiTarget target, unsigned msg, uintptr_t wParam, intptr_t lParam) {
  int i = static_cast<int>(target);
  if (windows[i])
    PostMessageW(windows[i], msg, wParam, lParam);
  else if (threads[i])
    PostThreadMessageW(threads[i], msg, wParam, lParam);
}

void CWinUi::Deliver(UiTarget target, unsigned msg, uintptr_t wParam, intptr_t lParam) {
  HWND w = windows[static_cast<int>(target)];
  if (w && GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId())
    SendMessageW(w, msg, wParam, lParam);
  else
    Post(target, msg, wParam, lParam);
}

void CWinUi::StartTimer(UiTarget target, unsigned id, unsigned ms) {
  HWND wnd = windows[static_cast<int>(target)];
  if (!wnd) wnd = windows[static_cast<int>(UiTarget::MainWindow)];
  if (wnd) {
    SetTimer(wnd, id, ms, nullptr);
    return;
  }
  StopTimer(target, id);
  m_pendingTimers.push_back({id, ms});
}

void CWinUi::StopTimer(UiTarget target, unsigned id) {
  HWND wnd = windows[static_cast<int>(target)];
  if (!wnd) wnd = windows[static_cast<int>(UiTarget::MainWindow)];
  if (wnd) KillTimer(wnd, id);
  m_pendingTimers.erase(std::remove_if(m_pendingTimers.begin(), m_pendingTimers.end(),
                                       [id](const PendingTimer& t) { return t.id == id; }),
                        m_pendingTimers.end());
}

void CWinUi::SetWindow(UiTarget target, HWND wnd) {
  windows[static_cast<int>(target)] = wnd;
  if (target != UiTarget::MainWindow || !wnd) return;
  for (const PendingTimer& t : m_pendingTimers) SetTimer(wnd, t.id, t.ms, nullptr);
  m_pendingTimers.clear();
}

// ---- the second copy ---------------------------------------------------------

std::vector<KeyEvent> HotkeyKeystrokes(int modifiers, int virtualKey) {
  const int order[3][2] = {{kHotkeyShift, VK_SHIFT}, {kHotkeyCtrl, VK_CONTROL}, {kHotkeyAlt, VK_MENU}};
  std::vector<KeyEvent> keys;
  for (const auto& m : order)
    if (modifiers & m[0]) keys.emplace_back(m[1], true);
  keys.emplace_back(virtualKey, true);
  keys.emplace_back(virtualKey, false);
  for (const auto& m : order)
    if (modifiers & m[0]) keys.emplace_back(m[1], false);
  return keys;
}

bool SendHotkeyToRunningCopy(const std::string& programDir, KeySender send) {
  ConfigSettings config;
  if (!LoadConfig(programDir, config)) return true;
  if (config.hotkeyText.empty()) return true;
  int modifiers = 0, key = 0;
  ParseHotkeyText(config.hotkeyText, modifiers, key);
  if (!IsHotkeyUsable(modifiers, key)) return false;
  for (const KeyEvent& k : HotkeyKeystrokes(modifiers, key)) send(k.first, k.second);
  return true;
}

// ---- start-up ------------------------------------------------------------------

void CFavoritesApp::SetBoxHook(BoxHook hook) { g_boxHook = hook; }

CFavoritesApp::CFavoritesApp() { s_instance = this; }

CFavoritesApp::~CFavoritesApp() {
  JoinLogic();  // an object left without its shutdown
  if (s_instance == this) s_instance = nullptr;
}

std::string CFavoritesApp::ProgramDir() const {
  return m_logic ? m_logic->m_strProgramDir : os::ProgramDirectory();
}

SkinColours CFavoritesApp::SkinLook(int area) const {
  const SkinStyle& s = m_logic->m_skins[static_cast<size_t>(area)];
  return SkinColoursOf(s, s.m_font ? static_cast<HFONT>(s.m_font->Handle()) : nullptr);
}

bool CFavoritesApp::SecondCopy() {
  if (BrowserWindowOpen()) {
    if (!SendHotkeyToRunningCopy(os::ProgramDirectory(), SendKey)) Box("收藏热键有问题，请检查！");
  }
  return false;
}

bool CFavoritesApp::InitInstance() {
  StartupMark("InitInstance");
  // The common controls are initialised when the first one is made, and OLE
  // once the main window is up (EnsureCommonControls, StartOle).

  m_mutex.Reset(CreateMutexW(nullptr, TRUE, ApplicationName().c_str()));
  if (m_mutex && GetLastError() == ERROR_ALREADY_EXISTS) return SecondCopy();

  WSADATA wsa;
  m_winsock = WSAStartup(0x0101, &wsa);
  if (m_winsock != 0) return false;
  ConnectDisplay();
  return BeginLogic() && StartMainWindow();
}

// The window system's first use in the process sets up its display for the
// whole process (under Wine: the display driver, its connection, the
// screens and the fonts). Done here, before the model's thread starts, it
// runs alone: made by the main window's creation while the model's thread
// reads and builds, it took a third longer, and the window came later for it
// although the model was ready first.
void CFavoritesApp::ConnectDisplay() {
  if (HDC screen = GetDC(nullptr)) ReleaseDC(nullptr, screen);
  StartupMark("display");
}

// The model: program folders, settings, favorites. It starts on a second
// thread, beside the making of the main window's controls, which need none
// of it; the window's WM_INITDIALOG waits for it (AwaitLogic), and start-up
// goes on in the order of its steps (EndLogic, StartNetObjects, the window).
bool CFavoritesApp::BeginLogic() {
  m_logic.reset(Fails(StartStep::kLogicObject) ? nullptr : new (std::nothrow) CAppLogic(&m_ui));
  if (!m_logic) {
    Box("初始化应用逻辑失败，按<确认>按钮退出程序！");
    return false;
  }
  m_logic->m_strHomePath = m_homePath;
  m_ui.threads[static_cast<int>(UiTarget::UiThread)] = GetCurrentThreadId();
  StartupMark("mutex, winsock");
  std::promise<bool> ready;
  m_logicReady = ready.get_future();
  DWORD uiThread = GetCurrentThreadId();
  m_logicStart = std::thread([this, uiThread](std::promise<bool> started) {
    bool ok = m_logic->Start() && !Fails(StartStep::kLogicStart);
    StartupMark("logic start");
    if (ok) {
      // The main window's picture, decoded (or read as kept) for its first
      // paint while the window is made. Each picture is decoded once and
      // kept as a bitmap file, which later starts read without the picture
      // loader's libraries, whose loading beside the making of the window
      // slows it.
      SetPictureKeepFolder(ProgramDir() + "images\\cache\\");
      PrefetchSkinImages(0, 1);
      StartupMark("image prefetch");
      StartResolver(uiThread);
    }
    started.set_value(ok);
    // The window's own loading of its button icons is then a look-up. The
    // window does not wait for this: a resource look-up waits while the
    // window's making loads a library, and the window loads what is not
    // here yet itself.
    if (ok) CMainDlg::LoadButtonIcons();
  }, std::move(ready));
  return true;
}

bool CFavoritesApp::AwaitLogic() {
  if (m_logicReady.valid()) m_logicStarted = m_logicReady.get();
  return m_logic && m_logicStarted;
}

void CFavoritesApp::JoinLogic() {
  if (m_logicStart.joinable()) m_logicStart.join();
}

bool CFavoritesApp::EndLogic() {
  if (AwaitLogic()) return true;
  Box("初始化应用逻辑失败，按<确认>按钮退出程序！");
  return false;
}

// The network settings and the resolver thread, on the model's thread once
// the model is up, beside the making of the main window; StartNetObjects
// tells of a failure in the order of the start-up steps.
void CFavoritesApp::StartResolver(DWORD uiThread) {
  m_netConfig = LoadNetConfig(os::ProgramDirectory());
  StartupMark("net config");
  m_resolver.reset(Fails(StartStep::kResolverObject) ? nullptr : new (std::nothrow) CGetIpWithNameThread);
  m_resolverStarted = m_resolver && !Fails(StartStep::kResolverStart) &&
                      m_resolver->Start(m_netConfig, [uiThread](uint32_t address) {
                        PostThreadMessageW(uiThread, WM_SERVER_ADDRESS, 0, static_cast<LPARAM>(address));
                      });
  StartupMark("resolver");
}

// The resolver thread (started with the model), the receive queue and
// links, the network state; the links start and the server is looked up
// once the main window is up.
bool CFavoritesApp::StartNetObjects() {
  DWORD uiThread = GetCurrentThreadId();
  if (!m_resolver) {
    Box("新建对象(获取服务器IP线程)失败，按<确认>按钮退出程序！");
    return false;
  }
  if (!m_resolverStarted) {
    Box("创建(获取服务器IP线程)失败，按<确认>按钮退出程序！");
    m_resolver.reset();
    return false;
  }
  m_links.reset(Fails(StartStep::kReceiveQueue) ? nullptr : new (std::nothrow) CNetLinks);
  if (!m_links) {
    Box("初始化自定义接收消息队列失败，按<确认>按钮退出程序！");
    return false;
  }
  m_receiveEvent = static_cast<HANDLE>(m_links->ReceiveQueue().Event().NativeHandle());
  // The loop below waits on the event; a box, dialog or menu runs a loop of
  // its own, which learns of datagrams through a thread message and hands
  // it, like every thread message, to OnThreadMessage.
  m_links->ReceiveQueue().SetWake([uiThread] { PostThreadMessageW(uiThread, WM_NET_RECEIVED, 0, 0); });
  m_modalMessages =
      std::make_unique<qb::CModalThreadMessages>([this](const MSG& msg) { return OnModalThreadMessage(msg); });
  m_net.reset(Fails(StartStep::kNetState) ? nullptr : new (std::nothrow) CNetState(*m_logic, m_ui, m_netConfig));
  if (!m_net) {
    Box("新建通讯代理对象失败，按<确认>按钮退出程序！");
    return false;
  }
  m_net->SetLinks(m_links.get());
  m_transfer.reset(new CTransferProgress(*m_net));
  m_sync.reset(new CSyncProgress(*m_net, *m_transfer));
  CAppLogic* logic = m_logic.get();
  m_net->Circles().m_saveFavorites = [logic] { return logic->SaveCurrentFavorites(); };
  m_net->Circles().m_showCategoryItems = [this](CMyNode* category) {
    if (m_main) m_main->ShowWebCategory(category);
  };
  StartupMark("net set-up");
  return true;
}

// The main window is made while the model starts; a main window that is
// made but cannot be shown, or whose model or network objects fail, is
// deleted again here, and start-up fails with the box of the first step
// that failed. OLE, its panels and the chooser come once the loop runs
// (CMainDlg::OnAfterShow): the first frame needs none of them. The skin's
// images are decoded on a second thread: the main window's while the window
// is made (BeginLogic), for its first paint; the panels' once that is
// painted (PrefetchSkinImages), while the loop's first steps run.
bool CFavoritesApp::StartMainWindow() {
  m_main = Fails(StartStep::kMainWindowObject) ? nullptr : new (std::nothrow) CMainDlg(*this);
  bool made = m_main && m_main->Create();
  if (!EndLogic() || !StartNetObjects()) {
    delete std::exchange(m_main, nullptr);
    return false;
  }
  if (!m_main) {
    Box("主窗口申请空间失败，按确认退出！");
    return false;
  }
  if (!made || Fails(StartStep::kMainWindowCreate)) {
    Box("创建主窗口失败，按确认退出！");
    delete std::exchange(m_main, nullptr);
    return false;
  }
  m_ui.SetWindow(UiTarget::MainWindow, m_main->GetSafeHwnd());
  StartupMark("main window made");
  m_main->Show();  // the window alone: its panels are due, nothing here can fail
  StartupMark("main window shown");
  return true;
}

void CFavoritesApp::PrefetchSkinImages(size_t firstArea, size_t endArea) {
  std::vector<std::string> images;
  for (size_t area = firstArea; area < endArea; ++area)
    images.push_back(SkinImageFile(ProgramDir(), m_logic->m_skins[area].m_strImagePath));
  StartPicturePrefetch(images);
}

void CFavoritesApp::StartOle() {
  if (m_oleStarted) return;
  // The web browser controls are ActiveX controls; a banner that made its
  // engine before the first frame started OLE for itself.
  m_oleStarted = SUCCEEDED(OleInitialize(nullptr));
  StartupMark("OleInitialize");
}

bool CFavoritesApp::MakeFileBox() {
  if (!m_main) return false;
  if (Fails(StartStep::kFileBox) || !m_main->MakeFileBox()) {
    Box("创建主窗口失败，按确认退出！");
    PostQuitMessage(0);  // the shutdown removes the main window
    return false;
  }
  return true;
}

bool CFavoritesApp::MakePanels() {
  if (!m_main) return false;
  if (!m_main->MakePanels()) {
    Box("创建URL窗口失败，按确认退出！");
    PostQuitMessage(0);  // the shutdown removes the main window
    return false;
  }
  m_ui.windows[static_cast<int>(UiTarget::TabPanel)] = m_main->TabPanel();
  m_ui.windows[static_cast<int>(UiTarget::ItemPanel)] = m_main->UrlPanel();
  return true;
}

bool CFavoritesApp::MakeChooser() {
  if (!m_main) return false;
  if (!CreateChooser()) {
    PostQuitMessage(0);
    return false;
  }
  StartupMark("chooser");
  return true;
}

// The category chooser, hidden, with the capture hotkey. It lies over the
// category panel, so it comes after the panels.
bool CFavoritesApp::CreateChooser() {
  if (Fails(StartStep::kChooserObject)) {
    Box("收藏窗口申请空间失败，按确认退出！");
    return false;
  }
  panels::ChooserHost host;
  host.mainWindow = m_main->GetSafeHwnd();
  host.box = [](const std::string& text, unsigned flags) { return Box(text, flags); };
  host.hideMain = [this] {
    if (m_main) m_main->Hide();
  };
  host.storeHotkey = [this](const std::string& text) {
    m_logic->m_config.hotkeyText = text;
    return SaveConfig(m_logic->m_strProgramDir, m_logic->m_config);
  };
  HWND main = m_main->GetSafeHwnd();
  host.categoryCreated = [main](int slot) { PostMessageW(main, WM_CATEGORY_CREATED, static_cast<WPARAM>(slot), 0); };
  if (!panels::CreateChooser(host) || Fails(StartStep::kChooserCreate)) {
    Box("创建收藏窗口失败，按确认退出！");
    panels::DestroyChooser();
    return false;
  }
  m_chooser = panels::ChooserWindow();
  m_ui.windows[static_cast<int>(UiTarget::Chooser)] = m_chooser;
  return true;
}

void CFavoritesApp::StartNetwork() {
  if (m_networkStarted || !m_links || !m_resolver) return;
  m_networkStarted = true;
  // The last step of the logic start writes the registry, which the portable
  // model leaves to the program itself; nothing reads it before the window is up.
  wchar_t exe[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
  panels::RegisterToolbarButton(Gbk(exe), m_logic->m_config.hotkeyText);
  // A link whose port is taken stays down and the program runs without it:
  // the favorites do not depend on the server.
  if (Fails(StartStep::kLinkThread)) m_links->FailThreadStart(3);
  LinkStartReport report;
  m_links->Start(m_netConfig, &report);
  StartupMark("links");
  if (report.threadFailed >= 0) {
    Box("创建线程(通讯代理)失败，按<确认>按钮退出程序！");
    PostQuitMessage(0);  // the shutdown stops the links that did start
    return;
  }
  // A box of the main window, as the model's are: unowned, the panels shown
  // again over their window would cover it, and nothing tells the user.
  if (!report.unavailablePorts.empty()) {
    if (g_boxHook) Box(PortsTakenText(report.unavailablePorts), MB_OK | MB_ICONEXCLAMATION);
    else m_ui.ShowMessage(PortsTakenText(report.unavailablePorts), "", MB_OK | MB_ICONEXCLAMATION);
  }
  m_resolver->RequestResolve();
}

// ---- favorites transfer prompt -------------------------------------------------------

// The prompt comes first: a transfer never runs without it to show its statuses.
void CFavoritesApp::StartTransfer(bool upload) {
  if (!m_net || !m_transfer || m_prompt || !OpenPrompt()) return;
  PromptView view;
  if (!m_transfer->OnCommand(upload, view)) return;
  ShowTransfer(view);
}

void CFavoritesApp::StartSync() {
  if (!m_net || !m_transfer || !m_sync || m_prompt || !OpenPrompt()) return;
  SyncHost host;
  host.favoritesPath = m_logic->CurrentFavoritesPath();
  host.basePath = SyncBasePath(host.favoritesPath, m_net->Login().User());
  CAppLogic* logic = m_logic.get();
  host.saveFavorites = [logic] { return logic->SaveCurrentFavorites(); };
  PromptView view;
  if (!m_sync->OnCommand(host, view)) return;
  ShowTransfer(view);
}

bool CFavoritesApp::OpenPrompt() {
  m_prompt.reset(m_promptFault == PromptFault::kNoMemory ? nullptr : new (std::nothrow) CPromptDlg);
  if (!m_prompt) {
    Box("主窗口申请空间失败，按确认退出！");
    return false;
  }
  if (m_promptFault == PromptFault::kCreate ||
      !m_prompt->Create(m_main ? m_main->GetSafeHwnd() : nullptr, GetCurrentThreadId())) {
    m_prompt.reset();
    Box("创建主窗口失败，按确认退出！");
    return false;
  }
  CNetState* net = m_net.get();
  m_prompt->SetCancelHandler([net] { net->Transfer().CancelTransfer(); });
  return true;
}

void CFavoritesApp::ShowTransfer(const PromptView& view) {
  if (!m_prompt) return;
  HWND prompt = m_prompt->GetSafeHwnd();
  if (!view.text.empty()) m_prompt->SetText(view.text);
  EnableWindow(GetDlgItem(prompt, IDC_PROMPT_OK), view.okEnabled);
  EnableWindow(GetDlgItem(prompt, IDC_PROMPT_CANCEL), view.cancelEnabled);
  if (view.setRange) m_promptRange = view.rangeMax;
  if (view.moveBar || view.setRange) m_prompt->SetProgress(view.barPos, m_promptRange);
  if (!IsWindowVisible(prompt)) ShowWindow(prompt, SW_SHOW);
  if (view.replaceFavorites && m_logic && m_net) {
    std::unique_ptr<CMyNodeList> download = m_net->Transfer().TakeDownloadList();
    if (download) {
      m_logic->ReplaceWithDownloaded(*download);
      m_logic->SaveCurrentFavorites();
      if (m_main) m_main->RefreshCurrentMode();
    }
  }
}

// ---- the message loop -----------------------------------------------------------

bool CFavoritesApp::OnThreadMessage(const MSG& msg) {
  switch (msg.message) {
    case WM_COMMAND:
      if (msg.wParam == ID_TRAY_UPLOAD || msg.wParam == ID_TRAY_DOWNLOAD) {
        StartTransfer(msg.wParam == ID_TRAY_UPLOAD);
        return true;
      }
      if (msg.wParam == ID_TRAY_SYNC) {
        StartSync();
        return true;
      }
      return false;
    case WM_TRANSFER_STATUS: {
      PromptView view;
      if (m_sync && m_sync->Running()) {
        bool merged = m_sync->TreeChanged();
        if (m_sync->OnTransferStatus(msg.wParam, msg.lParam, view)) ShowTransfer(view);
        // The merge put a new web-address folder in place: the panels show it.
        if (!merged && m_sync->TreeChanged() && m_main) m_main->RefreshCurrentMode();
      } else if (m_transfer && m_transfer->OnTransferStatus(msg.wParam, msg.lParam, view)) {
        ShowTransfer(view);
      }
      return true;
    }
    case WM_CLOSE_PROMPT:
      m_prompt.reset();
      if (m_transfer) m_transfer->OnPromptClosed();
      if (m_sync) m_sync->OnPromptClosed();
      return true;
    case WM_SERVER_ADDRESS:
      if (msg.lParam && m_net) m_net->OnServerAddress(static_cast<uint32_t>(msg.lParam));
      return true;
    case WM_NET_RECEIVED:
      if (m_links) m_links->ReceiveQueue().WakeTaken();
      if (m_net) m_net->PumpReceived();
      return true;
  }
  return false;
}

bool CFavoritesApp::OnModalThreadMessage(const MSG& msg) {
  switch (msg.message) {
    case WM_NET_RECEIVED:
    case WM_SERVER_ADDRESS:
      return OnThreadMessage(msg);
    case WM_TRANSFER_STATUS:
    case WM_CLOSE_PROMPT:
    case WM_COMMAND:
      if (msg.message == WM_COMMAND && msg.wParam != ID_TRAY_UPLOAD && msg.wParam != ID_TRAY_DOWNLOAD &&
          msg.wParam != ID_TRAY_SYNC)
        return false;
      m_deferred.push_back(msg);
      return true;
  }
  return false;  // not ours (a thread timer's WM_TIMER is the loop's to dispatch)
}

void CFavoritesApp::RunDeferredThreadMessages() {
  while (!m_deferred.empty()) {
    MSG msg = m_deferred.front();
    m_deferred.erase(m_deferred.begin());
    OnThreadMessage(msg);
  }
}

int CFavoritesApp::Run() {
  StartupMark("loop");
  for (;;) {
    CDialogWindow::DeleteRetired();
    RunDeferredThreadMessages();
    DWORD count = m_receiveEvent ? 1 : 0;
    DWORD r = MsgWaitForMultipleObjects(count, m_receiveEvent ? &m_receiveEvent : nullptr, FALSE, kLoopTimeoutMs,
                                        QS_ALLINPUT);
    if (count && r == WAIT_OBJECT_0) {
      // Also stands for a wake notice that a loop of someone else's dropped.
      if (m_links) m_links->ReceiveQueue().WakeTaken();
      if (m_net) m_net->PumpReceived();
      continue;
    }
    if (r == WAIT_TIMEOUT) continue;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      CDialogWindow::DeleteRetired();  // what a handler or a modal loop closed
      if (msg.message == WM_QUIT) return ExitInstance();
      if (!msg.hwnd && OnThreadMessage(msg)) continue;
      if (!msg.hwnd && msg.message == WM_COMMAND &&
          (LOWORD(msg.wParam) == ID_FAV_UPLOAD || LOWORD(msg.wParam) == ID_FAV_DOWNLOAD))
        continue;  // the favorites transfer runs once the server link is in
      // Keys typed into the main window or a panel may open the find box. A
      // look here rather than a message hook, which Wine would call, at the
      // price of calls to its server, for every message of the thread.
      if (m_main && msg.message == WM_KEYDOWN) m_main->OnKeyForFind(msg);
      HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
      if (root && DispatchDialogMessage(root, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      RunDeferredThreadMessages();
    }
  }
}

// ---- shutdown ---------------------------------------------------------------------

int CFavoritesApp::ExitInstance() {
  AwaitLogic();  // a start that failed before its window waited for the model
  JoinLogic();
  CDialogWindow::DeleteRetired();
  m_modalMessages.reset();
  if (m_links) m_links->ReceiveQueue().SetWake(nullptr);
  if (m_net && m_net->Login().LoggedIn()) m_net->Login().SendLogout();
  if (m_links) {
    for (int i = 0; i < kLinkCount; ++i) m_links->Link(i).RequestStop();
    m_links->Stop();
  }
  if (m_resolver) m_resolver->Stop(1000);
  m_resolver.reset();
  panels::DestroyChooser();
  m_chooser = nullptr;
  m_ui.windows[static_cast<int>(UiTarget::Chooser)] = nullptr;
  m_prompt.reset();
  delete std::exchange(m_main, nullptr);  // start-up failed after the main window was made
  CDialogWindow::DeleteRetired();
  if (m_logic) FreeSkinFonts(m_logic->m_skins);
  m_sync.reset();
  m_transfer.reset();
  m_net.reset();
  m_links.reset();
  m_receiveEvent = nullptr;
  m_logic.reset();
  StopPicturePrefetch();
  SetPictureKeepFolder("");  // this program folder's; a later start names its own
  if (m_winsock == 0) WSACleanup();
  m_winsock = -1;
  if (m_oleStarted) OleUninitialize();
  m_oleStarted = false;
  return 0;
}

}  // namespace qb

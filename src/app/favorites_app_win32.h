// CFavoritesApp: the process. One instance only; it brings up Winsock and the
// model, creates the main window, runs the message loop and tears down.
#pragma once
#include <windows.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "model/app_logic.h"
#include "model/sync.h"
#include "base/ui.h"
#include "net/link.h"
#include "net/netstate.h"
#include "net/transfer.h"
#include "skin/config.h"
#include "skin/skin.h"
#include "skin/skin_button_win32.h"
#include "widgets/prompt_dlg_win32.h"
#include "win/handles_win32.h"
#include "win/modal_pump_win32.h"

namespace qb {

class CMainDlg;

enum : UINT { ID_FAV_UPLOAD = 32816, ID_FAV_DOWNLOAD = 32817 };
enum : DWORD { kLoopTimeoutMs = 6000 };

// The user interface the model talks to: boxes, posts and timers on the
// program's windows and threads.
class CWinUi : public IUserInterface {
 public:
  int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override;
  void Post(UiTarget target, unsigned msg, uintptr_t wParam, intptr_t lParam) override;
  void Deliver(UiTarget target, unsigned msg, uintptr_t wParam, intptr_t lParam) override;
  void StartTimer(UiTarget target, unsigned id, unsigned ms) override;
  void StopTimer(UiTarget target, unsigned id) override;
  // Names the window of a target. A timer asked for before any window could
  // hold it (the network state's keep-alive is made before the main window)
  // starts on the main window once that is named.
  void SetWindow(UiTarget target, HWND wnd);
  HWND windows[7] = {};  // by UiTarget
  DWORD threads[7] = {};

 private:
  struct PendingTimer { unsigned id, ms; };
  std::vector<PendingTimer> m_pendingTimers;
};

// One synthesised key event: virtual key and whether it is a press.
using KeyEvent = std::pair<int, bool>;
// The keystrokes that replay a hotkey: Shift, Ctrl, Alt down (as flagged),
// the key down and up, then Shift, Ctrl, Alt up in the same order.
std::vector<KeyEvent> HotkeyKeystrokes(int modifiers, int virtualKey);
// The second copy's errand: replay the running copy's capture hotkey. False
// when the configured hotkey cannot be used.
using KeySender = void (*)(int virtualKey, bool down);
bool SendHotkeyToRunningCopy(const std::string& programDir, KeySender send);

class CFavoritesApp {
 public:
  // The start-up steps that can fail, in their order.
  enum class StartStep {
    kNone,
    kLogicObject,       // no memory for the application logic
    kLogicStart,        // the logic start (favorites opening) failed
    kResolverObject,    // no memory for the server-address thread
    kResolverStart,     // the server-address thread could not start
    kReceiveQueue,      // no memory for the receive queue and links
    kNetState,          // no memory for the network state
    kMainWindowObject,  // no memory for the main window
    kMainWindowCreate,  // the main window was made but counts as failed
    kFileBox,           // the main window's file box, made once the loop runs, could not be made
    kPanels,            // the panels, made once the loop runs, could not be made
    kChooserObject,     // no memory for the category chooser (made after the panels)
    kChooserCreate,     // the category chooser's window could not be made
    kLinkThread,        // link 3's threads could not start (the links start once the window is up)
  };
  // Tests make exactly one step fail as if its allocation or creation had
  // failed. kNone (the default) changes nothing.
  void FailStartStep(StartStep step) { m_failStep = step; }
  bool StartStepFails(StartStep step) const { return m_failStep == step; }
  // Tests make the transfer progress prompt fail: no memory for it, or its
  // window cannot be made.
  enum class PromptFault { kNone, kNoMemory, kCreate };
  void FailPrompt(PromptFault fault) { m_promptFault = fault; }
  // Where the start-up boxes go: GBK text and MessageBox flags. Null (the
  // default) shows them with MessageBoxW.
  using BoxHook = int (*)(const std::string& gbkText, unsigned flags);
  static void SetBoxHook(BoxHook hook);

  CFavoritesApp();
  ~CFavoritesApp();
  CFavoritesApp(const CFavoritesApp&) = delete;
  CFavoritesApp& operator=(const CFavoritesApp&) = delete;

  bool InitInstance();
  int Run();
  int ExitInstance();

  CAppLogic* Logic() { return m_logic.get(); }
  CNetState* Net() { return m_net.get(); }
  CNetLinks* Links() { return m_links.get(); }
  // The model's settings; valid once the logic start has run.
  SkinSet& Skins() { return m_logic->m_skins; }
  ConfigSettings& Config() { return m_logic->m_config; }
  CWinUi& Ui() { return m_ui; }
  CMainDlg* MainWindow() { return m_main; }
  void MainWindowGone() { m_main = nullptr; }
  std::string ProgramDir() const;
  HWND Chooser() const { return m_chooser; }

  // The look of a skin area as the buttons take it.
  SkinColours SkinLook(int area) const;

  // Thread messages of the user-interface thread (transfer status, prompt
  // closed, server address, the transfer commands); true when handled.
  bool OnThreadMessage(const MSG& msg);
  // The same met inside a box, dialog or menu: the datagrams and the server's
  // address are taken at once; the rest (which may replace the favorites
  // tree or open and close windows under the code that showed the box) wait
  // until the program's own loop runs again.
  bool OnModalThreadMessage(const MSG& msg);
  void RunDeferredThreadMessages();
  // The favorites upload (true) or download command, and the prompt that follows it.
  void StartTransfer(bool upload);
  // The favorites sync (model/sync.h) in the same prompt; the counts in its text.
  void StartSync();
  CSyncProgress* Sync() const { return m_sync.get(); }
  CPromptDlg* Prompt() const { return m_prompt.get(); }

  // The running application object.
  static CFavoritesApp* Instance() { return s_instance; }
  // Tests point the profile (desktop, Start menu, Favorites) at a folder of their own.
  void SetHomePath(const std::string& home) { m_homePath = home; }
  // The network links, the server's name look-up and the browser toolbar
  // button's registration come once the main window is up (the window asks
  // when it first gets a message); once only. A link thread that cannot
  // start ends the program as any failed start-up step does (its box, then
  // the message loop ends); ports other programs hold are told in one box.
  void StartNetwork();
  bool NetworkStarted() const { return m_networkStarted; }
  // OLE (the web browser controls, the shell's icons, the file dialogs), which
  // the first frame does without: the main window asks for it once the
  // message loop runs, before its panels. Once only; undone at the shutdown.
  void StartOle();
  // Decodes the skin images of areas [firstArea, endArea) on the worker
  // (widgets/picture_win32.h), the one before ended; the main window asks
  // for the panels' once its first frame is painted.
  void PrefetchSkinImages(size_t firstArea, size_t endArea);
  bool OleStarted() const { return m_oleStarted; }
  // The main window's file box, the panels, then the category chooser, which
  // the main window asks for once the message loop runs, after its first
  // frame, in steps of their own. When one cannot be made its box is shown
  // and the loop's end is asked for (the shutdown removes what was made);
  // false then.
  bool MakeFileBox();
  bool MakePanels();
  bool MakeChooser();
  // The main window's WM_INITDIALOG waits here for the model's start, which
  // runs on a second thread while the window's controls are made; false when
  // it failed (the window is then not made; start-up tells why).
  bool AwaitLogic();

 private:
  bool SecondCopy();
  bool CreateChooser();
  void ConnectDisplay();
  bool BeginLogic();
  bool EndLogic();
  void StartResolver(DWORD uiThread);
  bool StartNetObjects();
  bool StartMainWindow();
  bool Fails(StartStep step) const { return m_failStep == step; }
  // Makes the progress prompt, or tells the user it could not be made.
  bool OpenPrompt();
  void ShowTransfer(const PromptView& view);

  static CFavoritesApp* s_instance;
  std::unique_ptr<CAppLogic> m_logic;
  // Runs the model's start (BeginLogic), which AwaitLogic waits for through
  // m_logicReady, then loads the main window's button icons ahead; joined
  // by the shutdown (JoinLogic).
  std::thread m_logicStart;
  std::future<bool> m_logicReady;
  bool m_logicStarted = false;
  void JoinLogic();
  CNetConfig m_netConfig;
  std::unique_ptr<CGetIpWithNameThread> m_resolver;
  bool m_resolverStarted = false;  // its thread runs (set on the model's thread before the model is ready)
  std::unique_ptr<CNetLinks> m_links;
  std::unique_ptr<CNetState> m_net;
  CWinUi m_ui;
  CMainDlg* m_main = nullptr;  // deletes itself when its window is destroyed
  HWND m_chooser = nullptr;
  std::unique_ptr<CPromptDlg> m_prompt;
  std::unique_ptr<CTransferProgress> m_transfer;
  std::unique_ptr<CSyncProgress> m_sync;
  int m_promptRange = 100;
  KernelHandle m_mutex;  // the single-instance mutex
  HANDLE m_receiveEvent = nullptr;
  // Thread messages and received datagrams while a box, dialog or menu runs its own loop.
  std::unique_ptr<qb::CModalThreadMessages> m_modalMessages;
  std::vector<MSG> m_deferred;
  int m_winsock = -1;
  bool m_oleStarted = false;
  bool m_networkStarted = false;
  std::string m_homePath;
  StartStep m_failStep = StartStep::kNone;
  PromptFault m_promptFault = PromptFault::kNone;
};

}  // namespace qb

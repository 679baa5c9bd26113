#include "win/modal_pump_win32.h"

namespace qb {

namespace {
thread_local CModalThreadMessages::Handler* t_handler = nullptr;
thread_local HHOOK t_hook = nullptr;
thread_local HHOOK t_watchHook = nullptr;
thread_local bool t_watching = false;  // WatchModalLoops was called on this thread
thread_local bool t_modalSeen = false;

LRESULT CALLBACK WatchFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0) t_modalSeen = true;
  return CallNextHookEx(t_watchHook, code, wParam, lParam);
}
}  // namespace

// Each hook costs every message that passes it (every message the program's
// own loop hands to IsDialogMessage) a few calls to the window system, so
// a thread has one: the handler's hook watches as well while it lives.
void WatchModalLoops() {
  t_watching = true;
  if (!t_watchHook && !t_hook) t_watchHook = SetWindowsHookExW(WH_MSGFILTER, WatchFilter, nullptr, GetCurrentThreadId());
}
bool ModalLoopSeen() { return t_modalSeen; }
void ForgetModalLoops() { t_modalSeen = false; }

bool DispatchDialogMessage(HWND root, MSG* msg) {
  if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) return IsDialogMessageW(root, msg) != FALSE;
  // Windows retired while the message is handled wait for the loop's next
  // turn, as they did when IsDialogMessage's filter call marked it.
  if (t_watchHook || t_hook) t_modalSeen = true;
  DispatchMessageW(msg);  // TranslateMessage makes characters of keys only
  return true;
}

CModalThreadMessages::CModalThreadMessages(Handler handler) : m_handler(std::move(handler)) {
  if (t_hook || !m_handler) return;  // one per thread
  m_hook = SetWindowsHookExW(WH_MSGFILTER, Filter, nullptr, GetCurrentThreadId());
  if (!m_hook) return;
  t_hook = m_hook;
  t_handler = &m_handler;
  if (t_watchHook && UnhookWindowsHookEx(t_watchHook)) t_watchHook = nullptr;
}

CModalThreadMessages::~CModalThreadMessages() {
  if (!m_hook) return;
  UnhookWindowsHookEx(m_hook);
  t_hook = nullptr;
  t_handler = nullptr;
  if (t_watching) WatchModalLoops();
}

// Called by the modal loops (MSGF_DIALOGBOX, MSGF_MENU, MSGF_SCROLLBAR...) for
// each message they took, before they dispatch it; TRUE means handled.
LRESULT CALLBACK CModalThreadMessages::Filter(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* msg = reinterpret_cast<const MSG*>(lParam);
  if (code >= 0) t_modalSeen = true;  // the watch may come after this hook
  if (code >= 0 && msg && !msg->hwnd && t_handler && (*t_handler)(*msg)) return TRUE;
  return CallNextHookEx(t_hook, code, wParam, lParam);
}

}  // namespace qb

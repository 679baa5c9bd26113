// Message boxes, dialog boxes and menus run message loops of their own, and
// those throw away every message posted to the thread rather than to a
// window (the receive notices of the network, the resolver's answer, the
// transfer's progress). While a CModalThreadMessages lives, such a message
// met inside one of those loops is handed to its handler first; a handler
// that returns false leaves the message to the loop. One per thread.
#pragma once
#include <windows.h>

#include <functional>

namespace qb {

// Every modal loop of the system (dialog and message boxes, menus, common
// dialogs) and every pump of the program's own that calls CallMsgFilter
// hands each message it takes to the thread's WH_MSGFILTER hooks before it
// dispatches it: that is how the program learns that something may run
// inside such a loop. Watching starts once per thread and lasts.
void WatchModalLoops();
// A modal loop took a message on this thread since ForgetModalLoops.
bool ModalLoopSeen();
// For the program's loop, where no modal loop can be running.
void ForgetModalLoops();
// IsDialogMessage for a loop of the program's own, with `root` the top
// window of the message's window: true when the message was handled (it
// always is). A dialog has its own way only with the keyboard (Tab, the
// arrows, Enter, Esc, mnemonics); any other message IsDialogMessage only
// hands to the thread's message filters and dispatches, and under Wine each
// filter costs the message a few calls to the window system's server. Such a
// message is dispatched here directly, noted as the watch would have noted it.
bool DispatchDialogMessage(HWND root, MSG* msg);

class CModalThreadMessages {
 public:
  using Handler = std::function<bool(const MSG&)>;
  explicit CModalThreadMessages(Handler handler);
  ~CModalThreadMessages();
  CModalThreadMessages(const CModalThreadMessages&) = delete;
  CModalThreadMessages& operator=(const CModalThreadMessages&) = delete;
  bool Installed() const { return m_hook != nullptr; }

 private:
  static LRESULT CALLBACK Filter(int code, WPARAM wParam, LPARAM lParam);
  Handler m_handler;
  HHOOK m_hook = nullptr;
};

}  // namespace qb

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

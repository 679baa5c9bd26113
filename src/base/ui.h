// What the model needs from the user interface. The Windows program
// implements it with MessageBoxW / PostMessageW / SetTimer; tests record the
// calls; the command-line tool prints messages. The model never touches a
// window itself.
#pragma once
#include <cstdint>
#include <string>

namespace qb {

// The windows and threads the model talks to.
enum class UiTarget {
  MainWindow,   // the main window (which forwards to the chat window)
  UiThread,     // the user-interface thread's own queue (thread messages)
  ChatWindow,
  TabPanel,     // category panel
  ItemPanel,    // item panel
  Chooser,      // hidden category chooser
  Resolver,     // server-address thread
};

// Message-box flags and results, with the values Windows gives them.
enum : unsigned {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNo = 0x4,
  kMbIconStop = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

class IUserInterface {
 public:
  virtual ~IUserInterface() {}
  // A modal box with a GBK text; returns the button pressed.
  virtual int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // PostMessage / PostThreadMessage to one of the program's windows or threads.
  virtual void Post(UiTarget target, unsigned msg, uintptr_t wParam, intptr_t lParam) = 0;
  // Hands a message to a window of the calling thread at once (SendMessage),
  // for what would otherwise wait its turn in the queue; posted elsewhere.
  virtual void Deliver(UiTarget target, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    Post(target, msg, wParam, lParam);
  }
  // One-shot or repeating window timers on a target.
  virtual void StartTimer(UiTarget target, unsigned id, unsigned ms) = 0;
  virtual void StopTimer(UiTarget target, unsigned id) = 0;
};

// Prints boxes on stderr (UTF-8) and answers every question with its default
// button; drops posts and timers. For the command-line tool.
class CConsoleUi : public IUserInterface {
 public:
  int ShowMessage(const std::string& text, const std::string& caption, unsigned flags) override;
  void Post(UiTarget, unsigned, uintptr_t, intptr_t) override {}
  void StartTimer(UiTarget, unsigned, unsigned) override {}
  void StopTimer(UiTarget, unsigned) override {}
};

}  // namespace qb

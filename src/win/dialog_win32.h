// CDialogWindow: a modeless dialog made from a template, whose dialog
// procedure is the object's DialogProc.
//
// Who owns what: the object owns its window, never the other way round.
//  - Deleting the object destroys the window (if it is still there); the
//    window's last messages then no longer reach the object, which is half
//    gone by that time.
//  - The window going first (DestroyWindow by someone, its owner going) only
//    sets GetSafeHwnd() back to null; the object stays until whoever made it
//    deletes it.
//  - DialogProc may end in the deletion of the object (an Exit command that
//    deletes its window's object): nothing here touches the object after it
//    returns.
//  - A message box, menu, common dialog or pump of the window's own runs a
//    loop that dispatches everything else meanwhile: a circle reply, the
//    tray's exit or a login reply can then close the window, and its code
//    reads the object again when the loop returns. So an owner never deletes
//    a window object itself but hands it to Retire, which destroys the
//    window at once and deletes the object at once only when no modal loop
//    has run since the program's loop last came round; otherwise the
//    program's loop deletes it (DeleteRetired), when nothing of it can be on
//    the stack any more.
#pragma once
#include <windows.h>

#include <memory>

namespace qb {

class CDialogWindow {
 public:
  CDialogWindow() = default;
  virtual ~CDialogWindow();
  CDialogWindow(const CDialogWindow&) = delete;
  CDialogWindow& operator=(const CDialogWindow&) = delete;

  // CreateDialogParam of the template in this program. False when the window
  // could not be made or OnInitDialog refused it (the window is gone then).
  bool Create(int templateId, HWND owner);
  HWND GetSafeHwnd() const { return m_hWnd; }

  // The deletion of a window object by its owner (see above); null is nothing.
  static void Retire(CDialogWindow* window);
  template <class T>
  static void Retire(std::unique_ptr<T>& owner) {
    Retire(static_cast<CDialogWindow*>(owner.release()));
  }
  // For the program's loop between two messages, and for its end, where no
  // handler and no modal loop can be on the stack: deletes what was retired.
  static void DeleteRetired();
  // Window objects retired and not yet deleted.
  static size_t RetiredCount();

 protected:
  // WM_INITDIALOG, with GetSafeHwnd() set; false destroys the window.
  virtual bool OnInitDialog() { return true; }
  // Every message after WM_INITDIALOG, as a dialog procedure answers it.
  virtual INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  // The answer of a message whose result is not TRUE/FALSE (WM_ERASEBKGND...).
  INT_PTR SetResult(LRESULT result);
  // Destroys the window now, without its last messages reaching the object.
  void DestroyQuietly();

  HWND m_hWnd = nullptr;
  // Whether the dialog manager gives the first control the keyboard focus
  // once OnInitDialog is done. That focus activates the window, hidden or
  // not; a window made hidden and shown later can leave both to its showing,
  // which activates it as it appears and gives the first control the focus
  // then (the dialog's own answer to getting the focus).
  bool m_focusFirstControl = true;

 private:
  static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
};

}  // namespace qb

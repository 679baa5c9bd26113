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
#pragma once
#include <windows.h>

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

 private:
  static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
};

}  // namespace qb

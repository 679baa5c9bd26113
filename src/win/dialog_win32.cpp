#include "win/dialog_win32.h"

#include <vector>

#include "win/modal_pump_win32.h"

namespace qb {

namespace {
thread_local std::vector<CDialogWindow*> t_retired;
}  // namespace

void CDialogWindow::Retire(CDialogWindow* window) {
  if (!window) return;
  if (!ModalLoopSeen()) {
    delete window;
    return;
  }
  window->DestroyQuietly();
  t_retired.push_back(window);
}

void CDialogWindow::DeleteRetired() {
  ForgetModalLoops();
  // A destructor may retire more (the main window retires its secondary windows).
  while (!t_retired.empty()) {
    CDialogWindow* window = t_retired.back();
    t_retired.pop_back();
    delete window;
  }
}

size_t CDialogWindow::RetiredCount() { return t_retired.size(); }

CDialogWindow::~CDialogWindow() { DestroyQuietly(); }

void CDialogWindow::DestroyQuietly() {
  HWND wnd = m_hWnd;
  m_hWnd = nullptr;
  if (!wnd || !IsWindow(wnd)) return;
  SetWindowLongPtrW(wnd, DWLP_USER, 0);
  DestroyWindow(wnd);
}

bool CDialogWindow::Create(int templateId, HWND owner) {
  WatchModalLoops();
  HWND wnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), owner, Proc,
                                reinterpret_cast<LPARAM>(this));
  return wnd != nullptr && m_hWnd != nullptr;
}

INT_PTR CDialogWindow::SetResult(LRESULT result) {
  SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK CDialogWindow::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialogWindow*>(lParam);
    SetWindowLongPtrW(wnd, DWLP_USER, lParam);
    self->m_hWnd = wnd;
    if (self->OnInitDialog()) return self->m_focusFirstControl ? TRUE : FALSE;
    self->DestroyQuietly();
    return FALSE;
  }
  auto* self = reinterpret_cast<CDialogWindow*>(GetWindowLongPtrW(wnd, DWLP_USER));
  if (!self) return FALSE;
  if (msg == WM_NCDESTROY) {
    // The window is gone after this; the object stays with its maker.
    SetWindowLongPtrW(wnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    return self->DialogProc(msg, wParam, lParam);
  }
  return self->DialogProc(msg, wParam, lParam);
}

}  // namespace qb

// The parent's side of the skin buttons: the parent hands WM_DRAWITEM,
// WM_CTLCOLORBTN and BN_CLICKED back to the button that caused them, and
// keeps the tooltip control its buttons share until it goes.
#include "skin/skin_button_win32.h"
#include "win/subclass_win32.h"

namespace qb {

namespace {

const UINT_PTR kParentSubclassId = 0x51534250;  // 'QSBP'
const wchar_t kReflectProp[] = L"QimboSkinReflect";
const wchar_t kTipsProp[] = L"QimboSkinTips";  // the tooltip control the buttons of a window share

LRESULT CALLBACK ReflectProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  HWND child = nullptr;
  switch (msg) {
    case WM_DRAWITEM:
      child = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
      break;
    case WM_CTLCOLORBTN:
      child = reinterpret_cast<HWND>(lParam);
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && lParam) {
        HWND button = reinterpret_cast<HWND>(lParam);
        if (CSkinButton::FromHandle(button)) SendMessageW(button, OCM_SKIN_COMMAND, wParam, lParam);
      }
      return DefSubclass(wnd, msg, wParam, lParam);  // the parent is notified as usual
    case WM_NCDESTROY:
      Unsubclass(wnd, ReflectProc, kParentSubclassId);
      RemovePropW(wnd, kReflectProp);
      if (HWND tips = static_cast<HWND>(RemovePropW(wnd, kTipsProp))) DestroyWindow(tips);
      break;
  }
  if (child && CSkinButton::FromHandle(child)) return SendMessageW(child, kReflectBase + msg, wParam, lParam);
  return DefSubclass(wnd, msg, wParam, lParam);
}

}  // namespace

void InstallReflection(HWND parent) {
  if (parent && !GetPropW(parent, kReflectProp)) {
    SetPropW(parent, kReflectProp, reinterpret_cast<HANDLE>(1));
    Subclass(parent, ReflectProc, kParentSubclassId, 0);
  }
}

HWND SharedTooltip(HWND parent) { return static_cast<HWND>(GetPropW(parent, kTipsProp)); }

void KeepSharedTooltip(HWND parent, HWND tooltip) {
  SetPropW(parent, kTipsProp, tooltip);
  InstallReflection(parent);  // destroys the control with the window
}

}  // namespace qb

// Qimbo.exe entry point.
#include <windows.h>

#include "../../res/resource.h"

static INT_PTR CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
        EndDialog(hwnd, 0);
        return TRUE;
      }
      break;
    case WM_CLOSE:
      EndDialog(hwnd, 0);
      return TRUE;
  }
  return FALSE;
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
  INT_PTR r = DialogBoxParamW(inst, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, MainProc, 0);
  return r == -1 ? 1 : 0;
}

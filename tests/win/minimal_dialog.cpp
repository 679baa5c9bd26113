// The yardstick for start-up time: a dialog from a template and nothing else.
#include <windows.h>

static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if ((msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) || msg == WM_CLOSE) {
    EndDialog(wnd, 0);
    return TRUE;
  }
  return FALSE;
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
  return static_cast<int>(DialogBoxParamW(inst, MAKEINTRESOURCEW(1), nullptr, Proc, 0));
}

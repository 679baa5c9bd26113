// Qimbo.exe entry point: the one application object runs the program.
#include <windows.h>

#include "app/favorites_app_win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  qb::CFavoritesApp app;
  if (!app.InitInstance()) return app.ExitInstance();
  return app.Run();
}

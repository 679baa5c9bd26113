// Qimbo.exe entry point: the one application object runs the program.
#include <windows.h>

#include "app/favorites_app_win32.h"
#include "app/startup_trace_win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  qb::StartupMark("wWinMain");
  qb::CFavoritesApp app;
  if (!app.InitInstance()) return app.ExitInstance();
  return app.Run();
}

// Runs before the other static constructors: with the trace on, it splits the
// time before wWinMain into loading and static initialisation.
__attribute__((constructor(101))) static void MarkProcessStart() { qb::StartupMark("DLLs loaded"); }

#include "win/file_dialog_win32.h"

#include <commdlg.h>

namespace qb {

bool AskFileName(HWND owner, bool save, const wchar_t* filter, const wchar_t* defExt, DWORD flags,
                 std::wstring& file) {
  wchar_t buffer[MAX_PATH] = {};
  file.copy(buffer, MAX_PATH - 1);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrDefExt = defExt;
  ofn.Flags = flags;
  BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (ok) file = buffer;
  return ok != FALSE;
}

}  // namespace qb

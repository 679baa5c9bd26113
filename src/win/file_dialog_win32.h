// The system's open and save dialogs for one file.
#pragma once

#include <windows.h>

#include <string>

namespace qb {

// Shows the save dialog (`save`) or the open dialog. `filter` is the
// dialog's list of name patterns (pairs ending in two zeros), `defExt` the
// ending added to a bare name (null: none), `flags` the OFN_ flags. `file`
// holds the suggested name on entry and the chosen path on a true return; it
// is left alone when the user cancels.
bool AskFileName(HWND owner, bool save, const wchar_t* filter, const wchar_t* defExt, DWORD flags,
                 std::wstring& file);

}  // namespace qb

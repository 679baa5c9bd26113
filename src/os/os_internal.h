// What each system's side of the seam gives the shared part.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/shell.h"

namespace os {

uint32_t SystemTick();
void SystemSleep(uint32_t ms);
// Moves `from` over `to`, replacing it, with the move on disk before it returns.
int ReplaceWithFile(const std::string& from, const std::string& to);
// The file-step hook's answer for a step (1 when there is no hook).
int FileStepAllowed(FileStep step, const std::string& path);

// Unbuffered files as the system gives them; the buffered streams sit on top.
int RawOpenRead(const std::string& path, intptr_t& h, uint64_t& size);  // regular files only
int RawOpenWrite(const std::string& path, intptr_t& h);                 // created or truncated
size_t RawRead(intptr_t h, void* dst, size_t n);                        // 0 at the end or on error
size_t RawWrite(intptr_t h, const void* src, size_t n);                 // 0 on error
int RawSync(intptr_t h);
int RawClose(intptr_t h);

// Puts a folder's entries in the one order every system lists them in: "."
// and ".." first, then by name with ASCII letters compared without case (as
// NTFS lists a folder), byte order breaking ties. Wine and Linux give the
// file system's own order, which changes from disk to disk.
void SortFolderEntries(std::vector<DirEntry>& entries);

// The program's folder (ending '\\') as the system gives it; ProgramDirectory
// asks for it when SetProgramDirectory named none.
std::string SystemProgramDirectory();
// The hook SetShellHook put in, or an empty one: a copy, called unlocked.
ShellHook CurrentShellHook();

}  // namespace os

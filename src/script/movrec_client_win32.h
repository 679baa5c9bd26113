// The program's side of Movrec.dll: the library is loaded at run time from
// the program directory, once. A missing library, or one without the six
// calls, means no recording and no replay, silently: the calls below then
// do nothing and report 0.
#pragma once
#include <string>

namespace script {

bool MovrecLoaded();
void StartRecord(int mode);
void StopRecord();
int SaveScriptFile(const std::string& path);
int ReadScriptFile(const std::string& path);
void PlayRecord();
void StopPlay();

// An item's replay: ReadScriptFile, and PlayRecord only when it read the file.
// 1 when the replay started.
int PlayScriptFile(const std::string& path);

}  // namespace script

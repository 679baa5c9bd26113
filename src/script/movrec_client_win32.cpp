#include "script/movrec_client_win32.h"

#include <windows.h>

#include <mutex>

#include "os/os.h"
#include "win/handles_win32.h"
#include "win/text_win32.h"

namespace script {

namespace {

struct Calls {
  void (*startRecord)(int) = nullptr;
  void (*stopRecord)() = nullptr;
  int (*saveScriptFile)(const char*) = nullptr;
  int (*readScriptFile)(const char*) = nullptr;
  void (*playRecord)() = nullptr;
  void (*stopPlay)() = nullptr;
};

template <typename F>
void Take(HMODULE dll, const char* name, F& f) {
  f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

const Calls& Lib() {
  static Calls calls;
  static std::once_flag once;
  std::call_once(once, [] {
    // A damaged file must not bring up the system's box on every open.
    DWORD old = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old);
    std::wstring path = qb::W(os::ProgramDirectory() + "Movrec.dll");
    qb::ScopedLibrary owner(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    SetThreadErrorMode(old, nullptr);
    if (!owner) return;
    HMODULE dll = owner.Get();
    Calls c;
    Take(dll, "StartRecord", c.startRecord);
    Take(dll, "StopRecord", c.stopRecord);
    Take(dll, "SaveScriptFile", c.saveScriptFile);
    Take(dll, "ReadScriptFile", c.readScriptFile);
    Take(dll, "PlayRecord", c.playRecord);
    Take(dll, "StopPlay", c.stopPlay);
    if (c.startRecord && c.stopRecord && c.saveScriptFile && c.readScriptFile && c.playRecord && c.stopPlay) {
      calls = c;
      owner.Release();  // kept loaded for the life of the process
    }
  });
  return calls;
}

}  // namespace

bool MovrecLoaded() { return Lib().startRecord != nullptr; }
void StartRecord(int mode) {
  if (MovrecLoaded()) Lib().startRecord(mode);
}
void StopRecord() {
  if (MovrecLoaded()) Lib().stopRecord();
}
int SaveScriptFile(const std::string& path) { return MovrecLoaded() ? Lib().saveScriptFile(path.c_str()) : 0; }
int ReadScriptFile(const std::string& path) { return MovrecLoaded() ? Lib().readScriptFile(path.c_str()) : 0; }
void PlayRecord() {
  if (MovrecLoaded()) Lib().playRecord();
}
void StopPlay() {
  if (MovrecLoaded()) Lib().stopPlay();
}

int PlayScriptFile(const std::string& path) {
  if (!ReadScriptFile(path)) return 0;
  PlayRecord();
  return 1;
}

}  // namespace script

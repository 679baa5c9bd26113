// The browser the capture reads: the front-most browser window, and its page's
// address and title. Internet Explorer's frame holds the address in an edit
// box that can be read directly; today's browsers draw their address bar
// themselves, so the address is taken the way a user would take it: the
// address bar focused (Ctrl+L), copied (Ctrl+C), left again (Esc), with the
// user's clipboard put back exactly as it was.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "panels/capture_logic.h"

namespace panels {

struct BrowserWindow {
  HWND hwnd = nullptr;
  BrowserFamily family = BrowserFamily::kNone;
};

// The browser window nearest the top of the Z order (none: a null
// window). Used by the hotkey, the second copy and the capture alike.
BrowserWindow FindBrowserWindow();
// The file name of the program that made a window ("" when unknown).
std::string ProgramOfWindow(HWND wnd);

// Reads one browser's page. GBK results.
class IBrowserReader {
 public:
  virtual ~IBrowserReader() {}
  // The page's address ("" when it cannot be read).
  virtual std::string ReadAddress(HWND browser) = 0;
  // The window's title, as the browser shows it (at most 254 bytes).
  virtual std::string ReadTitle(HWND browser) = 0;
};
// The reader of a family; `owner` is a window of this program, which the
// clipboard is put back through.
std::unique_ptr<IBrowserReader> ReaderFor(BrowserFamily family, HWND owner);

// How long a browser is given to come to the front and to copy its address.
const DWORD kBrowserAnswerMs = 3000;
// Texts of Internet Explorer's windows are read up to this many bytes.
const size_t kIeTextMax = 254;

// The user's clipboard, kept while the capture borrows it. Save empties the
// clipboard; Restore puts back every kept format (an empty clipboard stays
// empty) and makes `owner` its owner.
class CClipboardKeeper {
 public:
  CClipboardKeeper() = default;
  ~CClipboardKeeper();
  CClipboardKeeper(const CClipboardKeeper&) = delete;
  CClipboardKeeper& operator=(const CClipboardKeeper&) = delete;
  bool Save();
  bool Restore(HWND owner);

 private:
  struct Kept {
    unsigned format;
    ClipKeep keep;
    std::string bytes;          // kMemory
    HANDLE handle = nullptr;    // kBitmap, kEnhMetafile: owned until handed over
  };
  void Free();
  std::vector<Kept> m_kept;
};

// Opens the clipboard, trying again for a while when another program holds it.
bool OpenClipboardWaiting(HWND owner);
// The clipboard's Unicode text as GBK ("" when none).
std::string ClipboardText();

}  // namespace panels

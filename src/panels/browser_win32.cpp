// Finding the browser and reading its page.
#include "panels/browser_win32.h"

#include "panels/panel_text.h"
#include "win/handles_win32.h"
#include "win/input_win32.h"
#include "win/text_win32.h"

namespace panels {

namespace {

std::string ClassOf(HWND wnd) {
  wchar_t cls[64] = {};
  GetClassNameW(wnd, cls, 64);
  return qb::Gbk(cls, wcslen(cls));
}

struct Search {
  BrowserWindow found;
};

BOOL CALLBACK ConsiderWindow(HWND wnd, LPARAM param) {
  auto* s = reinterpret_cast<Search*>(param);
  std::string cls = ClassOf(wnd);
  if (cls != "IEFrame" && cls != "Chrome_WidgetWin_1" && cls != "MozillaWindowClass") return TRUE;
  // Any frame of Internet Explorer counts, as the system's search by class
  // finds it. Today's browsers keep hidden windows of their class, and
  // their menus, bubbles and tooltips share it: only a browser's own frame
  // counts, shown, with a title and no owner.
  if (cls != "IEFrame" && (!IsWindowVisible(wnd) || GetWindow(wnd, GW_OWNER) || GetWindowTextLengthW(wnd) == 0 ||
                           (GetWindowLongPtrW(wnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)))
    return TRUE;
  BrowserFamily family = FamilyOfWindow(cls, cls == "IEFrame" ? std::string() : ProgramOfWindow(wnd));
  if (family == BrowserFamily::kNone) return TRUE;
  s->found.hwnd = wnd;
  s->found.family = family;
  return FALSE;  // the windows come top of the Z order first
}

// A window's text through the window itself, so that the text of another
// program's edit box is its contents, not the text it was made with.
std::string TextThroughWindow(HWND wnd) {
  wchar_t buf[1024] = {};
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(wnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, kBrowserAnswerMs,
                           &got))
    return std::string();
  return qb::Gbk(buf, wcsnlen(buf, 1024));
}

std::string TitleOf(HWND wnd, bool dropInvisible) {
  std::wstring title = qb::WindowTextW(wnd);
  std::u16string t(title.begin(), title.end());
  if (dropInvisible) t = DropInvisible(t);
  return CutBytesGbk(qb::FromWide(t), kIeTextMax);
}

// Internet Explorer: the address box is the edit inside the frame's
// WorkerW, ReBarWindow32, ComboBoxEx32, ComboBox chain.
class CIeReader : public IBrowserReader {
 public:
  std::string ReadAddress(HWND browser) override {
    HWND w = browser;
    for (const wchar_t* cls : {L"WorkerW", L"ReBarWindow32", L"ComboBoxEx32", L"ComboBox", L"Edit"}) {
      w = FindWindowExW(w, nullptr, cls, nullptr);
      if (!w) return std::string();
    }
    return IeAddress(CutBytesGbk(TextThroughWindow(w), kIeTextMax));
  }
  std::string ReadTitle(HWND browser) override { return TitleOf(browser, false); }
};

// Waits for `done` while answering the messages other programs send to this
// thread (a clipboard owner is sent messages while the browser copies).
template <typename F>
bool WaitFor(F done, DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

// Today's browsers: the keyboard route through the address bar.
class CKeyboardReader : public IBrowserReader {
 public:
  explicit CKeyboardReader(HWND owner) : m_owner(owner) {}
  std::string ReadTitle(HWND browser) override { return TitleOf(browser, true); }
  std::string ReadAddress(HWND browser) override {
    if (IsIconic(browser)) ShowWindow(browser, SW_RESTORE);
    SetForegroundWindow(browser);
    if (!WaitFor([browser] { return GetForegroundWindow() == browser; }, kBrowserAnswerMs)) return std::string();
    CClipboardKeeper keeper;
    if (!keeper.Save()) return std::string();
    DWORD emptied = GetClipboardSequenceNumber();
    qb::SendKeys({{VK_CONTROL, true}, {'L', true}, {'L', false}, {VK_CONTROL, false},
              {VK_CONTROL, true}, {'C', true}, {'C', false}, {VK_CONTROL, false}});
    std::string copied;
    WaitFor(
        [&] {
          if (GetClipboardSequenceNumber() == emptied || !IsClipboardFormatAvailable(CF_UNICODETEXT)) return false;
          copied = ClipboardText();
          return true;
        },
        kBrowserAnswerMs);
    qb::SendKeys({{VK_ESCAPE, true}, {VK_ESCAPE, false}});
    keeper.Restore(m_owner);
    return NormaliseCopiedAddress(copied);
  }

 private:
  HWND m_owner;
};

}  // namespace

std::string ProgramOfWindow(HWND wnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  qb::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::string();
  wchar_t path[MAX_PATH * 2] = {};
  DWORD n = MAX_PATH * 2;
  BOOL ok = QueryFullProcessImageNameW(process.Get(), 0, path, &n);
  return ok ? qb::Gbk(path, n) : std::string();
}

BrowserWindow FindBrowserWindow() {
  Search s;
  EnumWindows(ConsiderWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

std::unique_ptr<IBrowserReader> ReaderFor(BrowserFamily family, HWND owner) {
  if (family == BrowserFamily::kInternetExplorer) return std::make_unique<CIeReader>();
  return std::make_unique<CKeyboardReader>(owner);
}

// ---- the clipboard -----------------------------------------------------------------

bool OpenClipboardWaiting(HWND owner) {
  return WaitFor([owner] { return OpenClipboard(owner) != FALSE; }, kBrowserAnswerMs);
}

std::string ClipboardText() {
  if (!OpenClipboardWaiting(nullptr)) return std::string();
  std::string text;
  if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
    if (const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(h))) {
      size_t max = GlobalSize(h) / sizeof(wchar_t);
      std::u16string t(reinterpret_cast<const char16_t*>(p), wcsnlen(p, max));
      text = qb::FromWide(DropInvisible(t));
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return text;
}

CClipboardKeeper::~CClipboardKeeper() { Free(); }

// The keeper owns the copies it took off the clipboard; they are of several
// kinds in one list, so each is released here by the call of its kind.
void CClipboardKeeper::Free() {
  for (Kept& k : m_kept) {
    if (!k.handle) continue;
    if (k.keep == ClipKeep::kBitmap) DeleteObject(k.handle);
    if (k.keep == ClipKeep::kEnhMetafile) DeleteEnhMetaFile(static_cast<HENHMETAFILE>(k.handle));
  }
  m_kept.clear();
}

bool CClipboardKeeper::Save() {
  Free();
  // Opened for no window: the clipboard then has no owner of ours to be
  // asked anything while the browser copies.
  if (!OpenClipboardWaiting(nullptr)) return false;
  std::vector<unsigned> listed;
  for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) listed.push_back(f);
  for (const ClipFormat& c : PlanClipboardKeep(listed)) {
    HANDLE h = GetClipboardData(c.format);
    if (!h) continue;
    Kept k{c.format, c.keep, std::string(), nullptr};
    if (c.keep == ClipKeep::kMemory) {
      const char* p = static_cast<const char*>(GlobalLock(h));
      if (!p) continue;
      k.bytes.assign(p, GlobalSize(h));
      GlobalUnlock(h);
    } else if (c.keep == ClipKeep::kBitmap) {
      k.handle = CopyImage(h, IMAGE_BITMAP, 0, 0, 0);
    } else {
      k.handle = CopyEnhMetaFileW(static_cast<HENHMETAFILE>(h), nullptr);
    }
    if (c.keep != ClipKeep::kMemory && !k.handle) continue;
    m_kept.push_back(std::move(k));
  }
  EmptyClipboard();
  CloseClipboard();
  return true;
}

bool CClipboardKeeper::Restore(HWND owner) {
  if (!OpenClipboardWaiting(owner)) return false;
  EmptyClipboard();
  for (Kept& k : m_kept) {
    HANDLE data = k.handle;
    if (k.keep == ClipKeep::kMemory) {
      HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, k.bytes.empty() ? 1 : k.bytes.size());
      if (!g) continue;
      if (void* p = GlobalLock(g)) {
        memcpy(p, k.bytes.data(), k.bytes.size());
        GlobalUnlock(g);
      }
      data = g;
    }
    // The system owns what it takes; what it refuses stays ours to free.
    if (SetClipboardData(k.format, data)) {
      k.handle = nullptr;
    } else if (k.keep == ClipKeep::kMemory) {
      GlobalFree(data);
    }
  }
  CloseClipboard();
  Free();
  return true;
}

}  // namespace panels

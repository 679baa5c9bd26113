// Movrec.dll: records the keyboard and mouse system-wide into the current
// script, keeps scripts in files and replays the current script.
//
// One current script per process, behind g_lock. Recording runs the two
// low-level hooks on a thread of its own with its own message loop, so the
// caller's thread never waits and the hooks never time out. Replay runs on a
// worker that waits on the stop event between events, so StopPlay ends it at
// once; whatever key or button the replay holds down is let go on the way out.
// Recording and replay exclude each other: each call made while the other
// runs does nothing.
//
// The threads' and events' handles live in globals between the host's calls
// and are closed where each recording or replay ends, not by owner objects:
// a DLL's global objects are destroyed at unload under the loader lock.
#include <windows.h>

#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "script/script_file.h"

namespace {

// dwExtraInfo of every input the replay sends, so the recorder skips it.
const ULONG_PTR kReplayMark = 0x4D4F5652;  // "MOVR"

std::mutex g_lock;  // guards everything below
qb::Script g_current;
HINSTANCE g_module = nullptr;

// Recording.
HANDLE g_recThread = nullptr;
DWORD g_recThreadId = 0;
HANDLE g_recReady = nullptr;
int g_recMode = 1;
DWORD g_recStart = 0;
// Touched only by the hook thread while it runs, handed over when it ends.
std::vector<qb::ScriptEvent> g_recEvents;
// For each event: the thread of the push button it went to (0: none). The
// click or key on the recorder's stop button goes to the thread that stops.
std::vector<uint32_t> g_recButtonThread;
HHOOK g_keyHook = nullptr, g_mouseHook = nullptr;

// Replay.
HANDLE g_playThread = nullptr;
HANDLE g_playStop = nullptr;

uint32_t Offset(DWORD eventTime) {
  DWORD d = eventTime - g_recStart;
  // An event stamped before the start (queued just before) counts as 0.
  if (d > 0x7FFFFFFF) d = 0;
  uint32_t last = g_recEvents.empty() ? 0 : g_recEvents.back().time;
  return d < last ? last : d;
}

DWORD ButtonThread(HWND w) {
  wchar_t cls[16] = {};
  if (!w || !GetClassNameW(w, cls, 16) || lstrcmpiW(cls, L"Button") != 0) return 0;
  return GetWindowThreadProcessId(w, nullptr);
}
// The push button that has the keyboard, if one has.
DWORD FocusedButtonThread() {
  HWND front = GetForegroundWindow();
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!front || !GetGUIThreadInfo(GetWindowThreadProcessId(front, nullptr), &info)) return 0;
  return ButtonThread(info.hwndFocus);
}

LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const KBDLLHOOKSTRUCT* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    if (k->dwExtraInfo != kReplayMark && k->vkCode >= 1 && k->vkCode <= 254 &&
        g_recEvents.size() < qb::kMaxScriptEvents) {
      qb::ScriptEvent e;
      e.time = Offset(k->time);
      e.type = (wParam == WM_KEYUP || wParam == WM_SYSKEYUP) ? qb::kKeyUp : qb::kKeyDown;
      e.flags = (k->flags & LLKHF_EXTENDED) ? 1 : 0;
      e.code = static_cast<uint16_t>(k->vkCode);
      e.data = static_cast<int32_t>(k->scanCode & 0xFFFF);
      g_recEvents.push_back(e);
      g_recButtonThread.push_back(FocusedButtonThread());
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK MouseHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const MSLLHOOKSTRUCT* m = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
    qb::ScriptEvent e;
    e.x = m->pt.x;
    e.y = m->pt.y;
    short hi = static_cast<short>(HIWORD(m->mouseData));
    switch (wParam) {
      case WM_MOUSEMOVE: e.type = g_recMode == 1 ? qb::kMouseMove : 0; break;
      case WM_LBUTTONDOWN: e.type = qb::kButtonDown; e.code = qb::kLeftButton; break;
      case WM_LBUTTONUP: e.type = qb::kButtonUp; e.code = qb::kLeftButton; break;
      case WM_RBUTTONDOWN: e.type = qb::kButtonDown; e.code = qb::kRightButton; break;
      case WM_RBUTTONUP: e.type = qb::kButtonUp; e.code = qb::kRightButton; break;
      case WM_MBUTTONDOWN: e.type = qb::kButtonDown; e.code = qb::kMiddleButton; break;
      case WM_MBUTTONUP: e.type = qb::kButtonUp; e.code = qb::kMiddleButton; break;
      case WM_XBUTTONDOWN:
      case WM_XBUTTONUP:
        e.type = wParam == WM_XBUTTONDOWN ? qb::kButtonDown : qb::kButtonUp;
        e.code = hi == XBUTTON2 ? qb::kXButton2 : qb::kXButton1;
        break;
      case WM_MOUSEWHEEL: e.type = qb::kWheel; e.data = hi; break;
      case 0x020E /* WM_MOUSEHWHEEL */: e.type = qb::kHWheel; e.data = hi; break;
      default: e.type = 0;
    }
    if (e.type && m->dwExtraInfo != kReplayMark && g_recEvents.size() < qb::kMaxScriptEvents) {
      e.time = Offset(m->time);
      g_recEvents.push_back(e);
      g_recButtonThread.push_back(e.type == qb::kMouseMove ? 0 : ButtonThread(WindowFromPoint(m->pt)));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

DWORD WINAPI RecordThread(LPVOID) {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before StartRecord returns
  g_keyHook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyHook, g_module, 0);
  g_mouseHook = SetWindowsHookExW(WH_MOUSE_LL, MouseHook, g_module, 0);
  SetEvent(g_recReady);
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  if (g_keyHook) UnhookWindowsHookEx(g_keyHook);
  if (g_mouseHook) UnhookWindowsHookEx(g_mouseHook);
  g_keyHook = g_mouseHook = nullptr;
  return 0;
}

// ---- replay ----------------------------------------------------------------------

LONG Normalise(int v, int origin, int extent) {
  // Rounded up, so that both v * 65536 / extent and v * 65535 / extent
  // (the two ways a system maps back) land on the same pixel.
  if (extent <= 0) return 0;
  long long n = (static_cast<long long>(v - origin) * 65536 + extent - 1) / extent;
  return static_cast<LONG>(n < 0 ? 0 : n > 65535 ? 65535 : n);
}

void SendMouse(const qb::ScriptEvent& e, DWORD flags, DWORD data) {
  INPUT in = {};
  in.type = INPUT_MOUSE;
  in.mi.dx = Normalise(e.x, GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  in.mi.dy = Normalise(e.y, GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
  in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
  in.mi.mouseData = data;
  in.mi.dwExtraInfo = kReplayMark;
  SendInput(1, &in, sizeof in);
}

void SendKey(uint16_t vk, uint16_t scan, bool extended, bool up) {
  INPUT in = {};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = scan;
  in.ki.dwFlags = (extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
  in.ki.dwExtraInfo = kReplayMark;
  SendInput(1, &in, sizeof in);
}

DWORD ButtonFlags(uint16_t button, bool down, DWORD& data) {
  data = 0;
  switch (button) {
    case qb::kLeftButton: return down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    case qb::kRightButton: return down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
    case qb::kMiddleButton: return down ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP;
    default:
      data = button == qb::kXButton2 ? XBUTTON2 : XBUTTON1;
      return down ? MOUSEEVENTF_XDOWN : MOUSEEVENTF_XUP;
  }
}

struct Replay {
  qb::Script script;
  HANDLE stop;
};

DWORD WINAPI PlayThread(LPVOID param) {
  Replay* r = static_cast<Replay*>(param);
  std::set<std::pair<uint16_t, uint8_t>> keys;  // held keys: code, extended
  std::vector<qb::ScriptEvent> buttons;  // held buttons with where they went down
  DWORD start = GetTickCount();
  bool stopped = false;
  for (const qb::ScriptEvent& e : r->script.events) {
    DWORD now = GetTickCount() - start;
    DWORD wait = e.time > now ? e.time - now : 0;
    if (WaitForSingleObject(r->stop, wait) == WAIT_OBJECT_0) {
      stopped = true;
      break;
    }
    DWORD data = 0;
    switch (e.type) {
      case qb::kKeyDown:
      case qb::kKeyUp: {
        bool up = e.type == qb::kKeyUp;
        SendKey(e.code, static_cast<uint16_t>(e.data), e.flags & 1, up);
        auto k = std::make_pair(e.code, static_cast<uint8_t>(e.flags & 1));
        if (up) keys.erase(k);
        else keys.insert(k);
        break;
      }
      case qb::kMouseMove: SendMouse(e, 0, 0); break;
      case qb::kButtonDown:
      case qb::kButtonUp: {
        bool down = e.type == qb::kButtonDown;
        SendMouse(e, ButtonFlags(e.code, down, data), data);
        for (size_t i = 0; i < buttons.size(); ++i)
          if (buttons[i].code == e.code) buttons.erase(buttons.begin() + static_cast<long>(i--));
        if (down) buttons.push_back(e);
        break;
      }
      case qb::kWheel: SendMouse(e, MOUSEEVENTF_WHEEL, static_cast<DWORD>(e.data)); break;
      case qb::kHWheel: SendMouse(e, 0x1000 /* MOUSEEVENTF_HWHEEL */, static_cast<DWORD>(e.data)); break;
    }
  }
  (void)stopped;
  // Nothing the script pressed stays down: a stuck Ctrl or Shift would
  // change every key the user types next.
  for (const auto& k : keys) SendKey(k.first, static_cast<uint16_t>(MapVirtualKeyW(k.first, 0)), k.second, true);
  for (const qb::ScriptEvent& b : buttons) {
    DWORD data = 0;
    SendMouse(b, ButtonFlags(b.code, false, data), data);
  }
  delete r;
  return 0;
}

// With g_lock held: a replay that ended by itself leaves its handles behind.
void ReapReplay() {
  if (g_playThread && WaitForSingleObject(g_playThread, 0) == WAIT_OBJECT_0) {
    CloseHandle(g_playThread);
    CloseHandle(g_playStop);
    g_playThread = g_playStop = nullptr;
  }
}

}  // namespace

extern "C" {

__declspec(dllexport) void StartRecord(int mode) {
  std::lock_guard<std::mutex> lock(g_lock);
  ReapReplay();
  if (g_recThread || g_playThread) return;
  g_recMode = mode == 2 ? 2 : 1;
  g_recEvents.clear();
  g_recButtonThread.clear();
  g_recStart = GetTickCount();
  g_recReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!g_recReady) return;
  g_recThread = CreateThread(nullptr, 0, RecordThread, nullptr, 0, &g_recThreadId);
  if (g_recThread) WaitForSingleObject(g_recReady, 5000);  // the hooks are in when we return
  CloseHandle(g_recReady);
  g_recReady = nullptr;
}

__declspec(dllexport) void StopRecord() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_recThread) return;
  // The loop may not have its queue yet only before the ready event, which
  // StartRecord waited for.
  PostThreadMessageW(g_recThreadId, WM_QUIT, 0, 0);
  WaitForSingleObject(g_recThread, INFINITE);
  CloseHandle(g_recThread);
  g_recThread = nullptr;
  g_current.mode = static_cast<uint16_t>(g_recMode);
  g_current.events = std::move(g_recEvents);
  g_recEvents.clear();
  // What stopped the recording is not part of it.
  qb::DropTrailingInputTo(g_current.events, g_recButtonThread, GetCurrentThreadId());
  g_recButtonThread.clear();
  qb::DropUnreleased(g_current.events);
}

__declspec(dllexport) int SaveScriptFile(const char* path) {
  if (!path || !*path) return 0;
  qb::Script copy;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    copy = g_current;
  }
  return qb::StoreScriptFile(path, copy);
}

__declspec(dllexport) int ReadScriptFile(const char* path) {
  if (!path || !*path) return 0;
  qb::Script loaded;
  if (!qb::LoadScriptFile(path, loaded)) return 0;
  std::lock_guard<std::mutex> lock(g_lock);
  g_current = std::move(loaded);
  return 1;
}

__declspec(dllexport) void PlayRecord() {
  std::lock_guard<std::mutex> lock(g_lock);
  ReapReplay();
  if (g_recThread || g_playThread || g_current.events.empty()) return;
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stop) return;
  Replay* r = new Replay{g_current, stop};
  HANDLE t = CreateThread(nullptr, 0, PlayThread, r, 0, nullptr);
  if (!t) {
    delete r;
    CloseHandle(stop);
    return;
  }
  g_playThread = t;
  g_playStop = stop;
}

__declspec(dllexport) void StopPlay() {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_playThread) return;
  SetEvent(g_playStop);
  WaitForSingleObject(g_playThread, INFINITE);
  CloseHandle(g_playThread);
  CloseHandle(g_playStop);
  g_playThread = g_playStop = nullptr;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

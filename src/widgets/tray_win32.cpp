// The notification-area icon.
#include "widgets/tray_win32.h"

#include "base/codepage.h"

#include "os/os.h"
#include "win/messages_win32.h"
#include "win/text_win32.h"

namespace qb {

namespace {
const wchar_t kTrayClass[] = L"QimboTrayWnd";
}

std::string CutGbk(const std::string& text, size_t limit) { return CutBytes(text, limit); }

CSystemTray::~CSystemTray() {
  if (m_timer && m_hWnd) KillTimer(m_hWnd, m_timer);
  if (m_enabled) Shell_NotifyIconW(NIM_DELETE, &m_data);
  FreeIconList();
  if (m_hWnd) DestroyWindow(m_hWnd);
}

LRESULT CALLBACK CSystemTray::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CSystemTray*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (msg == WM_TIMER && wParam == kTrayAnimationTimer && self) {
    self->OnTimer();
    return 0;
  }
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

bool CSystemTray::Create(HWND owner, UINT callbackMessage, const std::string& tip, HICON icon, UINT id) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = inst;
  wc.lpszClassName = kTrayClass;
  RegisterClassW(&wc);  // a second registration fails harmlessly
  m_hWnd = CreateWindowExW(0, kTrayClass, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, inst, nullptr);
  if (!m_hWnd) return false;
  SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  m_data.cbSize = sizeof m_data;
  m_data.hWnd = owner ? owner : m_hWnd;
  m_data.uID = id;
  m_data.hIcon = icon;
  m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  m_data.uCallbackMessage = callbackMessage;
  std::wstring w = W(CutGbk(tip, 63));
  lstrcpynW(m_data.szTip, w.c_str(), static_cast<int>(sizeof m_data.szTip / sizeof m_data.szTip[0]));
  m_enabled = Shell_NotifyIconW(NIM_ADD, &m_data) != FALSE;
  return m_enabled;
}

std::string CSystemTray::Tip() const { return Gbk(m_data.szTip); }

bool CSystemTray::SetIcon(HICON icon) {
  m_data.hIcon = icon;
  m_data.uFlags = NIF_ICON;
  bool ok = !m_enabled || Shell_NotifyIconW(NIM_MODIFY, &m_data) != FALSE;
  m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  return ok;
}

bool CSystemTray::ShowBalloon(const std::string& title, const std::string& text) {
  if (!m_enabled) return false;
  NOTIFYICONDATAW data = m_data;
  data.uFlags = NIF_INFO;
  data.dwInfoFlags = NIIF_INFO;
  lstrcpynW(data.szInfo, W(text).c_str(), static_cast<int>(sizeof data.szInfo / sizeof data.szInfo[0]));
  lstrcpynW(data.szInfoTitle, W(title).c_str(), static_cast<int>(sizeof data.szInfoTitle / sizeof data.szInfoTitle[0]));
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

bool CSystemTray::SetIconList(UINT firstId, UINT lastId) {
  HICON shown = m_data.hIcon;
  std::vector<ScopedIcon> fresh;
  for (UINT id = firstId; id <= lastId; ++id) {
    ScopedIcon h(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    try {
      fresh.push_back(std::move(h));
    } catch (...) {
      FreeIconList();
      return false;
    }
  }
  // The icon on show may belong to the old list: keep showing a live icon.
  bool showingOld = false;
  for (const ScopedIcon& h : m_icons) showingOld |= h.Get() == shown;
  std::vector<ScopedIcon> old;
  old.swap(m_icons);
  m_icons = std::move(fresh);
  m_current = 0;
  if (showingOld && !m_icons.empty()) SetIcon(m_icons[0].Get());
  if (showingOld && m_saved) {
    for (const ScopedIcon& h : old)
      if (h.Get() == m_saved) m_saved = nullptr;
  }
  return true;  // the old list goes with `old`
}

bool CSystemTray::Animate(UINT intervalMs, int maxSeconds) {
  StopAnimation();
  m_start = os::TickCount();
  m_maxSeconds = maxSeconds;
  m_saved = m_data.hIcon;
  m_timer = m_hWnd ? SetTimer(m_hWnd, kTrayAnimationTimer, intervalMs, nullptr) : 0;
  return m_timer != 0;
}

void CSystemTray::OnTimer() {
  if (m_maxSeconds > 0) {
    unsigned elapsed = (os::TickCount() - m_start + 500) / 1000;
    if (elapsed > static_cast<unsigned>(m_maxSeconds)) {
      StopAnimation();
      return;
    }
  }
  if (m_icons.empty()) return;
  m_current = (m_current + 1) % m_icons.size();
  SetIcon(m_icons[m_current].Get());
}

void CSystemTray::StopAnimation() {
  if (m_timer && m_hWnd) KillTimer(m_hWnd, m_timer);
  m_timer = 0;
  if (m_enabled && m_saved) SetIcon(m_saved);
  m_saved = nullptr;
}

}  // namespace qb

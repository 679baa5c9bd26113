#include "panels/find_box_win32.h"

#include "../../res/panels_ids.h"
#include "model/app_logic.h"
#include "panels/open_item.h"
#include "panels/panel_text.h"
#include "panels/panel_windows_win32.h"
#include "win/subclass_win32.h"
#include "win/text_win32.h"

namespace panels {

namespace {

const wchar_t kClassName[] = L"QimboFindBox";
const char kNothingFound[] = "没有找到：换个词，或打它的拼音、拼音首字母";
constexpr int kEditHeight = 26, kRowHeight = 22, kIconSize = 16;

bool RegisterOnce() {
  static bool done = false;
  if (done) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;  // replaced once the object is attached
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  done = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return done;
}

CFindBox* BoxOf(HWND wnd) { return reinterpret_cast<CFindBox*>(GetWindowLongPtrW(wnd, GWLP_USERDATA)); }

}  // namespace

CFindBox::~CFindBox() {
  if (m_hWnd) DestroyWindow(m_hWnd);
}

bool CFindBox::Make(HWND owner, HFONT font) {
  if (!RegisterOnce()) return false;
  m_hWnd = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP | WS_BORDER | WS_CLIPCHILDREN, 0, 0, 10, 10,
                           owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!m_hWnd) return false;
  SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CFindBox::WndProc));
  HINSTANCE inst = GetModuleHandleW(nullptr);
  m_edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 10, 10, m_hWnd,
                           reinterpret_cast<HMENU>(IDC_FIND_EDIT), inst, nullptr);
  m_list = CreateWindowExW(0, L"ListBox", L"",
                           WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT, 0,
                           0, 10, 10, m_hWnd, reinterpret_cast<HMENU>(IDC_FIND_LIST), inst, nullptr);
  m_none = CreateWindowExW(0, L"Static", qb::W(kNothingFound).c_str(), WS_CHILD | SS_CENTER, 0, 0, 10, 10, m_hWnd,
                           reinterpret_cast<HMENU>(IDC_FIND_NONE), inst, nullptr);
  if (!m_edit || !m_list || !m_none) return false;
  m_font = font;
  for (HWND w : {m_edit, m_list, m_none}) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageW(m_edit, EM_SETLIMITTEXT, 500, 0);
  SendMessageW(m_list, LB_SETITEMHEIGHT, 0, kRowHeight);
  qb::Subclass(m_edit, &CFindBox::EditProc, 1, reinterpret_cast<DWORD_PTR>(this));
  qb::Subclass(m_list, &CFindBox::ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
  m_defaultIcon.Reset(static_cast<HICON>(
      LoadImageW(inst, MAKEINTRESOURCEW(IDI_ITEM_DEFAULT), IMAGE_ICON, kIconSize, kIconSize, 0)));
  return true;
}

bool CFindBox::Open(HWND owner, const RECT& place, HFONT font) {
  if (!m_hWnd && !Make(owner, font)) return false;
  // The tree may have changed since the box was last open.
  if (Host().app) m_index.Build(*Host().app);
  m_icons.clear();
  m_hits.clear();
  int width = place.right - place.left, height = place.bottom - place.top;
  SetWindowPos(m_hWnd, HWND_TOP, place.left, place.top, width, height, SWP_NOACTIVATE);
  Layout(width, height);
  SetWindowTextW(m_edit, L"");
  Search();
  ShowWindow(m_hWnd, SW_SHOW);
  SetForegroundWindow(m_hWnd);
  SetActiveWindow(m_hWnd);
  SetFocus(m_edit);
  return true;
}

void CFindBox::Close() {
  if (!m_hWnd || m_closing || !IsWindowVisible(m_hWnd)) return;
  m_closing = true;
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  ShowWindow(m_hWnd, SW_HIDE);
  if (owner && IsWindowVisible(owner) && GetForegroundWindow() == nullptr) SetForegroundWindow(owner);
  m_hits.clear();
  m_icons.clear();
  m_closing = false;
}

void CFindBox::Layout(int width, int height) {
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  width = rc.right;
  height = rc.bottom;
  MoveWindow(m_edit, 4, 4, width - 8, kEditHeight, FALSE);
  int top = 8 + kEditHeight;
  MoveWindow(m_list, 4, top, width - 8, height - top - 4, FALSE);
  MoveWindow(m_none, 4, top + 8, width - 8, kRowHeight, FALSE);
}

void CFindBox::Search() {
  std::string query = qb::Gbk(qb::WindowTextW(m_edit));
  m_hits = m_index.Find(query, kFindBoxRows);
  SendMessageW(m_list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(m_list, LB_RESETCONTENT, 0, 0);
  for (size_t i = 0; i < m_hits.size(); ++i) SendMessageW(m_list, LB_ADDSTRING, 0, static_cast<LPARAM>(i));
  if (!m_hits.empty()) SendMessageW(m_list, LB_SETCURSEL, 0, 0);
  SendMessageW(m_list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(m_list, nullptr, TRUE);
  bool none = m_hits.empty() && !FindWords(query).empty();
  ShowWindow(m_none, none ? SW_SHOWNA : SW_HIDE);
  ShowWindow(m_list, none ? SW_HIDE : SW_SHOWNA);
}

void CFindBox::MoveSelection(int by) {
  int count = static_cast<int>(SendMessageW(m_list, LB_GETCOUNT, 0, 0));
  if (count <= 0) return;
  int at = static_cast<int>(SendMessageW(m_list, LB_GETCURSEL, 0, 0));
  at = at < 0 ? 0 : at + by;
  if (at < 0) at = 0;
  if (at >= count) at = count - 1;
  SendMessageW(m_list, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
}

void CFindBox::OpenSelection() {
  int at = static_cast<int>(SendMessageW(m_list, LB_GETCURSEL, 0, 0));
  CNodeRef node;
  if (at >= 0 && static_cast<size_t>(at) < m_hits.size()) node = m_hits[static_cast<size_t>(at)].entry->node.Get();
  Close();
  // What a double click on the entry's button does: the same start, script
  // and visit.
  if (node && Host().ui) OpenItem(*node, ProgramDir(), *Host().ui);
}

HICON CFindBox::RowIcon(const FindEntry& e) {
  const CMyNode* n = e.node.Get();
  if (!n) return m_defaultIcon.Get();
  auto it = m_icons.find(n);
  if (it != m_icons.end()) return it->second ? it->second.Get() : m_defaultIcon.Get();
  // Only files are asked for: the shell takes its time over an address.
  std::string source = n->m_nKind == ProgramItem ? n->m_strAddress + n->m_strName : IconSource(*n);
  HICON icon = IsFilePath(source) ? ShellIcon(source) : nullptr;
  if (!icon && n->m_nKind == UrlItem && IsFilePath(n->m_strIconPath)) icon = ShellIcon(n->m_strIconPath);
  qb::ScopedIcon& slot = m_icons[n];
  slot.Reset(icon);
  return icon ? icon : m_defaultIcon.Get();
}

void CFindBox::DrawRow(const DRAWITEMSTRUCT& d) {
  if (d.itemID == static_cast<UINT>(-1) || d.itemData >= m_hits.size()) return;
  const FindEntry& e = *m_hits[d.itemData].entry;
  bool selected = (d.itemState & ODS_SELECTED) != 0;
  HDC dc = d.hDC;
  FillRect(dc, &d.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  int iconTop = d.rcItem.top + (kRowHeight - kIconSize) / 2;
  DrawIconEx(dc, d.rcItem.left + 4, iconTop, RowIcon(e), kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
  HGDIOBJ oldFont = SelectObject(dc, m_font);
  SetBkMode(dc, TRANSPARENT);
  RECT where = d.rcItem;
  where.right -= 6;
  where.left = where.right - (where.right - where.left) / 3;
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_GRAYTEXT));
  std::wstring place = qb::W(e.where);
  DrawTextW(dc, place.c_str(), static_cast<int>(place.size()), &where,
            DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  RECT name = d.rcItem;
  name.left += 8 + kIconSize;
  name.right = where.left - 8;
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  std::wstring caption = qb::W(e.caption);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &name,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(dc, oldFont);
}

LRESULT CALLBACK CFindBox::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CFindBox* box = BoxOf(wnd);
  if (!box) return DefWindowProcW(wnd, msg, wParam, lParam);
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_FIND_EDIT && HIWORD(wParam) == EN_CHANGE) box->Search();
      return 0;
    case WM_DRAWITEM:
      box->DrawRow(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_GRAYTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_ACTIVATE:
      // A click anywhere else puts the box away.
      if (LOWORD(wParam) == WA_INACTIVE) box->Close();
      return 0;
    case WM_DESTROY:
      box->m_hWnd = nullptr;
      return 0;
  }
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

LRESULT CALLBACK CFindBox::EditProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  CFindBox* box = reinterpret_cast<CFindBox*>(ref);
  switch (msg) {
    case WM_GETDLGCODE:
      return qb::DefSubclass(wnd, msg, wParam, lParam) | DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_UP: box->MoveSelection(-1); return 0;
        case VK_DOWN: box->MoveSelection(1); return 0;
        case VK_PRIOR: box->MoveSelection(-10); return 0;
        case VK_NEXT: box->MoveSelection(10); return 0;
        case VK_RETURN: box->OpenSelection(); return 0;
        case VK_ESCAPE: box->Close(); return 0;
      }
      break;
    case WM_CHAR:
      if (wParam == '\r' || wParam == 27) return 0;  // no beep
      break;
  }
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

LRESULT CALLBACK CFindBox::ListProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  CFindBox* box = reinterpret_cast<CFindBox*>(ref);
  switch (msg) {
    case WM_LBUTTONUP: {
      LRESULT r = qb::DefSubclass(wnd, msg, wParam, lParam);
      LRESULT hit = SendMessageW(wnd, LB_ITEMFROMPOINT, 0, lParam);
      if (HIWORD(hit) == 0) {
        SendMessageW(wnd, LB_SETCURSEL, LOWORD(hit), 0);
        box->OpenSelection();
      }
      return r;
    }
  }
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

}  // namespace panels

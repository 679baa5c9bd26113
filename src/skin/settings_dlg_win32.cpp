// CBackBmpDlg: the hotkey and skin settings window.
#include "skin/settings_dlg_win32.h"

#include <commdlg.h>

#include "../../res/settings_ids.h"
#include "os/font_win32.h"
#include "skin/hotkey.h"
#include "skin/skin_edit.h"
#include "win/file_dialog_win32.h"
#include "win/messages_win32.h"
#include "win/modal_pump_win32.h"
#include "win/subclass_win32.h"
#include "win/text_win32.h"

namespace qb {

namespace {

const char kTitle[] = "当前热键及皮肤设置";
const char kMaking[] = "正在生成皮肤...";
const char kMade[] = "皮肤生成成功";
const char kNotMade[] = "皮肤生成失败";
const char kBadArea[] = "窗口ComboBox异常，按确认退出！";
const UINT_PTR kHotkeyEditSubclass = 0x51534B45;  // 'QSKE'
const uint32_t kClosePauseMs = 1000;
// The code the save's pump gives the message-filter hooks.
const int kSkinSavePump = MSGF_USER + 1;

// The seven skin buttons in member order: the font, then the six colours.
const UINT kSkinButtonIds[7] = {IDC_SET_FONT,        IDC_SET_NORMAL_TEXT,  IDC_SET_NORMAL_BACK, IDC_SET_HOVER_TEXT,
                                IDC_SET_HOVER_BACK,  IDC_SET_PRESSED_TEXT, IDC_SET_PRESSED_BACK};
// What only the areas of all colours show.
const UINT kBackColourIds[4] = {IDC_SET_HOVER_BACK, IDC_SET_NORMAL_BACK, IDC_SET_PRESSED_BACK, IDC_SET_PRESSED_TEXT};

Colour* ColourOf(SkinStyle& s, UINT id) {
  switch (id) {
    case IDC_SET_NORMAL_BACK: return &s.m_clrNormalBack;
    case IDC_SET_PRESSED_BACK: return &s.m_clrPressedBack;
    case IDC_SET_HOVER_BACK: return &s.m_clrHoverBack;
    case IDC_SET_HOVER_TEXT: return &s.m_clrHoverText;
    case IDC_SET_NORMAL_TEXT: return &s.m_clrNormalText;
    case IDC_SET_PRESSED_TEXT: return &s.m_clrPressedText;
  }
  return nullptr;
}
bool IsTextColour(UINT id) {
  return id == IDC_SET_HOVER_TEXT || id == IDC_SET_NORMAL_TEXT || id == IDC_SET_PRESSED_TEXT;
}

bool PlatformColour(HWND owner, COLORREF& colour) {
  static COLORREF custom[16] = {};
  CHOOSECOLORW cc = {};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = owner;
  cc.rgbResult = colour;
  cc.lpCustColors = custom;
  cc.Flags = CC_RGBINIT;
  if (!ChooseColorW(&cc)) return false;
  colour = cc.rgbResult;
  return true;
}

bool PlatformFont(HWND owner, LOGFONTW& font) {
  CHOOSEFONTW cf = {};
  cf.lStructSize = sizeof cf;
  cf.hwndOwner = owner;
  cf.lpLogFont = &font;
  cf.Flags = CF_SCREENFONTS | CF_NOVERTFONTS | CF_INITTOLOGFONTSTRUCT;
  return ChooseFontW(&cf) != FALSE;
}

bool PlatformImage(HWND owner, std::string& path) {
  static const wchar_t kFilter[] = L"\u8D44\u6E90\u6587\u4EF6(*.BMP,*.JPG)\0*.BMP;*.JPG\0\0";  // 资源文件
  std::wstring file;
  if (!AskFileName(owner, false, kFilter, L"BMP",
                   OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR, file))
    return false;
  path = Gbk(file);
  return true;
}

void AppendText(HWND edit, const std::string& gbk) {
  int end = GetWindowTextLengthW(edit);
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(W(gbk).c_str()));
}

std::function<void(SettingsHost&)>& HostAdjuster() {
  static std::function<void(SettingsHost&)> adjust;
  return adjust;
}

}  // namespace

CBackBmpDlg::CBackBmpDlg(const SettingsHost& host) : m_host(host) {
  if (HostAdjuster()) HostAdjuster()(m_host);
}

void CBackBmpDlg::SetHostAdjuster(std::function<void(SettingsHost&)> adjust) { HostAdjuster() = std::move(adjust); }

CBackBmpDlg::~CBackBmpDlg() {
  if (HWND edit = m_hWnd ? GetDlgItem(m_hWnd, IDC_SET_HOTKEY) : nullptr)
    Unsubclass(edit, HotkeyEditProc, kHotkeyEditSubclass);
}

bool CBackBmpDlg::Create(HWND owner) {
  if (!m_host.skins || !CDialogWindow::Create(IDD_SETTINGS, owner)) return false;
  ShowWindow(m_hWnd, SW_SHOW);
  SetForegroundWindow(m_hWnd);
  SetFocus(GetDlgItem(m_hWnd, IDC_SET_AREA));
  return true;
}

bool CBackBmpDlg::OnInitDialog() {
  HWND edit = GetDlgItem(m_hWnd, IDC_SET_HOTKEY);
  m_bOpening = true;
  SetWindowTextW(edit, W(m_host.hotkeyText ? m_host.hotkeyText() : std::string()).c_str());
  m_bOpening = false;
  m_bCaptureKeys = m_bHotkeyChanged = false;
  Subclass(edit, HotkeyEditProc, kHotkeyEditSubclass, reinterpret_cast<DWORD_PTR>(this));

  m_nArea = kAreaBookmarks;
  m_working = WorkingCopyOf(*m_host.skins, m_nArea);
  for (int i = 0; i < 7; ++i) {
    m_buttons[i].SubclassDlgItem(kSkinButtonIds[i], m_hWnd);
    m_buttons[i].SetFlat(false, false);
  }
  m_textSample.SubclassDlgItem(IDC_SET_TEXT_SAMPLE, m_hWnd);
  m_buttonSample.SubclassDlgItem(IDC_SET_BUTTON_SAMPLE, m_hWnd);
  HWND list = GetDlgItem(m_hWnd, IDC_SET_AREA);
  for (int area = 0; area < kSkinAreaCount; ++area) {
    LRESULT at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(SkinAreaName(area)).c_str()));
    SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), area);
  }
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(m_nArea), 0);
  m_textSample.DrawTransparent(false);
  ShowArea();
  ShowRecord();
  return true;
}

// ---- the hotkey edit ------------------------------------------------------------

// While the edit has the focus a key press becomes hotkey text; a key that
// makes none (a plain key outside 0-9, A-Z and F2-F11) is the edit's as usual.
bool CBackBmpDlg::CaptureKey(UINT msg, WPARAM key) {
  if (!m_bCaptureKeys || (msg != WM_KEYDOWN && msg != WM_SYSKEYDOWN)) return false;
  std::string text = FormatHotkeyText(static_cast<unsigned>(key), GetKeyState(VK_SHIFT) < 0,
                                      GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0);
  if (text.empty()) return false;
  HWND edit = GetDlgItem(m_hWnd, IDC_SET_HOTKEY);
  SetWindowTextW(edit, W(text).c_str());
  SendMessageW(edit, EM_SETSEL, text.size(), static_cast<LPARAM>(text.size()));
  HotkeyEdited();
  return true;
}

// The first change takes the current hotkey off, so that pressing it is
// captured instead of bringing the chooser up.
void CBackBmpDlg::HotkeyEdited() {
  if (m_bOpening || m_bHotkeyChanged) return;
  m_bHotkeyChanged = true;
  if (m_host.unregisterHotkey) m_host.unregisterHotkey();
}

LRESULT CALLBACK CBackBmpDlg::HotkeyEditProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR ref) {
  auto* self = reinterpret_cast<CBackBmpDlg*>(ref);
  switch (msg) {
    case WM_GETDLGCODE: {
      // The dialog's own keys (Tab, Escape, Enter) with a modifier held are
      // hotkey text too: the edit asks for them.
      LRESULT code = DefSubclass(wnd, msg, wParam, lParam);
      const MSG* m = reinterpret_cast<const MSG*>(lParam);
      if (m && self->m_bCaptureKeys && (m->message == WM_KEYDOWN || m->message == WM_SYSKEYDOWN) &&
          (GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0))
        code |= DLGC_WANTMESSAGE;
      return code;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      self->m_bEatChar = self->CaptureKey(msg, wParam);
      if (self->m_bEatChar) return 0;
      break;
    case WM_CHAR:
    case WM_SYSCHAR:
      if (self->m_bEatChar) return 0;  // the captured key types nothing
      break;
    case WM_NCDESTROY:
      Unsubclass(wnd, HotkeyEditProc, kHotkeyEditSubclass);
      break;
  }
  return DefSubclass(wnd, msg, wParam, lParam);
}

// ---- areas and samples --------------------------------------------------------------

void CBackBmpDlg::ShowArea() {
  bool all = AreaTakesAllColours(m_nArea);
  for (UINT id : kBackColourIds) ShowWindow(GetDlgItem(m_hWnd, static_cast<int>(id)), all ? SW_SHOW : SW_HIDE);
  ShowWindow(m_buttonSample.GetSafeHwnd(), all ? SW_SHOW : SW_HIDE);
  ShowWindow(m_textSample.GetSafeHwnd(), all ? SW_HIDE : SW_SHOW);
}

// The working copy as the samples wear it; until a font is picked they show
// the area's own font, which the working copy takes over when applied.
SkinColours CBackBmpDlg::WorkingLook() const {
  const os::CFont* font = m_working.m_font ? m_working.m_font.get() : (*m_host.skins)[m_nArea].m_font.get();
  return SkinColoursOf(m_working, font ? static_cast<HFONT>(font->Handle()) : nullptr);
}

void CBackBmpDlg::RefreshSamples(bool textSample, bool buttonSample) {
  SkinColours look = WorkingLook();
  if (textSample) {
    ApplySkinTextColours(m_textSample, look);
    InvalidateRect(m_textSample.GetSafeHwnd(), nullptr, TRUE);
  }
  if (buttonSample) {
    ApplySkinToButton(m_buttonSample, look);
    InvalidateRect(m_buttonSample.GetSafeHwnd(), nullptr, TRUE);
  }
}

void CBackBmpDlg::ShowRecord() {
  SetDlgItemTextW(m_hWnd, IDC_SET_IMAGE_PATH, W(m_working.m_strImagePath).c_str());
  RefreshSamples(true, true);
  CheckDlgButton(m_hWnd, IDC_SET_CLICK_MARK, m_working.m_nClickMark ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(m_hWnd, IDC_SET_FLAT, m_working.m_nFlat ? BST_CHECKED : BST_UNCHECKED);
  const os::CFont* font = (*m_host.skins)[m_nArea].m_font.get();
  SetWindowTextW(m_textSample.GetSafeHwnd(), W(SampleCaption("透明样板-", font)).c_str());
  SetWindowTextW(m_buttonSample.GetSafeHwnd(), W(SampleCaption("按钮样板-", font)).c_str());
}

void CBackBmpDlg::SwitchArea() {
  HWND list = GetDlgItem(m_hWnd, IDC_SET_AREA);
  LRESULT sel = SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (sel < 0 || sel >= kSkinAreaCount) return;
  m_nArea = static_cast<int>(SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(sel), 0));
  ShowArea();
  // Whatever was not applied in the previous area goes.
  m_working = WorkingCopyOf(*m_host.skins, m_nArea);
  ShowRecord();
}

// ---- the pickers --------------------------------------------------------------------

void CBackBmpDlg::PickAreaColour(UINT id) {
  Colour* member = ColourOf(m_working, id);
  if (!member) return;
  COLORREF colour = *member;
  bool ok = m_host.pickColour ? m_host.pickColour(m_hWnd, colour) : PlatformColour(m_hWnd, colour);
  if (!ok) return;
  *member = colour;
  RefreshSamples(IsTextColour(id), true);
}

void CBackBmpDlg::PickAreaFont() {
  const os::CFont* current = (*m_host.skins)[m_nArea].m_font.get();
  LOGFONTW lf = os::ToLogFont(current ? current->Desc() : DefaultSkinFont(m_nArea));
  bool ok = m_host.pickFont ? m_host.pickFont(m_hWnd, lf) : PlatformFont(m_hWnd, lf);
  if (!ok) return;
  std::unique_ptr<os::CFont> font = os::CFont::Create(os::FromLogFont(lf));
  if (!font) {
    StopBox(L"Unable to create font !", L"Error");
    return;  // the working copy keeps the font it had
  }
  m_working.m_font = std::move(font);
  RefreshSamples(true, true);
  SetWindowTextW(m_textSample.GetSafeHwnd(), W(os::FaceName(m_working.m_font->Desc())).c_str());
}

void CBackBmpDlg::PickAreaImage() {
  std::string path;
  bool ok = m_host.pickImage ? m_host.pickImage(m_hWnd, path) : PlatformImage(m_hWnd, path);
  if (ok) m_working.m_strImagePath = path;
  SetDlgItemTextW(m_hWnd, IDC_SET_IMAGE_PATH, W(m_working.m_strImagePath).c_str());
}

void CBackBmpDlg::StopBox(const wchar_t* text, const wchar_t* title) {
  if (m_host.stopBox)
    m_host.stopBox(m_hWnd, text, title);
  else
    MessageBoxW(m_hWnd, text, title, MB_OK | MB_ICONHAND);
}

// ---- apply, close, named skin -------------------------------------------------------

void CBackBmpDlg::Apply() {
  if (m_bHotkeyChanged) {
    std::string text;
    for (char c : WindowTextGbk(GetDlgItem(m_hWnd, IDC_SET_HOTKEY)))
      if (c != ' ') text.push_back(c);
    // A text the owner cannot register keeps the old one, and the old hotkey
    // must work again: it was taken off when the edit changed.
    int ok = m_host.changeHotkey ? m_host.changeHotkey(text) : 0;
    if (!ok && m_host.restoreHotkey && m_host.hotkeyText) m_host.restoreHotkey(m_host.hotkeyText());
    m_bHotkeyChanged = false;
  }
  HWND list = GetDlgItem(m_hWnd, IDC_SET_AREA);
  LRESULT sel = SendMessageW(list, CB_GETCURSEL, 0, 0);
  int area = sel == CB_ERR ? -1 : static_cast<int>(SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(sel), 0));
  if (area < 0 || area >= kSkinAreaCount) {
    std::wstring text = W(kBadArea);
    StopBox(text.c_str(), L"Qimbo\u6536\u85CF");
    m_working = SkinStyle();
    return;
  }
  TakeWorkingCopy(*m_host.skins, area, m_working);
  SaveSkin(m_host.programDir, "", *m_host.skins);  // a failure keeps the record in memory
  if (m_host.skinApplied) m_host.skinApplied(area);
}

// The main window deletes this object when the message arrives: it is
// posted, so that nothing runs in an object already deleted.
void CBackBmpDlg::Close() {
  HWND main = m_host.mainWindow;
  DestroyWindow(m_hWnd);
  if (main) PostMessageW(main, WM_SETTINGS_CLOSED, 0, 0);
}

void CBackBmpDlg::Confirm() {
  Apply();
  Close();
}

void CBackBmpDlg::Cancel() {
  m_working = SkinStyle();
  if (m_bHotkeyChanged && m_host.restoreHotkey && m_host.hotkeyText) m_host.restoreHotkey(m_host.hotkeyText());
  m_bHotkeyChanged = false;
  Close();
}

void CBackBmpDlg::Pause(uint32_t ms) {
  if (m_host.pause)
    m_host.pause(ms);
  else
    PumpMessagesFor(ms);
}

void CBackBmpDlg::PumpMessagesFor(uint32_t ms) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // for the program's own loop
        return;
      }
      // Like the system's modal loops, this one lets the program's hook see
      // each message first: thread messages (transfer status, the prompt's
      // closing, the server address, the tray's transfer commands) have no
      // window to go to and would be lost.
      if (CallMsgFilterW(&msg, kSkinSavePump)) continue;
      HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
      if (root && DispatchDialogMessage(root, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    DWORD gone = GetTickCount() - start;
    if (gone >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - gone, QS_ALLINPUT);
  }
}

// The save pauses after each image copy; the window is painted and answers
// meanwhile, but cannot be closed until the save is done.
void CBackBmpDlg::MakeNamedSkin() {
  Apply();
  std::string name = CleanSkinName(WindowTextGbk(GetDlgItem(m_hWnd, IDC_SET_SKIN_NAME)));
  m_bMaking = true;
  for (int id : {IDC_SET_CONFIRM, IDC_SET_CANCEL, IDC_SET_MAKE_SKIN}) EnableWindow(GetDlgItem(m_hWnd, id), FALSE);
  HWND progress = GetDlgItem(m_hWnd, IDC_SET_PROGRESS);
  SetWindowTextW(m_hWnd, W(std::string(kTitle) + "--" + kMaking).c_str());
  AppendText(progress, kMaking);
  UpdateWindow(m_hWnd);
  // A name with nothing left after cleaning names no skin: saving the
  // current one again instead would report a skin that was never made.
  int ok = name.empty() ? 0 : SaveSkin(m_host.programDir, name, *m_host.skins, [this](uint32_t ms) { Pause(ms); });
  SetWindowTextW(m_hWnd, W(std::string(kTitle) + "--" + (ok ? kMade : kNotMade)).c_str());
  AppendText(progress, ok ? kMade : kNotMade);
  UpdateWindow(m_hWnd);
  Pause(kClosePauseMs);
  m_bMaking = false;
  Close();
}

void CBackBmpDlg::OnCommand(UINT id, UINT code) {
  if (m_bMaking) return;
  switch (id) {
    case IDC_SET_HOTKEY:
      if (code == EN_SETFOCUS) m_bCaptureKeys = true;
      if (code == EN_KILLFOCUS) m_bCaptureKeys = false;
      if (code == EN_CHANGE) HotkeyEdited();
      break;
    case IDC_SET_AREA:
      if (code == CBN_SELCHANGE) SwitchArea();
      break;
    case IDC_SET_IMAGE: PickAreaImage(); break;
    case IDC_SET_FONT: PickAreaFont(); break;
    case IDC_SET_NORMAL_BACK:
    case IDC_SET_PRESSED_BACK:
    case IDC_SET_HOVER_BACK:
    case IDC_SET_HOVER_TEXT:
    case IDC_SET_NORMAL_TEXT:
    case IDC_SET_PRESSED_TEXT: PickAreaColour(id); break;
    case IDC_SET_FLAT:
      m_working.m_nFlat = IsDlgButtonChecked(m_hWnd, IDC_SET_FLAT) == BST_CHECKED ? 1 : 0;
      RefreshSamples(true, true);
      break;
    case IDC_SET_CLICK_MARK:
      m_working.m_nClickMark = IsDlgButtonChecked(m_hWnd, IDC_SET_CLICK_MARK) == BST_CHECKED ? 1 : 0;
      RefreshSamples(true, false);
      break;
    case IDC_SET_CONFIRM: Confirm(); break;
    case IDC_SET_CANCEL:
    case IDCANCEL: Cancel(); break;
    case IDC_SET_MAKE_SKIN: MakeNamedSkin(); break;
  }
}

INT_PTR CBackBmpDlg::DialogProc(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      if (!m_bMaking) Cancel();
      return TRUE;
  }
  return FALSE;
}

}  // namespace qb

// The chat window.
#include "app/chat_dlg_win32.h"

#include <richedit.h>

#include "../../res/chat_ids.h"
#include "../../res/resource.h"
#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "base/messages.h"
#include "net/chat_links.h"
#include "os/os.h"
#include "os/shell.h"
#include "panels/open_item.h"
#include "skin/config.h"
#include "win/subclass_win32.h"
#include "win/text_win32.h"

namespace qb {

namespace {

const UINT_PTR kInputSubclass = 0x43484149;  // the input box's Enter
const UINT_PTR kSendSubclass = 0x43484153;   // 发送 pressed by the mouse keeps the focus where it is
const COLORREF kChatBack = RGB(230, 230, 200);

CHARFORMATW ToRich(const CharFormat& cf) {
  CHARFORMATW r = {};
  r.cbSize = sizeof r;
  r.dwMask = cf.dwMask;
  r.dwEffects = cf.dwEffects;
  r.yHeight = cf.yHeight;
  r.yOffset = cf.yOffset;
  r.crTextColor = cf.crTextColor;
  r.bCharSet = cf.bCharSet;
  r.bPitchAndFamily = cf.bPitchAndFamily;
  lstrcpynW(r.szFaceName, W(cf.faceName).c_str(), LF_FACESIZE);
  return r;
}

CharFormat FromRich(const CHARFORMATW& r) {
  CharFormat cf;
  cf.dwMask = r.dwMask;
  cf.dwEffects = r.dwEffects;
  cf.yHeight = r.yHeight;
  cf.yOffset = r.yOffset;
  cf.crTextColor = r.crTextColor;
  cf.bCharSet = r.bCharSet;
  cf.bPitchAndFamily = r.bPitchAndFamily;
  cf.faceName = Gbk(r.szFaceName, wcsnlen(r.szFaceName, LF_FACESIZE));
  return cf;
}

// The place of a template frame, which the made control takes.
RECT FramePlace(HWND dlg, int id) {
  RECT r = {};
  HWND frame = GetDlgItem(dlg, id);
  GetWindowRect(frame, &r);
  MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
  DestroyWindow(frame);
  return r;
}

}  // namespace

CChatDialog::CChatDialog(CFavoritesApp& app) : m_app(app), m_net(*app.Net()) {}

CChatDialog::~CChatDialog() {
  // A window that closed told the circles so itself; its object may go only
  // after another chat window opened (CDialogWindow::Retire).
  if (m_hWnd) m_net.Circles().SetChatWindowOpen(false);
  DestroyQuietly();
}

bool CChatDialog::Create(HWND owner) { return CDialogWindow::Create(IDD_CHAT_DIALOG, owner); }

bool CChatDialog::OnInitDialog() {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  m_back.Reset(CreateSolidBrush(kChatBack));
  m_icon.Reset(static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 32, 32, 0)));
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon.Get()));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon.Get()));
  ConfigSettings& config = m_app.Config();
  m_sendKeyFlag = SendKeyFlag(config.chatSendKey);
  m_members = GetDlgItem(m_hWnd, IDC_CHAT_MEMBERS);
  m_receiveOne = GetDlgItem(m_hWnd, IDC_CHAT_RECEIVE_ONE);
  m_sendToOne = GetDlgItem(m_hWnd, IDC_CHAT_SEND_TO_ONE);

  const CNetCircles& circles = m_net.Circles();
  SetWindowTextW(m_hWnd, W(ChatTitleText(circles.CurrentCircle())).c_str());
  m_poster.SubclassDlgItem(IDC_CHAT_POSTER, m_hWnd);
  ApplySkinToButton(m_poster, m_app.SkinLook(kAreaFunctionButtons));
  SetDlgItemTextW(m_hWnd, IDC_CHAT_POSTER, W(circles.CircleTitle()).c_str());
  SetDlgItemTextW(m_hWnd, IDC_CHAT_TITLE, W(ChatTitleText(circles.CircleTitle())).c_str());
  CheckDlgButton(m_hWnd, IDC_CHAT_TRAY_TIP, config.chatTip ? BST_CHECKED : BST_UNCHECKED);

  RECT talk = FramePlace(m_hWnd, IDC_CHAT_TALK), input = FramePlace(m_hWnd, IDC_CHAT_INPUT);
  if (!m_talk.Create(WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, talk, m_hWnd,
                     IDC_CHAT_TALK) ||
      !m_input.Create(WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                      input, m_hWnd, IDC_CHAT_INPUT))
    return false;
  Subclass(m_input.GetSafeHwnd(), InputProc, kInputSubclass, reinterpret_cast<DWORD_PTR>(this));
  Subclass(GetDlgItem(m_hWnd, IDC_CHAT_SEND), SendButtonProc, kSendSubclass, reinterpret_cast<DWORD_PTR>(this));
  // The tab order: the input box after the title box.
  SetWindowPos(m_input.GetSafeHwnd(), GetDlgItem(m_hWnd, IDC_CHAT_TITLE), 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  RebuildMemberRows();

  m_adPlace = FramePlace(m_hWnd, IDC_CHAT_AD);
  m_ad.Create(L"", WS_VISIBLE, m_adPlace, m_hWnd, IDC_CHAT_AD);
  std::string adPicture = m_app.ProgramDir() + "head\\Chat_ad.jpg";
  if (!m_ad.HasEngine()) {
    // Without a web engine the panel is the picture itself, painted by this window.
    ShowWindow(m_ad.GetSafeHwnd(), SW_HIDE);
    m_adPicture.LoadPictureFile(adPicture);
  }
  m_ad.Navigate(adPicture);

  // Addresses are found as text goes in (not every rich edit looks again
  // at text already there), so detection is on before the queued records show.
  HWND talkWnd = m_talk.GetSafeHwnd();
  LRESULT mask = SendMessageW(talkWnd, EM_GETEVENTMASK, 0, 0);
  SendMessageW(talkWnd, EM_SETEVENTMASK, 0, mask | ENM_LINK);
  m_talk.SetAutoURLDetect(true);

  ShowRecords(m_net.Chat().ShowChatRecords());

  m_sendKeyMenu.Reset(CreatePopupMenu());
  AppendMenuW(m_sendKeyMenu.Get(), MF_STRING, ID_CHAT_SEND_ENTER, W("按Enter键发送").c_str());
  AppendMenuW(m_sendKeyMenu.Get(), MF_STRING, ID_CHAT_SEND_CTRL_ENTER, W("按Ctrl+Enter键发送").c_str());

  CHARFORMATW inputFormat = ToRich(DefaultInputFormat());
  SendMessageW(m_input.GetSafeHwnd(), EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&inputFormat));
  // No focus yet: focusing a control activates its window, and the window
  // may open behind a box that waits for an answer. Its opener focuses the
  // input box when it brings it to the front; WM_SETFOCUS does on a later
  // activation.
  m_focusFirstControl = false;
  m_net.Circles().SetChatWindowOpen(true);
  return true;
}

// ---- member rows -------------------------------------------------------------------

int CChatDialog::RowOf(uintptr_t serial) const {
  HWND list = Members();
  for (int i = 0, n = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0)); i < n; ++i)
    if (static_cast<uintptr_t>(SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0)) == serial) return i;
  return -1;
}

// A row names its record by serial: a row whose record went finds nothing.
void CChatDialog::AddMemberRow(const CircleMember& member) {
  if (RowOf(member.serial) >= 0) return;
  HWND list = Members();
  LRESULT row = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(MemberRowText(member)).c_str()));
  if (row >= 0) SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(row), static_cast<LPARAM>(member.serial));
}

void CChatDialog::RemoveMemberRows(uintptr_t serial) {
  for (int row; (row = RowOf(serial)) >= 0;) SendMessageW(Members(), LB_DELETESTRING, static_cast<WPARAM>(row), 0);
}

void CChatDialog::RebuildMemberRows() {
  SendMessageW(Members(), LB_RESETCONTENT, 0, 0);
  for (const auto& m : m_net.Circles().Members()) AddMemberRow(*m);
}

const CircleMember* CChatDialog::SelectedMember() const {
  LRESULT row = SendMessageW(Members(), LB_GETCURSEL, 0, 0);
  if (row == LB_ERR) return nullptr;
  return m_net.Circles().FindMember(
      static_cast<uintptr_t>(SendMessageW(Members(), LB_GETITEMDATA, static_cast<WPARAM>(row), 0)));
}

// ---- the conversation ----------------------------------------------------------------

// The new pieces go in at the end and the view scrolls with the
// conversation's drawing held (each piece would draw it again), then what
// changed is drawn once, before this returns: a line that came in is on the
// screen when its message is handled. scrollLines < 0: to the bottom, and
// only when something came.
void CChatDialog::Append(const std::vector<ChatLine>& lines, LRESULT scrollLines) {
  if (lines.empty() && scrollLines < 0) return;
  HWND talk = m_talk.GetSafeHwnd();
  LONG changedFrom = m_talk.TextLength();
  m_talk.HoldRedraw();
  os::NetTrace("held", "");  // the steps of a line's drawing, for the hop trace
  std::vector<CMenuRichEdit::Piece> pieces;
  for (const ChatLine& line : lines) pieces.push_back({W(line.text), ToRich(line.format)});
  m_talk.AppendPieces(pieces);
  os::NetTrace("put-in", "");
  if (scrollLines >= 0)
    SendMessageW(talk, EM_LINESCROLL, 0, scrollLines);
  else
    SendMessageW(talk, WM_VSCROLL, SB_BOTTOM, 0);
  os::NetTrace("scrolled", "");
  m_talk.ReleaseRedraw(changedFrom);
}

// The lines of ShowChatRecords, then the view moves down by as many lines as
// the conversation held before.
void CChatDialog::ShowRecords(const std::vector<ChatLine>& lines) {
  Append(lines, SendMessageW(m_talk.GetSafeHwnd(), EM_GETLINECOUNT, 0, 0));
}

void CChatDialog::OnChatArrived(WPARAM wParam) {
  std::vector<ChatLine> lines;
  os::NetTrace("arrived", "");
  if (m_net.Chat().OnChatArrived(wParam, Checked(m_receiveOne), SelectedMember(), lines)) ShowRecords(lines);
  for (const ChatLine& l : lines) os::NetTrace("shown", l.text);
}

// ---- commands ------------------------------------------------------------------------

bool CChatDialog::Checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void CChatDialog::OnSend() {
  HWND input = m_input.GetSafeHwnd();
  ChatSendInput in;
  in.text = WindowTextGbk(input);
  os::NetTrace("clicked", in.text);
  in.sendOnlyToSelected = Checked(m_sendToOne);
  in.receiveOnlyFromSelected = Checked(m_receiveOne);
  in.selected = SelectedMember();
  CHARFORMATW cf = {};
  cf.cbSize = sizeof cf;
  SendMessageW(input, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
  in.format = FromRich(cf);
  ChatSendOutcome out = m_net.Chat().OnChatSend(in);
  Append(out.echo, -1);
  if (out.clearInput) {
    SetWindowTextW(input, L"");
    SetFocus(input);
  }
}

void CChatDialog::OnSendKeyCommand(UINT id) {
  std::string key = SendKeyOfCommand(id);
  if (key.empty()) return;
  ConfigSettings& config = m_app.Config();
  config.chatSendKey = key;
  m_sendKeyFlag = SendKeyFlag(key);
  SaveConfig(m_app.ProgramDir(), config);
}

void CChatDialog::ShowSendKeyMenu() {
  HMENU menu = m_sendKeyMenu.Get();
  CheckMenuItem(menu, ID_CHAT_SEND_ENTER, MF_BYCOMMAND | (m_sendKeyFlag == 1 ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, ID_CHAT_SEND_CTRL_ENTER, MF_BYCOMMAND | (m_sendKeyFlag == 1 ? MF_UNCHECKED : MF_CHECKED));
  POINT pt;
  GetCursorPos(&pt);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
  if (m_hWnd) PostMessageW(m_hWnd, WM_NULL, 0, 0);  // the window may have closed meanwhile
}

void CChatDialog::OpenPosterBoard() {
  panels::OpenInNewBrowser(PosterBoardAddress(m_net.Circles().CircleTitle()), m_app.Ui());
}

// A click on a detected address opens it: its text is read through the
// selection, which goes back to where it was.
void CChatDialog::OnLink(const ENLINK& link) {
  if (link.msg != WM_LBUTTONDOWN) return;
  HWND talk = m_talk.GetSafeHwnd();
  CHARRANGE old = {}, range = link.chrg;
  SendMessageW(talk, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&old));
  SendMessageW(talk, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  std::wstring text(static_cast<size_t>(range.cpMax > range.cpMin ? range.cpMax - range.cpMin : 0) + 1, L'\0');
  LRESULT got = SendMessageW(talk, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  SendMessageW(talk, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&old));
  // Only a web or mail address is opened, whatever the control took for a link.
  if (!qb::IsChatLinkAddress(std::u16string(text.begin(), text.end()))) return;
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  os::ShellOpen(Gbk(text), os::kShowMaximized);
  SetCursor(previous);
}

void CChatDialog::Close() {
  ConfigSettings& config = m_app.Config();
  int tip = Checked(GetDlgItem(m_hWnd, IDC_CHAT_TRAY_TIP)) ? 1 : 0;
  if (tip != (config.chatTip ? 1 : 0)) {
    config.chatTip = tip;
    SaveConfig(m_app.ProgramDir(), config);
  }
  m_net.Circles().SetChatWindowOpen(false);
  HWND owner = GetWindow(m_hWnd, GW_OWNER);
  HWND main = m_app.MainWindow() ? m_app.MainWindow()->GetSafeHwnd() : owner;
  DestroyWindow(m_hWnd);
  if (main) SendMessageW(main, WM_CHAT_CLOSED, 0, 0);  // this object is gone now
}

void CChatDialog::OnCommand(UINT id, UINT code) {
  switch (id) {
    case IDC_CHAT_SEND: OnSend(); break;
    case IDC_CHAT_CLOSE:
    case IDCANCEL: Close(); break;  // the object may be gone
    case IDC_CHAT_SEND_KEY: ShowSendKeyMenu(); break;
    case ID_CHAT_SEND_ENTER:
    case ID_CHAT_SEND_CTRL_ENTER: OnSendKeyCommand(id); break;
    case IDC_CHAT_FONT:
      m_input.SelectFont();
      if (m_hWnd) SetFocus(m_input.GetSafeHwnd());  // the window may have closed meanwhile
      break;
    case IDC_CHAT_POSTER: OpenPosterBoard(); break;
    default: (void)code; break;
  }
}

// ---- painting --------------------------------------------------------------------------

void CChatDialog::OnPaint() {
  PaintDc paint(m_hWnd);
  HDC dc = paint.Get();
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  if (IsIconic(m_hWnd)) {
    int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (rc.right - cx + 1) / 2, (rc.bottom - cy + 1) / 2, m_icon.Get());
    return;
  }
  if (!m_ad.HasEngine() && m_adPicture.Loaded()) m_adPicture.Show(dc, m_adPlace);
}

INT_PTR CChatDialog::DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    // The window itself takes the focus when it is activated with none of
    // its controls focused before (opened behind a box, say): typing goes to
    // the input box, not to the first box in the tab order (the read-only title).
    case WM_SETFOCUS: SetFocus(m_input.GetSafeHwnd()); return TRUE;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lParam);
      if (hdr->idFrom == IDC_CHAT_TALK && hdr->code == EN_LINK) OnLink(*reinterpret_cast<ENLINK*>(lParam));
      return FALSE;
    }
    case WM_ERASEBKGND: {
      RECT rc;
      GetClientRect(m_hWnd, &rc);
      FillRect(reinterpret_cast<HDC>(wParam), &rc, m_back.Get());
      return SetResult(1);
    }
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(m_hWnd, IDC_CHAT_TITLE)) return FALSE;
      SetBkColor(reinterpret_cast<HDC>(wParam), kChatBack);
      return reinterpret_cast<INT_PTR>(m_back.Get());
    case WM_CTLCOLORBTN: return reinterpret_cast<INT_PTR>(m_back.Get());
    case WM_PAINT: OnPaint(); return TRUE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_icon.Get());
    case WM_CHAT_ARRIVED: OnChatArrived(wParam); return TRUE;
    case WM_CHAT_AD: m_ad.Navigate(m_net.Chat().AdAddress()); return TRUE;
    case WM_MEMBER_ADDED:
      if (const CircleMember* m = m_net.Circles().FindMember(wParam)) AddMemberRow(*m);
      return TRUE;
    case WM_MEMBER_CHANGED:
      RemoveMemberRows(wParam);
      if (const CircleMember* m = m_net.Circles().FindMember(wParam)) AddMemberRow(*m);
      return TRUE;
    case WM_MEMBER_REMOVED: RemoveMemberRows(wParam); return TRUE;  // the record went already
    case WM_MEMBERS_RELISTED: RebuildMemberRows(); return TRUE;
    case WM_SESSION_LOST: ShowRecords({ChatLine{std::string("\r\n") + SessionLostText(wParam) + "\r\n", DefaultDisplayFormat()}}); return TRUE;
    case WM_CLOSE_CHAT: Close(); return TRUE;  // the object is gone
  }
  return FALSE;
}

// Enter in the input box: sent when the send key says so, else a new line.
LRESULT CALLBACK CChatDialog::InputProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<CChatDialog*>(ref);
  switch (msg) {
    case WM_GETDLGCODE: {
      LRESULT code = DefSubclass(wnd, msg, wParam, lParam);
      auto* m = reinterpret_cast<MSG*>(lParam);
      if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) code |= DLGC_WANTMESSAGE;
      return code;
    }
    case WM_KEYDOWN:
      if (wParam == VK_RETURN && EnterSends(self->m_sendKeyFlag, GetKeyState(VK_CONTROL) < 0)) {
        self->m_swallowReturn = true;
        SendMessageW(GetParent(wnd), WM_COMMAND, MAKEWPARAM(IDC_CHAT_SEND, BN_CLICKED), 0);
        return 0;
      }
      break;
    case WM_CHAR:
      if ((wParam == L'\r' || wParam == L'\n') && self->m_swallowReturn) {
        self->m_swallowReturn = false;
        return 0;
      }
      self->m_swallowReturn = false;
      break;
    case WM_NCDESTROY:
      Unsubclass(wnd, InputProc, kInputSubclass);
      break;
  }
  return DefSubclass(wnd, msg, wParam, lParam);
}

// 发送 pressed with the mouse: pressed, held and clicked as a button is, but
// without taking the focus, so the text typed next still goes into the input
// box and a send does not move the focus there and back (under Wine each move
// is the edit's and the button's focus work and several calls to its server).
// The keyboard (Tab to the button, Space) is left to the button itself.
LRESULT CALLBACK CChatDialog::SendButtonProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<CChatDialog*>(ref);
  auto inside = [&] {
    RECT r;
    GetClientRect(wnd, &r);
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    return PtInRect(&r, pt) != FALSE;
  };
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetCapture(wnd);
      self->m_sendHeld = true;
      SendMessageW(wnd, BM_SETSTATE, TRUE, 0);
      return 0;
    case WM_MOUSEMOVE:
      if (!self->m_sendHeld) break;
      {
        bool pushed = (SendMessageW(wnd, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
        if (pushed != inside()) SendMessageW(wnd, BM_SETSTATE, !pushed, 0);
      }
      return 0;
    case WM_LBUTTONUP:
      if (!self->m_sendHeld) break;
      {
        self->m_sendHeld = false;
        bool click = inside();
        ReleaseCapture();
        // The line goes before the button is drawn raised again: the click
        // waits for no drawing, and the pressed look stays the few
        // milliseconds the line takes.
        if (click) SendMessageW(GetParent(wnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(wnd), BN_CLICKED),
                                reinterpret_cast<LPARAM>(wnd));
        if (IsWindow(wnd)) SendMessageW(wnd, BM_SETSTATE, FALSE, 0);
      }
      return 0;
    case WM_CAPTURECHANGED:  // taken away while held (a box, Alt+Tab): no click
      if (self->m_sendHeld) {
        self->m_sendHeld = false;
        SendMessageW(wnd, BM_SETSTATE, FALSE, 0);
      }
      break;
    case WM_NCDESTROY:
      Unsubclass(wnd, SendButtonProc, kSendSubclass);
      break;
  }
  return DefSubclass(wnd, msg, wParam, lParam);
}

}  // namespace qb

// The rich edit box with its edit menu.
#include "widgets/rich_edit_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "../../res/resource.h"
#include "net/chat_links.h"
#include "win/gdi_win32.h"
#include "win/subclass_win32.h"

namespace qb {

namespace {
const UINT_PTR kRichSubclass = 0x51524548;
const UINT_PTR kBarTimer = 0x51524242;  // the scroll bar drawn once the box is quiet
HMODULE g_richEdit = nullptr;  // loaded once per process and kept
}

CMenuRichEdit::~CMenuRichEdit() {
  if (m_hWnd && IsWindow(m_hWnd)) qb::Unsubclass(m_hWnd, Proc, kRichSubclass);
}

bool CMenuRichEdit::Create(DWORD style, const RECT& r, HWND parent, UINT id) {
  if (!g_richEdit) g_richEdit = LoadLibraryW(L"RICHED20.DLL");
  if (!g_richEdit) return false;
  // The wide class: an ANSI rich edit would pass Chinese text through the
  // system code page, which is not 936 on a Windows of another language.
  m_hWnd = CreateWindowExW(0, L"RichEdit20W", L"", style | WS_CHILD, r.left, r.top, r.right - r.left, r.bottom - r.top,
                           parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (!m_hWnd) return false;
  qb::Subclass(m_hWnd, Proc, kRichSubclass, reinterpret_cast<DWORD_PTR>(this));
  return true;
}

// Wine sends WM_NCPAINT with every paint once anything marked the frame, and
// with the whole update region; drawing the scroll bar, even where that region
// clips all of it, costs it several times a new line of text.
bool CMenuRichEdit::RegionReachesFrame(HWND box, WPARAM region) {
  if (region <= 1) return true;
  RECT client = {};
  GetClientRect(box, &client);
  MapWindowPoints(box, nullptr, reinterpret_cast<POINT*>(&client), 2);
  GdiObject<HRGN> outside(CreateRectRgn(0, 0, 0, 0));
  GdiObject<HRGN> inside(CreateRectRgnIndirect(&client));
  return CombineRgn(outside.Get(), reinterpret_cast<HRGN>(region), inside.Get(), RGN_DIFF) != NULLREGION;
}

void CMenuRichEdit::SetAutoURLDetect(bool on) {
  // The control's own detection makes links of every scheme it knows (file:,
  // shares, other programs'): it stays off, and the links are marked here.
  SendMessageW(m_hWnd, EM_AUTOURLDETECT, FALSE, 0);
  m_links = on;
  MarkLinks();
}

LONG CMenuRichEdit::TextLength() const {
  GETTEXTLENGTHEX len = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  LRESULT n = SendMessageW(m_hWnd, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  return n > 0 ? static_cast<LONG>(n) : 0;
}

std::u16string CMenuRichEdit::TextRange(LONG from, LONG to) const {
  if (to <= from) return std::u16string();
  std::wstring text(static_cast<size_t>(to - from) + 1, L'\0');
  TEXTRANGEW range = {{from, to}, &text[0]};
  LRESULT got = SendMessageW(m_hWnd, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  return std::u16string(text.begin(), text.begin() + (got > 0 ? got : 0));
}

void CMenuRichEdit::MarkLinks() { MarkLinks(0, -1, false); }
void CMenuRichEdit::MarkLinks(LONG from, LONG to) { MarkLinks(from, to, false); }

// Under Wine the box draws itself at once, inside each change; held, it is
// drawn once, at the release.
void CMenuRichEdit::HoldRedraw() {
  if (!m_hWnd || m_redrawHeld++ > 0) return;
  SendMessageW(m_hWnd, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&m_heldScroll));
  m_heldBar = ScrollBarLook();
  // Holding the drawing forgets what was waiting for its paint (a window
  // moved off the box, say, whose paint comes after the line's message).
  // Its region is one call to Wine's server, its bounding rectangle two.
  GdiObject<HRGN> pending(CreateRectRgn(0, 0, 0, 0));
  if (GetUpdateRgn(m_hWnd, pending.Get(), FALSE) > NULLREGION)
    GetRgnBox(pending.Get(), &m_heldPending);
  else
    SetRectEmpty(&m_heldPending);
  SendMessageW(m_hWnd, WM_SETREDRAW, FALSE, 0);
}

void CMenuRichEdit::ReleaseRedraw() {
  if (!m_hWnd || m_redrawHeld == 0 || --m_redrawHeld > 0) return;
  m_selectionFrom = -1;  // all is drawn
  SendMessageW(m_hWnd, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
}

// Drawing the whole box again costs several times more than the line that
// came in: the text above the change is still right on the screen, only
// higher by the scroll, so it is moved there and the rest is drawn.
void CMenuRichEdit::ReleaseRedraw(LONG changedFrom) {
  if (!m_hWnd || m_redrawHeld == 0 || --m_redrawHeld > 0) return;
  SendMessageW(m_hWnd, WM_SETREDRAW, TRUE, 0);
  POINT scroll = {};
  SendMessageW(m_hWnd, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
  // New text that begins with a paragraph break leaves the line before it
  // as it was: what changed begins on the line after.
  if (TextRange(changedFrom, changedFrom + 1) == u"\r") ++changedFrom;
  if (m_selectionFrom >= 0) changedFrom = std::min(changedFrom, m_selectionFrom);
  m_selectionFrom = -1;
  POINTL at = {};
  SendMessageW(m_hWnd, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), changedFrom);
  RECT client = {};
  GetClientRect(m_hWnd, &client);
  int moved = m_heldScroll.y - scroll.y;
  if (scroll.x != m_heldScroll.x || std::abs(moved) >= client.bottom) {
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    return;
  }
  // The box paints its background with its text: nothing is erased first.
  // The scroll marks the strip it uncovered at the bottom to be drawn; the
  // changed text is marked too where it begins above that strip.
  if (moved) ScrollWindowEx(m_hWnd, 0, moved, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
  RECT changed = client;
  changed.top = std::max<LONG>(client.top, at.y);
  if (moved < 0) changed.bottom = std::min<LONG>(changed.bottom, client.bottom + moved);
  if (changed.top < changed.bottom) InvalidateRect(m_hWnd, &changed, FALSE);
  if (!IsRectEmpty(&m_heldPending)) {  // where it is now, moved by the scroll
    OffsetRect(&m_heldPending, 0, moved);
    InvalidateRect(m_hWnd, &m_heldPending, FALSE);
  }
  UpdateWindow(m_hWnd);
  // The scroll bar was not drawn while held. Under Wine drawing it costs
  // several times the new text, so it is drawn only when it looks different,
  // and a moment (kBarQuietMs) after it first did: not while the text goes
  // on the screen, nor for each line of a burst, nor while the work the new
  // line set off elsewhere (the sender's, the reader's) wants the processor.
  if (!m_barDue && ScrollBarLook() != m_heldBar) m_barDue = SetTimer(m_hWnd, kBarTimer, kBarQuietMs, nullptr) != 0;
}

void CMenuRichEdit::DrawScrollBar() {
  KillTimer(m_hWnd, kBarTimer);
  m_barDue = false;
  RECT client = {}, frame = {};
  GetClientRect(m_hWnd, &client);
  GetWindowRect(m_hWnd, &frame);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&frame), 2);
  GdiObject<HRGN> border(CreateRectRgnIndirect(&frame));
  GdiObject<HRGN> inside(CreateRectRgnIndirect(&client));
  CombineRgn(border.Get(), border.Get(), inside.Get(), RGN_DIFF);
  RedrawWindow(m_hWnd, nullptr, border.Get(), RDW_INVALIDATE | RDW_FRAME);
}

// What the vertical scroll bar shows: its place, its arrows' and its thumb's.
std::vector<LONG> CMenuRichEdit::ScrollBarLook() const {
  SCROLLBARINFO bar = {};
  bar.cbSize = sizeof bar;
  if (!GetScrollBarInfo(m_hWnd, OBJID_VSCROLL, &bar)) return {};
  std::vector<LONG> look = {bar.rcScrollBar.left, bar.rcScrollBar.top, bar.rcScrollBar.right, bar.rcScrollBar.bottom,
                            bar.dxyLineButton, bar.xyThumbTop, bar.xyThumbBottom};
  look.insert(look.end(), std::begin(bar.rgstate), std::end(bar.rgstate));
  return look;
}

void CMenuRichEdit::AppendText(const std::wstring& text, CHARFORMATW cf) {
  if (!m_hWnd) return;
  // A selection that moves moves the caret too, several calls into the
  // system: it stays where the last piece left it, at the end.
  CHARRANGE sel = {};
  SendMessageW(m_hWnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&sel));
  LONG length = TextLength();
  if (sel.cpMin != length || sel.cpMax != length) {
    // The box marks a selection it no longer shows to be drawn again, which
    // Wine forgets while the drawing is held: the release draws it.
    if (m_redrawHeld && sel.cpMin < sel.cpMax)
      m_selectionFrom = m_selectionFrom < 0 ? sel.cpMin : std::min(m_selectionFrom, sel.cpMin);
    CHARRANGE end = {-1, -1};
    SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
  }
  CHARFORMAT2W format = {};
  memcpy(&format, &cf, sizeof cf);  // CHARFORMAT2W begins with CHARFORMATW's fields
  format.cbSize = sizeof format;
  format.dwMask |= CFM_LINK;
  format.dwEffects &= ~CFE_LINK;
  SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  m_appending = true;
  SendMessageW(m_hWnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  m_appending = false;
}

namespace {
// A format giving every attribute of CHARFORMATW, the link's aside (AppendText
// gives that): text in it looks the same whatever text went before it.
bool WholeFormat(const CHARFORMATW& cf) { return ((cf.dwMask | CFM_LINK) & CFM_ALL) == CFM_ALL; }
bool SameFormat(const CHARFORMATW& a, const CHARFORMATW& b) {
  return a.dwMask == b.dwMask && a.dwEffects == b.dwEffects && a.yHeight == b.yHeight && a.yOffset == b.yOffset &&
         a.crTextColor == b.crTextColor && a.bCharSet == b.bCharSet && a.bPitchAndFamily == b.bPitchAndFamily &&
         wcsncmp(a.szFaceName, b.szFaceName, LF_FACESIZE) == 0;
}
}  // namespace

// Each insertion costs the box a layout of its paragraphs, a look at the
// scroll and its marking of what to draw, whatever the length. A piece whose
// format gives only some attributes takes the others from the text before
// it, so it goes in by itself; and "\r" then "\n" are two breaks apart but
// one together, so a piece ending in "\r" ends its insertion.
void CMenuRichEdit::AppendPieces(const std::vector<Piece>& pieces) {
  for (size_t i = 0; i < pieces.size();) {
    std::wstring text = pieces[i].text;
    size_t next = i + 1;
    while (next < pieces.size() && WholeFormat(pieces[i].format) && SameFormat(pieces[next].format, pieces[i].format) &&
           (text.empty() || text.back() != L'\r'))
      text += pieces[next++].text;
    AppendText(text, pieces[i].format);
    i = next;
  }
}

// Links never run across a blank or a line break, so new text is looked at
// from the last such character before it to the first after it, read out
// of the box in growing pieces: a line that comes in costs its own length,
// not the conversation's. New text that went in without link effect
// (newTextPlain), with links possible inside it only, needs no look at the
// box's formats, and none of its selection when it holds no address.
void CMenuRichEdit::MarkLinks(LONG from, LONG to, bool newTextPlain) {
  if (!m_hWnd) return;
  LONG length = TextLength();
  if (to < 0 || to > length) to = length;
  if (from < 0 || from > to) from = 0;
  LONG start = from, end = to;
  std::u16string text;
  qb::ChatLink stretch;
  for (LONG margin = 64;; margin *= 4) {
    start = from > margin ? from - margin : 0;
    end = to + margin < length ? to + margin : length;
    text = TextRange(start, end);
    size_t newFrom = static_cast<size_t>(from - start), newTo = static_cast<size_t>(to - start);
    stretch = qb::LinkStretch(text, newFrom, newTo);
    // New text put in at the end that begins with such a character (a new
    // line does) leaves the links before it as they were: the text there
    // ended where it begins before it came too.
    bool cut = newTextPlain && to == length && newFrom < newTo && newTo <= text.size() && qb::EndsChatLink(text[newFrom]);
    if (cut) stretch.from = std::max(stretch.from, newFrom);
    // Bounded on either side by such a character outside the new text, or by the text's edge.
    bool left = start == 0 || cut || (stretch.from < newFrom && qb::EndsChatLink(text[stretch.from]));
    bool right = end == length || (stretch.to > newTo && qb::EndsChatLink(text[stretch.to - 1]));
    if ((left && right) || static_cast<LONG>(text.size()) < end - start) break;
  }
  // Outside the new text the stretch holds at most its bounding characters, which no link covers.
  size_t newFrom = static_cast<size_t>(from - start), newTo = static_cast<size_t>(to - start);
  bool inNewText = newTextPlain &&
                   (stretch.from >= newFrom || (stretch.from + 1 == newFrom && qb::EndsChatLink(text[stretch.from]))) &&
                   (stretch.to <= newTo || (stretch.to == newTo + 1 && qb::EndsChatLink(text[stretch.to - 1])));
  start += static_cast<LONG>(stretch.from);
  std::vector<qb::ChatLink> links;
  if (m_links) links = qb::FindChatLinks(text.substr(stretch.from, stretch.to - stretch.from));
  if (inNewText && links.empty()) return;
  // The selection and the scroll position are borrowed and given back.
  CHARRANGE old = {};
  POINT scroll = {};
  SendMessageW(m_hWnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&old));
  SendMessageW(m_hWnd, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
  CHARFORMAT2W cf = {};
  cf.cbSize = sizeof cf;
  CHARRANGE all = {start, start + static_cast<LONG>(stretch.to - stretch.from)};
  bool hadLinks = false;
  if (!inNewText) {
    SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
    // A stretch without links that had none (the common new line) is left as it is.
    SendMessageW(m_hWnd, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
    hadLinks = !(cf.dwMask & CFM_LINK) || (cf.dwEffects & CFE_LINK);
  }
  bool hold = (hadLinks || !links.empty()) && !m_redrawHeld;
  if (hold) HoldRedraw();
  cf.dwMask = CFM_LINK;
  cf.dwEffects = 0;
  if (hadLinks) SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  cf.dwEffects = CFE_LINK;
  for (const qb::ChatLink& l : links) {
    CHARRANGE r = {start + static_cast<LONG>(l.from), start + static_cast<LONG>(l.to)};
    SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&r));
    SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  }
  SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&old));
  SendMessageW(m_hWnd, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
  if (hold) ReleaseRedraw();
}

ScopedMenu CMenuRichEdit::BuildMenu() const {
  ScopedMenu owner(CreatePopupMenu());
  HMENU menu = owner.Get();
  CHARRANGE sel = {};
  SendMessageW(m_hWnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&sel));
  bool empty = sel.cpMin == sel.cpMax;
  UINT undo = SendMessageW(m_hWnd, EM_CANUNDO, 0, 0) ? MF_ENABLED : MF_GRAYED;
  UINT selection = empty ? MF_GRAYED : MF_ENABLED;
  UINT paste = SendMessageW(m_hWnd, EM_CANPASTE, 0, 0) ? MF_ENABLED : MF_GRAYED;
  AppendMenuW(menu, MF_STRING | undo, ID_RICH_UNDO, L"&Undo");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | selection, ID_RICH_CUT, L"&Cut");
  AppendMenuW(menu, MF_STRING | selection, ID_RICH_COPY, L"C&opy");
  AppendMenuW(menu, MF_STRING | paste, ID_RICH_PASTE, L"&Paste");
  AppendMenuW(menu, MF_STRING | selection, ID_RICH_CLEAR, L"C&lear");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, ID_RICH_SELECT_ALL, L"Select &All");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, ID_RICH_FONT, L"Select &Font");
  return owner;
}

void CMenuRichEdit::OnCommand(UINT id) {
  switch (id) {
    case ID_RICH_UNDO: SendMessageW(m_hWnd, EM_UNDO, 0, 0); break;
    case ID_RICH_CUT: SendMessageW(m_hWnd, WM_CUT, 0, 0); break;
    case ID_RICH_COPY: SendMessageW(m_hWnd, WM_COPY, 0, 0); break;
    case ID_RICH_PASTE: SendMessageW(m_hWnd, WM_PASTE, 0, 0); break;
    case ID_RICH_CLEAR: SendMessageW(m_hWnd, WM_CLEAR, 0, 0); break;
    case ID_RICH_SELECT_ALL: {
      CHARRANGE all = {0, -1};
      SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
      break;
    }
    case ID_RICH_FONT: SelectFont(); break;
  }
}

void CMenuRichEdit::SelectFont() {
  CHARRANGE sel = {};
  SendMessageW(m_hWnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&sel));
  bool empty = sel.cpMin == sel.cpMax;
  CHARFORMATW cf = {};
  cf.cbSize = sizeof cf;
  SendMessageW(m_hWnd, EM_GETCHARFORMAT, empty ? SCF_DEFAULT : SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  LOGFONTW lf = {};
  lf.lfHeight = cf.yHeight / 15;
  lf.lfWeight = (cf.dwEffects & CFE_BOLD) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = (cf.dwEffects & CFE_ITALIC) != 0;
  lf.lfUnderline = (cf.dwEffects & CFE_UNDERLINE) != 0;
  lf.lfStrikeOut = (cf.dwEffects & CFE_STRIKEOUT) != 0;
  lf.lfCharSet = cf.bCharSet;
  lf.lfPitchAndFamily = cf.bPitchAndFamily;
  lstrcpynW(lf.lfFaceName, cf.szFaceName, LF_FACESIZE);
  CHOOSEFONTW choose = {};
  choose.lStructSize = sizeof choose;
  choose.hwndOwner = m_hWnd;
  choose.lpLogFont = &lf;
  choose.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT;
  choose.rgbColors = cf.crTextColor;
  if (ChooseFontW(&choose)) {
    cf.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_FACE | CFM_SIZE | CFM_COLOR | CFM_CHARSET;
    cf.dwEffects = (lf.lfWeight >= FW_BOLD ? CFE_BOLD : 0) | (lf.lfItalic ? CFE_ITALIC : 0) |
                   (lf.lfUnderline ? CFE_UNDERLINE : 0) | (lf.lfStrikeOut ? CFE_STRIKEOUT : 0);
    cf.yHeight = choose.iPointSize * 2;  // tenths of a point to twips
    cf.crTextColor = choose.rgbColors;
    cf.bCharSet = lf.lfCharSet;
    cf.bPitchAndFamily = lf.lfPitchAndFamily;
    lstrcpynW(cf.szFaceName, lf.lfFaceName, LF_FACESIZE);
    SendMessageW(m_hWnd, EM_SETCHARFORMAT, empty ? SCF_WORD | SCF_SELECTION : SCF_SELECTION,
                 reinterpret_cast<LPARAM>(&cf));
  }
  SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
}

LRESULT CALLBACK CMenuRichEdit::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<CMenuRichEdit*>(ref);
  switch (msg) {
    case WM_RBUTTONDOWN: {
      SetFocus(wnd);
      ScopedMenu menu = self->BuildMenu();
      POINT pt;
      GetCursorPos(&pt);
      TrackPopupMenu(menu.Get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, wnd, nullptr);
      break;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) >= ID_RICH_UNDO && LOWORD(wParam) <= ID_RICH_FONT && lParam == 0) {
        self->OnCommand(LOWORD(wParam));
        return 0;
      }
      break;
    case EM_REPLACESEL: {
      // The new text only: it goes in at the selection and ends at the caret.
      if (!self->m_links) break;
      CHARRANGE at = {};
      SendMessageW(wnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&at));
      LRESULT r = qb::DefSubclass(wnd, msg, wParam, lParam);
      CHARRANGE after = {};
      SendMessageW(wnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&after));
      self->MarkLinks(at.cpMin, after.cpMax > at.cpMin ? after.cpMax : at.cpMin, self->m_appending);
      return r;
    }
    case WM_SETTEXT:
    case EM_SETTEXTEX:
    case EM_STREAMIN:
    case WM_PASTE: {
      // New text: its links are marked again, the text before it included.
      LRESULT r = qb::DefSubclass(wnd, msg, wParam, lParam);
      if (self->m_links) self->MarkLinks();
      return r;
    }
    case WM_TIMER:
      if (wParam != kBarTimer) break;
      self->DrawScrollBar();
      return 0;
    case WM_NCPAINT:
      // A paint of the text alone: the frame's default drawing would be clipped away whole.
      if (!RegionReachesFrame(wnd, wParam)) return 0;
      break;
    case WM_NCDESTROY:
      qb::Unsubclass(wnd, Proc, kRichSubclass);
      self->m_hWnd = nullptr;
      break;
  }
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

}  // namespace qb

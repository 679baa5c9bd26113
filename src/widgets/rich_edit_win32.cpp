// The rich edit box with its edit menu.
#include "widgets/rich_edit_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "../../res/resource.h"
#include "net/chat_links.h"
#include "win/subclass_win32.h"

namespace qb {

namespace {
const UINT_PTR kRichSubclass = 0x51524548;
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

void CMenuRichEdit::SetAutoURLDetect(bool on) {
  // The control's own detection makes links of every scheme it knows (file:,
  // shares, other programs'): it stays off, and the links are marked here.
  SendMessageW(m_hWnd, EM_AUTOURLDETECT, FALSE, 0);
  m_links = on;
  MarkLinks();
}

std::wstring CMenuRichEdit::Text() const {
  GETTEXTLENGTHEX len = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  LRESULT n = SendMessageW(m_hWnd, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  if (n <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  TEXTRANGEW range = {{0, static_cast<LONG>(n)}, &text[0]};
  LRESULT got = SendMessageW(m_hWnd, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

void CMenuRichEdit::MarkLinks() {
  if (!m_hWnd) return;
  std::wstring text = Text();
  std::u16string t(text.begin(), text.end());
  std::vector<qb::ChatLink> links = m_links ? qb::FindChatLinks(t) : std::vector<qb::ChatLink>();
  // The selection and the scroll position are borrowed and given back.
  CHARRANGE old = {};
  POINT scroll = {};
  SendMessageW(m_hWnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&old));
  SendMessageW(m_hWnd, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
  SendMessageW(m_hWnd, WM_SETREDRAW, FALSE, 0);
  CHARFORMAT2W cf = {};
  cf.cbSize = sizeof cf;
  cf.dwMask = CFM_LINK;
  CHARRANGE all = {0, -1};
  SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
  SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  cf.dwEffects = CFE_LINK;
  for (const qb::ChatLink& l : links) {
    CHARRANGE r = {static_cast<LONG>(l.from), static_cast<LONG>(l.to)};
    SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&r));
    SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  }
  SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&old));
  SendMessageW(m_hWnd, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
  SendMessageW(m_hWnd, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(m_hWnd, nullptr, TRUE);
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
    case WM_SETTEXT:
    case EM_REPLACESEL:
    case EM_SETTEXTEX:
    case EM_STREAMIN:
    case WM_PASTE: {
      // New text: its links are marked again, the text before it included.
      LRESULT r = qb::DefSubclass(wnd, msg, wParam, lParam);
      if (self->m_links) self->MarkLinks();
      return r;
    }
    case WM_NCDESTROY:
      qb::Unsubclass(wnd, Proc, kRichSubclass);
      self->m_hWnd = nullptr;
      break;
  }
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

}  // namespace qb

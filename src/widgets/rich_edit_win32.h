// CMenuRichEdit: a rich edit box with an edit menu on the right button and a
// font command. CMyEdit: the plain edit of a tab button's in-place rename.
#pragma once
#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "win/handles_win32.h"

namespace qb {

class CMenuRichEdit {
 public:
  CMenuRichEdit() = default;
  ~CMenuRichEdit();
  CMenuRichEdit(const CMenuRichEdit&) = delete;
  CMenuRichEdit& operator=(const CMenuRichEdit&) = delete;

  bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
  // Links in the text (kept marked as text comes in): only web and mail
  // addresses (qb::FindChatLinks), never the control's own detection,
  // which takes file:, shares and other schemes for links too.
  void SetAutoURLDetect(bool on);
  // Marks the links of the whole text again (clears them when off).
  void MarkLinks();
  // The same around the characters [from, to) only (to -1: the end).
  void MarkLinks(LONG from, LONG to);
  // Holds the box's drawing while several pieces go in (counted); the last
  // release draws it once, at once, the scroll bar included.
  void HoldRedraw();
  void ReleaseRedraw();
  // The same, where only the text from character `changedFrom` on changed
  // while the drawing was held: what lies before it is moved by the scroll
  // it took, and only the rest is drawn; the scroll bar, where it changed,
  // kBarQuietMs later (once for all the releases meanwhile).
  void ReleaseRedraw(LONG changedFrom);
  static const UINT kBarQuietMs = 100;
  // Puts `text` at the end of the box in the format `cf`, never as a link
  // (links are the box's own marking), and marks its links.
  void AppendText(const std::wstring& text, CHARFORMATW cf);
  // The same for pieces one after another, each in its own format. Pieces
  // in a row with one format that gives every attribute go in as one
  // insertion: the box lays out, scrolls and marks once for them, and the
  // result is the same as one insertion each.
  struct Piece {
    std::wstring text;
    CHARFORMATW format;
  };
  void AppendPieces(const std::vector<Piece>& pieces);
  // Whether the update region a WM_NCPAINT names (screen coordinates; 1: the
  // whole window) reaches outside the box's client area, into its border or
  // scroll bars. The box skips the frame's drawing when it does not.
  static bool RegionReachesFrame(HWND box, WPARAM region);
  // The number of characters in the box (a paragraph break counts one).
  LONG TextLength() const;
  HWND GetSafeHwnd() const { return m_hWnd; }
  // Builds the edit menu with its items greyed as the control's state says.
  ScopedMenu BuildMenu() const;
  void OnCommand(UINT id);
  void SelectFont();

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  std::u16string TextRange(LONG from, LONG to) const;
  void MarkLinks(LONG from, LONG to, bool newTextPlain);
  std::vector<LONG> ScrollBarLook() const;
  void DrawScrollBar();
  HWND m_hWnd = nullptr;
  bool m_links = false;
  bool m_appending = false;  // AppendText's new text has no link effect
  int m_redrawHeld = 0;
  POINT m_heldScroll = {};  // the scroll position when the drawing was held
  std::vector<LONG> m_heldBar;  // and the scroll bar's look
  RECT m_heldPending = {};  // and what was waiting to be painted
  bool m_barDue = false;  // the scroll bar is to be drawn when its timer fires
  LONG m_selectionFrom = -1;  // where a selection AppendText took away while held began
};

class CMyEdit {
 public:
  bool Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
    m_hWnd = CreateWindowExW(0, L"EDIT", L"", style | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                             rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    return m_hWnd != nullptr;
  }
  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  HWND m_hWnd = nullptr;
};

}  // namespace qb

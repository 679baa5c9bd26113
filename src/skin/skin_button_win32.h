// CSkinButton: the owner-drawn push button behind every styled button of the
// program. Attach it to an existing button (SubclassDlgItem) or create one.
// The parent's WM_DRAWITEM, WM_CTLCOLORBTN and BN_CLICKED are reflected back
// to the button by a small subclass installed on the parent, so a window that
// hosts skin buttons needs no extra code.
//
// One class, five files, one concern each:
//   skin_button_win32.cpp          the control: attaching, its messages, the tooltip
//   skin_button_draw_win32.cpp     drawing: background, frame, image, caption
//   skin_button_colours_win32.cpp  colours and styles, and a skin record pushed in
//   skin_button_images_win32.cpp   icons, bitmaps with their masks, the cursor
//   skin_button_menu_win32.cpp     the attached popup menu
//   skin_reflect_win32.cpp         the parent's side: reflected notifications
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "win/gdi_win32.h"
#include "win/handles_win32.h"
#include "win/messages_win32.h"

namespace qb {

class BCMenu;
struct MenuImage;
struct SkinLook;

// The reflected notifications (OCM_SKIN_*) are in base/messages.h.

// The button look of one screen area, as a skin record holds it.
struct SkinColours {
  HFONT font = nullptr;
  COLORREF hoverBack = RGB(255, 234, 192), hoverText = RGB(50, 50, 50);
  COLORREF normalBack = RGB(208, 208, 208), normalText = RGB(50, 50, 50);
  COLORREF pressedBack = RGB(192, 192, 192), pressedText = RGB(50, 50, 50);
  int clickMark = 1;
  int flat = 0;
};

class CSkinButton {
 public:
  enum Align { kAlignLeft = 0, kAlignTop = 1, kAlignRight = 2 };
  enum ColourIndex { kBackIn = 0, kForeIn = 1, kBackOut = 2, kForeOut = 3, kBackFocus = 4, kForePressed = 5 };
  static HICON GreyIcon() { return reinterpret_cast<HICON>(static_cast<INT_PTR>(-2)); }

  CSkinButton();
  virtual ~CSkinButton();
  CSkinButton(const CSkinButton&) = delete;
  CSkinButton& operator=(const CSkinButton&) = delete;

  bool SubclassDlgItem(UINT id, HWND parent);
  bool Attach(HWND button);
  // With `parentFont` off the button keeps the system font until it is given
  // one (SetFont, ApplySkinToButton): for buttons that get a skin anyway.
  bool Create(const std::wstring& caption, DWORD style, const RECT& rect, HWND parent, UINT id,
              bool parentFont = true);
  void Detach();
  HWND GetSafeHwnd() const { return m_hWnd; }
  static CSkinButton* FromHandle(HWND button);  // the skin of a button, on its thread; null: none

  int SetColor(int index, COLORREF colour, bool redraw = true);
  COLORREF GetColor(int index) const { return index >= 0 && index < 6 ? m_colours[index] : 0; }
  int OffsetColor(int index, int offset, bool redraw = true);
  int SetFlat(bool flat, bool redraw = true);
  int SetClickMark(bool mark, bool redraw = true);
  int SetAlign(int align, bool redraw = true);
  int SetIcon(HICON in, HICON out = nullptr);
  int SetIconById(int inId, int outId = 0);
  // The program's icon of that resource as SetIconById takes it: loaded once
  // and shared, so that loading it ahead on another thread makes the
  // buttons' own loading a look-up.
  static HICON SharedIcon(int id);
  int SetBitmaps(HBITMAP in, COLORREF inTransparent, HBITMAP out = nullptr, COLORREF outTransparent = 0);
  int SetBitmapsById(int inId, COLORREF inTransparent, int outId = 0, COLORREF outTransparent = 0);
  int SetCursorById(int id, bool redraw = true);
  // The cursor of a drag and its end: set, and shown at once under the mouse.
  void ChangeCursorById(int id);
  int SetTooltipText(const wchar_t* text, bool activate = true);
  int DrawTransparent(bool redraw = true);
  // The menu resource is only checked here and loaded when first shown. With
  // `classicLook` the menu is always drawn in the classic style, else the
  // desktop theme decides.
  int SetMenu(int menuId, HWND receiver, bool classicLook = false, bool redraw = true);
  // The images of the attached menu's commands: a toolbar bitmap and the
  // image of each command (the table must outlive the button).
  void SetMenuImages(int bitmapId, const MenuImage* images, int count);
  void ShowAttachedMenu();
  // The popup of the attached menu resource, loaded on first use; null without one.
  HMENU AttachedMenu();
  // The owner-drawn menu behind AttachedMenu (null until loaded).
  BCMenu* AttachedBCMenu() const { return m_bcMenu.get(); }
  void SetFont(HFONT font, bool redraw = true);

  bool IsFlat() const { return m_flat; }
  bool IsHovered() const { return m_mouseOver; }
  bool IsCheckBox() const { return m_checkBox; }
  bool IsChecked() const { return m_checked; }
  bool IsDefault() const { return m_default; }
  bool ClickMark() const { return m_clickMark; }
  int GetAlign() const { return m_align; }
  HWND ReceiverWindow() const { return m_menuReceiver; }
  const std::wstring& TooltipText() const { return m_tipText; }
  HWND Tooltip() const { return m_tooltip; }

  // The look a finished drawing had, for the rectangles of the parts.
  struct Layout {
    RECT image;    // where the icon or bitmap went (empty when none)
    RECT caption;  // the caption area
  };
  const Layout& LastLayout() const { return m_layout; }

 protected:
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual void DrawItem(const DRAWITEMSTRUCT& item);
  virtual void DrawBackground(HDC dc, RECT* rect);
  virtual void DrawBorder(HDC dc, RECT* rect);
  virtual void OnClicked();
  // A button not on screen is painted whole when it shows: its invalidation
  // would be one more call to the window system that changes nothing (the
  // main window's and the panels' buttons get their looks while hidden).
  void Redraw() {
    if (m_hWnd && IsWindowVisible(m_hWnd)) InvalidateRect(m_hWnd, nullptr, TRUE);
  }

  HWND m_hWnd = nullptr;
  bool m_flat = true;
  bool m_mouseOver = false;
  bool m_transparent = false;
  bool m_pressed = false;
  bool m_focused = false;
  bool m_disabled = false;
  bool m_default = false;
  bool m_checkBox = false;
  int m_align = kAlignLeft;
  bool m_clickMark = true;
  COLORREF m_colours[6];
  HMENU m_menu = nullptr;  // m_bcMenu's
  std::unique_ptr<BCMenu> m_bcMenu;
  int m_menuId = 0;  // the attached menu resource, loaded by AttachedMenu
  bool m_menuClassic = false;
  int m_menuBitmap = 0;
  const MenuImage* m_menuImages = nullptr;
  int m_menuImageCount = 0;
  HWND m_menuReceiver = nullptr;
  bool m_menuOpen = false;
  HCURSOR m_cursor = nullptr;  // a shared resource cursor, never destroyed
  HWND m_tooltip = nullptr;  // shared with the other skin buttons of the window
  std::wstring m_tipText;
  OffscreenBitmap m_back;  // the parent's pixels under a transparent button
  bool m_checked = false;
  UINT m_creationType = 15;

  // The icons shown with the mouse in and out. Copies the button made are
  // owned here; resource icons are shared by the system and only pointed at.
  struct IconPair {
    ScopedIcon ownIn, ownOut;
    HICON in = nullptr, out = nullptr;
    int inW = 0, inH = 0, outW = 0, outH = 0;
  } m_icons;
  struct BitmapPair {
    GdiBitmap in, inMask, out, outMask;
    int inW = 0, inH = 0, outW = 0, outH = 0;
    COLORREF inTransparent = 0, outTransparent = 0;
  } m_bitmaps;
  Layout m_layout{};

 private:
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  bool AttachAs(HWND button, UINT creationType);
  LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
  void MouseGone();
  LRESULT OnEnable(WPARAM wParam, LPARAM lParam);
  LRESULT OnButtonMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void FreeIcons() { m_icons = IconPair(); }
  void FreeBitmaps() { m_bitmaps = BitmapPair(); }
  void FreeBackground() { m_back.Free(); }
  void TakeBackground();
  void CreateTooltip();
  void PlaceImage(const RECT& item, int w, int h, bool hasCaption, RECT* image, RECT* caption) const;
  void DrawFace(HDC dc, const RECT& item);
  RECT DrawImage(HDC dc, const RECT& item);
  void DrawCaption(HDC dc, RECT caption);
};

// The button look of a skin record's colours and styles, worn with `font`
// (null: the buttons keep their default font).
SkinColours SkinColoursOf(const SkinLook& record, HFONT font);

// Pushes a skin record into a button: all colours, or the text colours only.
void ApplySkinToButton(CSkinButton& button, const SkinColours& skin);
void ApplySkinTextColours(CSkinButton& button, const SkinColours& skin);

// The grey copy of an icon: each non-black pixel becomes its luminance.
HICON CreateGrayscaleIcon(HICON icon);

// Installs, once per window, the subclass that reflects WM_DRAWITEM,
// WM_CTLCOLORBTN and WM_COMMAND of child buttons back to the buttons.
void InstallReflection(HWND parent);
// The tooltip control the skin buttons of a window share (null until the
// first one asks for it), and the keeping of one, destroyed with the window.
HWND SharedTooltip(HWND parent);
void KeepSharedTooltip(HWND parent, HWND tooltip);

}  // namespace qb

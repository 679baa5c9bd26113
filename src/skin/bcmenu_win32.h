// BCMenu: an owner-drawn popup menu. Each item keeps its command id, its text
// as a wide string, its separator, grey and check states (the states stay the
// menu's own, so EnableMenuItem and CheckMenuItem work on it as usual) and its
// sub-menu; an item whose command has an image in the menu's toolbar bitmap
// shows that 16x16 image beside its text. The highlight is flat (a light fill
// with a border) or, when the desktop theme is "Windows Classic", the system
// highlight colours.
//
// The menu's owner window gets WM_MEASUREITEM, WM_DRAWITEM and WM_MENUCHAR for
// the items. Track() routes them to the menu while the menu is open (a
// subclass of the owner for the time of the call); an owner that shows the
// menu some other way calls BCMenu::OwnerMessage from its window procedure.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "win/handles_win32.h"

namespace qb {

// A command and the index of its image in a toolbar bitmap strip.
struct MenuImage {
  UINT command;
  int image;
};

class BCMenu {
 public:
  // kLookTheme: the desktop theme decides, read each time an item is drawn.
  enum Look { kLookTheme, kLookFlat, kLookClassic };
  // The look's sizes: the image column and the gaps around the text.
  enum : int {
    kImageSize = 16,
    kImagePad = 3,
    kImageColumn = kImageSize + 2 * kImagePad,
    kTextGap = 6,
    kTabGap = 16,
    kRightMargin = 18,
    kSeparatorHeight = 7,
  };

  BCMenu();
  ~BCMenu();
  BCMenu(const BCMenu&) = delete;
  BCMenu& operator=(const BCMenu&) = delete;

  // The first popup of a menu resource, its items made owner-drawn. False when
  // the resource is missing or holds no popup.
  bool LoadMenu(int resourceId, HINSTANCE module = nullptr);
  // An empty popup to fill with AppendMenu.
  bool CreatePopupMenu();
  // Takes an existing popup and its sub-menus over; the object destroys it.
  bool Adopt(HMENU popup);
  // MF_STRING (with MF_GRAYED, MF_CHECKED), MF_SEPARATOR or MF_POPUP (`id` is
  // then a popup menu, taken over as Adopt does).
  bool AppendMenu(UINT flags, UINT_PTR id, const std::wstring& text);
  // The same with a text in the program's code page.
  bool AppendMenuGbk(UINT flags, UINT_PTR id, const std::string& gbk);
  // Lets the popup go with its items (the member, not the system call: the
  // handle's owner releases it).
  void DestroyMenu();

  HMENU GetSafeHmenu() const { return m_menu.Get(); }
  // The BCMenu that owns a popup (also one of its sub-menus), or null.
  static BCMenu* FromHandle(HMENU menu);
  // How many BCMenu objects hold a menu now (start-up makes none).
  static int LiveCount();

  // Images: a bitmap strip of 16x16 images (magenta is transparent) and the
  // image of each command (several commands may share one). The strip is
  // made into an image list the first time an item is drawn.
  bool LoadToolbar(int bitmapId, const MenuImage* images, int count, HINSTANCE module = nullptr);
  int ImageOf(UINT id) const;

  // The wide text of an item, by command or by position in the top popup.
  std::wstring ItemText(UINT idOrPos, bool byPosition = false) const;
  bool SetItemText(UINT id, const std::wstring& text);

  void SetLook(Look look) { m_look = look; }
  // Whether items are drawn in the classic style now.
  bool DrawsClassic() const;
  // The desktop theme is "Windows Classic" (HKCU, default value of
  // Software\Microsoft\Plus!\Themes\Current ending in "Windows Classic.theme").
  static bool ThemeIsClassic();

  // TrackPopupMenu with the owner's measure, draw and menu-character
  // messages routed to the menu meanwhile.
  UINT Track(HWND owner, UINT flags, int x, int y);

  // For an owner window procedure: handles WM_MEASUREITEM, WM_DRAWITEM and
  // WM_MENUCHAR of any BCMenu item; true with *result set when it did.
  static bool OwnerMessage(HWND owner, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Routes those messages of a window to the menus until Unroute (counted).
  static void Route(HWND owner);
  static void Unroute(HWND owner);

  // The three message handlers, for one item (public for tests).
  bool MeasureItem(MEASUREITEMSTRUCT& item) const;
  bool DrawItem(const DRAWITEMSTRUCT& item) const;
  // WM_MENUCHAR for `popup` (this menu or one of its sub-menus).
  LRESULT MenuChar(wchar_t ch, HMENU popup) const;

  // The font the items are measured and drawn in (the system's menu font).
  static HFONT MenuFont();

 private:
  struct Item;
  bool Adopt(ScopedMenu popup);
  bool TakeOver(HMENU popup);
  bool MakeOwnerDrawn(HMENU popup, int pos);
  Item* ItemByCommand(UINT id) const;
  HIMAGELIST Images() const;
  void DrawImage(HDC dc, int image, int x, int y, bool grey) const;

  ScopedMenu m_menu;
  std::vector<HMENU> m_popups;  // m_menu and its sub-menus
  std::vector<std::unique_ptr<Item>> m_items;
  Look m_look = kLookTheme;
  int m_toolbarId = 0;
  HINSTANCE m_toolbarModule = nullptr;
  std::map<UINT, int> m_images;  // command id -> image index
};

}  // namespace qb

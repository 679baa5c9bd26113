// The skin button's attached popup menu: checked when attached, loaded when
// first shown, shown under the cursor with its commands posted on.
#include "skin/bcmenu_win32.h"
#include "skin/skin_button_win32.h"

namespace qb {

int CSkinButton::SetMenu(int menuId, HWND receiver, bool classicLook, bool redraw) {
  m_bcMenu.reset();
  m_menu = nullptr;
  m_menuReceiver = nullptr;
  m_menuId = 0;
  m_menuClassic = classicLook;
  if (menuId) {
    // Loaded when first needed: a panel attaches menus to dozens of buttons.
    if (!FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId), MAKEINTRESOURCEW(4) /* RT_MENU */))
      return 1;
    m_menuId = menuId;
    m_menuReceiver = receiver;
  }
  if (redraw) Redraw();
  return 0;
}

void CSkinButton::SetMenuImages(int bitmapId, const MenuImage* images, int count) {
  m_menuBitmap = bitmapId;
  m_menuImages = images;
  m_menuImageCount = count;
  if (m_bcMenu && bitmapId) m_bcMenu->LoadToolbar(bitmapId, images, count);
}

HMENU CSkinButton::AttachedMenu() {
  if (!m_bcMenu && m_menuId) {
    auto menu = std::make_unique<BCMenu>();
    if (!menu->LoadMenu(m_menuId)) {
      m_menuId = 0;  // not tried again
      return nullptr;
    }
    menu->SetLook(m_menuClassic ? BCMenu::kLookClassic : BCMenu::kLookTheme);
    if (m_menuBitmap) menu->LoadToolbar(m_menuBitmap, m_menuImages, m_menuImageCount);
    m_menu = menu->GetSafeHmenu();
    m_bcMenu = std::move(menu);
  }
  return m_menu;
}

void CSkinButton::ShowAttachedMenu() {
  if (!AttachedMenu()) return;
  m_menuOpen = true;
  Redraw();
  UpdateWindow(m_hWnd);
  POINT pt;
  GetCursorPos(&pt);
  // The button owns the menu window: its measure, draw and menu-character
  // messages go to the menu while it is open.
  UINT cmd = m_bcMenu->Track(m_hWnd, TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_RETURNCMD,
                             pt.x, pt.y);
  m_menuOpen = false;
  Redraw();
  if (cmd && m_menuReceiver) PostMessageW(m_menuReceiver, WM_COMMAND, MAKEWPARAM(cmd, 0), 0);
}

}  // namespace qb

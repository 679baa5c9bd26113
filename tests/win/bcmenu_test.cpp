// BCMenu with real menus and real owner messages: what a loaded or built menu
// keeps, the sizes it measures, what it draws in the flat and the classic look
// (chosen by the desktop theme in the registry), accelerator letters, and a
// real popup opened on screen, also as a skin button's attached menu.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <cwctype>

#include <gtest/gtest.h>

#include "../../res/resource.h"
#include "app/favorites_app_win32.h"
#include "app/main_dlg_win32.h"
#include "os/os.h"
#include "panels/menu_images_win32.h"
#include "skin/bcmenu_win32.h"
#include "skin/skin.h"
#include "skin/skin_button_win32.h"
#include "win/subclass_win32.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "testutil.h"
#include "win_test_util.h"

using qb::BCMenu;
using wintest::Canvas;

namespace {

const wchar_t kThemeKey[] = L"Software\\Microsoft\\Plus!\\Themes\\Current";

// Sets the desktop theme value for a test and puts the old one back.
class ThemeValue {
 public:
  ThemeValue() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kThemeKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      m_existed = true;
      wchar_t buf[1024] = {};
      DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
      if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS) {
        m_hadValue = true;
        m_old = buf;
      }
      RegCloseKey(key);
    }
  }
  ~ThemeValue() {
    if (!m_existed) {
      RegDeleteKeyW(HKEY_CURRENT_USER, kThemeKey);
    } else if (m_hadValue) {
      Set(m_old.c_str());
    } else {
      Remove();
    }
  }
  void Set(const wchar_t* theme) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kThemeKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                             nullptr));
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(theme),
                   static_cast<DWORD>((wcslen(theme) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  void Remove() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kThemeKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, nullptr);
    RegCloseKey(key);
  }

 private:
  bool m_existed = false, m_hadValue = false;
  std::wstring m_old;
};

ULONG_PTR ItemData(HMENU menu, UINT id) {
  MENUITEMINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA;
  GetMenuItemInfoW(menu, id, FALSE, &info);
  return info.dwItemData;
}

int PositionOf(HMENU menu, UINT id) {
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i)
    if (GetMenuItemID(menu, i) == id) return i;
  return -1;
}

// WM_MEASUREITEM for one item, sent to the routed owner.
MEASUREITEMSTRUCT Measure(HWND owner, HMENU menu, UINT id) {
  MEASUREITEMSTRUCT mis = {};
  mis.CtlType = ODT_MENU;
  mis.itemID = id;
  mis.itemData = ItemData(menu, id);
  SendMessageW(owner, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mis));
  return mis;
}

const int kItemW = 240, kItemH = 24;

// WM_DRAWITEM for one item into a memory bitmap, sent to the routed owner.
Canvas DrawMenuItem(HWND owner, HMENU menu, UINT id, UINT state) {
  qb::OffscreenBitmap surface;
  wintest::MakeSurface(surface, kItemW, kItemH);
  HDC mem = surface.dc.Get();
  RECT all = {0, 0, kItemW, kItemH};
  FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DRAWITEMSTRUCT dis = {};
  dis.CtlType = ODT_MENU;
  dis.itemID = id;
  dis.itemAction = ODA_DRAWENTIRE;
  dis.itemState = state;
  dis.hwndItem = reinterpret_cast<HWND>(menu);
  dis.hDC = mem;
  dis.rcItem = all;
  dis.itemData = ItemData(menu, id);
  EXPECT_EQ(TRUE, SendMessageW(owner, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis)));
  return wintest::ReadCanvas(mem, kItemW, kItemH);
}

const RECT kImageArea = {BCMenu::kImagePad, (kItemH - 16) / 2, BCMenu::kImagePad + 16, (kItemH - 16) / 2 + 16};
const RECT kTextArea = {BCMenu::kImageColumn + BCMenu::kTextGap, 0, kItemW - BCMenu::kRightMargin, kItemH};

// Pixels whose channels differ clearly: coloured, not grey.
int Coloured(const Canvas& c, const RECT& r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      COLORREF p = c.At(x, y);
      int hi = std::max({GetRValue(p), GetGValue(p), GetBValue(p)});
      int lo = std::min({GetRValue(p), GetGValue(p), GetBValue(p)});
      if (hi - lo > 40) ++n;
    }
  return n;
}

class BCMenuTest : public testing::Test {
 protected:
  void SetUp() override { BCMenu::Route(host.hwnd()); }
  void TearDown() override { BCMenu::Unroute(host.hwnd()); }
  wintest::HostWindow host;
};

TEST_F(BCMenuTest, ALoadedMenuKeepsIdsTextsSeparatorsStatesAndSubMenus) {
  HMENU plainBar = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_CATEGORY_MENU));
  HMENU plain = GetSubMenu(plainBar, 0);
  BCMenu menu;
  ASSERT_TRUE(menu.LoadMenu(IDR_CATEGORY_MENU));
  HMENU m = menu.GetSafeHmenu();
  EXPECT_EQ(&menu, BCMenu::FromHandle(m));
  ASSERT_EQ(GetMenuItemCount(plain), GetMenuItemCount(m));
  for (int i = 0; i < GetMenuItemCount(m); ++i) {
    EXPECT_EQ(GetMenuItemID(plain, i), GetMenuItemID(m, i)) << i;
    EXPECT_EQ(GetMenuState(plain, i, MF_BYPOSITION) & (MF_GRAYED | MF_CHECKED | MF_SEPARATOR),
              GetMenuState(m, i, MF_BYPOSITION) & (MF_GRAYED | MF_CHECKED | MF_SEPARATOR))
        << i;
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    GetMenuItemInfoW(m, i, TRUE, &info);
    EXPECT_TRUE(info.fType & MFT_OWNERDRAW) << i;
  }
  DestroyMenu(plainBar);
  EXPECT_EQ(L"重命名(&R)", menu.ItemText(ID_RENAME_CATEGORY));
  EXPECT_EQ(L"进入该名称的圈子(&E)", menu.ItemText(0, true));
  EXPECT_EQ(L"其他搜索", menu.ItemText(6, true));
  EXPECT_EQ(L"Qimbo收藏~", menu.ItemText(ID_CATEGORY_TITLE));
  EXPECT_TRUE(GetMenuState(m, ID_CATEGORY_TITLE, MF_BYCOMMAND) & MF_GRAYED);
  // The sub-menu belongs to the same object and is owner-drawn too.
  HMENU sub = GetSubMenu(m, 6);
  ASSERT_TRUE(sub);
  EXPECT_EQ(&menu, BCMenu::FromHandle(sub));
  EXPECT_EQ(L"淘宝", menu.ItemText(ID_SEARCH_TAOBAO));
  EXPECT_NE(0u, ItemData(sub, ID_SEARCH_TAOBAO));
  // The states stay the menu's own: the panels' calls work as before.
  EnableMenuItem(m, ID_DELETE_CATEGORY, MF_BYCOMMAND | MF_GRAYED);
  CheckMenuItem(m, ID_OPEN_ALL, MF_BYCOMMAND | MF_CHECKED);
  EXPECT_TRUE(GetMenuState(m, ID_DELETE_CATEGORY, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_TRUE(GetMenuState(m, ID_OPEN_ALL, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_FALSE(menu.LoadMenu(9999)) << "a missing resource";
}

TEST_F(BCMenuTest, ABuiltMenuKeepsTextsFromTheCodePageAndStates) {
  BCMenu menu;
  ASSERT_TRUE(menu.CreatePopupMenu());
  // The narrow literals are GBK bytes.
  ASSERT_TRUE(menu.AppendMenuGbk(MF_STRING | MF_GRAYED, 171, "Qimbo~收藏热键：Ctrl+Alt+Z"));
  ASSERT_TRUE(menu.AppendMenu(MF_SEPARATOR, 0, L""));
  ASSERT_TRUE(menu.AppendMenuGbk(MF_STRING | MF_CHECKED, 32782, "新建分类 (&N)"));
  HMENU sub = CreatePopupMenu();
  AppendMenuW(sub, MF_STRING, 40001, L"子项(&S)");
  ASSERT_TRUE(menu.AppendMenuGbk(MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "更多"));
  HMENU m = menu.GetSafeHmenu();
  ASSERT_EQ(4, GetMenuItemCount(m));
  EXPECT_EQ(L"Qimbo~收藏热键：Ctrl+Alt+Z", menu.ItemText(171));
  EXPECT_EQ(L"新建分类 (&N)", menu.ItemText(32782));
  EXPECT_EQ(L"子项(&S)", menu.ItemText(40001));
  EXPECT_TRUE(GetMenuState(m, 171, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_TRUE(GetMenuState(m, 32782, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_TRUE(GetMenuState(m, 1, MF_BYPOSITION) & MF_SEPARATOR);
  EXPECT_EQ(sub, GetSubMenu(m, 3));
  EXPECT_EQ(&menu, BCMenu::FromHandle(sub));
  EXPECT_TRUE(menu.SetItemText(32782, L"改了"));
  EXPECT_EQ(L"改了", menu.ItemText(32782));
  EXPECT_FALSE(menu.SetItemText(5555, L"x"));
  menu.DestroyMenu();
  EXPECT_EQ(nullptr, BCMenu::FromHandle(m));
  EXPECT_FALSE(IsMenu(m));
}

TEST_F(BCMenuTest, MeasuringGivesRoomForTheImageTextAndShortcut) {
  BCMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 1, L"删");
  menu.AppendMenu(MF_STRING, 2, L"更新图标(部分网站较慢)(&I)");
  menu.AppendMenu(MF_STRING, 3, L"更新图标(部分网站较慢)(&I)\tCtrl+I");
  menu.AppendMenu(MF_SEPARATOR, 0, L"");
  HMENU m = menu.GetSafeHmenu();
  MEASUREITEMSTRUCT shortText = Measure(host.hwnd(), m, 1);
  MEASUREITEMSTRUCT longText = Measure(host.hwnd(), m, 2);
  MEASUREITEMSTRUCT withKeys = Measure(host.hwnd(), m, 3);
  // The separator is found by position: its id is 0.
  MEASUREITEMSTRUCT sep = {};
  sep.CtlType = ODT_MENU;
  MENUITEMINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA;
  GetMenuItemInfoW(m, 3, TRUE, &info);
  sep.itemData = info.dwItemData;
  EXPECT_EQ(TRUE, SendMessageW(host.hwnd(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&sep)));

  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, BCMenu::MenuFont());
  SIZE text;
  std::wstring shown = L"更新图标(部分网站较慢)(I)";
  GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &text);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  int check = GetSystemMetrics(SM_CXMENUCHECK) - 1;  // the system adds it
  EXPECT_GE(static_cast<int>(longText.itemWidth) + check, text.cx + BCMenu::kImageColumn + BCMenu::kTextGap);
  EXPECT_LT(static_cast<int>(longText.itemWidth) + check, text.cx + BCMenu::kImageColumn + 60);
  EXPECT_GT(longText.itemWidth, shortText.itemWidth + 50);
  EXPECT_GT(withKeys.itemWidth, longText.itemWidth + BCMenu::kTabGap);
  EXPECT_GE(static_cast<int>(shortText.itemHeight), BCMenu::kImageColumn) << "room for a 16-pixel image";
  EXPECT_GE(static_cast<int>(shortText.itemHeight), text.cy);
  EXPECT_LT(shortText.itemHeight, 40u);
  EXPECT_EQ(static_cast<UINT>(BCMenu::kSeparatorHeight), sep.itemHeight);
  EXPECT_LT(sep.itemHeight, shortText.itemHeight);

  // Items of no BCMenu are left to the window.
  MEASUREITEMSTRUCT other = {};
  other.CtlType = ODT_MENU;
  other.itemData = 12345;
  other.itemHeight = 77;
  LRESULT r = 0;
  EXPECT_FALSE(BCMenu::OwnerMessage(host.hwnd(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&other), &r));
  EXPECT_EQ(77u, other.itemHeight);
}

TEST_F(BCMenuTest, DrawingShowsTheImageOfAMappedCommandAndGreysDisabledItems) {
  ThemeValue theme;
  theme.Remove();
  BCMenu menu;
  ASSERT_TRUE(menu.LoadMenu(IDR_ITEM_MENU));
  ASSERT_TRUE(menu.LoadToolbar(IDB_MENU_IMAGES, panels::kMenuImages, panels::kMenuImageMapSize));
  EXPECT_FALSE(menu.LoadToolbar(9999, panels::kMenuImages, 1)) << "no such bitmap";
  EXPECT_EQ(panels::kImageDelete, menu.ImageOf(ID_DELETE_ITEM));
  EXPECT_EQ(-1, menu.ImageOf(ID_ITEM_TITLE));
  HMENU m = menu.GetSafeHmenu();
  EXPECT_FALSE(menu.DrawsClassic()) << "no theme value: the flat look";

  // The delete command's red cross; the title has no image.
  Canvas del = DrawMenuItem(host.hwnd(), m, ID_DELETE_ITEM, 0);
  EXPECT_GT(del.CountNear(RGB(208, 16, 16), kImageArea, 40), 12);
  EXPECT_GT(del.Count(GetSysColor(COLOR_MENUTEXT), kTextArea), 10) << "the text in the menu's text colour";
  Canvas title = DrawMenuItem(host.hwnd(), m, ID_OPEN_NEW_WINDOW, 0);
  EXPECT_GT(title.CountNear(RGB(42, 120, 216), kImageArea, 30), 3) << "the window picture's blue bar";
  EXPECT_EQ(0, title.CountNear(RGB(208, 16, 16), kImageArea, 40));
  Canvas none = DrawMenuItem(host.hwnd(), m, ID_ITEM_TITLE, 0);
  EXPECT_EQ(0, Coloured(none, kImageArea)) << "no image for an unmapped command";
  EXPECT_EQ(none.At(kImageArea.left, kImageArea.top), none.At(kImageArea.right - 1, kImageArea.bottom - 1));

  // Disabled: the same image in grey, the text in the grey text colour.
  Canvas grey = DrawMenuItem(host.hwnd(), m, ID_DELETE_ITEM, ODS_GRAYED);
  EXPECT_EQ(0, Coloured(grey, kImageArea));
  COLORREF column = grey.At(0, 0);
  EXPECT_GT(static_cast<int>(16 * 16) - grey.Count(column, kImageArea), 12) << "the grey cross is there";
  EXPECT_GT(grey.CountNear(GetSysColor(COLOR_GRAYTEXT), kTextArea, 20), 10);
  EXPECT_EQ(0, grey.Count(GetSysColor(COLOR_MENUTEXT), kTextArea));
  // Disabled and under the mouse: no highlight.
  Canvas greySel = DrawMenuItem(host.hwnd(), m, ID_DELETE_ITEM, ODS_GRAYED | ODS_SELECTED);
  EXPECT_EQ(0, greySel.Count(GetSysColor(COLOR_HIGHLIGHT), {0, 0, kItemW, kItemH}));

  // A checked item without an image shows a tick in the image column.
  CheckMenuItem(m, ID_ITEM_TITLE, MF_BYCOMMAND | MF_CHECKED);
  Canvas tick = DrawMenuItem(host.hwnd(), m, ID_ITEM_TITLE, ODS_CHECKED);
  EXPECT_GT(tick.Count(GetSysColor(COLOR_MENUTEXT), kImageArea), 8);
}

TEST_F(BCMenuTest, TheHighlightIsFlatOrClassicByTheDesktopTheme) {
  ThemeValue theme;
  BCMenu menu;
  ASSERT_TRUE(menu.LoadMenu(IDR_ITEM_MENU));
  menu.LoadToolbar(IDB_MENU_IMAGES, panels::kMenuImages, panels::kMenuImageMapSize);
  HMENU m = menu.GetSafeHmenu();
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  const RECT inside = {kItemW - 12, 3, kItemW - 3, kItemH - 3};  // right of the text

  theme.Set(L"C:\\WINDOWS\\Resources\\Themes\\Luna.theme");
  EXPECT_FALSE(BCMenu::ThemeIsClassic());
  Canvas flat = DrawMenuItem(host.hwnd(), m, ID_EDIT_ITEM, ODS_SELECTED);
  // Flat: a border in the highlight colour round a light fill.
  EXPECT_EQ(highlight, flat.At(0, 0));
  EXPECT_EQ(highlight, flat.At(kItemW - 1, kItemH / 2));
  EXPECT_EQ(highlight, flat.At(kItemW / 2, kItemH - 1));
  EXPECT_EQ(0, flat.Count(highlight, inside));
  COLORREF fill = flat.At(kItemW - 6, kItemH / 2);
  EXPECT_NE(GetSysColor(COLOR_MENU), fill);
  EXPECT_EQ(static_cast<int>(9 * (kItemH - 6)), flat.Count(fill, inside));
  EXPECT_GT(flat.Count(GetSysColor(COLOR_MENUTEXT), kTextArea), 10);
  // Not selected: the image column is a band apart from the text area.
  Canvas rest = DrawMenuItem(host.hwnd(), m, ID_EDIT_ITEM, 0);
  EXPECT_EQ(GetSysColor(COLOR_MENU), rest.At(kItemW - 6, kItemH / 2));
  EXPECT_NE(rest.At(1, 1), rest.At(kItemW - 6, 1));

  // The classic theme, named in any case: the system highlight colours.
  theme.Set(L"C:\\WINDOWS\\Resources\\Themes\\WINDOWS classic.Theme");
  EXPECT_TRUE(BCMenu::ThemeIsClassic());
  EXPECT_TRUE(menu.DrawsClassic());
  Canvas classic = DrawMenuItem(host.hwnd(), m, ID_EDIT_ITEM, ODS_SELECTED);
  EXPECT_EQ(static_cast<int>(9 * (kItemH - 6)), classic.Count(highlight, inside));
  EXPECT_EQ(highlight, classic.At(kItemW - 1, kItemH / 2)) << "filled to the edge, no border";
  EXPECT_GT(classic.CountNear(GetSysColor(COLOR_HIGHLIGHTTEXT), kTextArea, 10), 10);
  EXPECT_EQ(0, classic.Count(GetSysColor(COLOR_MENUTEXT), kTextArea));
  EXPECT_GT(classic.CountNear(RGB(240, 176, 32), kImageArea, 40), 5) << "the pencil still shows";
  Canvas classicRest = DrawMenuItem(host.hwnd(), m, ID_EDIT_ITEM, 0);
  EXPECT_EQ(classicRest.At(1, 1), classicRest.At(kItemW - 6, 1)) << "no band in the classic look";

  // A theme whose name only contains the words, and a forced look.
  theme.Set(L"C:\\Windows Classic.theme.bak");
  EXPECT_FALSE(BCMenu::ThemeIsClassic());
  menu.SetLook(BCMenu::kLookClassic);
  EXPECT_TRUE(menu.DrawsClassic());
  menu.SetLook(BCMenu::kLookFlat);
  theme.Set(L"Windows Classic.theme");
  EXPECT_FALSE(menu.DrawsClassic());
}

TEST_F(BCMenuTest, TheMenuCharacterFindsTheItemByItsAcceleratorLetter) {
  BCMenu menu;
  ASSERT_TRUE(menu.LoadMenu(IDR_ITEM_MENU));
  HMENU m = menu.GetSafeHmenu();
  auto menuChar = [&](wchar_t ch, HMENU popup) {
    return SendMessageW(host.hwnd(), WM_MENUCHAR, MAKEWPARAM(ch, MF_POPUP), reinterpret_cast<LPARAM>(popup));
  };
  EXPECT_EQ(MAKELRESULT(PositionOf(m, ID_DELETE_ITEM), MNC_EXECUTE), menuChar(L'd', m));
  EXPECT_EQ(MAKELRESULT(PositionOf(m, ID_DELETE_ITEM), MNC_EXECUTE), menuChar(L'D', m));
  EXPECT_EQ(MAKELRESULT(PositionOf(m, ID_EDIT_ITEM), MNC_EXECUTE), menuChar(L'm', m));
  EXPECT_EQ(0, menuChar(L'z', m)) << "no item has the letter";
  EnableMenuItem(m, ID_DELETE_ITEM, MF_BYCOMMAND | MF_GRAYED);
  EXPECT_EQ(0, menuChar(L'd', m)) << "a grey item is not chosen";

  // Two items with one letter: the first, then the next after the selection.
  BCMenu two;
  two.CreatePopupMenu();
  two.AppendMenu(MF_STRING, 1, L"&Apple");
  two.AppendMenu(MF_STRING, 2, L"Fish && &Chips");
  two.AppendMenu(MF_STRING, 3, L"&Avocado");
  HMENU t = two.GetSafeHmenu();
  EXPECT_EQ(MAKELRESULT(0, MNC_SELECT), menuChar(L'a', t));
  MENUITEMINFOW hilite = {};
  hilite.cbSize = sizeof hilite;
  hilite.fMask = MIIM_STATE;
  hilite.fState = MFS_HILITE;
  SetMenuItemInfoW(t, 0, TRUE, &hilite);
  EXPECT_EQ(MAKELRESULT(2, MNC_SELECT), menuChar(L'a', t));
  EXPECT_EQ(MAKELRESULT(1, MNC_EXECUTE), menuChar(L'c', t)) << "\"&&\" is no accelerator";

  // In a sub-menu of the category menu, and not for a menu of no BCMenu.
  BCMenu cat;
  ASSERT_TRUE(cat.LoadMenu(IDR_CATEGORY_MENU));
  HMENU sub = GetSubMenu(cat.GetSafeHmenu(), 6);
  EXPECT_EQ(MAKELRESULT(PositionOf(cat.GetSafeHmenu(), ID_RENAME_CATEGORY), MNC_EXECUTE),
            menuChar(L'r', cat.GetSafeHmenu()));
  EXPECT_EQ(0, menuChar(L'r', sub));
  HMENU plain = CreatePopupMenu();
  LRESULT r = 5;
  EXPECT_FALSE(BCMenu::OwnerMessage(host.hwnd(), WM_MENUCHAR, 'a', reinterpret_cast<LPARAM>(plain), &r));
  DestroyMenu(plain);
}

// ---- a real popup on screen ------------------------------------------------------

struct ScreenGrab {
  RECT rect = {};
  Canvas pixels;
  bool seen = false;
};
ScreenGrab g_grab;
wchar_t g_key = 0;
int g_ticks = 0;

// Saves the screen as a 24-bit BMP (for a look at the menu: QIMBO_MENU_SHOT=file).
void SaveScreen(const char* path) {
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  qb::WindowDc screen(nullptr);
  qb::MemoryDc mem(screen.Get());
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  qb::GdiBitmap dib(CreateDIBSection(screen.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  qb::SelectIn dibIn(mem.Get(), dib.Get());
  BitBlt(mem.Get(), 0, 0, w, h, screen.Get(), 0, 0, SRCCOPY);
  GdiFlush();
  DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  BITMAPFILEHEADER fh = {};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + stride * h;
  if (FILE* f = fopen(path, "wb")) {
    fwrite(&fh, sizeof fh, 1, f);
    fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f);
    fwrite(bits, stride * h, 1, f);
    fclose(f);
  }
}

// The pixels of a screen rectangle.
Canvas Grab(const RECT& r) {
  Canvas c;
  c.w = r.right - r.left;
  c.h = r.bottom - r.top;
  qb::WindowDc screen(nullptr);
  qb::MemoryDc mem(screen.Get());
  BITMAPINFO bi = qb::TopDownBitmapInfo(c.w, c.h);
  void* bits = nullptr;
  qb::GdiBitmap dib(CreateDIBSection(screen.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  qb::SelectIn dibIn(mem.Get(), dib.Get());
  BitBlt(mem.Get(), 0, 0, c.w, c.h, screen.Get(), r.left, r.top, SRCCOPY);
  GdiFlush();
  c.px.resize(static_cast<size_t>(c.w) * c.h);
  const DWORD* p = static_cast<const DWORD*>(bits);
  for (size_t i = 0; i < c.px.size(); ++i) c.px[i] = RGB((p[i] >> 16) & 255, (p[i] >> 8) & 255, p[i] & 255);
  return c;
}

// Inside the menu's modal loop: moves the selection down to an item,
// photographs the open popup, then presses the accelerator key.
void CALLBACK WhileOpen(HWND wnd, UINT, UINT_PTR id, DWORD) {
  HWND popup = FindWindowW(L"#32768", nullptr);
  if (!popup || !IsWindowVisible(popup)) {  // not yet on screen
    if (++g_ticks > 100) {
      KillTimer(wnd, id);
      EndMenu();
    }
    return;
  }
  if (!g_grab.seen) {
    g_grab.seen = true;
    g_ticks = 0;
    PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    return;
  }
  // A few ticks more, for the drawing to reach the screen.
  UpdateWindow(popup);
  GdiFlush();
  if (++g_ticks < 4) return;
  KillTimer(wnd, id);
  GetWindowRect(popup, &g_grab.rect);
  g_grab.pixels = Grab(g_grab.rect);
  if (const char* shot = getenv("QIMBO_MENU_SHOT")) SaveScreen(shot);
  PostMessageW(popup, WM_KEYDOWN, static_cast<WPARAM>(towupper(g_key)), 0);
  PostMessageW(popup, WM_CHAR, g_key, 0);
}

TEST_F(BCMenuTest, AnOpenMenuShowsItsImagesAndTheAcceleratorChoosesTheCommand) {
  BCMenu menu;
  ASSERT_TRUE(menu.LoadMenu(IDR_ITEM_MENU));
  menu.LoadToolbar(IDB_MENU_IMAGES, panels::kMenuImages, panels::kMenuImageMapSize);
  BCMenu::Unroute(host.hwnd());  // Track routes the owner by itself
  ThemeValue theme;
  theme.Remove();
  g_grab = ScreenGrab();
  g_ticks = 0;
  g_key = L'd';
  SetTimer(host.hwnd(), 77, 50, WhileOpen);
  UINT cmd = menu.Track(host.hwnd(), TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, 100, 60);
  KillTimer(host.hwnd(), 77);
  EXPECT_EQ(0, qb::SubclassCount(host.hwnd())) << "the owner's routing ends with the menu";
  BCMenu::Route(host.hwnd());
  ASSERT_TRUE(g_grab.seen);
  EXPECT_EQ(static_cast<UINT>(ID_DELETE_ITEM), cmd);
  RECT all = {0, 0, g_grab.pixels.w, g_grab.pixels.h};
  EXPECT_GT(g_grab.pixels.CountNear(RGB(208, 16, 16), all, 40), 12) << "the delete cross on screen";
  EXPECT_GT(g_grab.pixels.CountNear(RGB(42, 160, 90), all, 30), 12) << "the circle and refresh pictures";
  EXPECT_GT(g_grab.rect.right - g_grab.rect.left, 150) << "wide enough for the longest text";
  // An item is selected: the flat highlight's border (no theme value here).
  EXPECT_GT(g_grab.pixels.Count(GetSysColor(COLOR_HIGHLIGHT), all), 100);
}

TEST_F(BCMenuTest, ASkinButtonLoadsItsMenuWhenFirstShownAndPostsTheChosenCommand) {
  HWND wnd = host.AddButton(L"URL", 1201, 20, 20, 100, 40);
  qb::CSkinButton button;
  ASSERT_TRUE(button.Attach(wnd));
  EXPECT_EQ(0, button.SetMenu(IDR_ITEM_MENU, host.hwnd(), false, false));
  button.SetMenuImages(IDB_MENU_IMAGES, panels::kMenuImages, panels::kMenuImageMapSize);
  EXPECT_EQ(nullptr, button.AttachedBCMenu()) << "nothing loaded before the menu is wanted";
  HMENU m = button.AttachedMenu();
  ASSERT_TRUE(m);
  ASSERT_TRUE(button.AttachedBCMenu());
  EXPECT_EQ(m, button.AttachedBCMenu()->GetSafeHmenu());
  EXPECT_EQ(panels::kImageRecord, button.AttachedBCMenu()->ImageOf(ID_RECORD_SCRIPT));
  EXPECT_EQ(L"在新窗口中打开(&N)", button.AttachedBCMenu()->ItemText(ID_OPEN_NEW_WINDOW));
  EXPECT_TRUE(GetMenuState(m, ID_ITEM_TITLE, MF_BYCOMMAND) & MF_GRAYED);
  // The button answers for the items of the menus it owns.
  EXPECT_GE(static_cast<int>(Measure(wnd, m, ID_DELETE_ITEM).itemHeight), BCMenu::kImageColumn);
  EXPECT_EQ(MAKELRESULT(PositionOf(m, ID_DELETE_ITEM), MNC_EXECUTE),
            SendMessageW(wnd, WM_MENUCHAR, MAKEWPARAM(L'd', MF_POPUP), reinterpret_cast<LPARAM>(m)));

  BCMenu::Unroute(host.hwnd());
  g_grab = ScreenGrab();
  g_ticks = 0;
  g_key = L'r';
  SetCursorPos(60, 40);
  SetTimer(host.hwnd(), 78, 50, WhileOpen);
  button.ShowAttachedMenu();
  KillTimer(host.hwnd(), 78);
  BCMenu::Route(host.hwnd());
  EXPECT_TRUE(g_grab.seen);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, host.hwnd(), WM_COMMAND, WM_COMMAND, PM_REMOVE));
  EXPECT_EQ(static_cast<WPARAM>(ID_RECORD_SCRIPT), msg.wParam);
  EXPECT_EQ(0, msg.lParam);
  EXPECT_EQ(1, qb::SubclassCount(wnd)) << "only the button's own subclass is left";

  // Another menu resource replaces the loaded one; a missing one is refused.
  EXPECT_EQ(0, button.SetMenu(IDR_CATEGORY_MENU, host.hwnd()));
  EXPECT_EQ(nullptr, button.AttachedBCMenu());
  EXPECT_EQ(nullptr, BCMenu::FromHandle(m));
  EXPECT_EQ(1, button.SetMenu(9999, host.hwnd()));
  EXPECT_EQ(nullptr, button.AttachedMenu());
}

// ---- the program's panels -----------------------------------------------------

struct FindTabs {
  HWND panel = nullptr;
};
BOOL CALLBACK FindTabPanel(HWND wnd, LPARAM data) {
  if (GetDlgItem(wnd, IDC_FIRST_TAB)) {
    reinterpret_cast<FindTabs*>(data)->panel = wnd;
    return FALSE;
  }
  return TRUE;
}

// The program in a folder of the test's own, with one web category of two
// items at tab 0: no menu is made while it starts; the category menu is
// made when its tab is first right-clicked and shows the panel's grey
// states; the empty-slot menu is made when it is first wanted.
TEST(BCMenuInTheProgram, MenusAreMadeWhenFirstOpenedAndKeepThePanelsStates) {
  qbtest::TempDir dir;
  std::string p = dir.Path();
  std::string home = wintest::MakeProgramFolder(p, true);
  {
    CMyNodeList list;
    CMyNode* cat = new CMyNode("新闻", UrlCategory, nullptr, 0);
    ASSERT_TRUE(list.AddNode(cat));
    for (int i = 0; i < 2; ++i) {
      CMyNode* n = new CMyNode(i ? "乙站" : "甲站", UrlItem, cat, i, "http://www.example.com/" + std::to_string(i));
      ASSERT_TRUE(list.AddNode(n));
    }
    ASSERT_TRUE(SaveFavoritesFile(list, p + "data\\", "1-我的收藏.sc"));
    qb::SkinSet skins;
    qb::ResetSkins(skins);
    qbtest::WriteFileBytes(p + "skin\\MySkin.db", qb::EncodeSkinRecords(skins));
  }
  int before = BCMenu::LiveCount();
  os::SetProgramDirectory(p);
  auto app = std::make_unique<qb::CFavoritesApp>();
  app->SetHomePath(home);
  ASSERT_TRUE(app->InitInstance());
  for (int i = 0; i < 5; ++i) wintest::Pump();

  FindTabs found;
  EnumThreadWindows(GetCurrentThreadId(), FindTabPanel, reinterpret_cast<LPARAM>(&found));
  HWND tab0 = found.panel ? GetDlgItem(found.panel, IDC_FIRST_TAB) : nullptr;
  if (tab0) {
    EXPECT_TRUE(IsWindowVisible(tab0)) << "the panels are made";
    EXPECT_EQ(before, BCMenu::LiveCount()) << "no menu is made at start-up";

    // The category menu: made and shown by the right click, then closed.
    g_grab = ScreenGrab();
    g_ticks = 0;
    g_key = VK_ESCAPE;
    SetTimer(nullptr, 0, 50, WhileOpen);
    SendMessageW(tab0, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
    SendMessageW(tab0, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(g_grab.seen);
    EXPECT_EQ(before + 1, BCMenu::LiveCount());
    qb::CSkinButton* tab = qb::CSkinButton::FromHandle(tab0);
    ASSERT_TRUE(tab && tab->AttachedBCMenu());
    HMENU menu = tab->AttachedMenu();
    EXPECT_TRUE(GetMenuState(menu, ID_DELETE_CATEGORY, MF_BYCOMMAND) & MF_GRAYED) << "the category has items";
    EXPECT_TRUE(GetMenuState(menu, ID_LEAVE_CIRCLE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(menu, ID_OPEN_ALL, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(L"删除(&D)", tab->AttachedBCMenu()->ItemText(ID_DELETE_CATEGORY));
    EXPECT_EQ(panels::kImageDelete, tab->AttachedBCMenu()->ImageOf(ID_DELETE_CATEGORY));
    RECT all = {0, 0, g_grab.pixels.w, g_grab.pixels.h};
    EXPECT_GT(g_grab.pixels.CountNear(RGB(240, 192, 64), all, 30), 12) << "the folder pictures on screen";

    // The empty-slot menu at slot 5.
    RECT slot;
    GetWindowRect(GetDlgItem(found.panel, IDC_FIRST_TAB + 5), &slot);
    ASSERT_TRUE(wintest::PlaceCursor((slot.left + slot.right) / 2, (slot.top + slot.bottom) / 2));
    g_grab = ScreenGrab();
    g_ticks = 0;
    SetTimer(nullptr, 0, 50, WhileOpen);
    SendMessageW(found.panel, WM_RBUTTONDOWN, MK_RBUTTON, 0);
    EXPECT_TRUE(g_grab.seen);
    EXPECT_EQ(before + 2, BCMenu::LiveCount());
    all = {0, 0, g_grab.pixels.w, g_grab.pixels.h};
    EXPECT_GT(g_grab.pixels.CountNear(RGB(26, 138, 58), all, 30), 6)
        << "the new category's green plus " << g_grab.rect.left << "," << g_grab.rect.top << " " << g_grab.pixels.w
        << "x" << g_grab.pixels.h;
  } else {
    ADD_FAILURE() << "no category panel";
  }
  app->ExitInstance();
  app.reset();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  EXPECT_EQ(before, BCMenu::LiveCount()) << "the menus go with their windows";
}

}  // namespace

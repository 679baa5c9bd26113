// The owner-drawn popup menu.
#include "skin/bcmenu_win32.h"

#include <algorithm>
#include <cwctype>
#include <set>

#include "os/os.h"
#include "skin/skin_button_win32.h"
#include "win/common_controls_win32.h"
#include "win/gdi_win32.h"
#include "win/subclass_win32.h"
#include "win/text_win32.h"

namespace qb {

struct BCMenu::Item {
  const BCMenu* owner = nullptr;
  UINT id = 0;
  std::wstring text;  // "label\tshortcut", with its '&' accelerator marks
  bool separator = false;
  HMENU popup = nullptr;
};

namespace {

const UINT_PTR kRouteSubclassId = 0x5142434D;  // 'QBCM'
const COLORREF kTransparent = RGB(255, 0, 255);
const char kThemeKey[] = "Software\\Microsoft\\Plus!\\Themes\\Current";
const char kClassicTheme[] = "windows classic.theme";

// Every live item and every popup of a live BCMenu: the owner messages name
// items and menus by pointer and handle, which are checked here first.
std::set<const void*>& LiveItems() {
  static std::set<const void*> items;
  return items;
}
std::map<HMENU, BCMenu*>& LiveMenus() {
  static std::map<HMENU, BCMenu*> menus;
  return menus;
}
std::map<HWND, int>& RoutedOwners() {
  static std::map<HWND, int> owners;
  return owners;
}

// Image lists made from toolbar bitmaps, one per bitmap, kept for the process.
std::map<std::pair<HINSTANCE, int>, HIMAGELIST>& ImageLists() {
  static std::map<std::pair<HINSTANCE, int>, HIMAGELIST> lists;
  return lists;
}
// Grey copies of images for disabled items, made when first drawn.
std::map<std::pair<HIMAGELIST, int>, HICON>& GreyImages() {
  static std::map<std::pair<HIMAGELIST, int>, HICON> icons;
  return icons;
}

void Fill(HDC dc, const RECT& r, COLORREF c) {
  COLORREF old = SetBkColor(dc, c);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void Frame(HDC dc, const RECT& r, COLORREF topLeft, COLORREF bottomRight) {
  Fill(dc, {r.left, r.top, r.right - 1, r.top + 1}, topLeft);
  Fill(dc, {r.left, r.top, r.left + 1, r.bottom - 1}, topLeft);
  Fill(dc, {r.right - 1, r.top, r.right, r.bottom}, bottomRight);
  Fill(dc, {r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
}

// `a` weighted by `percent` against `b`.
COLORREF Blend(COLORREF a, COLORREF b, int percent) {
  auto mix = [&](int x, int y) { return (x * percent + y * (100 - percent)) / 100; };
  return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)), mix(GetBValue(a), GetBValue(b)));
}

// The text split at its tab into the label and the shortcut.
void SplitText(const std::wstring& text, std::wstring* label, std::wstring* shortcut) {
  size_t tab = text.find(L'\t');
  *label = text.substr(0, tab);
  *shortcut = tab == std::wstring::npos ? std::wstring() : text.substr(tab + 1);
}

// The label as it shows: accelerator marks out, "&&" one '&'.
std::wstring Shown(const std::wstring& label) {
  std::wstring out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == L'&' && i + 1 < label.size()) ++i;
    out += label[i];
  }
  return out;
}

// The accelerator letter of a label ("删除 (&D)" gives 'D'), or 0.
wchar_t Accelerator(const std::wstring& label) {
  for (size_t i = 0; i + 1 < label.size(); ++i) {
    if (label[i] != L'&') continue;
    if (label[i + 1] == L'&') {
      ++i;
      continue;
    }
    return label[i + 1];
  }
  return 0;
}

SIZE TextSize(HDC dc, const std::wstring& text) {
  SIZE s = {0, 0};
  if (!text.empty()) GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &s);
  if (s.cy == 0) {
    TEXTMETRICW tm;
    GetTextMetricsW(dc, &tm);
    s.cy = tm.tmHeight;
  }
  return s;
}

LRESULT CALLBACK RouteProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  LRESULT result = 0;
  if (BCMenu::OwnerMessage(wnd, msg, wParam, lParam, &result)) return result;
  if (msg == WM_NCDESTROY) {
    Unsubclass(wnd, RouteProc, kRouteSubclassId);
    RoutedOwners().erase(wnd);
  }
  return DefSubclass(wnd, msg, wParam, lParam);
}

}  // namespace

BCMenu::BCMenu() = default;

BCMenu::~BCMenu() { DestroyMenu(); }

void BCMenu::DestroyMenu() {
  for (HMENU p : m_popups) LiveMenus().erase(p);
  for (auto& item : m_items) LiveItems().erase(item.get());
  m_popups.clear();
  m_items.clear();
  m_menu.Reset();
}

BCMenu* BCMenu::FromHandle(HMENU menu) {
  auto it = LiveMenus().find(menu);
  return it == LiveMenus().end() ? nullptr : it->second;
}

int BCMenu::LiveCount() {
  std::set<const BCMenu*> owners;
  for (const auto& m : LiveMenus()) owners.insert(m.second);
  return static_cast<int>(owners.size());
}

bool BCMenu::LoadMenu(int resourceId, HINSTANCE module) {
  ScopedMenu bar(::LoadMenuW(module ? module : GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId)));
  if (!bar) return false;
  // The popup is kept and the bar around it destroyed.
  ScopedMenu popup(GetSubMenu(bar.Get(), 0));
  if (!popup || !RemoveMenu(bar.Get(), 0, MF_BYPOSITION)) {
    popup.Release();  // still the bar's
    return false;
  }
  return Adopt(std::move(popup));
}

bool BCMenu::CreatePopupMenu() {
  ScopedMenu popup(::CreatePopupMenu());
  return popup && Adopt(std::move(popup));
}

bool BCMenu::Adopt(HMENU popup) {
  if (!popup || !IsMenu(popup) || FromHandle(popup)) return false;
  return Adopt(ScopedMenu(popup));
}

// A refused popup goes with `popup`.
bool BCMenu::Adopt(ScopedMenu popup) {
  if (!popup || !IsMenu(popup.Get()) || FromHandle(popup.Get())) return false;
  DestroyMenu();
  m_menu = std::move(popup);
  return TakeOver(m_menu.Get());
}

// Makes one item owner-drawn with an Item behind it that keeps its id, text
// and sub-menu; the states and the menu's own text stay as they are.
bool BCMenu::MakeOwnerDrawn(HMENU popup, int pos) {
  wchar_t text[512] = {};
  MENUITEMINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
  info.dwTypeData = text;
  info.cch = 511;
  if (!GetMenuItemInfoW(popup, static_cast<UINT>(pos), TRUE, &info)) return false;
  if (info.fType & MFT_OWNERDRAW) return true;  // someone else's already
  auto item = std::make_unique<Item>();
  item->owner = this;
  item->id = info.wID;
  item->separator = (info.fType & MFT_SEPARATOR) != 0;
  item->popup = info.hSubMenu;
  if (!item->separator) item->text = text;
  MENUITEMINFOW set = {};
  set.cbSize = sizeof set;
  set.fMask = MIIM_FTYPE | MIIM_DATA;
  set.fType = info.fType | MFT_OWNERDRAW;
  set.dwItemData = reinterpret_cast<ULONG_PTR>(item.get());
  if (!SetMenuItemInfoW(popup, static_cast<UINT>(pos), TRUE, &set)) return false;
  LiveItems().insert(item.get());
  m_items.push_back(std::move(item));
  if (info.hSubMenu && !FromHandle(info.hSubMenu)) return TakeOver(info.hSubMenu);
  return true;
}

// Every item of a popup and of its sub-menus.
bool BCMenu::TakeOver(HMENU popup) {
  m_popups.push_back(popup);
  LiveMenus()[popup] = this;
  int count = GetMenuItemCount(popup);
  for (int i = 0; i < count; ++i)
    if (!MakeOwnerDrawn(popup, i)) return false;
  return true;
}

bool BCMenu::AppendMenu(UINT flags, UINT_PTR id, const std::wstring& text) {
  if (!m_menu) return false;
  HMENU popup = (flags & MF_POPUP) ? reinterpret_cast<HMENU>(id) : nullptr;
  if (popup && (!IsMenu(popup) || FromHandle(popup))) return false;
  if (!::AppendMenuW(m_menu.Get(), flags & ~static_cast<UINT>(MF_OWNERDRAW), id,
                   (flags & MF_SEPARATOR) ? nullptr : text.c_str()))
    return false;
  return MakeOwnerDrawn(m_menu.Get(), GetMenuItemCount(m_menu.Get()) - 1);
}

bool BCMenu::AppendMenuGbk(UINT flags, UINT_PTR id, const std::string& gbk) { return AppendMenu(flags, id, W(gbk)); }

BCMenu::Item* BCMenu::ItemByCommand(UINT id) const {
  for (auto& item : m_items)
    if (!item->separator && !item->popup && item->id == id) return item.get();
  return nullptr;
}

std::wstring BCMenu::ItemText(UINT idOrPos, bool byPosition) const {
  if (!byPosition) {
    Item* item = ItemByCommand(idOrPos);
    return item ? item->text : std::wstring();
  }
  MENUITEMINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA;
  if (!m_menu || !GetMenuItemInfoW(m_menu.Get(), idOrPos, TRUE, &info) || !LiveItems().count(reinterpret_cast<void*>(info.dwItemData)))
    return std::wstring();
  return reinterpret_cast<const Item*>(info.dwItemData)->text;
}

bool BCMenu::SetItemText(UINT id, const std::wstring& text) {
  Item* item = ItemByCommand(id);
  if (!item) return false;
  item->text = text;
  // The menu's own copy too, so that the system sizes the item again.
  MENUITEMINFOW set = {};
  set.cbSize = sizeof set;
  set.fMask = MIIM_STRING;
  set.dwTypeData = const_cast<wchar_t*>(text.c_str());
  for (HMENU p : m_popups) SetMenuItemInfoW(p, id, FALSE, &set);
  return true;
}

bool BCMenu::LoadToolbar(int bitmapId, const MenuImage* images, int count, HINSTANCE module) {
  HINSTANCE m = module ? module : GetModuleHandleW(nullptr);
  if (!FindResourceW(m, MAKEINTRESOURCEW(bitmapId), MAKEINTRESOURCEW(2) /* RT_BITMAP */)) return false;
  m_toolbarId = bitmapId;
  m_toolbarModule = m;
  m_images.clear();
  for (int i = 0; i < count; ++i) m_images[images[i].command] = images[i].image;
  return true;
}

int BCMenu::ImageOf(UINT id) const {
  auto it = m_images.find(id);
  return it == m_images.end() ? -1 : it->second;
}

HIMAGELIST BCMenu::Images() const {
  if (!m_toolbarId) return nullptr;
  auto key = std::make_pair(m_toolbarModule, m_toolbarId);
  auto it = ImageLists().find(key);
  if (it != ImageLists().end()) return it->second;
  ScopedImageList list;
  GdiBitmap strip(static_cast<HBITMAP>(
      LoadImageW(m_toolbarModule, MAKEINTRESOURCEW(m_toolbarId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  BITMAP bm = {};
  if (strip && GetObjectW(strip.Get(), sizeof bm, &bm) && bm.bmWidth >= kImageSize) {
    int n = bm.bmWidth / kImageSize;
    list.Reset(ImageList_Create(kImageSize, kImageSize, ILC_COLOR24 | ILC_MASK, n, 0));
    if (list && ImageList_AddMasked(list.Get(), strip.Get(), kTransparent) < 0) list.Reset();
  }
  // Kept for the process; a failure is not tried again.
  return ImageLists()[key] = list.Release();
}

void BCMenu::DrawImage(HDC dc, int image, int x, int y, bool grey) const {
  HIMAGELIST list = Images();
  if (!list || image < 0 || image >= ImageList_GetImageCount(list)) return;
  if (!grey) {
    ImageList_Draw(list, image, dc, x, y, ILD_TRANSPARENT);
    return;
  }
  auto key = std::make_pair(list, image);
  auto it = GreyImages().find(key);
  HICON icon = nullptr;
  if (it != GreyImages().end()) {
    icon = it->second;
  } else {
    ScopedIcon colour(ImageList_GetIcon(list, image, ILD_TRANSPARENT));
    if (colour) icon = CreateGrayscaleIcon(colour.Get());
    GreyImages()[key] = icon;  // kept for the process
  }
  if (icon) DrawIconEx(dc, x, y, icon, kImageSize, kImageSize, 0, nullptr, DI_NORMAL);
}

bool BCMenu::ThemeIsClassic() {
  std::string theme;
  if (!os::RegReadString(os::Hive::CurrentUser, kThemeKey, "", theme)) return false;
  size_t n = sizeof kClassicTheme - 1;
  if (theme.size() < n) return false;
  std::string tail = theme.substr(theme.size() - n);
  for (char& c : tail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return tail == kClassicTheme;
}

bool BCMenu::DrawsClassic() const {
  if (m_look == kLookTheme) return ThemeIsClassic();
  return m_look == kLookClassic;
}

HFONT BCMenu::MenuFont() {
  static HFONT font = nullptr;
  if (font) return font;
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  bool ok = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
  if (!ok) {
    // Systems before Vista know the structure without its last member.
    metrics.cbSize = sizeof metrics - sizeof metrics.iPaddedBorderWidth;
    ok = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
  }
  if (ok) font = CreateFontIndirectW(&metrics.lfMenuFont);
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  return font;
}

bool BCMenu::MeasureItem(MEASUREITEMSTRUCT& mis) const {
  const Item* item = reinterpret_cast<const Item*>(mis.itemData);
  if (mis.CtlType != ODT_MENU || !LiveItems().count(item) || item->owner != this) return false;
  if (item->separator) {
    mis.itemWidth = 0;
    mis.itemHeight = kSeparatorHeight;
    return true;
  }
  std::wstring label, shortcut;
  SplitText(item->text, &label, &shortcut);
  SIZE text, keys;
  {
    WindowDc dc(nullptr);
    SelectIn font(dc.Get(), MenuFont());
    text = TextSize(dc.Get(), Shown(label));
    keys = TextSize(dc.Get(), shortcut);
  }
  int width = kImageColumn + kTextGap + text.cx + kRightMargin;
  if (!shortcut.empty()) width += kTabGap + keys.cx;
  // The system adds the width of a check mark to every owner-drawn item.
  width -= GetSystemMetrics(SM_CXMENUCHECK) - 1;
  mis.itemWidth = static_cast<UINT>(std::max(width, kImageColumn + kTextGap));
  mis.itemHeight = static_cast<UINT>(std::max<int>(text.cy + 6, kImageColumn));
  return true;
}

namespace {

// How one item is drawn this time.
struct ItemLook {
  bool classic, grey, selected, checked;
  int image;  // in the toolbar strip, or -1
};

// Background and highlight; `textArea` is right of the image column.
void DrawItemBack(HDC dc, const RECT& r, const RECT& column, const RECT& textArea, const ItemLook& look) {
  COLORREF back = GetSysColor(COLOR_MENU);
  COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  Fill(dc, r, back);
  if (look.classic) {
    if (look.selected) Fill(dc, look.image >= 0 ? textArea : r, highlight);
    return;
  }
  Fill(dc, column, Blend(GetSysColor(COLOR_3DSHADOW), back, 25));
  if (look.selected) {
    Fill(dc, r, Blend(highlight, GetSysColor(COLOR_WINDOW), 30));
    Frame(dc, r, highlight, highlight);
  }
}

void DrawSeparatorLine(HDC dc, const RECT& r, const RECT& textArea, bool classic) {
  int y = (r.top + r.bottom) / 2;
  RECT line = {textArea.left + BCMenu::kTextGap - 2, y, r.right - 2, y + 1};
  Fill(dc, line, GetSysColor(COLOR_3DSHADOW));
  if (classic) {
    RECT light = {line.left, y + 1, line.right, y + 2};
    Fill(dc, light, GetSysColor(COLOR_3DHILIGHT));
  }
}

// The box behind a checked item's image or tick.
void DrawCheckBox(HDC dc, const RECT& box, const ItemLook& look) {
  if (!look.checked || look.selected) return;
  COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  if (look.classic) {
    Frame(dc, box, GetSysColor(COLOR_3DSHADOW), GetSysColor(COLOR_3DHILIGHT));
    return;
  }
  Fill(dc, box, Blend(highlight, GetSysColor(COLOR_WINDOW), 15));
  Frame(dc, box, highlight, highlight);
}

// A tick drawn as three short strokes, two pixels thick.
void DrawTick(HDC dc, int x, int y, const ItemLook& look) {
  COLORREF ink = look.grey ? GetSysColor(COLOR_GRAYTEXT)
                           : (look.classic && look.selected ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                                            : GetSysColor(COLOR_MENUTEXT));
  int cx = x + 3, cy = y + 7;
  for (int i = 0; i < 3; ++i) Fill(dc, {cx + i, cy + i, cx + i + 1, cy + i + 3}, ink);
  for (int i = 0; i < 6; ++i) Fill(dc, {cx + 3 + i, cy + 1 - i, cx + 4 + i, cy + 4 - i}, ink);
}

// The text, and the shortcut after its tab, right-aligned.
void DrawLabel(HDC dc, const RECT& textArea, const RECT& r, const std::wstring& itemText, UINT state,
               const ItemLook& look) {
  std::wstring label, shortcut;
  SplitText(itemText, &label, &shortcut);
  RECT text = {textArea.left + BCMenu::kTextGap, r.top, r.right - BCMenu::kRightMargin, r.bottom};
  UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOCLIP;
  if (state & ODS_NOACCEL) format |= DT_HIDEPREFIX;
  SelectIn font(dc, BCMenu::MenuFont());
  int oldMode = SetBkMode(dc, TRANSPARENT);
  auto draw = [&](COLORREF ink, int dx, int dy) {
    SetTextColor(dc, ink);
    RECT t = text;
    OffsetRect(&t, dx, dy);
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &t, format | DT_LEFT);
    if (!shortcut.empty()) DrawTextW(dc, shortcut.c_str(), static_cast<int>(shortcut.size()), &t, format | DT_RIGHT);
  };
  if (look.grey) {
    // Classic: the embossed grey of the system's own menus; flat: plain grey.
    if (look.classic) draw(GetSysColor(COLOR_3DHILIGHT), 1, 1);
    draw(GetSysColor(look.classic ? COLOR_3DSHADOW : COLOR_GRAYTEXT), 0, 0);
  } else {
    draw(look.classic && look.selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : GetSysColor(COLOR_MENUTEXT), 0, 0);
  }
  SetBkMode(dc, oldMode);
}

}  // namespace

bool BCMenu::DrawItem(const DRAWITEMSTRUCT& dis) const {
  const Item* item = reinterpret_cast<const Item*>(dis.itemData);
  if (dis.CtlType != ODT_MENU || !LiveItems().count(item) || item->owner != this) return false;
  HDC dc = dis.hDC;
  const RECT& r = dis.rcItem;
  ItemLook look;
  look.classic = DrawsClassic();
  look.grey = (dis.itemState & (ODS_GRAYED | ODS_DISABLED)) != 0;
  look.selected = (dis.itemState & ODS_SELECTED) && !look.grey && !item->separator;
  look.checked = (dis.itemState & ODS_CHECKED) != 0;
  look.image = item->popup || item->separator ? -1 : ImageOf(item->id);
  RECT column = {r.left, r.top, r.left + kImageColumn, r.bottom};
  RECT textArea = {column.right, r.top, r.right, r.bottom};
  DrawItemBack(dc, r, column, textArea, look);
  if (item->separator) {
    DrawSeparatorLine(dc, r, textArea, look.classic);
    return true;
  }
  // The image, or a check mark, in the image column.
  int x = r.left + kImagePad, y = r.top + (r.bottom - r.top - kImageSize) / 2;
  RECT box = {x - 2, y - 2, x + kImageSize + 2, y + kImageSize + 2};
  DrawCheckBox(dc, box, look);
  if (look.image >= 0) {
    if (look.classic && look.selected) Frame(dc, box, GetSysColor(COLOR_3DHILIGHT), GetSysColor(COLOR_3DSHADOW));
    DrawImage(dc, look.image, x, y, look.grey);
  } else if (look.checked) {
    DrawTick(dc, x, y, look);
  }
  DrawLabel(dc, textArea, r, item->text, dis.itemState, look);
  return true;
}

LRESULT BCMenu::MenuChar(wchar_t ch, HMENU popup) const {
  if (!FromHandle(popup) || FromHandle(popup) != this) return 0;
  wchar_t want = static_cast<wchar_t>(std::towupper(ch));
  std::vector<int> hits;
  int current = -1;
  int count = GetMenuItemCount(popup);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_DATA | MIIM_STATE;
    if (!GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &info)) continue;
    if (info.fState & MFS_HILITE) current = i;
    const Item* item = reinterpret_cast<const Item*>(info.dwItemData);
    if (!LiveItems().count(item) || item->separator || (info.fState & MFS_DISABLED)) continue;
    std::wstring label, shortcut;
    SplitText(item->text, &label, &shortcut);
    wchar_t key = Accelerator(label);
    if (key && static_cast<wchar_t>(std::towupper(key)) == want) hits.push_back(i);
  }
  if (hits.empty()) return MAKELRESULT(0, MNC_IGNORE);
  if (hits.size() == 1) return MAKELRESULT(hits[0], MNC_EXECUTE);
  // Several items share the letter: each press selects the next one.
  for (int i : hits)
    if (i > current) return MAKELRESULT(i, MNC_SELECT);
  return MAKELRESULT(hits[0], MNC_SELECT);
}

bool BCMenu::OwnerMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (msg) {
    case WM_MEASUREITEM: {
      auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      const Item* item = reinterpret_cast<const Item*>(mis ? mis->itemData : 0);
      if (!mis || mis->CtlType != ODT_MENU || !LiveItems().count(item)) return false;
      *result = item->owner->MeasureItem(*mis);
      return true;
    }
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      const Item* item = reinterpret_cast<const Item*>(dis ? dis->itemData : 0);
      if (!dis || dis->CtlType != ODT_MENU || !LiveItems().count(item)) return false;
      *result = item->owner->DrawItem(*dis);
      return true;
    }
    case WM_MENUCHAR: {
      BCMenu* menu = FromHandle(reinterpret_cast<HMENU>(lParam));
      if (!menu) return false;
      *result = menu->MenuChar(static_cast<wchar_t>(LOWORD(wParam)), reinterpret_cast<HMENU>(lParam));
      return true;
    }
  }
  return false;
}

void BCMenu::Route(HWND owner) {
  if (!owner) return;
  if (RoutedOwners()[owner]++ == 0) Subclass(owner, RouteProc, kRouteSubclassId, 0);
}

void BCMenu::Unroute(HWND owner) {
  auto it = RoutedOwners().find(owner);
  if (it == RoutedOwners().end()) return;
  if (--it->second > 0) return;
  RoutedOwners().erase(it);
  Unsubclass(owner, RouteProc, kRouteSubclassId);
}

UINT BCMenu::Track(HWND owner, UINT flags, int x, int y) {
  if (!m_menu) return 0;
  Route(owner);
  UINT result = static_cast<UINT>(TrackPopupMenu(m_menu.Get(), flags, x, y, 0, owner, nullptr));
  Unroute(owner);
  return result;
}

}  // namespace qb

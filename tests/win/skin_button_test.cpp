// CSkinButton in real windows: the setters' rules, the colours each state is
// drawn in, hover tracking, image placement and the check-box mode.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <thread>

#include "../../res/resource.h"
#include "skin/skin_button_win32.h"
#include "win_test_util.h"

using qb::CSkinButton;
using wintest::Canvas;

namespace {

const COLORREF kHoverBack = RGB(250, 200, 40), kHoverText = RGB(0, 0, 255);
const COLORREF kRestBack = RGB(40, 160, 60), kRestText = RGB(255, 0, 0);
const COLORREF kFocusBack = RGB(100, 0, 120);

class SkinButtonTest : public testing::Test {
 protected:
  void SetUp() override {
    wnd = host.AddButton(L"WWWW", 1001, 20, 20, 120, 40);
    ASSERT_TRUE(button.Attach(wnd));
    button.SetColor(CSkinButton::kBackIn, kHoverBack, false);
    button.SetColor(CSkinButton::kForeIn, kHoverText, false);
    button.SetColor(CSkinButton::kBackOut, kRestBack, false);
    button.SetColor(CSkinButton::kForeOut, kRestText, false);
    button.SetColor(CSkinButton::kBackFocus, kFocusBack, false);
    // Strokes several pixels wide, so smoothing leaves pure caption pixels.
    font = CreateFontW(-28, 0, 0, 0, FW_HEAVY, 0, 0, 0, DEFAULT_CHARSET, 0, 0, NONANTIALIASED_QUALITY, 0, L"Tahoma");
    button.SetFont(font, false);
  }
  void TearDown() override { DeleteObject(font); }
  HFONT font = nullptr;
  wintest::HostWindow host;
  HWND wnd = nullptr;
  CSkinButton button;
};

TEST_F(SkinButtonTest, AttachingMakesItOwnerDrawnAndKeepsTheType) {
  EXPECT_EQ(static_cast<LONG_PTR>(BS_OWNERDRAW), GetWindowLongPtrW(wnd, GWL_STYLE) & BS_TYPEMASK);
  EXPECT_EQ(&button, CSkinButton::FromHandle(wnd));
  EXPECT_FALSE(button.IsCheckBox());
  EXPECT_FALSE(button.IsDefault());

  HWND def = host.AddButton(L"OK", 1002, 150, 20, 60, 30, BS_DEFPUSHBUTTON);
  CSkinButton other;
  other.Attach(def);
  EXPECT_TRUE(other.IsDefault());
  EXPECT_EQ(DLGC_DEFPUSHBUTTON, SendMessageW(def, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON);
  // A later push style makes it an ordinary button, still owner-drawn.
  SendMessageW(def, BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
  EXPECT_FALSE(other.IsDefault());
  EXPECT_EQ(static_cast<LONG_PTR>(BS_OWNERDRAW), GetWindowLongPtrW(def, GWL_STYLE) & BS_TYPEMASK);
  EXPECT_EQ(&other, CSkinButton::FromHandle(def));
  other.Detach();
  EXPECT_EQ(nullptr, CSkinButton::FromHandle(def)) << "no skin once let go";
  EXPECT_EQ(nullptr, CSkinButton::FromHandle(host.AddButton(L"plain", 1003, 150, 60, 60, 30, BS_PUSHBUTTON)));
}

TEST_F(SkinButtonTest, SettersRefuseBadArgumentsAndChangeNothing) {
  EXPECT_EQ(3, button.SetColor(6, RGB(1, 2, 3)));
  EXPECT_EQ(3, button.SetColor(-1, RGB(1, 2, 3)));
  EXPECT_EQ(kRestBack, button.GetColor(2));
  EXPECT_EQ(4, button.SetAlign(3));
  EXPECT_EQ(0, button.GetAlign());
  EXPECT_EQ(0, button.SetAlign(2));
  EXPECT_EQ(3, button.OffsetColor(6, 10));
  EXPECT_EQ(5, button.OffsetColor(0, 300));
  EXPECT_EQ(5, button.OffsetColor(0, -256));
  EXPECT_EQ(kHoverBack, button.GetColor(0));
}

TEST_F(SkinButtonTest, OffsetColorKeepsTheHueAndStaysInRange) {
  button.SetColor(0, RGB(250, 100, 100));
  EXPECT_EQ(0, button.OffsetColor(0, 30));
  EXPECT_EQ(RGB(255, 105, 105), button.GetColor(0));
  button.SetColor(1, RGB(20, 100, 200));
  EXPECT_EQ(0, button.OffsetColor(1, -50));
  EXPECT_EQ(RGB(0, 80, 180), button.GetColor(1));
  button.SetColor(2, RGB(10, 20, 30));
  EXPECT_EQ(0, button.OffsetColor(2, 255));
  EXPECT_EQ(RGB(235, 245, 255), button.GetColor(2));
}

TEST_F(SkinButtonTest, EachStateDrawsItsBackgroundAndCaptionColours) {
  button.SetFlat(true);
  RECT inside = {4, 4, 116, 36};
  Canvas rest = wintest::Draw(button);
  EXPECT_EQ(kRestBack, rest.At(3, 3));
  EXPECT_GT(rest.CountNear(kRestText, inside), 10) << "caption in the rest colour";
  EXPECT_EQ(0, rest.CountNear(kHoverText, inside));

  Canvas pressed = wintest::Draw(button, ODS_SELECTED);
  EXPECT_EQ(kHoverBack, pressed.At(3, 3));
  EXPECT_GT(pressed.CountNear(kHoverText, inside), 10);


  Canvas focused = wintest::Draw(button, ODS_FOCUS);
  EXPECT_EQ(kFocusBack, focused.At(5, 5));
  EXPECT_GT(focused.CountNear(kRestText, inside), 10) << "a focused button keeps the rest caption";
}

TEST_F(SkinButtonTest, FlatButtonTracksTheMouseButNotAPressFromElsewhere) {
  button.SetFlat(true);
  wintest::MouseOver(wnd);
  EXPECT_TRUE(button.IsHovered());
  EXPECT_EQ(kHoverBack, wintest::Draw(button).At(3, 3));
  wintest::MouseAway(wnd);
  EXPECT_FALSE(button.IsHovered());
  EXPECT_EQ(kRestBack, wintest::Draw(button).At(3, 3));

  // The left button went down outside: moving in changes nothing.
  RECT r;
  GetWindowRect(wnd, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(wnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, 10));
  EXPECT_FALSE(button.IsHovered());

  wintest::MouseOver(wnd);
  ASSERT_TRUE(button.IsHovered());
  SendMessageW(wnd, WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(button.IsHovered());
}

TEST_F(SkinButtonTest, ANonFlatButtonIgnoresHoverAndDrawsARaisedFrame) {
  button.SetFlat(false);
  wintest::MouseOver(wnd);
  EXPECT_FALSE(button.IsHovered());
  Canvas c = wintest::Draw(button);
  EXPECT_EQ(GetSysColor(COLOR_BTNHILIGHT), c.At(0, 0));
  EXPECT_EQ(GetSysColor(COLOR_3DDKSHADOW), c.At(c.w - 1, c.h - 1));
  // A focused non-flat button gets the black frame outside the edge.
  Canvas f = wintest::Draw(button, ODS_FOCUS);
  EXPECT_EQ(RGB(0, 0, 0), f.At(0, 0));
}

TEST_F(SkinButtonTest, ClickMarkDrawsTheThinFrameOnlyWhenSet) {
  button.SetFlat(true);
  button.SetClickMark(true);
  wintest::MouseOver(wnd);
  EXPECT_EQ(GetSysColor(COLOR_BTNHILIGHT), wintest::Draw(button).At(0, 0));
  button.SetClickMark(false);
  EXPECT_EQ(kHoverBack, wintest::Draw(button).At(0, 0));
  wintest::MouseAway(wnd);
}

// Start-up loads the buttons' icons ahead on another thread: what it loads
// outlives that thread and is the very icon the buttons take later.
TEST(SkinButtonIcons, SharedIconsLoadedOnAnotherThreadServeTheButtonsLater) {
  HICON ahead = nullptr;
  std::thread loader([&ahead] { ahead = CSkinButton::SharedIcon(IDI_HELP_BUTTON); });
  loader.join();
  ASSERT_TRUE(ahead);
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(ahead, &info)) << "still there once its thread has ended";
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  EXPECT_EQ(ahead, CSkinButton::SharedIcon(IDI_HELP_BUTTON));
  EXPECT_NE(ahead, CSkinButton::SharedIcon(IDI_PROGRAM));
}

TEST_F(SkinButtonTest, ImagesSitByTheAlignmentAndMoveWhenPressed) {
  ASSERT_EQ(0, button.SetIconById(IDI_PROGRAM));
  button.SetFont(nullptr, false);
  SetWindowTextW(wnd, L"ab");
  button.SetAlign(CSkinButton::kAlignLeft);
  wintest::Draw(button);
  RECT image = button.LastLayout().image, caption = button.LastLayout().caption;
  EXPECT_EQ(3, image.left);
  EXPECT_EQ((40 - (image.bottom - image.top)) / 2, image.top);
  EXPECT_GE(caption.left, image.right);

  wintest::Draw(button, ODS_SELECTED);
  EXPECT_EQ(4, button.LastLayout().image.left) << "pressed: one pixel right and down";

  button.SetAlign(CSkinButton::kAlignRight);
  wintest::Draw(button);
  image = button.LastLayout().image;
  EXPECT_EQ(120 - 3, image.right);
  EXPECT_LE(button.LastLayout().caption.right, image.left);

  button.SetAlign(CSkinButton::kAlignTop);
  wintest::Draw(button);
  image = button.LastLayout().image;
  EXPECT_EQ(3, image.top);
  EXPECT_EQ((120 - (image.right - image.left)) / 2, image.left);

  // Without a caption a left-aligned image is centred.
  SetWindowTextW(wnd, L"");
  button.SetAlign(CSkinButton::kAlignLeft);
  wintest::Draw(button);
  image = button.LastLayout().image;
  EXPECT_EQ((120 - (image.right - image.left)) / 2, image.left);
}

TEST_F(SkinButtonTest, BitmapsAreDrawnThroughTheirMask) {
  // The "X" bitmap: pale background, dark red cross.
  ASSERT_EQ(0, button.SetBitmapsById(IDB_CLOSE_BUTTON, RGB(0xc8, 0xd8, 0xf0)));
  SetWindowTextW(wnd, L"");
  Canvas c = wintest::Draw(button);
  RECT image = button.LastLayout().image;
  ASSERT_EQ(12, image.right - image.left);
  // Transparent corner shows the button's background; the cross shows its ink.
  EXPECT_EQ(kRestBack, c.At(image.left, image.top));
  EXPECT_NE(kRestBack, c.At(image.left + 5, image.top + 5));
  EXPECT_EQ(1, button.SetBitmapsById(9999, 0));
}

TEST_F(SkinButtonTest, GreyOutIconIsGrey) {
  HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PLAZA_FIRST), IMAGE_ICON, 32, 32, 0));
  ASSERT_TRUE(icon);
  HICON grey = qb::CreateGrayscaleIcon(icon);
  ASSERT_TRUE(grey);
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(grey, &info));
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(mem, info.hbmColor);
  int coloured = 0, greys = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      COLORREF p = GetPixel(mem, x, y);
      if (p == 0) continue;
      (GetRValue(p) == GetGValue(p) && GetGValue(p) == GetBValue(p) ? greys : coloured)++;
    }
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(grey);
  DestroyIcon(icon);
  EXPECT_EQ(0, coloured);
  EXPECT_GT(greys, 100);
}

TEST_F(SkinButtonTest, CheckBoxModeTogglesOnClickAndDrawsPressedWhileChecked) {
  HWND box = host.AddButton(L"check", 1003, 150, 20, 100, 30, BS_AUTOCHECKBOX);
  CSkinButton check;
  check.Attach(box);
  check.SetFlat(true);
  check.SetColor(0, kHoverBack, false);
  check.SetColor(2, kRestBack, false);
  ASSERT_TRUE(check.IsCheckBox());
  EXPECT_EQ(BST_UNCHECKED, SendMessageW(box, BM_GETCHECK, 0, 0));
  SendMessageW(box, BM_CLICK, 0, 0);
  EXPECT_EQ(BST_CHECKED, SendMessageW(box, BM_GETCHECK, 0, 0));
  EXPECT_EQ(box, GetFocus());
  wintest::MouseAway(box);
  EXPECT_EQ(kHoverBack, wintest::Draw(check).At(3, 3)) << "checked draws as pressed";
  SendMessageW(box, BM_CLICK, 0, 0);
  EXPECT_EQ(BST_UNCHECKED, SendMessageW(box, BM_GETCHECK, 0, 0));
  EXPECT_EQ(kRestBack, wintest::Draw(check).At(3, 3));
  SendMessageW(box, BM_SETCHECK, BST_INDETERMINATE, 0);
  EXPECT_TRUE(check.IsChecked());
  SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
  EXPECT_FALSE(check.IsChecked());
  // A push button ignores the check messages.
  SendMessageW(wnd, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(0, SendMessageW(wnd, BM_GETCHECK, 0, 0));
}

TEST_F(SkinButtonTest, DisabledButtonEmbossesItsCaptionAndGivesUpTheFocus) {
  host.AddButton(L"next", 1004, 150, 20, 60, 30);
  SetFocus(wnd);
  ASSERT_EQ(wnd, GetFocus());
  EnableWindow(wnd, FALSE);
  EXPECT_NE(wnd, GetFocus());
  Canvas c = wintest::Draw(button);
  RECT inside = {4, 4, 116, 36};
  EXPECT_EQ(0, c.CountNear(kRestText, inside));
  EXPECT_GT(c.CountNear(GetSysColor(COLOR_3DSHADOW), inside, 30), 10);
}

TEST_F(SkinButtonTest, SkinRecordsGoIntoTheRightColourSlots) {
  qb::SkinColours skin;
  skin.hoverBack = RGB(1, 1, 1);
  skin.hoverText = RGB(2, 2, 2);
  skin.normalBack = RGB(3, 3, 3);
  skin.normalText = RGB(4, 4, 4);
  skin.pressedBack = RGB(5, 5, 5);
  skin.pressedText = RGB(6, 6, 6);
  skin.flat = 1;
  skin.clickMark = 0;
  qb::ApplySkinToButton(button, skin);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(RGB(i + 1, i + 1, i + 1), button.GetColor(i)) << i;
  EXPECT_TRUE(button.IsFlat());
  EXPECT_FALSE(button.ClickMark());

  CSkinButton text;
  text.Attach(host.AddButton(L"t", 1005, 150, 60, 60, 30));
  text.SetColor(0, RGB(9, 9, 9), false);
  text.SetColor(2, RGB(8, 8, 8), false);
  text.SetColor(4, RGB(7, 7, 7), false);
  qb::ApplySkinTextColours(text, skin);
  EXPECT_EQ(RGB(9, 9, 9), text.GetColor(0));
  EXPECT_EQ(RGB(8, 8, 8), text.GetColor(2));
  EXPECT_EQ(RGB(7, 7, 7), text.GetColor(4));
  EXPECT_EQ(RGB(2, 2, 2), text.GetColor(1));
  EXPECT_EQ(RGB(4, 4, 4), text.GetColor(3));
  EXPECT_EQ(RGB(6, 6, 6), text.GetColor(5));
}

TEST_F(SkinButtonTest, AttachedMenuAndTooltipAndCursor) {
  EXPECT_EQ(1, button.SetMenu(9999, host.hwnd()));
  EXPECT_EQ(0, button.SetMenu(IDR_TRAY_MENU, host.hwnd()));
  EXPECT_EQ(host.hwnd(), button.ReceiverWindow());
  EXPECT_EQ(0, button.SetTooltipText(L"tip"));
  EXPECT_EQ(0, button.SetTooltipText(nullptr));
  EXPECT_EQ(L"tip", button.TooltipText());
  HWND tips = button.Tooltip();
  ASSERT_TRUE(tips);
  EXPECT_EQ(1, SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
  // The buttons of one window share the control, one tool each.
  CSkinButton other;
  other.Attach(host.AddButton(L"o", 1006, 150, 100, 60, 30));
  other.SetTooltipText(L"添加到这吧?");
  EXPECT_EQ(tips, other.Tooltip());
  EXPECT_EQ(2, SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
  wchar_t text[80] = {};
  TOOLINFOW ti = {};
  ti.cbSize = sizeof ti;
  ti.hwnd = host.hwnd();
  ti.uId = reinterpret_cast<UINT_PTR>(other.GetSafeHwnd());
  ti.lpszText = text;
  SendMessageW(tips, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&ti));
  EXPECT_EQ(std::wstring(L"添加到这吧?"), text);
  other.SetTooltipText(L"x", false);
  EXPECT_EQ(1, SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0)) << "deactivated: its tool is out";
  other.Detach();
  button.SetTooltipText(L"again");
  EXPECT_EQ(1, SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
  EXPECT_EQ(1, button.SetCursorById(9999));
  EXPECT_EQ(0, button.SetCursorById(0));
}

// The host paints a checker of two colours in 5-pixel squares, so a copy of
// its background shows whether it came from the right place.
COLORREF g_checkerA = 0, g_checkerB = 0;
COLORREF CheckerAt(int x, int y) { return ((x / 5) + (y / 5)) % 2 ? g_checkerB : g_checkerA; }

LRESULT CALLBACK CheckerBackground(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (msg == WM_ERASEBKGND) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    RECT rc;
    GetClientRect(wnd, &rc);
    for (int y = 0; y < rc.bottom; y += 5)
      for (int x = 0; x < rc.right; x += 5) {
        RECT sq = {x, y, x + 5, y + 5};
        HBRUSH b = CreateSolidBrush(CheckerAt(x, y));
        FillRect(dc, &sq, b);
        DeleteObject(b);
      }
    return 1;
  }
  return DefSubclassProc(wnd, msg, wParam, lParam);
}

// Repaints the host (over its children too: it does not clip them) in new colours.
void PaintChecker(HWND host, COLORREF a, COLORREF b) {
  g_checkerA = a;
  g_checkerB = b;
  RedrawWindow(host, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_NOCHILDREN);
}

// Pixels left and right of the caption (columns below 40 and from 80 on) of
// a button at (20, 20) that do not show the host's checker.
int OffChecker(const Canvas& c) {
  int wrong = 0;
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x)
      if ((x < 40 || x >= 80) && c.At(x, y) != CheckerAt(20 + x, 20 + y)) ++wrong;
  return wrong;
}

// The same pixels as the button shows them on the screen.
Canvas OnScreen(HWND button) {
  RECT rc;
  GetClientRect(button, &rc);
  Canvas c;
  c.w = rc.right;
  c.h = rc.bottom;
  HDC dc = GetDC(button);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) c.px.push_back(GetPixel(dc, x, y));
  ReleaseDC(button, dc);
  return c;
}

TEST_F(SkinButtonTest, ATransparentButtonShowsItsParentsBackgroundTakenAtItsFirstDrawing) {
  const COLORREF red = RGB(200, 40, 40), blue = RGB(40, 40, 200);
  const COLORREF green = RGB(30, 180, 30), yellow = RGB(230, 220, 20);
  ASSERT_TRUE(SetWindowSubclass(host.hwnd(), CheckerBackground, 1, 0));
  SetWindowTextW(wnd, L"H");
  button.SetFlat(true);

  // An opaque button paints its own rest colour over the checker.
  PaintChecker(host.hwnd(), red, blue);
  Canvas opaque = wintest::Draw(button);
  EXPECT_EQ(kRestBack, opaque.At(3, 3));
  EXPECT_EQ(80 * 40, opaque.Count(kRestBack, {0, 0, 40, 40}) + opaque.Count(kRestBack, {80, 0, 120, 40}));

  // Transparent: nothing is taken yet; the host changes before the first drawing.
  EXPECT_EQ(0, button.DrawTransparent(false));
  PaintChecker(host.hwnd(), green, yellow);
  RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(0, OffChecker(OnScreen(wnd))) << "shown over the host, the button shows the host's checker";
  Canvas first = wintest::Draw(button);
  EXPECT_EQ(0, OffChecker(first));
  EXPECT_EQ(0, first.Count(kRestBack, {0, 0, 120, 40}));
  EXPECT_GT(first.CountNear(kRestText, {40, 0, 80, 40}, 60), 20) << "the caption is drawn on top";

  // The copy is kept: a host that repaints in other colours does not reach
  // the button until the copy is asked for again.
  PaintChecker(host.hwnd(), red, blue);
  Canvas kept = wintest::Draw(button);
  EXPECT_EQ(green, kept.At(0, 0));
  EXPECT_EQ(yellow, kept.At(5, 0));
  EXPECT_GT(OffChecker(kept), 0);
  EXPECT_EQ(0, button.DrawTransparent(true));
  Canvas retaken = wintest::Draw(button);
  EXPECT_EQ(0, OffChecker(retaken)) << "DrawTransparent takes the host's background anew";

  // A system colour change drops the copy as well.
  PaintChecker(host.hwnd(), green, yellow);
  SendMessageW(wnd, WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_EQ(0, OffChecker(wintest::Draw(button)));
}

}  // namespace

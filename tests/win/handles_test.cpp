// The Win32 layer: owners release exactly once and in a safe order, moves
// hand the duty over, a selection goes back, the dialog base keeps its
// ownership rule, and text crosses the W calls in code page 936.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "../../res/resource.h"
#include "win/common_controls_win32.h"
#include "win/dialog_win32.h"
#include "win/gdi_win32.h"
#include "win/handles_win32.h"
#include "win/modal_pump_win32.h"
#include "win/text_win32.h"
#include "win_test_util.h"

namespace {

HBITMAP NewBitmap(int w = 4, int h = 4) { return CreateBitmap(w, h, 1, 1, nullptr); }
bool IsGdiObject(HGDIOBJ h) { return GetObjectType(h) != 0; }
bool IsLiveIcon(HICON icon) {
  qb::IconBitmaps bits;
  return bits.Read(icon);
}
HICON NewIcon() {
  BYTE andMask[32 * 4] = {}, xorMask[32 * 4] = {};
  return CreateIcon(GetModuleHandleW(nullptr), 32, 32, 1, 1, andMask, xorMask);
}

TEST(Owners, AGdiObjectIsDeletedWithItsOwnerAndNotBeforeOrTwice) {
  HBITMAP raw = NewBitmap();
  {
    qb::GdiBitmap bitmap(raw);
    EXPECT_TRUE(IsGdiObject(raw));
    EXPECT_EQ(raw, bitmap.Get());
    EXPECT_TRUE(bitmap);
  }
  EXPECT_FALSE(IsGdiObject(raw)) << "deleted when the owner went";

  HBITMAP first = NewBitmap(), second = NewBitmap();
  qb::GdiBitmap owner(first);
  owner.Reset(second);
  EXPECT_FALSE(IsGdiObject(first)) << "Reset lets the old one go";
  EXPECT_TRUE(IsGdiObject(second));
  owner.Reset(second);
  EXPECT_TRUE(IsGdiObject(second)) << "Reset to the handle already held keeps it";
  HBITMAP given = owner.Release();
  EXPECT_FALSE(owner);
  EXPECT_TRUE(IsGdiObject(given)) << "Release hands it on alive";
  DeleteObject(given);
}

TEST(Owners, AMoveHandsTheDutyOverOnce) {
  HBITMAP a = NewBitmap(), b = NewBitmap();
  qb::GdiBitmap first(a);
  qb::GdiBitmap second(std::move(first));
  EXPECT_FALSE(first.Valid());
  EXPECT_EQ(a, second.Get());
  qb::GdiBitmap third(b);
  third = std::move(second);
  EXPECT_FALSE(IsGdiObject(b)) << "the handle moved over is let go";
  EXPECT_TRUE(IsGdiObject(a));
  std::vector<qb::GdiBitmap> many;
  many.push_back(std::move(third));
  for (int i = 0; i < 20; ++i) many.emplace_back(NewBitmap());  // reallocations move, never copy
  EXPECT_TRUE(IsGdiObject(a));
  many.clear();
  EXPECT_FALSE(IsGdiObject(a));
}

TEST(Owners, IconsMenusAndKernelHandlesGoWithTheirOwners) {
  HICON icon = NewIcon();
  ASSERT_TRUE(IsLiveIcon(icon));
  { qb::ScopedIcon owner(icon); }
  EXPECT_FALSE(IsLiveIcon(icon));

  HMENU bar = CreateMenu(), popup = CreatePopupMenu();
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"&File");
  { qb::ScopedMenu owner(bar); }
  EXPECT_FALSE(IsMenu(bar));
  EXPECT_FALSE(IsMenu(popup)) << "a menu goes with its sub-menus";

  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD flags = 0;
  { qb::KernelHandle owner(event); EXPECT_TRUE(GetHandleInformation(owner.Get(), &flags)); }
  EXPECT_FALSE(GetHandleInformation(event, &flags));

  qb::FindHandle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none) << "a failed FindFirstFile holds nothing";
  qb::KernelHandle empty;
  EXPECT_FALSE(empty);
  EXPECT_TRUE(empty.TryFree()) << "nothing to free is no failure";
}

TEST(Owners, TryFreeKeepsAHandleTheSystemRefuses) {
  HMENU menu = CreatePopupMenu();
  qb::ScopedMenu owner(menu);
  EXPECT_TRUE(owner.TryFree());
  EXPECT_FALSE(owner);
  EXPECT_FALSE(IsMenu(menu));
  // Holding a handle that is gone already: the call refuses, the owner keeps
  // it (and will not pretend to have freed it).
  owner.Reset(menu);
  EXPECT_FALSE(owner.TryFree());
  EXPECT_EQ(menu, owner.Get());
  owner.Release();
}

TEST(Owners, ReceiveTakesAHandleFromAnOutParameter) {
  HKEY raw = nullptr;
  DWORD subKeys = 0;
  {
    qb::ScopedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.Receive()));
    ASSERT_TRUE(key);
    raw = key.Get();
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr));
  }
  EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr))
      << "closed with its owner";
}

TEST(DeviceContexts, ASelectionGoesBackAtTheEndOfItsScope) {
  qb::MemoryDc dc(nullptr);
  ASSERT_TRUE(dc);
  HGDIOBJ original = GetCurrentObject(dc.Get(), OBJ_BITMAP);
  qb::GdiBitmap bitmap(NewBitmap());
  {
    qb::SelectIn in(dc.Get(), bitmap.Get());
    EXPECT_EQ(bitmap.Get(), GetCurrentObject(dc.Get(), OBJ_BITMAP));
  }
  EXPECT_EQ(original, GetCurrentObject(dc.Get(), OBJ_BITMAP));
  qb::SelectIn outer;
  {
    qb::SelectIn inner(dc.Get(), bitmap.Get());
    outer = std::move(inner);
  }
  EXPECT_EQ(bitmap.Get(), GetCurrentObject(dc.Get(), OBJ_BITMAP)) << "the moved selection is still on";
  outer = qb::SelectIn();
  EXPECT_EQ(original, GetCurrentObject(dc.Get(), OBJ_BITMAP));
  qb::SelectIn nothing(dc.Get(), nullptr);
  EXPECT_EQ(original, GetCurrentObject(dc.Get(), OBJ_BITMAP)) << "selecting nothing changes nothing";
}

TEST(DeviceContexts, AnOffscreenBitmapLetsGoOfEverythingInTheSafeOrder) {
  HDC dcHandle;
  HBITMAP bitmapHandle;
  {
    qb::WindowDc screen(nullptr);
    ASSERT_TRUE(screen.Get());
    qb::OffscreenBitmap off(screen.Get(), 8, 6);
    ASSERT_TRUE(off.Valid());
    dcHandle = off.dc.Get();
    bitmapHandle = off.bitmap.Get();
    EXPECT_EQ(bitmapHandle, GetCurrentObject(dcHandle, OBJ_BITMAP));
    BITMAP bm = {};
    GetObjectW(bitmapHandle, sizeof bm, &bm);
    EXPECT_EQ(8, bm.bmWidth);
    EXPECT_EQ(6, bm.bmHeight);
  }
  // Windows refuses to delete a bitmap that is still selected: it would stay behind.
  EXPECT_FALSE(IsGdiObject(bitmapHandle));
  EXPECT_FALSE(IsGdiObject(dcHandle));

  qb::OffscreenBitmap kept;
  EXPECT_FALSE(kept.Valid());
  qb::WindowDc screen(nullptr);
  ASSERT_TRUE(kept.Make(screen.Get(), 3, 3));
  HBITMAP first = kept.bitmap.Get();
  ASSERT_TRUE(kept.Make(screen.Get(), 5, 5));
  EXPECT_FALSE(IsGdiObject(first)) << "a second Make lets the first bitmap go";
  kept.Free();
  EXPECT_FALSE(kept.dc);
  EXPECT_FALSE(kept.bitmap);
}

TEST(DeviceContexts, PaintDcPaintsInsideBeginAndEndPaint) {
  wintest::HostWindow host(120, 80);
  InvalidateRect(host.hwnd(), nullptr, TRUE);
  {
    qb::PaintDc paint(host.hwnd());
    ASSERT_TRUE(paint.Get());
    EXPECT_EQ(host.hwnd(), WindowFromDC(paint.Get()));
  }
  RECT update;
  EXPECT_FALSE(GetUpdateRect(host.hwnd(), &update, FALSE)) << "EndPaint validated the window";
}

TEST(DeviceContexts, IconBitmapsHoldsAndFreesWhatGetIconInfoGives) {
  qb::IconBitmaps none;
  EXPECT_FALSE(none.Read(nullptr));
  HICON icon = NewIcon();
  HBITMAP mask;
  {
    qb::IconBitmaps bits;
    ASSERT_TRUE(bits.Read(icon));
    mask = bits.Mask();
    EXPECT_TRUE(IsGdiObject(mask));
    EXPECT_EQ(mask, bits.Info().hbmMask);
  }
  EXPECT_FALSE(IsGdiObject(mask));
  EXPECT_TRUE(IsLiveIcon(icon)) << "the icon itself is not touched";
  DestroyIcon(icon);
}

// A dialog on the prompt's template that records what reaches it.
class CProbeDialog : public qb::CDialogWindow {
 public:
  explicit CProbeDialog(std::vector<UINT>* seen, bool accept = true) : m_seen(seen), m_accept(accept) {}
  ~CProbeDialog() override { m_seen->push_back(0xDEAD); }
  using CDialogWindow::DestroyQuietly;

 private:
  bool OnInitDialog() override {
    m_seen->push_back(WM_INITDIALOG);
    return m_accept;
  }
  INT_PTR DialogProc(UINT msg, WPARAM, LPARAM) override {
    if (msg == WM_USER + 7 || msg == WM_NCDESTROY) m_seen->push_back(msg);
    if (msg == WM_ERASEBKGND) return SetResult(1);
    return FALSE;
  }
  std::vector<UINT>* m_seen;
  bool m_accept;
};

TEST(DialogBase, TheObjectOwnsItsWindowAndTheWindowNeverDeletesTheObject) {
  qb::EnsureCommonControls();  // the template holds a progress bar
  std::vector<UINT> seen;
  auto* dialog = new CProbeDialog(&seen);
  ASSERT_TRUE(dialog->Create(IDD_PROMPT, nullptr));
  HWND wnd = dialog->GetSafeHwnd();
  ASSERT_TRUE(IsWindow(wnd));
  SendMessageW(wnd, WM_USER + 7, 0, 0);
  EXPECT_EQ((std::vector<UINT>{WM_INITDIALOG, WM_USER + 7}), seen);
  // Destroyed from outside: the object learns of it and stays.
  DestroyWindow(wnd);
  EXPECT_EQ(nullptr, dialog->GetSafeHwnd());
  EXPECT_EQ((std::vector<UINT>{WM_INITDIALOG, WM_USER + 7, WM_NCDESTROY}), seen);
  delete dialog;
  EXPECT_EQ(0xDEADu, seen.back());

  // Deleted first: the window goes too, and its last messages do not reach
  // the half-deleted object.
  seen.clear();
  dialog = new CProbeDialog(&seen);
  ASSERT_TRUE(dialog->Create(IDD_PROMPT, nullptr));
  wnd = dialog->GetSafeHwnd();
  delete dialog;
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_EQ((std::vector<UINT>{WM_INITDIALOG, 0xDEAD}), seen);
}

TEST(DialogBase, ARefusedInitialisationLeavesNoWindow) {
  qb::EnsureCommonControls();
  std::vector<UINT> seen;
  CProbeDialog dialog(&seen, false);
  EXPECT_FALSE(dialog.Create(IDD_PROMPT, nullptr));
  EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
  EXPECT_EQ(std::vector<UINT>{WM_INITDIALOG}, seen) << "no message after the refusal reaches the object";
}

TEST(DialogBase, SetResultAnswersThroughTheDialogResult) {
  qb::EnsureCommonControls();
  std::vector<UINT> seen;
  CProbeDialog dialog(&seen);
  ASSERT_TRUE(dialog.Create(IDD_PROMPT, nullptr));
  EXPECT_EQ(1, SendMessageW(dialog.GetSafeHwnd(), WM_ERASEBKGND, 0, 0));
  dialog.DestroyQuietly();
  EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
}

TEST(Text, Gb2312TextCrossesTheWideCallsInCodePage936) {
  // "收藏" in code page 936 is CA D5 B2 D8; in UTF-16 U+6536 U+85CF.
  const std::string gbk = "\xCA\xD5\xB2\xD8";
  EXPECT_EQ(std::wstring(L"\u6536\u85CF"), qb::W(gbk));
  EXPECT_EQ(gbk, qb::Gbk(std::wstring(L"\u6536\u85CF")));
  const wchar_t cut[] = L"\u6536\u85CFxyz";
  EXPECT_EQ(gbk + "x", qb::Gbk(cut, 3)) << "a counted conversion stops at its count";
  EXPECT_EQ(L"", qb::W(""));
  wintest::HostWindow host;
  SetWindowTextW(host.hwnd(), L"\u6536\u85CF\u5939");
  EXPECT_EQ(gbk + "\xBC\xD0", qb::WindowTextGbk(host.hwnd()));
  SetWindowTextW(host.hwnd(), L"");
  EXPECT_EQ("", qb::WindowTextGbk(host.hwnd()));
  EXPECT_EQ(L"", qb::WindowTextW(nullptr));
}

// Characters code page 936 lacks (an emoji, Hangul, the euro sign) travel in
// the program's text as references: a window shows and gives back the
// characters themselves, and the text comes back as the same bytes.
TEST(Text, ReferencesCrossTheWideCallsAsTheirCharacters) {
  const std::string kept = "&#x1F600; &#xD55C;&#xAD6D;&#xC5B4; 5&#x20AC; \xCA\xD5\xB2\xD8";
  const std::wstring wide = L"\U0001F600 \uD55C\uAD6D\uC5B4 5\u20AC \u6536\u85CF";
  EXPECT_EQ(wide, qb::W(kept));
  EXPECT_EQ(kept, qb::Gbk(wide));
  wintest::HostWindow host;
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 300, 30, host.hwnd(), nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(edit);
  SetWindowTextW(edit, qb::W(kept).c_str());
  EXPECT_EQ(wide, qb::WindowTextW(edit)) << "the window holds the characters, not the references";
  EXPECT_EQ(kept, qb::WindowTextGbk(edit));
  // Typed into a window: a character the code page lacks comes back as its reference.
  SetWindowTextW(edit, L"\U0001F680\u20AC\uD55C");
  EXPECT_EQ("&#x1F680;&#x20AC;&#xD55C;", qb::WindowTextGbk(edit));
  DestroyWindow(edit);
}

}  // namespace

// ---- thread messages inside modal loops ---------------------------------------

namespace modal {
const UINT kNotice = WM_APP + 0x77;
std::vector<WPARAM> g_seen;
bool g_boxUpWhenSeen = false;

HWND BoxOfThisThread() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM p) {
        wchar_t cls[16] = {};
        GetClassNameW(w, cls, 16);
        if (std::wstring(cls) != L"#32770") return TRUE;
        *reinterpret_cast<HWND*>(p) = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}
// The way out when nothing closes the box: a thread timer runs in every loop,
// and its message comes only once the posted ones are taken.
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) {
  if (HWND box = BoxOfThisThread()) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
}
int BoxWithNoticeWaiting(WPARAM value) {
  g_seen.clear();
  g_boxUpWhenSeen = false;
  PostThreadMessageW(GetCurrentThreadId(), kNotice, value, 0);
  UINT_PTR timer = SetTimer(nullptr, 0, 1000, GiveUp);
  int answer = MessageBoxW(nullptr, L"等待", L"Qimbo收藏", MB_OKCANCEL);
  KillTimer(nullptr, timer);
  return answer;
}
}  // namespace modal

TEST(ModalThreadMessages, AThreadMessageReachesItsHandlerWhileABoxIsUp) {
  using namespace modal;
  // The box's loop is seen by the watch alone, by the filter that stands in
  // for it while one lives, and by the watch again once the filter is gone.
  qb::WatchModalLoops();
  qb::ForgetModalLoops();
  // Without the filter the box's own loop throws the message away.
  EXPECT_EQ(IDCANCEL, BoxWithNoticeWaiting(1));
  EXPECT_TRUE(qb::ModalLoopSeen());
  qb::ForgetModalLoops();
  MSG left;
  EXPECT_FALSE(PeekMessageW(&left, nullptr, kNotice, kNotice, PM_REMOVE)) << "and it is gone";
  {
    qb::CModalThreadMessages filter([](const MSG& msg) {
      if (msg.message != kNotice) return false;
      g_seen.push_back(msg.wParam);
      HWND box = BoxOfThisThread();
      g_boxUpWhenSeen = box != nullptr;
      if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
      return true;
    });
    ASSERT_TRUE(filter.Installed());
    qb::CModalThreadMessages second([](const MSG&) { return true; });
    EXPECT_FALSE(second.Installed()) << "one per thread";
    EXPECT_EQ(IDOK, BoxWithNoticeWaiting(2)) << "the handler closed the box";
    EXPECT_EQ(std::vector<WPARAM>{2}, g_seen);
    EXPECT_TRUE(g_boxUpWhenSeen);
    EXPECT_TRUE(qb::ModalLoopSeen());
    qb::ForgetModalLoops();
  }
  // Gone with its owner.
  EXPECT_EQ(IDCANCEL, BoxWithNoticeWaiting(3));
  EXPECT_TRUE(g_seen.empty());
  EXPECT_TRUE(qb::ModalLoopSeen());
}

TEST(ModalThreadMessages, TheLoopsDialogDispatchHandsOnlyKeysToTheFilters) {
  static int filtered;  // messages IsDialogMessage handed to the thread's filters
  HOOKPROC countFilter = [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
    filtered += code == MSGF_DIALOGBOX;
    return CallNextHookEx(nullptr, code, wParam, lParam);
  };
  HWND dlg = CreateWindowExW(WS_EX_CONTROLPARENT, L"#32770", L"", WS_POPUP | WS_VISIBLE, 0, 0, 200, 80, nullptr,
                             nullptr, nullptr, nullptr);
  HWND buttons[2];
  for (int i = 0; i < 2; ++i)
    buttons[i] = CreateWindowExW(0, L"BUTTON", L"键", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 70 * i, 0, 60, 24, dlg,
                                 nullptr, nullptr, nullptr);
  qb::WatchModalLoops();
  HHOOK count = SetWindowsHookExW(WH_MSGFILTER, countFilter, nullptr, GetCurrentThreadId());
  SetFocus(buttons[0]);
  filtered = 0;
  // A key is the dialog's: Tab moves the focus, through the filters.
  MSG tab = {buttons[0], WM_KEYDOWN, VK_TAB, 0};
  EXPECT_TRUE(qb::DispatchDialogMessage(dlg, &tab));
  EXPECT_EQ(buttons[1], GetFocus());
  EXPECT_EQ(1, filtered);
  // Anything else goes to its window without them; a window retired meanwhile still waits.
  qb::ForgetModalLoops();
  MSG press = {buttons[0], BM_SETSTATE, TRUE, 0};
  EXPECT_TRUE(qb::DispatchDialogMessage(dlg, &press));
  EXPECT_NE(0, SendMessageW(buttons[0], BM_GETSTATE, 0, 0) & BST_PUSHED);
  EXPECT_EQ(1, filtered);
  EXPECT_TRUE(qb::ModalLoopSeen());
  qb::ForgetModalLoops();
  UnhookWindowsHookEx(count);
  DestroyWindow(dlg);
}

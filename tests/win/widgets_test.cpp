// The tray icon's animation (on the fake clock), the hotkey replay of a second
// copy, and the small controls.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include "../../res/resource.h"
#include "app/favorites_app_win32.h"
#include "os/os.h"
#include "testutil.h"
#include "widgets/explorer_win32.h"
#include "widgets/picture_win32.h"
#include "widgets/prompt_dlg_win32.h"
#include "widgets/rich_edit_win32.h"
#include "widgets/static_link_win32.h"
#include "widgets/tray_win32.h"
#include "win/text_win32.h"
#include "win_test_util.h"

namespace {

uint32_t g_now = 0;
uint32_t FakeTick() { return g_now; }
void FakeSleep(uint32_t ms) { g_now += ms; }

class TrayTest : public testing::Test {
 protected:
  void SetUp() override {
    g_now = 100000;
    os::SetClock(FakeTick, FakeSleep);
    program = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0));
  }
  void TearDown() override {
    os::SetClock(nullptr, nullptr);
    DestroyIcon(program);
  }
  wintest::HostWindow owner;
  HICON program = nullptr;
};

TEST_F(TrayTest, TipIsKeptUpTo63BytesAndCutAtACharacter) {
  qb::CSystemTray tray;
  std::string tip63(63, 'a');
  tray.Create(owner.hwnd(), qb::WM_TRAY_NOTIFY, tip63, program, IDR_TRAY_MENU);
  EXPECT_EQ(tip63, tray.Tip());
  EXPECT_EQ(std::string(62, 'a'), qb::CutGbk(std::string(62, 'a') + "收藏", 63));
  EXPECT_EQ(std::string(61, 'a') + "收", qb::CutGbk(std::string(61, 'a') + "收藏", 63));
}

TEST_F(TrayTest, AnimationStepsThroughTheListAndStopsAfterItsTimeWithTheIconBack) {
  qb::CSystemTray tray;
  tray.Create(owner.hwnd(), qb::WM_TRAY_NOTIFY, "Qimbo收藏", program, IDR_TRAY_MENU);
  ASSERT_TRUE(tray.SetIconList(IDI_PLAZA_FIRST, IDI_PLAZA_SECOND));
  ASSERT_EQ(2u, tray.IconCount());
  ASSERT_TRUE(tray.Animate(700, 15));
  EXPECT_TRUE(tray.Animating());
  g_now += 700;
  tray.OnTimer();
  EXPECT_EQ(tray.ListIcon(1), tray.CurrentIcon());
  g_now += 700;
  tray.OnTimer();
  EXPECT_EQ(tray.ListIcon(0), tray.CurrentIcon());
  g_now = 100000 + 15400;  // 15.4 s counts as 15: still running
  tray.OnTimer();
  EXPECT_TRUE(tray.Animating());
  g_now = 100000 + 15600;  // 15.6 s counts as 16
  tray.OnTimer();
  EXPECT_FALSE(tray.Animating());
  if (tray.Enabled()) {
    EXPECT_EQ(program, tray.CurrentIcon());
  }
}

TEST_F(TrayTest, StopWithoutAnimationChangesNothingAndNoLimitRunsOn) {
  qb::CSystemTray tray;
  tray.Create(owner.hwnd(), qb::WM_TRAY_NOTIFY, "Qimbo收藏", program, IDR_TRAY_MENU);
  tray.StopAnimation();
  EXPECT_EQ(program, tray.CurrentIcon());
  tray.SetIconList(IDI_TRAY_FIRST, IDI_PROGRAM);
  tray.Animate(700, 0);
  g_now += 3600 * 1000;
  tray.OnTimer();
  EXPECT_TRUE(tray.Animating());
  tray.StopAnimation();
  EXPECT_FALSE(tray.Animating());
}

std::vector<qb::KeyEvent> g_sent;
void RecordKey(int vk, bool down) { g_sent.emplace_back(vk, down); }

TEST(SecondCopy, KeystrokesPressModifiersInOrderAndReleaseThemInTheSameOrder) {
  using K = qb::KeyEvent;
  std::vector<K> expect = {{VK_SHIFT, true}, {VK_CONTROL, true}, {'X', true}, {'X', false}, {VK_SHIFT, false},
                           {VK_CONTROL, false}};
  EXPECT_EQ(expect, qb::HotkeyKeystrokes(6, 'X'));
  std::vector<K> all = {{VK_SHIFT, true}, {VK_CONTROL, true}, {VK_MENU, true}, {VK_F5, true}, {VK_F5, false},
                        {VK_SHIFT, false}, {VK_CONTROL, false}, {VK_MENU, false}};
  EXPECT_EQ(all, qb::HotkeyKeystrokes(7, VK_F5));
}

TEST(SecondCopy, TheConfiguredHotkeyDecidesWhatIsSent) {
  qbtest::TempDir dir;
  os::CreateFolder(dir / "config");
  auto withKey = [&](const std::string& key) {
    qbtest::WriteFileBytes(dir / "config\\MyConfig.ini",
                           "[HOTKEY]\r\nFavoriteKey=" + key + "\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=Enter\r\n[END]");
    g_sent.clear();
    return qb::SendHotkeyToRunningCopy(dir.Path(), RecordKey);
  };
  EXPECT_TRUE(withKey("Ctrl+Shift+X"));
  EXPECT_EQ(qb::HotkeyKeystrokes(6, 'X'), g_sent);
  EXPECT_TRUE(withKey("F5"));
  EXPECT_EQ((std::vector<qb::KeyEvent>{{VK_F5, true}, {VK_F5, false}}), g_sent);
  EXPECT_FALSE(withKey("A"));
  EXPECT_TRUE(g_sent.empty());
  EXPECT_FALSE(withKey("F12"));
  EXPECT_TRUE(g_sent.empty());
  // No configuration file: nothing to send, and nothing wrong.
  os::RemoveFile(dir / "config\\MyConfig.ini");
  g_sent.clear();
  EXPECT_TRUE(qb::SendHotkeyToRunningCopy(dir.Path(), RecordKey));
  EXPECT_TRUE(g_sent.empty());
}

std::string g_opened;
INT_PTR FakeOpen(const std::string& target) {
  g_opened = target;
  return target == "bad" ? 2 : 42;
}

TEST(StaticLink, ClickOpensTheLinkAndHoverColoursIt) {
  wintest::HostWindow host;
  HWND label = CreateWindowExW(0, L"STATIC", L"support@qimbo.example", WS_CHILD | WS_VISIBLE | SS_LEFT, 10, 10, 200,
                               20, host.hwnd(), reinterpret_cast<HMENU>(1030), GetModuleHandleW(nullptr), nullptr);
  qb::CStaticLink::SetOpener(FakeOpen);
  qb::CStaticLink link("mailto:support@qimbo.example");
  ASSERT_TRUE(link.SubclassDlgItem(1030, host.hwnd()));
  EXPECT_EQ(qb::CStaticLink::kUnvisited, link.Colour());
  SendMessageW(label, WM_NCHITTEST, 0, 0);
  EXPECT_TRUE(link.Hover());
  EXPECT_EQ(qb::CStaticLink::kHover, link.Colour());
  SendMessageW(label, WM_LBUTTONDOWN, 0, 0);
  EXPECT_EQ("mailto:support@qimbo.example", g_opened);
  EXPECT_EQ(qb::CStaticLink::kVisited, link.Colour());

  // Without a target the control's text is the link; a failed open keeps the colour.
  HWND bare = CreateWindowExW(0, L"STATIC", L"bad", WS_CHILD | WS_VISIBLE | SS_LEFT, 10, 40, 200, 20, host.hwnd(),
                              reinterpret_cast<HMENU>(1031), GetModuleHandleW(nullptr), nullptr);
  qb::CStaticLink plain;
  plain.SubclassDlgItem(1031, host.hwnd());
  EXPECT_EQ("bad", plain.ResolveLink());
  SendMessageW(bare, WM_LBUTTONDOWN, 0, 0);
  EXPECT_EQ(qb::CStaticLink::kUnvisited, plain.Colour());
  qb::CStaticLink::SetOpener(nullptr);
}

TEST(Picture, JpegLoadsThroughThePictureAndBmpAsABitmap) {
  qbtest::TempDir dir;
  // A 2x2 bitmap file and a bitmap under a .jpg name, which the picture refuses.
  const unsigned char bmp[] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1,
                               0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0};
  qbtest::WriteFileBytes(dir / "a.bmp", std::string(reinterpret_cast<const char*>(bmp), sizeof bmp));
  qb::GdiBitmap bitmap;
  qb::CPicture picture;
  EXPECT_EQ(1, qb::LoadBackgroundImage(dir / "a.BMP", &bitmap, &picture));
  ASSERT_TRUE(bitmap);
  BITMAP info = {};
  GetObjectW(bitmap.Get(), sizeof info, &info);
  EXPECT_EQ(2, info.bmWidth);
  EXPECT_EQ(0, qb::LoadBackgroundImage(dir / "a.gif", &bitmap, &picture)) << "other endings load nothing";
  EXPECT_EQ(0, qb::LoadBackgroundImage(dir / "missing.jpg", &bitmap, &picture));
  EXPECT_FALSE(bitmap) << "a .jpg path clears the bitmap";
  EXPECT_FALSE(picture.Loaded());
}

COLORREF PixelOf(qb::CPicture& picture, int width, int height, int x, int y) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP target = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(mem, target);
  RECT r = {0, 0, width, height};
  picture.Show(mem, r);
  COLORREF c = GetPixel(mem, x, y);
  SelectObject(mem, old);
  DeleteObject(target);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return c;
}

bool Reddish(COLORREF c) { return GetRValue(c) > 200 && GetBValue(c) < 60; }
bool Bluish(COLORREF c) { return GetBValue(c) > 200 && GetRValue(c) < 60; }

// Background images decoded ahead on a worker thread come out as the picture
// loader's own; files the worker could not read, or was not given, are
// decoded (or refused) on the spot without waiting.
TEST(Picture, PrefetchedPicturesDrawLikeTheLoadersOwn) {
  qbtest::TempDir dir;
  std::string jpeg = wintest::RedBlueJpeg();  // 32x8, the left half red, the right half blue
  qbtest::WriteFileBytes(dir / "a.jpg", jpeg);
  qbtest::WriteFileBytes(dir / "b.JPG", jpeg);
  qbtest::WriteFileBytes(dir / "bad.jpg", "not a picture");
  int takenBefore = qb::PrefetchedPicturesTaken();
  qb::StartPicturePrefetch({dir / "a.jpg", dir / "b.JPG", dir / "bad.jpg", dir / "gone.jpg", dir / "c.bmp"});

  qb::CPicture ahead;
  ASSERT_TRUE(ahead.LoadPictureFile(dir / "a.jpg"));
  ASSERT_TRUE(ahead.Loaded());
  EXPECT_EQ(takenBefore + 1, qb::PrefetchedPicturesTaken()) << "taken from the worker";
  HDC screen = GetDC(nullptr);
  ahead.UpdateSizeOnDC(screen);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(32, ahead.Width());
  EXPECT_EQ(8, ahead.Height());

  // The same file decoded here: the prefetch gave a.jpg away already.
  qb::CPicture here;
  ASSERT_TRUE(here.LoadPictureFile(dir / "a.jpg"));
  EXPECT_EQ(takenBefore + 1, qb::PrefetchedPicturesTaken());
  for (POINT p : {POINT{2, 2}, POINT{30, 2}, POINT{62, 14}, POINT{10, 12}}) {
    COLORREF a = PixelOf(ahead, 64, 16, p.x, p.y), h = PixelOf(here, 64, 16, p.x, p.y);
    EXPECT_EQ(h, a) << "at " << p.x << "," << p.y;
  }
  EXPECT_TRUE(Reddish(PixelOf(ahead, 64, 16, 4, 8)));
  EXPECT_TRUE(Bluish(PixelOf(ahead, 64, 16, 60, 8)));

  qb::CPicture upper;
  EXPECT_TRUE(upper.LoadPictureFile(dir / "b.JPG")) << "the ending in any case";
  EXPECT_EQ(takenBefore + 2, qb::PrefetchedPicturesTaken());
  // What the worker could not decode is tried again here and refused there too.
  qb::CPicture bad;
  bad.LoadPictureFile(dir / "bad.jpg");
  EXPECT_FALSE(bad.Loaded());
  qb::CPicture gone;
  EXPECT_FALSE(gone.LoadPictureFile(dir / "gone.jpg"));
  EXPECT_EQ(takenBefore + 2, qb::PrefetchedPicturesTaken());

  // Stopping frees what nobody took; later loads decode on the spot.
  qb::StartPicturePrefetch({dir / "a.jpg"});
  qb::StopPicturePrefetch();
  qb::CPicture after;
  EXPECT_TRUE(after.LoadPictureFile(dir / "a.jpg"));
  EXPECT_EQ(takenBefore + 2, qb::PrefetchedPicturesTaken());
  EXPECT_TRUE(Bluish(PixelOf(after, 32, 8, 28, 4)));
}

// A DIB section of 4x4 pixels, its upper half red and its lower half blue,
// stored top-down or bottom-up.
qb::GdiBitmap TwoBandBitmap(bool topDown) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 4;
  info.bmiHeader.biHeight = topDown ? -4 : 4;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  qb::GdiBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  auto* px = static_cast<uint32_t*>(bits);
  for (int row = 0; row < 4; ++row) {
    bool upper = topDown ? row < 2 : row >= 2;
    for (int x = 0; x < 4; ++x) px[row * 4 + x] = upper ? 0x00FF0000 : 0x000000FF;
  }
  return bitmap;
}

COLORREF BitmapPixel(HBITMAP bitmap, int x, int y) {
  qb::MemoryDc dc(nullptr);
  qb::SelectIn in(dc.Get(), bitmap);
  return GetPixel(dc.Get(), x, y);
}

// A picture the prefetch decoded is kept as a bitmap file, and a later
// prefetch of the same file reads it instead of decoding, with the same
// pixels, as long as the file keeps its size and time; a kept file that is
// stale, cut short or of another source is not used.
TEST(Picture, DecodedPicturesAreKeptAndReadBackWhileTheirFileIsUnchanged) {
  qbtest::TempDir dir;
  const std::string jpg = dir / "a.jpg", keep = dir / "images\\cache\\";
  const std::string jpeg = wintest::RedBlueJpeg();
  qbtest::WriteFileBytes(jpg, jpeg);
  qb::SetPictureKeepFolder(keep);
  qb::StartPicturePrefetch({jpg});
  qb::CPicture decoded;
  ASSERT_TRUE(decoded.LoadPictureFile(jpg));
  qb::StopPicturePrefetch();  // the worker keeps the picture once it is handed over
  const std::string kept = qb::KeptPictureFile(keep, jpg);
  ASSERT_TRUE(os::FileExists(kept)) << "kept in a folder made for it, parents and all";
  EXPECT_NE(qb::KeptPictureFile(keep, dir / "b.jpg"), kept) << "each source has a file of its own";

  // The source's bytes spoilt behind its back, size and time unchanged: the
  // kept picture is what the prefetch hands over, pixel for pixel.
  const FILETIME written = wintest::WriteTimeOf(jpg);
  qbtest::WriteFileBytes(jpg, std::string(jpeg.size(), 'x'));
  ASSERT_TRUE(wintest::SetWriteTime(jpg, written));
  int taken = qb::PrefetchedPicturesTaken();
  qb::StartPicturePrefetch({jpg});
  qb::CPicture fromKept;
  ASSERT_TRUE(fromKept.LoadPictureFile(jpg));
  EXPECT_EQ(taken + 1, qb::PrefetchedPicturesTaken());
  ASSERT_TRUE(fromKept.Loaded());
  for (POINT p : {POINT{2, 2}, POINT{30, 2}, POINT{62, 14}, POINT{10, 12}, POINT{33, 7}})
    EXPECT_EQ(PixelOf(decoded, 64, 16, p.x, p.y), PixelOf(fromKept, 64, 16, p.x, p.y)) << p.x << "," << p.y;

  // A new time, or a new size at the old time: decoded again (and refused).
  FILETIME later = written;
  later.dwHighDateTime += 1;
  ASSERT_TRUE(wintest::SetWriteTime(jpg, later));
  qb::StartPicturePrefetch({jpg});
  qb::CPicture stale;
  stale.LoadPictureFile(jpg);
  EXPECT_FALSE(stale.Loaded()) << "a source with another time is decoded again";
  qb::StopPicturePrefetch();
  qbtest::WriteFileBytes(jpg, jpeg + "x");
  ASSERT_TRUE(wintest::SetWriteTime(jpg, written));
  SIZE size = {0, 0};
  EXPECT_FALSE(qb::ReadKeptPicture(keep, jpg, &size)) << "a source of another size";

  // Both row orders come back the right way up; a kept file cut short, or
  // the bits of a bitmap no kept file can hold, are nothing.
  for (bool topDown : {true, false}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    qb::GdiBitmap bands = TwoBandBitmap(topDown);
    std::string bytes = qb::KeptPictureBytes(bands.Get());
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(qb::WriteKeptPicture(keep, jpg, bytes));
    qb::GdiBitmap back = qb::ReadKeptPicture(keep, jpg, &size);
    ASSERT_TRUE(back);
    EXPECT_EQ(4, size.cx);
    EXPECT_EQ(4, size.cy);
    EXPECT_EQ(RGB(255, 0, 0), BitmapPixel(back.Get(), 1, 0));
    EXPECT_EQ(RGB(0, 0, 255), BitmapPixel(back.Get(), 1, 3));
  }
  std::string whole;
  ASSERT_TRUE(os::ReadWholeFile(kept, whole));
  ASSERT_TRUE(qb::WriteKeptPicture(keep, jpg, whole.substr(0, whole.size() - 1)));
  EXPECT_FALSE(qb::ReadKeptPicture(keep, jpg, &size)) << "a kept file cut short";
  qb::GdiBitmap mono(CreateBitmap(4, 4, 1, 1, nullptr));
  EXPECT_TRUE(qb::KeptPictureBytes(mono.Get()).empty());
  EXPECT_FALSE(qb::WriteKeptPicture(keep, dir / "gone.jpg", whole)) << "no source, nothing kept";
  qb::SetPictureKeepFolder("");
}

TEST(Explorer, WithoutAnEngineLocalPagesBecomeAPaintedBannerWithTheirTitle) {
  wintest::HostWindow host(600, 100);
  qbtest::TempDir dir;
  qbtest::WriteFileBytes(dir / "Head.htm", "<html><head><title>收藏标题</title></head></html>");
  qb::CExplorer1::DisableEngine(true);
  qb::CExplorer1 banner;
  RECT r = {0, 0, 500, 60};
  ASSERT_TRUE(banner.Create(L"", WS_VISIBLE, r, host.hwnd(), 1059));
  EXPECT_FALSE(banner.HasEngine());
  banner.Navigate(dir / "Head.htm");
  EXPECT_EQ(L"收藏标题", banner.BannerTitle());
  banner.Navigate("http://www.qimbo.example//notify//update.htm");
  EXPECT_EQ(L"http://www.qimbo.example//notify//update.htm", banner.BannerTitle());
  qb::CExplorer1::DisableEngine(false);
}

UINT MenuState(HMENU menu, UINT id) { return GetMenuState(menu, id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED); }

TEST(MenuRichEdit, TheEditMenuGreysWhatCannotBeDone) {
  wintest::HostWindow host(400, 200);
  qb::CMenuRichEdit edit;
  RECT r = {0, 0, 300, 100};
  ASSERT_TRUE(edit.Create(WS_VISIBLE | ES_MULTILINE, r, host.hwnd(), 1200));
  OpenClipboard(host.hwnd());
  EmptyClipboard();
  CloseClipboard();
  qb::ScopedMenu owner = edit.BuildMenu();
  HMENU menu = owner.Get();
  std::vector<UINT> ids;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) ids.push_back(GetMenuItemID(menu, i));
  EXPECT_EQ((std::vector<UINT>{5101, 0, 5102, 5103, 5104, 5105, 0, 5106, 0, 5107}), ids);
  EXPECT_NE(0u, MenuState(menu, 5101)) << "nothing to undo";
  EXPECT_NE(0u, MenuState(menu, 5102)) << "no selection to cut";
  EXPECT_NE(0u, MenuState(menu, 5104)) << "nothing to paste";
  EXPECT_EQ(0u, MenuState(menu, 5106));

  SetWindowTextW(edit.GetSafeHwnd(), L"收藏网址");
  edit.OnCommand(5106);  // select all
  owner = edit.BuildMenu();
  menu = owner.Get();
  EXPECT_EQ(0u, MenuState(menu, 5102));
  EXPECT_EQ(0u, MenuState(menu, 5103));
  EXPECT_EQ(0u, MenuState(menu, 5105));
  edit.OnCommand(5103);  // copy
  edit.OnCommand(5105);  // clear
  EXPECT_EQ(L"", wintest::Text(edit.GetSafeHwnd()));
  owner = edit.BuildMenu();
  menu = owner.Get();
  EXPECT_EQ(0u, MenuState(menu, 5104)) << "the copied text can be pasted";
  edit.OnCommand(5104);
  // Chinese survives the round trip (the final paragraph mark may come along).
  EXPECT_EQ(0u, wintest::Text(edit.GetSafeHwnd()).find(L"收藏网址"));
}

// Whether the character at `at` carries the link effect.
bool IsLink(HWND edit, LONG at) {
  CHARRANGE r = {at, at + 1};
  SendMessageW(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&r));
  CHARFORMAT2W cf = {};
  cf.cbSize = sizeof cf;
  cf.dwMask = CFM_LINK;
  SendMessageW(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  return (cf.dwEffects & CFE_LINK) != 0;
}

// A read-only edit marking links, as the chat window's conversation is.
class ChatLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT r = {0, 0, 300, 100};
    ASSERT_TRUE(edit.Create(WS_VISIBLE | ES_MULTILINE | ES_READONLY, r, host.hwnd(), 1200));
    edit.SetAutoURLDetect(true);
    w = edit.GetSafeHwnd();
  }
  wintest::HostWindow host{400, 200};
  qb::CMenuRichEdit edit;
  HWND w = nullptr;
};

// A chat line is anyone's: its web and mail addresses become links, a local
// file, a share or a script stays text, also once more lines come in.
TEST_F(ChatLinks, OnlyWebAndMailAddressesBecomeLinks) {
  const std::wstring line = L"a file:///c:/x.exe b \\\\evil\\s\\r.exe c http://ok.example/ d";
  SetWindowTextW(w, line.c_str());
  EXPECT_FALSE(IsLink(w, (LONG)line.find(L"file:") + 2));
  EXPECT_FALSE(IsLink(w, (LONG)line.find(L"evil")));
  EXPECT_TRUE(IsLink(w, (LONG)line.find(L"http:") + 2));
  EXPECT_FALSE(IsLink(w, (LONG)line.find(L" d") + 1));
  // A line added at the end: its own links marked, the earlier ones kept.
  GETTEXTLENGTHEX len = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  LONG end = (LONG)SendMessageW(w, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  CHARRANGE at = {end, end};
  SendMessageW(w, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&at));
  SendMessageW(w, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L" javascript:alert(1) www.b.example"));
  EXPECT_TRUE(IsLink(w, (LONG)line.find(L"http:") + 2));
  EXPECT_FALSE(IsLink(w, end + 3));
  EXPECT_TRUE(IsLink(w, end + 23));
}

// Only the text around what comes in is looked at again: an address that the
// new text continues grows, one it ends stays, one far back is kept, and
// text that joins "x" to an address takes its link away.
TEST_F(ChatLinks, TextAddedAtTheEndMarksLinksAroundItOnly) {
  auto add = [&](const std::wstring& text) {
    CHARRANGE end = {-1, -1};
    SendMessageW(w, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    SendMessageW(w, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  };
  const std::wstring head = L"www.first.example " + std::wstring(300, L'x') + L" see http://a.example/";
  SetWindowTextW(w, head.c_str());
  add(L"more/page");  // the address goes on
  LONG more = (LONG)(head.size() + 5);
  EXPECT_TRUE(IsLink(w, more)) << "the new end of the address";
  EXPECT_TRUE(IsLink(w, 2)) << "the link 300 characters back";
  EXPECT_FALSE(IsLink(w, 200));
  add(L"\r\n\u5F20\u4E09(1)   12:00:00\r\n");
  EXPECT_TRUE(IsLink(w, more)) << "a line break ends the address, which stays";
  // Text in front of an address: "xwww.b" is no address.
  const std::wstring tail = L"www.b.example";
  SetWindowTextW(w, tail.c_str());
  EXPECT_TRUE(IsLink(w, 2));
  CHARRANGE front = {0, 0};
  SendMessageW(w, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&front));
  SendMessageW(w, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"x"));
  EXPECT_FALSE(IsLink(w, 3));
}

// Pieces added while the drawing is held are drawn at the last release, not
// before: the box is drawn once for a line that comes in.
TEST_F(ChatLinks, HeldDrawingIsDoneAtTheLastRelease) {
  UpdateWindow(w);
  edit.HoldRedraw();
  edit.HoldRedraw();
  SendMessageW(w, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"http://held.example/ \u6536\u85CF"));
  EXPECT_FALSE(GetUpdateRect(w, nullptr, FALSE)) << "nothing waits to be drawn while held";
  edit.ReleaseRedraw();
  EXPECT_FALSE(IsWindowVisible(w)) << "still held once";
  edit.ReleaseRedraw();
  EXPECT_TRUE(IsWindowVisible(w));
  EXPECT_FALSE(GetUpdateRect(w, nullptr, FALSE)) << "drawn at the release";
  EXPECT_TRUE(IsLink(w, 3)) << "links are marked while held";
  edit.ReleaseRedraw();  // one too many does nothing
  EXPECT_TRUE(IsWindowVisible(w));
}

TEST(PromptDlg, BothButtonsCloseItAndTellTheUserInterfaceThread) {
  int cancelled = 0;
  for (int button : {IDC_PROMPT_OK, IDC_PROMPT_CANCEL}) {
    qb::CPromptDlg prompt;
    prompt.SetCancelHandler([&] { ++cancelled; });
    ASSERT_TRUE(prompt.Create(nullptr, GetCurrentThreadId()));
    HWND wnd = prompt.GetSafeHwnd();
    EXPECT_EQ(L"提示", wintest::Text(wnd));
    EXPECT_EQ(L"确定", wintest::ItemText(wnd, IDC_PROMPT_OK));
    EXPECT_EQ(L"取消", wintest::ItemText(wnd, IDC_PROMPT_CANCEL));
    prompt.SetText("上传中");
    EXPECT_EQ(L"上传中", wintest::ItemText(wnd, IDC_PROMPT_TEXT));
    SendMessageW(wnd, WM_COMMAND, static_cast<WPARAM>(button), 0);
    EXPECT_FALSE(IsWindow(wnd));
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, reinterpret_cast<HWND>(-1), qb::WM_CLOSE_PROMPT, qb::WM_CLOSE_PROMPT, PM_REMOVE));
  }
  EXPECT_EQ(1, cancelled) << "only cancel stops the transfer";
}

}  // namespace

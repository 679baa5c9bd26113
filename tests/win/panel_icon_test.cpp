// The panels' file icons: a missing file gets none without the shell, and a
// remembered ".ico" icon is dropped once its file changes.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "os/os.h"
#include "panels/panel_windows_win32.h"
#include "win_test_util.h"

namespace {

// A 16 x 16 icon file of one colour: black (0) or white (1), all opaque.
std::string OneColourIcon(int white) {
  std::string f;
  auto put16 = [&f](unsigned v) {
    f += (char)(v & 0xFF);
    f += (char)(v >> 8);
  };
  auto put32 = [&](unsigned v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  put16(0), put16(1), put16(1);
  f += (char)16, f += (char)16, f += (char)2, f += (char)0;
  put16(1), put16(1), put32(40 + 8 + 64 + 64), put32(22);
  put32(40), put32(16), put32(32), put16(1), put16(1);
  put32(0), put32(128), put32(0), put32(0), put32(2), put32(0);
  put32(0), put32(0x00FFFFFF);
  for (int row = 0; row < 16; ++row) put32(white ? 0xFFFFFFFF : 0);
  for (int row = 0; row < 16; ++row) put32(0);
  return f;
}

// The file's time set to `minutes` after a fixed moment.
void SetWriteTime(const std::string& path, int minutes) {
  ULARGE_INTEGER t;
  t.QuadPart = 130000000000000000ULL + (ULONGLONG)minutes * 600000000ULL;
  ASSERT_TRUE(wintest::SetWriteTime(path, FILETIME{t.LowPart, t.HighPart}));
}

TEST(PanelIcon, MissingFileHasNoIcon) {
  std::string dir = os::TempFolder() + "qimbo-icon-missing\\";
  int before = panels::ShellIconLookups();
  EXPECT_EQ(nullptr, panels::ShellIcon(dir + "nothing.ico"));
  EXPECT_EQ(nullptr, panels::ShellIcon(dir + "no\\such\\folder.ico"));
  EXPECT_EQ(nullptr, panels::ShellIcon(""));
  EXPECT_EQ(before, panels::ShellIconLookups()) << "the shell is not asked about missing files";
}

TEST(PanelIcon, IconFileIsAskedForAgainOnlyWhenItChanges) {
  std::string dir = os::TempFolder() + "qimbo-icon-" + std::to_string(GetCurrentProcessId()) + "\\";
  os::CreateFolder(dir.substr(0, dir.size() - 1));
  std::string file = dir + "site.ico";
  ASSERT_TRUE(os::WriteWholeFile(file, OneColourIcon(0)));
  SetWriteTime(file, 1);
  int before = panels::ShellIconLookups();
  HICON first = panels::ShellIcon(file);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(before + 1, panels::ShellIconLookups());
  // Asked again: remembered, and a copy of its own that outlives the first.
  HICON again = panels::ShellIcon(file);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(before + 1, panels::ShellIconLookups());
  EXPECT_NE(first, again);
  DestroyIcon(first);
  ICONINFO info = {};
  EXPECT_TRUE(GetIconInfo(again, &info));
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  DestroyIcon(again);
  // The same size, a new time (an icon downloaded again): asked again.
  ASSERT_TRUE(os::WriteWholeFile(file, OneColourIcon(1)));
  SetWriteTime(file, 2);
  HICON changed = panels::ShellIcon(file);
  EXPECT_NE(nullptr, changed);
  EXPECT_EQ(before + 2, panels::ShellIconLookups());
  if (changed) DestroyIcon(changed);
  // A new size at the old time: asked again too.
  ASSERT_TRUE(os::WriteWholeFile(file, OneColourIcon(1) + std::string(16, '\0')));
  SetWriteTime(file, 2);
  changed = panels::ShellIcon(file);
  EXPECT_EQ(before + 3, panels::ShellIconLookups());
  if (changed) DestroyIcon(changed);
  // Gone: no icon any more.
  os::RemoveFile(file);
  EXPECT_EQ(nullptr, panels::ShellIcon(file));
  os::RemoveFolder(dir.substr(0, dir.size() - 1));
}

}  // namespace

// The subclass chain: order, reference data, removal at any moment, a
// foreign subclass on top, and a destroyed window leaving nothing behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "win/subclass_win32.h"

namespace {

std::vector<std::string> g_calls;

LRESULT CALLBACK Original(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER) {
    g_calls.push_back("original");
    return 1;
  }
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

// Records "name:ref" and adds 10 to what the rest of the chain answers.
LRESULT CALLBACK Named(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR ref) {
  if (msg == WM_USER) g_calls.push_back(std::string(1, static_cast<char>('a' + id)) + ":" + std::to_string(ref));
  LRESULT r = qb::DefSubclass(wnd, msg, wParam, lParam);
  return msg == WM_USER ? r + 10 : r;
}

// Takes itself out while handling a message, then passes it on.
LRESULT CALLBACK Leaver(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
  if (msg == WM_USER) {
    g_calls.push_back("leaver");
    qb::Unsubclass(wnd, Leaver, id);
  }
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

// Sends a second message to its own window from inside the first.
LRESULT CALLBACK Resender(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (msg == WM_USER && wParam == 0) {
    g_calls.push_back("resender");
    SendMessageW(wnd, WM_USER, 1, 0);
  }
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

int g_destroySeen = 0;
LRESULT CALLBACK Watcher(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (msg == WM_NCDESTROY) ++g_destroySeen;
  return qb::DefSubclass(wnd, msg, wParam, lParam);
}

WNDPROC g_foreignNext = nullptr;
LRESULT CALLBACK Foreign(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER) g_calls.push_back("foreign");
  return CallWindowProcW(g_foreignNext, wnd, msg, wParam, lParam);
}

class SubclassTest : public testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Original;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QimboSubclassTest";
    RegisterClassW(&wc);
    wnd = CreateWindowExW(0, L"QimboSubclassTest", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(wnd);
    g_calls.clear();
  }
  void TearDown() override {
    if (IsWindow(wnd)) DestroyWindow(wnd);
  }
  LRESULT Send(WPARAM wParam = 0) { return SendMessageW(wnd, WM_USER, wParam, 0); }
  LONG_PTR Proc() const { return GetWindowLongPtrW(wnd, GWLP_WNDPROC); }
  HWND wnd = nullptr;
};

TEST_F(SubclassTest, NewestHandlerFirstEachWithItsDataThenTheWindowsOwn) {
  LONG_PTR own = Proc();
  ASSERT_TRUE(qb::Subclass(wnd, Named, 0, 7));
  ASSERT_TRUE(qb::Subclass(wnd, Named, 1, 8));
  EXPECT_EQ(21, Send());
  EXPECT_EQ((std::vector<std::string>{"b:8", "a:7", "original"}), g_calls);

  EXPECT_EQ(7u, qb::SubclassData(wnd, Named, 0));
  EXPECT_EQ(8u, qb::SubclassData(wnd, Named, 1));
  EXPECT_EQ(0u, qb::SubclassData(wnd, Named, 2)) << "another identifier";
  EXPECT_EQ(0u, qb::SubclassData(wnd, Leaver, 0)) << "another handler";

  // The same handler and identifier again only changes the data.
  ASSERT_TRUE(qb::Subclass(wnd, Named, 0, 9));
  EXPECT_EQ(2, qb::SubclassCount(wnd));
  EXPECT_EQ(9u, qb::SubclassData(wnd, Named, 0));
  g_calls.clear();
  Send();
  EXPECT_EQ((std::vector<std::string>{"b:8", "a:9", "original"}), g_calls);

  EXPECT_TRUE(qb::Unsubclass(wnd, Named, 1));
  EXPECT_FALSE(qb::Unsubclass(wnd, Named, 1)) << "already gone";
  EXPECT_EQ(0u, qb::SubclassData(wnd, Named, 1));
  EXPECT_TRUE(qb::Unsubclass(wnd, Named, 0));
  EXPECT_EQ(own, Proc()) << "the window's own procedure is back";
  g_calls.clear();
  EXPECT_EQ(1, Send());
  EXPECT_EQ(std::vector<std::string>{"original"}, g_calls);
}

TEST_F(SubclassTest, AHandlerLeavingInsideItsMessageStillPassesItOn) {
  LONG_PTR own = Proc();
  ASSERT_TRUE(qb::Subclass(wnd, Named, 0, 1));
  ASSERT_TRUE(qb::Subclass(wnd, Leaver, 5, 0));
  ASSERT_TRUE(qb::Subclass(wnd, Named, 2, 3));
  EXPECT_EQ(21, Send());
  EXPECT_EQ((std::vector<std::string>{"c:3", "leaver", "a:1", "original"}), g_calls);
  EXPECT_EQ(2, qb::SubclassCount(wnd));
  g_calls.clear();
  Send();
  EXPECT_EQ((std::vector<std::string>{"c:3", "a:1", "original"}), g_calls);

  // The last handler leaving from inside its message restores the window afterwards.
  qb::Unsubclass(wnd, Named, 0);
  qb::Unsubclass(wnd, Named, 2);
  ASSERT_TRUE(qb::Subclass(wnd, Leaver, 5, 0));
  g_calls.clear();
  EXPECT_EQ(1, Send());
  EXPECT_EQ((std::vector<std::string>{"leaver", "original"}), g_calls);
  EXPECT_EQ(own, Proc());
}

TEST_F(SubclassTest, AMessageSentFromInsideAHandlerRunsTheWholeChain) {
  ASSERT_TRUE(qb::Subclass(wnd, Named, 0, 4));
  ASSERT_TRUE(qb::Subclass(wnd, Resender, 1, 0));
  Send();
  EXPECT_EQ((std::vector<std::string>{"resender", "a:4", "original", "a:4", "original"}), g_calls);
}

TEST_F(SubclassTest, AForeignSubclassOnTopKeepsTheChainUntilItLeaves) {
  LONG_PTR own = Proc();
  ASSERT_TRUE(qb::Subclass(wnd, Named, 0, 1));
  g_foreignNext = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Foreign)));
  EXPECT_TRUE(qb::Unsubclass(wnd, Named, 0));
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(Foreign), Proc()) << "the foreign procedure is not overwritten";
  EXPECT_EQ(1, Send()) << "messages still reach the window's own procedure through the empty chain";
  EXPECT_EQ((std::vector<std::string>{"foreign", "original"}), g_calls);

  // Our handlers can come back while the foreign one is on top.
  ASSERT_TRUE(qb::Subclass(wnd, Named, 1, 2));
  g_calls.clear();
  EXPECT_EQ(11, Send());
  EXPECT_EQ((std::vector<std::string>{"foreign", "b:2", "original"}), g_calls);
  SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_foreignNext));
  EXPECT_TRUE(qb::Unsubclass(wnd, Named, 1));
  EXPECT_EQ(own, Proc());
}

TEST_F(SubclassTest, ADestroyedWindowLeavesNoChainForTheNextOneWithItsHandle) {
  g_destroySeen = 0;
  ASSERT_TRUE(qb::Subclass(wnd, Watcher, 0, 0));
  ASSERT_TRUE(qb::Subclass(wnd, Named, 1, 0));
  HWND old = wnd;
  DestroyWindow(wnd);
  EXPECT_EQ(1, g_destroySeen) << "the last message reaches the handlers";
  EXPECT_EQ(0, qb::SubclassCount(old));
  EXPECT_EQ(0u, qb::SubclassData(old, Watcher, 0));
  EXPECT_FALSE(qb::Unsubclass(old, Named, 1));
  EXPECT_FALSE(qb::Subclass(old, Named, 1, 0)) << "no chain for a window that is gone";
}

TEST_F(SubclassTest, OnlyWindowsOfTheCallingThread) {
  struct Args {
    HWND wnd;
    bool result;
  } args{wnd, true};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* a = static_cast<Args*>(p);
        a->result = qb::Subclass(a->wnd, Named, 0, 0);
        return 0;
      },
      &args, 0, nullptr);
  ASSERT_TRUE(thread);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_FALSE(args.result);
  EXPECT_EQ(0, qb::SubclassCount(wnd));
}

}  // namespace

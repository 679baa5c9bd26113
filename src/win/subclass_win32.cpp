#include "win/subclass_win32.h"

#include <unordered_map>
#include <vector>

namespace qb {

namespace {

struct Entry {
  SubclassHandler handler;
  UINT_PTR id;
  DWORD_PTR ref;
  bool removed;
};

// One window's handlers, bottom first. While messages are in progress
// (depth > 0) removed entries are only marked, so that the positions of the
// handlers running below stay valid.
struct Chain {
  WNDPROC original = nullptr;
  std::vector<Entry> entries;
  size_t cursor = 0;  // the entries below it are next for DefSubclass
  int depth = 0;
  bool pruned = false;  // entries were marked removed
  bool destroyed = false;
};

// A window's procedure runs on the thread that made the window.
thread_local std::unordered_map<HWND, Chain*> t_chains;

Chain* Find(HWND wnd) {
  auto it = t_chains.find(wnd);
  return it == t_chains.end() ? nullptr : it->second;
}

LRESULT CALLBACK ChainProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

LRESULT CallNext(Chain* chain, HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  while (chain->cursor > 0) {
    Entry e = chain->entries[--chain->cursor];  // a copy: handlers may add entries
    if (!e.removed) return e.handler(wnd, msg, wParam, lParam, e.id, e.ref);
  }
  return CallWindowProcW(chain->original, wnd, msg, wParam, lParam);
}

void Forget(HWND wnd, Chain* chain) {
  t_chains.erase(wnd);
  delete chain;
}

// With no message in progress: drops the removed entries and, when none is
// left, gives the window its own procedure back unless another subclass sits
// on top of ours (then the chain stays, empty, passing everything on).
void Settle(HWND wnd, Chain* chain) {
  if (chain->depth > 0) return;
  if (chain->destroyed) {
    Forget(wnd, chain);
    return;
  }
  std::vector<Entry> live;
  for (const Entry& e : chain->entries)
    if (!e.removed) live.push_back(e);
  chain->entries.swap(live);
  chain->pruned = false;
  if (!chain->entries.empty()) return;
  if (GetWindowLongPtrW(wnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(ChainProc)) return;
  SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(chain->original));
  Forget(wnd, chain);
}

LRESULT CALLBACK ChainProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Chain* chain = Find(wnd);
  if (!chain) return DefWindowProcW(wnd, msg, wParam, lParam);
  size_t saved = chain->cursor;
  chain->cursor = chain->entries.size();
  ++chain->depth;
  LRESULT result = CallNext(chain, wnd, msg, wParam, lParam);
  --chain->depth;
  chain->cursor = saved;
  // The handle may be given to a new window once this one is gone.
  if (msg == WM_NCDESTROY) chain->destroyed = true;
  if (chain->depth == 0 && (chain->destroyed || chain->pruned)) Settle(wnd, chain);
  return result;
}

}  // namespace

bool Subclass(HWND wnd, SubclassHandler handler, UINT_PTR id, DWORD_PTR ref) {
  if (!wnd || !handler || !IsWindow(wnd) || GetWindowThreadProcessId(wnd, nullptr) != GetCurrentThreadId())
    return false;
  Chain* chain = Find(wnd);
  if (chain) {
    for (Entry& e : chain->entries)
      if (!e.removed && e.handler == handler && e.id == id) {
        e.ref = ref;
        return true;
      }
  } else {
    chain = new Chain;
    chain->original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(wnd, GWLP_WNDPROC));
    if (!chain->original ||
        !SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ChainProc))) {
      delete chain;
      return false;
    }
    t_chains[wnd] = chain;
  }
  chain->entries.push_back(Entry{handler, id, ref, false});
  return true;
}

bool Unsubclass(HWND wnd, SubclassHandler handler, UINT_PTR id) {
  Chain* chain = Find(wnd);
  if (!chain) return false;
  for (Entry& e : chain->entries)
    if (!e.removed && e.handler == handler && e.id == id) {
      e.removed = true;
      chain->pruned = true;
      Settle(wnd, chain);
      return true;
    }
  return false;
}

DWORD_PTR SubclassData(HWND wnd, SubclassHandler handler, UINT_PTR id) {
  Chain* chain = wnd ? Find(wnd) : nullptr;
  if (!chain || chain->destroyed) return 0;
  for (const Entry& e : chain->entries)
    if (!e.removed && e.handler == handler && e.id == id) return e.ref;
  return 0;
}

LRESULT DefSubclass(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Chain* chain = Find(wnd);
  if (!chain) return DefWindowProcW(wnd, msg, wParam, lParam);
  size_t saved = chain->cursor;
  LRESULT result = CallNext(chain, wnd, msg, wParam, lParam);
  chain->cursor = saved;
  return result;
}

int SubclassCount(HWND wnd) {
  Chain* chain = Find(wnd);
  if (!chain) return 0;
  int count = 0;
  for (const Entry& e : chain->entries)
    if (!e.removed) ++count;
  return count;
}

}  // namespace qb

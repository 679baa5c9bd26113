// The largest single allocation since a test last reset it: a lying length
// or count must be refused before anything of its size is allocated. The
// test programs linked with these utilities take their operator new from here.
#include <atomic>
#include <cstdlib>
#include <new>

#include "testutil.h"

#ifdef _WIN32
#include <windows.h>
#endif

static std::atomic<size_t> g_largestAllocation{0};

#ifdef _WIN32
// The guarded objects (GuardObjectsOfSize): each on pages of its own.
namespace {
struct Guarded {
  char* base;
  size_t size;
  bool freed;
};
const size_t kMaxGuarded = 256;
Guarded g_guarded[kMaxGuarded];
std::atomic<size_t> g_guardedCount{0};
std::atomic<size_t> g_guardSize{0};
std::atomic<size_t> g_usesAfterFree{0};
std::atomic_flag g_guardLock = ATOMIC_FLAG_INIT;

struct GuardLock {
  GuardLock() {
    while (g_guardLock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~GuardLock() { g_guardLock.clear(std::memory_order_release); }
};

LONG CALLBACK CountUseAfterFree(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* r = info->ExceptionRecord;
  if (r->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
  char* at = reinterpret_cast<char*>(r->ExceptionInformation[1]);
  size_t n = g_guardedCount.load();
  for (size_t i = 0; i < n; ++i) {
    Guarded& g = g_guarded[i];
    if (!g.freed || at < g.base || at >= g.base + g.size) continue;
    ++g_usesAfterFree;
    DWORD old;
    VirtualProtect(g.base, g.size, PAGE_READWRITE, &old);  // let the faulty code run on as it would
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void* GuardedNew(size_t n) {
  GuardLock lock;
  size_t i = g_guardedCount.load();
  if (i == kMaxGuarded) return nullptr;
  size_t size = (n + 4095) & ~size_t(4095);
  char* p = static_cast<char*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!p) return nullptr;
  g_guarded[i] = Guarded{p, size, false};
  g_guardedCount = i + 1;
  return p;
}

bool GuardedDelete(void* p) {
  size_t n = g_guardedCount.load();
  for (size_t i = 0; i < n; ++i) {
    Guarded& g = g_guarded[i];
    if (g.base != p) continue;
    g.freed = true;
    DWORD old;
    VirtualProtect(g.base, g.size, PAGE_NOACCESS, &old);
    return true;
  }
  return false;
}
}  // namespace
#endif

void* operator new(size_t n) {
  size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
  while (n > seen && !g_largestAllocation.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
  }
#ifdef _WIN32
  if (n && n == g_guardSize.load(std::memory_order_relaxed))
    if (void* p = GuardedNew(n)) return p;
#endif
  if (void* p = malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
#ifdef _WIN32
  if (p && g_guardedCount.load() && GuardedDelete(p)) return;
#endif
  free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
// The nothrow forms too (std::stable_sort's buffer, new (std::nothrow)):
// otherwise a sanitizer's own nothrow new meets the free above.
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return operator new(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }

namespace qbtest {
void ResetLargestAllocation() { g_largestAllocation = 0; }
size_t LargestAllocation() { return g_largestAllocation; }

#ifdef _WIN32
void GuardObjectsOfSize(size_t size) {
  static PVOID handler = AddVectoredExceptionHandler(1, CountUseAfterFree);
  (void)handler;
  g_guardSize = size;
}
size_t GuardedUsesAfterFree() { return g_usesAfterFree; }
#else
void GuardObjectsOfSize(size_t) {}
size_t GuardedUsesAfterFree() { return 0; }
#endif
}  // namespace qbtest

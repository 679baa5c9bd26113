// The largest single allocation since a test last reset it: a lying length
// or count must be refused before anything of its size is allocated. The
// test programs linked with these utilities take their operator new from here.
#include <atomic>
#include <cstdlib>
#include <new>

#include "testutil.h"

static std::atomic<size_t> g_largestAllocation{0};

void* operator new(size_t n) {
  size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
  while (n > seen && !g_largestAllocation.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
  }
  if (void* p = malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }

namespace qbtest {
void ResetLargestAllocation() { g_largestAllocation = 0; }
size_t LargestAllocation() { return g_largestAllocation; }
}  // namespace qbtest

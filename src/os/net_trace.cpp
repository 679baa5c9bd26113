// The hop trace of the network path, the same on every system but for its
// clock and the opening of its file (net_posix.cpp, net_win32.cpp).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "os/net.h"

namespace os {

// One line of the trace: the text up to its first line break, at most 60 bytes.
std::string NetTraceLine(double ms, const char* hop, const std::string& text) {
  std::string shown = text.substr(0, std::min<size_t>(text.find_first_of("\r\n"), 60));
  char head[64];
  snprintf(head, sizeof head, "%.3f %s ", ms, hop);
  return head + shown + "\n";
}

void NetTrace(const char* hop, const std::string& text) {
  static std::atomic<int> state{0};  // 0 not looked at yet, 1 tracing, 2 off
  static std::mutex lock;
  static FILE* file = nullptr;
  if (state.load(std::memory_order_acquire) == 2) return;
  double ms = NetTraceClockMs();
  std::lock_guard<std::mutex> hold(lock);
  if (state.load(std::memory_order_relaxed) == 0) {
    file = OpenNetTraceFile();
    state.store(file ? 1 : 2, std::memory_order_release);
  }
  if (!file) return;
  std::string line = NetTraceLine(ms, hop, text);
  fwrite(line.data(), 1, line.size(), file);
  fflush(file);
}

}  // namespace os

// The downloads a capture starts: the site icon and the offline copy of the
// page, on a thread of their own, so that a slow or silent site never holds
// up the program. Each finished page is reported back through a function
// called on that thread (the program posts it to its window).
#pragma once
#include <functional>
#include <memory>
#include <string>

namespace panels {

struct FetchJob {
  std::string programDir;
  std::string address;  // as read from the browser
  bool icon = false;    // download the site icon (an existing icon file is kept)
  bool offline = true;  // keep an offline copy of the page
};

struct FetchResult {
  std::string address;
  bool iconSaved = false;
  std::string iconFile;  // the site icon file when saved
  bool offlineSaved = false;
  std::string offlineFile;
};

class CPageFetcher {
 public:
  using Done = std::function<void(const FetchResult&)>;
  explicit CPageFetcher(Done done);
  // A transfer still running after `kStopWaitMs` is left to end on its own
  // (its result goes nowhere); the program does not wait for a silent site.
  ~CPageFetcher();
  CPageFetcher(const CPageFetcher&) = delete;
  CPageFetcher& operator=(const CPageFetcher&) = delete;

  void Add(FetchJob job);
  // 1 when every job added so far has been reported within `ms`.
  int WaitIdle(unsigned ms);

  static constexpr unsigned kStopWaitMs = 2000;

  struct Shared;

 private:
  std::shared_ptr<Shared> m;
};

// One job, on the calling thread: the icon, then the offline copy (the
// browser cache's copy of the page, else a download without the HTML check).
// How often a site's icon is asked for before the item keeps its stock one,
// and the pause between the tries.
constexpr int kIconAttempts = 3;
constexpr unsigned kIconRetryMs = 300;
FetchResult RunFetchJob(const FetchJob& job);

}  // namespace panels

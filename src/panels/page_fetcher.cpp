#include "panels/page_fetcher.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "os/os.h"
#include "panels/site_icon.h"

namespace panels {

struct CPageFetcher::Shared {
  std::mutex lock;
  std::condition_variable wake, idle;
  std::deque<FetchJob> jobs;
  bool stop = false, busy = false, ended = false;
  Done done;
};

namespace {
void Work(std::shared_ptr<CPageFetcher::Shared> s) {
  std::unique_lock<std::mutex> hold(s->lock);
  for (;;) {
    s->wake.wait(hold, [&] { return s->stop || !s->jobs.empty(); });
    if (s->stop) break;
    FetchJob job = std::move(s->jobs.front());
    s->jobs.pop_front();
    s->busy = true;
    hold.unlock();
    FetchResult r = RunFetchJob(job);
    hold.lock();
    // The report is made under the lock, so that it never runs once the
    // fetcher has gone (stop is set under the same lock).
    if (!s->stop && s->done) s->done(r);
    s->busy = false;
    s->idle.notify_all();
  }
  s->ended = true;
  s->idle.notify_all();
}
}  // namespace

FetchResult RunFetchJob(const FetchJob& job) {
  FetchResult r;
  r.address = job.address;
  // A site that fails once (a dropped connection, a busy server) gets two
  // more tries: the item keeps its stock icon for good otherwise.
  for (int attempt = 0; job.icon && attempt < kIconAttempts && !r.iconSaved; ++attempt) {
    if (attempt) os::SleepMs(kIconRetryMs);
    if (FetchSiteIcon(job.programDir, job.address, 1)) {
      r.iconSaved = true;
      r.iconFile = SiteIconFile(job.programDir, job.address);
    }
  }
  if (job.offline) {
    std::string file = OfflinePagePath(job.programDir, job.address);
    r.offlineSaved = os::CopyOneFile(CachedPagePath(job.address), file, 0) || DownloadToFile(job.address, file, 0);
    if (r.offlineSaved) r.offlineFile = file;
  }
  return r;
}

CPageFetcher::CPageFetcher(Done done) : m(std::make_shared<Shared>()) {
  m->done = std::move(done);
  std::thread(Work, m).detach();
}

CPageFetcher::~CPageFetcher() {
  std::unique_lock<std::mutex> hold(m->lock);
  m->stop = true;
  m->jobs.clear();
  m->wake.notify_all();
  m->idle.wait_for(hold, std::chrono::milliseconds(kStopWaitMs), [&] { return m->ended; });
}

void CPageFetcher::Add(FetchJob job) {
  std::lock_guard<std::mutex> hold(m->lock);
  m->jobs.push_back(std::move(job));
  m->wake.notify_all();
}

int CPageFetcher::WaitIdle(unsigned ms) {
  std::unique_lock<std::mutex> hold(m->lock);
  return m->idle.wait_for(hold, std::chrono::milliseconds(ms), [&] { return m->jobs.empty() && !m->busy; }) ? 1 : 0;
}

}  // namespace panels

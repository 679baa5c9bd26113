#include "password.h"

#include <sodium.h>

namespace qsrv {

static unsigned char g_sessionKey[crypto_generichash_KEYBYTES];

bool InitPasswords() {
  static bool ready = false;
  if (ready) return true;
  if (sodium_init() < 0) return false;
  randombytes_buf(g_sessionKey, sizeof g_sessionKey);
  ready = true;
  return true;
}

bool HashPassword(const std::string& password, std::string& hash, HashCost cost) {
  if (!InitPasswords()) return false;
  char out[crypto_pwhash_STRBYTES];
  unsigned long long ops = crypto_pwhash_OPSLIMIT_INTERACTIVE;
  size_t mem = crypto_pwhash_MEMLIMIT_INTERACTIVE;
  if (cost == HashCost::Minimum) {
    ops = crypto_pwhash_OPSLIMIT_MIN;
    mem = crypto_pwhash_MEMLIMIT_MIN;
  }
  if (crypto_pwhash_str(out, password.data(), password.size(), ops, mem) != 0) return false;
  hash = out;
  return true;
}

bool VerifyPassword(const std::string& hash, const std::string& password) {
  if (!InitPasswords() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string SessionDigest(const std::string& password) {
  InitPasswords();
  unsigned char out[32];
  crypto_generichash(out, sizeof out, (const unsigned char*)password.data(), password.size(), g_sessionKey,
                     sizeof g_sessionKey);
  return std::string((const char*)out, sizeof out);
}

}  // namespace qsrv

namespace qsrv {
bool DigestMatches(const std::string& digest, const std::string& password) {
  std::string d = SessionDigest(password);
  return digest.size() == d.size() && sodium_memcmp(digest.data(), d.data(), d.size()) == 0;
}
}  // namespace qsrv

#include <sys/eventfd.h>
#include <unistd.h>

namespace qsrv {

CWorkerPool::CWorkerPool(int threads) {
  m_eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  for (int i = 0; i < threads; ++i) m_workers.emplace_back(&CWorkerPool::Work, this);
}

CWorkerPool::~CWorkerPool() {
  Stop();
  if (m_eventFd >= 0) close(m_eventFd);
}

void CWorkerPool::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  for (std::thread& t : m_workers)
    if (t.joinable()) t.join();
}

void CWorkerPool::Run(std::function<void()> work, std::function<void()> done) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_todo.push_back(Job{std::move(work), std::move(done)});
  }
  m_wake.notify_one();
}

void CWorkerPool::Work() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stop || !m_todo.empty(); });
    if (m_stop) return;
    Job job = std::move(m_todo.front());
    m_todo.pop_front();
    lock.unlock();
    job.work();
    lock.lock();
    m_finished.push_back(std::move(job));
    uint64_t one = 1;
    if (write(m_eventFd, &one, sizeof one) < 0) {
      // The counter cannot overflow in practice; the answer is still queued.
    }
  }
}

void CWorkerPool::RunCompleted() {
  uint64_t count;
  if (read(m_eventFd, &count, sizeof count) < 0) {
    // Nothing signalled: whatever is queued is still handed over below.
  }
  std::deque<Job> done;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    done.swap(m_finished);
  }
  for (Job& job : done) job.done();
}

void CPasswordPool::Check(const std::string& hash, const std::string& password, std::function<void(bool)> done) {
  auto ok = std::make_shared<bool>(false);
  Run([hash, password, ok] { *ok = VerifyPassword(hash, password); }, [ok, done] { done(*ok); });
}

}  // namespace qsrv

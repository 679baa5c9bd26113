// Passwords are kept only as salted, deliberately slow hashes (Argon2id from
// libsodium). Sessions then keep a fast keyed digest in memory, so that the
// keep-alives and transfer requests of a logged-in user cost no slow hash.
#pragma once
#include <string>

namespace qsrv {

enum class HashCost { Interactive, Minimum };  // Minimum only for tests and benchmarks

bool InitPasswords();  // sodium_init; false when the library cannot start
bool HashPassword(const std::string& password, std::string& hash, HashCost cost = HashCost::Interactive);
bool VerifyPassword(const std::string& hash, const std::string& password);
// Keyed with a random key made at start, so the digest is useless outside this run.
std::string SessionDigest(const std::string& password);

}  // namespace qsrv

namespace qsrv {
// Constant-time comparison of a session digest with a password's digest.
bool DigestMatches(const std::string& digest, const std::string& password);
}  // namespace qsrv

#include <condition_variable>
#include <deque>
#include <memory>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qsrv {

// A password check against a stored hash. The answer may come later, but
// always on the server's own thread.
class IPasswordCheck {
 public:
  virtual ~IPasswordCheck() {}
  virtual void Check(const std::string& hash, const std::string& password, std::function<void(bool)> done) = 0;
};

// Checks at once, on the calling thread (tests, tools).
class CInlinePasswordCheck : public IPasswordCheck {
 public:
  void Check(const std::string& hash, const std::string& password, std::function<void(bool)> done) override {
    done(VerifyPassword(hash, password));
  }
};

// Work on threads of its own, so that slow work (a password hash, a wait for
// the database) holds up nobody else's datagrams. RunCompleted runs each
// job's `done` on the server's thread when EventFd() becomes readable.
class CWorkerPool {
 public:
  explicit CWorkerPool(int threads);
  virtual ~CWorkerPool();
  CWorkerPool(const CWorkerPool&) = delete;
  CWorkerPool& operator=(const CWorkerPool&) = delete;
  void Run(std::function<void()> work, std::function<void()> done);
  int EventFd() const { return m_eventFd; }
  void RunCompleted();

 protected:
  // Ends the workers (the work under way first); a derived pool calls it
  // before the members its work uses go.
  void Stop();

 private:
  struct Job {
    std::function<void()> work, done;
  };
  void Work();
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Job> m_todo, m_finished;
  bool m_stop = false;
  std::vector<std::thread> m_workers;
  int m_eventFd = -1;
};

// Password checks on worker threads.
class CPasswordPool : public CWorkerPool, public IPasswordCheck {
 public:
  explicit CPasswordPool(int threads) : CWorkerPool(threads) {}
  void Check(const std::string& hash, const std::string& password, std::function<void(bool)> done) override;
};

}  // namespace qsrv

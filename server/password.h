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

// Checks on worker threads, so that a slow hash holds up nobody else's
// datagrams. RunCompleted hands the answers over on the server's thread when
// EventFd() becomes readable.
class CPasswordPool : public IPasswordCheck {
 public:
  explicit CPasswordPool(int threads);
  ~CPasswordPool() override;
  CPasswordPool(const CPasswordPool&) = delete;
  CPasswordPool& operator=(const CPasswordPool&) = delete;
  void Check(const std::string& hash, const std::string& password, std::function<void(bool)> done) override;
  int EventFd() const { return m_eventFd; }
  void RunCompleted();

 private:
  struct Job {
    std::string hash, password;
    std::function<void(bool)> done;
    bool ok = false;
  };
  void Work();
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Job> m_todo, m_finished;
  bool m_stop = false;
  std::vector<std::thread> m_workers;
  int m_eventFd = -1;
};

}  // namespace qsrv

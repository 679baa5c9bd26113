// Looking users up for password checks, at once or on a thread of its own.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "password.h"
#include "storage.h"

namespace qsrv {

class IUserLookup {
 public:
  virtual ~IUserLookup() {}
  // `done` gets whether the look-up was answered and the users of `numbers`
  // that exist. It may run later, always on the server's thread.
  virtual void Find(const std::vector<int32_t>& numbers,
                    std::function<void(bool, const std::vector<UserRecord>&)> done) = 0;
};

// Over a database link of its own on a thread of its own: the protocol
// thread goes on with other datagrams while the database answers, and the
// logins that come meanwhile are looked up together next.
class CLookupThread : public CWorkerPool, public IUserLookup {
 public:
  explicit CLookupThread(std::unique_ptr<IStorage> storage) : CWorkerPool(1), m_storage(std::move(storage)) {}
  ~CLookupThread() override { Stop(); }
  void Find(const std::vector<int32_t>& numbers,
            std::function<void(bool, const std::vector<UserRecord>&)> done) override;
  uint64_t RoundTrips() const { return m_roundTrips; }  // on the server's thread

 private:
  std::unique_ptr<IStorage> m_storage;  // used by the worker only
  std::atomic<uint64_t> m_roundTrips{0};  // of the look-ups handed over so far
};

}  // namespace qsrv

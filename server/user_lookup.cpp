#include "user_lookup.h"

namespace qsrv {

void CLookupThread::Find(const std::vector<int32_t>& numbers,
                         std::function<void(bool, const std::vector<UserRecord>&)> done) {
  struct Answer {
    bool ok = false;
    std::vector<UserRecord> found;
    uint64_t trips = 0;
  };
  auto answer = std::make_shared<Answer>();
  IStorage* storage = m_storage.get();
  Run(
      [storage, numbers, answer] {
        uint64_t before = storage->RoundTrips();
        answer->ok = storage->FindUsers(numbers, answer->found);
        answer->trips = storage->RoundTrips() - before;
      },
      [this, answer, done] {
        m_roundTrips += answer->trips;
        done(answer->ok, answer->found);
      });
}

}  // namespace qsrv

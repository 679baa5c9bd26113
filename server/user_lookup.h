// The database work the protocol thread need not wait for: looking users up
// for password checks, storing trees, presence and events, each over a link
// and a thread of its own.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
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

// Writes whose answer the protocol thread can take later. Their `done`
// runs on the server's thread.
class IDatabaseWriter {
 public:
  virtual ~IDatabaseWriter() {}
  // Stores a tree as IStorage::StoreTree; `done` gets how it went and the revision.
  virtual void StoreTree(int32_t user, std::vector<qb::NodeWire> nodes, int32_t fromRevision,
                         std::function<void(TreeWrite, int32_t)> done) = 0;
  // Runs `work` on the writer's shared part after all the cluster work
  // handed over before it (presence and events keep their order); `done`
  // gets what it returned.
  virtual void Cluster(std::function<bool(ICluster&)> work, std::function<void(bool)> done) = 0;
  // Reads a tree as IStorage::LoadTree, after the trees handed over before
  // it are stored; `done` gets whether it was read, the nodes and the revision.
  virtual void LoadTree(int32_t user, std::function<void(bool, std::vector<qb::NodeWire>&, int32_t)> done) = 0;
  // Waits until everything handed over so far is done, then runs their
  // `done` on the calling thread (the server's); when the server stops.
  virtual void Finish() = 0;
};

// Items handed over while the worker is busy go together in its next turn.
template <typename Item>
class CBatch {
 public:
  // True when no turn is due yet: the caller schedules one.
  bool Add(Item item) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_items.push_back(std::move(item));
    if (m_due) return false;
    m_due = true;
    return true;
  }
  // Everything handed over so far, for the turn under way.
  std::vector<Item> Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_due = false;
    std::vector<Item> out;
    out.swap(m_items);
    return out;
  }

 private:
  std::mutex m_mutex;
  std::vector<Item> m_items;
  bool m_due = false;
};

// A worker thread with a database link of its own, counting its round trips.
class CDatabaseThread : public CWorkerPool {
 public:
  explicit CDatabaseThread(std::unique_ptr<IStorage> storage) : CWorkerPool(1), m_storage(std::move(storage)) {}
  ~CDatabaseThread() override { Stop(); }
  uint64_t RoundTrips() const { return m_roundTrips; }
  // Waits until everything handed over so far has run (their `done` stays queued).
  void Drain();

 protected:
  // Runs `work` with the link on the worker, then `done` on the server's thread.
  void Post(std::function<void(IStorage&)> work, std::function<void()> done);

 private:
  std::unique_ptr<IStorage> m_storage;  // used by the worker only
  std::atomic<uint64_t> m_roundTrips{0};
};

// The protocol thread goes on with other datagrams while the database
// answers; the logins that come meanwhile are looked up together next, in
// one statement.
class CLookupThread : public CDatabaseThread, public IUserLookup {
 public:
  using CDatabaseThread::CDatabaseThread;
  ~CLookupThread() override { Stop(); }  // before the asks go
  void Find(const std::vector<int32_t>& numbers,
            std::function<void(bool, const std::vector<UserRecord>&)> done) override;

 private:
  struct Ask {
    std::vector<int32_t> numbers;
    std::function<void(bool, const std::vector<UserRecord>&)> done;
  };
  CBatch<Ask> m_asks;
};

// Trees that wait while others are stored go together (one commit); the
// presence and events of the instances go in the order they were handed over.
class CWriteThread : public CDatabaseThread, public IDatabaseWriter {
 public:
  using CDatabaseThread::CDatabaseThread;
  ~CWriteThread() override { Stop(); }  // before the trees go
  void StoreTree(int32_t user, std::vector<qb::NodeWire> nodes, int32_t fromRevision,
                 std::function<void(TreeWrite, int32_t)> done) override;
  void Cluster(std::function<bool(ICluster&)> work, std::function<void(bool)> done) override;
  void LoadTree(int32_t user, std::function<void(bool, std::vector<qb::NodeWire>&, int32_t)> done) override;
  void Finish() override {
    Drain();
    RunCompleted();
  }

 private:
  struct Tree {
    TreeJob job;
    std::function<void(TreeWrite, int32_t)> done;
  };
  CBatch<Tree> m_trees;
};

}  // namespace qsrv

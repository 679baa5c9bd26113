#include "user_lookup.h"

#include <algorithm>
#include <future>

namespace qsrv {

void CDatabaseThread::Post(std::function<void(IStorage&)> work, std::function<void()> done) {
  IStorage* storage = m_storage.get();
  auto trips = std::make_shared<uint64_t>(0);
  Run(
      [storage, work, trips] {
        uint64_t before = storage->RoundTrips();
        work(*storage);
        *trips = storage->RoundTrips() - before;
      },
      [this, trips, done] {
        m_roundTrips += *trips;
        if (done) done();
      });
}

void CDatabaseThread::Drain() {
  auto ran = std::make_shared<std::promise<void>>();
  std::future<void> all = ran->get_future();
  Run([ran] { ran->set_value(); }, [] {});
  all.wait();
}

void CLookupThread::Find(const std::vector<int32_t>& numbers,
                         std::function<void(bool, const std::vector<UserRecord>&)> done) {
  if (!m_asks.Add({numbers, std::move(done)})) return;
  struct Answer {
    std::vector<Ask> asks;
    bool ok = false;
    std::vector<UserRecord> found;
  };
  auto answer = std::make_shared<Answer>();
  Post(
      [this, answer](IStorage& storage) {
        answer->asks = m_asks.Take();
        std::vector<int32_t> all;
        for (const Ask& a : answer->asks) all.insert(all.end(), a.numbers.begin(), a.numbers.end());
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        answer->ok = storage.FindUsers(all, answer->found);
      },
      // Each gets every user found: whoever asked for more finds his among them.
      [answer] {
        for (Ask& a : answer->asks) a.done(answer->ok, answer->found);
      });
}

void CWriteThread::StoreTree(int32_t user, std::vector<qb::NodeWire> nodes, int32_t fromRevision,
                             std::function<void(TreeWrite, int32_t)> done) {
  Tree t;
  t.job.user = user;
  t.job.nodes = std::move(nodes);
  t.job.fromRevision = fromRevision;
  t.done = std::move(done);
  if (!m_trees.Add(std::move(t))) return;
  auto trees = std::make_shared<std::vector<Tree>>();
  Post(
      [this, trees](IStorage& storage) {
        *trees = m_trees.Take();
        std::vector<TreeJob> jobs;
        for (Tree& t : *trees) jobs.push_back(std::move(t.job));
        storage.StoreTrees(jobs);
        for (size_t i = 0; i < jobs.size(); ++i) {
          (*trees)[i].job.result = jobs[i].result;
          (*trees)[i].job.revision = jobs[i].revision;
        }
      },
      [trees] {
        for (Tree& t : *trees) t.done(t.job.result, t.job.revision);
      });
}

void CWriteThread::Cluster(std::function<bool(ICluster&)> work, std::function<void(bool)> done) {
  auto ok = std::make_shared<bool>(false);
  Post(
      [work, ok](IStorage& storage) {
        ICluster* c = ClusterOf(storage);
        *ok = c && work(*c);
      },
      [ok, done] {
        if (done) done(*ok);
      });
}

void CWriteThread::LoadTree(int32_t user, std::function<void(bool, std::vector<qb::NodeWire>&, int32_t)> done) {
  struct Tree {
    bool ok = false;
    std::vector<qb::NodeWire> nodes;
    int32_t revision = 0;
  };
  auto tree = std::make_shared<Tree>();
  Post([user, tree](IStorage& storage) { tree->ok = storage.LoadTree(user, tree->nodes, tree->revision); },
       [tree, done] { done(tree->ok, tree->nodes, tree->revision); });
}

}  // namespace qsrv

// A PostgreSQL cluster of the suite's own: made with initdb in a temporary
// folder, started with pg_ctl on a free loopback port, stopped and removed
// when the suite ends, also when it dies (a watchdog process sees to that).
// Run as root, the cluster runs as the unprivileged user "nobody".
#pragma once
#include <string>
#include <vector>

namespace qbtest {

class CPgCluster {
 public:
  // Started on first use, once per process. The suites' cluster writes
  // nothing to disk for sure (fsync off); the durable one keeps the
  // settings a real database has (every commit flushed), for benchmarks.
  static CPgCluster& Shared();
  static CPgCluster& Durable();
  bool Up() const { return m_up; }
  // Why it is not up, for the skip message.
  const std::string& Why() const { return m_why; }
  // A new empty database; its address (postgresql://...).
  std::string NewDatabase();
  // Runs one SQL command in database `name` (from NewDatabase's address); false on error.
  bool Exec(const std::string& url, const std::string& sql, std::string* error = nullptr);
  // Ends every connection to the database of `url` (as a lost link would).
  bool DropConnections(const std::string& url);
  void Stop();

 private:
  explicit CPgCluster(bool durable);
  ~CPgCluster();
  bool Start();
  bool Run(const std::vector<std::string>& args);

  bool m_up = false;
  std::string m_why;
  std::string m_dir, m_bin;
  int m_port = 0;
  int m_counter = 0;
  int m_watchdogPipe = -1;
  int m_watchdogPid = -1;
  bool m_asNobody = false;
  bool m_durable = false;
};

}  // namespace qbtest

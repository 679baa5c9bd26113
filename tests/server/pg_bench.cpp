// server_bench: "qimbo-server bench" on SQLite, then on PostgreSQL with one
// instance and with two sharing the database, in one run. The PostgreSQL
// cluster is one of its own, made for the run and removed after it; it keeps
// the settings of a real database (every commit flushed to disk) unless
// --no-fsync is given. Other words go to the bench as they are.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pg_cluster.h"
#include "server_cli.h"

int main(int argc, char** argv) {
  bool durable = true;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--no-fsync") == 0) durable = false;
    else words.push_back(argv[i]);
  }
  qbtest::CPgCluster& cluster = durable ? qbtest::CPgCluster::Durable() : qbtest::CPgCluster::Shared();
  if (!cluster.Up()) {
    fprintf(stderr, "server_bench: %s\n", cluster.Why().c_str());
    return 1;
  }
  std::string db = cluster.NewDatabase();
  if (db.empty()) {
    fprintf(stderr, "server_bench: cannot make a database\n");
    return 1;
  }
  printf("server_bench: PostgreSQL cluster %s\n", durable ? "flushing every commit" : "without fsync");
  fflush(stdout);
  words.push_back("--db");
  words.push_back(db);
  std::vector<char*> args;
  for (std::string& w : words) args.push_back(&w[0]);
  int rc = qsrv::RunBench((int)args.size(), args.data());
  cluster.Stop();
  return rc;
}

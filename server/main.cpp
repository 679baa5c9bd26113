// qimbo-server: the central server of the favorites program, and the
// commands that look after its users.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "base/codepage.h"
#include "password.h"
#include "qimbo_version.h"
#include "serve_options.h"
#include "server_cli.h"
#include "udp_loop.h"

namespace qsrv {
namespace {

const char kUsage[] =
    "usage:\n"
    "  qimbo-server serve [--listen ADDR] [--db DB] [--version N] [--chat-ad URL] [--instance NAME]\n"
    "                     [--port-base N] [--client-port-base N] [LIMITS]\n"
    "  qimbo-server user add NUMBER PASSWORD [NICKNAME] [--db DB]\n"
    "  qimbo-server user passwd NUMBER PASSWORD [--db DB]\n"
    "  qimbo-server user del NUMBER [--db DB]\n"
    "  qimbo-server user list [--db DB]\n"
    "  qimbo-server db migrate [--db DB]\n"
    "  qimbo-server bench [--clients N] [--rounds N] [--runs N] [--real-hash] [--db postgresql://...]\n"
    "  qimbo-server --help | --version\n"
    "DB is a SQLite file (default qimbo-server.db) or a PostgreSQL address,\n"
    "postgresql://USER@HOST:PORT/NAME (or postgres://...), which several servers may share.\n"
    "A PASSWORD of \"-\" is read from the first line of standard input.\n";

const char kServerVersion[] = "qimbo-server " QIMBO_VERSION;

const char kServeHelp[] =
    "usage: qimbo-server serve [OPTIONS]\n"
    "    --listen ADDR             the IPv4 address to listen on (0.0.0.0)\n"
    "    --db DB                   a SQLite file (qimbo-server.db) or postgresql://... shared with other servers\n"
    "    --version N               the newest program version, told after each login\n"
    "    --chat-ad URL             the advertisement address, told after each login\n"
    "    --instance NAME           this server's name among those sharing a database (made up when not given)\n"
    "    --port-base N             the first of the server's five ports (5080)\n"
    "    --client-port-base N      the first of the programs' five ports (5030)\n"
    "    --help                    this text\n"
    "LIMITS (each --name N):\n";

const char kDefaultDb[] = "qimbo-server.db";

int Fail(const std::string& text) {
  fprintf(stderr, "qimbo-server: %s\n", text.c_str());
  return 1;
}

// A command line the server cannot take: the reason and the usage, exit code 2.
int UsageError(const std::string& text) {
  fprintf(stderr, "qimbo-server: %s\n%s", text.c_str(), kUsage);
  return 2;
}

bool AsksForHelp(int argc, char** argv) {
  for (int i = 0; i < argc; ++i)
    if (!strcmp(argv[i], "--help")) return true;
  return false;
}

// The user commands and how many words each takes (the command included).
bool IsUserCommand(const std::vector<std::string>& w) {
  if (w.empty()) return false;
  if (w[0] == "add") return w.size() == 3 || w.size() == 4;
  if (w[0] == "passwd") return w.size() == 3;
  if (w[0] == "del") return w.size() == 2;
  return w[0] == "list" && w.size() == 1;
}

// Splits off the --name value options; what is left are the positional words.
struct Args {
  std::vector<std::string> words;
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> flags;
  bool Has(const std::string& flag) const {
    for (auto& f : flags)
      if (f == flag) return true;
    return false;
  }
  const std::string* Get(const std::string& name) const {
    for (auto& o : options)
      if (o.first == name) return &o.second;
    return nullptr;
  }
};

bool ParseArgs(int argc, char** argv, const std::vector<std::string>& valueOptions,
               const std::vector<std::string>& flagOptions, Args& out, std::string& error) {
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      bool known = false;
      for (auto& v : valueOptions)
        if (a == v) {
          if (i + 1 >= argc) {
            error = a + " needs a value";
            return false;
          }
          out.options.push_back({a, argv[++i]});
          known = true;
        }
      for (auto& f : flagOptions)
        if (a == f) {
          out.flags.push_back(a);
          known = true;
        }
      if (!known) {
        error = "unknown option " + a;
        return false;
      }
    } else {
      out.words.push_back(a);
    }
  }
  return true;
}

bool ParseInt(const std::string& text, long long lo, long long hi, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = strtoll(text.c_str(), &end, 10);
  return *end == 0 && out >= lo && out <= hi;
}

int Serve(int argc, char** argv) {
  Args args;
  std::string error;
  std::vector<std::string> valueOptions = {"--listen",    "--db",        "--version",         "--chat-ad",
                                           "--port-base", "--instance",  "--client-port-base"};
  for (const LimitOptionInfo& o : LimitOptions()) valueOptions.push_back(o.name);
  if (!ParseArgs(argc, argv, valueOptions, {"--help"}, args, error)) return UsageError(error);
  if (args.Has("--help")) {
    fputs(kServeHelp, stdout);
    fputs(LimitOptionsUsage().c_str(), stdout);
    return 0;
  }
  if (!args.words.empty()) return UsageError("serve takes no words: " + args.words[0]);
  LoopConfig loop;
  ServerOptions opt;
  long long v;
  if (auto s = args.Get("--listen")) loop.listen = *s;
  if (auto s = args.Get("--version")) {
    if (!ParseInt(*s, INT32_MIN, INT32_MAX, v) || v == 0) return Fail("--version needs a non-zero number");
    opt.newestVersion = (int32_t)v;
  }
  if (auto s = args.Get("--chat-ad")) opt.chatAd = *s;
  // Password checks run on as many workers as there are cores (2 to 4) unless told.
  unsigned cores = std::thread::hardware_concurrency();
  opt.maxChecksAtOnce = cores < 2 ? 1 : cores > 4 ? 4 : cores;
  for (auto& o : args.options)
    if (IsLimitOption(o.first) && !ApplyLimitOption(o.first, o.second, opt, error)) return Fail(error);
  // Test and side-by-side set-ups move both port ranges away from the defaults.
  if (auto s = args.Get("--port-base")) {
    if (!ParseInt(*s, 1, 65535 - kServerPorts, v)) return Fail("bad --port-base");
    loop.serverPortBase = (int)v;
  }
  if (auto s = args.Get("--client-port-base")) {
    if (!ParseInt(*s, 1, 65535 - kServerPorts, v)) return Fail("bad --client-port-base");
    loop.clientPortBase = (int)v;
  }
  std::string db = args.Get("--db") ? *args.Get("--db") : kDefaultDb;
  if (!InitPasswords()) return Fail("the password library cannot start");
  PgOptions pg;
  pg.listen = true;
  if (auto s = args.Get("--instance")) pg.instance = *s;
  std::unique_ptr<IStorage> storage = OpenStorage(db, pg, false, error);
  if (!storage) return Fail("cannot open the database: " + error);
  std::atomic<bool>& stop = InstallStopSignals();
  CUdpPorts ports;
  if (!ports.Open(loop, error)) return Fail(error);
  // Password hashes are slow on purpose; checking them off the loop keeps
  // everybody else's datagrams moving while someone logs in.
  CPasswordPool pool((int)opt.maxChecksAtOnce);
  // A shared database answers over the network: its look-ups of users go on
  // a link and a thread of their own, so no login waits for another's.
  // Trees, presence and events are written over another, in the background.
  std::unique_ptr<CLookupThread> lookups;
  std::unique_ptr<CWriteThread> writes;
  if (ICluster* c = ClusterOf(*storage)) {
    PgOptions link = pg;
    link.listen = false;
    link.instance = c->Instance();  // the writer's presence and events are this instance's
    std::unique_ptr<IStorage> lookupLink = OpenStorage(db, link, false, error);
    std::unique_ptr<IStorage> writeLink = lookupLink ? OpenStorage(db, link, false, error) : nullptr;
    if (!writeLink) return Fail("cannot open the database: " + error);
    lookups.reset(new CLookupThread(std::move(lookupLink)));
    writes.reset(new CWriteThread(std::move(writeLink)));
  }
  CServer server(*storage, ports, opt, &pool, lookups.get(), writes.get());
  std::string shown = IsPgUrl(db) ? "PostgreSQL " + db.substr(0, db.find("://") + 3) + "..." : db;
  if (ICluster* c = ClusterOf(*storage)) shown += ", instance " + c->Instance();
  fprintf(stderr, "qimbo-server: listening on %s:%d-%d, database %s\n", loop.listen.c_str(), loop.serverPortBase,
          loop.serverPortBase + kServerPorts - 1, shown.c_str());
  int rc = RunLoop(server, ports, stop, &pool, lookups.get(), writes.get());
  server.Shutdown();
  server.FlushLog(MonotonicMs());
  const ServerCounters& c = server.Counters();
  fprintf(stderr,
          "qimbo-server: stopped; %llu datagrams received, dropped %llu malformed, %llu oversized, %llu unknown; "
          "%llu requests refused; %llu datagrams sent\n",
          (unsigned long long)c.received, (unsigned long long)c.malformed, (unsigned long long)c.oversized,
          (unsigned long long)c.unknown, (unsigned long long)c.refused, (unsigned long long)c.sent);
  return rc;
}

int User(int argc, char** argv) {
  Args args;
  std::string error;
  if (!ParseArgs(argc, argv, {"--db"}, {"--cheap-hash"}, args, error)) return UsageError(error);
  const std::vector<std::string>& w = args.words;
  // Before the database is opened: a mistyped command creates no file.
  if (w.empty()) return UsageError("user needs a command");
  if (!IsUserCommand(w)) return UsageError("unknown or incomplete user command: " + w[0]);
  std::string db = args.Get("--db") ? *args.Get("--db") : kDefaultDb;
  // Test suites and benchmarks only: a hash that costs next to nothing.
  HashCost cost = args.Has("--cheap-hash") ? HashCost::Minimum : HashCost::Interactive;
  if (!InitPasswords()) return Fail("the password library cannot start");
  std::unique_ptr<IStorage> storage = OpenStorage(db, PgOptions(), false, error);
  if (!storage) return Fail("cannot open the database: " + error);
  return RunUserCommand(*storage, w, cost, std::cout, error) ? 0 : Fail(error);
}

// "db migrate": creates the schema, or brings an older one up to date.
int Db(int argc, char** argv) {
  Args args;
  std::string error;
  if (!ParseArgs(argc, argv, {"--db"}, {}, args, error)) return UsageError(error);
  if (args.words.size() != 1 || args.words[0] != "migrate") return UsageError("db needs: migrate");
  std::string db = args.Get("--db") ? *args.Get("--db") : kDefaultDb;
  std::unique_ptr<IStorage> storage = OpenStorage(db, PgOptions(), true, error);
  if (!storage) return Fail("cannot open the database: " + error);
  printf("schema version %d\n", storage->SchemaVersion());
  return 0;
}

}  // namespace
}  // namespace qsrv

int main(int argc, char** argv) {
  using namespace qsrv;
  if (argc < 2) return UsageError("no command given");
  std::string cmd = argv[1];
  // serve has a help of its own, with every limit.
  if (cmd == "--help" || cmd == "-h" || cmd == "help" || (cmd != "serve" && AsksForHelp(argc - 2, argv + 2))) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (cmd == "--version") {
    printf("%s\n", kServerVersion);
    return 0;
  }
  if (cmd == "serve") return Serve(argc - 2, argv + 2);
  if (cmd == "user") return User(argc - 2, argv + 2);
  if (cmd == "db") return Db(argc - 2, argv + 2);
  if (cmd == "bench") return RunBench(argc - 2, argv + 2);
  return UsageError("unknown command '" + cmd + "'");
}

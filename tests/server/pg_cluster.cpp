#include <fcntl.h>
#include <glob.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pg_cluster.h"

namespace qbtest {
namespace {

const char kAdmin[] = "qimbo";

int FreeTcpPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  int port = 0;
  if (bind(fd, (struct sockaddr*)&sa, sizeof sa) == 0 && getsockname(fd, (struct sockaddr*)&sa, &len) == 0)
    port = ntohs(sa.sin_port);
  close(fd);
  return port;
}

// The newest installed server programs.
std::string FindBinDir() {
  glob_t g;
  std::string best;
  if (glob("/usr/lib/postgresql/*/bin/pg_ctl", 0, nullptr, &g) == 0) {
    std::vector<std::string> found(g.gl_pathv, g.gl_pathv + g.gl_pathc);
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
      return atoi(a.c_str() + 20) < atoi(b.c_str() + 20);
    });
    best = found.back().substr(0, found.back().size() - 7);
  }
  globfree(&g);
  return best;
}

pid_t SpawnQuiet(const std::vector<std::string>& args, const std::string& logPath) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
  }
  int null = open("/dev/null", O_RDONLY);
  if (null >= 0) dup2(null, 0);
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace

CPgCluster& CPgCluster::Shared() {
  static CPgCluster cluster(false);
  return cluster;
}

CPgCluster& CPgCluster::Durable() {
  static CPgCluster cluster(true);
  return cluster;
}

CPgCluster::CPgCluster(bool durable) : m_durable(durable) { m_up = Start(); }

CPgCluster::~CPgCluster() { Stop(); }

bool CPgCluster::Run(const std::vector<std::string>& args) {
  std::vector<std::string> full;
  if (m_asNobody) full = {access("/usr/sbin/runuser", X_OK) == 0 ? "/usr/sbin/runuser" : "/sbin/runuser", "-u", "nobody", "--"};
  full.insert(full.end(), args.begin(), args.end());
  pid_t pid = SpawnQuiet(full, m_dir + "/setup.log");
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CPgCluster::Start() {
  m_bin = FindBinDir();
  if (m_bin.empty()) {
    m_why = "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/pg_ctl); scripts/install-deps.sh installs it";
    return false;
  }
  char dir[] = "/tmp/qimbo-pg-XXXXXX";
  if (!mkdtemp(dir)) {
    m_why = "cannot make a temporary folder";
    return false;
  }
  m_dir = dir;
  // PostgreSQL refuses to run as root.
  if (geteuid() == 0) {
    struct passwd* pw = getpwnam("nobody");
    if (!pw || chown(dir, pw->pw_uid, pw->pw_gid) != 0) {
      m_why = "running as root and cannot hand a folder to the user nobody";
      return false;
    }
    m_asNobody = true;
  }
  // The watchdog removes the cluster when this process ends, however it ends.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  std::string pgctl = m_bin + "/pg_ctl", data = m_dir + "/data";
  std::vector<std::string> stopArgs = {pgctl, "-D", data, "-m", "immediate", "-w", "stop"};
  if (m_asNobody) stopArgs.insert(stopArgs.begin(), {"/usr/sbin/runuser", "-u", "nobody", "--"});
  std::vector<char*> stopArgv;
  for (auto& a : stopArgs) stopArgv.push_back(const_cast<char*>(a.c_str()));
  stopArgv.push_back(nullptr);
  std::string rm = "rm -rf '" + m_dir + "'";
  pid_t w = fork();
  if (w == 0) {
    close(fds[1]);
    setpgid(0, 0);  // a Ctrl-C of the suite must not stop it before its work
    char c;
    while (read(fds[0], &c, 1) > 0) {
    }
    pid_t s = fork();
    if (s == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execv(stopArgv[0], stopArgv.data());
      _exit(127);
    }
    waitpid(s, nullptr, 0);
    execl("/bin/sh", "sh", "-c", rm.c_str(), (char*)nullptr);
    _exit(0);
  }
  close(fds[0]);
  m_watchdogPipe = fds[1];
  m_watchdogPid = w;

  if (!Run({m_bin + "/initdb", "-D", data, "-U", kAdmin, "--auth=trust", "-E", "UTF8", "--locale=C", "--no-sync"})) {
    m_why = "initdb failed (see " + m_dir + "/setup.log)";
    return false;
  }
  for (int attempt = 0; attempt < 5; ++attempt) {
    m_port = FreeTcpPort();
    std::string o = "-p " + std::to_string(m_port) + " -k " + m_dir + " -c listen_addresses=127.0.0.1" +
                    (m_durable ? "" : " -c fsync=off -c full_page_writes=off -c synchronous_commit=off") +
                    " -c max_connections=200";
    if (Run({pgctl, "-D", data, "-o", o, "-l", m_dir + "/server.log", "-w", "-t", "60", "start"})) {
      std::string error;
      if (Exec("postgresql://" + std::string(kAdmin) + "@127.0.0.1:" + std::to_string(m_port) + "/postgres",
               "SELECT 1", &error))
        return true;
      m_why = "the cluster does not answer: " + error;
      return false;
    }
  }
  m_why = "pg_ctl start failed (see " + m_dir + "/server.log)";
  return false;
}

void CPgCluster::Stop() {
  if (m_watchdogPipe < 0) return;
  close(m_watchdogPipe);  // the watchdog stops the cluster and removes the folder
  m_watchdogPipe = -1;
  waitpid(m_watchdogPid, nullptr, 0);
  m_up = false;
}

std::string CPgCluster::NewDatabase() {
  std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++m_counter);
  std::string base = "postgresql://" + std::string(kAdmin) + "@127.0.0.1:" + std::to_string(m_port) + "/";
  if (!Exec(base + "postgres", "CREATE DATABASE " + name)) return std::string();
  return base + name;
}

bool CPgCluster::Exec(const std::string& url, const std::string& sql, std::string* error) {
  PGconn* c = PQconnectdb(url.c_str());
  bool ok = false;
  if (PQstatus(c) == CONNECTION_OK) {
    PGresult* r = PQexec(c, sql.c_str());
    ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok && error) *error = PQresultErrorMessage(r);
    PQclear(r);
  } else if (error) {
    *error = PQerrorMessage(c);
  }
  PQfinish(c);
  return ok;
}

bool CPgCluster::DropConnections(const std::string& url) {
  std::string name = url.substr(url.rfind('/') + 1);
  return Exec(url.substr(0, url.rfind('/') + 1) + "postgres",
              "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname='" + name + "'");
}

}  // namespace qbtest

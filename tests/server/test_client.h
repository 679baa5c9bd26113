// A real qimbo-server process and plain-UDP clients on loopback addresses
// (127.0.0.2, 127.0.0.3, ...) that speak through the program's message
// functions, for the end-to-end suite.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/message.h"

namespace qbtest {

struct ServerPorts {
  int server = 0;  // the server's five ports start here
  int client = 0;  // ... and the programs' five ports here
  uint32_t address = 0x0100007f;  // where the server listens: 127.0.0.1
};

class CServerProcess {
 public:
  CServerProcess() = default;
  ~CServerProcess();
  // Runs "qimbo-server serve" on 127.0.0.1 with ports away from the defaults
  // and waits until it listens. False when it does not come up.
  bool Start(const std::string& db, const std::vector<std::string>& extra = {});
  // Another qimbo-server program than the one built with the suite (soak comparisons).
  void SetExecutable(const std::string& exe) { m_exe = exe; }
  // Another loopback address to listen on, with the same ports as `ports`
  // (a second instance next to the first); set before Start.
  void SetListen(uint32_t address, const ServerPorts& ports) {
    m_listen = address;
    m_fixedPorts = ports;
  }
  // SIGKILL: as a crash would end it.
  void Kill();
  // SIGTERM (or `sig`), then the exit status (-1 when it did not end by itself).
  int Stop(int sig = SIGTERM);
  std::string Log() const;  // everything it wrote on stderr so far
  const ServerPorts& Ports() const { return m_ports; }
  bool Running() const;
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  std::string m_exe;
  std::string m_logPath;
  ServerPorts m_ports;
  uint32_t m_listen = 0;
  ServerPorts m_fixedPorts;
};

// Runs "qimbo-server user ..." on `db`; the exit status.
int RunUserCommand(const std::string& db, const std::vector<std::string>& words);
// Runs a program to its end (at most `limitMs`); its exit status, with
// what it wrote on stdout and stderr in `output`.
int RunCapture(const std::vector<std::string>& args, const std::string& scratch, std::string& output,
               int limitMs = 30000);

// A datagram's text split as every handler reads it: the number, the type
// and the fields after them.
inline void SplitHead(const std::string& text, qb::FieldList& f, int32_t& n, std::string& type) {
  qb::SplitFields(text, f);
  std::string field;
  qb::TakeField(f, field);
  n = qb::ReadNumber(field);
  qb::TakeField(f, type);
}

struct Received {
  uint32_t from = 0;
  int k = 0;  // which of the client's five ports it came in on
  int32_t n = 0;
  std::string type;
  qb::FieldList f;  // the fields after number and type
  std::string payload;
};

class CTestClient {
 public:
  CTestClient(uint32_t address, const ServerPorts& ports);
  ~CTestClient();
  CTestClient(const CTestClient&) = delete;
  CTestClient& operator=(const CTestClient&) = delete;
  bool Ok() const { return m_ok; }
  uint32_t Address() const { return m_address; }

  // Numbered from the client's own counter, to server port base + k; returns the number.
  int32_t Request(int k, const std::string& body);
  void Reply(int k, int32_t n, const std::string& body);  // carries the server's number
  void SendRaw(int k, const std::string& bytes);
  void SendToPeer(uint32_t peer, int k, const std::string& body);

  // The first datagram (earlier ones kept for later calls) that `match`
  // accepts. The time limit only guards against a hang.
  bool WaitFor(const std::function<bool(const Received&)>& match, Received& out, int limitMs = 5000);
  bool WaitType(const std::string& type, const std::string& sub, Received& out, int limitMs = 5000);
  // Everything received and not yet taken, after a short drain.
  std::vector<Received> Backlog();

  // A login whose acceptance names `user`.
  bool LoginAccepted(int32_t user, const std::string& pw, int limitMs = 5000);
  // Uploads `nodes` as the program does, one at a time, stopping after
  // `stopAfter`; true when every message sent was acknowledged.
  bool Upload(int32_t user, const std::string& pw, const std::vector<qb::NodeWire>& nodes,
              size_t stopAfter = SIZE_MAX, int limitMs = 5000);

 private:
  void Drain(int waitMs);
  uint32_t m_address;
  ServerPorts m_ports;
  int m_fd[5] = {-1, -1, -1, -1, -1};
  bool m_ok = false;
  int32_t m_counter = 0;
  std::vector<Received> m_backlog;
};

}  // namespace qbtest

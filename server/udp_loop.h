// The five UDP sockets of the server and the loop that feeds CServer.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "server.h"

namespace qsrv {

struct LoopConfig {
  std::string listen = "0.0.0.0";
  int serverPortBase = 5080;  // the server listens on base .. base + 4
  int clientPortBase = 5030;  // a reply to port base + k goes to the program's port base + k
};

uint64_t MonotonicMs();

class CUdpPorts : public IDatagramOut {
 public:
  CUdpPorts() = default;
  ~CUdpPorts() override;
  CUdpPorts(const CUdpPorts&) = delete;
  CUdpPorts& operator=(const CUdpPorts&) = delete;

  bool Open(const LoopConfig& config, std::string& error);
  void SendDatagram(uint32_t address, int portIndex, const std::string& payload) override;
  int Socket(int k) const { return m_fd[k]; }

 private:
  int m_fd[kServerPorts] = {-1, -1, -1, -1, -1};
  int m_clientPortBase = 5030;
};

// Runs until `stop` becomes true (SIGINT and SIGTERM set it when
// InstallStopSignals was called; another thread may set it too). Returns 0.
// The answers of `pool` (password checks), `lookups` (users looked up) and
// `writes` (trees stored, presence written), when given, are handed to the
// server on this thread too.
int RunLoop(CServer& server, CUdpPorts& ports, const std::atomic<bool>& stop, CWorkerPool* pool = nullptr,
            CWorkerPool* lookups = nullptr, CWorkerPool* writes = nullptr);
// Makes SIGINT and SIGTERM set the returned flag; they are delivered only
// while the loop waits, so no system call is cut short elsewhere.
std::atomic<bool>& InstallStopSignals();

}  // namespace qsrv

// qimbo-server's message handling: datagrams from four addresses, with the
// clock moving on and password checks answered late, as the server's thread
// pool answers them, against a real (in-memory) SQLite database.
//
// Input: records separated by the byte FF, each an op byte and its payload:
//   A, B, C, D  a datagram from one of four addresses (port index 0)
//   E           a datagram from address A on port index 3
//   t           the clock moves on by the payload's number of milliseconds; a tick
//   p           the password checks waiting are answered
// Users 100, 200 and 300 exist with the passwords pw1, pw2 and pw3.
#include <deque>
#include <functional>
#include <memory>

#include "fuzz_util.h"
#include "net/message.h"
#include "password.h"
#include "server.h"
#include "storage.h"

using namespace qsrv;

namespace {

class CCheckOut : public IDatagramOut {
 public:
  void SendDatagram(uint32_t, int portIndex, const std::string& payload) override {
    FUZZ_CHECK(portIndex >= 0 && portIndex < kServerPorts);
    FUZZ_CHECK(payload.size() <= kMaxDatagram);
    FUZZ_CHECK(payload.size() >= 3 && payload[0] == '<');
    FUZZ_CHECK(payload.compare(payload.size() - 3, 3, std::string("\r\n\0", 3)) == 0);
    qb::FieldList f;
    FUZZ_CHECK(qb::SplitFields(payload, f));
  }
};

// Password checks answered when the input says so, like the worker pool's.
class CLateCheck : public IPasswordCheck {
 public:
  void Check(const std::string& hash, const std::string& password, std::function<void(bool)> done) override {
    waiting.push_back([hash, password, done] { done(VerifyPassword(hash, password)); });
  }
  void RunAll() {
    std::deque<std::function<void()>> now;
    now.swap(waiting);
    for (auto& f : now) f();
  }
  std::deque<std::function<void()>> waiting;
};

struct Users {
  std::string hash[3];
  Users() {
    FUZZ_CHECK(InitPasswords());
    const char* pw[3] = {"pw1", "pw2", "pw3"};
    for (int i = 0; i < 3; ++i) FUZZ_CHECK(HashPassword(pw[i], hash[i], HashCost::Minimum));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Users users;
  std::string error;
  std::unique_ptr<IStorage> storage = OpenSqliteStorage(":memory:", error);
  FUZZ_CHECK(storage != nullptr);
  const char* nick[3] = {"张三", "lisi", ""};
  for (int i = 0; i < 3; ++i) {
    UserRecord u;
    u.number = 100 * (i + 1);
    u.hash = users.hash[i];
    u.nickname = nick[i];
    FUZZ_CHECK(storage->AddUser(u));
  }

  // Small limits, so that short inputs reach them.
  ServerOptions opt;
  opt.newestVersion = 1061;
  opt.chatAd = "http://ad.example.com/";
  opt.maxSessions = 3;
  opt.maxTreeNodes = 40;
  opt.maxStagedBytes = 16 << 10;
  opt.maxStagedTotal = 24 << 10;
  opt.maxTransfers = 2;
  opt.maxWordsPerUser = 4;
  opt.maxWordsPerSender = 2;
  opt.maxCirclesPerUser = 4;
  opt.maxFailRecords = 8;
  opt.maxKnownLogins = 4;
  opt.maxPendingChecks = 4;
  opt.maxChecksAtOnce = 2;
  opt.wallClock = [] { return (int64_t)1700000000; };
  opt.log = [](const std::string&) {};

  CCheckOut out;
  CLateCheck check;
  CServer server(*storage, out, opt, &check);
  const uint32_t address[4] = {0x0100007F, 0x0200007F, 0x0300007F, 0x0400007F};
  uint64_t now = 1000;
  for (const qfuzz::Record& r : qfuzz::SplitRecords(data, size)) {
    std::string datagram = r.payload;
    datagram.push_back('\0');
    if (r.op >= 'A' && r.op <= 'D') {
      server.OnDatagram(address[r.op - 'A'], 0, datagram.data(), datagram.size(), now);
    } else if (r.op == 'E') {
      server.OnDatagram(address[0], 3, datagram.data(), datagram.size(), now);
    } else if (r.op == 't') {
      int32_t ms = qb::ReadNumber(r.payload);
      now += ms < 0 ? 0 : (uint64_t)ms;
      server.OnTick(now);
    } else if (r.op == 'p') {
      check.RunAll();
    }
    FUZZ_CHECK(server.SessionCount() <= opt.maxSessions);
    FUZZ_CHECK(server.StagedBytes() <= opt.maxStagedTotal);
  }
  check.RunAll();
  return 0;
}

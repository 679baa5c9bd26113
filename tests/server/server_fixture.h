// The protocol core with a recording output, an in-memory database, a fake
// clock and (when a test wants one) a password check that answers on demand.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/message.h"
#include "password.h"
#include "server.h"
#include "test_client.h"

namespace qbtest {

using namespace qsrv;

struct Sent {
  uint32_t address;
  int k;
  std::string payload;
  qb::FieldList f;  // fields after number and type
  int32_t n;
  std::string type;
};

class CRecordingOut : public IDatagramOut {
 public:
  std::vector<Sent> sent;
  void SendDatagram(uint32_t address, int k, const std::string& payload) override {
    Sent s{address, k, payload, {}, 0, {}};
    SplitHead(payload, s.f, s.n, s.type);
    sent.push_back(std::move(s));
  }
};

inline const uint32_t A = qb::MakeAddress(10, 0, 0, 1);
inline const uint32_t B = qb::MakeAddress(10, 0, 0, 2);
inline const uint32_t C = qb::MakeAddress(10, 0, 0, 3);

class ServerCore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    storage = OpenSqliteStorage(":memory:", error);
    ASSERT_TRUE(storage) << error;
    AddUser(100, "secret", "\xD5\xC5\xC8\xFD");  // 张三
    AddUser(200, "pw200", "lisi");
    AddUser(300, "pw300", "");
    opt.log = [this](const std::string& line) { log.push_back(line); };
    opt.wallClock = [] { return (int64_t)1700000000; };
    Restart();
  }
  void Restart() { server.reset(new CServer(*storage, out, opt)); }
  void AddUser(int32_t n, const std::string& pw, const std::string& nick) {
    UserRecord u;
    u.number = n;
    u.nickname = nick;
    ASSERT_TRUE(HashPassword(pw, u.hash, HashCost::Minimum));
    ASSERT_TRUE(storage->AddUser(u));
  }
  void Send(uint32_t address, int k, int32_t n, const std::string& body) {
    std::string d = qb::FrameMessage(n, body) + '\0';
    server->OnDatagram(address, k, d.data(), d.size(), now);
  }
  std::vector<Sent> Take() {
    std::vector<Sent> s;
    s.swap(out.sent);
    return s;
  }
  std::vector<Sent> TakeFor(uint32_t address) {
    std::vector<Sent> all = Take(), mine;
    for (auto& s : all)
      if (s.address == address) mine.push_back(s);
    return mine;
  }
  // What 100 is sent last on logging in from A, the plaza list; empty when nothing came.
  Sent PlazaAfterLogin() {
    Send(A, 0, 1, qb::MsgLogin(100, "secret"));
    std::vector<Sent> s = TakeFor(A);
    return s.empty() ? Sent{A, 0, "", {}, 0, ""} : s.back();
  }
  void Login(uint32_t address, int32_t user, const std::string& pw) {
    Take();  // a keep-alive's answer, say
    Send(address, 0, 1, qb::MsgLogin(user, pw));
    std::vector<Sent> s = TakeFor(address);
    ASSERT_FALSE(s.empty());
    ASSERT_EQ("LGI", s[0].type);
    ASSERT_EQ("OK", s[0].f.at(0));
    Take();
  }
  bool Logged(const std::string& part) {
    for (auto& l : log)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  std::unique_ptr<IStorage> storage;
  CRecordingOut out;
  ServerOptions opt;
  std::unique_ptr<CServer> server;
  std::vector<std::string> log;
  uint64_t now = 1000;
};

// Holds every check until the test answers it, like a busy worker pool.
class CDeferredCheck : public IPasswordCheck {
 public:
  std::vector<std::pair<bool, std::function<void(bool)>>> pending;
  void Check(const std::string& hash, const std::string& password, std::function<void(bool)> done) override {
    pending.push_back({VerifyPassword(hash, password), std::move(done)});
  }
  void Answer(size_t i) { pending[i].second(pending[i].first); }
};

// Holds every look-up of users until the test answers it, like a database
// far away; the answer comes from the real storage.
class CDeferredLookup : public IUserLookup {
 public:
  explicit CDeferredLookup(std::unique_ptr<IStorage>& storage) : m_storage(storage) {}
  std::vector<std::pair<std::vector<int32_t>, std::function<void(bool, const std::vector<UserRecord>&)>>> pending;
  void Find(const std::vector<int32_t>& numbers,
            std::function<void(bool, const std::vector<UserRecord>&)> done) override {
    pending.push_back({numbers, std::move(done)});
  }
  void Answer(size_t i, bool answered = true) {
    std::vector<UserRecord> found;
    if (answered) m_storage->FindUsers(pending[i].first, found);
    pending[i].second(answered, found);
  }

 private:
  std::unique_ptr<IStorage>& m_storage;
};

}  // namespace qbtest

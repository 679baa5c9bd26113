#include "server.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "base/cipher.h"
#include "base/codepage.h"
#include "password.h"

namespace qsrv {

using qb::FieldList;

namespace {

const char kNoAddressDotted[] = "0.0.0.0";
const size_t kMaxCircleKey = 250;
const size_t kMaxPassword = 20;

// Cuts GBK text to at most `max` bytes without splitting a double-byte character.
std::string CutGbk(const std::string& text, size_t max) {
  size_t i = 0;
  while (i < text.size()) {
    size_t step = ((unsigned char)text[i] >= 0x81 && i + 1 < text.size()) ? 2 : 1;
    if (i + step > max) break;
    i += step;
  }
  return text.substr(0, i);
}

std::string LogText(const std::string& gbk) { return qb::ToUtf8(gbk); }

// An upload made from an older revision than the stored tree's.
std::string MsgFavUpStale(int32_t current) { return "<FAV><UP><STALE>" + qb::BracketNumber(current); }

// Names travel between instances as hex: any byte, no space.
std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}
std::string FromHex(const std::string& hex) {
  auto value = [](char c) { return c >= 'a' ? c - 'a' + 10 : c - '0'; };
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (char)(value(hex[i]) * 16 + value(hex[i + 1]));
  return out;
}

}  // namespace

namespace {
LoginLimits LimitsOf(const ServerOptions& o) {
  LoginLimits l;
  l.addressFailLimit = o.loginFailLimit;
  l.userFailLimit = o.userFailLimit;
  l.windowMs = o.loginFailWindowMs;
  l.maxFailRecords = o.maxFailRecords;
  l.maxKnownPairs = o.maxKnownLogins;
  return l;
}
}  // namespace

CServer::CServer(IStorage& storage, IDatagramOut& out, ServerOptions options, IPasswordCheck* check,
                 IUserLookup* lookup, IDatabaseWriter* writer)
    : m_storage(storage),
      m_out(out),
      m_check(check ? check : &m_inlineCheck),
      m_opt(std::move(options)),
      m_gate(LimitsOf(m_opt)),
      m_lookup(lookup),
      m_refusals(m_opt.logSummaryMs, [this](const std::string& line) { Log(line); }),
      m_cluster(ClusterOf(storage)),
      m_writer(writer) {
  InitPasswords();
  // Changes made before this start concern no session of ours.
  std::vector<int32_t> changed;
  m_storage.AccountChangesSince(m_accountChange, changed);
}

// ---- receiving ------------------------------------------------------------------

void CServer::OnDatagram(uint32_t address, int k, const char* data, size_t size, uint64_t now) {
  ++m_counters.received;
  m_now = now;
  if (!m_clockStarted) {
    m_clockStarted = true;
    m_nextAccountPoll = now + m_opt.accountPollMs;
  }
  if (size > kMaxDatagram) {
    ++m_counters.oversized;
    return;
  }
  size_t len = 0;
  while (len < size && data[len] != 0) ++len;
  std::string text(data, len);
  FieldList f;
  if (!qb::SplitFields(text, f) || f.size() < 2) {
    ++m_counters.malformed;
    return;
  }
  if (k < 0 || k >= kServerPorts) k = 0;
  Dispatch(address, k, text, f, now);
}

void CServer::Dispatch(uint32_t address, int k, const std::string& text, FieldList& f, uint64_t now) {
  std::string field, type;
  qb::TakeField(f, field);
  int32_t n = qb::ReadNumber(field);
  qb::TakeField(f, type);
  // Any message from a logged-in user's address counts as a sign of life.
  if (Session* s = SessionAt(address)) s->lastSeen = now;
  if (type == "LGI") OnLogin(address, k, n, f, now);
  else if (type == "LGO") OnLogout(address, f, now);
  else if (type == "LIV") OnKeepAlive(address, k, n, f, now);
  else if (type == "REQWORDS") OnReqWords(address, f);
  else if (type == "LEAVEWORD") OnLeaveWord(address, text, f);
  else if (type == "FAV") OnFav(address, k, n, f, now);
  else if (type == "GROUP") OnGroup(address, k, n, f);
  else ++m_counters.unknown;
}

// ---- sessions -------------------------------------------------------------------

CServer::Session* CServer::SessionAt(uint32_t address) {
  auto a = m_byAddress.find(address);
  if (a == m_byAddress.end()) return nullptr;
  auto s = m_sessions.find(a->second);
  return s == m_sessions.end() ? nullptr : &s->second;
}

CServer::Session* CServer::SessionAt(uint32_t address, int32_t user) {
  Session* s = SessionAt(address);
  return s && s->user == user ? s : nullptr;
}

void CServer::CheckPassword(uint32_t address, int32_t user, const std::string& password, bool sessionFirst,
                            uint64_t now, std::function<void(Refusal, const UserRecord&)> done) {
  UserRecord rec;
  rec.number = user;
  Session* s = SessionAt(address, user);
  Refusal why = m_gate.Admit(address, user, now, s != nullptr);
  if (why != Refusal::None) return done(why, rec);
  if (s && sessionFirst) {
    rec.nickname = s->nickname;
    if (DigestMatches(s->digest, password)) return done(Refusal::None, rec);
    m_gate.NoteFailure(address, user, true, now);
    return done(Refusal::WrongPassword, rec);
  }
  // A login over the live session: its password is checked against the
  // stored hash the session holds, without asking the database. A change of
  // password or a deleted user ends the session at the next look at the
  // account changes (PollAccountChanges), as it ends the session's own
  // requests; a password the kept hash refuses is checked against the
  // database's before it counts as wrong (it may be the new one).
  if (s && !s->hash.empty() && password.size() <= kMaxPassword && m_storage.Reachable()) {
    rec.hash = s->hash;
    rec.nickname = s->nickname;
    uint64_t round = m_changeRounds;
    auto orAsk = [this, address, user, password, round, done](Refusal why, const UserRecord& kept) {
      if (why == Refusal::None && round == m_changeRounds) return done(why, kept);
      if (why != Refusal::None && why != Refusal::WrongPassword) return done(why, kept);
      AskStored({address, user, password, done, why == Refusal::WrongPassword ? kept.hash : std::string()});
    };
    return CheckStored(address, user, password, true, rec, now, orAsk, true);
  }
  AskStored({address, user, password, std::move(done), std::string()});
}

void CServer::AskStored(Lookup l) {
  UserRecord rec;
  rec.number = l.user;
  if (m_lookupsWaiting >= m_opt.maxPendingChecks) return l.done(Refusal::ChecksFull, rec);
  // A record read before an account change was seen is not kept by the session.
  uint64_t round = m_changeRounds;
  auto done = std::move(l.done);
  l.done = [this, round, done](Refusal why, const UserRecord& found) {
    if (why != Refusal::None || round == m_changeRounds) return done(why, found);
    UserRecord unkept = found;
    unkept.hash.clear();
    done(why, unkept);
  };
  m_lookups.push_back(std::move(l));
  if (!m_holdLookups) RunLookups();
}

void CServer::RunLookups() {
  m_holdLookups = false;
  if (m_lookups.empty()) return;
  auto lookups = std::make_shared<std::vector<Lookup>>();
  lookups->swap(m_lookups);
  std::vector<int32_t> numbers;
  for (const Lookup& l : *lookups) numbers.push_back(l.user);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  if (!m_lookup) {
    std::vector<UserRecord> found;
    bool answered = m_storage.FindUsers(numbers, found);
    return FinishLookups(*lookups, answered, found);
  }
  m_lookupsWaiting += lookups->size();
  m_lookup->Find(numbers, [this, lookups](bool answered, const std::vector<UserRecord>& found) {
    m_lookupsWaiting -= lookups->size();
    FinishLookups(*lookups, answered, found);
  });
}

void CServer::FinishLookups(std::vector<Lookup>& lookups, bool answered, const std::vector<UserRecord>& found) {
  std::unordered_map<int32_t, const UserRecord*> byNumber;
  for (const UserRecord& u : found) byNumber[u.number] = &u;
  for (Lookup& l : lookups) {
    auto it = byNumber.find(l.user);
    UserRecord rec;
    rec.number = l.user;
    // A look-up that failed says nothing of anyone: no wrong password either.
    if (!answered) l.done(Refusal::NoDatabase, rec);
    else if (it == byNumber.end()) CheckStored(l.address, l.user, l.password, false, rec, m_now, l.done);
    else if (!l.wrongHash.empty() && it->second->hash == l.wrongHash) {
      // Checked against this very hash already: wrong, without a second slow check.
      m_gate.NoteFailure(l.address, l.user, true, m_now);
      l.done(Refusal::WrongPassword, rec);
    }
    else CheckStored(l.address, l.user, l.password, true, *it->second, m_now, l.done);
  }
}

void CServer::CheckStored(uint32_t address, int32_t user, const std::string& password, bool exists, UserRecord rec,
                          uint64_t now, const std::function<void(Refusal, const UserRecord&)>& done, bool kept) {
  // Without the database nothing is known of the user: no wrong password either.
  if (!exists && !m_storage.Reachable()) return done(Refusal::NoDatabase, rec);
  if (!exists || password.size() > kMaxPassword) {
    m_gate.NoteFailure(address, user, exists, now);
    return done(Refusal::WrongPassword, rec);
  }
  // One slow check per address at a time.
  if (m_checking.count(address)) return done(Refusal::CheckUnderWay, rec);
  WaitingCheck check;
  check.address = address;
  check.user = user;
  check.hash = rec.hash;
  check.password = password;
  check.kept = kept;
  check.done = [rec, done](Refusal why) { done(why, rec); };
  if (!QueueCheck(std::move(check))) return done(Refusal::ChecksFull, rec);
  RunChecks();
}

bool CServer::QueueCheck(WaitingCheck check) {
  if (m_waiting.size() >= m_opt.maxPendingChecks) {
    // Full: the newest check of the lowest rank gives way to a better one.
    auto worst = m_waiting.end();
    int worstRank = -1;
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
      int rank = RankOf(*it);
      if (rank >= worstRank) worst = it, worstRank = rank;
    }
    if (worst == m_waiting.end() || worstRank <= RankOf(check)) return false;
    WaitingCheck out = std::move(*worst);
    m_waiting.erase(worst);
    m_checking.erase(out.address);
    out.done(Refusal::ChecksFull);
  }
  m_checking.insert(check.address);
  m_waiting.push_back(std::move(check));
  return true;
}

void CServer::RunChecks() {
  // A check answered at once (no pool) comes back in here: the outer loop goes on.
  if (m_runningChecks) return;
  m_runningChecks = true;
  size_t workers = std::max<size_t>(1, m_opt.maxChecksAtOnce);
  size_t suspectWorkers = std::max<size_t>(1, workers - 1);
  while (m_checksRunning < workers && !m_waiting.empty()) {
    // The best rank, the oldest of it; checks the limits closed on meanwhile go.
    std::vector<WaitingCheck> closed;
    auto best = m_waiting.end();
    int bestRank = CLoginGate::kAddressFailing + 1;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
      if (m_gate.Admit(it->address, it->user, m_now, SessionAt(it->address, it->user) != nullptr) != Refusal::None) {
        m_checking.erase(it->address);
        closed.push_back(std::move(*it));
        it = m_waiting.erase(it);
        continue;
      }
      int rank = RankOf(*it);
      if (rank < bestRank) best = it, bestRank = rank;
      ++it;
    }
    for (WaitingCheck& c : closed)
      c.done(m_gate.Admit(c.address, c.user, m_now, SessionAt(c.address, c.user) != nullptr));
    bool suspect = bestRank >= CLoginGate::kUserFailing;
    if (best == m_waiting.end() || (suspect && m_suspectsRunning >= suspectWorkers)) break;
    WaitingCheck c = std::move(*best);
    m_waiting.erase(best);
    ++m_checksRunning;
    m_suspectsRunning += suspect;
    uint32_t address = c.address;
    int32_t user = c.user;
    bool kept = c.kept;
    std::function<void(Refusal)> done = std::move(c.done);
    m_check->Check(c.hash, c.password, [this, address, user, suspect, kept, done](bool ok) {
      --m_checksRunning;
      m_suspectsRunning -= suspect;
      m_checking.erase(address);
      if (ok) m_gate.NoteSuccess(address, user);
      else if (!kept) m_gate.NoteFailure(address, user, true, m_now);
      done(ok ? Refusal::None : Refusal::WrongPassword);
      RunChecks();
    });
  }
  m_runningChecks = false;
}

void CServer::Authenticate(uint32_t address, int32_t user, const std::string& password, uint64_t now,
                           const char* what, std::function<void(Session*)> then) {
  std::string who = std::string(what) + " for user " + qb::FormatNumber(user);
  std::string kind = std::string(what) + "s";
  // Without a session here the server may have restarted under a user who is
  // still logged in as far as his program knows: a right password opens one again.
  CheckPassword(address, user, password, true, now,
                [this, address, password, who, kind, then](Refusal why, const UserRecord& rec) {
                  if (why != Refusal::None) {
                    Refused(address, kind.c_str(), who, RefusalText(why));
                    return then(nullptr);
                  }
                  Session* s = SessionAt(address, rec.number);  // it may have come meanwhile
                  if (!s) s = OpenSession(address, rec, password, m_now);
                  if (!s) Refused(address, kind.c_str(), who, RefusalText(Refusal::TooManySessions));
                  then(s);
                });
}

CServer::Session* CServer::OpenSession(uint32_t address, const UserRecord& user, const std::string& password,
                                       uint64_t now, std::function<void()> known) {
  if (Session* other = SessionAt(address))
    if (other->user != user.number) EndSession(other->user, "another user logged in from the same address");
  auto old = m_sessions.find(user.number);
  if (old != m_sessions.end() && old->second.address != address) {
    NoteDisplaced(user.number, old->second.address);
    EndSession(user.number, "logged in elsewhere");
  }
  if (m_sessions.size() >= m_opt.maxSessions) return nullptr;
  Session& s = m_sessions[user.number];
  s.user = user.number;
  s.address = address;
  s.nickname = user.nickname;
  s.digest = SessionDigest(password);
  s.hash = user.hash;
  s.lastSeen = now;
  m_byAddress[address] = user.number;
  Log("login user " + qb::FormatNumber(user.number) + " from " + qb::DottedAddress(address));
  std::string add = qb::MsgChatAddUser(qb::DottedAddress(address), PlazaName(s));
  for (auto& kv : m_sessions)
    if (kv.first != user.number) Push(kv.second, add);
  if (m_cluster) {
    // The other instances learn of him; the one he was on before lets go.
    s.presenceAt = now;
    int32_t number = user.number;
    std::string nickname = user.nickname, dotted = qb::DottedAddress(address);
    std::string join = "join " + qb::FormatNumber(number) + " " + dotted + " " + ToHex(PlazaName(s));
    OnCluster(
        [number, address, nickname, dotted, join](ICluster& c) {
          // The presence and the news of his coming in one step.
          std::string previous;
          bool recorded = c.SetPresence(number, address, nickname, previous, join);
          if (!recorded) c.Notify("", join);  // the others hear of him all the same
          else if (!previous.empty()) c.Notify(previous, "kick " + qb::FormatNumber(number) + " " + dotted);
          return recorded;
        },
        [this, number, known](bool ok) {
          if (!ok) Log("error: cannot record the presence of user " + qb::FormatNumber(number));
          if (known) known();
        });
  } else if (known) {
    known();
  }
  return &s;
}

void CServer::EndSession(int32_t user, const char* why, bool tellOthers) {
  auto it = m_sessions.find(user);
  if (it == m_sessions.end()) return;
  uint32_t address = it->second.address;
  if (it->second.up.active) Log("upload of user " + qb::FormatNumber(user) + " dropped: session ended");
  if (it->second.down.active) Log("download of user " + qb::FormatNumber(user) + " dropped: session ended");
  m_stagedTotal -= it->second.up.bytes + it->second.down.bytes;
  m_byAddress.erase(address);
  m_downloading.erase(user);
  m_sessions.erase(it);
  Log("logout user " + qb::FormatNumber(user) + " (" + why + ")");
  std::string dele = qb::MsgChatDeleUser(qb::DottedAddress(address));
  for (auto& kv : m_sessions) Push(kv.second, dele);
  if (m_cluster) {
    std::string leave = tellOthers ? "leave " + qb::FormatNumber(user) + " " + qb::DottedAddress(address) : "";
    OnCluster([user, leave](ICluster& c) { return c.DropPresence(user) && (leave.empty() || c.Notify("", leave)); });
  }
}

void CServer::OnCluster(std::function<bool(ICluster&)> work, std::function<void(bool)> after) {
  if (m_writer) return m_writer->Cluster(std::move(work), std::move(after));
  bool ok = work(*m_cluster);
  if (after) after(ok);
}

void CServer::Shutdown() {
  // Trees on their way to the database are stored and answered first.
  if (m_writer) m_writer->Finish();
  if (!m_cluster) return;
  std::vector<int32_t> users;
  for (auto& kv : m_sessions) users.push_back(kv.first);
  // The other instances take them for gone now rather than at their time-out.
  for (int32_t u : users) EndSession(u, "the server stops");
  if (m_writer) m_writer->Finish();
}

// ---- instances sharing the database -------------------------------------------------

void CServer::OnClusterEvents(uint64_t now) {
  if (!m_cluster) return;
  m_now = now;
  std::vector<std::string> events;
  m_cluster->TakeEvents(events);
  for (const std::string& e : events) {
    std::vector<std::string> w;
    size_t at = 0;
    while (at <= e.size()) {
      size_t sp = e.find(' ', at);
      if (sp == std::string::npos) sp = e.size();
      w.push_back(e.substr(at, sp - at));
      at = sp + 1;
    }
    int32_t user = w.size() > 1 ? qb::ReadNumber(w[1]) : 0;
    uint32_t address = w.size() > 2 ? qb::ParseDottedAddress(w[2]) : 0;
    if (w[0] == "join" && w.size() == 4) {
      std::string add = qb::MsgChatAddUser(w[2], FromHex(w[3]));
      for (auto& kv : m_sessions)
        if (kv.first != user) Push(kv.second, add);
    } else if (w[0] == "leave" && w.size() == 3) {
      // The address may be in use here already, by whoever holds it now.
      if (SessionAt(address)) continue;
      std::string dele = qb::MsgChatDeleUser(w[2]);
      for (auto& kv : m_sessions) Push(kv.second, dele);
    } else if (w[0] == "kick" && w.size() == 3) {
      auto it = m_sessions.find(user);
      if (it == m_sessions.end()) continue;
      if (it->second.address != address) NoteDisplaced(user, it->second.address);
      EndSession(user, "logged in elsewhere", it->second.address != address);
    } else if (w[0] == "words" && w.size() == 2) {
      auto it = m_sessions.find(user);
      if (it != m_sessions.end()) DeliverWords(it->second);
    }
  }
}

void CServer::RefreshPresence(uint64_t now) {
  // A keep-alive is written at most every quarter of the time-out, so the
  // others see him online as long as his session lives here.
  uint64_t every = std::max<uint64_t>(1, std::min<uint64_t>(m_opt.sessionTimeoutMs / 4, 60 * 1000));
  std::vector<int32_t> due;
  for (auto& kv : m_sessions)
    if (kv.second.lastSeen >= kv.second.presenceAt + every) due.push_back(kv.first);
  for (int32_t u : due) m_sessions[u].presenceAt = now;
  uint64_t timeout = m_opt.sessionTimeoutMs;
  OnCluster(
      [due, timeout](ICluster& c) {
        bool touched = due.empty() || c.TouchPresence(due);
        // Those of an instance that went away without a word go by the same time-out.
        c.ExpirePresence(timeout);
        return touched;
      },
      [this, due](bool touched) {
        // Written once more at the next look.
        if (!touched)
          for (int32_t u : due)
            if (m_sessions.count(u)) m_sessions[u].presenceAt = 0;
      });
}

// ---- login, keep-alive, logout, leave-words --------------------------------------

void CServer::OnLogin(uint32_t address, int k, int32_t n, FieldList& f, uint64_t now) {
  std::string version, userField, coded;
  if (!qb::TakeField(f, version) || !qb::TakeField(f, userField) || !qb::TakeField(f, coded)) {
    ++m_counters.malformed;
    return;
  }
  int32_t user = qb::ReadNumber(userField);
  std::string password = qb::DecodeText(coded);
  // A login is always checked against the stored hash, even over a live
  // session (the hash the session holds, see CheckPassword).
  CheckPassword(address, user, password, false, now,
                [this, address, k, n, user, password](Refusal why, const UserRecord& rec) {
                  if (why == Refusal::None) return FinishLogin(address, k, n, rec, password);
                  Refused(address, "logins", "login of user " + qb::FormatNumber(user), RefusalText(why));
                  Reply(address, k, n, qb::MsgLoginRefused());
                });
}

void CServer::FinishLogin(uint32_t address, int k, int32_t n, const UserRecord& rec, const std::string& password) {
  std::string who = "login of user " + qb::FormatNumber(rec.number);
  int32_t user = rec.number;
  if (Session* s = SessionAt(address, user)) {  // logging in again over a live session: just renew it
    s->digest = SessionDigest(password);
    s->nickname = rec.nickname;
    s->hash = rec.hash;
    Log("login user " + qb::FormatNumber(user) + " from " + qb::DottedAddress(address) + " (again)");
    return AnswerLogin(address, k, n, user);
  }
  // Answered once the other instances can see him (at once without a writer).
  if (!OpenSession(address, rec, password, m_now, [this, address, k, n, user] { AnswerLogin(address, k, n, user); })) {
    Refused(address, "logins", who, RefusalText(Refusal::TooManySessions));
    return Reply(address, k, n, qb::MsgLoginRefused());
  }
}

void CServer::AnswerLogin(uint32_t address, int k, int32_t n, int32_t user) {
  Session* s = SessionAt(address, user);
  if (!s) return;  // gone meanwhile: the program asks again
  s->lastSeen = m_now;
  auto displaced = m_displaced.find(user);
  if (displaced != m_displaced.end() && displaced->second == address) m_displaced.erase(displaced);
  Reply(address, k, n, qb::MsgLoginOk(user));
  if (m_opt.newestVersion != 0) Push(*s, qb::MsgVersion(m_opt.newestVersion));
  if (!m_opt.chatAd.empty()) Push(*s, qb::MsgChatAd(m_opt.chatAd));
  SendPlazaList(*s);
}

void CServer::OnLogout(uint32_t address, FieldList& f, uint64_t now) {
  std::string userField, coded;
  if (!qb::TakeField(f, userField) || !qb::TakeField(f, coded)) {
    ++m_counters.malformed;
    return;
  }
  int32_t user = qb::ReadNumber(userField);
  // The program sends its logout twice; the second finds nobody, quietly.
  if (!SessionAt(address, user)) return;
  // The session's digest, under the same limits as every other password.
  CheckPassword(address, user, qb::DecodeText(coded), true, now, [this, address, user](Refusal why, const UserRecord&) {
    if (why != Refusal::None)
      return Refused(address, "logouts", "logout of user " + qb::FormatNumber(user), RefusalText(why));
    EndSession(user, "logged out");
  });
}

void CServer::NoteDisplaced(int32_t user, uint32_t address) {
  if (m_displaced.size() >= 4 * m_opt.maxSessions + 1024) m_displaced.clear();  // bounded; a lost note costs little
  m_displaced[user] = address;
}

// Answered, so that the program learns when its session is gone. A program
// whose user logged in on another machine meanwhile is told so: taking the
// session back would throw the other one out, which would take it back...
void CServer::OnKeepAlive(uint32_t address, int k, int32_t n, FieldList& f, uint64_t now) {
  std::string userField, coded;
  if (!qb::TakeField(f, userField) || !qb::TakeField(f, coded)) {
    ++m_counters.malformed;
    return;
  }
  int32_t user = qb::ReadNumber(userField);
  auto displaced = m_displaced.find(user);
  if (!SessionAt(address, user) && displaced != m_displaced.end() && displaced->second == address)
    return Reply(address, k, n, qb::MsgAliveElsewhere());
  Authenticate(address, user, qb::DecodeText(coded), now, "keep-alive", [this, address, k, n](Session* s) {
    if (s) s->lastSeen = m_now;
    Reply(address, k, n, s ? qb::MsgAliveOk() : qb::MsgAliveRefused());
  });
}

void CServer::OnReqWords(uint32_t address, FieldList& f) {
  std::string userField;
  if (!qb::TakeField(f, userField)) {
    ++m_counters.malformed;
    return;
  }
  int32_t user = qb::ReadNumber(userField);
  Session* s = SessionAt(address, user);
  if (!s) {
    Refused(address, "leave-word requests", "leave-words of user " + qb::FormatNumber(user), "not logged in there");
    return;
  }
  DeliverWords(*s);
}

void CServer::DeliverWords(Session& session) {
  Session* s = &session;
  int32_t user = s->user;
  std::vector<LeaveWord> words;
  if (!m_storage.TakeLeaveWords(user, words)) {
    Log("error: cannot read the leave-words of user " + qb::FormatNumber(user));
    return;
  }
  for (const LeaveWord& w : words) {
    UserRecord from;
    std::string name = m_storage.FindUser(w.from, from) && !from.nickname.empty() ? from.nickname : std::string();
    name += "(" + qb::FormatNumber(w.from) + ")";
    char when[32] = "";
    time_t t = (time_t)w.time;
    struct tm tmv;
    if (localtime_r(&t, &tmv)) strftime(when, sizeof when, "%Y-%m-%d %H:%M", &tmv);
    std::string header = "\r\n" + name + "  " + when + "\r\n";
    std::string text = w.text;
    // Worst-case number width, so the datagram fits whatever number it gets.
    while (!FitsDatagram(qb::FrameMessage(INT32_MIN, qb::MsgLWords(w.from, text, header))) && !text.empty())
      text = CutGbk(text, text.size() - 1);
    Push(*s, qb::MsgLWords(w.from, text, header));
  }
  if (!words.empty())
    Log("delivered " + qb::FormatNumber((int32_t)words.size()) + " leave-words to user " + qb::FormatNumber(user));
}

void CServer::OnLeaveWord(uint32_t address, const std::string& text, FieldList& f) {
  std::string userField, targetField;
  if (!qb::TakeField(f, userField) || !qb::TakeField(f, targetField)) {
    ++m_counters.malformed;
    return;
  }
  int32_t user = qb::ReadNumber(userField), target = qb::ReadNumber(targetField);
  // The words are the free text after the last field, before the line end.
  std::string words = text.substr(text.rfind('>') + 1);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r')) words.pop_back();
  std::string who = "leave-word from " + qb::FormatNumber(user) + " to " + qb::FormatNumber(target);
  // The message carries no password: the sender is whoever holds the
  // session at this address, and a leave-word in another's name is refused.
  Session* s = SessionAt(address);
  const char* why = nullptr;
  UserRecord rec;
  if (!s || s->user != user) why = "not logged in there";
  else if (words.empty()) why = "empty";
  else if (!m_storage.FindUser(target, rec)) why = "no such user";
  else if (m_storage.CountLeaveWords(target) >= m_opt.maxWordsPerUser) why = "mailbox full";
  // One sender fills at most his share of a mailbox, so others still reach it.
  else if (m_storage.CountLeaveWordsFrom(target, s->user) >= m_opt.maxWordsPerSender) why = "too many from this sender";
  if (why) return Refused(address, "leave-words", who, why);
  LeaveWord w;
  w.from = s->user;
  words = CutGbk(words, kMaxLeaveWord);
  w.time = m_opt.wallClock ? m_opt.wallClock() : (int64_t)time(nullptr);
  w.text = words;
  if (!m_storage.AddLeaveWord(target, w)) return Log("error: cannot store " + who);
  Log(who);
  // Online through another instance: that one hands it over at once.
  uint64_t timeout = m_opt.sessionTimeoutMs;
  if (m_cluster && !m_sessions.count(target))
    OnCluster([target, timeout](ICluster& c) {
      Presence p;
      return !c.FindOnline(target, timeout, p) || c.Notify(p.instance, "words " + qb::FormatNumber(target));
    });
}

// ---- favorites ------------------------------------------------------------------

void CServer::OnFav(uint32_t address, int k, int32_t n, FieldList& f, uint64_t now) {
  std::string dir, what;
  if (!qb::TakeField(f, dir) || !qb::TakeField(f, what)) {
    ++m_counters.malformed;
    return;
  }
  if (dir != "UP" && dir != "DOWN") {
    ++m_counters.unknown;
    return;
  }
  if (dir == "DOWN" && what == "REQ") return StartDownload(address, k, n, f, now);
  if (dir == "UP" && what == "COUNT") {
    std::string count, userField, password, from;
    if (!qb::TakeField(f, count) || !qb::TakeField(f, userField) || !qb::TakeField(f, password)) {
      ++m_counters.malformed;
      return;
    }
    int32_t user = qb::ReadNumber(userField);
    int32_t total = qb::ReadNumber(count);
    // A trailing field names the revision the tree was made from; without
    // it (the programs before revisions) the upload replaces whatever is stored.
    int32_t fromRevision = qb::TakeField(f, from) && !from.empty() ? qb::ReadNumber(from) : kAnyRevision;
    if (fromRevision < 0) fromRevision = kAnyRevision;
    if (total < 1 || total > m_opt.maxTreeNodes)
      return Refused(address, "uploads",
                     "upload of " + qb::FormatNumber(total) + " nodes by user " + qb::FormatNumber(user),
                     "bad node count");
    Authenticate(address, user, password, now, "upload", [this, address, k, n, total, user, fromRevision](Session* s) {
      // The tree before is still being stored: this is answered when the program sends it again.
      if (!s || s->up.storing) return;
      // The same request again before any node (its answer was lost): the
      // same answer. Once nodes came, a COUNT begins anew, as it always did:
      // a program started again may well number its request as before.
      if (s->up.active && s->up.countNumber == n && s->up.announced == total && s->up.fromRevision == fromRevision &&
          s->up.nodes.empty() && !s->up.haveLast)
        return Reply(address, k, n, qb::MsgFavUpAllowed());
      if (fromRevision != kAnyRevision) {
        int32_t current = m_storage.TreeRevision(user);
        if (current < 0) return Log("error: cannot read the tree revision of user " + qb::FormatNumber(user));
        if (current != fromRevision) {
          Log("upload by user " + qb::FormatNumber(user) + " refused: made from revision " +
              qb::FormatNumber(fromRevision) + ", the tree is at " + qb::FormatNumber(current));
          if (s->up.active) DropUpload(*s, "a new upload began");
          return Reply(address, k, n, MsgFavUpStale(current));
        }
      }
      if (!s->up.active && !MakeTransferRoom(s, m_now))
        return Refused(address, "uploads", "upload by user " + qb::FormatNumber(user), "too many transfers under way");
      if (s->up.active) DropUpload(*s, "a new upload began");
      s->up.active = true;
      s->up.announced = total;
      s->up.countNumber = n;
      s->up.lastActivity = m_now;
      s->up.fromRevision = fromRevision;
      s->upEnd = UploadEnd();
      Log("upload of " + qb::FormatNumber(total) + " nodes by user " + qb::FormatNumber(user) + " begins");
      Reply(address, k, n, qb::MsgFavUpAllowed());
    });
    return;
  }
  // The rest belongs to a transfer already running for this address. These
  // messages carry no password, so the address is all there is to go by: the
  // program picks one of its five links (each with its own source port) anew
  // every second and acknowledges downloads through link 0, so one transfer
  // comes from several source ports and cannot be tied to one.
  Session* s = SessionAt(address);
  if (!s) return Refused(address, "favorites messages", "favorites message", "not logged in there");
  f.push_front(what);
  if (dir == "UP") OnFavUp(*s, k, n, f, now);
  else OnFavDown(*s, k, n, f, now);
}

void CServer::DropUpload(Session& s, const char* why) {
  if (!s.up.active) return;
  Log("upload of user " + qb::FormatNumber(s.user) + " dropped after " +
      qb::FormatNumber((int32_t)s.up.nodes.size()) + " of " + qb::FormatNumber(s.up.announced) + " nodes: " + why +
      "; the stored tree stays");
  ClearUpload(s);
}

void CServer::ClearUpload(Session& s) {
  m_stagedTotal -= s.up.bytes;
  s.up = Upload();
}

void CServer::ClearDownload(Session& s) {
  m_downloading.erase(s.user);
  m_stagedTotal -= s.down.bytes;
  s.down = Download();
}

void CServer::OnFavUp(Session& s, int k, int32_t n, FieldList& f, uint64_t now) {
  std::string what;
  qb::TakeField(f, what);
  if (what != "NODE" && what != "CANCEL") {
    ++m_counters.unknown;
    return;
  }
  // The program numbers its messages in order but spreads them over five
  // ports, so a CANCEL of the last upload may arrive after the next COUNT.
  if (s.up.active && n < s.up.countNumber) return;
  // Every node came: the answer to the last one comes once the tree is stored.
  if (s.up.storing) return;
  if (what == "CANCEL") return DropUpload(s, "cancelled");
  // The last node again: its answer was lost on the way.
  if (!s.up.active && s.upEnd.have && n == s.upEnd.number) return Reply(s.address, k, n, s.upEnd.body);
  // A duplicated datagram must not store its node twice.
  if (s.up.active && s.up.haveLast && n == s.up.lastNumber) return Reply(s.address, k, n, qb::MsgFavUpNodeOk());
  // A copy of an earlier node, sent again before its answer came and
  // overtaken on another port by the nodes after it: already stored.
  if (s.up.active && s.up.haveLast && n < s.up.lastNumber) return;
  qb::NodeWire node;
  bool parsed = qb::ParseNodeFields(f, node);
  // Older programs send a node again under the number of whatever they sent
  // since (a keep-alive), not under its own. A tree never holds two equal
  // nodes, so the last node once more, under another number, is such a repeat:
  // answered as before, never stored a second time (which would complete
  // the upload a node early, without its real last node).
  if (parsed && !s.up.active && s.upEnd.have && node == s.upEnd.node) return Reply(s.address, k, n, s.upEnd.body);
  if (!s.up.active) return Refused(s.address, "upload nodes", "upload node of user " + qb::FormatNumber(s.user), "no upload under way");
  if (parsed && s.up.haveLast && node == s.up.lastNode) {
    s.up.lastNumber = n;
    return Reply(s.address, k, n, qb::MsgFavUpNodeOk());
  }
  if (!parsed) {
    ++m_counters.malformed;
    return DropUpload(s, "a node with missing fields");
  }
  // A node that could not travel back down in one datagram would make the
  // stored tree impossible to download: refuse it now.
  std::string down = qb::FrameMessage(INT32_MIN, qb::MsgFavDownNode(node));
  if (!FitsDatagram(down, kMaxDatagram)) return DropUpload(s, "a node too long to download again");
  size_t bytes = down.size() + sizeof(qb::NodeWire);
  if (s.up.bytes + bytes > m_opt.maxStagedBytes) return DropUpload(s, "too large");
  if (!MakeRoom(bytes, s.up.bytes + bytes, &s, now)) return DropUpload(s, "no room");
  s.up.bytes += bytes;
  m_stagedTotal += bytes;
  s.up.nodes.push_back(std::move(node));
  s.up.haveLast = true;
  s.up.lastNumber = n;
  s.up.lastNode = s.up.nodes.back();
  s.up.lastActivity = now;
  if ((int32_t)s.up.nodes.size() < s.up.announced) return Reply(s.address, k, n, qb::MsgFavUpNodeOk());
  CommitUpload(s, k, n);
}

void CServer::CommitUpload(Session& s, int k, int32_t n) {
  // The last node is acknowledged only once the tree is safely stored, so a
  // failed write shows up in the program as a failed upload.
  // The revision is checked in the same transaction that stores, so an
  // upload completed by another machine since this one's COUNT is seen.
  if (m_writer) {
    // The loop goes on with others meanwhile; the session may even end.
    s.up.storing = true;
    s.up.storeId = ++m_stores;
    int32_t user = s.user;
    uint64_t id = s.up.storeId;
    return m_writer->StoreTree(user, std::move(s.up.nodes), s.up.fromRevision,
                               [this, user, k, n, id](TreeWrite w, int32_t revision) {
                                 auto it = m_sessions.find(user);
                                 if (it != m_sessions.end() && it->second.up.storing && it->second.up.storeId == id)
                                   return FinishUpload(it->second, k, n, w, revision);
                                 Log("upload of user " + qb::FormatNumber(user) +
                                     (w == TreeWrite::Stored ? " stored as revision " + qb::FormatNumber(revision)
                                                             : std::string(" not stored")) +
                                     " after its session ended");
                               });
  }
  int32_t revision = 0;
  TreeWrite w = m_storage.StoreTree(s.user, s.up.nodes, s.up.fromRevision, revision);
  FinishUpload(s, k, n, w, revision);
}

void CServer::FinishUpload(Session& s, int k, int32_t n, TreeWrite w, int32_t revision) {
  if (w == TreeWrite::Failed) {
    Log("error: cannot store the tree of user " + qb::FormatNumber(s.user));
    return ClearUpload(s);
  }
  std::string body;
  if (w == TreeWrite::Stale) {
    Log("upload by user " + qb::FormatNumber(s.user) + " refused: made from revision " +
        qb::FormatNumber(s.up.fromRevision) + ", the tree is at " + qb::FormatNumber(revision));
    body = MsgFavUpStale(revision);
  } else {
    Log("upload of " + qb::FormatNumber(s.up.announced) + " nodes by user " + qb::FormatNumber(s.user) +
        " stored as revision " + qb::FormatNumber(revision));
    // The new revision as a trailing field, which the programs before revisions pass over.
    body = qb::MsgFavUpNodeOk() + qb::BracketNumber(revision);
  }
  qb::NodeWire last = std::move(s.up.lastNode);
  ClearUpload(s);
  s.upEnd.have = true;
  s.upEnd.number = n;
  s.upEnd.body = body;
  s.upEnd.node = std::move(last);
  Reply(s.address, k, n, body);
}

void CServer::StartDownload(uint32_t address, int k, int32_t n, FieldList& f, uint64_t now) {
  std::string userField, password;
  if (!qb::TakeField(f, userField) || !qb::TakeField(f, password)) {
    ++m_counters.malformed;
    return;
  }
  int32_t user = qb::ReadNumber(userField);
  Authenticate(address, user, password, now, "download", [this, address, k, n, user](Session* s) {
    if (!s) return Reply(address, k, n, qb::MsgFavDownInvalid());
    // No answer: the program then reports a time-out, which asks for a later try.
    std::string who = "download by user " + qb::FormatNumber(user);
    if (!s->down.active && !MakeTransferRoom(s, m_now))
      return Refused(address, "downloads", who, "too many transfers under way");
    // A request again while the tree is read: answered once it is.
    if (s->readingTree) return;
    if (m_writer) {
      s->readingTree = true;
      return m_writer->LoadTree(user, [this, address, user, k, n](bool read, std::vector<qb::NodeWire>& nodes,
                                                                  int32_t revision) {
        Session* s = SessionAt(address, user);
        if (!s || !s->readingTree) return;  // the session ended meanwhile
        s->readingTree = false;
        BeginDownload(*s, k, n, read, nodes, revision);
      });
    }
    std::vector<qb::NodeWire> nodes;
    int32_t revision = 0;
    bool read = m_storage.LoadTree(user, nodes, revision);
    BeginDownload(*s, k, n, read, nodes, revision);
  });
}

void CServer::BeginDownload(Session& session, int k, int32_t n, bool read, std::vector<qb::NodeWire>& nodes,
                            int32_t revision) {
  Session* s = &session;
  uint32_t address = s->address;
  int32_t user = s->user;
  std::string who = "download by user " + qb::FormatNumber(user);
  Download d;
  d.nodes.swap(nodes);
  if (!read) {
    Log("error: cannot read the tree of user " + qb::FormatNumber(user));
    return Reply(address, k, n, qb::MsgFavDownInvalid());
  }
  if (d.nodes.empty()) {
    Log("download by user " + qb::FormatNumber(user) + ": nothing stored");
    return Reply(address, k, n, qb::MsgFavDownBlank());
  }
  for (const qb::NodeWire& node : d.nodes)
    d.bytes += qb::FrameMessage(INT32_MIN, qb::MsgFavDownNode(node)).size() + sizeof(qb::NodeWire);
  if (s->down.active) Log("download of user " + qb::FormatNumber(user) + " restarted");
  ClearDownload(*s);
  if (!MakeRoom(d.bytes, d.bytes, s, m_now)) return Refused(address, "downloads", who, "no room");
  m_stagedTotal += d.bytes;
  d.active = true;
  d.lastActivity = m_now;
  d.reqNumber = n;
  d.portIndex = k;
  // The nodes go with consecutive numbers right after the COUNT's, so the
  // block is set aside now: plaza news during the download take later numbers.
  d.countNumber = NextNumber(*s, (int32_t)d.nodes.size() + 1);
  // The revision as a trailing field, which the programs before revisions pass over.
  d.pending = qb::FrameMessage(d.countNumber, qb::MsgFavDownCount((int32_t)d.nodes.size()) +
                                                qb::BracketNumber(revision)) + '\0';
  d.sentAt = m_now;
  d.rto = m_opt.resendMs;
  s->down = std::move(d);
  m_downloading.insert(user);
  Log("download of " + qb::FormatNumber((int32_t)s->down.nodes.size()) + " nodes by user " +
      qb::FormatNumber(user) + " begins");
  m_out.SendDatagram(address, k, s->down.pending);
  ++m_counters.sent;
}

void CServer::OnFavDown(Session& s, int k, int32_t n, FieldList& f, uint64_t now) {
  std::string what, ok;
  qb::TakeField(f, what);
  Download& d = s.down;
  if (what == "CANCEL") {
    if (d.active && n < d.reqNumber) return;  // stale: it was meant for an earlier download
    if (d.active) Log("download of user " + qb::FormatNumber(s.user) + " cancelled");
    return ClearDownload(s);
  }
  if (!d.active) return;
  if (what == "READY") {
    if (!d.awaitingReady || n != d.countNumber) return;
    d.awaitingReady = false;
    NoteRoundTrip(d, now);
  } else if (what == "NODE" && qb::TakeField(f, ok) && ok == "OK") {
    if (d.awaitingReady || n != d.countNumber + 1 + (int32_t)d.next) return;
    NoteRoundTrip(d, now);
    if (++d.next == d.nodes.size()) {
      Log("download of " + qb::FormatNumber((int32_t)d.nodes.size()) + " nodes by user " + qb::FormatNumber(s.user) +
          " done");
      return ClearDownload(s);
    }
  } else {
    ++m_counters.unknown;
    return;
  }
  d.portIndex = k;
  d.lastActivity = now;
  SendDownloadStep(s, now);
}

// As TCP does: a smoothed round trip plus four times its variation, and no
// sample from a message sent more than once, whose answer may be to either copy.
void CServer::NoteRoundTrip(Download& d, uint64_t now) {
  if (d.tries != 0) return;
  int64_t r = (int64_t)(now - d.sentAt);
  if (d.srtt < 0) {
    d.srtt = r;
    d.rttvar = r / 2;
  } else {
    d.rttvar = (3 * d.rttvar + (d.srtt > r ? d.srtt - r : r - d.srtt)) / 4;
    d.srtt = (7 * d.srtt + r) / 8;
  }
  d.rto = std::max(m_opt.resendFloorMs, std::min(m_opt.resendCeilingMs, (uint64_t)(d.srtt + 4 * d.rttvar)));
}

void CServer::SendDownloadStep(Session& s, uint64_t now) {
  Download& d = s.down;
  int32_t number = d.countNumber + 1 + (int32_t)d.next;
  d.pending = qb::FrameMessage(number, qb::MsgFavDownNode(d.nodes[d.next])) + '\0';
  d.sentAt = now;
  d.tries = 0;
  m_out.SendDatagram(s.address, d.portIndex, d.pending);
  ++m_counters.sent;
}

// ---- circles --------------------------------------------------------------------

void CServer::OnGroup(uint32_t address, int k, int32_t n, FieldList& f) {
  std::string what, userField, name, kind, key;
  qb::TakeField(f, what);
  if (what == "DROPOUT") {
    if (!qb::TakeField(f, key) || !qb::TakeField(f, userField)) {
      ++m_counters.malformed;
      return;
    }
    int32_t user = qb::ReadNumber(userField);
    if (!SessionAt(address, user))
      return Refused(address, "drop-outs", "drop-out of user " + qb::FormatNumber(user), "not logged in there");
    if (!m_storage.RemoveMember(key, user)) return Log("error: cannot remove a circle membership");
    Log("circle: user " + qb::FormatNumber(user) + " left \"" + LogText(key) + "\"");
    return;
  }
  if (what != "UPNODE") {
    ++m_counters.unknown;
    return;
  }
  if (!qb::TakeField(f, userField) || !qb::TakeField(f, name) || !qb::TakeField(f, kind) || !qb::TakeField(f, key)) {
    ++m_counters.malformed;
    return;
  }
  int32_t user = qb::ReadNumber(userField);
  Session* s = SessionAt(address, user);
  std::string who = "circle request of user " + qb::FormatNumber(user);
  const char* why = nullptr;
  if (!s) why = "not logged in there";
  else if (key.empty() || key.size() > kMaxCircleKey) why = "bad circle key";
  else if (m_storage.CountMemberships(user) >= m_opt.maxCirclesPerUser) why = "too many circles";
  else if (!m_storage.AddMember(key, user)) why = "cannot store the membership";
  if (why) {
    Refused(address, "circle requests", who, why);
    return Reply(address, k, n, qb::MsgGroupUpNodeResult(false));
  }
  Log("circle: user " + qb::FormatNumber(user) + " joined \"" + LogText(key) + "\"");
  Reply(address, k, n, qb::MsgGroupUpNodeResult(true));
  SendCircleList(*s, key);
}

void CServer::SendCircleList(Session& s, const std::string& key) {
  std::vector<int32_t> users;
  m_storage.ListMembers(key, users);
  std::vector<qb::GroupListMember> list;
  list.push_back({qb::DottedAddress(s.address), s.nickname, s.user, key});
  std::vector<int32_t> offline;
  std::map<int32_t, Presence> elsewhere;
  std::vector<Presence> others;
  if (m_cluster && m_cluster->OthersOnline(m_opt.sessionTimeoutMs, others))
    for (Presence& p : others) elsewhere[p.user] = p;
  auto fits = [&]() { return FitsDatagram(qb::FrameMessage(INT32_MIN, qb::MsgGroupList(key, list))); };
  // Online members first: they are the ones the user can talk to.
  for (int32_t u : users) {
    if (u == s.user) continue;
    auto it = m_sessions.find(u);
    auto there = elsewhere.find(u);
    if (it != m_sessions.end()) {
      list.push_back({qb::DottedAddress(it->second.address), it->second.nickname, u, key});
    } else if (there != elsewhere.end()) {
      list.push_back({qb::DottedAddress(there->second.address), there->second.nickname, u, key});
    } else {
      offline.push_back(u);
      continue;
    }
    if (!fits()) {
      list.pop_back();
      offline.clear();
      break;
    }
  }
  for (int32_t u : offline) {
    UserRecord rec;
    if (!m_storage.FindUser(u, rec)) continue;
    list.push_back({kNoAddressDotted, rec.nickname, u, key});
    if (!fits()) {
      list.pop_back();
      break;
    }
  }
  if (!fits()) return Log("error: circle key too long for a member list");
  Push(s, qb::MsgGroupList(key, list));
}

// ---- plaza ----------------------------------------------------------------------

std::string CServer::PlazaName(const Session& s) const {
  std::string number = qb::FormatNumber(s.user);
  return s.nickname.empty() ? number : s.nickname + "(" + number + ")";
}

void CServer::SendPlazaList(Session& s) {
  std::vector<std::pair<std::string, std::string>> list;
  list.push_back({qb::DottedAddress(s.address), PlazaName(s)});
  for (auto& kv : m_sessions) {
    if (kv.first == s.user) continue;
    list.push_back({qb::DottedAddress(kv.second.address), PlazaName(kv.second)});
    if (!FitsDatagram(qb::FrameMessage(INT32_MIN, qb::MsgChatList(list)))) {
      list.pop_back();
      return Push(s, qb::MsgChatList(list));
    }
  }
  std::vector<Presence> others;
  if (m_cluster && m_cluster->OthersOnline(m_opt.sessionTimeoutMs, others)) {
    for (const Presence& p : others) {
      if (p.user == s.user) continue;
      std::string number = qb::FormatNumber(p.user);
      list.push_back({qb::DottedAddress(p.address), p.nickname.empty() ? number : p.nickname + "(" + number + ")"});
      if (!FitsDatagram(qb::FrameMessage(INT32_MIN, qb::MsgChatList(list)))) {
        list.pop_back();
        break;
      }
    }
  }
  Push(s, qb::MsgChatList(list));
}

// ---- time -----------------------------------------------------------------------

void CServer::OnTick(uint64_t now) {
  m_now = now;
  if (!m_clockStarted) {
    m_clockStarted = true;
    m_nextAccountPoll = now + m_opt.accountPollMs;
  }
  std::vector<int32_t> expired;
  for (auto& kv : m_sessions) {
    Session& s = kv.second;
    if (now - s.lastSeen >= m_opt.sessionTimeoutMs) {
      expired.push_back(kv.first);
      continue;
    }
    if (s.up.active && !s.up.storing && now - s.up.lastActivity >= m_opt.uploadIdleMs) DropUpload(s, "abandoned");
  }
  for (int32_t user : expired) EndSession(user, "no keep-alive");
  ResendDue(now);
  m_gate.Expire(now);
  m_refusals.Flush(now);
  OnClusterEvents(now);
  if (now >= m_nextAccountPoll) {
    PollAccountChanges(now);
    if (m_cluster) RefreshPresence(now);
  }
}

void CServer::ResendDue(uint64_t now) {
  m_now = now;
  std::vector<int32_t> users(m_downloading.begin(), m_downloading.end());
  for (int32_t user : users) {
    auto it = m_sessions.find(user);
    if (it == m_sessions.end()) continue;
    Session& s = it->second;
    Download& d = s.down;
    if (!d.active || now - d.sentAt < d.rto) continue;
    if (d.tries >= m_opt.resendLimit) {
      Log("download of user " + qb::FormatNumber(s.user) + " given up after " + qb::FormatNumber((int32_t)d.next) +
          " of " + qb::FormatNumber((int32_t)d.nodes.size()) + " nodes");
      ClearDownload(s);
      continue;
    }
    ++d.tries;
    d.sentAt = now;
    // Backing off: a path that loses more than the estimate knows is given longer.
    d.rto = std::min(m_opt.resendCeilingMs, std::max<uint64_t>(1, d.rto) * 2);
    m_out.SendDatagram(s.address, d.portIndex, d.pending);
    ++m_counters.sent;
  }
}

uint64_t CServer::NextResendAt() const {
  uint64_t at = UINT64_MAX;
  for (int32_t user : m_downloading) {
    auto it = m_sessions.find(user);
    if (it != m_sessions.end() && it->second.down.active) at = std::min(at, it->second.down.sentAt + it->second.down.rto);
  }
  return at;
}

void CServer::PollAccountChanges(uint64_t now) {
  m_nextAccountPoll = now + m_opt.accountPollMs;
  std::vector<int32_t> changed;
  if (!m_storage.AccountChangesSince(m_accountChange, changed)) return Log("error: cannot read the account changes");
  if (!changed.empty()) ++m_changeRounds;  // hashes read before now are not kept
  // The admin commands changed a password or deleted a user: sessions opened
  // with the old password end now, their transfers with them.
  for (int32_t user : changed) EndSession(user, "account changed");
}

size_t CServer::CountTransfers() const {
  size_t n = 0;
  for (auto& kv : m_sessions) n += kv.second.up.active + kv.second.down.active;
  return n;
}

void CServer::DropTransfer(Session& s, bool upload, const char* why) {
  if (upload) return DropUpload(s, why);
  Log("download of user " + qb::FormatNumber(s.user) + " dropped after " + qb::FormatNumber((int32_t)s.down.next) +
      " of " + qb::FormatNumber((int32_t)s.down.nodes.size()) + " nodes: " + why);
  ClearDownload(s);
}

bool CServer::DropIdlest(const Session* keep, uint64_t now) {
  Session* idlest = nullptr;
  bool upload = false;
  uint64_t longest = 0;
  auto consider = [&](Session& s, bool up, uint64_t last) {
    uint64_t idle = now - last;
    if (idle >= m_opt.reclaimIdleMs && (!idlest || idle > longest)) idlest = &s, upload = up, longest = idle;
  };
  for (auto& kv : m_sessions) {
    Session& s = kv.second;
    if (&s == keep) continue;
    if (s.up.active && !s.up.storing) consider(s, true, s.up.lastActivity);
    if (s.down.active) consider(s, false, s.down.lastActivity);
  }
  if (!idlest) return false;
  DropTransfer(*idlest, upload, "idle while room was needed");
  return true;
}

bool CServer::DropLargest(const Session* keep, size_t than) {
  Session* largest = nullptr;
  bool upload = false;
  size_t most = than;
  for (auto& kv : m_sessions) {
    Session& s = kv.second;
    if (&s == keep) continue;
    if (s.up.active && !s.up.storing && s.up.bytes > most) largest = &s, upload = true, most = s.up.bytes;
    if (s.down.active && s.down.bytes > most) largest = &s, upload = false, most = s.down.bytes;
  }
  if (!largest) return false;
  DropTransfer(*largest, upload, "it held the most when room was needed");
  return true;
}

bool CServer::MakeRoom(size_t bytes, size_t mine, const Session* keep, uint64_t now) {
  while (m_stagedTotal + bytes > m_opt.maxStagedTotal)
    if (!DropIdlest(keep, now) && !DropLargest(keep, mine)) return false;
  return true;
}

bool CServer::MakeTransferRoom(const Session* keep, uint64_t now) {
  size_t share = m_opt.maxStagedTotal / std::max<size_t>(1, m_opt.maxTransfers);
  while (CountTransfers() >= m_opt.maxTransfers)
    if (!DropIdlest(keep, now) && !DropLargest(keep, share)) return false;
  return true;
}

// ---- sending and logging ----------------------------------------------------------

int32_t CServer::NextNumber(Session& s, int32_t reserve) {
  if (s.counter > INT32_MAX - reserve - 1) s.counter = 0;
  int32_t n = s.counter + 1;
  s.counter += reserve;
  return n;
}

void CServer::Reply(uint32_t address, int k, int32_t n, const std::string& body) {
  m_out.SendDatagram(address, k, qb::FrameMessage(n, body) + '\0');
  ++m_counters.sent;
}

void CServer::Push(Session& s, const std::string& body) {
  m_out.SendDatagram(s.address, 0, qb::FrameMessage(NextNumber(s), body) + '\0');
  ++m_counters.sent;
}

void CServer::Refused(uint32_t address, const char* kind, const std::string& what, const std::string& why) {
  ++m_counters.refused;
  m_refusals.Note(std::string(kind) + " (" + why + ")",
                  "refused " + what + ": " + why + " (from " + qb::DottedAddress(address) + ")", address, m_now);
}

void CServer::Log(const std::string& line) {
  if (m_opt.log) return m_opt.log(line);
  char stamp[32] = "";
  time_t t = time(nullptr);
  struct tm tmv;
  if (gmtime_r(&t, &tmv)) strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tmv);
  fprintf(stderr, "%s %s\n", stamp, line.c_str());
}

}  // namespace qsrv

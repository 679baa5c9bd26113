// qimbo-tool net: the program's network client without windows. Logs in,
// uploads the favorites of a file, downloads them into a file, or syncs a
// file with the server (model/sync.h).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "base/codepage.h"
#include "model/sync.h"
#include "net/link.h"
#include "net/netstate.h"
#include "net/transfer.h"
#include "os/net.h"
#include "os/os.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "tool.h"

using namespace qb;

namespace {

using Clock = std::chrono::steady_clock;

// Posts go to a queue the tool's loop empties; timers are deadlines it checks.
class CToolUi : public IUserInterface {
 public:
  struct PostRec {
    unsigned msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  int ShowMessage(const std::string& text, const std::string&, unsigned) override {
    qtool::Error(text);
    return kIdOk;
  }
  void Post(UiTarget, unsigned msg, uintptr_t wParam, intptr_t lParam) override {
    posts.push_back({msg, wParam, lParam});
  }
  void StartTimer(UiTarget, unsigned id, unsigned ms) override {
    timers[id] = Clock::now() + std::chrono::milliseconds(ms);
  }
  void StopTimer(UiTarget, unsigned id) override { timers.erase(id); }

  std::deque<PostRec> posts;
  std::map<unsigned, Clock::time_point> timers;
};

struct Options {
  std::string command, file, server, password, text;
  int32_t target = 0;
  int32_t user = 0;
  uint32_t bind = 0;
  int timeout = 30;
  int portBase = kLocalBasePort;
  int serverPortBase = kServerBasePort;
};

const char kUsage[] =
    "  net login|upload FILE|download FILE|sync FILE|leaveword N TEXT\n"
    "      --server HOST --user N [--password P|-]\n"
    "      [--bind ADDR] [--timeout S] [--port-base P] [--server-port-base Q]\n"
    "                          log in (leave-words print as JSON lines); upload the\n"
    "                          favorites FILE; download into FILE (the FILE it replaces\n"
    "                          kept in backup/ beside it); merge FILE with the server's\n"
    "                          tree both ways (sync: the counts print as a JSON line);\n"
    "                          leave user N a word\n"
    "                          (--timeout: seconds to wait for the login reply, default 30;\n"
    "                          --password -: the first line of standard input; without\n"
    "                          --password the environment's QIMBO_PASSWORD)";

// The password: typed after --password, "-" for the first line of standard
// input, else QIMBO_PASSWORD, so that it need not stand in the process list.
bool TakePassword(const char* option, std::string& gbk, std::string& why) {
  std::string utf8;
  if (option && std::string(option) == "-") {
    char buf[256];
    if (!fgets(buf, sizeof buf, stdin)) {
      why = "--password -: no password on standard input";
      return false;
    }
    utf8 = buf;
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r')) utf8.pop_back();
  } else if (option) {
    utf8 = option;
  } else if (const char* env = getenv("QIMBO_PASSWORD")) {
    utf8 = env;
  } else {
    why = "no password: give --password P, --password - (standard input) or QIMBO_PASSWORD";
    return false;
  }
  gbk = FromUtf8(utf8);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o, std::string& why) {
  if (argc < 2) return false;
  const char* password = nullptr;
  o.command = argv[1];
  int i = 2;
  if (o.command == "upload" || o.command == "download" || o.command == "sync") {
    if (argc < 3) return false;
    o.file = argv[i++];
  } else if (o.command == "leaveword") {
    if (argc < 4) return false;
    o.target = ReadNumber(argv[i++]);
    o.text = FromUtf8(argv[i++]);
    if (o.target <= 0 || o.text.empty()) return false;
  } else if (o.command != "login") {
    return false;
  }
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return false;
    std::string v = argv[++i];
    if (a == "--server")
      o.server = v;
    else if (a == "--user")
      o.user = ReadNumber(v);
    else if (a == "--password")
      password = argv[i];
    else if (a == "--bind") {
      o.bind = ParseDottedAddress(v);
      if (o.bind == kNoAddress) return false;
    } else if (a == "--timeout")
      o.timeout = atoi(v.c_str());
    else if (a == "--port-base")
      o.portBase = atoi(v.c_str());
    else if (a == "--server-port-base")
      o.serverPortBase = atoi(v.c_str());
    else
      return false;
  }
  if (!(!o.server.empty() && o.user > 0 && o.timeout > 0 && o.portBase > 0 && o.portBase < 65531 &&
        o.serverPortBase > 0 && o.serverPortBase < 65531))
    return false;
  return TakePassword(password, o.password, why);
}

// The client's loop: what the program's message loop does, without windows.
class CClient {
 public:
  explicit CClient(const Options& o) : m_opt(o) {
    m_config.serverHost = o.server;
    m_config.bindAddress = o.bind;
    m_config.localBasePort = (uint16_t)o.portBase;
    m_config.peerBasePort = (uint16_t)o.portBase;
    m_config.serverBasePort = (uint16_t)o.serverPortBase;
    m_net.reset(new CNetState(m_tree, m_ui, m_config));
    m_progress.reset(new CTransferProgress(*m_net));
  }
  ~CClient() {
    m_net.reset();
    m_links.Stop();
  }

  int Start() {
    if (!m_links.Start(m_config)) {
      qtool::Error("net: cannot open the local ports");
      return 0;
    }
    m_net->SetLinks(&m_links);
    if (!m_net->Sender().EnsureServerAddress()) {
      qtool::Error("连网失败!");
      return 0;
    }
    m_deadline = Clock::now() + std::chrono::seconds(m_opt.timeout);
    return 1;
  }

  // Runs the loop until `done` or the time-out; false on the time-out.
  template <class Done>
  bool Run(Done done, Clock::time_point until) {
    while (!done()) {
      if (Clock::now() >= until) return false;
      // Until the next datagram or the next timer, whichever comes first:
      // a transfer's resend wait may be shorter than the loop's step.
      m_links.ReceiveQueue().Event().Wait(WaitMs());
      m_net->PumpReceived();
      Dispatch();
      FireTimers();
    }
    return true;
  }

  int Login() {
    m_net->Login().SetUser(m_opt.user);
    m_net->Login().SetPassword(m_opt.password);
    if (!m_net->Login().SendLogin()) {
      qtool::Error("连网失败!");
      return 0;
    }
    if (!Run([&] { return m_loginResult != 0; }, m_deadline)) {
      qtool::Error("连网失败!");  // no answer at all: the server is down or out of reach
      return 0;
    }
    if (m_loginResult != kLoginAccepted) {
      qtool::Error("用户名与密码不符!");
      return 0;
    }
    qtool::Error("登录成功!");
    return 1;
  }

  // Leave-words arrive after an accepted login; give them a second.
  void WaitForLeaveWords() {
    Run([] { return false; }, std::min(m_deadline, Clock::now() + std::chrono::seconds(1)));
  }

  int Upload() {
    if (!LoadFavoritesFile(m_tree, qtool::PathArg(m_opt.file))) {
      qtool::Error("net: cannot read " + FromUtf8(m_opt.file));
      return 0;
    }
    return Transfer(true) == "上传成功！";
  }

  int Download() {
    if (Transfer(false) != "下载成功！") return 0;
    std::unique_ptr<CMyNodeList> got = m_net->Transfer().TakeDownloadList();
    CMyNodeList web;
    if (got) ReplaceWebFolder(web, *got);
    std::vector<const CMyNode*> nodes(web.begin(), web.end());
    // The favorites the download replaces can be brought back.
    std::string path = qtool::PathArg(m_opt.file), old;
    if (os::ReadWholeFile(path, old) && IsCompleteFavoritesFile(old))
      SaveDatedCopy(BackupFolderOf(path), FavoritesStem(path), "下载前", old);
    if (!os::WriteWholeFile(path, FavoritesFileBytes(nodes))) {
      qtool::Error("net: cannot write " + FromUtf8(m_opt.file));
      return 0;
    }
    return 1;
  }

  // Downloads, merges with the base beside FILE, saves FILE, uploads, makes
  // the result the new base; prints the counts as a JSON line.
  int Sync() {
    std::string path = qtool::PathArg(m_opt.file);
    if (!LoadFavoritesFile(m_tree, path)) {
      qtool::Error("net: cannot read " + FromUtf8(m_opt.file));
      return 0;
    }
    SyncHost host;
    host.favoritesPath = path;
    host.basePath = SyncBasePath(path, m_opt.user);
    host.saveFavorites = [this, path] { return ReplaceFileKeepingBackup(path, std::string(), WebFolderBytes(m_tree)); };
    CSyncProgress sync(*m_net, *m_progress);
    PromptView v;
    sync.OnCommand(host, v);
    Show(v);
    m_sync = &sync;
    Run([&] { return !sync.Running(); }, Clock::time_point::max());
    m_sync = nullptr;
    const MergeCounts& c = sync.Counts();
    bool done = sync.Outcome() == SyncOutcome::kDone;
    printf("{\"synced\":%s,\"added\":%d,\"removed\":%d,\"keptTwice\":%d,\"notPlaced\":%d,\"uploaded\":%s,"
           "\"tries\":%d}\n",
           done ? "true" : "false", c.added, c.removed, c.keptTwice, c.notPlaced, sync.Uploaded() ? "true" : "false",
           sync.Tries());
    fflush(stdout);
    if (!done && !sync.TreeChanged()) qtool::Error("net sync: " + FromUtf8(m_opt.file) + " is unchanged");
    return done;
  }

  // A leave-word goes to the server for a user who is not reachable.
  int LeaveWord() {
    CircleMember target;
    target.user = m_opt.target;
    if (!m_net->Chat().SendChat(false, &target, m_opt.text, DefaultInputFormat())) return 0;
    // Let the link send it before the logout can overtake it on another link.
    Run([] { return false; }, Clock::now() + std::chrono::milliseconds(300));
    return 1;
  }

  void Logout() { m_net->Login().SendLogout(); }

 private:
  // Shows each new prompt text; returns the last one when the transfer ends.
  std::string Transfer(bool upload) {
    PromptView v;
    m_progress->OnCommand(upload, v);
    Show(v);
    if (v.okEnabled) return m_lastText;
    if (!Run([&] { return m_transferEnded; }, Clock::time_point::max())) return m_lastText;
    return m_lastText;
  }

  void Show(const PromptView& v) {
    if (!v.text.empty() && v.text != m_lastText) qtool::Error(v.text);
    if (!v.text.empty()) m_lastText = v.text;
    if (v.okEnabled) m_transferEnded = true;
  }

  void Dispatch() {
    while (!m_ui.posts.empty()) {
      CToolUi::PostRec p = m_ui.posts.front();
      m_ui.posts.pop_front();
      if (p.msg == WM_LOGIN_RESULT) m_loginResult = p.wParam;
      if (p.msg == WM_TRANSFER_STATUS) {
        PromptView v;
        if (m_sync && m_sync->Running() ? m_sync->OnTransferStatus(p.wParam, p.lParam, v)
                                        : m_progress->OnTransferStatus(p.wParam, p.lParam, v))
          Show(v);
      }
      if (p.msg == WM_CHAT_ARRIVED) PrintLeaveWords();
    }
  }

  void PrintLeaveWords() {
    for (const auto& r : m_net->Chat().TakeRecords())
      if (r->kind == 1)
        printf("{\"from\":%d,\"text\":%s}\n", (int)r->user, qtool::JsonString(UnescapeChatText(r->text)).c_str());
    fflush(stdout);
  }

  unsigned WaitMs() const {
    auto now = Clock::now();
    long long ms = 20;
    for (const auto& t : m_ui.timers)
      ms = std::min<long long>(ms, std::chrono::duration_cast<std::chrono::milliseconds>(t.second - now).count());
    return (unsigned)std::max<long long>(ms, 0);
  }

  void FireTimers() {
    for (auto it = m_ui.timers.begin(); it != m_ui.timers.end();) {
      unsigned id = it->first;
      if (Clock::now() < it->second) {
        ++it;
        continue;
      }
      it = m_ui.timers.erase(it);
      if (id == kKeepAliveTimer) m_ui.StartTimer(UiTarget::UiThread, id, m_net->Config().keepAliveMs);  // repeating
      m_net->OnTimer(id);
      it = m_ui.timers.begin();
    }
  }

  Options m_opt;
  CNetConfig m_config;
  CToolUi m_ui;
  CMyNodeList m_tree;
  CNetLinks m_links;
  std::unique_ptr<CNetState> m_net;
  std::unique_ptr<CTransferProgress> m_progress;
  CSyncProgress* m_sync = nullptr;  // while a sync runs
  Clock::time_point m_deadline;
  uintptr_t m_loginResult = 0;
  bool m_transferEnded = false;
  std::string m_lastText;
};

int RunNet(int argc, char** argv) {
  Options o;
  std::string why;
  if (!ParseOptions(argc, argv, o, why)) return qtool::UsageError("net", why);
  if (!os::NetStartup()) return 1;
  int ok = 0;
  {
    CClient client(o);
    if (client.Start() && client.Login()) {
      if (o.command == "login") {
        client.WaitForLeaveWords();
        ok = 1;
      } else if (o.command == "leaveword") {
        ok = client.LeaveWord();
      } else if (o.command == "upload") {
        ok = client.Upload();
      } else if (o.command == "sync") {
        ok = client.Sync();
      } else {
        ok = client.Download();
      }
      client.Logout();
    }
  }
  os::NetCleanup();
  return ok ? 0 : 1;
}

qtool::Registrar reg("net", RunNet, kUsage);

}  // namespace

#include "panels/open_item.h"

#include <cstring>
#include <mutex>

#include "os/os.h"
#include "os/shell.h"
#include "panels/site_icon.h"
#include "store/node.h"

namespace panels {

const char kBoxCaption[] = "Qimbo收藏";

namespace {

struct MicrosoftProgram {
  const char* shortcut;
  const char* program;
};
const MicrosoftProgram kMicrosoftPrograms[] = {
    {"Microsoft Access.lnk", "\\Program Files\\Microsoft Office\\Office\\MSACCESS.exe"},
    {"Microsoft Excel.lnk", "\\Program Files\\Microsoft Office\\Office\\EXCEL.exe"},
    {"Microsoft FrontPage.lnk", "\\Program Files\\Microsoft Office\\Office\\FRONTPG.exe"},
    {"Microsoft Outlook.lnk", "\\Program Files\\Microsoft Office\\Office\\OUTLOOK.exe"},
    {"Microsoft PowerPoint.lnk", "\\Program Files\\Microsoft Office\\Office\\POWERPNT.exe"},
    {"Microsoft Visio.lnk", "\\Program Files\\Microsoft Office\\Visio10\\VISIO.exe"},
    {"Microsoft Word.lnk", "\\Program Files\\Microsoft Office\\Office\\WINWORD.exe"},
};

uint32_t U32(const std::string& b, size_t at) {
  return (uint32_t)(unsigned char)b[at] | (uint32_t)(unsigned char)b[at + 1] << 8 |
         (uint32_t)(unsigned char)b[at + 2] << 16 | (uint32_t)(unsigned char)b[at + 3] << 24;
}
uint32_t U16(const std::string& b, size_t at) {
  return (uint32_t)(unsigned char)b[at] | (uint32_t)(unsigned char)b[at + 1] << 8;
}

// Upper-cases the ASCII letters of a code page 936 text, leaving the second
// byte of every double-byte character alone.
std::string UpperGbk(const std::string& s) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = (unsigned char)out[i];
    if (c >= 0x81 && c <= 0xFE) {
      ++i;
    } else if (c >= 'a' && c <= 'z') {
      out[i] = (char)(c - 'a' + 'A');
    }
  }
  return out;
}

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return out;
}

std::mutex g_playerLock;
ScriptPlayer g_player;

}  // namespace

const char* MicrosoftProgramPath(const std::string& shortcutName) {
  for (const MicrosoftProgram& p : kMicrosoftPrograms)
    if (shortcutName == p.shortcut) return p.program;
  return nullptr;
}

std::string ShortcutTargetOfBytes(const std::string& b) {
  const size_t kHeader = 76, kLinkInfoHead = 28;
  if (b.size() < kHeader) return std::string();
  uint32_t linkFlags = U32(b, 20);
  size_t pos = kHeader;
  if (linkFlags & 1) {
    if (b.size() < pos + 2) return std::string();
    pos += 2 + U16(b, pos);
  }
  if (b.size() < pos || b.size() - pos < kLinkInfoHead) return std::string();
  uint32_t infoFlags = U32(b, pos + 8);
  uint32_t localBase = U32(b, pos + 16);
  uint32_t network = U32(b, pos + 20);
  uint32_t suffix = U32(b, pos + 24);
  int64_t length = (int64_t)((infoFlags & 2) ? network : suffix) - (int64_t)localBase;
  if (length <= 0 || length > 1024) return std::string();
  uint64_t start = (uint64_t)pos + localBase;
  if (start > b.size() || b.size() - start < (uint64_t)length) return std::string();
  std::string text = UpperGbk(b.substr((size_t)start, (size_t)length));
  text.resize(strnlen(text.c_str(), text.size()));
  return text.find(".EXE") != std::string::npos ? text : std::string();
}

std::string ShortcutTarget(const std::string& path) {
  // Link files are small; anything large is not one.
  int64_t size = os::FileSize(path);
  if (size < 0 || size > (1 << 20)) return std::string();
  std::string bytes;
  if (!os::ReadWholeFile(path, bytes)) return std::string();
  return ShortcutTargetOfBytes(bytes);
}

namespace {
// True when a registry value was read; otherwise shows the box for a missing
// key (its text is `noKeyText`) or a missing value.
bool RegistryReadOrBox(os::RegStatus st, const char* noKeyText, qb::IUserInterface& ui) {
  const char* text = st == os::kRegNoKey     ? noKeyText
                     : st == os::kRegNoValue ? "错误：无法查询有关的注册表信息"
                                             : nullptr;
  if (text) ui.ShowMessage(text, kBoxCaption, qb::kMbOk | qb::kMbIconStop);
  return !text;
}
}  // namespace

std::string SystemDrive(qb::IUserInterface& ui) {
  std::string path;
  os::RegStatus st = os::RegQueryString(os::Hive::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion",
                                        "PathName", 80, path);
  if (!RegistryReadOrBox(st, "错误：无法打开有关的热键", ui)) return std::string();
  if (path.size() < 2 || path[1] != ':') {
    ui.ShowMessage("注册表信息有错误(盘符后无:号)", kBoxCaption, qb::kMbOk | qb::kMbIconStop);
    return std::string();
  }
  return path.substr(0, 2);
}

OpenAction DecideOpenItem(const CMyNode& node, qb::IUserInterface& ui) {
  OpenAction a;
  if (node.m_nKind == UrlItem) {
    a.kind = OpenAction::Open;
    a.target = node.m_strAddress;
    a.show = os::kShowMaximized;
    return a;
  }
  if (node.m_nKind != ProgramItem) return a;
  const std::string& name = node.m_strName;
  std::string full = node.m_strAddress + name;
  std::string lower = Lower(name);
  bool isLink = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".lnk") == 0;
  a.show = os::kShowMaximized;
  if (!isLink) {
    a.kind = OpenAction::Open;
    a.target = full;
    return a;
  }
  std::string head = name.substr(0, 9);
  if (head != "Microsoft" && head != "MicroSoft") {
    std::string target = ShortcutTarget(full);
    a.kind = target.empty() ? OpenAction::Open : OpenAction::Run;
    a.target = target.empty() ? full : target;
    return a;
  }
  const char* program = MicrosoftProgramPath(name);
  if (!program) return OpenAction();
  a.kind = OpenAction::Run;
  a.target = SystemDrive(ui) + program;
  return a;
}

std::string ReadBrowserProgram(qb::IUserInterface& ui) {
  std::string cmd;
  os::RegStatus st = os::RegQueryString(os::Hive::ClassesRoot, "htmlfile\\shell\\open\\command", "", 256, cmd);
  if (!RegistryReadOrBox(st, "错误：无法打开有关的注册键", ui)) return std::string();
  size_t exe = cmd.find(".exe");
  if (exe != std::string::npos) cmd.resize(exe + 4);
  // The command is normally quoted; an unquoted one keeps its first letter.
  if (!cmd.empty() && cmd[0] == '"') cmd.erase(0, 1);
  return cmd;
}

void OpenInNewBrowser(const std::string& address, qb::IUserInterface& ui) {
  std::string browser = ReadBrowserProgram(ui);
  if (!browser.empty()) os::ShellOpen(browser, os::kShowNormal);
  os::SleepMs(450);
  os::ShellOpen(address, os::kShowMaximized);
}

void SetScriptPlayer(ScriptPlayer player) {
  std::lock_guard<std::mutex> lock(g_playerLock);
  g_player = std::move(player);
}

void PlayItemScript(const CMyNode& node, const std::string& programDir, uint32_t waitMs) {
  if (!node.m_bScript) return;
  os::SleepMs(waitMs);
  ScriptPlayer player;
  {
    std::lock_guard<std::mutex> lock(g_playerLock);
    player = g_player;
  }
  if (player) player(programDir + "script\\url\\" + node.m_strName);
}

void OpenItem(CMyNode& node, const std::string& programDir, qb::IUserInterface& ui) {
  OpenAction a = DecideOpenItem(node, ui);
  if (a.kind == OpenAction::Open) os::ShellOpen(a.target, a.show);
  if (a.kind == OpenAction::Run) os::RunCommandLine(a.target, a.show);
  if (node.m_nKind == UrlItem) PlayItemScript(node, programDir, 1100);
  node.Visit();
}

void OpenItemInNewWindow(CMyNode& item, const std::string& programDir, qb::IUserInterface& ui) {
  if (item.m_nKind != UrlItem) return;
  OpenInNewBrowser(item.m_strAddress, ui);
  PlayItemScript(item, programDir, 999);
  item.Visit();
}

void ViewOfflinePage(CMyNode& item, const std::string& programDir, qb::IUserInterface& ui) {
  if (item.m_nKind != UrlItem) return;
  OpenInNewBrowser(OfflinePagePath(programDir, item.m_strAddress), ui);
  item.Visit();
}

void OpenAllItems(const std::vector<CMyNode*>& items, qb::IUserInterface& ui,
                  const std::function<bool(const std::string&)>& preload) {
  std::string browser = ReadBrowserProgram(ui);
  for (CMyNode* n : items) {
    if (!preload || !preload(n->m_strAddress)) break;
    os::SleepMs(500);
  }
  for (CMyNode* n : items) {
    if (!browser.empty()) os::ShellOpen(browser, os::kShowNormal);
    os::SleepMs(350);
    os::ShellOpen(n->m_strAddress, os::kShowMaximized);
  }
}

bool PressIsDrag(const std::function<bool()>& releaseWaiting) {
  os::SleepMs(kClickTimeMs);
  return !releaseWaiting();
}

}  // namespace panels

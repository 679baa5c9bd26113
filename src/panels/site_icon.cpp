#include "panels/site_icon.h"

#include "os/http.h"
#include "os/os.h"
#include "os/shell.h"
#include "panels/panel_text.h"
#include "store/node.h"

namespace panels {

const char kToolbarKey[] =
    "Software\\Microsoft\\Internet Explorer\\Extensions\\{06926B30-424E-4f1c-8EE3-543CD96573DC}";

namespace {
const char kScheme[] = "http://";

std::string RemoveAll(std::string text, const std::string& what) {
  size_t p;
  while ((p = text.find(what)) != std::string::npos) text.erase(p, what.size());
  return text;
}

// A download larger than this is not an icon or a page worth keeping.
const size_t kMaxDownload = 64u << 20;
}  // namespace

std::string FaviconAddress(const std::string& address) {
  size_t p = address.find("//");
  if (p == std::string::npos) return std::string();
  size_t slash = address.find('/', p + 3);
  if (slash == std::string::npos) return std::string();
  return address.substr(0, slash + 1) + "favicon.ico";
}

std::string SiteIconFile(const std::string& programDir, const std::string& address) {
  std::string host = CutBefore(RemoveAll(address, kScheme), "/");
  return programDir + "images\\icon\\" + CleanName(host) + ".ico";
}

int FetchSiteIcon(const std::string& programDir, const std::string& address, int reuse) {
  std::string icon = FaviconAddress(address);
  if (icon.empty()) return 0;
  std::string file = SiteIconFile(programDir, address);
  if (reuse && os::FileExists(file)) return 1;
  return DownloadToFile(icon, file, 1);
}

int DownloadToFile(const std::string& address, const std::string& file, int rejectHtml) {
  if (address.compare(0, sizeof kScheme - 1, kScheme) != 0) return 0;
  std::string agent = "Agent" + std::to_string((long)(int32_t)os::TickCount());
  std::unique_ptr<os::CHttpStream> http = os::HttpOpen(address, agent, "Accept: */*\r\n\r\n");
  if (!http) return 0;
  // The body is gathered first and then replaces the file in one step, so an
  // error page or a broken transfer never costs the user a good icon.
  std::string body;
  std::string block(kDownloadBlock, '\0');
  for (bool first = true;; first = false) {
    long n = http->Read(&block[0], block.size());
    if (n < 0) return 0;
    if (n == 0) break;
    if (first && rejectHtml && block[0] == '<') return 0;
    body.append(block.data(), (size_t)n);
    if (body.size() > kMaxDownload) return 0;
  }
  // Nothing at all is no answer (Windows' client reports a connection hung up
  // on before any reply as an empty success): an empty file would stand in for
  // the icon for good.
  if (body.empty()) return 0;
  return os::WriteWholeFile(file, body);
}

std::string CachedPagePath(const std::string& address) {
  std::string drive, path;
  os::RegQueryString(os::Hive::CurrentUser, "Volatile Environment", "HOMEDRIVE", 10, drive);
  os::RegQueryString(os::Hive::CurrentUser, "Volatile Environment", "HOMEPATH", 100, path);
  std::string rest = RemoveAll(address, kScheme);
  size_t dot = rest.size() > 4 ? rest.find('.', 4) : std::string::npos;
  std::string name = dot == std::string::npos ? std::string() : rest.substr(0, dot);
  return drive + path + "\\Local Settings\\Temporary Internet Files\\" + name + ".html";
}

std::string OfflinePageName(const std::string& address) {
  std::string rest = RemoveAll(address, kScheme);
  size_t dot = rest.rfind('.');
  std::string name = dot == std::string::npos ? std::string() : rest.substr(0, dot);
  return CleanName(CutBytesGbk(name, 50));
}

std::string OfflinePagePath(const std::string& programDir, const std::string& address) {
  return programDir + "offline-page\\" + OfflinePageName(address) + ".html";
}

void RegisterToolbarButton(const std::string& programPath, const std::string& hotkeyText) {
  const std::pair<const char*, std::string> values[] = {
      {"CLSID", "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"},
      {"Default Visible", "Yes"},
      {"ButtonText", "添加点这里或者用收藏热键" + hotkeyText},
      {"Icon", programPath + ",154"},
      {"HotIcon", programPath + ",153"},
      {"Exec", programPath},
  };
  for (const auto& v : values)
    if (!os::RegWriteString(os::Hive::LocalMachine, kToolbarKey, v.first, v.second)) return;
}

}  // namespace panels

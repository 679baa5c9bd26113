// Site icons, offline page names and the browser's toolbar button.
#pragma once
#include <string>

namespace panels {

// "http://host/favicon.ico" for an address with a path; empty when the
// address has no "//" or no "/" after its host.
std::string FaviconAddress(const std::string& address);
// programDir + "images\icon\" + cleaned host + ".ico".
std::string SiteIconFile(const std::string& programDir, const std::string& address);
// Downloads the site icon into SiteIconFile; with `reuse` an existing file
// is taken as it is. 1 on success.
int FetchSiteIcon(const std::string& programDir, const std::string& address, int reuse);

// Downloads an "http://" address (lower-case scheme only) into `file`. With
// `rejectHtml`, a body that starts with "<" is an error page and fails. The
// file is replaced only by a complete, accepted download: a failure leaves
// whatever was there before.
int DownloadToFile(const std::string& address, const std::string& file, int rejectHtml);
// Bytes read per block.
constexpr size_t kDownloadBlock = 16384;

// Where the browser cache keeps its copy of the page.
std::string CachedPagePath(const std::string& address);
// File name (no folder, no extension) of the page's offline copy.
std::string OfflinePageName(const std::string& address);
// programDir + "offline-page\" + OfflinePageName + ".html".
std::string OfflinePagePath(const std::string& programDir, const std::string& address);

// Registers the browser toolbar button that starts the program at
// `programPath`; its text ends with the configured hotkey. Silent on failure.
void RegisterToolbarButton(const std::string& programPath, const std::string& hotkeyText);
extern const char kToolbarKey[];

}  // namespace panels

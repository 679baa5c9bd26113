#include "panels/capture_logic.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "os/os.h"
#include "panels/site_icon.h"
#include "skin/hotkey.h"
#include "store/node.h"

namespace panels {

const char kIllegalHotkeyText[] = "热键非法，请重新定义！";
const char kHotkeyFailedSuffix[] = "--热键注册失败，请重新定义！";
const char kLowerHotkeyFailedSuffix[] = "--其中小写热键注册失败！";

CaptureHotkey PlanCaptureHotkey(const std::string& text) {
  CaptureHotkey plan;
  if (text.empty()) return plan;
  qb::ParseHotkeyText(text, plan.modifiers, plan.key);
  if (!qb::IsHotkeyUsable(plan.modifiers, plan.key)) {
    plan.verdict = CaptureHotkey::kIllegal;
    return plan;
  }
  plan.verdict = CaptureHotkey::kUsable;
  if (plan.key >= 'A' && plan.key <= 'Z') plan.lowerKey = plan.key + 32;
  return plan;
}

// ---- browsers ------------------------------------------------------------------------

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return s;
}

// The programs of each family, as their executables are named.
const char* const kChromiumPrograms[] = {"chrome.exe",    "msedge.exe",     "brave.exe", "vivaldi.exe",
                                         "opera.exe",     "chromium.exe",   "360chrome.exe", "360se.exe",
                                         "qqbrowser.exe", "sogouexplorer.exe"};
const char* const kFirefoxPrograms[] = {"firefox.exe", "librewolf.exe", "waterfox.exe", "floorp.exe"};

// What the browsers put at the end of the page's title, after a separator.
const char* const kChromiumBrands[] = {"Google Chrome", "Chromium", "Microsoft Edge", "Brave", "Vivaldi", "Opera",
                                       "360安全浏览器", "360极速浏览器", "QQ浏览器", "搜狗高速浏览器"};
const char* const kFirefoxBrands[] = {"Mozilla Firefox",
                                      "Mozilla Firefox Private Browsing",
                                      "Mozilla Firefox (Private Browsing)",
                                      "Firefox Developer Edition",
                                      "Firefox Nightly",
                                      "Firefox",
                                      "LibreWolf",
                                      "Waterfox",
                                      "Floorp"};
const char kIeSuffix[] = "- Microsoft Internet Explorer";

template <size_t N>
bool InList(const std::string& name, const char* const (&list)[N]) {
  for (const char* p : list)
    if (name == p) return true;
  return false;
}

// Cuts off a brand of the list that ends the title after " - " or " — "
// (GBK A1 AA). A title that is only the brand belongs to a page without one.
template <size_t N>
std::string WithoutBrand(const std::string& title, const char* const (&brands)[N]) {
  static const char* const kSeparators[] = {" - ", " \xA1\xAA "};
  for (const char* brand : brands) {
    if (title == brand) return std::string();
    for (const char* sep : kSeparators) {
      std::string tail = std::string(sep) + brand;
      if (title.size() >= tail.size() && title.compare(title.size() - tail.size(), tail.size(), tail) == 0)
        return title.substr(0, title.size() - tail.size());
    }
  }
  return title;
}

std::string RemoveAll(std::string text, const std::string& what) {
  for (size_t p; (p = text.find(what)) != std::string::npos;) text.erase(p, what.size());
  return text;
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

BrowserFamily FamilyOfWindow(const std::string& windowClass, const std::string& program) {
  if (windowClass == "IEFrame") return BrowserFamily::kInternetExplorer;
  std::string exe = Lower(program);
  size_t slash = exe.find_last_of("\\/");
  if (slash != std::string::npos) exe.erase(0, slash + 1);
  if (windowClass == "Chrome_WidgetWin_1" && InList(exe, kChromiumPrograms)) return BrowserFamily::kChromium;
  if (windowClass == "MozillaWindowClass" && InList(exe, kFirefoxPrograms)) return BrowserFamily::kFirefox;
  return BrowserFamily::kNone;
}

std::string PageNameFromTitle(BrowserFamily family, const std::string& title) {
  std::string name = title;
  switch (family) {
    case BrowserFamily::kInternetExplorer: name = RemoveAll(title, kIeSuffix); break;
    case BrowserFamily::kChromium: name = WithoutBrand(title, kChromiumBrands); break;
    case BrowserFamily::kFirefox: name = WithoutBrand(title, kFirefoxBrands); break;
    case BrowserFamily::kNone: break;
  }
  return CleanName(name);
}

std::u16string DropInvisible(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    bool invisible = (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
                     c == 0xFEFF;
    if (!invisible) out.push_back(c);
  }
  return out;
}

std::string IeAddress(const std::string& boxText) { return RemoveAll(boxText, " "); }

std::string NormaliseCopiedAddress(const std::string& copied) {
  size_t a = 0, b = copied.size();
  while (a < b && Blank(copied[a])) ++a;
  while (b > a && Blank(copied[b - 1])) --b;
  std::string text = copied.substr(a, b - a);
  if (text.empty()) return text;
  for (unsigned char c : text)
    if (c < 0x21 || c == 0x7F) return std::string();
  // A scheme: a letter, then letters, digits, "+", "-" or "."; then ":" and
  // anything but a digit (a digit starts a port number: "host:8080/").
  size_t colon = text.find(':');
  bool scheme = colon != std::string::npos && colon > 0 && isalpha((unsigned char)text[0]);
  for (size_t i = 1; scheme && i < colon; ++i) {
    char c = text[i];
    scheme = isalnum((unsigned char)c) || c == '+' || c == '-' || c == '.';
  }
  if (scheme && colon + 1 < text.size() && isdigit((unsigned char)text[colon + 1])) scheme = false;
  return scheme ? text : "http://" + text;
}

// ---- filing the page ----------------------------------------------------------------

const char kUntitledPage[] = "未命名";

std::string AddressHost(const std::string& address) {
  size_t from = address.find("://");
  from = from == std::string::npos ? 0 : from + 3;
  size_t end = address.find_first_of("/?#\\", from);
  std::string host = address.substr(from, end == std::string::npos ? std::string::npos : end - from);
  size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) host.erase(colon);
  for (char& c : host)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return host;
}

FiledPage FilePage(CMyNodeList& list, const std::string& programDir, CMyNode* category, BrowserFamily family,
                   const std::string& title, const std::string& address) {
  FiledPage filed;
  if (!category) return filed;
  std::string name = PageNameFromTitle(family, title);
  // A title that cleans down to nothing would leave a button without a
  // caption: the page is named after its site.
  if (name.empty()) name = AddressHost(address);
  if (name.empty()) name = kUntitledPage;
  int slot = list.FirstFreeItemSlot(category);
  if (slot < 0) return filed;
  // The tree's duplicate test, made here so that the tree is given only
  // what it takes.
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem && n->m_pParent == category && n->m_strName == name && n->m_strAddress == address)
      return filed;
  CMyNode* item = new CMyNode(name, UrlItem, category, slot, address);
  if (!FaviconAddress(address).empty()) {
    std::string icon = SiteIconFile(programDir, address);
    if (os::FileExists(icon))
      item->m_strIconPath = icon;
    else
      filed.fetchIcon = true;
  }
  list.AddNode(item);
  filed.added = item;
  return filed;
}

void CIconWaits::Expect(CMyNode* item) {
  if (item) m_waits.push_back(Wait{item, item->m_strAddress, item->m_strIconPath});
}

std::vector<CMyNode*> CIconWaits::Arrived(const CMyNodeList& list, const std::string& address,
                                           const std::string& iconFile) {
  std::vector<CMyNode*> took;
  for (const Wait& w : m_waits) {
    if (w.address != address || !w.item) continue;
    const auto& nodes = list.Nodes();
    if (std::find(nodes.begin(), nodes.end(), w.item.Get()) == nodes.end()) continue;
    if (w.item->m_strAddress != address || w.item->m_strIconPath != w.stockIcon) continue;
    w.item->m_strIconPath = iconFile;
    took.push_back(w.item);
  }
  Failed(address);
  return took;
}

void CIconWaits::Failed(const std::string& address) {
  m_waits.erase(std::remove_if(m_waits.begin(), m_waits.end(), [&](const Wait& w) { return w.address == address; }),
                m_waits.end());
}

// ---- clipboard -------------------------------------------------------------------------

std::vector<ClipFormat> PlanClipboardKeep(const std::vector<unsigned>& formats) {
  enum : unsigned {
    kText = 1, kBitmap = 2, kMetafilePict = 3, kOemText = 7, kDib = 8, kPalette = 9, kUnicodeText = 13,
    kEnhMetafile = 14, kDibV5 = 17, kOwnerDisplay = 0x80, kDspText = 0x81, kDspBitmap = 0x82,
    kDspMetafilePict = 0x83, kDspEnhMetafile = 0x8E,
  };
  auto listed = [&](unsigned f) { return std::find(formats.begin(), formats.end(), f) != formats.end(); };
  bool textTaken = false, dibTaken = false;
  std::vector<ClipFormat> plan;
  for (unsigned f : formats) {
    ClipKeep keep = ClipKeep::kMemory;
    switch (f) {
      case kText: case kOemText: case kUnicodeText:
        keep = textTaken ? ClipKeep::kSkip : ClipKeep::kMemory;
        textTaken = true;
        break;
      // A device-independent bitmap is plain memory; the handle form is
      // kept only when the system offers no memory form.
      case kDib: case kDibV5:
        keep = dibTaken ? ClipKeep::kSkip : ClipKeep::kMemory;
        dibTaken = true;
        break;
      case kBitmap: keep = listed(kDib) || listed(kDibV5) ? ClipKeep::kSkip : ClipKeep::kBitmap; break;
      case kPalette: keep = ClipKeep::kSkip; break;
      // The old metafile form holds a handle inside its memory; the enhanced
      // form, which the system makes from it, is kept instead.
      case kMetafilePict: case kDspMetafilePict: keep = ClipKeep::kSkip; break;
      case kEnhMetafile: case kDspEnhMetafile: keep = ClipKeep::kEnhMetafile; break;
      case kDspBitmap: keep = ClipKeep::kBitmap; break;
      case kOwnerDisplay: keep = ClipKeep::kSkip; break;
      case kDspText: keep = ClipKeep::kMemory; break;
      default:
        if (f >= 0x200 && f <= 0x3FF) keep = ClipKeep::kSkip;  // private and GDI-object formats
    }
    if (keep != ClipKeep::kSkip) plan.push_back(ClipFormat{f, keep});
  }
  return plan;
}

}  // namespace panels

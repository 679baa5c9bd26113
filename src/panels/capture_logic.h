// What the capture decides, apart from the windows: whether a hotkey may be
// registered, which browser a window belongs to, the page's name from its
// title, the address as browsers copy it, the new item, which clipboard
// formats are kept across the copy, and which items wait for their icon.
#pragma once
#include <string>
#include <vector>

#include "store/node.h"

namespace panels {

// ---- hotkey ------------------------------------------------------------------------

enum : int { kCaptureHotkeyId = 2001, kCaptureLowerHotkeyId = 2002 };

struct CaptureHotkey {
  enum Verdict { kEmpty, kIllegal, kUsable };
  Verdict verdict = kEmpty;
  int modifiers = 0;  // 1 Alt, 2 Ctrl, 4 Shift
  int key = 0;        // registered as 2001
  int lowerKey = 0;   // registered as 2002 for a letter A..Z (key + 32), else 0
};
// The registration a hotkey text asks for: empty text registers nothing
// silently; a key with no modifier must be F2..F11.
CaptureHotkey PlanCaptureHotkey(const std::string& text);

extern const char kIllegalHotkeyText[];       // "热键非法，请重新定义！"
extern const char kHotkeyFailedSuffix[];      // "--热键注册失败，请重新定义！"
extern const char kLowerHotkeyFailedSuffix[]; // "--其中小写热键注册失败！"

// ---- browsers ------------------------------------------------------------------------

enum class BrowserFamily { kNone, kInternetExplorer, kChromium, kFirefox };

// The family of a top-level window from its class and the file name of the
// program that made it (any case, with or without folder). "IEFrame" is
// Internet Explorer's whatever the program; "Chrome_WidgetWin_1" and
// "MozillaWindowClass" also serve programs that are no browsers (editors,
// chat and mail programs), so they count only for the browsers' own programs.
BrowserFamily FamilyOfWindow(const std::string& windowClass, const std::string& program);

// The page's name as the capture stores it: the browser's suffix removed
// from the window title ("- Microsoft Internet Explorer"; " - Google Chrome",
// " - Microsoft Edge" and the like; " — Mozilla Firefox" and the like), then
// the name cleaning. GBK in, GBK out.
std::string PageNameFromTitle(BrowserFamily family, const std::string& title);

// Characters that do not show and that GBK cannot hold (zero-width spaces
// and joiners, direction marks, the byte order mark), taken out of a
// window's text before it becomes GBK: one browser puts a zero-width space
// into its own name in every title.
std::u16string DropInvisible(const std::u16string& text);

// The address as read from Internet Explorer's address box: every space removed.
std::string IeAddress(const std::string& boxText);
// An address copied from a browser's address bar: surrounding blanks and
// line breaks trimmed; an address without a scheme gets "http://" in front,
// as browsers hide it ("localhost:8080/x" is a host with a port, not a
// scheme). A text of more than one line or with blanks inside is no address
// (empty).
std::string NormaliseCopiedAddress(const std::string& copied);

// ---- filing the page ----------------------------------------------------------------

// The host of an address, in lower case, without user, port, path or query
// ("news.example.com" of "HTTP://u@News.Example.com:8080/a?b"); the address
// up to its first "/" when it has no scheme.
std::string AddressHost(const std::string& address);
// The name of a page whose title and address give none: "未命名".
extern const char kUntitledPage[];

struct FiledPage {
  CMyNode* added = nullptr;  // null: the category is full or holds the page already
  bool fetchIcon = false;    // the site icon is to be downloaded for `added`
};
// Files a page into a category: a new item named from the title (after the
// address's host when the title cleans down to nothing), at the
// category's first free button. An icon file of the site that exists
// already is used at once; otherwise the item shows the stock icon until the
// download (if the address has an icon address at all) brings it. Nothing
// here waits for the network.
FiledPage FilePage(CMyNodeList& list, const std::string& programDir, CMyNode* category, BrowserFamily family,
                   const std::string& title, const std::string& address);

// Items waiting for their site icon. When an icon arrives, every waiting
// item of that address that is still in the tree (a deleted one is let go
// by its reference), still has that address and still shows the stock icon
// it was given takes the icon file.
class CIconWaits {
 public:
  void Expect(CMyNode* item);
  // The items that took the icon (the caller redraws them and saves).
  std::vector<CMyNode*> Arrived(const CMyNodeList& list, const std::string& address, const std::string& iconFile);
  // The download failed: the items keep the stock icon.
  void Failed(const std::string& address);
  size_t Waiting() const { return m_waits.size(); }

 private:
  struct Wait {
    CNodeRef item;
    std::string address, stockIcon;
  };
  std::vector<Wait> m_waits;
};

// ---- clipboard -------------------------------------------------------------------------

// How one format on the clipboard is kept while the capture borrows it.
enum class ClipKeep {
  kSkip,         // not kept: derived from another format, or a handle of the owner's
  kMemory,       // a memory block, copied byte for byte
  kBitmap,       // a bitmap handle, copied as a bitmap
  kEnhMetafile,  // an enhanced metafile handle, copied as one
};
struct ClipFormat {
  unsigned format;
  ClipKeep keep;
};
// The formats to keep, in the clipboard's own order. Of the text formats
// (1 text, 7 OEM text, 13 Unicode text), the bitmap formats (2 bitmap, 8 DIB,
// 17 DIB v5) and the metafile formats (3 picture, 14 enhanced) the system
// lists the one the owner gave first and makes the others from it: only
// that one is kept, and the system makes the others again. The palette (9)
// goes with a bitmap; owner-display (0x80), private (0x200..0x2FF) and GDI
// object (0x300..0x3FF) formats are handles of the owner and cannot be kept.
std::vector<ClipFormat> PlanClipboardKeep(const std::vector<unsigned>& formats);

}  // namespace panels

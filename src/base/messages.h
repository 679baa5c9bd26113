// Every window, thread and control message number and every timer
// identifier that the program's windows, threads and model share: one name
// each, in one place. The model posts these through IUserInterface, so they
// are plain numbers here (WM_USER is 0x400, WM_APP 0x8000); the Win32 files
// check the ones derived from Win32 constants (win/messages_win32.h).
//
// Two numbers carry two messages each, to different receivers, and keep
// doing so: 0x433 (a thread message to the user-interface thread, and a
// window message to the main window) and 0x435 (a thread message to the
// resolver thread, and a window message to the main window).
#pragma once
#include <cstdint>

namespace qb {

enum : unsigned {
  // To the item panel.
  WM_PANEL_EDITOR_CLOSED = 0x41E,    // the item editor closed: wParam 1 saved, lParam its category
  WM_PANEL_RECORDER_CLOSED = 0x41F,  // the script recorder closed
  // To the main window.
  WM_TRAY_NOTIFY = 0x420,       // the tray icon's callback: lParam the mouse message
  WM_SETTINGS_CLOSED = 0x422,   // the settings window closed
  WM_APPLY_SKIN = 0x423,        // also to the panels and the chooser: take the skin again, repaint
  WM_LOGIN_CLOSED = 0x428,      // the login window closed
  WM_OPEN_CHAT = 0x429,         // a circle's member list came: open the chat window
  WM_CLOSE_CHAT = 0x42A,        // close the chat window (passed on by the main window)
  WM_CHAT_CLOSED = 0x42B,       // the chat window closed
  WM_LOGIN_RESULT = 0x433,      // wParam kLoginAccepted or kLoginRefused
  WM_NEW_VERSION = 0x434,       // the server knows a newer program
  WM_CHAT_AD = 0x435,           // the server's chat advertisement
  WM_MEMBER_ADDED = 0x437,      // wParam CircleMember::serial
  WM_MEMBER_CHANGED = 0x438,    // wParam CircleMember::serial
  WM_MEMBER_REMOVED = 0x439,    // wParam CircleMember::serial
  WM_CHAT_ARRIVED = 0x43A,      // chat records are queued
  WM_PLAZA_ARRIVED = 0x43B,     // plaza lines are queued
  // The chooser's "category created" notice: a number of its own, so that it
  // is never taken for the version notice (0x434).
  WM_CATEGORY_CREATED = 0x43C,
  // The plaza's member list replaced the members: an open chat window lists them again.
  WM_MEMBERS_RELISTED = 0x43D,
  // The server no longer knows the login and logging in again failed: wParam a SessionLost reason.
  WM_SESSION_LOST = 0x43F,
  WM_RESTACK_PANELS = 0x8001,   // show the visible panels again, over the main window
  WM_AFTER_SHOW = 0x8002,       // posted at start-up: the work that waits until the window is up
  WM_RAISE_SECONDARY = 0x8003,  // put the login and chat windows back over the panels, once they have raised themselves

  // Thread messages.
  WM_TRANSFER_STATUS = 0x432,   // to the user-interface thread: wParam a channel, lParam a TransferStatus
  WM_CLOSE_PROMPT = 0x433,      // to the user-interface thread: the transfer prompt closed
  WM_RESOLVE_SERVER = 0x435,    // to the resolver thread: look the server up
  WM_SERVER_ADDRESS = 0x436,    // from the resolver thread: lParam the address
  WM_NET_RECEIVED = 0x43E,      // from a link thread: datagrams wait in the receive queue

  // A panel to itself (WM_USER + 200 and on).
  WM_PANEL_ENTER = 0x4C8,       // Enter in an in-place edit, handled outside the edit's own procedure
  WM_PANEL_SHOWN = 0x4C9,       // the panel was shown: put it on top, retake the button backgrounds
  WM_PANEL_EDIT_DONE = 0x4CA,   // an in-place edit lost the focus: wParam its identifier
  WM_PANEL_TIPS = 0x4CB,        // make the buttons' tooltips, now that the panel is on screen
  WM_CHOOSER_CAPTURE = 0x4CC,   // the chooser: file the page into the tab's category (wParam the slot)
  WM_PAGE_FETCHED = 0x4CD,      // the chooser: a page's icon and offline copy are done (lParam a FetchResult*)

  // A parent's notifications handed back to the child control that caused
  // them: the parent's message number + 0x2000 (WM_USER + 0x1C00).
  kReflectBase = 0x2000,
  OCM_SKIN_DRAWITEM = kReflectBase + 0x002B,   // WM_DRAWITEM, to a skin button
  OCM_SKIN_COMMAND = kReflectBase + 0x0111,    // WM_COMMAND (BN_CLICKED), to a skin button
  OCM_SKIN_CTLCOLORBTN = kReflectBase + 0x0135,  // WM_CTLCOLORBTN, to a skin button
  OCM_LINK_CTLCOLOR = kReflectBase + 0x0138,   // WM_CTLCOLORSTATIC, to a static link
};

// wParam of WM_TRANSFER_STATUS.
const uintptr_t kUploadChannel = 101, kDownloadChannel = 102, kDownloadTotalChannel = 103;
// wParam of WM_LOGIN_RESULT.
const uintptr_t kLoginAccepted = 101, kLoginRefused = 102;
// wParam of WM_SESSION_LOST.
enum SessionLost : uintptr_t {
  kLostNoServer = 1,   // neither the keep-alive nor the logins were answered
  kLostRefused = 2,    // the server refused the login again (password changed, limits)
  kLostElsewhere = 3,  // the same user logged in on another machine
};

// Timer identifiers.
enum : unsigned {
  kLinkHoverTimer = 1,         // a static link, while the mouse is over it
  kTrayAnimationTimer = 4567,  // the tray icon's own window
  kKeepAliveTimer = 0x4E01,    // the main window, for the network state
  kTransferTimer = 0x4E02,     // the main window, for the network state
  kTransferResendTimer = 0x4E03,  // the main window, for the network state: a transfer's answer is late
  kSessionTimer = 0x4E05,      // the main window, for the network state: keep-alive answer, logging in again
  kRestackTimer = 0x5152,      // the main window: restack the panels after an activation
};

}  // namespace qb

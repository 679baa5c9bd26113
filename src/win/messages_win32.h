// The shared message numbers (base/messages.h) for the Win32 files, checked
// against the Win32 constants they are derived from.
#pragma once
#include <windows.h>

#include "base/messages.h"

namespace qb {

static_assert(WM_PANEL_EDITOR_CLOSED == WM_USER + 30 && WM_TRAY_NOTIFY == WM_USER + 32 &&
                  WM_APPLY_SKIN == WM_USER + 35 && WM_CATEGORY_CREATED == WM_USER + 60,
              "the window messages are WM_USER + n");
static_assert(WM_PANEL_ENTER == WM_USER + 200 && WM_PANEL_TIPS == WM_USER + 203, "the panels' own messages");
static_assert(WM_RESTACK_PANELS == WM_APP + 1 && WM_AFTER_SHOW == WM_APP + 2, "the main window's own messages");
static_assert(kReflectBase == WM_USER + 0x1C00 && OCM_SKIN_DRAWITEM == kReflectBase + WM_DRAWITEM &&
                  OCM_SKIN_COMMAND == kReflectBase + WM_COMMAND &&
                  OCM_SKIN_CTLCOLORBTN == kReflectBase + WM_CTLCOLORBTN &&
                  OCM_LINK_CTLCOLOR == kReflectBase + WM_CTLCOLORSTATIC,
              "a reflected notification is the parent's message + 0x2000");

}  // namespace qb

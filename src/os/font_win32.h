// A font description as the system's LOGFONT and back.
#pragma once
#include <windows.h>

#include "os/font.h"

namespace os {

LOGFONTW ToLogFont(const FontDesc& d);
FontDesc FromLogFont(const LOGFONTW& lf);

}  // namespace os

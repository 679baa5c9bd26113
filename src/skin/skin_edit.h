// The rules of the settings dialog that need no window: the name a new skin
// is saved under, which controls an area shows, and how an edited record
// takes the place of the area's record.
#pragma once
#include <string>

#include "skin/skin.h"

namespace qb {

// The folder name for a skin named by the user: the clean form of a name
// (lower case, file endings, path characters and dots removed), without
// blanks at either end, which a folder name of Windows cannot keep. Empty
// when nothing usable is left.
std::string CleanSkinName(const std::string& typed);

// Areas whose buttons stand on the area's background image take only the
// text colours (2 and 3); the others take all colours. The dialog shows the
// background colour buttons and the button sample for the latter, the
// transparent sample for the former.
bool AreaTakesAllColours(int area);

// The record being edited when the dialog shows an area: its look without
// its font (the font stays with the area until one is picked).
SkinStyle WorkingCopyOf(const SkinSet& skins, int area);

// Apply: the working copy becomes the area's record. With a font of its own
// the old font goes; without one it keeps the area's current font. The
// working copy is empty afterwards. 0 (and nothing changed) for an area
// outside 0..4.
int TakeWorkingCopy(SkinSet& skins, int area, SkinStyle& working);

// The sample captions: "透明样板-" / "按钮样板-" and the face name of the
// area's font, nothing after the dash without one.
std::string SampleCaption(const char* prefix, const os::CFont* font);

}  // namespace qb

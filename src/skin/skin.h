// Skins: the button look of the program's five screen areas, kept in
// skin\MySkin.db (the current skin) and in named skins skin\{name}\MySkin.db
// beside copies of their background images.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/archive.h"
#include "base/ui.h"
#include "os/font.h"

namespace qb {

using Colour = uint32_t;  // COLORREF: red in the low byte, then green, then blue
constexpr Colour MakeColour(unsigned r, unsigned g, unsigned b) { return (Colour)(r | (g << 8) | (b << 16)); }

enum : int {
  kSkinAreaCount = 5,
  kAreaFunctionButtons = 0,  // main window
  kAreaDirectory = 1,        // category panel
  kAreaBookmarks = 2,        // item panel (text colours only)
  kAreaPrograms = 3,         // program folder (text colours only)
  kAreaAddDialog = 4,        // category chooser
};

// A screen area's look without its font: copied as a whole.
struct SkinLook {
  Colour m_clrHoverBack = MakeColour(255, 234, 192);
  Colour m_clrHoverText = MakeColour(50, 50, 50);
  Colour m_clrNormalBack = MakeColour(208, 208, 208);
  Colour m_clrNormalText = MakeColour(50, 50, 50);
  Colour m_clrPressedBack = MakeColour(192, 192, 192);
  Colour m_clrPressedText = MakeColour(50, 50, 50);
  int32_t m_nClickMark = 1;  // flat mode: thin frame on hover and press
  int32_t m_nFlat = 0;
  std::string m_strImagePath = "BackGround.Bmp";
  std::string m_strAreaName;  // from the program, never stored
};

// The look of one screen area.
struct SkinStyle : SkinLook {
  std::unique_ptr<os::CFont> m_font;  // null: the buttons keep their default font
};

using SkinSet = std::array<SkinStyle, kSkinAreaCount>;

// "目录区" and the others, by area index; "" outside 0..4.
const char* SkinAreaName(int area);
// Every record back to its defaults (no font), with its area name.
void ResetSkins(SkinSet& skins);
// A record's look without its font: the settings dialog's working copy.
SkinStyle CopySkinLook(const SkinStyle& from);

// The description written for a record that has no font (see skin.cpp).
os::FontDesc DefaultSkinFont(int area);
// The description a record is saved with: its font's, or the default.
os::FontDesc SkinFontDesc(const SkinSet& skins, int area);

// The database bytes of five records, and their reading. Reading fills each
// record only once it was read whole, so a damaged file leaves the records
// before the fault with their new values and the rest as they were. A font
// that cannot be created is reported with a stop box (when `ui` is not null)
// and left null.
std::string EncodeSkinRecords(const SkinSet& skins);
int DecodeSkinRecords(IByteSource& src, SkinSet& skins, IUserInterface* ui);

// The operations of the current and the named skins. programDir ends in '\';
// an empty name means the current skin. `ui` shows the font-creation box
// (null: no box).
int LoadSkin(const std::string& programDir, const std::string& name, SkinSet& skins, IUserInterface* ui);
// A named skin's save pauses after each image copy (1200 ms); `pause` takes
// the place of the plain sleep, so a window can go on painting meanwhile.
using SkinPause = std::function<void(uint32_t ms)>;
int SaveSkin(const std::string& programDir, const std::string& name, const SkinSet& skins,
             const SkinPause& pause = nullptr);
void RelocateSkinImages(const std::string& programDir, const std::string& name, SkinSet& skins);
void FreeSkinFonts(SkinSet& skins);
// The file an area's image path names: a relative name (like the default
// "BackGround.Bmp") is a file of the program directory.
std::string SkinImageFile(const std::string& programDir, const std::string& image);

// The skin folder shipped with the program, which a fresh installation's
// image paths are pointed into at the first load.
extern const char kInstalledSkinName[];

}  // namespace qb

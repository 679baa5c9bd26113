#include "skin/skin_edit.h"

#include "store/node.h"

namespace qb {

std::string CleanSkinName(const std::string& typed) {
  // The cleaning of names leaves no dot, slash, backslash or colon, so the
  // result is one folder inside skin\ and never a path out of it.
  std::string name = CleanName(typed);
  size_t a = name.find_first_not_of(' ');
  if (a == std::string::npos) return std::string();
  size_t b = name.find_last_not_of(' ');
  return name.substr(a, b - a + 1);
}

bool AreaTakesAllColours(int area) { return area != kAreaBookmarks && area != kAreaPrograms; }

SkinStyle WorkingCopyOf(const SkinSet& skins, int area) {
  if (area < 0 || area >= kSkinAreaCount) return SkinStyle();
  return CopySkinLook(skins[static_cast<size_t>(area)]);
}

int TakeWorkingCopy(SkinSet& skins, int area, SkinStyle& working) {
  if (area < 0 || area >= kSkinAreaCount) return 0;
  SkinStyle& record = skins[static_cast<size_t>(area)];
  if (!working.m_font) working.m_font = std::move(record.m_font);
  std::string areaName = record.m_strAreaName;
  record = std::move(working);
  // The area's name belongs to the area, whatever the copy carried.
  record.m_strAreaName = areaName.empty() ? SkinAreaName(area) : areaName;
  working = SkinStyle();
  return 1;
}

std::string SampleCaption(const char* prefix, const os::CFont* font) {
  std::string caption = prefix;
  if (font) caption += os::FaceName(font->Desc());
  return caption;
}

}  // namespace qb

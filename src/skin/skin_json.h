// The five skin records as JSON (UTF-8), for qimbo-tool's skin dump and make.
//
// A top-level array of five objects, area 0 first:
//   {"area": 0, "areaName": "...",
//    "font": {"height": -12, "width": 0, "escapement": 0, "orientation": 0,
//             "weight": 400, "italic": 0, "underline": 0, "strikeOut": 0,
//             "charSet": 134, "outPrecision": 0, "clipPrecision": 0,
//             "quality": 0, "pitchAndFamily": 0},   (null: the record has no font)
//    "faceName": "宋体",
//    "colours": {"normalText": "#323232", "normalBack": "#D0D0D0",
//                "hoverText": "#323232", "hoverBack": "#FFEAC0",
//                "pressedText": "#323232", "pressedBack": "#C0C0C0"},
//    "flat": 0, "clickMark": 1, "image": "BackGround.Bmp"}
// Colours are written #RRGGBB (red first, as people read them).
#pragma once
#include <string>

#include "skin/skin.h"

namespace qb {

std::string SkinToJson(const SkinSet& skins);

// Reads the form above. Members left out keep the area's defaults ("font"
// left out or null: no font); unknown members, wrong types and values out of
// range are errors. Fonts are created for the records that name one. On
// failure returns 0 with a message in `error` (UTF-8) and `skins` untouched.
int SkinFromJson(const std::string& utf8, SkinSet& skins, std::string& error);

}  // namespace qb

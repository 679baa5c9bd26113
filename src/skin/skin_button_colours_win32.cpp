// The skin button's colours and styles, and a skin record pushed into a
// button whole.
#include "skin/skin_button_win32.h"

#include <algorithm>

#include "skin/skin.h"

namespace qb {

int CSkinButton::SetColor(int index, COLORREF colour, bool redraw) {
  if (index < 0 || index > 5) return 3;
  m_colours[index] = colour;
  if (redraw) Redraw();
  return 0;
}

int CSkinButton::OffsetColor(int index, int offset, bool redraw) {
  if (index < 0 || index > 5) return 3;
  if (offset < -255 || offset > 255) return 5;
  COLORREF c = m_colours[index];
  int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  int shift;
  if (offset > 0)
    shift = std::min({offset, 255 - r, 255 - g, 255 - b});
  else
    shift = std::max({offset, -r, -g, -b});
  return SetColor(index, RGB(r + shift, g + shift, b + shift), redraw);
}

int CSkinButton::SetFlat(bool flat, bool redraw) {
  m_flat = flat;
  if (redraw) Redraw();
  return 0;
}

int CSkinButton::SetClickMark(bool mark, bool redraw) {
  m_clickMark = mark;
  if (redraw) Redraw();
  return 0;
}

int CSkinButton::SetAlign(int align, bool redraw) {
  if (align < 0 || align > 2) return 4;
  m_align = align;
  if (redraw) Redraw();
  return 0;
}

int CSkinButton::DrawTransparent(bool redraw) {
  m_transparent = true;
  FreeBackground();
  if (redraw) Redraw();
  return 0;
}

SkinColours SkinColoursOf(const SkinLook& r, HFONT font) {
  // In the order of the fields: font, hover, normal and pressed back and text, the styles.
  return SkinColours{font, r.m_clrHoverBack, r.m_clrHoverText, r.m_clrNormalBack, r.m_clrNormalText,
                     r.m_clrPressedBack, r.m_clrPressedText, r.m_nClickMark, r.m_nFlat};
}

// A button not on screen is painted whole when it shows: no repaint is asked for.
void ApplySkinTextColours(CSkinButton& button, const SkinColours& skin) {
  bool redraw = IsWindowVisible(button.GetSafeHwnd()) != 0;
  button.SetFont(skin.font, redraw);
  button.SetColor(CSkinButton::kForeIn, skin.hoverText, false);
  button.SetColor(CSkinButton::kForeOut, skin.normalText, false);
  button.SetColor(CSkinButton::kForePressed, skin.pressedText, false);
  button.SetFlat(skin.flat != 0, redraw);
  button.SetClickMark(skin.clickMark != 0, false);
}

void ApplySkinToButton(CSkinButton& button, const SkinColours& skin) {
  button.SetColor(CSkinButton::kBackIn, skin.hoverBack, false);
  button.SetColor(CSkinButton::kBackOut, skin.normalBack, false);
  button.SetColor(CSkinButton::kBackFocus, skin.pressedBack, false);
  ApplySkinTextColours(button, skin);
}

}  // namespace qb

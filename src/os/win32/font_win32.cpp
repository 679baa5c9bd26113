#include <windows.h>

#include "os/font.h"
#include "win/text_win32.h"

namespace os {

bool FontRefusedForTest(const FontDesc& desc);

// CFont is the owner of its font: the portable header keeps the handle as an
// opaque pointer, so the release is written out here.
CFont::~CFont() {
  if (m_handle) DeleteObject((HFONT)m_handle);
}

std::unique_ptr<CFont> CFont::Create(const FontDesc& desc) {
  if (FontRefusedForTest(desc)) return nullptr;
  LOGFONTW lf;
  ZeroMemory(&lf, sizeof lf);
  lf.lfHeight = desc.head.height;
  lf.lfWidth = desc.head.width;
  lf.lfEscapement = desc.head.escapement;
  lf.lfOrientation = desc.head.orientation;
  lf.lfWeight = desc.head.weight;
  lf.lfItalic = desc.head.italic;
  lf.lfUnderline = desc.head.underline;
  lf.lfStrikeOut = desc.head.strikeOut;
  lf.lfCharSet = desc.head.charSet;
  lf.lfOutPrecision = desc.head.outPrecision;
  lf.lfClipPrecision = desc.head.clipPrecision;
  lf.lfQuality = desc.head.quality;
  lf.lfPitchAndFamily = desc.head.pitchAndFamily;
  // The face name is stored in code page 936 whatever the system's language.
  std::wstring face = qb::W(FaceName(desc));
  size_t n = face.size() < LF_FACESIZE - 1 ? face.size() : LF_FACESIZE - 1;
  memcpy(lf.lfFaceName, face.data(), n * sizeof(WCHAR));
  HFONT font = CreateFontIndirectW(&lf);
  if (!font) return nullptr;
  return std::unique_ptr<CFont>(new CFont(desc, font));
}

}  // namespace os

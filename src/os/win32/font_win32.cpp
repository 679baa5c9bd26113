#include <windows.h>

#include <cstddef>
#include <cstring>

#include "os/font_win32.h"
#include "win/text_win32.h"

namespace os {

bool FontRefusedForTest(const FontDesc& desc);

// A head is the first bytes of a LOGFONT as Windows lays it out (the skin
// database keeps them as they are).
static_assert(offsetof(LOGFONTW, lfFaceName) == kFontHeadBytes, "a head is a LOGFONT's start");

LOGFONTW ToLogFont(const FontDesc& d) {
  LOGFONTW lf = {};
  memcpy(&lf, EncodeFontHead(d.head).data(), kFontHeadBytes);
  // The face name is stored in code page 936 whatever the system's language.
  std::wstring face = qb::W(FaceName(d));
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  return lf;
}

FontDesc FromLogFont(const LOGFONTW& lf) {
  FontDesc d;
  d.head = DecodeFontHead(reinterpret_cast<const unsigned char*>(&lf));
  SetFaceName(d, qb::Gbk(lf.lfFaceName));
  return d;
}

// CFont is the owner of its font: the portable header keeps the handle as an
// opaque pointer, so the release is written out here.
CFont::~CFont() {
  if (m_handle) DeleteObject((HFONT)m_handle);
}

std::unique_ptr<CFont> CFont::Create(const FontDesc& desc) {
  if (FontRefusedForTest(desc)) return nullptr;
  LOGFONTW lf = ToLogFont(desc);
  HFONT font = CreateFontIndirectW(&lf);
  if (!font) return nullptr;
  return std::unique_ptr<CFont>(new CFont(desc, font));
}

}  // namespace os

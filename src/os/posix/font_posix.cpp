// Away from Windows a font is only its description: enough for the skin
// database, the tool and the tests.
#include "os/font.h"

namespace os {

bool FontRefusedForTest(const FontDesc& desc);

CFont::~CFont() {}

std::unique_ptr<CFont> CFont::Create(const FontDesc& desc) {
  if (FontRefusedForTest(desc)) return nullptr;
  return std::unique_ptr<CFont>(new CFont(desc, nullptr));
}

}  // namespace os

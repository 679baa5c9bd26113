// Fonts through the OS seam. The skin database stores a font as the head of a
// Windows LOGFONT plus its face name; this header gives that description a
// portable shape and creates the font from it. On Windows the font is a real
// GDI font; elsewhere it is a stand-in that keeps the description, so skin
// files load and save the same way on both.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace os {

// The first seven members of a LOGFONT, in the order and sizes the skin
// database stores them (28 bytes, little-endian).
struct FontHead {
  int32_t height = 0;
  int32_t width = 0;
  int32_t escapement = 0;
  int32_t orientation = 0;
  int32_t weight = 0;
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strikeOut = 0;
  uint8_t charSet = 0;
  uint8_t outPrecision = 0;
  uint8_t clipPrecision = 0;
  uint8_t quality = 0;
  uint8_t pitchAndFamily = 0;
};

enum : size_t {
  kFontHeadBytes = 28,
  kFaceNameBytes = 32,  // LF_FACESIZE: 31 bytes of name and the terminating zero
};

// A whole font description: the head and the face name (GBK, zero-terminated).
struct FontDesc {
  FontHead head;
  char faceName[kFaceNameBytes] = {};
};

// The 28 bytes of a head as the database holds them.
std::string EncodeFontHead(const FontHead& head);
// Reads the head from exactly kFontHeadBytes bytes at p.
FontHead DecodeFontHead(const unsigned char* p);

std::string FaceName(const FontDesc& desc);
// Copies a face name in, cut to 31 bytes. A cut never leaves half of a
// double-byte character at the end, because Windows would turn that byte into
// a different name.
void SetFaceName(FontDesc& desc, const std::string& gbk);

bool SameFontDesc(const FontDesc& a, const FontDesc& b);

// An owned font. Handle() is the HFONT on Windows (null elsewhere); the
// portable code never looks inside it.
class CFont {
 public:
  ~CFont();
  CFont(const CFont&) = delete;
  CFont& operator=(const CFont&) = delete;
  // Null when the system refuses the description.
  static std::unique_ptr<CFont> Create(const FontDesc& desc);
  // The description the font was created from.
  const FontDesc& Desc() const { return m_desc; }
  void* Handle() const { return m_handle; }

 private:
  CFont(const FontDesc& desc, void* handle) : m_desc(desc), m_handle(handle) {}
  FontDesc m_desc;
  void* m_handle;
};

// Tests make font creation fail on purpose: while set, a description for
// which `refuse` answers true is refused. nullptr restores normal creation.
using FontRefusalFn = bool (*)(const FontDesc& desc);
void SetFontRefusal(FontRefusalFn refuse);

}  // namespace os

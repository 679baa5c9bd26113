#include <atomic>

#include "os/font.h"

namespace os {

namespace {
void PutI32(std::string& out, int32_t v) {
  uint32_t u = (uint32_t)v;
  for (int i = 0; i < 4; ++i) out.push_back((char)(u >> (8 * i)));
}
int32_t GetI32(const unsigned char* p) {
  return (int32_t)((uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24));
}
std::atomic<FontRefusalFn> g_refuse{nullptr};
}  // namespace

std::string EncodeFontHead(const FontHead& h) {
  std::string out;
  PutI32(out, h.height);
  PutI32(out, h.width);
  PutI32(out, h.escapement);
  PutI32(out, h.orientation);
  PutI32(out, h.weight);
  const uint8_t bytes[8] = {h.italic,       h.underline,     h.strikeOut, h.charSet,
                            h.outPrecision, h.clipPrecision, h.quality,   h.pitchAndFamily};
  out.append((const char*)bytes, sizeof bytes);
  return out;
}

FontHead DecodeFontHead(const unsigned char* p) {
  FontHead h;
  h.height = GetI32(p);
  h.width = GetI32(p + 4);
  h.escapement = GetI32(p + 8);
  h.orientation = GetI32(p + 12);
  h.weight = GetI32(p + 16);
  h.italic = p[20];
  h.underline = p[21];
  h.strikeOut = p[22];
  h.charSet = p[23];
  h.outPrecision = p[24];
  h.clipPrecision = p[25];
  h.quality = p[26];
  h.pitchAndFamily = p[27];
  return h;
}

std::string FaceName(const FontDesc& desc) {
  return std::string(desc.faceName, strnlen(desc.faceName, kFaceNameBytes - 1));
}

void SetFaceName(FontDesc& desc, const std::string& gbk) {
  const size_t limit = kFaceNameBytes - 1;
  size_t len = 0;
  // Walk whole characters; the name also ends at an embedded zero, as a C
  // string copy would end it.
  for (size_t i = 0; i < gbk.size() && gbk[i] != '\0';) {
    unsigned char c = (unsigned char)gbk[i];
    size_t step = (c >= 0x81 && c <= 0xFE && i + 1 < gbk.size()) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
    len = i;
  }
  memset(desc.faceName, 0, sizeof desc.faceName);
  memcpy(desc.faceName, gbk.data(), len);
}

bool SameFontDesc(const FontDesc& a, const FontDesc& b) {
  return EncodeFontHead(a.head) == EncodeFontHead(b.head) && FaceName(a) == FaceName(b);
}

void SetFontRefusal(FontRefusalFn refuse) { g_refuse = refuse; }

// Shared by both implementations of CFont::Create.
bool FontRefusedForTest(const FontDesc& desc) {
  FontRefusalFn f = g_refuse;
  return f && f(desc);
}

}  // namespace os

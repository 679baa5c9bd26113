// The skin database (skin\MySkin.db): five records of colours, flags, a font
// description and an image path. Whatever was read is saved and read back
// the same, and its JSON form (qimbo-tool skin dump / make) gives the same
// database again, or is refused.
#include "base/archive.h"
#include "fuzz_util.h"
#include "skin/skin.h"
#include "skin/skin_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qfuzz::CQuietUi ui;
  qb::CMemorySource src(data, size);
  qb::SkinSet skins;
  qb::ResetSkins(skins);
  qb::DecodeSkinRecords(src, skins, &ui);

  std::string saved = qb::EncodeSkinRecords(skins);
  qb::SkinSet back;
  qb::ResetSkins(back);
  qb::CMemorySource again(saved);
  FUZZ_CHECK(qb::DecodeSkinRecords(again, back, &ui));
  FUZZ_CHECK(qb::EncodeSkinRecords(back) == saved);

  // The JSON form holds what the program writes: text names, colours of 24
  // bits. For such records it gives the same database back.
  bool text = true;
  for (int i = 0; i < qb::kSkinAreaCount; ++i) {
    const qb::SkinStyle& s = skins[i];
    text = text && qfuzz::IsText(os::FaceName(qb::SkinFontDesc(skins, i))) && qfuzz::IsText(s.m_strImagePath);
    for (qb::Colour c : {s.m_clrHoverBack, s.m_clrHoverText, s.m_clrNormalBack, s.m_clrNormalText,
                         s.m_clrPressedBack, s.m_clrPressedText})
      text = text && c <= 0xFFFFFF;
  }
  std::string json = qb::SkinToJson(skins);
  qb::SkinSet fromJson;
  qb::ResetSkins(fromJson);
  std::string error;
  // skin make may refuse values the program never writes (a "flat" of 2);
  // what it takes, it takes unchanged.
  if (qb::SkinFromJson(json, fromJson, error) && text) FUZZ_CHECK(qb::EncodeSkinRecords(fromJson) == saved);

  qb::FreeSkinFonts(skins);
  qb::FreeSkinFonts(back);
  qb::FreeSkinFonts(fromJson);
  return 0;
}

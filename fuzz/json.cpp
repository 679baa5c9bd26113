// JSON as qimbo-tool reads it: the reader itself, skins (skin make) and the
// favorites lines of fav make, whose output the program must load.
#include "base/json.h"
#include "fuzz_util.h"
#include "skin/skin.h"
#include "skin/skin_json.h"
#include "store/favorites_file.h"
#include "store/node.h"
#include "tools/tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text((const char*)data, size);
  qb::JsonValue value;
  qb::JsonError error;
  qb::ParseJson(text, value, error);

  qb::SkinSet skins;
  qb::ResetSkins(skins);
  std::string why;
  if (qb::SkinFromJson(text, skins, why)) {
    // What was taken writes out and reads back as the same database.
    std::string saved = qb::EncodeSkinRecords(skins);
    qb::SkinSet again;
    qb::ResetSkins(again);
    FUZZ_CHECK(qb::SkinFromJson(qb::SkinToJson(skins), again, why));
    FUZZ_CHECK(qb::EncodeSkinRecords(again) == saved);
    qb::FreeSkinFonts(again);
  }
  qb::FreeSkinFonts(skins);

  qfuzz::WriteScratch("in.jsonl", text);
  qfuzz::RemoveScratch("out.sc");
  std::string in = qfuzz::ScratchNative() + "in.jsonl", out = qfuzz::ScratchNative() + "out.sc";
  char* argv[] = {(char*)"fav", (char*)"make", &in[0], &out[0], nullptr};
  qtool::RunFn fav = qtool::FindGroup("fav");
  FUZZ_CHECK(fav != nullptr);
  if (fav(4, argv) == 0) {
    CMyNodeList list;
    FUZZ_CHECK(LoadFavoritesFile(list, qfuzz::ScratchCore() + "out.sc"));
  }
  return 0;
}

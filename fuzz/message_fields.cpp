// The message text of every datagram: splitting into fields, the number,
// address, font and node readers, bracketing, the chat-text escaping and the
// text cipher, with the properties the two ends rely on.
#include "base/cipher.h"
#include "fuzz_util.h"
#include "net/message.h"

using namespace qb;

static bool HasBracket(const std::string& s) { return s.find_first_of("<>") != std::string::npos; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text((const char*)data, size);

  FieldList fields;
  bool any = SplitFields(text, fields);
  FUZZ_CHECK(any == !fields.empty());
  for (const std::string& f : fields) {
    FUZZ_CHECK(f.find('>') == std::string::npos);  // a field never holds '>'
    ReadNumber(f);
    uint32_t a = ParseDottedAddress(f);
    if (a != kNoAddress) FUZZ_CHECK(ParseDottedAddress(DottedAddress(a)) == a);
  }

  // Font fields: what is read writes back and reads the same.
  FieldList copy = fields;
  CharFormat cf;
  if (ParseFontFields(copy, cf) && !HasBracket(cf.faceName)) {
    FieldList again;
    FUZZ_CHECK(SplitFields(FormatFontFields(cf), again));
    FUZZ_CHECK(again.size() == 12);
    CharFormat back;
    FUZZ_CHECK(ParseFontFields(again, back));
    cf.cbSize = 60;  // the sender always writes 60
    FUZZ_CHECK(back == cf);
  }

  // Node fields: the same, for texts the cipher and the brackets can carry.
  copy = fields;
  NodeWire node;
  if (ParseNodeFields(copy, node)) {
    // Decoded texts end at their first zero byte, so the cipher carries them whole.
    for (const std::string* t : {&node.name, &node.address, &node.parentName, &node.iconPath})
      FUZZ_CHECK(t->find('\0') == std::string::npos);
    if (!HasBracket(node.note) && !HasBracket(node.circle) && !node.name.empty()) {
      FieldList again;
      FUZZ_CHECK(SplitFields(FormatNodeFields(node), again));
      NodeWire back;
      FUZZ_CHECK(ParseNodeFields(again, back));
      FUZZ_CHECK(back.name == node.name && back.kind == node.kind && back.address == node.address &&
                 back.parentName == node.parentName && back.iconPath == node.iconPath && back.note == node.note &&
                 back.visits == node.visits && back.slot == node.slot && back.circle == node.circle);
    }
  }

  // A bracketed value is one field: the value without its brackets.
  FieldList one;
  FUZZ_CHECK(SplitFields(BracketField(text), one));
  FUZZ_CHECK(one.size() == 1);
  std::string plain;
  for (char c : text)
    if (c != '<' && c != '>') plain.push_back(c);
  FUZZ_CHECK(one.front() == plain);

  // Escaped chat text carries no bracket; for whole GBK text it comes back
  // without any U+01D6 / U+01D8 that was typed.
  std::string escaped = EscapeChatText(text);
  FUZZ_CHECK(!HasBracket(escaped));
  if (qfuzz::IsWholeGbk(text)) {
    std::string typed;
    for (size_t i = 0; i < text.size(); ++i) {
      if ((unsigned char)text[i] >= 0x81) {
        if (!(text[i] == '\xA8' && (text[i + 1] == '\xB5' || text[i + 1] == '\xB6'))) typed.append(text, i, 2);
        ++i;
      } else {
        typed.push_back(text[i]);
      }
    }
    FUZZ_CHECK(UnescapeChatText(escaped) == typed);
    FUZZ_CHECK(EscapeChatText(UnescapeChatText(escaped)) == escaped);
  }
  UnescapeChatText(text);

  // The cipher: letters A to P only, twice as long, and back to the text up
  // to its first zero byte.
  std::string coded = EncodeText(text);
  std::string upToZero = text.substr(0, text.find('\0'));
  FUZZ_CHECK(coded.size() == 2 * upToZero.size());
  FUZZ_CHECK(coded.find_first_not_of("ABCDEFGHIJKLMNOP") == std::string::npos);
  FUZZ_CHECK(DecodeText(coded) == upToZero);
  DecodeText(text);
  return 0;
}

#include "net/message.h"

#include <cstdio>

#include "base/cipher.h"

namespace qb {

bool SplitFields(const std::string& text, FieldList& out) {
  out.clear();
  std::string cur;
  bool inside = false;
  for (char c : text) {
    if (!inside) {
      if (c == '<') {
        cur.clear();
        inside = true;
      } else if (c == '>') {
        out.push_back(cur);
        cur.clear();
      } else {
        cur.push_back(c);
      }
    } else if (c == '>') {
      out.push_back(cur);
      cur.clear();
      inside = false;
    } else {
      cur.push_back(c);
    }
  }
  return !out.empty();
}

std::string BracketField(const std::string& value) {
  std::string out = "<";
  for (char c : value)
    if (c != '<' && c != '>') out.push_back(c);
  out.push_back('>');
  return out;
}

bool TakeField(FieldList& fields, std::string& out) {
  if (fields.empty()) return false;
  out = std::move(fields.front());
  fields.pop_front();
  return true;
}

std::string FormatNumber(int32_t n) {
  char buf[16];
  snprintf(buf, sizeof buf, "%d", (int)n);
  return buf;
}

std::string BracketNumber(int32_t n) { return "<" + FormatNumber(n) + ">"; }

int32_t ReadNumber(const std::string& field) {
  size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || field[i] == '\t' || field[i] == '\n' || field[i] == '\r' ||
                              field[i] == '\v' || field[i] == '\f'))
    ++i;
  bool neg = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) neg = field[i++] == '-';
  int64_t v = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    v = v * 10 + (field[i] - '0');
    if (v > 0x80000000LL) v = 0x80000000LL;  // clamp; keeps the loop from overflowing
  }
  if (neg) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  return (int32_t)v;
}

uint32_t MakeAddress(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (a & 255) | (b & 255) << 8 | (c & 255) << 16 | (uint32_t)(d & 255) << 24;
}

int32_t AddressNumber(uint32_t address) { return (int32_t)address; }
uint32_t AddressFromNumber(int32_t number) { return (uint32_t)number; }

std::string DottedAddress(uint32_t a) {
  char buf[20];
  snprintf(buf, sizeof buf, "%u.%u.%u.%u", a & 255, (a >> 8) & 255, (a >> 16) & 255, a >> 24);
  return buf;
}

uint32_t ParseDottedAddress(const std::string& text) {
  uint32_t out = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return kNoAddress;
      ++i;
    }
    size_t start = i;
    unsigned v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) v = v * 10 + (text[i++] - '0');
    if (i == start || v > 255) return kNoAddress;
    out |= v << (8 * part);
  }
  return i == text.size() ? out : kNoAddress;
}

// GBK U+01D6 and U+01D8 stand in for the brackets inside chat text.
static const char kLt[] = "\xA8\xB5";
static const char kGt[] = "\xA8\xB6";

// Bytes of the GBK character that starts at `i`: a lead byte 0x81..0xFE takes
// the next byte with it when that byte can follow a lead byte (0x40..0xFE but
// 0x7F). '<' and '>' never can, so a stray lead byte never hides a bracket.
static size_t CharLength(const std::string& text, size_t i) {
  unsigned char lead = (unsigned char)text[i];
  if (lead < 0x81 || lead > 0xFE || i + 1 >= text.size()) return 1;
  unsigned char trail = (unsigned char)text[i + 1];
  return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

std::string EscapeChatText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size();) {
    size_t n = CharLength(text, i);
    if (n == 2) {
      // A typed U+01D6 / U+01D8 would turn into a bracket at the receiver: dropped.
      if (text[i] != '\xA8' || (text[i + 1] != '\xB5' && text[i + 1] != '\xB6')) out.append(text, i, 2);
    } else if (text[i] == '<') {
      out += kLt;
    } else if (text[i] == '>') {
      out += kGt;
    } else {
      out.push_back(text[i]);
    }
    i += n;
  }
  return out;
}

std::string UnescapeChatText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t n = CharLength(text, i);
    if (n == 2 && text[i] == '\xA8' && text[i + 1] == '\xB5')
      out.push_back('<');
    else if (n == 2 && text[i] == '\xA8' && text[i + 1] == '\xB6')
      out.push_back('>');
    else
      out.append(text, i, n);
    i += n;
  }
  return out;
}

bool operator==(const CharFormat& a, const CharFormat& b) {
  return a.cbSize == b.cbSize && a.dwMask == b.dwMask && a.dwEffects == b.dwEffects && a.yHeight == b.yHeight &&
         a.yOffset == b.yOffset && a.crTextColor == b.crTextColor && a.bCharSet == b.bCharSet &&
         a.bPitchAndFamily == b.bPitchAndFamily && a.faceName == b.faceName;
}

bool operator==(const NodeWire& a, const NodeWire& b) {
  return a.name == b.name && a.kind == b.kind && a.address == b.address && a.parentName == b.parentName &&
         a.iconPath == b.iconPath && a.note == b.note && a.visits == b.visits && a.slot == b.slot &&
         a.circle == b.circle;
}

static std::string Half(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "<%u>", (unsigned)(v & 0xFFFF));
  return buf;
}

std::string FormatFontFields(const CharFormat& cf) {
  std::string face = cf.faceName.substr(0, 31);
  return BracketNumber(60) + Half(cf.dwMask >> 16) + Half(cf.dwMask) + Half(cf.dwEffects >> 16) +
         Half(cf.dwEffects) + BracketNumber(cf.yHeight) + BracketNumber(cf.yOffset) + Half(cf.crTextColor >> 16) +
         Half(cf.crTextColor) + BracketNumber(cf.bCharSet) + BracketNumber(cf.bPitchAndFamily) +
         BracketField(face);
}

bool ParseFontFields(FieldList& fields, CharFormat& out) {
  std::string f[12];
  for (int i = 0; i < 12; ++i)
    if (!TakeField(fields, f[i])) return false;
  auto pair = [&](int hi) {
    return ((uint32_t)ReadNumber(f[hi]) << 16) | ((uint32_t)ReadNumber(f[hi + 1]) & 0xFFFF);
  };
  CharFormat cf;
  cf.cbSize = (uint32_t)ReadNumber(f[0]);
  cf.dwMask = pair(1);
  cf.dwEffects = pair(3);
  cf.yHeight = ReadNumber(f[5]);
  cf.yOffset = ReadNumber(f[6]);
  cf.crTextColor = pair(7);
  cf.bCharSet = (uint8_t)(ReadNumber(f[9]) & 255);
  cf.bPitchAndFamily = (uint8_t)(ReadNumber(f[10]) & 255);
  cf.faceName = f[11].substr(0, 31);
  out = cf;
  return true;
}

std::string FormatNodeFields(const NodeWire& n) {
  return BracketField(EncodeText(n.name)) + BracketNumber(n.kind) + BracketField(EncodeText(n.address)) +
         BracketField(EncodeText(n.parentName)) + BracketField(EncodeText(n.iconPath)) + BracketField(n.note) +
         BracketNumber(n.visits) + BracketNumber(n.slot) + BracketField(n.circle);
}

bool ParseNodeFields(FieldList& fields, NodeWire& out) {
  std::string f[9];
  for (int i = 0; i < 8; ++i)
    if (!TakeField(fields, f[i])) return false;
  TakeField(fields, f[8]);
  if (f[0].empty() || f[1].empty() || f[6].empty() || f[7].empty()) return false;
  NodeWire n;
  n.name = DecodeText(f[0]);
  n.kind = ReadNumber(f[1]);
  if (n.kind < 0 || n.kind > 3) n.kind = 0;
  n.address = DecodeText(f[2]);
  n.parentName = DecodeText(f[3]);
  n.iconPath = DecodeText(f[4]);
  n.note = f[5];
  n.visits = ReadNumber(f[6]);
  n.slot = ReadNumber(f[7]);
  n.circle = f[8];
  out = n;
  return true;
}

// ---- program to server ----
static std::string UserPassword(const char* type, int32_t user, const std::string& password) {
  return BracketField(type) + BracketNumber(user) + BracketField(EncodeText(password));
}

std::string MsgLogin(int32_t user, const std::string& password) {
  return "<LGI>" + BracketNumber(kProgramVersion) + BracketNumber(user) + BracketField(EncodeText(password));
}
std::string MsgLogout(int32_t user, const std::string& password) { return UserPassword("LGO", user, password); }
std::string MsgKeepAlive(int32_t user, const std::string& password) { return UserPassword("LIV", user, password); }
std::string MsgReqWords(int32_t user) { return "<REQWORDS>" + BracketNumber(user); }

std::string MsgFavUpCount(int32_t count, int32_t user, const std::string& password) {
  return "<FAV><UP><COUNT>" + BracketNumber(count) + BracketNumber(user) + BracketField(password);
}
std::string MsgFavUpNode(const NodeWire& node) { return "<FAV><UP><NODE>" + FormatNodeFields(node); }
std::string MsgFavUpCancel() { return "<FAV><UP><CANCEL>"; }
std::string MsgFavDownReq(int32_t user, const std::string& password) {
  return "<FAV><DOWN><REQ>" + BracketNumber(user) + BracketField(password);
}
std::string MsgFavDownReady() { return "<FAV><DOWN><READY>"; }
std::string MsgFavDownNodeOk() { return "<FAV><DOWN><NODE><OK>"; }
std::string MsgFavDownCancel() { return "<FAV><DOWN><CANCEL>"; }

std::string MsgGroupUpNode(int32_t user, const std::string& name, int kind, const std::string& key,
                           const std::string& parentName, const std::string& note, const std::string& circle) {
  return "<GROUP><UPNODE>" + BracketNumber(user) + BracketField(name) + BracketNumber(kind) +
         BracketField(key.substr(0, 200)) + BracketField(parentName) + BracketField(note) + BracketField(circle);
}
std::string MsgGroupDropOut(const std::string& key, int32_t user) {
  return "<GROUP><DROPOUT>" + BracketField(key) + BracketNumber(user);
}
std::string MsgLeaveWord(int32_t user, int32_t target, const std::string& escapedText) {
  return "<LEAVEWORD>" + BracketNumber(user) + BracketNumber(target) + escapedText;
}

// ---- server to program ----
std::string MsgLoginOk(int32_t user) { return "<LGI><OK>" + BracketNumber(user); }
std::string MsgLoginRefused() { return "<LGI><FAILED>"; }
std::string MsgAliveOk() { return "<LIV><OK>"; }
std::string MsgAliveElsewhere() { return "<LIV><ELSEWHERE>"; }
std::string MsgAliveRefused() { return "<LIV><FAILED>"; }
std::string MsgVersion(int32_t version) { return "<VER>" + BracketNumber(version); }
std::string MsgFavUpAllowed() { return "<FAV><UP><ALLOWED>"; }
std::string MsgFavUpNodeOk() { return "<FAV><UP><NODE><OK>"; }
std::string MsgFavDownInvalid() { return "<FAV><DOWN><REQ><INVALID>"; }
std::string MsgFavDownBlank() { return "<FAV><DOWN><REQ><BLANK>"; }
std::string MsgFavDownCount(int32_t total) { return "<FAV><DOWN><COUNT>" + BracketNumber(total); }
std::string MsgFavDownNode(const NodeWire& node) { return "<FAV><DOWN><NODE>" + FormatNodeFields(node); }
std::string MsgGroupUpNodeResult(bool ok) { return ok ? "<GROUP><UPNODE><OK>" : "<GROUP><UPNODE><FAILED>"; }

std::string MsgGroupList(const std::string& circle, const std::vector<GroupListMember>& members) {
  std::string out = "<GROUP><LIST>" + BracketNumber((int32_t)members.size()) + BracketField(circle);
  for (const GroupListMember& m : members)
    out += BracketField(m.dotted) + BracketField(m.nickname) + BracketNumber(m.user) + BracketField(m.circle);
  return out;
}

std::string MsgLWords(int32_t user, const std::string& first, const std::string& second) {
  return "<LWORDS>" + BracketNumber(user) + BracketField(first) + BracketField(second);
}

std::string MsgChatList(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = "<CHAT><LIST>" + BracketNumber((int32_t)members.size());
  for (const auto& m : members) out += BracketField(m.first) + BracketField(m.second);
  return out;
}
std::string MsgChatAddUser(const std::string& dotted, const std::string& name) {
  return "<CHAT><ADDUSER>" + BracketField(dotted) + BracketField(name);
}
std::string MsgChatDeleUser(const std::string& dotted) { return "<CHAT><DELEUSER>" + BracketField(dotted); }
std::string MsgChatAd(const std::string& address) { return "<CHATAD>" + BracketField(address); }

std::string MsgChatText(int32_t user, const std::string& escapedText, const CharFormat& cf) {
  return MsgChatTextPlain(user, escapedText) + FormatFontFields(cf);
}
std::string MsgChatTextPlain(int32_t user, const std::string& escapedText) {
  return "<CHAT><TEXT>" + BracketNumber(user) + BracketField(escapedText);
}
std::string MsgUserEnter(int32_t addressNumber, const std::string& nickname, int32_t user,
                         const std::string& circle) {
  return "<GROUP><USERENTER>" + BracketNumber(addressNumber) + BracketField(nickname) + BracketNumber(user) +
         BracketField(circle);
}
std::string MsgUserOut(int32_t user, const std::string& circle, int32_t addressNumber,
                       const std::string& nickname) {
  return "<GROUP><USEROUT>" + BracketNumber(user) + BracketField(circle) + BracketNumber(addressNumber) +
         BracketField(nickname);
}

std::string FrameMessage(int32_t number, const std::string& body) { return BracketNumber(number) + body + "\r\n"; }

}  // namespace qb

// The text format of every message between the program, its server and other
// users' copies: one line of <bracketed> fields per UDP datagram. All text is
// GBK bytes; lengths count bytes.
//
// Builders return the message body without its number: the sender
// (CMsgSender) puts "<n>" in front and "\r\n" behind. The server builds its
// replies with the same functions, so both sides agree byte for byte.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace qb {

// A received message's fields, consumed from the front by the handlers.
using FieldList = std::deque<std::string>;

const int kProgramVersion = 1060;

// ---- fields --------------------------------------------------------------------
// Splits message text into fields; false when it holds none. Text after the
// last '>' (the CR LF, a leave-word's free text) never becomes a field.
bool SplitFields(const std::string& text, FieldList& out);
// Removes every '<' and '>' and wraps what is left: "<value>".
std::string BracketField(const std::string& value);
// Takes the front field; false (and `out` untouched) when the list is empty.
bool TakeField(FieldList& fields, std::string& out);

// ---- numbers and addresses ---------------------------------------------------
std::string FormatNumber(int32_t n);  // "%d"
std::string BracketNumber(int32_t n); // "<%d>"
// Leading blanks, optional sign, digits; stops at the first non-digit; no
// digits reads as 0. Values beyond 32 bits are clamped.
int32_t ReadNumber(const std::string& field);

// IPv4 addresses are held as uint32_t with the first octet in the low byte,
// which is network order in memory on every machine the program runs on.
const uint32_t kNoAddress = 0xFFFFFFFFu;
uint32_t MakeAddress(unsigned a, unsigned b, unsigned c, unsigned d);
// The "address number" form: the four bytes as a little-endian signed integer.
int32_t AddressNumber(uint32_t address);
uint32_t AddressFromNumber(int32_t number);
// Dotted-decimal text; text that does not parse gives kNoAddress.
std::string DottedAddress(uint32_t address);
uint32_t ParseDottedAddress(const std::string& text);

// ---- chat text -----------------------------------------------------------------
// Scans whole GBK characters: drops any U+01D6 / U+01D8 (A8 B5 / A8 B6)
// already there, then '<' -> A8 B5, '>' -> A8 B6. The pairs are only
// recognised as whole characters, never across two (报道 is B1 A8 B5 C0).
std::string EscapeChatText(const std::string& text);
std::string UnescapeChatText(const std::string& text);

// The character format that travels with chat text (the Rich Edit record).
struct CharFormat {
  uint32_t cbSize = 60;
  uint32_t dwMask = 0;
  uint32_t dwEffects = 0;
  int32_t yHeight = 0;
  int32_t yOffset = 0;
  uint32_t crTextColor = 0;  // 0x00BBGGRR
  uint8_t bCharSet = 0;
  uint8_t bPitchAndFamily = 0;
  std::string faceName;  // at most 31 bytes on the wire
};
bool operator==(const CharFormat& a, const CharFormat& b);
// Twelve bracketed fields.
std::string FormatFontFields(const CharFormat& cf);
// Consumes up to twelve fields; false when the list ends before the face name.
bool ParseFontFields(FieldList& fields, CharFormat& out);

// ---- favorites node on the wire ---------------------------------------------------
// The nine fields of a node in upload and download messages. Name, address,
// parent name and icon path are enciphered on the wire; this struct holds
// them plain.
struct NodeWire {
  std::string name;
  int kind = 0;
  std::string address;
  std::string parentName;
  std::string iconPath;
  std::string note;
  int32_t visits = 0;
  int32_t slot = 0;
  std::string circle;
};
bool operator==(const NodeWire& a, const NodeWire& b);
std::string FormatNodeFields(const NodeWire& node);
// Consumes the nine fields (the ninth is optional). False when the name,
// kind, visits or slot field is missing or empty. A kind outside 0..3 reads as 0.
bool ParseNodeFields(FieldList& fields, NodeWire& out);

// ---- program to server ----------------------------------------------------------
std::string MsgLogin(int32_t user, const std::string& password);      // LGI
std::string MsgLogout(int32_t user, const std::string& password);     // LGO
std::string MsgKeepAlive(int32_t user, const std::string& password);  // LIV
std::string MsgReqWords(int32_t user);                                // REQWORDS
std::string MsgFavUpCount(int32_t count, int32_t user, const std::string& password);
std::string MsgFavUpNode(const NodeWire& node);
std::string MsgFavUpCancel();
std::string MsgFavDownReq(int32_t user, const std::string& password);
std::string MsgFavDownReady();
std::string MsgFavDownNodeOk();
std::string MsgFavDownCancel();
// The circle request: name, kind, key (cut to 200 bytes), parent name, note, mark.
std::string MsgGroupUpNode(int32_t user, const std::string& name, int kind, const std::string& key,
                           const std::string& parentName, const std::string& note, const std::string& circle);
std::string MsgGroupDropOut(const std::string& key, int32_t user);
// `escapedText` is chat text already escaped; it is free text, not a field.
std::string MsgLeaveWord(int32_t user, int32_t target, const std::string& escapedText);

// ---- server to program ----------------------------------------------------------
std::string MsgLoginOk(int32_t user);
std::string MsgLoginRefused();
// The answers to a keep-alive: the session lives (again); the user logged in
// on another machine since; refused (a wrong password, the server's limits).
std::string MsgAliveOk();
std::string MsgAliveElsewhere();
std::string MsgAliveRefused();
std::string MsgVersion(int32_t version);
std::string MsgFavUpAllowed();
std::string MsgFavUpNodeOk();
std::string MsgFavDownInvalid();
std::string MsgFavDownBlank();
std::string MsgFavDownCount(int32_t total);
std::string MsgFavDownNode(const NodeWire& node);
std::string MsgGroupUpNodeResult(bool ok);
struct GroupListMember {
  std::string dotted;
  std::string nickname;
  int32_t user = 0;
  std::string circle;
};
std::string MsgGroupList(const std::string& circle, const std::vector<GroupListMember>& members);
std::string MsgLWords(int32_t user, const std::string& first, const std::string& second);
// Plaza member list: (dotted address, name) pairs.
std::string MsgChatList(const std::vector<std::pair<std::string, std::string>>& members);
std::string MsgChatAddUser(const std::string& dotted, const std::string& name);
std::string MsgChatDeleUser(const std::string& dotted);
std::string MsgChatAd(const std::string& address);

// ---- chat and circle messages (peer to peer; the plaza text also from the server) ----
// `escapedText` has been through EscapeChatText.
std::string MsgChatText(int32_t user, const std::string& escapedText, const CharFormat& cf);
std::string MsgChatTextPlain(int32_t user, const std::string& escapedText);
std::string MsgUserEnter(int32_t addressNumber, const std::string& nickname, int32_t user,
                         const std::string& circle);
std::string MsgUserOut(int32_t user, const std::string& circle, int32_t addressNumber,
                       const std::string& nickname);

// The datagram text for a body and a number: "<n>" body "\r\n".
std::string FrameMessage(int32_t number, const std::string& body);

}  // namespace qb

// Input scripts: what Movrec.dll records and replays, and the file a script
// is kept in. Portable: no Win32 here, so the reader is tested natively.
//
// File layout (all integers little-endian):
//   0  8 bytes  "QBSCRIPT"
//   8  u16      format version (1)
//  10  u16      mouse record mode the script was made with (1 trail, 2 buttons only)
//  12  u32      number of events n
//  16  n events of 20 bytes each (ScriptEvent below, in this order)
//  16 + 20n     u32 CRC-32 of the bytes from 0 to 16 + 20n
// A file is exactly 20 + 20n bytes long; anything else is refused before a
// single event is allocated. Script files hold the user's keystrokes
// (passwords typed into a login page among them), so they are written readable
// by their owner only where the file system allows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qb {

enum ScriptEventType : uint8_t {
  kKeyDown = 1,
  kKeyUp = 2,
  kMouseMove = 3,
  kButtonDown = 4,
  kButtonUp = 5,
  kWheel = 6,   // vertical wheel; data = signed delta (120 a notch)
  kHWheel = 7,  // horizontal wheel
};

// Buttons of kButtonDown / kButtonUp.
enum ScriptButton : uint16_t { kLeftButton = 1, kRightButton = 2, kMiddleButton = 3, kXButton1 = 4, kXButton2 = 5 };

struct ScriptEvent {
  uint32_t time = 0;  // milliseconds since the recording started; never decreasing
  uint8_t type = 0;   // ScriptEventType
  uint8_t flags = 0;  // keys: bit 0 extended key
  uint16_t code = 0;  // keys: virtual-key code 1..254; buttons: ScriptButton
  int32_t x = 0;      // mouse: screen position in pixels (virtual desktop)
  int32_t y = 0;
  int32_t data = 0;   // keys: scan code; wheels: delta
  bool operator==(const ScriptEvent& o) const {
    return time == o.time && type == o.type && flags == o.flags && code == o.code && x == o.x && y == o.y &&
           data == o.data;
  }
};

struct Script {
  uint16_t mode = 1;
  std::vector<ScriptEvent> events;
};

constexpr uint16_t kScriptVersion = 1;
constexpr size_t kScriptHeaderSize = 16;
constexpr size_t kScriptEventSize = 20;
// Half an hour of dense mouse trail is far below this; a bigger file is not ours.
constexpr uint32_t kMaxScriptEvents = 400000;
constexpr uint64_t kMaxScriptFileSize = kScriptHeaderSize + uint64_t(kMaxScriptEvents) * kScriptEventSize + 4;

std::string EncodeScript(const Script& script);
// 1 and the script when `bytes` is a whole, valid script file; 0 otherwise,
// with `out` untouched.
int DecodeScript(const std::string& bytes, Script& out);
// Same, over a buffer.
int DecodeScript(const unsigned char* data, size_t size, Script& out);

// Whether one event can be replayed as it stands (known type, key code, button).
bool IsValidScriptEvent(const ScriptEvent& e);

// Writes the script to `path` (program path, GBK) through a temporary name
// beside it and a rename, readable by the owner only where possible. 1 on success.
int StoreScriptFile(const std::string& path, const Script& script);
// Reads a script file, refusing a file above kMaxScriptFileSize before reading it.
int LoadScriptFile(const std::string& path, Script& out);

uint32_t Crc32(const unsigned char* data, size_t size);

}  // namespace qb

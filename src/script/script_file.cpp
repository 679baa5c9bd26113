#include "script/script_file.h"

#include <cstring>

#include "os/fileattr.h"
#include "os/os.h"

namespace qb {

namespace {

const char kMagic[8] = {'Q', 'B', 'S', 'C', 'R', 'I', 'P', 'T'};

void PutU16(std::string& s, uint16_t v) {
  s.push_back((char)(v & 0xFF));
  s.push_back((char)(v >> 8));
}
void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back((char)((v >> (8 * i)) & 0xFF));
}
uint16_t GetU16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t GetU32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

}  // namespace

uint32_t Crc32(const unsigned char* data, size_t size) {
  static uint32_t table[256];
  static bool ready = [] {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return true;
  }();
  (void)ready;
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool IsValidScriptEvent(const ScriptEvent& e) {
  switch (e.type) {
    case kKeyDown:
    case kKeyUp:
      return e.code >= 1 && e.code <= 254 && (e.flags & ~1u) == 0 && e.data >= 0 && e.data <= 0xFFFF;
    case kMouseMove:
    case kWheel:
    case kHWheel:
      return e.code == 0 && e.flags == 0;
    case kButtonDown:
    case kButtonUp:
      return e.code >= kLeftButton && e.code <= kXButton2 && e.flags == 0;
    default:
      return false;
  }
}

std::string EncodeScript(const Script& script) {
  std::string s;
  s.reserve(kScriptHeaderSize + script.events.size() * kScriptEventSize + 4);
  s.append(kMagic, sizeof kMagic);
  PutU16(s, kScriptVersion);
  PutU16(s, script.mode);
  PutU32(s, (uint32_t)script.events.size());
  for (const ScriptEvent& e : script.events) {
    PutU32(s, e.time);
    s.push_back((char)e.type);
    s.push_back((char)e.flags);
    PutU16(s, e.code);
    PutU32(s, (uint32_t)e.x);
    PutU32(s, (uint32_t)e.y);
    PutU32(s, (uint32_t)e.data);
  }
  PutU32(s, Crc32((const unsigned char*)s.data(), s.size()));
  return s;
}

int DecodeScript(const unsigned char* p, size_t size, Script& out) {
  if (size < kScriptHeaderSize + 4 || size > kMaxScriptFileSize) return 0;
  if (std::memcmp(p, kMagic, sizeof kMagic) != 0) return 0;
  if (GetU16(p + 8) != kScriptVersion) return 0;
  uint16_t mode = GetU16(p + 10);
  if (mode != 1 && mode != 2) return 0;
  uint32_t count = GetU32(p + 12);
  // The count must describe this very file before anything is allocated for it.
  if (count > kMaxScriptEvents) return 0;
  if ((uint64_t)size != kScriptHeaderSize + (uint64_t)count * kScriptEventSize + 4) return 0;
  size_t body = size - 4;
  if (GetU32(p + body) != Crc32(p, body)) return 0;
  Script s;
  s.mode = mode;
  s.events.resize(count);
  uint32_t last = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* r = p + kScriptHeaderSize + (size_t)i * kScriptEventSize;
    ScriptEvent& e = s.events[i];
    e.time = GetU32(r);
    e.type = r[4];
    e.flags = r[5];
    e.code = GetU16(r + 6);
    e.x = (int32_t)GetU32(r + 8);
    e.y = (int32_t)GetU32(r + 12);
    e.data = (int32_t)GetU32(r + 16);
    if (!IsValidScriptEvent(e) || e.time < last) return 0;
    last = e.time;
  }
  out = std::move(s);
  return 1;
}

int DecodeScript(const std::string& bytes, Script& out) {
  return DecodeScript((const unsigned char*)bytes.data(), bytes.size(), out);
}

int StoreScriptFile(const std::string& path, const Script& script) {
  if (script.events.size() > kMaxScriptEvents || path.empty()) return 0;
  for (const ScriptEvent& e : script.events)
    if (!IsValidScriptEvent(e)) return 0;
  return os::WritePrivateFile(path, EncodeScript(script));
}

int LoadScriptFile(const std::string& path, Script& out) {
  if (path.empty() || os::IsFolder(path)) return 0;
  os::CReadStream in;
  if (!in.Open(path)) return 0;
  uint64_t size = in.Remaining();
  if (size < kScriptHeaderSize + 4 || size > kMaxScriptFileSize) return 0;
  std::string bytes((size_t)size, '\0');
  if (in.Read(&bytes[0], bytes.size()) != bytes.size()) return 0;
  return DecodeScript(bytes, out);
}

}  // namespace qb

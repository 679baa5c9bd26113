#include "base/archive.h"

#include <cstring>

#include "base/codepage.h"

namespace qb {

size_t CMemorySource::Read(void* dst, size_t n) {
  size_t left = m_size - m_pos;
  if (n > left) n = left;
  if (n) memcpy(dst, m_p + m_pos, n);
  m_pos += n;
  return n;
}

int CArchiveReader::ReadFromSource(void* dst, size_t n) {
  if (m_src.Read(dst, n) != n) return Fail();
  return 1;
}

int CArchiveReader::ReadBytes(size_t n, std::string& out) {
  out.clear();
  if (m_failed) return 0;
  if (n > m_src.Remaining()) return Fail();
  out.resize(n);
  return n == 0 ? 1 : ReadRaw(&out[0], n);
}

int CArchiveReader::CanHold(uint64_t count, uint64_t minSize) const {
  if (minSize == 0) return 1;
  return count <= m_src.Remaining() / minSize;
}

int CArchiveReader::ReadLengthAfter(uint8_t b, uint64_t& len, bool& wide) {
  wide = false;
  if (b < 0xFF) { len = b; return 1; }
  uint16_t w;
  if (!ReadU16(w)) return 0;
  if (w == 0xFFFE) {  // wide-text tag, then the length again in the same scheme
    if (!ReadLength(len, wide)) return 0;
    if (wide) return Fail();  // the tag never nests
    wide = true;
    return 1;
  }
  if (w < 0xFFFF) { len = w; return 1; }
  uint32_t d;
  if (!ReadU32(d)) return 0;
  len = d;
  return 1;
}

int CArchiveReader::ReadWide(uint64_t len, std::string& out) {
  std::string raw;
  if (!ReadBytes((size_t)(len * 2), raw)) return 0;
  std::u16string w(len, u'\0');
  for (size_t i = 0; i < len; ++i)
    w[i] = (char16_t)((unsigned char)raw[2 * i] | ((unsigned char)raw[2 * i + 1] << 8));
  Utf16ToGbk(w, out);
  return 1;
}

int CArchiveReader::ReadCountedString(std::string& out) {
  out.clear();
  uint64_t len;
  bool wide;
  if (!ReadLength(len, wide)) return 0;
  uint64_t bytes = wide ? len * 2 : len;
  if (bytes > m_src.Remaining()) return Fail();
  if (wide) return ReadWide(len, out);
  // Straight into the caller's string, whose room a loop reading many
  // records keeps from one string to the next.
  if (m_mem) {
    if (bytes) out.assign((const char*)m_mem->Take((size_t)bytes), (size_t)bytes);
    return 1;
  }
  return ReadBytes((size_t)bytes, out);
}

int CArchiveReader::ReadCountedRest(uint8_t first, std::string_view& text, std::string& room) {
  text = std::string_view();
  uint64_t len;
  bool wide;
  if (!ReadLengthAfter(first, len, wide)) return 0;
  uint64_t bytes = wide ? len * 2 : len;
  if (bytes > m_src.Remaining()) return Fail();
  if (m_mem && !wide) {
    if (bytes) text = std::string_view((const char*)m_mem->Take((size_t)bytes), (size_t)bytes);
    return 1;
  }
  room.clear();
  if (!(wide ? ReadWide(len, room) : ReadBytes((size_t)bytes, room))) return 0;
  text = room;
  return 1;
}

void CArchiveWriter::WriteU16(uint16_t v) {
  unsigned char b[2] = {(unsigned char)v, (unsigned char)(v >> 8)};
  WriteRaw(b, 2);
}

void CArchiveWriter::WriteU32(uint32_t v) {
  unsigned char b[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16),
                        (unsigned char)(v >> 24)};
  WriteRaw(b, 4);
}

void CArchiveWriter::WriteCountedString(const std::string& s) {
  size_t n = s.size();
  if (n < 0xFF) {
    WriteU8((uint8_t)n);
  } else if (n < 0xFFFE) {
    WriteU8(0xFF);
    WriteU16((uint16_t)n);
  } else {
    WriteU8(0xFF);
    WriteU16(0xFFFF);
    WriteU32((uint32_t)n);
  }
  WriteBytes(s);
}

std::string CountedString(const std::string& s) {
  CMemorySink sink;
  CArchiveWriter w(sink);
  w.WriteCountedString(s);
  return sink.Bytes();
}

}  // namespace qb

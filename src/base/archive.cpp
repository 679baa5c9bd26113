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

int CArchiveReader::ReadRaw(void* dst, size_t n) {
  if (m_failed) return 0;
  if (m_src.Read(dst, n) != n) return Fail();
  return 1;
}

int CArchiveReader::ReadU8(uint8_t& v) { return ReadRaw(&v, 1); }

int CArchiveReader::ReadU16(uint16_t& v) {
  unsigned char b[2];
  if (!ReadRaw(b, 2)) return 0;
  v = (uint16_t)(b[0] | (b[1] << 8));
  return 1;
}

int CArchiveReader::ReadU32(uint32_t& v) {
  unsigned char b[4];
  if (!ReadRaw(b, 4)) return 0;
  v = (uint32_t)b[0] | ((uint32_t)b[1] << 8) | ((uint32_t)b[2] << 16) | ((uint32_t)b[3] << 24);
  return 1;
}

int CArchiveReader::ReadI32(int32_t& v) {
  uint32_t u;
  if (!ReadU32(u)) return 0;
  v = (int32_t)u;
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

int CArchiveReader::ReadLength(uint64_t& len, bool& wide) {
  wide = false;
  uint8_t b;
  if (!ReadU8(b)) return 0;
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

int CArchiveReader::ReadCountedString(std::string& out) {
  out.clear();
  uint64_t len;
  bool wide;
  if (!ReadLength(len, wide)) return 0;
  uint64_t bytes = wide ? len * 2 : len;
  if (bytes > m_src.Remaining()) return Fail();
  // Straight into the caller's string, whose room a loop reading many
  // records keeps from one string to the next.
  if (!wide) return ReadBytes((size_t)bytes, out);
  std::string raw;
  if (!ReadBytes((size_t)bytes, raw)) return 0;
  std::u16string w(len, u'\0');
  for (size_t i = 0; i < len; ++i)
    w[i] = (char16_t)((unsigned char)raw[2 * i] | ((unsigned char)raw[2 * i + 1] << 8));
  Utf16ToGbk(w, out);
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

// Little-endian archive reader and writer, with the counted strings that
// favorites files and the skin database store.
//
// The reader never trusts a length it reads: a count or string length that
// claims more bytes than remain in the source fails the read without
// allocating what it claims, and the failure is sticky.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qb {

class IByteSource {
 public:
  virtual ~IByteSource() {}
  // Copies up to n bytes; returns how many were copied (0 at the end).
  virtual size_t Read(void* dst, size_t n) = 0;
  // Bytes that can still be read.
  virtual uint64_t Remaining() const = 0;
};

class IByteSink {
 public:
  virtual ~IByteSink() {}
  // Returns 1 when all n bytes were accepted.
  virtual int Write(const void* src, size_t n) = 0;
};

class CMemorySource final : public IByteSource {
 public:
  CMemorySource(const void* data, size_t size) : m_p((const unsigned char*)data), m_size(size) {}
  explicit CMemorySource(const std::string& s) : CMemorySource(s.data(), s.size()) {}
  size_t Read(void* dst, size_t n) override;
  uint64_t Remaining() const override { return m_size - m_pos; }
  // The next n bytes where they lie, the position moved past them; null,
  // and nothing moved, when fewer remain.
  const unsigned char* Take(size_t n) {
    if (n > m_size - m_pos) return nullptr;
    const unsigned char* p = m_p + m_pos;
    m_pos += n;
    return p;
  }

 private:
  const unsigned char* m_p;
  size_t m_size;
  size_t m_pos = 0;
};

class CMemorySink : public IByteSink {
 public:
  int Write(const void* src, size_t n) override {
    m_bytes.append((const char*)src, n);
    return 1;
  }
  const std::string& Bytes() const { return m_bytes; }

 private:
  std::string m_bytes;
};

class CArchiveReader {
 public:
  // A source in memory is read in place, without a copy per field.
  explicit CArchiveReader(IByteSource& src) : m_src(src), m_mem(dynamic_cast<CMemorySource*>(&src)) {}
  int ReadU8(uint8_t& v) { return ReadRaw(&v, 1); }
  int ReadU16(uint16_t& v) {
    unsigned char b[2];
    if (!ReadRaw(b, 2)) return 0;
    v = (uint16_t)(b[0] | (b[1] << 8));
    return 1;
  }
  int ReadU32(uint32_t& v) {
    unsigned char b[4];
    if (!ReadRaw(b, 4)) return 0;
    v = (uint32_t)b[0] | ((uint32_t)b[1] << 8) | ((uint32_t)b[2] << 16) | ((uint32_t)b[3] << 24);
    return 1;
  }
  int ReadI32(int32_t& v) {
    uint32_t u;
    if (!ReadU32(u)) return 0;
    v = (int32_t)u;
    return 1;
  }
  // Exactly n bytes, or failure (checked against Remaining() before allocating).
  int ReadBytes(size_t n, std::string& out);
  // One-byte / FF+16-bit / FF FFFF+32-bit length, or the wide-text tag FF FFFE
  // followed by a length of UTF-16LE characters, converted to code page 936.
  int ReadCountedString(std::string& out);
  // The same string without a copy where it can: `text` views the bytes in
  // the source when the source is in memory and the string is not wide, or
  // else `room`, which holds the string read. Valid until the next read.
  int ReadCountedString(std::string_view& text, std::string& room) {
    uint8_t first;
    if (!ReadU8(first)) {
      text = std::string_view();
      return 0;
    }
    if (first < 0xFF && m_mem) {  // the common case: short narrow text in memory
      const unsigned char* p = m_mem->Take(first);
      text = p ? std::string_view((const char*)p, first) : std::string_view();
      return p ? 1 : Fail();
    }
    return ReadCountedRest(first, text, room);
  }
  // Is a count of `count` records of at least `minSize` bytes each plausible?
  int CanHold(uint64_t count, uint64_t minSize) const;
  uint64_t Remaining() const { return m_src.Remaining(); }
  bool Failed() const { return m_failed; }

 private:
  int Fail() { m_failed = true; return 0; }
  int ReadRaw(void* dst, size_t n) {
    if (m_failed) return 0;
    if (m_mem) {
      const unsigned char* p = m_mem->Take(n);
      if (!p) return Fail();
      memcpy(dst, p, n);
      return 1;
    }
    return ReadFromSource(dst, n);
  }
  int ReadFromSource(void* dst, size_t n);
  int ReadLength(uint64_t& len, bool& wide) {
    uint8_t first;
    return ReadU8(first) && ReadLengthAfter(first, len, wide);
  }
  // The length whose first byte was `first`.
  int ReadLengthAfter(uint8_t first, uint64_t& len, bool& wide);
  // ReadCountedString(text, room) after the first byte of the length.
  int ReadCountedRest(uint8_t first, std::string_view& text, std::string& room);
  // Reads a wide string's `len` characters into `out` as code page 936.
  int ReadWide(uint64_t len, std::string& out);
  IByteSource& m_src;
  CMemorySource* m_mem;  // &m_src when it is one, else null
  bool m_failed = false;
};

class CArchiveWriter {
 public:
  explicit CArchiveWriter(IByteSink& dst) : m_dst(dst) {}
  void WriteU8(uint8_t v) { WriteRaw(&v, 1); }
  void WriteU16(uint16_t v);
  void WriteU32(uint32_t v);
  void WriteI32(int32_t v) { WriteU32((uint32_t)v); }
  void WriteBytes(const std::string& s) { WriteRaw(s.data(), s.size()); }
  void WriteCountedString(const std::string& s);
  bool Failed() const { return m_failed; }

 private:
  void WriteRaw(const void* p, size_t n) {
    if (!m_failed && n && !m_dst.Write(p, n)) m_failed = true;
  }
  IByteSink& m_dst;
  bool m_failed = false;
};

// The counted-string encoding on its own, for callers that build records in memory.
std::string CountedString(const std::string& s);

}  // namespace qb

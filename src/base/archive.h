// Little-endian archive reader and writer, with the counted strings that
// favorites files and the skin database store.
//
// The reader never trusts a length it reads: a count or string length that
// claims more bytes than remain in the source fails the read without
// allocating what it claims, and the failure is sticky.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

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

class CMemorySource : public IByteSource {
 public:
  CMemorySource(const void* data, size_t size) : m_p((const unsigned char*)data), m_size(size) {}
  explicit CMemorySource(const std::string& s) : CMemorySource(s.data(), s.size()) {}
  size_t Read(void* dst, size_t n) override;
  uint64_t Remaining() const override { return m_size - m_pos; }

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
  explicit CArchiveReader(IByteSource& src) : m_src(src) {}
  int ReadU8(uint8_t& v);
  int ReadU16(uint16_t& v);
  int ReadU32(uint32_t& v);
  int ReadI32(int32_t& v);
  // Exactly n bytes, or failure (checked against Remaining() before allocating).
  int ReadBytes(size_t n, std::string& out);
  // One-byte / FF+16-bit / FF FFFF+32-bit length, or the wide-text tag FF FFFE
  // followed by a length of UTF-16LE characters, converted to code page 936.
  int ReadCountedString(std::string& out);
  // Is a count of `count` records of at least `minSize` bytes each plausible?
  int CanHold(uint64_t count, uint64_t minSize) const;
  uint64_t Remaining() const { return m_src.Remaining(); }
  bool Failed() const { return m_failed; }

 private:
  int Fail() { m_failed = true; return 0; }
  int ReadRaw(void* dst, size_t n);
  int ReadLength(uint64_t& len, bool& wide);
  IByteSource& m_src;
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

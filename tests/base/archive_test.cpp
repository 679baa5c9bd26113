#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/archive.h"
#include "testutil.h"

using namespace qb;

namespace {
std::string Prefix(size_t len) {
  std::string c = CountedString(std::string(len, 'x'));
  return c.substr(0, c.size() - len);
}

// The bytes of a file as a stream: the reader copies what it reads.
class CStreamSource : public IByteSource {
 public:
  explicit CStreamSource(const std::string& bytes) : m_bytes(bytes) {}
  size_t Read(void* dst, size_t n) override {
    n = std::min(n, m_bytes.size() - m_pos);
    if (n) memcpy(dst, m_bytes.data() + m_pos, n);
    m_pos += n;
    return n;
  }
  uint64_t Remaining() const override { return m_bytes.size() - m_pos; }

 private:
  std::string m_bytes;
  size_t m_pos = 0;
};

// A source that promises more than it delivers, as a file cut short while it is read.
class CShortSource : public CStreamSource {
 public:
  using CStreamSource::CStreamSource;
  uint64_t Remaining() const override { return 1000; }
};

// One counted string read in the four ways a reader can: from memory or a
// stream, into a string or as a view. All four must agree.
std::string ReadOne(const std::string& bytes, int* ok) {
  CMemorySource src(bytes);
  CArchiveReader r(src);
  std::string s = "old";
  *ok = r.ReadCountedString(s);
  CStreamSource stream(bytes);
  CArchiveReader rs(stream);
  std::string copied = "old";
  EXPECT_EQ(*ok, rs.ReadCountedString(copied));
  EXPECT_EQ(s, copied);
  for (IByteSource* from : {(IByteSource*)nullptr, (IByteSource*)&stream}) {
    CMemorySource again(bytes);
    CStreamSource streamAgain(bytes);
    CArchiveReader rv(from ? (IByteSource&)streamAgain : (IByteSource&)again);
    std::string_view view;
    std::string room = "old";
    EXPECT_EQ(*ok, rv.ReadCountedString(view, room));
    EXPECT_EQ(s, std::string(view));
    // Narrow text from memory is viewed where it lies, in the source's
    // bytes; wide text is converted into the room.
    bool wide = bytes.compare(0, 3, "\xFF\xFE\xFF") == 0;
    if (*ok && !view.empty()) {
      bool inSource = view.data() >= bytes.data() && view.data() + view.size() <= bytes.data() + bytes.size();
      EXPECT_EQ(!from && !wide, inSource);
      EXPECT_EQ(from || wide, view.data() == room.data());
    }
    EXPECT_EQ(*ok == 0, rv.Failed());
  }
  return s;
}
}  // namespace

TEST(CountedString, PrefixesAtTheBoundaries) {
  EXPECT_EQ(Prefix(0), std::string("\x00", 1));
  EXPECT_EQ(Prefix(254), "\xFE");
  EXPECT_EQ(Prefix(255), std::string("\xFF\xFF\x00", 3));
  EXPECT_EQ(Prefix(300), std::string("\xFF\x2C\x01", 3));
  EXPECT_EQ(Prefix(65533), std::string("\xFF\xFD\xFF", 3));
  EXPECT_EQ(Prefix(65534), std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7));
  EXPECT_EQ(Prefix(70000), std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7));
  for (size_t len : {0, 1, 254, 255, 65533, 65534, 70000}) {
    std::string s(len, 'q');
    if (len) s[len - 1] = 'z';
    int ok = 0;
    EXPECT_EQ(ReadOne(CountedString(s), &ok), s) << len;
    EXPECT_EQ(1, ok) << len;
  }
}

TEST(CountedString, WideTextTagIsConvertedToGbk) {
  // FF FFFE, then 2 UTF-16LE characters: 桌 (684C) 面 (9762).
  std::string bytes("\xFF\xFE\xFF\x02\x4C\x68\x62\x97", 8);
  int ok = 0;
  EXPECT_EQ(ReadOne(bytes, &ok), "桌面");
  EXPECT_EQ(1, ok);
  // A long wide string uses the 16-bit length after the tag.
  std::string longWide("\xFF\xFE\xFF\xFF\x2C\x01", 6);
  for (int i = 0; i < 300; ++i) longWide += std::string("A\x00", 2);
  EXPECT_EQ(ReadOne(longWide, &ok), std::string(300, 'A'));
  EXPECT_TRUE(ok);
}

TEST(CountedString, TruncatedAndLyingInputFailsCleanly) {
  int ok = 1;
  ReadOne(std::string("\x0A" "abc", 4), &ok);
  EXPECT_FALSE(ok);
  ReadOne(std::string("\xFF\x2C", 2), &ok);  // cut inside the 16-bit length
  EXPECT_FALSE(ok);
  // Claims four gigabytes; must fail at once without allocating them.
  std::string lie("\xFF\xFF\xFF\xF0\xFF\xFF\xFF" "abc", 10);
  qbtest::ResetLargestAllocation();
  ReadOne(lie, &ok);
  EXPECT_FALSE(ok);
  EXPECT_LT(qbtest::LargestAllocation(), 1000u);
  // A wide string claiming more characters than the bytes hold.
  ReadOne(std::string("\xFF\xFE\xFF\x05\x41\x00", 6), &ok);
  EXPECT_FALSE(ok);
  // The wide-text tag never nests, though its own length may take 32 bits.
  ReadOne(std::string("\xFF\xFE\xFF\xFF\xFE\xFF\x01\x41\x00", 9), &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ReadOne(std::string("\xFF\xFE\xFF\xFF\xFF\xFF\x01\x00\x00\x00\x41\x00", 12), &ok), "A");
  EXPECT_TRUE(ok);
  ReadOne("", &ok);
  EXPECT_FALSE(ok);
  // A failed read leaves no text behind, nor one from before.
  const std::string cutBytes("\x05" "abc", 4);  // the source reads from these bytes
  CMemorySource cut(cutBytes);
  CArchiveReader rc(cut);
  std::string kept = "old";
  EXPECT_FALSE(rc.ReadCountedString(kept));
  EXPECT_EQ("", kept);
  // A source that ends before the bytes it promised fails the read, and the reader.
  CShortSource shortSource(cutBytes);
  CArchiveReader rs(shortSource);
  kept = "old";
  EXPECT_FALSE(rs.ReadCountedString(kept));
  EXPECT_TRUE(rs.Failed());
}

TEST(Archive, IntegersAreLittleEndianAndFailureIsSticky) {
  CMemorySink sink;
  CArchiveWriter w(sink);
  w.WriteU8(0x12);
  w.WriteU16(0x3456);
  w.WriteU32(0x789ABCDEu);
  w.WriteI32(-2);
  EXPECT_EQ(sink.Bytes(), std::string("\x12\x56\x34\xDE\xBC\x9A\x78\xFE\xFF\xFF\xFF", 11));

  CMemorySource src(sink.Bytes());
  CArchiveReader r(src);
  uint8_t a = 0; uint16_t b = 0; uint32_t c = 0; int32_t d = 0;
  ASSERT_EQ(1, r.ReadU8(a));
  ASSERT_EQ(1, r.ReadU16(b));
  ASSERT_EQ(1, r.ReadU32(c));
  ASSERT_EQ(1, r.ReadI32(d));
  EXPECT_EQ(a, 0x12); EXPECT_EQ(b, 0x3456); EXPECT_EQ(c, 0x789ABCDEu); EXPECT_EQ(d, -2);
  EXPECT_EQ(0, r.ReadU8(a));
  EXPECT_TRUE(r.Failed());
  // A value cut short reads as a failure (0), never as a partial value.
  for (size_t have = 0; have < 4; ++have) {
    const std::string part("\x01\x02\x03", have);  // the sources read from these bytes
    CMemorySource cut(part);
    CArchiveReader rc(cut);
    if (have < 2) EXPECT_EQ(0, rc.ReadU16(b)) << have;
    CMemorySource cut32(part);
    CArchiveReader r32(cut32);
    EXPECT_EQ(0, r32.ReadU32(c)) << have;
    CMemorySource cutI(part);
    CArchiveReader ri(cutI);
    EXPECT_EQ(0, ri.ReadI32(d)) << have;
  }

  // A count of records is checked against what remains before anyone allocates.
  CMemorySource small("0123456789");
  CArchiveReader r2(small);
  EXPECT_TRUE(r2.CanHold(5, 2));
  EXPECT_FALSE(r2.CanHold(6, 2));
  EXPECT_FALSE(r2.CanHold(0xFFFFFFFFull, 26));
  EXPECT_EQ(1, r2.CanHold(10, 1));
  EXPECT_EQ(0, r2.CanHold(11, 1));
  EXPECT_EQ(1, r2.CanHold(0xFFFFFFFFull, 0)) << "records of no bytes: any count";
  std::string bytes;
  {
    const std::string ten = "0123456789";  // the sources read from the caller's bytes
    CMemorySource whole(ten);
    CArchiveReader r3(whole);
    qbtest::ResetLargestAllocation();
    EXPECT_FALSE(r3.ReadBytes(0xFFFFFFF0u, bytes));
    EXPECT_LT(qbtest::LargestAllocation(), 1000u);
    CMemorySource exact(ten);
    CArchiveReader r4(exact);
    EXPECT_TRUE(r4.ReadBytes(10, bytes));  // all that remains is not too much
    EXPECT_EQ("0123456789", bytes);
    EXPECT_EQ(1, r4.ReadBytes(0, bytes)) << "nothing is there to read, and nothing is asked";
    EXPECT_EQ("", bytes);
  }
  EXPECT_FALSE(r2.ReadBytes(11, bytes));
  EXPECT_TRUE(r2.Failed());
  EXPECT_FALSE(r2.ReadBytes(1, bytes));  // sticky, even though bytes remain

  // A counted string longer than what remains fails the reader for good too.
  const std::string cut("\x05" "abc", 4);
  CMemorySource lying(cut);
  CArchiveReader r5(lying);
  std::string text;
  EXPECT_FALSE(r5.ReadCountedString(text));
  EXPECT_TRUE(r5.Failed());
  EXPECT_FALSE(r5.ReadU8(a));
}

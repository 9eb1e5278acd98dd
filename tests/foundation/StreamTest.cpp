// Streams. CopyFrom into the memory streams reads straight into their blocks
// without zeroing the bytes it fills; every byte it does not fill must still
// read as zero, also after a short source. Under AddressSanitizer fresh heap
// blocks start filled with a non-zero byte, so a missed zeroing shows here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/QuickMemStream.h"
#include "foundation/Stream.h"
#include "platform/TempFiles.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

std::vector<unsigned char> Pattern(std::size_t size, unsigned seed) {
  std::vector<unsigned char> bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<unsigned char>((seed >> 16) | 1);  // never zero
  }
  return bytes;
}

// A source stream holding the bytes, positioned at its start.
struct Source : TMemoryStream {
  explicit Source(const std::vector<unsigned char>& bytes) {
    WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    SetPosition(0);
  }
};

// The whole content, read back through the stream's own interface.
template <typename Stream>
std::vector<unsigned char> Content(Stream& s) {
  std::vector<unsigned char> out(static_cast<std::size_t>(s.Size()));
  s.SetPosition(0);
  if (!out.empty()) s.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
  return out;
}

bool AllZero(const std::vector<unsigned char>& v, std::size_t from, std::size_t to) {
  return std::all_of(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to),
                     [](unsigned char c) { return c == 0; });
}

template <typename Stream>
class MemoryStreamCopy : public ::testing::Test {};
using MemoryStreams = ::testing::Types<TMemoryStream, TQuickMemStream>;
TYPED_TEST_SUITE(MemoryStreamCopy, MemoryStreams);

TYPED_TEST(MemoryStreamCopy, CopiesAtThePositionAndZeroesEveryGap) {
  const auto a = Pattern(5000, 1);
  const auto b = Pattern(70000, 2);
  TypeParam s;
  Source src(a);
  EXPECT_EQ(s.CopyFrom(src, 0), 5000);  // 0: all of the source from its start
  EXPECT_EQ(s.Position(), 5000);
  EXPECT_EQ(Content(s), a);

  // Past the end and past the block: the gap reads as zeros.
  s.Seek(9000, soBeginning);
  Source src2(b);
  src2.SetPosition(100);
  EXPECT_EQ(s.CopyFrom(src2, 60000), 60000);
  EXPECT_EQ(s.Size(), 69000);
  EXPECT_EQ(s.Position(), 69000);
  auto got = Content(s);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), got.begin()));
  EXPECT_TRUE(AllZero(got, 5000, 9000));
  EXPECT_TRUE(std::equal(b.begin() + 100, b.begin() + 60100, got.begin() + 9000));

  // Over the middle: the size stays, the rest is kept.
  s.SetPosition(10);
  src2.SetPosition(0);
  EXPECT_EQ(s.CopyFrom(src2, 20), 20);
  EXPECT_EQ(s.Size(), 69000);
  got = Content(s);
  EXPECT_TRUE(std::equal(b.begin(), b.begin() + 20, got.begin() + 10));
  EXPECT_EQ(got[30], a[30]);

  // Spare room behind the size is zero too: growing shows no heap bytes.
  s.SetSize(200000);
  got = Content(s);
  EXPECT_TRUE(AllZero(got, 69000, 200000));

  // A negative count copies nothing.
  EXPECT_EQ(s.CopyFrom(src2, -5), 0);
  EXPECT_EQ(s.Size(), 200000);
}

TYPED_TEST(MemoryStreamCopy, GapBeforeAFirstCopyAndAfterAWritePastTheEndReadAsZeros) {
  // A fresh block: under AddressSanitizer its first bytes start non-zero.
  const auto a = Pattern(500, 9);
  TypeParam s;
  s.Seek(1000, soBeginning);
  Source src(a);
  EXPECT_EQ(s.CopyFrom(src, 0), 500);
  auto got = Content(s);
  ASSERT_EQ(got.size(), 1500u);
  EXPECT_TRUE(AllZero(got, 0, 1000));
  EXPECT_TRUE(std::equal(a.begin(), a.end(), got.begin() + 1000));

  // A plain write past the end, and shrinking then growing, resurrect nothing.
  s.Seek(9000, soBeginning);
  s.WriteBuffer("z", 1);
  s.SetSize(1001);
  s.SetSize(20000);
  got = Content(s);
  ASSERT_EQ(got.size(), 20000u);
  EXPECT_TRUE(AllZero(got, 1001, 20000));
}

TYPED_TEST(MemoryStreamCopy, BytesCutOffNeverComeBackThroughAnyGrowth) {
  // A cut leaves the old bytes in the block's spare room; every way of growing
  // the stream again must show zeros there, not those bytes.
  const auto a = Pattern(20000, 11);
  const auto b = Pattern(300, 12);
  const auto load = [&](TypeParam& s) {
    s.SetSize(0);
    s.SetPosition(0);
    s.WriteBuffer(a.data(), static_cast<std::int64_t>(a.size()));
    s.SetSize(100);
  };
  const auto expectZeroFrom100 = [&](TypeParam& s, std::size_t to, const char* how) {
    const auto got = Content(s);
    ASSERT_GE(got.size(), to) << how;
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 100, got.begin())) << how;
    EXPECT_TRUE(AllZero(got, 100, to)) << how;
  };

  TypeParam s;
  load(s);
  s.SetSize(15000);
  expectZeroFrom100(s, 15000, "SetSize");

  load(s);
  s.Seek(7000, soBeginning);
  s.WriteBuffer(b.data(), static_cast<std::int64_t>(b.size()));
  expectZeroFrom100(s, 7000, "write past the end");
  EXPECT_EQ(s.Size(), 7300);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), Content(s).begin() + 7000));

  load(s);
  s.Seek(5000, soBeginning);
  Source src(b);
  EXPECT_EQ(s.CopyFrom(src, 0), 300);
  expectZeroFrom100(s, 5000, "copy past the end");
  EXPECT_EQ(s.Size(), 5300);

  // A write from inside the content across the end: only the written bytes
  // are new, and the bytes behind them are no longer the old ones either.
  load(s);
  s.Seek(50, soBeginning);
  s.WriteBuffer(b.data(), static_cast<std::int64_t>(b.size()));
  EXPECT_EQ(s.Size(), 350);
  s.SetSize(18000);
  auto got = Content(s);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), got.begin() + 50));
  EXPECT_TRUE(AllZero(got, 350, 18000));

  // A copy past the end that fails on a short source keeps the size; the
  // zeroed gap and whatever arrived are spare room again.
  load(s);
  Source shortSrc(Pattern(200, 13));
  s.Seek(3000, soBeginning);
  EXPECT_THROW(s.CopyFrom(shortSrc, 4000), EReadError);
  EXPECT_EQ(s.Size(), 100);
  s.SetSize(19000);
  expectZeroFrom100(s, 19000, "after a short copy");
}

TYPED_TEST(MemoryStreamCopy, ShortSourceRaisesAndLeavesNoBytesPastTheSize) {
  const auto a = Pattern(3000, 3);
  TypeParam s;
  Source src(a);
  s.CopyFrom(src, 0);
  // The source holds 1000 bytes where 50000 are asked for at 4000.
  Source shortSrc(Pattern(1000, 4));
  s.Seek(4000, soBeginning);
  EXPECT_THROW(s.CopyFrom(shortSrc, 50000), EReadError);
  EXPECT_EQ(s.Size(), 3000);
  s.SetSize(60000);
  const auto got = Content(s);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), got.begin()));
  EXPECT_TRUE(AllZero(got, 3000, 60000));

  // Overlapping the end: what arrived past the old size is gone again.
  s.SetSize(3000);
  shortSrc.SetPosition(0);
  s.Seek(2500, soBeginning);
  EXPECT_THROW(s.CopyFrom(shortSrc, 8000), EReadError);
  EXPECT_EQ(s.Size(), 3000);
  s.SetSize(12000);
  EXPECT_TRUE(AllZero(Content(s), 3000, 12000));
}

TYPED_TEST(MemoryStreamCopy, FromAFileAndFromItself) {
  const auto a = Pattern(300000, 5);
  TTempFile tmp("kdlcopy");
  {
    TFileStream f(tmp.Path(), fmCreate);
    f.WriteBuffer(a.data(), static_cast<std::int64_t>(a.size()));
  }
  TypeParam s;
  TFileStream f(tmp.Path(), fmOpenRead);
  f.Seek(1000, soBeginning);
  EXPECT_EQ(s.CopyFrom(f, 250000), 250000);
  auto got = Content(s);
  EXPECT_TRUE(std::equal(a.begin() + 1000, a.begin() + 251000, got.begin()));

  // A copy from the stream itself goes through its Read and Write, which
  // share the one position: the 100 bytes read at 0 land at 100.
  s.SetPosition(0);
  EXPECT_EQ(s.CopyFrom(s, 100), 100);
  EXPECT_EQ(s.Size(), 250000);
  std::copy(got.begin(), got.begin() + 100, got.begin() + 100);
  EXPECT_EQ(Content(s), got);
}

// A stream derived from the memory stream that counts its writes: the copy
// must go through its Write, not around it.
class TCountingStream : public TMemoryStream {
 public:
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    written += count;
    return TMemoryStream::Write(buffer, count);
  }
  std::int64_t written = 0;
};

TEST(MemoryStreamCopy, DerivedStreamKeepsItsWrite) {
  TCountingStream s;
  Source src(Pattern(1234, 6));
  EXPECT_EQ(s.CopyFrom(src, 0), 1234);
  EXPECT_EQ(s.written, 1234);
}

TEST(MemoryStreamCopy, LoadFromStreamReplacesTheContent) {
  const auto a = Pattern(10000, 7);
  const auto b = Pattern(400, 8);
  TMemoryStream s;
  Source src(a);
  src.SetPosition(77);  // the position must not matter
  s.LoadFromStream(src);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(Content(s), a);
  Source small(b);
  s.LoadFromStream(small);
  EXPECT_EQ(Content(s), b);
  s.SetSize(10000);
  EXPECT_TRUE(AllZero(Content(s), 400, 10000));
}

TEST(MemoryStream, ShortReadBufferRaises) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buf[4];
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);
  EXPECT_THROW(TFileStream("/nonexistent/dir/file", fmOpenRead), EFOpenError);
}

TEST(WriteFileAtomically, FailureKeepsPreviousFileAndLeavesNoTemporary) {
  const test::ScratchDir dir;
  const auto target = dir / "doc.bin";
  test::WriteFile(target, "previous");
  EXPECT_THROW(WriteFileAtomically(target,
                                   [](TStream& s) {
                                     s.WriteBuffer("partial", 7);
                                     throw EWriteError("disk full");
                                   }),
               EWriteError);
  EXPECT_EQ(test::ReadFile(target), "previous");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

  // Through a symbolic link the link stays and its target gets the bytes.
  const auto link = dir / "link.bin";
  std::filesystem::create_symlink(target, link);
  WriteFileAtomically(link, [](TStream& s) { s.WriteBuffer("new", 3); });
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::ReadFile(target), "new");
}

}  // namespace
}  // namespace kdl

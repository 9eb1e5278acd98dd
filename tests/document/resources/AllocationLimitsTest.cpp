// Tiny hostile files must not make a reader allocate for a picture whose
// bytes are not there, while large real pictures still load.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

#include "ImageTestUtil.h"
#include "document/resources/formats/GifFormat.h"
#include "document/resources/formats/HckImage.h"
#include "support/AllocationMeter.h"

namespace kdl {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int64_t kMiB = 1 << 20;

void Be32(Bytes& b, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Le16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Le32(Bytes& b, std::uint32_t v) {
  Le16(b, v);
  Le16(b, v >> 16);
}

void PngChunk(Bytes& b, const char* type, const Bytes& data, std::uint32_t declared) {
  Be32(b, declared);
  const std::size_t start = b.size();
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), data.begin(), data.end());
  Be32(b, static_cast<std::uint32_t>(crc32(0, b.data() + start, static_cast<uInt>(b.size() - start))));
}
void PngChunk(Bytes& b, const char* type, const Bytes& data) {
  PngChunk(b, type, data, static_cast<std::uint32_t>(data.size()));
}

Bytes PngHead(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t colorType) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  Be32(ihdr, w);
  Be32(ihdr, h);
  ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
  PngChunk(b, "IHDR", ihdr);
  return b;
}

// Loads through the registry; true when a picture came out.
bool Loads(const Bytes& bytes, const char* extension, TBitmap32& bitmap) {
  RegisterRasterFormats();
  TMemoryStream s;
  test::StreamFromBytes(s, bytes);
  try {
    LoadBitmapFromStream(&s, extension, &bitmap, 0, 0, 0);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

class AllocationLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::AllocationMeter::Available()) GTEST_SKIP() << "needs the sanitizer's allocator hooks";
  }
};

TEST_F(AllocationLimits, PngTextChunkOfHugeDeclaredLength) {
  // Signature, header and the head of a text chunk: 41 bytes.
  Bytes png = PngHead(1, 1, 8, 0);
  Be32(png, 0x7FFFFFF0u);
  png.insert(png.end(), {'t', 'E', 'X', 't'});
  ASSERT_EQ(png.size(), 41u);
  for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "eXIf", "iCCP"}) {
    std::copy(type, type + 4, png.end() - 4);
    TBitmap32 b;
    test::AllocationMeter meter;
    EXPECT_FALSE(Loads(png, ".png", b)) << type;
    EXPECT_LT(meter.Peak(), 16 * kMiB) << type;
  }
}

TEST_F(AllocationLimits, PngHeaderWithoutPixelData) {
  // 16384 x 16384 RGBA, and an empty IDAT: 45 bytes.
  Bytes png = PngHead(16384, 16384, 8, 6);
  PngChunk(png, "IDAT", {});
  ASSERT_EQ(png.size(), 45u);
  TBitmap32 b;
  test::AllocationMeter meter;
  EXPECT_FALSE(Loads(png, ".png", b));
  EXPECT_LT(meter.Largest(), 16 * kMiB);
}

TEST_F(AllocationLimits, PngCompressedAsFarAsDeflateGoesStillLoads) {
  // 4096 x 4096 one-bit grey, all black: about 2 KB of IDAT for 2 MB of rows.
  constexpr std::uint32_t kSide = 4096;
  Bytes rows(static_cast<std::size_t>(kSide) * (kSide / 8 + 1), 0);
  uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
  Bytes packed(packedSize);
  ASSERT_EQ(compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()), 9), Z_OK);
  packed.resize(packedSize);
  ASSERT_GT(rows.size() / packed.size(), 1000u);
  Bytes png = PngHead(kSide, kSide, 1, 0);
  PngChunk(png, "IDAT", packed);
  PngChunk(png, "IEND", {});
  TBitmap32 b;
  ASSERT_TRUE(Loads(png, ".png", b));
  EXPECT_EQ(b.Width(), 4096);
  EXPECT_EQ(b.GetPixel(4095, 4095), 0xFF000000u);
}

TEST_F(AllocationLimits, GifScreenWithoutAFrame) {
  // Header and a 16384 x 16384 logical screen: 13 bytes.
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  Le16(gif, 16384);
  Le16(gif, 16384);
  gif.insert(gif.end(), {0, 0, 0});
  ASSERT_EQ(gif.size(), 13u);
  for (const Bytes& bytes : {gif, [&] {
         // A frame follows, but a few bytes cannot fill that screen.
         Bytes g = gif;
         g[10] = 0x80;  // a global map of two entries
         g.insert(g.end(), {0, 0, 0, 255, 255, 255, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B});
         return g;
       }()}) {
    TBitmap32 b;
    test::AllocationMeter meter;
    EXPECT_FALSE(Loads(bytes, ".gif", b)) << bytes.size();
    EXPECT_LT(meter.Largest(), 16 * kMiB) << bytes.size();
  }
}

TEST_F(AllocationLimits, GifOfOneColourOverALargeScreenStillLoads) {
  TBitmap32 flat;
  flat.SetSize(3000, 2000);
  flat.Clear(0xFF336699u);
  TMemoryStream s;
  TdtpGifFormat().SaveToStream(&s, &flat);
  TBitmap32 b;
  ASSERT_TRUE(Loads(test::StreamBytes(s), ".gif", b));
  EXPECT_EQ(b.Width(), 3000);
  EXPECT_EQ(b.GetPixel(2999, 1999), 0xFF336699u);
}

// The ".hck" chain (rank, run-length, rank) checks each stage's declared size
// against the bytes in hand before allocating, and a stage expands at most
// 4, 64 and 4 times: a picture of one colour, the best case for the packer,
// stays within deflate's bound, so the reader needs no rule of its own.
TEST_F(AllocationLimits, HckOfOneColourExpandsNoMoreThanDeflate) {
  TBitmap32 flat;
  flat.SetSize(2048, 2048);
  flat.Clear(0xFF204060u);
  TMemoryStream s;
  THckImage().SaveToStream(&s, &flat);
  const std::int64_t bitmapBytes = std::int64_t{2048} * 2048 * 4;
  EXPECT_LT(bitmapBytes / s.Size(), 32 * 1032) << s.Size();
  TBitmap32 b;
  test::AllocationMeter meter;
  ASSERT_TRUE(Loads(test::StreamBytes(s), ".hck", b));
  EXPECT_EQ(b.GetPixel(2047, 2047), 0xFF204060u);
  // Reading needs the raw planes and the bitmap, little more.
  EXPECT_LT(meter.Peak(), 3 * bitmapBytes);
}

TEST_F(AllocationLimits, BmpHeaderWithoutRows) {
  // A 54-byte file declaring 8192 x 8192 at 32 bits.
  Bytes bmp = {'B', 'M'};
  Le32(bmp, 54);
  Le32(bmp, 0);
  Le32(bmp, 54);
  Le32(bmp, 40);
  Le32(bmp, 8192);
  Le32(bmp, 8192);
  Le16(bmp, 1);
  Le16(bmp, 32);
  for (int i = 0; i < 6; ++i) Le32(bmp, 0);
  ASSERT_EQ(bmp.size(), 54u);
  TBitmap32 b;
  test::AllocationMeter meter;
  EXPECT_FALSE(Loads(bmp, ".bmp", b));
  EXPECT_LT(meter.Largest(), 16 * kMiB);
}

}  // namespace
}  // namespace kdl

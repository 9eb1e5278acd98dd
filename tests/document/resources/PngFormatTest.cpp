#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "document/resources/formats/PngFormat.h"
#include "ImageTestUtil.h"

namespace kdl {
namespace {

constexpr int kW = 23;
constexpr int kH = 17;

// R, G, B, A bytes with every kind of alpha: 0, 255 and steps between.
std::vector<std::uint8_t> SourceRgba() {
  std::vector<std::uint8_t> b;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int k = (x + y) % 5;
      b.push_back(static_cast<std::uint8_t>(x * 11));
      b.push_back(static_cast<std::uint8_t>(y * 15));
      b.push_back(static_cast<std::uint8_t>(x * y));
      b.push_back(static_cast<std::uint8_t>(k == 0 ? 0 : k == 1 ? 255 : 40 * k));
    }
  return b;
}

class PngFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRasterFormats();
    if (!test::HaveTool("convert") || !test::HaveTool("pngcheck")) GTEST_SKIP();
    test::WriteFileBytes(dir_ / "in.rgba", SourceRgba());
  }
  std::filesystem::path Convert(const std::string& options, const std::string& name) {
    int rc = 0;
    test::RunCommandBytes("convert -size " + std::to_string(kW) + "x" + std::to_string(kH) +
                         " -depth 8 rgba:" + (dir_ / "in.rgba").string() + " " + options + " " +
                         (dir_ / name).string(),
                     &rc);
    EXPECT_EQ(rc, 0);
    return dir_ / name;
  }
  test::ScratchDir dir_;
};

TEST_F(PngFormatTest, DecodesLikeImageMagick) {
  const std::pair<const char*, const char*> kinds[] = {
      {"", "PNG8:pal.png"},                                           // palette + tRNS
      {"-depth 16", "PNG64:rgba16.png"},                              // 16-bit RGBA
      {"-alpha off -depth 16", "PNG48:rgb16.png"},                    // 16-bit RGB
      {"-colorspace Gray -define png:color-type=4", "ga.png"},       // grey + alpha
      {"-alpha off -colorspace Gray -depth 16", "g16.png"},          // 16-bit grey
      {"-interlace PNG", "PNG32:il.png"},                             // Adam7
      {"-alpha off", "PNG24:rgb.png"},                                // no alpha: opaque
  };
  for (const auto& [options, target] : kinds) {
    const std::string name = target;
    const auto file = Convert(options, target);
    // 16-bit samples, which must round to our 8 bits (v / 257 to nearest).
    const auto wide = test::RunCommandBytes("convert " + file.string() + " -depth 16 -endian LSB RGBA:-");
    std::vector<std::uint8_t> expect;
    for (std::size_t i = 0; i + 1 < wide.size(); i += 2) {
      const int v = wide[i] | wide[i + 1] << 8;
      expect.push_back(static_cast<std::uint8_t>((v * 2 + 257) / 514));
    }
    TBitmap32 b;
    test::LoadFile(file, b);
    ASSERT_EQ(b.Width(), kW) << name;
    const auto ours = test::ToRgba(b);
    ASSERT_EQ(ours.size(), expect.size()) << name;
    const auto diff = std::mismatch(ours.begin(), ours.end(), expect.begin());
    EXPECT_TRUE(diff.first == ours.end())
        << name << " byte " << (diff.first - ours.begin()) << ": " << int(*diff.first) << " vs "
        << int(*diff.second);
  }
}

TEST_F(PngFormatTest, WritesLevelNineRgbaThatRoundTripsExactly) {
  TBitmap32 b;
  b.SetSize(kW, kH);
  const auto src = SourceRgba();
  for (int i = 0; i < kW * kH; ++i)
    b.Bits()[i] = TColor32{src[i * 4 + 3]} << 24 | TColor32{src[i * 4]} << 16 |
                  TColor32{src[i * 4 + 1]} << 8 | src[i * 4 + 2];
  const auto file = dir_ / "ours.png";
  TdtpImageFiler filer;
  filer.SetFileName(file.string());
  filer.SaveBitmap(&b);

  int rc = 0;
  test::RunCommandBytes("pngcheck -q " + file.string(), &rc);
  EXPECT_EQ(rc, 0);
  const auto bytes = test::ReadFileBytes(file);
  ASSERT_GT(bytes.size(), 40u);
  EXPECT_EQ(bytes[24], 8);  // bit depth
  EXPECT_EQ(bytes[25], 6);  // colour type RGBA
  const auto idat = std::search(bytes.begin(), bytes.end(), "IDAT", "IDAT" + 4);
  ASSERT_NE(idat, bytes.end());
  EXPECT_EQ(idat[5] >> 6, 3) << "zlib header does not say maximum compression";
  // ImageMagick reads our colours, alpha 0 included, unchanged.
  EXPECT_TRUE(test::RunCommandBytes("convert " + file.string() + " RGBA:-") == src);

  TBitmap32 back;
  test::LoadFile(file, back);
  EXPECT_TRUE(back.Equal(b));
}

TEST_F(PngFormatTest, DamageRaises) {
  auto bytes = test::ReadFileBytes(Convert("", "PNG32:d.png"));
  TBitmap32 b;
  auto huge = bytes;
  huge[16] = 0x7F;  // width 2^31 - ..., CRC now wrong as well
  for (const auto& bad : {decltype(bytes)(bytes.begin(), bytes.begin() + 8),
                          decltype(bytes)(bytes.begin(), bytes.begin() + 30),
                          decltype(bytes)(bytes.begin(), bytes.begin() + bytes.size() / 2), huge}) {
    TMemoryStream s;
    test::StreamFromBytes(s, bad);
    EXPECT_THROW(LoadBitmapFromStream(&s, ".png", &b, 0, 0, 0), ERasterError) << bad.size();
  }
}

// A file cut inside its pixels, read into a bitmap that held a picture of
// the same size: each row is the decoded one or cleared, never stale.
TEST_F(PngFormatTest, CutPixelsLeaveNoStaleRows) {
  const auto file = Convert("", "PNG32:c.png");
  TBitmap32 whole;
  test::LoadFile(file, whole);
  const auto bytes = test::ReadFileBytes(file);
  const auto idat = std::search(bytes.begin(), bytes.end(), "IDAT", "IDAT" + 4);
  ASSERT_NE(idat, bytes.end());
  const auto cut = decltype(bytes)(bytes.begin(), idat + 4 + 20);

  TBitmap32 b;
  b.SetSize(kW, kH);
  b.Clear(0x12345678u);
  TMemoryStream s;
  test::StreamFromBytes(s, cut);
  EXPECT_THROW(LoadBitmapFromStream(&s, ".png", &b, 0, 0, 0), ERasterError);
  ASSERT_EQ(b.Width(), kW);
  ASSERT_EQ(b.Height(), kH);
  for (int y = 0; y < kH; ++y) {
    const bool decoded = std::equal(b.ScanLine(y), b.ScanLine(y) + kW, whole.ScanLine(y));
    const bool cleared = std::all_of(b.ScanLine(y), b.ScanLine(y) + kW, [](TColor32 c) { return c == 0; });
    EXPECT_TRUE(decoded || cleared) << "row " << y;
  }
  EXPECT_TRUE(std::all_of(b.ScanLine(kH - 1), b.ScanLine(kH - 1) + kW, [](TColor32 c) { return c == 0; }));
}

}  // namespace
}  // namespace kdl

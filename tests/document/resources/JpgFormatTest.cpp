#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "document/resources/formats/JpgFormat.h"
#include "ImageTestUtil.h"

namespace kdl {
namespace {

struct Pnm {
  int Width = 0, Height = 0, Channels = 0;
  std::vector<std::uint8_t> Data;
};

// Reads the P5/P6 files djpeg writes.
Pnm ParsePnm(const std::vector<std::uint8_t>& bytes) {
  Pnm p;
  std::size_t at = 0;
  auto token = [&]() {
    while (at < bytes.size() && std::isspace(bytes[at])) ++at;
    std::string t;
    while (at < bytes.size() && !std::isspace(bytes[at])) t += static_cast<char>(bytes[at++]);
    return t;
  };
  const std::string magic = token();
  p.Channels = magic == "P6" ? 3 : magic == "P5" ? 1 : 0;
  p.Width = std::stoi(token());
  p.Height = std::stoi(token());
  token();
  ++at;
  p.Data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  return p;
}

// A picture with smooth areas, edges and noise, as a PPM.
std::vector<std::uint8_t> MakePpm(int w, int h) {
  std::ostringstream head;
  head << "P6\n" << w << " " << h << "\n255\n";
  const std::string hs = head.str();
  std::vector<std::uint8_t> out(hs.begin(), hs.end());
  std::mt19937 rng(7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int noise = static_cast<int>(rng() % 24);
      out.push_back(static_cast<std::uint8_t>((x * 255 / w + noise) & 0xFF));
      out.push_back(static_cast<std::uint8_t>(((x / 16 + y / 16) % 2) ? 200 : 40));
      out.push_back(static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.1 + y * 0.05)));
    }
  return out;
}

// The bitmap's pixels as R, G, B samples.
std::vector<int> Rgb(const TBitmap32& b) {
  std::vector<int> out;
  const auto rgba = test::ToRgba(b);
  for (std::size_t i = 0; i < rgba.size(); ++i)
    if (i % 4 != 3) out.push_back(rgba[i]);
  return out;
}

class JpgFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRasterFormats();
    if (!test::HaveTool("djpeg") || !test::HaveTool("cjpeg")) GTEST_SKIP() << "djpeg/cjpeg missing";
    test::WriteFileBytes(dir_ / "in.ppm", MakePpm(kW, kH));
  }

  std::filesystem::path Make(const std::string& name, const std::string& options,
                             const std::string& input = "in.ppm") {
    const auto out = dir_ / name;
    int rc = 0;
    test::RunCommandBytes("cjpeg " + options + " -outfile " + out.string() + " " +
                         (dir_ / input).string(),
                     &rc);
    EXPECT_EQ(rc, 0);
    return out;
  }

  // Our decode at 1/scale against djpeg's.
  void ExpectSameAsDjpeg(const std::filesystem::path& file, int scale, int w = kW, int h = kH) {
    const Pnm ref = ParsePnm(test::RunCommandBytes("djpeg -dct int -scale 1/" + std::to_string(scale) +
                                              " " + file.string() + " 2>/dev/null"));
    TBitmap32 b;
    test::LoadFile(file, b, w / scale, h / scale);
    ASSERT_EQ(b.Width(), ref.Width) << file << " 1/" << scale;
    ASSERT_EQ(b.Height(), ref.Height);
    ASSERT_GT(ref.Channels, 0);
    ASSERT_EQ(ref.Data.size(), std::size_t{1} * ref.Width * ref.Height * ref.Channels);
    // Grey files come out as R = G = B, every pixel opaque.
    for (std::int32_t y = 0; y < b.Height(); ++y)
      for (std::int32_t x = 0; x < b.Width(); ++x) {
        const std::uint8_t* d = &ref.Data[(std::size_t{1} * y * ref.Width + x) * ref.Channels];
        const TColor32 expect = 0xFF000000u | TColor32{d[0]} << 16 |
                                TColor32{d[ref.Channels == 3 ? 1 : 0]} << 8 | d[ref.Channels == 3 ? 2 : 0];
        if (b.ScanLine(y)[x] != expect) {
          ADD_FAILURE() << file << " 1/" << scale << ": first difference at " << x << ", " << y;
          return;
        }
      }
  }

  static constexpr int kW = 203;
  static constexpr int kH = 117;
  test::ScratchDir dir_;
};

// Baseline, progressive, grey, 4:4:4 and a file cut short (which decodes
// what is there, the rest grey).
TEST_F(JpgFormatTest, DecodesLikeDjpegAtEveryScale) {
  auto cut = test::ReadFileBytes(Make("t.jpg", "-quality 90"));
  cut.resize(cut.size() * 6 / 10);
  test::WriteFileBytes(dir_ / "cut.jpg", cut);
  const std::filesystem::path files[] = {
      Make("base.jpg", "-quality 85"), Make("prog.jpg", "-quality 80 -progressive"),
      Make("grey.jpg", "-grayscale"),  Make("444.jpg", "-sample 1x1 -quality 95"),
      dir_ / "cut.jpg",
  };
  for (const auto& f : files)
    for (int scale : {1, 2, 4, 8}) ExpectSameAsDjpeg(f, scale);
}

// Tall pictures cut early: past the end of the data our decoder copies the
// last row down instead of decoding more, which must give what djpeg's full
// decode gives, also next to the last real rows (narrow pictures keep many
// MCU rows of data in the Huffman decoder's buffer; restart markers reset
// it). The heights leave many rows past the copying point.
TEST_F(JpgFormatTest, FilesCutEarlyDecodeLikeDjpegToTheLastRow) {
  struct Case {
    int w, h;
    std::string options;
    int keepPercent;
    int flat = 0;  // one grey level for the whole picture, else a noisy one
  };
  const Case cases[] = {
      {64, 2400, "-quality 90", 5},
      {8, 3000, "-grayscale", 10},
      {17, 2000, "-quality 75", 3},
      {203, 1600, "-sample 1x1 -restart 1", 20},
      {640, 1200, "-sample 2x1 -quality 95", 40},
      {96, 1800, "-optimize", 6},
      // Two bits a block: the decoder's buffer still holds 30 rows of blocks
      // when the data runs out.
      {8, 8000, "-grayscale -optimize", 60, 200},
  };
  int i = 0;
  for (const Case& c : cases) {
    const std::string name = "tall" + std::to_string(i++);
    if (c.flat)
      test::WriteFile(dir_ / (name + ".ppm"), "P6\n" + std::to_string(c.w) + " " + std::to_string(c.h) + "\n255\n" +
                                                 std::string(std::size_t{3} * c.w * c.h, static_cast<char>(c.flat)));
    else
      test::WriteFileBytes(dir_ / (name + ".ppm"), MakePpm(c.w, c.h));
    auto bytes = test::ReadFileBytes(Make(name + ".jpg", c.options, name + ".ppm"));
    // Keep the header and the given share of the coded data after it.
    static const std::uint8_t kSos[] = {0xFF, 0xDA};
    const auto sos = std::search(bytes.begin(), bytes.end(), std::begin(kSos), std::end(kSos));
    ASSERT_NE(sos, bytes.end());
    const std::size_t data = static_cast<std::size_t>(sos - bytes.begin()) + 2 + (sos[2] << 8 | sos[3]);
    bytes.resize(data + (bytes.size() - data) * static_cast<std::size_t>(c.keepPercent) / 100);
    test::WriteFileBytes(dir_ / (name + "cut.jpg"), bytes);
    for (int scale : {1, 2, 8}) ExpectSameAsDjpeg(dir_ / (name + "cut.jpg"), scale, c.w, c.h);
  }
}

// A grey picture's header claiming 16375 x 8000 pixels, cut to 388 bytes:
// libjpeg would make a 131-megapixel grey bitmap of it. Every 8 x 8 block
// needs at least one bit, so the 2,047,000 blocks would need 256 KB.
TEST_F(JpgFormatTest, AFewHundredBytesCannotClaimAHugePicture) {
  std::mt19937 rng(5);
  std::string pgm = "P5\n64 64\n255\n";
  for (int k = 0; k < 64 * 64; ++k) pgm += static_cast<char>(rng() % 256);
  test::WriteFile(dir_ / "g.pgm", pgm);
  auto bytes = test::ReadFileBytes(Make("g.jpg", "-grayscale", "g.pgm"));
  bytes.resize(388);
  test::WriteFileBytes(dir_ / "cut.jpg", bytes);
  // The same bytes with their own size still decode, grey below the data.
  ExpectSameAsDjpeg(dir_ / "cut.jpg", 1, 64, 64);

  static const std::uint8_t kSof0[] = {0xFF, 0xC0};
  const auto sof = std::search(bytes.begin(), bytes.end(), std::begin(kSof0), std::end(kSof0));
  ASSERT_NE(sof, bytes.end());
  const std::size_t at = static_cast<std::size_t>(sof - bytes.begin());
  bytes[at + 5] = 8000 >> 8;
  bytes[at + 6] = 8000 & 0xFF;
  bytes[at + 7] = 16375 >> 8;
  bytes[at + 8] = 16375 & 0xFF;
  for (const char* ext : {".jpg", ".jpeg"}) {
    TMemoryStream s;
    test::StreamFromBytes(s, bytes);
    TBitmap32 b;
    EXPECT_EQ(test::RasterErrorText([&] { LoadBitmapFromStream(&s, ext, &b, 0, 0, 0); }),
              "Image file is corrupted");
    EXPECT_TRUE(b.Empty());
  }
}

// Real photographs of 24 megapixels, baseline and progressive, decode as
// djpeg decodes them; flat ones, which come closest to the least data a
// block can have (two bits with optimised tables), decode to their grey.
TEST_F(JpgFormatTest, LargePhotosStillLoad) {
  constexpr int w = 6000, h = 4000;
  test::WriteFileBytes(dir_ / "big.ppm", MakePpm(w, h));
  for (const char* options : {"-quality 85", "-quality 85 -progressive"})
    ExpectSameAsDjpeg(Make("big.jpg", options, "big.ppm"), 1, w, h);

  test::WriteFile(dir_ / "flat.ppm", "P6\n6000 4000\n255\n" + std::string(std::size_t{w} * h * 3, '\x80'));
  for (const char* options : {"-optimize", "-grayscale -optimize", "-progressive -sample 1x1"}) {
    const auto file = Make("flat.jpg", options, "flat.ppm");
    TBitmap32 b;
    test::LoadFile(file, b, w, h);
    ASSERT_EQ(b.Width(), w) << options;
    ASSERT_EQ(b.Height(), h);
    const std::int64_t n = std::int64_t{w} * h;
    EXPECT_EQ(std::count(b.Bits(), b.Bits() + n, 0xFF808080u), n) << options;
  }
}

TEST_F(JpgFormatTest, ScaleIsChosenFromTheRequestedSize) {
  const auto f = Make("s.jpg", "");
  TdtpJpgFormat jpg;
  TFileStream s(f, fmOpenRead);
  TBitmap32 b;
  jpg.LoadFromStream(&s, &b, 0, 101, 58);  // 203 >= 2 * 101 and 117 >= 2 * 58
  EXPECT_EQ(b.Width(), 102);
  EXPECT_EQ(jpg.Width(), kW);
  s.Seek(0, soBeginning);
  jpg.LoadFromStream(&s, &b, 0, 102, 58);  // 203 < 2 * 102
  EXPECT_EQ(b.Width(), kW);
  EXPECT_EQ(s.Position(), s.Size());
}

TEST_F(JpgFormatTest, DamagedHeadersRaiseInsteadOfEndingTheProcess) {
  auto bytes = test::ReadFileBytes(Make("d.jpg", ""));
  const std::vector<std::vector<std::uint8_t>> cases = {
      {0xFF, 0xD8},
      {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0x00},
      std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 40),
  };
  for (const auto& c : cases) {
    TMemoryStream s;
    test::StreamFromBytes(s, c);
    TBitmap32 b;
    EXPECT_EQ(test::RasterErrorText([&] { LoadBitmapFromStream(&s, ".jpg", &b, 0, 0, 0); }),
              "Image file is corrupted");
  }
}

// Adobe CMYK files store inverted inks; the colour is the complement of
// each ink darkened by black, as ImageMagick converts it.
TEST_F(JpgFormatTest, CmykFilesBecomeRgb) {
  if (!test::HaveTool("convert")) GTEST_SKIP();
  const auto file = dir_ / "cmyk.jpg";
  int rc = 0;
  test::RunCommandBytes("convert " + (dir_ / "in.ppm").string() + " -colorspace CMYK -quality 95 " +
                       file.string(),
                   &rc);
  ASSERT_EQ(rc, 0);
  const auto ref = test::RunCommandBytes("convert " + file.string() + " -colorspace sRGB -depth 8 RGB:-");
  TBitmap32 b;
  test::LoadFile(file, b);
  ASSERT_EQ(static_cast<std::size_t>(b.Width() * b.Height() * 3), ref.size());
  int worst = 0;
  const auto ours = Rgb(b);
  for (std::size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(ours[i] - ref[i]));
  EXPECT_LE(worst, 2);
}

TEST_F(JpgFormatTest, EncodesAtItsQualityAndDropsAlpha) {
  TBitmap32 b;
  b.SetSize(64, 40);
  for (std::int32_t y = 0; y < 40; ++y)
    for (std::int32_t x = 0; x < 64; ++x)
      b.SetPixel(x, y, (static_cast<TColor32>(x * 4) << 24) | Color32(static_cast<std::uint8_t>(x * 4),
                                                                      static_cast<std::uint8_t>(y * 6), 90) % 0x1000000u);
  for (int quality : {90, 40}) {
    TdtpJpgFormat jpg;
    EXPECT_EQ(jpg.Quality(), 90);
    jpg.SetQuality(static_cast<std::uint8_t>(quality));
    const auto path = dir_ / ("q" + std::to_string(quality) + ".jpg");
    jpg.SaveToFile(path, &b);
    const auto q = test::RunCommandBytes("identify -format %Q " + path.string());
    EXPECT_EQ(std::string(q.begin(), q.end()), std::to_string(quality));
    const Pnm ref = ParsePnm(test::RunCommandBytes("djpeg -dct int " + path.string()));
    ASSERT_EQ(ref.Width, 64);
    double err = 0;
    const auto ours = Rgb(b);
    for (std::size_t i = 0; i < ours.size(); ++i) err += std::abs(ours[i] - ref.Data[i]);
    EXPECT_LT(err / (64 * 40 * 3), quality == 90 ? 2.0 : 6.0);
  }
}

// Bands of any height make the whole picture's file, which djpeg reads
// back; a band that does not fit the picture raises instead of letting the
// encoder read outside it.
TEST_F(JpgFormatTest, RowsWrittenInBandsMakeTheWholePicturesFile) {
  TBitmap32 b;
  b.SetSize(70, 45);
  std::mt19937 rng(7);
  for (std::int32_t y = 0; y < 45; ++y)
    for (std::int32_t x = 0; x < 70; ++x) b.SetPixel(x, y, 0xFF000000u | ((x * 3 + y * 5) << 8) | (rng() & 0x3F));
  TMemoryStream whole;
  TdtpJpgFormat jpg;
  jpg.SetQuality(85);
  jpg.SaveToStream(&whole, &b);
  for (const std::int32_t rows : {1, 7, 16, 45}) {
    TMemoryStream banded;
    TdtpJpgRowWriter writer(&banded, 70, 45, 85);
    TBitmap32 band;
    for (std::int32_t top = 0; top < 45; top += rows) {
      const std::int32_t n = std::min(rows, 45 - top);
      band.SetSize(70, n);
      for (std::int32_t y = 0; y < n; ++y) std::copy_n(b.ScanLine(top + y), 70, band.ScanLine(y));
      writer.WriteRows(band);
    }
    writer.Finish();
    ASSERT_EQ(banded.Size(), whole.Size()) << rows;
    EXPECT_TRUE(std::equal(static_cast<const char*>(banded.Memory()),
                           static_cast<const char*>(banded.Memory()) + banded.Size(),
                           static_cast<const char*>(whole.Memory())))
        << rows << " rows a band";
  }
  const auto path = dir_ / "bands.jpg";
  whole.SaveToFile(path);
  const Pnm ref = ParsePnm(test::RunCommandBytes("djpeg " + path.string()));
  EXPECT_EQ(ref.Width, 70);
  EXPECT_EQ(ref.Height, 45);

  TBitmap32 narrow, tall;
  narrow.SetSize(69, 4);
  tall.SetSize(70, 46);
  TMemoryStream out;
  EXPECT_EQ(test::RasterErrorText([&] {
              TdtpJpgRowWriter w(&out, 70, 45, 85);
              w.WriteRows(narrow);
            }),
            "Unable to compress");
  EXPECT_EQ(test::RasterErrorText([&] {
              TdtpJpgRowWriter w(&out, 70, 45, 85);
              w.WriteRows(tall);
            }),
            "Unable to compress");
  // Finished before its last row.
  EXPECT_EQ(test::RasterErrorText([&] {
              TdtpJpgRowWriter w(&out, 70, 45, 85);
              TBitmap32 first;
              first.SetSize(70, 10);
              w.WriteRows(first);
              w.Finish();
            }),
            "Unable to compress");
  EXPECT_EQ(test::RasterErrorText([&] { TdtpJpgRowWriter w(&out, 0, 45, 85); }), "Unable to compress");
}

}  // namespace
}  // namespace kdl

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

  std::filesystem::path Make(const std::string& name, const std::string& options) {
    const auto out = dir_ / name;
    int rc = 0;
    test::RunCommandBytes("cjpeg " + options + " -outfile " + out.string() + " " +
                         (dir_ / "in.ppm").string(),
                     &rc);
    EXPECT_EQ(rc, 0);
    return out;
  }

  // Our decode at 1/scale against djpeg's.
  void ExpectSameAsDjpeg(const std::filesystem::path& file, int scale) {
    const Pnm ref = ParsePnm(test::RunCommandBytes("djpeg -dct int -scale 1/" + std::to_string(scale) +
                                              " " + file.string() + " 2>/dev/null"));
    TBitmap32 b;
    test::LoadFile(file, b, kW / scale, kH / scale);
    ASSERT_EQ(b.Width(), ref.Width) << file << " 1/" << scale;
    ASSERT_EQ(b.Height(), ref.Height);
    ASSERT_GT(ref.Channels, 0);
    // Grey files come out as R = G = B, every pixel opaque.
    std::vector<std::uint8_t> expect;
    for (std::size_t i = 0; i + ref.Channels <= ref.Data.size(); i += ref.Channels) {
      for (int k = 0; k < 3; ++k) expect.push_back(ref.Data[i + (ref.Channels == 3 ? k : 0)]);
      expect.push_back(255);
    }
    EXPECT_TRUE(test::ToRgba(b) == expect) << file << " 1/" << scale;
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

}  // namespace
}  // namespace kdl

// BMP files against ImageMagick: what it writes we decode to the pixels it
// decodes, and what we write it decodes to our pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/BmpFile.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;

class BmpFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("convert -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ImageMagick";
  }

  // ImageMagick's decoding as our TColor32 values (B, G, R, A in memory).
  static std::vector<TColor32> MagickPixels(const fs::path& file) {
    int status = -1;
    const std::string rgba = RunCommand("convert '" + file.string() + "' -depth 8 RGBA:-", &status);
    EXPECT_EQ(status, 0) << file;
    std::vector<TColor32> px(rgba.size() / 4);
    for (std::size_t i = 0; i < px.size(); ++i)
      px[i] = Color32(static_cast<std::uint8_t>(rgba[4 * i]), static_cast<std::uint8_t>(rgba[4 * i + 1]),
                      static_cast<std::uint8_t>(rgba[4 * i + 2]), static_cast<std::uint8_t>(rgba[4 * i + 3]));
    return px;
  }

  // A picture of `colours` distinct colours (with alphas when asked) that
  // ImageMagick writes in the given form.
  fs::path Write(int w, int h, int colours, bool alpha, const std::string& options,
                 const std::string& format, const std::string& name) {
    std::mt19937 rng(static_cast<unsigned>(colours * 7 + w));
    std::string palette, raw;
    for (int i = 0; i < colours * 4; ++i) palette.push_back(static_cast<char>(rng()));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int c = (x / 2 + 3 * y) % colours;
        raw += palette.substr(static_cast<std::size_t>(4 * c), 3);
        raw.push_back(alpha ? palette[static_cast<std::size_t>(4 * c + 3)] : '\xFF');
      }
    const fs::path in = dir_ / (name + ".rgba"), out = dir_ / (name + ".bmp");
    test::WriteFile(in, raw);
    RunCommand("convert -size " + std::to_string(w) + "x" + std::to_string(h) + " -depth 8 RGBA:'" +
               in.string() + "' " + options + " " + format + ":'" + out.string() + "'");
    return out;
  }

  test::ScratchDir dir_;
};

TEST_F(BmpFiles, DecodeWhatImageMagickWrites) {
  struct TCase {
    const char* name;
    int colours;
    bool alpha;
    const char* options;
    const char* format;
    int bpp;
    int compression;
  };
  const TCase cases[] = {
      {"pal8", 40, false, "-type Palette -compress None", "BMP3", 8, 0},
      {"pal4", 9, false, "-type Palette -compress None", "BMP3", 4, 0},
      {"bilevel", 2, false, "-type Bilevel -compress None", "BMP3", 1, 0},
      {"rle8", 40, false, "-type Palette -compress RLE", "BMP3", 8, 1},
      {"rgb24", 200, false, "-alpha off -type TrueColor", "BMP3", 24, 0},
      {"argb32", 200, true, "-type TrueColorAlpha", "BMP", 32, 3},
      {"rgb565", 200, false, "-alpha off -define bmp:subtype=RGB565", "BMP", 16, 3},
      {"core8", 40, false, "-type Palette -compress None", "BMP2", 8, 0},
  };
  for (const TCase& c : cases) {
    for (const auto& [w, h] : {std::pair{13, 7}, {32, 3}, {1, 1}}) {
      const fs::path file = Write(w, h, c.colours, c.alpha, c.options, c.format, c.name);
      const std::string bytes = test::ReadFile(file);
      ASSERT_GT(bytes.size(), 30u) << c.name;
      if (w > 2) {
        // The form we meant to exercise really is what ImageMagick wrote.
        EXPECT_EQ(static_cast<std::uint8_t>(bytes[bytes[14] == 12 ? 24 : 28]), c.bpp) << c.name;
        if (bytes[14] != 12) {
          EXPECT_EQ(static_cast<std::uint8_t>(bytes[30]), c.compression) << c.name;
        }
      }
      std::istringstream s(bytes);
      const TBmpImage image = ReadBmp(s);
      ASSERT_EQ(image.Width, w) << c.name;
      ASSERT_EQ(image.Height, h) << c.name;
      EXPECT_EQ(image.Pixels, MagickPixels(file)) << c.name << " " << w << "x" << h;
    }
  }
}

TEST_F(BmpFiles, ImageMagickReadsWhatWeWrite) {
  TBitmap32 b;
  b.SetSize(17, 9);
  std::mt19937 rng(5);
  for (int i = 0; i < 17 * 9; ++i) b.Bits()[i] = static_cast<TColor32>(rng());
  const fs::path file = dir_ / "ours.bmp";
  {
    std::ofstream out(file, std::ios::binary);
    b.SaveToStream(out);
  }
  const auto magick = MagickPixels(file);
  ASSERT_EQ(magick.size(), 17u * 9);
  EXPECT_TRUE(std::equal(magick.begin(), magick.end(), b.Bits()));

  // And we read it back with its alpha.
  TBitmap32 back;
  std::ifstream in(file, std::ios::binary);
  back.LoadFromStream(in);
  EXPECT_TRUE(back.Equal(b));
}

// Files laid out by hand: a 40-byte info header, then `extra` (palette),
// then the pixel bytes.
std::string HandBmp(std::int32_t w, std::int32_t h, int bpp, int compression, std::uint32_t colours,
                    const std::string& extra, const std::string& pixels) {
  auto le = [](std::string& s, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  };
  std::string f = "BM";
  le(f, static_cast<std::uint32_t>(54 + extra.size() + pixels.size()), 4);
  le(f, 0, 4);
  le(f, static_cast<std::uint32_t>(54 + extra.size()), 4);
  le(f, 40, 4);
  le(f, static_cast<std::uint32_t>(w), 4);
  le(f, static_cast<std::uint32_t>(h), 4);
  le(f, 1, 2);
  le(f, static_cast<std::uint32_t>(bpp), 2);
  le(f, static_cast<std::uint32_t>(compression), 4);
  le(f, static_cast<std::uint32_t>(pixels.size()), 4);
  le(f, 0, 8);
  le(f, colours, 4);
  le(f, 0, 4);
  return f + extra + pixels;
}

TBmpImage ReadBytes(const std::string& bytes) {
  std::istringstream s(bytes);
  return ReadBmp(s);
}

// Forms ImageMagick does not write: RLE4 with a delta and an odd absolute
// run, an RLE8 absolute run longer than its row, and top-down rows.
TEST(BmpReader, RunLengthFormsAndTopDown) {
  std::string palette;  // grey levels 0x10 apart
  for (std::uint32_t i = 0; i < 16; ++i)
    for (int k = 0; k < 4; ++k) palette.push_back(static_cast<char>(k < 3 ? i * 16 : 0));
  auto pal = [](std::uint32_t i) { return 0xFF000000u | (0x101010u * i); };
  // 6 x 3. Bottom row: run of 5 alternating 1,2 then end of line; middle
  // row: absolute run of 3 (3,4,5), delta (+1, +1), end of bitmap.
  const std::string rle4("\x05\x12\x00\x00\x00\x03\x34\x50\x00\x02\x01\x01\x00\x01", 14);
  EXPECT_EQ(ReadBytes(HandBmp(6, 3, 4, 2, 16, palette, rle4)).Pixels,
            (std::vector<TColor32>{
                0,      0,      0,      0,      0,      0,  // top row: untouched
                pal(3), pal(4), pal(5), 0,      0,      0,  // middle
                pal(1), pal(2), pal(1), pal(2), pal(1), 0,  // bottom
            }));
  // 4 x 2, RLE8: the bottom row gets an absolute run of six pixels, which
  // stays in that row.
  const std::string rle8("\x00\x06\x01\x02\x03\x04\x05\x06\x00\x01", 10);
  EXPECT_EQ(ReadBytes(HandBmp(4, 2, 8, 1, 16, palette, rle8)).Pixels,
            (std::vector<TColor32>{0, 0, 0, 0, pal(1), pal(2), pal(3), pal(4)}));

  // Top-down 24-bit: the first stored row is the top.
  const std::string rows("\x01\x02\x03\x04\x05\x06\x00\x00\x07\x08\x09\x0A\x0B\x0C\x00\x00", 16);
  EXPECT_EQ(ReadBytes(HandBmp(2, -2, 24, 0, 0, "", rows)).Pixels,
            (std::vector<TColor32>{0xFF030201u, 0xFF060504u, 0xFF090807u, 0xFF0C0B0Au}));
}

TEST(BmpReader, ThirtyTwoBitAlphaThatIsAllZeroMeansOpaque) {
  // 2 x 1, B G R A per pixel.
  const TBmpImage zero = ReadBytes(HandBmp(2, 1, 32, 0, 0, "", std::string("\x10\x20\x30\x00\x40\x50\x60\x00", 8)));
  EXPECT_EQ(zero.Pixels, (std::vector<TColor32>{0xFF302010u, 0xFF605040u}));
  const TBmpImage one = ReadBytes(HandBmp(2, 1, 32, 0, 0, "", std::string("\x10\x20\x30\x00\x40\x50\x60\x01", 8)));
  EXPECT_EQ(one.Pixels, (std::vector<TColor32>{0x00302010u, 0x01605040u}));
  // 16 bits with an alpha mask keep the mask's alpha: 1-5-5-5, top bit clear.
  std::string masks;
  for (std::uint32_t m : {0x7C00u, 0x03E0u, 0x001Fu, 0x8000u})
    for (int i = 0; i < 4; ++i) masks.push_back(static_cast<char>(m >> (8 * i)));
  std::string v3 = HandBmp(2, 1, 16, 3, 0, "", std::string("\x1F\x00\x1F\x80", 4));
  v3[14] = 56;  // a V3 header: the four masks follow its 40 bytes
  v3.insert(54, masks);
  v3[10] = static_cast<char>(54 + 16);
  const TBmpImage sixteen = ReadBytes(v3);
  EXPECT_EQ(sixteen.Pixels, (std::vector<TColor32>{0x000000FFu, 0xFF0000FFu}));
}

TEST(BmpReader, PaletteLongerThan256EntriesIsCut) {
  // 300 entries declared and present; the pixel uses entry 255.
  std::string palette;
  for (std::uint32_t i = 0; i < 300; ++i)
    for (int k = 0; k < 4; ++k) palette.push_back(static_cast<char>(k == 0 ? i & 0xFF : k == 1 ? i >> 8 : 0));
  const TBmpImage img = ReadBytes(HandBmp(1, 1, 8, 0, 300, palette, std::string("\xFF\0\0\0", 4)));
  EXPECT_EQ(img.Pixels, (std::vector<TColor32>{0xFF0000FFu}));
}

TEST(BmpReader, RefusesCorruptFiles) {
  TBitmap32 b;
  b.SetSize(3, 2);
  b.Clear(0x80402010u);
  std::ostringstream out;
  b.SaveToStream(out);
  const std::string good = out.str();
  ASSERT_EQ(good.size(), 14u + 40 + 24);
  auto reads = [](std::string bytes) {
    std::istringstream s(bytes);
    try {
      ReadBmp(s);
      return true;
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Bitmap image is not valid");
      return false;
    }
  };
  EXPECT_TRUE(reads(good));
  for (std::size_t cut : {0u, 10u, 20u, 54u, 77u}) EXPECT_FALSE(reads(good.substr(0, cut))) << cut;
  std::string huge = good;  // 1,000,000 x 1,000,000 with 24 bytes of pixels
  huge[18] = '\x40'; huge[19] = '\x42'; huge[20] = '\x0F'; huge[21] = 0;
  huge[22] = '\x40'; huge[23] = '\x42'; huge[24] = '\x0F'; huge[25] = 0;
  EXPECT_FALSE(reads(huge));
  std::string wide = good;  // 60000 x 2: fits the limit, but the bytes are not there
  wide[18] = '\x60'; wide[19] = '\xEA';
  EXPECT_FALSE(reads(wide));
  std::string bpp = good;
  bpp[28] = 7;
  EXPECT_FALSE(reads(bpp));
  std::string sig = good;
  sig[0] = 'X';
  EXPECT_FALSE(reads(sig));

  // A failed load leaves the bitmap as it was and still reports a change.
  int changes = 0;
  b.OnChange = [&](TThreadPersistent*) { ++changes; };
  std::istringstream bad(good.substr(0, 60));
  EXPECT_THROW(b.LoadFromStream(bad), EInvalidGraphic);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.GetPixel(2, 1), 0x80402010u);
}

}  // namespace
}  // namespace kdl

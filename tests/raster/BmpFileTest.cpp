// BMP files against ImageMagick: what it writes we decode to the pixels it
// decodes, and what we write it decodes to our pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "raster/Bitmap32.h"
#include "raster/BmpFile.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;

class BmpFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kdl-bmp-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    if (std::system("convert -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ImageMagick";
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<std::uint8_t> Run(const std::string& command) {
    std::vector<std::uint8_t> out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return out;
    std::uint8_t buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
    EXPECT_EQ(::pclose(p), 0) << command;
    return out;
  }

  // ImageMagick's decoding as our TColor32 values (B, G, R, A in memory).
  static std::vector<TColor32> MagickPixels(const fs::path& file) {
    const auto rgba = Run("convert '" + file.string() + "' -depth 8 RGBA:-");
    std::vector<TColor32> px(rgba.size() / 4);
    for (std::size_t i = 0; i < px.size(); ++i)
      px[i] = Color32(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2], rgba[4 * i + 3]);
    return px;
  }

  // A picture of `colours` distinct colours (with alphas when asked) that
  // ImageMagick writes in the given form.
  fs::path Write(int w, int h, int colours, bool alpha, const std::string& options,
                 const std::string& format, const std::string& name) {
    std::mt19937 rng(static_cast<unsigned>(colours * 7 + w));
    std::vector<std::uint8_t> palette;
    for (int i = 0; i < colours * 4; ++i) palette.push_back(static_cast<std::uint8_t>(rng()));
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int c = (x / 2 + 3 * y) % colours;
        for (int k = 0; k < 3; ++k) raw.push_back(palette[static_cast<std::size_t>(4 * c + k)]);
        raw.push_back(alpha ? palette[static_cast<std::size_t>(4 * c + 3)] : 255);
      }
    const fs::path in = dir_ / (name + ".rgba"), out = dir_ / (name + ".bmp");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(raw.data()),
                                              static_cast<std::streamsize>(raw.size()));
    Run("convert -size " + std::to_string(w) + "x" + std::to_string(h) + " -depth 8 RGBA:'" +
        in.string() + "' " + options + " " + format + ":'" + out.string() + "'");
    return out;
  }

  fs::path dir_;
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
      std::ifstream in(file, std::ios::binary);
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      ASSERT_GT(bytes.size(), 30u) << c.name;
      if (w > 2) {
        // The form we meant to exercise really is what ImageMagick wrote.
        EXPECT_EQ(static_cast<std::uint8_t>(bytes[bytes[14] == 12 ? 24 : 28]), c.bpp) << c.name;
        if (bytes[14] != 12) {
          EXPECT_EQ(static_cast<std::uint8_t>(bytes[30]), c.compression) << c.name;
        }
      }
      std::istringstream s(std::string(bytes.begin(), bytes.end()));
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

// Forms ImageMagick does not write: RLE4 with a delta and an odd absolute
// run, and top-down rows.
TEST(BmpReader, Rle4AndTopDown) {
  auto le32 = [](std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
  };
  auto header = [&](std::int32_t w, std::int32_t h, int bpp, int comp, std::uint32_t colours,
                    std::uint32_t dataSize) {
    std::vector<std::uint8_t> v = {'B', 'M'};
    le32(v, 0);
    le32(v, 0);
    le32(v, 14 + 40 + colours * 4);
    le32(v, 40);
    le32(v, static_cast<std::uint32_t>(w));
    le32(v, static_cast<std::uint32_t>(h));
    v.push_back(1); v.push_back(0);
    v.push_back(static_cast<std::uint8_t>(bpp)); v.push_back(0);
    le32(v, static_cast<std::uint32_t>(comp));
    le32(v, dataSize);
    le32(v, 0); le32(v, 0);
    le32(v, colours);
    le32(v, 0);
    for (std::uint32_t i = 0; i < colours; ++i) le32(v, 0x00101010u * i);
    return v;
  };
  // 6 x 3, RLE4. Bottom row: run of 5 alternating 1,2 then end of line;
  // middle row: absolute run of 3 (3,4,5), delta (+1, +1), end of bitmap.
  std::vector<std::uint8_t> rle = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 2, 1, 1, 0, 1};
  auto file = header(6, 3, 4, 2, 16, static_cast<std::uint32_t>(rle.size()));
  file.insert(file.end(), rle.begin(), rle.end());
  std::istringstream s(std::string(file.begin(), file.end()));
  const TBmpImage img = ReadBmp(s);
  const TColor32 k = 0xFF000000u;
  auto pal = [k](std::uint32_t i) { return k | (0x101010u * i); };
  const std::vector<TColor32> want = {
      0,      0,      0,      0,      0,      0,  // top row: untouched
      pal(3), pal(4), pal(5), 0,      0,      0,  // middle
      pal(1), pal(2), pal(1), pal(2), pal(1), 0,  // bottom
  };
  EXPECT_EQ(img.Pixels, want);

  // Top-down 24-bit: the first stored row is the top.
  auto top = header(2, -2, 24, 0, 0, 16);
  const std::uint8_t rows[] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  top.insert(top.end(), rows, rows + 16);
  std::istringstream t(std::string(top.begin(), top.end()));
  const TBmpImage td = ReadBmp(t);
  EXPECT_EQ(td.Pixels, (std::vector<TColor32>{0xFF030201u, 0xFF060504u, 0xFF090807u, 0xFF0C0B0Au}));
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

TEST(BmpReader, OverlongAbsoluteRunStaysInItsRow) {
  // 4 x 2, RLE8: the bottom row gets an absolute run of six pixels.
  std::string palette;
  for (std::uint32_t i = 0; i < 8; ++i)
    for (int k = 0; k < 4; ++k) palette.push_back(static_cast<char>(k < 3 ? i * 16 : 0));
  const std::string rle("\x00\x06\x01\x02\x03\x04\x05\x06\x00\x01", 10);
  const TBmpImage img = ReadBytes(HandBmp(4, 2, 8, 1, 8, palette, rle));
  const TColor32 k = 0xFF000000u;
  EXPECT_EQ(img.Pixels, (std::vector<TColor32>{0, 0, 0, 0, k | 0x101010u, k | 0x202020u, k | 0x303030u,
                                               k | 0x404040u}));
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

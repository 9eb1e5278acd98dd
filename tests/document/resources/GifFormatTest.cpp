#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "document/resources/formats/GifFormat.h"
#include "ImageTestUtil.h"

namespace kdl {
namespace {

using Bytes = std::vector<std::uint8_t>;
struct Rgb {
  std::uint8_t R, G, B;
};

struct Frame {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Interlace = false;
  std::vector<Rgb> LocalMap;
  Bytes Indices;  // row 0 first, as displayed
  int Transparent = -1;
};

// Colour table flags: the size field n means 2^(n+1) entries.
void PutTable(Bytes& out, const std::vector<Rgb>& map, std::uint8_t& flags) {
  int n = 0;
  while ((2 << n) < static_cast<int>(map.size())) ++n;
  flags |= static_cast<std::uint8_t>(0x80 | n);
  for (int i = 0; i < (2 << n); ++i) {
    const Rgb c = i < static_cast<int>(map.size()) ? map[static_cast<std::size_t>(i)] : Rgb{0, 0, 0};
    out.insert(out.end(), {c.R, c.G, c.B});
  }
}

// A GIF written by hand: literal LZW codes of 9 bits with a clear code often
// enough that the code width never grows.
Bytes BuildGif(int sw, int sh, const std::vector<Rgb>& global, const std::vector<Frame>& frames) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  auto u16 = [&](int v) { out.insert(out.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); };
  for (int v : {sw, sh}) u16(v);
  Bytes table;
  std::uint8_t flags = 0x70;
  if (!global.empty()) PutTable(table, global, flags);
  out.insert(out.end(), {flags, 0, 0});
  out.insert(out.end(), table.begin(), table.end());
  for (const Frame& f : frames) {
    if (f.Transparent >= 0)
      out.insert(out.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<std::uint8_t>(f.Transparent), 0});
    out.push_back(0x2C);
    for (int v : {f.Left, f.Top, f.Width, f.Height}) u16(v);
    std::uint8_t fl = f.Interlace ? 0x40 : 0;
    Bytes local;
    if (!f.LocalMap.empty()) PutTable(local, f.LocalMap, fl);
    out.push_back(fl);
    out.insert(out.end(), local.begin(), local.end());
    std::vector<int> rows;
    if (f.Interlace) {
      for (int p : {0, 1, 2, 3})
        for (int y = (int[]){0, 4, 2, 1}[p]; y < f.Height; y += (int[]){8, 8, 4, 2}[p]) rows.push_back(y);
    } else {
      for (int y = 0; y < f.Height; ++y) rows.push_back(y);
    }
    Bytes data;
    std::uint32_t acc = 0;
    int bits = 0;
    auto code = [&](int c) {
      acc |= static_cast<std::uint32_t>(c) << bits;
      bits += 9;
      while (bits >= 8) {
        data.push_back(static_cast<std::uint8_t>(acc));
        acc >>= 8;
        bits -= 8;
      }
    };
    int run = 0;
    code(256);
    for (int y : rows)
      for (int x = 0; x < f.Width; ++x) {
        if (run++ == 250) code(256), run = 1;
        code(f.Indices[static_cast<std::size_t>(y * f.Width + x)]);
      }
    code(257);
    if (bits > 0) data.push_back(static_cast<std::uint8_t>(acc));
    out.push_back(8);
    for (std::size_t at = 0; at < data.size(); at += 255) {
      const std::size_t n = std::min<std::size_t>(255, data.size() - at);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
  }
  out.push_back(0x3B);
  return out;
}

void Load(const Bytes& file, TBitmap32& b) {
  TMemoryStream s;
  test::StreamFromBytes(s, file);
  TdtpGifFormat gif;
  gif.LoadFromStream(&s, &b, 0, 0, 0);
}

Bytes Save(TBitmap32& b, TColor transparentColor = 0) {
  TMemoryStream s;
  TdtpGifFormat gif;
  gif.SetTransparentColor(transparentColor);
  gif.SaveToStream(&s, &b);
  return test::StreamBytes(s);
}

TColor32 Opaque(Rgb c) { return 0xFF000000u | TColor32{c.R} << 16 | TColor32{c.G} << 8 | c.B; }

const std::vector<Rgb> kGlobal = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 8, 7}};

// Only the first frame shows, at its offset, in the global map; a local
// map, a transparent index and interlaced rows are read right.
TEST(GifFormat, CraftedFilesDecode) {
  Frame f{2, 1, 3, 2, false, {}, {0, 1, 2, 3, 2, 1}, -1};
  Frame second{0, 0, 6, 4, false, {}, Bytes(24, 3), -1};
  TBitmap32 b;
  Load(BuildGif(6, 4, kGlobal, {f, second}), b);
  ASSERT_EQ(b.Width(), 6);
  ASSERT_EQ(b.Height(), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
      EXPECT_EQ(b.GetPixel(x, y), inside ? Opaque(kGlobal[f.Indices[std::size_t((y - 1) * 3 + x - 2)]]) : 0)
          << x << "," << y;
    }

  Frame il{0, 0, 3, 11, true, {{1, 2, 3}, {100, 110, 120}, {200, 0, 50}}, {}, 1};
  for (int i = 0; i < 33; ++i) il.Indices.push_back(static_cast<std::uint8_t>((i % 3 + i / 3) % 3));
  Load(BuildGif(3, 11, kGlobal, {il}), b);
  for (int i = 0; i < 33; ++i) {
    const int k = il.Indices[std::size_t(i)];
    EXPECT_EQ(b.Bits()[i], k == 1 ? 0u : Opaque(il.LocalMap[std::size_t(k)])) << i;
  }
}

TEST(GifFormat, DamagedFilesRaise) {
  Frame f{0, 0, 2, 2, false, {}, {0, 1, 2, 3}, -1};
  const Bytes good = BuildGif(2, 2, kGlobal, {f});
  TBitmap32 b;
  EXPECT_THROW(Load(BuildGif(2, 2, {}, {f}), b), ERasterError);  // no colour map at all
  Frame beyond{0, 0, 2, 2, false, {}, {0, 1, 2, 7}, -1};
  EXPECT_THROW(Load(BuildGif(2, 2, kGlobal, {beyond}), b), ERasterError);
  EXPECT_THROW(Load(Bytes(good.begin(), good.begin() + 30), b), ERasterError);
  EXPECT_THROW(Load(Bytes(good.begin(), good.begin() + 5), b), ERasterError);
}

TEST(GifFormat, FewColoursRoundTripExactlyAndReadInOtherTools) {
  TBitmap32 b;
  b.SetSize(37, 21);
  for (std::int32_t y = 0; y < 21; ++y)
    for (std::int32_t x = 0; x < 37; ++x)
      b.SetPixel(x, y, 0xFF000000u | static_cast<TColor32>(((x / 3) * 20) << 16 | ((y / 3) * 30) << 8 | 77));
  b.SetPixel(5, 5, 0x1F00FF00u);  // alpha 31: below the threshold
  test::ScratchDir dir;
  const auto file = dir / "ours.gif";
  test::WriteFileBytes(file, Save(b, TColor{0x0000FF}));
  TBitmap32 back;
  test::LoadFile(file, back);
  for (std::int32_t i = 0; i < 37 * 21; ++i) {
    const TColor32 expect = b.Bits()[i] >> 24 < 32 ? 0u : b.Bits()[i];
    ASSERT_EQ(back.Bits()[i], expect) << i;
  }
  const Bytes bytes = test::ReadFileBytes(file);
  const Bytes gce = {0x21, 0xF9, 0x04, 0x01};
  const auto at = std::search(bytes.begin(), bytes.end(), gce.begin(), gce.end());
  ASSERT_NE(at, bytes.end());
  // The transparent entry of the global table reads as TransparentColor.
  const std::size_t index = at[6];
  EXPECT_EQ(bytes[13 + 3 * index], 255);
  EXPECT_EQ(bytes[14 + 3 * index], 0);

  if (test::HaveTool("gifsicle")) {
    const auto info = test::RunCommandBytes("gifsicle --info " + file.string());
    const std::string text(info.begin(), info.end());
    EXPECT_NE(text.find("1 image"), std::string::npos) << text;
    EXPECT_NE(text.find("transparent"), std::string::npos) << text;
  }
  // ImageMagick keeps the table's colour under alpha 0; we read it as 0.
  Bytes theirs = test::RunCommandBytes("convert " + file.string() + " RGBA:-");
  for (std::size_t i = 0; i + 3 < theirs.size(); i += 4)
    if (theirs[i + 3] == 0) theirs[i] = theirs[i + 1] = theirs[i + 2] = 0;
  EXPECT_TRUE(theirs == test::ToRgba(back));
}

// With 256 colours in use and one transparent pixel, no visible colour may
// share the transparent index: neither greys that the quantiser may merge
// nor 256 colours so far apart that none merge, where it must leave an
// index free. Without a transparent pixel there is no control extension.
TEST(GifFormat, TransparencyNeverSwallowsAVisibleColour) {
  TBitmap32 b;
  b.SetSize(64, 16);
  for (bool distinct : {false, true}) {
    for (std::int32_t i = 0; i < 64 * 16; ++i) {
      const TColor32 c = static_cast<TColor32>(i % 256);
      b.Bits()[i] = 0xFF000000u | (distinct ? ((c & 7) * 36) << 16 | ((c >> 3 & 7) * 36) << 8 | (c >> 6) * 85
                                            : c * 0x010101u ^ static_cast<TColor32>(i / 256) * 0x400000u);
    }
    b.Bits()[0] = 0x00000000u;
    TBitmap32 back;
    Load(Save(b), back);
    EXPECT_EQ(back.Bits()[0], 0u);
    for (std::int32_t i = 1; i < 64 * 16; ++i) ASSERT_EQ(back.Bits()[i] >> 24, 0xFFu) << distinct << " " << i;
  }
  b.Clear(0x20FFFFFFu);  // alpha 32 is still visible
  const Bytes opaque = Save(b);
  const Bytes gce = {0x21, 0xF9};
  EXPECT_EQ(std::search(opaque.begin(), opaque.end(), gce.begin(), gce.end()), opaque.end());
}

double Psnr(const TBitmap32& a, const Bytes& rgba) {
  double sum = 0;
  const std::int64_t n = std::int64_t{a.Width()} * a.Height();
  for (std::int64_t i = 0; i < n; ++i) {
    const TColor32 c = a.Bits()[i];
    for (int k = 0; k < 3; ++k) {
      const double d = static_cast<double>((c >> (16 - 8 * k)) & 0xFF) - rgba[static_cast<std::size_t>(i * 4 + k)];
      sum += d * d;
    }
  }
  return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(n * 3)));
}

TEST(GifFormat, QuantiserIsCloseToImageMagick) {
  if (!test::HaveTool("convert")) GTEST_SKIP();
  // A photo-like picture: smooth colour fields, edges and grain.
  constexpr int kW = 256, kH = 192;
  TBitmap32 photo;
  photo.SetSize(kW, kH);
  std::mt19937 rng(17);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const double u = x / double(kW), v = y / double(kH);
      int r = static_cast<int>(255 * (0.5 + 0.5 * std::sin(6 * u + 2 * v)));
      int g = static_cast<int>(255 * v * (x > 128 ? 1 : 0.6));
      int bl = static_cast<int>(255 * (0.5 + 0.5 * std::cos(9 * u * v)));
      const int grain = static_cast<int>(rng() % 13) - 6;
      auto c = [&](int t) { return static_cast<TColor32>(std::clamp(t + grain, 0, 255)); };
      photo.SetPixel(x, y, 0xFF000000u | c(r) << 16 | c(g) << 8 | c(bl));
    }
  test::ScratchDir dir;
  test::WriteFileBytes(dir / "ours.gif", Save(photo));
  test::WriteFileBytes(dir / "in.rgba", test::ToRgba(photo));
  test::RunCommandBytes("convert -size 256x192 -depth 8 rgba:" + (dir / "in.rgba").string() +
                   " -colors 256 -dither FloydSteinberg " + (dir / "im.gif").string());
  const Bytes ours = test::RunCommandBytes("convert " + (dir / "ours.gif").string() + " RGBA:-");
  const Bytes theirs = test::RunCommandBytes("convert " + (dir / "im.gif").string() + " RGBA:-");
  ASSERT_EQ(ours.size(), theirs.size());
  ASSERT_EQ(ours.size(), static_cast<std::size_t>(kW * kH * 4));
  const double psnrOurs = Psnr(photo, ours);
  const double psnrTheirs = Psnr(photo, theirs);
  EXPECT_GT(psnrOurs, psnrTheirs - 3.0) << psnrOurs << " dB against " << psnrTheirs;
  std::printf("GIF quantiser: %.2f dB, ImageMagick %.2f dB\n", psnrOurs, psnrTheirs);
  RecordProperty("psnr_ours", std::to_string(psnrOurs));
  RecordProperty("psnr_imagemagick", std::to_string(psnrTheirs));
}

}  // namespace
}  // namespace kdl

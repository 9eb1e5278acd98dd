#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "document/resources/formats/BmpFormat.h"
#include "document/resources/formats/HckCoders.h"
#include "document/resources/formats/HckImage.h"
#include "ImageTestUtil.h"

namespace kdl {
namespace {

using Bytes = std::vector<std::uint8_t>;

using Encoder = int (*)(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t, std::size_t&);

Bytes Pack(Encoder encode, const Bytes& in) {
  Bytes out(CompressBufferSize(in.size()));
  std::size_t n = 0;
  EXPECT_EQ(encode(in.data(), in.size(), out.data(), out.size(), n), kCoderOk);
  out.resize(n);
  return out;
}
Bytes Rle(const Bytes& in) { return Pack(RleEncode, in); }
Bytes Rank(const Bytes& in) { return Pack(RankEncode, in); }

// The independent Python model's output for raw.
Bytes Model(const Bytes& raw, const std::string& mode = "") {
  test::ScratchDir dir;
  test::WriteFileBytes(dir / "in", raw);
  int rc = 0;
  test::RunCommandBytes("python3 " KDL_SOURCE_DIR "/tests/document/resources/HckModel.py " +
                       (dir / "in").string() + " " + (dir / "out").string() + " " + mode,
                   &rc);
  EXPECT_EQ(rc, 0);
  return test::ReadFileBytes(dir / "out");
}

using test::RasterErrorText;

Bytes Header(std::uint32_t w, std::int32_t h, std::int32_t pages, std::uint8_t a, std::uint8_t r,
             std::uint8_t g, std::uint8_t b, std::uint8_t gray, std::uint8_t compression) {
  Bytes out = {'H', 'C', 'K', 0};
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  u32(w);
  u32(static_cast<std::uint32_t>(h));
  u32(static_cast<std::uint32_t>(pages));
  for (std::uint8_t v : {a, r, g, b, gray, compression}) out.push_back(v);
  out.push_back(0);
  out.push_back(0);
  return out;
}

void Load(const Bytes& file, TBitmap32& b, std::int32_t page = 0, std::int32_t w = 0,
          std::int32_t h = 0) {
  TMemoryStream s;
  test::StreamFromBytes(s, file);
  THckImage hck;
  hck.LoadFromStream(&s, &b, page, w, h);
}

Bytes Save(TBitmap32& b) {
  TMemoryStream s;
  THckImage hck;
  hck.SaveToStream(&s, &b);
  return test::StreamBytes(s);
}

TEST(HckCoders, ExamplesOfTheFormat) {
  EXPECT_EQ(Rle({5, 5, 5, 5}), (Bytes{0xFD, 5}));
  EXPECT_EQ(Rle({1, 2}), (Bytes{2, 1, 2}));
  EXPECT_EQ(Rle({}), (Bytes{0}));
  // A run of 128 leaves no single byte: 126 + 2.
  EXPECT_EQ(Rle(Bytes(128, 9)), (Bytes{static_cast<std::uint8_t>(1 - 126), 9, 0xFF, 9}));

  Bytes planes = {1, 2, 3, 10, 20, 30, 100, 200, 255, 7, 8};
  ASSERT_EQ(PlanesToPixels(planes.data(), planes.data(), planes.size(), 3), kCoderOk);  // in place
  EXPECT_EQ(planes, (Bytes{1, 10, 100, 2, 20, 200, 3, 30, 255, 7, 8}));
}

TEST(HckCoders, MatchTheIndependentModel) {
  std::mt19937 rng(3);
  std::vector<Bytes> inputs = {{}, {7}, {1, 2}, {5, 5, 5}, {5, 5, 5, 5}, {0, 0, 1, 1, 1, 1, 2},
                               Bytes(128, 9), Bytes(1000, 42)};
  for (int k = 0; k < 6; ++k) {
    // Planes with runs, slow ramps and noise of every rank class.
    Bytes b(200 + rng() % 3000);
    int mode = k % 3;
    for (std::size_t i = 0; i < b.size(); ++i)
      b[i] = static_cast<std::uint8_t>(mode == 0   ? rng() % 256
                                       : mode == 1 ? (i / 37) % 5
                                                   : (i < b.size() / 2 ? 200 : rng() % 40));
    inputs.push_back(b);
  }
  for (const Bytes& in : inputs) {
    EXPECT_EQ(Rle(in), Model(in, "--rle")) << in.size();
    EXPECT_EQ(Rank(in), Model(in, "--rank")) << in.size();
    // The whole chain, as THckImage writes it.
    TBitmap32 bm;
    if (in.size() % 4 != 0 || in.empty()) continue;
    bm.SetSize(static_cast<std::int32_t>(in.size() / 4), 1);
    const std::size_t n = in.size() / 4;
    for (std::size_t i = 0; i < n; ++i)
      bm.Bits()[i] = TColor32{in[i]} << 24 | TColor32{in[n + i]} << 16 | TColor32{in[2 * n + i]} << 8 |
                     in[3 * n + i];
    const Bytes file = Save(bm);
    EXPECT_EQ(Bytes(file.begin() + 24, file.end()), Model(in)) << in.size();
  }
}

TEST(HckCoders, DecodersRespectCapacityAndDamage) {
  std::mt19937 rng(5);
  Bytes in(5000);
  for (auto& v : in) v = static_cast<std::uint8_t>(rng() % 50);
  const Bytes rle = Rle(in);
  const Bytes rank = Rank(in);
  Bytes out(in.size());
  std::size_t n = 0;
  ASSERT_EQ(RleDecode(rle.data(), rle.size(), out.data(), out.size(), n), kCoderOk);
  EXPECT_EQ(out, in);
  ASSERT_EQ(RankDecode(rank.data(), rank.size(), out.data(), out.size(), n), kCoderOk);
  EXPECT_EQ(out, in);
  EXPECT_EQ(RleDecode(rle.data(), rle.size(), out.data(), out.size() - 1, n), kCoderFailed);
  EXPECT_EQ(RankDecode(rank.data(), rank.size(), out.data(), out.size() - 1, n), kCoderFailed);
  // Cut streams, a bad offset, an index beyond the table.
  EXPECT_FALSE(RleDecode(rle.data(), rle.size() - 1, out.data(), out.size(), n) == kCoderOk &&
               n == in.size());
  EXPECT_EQ(RankDecode(rank.data(), rank.size() - 10, out.data(), out.size(), n), kCoderFailed);
  Bytes bad = rank;
  bad[4] = 0xFF, bad[5] = 0xFF;
  EXPECT_EQ(RankDecode(bad.data(), bad.size(), out.data(), out.size(), n), kCoderFailed);
  bad = rank;
  bad[12] = 0;  // G below the ranks in use
  EXPECT_EQ(RankDecode(bad.data(), bad.size(), out.data(), out.size(), n), kCoderFailed);
  // Runs only: the run blocks' own capacity check must hold, into a buffer
  // exactly one byte short.
  const Bytes runs(300, 7);
  const Bytes packedRuns = Rle(runs);
  ASSERT_LT(packedRuns.size(), 10u);
  Bytes shortOut(runs.size() - 1);
  EXPECT_EQ(RleDecode(packedRuns.data(), packedRuns.size(), shortOut.data(), shortOut.size(), n), kCoderFailed);
  Bytes fullOut(runs.size());
  ASSERT_EQ(RleDecode(packedRuns.data(), packedRuns.size(), fullOut.data(), fullOut.size(), n), kCoderOk);
  EXPECT_EQ(fullOut, runs);
  EXPECT_EQ(DeltaEncode(nullptr, 1, out.data()), kCoderNoSource);
  EXPECT_EQ(DeltaDecode(in.data(), 1, nullptr), kCoderNoTarget);
  EXPECT_EQ(PlanesToPixels(in.data(), out.data(), 8, 9), kCoderBadPlanes);
}

// The work buffers once overflowed on a 2x1 picture: every small size and
// noise must round-trip under the sanitizers.
TEST(HckImage, LayoutAndRoundTripsOfEverySmallSize) {
  TBitmap32 two;
  EXPECT_EQ(Save(two), Header(0, 0, 1, 8, 8, 8, 8, 0, 1));
  two.SetSize(2, 1);
  two.SetPixel(0, 0, 0x80FF2010u);
  two.SetPixel(1, 0, 0x00ABCDEFu);
  const Bytes file = Save(two);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 24), Header(2, 1, 1, 8, 8, 8, 8, 0, 1));
  EXPECT_EQ(file[24], 8);
  EXPECT_EQ(file.size(), 32u + (file[28] | file[29] << 8 | file[30] << 16 | file[31] << 24));

  std::mt19937 rng(11);
  for (std::int32_t h = 1; h <= 9; ++h)
    for (std::int32_t w = 1; w <= 9; ++w) {
      TBitmap32 b;
      b.SetSize(w, h);
      for (std::int32_t i = 0; i < w * h; ++i) b.Bits()[i] = rng();
      TBitmap32 out;
      Load(Save(b), out);
      ASSERT_TRUE(out.Equal(b)) << w << "x" << h;
    }
  TBitmap32 big;
  big.SetSize(257, 131);
  for (std::int32_t i = 0; i < 257 * 131; ++i)
    big.Bits()[i] = (i % 3 == 0) ? static_cast<TColor32>(rng()) : 0xFF336699u;
  TBitmap32 out;
  Load(Save(big), out);
  EXPECT_TRUE(out.Equal(big));
  // A larger picture shrinks to the requested size.
  big.SetSize(40, 20);
  big.Clear(0xFF00FF00u);
  Load(Save(big), out, 0, 10, 10);
  EXPECT_EQ(out.Width(), 10);
  EXPECT_EQ(out.Height(), 5);
  EXPECT_EQ(out.GetPixel(4, 2), 0xFF00FF00u);
}

// Hand-made files: a 1-bit alpha plane, a grey plane, a second page found
// by skipping the first by its length; an empty picture leaves the bitmap.
TEST(HckImage, ReadsOtherPlanesAndPages) {
  Bytes file = Header(5, 2, 1, 1, 0, 0, 0, 0, 0);
  for (std::uint8_t v : {0b10110011, 0b10111111}) file.push_back(v);  // 1011001110, then unused
  file.resize(file.size() + 8);  // raw size is 10 x ceil(1 / 8) bytes
  TBitmap32 b;
  Load(file, b);
  const char* expect = "1011001110";
  for (int i = 0; i < 10; ++i) EXPECT_EQ(b.Bits()[i], expect[i] == '1' ? 0xFF000000u : 0u) << i;

  Bytes gray = Header(3, 1, 1, 0, 0, 0, 0, 8, 0);
  for (std::uint8_t v : {0, 77, 255}) gray.push_back(v);
  Load(gray, b);
  EXPECT_EQ(b.GetPixel(0, 0), 0xFF000000u);
  EXPECT_EQ(b.GetPixel(1, 0), 0xFF4D4D4Du);
  EXPECT_EQ(b.GetPixel(2, 0), 0xFFFFFFFFu);

  Bytes pages = Header(2, 1, 2, 8, 0, 0, 0, 0, 0);
  for (std::uint8_t v : {2, 0, 0, 0, 11, 22, 2, 0, 0, 0, 33, 44}) pages.push_back(v);
  Load(pages, b, 1);
  EXPECT_EQ(b.GetPixel(0, 0), 0x21000000u);
  EXPECT_EQ(b.GetPixel(1, 0), 0x2C000000u);

  b.Clear(0x12345678u);
  Load(Header(0, 0, 1, 8, 8, 8, 8, 0, 1), b);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.GetPixel(1, 0), 0x12345678u);
}

TEST(HckImage, DamagedFilesRaiseTheirErrors) {
  TBitmap32 b;
  b.SetSize(4, 4);
  b.Clear(0xFF102030u);
  const Bytes good = Save(b);
  struct Case {
    std::size_t at;
    std::uint8_t value;
    const char* error;
  } cases[] = {{21, 2, "No suitable codec found"},
               {24, 9, "Unable to decompress"},  // raw size
               {17, 4, "Unsupported bitdepth"}};
  TBitmap32 out;
  for (const Case& c : cases) {
    Bytes bad = good;
    bad[c.at] = c.value;
    EXPECT_EQ(RasterErrorText([&] { Load(bad, out); }), c.error) << c.at;
  }
  EXPECT_EQ(RasterErrorText([&] { Load(Bytes(good.begin(), good.end() - 3), out); }), "Unable to decompress");
  Bytes huge = Header(0x7FFFFFFF, 0x7FFFFFFF, 1, 8, 8, 8, 8, 0, 0);
  EXPECT_EQ(RasterErrorText([&] { Load(huge, out); }), "Image file is corrupted");
  Bytes raw = Header(100, 100, 1, 8, 0, 0, 0, 0, 0);
  raw.resize(raw.size() + 50);
  EXPECT_EQ(RasterErrorText([&] { Load(raw, out); }), "Image file is corrupted");
  Bytes pages = Header(1, 1, 3, 8, 0, 0, 0, 0, 0);
  EXPECT_EQ(RasterErrorText([&] { Load(pages, out, 3); }), "Requested non-existing page");
  EXPECT_EQ(RasterErrorText([&] { THckImage().SaveToStream(nullptr, &b); }),
            "Stream to read/write is unassigned");
}

TEST(HckImage, CanLoadChecksTheHeaderAndKeepsThePosition) {
  TBitmap32 b;
  b.SetSize(3, 3);
  TMemoryStream bmp;
  TdtpBmpFormat().SaveToStream(&bmp, &b);
  bmp.Seek(5, soBeginning);
  EXPECT_FALSE(THckImage::CanLoad(&bmp));
  EXPECT_EQ(bmp.Position(), 5);
  EXPECT_FALSE(THckImage::CanLoad(nullptr));
  TMemoryStream hck;
  test::StreamFromBytes(hck, Save(b));
  EXPECT_TRUE(THckImage::CanLoad(&hck));
  EXPECT_EQ(hck.Position(), 0);
}

}  // namespace
}  // namespace kdl

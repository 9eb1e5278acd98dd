#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "document/effects/CombineMaps.h"
#include "platform/CpuFeatures.h"
#include "raster/ByteMap.h"

namespace kdl {
namespace {

void Fill(TByteMap& m, std::int32_t w, std::int32_t h, std::uint8_t v) {
  m.SetSize(w, h);
  m.Clear(v);
}

std::uint8_t Combined(std::uint8_t a, std::uint8_t b, std::uint8_t op) {
  TByteMap ma, mb, out;
  Fill(ma, 1, 1, a);
  Fill(mb, 1, 1, b);
  CombineByteMaps(&ma, &mb, &out, op);
  return out.Value(0, 0);
}

TEST(CombineByteMaps, KnownValues) {
  EXPECT_EQ(Combined(128, 128, 0), 64);
  EXPECT_EQ(Combined(200, 255, 0), 200);
  EXPECT_EQ(Combined(200, 0, 0), 0);
  EXPECT_EQ(Combined(200, 100, 1), 255);
  EXPECT_EQ(Combined(100, 200, 2), 0);
  EXPECT_EQ(Combined(10, 77, 3), 77);
  EXPECT_EQ(Combined(10, 77, 4), 77);
  EXPECT_EQ(Combined(10, 77, 5), 10);
  EXPECT_EQ(Combined(10, 77, 6), 67);
  EXPECT_EQ(Combined(128, 128, 7), 192);
  for (int b = 0; b < 256; b += 51) EXPECT_EQ(Combined(0, static_cast<std::uint8_t>(b), 7), b);
  // An operation from a broken file keeps the alpha.
  EXPECT_EQ(Combined(33, 200, 8), 33);
  EXPECT_EQ(Combined(33, 200, 255), 33);
}

TEST(CombineByteMaps, MessagesAndSizes) {
  TByteMap a, b, c, out;
  Fill(a, 3, 2, 1);
  Fill(b, 3, 2, 2);
  Fill(c, 2, 3, 2);
  auto message = [](const std::function<void()>& f) { return test::ErrorOf(f); };
  EXPECT_EQ(message([&] { CombineByteMaps(nullptr, &b, &out, 0); }), "Maps must be assigned");
  EXPECT_EQ(message([&] { CombineByteMaps(&a, nullptr, &out, 0); }), "Maps must be assigned");
  EXPECT_EQ(message([&] { CombineByteMaps(&a, &b, nullptr, 0); }), "Maps must be assigned");
  EXPECT_EQ(message([&] { CombineByteMaps(&a, &c, &out, 0); }), "Maps must be equal size");

  // Out takes A's size; empty maps give an empty result.
  CombineByteMaps(&a, &b, &out, 1);
  EXPECT_EQ(out.Width(), 3);
  EXPECT_EQ(out.Height(), 2);
  EXPECT_EQ(out.Value(2, 1), 3);
  TByteMap e1, e2;
  CombineByteMaps(&e1, &e2, &out, 0);
  EXPECT_TRUE(out.Empty());
}

void RowKernelAtActiveLevel() {
  constexpr std::size_t kPairs = 65536;
  std::vector<std::uint8_t> a(kPairs + 64), b(kPairs + 64), out(kPairs + 64);
  for (std::size_t i = 0; i < kPairs; ++i) {
    a[i] = static_cast<std::uint8_t>(i >> 8);
    b[i] = static_cast<std::uint8_t>(i);
  }
  for (int op = 0; op <= 9; ++op) {
    const auto o = static_cast<std::uint8_t>(op);
    std::vector<std::uint8_t> want(kPairs);
    for (std::size_t i = 0; i < kPairs; ++i) want[i] = CombineBytes(a[i], b[i], o);
    CombineByteRows(a.data(), b.data(), out.data(), kPairs, o);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin())) << "operation " << op;

    std::vector<std::uint8_t> inPlace(a.begin(), a.begin() + kPairs);
    CombineByteRows(inPlace.data(), b.data(), inPlace.data(), kPairs, o);
    EXPECT_EQ(inPlace, want) << "operation " << op << " in place";

    for (std::size_t shift = 1; shift < 40; shift += 7) {
      std::vector<std::uint8_t> sa(a.begin(), a.begin() + kPairs), sb(b.begin(), b.begin() + kPairs);
      std::vector<std::uint8_t> dst(kPairs + shift, 0xAA);
      const std::size_t n = kPairs - 2 * shift - 3;
      CombineByteRows(sa.data() + shift, sb.data() + shift, dst.data() + shift, static_cast<std::int64_t>(n), o);
      for (std::size_t i = 0; i < n; ++i)
        if (dst[shift + i] != want[shift + i]) {
          ADD_FAILURE() << "operation " << op << " offset " << shift << " at " << i;
          break;
        }
      EXPECT_EQ(dst[shift - 1], 0xAA);
      EXPECT_EQ(dst[shift + n], 0xAA);
    }
  }
}

// Every pair of every operation, through the row kernel of every vector
// level in place and apart and at several alignments of the vector body
// and tail, against the byte formula.
TEST(CombineByteMaps, RowKernelMatchesTheFormulaForAllPairs) {
  const TSimdLevel before = ActiveSimdLevel();
  for (TSimdLevel level : SupportedSimdLevels()) {
    ASSERT_EQ(ForceSimdLevel(level), level);
    SCOPED_TRACE(SimdLevelName(level));
    RowKernelAtActiveLevel();
  }
  ForceSimdLevel(before);
}

}  // namespace
}  // namespace kdl

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "document/resources/MapStream.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

std::vector<unsigned char> Contents(TStream& s) {
  std::vector<unsigned char> out(static_cast<std::size_t>(s.Size()));
  const std::int64_t at = s.Position();
  s.SetPosition(0);
  if (!out.empty()) s.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
  s.SetPosition(at);
  return out;
}

// Random writes, reads, seeks and size changes on a map stream and on a
// memory stream must give the same bytes; small blocks put almost every
// operation across block boundaries, shrinking and growing again must read
// zeros where nothing was written.
void RunModel(std::int64_t blockSize, std::uint32_t seed, int steps, std::int64_t span) {
  TMapStream map(blockSize);
  TMemoryStream model;
  std::mt19937 rng(seed);
  std::vector<unsigned char> buffer;
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE(step);
    const int op = static_cast<int>(rng() % 5);
    const std::int64_t n = static_cast<std::int64_t>(rng() % static_cast<std::uint32_t>(3 * blockSize + 2));
    switch (op) {
      case 0: {  // write
        buffer.resize(static_cast<std::size_t>(n));
        for (auto& b : buffer) b = static_cast<unsigned char>(rng());
        ASSERT_EQ(map.Write(buffer.data(), n), model.Write(buffer.data(), n));
        break;
      }
      case 1: {  // read
        std::vector<unsigned char> a(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n));
        const std::int64_t got = map.Read(a.data(), n);
        ASSERT_EQ(got, model.Read(b.data(), n));
        if (got > 0) {
          ASSERT_EQ(0, std::memcmp(a.data(), b.data(), static_cast<std::size_t>(got)));
        }
        break;
      }
      case 2: {  // seek from any origin; beyond the end the map stream grows
        const auto origin = static_cast<TSeekOrigin>(rng() % 3);
        const std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? map.Position() : map.Size();
        const std::int64_t offset = static_cast<std::int64_t>(rng() % static_cast<std::uint32_t>(span)) - base;
        const std::int64_t target = base + offset;
        if (target > model.Size()) model.SetSize(target);
        ASSERT_EQ(map.Seek(offset, origin), model.Seek(target, soBeginning));
        break;
      }
      default: {  // size change
        const std::int64_t size = static_cast<std::int64_t>(rng() % static_cast<std::uint32_t>(span));
        map.SetSize(size);
        model.SetSize(size);
        break;
      }
    }
    ASSERT_EQ(map.Size(), model.Size());
    ASSERT_EQ(map.Position(), model.Position());
  }
  EXPECT_EQ(Contents(map), Contents(model));
}

TEST(MapStream, BehavesAsAMemoryStreamAcrossBlockBoundaries) {
  RunModel(7, 1, 3000, 200);
  RunModel(4096, 2, 2000, 40000);
  RunModel(kMapStreamBlockSize, 3, 300, 600000);
}

TEST(MapStream, EdgesOfTheStream) {
  EXPECT_EQ(test::ErrorOf([] { TMapStream s(0); }), "Memory map page size is zero");
  TMapStream s(16);
  char c = 0;
  EXPECT_EQ(s.Read(&c, 1), 0);
  EXPECT_EQ(s.Seek(40, soBeginning), 40);  // grows
  EXPECT_EQ(s.Size(), 40);
  EXPECT_EQ(s.Read(&c, 1), 0);  // at the end
  s.SetPosition(39);
  EXPECT_EQ(s.Read(&c, 1), 1);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(test::ErrorOf([&] { s.Seek(-1, soBeginning); }), "Invalid stream position");
  EXPECT_EQ(test::ErrorOf([&] { s.SetSize(-1); }), "Invalid stream size");
}

TEST(MapStream, MappingsGrowGeometrically) {
  // 64 MiB written 64 KiB at a time: about log2(1024) runs, not 1024.
  TMapStream s;
  std::vector<unsigned char> block(static_cast<std::size_t>(kMapStreamBlockSize), 0x5A);
  for (int i = 0; i < 1024; ++i) s.WriteBuffer(block.data(), kMapStreamBlockSize);
  EXPECT_LE(s.RunCount(), 12u);
  s.SetSize(kMapStreamBlockSize + 1);
  EXPECT_LE(s.RunCount(), 2u);
  s.SetSize(0);
  EXPECT_EQ(s.RunCount(), 0u);
  // A failed mapping raises with the system's message and keeps the stream.
  const std::string error = test::ErrorOf([&] { s.SetSize(std::int64_t{1} << 62); });
  EXPECT_NE(error.find("Cannot map stream memory"), std::string::npos) << error;
  EXPECT_EQ(s.Size(), 0);
}

// A run given back by one stream serves the next of about its size: every
// byte that stream was not given must read as zero, whatever the stream
// before it held, and two streams alive at once never share bytes.
TEST(MapStream, RunsGivenBackComeBackCleared) {
  std::mt19937 rng(7);
  auto randomBytes = [&](std::size_t n) {
    std::vector<unsigned char> out(n);
    for (auto& b : out) b = static_cast<unsigned char>(rng() | 1);  // never zero
    return out;
  };
  for (const std::int64_t blockSize : {std::int64_t{3000}, std::int64_t{4096}, kMapStreamBlockSize}) {
    SCOPED_TRACE(blockSize);
    const std::int64_t size = 40 * blockSize + 123;
    // Filled whole, then gone: its run is kept dirty.
    {
      TMapStream full(blockSize);
      const auto bytes = randomBytes(static_cast<std::size_t>(size));
      full.WriteBuffer(bytes.data(), size);
    }
    // Grown by a seek, written in the middle only.
    TMapStream sparse(blockSize);
    const auto middle = randomBytes(static_cast<std::size_t>(blockSize));
    sparse.Seek(size - 1, soBeginning);
    sparse.SetPosition(5 * blockSize - 17);
    sparse.WriteBuffer(middle.data(), blockSize);
    std::vector<unsigned char> expected(static_cast<std::size_t>(size - 1), 0);
    std::memcpy(expected.data() + 5 * blockSize - 17, middle.data(), middle.size());
    EXPECT_EQ(Contents(sparse), expected);

    // Cut short, the runs past the cut go back dirty; a stream made now and
    // grown without writing reads zeros, while the cut one keeps its head.
    sparse.SetSize(5 * blockSize);
    TMapStream grown(blockSize);
    grown.SetSize(size);
    EXPECT_EQ(Contents(grown), std::vector<unsigned char>(static_cast<std::size_t>(size), 0));
    expected.resize(static_cast<std::size_t>(5 * blockSize));
    EXPECT_EQ(Contents(sparse), expected);

    // Both alive: writing one leaves the other as it was.
    const auto other = randomBytes(static_cast<std::size_t>(size));
    grown.SetPosition(0);
    grown.WriteBuffer(other.data(), size);
    EXPECT_EQ(Contents(sparse), expected);
    EXPECT_EQ(Contents(grown), other);
  }
}

}  // namespace
}  // namespace kdl

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "platform/CpuFeatures.h"
#include "platform/CriticalSection.h"
#include "platform/ProgramFolder.h"
#include "platform/TempFiles.h"
#include "platform/TickCount.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

bool AnotherThreadEnters(TCriticalSection& cs) {
  bool entered = false;
  std::thread([&] {
    entered = cs.TryEnter();
    if (entered) cs.Leave();
  }).join();
  return entered;
}

TEST(CriticalSection, ReentrantForOwnerAndExclusiveForOthers) {
  TCriticalSection cs;
  cs.Enter();
  cs.Enter();  // re-entry by the owner must not deadlock
  EXPECT_FALSE(AnotherThreadEnters(cs)) << "a second thread entered a held section";
  cs.Leave();
  EXPECT_FALSE(AnotherThreadEnters(cs)) << "one Leave released a section entered twice";
  cs.Leave();
  EXPECT_TRUE(AnotherThreadEnters(cs));

  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        TCriticalSectionGuard guard(cs);
        TCriticalSectionGuard nested(cs);
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

TEST(TickCount, DrivenSourceCrossesTheThirtyTwoBitWrap) {
  std::uint64_t fake = 0xFFFFFFF0ull;
  SetTickSource([&] { return fake; });
  const std::uint32_t before = GetTickCount();
  fake += 0x20;
  EXPECT_EQ(static_cast<std::uint32_t>(GetTickCount() - before), 0x20u);
  SetTickSource(nullptr);
}

TEST(TempFiles, UniqueAndRemovedByOwnerUnlessReleased) {
  std::set<std::filesystem::path> names;
  std::filesystem::path kept;
  {
    std::vector<std::unique_ptr<TTempFile>> files;
    for (int i = 0; i < 20; ++i) {
      files.push_back(std::make_unique<TTempFile>("kdltest"));
      EXPECT_TRUE(std::filesystem::exists(files.back()->Path()));
      names.insert(files.back()->Path());
    }
    EXPECT_EQ(names.size(), 20u);
    kept = files.front()->Release();
  }
  for (const auto& p : names) EXPECT_EQ(std::filesystem::exists(p), p == kept) << p;
  std::filesystem::remove(kept);
}

TEST(CpuFeatures, ForcedLevelsAreClampedToTheDetectedOne) {
  const auto detected = DetectedSimdLevel();
  EXPECT_EQ(SupportedSimdLevels().back(), detected);
  EXPECT_EQ(ForceSimdLevel(TSimdLevel::slReference), TSimdLevel::slReference);
  EXPECT_EQ(ForceSimdLevel(TSimdLevel::slAVX2), detected);
  TSimdLevel parsed{};
  EXPECT_TRUE(ParseSimdLevel("SSE41", parsed));
  EXPECT_EQ(parsed, TSimdLevel::slSSE41);
  EXPECT_FALSE(ParseSimdLevel("mmx", parsed));
}

TEST(ProgramFolder, BesideTheExecutableInTheBuildTreeElseUnderShare) {
  test::ScratchDir dir;
  const auto bin = dir / "bin";
  std::filesystem::create_directories(bin);
  EXPECT_EQ(ResolveProgramFolder(bin), dir / "share" / "kestrune-disklabel");
  std::filesystem::create_directories(bin / "Languages");
  EXPECT_EQ(ResolveProgramFolder(bin), bin);

  // A test may point the program at a folder of its own.
  const auto before = ProgramFolder();
  SetProgramFolder(dir.Path());
  EXPECT_EQ(ProgramFolder(), dir.Path());
  SetProgramFolder({});
  EXPECT_EQ(ProgramFolder(), before);
}

}  // namespace
}  // namespace kdl

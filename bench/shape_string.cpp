// Writing and reading the shape string of a shape with a 20 MiB archive
// member, beside memcpy of the same bytes and the archive's own write of
// them: both should stay within a few copies of the member.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <cstring>
#include <string>
#include <vector>

#include "FakeDocument.h"
#include "TestShapes.h"
#include "document/Startup.h"

namespace {

constexpr std::size_t kMemberSize = 20u << 20;

struct Fixture {
  Fixture() {
    kdl::InitializeDocumentLibrary();
    kdl::testing::RegisterTestShapes();
    root.SetDocument(&doc);
    auto owned = std::make_unique<kdl::testing::MemberShape>();
    shape = owned.get();
    root.AddShape(std::move(owned));
    std::string bytes(kMemberSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 >> 7);
    shape->Store(bytes);
    doc.SetUndoOn(false);
  }
  kdl::testing::FakeDocument doc;
  kdl::TdtpShape root;
  kdl::testing::MemberShape* shape = nullptr;
};

void BM_SaveToString(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    std::string data = f.shape->SaveToString();
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMemberSize));
}
BENCHMARK(BM_SaveToString)->Unit(benchmark::kMillisecond);

void BM_LoadFromString(benchmark::State& state) {
  Fixture f;
  const std::string data = f.shape->SaveToString();
  auto owned = std::make_unique<kdl::testing::MemberShape>();
  kdl::testing::MemberShape* target = owned.get();
  f.root.AddShape(std::move(owned));
  for (auto _ : state) {
    target->LoadFromString(data);
    // The copy went under a fresh name; drop it so the archive stays small.
    state.PauseTiming();
    f.doc.Storage()->DeleteStream(target->ArchiveName);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMemberSize));
}
BENCHMARK(BM_LoadFromString)->Unit(benchmark::kMillisecond);

// The archive's own cost of taking the member in, the floor of any load.
void BM_StorageWriteMember(benchmark::State& state) {
  kdl::TqxStorage storage;
  kdl::TMemoryStream member;
  member.SetSize(static_cast<std::int64_t>(kMemberSize));
  std::memset(member.Memory(), 'x', kMemberSize);
  for (auto _ : state) {
    storage.WriteStream("TMP0000001.png", member);
    state.PauseTiming();
    storage.DeleteStream("TMP0000001.png");
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMemberSize));
}
BENCHMARK(BM_StorageWriteMember)->Unit(benchmark::kMillisecond);

void BM_MemcpyMember(benchmark::State& state) {
  std::vector<char> from(kMemberSize, 'x'), to(kMemberSize);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kMemberSize);
    benchmark::DoNotOptimize(to.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMemberSize));
}
BENCHMARK(BM_MemcpyMember)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

// Saving and loading an archive of 100 members of 100 KB plus one of 20 MB,
// beside plain write/pread of the same bytes (the limit). Both sides of the
// save flush to the device and rename, as every save does. The load target is
// within 1.5x of BM_PlainPread. Then writing 800 and 8,000 members beside one
// stream of the same total size, and reading 10k and 100k members by name.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/Storage.h"
#include "platform/TempFiles.h"

namespace {

namespace fs = std::filesystem;

struct Corpus {
  std::vector<std::string> names;
  std::vector<std::vector<char>> bodies;
  std::int64_t total = 0;
  fs::path dir;

  Corpus() {
    dir = kdl::TempDirectory() / ("kdlbench_storage" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (int i = 0; i <= 100; ++i) {
      const std::size_t size = i < 100 ? 100 * 1024 : 20 * 1024 * 1024;
      std::vector<char> body(size);
      unsigned x = 2463534242u + static_cast<unsigned>(i);
      for (auto& c : body) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
      }
      names.push_back(i < 100 ? "Page" + std::to_string(i) + ".xml" : "Image.png");
      total += static_cast<std::int64_t>(size);
      bodies.push_back(std::move(body));
    }
  }
  ~Corpus() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Corpus& Data() {
  static Corpus corpus;
  return corpus;
}

// The members' bytes back to back in one file, written once.
fs::path PlainFile() {
  auto& data = Data();
  const auto path = data.dir / "pread.bin";
  if (!fs::exists(path)) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    for (const auto& body : data.bodies) std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
  }
  return path;
}

void BM_StorageSave(benchmark::State& state) {
  auto& data = Data();
  kdl::TqxStorage storage;  // the 20 MB member moves the working copy to a temporary file
  for (std::size_t i = 0; i < data.names.size(); ++i) {
    kdl::TMemoryStream s;
    s.WriteBuffer(data.bodies[i].data(), static_cast<std::int64_t>(data.bodies[i].size()));
    storage.WriteStream(data.names[i], s);
  }
  for (auto _ : state) storage.SaveToFile(data.dir / "archive.stor");
  state.SetBytesProcessed(state.iterations() * data.total);
}
BENCHMARK(BM_StorageSave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainWrite(benchmark::State& state) {
  auto& data = Data();
  const auto temp = data.dir / "plain.tmp";
  const auto target = data.dir / "plain.bin";
  for (auto _ : state) {
    const int fd = ::open(temp.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    for (const auto& body : data.bodies)
      if (::write(fd, body.data(), body.size()) != static_cast<ssize_t>(body.size())) state.SkipWithError("write");
    ::fsync(fd);
    ::close(fd);
    ::rename(temp.c_str(), target.c_str());
  }
  state.SetBytesProcessed(state.iterations() * data.total);
}
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

// The archive the load benchmarks read, saved once by the storage itself:
// how the save wrote it shapes the page cache the loads read from.
fs::path ArchiveFile() {
  auto& data = Data();
  const auto path = data.dir / "load.stor";
  if (!fs::exists(path)) {
    kdl::TqxStorage storage;
    for (std::size_t i = 0; i < data.names.size(); ++i) {
      kdl::TMemoryStream s;
      s.WriteBuffer(data.bodies[i].data(), static_cast<std::int64_t>(data.bodies[i].size()));
      storage.WriteStream(data.names[i], s);
    }
    storage.SaveToFile(path);
  }
  return path;
}

void BM_StorageLoad(benchmark::State& state) {
  auto& data = Data();
  const auto path = ArchiveFile();
  for (auto _ : state) {
    kdl::TqxStorage storage;
    storage.LoadFromFile(path);
    for (const auto& name : data.names) {
      kdl::TMemoryStream s;
      storage.ReadStream(name, s);
      benchmark::DoNotOptimize(s.Memory());
    }
  }
  state.SetBytesProcessed(state.iterations() * data.total);
}
BENCHMARK(BM_StorageLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// Plain pread of the members' ranges in the saved archive itself: the load's
// own limit, apart from the storage's code.
void BM_ArchivePread(benchmark::State& state) {
  auto& data = Data();
  const auto path = ArchiveFile();
  std::vector<std::pair<off_t, std::size_t>> members;
  {
    kdl::TqxStorage storage;
    storage.LoadFromFile(path);
    for (const auto& item : storage.Items())
      members.emplace_back(static_cast<off_t>(item.Offset), static_cast<std::size_t>(item.Size));
  }
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    for (const auto& [offset, size] : members) {
      std::unique_ptr<char[]> block(new char[size]);
      if (::pread(fd, block.get(), size, offset) != static_cast<ssize_t>(size)) state.SkipWithError("pread");
      benchmark::DoNotOptimize(block.get());
    }
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * data.total);
}
BENCHMARK(BM_ArchivePread)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reads every body from the plain file with pread into a fresh block;
// zeroFirst clears each block first, as every memory stream's growth is (no
// stale heap bytes): the part of the gap that policy costs.
void PlainPread(benchmark::State& state, bool zeroFirst) {
  auto& data = Data();
  const auto path = PlainFile();
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    off_t offset = 0;
    for (const auto& body : data.bodies) {
      std::unique_ptr<char[]> block(new char[body.size()]);
      if (zeroFirst) {
        std::memset(block.get(), 0, body.size());
        benchmark::ClobberMemory();
      }
      if (::pread(fd, block.get(), body.size(), offset) != static_cast<ssize_t>(body.size()))
        state.SkipWithError("pread");
      offset += static_cast<off_t>(body.size());
      benchmark::DoNotOptimize(block.get());
    }
    ::close(fd);
  }
  state.SetBytesProcessed(state.iterations() * data.total);
}

void BM_PlainPread(benchmark::State& state) { PlainPread(state, false); }
BENCHMARK(BM_PlainPread)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainPreadZeroed(benchmark::State& state) { PlainPread(state, true); }
BENCHMARK(BM_PlainPreadZeroed)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Writing many members ------------------------------------------------------
// n members of 2 KiB (an icon) or 16 KiB (a small picture) written one by one
// into a working copy in memory, as a pasted shape string or clipboard text
// with many pictures writes them; beside it the same bytes written as one
// stream (the linear yardstick).
// Target: the ratio within 3x, and the same at 800 as at 8,000 members.

struct ManyMembers {
  std::vector<std::string> names;
  std::vector<std::unique_ptr<kdl::TMemoryStream>> bodies;
  kdl::TMemoryStream whole;
  ManyMembers(int n, std::size_t memberSize) {
    std::vector<char> body(memberSize);
    unsigned x = 88172645u;
    for (int i = 0; i < n; ++i) {
      for (auto& c : body) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
      }
      std::string number = std::to_string(i);
      names.push_back("TMP" + std::string(7 - number.size(), '0') + number + ".png");
      auto stream = std::make_unique<kdl::TMemoryStream>();
      stream->WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
      whole.WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
      bodies.push_back(std::move(stream));
    }
  }
};

ManyMembers& Many(const benchmark::State& state) {
  static std::map<std::pair<std::int64_t, std::int64_t>, std::unique_ptr<ManyMembers>> sets;
  auto& m = sets[{state.range(0), state.range(1)}];
  if (!m) m = std::make_unique<ManyMembers>(static_cast<int>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  return *m;
}

void BM_WriteMembers(benchmark::State& state) {
  auto& many = Many(state);
  for (auto _ : state) {
    kdl::TqxStorage storage;
    storage.SetMemoryCache(std::numeric_limits<std::int32_t>::max());
    for (std::size_t i = 0; i < many.names.size(); ++i) storage.WriteStream(many.names[i], *many.bodies[i]);
    benchmark::DoNotOptimize(storage.Items().data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_WriteMembers)->ArgNames({"n", "size"})->ArgsProduct({{800, 8000}, {2048, 16384}})
    ->Unit(benchmark::kMillisecond);

void BM_WriteOneStream(benchmark::State& state) {
  auto& many = Many(state);
  for (auto _ : state) {
    kdl::TqxStorage storage;
    storage.SetMemoryCache(std::numeric_limits<std::int32_t>::max());
    storage.WriteStream("Whole.bin", many.whole);
    benchmark::DoNotOptimize(storage.Items().data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_WriteOneStream)->ArgNames({"n", "size"})->ArgsProduct({{800, 8000}, {2048, 16384}})
    ->Unit(benchmark::kMillisecond);

// ---- Reading every member by name ------------------------------------------------
// An archive of n small members, in memory, read member by member by name as
// the document loader does; beside it the same look-ups and copies through a
// std::unordered_map. Both must grow linearly with n (10k against 100k).

struct NamedArchive {
  std::vector<std::string> names;
  kdl::TqxStorage storage;
  std::unordered_map<std::string, std::string> peer;
  explicit NamedArchive(int n) {
    kdl::TMemoryStream packed;
    {
      // Written into a working copy one by one would cost n directory
      // rewrites; the packed bytes are made directly instead.
      std::string directory, data;
      auto le = [](std::string& out, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
      };
      for (int i = 0; i < n; ++i) names.push_back("Page" + std::to_string(i) + ".xml");
      std::int64_t dirSize = 4;
      for (const auto& name : names) dirSize += kdl::kStorageEntryFixedSize + static_cast<std::int64_t>(name.size());
      std::int64_t at = kdl::kStorageHeaderSize + dirSize;
      le(directory, static_cast<std::uint64_t>(n), 4);
      for (const auto& name : names) {
        const std::string content = "<page n=\"" + name + "\"/>";
        le(directory, static_cast<std::uint64_t>(at), 8);
        le(directory, content.size(), 8);
        le(directory, name.size(), 4);
        directory += name;
        data += content;
        at += static_cast<std::int64_t>(content.size());
        peer.emplace(name, content);
      }
      std::string file(kdl::kStorageSignature, 4);
      file.push_back(static_cast<char>(kdl::kStorageVersion));
      file.push_back(0);
      le(file, static_cast<std::uint64_t>(kdl::kStorageHeaderSize), 8);
      file += directory + data;
      packed.WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
    }
    storage.LoadFromStream(packed);
  }
};

NamedArchive& Named(int n) {
  static std::unordered_map<int, std::unique_ptr<NamedArchive>> archives;
  auto& a = archives[n];
  if (!a) a = std::make_unique<NamedArchive>(n);
  return *a;
}

void BM_MembersByName_Storage(benchmark::State& state) {
  auto& archive = Named(static_cast<int>(state.range(0)));
  kdl::TMemoryStream s;
  for (auto _ : state)
    for (const auto& name : archive.names) {
      archive.storage.ReadStream(name, s);
      benchmark::DoNotOptimize(s.Memory());
    }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_MembersByName_Storage)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_MembersByName_HashMap(benchmark::State& state) {
  auto& archive = Named(static_cast<int>(state.range(0)));
  std::string s;
  for (auto _ : state)
    for (const auto& name : archive.names) {
      s = archive.peer.find(name)->second;
      benchmark::DoNotOptimize(s.data());
    }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_MembersByName_HashMap)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

// Random sequences of storage operations checked against a std::map, in both
// modes, with memory caches small enough to force the temporary file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <future>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/StreamText.h"
#include "foundation/Storage.h"
#include "support/StorageReader.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using Model = std::map<std::string, std::string>;  // lower-case name -> bytes

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class StorageModel {
 public:
  StorageModel(unsigned seed, bool autoSave) : rng_(seed), autoSave_(autoSave) {
    if (autoSave_) {
      storage_.SetAutoSave(true);
      storage_.SetFileName(dir_ / "auto.stor");
    }
  }

  void Run(int steps) {
    for (step_ = 0; step_ < steps && !::testing::Test::HasFatalFailure(); ++step_) {
      const int op = Pick(100);
      if (op < 35) Write();
      else if (op < 45) Delete();
      else if (op < 55) Rename();
      else if (op < 70) Read();
      else if (op < 80) Save();
      else if (op < 88) Load();
      else if (op < 91) storage_.DetachSource();  // the model does not change
      else SetCache();
      Check();
    }
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string Name() {
    static const char* const kNames[] = {"Index.xml", "Page0001.xml", "Page0002.xml", "Fonts.dat",
                                         "TMP0000001.png", "a", "Thumb0001.png",
                                         "a-rather-long-member-name-that-grows-the-directory.bin"};
    std::string name = kNames[Pick(8)];
    for (auto& c : name)
      if (Pick(4) == 0) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
  }

  std::string Bytes() {
    const int kind = Pick(10);
    const int size = kind == 0 ? 0 : kind < 6 ? Pick(200) : kind < 9 ? Pick(3000) : 20000 + Pick(20000);
    std::string s(static_cast<std::size_t>(size), '\0');
    const char seed = static_cast<char>(Pick(256));
    for (int i = 0; i < size; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(seed + i * 7 + (i >> 8));
    return s;
  }

  void Write() {
    const std::string name = Name();
    const std::string bytes = Bytes();
    TMemoryStream s;
    storage_.WriteStream(name, test::Fill(s, bytes));
    model_[Lower(name)] = bytes;
  }

  void Delete() {
    const std::string name = Name();
    storage_.DeleteStream(name);
    model_.erase(Lower(name));
  }

  void Rename() {
    const std::string from = Name();
    const std::string to = Name();
    storage_.RenameStream(from, to);
    const auto it = model_.find(Lower(from));
    if (it == model_.end() || Lower(from) == Lower(to)) return;
    std::string bytes = it->second;
    model_.erase(it);
    model_[Lower(to)] = bytes;
  }

  void Read() {
    const std::string name = Name();
    const auto it = model_.find(Lower(name));
    TMemoryStream s;
    if (it == model_.end()) {
      EXPECT_THROW(storage_.ReadStream(name, s), Exception) << Where();
      return;
    }
    storage_.ReadStream(name, s);
    EXPECT_EQ(test::Text(s), it->second) << Where();
  }

  void Save() {
    if (autoSave_) {
      // Saving onto the auto-save file itself does nothing; a copy elsewhere
      // must load as the model.
      storage_.SaveToFile(dir_ / "auto.stor");
      storage_.SaveToFile(dir_ / "copy.stor");
      TqxStorage copy;
      copy.LoadFromFile(dir_ / "copy.stor");
      ExpectEqual(copy, "saved copy");
      return;
    }
    fs::path target = dir_ / (Pick(2) ? "one.stor" : "two.stor");
    if (!storage_.FileName().empty() && Pick(2)) target = storage_.FileName();  // onto the source
    storage_.SaveToFile(target);
    saved_[target] = model_;
  }

  void Load() {
    if (autoSave_) {
      storage_.OpenAutoSave(dir_ / "auto.stor");
      return;
    }
    if (saved_.empty() || Pick(3) == 0) {
      // Through a stream: the whole archive becomes the working copy.
      TMemoryStream s;
      storage_.SaveToStream(s);
      storage_.LoadFromStream(s);
      return;
    }
    auto it = saved_.begin();
    std::advance(it, Pick(static_cast<int>(saved_.size())));
    storage_.LoadFromFile(it->first);
    model_ = it->second;
  }

  void SetCache() {
    static const std::int32_t kCaches[] = {0, 1, 300, 5000, 100000, kStorageDefaultMemoryCache};
    storage_.SetMemoryCache(kCaches[Pick(6)]);
  }

  void ExpectEqual(TqxStorage& storage, const char* what) {
    ASSERT_EQ(storage.StreamCount(), static_cast<int>(model_.size())) << what << Where();
    for (const auto& [name, bytes] : model_) {
      TMemoryStream s;
      storage.ReadStream(name, s);
      ASSERT_EQ(test::Text(s), bytes) << what << " " << name << Where();
    }
  }

  void Check() {
    // Working members never overlap one another or the directory.
    std::vector<TqxIndexItem> members;
    for (const auto& item : storage_.Items())
      if (!item.InSource && item.Size > 0) members.push_back(item);
    std::sort(members.begin(), members.end(),
              [](const TqxIndexItem& a, const TqxIndexItem& b) { return a.Offset < b.Offset; });
    std::int64_t end = storage_.DirectorySize() + 6;
    for (const auto& m : members) {
      ASSERT_GE(m.Offset, end) << m.Name << Where();
      end = m.Offset + m.Size;
    }
    ExpectEqual(storage_, "working copy");
  }

  std::string Where() const { return " at step " + std::to_string(step_); }

  std::mt19937 rng_;
  bool autoSave_;
  test::ScratchDir dir_;
  TqxStorage storage_;
  Model model_;
  std::map<fs::path, Model> saved_;
  int step_ = 0;
};

class StorageModelTest : public ::testing::TestWithParam<std::tuple<unsigned, bool>> {};

TEST_P(StorageModelTest, MatchesMap) {
  StorageModel model(std::get<0>(GetParam()), std::get<1>(GetParam()));
  model.Run(400);
}

INSTANTIATE_TEST_SUITE_P(Seeds, StorageModelTest,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u, 4u, 5u, 6u), ::testing::Bool()));

// A working copy in memory is kept in blocks of 64 KiB; one on disk is the
// plain file. The same operations on both, with members that start, end and
// cross block boundaries, must give the same members in the same places and
// byte-identical saved archives, which the independent reader accepts.
class LyingStream : public TStream {
 public:
  // Claims more bytes than it gives: a copy from it ends short.
  explicit LyingStream(std::string bytes) : bytes_(std::move(bytes)) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    const std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(bytes_.size()) - pos_);
    if (n <= 0) return 0;
    std::memcpy(buffer, bytes_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    pos_ = (origin == soBeginning ? 0 : origin == soCurrent ? pos_ : Size()) + offset;
    return pos_;
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()) + 100000; }

 private:
  std::string bytes_;
  std::int64_t pos_ = 0;
};

TEST(StorageBlocks, WorkingCopyInMemoryMatchesTheOneOnDisk) {
  test::ScratchDir dir;
  TqxStorage memory, disk;
  memory.SetMemoryCache(std::numeric_limits<std::int32_t>::max());
  disk.SetAutoSave(true);
  disk.SetFileName(dir / "disk.stor");
  std::map<std::string, std::string> model;
  std::mt19937 rng(64);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  constexpr int kBlock = 65536;
  auto size = [&] {
    static const int kSizes[] = {0, 1, kBlock - 1, kBlock, kBlock + 1, 2 * kBlock - 7, 3000, 40};
    return pick(3) == 0 ? pick(3 * kBlock) : kSizes[pick(8)];
  };
  auto name = [&] { return "m" + std::to_string(pick(14)) + (pick(3) == 0 ? std::string(30, 'x') : ""); };
  auto bytes = [&](int n) {
    std::string s(static_cast<std::size_t>(n), '\0');
    const auto seed = static_cast<unsigned>(pick(1 << 30));
    for (int i = 0; i < n; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((seed + i * 2654435761u) >> 13);
    return s;
  };
  auto same = [&](int step) {
    const auto& a = memory.Items();
    const auto& b = disk.Items();
    ASSERT_EQ(a.size(), b.size()) << "step " << step;
    for (std::size_t i = 0; i < a.size(); ++i) {
      ASSERT_EQ(a[i].Name, b[i].Name) << "step " << step;
      ASSERT_EQ(a[i].Offset, b[i].Offset) << "step " << step << ", " << a[i].Name;
      ASSERT_EQ(a[i].Size, b[i].Size) << "step " << step << ", " << a[i].Name;
    }
  };
  {
    // One member longer than the pieces a save writes at once.
    const std::string b = bytes(5000000);
    TMemoryStream s;
    memory.WriteStream("large", test::Fill(s, b));
    disk.WriteStream("large", test::Fill(s, b));
    model["large"] = b;
  }
  for (int step = 0; step < 400 && !HasFatalFailure(); ++step) {
    const int op = pick(12);
    if (op < 6) {
      const std::string n = name();
      const std::string b = bytes(size());
      TMemoryStream s;
      memory.WriteStream(n, test::Fill(s, b));
      disk.WriteStream(n, test::Fill(s, b));
      model[n] = b;
    } else if (op < 7) {
      // A short source fails the write on both; nothing of it shows later.
      const std::string n = "short" + std::to_string(pick(3));
      LyingStream s(bytes(size()));
      EXPECT_THROW(memory.WriteStream(n, s), EReadError) << "step " << step;
      EXPECT_THROW(disk.WriteStream(n, s), EReadError) << "step " << step;
    } else if (op < 9) {
      const std::string n = name();
      memory.DeleteStream(n);
      disk.DeleteStream(n);
      model.erase(n);
    } else if (op < 10) {
      const std::string from = name(), to = name();
      memory.RenameStream(from, to);
      disk.RenameStream(from, to);
      if (model.count(from) && from != to) {
        model[to] = model[from];
        model.erase(from);
      }
    } else {
      for (const auto& [n, b] : model) {
        TMemoryStream s;
        memory.ReadStream(n, s);
        ASSERT_EQ(test::Text(s), b) << "step " << step << ", " << n;
      }
    }
    same(step);
  }
  if (HasFatalFailure()) return;

  memory.SaveToFile(dir / "from-memory.stor");
  disk.SaveToFile(dir / "from-disk.stor");
  const std::string saved = test::ReadFile(dir / "from-memory.stor");
  EXPECT_TRUE(saved == test::ReadFile(dir / "from-disk.stor")) << "saved archives differ";
  std::string error;
  EXPECT_TRUE(test::ReadWithIndependentReader(dir / "from-memory.stor", error) == model) << error;

  // Loaded back through a stream the archive becomes the working copy in
  // memory; moved to a temporary file it stays the same.
  TMemoryStream packed;
  test::Fill(packed, saved);
  TqxStorage reloaded;
  reloaded.LoadFromStream(packed);
  reloaded.SetMemoryCache(1);
  TMemoryStream s;
  reloaded.WriteStream("spills", test::Fill(s, bytes(kBlock + 3)));
  reloaded.DeleteStream("spills");
  TMemoryStream again;
  reloaded.SaveToStream(again);
  EXPECT_TRUE(test::Text(again) == saved) << "archive changed on its way through memory";
}

TEST(StorageBlocks, StoragesOnSeveralThreadsShareBlocksSafely) {
  // Blocks a closed working copy gives back are taken by the next one, on
  // whichever thread: each storage must read back only its own bytes.
  auto work = [](int seed) {
    int wrong = 0;
    for (int round = 0; round < 6; ++round) {
      TqxStorage storage;
      std::map<std::string, std::string> model;
      for (int i = 0; i < 60; ++i) {
        std::string b(static_cast<std::size_t>(1000 + (i * 7919 + seed * 104729) % 50000), '\0');
        for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<char>(seed * 31 + round * 7 + i + k);
        const std::string n = "m" + std::to_string(i % 40);
        TMemoryStream s;
        storage.WriteStream(n, test::Fill(s, b));
        model[n] = b;
        if (i % 9 == 8) {
          storage.DeleteStream("m" + std::to_string(i / 2));
          model.erase("m" + std::to_string(i / 2));
        }
      }
      for (const auto& [n, b] : model) {
        TMemoryStream s;
        storage.ReadStream(n, s);
        wrong += test::Text(s) != b;
      }
    }
    return wrong;
  };
  std::vector<std::future<int>> results;
  for (int t = 0; t < 4; ++t) results.push_back(std::async(std::launch::async, work, t));
  for (auto& r : results) EXPECT_EQ(r.get(), 0);
}

TEST(StorageBlocks, OneStorageSharedByThreadsKeepsEveryMember) {
  // Four threads write, read, rename and delete members of their own in one
  // storage, and one of them saves it now and then: every operation must
  // see the storage whole, and each thread its own bytes.
  TqxStorage storage;
  auto work = [&](int t) {
    int wrong = 0;
    std::map<std::string, std::string> model;
    const std::string prefix = "t" + std::to_string(t) + "/";
    for (int i = 0; i < 300; ++i) {
      std::string b(static_cast<std::size_t>(200 + (i * 7919 + t * 104729) % 6000), '\0');
      for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<char>(t * 31 + i + k);
      const std::string n = prefix + std::to_string(i % 12);
      TMemoryStream s;
      storage.WriteStream(n, test::Fill(s, b));
      model[n] = b;
      TMemoryStream back;
      storage.ReadStream(n, back);
      wrong += test::Text(back) != b;
      if (i % 7 == 6 && model.count(prefix + "3")) {
        storage.RenameStream(prefix + "3", prefix + "renamed");
        model[prefix + "renamed"] = model[prefix + "3"];
        model.erase(prefix + "3");
      }
      if (i % 11 == 10) {
        storage.DeleteStream(prefix + std::to_string(i % 5));
        model.erase(prefix + std::to_string(i % 5));
      }
      if (t == 0 && i % 50 == 49) {
        TMemoryStream saved;
        storage.SaveToStream(saved);
        TqxStorage loaded;
        loaded.LoadFromStream(saved);
        for (const auto& [n, b] : model) {
          TMemoryStream s;
          loaded.ReadStream(n, s);
          wrong += test::Text(s) != b;
        }
      }
    }
    for (const auto& [n, b] : model) {
      TMemoryStream s;
      storage.ReadStream(n, s);
      wrong += test::Text(s) != b;
    }
    return std::make_pair(wrong, model.size());
  };
  std::vector<std::future<std::pair<int, std::size_t>>> results;
  for (int t = 0; t < 4; ++t) results.push_back(std::async(std::launch::async, work, t));
  std::size_t members = 0;
  for (auto& r : results) {
    const auto [wrong, count] = r.get();
    EXPECT_EQ(wrong, 0);
    members += count;
  }
  EXPECT_EQ(static_cast<std::size_t>(storage.StreamCount()), members);
}

}  // namespace
}  // namespace kdl

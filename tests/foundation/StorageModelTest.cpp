// Random sequences of storage operations checked against a std::map, in both
// modes, with memory caches small enough to force the temporary file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/StreamText.h"
#include "foundation/Storage.h"
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

}  // namespace
}  // namespace kdl

// Where the storage places members and how it keeps its directory is a stored
// format in auto-save mode: the archive file is the working copy itself. A
// long mixed sequence of writes, rewrites, deletes, renames and a reopened
// packed archive must leave files identical byte for byte to the ones kept
// in data/, and the same members as a std::map says.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "foundation/Storage.h"
#include "support/StreamText.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using namespace kdl::test;

const fs::path kData = fs::path(KDL_SOURCE_DIR) / "tests/foundation/data";

class LayoutRun {
 public:
  explicit LayoutRun(TqxStorage& storage) : storage_(storage), rng_(20261209) {}

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string Bytes() {
    const int size = Pick(5) == 0 ? 0 : Pick(48) + 1;
    std::string s(static_cast<std::size_t>(size), '\0');
    for (auto& c : s) c = static_cast<char>(Pick(256));
    return s;
  }

  void Write(const std::string& name) {
    const std::string bytes = Bytes();
    TMemoryStream s;
    storage_.WriteStream(name, Fill(s, bytes));
    model_[Key(name)] = bytes;
  }

  // Existing members picked at random from the model.
  std::string Existing() {
    auto it = model_.begin();
    std::advance(it, Pick(static_cast<int>(model_.size())));
    return it->first;
  }

  void Mixed(int steps, const std::string& prefix) {
    for (int i = 0; i < steps; ++i) {
      const int op = Pick(10);
      if (model_.empty() || op < 3) {
        Write(prefix + std::to_string(next_++) + std::string(static_cast<std::size_t>(Pick(12)), 'x'));
      } else if (op < 6) {
        Write(Existing());  // smaller stays, larger moves
      } else if (op < 8) {
        const std::string name = Existing();
        storage_.DeleteStream(name);
        model_.erase(name);
      } else {
        // A longer name grows the directory into the lowest members.
        const std::string from = Existing();
        const std::string to = from + std::string(static_cast<std::size_t>(Pick(40)), 'r');
        storage_.RenameStream(from, to);
        std::string bytes = model_[from];
        model_.erase(from);
        model_[Key(to)] = bytes;
      }
    }
  }

  void Check(TqxStorage& storage) {
    ASSERT_EQ(storage.StreamCount(), static_cast<int>(model_.size()));
    for (const auto& [name, bytes] : model_) {
      TMemoryStream s;
      storage.ReadStream(name, s);
      ASSERT_EQ(Text(s), bytes) << name;
    }
  }

 private:
  // The names used here are ASCII and differ in more than case.
  static std::string Key(const std::string& name) { return name; }

  TqxStorage& storage_;
  std::mt19937 rng_;
  std::map<std::string, std::string> model_;
  int next_ = 0;
};

TEST(StorageLayout, AutoSaveFilesMatchTheKeptBytes) {
  ScratchDir dir;
  const fs::path first = dir / "first.stor";
  const fs::path packed = dir / "packed.stor";
  TqxStorage storage;
  storage.SetAutoSave(true);
  storage.SetFileName(first);
  LayoutRun run(storage);
  // Many appends, then gaps and moves, then many appends into the gaps.
  for (int i = 0; i < 700; ++i) run.Write("m" + std::to_string(i) + ".bin");
  run.Mixed(500, "n");
  for (int i = 0; i < 900; ++i) run.Write("TMP" + std::to_string(1000000 + i) + ".png");
  run.Check(storage);
  storage.SaveToFile(packed);

  // A packed archive (directory at 69) reopened as the working copy: the
  // working directory at 14 must push the first members out of its way.
  storage.SetFileName(packed);
  run.Mixed(400, "p");
  for (int i = 0; i < 300; ++i) run.Write("q" + std::to_string(i));
  run.Check(storage);
  storage.Clear();

  EXPECT_TRUE(ReadFile(first) == ReadFile(kData / "layout_first.stor")) << "first auto-save file differs";
  EXPECT_TRUE(ReadFile(packed) == ReadFile(kData / "layout_reopened.stor")) << "reopened auto-save file differs";

  TqxStorage reloaded;
  reloaded.LoadFromFile(packed);
  run.Check(reloaded);
}

}  // namespace
}  // namespace kdl

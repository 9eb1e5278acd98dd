// Where the storage places members and how it keeps its directory is a stored
// format in auto-save mode: the archive file is the working copy itself. A
// long mixed sequence of writes, rewrites, deletes, renames and a reopened
// packed archive must leave files identical byte for byte to the ones kept
// in data/, and the same members as a std::map says.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "foundation/Storage.h"
#include "support/StorageReader.h"
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

// Where members go, restated as plain scans over the directory: first fit
// behind the directory among the gaps between members that hold bytes (an
// empty member takes the first gap, one without length too), else behind
// the last; a member that grows moves, one that shrinks stays; members the
// directory grows into move out of its way, the lowest first.
class PlacementModel {
 public:
  struct Entry {
    std::string name;
    std::int64_t offset, size;
  };

  void Write(const std::string& name, std::int64_t size) {
    const int at = Find(name);
    if (at < 0) {
      entries_.push_back({name, Free(size, kStorageEntryFixedSize + static_cast<std::int64_t>(name.size())), size});
    } else {
      Entry& e = entries_[static_cast<std::size_t>(at)];
      if (size > e.size) e.offset = Free(size, 0);
      e.size = size;
    }
    MakeRoom();
  }
  void Delete(const std::string& name) {
    const int at = Find(name);
    if (at >= 0) entries_.erase(entries_.begin() + at);
  }
  void Rename(const std::string& from, const std::string& to) {
    Delete(to);
    entries_[static_cast<std::size_t>(Find(from))].name = to;
    MakeRoom();
  }
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  int Find(const std::string& name) const {
    for (std::size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].name == name) return static_cast<int>(i);
    return -1;
  }
  std::int64_t DirectorySize() const {
    std::int64_t size = 12;
    for (const Entry& e : entries_) size += kStorageEntryFixedSize + static_cast<std::int64_t>(e.name.size());
    return size;
  }
  std::int64_t Free(std::int64_t size, std::int64_t extra) const {
    const std::int64_t dataStart = DirectorySize() + extra + 6;
    std::vector<std::pair<std::int64_t, std::int64_t>> held;  // offset, end
    for (const Entry& e : entries_)
      if (e.size > 0) held.emplace_back(e.offset, e.offset + e.size);
    std::sort(held.begin(), held.end());
    if (held.empty()) return std::max(DirectorySize() + 512, dataStart);
    std::size_t above = 0;
    while (above < held.size() && held[above].first < dataStart) ++above;
    if (above > 0 && above < held.size() && held[above - 1].second < dataStart &&
        held[above].first - dataStart >= size)
      return dataStart;
    if (size > 0) {
      for (std::size_t i = 0; i + 1 < held.size(); ++i)
        if (held[i].second >= dataStart && held[i + 1].first - held[i].second >= size) return held[i].second;
    } else {
      std::size_t first = above;
      if (first > 0 && held[first - 1].second >= dataStart) --first;
      if (first + 1 < held.size()) return held[first].second;
    }
    return std::max(held.back().second, dataStart);
  }
  void MakeRoom() {
    for (;;) {
      int lowest = -1;
      for (std::size_t i = 0; i < entries_.size(); ++i)
        if (lowest < 0 || entries_[i].offset < entries_[static_cast<std::size_t>(lowest)].offset) lowest = static_cast<int>(i);
      if (lowest < 0) return;
      Entry& e = entries_[static_cast<std::size_t>(lowest)];
      if (e.offset >= DirectorySize() + 6) return;
      e.offset = Free(e.size, 0);
    }
  }

  std::vector<Entry> entries_;
};

// Members appended back to back are kept apart from the rest of the layout
// until one of them moves, goes, or takes part in a search for a place: with
// runs long and short, empty members among them and a directory that grows
// into them, every member lies after every step where the scans say.
TEST(StorageLayout, AppendedRunsPlaceMembersAsThePlainScansSay) {
  ScratchDir dir;
  const fs::path file = dir / "runs.stor";
  const fs::path packed = dir / "runs-packed.stor";
  std::map<std::string, std::string> model;
  PlacementModel places;
  std::vector<std::string> recent;
  std::mt19937 rng(37);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  auto bytes = [&](int size) {
    std::string s(static_cast<std::size_t>(size), '\0');
    for (auto& c : s) c = static_cast<char>(pick(256));
    return s;
  };
  {
    TqxStorage storage;
    storage.SetAutoSave(true);
    storage.SetFileName(file);
    int step = 0;
    auto check = [&] {
      const auto& items = storage.Items();
      const auto& expected = places.Entries();
      ASSERT_EQ(items.size(), expected.size()) << "step " << step;
      for (std::size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(items[i].Name, expected[i].name) << "step " << step;
        ASSERT_EQ(items[i].Offset, expected[i].offset) << "step " << step << ", " << items[i].Name;
        ASSERT_EQ(items[i].Size, expected[i].size) << "step " << step << ", " << items[i].Name;
      }
    };
    auto write = [&](const std::string& name, int size) {
      const std::string b = bytes(size);
      TMemoryStream s;
      storage.WriteStream(name, Fill(s, b));
      places.Write(name, size);
      model[name] = b;
      check();
    };
    auto recentName = [&] {
      const int back = pick(std::min<int>(8, static_cast<int>(recent.size())));
      return recent[recent.size() - 1 - static_cast<std::size_t>(back)];
    };
    int next = 0;
    auto fresh = [&] {
      recent.push_back("r" + std::to_string(next++) + ".bin");
      return recent.back();
    };
    // Small members from an empty archive: the directory soon reaches the
    // first of them. Then empty ones among them, each taking the first gap,
    // one without length too; then a long run of larger ones.
    for (int i = 0; i < 40 && !HasFatalFailure(); ++i) write(fresh(), 1 + pick(40));
    for (int i = 0; i < 60 && !HasFatalFailure(); ++i) write(fresh(), i % 3 == 2 ? 0 : 1 + pick(40));
    for (int i = 0; i < 200 && !HasFatalFailure(); ++i) write(fresh(), 1 + pick(300));
    for (step = 1; step <= 1500 && !HasFatalFailure(); ++step) {
      const int op = pick(20);
      if (op < 9 || recent.empty()) {
        write(fresh(), 1 + pick(op == 0 ? 2000 : 200));
      } else if (op < 11) {
        write(fresh(), 0);
      } else if (op < 13) {
        const std::string name = recentName();
        if (model.count(name)) write(name, static_cast<int>(model[name].size()) + 1 + pick(400));  // moves
      } else if (op < 14) {
        const std::string name = recentName();
        if (model.count(name)) write(name, pick(static_cast<int>(model[name].size()) + 1));  // stays
      } else if (op < 17) {
        const std::string name = recentName();
        storage.DeleteStream(name);
        places.Delete(name);
        model.erase(name);
        check();
      } else {
        // A much longer name pushes the lowest members out of the directory's way.
        const std::string from = recentName();
        if (!model.count(from)) continue;
        const std::string to = from + std::string(static_cast<std::size_t>(20 + pick(200)), 'n');
        storage.RenameStream(from, to);
        places.Rename(from, to);
        model[to] = model[from];
        model.erase(from);
        recent.push_back(to);
        check();
      }
    }
    if (HasFatalFailure()) return;
    ASSERT_EQ(storage.StreamCount(), static_cast<int>(model.size()));
    for (const auto& [name, b] : model) {
      TMemoryStream s;
      storage.ReadStream(name, s);
      ASSERT_EQ(Text(s), b) << name;
    }
    storage.SaveToFile(packed);
  }
  // The working file, byte for byte as the layout before the runs left it.
  EXPECT_TRUE(ReadFile(file) == ReadFile(kData / "layout_runs.stor")) << "auto-save file differs";

  // The packed copy read by the independent reader holds exactly the model.
  std::string error;
  const auto read = ReadWithIndependentReader(packed, error);
  ASSERT_TRUE(error.empty()) << error;
  EXPECT_TRUE(read == model) << read.size() << " members read, " << model.size() << " written";
}

}  // namespace
}  // namespace kdl

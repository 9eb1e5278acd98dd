#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <memory>
#include <random>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/StreamText.h"
#include "foundation/Storage.h"
#include "platform/TempFiles.h"
#include "support/StorageReader.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using namespace kdl::test;

const fs::path kWorkedExample = fs::path(KDL_SOURCE_DIR) / "tests/foundation/data/worked_example.stor";

void Put(TqxStorage& storage, const std::string& name, const std::string& bytes) {
  TMemoryStream s;
  Fill(s, bytes).SetPosition(static_cast<std::int64_t>(bytes.size()) / 2);  // the position must not matter
  storage.WriteStream(name, s);
}

std::string Get(TqxStorage& storage, const std::string& name) {
  TMemoryStream s;
  s.WriteBuffer("stale bytes that must go", 24);
  storage.ReadStream(name, s);
  EXPECT_EQ(s.Position(), 0);
  return Text(s);
}

std::string SaveToBytes(TqxStorage& storage) {
  TMemoryStream s;
  storage.SaveToStream(s);
  return Text(s);
}

// A private folder, whose "tmp" is the temporary folder so that the
// storage's temporary files can be counted.
class StorageFiles : public ::testing::Test {
 protected:
  int TempFileCount() const {
    return static_cast<int>(std::distance(fs::directory_iterator(dir_ / "tmp"), fs::directory_iterator()));
  }
  std::vector<std::string> DirListing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.Path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDir dir_;
  bool madeTmp_ = fs::create_directory(dir_ / "tmp");
  ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
};

TEST(StorageFormat, WorkedExampleIsLaidOutAndLoads) {
  TqxStorage storage;
  Put(storage, "Index.xml", std::string(100, 'I'));
  Put(storage, "Page0001.xml", std::string(50, 'P'));
  const std::string saved = SaveToBytes(storage);
  ASSERT_EQ(saved.size(), 284u);

  // The file made by hand from the format table: equal except the banner
  // text, and it loads.
  const std::string hand = ReadFile(kWorkedExample);
  ASSERT_EQ(hand.size(), 284u);
  EXPECT_EQ(saved.substr(0, 14), hand.substr(0, 14));
  EXPECT_EQ(saved.substr(69), hand.substr(69));
  EXPECT_EQ(saved.substr(14, 32), "\r\nCreated with Folionix - Info: ");

  TqxStorage loaded;
  loaded.LoadFromFile(kWorkedExample);
  ASSERT_EQ(loaded.StreamCount(), 2);
  EXPECT_EQ(loaded.Items()[0].Offset, 134);
  EXPECT_EQ(loaded.Items()[1].Offset, 234);
  EXPECT_EQ(Get(loaded, "index.XML"), std::string(100, 'I'));
  EXPECT_EQ(Get(loaded, "Page0001.xml"), std::string(50, 'P'));
}

TEST_F(StorageFiles, IndependentReaderReadsSavedArchive) {
  TqxStorage storage;
  storage.SetMemoryCache(300);  // the members come from a temporary file
  Put(storage, "Index.xml", "<index/>");
  Put(storage, "Empty", "");
  Put(storage, "Bin\xC3\xA9.dat", std::string("\0\x01\xFF\x80", 4) + std::string(700, 'z'));
  Put(storage, "Index.xml", "<index version=\"2\"/>");
  const auto path = dir_ / "a.stor";
  storage.SaveToFile(path);

  int status = -1;
  const std::string out = RunStorageReader(path, status);
  ASSERT_EQ(status, 0) << out;
  const std::int64_t first = 73 + (20 + 9) + (20 + 5) + (20 + 9);
  const std::string bin = std::string("\0\x01\xFF\x80", 4) + std::string(700, 'z');
  const std::string expect =
      "Index.xml\t" + std::to_string(first) + "\t20\t" + Hex("<index version=\"2\"/>") + "\n" +
      "Empty\t" + std::to_string(first + 20) + "\t0\t\n" +
      "Bin\xC3\xA9.dat\t" + std::to_string(first + 20) + "\t704\t" + Hex(bin) + "\n";
  EXPECT_EQ(out, expect);
}

TEST_F(StorageFiles, CorruptFilesAreRefusedAndLeaveTheStorageEmpty) {
  TqxStorage storage;
  storage.LoadFromFile(dir_ / "missing.stor");
  EXPECT_EQ(storage.StreamCount(), 0);
  EXPECT_TRUE(storage.FileName().empty());

  const std::string good = ReadFile(kWorkedExample);
  auto with = [&](std::size_t at, const std::string& bytes) {
    std::string s = good;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  auto i64 = [](std::int64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); };
  auto i32 = [](std::int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  // Entry 0 starts at 73: offset, size, name length.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"other bytes", "PK\x03\x04 something else entirely"},
      {"short header", "STOR\x01"},
      {"directory offset past end", with(6, i64(1000))},
      {"directory offset negative", with(6, i64(-5))},
      {"directory inside header", with(6, i64(2))},
      {"count too large", with(69, i32(0x7FFFFFFF))},
      {"count negative", with(69, i32(-1))},
      {"name length past end", with(89, i32(10000))},
      {"name length negative", with(89, i32(-3))},
      {"member past end", with(73, i64(200))},
      {"member size wraps", with(73, i64(134)) .replace(81, 8, i64(INT64_MAX - 100))},
      {"member offset negative", with(73, i64(-1))},
      {"members overlap", with(102, i64(200))},
      {"member inside directory", with(73, i64(80))},
      {"truncated data", good.substr(0, 250)},
  };
  for (const auto& [what, bytes] : cases) {
    const auto path = dir_ / "bad.stor";
    WriteFile(path, bytes);
    Put(storage, "Previous", "x");
    EXPECT_EQ(ErrorOf([&] { storage.LoadFromFile(path); }), "File is not a storage file") << what;
    EXPECT_EQ(storage.StreamCount(), 0) << what;
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(ErrorOf([&] { storage.LoadFromStream(s); }), "File is not a storage file") << what;
    EXPECT_EQ(storage.StreamCount(), 0) << what;
  }
  WriteFile(dir_ / "future.stor", with(4, "\x02"));
  EXPECT_EQ(ErrorOf([&] { storage.LoadFromFile(dir_ / "future.stor"); }), "File is wrong (future) version");
}

TEST(Storage, NamesPlacementAndMoves) {
  TqxStorage storage;
  // The first member of an empty working copy sits 512 bytes behind the
  // directory as it was before the member.
  Put(storage, "Index.xml", std::string(100, 'a'));
  EXPECT_EQ(storage.Items()[0].Offset, 12 + 512);

  // Case-insensitive names; a working member keeps its spelling.
  Put(storage, "INDEX.XML", std::string(40, 'b'));
  EXPECT_EQ(storage.StreamCount(), 1);
  EXPECT_EQ(storage.GetStreamName(0), "Index.xml");
  EXPECT_EQ(storage.Items()[0].Offset, 524);  // smaller: in place
  Put(storage, "index.xml", std::string(41, 'c'));
  EXPECT_NE(storage.Items()[0].Offset, 524);  // larger: moved
  EXPECT_EQ(Get(storage, "Index.XML"), std::string(41, 'c'));
  EXPECT_EQ(ErrorOf([&] { Get(storage, "nope"); }), "Stream \"nope\" not found in the storage");

  EXPECT_TRUE(TqxStorage::IsTempStreamName("TMP0000001.png"));
  EXPECT_FALSE(TqxStorage::IsTempStreamName("tmp0000001.png"));
  EXPECT_FALSE(TqxStorage::IsTempStreamName("TM"));
  const std::string temp = storage.MakeUniqueTempName(".png");
  ASSERT_EQ(temp.size(), 14u);
  EXPECT_TRUE(TqxStorage::IsTempStreamName(temp));
  EXPECT_EQ(temp.find_first_not_of("0123456789", 3), 10u);
}

TEST(Storage, EmptyMembersAndGrowingDirectoryTerminate) {
  // Empty members sit anywhere; a directory that grows past them must move
  // them out of its way without looping.
  TqxStorage storage;
  for (int i = 0; i < 40; ++i) Put(storage, "e" + std::to_string(i), "");
  Put(storage, "data", "payload");
  for (int i = 0; i < 40; ++i) storage.RenameStream("e" + std::to_string(i), std::string(60, 'n') + std::to_string(i));
  for (const auto& item : storage.Items()) {
    if (item.Size > 0) {
      EXPECT_GE(item.Offset, storage.DirectorySize() + 6);
    }
  }
  EXPECT_EQ(Get(storage, "data"), "payload");
  EXPECT_EQ(Get(storage, std::string(60, 'n') + "7"), "");
  TMemoryStream s;
  storage.SaveToStream(s);
  TqxStorage loaded;
  loaded.LoadFromStream(s);
  EXPECT_EQ(loaded.StreamCount(), 41);
  EXPECT_EQ(Get(loaded, "data"), "payload");
}

TEST_F(StorageFiles, WriteFromAShortStreamKeepsEveryMemberAndTheArchiveSound) {
  // A stream that promises more bytes than it gives: the member's copy fails
  // after the working copy made room for it. Nothing may refer to the
  // missing bytes, and what is written afterwards must land intact.
  struct TShortStream : TMemoryStream {
    std::int64_t Size() override { return TMemoryStream::Size() + 5000; }
  };
  const auto shortOf = [](const std::string& bytes) {
    auto s = std::make_unique<TShortStream>();
    s->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return s;
  };
  TqxStorage storage;
  Put(storage, "a", std::string(1000, 'a'));
  EXPECT_THROW(storage.WriteStream("new", *shortOf(std::string(300, 'n'))), EReadError);
  EXPECT_THROW(storage.WriteStream("a", *shortOf(std::string(300, 'x'))), EReadError);  // would move
  EXPECT_EQ(storage.StreamCount(), 1);
  EXPECT_EQ(Get(storage, "a"), std::string(1000, 'a'));

  Put(storage, "c", std::string(3000, 'c'));
  Put(storage, "a", std::string(2000, 'A'));  // moves behind c
  Put(storage, "d", std::string(10, 'd'));
  EXPECT_EQ(Get(storage, "c"), std::string(3000, 'c'));
  EXPECT_EQ(Get(storage, "a"), std::string(2000, 'A'));
  const auto path = dir_ / "short.stor";
  storage.SaveToFile(path);

  int status = -1;
  const std::string out = RunStorageReader(path, status);
  ASSERT_EQ(status, 0) << out;
  const std::int64_t first = 73 + (20 + 1) * 3;
  EXPECT_EQ(out, "a\t" + std::to_string(first) + "\t2000\t" + Hex(std::string(2000, 'A')) + "\n" +
                     "c\t" + std::to_string(first + 2000) + "\t3000\t" + Hex(std::string(3000, 'c')) + "\n" +
                     "d\t" + std::to_string(first + 5000) + "\t10\t" + Hex(std::string(10, 'd')) + "\n");
}

TEST_F(StorageFiles, SpillToTemporaryFileGivesSameBytesAndIsRemoved) {
  auto fill = [](TqxStorage& s) {
    for (int i = 0; i < 20; ++i) Put(s, "m" + std::to_string(i), std::string(1000 + i * 37, static_cast<char>('a' + i)));
    s.DeleteStream("m3");
    Put(s, "m5", "short");
    Put(s, "m7", std::string(5000, '7'));
  };
  TqxStorage inMemory;
  fill(inMemory);
  EXPECT_EQ(TempFileCount(), 0);
  {
    TqxStorage spilled;
    spilled.SetMemoryCache(2000);
    fill(spilled);
    EXPECT_EQ(TempFileCount(), 1);
    EXPECT_EQ(SaveToBytes(spilled), SaveToBytes(inMemory));
    spilled.Clear();
    EXPECT_EQ(TempFileCount(), 0);
    fill(spilled);
    EXPECT_EQ(TempFileCount(), 1);
  }
  EXPECT_EQ(TempFileCount(), 0);
}

TEST_F(StorageFiles, FailedSpillKeepsEveryMember) {
  TqxStorage storage;
  for (int i = 0; i < 8; ++i) Put(storage, "m" + std::to_string(i), std::string(40000, static_cast<char>('0' + i)));
  storage.SetMemoryCache(1000);
  {
    FileSizeLimit limit(64 * 1024);
    EXPECT_EQ(ErrorOf([&] { Put(storage, "new", "n"); }), "Unable to create temporary file");
  }
  EXPECT_EQ(TempFileCount(), 0);
  ASSERT_EQ(storage.StreamCount(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Get(storage, "m" + std::to_string(i)), std::string(40000, static_cast<char>('0' + i)));
  Put(storage, "new", "n");  // with room again the spill succeeds
  EXPECT_EQ(TempFileCount(), 1);
  EXPECT_EQ(Get(storage, "m7"), std::string(40000, '7'));
}

TEST_F(StorageFiles, FailedSaveRaisesAndKeepsThePreviousFile) {
  const auto path = dir_ / "doc.stor";
  TqxStorage storage;
  Put(storage, "Index.xml", "<old/>");
  storage.SaveToFile(path);
  const std::string before = ReadFile(path);
  const auto listing = DirListing();

  Put(storage, "Image.png", std::string(1 << 20, 'i'));
  {
    FileSizeLimit limit(256 * 1024);
    EXPECT_THROW(storage.SaveToFile(path), EStreamError);
  }
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(DirListing(), listing);  // no temporary file left beside it

  // A full device as the target stream.
  TFileStream full("/dev/full", fmOpenWrite);
  EXPECT_THROW(storage.SaveToStream(full), EWriteError);
  EXPECT_EQ(ReadFile(path), before);
}

TEST_F(StorageFiles, SavingOntoTheLoadedFileThroughALink) {
  const auto path = dir_ / "doc.stor";
  const auto link = dir_ / "link.stor";
  TqxStorage storage;
  Put(storage, "Index.xml", "<doc/>");
  Put(storage, "Big", std::string(200000, 'b'));
  storage.SaveToFile(path);
  fs::create_symlink(path, link);

  storage.LoadFromFile(path);
  EXPECT_EQ(storage.FileName(), path);
  Put(storage, "Page0001.xml", "<page/>");
  storage.SaveToFile(link);  // the same file under another name: source detached first
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(storage.FileName().empty());

  TqxStorage reloaded;
  reloaded.LoadFromFile(path);
  ASSERT_EQ(reloaded.StreamCount(), 3);
  EXPECT_EQ(Get(reloaded, "Index.xml"), "<doc/>");
  EXPECT_EQ(Get(reloaded, "Big"), std::string(200000, 'b'));
  EXPECT_EQ(Get(reloaded, "Page0001.xml"), "<page/>");
  EXPECT_EQ(SaveToBytes(reloaded), SaveToBytes(storage));
  // Save onto itself again by its own name.
  reloaded.SaveToFile(path);
  TqxStorage again;
  again.LoadFromFile(link);
  EXPECT_EQ(SaveToBytes(again), SaveToBytes(storage));

  // A member still in the source takes the spelling of the write; a working
  // member keeps its own.
  Put(again, "index.XML", "<x/>");
  EXPECT_EQ(again.GetStreamName(0), "index.XML");
  Put(again, "INDEX.xml", "<y/>");
  EXPECT_EQ(again.GetStreamName(0), "index.XML");
  EXPECT_EQ(Get(again, "Index.xml"), "<y/>");
}

TEST_F(StorageFiles, AutoSaveWritesThroughAndSavingOntoItselfDoesNothing) {
  const auto path = dir_ / "auto.stor";
  TqxStorage storage;
  storage.SetAutoSave(true);
  storage.SetFileName(path);
  Put(storage, "Index.xml", "<auto/>");
  Put(storage, "Empty", "");
  const std::string bytes = ReadFile(path);
  storage.SaveToFile(path);
  EXPECT_EQ(ReadFile(path), bytes);
  storage.SetMemoryCache(10);  // trims the file, keeps its directory
  TqxStorage other;
  other.OpenAutoSave(path);
  EXPECT_EQ(Get(other, "index.xml"), "<auto/>");
  EXPECT_EQ(other.StreamCount(), 2);

  // Back to normal mode: the file is loaded as the source.
  storage.SetAutoSave(false);
  EXPECT_EQ(storage.FileName(), path);
  EXPECT_EQ(TempFileCount(), 0);
  EXPECT_TRUE(fs::exists(path));
}

// A stream that calls back into the storage while the storage reads it.
class ReentrantStream : public TMemoryStream {
 public:
  explicit ReentrantStream(TqxStorage& storage) : storage_(storage) { WriteBuffer("abc", 3); }
  std::int64_t Read(void* buffer, std::int64_t count) override {
    storage_.StreamCount();
    return TMemoryStream::Read(buffer, count);
  }

 private:
  TqxStorage& storage_;
};

TEST(Storage, ReentrantCallIsRefusedAndReleasesTheLock) {
  TqxStorage storage;
  Put(storage, "keep", "kept");
  ReentrantStream s(storage);
  EXPECT_EQ(ErrorOf([&] { storage.WriteStream("x", s); }), "Warning: recursive call to qxStorage from event");
  EXPECT_FALSE(storage.StreamExists("x"));
  // The refused call left the lock as it found it: another thread gets in.
  auto other = std::async(std::launch::async, [&] { return Get(storage, "keep"); });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_EQ(other.get(), "kept");
}

std::string Le(std::uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

// An archive laid out as other writers may do it: the members first, the
// directory after them.
std::string DirectoryLast(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string data, directory = Le(members.size(), 4);
  std::int64_t at = 14;
  for (const auto& [name, bytes] : members) {
    directory += Le(static_cast<std::uint64_t>(at), 8) + Le(bytes.size(), 8) + Le(name.size(), 4) + name;
    data += bytes;
    at += static_cast<std::int64_t>(bytes.size());
  }
  return std::string("STOR\x01\x00", 6) + Le(static_cast<std::uint64_t>(at), 8) + data + directory;
}

TEST_F(StorageFiles, DirectoryAfterTheMembersLoadsInEveryMode) {
  const std::vector<std::pair<std::string, std::string>> members = {
      {"Index.xml", "<index pages=\"1\"/>"}, {"Empty", ""}, {"Page0001.xml", std::string(3000, 'p')}};
  const std::string bytes = DirectoryLast(members);
  const auto path = dir_ / "last.stor";
  WriteFile(path, bytes);

  auto expectMembers = [&](TqxStorage& storage, const char* how, int count = 3) {
    ASSERT_EQ(storage.StreamCount(), count) << how;
    for (const auto& [name, content] : members) EXPECT_EQ(Get(storage, name), content) << how << name;
  };
  TqxStorage fromFile;
  fromFile.LoadFromFile(path);
  expectMembers(fromFile, "file");
  TqxStorage fromStream;
  TMemoryStream s;
  Fill(s, bytes);
  fromStream.LoadFromStream(s);
  expectMembers(fromStream, "stream");
  // Edited in place: the directory moves to the front without harming a member.
  Put(fromStream, "New.bin", std::string(100, 'n'));
  expectMembers(fromStream, "edited stream", 4);
  EXPECT_EQ(Get(fromStream, "New.bin"), std::string(100, 'n'));

  {
    TqxStorage autoSave;
    autoSave.SetAutoSave(true);
    autoSave.SetFileName(path);
    expectMembers(autoSave, "auto-save");
    Put(autoSave, "A much longer name that grows the directory.bin", "grown");
    expectMembers(autoSave, "auto-save after a write", 4);
  }
  TqxStorage reopened;
  reopened.LoadFromFile(path);
  ASSERT_EQ(reopened.StreamCount(), 4);
  for (const auto& [name, content] : members) EXPECT_EQ(Get(reopened, name), content) << name;
  EXPECT_EQ(Get(reopened, "a much longer NAME that grows the directory.bin"), "grown");

  // A member that runs into the directory, or into the header, is still refused.
  // Directory at 3032: count, then entries of 29, 25 and 29 bytes.
  std::string overlapping = bytes;
  overlapping.replace(3032 + 4 + 29 + 25 + 8, 8, Le(3001, 8));
  WriteFile(path, overlapping);
  EXPECT_EQ(ErrorOf([&] { fromFile.LoadFromFile(path); }), "File is not a storage file");
  std::string inHeader = bytes;
  inHeader.replace(3032 + 4, 8, Le(10, 8));
  WriteFile(path, inHeader);
  EXPECT_EQ(ErrorOf([&] { fromFile.LoadFromFile(path); }), "File is not a storage file");
}

TEST(StorageNames, LookUpsStayInStepWithWritesDeletesAndRenames) {
  TqxStorage storage;
  for (const char* name : {"Alpha", "Beta", "Gamma", "\xC3\x89t\xC3\xA9.txt"}) Put(storage, name, name);
  EXPECT_EQ(storage.IndexOfStream("GAMMA"), 2);
  EXPECT_EQ(storage.IndexOfStream("\xC3\xA9T\xC3\x89.TXT"), 3);  // folds beyond ASCII too
  storage.DeleteStream("alpha");
  EXPECT_EQ(storage.IndexOfStream("Alpha"), -1);
  EXPECT_EQ(storage.IndexOfStream("Beta"), 0);
  EXPECT_EQ(storage.IndexOfStream("Gamma"), 1);
  storage.RenameStream("gamma", "Delta");
  EXPECT_FALSE(storage.StreamExists("Gamma"));
  EXPECT_EQ(storage.IndexOfStream("DELTA"), 1);
  storage.RenameStream("Delta", "beta");  // replaces the member of that name, new spelling
  ASSERT_EQ(storage.StreamCount(), 2);
  EXPECT_EQ(storage.IndexOfStream("Beta"), 0);
  EXPECT_EQ(storage.GetStreamName(0), "beta");
  EXPECT_EQ(Get(storage, "BETA"), "Gamma");
  Put(storage, "BETA", "again");  // same member, new content
  EXPECT_EQ(storage.StreamCount(), 2);
  Put(storage, "Zeta", "z");
  EXPECT_EQ(storage.IndexOfStream("zeta"), 2);
  storage.Clear();
  EXPECT_FALSE(storage.StreamExists("Zeta"));
}

TEST(StorageNames, AsciiNamesFoldInEveryPlaceOfEveryLength) {
  // ASCII names are hashed a word at a time: every capital, in every place
  // of every word and of the short last one, must fold, and the characters
  // beside the capitals in the code table ('@' '[' '`' '{') must not, nor
  // may they meet in one hash (a look-up would then compare twice).
  auto lower = [](std::string n) {
    for (auto& c : n)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return n;
  };
  auto swapCase = [](std::string n) {
    for (auto& c : n)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      else if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return n;
  };
  const std::string marks = std::string("@AZ[`az{", 8) + std::string(1, '\0') + "\x7F";
  TqxStorage storage;
  std::map<std::string, std::string> lastWritten;  // folded name -> the content written last
  std::vector<std::string> names;
  for (std::size_t length = 1; length <= 20; ++length)
    for (std::size_t at = 0; at < length; ++at)
      for (const char mark : marks) {
        std::string name(length, 'q');
        for (std::size_t k = 0; k < length; ++k) name[k] = static_cast<char>((k % 3 == 0 ? 'K' : 'm') + k % 5);
        name[at] = mark;
        names.push_back(name);
        Put(storage, name, name);
        lastWritten[lower(name)] = name;
      }
  // Past the first word a character outside ASCII: the whole name folds by code points.
  Put(storage, "abcdefgh\xC3\x89", "e-acute");
  EXPECT_EQ(storage.StreamCount(), static_cast<int>(lastWritten.size()) + 1);
  const std::uint64_t before = StorageNameComparisons();
  int wrong = 0;
  for (const auto& name : names) wrong += Get(storage, swapCase(name)) != lastWritten[lower(name)];
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(StorageNameComparisons() - before, names.size() + names.size() / 20);
  EXPECT_EQ(Get(storage, "ABCDEFGH\xC3\xA9"), "e-acute");
}

TEST(StorageNames, ThousandsOfRenamesKeepEveryLookUpRight) {
  // Renames take names out of the index and put them back, thousands of
  // times over a table that grows as members arrive: every name must still
  // be found at its place in the directory, and no old name anywhere.
  TqxStorage storage;
  std::vector<std::string> names;  // by directory position
  for (int i = 0; i < 1000; ++i) {
    names.push_back("m" + std::to_string(i));
    Put(storage, names.back(), "");
  }
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t at = rng() % names.size();
    const std::string renamed = "r" + std::to_string(round);
    storage.RenameStream(names[at], renamed);
    EXPECT_FALSE(storage.StreamExists(names[at])) << names[at];
    names[at] = renamed;
  }
  for (int gone = 0; gone < 100; ++gone) {
    const std::size_t at = rng() % names.size();
    storage.DeleteStream(names[at]);
    names.erase(names.begin() + static_cast<std::ptrdiff_t>(at));
  }
  ASSERT_EQ(storage.StreamCount(), static_cast<int>(names.size()));
  int wrong = 0;
  for (std::size_t i = 0; i < names.size(); ++i) wrong += storage.IndexOfStream(names[i]) != static_cast<int>(i);
  EXPECT_EQ(wrong, 0);
  for (int i = 0; i < 1000; ++i) wrong += storage.StreamExists("m" + std::to_string(i)) &&
                                          std::find(names.begin(), names.end(), "m" + std::to_string(i)) == names.end();
  EXPECT_EQ(wrong, 0);
}

TEST(StorageNames, ReadingEveryMemberByNameTakesLinearComparisons) {
  constexpr int kCount = 100000;
  std::vector<std::pair<std::string, std::string>> members;
  members.reserve(kCount);
  for (int i = 0; i < kCount; ++i) members.emplace_back("Page" + std::to_string(i) + ".xml", std::to_string(i));
  TMemoryStream s;
  Fill(s, DirectoryLast(members));
  TqxStorage storage;
  storage.LoadFromStream(s);
  ASSERT_EQ(storage.StreamCount(), kCount);

  const std::uint64_t before = StorageNameComparisons();
  TMemoryStream out;
  for (int i = 0; i < kCount; ++i) {
    storage.ReadStream("PAGE" + std::to_string(i) + ".XML", out);
    ASSERT_EQ(out.Size(), static_cast<std::int64_t>(std::to_string(i).size()));
  }
  EXPECT_LT(StorageNameComparisons() - before, std::uint64_t{2} * kCount);
}

TEST(StorageNames, RepeatedNamesCostOneComparisonAndTheFirstWins) {
  // A file written elsewhere may repeat one name many times; the first entry
  // answers, and deleting or renaming it hands the name to the next one.
  constexpr int kRepeats = 3000;
  std::vector<std::pair<std::string, std::string>> members;
  for (int i = 0; i < kRepeats; ++i) members.emplace_back(i % 2 ? "Same" : "SAME", std::to_string(i));
  members.emplace_back("Other", "o");
  TMemoryStream s;
  Fill(s, DirectoryLast(members));
  TqxStorage storage;
  storage.LoadFromStream(s);

  const std::uint64_t before = StorageNameComparisons();
  for (int i = 0; i < kRepeats; ++i) ASSERT_EQ(storage.IndexOfStream("same"), 0);
  EXPECT_LT(StorageNameComparisons() - before, std::uint64_t{2} * kRepeats);
  EXPECT_EQ(Get(storage, "Same"), "0");
  EXPECT_EQ(storage.IndexOfStream("OTHER"), kRepeats);

  storage.DeleteStream("same");
  EXPECT_EQ(Get(storage, "Same"), "1");
  storage.RenameStream("same", "Renamed");
  EXPECT_EQ(Get(storage, "renamed"), "1");
  EXPECT_EQ(Get(storage, "Same"), "2");
  EXPECT_EQ(storage.IndexOfStream("same"), 1);
  Put(storage, "same", "new");  // the entry that answers is the one written
  EXPECT_EQ(Get(storage, "SAME"), "new");
  EXPECT_EQ(storage.StreamCount(), kRepeats);
  const std::uint64_t after = StorageNameComparisons();
  for (int i = 0; i < kRepeats; ++i) ASSERT_EQ(storage.IndexOfStream("Renamed"), 0);
  EXPECT_LT(StorageNameComparisons() - after, std::uint64_t{2} * kRepeats);
}

}  // namespace
}  // namespace kdl

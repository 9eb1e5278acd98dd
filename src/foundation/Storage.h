// An archive of named byte streams ("members") in one file.
//
// The storage works on a working copy: members that are written live in the
// working stream (memory, a temporary file once MemoryCache is exceeded, or in
// auto-save mode the archive file itself); members that were only loaded stay
// in the source file until they are needed. Saving writes a packed copy.
//
// File layout (little-endian): "STOR", version 1, one ignored byte, the 64-bit
// directory offset, in saved files a 55-byte banner, then at the directory
// offset a 32-bit count and per member its 64-bit offset, 64-bit size, 32-bit
// name length and the name bytes. Saved files put the directory at 69 and pack
// the members behind it in directory order; the working stream keeps its
// directory at 14 and its members anywhere behind it. Files written elsewhere
// may put the directory anywhere, members before or after it; only overlaps
// are refused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/Stream.h"
#include "platform/CriticalSection.h"

namespace kdl {

inline constexpr char kStorageSignature[4] = {'S', 'T', 'O', 'R'};
inline constexpr std::uint8_t kStorageVersion = 1;
inline constexpr std::int64_t kStorageHeaderSize = 14;       // signature, version, spare, dir offset
inline constexpr std::int64_t kStorageBannerSize = 55;
inline constexpr std::int64_t kStorageArchiveDirectory = 69;  // header + banner
inline constexpr std::int64_t kStorageWorkDirectory = 14;
inline constexpr std::int64_t kStorageEntryFixedSize = 20;    // offset, size, name length
inline constexpr std::int64_t kStorageCopyBufferSize = 61440;
inline constexpr std::int32_t kStorageDefaultMemoryCache = 10485760;

struct TqxIndexItem {
  std::string Name;
  bool InSource = false;  // the data still lives in the source file
  std::int64_t Offset = 0;
  std::int64_t Size = 0;
};

// Member names compared by look-ups on this thread so far; tests read it to
// show that a look-up does not walk the directory.
std::uint64_t StorageNameComparisons();

class TqxStorage {
 public:
  TqxStorage();
  ~TqxStorage();
  TqxStorage(const TqxStorage&) = delete;
  TqxStorage& operator=(const TqxStorage&) = delete;

  void Clear();
  // A missing file gives an empty storage without error.
  void LoadFromFile(const std::filesystem::path& fileName);
  void LoadFromStream(TStream& stream);
  // Writes a temporary file beside the target and renames it over the target,
  // so a failure leaves the previous file as it was.
  void SaveToFile(const std::filesystem::path& fileName);
  // Writes the packed archive from the stream's current position.
  void SaveToStream(TStream& stream);
  // Opens (or creates) the archive file as the working stream itself.
  void OpenAutoSave(const std::filesystem::path& fileName);

  // The member's bytes replace the stream's content; its position is left at 0.
  void ReadStream(const std::string& name, TStream& stream);
  // Stores the whole content of the stream, from its start, as the member.
  void WriteStream(const std::string& name, TStream& stream);
  void DeleteStream(const std::string& name);
  // A member that already bears the new name is replaced.
  void RenameStream(const std::string& oldName, const std::string& newName);
  bool StreamExists(const std::string& name);
  int IndexOfStream(const std::string& name);
  std::string GetStreamName(int index);
  int StreamCount();
  // Copies every member still in the source file into the working copy and
  // closes the source.
  void DetachSource();

  // "TMP", seven random digits and the extension, unused in this storage.
  std::string MakeUniqueTempName(const std::string& extension);
  static bool IsTempStreamName(const std::string& name);

  std::filesystem::path FileName() const;
  void SetFileName(const std::filesystem::path& fileName);
  bool AutoSave() const { return autoSave_; }
  void SetAutoSave(bool value);
  std::int32_t MemoryCache() const { return memoryCache_; }
  void SetMemoryCache(std::int32_t value);

  // The directory in member order, for inspection.
  const std::vector<TqxIndexItem>& Items() const { return items_; }
  // 12 + the sum over all entries of (20 + name length).
  std::int64_t DirectorySize() const;

 private:
  class TOperation;
  struct TLayout;

  void Reset();
  void DeleteTempWorkFile();
  void ReadDirectory(TStream& stream);
  void WriteHeader();
  // Moves members out of the directory's way and writes what changed in it.
  void WriteDirectory();
  void WriteDirectoryBytes();
  void WriteArchive(TStream& target);
  void DoDetachSource();
  void DoLoadFromFile(const std::filesystem::path& fileName);
  void DoOpenAutoSave(const std::filesystem::path& fileName);
  std::int64_t UsedEnd() const;
  std::int64_t FindFreeSpace(std::int64_t size, std::int64_t extraDirectory) const;
  // Grows or cuts the working stream to newSize. The caller writes
  // [filledFrom, newSize) at once; a working copy in memory leaves those
  // bytes to that write instead of zeroing them first.
  void SetWorkSize(std::int64_t newSize) { SetWorkSize(newSize, newSize); }
  void SetWorkSize(std::int64_t newSize, std::int64_t filledFrom);
  void SpillToTempFile();
  void MoveBlock(std::int64_t count, std::int64_t dest, std::int64_t source);
  void CopyBetween(TStream& from, std::int64_t fromPos, TStream& to, std::int64_t toPos,
                   std::int64_t count);
  // A new working member behind all entries.
  void AppendEntry(const std::string& name, std::int64_t offset, std::int64_t size, std::uint64_t nameHash);
  void RemoveEntry(int index);
  void RebuildLayout();
  void Track(std::size_t index);
  void Untrack(std::size_t index);
  void MoveEntry(std::size_t index, std::int64_t offset, std::int64_t size);
  std::size_t IndexOfOrder(std::uint64_t order) const;
  int FindEntry(const std::string& name) const;
  int FindEntry(const std::string& name, std::uint64_t nameHash) const;
  void IndexName(std::size_t index) const;

  bool busy_ = false;
  bool autoSave_ = false;
  TCriticalSection lock_;
  std::int32_t memoryCache_ = kStorageDefaultMemoryCache;
  std::unique_ptr<TStream> work_;
  bool workInMemory_ = true;
  std::filesystem::path workFileName_;
  bool workIsTemp_ = true;
  // The temporary file this storage created; removed whatever its name.
  std::filesystem::path tempWorkFile_;
  std::unique_ptr<TFileStream> source_;
  std::filesystem::path sourceFileName_;
  std::vector<TqxIndexItem> items_;
  // Where the working members lie and what the working directory holds,
  // kept in step with items_ so that no write walks the whole directory.
  std::unique_ptr<TLayout> layout_;
  // The layout's name index holds the first position in items_ of each
  // distinct name, built by the first look-up and kept in step by every
  // change of items_ (or dropped, to be built again). Later entries of a
  // name a loaded file repeats are only counted.
  mutable std::size_t nameRepeats_ = 0;
  mutable bool nameIndexValid_ = false;
  std::vector<unsigned char> copyBuffer_;
  std::mt19937 random_;
  bool randomSeeded_ = false;
};

}  // namespace kdl

#include "foundation/Storage.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>
#include <typeinfo>

#include "foundation/QuickMemStream.h"
#include "platform/TempFiles.h"

namespace kdl {

namespace {

constexpr char kNotStorage[] = "File is not a storage file";
constexpr char kFutureVersion[] = "File is wrong (future) version";
constexpr char kNoTempFile[] = "Unable to create temporary file";
constexpr char kBlocksOverlap[] = "Blocks overlap in copying action";
constexpr char kRecursiveCall[] = "Warning: recursive call to qxStorage from event";
// DirectorySize counts from the directory-offset field; the signature,
// version and spare byte before it add these bytes to where data may start.
constexpr std::int64_t kDirectoryHeadroom = 6;
// Members of an empty working copy start this far behind the directory, so
// that a few new names fit without moving anything.
constexpr std::int64_t kFirstMemberGap = 512;
constexpr std::int64_t kDirectoryReadChunk = 65536;
constexpr std::int64_t kFileCopyChunk = std::int64_t{2} << 20;

// The banner after the header of saved files: CR LF, the maker line, CR LF,
// NUL bytes up to its fixed size.
std::string Banner() {
  std::string banner = "\r\nCreated with Folionix - Info: www.kestrune.org\r\n";
  banner.resize(static_cast<std::size_t>(kStorageBannerSize), '\0');
  return banner;
}

void PutInt32(std::string& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

void PutInt64(std::string& out, std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

std::int64_t GetInt(const unsigned char* p, int bytes) {
  std::uint64_t u = 0;
  for (int i = bytes - 1; i >= 0; --i) u = (u << 8) | p[i];
  if (bytes == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(u));
  return static_cast<std::int64_t>(u);
}

void PutEntry(std::string& out, std::int64_t offset, std::int64_t size, const std::string& name) {
  PutInt64(out, offset);
  PutInt64(out, size);
  PutInt32(out, static_cast<std::int32_t>(name.size()));
  out += name;
}

// Member names compare without regard to case. Names are UTF-8; letters of
// the Latin, Greek and Cyrillic alphabets fold, other code points compare
// exactly (bytes that are not valid UTF-8 compare as themselves).
char32_t NextCodePoint(const std::string& s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  auto cont = [&](std::size_t k) {
    return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80;
  };
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  if ((b0 & 0xE0) == 0xC0 && b0 >= 0xC2 && cont(i + 1)) {
    const char32_t c = (char32_t(b0 & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
    i += 2;
    return c;
  }
  if ((b0 & 0xF0) == 0xE0 && cont(i + 1) && cont(i + 2)) {
    const char32_t c = (char32_t(b0 & 0x0F) << 12) |
                       (char32_t(static_cast<unsigned char>(s[i + 1]) & 0x3F) << 6) |
                       (static_cast<unsigned char>(s[i + 2]) & 0x3F);
    i += 3;
    return c;
  }
  // Anything else (four-byte forms included) compares byte by byte, marked
  // so it can never equal a decoded code point.
  ++i;
  return 0x110000 + b0;
}

char32_t FoldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;            // Latin-1
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {                                                   // Latin Extended-A
    const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return oddPairs ? ((c & 1) ? c + 1 : c) : (c & ~char32_t(1));
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;          // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                        // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

thread_local std::uint64_t tNameComparisons = 0;

// A hash that agrees with SameName: over the folded code points.
std::uint64_t FoldedNameHash(const std::string& s) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const char32_t c = b < 0x80 ? (++i, char32_t{b}) : NextCodePoint(s, i);
    h = (h ^ FoldCase(c)) * 1099511628211ull;
  }
  return h;
}

bool SameName(const std::string& a, const std::string& b) {
  // Every fold keeps the length of the UTF-8 form, so lengths must agree.
  if (a.size() != b.size()) return false;
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (FoldCase(ca) != FoldCase(cb)) return false;
      ++i;
      ++j;
    } else if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) {
      return false;
    }
  }
  return i == a.size() && j == b.size();
}

// Memory streams read a copy straight into their block (CopyFrom), growing
// as they go.
bool GrowsByCopy(TStream& stream) {
  return typeid(stream) == typeid(TMemoryStream) || typeid(stream) == typeid(TQuickMemStream);
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

// Reads the directory region in large pieces instead of one call per field;
// every take is checked against the end of the stream.
class DirectoryReader {
 public:
  DirectoryReader(TStream& stream, std::int64_t pos, std::int64_t end)
      : stream_(stream), pos_(pos), end_(end) {}

  std::int64_t Remaining() const { return end_ - pos_ + static_cast<std::int64_t>(buffer_.size() - next_); }
  std::int64_t Position() const { return pos_ - static_cast<std::int64_t>(buffer_.size() - next_); }

  void Take(void* out, std::int64_t count) {
    if (count > Remaining()) throw Exception(kNotStorage);
    auto* p = static_cast<unsigned char*>(out);
    while (count > 0) {
      if (next_ == buffer_.size()) Fill();
      const auto n = std::min<std::int64_t>(count, static_cast<std::int64_t>(buffer_.size() - next_));
      std::memcpy(p, buffer_.data() + next_, static_cast<std::size_t>(n));
      next_ += static_cast<std::size_t>(n);
      p += n;
      count -= n;
    }
  }

  std::int64_t Int(int bytes) {
    unsigned char b[8];
    Take(b, bytes);
    return GetInt(b, bytes);
  }

 private:
  void Fill() {
    const std::int64_t n = std::min(kDirectoryReadChunk, end_ - pos_);
    buffer_.resize(static_cast<std::size_t>(n));
    stream_.Seek(pos_, soBeginning);
    stream_.ReadBuffer(buffer_.data(), n);
    pos_ += n;
    next_ = 0;
  }

  TStream& stream_;
  std::int64_t pos_;
  std::int64_t end_;
  std::vector<unsigned char> buffer_;
  std::size_t next_ = 0;
};

}  // namespace

// Brackets every public operation: takes the lock, refuses a call that comes
// back in on the same thread while an operation runs, and always lets go.
class TqxStorage::TOperation {
 public:
  explicit TOperation(TqxStorage& storage) : storage_(storage) {
    storage_.lock_.Enter();
    if (storage_.busy_) {
      storage_.lock_.Leave();
      throw Exception(kRecursiveCall);
    }
    storage_.busy_ = true;
  }
  ~TOperation() {
    storage_.busy_ = false;
    storage_.lock_.Leave();
  }
  TOperation(const TOperation&) = delete;
  TOperation& operator=(const TOperation&) = delete;

 private:
  TqxStorage& storage_;
};

TqxStorage::TqxStorage()
    : copyBuffer_(static_cast<std::size_t>(kStorageCopyBufferSize)) {
  Reset();
}

TqxStorage::~TqxStorage() {
  work_.reset();
  DeleteTempWorkFile();
}

// ---- State ----------------------------------------------------------------

void TqxStorage::Reset() {
  work_.reset();
  DeleteTempWorkFile();
  workFileName_.clear();
  workIsTemp_ = true;
  source_.reset();
  sourceFileName_.clear();
  items_.clear();
  nameIndexValid_ = false;
  work_ = std::make_unique<TMemoryStream>();
  workInMemory_ = true;
}

void TqxStorage::DeleteTempWorkFile() {
  if (tempWorkFile_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(tempWorkFile_, ec);
  tempWorkFile_.clear();
}

std::int64_t TqxStorage::DirectorySize() const {
  std::int64_t size = 12;
  for (const auto& item : items_)
    size += kStorageEntryFixedSize + static_cast<std::int64_t>(item.Name.size());
  return size;
}

std::int64_t TqxStorage::UsedEnd() const {
  std::int64_t end = 6;
  for (const auto& item : items_)
    if (!item.InSource) end = std::max(end, item.Offset + item.Size);
  return end;
}

std::uint64_t StorageNameComparisons() { return tNameComparisons; }

void TqxStorage::IndexName(std::size_t index) const {
  nameIndex_.emplace(FoldedNameHash(items_[index].Name), index);
}

int TqxStorage::FindEntry(const std::string& name) const {
  if (!nameIndexValid_) {
    nameIndex_.clear();
    nameIndex_.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) IndexName(i);
    nameIndexValid_ = true;
  }
  // A loaded file may hold one name twice; the first in the directory wins.
  int found = -1;
  const auto [first, last] = nameIndex_.equal_range(FoldedNameHash(name));
  for (auto it = first; it != last; ++it) {
    ++tNameComparisons;
    const auto index = static_cast<int>(it->second);
    if ((found < 0 || index < found) && SameName(items_[it->second].Name, name)) found = index;
  }
  return found;
}

// ---- Directory ------------------------------------------------------------

void TqxStorage::ReadDirectory(TStream& stream) {
  // Every number below comes from the file: check each against the stream's
  // real size before it is used, in 64 bits so nothing wraps.
  const std::int64_t fileSize = stream.Size();
  if (fileSize < kStorageHeaderSize) throw Exception(kNotStorage);
  unsigned char header[kStorageHeaderSize];
  stream.Seek(0, soBeginning);
  stream.ReadBuffer(header, kStorageHeaderSize);
  if (std::memcmp(header, kStorageSignature, 4) != 0) throw Exception(kNotStorage);
  if (header[4] > kStorageVersion) throw Exception(kFutureVersion);
  const std::int64_t dirOffset = GetInt(header + 6, 8);
  if (dirOffset < kStorageHeaderSize || dirOffset > fileSize - 4) throw Exception(kNotStorage);

  DirectoryReader reader(stream, dirOffset, fileSize);
  const std::int64_t count = reader.Int(4);
  if (count < 0 || count > reader.Remaining() / kStorageEntryFixedSize) throw Exception(kNotStorage);

  std::vector<TqxIndexItem> items(static_cast<std::size_t>(count));
  const bool inSource = &stream != work_.get();
  for (auto& item : items) {
    item.Offset = reader.Int(8);
    item.Size = reader.Int(8);
    const std::int64_t nameLength = reader.Int(4);
    if (nameLength < 0 || nameLength > reader.Remaining()) throw Exception(kNotStorage);
    item.Name.resize(static_cast<std::size_t>(nameLength));
    reader.Take(item.Name.data(), nameLength);
    if (item.Offset < 0 || item.Size < 0 || item.Offset > fileSize || item.Size > fileSize - item.Offset)
      throw Exception(kNotStorage);
    item.InSource = inSource;
  }

  // Members lie behind the header, outside the directory, and no two share a
  // byte: later writes in place must never damage the directory or a
  // neighbour. The directory itself may stand before, between or after them.
  const std::int64_t dirEnd = reader.Position();
  std::vector<std::pair<std::int64_t, std::int64_t>> blocks;  // offset, end
  blocks.reserve(items.size() + 1);
  blocks.emplace_back(dirOffset, dirEnd);
  for (const auto& item : items)
    if (item.Size > 0) blocks.emplace_back(item.Offset, item.Offset + item.Size);
  std::sort(blocks.begin(), blocks.end());
  std::int64_t end = kStorageHeaderSize;
  for (const auto& [offset, blockEnd] : blocks) {
    if (offset < end) throw Exception(kNotStorage);
    end = blockEnd;
  }
  items_ = std::move(items);
  nameIndexValid_ = false;
}

void TqxStorage::WriteHeader() {
  const char header[6] = {kStorageSignature[0], kStorageSignature[1], kStorageSignature[2],
                          kStorageSignature[3], static_cast<char>(kStorageVersion), 1};
  work_->Seek(0, soBeginning);
  work_->WriteBuffer(header, sizeof header);
}

void TqxStorage::WriteDirectory() {
  // Make room: a longer directory must not run into the lowest members.
  for (;;) {
    const std::int64_t dataStart = DirectorySize() + kDirectoryHeadroom;
    TqxIndexItem* lowest = nullptr;
    for (auto& item : items_)
      if (!item.InSource && (!lowest || item.Offset < lowest->Offset)) lowest = &item;
    if (!lowest || lowest->Offset >= dataStart) break;
    // FindFreeSpace never answers below dataStart, so each pass settles one member.
    const std::int64_t place = FindFreeSpace(lowest->Size, 0);
    if (UsedEnd() < place + lowest->Size) SetWorkSize(place + lowest->Size);
    MoveBlock(lowest->Size, place, lowest->Offset);
    lowest->Offset = place;
  }

  std::string bytes;
  PutInt64(bytes, kStorageWorkDirectory);
  std::int32_t count = 0;
  for (const auto& item : items_) count += item.InSource ? 0 : 1;
  PutInt32(bytes, count);
  for (const auto& item : items_)
    if (!item.InSource) PutEntry(bytes, item.Offset, item.Size, item.Name);
  work_->Seek(6, soBeginning);
  work_->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void TqxStorage::WriteArchive(TStream& target) {
  // The packed layout: header, banner, directory, then the members in
  // directory order without gaps. Written sequentially from the target's
  // current position.
  std::string bytes(kStorageSignature, 4);
  bytes.push_back(static_cast<char>(kStorageVersion));
  bytes.push_back(1);
  PutInt64(bytes, kStorageArchiveDirectory);
  bytes += Banner();
  PutInt32(bytes, static_cast<std::int32_t>(items_.size()));
  std::int64_t offset = DirectorySize() + kStorageBannerSize + kDirectoryHeadroom;
  for (const auto& item : items_) {
    PutEntry(bytes, offset, item.Size, item.Name);
    offset += item.Size;
  }
  target.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  for (const auto& item : items_)
    CopyBetween(item.InSource ? *source_ : *work_, item.Offset, target, -1, item.Size);
}

// ---- Placement ------------------------------------------------------------

std::int64_t TqxStorage::FindFreeSpace(std::int64_t size, std::int64_t extraDirectory) const {
  // First fit among the gaps between working members, never below the end of
  // the directory (extraDirectory: bytes the directory is about to grow by).
  // Empty members occupy nothing and are left out.
  const std::int64_t dataStart = DirectorySize() + extraDirectory + kDirectoryHeadroom;
  std::vector<const TqxIndexItem*> members;
  for (const auto& item : items_)
    if (!item.InSource && item.Size > 0) members.push_back(&item);
  if (members.empty()) return std::max(DirectorySize() + kFirstMemberGap, dataStart);
  std::sort(members.begin(), members.end(),
            [](const TqxIndexItem* a, const TqxIndexItem* b) { return a->Offset < b->Offset; });
  for (std::size_t i = 0; i + 1 < members.size(); ++i) {
    const std::int64_t gapStart = std::max(members[i]->Offset + members[i]->Size, dataStart);
    if (members[i + 1]->Offset >= gapStart && members[i + 1]->Offset - gapStart >= size)
      return gapStart;
  }
  std::int64_t end = 0;
  for (const auto* m : members) end = std::max(end, m->Offset + m->Size);
  return std::max(end, dataStart);
}

void TqxStorage::SetWorkSize(std::int64_t newSize) {
  const std::int64_t current = work_->Size();
  if (current == newSize) return;
  if (newSize > current && workInMemory_ && newSize > memoryCache_) SpillToTempFile();
  work_->SetSize(newSize);
}

void TqxStorage::SpillToTempFile() {
  // On failure the memory stream stays the working copy: nothing unsaved is lost.
  std::filesystem::path path;
  try {
    path = CreateUniqueFile("~TMP", TempDirectory(), ".tmp");
  } catch (const std::exception&) {
    throw Exception(kNoTempFile);
  }
  try {
    auto file = std::make_unique<TFileStream>(path, fmOpenReadWrite);
    auto& memory = static_cast<TMemoryStream&>(*work_);
    file->WriteBuffer(memory.Memory(), memory.Size());
    work_ = std::move(file);
    workInMemory_ = false;
    workFileName_ = path;
    tempWorkFile_ = path;
  } catch (const std::exception&) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    throw Exception(kNoTempFile);
  }
}

void TqxStorage::MoveBlock(std::int64_t count, std::int64_t dest, std::int64_t source) {
  if (count <= 0 || dest == source) return;
  // Chunks go from low to high addresses, which is safe only downwards.
  if (dest > source && dest < source + count) throw Exception(kBlocksOverlap);
  if (workInMemory_) {
    auto& memory = static_cast<TMemoryStream&>(*work_);
    if (source + count > memory.Size() || dest + count > memory.Size())
      throw EReadError("Stream read error");
    auto* base = static_cast<unsigned char*>(memory.Memory());
    std::memmove(base + dest, base + source, static_cast<std::size_t>(count));
    return;
  }
  for (std::int64_t done = 0; done < count;) {
    const std::int64_t n = std::min(count - done, kStorageCopyBufferSize);
    work_->Seek(source + done, soBeginning);
    work_->ReadBuffer(copyBuffer_.data(), n);
    work_->Seek(dest + done, soBeginning);
    work_->WriteBuffer(copyBuffer_.data(), n);
    done += n;
  }
}

void TqxStorage::CopyBetween(TStream& from, std::int64_t fromPos, TStream& to, std::int64_t toPos,
                             std::int64_t count) {
  // toPos < 0: at the target's current position. A memory stream on either
  // side is read or written in place, without the detour through the buffer.
  if (count <= 0) return;
  from.Seek(fromPos, soBeginning);
  if (toPos >= 0) to.Seek(toPos, soBeginning);
  // Only a plain memory stream: a derived one may do more in Read or Write.
  if (auto* memFrom = typeid(from) == typeid(TMemoryStream) ? static_cast<TMemoryStream*>(&from) : nullptr;
      memFrom && memFrom != &to) {
    if (fromPos > memFrom->Size() || count > memFrom->Size() - fromPos) throw EReadError("Stream read error");
    to.WriteBuffer(static_cast<const unsigned char*>(memFrom->Memory()) + fromPos, count);
    return;
  }
  if (GrowsByCopy(to)) {
    to.CopyFrom(from, count);
    return;
  }
  // Between files the bytes go in large pieces: the page cache then holds the
  // written archive in large folios, and reading it back later costs about
  // half as much as after small writes.
  const std::int64_t chunk = std::min(count, kFileCopyChunk);
  const std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(chunk)]);
  for (std::int64_t done = 0; done < count;) {
    const std::int64_t n = std::min(count - done, chunk);
    from.ReadBuffer(buffer.get(), n);
    to.WriteBuffer(buffer.get(), n);
    done += n;
  }
}

void TqxStorage::RemoveEntry(int index) {
  items_.erase(items_.begin() + index);
  // Every later position moves down by one: build the index again when next needed.
  nameIndexValid_ = false;
}

// ---- Loading and saving ---------------------------------------------------

void TqxStorage::Clear() {
  TOperation op(*this);
  Reset();
}

void TqxStorage::LoadFromFile(const std::filesystem::path& fileName) {
  TOperation op(*this);
  DoLoadFromFile(fileName);
}

void TqxStorage::DoLoadFromFile(const std::filesystem::path& fileName) {
  Reset();
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) return;
  try {
    source_ = std::make_unique<TFileStream>(fileName, fmOpenRead);
    sourceFileName_ = fileName;
    ReadDirectory(*source_);
    WriteHeader();
    WriteDirectory();
  } catch (...) {
    Reset();
    throw;
  }
}

void TqxStorage::LoadFromStream(TStream& stream) {
  TOperation op(*this);
  Reset();
  try {
    const std::int64_t size = stream.Size();
    // The memory stream grows by the copy; only a spill needs the size first.
    if (!workInMemory_ || size > memoryCache_) SetWorkSize(size);
    CopyBetween(stream, 0, *work_, 0, size);
    ReadDirectory(*work_);
  } catch (...) {
    Reset();
    throw;
  }
}

void TqxStorage::OpenAutoSave(const std::filesystem::path& fileName) {
  TOperation op(*this);
  DoOpenAutoSave(fileName);
}

void TqxStorage::DoOpenAutoSave(const std::filesystem::path& fileName) {
  Reset();
  try {
    workIsTemp_ = false;
    workFileName_ = fileName;
    std::error_code ec;
    const bool exists = std::filesystem::exists(fileName, ec);
    work_ = std::make_unique<TFileStream>(fileName, exists ? fmOpenReadWrite : fmCreate);
    workInMemory_ = false;
    if (exists) {
      ReadDirectory(*work_);
    } else {
      WriteHeader();
      WriteDirectory();
    }
  } catch (...) {
    Reset();
    throw;
  }
}

void TqxStorage::SaveToFile(const std::filesystem::path& fileName) {
  TOperation op(*this);
  // Identity, not spelling, decides "same file": a link or another path to
  // the open file must be recognised too.
  if (!workIsTemp_ && !workFileName_.empty() && SameFile(fileName, workFileName_)) return;
  if (!sourceFileName_.empty() && SameFile(fileName, sourceFileName_)) DoDetachSource();
  WriteFileAtomically(fileName, [this](TStream& out) { WriteArchive(out); });
}

void TqxStorage::SaveToStream(TStream& stream) {
  TOperation op(*this);
  WriteArchive(stream);
}

void TqxStorage::DetachSource() {
  TOperation op(*this);
  DoDetachSource();
}

void TqxStorage::DoDetachSource() {
  for (auto& item : items_) {
    if (!item.InSource) continue;
    const std::int64_t place = FindFreeSpace(item.Size, 0);
    if (UsedEnd() < place + item.Size) SetWorkSize(place + item.Size);
    CopyBetween(*source_, item.Offset, *work_, place, item.Size);
    item.InSource = false;
    item.Offset = place;
  }
  WriteDirectory();
  source_.reset();
  sourceFileName_.clear();
}

// ---- Members --------------------------------------------------------------

void TqxStorage::ReadStream(const std::string& name, TStream& stream) {
  TOperation op(*this);
  const int index = FindEntry(name);
  if (index < 0) throw Exception("Stream \"" + name + "\" not found in the storage");
  const TqxIndexItem& item = items_[static_cast<std::size_t>(index)];
  // A memory stream grows by the copy itself, without zeroing the bytes it
  // receives; it is only cut here.
  if (!GrowsByCopy(stream) || stream.Size() > item.Size) stream.SetSize(item.Size);
  CopyBetween(item.InSource ? *source_ : *work_, item.Offset, stream, 0, item.Size);
  stream.SetPosition(0);
}

void TqxStorage::WriteStream(const std::string& name, TStream& stream) {
  TOperation op(*this);
  const std::int64_t size = stream.Size();
  const int index = FindEntry(name);
  if (index < 0 || items_[static_cast<std::size_t>(index)].InSource) {
    // A new member, or one that still lives in the source: a fresh place.
    const std::int64_t oldNameLength = index < 0 ? -kStorageEntryFixedSize
                                                 : static_cast<std::int64_t>(items_[static_cast<std::size_t>(index)].Name.size());
    const std::int64_t extra = static_cast<std::int64_t>(name.size()) - oldNameLength;
    const std::int64_t place = FindFreeSpace(size, std::max<std::int64_t>(extra, 0));
    if (UsedEnd() < place + size) SetWorkSize(place + size);
    CopyBetween(stream, 0, *work_, place, size);
    TqxIndexItem entry{name, false, place, size};
    if (index < 0) {
      items_.push_back(std::move(entry));
      if (nameIndexValid_) IndexName(items_.size() - 1);
    } else {
      // The new spelling folds to the same hash: the index stays as it is.
      items_[static_cast<std::size_t>(index)] = std::move(entry);
    }
  } else {
    // A working member keeps its spelling; it moves only when it grows.
    TqxIndexItem& item = items_[static_cast<std::size_t>(index)];
    std::int64_t place = item.Offset;
    if (size > item.Size) {
      place = FindFreeSpace(size, 0);
      if (UsedEnd() < place + size) SetWorkSize(place + size);
    }
    CopyBetween(stream, 0, *work_, place, size);
    item.Offset = place;
    item.Size = size;
  }
  WriteDirectory();
}

void TqxStorage::DeleteStream(const std::string& name) {
  TOperation op(*this);
  const int index = FindEntry(name);
  if (index < 0) return;
  RemoveEntry(index);
  SetWorkSize(UsedEnd());
  WriteDirectory();
}

void TqxStorage::RenameStream(const std::string& oldName, const std::string& newName) {
  TOperation op(*this);
  int index = FindEntry(oldName);
  if (index < 0) return;
  // Two members of one name could never both be reached: the old one goes.
  const int other = FindEntry(newName);
  if (other >= 0 && other != index) {
    RemoveEntry(other);
    if (other < index) --index;
    SetWorkSize(UsedEnd());
  }
  auto& item = items_[static_cast<std::size_t>(index)];
  if (nameIndexValid_) {
    const auto [first, last] = nameIndex_.equal_range(FoldedNameHash(item.Name));
    for (auto it = first; it != last; ++it)
      if (it->second == static_cast<std::size_t>(index)) {
        nameIndex_.erase(it);
        break;
      }
  }
  item.Name = newName;
  if (nameIndexValid_) IndexName(static_cast<std::size_t>(index));
  WriteDirectory();
}

bool TqxStorage::StreamExists(const std::string& name) {
  TOperation op(*this);
  return FindEntry(name) >= 0;
}

int TqxStorage::IndexOfStream(const std::string& name) {
  TOperation op(*this);
  return FindEntry(name);
}

std::string TqxStorage::GetStreamName(int index) {
  TOperation op(*this);
  if (index < 0 || index >= static_cast<int>(items_.size())) return {};
  return items_[static_cast<std::size_t>(index)].Name;
}

int TqxStorage::StreamCount() {
  TOperation op(*this);
  return static_cast<int>(items_.size());
}

std::string TqxStorage::MakeUniqueTempName(const std::string& extension) {
  TOperation op(*this);
  if (!randomSeeded_) {
    random_.seed(std::random_device{}());
    randomSeeded_ = true;
  }
  std::uniform_int_distribution<int> digits(0, 9999999);
  for (;;) {
    char number[8] = {'0', '0', '0', '0', '0', '0', '0', '0'};
    char text[8];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, digits(random_));
    (void)ec;
    const auto length = static_cast<std::size_t>(end - text);
    std::memcpy(number + 7 - length, text, length);
    std::string name = "TMP" + std::string(number, 7) + extension;
    if (FindEntry(name) < 0) return name;
  }
}

bool TqxStorage::IsTempStreamName(const std::string& name) {
  return name.compare(0, 3, "TMP") == 0;
}

// ---- Properties -----------------------------------------------------------

std::filesystem::path TqxStorage::FileName() const {
  return autoSave_ ? workFileName_ : sourceFileName_;
}

void TqxStorage::SetFileName(const std::filesystem::path& fileName) {
  TOperation op(*this);
  if (fileName.native() == FileName().native()) return;
  if (autoSave_) DoOpenAutoSave(fileName);
  else DoLoadFromFile(fileName);
}

void TqxStorage::SetAutoSave(bool value) {
  TOperation op(*this);
  if (value == autoSave_) return;
  const auto name = FileName();
  autoSave_ = value;
  if (name.empty()) return;
  if (autoSave_) DoOpenAutoSave(name);
  else DoLoadFromFile(name);
}

void TqxStorage::SetMemoryCache(std::int32_t value) {
  TOperation op(*this);
  if (value == memoryCache_) return;
  memoryCache_ = value;
  SetWorkSize(UsedEnd());
  // Cutting the working stream to its members may have cut its directory.
  WriteDirectory();
}

}  // namespace kdl

#include "foundation/Storage.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <typeinfo>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

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
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
  out.append(bytes, 4);
}

void PutInt64(std::string& out, std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
  out.append(bytes, 8);
}

std::int64_t GetInt(const unsigned char* p, int bytes) {
  std::uint64_t u = 0;
  for (int i = bytes - 1; i >= 0; --i) u = (u << 8) | p[i];
  if (bytes == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(u));
  return static_cast<std::int64_t>(u);
}

void StoreLittleEndian(char* at, std::uint64_t u, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

void PutEntry(std::string& out, std::int64_t offset, std::int64_t size, const std::string& name) {
  // One growth per entry instead of four appends.
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(kStorageEntryFixedSize) + name.size());
  char* p = out.data() + at;
  StoreLittleEndian(p, static_cast<std::uint64_t>(offset), 8);
  StoreLittleEndian(p + 8, static_cast<std::uint64_t>(size), 8);
  StoreLittleEndian(p + 16, static_cast<std::uint32_t>(name.size()), 4);
  if (!name.empty()) std::memcpy(p + kStorageEntryFixedSize, name.data(), name.size());
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

// An ASCII name, as most are, hashes eight bytes at a time: its capitals
// fold by bit arithmetic on the word. Only another ASCII name can equal it
// under SameName (any other byte either joins others into one code point or
// stands for one no ASCII letter folds to), so the two hashes need not agree.
bool AsciiNameHash(const std::string& s, std::uint64_t& hash) {
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  const std::size_t size = s.size();
  const char* data = s.data();
  std::uint64_t h = 0x243F6A8885A308D3ull ^ size;
  for (std::size_t i = 0; i < size; i += 8) {
    // The word of the bytes from i, zero above the name's end. A short tail
    // is read as the last eight bytes, shifted down: fixed-size loads stay
    // single moves where a copy of varying length is a call.
    std::uint64_t w = 0;
    if (size - i >= 8) {
      std::memcpy(&w, data + i, 8);
    } else if (size >= 8) {
      std::memcpy(&w, data + size - 8, 8);
      w >>= 8 * (8 - (size - i));
    } else {
      for (std::size_t k = size; k-- > 0;) w = (w << 8) | static_cast<unsigned char>(data[k]);
    }
    if (w & kHigh) return false;
    // A byte at or above 'A' and below '[' gets 0x20: no carry crosses bytes below 0x80.
    const std::uint64_t capitals = (w + 0x3F3F3F3F3F3F3F3Full) & ~(w + 0x2525252525252525ull) & kHigh;
    h = (h ^ (w | (capitals >> 2))) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  hash = h;
  return true;
}

// A hash that agrees with SameName: over the folded code points.
std::uint64_t FoldedNameHash(const std::string& s) {
  if (std::uint64_t ascii; AsciiNameHash(s, ascii)) return ascii;
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    char32_t c;
    if (b < 0x80) {
      // ASCII, which most names are entirely, folds without the table walk.
      c = (b >= 'A' && b <= 'Z') ? char32_t{b} + 32 : char32_t{b};
      ++i;
    } else {
      c = FoldCase(NextCodePoint(s, i));
    }
    h = (h ^ c) * 1099511628211ull;
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

constexpr int kBlockBits = 16;
constexpr std::int64_t kBlockBytes = std::int64_t{1} << kBlockBits;

#if defined(__x86_64__)
bool FastStringMoves() {
  static const bool fast = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & (1u << 9)) != 0;
  }();
  return fast;
}
#endif

// Bytes into the working copy. From a kilobyte on, where the processor moves
// strings fast, its string move writes whole cache lines without fetching
// them first: a member copied into a working copy that has left the caches
// then costs one pass over memory instead of two.
inline void CopyInto(unsigned char* to, const unsigned char* from, std::size_t count) {
#if defined(__x86_64__)
  if (count >= 1024 && FastStringMoves()) {
    asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(count) : : "memory");
    return;
  }
#endif
  std::memcpy(to, from, count);
}

// Blocks of closed working copies, kept for the next ones up to a limit: the
// allocator would hand so many freed blocks back to the system at once, and
// touching fresh pages again costs far more than the blocks save. Shared by
// every storage, on any thread.
class TBlockCache {
 public:
  static constexpr std::size_t kKeptBlocks = 256;  // 16 MiB

  unsigned char* Take() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        unsigned char* block = free_.back();
        free_.pop_back();
        return block;
      }
    }
    // Not zeroed: a block stream never shows bytes it was not given.
    return new unsigned char[static_cast<std::size_t>(kBlockBytes)];
  }

  void Give(unsigned char* block) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (free_.size() < kKeptBlocks) {
        free_.push_back(block);
        return;
      }
    }
    delete[] block;
  }

 private:
  std::mutex mutex_;
  std::vector<unsigned char*> free_;
};

// Never destroyed, so that a storage that outlives static destruction can
// still give its blocks back.
TBlockCache& BlockCache() {
  static TBlockCache* const cache = new TBlockCache;
  return *cache;
}

// The working copy in memory, in blocks of a fixed size: growing it never
// copies what it holds, where one block copied its whole content at every
// growth. As in a memory stream, every byte it has not been given reads as
// zero: the bytes past the size are left as they come and zeroed only when a
// growth exposes them.
class TBlockStream final : public TStream {
 public:
  TBlockStream() = default;
  ~TBlockStream() override { Release(0); }
  TBlockStream(const TBlockStream&) = delete;
  TBlockStream& operator=(const TBlockStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override {
    if (count <= 0 || position_ >= size_) return 0;
    const std::int64_t n = std::min(count, size_ - position_);
    auto* out = static_cast<unsigned char*>(buffer);
    ForSpans(position_, n, [&](unsigned char* span, std::int64_t length) {
      std::memcpy(out, span, static_cast<std::size_t>(length));
      out += length;
    });
    position_ += n;
    return n;
  }

  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (count <= 0) return 0;
    const std::int64_t end = Grow(count);
    const auto* in = static_cast<const unsigned char*>(buffer);
    ForSpans(position_, count, [&](unsigned char* span, std::int64_t length) {
      CopyInto(span, in, static_cast<std::size_t>(length));
      in += length;
    });
    position_ = end;
    return count;
  }

  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : size_;
    if (base + offset < 0) throw EStreamError("Invalid stream position");
    // Past the end is allowed; the next write zeroes the gap.
    position_ = base + offset;
    return position_;
  }

  std::int64_t Size() override { return size_; }

  void SetSize(std::int64_t size) override {
    if (size < 0) throw EStreamError("Invalid stream size");
    Reserve(size);
    Zero(size_, size);
    size_ = size;
    if (position_ > size_) position_ = size_;
    // Blocks wholly past the end go back: a cut frees its memory.
    Release(static_cast<std::size_t>((size_ + kBlockBytes - 1) >> kBlockBits));
  }

  // Reads the source straight into the blocks. A short source raises
  // EReadError and keeps the old size.
  std::int64_t CopyFrom(TStream& source, std::int64_t count) override {
    // From itself it could read bytes it is overwriting.
    if (&source == this) return TStream::CopyFrom(source, count);
    if (count == 0) {
      source.SetPosition(0);
      count = source.Size();
    }
    if (count <= 0) return 0;
    const std::int64_t at = position_;
    const std::int64_t oldSize = size_;
    const std::int64_t end = Grow(count);
    try {
      ForSpans(at, count, [&](unsigned char* span, std::int64_t length) { source.ReadBuffer(span, length); });
    } catch (...) {
      size_ = oldSize;
      throw;
    }
    position_ = end;
    return count;
  }

  // Moves count bytes within the stream, piece by piece from low to high
  // addresses: dest must lie below source, or the two apart.
  void Move(std::int64_t count, std::int64_t dest, std::int64_t source) {
    if (source + count > size_ || dest + count > size_) throw EReadError("Stream read error");
    for (std::int64_t done = 0; done < count;) {
      const std::int64_t from = source + done, to = dest + done;
      const std::int64_t n = std::min({count - done, kBlockBytes - (from & (kBlockBytes - 1)),
                                       kBlockBytes - (to & (kBlockBytes - 1))});
      std::memmove(At(to), At(from), static_cast<std::size_t>(n));
      done += n;
    }
  }

  // Hands [from, from + count) to write piece by piece, in order.
  template <typename Write>
  void WriteRange(std::int64_t from, std::int64_t count, Write&& write) {
    if (from > size_ || count > size_ - from) throw EReadError("Stream read error");
    ForSpans(from, count, [&](unsigned char* span, std::int64_t length) { write(span, length); });
  }

 private:
  unsigned char* At(std::int64_t pos) {
    return blocks_[static_cast<std::size_t>(pos >> kBlockBits)] + (pos & (kBlockBytes - 1));
  }

  template <typename Visit>
  void ForSpans(std::int64_t pos, std::int64_t count, Visit&& visit) {
    while (count > 0) {
      const std::int64_t n = std::min(count, kBlockBytes - (pos & (kBlockBytes - 1)));
      visit(At(pos), n);
      pos += n;
      count -= n;
    }
  }

  // Makes room for count bytes at the position and takes them into the
  // size, zeroing any gap before them; returns their end.
  std::int64_t Grow(std::int64_t count) {
    if (position_ > std::numeric_limits<std::int64_t>::max() - count) throw EStreamError("Stream too large");
    const std::int64_t end = position_ + count;
    if (end > size_) {
      Reserve(end);
      Zero(size_, position_);
      size_ = end;
    }
    return end;
  }

  void Reserve(std::int64_t end) {
    const auto needed = static_cast<std::size_t>((end + kBlockBytes - 1) >> kBlockBits);
    if (needed <= blocks_.size()) return;
    try {
      // Reserved first, so that no block taken can be lost to a failed push.
      blocks_.reserve(std::max(needed, 2 * blocks_.size()));
      while (blocks_.size() < needed) blocks_.push_back(BlockCache().Take());
    } catch (const std::bad_alloc&) {
      throw EStreamError("Out of memory while expanding memory stream");
    }
  }

  void Release(std::size_t keep) {
    while (blocks_.size() > keep) {
      BlockCache().Give(blocks_.back());
      blocks_.pop_back();
    }
  }

  void Zero(std::int64_t from, std::int64_t to) {
    if (to > from)
      ForSpans(from, to - from, [](unsigned char* span, std::int64_t length) {
        std::memset(span, 0, static_cast<std::size_t>(length));
      });
  }

  std::vector<unsigned char*> blocks_;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};

// Memory streams read a copy straight into their block (CopyFrom), growing
// as they go.
bool GrowsByCopy(TStream& stream) {
  return typeid(stream) == typeid(TMemoryStream) || typeid(stream) == typeid(TQuickMemStream) ||
         typeid(stream) == typeid(TBlockStream);
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

// The gaps between consecutive working members that hold bytes, empty ones
// included, keyed by where they start. A treap whose nodes know the largest
// gap below them: the first gap of a given length at or after a given place
// is found without visiting the others.
class TGapTree {
 public:
  void Clear() {
    nodes_.clear();
    free_.clear();
    root_ = -1;
  }

  // Gaps without length are not kept: only an empty member could use one,
  // and FindFreeSpace finds those from the members themselves.
  void Insert(std::int64_t start, std::int64_t length) {
    if (length <= 0) return;
    int node;
    if (!free_.empty()) {
      node = free_.back();
      free_.pop_back();
    } else {
      node = static_cast<int>(nodes_.size());
      nodes_.emplace_back();
    }
    // xorshift: the shape of the tree never shows in any result.
    seed_ ^= seed_ << 13;
    seed_ ^= seed_ >> 17;
    seed_ ^= seed_ << 5;
    nodes_[static_cast<std::size_t>(node)] = Node{start, length, length, seed_, -1, -1};
    int less, rest;
    Split(root_, start, less, rest);
    root_ = Merge(Merge(less, node), rest);
  }

  // A start that holds no gap changes nothing.
  void Erase(std::int64_t start) {
    int less, rest, same, more;
    Split(root_, start, less, rest);
    Split(rest, start + 1, same, more);
    if (same >= 0) free_.push_back(same);
    root_ = Merge(less, more);
  }

  // Where the first gap at or after from that is at least size long starts;
  // -1 when there is none.
  std::int64_t FirstFit(std::int64_t from, std::int64_t size) const { return Find(root_, from, size); }

 private:
  struct Node {
    std::int64_t start, length, largest;
    std::uint32_t priority;
    int left, right;
  };

  Node& At(int n) { return nodes_[static_cast<std::size_t>(n)]; }
  const Node& At(int n) const { return nodes_[static_cast<std::size_t>(n)]; }

  void Update(int n) {
    Node& x = At(n);
    x.largest = x.length;
    if (x.left >= 0) x.largest = std::max(x.largest, At(x.left).largest);
    if (x.right >= 0) x.largest = std::max(x.largest, At(x.right).largest);
  }

  // less: the gaps starting before key; rest: the others.
  void Split(int n, std::int64_t key, int& less, int& rest) {
    if (n < 0) {
      less = rest = -1;
      return;
    }
    if (At(n).start < key) {
      Split(At(n).right, key, At(n).right, rest);
      less = n;
    } else {
      Split(At(n).left, key, less, At(n).left);
      rest = n;
    }
    Update(n);
  }

  int Merge(int a, int b) {
    if (a < 0) return b;
    if (b < 0) return a;
    if (At(a).priority > At(b).priority) {
      At(a).right = Merge(At(a).right, b);
      Update(a);
      return a;
    }
    At(b).left = Merge(a, At(b).left);
    Update(b);
    return b;
  }

  std::int64_t Find(int n, std::int64_t from, std::int64_t size) const {
    if (n < 0 || At(n).largest < size) return -1;
    const Node& x = At(n);
    if (x.start < from) return Find(x.right, from, size);
    const std::int64_t left = Find(x.left, from, size);
    if (left >= 0) return left;
    if (x.length >= size) return x.start;
    return Find(x.right, from, size);
  }

  std::vector<Node> nodes_;
  std::vector<int> free_;
  int root_ = -1;
  std::uint32_t seed_ = 2463534242u;
};

// Where each entry of the working directory starts: the header's 14 bytes
// and the count come first.
constexpr std::int64_t kFirstEntryAt = kStorageHeaderSize + 4;

// Nodes for the layout's ordered sets, which take one node per member and
// give it back when the member goes: from a free list over blocks kept for
// the layout's life, where the general heap cost more than the rest of a
// small member's write. Larger requests go to the heap.
class TNodePool {
 public:
  static constexpr std::size_t kNodeBytes = 64;

  TNodePool() = default;
  TNodePool(const TNodePool&) = delete;
  TNodePool& operator=(const TNodePool&) = delete;

  void* Take() {
    if (free_) {
      void* node = free_;
      free_ = free_->next;
      return node;
    }
    if (blocks_.empty() || used_ == kNodesPerBlock) {
      blocks_.push_back(std::make_unique<Node[]>(kNodesPerBlock));
      used_ = 0;
    }
    return &blocks_.back()[used_++];
  }
  void Give(void* node) {
    auto* n = static_cast<Node*>(node);
    n->next = free_;
    free_ = n;
  }

 private:
  union Node {
    Node* next;
    alignas(std::max_align_t) unsigned char bytes[kNodeBytes];
  };
  static constexpr std::size_t kNodesPerBlock = 256;

  std::vector<std::unique_ptr<Node[]>> blocks_;
  std::size_t used_ = 0;
  Node* free_ = nullptr;
};

// Folded-name hash to a position in items_, in one flat table probed in
// line: a look-up reads a cache line or two and allocates nothing, where a
// node-based map cost a small member's write more than its bytes did. A slot
// keeps 32 bits of the hash and the position, eight bytes, so that the table
// of a large archive stays in the caches. Kept at most half full, so every
// probe meets an empty slot.
class TNameIndex {
 public:
  // Empties the table, sized for expected entries.
  void Clear(std::size_t expected) {
    int bits = 4;
    while ((std::size_t{1} << bits) < 2 * expected) ++bits;
    Resize(bits);
    count_ = 0;
  }

  // Calls visit(index) for each position stored under hash, in probe order,
  // until it returns true; visit may change the position it is given.
  template <typename Visit>
  void ForEach(std::uint64_t hash, Visit&& visit) {
    if (slots_.empty()) return;
    const std::uint32_t tag = Tag(hash);
    for (std::size_t i = Home(tag);; i = (i + 1) & Mask()) {
      Slot& slot = slots_[i];
      if (slot.entry == 0) return;
      if (slot.tag != tag) continue;
      std::size_t index = slot.entry - 1;
      const bool done = visit(index);
      slot.entry = static_cast<std::uint32_t>(index + 1);
      if (done) return;
    }
  }

  void Insert(std::uint64_t hash, std::size_t index) {
    if (2 * (count_ + 1) > slots_.size()) {
      std::vector<Slot> old;
      old.swap(slots_);
      // Small tables grow fourfold: a run of appends then rebuilds them fewer times.
      Resize(bits_ + (bits_ < 12 ? 2 : 1));
      for (const Slot& slot : old)
        if (slot.entry != 0) Place(slot);
    }
    Place(Slot{Tag(hash), static_cast<std::uint32_t>(index + 1)});
    ++count_;
  }

  // Removes the entry under hash that holds index, if there is one.
  void Erase(std::uint64_t hash, std::size_t index) {
    if (slots_.empty()) return;
    const Slot gone{Tag(hash), static_cast<std::uint32_t>(index + 1)};
    std::size_t hole = Home(gone.tag);
    for (;; hole = (hole + 1) & Mask()) {
      if (slots_[hole].entry == 0) return;
      if (slots_[hole].tag == gone.tag && slots_[hole].entry == gone.entry) break;
    }
    // Entries further along the run move back into the hole unless their
    // home lies after it, so no later probe stops short of them.
    for (std::size_t j = (hole + 1) & Mask(); slots_[j].entry != 0; j = (j + 1) & Mask()) {
      const std::size_t home = Home(slots_[j].tag);
      const bool homeAfterHole = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (homeAfterHole) continue;
      slots_[hole] = slots_[j];
      hole = j;
    }
    slots_[hole] = Slot{};
    --count_;
  }

 private:
  // entry: the position plus one; 0 marks an empty slot, so a new table is
  // just zeroed memory.
  struct Slot {
    std::uint32_t tag = 0;
    std::uint32_t entry = 0;
  };

  static std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash ^ (hash >> 32)); }
  void Resize(int bits) {
    bits_ = bits;
    slots_ = std::vector<Slot>(std::size_t{1} << bits);
  }
  std::size_t Mask() const { return slots_.size() - 1; }
  // The top bits of a Fibonacci product: every bit of the tag counts.
  std::size_t Home(std::uint32_t tag) const {
    return static_cast<std::size_t>((tag * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
  }
  void Place(const Slot& slot) {
    std::size_t i = Home(slot.tag);
    while (slots_[i].entry != 0) i = (i + 1) & Mask();
    slots_[i] = slot;
  }

  std::vector<Slot> slots_;
  int bits_ = 0;
  std::size_t count_ = 0;
};

template <typename T>
struct TPoolAllocator {
  using value_type = T;
  static constexpr bool kPooled = sizeof(T) <= TNodePool::kNodeBytes && alignof(T) <= alignof(std::max_align_t);

  explicit TPoolAllocator(TNodePool& pool) : pool(&pool) {}
  template <typename U>
  TPoolAllocator(const TPoolAllocator<U>& other) : pool(other.pool) {}

  T* allocate(std::size_t n) {
    if (kPooled && n == 1) return static_cast<T*>(pool->Take());
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) {
    if (kPooled && n == 1) pool->Give(p);
    else std::allocator<T>().deallocate(p, n);
  }
  template <typename U>
  bool operator==(const TPoolAllocator<U>& other) const { return pool == other.pool; }

  TNodePool* pool;
};

}  // namespace

struct TqxStorage::TLayout {
  using OffsetOrder = std::pair<std::int64_t, std::uint64_t>;
  using OffsetEnd = std::pair<const std::int64_t, std::int64_t>;

  // Declared before the sets that use it, so it outlives them.
  TNodePool nodes;
  // Built by the first look-up and kept in step by every change of items_
  // (or dropped, to be built again); see TqxStorage::nameIndexValid_.
  TNameIndex names;
  // Per entry, rising in directory order: tells entries apart in the sets
  // below while positions in items_ shift.
  std::vector<std::uint64_t> order;
  std::uint64_t nextOrder = 0;
  // Every working member by offset, the first in directory order first.
  std::set<OffsetOrder, std::less<>, TPoolAllocator<OffsetOrder>> byOffset{TPoolAllocator<OffsetOrder>(nodes)};
  // Working members that hold bytes (they never share one): offset to end.
  std::map<std::int64_t, std::int64_t, std::less<>, TPoolAllocator<OffsetEnd>> occupied{
      TPoolAllocator<OffsetEnd>(nodes)};
  TGapTree gaps;
  // Members that hold bytes, appended back to back behind all others, as
  // an archive mostly grows: kept in a plain array, the first in directory
  // order first, and moved into the sets above only when one of them goes or
  // moves, or a place is sought among them. A run of appends then costs no
  // tree insertions. They end at runEnd; any gap before the first one is in
  // gaps like every other.
  std::vector<OffsetOrder> run;
  std::int64_t runEnd = 0;
  std::int64_t directorySize = 12;
  std::int32_t workingCount = 0;
  // The working directory as last written: where each entry starts (one
  // more for its end). Entries from dirtyFrom on are written again, those
  // in patched before it only get their offset and size again.
  std::vector<std::int64_t> entryAt{kFirstEntryAt};
  std::size_t dirtyFrom = 0;
  std::vector<std::size_t> patched;
  std::string entryBytes;

  void RewriteFrom(std::size_t index) { dirtyFrom = std::min(dirtyFrom, index); }

  // Every member in the sets ends at or before the run's start, so each goes
  // in at the end; the gaps between run members are all empty.
  void FlushRun() {
    for (std::size_t k = 0; k < run.size(); ++k) {
      const auto [offset, id] = run[k];
      const std::int64_t end = k + 1 < run.size() ? run[k + 1].first : runEnd;
      byOffset.emplace_hint(byOffset.end(), offset, id);
      occupied.emplace_hint(occupied.end(), offset, end);
    }
    run.clear();
  }

  // The member of lowest offset, the first in directory order among equals.
  const OffsetOrder* Lowest() const {
    const OffsetOrder* lowest = byOffset.empty() ? nullptr : &*byOffset.begin();
    if (!run.empty() && (!lowest || run.front() < *lowest)) lowest = &run.front();
    return lowest;
  }
};

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
    : layout_(std::make_unique<TLayout>()) {
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
  RebuildLayout();
  nameIndexValid_ = false;
  work_ = std::make_unique<TBlockStream>();
  workInMemory_ = true;
}

void TqxStorage::DeleteTempWorkFile() {
  if (tempWorkFile_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(tempWorkFile_, ec);
  tempWorkFile_.clear();
}

std::int64_t TqxStorage::DirectorySize() const { return layout_->directorySize; }

std::int64_t TqxStorage::UsedEnd() const {
  // An empty member ends where it starts; one with bytes ends past its start.
  std::int64_t end = 6;
  if (!layout_->occupied.empty()) end = std::max(end, layout_->occupied.rbegin()->second);
  if (!layout_->byOffset.empty()) end = std::max(end, layout_->byOffset.rbegin()->first);
  if (!layout_->run.empty()) end = std::max(end, layout_->runEnd);
  return end;
}

// ---- Layout -----------------------------------------------------------------

void TqxStorage::RebuildLayout() {
  TLayout& l = *layout_;
  l.order.resize(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i) l.order[i] = i;
  l.nextOrder = items_.size();
  l.run.clear();
  l.byOffset.clear();
  l.occupied.clear();
  l.gaps.Clear();
  l.directorySize = 12;
  l.workingCount = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    l.directorySize += kStorageEntryFixedSize + static_cast<std::int64_t>(items_[i].Name.size());
    if (!items_[i].InSource) {
      ++l.workingCount;
      Track(i);
    }
  }
  // Nothing of the working directory is known to be in place.
  l.entryAt.assign(items_.size() + 1, kFirstEntryAt);
  l.dirtyFrom = 0;
  l.patched.clear();
}

void TqxStorage::Track(std::size_t index) {
  TLayout& l = *layout_;
  const TqxIndexItem& item = items_[index];
  if (item.Size > 0) {
    // Straight behind the run: it just grows.
    if (!l.run.empty() && item.Offset == l.runEnd) {
      l.run.emplace_back(item.Offset, l.order[index]);
      l.runEnd += item.Size;
      return;
    }
    // Behind every member: a new run, after the one gap this leaves.
    const std::int64_t lastEnd = l.occupied.empty() ? item.Offset : l.occupied.rbegin()->second;
    if (l.run.empty() && item.Offset >= lastEnd) {
      l.gaps.Insert(lastEnd, item.Offset - lastEnd);
      l.run.emplace_back(item.Offset, l.order[index]);
      l.runEnd = item.Offset + item.Size;
      return;
    }
  }
  l.FlushRun();
  // A member behind all others goes in at the end without a search (the
  // hint is checked, and only used when right).
  l.byOffset.emplace_hint(l.byOffset.end(), item.Offset, l.order[index]);
  if (item.Size == 0) return;
  if (!l.occupied.empty() && l.occupied.rbegin()->first < item.Offset) {
    // Behind all others: the one new gap is the one before it.
    const std::int64_t previousEnd = l.occupied.rbegin()->second;
    l.occupied.emplace_hint(l.occupied.end(), item.Offset, item.Offset + item.Size);
    l.gaps.Insert(previousEnd, item.Offset - previousEnd);
    return;
  }
  const auto [at, added] = l.occupied.emplace(item.Offset, item.Offset + item.Size);
  if (!added) throw Exception(kBlocksOverlap);
  // The gap the member falls into splits in two.
  const auto next = std::next(at);
  if (at != l.occupied.begin()) {
    const auto previous = std::prev(at);
    if (next != l.occupied.end()) l.gaps.Erase(previous->second);
    l.gaps.Insert(previous->second, item.Offset - previous->second);
  }
  if (next != l.occupied.end()) l.gaps.Insert(at->second, next->first - at->second);
}

void TqxStorage::Untrack(std::size_t index) {
  TLayout& l = *layout_;
  const TqxIndexItem& item = items_[index];
  // A member of the run, or the one before it whose gaps reach the run.
  if (item.Size > 0 && !l.run.empty() &&
      (item.Offset >= l.run.front().first || (!l.occupied.empty() && l.occupied.rbegin()->first == item.Offset)))
    l.FlushRun();
  l.byOffset.erase({item.Offset, l.order[index]});
  if (item.Size == 0) return;
  const auto at = l.occupied.find(item.Offset);
  if (at == l.occupied.end()) return;
  // The gaps on both sides join.
  const auto next = std::next(at);
  if (next != l.occupied.end()) l.gaps.Erase(at->second);
  if (at != l.occupied.begin()) {
    const auto previous = std::prev(at);
    l.gaps.Erase(previous->second);
    if (next != l.occupied.end()) l.gaps.Insert(previous->second, next->first - previous->second);
  }
  l.occupied.erase(at);
}

void TqxStorage::MoveEntry(std::size_t index, std::int64_t offset, std::int64_t size) {
  // A working member only: its entry keeps its place, two fields change.
  Untrack(index);
  items_[index].Offset = offset;
  items_[index].Size = size;
  Track(index);
  if (index < layout_->dirtyFrom) layout_->patched.push_back(index);
}

std::size_t TqxStorage::IndexOfOrder(std::uint64_t order) const {
  const auto& orders = layout_->order;
  return static_cast<std::size_t>(std::lower_bound(orders.begin(), orders.end(), order) - orders.begin());
}

void TqxStorage::AppendEntry(const std::string& name, std::int64_t offset, std::int64_t size,
                             std::uint64_t nameHash) {
  TLayout& l = *layout_;
  items_.emplace_back(name, false, offset, size);
  const std::size_t index = items_.size() - 1;
  l.order.push_back(l.nextOrder++);
  // The new entry starts where the directory ended.
  l.entryAt.push_back(l.entryAt.back());
  l.RewriteFrom(index);
  l.directorySize += kStorageEntryFixedSize + static_cast<std::int64_t>(items_[index].Name.size());
  if (!items_[index].InSource) {
    ++l.workingCount;
    Track(index);
  }
  // The caller found no entry of this name: nothing in the index to compare.
  if (nameIndexValid_) l.names.Insert(nameHash, index);
}

std::uint64_t StorageNameComparisons() { return tNameComparisons; }

void TqxStorage::IndexName(std::size_t index) const {
  // Only the first entry of a name is indexed: a look-up then compares one
  // name however often a file repeats it.
  const std::uint64_t hash = FoldedNameHash(items_[index].Name);
  bool repeated = false;
  layout_->names.ForEach(hash, [&](std::size_t& first) {
    if (!SameName(items_[first].Name, items_[index].Name)) return false;
    first = std::min(first, index);
    repeated = true;
    return true;
  });
  if (repeated) ++nameRepeats_;
  else layout_->names.Insert(hash, index);
}

int TqxStorage::FindEntry(const std::string& name) const { return FindEntry(name, FoldedNameHash(name)); }

int TqxStorage::FindEntry(const std::string& name, std::uint64_t nameHash) const {
  if (!nameIndexValid_) {
    layout_->names.Clear(items_.size());
    nameRepeats_ = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) IndexName(i);
    nameIndexValid_ = true;
  }
  // A loaded file may hold one name twice; the index holds the first in the
  // directory, which wins.
  int found = -1;
  layout_->names.ForEach(nameHash, [&](std::size_t& index) {
    ++tNameComparisons;
    if (!SameName(items_[index].Name, name)) return false;
    found = static_cast<int>(index);
    return true;
  });
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
  RebuildLayout();
  nameIndexValid_ = false;
}

void TqxStorage::WriteHeader() {
  const char header[6] = {kStorageSignature[0], kStorageSignature[1], kStorageSignature[2],
                          kStorageSignature[3], static_cast<char>(kStorageVersion), 1};
  work_->Seek(0, soBeginning);
  work_->WriteBuffer(header, sizeof header);
}

void TqxStorage::WriteDirectory() {
  TLayout& l = *layout_;
  // Make room: a longer directory must not run into the lowest members
  // (the first in directory order among those of the lowest offset).
  while (const TLayout::OffsetOrder* lowest = l.Lowest()) {
    const auto [offset, order] = *lowest;
    if (offset >= DirectorySize() + kDirectoryHeadroom) break;
    const std::size_t index = IndexOfOrder(order);
    const std::int64_t size = items_[index].Size;
    // FindFreeSpace never answers below the directory's end, so each pass settles one member.
    const std::int64_t place = FindFreeSpace(size, 0);
    if (UsedEnd() < place + size) SetWorkSize(place + size);
    MoveBlock(size, place, offset);
    MoveEntry(index, place, size);
  }
  // Nothing reads the directory of a working copy in memory. Its entries
  // stay marked as unwritten, and the first call once the copy is on file
  // writes them all.
  if (!workInMemory_) WriteDirectoryBytes();
}

void TqxStorage::WriteDirectoryBytes() {
  TLayout& l = *layout_;
  // The same bytes as writing the whole directory: the header fields, the
  // offsets and sizes that changed, and every entry from the first one whose
  // place or name changed.
  char fields[16];
  StoreLittleEndian(fields, static_cast<std::uint64_t>(kStorageWorkDirectory), 8);
  StoreLittleEndian(fields + 8, static_cast<std::uint32_t>(l.workingCount), 4);
  work_->Seek(6, soBeginning);
  work_->WriteBuffer(fields, 12);
  for (const std::size_t index : l.patched) {
    if (index >= l.dirtyFrom) continue;
    StoreLittleEndian(fields, static_cast<std::uint64_t>(items_[index].Offset), 8);
    StoreLittleEndian(fields + 8, static_cast<std::uint64_t>(items_[index].Size), 8);
    work_->Seek(l.entryAt[index], soBeginning);
    work_->WriteBuffer(fields, 16);
  }
  l.patched.clear();
  if (l.dirtyFrom < items_.size()) {
    // Kept between calls: a member's entry then costs no allocation.
    std::string& bytes = l.entryBytes;
    bytes.clear();
    const std::int64_t start = l.entryAt[l.dirtyFrom];
    std::int64_t at = start;
    for (std::size_t i = l.dirtyFrom; i < items_.size(); ++i) {
      l.entryAt[i] = at;
      const TqxIndexItem& item = items_[i];
      if (item.InSource) continue;
      PutEntry(bytes, item.Offset, item.Size, item.Name);
      at += kStorageEntryFixedSize + static_cast<std::int64_t>(item.Name.size());
    }
    l.entryAt[items_.size()] = at;
    work_->Seek(start, soBeginning);
    work_->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    // A whole directory's worth is not kept for the small writes that follow.
    if (bytes.capacity() > kDirectoryReadChunk) std::string().swap(bytes);
  }
  l.dirtyFrom = items_.size();
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
  TLayout& l = *layout_;
  // The run holds no gap with length, so a search for one needs nothing from
  // it but where it starts and ends; an empty member takes gaps without
  // length too, and needs its members in the sets.
  if (!l.run.empty() && size == 0) l.FlushRun();
  const auto& occupied = l.occupied;
  if (occupied.empty() && l.run.empty()) return std::max(DirectorySize() + kFirstMemberGap, dataStart);
  // The gap that dataStart falls into counts from dataStart and comes first;
  // past the sets' last member the run's first one closes it.
  const auto above = occupied.lower_bound(dataStart);
  if (above != occupied.begin() && std::prev(above)->second < dataStart) {
    const std::int64_t next = above != occupied.end() ? above->first
                              : l.run.empty()         ? -1
                                                      : l.run.front().first;
    if (next >= 0 && next - dataStart >= size) return dataStart;
  }
  // Then the whole gaps behind it, in address order.
  if (size > 0) {
    const std::int64_t gap = layout_->gaps.FirstFit(dataStart, size);
    if (gap >= 0) return gap;
  } else {
    // Any gap fits an empty member, one without length too: the first one
    // starts where the first member that ends at or after dataStart ends,
    // unless that member is the last.
    auto first = above;
    if (first != occupied.begin() && std::prev(first)->second >= dataStart) first = std::prev(first);
    if (first != occupied.end() && std::next(first) != occupied.end()) return first->second;
  }
  return std::max(l.run.empty() ? occupied.rbegin()->second : l.runEnd, dataStart);
}

void TqxStorage::SetWorkSize(std::int64_t newSize, std::int64_t filledFrom) {
  const std::int64_t current = work_->Size();
  if (current == newSize) return;
  // A cut into the working directory as written means writing it all again.
  if (newSize < current && newSize < layout_->entryAt[layout_->dirtyFrom]) layout_->RewriteFrom(0);
  if (newSize > current && workInMemory_ && newSize > memoryCache_) SpillToTempFile();
  // In memory the caller's write makes up the rest: the member's bytes are
  // then written once, not zeroed and written. Should that write fail, the
  // stream just stays shorter, and nothing refers to the bytes it lacks.
  if (newSize > current && workInMemory_) newSize = std::clamp(filledFrom, current, newSize);
  if (newSize != current) work_->SetSize(newSize);
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
    auto& memory = static_cast<TBlockStream&>(*work_);
    memory.WriteRange(0, memory.Size(),
                      [&](const unsigned char* span, std::int64_t length) { file->WriteBuffer(span, length); });
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
    static_cast<TBlockStream&>(*work_).Move(count, dest, source);
    return;
  }
  // Only a working copy on disk needs the buffer: a storage that never has
  // one does not allocate and clear it.
  if (copyBuffer_.empty()) copyBuffer_.resize(static_cast<std::size_t>(kStorageCopyBufferSize));
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
  // The working copy in memory hands out its blocks in place, as a memory
  // stream does its block; a range longer than a block is read straight
  // into a memory stream, or gathered into large pieces for a file, for
  // the reason below.
  auto* blocksFrom = typeid(from) == typeid(TBlockStream) ? static_cast<TBlockStream*>(&from) : nullptr;
  if (blocksFrom && count <= kBlockBytes) {
    blocksFrom->WriteRange(fromPos, count,
                           [&](const unsigned char* span, std::int64_t length) { to.WriteBuffer(span, length); });
    return;
  }
  if (GrowsByCopy(to)) {
    to.CopyFrom(from, count);
    return;
  }
  if (blocksFrom) {
    const std::int64_t chunk = std::min(count, kFileCopyChunk);
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(chunk)]);
    std::int64_t filled = 0;
    blocksFrom->WriteRange(fromPos, count, [&](const unsigned char* span, std::int64_t length) {
      while (length > 0) {
        const std::int64_t n = std::min(length, chunk - filled);
        std::memcpy(buffer.get() + filled, span, static_cast<std::size_t>(n));
        filled += n;
        span += n;
        length -= n;
        if (filled == chunk) {
          to.WriteBuffer(buffer.get(), chunk);
          filled = 0;
        }
      }
    });
    if (filled > 0) to.WriteBuffer(buffer.get(), filled);
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
  TLayout& l = *layout_;
  const auto at = static_cast<std::size_t>(index);
  if (!items_[at].InSource) {
    Untrack(at);
    --l.workingCount;
  }
  l.directorySize -= kStorageEntryFixedSize + static_cast<std::int64_t>(items_[at].Name.size());
  items_.erase(items_.begin() + index);
  l.order.erase(l.order.begin() + index);
  // The next entry now starts where the removed one did.
  l.entryAt.erase(l.entryAt.begin() + index + 1);
  l.RewriteFrom(at);
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
  for (std::size_t i = 0; i < items_.size(); ++i) {
    TqxIndexItem& item = items_[i];
    if (!item.InSource) continue;
    const std::int64_t place = FindFreeSpace(item.Size, 0);
    if (UsedEnd() < place + item.Size) SetWorkSize(place + item.Size, place);
    CopyBetween(*source_, item.Offset, *work_, place, item.Size);
    item.InSource = false;
    item.Offset = place;
    ++layout_->workingCount;
    Track(i);
    layout_->RewriteFrom(i);
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
  // The first bytes of a memory stream are on their way while the place is
  // sought: a small member's bytes, read cold, cost more than finding its place.
  if (typeid(stream) == typeid(TMemoryStream)) {
    const auto* bytes = static_cast<const char*>(static_cast<TMemoryStream&>(stream).Memory());
    const std::int64_t ahead = std::min<std::int64_t>(stream.Size(), 4096);
    for (std::int64_t i = 0; i < ahead; i += 64) __builtin_prefetch(bytes + i, 0, 3);
  }
  TOperation op(*this);
  const std::int64_t size = stream.Size();
  const std::uint64_t nameHash = FoldedNameHash(name);
  const int index = FindEntry(name, nameHash);
  if (index < 0 || items_[static_cast<std::size_t>(index)].InSource) {
    // A new member, or one that still lives in the source: a fresh place.
    const std::int64_t oldNameLength = index < 0 ? -kStorageEntryFixedSize
                                                 : static_cast<std::int64_t>(items_[static_cast<std::size_t>(index)].Name.size());
    const std::int64_t extra = static_cast<std::int64_t>(name.size()) - oldNameLength;
    const std::int64_t place = FindFreeSpace(size, std::max<std::int64_t>(extra, 0));
    if (UsedEnd() < place + size) SetWorkSize(place + size, place);
    CopyBetween(stream, 0, *work_, place, size);
    if (index < 0) {
      AppendEntry(name, place, size, nameHash);
    } else {
      // The new spelling folds to the same hash: the index stays as it is.
      const auto at = static_cast<std::size_t>(index);
      layout_->directorySize += static_cast<std::int64_t>(name.size()) - oldNameLength;
      items_[at] = TqxIndexItem{name, false, place, size};
      ++layout_->workingCount;
      Track(at);
      layout_->RewriteFrom(at);
    }
  } else {
    // A working member keeps its spelling; it moves only when it grows.
    const auto at = static_cast<std::size_t>(index);
    std::int64_t place = items_[at].Offset;
    if (size > items_[at].Size) {
      place = FindFreeSpace(size, 0);
      if (UsedEnd() < place + size) SetWorkSize(place + size, place);
    }
    CopyBetween(stream, 0, *work_, place, size);
    MoveEntry(at, place, size);
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
  // With repeated names, which entry of a name comes first may change:
  // build the index again when next needed.
  if (nameRepeats_ > 0) nameIndexValid_ = false;
  if (nameIndexValid_) layout_->names.Erase(FoldedNameHash(item.Name), static_cast<std::size_t>(index));
  layout_->directorySize += static_cast<std::int64_t>(newName.size()) - static_cast<std::int64_t>(item.Name.size());
  item.Name = newName;
  layout_->RewriteFrom(static_cast<std::size_t>(index));
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

#include "document/resources/MapStream.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <utility>

namespace kdl {

namespace {

[[noreturn]] void RaiseSystemError(const char* what, int error) {
  throw EStreamError(std::string(what) + ": " + std::strerror(error));
}

std::int64_t PageSize() {
  static const std::int64_t size = [] {
    const long n = ::sysconf(_SC_PAGESIZE);
    return n > 0 ? static_cast<std::int64_t>(n) : std::int64_t{4096};
  }();
  return size;
}

// One run given back is kept mapped for the next stream that needs about as
// much: a resource's bytes are often dropped and read again at the same size
// (each export copies the page's pictures), and taking fresh pages costs far
// more than the copy into them. Only the bytes the stream held are cleared
// again, when the run is taken.
constexpr std::int64_t kKeptRunLimit = std::int64_t{32} << 20;

struct TKeptRun {
  std::mutex Mutex;
  unsigned char* Base = nullptr;
  std::int64_t Bytes = 0;
  std::int64_t Dirty = 0;  // bytes from Base on that may hold data
};

TKeptRun& KeptRun() {
  static TKeptRun kept;
  return kept;
}

// Takes the kept run when it holds at least need bytes and at most limit.
unsigned char* TakeKeptRun(std::int64_t need, std::int64_t limit, std::int64_t grain, std::int64_t& bytes) {
  TKeptRun& kept = KeptRun();
  unsigned char* base = nullptr;
  std::int64_t dirty = 0;
  {
    std::lock_guard<std::mutex> guard(kept.Mutex);
    if (!kept.Base || kept.Bytes < need || kept.Bytes > limit || kept.Bytes % grain != 0) return nullptr;
    base = std::exchange(kept.Base, nullptr);
    bytes = std::exchange(kept.Bytes, 0);
    dirty = std::exchange(kept.Dirty, 0);
  }
  std::memset(base, 0, static_cast<std::size_t>(dirty));
  return base;
}

// Keeps the run in place of the one kept before, which is unmapped.
void GiveBackRun(unsigned char* base, std::int64_t bytes, std::int64_t dirty) {
  unsigned char* stale = base;
  std::int64_t staleBytes = bytes;
  if (bytes <= kKeptRunLimit) {
    TKeptRun& kept = KeptRun();
    std::lock_guard<std::mutex> guard(kept.Mutex);
    stale = std::exchange(kept.Base, base);
    staleBytes = std::exchange(kept.Bytes, bytes);
    kept.Dirty = std::clamp<std::int64_t>(dirty, 0, bytes);
  }
  // munmap fails only for arguments we never pass.
  if (stale) ::munmap(stale, static_cast<std::size_t>(staleBytes));
}

}  // namespace

TMapStream::TMapStream(std::int64_t blockSize) : blockSize_(blockSize) {
  if (blockSize_ <= 0) throw EStreamError("Memory map page size is zero");
}

TMapStream::~TMapStream() { UnmapRunsFrom(0); }

void TMapStream::UnmapRunsFrom(std::size_t firstRun) {
  for (std::size_t i = runs_.size(); i > firstRun; --i) {
    const TRun& run = runs_[i - 1];
    const std::int64_t bytes = run.Blocks * blockSize_;
    blocks_.resize(blocks_.size() - static_cast<std::size_t>(run.Blocks));
    // Bytes past the stream's size are zero already.
    const std::int64_t runStart = static_cast<std::int64_t>(blocks_.size()) * blockSize_;
    GiveBackRun(run.Base, bytes, size_ - runStart);
    runs_.pop_back();
  }
}

void TMapStream::MapBlocks(std::int64_t wanted) {
  const auto have = static_cast<std::int64_t>(blocks_.size());
  if (wanted <= have) return;
  // Each run at least doubles what is mapped, so the count of mappings stays
  // logarithmic in the size; when the doubled run cannot be had, the exact
  // need is tried before giving up.
  const std::int64_t needed = wanted - have;
  std::int64_t blocks = std::max(needed, have);
  void* base = MAP_FAILED;
  int error = 0;
  // A kept run serves when it is no more than twice what would be mapped.
  if (std::int64_t keptBytes = 0; blocks <= std::numeric_limits<std::int64_t>::max() / 2 / blockSize_) {
    if (unsigned char* kept = TakeKeptRun(needed * blockSize_, 2 * blocks * blockSize_, blockSize_, keptBytes)) {
      base = kept;
      blocks = keptBytes / blockSize_;
    }
  }
  while (base == MAP_FAILED) {
    if (blocks <= std::numeric_limits<std::int64_t>::max() / blockSize_) {
      base = ::mmap(nullptr, static_cast<std::size_t>(blocks * blockSize_), PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (base != MAP_FAILED) break;
      error = errno;
    } else {
      error = ENOMEM;
    }
    if (blocks == needed) RaiseSystemError("Cannot map stream memory", error);
    blocks = needed;
  }
  runs_.push_back({static_cast<unsigned char*>(base), blocks});
  blocks_.reserve(static_cast<std::size_t>(have + blocks));
  for (std::int64_t i = 0; i < blocks; ++i)
    blocks_.push_back(static_cast<unsigned char*>(base) + i * blockSize_);
}

void TMapStream::ZeroRange(std::int64_t from, std::int64_t to) {
  std::int64_t runStart = 0;
  const std::int64_t page = PageSize();
  for (const TRun& run : runs_) {
    const std::int64_t runEnd = runStart + run.Blocks * blockSize_;
    const std::int64_t a = std::max(from, runStart);
    const std::int64_t b = std::min(to, runEnd);
    if (a < b) {
      unsigned char* p = run.Base + (a - runStart);
      const std::int64_t n = b - a;
      // Whole pages go back to the system (they read as zero afterwards);
      // only the ragged ends are cleared by hand.
      const auto addr = reinterpret_cast<std::uintptr_t>(p);
      const std::int64_t head = static_cast<std::int64_t>((page - addr % page) % page);
      if (n >= head + 2 * page) {
        const std::int64_t middle = (n - head) / page * page;
        std::memset(p, 0, static_cast<std::size_t>(head));
        if (::madvise(p + head, static_cast<std::size_t>(middle), MADV_DONTNEED) != 0)
          std::memset(p + head, 0, static_cast<std::size_t>(middle));
        std::memset(p + head + middle, 0, static_cast<std::size_t>(n - head - middle));
      } else {
        std::memset(p, 0, static_cast<std::size_t>(n));
      }
    }
    runStart = runEnd;
    if (runStart >= to) break;
  }
}

void TMapStream::Prefault(std::int64_t from, std::int64_t to) {
#ifdef MADV_POPULATE_WRITE
  const std::int64_t page = PageSize();
  if (to - from < kPrefaultPages * page) return;
  std::int64_t runStart = 0;
  for (const TRun& run : runs_) {
    const std::int64_t runEnd = runStart + run.Blocks * blockSize_;
    const std::int64_t a = std::max(from, runStart);
    const std::int64_t b = std::min(to, runEnd);
    if (a < b) {
      // Runs start on page boundaries, so whole pages of the run are asked
      // for; the call fails harmlessly on kernels that lack it, and the
      // copy then faults the pages in itself.
      const std::int64_t first = (a - runStart) / page * page;
      const std::int64_t last = std::min((b - runStart + page - 1) / page * page, runEnd - runStart);
      ::madvise(run.Base + first, static_cast<std::size_t>(last - first), MADV_POPULATE_WRITE);
    }
    runStart = runEnd;
    if (runStart >= to) break;
  }
#else
  (void)from;
  (void)to;
#endif
}

void TMapStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  const std::int64_t blocks = size / blockSize_ + (size % blockSize_ != 0 ? 1 : 0);
  if (size > size_) {
    // Everything mapped past the old size is zero already.
    MapBlocks(blocks);
  } else if (size < size_) {
    // Runs wholly past the new end are unmapped; the rest of the old bytes
    // are cleared, so that growing again reads zeros.
    std::size_t keep = 0;
    std::int64_t covered = 0;
    while (keep < runs_.size() && covered < blocks) covered += runs_[keep++].Blocks;
    UnmapRunsFrom(keep);
    const std::int64_t mapped = static_cast<std::int64_t>(blocks_.size()) * blockSize_;
    ZeroRange(size, std::min(size_, mapped));
  }
  size_ = size;
  if (position_ > size_) position_ = size_;
}

std::int64_t TMapStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t n = std::min(count, size_ - position_);
  auto* out = static_cast<unsigned char*>(buffer);
  std::int64_t done = 0;
  while (done < n) {
    const std::int64_t block = position_ / blockSize_;
    const std::int64_t offset = position_ % blockSize_;
    const std::int64_t chunk = std::min(n - done, blockSize_ - offset);
    std::memcpy(out + done, BlockAt(block) + offset, static_cast<std::size_t>(chunk));
    done += chunk;
    position_ += chunk;
  }
  return n;
}

std::int64_t TMapStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (position_ > std::numeric_limits<std::int64_t>::max() - count)
    throw EStreamError("Stream too large");
  if (position_ + count > size_) SetSize(position_ + count);
  // Fresh pages are taken in one call rather than one fault per page during
  // the copy: on a large write the faults cost more than the copy.
  Prefault(position_, position_ + count);
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t block = position_ / blockSize_;
    const std::int64_t offset = position_ % blockSize_;
    const std::int64_t chunk = std::min(count - done, blockSize_ - offset);
    std::memcpy(BlockAt(block) + offset, in + done, static_cast<std::size_t>(chunk));
    done += chunk;
    position_ += chunk;
  }
  return count;
}

std::int64_t TMapStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  switch (origin) {
    case soBeginning: base = 0; break;
    case soCurrent: base = position_; break;
    case soEnd: base = size_; break;
    default: return 0;
  }
  if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) || base + offset < 0)
    throw EStreamError("Invalid stream position");
  const std::int64_t target = base + offset;
  if (target > size_) SetSize(target);
  position_ = target;
  return position_;
}

}  // namespace kdl

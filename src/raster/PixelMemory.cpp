#include "raster/PixelMemory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace kdl {
namespace {

// Huge pages are 2 MB on the machines we run on; large blocks are whole
// multiples of that, aligned to it.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

struct TKept {
  std::mutex Mutex;
  void* Block = nullptr;
  std::size_t Bytes = 0;
};

TKept& Kept() {
  static TKept kept;
  return kept;
}

std::size_t LargeBytes(std::size_t count) {
  const std::size_t bytes = count * sizeof(std::uint32_t);
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

bool IsLarge(std::size_t count) { return count >= kLargePixelBlockBytes / sizeof(std::uint32_t); }

// Zeroed blocks from this size on are mapped: below it a mapping's system
// calls cost more than clearing. Mappings are whole multiples of the grain,
// so that a block given back can serve a request of a nearby size.
constexpr std::size_t kMappedZeroBytes = std::size_t{256} << 10;
constexpr std::size_t kMappedGrain = std::size_t{1} << 20;
// Zeroed blocks kept for reuse: their pages written once stay in memory,
// so few and small ones are kept.
constexpr std::size_t kKeptZeroedBlocks = 4;
constexpr std::size_t kKeptZeroedBytes = std::size_t{16} << 20;

bool IsMapped(std::size_t count) { return count * sizeof(std::uint32_t) >= kMappedZeroBytes; }

struct TMappedBlock {
  void* Block = nullptr;
  std::size_t Bytes = 0;
};

struct TZeroed {
  std::mutex Mutex;
  std::vector<TMappedBlock> Out;   // given out, with their mapped sizes
  std::vector<TMappedBlock> Kept;  // zero again, ready to serve
};

TZeroed& Zeroed() {
  static TZeroed zeroed;
  return zeroed;
}

}  // namespace

std::uint32_t* AllocatePixels(std::size_t count) {
  if (count == 0) return nullptr;
  if (count > SIZE_MAX / sizeof(std::uint32_t) - kHugePage) return nullptr;
  if (!IsLarge(count)) return new (std::nothrow) std::uint32_t[count];
  const std::size_t bytes = LargeBytes(count);
  void* stale = nullptr;
  {
    TKept& kept = Kept();
    std::lock_guard<std::mutex> guard(kept.Mutex);
    if (kept.Block) {
      // Within a quarter of its size the kept block serves, its pages
      // already in memory; otherwise it goes before the new one comes.
      if (bytes <= kept.Bytes && bytes >= kept.Bytes - kept.Bytes / 4) {
        void* block = kept.Block;
        kept.Block = nullptr;
        kept.Bytes = 0;
        return static_cast<std::uint32_t*>(block);
      }
      stale = kept.Block;
      kept.Block = nullptr;
      kept.Bytes = 0;
    }
  }
  std::free(stale);
  void* block = std::aligned_alloc(kHugePage, bytes);
  if (!block) return nullptr;
  // A hint: where huge pages are off or short, the block works all the same.
  (void)::madvise(block, bytes, MADV_HUGEPAGE);
  return static_cast<std::uint32_t*>(block);
}

void FreePixels(std::uint32_t* pixels, std::size_t count) noexcept {
  if (!pixels) return;
  if (!IsLarge(count)) {
    delete[] pixels;
    return;
  }
  void* stale = pixels;
  {
    TKept& kept = Kept();
    std::lock_guard<std::mutex> guard(kept.Mutex);
    std::swap(stale, kept.Block);
    kept.Bytes = LargeBytes(count);
  }
  std::free(stale);
}

std::uint32_t* AllocateZeroedPixels(std::size_t count) {
  if (count == 0) return nullptr;
  if (count > (SIZE_MAX - kMappedGrain) / sizeof(std::uint32_t)) return nullptr;
  if (!IsMapped(count)) return static_cast<std::uint32_t*>(std::calloc(count, sizeof(std::uint32_t)));
  const std::size_t bytes = (count * sizeof(std::uint32_t) + kMappedGrain - 1) / kMappedGrain * kMappedGrain;
  TZeroed& zeroed = Zeroed();
  std::lock_guard<std::mutex> guard(zeroed.Mutex);
  try {
    // Room reserved here lets a block come back without allocating.
    zeroed.Out.reserve(zeroed.Out.size() + 1);
    zeroed.Kept.reserve(kKeptZeroedBlocks + 1);
  } catch (...) {
    return nullptr;
  }
  // The smallest kept block that holds the request.
  auto best = zeroed.Kept.end();
  for (auto it = zeroed.Kept.begin(); it != zeroed.Kept.end(); ++it)
    if (it->Bytes >= bytes && (best == zeroed.Kept.end() || it->Bytes < best->Bytes)) best = it;
  TMappedBlock block;
  if (best != zeroed.Kept.end()) {
    block = *best;
    zeroed.Kept.erase(best);
  } else {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // A huge page would bring 2 MB into memory for one pixel written; where
    // the system gives them unasked, say no.
    (void)::madvise(p, bytes, MADV_NOHUGEPAGE);
    block = {p, bytes};
  }
  zeroed.Out.push_back(block);
  return static_cast<std::uint32_t*>(block.Block);
}

void FreeZeroedPixels(std::uint32_t* pixels, std::size_t count, bool zeroAgain) noexcept {
  if (!pixels) return;
  if (!IsMapped(count)) {
    std::free(pixels);
    return;
  }
  TMappedBlock stale[kKeptZeroedBlocks + 1];
  std::size_t staleCount = 0;
  {
    TZeroed& zeroed = Zeroed();
    std::lock_guard<std::mutex> guard(zeroed.Mutex);
    auto it = std::find_if(zeroed.Out.begin(), zeroed.Out.end(),
                           [&](const TMappedBlock& b) { return b.Block == pixels; });
    if (it == zeroed.Out.end()) return;  // not ours: nothing we may unmap
    const TMappedBlock block = *it;
    zeroed.Out.erase(it);
    if (zeroAgain && block.Bytes <= kKeptZeroedBytes && zeroed.Kept.capacity() > kKeptZeroedBlocks) {
      // The smallest blocks make room for larger ones.
      zeroed.Kept.push_back(block);
      std::size_t total = 0;
      for (const TMappedBlock& b : zeroed.Kept) total += b.Bytes;
      while (zeroed.Kept.size() > kKeptZeroedBlocks || total > kKeptZeroedBytes) {
        auto smallest = std::min_element(zeroed.Kept.begin(), zeroed.Kept.end(),
                                         [](const TMappedBlock& a, const TMappedBlock& b) { return a.Bytes < b.Bytes; });
        total -= smallest->Bytes;
        stale[staleCount++] = *smallest;
        zeroed.Kept.erase(smallest);
      }
    } else {
      stale[staleCount++] = block;
    }
  }
  for (std::size_t i = 0; i < staleCount; ++i) (void)::munmap(stale[i].Block, stale[i].Bytes);
}

void DropKeptPixels() noexcept {
  void* stale = nullptr;
  {
    TKept& kept = Kept();
    std::lock_guard<std::mutex> guard(kept.Mutex);
    std::swap(stale, kept.Block);
    kept.Bytes = 0;
  }
  std::free(stale);
  std::vector<TMappedBlock> blocks;
  {
    TZeroed& zeroed = Zeroed();
    std::lock_guard<std::mutex> guard(zeroed.Mutex);
    blocks.swap(zeroed.Kept);
  }
  for (const TMappedBlock& b : blocks) (void)::munmap(b.Block, b.Bytes);
}

std::size_t KeptPixelBytes() noexcept {
  TKept& kept = Kept();
  std::lock_guard<std::mutex> guard(kept.Mutex);
  return kept.Bytes;
}

}  // namespace kdl

#include "raster/PixelMemory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <new>

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

void DropKeptPixels() noexcept {
  void* stale = nullptr;
  {
    TKept& kept = Kept();
    std::lock_guard<std::mutex> guard(kept.Mutex);
    std::swap(stale, kept.Block);
    kept.Bytes = 0;
  }
  std::free(stale);
}

std::size_t KeptPixelBytes() noexcept {
  TKept& kept = Kept();
  std::lock_guard<std::mutex> guard(kept.Mutex);
  return kept.Bytes;
}

}  // namespace kdl

// Memory for the pixels of large bitmaps.
//
// A fresh block costs a page fault per 4 KB on first touch; for a photo
// that is more than decoding it. Large blocks therefore ask the system for
// huge pages, and the last large block given back is kept for the next
// request of about its size (a project opened after another, the next
// print band, the next mask of a shape). A large request that the kept
// block does not fit frees it first, so that keeping it never raises a
// peak of memory use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kdl {

// Blocks of at least this many bytes are large.
inline constexpr std::size_t kLargePixelBlockBytes = std::size_t{8} << 20;

// count uninitialised pixels; nullptr when the memory cannot be had.
std::uint32_t* AllocatePixels(std::size_t count);
// A block from AllocatePixels, of the count it was asked for.
void FreePixels(std::uint32_t* pixels, std::size_t count) noexcept;

// Frees the kept blocks, if any: for tests and memory reports.
void DropKeptPixels() noexcept;
// Bytes of the kept block; 0 without one.
std::size_t KeptPixelBytes() noexcept;

// count pixels that read as zero without having been written; nullptr when
// the memory cannot be had. A large block is mapped, so only the pages
// written come into memory: a big picture drawn in a small part costs that
// part. Blocks given back zeroed serve again, their pages already in.
std::uint32_t* AllocateZeroedPixels(std::size_t count);
// A block from AllocateZeroedPixels, of the count it was asked for; with
// zeroed, its owner has set every pixel it wrote back to zero.
void FreeZeroedPixels(std::uint32_t* pixels, std::size_t count, bool zeroed) noexcept;

// The owner of a block, for std::unique_ptr.
struct TPixelDeleter {
  std::size_t Count = 0;
  bool Zeroed = false;  // from AllocateZeroedPixels
  bool ZeroAgain = false;  // and every pixel is zero again
  void operator()(std::uint32_t* pixels) const noexcept {
    if (Zeroed)
      FreeZeroedPixels(pixels, Count, ZeroAgain);
    else
      FreePixels(pixels, Count);
  }
};

}  // namespace kdl

// A growable stream whose bytes live in anonymous memory mappings rather
// than the heap, so that large resource bytes neither fragment nor bloat it
// and go back to the system whole (but for one run, kept for the next
// stream that needs about as much).
//
// The stream is cut into blocks (64 KiB by default). Blocks are mapped in
// runs that grow geometrically, because Linux caps the number of mappings a
// process may hold (vm.max_map_count): a 1 GiB stream needs about fifteen.
// Every byte the stream has not been given reads as zero.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Stream.h"

namespace kdl {

inline constexpr std::int64_t kMapStreamBlockSize = 65536;

class TMapStream : public TStream {
 public:
  // A block size of 0 raises EStreamError "Memory map page size is zero".
  explicit TMapStream(std::int64_t blockSize = kMapStreamBlockSize);
  ~TMapStream() override;
  TMapStream(const TMapStream&) = delete;
  TMapStream& operator=(const TMapStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // A target beyond the end grows the stream to it.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Position() override { return position_; }
  std::int64_t Size() override { return size_; }
  // Failures of the system calls raise EStreamError with the system's text.
  void SetSize(std::int64_t size) override;

  std::int64_t BlockSize() const { return blockSize_; }
  // Mapped runs, for tests of the mapping count.
  std::size_t RunCount() const { return runs_.size(); }
  // Empties the stream and gives every mapping back.
  void Clear() { SetSize(0); }

 private:
  struct TRun {
    unsigned char* Base;
    std::int64_t Blocks;
  };
  unsigned char* BlockAt(std::int64_t block) const { return blocks_[static_cast<std::size_t>(block)]; }
  void MapBlocks(std::int64_t wanted);
  void UnmapRunsFrom(std::size_t firstRun);
  // Maps in the pages under [from, to) of the mapped bytes ahead of a write
  // that covers them; short ranges are left to the write.
  void Prefault(std::int64_t from, std::int64_t to);
  static constexpr std::int64_t kPrefaultPages = 8;
  // Zeroes [from, to) of the mapped bytes.
  void ZeroRange(std::int64_t from, std::int64_t to);

  std::int64_t blockSize_;
  std::vector<TRun> runs_;
  // One pointer per mapped block, into its run.
  std::vector<unsigned char*> blocks_;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};

}  // namespace kdl

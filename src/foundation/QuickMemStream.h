// A growable memory stream whose block grows in steps of 8192 x 4^k, used to
// build document parts and the font cache in memory. Bytes the stream has not
// been given read as zeros.
#pragma once

#include <cstdint>

#include "foundation/Stream.h"

namespace kdl {

class TQuickMemStream : public TStream {
 public:
  TQuickMemStream() = default;
  ~TQuickMemStream() override;
  TQuickMemStream(const TQuickMemStream&) = delete;
  TQuickMemStream& operator=(const TQuickMemStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Not clamped: the position may lie before the start or past the end.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t newSize) override;
  // 8192, multiplied by 4 until it holds newSize; a smaller size shrinks.
  void SetCapacity(std::int64_t newSize);
  // Reads straight into the block, so the bytes it receives are never zeroed
  // first. A short source raises EReadError and keeps the old size; every
  // byte past it reads as zero again.
  std::int64_t CopyFrom(TStream& source, std::int64_t count) override;

  void* Memory() { return memory_; }
  const void* Memory() const { return memory_; }
  std::int64_t Capacity() const { return capacity_; }

 private:
  // Resizes the block to the step that holds newSize. New bytes in
  // [fillFrom, fillTo) are left for the caller to overwrite at once; all
  // other new bytes are zeroed.
  void Reallocate(std::int64_t newSize, std::int64_t fillFrom, std::int64_t fillTo);

  unsigned char* memory_ = nullptr;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
  std::int64_t capacity_ = 0;
};

}  // namespace kdl

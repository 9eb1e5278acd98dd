#include "foundation/QuickMemStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <typeinfo>

namespace kdl {

namespace {
constexpr std::int64_t kQuickMemFirstCapacity = 8192;
constexpr std::int64_t kQuickMemLargest = std::int64_t{1} << 60;
}  // namespace

TQuickMemStream::~TQuickMemStream() { std::free(memory_); }

void TQuickMemStream::SetCapacity(std::int64_t newSize) { Reallocate(newSize, 0, 0); }

void TQuickMemStream::Reallocate(std::int64_t newSize, std::int64_t fillFrom, std::int64_t fillTo) {
  if (newSize > kQuickMemLargest) throw EStreamError("Out of memory while expanding memory stream");
  std::int64_t capacity = kQuickMemFirstCapacity;
  while (capacity < newSize) capacity *= 4;
  if (capacity == capacity_) return;
  auto* p = static_cast<unsigned char*>(std::realloc(memory_, static_cast<std::size_t>(capacity)));
  if (!p) throw EStreamError("Out of memory while expanding memory stream");
  // Everything past the size is kept zero, so a later growth never shows
  // stale heap bytes; only bytes the caller fills at once are spared.
  ZeroGrownBytes(p, capacity_, capacity, fillFrom, fillTo);
  memory_ = p;
  capacity_ = capacity;
  if (size_ > capacity_) size_ = capacity_;
}

void TQuickMemStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) throw EStreamError("Invalid stream size");
  const std::int64_t oldPosition = position_;
  if (newSize < size_) std::memset(memory_ + newSize, 0, static_cast<std::size_t>(std::min(size_, capacity_) - newSize));
  SetCapacity(newSize);
  size_ = newSize;
  if (oldPosition > newSize) position_ = newSize;
}

std::int64_t TQuickMemStream::Write(const void* buffer, std::int64_t count) {
  if (position_ < 0 || count < 0 || count > std::numeric_limits<std::int64_t>::max() - position_ ||
      position_ + count <= 0)
    return 0;
  const std::int64_t end = position_ + count;
  if (end > size_) {
    if (end > capacity_) Reallocate(end, position_, end);
    size_ = end;
  }
  if (count > 0) std::memcpy(memory_ + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TQuickMemStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count <= 0) return 0;
  // A derived stream may do more in Write, a copy from itself could read bytes
  // it is overwriting, and a position Write refuses must raise as it does:
  // all take the general path.
  if (typeid(*this) != typeid(TQuickMemStream) || &source == this || position_ < 0 ||
      count > std::numeric_limits<std::int64_t>::max() - position_)
    return TStream::CopyFrom(source, count);
  const std::int64_t at = position_;
  const std::int64_t end = at + count;
  if (end > capacity_) Reallocate(end, at, end);
  ReadIntoBlock(source, memory_, at, count, size_);
  size_ = std::max(size_, end);
  position_ = end;
  return count;
}

std::int64_t TQuickMemStream::Read(void* buffer, std::int64_t count) {
  if (position_ < 0 || count < 0 || position_ >= size_) return 0;
  const std::int64_t n = std::min(count, size_ - position_);
  if (n > 0) std::memcpy(buffer, memory_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TQuickMemStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : size_;
  std::int64_t pos = 0;
  if (__builtin_add_overflow(base, offset, &pos)) throw EStreamError("Invalid stream position");
  position_ = pos;
  return position_;
}

}  // namespace kdl

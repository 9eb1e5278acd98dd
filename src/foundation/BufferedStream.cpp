#include "foundation/BufferedStream.h"

#include <algorithm>
#include <cstring>

namespace kdl {

TqxBufferedReadStream::TqxBufferedReadStream(TStream& inner)
    : inner_(&inner), buffer_(static_cast<std::size_t>(kBufferedPageSize)) {}

TqxBufferedReadStream::TqxBufferedReadStream(std::unique_ptr<TStream> inner)
    : owner_(std::move(inner)), inner_(owner_.get()), buffer_(static_cast<std::size_t>(kBufferedPageSize)) {}

TqxBufferedReadStream::~TqxBufferedReadStream() = default;

bool TqxBufferedReadStream::LoadPage() {
  const std::int64_t page = position_ / kBufferedPageSize;
  if (page != page_ || reload_) {
    inner_->Seek(page * kBufferedPageSize, soBeginning);
    std::int64_t got = 0;
    while (got < kBufferedPageSize) {
      const std::int64_t n = inner_->Read(buffer_.data() + got, kBufferedPageSize - got);
      if (n <= 0) break;
      got += n;
    }
    valid_ = got;
    page_ = page;
    reload_ = false;
  }
  return position_ % kBufferedPageSize < valid_;
}

std::int64_t TqxBufferedReadStream::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  // One byte inside the loaded page: the parser's common case.
  if (count == 1 && !reload_ && position_ / kBufferedPageSize == page_) {
    const std::int64_t at = position_ % kBufferedPageSize;
    if (at < valid_ - 1) {
      *out = buffer_[static_cast<std::size_t>(at)];
      ++position_;
      return 1;
    }
  }
  std::int64_t done = 0;
  while (done < count && LoadPage()) {
    const std::int64_t at = position_ % kBufferedPageSize;
    const std::int64_t n = std::min(valid_ - at, count - done);
    std::memcpy(out + done, buffer_.data() + at, static_cast<std::size_t>(n));
    done += n;
    position_ += n;
  }
  return done;
}

std::int64_t TqxBufferedReadStream::Write(const void*, std::int64_t) {
  throw EStreamError("Cannot write to an UTF stream opened for reading");
}

std::int64_t TqxBufferedReadStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soBeginning: position_ = offset; break;
    case soCurrent:
      if (offset == 0) return position_;
      position_ += offset;
      break;
    case soEnd: position_ = inner_->Size() + offset; break;
  }
  if (position_ < 0) position_ = 0;
  reload_ = true;
  return position_;
}

TqxBufferedWriteStream::TqxBufferedWriteStream(TStream& inner)
    : inner_(&inner), buffer_(static_cast<std::size_t>(kBufferedPageSize)) {}

TqxBufferedWriteStream::TqxBufferedWriteStream(std::unique_ptr<TStream> inner)
    : owner_(std::move(inner)), inner_(owner_.get()), buffer_(static_cast<std::size_t>(kBufferedPageSize)) {}

TqxBufferedWriteStream::~TqxBufferedWriteStream() {
  try {
    Flush();
  } catch (const EStreamError&) {
    // A destructor cannot report it; callers that care flush first.
  }
}

void TqxBufferedWriteStream::Flush() {
  if (buffered_ == 0) return;
  const std::int64_t n = buffered_;
  buffered_ = 0;
  if (inner_->Write(buffer_.data(), n) != n) throw EStreamError("Cannot write to output stream");
}

std::int64_t TqxBufferedWriteStream::Read(void*, std::int64_t) {
  throw EStreamError("Cannot read from a conversion stream opened for writing");
}

std::int64_t TqxBufferedWriteStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t n = std::min(kBufferedPageSize - buffered_, count - done);
    std::memcpy(buffer_.data() + buffered_, in + done, static_cast<std::size_t>(n));
    buffered_ += n;
    done += n;
    if (buffered_ == kBufferedPageSize) Flush();
  }
  position_ += count;
  return count;
}

std::int64_t TqxBufferedWriteStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if ((origin == soBeginning && offset == position_) || (origin != soBeginning && offset == 0))
    return position_;
  throw EStreamError("Cannot perform seek on codec stream");
}

}  // namespace kdl

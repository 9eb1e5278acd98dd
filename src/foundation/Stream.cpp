#include "foundation/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <typeinfo>
#include <vector>

#include "platform/TempFiles.h"

namespace kdl {

// ---- TStream ----------------------------------------------------------------

std::int64_t TStream::Size() {
  const std::int64_t pos = Seek(0, soCurrent);
  const std::int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) { throw EStreamError("Stream does not support resizing"); }

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const std::int64_t n = Read(p, count);
    if (n <= 0) throw EReadError("Stream read error");
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  const auto* p = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    const std::int64_t n = Write(p, count);
    if (n <= 0) throw EWriteError("Stream write error");
    p += n;
    count -= n;
  }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count <= 0) return 0;
  constexpr std::int64_t kChunk = 1 << 16;
  std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min(count, kChunk)));
  const std::int64_t total = count;
  while (count > 0) {
    const std::int64_t n = std::min(count, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

// ---- TMemoryStream ----------------------------------------------------------

TMemoryStream::~TMemoryStream() { std::free(memory_); }

void TMemoryStream::SetCapacity(std::int64_t capacity) {
  if (capacity < size_) capacity = size_;
  if (capacity == capacity_) return;
  if (capacity == 0) {
    std::free(memory_);
    memory_ = nullptr;
    capacity_ = 0;
    return;
  }
  Reallocate(capacity);
}

void TMemoryStream::Reallocate(std::int64_t capacity) {
  if (static_cast<std::uint64_t>(capacity) > std::numeric_limits<std::size_t>::max() / 2)
    throw EStreamError("Out of memory while expanding memory stream");
  // Nothing new is zeroed here: the spare capacity is never read, and the
  // bytes a growth of the size exposes are zeroed then (ZeroGap).
  auto* p = static_cast<unsigned char*>(std::realloc(memory_, static_cast<std::size_t>(capacity)));
  if (!p) throw EStreamError("Out of memory while expanding memory stream");
  memory_ = p;
  capacity_ = capacity;
}

void TMemoryStream::Reserve(std::int64_t end) {
  if (end <= capacity_) return;
  // Doubling: the copies on growth add up to less than the final size.
  const std::int64_t doubled = capacity_ > std::numeric_limits<std::int64_t>::max() / 2
                                   ? std::numeric_limits<std::int64_t>::max()
                                   : capacity_ * 2;
  Reallocate(std::max({end, doubled, std::int64_t{256}}));
}

void TMemoryStream::ZeroGap(std::int64_t end) {
  if (end > size_) std::memset(memory_ + size_, 0, static_cast<std::size_t>(end - size_));
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  Reserve(size);
  ZeroGap(size);
  size_ = size;
  if (position_ > size_) position_ = size_;
}

void ZeroGrownBytes(unsigned char* block, std::int64_t oldCapacity, std::int64_t newCapacity,
                    std::int64_t fillFrom, std::int64_t fillTo) {
  if (newCapacity <= oldCapacity) return;
  const std::int64_t skipFrom = std::clamp(fillFrom, oldCapacity, newCapacity);
  const std::int64_t skipTo = std::clamp(fillTo, skipFrom, newCapacity);
  std::memset(block + oldCapacity, 0, static_cast<std::size_t>(skipFrom - oldCapacity));
  std::memset(block + skipTo, 0, static_cast<std::size_t>(newCapacity - skipTo));
}

void ReadIntoBlock(TStream& source, unsigned char* block, std::int64_t at, std::int64_t count,
                   std::int64_t oldSize) {
  try {
    source.ReadBuffer(block + at, count);
  } catch (...) {
    // Whatever arrived past the old size goes again: it must read as zeros.
    const std::int64_t from = std::max(at, oldSize);
    if (at + count > from) std::memset(block + from, 0, static_cast<std::size_t>(at + count - from));
    throw;
  }
}

std::int64_t TMemoryStream::CopyFrom(TStream& source, std::int64_t count) {
  // A derived stream may do more in Write, and a copy from itself could read
  // bytes it is overwriting: both take the general path.
  if (typeid(*this) != typeid(TMemoryStream) || &source == this) return TStream::CopyFrom(source, count);
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count <= 0) return 0;
  if (position_ > std::numeric_limits<std::int64_t>::max() - count) throw EStreamError("Stream too large");
  const std::int64_t at = position_;
  const std::int64_t end = at + count;
  Reserve(end);
  // A short source leaves the size as it was: whatever arrived past it is
  // spare capacity again, never read.
  ZeroGap(at);
  source.ReadBuffer(memory_ + at, count);
  size_ = std::max(size_, end);
  position_ = end;
  return count;
}

void TMemoryStream::Clear() {
  std::free(memory_);
  memory_ = nullptr;
  size_ = capacity_ = position_ = 0;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, memory_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (position_ > std::numeric_limits<std::int64_t>::max() - count)
    throw EStreamError("Stream too large");
  const std::int64_t end = position_ + count;
  if (end > size_) {
    // Only a gap between the old end and the write is zeroed; the bytes
    // about to be written are not.
    Reserve(end);
    ZeroGap(position_);
    size_ = end;
  }
  std::memcpy(memory_ + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  switch (origin) {
    case soBeginning: base = 0; break;
    case soCurrent: base = position_; break;
    case soEnd: base = size_; break;
  }
  const std::int64_t pos = base + offset;
  if (pos < 0) throw EStreamError("Invalid stream position");
  // Positions past the end are allowed; the next write fills the gap with zeros.
  position_ = pos;
  return position_;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const std::int64_t n = source.Size();
  // Only cut here: the copy grows the block without zeroing what it fills.
  if (size_ > n) SetSize(n);
  position_ = 0;
  if (n > 0) CopyFrom(source, n);
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& target) {
  if (size_ > 0) target.WriteBuffer(memory_, size_);
}

void TMemoryStream::LoadFromFile(const std::filesystem::path& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::filesystem::path& fileName) {
  WriteFileAtomically(fileName, [this](TStream& s) { SaveToStream(s); });
}

// ---- TFileStream ------------------------------------------------------------

TFileStream::TFileStream(const std::filesystem::path& fileName, TFileMode mode)
    : fileName_(fileName) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case fmOpenRead: flags |= O_RDONLY; break;
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    case fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  fd_ = ::open(fileName.c_str(), flags, 0666);
  if (fd_ < 0) {
    const std::string reason = std::strerror(errno);
    if (mode == fmCreate)
      throw EFCreateError("Cannot create file \"" + fileName.string() + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + fileName.string() + "\". " + reason);
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file \"" + fileName.string() + "\". Is a directory");
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, static_cast<std::size_t>(count));
    if (n >= 0) return n;
    if (errno != EINTR) throw EReadError("Stream read error: " + std::string(std::strerror(errno)));
  }
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::write(fd_, buffer, static_cast<std::size_t>(count));
    if (n >= 0) return n;
    if (errno != EINTR) throw EWriteError("Stream write error: " + std::string(std::strerror(errno)));
  }
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (r < 0) throw EStreamError("Invalid stream position");
  return r;
}

std::int64_t TFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EStreamError("Cannot read file size");
  return st.st_size;
}

void TFileStream::SetSize(std::int64_t size) {
  if (size < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0)
    throw EStreamError("Cannot change file size");
  if (Position() > size) Seek(size, soBeginning);
}

void TFileStream::Flush() {
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS)
    throw EWriteError("Stream write error: " + std::string(std::strerror(errno)));
}

// ---- Atomic save -------------------------------------------------------------

void WriteFileAtomically(const std::filesystem::path& target,
                         const std::function<void(TStream&)>& write) {
  // Resolve a link so that the link itself survives and its target is replaced.
  std::error_code ec;
  std::filesystem::path real = target;
  if (std::filesystem::is_symlink(target, ec)) {
    real = std::filesystem::weakly_canonical(target, ec);
    if (ec) real = target;
  }
  const auto dir = real.has_parent_path() ? real.parent_path() : std::filesystem::path(".");
  std::filesystem::path temp;
  try {
    std::string prefix(1, '.');
    prefix += real.filename().string();
    prefix += '.';
    temp = CreateUniqueFile(prefix, dir);
  } catch (const Exception& e) {
    throw EFCreateError("Cannot create file \"" + target.string() + "\". " + e.Message());
  }
  try {
    {
      TFileStream out(temp, fmOpenReadWrite);
      write(out);
      out.Flush();
    }
    // Keep the permissions of the file being replaced.
    struct stat st {};
    if (::stat(real.c_str(), &st) == 0) ::chmod(temp.c_str(), st.st_mode & 07777);
    else ::chmod(temp.c_str(), 0644);
    std::filesystem::rename(temp, real);
  } catch (const std::filesystem::filesystem_error& e) {
    std::filesystem::remove(temp, ec);
    throw EWriteError("Cannot write file \"" + target.string() + "\". " + e.code().message());
  } catch (...) {
    std::filesystem::remove(temp, ec);
    throw;
  }
}

}  // namespace kdl

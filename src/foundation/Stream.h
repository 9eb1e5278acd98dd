// The byte stream base of the storage layer, with memory and file streams.
// Positions and sizes are 64-bit; a short ReadBuffer/WriteBuffer raises.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/Exception.h"

namespace kdl {

KDL_DECLARE_EXCEPTION(EStreamError, Exception);
KDL_DECLARE_EXCEPTION(EReadError, EStreamError);
KDL_DECLARE_EXCEPTION(EWriteError, EStreamError);
KDL_DECLARE_EXCEPTION(EFOpenError, EStreamError);
KDL_DECLARE_EXCEPTION(EFCreateError, EStreamError);
// Malformed stored data (XML text, binary values, archive contents).
KDL_DECLARE_EXCEPTION(EFilerError, EStreamError);

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes up to count bytes; returns how many were written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  virtual std::int64_t Position() { return Seek(0, soCurrent); }
  virtual void SetPosition(std::int64_t pos) { Seek(pos, soBeginning); }
  virtual std::int64_t Size();
  // Streams that cannot change their size raise EStreamError.
  virtual void SetSize(std::int64_t size);

  // Exactly count bytes, or EReadError "Stream read error".
  void ReadBuffer(void* buffer, std::int64_t count);
  // Exactly count bytes, or EWriteError "Stream write error".
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source's position to this stream's position
  // (count 0: all of source from its start; a negative count copies nothing);
  // returns the number of bytes copied. A short source raises EReadError.
  virtual std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// Reads count bytes of source straight into block[at..at+count) for the
// memory streams' CopyFrom. On a short source it raises EReadError after
// zeroing whatever arrived past oldSize, so no partial bytes show.
void ReadIntoBlock(TStream& source, unsigned char* block, std::int64_t at, std::int64_t count,
                   std::int64_t oldSize);

// Zeroes the bytes [oldCapacity, newCapacity) of a grown block except
// [fillFrom, fillTo), which the caller overwrites at once.
void ZeroGrownBytes(unsigned char* block, std::int64_t oldCapacity, std::int64_t newCapacity,
                    std::int64_t fillFrom, std::int64_t fillTo);

// A growable stream in memory. Every byte it has not been given reads as
// zero, so no stale heap bytes ever reach a file or the clipboard. Only the
// bytes up to the size hold anything: the spare capacity behind them is
// left as the allocator gave it, and a growth of the size (SetSize, or a
// write or copy that starts past the end) zeroes just the bytes it exposes.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t size) override;
  // Reads straight into the block, so the bytes it receives are never zeroed
  // first. A short source raises EReadError and keeps the old size; every
  // byte past it reads as zero again.
  std::int64_t CopyFrom(TStream& source, std::int64_t count) override;

  // The block: Size() bytes of content, then spare capacity of no defined value.
  void* Memory() { return memory_; }
  const void* Memory() const { return memory_; }
  std::int64_t Capacity() const { return capacity_; }
  void SetCapacity(std::int64_t capacity);
  void Clear();

  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& target);
  void LoadFromFile(const std::filesystem::path& fileName);
  void SaveToFile(const std::filesystem::path& fileName);

 private:
  // Resizes the block to capacity, copying the content; new bytes stay as they come.
  void Reallocate(std::int64_t capacity);
  // Makes room for end bytes; growth is geometric, so a run of writes stays linear.
  void Reserve(std::int64_t end);
  // Zeroes [size_, end): the bytes a growth to end exposes before a write at end.
  void ZeroGap(std::int64_t end);

  unsigned char* memory_ = nullptr;
  std::int64_t size_ = 0;
  std::int64_t capacity_ = 0;
  std::int64_t position_ = 0;
};

enum TFileMode { fmOpenRead = 0, fmOpenWrite = 1, fmOpenReadWrite = 2, fmCreate = 0xFF00 };

// A stream over an operating-system file.
class TFileStream : public TStream {
 public:
  // fmCreate creates or truncates; the others open an existing file.
  TFileStream(const std::filesystem::path& fileName, TFileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;

  // Pushes written bytes to the device; raises EWriteError on failure.
  void Flush();
  const std::filesystem::path& FileName() const { return fileName_; }
  int Handle() const { return fd_; }

 private:
  std::filesystem::path fileName_;
  int fd_ = -1;
};

// Writes a file so that a failure can never destroy the previous one: the
// bytes go to a temporary file beside the target, which is flushed and then
// renamed over the target. Any error removes the temporary file and raises.
void WriteFileAtomically(const std::filesystem::path& target,
                         const std::function<void(TStream&)>& write);

}  // namespace kdl

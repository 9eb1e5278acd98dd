// Page-buffered reading and block-buffered writing over another stream, so
// that one-byte reads and small writes stay cheap.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Stream.h"

namespace kdl {

inline constexpr std::int64_t kBufferedPageSize = 65536;

class TqxBufferedReadStream : public TStream {
 public:
  explicit TqxBufferedReadStream(TStream& inner);
  explicit TqxBufferedReadStream(std::unique_ptr<TStream> inner);
  ~TqxBufferedReadStream() override;
  TqxBufferedReadStream(const TqxBufferedReadStream&) = delete;
  TqxBufferedReadStream& operator=(const TqxBufferedReadStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

 private:
  bool LoadPage();

  std::unique_ptr<TStream> owner_;
  TStream* inner_;
  std::vector<unsigned char> buffer_;
  std::int64_t page_ = -1;
  std::int64_t valid_ = 0;
  std::int64_t position_ = 0;
  bool reload_ = true;
};

class TqxBufferedWriteStream : public TStream {
 public:
  explicit TqxBufferedWriteStream(TStream& inner);
  explicit TqxBufferedWriteStream(std::unique_ptr<TStream> inner);
  // Flushes; call Flush first to see a failure, which a destructor can't raise.
  ~TqxBufferedWriteStream() override;
  TqxBufferedWriteStream(const TqxBufferedWriteStream&) = delete;
  TqxBufferedWriteStream& operator=(const TqxBufferedWriteStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  // Raises EStreamError "Cannot write to output stream" on a short write.
  void Flush();

 private:
  std::unique_ptr<TStream> owner_;
  TStream* inner_;
  std::vector<unsigned char> buffer_;
  std::int64_t buffered_ = 0;
  std::int64_t position_ = 0;
};

}  // namespace kdl

#include "document/resources/StreamAdapter.h"

#include <cstring>

#include "foundation/Stream.h"

namespace kdl {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}

TStreamBuf::TStreamBuf(TStream& stream) : stream_(stream), in_(kBufferSize), out_(kBufferSize) {
  setg(in_.data(), in_.data(), in_.data());
  setp(out_.data(), out_.data() + out_.size());
}

TStreamBuf::~TStreamBuf() {
  try {
    Sync();
  } catch (...) {  // a destructor must not raise; writers call Sync first
  }
}

bool TStreamBuf::FlushOutput() {
  const std::int64_t n = pptr() - pbase();
  if (n > 0) {
    const std::int64_t written = stream_.Write(pbase(), n);
    setp(out_.data(), out_.data() + out_.size());
    if (written != n) return false;
  }
  return true;
}

void TStreamBuf::Sync() {
  FlushOutput();
  const std::int64_t unread = egptr() - gptr();
  if (unread > 0) stream_.Seek(-unread, soCurrent);
  setg(in_.data(), in_.data(), in_.data());
}

TStreamBuf::int_type TStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (!FlushOutput()) return traits_type::eof();
  const std::int64_t n = stream_.Read(in_.data(), static_cast<std::int64_t>(in_.size()));
  if (n <= 0) {
    setg(in_.data(), in_.data(), in_.data());
    return traits_type::eof();
  }
  setg(in_.data(), in_.data(), in_.data() + n);
  return traits_type::to_int_type(*gptr());
}

TStreamBuf::int_type TStreamBuf::overflow(int_type ch) {
  if (!FlushOutput()) return traits_type::eof();
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  *pptr() = traits_type::to_char_type(ch);
  pbump(1);
  return ch;
}

std::streamsize TStreamBuf::xsputn(const char* s, std::streamsize n) {
  // Large blocks go straight through.
  if (n >= static_cast<std::streamsize>(out_.size())) {
    if (!FlushOutput()) return 0;
    return static_cast<std::streamsize>(stream_.Write(s, n));
  }
  return std::streambuf::xsputn(s, n);
}

int TStreamBuf::sync() { return FlushOutput() ? 0 : -1; }

TStreamBuf::pos_type TStreamBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                         std::ios_base::openmode) {
  Sync();
  const TSeekOrigin origin =
      dir == std::ios_base::beg ? soBeginning : dir == std::ios_base::cur ? soCurrent : soEnd;
  const std::int64_t pos = stream_.Seek(off, origin);
  if (pos < 0) return pos_type(off_type(-1));
  return pos_type(pos);
}

TStreamBuf::pos_type TStreamBuf::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

}  // namespace kdl

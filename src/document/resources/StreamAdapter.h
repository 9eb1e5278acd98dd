// Lets the raster library's standard-stream readers and writers work on a
// foundation TStream. The adapter buffers; Sync() puts the TStream's
// position where the standard stream's logical position is.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <streambuf>
#include <vector>

namespace kdl {

class TStream;

class TStreamBuf : public std::streambuf {
 public:
  explicit TStreamBuf(TStream& stream);
  ~TStreamBuf() override;
  TStreamBuf(const TStreamBuf&) = delete;
  TStreamBuf& operator=(const TStreamBuf&) = delete;

  // Writes pending output and seeks the TStream back over unread input.
  void Sync();

 protected:
  int_type underflow() override;
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

 private:
  bool FlushOutput();

  TStream& stream_;
  std::vector<char> in_;
  std::vector<char> out_;
};

// An input stream over a TStream; the TStream's position follows on
// destruction.
class TStreamReader : public std::istream {
 public:
  explicit TStreamReader(TStream& stream) : std::istream(nullptr), buf_(stream) { rdbuf(&buf_); }
  ~TStreamReader() override { buf_.Sync(); }

 private:
  TStreamBuf buf_;
};

// An output stream over a TStream; bytes reach it on flush or destruction.
class TStreamWriter : public std::ostream {
 public:
  explicit TStreamWriter(TStream& stream) : std::ostream(nullptr), buf_(stream) { rdbuf(&buf_); }
  ~TStreamWriter() override { buf_.Sync(); }

 private:
  TStreamBuf buf_;
};

}  // namespace kdl

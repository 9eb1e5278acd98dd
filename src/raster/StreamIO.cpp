#include "raster/StreamIO.h"

#include <algorithm>
#include <istream>

namespace kdl {

namespace {
constexpr std::int64_t kChunk = std::int64_t{1} << 20;
}

std::int64_t StreamRemaining(std::istream& stream) {
  if (!stream) return -1;
  const std::istream::pos_type pos = stream.tellg();
  if (pos == std::istream::pos_type(-1)) {
    stream.clear();
    return -1;
  }
  stream.seekg(0, std::ios::end);
  const std::istream::pos_type end = stream.tellg();
  stream.clear();
  stream.seekg(pos);
  if (end == std::istream::pos_type(-1) || !stream) {
    stream.clear();
    return -1;
  }
  return static_cast<std::int64_t>(end - pos);
}

bool ReadExact(std::istream& stream, void* buffer, std::int64_t count) {
  if (count <= 0) return true;
  stream.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
  return stream.gcount() == count;
}

bool ReadGrowing(std::istream& stream, std::int64_t count, std::vector<std::uint8_t>& out) {
  out.clear();
  while (static_cast<std::int64_t>(out.size()) < count) {
    const std::int64_t n = std::min(kChunk, count - static_cast<std::int64_t>(out.size()));
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n));
    stream.read(reinterpret_cast<char*>(out.data() + at), static_cast<std::streamsize>(n));
    const auto got = stream.gcount();
    if (got != n) {
      out.resize(at + static_cast<std::size_t>(got));
      return false;
    }
  }
  return true;
}

std::vector<std::uint8_t> ReadToEnd(std::istream& stream, std::int64_t limit) {
  std::vector<std::uint8_t> out;
  while (static_cast<std::int64_t>(out.size()) < limit && stream) {
    const std::int64_t n = std::min(kChunk, limit - static_cast<std::int64_t>(out.size()));
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n));
    stream.read(reinterpret_cast<char*>(out.data() + at), static_cast<std::streamsize>(n));
    out.resize(at + static_cast<std::size_t>(stream.gcount()));
  }
  return out;
}

}  // namespace kdl

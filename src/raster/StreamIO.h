// Byte reading over standard streams for the raster readers, which must
// never trust a size before the bytes are really there.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace kdl {

// Bytes left from the position to the end; -1 when the stream cannot tell.
std::int64_t StreamRemaining(std::istream& stream);
// Reads exactly count bytes; false when the stream ends first.
bool ReadExact(std::istream& stream, void* buffer, std::int64_t count);
// Reads count bytes into a vector that grows as they arrive, so that a
// lying length costs no more memory than the bytes really present; false
// (with what was read) when the stream ends first.
bool ReadGrowing(std::istream& stream, std::int64_t count, std::vector<std::uint8_t>& out);
// Reads to the end of the stream, at most limit bytes.
std::vector<std::uint8_t> ReadToEnd(std::istream& stream, std::int64_t limit);

}  // namespace kdl

// Drives the ".hck" coders: decoders on arbitrary bytes with a small output
// capacity, and every encoder's output decoded back to the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "document/resources/formats/HckCoders.h"

using kdl::kCoderOk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t capacity = data[0] * 64;
  const std::uint8_t* in = data + 1;
  const std::size_t n = size - 1;
  std::vector<std::uint8_t> out(capacity + 1);
  std::size_t length = 0;

  // Damaged input never writes past the capacity.
  if (kdl::RleDecode(in, n, out.data(), capacity, length) == kCoderOk && length > capacity)
    std::abort();
  if (kdl::RankDecode(in, n, out.data(), capacity, length) == kCoderOk && length > capacity)
    std::abort();
  if (kdl::RankDeltaDecode(in, n, out.data(), capacity, length) == kCoderOk && length > capacity)
    std::abort();

  // Encoders into CompressBufferSize always succeed and decode back.
  if (n == 0) return 0;
  std::vector<std::uint8_t> plain(in, in + n);
  std::vector<std::uint8_t> packed(kdl::CompressBufferSize(n));
  std::vector<std::uint8_t> back(n + 1);
  if (kdl::RleEncode(plain.data(), n, packed.data(), packed.size(), length) != kCoderOk) std::abort();
  std::size_t got = 0;
  if (kdl::RleDecode(packed.data(), length, back.data(), n, got) != kCoderOk || got != n ||
      (n > 0 && std::memcmp(back.data(), in, n) != 0))
    std::abort();
  if (kdl::DeltaRankEncode(plain.data(), n, packed.data(), packed.size(), length) != kCoderOk)
    std::abort();
  if (kdl::RankDeltaDecode(packed.data(), length, back.data(), n, got) != kCoderOk || got != n ||
      (n > 0 && std::memcmp(back.data(), in, n) != 0))
    std::abort();
  return 0;
}

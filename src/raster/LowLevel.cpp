#include "raster/LowLevel.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kdl {

void FillLongword(void* x, std::int64_t count, std::uint32_t value) {
  if (count <= 0) return;
  std::fill_n(static_cast<std::uint32_t*>(x), count, value);
}

void MoveLongword(const void* src, void* dst, std::int64_t count) {
  if (count <= 0 || src == dst) return;
  std::memmove(dst, src, static_cast<std::size_t>(count) * 4);
}

bool TestClip(std::int32_t& a, std::int32_t& b, std::int32_t start, std::int32_t stop) {
  TestSwap(a, b);
  if (a < start) a = start;
  // stop - 1 in 64 bits: stop may be the smallest integer.
  const std::int64_t last = static_cast<std::int64_t>(stop) - 1;
  if (b > last) b = static_cast<std::int32_t>(std::max<std::int64_t>(last, INT32_MIN));
  return b >= a && b <= last;
}

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  // Magnitudes in unsigned arithmetic: |INT32_MIN| has no signed form.
  auto mag = [](std::int32_t v) {
    return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  };
  const std::uint64_t product = std::uint64_t{mag(a)} * mag(b);
  const std::uint32_t divisor = mag(c);
  // The quotient must fit in 31 bits; this also catches c = 0.
  if (static_cast<std::uint32_t>((product >> 32) << 1) >= divisor) return -1;
  std::uint64_t q = product / divisor;
  const std::uint64_t r = product % divisor;
  if (r >= divisor - r) ++q;
  // Rounding up can reach 2^31, which a positive result cannot hold.
  const bool negative = ((a ^ b ^ c) < 0);
  if (q > 0x7FFFFFFFu && !(negative && q == 0x80000000u)) return -1;
  return negative ? static_cast<std::int32_t>(0 - q) : static_cast<std::int32_t>(q);
}

}  // namespace kdl

// Fill, move, clamp and shift routines used by every kernel.
#pragma once

#include <cstdint>
#include <utility>

namespace kdl {

// Stores value into count consecutive 32-bit words; count <= 0 stores nothing.
void FillLongword(void* x, std::int64_t count, std::uint32_t value);
// Moves count 32-bit words; overlapping ranges are handled.
void MoveLongword(const void* src, void* dst, std::int64_t count);

template <typename T>
inline void Swap(T& a, T& b) {
  std::swap(a, b);
}
// Leaves a <= b.
template <typename T>
inline void TestSwap(T& a, T& b) {
  if (b < a) std::swap(a, b);
}

// Clips the inclusive run a..b to the half-open range start..stop; true when
// anything is left.
bool TestClip(std::int32_t& a, std::int32_t& b, std::int32_t start, std::int32_t stop);
inline std::int32_t Constrain(std::int32_t value, std::int32_t lo, std::int32_t hi) {
  return value < lo ? lo : (value < hi ? value : hi);
}

inline constexpr std::int32_t SAR_8(std::int32_t v) { return v >> 8; }
inline constexpr std::int32_t SAR_9(std::int32_t v) { return v >> 9; }
inline constexpr std::int32_t SAR_12(std::int32_t v) { return v >> 12; }
inline constexpr std::int32_t SAR_13(std::int32_t v) { return v >> 13; }
inline constexpr std::int32_t SAR_14(std::int32_t v) { return v >> 14; }
inline constexpr std::int32_t SAR_16(std::int32_t v) { return v >> 16; }

// a*b/c rounded half away from zero; -1 on overflow.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

}  // namespace kdl

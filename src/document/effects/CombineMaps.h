// The eight byte operations that fold a mask's map into an alpha channel.
#pragma once

#include <cstdint>

#include "raster/ByteMap.h"

namespace kdl {

inline constexpr const char* kMapsMustBeAssigned = "Maps must be assigned";
inline constexpr const char* kMapsMustBeEqualSize = "Maps must be equal size";

// Operations: 0 multiply, 1 add, 2 subtract, 3 replace, 4 lighter, 5 darker,
// 6 difference, 7 screen.
inline constexpr std::uint8_t kMaskOperationCount = 8;

// One byte by the operation's integer formula; a stays for an operation
// outside 0..7. The reference every row kernel matches.
std::uint8_t CombineBytes(std::uint8_t a, std::uint8_t b, std::uint8_t operation);

// out[i] := operation(a[i], b[i]) for n bytes; out may be a (not b unless
// b is a too).
void CombineByteRows(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
                     std::int64_t n, std::uint8_t operation);

// Out is sized to A, then filled byte by byte. Raises kMapsMustBeAssigned
// for a nil map and kMapsMustBeEqualSize when B is not of A's size. Out may
// be A.
void CombineByteMaps(const TByteMap* a, const TByteMap* b, TByteMap* out, std::uint8_t operation);

}  // namespace kdl

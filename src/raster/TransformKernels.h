// Row kernels of the separable stretch engine (32-bit sums), with SIMD
// variants chosen with the other transform routines; every level gives the
// same values as the portable loops.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/Types.h"

namespace kdl {

struct TStretchRowKernels {
  // out[4x + k] = sum over the cluster of column x (start[x] .. start[x+1])
  // of weight x channel k of src[pos]; every weight within 16 bits.
  void (*reduce)(const TColor32* src, const std::int32_t* start, const std::int32_t* pos,
                 const std::int32_t* weight, std::size_t width, std::int32_t* out);
  // t[i] += w x h[i] for i < n.
  void (*accumulate)(std::int32_t* t, const std::int32_t* h, std::int32_t w, std::size_t n);
  // Each channel total limited to [0, 255 shl 16], shifted down by 16.
  void (*pack)(const std::int32_t* t, TColor32* out, std::size_t width);
  // accumulate over count rows starting from bias, then pack, in one pass.
  void (*combine)(const std::int32_t* const* rows, const std::int32_t* weights, std::size_t count,
                  std::int32_t bias, TColor32* out, std::size_t width);
};

extern TStretchRowKernels StretchRowKernels;

}  // namespace kdl

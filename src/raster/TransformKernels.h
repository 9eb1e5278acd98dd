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

  // The 16-bit form for column weights that are all non-negative and sum to
  // at most 257, so that every reduced channel lies in 0..65535 and is kept
  // less 32768 as a signed word. Null where a level has no such kernels.
  //
  // out[4x + k] = sum over t < 2 x pairs of w(x, t) x channel k of
  // src[first[x] + t], less 32768. The weights of output x and pair j come
  // as four equal words wexp[4 (x pairs + j) + 0..3] = w(x, 2j) | w(x, 2j +
  // 1) shl 16, so that a vector loads them directly; pairs is 1 or even.
  void (*reduceWindow)(const TColor32* src, const std::int32_t* first, const std::int32_t* wexp,
                       std::size_t pairs, std::size_t width, std::int16_t* out);
  // combine over such rows, taken two at a time: bias + the sum of weight x
  // value per channel, limited to [0, 255 shl 16] and shifted down by 16.
  // count is even; wpairs[j] = w(2j) | w(2j + 1) shl 16 in 16-bit words,
  // the weights' absolute sum at most 16384; bias already holds 32768 x
  // the weights' sum.
  void (*combineWindow)(const std::int16_t* const* rows, const std::int32_t* wpairs,
                        std::size_t count, std::int32_t bias, TColor32* out, std::size_t width);
  // Both in one pass for a row cluster of one row: per channel, bias +
  // weight x the window sum of reduceWindow (without its offset), limited
  // and shifted as combine; the weight's absolute value at most 16384.
  void (*packWindow)(const TColor32* src, const std::int32_t* first, const std::int32_t* wexp,
                     std::size_t pairs, std::int32_t weight, std::int32_t bias, std::size_t width,
                     TColor32* out);

  // The vertical-first order for reductions. blendRows: out[4c + k] = sum
  // over r < count of weights[r] x channel k of rows[r][c], less 32768, for
  // c < n; the weights non-negative with a sum of at most 257. ahead, if
  // not null, is a row of at least n pixels that a later call reads: only
  // fetched into the cache.
  void (*blendRows)(const TColor32* const* rows, const std::int32_t* weights, std::size_t count,
                    std::size_t n, std::int16_t* out, const TColor32* ahead);
  // Then per output x: bias + sum over the window of w(x, t) x
  // v[first[x] + t], limited and shifted as combine, with first and wexp as
  // for reduceWindow; bias already holds 32768 x the weights' sum, the same
  // for every window.
  void (*reduceBlended)(const std::int16_t* v, const std::int32_t* first, const std::int32_t* wexp,
                        std::size_t pairs, std::int32_t bias, std::size_t width, TColor32* out);
};

extern TStretchRowKernels StretchRowKernels;

}  // namespace kdl

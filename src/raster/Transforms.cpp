#include "raster/Transforms.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <type_traits>

#include "raster/Blend.h"
#include "raster/LowLevel.h"
#include "raster/TransformKernels.h"

namespace kdl {

// ---- Kernels ----------------------------------------------------------------

float BoxFilter(float x) { return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f; }

float LinearFilter(float x) { return (x >= -1.0f && x < 1.0f) ? 1.0f - std::fabs(x) : 0.0f; }

float LinearFilterDraft(float x) { return LinearFilter(x); }

float CosineFilter(float x) {
  if (std::fabs(x) < 1.0f) return (std::cos(x * std::numbers::pi_v<float>) + 1.0f) / 2.0f;
  return 0.0f;
}

float SplineFilter(float x) {
  const float t = std::fabs(x);
  if (t < 1.0f) return t * t * t / 2.0f - t * t + 2.0f / 3.0f;
  if (t < 2.0f) {
    const float u = 2.0f - t;
    return u * u * u / 6.0f;
  }
  return 0.0f;
}

float SinC(float x) {
  if (x == 0.0f) return 1.0f;
  const float px = x * std::numbers::pi_v<float>;
  return std::sin(px) / px;
}

float LanczosFilter(float x) {
  const float t = std::fabs(x);
  if (t < 3.0f) return SinC(t) * SinC(t / 3.0f);
  return 0.0f;
}

float MitchellFilter(float x) {
  const float t = std::fabs(x);
  if (t < 1.0f) return (7.0f * t * t * t - 12.0f * t * t + 16.0f / 3.0f) / 6.0f;
  if (t < 2.0f)
    return (-7.0f / 3.0f * t * t * t + 12.0f * t * t - 20.0f * t + 32.0f / 3.0f) / 6.0f;
  return 0.0f;
}

TFilterFunction FilterFunction(TStretchFilter filter) {
  switch (filter) {
    case sfNearest: return BoxFilter;
    case sfDraft: return LinearFilterDraft;
    case sfLinear: return LinearFilter;
    case sfCosine: return CosineFilter;
    case sfSpline: return SplineFilter;
    case sfLanczos: return LanczosFilter;
    case sfMitchell: return MitchellFilter;
  }
  return BoxFilter;
}

float FilterWidth(TStretchFilter filter) {
  switch (filter) {
    case sfSpline:
    case sfMitchell: return 2.0f;
    case sfLanczos: return 3.0f;
    default: return 1.0f;
  }
}

namespace {

// The combine operation of one transfer: store, blend through the source's
// combine mode with its master alpha, or hand to the caller's combiner.
struct TCombineOp {
  TDrawMode mode;
  TCombineMode combineMode;
  TColor32 masterAlpha;
  const TPixelCombineEvent* callback;

  void operator()(TColor32 c, TColor32& d) const {
    switch (mode) {
      case dmOpaque: d = c; break;
      case dmBlend: BLEND_MEM_EX[combineMode](c, d, masterAlpha); break;
      case dmCustom: (*callback)(c, d, masterAlpha); break;
    }
  }

  // A whole row at once: blending goes through the line kernel of the
  // processor's level, which gives the bytes of the per-pixel one.
  void Row(const TColor32* src, TColor32* dst, std::size_t count) const {
    switch (mode) {
      case dmOpaque: std::copy_n(src, count, dst); break;
      case dmBlend:
        BLEND_LINE_EX[combineMode](src, dst, static_cast<std::int32_t>(count), masterAlpha);
        break;
      case dmCustom:
        for (std::size_t x = 0; x < count; ++x) (*callback)(src[x], dst[x], masterAlpha);
        break;
    }
  }
};

void BlockTransfer(TBitmap32& dst, const TRect& clip, TBitmap32& src, std::int32_t srcX,
                   std::int32_t srcY, const TCombineOp& op) {
  const std::int32_t w = clip.Width();
  for (std::int32_t y = clip.Top; y < clip.Bottom; ++y) {
    const TColor32* s = src.PixelPtr(srcX, srcY + y - clip.Top);
    TColor32* d = dst.PixelPtr(clip.Left, y);
    switch (op.mode) {
      case dmOpaque:
        MoveLongword(s, d, w);
        break;
      case dmBlend:
        if (op.masterAlpha < 255)
          BLEND_LINE_EX[op.combineMode](s, d, w, op.masterAlpha);
        else
          BLEND_LINE[op.combineMode](s, d, w);
        break;
      case dmCustom:
        for (std::int32_t x = 0; x < w; ++x) (*op.callback)(s[x], d[x], op.masterAlpha);
        break;
    }
  }
}

// Source index for each destination position lo..hi of the clip: the exact
// rational floor((p - dstLo) * srcW / dstW), so that float rounding can
// never map the last position past the source's end.
std::vector<std::int32_t> NearestMap(std::int32_t dstLo, std::int32_t dstHi, std::int32_t clipLo,
                                     std::int32_t clipHi, std::int32_t srcLo, std::int32_t srcHi) {
  std::vector<std::int32_t> map(static_cast<std::size_t>(clipHi - clipLo));
  const std::int64_t dstW = static_cast<std::int64_t>(dstHi) - dstLo;
  const std::int64_t srcW = static_cast<std::int64_t>(srcHi) - srcLo;
  for (std::int32_t p = clipLo; p < clipHi; ++p) {
    std::int32_t s;
    if (dstW < 2)
      s = static_cast<std::int32_t>((static_cast<std::int64_t>(srcLo) + srcHi - 1) / 2);
    else
      s = static_cast<std::int32_t>((p - dstLo) * srcW / dstW + srcLo);
    map[static_cast<std::size_t>(p - clipLo)] = s;
  }
  if (!map.empty()) {
    KDL_RASTER_ASSERT(map.front() >= srcLo);
    KDL_RASTER_ASSERT(map.back() < srcHi);
  }
  return map;
}

void StretchNearest(TBitmap32& dst, const TRect& dstRect, const TRect& clip, TBitmap32& src,
                    const TRect& srcRect, const TCombineOp& op) {
  if (srcRect.Left < 0 || srcRect.Top < 0 || srcRect.Right > src.Width() ||
      srcRect.Bottom > src.Height())
    throw Exception("Invalid SrcRect");
  const auto cols = NearestMap(dstRect.Left, dstRect.Right, clip.Left, clip.Right, srcRect.Left,
                               srcRect.Right);
  const auto rows = NearestMap(dstRect.Top, dstRect.Bottom, clip.Top, clip.Bottom, srcRect.Top,
                               srcRect.Bottom);
  const std::int32_t w = clip.Width();
  std::vector<TColor32> buffer;
  if (op.mode == dmBlend) buffer.resize(static_cast<std::size_t>(w));
  std::int32_t previous = -1;
  for (std::int32_t y = clip.Top; y < clip.Bottom; ++y) {
    const std::int32_t sy = rows[static_cast<std::size_t>(y - clip.Top)];
    const TColor32* s = src.ScanLine(sy);
    TColor32* d = dst.PixelPtr(clip.Left, y);
    switch (op.mode) {
      case dmOpaque:
        if (sy == previous) {
          MoveLongword(d - dst.Width(), d, w);
        } else {
          for (std::int32_t x = 0; x < w; ++x) d[x] = s[cols[static_cast<std::size_t>(x)]];
        }
        break;
      case dmBlend:
        if (sy != previous)
          for (std::int32_t x = 0; x < w; ++x) buffer[static_cast<std::size_t>(x)] = s[cols[static_cast<std::size_t>(x)]];
        if (op.masterAlpha < 255)
          BLEND_LINE_EX[op.combineMode](buffer.data(), d, w, op.masterAlpha);
        else
          BLEND_LINE[op.combineMode](buffer.data(), d, w);
        break;
      case dmCustom:
        for (std::int32_t x = 0; x < w; ++x)
          (*op.callback)(s[cols[static_cast<std::size_t>(x)]], d[x], op.masterAlpha);
        break;
    }
    previous = sy;
  }
}

// ---- The separable engine ---------------------------------------------------
//
// Every kernel stretch is a sum over a column cluster and a row cluster of
// weight x weight x channel, limited to the channel range and shifted down
// by 16. The sums are exact integers, so their order is free: each needed
// source row is reduced to the clip's columns once and kept in a small ring,
// and each destination row adds up the cached rows of its row cluster.

// Column clusters as windows of one width (2 or a multiple of 4) from
// first[x], the weights of each window packed two to a word and repeated
// four times for the 16-bit kernels. Repeated positions (clamped at the
// edges) merge their weights; a window near the bitmap's right edge moves
// left over zero weights.
struct TWindowTable {
  std::vector<std::int32_t> first;
  std::vector<std::int32_t> wexp;
  std::size_t pairs = 0;
  // The columns all windows reach, [lo, hi), and first less lo.
  std::int32_t lo = 0;
  std::int32_t hi = 0;
  std::vector<std::int32_t> fromLo;
  // The weight sum shared by every window, or -1 where they differ.
  std::int32_t sum = -1;
};

// A mapping table in flat arrays, with the largest sum of absolute weights
// of any cluster (which bounds every partial sum).
struct TFlatTable {
  std::vector<std::int32_t> start;  // cluster i is [start[i], start[i + 1])
  std::vector<std::int32_t> pos;
  std::vector<std::int32_t> weight;
  std::int64_t maxAbsSum = 0;
  std::int32_t lo = INT32_MAX;
  std::int32_t hi = INT32_MIN;
  // Column windows for a bitmap of windowsWidth columns, once made.
  mutable std::int32_t windowsWidth = -1;
  mutable bool windowsMade = false;
  mutable TWindowTable windows;
};

TFlatTable Flatten(const TMappingTable& table) {
  TFlatTable f;
  f.start.reserve(table.size() + 1);
  f.start.push_back(0);
  for (const TCluster& c : table) {
    std::int64_t abs = 0;
    for (const TMappingPair& p : c) {
      f.pos.push_back(p.Pos);
      f.weight.push_back(p.Weight);
      abs += std::abs(static_cast<std::int64_t>(p.Weight));
      f.lo = std::min(f.lo, p.Pos);
      f.hi = std::max(f.hi, p.Pos);
    }
    f.maxAbsSum = std::max(f.maxAbsSum, abs);
    f.start.push_back(static_cast<std::int32_t>(f.pos.size()));
  }
  return f;
}

// Rows reduced to the clip's columns are kept in a ring this large at most.
constexpr std::int64_t kRowCacheBytes = std::int64_t{32} << 20;

// The most source positions any one cluster reaches, from its lowest to its
// highest (at least 1).
std::int64_t ClusterSpan(const TFlatTable& t) {
  std::int64_t span = 1;
  for (std::size_t i = 0; i + 1 < t.start.size(); ++i) {
    std::int32_t lo = INT32_MAX, hi = INT32_MIN;
    for (std::int32_t k = t.start[i]; k < t.start[i + 1]; ++k) {
      lo = std::min(lo, t.pos[static_cast<std::size_t>(k)]);
      hi = std::max(hi, t.pos[static_cast<std::size_t>(k)]);
    }
    if (lo <= hi) span = std::max<std::int64_t>(span, static_cast<std::int64_t>(hi) - lo + 1);
  }
  return span;
}

// Windows wider than this take the general path.
constexpr std::int64_t kMaxWindow = 64;

bool BuildWindows(const TFlatTable& cols, std::int32_t bitmapWidth, TWindowTable& out) {
  const std::size_t n = cols.start.size() - 1;
  for (const std::int32_t w : cols.weight)
    if (w < 0) return false;
  const std::int64_t span = ClusterSpan(cols);
  // Two taps, or a multiple of four.
  const std::int64_t taps = span <= 2 ? 2 : (span + 3) & ~std::int64_t{3};
  if (taps > kMaxWindow || taps > bitmapWidth) return false;
  const auto t = static_cast<std::int32_t>(taps);
  out.pairs = static_cast<std::size_t>(t / 2);
  out.first.resize(n);
  out.wexp.resize(4 * n * out.pairs);
  std::vector<std::int32_t> w(static_cast<std::size_t>(t));
  for (std::size_t x = 0; x < n; ++x) {
    std::int32_t lo = bitmapWidth - t;
    for (std::int32_t k = cols.start[x]; k < cols.start[x + 1]; ++k)
      lo = std::min(lo, cols.pos[static_cast<std::size_t>(k)]);
    std::fill(w.begin(), w.end(), 0);
    for (std::int32_t k = cols.start[x]; k < cols.start[x + 1]; ++k)
      w[static_cast<std::size_t>(cols.pos[static_cast<std::size_t>(k)] - lo)] +=
          cols.weight[static_cast<std::size_t>(k)];
    out.first[x] = lo;
    for (std::size_t j = 0; j < out.pairs; ++j)
      std::fill_n(out.wexp.begin() + static_cast<std::ptrdiff_t>(4 * (x * out.pairs + j)), 4,
                  static_cast<std::int32_t>(static_cast<std::uint32_t>(w[2 * j]) |
                                            static_cast<std::uint32_t>(w[2 * j + 1]) << 16));
    std::int32_t sum = 0;
    for (const std::int32_t v : w) sum += v;
    if (x == 0) out.sum = sum;
    else if (sum != out.sum) out.sum = -1;
  }
  if (n > 0) {
    out.lo = *std::min_element(out.first.begin(), out.first.end());
    out.hi = *std::max_element(out.first.begin(), out.first.end()) + t;
  }
  out.fromLo = out.first;
  for (std::int32_t& f : out.fromLo) f -= out.lo;
  return true;
}

// The column windows for a bitmap of the given width, made once per table
// and width (a kept column table serves band after band); null where the
// weights do not fit windows.
const TWindowTable* ColumnWindows(const TFlatTable& cols, std::int32_t bitmapWidth) {
  if (cols.windowsWidth != bitmapWidth) {
    cols.windows = {};
    cols.windowsMade = BuildWindows(cols, bitmapWidth, cols.windows);
    cols.windowsWidth = bitmapWidth;
  }
  return cols.windowsMade ? &cols.windows : nullptr;
}

// Pairs two 16-bit weights in one word, the first in the low half.
std::int32_t WeightPair(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(a) & 0xFFFF) |
                                   static_cast<std::uint32_t>(b) << 16);
}

// The separable engine on 16-bit reduced rows, where the weights allow it
// (non-negative columns summing to at most 257, so each reduced channel is
// 0..65535) and the level has the kernels; false leaves the transfer to
// the general path. The totals are the same integers.
bool WindowTransfer(TBitmap32& dst, const TRect& clip, const TBitmap32& src,
                    const TFlatTable& cols, const TFlatTable& rows, std::int32_t bias,
                    const TCombineOp& op) {
  const TStretchRowKernels& kernels = StretchRowKernels;
  if (kernels.reduceWindow == nullptr || kernels.combineWindow == nullptr) return false;
  if (cols.maxAbsSum > 257 || rows.maxAbsSum > 16384) return false;
  const std::size_t width = static_cast<std::size_t>(clip.Width());
  const std::size_t rowValues = width * 4;
  const std::int64_t span = ClusterSpan(rows);
  if (span * static_cast<std::int64_t>(rowValues * sizeof(std::int16_t)) > kRowCacheBytes)
    return false;
  const TWindowTable* made = ColumnWindows(cols, src.Width());
  if (made == nullptr) return false;
  const TWindowTable& windows = *made;

  const std::size_t ringSize = static_cast<std::size_t>(span);
  // Made on first use: rows taken whole need no ring.
  std::vector<std::int16_t> cache;
  std::vector<std::int32_t> cached(ringSize, -1);
  std::vector<TColor32> packed(op.mode == dmOpaque ? 0 : width);
  std::vector<const std::int16_t*> rowPtrs;
  std::vector<std::int32_t> wpairs;
  auto reducedRow = [&](std::int32_t y) -> const std::int16_t* {
    if (cache.empty()) cache.resize(ringSize * rowValues);
    const std::size_t slot = static_cast<std::size_t>(y) % ringSize;
    std::int16_t* h = cache.data() + slot * rowValues;
    if (cached[slot] != y) {
      kernels.reduceWindow(src.ScanLine(y), windows.first.data(), windows.wexp.data(),
                           windows.pairs, width, h);
      cached[slot] = y;
    }
    return h;
  };

  for (std::int32_t y = clip.Top; y < clip.Bottom; ++y) {
    const std::size_t j = static_cast<std::size_t>(y - clip.Top);
    const auto from = static_cast<std::size_t>(rows.start[j]);
    const auto count = static_cast<std::size_t>(rows.start[j + 1]) - from;
    TColor32* d = dst.PixelPtr(clip.Left, y);
    // A row taken whole (rows drawn one to one, as bands of a picture are)
    // needs no reduced row kept: the window sums go straight to pixels.
    if (count == 1 && kernels.packWindow != nullptr) {
      TColor32* out = op.mode == dmOpaque ? d : packed.data();
      kernels.packWindow(src.ScanLine(rows.pos[from]), windows.first.data(), windows.wexp.data(), windows.pairs,
                         rows.weight[from], bias, width, out);
      if (op.mode != dmOpaque) op.Row(packed.data(), d, width);
      continue;
    }
    // An odd cluster takes one more row with weight 0.
    rowPtrs.resize(count + (count & 1));
    wpairs.resize(rowPtrs.size() / 2);
    std::int32_t weightSum = 0;
    for (std::size_t k = 0; k < count; ++k) {
      rowPtrs[k] = reducedRow(rows.pos[from + k]);
      weightSum += rows.weight[from + k];
    }
    if (count & 1) rowPtrs[count] = rowPtrs[count - 1];
    for (std::size_t k = 0; k < wpairs.size(); ++k)
      wpairs[k] = WeightPair(rows.weight[from + 2 * k],
                             2 * k + 1 < count ? rows.weight[from + 2 * k + 1] : 0);
    // The stored values are 32768 short of the reduced sums.
    const std::int32_t start = bias + 32768 * weightSum;
    if (op.mode == dmOpaque) {
      kernels.combineWindow(rowPtrs.data(), wpairs.data(), rowPtrs.size(), start, d, width);
    } else {
      kernels.combineWindow(rowPtrs.data(), wpairs.data(), rowPtrs.size(), start, packed.data(),
                            width);
      op.Row(packed.data(), d, width);
    }
  }
  return true;
}

template <typename Acc>
void SeparableTransfer(TBitmap32& dst, const TRect& clip, const TBitmap32& src,
                       const TFlatTable& cols, const TFlatTable& rows, std::int32_t bias,
                       const TCombineOp& op) {
  const std::size_t width = static_cast<std::size_t>(clip.Width());
  const std::size_t rowValues = width * 4;
  // Enough ringSize for the widest row cluster, within the memory bound; a
  // smaller ring only costs recomputation.
  const std::int64_t span = ClusterSpan(rows);
  const std::int64_t perRow = static_cast<std::int64_t>(rowValues * sizeof(Acc));
  const std::size_t ringSize = static_cast<std::size_t>(
      std::max<std::int64_t>(1, std::min(span, kRowCacheBytes / std::max<std::int64_t>(1, perRow))));
  std::vector<Acc> cache(ringSize * rowValues);
  std::vector<std::int32_t> cached(ringSize, -1);
  std::vector<Acc> acc(rowValues);
  std::vector<TColor32> packed(std::is_same_v<Acc, std::int32_t> ? width : 0);
  std::vector<const Acc*> rowPtrs;

  auto reducedRow = [&](std::int32_t y) -> const Acc* {
    const std::size_t slot = static_cast<std::size_t>(y) % ringSize;
    Acc* h = cache.data() + slot * rowValues;
    if (cached[slot] == y) return h;
    const TColor32* s = src.ScanLine(y);
    if constexpr (std::is_same_v<Acc, std::int32_t>) {
      StretchRowKernels.reduce(s, cols.start.data(), cols.pos.data(), cols.weight.data(), width, h);
      cached[slot] = y;
      return h;
    }
    for (std::size_t x = 0; x < width; ++x) {
      Acc b = 0, g = 0, r = 0, a = 0;
      for (std::int32_t k = cols.start[x]; k < cols.start[x + 1]; ++k) {
        const TColor32 c = s[cols.pos[static_cast<std::size_t>(k)]];
        const Acc w = cols.weight[static_cast<std::size_t>(k)];
        b += w * static_cast<Acc>(c & 0xFF);
        g += w * static_cast<Acc>((c >> 8) & 0xFF);
        r += w * static_cast<Acc>((c >> 16) & 0xFF);
        a += w * static_cast<Acc>(c >> 24);
      }
      h[4 * x] = b;
      h[4 * x + 1] = g;
      h[4 * x + 2] = r;
      h[4 * x + 3] = a;
    }
    cached[slot] = y;
    return h;
  };

  constexpr Acc kTop = Acc{255} << 16;
  for (std::int32_t y = clip.Top; y < clip.Bottom; ++y) {
    const std::size_t j = static_cast<std::size_t>(y - clip.Top);
    if constexpr (std::is_same_v<Acc, std::int32_t>) {
      // With the whole cluster in the ring at once, sum and pack in one
      // pass over the cached rows.
      if (static_cast<std::int64_t>(ringSize) >= span) {
        const std::size_t count = static_cast<std::size_t>(rows.start[j + 1] - rows.start[j]);
        rowPtrs.resize(count);
        for (std::size_t k = 0; k < count; ++k)
          rowPtrs[k] = reducedRow(rows.pos[static_cast<std::size_t>(rows.start[j]) + k]);
        const std::int32_t* w = rows.weight.data() + rows.start[j];
        TColor32* d = dst.PixelPtr(clip.Left, y);
        if (op.mode == dmOpaque) {
          StretchRowKernels.combine(rowPtrs.data(), w, count, bias, d, width);
        } else {
          StretchRowKernels.combine(rowPtrs.data(), w, count, bias, packed.data(), width);
          op.Row(packed.data(), d, width);
        }
        continue;
      }
    }
    std::fill(acc.begin(), acc.end(), static_cast<Acc>(bias));
    for (std::int32_t k = rows.start[j]; k < rows.start[j + 1]; ++k) {
      const Acc w = rows.weight[static_cast<std::size_t>(k)];
      const Acc* h = reducedRow(rows.pos[static_cast<std::size_t>(k)]);
      Acc* t = acc.data();
      if constexpr (std::is_same_v<Acc, std::int32_t>)
        StretchRowKernels.accumulate(t, h, w, rowValues);
      else
        for (std::size_t i = 0; i < rowValues; ++i) t[i] += w * h[i];
    }
    TColor32* d = dst.PixelPtr(clip.Left, y);
    if constexpr (std::is_same_v<Acc, std::int32_t>) {
      if (op.mode == dmOpaque) {
        StretchRowKernels.pack(acc.data(), d, width);
      } else {
        StretchRowKernels.pack(acc.data(), packed.data(), width);
        op.Row(packed.data(), d, width);
      }
      continue;
    }
    const Acc* t = acc.data();
    if (op.mode == dmOpaque) {
      for (std::size_t x = 0; x < width; ++x, t += 4)
        d[x] = static_cast<TColor32>(std::clamp(t[0], Acc{0}, kTop) >> 16) |
               static_cast<TColor32>(std::clamp(t[1], Acc{0}, kTop) >> 16) << 8 |
               static_cast<TColor32>(std::clamp(t[2], Acc{0}, kTop) >> 16) << 16 |
               static_cast<TColor32>(std::clamp(t[3], Acc{0}, kTop) >> 16) << 24;
    } else {
      for (std::size_t x = 0; x < width; ++x, t += 4)
        op(static_cast<TColor32>(std::clamp(t[0], Acc{0}, kTop) >> 16) |
               static_cast<TColor32>(std::clamp(t[1], Acc{0}, kTop) >> 16) << 8 |
               static_cast<TColor32>(std::clamp(t[2], Acc{0}, kTop) >> 16) << 16 |
               static_cast<TColor32>(std::clamp(t[3], Acc{0}, kTop) >> 16) << 24,
           d[x]);
    }
  }
}

// Destination rows between the one blended and the one whose source row
// the kernel fetches meanwhile (measured best at 3 to 4 on a 3000-pixel
// picture; nearer rows arrive too late, farther ones leave the cache).
constexpr std::size_t kFetchAheadRows = 3;

// Reductions where fewer rows come out than go in: each destination row
// blends its source rows first (16 bits per channel, across the columns
// the windows reach), then reduces that one row horizontally, so the
// costlier horizontal pass runs once per destination row instead of once
// per source row. The totals are the same integers; false leaves the
// transfer to the other paths.
bool VerticalFirstTransfer(TBitmap32& dst, const TRect& clip, const TBitmap32& src,
                           const TFlatTable& cols, const TFlatTable& rows, const std::vector<std::int32_t>& beyond,
                           std::int32_t bias, const TCombineOp& op) {
  const TStretchRowKernels& kernels = StretchRowKernels;
  if (kernels.blendRows == nullptr || kernels.reduceBlended == nullptr) return false;
  if (cols.maxAbsSum > 257 || rows.maxAbsSum > 257 || rows.pos.empty()) return false;
  for (const std::int32_t w : rows.weight)
    if (w < 0) return false;
  const auto [rowLo, rowHi] = std::minmax_element(rows.pos.begin(), rows.pos.end());
  if (static_cast<std::int64_t>(*rowHi) - *rowLo + 1 <= clip.Height()) return false;
  // Every window must weigh the same, so that one constant undoes the
  // blended rows' offset.
  const std::size_t width = static_cast<std::size_t>(clip.Width());
  const TWindowTable* made = ColumnWindows(cols, src.Width());
  if (made == nullptr || made->sum < 0) return false;
  const TWindowTable& windows = *made;
  const std::int32_t colSum = windows.sum;
  const std::int32_t lo = windows.lo;
  // Window starts from the blended row's first column.
  const std::int32_t* first = windows.fromLo.data();
  const std::size_t n = static_cast<std::size_t>(windows.hi - lo);

  // Each row blends all n columns before they are read.
  const std::unique_ptr<std::int16_t[]> blended(new std::int16_t[4 * n]);
  std::vector<TColor32> packed(op.mode == dmOpaque ? 0 : width);
  std::vector<const TColor32*> rowPtrs;
  const std::int32_t start = bias + 32768 * colSum;
  for (std::int32_t y = clip.Top; y < clip.Bottom; ++y) {
    const std::size_t j = static_cast<std::size_t>(y - clip.Top);
    const auto from = static_cast<std::size_t>(rows.start[j]);
    const auto count = static_cast<std::size_t>(rows.start[j + 1]) - from;
    rowPtrs.resize(count);
    for (std::size_t k = 0; k < count; ++k) rowPtrs[k] = src.PixelPtr(lo, rows.pos[from + k]);
    // A large source comes from memory row by row; the kernel fetches the
    // last row of a cluster a few rows down while it blends this one.
    const std::size_t later = j + kFetchAheadRows;
    const std::size_t height = static_cast<std::size_t>(clip.Height());
    const TColor32* ahead =
        later < height ? src.PixelPtr(lo, rows.pos[static_cast<std::size_t>(rows.start[later + 1]) - 1])
        : later - height < beyond.size() ? src.PixelPtr(lo, beyond[later - height])
                                         : nullptr;
    kernels.blendRows(rowPtrs.data(), rows.weight.data() + from, count, n, blended.get(), ahead);
    TColor32* d = dst.PixelPtr(clip.Left, y);
    if (op.mode == dmOpaque) {
      kernels.reduceBlended(blended.get(), first, windows.wexp.data(), windows.pairs,
                            start, width, d);
    } else {
      kernels.reduceBlended(blended.get(), first, windows.wexp.data(), windows.pairs,
                            start, width, packed.data());
      op.Row(packed.data(), d, width);
    }
  }
  return true;
}

// 32-bit sums where the weights bound them below 2^31 (every practical
// case), 64-bit ones for extreme reductions whose many rounded weights
// could overflow.
void Separable(TBitmap32& dst, const TRect& clip, const TBitmap32& src, const TFlatTable& cols,
               const TFlatTable& rows, std::int32_t bias, const TCombineOp& op,
               const std::vector<std::int32_t>& beyond = {}) {
  if (VerticalFirstTransfer(dst, clip, src, cols, rows, beyond, bias, op)) return;
  if (WindowTransfer(dst, clip, src, cols, rows, bias, op)) return;
  const std::int64_t bound = cols.maxAbsSum * rows.maxAbsSum * 255 + bias;
  // The row kernels also take each column weight as a 16-bit word.
  if (bound < INT32_MAX && cols.maxAbsSum <= INT16_MAX)
    SeparableTransfer<std::int32_t>(dst, clip, src, cols, rows, bias, op);
  else
    SeparableTransfer<std::int64_t>(dst, clip, src, cols, rows, bias, op);
}

// Bilinear weights as two-pixel clusters: the left (upper) pixel's share
// 256 - Round(frac x 256), the right (lower) one the rest.
TFlatTable LinearTable(std::int32_t dstLo, std::int32_t dstHi, std::int32_t clipLo,
                       std::int32_t clipHi, std::int32_t srcLo, std::int32_t srcHi) {
  const std::size_t n = static_cast<std::size_t>(clipHi - clipLo);
  std::vector<std::int32_t> index(n), weight(n);
  const double scale = static_cast<double>(srcHi - srcLo) / static_cast<double>(dstHi - dstLo);
  for (std::size_t i = 0; i < n; ++i) {
    double pos = scale * (static_cast<double>(i) + clipLo - dstLo + 0.5) + srcLo - 0.5;
    // Limited to the source rectangle, not the bitmap: pixels outside the
    // rectangle must not bleed into its edges.
    pos = std::clamp(pos, static_cast<double>(srcLo), static_cast<double>(srcHi - 1));
    const double fl = std::floor(pos);
    index[i] = static_cast<std::int32_t>(fl);
    weight[i] = 256 - static_cast<std::int32_t>(std::nearbyint((pos - fl) * 256));
  }
  // Keep the right (lower) neighbour inside the source rectangle.
  for (std::size_t i = n; i-- > 0 && index[i] + 1 >= srcHi;) {
    index[i] = srcHi - 2;
    weight[i] = 0;
  }
  TFlatTable f;
  f.maxAbsSum = 256;
  for (std::size_t i = 0; i < n; ++i) {
    f.start.push_back(static_cast<std::int32_t>(2 * i));
    f.pos.push_back(index[i]);
    f.weight.push_back(weight[i]);
    f.pos.push_back(index[i] + 1);
    f.weight.push_back(256 - weight[i]);
  }
  f.start.push_back(static_cast<std::int32_t>(2 * n));
  return f;
}

// Bilinear enlargement: each pixel is what LinearInterpolator gives for its
// four neighbours and weights (rounded once), computed a row at a time.
void StretchHorzStretchVertLinear(TBitmap32& dst, const TRect& dstRect, const TRect& clip,
                                  TBitmap32& src, const TRect& srcRect, const TCombineOp& op) {
  const TFlatTable cols = LinearTable(dstRect.Left, dstRect.Right, clip.Left, clip.Right,
                                      srcRect.Left, srcRect.Right);
  const TFlatTable rows = LinearTable(dstRect.Top, dstRect.Bottom, clip.Top, clip.Bottom,
                                      srcRect.Top, srcRect.Bottom);
  Separable(dst, clip, src, cols, rows, 0x8000, op);
  EMMS();
}

void Resample(TBitmap32& dst, const TRect& dstRect, const TRect& clip, TBitmap32& src,
              const TRect& srcRect, TStretchFilter filter, TCombineOp op);

void DraftResample(TBitmap32& dst, const TRect& dstRect, const TRect& clip, TBitmap32& src,
                   const TRect& srcRect, const TCombineOp& op) {
  const std::int32_t srcW = srcRect.Width(), srcH = srcRect.Height();
  const std::int32_t dstW = dstRect.Width(), dstH = dstRect.Height();
  if (dstW > srcW || dstH > srcH) {
    if (srcW < 2 || srcH < 2)
      Resample(dst, dstRect, clip, src, srcRect, sfLinear, op);
    else
      StretchHorzStretchVertLinear(dst, dstRect, clip, src, srcRect, op);
    return;
  }
  // Block boundaries of the clipped span, in source positions (64-bit: the
  // products of a step and a position overflow 32 bits on large images),
  // never past the rectangle's end.
  auto blocks = [](std::int32_t dstLo, std::int32_t dstSize, std::int32_t clipLo,
                   std::int32_t clipHi, std::int32_t srcLo, std::int32_t srcHi, std::int32_t srcSize) {
    const float scale = static_cast<float>(srcSize) / static_cast<float>(dstSize);
    const auto step = static_cast<std::int64_t>(scale * 65536.0f);
    // Blocks are numbered from the rectangle's edge, not the clip's, so a
    // clipped draw gives the same pixels as the whole one.
    std::vector<std::int32_t> edges(static_cast<std::size_t>(clipHi - clipLo) + 1);
    for (std::size_t k = 0; k < edges.size(); ++k) {
      const std::int64_t block = static_cast<std::int64_t>(clipLo) - dstLo + static_cast<std::int64_t>(k);
      edges[k] = static_cast<std::int32_t>(std::min<std::int64_t>(srcHi, srcLo + ((block * step) >> 16)));
    }
    // Every block covers at least one pixel.
    for (std::size_t k = edges.size() - 1; k-- > 0;)
      if (edges[k] >= edges[k + 1]) edges[k] = edges[k + 1] - 1;
    return edges;
  };
  const auto xs = blocks(dstRect.Left, dstW, clip.Left, clip.Right, srcRect.Left, srcRect.Right, srcW);
  const auto ys = blocks(dstRect.Top, dstH, clip.Top, clip.Bottom, srcRect.Top, srcRect.Bottom, srcH);
  const std::int32_t stride = src.Width() * 4;
  for (std::int32_t y = clip.Top; y < clip.Bottom; ++y) {
    const std::size_t j = static_cast<std::size_t>(y - clip.Top);
    const std::int32_t y0 = ys[j], bh = ys[j + 1] - ys[j];
    TColor32* d = dst.PixelPtr(clip.Left, y);
    for (std::int32_t x = 0; x < clip.Width(); ++x) {
      const std::size_t i = static_cast<std::size_t>(x);
      const std::int32_t x0 = xs[i], bw = xs[i + 1] - xs[i];
      op(BlockAverage(static_cast<std::uint32_t>(bw), static_cast<std::uint32_t>(bh), src.PixelPtr(x0, y0), stride), d[x]);
    }
  }
  EMMS();
}

// Banded drawing (page bands, strips of a picture) repeats the same column
// geometry call after call, with only the rows changing; the flat column
// tables of the last few geometries are kept per thread. Shared pointers
// keep a table alive should a custom combine callback transfer again.
std::shared_ptr<const TFlatTable> ColumnTable(std::int32_t dstLo, std::int32_t dstHi, std::int32_t clipLo,
                                              std::int32_t clipHi, std::int32_t srcLo, std::int32_t srcHi,
                                              TStretchFilter filter) {
  struct TEntry {
    std::array<std::int32_t, 7> key{};
    std::shared_ptr<const TFlatTable> table;
  };
  constexpr std::size_t kEntries = 4;
  thread_local std::array<TEntry, kEntries> entries;
  thread_local std::size_t next = 0;
  const std::array<std::int32_t, 7> key{dstLo, dstHi, clipLo, clipHi, srcLo, srcHi, static_cast<std::int32_t>(filter)};
  for (const TEntry& e : entries)
    if (e.table && e.key == key) return e.table;
  auto table = std::make_shared<const TFlatTable>(
      Flatten(BuildMappingTable(dstLo, dstHi, clipLo, clipHi, srcLo, srcHi, filter)));
  TEntry& slot = entries[next];
  next = (next + 1) % kEntries;
  slot.key = key;
  slot.table = table;
  return table;
}

void Resample(TBitmap32& dst, const TRect& dstRect, const TRect& clip, TBitmap32& src,
              const TRect& srcRect, TStretchFilter filter, TCombineOp op) {
  if (op.mode == dmCustom && !*op.callback) op.mode = dmOpaque;
  if (op.mode == dmBlend && op.masterAlpha == 0) return;
  const std::shared_ptr<const TFlatTable> cols =
      ColumnTable(dstRect.Left, dstRect.Right, clip.Left, clip.Right, srcRect.Left, srcRect.Right, filter);
  const TMappingTable rows = BuildMappingTable(dstRect.Top, dstRect.Bottom, clip.Top, clip.Bottom,
                                               srcRect.Top, srcRect.Bottom, filter);
  if (cols->start.size() <= 1 || rows.empty()) return;
  // The sums truncate; the limits keep negative lobes and rounding from
  // wrapping a channel (for every filter, not only the ringing ones).
  // The last source row of each of the next few destination rows below
  // the clip, which the next band of a banded drawing reads first.
  std::vector<std::int32_t> beyond;
  const std::int32_t aheadEnd =
      static_cast<std::int32_t>(std::min<std::int64_t>(dstRect.Bottom, std::int64_t{clip.Bottom} + kFetchAheadRows));
  for (const TCluster& c : BuildMappingTable(dstRect.Top, dstRect.Bottom, clip.Bottom, aheadEnd, srcRect.Top,
                                             srcRect.Bottom, filter))
    beyond.push_back(c.empty() ? srcRect.Top : c.back().Pos);
  Separable(dst, clip, src, *cols, Flatten(rows), 0, op, beyond);
  EMMS();
}

}  // namespace

void CheckBitmaps(const TBitmap32* dst, const TBitmap32* src) {
  if (dst == nullptr || dst->Empty()) throw ETransformError("Destination bitmap is nil or empty");
  if (src == nullptr || src->Empty()) throw ETransformError("Source bitmap is nil or empty");
}

bool CheckSrcRect(const TBitmap32& src, const TRect& srcRect) {
  if (IsRectEmpty(srcRect)) return false;
  if (srcRect.Left >= 0 && srcRect.Right <= src.Width() && srcRect.Top >= 0 &&
      srcRect.Bottom <= src.Height())
    return true;
  throw ETransformError("Source rectangle is invalid");
}

TMappingTable BuildMappingTable(std::int32_t dstLo, std::int32_t dstHi, std::int32_t clipLo,
                                std::int32_t clipHi, std::int32_t srcLo, std::int32_t srcHi,
                                TStretchFilter filter) {
  const std::int32_t srcW = srcHi - srcLo;
  const std::int32_t dstW = dstHi - dstLo;
  TMappingTable table;
  if (srcW <= 0 || clipHi <= clipLo) return table;
  table.resize(static_cast<std::size_t>(clipHi - clipLo));
  if (srcW == 1) {
    for (TCluster& c : table) c.assign(1, {srcLo, 256});
    return table;
  }
  const TFilterFunction f = FilterFunction(filter);
  const float width = FilterWidth(filter);
  const float scale = static_cast<float>(dstW) / static_cast<float>(srcW);
  for (std::int32_t i = 0; i < clipHi - clipLo; ++i) {
    TCluster& cluster = table[static_cast<std::size_t>(i)];
    const double center =
        (static_cast<double>(i) + clipLo - dstLo + 0.5) / scale + srcLo - 0.5;
    if (scale >= 1.0f) {
      const auto first = static_cast<std::int64_t>(std::floor(center - width));
      const auto last = static_cast<std::int64_t>(std::ceil(center + width));
      for (std::int64_t j = first; j <= last; ++j) {
        const auto w = static_cast<std::int32_t>(
            std::nearbyint(f(static_cast<float>(center - static_cast<double>(j))) * 256.0f));
        if (w != 0)
          cluster.push_back({Constrain(static_cast<std::int32_t>(j), srcLo, srcHi - 1), w});
      }
    } else {
      const double reach = width / scale;
      const auto first = static_cast<std::int64_t>(std::floor(center - reach));
      const auto last = static_cast<std::int64_t>(std::ceil(center + reach));
      for (std::int64_t j = first; j <= last; ++j) {
        const auto w = static_cast<std::int32_t>(std::nearbyint(
            scale * f(static_cast<float>((center - static_cast<double>(j)) * scale)) * 256.0f));
        if (w != 0)
          cluster.push_back({Constrain(static_cast<std::int32_t>(j), srcLo, srcHi - 1), w});
      }
      if (cluster.empty())
        cluster.push_back(
            {Constrain(static_cast<std::int32_t>(std::floor(center)), srcLo, srcHi - 1), 256});
    }
    // Every cluster sums to exactly 256, so a constant image stays constant.
    std::int32_t sum = 0;
    for (const TMappingPair& p : cluster) sum += p.Weight;
    if (sum != 256) cluster[(cluster.size() - 1) / 2].Weight += 256 - sum;
  }
  return table;
}

void StretchTransfer(TBitmap32* dst, TRect dstRect, TRect dstClip, TBitmap32* src, TRect srcRect,
                     TStretchFilter stretchFilter, TDrawMode drawMode,
                     const TPixelCombineEvent& combineCallBack) {
  struct TEmmsAtExit {
    ~TEmmsAtExit() { EMMS(); }
  } emms;
  if (src != nullptr && src->Empty()) return;
  CheckBitmaps(dst, src);
  if (!CheckSrcRect(*src, srcRect)) return;
  IntersectRect(dstClip, dstClip, dst->BoundsRect());
  IntersectRect(dstClip, dstClip, dstRect);
  if (IsRectEmpty(dstClip)) return;
  if (drawMode == dmCustom && !combineCallBack) drawMode = dmOpaque;
  if (drawMode == dmBlend && src->MasterAlpha() == 0) return;

  const TCombineOp op{drawMode, src->CombineMode(), src->MasterAlpha(), &combineCallBack};
  if (dstRect.Width() == srcRect.Width() && dstRect.Height() == srcRect.Height()) {
    BlockTransfer(*dst, dstClip, *src, srcRect.Left + dstClip.Left - dstRect.Left,
                  srcRect.Top + dstClip.Top - dstRect.Top, op);
    return;
  }
  switch (stretchFilter) {
    case sfNearest:
      StretchNearest(*dst, dstRect, dstClip, *src, srcRect, op);
      break;
    case sfDraft:
      DraftResample(*dst, dstRect, dstClip, *src, srcRect, op);
      break;
    case sfLinear:
      if (dstRect.Width() > srcRect.Width() && dstRect.Height() > srcRect.Height() &&
          srcRect.Width() > 1 && srcRect.Height() > 1)
        StretchHorzStretchVertLinear(*dst, dstRect, dstClip, *src, srcRect, op);
      else
        Resample(*dst, dstRect, dstClip, *src, srcRect, sfLinear, op);
      break;
    default:
      Resample(*dst, dstRect, dstClip, *src, srcRect, stretchFilter, op);
      break;
  }
}

}  // namespace kdl

#include "raster/Utilities.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace kdl {

namespace {

using int128 = __int128;

// Square tiles keep both the rows read and the columns written in cache.
constexpr std::int32_t kTile = 64;

std::int64_t PixelCount(const TBitmap32& b) {
  return b.Empty() ? 0 : static_cast<std::int64_t>(b.Width()) * b.Height();
}

// Writes pixel (x, y) of src to place(x, y) of dst, tile by tile.
template <typename Place>
void Permute(const TBitmap32& src, TBitmap32& dst, Place place) {
  const std::int32_t w = src.Width(), h = src.Height();
  for (std::int32_t ty = 0; ty < h; ty += kTile)
    for (std::int32_t tx = 0; tx < w; tx += kTile) {
      const std::int32_t ey = std::min(ty + kTile, h), ex = std::min(tx + kTile, w);
      for (std::int32_t y = ty; y < ey; ++y) {
        const TColor32* s = src.PixelPtr(0, y);
        for (std::int32_t x = tx; x < ex; ++x) {
          const TPoint d = place(x, y);
          dst.SetPixel(d.X, d.Y, s[x]);
        }
      }
    }
}

// Rounds a*b/c half away from zero; c != 0 and the result must fit.
std::int64_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c) {
  int128 p = static_cast<int128>(a) * b;
  const bool negative = (p < 0) != (c < 0);
  if (p < 0) p = -p;
  const int128 d = c < 0 ? -static_cast<int128>(c) : static_cast<int128>(c);
  int128 q = p / d;
  const int128 r = p % d;
  if (r >= d - r) ++q;
  return static_cast<std::int64_t>(negative ? -q : q);
}

// sum div size, truncating toward zero, through a multiply by the
// reciprocal. Half a unit added away from zero keeps the estimate 0.5/size
// clear of every integer, which the rounding of doubles respects while
// |sum| < 2^50; beyond that the remainder corrects it.
class TTruncatingDivider {
 public:
  explicit TTruncatingDivider(std::int64_t size)
      : size_(size), inverse_(1.0 / static_cast<double>(size)) {}
  std::int32_t operator()(std::int64_t sum) const {
    const double s = static_cast<double>(sum);
    auto q = static_cast<std::int64_t>((s + (sum < 0 ? -0.5 : 0.5)) * inverse_);
    if (sum >= kExact || sum <= -kExact) {
      const std::int64_t r = sum - q * size_;
      if (sum >= 0) {
        if (r < 0) --q;
        else if (r >= size_) ++q;
      } else {
        if (r > 0) ++q;
        else if (r <= -size_) --q;
      }
    }
    return static_cast<std::int32_t>(q);
  }

 private:
  static constexpr std::int64_t kExact = std::int64_t{1} << 50;
  std::int64_t size_;
  double inverse_;
};

}  // namespace

// ---- Quarter turns and mirrors -------------------------------------------------

void RotateLeft90(TBitmap32* b) {
  if (b == nullptr) return;
  const std::int32_t w = b->Width(), h = b->Height();
  TBitmap32 turned;
  turned.SetSize(h, w);
  if (!b->Empty() && !turned.Empty())
    Permute(*b, turned, [w](std::int32_t x, std::int32_t y) { return TPoint{y, w - 1 - x}; });
  b->Assign(&turned);
}

void RotateRight90(TBitmap32* b) {
  if (b == nullptr) return;
  const std::int32_t w = b->Width(), h = b->Height();
  TBitmap32 turned;
  turned.SetSize(h, w);
  if (!b->Empty() && !turned.Empty())
    Permute(*b, turned, [h](std::int32_t x, std::int32_t y) { return TPoint{h - 1 - y, x}; });
  b->Assign(&turned);
}

void Rotate180(TBitmap32* b) {
  MirrorHorizontal(b);
  MirrorVertical(b);
}

void MirrorHorizontal(TBitmap32* b) {
  if (b == nullptr || b->Empty()) return;
  const std::int32_t w = b->Width();
  for (std::int32_t y = 0; y < b->Height(); ++y) std::reverse(b->ScanLine(y), b->ScanLine(y) + w);
}

void MirrorVertical(TBitmap32* b) {
  if (b == nullptr || b->Empty()) return;
  const std::int32_t h = b->Height();
  const std::size_t rowBytes = static_cast<std::size_t>(b->Width()) * sizeof(TColor32);
  std::vector<TColor32> row(static_cast<std::size_t>(b->Width()));
  for (std::int32_t a = 0; a < h / 2; ++a) {
    std::memcpy(row.data(), b->ScanLine(a), rowBytes);
    std::memcpy(b->ScanLine(a), b->ScanLine(h - 1 - a), rowBytes);
    std::memcpy(b->ScanLine(h - 1 - a), row.data(), rowBytes);
  }
}

// ---- Integer maps and the box blur ---------------------------------------------

void AlphaToIntMap(TBitmap32* b, float scale) {
  if (b == nullptr) return;
  const std::int64_t n = PixelCount(*b);
  TColor32* p = b->Bits();
  // One value per alpha: the map has only 256 distinct inputs.
  std::int32_t table[256];
  for (int a = 0; a < 256; ++a) {
    double v = std::nearbyint(a * 256.0 * static_cast<double>(scale));
    if (!(v == v)) v = 0;  // NaN
    v = std::clamp(v, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                   static_cast<double>(std::numeric_limits<std::int32_t>::max()));
    table[a] = static_cast<std::int32_t>(v);
  }
  for (std::int64_t i = 0; i < n; ++i) p[i] = static_cast<TColor32>(table[p[i] >> 24]);
}

void IntMapToAlpha(TBitmap32* b, TColor32 color) {
  if (b == nullptr) return;
  const std::int64_t n = PixelCount(*b);
  TColor32* p = b->Bits();
  const TColor32 rgb = color & 0x00FFFFFFu;
  for (std::int64_t i = 0; i < n; ++i) {
    const auto v = static_cast<std::int32_t>(p[i]);
    if (v > 255) p[i] = rgb | static_cast<TColor32>(std::min(v, 65280) >> 8) << 24;
  }
}

namespace {

// One box pass over n values; see BlurPass.
void BlurRun(const std::int32_t* in, std::int32_t* out, std::int64_t n, std::int32_t radius,
             std::int32_t size) {
  const TTruncatingDivider div(size);
  // Window of output o: values o+radius-size+1 .. o+radius, those that
  // exist; the sum of up to size 32-bit values needs 64 bits.
  std::int64_t sum = 0;
  for (std::int64_t j = 0; j < std::min<std::int64_t>(radius, n); ++j) sum += in[j];
  std::int64_t o = 0;
  // Growing: nothing leaves yet.
  for (; o < n && o + radius - size < 0; ++o) {
    if (o + radius < n) sum += in[o + radius];
    out[o] = div(sum);
  }
  // Sliding.
  for (; o + radius < n; ++o) {
    sum += in[o + radius] - static_cast<std::int64_t>(in[o + radius - size]);
    out[o] = div(sum);
  }
  // Shrinking: nothing enters any more.
  for (; o < n; ++o) {
    sum -= in[o + radius - size];
    out[o] = div(sum);
  }
}

// d[k x step + i] := s[i x count + k], tile by tile.
void TransposeRun(const TColor32* s, TColor32* d, std::int32_t count, std::int32_t step) {
  for (std::int32_t ti = 0; ti < step; ti += kTile)
    for (std::int32_t tk = 0; tk < count; tk += kTile) {
      const std::int32_t ei = std::min(ti + kTile, step), ek = std::min(tk + kTile, count);
      // Written row by row, read column by column.
      for (std::int32_t k = tk; k < ek; ++k) {
        TColor32* out = d + static_cast<std::int64_t>(k) * step;
        for (std::int32_t i = ti; i < ei; ++i) out[i] = s[static_cast<std::int64_t>(i) * count + k];
      }
    }
}

}  // namespace

void BlurPass(const TBitmap32& src, TBitmap32& dst, std::int32_t radius, std::int32_t size) {
  const std::int64_t n = PixelCount(src);
  if (n == 0 || n != PixelCount(dst) || radius < 0 || radius >= size) return;
  BlurRun(reinterpret_cast<const std::int32_t*>(src.Bits()), reinterpret_cast<std::int32_t*>(dst.Bits()), n,
          radius, size);
}

void Transpose(const TBitmap32& src, TBitmap32& dst, std::int32_t count, std::int32_t step) {
  const std::int64_t n = static_cast<std::int64_t>(count) * step;
  if (count <= 0 || step <= 0 || PixelCount(src) != n || PixelCount(dst) != n) return;
  TransposeRun(src.Bits(), dst.Bits(), count, step);
}

namespace {

// The blur's window for a radius: Round(radius) made odd; 1 (no blur)
// below a window of 2.
std::int32_t BoxWindow(float radius) {
  const double rounded = std::nearbyint(static_cast<double>(radius));
  if (!(rounded >= 2)) return 1;
  // Held at 2^30 so that absurd radii still fit an integer.
  std::int32_t size = static_cast<std::int32_t>(std::min(rounded, 1073741824.0));
  if (size % 2 == 0) ++size;
  return size;
}

}  // namespace

void BoxBlur(TBitmap32* b, float radius) {
  if (b == nullptr || b->Empty()) return;
  const std::int32_t size = BoxWindow(radius);
  if (size == 1) return;
  const std::int32_t half = size / 2;
  // Rows blurred into the scratch buffer, turned back into the map, its
  // columns (now run on) blurred, turned back: every pass writes all of
  // its output, so the scratch needs no clearing.
  const std::int32_t w = b->Width(), h = b->Height();
  const std::int64_t n = PixelCount(*b);
  // The scratch is kept per thread: a fresh block this large costs a page
  // fault per 4 KB on every blur. It is never cleared, not even when first
  // made: the passes overwrite it.
  thread_local std::unique_ptr<std::int32_t[]> temp;
  thread_local std::int64_t tempSize = 0;
  if (tempSize < n) {
    temp.reset();
    tempSize = 0;
    temp.reset(new std::int32_t[static_cast<std::size_t>(n)]);
    tempSize = n;
  }
  auto* map = reinterpret_cast<std::int32_t*>(b->Bits());
  auto* scratch = reinterpret_cast<TColor32*>(temp.get());
  BlurRun(map, temp.get(), n, half, size);
  TransposeRun(scratch, b->Bits(), w, h);
  BlurRun(map, temp.get(), n, half, size);
  TransposeRun(scratch, b->Bits(), h, w);
}

bool BoxBlurAlphaRows(const TByteMap& alpha, float radius,
                      const std::function<void(std::int32_t, const std::int32_t*)>& row) {
  const std::int32_t w = alpha.Width(), h = alpha.Height();
  const std::int32_t size = BoxWindow(radius);
  const std::int32_t half = size / 2;
  // The kept rows (the window, and the rows the columns wrap onto) come to
  // about twice the window; a window near the map's height saves nothing.
  if (alpha.Empty() || h < 2 * std::int64_t{size}) return false;

  // The integer map's values, as AlphaToIntMap makes them at scale 1.
  std::int32_t table[256];
  for (int a = 0; a < 256; ++a) table[a] = static_cast<std::int32_t>(std::nearbyint(a * 256.0));
  const std::uint8_t* in = alpha.Bits();
  const std::int64_t n = std::int64_t{w} * h;
  const TTruncatingDivider div(size);

  // Row r of the horizontal pass: the rows run on into each other, as the
  // whole-map pass sees them.
  auto horizontal = [&](std::int32_t r, std::int32_t* out) {
    const std::int64_t first = std::int64_t{r} * w;
    std::int64_t sum = 0;
    for (std::int64_t j = std::max<std::int64_t>(0, first - half); j <= std::min(n - 1, first + half); ++j)
      sum += table[in[j]];
    for (std::int64_t o = first; o < first + w; ++o) {
      out[o - first] = div(sum);
      if (o + half + 1 < n) sum += table[in[o + half + 1]];
      if (o - half >= 0) sum -= table[in[o - half]];
    }
  };

  const auto rowSize = static_cast<std::size_t>(w);
  std::vector<std::int32_t> ring(static_cast<std::size_t>(size) * rowSize);
  // The first and last half rows of the horizontal pass: the vertical pass
  // runs each column on into the next, so the map's top and bottom rows
  // read them one column over.
  std::vector<std::int32_t> top(static_cast<std::size_t>(half) * rowSize);
  std::vector<std::int32_t> bottom(static_cast<std::size_t>(half) * rowSize);
  for (std::int32_t r = 0; r < half; ++r) horizontal(h - half + r, bottom.data() + r * rowSize);

  // Row r of the vertical pass's input, r from -half to h + half - 1.
  auto vertical = [&](std::int32_t r, std::int32_t* out) {
    if (r < 0) {
      const std::int32_t* from = bottom.data() + static_cast<std::size_t>(half + r) * rowSize;
      out[0] = 0;
      std::copy(from, from + w - 1, out + 1);
    } else if (r >= h) {
      const std::int32_t* from = top.data() + static_cast<std::size_t>(r - h) * rowSize;
      std::copy(from + 1, from + w, out);
      out[w - 1] = 0;
    } else {
      horizontal(r, out);
      if (r < half) std::copy(out, out + w, top.data() + static_cast<std::size_t>(r) * rowSize);
    }
  };
  auto slot = [&](std::int32_t r) {
    return ring.data() + static_cast<std::size_t>(((r % size) + size) % size) * rowSize;
  };

  // Each column's window sum slides down one row at a time: the row that
  // leaves and the row that enters share a slot of the ring.
  std::vector<std::int64_t> sums(rowSize, 0);
  std::vector<std::int32_t> out(rowSize);
  for (std::int32_t r = -half; r <= half; ++r) {
    std::int32_t* values = slot(r);
    vertical(r, values);
    for (std::int32_t k = 0; k < w; ++k) sums[static_cast<std::size_t>(k)] += values[k];
  }
  for (std::int32_t y = 0; y < h; ++y) {
    if (y > 0) {
      std::int32_t* values = slot(y + half);
      for (std::int32_t k = 0; k < w; ++k) sums[static_cast<std::size_t>(k)] -= values[k];
      vertical(y + half, values);
      for (std::int32_t k = 0; k < w; ++k) sums[static_cast<std::size_t>(k)] += values[k];
    }
    for (std::int32_t k = 0; k < w; ++k) out[static_cast<std::size_t>(k)] = div(sums[static_cast<std::size_t>(k)]);
    row(y, out.data());
  }
  return true;
}

// ---- Alpha and colour tests -----------------------------------------------------

void InvertAlpha(TBitmap32* b) {
  if (b == nullptr) return;
  const std::int64_t n = PixelCount(*b);
  TColor32* p = b->Bits();
  for (std::int64_t i = 0; i < n; ++i) p[i] ^= 0xFF000000u;
}

bool IsUniformColor(const TBitmap32* b, TColor32 color) {
  if (b == nullptr || b->Width() == 0 || b->Empty()) return true;
  const std::int32_t w = b->Width(), h = b->Height();
  auto rowIsUniform = [&](std::int32_t y) {
    const TColor32* p = b->ScanLine(y);
    return std::all_of(p, p + w, [color](TColor32 c) { return c == color; });
  };
  for (std::int32_t top = 0, bottom = h - 1; top <= bottom; ++top, --bottom) {
    if (!rowIsUniform(top)) return false;
    if (bottom != top && !rowIsUniform(bottom)) return false;
  }
  return true;
}

// ---- Geometry -------------------------------------------------------------------

std::int64_t SqrDistance(const TPoint& p1, const TPoint& p2) {
  const int128 dx = static_cast<int128>(p2.X) - p1.X, dy = static_cast<int128>(p2.Y) - p1.Y;
  const int128 s = dx * dx + dy * dy;
  // Only points at opposite corners of the integer plane exceed 63 bits.
  return s > std::numeric_limits<std::int64_t>::max() ? std::numeric_limits<std::int64_t>::max()
                                                       : static_cast<std::int64_t>(s);
}

double SqrDistanceToSegment(const TPoint& p, const TPoint& a, const TPoint& b) {
  if (a == b) return static_cast<double>(SqrDistance(p, a));
  const std::int64_t dx = static_cast<std::int64_t>(b.X) - a.X;
  const std::int64_t dy = static_cast<std::int64_t>(b.Y) - a.Y;
  const int128 dot = static_cast<int128>(static_cast<std::int64_t>(p.X) - a.X) * dx +
                     static_cast<int128>(static_cast<std::int64_t>(p.Y) - a.Y) * dy;
  const int128 len2 = static_cast<int128>(dx) * dx + static_cast<int128>(dy) * dy;
  const double t = std::clamp(static_cast<double>(dot) / static_cast<double>(len2), 0.0, 1.0);
  const TPoint nearest = RoundPoint(FloatPoint(static_cast<float>(a.X + t * static_cast<double>(dx)),
                                               static_cast<float>(a.Y + t * static_cast<double>(dy))));
  return static_cast<double>(SqrDistance(p, nearest));
}

bool ClipLine(std::int32_t& x1, std::int32_t& y1, std::int32_t& x2, std::int32_t& y2,
              std::int32_t minX, std::int32_t minY, std::int32_t maxX, std::int32_t maxY) {
  if (minX > maxX || minY > maxY) return false;
  auto xCode = [&](std::int64_t x) { return (x < minX ? 1 : 0) | (x > maxX ? 2 : 0); };
  auto yCode = [&](std::int64_t y) { return (y < minY ? 4 : 0) | (y > maxY ? 8 : 0); };
  // 16.16 coordinates apart by more than half the range overflow 32-bit
  // differences; work in 64 bits and touch the caller's values only on
  // success.
  std::int64_t ax = x1, ay = y1, bx = x2, by = y2;
  int c1 = xCode(ax) | yCode(ay), c2 = xCode(bx) | yCode(by);
  if (c1 & c2) return false;
  if ((c1 | c2) == 0) return true;

  // Onto the horizontal edges first.
  if (c1 & 12) {
    const std::int64_t ny = ay > maxY ? maxY : minY;
    ax += MulDivRound(ny - ay, bx - ax, by - ay);
    ay = ny;
    c1 = xCode(ax);
  }
  if (c2 & 12) {
    const std::int64_t ny = c2 < 8 ? minY : maxY;
    bx += MulDivRound(ny - by, bx - ax, by - ay);
    by = ny;
    c2 = xCode(bx);
  }
  if (c1 & c2) return false;

  // Both ends now lie in the horizontal band: the vertical edges.
  if (c1 != 0) {
    const std::int64_t nx = (c1 & 1) ? minX : maxX;
    ay += MulDivRound(nx - ax, by - ay, bx - ax);
    ax = nx;
  }
  if (c2 != 0) {
    const std::int64_t nx = (c2 & 1) ? minX : maxX;
    by += MulDivRound(nx - bx, by - ay, bx - ax);
    bx = nx;
  }
  x1 = static_cast<std::int32_t>(ax);
  y1 = static_cast<std::int32_t>(ay);
  x2 = static_cast<std::int32_t>(bx);
  y2 = static_cast<std::int32_t>(by);
  return true;
}

}  // namespace kdl

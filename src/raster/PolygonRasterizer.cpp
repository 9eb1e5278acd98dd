#include "raster/PolygonRasterizer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cmath>
#include <limits>
#include <vector>

#include "raster/Blend.h"
#include "raster/LowLevel.h"

namespace kdl {

namespace {

// ---- Grids -----------------------------------------------------------------

// Per sub-sample mode: sub-samples per pixel and axis (L), its shift, the
// coverage multiplier ((L·(L−1)·multiplier) shr 8 = 255 for a full pixel)
// and the shift that scales 16.16 points to the grid.
struct TModeRow {
  std::int32_t L;
  std::int32_t Shift;
  std::int64_t Multiplier;
  std::int32_t PointShift;
};
constexpr TModeRow kModes[3] = {{16, 4, 273, 12}, {8, 3, 1167, 13}, {4, 2, 5460, 14}};
constexpr std::int64_t kPointBias = 2047;

// Crossing words: X in bits 0-30, bit 31 set for an upward edge.
constexpr std::uint32_t kUpward = 0x80000000u;
constexpr std::uint32_t kXMask = 0x7FFFFFFFu;

// Grid coordinates never need more than this; bounds derived from huge
// bitmaps are limited to it so that they stay 31-bit crossing positions.
constexpr std::int64_t kGridLimit = std::int64_t{1} << 30;

std::int32_t LimitGrid(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp(v, -kGridLimit, kGridLimit));
}

inline std::int32_t SignOf(std::int64_t v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }

struct TGridPoint {
  std::int32_t X;
  std::int32_t Y;
};
using TGridContour = std::vector<TGridPoint>;

// ---- Scanline table ----------------------------------------------------------

void SortCrossingsAnyTies(std::uint32_t* list, std::int32_t count);

// The crossings of every scanline from the polygon's first to its last, in
// one block grouped by row. The edges are walked twice: a counting pass
// that only records which rows each edge owns, then the pass that writes
// the crossings straight into their rows (in edge order, so the order of
// equal positions is the order they were found in).
class TScanlineTable {
 public:
  TScanlineTable(std::int32_t minY, std::int32_t maxY, std::int32_t rowLimit, std::int32_t clipLeft,
                 std::int32_t clipRight)
      : minY_(minY), rowCount_(maxY - minY + 1), rowLimit_(rowLimit), clipLeft_(clipLeft),
        clipRight_(clipRight), starts_(static_cast<std::size_t>(rowCount_) + 2, 0) {}

  std::int32_t MinY() const { return minY_; }
  std::int32_t RowCount() const { return rowCount_; }
  std::int32_t FirstRow() const { return minY_; }
  // The last row that accepts crossings.
  std::int32_t LastRow() const { return std::min(rowLimit_, minY_ + rowCount_ - 1); }
  bool Counting() const { return counting_; }

  // Counting pass: rows lo..hi (already within FirstRow..LastRow) receive
  // one crossing each.
  void CountRows(std::int64_t lo, std::int64_t hi) {
    ++starts_[static_cast<std::size_t>(lo - minY_) + 1];
    --starts_[static_cast<std::size_t>(hi - minY_) + 2];
  }

  // Ends the counting pass: the block is allocated and every row's write
  // position set.
  void StartWriting() {
    for (std::size_t r = 1; r < starts_.size(); ++r) starts_[r] += starts_[r - 1];  // counts
    for (std::size_t r = 1; r < starts_.size(); ++r) starts_[r] += starts_[r - 1];  // starts
    crossings_.resize(static_cast<std::size_t>(starts_[static_cast<std::size_t>(rowCount_)]));
    fill_.assign(starts_.begin(), starts_.end() - 2);
    counting_ = false;
  }

  void AddCrossing(std::int32_t x, std::int32_t y, std::int32_t direction) {
    if (y < minY_ || y > LastRow()) return;
    if (counting_) {
      CountRows(y, y);
      return;
    }
    x = std::clamp(x, clipLeft_, clipRight_);
    const std::uint32_t word = static_cast<std::uint32_t>(x) | (direction < 0 ? kUpward : 0u);
    crossings_[static_cast<std::size_t>(fill_[static_cast<std::size_t>(y - minY_)]++)] = word;
  }

  // Sorts each row; raises for a row with an odd count. Coverage does not
  // depend on the order of crossings at one position, so anti-aliased
  // tables may take a faster sort; whole-pixel spans do, where zero-width
  // intervals paint.
  void Sort(bool anyOrderOfTies) {
    for (std::int32_t r = 0; r < rowCount_; ++r) {
      if (anyOrderOfTies)
        SortCrossingsAnyTies(Row(r), Count(r));
      else
        SortCrossings(Row(r), Count(r));
    }
  }

  // Writing pass: a crossing of row y, which the caller has already kept
  // within FirstRow..LastRow.
  void PutCrossing(std::int32_t x, std::int64_t y, std::int32_t direction) {
    x = std::clamp(x, clipLeft_, clipRight_);
    const std::uint32_t word = static_cast<std::uint32_t>(x) | (direction < 0 ? kUpward : 0u);
    crossings_[static_cast<std::size_t>(fill_[static_cast<std::size_t>(y - minY_)]++)] = word;
  }

  std::uint32_t* Row(std::int32_t r) { return crossings_.data() + starts_[static_cast<std::size_t>(r)]; }
  std::int32_t Count(std::int32_t r) const {
    return starts_[static_cast<std::size_t>(r) + 1] - starts_[static_cast<std::size_t>(r)];
  }

 private:
  std::int32_t minY_;
  std::int32_t rowCount_;
  std::int32_t rowLimit_;
  std::int32_t clipLeft_;
  std::int32_t clipRight_;
  bool counting_ = true;
  // While counting: differences of the row counts, shifted by one; then the
  // start of each row in crossings_ (rowCount_ + 1 entries used).
  std::vector<std::int32_t> starts_;
  std::vector<std::int32_t> fill_;
  std::vector<std::uint32_t> crossings_;
};

// Adds an edge's crossings and returns its direction (+1 down, −1 up, 0 for
// a horizontal edge, which adds nothing). With topRows the edge owns the
// scanlines [upper end, lower end) whatever its direction; otherwise those
// from y0 up to, excluding, y1. Each crossing is the edge's exact
// intersection with the scanline rounded to the grid (halves up), always
// measured from the upper end, so an edge walked in either direction, or
// shared by two polygons, gives the same positions. Rows outside the table
// are skipped without being walked.
std::int32_t TraceEdge(TScanlineTable& table, std::int32_t x0, std::int32_t y0, std::int32_t x1,
                       std::int32_t y1, bool topRows) {
  if (y0 == y1) return 0;
  const std::int32_t d = y1 > y0 ? 1 : -1;
  // The scanlines this edge owns: [y0, y1) downwards, (y1, y0] upwards, or
  // [top, bottom) for topRows.
  std::int64_t lo = d > 0 || topRows ? std::min(y0, y1) : std::int64_t{y1} + 1;
  std::int64_t hi = d > 0 || topRows ? std::int64_t{std::max(y0, y1)} - 1 : y0;
  lo = std::max<std::int64_t>(lo, table.FirstRow());
  hi = std::min<std::int64_t>(hi, table.LastRow());
  if (lo > hi) return d;
  if (table.Counting()) {
    table.CountRows(lo, hi);
    return d;
  }

  // X(Y) = xt + floor((2·(Y − yt)·dx + n) / 2n) from the upper end (xt, yt),
  // stepped with a quotient and a non-negative remainder.
  const std::int64_t xt = d > 0 ? x0 : x1, yt = d > 0 ? y0 : y1;
  const std::int64_t dx = (d > 0 ? std::int64_t{x1} : std::int64_t{x0}) - xt;
  const std::int64_t n2 = 2 * std::llabs(std::int64_t{y1} - y0);
  auto floorDiv = [](std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
  };
  const std::int64_t num = 2 * (lo - yt) * dx + n2 / 2;
  std::int64_t x = xt + floorDiv(num, n2);
  std::int64_t rem = num - floorDiv(num, n2) * n2;
  if (dx == 0) {
    // A vertical edge crosses every row at its own X.
    for (std::int64_t y = lo; y <= hi; ++y) table.PutCrossing(static_cast<std::int32_t>(xt), y, d);
    return d;
  }
  const std::int64_t qStep = floorDiv(2 * dx, n2);
  const std::int64_t rStep = 2 * dx - qStep * n2;
  for (std::int64_t y = lo; y <= hi; ++y) {
    table.PutCrossing(static_cast<std::int32_t>(std::clamp<std::int64_t>(x, INT32_MIN, INT32_MAX)), y, d);
    x += qStep;
    rem += rStep;
    if (rem >= n2) {
      ++x;
      rem -= n2;
    }
  }
  return d;
}

// Adds a closed contour's edges.
//
// Whole-pixel fills give each edge the scanlines from its start up to,
// excluding, its end; at a vertex where the contour turns back vertically
// (a local top or bottom) an extra crossing pairs up with the next edge's
// first one, so that every scanline receives an even count and the turning
// scanline only a zero-width pair.
//
// Anti-aliased fills give every edge the sub-scanlines [top, bottom), which
// is even on every scanline by itself and does not depend on the direction
// the contour runs in: reversing a contour, or splitting a polygon along a
// shared edge, then leaves the coverage as it was.
void AddPolygonEdges(TScanlineTable& table, const TGridContour& pts, bool antialiased) {
  const std::size_t n = pts.size();
  if (n < 3) return;
  if (antialiased) {
    for (std::size_t j = 0; j < n; ++j) {
      const TGridPoint& a = pts[j];
      const TGridPoint& b = pts[j + 1 < n ? j + 1 : 0];
      TraceEdge(table, a.X, a.Y, b.X, b.Y, true);
    }
    return;
  }
  // The direction of the last non-horizontal edge that arrives at point 0.
  std::int32_t direction = 0;
  for (std::size_t i = n - 1; i >= 1; --i)
    if (pts[i].Y != pts[0].Y) {
      direction = SignOf(std::int64_t{pts[0].Y} - pts[i].Y);
      break;
    }
  auto edge = [&](const TGridPoint& a, const TGridPoint& b) {
    if (a.Y == b.Y) return;
    const std::int32_t g = TraceEdge(table, a.X, a.Y, b.X, b.Y, false);
    if (g != direction) {
      table.AddCrossing(a.X, a.Y, -g);
      direction = g;
    }
  };
  for (std::size_t j = 1; j < n; ++j) edge(pts[j - 1], pts[j]);
  edge(pts[n - 1], pts[0]);
}

void QuickSortCrossings(std::uint32_t* list, std::int32_t lo, std::int32_t hi) {
  while (lo < hi) {
    std::int32_t i = lo, j = hi;
    const std::uint32_t pivot = list[(lo + hi) / 2] & kXMask;
    while (i <= j) {
      while ((list[i] & kXMask) < pivot) ++i;
      while ((list[j] & kXMask) > pivot) --j;
      if (i <= j) {
        std::swap(list[i], list[j]);
        ++i;
        --j;
      }
    }
    if (lo < j) QuickSortCrossings(list, lo, j);
    lo = i;
  }
}

// Insertion sort for the short rows that make up nearly every table, the
// quicksort beyond.
void SortCrossingsAnyTies(std::uint32_t* list, std::int32_t count) {
  KDL_RASTER_ASSERT((count & 1) == 0);
  if (count > 48) {
    QuickSortCrossings(list, 0, count - 1);
    return;
  }
  for (std::int32_t i = 1; i < count; ++i) {
    const std::uint32_t v = list[i];
    const std::uint32_t key = v & kXMask;
    std::int32_t j = i - 1;
    while (j >= 0 && (list[j] & kXMask) > key) {
      list[j + 1] = list[j];
      --j;
    }
    list[j + 1] = v;
  }
}

// Guards an update bracket on the bitmap; Changed follows even when the
// span routine raised.
class TUpdateScope {
 public:
  explicit TUpdateScope(TBitmap32& b) : b_(b) { b_.BeginUpdate(); }
  ~TUpdateScope() {
    b_.EndUpdate();
    b_.Changed();
  }
  TUpdateScope(const TUpdateScope&) = delete;
  TUpdateScope& operator=(const TUpdateScope&) = delete;

 private:
  TBitmap32& b_;
};

// ---- Whole-pixel spans ---------------------------------------------------

// Pixels a..b of row y: copied when the colour is opaque, else blended with
// the bitmap's combine mode.
void PaintRun(TBitmap32& bitmap, std::int32_t a, std::int32_t y, std::int32_t b, TColor32 color) {
  if (color >= 0xFF000000u)
    bitmap.HorzLine(a, y, b, color);
  else
    bitmap.HorzLineT(a, y, b, color);
}

// Rounds a 1/256 position to its pixel: halves go up.
inline std::int32_t RoundSub8(std::uint32_t x) {
  return static_cast<std::int32_t>((x >> 8) + ((x >> 7) & 1));
}

template <typename Paint>
void WalkSpans(TScanlineTable& table, TPolygonFillRule rule, std::int32_t clipRight, Paint&& paint) {
  for (std::int32_t r = 0; r < table.RowCount(); ++r) {
    const std::int32_t y = table.MinY() + r;
    const std::uint32_t* c = table.Row(r);
    const std::int32_t count = table.Count(r);
    if (count == 0) continue;
    if (rule == frAlternate) {
      std::int32_t prevB = -1;
      for (std::int32_t k = 0; k + 1 < count; k += 2) {
        const std::int32_t x0 = static_cast<std::int32_t>(c[k] & kXMask);
        const std::int32_t e = static_cast<std::int32_t>(c[k + 1] & kXMask) - 1;
        if (x0 >= e) continue;
        std::int32_t b = e / 256 + ((e & 0xFF) >= 128 ? 1 : 0);
        b = std::min(b, clipRight - 1);
        const std::int32_t a = std::max(RoundSub8(static_cast<std::uint32_t>(x0)), prevB + 1);
        if (b >= a) paint(a, y, b);
        prevB = b;
      }
    } else {
      std::int32_t winding = (c[0] & kUpward) ? 1 : -1;
      std::uint32_t prevX = c[0] & kXMask;
      for (std::int32_t k = 1; k < count; ++k) {
        const std::uint32_t x = c[k] & kXMask;
        if (winding != 0) {
          const std::int32_t b = std::min(RoundSub8(x), clipRight - 1);
          const std::int32_t a = RoundSub8(prevX);
          if (b >= a) paint(a, y, b);
        }
        prevX = x;
        winding += (c[k] & kUpward) ? 1 : -1;
      }
    }
  }
}

void FillSpans(TBitmap32& bitmap, TScanlineTable& table, TColor32 color, TPolygonFillRule rule) {
  WalkSpans(table, rule, bitmap.ClipRect().Right,
            [&](std::int32_t a, std::int32_t y, std::int32_t b) { PaintRun(bitmap, a, y, b, color); });
}

void FillSpansCallback(TBitmap32& bitmap, TScanlineTable& table, TPolygonFillRule rule,
                       const TFillSpanEvent& callback) {
  WalkSpans(table, rule, bitmap.ClipRect().Right, [&](std::int32_t a, std::int32_t y, std::int32_t b) {
    callback(bitmap.PixelPtr(a, y), a, y, b - a, nullptr);
  });
  EMMS();
}

// ---- Anti-aliased spans --------------------------------------------------

// The coverage differences of one pixel row: entries are only ever set at
// the pixels that crossings touch, so the row is kept as a difference array
// plus the list of touched entries; between two touched entries coverage
// is constant and is written as a run.
class TCoverRow {
 public:
  // A sparse row keeps the list of touched entries, worth it when they are
  // few against the width.
  void Reset(std::int32_t width, bool sparse) {
    if (static_cast<std::int32_t>(cover_.size()) < width) cover_.assign(static_cast<std::size_t>(width) + 64, 0);
    width_ = width;
    sparse_ = sparse;
    touched_.clear();
  }
  void Add(std::int32_t i, std::int32_t v) {
    if (sparse_ && v != 0 && cover_[static_cast<std::size_t>(i)] == 0) touched_.push_back(i);
    cover_[static_cast<std::size_t>(i)] += v;
  }
  // Calls run(first, end, coverage) for consecutive runs covering 0..n−1
  // in order and leaves every entry zero again.
  template <typename Run>
  void Emit(std::int32_t n, std::int64_t multiplier, Run&& run) {
    std::int32_t* cv = cover_.data();
    if (!sparse_) {
      // Dense: one running sum over the row, which changes only at the
      // non-zero entries; zeros are skipped eight at a time.
      std::int64_t sum = 0;
      std::int32_t pos = 0, i = 0;
      while (i < n) {
        while (i + 8 <= n) {
          std::uint64_t q[4];
          std::memcpy(q, cv + i, sizeof q);
          if ((q[0] | q[1] | q[2] | q[3]) != 0) break;
          i += 8;
        }
        while (i < n && cv[i] == 0) ++i;
        if (i >= n) break;
        if (i > pos) run(pos, i, CoverageOf(sum, multiplier));
        sum += cv[i];
        cv[i] = 0;
        pos = i++;
      }
      if (n > pos) run(pos, n, CoverageOf(sum, multiplier));
      std::fill(cv + std::max(n, 0), cv + width_, 0);
      return;
    }
    // Sparse: only the touched entries change the sum.
    std::sort(touched_.begin(), touched_.end());
    touched_.erase(std::unique(touched_.begin(), touched_.end()), touched_.end());
    std::int64_t sum = 0;
    std::int32_t pos = 0;
    for (std::int32_t t : touched_) {
      const std::int32_t d = cv[t];
      cv[t] = 0;
      if (t >= n || d == 0) continue;
      if (t > pos) run(pos, t, CoverageOf(sum, multiplier));
      sum += d;
      pos = t;
    }
    if (n > pos) run(pos, n, CoverageOf(sum, multiplier));
  }

  // Coverage of one pixel from the running sum, in 64 bits.
  static std::int32_t CoverageOf(std::int64_t sum, std::int64_t multiplier) {
    return static_cast<std::int32_t>((sum * multiplier) >> 8);
  }

 private:
  std::vector<std::int32_t> cover_;
  std::vector<std::int32_t> touched_;
  std::int32_t width_ = 0;
  bool sparse_ = false;
};

// Walks the pixel rows of the table; for each row with crossings, hands
// (y, x0, count, cover) on, count never reaching past the clip rectangle.
template <typename Receiver>
void WalkSpansAA(TScanlineTable& table, TPolygonFillRule rule, const TModeRow& m,
                 std::int32_t clipRight, Receiver&& handRow) {
  const std::int32_t L = m.L, shift = m.Shift;
  const std::int32_t sub = table.MinY();
  const std::int32_t rowCount = table.RowCount();
  const std::int32_t yFirst = sub >> shift;
  const std::int32_t yEnd = static_cast<std::int32_t>((std::int64_t{rowCount} + sub + L - 1) >> shift);
  TCoverRow cover;

  for (std::int32_t y = yFirst; y < yEnd; ++y) {
    const std::int32_t r0 = std::max((y << shift) - sub, 0);
    const std::int32_t r1 = std::min((y << shift) - sub + L - 1, rowCount - 1);

    // The row's extent over sub-scanlines that hold a span.
    std::int64_t left = std::numeric_limits<std::int64_t>::max();
    std::int64_t right = std::numeric_limits<std::int64_t>::min();
    std::int64_t crossings = 0;
    for (std::int32_t r = r0; r <= r1; ++r) {
      const std::int32_t count = table.Count(r);
      if (count < 2) continue;
      const std::uint32_t* c = table.Row(r);
      left = std::min<std::int64_t>(left, c[0] & kXMask);
      right = std::max<std::int64_t>(right, c[count - 1] & kXMask);
      crossings += count;
    }
    if (left == std::numeric_limits<std::int64_t>::max()) continue;
    right += L - 1;
    if (right < left) continue;

    const std::int32_t x0 = static_cast<std::int32_t>(left >> shift);
    const std::int32_t w = static_cast<std::int32_t>((right >> shift) - x0 + 2);
    cover.Reset(w, crossings * 16 < w);

    // Opening a span at sub-sample X adds (L − 1) − (X and (L − 1)) to its
    // pixel and the rest to the next; closing subtracts the same. weight
    // is +n for n openings, −n for n closings.
    const std::int32_t fracMask = L - 1;
    auto mark = [&](std::uint32_t x, std::int32_t weight) {
      const std::int32_t i = static_cast<std::int32_t>(x >> shift) - x0;
      const std::int32_t f = static_cast<std::int32_t>(x) & fracMask;
      cover.Add(i, weight * (fracMask - f));
      cover.Add(i + 1, weight * f);
    };
    // Sub-scanlines with the same crossings (every one of an upright
    // edge's) add the same marks: a run of them is marked once, weighted by
    // its length. The sums, and so the coverage, are the same.
    for (std::int32_t r = r0; r <= r1;) {
      const std::int32_t count = table.Count(r);
      if (count < 2) {
        ++r;
        continue;
      }
      const std::uint32_t* c = table.Row(r);
      std::int32_t times = 1;
      while (r + times <= r1 && table.Count(r + times) == count &&
             std::equal(c, c + count, table.Row(r + times)))
        ++times;
      r += times;
      if (rule == frAlternate) {
        for (std::int32_t k = 0; k + 1 < count; k += 2) {
          mark(c[k] & kXMask, times);
          mark(c[k + 1] & kXMask, -times);
        }
      } else {
        std::int32_t winding = 0;
        for (std::int32_t k = 0; k < count; ++k) {
          const std::uint32_t x = c[k] & kXMask;
          if (winding == 0) mark(x, times);
          // +1 for an upward edge, −1 for a downward one.
          winding += static_cast<std::int32_t>(c[k] >> 31) * 2 - 1;
          if (winding == 0) mark(x, -times);
        }
      }
    }

    // Never past the clip rectangle's right edge.
    handRow(y, x0, std::min(w, clipRight - x0), cover);
  }
}

void FillSpansAA(TBitmap32& bitmap, TScanlineTable& table, TColor32 color, TPolygonFillRule rule,
                 const TModeRow& m) {
  const TBlendLineEx blendLine = BLEND_LINE_EX[bitmap.CombineMode()];
  const TColor32 master = color >> 24;
  const TColor32 rgb = color & 0x00FFFFFFu;
  // Where coverage is 0 the line kernel leaves the target as it is, and
  // where an opaque colour covers a pixel fully both kernels give one
  // colour whatever the target holds: such runs are skipped or filled
  // rather than blended, with the same result.
  const bool opaque = master == 255;
  const TColor32 solid = BLEND_REG_EX[bitmap.CombineMode()](0xFF000000u | rgb, 0, master);
  constexpr std::int32_t kShortRun = 8;
  std::vector<TColor32> row;
  // The fully covered colour, so that long covered runs blend from it
  // without a row being built.
  std::vector<TColor32> full;
  WalkSpansAA(table, rule, m, bitmap.ClipRect().Right,
              [&](std::int32_t y, std::int32_t x0, std::int32_t n, TCoverRow& cover) {
                if (static_cast<std::int32_t>(row.size()) < n) {
                  row.resize(static_cast<std::size_t>(n) + 64);
                  full.assign(row.size(), 0xFF000000u | rgb);
                }
                TColor32* out = row.data();
                TColor32* dst = bitmap.PixelPtr(x0, y);
                std::int32_t pending = -1;  // start of colours not yet blended
                auto flush = [&](std::int32_t end) {
                  if (pending >= 0 && end > pending) blendLine(out + pending, dst + pending, end - pending, master);
                  pending = -1;
                };
                cover.Emit(n, m.Multiplier, [&](std::int32_t a, std::int32_t b, std::int32_t coverage) {
                  const std::int32_t alpha = coverage & 0xFF;
                  if (alpha == 0 && b - a >= kShortRun) {
                    flush(a);
                  } else if (alpha == 255 && b - a >= kShortRun) {
                    flush(a);
                    if (opaque)
                      FillLongword(dst + a, b - a, solid);
                    else
                      blendLine(full.data(), dst + a, b - a, master);
                  } else {
                    std::fill(out + a, out + b, (static_cast<TColor32>(alpha) << 24) | rgb);
                    if (pending < 0) pending = a;
                  }
                });
                flush(n);
                EMMS();
              });
}

// dstOf gives the address handed on with each span.
template <typename DstOf>
void FillSpansAACallback(std::int32_t clipRight, TScanlineTable& table, TPolygonFillRule rule,
                         const TModeRow& m, DstOf&& dstOf, const TFillSpanEvent& callback) {
  std::vector<std::int32_t> values;
  WalkSpansAA(table, rule, m, clipRight,
              [&](std::int32_t y, std::int32_t x0, std::int32_t n, TCoverRow& cover) {
                if (static_cast<std::int32_t>(values.size()) < n) values.resize(static_cast<std::size_t>(n) + 64);
                std::int32_t* out = values.data();
                cover.Emit(n, m.Multiplier,
                           [&](std::int32_t a, std::int32_t b, std::int32_t v) { std::fill(out + a, out + b, v); });
                callback(dstOf(x0, y), x0, y, n, out);
              });
  EMMS();
}

bool ClipUsable(const TRect& clip) { return clip.Right > clip.Left && clip.Bottom > clip.Top; }

}  // namespace

void SortCrossings(std::uint32_t* crossings, std::int32_t count) {
  KDL_RASTER_ASSERT((count & 1) == 0);
  if (count == 2) {
    if ((crossings[1] & kXMask) < (crossings[0] & kXMask)) std::swap(crossings[0], crossings[1]);
  } else if (count > 2) {
    QuickSortCrossings(crossings, 0, count - 1);
  }
}

// ---- Polylines ----------------------------------------------------------

void DrawPolyline(TBitmap32& bitmap, const TArrayOfFixedPoint& points, TColor32 color, bool closed) {
  // 1. A closed single point is one pixel.
  if (points.size() == 1 && closed)
    bitmap.SetPixelTS(FixedRound(points[0].X), FixedRound(points[0].Y), color);
  if (points.size() < 2) return;

  // 2. Whole-pixel lines from the pen, blended unless the colour is opaque.
  const bool blended = color < 0xFF000000u;
  {
    TUpdateScope update(bitmap);
    bitmap.SetPenColor(color);
    bitmap.MoveTo(FixedRound(points[0].X), FixedRound(points[0].Y));
    auto lineTo = [&](const TFixedPoint& p) {
      if (blended)
        bitmap.LineToTS(FixedRound(p.X), FixedRound(p.Y));
      else
        bitmap.LineToS(FixedRound(p.X), FixedRound(p.Y));
    };
    for (std::size_t i = 1; i < points.size(); ++i) lineTo(points[i]);
    if (closed) lineTo(points[0]);
  }
}

void DrawPolylineAA(TBitmap32& bitmap, const TArrayOfFixedPoint& points, TColor32 color, bool closed) {
  if (points.size() == 1 && closed) bitmap.SetPixelFS(points[0].X, points[0].Y, color);
  if (points.size() < 2) return;
  TUpdateScope update(bitmap);
  bitmap.SetPenColor(color);
  bitmap.MoveToX(points[0].X, points[0].Y);
  for (std::size_t i = 1; i < points.size(); ++i) bitmap.LineToXS(points[i].X, points[i].Y);
  if (closed) bitmap.LineToXS(points[0].X, points[0].Y);
}

void DrawPolyPolyline(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points, TColor32 color,
                      bool closed) {
  for (const TArrayOfFixedPoint& contour : points) DrawPolyline(bitmap, contour, color, closed);
}

void DrawPolyPolylineAA(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points, TColor32 color,
                        bool closed) {
  for (const TArrayOfFixedPoint& contour : points) DrawPolylineAA(bitmap, contour, color, closed);
}

// ---- Fill cores ----------------------------------------------------------

void RasterizePolyPolygon(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                          TColor32 color, TPolygonFillRule fillRule, const TFillSpanEvent& callback) {
  const TRect clip = bitmap.ClipRect();
  if (!ClipUsable(clip)) return;

  // 1. Whole pixels; short contours still count towards the extent.
  std::vector<TGridContour> grid(points.size());
  std::int64_t minY = std::numeric_limits<std::int64_t>::max();
  std::int64_t maxY = std::numeric_limits<std::int64_t>::min();
  for (std::size_t c = 0; c < points.size(); ++c) {
    grid[c].reserve(points[c].size());
    for (const TFixedPoint& p : points[c]) {
      const auto x = static_cast<std::int32_t>((std::int64_t{p.X} + 0x7FFF) >> 16);
      const auto y = static_cast<std::int32_t>((std::int64_t{p.Y} + 0x7FFF) >> 16);
      // X in 1/256 pixel from here on.
      grid[c].push_back({x * 256, y});
      minY = std::min<std::int64_t>(minY, y);
      maxY = std::max<std::int64_t>(maxY, y);
    }
  }
  if (minY > maxY) return;

  // 2.-3. The vertical extent within the clip rows.
  minY = std::clamp<std::int64_t>(minY, clip.Top, clip.Bottom);
  maxY = std::clamp<std::int64_t>(maxY, clip.Top, clip.Bottom);
  if (minY >= maxY) return;
  TScanlineTable table(static_cast<std::int32_t>(minY), static_cast<std::int32_t>(maxY), clip.Bottom - 1,
                       LimitGrid(std::int64_t{clip.Left} * 256),
                       LimitGrid(std::int64_t{clip.Right} * 256 - 1));

  // 4.-5. Edges, then every scanline sorted.
  for (const TGridContour& contour : grid) AddPolygonEdges(table, contour, false);
  table.StartWriting();
  for (const TGridContour& contour : grid) AddPolygonEdges(table, contour, false);
  table.Sort(false);

  TUpdateScope update(bitmap);
  if (callback)
    FillSpansCallback(bitmap, table, fillRule, callback);
  else
    FillSpans(bitmap, table, color, fillRule);
}

namespace {

// Steps 1-5 of the anti-aliased fill over clip; fill(table, mode row) runs
// only when some scanline of the clip holds an edge.
template <typename Fill>
void RasterizeAAWithin(const TRect& clip, const TArrayOfArrayOfFixedPoint& points,
                       TSubsampleMode mode, Fill&& fill) {
  if (!ClipUsable(clip)) return;
  const TModeRow& m = kModes[mode <= sm4 ? mode : sm8];

  // 1. The sub-sample grid; contours of fewer than three points are dropped
  // before they can widen the extent.
  std::vector<TGridContour> grid(points.size());
  std::int64_t minY = std::numeric_limits<std::int64_t>::max();
  std::int64_t maxY = std::numeric_limits<std::int64_t>::min();
  for (std::size_t c = 0; c < points.size(); ++c) {
    if (points[c].size() < 3) continue;
    grid[c].reserve(points[c].size());
    for (const TFixedPoint& p : points[c]) {
      const auto x = static_cast<std::int32_t>((std::int64_t{p.X} + kPointBias) >> m.PointShift);
      const auto y = static_cast<std::int32_t>((std::int64_t{p.Y} + kPointBias) >> m.PointShift);
      grid[c].push_back({x, y});
      minY = std::min<std::int64_t>(minY, y);
      maxY = std::max<std::int64_t>(maxY, y);
    }
  }
  if (minY > maxY) return;

  // 2.-3. The vertical extent within the clip's sub-scanlines.
  const std::int64_t top = std::int64_t{clip.Top} << m.Shift;
  const std::int64_t bottom = (std::int64_t{clip.Bottom} << m.Shift) - 1;
  minY = std::clamp(minY, top, bottom);
  maxY = std::clamp(maxY, top, bottom);
  if (minY >= maxY) return;
  TScanlineTable table(static_cast<std::int32_t>(minY), static_cast<std::int32_t>(maxY),
                       LimitGrid(bottom), LimitGrid(std::int64_t{clip.Left} << m.Shift),
                       LimitGrid((std::int64_t{clip.Right} << m.Shift) - 1));

  // 4.-5. Edges, then every scanline sorted.
  for (const TGridContour& contour : grid) AddPolygonEdges(table, contour, true);
  table.StartWriting();
  for (const TGridContour& contour : grid) AddPolygonEdges(table, contour, true);
  table.Sort(true);
  fill(table, m);
}

}  // namespace

void RasterizePolyPolygonAA(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                            TColor32 color, TSubsampleMode mode, TPolygonFillRule fillRule,
                            const TFillSpanEvent& callback) {
  const TRect clip = bitmap.ClipRect();
  RasterizeAAWithin(clip, points, mode, [&](TScanlineTable& table, const TModeRow& m) {
    TUpdateScope update(bitmap);
    if (callback)
      FillSpansAACallback(
          clip.Right, table, fillRule, m,
          [&](std::int32_t x, std::int32_t y) { return bitmap.PixelPtr(x, y); }, callback);
    else
      FillSpansAA(bitmap, table, color, fillRule, m);
  });
}

void FillPolyPolygonAAClipped(const TRect& clip, const TArrayOfArrayOfFixedPoint& points,
                              TPolygonFillRule fillRule, TSubsampleMode mode,
                              const TFillSpanEvent& callback) {
  if (!callback) return;
  RasterizeAAWithin(clip, points, mode, [&](TScanlineTable& table, const TModeRow& m) {
    FillSpansAACallback(
        clip.Right, table, fillRule, m,
        [](std::int32_t, std::int32_t) -> TColor32* { return nullptr; }, callback);
  });
}

void FillPolyPolygon(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points, TColor32 color,
                     TPolygonFillRule fillRule) {
  RasterizePolyPolygon(bitmap, points, color, fillRule, nullptr);
}

void FillPolyPolygonCallback(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                             TPolygonFillRule fillRule, const TFillSpanEvent& callback) {
  RasterizePolyPolygon(bitmap, points, 0, fillRule, callback);
}

void FillPolyPolygonAA(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points, TColor32 color,
                       TSubsampleMode mode, TPolygonFillRule fillRule) {
  RasterizePolyPolygonAA(bitmap, points, color, mode, fillRule, nullptr);
}

void FillPolyPolygonAACallback(TBitmap32& bitmap, const TArrayOfArrayOfFixedPoint& points,
                               TPolygonFillRule fillRule, TSubsampleMode mode,
                               const TFillSpanEvent& callback) {
  RasterizePolyPolygonAA(bitmap, points, 0, mode, fillRule, callback);
}

// ---- TPolygon32 ------------------------------------------------------------

TPolygon32::TPolygon32() { StartLine(); }

void TPolygon32::Clear() {
  contours_.clear();
  normals_.clear();
  StartLine();
}

void TPolygon32::StartLine() {
  contours_.emplace_back();
  normals_.clear();
}

void TPolygon32::AddPoint(const TFixedPoint& p) {
  contours_.back().push_back(p);
  normals_.clear();
}

void TPolygon32::AddPoints(const TFixedPoint* points, std::int64_t count) {
  if (count > 0) contours_.back().insert(contours_.back().end(), points, points + count);
  normals_.clear();
}

void TPolygon32::CopySettingsTo(TPolygon32& dest) const {
  dest.useAntialiasing_ = useAntialiasing_;
  dest.subsampleMode_ = subsampleMode_;
  dest.closeContours_ = closeContours_;
  dest.fillRule_ = fillRule_;
}

void TPolygon32::AssignTo(TPolygon32& dest) const {
  if (&dest == this) return;
  CopySettingsTo(dest);
  dest.normals_ = normals_;
  dest.contours_ = contours_;
}

void TPolygon32::ComputeNormals() {
  if (!normals_.empty()) return;
  normals_.resize(contours_.size());
  for (std::size_t c = 0; c < contours_.size(); ++c) {
    const TArrayOfFixedPoint& pts = contours_[c];
    TArrayOfFixedPoint& normals = normals_[c];
    if (pts.empty()) continue;
    normals.assign(pts.size(), TFixedPoint{});
    if (pts.size() < 2) continue;
    const std::size_t n = pts.size();
    for (std::size_t k = 0; k < n; ++k) {
      // The edge leaving point k; an open contour's last point reuses the
      // edge arriving at it.
      std::size_t from = k, to = k + 1;
      if (k == n - 1) {
        if (closeContours_) {
          to = 0;
        } else {
          from = k - 1;
          to = k;
        }
      }
      float dx = static_cast<float>(static_cast<double>(std::int64_t{pts[to].X} - pts[from].X) / 65536.0);
      float dy = static_cast<float>(static_cast<double>(std::int64_t{pts[to].Y} - pts[from].Y) / 65536.0);
      if (dx != 0 || dy != 0) {
        const float len = std::hypot(dx, dy);
        dx /= len;
        dy /= len;
      }
      normals[k] = {Fixed(dy), Fixed(-dx)};
    }
  }
}

namespace {

// a·b/c rounded, in 64 bits, limited to 32.
std::int32_t MulDivWide(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return 0;
  const long double q = static_cast<long double>(a) * static_cast<long double>(b) / static_cast<long double>(c);
  const long double r = std::round(q);
  return static_cast<std::int32_t>(std::clamp<long double>(r, INT32_MIN, INT32_MAX));
}

TFixedPoint OffsetPoint(const TFixedPoint& p, std::int64_t dx, std::int64_t dy) {
  return {static_cast<TFixed>(std::clamp<std::int64_t>(p.X + dx, INT32_MIN, INT32_MAX)),
          static_cast<TFixed>(std::clamp<std::int64_t>(p.Y + dy, INT32_MIN, INT32_MAX))};
}

}  // namespace

std::unique_ptr<TPolygon32> TPolygon32::Offset(TFixed delta, float edgeSharpness) {
  // 1. Normals, sharpness and the mitre threshold.
  ComputeNormals();
  if (!(edgeSharpness <= 0.99f)) edgeSharpness = 0.99f;
  if (!(edgeSharpness >= 0.0f)) edgeSharpness = 0.0f;
  const auto threshold =
      static_cast<std::int64_t>(std::nearbyint((1.0 - static_cast<double>(edgeSharpness)) * delta));

  // 2. A copy for no offset.
  auto result = std::make_unique<TPolygon32>();
  CopySettingsTo(*result);
  if (delta == 0) {
    result->contours_ = contours_;
    return result;
  }

  // 3. Every contour of two or more points moved along its normals.
  result->contours_.clear();
  for (std::size_t c = 0; c < contours_.size(); ++c) {
    const TArrayOfFixedPoint& pts = contours_[c];
    const TArrayOfFixedPoint& normals = normals_[c];
    const std::size_t n = pts.size();
    if (n < 2) continue;
    result->StartLine();
    auto scaled = [&](std::size_t k) {
      return TFixedPoint{MulDivWide(normals[k].X, delta, 65536), MulDivWide(normals[k].Y, delta, 65536)};
    };
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t h = i == 0 ? n - 1 : i - 1;
      const TFixedPoint& p = pts[i];
      if (!closeContours_ && i == 0) {
        const TFixedPoint n0 = scaled(0);
        result->AddPoint(OffsetPoint(p, n0.X, n0.Y));
        continue;
      }
      if (!closeContours_ && i == n - 1) {
        const TFixedPoint nh = scaled(h);
        result->AddPoint(OffsetPoint(p, nh.X, nh.Y));
        continue;
      }
      const TFixedPoint nh = scaled(h), ni = scaled(i);
      const std::int64_t rx = std::int64_t{nh.X} + ni.X, ry = std::int64_t{nh.Y} + ni.Y;
      const std::int64_t q = std::int64_t{MulDivWide(nh.X, rx, delta)} + MulDivWide(nh.Y, ry, delta);
      // Q is the mitre's depth along the previous normal, signed like delta;
      // comparing magnitudes keeps shrinking from mitring its sharpest
      // corners into spikes.
      const bool mitre = delta > 0 ? q > threshold : (q < threshold && q != 0);
      if (mitre) {
        result->AddPoint(OffsetPoint(p, MulDivWide(rx, delta, q), MulDivWide(ry, delta, q)));
      } else {
        result->AddPoint(OffsetPoint(p, nh.X, nh.Y));
        result->AddPoint(OffsetPoint(p, ni.X, ni.Y));
      }
    }
  }
  return result;
}

std::unique_ptr<TPolygon32> TPolygon32::ContourPolygon() {
  ComputeNormals();
  auto result = std::make_unique<TPolygon32>();
  CopySettingsTo(*result);
  result->contours_.clear();
  for (const TArrayOfFixedPoint& pts : contours_) {
    if (pts.size() < 2) continue;
    result->StartLine();
    result->AddPoints(pts.data(), static_cast<std::int64_t>(pts.size()));
    if (closeContours_) result->StartLine();
    const TArrayOfFixedPoint reversed(pts.rbegin(), pts.rend());
    result->AddPoints(reversed.data(), static_cast<std::int64_t>(reversed.size()));
  }
  return result;
}

void TPolygon32::DrawEdges(TBitmap32& bitmap, TColor32 color) const {
  TUpdateScope update(bitmap);
  if (useAntialiasing_)
    DrawPolyPolylineAA(bitmap, contours_, color, closeContours_);
  else
    DrawPolyPolyline(bitmap, contours_, color, closeContours_);
}

void TPolygon32::Fill(TBitmap32& bitmap, TColor32 color) const {
  TUpdateScope update(bitmap);
  if (useAntialiasing_)
    RasterizePolyPolygonAA(bitmap, contours_, color, subsampleMode_, fillRule_, nullptr);
  else
    RasterizePolyPolygon(bitmap, contours_, color, fillRule_, nullptr);
}

void TPolygon32::FillWithCallback(TBitmap32& bitmap, const TFillSpanEvent& callback) const {
  TUpdateScope update(bitmap);
  if (!callback) return;
  if (useAntialiasing_)
    RasterizePolyPolygonAA(bitmap, contours_, 0, subsampleMode_, fillRule_, callback);
  else
    RasterizePolyPolygon(bitmap, contours_, 0, fillRule_, callback);
}

}  // namespace kdl

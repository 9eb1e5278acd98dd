// The drawing primitives of TBitmap32: runs, rectangles, Bresenham and
// anti-aliased lines, the pen and the stipple.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "raster/Bitmap32.h"
#include "raster/LowLevel.h"
#include "raster/Utilities.h"

namespace kdl {

namespace {

using int128 = __int128;

// Runs body, then Changed on b, also when body throws.
template <typename Body>
void ThenChanged(TBitmap32& b, Body body) {
  try {
    body();
  } catch (...) {
    EMMS();
    b.Changed();
    throw;
  }
  EMMS();
  b.Changed();
}

int128 FloorDiv(int128 a, int128 b) {  // b > 0
  int128 q = a / b;
  if (a % b != 0 && a < 0) --q;
  return q;
}

int128 CeilDiv(int128 a, int128 b) {  // b > 0
  int128 q = a / b;
  if (a % b != 0 && a > 0) ++q;
  return q;
}

// Bresenham's line from (x1, y1) to (x2, y2), both ends included, stepping
// along the longer axis (x on a tie); plot receives exactly those pixels of
// the whole line that lie inside clip. Negative directions are mirrored so
// that the error term works on positive deltas.
//
// Step i (0..dMaj) lies at major maj0 + sMaj*i and minor min0 + sMin*m(i),
// m(i) = floor((2*dMin*i + dMaj) / (2*dMaj)): the walk's error starts at
// 2*dMin - dMaj and a step with error >= 0 moves along the minor axis too.
// Both coordinates are monotonic in i, so the pixels inside the clip form
// one range of steps, found without walking the outside.
template <typename Plot>
void Bresenham(std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2,
               const TRect& clip, Plot plot) {
  const std::int64_t dx = x2 - x1, dy = y2 - y1;
  const std::int64_t adx = std::abs(dx), ady = std::abs(dy);
  const bool xMajor = adx >= ady;
  const std::int64_t dMaj = xMajor ? adx : ady, dMin = xMajor ? ady : adx;
  const std::int64_t maj0 = xMajor ? x1 : y1, min0 = xMajor ? y1 : x1;
  const int sMaj = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const int sMin = (xMajor ? dy : dx) < 0 ? -1 : 1;
  const std::int64_t majLo = xMajor ? clip.Left : clip.Top;
  const std::int64_t majHi = static_cast<std::int64_t>(xMajor ? clip.Right : clip.Bottom) - 1;
  const std::int64_t minLo = xMajor ? clip.Top : clip.Left;
  const std::int64_t minHi = static_cast<std::int64_t>(xMajor ? clip.Bottom : clip.Right) - 1;
  if (dMaj == 0 || majLo > majHi || minLo > minHi) return;

  // Steps whose major coordinate is inside.
  int128 iLo = 0, iHi = dMaj;
  if (sMaj > 0) {
    iLo = std::max<int128>(iLo, majLo - maj0);
    iHi = std::min<int128>(iHi, majHi - maj0);
  } else {
    iLo = std::max<int128>(iLo, maj0 - majHi);
    iHi = std::min<int128>(iHi, maj0 - majLo);
  }
  // Steps whose minor offset m(i) lies in [a, b].
  const std::int64_t a = sMin > 0 ? minLo - min0 : min0 - minHi;
  const std::int64_t b = sMin > 0 ? minHi - min0 : min0 - minLo;
  if (dMin == 0) {
    if (a > 0 || b < 0) return;
  } else {
    const int128 twoMaj = static_cast<int128>(2) * dMaj, twoMin = static_cast<int128>(2) * dMin;
    iLo = std::max(iLo, CeilDiv(twoMaj * a - dMaj, twoMin));
    iHi = std::min(iHi, CeilDiv(twoMaj * (static_cast<int128>(b) + 1) - dMaj, twoMin) - 1);
  }
  if (iLo > iHi) return;

  // Enter the walk at step iLo with the error it would have there.
  const std::int64_t i0 = static_cast<std::int64_t>(iLo), i1 = static_cast<std::int64_t>(iHi);
  const std::int64_t m = static_cast<std::int64_t>(
      FloorDiv(static_cast<int128>(2) * dMin * i0 + dMaj, static_cast<int128>(2) * dMaj));
  std::int64_t e = static_cast<std::int64_t>(static_cast<int128>(2) * dMin * (i0 + 1) - dMaj -
                                             static_cast<int128>(2) * dMaj * m);
  std::int64_t maj = maj0 + sMaj * i0, mn = min0 + sMin * m;
  for (std::int64_t i = i0; i <= i1; ++i) {
    if (xMajor)
      plot(static_cast<std::int32_t>(maj), static_cast<std::int32_t>(mn));
    else
      plot(static_cast<std::int32_t>(mn), static_cast<std::int32_t>(maj));
    if (e >= 0) {
      mn += sMin;
      e -= 2 * dMaj;
    }
    e += 2 * dMin;
    maj += sMaj;
  }
}

// The anti-aliased walk of the LineX family on 16.16 coordinates: whole
// steps of one pixel, then one pixel midway to the end whose alpha is the
// remaining fraction. plot takes 24.8 positions; colour gives each pixel's
// colour.
template <typename Plot, typename Colour>
void WalkLineX(std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2, bool l,
               Plot plot, Colour colour) {
  const std::int64_t dx = x2 - x1, dy = y2 - y1;
  const std::int64_t n =
      static_cast<std::int64_t>(std::nearbyint(std::hypot(static_cast<double>(dx), static_cast<double>(dy)))) +
      (l ? 0x10000 : 0);
  if (n < 256) return;
  // Pixel centres sit half a pixel in; +127 rounds the 16.16 to 24.8 shift.
  std::int64_t x = x1 + 127, y = y1 + 127;
  const double h = 65536.0 / static_cast<double>(n);
  const auto stepX = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(dx) * h));
  const auto stepY = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(dy) * h));
  for (std::int64_t i = n >> 16; i > 0; --i) {
    plot(static_cast<std::int32_t>(x >> 8), static_cast<std::int32_t>(y >> 8), colour());
    x += stepX;
    y += stepY;
  }
  const TColor32 c = colour();
  const TColor32 a = static_cast<TColor32>(((c >> 24) * static_cast<std::uint64_t>(n & 0xFFFF)) >> 16);
  plot(static_cast<std::int32_t>((x2 + x - stepX + 127) >> 9),
       static_cast<std::int32_t>((y2 + y - stepY + 127) >> 9), (c & 0x00FFFFFFu) | a << 24);
}

double FixedLength(std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2) {
  return std::hypot(static_cast<double>(x2 - x1), static_cast<double>(y2 - y1)) / 65536.0;
}

std::int32_t ClampToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// The clip rectangle in 16.16, computed in 64 bits and held to what 16.16
// can express, so that wide bitmaps do not wrap their edges.
struct TFixedClip {
  std::int64_t Left, Top, Right, Bottom;
};
TFixedClip FixedClipOf(const TRect& c) {
  return {static_cast<std::int64_t>(c.Left) * 65536, static_cast<std::int64_t>(c.Top) * 65536,
          static_cast<std::int64_t>(c.Right) * 65536, static_cast<std::int64_t>(c.Bottom) * 65536};
}

}  // namespace

// ---- Runs -----------------------------------------------------------------------

void TBitmap32::HorzLine(std::int32_t x1, std::int32_t y, std::int32_t x2, TColor32 value) {
  FillLongword(PixelPtr(x1, y), static_cast<std::int64_t>(x2) - x1 + 1, value);
}

void TBitmap32::HorzLineS(std::int32_t x1, std::int32_t y, std::int32_t x2, TColor32 value) {
  if (y >= clipRect_.Top && y < clipRect_.Bottom && TestClip(x1, x2, clipRect_.Left, clipRect_.Right))
    HorzLine(x1, y, x2, value);
}

void TBitmap32::HorzLineT(std::int32_t x1, std::int32_t y, std::int32_t x2, TColor32 value) {
  if (x2 < x1) return;
  // Both kernel sets store F for alpha 255 and leave B for alpha 0.
  const TColor32 a = value >> 24;
  if (a == 0xFF) {
    HorzLine(x1, y, x2, value);
  } else if (a != 0) {
    const TBlendMem blend = BLEND_MEM[combineMode_];
    TColor32* p = PixelPtr(x1, y);
    for (std::int64_t n = static_cast<std::int64_t>(x2) - x1 + 1; n > 0; --n, ++p) blend(value, *p);
  }
  EMMS();
}

void TBitmap32::HorzLineTS(std::int32_t x1, std::int32_t y, std::int32_t x2, TColor32 value) {
  if (y >= clipRect_.Top && y < clipRect_.Bottom && TestClip(x1, x2, clipRect_.Left, clipRect_.Right))
    HorzLineT(x1, y, x2, value);
}

void TBitmap32::VertLine(std::int32_t x, std::int32_t y1, std::int32_t y2, TColor32 value) {
  const std::int64_t stride = Width();
  TColor32* p = PixelPtr(x, y1);
  std::int64_t n = static_cast<std::int64_t>(y2) - y1 + 1;
  // Four pixels per round.
  for (; n >= 4; n -= 4, p += 4 * stride) {
    p[0] = value;
    p[stride] = value;
    p[2 * stride] = value;
    p[3 * stride] = value;
  }
  for (; n > 0; --n, p += stride) *p = value;
}

void TBitmap32::VertLineS(std::int32_t x, std::int32_t y1, std::int32_t y2, TColor32 value) {
  if (x >= clipRect_.Left && x < clipRect_.Right && TestClip(y1, y2, clipRect_.Top, clipRect_.Bottom))
    VertLine(x, y1, y2, value);
}

void TBitmap32::VertLineT(std::int32_t x, std::int32_t y1, std::int32_t y2, TColor32 value) {
  if (y2 < y1) return;
  const TColor32 a = value >> 24;
  if (a == 0xFF) {
    VertLine(x, y1, y2, value);
  } else if (a != 0) {
    const TBlendMem blend = BLEND_MEM[combineMode_];
    const std::int64_t stride = Width();
    TColor32* p = PixelPtr(x, y1);
    for (std::int64_t n = static_cast<std::int64_t>(y2) - y1 + 1; n > 0; --n, p += stride)
      blend(value, *p);
  }
  EMMS();
}

void TBitmap32::VertLineTS(std::int32_t x, std::int32_t y1, std::int32_t y2, TColor32 value) {
  if (x >= clipRect_.Left && x < clipRect_.Right && TestClip(y1, y2, clipRect_.Top, clipRect_.Bottom))
    VertLineT(x, y1, y2, value);
}

namespace {

// The clipped part of a stippled run from a to b (either order) across
// the half-open lo..hi: pixels skipped before it, its first pixel, the
// pixels drawn and the pixels skipped after it, in drawing order.
struct TStippleSpan {
  std::int64_t Before = 0, First = 0, Count = 0, After = 0;
};
TStippleSpan ClipStippleRun(std::int64_t a, std::int64_t b, std::int64_t lo, std::int64_t hi) {
  TStippleSpan s;
  const std::int64_t total = std::abs(b - a) + 1;
  if (std::max(a, b) < lo || std::min(a, b) >= hi) {
    s.Before = total;
    return s;
  }
  if (b >= a) {
    s.Before = std::max<std::int64_t>(0, lo - a);
    s.After = std::max<std::int64_t>(0, b - (hi - 1));
    s.First = a + s.Before;
  } else {
    s.Before = std::max<std::int64_t>(0, a - (hi - 1));
    s.After = std::max<std::int64_t>(0, lo - b);
    s.First = a - s.Before;
  }
  s.Count = total - s.Before - s.After;
  return s;
}

}  // namespace

void TBitmap32::HorzLineTSP(std::int32_t x1, std::int32_t y, std::int32_t x2) {
  if (Empty()) return;
  if (y < clipRect_.Top || y >= clipRect_.Bottom) {
    AdvanceStippleCounter(static_cast<float>(std::abs(static_cast<std::int64_t>(x2) - x1) + 1));
    return;
  }
  const TStippleSpan s = ClipStippleRun(x1, x2, clipRect_.Left, clipRect_.Right);
  AdvanceStippleCounter(static_cast<float>(s.Before));
  if (s.Count > 0) {
    const TBlendMem blend = BLEND_MEM[combineMode_];
    const std::int64_t step = x2 >= x1 ? 1 : -1;
    TColor32* p = PixelPtr(static_cast<std::int32_t>(s.First), y);
    for (std::int64_t n = s.Count; n > 0; --n, p += step) blend(GetStippleColor(), *p);
    EMMS();
  }
  AdvanceStippleCounter(static_cast<float>(s.After));
}

void TBitmap32::VertLineTSP(std::int32_t x, std::int32_t y1, std::int32_t y2) {
  if (Empty()) return;
  if (x < clipRect_.Left || x >= clipRect_.Right) {
    AdvanceStippleCounter(static_cast<float>(std::abs(static_cast<std::int64_t>(y2) - y1) + 1));
    return;
  }
  const TStippleSpan s = ClipStippleRun(y1, y2, clipRect_.Top, clipRect_.Bottom);
  AdvanceStippleCounter(static_cast<float>(s.Before));
  if (s.Count > 0) {
    const TBlendMem blend = BLEND_MEM[combineMode_];
    const std::int64_t step = (y2 >= y1 ? 1 : -1) * static_cast<std::int64_t>(Width());
    TColor32* p = PixelPtr(x, static_cast<std::int32_t>(s.First));
    for (std::int64_t n = s.Count; n > 0; --n, p += step) blend(GetStippleColor(), *p);
    EMMS();
  }
  AdvanceStippleCounter(static_cast<float>(s.After));
}

// ---- Rectangles -------------------------------------------------------------------

void TBitmap32::FillRect(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                         TColor32 value) {
  const std::int64_t w = static_cast<std::int64_t>(x2) - x1;
  if (w > 0)
    for (std::int32_t y = y1; y < y2; ++y) FillLongword(PixelPtr(x1, y), w, value);
  Changed();
}

namespace {

// The part of (x1, y1, x2, y2) inside clip; false when nothing is.
bool ClipRectangle(std::int32_t& x1, std::int32_t& y1, std::int32_t& x2, std::int32_t& y2,
                   const TRect& clip) {
  if (x1 >= x2 || y1 >= y2) return false;
  x1 = std::max(x1, clip.Left);
  y1 = std::max(y1, clip.Top);
  x2 = std::min(x2, clip.Right);
  y2 = std::min(y2, clip.Bottom);
  return x1 < x2 && y1 < y2;
}

}  // namespace

void TBitmap32::FillRectS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                          TColor32 value) {
  if (ClipRectangle(x1, y1, x2, y2, clipRect_)) FillRect(x1, y1, x2, y2, value);
}

void TBitmap32::FillRectT(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                          TColor32 value) {
  const TColor32 a = value >> 24;
  if (a == 0xFF) {
    FillRect(x1, y1, x2, y2, value);
    return;
  }
  ThenChanged(*this, [&] {
    // Weight 0 leaves every pixel as it is.
    if (a == 0) return;
    const TCombineMem combine = COMBINE_MEM[combineMode_];
    for (std::int32_t y = y1; y < y2; ++y) {
      TColor32* p = PixelPtr(x1, y);
      for (std::int64_t n = static_cast<std::int64_t>(x2) - x1; n > 0; --n, ++p) combine(value, *p, a);
    }
  });
}

void TBitmap32::FillRectTS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                           TColor32 value) {
  if (ClipRectangle(x1, y1, x2, y2, clipRect_)) FillRectT(x1, y1, x2, y2, value);
}

void TBitmap32::FrameRectS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                           TColor32 value) {
  std::int32_t cx1 = x1, cy1 = y1, cx2 = x2, cy2 = y2;
  if (!ClipRectangle(cx1, cy1, cx2, cy2, clipRect_)) return;
  HorzLineS(x1, y1, x2 - 1, value);
  if (y2 - 1 > y1) HorzLineS(x1, y2 - 1, x2 - 1, value);
  // The sides only where rows lie between top and bottom: a side run
  // swapped by the clip test would cover the corners twice.
  if (y2 - 2 >= y1 + 1) {
    VertLineS(x1, y1 + 1, y2 - 2, value);
    if (x2 - 1 > x1) VertLineS(x2 - 1, y1 + 1, y2 - 2, value);
  }
  Changed();
}

void TBitmap32::FrameRectTS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                            TColor32 value) {
  std::int32_t cx1 = x1, cy1 = y1, cx2 = x2, cy2 = y2;
  if (!ClipRectangle(cx1, cy1, cx2, cy2, clipRect_)) return;
  ThenChanged(*this, [&] {
    HorzLineTS(x1, y1, x2 - 1, value);
    if (y2 - 1 > y1) HorzLineTS(x1, y2 - 1, x2 - 1, value);
    if (y2 - 2 >= y1 + 1) {
      VertLineTS(x1, y1 + 1, y2 - 2, value);
      if (x2 - 1 > x1) VertLineTS(x2 - 1, y1 + 1, y2 - 2, value);
    }
  });
}

void TBitmap32::FrameRectTSP(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  if (x1 >= x2 || y1 >= y2 || x1 >= Width() || y1 >= Height() || x2 <= 0 || y2 <= 0) return;
  ThenChanged(*this, [&] {
    const std::int64_t w = static_cast<std::int64_t>(x2) - x1, h = static_cast<std::int64_t>(y2) - y1;
    if (w == 1 && h == 1) {
      HorzLineTSP(x1, y1, x1);
    } else if (w == 1) {
      VertLineTSP(x1, y1, y2 - 1);
    } else if (h == 1) {
      HorzLineTSP(x1, y1, x2 - 1);
    } else {
      // Clockwise from the top-left corner, each corner drawn once.
      HorzLineTSP(x1, y1, x2 - 2);
      VertLineTSP(x2 - 1, y1, y2 - 2);
      HorzLineTSP(x2 - 1, y2 - 1, x1 + 1);
      VertLineTSP(x1, y2 - 1, y1 + 1);
    }
  });
}

// ---- Bresenham lines ------------------------------------------------------------------

namespace {

// LineS and LineTS: straight runs stop short of the end point, which only
// L adds; other lines lose the longer axis's last step without L.
template <typename Horz, typename Vert, typename Plot>
void WalkLineS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, bool l,
               const TRect& clip, Horz horz, Vert vert, Plot plot) {
  if (x1 == x2 || y1 == y2) {
    if (x2 > x1)
      horz(x1, y1, x2 - 1);
    else if (x2 < x1)
      horz(x2 + 1, y1, x1);
    else if (y2 > y1)
      vert(x1, y1, y2 - 1);
    else if (y2 < y1)
      vert(x1, y2 + 1, y1);
    if (l && x2 >= clip.Left && x2 < clip.Right && y2 >= clip.Top && y2 < clip.Bottom) plot(x2, y2);
    return;
  }
  std::int64_t ex = x2, ey = y2;
  if (!l) {
    const std::int64_t dx = ex - x1, dy = ey - y1;
    if (std::abs(dx) > std::abs(dy))
      ex -= dx > 0 ? 1 : -1;
    else
      ey -= dy > 0 ? 1 : -1;
    if (ex == x1 || ey == y1) return;
  }
  Bresenham(x1, y1, ex, ey, clip, plot);
}

}  // namespace

void TBitmap32::LineS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                      TColor32 value, bool l) {
  ThenChanged(*this, [&] {
    WalkLineS(
        x1, y1, x2, y2, l, clipRect_,
        [this, value](std::int32_t a, std::int32_t y, std::int32_t b) { HorzLineS(a, y, b, value); },
        [this, value](std::int32_t x, std::int32_t a, std::int32_t b) { VertLineS(x, a, b, value); },
        [this, value](std::int32_t x, std::int32_t y) { SetPixel(x, y, value); });
  });
}

void TBitmap32::LineTS(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                       TColor32 value, bool l) {
  ThenChanged(*this, [&] {
    const TBlendMem blend = BLEND_MEM[combineMode_];
    WalkLineS(
        x1, y1, x2, y2, l, clipRect_,
        [this, value](std::int32_t a, std::int32_t y, std::int32_t b) { HorzLineTS(a, y, b, value); },
        [this, value](std::int32_t x, std::int32_t a, std::int32_t b) { VertLineTS(x, a, b, value); },
        [this, value, blend](std::int32_t x, std::int32_t y) { blend(value, *PixelPtr(x, y)); });
  });
}

// ---- Anti-aliased lines ---------------------------------------------------------------

void TBitmap32::LineX(TFixed x1, TFixed y1, TFixed x2, TFixed y2, TColor32 value, bool l) {
  ThenChanged(*this, [&] {
    WalkLineX(
        x1, y1, x2, y2, l, [this](std::int32_t x, std::int32_t y, TColor32 c) { SetPixelT256(x, y, c); },
        [value] { return value; });
  });
}

void TBitmap32::LineXP(TFixed x1, TFixed y1, TFixed x2, TFixed y2, bool l) {
  ThenChanged(*this, [&] {
    WalkLineX(
        x1, y1, x2, y2, l, [this](std::int32_t x, std::int32_t y, TColor32 c) { SetPixelT256(x, y, c); },
        [this] { return GetStippleColor(); });
  });
}

namespace {

// The LineXS family after clipping: unchecked pixels when both ends keep a
// pixel from the clip's left and top edges and two from its right and
// bottom edges, else every pixel checked. The left and top margin matters:
// the last pixel of a line shorter than a pixel lands up to a pixel before
// its start.
template <typename Colour>
void DrawClippedX(TBitmap32& b, const TFixedClip& f, std::int32_t x1, std::int32_t y1,
                  std::int32_t x2, std::int32_t y2, bool l, Colour colour) {
  auto between = [](std::int64_t v, std::int64_t lo, std::int64_t hi) { return v > lo && v < hi; };
  const std::int64_t left = f.Left + 0x10000, top = f.Top + 0x10000;
  const bool inner = between(x1, left, f.Right - 0x20000) && between(x2, left, f.Right - 0x20000) &&
                     between(y1, top, f.Bottom - 0x20000) && between(y2, top, f.Bottom - 0x20000);
  if (inner)
    WalkLineX(
        x1, y1, x2, y2, l, [&b](std::int32_t x, std::int32_t y, TColor32 c) { b.SetPixelT256(x, y, c); },
        colour);
  else
    WalkLineX(
        x1, y1, x2, y2, l, [&b](std::int32_t x, std::int32_t y, TColor32 c) { b.SetPixelTS256(x, y, c); },
        colour);
}

}  // namespace

void TBitmap32::LineXS(TFixed x1, TFixed y1, TFixed x2, TFixed y2, TColor32 value, bool l) {
  ThenChanged(*this, [&] {
    const TFixedClip f = FixedClipOf(clipRect_);
    std::int32_t cx1 = x1, cy1 = y1, cx2 = x2, cy2 = y2;
    if (!ClipLine(cx1, cy1, cx2, cy2, ClampToInt32(f.Left - 0x10000), ClampToInt32(f.Top - 0x10000),
                  ClampToInt32(f.Right), ClampToInt32(f.Bottom)))
      return;
    // A cut end gets its last pixel: the line goes on beyond it.
    if (cx2 != x2 || cy2 != y2) l = true;
    DrawClippedX(*this, f, cx1, cy1, cx2, cy2, l, [value] { return value; });
  });
}

void TBitmap32::LineXSP(TFixed x1, TFixed y1, TFixed x2, TFixed y2, bool l) {
  ThenChanged(*this, [&] {
    const TFixedClip f = FixedClipOf(clipRect_);
    std::int32_t cx1 = x1, cy1 = y1, cx2 = x2, cy2 = y2;
    // The pattern runs on over what the clip removes, so that it stays in
    // step with the parts drawn.
    if (!ClipLine(cx1, cy1, cx2, cy2, ClampToInt32(f.Left - 0x10000), ClampToInt32(f.Top - 0x10000),
                  ClampToInt32(f.Right), ClampToInt32(f.Bottom))) {
      AdvanceStippleCounter(static_cast<float>(FixedLength(x1, y1, x2, y2) - (l ? 1 : 0)));
      return;
    }
    if (cx1 != x1 || cy1 != y1) AdvanceStippleCounter(static_cast<float>(FixedLength(x1, y1, cx1, cy1)));
    const bool endCut = cx2 != x2 || cy2 != y2;
    if (endCut) l = true;
    DrawClippedX(*this, f, cx1, cy1, cx2, cy2, l, [this] { return GetStippleColor(); });
    // The extra last pixel of a cut end already covered one pixel of it.
    if (endCut) AdvanceStippleCounter(static_cast<float>(FixedLength(cx2, cy2, x2, y2) - 1));
  });
}

// ---- The pen ------------------------------------------------------------------------

void TBitmap32::MoveTo(std::int32_t x, std::int32_t y) { SetRaster(x, y); }

void TBitmap32::LineToS(std::int32_t x, std::int32_t y) {
  LineS(rasterX_, rasterY_, x, y, penColor_, false);
  SetRaster(x, y);
}

void TBitmap32::LineToTS(std::int32_t x, std::int32_t y) {
  LineTS(rasterX_, rasterY_, x, y, penColor_, false);
  SetRaster(x, y);
}

void TBitmap32::MoveToX(TFixed x, TFixed y) { SetRasterF(x, y); }

void TBitmap32::LineToXS(TFixed x, TFixed y) {
  LineXS(rasterXF_, rasterYF_, x, y, penColor_, false);
  SetRasterF(x, y);
}

void TBitmap32::LineToXSP(TFixed x, TFixed y) {
  LineXSP(rasterXF_, rasterYF_, x, y, false);
  SetRasterF(x, y);
}

// ---- Stipple ----------------------------------------------------------------------------

void TBitmap32::SetStipple(const TArrayOfColor32& pattern) {
  stippleCounter_ = 0;
  stipplePattern_ = pattern;
}

void TBitmap32::SetStippleArray(std::initializer_list<TColor32> pattern) {
  stippleCounter_ = 0;
  stipplePattern_.assign(pattern.begin(), pattern.end());
}

namespace {

// counter reduced into [0, n); anything not finite restarts at 0.
double Wrap(double counter, double n) {
  if (!std::isfinite(counter)) return 0;
  counter -= n * std::floor(counter / n);
  return counter >= 0 && counter < n ? counter : 0;
}

}  // namespace

void TBitmap32::AdvanceStippleCounter(float length) {
  if (stipplePattern_.empty()) return;
  const double delta = static_cast<double>(length) * stippleStep_;
  if (delta == 0) return;
  const double n = static_cast<double>(stipplePattern_.size());
  float c = static_cast<float>(Wrap(stippleCounter_ + delta, n));
  // Single precision may round a value just below n up to n.
  if (c >= n) c = 0;
  stippleCounter_ = c;
}

TColor32 TBitmap32::GetStippleColor() {
  if (stipplePattern_.empty()) return 0xFF000000u;
  const std::size_t n = stipplePattern_.size();
  const double c = Wrap(stippleCounter_, static_cast<double>(n));
  const auto i = std::min(static_cast<std::size_t>(std::nearbyint(c - 0.5)), n - 1);
  const auto f = static_cast<TColor32>(std::nearbyint((c - static_cast<double>(i)) * 255));
  TColor32 result = stipplePattern_[i];
  if (f != 0) {
    result = COMBINE_REG[combineMode_](stipplePattern_[i], stipplePattern_[(i + 1) % n], 255 - f);
    EMMS();
  }
  stippleCounter_ = static_cast<float>(c + stippleStep_);
  return result;
}

}  // namespace kdl

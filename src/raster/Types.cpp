#include "raster/Types.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace kdl {
namespace {

// Rounds half to even and saturates, so that a huge float never turns into
// an undefined conversion.
std::int32_t RoundToInt(double v) {
  v = std::nearbyint(v);
  if (!(v > static_cast<double>(std::numeric_limits<std::int32_t>::min())))
    return std::numeric_limits<std::int32_t>::min();
  if (v >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v);
}

std::int32_t ClampToInt(double v) {
  if (!(v > static_cast<double>(std::numeric_limits<std::int32_t>::min())))
    return std::numeric_limits<std::int32_t>::min();
  if (v >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v);
}

}  // namespace

TColor32 Color32(TColor color) {
  if (color < 0) color = GetSysColor(color & 0xFF);
  const auto c = static_cast<std::uint32_t>(color);
  return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

TColor32 Color32(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  return (TColor32{a} << 24) | (TColor32{r} << 16) | (TColor32{g} << 8) | b;
}

TColor WinColor(TColor32 color32) {
  return static_cast<TColor>(((color32 >> 16) & 0xFFu) | (color32 & 0xFF00u) |
                             ((color32 & 0xFFu) << 16));
}

TColor32 Gray32(std::uint8_t intensity, std::uint8_t alpha) {
  return (TColor32{alpha} << 24) | (TColor32{intensity} * 0x010101u);
}

std::int32_t Intensity(TColor32 c) {
  return static_cast<std::int32_t>(
      (RedComponent(c) * 61u + GreenComponent(c) * 174u + BlueComponent(c) * 21u) >> 8);
}

TColor32 SetAlpha(TColor32 c, std::int32_t newAlpha) {
  newAlpha = std::clamp(newAlpha, 0, 255);
  return (c & 0x00FFFFFFu) | (static_cast<TColor32>(newAlpha) << 24);
}

TFixed Fixed(float s) { return RoundToInt(static_cast<double>(s) * 65536.0); }

TPoint Point(std::int32_t x, std::int32_t y) { return TPoint{x, y}; }
TFloatPoint FloatPoint(float x, float y) { return TFloatPoint{x, y}; }
TFixedPoint FixedPoint(float x, float y) { return TFixedPoint{Fixed(x), Fixed(y)}; }
TFixedPoint FixedPoint(const TFloatPoint& p) { return FixedPoint(p.X, p.Y); }
TPoint RoundPoint(const TFloatPoint& p) { return TPoint{RoundToInt(p.X), RoundToInt(p.Y)}; }
TRect Rect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
  return TRect{l, t, r, b};
}
TFloatRect FloatRect(float l, float t, float r, float b) { return TFloatRect{l, t, r, b}; }
TFloatRect RectToFloatRect(const TRect& r) {
  return TFloatRect{static_cast<float>(r.Left), static_cast<float>(r.Top),
                    static_cast<float>(r.Right), static_cast<float>(r.Bottom)};
}

TRect FixedRect(const TRect& r) {
  // Shifting through unsigned keeps the wrap of edges beyond 16 bits defined.
  auto shl = [](std::int32_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << 16);
  };
  return TRect{shl(r.Left), shl(r.Top), shl(r.Right), shl(r.Bottom)};
}

TRect MakeRect(const TFloatRect& r, TRectRounding rounding) {
  TRect out;
  switch (rounding) {
    case rrClosest:
      out = TRect{RoundToInt(r.Left), RoundToInt(r.Top), RoundToInt(r.Right),
                  RoundToInt(r.Bottom)};
      break;
    case rrOutside:
      out = TRect{ClampToInt(std::floor(r.Left)), ClampToInt(std::floor(r.Top)),
                  ClampToInt(std::ceil(r.Right)), ClampToInt(std::ceil(r.Bottom))};
      break;
    case rrCeiling:
      out = TRect{ClampToInt(std::ceil(r.Left)), ClampToInt(std::ceil(r.Top)),
                  ClampToInt(std::ceil(r.Right)), ClampToInt(std::ceil(r.Bottom))};
      if (out.Right < out.Left) out.Right = out.Left;
      if (out.Bottom < out.Top) out.Bottom = out.Top;
      break;
  }
  return out;
}

bool IntersectRect(TRect& dst, const TRect& r1, const TRect& r2) {
  // Computed into a temporary: dst may be one of the operands.
  const TRect r{std::max(r1.Left, r2.Left), std::max(r1.Top, r2.Top),
                std::min(r1.Right, r2.Right), std::min(r1.Bottom, r2.Bottom)};
  if (r.Right >= r.Left && r.Bottom >= r.Top) {
    dst = r;
    return true;
  }
  dst = TRect{};
  return false;
}

bool IntersectRectF(TFloatRect& dst, const TFloatRect& r1, const TFloatRect& r2) {
  const TFloatRect r{std::max(r1.Left, r2.Left), std::max(r1.Top, r2.Top),
                     std::min(r1.Right, r2.Right), std::min(r1.Bottom, r2.Bottom)};
  if (r.Right >= r.Left && r.Bottom >= r.Top) {
    dst = r;
    return true;
  }
  dst = TFloatRect{};
  return false;
}

bool EqualRect(const TRect& r1, const TRect& r2) {
  return r1.Left == r2.Left && r1.Top == r2.Top && r1.Right == r2.Right &&
         r1.Bottom == r2.Bottom;
}

void InflateRect(TRect& r, std::int32_t dx, std::int32_t dy) {
  r.Left -= dx;
  r.Top -= dy;
  r.Right += dx;
  r.Bottom += dy;
}

void InflateRectF(TFloatRect& r, float dx, float dy) {
  r.Left -= dx;
  r.Top -= dy;
  r.Right += dx;
  r.Bottom += dy;
}

void OffsetRect(TRect& r, std::int32_t dx, std::int32_t dy) {
  r.Left += dx;
  r.Right += dx;
  r.Top += dy;
  r.Bottom += dy;
}

void OffsetRectF(TFloatRect& r, float dx, float dy) {
  r.Left += dx;
  r.Right += dx;
  r.Top += dy;
  r.Bottom += dy;
}

bool IsRectEmpty(const TRect& r) { return !(r.Left < r.Right && r.Top < r.Bottom); }
bool IsRectEmptyF(const TFloatRect& r) { return !(r.Right > r.Left && r.Bottom > r.Top); }
bool PtInRect(const TRect& r, const TPoint& p) {
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

}  // namespace kdl

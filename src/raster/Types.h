// The vocabulary of the raster library: 32-bit colours, 16.16 fixed point,
// integer and float points and half-open rectangles, and their routines.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/SystemColors.h"

namespace kdl {

// Straight (not premultiplied) ARGB: alpha in bits 24-31, then red, green,
// blue; in memory the bytes B, G, R, A. Alpha 255 is opaque.
using TColor32 = std::uint32_t;
// A GUI colour: 0x00BBGGRR; negative values name system colours.
using TColor = std::int32_t;

using TArrayOfColor32 = std::vector<TColor32>;
using TArrayOfByte = std::vector<std::uint8_t>;
using TArrayOfInteger = std::vector<std::int32_t>;
using TArrayOfArrayOfInteger = std::vector<TArrayOfInteger>;

// Signed 16.16 fixed point (1.0 = 0x10000).
using TFixed = std::int32_t;
inline constexpr TFixed FixedOne = 0x10000;
inline constexpr TFixed FixedHalf = 0x8000;

struct TFixedPoint {
  TFixed X = 0;
  TFixed Y = 0;
  friend bool operator==(const TFixedPoint&, const TFixedPoint&) = default;
};

struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Half-open: (X, Y) is inside when Left <= X < Right and Top <= Y < Bottom.
struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
};

struct TFloatPoint {
  float X = 0;
  float Y = 0;
  friend bool operator==(const TFloatPoint&, const TFloatPoint&) = default;
};

struct TFloatRect {
  float Left = 0;
  float Top = 0;
  float Right = 0;
  float Bottom = 0;
};

using TArrayOfPoint = std::vector<TPoint>;
using TArrayOfArrayOfPoint = std::vector<TArrayOfPoint>;
using TArrayOfFixedPoint = std::vector<TFixedPoint>;
using TArrayOfArrayOfFixedPoint = std::vector<TArrayOfFixedPoint>;
using TArrayOfFloatPoint = std::vector<TFloatPoint>;

enum TRectRounding : std::uint8_t { rrClosest = 0, rrOutside = 1, rrCeiling = 2 };

// ---- Colour routines ----------------------------------------------------------

// System colour indexes (the low byte of a negative TColor).
inline constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);

TColor32 Color32(TColor color);
TColor32 Color32(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 0xFF);
// The GUI colour (0x00BBGGRR) of a TColor32's colour bits.
TColor WinColor(TColor32 color32);
TColor32 Gray32(std::uint8_t intensity, std::uint8_t alpha = 0xFF);
inline std::uint8_t AlphaComponent(TColor32 c) { return static_cast<std::uint8_t>(c >> 24); }
inline std::uint8_t RedComponent(TColor32 c) { return static_cast<std::uint8_t>(c >> 16); }
inline std::uint8_t GreenComponent(TColor32 c) { return static_cast<std::uint8_t>(c >> 8); }
inline std::uint8_t BlueComponent(TColor32 c) { return static_cast<std::uint8_t>(c); }
std::int32_t Intensity(TColor32 c);
TColor32 SetAlpha(TColor32 c, std::int32_t newAlpha);

// ---- Fixed point and geometry -----------------------------------------------

TFixed Fixed(float s);
inline std::int32_t FixedRound(TFixed a) {
  return static_cast<std::int32_t>((static_cast<std::int64_t>(a) + 0x7FFF) >> 16);
}
inline std::int32_t FixedFloor(TFixed a) { return a >> 16; }
inline float FixedToFloat(TFixed a) { return static_cast<float>(a) / 65536.0f; }

TPoint Point(std::int32_t x, std::int32_t y);
TFloatPoint FloatPoint(float x, float y);
TFixedPoint FixedPoint(float x, float y);
TFixedPoint FixedPoint(const TFloatPoint& p);
TPoint RoundPoint(const TFloatPoint& p);
TRect Rect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b);
TFloatRect FloatRect(float l, float t, float r, float b);
TFloatRect RectToFloatRect(const TRect& r);
TRect FixedRect(const TRect& r);
TRect MakeRect(const TFloatRect& r, TRectRounding rounding = rrClosest);

bool IntersectRect(TRect& dst, const TRect& r1, const TRect& r2);
bool IntersectRectF(TFloatRect& dst, const TFloatRect& r1, const TFloatRect& r2);
bool EqualRect(const TRect& r1, const TRect& r2);
void InflateRect(TRect& r, std::int32_t dx, std::int32_t dy);
void InflateRectF(TFloatRect& r, float dx, float dy);
void OffsetRect(TRect& r, std::int32_t dx, std::int32_t dy);
void OffsetRectF(TFloatRect& r, float dx, float dy);
bool IsRectEmpty(const TRect& r);
bool IsRectEmptyF(const TFloatRect& r);
bool PtInRect(const TRect& r, const TPoint& p);

// The bounding box of every point of some contours (integer or float
// points, TRect or TFloatRect); empty contours give the default rectangle.
template <class Rect, class Contours>
Rect ContoursBounds(const Contours& contours) {
  Rect r{};
  bool first = true;
  for (const auto& contour : contours)
    for (const auto& p : contour) {
      if (first) {
        r = {p.X, p.Y, p.X, p.Y};
        first = false;
        continue;
      }
      if (p.X < r.Left) r.Left = p.X;
      if (p.Y < r.Top) r.Top = p.Y;
      if (p.X > r.Right) r.Right = p.X;
      if (p.Y > r.Bottom) r.Bottom = p.Y;
    }
  return r;
}

}  // namespace kdl

// Feeds point lists decoded from the input (huge, tiny, degenerate and
// non-finite coordinates) to every fill, outline and offset routine of the
// polygon rasteriser; the bitmap's pixels are bounded by the sanitiser and
// every callback span is checked against the bitmap.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "raster/Bitmap32.h"
#include "raster/PolygonRasterizer.h"

namespace {

struct TReader {
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Pos = 0;
  bool More() const { return Pos < Size; }
  std::uint8_t Byte() { return Pos < Size ? Data[Pos++] : 0; }
  std::uint32_t Word() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return v;
  }
};

// One coordinate in one of four forms: raw 16.16, a small pixel position,
// a float (which may be infinite or not a number) or an extreme.
kdl::TFixed Coordinate(TReader& r) {
  switch (r.Byte() & 3) {
    case 0:
      return static_cast<kdl::TFixed>(r.Word());
    case 1:
      return static_cast<kdl::TFixed>(static_cast<std::int16_t>(r.Word() & 0xFFFF)) * 256;
    case 2: {
      const std::uint32_t bits = r.Word();
      float f;
      std::memcpy(&f, &bits, 4);
      return kdl::Fixed(f);
    }
    default:
      return (r.Byte() & 1) ? INT32_MAX : INT32_MIN;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TReader r{data, size};
  kdl::TBitmap32 b;
  const std::int32_t w = r.Byte() % 64, h = r.Byte() % 64;
  b.SetSize(w, h);
  const auto mode = static_cast<kdl::TSubsampleMode>(r.Byte() % 3);
  const auto rule = static_cast<kdl::TPolygonFillRule>(r.Byte() & 1);
  const kdl::TColor32 color = r.Word();

  kdl::TArrayOfArrayOfFixedPoint contours;
  const int contourCount = r.Byte() % 5;
  for (int c = 0; c < contourCount && r.More(); ++c) {
    contours.emplace_back();
    const int n = r.Byte() % 24;
    for (int i = 0; i < n && r.More(); ++i) {
      const kdl::TFixed x = Coordinate(r);
      contours.back().push_back({x, Coordinate(r)});
    }
  }

  auto check = [&](kdl::TColor32* dst, std::int32_t x, std::int32_t y, std::int32_t len, const std::int32_t* v) {
    if (x < 0 || y < 0 || y >= h || len < 0 || x + len > w || dst != b.PixelPtr(x, y)) std::abort();
    if (v)
      for (std::int32_t i = 0; i < len; ++i)
        if (v[i] < 0 || v[i] > 255) std::abort();
  };
  kdl::FillPolyPolygon(b, contours, color, rule);
  kdl::FillPolyPolygonAA(b, contours, color, mode, rule);
  kdl::FillPolyPolygonCallback(b, contours, rule, check);
  kdl::FillPolyPolygonAACallback(b, contours, rule, mode, check);
  kdl::DrawPolyPolyline(b, contours, color, rule == kdl::frAlternate);
  kdl::DrawPolyPolylineAA(b, contours, color, rule == kdl::frAlternate);

  kdl::TPolygon32 p;
  p.SetCloseContours(rule == kdl::frAlternate);
  for (const auto& c : contours) {
    p.StartLine();
    p.AddPoints(c.data(), static_cast<std::int64_t>(c.size()));
  }
  const auto outline = p.ContourPolygon();
  const auto grown = outline->Offset(static_cast<kdl::TFixed>(color & 0xFFFFF), 0.5f);
  grown->SetUseAntialiasing(true);
  grown->Fill(b, color);
  grown->DrawEdges(b, color);
  return 0;
}

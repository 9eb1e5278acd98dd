// What the view and print benchmarks draw on both sides: an 800 x 1130
// background image (a smooth two-axis gradient with a pattern, so that no
// band is uniform) and the same pixels as a cairo surface for the peer.
#pragma once

#include <cstdint>
#include <vector>

#include "raster/Bitmap32.h"

#if KDL_HAVE_CAIRO
#include <cairo.h>
#endif

namespace kdl::bench {

inline constexpr std::int32_t kImageW = 800, kImageH = 1130;

inline std::uint32_t ImagePixel(std::int32_t x, std::int32_t y) {
  const auto r = static_cast<std::uint32_t>(x * 255 / kImageW);
  const auto g = static_cast<std::uint32_t>(y * 255 / kImageH);
  const std::uint32_t b = ((x / 40 + y / 40) & 1) ? 0xE0 : 0x60;
  return 0xFF000000u | r << 16 | g << 8 | b;
}

inline void BackgroundImage(TBitmap32& image) {
  image.SetSize(kImageW, kImageH);
  for (std::int32_t y = 0; y < kImageH; ++y)
    for (std::int32_t x = 0; x < kImageW; ++x) image.SetPixel(x, y, ImagePixel(x, y));
}

#if KDL_HAVE_CAIRO
// The background image as a cairo surface over pixels it owns.
class CairoBackground {
 public:
  CairoBackground() : pixels_(static_cast<std::size_t>(kImageW) * kImageH) {
    for (std::int32_t y = 0; y < kImageH; ++y)
      for (std::int32_t x = 0; x < kImageW; ++x)
        pixels_[static_cast<std::size_t>(y) * kImageW + static_cast<std::size_t>(x)] =
            ImagePixel(x, y);
    surface_ = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels_.data()),
                                                   CAIRO_FORMAT_RGB24, kImageW, kImageH, kImageW * 4);
  }
  ~CairoBackground() { cairo_surface_destroy(surface_); }
  CairoBackground(const CairoBackground&) = delete;
  CairoBackground& operator=(const CairoBackground&) = delete;

  // Paints the image stretched over w x h of the current user space.
  void Paint(cairo_t* cr, double w, double h) const {
    cairo_save(cr);
    cairo_scale(cr, w / kImageW, h / kImageH);
    cairo_set_source_surface(cr, surface_, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
    cairo_paint(cr);
    cairo_restore(cr);
  }

 private:
  std::vector<std::uint32_t> pixels_;
  cairo_surface_t* surface_;
};
#endif

}  // namespace kdl::bench

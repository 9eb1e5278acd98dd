// What one paint of a shape tree carries down the tree, and the routines
// around the render caches.
#pragma once

#include <cstdint>

#include "raster/Bitmap32.h"
#include "raster/Types.h"

namespace kdl {

// Overlays are drawn only for the screen.
enum TDeviceType : std::uint8_t { dtScreen = 0, dtPrinter = 1, dtTransparent = 2 };

// What content drawn into its new, zeroed cache tells of the pixels it
// left. Outside Written they were never written and read zero, where a
// bitmap cleared first would hold Rest: both transparent, but a read that
// mixes colours must see Rest, so the cache is exact for reads that mix
// only pixels within Margin of Ink.
struct TdtpInkReport {
  // Outside it every pixel's alpha is zero.
  TRect Ink;
  TRect Written;
  TColor32 Rest = 0;
  std::int32_t Margin = 0;
};

struct TdtpPaintInfo {
  TDeviceType Device = dtScreen;
  // A new cache is cleared to it; also the cache's outer colour.
  TColor32 BackColor = 0;
  // Pixels per mm of the target being drawn (a cache's own while drawing
  // into it).
  float Scale = 1;
  // Pixels per mm wanted for caches.
  float RenderScale = 1;
  TStretchFilter StretchFilter = sfLinear;
  // Free each cache once it has been drawn.
  bool FreeCache = false;
  // Re-render a cache whose scale is above RenderScale too.
  bool ExactScale = false;
  // A band of a taller picture: the target holds rows BandTop onwards of a
  // picture PictureHeight rows high. Every shape is placed as in the whole
  // picture and moved up by whole rows, so that a band's pixels are the
  // whole picture's. 0 draws the target as the whole picture.
  std::int32_t PictureHeight = 0;
  std::int32_t BandTop = 0;
  // For a shape's own content drawn into its new cache: the target reads as
  // transparent black without having been written, so content that would
  // clear it first need not, and touches only the pages it draws on.
  bool TargetZeroed = false;
  // Where set, content that knows where it draws narrows the report, which
  // starts as the whole target written; content that does not leaves it.
  TdtpInkReport* Ink = nullptr;
};

// The most pixels one render cache may have. A larger request is rendered
// at a lower scale: a metre-wide shape at 600 dpi would need hundreds of
// megapixels.
inline constexpr std::int64_t kRenderCacheMaxPixels = std::int64_t{64} << 20;

// The platform cursor shown while a cache is rendered.
inline constexpr std::int32_t kAppStartCursor = -19;

// After drawing through a device that writes alpha 0: every pixel with
// alpha 0 becomes opaque with its colour kept, every other one becomes
// color.
void RestoreGdiAlpha(TBitmap32& bitmap, TColor32 color);

}  // namespace kdl

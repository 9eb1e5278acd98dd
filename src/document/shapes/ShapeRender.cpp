// How a shape tree draws itself: straight into the target through the paint
// transform, or, when turned, translucent, mirrored, flipped or carrying an
// effect, upright into its own cache first and from there through the map
// sampler into the target.
#include <algorithm>
#include <cmath>
#include <limits>

#include "document/shapes/DocumentServices.h"
#include "document/shapes/Rendering.h"
#include "document/shapes/Shape.h"
#include "raster/MapSampler.h"
#include "raster/UninitializedSize.h"
#include "raster/Utilities.h"

namespace kdl {

namespace {

// Pixels of a cache at Scale: local (0, 0) lies at the corner of pixel
// (LeftPx, TopPx).
struct TCacheLayout {
  double Scale = 0;
  double LeftPx = 0;
  double TopPx = 0;
  double RightPx = 0;
  double BottomPx = 0;
  std::int32_t Width() const { return static_cast<std::int32_t>(LeftPx + RightPx); }
  std::int32_t Height() const { return static_cast<std::int32_t>(TopPx + BottomPx); }
};

bool Finite(float v) { return std::isfinite(v); }

// The layout for scale, lowered until the cache fits kRenderCacheMaxPixels.
// Every side keeps at least one pixel of border: the sampler reads its
// source's outermost pixels as the outer colour. False when the frame or
// the scale gives nothing to draw.
bool ComputeLayout(double width, double height, double left, double top, double right,
                   double bottom, double scale, TCacheLayout& out) {
  if (!(std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0)) return false;
  if (!(std::isfinite(left) && std::isfinite(top) && std::isfinite(right) && std::isfinite(bottom)))
    return false;
  if (!(std::isfinite(scale) && scale > 0)) return false;
  constexpr double kCap = static_cast<double>(kRenderCacheMaxPixels);
  for (int attempt = 0; attempt < 64; ++attempt) {
    TCacheLayout l;
    l.Scale = scale;
    l.LeftPx = std::max(std::ceil(left * scale), 1.0);
    l.TopPx = std::max(std::ceil(top * scale), 1.0);
    l.RightPx = std::max(std::ceil((width + right) * scale), std::ceil(width * scale) + 1);
    l.BottomPx = std::max(std::ceil((height + bottom) * scale), std::ceil(height * scale) + 1);
    const double w = l.LeftPx + l.RightPx, h = l.TopPx + l.BottomPx;
    const double pixels = w * h;
    if (std::isfinite(pixels) && pixels <= kCap) {
      out = l;
      return true;
    }
    // Area goes with the square of the scale; the factor below 1 makes up
    // for the borders and the rounding up.
    const double factor = std::isfinite(pixels) ? std::sqrt(kCap / pixels) * 0.999 : 1e-3;
    scale *= std::min(factor, 0.99);
    if (!(scale > 0)) return false;
  }
  return false;
}

bool IsUsableView(const TFloatRect& r) {
  return Finite(r.Left) && Finite(r.Top) && Finite(r.Right) && Finite(r.Bottom) &&
         r.Right > r.Left && r.Bottom > r.Top;
}

// Rows of the picture a paint maps into: the target's, or those of the
// picture a band belongs to.
double PictureHeight(const TBitmap32& target, const TdtpPaintInfo& info) {
  return info.PictureHeight > 0 ? info.PictureHeight : target.Height();
}

bool Intersect(const TFloatRect& a, const TFloatRect& b) {
  return a.Left <= b.Right && b.Left <= a.Right && a.Top <= b.Bottom && b.Top <= a.Bottom;
}

}  // namespace

void RestoreGdiAlpha(TBitmap32& bitmap, TColor32 color) {
  TColor32* p = bitmap.Bits();
  const std::int64_t n = std::int64_t{bitmap.Width()} * bitmap.Height();
  for (std::int64_t i = 0; i < n; ++i) p[i] = p[i] < 0x01000000u ? p[i] | 0xFF000000u : color;
}

void TdtpShape::Paint(TBitmap32& target, const TFloatRect& viewRect, bool localOnly,
                      const TdtpPaintInfo& info) {
  // An empty view or target would make a singular transform.
  if (target.Empty() || !IsUsableView(viewRect)) return;

  // 1-2. Shapes whose bounds miss the view cost nothing.
  const TFloatRect r = localOnly ? TFloatRect{-marginLeft_, -marginTop_, docWidth_ + marginRight_,
                                              docHeight_ + marginBottom_}
                                 : GetDocBounds(true);
  if (!Intersect(r, viewRect)) return;

  // 3. Cached path.
  if (NeedsCache()) {
    PaintCached(target, viewRect, localOnly, info);
    return;
  }

  // 4. Direct path; the shape is upright here.
  ClearCache();
  TFloatRect local = viewRect;
  if (!localOnly) {
    const TFloatPoint tl = ParentToLocal({viewRect.Left, viewRect.Top});
    const TFloatPoint br = ParentToLocal({viewRect.Right, viewRect.Bottom});
    local = {tl.X, tl.Y, br.X, br.Y};
  }
  RenderContent(target, local, info);
  if (info.Device == dtScreen) PaintOverlay(target, local);
}

void TdtpShape::RenderContent(TBitmap32& target, const TFloatRect& localView,
                              const TdtpPaintInfo& info) {
  target.SetCombineMode(cmMerge);
  target.SetDrawMode(dmBlend);
  target.SetStretchFilter(info.StretchFilter);
  if (target.Empty() || !IsUsableView(localView)) return;

  TdtpAffineTransform m;
  m.Translate(-static_cast<double>(localView.Left), -static_cast<double>(localView.Top));
  m.Scale(target.Width() / (static_cast<double>(localView.Right) - localView.Left),
          PictureHeight(target, info) / (static_cast<double>(localView.Bottom) - localView.Top));
  // A band lies whole rows up from its place in the picture.
  if (info.PictureHeight > 0) m.Translate(0, -static_cast<double>(info.BandTop));
  SetPaintTransform(m.Matrix());
  // What draws after the content finds the target written and does not say
  // where it draws: with any of it, the content reports nothing either.
  TdtpPaintInfo after = info;
  after.TargetZeroed = false;
  after.Ink = nullptr;
  if (NeedsCanvas() || !children_.empty()) {
    TdtpPaintInfo own = info;
    own.Ink = nullptr;
    Paint32(target, own);
  } else {
    Paint32(target, info);
  }

  // Qt writes real alpha, so drawn pixels come out as drawn without the
  // alpha inversion that a device writing alpha 0 would need.
  if (NeedsCanvas()) {
    const bool hadCanvas = target.CanvasAllocated();
    PaintCanvas(target.Canvas(), after);
    if (!hadCanvas) target.DeleteCanvas();
  }

  for (const auto& child : children_)
    if (child->Visible()) child->Paint(target, localView, false, after);
  PaintAfterShapes(target, after);
}

void TdtpShape::PaintCached(TBitmap32& target, const TFloatRect& viewRect, bool localOnly,
                            const TdtpPaintInfo& info) {
  if (target.Empty() || !IsUsableView(viewRect)) return;

  // 1-2. A capped cache counts as built at the scale it was asked for.
  const bool usable = IsCacheValid() && !(info.RenderScale > cacheAskedScale_) &&
                      !(info.RenderScale < cacheAskedScale_ && info.ExactScale);

  // 4. The sampler reads cache pixel i at position i, its centre, which
  // lies half a pixel past the pixel's corner.
  const auto mapping = [&](TdtpAffineTransform& t, double s, double originX, double originY) {
    t.Translate(0.5 - originX, 0.5 - originY);
    t.Scale(1 / s, 1 / s);
    if (!localOnly) {
      t.Rotate(-static_cast<double>(docAngle_), 0, 0);
      t.Translate(docLeft_, docTop_);
    }
    t.Translate(-static_cast<double>(viewRect.Left), -static_cast<double>(viewRect.Top));
    t.Scale(target.Width() / (static_cast<double>(viewRect.Right) - viewRect.Left),
            PictureHeight(target, info) / (static_cast<double>(viewRect.Bottom) - viewRect.Top));
  };

  // A band draws only the shapes whose rows it holds, and a shape's cache
  // goes after the last band it reaches rather than after every band.
  bool lastBand = true;
  if (info.PictureHeight > 0) {
    double s = cacheScale_, originX = cacheOriginX_, originY = cacheOriginY_, w = 0, h = 0;
    if (usable) {
      w = cache_->Width(), h = cache_->Height();
    } else {
      // The layout the cache would be made with.
      TCacheLayout l;
      if (!ComputeLayout(docWidth_, docHeight_, marginLeft_, marginTop_, marginRight_, marginBottom_,
                         info.RenderScale, l)) {
        ClearCache();
        return;
      }
      s = static_cast<float>(l.Scale);
      originX = mirrored_ ? l.RightPx - docWidth_ * l.Scale : l.LeftPx;
      originY = flipped_ ? l.BottomPx - docHeight_ * l.Scale : l.TopPx;
      w = l.Width(), h = l.Height();
    }
    TdtpAffineTransform t;
    mapping(t, s, originX, originY);
    TFloatPoint corners[4] = {{0, 0}, {static_cast<float>(w), 0}, {static_cast<float>(w), static_cast<float>(h)},
                              {0, static_cast<float>(h)}};
    t.TransformPoints(corners, 4);
    double minY = corners[0].Y, maxY = corners[0].Y;
    for (const TFloatPoint& c : corners) {
      minY = std::min(minY, static_cast<double>(c.Y));
      maxY = std::max(maxY, static_cast<double>(c.Y));
    }
    // The sampler's own rows, floor to ceil, with a row to spare.
    const double bandBottom = static_cast<double>(info.BandTop) + target.Height();
    if (std::isfinite(minY) && std::isfinite(maxY)) {
      if (std::ceil(maxY) + 1 < info.BandTop || std::floor(minY) - 1 >= bandBottom) return;
      lastBand = std::ceil(maxY) + 1 < bandBottom;
    } else {
      lastBand = false;
    }
  }
  if (!usable && !PrepareCache(info)) return;

  // The sampler mixes the pixels of a 2 x 2 grid of reads per target pixel,
  // each over 2 x 2 cache pixels: with the grid's spread of half a target
  // pixel, turned by up to 45 degrees, they lie within 2 + ceil(r) cache
  // pixels of one another, r cache pixels running to one target pixel. A
  // cache read more coarsely than its content's margin allows, such as one
  // kept from a larger scale, has the rest of its pixels written first.
  const TRect whole = cache_->BoundsRect();
  const TRect& written = cacheInk_.Written;
  if (cacheInk_.Rest != 0 && (written.Left > 0 || written.Top > 0 || written.Right < whole.Right ||
                              written.Bottom < whole.Bottom)) {
    const double perX = cacheScale_ * (static_cast<double>(viewRect.Right) - viewRect.Left) / target.Width();
    const double perY =
        cacheScale_ * (static_cast<double>(viewRect.Bottom) - viewRect.Top) / PictureHeight(target, info);
    if (!(2 + std::ceil(std::max(perX, perY)) <= cacheInk_.Margin)) SettleCache();
  }

  // 3.
  cache_->SetMasterAlpha(static_cast<std::uint32_t>(std::clamp(masterAlpha_, 0, 255)));

  TdtpAffineTransform t;
  mapping(t, cacheScale_, cacheOriginX_, cacheOriginY_);

  // 5.
  TdtpMapSampler sampler;
  sampler.SetTarget(&target);
  sampler.SetClipRect(target.BoundsRect());
  sampler.SetSource(cache_.get());
  sampler.SetInkBounds(cacheInk_.Ink);
  sampler.SetTransform(&t);
  sampler.SetTargetTop(info.PictureHeight > 0 ? info.BandTop : 0);
  sampler.Render({0, 0, static_cast<float>(cache_->Width()), static_cast<float>(cache_->Height())});

  // 6.
  if (info.FreeCache && lastBand) ClearCache();
}

void TdtpShape::SettleCache() {
  if (!cache_) return;
  const TRect w = cacheInk_.Written;
  const std::int32_t width = cache_->Width(), height = cache_->Height();
  for (std::int32_t y = 0; y < height; ++y) {
    TColor32* row = cache_->ScanLine(y);
    if (y < w.Top || y >= w.Bottom || w.Right <= w.Left) {
      std::fill(row, row + width, cacheInk_.Rest);
    } else {
      std::fill(row, row + std::clamp(w.Left, 0, width), cacheInk_.Rest);
      std::fill(row + std::clamp(w.Right, 0, width), row + width, cacheInk_.Rest);
    }
  }
  cacheInk_.Written = cache_->BoundsRect();
  cache_->Changed();
}

bool TdtpShape::PrepareCache(const TdtpPaintInfo& info) {
  if (document_) document_->SetCursorShape(kAppStartCursor);
  TCacheLayout l;
  if (!ComputeLayout(docWidth_, docHeight_, marginLeft_, marginTop_, marginRight_, marginBottom_,
                     info.RenderScale, l)) {
    ClearCache();
    return false;
  }
  // Transparent black is what zeroed storage reads as: at the printer's
  // scale a text's cache is mostly empty, and is then never written there.
  // Otherwise the back colour is written everywhere, over storage not
  // cleared first.
  const bool zeroed = info.BackColor == 0 && ReportsInk();
  if (!cache_)
    cache_ = std::make_unique<TBitmap32>();
  else if (zeroed)
    ReleaseZeroed(*cache_, cacheInk_.Written);
  if (zeroed) {
    SetSizeZeroed(*cache_, l.Width(), l.Height());
  } else {
    SetSizeUninitialized(*cache_, l.Width(), l.Height());
    cache_->Clear(info.BackColor);
  }
  cache_->SetOuterColor(info.BackColor);
  cache_->SetCombineMode(cmMerge);
  cache_->SetDrawMode(dmBlend);
  cache_->SetStretchFilter(info.StretchFilter);
  cacheScale_ = static_cast<float>(l.Scale);
  cacheAskedScale_ = info.RenderScale;

  TdtpPaintInfo copy = info;
  copy.Scale = cacheScale_;
  copy.PictureHeight = 0;
  copy.BandTop = 0;
  copy.TargetZeroed = zeroed;
  // Where the content's ink lies is known only of the content as drawn:
  // effects, mirroring and overlays move or add ink.
  TdtpInkReport ink{cache_->BoundsRect(), cache_->BoundsRect()};
  cacheInk_ = ink;
  const bool narrow = !NeedsPostProcess() && info.Device != dtScreen;
  copy.Ink = narrow ? &ink : nullptr;
  const TFloatRect local{static_cast<float>(-l.LeftPx / l.Scale), static_cast<float>(-l.TopPx / l.Scale),
                         static_cast<float>(l.RightPx / l.Scale),
                         static_cast<float>(l.BottomPx / l.Scale)};
  RenderContent(*cache_, local, copy);
  copy.TargetZeroed = false;
  copy.Ink = nullptr;
  PostProcess(*cache_, copy);
  if (info.Device == dtScreen) PaintOverlay(*cache_, local);
  cacheInk_ = ink;

  // Mirroring turns the cache about its own centre; the frame's corner then
  // lies as far from the far edge as it lay from the near one.
  cacheOriginX_ = mirrored_ ? l.RightPx - docWidth_ * l.Scale : l.LeftPx;
  cacheOriginY_ = flipped_ ? l.BottomPx - docHeight_ * l.Scale : l.TopPx;
  return true;
}

void TdtpShape::PostProcess(TBitmap32& bitmap, const TdtpPaintInfo& /*info*/) {
  if (mirrored_) MirrorHorizontal(&bitmap);
  if (flipped_) MirrorVertical(&bitmap);
}

bool TdtpShape::NeedsPostProcess() const { return mirrored_ || flipped_; }

bool TdtpShape::NeedsCache() const {
  return forceCache_ || docAngle_ != 0 || masterAlpha_ != 255 || NeedsPostProcess();
}

bool TdtpShape::IsCacheValid() const { return cache_ && cacheScale_ > 0; }

void TdtpShape::ClearCache() {
  // Storage that comes back zero serves the next cache without page faults.
  if (cache_) ReleaseZeroed(*cache_, cacheInk_.Written);
  cache_.reset();
  cacheScale_ = 0;
  cacheAskedScale_ = 0;
}

void TdtpShape::ClearCaches() {
  ClearCache();
  for (const auto& child : children_) child->ClearCaches();
}

namespace {

// The sizes and paint information of a picture of the whole frame; false
// when there is nothing to draw.
bool ThumbnailInfo(std::int32_t width, std::int32_t height, std::int32_t border, float docWidth,
                   float docHeight, TDeviceType device, bool freeCaches, TFloatRect& view,
                   TdtpPaintInfo& info) {
  // 1. Sizes in 64 bits; a frame without area has no scale.
  if (width <= 0 || height <= 0 || border < 0) return false;
  if (!(Finite(docWidth) && Finite(docHeight) && docWidth > 0 && docHeight > 0)) return false;
  const std::int64_t w = std::int64_t{width} + 2 * std::int64_t{border};
  const std::int64_t h = std::int64_t{height} + 2 * std::int64_t{border};
  if (w > std::numeric_limits<std::int32_t>::max() || h > std::numeric_limits<std::int32_t>::max() ||
      w * h > kMaxBitmapPixels)
    return false;

  // 3-5.
  const double d = std::min(static_cast<double>(height) / docHeight,
                            static_cast<double>(width) / docWidth);
  const double e = border / d;
  view = {static_cast<float>(-e), static_cast<float>(-e), static_cast<float>(docWidth + e),
          static_cast<float>(docHeight + e)};
  info.Device = device;
  info.BackColor = 0;
  info.Scale = static_cast<float>(d);
  info.RenderScale = static_cast<float>(d);
  info.StretchFilter = sfLinear;
  info.FreeCache = freeCaches;
  return true;
}

}  // namespace

std::unique_ptr<TBitmap32> TdtpShape::RenderThumbnail(std::int32_t width, std::int32_t height,
                                                      TDeviceType device, std::int32_t border,
                                                      bool freeCaches) {
  TFloatRect view;
  TdtpPaintInfo info;
  if (!ThumbnailInfo(width, height, border, docWidth_, docHeight_, device, freeCaches, view, info))
    return nullptr;

  // 2. A new bitmap's storage starts transparent black, what Clear(0) writes.
  auto bitmap = std::make_unique<TBitmap32>();
  bitmap->SetSize(width + 2 * border, height + 2 * border);
  Paint(*bitmap, view, true, info);
  return bitmap;
}

bool TdtpShape::RenderThumbnailRows(std::int32_t width, std::int32_t height, TDeviceType device,
                                    std::int32_t bandRows, bool freeCaches,
                                    const std::function<void(const TBitmap32& band, std::int32_t top)>& onBand) {
  TFloatRect view;
  TdtpPaintInfo info;
  if (bandRows <= 0 || !ThumbnailInfo(width, height, 0, docWidth_, docHeight_, device, freeCaches, view, info))
    return false;
  info.PictureHeight = height;
  TBitmap32 band;
  for (std::int32_t top = 0; top < height; top += bandRows) {
    const std::int32_t rows = std::min(bandRows, height - top);
    // Each band starts as the whole picture does: transparent black.
    if (band.Height() != rows) band.SetSize(width, rows);
    else band.Clear(0);
    info.BandTop = top;
    Paint(band, view, true, info);
    onBand(band, top);
  }
  return true;
}

}  // namespace kdl

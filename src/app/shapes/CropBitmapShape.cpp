#include "app/shapes/CropBitmapShape.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "app/CropBitmapDialog.h"
#include "document/effects/MaskEffect.h"
#include "document/resources/BitmapResource.h"
#include "document/shapes/Rendering.h"
#include "document/view/Document.h"
#include "foundation/XmlNode.h"
#include "raster/Bitmap32.h"
#include "raster/Blend.h"
#include "raster/Transforms.h"
#include "raster/UninitializedSize.h"

namespace kdl {

namespace {

// An intermediate of the whole frame is made only up to this size; larger
// frames (deep zoom, damaged files) resample just the part that shows.
constexpr std::int64_t kWholeIntermediatePixels = 16LL * 1024 * 1024;
// The second resampling of a frame is kept for the screen up to this size.
// Like the intermediate, it is allocated without clearing, so only the
// pages of the parts that were shown become resident.
constexpr std::int64_t kKeptFramePixels = kWholeIntermediatePixels;
// Pixels of one band of an intermediate that is drawn one to one. A band
// made by reducing the crop's rows is kept small, so that it stays in the
// processor's cache between the two resamplings; one that enlarges them
// reduces the source rows at each band's edge twice, so its bands are
// larger.
constexpr std::int64_t kCropBandPixels = 256LL * 1024;
constexpr std::int64_t kReducedCropBandPixels = 48LL * 1024;

std::int32_t RoundPixel(double v) {
  v = std::nearbyint(v);
  if (!(v > std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
  if (v >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v);
}

std::int32_t RoundInt(double v) { return RoundPixel(v); }

}  // namespace

TdtpCropBitmapShape::TdtpCropBitmapShape() {
  Image().Clear();
  Image().SetStorage(rsArchive);
}

bool TdtpCropBitmapShape::IsEmpty() {
  TResourceAccess access(Image());
  return CurrentBitmap() == nullptr;
}

void TdtpCropBitmapShape::Pin() {
  pinnedLeft_ = DocLeft();
  pinnedTop_ = DocTop();
  pinnedWidth_ = DocWidth();
  pinnedHeight_ = DocHeight();
  pinnedAngle_ = DocAngle();
  pinned_ = true;
}

void TdtpCropBitmapShape::RestorePinned() {
  if (!pinned_) return;
  BeginUpdate();
  try {
    SetDocLeft(pinnedLeft_);
    SetDocTop(pinnedTop_);
    SetDocWidth(pinnedWidth_);
    SetDocHeight(pinnedHeight_);
    SetDocAngle(pinnedAngle_);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TdtpCropBitmapShape::DefaultCropRect(TRect& rect) {
  TResourceAccess access(Image());
  TBitmap32* bitmap = CurrentBitmap();
  if (!bitmap) return;
  const double bw = bitmap->Width(), bh = bitmap->Height();
  const double sw = DocWidth(), sh = DocHeight();
  // A frame without area has no aspect to fit: the whole bitmap shows.
  if (!(sw > 0) || !(sh > 0) || !std::isfinite(sw) || !std::isfinite(sh)) {
    rect = bitmap->BoundsRect();
    return;
  }
  const double s = std::min(bh / sh, bw / sw);
  const std::int32_t w = RoundInt(s * sw), h = RoundInt(s * sh);
  const std::int32_t dx = RoundInt(w * 5.0 / 100), dy = RoundInt(h * 5.0 / 100);
  rect.Left = dx + (bitmap->Width() - w) / 2;
  rect.Top = dy + (bitmap->Height() - h) / 2;
  rect.Right = rect.Left + w - 2 * dx;
  rect.Bottom = rect.Top + h - 2 * dy;
}

void TdtpCropBitmapShape::StretchCropped(TBitmap32& source, TBitmap32& target, const TRect& rect,
                                         std::int32_t height, std::int32_t width) {
  target.SetSize(width, height);
  TRect src;
  // An empty part of the source leaves the target as it is.
  if (!IntersectRect(src, rect, source.BoundsRect()) || target.Empty()) return;
  StretchTransfer(&target, target.BoundsRect(), target.BoundsRect(), &source, src, sfLinear, dmOpaque,
                  nullptr);
}

namespace {
constexpr std::int32_t kMinCropSide = 10;

bool Usable(const TRect& r) { return r.Width() >= kMinCropSide && r.Height() >= kMinCropSide; }

// Whether the second resampling takes each shown row of the frame from the
// intermediate row of the same index: equal heights, and a filter whose
// weights vanish a whole pixel away (as the linear one of page pictures,
// whose axes round apart by a pixel).
bool RowsOneToOne(const TRect& dst, const TRect& shown, std::int32_t ih, TStretchFilter filter) {
  if (dst.Height() != ih || filter == sfNearest || filter == sfDraft) return false;
  const TMappingTable rows = BuildMappingTable(dst.Top, dst.Bottom, shown.Top, shown.Bottom, 0, ih, filter);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TCluster& c = rows[i];
    if (c.size() != 1 || c[0].Weight != 256 || c[0].Pos != static_cast<std::int32_t>(i) + shown.Top - dst.Top)
      return false;
  }
  return true;
}
}  // namespace

bool TdtpCropBitmapShape::DialogCropRect(TRect& rect) {
  TResourceAccess access(Image());
  TBitmap32* bitmap = CurrentBitmap();
  if (!bitmap || bitmap->Empty()) return false;
  const TRect whole = bitmap->BoundsRect();
  TRect clipped;
  // Project files and the clipboard bring any rectangle at all.
  const bool inside = IntersectRect(clipped, cropRect_, whole);
  const bool isWhole = clipped.Left == whole.Left && clipped.Top == whole.Top && clipped.Right == whole.Right &&
                       clipped.Bottom == whole.Bottom;
  if (inside && Usable(clipped) && !isWhole) {
    rect = clipped;
    return true;
  }
  TRect fallback = whole;
  DefaultCropRect(fallback);
  TRect fitted;
  rect = IntersectRect(fitted, fallback, whole) ? fitted : whole;
  return true;
}

bool TdtpCropBitmapShape::ExecuteCropDialog(QWidget* parent) {
  TRect band;
  if (!DialogCropRect(band)) return false;
  TCropBitmapDialog dialog(parent);
  {
    TResourceAccess access(Image());
    TBitmap32* bitmap = CurrentBitmap();
    if (!bitmap) return false;
    dialog.SetBitmap(*bitmap, band);
  }
  dialog.SetMaskEffect(FindEffect<TdtpMaskEffect>());
  dialog.SetKeepAspect(PreserveAspect());
  dialog.SetMinimumSize(kMinCropSide, kMinCropSide);
  const bool accepted = dialog.exec() == QDialog::Accepted;
  if (accepted) cropRect_ = dialog.GetCropRect();
  SetModified(accepted);
  if (accepted) Changed();
  UpdateAll();
  return accepted;
}

void TdtpCropBitmapShape::ImageChanged() {
  intermediate_.reset();
  TdtpSnapBitmap::ImageChanged();
  TResourceAccess access(Image());
  if (TBitmap32* bitmap = CurrentBitmap()) cropRect_ = bitmap->BoundsRect();
}

// The first resampling of the general path at one paint scale. Its bitmap
// has the intermediate's whole size but holds pixels only inside Filled:
// the rest is never cleared, written or read.
struct TdtpCropBitmapShape::TIntermediate {
  TBitmap32 Bitmap;
  std::uint64_t Version = 0;
  TRect Crop;
  TRect Filled;
  // On screen, the second resampling too, in frame pixels before it is
  // blended, for one frame size and filter; filled where shown, like the
  // intermediate. A repaint then only blends it.
  TBitmap32 Frame;
  TStretchFilter FrameFilter = sfNearest;
  TRect FrameFilled;
};

namespace {

// Intermediate positions beyond a filter's reach that a transfer may still
// read with zero weight (kernel windows are widened to 4 taps and moved in
// from the bitmap's edge); filled too, so that no unfilled pixel is read.
constexpr std::int32_t kIntermediateSlack = 8;

// The intermediate positions [first, last) that target positions
// [lo, hi) of a frame [dstLo, dstHi) read from an intermediate of n
// positions: each pixel's filter centre, widened by the filter's support
// scaled to the reduction, with rounding and slack to spare.
std::pair<std::int32_t, std::int32_t> IntermediateSpan(std::int32_t dstLo, std::int32_t dstHi,
                                                       std::int32_t lo, std::int32_t hi, std::int32_t n,
                                                       TStretchFilter filter) {
  const double scale = static_cast<double>(n) / (static_cast<double>(dstHi) - dstLo);
  const double reach = FilterWidth(filter) * std::max(1.0, scale) + 2 + kIntermediateSlack;
  const double first = (static_cast<double>(lo) - dstLo + 0.5) * scale - 0.5 - reach;
  const double last = (static_cast<double>(hi) - 1 - dstLo + 0.5) * scale - 0.5 + reach;
  const auto clampTo = [n](double v) {
    return static_cast<std::int32_t>(std::clamp(v, 0.0, static_cast<double>(n)));
  };
  return {clampTo(std::floor(first)), clampTo(std::ceil(last) + 1)};
}

// Calls make for each strip of grown outside filled (grown holds filled):
// above, below, left and right of it; the whole of grown when nothing is
// filled yet.
template <class F>
void ForEachNewStrip(const TRect& filled, const TRect& grown, F&& make) {
  const auto each = [&](const TRect& strip) {
    if (!IsRectEmpty(strip)) make(strip);
  };
  if (IsRectEmpty(filled)) {
    each(grown);
    return;
  }
  each({grown.Left, grown.Top, grown.Right, filled.Top});
  each({grown.Left, filled.Bottom, grown.Right, grown.Bottom});
  each({grown.Left, filled.Top, filled.Left, filled.Bottom});
  each({filled.Right, filled.Top, grown.Right, filled.Bottom});
}

// Rows and columns of a band, taken from the intermediate one to one;
// temp holds each band on its way.
void PaintBands(TBitmap32& bitmap, TBitmap32& image, const TRect& crop, const TRect& dst, const TRect& shown,
                std::int32_t iw, bool rowsOneToOne, TStretchFilter filter, TBitmap32& temp) {
  // Where the second resampling is one to one, only the part that lands
  // inside the target (for frames too large to resample twice it is made
  // so); where each target row comes from one intermediate row, the rows
  // the target shows. Each row's weights depend on its distance from the
  // frame's edge alone, so the pixels are the whole intermediate's, in
  // memory bounded by a band instead of a copy of a page-sized picture.
  const std::int32_t bandWidth = rowsOneToOne ? iw : shown.Width();
  const std::int64_t bandPixels = dst.Height() <= crop.Height() ? kReducedCropBandPixels : kCropBandPixels;
  const std::int32_t bandRows =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(bandPixels / bandWidth, 1, shown.Height()));
  // One allocation for all the bands: the last, shorter band uses the top
  // of it, and so does the next page band of the same picture.
  if (temp.Width() != bandWidth || temp.Height() < bandRows) SetSizeUninitialized(temp, bandWidth, bandRows);
  if (temp.Empty()) return;
  for (std::int32_t top = shown.Top; top < shown.Bottom; top += bandRows) {
    const std::int32_t bottom = std::min(shown.Bottom, top + bandRows);
    // The frame covers the whole band, which the opaque transfer writes.
    const TRect band{0, 0, bandWidth, bottom - top};
    const TRect frame = rowsOneToOne ? TRect{0, dst.Top - top, iw, dst.Bottom - top}
                                     : TRect{dst.Left - shown.Left, dst.Top - top, dst.Right - shown.Left,
                                             dst.Bottom - top};
    StretchTransfer(&temp, frame, band, &image, crop, sfLinear, dmOpaque, nullptr);
    const TRect rows =
        rowsOneToOne ? TRect{dst.Left, top, dst.Right, bottom} : TRect{shown.Left, top, shown.Right, bottom};
    StretchTransfer(&bitmap, rows, bitmap.BoundsRect(), &temp, band, filter, dmBlend, nullptr);
  }
}

}  // namespace

TdtpCropBitmapShape::~TdtpCropBitmapShape() = default;

void TdtpCropBitmapShape::ImageInvalidated() {
  intermediate_.reset();
  TdtpSnapBitmap::ImageInvalidated();
}

void TdtpCropBitmapShape::ClearCaches() {
  intermediate_.reset();
  bandScratch_.reset();
  TdtpSnapBitmap::ClearCaches();
}

void TdtpCropBitmapShape::Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) {
  TdtpEffectShape::Paint32(bitmap, info);
  TResourceAccess access(Image());
  TBitmap32* image = CurrentBitmap();
  if (!image || bitmap.Empty()) return;
  TRect crop;
  if (!IntersectRect(crop, cropRect_, image->BoundsRect())) return;

  // The frame in target pixels, and the intermediate's size at the paint
  // scale.
  const TAffineMatrix& m = PaintTransform();
  const double w = DocWidth(), h = DocHeight();
  const TRect dst{RoundPixel(m.E), RoundPixel(m.F), RoundPixel(m.A * w + m.C * h + m.E),
                  RoundPixel(m.B * w + m.D * h + m.F)};
  if (dst.Right <= dst.Left || dst.Bottom <= dst.Top) return;
  // Sizes beyond half the integer range come only from damaged geometry.
  constexpr std::int64_t kMaxSide = std::numeric_limits<std::int32_t>::max() / 2;
  if (static_cast<std::int64_t>(dst.Right) - dst.Left > kMaxSide ||
      static_cast<std::int64_t>(dst.Bottom) - dst.Top > kMaxSide)
    return;
  std::int32_t iw = RoundPixel(w * info.Scale), ih = RoundPixel(h * info.Scale);
  if (iw <= 0 || ih <= 0 || iw > kMaxSide || ih > kMaxSide) return;
  TRect shown;
  if (!IntersectRect(shown, dst, bitmap.BoundsRect())) return;

  const bool sameSize = dst.Width() == iw && dst.Height() == ih;
  const bool rowsOneToOne = !sameSize && RowsOneToOne(dst, shown, ih, info.StretchFilter);
  // The screen keeps what it resamples, so that a repaint only blends.
  const bool keep = info.Device == dtScreen && !info.FreeCache;
  if (((sameSize || rowsOneToOne) && !keep) || static_cast<std::int64_t>(iw) * ih > kWholeIntermediatePixels) {
    intermediate_.reset();
    if (!bandScratch_) bandScratch_ = std::make_unique<TBitmap32>();
    PaintBands(bitmap, *image, crop, dst, shown, iw, rowsOneToOne, info.StretchFilter, *bandScratch_);
    return;
  }

  // Two resamplings: linearly to the view size, then with the view's
  // filter. The intermediate is filled only where the shown part of the
  // frame reads it, and kept for the next band or repaint at this scale.
  const std::uint64_t version = Image().ContentVersion();
  TIntermediate* cached = intermediate_.get();
  if (!cached || cached->Version != version || cached->Bitmap.Width() != iw || cached->Bitmap.Height() != ih ||
      cached->Crop.Left != crop.Left || cached->Crop.Top != crop.Top || cached->Crop.Right != crop.Right ||
      cached->Crop.Bottom != crop.Bottom) {
    intermediate_.reset();
    auto fresh = std::make_unique<TIntermediate>();
    SetSizeUninitialized(fresh->Bitmap, iw, ih);
    if (fresh->Bitmap.Empty()) return;
    fresh->Version = version;
    fresh->Crop = crop;
    intermediate_ = std::move(fresh);
    cached = intermediate_.get();
  }
  TBitmap32& temp = cached->Bitmap;
  const TRect whole = temp.BoundsRect();
  // The filled rectangle grows to hold the needed one; only the strips
  // around what is filled already are resampled. Each pixel depends on its
  // place in the whole intermediate alone, not on the strip it is made in.
  const auto ensureIntermediate = [&](const TRect& needed) {
    TRect& filled = cached->Filled;
    TRect grown = needed;
    if (!IsRectEmpty(filled))
      grown = {std::min(filled.Left, needed.Left), std::min(filled.Top, needed.Top),
               std::max(filled.Right, needed.Right), std::max(filled.Bottom, needed.Bottom)};
    ForEachNewStrip(filled, grown, [&](const TRect& strip) {
      StretchTransfer(&temp, whole, strip, image, crop, sfLinear, dmOpaque, nullptr);
    });
    filled = grown;
  };
  // The intermediate positions that frame pixels in local (frame-relative)
  // rectangle r read.
  const std::int32_t fw = dst.Width(), fh = dst.Height();
  const auto reads = [&](const TRect& r) {
    const auto [left, right] = IntermediateSpan(0, fw, r.Left, r.Right, iw, info.StretchFilter);
    const auto [top, bottom] = IntermediateSpan(0, fh, r.Top, r.Bottom, ih, info.StretchFilter);
    return TRect{left, top, right, bottom};
  };
  const TRect local{shown.Left - dst.Left, shown.Top - dst.Top, shown.Right - dst.Left, shown.Bottom - dst.Top};

  const std::uint32_t alpha = temp.MasterAlpha();
  const int mode = temp.CombineMode();
  if (alpha == 0) return;
  // Rows blended as the transfer blends them: a copy of equal size or a
  // stretch to the nearest pixel without a master alpha at full strength,
  // the filters always weighing by it.
  const auto blendRows = [&](const TBitmap32& from, std::int32_t left, std::int32_t top) {
    const bool plain = alpha == 255 && (sameSize || info.StretchFilter == sfNearest);
    for (std::int32_t y = shown.Top; y < shown.Bottom; ++y) {
      const TColor32* s = from.PixelPtr(left, top + y - shown.Top);
      TColor32* d = bitmap.PixelPtr(shown.Left, y);
      if (plain)
        BLEND_LINE[mode](s, d, shown.Width());
      else
        BLEND_LINE_EX[mode](s, d, shown.Width(), alpha);
    }
    EMMS();
  };
  if (keep && sameSize) {
    cached->Frame.SetSize(0, 0);
    ensureIntermediate(local);
    blendRows(temp, local.Left, local.Top);
    return;
  }

  if (!keep || static_cast<std::int64_t>(fw) * fh > kKeptFramePixels) {
    cached->Frame.SetSize(0, 0);
    ensureIntermediate(reads(local));
    StretchTransfer(&bitmap, dst, bitmap.BoundsRect(), &temp, whole, info.StretchFilter, dmBlend, nullptr);
    // A one-off picture keeps nothing at its resolution.
    if (info.FreeCache) intermediate_.reset();
    return;
  }

  // The frame's resampled pixels, made where they show for the first time
  // (each depends on its place in the frame alone), then blended as the
  // transfer itself would blend them.
  TBitmap32& frame = cached->Frame;
  if (frame.Width() != fw || frame.Height() != fh || cached->FrameFilter != info.StretchFilter) {
    SetSizeUninitialized(frame, fw, fh);
    if (frame.Empty()) return;
    cached->FrameFilter = info.StretchFilter;
    cached->FrameFilled = {};
  }
  TRect& filled = cached->FrameFilled;
  TRect grown = local;
  if (!IsRectEmpty(filled))
    grown = {std::min(filled.Left, local.Left), std::min(filled.Top, local.Top), std::max(filled.Right, local.Right),
             std::max(filled.Bottom, local.Bottom)};
  ForEachNewStrip(filled, grown, [&](const TRect& strip) {
    ensureIntermediate(reads(strip));
    StretchTransfer(&frame, frame.BoundsRect(), strip, &temp, whole, info.StretchFilter, dmOpaque, nullptr);
  });
  filled = grown;
  blendRows(frame, local.Left, local.Top);
}

void TdtpCropBitmapShape::LoadFromXml(TXmlNode* node) {
  intermediate_.reset();
  TdtpSnapBitmap::LoadFromXml(node);
  if (!node) return;
  // An image that was kept in a temporary member must be written out whole
  // on the next save.
  if (node->FindChild("TempImage")) {
    if (auto* document = dynamic_cast<TdtpDocument*>(Document())) document->ForceFullSave();
  }
  cropRect_.Left = node->ReadInteger("CropRectLeft", 0);
  cropRect_.Top = node->ReadInteger("CropRectTop", 0);
  cropRect_.Right = node->ReadInteger("CropRectRight", 0);
  cropRect_.Bottom = node->ReadInteger("CropRectBottom", 0);
  pinnedLeft_ = static_cast<float>(node->ReadFloat("PinnedLeft", 0));
  pinnedTop_ = static_cast<float>(node->ReadFloat("PinnedTop", 0));
  pinnedWidth_ = static_cast<float>(node->ReadFloat("PinnedWidth", 0));
  pinnedHeight_ = static_cast<float>(node->ReadFloat("PinnedHeight", 0));
  pinnedAngle_ = static_cast<float>(node->ReadFloat("PinnedAngle", 0));
  pinned_ = node->ReadBool("Pinned", false);
  ShowPlaceholder(IsEmpty());
}

void TdtpCropBitmapShape::SaveToXml(TXmlNode* node) {
  TdtpSnapBitmap::SaveToXml(node);
  if (!node) return;
  node->WriteInteger("CropRectLeft", cropRect_.Left, 0);
  node->WriteInteger("CropRectTop", cropRect_.Top, 0);
  node->WriteInteger("CropRectRight", cropRect_.Right, 0);
  node->WriteInteger("CropRectBottom", cropRect_.Bottom, 0);
  node->WriteFloat("PinnedLeft", pinnedLeft_, 0);
  node->WriteFloat("PinnedTop", pinnedTop_, 0);
  node->WriteFloat("PinnedWidth", pinnedWidth_, 0);
  node->WriteFloat("PinnedHeight", pinnedHeight_, 0);
  node->WriteFloat("PinnedAngle", pinnedAngle_, 0);
  node->WriteBool("Pinned", pinned_, false);
}

}  // namespace kdl

#include "app/CropBitmapDialog.h"

#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/DialogParts.h"
#include "app/Localizer.h"
#include "app/Placement.h"
#include "document/effects/MaskEffect.h"
#include "raster/Bitmap32.h"
#include "raster/Blend.h"
#include "raster/ByteMap.h"
#include "raster/Image32.h"
#include "raster/Layers.h"

namespace kdl {
namespace {

constexpr int kWidth = 380, kHeight = 440, kButtonRowHeight = 50;
constexpr TColor32 kWhite = 0xFFFFFFFF;

// Rounds to the nearest integer, saturating; NaN gives 0.
std::int32_t RoundSaturated(double v) {
  if (!(v == v)) return 0;
  constexpr double lo = std::numeric_limits<std::int32_t>::min(), hi = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::nearbyint(std::clamp(v, lo, hi)));
}

// The pixel at the given alpha over opaque white.
TColor32 OverWhite(TColor32 pixel, std::uint32_t alpha) {
  return BlendReg((pixel & 0x00FFFFFFu) | (alpha << 24), kWhite);
}

}  // namespace

TCropBitmapDialog::TCropBitmapDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("CropDialog");
  pnlImage_ = new QWidget(this);
  pnlImage_->setObjectName("pnlImage");
  pnlDummy_ = new QWidget(pnlImage_);
  pnlDummy_->setObjectName("pnlDummy");
  pnlButtons_ = new QWidget(this);
  pnlButtons_->setObjectName("pnlButtons");
  view_ = new TImgView32(pnlDummy_);
  view_->setObjectName("ImgView");
  view_->SetSizing(szScale);
  btnOK_ = CreateDialogButton(*this, *pnlButtons_, "btnOK", QDialog::Accepted);
  btnOK_->setDefault(true);
  btnCancel_ = CreateDialogButton(*this, *pnlButtons_, "btnCancel", QDialog::Rejected);
  LayoutControls();
  ApplyLanguage();
}

void TCropBitmapDialog::LayoutControls() {
  const QSize client = ClientSize(kWidth, kHeight);
  setFixedSize(client);
  const QRect image(0, 0, client.width(), client.height() - kButtonRowHeight);
  pnlImage_->setGeometry(image);
  pnlDummy_->setGeometry(image);
  pnlButtons_->setGeometry(0, image.height(), client.width(), kButtonRowHeight);
  // The view's record is larger than the panel, which would cut off its
  // bars: it starts where the record puts it and ends at the panel's edges.
  PlaceControlAt(*view_, kCropDialog);
  view_->setGeometry(view_->geometry() & pnlDummy_->rect());
  view_->ScrollBars().SetVisibility(svAuto);
  PlaceControlAt(*btnOK_, kEditorOkButton);
  PlaceControlAt(*btnCancel_, kEditorCancelButton);
}

void TCropBitmapDialog::ApplyLanguage() {
  setWindowTitle(Localizer().Text("CropDialog", "Caption"));
  btnOK_->setText(Localizer().Text("DialogShared", "Ok"));
  btnCancel_->setText(Localizer().Text("DialogShared", "Cancel"));
}

void TCropBitmapDialog::SetMinimumSize(std::int32_t width, std::int32_t height) {
  minWidth_ = static_cast<float>(std::max(1, width));
  minHeight_ = static_cast<float>(std::max(1, height));
  if (band_) {
    band_->SetMinWidth(minWidth_);
    band_->SetMinHeight(minHeight_);
  }
}

void TCropBitmapDialog::SetBitmap(const TBitmap32& bitmap, const TRect& crop) {
  view_->Layers().Clear();
  band_ = nullptr;
  view_->SetBitmap(bitmap);
  view_->Bitmap().SetDrawMode(dmBlend);
  // A fitted bitmap has nothing to scroll: it fits the view without bars.
  const TRect viewport{0, 0, view_->width(), view_->height()};
  if (!bitmap.Empty() && viewport.Width() > 0 && viewport.Height() > 0)
    view_->SetScale(static_cast<float>(std::min(static_cast<double>(viewport.Height()) / bitmap.Height(),
                                                 static_cast<double>(viewport.Width()) / bitmap.Width())));
  band_ = view_->Layers().Add<TRubberbandLayer>();
  band_->SetScaled(true);
  band_->SetMouseEvents(true);
  band_->SetMinWidth(minWidth_);
  band_->SetMinHeight(minHeight_);
  band_->SetLocation(RectToFloatRect(crop));
  band_->OnPaint = [this](TCustomLayer* layer, TBitmap32& buffer) { PaintOverlay(layer, buffer); };
  band_->OnSizing = [this](TRubberbandLayer*, const TFloatRect& oldLocation, TFloatRect& newLocation,
                           TBandDragState, TShiftState) {
    Constrain(oldLocation, newLocation, static_cast<float>(view_->Bitmap().Width()),
              static_cast<float>(view_->Bitmap().Height()), minWidth_, minHeight_, keepAspect_);
  };
  view_->Invalidate();
}

TRect TCropBitmapDialog::GetCropRect() const {
  if (!band_) return {};
  const TFloatRect r = band_->Location();
  const std::int32_t w = view_->Bitmap().Width(), h = view_->Bitmap().Height();
  return {std::max(RoundSaturated(r.Left), 0), std::max(RoundSaturated(r.Top), 0),
          std::min(RoundSaturated(r.Right), w), std::min(RoundSaturated(r.Bottom), h)};
}

void TCropBitmapDialog::Constrain(const TFloatRect& oldLocation, TFloatRect& newLocation, float width,
                                  float height, float minWidth, float minHeight, bool keepAspect) {
  const double W = width, H = height;
  double ow = oldLocation.Right - oldLocation.Left, oh = oldLocation.Bottom - oldLocation.Top;
  const double nw = newLocation.Right - newLocation.Left, nh = newLocation.Bottom - newLocation.Top;
  double w = nw, h = nh;
  if (nw != ow || nh != oh) {
    // A band without size has no aspect to keep; it starts from the minimum.
    if (!(ow > 0) || !(oh > 0)) {
      ow = minWidth;
      oh = minHeight;
    }
    if (keepAspect) {
      double g = (ow >= nw && oh >= nh) ? std::min(nh / oh, nw / ow) : std::max(nh / oh, nw / ow);
      g = std::min(H / oh, std::min(W / ow, g));
      g = std::max(minWidth / ow, g);
      g = std::max(minHeight / oh, g);
      w = ow * g;
      h = oh * g;
    } else {
      w = ow * std::max(minWidth / ow, std::min(W / ow, nw / ow));
      h = oh * std::max(minHeight / oh, std::min(H / oh, nh / oh));
    }
  }
  double left = newLocation.Left, top = newLocation.Top;
  left = std::max(left, 0.0);
  top = std::max(top, 0.0);
  left = std::min(left, W - w);
  top = std::min(top, H - h);
  newLocation = FloatRect(static_cast<float>(left), static_cast<float>(top), static_cast<float>(left + w),
                          static_cast<float>(top + h));
}

void TCropBitmapDialog::WashOutside(TBitmap32& buffer, const TRect& band) {
  const std::int32_t bw = buffer.Width(), bh = buffer.Height();
  const std::int32_t l = std::clamp(band.Left, 0, bw), r = std::clamp(band.Right, l, bw);
  const std::int32_t t = std::clamp(band.Top, 0, bh), b = std::clamp(band.Bottom, t, bh);
  auto wash = [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
    TColor32* p = buffer.PixelPtr(0, y);
    // Opaque pixels end at alpha 128: the top bit of their alpha.
    for (std::int32_t x = x0; x < x1; ++x) p[x] = OverWhite(p[x], (p[x] >> 24) & 0x80u);
  };
  for (std::int32_t y = 0; y < bh; ++y) {
    if (y < t || y >= b) {
      wash(y, 0, bw);
    } else {
      wash(y, 0, l);
      wash(y, r, bw);
    }
  }
}

void TCropBitmapDialog::ApplyMaskPreview(TBitmap32& buffer, const TRect& band, TdtpMaskEffect& mask) {
  // The band lies inside the fitted bitmap, so its map stays view-sized;
  // a larger one comes only from a damaged mapping.
  const std::int64_t w = static_cast<std::int64_t>(band.Right) - band.Left;
  const std::int64_t h = static_cast<std::int64_t>(band.Bottom) - band.Top;
  if (w <= 0 || h <= 0 || w * h > std::int64_t{1} << 26) return;
  TRect shown;
  if (!IntersectRect(shown, band, buffer.BoundsRect())) return;
  TByteMap map;
  map.SetSize(band.Width(), band.Height());
  map.Clear(255);
  mask.ApplyMasks(map, TRect{0, 0, band.Width(), band.Height()});
  for (std::int32_t y = shown.Top; y < shown.Bottom; ++y) {
    TColor32* p = buffer.PixelPtr(0, y);
    const std::uint8_t* m = map.ValPtr(0, y - band.Top);
    for (std::int32_t x = shown.Left; x < shown.Right; ++x)
      p[x] = OverWhite(p[x], m[x - band.Left] * 127u / 255u + 128u);
  }
}

void TCropBitmapDialog::PaintOverlay(TCustomLayer* layer, TBitmap32& buffer) {
  const TFloatRect s = static_cast<TPositionedLayer*>(layer)->GetScreenLocation();
  const TRect band{RoundSaturated(s.Left), RoundSaturated(s.Top), RoundSaturated(s.Right),
                   RoundSaturated(s.Bottom)};
  WashOutside(buffer, band);
  if (maskEffect_) ApplyMaskPreview(buffer, band, *maskEffect_);
}

}  // namespace kdl

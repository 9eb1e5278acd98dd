// The document's view: mapping between millimetres and client pixels, the
// page's place in the virtual area, zoom, and painting the client area.
#include <QCursor>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <limits>

#include "document/shapes/Rendering.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/qt/ErrorDisplay.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

// The zoom stays where every mapping is finite and a ruler has a finite
// number of ticks to draw.
constexpr float kMinScreenDpm = 0.01f;
constexpr float kMaxScreenDpm = 1000.0f;

bool ValidDpm(float dpm) { return dpm >= kMinScreenDpm && dpm <= kMaxScreenDpm; }

// Nearest whole pixel, halves to even; far-off values stay in range.
std::int32_t RoundPx(double v) {
  constexpr double kLimit = 1 << 30;
  if (!(v > -kLimit)) return -(1 << 30);
  if (v > kLimit) return 1 << 30;
  return static_cast<std::int32_t>(std::nearbyint(v));
}

// The client rectangle's device pixels at ratio: whole device pixels that
// cover the logical rectangle.
TRect DevicePixels(const QRect& clip, double ratio) {
  return {static_cast<std::int32_t>(std::floor(clip.left() * ratio)),
          static_cast<std::int32_t>(std::floor(clip.top() * ratio)),
          static_cast<std::int32_t>(std::ceil((clip.left() + clip.width()) * ratio)),
          static_cast<std::int32_t>(std::ceil((clip.top() + clip.height()) * ratio))};
}

// The selection handles come with the shapes' handle painters.
void DrawShapeHandles(TdtpShape& shape, QPainter& canvas) { shape.DrawHandles(canvas); }

// Clears a flag however the guarded work ends.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~TFlagScope() { flag_ = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

// ---- Mapping -------------------------------------------------------------------------------

TFloatPoint TdtpDocument::DocToScreen(TFloatPoint point) const {
  return {(point.X - windowLeft_) * screenDpm_, (point.Y - windowTop_) * screenDpm_};
}

TFloatPoint TdtpDocument::ScreenToDoc(TFloatPoint point) const {
  return {point.X / screenDpm_ + windowLeft_, point.Y / screenDpm_ + windowTop_};
}

TRect TdtpDocument::DocRectToScreen(TFloatPoint origin, TFloatPoint size) const {
  const TFloatPoint a = DocToScreen(origin);
  const TFloatPoint b = DocToScreen({origin.X + size.X, origin.Y + size.Y});
  return {RoundPx(a.X), RoundPx(a.Y), RoundPx(b.X), RoundPx(b.Y)};
}

void TdtpDocument::ScrollChanged() { ScrollPositionChanged(); }

void TdtpDocument::ScrollPositionChanged() {
  windowLeft_ = ScrollX() / screenDpm_;
  windowTop_ = ScrollY() / screenDpm_;
  UpdateRulers();
  if (OnUpdateScrollPosition) OnUpdateScrollPosition(*this);
}

void TdtpDocument::PageSizeChanged() {
  // Setting the bounds scrolls, and a handler may resize the page again.
  if (pageSizeChanging_) return;
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  TFlagScope changing(pageSizeChanging_);
  if (viewStyle_ == vsPrintLayout) {
    // 10 px of desk around the page, its shadow margins included.
    const TFloatRect outer = page->GetDocBounds(true);
    SetVirtualBounds(0, 0, (outer.Right - outer.Left) * screenDpm_ + 20,
                     (outer.Bottom - outer.Top) * screenDpm_ + 20);
    page->SetPagePosition(10 / screenDpm_, 10 / screenDpm_);
  } else {
    SetVirtualBounds(0, 0, page->DocWidth() * screenDpm_, page->DocHeight() * screenDpm_);
    page->SetPagePosition(0, 0);
  }
  // The page moved under the window: the rulers and the picture follow.
  UpdateRulers();
  viewport()->update();
}

// ---- Resolution and zoom ---------------------------------------------------------------------

void TdtpDocument::SetScreenDpm(float value) {
  if (value == screenDpm_ || !ValidDpm(value)) return;
  screenDpm_ = value;
  if (renderAtScreenRes_) SetRenderDpm(value);
  if (!IsPrinting()) Refresh();
}

void TdtpDocument::SetRenderDpm(float value) {
  if (value == renderDpm_ || !(value > 0) || !std::isfinite(value)) return;
  renderDpm_ = value;
  if (TdtpPage* page = GetCurrentPage()) {
    page->ClearCaches();
    page->UpdateAll();
  }
}

void TdtpDocument::SetRenderAtScreenRes(bool value) {
  if (value == renderAtScreenRes_) return;
  renderAtScreenRes_ = value;
  SetRenderDpm(screenDpm_);
}

void TdtpDocument::ZoomBy(float factor) {
  const float dpm = screenDpm_ * factor;
  if (!ValidDpm(dpm)) return;
  const float clientWidth = static_cast<float>(ClientWidth());
  const float clientHeight = static_cast<float>(ClientHeight());
  const float x = ScrollX(), y = ScrollY();
  const float width = VirtualWidth(), height = VirtualHeight();
  SetScreenDpm(dpm);
  // The window's centre stays on the same document point; a window at the
  // origin stays there.
  float newX = 0, newY = 0;
  if (x != 0 || y != 0) {
    newX = (clientWidth * 0.5f + x) * factor - clientWidth * 0.5f;
    newY = (clientHeight * 0.5f + y) * factor - clientHeight * 0.5f;
  }
  SetVirtualBounds(newX, newY, width * factor, height * factor);
  Refresh();
}

void TdtpDocument::ZoomIn() {
  if (!ValidDpm(screenDpm_ * 1.1f)) return;
  zoomPercent_ *= 1.1f;
  ZoomBy(1.1f);
}

void TdtpDocument::ZoomOut() {
  if (!ValidDpm(screenDpm_ * 0.90909094f)) return;
  zoomPercent_ /= 1.1f;
  ZoomBy(0.90909094f);
}

void TdtpDocument::SetZoomPercent(float value) {
  if (!autoWidth_ || !(value > 0) || !std::isfinite(value)) return;
  // A zoom the view cannot show leaves everything as it is. The fit is
  // judged on the client area without bars, as FitWidth starts.
  if (TdtpPage* page = GetCurrentPage()) {
    const float extent = viewStyle_ == vsPrintLayout ? page->GetTotalWidth() : page->DocWidth();
    const float fit = (contentsRect().width() - (viewStyle_ == vsPrintLayout ? 22.0f : 2.0f)) /
                      extent;
    const float base = ValidDpm(fit) ? fit : screenDpm_;
    if (!ValidDpm(base * (value / 100.0f))) return;
  }
  zoomPercent_ = value;
  FitWidth();
  ZoomBy(value / 100.0f);
}

void TdtpDocument::FitWidth() {
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  // Without bars the client area is as wide as it gets.
  HideScrollBars();
  const float margin = viewStyle_ == vsPrintLayout ? 22.0f : 2.0f;
  const auto fit = [&] {
    const std::int32_t width = ClientWidth();
    const float extent = viewStyle_ == vsPrintLayout ? page->GetTotalWidth() : page->DocWidth();
    // A window too narrow for the page or a page without width keeps
    // the scale.
    SetScreenDpm((static_cast<float>(width) - margin) / extent);
    PageSizeChanged();
    return width;
  };
  const std::int32_t first = fit();
  // A scroll bar that came back took its width from the client area.
  if (ClientWidth() < first) fit();
  UpdateScrollBars();
}

void TdtpDocument::ZoomReset() {
  zoomPercent_ = 100;
  FitWidth();
}

void TdtpDocument::resizeEvent(QResizeEvent* event) {
  try {
    if (width() != lastWidth_) {
      lastWidth_ = width();
      if (autoWidth_ && zoomPercent_ == 100) SetZoomPercent(100);
    }
  } catch (...) {
    ShowCurrentException();
  }
  TVirtScrollBox::resizeEvent(event);
}

// ---- Invalidation and rulers -------------------------------------------------------------------

void TdtpDocument::InvalidateShape(TdtpShape* shape) {
  if (!shape || !parentWidget()) return;
  keptPage_ = QImage();
  const TRect r = shape->GetUpdateRect();
  if (r.Right > r.Left && r.Bottom > r.Top)
    viewport()->update(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top));
}

void TdtpDocument::UpdateRulers() {
  if (!rulerLeft_ && !rulerTop_ && !rulerCorner_) return;
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  // The rulers count from the page's origin: their offset is the page
  // coordinate at the window's top-left corner.
  const TFloatPoint origin = page->LocalToScreen({0, 0});
  if (rulerTop_) {
    rulerTop_->SetUnits(rulerUnits_);
    rulerTop_->SetOffset(-static_cast<double>(origin.X) / screenDpm_);
    rulerTop_->SetScreenDpm(screenDpm_);
  }
  if (rulerLeft_) {
    rulerLeft_->SetUnits(rulerUnits_);
    rulerLeft_->SetOffset(-static_cast<double>(origin.Y) / screenDpm_);
    rulerLeft_->SetScreenDpm(screenDpm_);
  }
  if (rulerCorner_) rulerCorner_->SetUnits(rulerUnits_);
}

// ---- Painting -------------------------------------------------------------------------------------

void TdtpDocument::Paint(QPainter& painter, const QRect& clip) {
  if (IsPrinting() || IsLoading()) return;
  if (dragState_ == dsDragging || dragState_ == dsRubberBand) {
    PaintKeptPage(painter, clip);
  } else {
    keptPage_ = QImage();
    PaintDocument(painter, clip);
    PaintHandles(painter);
  }
  PaintOverlays(painter);
}

void TdtpDocument::PaintKeptPage(QPainter& painter, const QRect& clip) {
  // The whole client area is rendered once per view; a scroll or zoom
  // during the gesture shows another view and renders it afresh.
  const QPaintDevice* device = painter.device();
  const double ratio = device && device->devicePixelRatio() > 0 ? device->devicePixelRatio() : 1;
  const QSize size = viewport()->size();
  const TKeptPageKey key{size,           ratio,          ScrollX(), ScrollY(),
                         VirtualWidth(), VirtualHeight(), screenDpm_};
  if (keptPage_.isNull() || !(key == keptPageKey_)) {
    keptPage_ = QImage(size * ratio, QImage::Format_RGB32);
    keptPage_.setDevicePixelRatio(ratio);
    keptPageKey_ = key;
    QPainter canvas(&keptPage_);
    PaintDocument(canvas, QRect(QPoint(0, 0), size));
    PaintHandles(canvas);
  }
  painter.drawImage(QRectF(clip), keptPage_,
                    QRectF(clip.x() * ratio, clip.y() * ratio, clip.width() * ratio,
                           clip.height() * ratio));
}

void TdtpDocument::PaintDocument(QPainter& canvas, const QRect& clip) {
  // 1. Nothing to paint.
  if (clip.isEmpty()) return;

  // 2. No page: the control's colour.
  TdtpPage* page = GetCurrentPage();
  const TColor32 back = Color32(Color());
  if (!page) {
    canvas.fillRect(clip, QColor::fromRgb(back));
    return;
  }

  // 3. On a high-density screen the clip renders at the device's pixels,
  // so the page stays sharp; the mapping keeps counting logical pixels.
  const QPaintDevice* device = canvas.device();
  const double ratio = device && device->devicePixelRatio() > 0 ? device->devicePixelRatio() : 1;
  const TRect pixels = DevicePixels(clip, ratio);
  TdtpPaintInfo info;
  info.Device = dtScreen;
  info.BackColor = Color32(page->PageColor()) & 0x00FFFFFFu;
  info.Scale = static_cast<float>(screenDpm_ * ratio);
  info.RenderScale = renderAtScreenRes_ ? static_cast<float>(screenDpm_ * ratio) : renderDpm_;
  info.StretchFilter = quality_;
  info.FreeCache = false;
  info.ExactScale = false;

  // 4. The clip's bitmap, opaque in the control's colour. An upright,
  // uncached page writes every pixel of its paper itself: when the paper
  // covers the clip with pixels to spare, there is no desk to clear.
  if (!paintBitmap_) paintBitmap_ = std::make_unique<TBitmap32>();
  TBitmap32& bitmap = *paintBitmap_;
  bitmap.SetSize(pixels.Width(), pixels.Height());
  bitmap.ResetClipRect();
  bool paperCovers = false;
  if (page->DocAngle() == 0 && !page->NeedsCache()) {
    const TFloatPoint p0 = DocToScreen(page->LocalToDoc({0, 0}));
    const TFloatPoint p1 = DocToScreen(page->LocalToDoc({page->PageWidth(), page->PageHeight()}));
    constexpr double kSpare = 2;
    paperCovers = p0.X * ratio <= pixels.Left - kSpare && p0.Y * ratio <= pixels.Top - kSpare &&
                  p1.X * ratio >= pixels.Right + kSpare && p1.Y * ratio >= pixels.Bottom + kSpare;
  }
  if (!paperCovers) bitmap.Clear(back);

  // 5-6. The page paints the part of the desk the clip shows.
  const TFloatPoint a = ScreenToDoc({static_cast<float>(pixels.Left / ratio),
                                     static_cast<float>(pixels.Top / ratio)});
  const TFloatPoint b = ScreenToDoc({static_cast<float>(pixels.Right / ratio),
                                     static_cast<float>(pixels.Bottom / ratio)});
  page->Paint(bitmap, {a.X, a.Y, b.X, b.Y}, false, info);

  // 7. Drawn from the bitmap's own memory.
  QImage view(reinterpret_cast<const uchar*>(bitmap.Bits()), bitmap.Width(), bitmap.Height(),
              static_cast<qsizetype>(bitmap.Width()) * 4, QImage::Format_RGB32);
  view.setDevicePixelRatio(ratio);
  canvas.drawImage(QPointF(pixels.Left / ratio, pixels.Top / ratio), view);

  // 8. Lazy page loading leaves its cursor behind.
  if (cursor_ != crAppStart && viewport()->cursor().shape() == ScreenCursor(crAppStart).shape())
    SetWidgetCursor(viewport(), cursor_);
}

void TdtpDocument::PaintHandles(QPainter& canvas) {
  if (readOnly_) return;
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  for (int i = 0; i < page->GetShapeCount(); ++i) {
    TdtpShape* shape = page->GetShape(i);
    if (shape && shape->Selected() && shape->AllowSelect()) DrawShapeHandles(*shape, canvas);
  }
  // The shape edited in place shows its own handles even when unselected.
  if (dragState_ == dsInPlaceEdit && editedShape_ && !editedShape_->Selected())
    DrawShapeHandles(*editedShape_, canvas);
}

}  // namespace kdl

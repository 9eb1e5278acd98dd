// The document's view: mapping between millimetres and client pixels, the
// page's place in the virtual area, zoom and painting.
#include <QPainter>
#include <cmath>

#include "document/view/Document.h"
#include "document/view/Page.h"

namespace kdl {

TFloatPoint TdtpDocument::DocToScreen(TFloatPoint point) const {
  return {(point.X - windowLeft_) * screenDpm_, (point.Y - windowTop_) * screenDpm_};
}

TFloatPoint TdtpDocument::ScreenToDoc(TFloatPoint point) const {
  return {point.X / screenDpm_ + windowLeft_, point.Y / screenDpm_ + windowTop_};
}

TRect TdtpDocument::DocRectToScreen(TFloatPoint origin, TFloatPoint size) const {
  const TFloatPoint a = DocToScreen(origin);
  const TFloatPoint b = DocToScreen({origin.X + size.X, origin.Y + size.Y});
  return {static_cast<std::int32_t>(std::nearbyint(a.X)), static_cast<std::int32_t>(std::nearbyint(a.Y)),
          static_cast<std::int32_t>(std::nearbyint(b.X)), static_cast<std::int32_t>(std::nearbyint(b.Y))};
}

void TdtpDocument::SetScreenDpm(float value) {
  if (value == screenDpm_) return;
  screenDpm_ = value;
  if (renderAtScreenRes_) SetRenderDpm(value);
  if (!IsPrinting()) Refresh();
}

void TdtpDocument::SetRenderDpm(float value) {
  if (value == renderDpm_) return;
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

void TdtpDocument::PageSizeChanged() {
  if (pageSizeChanging_) return;
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  pageSizeChanging_ = true;
  SetVirtualBounds(0, 0, page->DocWidth() * screenDpm_, page->DocHeight() * screenDpm_);
  pageSizeChanging_ = false;
}

void TdtpDocument::ZoomBy(float factor) {
  SetScreenDpm(screenDpm_ * factor);
  Refresh();
}

void TdtpDocument::ZoomIn() {
  zoomPercent_ *= 1.1f;
  ZoomBy(1.1f);
}

void TdtpDocument::ZoomOut() {
  zoomPercent_ /= 1.1f;
  ZoomBy(0.90909094f);
}

void TdtpDocument::SetZoomPercent(float value) {
  if (!autoWidth_) return;
  zoomPercent_ = value;
  FitWidth();
  ZoomBy(value / 100.0f);
}

void TdtpDocument::FitWidth() { PageSizeChanged(); }

void TdtpDocument::ZoomReset() {
  zoomPercent_ = 100;
  FitWidth();
}

void TdtpDocument::InvalidateShape(TdtpShape* /*shape*/) {
  if (parentWidget()) Refresh();
}

void TdtpDocument::UpdateRulers() {}

void TdtpDocument::Paint(QPainter& painter, const QRect& clip) {
  if (IsPrinting() || IsLoading()) return;
  PaintDocument(painter, clip);
  PaintHandles(painter);
}

void TdtpDocument::PaintDocument(QPainter& canvas, const QRect& clip) {
  if (clip.isEmpty()) return;
  const TColor c = Color();
  canvas.fillRect(clip, QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                               static_cast<int>((c >> 16) & 0xFF)));
}

void TdtpDocument::PaintHandles(QPainter& /*canvas*/) {}

void TdtpDocument::ScrollChanged() { ScrollPositionChanged(); }

void TdtpDocument::ScrollPositionChanged() {
  windowLeft_ = ScrollX() / screenDpm_;
  windowTop_ = ScrollY() / screenDpm_;
  UpdateRulers();
  if (OnUpdateScrollPosition) OnUpdateScrollPosition(*this);
}

void TdtpDocument::resizeEvent(QResizeEvent* event) { TVirtScrollBox::resizeEvent(event); }

}  // namespace kdl

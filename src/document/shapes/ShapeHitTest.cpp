// Which pixels a shape covers on screen, which handle lies under the mouse,
// and what frame a drag on a handle would give.
#include <QRect>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "document/shapes/DocumentServices.h"
#include "document/shapes/HandlePainter.h"
#include "document/shapes/Shape.h"
#include "platform/qt/GdiDrawing.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

// Mouse distance in squared pixels within which a handle line is grabbed.
constexpr double kLineGrabDistance2 = 10;
// Alpha, out of 255 at full master alpha, that a cache pixel must pass
// to count as hit.
constexpr std::int32_t kHitAlpha = 50;
// The snap step while Alt is held and the document sets none.
constexpr double kAltStepAngle = 5;
// No frame side shrinks below this by a handle drag, in mm.
constexpr float kMinDragSide = 1;

bool IsResizeCode(std::uint8_t code) {
  return (code >= hcTopLeft && code <= hcTop) || code == hcPoint;
}
bool IsLeftEdge(std::uint8_t code) { return code >= hcTopLeft && code <= hcBottomLeft; }
bool IsRightEdge(std::uint8_t code) { return code >= hcBottomRight && code <= hcTopRight; }
bool IsTopEdge(std::uint8_t code) {
  return code == hcTopLeft || code == hcTopRight || code == hcTop;
}
bool IsBottomEdge(std::uint8_t code) { return code >= hcBottomLeft && code <= hcBottomRight; }

// The centre of a screen pixel.
TFloatPoint PixelCentre(TPoint p) { return {p.X + 0.5f, p.Y + 0.5f}; }

double SegmentDistance2(TFloatPoint p, TFloatPoint a, TFloatPoint b) {
  const double abx = double{b.X} - a.X, aby = double{b.Y} - a.Y;
  const double apx = double{p.X} - a.X, apy = double{p.Y} - a.Y;
  const double length2 = abx * abx + aby * aby;
  const double t = length2 > 0 ? std::clamp((apx * abx + apy * aby) / length2, 0.0, 1.0) : 0.0;
  const double dx = apx - t * abx, dy = apy - t * aby;
  return dx * dx + dy * dy;
}

void Unite(TRect& r, const TRect& other) {
  r.Left = std::min(r.Left, other.Left);
  r.Top = std::min(r.Top, other.Top);
  r.Right = std::max(r.Right, other.Right);
  r.Bottom = std::max(r.Bottom, other.Bottom);
}

}  // namespace

// ---- Regions -----------------------------------------------------------------------

namespace {

std::optional<TScreenRegion> FrameRegion(const TdtpShape& shape, float l, float t, float r,
                                         float b) {
  const TFloatPoint corners[4] = {{l, t}, {r, t}, {r, b}, {l, b}};
  std::vector<TPoint> points;
  points.reserve(4);
  for (const TFloatPoint& corner : corners) {
    const TFloatPoint p = shape.LocalToScreen(corner);
    constexpr float kMax = static_cast<float>(TScreenRegion::kMaxCoordinate);
    if (!(std::fabs(p.X) <= kMax && std::fabs(p.Y) <= kMax)) return std::nullopt;
    points.push_back(RoundPoint(p));
  }
  return TScreenRegion(std::move(points));
}

}  // namespace

std::optional<TScreenRegion> TdtpShape::CreateRegion() const {
  return FrameRegion(*this, -marginLeft_, -marginTop_, docWidth_ + marginRight_,
                     docHeight_ + marginBottom_);
}

std::optional<TScreenRegion> TdtpShape::CreateScreenRegion() const {
  return FrameRegion(*this, 0, 0, docWidth_, docHeight_);
}

TRect TdtpShape::GetScreenBounds() const {
  const float l = -marginLeft_, t = -marginTop_;
  const float r = docWidth_ + marginRight_, b = docHeight_ + marginBottom_;
  const TFloatPoint corners[4] = {LocalToScreen({l, t}), LocalToScreen({r, t}),
                                  LocalToScreen({r, b}), LocalToScreen({l, b})};
  TFloatRect box{corners[0].X, corners[0].Y, corners[0].X, corners[0].Y};
  for (const TFloatPoint& c : corners) {
    box.Left = std::min(box.Left, c.X);
    box.Top = std::min(box.Top, c.Y);
    box.Right = std::max(box.Right, c.X);
    box.Bottom = std::max(box.Bottom, c.Y);
  }
  const TPoint tl = RoundPoint({box.Left - 0.5f, box.Top - 0.5f});
  const TPoint br = RoundPoint({box.Right + 0.5f, box.Bottom + 0.5f});
  return {tl.X, tl.Y, br.X, br.Y};
}

TRect TdtpShape::GetUpdateRect() {
  UpdateHandles();
  TRect r = GetScreenBounds();
  if (allowSelect_)
    for (int i = 0; i < handlePainter_->HandleCount(); ++i)
      Unite(r, handlePainter_->GetHandleRect(i));
  return r;
}

bool TdtpShape::RectInShape(const TRect& screenRect) const {
  const std::optional<TScreenRegion> region = CreateRegion();
  return region && region->Intersects(screenRect);
}

// ---- Hits --------------------------------------------------------------------------

std::uint8_t TdtpShape::HandleAtPoint(TPoint screen) {
  if (!selected_) return hcNone;
  if (!PtInRect(GetUpdateRect(), screen)) return hcNone;
  const TdtpHandlePainter& painter = *handlePainter_;
  auto allowed = [this](std::uint8_t code) {
    return IsResizeCode(code) && !allowResize_ ? std::uint8_t{hcNone} : code;
  };

  activeHandle_ = -1;
  std::uint8_t code = hcNone;
  for (int i = 0; i < painter.HandleCount() && code == hcNone; ++i) {
    if (!PtInRect(painter.GetHandleRect(i), screen)) continue;
    code = allowed(painter.GetHandle(i)->Kind);
    if (code != hcNone) activeHandle_ = i;
  }
  const TFloatPoint p = PixelCentre(screen);
  for (int i = 0; i < painter.DragLineCount() && code == hcNone; ++i) {
    const TdtpDragLine& line = *painter.GetDragLine(i);
    const TdtpHandle* a = painter.GetHandle(line.HandleA);
    const TdtpHandle* b = painter.GetHandle(line.HandleB);
    if (!a || !b) continue;
    if (SegmentDistance2(p, LocalToScreen(a->DragPosition), LocalToScreen(b->DragPosition)) <
        kLineGrabDistance2)
      code = allowed(line.Kind);
  }
  if (code == hcRotate && !allowRotate_) {
    code = hcNone;
    activeHandle_ = -1;
  }
  return code;
}

bool TdtpShape::HitTest(TPoint screen) {
  const std::optional<TScreenRegion> region = CreateRegion();
  if (!region || !region->Contains(screen)) return false;
  if (cache_) return HitTestPixel(screen);
  const std::optional<TScreenRegion> frame = CreateScreenRegion();
  if (!document_ || !frame) return false;
  for (int i = 0; i < document_->HitPointCount(); ++i) {
    const TPoint o = document_->GetHitPoint(i);
    if (frame->Contains({screen.X + o.X, screen.Y + o.Y})) return true;
  }
  return false;
}

TPoint TdtpShape::LocalToCache(TFloatPoint local) const {
  if (!IsCacheValid()) return {-1, -1};
  // Local (0, 0) lies at the corner of cache pixel cacheOrigin; the point
  // belongs to the pixel whose square holds it.
  const double x = std::floor(double{local.X} * cacheScale_ + cacheOriginX_);
  const double y = std::floor(double{local.Y} * cacheScale_ + cacheOriginY_);
  if (!(std::fabs(x) < 1e9 && std::fabs(y) < 1e9)) return {-1, -1};
  return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
}

bool TdtpShape::HitTestPixel(TPoint screen) const {
  if (!cache_) return true;
  const TPoint c = LocalToCache(ScreenToLocal(PixelCentre(screen)));
  const TBitmap32& cache = *cache_;
  auto inside = [&](std::int32_t x, std::int32_t y) {
    return x >= 0 && y >= 0 && x < cache.Width() && y < cache.Height();
  };
  if (!inside(c.X, c.Y)) return true;
  if (!document_) return false;
  const std::int32_t threshold = std::clamp(masterAlpha_, 0, 255) * kHitAlpha / 255;
  for (int i = 0; i < document_->HitPointCount(); ++i) {
    const TPoint o = document_->GetHitPoint(i);
    const std::int64_t x = std::int64_t{c.X} + o.X, y = std::int64_t{c.Y} + o.Y;
    const bool in = x >= 0 && y >= 0 && x < cache.Width() && y < cache.Height();
    const TColor32 pixel = in ? cache.GetPixel(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y))
                              : cache.OuterColor();
    if (AlphaComponent(pixel) > threshold) return true;
  }
  return false;
}

bool TdtpShape::ShapeAtPoint(TPoint screen, TdtpShape*& shape) {
  shape = nullptr;
  const std::optional<TScreenRegion> region = CreateRegion();
  if (!region || !region->Contains(screen)) return false;
  shape = this;
  // The top child first; a hidden one cannot be seen, so it is not hit.
  for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
    TdtpShape* found = nullptr;
    if ((*it)->Visible() && (*it)->ShapeAtPoint(screen, found)) {
      shape = found;
      return true;
    }
  }
  if (!cache_) return true;
  const bool hit = HitTestPixel(screen);
  if (!hit) shape = nullptr;
  return hit;
}

// ---- Drags -------------------------------------------------------------------------

void TdtpShape::HandleDrag(TFloatPoint delta, bool alt, std::uint8_t code, TAffineMatrix& matrix) {
  // 1. Every drag starts from the frame and the handles at rest, built
  // afresh in case the frame changed since they were shown.
  float dx = 0, dy = 0, sx = 1, sy = 1, dAngle = 0;
  UpdateHandles();
  TdtpHandlePainter& painter = *handlePainter_;
  for (int i = 0; i < painter.HandleCount(); ++i) {
    TdtpHandle& h = *painter.GetHandle(i);
    h.DragPosition = h.Position;
  }

  // 2. The mouse's move in the shape's own axes.
  const TFloatPoint v = DocToLocalVector(delta);
  const float w = docWidth_, h = docHeight_;
  float newWidth = w, newHeight = h;

  if (code == hcBody) {
    // 3.
    dx = v.X;
    dy = v.Y;
  } else if (code >= hcTopLeft && code <= hcTop) {
    // 4. The sides straight from the move; a scale only from a side that
    // is not 0, so that a shape without area gets no NaN.
    auto scale = [](float from, float to) { return from != 0 ? to / from : 1.0f; };
    if (IsLeftEdge(code)) newWidth = w - v.X;
    if (IsRightEdge(code)) newWidth = w + v.X;
    if (IsTopEdge(code)) newHeight = h - v.Y;
    if (IsBottomEdge(code)) newHeight = h + v.Y;
    if (preserveAspect_) {
      if (code == hcLeft || code == hcRight) newHeight = scale(w, newWidth) * h;
      if (code == hcBottom || code == hcTop) newWidth = scale(h, newHeight) * w;
    }
    newWidth = std::max(kMinDragSide, newWidth);
    newHeight = std::max(kMinDragSide, newHeight);
    ConstrainSize(newWidth, newHeight);
    sx = scale(w, newWidth);
    sy = scale(h, newHeight);
    if (IsLeftEdge(code)) dx = w - newWidth;
    if (IsTopEdge(code)) dy = h - newHeight;
    if (code == hcLeft || code == hcRight) dy = (h - newHeight) / 2;
    if (code == hcBottom || code == hcTop) dx = (w - newWidth) / 2;
  } else if (code == hcRotate) {
    // 5. Turned by the rotation handle the mouse holds; a shape that was
    // not grabbed itself turns by its own rotation handle.
    const TdtpHandle* handle = painter.GetHandle(activeHandle_);
    if (!handle || handle->Kind != hcRotate) {
      handle = nullptr;
      for (int i = 0; i < painter.HandleCount() && !handle; ++i)
        if (painter.GetHandle(i)->Kind == hcRotate) handle = painter.GetHandle(i);
    }
    if (handle) {
      const TFloatPoint p = handle->Position;
      const double a0 = std::atan2(double{p.Y} - h / 2.0, double{p.X} - w / 2.0);
      const double a1 = std::atan2(double{p.Y} + v.Y - h / 2.0, double{p.X} + v.X - w / 2.0);
      double turn = (a0 - a1) * 180 / std::numbers::pi;
      // Alt turns a configured snap off, and snaps to 5 degrees when none
      // is configured.
      if (document_) {
        const double step = document_->StepAngle();
        if ((step > 0) != alt) {
          const double s = step > 0 ? step : kAltStepAngle;
          turn = s * std::nearbyint((docAngle_ + turn) / s) - docAngle_;
        }
      }
      dAngle = static_cast<float>(turn);
    }
  } else if (code == hcPoint) {
    // 6.
    if (TdtpHandle* handle = painter.GetHandle(activeHandle_))
      handle->DragPosition = {handle->Position.X + v.X, handle->Position.Y + v.Y};
  } else {
    // 7.
    DragCustomHandle(dx, dy, sx, sy, dAngle, v, code);
    newWidth = sx * w;
    newHeight = sy * h;
  }

  // 8. The pending frame in the parent's space.
  pending_.Left = docLeft_ + cos_ * dx + sin_ * dy;
  pending_.Top = docTop_ - sin_ * dx + cos_ * dy;
  pending_.Width = newWidth;
  pending_.Height = newHeight;
  pending_.Angle = docAngle_ + dAngle;
  dragPending_ = true;

  // 9-10. The preview of the rest positions.
  TdtpAffineTransform m;
  m.Scale(sx, sy);
  if (dAngle != 0) m.Rotate(-static_cast<double>(dAngle), newWidth / 2.0, newHeight / 2.0);
  m.Translate(dx, dy);
  if (code >= hcBody && code <= hcRotate) {
    for (int i = 0; i < painter.HandleCount(); ++i) {
      TdtpHandle& handle = *painter.GetHandle(i);
      handle.DragPosition = m.Transform(handle.Position);
    }
  }
  matrix = m.Matrix();
}

void TdtpShape::ApplyDrag() {
  if (!dragPending_) return;
  dragPending_ = false;
  const TPendingDrag p = pending_;
  BeginUndo();
  try {
    SetBounds(p.Left, p.Top, p.Width, p.Height);
    RotateAboutCenter(p.Angle);
  } catch (...) {
    EndUndo();
    throw;
  }
  EndUndo();
}

// ---- Handles and overlays --------------------------------------------------------------

void TdtpShape::EnsureHandles() {
  if (!handlePainter_) {
    if (document_) handlePainter_ = document_->CreateHandlePainter(*this);
    if (!handlePainter_) handlePainter_ = std::make_unique<TdtpHandlePainter>();
  }
  handlePainter_->SetShape(this);
}

void TdtpShape::UpdateHandles() {
  EnsureHandles();
  handlePainter_->BuildHandles();
}

void TdtpShape::DrawHandles(QPainter& canvas) {
  if (!document_) return;
  UpdateHandles();
  handlePainter_->Paint(canvas);
}

void TdtpShape::DrawDragOutline(QPainter& canvas) {
  if (!document_) return;
  EnsureHandles();
  handlePainter_->PaintDragFeedback(canvas);
}

void TdtpShape::DrawFocusRect(QPainter& canvas, const TRect& rect, TColor color) {
  GdiRectangle(canvas, {Color32(color), 1, true, TPenMode::Xor}, std::nullopt,
               QRect(rect.Left, rect.Top, rect.Width(), rect.Height()));
}

}  // namespace kdl

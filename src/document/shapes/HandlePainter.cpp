#include "document/shapes/HandlePainter.h"

#include <QPoint>
#include <QRect>

#include <algorithm>
#include <optional>
#include <utility>

#include "document/shapes/DocumentServices.h"
#include "document/shapes/Shape.h"
#include "platform/qt/GdiDrawing.h"

namespace kdl {

namespace {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kGreen = 0xFF00FF00u;
// The plain painter's rotation handle stands just right of the frame.
constexpr float kRotationHandleReach = 1.03f;
// The W2K3 rotation circle stands this far above the top edge, in mm.
constexpr float kRotationStemLength = 5.0f;

QRgb Rgb(TColor color) { return Color32(color); }

QRect ToQRect(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

QPoint ToQPoint(TPoint p) { return QPoint(p.X, p.Y); }

template <typename T>
T* At(std::vector<T>& list, int index) {
  return index >= 0 && index < static_cast<int>(list.size()) ? &list[static_cast<std::size_t>(index)]
                                                             : nullptr;
}

template <typename T>
void Resize(std::vector<T>& list, int count) {
  list.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
}

}  // namespace

// ---- Lists -------------------------------------------------------------------------

TdtpHandle* TdtpHandlePainter::GetHandle(int index) { return At(handles_, index); }

const TdtpHandle* TdtpHandlePainter::GetHandle(int index) const {
  return const_cast<TdtpHandlePainter*>(this)->GetHandle(index);
}

void TdtpHandlePainter::SetHandleCount(int count) { Resize(handles_, count); }

TdtpDragLine* TdtpHandlePainter::GetDragLine(int index) { return At(lines_, index); }

const TdtpDragLine* TdtpHandlePainter::GetDragLine(int index) const {
  return const_cast<TdtpHandlePainter*>(this)->GetDragLine(index);
}

void TdtpHandlePainter::SetDragLineCount(int count) { Resize(lines_, count); }

// ---- Geometry ----------------------------------------------------------------------

TdtpShape& TdtpHandlePainter::RequireShape() const {
  if (!shape_) throw EHandlePainterError("Shape object must be assigned");
  return *shape_;
}

TColor TdtpHandlePainter::GetHandleColor() const {
  const TdtpDocumentServices* document = shape_ ? shape_->Document() : nullptr;
  return document ? document->HandleColor() : 0;
}

TColor TdtpHandlePainter::GetHandleEdgeColor() const {
  const TdtpDocumentServices* document = shape_ ? shape_->Document() : nullptr;
  return document ? document->HandleEdgeColor() : 0;
}

TPoint TdtpHandlePainter::ScreenPoint(TFloatPoint local) const {
  return RoundPoint(RequireShape().LocalToScreen(local));
}

TRect TdtpHandlePainter::GetHandleRect(int index) const {
  const TdtpShape& shape = RequireShape();
  const TdtpHandle* handle = GetHandle(index);
  if (!handle) return {};
  const TFloatPoint p = shape.LocalToScreen(handle->Position);
  const int r = GetHandleRadius();
  // The far side follows from the near one, so that a centre at a half
  // pixel still gets a square of 2r + 1.
  constexpr std::int32_t kFar = 1 << 30;
  TPoint corner = RoundPoint({p.X - r, p.Y - r});
  corner = {std::clamp(corner.X, -kFar, kFar), std::clamp(corner.Y, -kFar, kFar)};
  return {corner.X, corner.Y, corner.X + 2 * r + 1, corner.Y + 2 * r + 1};
}

// ---- The plain painter -----------------------------------------------------------------

void TdtpHandlePainter::BuildHandles() {
  const TdtpShape& shape = RequireShape();
  const float w = shape.DocWidth(), h = shape.DocHeight();
  struct TPlace {
    std::uint8_t Kind;
    TFloatPoint Position;
  };
  const TPlace places[] = {{hcTopLeft, {0, 0}},
                           {hcBottomLeft, {0, h}},
                           {hcBottomRight, {w, h}},
                           {hcTopRight, {w, 0}},
                           {hcRotate, {kRotationHandleReach * w, h / 2}}};
  const int count = shape.AllowRotate() ? 5 : 4;
  SetHandleCount(count);
  for (int i = 0; i < count; ++i) handles_[i] = {places[i].Kind, places[i].Position, places[i].Position};

  // The frame's sides, each grabbed as its edge.
  const std::uint8_t sides[] = {hcLeft, hcBottom, hcRight, hcTop};
  SetDragLineCount(4);
  for (int i = 0; i < 4; ++i) lines_[i] = {i, (i + 1) % 4, sides[i], true, true};
}

void TdtpHandlePainter::PaintDragLines(QPainter& canvas) {
  const TGdiPen pen{linePen_.Color, linePen_.Width, linePen_.Dotted, TPenMode::Copy};
  for (const TdtpDragLine& line : lines_) {
    const TdtpHandle* a = GetHandle(line.HandleA);
    const TdtpHandle* b = GetHandle(line.HandleB);
    if (!line.Visible || !a || !b) continue;
    GdiLine(canvas, pen, ToQPoint(ScreenPoint(a->Position)), ToQPoint(ScreenPoint(b->Position)));
  }
}

void TdtpHandlePainter::PaintDragFeedback(QPainter& canvas) {
  if (lines_.empty()) return;
  RequireShape();
  const TGdiPen pen{Rgb(GetHandleEdgeColor()), 1, true, TPenMode::Xor};
  for (const TdtpDragLine& line : lines_) {
    const TdtpHandle* a = GetHandle(line.HandleA);
    const TdtpHandle* b = GetHandle(line.HandleB);
    if (!line.VisibleWhileDragging || !a || !b) continue;
    GdiLine(canvas, pen, ToQPoint(ScreenPoint(a->DragPosition)),
            ToQPoint(ScreenPoint(b->DragPosition)));
  }
}

void TdtpHandlePainter::PaintHandle(QPainter& canvas, int index) {
  const TdtpShape& shape = RequireShape();
  const TdtpHandle* handle = GetHandle(index);
  if (!handle) return;
  const TGdiPen pen{Rgb(GetHandleEdgeColor()), 1, false, TPenMode::Copy};
  const QRect rect = ToQRect(GetHandleRect(index));
  if (handle->Kind == hcRotate) {
    if (shape.AllowRotate()) GdiEllipse(canvas, pen, Rgb(GetHandleColor()), rect);
  } else if (shape.AllowResize()) {
    GdiRectangle(canvas, pen, Rgb(GetHandleColor()), rect);
  }
}

void TdtpHandlePainter::SetLinePen(QRgb color, int width, bool dotted) {
  linePen_ = {color, width, dotted};
}

void TdtpHandlePainter::Paint(QPainter& canvas) {
  RequireShape();
  // A dotted frame over a white halo stays visible on any picture.
  SetLinePen(kWhite, 3, false);
  PaintDragLines(canvas);
  SetLinePen(Rgb(GetHandleEdgeColor()), 1, true);
  PaintDragLines(canvas);
  for (int i = 0; i < HandleCount(); ++i) PaintHandle(canvas, i);
}

// ---- The W2K3 painter ------------------------------------------------------------------

void TdtpW2K3HandlePainter::BuildHandles() {
  const TdtpShape& shape = RequireShape();
  const float w = shape.DocWidth(), h = shape.DocHeight();
  const std::pair<std::uint8_t, TFloatPoint> places[] = {
      {hcTopLeft, {0, 0}},          {hcTop, {w / 2, 0}},   {hcTopRight, {w, 0}},
      {hcRight, {w, h / 2}},        {hcBottomRight, {w, h}}, {hcBottom, {w / 2, h}},
      {hcBottomLeft, {0, h}},       {hcLeft, {0, h / 2}},  {hcRotate, {w / 2, -kRotationStemLength}}};
  SetHandleCount(9);
  for (int i = 0; i < 9; ++i) *GetHandle(i) = {places[i].first, places[i].second, places[i].second};

  // The frame shows only while dragging; the stem to the rotation circle
  // only at rest, and only when the shape may turn.
  SetDragLineCount(5);
  const int corners[] = {0, 2, 4, 6};
  for (int i = 0; i < 4; ++i) *GetDragLine(i) = {corners[i], corners[(i + 1) % 4], hcNone, false, true};
  *GetDragLine(4) = {1, 8, hcNone, shape.AllowRotate(), false};
}

void TdtpW2K3HandlePainter::PaintHandle(QPainter& canvas, int index) {
  const TdtpShape& shape = RequireShape();
  const TdtpHandle* handle = GetHandle(index);
  if (!handle) return;
  const TGdiPen pen{kBlack, 1, false, TPenMode::Copy};
  const QRect rect = ToQRect(GetHandleRect(index));
  const std::uint8_t kind = handle->Kind;
  if ((kind >= hcBody && kind <= hcTop) || kind == hcPoint)
    GdiEllipse(canvas, pen, kWhite, rect);
  else if (kind == hcRotate && shape.AllowRotate())
    GdiEllipse(canvas, pen, kGreen, rect);
}

void TdtpW2K3HandlePainter::Paint(QPainter& canvas) {
  RequireShape();
  SetLinePen(kBlack, 1, false);
  PaintDragLines(canvas);
  for (int i = 0; i < HandleCount(); ++i) PaintHandle(canvas, i);
}

}  // namespace kdl

#include "document/kinds/FreehandShape.h"

#include "document/shapes/DocumentServices.h"
#include "document/shapes/PolygonPoints.h"
#include "foundation/XmlNode.h"

namespace kdl {
namespace {

// Moves closer than this (squared mm) to the last point add nothing.
constexpr float kMinStepSquared = 0.25f;

}  // namespace

TdtpFreehandShape::TdtpFreehandShape() {
  SetStorePoints(true);
  SetIsClosed(false);
  SetUseFill(false);
}

void TdtpFreehandShape::NewContour() {
  TArrayOfArrayOfFloatPoint& points = MutablePoints();
  if (!points.empty() && points.back().size() < 2)
    points.back().clear();
  else
    points.emplace_back();
}

void TdtpFreehandShape::AddStrokePoint(TFloatPoint point) {
  if (MutablePoints().empty()) MutablePoints().emplace_back();
  AddPoint(point);
  // The frame follows the points: it moves by their bounds' corner while
  // the points move back by as much, so nothing moves on the page.
  const TFloatRect b = GetPointsBounds();
  if (b.Right - b.Left > 0 && b.Bottom - b.Top > 0) {
    if (b.Left != 0 || b.Top != 0) {
      OffsetPoints(-b.Left, -b.Top);
      lastPoint_ = {lastPoint_.X - b.Left, lastPoint_.Y - b.Top};
    }
    SetDocBounds(DocLeft() + b.Left, DocTop() + b.Top, b.Right - b.Left, b.Bottom - b.Top);
  }
  SetPolygonsDirty();
  if (NeedsCache())
    Update();
  else
    Invalidate();
}

TFloatPoint TdtpFreehandShape::LocalOf(const TdtpMouseInfo& mouse) const {
  return ScreenToLocal({static_cast<float>(mouse.X), static_cast<float>(mouse.Y)});
}

void TdtpFreehandShape::BeginEdit() {
  // The whole drawing is one undo step, which brings the strokes back
  // exactly (the frame's own record would scale them).
  BeginUndo();
  groupOpen_ = true;
  RecordUndo(0, "Polygon", PointsToText(Points()));
}

void TdtpFreehandShape::EndEdit(bool accept) {
  drawing_ = false;
  const bool wasOpen = groupOpen_;
  groupOpen_ = false;
  if ((accept && !HasNoPoints()) || !Document()) {
    TArrayOfArrayOfFloatPoint& points = MutablePoints();
    while (!points.empty() && points.back().size() < 2) points.pop_back();
    // A polygon keeps at least one contour.
    if (points.empty()) points.emplace_back();
    SetPolygonsDirty();
    Invalidate();
    if (wasOpen) EndUndo();
    return;
  }
  if (wasOpen) EndUndo();
  Document()->DiscardShape(this);
}

void TdtpFreehandShape::KeyDown(std::int32_t& key, const TdtpMouseInfo& /*keys*/) {
  TdtpDocumentServices* document = Document();
  if (!document) return;
  switch (key) {
    case 3:
    case 27: document->EndEdit(false); break;
    case 32:
      SetIsClosed(true);
      document->EndEdit(true);
      break;
    case 9:
    case 13:
    case 43:
    case 113: document->EndEdit(true); break;
    default: break;
  }
}

void TdtpFreehandShape::MouseDown(const TdtpMouseInfo& mouse) {
  if (mouse.Right) {
    if (Document()) Document()->EndEdit(true);
    return;
  }
  drawing_ = true;
  lastPoint_ = LocalOf(mouse);
  NewContour();
  AddStrokePoint(lastPoint_);
}

void TdtpFreehandShape::MouseMove(const TdtpMouseInfo& mouse) {
  if (!drawing_) return;
  const TFloatPoint p = LocalOf(mouse);
  const float dx = p.X - lastPoint_.X, dy = p.Y - lastPoint_.Y;
  if (dx * dx + dy * dy <= kMinStepSquared) return;
  lastPoint_ = p;
  AddStrokePoint(p);
}

void TdtpFreehandShape::MouseUp(const TdtpMouseInfo& mouse) {
  if (!drawing_) return;
  const TFloatPoint p = LocalOf(mouse);
  if (p.X != lastPoint_.X || p.Y != lastPoint_.Y) AddStrokePoint(p);
  drawing_ = false;
  if (!Document()) return;
  if (autoRestart_)
    NewContour();
  else
    Document()->EndEdit(true);
}

void TdtpFreehandShape::DrawHandles(QPainter& canvas) {
  if (IsEditing()) return;
  TdtpPolygonShape::DrawHandles(canvas);
}

void TdtpFreehandShape::LoadFromXml(TXmlNode* node) {
  TdtpPolygonShape::LoadFromXml(node);
  if (node) autoRestart_ = node->ReadBool("AutoRestart", false);
}

void TdtpFreehandShape::SaveToXml(TXmlNode* node) {
  TdtpPolygonShape::SaveToXml(node);
  if (node) node->WriteBool("AutoRestart", autoRestart_, false);
}

}  // namespace kdl

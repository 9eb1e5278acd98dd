#include "document/kinds/LineShape.h"
#include "document/shapes/ShapeUndoGroup.h"

#include <QPoint>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "document/shapes/Command.h"
#include "document/shapes/HandlePainter.h"
#include "document/shapes/ShapeValues.h"
#include "foundation/XmlNode.h"
#include "platform/qt/GdiDrawing.h"

namespace kdl {

namespace {

bool SameText(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// A component relative to a frame side; 0 when the side is not positive.
float Relative(float value, float origin, float size) { return size > 0 ? (value - origin) / size : 0; }

struct TVec {
  double X, Y;
};
TVec operator+(TVec a, TVec b) { return {a.X + b.X, a.Y + b.Y}; }
TVec operator-(TVec a, TVec b) { return {a.X - b.X, a.Y - b.Y}; }
TVec operator*(TVec a, double s) { return {a.X * s, a.Y * s}; }

// The undo text of the two end points: "X0;Y0;X1;Y1" in parent mm.
std::string PointsText(TFloatPoint a, TFloatPoint b) {
  return FloatToStr(a.X) + ";" + FloatToStr(a.Y) + ";" + FloatToStr(b.X) + ";" + FloatToStr(b.Y);
}

void ParsePointsText(const std::string& text, TFloatPoint& a, TFloatPoint& b) {
  float v[4];
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t end = i < 3 ? text.find(';', start) : text.size();
    if (end == std::string::npos) throw EConvertError("'" + text + "' is not a valid point pair");
    v[i] = static_cast<float>(StrToFloat(std::string_view(text).substr(start, end - start)));
    start = end + 1;
  }
  a = {v[0], v[1]};
  b = {v[2], v[3]};
}

}  // namespace

// ---- TdtpArrow ---------------------------------------------------------------------------

void TdtpArrow::SetStyle(std::uint8_t value) {
  if (value == style_ || value >= kArrowStyleNames.size()) return;
  if (owner_) owner_->Invalidate();
  style_ = value;
  if (owner_) {
    owner_->UpdateAll();
    owner_->Changed();
  }
}

void TdtpArrow::LoadFromXml(TXmlNode& node) {
  const std::string style = node.ReadString("Style", "");
  for (std::size_t i = 0; i < kArrowStyleNames.size(); ++i)
    if (style == kArrowStyleNames[i]) SetStyle(static_cast<std::uint8_t>(i));
  width_ = static_cast<float>(node.ReadFloat("Width", 0));
  length_ = static_cast<float>(node.ReadFloat("Length", 0));
}

void TdtpArrow::SaveToXml(TXmlNode& node) const {
  node.WriteString("Style", kArrowStyleNames[style_], "");
  node.WriteFloat("Width", width_, 0);
  node.WriteFloat("Length", length_, 0);
}

// ---- TdtpLineShape -----------------------------------------------------------------------

TdtpLineShape::TdtpLineShape() {
  arrows_[0] = std::make_unique<TdtpArrow>(this);
  arrows_[1] = std::make_unique<TdtpArrow>(this);
  relPoints_ = {{0, 0}, {1, 1}};
  SetFillColor(0);
  SetIsClosed(true);
  SetStorePoints(false);
  SetUseOutline(false);
  SetUseFill(true);
  SetCursor(kCrossLineCursor);
  BuildPoints();
  UpdateMargins();
}

TdtpLineShape::~TdtpLineShape() = default;

TFloatPoint TdtpLineShape::GetPoint(int index) const {
  if (index < 0 || index >= PointCount()) return {0, 0};
  const TFloatPoint& r = relPoints_[static_cast<std::size_t>(index)];
  return {r.X * DocWidth() + DocLeft(), r.Y * DocHeight() + DocTop()};
}

TdtpArrow* TdtpLineShape::GetArrow(int index) const {
  if (index < 0 || index > 1) return nullptr;
  return arrows_[static_cast<std::size_t>(index)].get();
}

void TdtpLineShape::RecordPoints() {
  if (!RecordsUndo()) return;
  RecordUndo(ckPropertyChanged, "Points", PointsText(GetPoint(0), GetPoint(1)));
}

void TdtpLineShape::PlacePoints(const TFloatPoint* p0, const TFloatPoint* p1) {
  TShapeUndoGroup group(*this);
  RecordPoints();
  const TFloatPoint* p[2] = {p0, p1};
  for (std::size_t i = 0; i < 2; ++i) {
    if (!p[i] || i >= relPoints_.size()) continue;
    relPoints_[i] = {Relative(p[i]->X, DocLeft(), DocWidth()), Relative(p[i]->Y, DocTop(), DocHeight())};
  }
  RecalcBounds();
  UpdateAll();
  Changed();
}

void TdtpLineShape::SetPoint(int index, const TFloatPoint& point) {
  if (index == 0)
    PlacePoints(&point, nullptr);
  else if (index == 1)
    PlacePoints(nullptr, &point);
}

void TdtpLineShape::AddLinePoint(const TFloatPoint& point) {
  relPoints_.push_back({0, 0});
  SetPoint(PointCount() - 1, point);
}

void TdtpLineShape::SetLineWidth(float value) {
  if (value == lineWidth_) return;
  RecordUndoFloat(ckPropertyChanged, "LineWidth", lineWidth_);
  lineWidth_ = value;
  UpdateAll();
  Changed();
}

void TdtpLineShape::RecalcBounds() {
  if (relPoints_.empty()) return;
  // 1.
  float minX = 0, maxX = 0, minY = 0, maxY = 0;
  for (int i = 0; i < PointCount(); ++i) {
    const TFloatPoint p = GetPoint(i);
    if (i == 0) {
      minX = maxX = p.X;
      minY = maxY = p.Y;
      continue;
    }
    minX = std::min(minX, p.X);
    maxX = std::max(maxX, p.X);
    minY = std::min(minY, p.Y);
    maxY = std::max(maxY, p.Y);
  }
  // 2. At least 1 mm each way.
  if (maxX - minX == 0) maxX = minX + 1;
  if (maxY - minY == 0) maxY = minY + 1;
  // 3.
  const float w = maxX - minX, h = maxY - minY;
  for (int i = 0; i < PointCount(); ++i) {
    const TFloatPoint p = GetPoint(i);
    relPoints_[static_cast<std::size_t>(i)] = {Relative(p.X, minX, w), Relative(p.Y, minY, h)};
  }
  // 4.
  SetDocBounds(minX, minY, w, h);
}

void TdtpLineShape::SetDocAngle(float value) {
  if (!std::isfinite(value) || value == 0) return;
  TShapeUndoGroup group(*this);
  RecordPoints();
  const double a = static_cast<double>(value) * std::numbers::pi / 180;
  const double c = std::cos(a), s = std::sin(a);
  const float w = DocWidth(), h = DocHeight();
  for (TFloatPoint& r : relPoints_) {
    const double x = static_cast<double>(r.X) * w, y = static_cast<double>(r.Y) * h;
    r = {w > 0 ? static_cast<float>((c * x + s * y) / w) : 0,
         h > 0 ? static_cast<float>((-s * x + c * y) / h) : 0};
  }
  RecalcBounds();
  UpdateAll();
  Changed();
}

void TdtpLineShape::SetBoundsRect(const TFloatRect& rect) {
  if (relPoints_.size() >= 2) {
    if (rect.Right < rect.Left) {
      relPoints_[0].X = 1;
      relPoints_[1].X = 0;
    }
    if (rect.Bottom < rect.Top) {
      relPoints_[0].Y = 1;
      relPoints_[1].Y = 0;
    }
  }
  TdtpPolygonShape::SetBoundsRect(rect);
}

void TdtpLineShape::SetPropertyText(const std::string& propName, const std::string& value) {
  TdtpPolygonShape::SetPropertyText(propName, value);
  if (SameText(propName, "LineWidth")) SetLineWidth(static_cast<float>(StrToFloat(value)));
  if (SameText(propName, "Points")) {
    TFloatPoint a, b;
    ParsePointsText(value, a, b);
    PlacePoints(&a, &b);
  }
}

// ---- Outline -----------------------------------------------------------------------------

void TdtpLineShape::BuildPoints() {
  // 1. Coinciding ends keep the outline they had.
  const TFloatPoint p0 = GetPoint(0), p1 = GetPoint(1);
  if (p0 == p1) return;
  // 2.
  ClearPoints();
  ArrowCap(*arrows_[0], p0, p1);
  ArrowCap(*arrows_[1], p1, p0);
  // 3.
  OffsetPoints(-DocLeft(), -DocTop());
}

void TdtpLineShape::ArrowCap(const TdtpArrow& arrow, TFloatPoint tip, TFloatPoint other) {
  TdtpLineShape* owner = arrow.Owner();
  if (!owner) return;
  auto add = [owner](TVec v) { owner->AddPoint({static_cast<float>(v.X), static_cast<float>(v.Y)}); };

  // 1-2.
  const TVec t{tip.X, tip.Y};
  const TVec d = t - TVec{other.X, other.Y};
  const double len = std::hypot(d.X, d.Y);
  if (!(len > 0) || !std::isfinite(len)) return;
  const TVec u = d * (1 / len);
  const TVec n{-u.Y, u.X};

  // 3. A negative or broken line width draws as a hairline body.
  const double lw = std::isfinite(lineWidth_) && lineWidth_ > 0 ? lineWidth_ : 0;
  const double width = arrow.Width(), length = arrow.Length();
  const TVec hb = n * (lw / 2);
  const TVec ha = n * (width / 2);

  // 4. A head no wider than the line, or of broken size, is a plain end.
  int style = arrow.Style();
  if (!(width > lw) || !std::isfinite(width) || !std::isfinite(length)) style = asNoArrow;

  // 5. Open and stealth heads need a usable slope E and arm length W.
  double h = style == asNoArrow ? 0 : std::min(len * 0.7, static_cast<double>(length));
  double e = 0, w = 0;
  if (style == asOpenArrow || style == asStealthArrow) {
    e = h / width * 2;
    w = std::max(0.0, h - (std::sqrt(e * e + 1) + e / 2) * lw);
    if (!std::isfinite(e) || !std::isfinite(w) || (e == 0 && w > 0)) {
      style = asNoArrow;
      h = 0;
    }
  }
  const TVec b = t - u * h;

  // 6.
  const TVec q = b - hb;
  const TVec p = b + hb;

  // 7.
  switch (style) {
    case asArrow:
      add(q), add(b - ha), add(t), add(b + ha), add(p);
      break;
    case asOpenArrow:
      add(q);
      if (w > 0) add(q + u * w), add(q - n * (w / e));
      add(b - ha), add(t), add(b + ha);
      if (w > 0) add(p + n * (w / e)), add(p + u * w);
      add(p);
      break;
    case asStealthArrow: {
      add(q);
      TArrayOfFloatPoint k;
      double r = 0;
      if (w > 0) {
        r = width / 2 - lw * 0.75 - w / e;
        k = QuarterArcPoints(static_cast<float>(w * GetRenderScale()));
        for (const TFloatPoint& ki : k)
          add(q + u * (w * ki.X) - n * (ki.Y * r) - n * (w * (1 - ki.X) / e));
      }
      add(b - ha), add(t), add(b + ha);
      for (std::size_t i = k.size(); i-- > 0;)
        add(p + u * (w * k[i].X) + n * (k[i].Y * r) + n * (w * (1 - k[i].X) / e));
      add(p);
      break;
    }
    case asDiamond: {
      const double a = h / 2;
      add(q), add(b + u * a - ha), add(t), add(b + u * a + ha), add(p);
      break;
    }
    case asOval: {
      const double a = h / 2, g = width / 2;
      const TArrayOfFloatPoint k = QuarterArcPoints(static_cast<float>(std::max(g, a) * GetRenderScale()));
      const std::size_t cnt = k.size() - 1;
      // Points of the back half only where they stand out of the body.
      auto outside = [&](TVec x, TVec from) { return (x.X - from.X) * u.Y - (x.Y - from.Y) * u.X; };
      add(q);
      for (std::size_t i = 1; i < cnt; ++i) {
        const TVec x = b + u * (a * (1 - k[i].X)) - n * (g * k[i].Y);
        if (outside(x, q) > 0) add(x);
      }
      for (std::size_t i = cnt; i >= 1; --i) add(b + u * (a * (k[i].X + 1)) - n * (g * k[i].Y));
      for (std::size_t i = 0; i < cnt; ++i) add(b + u * (a * (k[i].X + 1)) + n * (g * k[i].Y));
      for (std::size_t i = cnt; i >= 1; --i) {
        const TVec x = b + u * (a * (1 - k[i].X)) + n * (g * k[i].Y);
        if (outside(x, p) < 0) add(x);
      }
      add(p);
      break;
    }
    case asRectangle:
      add(q), add(b - ha), add(t - ha), add(t + ha), add(b + ha), add(p);
      break;
    default:
      add(q), add(p);
      break;
  }
}

// ---- Handles and drags --------------------------------------------------------------------

TFloatPoint TdtpLineShape::Reflect(TFloatPoint local) const {
  return {Mirrored() ? DocWidth() - local.X : local.X, Flipped() ? DocHeight() - local.Y : local.Y};
}

void TdtpLineShape::UpdateHandles() {
  EnsureHandles();
  TdtpHandlePainter& painter = *HandlePainter();
  const int count = PointCount();
  painter.SetHandleCount(count);
  for (int i = 0; i < count; ++i) {
    const TFloatPoint p = GetPoint(i);
    const TFloatPoint at = Reflect({p.X - DocLeft(), p.Y - DocTop()});
    *painter.GetHandle(i) = {hcPoint, at, at};
  }
  painter.SetDragLineCount(std::max(count - 1, 0));
  for (int i = 0; i + 1 < count; ++i) *painter.GetDragLine(i) = {i, i + 1, hcNone, true, true};
}

void TdtpLineShape::HandleDrag(TFloatPoint delta, bool alt, std::uint8_t code, TAffineMatrix& matrix) {
  TdtpPolygonShape::HandleDrag(delta, alt, code, matrix);
  draggedPoint_ = code == hcPoint ? ActiveHandle() : -1;
}

void TdtpLineShape::ApplyDrag() {
  const int index = draggedPoint_;
  draggedPoint_ = -1;
  TdtpHandlePainter* painter = HandlePainter();
  const TdtpHandle* handle = index >= 0 && painter ? painter->GetHandle(index) : nullptr;
  if (!handle) {
    TdtpPolygonShape::ApplyDrag();
    return;
  }
  TShapeUndoGroup group(*this);
  // The pending frame of a point drag is the frame as it is: committing it
  // changes nothing but ends the drag.
  TdtpPolygonShape::ApplyDrag();
  if (!Mirrored() && !Flipped()) {
    SetPoint(index, {handle->DragPosition.X + DocLeft(), handle->DragPosition.Y + DocTop()});
    return;
  }
  // Reflected, both ends are placed from where they show: the dragged one
  // under the mouse, the other where it was, reflected back within the
  // frame they span, which is the new frame.
  if (index > 1 || painter->HandleCount() < 2) return;
  TFloatPoint shown[2] = {painter->GetHandle(0)->DragPosition, painter->GetHandle(1)->DragPosition};
  shown[1 - index] = painter->GetHandle(1 - index)->Position;
  // Ends level on an axis get a frame 1 mm beyond them, whose reflection
  // shows them 1 mm further on.
  auto unreflect = [](float a, float b, float v) {
    const float lo = std::min(a, b), hi = std::max(a, b);
    return hi > lo ? lo + hi - v : v - 1;
  };
  TFloatPoint p[2];
  for (int i = 0; i < 2; ++i)
    p[i] = {(Mirrored() ? unreflect(shown[0].X, shown[1].X, shown[i].X) : shown[i].X) + DocLeft(),
            (Flipped() ? unreflect(shown[0].Y, shown[1].Y, shown[i].Y) : shown[i].Y) + DocTop()};
  PlacePoints(&p[0], &p[1]);
}

void TdtpLineShape::DrawFocusRect(QPainter& canvas, const TRect& rect, TColor color) {
  GdiLine(canvas, {Color32(color), 1, true, TPenMode::Xor}, QPoint(rect.Left, rect.Top),
          QPoint(rect.Right, rect.Bottom));
}

// ---- XML ---------------------------------------------------------------------------------

void TdtpLineShape::SaveToXml(TXmlNode* node) {
  if (!node) return;
  arrows_[0]->SaveToXml(*node->AddNewChild("Arrow0"));
  arrows_[1]->SaveToXml(*node->AddNewChild("Arrow1"));
  TXmlNode* points = node->AddNewChild("Points");
  for (int i = 0; i < PointCount(); ++i) {
    const TFloatPoint p = GetPoint(i);
    TXmlNode* point = points->AddNewChild("Point");
    point->WriteFloat("X", p.X, 0);
    point->WriteFloat("Y", p.Y, 0);
  }
  node->WriteFloat("LineWidth", lineWidth_, 0);
  TdtpPolygonShape::SaveToXml(node);
}

void TdtpLineShape::LoadFromXml(TXmlNode* node) {
  // What the reader sets is the file's, not the user's change.
  TLoadScope loading(*this);
  TdtpPolygonShape::LoadFromXml(node);
  if (TXmlNode* a = node->FindChild("Arrow0")) arrows_[0]->LoadFromXml(*a);
  if (TXmlNode* a = node->FindChild("Arrow1")) arrows_[1]->LoadFromXml(*a);
  relPoints_.clear();
  if (TXmlNode* points = node->FindChild("Points")) {
    TXmlNodeList list;
    points->FindChildren("Point", &list);
    for (TXmlNode* p : list)
      AddLinePoint({static_cast<float>(p->ReadFloat("X", 0)), static_cast<float>(p->ReadFloat("Y", 0))});
  }
  // Both ends always exist: missing ones take the new line's corners.
  const TFloatPoint corners[2] = {{0, 0}, {1, 1}};
  while (relPoints_.size() < 2) relPoints_.push_back(corners[relPoints_.size()]);
  lineWidth_ = static_cast<float>(node->ReadFloat("LineWidth", 0));
  BuildPoints();
  SetPolygonsDirty();
  UpdateMargins();
}

}  // namespace kdl

#include "app/shapes/ExLineShape.h"

#include <strings.h>

#include <cmath>

#include "document/shapes/Command.h"
#include "document/shapes/ShapeValues.h"
#include "foundation/XmlNode.h"

namespace kdl {

void TDtpExLineShape::SetPenStyle(std::uint8_t value) {
  if (value == penStyle_) return;
  RecordUndoInt(ckPropertyChanged, "PenStyle", penStyle_);
  Invalidate();
  penStyle_ = value;
  BuildPoints();
  SetPolygonsDirty();
  UpdateAll();
  Changed();
}

void TDtpExLineShape::SetPropertyText(const std::string& propName, const std::string& value) {
  TdtpLineShape::SetPropertyText(propName, value);
  if (strcasecmp(propName.c_str(), "PenStyle") == 0) SetPenStyle(static_cast<std::uint8_t>(StrToInt(value)));
}

void TDtpExLineShape::AddDash(double ax, double ay, double bx, double by, double nx, double ny) {
  AddPointXY(static_cast<float>(ax - nx), static_cast<float>(ay + ny));
  AddPointXY(static_cast<float>(ax + nx), static_cast<float>(ay - ny));
  AddPointXY(static_cast<float>(bx + nx), static_cast<float>(by - ny));
  AddPointXY(static_cast<float>(bx - nx), static_cast<float>(by + ny));
  NewContour();
}

void TDtpExLineShape::BuildPoints() {
  if (penStyle_ != psDashed) {
    TdtpLineShape::BuildPoints();
    return;
  }
  // 1-3. A line without length, or with broken geometry, draws nothing.
  ClearPoints();
  const double w = LineWidth();
  const TFloatPoint s = GetPoint(0), e = GetPoint(1);
  const double dx = static_cast<double>(e.X) - s.X, dy = static_cast<double>(e.Y) - s.Y;
  const double length = std::hypot(dx, dy);
  if (!(length > 0) || !std::isfinite(length) || !std::isfinite(w)) return;
  const double dashes = std::trunc(length / 10);
  if (dashes > kMaxDashCount) {
    TdtpLineShape::BuildPoints();
    return;
  }
  // 4. 5 mm along the line, and half the width across it.
  const double stepX = dx * 5 / length, stepY = dy * 5 / length;
  const double nx = dy * w / (2 * length), ny = dx * w / (2 * length);
  // 5-6. Dash and gap of 5 mm each, in the shape's own coordinates.
  double px = static_cast<double>(s.X) - DocLeft(), py = static_cast<double>(s.Y) - DocTop();
  for (long k = static_cast<long>(dashes); k > 0; --k) {
    AddDash(px, py, px + stepX, py + stepY, nx, ny);
    px += 2 * stepX;
    py += 2 * stepY;
  }
  // 7. The rest, shorter than 10 mm, ends at the end point.
  AddDash(px, py, static_cast<double>(e.X) - DocLeft(), static_cast<double>(e.Y) - DocTop(), nx, ny);
}

void TDtpExLineShape::LoadFromXml(TXmlNode* node) {
  TdtpLineShape::LoadFromXml(node);
  if (!node) return;
  penStyle_ = static_cast<std::uint8_t>(node->ReadInteger("PenStyle", 0));
  BuildPoints();
  SetPolygonsDirty();
}

void TDtpExLineShape::SaveToXml(TXmlNode* node) {
  TdtpLineShape::SaveToXml(node);
  if (!node) return;
  node->WriteInteger("PenStyle", penStyle_, 0);
}

}  // namespace kdl

#include "document/kinds/PolygonShape.h"

#include <strings.h>

#include <algorithm>
#include <cmath>

#include "document/shapes/Command.h"
#include "document/shapes/Rendering.h"
#include "document/shapes/ShapeUndoGroup.h"
#include "document/shapes/ShapeValues.h"
#include "foundation/XmlNode.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

bool SameText(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Half the outline, so that the ring's outer half stays inside the cache.
float OutlineCurb(float width) { return std::max(0.1f, width / 2); }

// One white-and-black stipple period of eight pixels.
const TArrayOfColor32 kStipplePattern = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                                         0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000};

}  // namespace

// ---- TdtpPolygonShape ---------------------------------------------------------------

TdtpPolygonShape::TdtpPolygonShape() {
  points_.emplace_back();
  SetDocSize(40, 30);
  SetCurb(OutlineCurb(outlineWidth_));
}

TdtpPolygonShape::~TdtpPolygonShape() = default;

TFloatRect TdtpPolygonShape::GetPointsBounds() const {
  return ContoursBounds<TFloatRect>(points_);
}

void TdtpPolygonShape::FitPointsToRect(const TFloatRect& rect) {
  const TFloatRect b = GetPointsBounds();
  OffsetPoints(-b.Left, -b.Top);
  const float bw = b.Right - b.Left, bh = b.Bottom - b.Top;
  const float rw = rect.Right - rect.Left, rh = rect.Bottom - rect.Top;
  if (bw > 0 && bh > 0 && rw > 0 && rh > 0) ScalePoints(rw / bw, rh / bh);
  OffsetPoints(rect.Left, rect.Top);
}

void TdtpPolygonShape::OffsetPoints(float dx, float dy) {
  if (dx == 0 && dy == 0) return;
  for (TArrayOfFloatPoint& contour : points_)
    for (TFloatPoint& p : contour) {
      p.X += dx;
      p.Y += dy;
    }
}

void TdtpPolygonShape::ScalePoints(float sx, float sy) {
  for (TArrayOfFloatPoint& contour : points_)
    for (TFloatPoint& p : contour) {
      p.X *= sx;
      p.Y *= sy;
    }
}

void TdtpPolygonShape::UpdatePolygons() {
  if (!storePoints_) BuildPoints();
  fillPolygon_.reset();
  outlinePolygon_.reset();
  TPolygon32Pair built = BuildPolygon32(points_, PaintTransform(), outlineWidth_, isClosed_, useOutline_);
  fillPolygon_ = std::move(built.Fill);
  outlinePolygon_ = std::move(built.Outline);
  polygonsDirty_ = false;
}

void TdtpPolygonShape::AddPoint(const TFloatPoint& point) {
  if (points_.empty()) points_.emplace_back();
  points_.back().push_back(point);
}

void TdtpPolygonShape::ClearPoints() {
  points_.clear();
  points_.emplace_back();
}

void TdtpPolygonShape::NewContour() { points_.emplace_back(); }

bool TdtpPolygonShape::HasNoPoints() const {
  return points_.empty() || (points_.size() == 1 && points_[0].empty());
}

float TdtpPolygonShape::GetRenderScale() const {
  const auto scale = static_cast<float>(PaintTransform().A);
  return scale == 0 ? 1 : scale;
}

// ---- Setters ---------------------------------------------------------------------------

void TdtpPolygonShape::SetIsClosed(bool value) {
  if (value == isClosed_) return;
  RecordUndoBool(ckPropertyChanged, "IsClosed", isClosed_);
  isClosed_ = value;
  if (fillPolygon_) fillPolygon_->SetCloseContours(value);
  polygonsDirty_ = true;
  Update();
  Changed();
}

void TdtpPolygonShape::SetOutlineWidth(float value) {
  // A broken width would make the margins, and so the cache, unusable.
  if (!std::isfinite(value)) return;
  SetCurb(OutlineCurb(value));
  if (value == outlineWidth_) return;
  Invalidate();
  RecordUndoFloat(ckPropertyChanged, "OutlineWidth", outlineWidth_);
  outlineWidth_ = value;
  SetCurb(OutlineCurb(outlineWidth_));
  polygonsDirty_ = true;
  Update();
  Changed();
}

void TdtpPolygonShape::SetFillAlpha(std::int32_t value) {
  if (value == fillAlpha_) return;
  RecordUndoFloat(ckPropertyChanged, "FillAlpha", fillAlpha_);
  fillAlpha_ = value;
  Update();
  Changed();
}

void TdtpPolygonShape::SetFillColor(TColor value) {
  if (value == fillColor_) return;
  RecordUndoInt(ckPropertyChanged, "FillColor", fillColor_);
  fillColor_ = value;
  Update();
  Changed();
}

void TdtpPolygonShape::SetOutlineColor(TColor value) {
  if (value == outlineColor_) return;
  RecordUndoInt(ckPropertyChanged, "OutlineColor", outlineColor_);
  outlineColor_ = value;
  Update();
  Changed();
}

void TdtpPolygonShape::SetUseFill(bool value) {
  if (value == useFill_) return;
  RecordUndoBool(ckPropertyChanged, "UseFill", useFill_);
  useFill_ = value;
  Update();
  Changed();
}

void TdtpPolygonShape::SetUseOutline(bool value) {
  if (value == useOutline_) return;
  Invalidate();
  RecordUndoBool(ckPropertyChanged, "UseOutline", useOutline_);
  useOutline_ = value;
  polygonsDirty_ = true;
  Update();
  Changed();
}

void TdtpPolygonShape::SetUseStipple(bool value) {
  if (value == useStipple_) return;
  useStipple_ = value;
  Update();
  Changed();
}

void TdtpPolygonShape::SetPropertyText(const std::string& propName, const std::string& value) {
  TdtpEffectShape::SetPropertyText(propName, value);
  if (SameText(propName, "IsClosed")) SetIsClosed(TextToBool(value));
  if (SameText(propName, "OutlineWidth")) SetOutlineWidth(static_cast<float>(StrToFloat(value)));
  if (SameText(propName, "FillAlpha")) SetFillAlpha(StrToInt(value));
  if (SameText(propName, "FillColor")) SetFillColor(StrToInt(value));
  if (SameText(propName, "OutlineColor")) SetOutlineColor(StrToInt(value));
  if (SameText(propName, "UseFill")) SetUseFill(TextToBool(value));
  if (SameText(propName, "UseOutline")) SetUseOutline(TextToBool(value));
  if (SameText(propName, "UseStipple")) SetUseStipple(TextToBool(value));
  if (SameText(propName, "Polygon")) {
    // Undo of a drawing: the recorded contours, exactly.
    RecordUndo(0, "Polygon", PointsToText(points_));
    points_ = TextToPoints(value);
    polygonsDirty_ = true;
    Invalidate();
  }
}

// ---- Rendering ------------------------------------------------------------------------

void TdtpPolygonShape::SetPaintTransform(const TAffineMatrix& value) {
  TdtpEffectShape::SetPaintTransform(value);
  polygonsDirty_ = true;
}

void TdtpPolygonShape::Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) {
  TdtpEffectShape::Paint32(bitmap, info);
  // 1.
  if (polygonsDirty_ || !fillPolygon_) UpdatePolygons();

  // 2.
  if (useFill_)
    fillPolygon_->Fill(bitmap, SetAlpha(Color32(fillColor_), std::clamp(fillAlpha_, 0, 255)));

  // 3. The stipple period is only usable for a positive finite size; any
  // other draws the plain hairline in its place.
  const double step = 8.0 / (static_cast<double>(GetRenderScale()) * stippleSize_);
  const bool stippleUsable = useStipple_ && std::isfinite(step) && step > 0;
  const TColor32 outline = Color32(outlineColor_);
  if (useOutline_) {
    if (outlineWidth_ != 0) {
      if (outlinePolygon_) outlinePolygon_->Fill(bitmap, outline);
    } else if (!stippleUsable) {
      fillPolygon_->DrawEdges(bitmap, outline);
    }
  }

  // 4.
  if (useStipple_) {
    if (stippleUsable)
      StrokeStipple(bitmap, static_cast<float>(step));
    else if (!useOutline_ || outlineWidth_ != 0)
      fillPolygon_->DrawEdges(bitmap, outline);
  }
}

void TdtpPolygonShape::StrokeStipple(TBitmap32& bitmap, float step) {
  bitmap.SetStipple(kStipplePattern);
  bitmap.SetStippleStep(step);
  bitmap.SetStippleCounter(0);
  const TColor32 color = Color32(outlineColor_);
  bitmap.Lock();
  try {
    for (const TArrayOfFixedPoint& line : fillPolygon_->Contours()) {
      if (line.size() == 1) {
        if (isClosed_) bitmap.SetPixelFS(line[0].X, line[0].Y, color);
        continue;
      }
      if (line.size() < 2) continue;
      bitmap.MoveToX(line[0].X, line[0].Y);
      for (std::size_t i = 1; i < line.size(); ++i) bitmap.LineToXSP(line[i].X, line[i].Y);
      if (isClosed_) bitmap.LineToXSP(line[0].X, line[0].Y);
    }
  } catch (...) {
    bitmap.Unlock();
    throw;
  }
  bitmap.Unlock();
  bitmap.Changed();
}

void TdtpPolygonShape::SetDocSize(float width, float height) {
  const float oldWidth = DocWidth(), oldHeight = DocHeight();
  TShapeUndoGroup group(*this);
  // Scaling there and back is not exact in floats: the user's points are
  // recorded before the size, so that Undo, once the size is back, puts
  // them back as they were.
  if (storePoints_ && !IsEditing() && (width != oldWidth || height != oldHeight) && RecordsUndo())
    RecordUndo(ckPropertyChanged, "Polygon", PointsToText(points_));
  TdtpEffectShape::SetDocSize(width, height);
  if (!(width > 0 && height > 0 && oldWidth > 0 && oldHeight > 0)) return;
  if (storePoints_) {
    if (!IsEditing()) ScalePoints(width / oldWidth, height / oldHeight);
  } else {
    BuildPoints();
  }
  polygonsDirty_ = true;
}

void TdtpPolygonShape::AdjustMargins(float& left, float& top, float& right, float& bottom) const {
  // Generated points follow the frame and the kind's settings; margins are
  // asked for after either changed.
  if (!storePoints_) const_cast<TdtpPolygonShape*>(this)->BuildPoints();
  TFloatRect b = GetPointsBounds();
  if (useOutline_) {
    const float grow = std::max(outlineWidth_, 0.5f);
    b = {b.Left - grow, b.Top - grow, b.Right + grow, b.Bottom + grow};
  }
  left = std::max(left, -b.Left);
  top = std::max(top, -b.Top);
  right = std::max(right, b.Right - DocWidth());
  bottom = std::max(bottom, b.Bottom - DocHeight());
  TdtpEffectShape::AdjustMargins(left, top, right, bottom);
}

std::optional<TScreenRegion> TdtpPolygonShape::CreateScreenRegion() const {
  constexpr auto kMax = static_cast<float>(TScreenRegion::kMaxCoordinate);
  std::vector<std::vector<TPoint>> contours;
  contours.reserve(points_.size());
  for (const TArrayOfFloatPoint& contour : points_) {
    std::vector<TPoint>& corners = contours.emplace_back();
    corners.reserve(contour.size());
    for (const TFloatPoint& local : contour) {
      const TFloatPoint p = LocalToScreen(local);
      if (!(std::fabs(p.X) <= kMax && std::fabs(p.Y) <= kMax)) return std::nullopt;
      corners.push_back(RoundPoint(p));
    }
  }
  return TScreenRegion(std::move(contours));
}

void TdtpPolygonShape::ClearShapes() {
  ClearPoints();
  TdtpEffectShape::ClearShapes();
}

// ---- XML ---------------------------------------------------------------------------------

void TdtpPolygonShape::SaveToXml(TXmlNode* node) {
  TdtpEffectShape::SaveToXml(node);
  if (!node) return;
  node->WriteFloat("OutlineWidth", outlineWidth_, 0);
  node->WriteInteger("FillAlpha", fillAlpha_, 0);
  node->WriteColor("FillColor", fillColor_, 0);
  node->WriteColor("OutlineColor", outlineColor_, 0);
  node->WriteBool("UseFill", useFill_, false);
  node->WriteBool("UseOutline", useOutline_, false);
  node->WriteBool("UseStipple", useStipple_, false);
  node->WriteFloat("StippleSize", stippleSize_, 2);
  node->WriteBool("IsClosed", isClosed_, true);
  node->WriteBool("StorePoints", storePoints_, false);
  if (!storePoints_) return;
  TXmlNode* polygon = node->AddNewChild("Polygon");
  for (const TArrayOfFloatPoint& contour : points_) {
    TXmlNode* line = polygon->AddNewChild("Line");
    for (const TFloatPoint& p : contour) {
      TXmlNode* point = line->AddNewChild("Point");
      point->WriteFloat("X", p.X, 0);
      point->WriteFloat("Y", p.Y, 0);
    }
  }
}

void TdtpPolygonShape::LoadFromXml(TXmlNode* node) {
  // What the reader sets is the file's, not the user's change.
  TLoadScope loading(*this);
  TdtpEffectShape::LoadFromXml(node);
  // Stored as the setter would, curbs included, without undo or events.
  const auto width = static_cast<float>(node->ReadFloat("OutlineWidth", 0));
  if (std::isfinite(width)) outlineWidth_ = width;
  SetCurb(OutlineCurb(outlineWidth_));
  fillAlpha_ = node->ReadInteger("FillAlpha", 0);
  fillColor_ = node->ReadColor("FillColor", 0);
  outlineColor_ = node->ReadColor("OutlineColor", 0);
  useFill_ = node->ReadBool("UseFill", false);
  useOutline_ = node->ReadBool("UseOutline", false);
  useStipple_ = node->ReadBool("UseStipple", false);
  stippleSize_ = static_cast<float>(node->ReadFloat("StippleSize", 2));
  isClosed_ = node->ReadBool("IsClosed", true);
  storePoints_ = node->ReadBool("StorePoints", false);
  if (storePoints_) {
    ClearPoints();
    TXmlNodeList lines;
    if (TXmlNode* polygon = node->FindChild("Polygon")) polygon->FindChildren("Line", &lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) NewContour();
      TXmlNodeList points;
      lines[i]->FindChildren("Point", &points);
      for (TXmlNode* p : points)
        AddPointXY(static_cast<float>(p->ReadFloat("X", 0)), static_cast<float>(p->ReadFloat("Y", 0)));
    }
  } else {
    BuildPoints();
  }
  polygonsDirty_ = true;
  UpdateMargins();
}

// ---- TdtpEllipseShape ---------------------------------------------------------------

TdtpEllipseShape::TdtpEllipseShape() {
  SetCursor(kCrossEllipseCursor);
  BuildPoints();
  UpdateMargins();
}

void TdtpEllipseShape::BuildPoints() {
  ClearPoints();
  const float w = DocWidth(), h = DocHeight();
  const TArrayOfFloatPoint k = QuarterArcPoints(std::max(w, h) / 2 * GetRenderScale());
  const std::size_t n = k.size() - 1;
  const float cx = w / 2, cy = h / 2;
  auto px = [&](std::size_t i) { return k[i].X * w / 2; };
  auto py = [&](std::size_t i) { return k[i].Y * h / 2; };
  TArrayOfFloatPoint& contour = MutablePoints().back();
  contour.reserve(4 * n);
  for (std::size_t i = 0; i < n; ++i) contour.push_back({cx + px(i), cy + py(i)});
  for (std::size_t i = n; i >= 1; --i) contour.push_back({cx - px(i), cy + py(i)});
  for (std::size_t i = 0; i < n; ++i) contour.push_back({cx - px(i), cy - py(i)});
  for (std::size_t i = n; i >= 1; --i) contour.push_back({cx + px(i), cy - py(i)});
}

// ---- TdtpRectangleShape --------------------------------------------------------------

TdtpRectangleShape::TdtpRectangleShape() {
  SetCursor(kCrossRectangleCursor);
  BuildPoints();
  UpdateMargins();
}

void TdtpRectangleShape::BuildPoints() {
  ClearPoints();
  const float w = DocWidth(), h = DocHeight();
  MutablePoints().back() = {{0, 0}, {0, h}, {w, h}, {w, 0}};
}

// ---- TdtpRoundRectShape --------------------------------------------------------------

TdtpRoundRectShape::TdtpRoundRectShape() {
  SetCursor(kCrossRectangleCursor);
  BuildPoints();
  UpdateMargins();
}

void TdtpRoundRectShape::SetCornerWidth(float value) {
  if (value == cornerWidth_) return;
  RecordUndoFloat(ckPropertyChanged, "CornerWidth", cornerWidth_);
  cornerWidth_ = value;
  Update();
  Changed();
}

void TdtpRoundRectShape::SetCornerHeight(float value) {
  if (value == cornerHeight_) return;
  RecordUndoFloat(ckPropertyChanged, "CornerHeight", cornerHeight_);
  cornerHeight_ = value;
  Update();
  Changed();
}

void TdtpRoundRectShape::SetCornerPropertiesArePercentage(bool value) {
  if (value == cornerPercentage_) return;
  cornerPercentage_ = value;
  Update();
  Changed();
}

void TdtpRoundRectShape::BuildPoints() {
  ClearPoints();
  const float w = DocWidth(), h = DocHeight();
  float rx, ry;
  if (cornerPercentage_) {
    rx = std::min(w / 2, w * cornerWidth_ / 100);
    ry = std::min(h / 2, h * cornerHeight_ / 100);
  } else {
    rx = std::min(w / 2, cornerWidth_);
    ry = std::min(h / 2, cornerHeight_);
  }
  // Corner offsets from (0, RY) at i = 0 to (RX, 0) at i = N.
  const TArrayOfFloatPoint k = QuarterArcPoints(std::max(rx, ry) * GetRenderScale());
  const std::size_t n = k.size() - 1;
  TArrayOfFloatPoint d(k.size());
  for (std::size_t i = 0; i <= n; ++i) d[i] = {rx * (1 - k[i].X), ry * (1 - k[i].Y)};
  TArrayOfFloatPoint& contour = MutablePoints().back();
  contour.reserve(4 * (n + 1));
  for (std::size_t i = 0; i <= n; ++i) contour.push_back({d[i].X, d[i].Y});
  for (std::size_t i = n + 1; i-- > 0;) contour.push_back({w - d[i].X, d[i].Y});
  for (std::size_t i = 0; i <= n; ++i) contour.push_back({w - d[i].X, h - d[i].Y});
  for (std::size_t i = n + 1; i-- > 0;) contour.push_back({d[i].X, h - d[i].Y});
}

void TdtpRoundRectShape::SetPropertyText(const std::string& propName, const std::string& value) {
  TdtpPolygonShape::SetPropertyText(propName, value);
  if (SameText(propName, "CornerWidth")) SetCornerWidth(static_cast<float>(StrToFloat(value)));
  if (SameText(propName, "CornerHeight")) SetCornerHeight(static_cast<float>(StrToFloat(value)));
}

void TdtpRoundRectShape::SaveToXml(TXmlNode* node) {
  TdtpPolygonShape::SaveToXml(node);
  if (!node) return;
  node->WriteFloat("CornerWidth", cornerWidth_, 0);
  node->WriteFloat("CornerHeight", cornerHeight_, 0);
  node->WriteBool("CornerPropertiesArePercentage", cornerPercentage_, false);
}

void TdtpRoundRectShape::LoadFromXml(TXmlNode* node) {
  // The corners first: the polygon part builds the points from them.
  if (node) {
    cornerWidth_ = static_cast<float>(node->ReadFloat("CornerWidth", 0));
    cornerHeight_ = static_cast<float>(node->ReadFloat("CornerHeight", 0));
    cornerPercentage_ = node->ReadBool("CornerPropertiesArePercentage", false);
  }
  TdtpPolygonShape::LoadFromXml(node);
}

}  // namespace kdl

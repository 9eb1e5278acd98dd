// Filled and outlined vector figures: contours of float points in the
// shape's own millimetres, filled and outlined anti-aliased. The ellipse,
// rectangle and round rectangle generate their points from the frame; a
// polygon with StorePoints keeps the user's points, saves them and scales
// them with the frame.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "document/effects/EffectShape.h"
#include "document/shapes/PolygonPoints.h"

namespace kdl {

inline constexpr std::int16_t kCrossLineCursor = -33;
inline constexpr std::int16_t kCrossRectangleCursor = -35;
inline constexpr std::int16_t kCrossEllipseCursor = -36;

class TdtpPolygonShape : public TdtpEffectShape {
 public:
  TdtpPolygonShape();
  ~TdtpPolygonShape() override;

  std::string ClassName() const override { return "TdtpPolygonShape"; }

  // ---- Points (mm, frame coordinates) --------------------------------------------
  // {min X, min Y, max X, max Y}; all zero without points.
  virtual TFloatRect GetPointsBounds() const;
  virtual void FitPointsToRect(const TFloatRect& rect);
  // Regenerates the points from the frame; the base keeps them as they are.
  virtual void BuildPoints() {}
  virtual void OffsetPoints(float dx, float dy);
  virtual void ScalePoints(float sx, float sy);
  virtual void UpdatePolygons();
  // Appends to the last contour.
  virtual void AddPoint(const TFloatPoint& point);
  virtual void AddPointXY(float x, float y) { AddPoint({x, y}); }
  // Leaves one empty contour.
  virtual void ClearPoints();
  virtual void NewContour();
  bool HasNoPoints() const;
  const TArrayOfArrayOfFloatPoint& Points() const { return points_; }
  // The x scale of the paint transform (pixels per mm); 1 when it is 0.
  float GetRenderScale() const;

  // ---- Properties -----------------------------------------------------------------
  bool IsClosed() const { return isClosed_; }
  void SetIsClosed(bool value);
  float OutlineWidth() const { return outlineWidth_; }
  void SetOutlineWidth(float value);
  std::int32_t FillAlpha() const { return fillAlpha_; }
  void SetFillAlpha(std::int32_t value);
  TColor FillColor() const { return fillColor_; }
  void SetFillColor(TColor value);
  TColor OutlineColor() const { return outlineColor_; }
  void SetOutlineColor(TColor value);
  bool UseFill() const { return useFill_; }
  void SetUseFill(bool value);
  bool UseOutline() const { return useOutline_; }
  void SetUseOutline(bool value);
  bool UseStipple() const { return useStipple_; }
  void SetUseStipple(bool value);
  // Millimetres per white-and-black period; read from XML only.
  float StippleSize() const { return stippleSize_; }
  bool StorePoints() const { return storePoints_; }
  void SetStorePoints(bool value) { storePoints_ = value; }
  bool PolygonsDirty() const { return polygonsDirty_; }
  void SetPolygonsDirty() { polygonsDirty_ = true; }
  // The contours in bitmap pixels as last built; the outline may be null.
  const TPolygon32* FillPolygon() const { return fillPolygon_.get(); }
  const TPolygon32* OutlinePolygon() const { return outlinePolygon_.get(); }

  // ---- Overrides --------------------------------------------------------------------
  void SetPaintTransform(const TAffineMatrix& value) override;
  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) override;
  void SetDocSize(float width, float height) override;
  void AdjustMargins(float& left, float& top, float& right, float& bottom) const override;
  // The area the points enclose, even-odd over the contours; the outline's
  // width is not part of it.
  std::optional<TScreenRegion> CreateScreenRegion() const override;
  void ClearShapes() override;
  void SetPropertyText(const std::string& propName, const std::string& value) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;

 protected:
  TArrayOfArrayOfFloatPoint& MutablePoints() { return points_; }

 private:
  void StrokeStipple(TBitmap32& bitmap, float step);

  std::unique_ptr<TPolygon32> fillPolygon_;
  std::unique_ptr<TPolygon32> outlinePolygon_;
  bool isClosed_ = true;
  float outlineWidth_ = 0.5f;
  bool polygonsDirty_ = true;
  std::int32_t fillAlpha_ = 255;
  TColor fillColor_ = 0xFF0000;
  TColor outlineColor_ = 0;
  float stippleSize_ = 2;
  bool useFill_ = true;
  bool useOutline_ = true;
  bool useStipple_ = false;
  TArrayOfArrayOfFloatPoint points_;
  bool storePoints_ = false;
};

class TdtpEllipseShape : public TdtpPolygonShape {
 public:
  TdtpEllipseShape();
  std::string ClassName() const override { return "TdtpEllipseShape"; }
  // 4N points clockwise from the rightmost one, N from the rendered size.
  void BuildPoints() override;
};

class TdtpRectangleShape : public TdtpPolygonShape {
 public:
  TdtpRectangleShape();
  std::string ClassName() const override { return "TdtpRectangleShape"; }
  void BuildPoints() override;
};

class TdtpRoundRectShape : public TdtpPolygonShape {
 public:
  TdtpRoundRectShape();
  std::string ClassName() const override { return "TdtpRoundRectShape"; }

  // Millimetres, or per cent of the frame's width and height.
  float CornerWidth() const { return cornerWidth_; }
  void SetCornerWidth(float value);
  float CornerHeight() const { return cornerHeight_; }
  void SetCornerHeight(float value);
  bool CornerPropertiesArePercentage() const { return cornerPercentage_; }
  void SetCornerPropertiesArePercentage(bool value);

  void BuildPoints() override;
  void SetPropertyText(const std::string& propName, const std::string& value) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;

 private:
  float cornerWidth_ = 10;
  float cornerHeight_ = 7.5f;
  bool cornerPercentage_ = false;
};

}  // namespace kdl

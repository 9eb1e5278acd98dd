// A straight line between two points with a thickness and a head at each
// end. Its one closed contour is generated from the points: the body as a
// band of the line width, closed at each end by that end's cap.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/kinds/PolygonShape.h"

namespace kdl {

class TdtpLineShape;

// The XML vocabulary of the head styles, in index order.
inline constexpr std::array<const char*, 7> kArrowStyleNames = {
    "NoArrow", "Arrow", "OpenArrow", "StealthArrow", "Diamond", "Oval", "Rectangle"};

enum TdtpArrowStyle : std::uint8_t {
  asNoArrow = 0,
  asArrow = 1,
  asOpenArrow = 2,
  asStealthArrow = 3,
  asDiamond = 4,
  asOval = 5,
  asRectangle = 6,
};

class TdtpArrow {
 public:
  explicit TdtpArrow(TdtpLineShape* owner) : owner_(owner) {}
  virtual ~TdtpArrow() = default;
  TdtpArrow(const TdtpArrow&) = delete;
  TdtpArrow& operator=(const TdtpArrow&) = delete;

  std::uint8_t Style() const { return style_; }
  // An index past the last style is ignored.
  void SetStyle(std::uint8_t value);
  // The full width across the line and the length along it, in mm.
  float Width() const { return width_; }
  float Length() const { return length_; }
  TdtpLineShape* Owner() const { return owner_; }

  virtual void LoadFromXml(TXmlNode& node);
  virtual void SaveToXml(TXmlNode& node) const;

 private:
  std::uint8_t style_ = asNoArrow;
  float width_ = 5;
  float length_ = 7;
  TdtpLineShape* owner_;
};

class TdtpLineShape : public TdtpPolygonShape {
 public:
  TdtpLineShape();
  ~TdtpLineShape() override;

  std::string ClassName() const override { return "TdtpLineShape"; }

  virtual int PointCount() const { return static_cast<int>(relPoints_.size()); }
  // Each point relative to the frame: 0 the left (top) edge, 1 the right
  // (bottom) one.
  const std::vector<TFloatPoint>& RelPoints() const { return relPoints_; }
  // In the parent's mm; (0, 0) out of range.
  TFloatPoint GetPoint(int index) const;
  // Only the two end points can be placed; the frame is refitted around
  // them. Undo restores both points.
  void SetPoint(int index, const TFloatPoint& point);
  // Appends a relative point and places it.
  void AddLinePoint(const TFloatPoint& point);
  // Nil for an index other than 0 or 1.
  TdtpArrow* GetArrow(int index) const;
  float LineWidth() const { return lineWidth_; }
  void SetLineWidth(float value);

  // The outline around the body and both caps.
  void BuildPoints() override;
  // Turns the points about the frame's top-left corner; the shape's own
  // angle stays as it is.
  void SetDocAngle(float value) override;
  // A rubber band dragged right to left or upwards starts the line where
  // the drag began.
  void SetBoundsRect(const TFloatRect& rect) override;
  void SetPropertyText(const std::string& propName, const std::string& value) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;

  // One point handle per point, joined by drag lines. A mirrored or flipped
  // line shows them where its reflected image shows the points.
  void UpdateHandles() override;
  void HandleDrag(TFloatPoint delta, bool alt, std::uint8_t code, TAffineMatrix& matrix) override;
  // A dragged point handle places its point under the mouse; any other
  // drag moves, resizes or turns the frame.
  void ApplyDrag() override;
  // While a new line is dragged out: the line from where the drag began to
  // where the mouse is.
  void DrawFocusRect(QPainter& canvas, const TRect& rect, TColor color) override;

 private:
  // Between a point's frame position and where its handle shows: the
  // reflection of the cached image, its own inverse.
  TFloatPoint Reflect(TFloatPoint local) const;
  void RecalcBounds();
  // Appends the cap of one end to the contour.
  void ArrowCap(const TdtpArrow& arrow, TFloatPoint tip, TFloatPoint other);
  // Places the two end points (either may be left out) with one undo record
  // of both old points.
  void PlacePoints(const TFloatPoint* p0, const TFloatPoint* p1);
  void RecordPoints();

  std::array<std::unique_ptr<TdtpArrow>, 2> arrows_;
  std::vector<TFloatPoint> relPoints_;
  float lineWidth_ = 1;
  // The point whose handle the pending drag moves; -1 for a frame drag.
  int draggedPoint_ = -1;
};

}  // namespace kdl

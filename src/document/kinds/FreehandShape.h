// A pencil drawing: strokes of the points the mouse passed through, kept
// as the polygon's open contours and drawn as its outline. It is drawn
// while the document edits it in place; the frame follows the strokes.
#pragma once

#include <string>

#include "document/kinds/PolygonShape.h"

namespace kdl {

class TdtpFreehandShape : public TdtpPolygonShape {
 public:
  TdtpFreehandShape();

  std::string ClassName() const override { return "TdtpFreehandShape"; }

  // After a stroke, the next may start at once; off, the first stroke
  // finishes the drawing.
  bool AutoRestart() const { return autoRestart_; }
  void SetAutoRestart(bool value) { autoRestart_ = value; }
  // The last point taken, local mm; whether a stroke is under way.
  TFloatPoint LastPoint() const { return lastPoint_; }
  bool Drawing() const { return drawing_; }

  // Reuses a last contour of fewer than two points.
  void NewContour() override;
  void BuildPoints() override {}

  void BeginEdit() override;
  void EndEdit(bool accept) override;
  void KeyDown(std::int32_t& key, const TdtpMouseInfo& keys) override;
  void MouseDown(const TdtpMouseInfo& mouse) override;
  void MouseMove(const TdtpMouseInfo& mouse) override;
  void MouseUp(const TdtpMouseInfo& mouse) override;
  void DrawHandles(QPainter& canvas) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;

 private:
  void AddStrokePoint(TFloatPoint point);
  TFloatPoint LocalOf(const TdtpMouseInfo& mouse) const;

  bool autoRestart_ = true;
  TFloatPoint lastPoint_{};
  bool drawing_ = false;
  // The undo group of the drawing is open.
  bool groupOpen_ = false;
};

}  // namespace kdl

// A drawable shape and an effect for rendering tests: the shape fills its
// frame through the paint transform with an anti-aliased polygon (or, on
// request, through the canvas) and counts its draws; the effect changes
// every pixel's alpha by a rule simple enough to work out by hand.
#pragma once

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "document/effects/Effect.h"
#include "document/effects/EffectShape.h"
#include "document/shapes/Rendering.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/shapes/ShapeValues.h"
#include "foundation/XmlNode.h"
#include "raster/PolygonRasterizer.h"

namespace kdl::testing {

class RectShape : public TdtpEffectShape {
 public:
  std::string ClassName() const override { return "TdtpTestRectShape"; }

  TColor32 Color = 0xFF2060A0u;
  int Paints = 0;
  bool UseCanvas = false;

  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo&) override {
    ++Paints;
    if (UseCanvas) return;
    TPolygon32 polygon;
    polygon.SetUseAntialiasing(true);
    polygon.SetSubsampleMode(sm16);
    for (const TFloatPoint& p : Corners()) polygon.AddPoint({ToFixed(p.X), ToFixed(p.Y)});
    polygon.Fill(bitmap, Color);
  }
  bool NeedsCanvas() const override { return UseCanvas; }
  void PaintCanvas(TCanvas& canvas, const TdtpPaintInfo&) override {
    canvas.Paint([this](QPainter& painter) {
      QPolygonF polygon;
      for (const TFloatPoint& p : Corners()) polygon << QPointF(p.X, p.Y);
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor::fromRgba(Color));
      painter.drawPolygon(polygon);
    });
  }

 private:
  // The frame's corners in target pixels.
  std::array<TFloatPoint, 4> Corners() const {
    const TAffineMatrix& m = PaintTransform();
    auto map = [&](double x, double y) {
      return TFloatPoint{static_cast<float>(m.A * x + m.C * y + m.E),
                         static_cast<float>(m.B * x + m.D * y + m.F)};
    };
    return {map(0, 0), map(DocWidth(), 0), map(DocWidth(), DocHeight()), map(0, DocHeight())};
  }
  // Far-off corners are pulled in to what 16.16 holds; an upright frame
  // keeps its shape inside any target.
  static TFixed ToFixed(float v) { return kdl::Fixed(std::clamp(v, -30000.0f, 30000.0f)); }
};

// alpha := clamp(alpha x Multiply / 255 + Add, 0, 255), integer division;
// colour channels unchanged.
class AlphaEffect : public TdtpEffect {
 public:
  std::string ClassName() const override { return "TdtpTestAlphaEffect"; }

  std::int32_t Multiply = 255;
  std::int32_t Add = 0;

  static std::uint32_t Rule(std::uint32_t alpha, std::int32_t multiply, std::int32_t add) {
    return static_cast<std::uint32_t>(
        std::clamp<std::int32_t>(static_cast<std::int32_t>(alpha) * multiply / 255 + add, 0, 255));
  }
  void Apply(TBitmap32& bitmap, const TdtpPaintInfo&) override {
    TColor32* p = bitmap.Bits();
    const std::int64_t n = std::int64_t{bitmap.Width()} * bitmap.Height();
    for (std::int64_t i = 0; i < n; ++i)
      p[i] = (p[i] & 0x00FFFFFFu) | Rule(p[i] >> 24, Multiply, Add) << 24;
  }
  void SaveToXml(TXmlNode* node) const override {
    TdtpEffect::SaveToXml(node);
    if (!node) return;
    node->WriteInteger("Multiply", Multiply, 255);
    node->WriteInteger("Add", Add, 0);
  }
  void LoadFromXml(TXmlNode* node) override {
    TdtpEffect::LoadFromXml(node);
    Multiply = node->ReadInteger("Multiply", 255);
    Add = node->ReadInteger("Add", 0);
  }
};

// An effect that keeps an archive member, as an image-based effect would.
class MemberEffect : public TdtpEffect {
 public:
  std::string ClassName() const override { return "TdtpTestMemberEffect"; }
  std::string ArchiveName;
  void GetResourceNames(std::vector<std::string>& names) const override {
    if (!ArchiveName.empty()) names.push_back(ArchiveName);
  }
  void SaveToXml(TXmlNode* node) const override {
    TdtpEffect::SaveToXml(node);
    if (node) node->WriteString("ArchiveName", ArchiveName, "");
  }
  void LoadFromXml(TXmlNode* node) override {
    TdtpEffect::LoadFromXml(node);
    ArchiveName = node->ReadString("ArchiveName", "");
  }
};

inline void RegisterRenderTestClasses() {
  RegisterShapeClass<RectShape>();
  RegisterEffectClass<AlphaEffect>();
  RegisterEffectClass<MemberEffect>();
}

}  // namespace kdl::testing

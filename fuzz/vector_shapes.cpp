// Reads arbitrary bytes as the XML of one shape of the kind its ClassName
// names (polygons, ellipses, rectangles, lines, image shapes, placeholders),
// paints it at a few scales, asks which pixels it covers, turns and drags a
// line's points, and writes it back. Any input must end in our exception or
// in a shape that paints without fault.
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FakeDocument.h"
#include "FuzzApplication.h"
#include "document/Startup.h"
#include "document/kinds/LineShape.h"
#include "document/shapes/Rendering.h"
#include "document/shapes/ShapeRegistry.h"
#include "foundation/BrenlowXml.h"
#include "raster/Bitmap32.h"

namespace {

void PaintAt(kdl::TdtpShape& shape, float scale) {
  kdl::TBitmap32 target;
  target.SetSize(48, 40);
  kdl::TdtpPaintInfo info;
  info.Scale = scale;
  info.RenderScale = scale;
  const float w = 48 / scale, h = 40 / scale;
  shape.Paint(target, {shape.DocLeft() - 2, shape.DocTop() - 2, shape.DocLeft() - 2 + w, shape.DocTop() - 2 + h},
              false, info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (EnsureApplication(), kdl::InitializeDocumentLibrary(), true);
  (void)ready;
  kdl::testing::FakeDocument doc;
  kdl::TBrenlowXml xml;
  std::unique_ptr<kdl::TdtpShape> shape;
  try {
    xml.ReadFromString(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!xml.Root()) return 0;
    shape = kdl::CreateShape(xml.Root()->ReadString("ClassName", ""));
    shape->SetDocument(&doc);
    shape->LoadFromXml(xml.Root());
  } catch (const kdl::Exception&) {
    return 0;
  }
  try {
    for (float scale : {1.0f, 5.9f}) PaintAt(*shape, scale);
    kdl::TdtpShape* hit = nullptr;
    if (const auto region = shape->CreateScreenRegion()) (void)region->Contains({3, 3});
    (void)shape->ShapeAtPoint({3, 3}, hit);
    if (auto* line = dynamic_cast<kdl::TdtpLineShape*>(shape.get())) {
      line->SetDocAngle(30);
      line->SetPoint(1, {line->DocLeft() + 3, line->DocTop() - 2});
      PaintAt(*line, 4);
      // A drag of the second point's handle, mirrored.
      line->SetMirrored(true);
      line->UpdateHandles();
      line->SetActiveHandle(1);
      kdl::TAffineMatrix matrix;
      line->HandleDrag({2, 1}, false, kdl::hcPoint, matrix);
      line->ApplyDrag();
    }
    kdl::TBrenlowXml out("shape");
    shape->SaveToXml(out.Root());
    kdl::TBrenlowXml again;
    again.ReadFromString(out.Root()->WriteToString());
    shape->LoadFromXml(again.Root());
  } catch (const kdl::Exception&) {
    // A shape that read must not fail afterwards.
    std::abort();
  }
  shape->SetDocument(nullptr);
  return 0;
}

#include "document/shapes/ShapeRegistry.h"

#include "document/kinds/BitmapShape.h"
#include "document/kinds/FreehandShape.h"
#include "document/kinds/GroupShape.h"
#include "document/kinds/LineShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/view/Page.h"

namespace kdl {

namespace {

std::vector<TShapeClassHolder>& Holders() {
  static std::vector<TShapeClassHolder> holders;
  return holders;
}

std::unique_ptr<TdtpShape> CreateBaseShape() { return std::make_unique<TdtpShape>(); }

// For kinds whose construction lays out text, which needs the platform's
// fonts: registered without making one.
template <class T>
void RegisterNamed(const char* name) {
  RegisterShapeClass(name, [] { return std::unique_ptr<TdtpShape>(new T()); });
}

}  // namespace

void RegisterShapeClass(const std::string& name, TdtpShapeFactory factory) {
  if (!factory) return;
  for (const TShapeClassHolder& h : Holders())
    if (h.Name == name) return;
  Holders().push_back({name, factory});
}

TdtpShapeFactory GetShapeClass(const std::string& name) {
  for (const TShapeClassHolder& h : Holders())
    if (h.Name == name) return h.Create;
  return &CreateBaseShape;
}

std::unique_ptr<TdtpShape> CreateShape(const std::string& name) { return GetShapeClass(name)(); }

const std::vector<TShapeClassHolder>& ShapeClasses() { return Holders(); }

void RegisterShapeClasses() {
  RegisterShapeClass<TdtpShape>();
  RegisterShapeClass<TdtpEffectShape>();
  RegisterShapeClass<TdtpGroupShape>();
  // Stored placeholders read back as one, so that text shapes find them.
  RegisterNamed<TdtpPlaceHolder>("TdtpPlaceHolder");
  RegisterShapeClass<TdtpPage>();
  RegisterShapeClass<TdtpPolygonShape>();
  RegisterShapeClass<TdtpEllipseShape>();
  RegisterShapeClass<TdtpRectangleShape>();
  RegisterShapeClass<TdtpRoundRectShape>();
  RegisterShapeClass<TdtpFreehandShape>();
  RegisterShapeClass<TdtpLineShape>();
  RegisterShapeClass<TdtpBitmapShape>();
  RegisterNamed<TdtpSnapBitmap>("TdtpSnapBitmap");
}

}  // namespace kdl

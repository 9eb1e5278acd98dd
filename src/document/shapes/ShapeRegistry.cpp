#include "document/shapes/ShapeRegistry.h"

namespace kdl {

namespace {

std::vector<TShapeClassHolder>& Holders() {
  static std::vector<TShapeClassHolder> holders;
  return holders;
}

std::unique_ptr<TdtpShape> CreateBaseShape() { return std::make_unique<TdtpShape>(); }

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

}  // namespace kdl

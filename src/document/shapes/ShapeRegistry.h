// The shape class registry: class name -> factory, in registration order.
// Reading a document or a shape string creates each shape by its stored
// class name; an unknown name gives a plain TdtpShape.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document/shapes/Shape.h"

namespace kdl {

using TdtpShapeFactory = std::unique_ptr<TdtpShape> (*)();

struct TShapeClassHolder {
  std::string Name;
  TdtpShapeFactory Create = nullptr;
};

// A name already registered is ignored. Call only at start-up.
void RegisterShapeClass(const std::string& name, TdtpShapeFactory factory);
template <class T>
void RegisterShapeClass() {
  RegisterShapeClass(T().ClassName(), [] { return std::unique_ptr<TdtpShape>(new T()); });
}
// The factory of the first holder of exactly that name (case-sensitive);
// TdtpShape's when none has it.
TdtpShapeFactory GetShapeClass(const std::string& name);
std::unique_ptr<TdtpShape> CreateShape(const std::string& name);
const std::vector<TShapeClassHolder>& ShapeClasses();

}  // namespace kdl

// Shape kinds for tests: one that keeps an archive member, as image shapes
// do, one that fails while reading, and one that keeps a fixed child.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "document/kinds/PolygonShape.h"
#include "document/shapes/Shape.h"
#include "document/shapes/ShapeRegistry.h"
#include "foundation/BrenlowXml.h"
#include "foundation/Storage.h"
#include "foundation/XmlNode.h"
#include "platform/Exception.h"

namespace kdl::testing {

// An archive member's bytes ("" when absent), and bytes stored under a name.
inline std::string MemberBytes(TqxStorage& storage, const std::string& name) {
  if (!storage.StreamExists(name)) return {};
  TMemoryStream m;
  storage.ReadStream(name, m);
  return std::string(static_cast<const char*>(m.Memory()), static_cast<std::size_t>(m.Size()));
}
inline void WriteMember(TqxStorage& storage, const std::string& name, const std::string& bytes) {
  TMemoryStream m;
  if (!bytes.empty()) m.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  storage.WriteStream(name, m);
}
// Every member with its bytes.
inline std::map<std::string, std::string> AllMembers(TqxStorage& storage) {
  std::map<std::string, std::string> out;
  for (int i = 0; i < storage.StreamCount(); ++i) out[storage.GetStreamName(i)] = MemberBytes(storage, storage.GetStreamName(i));
  return out;
}

class MemberShape : public TdtpShape {
 public:
  std::string ClassName() const override { return "TdtpTestMemberShape"; }
  std::string ArchiveName;

  void GetResourceNames(std::vector<std::string>& names) const override {
    TdtpShape::GetResourceNames(names);
    if (!ArchiveName.empty()) names.push_back(ArchiveName);
  }
  void SaveToXml(TXmlNode* node) override {
    TdtpShape::SaveToXml(node);
    if (node) node->WriteString("ArchiveName", ArchiveName, "");
  }
  void LoadFromXml(TXmlNode* node) override {
    TdtpShape::LoadFromXml(node);
    ArchiveName = node->ReadString("ArchiveName", "");
  }
  // The member's bytes; empty when there is none.
  std::string Bytes() const {
    TqxStorage* storage = GetStorage();
    return storage && !ArchiveName.empty() ? MemberBytes(*storage, ArchiveName) : std::string();
  }
  // Stores bytes under a fresh temporary name, as loading an image does.
  void Store(const std::string& bytes, const std::string& extension = ".png") {
    ArchiveName = GetStorage()->MakeUniqueTempName(extension);
    WriteMember(*GetStorage(), ArchiveName, bytes);
  }
};

class FailingShape : public TdtpShape {
 public:
  std::string ClassName() const override { return "TdtpTestFailingShape"; }
  void LoadFromXml(TXmlNode* node) override {
    TdtpShape::LoadFromXml(node);
    throw Exception("Broken shape");
  }
};

// Its fixed child fails whenever it reads.
class FixedChildShape : public TdtpShape {
 public:
  FixedChildShape() {
    auto child = std::make_unique<FailingShape>();
    child->SetFixed(true);
    AddShape(std::move(child));
  }
  std::string ClassName() const override { return "TdtpTestFixedChildShape"; }
};

inline void RegisterTestShapes() {
  RegisterShapeClass<MemberShape>();
  RegisterShapeClass<FailingShape>();
  RegisterShapeClass<FixedChildShape>();
}

// A polygon of the user's own points, a list a contour, in the frame given.
inline std::unique_ptr<TdtpPolygonShape> StoredPolygon(
    std::initializer_list<std::initializer_list<TFloatPoint>> contours, float left, float top, float width,
    float height) {
  auto polygon = std::make_unique<TdtpPolygonShape>();
  polygon->SetStorePoints(true);
  polygon->ClearPoints();
  bool first = true;
  for (const auto& contour : contours) {
    if (!std::exchange(first, false)) polygon->NewContour();
    for (const TFloatPoint& p : contour) polygon->AddPoint(p);
  }
  polygon->SetDocBounds(left, top, width, height);
  return polygon;
}

// A shape's XML under the root "shape", compact, and a shape read from such text.
inline std::string ShapeXml(TdtpShape& shape) {
  TBrenlowXml xml("shape");
  shape.SaveToXml(xml.Root());
  return xml.Root()->WriteToString();
}
inline void LoadShapeXml(TdtpShape& shape, const std::string& text) {
  TBrenlowXml xml;
  xml.ReadFromString(text);
  shape.LoadFromXml(xml.Root());
}

}  // namespace kdl::testing

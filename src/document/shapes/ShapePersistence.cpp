// A shape's XML element, the copy through the shape string, and the names of
// the archive members a subtree uses.
#include <utility>

#include "document/shapes/DocumentServices.h"
#include "document/shapes/Shape.h"
#include "document/shapes/ShapeRegistry.h"
#include "foundation/XmlNode.h"
#include "platform/Exception.h"

namespace kdl {

namespace {

struct AnchorName {
  const char* Name;
  std::uint16_t Bit;
};
constexpr AnchorName kAnchorNames[] = {
    {"default", akDefault},       {"PosXProp", akPosXProp},   {"PosYProp", akPosYProp},
    {"SizeXProp", akSizeXProp},   {"SizeYProp", akSizeYProp}, {"LeftLock", akLeftLock},
    {"TopLock", akTopLock},       {"RightLock", akRightLock}, {"BottomLock", akBottomLock},
};

// The events of a subtree by child index, which AssignChildren carries over.
struct TEventTree {
  std::string ClassName;
  TdtpShape::TNotifyEvent OnChange, OnEditDone, OnBoundsChange;
  std::vector<TEventTree> Children;

  static TEventTree Capture(const TdtpShape& shape) {
    TEventTree tree{shape.ClassName(), shape.OnChange, shape.OnEditDone, shape.OnBoundsChange, {}};
    for (int i = 0; i < shape.GetShapeCount(); ++i)
      tree.Children.push_back(Capture(*shape.GetShape(i)));
    return tree;
  }
  void ApplyTo(TdtpShape& shape) const {
    for (int i = 0; i < shape.GetShapeCount() && i < static_cast<int>(Children.size()); ++i) {
      const TEventTree& child = Children[static_cast<std::size_t>(i)];
      if (child.ClassName == shape.GetShape(i)->ClassName()) child.ApplyTo(*shape.GetShape(i));
    }
    shape.OnChange = OnChange;
    shape.OnEditDone = OnEditDone;
    shape.OnBoundsChange = OnBoundsChange;
  }
};

float ReadSingle(const TXmlNode& node, const char* name) {
  return static_cast<float>(node.ReadFloat(name, 0));
}

}  // namespace

// Loading runs with change events, undo records and margin updates off: the
// values are stored straight into the fields.
void TdtpShape::ReadBaseXml(TXmlNode& node) {
  allowResize_ = node.ReadBool("AllowResize", true);
  allowMove_ = node.ReadBool("AllowMove", true);
  allowRotate_ = node.ReadBool("AllowRotate", true);
  allowSelect_ = node.ReadBool("AllowSelect", true);
  allowDelete_ = node.ReadBool("AllowDelete", true);
  allowEdit_ = node.ReadBool("AllowEdit", true);
  if (const TXmlNode* anchors = node.FindChild("Anchors")) {
    anchors_ = 0;
    for (const AnchorName& a : kAnchorNames)
      if (anchors->ReadBool(a.Name, false)) anchors_ |= a.Bit;
  }
  aspectRatio_ = ReadSingle(node, "AspectRatio");
  curbLeft_ = ReadSingle(node, "CurbLeft");
  curbTop_ = ReadSingle(node, "CurbTop");
  curbRight_ = ReadSingle(node, "CurbRight");
  curbBottom_ = ReadSingle(node, "CurbBottom");
  constraints_.MinHeight = ReadSingle(node, "ConstraintMinHeight");
  constraints_.MinWidth = ReadSingle(node, "ConstraintMinWidth");
  constraints_.MaxHeight = ReadSingle(node, "ConstraintMaxHeight");
  constraints_.MaxWidth = ReadSingle(node, "ConstraintMaxWidth");
  // Stored as written; only the cached cosine and sine follow it.
  docAngle_ = ReadSingle(node, "DocAngle");
  CacheAngle();
  docLeft_ = ReadSingle(node, "DocLeft");
  docTop_ = ReadSingle(node, "DocTop");
  docHeight_ = ReadSingle(node, "DocHeight");
  docWidth_ = ReadSingle(node, "DocWidth");
  flipped_ = node.ReadBool("Flipped", false);
  grouped_ = node.ReadBool("Grouped", false);
  mirrored_ = node.ReadBool("Mirrored", false);
  name_ = node.ReadString("Name", "");
  preserveAspect_ = node.ReadBool("PreserveAspect", false);
  tag_ = node.ReadInteger("Tag", 0);
  visible_ = node.ReadBool("Visible", true);
  masterAlpha_ = node.ReadInteger("MasterAlpha", 255);
}

void TdtpShape::WriteBaseXml(TXmlNode& node) {
  node.FindOrAddChild("ClassName")->SetValueText(ClassName());
  node.WriteBool("AllowResize", allowResize_, true);
  node.WriteBool("AllowMove", allowMove_, true);
  node.WriteBool("AllowRotate", allowRotate_, true);
  node.WriteBool("AllowSelect", allowSelect_, true);
  node.WriteBool("AllowDelete", allowDelete_, true);
  node.WriteBool("AllowEdit", allowEdit_, true);
  TXmlNode* anchors = node.FindOrAddChild("Anchors");
  for (const AnchorName& a : kAnchorNames) anchors->WriteBool(a.Name, (anchors_ & a.Bit) != 0, false);
  node.WriteFloat("AspectRatio", aspectRatio_, 0);
  node.WriteFloat("CurbLeft", curbLeft_, 0);
  node.WriteFloat("CurbTop", curbTop_, 0);
  node.WriteFloat("CurbRight", curbRight_, 0);
  node.WriteFloat("CurbBottom", curbBottom_, 0);
  node.WriteFloat("ConstraintMinHeight", constraints_.MinHeight, 0);
  node.WriteFloat("ConstraintMinWidth", constraints_.MinWidth, 0);
  node.WriteFloat("ConstraintMaxHeight", constraints_.MaxHeight, 0);
  node.WriteFloat("ConstraintMaxWidth", constraints_.MaxWidth, 0);
  node.WriteFloat("DocAngle", docAngle_, 0);
  node.WriteFloat("DocLeft", docLeft_, 0);
  node.WriteFloat("DocTop", docTop_, 0);
  node.WriteFloat("DocHeight", docHeight_, 0);
  node.WriteFloat("DocWidth", docWidth_, 0);
  node.WriteBool("Flipped", flipped_, false);
  node.WriteBool("Grouped", grouped_, false);
  node.WriteBool("Mirrored", mirrored_, false);
  node.WriteString("Name", name_, "");
  node.WriteBool("PreserveAspect", preserveAspect_, false);
  node.WriteInteger("Tag", tag_, 0);
  node.WriteBool("Visible", visible_, true);
  node.WriteHex("MasterAlpha", masterAlpha_, 255, 2);
}

void TdtpShape::SaveToXml(TXmlNode* node) {
  if (!node) return;
  WriteBaseXml(*node);
  for (std::size_t i = 0; i < children_.size(); ++i) {
    TXmlNode* element = node->AddNewChild("Shape");
    element->AddAttributeInt("Index", static_cast<std::int64_t>(i) + 1);
    children_[i]->SaveToXml(element);
  }
  if (document_) document_->DoShapeSaveAdditionalInfo(this, *node);
}

void TdtpShape::LoadFromXml(TXmlNode* node) {
  TLoadScope loading(*this);
  ClearShapes();
  if (!node) throw Exception("XML Node is not assigned");
  ReadBaseXml(*node);

  TXmlNodeList elements;
  node->FindChildren("Shape", &elements);
  for (std::size_t i = 0; i < elements.size(); ++i) {
    TXmlNode& element = *elements[i];
    // A child the kind keeps (fixed) reads the element in its place,
    // whatever class the element names.
    TdtpShape* child = i < children_.size() ? children_[i].get() : nullptr;
    const bool reused = child != nullptr;
    try {
      if (!child) {
        std::unique_ptr<TdtpShape> created = CreateShape(element.ReadString("ClassName", ""));
        child = created.get();
        if (AddShape(std::move(created)) < 0) child = nullptr;
      }
      if (child) {
        child->LoadFromXml(&element);
        child->Loaded();
      }
    } catch (const std::exception& e) {
      ReportError(e.what());
      // Only a child this call made goes; a kept one stays, reported.
      if (!reused && child) {
        const int index = IndexOfShape(child);
        if (index >= 0) DeleteShape(index);
      }
    }
  }
  if (document_) document_->DoShapeLoadAdditionalInfo(this, *node);
}

void TdtpShape::GetResourceNames(std::vector<std::string>& names) const {
  for (const auto& child : children_) child->GetResourceNames(names);
}

void TdtpShape::Assign(const TdtpShape& source) {
  if (&source == this) return;
  // The string first: the source may lie in this shape's subtree, which
  // ClearShapes frees. Such a source's events are taken now as well.
  TdtpShape& from = const_cast<TdtpShape&>(source);
  const std::string data = from.SaveToString();
  const bool inside = from.InSubtreeOf(this);
  TEventTree events;
  if (inside) events = TEventTree::Capture(source);
  ClearShapes();
  LoadFromString(data);
  if (inside)
    events.ApplyTo(*this);
  else
    AssignChildren(source);
}

void TdtpShape::AssignChildren(const TdtpShape& source) {
  for (std::size_t i = 0; i < children_.size(); ++i) {
    const TdtpShape* other = source.GetShape(static_cast<int>(i));
    if (other && other->ClassName() == children_[i]->ClassName())
      children_[i]->AssignChildren(*other);
  }
  OnChange = source.OnChange;
  OnEditDone = source.OnEditDone;
  OnBoundsChange = source.OnBoundsChange;
}

}  // namespace kdl

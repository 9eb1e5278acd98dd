#include "app/shapes/ProjectInfoShape.h"

#include "app/shapes/CropBitmapShape.h"
#include "app/shapes/ExLineShape.h"
#include "document/shapes/ShapeRegistry.h"
#include "foundation/XmlNode.h"

namespace kdl {

void TDtpProjectInfoShape::LoadFromXml(TXmlNode* node) {
  TdtpShape::LoadFromXml(node);
  if (!node) return;
  version_ = node->ReadInteger("Version", 0);
  printFoldLines_ = node->ReadBool("PrintFoldLines", false);
  printCutLines_ = node->ReadBool("PrintCutLines", false);
  centerPrinting_ = node->ReadBool("CenterPrinting", false);
  projectName_ = node->ReadString("Name", "");
  category_ = node->ReadString("Category", "");
}

void TDtpProjectInfoShape::SaveToXml(TXmlNode* node) {
  TdtpShape::SaveToXml(node);
  if (!node) return;
  node->WriteInteger("Version", version_, 0);
  node->WriteBool("PrintFoldLines", printFoldLines_, false);
  node->WriteBool("PrintCutLines", printCutLines_, false);
  node->WriteBool("CenterPrinting", centerPrinting_, false);
  // The base part may have written the shape's own name already; the writer
  // finds that element, so the file keeps exactly one "Name".
  node->WriteString("Name", projectName_, "");
  node->WriteString("Category", category_, "");
}

void RegisterApplicationShapeClasses() {
  RegisterShapeClass<TDtpProjectInfoShape>();
  RegisterShapeClass<TdtpCropBitmapShape>();
  RegisterShapeClass<TDtpExLineShape>();
}

}  // namespace kdl

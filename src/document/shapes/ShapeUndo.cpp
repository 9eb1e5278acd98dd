// Undo records a shape makes, and how it replays the ones addressed to it.
#include <charconv>
#include <strings.h>

#include "document/shapes/Command.h"
#include "document/shapes/DocumentServices.h"
#include "document/shapes/Shape.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/shapes/ShapeValues.h"

namespace kdl {

namespace {

void CollectIds(const TdtpShape& shape, std::vector<std::int32_t>& ids) {
  ids.push_back(shape.ID());
  for (int i = 0; i < shape.GetShapeCount(); ++i) CollectIds(*shape.GetShape(i), ids);
}

void RestoreIds(TdtpShape& shape, const std::vector<std::int32_t>& ids, std::size_t& next) {
  shape.SetID(ids[next++]);
  for (int i = 0; i < shape.GetShapeCount(); ++i) RestoreIds(*shape.GetShape(i), ids, next);
}

int CountShapes(const TdtpShape& shape) {
  int n = 1;
  for (int i = 0; i < shape.GetShapeCount(); ++i) n += CountShapes(*shape.GetShape(i));
  return n;
}

bool SameText(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

int TdtpShape::loadDepth_ = 0;

TdtpShape::TLoadScope::TLoadScope(TdtpShape& shape) : shape_(shape) {
  ++loadDepth_;
  shape_.LockUndo();
}

TdtpShape::TLoadScope::~TLoadScope() {
  shape_.UnlockUndo();
  --loadDepth_;
}

bool TdtpShape::RecordsUndo() const {
  return document_ && loadDepth_ == 0 && !document_->IsLoading() &&
         (document_->UndoEnabled() || document_->Undoing());
}

void TdtpShape::RecordUndo(std::uint8_t kind, const std::string& propName,
                           const std::string& oldValue) {
  if (!RecordsUndo()) return;
  auto command = std::make_unique<TdtpCommand>(kind, id_, propName, oldValue);
  if (document_->UndoEnabled())
    document_->AddUndo(std::move(command));
  else
    document_->AddRedo(std::move(command));
}

void TdtpShape::RecordUndoFontStyle(std::uint8_t kind, const std::string& propName,
                                    std::uint8_t styles) {
  RecordUndo(kind, propName, FontStylesToText(styles));
}

void TdtpShape::RecordUndoFloat(std::uint8_t kind, const std::string& propName, double value) {
  RecordUndo(kind, propName, FloatToStr(value));
}

void TdtpShape::RecordUndoInt(std::uint8_t kind, const std::string& propName, std::int64_t value) {
  RecordUndo(kind, propName, std::to_string(value));
}

void TdtpShape::RecordUndoBool(std::uint8_t kind, const std::string& propName, bool value) {
  RecordUndo(kind, propName, BoolToText(value));
}

// The record keeps the child's index, its ID, its shape string and the IDs
// of its whole subtree in pre-order, so that older records for any of them
// still find their shape once undo has re-created it.
void TdtpShape::RecordUndoShape(std::uint8_t kind, TdtpShape* child) {
  if (!child || kind != ckChildDeleted || !RecordsUndo()) return;
  auto data = std::make_unique<TMemoryStream>();
  WriteStreamInt(*data, IndexOfShape(child));
  WriteStreamInt(*data, child->ID());
  WriteStreamString(*data, child->SaveToString());
  std::vector<std::int32_t> ids;
  CollectIds(*child, ids);
  WriteStreamInt(*data, static_cast<std::int32_t>(ids.size()));
  for (std::int32_t id : ids) WriteStreamInt(*data, id);
  auto command = std::make_unique<TdtpCommand>(ckChildDeleted, id_, "ClassName",
                                               child->ClassName(), std::move(data));
  if (document_->UndoEnabled())
    document_->AddUndo(std::move(command));
  else
    document_->AddRedo(std::move(command));
}

void TdtpShape::SetPropertyText(const std::string& propName, const std::string& value) {
  if (SameText(propName, "DocLeft"))
    SetDocLeft(static_cast<float>(StrToFloat(value)));
  else if (SameText(propName, "DocTop"))
    SetDocTop(static_cast<float>(StrToFloat(value)));
  else if (SameText(propName, "DocWidth"))
    SetDocWidth(static_cast<float>(StrToFloat(value)));
  else if (SameText(propName, "DocHeight"))
    SetDocHeight(static_cast<float>(StrToFloat(value)));
  else if (SameText(propName, "DocAngle"))
    SetDocAngle(static_cast<float>(StrToFloat(value)));
  else if (SameText(propName, "MasterAlpha"))
    SetMasterAlpha(StrToInt(value));
}

bool TdtpShape::ExecuteCommand(const TdtpCommand& command) {
  if (command.ShapeID != id_) {
    for (const auto& child : children_)
      if (child->ExecuteCommand(command)) return true;
    return false;
  }
  switch (command.Kind) {
    case ckPropertyChanged:
      SetPropertyText(command.PropName, command.OldValue);
      return true;
    case ckChildInserted:
      DeleteShape(StrToInt(command.OldValue));
      return true;
    case ckChildDeleted: {
      if (!command.Data) return false;
      TMemoryStream& data = *command.Data;
      data.SetPosition(0);
      const std::int32_t index = ReadStreamInt(data);
      const std::int32_t id = ReadStreamInt(data);
      const std::string text = ReadStreamString(data);
      std::vector<std::int32_t> ids;
      if (data.Position() < data.Size()) {
        const std::int32_t count = ReadStreamInt(data);
        if (count < 0 || count > (data.Size() - data.Position()) / 4)
          throw EShapeDataError(kInvalidShapeData);
        for (std::int32_t i = 0; i < count; ++i) ids.push_back(ReadStreamInt(data));
      }
      data.SetPosition(0);
      std::unique_ptr<TdtpShape> created = CreateShape(command.OldValue);
      TdtpShape& shape = *created;
      InsertShape(index, std::move(created));
      shape.LoadFromString(text);
      if (!ids.empty() && static_cast<std::size_t>(CountShapes(shape)) == ids.size()) {
        std::size_t next = 0;
        RestoreIds(shape, ids, next);
      } else {
        shape.SetID(id);
      }
      return true;
    }
    default:
      // Effect records belong to the effect shape; here nobody replays them.
      return false;
  }
}

}  // namespace kdl

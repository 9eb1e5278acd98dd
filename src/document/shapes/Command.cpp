#include "document/shapes/Command.h"

#include <utility>

namespace kdl {

TdtpCommand::TdtpCommand(std::uint8_t kind, std::int32_t shapeId, std::string propName,
                         std::string oldValue)
    : Kind(kind), ShapeID(shapeId), PropName(std::move(propName)), OldValue(std::move(oldValue)) {}

TdtpCommand::TdtpCommand(std::uint8_t kind, std::int32_t shapeId, std::string propName,
                         std::string oldValue, std::unique_ptr<TMemoryStream> data)
    : TdtpCommand(kind, shapeId, std::move(propName), std::move(oldValue)) {
  Data = std::move(data);
  if (Data) Data->SetPosition(0);
}

std::int64_t TdtpCommand::MemorySize() const {
  return static_cast<std::int64_t>(PropName.size() + OldValue.size()) + 4 +
         (Data ? Data->Size() : 0);
}

}  // namespace kdl

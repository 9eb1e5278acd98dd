// One undo record: the old value of one property of one shape as text, or a
// structural change, addressed by the shape's document-wide ID.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/Stream.h"

namespace kdl {

// What a record undoes.
enum TdtpCommandKind : std::uint8_t {
  ckPropertyChanged = 0,
  ckChildInserted = 1,
  ckChildDeleted = 2,
  ckEffectAdded = 3,
  ckEffectDeleted = 4,
  ckEffectPropertyChanged = 5,
};

class TdtpCommand {
 public:
  TdtpCommand() = default;
  TdtpCommand(std::uint8_t kind, std::int32_t shapeId, std::string propName, std::string oldValue);
  // Takes the payload (may be nil) and rewinds it.
  TdtpCommand(std::uint8_t kind, std::int32_t shapeId, std::string propName, std::string oldValue,
              std::unique_ptr<TMemoryStream> data);
  TdtpCommand(const TdtpCommand&) = delete;
  TdtpCommand& operator=(const TdtpCommand&) = delete;

  // What the undo stack counts against its memory cap.
  std::int64_t MemorySize() const;

  std::uint8_t Kind = ckPropertyChanged;
  std::int32_t ShapeID = 0;
  // Set by the undo stack: the record belongs to the group of the one before.
  bool Chained = false;
  std::string PropName;
  std::unique_ptr<TMemoryStream> Data;
  std::string OldValue;
};

}  // namespace kdl

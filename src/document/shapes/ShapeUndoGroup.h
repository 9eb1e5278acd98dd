#pragma once

#include "document/shapes/Shape.h"

namespace kdl {

// Keeps the undo records made while it lives in one group, closing the
// group on every way out of the step.
class TShapeUndoGroup {
 public:
  explicit TShapeUndoGroup(TdtpShape& shape) : shape_(shape) { shape_.BeginUndo(); }
  ~TShapeUndoGroup() { shape_.EndUndo(); }
  TShapeUndoGroup(const TShapeUndoGroup&) = delete;
  TShapeUndoGroup& operator=(const TShapeUndoGroup&) = delete;

 private:
  TdtpShape& shape_;
};

}  // namespace kdl

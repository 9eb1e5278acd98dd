// What shapes, pages and resources ask of the document that holds them.
//
// The document control implements it; tests use a fake. Shapes keep a plain
// pointer to it (the document outlives every shape it holds) and call nothing
// else of the document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "raster/Types.h"

namespace kdl {

class TdtpCommand;
class TdtpShape;
class TqxStorage;
class TXmlNode;

class TdtpDocumentServices {
 public:
  virtual ~TdtpDocumentServices() = default;

  // ---- Loading and identity -------------------------------------------------
  // True while a document, a page or a shape string is being read: shapes
  // then raise no change events.
  virtual bool IsLoading() const = 0;
  // A fresh document-wide shape ID; every call gives a new one.
  virtual std::int32_t NextShapeId() = 0;
  // The document's archive; nil when the document keeps none.
  virtual TqxStorage* Storage() = 0;

  // ---- Undo -------------------------------------------------------------------
  // Records are made only while undo is enabled (new records go to the undo
  // list) or while an undo is being replayed (inverse records go to redo).
  virtual bool UndoEnabled() const = 0;
  virtual bool Undoing() const = 0;
  virtual void AddUndo(std::unique_ptr<TdtpCommand> command) = 0;
  virtual void AddRedo(std::unique_ptr<TdtpCommand> command) = 0;
  // Brackets records that one user action makes into one group.
  virtual void BeginUndo() = 0;
  virtual void EndUndo() = 0;
  // While locked, nothing is recorded.
  virtual void LockUndo() = 0;
  virtual void UnlockUndo() = 0;

  // ---- Notifications ----------------------------------------------------------
  virtual void InvalidateShape(TdtpShape* shape) = 0;
  virtual void DoShapeChanged(TdtpShape* shape) = 0;
  virtual void DoSelectionChanged(TdtpShape* shape) = 0;
  // The shape is about to be freed: drop every reference to it.
  virtual void DoShapeDestroy(TdtpShape* shape) = 0;
  // A shape failed to load and was left out.
  virtual void DoLoadError(TdtpShape* shape, const std::string& message) = 0;
  virtual bool Modified() const = 0;
  virtual void SetModified(bool value) = 0;
  // Let the application keep its own elements beside a shape's.
  virtual void DoShapeSaveAdditionalInfo(TdtpShape* shape, TXmlNode& node) = 0;
  virtual void DoShapeLoadAdditionalInfo(TdtpShape* shape, TXmlNode& node) = 0;

  // ---- Editing and view ---------------------------------------------------------
  // The shape under in-place editing; nil when none is edited.
  virtual TdtpShape* EditedShape() const = 0;
  // Ends in-place editing, keeping the edit when accept is set.
  virtual void EndEdit(bool accept) = 0;
  // The document's own hint setting, for shapes with ParentShowHint.
  virtual bool ShowHint() const = 0;
  // Document millimetres to client pixels and back.
  virtual TFloatPoint DocToScreen(TFloatPoint point) const = 0;
  virtual TFloatPoint ScreenToDoc(TFloatPoint point) const = 0;
  // Asks for a cursor (a platform cursor id) while work is under way.
  virtual void SetCursorShape(std::int32_t cursor) = 0;
};

}  // namespace kdl

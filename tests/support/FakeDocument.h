// A document for shape tests: a real in-memory archive, an ID counter, a log
// of the events shapes send, and a grouped undo list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/shapes/Command.h"
#include "document/shapes/DocumentServices.h"
#include "foundation/Storage.h"

namespace kdl::testing {

class FakeDocument : public TdtpDocumentServices {
 public:
  FakeDocument();
  ~FakeDocument() override;

  bool IsLoading() const override { return loading_; }
  std::int32_t NextShapeId() override { return ++lastId_; }
  TqxStorage* Storage() override { return archive_.get(); }

  bool UndoEnabled() const override { return undoOn_ && undoLock_ == 0; }
  bool Undoing() const override { return undoing_; }
  void AddUndo(std::unique_ptr<TdtpCommand> command) override;
  void AddRedo(std::unique_ptr<TdtpCommand> command) override;
  void BeginUndo() override;
  void EndUndo() override;
  void LockUndo() override { ++undoLock_; }
  void UnlockUndo() override { --undoLock_; }

  void InvalidateShape(TdtpShape* shape) override;
  void DoShapeChanged(TdtpShape* shape) override;
  void DoSelectionChanged(TdtpShape* shape) override;
  void DoShapeDestroy(TdtpShape* shape) override;
  void DoLoadError(TdtpShape* shape, const std::string& message) override;
  bool Modified() const override { return modified_; }
  void SetModified(bool value) override { modified_ = value; }
  void DoShapeSaveAdditionalInfo(TdtpShape* shape, TXmlNode& node) override;
  void DoShapeLoadAdditionalInfo(TdtpShape* shape, TXmlNode& node) override;

  TdtpShape* EditedShape() const override { return edited_; }
  void EndEdit(bool accept) override;
  bool ShowHint() const override { return showHint_; }
  TFloatPoint DocToScreen(TFloatPoint point) const override;
  TFloatPoint ScreenToDoc(TFloatPoint point) const override;
  void SetCursorShape(std::int32_t cursor) override { Cursor = cursor; }

  // ---- Controls for tests ------------------------------------------------------
  void SetLoading(bool value) { loading_ = value; }
  void SetUndoOn(bool value) { undoOn_ = value; }
  // Drops the archive (a document without one) or makes a fresh empty one.
  void SetHasArchive(bool value);
  void SetEditedShape(TdtpShape* shape) { edited_ = shape; }
  void SetShowHint(bool value) { showHint_ = value; }
  std::int32_t LastShapeId() const { return lastId_; }

  // Undo and redo lists, oldest first; a group is one unchained record and
  // the chained ones after it.
  const std::vector<std::unique_ptr<TdtpCommand>>& UndoList() const { return undo_; }
  const std::vector<std::unique_ptr<TdtpCommand>>& RedoList() const { return redo_; }
  int UndoGroupCount() const;
  void ClearUndo();
  // Takes the last group back, as the document does: each record is offered
  // to the tree under root; one that no shape takes counts as refused. The
  // inverse records land in the redo list. False when there was nothing.
  bool Undo(TdtpShape& root);
  int Refused = 0;

  // Every event in arrival order; invalidations are only counted.
  struct Event {
    std::string Kind;  // "Changed", "Selection", "Destroy", "LoadError", "EndEdit",
                       // "SaveInfo", "LoadInfo"
    TdtpShape* Shape = nullptr;
    std::string Text;  // the load error's message, or "True"/"False" for EndEdit
  };
  std::vector<Event> Events;
  // How many events of one kind arrived.
  int CountEvents(const std::string& kind) const;
  int Invalidations = 0;
  std::int32_t Cursor = 0;
  // Screen mapping: pixels = (mm - origin) * scale.
  float ScreenDpm = 150.0f / 25.4f;
  TFloatPoint WindowOrigin{};

 private:
  void Chain(TdtpCommand& command);

  std::unique_ptr<TqxStorage> archive_;
  std::int32_t lastId_ = 0;
  bool loading_ = false;
  bool undoOn_ = true;
  bool undoing_ = false;
  int undoLock_ = 0;
  int groupDepth_ = 0;
  bool groupRecorded_ = false;
  bool modified_ = false;
  bool showHint_ = false;
  TdtpShape* edited_ = nullptr;
  std::vector<std::unique_ptr<TdtpCommand>> undo_;
  std::vector<std::unique_ptr<TdtpCommand>> redo_;
};

}  // namespace kdl::testing

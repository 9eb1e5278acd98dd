// The document's undo stack and clipboard.
#include "document/shapes/Command.h"
#include "document/view/Document.h"
#include "document/view/Page.h"

namespace kdl {

void TdtpDocument::AddUndo(std::unique_ptr<TdtpCommand> command) {
  if (!command || !UndoEnabled()) return;
  if (undoGroupCount_ > 0) {
    if (undoGroupRecorded_) command->Chained = true;
    undoGroupRecorded_ = true;
  }
  redoList_.clear();
  undoBytes_ += command->MemorySize();
  undoList_.push_back(std::move(command));
}

void TdtpDocument::AddRedo(std::unique_ptr<TdtpCommand> command) {
  if (!command || !undoing_) return;
  if (undoGroupCount_ > 0) {
    if (undoGroupRecorded_) command->Chained = true;
    undoGroupRecorded_ = true;
  }
  redoList_.push_back(std::move(command));
}

void TdtpDocument::Undo() { CheckBusy(); }

bool TdtpDocument::ExecuteUndo(const TdtpCommand& /*command*/) { return false; }

void TdtpDocument::SelectionToString(std::string& text) { text.clear(); }

int TdtpDocument::PasteFromString(const std::string& /*text*/) { return 0; }

void TdtpDocument::CopySelection() { CheckBusy(); }

void TdtpDocument::CutSelection() { CheckBusy(); }

void TdtpDocument::Paste() { CheckBusy(); }

void TdtpDocument::DeleteSelection() { CheckBusy(); }

bool TdtpDocument::CanPaste() { return false; }

bool TdtpDocument::HasSelection() {
  const TdtpPage* page = GetCurrentPage();
  if (!page) return false;
  for (int i = 0; i < page->GetShapeCount(); ++i) {
    if (page->GetShape(i)->Selected()) return true;
  }
  return false;
}

}  // namespace kdl

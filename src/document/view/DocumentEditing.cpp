// Editing the current page with mouse and keys: selection, drags, in-place
// editing, hints and hot-zone scrolling.
#include "document/view/Document.h"
#include "document/view/Page.h"

namespace kdl {

void TdtpDocument::SetDragState(TdtpDragState state) {
  if (state == dragState_) return;
  CancelHint();
  dragState_ = state;
}

void TdtpDocument::ClearSelection() {
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  BeginUpdate();
  try {
    for (int i = 0; i < page->GetShapeCount(); ++i) page->GetShape(i)->SetSelected(false);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TdtpDocument::EditShape(TdtpShape* shape) {
  SetDragState(dsInPlaceEdit);
  editedShape_ = shape;
  if (shape) shape->BeginEdit();
}

void TdtpDocument::EndEdit(bool accept) {
  TdtpShape* shape = editedShape_;
  if (dragState_ == dsInPlaceEdit) dragState_ = dsIdle;
  if (OnShapeEditClosed) OnShapeEditClosed(*this, shape);
  if (shape) shape->EndEdit(accept);
  editedShape_ = nullptr;
}

void TdtpDocument::CancelHint() {}

void TdtpDocument::StartHintTimer(TPoint /*point*/, TdtpShape* /*shape*/, int /*pause*/) {}

void TdtpDocument::SetHotzoneScrolling(TdtpHZScrollingType value) { hotzoneScrolling_ = value; }

void TdtpDocument::SendEditKey(int /*character*/) {}

}  // namespace kdl

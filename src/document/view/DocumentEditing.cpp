// Editing the current page with mouse and keys: selection, drags, the
// rubber band, in-place editing, hints and hot-zone scrolling. Drag
// outlines and the rubber band are overlays of the next paint.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "document/shapes/Shape.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/TickCount.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/GdiDrawing.h"
#include "platform/qt/Timer.h"

namespace kdl {
namespace {

// Squared pixels a press must move before it becomes a drag.
constexpr float kDragThreshold = 10;
// The hot zone's share of the client size on each side, the ramp to full
// speed, and the speed (px/s) above which a passing mouse starts nothing.
constexpr float kHotzoneShare = 0.07f;
constexpr float kHotzoneRampMs = 700;
constexpr float kHotzoneEntrySpeed = 30;
constexpr std::uint32_t kHotzoneInterval = 50;
// Virtual-key numbers the shapes' key hooks expect.
constexpr std::int32_t vkCancel = 3, vkEscape = 27, vkDelete = 46, vkF2 = 113, vkF5 = 116;
// The private type of a body dragged out of the window.
constexpr const char* kDragMimeType = "application/x-kdl-document-shapes";

TdtpMouseInfo MouseInfo(const QMouseEvent& event) {
  TdtpMouseInfo m;
  const Qt::MouseButtons buttons = event.buttons();
  m.Left = buttons.testFlag(Qt::LeftButton);
  m.Right = buttons.testFlag(Qt::RightButton);
  m.Middle = buttons.testFlag(Qt::MiddleButton);
  const Qt::KeyboardModifiers mods = event.modifiers();
  m.Shift = mods.testFlag(Qt::ShiftModifier);
  m.Ctrl = mods.testFlag(Qt::ControlModifier);
  m.Alt = mods.testFlag(Qt::AltModifier);
  const QPoint p = event.position().toPoint();
  // Signed 16-bit halves, as the window system packs them.
  m.X = static_cast<std::int16_t>(p.x());
  m.Y = static_cast<std::int16_t>(p.y());
  return m;
}

TdtpMouseInfo KeyInfo(Qt::KeyboardModifiers mods, TPoint at) {
  TdtpMouseInfo m;
  m.Shift = mods.testFlag(Qt::ShiftModifier);
  m.Ctrl = mods.testFlag(Qt::ControlModifier);
  m.Alt = mods.testFlag(Qt::AltModifier);
  m.X = at.X;
  m.Y = at.Y;
  return m;
}

TShiftState ShiftOf(const TdtpMouseInfo& m) {
  TShiftState s;
  if (m.Shift) s |= Qt::ShiftModifier;
  if (m.Ctrl) s |= Qt::ControlModifier;
  return s;
}

template <class F>
void Guarded(F&& f) {
  try {
    f();
  } catch (...) {
    ShowCurrentException();
  }
}

TPoint PointOf(const TdtpMouseInfo& m) { return {m.X, m.Y}; }

bool IsSnappedCode(int code) { return (code >= 1 && code <= 9) || code == 11; }

}  // namespace

// ---- State ----------------------------------------------------------------------------------

void TdtpDocument::SetDragState(TdtpDragState state) {
  if (state == dragState_) return;
  CancelHint();
  switch (dragState_) {
    case dsDragging: EndDrag(false); break;
    case dsRubberBand: EndRubberBand(false); break;
    case dsInPlaceEdit:
      // Whatever the route out of editing, the shape closes its editor
      // (and its undo group).
      if (editedShape_) EndEdit(true);
      break;
    default: break;
  }
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

void TdtpDocument::ToggleSelection(TdtpShape* shape) {
  if (!shape) return;
  shape->SetSelected(!shape->Selected());
  if (shape->Selected()) {
    focusShape_ = shape;
    DoFocusShape(shape);
  }
}

void TdtpDocument::SelectInRect(const TRect& screenRect) {
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  TdtpShape* first = nullptr;
  BeginUpdate();
  try {
    for (int i = 0; i < page->GetShapeCount(); ++i) {
      TdtpShape* shape = page->GetShape(i);
      const bool inside = shape->RectInShape(screenRect);
      shape->SetSelected(inside);
      if (inside && shape->Selected() && !first) first = shape;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  focusShape_ = first;
  DoFocusShape(first);
  EndUpdate();
}

TFloatPoint TdtpDocument::SnapToGridPoint(TFloatPoint point, bool snap) const {
  TdtpPage* page = GetCurrentPage();
  if (!snap || !page) return point;
  const TFloatPoint origin{page->DocLeft(), page->DocTop()};
  const TFloatPoint p = page->SnapPoint({point.X - origin.X, point.Y - origin.Y});
  return {p.X + origin.X, p.Y + origin.Y};
}

// ---- Hit tests --------------------------------------------------------------------------------

std::uint8_t TdtpDocument::HitTest(TPoint point, TdtpShape*& shape) {
  shape = nullptr;
  TdtpPage* page = GetCurrentPage();
  if (readOnly_ || !page) return 0;
  for (int i = page->GetShapeCount() - 1; i >= 0; --i) {
    TdtpShape* s = page->GetShape(i);
    if (!s->Selected()) continue;
    if (const std::uint8_t code = s->HandleAtPoint(point)) {
      shape = s;
      return code;
    }
  }
  for (int i = page->GetShapeCount() - 1; i >= 0; --i) {
    TdtpShape* s = page->GetShape(i);
    if (s->AllowSelect() && s->HitTest(point)) {
      shape = s;
      return 1;
    }
  }
  return 0;
}

TdtpShape* TdtpDocument::HitTestDblClick(TPoint point) {
  TdtpPage* page = GetCurrentPage();
  if (!page) return nullptr;
  for (int i = page->GetShapeCount() - 1; i >= 0; --i) {
    TdtpShape* found = nullptr;
    if (page->GetShape(i)->ShapeAtPoint(point, found) && found) return found;
  }
  return nullptr;
}

TCursor TdtpDocument::GetHandleCursor(TdtpShape* shape, int code) const {
  if (code >= 2 && code <= 9 && shape) {
    // The handle's direction on the screen, in steps of 45 degrees; halves
    // round to the even neighbour.
    const double turned = std::nearbyint(static_cast<double>(shape->DocAngle()) + 22.5);
    const int steps = ((static_cast<int>(std::floor(turned / 45)) % 8) + 8) % 8;
    for (int i = 0; i < steps; ++i) code = code == 9 ? 2 : code + 1;
  }
  switch (code) {
    case 2: case 6: return crSizeNWSE;
    case 3: case 7: return crSizeWE;
    case 4: case 8: return crSizeNESW;
    case 5: case 9: return crSizeNS;
    default: return cursor_;
  }
}

// ---- Drags ----------------------------------------------------------------------------------------

void TdtpDocument::StartDrag(TFloatPoint delta) {
  TdtpPage* page = GetCurrentPage();
  if (!page || hitCode_ == 0) return;
  if (hitCode_ != 1) {
    focusShape_ = hitShape_;
    DoFocusShape(hitShape_);
  } else {
    for (int i = 0; i < page->GetShapeCount(); ++i) {
      TdtpShape* s = page->GetShape(i);
      if (s->Selected() && !s->AllowMove()) {
        hitCode_ = 0;
        return;
      }
    }
  }
  // Only the grabbed shape may follow a handle; another's index is stale.
  for (int i = 0; i < page->GetShapeCount(); ++i) {
    TdtpShape* s = page->GetShape(i);
    if (s != hitShape_ || hitCode_ == 1) s->SetActiveHandle(-1);
  }
  SetDragState(dsDragging);
  DrawDragOutlines(delta);
}

void TdtpDocument::DrawDragOutlines(TFloatPoint delta) {
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  if (!outlinesShown_) dragAlt_ = mouseAlt_;
  outlinesShown_ = true;
  outlineDelta_ = delta;
  ComputeDragOutlines();
  viewport()->update();
}

void TdtpDocument::ComputeDragOutlines() {
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  for (int i = 0; i < page->GetShapeCount(); ++i) {
    TdtpShape* s = page->GetShape(i);
    if (!s->Selected()) continue;
    TAffineMatrix matrix;
    s->HandleDrag(outlineDelta_, dragAlt_, hitCode_, matrix);
    s->SetDragTransform(matrix);
  }
}

void TdtpDocument::EndDrag(bool apply) {
  if (dragState_ != dsDragging) return;
  dragState_ = dsIdle;
  outlinesShown_ = false;
  viewport()->update();
  TdtpPage* page = GetCurrentPage();
  hitCode_ = 0;
  hitShape_ = nullptr;
  if (!apply || !page) return;
  // One gesture, one undo step, however many shapes it moved.
  BeginUndo();
  try {
    for (int i = 0; i < page->GetShapeCount(); ++i) {
      TdtpShape* s = page->GetShape(i);
      if (s->Selected()) s->ApplyDrag();
    }
  } catch (...) {
    EndUndo();
    throw;
  }
  EndUndo();
}

TRect TdtpDocument::RubberBandRect() const {
  const TFloatPoint a = DocToScreen(dragStart_);
  const TFloatPoint b = DocToScreen({dragStart_.X + bandDelta_.X, dragStart_.Y + bandDelta_.Y});
  const auto px = [](float v) { return static_cast<std::int32_t>(std::lround(v)); };
  return {px(std::min(a.X, b.X)), px(std::min(a.Y, b.Y)), px(std::max(a.X, b.X)),
          px(std::max(a.Y, b.Y))};
}

void TdtpDocument::DrawRubberBand(TFloatPoint delta) {
  bandDelta_ = delta;
  rubberBandShown_ = true;
  viewport()->update();
}

void TdtpDocument::EndRubberBand(bool select) {
  const TRect band = RubberBandRect();
  const bool shown = rubberBandShown_;
  if (shown) {
    rubberBandShown_ = false;
    viewport()->update();
  }
  dragState_ = dsIdle;
  if (select && shown && static_cast<std::int64_t>(band.Width()) * band.Height() != 0)
    SelectInRect(band);
}

void TdtpDocument::PaintOverlays(QPainter& canvas) {
  TdtpPage* page = GetCurrentPage();
  if (!page) return;
  if (outlinesShown_ && dragState_ == dsDragging) {
    // Painting the handles at rest rebuilt them, taking the dragged places
    // with them: the outlines are placed again for the delta they show.
    ComputeDragOutlines();
    for (int i = 0; i < page->GetShapeCount(); ++i) {
      TdtpShape* s = page->GetShape(i);
      if (s->Selected()) s->DrawDragOutline(canvas);
    }
  }
  if (rubberBandShown_ && dragState_ == dsRubberBand) {
    const TRect r = RubberBandRect();
    GdiRectangle(canvas, {Color32(handleColor_), 1, true, TPenMode::Xor}, std::nullopt,
                 QRect(r.Left, r.Top, r.Width(), r.Height()));
  }
}

void TdtpDocument::BeginDragDrop() {
  auto* drag = new QDrag(this);
  auto* data = new QMimeData();
  data->setData(QString::fromLatin1(kDragMimeType), QByteArray());
  drag->setMimeData(data);
  drag->exec(Qt::CopyAction | Qt::MoveAction);
}

// ---- In-place editing ------------------------------------------------------------------------

void TdtpDocument::EditShape(TdtpShape* shape) {
  SetDragState(dsInPlaceEdit);
  editedShape_ = shape;
  setFocus(Qt::OtherFocusReason);
  if (shape) shape->BeginEdit();
}

void TdtpDocument::EndEdit(bool accept) {
  TdtpShape* shape = editedShape_;
  if (dragState_ == dsInPlaceEdit) dragState_ = dsIdle;
  // Cleared first: a shape's EndEdit may call back here.
  editedShape_ = nullptr;
  if (OnShapeEditClosed) OnShapeEditClosed(*this, shape);
  if (shape) shape->EndEdit(accept);
  viewport()->update();
}

void TdtpDocument::DiscardShape(TdtpShape* shape) {
  TdtpPage* page = GetCurrentPage();
  if (!page || !shape) return;
  // A cancelled drawing leaves nothing to undo.
  LockUndo();
  std::unique_ptr<TdtpShape> owned;
  try {
    owned = page->ExtractShape(shape);
  } catch (...) {
    UnlockUndo();
    throw;
  }
  UnlockUndo();
  if (!owned) return;
  if (focusShape_ == shape) focusShape_ = nullptr;
  if (hitShape_ == shape) hitShape_ = nullptr;
  if (hintShape_ == shape) hintShape_ = nullptr;
  if (editedShape_ == shape) editedShape_ = nullptr;
  discarded_.push_back(std::move(owned));
  DoShapeListChanged();
  viewport()->update();
  // Freed once the handler that asked has returned.
  QTimer::singleShot(0, this, [this] { Guarded([this] { FreeDiscarded(); }); });
}

void TdtpDocument::FreeDiscarded() { discarded_.clear(); }

void TdtpDocument::SendEditKey(int character) {
  if (dragState_ != dsInPlaceEdit || !editedShape_) return;
  char32_t c = static_cast<char32_t>(character);
  editedShape_->KeyPress(c);
}

QMenu* TdtpDocument::CurrentPopupMenu() const {
  if (dragState_ == dsInPlaceEdit) return builtInMenu_.get();
  return popupMenu_;
}

// ---- Mouse ---------------------------------------------------------------------------------------

void TdtpDocument::mousePressEvent(QMouseEvent* event) {
  Guarded([&] {
    const TdtpMouseInfo m = MouseInfo(*event);
    mousePoint_ = PointOf(m);
    mouseAlt_ = m.Alt;
    switch (event->button()) {
      case Qt::LeftButton: LeftDown(m); break;
      case Qt::RightButton:
        if (OnMouseDown) OnMouseDown(*this, mbRight, ShiftOf(m), m.X, m.Y);
        break;
      case Qt::MiddleButton:
        if (OnMouseDown) OnMouseDown(*this, mbMiddle, ShiftOf(m), m.X, m.Y);
        break;
      default: break;
    }
  });
  event->accept();
}

void TdtpDocument::mouseMoveEvent(QMouseEvent* event) {
  Guarded([&] {
    const TdtpMouseInfo m = MouseInfo(*event);
    mousePoint_ = PointOf(m);
    mouseAlt_ = m.Alt;
    MouseMoved(m);
  });
  event->accept();
}

void TdtpDocument::mouseReleaseEvent(QMouseEvent* event) {
  Guarded([&] {
    const TdtpMouseInfo m = MouseInfo(*event);
    mousePoint_ = PointOf(m);
    mouseAlt_ = m.Alt;
    switch (event->button()) {
      case Qt::LeftButton: LeftUp(m); break;
      case Qt::RightButton:
        if (OnMouseUp) OnMouseUp(*this, mbRight, ShiftOf(m), m.X, m.Y);
        break;
      case Qt::MiddleButton:
        if (OnMouseUp) OnMouseUp(*this, mbMiddle, ShiftOf(m), m.X, m.Y);
        break;
      default: break;
    }
  });
  event->accept();
}

void TdtpDocument::mouseDoubleClickEvent(QMouseEvent* event) {
  Guarded([&] {
    if (event->button() != Qt::LeftButton) return;
    const TdtpMouseInfo m = MouseInfo(*event);
    mousePoint_ = PointOf(m);
    DoubleClicked(m);
  });
  event->accept();
}

void TdtpDocument::LeftDown(const TdtpMouseInfo& m) {
  doubleClicked_ = false;
  setFocus(Qt::MouseFocusReason);
  if (OnMouseDown) OnMouseDown(*this, mbLeft, ShiftOf(m), m.X, m.Y);
  dragDelta_ = {0, 0};
  const TFloatPoint start = ScreenToDoc({static_cast<float>(m.X), static_cast<float>(m.Y)});
  dragStart_ = SnapToGridPoint(start, snapToGrid_ != m.Alt);
  if (dragState_ == dsInPlaceEdit && editedShape_) {
    editedShape_->MouseDown(m);
    return;
  }
  hitCode_ = 0;
  hitShape_ = nullptr;
  if (mode_ != vmEdit) return;
  if (m.Ctrl && multiSelectMethod_ == msmCtrl) {
    dragStart_ = start;
    SetDragState(dsRubberBand);
    DrawRubberBand({0, 0});
    return;
  }
  TdtpShape* shape = nullptr;
  hitCode_ = HitTest(PointOf(m), shape);
  hitShape_ = shape;
  if (shape && m.Shift) {
    ToggleSelection(shape);
  } else if (shape && !(hitCode_ == 1 && shape->Selected())) {
    BeginUpdate();
    try {
      ClearSelection();
      focusShape_ = shape;
      DoFocusShape(shape);
      shape->SetSelected(true);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
  }
  switch (hitCode_) {
    case 1: SetWidgetCursor(viewport(), cursor_); break;
    case 10:
      dragStart_ = start;
      SetWidgetCursor(viewport(), crRotation);
      break;
    case 11: SetWidgetCursor(viewport(), crSizeAll); break;
    case 0:
      if (multiSelectMethod_ == msmSimple) {
        dragStart_ = start;
        SetDragState(dsRubberBand);
        DrawRubberBand({0, 0});
      } else {
        ClearSelection();
      }
      focusShape_ = nullptr;
      SetWidgetCursor(viewport(), cursor_);
      break;
    default: SetWidgetCursor(viewport(), GetHandleCursor(hitShape_, hitCode_)); break;
  }
}

void TdtpDocument::MouseMoved(const TdtpMouseInfo& m) {
  if (hotzoneScrolling_ != hzsNoScroll && !hotzoneRunning_) HotzoneScroll();
  if (rulerTop_) rulerTop_->SetHairLinePos(m.X);
  if (rulerLeft_) rulerLeft_->SetHairLinePos(m.Y);
  if (dragState_ == dsInPlaceEdit && editedShape_) {
    editedShape_->MouseMove(m);
    return;
  }

  TFloatPoint current = ScreenToDoc({static_cast<float>(m.X), static_cast<float>(m.Y)});
  if (m.Left && IsSnappedCode(hitCode_)) current = SnapToGridPoint(current, snapToGrid_ != m.Alt);
  TFloatPoint delta{current.X - dragStart_.X, current.Y - dragStart_.Y};
  if (m.Shift && hitCode_ == 1) {
    if (std::fabs(delta.X) <= std::fabs(delta.Y))
      delta.X = 0;
    else
      delta.Y = 0;
  }
  const TFloatPoint previous = dragDelta_;
  const bool changed = delta.X != previous.X || delta.Y != previous.Y;

  if (!m.Left) {
    hitShape_ = nullptr;
    if (m.Right) return;
    TdtpShape* shape = nullptr;
    const std::uint8_t code = HitTest(PointOf(m), shape);
    switch (code) {
      case 1: SetWidgetCursor(viewport(), crHandPoint); break;
      case 10: SetWidgetCursor(viewport(), crRotation); break;
      case 11: SetWidgetCursor(viewport(), crSizeAll); break;
      case 0: SetWidgetCursor(viewport(), cursor_); break;
      default: SetWidgetCursor(viewport(), GetHandleCursor(shape, code)); break;
    }
    if (code == 1 && shape != hintShape_) {
      StartHintTimer(PointOf(m), shape, hintShape_ ? hintShortPause_ : hintPause_);
    } else if (code != 1) {
      hintShape_ = nullptr;
      CancelHint();
    }
    return;
  }

  if (dragState_ == dsRubberBand) {
    SetWidgetCursor(viewport(), cursor_);
    if (changed) DrawRubberBand(delta);
  }
  if (dragState_ == dsIdle) {
    const float dx = delta.X * screenDpm_, dy = delta.Y * screenDpm_;
    if (dx * dx + dy * dy > kDragThreshold) {
      StartDrag(previous);
      if (dragState_ == dsDragging && hitCode_ == 1) SetWidgetCursor(viewport(), crSizeAll);
    }
  }
  if (dragState_ == dsDragging) {
    const QWidget* client = viewport();
    if (hitCode_ == 1 &&
        (m.X < 0 || m.X > client->width() || m.Y < 0 || m.Y > client->height())) {
      EndDrag(false);
      dragDelta_ = delta;
      BeginDragDrop();
      return;
    }
    if (hitCode_ == 1) SetWidgetCursor(viewport(), m.Ctrl ? crSizeCopy : crSizeAll);
    if (changed) DrawDragOutlines(delta);
  }
  dragDelta_ = delta;
}

void TdtpDocument::LeftUp(const TdtpMouseInfo& m) {
  if (doubleClicked_) {
    doubleClicked_ = false;
    EndDrag(false);
    return;
  }
  if (dragState_ == dsInPlaceEdit && editedShape_) {
    editedShape_->MouseUp(m);
    return;
  }
  if (dragState_ == dsDragging) {
    if (hitCode_ == 1 && m.Ctrl) {
      // Copy-drag: the originals stay, moved copies are selected; one undo
      // step for the whole gesture.
      const TFloatPoint delta = dragDelta_;
      BeginUndo();
      try {
        EndDrag(false);
        std::string text;
        SelectionToString(text);
        ClearSelection();
        PasteFromString(text);
        if (TdtpPage* page = GetCurrentPage()) {
          for (int i = 0; i < page->GetShapeCount(); ++i) {
            TdtpShape* s = page->GetShape(i);
            if (s->Selected()) s->SetDocPosition(s->DocLeft() + delta.X, s->DocTop() + delta.Y);
          }
        }
      } catch (...) {
        EndUndo();
        throw;
      }
      EndUndo();
    } else {
      EndDrag(true);
    }
    if (focusShape_) DoShapeChanged(focusShape_);
  } else if (dragState_ == dsRubberBand) {
    ClearSelection();
    EndRubberBand(true);
  }
  if (OnMouseUp) OnMouseUp(*this, mbLeft, ShiftOf(m), m.X, m.Y);
}

void TdtpDocument::DoubleClicked(const TdtpMouseInfo& m) {
  doubleClicked_ = true;
  setFocus(Qt::MouseFocusReason);
  if (dragState_ == dsInPlaceEdit && editedShape_) {
    editedShape_->DblClick(m);
    return;
  }
  TdtpShape* shape = HitTestDblClick(PointOf(m));
  if (!shape) return;
  if (readOnly_ || !shape->AllowEdit()) {
    shape->DoEditDone();
    hitShape_ = nullptr;
  } else {
    EditShape(shape);
  }
}

// ---- Keys ------------------------------------------------------------------------------------------

std::int32_t TdtpDocument::VirtualKey(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Cancel: return vkCancel;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 9;
    case Qt::Key_Return: case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Escape: return vkEscape;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Execute: return 43;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return vkDelete;
    default: break;
  }
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return qtKey;
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return qtKey;
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 112 + (qtKey - Qt::Key_F1);
  return 0;
}

void TdtpDocument::keyPressEvent(QKeyEvent* event) {
  Guarded([&] {
    const TdtpMouseInfo keys = KeyInfo(event->modifiers(), mousePoint_);
    std::int32_t key = VirtualKey(event->key());
    // The characters of the key: Ctrl with a letter gives its control
    // code (Ctrl+C 3, Ctrl+V 22, Ctrl+X 24) whatever the event's text.
    std::u32string chars;
    if (keys.Ctrl && event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z) {
      chars.push_back(static_cast<char32_t>(event->key() - Qt::Key_A + 1));
    } else if (!keys.Ctrl || keys.Alt) {
      chars = event->text().toStdU32String();
    }
    if (dragState_ == dsInPlaceEdit && editedShape_) {
      if (key != 0) editedShape_->KeyDown(key, keys);
      for (char32_t c : chars) {
        if (dragState_ != dsInPlaceEdit || !editedShape_) break;
        editedShape_->KeyPress(c);
      }
      return;
    }
    if (!allowKeyInput_) return;
    KeyDownNotify(key, keys);
    for (char32_t c : chars) {
      switch (c) {
        case 3: CopySelection(); break;
        case 22: Paste(); break;
        case 24: CutSelection(); break;
        default: break;
      }
    }
  });
  event->accept();
}

void TdtpDocument::KeyDownNotify(std::int32_t key, const TdtpMouseInfo& /*keys*/) {
  switch (key) {
    case vkEscape: SetDragState(dsIdle); break;
    case vkDelete: DeleteSelection(); break;
    case vkF2: {
      TdtpPage* page = GetCurrentPage();
      if (!page) break;
      for (int i = 0; i < page->GetShapeCount(); ++i) {
        if (page->GetShape(i)->Selected()) {
          EditShape(page->GetShape(i));
          break;
        }
      }
      break;
    }
    case vkF5:
      if (TdtpPage* page = GetCurrentPage()) page->UpdateAll();
      break;
    default: break;
  }
}

void TdtpDocument::keyReleaseEvent(QKeyEvent* event) {
  Guarded([&] {
    if (dragState_ != dsInPlaceEdit || !editedShape_) return;
    std::int32_t key = VirtualKey(event->key());
    if (key != 0) editedShape_->KeyUp(key, KeyInfo(event->modifiers(), mousePoint_));
  });
  event->accept();
}

void TdtpDocument::contextMenuEvent(QContextMenuEvent* event) {
  Guarded([&] {
    if (QMenu* menu = CurrentPopupMenu()) menu->popup(event->globalPos());
  });
  event->accept();
}

// ---- Hints -----------------------------------------------------------------------------------------

void TdtpDocument::StartHintTimer(TPoint point, TdtpShape* shape, int pause) {
  CancelHint();
  if (!shape || !shape->GetShowHint() || shape->GetHint().empty()) return;
  hintShape_ = shape;
  hintPoint_ = point;
  if (!hintTimer_) {
    hintTimer_ = std::make_unique<TTimer>();
    hintTimer_->OnTimer = [this] { HintTick(); };
  }
  hintTimer_->SetInterval(static_cast<std::uint32_t>(std::max(pause, 1)));
  hintTimer_->SetEnabled(true);
}

void TdtpDocument::HintTick() {
  if (hintShown_)
    CancelHint();
  else
    ShowShapeHint();
}

void TdtpDocument::ShowShapeHint() {
  if (!hintShape_) {
    CancelHint();
    return;
  }
  auto label = std::make_unique<QLabel>(nullptr, Qt::ToolTip);
  label->setText(QString::fromStdString(hintShape_->GetHint()));
  label->setWordWrap(true);
  label->setAutoFillBackground(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0xE0));
  label->setPalette(palette);
  const QScreen* screen = this->screen();
  const int maxWidth = screen ? screen->geometry().width() / 2 : 400;
  label->setMaximumWidth(std::max(maxWidth, 1));
  label->adjustSize();
  label->move(viewport()->mapToGlobal(QPoint(hintPoint_.X, hintPoint_.Y + 24)));
  label->show();
  hintWindow_ = std::move(label);
  hintShown_ = true;
  if (hintTimer_) {
    hintTimer_->SetInterval(static_cast<std::uint32_t>(std::max(hintHidePause_, 1)));
    hintTimer_->SetEnabled(true);
  }
}

void TdtpDocument::CancelHint() {
  // The timer stays: this may run inside its own tick.
  if (hintTimer_) hintTimer_->SetEnabled(false);
  hintWindow_.reset();
  hintShown_ = false;
}

// ---- Hot-zone scrolling ------------------------------------------------------------------------------

void TdtpDocument::SetHotzoneScrolling(TdtpHZScrollingType value) {
  hotzoneScrolling_ = value;
  if (value == hzsNoScroll) {
    hotzoneTimer_.reset();
    hotzoneRunning_ = false;
    return;
  }
  if (!hotzoneTimer_) {
    hotzoneTimer_ = std::make_unique<TTimer>();
    hotzoneTimer_->SetInterval(kHotzoneInterval);
    hotzoneTimer_->OnTimer = [this] { HotzoneTick(); };
    hotzoneTimer_->SetEnabled(true);
  }
}

void TdtpDocument::HotzoneTick() {
  if (hotzoneRunning_) HotzoneScroll();
}

void TdtpDocument::HotzoneScroll() {
  if (dragState_ == dsInPlaceEdit) return;
  const std::uint64_t now = TickCount64();
  const std::uint64_t since = now >= hotzoneTick_ ? now - hotzoneTick_ : 0;
  const float elapsed = static_cast<float>(std::clamp<std::uint64_t>(since, 1, 200));
  hotzoneTick_ = now;
  const TPoint p = mousePoint_;
  const float moved = std::hypot(static_cast<float>(p.X - hotzonePoint_.X),
                                 static_cast<float>(p.Y - hotzonePoint_.Y));
  const float speed = moved / elapsed * 1000;
  hotzonePoint_ = p;
  if (!hotzoneRunning_ && speed > kHotzoneEntrySpeed) return;

  const float cw = static_cast<float>(viewport()->width());
  const float ch = static_cast<float>(viewport()->height());
  float fx = 0, fy = 0;
  if (p.X >= 0 && p.Y >= 0 && p.X < cw && p.Y < ch) {
    const auto factor = [](float pos, float size) {
      const float zone = kHotzoneShare * size;
      if (pos < zone) return pos / zone - 1;
      if (size - pos < zone) return 1 - (size - pos) / zone;
      return 0.0f;
    };
    fx = factor(static_cast<float>(p.X), cw);
    fy = factor(static_cast<float>(p.Y), ch);
  }
  if (fx == 0 && fy == 0) {
    hotzoneRunning_ = false;
    return;
  }
  hotzoneRamp_ = hotzoneRunning_ ? hotzoneRamp_ + elapsed : 10;
  const auto ramped = [this](float f) {
    const float v = std::min(hotzoneRamp_ / kHotzoneRampMs, f * f);
    return f < 0 ? -v : (f > 0 ? v : 0.0f);
  };
  fx = ramped(fx);
  fy = ramped(fy);
  std::int32_t dx = static_cast<std::int32_t>(std::lround(elapsed * fx * 2));
  std::int32_t dy = static_cast<std::int32_t>(std::lround(elapsed * fy * 2));
  if (outlinesShown_) {
    ScrollBy(dx, dy);
    viewport()->repaint();
  } else if (hotzoneScrolling_ == hzsAlways) {
    ScrollBy(dx, dy);
  }
  hotzoneRunning_ = true;
}

}  // namespace kdl

#include "platform/qt/Cursors.h"

#include <QWidget>

namespace kdl {

void SetWidgetCursor(QWidget* widget, TCursor cursor) {
  if (widget == nullptr) return;
  Qt::CursorShape shape = Qt::ArrowCursor;
  switch (cursor) {
    case crCross: shape = Qt::CrossCursor; break;
    case crIBeam: shape = Qt::IBeamCursor; break;
    case crSizeNESW: shape = Qt::SizeBDiagCursor; break;
    case crSizeNS: shape = Qt::SizeVerCursor; break;
    case crSizeNWSE: shape = Qt::SizeFDiagCursor; break;
    case crSizeWE: shape = Qt::SizeHorCursor; break;
    case crHourGlass: shape = Qt::WaitCursor; break;
    case crNo: shape = Qt::ForbiddenCursor; break;
    case crHandPoint: shape = Qt::PointingHandCursor; break;
    case crSizeAll: shape = Qt::SizeAllCursor; break;
    default: break;
  }
  if (widget->cursor().shape() != shape) widget->setCursor(shape);
}

}  // namespace kdl

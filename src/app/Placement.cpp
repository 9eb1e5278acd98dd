#include "app/Placement.h"

#include <QWidget>

namespace kdl {

void PlaceControl(TPlacementBounds& bounds, QWidget& control, int mode,
                  const TLayoutRecord& record, std::int32_t dx, std::int32_t dy) {
  const std::int32_t x = dx + record.PadLeft;
  QPoint pos = control.pos();
  switch (mode) {
    case pmAbsolute: pos = {x, dy + record.PadTop}; break;
    case pmRight: pos = {x + bounds.Right, bounds.Top + record.PadTop}; break;
    case pmNewRow: pos = {x, dy + bounds.Bottom + record.PadTop}; break;
    case pmUnder: pos = {bounds.Left + record.PadLeft, dy + bounds.Bottom + record.PadTop}; break;
    default: break;
  }
  control.setGeometry(pos.x(), pos.y(), record.Width, record.Height);
  // What the control really got: a size constraint may have refused the
  // record's size, and the next control goes beside the real box.
  const QRect g = control.geometry();
  bounds.Left = g.x() - record.PadLeft;
  bounds.Top = g.y() - record.PadTop;
  bounds.Right = g.x() + g.width() + record.PadRight;
  bounds.Bottom = g.y() + g.height() + record.PadBottom;
}

void PlaceControlAt(QWidget& control, const TLayoutRecord& record) {
  TPlacementBounds scratch;
  PlaceControl(scratch, control, pmAbsolute, record, 0, 0);
}

}  // namespace kdl

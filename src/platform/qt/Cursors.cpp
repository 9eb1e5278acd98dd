#include "platform/qt/Cursors.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPixmap>
#include <QWidget>
#include <map>

// The drawings are compiled into this library as Qt resources; a static
// library would drop their registration unless something refers to it.
static void InitCursorResources() { Q_INIT_RESOURCE(cursors); }

namespace kdl {
namespace {

struct TDrawnCursor {
  TCursor id;
  const char* file;
  int hotX;
  int hotY;
};

// The hot spots are the points the drawings aim at: the centre of the
// turning arrow, the crossing of the move arrows, the centre of the cross.
constexpr TDrawnCursor kDrawnCursors[] = {
    {crRotation, "rotation.png", 16, 16},
    {crSizeCopy, "sizecopy.png", 12, 12},
    {crDtpCross, "crdtpcross.png", 8, 8},
    {crDtpCrossLine, "crdtpcrossline.png", 8, 8},
    {crDtpCrossArrow, "crdtpcrossarrow.png", 8, 8},
    {crDtpCrossRectangle, "crdtpcrossrectangle.png", 8, 8},
    {crDtpCrossEllipse, "crdtpcrossellipse.png", 8, 8},
    {crDtpCrossText, "crdtpcrosstext.png", 8, 8},
    {crDtpCrossImage, "crdtpcrossimage.png", 8, 8},
};

Qt::CursorShape StandardShape(TCursor cursor) {
  switch (cursor) {
    case crCross: return Qt::CrossCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crSizeNESW: return Qt::SizeBDiagCursor;
    case crSizeNS: return Qt::SizeVerCursor;
    case crSizeNWSE: return Qt::SizeFDiagCursor;
    case crSizeWE: return Qt::SizeHorCursor;
    case crHourGlass: return Qt::WaitCursor;
    case crNo: return Qt::ForbiddenCursor;
    case crAppStart: return Qt::BusyCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
  }
}

const std::map<TCursor, QCursor>& DrawnCursors() {
  static const std::map<TCursor, QCursor> table = [] {
    InitCursorResources();
    std::map<TCursor, QCursor> t;
    for (const TDrawnCursor& c : kDrawnCursors) {
      const QPixmap image(QStringLiteral(":/cursors/") + QLatin1String(c.file));
      // A drawing that failed to load must not leave an invisible cursor.
      t.emplace(c.id, image.isNull() ? QCursor(Qt::CrossCursor) : QCursor(image, c.hotX, c.hotY));
    }
    return t;
  }();
  return table;
}

}  // namespace

QCursor ScreenCursor(TCursor cursor) {
  if (cursor <= crRotation && cursor >= crDtpCrossImage) {
    if (qGuiApp == nullptr) return QCursor(Qt::CrossCursor);
    return DrawnCursors().at(cursor);
  }
  return QCursor(StandardShape(cursor));
}

void SetWidgetCursor(QWidget* widget, TCursor cursor) {
  if (widget == nullptr) return;
  const QCursor c = ScreenCursor(cursor);
  if (!(widget->cursor() == c)) widget->setCursor(c);
}

}  // namespace kdl

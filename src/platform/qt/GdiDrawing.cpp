#include "platform/qt/GdiDrawing.h"

#include <QList>
#include <QPainter>
#include <QPoint>
#include <QRect>

#include <algorithm>
#include <cstdlib>

namespace kdl {

namespace {

constexpr int kDotLength = 3;
constexpr QRgb kGapColor = 0xFFFFFFFFu;

// Device pixels, whole pixels only, in the pen's mode.
class TPainterState {
 public:
  TPainterState(QPainter& painter, TPenMode mode) : painter_(painter) {
    painter_.save();
    painter_.resetTransform();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setCompositionMode(mode == TPenMode::Xor ? QPainter::RasterOp_SourceXorDestination
                                                      : QPainter::CompositionMode_SourceOver);
  }
  ~TPainterState() { painter_.restore(); }
  TPainterState(const TPainterState&) = delete;
  TPainterState& operator=(const TPainterState&) = delete;

 private:
  QPainter& painter_;
};

QColor Opaque(QRgb color) { return QColor::fromRgba(color | 0xFF000000u); }

// Pixels in drawing order, split by the pen's style into dashes and gaps.
struct TStyledPixels {
  explicit TStyledPixels(bool dotted) : dotted_(dotted) {}
  void Add(int x, int y) {
    const bool gap = dotted_ && (count_++ / kDotLength) % 2 == 1;
    (gap ? Gaps : Dashes).append(QPoint(x, y));
  }
  void Draw(QPainter& painter, const TGdiPen& pen) const {
    TPainterState state(painter, pen.Mode);
    painter.setBrush(Qt::NoBrush);
    if (!Dashes.isEmpty()) {
      painter.setPen(QPen(Opaque(pen.Color), 1));
      painter.drawPoints(Dashes.constData(), static_cast<int>(Dashes.size()));
    }
    if (!Gaps.isEmpty()) {
      painter.setPen(QPen(Opaque(kGapColor), 1));
      painter.drawPoints(Gaps.constData(), static_cast<int>(Gaps.size()));
    }
  }
  QList<QPoint> Dashes;
  QList<QPoint> Gaps;

 private:
  bool dotted_;
  int count_ = 0;
};

}  // namespace

void GdiLine(QPainter& painter, const TGdiPen& pen, const QPoint& a, const QPoint& b) {
  if (pen.Width > 1) {
    TPainterState state(painter, pen.Mode);
    painter.setPen(QPen(Opaque(pen.Color), pen.Width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(a, b);
    return;
  }
  // Bresenham along the longer axis; the end point is the next line's start.
  TStyledPixels pixels(pen.Dotted);
  const long long dx = std::llabs(static_cast<long long>(b.x()) - a.x());
  const long long dy = std::llabs(static_cast<long long>(b.y()) - a.y());
  const int sx = b.x() >= a.x() ? 1 : -1;
  const int sy = b.y() >= a.y() ? 1 : -1;
  const long long steps = std::max(dx, dy);
  long long err = (dx >= dy ? dx : dy) / 2;
  int x = a.x(), y = a.y();
  for (long long i = 0; i < steps; ++i) {
    pixels.Add(x, y);
    if (dx >= dy) {
      x += sx;
      err -= dy;
      if (err < 0) {
        y += sy;
        err += dx;
      }
    } else {
      y += sy;
      err -= dx;
      if (err < 0) {
        x += sx;
        err += dy;
      }
    }
  }
  pixels.Draw(painter, pen);
}

void GdiRectangle(QPainter& painter, const TGdiPen& pen, std::optional<QRgb> brush,
                  const QRect& rect) {
  const QRect r = rect.normalized();
  if (r.isEmpty()) return;
  if (brush && r.width() > 2 && r.height() > 2) {
    TPainterState state(painter, pen.Mode);
    painter.fillRect(r.adjusted(1, 1, -1, -1), Opaque(*brush));
  }
  // Clockwise from the top-left corner, every outline pixel once.
  TStyledPixels pixels(pen.Dotted);
  const int l = r.left(), t = r.top(), rt = r.right(), b = r.bottom();
  for (int x = l; x <= rt; ++x) pixels.Add(x, t);
  if (b > t) {
    for (int y = t + 1; y <= b; ++y) pixels.Add(rt, y);
    if (rt > l) {
      for (int x = rt - 1; x >= l; --x) pixels.Add(x, b);
      for (int y = b - 1; y > t; --y) pixels.Add(l, y);
    }
  }
  pixels.Draw(painter, pen);
}

void GdiEllipse(QPainter& painter, const TGdiPen& pen, std::optional<QRgb> brush,
                const QRect& rect) {
  const QRect r = rect.normalized();
  if (r.isEmpty()) return;
  TPainterState state(painter, pen.Mode);
  painter.setPen(QPen(Opaque(pen.Color), 1));
  painter.setBrush(brush ? QBrush(Opaque(*brush)) : QBrush(Qt::NoBrush));
  // A one-pixel pen strokes one pixel beyond the rectangle it is given.
  painter.drawEllipse(QRect(r.left(), r.top(), r.width() - 1, r.height() - 1));
}

}  // namespace kdl

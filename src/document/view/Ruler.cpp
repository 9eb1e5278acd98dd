#include "document/view/Ruler.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/qt/ErrorDisplay.h"

namespace kdl {
namespace {

QColor ToQColor(TColor color) { return QColor::fromRgba(Color32(color)); }

// A Windows-style rectangle (right and bottom exclusive) as a QRect.
QRect WinRect(int left, int top, int right, int bottom) {
  return QRect(left, top, right - left, bottom - top);
}

std::int32_t RoundPx(double v) {
  constexpr double kLimit = 1 << 30;
  return static_cast<std::int32_t>(std::nearbyint(std::clamp(v, -kLimit, kLimit)));
}

QString NumberText(double value) {
  char buffer[400];
  // Adding 0 turns -0 into 0.
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value + 0.0, std::chars_format::fixed, 0);
  return QString::fromLatin1(buffer, static_cast<qsizetype>(r.ptr - buffer));
}

// Draws text with its unturned top-left corner at (x, y), turned by angle
// degrees counter-clockwise.
void TurnedText(QPainter& painter, int x, int y, int angle, const QString& text) {
  painter.save();
  painter.translate(x, y);
  painter.rotate(-angle);
  painter.drawText(QRect(0, 0, 1 << 16, 1 << 16), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  painter.restore();
}

}  // namespace

// ---- TKdBaseRuler -------------------------------------------------------------

TKdBaseRuler::TKdBaseRuler(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  font_.OnChange = [this](TFont&) {
    textFontValid_ = false;
    Changed();
  };
}

TKdBaseRuler::~TKdBaseRuler() = default;

void TKdBaseRuler::SetFlat(bool value) {
  if (flat_ == value) return;
  flat_ = value;
  Changed();
}

void TKdBaseRuler::SetColor(TColor value) {
  if (color_ == value) return;
  color_ = value;
  Changed();
}

void TKdBaseRuler::SetScaleColor(TColor value) {
  if (scaleColor_ == value) return;
  scaleColor_ = value;
  Changed();
}

void TKdBaseRuler::SetTickColor(TColor value) {
  if (tickColor_ == value) return;
  tickColor_ = value;
  Changed();
}

const TFont& TKdBaseRuler::TextFont() {
  if (!textFontValid_) {
    textFont_.Assign(font_);
    // A negative control height is the em; its negation asks the factory
    // for a cell of that height. Underline and strike-out stay off.
    textFont_.SetHeight(-font_.Height());
    textFont_.SetStyle(font_.Style() & (fsBold | fsItalic));
    textFontValid_ = true;
  }
  return textFont_;
}

std::int32_t TKdBaseRuler::TextHeight() { return TextExtent(TextFont(), QStringLiteral("0")).cy; }

void TKdBaseRuler::PaintBase(QPainter& painter) {
  const int w = width(), h = height();
  painter.fillRect(rect(), ToQColor(color_));
  if (flat_) return;
  const QColor light = ToQColor(clBtnHighlight), shadow = ToQColor(clBtnShadow);
  painter.fillRect(0, 0, w, 1, light);
  painter.fillRect(0, 0, 1, h, light);
  painter.fillRect(0, h - 1, w, 1, shadow);
  painter.fillRect(w - 1, 0, 1, h, shadow);
}

void TKdBaseRuler::Changed() { update(); }

// ---- TKdRuler -----------------------------------------------------------------

TKdRuler::TKdRuler(QWidget* parent) : TKdBaseRuler(parent) { resize(200, 33); }

TKdRuler::~TKdRuler() = default;

void TKdRuler::SetDirection(TRulerDir value) {
  if (direction_ == value) return;
  const bool wasHorizontal = Horizontal();
  direction_ = value;
  if (wasHorizontal != Horizontal()) resize(height(), width());
  Changed();
}

void TKdRuler::SetHairLine(bool value) {
  if (hairLine_ == value) return;
  hairLine_ = value;
  Changed();
}

void TKdRuler::SetHairLinePos(std::int32_t value) {
  if (hairLinePos_ == value) return;
  // Only the old and the new strip change; the scale stays as it is.
  if (hairLine_ && hairLinePos_ != -1) update(HairLineRect(hairLinePos_));
  hairLinePos_ = value;
  if (hairLine_ && hairLinePos_ != -1) update(HairLineRect(hairLinePos_));
}

void TKdRuler::SetHairLineStyle(THairLineStyle value) {
  if (hairLineStyle_ == value) return;
  hairLineStyle_ = value;
  Changed();
}

void TKdRuler::SetOffset(double value) {
  if (offset_ == value) return;
  offset_ = value;
  Changed();
}

void TKdRuler::SetShowMinus(bool value) {
  if (showMinus_ == value) return;
  showMinus_ = value;
  Changed();
}

void TKdRuler::SetScreenDpm(double value) {
  if (screenDpm_ == value) return;
  screenDpm_ = value;
  Changed();
}

double TKdRuler::Dpi() const { return Horizontal() ? logicalDpiX() : logicalDpiY(); }

double TKdRuler::UnitsPerMm(TRulerUnit unit) const {
  switch (unit) {
    case ruCenti: return 0.1;
    case ruInch: return 0.03937007874015748;
    case ruPixel: return Dpi() / 25.4;
    default: return 1;
  }
}

void TKdRuler::SetUnits(TRulerUnit value) {
  if (units_ == value) return;
  offset_ = offset_ / UnitsPerMm(units_) * UnitsPerMm(value);
  units_ = value;
  Changed();
}

QRect TKdRuler::BandRect() {
  const int w = width(), h = height(), th = TextHeight(), x = Inset();
  switch (direction_) {
    case rdTop: return WinRect(x, h - th - 7, w - x, h - 8);
    case rdBottom: return WinRect(x, 8, w - x, th + 7);
    case rdLeft: return WinRect(w - th - 6, x, w - 8, h - x);
    case rdRight: return WinRect(8, x, th + 6, h - x);
  }
  return {};
}

QRect TKdRuler::HairLineRect(std::int32_t position) {
  const QRect band = BandRect();
  const int from = hairLineStyle_ == hlsLine ? position - 1 : 1;
  const QRect strip = Horizontal() ? WinRect(from, band.top(), position, band.bottom() + 1)
                                   : WinRect(band.left(), from, band.right() + 1, position);
  return strip.intersected(band);
}

void TKdRuler::Changed() {
  scaleValid_ = false;
  TKdBaseRuler::Changed();
}

void TKdRuler::paintEvent(QPaintEvent*) {
  try {
    // A new size draws the scale again too (resize events also come
    // with every grab of a hidden control, so they cannot be the sign).
    if (!scaleValid_ || scale_.deviceIndependentSize() != QSizeF(size())) {
      RenderScale();
      // The scale was drawn afresh without the hair line.
      hairLinePos_ = -1;
    }
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), scale_);
    if (hairLine_ && hairLinePos_ != -1) {
      const QRect strip = HairLineRect(hairLinePos_);
      if (!strip.isEmpty()) {
        const qreal dpr = scale_.devicePixelRatio();
        const QRect pixels = QRectF(QPointF(strip.topLeft()) * dpr, QSizeF(strip.size()) * dpr).toRect();
        QImage inverted = scale_.copy(pixels);
        inverted.invertPixels();
        painter.drawImage(strip.topLeft(), inverted);
      }
    }
  } catch (...) {
    ShowCurrentException();
  }
}

void TKdRuler::RenderScale() {
  const qreal dpr = devicePixelRatioF();
  scale_ = QImage((QSizeF(size()) * dpr).toSize(), QImage::Format_RGB32);
  scale_.setDevicePixelRatio(dpr);
  scaleValid_ = true;
  if (scale_.isNull()) return;
  QPainter painter(&scale_);
  PaintBase(painter);
  painter.fillRect(BandRect(), ToQColor(ScaleColor()));
  DrawScale(painter);
}

void TKdRuler::DrawScale(QPainter& painter) {
  // 1. Pixels per unit. Pixels count the screen's pixels at full size; a
  // ruler without units shows the band alone.
  double u = 0;
  switch (units_) {
    case ruCenti: u = screenDpm_ * 10; break;
    case ruMilli: u = screenDpm_; break;
    case ruInch: u = screenDpm_ * 25.4; break;
    case ruPixel: u = screenDpm_ / UnitsPerMm(ruPixel); break;
    case ruNone: return;
  }
  // A zero or broken zoom has no scale (and would never leave step 2).
  double v = 40 / u;
  if (!(std::isfinite(u) && u > 0 && std::isfinite(v))) return;

  // 2. A label step of 1, 2, 5 or 10 powers of ten, some 40 pixels apart.
  double m = 1;
  while (v > 10) {
    m *= 10;
    v /= 10;
  }
  double s = 10 * m;
  int d = 5;
  if (v < 1.2) {
    s = m;
  } else if (v < 2.5) {
    s = 2 * m;
  } else if (v < 6) {
    s = 5 * m;
    d = 2;
  }

  // 3. Labels every P pixels from the offset.
  const double P = s * u;
  const double o = offset_ * screenDpm_;
  const double L = Horizontal() ? width() : height();
  if (!std::isfinite(o) || !std::isfinite(P) || !(P > 0)) return;
  const int w = width(), h = height();
  const TFont& font = TextFont();
  painter.setFont(font.ToQFont());
  painter.setPen(ToQColor(font.Color()));
  {
    const double first = std::floor(o / P), last = std::ceil((L + o) / P);
    if (!(last - first < 1e5)) return;
    const auto count = static_cast<int>(last - first);
    for (int i = 0; i <= count; ++i) {
      const double g = first + i;
      const int p = RoundPx(-o + g * P + 1);
      const double value = showMinus_ ? g * s : std::fabs(g * s);
      const QString text = NumberText(value);
      const TSize extent = TextExtent(font, text);
      switch (direction_) {
        case rdTop: TurnedText(painter, p - extent.cx / 2, h - extent.cy - 8, 0, text); break;
        case rdBottom: TurnedText(painter, p - extent.cx / 2, 8, 0, text); break;
        case rdLeft: TurnedText(painter, w - extent.cy - 7, p + extent.cx / 2, 90, text); break;
        case rdRight: TurnedText(painter, extent.cy + 7, p - extent.cx / 2, 270, text); break;
      }
    }
  }

  // 4. Ticks every tenth of a label step from the inner edge, every d-th
  // one longer.
  const double t = P / 10;
  const double first = std::floor(o / t), last = std::ceil((L + o) / t);
  if (!(last - first < 1e6)) return;
  const QColor tick = ToQColor(TickColor());
  const auto count = static_cast<int>(last - first);
  for (int i = 0; i <= count; ++i) {
    const double r = first + i;
    const int p = RoundPx(-o + r * t + 1);
    const int len = std::fmod(r, d) == 0 ? 8 : 6;
    switch (direction_) {
      case rdTop: painter.fillRect(p, h - len, 1, len, tick); break;
      case rdBottom: painter.fillRect(p, 0, 1, len, tick); break;
      case rdLeft: painter.fillRect(w - len, p, len, 1, tick); break;
      case rdRight: painter.fillRect(0, p, len, 1, tick); break;
    }
  }
}

// ---- TKdRulerCorner -----------------------------------------------------------

TKdRulerCorner::TKdRulerCorner(QWidget* parent) : TKdBaseRuler(parent) {
  resize(24, 24);
  caption_ = QStringLiteral("cm");
  setToolTip(QStringLiteral("centimeter"));
}

TKdRulerCorner::~TKdRulerCorner() = default;

void TKdRulerCorner::SetPosition(TCornerPos value) {
  if (position_ == value) return;
  position_ = value;
  Changed();
}

void TKdRulerCorner::SetUnits(TRulerUnit value) {
  if (units_ == value) return;
  units_ = value;
  static constexpr const char* kNames[][2] = {
      {"cm", "centimeter"}, {"mm", "millimeter"}, {"in", "inch"}, {"px", "pixel"}, {"", ""}};
  caption_ = QString::fromLatin1(kNames[value][0]);
  setToolTip(QString::fromLatin1(kNames[value][1]));
  Changed();
}

void TKdRulerCorner::paintEvent(QPaintEvent*) {
  try {
    QPainter painter(this);
    PaintBase(painter);
    const int W = width(), H = height(), h = TextHeight(), x = Inset(), b = h + 6;
    const int w = TextExtent(TextFont(), caption_).cx;
    // Laid out for the corner at the rulers' top-left ends; the others
    // mirror it.
    QRect across = WinRect(W - b, H - b - 1, W - x, H - 8);
    QRect down = WinRect(W - b, H - b, W - 8, H - x);
    QRect caption(W + (h - w + 4) / 2 - b + 1, H - b - 1, w, h);
    const bool mirrorX = position_ == cpRightTop || position_ == cpRightBottom;
    const bool mirrorY = position_ == cpLeftBottom || position_ == cpRightBottom;
    for (QRect* r : {&across, &down, &caption}) {
      if (mirrorX) r->moveLeft(W - (r->left() + r->width()));
      if (mirrorY) r->moveTop(H - (r->top() + r->height()));
    }
    painter.fillRect(across, ToQColor(ScaleColor()));
    painter.fillRect(down, ToQColor(ScaleColor()));
    if (!caption_.isEmpty()) {
      painter.setFont(TextFont().ToQFont());
      painter.setPen(ToQColor(TextFont().Color()));
      painter.drawText(caption, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip,
                       caption_);
    }
  } catch (...) {
    ShowCurrentException();
  }
}

}  // namespace kdl

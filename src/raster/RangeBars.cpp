#include "raster/RangeBars.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "platform/qt/ErrorDisplay.h"
#include "raster/Themes.h"
#include "raster/ThreadPersistent.h"

namespace kdl {
namespace {

// The repeat and hover-watch timing of the buttons.
constexpr std::uint32_t kFirstRepeatDelay = 600;
constexpr std::uint32_t kRepeatInterval = 100;
constexpr std::uint32_t kHoverInterval = 150;
// Shortest thumb, and the shortest track that still shows one.
constexpr std::int32_t kMinThumb = 17;

std::int32_t Near(double v) { return static_cast<std::int32_t>(std::nearbyint(v)); }

QColor Q(TColor c) { return QColor::fromRgb(Color32(c)); }

QRect ToQ(const TRect& r, QPoint origin) {
  return QRect(r.Left + origin.x(), r.Top + origin.y(), r.Width(), r.Height());
}

bool Empty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

// One-pixel bevel: top and left in tl, bottom and right in br.
void Bevel(QPainter& p, const QRect& r, const QColor& tl, const QColor& br) {
  if (r.width() <= 0 || r.height() <= 0) return;
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), tl);
  p.fillRect(QRect(r.left(), r.top(), 1, r.height()), tl);
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), br);
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), br);
}

// A raised (or sunken) two-pixel edge filled with face, in the classic colours.
void ClassicEdge(QPainter& p, const QRect& r, bool sunken) {
  p.fillRect(r, Q(clBtnFace));
  if (sunken) {
    Bevel(p, r, Q(clBtnShadow), Q(clBtnShadow));
    return;
  }
  Bevel(p, r, Q(cl3DLight), Q(cl3DDkShadow));
  Bevel(p, r.adjusted(1, 1, -1, -1), Q(clBtnHighlight), Q(clBtnShadow));
}

// A filled triangle pointing to side, centred in r, sized from r's smaller
// side.
void Arrow(QPainter& p, const QRect& r, TArrowSide side, const QColor& c) {
  const int n = std::max(1, std::min(r.width(), r.height()) / 4);
  const int cx = r.left() + (r.width() - 1) / 2;
  const int cy = r.top() + (r.height() - 1) / 2;
  for (int i = 0; i < n; ++i) {
    // Row i from the tip: 2i + 1 pixels across.
    switch (side) {
      case asLeft: p.fillRect(QRect(cx - n / 2 + i, cy - i, 1, 2 * i + 1), c); break;
      case asRight: p.fillRect(QRect(cx + n / 2 - i, cy - i, 1, 2 * i + 1), c); break;
      case asUp: p.fillRect(QRect(cx - i, cy - n / 2 + i, 2 * i + 1, 1), c); break;
      case asDown: p.fillRect(QRect(cx - i, cy + n / 2 - i, 2 * i + 1, 1), c); break;
    }
  }
}

// A two-colour checker over r, anchored at the widget's origin.
void Checker(QPainter& p, const QRect& r, const QColor& a, const QColor& b) {
  if (a == b) {
    p.fillRect(r, a);
    return;
  }
  QImage tile(2, 2, QImage::Format_RGB32);
  tile.setPixel(0, 0, a.rgb());
  tile.setPixel(1, 1, a.rgb());
  tile.setPixel(1, 0, b.rgb());
  tile.setPixel(0, 1, b.rgb());
  p.save();
  p.setBrushOrigin(0, 0);
  p.fillRect(r, QBrush(tile));
  p.restore();
}

}  // namespace

TColor ShiftColorBrightness(TColor color, std::int32_t delta) {
  const TColor32 c = Color32(color);
  auto ch = [&](std::int32_t v) { return static_cast<std::uint8_t>(std::clamp(v + delta, 0, 255)); };
  return WinColor(Color32(ch(RedComponent(c)), ch(GreenComponent(c)), ch(BlueComponent(c))));
}

TColor BlendColorsByWeight(TColor c1, TColor c2, std::int32_t w) {
  KDL_RASTER_ASSERT(w < 256);
  const TColor32 a = Color32(c1), b = Color32(c2);
  auto ch = [&](std::uint8_t x, std::uint8_t y) {
    return static_cast<std::uint8_t>((w * x + (255 - w) * y) >> 8);
  };
  return WinColor(Color32(ch(RedComponent(a), RedComponent(b)),
                          ch(GreenComponent(a), GreenComponent(b)),
                          ch(BlueComponent(a), BlueComponent(b))));
}

// ---- TArrowBar ------------------------------------------------------------------

TArrowBar::TArrowBar(QWidget* parent) : QWidget(parent) {
  resize(100, 16);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setContentsMargins(1, 1, 1, 1);
  repeatTimer_.OnTimer = [this] { TimerTick(); };
}

TArrowBar::~TArrowBar() { repeatTimer_.OnTimer = nullptr; }

#define KDL_BAR_SETTER(Name, field, Type) \
  void TArrowBar::Set##Name(Type value) { \
    if (field == value) return;           \
    field = value;                        \
    update();                             \
  }
KDL_BAR_SETTER(Backgnd, backgnd_, TRBBackgnd)
KDL_BAR_SETTER(ButtonSize, buttonSize_, std::int32_t)
KDL_BAR_SETTER(Color, color_, TColor)
KDL_BAR_SETTER(HandleColor, handleColor_, TColor)
KDL_BAR_SETTER(ButtonColor, buttonColor_, TColor)
KDL_BAR_SETTER(HighLightColor, highLightColor_, TColor)
KDL_BAR_SETTER(ShadowColor, shadowColor_, TColor)
KDL_BAR_SETTER(BorderColor, borderColor_, TColor)
KDL_BAR_SETTER(Kind, kind_, TScrollBarKind)
KDL_BAR_SETTER(ShowArrows, showArrows_, bool)
KDL_BAR_SETTER(ShowHandleGrip, showHandleGrip_, bool)
#undef KDL_BAR_SETTER

void TArrowBar::SetBorderStyle(TBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  // The single border is a one-pixel margin the widget paints itself.
  const int m = value == bsSingle ? 1 : 0;
  setContentsMargins(m, m, m, m);
  update();
}

void TArrowBar::SetStyle(TRBStyle value) {
  style_ = value;
  update();
}

TRect TArrowBar::ClientRect() const {
  const QRect c = contentsRect();
  return {0, 0, std::max(0, c.width()), std::max(0, c.height())};
}

QPoint TArrowBar::ClientOrigin() const { return contentsRect().topLeft(); }

std::int32_t TArrowBar::AlongLength() const {
  const TRect c = ClientRect();
  return Horizontal() ? c.Right : c.Bottom;
}

std::int32_t TArrowBar::AcrossLength() const {
  const TRect c = ClientRect();
  return Horizontal() ? c.Bottom : c.Right;
}

std::int32_t TArrowBar::ArrowButtonSize() const {
  if (!showArrows_) return 0;
  const std::int32_t along = AlongLength();
  std::int32_t s = buttonSize_ != 0 ? buttonSize_ : std::min(AcrossLength(), 32);
  std::int32_t result = 2 * s < along ? s : along / 2;
  if (style_ == rbsMac) --result;
  return result <= 1 ? 0 : result;
}

TRect TArrowBar::TrackRect() const {
  TRect r = ClientRect();
  const std::int32_t s = ArrowButtonSize();
  if (Horizontal()) {
    r.Left += s;
    r.Right -= s;
  } else {
    r.Top += s;
    r.Bottom -= s;
  }
  return r;
}

TRect TArrowBar::ThumbRect() const { return {}; }

bool TArrowBar::ActiveLook() const { return isEnabled(); }

TBarZone TArrowBar::ZoneAt(std::int32_t x, std::int32_t y) const {
  const TRect c = ClientRect();
  if (!PtInRect(c, {x, y})) return bzNone;
  const std::int32_t s = ArrowButtonSize();
  const std::int32_t along = Horizontal() ? x : y;
  const std::int32_t length = AlongLength();
  if (along < s) return bzPrevButton;
  if (along >= length - s) return bzNextButton;
  const TRect h = ThumbRect();
  if (PtInRect(h, {x, y})) return bzThumb;
  const std::int32_t start = Horizontal() ? h.Left : h.Top;
  const std::int32_t end = Horizontal() ? h.Right : h.Bottom;
  if (along > 0 && along < start) return bzPrevTrack;
  if (along >= end && along < length - 1) return bzNextTrack;
  return bzNone;
}

TRect TArrowBar::ZoneRect(TBarZone zone) const {
  TRect r = ClientRect();
  const std::int32_t s = ArrowButtonSize();
  auto along = [&](std::int32_t from, std::int32_t to) {
    if (Horizontal()) {
      r.Left = from;
      r.Right = to;
    } else {
      r.Top = from;
      r.Bottom = to;
    }
    return r;
  };
  const std::int32_t length = AlongLength();
  switch (zone) {
    case bzNone: return {};
    case bzPrevButton: return along(0, s);
    case bzNextButton: return along(length - s, length);
    default: break;
  }
  const TRect t = TrackRect();
  TRect h = ThumbRect();
  if (!ActiveLook() || Empty(h)) {
    // No thumb: the two track zones meet at the track's middle.
    const std::int32_t mx = (t.Left + t.Right) / 2, my = (t.Top + t.Bottom) / 2;
    h = Horizontal() ? TRect{mx, t.Top, mx, t.Bottom} : TRect{t.Left, my, t.Right, my};
  }
  const std::int32_t ts = Horizontal() ? t.Left : t.Top;
  const std::int32_t te = Horizontal() ? t.Right : t.Bottom;
  const std::int32_t hs = Horizontal() ? h.Left : h.Top;
  const std::int32_t he = Horizontal() ? h.Right : h.Bottom;
  switch (zone) {
    case bzPrevTrack: return along(ts, hs);
    case bzThumb: return along(hs, he);
    case bzNextTrack: return along(he, te);
    default: return {};
  }
}

void TArrowBar::NotifyChange() {
  if (OnChange) OnChange(this);
  if (userChanging_ && OnUserScroll) OnUserScroll(this);
}

// ---- Timer ----------------------------------------------------------------------

void TArrowBar::BeginRepeat() {
  repeatTimer_.SetEnabled(false);
  repeatTimer_.SetInterval(kFirstRepeatDelay);
  timerPhase_ = 2;
  TimerTick();
  // A first step that could not move ended the repeat already: it stays so.
  if (timerPhase_ != 2) return;
  timerPhase_ = 1;
  repeatTimer_.SetEnabled(true);
}

void TArrowBar::BeginHover() {
  repeatTimer_.SetInterval(kHoverInterval);
  timerPhase_ = 3;
  repeatTimer_.SetEnabled(true);
}

void TArrowBar::EndHover() {
  repeatTimer_.SetEnabled(false);
  timerPhase_ = 0;
  hoverZone_ = bzNone;
  update();
}

void TArrowBar::TimerTick() {
  if (timerPhase_ == 1) {
    repeatTimer_.SetInterval(kRepeatInterval);
    timerPhase_ = 2;
  } else if (timerPhase_ == 3) {
    if (!PtInRect(ClientRect(), {lastPointer_.x(), lastPointer_.y()})) {
      EndHover();
      update();
    }
  }
}

void TArrowBar::PointerLeft() { EndHover(); }

// ---- Mouse ----------------------------------------------------------------------

void TArrowBar::MouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y) {
  if (button != Qt::LeftButton) return;
  pressedZone_ = ZoneAt(x, y);
  update();
  pressX_ = x;
  pressY_ = y;
  BeginRepeat();
}

void TArrowBar::MouseMove(std::int32_t x, std::int32_t y) {
  if (pressedZone_ != bzNone || !ActiveLook()) return;
  const TBarZone zone = ZoneAt(x, y);
  if (zone == hoverZone_) return;
  hoverZone_ = zone;
  if (zone != bzNone) BeginHover();
  update();
}

void TArrowBar::MouseUp(Qt::MouseButton button, std::int32_t, std::int32_t) {
  if (button != Qt::LeftButton) return;
  pressedZone_ = bzNone;
  update();
  EndRepeat();
}

void TArrowBar::mousePressEvent(QMouseEvent* event) {
  try {
    const QPoint p = event->position().toPoint() - ClientOrigin();
    lastPointer_ = p;
    MouseDown(event->button(), p.x(), p.y());
  } catch (...) {
    ShowCurrentException();
  }
}

void TArrowBar::mouseMoveEvent(QMouseEvent* event) {
  try {
    const QPoint p = event->position().toPoint() - ClientOrigin();
    lastPointer_ = p;
    MouseMove(p.x(), p.y());
  } catch (...) {
    ShowCurrentException();
  }
}

void TArrowBar::mouseReleaseEvent(QMouseEvent* event) {
  try {
    const QPoint p = event->position().toPoint() - ClientOrigin();
    lastPointer_ = p;
    MouseUp(event->button(), p.x(), p.y());
  } catch (...) {
    ShowCurrentException();
  }
}

void TArrowBar::leaveEvent(QEvent*) {
  try {
    lastPointer_ = {-1, -1};
    PointerLeft();
  } catch (...) {
    ShowCurrentException();
  }
}

void TArrowBar::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) update();
  QWidget::changeEvent(event);
}

// ---- Painting -------------------------------------------------------------------

void TArrowBar::paintEvent(QPaintEvent*) {
  try {
    QPainter p(this);
    PaintBorder(p);
    const QPoint o = ClientOrigin();
    p.translate(o);
    p.setClipRect(ToQ(ClientRect(), {}));
    const bool active = ActiveLook();
    if (showArrows_) {
      PaintArrowButton(p, ZoneRect(bzPrevButton), Horizontal() ? asLeft : asUp,
                       pressedZone_ == bzPrevButton, hoverZone_ == bzPrevButton, active);
      PaintArrowButton(p, ZoneRect(bzNextButton), Horizontal() ? asRight : asDown,
                       pressedZone_ == bzNextButton, hoverZone_ == bzNextButton, active);
    }
    PaintTrack(p, ZoneRect(bzPrevTrack), bzPrevTrack, pressedZone_ == bzPrevTrack);
    PaintTrack(p, ZoneRect(bzNextTrack), bzNextTrack, pressedZone_ == bzNextTrack);
    const TRect thumb = ThumbRect();
    if (active && !Empty(thumb)) {
      PaintThumb(p, thumb, Horizontal(), hoverZone_ == bzThumb, pressedZone_ == bzThumb);
    }
  } catch (...) {
    ShowCurrentException();
  }
}

void TArrowBar::PaintBorder(QPainter& p) {
  if (borderStyle_ != bsSingle) return;
  // The sunken outer edge of a single border.
  Bevel(p, rect(), Q(clBtnShadow), Q(clBtnHighlight));
}

void TArrowBar::PaintThemed(QPainter& p, TBarZone zone, const TRect& r, bool pressed, bool hot,
                            bool enabled) {
  if (Empty(r)) return;
  QStyle* style = SCROLLBAR_THEME;
  QStyleOptionSlider opt;
  opt.initFrom(this);
  opt.orientation = Horizontal() ? Qt::Horizontal : Qt::Vertical;
  opt.state &= ~(QStyle::State_Enabled | QStyle::State_MouseOver | QStyle::State_Sunken |
                 QStyle::State_Horizontal);
  if (enabled) opt.state |= QStyle::State_Enabled;
  if (Horizontal()) opt.state |= QStyle::State_Horizontal;
  if (pressed) opt.state |= QStyle::State_Sunken;
  if (hot) opt.state |= QStyle::State_MouseOver;
  opt.minimum = 0;
  opt.maximum = 0;
  opt.rect = ToQ(ClientRect(), {});
  QStyle::SubControl sub = QStyle::SC_ScrollBarSlider;
  switch (zone) {
    case bzPrevButton:
      sub = QStyle::SC_ScrollBarSubLine;
      opt.subControls = QStyle::SC_ScrollBarSubLine | QStyle::SC_ScrollBarAddLine;
      break;
    case bzNextButton:
      sub = QStyle::SC_ScrollBarAddLine;
      opt.subControls = QStyle::SC_ScrollBarSubLine | QStyle::SC_ScrollBarAddLine;
      break;
    case bzPrevTrack:
    case bzNextTrack:
      sub = zone == bzPrevTrack ? QStyle::SC_ScrollBarSubPage : QStyle::SC_ScrollBarAddPage;
      opt.subControls =
          QStyle::SC_ScrollBarGroove | QStyle::SC_ScrollBarSubPage | QStyle::SC_ScrollBarAddPage;
      break;
    default: {
      // The style's slider fills its groove when there is nothing to
      // scroll: widen the rectangle by the style's buttons so that the
      // slider lands exactly on the thumb.
      opt.subControls = QStyle::SC_ScrollBarSlider;
      opt.rect = ToQ(r, {});
      for (int pass = 0; pass < 2; ++pass) {
        const QRect slider =
            style->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this);
        const QRect want = ToQ(r, {});
        if (Horizontal()) {
          opt.rect.adjust(want.left() - slider.left(), 0, want.right() - slider.right(), 0);
        } else {
          opt.rect.adjust(0, want.top() - slider.top(), 0, want.bottom() - slider.bottom());
        }
      }
      break;
    }
  }
  opt.activeSubControls = (pressed || hot) ? sub : QStyle::SC_None;
  p.save();
  // Whatever else the style draws stays outside: the zone is all we paint.
  p.setClipRect(ToQ(r, {}), Qt::IntersectClip);
  p.fillRect(ToQ(r, {}), opt.palette.window());
  style->drawComplexControl(QStyle::CC_ScrollBar, &opt, &p, this);
  p.restore();
}

void TArrowBar::PaintArrowButton(QPainter& p, const TRect& r, TArrowSide direction, bool pressed,
                                 bool hot, bool enabled) {
  if (Empty(r)) return;
  const QRect q = ToQ(r, {});
  if (style_ == rbsMac) {
    const QColor frame = Q(enabled ? borderColor_ : shadowColor_);
    // The frame line on the side that faces the track.
    QRect face = q;
    if (direction == asLeft) {
      p.fillRect(QRect(q.right(), q.top(), 1, q.height()), frame);
      face.setRight(q.right() - 1);
    } else if (direction == asRight) {
      p.fillRect(QRect(q.left(), q.top(), 1, q.height()), frame);
      face.setLeft(q.left() + 1);
    } else if (direction == asUp) {
      p.fillRect(QRect(q.left(), q.bottom(), q.width(), 1), frame);
      face.setBottom(q.bottom() - 1);
    } else {
      p.fillRect(QRect(q.left(), q.top(), q.width(), 1), frame);
      face.setTop(q.top() + 1);
    }
    p.fillRect(face, Q(buttonColor_));
    const QColor light = Q(ShiftColorBrightness(buttonColor_, 24));
    const QColor dark = Q(BlendColorsByWeight(ShiftColorBrightness(buttonColor_, -24), borderColor_, 96));
    if (pressed) {
      Bevel(p, face, dark, light);
    } else {
      Bevel(p, face, light, dark);
    }
    Arrow(p, face.translated(pressed ? 1 : 0, pressed ? 1 : 0), direction, frame);
    return;
  }
  if (useThemes()) {
    const TBarZone zone = (direction == asLeft || direction == asUp) ? bzPrevButton : bzNextButton;
    PaintThemed(p, zone, r, pressed, hot, enabled);
    return;
  }
  // The classic frame-control button: raised, or flat and pushed.
  ClassicEdge(p, q, pressed);
  const QRect glyph = q.translated(pressed ? 1 : 0, pressed ? 1 : 0);
  if (enabled) {
    Arrow(p, glyph, direction, Q(clBtnText));
  } else {
    Arrow(p, glyph.translated(1, 1), direction, Q(clBtnHighlight));
    Arrow(p, glyph, direction, Q(clBtnShadow));
  }
}

void TArrowBar::PaintTrack(QPainter& p, const TRect& r, TBarZone zone, bool pressed) {
  if (Empty(r)) return;
  const QRect q = ToQ(r, {});
  if (style_ == rbsMac) {
    if (pressed) {
      p.fillRect(q, Q(borderColor_));
      return;
    }
    if (backgnd_ == bgSolid) {
      p.fillRect(q, Q(color_));
    } else {
      Checker(p, q, Q(highLightColor_), Q(color_));
    }
    // A shadow along the inner edge under the border.
    const QColor shadow =
        Q(BlendColorsByWeight(borderColor_, BlendColorsByWeight(highLightColor_, color_, 127), 32));
    if (Horizontal()) {
      p.fillRect(QRect(q.left(), q.top(), q.width(), 1), shadow);
    } else {
      p.fillRect(QRect(q.left(), q.top(), 1, q.height()), shadow);
    }
    return;
  }
  if (useThemes()) {
    PaintThemed(p, zone, r, pressed, false, ActiveLook());
    return;
  }
  if (pressed) {
    p.fillRect(q, Q(clWindowFrame));
  } else {
    Checker(p, q, Q(clBtnHighlight), Q(color_));
  }
}

void TArrowBar::PaintThumb(QPainter& p, const TRect& r, bool horizontal, bool hot, bool pressed) {
  const QRect q = ToQ(r, {});
  if (style_ == rbsMac) {
    const QColor frame = Q(borderColor_);
    QRect face = q;
    // Framed at both ends along the bar.
    if (horizontal) {
      p.fillRect(QRect(q.left(), q.top(), 1, q.height()), frame);
      p.fillRect(QRect(q.right(), q.top(), 1, q.height()), frame);
      face.adjust(1, 0, -1, 0);
    } else {
      p.fillRect(QRect(q.left(), q.top(), q.width(), 1), frame);
      p.fillRect(QRect(q.left(), q.bottom(), q.width(), 1), frame);
      face.adjust(0, 1, 0, -1);
    }
    p.fillRect(face, Q(handleColor_));
    TColor light = ShiftColorBrightness(handleColor_, 24);
    TColor dark = ShiftColorBrightness(handleColor_, -24);
    if (!pressed) {
      light = BlendColorsByWeight(light, borderColor_, 96);
      dark = BlendColorsByWeight(dark, borderColor_, 96);
    }
    Bevel(p, face, Q(light), Q(dark));
    if (showHandleGrip_) {
      // Two-pixel marks three pixels apart around the middle.
      const int length = horizontal ? face.width() : face.height();
      const int marks = length > 10 ? 4 : 2;
      const int span = marks * 3 - 1;
      const int start = (horizontal ? face.left() : face.top()) + (length - span) / 2;
      const int across0 = (horizontal ? face.top() : face.left()) + 3;
      const int across = (horizontal ? face.height() : face.width()) - 6;
      for (int i = 0; i < marks && across > 0; ++i) {
        const int at = start + 3 * i;
        if (horizontal) {
          p.fillRect(QRect(at, across0, 1, across), Q(light));
          p.fillRect(QRect(at + 1, across0, 1, across), frame);
        } else {
          p.fillRect(QRect(across0, at, across, 1), Q(light));
          p.fillRect(QRect(across0, at + 1, across, 1), frame);
        }
      }
    }
    return;
  }
  if (useThemes()) {
    PaintThemed(p, bzThumb, r, pressed, hot, isEnabled());
    return;
  }
  ClassicEdge(p, q, false);
}

// ---- TCustomRangeBar ------------------------------------------------------------

TCustomRangeBar::TCustomRangeBar(QWidget* parent) : TArrowBar(parent) {
  RefreshWindow();
  handledSize_ = size();
}

bool TCustomRangeBar::ActiveLook() const { return isEnabled() && effectiveWindow_ < range_; }

TRect TCustomRangeBar::ThumbRect() const {
  const TRect t = TrackRect();
  const std::int32_t l = Horizontal() ? t.Width() : t.Height();
  if (l <= kMinThumb) return {};
  if (effectiveWindow_ >= range_) return t;
  std::int32_t size = Near(static_cast<double>(l) * effectiveWindow_ / range_);
  std::int32_t offset;
  if (size <= 16) {
    size = kMinThumb;
    offset = Near(static_cast<double>(l - kMinThumb) * position_ / (range_ - effectiveWindow_));
  } else {
    offset = Near(static_cast<double>(position_) * l / range_);
  }
  TRect r = t;
  if (Horizontal()) {
    r.Left = t.Left + offset;
    r.Right = r.Left + size;
  } else {
    r.Top = t.Top + offset;
    r.Bottom = r.Top + size;
  }
  return r;
}

void TCustomRangeBar::RefreshWindow() {
  effectiveWindow_ = window_ > 0 ? window_ : (Horizontal() ? width() : height());
}

void TCustomRangeBar::ClampPosition() {
  if (std::isnan(position_)) position_ = 0;
  if (position_ > static_cast<float>(range_ - effectiveWindow_)) {
    position_ = static_cast<float>(range_ - effectiveWindow_);
  }
  if (position_ < 0) position_ = 0;
}

void TCustomRangeBar::SetPosition(float value) {
  if (value == position_) return;
  const float old = position_;
  position_ = value;
  ClampPosition();
  if (position_ != old) {
    update();
    NotifyChange();
  }
}

void TCustomRangeBar::Recentre(std::int32_t oldWindow, std::int32_t oldRange) {
  if (!centered_ || effectiveWindow_ >= range_) return;
  const double f = (oldWindow < oldRange && oldRange != 0)
                       ? (oldWindow * 0.5 + position_) / oldRange
                       : 0.5;
  position_ = static_cast<float>(range_ * f - effectiveWindow_ * 0.5);
}

void TCustomRangeBar::SetRangeAndWindow(std::int32_t range, std::int32_t window) {
  range = std::max(range, 0);
  window = std::max(window, 0);
  if (range == range_ && window == effectiveWindow_) return;
  const std::int32_t oldWindow = effectiveWindow_, oldRange = range_;
  range_ = range;
  window_ = window;
  RefreshWindow();
  Recentre(oldWindow, oldRange);
  ClampPosition();
  update();
}

void TCustomRangeBar::SyncSize() {
  if (size() == handledSize_) return;
  handledSize_ = size();
  if (centered_) {
    const std::int32_t oldWindow = effectiveWindow_;
    RefreshWindow();
    Recentre(oldWindow, range_);
  }
  ClampPosition();
}

void TCustomRangeBar::resizeEvent(QResizeEvent* event) {
  SyncSize();
  TArrowBar::resizeEvent(event);
}

void TCustomRangeBar::MouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y) {
  if (button != Qt::LeftButton) return;
  if (effectiveWindow_ >= range_) {
    pressedZone_ = bzNone;
    return;
  }
  TArrowBar::MouseDown(button, x, y);
  if (pressedZone_ == bzThumb) {
    EndRepeat();
    grabPosition_ = position_;
  }
}

void TCustomRangeBar::MouseMove(std::int32_t x, std::int32_t y) {
  TArrowBar::MouseMove(x, y);
  if (pressedZone_ != bzThumb || range_ <= effectiveWindow_) return;
  const std::int32_t d = Horizontal() ? x - PressX() : y - PressY();
  std::int32_t t = AlongLength() - 2 * ArrowButtonSize();
  if (BorderStyle() == bsSingle) t -= 2;
  if (t <= 0) return;
  double delta;
  if (Near(static_cast<double>(effectiveWindow_) * t / range_) > 16) {
    delta = static_cast<double>(range_) * d / t;
  } else {
    // The shortest thumb travels over the track less its own length; a
    // track no longer than that leaves nothing to drag over.
    if (t <= kMinThumb) return;
    delta = Near(static_cast<double>(d) * (range_ - effectiveWindow_) / (t - kMinThumb));
  }
  TUserChange user(*this);
  SetPosition(static_cast<float>(grabPosition_ + delta));
}

void TCustomRangeBar::TimerTick() {
  TArrowBar::TimerTick();
  TUserChange user(*this);
  const TRect c = ClientRect();
  auto pointerZone = [&] {
    // The pointer clamped into the client rectangle.
    const std::int32_t x = std::clamp(LastPointer().x(), 0, std::max(0, c.Right - 1));
    const std::int32_t y = std::clamp(LastPointer().y(), 0, std::max(0, c.Bottom - 1));
    return ZoneAt(x, y);
  };
  switch (pressedZone_) {
    case bzPrevButton:
    case bzNextButton: {
      const float old = position_;
      SetPosition(position_ + (pressedZone_ == bzPrevButton ? -1.0f : 1.0f) * increment_);
      if (position_ == old) EndRepeat();
      break;
    }
    case bzPrevTrack: {
      const TBarZone z = pointerZone();
      if (z == bzPrevButton || z == bzPrevTrack) SetPosition(position_ - effectiveWindow_);
      break;
    }
    case bzNextTrack: {
      const TBarZone z = pointerZone();
      if (z == bzNextTrack || z == bzNextButton) SetPosition(position_ + effectiveWindow_);
      break;
    }
    default: break;
  }
}

void TCustomRangeBar::wheelEvent(QWheelEvent* event) {
  try {
    const QPoint a = event->angleDelta();
    const int delta = a.y() != 0 ? a.y() : a.x();
    // The wheel is the user's own scrolling, like a drag.
    TUserChange user(*this);
    SetPosition(position_ + static_cast<float>(delta) * increment_ / 120.0f);
    event->accept();
  } catch (...) {
    ShowCurrentException();
  }
}

}  // namespace kdl

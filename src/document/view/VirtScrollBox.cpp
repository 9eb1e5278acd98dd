#include "document/view/VirtScrollBox.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

#include "platform/qt/ErrorDisplay.h"

namespace kdl {
namespace {

// Rounds a pixel value to the nearest whole one (halves to even), keeping
// values a view computed from bad input inside the integer range.
std::int32_t RoundPx(double v) {
  if (!std::isfinite(v)) return 0;
  constexpr double kLimit = 1 << 30;
  return static_cast<std::int32_t>(std::nearbyint(std::clamp(v, -kLimit, kLimit)));
}

// Keeps a position within 0 .. max(virtual size - client size, 0); a view
// that computed a size or position that is not finite gets the origin.
float ClampPosition(float position, float virtualSize, std::int32_t clientSize) {
  const float room = virtualSize - static_cast<float>(clientSize);
  if (!std::isfinite(position) || !std::isfinite(room)) return 0;
  return std::min(std::max(room, 0.0f), std::max(position, 0.0f));
}

}  // namespace

TVirtScrollBox::TVirtScrollBox(QWidget* parent) : QAbstractScrollArea(parent) {
  // The content paints every pixel it covers and Paint fills the rest.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  ShowBars(true);
  for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
    const Qt::Orientation orientation = bar->orientation();
    connect(bar, &QAbstractSlider::actionTriggered, this, [this, orientation](int action) {
      try {
        BarAction(orientation, action);
      } catch (...) {
        ShowCurrentException();
      }
    });
    bar->setTracking(thumbTracking_);
  }
  resize(150, 250);
  // Qt's bars start with a range of their own.
  SetBars();
}

TVirtScrollBox::~TVirtScrollBox() = default;

std::int32_t TVirtScrollBox::ClientWidth() const { return viewport()->width(); }
std::int32_t TVirtScrollBox::ClientHeight() const { return viewport()->height(); }

void TVirtScrollBox::SetAutoScroll(bool value) {
  if (autoScroll_ == value) return;
  autoScroll_ = value;
  if (value) {
    UpdateScrollBars();
  } else {
    HideScrollBars();
    scrollX_ = 0;
    scrollY_ = 0;
    viewport()->update();
  }
}

void TVirtScrollBox::SetBorderStyle(TBorderStyle value) {
  if (borderStyle_ == value) return;
  borderStyle_ = value;
  // The client area changes size; its resize event sets the bars again.
  setFrameStyle(value == bsSingle ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
}

void TVirtScrollBox::SetColor(TColor value) {
  if (color_ == value) return;
  color_ = value;
  viewport()->update();
}

void TVirtScrollBox::SetThumbTracking(bool value) {
  thumbTracking_ = value;
  // Without tracking the bar reports the thumb only when it is let go.
  horizontalScrollBar()->setTracking(value);
  verticalScrollBar()->setTracking(value);
}

void TVirtScrollBox::SetVirtualBounds(float x, float y, float width, float height) {
  if (x == scrollX_ && y == scrollY_ && width == virtualWidth_ && height == virtualHeight_)
    return;
  if (x != scrollX_ || y != scrollY_) {
    scrollX_ = x;
    scrollY_ = y;
  }
  virtualWidth_ = width;
  virtualHeight_ = height;
  UpdateScrollBars();
  ScrollChanged();
}

void TVirtScrollBox::ScrollBy(std::int32_t& dx, std::int32_t& dy) {
  const float x = ClampPosition(scrollX_ + static_cast<float>(dx), virtualWidth_, ClientWidth());
  const float y = ClampPosition(scrollY_ + static_cast<float>(dy), virtualHeight_, ClientHeight());
  dx = RoundPx(x - scrollX_);
  dy = RoundPx(y - scrollY_);
  if (dx == 0 && dy == 0) return;
  scrollX_ = x;
  scrollY_ = y;
  ScrollChanged();
  viewport()->scroll(-dx, -dy);
  SetThumb(horizontalScrollBar(), scrollX_);
  SetThumb(verticalScrollBar(), scrollY_);
}

void TVirtScrollBox::UpdateScrollBars() {
  if (!autoScroll_) return;
  // Showing the bars shrinks the client area, whose resize event sets them
  // first.
  ShowBars(true);
  SetBars();
}

void TVirtScrollBox::SetBars() {
  const float largest = std::max(virtualWidth_, virtualHeight_);
  scale_ = largest > kScrollBarLimit ? kScrollBarLimit / largest : 1.0f;

  const float x = ClampPosition(scrollX_, virtualWidth_, ClientWidth());
  const float y = ClampPosition(scrollY_, virtualHeight_, ClientHeight());
  if (x != scrollX_ || y != scrollY_) {
    scrollX_ = x;
    scrollY_ = y;
    ScrollChanged();
    viewport()->update();
  }

  const auto set = [this](QScrollBar* bar, float virtualSize, std::int32_t clientSize,
                          float position) {
    const QSignalBlocker block(bar);
    const std::int32_t range = RoundPx(static_cast<double>(virtualSize) * scale_);
    const std::int32_t page = RoundPx(static_cast<double>(clientSize) * scale_);
    bar->setRange(0, std::max(range - page, 0));
    bar->setPageStep(std::max(page, 0));
    // The wheel moves by Qt's steps; line actions take ours.
    bar->setSingleStep(std::max(RoundPx(kLineStep * scale_), 1));
    bar->setValue(RoundPx(static_cast<double>(position) * scale_));
    // Shown but disabled when nothing scrolls.
    bar->setEnabled(virtualSize > static_cast<float>(clientSize));
  };
  set(horizontalScrollBar(), virtualWidth_, ClientWidth(), scrollX_);
  set(verticalScrollBar(), virtualHeight_, ClientHeight(), scrollY_);
}

void TVirtScrollBox::HideScrollBars() {
  for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
    const QSignalBlocker block(bar);
    bar->setRange(0, 0);
    bar->setPageStep(0);
    bar->setValue(0);
  }
  ShowBars(false);
}

void TVirtScrollBox::ScrollChanged() {}

void TVirtScrollBox::Paint(QPainter& painter, const QRect& clip) {
  const QRectF area(-scrollX_, -scrollY_, virtualWidth_, virtualHeight_);
  if (!area.contains(QRectF(clip))) painter.fillRect(clip, QColor::fromRgba(Color32(color_)));
}

void TVirtScrollBox::paintEvent(QPaintEvent* event) {
  try {
    QPainter painter(viewport());
    Paint(painter, event->rect());
  } catch (...) {
    ShowCurrentException();
  }
}

void TVirtScrollBox::resizeEvent(QResizeEvent* event) {
  try {
    // Bars hidden on purpose stay hidden.
    if (autoScroll_) SetBars();
  } catch (...) {
    ShowCurrentException();
  }
  QAbstractScrollArea::resizeEvent(event);
}

void TVirtScrollBox::scrollContentsBy(int, int) {}

void TVirtScrollBox::keyPressEvent(QKeyEvent* event) { event->ignore(); }

void TVirtScrollBox::BarAction(Qt::Orientation orientation, int action) {
  const bool horizontal = orientation == Qt::Horizontal;
  QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
  const float position = horizontal ? scrollX_ : scrollY_;
  if (!autoScroll_) {
    SetThumb(bar, position);
    return;
  }
  const float virtualSize = horizontal ? virtualWidth_ : virtualHeight_;
  const std::int32_t clientSize = horizontal ? ClientWidth() : ClientHeight();
  float target = position;
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: target = position - kLineStep; break;
    case QAbstractSlider::SliderSingleStepAdd: target = position + kLineStep; break;
    case QAbstractSlider::SliderPageStepSub: target = position - static_cast<float>(clientSize); break;
    case QAbstractSlider::SliderPageStepAdd: target = position + static_cast<float>(clientSize); break;
    // The thumb (dragged, let go, or moved by the wheel).
    case QAbstractSlider::SliderMove: target = static_cast<float>(bar->sliderPosition()) / scale_; break;
    case QAbstractSlider::SliderToMinimum: target = 0; break;
    case QAbstractSlider::SliderToMaximum: target = virtualSize - static_cast<float>(clientSize); break;
    default: break;
  }
  target = ClampPosition(target, virtualSize, clientSize);
  const std::int32_t delta = RoundPx(target - position);
  if (delta == 0) {
    // The bar moved its thumb already; put it back where the content is.
    SetThumb(bar, position);
    return;
  }
  (horizontal ? scrollX_ : scrollY_) = target;
  ScrollChanged();
  viewport()->scroll(horizontal ? -delta : 0, horizontal ? 0 : -delta);
  SetThumb(bar, target);
}

void TVirtScrollBox::SetThumb(QScrollBar* bar, float position) {
  const std::int32_t thumb = RoundPx(static_cast<double>(position) * scale_);
  if (bar->value() == thumb && bar->sliderPosition() == thumb) return;
  // Inside an action the bar takes its slider position as the new value
  // afterwards; setting both keeps them in step.
  const QSignalBlocker block(bar);
  bar->setValue(thumb);
}

void TVirtScrollBox::ShowBars(bool shown) {
  const Qt::ScrollBarPolicy policy = shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
  if (horizontalScrollBarPolicy() != policy) setHorizontalScrollBarPolicy(policy);
  if (verticalScrollBarPolicy() != policy) setVerticalScrollBarPolicy(policy);
}

}  // namespace kdl

#include "platform/qt/Canvas.h"

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

namespace kdl {

void TCanvas::Paint(const std::function<void(QPainter&)>& draw) {
  if (device_ == nullptr || device_->isNull()) return;
  {
    QPainter p(device_);
    draw(p);
  }
  if (OnChange) OnChange();
}

void TCanvas::TextRect(const QRect& rect, unsigned flags, const QString& text) {
  if (device_ == nullptr || device_->isNull()) return;
  DrawText(*device_, rect, flags, text, font_);
  if (OnChange) OnChange();
}

}  // namespace kdl

// Drawing on an image that views a bitmap's own memory: every stroke lands
// in that memory, never in a copy.
#pragma once

#include <functional>

#include "platform/qt/Font.h"

class QImage;
class QPainter;

namespace kdl {

class TCanvas {
 public:
  explicit TCanvas(QImage* device) : device_(device) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  QImage* Device() const { return device_; }
  // Rebinds to another image (after the owner reallocated its memory).
  void SetDevice(QImage* device) { device_ = device; }

  TFont& Font() { return font_; }

  // Runs draw with a painter open on the device, closes it so that every
  // pixel is in memory, then fires OnChange. Nothing happens without a
  // device.
  void Paint(const std::function<void(QPainter&)>& draw);
  // Draws text with the canvas's font (DT_ flags), then fires OnChange.
  void TextRect(const QRect& rect, unsigned flags, const QString& text);

  std::function<void()> OnChange;

 private:
  QImage* device_;
  TFont font_;
};

}  // namespace kdl

// TVirtScrollBox scrolls a virtual area whose position and size are float
// pixels. The viewport is the client area; the integer scroll bars are
// scaled down for areas wider than they can count. Derived controls draw
// the content in Paint and follow the position in ScrollChanged.
#pragma once

#include <QAbstractScrollArea>
#include <cstdint>

#include "raster/RangeBars.h"
#include "raster/Types.h"

class QScrollBar;

namespace kdl {

inline constexpr TColor clAppWorkSpace = clSystemColor | 12;

class TVirtScrollBox : public QAbstractScrollArea {
 public:
  // Scroll bar units never exceed this many, whatever the virtual size.
  static constexpr float kScrollBarLimit = 30000.0f;
  static constexpr std::int32_t kLineStep = 9;

  explicit TVirtScrollBox(QWidget* parent = nullptr);
  ~TVirtScrollBox() override;

  // Bars shown and scroll actions handled.
  bool AutoScroll() const { return autoScroll_; }
  void SetAutoScroll(bool value);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  // Fills what the virtual area leaves uncovered.
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  // The content follows the thumb while it is dragged.
  bool ThumbTracking() const { return thumbTracking_; }
  void SetThumbTracking(bool value);

  // Top-left of the client area within the virtual area.
  float ScrollX() const { return scrollX_; }
  float ScrollY() const { return scrollY_; }
  float VirtualWidth() const { return virtualWidth_; }
  float VirtualHeight() const { return virtualHeight_; }
  // Virtual pixels to scroll bar units.
  float ScrollBarScale() const { return scale_; }
  std::int32_t ClientWidth() const;
  std::int32_t ClientHeight() const;

  virtual void SetVirtualBounds(float x, float y, float width, float height);
  // Scrolls by whole pixels within the area; returns the deltas really
  // scrolled in dx and dy.
  virtual void ScrollBy(std::int32_t& dx, std::int32_t& dy);
  // Shows the bars and sets them from the area and the position.
  void UpdateScrollBars();
  // Until the next UpdateScrollBars (SetVirtualBounds calls it).
  void HideScrollBars();

 protected:
  // After every change of the scroll position.
  virtual void ScrollChanged();
  // Paints the clip rectangle of the client area.
  virtual void Paint(QPainter& painter, const QRect& clip);

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // We scroll the viewport ourselves; the base class must not.
  void scrollContentsBy(int dx, int dy) override;
  // Keys belong to the derived control; the base class would scroll with
  // them.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BarAction(Qt::Orientation orientation, int action);
  // Scale, position clamp and bar settings, leaving the bars shown or not.
  void SetBars();
  void SetThumb(QScrollBar* bar, float position);
  void ShowBars(bool shown);

  bool autoScroll_ = true;
  TBorderStyle borderStyle_ = bsSingle;
  TColor color_ = clAppWorkSpace;
  bool thumbTracking_ = true;
  float scrollX_ = 0;
  float scrollY_ = 0;
  float virtualWidth_ = 0;
  float virtualHeight_ = 0;
  float scale_ = 1.0f;
};

}  // namespace kdl

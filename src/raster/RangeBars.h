// Scroll bars drawn by ourselves: TArrowBar paints two arrow buttons, a
// track and a thumb, follows the pressed and hovered zone and drives a
// repeat timer; TCustomRangeBar adds a float position inside an integer
// range with a visible window, paging, thumb drags, the wheel and centring;
// TArrowBarAccess forwards look settings to a master and a slave bar.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/qt/Timer.h"
#include "raster/Types.h"

class QPainter;

namespace kdl {

enum TBarZone : std::uint8_t {
  bzNone = 0,
  bzPrevButton = 1,
  bzPrevTrack = 2,
  bzThumb = 3,
  bzNextTrack = 4,
  bzNextButton = 5
};
enum TArrowSide : std::uint8_t { asLeft = 0, asUp = 1, asRight = 2, asDown = 3 };
enum TRBBackgnd : std::uint8_t { bgPattern = 0, bgSolid = 1 };
enum TRBStyle : std::uint8_t { rbsDefault = 0, rbsMac = 1 };
enum TBorderStyle : std::uint8_t { bsNone = 0, bsSingle = 1 };
enum TScrollBarKind : std::uint8_t { sbHorizontal = 0, sbVertical = 1 };

// The system colours the bars start with.
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clWindowFrame = clSystemColor | 6;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;
inline constexpr TColor cl3DDkShadow = clSystemColor | 21;
inline constexpr TColor cl3DLight = clSystemColor | 22;

// Each of R, G, B moved by delta and clamped to 0..255 (system colours are
// resolved first).
TColor ShiftColorBrightness(TColor color, std::int32_t delta);
// Each channel (w * c1 + (255 - w) * c2) shr 8; w must be below 256.
TColor BlendColorsByWeight(TColor c1, TColor c2, std::int32_t w);

class TArrowBar : public QWidget {
 public:
  using TNotifyEvent = std::function<void(TArrowBar* sender)>;

  explicit TArrowBar(QWidget* parent = nullptr);
  ~TArrowBar() override;

  TRBBackgnd Backgnd() const { return backgnd_; }
  void SetBackgnd(TRBBackgnd value);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  std::int32_t ButtonSize() const { return buttonSize_; }
  void SetButtonSize(std::int32_t value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TColor HandleColor() const { return handleColor_; }
  void SetHandleColor(TColor value);
  TColor ButtonColor() const { return buttonColor_; }
  void SetButtonColor(TColor value);
  TColor HighLightColor() const { return highLightColor_; }
  void SetHighLightColor(TColor value);
  TColor ShadowColor() const { return shadowColor_; }
  void SetShadowColor(TColor value);
  TColor BorderColor() const { return borderColor_; }
  void SetBorderColor(TColor value);
  TScrollBarKind Kind() const { return kind_; }
  void SetKind(TScrollBarKind value);
  bool ShowArrows() const { return showArrows_; }
  void SetShowArrows(bool value);
  bool ShowHandleGrip() const { return showHandleGrip_; }
  void SetShowHandleGrip(bool value);
  TRBStyle Style() const { return style_; }
  void SetStyle(TRBStyle value);

  TNotifyEvent OnChange;
  TNotifyEvent OnUserScroll;

  // True while a change comes from the user's mouse; set by TUserChange.
  bool UserChanging() const { return userChanging_; }
  class TUserChange {
   public:
    explicit TUserChange(TArrowBar& bar) : bar_(bar), old_(bar.userChanging_) {
      bar.userChanging_ = true;
    }
    ~TUserChange() { bar_.userChanging_ = old_; }
    TUserChange(const TUserChange&) = delete;
    TUserChange& operator=(const TUserChange&) = delete;

   private:
    TArrowBar& bar_;
    bool old_;
  };

  TBarZone PressedZone() const { return pressedZone_; }
  TBarZone HoverZone() const { return hoverZone_; }
  // 0 idle, 1 first delay, 2 repeating, 3 hover watch.
  std::int32_t TimerPhase() const { return timerPhase_; }
  const TTimer& RepeatTimer() const { return repeatTimer_; }

  // ---- Geometry, in client coordinates (inside the border) ----------------
  TRect ClientRect() const;
  std::int32_t ArrowButtonSize() const;
  TRect TrackRect() const;
  virtual TRect ThumbRect() const;
  TBarZone ZoneAt(std::int32_t x, std::int32_t y) const;
  TRect ZoneRect(TBarZone zone) const;
  // Where client coordinates lie in the widget.
  QPoint ClientOrigin() const;

  virtual bool ActiveLook() const;

 protected:
  virtual void NotifyChange();
  virtual void PaintArrowButton(QPainter& p, const TRect& r, TArrowSide direction, bool pressed,
                                bool hot, bool enabled);
  virtual void PaintThumb(QPainter& p, const TRect& r, bool horizontal, bool hot, bool pressed);
  virtual void PaintTrack(QPainter& p, const TRect& r, TBarZone zone, bool pressed);
  virtual void PointerLeft();
  virtual void TimerTick();

  void BeginRepeat();
  void EndRepeat() { BeginHover(); }
  void BeginHover();
  void EndHover();

  bool Horizontal() const { return kind_ == sbHorizontal; }
  std::int32_t AlongLength() const;
  std::int32_t AcrossLength() const;
  // The client position of the last pointer event the bar received.
  QPoint LastPointer() const { return lastPointer_; }
  std::int32_t PressX() const { return pressX_; }
  std::int32_t PressY() const { return pressY_; }

  // Qt events; none lets an exception through.
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

  virtual void MouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y);
  virtual void MouseMove(std::int32_t x, std::int32_t y);
  virtual void MouseUp(Qt::MouseButton button, std::int32_t x, std::int32_t y);

  float grabPosition_ = 0;

 private:
  void PaintBorder(QPainter& p);
  void PaintThemed(QPainter& p, TBarZone zone, const TRect& r, bool pressed, bool hot,
                   bool enabled);

  TRBBackgnd backgnd_ = bgPattern;
  TBorderStyle borderStyle_ = bsSingle;
  std::int32_t buttonSize_ = 0;
  TColor color_ = clScrollBar;
  TColor handleColor_ = clBtnShadow;
  TColor buttonColor_ = clBtnFace;
  TColor highLightColor_ = clBtnHighlight;
  TColor shadowColor_ = clBtnShadow;
  TColor borderColor_ = clWindowFrame;
  TScrollBarKind kind_ = sbHorizontal;
  bool showArrows_ = true;
  bool showHandleGrip_ = true;
  TRBStyle style_ = rbsDefault;
  bool userChanging_ = false;
  TBarZone pressedZone_ = bzNone;
  TBarZone hoverZone_ = bzNone;
  std::int32_t pressX_ = 0;
  std::int32_t pressY_ = 0;
  TTimer repeatTimer_;
  std::int32_t timerPhase_ = 0;
  QPoint lastPointer_{-1, -1};

  friend class TCustomRangeBar;
};

class TCustomRangeBar : public TArrowBar {
 public:
  explicit TCustomRangeBar(QWidget* parent = nullptr);

  bool Centered() const { return centered_; }
  void SetCentered(bool value) { centered_ = value; }
  std::int32_t EffectiveWindow() const { return effectiveWindow_; }
  std::uint16_t Increment() const { return increment_; }
  void SetIncrement(std::uint16_t value) { increment_ = value; }
  float Position() const { return position_; }
  void SetPosition(float value);
  std::int32_t Range() const { return range_; }
  void SetRange(std::int32_t value) { SetRangeAndWindow(value, window_); }
  std::int32_t Window() const { return window_; }
  void SetWindow(std::int32_t value) { SetRangeAndWindow(range_, value); }
  void SetRangeAndWindow(std::int32_t range, std::int32_t window);

  bool ActiveLook() const override;
  TRect ThumbRect() const override;

  // Takes a new size at once (Qt tells a hidden widget only when shown);
  // the resize event calls it too, and a size seen already is ignored.
  void SyncSize();

 protected:
  void TimerTick() override;
  void MouseDown(Qt::MouseButton button, std::int32_t x, std::int32_t y) override;
  void MouseMove(std::int32_t x, std::int32_t y) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void RefreshWindow();
  void ClampPosition();
  // Keeps the point at the window's centre on the same fraction of the
  // range after the window or range changed.
  void Recentre(std::int32_t oldWindow, std::int32_t oldRange);

  bool centered_ = false;
  std::int32_t effectiveWindow_ = 0;
  std::uint16_t increment_ = 8;
  float position_ = 0;
  std::int32_t range_ = 0;
  std::int32_t window_ = 0;
  QSize handledSize_;
};

// A range bar as the image view uses it.
class TRangeBar : public TCustomRangeBar {
 public:
  using TCustomRangeBar::TCustomRangeBar;
};

// Look settings forwarded to a master bar and an optional slave bar; the
// getters read the master.
class TArrowBarAccess {
 public:
  TArrowBarAccess() = default;
  virtual ~TArrowBarAccess() = default;

  TArrowBar* Master() const { return master_; }
  void SetMaster(TArrowBar* bar) { master_ = bar; }
  TArrowBar* Slave() const { return slave_; }
  void SetSlave(TArrowBar* bar) { slave_ = bar; }

  TColor Color() const { return master_->Color(); }
  void SetColor(TColor v) { Each([&](TArrowBar& b) { b.SetColor(v); }); }
  TRBBackgnd Backgnd() const { return master_->Backgnd(); }
  void SetBackgnd(TRBBackgnd v) { Each([&](TArrowBar& b) { b.SetBackgnd(v); }); }
  std::int32_t ButtonSize() const { return master_->ButtonSize(); }
  void SetButtonSize(std::int32_t v) { Each([&](TArrowBar& b) { b.SetButtonSize(v); }); }
  TColor HandleColor() const { return master_->HandleColor(); }
  void SetHandleColor(TColor v) { Each([&](TArrowBar& b) { b.SetHandleColor(v); }); }
  TColor ButtonColor() const { return master_->ButtonColor(); }
  void SetButtonColor(TColor v) { Each([&](TArrowBar& b) { b.SetButtonColor(v); }); }
  TColor HighLightColor() const { return master_->HighLightColor(); }
  void SetHighLightColor(TColor v) { Each([&](TArrowBar& b) { b.SetHighLightColor(v); }); }
  TColor ShadowColor() const { return master_->ShadowColor(); }
  void SetShadowColor(TColor v) { Each([&](TArrowBar& b) { b.SetShadowColor(v); }); }
  TColor BorderColor() const { return master_->BorderColor(); }
  void SetBorderColor(TColor v) { Each([&](TArrowBar& b) { b.SetBorderColor(v); }); }
  bool ShowArrows() const { return master_->ShowArrows(); }
  void SetShowArrows(bool v) { Each([&](TArrowBar& b) { b.SetShowArrows(v); }); }
  bool ShowHandleGrip() const { return master_->ShowHandleGrip(); }
  void SetShowHandleGrip(bool v) { Each([&](TArrowBar& b) { b.SetShowHandleGrip(v); }); }
  TRBStyle Style() const { return master_->Style(); }
  void SetStyle(TRBStyle v) { Each([&](TArrowBar& b) { b.SetStyle(v); }); }

 protected:
  template <typename F>
  void Each(F&& set) {
    if (master_) set(*master_);
    if (slave_) set(*slave_);
  }

 private:
  TArrowBar* master_ = nullptr;
  TArrowBar* slave_ = nullptr;
};

}  // namespace kdl

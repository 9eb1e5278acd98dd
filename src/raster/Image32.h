// Controls that show 32-bit bitmaps: TCustomPaintBox32 paints from a back
// buffer it renders only when invalid; TCustomImage32 places and scales a
// bitmap in it through a list of paint stages and carries a layer stack
// that takes the mouse; TCustomImgView32 adds two range bars, centring and
// a margin around the bitmap.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/qt/Cursors.h"
#include "raster/Bitmap32.h"
#include "raster/Layers.h"
#include "raster/RangeBars.h"

namespace kdl {

class TCustomPaintBox32 : public QWidget {
 public:
  using TNotifyEvent = std::function<void(QWidget* sender)>;

  explicit TCustomPaintBox32(QWidget* parent = nullptr);
  ~TCustomPaintBox32() override;

  TBitmap32& BackBuffer() { return *backBuffer_; }
  std::int32_t BufferSlack() const { return bufferSlack_; }
  void SetBufferSlack(std::int32_t value) { bufferSlack_ = value; }
  bool BackBufferValid() const { return backBufferValid_; }
  bool Hovered() const { return hovered_; }
  // The colour the background is cleared with.
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  // The control's own cursor, shown where no layer sets one.
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor value);

  // Sizes the back buffer to ViewRect, with BufferSlack pixels of growth in
  // reserve; a size change invalidates it.
  void FitBuffer();
  // Marks the buffer for rendering and asks for a repaint.
  virtual void Invalidate();
  // The part of the control the buffer is shown in.
  virtual TRect ViewRect() const;
  // Asks for a repaint of ViewRect (the buffer stays as it is).
  void UpdateView();

  TNotifyEvent OnGDIOverlay;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;

 protected:
  virtual void RenderBuffer();
  virtual void PaintOverlay(QPainter& painter);
  virtual void EnterNotify();
  virtual void LeaveNotify();
  // Drawn before the buffer is blitted (the view's size grip).
  virtual void PaintControl(QPainter& painter);

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

  bool backBufferValid_ = false;

 private:
  std::unique_ptr<TBitmap32> backBuffer_;
  std::int32_t bufferSlack_ = 40;
  bool hovered_ = false;
  TColor color_ = clBtnFace;
  TCursor cursor_ = crDefault;
};

enum TBitmapPlacement : std::uint8_t { plTopLeft = 0, plCenter = 1, plTile = 2, plOffset = 3 };
enum TBitmapSizing : std::uint8_t { szActual = 0, szStretch = 1, szScale = 2, szFit = 3 };

// Paint stage kinds.
inline constexpr std::uint32_t PST_CUSTOM = 1;
inline constexpr std::uint32_t PST_CLEAR_BUFFER = 2;
inline constexpr std::uint32_t PST_CLEAR_BACKGND = 3;
inline constexpr std::uint32_t PST_DRAW_BITMAP = 4;
inline constexpr std::uint32_t PST_DRAW_LAYERS = 5;
inline constexpr std::uint32_t PST_CONTROL_FRAME = 6;
inline constexpr std::uint32_t PST_BITMAP_FRAME = 7;

struct TStageEntry {
  bool AtDesignTime = false;
  bool AtRunTime = true;
  std::uint32_t Kind = 0;
  std::uint32_t Param = 0;
};

class TPaintStages {
 public:
  TStageEntry& AddStage() { return stages_.emplace_back(); }
  TStageEntry& StageAt(std::int32_t i) { return stages_.at(static_cast<std::size_t>(i)); }
  std::int32_t StageCount() const { return static_cast<std::int32_t>(stages_.size()); }
  void ClearStages() { stages_.clear(); }

 private:
  std::vector<TStageEntry> stages_;
};

class TCustomImage32 : public TCustomPaintBox32 {
 public:
  using TImgMouseEvent =
      std::function<void(QWidget* sender, TMouseButton button, TShiftState shift, std::int32_t x,
                         std::int32_t y, TCustomLayer* layer)>;
  using TImgMouseMoveEvent = std::function<void(QWidget* sender, TShiftState shift,
                                                std::int32_t x, std::int32_t y, TCustomLayer* layer)>;
  using TPaintStageEvent =
      std::function<void(QWidget* sender, TBitmap32& buffer, std::uint32_t stageNum)>;

  explicit TCustomImage32(QWidget* parent = nullptr);
  ~TCustomImage32() override;

  TBitmap32& Bitmap() { return *bitmap_; }
  // Copies the given bitmap into the owned one.
  void SetBitmap(const TBitmap32& value);
  TBitmapPlacement Placement() const { return placement_; }
  void SetPlacement(TBitmapPlacement value);
  TLayerCollection& Layers() { return *layers_; }
  float PanX() const { return panX_; }
  void SetPanX(float value);
  float PanY() const { return panY_; }
  void SetPanY(float value);
  TPaintStages& PaintStages() { return *stages_; }
  float Scale() const { return scale_; }
  // Below 0.001, or not finite, becomes 0.001.
  virtual void SetScale(float value);
  TBitmapSizing Sizing() const { return sizing_; }
  void SetSizing(TBitmapSizing value);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value) { autoSize_ = value; }

  // The bitmap's rectangle in control pixels, and the mapping to it, as of
  // the last RefreshMapping.
  TRect PlacedRect() const { return placedRect_; }
  const TImageMapping& Mapping() const { return mapping_; }
  bool MappingValid() const { return mappingValid_; }
  void RefreshMapping();
  void InvalidateMapping() { mappingValid_ = false; }

  virtual void BeginUpdate();
  virtual void EndUpdate();
  virtual void Changed();
  void Invalidate() override;

  virtual TRect PlacedBitmapRect() const;
  virtual TSize PlacedBitmapSize() const;

  TNotifyEvent OnBitmapResize;
  TNotifyEvent OnChange;
  TNotifyEvent OnInitStages;
  TImgMouseEvent OnMouseDown;
  TImgMouseMoveEvent OnMouseMove;
  TImgMouseEvent OnMouseUp;
  TPaintStageEvent OnPaintStage;

 protected:
  virtual void BitmapSizeChanged();
  virtual void InitStagesNotify();
  virtual void ScaleUpdated();
  virtual void AddStandardStages();
  virtual void MouseDownNotify(TMouseButton button, TShiftState shift, std::int32_t x,
                               std::int32_t y, TCustomLayer* layer);
  virtual void MouseMoveNotify(TShiftState shift, std::int32_t x, std::int32_t y,
                               TCustomLayer* layer);
  virtual void MouseUpNotify(TMouseButton button, TShiftState shift, std::int32_t x,
                             std::int32_t y, TCustomLayer* layer);
  virtual void PaintBitmapFrame(TBitmap32& dest, std::uint32_t stageNum);
  virtual void ClearBuffer(TBitmap32& dest, std::uint32_t stageNum);
  virtual void ClearBackground(TBitmap32& dest, std::uint32_t stageNum);
  virtual void PaintControlFrame(TBitmap32& dest, std::uint32_t stageNum);
  virtual void PaintStageEvent(TBitmap32& dest, std::uint32_t stageNum);
  virtual void PaintBitmap(TBitmap32& dest, std::uint32_t stageNum);
  virtual void PaintLayers(TBitmap32& dest, std::uint32_t stageNum);

  void RenderBuffer() override;
  void PaintOverlay(QPainter& painter) override;

  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

  std::int32_t updateDepth_ = 0;

 private:
  std::unique_ptr<TBitmap32> bitmap_;
  std::unique_ptr<TLayerCollection> layers_;
  std::unique_ptr<TPaintStages> stages_;
  TBitmapPlacement placement_ = plTopLeft;
  TBitmapSizing sizing_ = szActual;
  float panX_ = 0;
  float panY_ = 0;
  float scale_ = 1.0f;
  bool autoSize_ = false;
  TRect placedRect_;
  TImageMapping mapping_;
  bool mappingValid_ = false;
};

class TCustomImgView32;

// Which of the view's scroll bars show: both always, none, or each only
// while the placed bitmap has something to scroll in its direction.
enum TScrollBarVisibility : std::uint8_t { svAlways = 0, svHidden = 1, svAuto = 2 };

// The view's bar settings: the look goes to both bars; Increment is read
// from the horizontal bar and written to both.
class TIVScrollProperties : public TArrowBarAccess {
 public:
  explicit TIVScrollProperties(TCustomImgView32& view) : view_(view) {}
  std::uint16_t Increment() const;
  void SetIncrement(std::uint16_t value);
  // Bar thickness in pixels; 0 takes the style's.
  std::int32_t Size() const;
  void SetSize(std::int32_t value);
  TScrollBarVisibility Visibility() const;
  void SetVisibility(TScrollBarVisibility value);

 private:
  TCustomImgView32& view_;
};

enum TSizeGripStyle : std::uint8_t { sgAuto = 0, sgNone = 1, sgAlways = 2 };

class TCustomImgView32 : public TCustomImage32 {
 public:
  explicit TCustomImgView32(QWidget* parent = nullptr);
  ~TCustomImgView32() override;

  bool Centered() const { return centered_; }
  void SetCentered(bool value);
  TIVScrollProperties& ScrollBars() { return *scrollBars_; }
  TSizeGripStyle SizeGrip() const { return sizeGrip_; }
  void SetSizeGrip(TSizeGripStyle value);
  std::int32_t OverSize() const { return overSize_; }
  void SetOverSize(std::int32_t value);
  TCustomRangeBar* HorzBar() const { return horzBar_.get(); }
  TCustomRangeBar* VertBar() const { return vertBar_.get(); }
  std::int32_t BarSizeSetting() const { return barSizeSetting_; }
  void SetBarSizeSetting(std::int32_t value);
  TScrollBarVisibility BarVisibility() const { return barVisibility_; }
  void SetBarVisibility(TScrollBarVisibility value);

  std::int32_t BarThickness() const;
  TRect ViewRect() const override;
  bool GripShown() const;
  TRect GripRect() const;

  void LayoutScrollBars();
  virtual void SetScrollRanges();
  // Scrolls so that bitmap pixel (x, y) is at the view's centre.
  void CenterOn(std::int32_t x, std::int32_t y);
  virtual void PlaceImage();

  TNotifyEvent OnScroll;

 protected:
  virtual void NotifyScroll();
  virtual void BarScrolled(TArrowBar* sender);
  void ScaleUpdated() override;
  void BitmapSizeChanged() override;
  void PaintControl(QPainter& painter) override;

  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  // Whether each bar shows at the view's size, bitmap and scale.
  void BarsShown(bool& horz, bool& vert) const;

  std::unique_ptr<TRangeBar> horzBar_;
  std::unique_ptr<TRangeBar> vertBar_;
  std::unique_ptr<TIVScrollProperties> scrollBars_;
  bool centered_ = true;
  TSizeGripStyle sizeGrip_ = sgAuto;
  std::int32_t barSizeSetting_ = 0;
  TScrollBarVisibility barVisibility_ = svAlways;
  bool recentering_ = false;
  std::int32_t overSize_ = 0;
};

class TImgView32 : public TCustomImgView32 {
 public:
  using TCustomImgView32::TCustomImgView32;
};

}  // namespace kdl

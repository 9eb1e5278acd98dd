// Layers drawn over an image control's bitmap and taking its mouse input:
// TLayerCollection owns them in z-order and routes presses, moves and
// releases to the top-most layer that wants them (with capture while a
// button is held); TPositionedLayer has a location in bitmap or control
// coordinates; TRubberbandLayer is an interactive selection rectangle with
// sizing handles.
#pragma once

#include <QtCore/qnamespace.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/Cursors.h"
#include "raster/Types.h"

class QPainter;

namespace kdl {

class TBitmap32;
class TCustomImage32;
class TCustomLayer;

// Layer option bits.
inline constexpr std::uint32_t loVisible = 0x80000000u;
inline constexpr std::uint32_t loOverlay = 0x40000000u;
inline constexpr std::uint32_t loMouseEvents = 0x20000000u;
inline constexpr std::uint32_t loNoNotify = 0x10000000u;
inline constexpr std::uint32_t loNoCapture = 0x08000000u;

enum TMouseButton : std::uint8_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };
using TShiftState = Qt::KeyboardModifiers;

// Bitmap to control pixels: 16.16 zoom factors, an integer origin, and the
// inverse factors.
struct TImageMapping {
  std::int32_t ZoomX = 0;
  std::int32_t ZoomY = 0;
  std::int32_t OriginX = 0;
  std::int32_t OriginY = 0;
  std::int32_t UnzoomX = 0;
  std::int32_t UnzoomY = 0;
};

class TLayerCollection {
 public:
  using TNotifyEvent = std::function<void(TLayerCollection* sender)>;
  using TLayerFactory = std::function<std::unique_ptr<TCustomLayer>(TLayerCollection*)>;

  explicit TLayerCollection(TCustomImage32* owner = nullptr);
  ~TLayerCollection();
  TLayerCollection(const TLayerCollection&) = delete;
  TLayerCollection& operator=(const TLayerCollection&) = delete;

  // Creates a layer with the factory and puts it on top.
  TCustomLayer* Add(const TLayerFactory& factory);
  template <typename Layer>
  Layer* Add() {
    return static_cast<Layer*>(
        Add([](TLayerCollection* c) { return std::make_unique<Layer>(c); }));
  }
  // Frees the layer at index.
  void Delete(std::int32_t index);
  // Frees every layer, the top one first.
  void Clear();
  // Layers define no copy of their own: a source holding layers raises
  // EConvertError before anything here is freed; an empty one clears.
  void Assign(const TLayerCollection& source);

  void BeginUpdate();
  // Raises EAssertionFailed without a matching BeginUpdate.
  void EndUpdate();
  std::int32_t UpdateDepth() const { return updateDepth_; }

  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  TCustomLayer* Items(std::int32_t index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
  std::int32_t IndexOf(const TCustomLayer* layer) const;
  TCustomImage32* Owner() const { return owner_; }

  // The owner's bitmap-to-control mapping; null when there is none.
  const TImageMapping* CoordMapping() const { return coordMapping_; }
  void SetCoordMapping(const TImageMapping* mapping) { coordMapping_ = mapping; }
  bool MouseEvents() const { return mouseEvents_; }
  void SetMouseEvents(bool value);
  TCustomLayer* MouseCapture() const { return captureLayer_; }

  // The top-most layer sharing a bit with mask whose hit test passes.
  TCustomLayer* LayerAt(std::int32_t x, std::int32_t y, std::uint32_t mask) const;

  // Mouse dispatch in control pixels; each answers the layer that took it.
  TCustomLayer* MouseDown(TMouseButton button, TShiftState shift, std::int32_t x, std::int32_t y);
  TCustomLayer* MouseMove(TShiftState shift, std::int32_t x, std::int32_t y);
  TCustomLayer* MouseUp(TMouseButton button, TShiftState shift, std::int32_t x, std::int32_t y);

  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;
  TNotifyEvent OnOverlayUpdate;

 private:
  friend class TCustomLayer;
  std::unique_ptr<TCustomLayer> Extract(TCustomLayer* layer);
  void SetOwnerCursor(TCursor cursor) const;

  TCustomImage32* owner_;
  const TImageMapping* coordMapping_ = nullptr;
  std::vector<std::unique_ptr<TCustomLayer>> items_;
  bool mouseEvents_ = true;
  TCustomLayer* captureLayer_ = nullptr;
  std::int32_t updateDepth_ = 0;
};

class TCustomLayer {
 public:
  using TNotifyEvent = std::function<void(TCustomLayer* sender)>;
  using THitTestEvent = std::function<void(TCustomLayer* sender, std::int32_t x, std::int32_t y,
                                           bool& passed)>;
  using TMouseEvent = std::function<void(TCustomLayer* sender, TMouseButton button,
                                         TShiftState shift, std::int32_t x, std::int32_t y)>;
  using TMouseMoveEvent =
      std::function<void(TCustomLayer* sender, TShiftState shift, std::int32_t x, std::int32_t y)>;
  using TPaintLayerEvent = std::function<void(TCustomLayer* sender, TBitmap32& buffer)>;

  // Made by TLayerCollection::Add, which puts it on top of collection.
  explicit TCustomLayer(TLayerCollection* collection);
  virtual ~TCustomLayer();
  TCustomLayer(const TCustomLayer&) = delete;
  TCustomLayer& operator=(const TCustomLayer&) = delete;

  virtual const char* ClassName() const { return "TCustomLayer"; }

  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor value) { cursor_ = value; }
  TLayerCollection* LayerCollection() const { return collection_; }
  std::uint32_t OptionBits() const { return optionBits_; }
  void SetOptionBits(std::uint32_t bits);
  bool Visible() const { return (optionBits_ & loVisible) != 0; }
  void SetVisible(bool on) { SetFlag(loVisible, on); }
  bool MouseEvents() const { return (optionBits_ & loMouseEvents) != 0; }
  void SetMouseEvents(bool on) { SetFlag(loMouseEvents, on); }
  // Bit 0 left, 1 right, 2 middle: buttons held on this layer.
  std::uint8_t ButtonState() const { return buttonState_; }

  std::int32_t Index() const;
  // Clamped to 0 .. Count - 1.
  virtual void SetIndex(std::int32_t index);

  // layer is told (Notification) when this layer is freed; the link goes
  // both ways, so freeing layer first also unlinks it.
  void AddNotification(TCustomLayer* layer);
  void RemoveNotification(TCustomLayer* layer);

  // DoHitTest, then OnHitTest may change the answer.
  bool HitTest(std::int32_t x, std::int32_t y);
  // Paint, then OnPaint.
  void PaintLayer(TBitmap32& buffer);
  // Drawn with the control's painter after the buffer (loOverlay).
  virtual void PaintGDI(QPainter& painter);

  THitTestEvent OnHitTest;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;
  TPaintLayerEvent OnPaint;
  TNotifyEvent OnDestroy;

 protected:
  virtual bool DoHitTest(std::int32_t x, std::int32_t y);
  virtual void MouseDown(TMouseButton button, TShiftState shift, std::int32_t x, std::int32_t y);
  virtual void MouseMove(TShiftState shift, std::int32_t x, std::int32_t y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, std::int32_t x, std::int32_t y);
  // A layer this one watches is being freed.
  virtual void Notification(TCustomLayer* layer);
  virtual void Paint(TBitmap32& buffer);

  // Change notices around a change of what the layer shows.
  void Changing();
  void Changed();
  void SetScreenCursor(TCursor cursor) const;

  std::uint32_t optionBits_ = loVisible;

 private:
  friend class TLayerCollection;
  void SetFlag(std::uint32_t bit, bool on);
  // Fires OnDestroy and tells the watchers; runs once, before the layer
  // leaves its collection.
  void BeforeDestroy();

  TCursor cursor_ = crDefault;
  std::vector<TCustomLayer*> notifyList_;
  // The layers whose notify lists hold this one.
  std::vector<TCustomLayer*> watching_;
  TLayerCollection* collection_;
  std::uint8_t buttonState_ = 0;
  bool destroying_ = false;
};

class TPositionedLayer : public TCustomLayer {
 public:
  explicit TPositionedLayer(TLayerCollection* collection);
  const char* ClassName() const override { return "TPositionedLayer"; }

  TFloatRect Location() const { return location_; }
  void SetLocation(const TFloatRect& rect);
  bool Scaled() const { return scaled_; }
  void SetScaled(bool value);
  // Location in control pixels (through the owner's mapping when Scaled).
  TFloatRect GetScreenLocation() const;

 protected:
  bool DoHitTest(std::int32_t x, std::int32_t y) override;
  virtual void DoSetLocation(const TFloatRect& rect);

 private:
  TFloatRect location_{0, 0, 64, 64};
  bool scaled_ = false;
};

// Rubber band options.
using TRubberbandOptions = std::uint16_t;
inline constexpr TRubberbandOptions rbMove = 1 << 0;
inline constexpr TRubberbandOptions rbSideHandles = 1 << 1;
inline constexpr TRubberbandOptions rbCornerHandles = 1 << 2;
inline constexpr TRubberbandOptions rbFrame = 1 << 3;
inline constexpr TRubberbandOptions rbNoLeft = 1 << 4;
inline constexpr TRubberbandOptions rbNoRight = 1 << 5;
inline constexpr TRubberbandOptions rbNoTop = 1 << 6;
inline constexpr TRubberbandOptions rbNoBottom = 1 << 7;
inline constexpr TRubberbandOptions rbNoTopLeft = 1 << 8;
inline constexpr TRubberbandOptions rbNoTopRight = 1 << 9;
inline constexpr TRubberbandOptions rbNoBottomLeft = 1 << 10;
inline constexpr TRubberbandOptions rbNoBottomRight = 1 << 11;

enum TBandDragState : std::uint8_t {
  bdNone = 0,
  bdMove = 1,
  bdLeft = 2,
  bdTop = 3,
  bdRight = 4,
  bdBottom = 5,
  bdTopLeft = 6,
  bdTopRight = 7,
  bdBottomLeft = 8,
  bdBottomRight = 9
};

class TRubberbandLayer : public TPositionedLayer {
 public:
  using TSizingEvent = std::function<void(TRubberbandLayer* sender, const TFloatRect& oldLocation,
                                          TFloatRect& newLocation, TBandDragState dragState,
                                          TShiftState shift)>;

  explicit TRubberbandLayer(TLayerCollection* collection);
  ~TRubberbandLayer() override;
  const char* ClassName() const override { return "TRubberbandLayer"; }

  TPositionedLayer* FollowerLayer() const { return followerLayer_; }
  void SetFollowerLayer(TPositionedLayer* layer);
  const TArrayOfColor32& FramePattern() const { return framePattern_; }
  void SetFramePattern(const TArrayOfColor32& colors);
  float FramePatternStep() const { return framePatternStep_; }
  void SetFramePatternStep(float value);
  TColor32 HandleEdgeColor() const { return handleEdgeColor_; }
  void SetHandleEdgeColor(TColor32 value);
  TColor32 HandleFillColor() const { return handleFillColor_; }
  void SetHandleFillColor(TColor32 value);
  TRubberbandOptions Options() const { return options_; }
  void SetOptions(TRubberbandOptions value);
  std::int32_t HandleRadius() const { return handleRadius_; }
  void SetHandleRadius(std::int32_t value);
  float MinWidth() const { return minWidth_; }
  void SetMinWidth(float v) { minWidth_ = v; }
  float MaxWidth() const { return maxWidth_; }
  void SetMaxWidth(float v) { maxWidth_ = v; }
  float MinHeight() const { return minHeight_; }
  void SetMinHeight(float v) { minHeight_ = v; }
  float MaxHeight() const { return maxHeight_; }
  void SetMaxHeight(float v) { maxHeight_ = v; }
  bool Dragging() const { return dragging_; }
  TBandDragState DragState() const { return dragState_; }

  // The handle (or the inside, or nothing) at control pixel (x, y).
  virtual TBandDragState HandleAt(std::int32_t x, std::int32_t y) const;

  TCustomLayer::TNotifyEvent OnBandChanged;
  TSizingEvent OnSizing;

 protected:
  bool DoHitTest(std::int32_t x, std::int32_t y) override;
  void MouseDown(TMouseButton button, TShiftState shift, std::int32_t x, std::int32_t y) override;
  void MouseMove(TShiftState shift, std::int32_t x, std::int32_t y) override;
  void MouseUp(TMouseButton button, TShiftState shift, std::int32_t x, std::int32_t y) override;
  void Notification(TCustomLayer* layer) override;
  void Paint(TBitmap32& buffer) override;
  void DoSetLocation(const TFloatRect& rect) override;
  virtual void DoSizing(const TFloatRect& oldLocation, TFloatRect& newLocation,
                        TBandDragState dragState, TShiftState shift);

 private:
  void UpdateNoNotify();

  TPositionedLayer* followerLayer_ = nullptr;
  TArrayOfColor32 framePattern_{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF000000u, 0xFF000000u};
  float framePatternStep_ = 1.0f;
  TColor32 handleEdgeColor_ = 0xFF000000u;
  TColor32 handleFillColor_ = 0xFFFFFFFFu;
  TRubberbandOptions options_ = rbMove | rbSideHandles | rbCornerHandles | rbFrame;
  std::int32_t handleRadius_ = 3;
  float minWidth_ = 10;
  float maxHeight_ = 0;
  float minHeight_ = 10;
  float maxWidth_ = 0;
  bool dragging_ = false;
  TBandDragState dragState_ = bdNone;
  TFloatRect oldLocation_;
  TFloatPoint grabOffset_;
};

}  // namespace kdl

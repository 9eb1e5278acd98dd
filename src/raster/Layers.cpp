#include "raster/Layers.h"

#include <algorithm>
#include <cmath>

#include "raster/Bitmap32.h"
#include "raster/Image32.h"
#include "raster/ThreadPersistent.h"

namespace kdl {
namespace {

std::uint8_t ButtonBit(TMouseButton button) { return static_cast<std::uint8_t>(1u << button); }

}  // namespace

// ---- TLayerCollection -----------------------------------------------------------

TLayerCollection::TLayerCollection(TCustomImage32* owner) : owner_(owner) {}

TLayerCollection::~TLayerCollection() {
  // No notices while going.
  updateDepth_ = 1;
  OnChanging = nullptr;
  OnChange = nullptr;
  OnOverlayUpdate = nullptr;
  Clear();
}

TCustomLayer* TLayerCollection::Add(const TLayerFactory& factory) {
  std::unique_ptr<TCustomLayer> layer = factory(this);
  if (!layer) return nullptr;
  TCustomLayer* result = layer.get();
  BeginUpdate();
  result->collection_ = this;
  items_.push_back(std::move(layer));
  EndUpdate();
  return result;
}

std::int32_t TLayerCollection::IndexOf(const TCustomLayer* layer) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == layer) return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::unique_ptr<TCustomLayer> TLayerCollection::Extract(TCustomLayer* layer) {
  const std::int32_t index = IndexOf(layer);
  if (index < 0) return nullptr;
  BeginUpdate();
  if (captureLayer_ == layer) captureLayer_ = nullptr;
  std::unique_ptr<TCustomLayer> owned = std::move(items_[static_cast<std::size_t>(index)]);
  items_.erase(items_.begin() + index);
  owned->collection_ = nullptr;
  EndUpdate();
  return owned;
}

void TLayerCollection::Delete(std::int32_t index) {
  TCustomLayer* layer = Items(index);
  layer->BeforeDestroy();
  std::unique_ptr<TCustomLayer> owned = Extract(layer);
  owned.reset();
}

void TLayerCollection::Clear() {
  BeginUpdate();
  while (!items_.empty()) Delete(Count() - 1);
  EndUpdate();
}

void TLayerCollection::Assign(const TLayerCollection& source) {
  if (&source == this) return;
  if (source.Count() > 0) {
    const std::string name = source.Items(0)->ClassName();
    throw EConvertError("Cannot assign a " + name + " to a " + name);
  }
  BeginUpdate();
  Clear();
  EndUpdate();
}

void TLayerCollection::BeginUpdate() {
  if (updateDepth_ == 0 && OnChanging) OnChanging(this);
  ++updateDepth_;
}

void TLayerCollection::EndUpdate() {
  --updateDepth_;
  if (updateDepth_ < 0) {
    updateDepth_ = 0;
    throw EAssertionFailed("Unpaired EndUpdate");
  }
  if (updateDepth_ == 0 && OnChange) OnChange(this);
}

void TLayerCollection::SetMouseEvents(bool value) {
  mouseEvents_ = value;
  if (!value) captureLayer_ = nullptr;
}

TCustomLayer* TLayerCollection::LayerAt(std::int32_t x, std::int32_t y, std::uint32_t mask) const {
  for (std::int32_t i = Count() - 1; i >= 0; --i) {
    TCustomLayer* layer = Items(i);
    if ((layer->OptionBits() & mask) != 0 && layer->HitTest(x, y)) return layer;
  }
  return nullptr;
}

void TLayerCollection::SetOwnerCursor(TCursor cursor) const {
  if (owner_) SetWidgetCursor(owner_, cursor);
}

TCustomLayer* TLayerCollection::MouseDown(TMouseButton button, TShiftState shift, std::int32_t x,
                                          std::int32_t y) {
  TCustomLayer* layer = captureLayer_ ? captureLayer_ : LayerAt(x, y, loMouseEvents);
  if (button == mbLeft && layer != captureLayer_ &&
      (layer == nullptr || (layer->OptionBits() & loNoCapture) == 0)) {
    if (captureLayer_) captureLayer_->buttonState_ = 0;
    captureLayer_ = layer;
  }
  if (captureLayer_) {
    captureLayer_->buttonState_ |= ButtonBit(button);
    captureLayer_->MouseDown(button, shift, x, y);
  }
  return layer;
}

TCustomLayer* TLayerCollection::MouseMove(TShiftState shift, std::int32_t x, std::int32_t y) {
  TCustomLayer* layer = captureLayer_ ? captureLayer_ : LayerAt(x, y, loMouseEvents);
  if (layer) {
    layer->MouseMove(shift, x, y);
  } else {
    SetOwnerCursor(owner_ ? owner_->Cursor() : crDefault);
  }
  return layer;
}

TCustomLayer* TLayerCollection::MouseUp(TMouseButton button, TShiftState shift, std::int32_t x,
                                        std::int32_t y) {
  TCustomLayer* layer = captureLayer_ ? captureLayer_ : LayerAt(x, y, loMouseEvents);
  if (layer) {
    layer->buttonState_ &= static_cast<std::uint8_t>(~ButtonBit(button));
    layer->MouseUp(button, shift, x, y);
  }
  if (captureLayer_ && captureLayer_->buttonState_ == 0) captureLayer_ = nullptr;
  return layer;
}

// ---- TCustomLayer ---------------------------------------------------------------

TCustomLayer::TCustomLayer(TLayerCollection* collection) : collection_(collection) {}

// The collection took the layer out before freeing it.
TCustomLayer::~TCustomLayer() { BeforeDestroy(); }

void TCustomLayer::BeforeDestroy() {
  if (destroying_) return;
  destroying_ = true;
  if (OnDestroy) OnDestroy(this);
  // Tell the watchers, newest first; each forgets this layer.
  while (!notifyList_.empty()) {
    TCustomLayer* watcher = notifyList_.back();
    notifyList_.pop_back();
    auto& w = watcher->watching_;
    w.erase(std::remove(w.begin(), w.end(), this), w.end());
    watcher->Notification(this);
  }
  // Leave the lists of the layers this one watches.
  while (!watching_.empty()) {
    TCustomLayer* watched = watching_.back();
    watching_.pop_back();
    auto& n = watched->notifyList_;
    n.erase(std::remove(n.begin(), n.end(), this), n.end());
  }
}

void TCustomLayer::AddNotification(TCustomLayer* layer) {
  if (layer == nullptr || layer == this) return;
  if (std::find(notifyList_.begin(), notifyList_.end(), layer) != notifyList_.end()) return;
  notifyList_.push_back(layer);
  layer->watching_.push_back(this);
}

void TCustomLayer::RemoveNotification(TCustomLayer* layer) {
  if (layer == nullptr) return;
  notifyList_.erase(std::remove(notifyList_.begin(), notifyList_.end(), layer), notifyList_.end());
  auto& w = layer->watching_;
  w.erase(std::remove(w.begin(), w.end(), this), w.end());
}

std::int32_t TCustomLayer::Index() const { return collection_ ? collection_->IndexOf(this) : -1; }

void TCustomLayer::SetIndex(std::int32_t index) {
  if (!collection_) return;
  const std::int32_t count = collection_->Count();
  index = std::clamp(index, 0, std::max(0, count - 1));
  const std::int32_t current = Index();
  if (index == current) return;
  const bool visible = Visible();
  if (visible) collection_->BeginUpdate();
  auto& items = collection_->items_;
  std::unique_ptr<TCustomLayer> self = std::move(items[static_cast<std::size_t>(current)]);
  items.erase(items.begin() + current);
  items.insert(items.begin() + index, std::move(self));
  if (visible) collection_->EndUpdate();
}

void TCustomLayer::Changing() {
  if (Visible() && collection_ && (optionBits_ & loNoNotify) == 0 && collection_->OnChanging) {
    collection_->OnChanging(collection_);
  }
}

void TCustomLayer::Changed() {
  if (!collection_ || (optionBits_ & loNoNotify) != 0) return;
  if (Visible()) {
    if (collection_->OnChange) collection_->OnChange(collection_);
  } else if ((optionBits_ & loOverlay) != 0 && collection_->updateDepth_ == 0 &&
             collection_->OnOverlayUpdate) {
    collection_->OnOverlayUpdate(collection_);
  }
}

void TCustomLayer::SetOptionBits(std::uint32_t bits) {
  Changing();
  optionBits_ = bits;
  Changed();
}

void TCustomLayer::SetFlag(std::uint32_t bit, bool on) {
  SetOptionBits(on ? (optionBits_ | bit) : (optionBits_ & ~bit));
}

bool TCustomLayer::HitTest(std::int32_t x, std::int32_t y) {
  bool passed = DoHitTest(x, y);
  if (OnHitTest) OnHitTest(this, x, y, passed);
  return passed;
}

void TCustomLayer::PaintLayer(TBitmap32& buffer) {
  Paint(buffer);
  if (OnPaint) OnPaint(this, buffer);
}

bool TCustomLayer::DoHitTest(std::int32_t, std::int32_t) { return true; }
void TCustomLayer::Notification(TCustomLayer*) {}
void TCustomLayer::Paint(TBitmap32&) {}
void TCustomLayer::PaintGDI(QPainter&) {}

void TCustomLayer::SetScreenCursor(TCursor cursor) const {
  if (collection_) collection_->SetOwnerCursor(cursor);
}

void TCustomLayer::MouseDown(TMouseButton button, TShiftState shift, std::int32_t x,
                             std::int32_t y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TCustomLayer::MouseMove(TShiftState shift, std::int32_t x, std::int32_t y) {
  SetScreenCursor(cursor_);
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TCustomLayer::MouseUp(TMouseButton button, TShiftState shift, std::int32_t x, std::int32_t y) {
  SetScreenCursor(crDefault);
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

// ---- TPositionedLayer -----------------------------------------------------------

TPositionedLayer::TPositionedLayer(TLayerCollection* collection) : TCustomLayer(collection) {
  optionBits_ = loVisible | loMouseEvents;
}

TFloatRect TPositionedLayer::GetScreenLocation() const {
  TFloatRect r = location_;
  const TImageMapping* m = LayerCollection() ? LayerCollection()->CoordMapping() : nullptr;
  if (scaled_ && m) {
    auto mapX = [&](float x) { return static_cast<float>(m->ZoomX * static_cast<double>(x) / 65536.0 + m->OriginX); };
    auto mapY = [&](float y) { return static_cast<float>(m->ZoomY * static_cast<double>(y) / 65536.0 + m->OriginY); };
    r = {mapX(r.Left), mapY(r.Top), mapX(r.Right), mapY(r.Bottom)};
  }
  return r;
}

bool TPositionedLayer::DoHitTest(std::int32_t x, std::int32_t y) {
  const TFloatRect r = GetScreenLocation();
  return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

void TPositionedLayer::SetLocation(const TFloatRect& rect) {
  Changing();
  DoSetLocation(rect);
  Changed();
}

void TPositionedLayer::DoSetLocation(const TFloatRect& rect) { location_ = rect; }

void TPositionedLayer::SetScaled(bool value) {
  if (value == scaled_) return;
  Changing();
  scaled_ = value;
  Changed();
}

// ---- TRubberbandLayer -----------------------------------------------------------

TRubberbandLayer::TRubberbandLayer(TLayerCollection* collection) : TPositionedLayer(collection) {}

TRubberbandLayer::~TRubberbandLayer() = default;

void TRubberbandLayer::UpdateNoNotify() {
  // While a follower moves with the band, the follower's own notice is the
  // one that repaints.
  if (followerLayer_) {
    optionBits_ |= loNoNotify;
  } else {
    optionBits_ &= ~loNoNotify;
  }
}

void TRubberbandLayer::SetFollowerLayer(TPositionedLayer* layer) {
  if (layer == followerLayer_) return;
  if (followerLayer_) followerLayer_->RemoveNotification(this);
  followerLayer_ = layer;
  if (layer) {
    layer->AddNotification(this);
    layer->SetLocation(Location());
  }
  UpdateNoNotify();
}

void TRubberbandLayer::Notification(TCustomLayer* layer) {
  if (layer == followerLayer_) followerLayer_ = nullptr;
  UpdateNoNotify();
}

void TRubberbandLayer::SetFramePattern(const TArrayOfColor32& colors) {
  Changing();
  framePattern_ = colors;
  Changed();
}

void TRubberbandLayer::SetFramePatternStep(float value) {
  if (value == framePatternStep_) return;
  Changing();
  framePatternStep_ = value;
  Changed();
}

void TRubberbandLayer::SetHandleEdgeColor(TColor32 value) {
  if (value == handleEdgeColor_) return;
  Changing();
  handleEdgeColor_ = value;
  Changed();
}

void TRubberbandLayer::SetHandleFillColor(TColor32 value) {
  if (value == handleFillColor_) return;
  Changing();
  handleFillColor_ = value;
  Changed();
}

void TRubberbandLayer::SetOptions(TRubberbandOptions value) {
  if (value == options_) return;
  Changing();
  options_ = value;
  Changed();
}

void TRubberbandLayer::SetHandleRadius(std::int32_t value) {
  if (value == handleRadius_) return;
  Changing();
  handleRadius_ = value;
  Changed();
}

void TRubberbandLayer::DoSetLocation(const TFloatRect& rect) {
  TPositionedLayer::DoSetLocation(rect);
  if (followerLayer_) followerLayer_->SetLocation(rect);
}

bool TRubberbandLayer::DoHitTest(std::int32_t x, std::int32_t y) { return HandleAt(x, y) != bdNone; }

TBandDragState TRubberbandLayer::HandleAt(std::int32_t x, std::int32_t y) const {
  TRect r = MakeRect(GetScreenLocation());
  const std::int32_t left = r.Left, top = r.Top, right = r.Right - 1, bottom = r.Bottom - 1;
  const std::int32_t d = handleRadius_ + 1;
  const std::int32_t cx = (left + right) / 2, cy = (top + bottom) / 2;
  const bool nearL = std::abs(left - x) <= d, nearR = std::abs(right - x) <= d;
  const bool nearCx = std::abs(cx - x) <= d;
  const bool nearT = std::abs(top - y) <= d, nearCy = std::abs(cy - y) <= d;
  const bool nearB = std::abs(bottom - y) <= d;
  const auto o = options_;
  if (o & rbCornerHandles) {
    if (nearR && nearB && !(o & rbNoBottomRight)) return bdBottomRight;
    if (nearL && nearB && !(o & rbNoBottomLeft)) return bdBottomLeft;
    if (nearR && nearT && !(o & rbNoTopRight)) return bdTopRight;
    if (nearL && nearT && !(o & rbNoTopLeft)) return bdTopLeft;
  }
  if (o & rbSideHandles) {
    if (nearR && nearCy && !(o & rbNoRight)) return bdRight;
    if (nearCx && nearB && !(o & rbNoBottom)) return bdBottom;
    if (nearL && nearCy && !(o & rbNoLeft)) return bdLeft;
    if (nearT && nearCx && !(o & rbNoTop)) return bdTop;
  }
  if ((o & rbMove) && x >= left && x < right && y >= top && y < bottom) return bdMove;
  return bdNone;
}

void TRubberbandLayer::MouseDown(TMouseButton button, TShiftState shift, std::int32_t x,
                                 std::int32_t y) {
  if (dragging_) return;
  dragState_ = HandleAt(x, y);
  dragging_ = dragState_ != bdNone;
  if (dragging_) {
    oldLocation_ = Location();
    if (dragState_ == bdMove) {
      const TFloatRect s = GetScreenLocation();
      grabOffset_ = {static_cast<float>(x) - s.Left, static_cast<float>(y) - s.Top};
    } else {
      grabOffset_ = {0, 0};
    }
  }
  TPositionedLayer::MouseDown(button, shift, x, y);
}

void TRubberbandLayer::MouseMove(TShiftState shift, std::int32_t x, std::int32_t y) {
  if (!dragging_) {
    static constexpr TCursor kCursors[] = {crDefault, crDefault,  crSizeWE,   crSizeNS,
                                           crSizeWE,  crSizeNS,   crSizeNWSE, crSizeNESW,
                                           crSizeNESW, crSizeNWSE};
    dragState_ = HandleAt(x, y);
    SetScreenCursor(dragState_ == bdMove ? Cursor() : kCursors[dragState_]);
    return;
  }
  float mx = static_cast<float>(x) - grabOffset_.X;
  float my = static_cast<float>(y) - grabOffset_.Y;
  if (Scaled()) {
    // Screen to layer coordinates.
    const TFloatRect s = GetScreenLocation();
    if (s.Right - s.Left == 0 || s.Bottom - s.Top == 0) return;
    const TFloatRect l = Location();
    mx = l.Left + (mx - s.Left) / (s.Right - s.Left) * (l.Right - l.Left);
    my = l.Top + (my - s.Top) / (s.Bottom - s.Top) * (l.Bottom - l.Top);
  }
  float left = oldLocation_.Left, top = oldLocation_.Top;
  float right = oldLocation_.Right, bottom = oldLocation_.Bottom;
  const float w = right - left, h = bottom - top;
  const auto st = dragState_;
  if (st == bdMove) {
    left = mx;
    top = my;
    right = mx + w;
    bottom = my + h;
  }
  if (st == bdLeft || st == bdTopLeft || st == bdBottomLeft) {
    left += mx - left;
    if (right - left < minWidth_) left = right - minWidth_;
    if (minWidth_ <= maxWidth_ && right - left > maxWidth_) left = right - maxWidth_;
  }
  if (st == bdRight || st == bdTopRight || st == bdBottomRight) {
    right += mx - right;
    if (right - left < minWidth_) right = left + minWidth_;
    if (minWidth_ <= maxWidth_ && right - left > maxWidth_) right = left + maxWidth_;
  }
  if (st == bdTop || st == bdTopLeft || st == bdTopRight) {
    top += my - top;
    if (bottom - top < minHeight_) top = bottom - minHeight_;
    if (minHeight_ <= maxHeight_ && bottom - top > maxHeight_) top = bottom - maxHeight_;
  }
  if (st == bdBottom || st == bdBottomLeft || st == bdBottomRight) {
    bottom += my - bottom;
    if (bottom - top < minHeight_) bottom = top + minHeight_;
    if (minHeight_ <= maxHeight_ && bottom - top > maxHeight_) bottom = top + maxHeight_;
  }
  TFloatRect proposed{left, top, right, bottom};
  DoSizing(oldLocation_, proposed, st, shift);
  const TFloatRect now = Location();
  if (proposed.Left != now.Left || proposed.Top != now.Top || proposed.Right != now.Right ||
      proposed.Bottom != now.Bottom) {
    SetLocation(proposed);
    if (OnBandChanged) OnBandChanged(this);
  }
}

void TRubberbandLayer::MouseUp(TMouseButton button, TShiftState shift, std::int32_t x,
                               std::int32_t y) {
  dragging_ = false;
  TPositionedLayer::MouseUp(button, shift, x, y);
}

void TRubberbandLayer::DoSizing(const TFloatRect& oldLocation, TFloatRect& newLocation,
                                TBandDragState dragState, TShiftState shift) {
  if (OnSizing) OnSizing(this, oldLocation, newLocation, dragState, shift);
}

void TRubberbandLayer::Paint(TBitmap32& buffer) {
  const TRect r = MakeRect(GetScreenLocation());
  const auto o = options_;
  if (o & rbFrame) {
    buffer.SetStipplePattern(framePattern_);
    buffer.SetStippleCounter(0);
    buffer.SetStippleStep(framePatternStep_);
    buffer.FrameRectTSP(r.Left, r.Top, r.Right, r.Bottom);
  }
  const std::int32_t k = handleRadius_;
  auto handle = [&](std::int32_t x, std::int32_t y) {
    buffer.FillRectTS(x - k, y - k, x + k, y + k, handleFillColor_);
    buffer.FrameRectTS(x - k, y - k, x + k, y + k, handleEdgeColor_);
  };
  if (o & rbCornerHandles) {
    if (!(o & rbNoTopLeft)) handle(r.Left, r.Top);
    if (!(o & rbNoTopRight)) handle(r.Right, r.Top);
    if (!(o & rbNoBottomLeft)) handle(r.Left, r.Bottom);
    if (!(o & rbNoBottomRight)) handle(r.Right, r.Bottom);
  }
  if (o & rbSideHandles) {
    const std::int32_t cx = (r.Left + r.Right) / 2, cy = (r.Top + r.Bottom) / 2;
    if (!(o & rbNoTop)) handle(cx, r.Top);
    if (!(o & rbNoLeft)) handle(r.Left, cy);
    if (!(o & rbNoRight)) handle(r.Right, cy);
    if (!(o & rbNoBottom)) handle(cx, r.Bottom);
  }
}

}  // namespace kdl

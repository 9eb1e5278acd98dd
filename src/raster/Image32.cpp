#include "raster/Image32.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSizeGrip>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "platform/qt/ErrorDisplay.h"
#include "raster/Themes.h"
#include "raster/ThreadPersistent.h"

namespace kdl {
namespace {

// Large or non-finite values saturate instead of overflowing.
std::int32_t SaturateRound(double v) {
  if (std::isnan(v)) return 0;
  v = std::nearbyint(v);
  if (v >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (v <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(v);
}

// a * b / c rounded half away from zero, as the platform's MulDiv.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t p = static_cast<std::int64_t>(a) * b;
  const std::int64_t half = std::abs(static_cast<std::int64_t>(c)) / 2;
  const bool negative = (p < 0) != (c < 0);
  std::int64_t q = (std::abs(p) + half) / std::abs(static_cast<std::int64_t>(c));
  if (negative) q = -q;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(q, INT32_MIN, INT32_MAX));
}

std::optional<TMouseButton> ToButton(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton: return mbLeft;
    case Qt::RightButton: return mbRight;
    case Qt::MiddleButton: return mbMiddle;
    default: return std::nullopt;
  }
}

// A dotted focus frame: alternate pixels inverted.
void FocusFrame(TBitmap32& dest, const TRect& r) {
  TArrayOfColor32 saved = dest.StipplePattern();
  dest.SetStippleArray({0xFF000000u, 0xFFFFFFFFu});
  dest.FrameRectTSP(r.Left, r.Top, r.Right, r.Bottom);
  dest.SetStipplePattern(saved);
}

}  // namespace

// ---- TCustomPaintBox32 ----------------------------------------------------------

TCustomPaintBox32::TCustomPaintBox32(QWidget* parent)
    : QWidget(parent), backBuffer_(std::make_unique<TBitmap32>()) {
  // The buffer's changes notify nobody.
  backBuffer_->BeginUpdate();
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  resize(192, 192);
}

TCustomPaintBox32::~TCustomPaintBox32() = default;

void TCustomPaintBox32::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  Invalidate();
}

void TCustomPaintBox32::SetCursor(TCursor value) {
  cursor_ = value;
  SetWidgetCursor(this, value);
}

TRect TCustomPaintBox32::ViewRect() const { return {0, 0, width(), height()}; }

void TCustomPaintBox32::FitBuffer() {
  const TRect v = ViewRect();
  auto fit = [&](std::int32_t want, std::int32_t have) {
    want = std::max(want, 0);
    std::int32_t size;
    if (have < want) {
      size = want + bufferSlack_;
    } else if (want >= have - bufferSlack_) {
      size = have;
    } else {
      size = want;
    }
    return size <= 0 ? 1 : size;
  };
  const std::int32_t w = fit(v.Width(), backBuffer_->Width());
  const std::int32_t h = fit(v.Height(), backBuffer_->Height());
  if (w == backBuffer_->Width() && h == backBuffer_->Height()) return;
  backBuffer_->Lock();
  try {
    backBuffer_->SetSize(w, h);
  } catch (...) {
    backBuffer_->Unlock();
    throw;
  }
  backBuffer_->Unlock();
  backBufferValid_ = false;
}

void TCustomPaintBox32::Invalidate() {
  backBufferValid_ = false;
  UpdateView();
}

void TCustomPaintBox32::UpdateView() {
  // Only the buffer's part: child controls beside it (the view's bars)
  // repaint when they change themselves.
  const TRect v = ViewRect();
  update(QRect(v.Left, v.Top, v.Width(), v.Height()));
}

void TCustomPaintBox32::RenderBuffer() { backBufferValid_ = true; }

void TCustomPaintBox32::PaintOverlay(QPainter&) {
  if (OnGDIOverlay) OnGDIOverlay(this);
}

void TCustomPaintBox32::PaintControl(QPainter&) {}

void TCustomPaintBox32::EnterNotify() {
  hovered_ = true;
  if (OnMouseEnter) OnMouseEnter(this);
}

void TCustomPaintBox32::LeaveNotify() {
  hovered_ = false;
  if (OnMouseLeave) OnMouseLeave(this);
}

void TCustomPaintBox32::paintEvent(QPaintEvent*) {
  try {
    QPainter painter(this);
    PaintControl(painter);
    FitBuffer();
    if (!backBufferValid_) RenderBuffer();
    const TRect v = ViewRect();
    TBitmap32& b = *backBuffer_;
    b.Lock();
    // The buffer is opaque: an RGB32 header over its memory makes the blit
    // a plain row copy.
    const QImage view(reinterpret_cast<const uchar*>(b.Bits()), b.Width(), b.Height(),
                      static_cast<qsizetype>(b.Width()) * 4, QImage::Format_RGB32);
    painter.drawImage(QPoint(v.Left, v.Top), view,
                      QRect(0, 0, std::min(v.Width(), b.Width()), std::min(v.Height(), b.Height())));
    b.Unlock();
    PaintOverlay(painter);
  } catch (...) {
    ShowCurrentException();
  }
}

void TCustomPaintBox32::resizeEvent(QResizeEvent* event) {
  try {
    FitBuffer();
    backBufferValid_ = false;
  } catch (...) {
    ShowCurrentException();
  }
  QWidget::resizeEvent(event);
}

void TCustomPaintBox32::enterEvent(QEnterEvent*) {
  try {
    EnterNotify();
  } catch (...) {
    ShowCurrentException();
  }
}

void TCustomPaintBox32::leaveEvent(QEvent*) {
  try {
    LeaveNotify();
  } catch (...) {
    ShowCurrentException();
  }
}

// ---- TCustomImage32 -------------------------------------------------------------

TCustomImage32::TCustomImage32(QWidget* parent)
    : TCustomPaintBox32(parent),
      bitmap_(std::make_unique<TBitmap32>()),
      layers_(std::make_unique<TLayerCollection>(this)),
      stages_(std::make_unique<TPaintStages>()) {
  bitmap_->OnChange = [this](TThreadPersistent*) { Changed(); };
  bitmap_->OnResize = [this](TThreadPersistent*) { BitmapSizeChanged(); };
  layers_->SetCoordMapping(&mapping_);
  layers_->OnChange = [this](TLayerCollection*) { Changed(); };
  layers_->OnOverlayUpdate = [this](TLayerCollection*) { UpdateView(); };
  AddStandardStages();
}

TCustomImage32::~TCustomImage32() {
  // Nothing that goes below may call back into a half-destroyed control.
  layers_->OnChange = nullptr;
  layers_->OnChanging = nullptr;
  layers_->OnOverlayUpdate = nullptr;
  bitmap_->OnChange = nullptr;
  bitmap_->OnResize = nullptr;
  ++updateDepth_;
  stages_.reset();
  layers_.reset();
  bitmap_.reset();
}

void TCustomImage32::SetBitmap(const TBitmap32& value) {
  InvalidateMapping();
  bitmap_->Assign(&value);
}

void TCustomImage32::SetPlacement(TBitmapPlacement value) {
  InvalidateMapping();
  placement_ = value;
  Changed();
}

void TCustomImage32::SetPanX(float value) {
  if (value == panX_) return;
  InvalidateMapping();
  panX_ = value;
  Changed();
}

void TCustomImage32::SetPanY(float value) {
  if (value == panY_) return;
  InvalidateMapping();
  panY_ = value;
  Changed();
}

void TCustomImage32::SetScale(float value) {
  if (!std::isfinite(value) || value < 0.001f) value = 0.001f;
  if (value == scale_) return;
  InvalidateMapping();
  scale_ = value;
  ScaleUpdated();
  Changed();
}

void TCustomImage32::SetSizing(TBitmapSizing value) {
  if (value == sizing_) return;
  InvalidateMapping();
  sizing_ = value;
  Changed();
}

void TCustomImage32::BeginUpdate() { ++updateDepth_; }

void TCustomImage32::EndUpdate() {
  --updateDepth_;
  if (updateDepth_ < 0) {
    updateDepth_ = 0;
    throw EAssertionFailed("Unpaired EndUpdate call");
  }
}

void TCustomImage32::Changed() {
  if (updateDepth_ != 0) return;
  Invalidate();
  if (OnChange) OnChange(this);
}

void TCustomImage32::Invalidate() {
  InvalidateMapping();
  TCustomPaintBox32::Invalidate();
}

TSize TCustomImage32::PlacedBitmapSize() const {
  const std::int32_t bw = bitmap_->Width(), bh = bitmap_->Height();
  const TRect v = ViewRect();
  const std::int32_t cw = v.Width(), ch = v.Height();
  if (bitmap_->Empty() || cw <= 0 || ch <= 0) return {0, 0};
  double w = 0, h = 0;
  switch (sizing_) {
    case szActual:
      w = bw;
      h = bh;
      break;
    case szStretch:
      w = cw;
      h = ch;
      break;
    case szFit: {
      const double kx = static_cast<double>(cw) / bw, ky = static_cast<double>(ch) / bh;
      if (kx >= ky) {
        w = std::nearbyint(bw * ky);
        h = ch;
      } else {
        w = cw;
        h = std::nearbyint(bh * kx);
      }
      break;
    }
    case szScale:
      w = static_cast<double>(bw) * scale_;
      h = static_cast<double>(bh) * scale_;
      break;
  }
  return {std::max(0, SaturateRound(w)), std::max(0, SaturateRound(h))};
}

TRect TCustomImage32::PlacedBitmapRect() const {
  if (bitmap_->Empty()) return {};
  const TSize s = PlacedBitmapSize();
  TRect r{0, 0, s.cx, s.cy};
  const TRect v = ViewRect();
  std::int64_t dx = 0, dy = 0;
  if (placement_ == plCenter) {
    dx = (v.Width() - s.cx) / 2;
    dy = (v.Height() - s.cy) / 2;
  } else if (placement_ == plOffset) {
    dx = SaturateRound(panX_);
    dy = SaturateRound(panY_);
  }
  auto move = [](std::int32_t a, std::int64_t d) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(a + d, INT32_MIN, INT32_MAX));
  };
  r = {move(r.Left, dx), move(r.Top, dy), move(r.Right, dx), move(r.Bottom, dy)};
  return r;
}

void TCustomImage32::RefreshMapping() {
  if (mappingValid_) return;
  placedRect_ = PlacedBitmapRect();
  mapping_ = {};
  // An empty placed rectangle (a control with no room, or a scale that
  // rounds the bitmap to nothing) maps nothing and paints no bitmap.
  if (!bitmap_->Empty() && placedRect_.Width() > 0 && placedRect_.Height() > 0) {
    const std::int32_t bw = bitmap_->Width(), bh = bitmap_->Height();
    const std::int32_t rw = placedRect_.Width(), rh = placedRect_.Height();
    mapping_.OriginX = placedRect_.Left;
    mapping_.OriginY = placedRect_.Top;
    mapping_.ZoomX = MulDiv(rw, 65536, bw);
    mapping_.ZoomY = MulDiv(rh, 65536, bh);
    mapping_.UnzoomX = MulDiv(bw, 65536, rw);
    mapping_.UnzoomY = MulDiv(bh, 65536, rh);
  }
  mappingValid_ = true;
}

void TCustomImage32::BitmapSizeChanged() {
  if (autoSize_) {
    double w = bitmap_->Width(), h = bitmap_->Height();
    if (sizing_ == szScale) {
      w = std::nearbyint(w * scale_);
      h = std::nearbyint(h * scale_);
    }
    if (w > 0 && h > 0) resize(SaturateRound(w), SaturateRound(h));
  }
  if (updateDepth_ != 0 && OnBitmapResize) OnBitmapResize(this);
  InvalidateMapping();
  Invalidate();
}

void TCustomImage32::InitStagesNotify() {
  if (OnInitStages) OnInitStages(this);
}

void TCustomImage32::ScaleUpdated() {}

void TCustomImage32::AddStandardStages() {
  auto add = [&](bool design, bool run, std::uint32_t kind, std::uint32_t param = 0) {
    TStageEntry& e = stages_->AddStage();
    e = {design, run, kind, param};
  };
  add(true, true, PST_CLEAR_BACKGND);
  add(true, false, PST_CONTROL_FRAME);
  add(true, true, PST_DRAW_BITMAP);
  add(true, false, PST_BITMAP_FRAME);
  add(true, true, PST_DRAW_LAYERS, loVisible);
}

void TCustomImage32::RenderBuffer() {
  RefreshMapping();
  TBitmap32& buffer = BackBuffer();
  for (std::int32_t i = 0; i < stages_->StageCount(); ++i) {
    const TStageEntry e = stages_->StageAt(i);
    if (!e.AtRunTime) continue;
    const auto n = static_cast<std::uint32_t>(i);
    switch (e.Kind) {
      case PST_CUSTOM: PaintStageEvent(buffer, n); break;
      case PST_CLEAR_BUFFER: ClearBuffer(buffer, n); break;
      case PST_CLEAR_BACKGND: ClearBackground(buffer, n); break;
      case PST_DRAW_BITMAP: PaintBitmap(buffer, n); break;
      case PST_DRAW_LAYERS: PaintLayers(buffer, n); break;
      case PST_CONTROL_FRAME: PaintControlFrame(buffer, n); break;
      case PST_BITMAP_FRAME: PaintBitmapFrame(buffer, n); break;
      default: break;
    }
  }
  backBufferValid_ = true;
}

void TCustomImage32::PaintStageEvent(TBitmap32& dest, std::uint32_t stageNum) {
  if (OnPaintStage) OnPaintStage(this, dest, stageNum);
}

void TCustomImage32::ClearBuffer(TBitmap32& dest, std::uint32_t) { dest.Clear(Color32(Color())); }

void TCustomImage32::ClearBackground(TBitmap32& dest, std::uint32_t) {
  const TColor32 c = Color32(Color());
  if (bitmap_->Empty() || bitmap_->DrawMode() != dmOpaque) {
    dest.Clear(c);
    return;
  }
  const TRect r = placedRect_;
  const TRect v = ViewRect();
  const std::int32_t w = dest.Width(), h = dest.Height();
  if (r.Left > 0 || r.Right < v.Width() || r.Top > 0 ||
      (r.Bottom < v.Height() && placement_ != plTile)) {
    if (r.Width() <= 0 || r.Height() <= 0) {
      dest.Clear(c);
      return;
    }
    dest.FillRectS(0, 0, w, r.Top, c);
    dest.FillRectS(0, r.Bottom, w, h, c);
    dest.FillRectS(0, r.Top, r.Left, r.Bottom, c);
    dest.FillRectS(r.Right, r.Top, w, r.Bottom, c);
  }
}

void TCustomImage32::PaintBitmap(TBitmap32& dest, std::uint32_t) {
  const TRect r = placedRect_;
  if (bitmap_->Empty() || r.Width() <= 0 || r.Height() <= 0) return;
  bitmap_->Lock();
  try {
    if (placement_ == plTile) {
      for (std::int32_t i = 0; i <= dest.Width() / r.Right; ++i) {
        for (std::int32_t j = 0; j <= dest.Height() / r.Bottom; ++j) {
          const std::int32_t x = i * r.Right, y = j * r.Bottom;
          bitmap_->DrawTo(dest, {x, y, x + r.Width(), y + r.Height()});
        }
      }
    } else {
      bitmap_->DrawTo(dest, r);
    }
  } catch (...) {
    bitmap_->Unlock();
    throw;
  }
  bitmap_->Unlock();
}

void TCustomImage32::PaintLayers(TBitmap32& dest, std::uint32_t stageNum) {
  const std::uint32_t mask = stages_->StageAt(static_cast<std::int32_t>(stageNum)).Param;
  for (std::int32_t i = 0; i < layers_->Count(); ++i) {
    TCustomLayer* layer = layers_->Items(i);
    if ((layer->OptionBits() & mask) != 0) layer->PaintLayer(dest);
  }
}

void TCustomImage32::PaintControlFrame(TBitmap32& dest, std::uint32_t) {
  FocusFrame(dest, {0, 0, width(), height()});
}

void TCustomImage32::PaintBitmapFrame(TBitmap32& dest, std::uint32_t) {
  FocusFrame(dest, placedRect_);
}

void TCustomImage32::PaintOverlay(QPainter& painter) {
  for (std::int32_t i = 0; i < layers_->Count(); ++i) {
    TCustomLayer* layer = layers_->Items(i);
    if ((layer->OptionBits() & loOverlay) != 0) layer->PaintGDI(painter);
  }
  TCustomPaintBox32::PaintOverlay(painter);
}

void TCustomImage32::MouseDownNotify(TMouseButton button, TShiftState shift, std::int32_t x,
                                     std::int32_t y, TCustomLayer* layer) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y, layer);
}

void TCustomImage32::MouseMoveNotify(TShiftState shift, std::int32_t x, std::int32_t y,
                                     TCustomLayer* layer) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y, layer);
}

void TCustomImage32::MouseUpNotify(TMouseButton button, TShiftState shift, std::int32_t x,
                                   std::int32_t y, TCustomLayer* layer) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y, layer);
}

void TCustomImage32::mousePressEvent(QMouseEvent* event) {
  try {
    const auto button = ToButton(event->button());
    if (!button) return;
    if (focusPolicy() & Qt::ClickFocus) setFocus(Qt::MouseFocusReason);
    const QPoint p = event->position().toPoint();
    RefreshMapping();
    TCustomLayer* layer = nullptr;
    if (layers_->MouseEvents()) layer = layers_->MouseDown(*button, event->modifiers(), p.x(), p.y());
    MouseDownNotify(*button, event->modifiers(), p.x(), p.y(), layer);
  } catch (...) {
    ShowCurrentException();
  }
}

void TCustomImage32::mouseMoveEvent(QMouseEvent* event) {
  try {
    const QPoint p = event->position().toPoint();
    RefreshMapping();
    TCustomLayer* layer = nullptr;
    if (layers_->MouseEvents()) layer = layers_->MouseMove(event->modifiers(), p.x(), p.y());
    MouseMoveNotify(event->modifiers(), p.x(), p.y(), layer);
  } catch (...) {
    ShowCurrentException();
  }
}

void TCustomImage32::mouseReleaseEvent(QMouseEvent* event) {
  try {
    const auto button = ToButton(event->button());
    if (!button) return;
    const QPoint p = event->position().toPoint();
    RefreshMapping();
    TCustomLayer* layer = nullptr;
    if (layers_->MouseEvents()) layer = layers_->MouseUp(*button, event->modifiers(), p.x(), p.y());
    MouseUpNotify(*button, event->modifiers(), p.x(), p.y(), layer);
  } catch (...) {
    ShowCurrentException();
  }
}

void TCustomImage32::leaveEvent(QEvent* event) {
  try {
    if (layers_->MouseEvents() && layers_->MouseCapture() == nullptr) SetWidgetCursor(this, Cursor());
  } catch (...) {
    ShowCurrentException();
  }
  TCustomPaintBox32::leaveEvent(event);
}

// ---- TIVScrollProperties --------------------------------------------------------

std::uint16_t TIVScrollProperties::Increment() const { return view_.HorzBar()->Increment(); }

void TIVScrollProperties::SetIncrement(std::uint16_t value) {
  view_.HorzBar()->SetIncrement(value);
  view_.VertBar()->SetIncrement(value);
}

std::int32_t TIVScrollProperties::Size() const { return view_.BarSizeSetting(); }

void TIVScrollProperties::SetSize(std::int32_t value) { view_.SetBarSizeSetting(value); }

TScrollBarVisibility TIVScrollProperties::Visibility() const { return view_.BarVisibility(); }

void TIVScrollProperties::SetVisibility(TScrollBarVisibility value) { view_.SetBarVisibility(value); }

// ---- TCustomImgView32 -----------------------------------------------------------

TCustomImgView32::TCustomImgView32(QWidget* parent)
    : TCustomImage32(parent),
      horzBar_(std::make_unique<TRangeBar>(this)),
      vertBar_(std::make_unique<TRangeBar>(this)),
      scrollBars_(std::make_unique<TIVScrollProperties>(*this)) {
  for (TRangeBar* bar : {horzBar_.get(), vertBar_.get()}) {
    bar->SetBorderStyle(bsNone);
    bar->SetCentered(true);
    bar->OnUserScroll = [this](TArrowBar* sender) { BarScrolled(sender); };
  }
  vertBar_->SetKind(sbVertical);
  SetSizing(szScale);
  SetPlacement(plOffset);
  scrollBars_->SetMaster(horzBar_.get());
  scrollBars_->SetSlave(vertBar_.get());
  LayoutScrollBars();
}

TCustomImgView32::~TCustomImgView32() {
  horzBar_->OnUserScroll = nullptr;
  vertBar_->OnUserScroll = nullptr;
  scrollBars_.reset();
}

void TCustomImgView32::SetCentered(bool value) {
  InvalidateMapping();
  centered_ = value;
  horzBar_->SetCentered(value);
  vertBar_->SetCentered(value);
  SetScrollRanges();
  PlaceImage();
  if (value) {
    CenterOn(Bitmap().Width() / 2, Bitmap().Height() / 2);
  } else {
    CenterOn(0, 0);
  }
}

void TCustomImgView32::SetSizeGrip(TSizeGripStyle value) {
  if (value == sizeGrip_) return;
  sizeGrip_ = value;
  Invalidate();
  const TRect g = GripRect();
  update(QRect(g.Left, g.Top, g.Width(), g.Height()));
}

void TCustomImgView32::SetOverSize(std::int32_t value) {
  if (value == overSize_) return;
  overSize_ = value;
  Invalidate();
}

void TCustomImgView32::SetBarSizeSetting(std::int32_t value) {
  barSizeSetting_ = value;
  LayoutScrollBars();
  InvalidateMapping();
  SetScrollRanges();
  PlaceImage();
  Invalidate();
}

void TCustomImgView32::SetBarVisibility(TScrollBarVisibility value) {
  if (value == barVisibility_) return;
  barVisibility_ = value;
  LayoutScrollBars();
  InvalidateMapping();
  SetScrollRanges();
  PlaceImage();
  Invalidate();
}

void TCustomImgView32::BarsShown(bool& horz, bool& vert) const {
  if (barVisibility_ != svAuto) {
    horz = vert = barVisibility_ == svAlways;
    return;
  }
  // The bars' ranges against the whole control, sized as PlacedBitmapSize
  // and SetScrollRanges size them; a stretched or fitted bitmap never
  // overflows the view.
  std::int64_t w = 0, h = 0;
  const TBitmap32& b = const_cast<TCustomImgView32*>(this)->Bitmap();
  if (!b.Empty() && (Sizing() == szScale || Sizing() == szActual)) {
    const double k = Sizing() == szScale ? static_cast<double>(Scale()) : 1.0;
    const std::int64_t m = SaturateRound(2.0 * overSize_ * Scale());
    w = std::max(0, SaturateRound(b.Width() * k)) + m;
    h = std::max(0, SaturateRound(b.Height() * k)) + m;
  }
  // One bar takes room from the other direction, which may then need its own.
  const std::int32_t t = BarThickness();
  horz = w > width();
  vert = h > height();
  if (horz && !vert) vert = h > height() - t;
  if (vert && !horz) horz = w > width() - t;
}

std::int32_t TCustomImgView32::BarThickness() const {
  if (barSizeSetting_ != 0) return barSizeSetting_;
  return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

TRect TCustomImgView32::ViewRect() const {
  const std::int32_t t = BarThickness();
  bool horz = true, vert = true;
  BarsShown(horz, vert);
  return {0, 0, std::max(0, width() - (vert ? t : 0)), std::max(0, height() - (horz ? t : 0))};
}

bool TCustomImgView32::GripShown() const {
  // The grip sits in the corner between the two bars.
  bool horz = true, vert = true;
  BarsShown(horz, vert);
  if (!horz || !vert) return false;
  if (sizeGrip_ == sgAlways) return true;
  if (sizeGrip_ == sgNone) return false;
  // Shown when the view fills its parents up to the window.
  const QWidget* w = this;
  while (!w->isWindow()) {
    const QWidget* parent = w->parentWidget();
    if (parent == nullptr || w->geometry() != parent->rect()) return false;
    w = parent;
  }
  return true;
}

TRect TCustomImgView32::GripRect() const {
  const std::int32_t t = BarThickness();
  return {width() - t, height() - t, width(), height()};
}

void TCustomImgView32::LayoutScrollBars() {
  const TRect v = ViewRect();
  horzBar_->setGeometry(v.Left, v.Bottom, v.Width(), height() - v.Bottom);
  vertBar_->setGeometry(v.Right, v.Top, width() - v.Right, v.Height());
  bool horz = true, vert = true;
  BarsShown(horz, vert);
  horzBar_->setVisible(horz);
  vertBar_->setVisible(vert);
  // A hidden bar hears of its new size only when shown: take it now.
  horzBar_->SyncSize();
  vertBar_->SyncSize();
  horzBar_->update();
  vertBar_->update();
}

void TCustomImgView32::SetScrollRanges() {
  const TSize s = PlacedBitmapSize();
  const std::int32_t m = SaturateRound(2.0 * overSize_ * Scale());
  horzBar_->SetRange(static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{s.cx} + m, INT32_MAX)));
  vertBar_->SetRange(static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{s.cy} + m, INT32_MAX)));
}

void TCustomImgView32::CenterOn(std::int32_t x, std::int32_t y) {
  recentering_ = true;
  try {
    LayoutScrollBars();
    const TRect v = ViewRect();
    const double o = std::nearbyint(static_cast<double>(overSize_) * Scale());
    horzBar_->SetPosition(static_cast<float>(x * static_cast<double>(Scale()) - v.Width() / 2.0 + o));
    vertBar_->SetPosition(static_cast<float>(y * static_cast<double>(Scale()) - v.Height() / 2.0 + o));
  } catch (...) {
    recentering_ = false;
    throw;
  }
  recentering_ = false;
  PlaceImage();
}

void TCustomImgView32::PlaceImage() {
  BeginUpdate();
  const TSize s = PlacedBitmapSize();
  const TRect v = ViewRect();
  const double o = std::nearbyint(static_cast<double>(overSize_) * Scale());
  if (centered_ && 2 * o + s.cx < v.Width()) {
    SetPanX(static_cast<float>((v.Width() - s.cx) / 2.0));
  } else {
    SetPanX(static_cast<float>(o - horzBar_->Position()));
  }
  if (centered_ && 2 * o + s.cy < v.Height()) {
    SetPanY(static_cast<float>((v.Height() - s.cy) / 2.0));
  } else {
    SetPanY(static_cast<float>(o - vertBar_->Position()));
  }
  InvalidateMapping();
  EndUpdate();
  Changed();
}

void TCustomImgView32::NotifyScroll() {
  if (OnScroll) OnScroll(this);
}

void TCustomImgView32::BarScrolled(TArrowBar* sender) {
  if (recentering_) return;
  sender->update();
  PlaceImage();
  NotifyScroll();
  UpdateView();
}

void TCustomImgView32::ScaleUpdated() {
  // The bars that show may change with the scale.
  LayoutScrollBars();
  InvalidateMapping();
  SetScrollRanges();
  PlaceImage();
  Invalidate();
}

void TCustomImgView32::BitmapSizeChanged() {
  TCustomImage32::BitmapSizeChanged();
  LayoutScrollBars();
  SetScrollRanges();
  if (centered_) {
    CenterOn(Bitmap().Width() / 2, Bitmap().Height() / 2);
  } else {
    horzBar_->SetPosition(0);
    vertBar_->SetPosition(0);
    PlaceImage();
  }
}

void TCustomImgView32::PaintControl(QPainter& painter) {
  bool horz = true, vert = true;
  BarsShown(horz, vert);
  // Without both bars there is no corner between them; the bitmap fills it.
  if (!horz || !vert) return;
  const TRect g = GripRect();
  const QRect r(g.Left, g.Top, g.Width(), g.Height());
  painter.fillRect(r, QColor::fromRgb(Color32(clBtnFace)));
  if (!GripShown()) return;
  if (useThemes()) {
    QStyleOptionSizeGrip opt;
    opt.initFrom(this);
    opt.rect = r;
    opt.corner = Qt::BottomRightCorner;
    SCROLLBAR_THEME->drawControl(QStyle::CE_SizeGrip, &opt, &painter, this);
    return;
  }
  // The classic grip: three pairs of diagonal lines.
  const QColor light = QColor::fromRgb(Color32(clBtnHighlight));
  const QColor dark = QColor::fromRgb(Color32(clBtnShadow));
  const int n = std::min(r.width(), r.height());
  for (int k = 0; k < 3; ++k) {
    const int d = 4 * k + 2;
    for (int i = 0; i < d && i < n; ++i) {
      painter.fillRect(QRect(r.right() - d + i + 1, r.bottom() - i, 1, 1), dark);
      if (d + 1 < n) painter.fillRect(QRect(r.right() - d + i, r.bottom() - i, 1, 1), light);
    }
  }
}

void TCustomImgView32::resizeEvent(QResizeEvent* event) {
  try {
    LayoutScrollBars();
    InvalidateMapping();
    SetScrollRanges();
    PlaceImage();
    Invalidate();
  } catch (...) {
    ShowCurrentException();
  }
  TCustomImage32::resizeEvent(event);
}

void TCustomImgView32::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::LeftButton && GripShown() && PtInRect(GripRect(), {p.x(), p.y()})) {
    // The window system runs the resize; nothing is pumped here.
    if (QWindow* w = window()->windowHandle()) w->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
    return;
  }
  TCustomImage32::mousePressEvent(event);
}

void TCustomImgView32::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (GripShown() && PtInRect(GripRect(), {p.x(), p.y()})) {
    SetWidgetCursor(this, crSizeNWSE);
    return;
  }
  TCustomImage32::mouseMoveEvent(event);
}

}  // namespace kdl

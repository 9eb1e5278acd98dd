#include "document/view/Page.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <QColor>
#include <QPainter>

#include "document/resources/BitmapResource.h"
#include "document/shapes/Rendering.h"
#include "foundation/XmlNode.h"
#include "platform/qt/Canvas.h"
#include "raster/BoxScale.h"
#include "raster/UninitializedSize.h"

namespace kdl {

namespace {

inline constexpr TColor32 kWhite32 = 0xFFFFFFFFu;
inline constexpr TColor32 kBlack32 = 0xFF000000u;
inline constexpr TColor32 kPatternGrey32 = 0xFFB0B0B0u;

std::int32_t RoundPixel(double v) {
  // Far outside any bitmap either way; keeps the cast defined.
  if (!(v > -1e9)) return -1000000000;
  if (v > 1e9) return 1000000000;
  return static_cast<std::int32_t>(std::nearbyint(v));
}

bool PositiveFinite(double v) { return v > 0 && std::isfinite(v); }

// Ends the document's printing bracket however the work ends.
class TPrintingScope {
 public:
  explicit TPrintingScope(TdtpDocumentServices& document) : document_(document) {
    document_.BeginPrinting();
  }
  ~TPrintingScope() { document_.EndPrinting(); }
  TPrintingScope(const TPrintingScope&) = delete;
  TPrintingScope& operator=(const TPrintingScope&) = delete;

 private:
  TdtpDocumentServices& document_;
};

// The grid positions i * pitch for i = first .. last mapped to pixels by
// map; when the pitch is under a pixel every pixel between the ends is hit
// anyway, so the loop visits each pixel once instead of each position.
template <class Map, class Visit>
void ForEachGridPixel(double pitch, double pixelPitch, double last, Map map, Visit visit) {
  if (last < 1) return;
  if (std::abs(pixelPitch) < 1) {
    std::int32_t a = map(pitch);
    std::int32_t b = map(last * pitch);
    if (a > b) std::swap(a, b);
    for (std::int32_t p = a; p <= b; ++p) visit(p);
    return;
  }
  const auto n = static_cast<std::int64_t>(last);
  for (std::int64_t i = 1; i <= n; ++i) visit(map(static_cast<double>(i) * pitch));
}

}  // namespace

TdtpPage::TdtpPage() : background_(TdtpResource::Create<TdtpBitmapResource>(nullptr)) {
  SetDocWidth(210);
  SetDocHeight(297);
  SetCurbs(0, 0, 1, 1);
  background_->SetStorage(rsEmbedded);
  background_->OnLoaded = [this](TdtpResource&) { BackgroundChanged(); };
  background_->OnChange = [this](TdtpResource&) { BackgroundInvalidated(); };
}

TdtpPage::~TdtpPage() {
  background_->OnLoaded = nullptr;
  background_->OnChange = nullptr;
}

// ---- Settings ---------------------------------------------------------------------------

void TdtpPage::EnsureLoaded() {
  if (loaded_ || !Document()) return;
  Document()->LoadPage(GetPageIndex());
  // A failed read is not tried again on every getter.
  loaded_ = true;
}

float TdtpPage::MarginLeft() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultMarginLeft() : marginLeft_;
}
float TdtpPage::MarginTop() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultMarginTop() : marginTop_;
}
float TdtpPage::MarginRight() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultMarginRight() : marginRight_;
}
float TdtpPage::MarginBottom() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultMarginBottom() : marginBottom_;
}
float TdtpPage::GridSize() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultGridSize() : gridSize_;
}
TColor TdtpPage::GridColor() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultGridColor() : gridColor_;
}
TColor TdtpPage::PageColor() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultPageColor() : pageColor_;
}
bool TdtpPage::BackgroundTiled() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultBackgroundTiled() : backgroundTiled_;
}
TdtpBitmapResource* TdtpPage::EffectiveBackground() {
  EnsureLoaded();
  return isDefaultPage_ && Document() ? Document()->DefaultBackground() : background_.get();
}

void TdtpPage::SetPageWidth(float value) { SetDocWidth(value); }
void TdtpPage::SetPageHeight(float value) { SetDocHeight(value); }

// Margin-like settings: a change makes the page its own first, so that it
// keeps every other default as it was.
template <class T>
static bool Differs(T a, T b) {
  return !(a == b);
}

void TdtpPage::SetOwnFloat(float& field, float value, float effective) {
  if (!Differs(value, effective)) return;
  SetIsDefaultPage(false);
  field = value;
  Update();
  Changed();
}

void TdtpPage::SetMarginLeft(float value) { SetOwnFloat(marginLeft_, value, MarginLeft()); }
void TdtpPage::SetMarginTop(float value) { SetOwnFloat(marginTop_, value, MarginTop()); }
void TdtpPage::SetMarginRight(float value) { SetOwnFloat(marginRight_, value, MarginRight()); }
void TdtpPage::SetMarginBottom(float value) { SetOwnFloat(marginBottom_, value, MarginBottom()); }
void TdtpPage::SetGridSize(float value) { SetOwnFloat(gridSize_, value, GridSize()); }

void TdtpPage::SetGridColor(TColor value) {
  if (value == GridColor()) return;
  SetIsDefaultPage(false);
  gridColor_ = value;
  Update();
  Changed();
}

void TdtpPage::SetPageColor(TColor value) {
  if (value == PageColor()) return;
  SetIsDefaultPage(false);
  pageColor_ = value;
  Update();
  Changed();
}

void TdtpPage::SetBackgroundTiled(bool value) {
  if (value == BackgroundTiled()) return;
  SetIsDefaultPage(false);
  backgroundTiled_ = value;
  Update();
  Changed();
}

void TdtpPage::LeaveDefault(bool copyBackground) {
  TdtpDocumentServices* doc = Document();
  isDefaultPage_ = false;
  marginLeft_ = doc->DefaultMarginLeft();
  marginTop_ = doc->DefaultMarginTop();
  marginRight_ = doc->DefaultMarginRight();
  marginBottom_ = doc->DefaultMarginBottom();
  gridColor_ = doc->DefaultGridColor();
  gridSize_ = doc->DefaultGridSize();
  pageColor_ = doc->DefaultPageColor();
  backgroundTiled_ = doc->DefaultBackgroundTiled();
  if (copyBackground) {
    if (TdtpBitmapResource* def = doc->DefaultBackground(); def && def != background_.get())
      background_->Assign(*def);
  }
}

void TdtpPage::SetIsDefaultPage(bool value) {
  if (!Document() || Parent() || value == isDefaultPage_) return;
  if (value) {
    isDefaultPage_ = true;
    // The page's own size: the document's current page may be another.
    SetPageWidth(Document()->DefaultPageWidth());
    SetPageHeight(Document()->DefaultPageHeight());
    Document()->Refresh();
    Changed();
  } else {
    LeaveDefault(true);
  }
}

void TdtpPage::BackgroundChanged() {
  // The image just loaded is the user's: leaving the default state must
  // not replace it with the document's default background.
  if (isDefaultPage_ && Document() && !Parent()) LeaveDefault(false);
  Changed();
}

void TdtpPage::BackgroundInvalidated() {
  Update();
  Changed();
}

TdtpHelperMethodType TdtpPage::HelperMethod() const {
  return Document() ? Document()->HelperMethod() : hmNone;
}
bool TdtpPage::ShowMargins() const { return Document() && Document()->ShowMargins(); }
TdtpViewStyleType TdtpPage::ViewStyle() const {
  return Document() ? Document()->ViewStyle() : vsNormal;
}

int TdtpPage::GetPageIndex() const { return Document() ? Document()->PageIndex(this) : -1; }

void TdtpPage::SetPagePosition(float left, float top) {
  // Straight to the frame: the page's place on the desk is no edit.
  StorePosition(left, top);
}

bool TdtpPage::HasArea() const {
  return PositiveFinite(PageWidth()) && PositiveFinite(PageHeight());
}

// ---- Shape overrides --------------------------------------------------------------------

void TdtpPage::GetResourceNames(std::vector<std::string>& names) const {
  TdtpShape::GetResourceNames(names);
  background_->GetArchiveNames(names);
}

TFloatPoint TdtpPage::SnapPoint(TFloatPoint p) const {
  const float grid = const_cast<TdtpPage*>(this)->GridSize();
  if (!(grid > 0)) return p;
  return {static_cast<float>(std::nearbyint(p.X / grid) * grid),
          static_cast<float>(std::nearbyint(p.Y / grid) * grid)};
}

std::string TdtpPage::GetDisplayName() const {
  if (!Name().empty()) return Name();
  return "Page " + std::to_string(GetPageIndex() + 1);
}

void TdtpPage::SetDocument(TdtpDocumentServices* document) {
  TdtpShape::SetDocument(document);
  TResourcesLock lock;
  background_->SetDocument(document);
}

void TdtpPage::SetModified(bool value) {
  TdtpShape::SetModified(value);
  if (value) thumbnailDirty_ = true;
}

void TdtpPage::SetDocBoundsAngle(float left, float top, float width, float height, float angle) {
  TdtpShape::SetDocBoundsAngle(left, top, width, height, angle);
  TdtpDocumentServices* doc = Document();
  if (doc && !Parent() && doc->CurrentPage() == this && !doc->IsPrinting()) doc->PageSizeChanged();
}

void TdtpPage::LoadFromXml(TXmlNode* node) {
  TdtpShape::LoadFromXml(node);
  if (!node) return;
  isDefaultPage_ = node->ReadBool("IsDefaultPage", true);
  if (!isDefaultPage_) {
    marginLeft_ = static_cast<float>(node->ReadFloat("MarginLeft", 0));
    marginTop_ = static_cast<float>(node->ReadFloat("MarginTop", 0));
    marginRight_ = static_cast<float>(node->ReadFloat("MarginRight", 0));
    marginBottom_ = static_cast<float>(node->ReadFloat("MarginBottom", 0));
    gridSize_ = static_cast<float>(node->ReadFloat("GridSize", 0));
    gridColor_ = node->ReadColor("GridColor", 0);
    pageColor_ = node->ReadColor("PageColor", 0xFFFFFF);
    SetPageWidth(static_cast<float>(node->ReadFloat("PageWidth", 0)));
    SetPageHeight(static_cast<float>(node->ReadFloat("PageHeight", 0)));
    if (TXmlNode* image = node->FindChild("BackgroundImage")) {
      if (IsLegacyBitmapXml(*image)) {
        std::unique_ptr<TBitmap32> bitmap;
        ReadBitmapXml(node, "BackgroundImage", bitmap);
        if (bitmap) background_->SetBitmap(bitmap.get());
      } else {
        background_->LoadFromXml(*image);
      }
    }
    backgroundTiled_ = node->ReadBool("BackgroundTiled", false);
  }
  thumbnailDirty_ = false;
}

void TdtpPage::SaveToXml(TXmlNode* node) {
  if (!node) return;
  node->WriteBool("IsDefaultPage", isDefaultPage_, true);
  if (!isDefaultPage_) {
    node->WriteFloat("MarginLeft", marginLeft_, 0);
    node->WriteFloat("MarginTop", marginTop_, 0);
    node->WriteFloat("MarginRight", marginRight_, 0);
    node->WriteFloat("MarginBottom", marginBottom_, 0);
    node->WriteFloat("GridSize", gridSize_, 0);
    node->WriteColor("GridColor", gridColor_, 0);
    node->WriteColor("PageColor", pageColor_, 0xFFFFFF);
    node->WriteFloat("PageWidth", PageWidth(), 0);
    node->WriteFloat("PageHeight", PageHeight(), 0);
    if (HoldsBitmap(*background_)) background_->SaveToXml(*node->FindOrAddChild("BackgroundImage"));
    node->WriteBool("BackgroundTiled", backgroundTiled_, false);
  }
  TdtpShape::SaveToXml(node);
}

// ---- Painting ---------------------------------------------------------------------------

void TdtpPage::Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) {
  TdtpShape::Paint32(bitmap, info);
  EnsureLoaded();
  const TRect r = GetPixelRect();
  PaintPaper(bitmap, info, r);

  if (Document() && Document()->HasPaintBackground()) {
    bitmap.Canvas().Paint(
        [&](QPainter& painter) { Document()->DoPaintBackground(painter, info, r); });
  }

  if (info.Device == dtScreen) PaintHelpers(bitmap, r);
}

void TdtpPage::PaintPaper(TBitmap32& bitmap, const TdtpPaintInfo& info, const TRect& r) {
  if (info.Device != dtScreen || HelperMethod() != hmPattern) {
    if (info.Device != dtTransparent)
      bitmap.FillRectS(r.Left, r.Top, r.Right, r.Bottom, Color32(PageColor()));
    PaintBackgroundImage(bitmap, info, r);
    return;
  }

  // Checkerboard of 8-pixel cells anchored at the page's corner.
  const TRect clip = bitmap.ClipRect();
  const std::int32_t x0 = std::max(r.Left, clip.Left), x1 = std::min(r.Right, clip.Right);
  const std::int32_t y0 = std::max(r.Top, clip.Top), y1 = std::min(r.Bottom, clip.Bottom);
  const TColor32 pair[2] = {kWhite32, kPatternGrey32};
  for (std::int32_t y = y0; y < y1; ++y) {
    const int flip = ((static_cast<std::int64_t>(y) - r.Top) & 8) == 0 ? 0 : 1;
    TColor32* row = bitmap.ScanLine(y);
    for (std::int32_t x = x0; x < x1; ++x)
      row[x] = pair[(((static_cast<std::int64_t>(x) - r.Left) >> 3) & 1) ^ flip];
  }
}

void TdtpPage::PaintBackgroundImage(TBitmap32& bitmap, const TdtpPaintInfo& info,
                                    const TRect& r) {
  TdtpBitmapResource* resource = EffectiveBackground();
  if (!resource || r.Right <= r.Left || r.Bottom <= r.Top) return;
  const bool tiled = BackgroundTiled();

  // The cache thread may trim the image at any moment outside the bracket.
  TResourceAccess access(*resource);
  TBitmap32* image = nullptr;
  try {
    image = resource->GetBitmap();
  } catch (const std::exception&) {
    // A background that does not decode leaves the paper bare; the error
    // was shown when it was loaded.
    return;
  }
  if (!image || image->Empty()) return;
  image->SetStretchFilter(info.StretchFilter);
  image->SetDrawMode(dmBlend);
  if (!tiled) {
    image->DrawTo(bitmap, r);
    return;
  }

  // Tiles at 150 dpi, never under a pixel.
  const TAffineMatrix& m = PaintTransform();
  const double bw = image->Width(), bh = image->Height();
  const std::int64_t tw = std::max<std::int64_t>(1, RoundPixel(std::abs(m.A) * bw / kTileDpm));
  const std::int64_t th = std::max<std::int64_t>(1, RoundPixel(std::abs(m.D) * bh / kTileDpm));
  const std::int64_t rw = std::int64_t{r.Right} - r.Left, rh = std::int64_t{r.Bottom} - r.Top;
  const std::int64_t cols = (rw + tw - 1) / tw, rows = (rh + th - 1) / th;
  // Only tiles that meet the target's clip cost anything.
  const TRect clip = bitmap.ClipRect();
  const std::int64_t c0 = std::max<std::int64_t>(0, (std::int64_t{clip.Left} - r.Left) / tw);
  const std::int64_t r0 = std::max<std::int64_t>(0, (std::int64_t{clip.Top} - r.Top) / th);
  const std::int64_t c1 = std::min(cols, (std::int64_t{clip.Right} - r.Left + tw - 1) / tw);
  const std::int64_t r1 = std::min(rows, (std::int64_t{clip.Bottom} - r.Top + th - 1) / th);
  for (std::int64_t row = r0; row < r1; ++row) {
    for (std::int64_t col = c0; col < c1; ++col) {
      const std::int64_t left = r.Left + col * tw, top = r.Top + row * th;
      const std::int64_t right = std::min<std::int64_t>(left + tw, r.Right);
      const std::int64_t bottom = std::min<std::int64_t>(top + th, r.Bottom);
      if (right <= left || bottom <= top) continue;
      const TRect dst{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
                      static_cast<std::int32_t>(right), static_cast<std::int32_t>(bottom)};
      const TRect src{0, 0,
                      RoundPixel(static_cast<double>(right - left) / tw * bw),
                      RoundPixel(static_cast<double>(bottom - top) / th * bh)};
      if (src.Right > 0 && src.Bottom > 0) image->DrawToRect(bitmap, dst, src);
    }
  }
}

void TdtpPage::PaintHelpers(TBitmap32& bitmap, const TRect& r) {
  const float grid = GridSize();
  const TdtpHelperMethodType helper = HelperMethod();
  const TAffineMatrix& m = PaintTransform();
  const double pw = PageWidth(), ph = PageHeight();
  auto mapX = [&](double x) { return RoundPixel(m.A * x + m.E); };
  auto mapY = [&](double y) { return RoundPixel(m.D * y + m.F); };

  if (grid > 0 && HasArea() && (helper == hmGrid || helper == hmDots)) {
    const TColor32 color = Color32(GridColor());
    const double g = grid;
    const double nx = std::trunc(pw / g), ny = std::trunc(ph / g);
    if (helper == hmGrid) {
      ForEachGridPixel(g, m.A * g, nx - 1, mapX,
                       [&](std::int32_t x) { bitmap.VertLineS(x, r.Top + 1, r.Bottom - 2, color); });
      ForEachGridPixel(g, m.D * g, ny - 1, mapY,
                       [&](std::int32_t y) { bitmap.HorzLineS(r.Left + 1, y, r.Right - 2, color); });
    } else {
      // Rows are collected once; each crossing is one pixel.
      std::vector<std::int32_t> ys;
      const TRect clip = bitmap.ClipRect();
      ForEachGridPixel(g, m.D * g, ny, mapY, [&](std::int32_t y) {
        if (y >= clip.Top && y < clip.Bottom) ys.push_back(y);
      });
      ForEachGridPixel(g, m.A * g, nx, mapX, [&](std::int32_t x) {
        if (x < clip.Left || x >= clip.Right) return;
        for (std::int32_t y : ys) bitmap.SetPixelS(x, y, color);
      });
    }
  }

  if (ShowMargins()) {
    const TPoint m0 = LocalToBitmapPoint(MarginLeft(), MarginTop());
    const TPoint m1 = LocalToBitmapPoint(PageWidth() - MarginRight(), PageHeight() - MarginBottom());
    bitmap.SetStippleArray({kWhite32, kBlack32});
    bitmap.SetStippleStep(0.5f);
    bitmap.FrameRectTSP(m0.X, m0.Y, m1.X + 1, m1.Y + 1);
  }

  if (ViewStyle() == vsPrintLayout && !Parent()) {
    const TPoint ps = LocalToBitmapPoint(PageWidth() + 1, PageHeight() + 1);
    bitmap.FrameRectS(r.Left, r.Top, r.Right, r.Bottom, kBlack32);
    const std::int32_t offset = ps.X - r.Right;
    bitmap.FillRectS(r.Left + offset, r.Bottom, ps.X, ps.Y, kBlack32);
    bitmap.FillRectS(r.Right, r.Top + offset, ps.X, r.Bottom, kBlack32);
  }
}

void TdtpPage::PaintForeground(TBitmap32& bitmap, const TdtpPaintInfo& info, int layer) {
  TdtpDocumentServices* doc = Document();
  if (!doc || !doc->HasPaintForeground()) return;
  const TRect r = GetPixelRect();
  bitmap.Canvas().Paint(
      [&](QPainter& painter) { doc->DoPaintForeground(painter, info, r, layer); });
}

// ---- Thumbnail and drawing on a painter -------------------------------------------------

void TdtpPage::SetThumbnail(const QImage* image) {
  thumbnail_.reset();
  if (image) thumbnail_ = std::make_unique<QImage>(image->copy());
  thumbnailDirty_ = false;
}

const QImage* TdtpPage::GetThumbnail() {
  if (thumbnail_ && !thumbnailDirty_) return thumbnail_.get();
  thumbnail_.reset();
  TdtpDocumentServices* doc = Document();
  if (!doc) return nullptr;
  EnsureLoaded();
  const std::int32_t width = doc->ThumbnailWidth(), height = doc->ThumbnailHeight();
  if (width <= 0 || height <= 0) return nullptr;
  auto image = std::make_unique<QImage>(width, height, QImage::Format_RGB888);
  const TColor32 back = Color32(doc->Color());
  image->fill(QColor::fromRgb(back));
  {
    QPainter painter(image.get());
    PaintToCanvas(painter, {1, 1, width - 1, height - 1}, kThumbnailRenderDpm, true);
    // A page without area gets a blank thumbnail, not a frame at a
    // division by zero.
    if (HasArea()) {
      const double s = std::min(height / static_cast<double>(PageHeight()),
                                width / static_cast<double>(PageWidth()));
      const std::int32_t w = RoundPixel(s * PageWidth()), h = RoundPixel(s * PageHeight());
      const std::int32_t left = (width - w) / 2, top = (height - h) / 2;
      if (w > 0 && h > 0) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(Qt::black, 0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(left, top, w - 1, h - 1));
      }
    }
  }
  thumbnail_ = std::move(image);
  thumbnailDirty_ = false;
  return thumbnail_.get();
}

void TdtpPage::UpdateThumbnail() {
  GetThumbnail();
  if (Document()) Document()->DoPageChanged(this);
}

void TdtpPage::PaintToCanvas(QPainter& canvas, const TRect& rect, float maxRenderDpm, bool fit) {
  EnsureLoaded();
  TdtpDocumentServices* doc = Document();
  if (!doc) return;
  TPrintingScope printing(*doc);
  const double rw = std::int64_t{rect.Right} - rect.Left;
  const double rh = std::int64_t{rect.Bottom} - rect.Top;
  const double dpm = doc->ScreenDpm();
  if (!HasArea() || !PositiveFinite(dpm) || rw <= 0 || rh <= 0) return;

  // Full size at screen resolution, then the output's size.
  const double fullW = std::nearbyint(dpm * PageWidth());
  const double fullH = std::nearbyint(dpm * PageHeight());
  if (!(fullW >= 1 && fullH >= 1)) return;
  double w = fullW, h = fullH, x = rect.Left, y = rect.Top;
  if (fit) {
    const double g = std::min(rh / fullH, rw / fullW);
    w = std::nearbyint(g * fullW);
    h = std::nearbyint(g * fullH);
    x = rect.Left + std::floor((rw - w) / 2);
    y = rect.Top + std::floor((rh - h) / 2);
  }
  if (!(w >= 1 && h >= 1) || w * h > static_cast<double>(kRenderCacheMaxPixels)) return;

  // Rendered at the output's scale, never above the screen's: a shrunken
  // page costs only the pixels it shows.
  const bool shrink = w * h < fullW * fullH;
  const auto renderW = static_cast<std::int32_t>(shrink ? w : fullW);
  const auto renderH = static_cast<std::int32_t>(shrink ? h : fullH);
  TdtpPaintInfo info;
  info.Device = dtPrinter;
  info.BackColor = Color32(PageColor()) & 0x00FFFFFFu;
  info.Scale = static_cast<float>(renderW / static_cast<double>(PageWidth()));
  info.RenderScale = std::min(doc->RenderDpm(), maxRenderDpm);
  info.StretchFilter = doc->Quality();
  info.FreeCache = false;
  info.ExactScale = false;
  doc->SetDevice(dtPrinter);

  TBitmap32 render;
  // The paper colour goes over every pixel, so the storage starts uncleared.
  SetSizeUninitialized(render, renderW, renderH);
  render.Clear(Color32(PageColor()));
  Paint(render, {0, 0, PageWidth(), PageHeight()}, true, info);

  TBitmap32 scaled;
  TBitmap32* out = &render;
  if (!shrink && (renderW != static_cast<std::int32_t>(w) || renderH != static_cast<std::int32_t>(h))) {
    // Enlarged by our own resampling, so that the painter draws 1:1.
    scaled.SetSize(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
    StretchBitmap(&scaled, scaled.BoundsRect(), &render, render.BoundsRect(), dmOpaque,
                  doc->Quality(), nullptr);
    out = &scaled;
  }
  const QImage view(reinterpret_cast<const uchar*>(out->Bits()), out->Width(), out->Height(),
                    static_cast<qsizetype>(out->Width()) * 4, QImage::Format_RGB32);
  canvas.drawImage(QPoint(static_cast<int>(x), static_cast<int>(y)), view);
}

}  // namespace kdl

#include "document/effects/Masks.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>
#include <limits>
#include <numbers>
#include <vector>

#include "document/effects/CombineMaps.h"
#include "document/effects/EffectShape.h"
#include "document/effects/MaskEffect.h"
#include "document/resources/BitmapResource.h"
#include "foundation/XmlNode.h"
#include "raster/Transforms.h"
#include "raster/UninitializedSize.h"
#include "raster/Utilities.h"

namespace kdl {
namespace {

std::vector<TMaskClassHolder>& Holders() {
  static std::vector<TMaskClassHolder> holders;
  return holders;
}

std::unique_ptr<TdtpMask> CreateBaseMask() { return std::make_unique<TdtpMask>(); }

// The working bitmap of a mask render, as large as the shape's cache. A
// fresh one costs more than the render's own work (every page zeroed and
// faulted in), so each thread keeps one for the masks it renders in turn;
// every use writes all of its pixels before reading them.
TBitmap32& MaskScratch() {
  thread_local TBitmap32 scratch;
  return scratch;
}

// A value from a file as a Single: beyond its range it becomes infinite
// rather than an undefined conversion.
float ToSingle(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

// Round (halves to even) of a pixel position computed in double, held far
// enough inside the integer range that sizes made from two of them still
// fit; NaN goes to 0.
std::int32_t RoundPixel(double v) {
  constexpr double kLimit = 1 << 28;
  if (!(v == v)) return 0;
  return static_cast<std::int32_t>(std::nearbyint(std::clamp(v, -kLimit, kLimit)));
}

// A byte field from a file; a value past the byte's range must not wrap
// onto a valid one, so it becomes 255, which no table knows.
std::uint8_t ReadByte(const TXmlNode* node, const char* name, std::uint8_t def) {
  const std::int32_t v = node->ReadInteger(name, def);
  return v >= 0 && v <= 255 ? static_cast<std::uint8_t>(v) : std::uint8_t{255};
}

// The Boolean children of the font style element, in their order.
struct TStyleBit {
  const char* Name;
  TFontStyles Bit;
};
constexpr TStyleBit kStyleBits[] = {
    {"Bold", fsBold}, {"Italic", fsItalic}, {"Underline", fsUnderline}, {"Strikeout", fsStrikeOut}};

}  // namespace

// ---- TdtpMask -----------------------------------------------------------------------

void TdtpMask::Render(TByteMap& mask, const TByteMap& /*alpha*/, const TRect& /*frame*/) {
  FinishRender(mask);
}

void TdtpMask::FinishRender(TByteMap& mask) const {
  if (mask.Empty() || !flipAlphaChannel_) return;
  std::uint8_t* p = mask.Bits();
  const std::int64_t n = std::int64_t{mask.Width()} * mask.Height();
  for (std::int64_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(255 - p[i]);
}

void TdtpMask::Changed() {
  if (owner_) owner_->Changed();
}

void TdtpMask::LoadFromXml(TXmlNode* node) {
  if (!node) return;
  enabled_ = node->ReadBool("Enabled", false);
  flipAlphaChannel_ = node->ReadBool("FlipAlphaChannel", false);
  operation_ = ReadByte(node, "Operation", 0);
}

void TdtpMask::SaveToXml(TXmlNode* node) const {
  if (!node) return;
  node->FindOrAddChild("ClassName")->SetValueText(ClassName());
  node->WriteBool("Enabled", enabled_, false);
  node->WriteBool("FlipAlphaChannel", flipAlphaChannel_, false);
  node->WriteInteger("Operation", operation_, 0);
}

void TdtpMask::SetEnabled(bool value) {
  Store(enabled_, value);
}

void TdtpMask::SetFlipAlphaChannel(bool value) {
  Store(flipAlphaChannel_, value);
}

void TdtpMask::SetOperation(std::uint8_t value) {
  Store(operation_, value);
}

void TdtpMask::SetOwner(TdtpMaskEffect* owner) {
  owner_ = owner;
  DocumentChanged();
}

TdtpDocumentServices* TdtpMask::Document() const {
  return owner_ && owner_->Shape() ? owner_->Shape()->Document() : nullptr;
}

// ---- TdtpFeatherMask ----------------------------------------------------------------

void TdtpFeatherMask::Render(TByteMap& mask, const TByteMap& alpha, const TRect& frame) {
  // 1. The alpha as an integer map, blurred, back to alpha. The map's other
  // bytes are left from earlier use; AlphaToIntMap replaces them.
  TBitmap32& scratch = MaskScratch();
  // Sized without clearing first, so that WriteTo keeps the size and only
  // writes the alpha bytes.
  SetSizeUninitialized(scratch, alpha.Width(), alpha.Height());
  alpha.WriteTo(scratch, bcAlpha);
  AlphaToIntMap(&scratch, 1);
  BoxBlur(&scratch, Radius(frame));
  IntMapToAlpha(&scratch, 0);
  mask.ReadFrom(scratch, bcAlpha);

  // 2. Doubled contrast about 255: half-covered pixels become clear.
  std::uint8_t* p = mask.Bits();
  const std::int64_t n = std::int64_t{mask.Width()} * mask.Height();
  for (std::int64_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(std::max(0, 2 * p[i] - 255));

  // 3.
  FinishRender(mask);
}

float TdtpFeatherMask::Radius(const TRect& frame) const {
  const double side = std::max(static_cast<double>(frame.Right) - frame.Left,
                               static_cast<double>(frame.Bottom) - frame.Top);
  const double radius = static_cast<double>(feather_) * side;
  // The blur holds huge radii itself; NaN blurs nothing.
  return radius == radius ? ToSingle(radius) : 0.0f;
}

bool TdtpFeatherMask::RenderInto(TByteMap& alpha, const TRect& frame) {
  // Render's steps on each blurred row as it comes: the integer back to
  // alpha (values up to 255 have none), the doubled contrast, the flip,
  // then the fold into the alpha row, which the blur reads no more.
  std::uint8_t values[256];
  for (int a = 0; a < 256; ++a) {
    const int b = std::max(0, 2 * a - 255);
    values[a] = static_cast<std::uint8_t>(FlipAlphaChannel() ? 255 - b : b);
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(std::max(0, alpha.Width())));
  const std::uint8_t operation = Operation();
  const bool done = BoxBlurAlphaRows(alpha, Radius(frame), [&](std::int32_t y, const std::int32_t* blurred) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      const std::int32_t v = blurred[k];
      row[k] = values[v > 255 ? std::min(v, 65280) >> 8 : 0];
    }
    std::uint8_t* target = alpha.ValPtr(0, y);
    CombineByteRows(target, row.data(), target, static_cast<std::int64_t>(row.size()), operation);
  });
  if (done) alpha.Changed();
  return done;
}

void TdtpFeatherMask::AdjustMargins(float& left, float& top, float& right, float& bottom) const {
  const TdtpMaskEffect* effect = Owner();
  const TdtpEffectShape* shape = effect ? effect->Shape() : nullptr;
  if (!shape) return;
  const float x = std::max(shape->DocHeight(), shape->DocWidth()) * feather_ * 1.5f;
  // A margin that is not finite would leave the shape without a cache at
  // all; a merely huge one is the cache cap's to bound.
  if (!std::isfinite(x) || x <= 0) return;
  left += x;
  top += x;
  right += x;
  bottom += x;
}

void TdtpFeatherMask::LoadFromXml(TXmlNode* node) {
  TdtpMask::LoadFromXml(node);
  if (!node) return;
  feather_ = ToSingle(node->ReadFloat("Feather", 0));
}

void TdtpFeatherMask::SaveToXml(TXmlNode* node) const {
  TdtpMask::SaveToXml(node);
  if (node) node->WriteFloat("Feather", feather_, 0);
}

void TdtpFeatherMask::SetFeather(float value) {
  Store(feather_, value);
}

// ---- TdtpPositionMask ---------------------------------------------------------------

void TdtpPositionMask::LoadFromXml(TXmlNode* node) {
  TdtpMask::LoadFromXml(node);
  if (!node) return;
  height_ = ToSingle(node->ReadFloat("Height", 1));
  left_ = ToSingle(node->ReadFloat("Left", 0));
  top_ = ToSingle(node->ReadFloat("Top", 0));
  width_ = ToSingle(node->ReadFloat("Width", 1));
  rotation_ = ReadByte(node, "Rotation", 0);
}

void TdtpPositionMask::SaveToXml(TXmlNode* node) const {
  TdtpMask::SaveToXml(node);
  if (!node) return;
  node->WriteFloat("Height", height_, 1);
  node->WriteFloat("Left", left_, 0);
  node->WriteFloat("Top", top_, 0);
  node->WriteFloat("Width", width_, 1);
  node->WriteInteger("Rotation", rotation_, 0);
}

void TdtpPositionMask::SetHeight(float value) {
  Store(height_, value);
}

void TdtpPositionMask::SetLeft(float value) {
  Store(left_, value);
}

void TdtpPositionMask::SetTop(float value) {
  Store(top_, value);
}

void TdtpPositionMask::SetWidth(float value) {
  Store(width_, value);
}

void TdtpPositionMask::SetRotation(std::uint8_t value) {
  Store(rotation_, value);
}

// ---- TdtpBitmapMask -----------------------------------------------------------------

TdtpBitmapMask::TdtpBitmapMask() : image_(TdtpResource::Create<TdtpBitmapResource>(nullptr)) {
  image_->OnChange = [this](TdtpResource&) { Changed(); };
}

TdtpBitmapMask::~TdtpBitmapMask() { image_->OnChange = nullptr; }

void TdtpBitmapMask::DocumentChanged() {
  TResourcesLock lock;
  image_->SetDocument(Document());
}

void TdtpBitmapMask::Render(TByteMap& mask, const TByteMap& /*alpha*/, const TRect& frame) {
  try {
    // 1. One access bracket around getting and reading the image: the cache
    // thread may release the decoded image as soon as the bracket closes.
    // An image that does not decode renders as none; the resource keeps
    // the error for the user.
    TResourceAccess access(*image_);
    TBitmap32* image = nullptr;
    try {
      image = image_->GetBitmap();
    } catch (const std::exception&) {
      image = nullptr;
    }
    if (image && !image->Empty()) {
      // 2. Turned on a copy; an unturned image is read where it is.
      TBitmap32 turned;
      TBitmap32* source = image;
      if (Rotation() >= 1 && Rotation() <= 3) {
        turned.Assign(image);
        if (Rotation() == 1)
          RotateLeft90(&turned);
        else if (Rotation() == 2)
          Rotate180(&turned);
        else
          RotateRight90(&turned);
        source = &turned;
      }
      // 3.
      TBitmap32& scratch = MaskScratch();
      scratch.SetSize(mask.Width(), mask.Height());
      scratch.Clear(outsideIsTransparent_ ? 0xFFFFFFFFu : 0xFF000000u);
      // 4. Width and Height are the right and bottom edges here.
      const double w = static_cast<double>(frame.Right) - frame.Left;
      const double h = static_cast<double>(frame.Bottom) - frame.Top;
      const double edges[4] = {frame.Left + w * Left(), frame.Top + h * Top(), frame.Left + w * Width(),
                               frame.Top + h * Height()};
      const bool numbers = std::all_of(std::begin(edges), std::end(edges), [](double v) { return v == v; });
      const TRect target{RoundPixel(edges[0]), RoundPixel(edges[1]), RoundPixel(edges[2]), RoundPixel(edges[3])};
      // A rectangle that is empty, inverted or not made of numbers
      // stretches nothing.
      if (numbers && !scratch.Empty() && target.Right > target.Left && target.Bottom > target.Top)
        StretchTransfer(&scratch, target, scratch.BoundsRect(), source, source->BoundsRect(), sfLinear,
                        dmOpaque, nullptr);
      // 5. Brightness; alpha plays no part.
      mask.ReadFrom(scratch, bcMeanRGB);
    }
  } catch (...) {
    // 6. Also when a step above fails.
    FinishRender(mask);
    throw;
  }
  FinishRender(mask);
}

void TdtpBitmapMask::GetResourceNames(std::vector<std::string>& names) const {
  image_->GetArchiveNames(names);
}

void TdtpBitmapMask::LoadFromXml(TXmlNode* node) {
  TdtpPositionMask::LoadFromXml(node);
  if (!node) return;
  outsideIsTransparent_ = node->ReadBool("OutsideIsTransparent", false);
  // The document first: an archived image is read from its archive.
  DocumentChanged();
  if (TXmlNode* image = node->FindChild("Image")) {
    image_->LoadFromXml(*image);
  } else {
    TResourceAccess access(*image_);
    image_->Clear();
  }
}

void TdtpBitmapMask::SaveToXml(TXmlNode* node) const {
  TdtpPositionMask::SaveToXml(node);
  if (!node) return;
  node->WriteBool("OutsideIsTransparent", outsideIsTransparent_, false);
  image_->SaveToXml(*node->AddNewChild("Image"));
}

void TdtpBitmapMask::SetOutsideIsTransparent(bool value) {
  Store(outsideIsTransparent_, value);
}

// ---- TdtpPolygonMask ----------------------------------------------------------------

TdtpPolygonMask::TdtpPolygonMask() = default;

void TdtpPolygonMask::ClearPoints() { points_.clear(); }

void TdtpPolygonMask::StartLine() { points_.emplace_back(); }

void TdtpPolygonMask::AddPoint(float x, float y) {
  if (points_.empty()) StartLine();
  points_.back().push_back(TFloatPoint{x, y});
}

void TdtpPolygonMask::BuildShape() {
  if (style_ == 0) return;
  ClearPoints();
  if (style_ != 3) return;
  StartLine();
  TArrayOfFloatPoint& line = points_.back();
  switch (shape_) {
    case 0: {
      // Ellipse: a quarter circle of radius 0.5, four times about the centre.
      TArrayOfFloatPoint q = QuarterArcPoints(100);
      for (TFloatPoint& p : q) p = {p.X * 0.5f, p.Y * 0.5f};
      const std::size_t n = q.size() - 1;
      for (std::size_t i = 0; i < n; ++i) line.push_back({0.5f + q[i].X, 0.5f + q[i].Y});
      for (std::size_t i = n; i >= 1; --i) line.push_back({0.5f - q[i].X, 0.5f + q[i].Y});
      for (std::size_t i = 0; i < n; ++i) line.push_back({0.5f - q[i].X, 0.5f - q[i].Y});
      for (std::size_t i = n; i >= 1; --i) line.push_back({0.5f + q[i].X, 0.5f - q[i].Y});
      break;
    }
    case 1: {
      // Rounded square: corners of radius 0.2.
      TArrayOfFloatPoint q = QuarterArcPoints(100);
      for (TFloatPoint& p : q) p = {(1 - p.X) * 0.2f, (1 - p.Y) * 0.2f};
      const std::size_t n = q.size() - 1;
      for (std::size_t i = 0; i <= n; ++i) line.push_back({q[i].X, q[i].Y});
      for (std::size_t i = n + 1; i-- > 0;) line.push_back({1 - q[i].X, q[i].Y});
      for (std::size_t i = 0; i <= n; ++i) line.push_back({1 - q[i].X, 1 - q[i].Y});
      for (std::size_t i = n + 1; i-- > 0;) line.push_back({q[i].X, 1 - q[i].Y});
      break;
    }
    case 2: {
      // Five-point star, inner radius 0.39 of the outer.
      for (int i = 0; i < 5; ++i) {
        const double t = i * 2 * std::numbers::pi / 5 - std::numbers::pi / 2;
        line.push_back({static_cast<float>(std::cos(t)), static_cast<float>(std::sin(t))});
        const double u = t + std::numbers::pi / 5;
        line.push_back({static_cast<float>(0.39 * std::cos(u)), static_cast<float>(0.39 * std::sin(u))});
      }
      NormalizeToUnitSquare(points_);
      break;
    }
    default:
      break;
  }
}

void TdtpPolygonMask::Render(TByteMap& mask, const TByteMap& /*alpha*/, const TRect& frame) {
  // 1.
  if (rebuild_) {
    BuildShape();
    rebuild_ = false;
  }
  // 2. Unlike the bitmap mask, Width and Height are sizes here.
  const double w = static_cast<double>(frame.Right) - frame.Left;
  const double h = static_cast<double>(frame.Bottom) - frame.Top;
  TAffineMatrix m;
  m.A = w * Width();
  m.D = h * Height();
  m.E = frame.Left + w * Left();
  m.F = frame.Top + h * Top();

  // 3. The coverage goes straight into the map: the fill needs only the
  // map's bounds, no bitmap of its size.
  if (!mask.Empty() && !points_.empty()) {
    const TPolygon32Pair polygon = BuildPolygon32(points_, m, 0, true, false);
    const std::int32_t width = mask.Width();
    FillPolyPolygonAAClipped(
        TRect{0, 0, width, mask.Height()}, polygon.Fill->Contours(), polygon.Fill->FillRule(),
        polygon.Fill->SubsampleMode(),
        [&](TColor32*, std::int32_t x, std::int32_t y, std::int32_t length, const std::int32_t* values) {
          if (y < 0 || y >= mask.Height() || x < 0) return;
          const std::int32_t count = std::min(length, width - x);
          std::uint8_t* row = mask.ValPtr(x, y);
          for (std::int32_t i = 0; i < count; ++i) row[i] = static_cast<std::uint8_t>(values[i]);
        });
  }
  // 4.
  FinishRender(mask);
}

void TdtpPolygonMask::LoadFromXml(TXmlNode* node) {
  TdtpPositionMask::LoadFromXml(node);
  if (!node) return;
  glyphFontName_ = node->ReadString("GlyphFontName", "");
  shape_ = ReadByte(node, "Shape", 0);
  style_ = ReadByte(node, "Style", 0);
  TXmlNode* style = node->FindChild("GlyphFontStyle");
  glyphFontStyle_ = style ? ReadFontStyleXml(style) : 0;
  glyphText_ = node->ReadWideString("GlyphText", u"");
  rebuild_ = true;
}

void TdtpPolygonMask::SaveToXml(TXmlNode* node) const {
  TdtpPositionMask::SaveToXml(node);
  if (!node) return;
  node->WriteString("GlyphFontName", glyphFontName_, "");
  node->WriteInteger("Shape", shape_, 0);
  node->WriteInteger("Style", style_, 0);
  if (glyphFontStyle_ != 0) WriteFontStyleXml(node->AddNewChild("GlyphFontStyle"), glyphFontStyle_);
  node->WriteWideString("GlyphText", glyphText_, u"");
}

void TdtpPolygonMask::SetShape(std::uint8_t value) {
  if (value != shape_) rebuild_ = true;
  Store(shape_, value);
}

void TdtpPolygonMask::SetStyle(std::uint8_t value) {
  if (value != style_) rebuild_ = true;
  Store(style_, value);
}

void TdtpPolygonMask::SetGlyphFontName(const std::string& value) {
  Store(glyphFontName_, value);
}

void TdtpPolygonMask::SetGlyphFontStyle(TFontStyles value) {
  Store(glyphFontStyle_, value);
}

void TdtpPolygonMask::SetGlyphText(const std::u16string& value) {
  Store(glyphText_, value);
}

// ---- Helpers ----------------------------------------------------------------------------

void NormalizeToUnitSquare(TArrayOfArrayOfFloatPoint& lines) {
  double minX = std::numeric_limits<double>::infinity(), minY = minX;
  double maxX = -minX, maxY = -minX;
  for (const TArrayOfFloatPoint& line : lines)
    for (const TFloatPoint& p : line) {
      minX = std::min<double>(minX, p.X);
      maxX = std::max<double>(maxX, p.X);
      minY = std::min<double>(minY, p.Y);
      maxY = std::max<double>(maxY, p.Y);
    }
  const double dx = maxX - minX, dy = maxY - minY;
  // An axis without extent (or none at all) cannot be stretched.
  const bool useX = dx > 0 && std::isfinite(dx), useY = dy > 0 && std::isfinite(dy);
  for (TArrayOfFloatPoint& line : lines)
    for (TFloatPoint& p : line) {
      p.X = useX ? static_cast<float>((p.X - minX) / dx) : 0.0f;
      p.Y = useY ? static_cast<float>((p.Y - minY) / dy) : 0.0f;
    }
}

TFontStyles ReadFontStyleXml(const TXmlNode* node) {
  TFontStyles style = 0;
  if (!node) return style;
  for (const TStyleBit& b : kStyleBits)
    if (node->ReadBool(b.Name, false)) style |= b.Bit;
  return style;
}

void WriteFontStyleXml(TXmlNode* node, TFontStyles style) {
  if (!node) return;
  for (const TStyleBit& b : kStyleBits) node->WriteBool(b.Name, (style & b.Bit) != 0, false);
}

// ---- Registry -------------------------------------------------------------------------

void RegisterMaskClass(const std::string& name, TdtpMaskFactory factory) {
  if (!factory) return;
  for (const TMaskClassHolder& h : Holders())
    if (h.Name == name) return;
  Holders().push_back({name, factory});
}

TdtpMaskFactory MaskClassByName(const std::string& name) {
  for (const TMaskClassHolder& h : Holders())
    if (h.Name == name) return h.Create;
  return &CreateBaseMask;
}

std::unique_ptr<TdtpMask> CreateMask(const std::string& name) { return MaskClassByName(name)(); }

}  // namespace kdl

#include "raster/Bitmap32.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <istream>
#include <ostream>
#include <typeinfo>
#include <vector>

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include "raster/BmpFile.h"
#include "raster/LowLevel.h"
#include "raster/StreamIO.h"
#include "raster/Transforms.h"
#include "raster/UninitializedSize.h"

namespace kdl {

std::uint8_t GAMMA_TABLE[256];

void SetGamma(float gamma) {
  for (int i = 0; i < 256; ++i)
    GAMMA_TABLE[i] = static_cast<std::uint8_t>(
        std::nearbyint(std::pow(static_cast<double>(i) / 255.0, static_cast<double>(gamma)) * 255.0));
}

namespace {

constexpr const char* kReadError = "Stream read error";

// Sub-pixel plotting starts with gamma 0.7.
const bool kGammaReady = (SetGamma(0.7f), true);

void PutInt32(std::ostream& s, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  const char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                     static_cast<char>(u >> 24)};
  s.write(b, 4);
}

std::int32_t GetInt32(const std::uint8_t* b) {
  return static_cast<std::int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) |
                                   (static_cast<std::uint32_t>(b[3]) << 24));
}

// Bilinear read with both weights limited to 255.
TColor32 Interpolator(std::uint32_t wx, std::uint32_t wy, const TColor32* p1, const TColor32* p2) {
  if (wx > 255) wx = 255;
  if (wy > 255) wy = 255;
  return CombineReg(CombineReg(p1[0], p1[1], wx), CombineReg(p2[0], p2[1], wx), wy);
}

}  // namespace

TBitmap32::TBitmap32() : font_(std::make_unique<TFont>()) {
  (void)kGammaReady;
  font_->OnChange = [this](TFont&) { FontChanged(); };
  SetCombineMode(cmBlend);
}

TBitmap32::~TBitmap32() {
  BeginUpdate();
  Lock();
  OnChange = nullptr;
  OnResize = nullptr;
  OnHandleChanged = nullptr;
  canvas_.reset();
  dc_.reset();
  bits_.reset();
  Unlock();
}

namespace {
// How the next new storage is had, set only for the duration of
// SetSizeUninitialized or SetSizeZeroed on this thread.
enum class TNewStorage { Cleared, Uninitialized, Zeroed };
thread_local TNewStorage tNewStorage = TNewStorage::Cleared;

bool SetSizeWith(TBitmap32& bitmap, std::int32_t width, std::int32_t height, TNewStorage how) {
  tNewStorage = how;
  try {
    const bool changed = bitmap.SetSize(width, height);
    tNewStorage = TNewStorage::Cleared;
    return changed;
  } catch (...) {
    tNewStorage = TNewStorage::Cleared;
    throw;
  }
}
}  // namespace

bool SetSizeUninitialized(TBitmap32& bitmap, std::int32_t width, std::int32_t height) {
  return SetSizeWith(bitmap, width, height, TNewStorage::Uninitialized);
}

bool SetSizeZeroed(TBitmap32& bitmap, std::int32_t width, std::int32_t height) {
  // The old storage goes first: its pixels are not zero, and it need not
  // live beside the new.
  if (bitmap.Width() == std::max(width, 0) && bitmap.Height() == std::max(height, 0)) bitmap.SetSize(0, 0);
  return SetSizeWith(bitmap, width, height, TNewStorage::Zeroed);
}

void ReleaseZeroed(TBitmap32& bitmap, const TRect& written) {
  const std::int32_t l = std::clamp(written.Left, 0, bitmap.Width());
  const std::int32_t r = std::clamp(written.Right, l, bitmap.Width());
  const std::int32_t t = std::clamp(written.Top, 0, bitmap.Height());
  const std::int32_t b = std::clamp(written.Bottom, t, bitmap.Height());
  // Clearing pays where little was written; a bitmap written all over goes
  // back to the system instead.
  const std::int64_t area = std::int64_t{r - l} * (b - t);
  if (bitmap.bits_ && bitmap.bits_.get_deleter().Zeroed && 4 * area <= std::int64_t{bitmap.Width()} * bitmap.Height()) {
    if (r > l)
      for (std::int32_t y = t; y < b; ++y)
        std::memset(bitmap.ScanLine(y) + l, 0, static_cast<std::size_t>(r - l) * sizeof(TColor32));
    bitmap.bits_.get_deleter().ZeroAgain = true;
  }
  bitmap.SetSize(0, 0);
}

void ClearRowsFrom(TBitmap32& bitmap, std::int32_t firstRow) {
  if (bitmap.Empty()) return;
  firstRow = std::max<std::int32_t>(0, firstRow);
  if (firstRow >= bitmap.Height()) return;
  std::memset(bitmap.ScanLine(firstRow), 0,
              static_cast<std::size_t>(bitmap.Height() - firstRow) *
                  static_cast<std::size_t>(bitmap.Width()) * sizeof(TColor32));
}

bool TBitmap32::Empty() const { return TCustomMap::Empty() || !bits_; }

void TBitmap32::ChangeSize(std::int32_t& width, std::int32_t& height, std::int32_t newWidth,
                           std::int32_t newHeight) {
  // Only the resize made by SetSizeUninitialized or SetSizeZeroed itself
  // has its storage so, not one that its events cause.
  const TNewStorage how = tNewStorage;
  tNewStorage = TNewStorage::Cleared;
  FontChanged();
  canvas_.reset();
  dc_.reset();
  bits_.reset();
  width = 0;
  height = 0;
  try {
    if (newWidth > 0 && newHeight > 0) {
      const std::int64_t pixels = static_cast<std::int64_t>(newWidth) * newHeight;
      if (pixels > kMaxBitmapPixels) throw Exception("Can't allocate the DIB handle");
      const auto count = static_cast<std::size_t>(pixels);
      if (how == TNewStorage::Zeroed)
        bits_ = std::unique_ptr<TColor32, TPixelDeleter>(AllocateZeroedPixels(count), TPixelDeleter{count, true});
      else
        bits_ = std::unique_ptr<TColor32, TPixelDeleter>(AllocatePixels(count), TPixelDeleter{count});
      if (!bits_) throw Exception("Can't allocate the DIB handle");
      if (how == TNewStorage::Cleared) std::memset(bits_.get(), 0, count * sizeof(TColor32));
      // The device views our memory; it never owns or copies it.
      dc_ = std::make_unique<QImage>(reinterpret_cast<uchar*>(bits_.get()), newWidth, newHeight,
                                     static_cast<qsizetype>(newWidth) * 4, QImage::Format_ARGB32);
      if (dc_->isNull() || dc_->constBits() != reinterpret_cast<const uchar*>(bits_.get())) {
        dc_.reset();
        bits_.reset();
        throw Exception("Can't create compatible DC");
      }
    }
  } catch (...) {
    ResetClipRect();
    HandleChanged();
    throw;
  }
  width = newWidth;
  height = newHeight;
  ResetClipRect();
  HandleChanged();
}

void TBitmap32::HandleChanged() {
  if (canvas_) canvas_->SetDevice(dc_.get());
  if (OnHandleChanged) OnHandleChanged(this);
}

void TBitmap32::ResetClipRect() {
  clipRect_ = BoundsRect();
  UpdateClipRects();
}

void TBitmap32::UpdateClipRects() {
  // Shifts of the clip edges as unsigned so that no sign bit is shifted.
  auto shl = [](std::int32_t v, int n) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << n);
  };
  fixedClipRect_ = {shl(clipRect_.Left, 16), shl(clipRect_.Top, 16), shl(clipRect_.Right, 16),
                    shl(clipRect_.Bottom, 16)};
  clipRect24_8_ = {shl(clipRect_.Left, 8), shl(clipRect_.Top, 8), shl(clipRect_.Right, 8),
                   shl(clipRect_.Bottom, 8)};
  const TRect b = BoundsRect();
  clipping_ = !EqualRect(clipRect_, b);
}

TCanvas& TBitmap32::Canvas() {
  if (!canvas_) {
    canvas_ = std::make_unique<TCanvas>(dc_.get());
    canvas_->Font().Assign(*font_);
    canvas_->OnChange = [this] { Changed(); };
  }
  return *canvas_;
}

void TBitmap32::DeleteCanvas() { canvas_.reset(); }

void TBitmap32::FontChanged() {
  // Qt fonts are built from the description on each use; nothing is
  // selected into the device that would need releasing.
}

void TBitmap32::SetDrawMode(TDrawMode value) {
  if (drawMode_ == value) return;
  drawMode_ = value;
  Changed();
}

void TBitmap32::SetCombineMode(TCombineMode value) {
  combineMode_ = value;
  Changed();
}

void TBitmap32::SetMasterAlpha(std::uint32_t value) {
  if (masterAlpha_ == value) return;
  masterAlpha_ = value;
  Changed();
}

void TBitmap32::SetStretchFilter(TStretchFilter value) {
  if (stretchFilter_ == value) return;
  stretchFilter_ = value;
  Changed();
}

void TBitmap32::Clear(TColor32 color) {
  if (Empty()) return;
  FillLongword(bits_.get(), static_cast<std::int64_t>(Width()) * Height(), color);
  Changed();
}

void TBitmap32::ResetAlpha(std::uint8_t alpha) {
  if (!Empty()) {
    const std::int64_t n = static_cast<std::int64_t>(Width()) * Height();
    const TColor32 a = static_cast<TColor32>(alpha) << 24;
    TColor32* p = bits_.get();
    for (std::int64_t i = 0; i < n; ++i) p[i] = (p[i] & 0x00FFFFFFu) | a;
  }
  Changed();
}

void TBitmap32::DrawTo(TBitmap32& dst, const TRect& dstRect) {
  DrawToRect(dst, dstRect, BoundsRect());
}

void TBitmap32::DrawToRect(TBitmap32& dst, const TRect& dstRect, const TRect& srcRect) {
  if (Empty() || dst.Empty()) return;
  StretchTransfer(&dst, dstRect, dst.ClipRect(), this, srcRect, stretchFilter_, drawMode_,
                  OnPixelCombine);
  dst.Changed();
}

void TBitmap32::DrawToDC(QPainter& dc, std::int32_t x, std::int32_t y) const {
  if (Empty()) return;
  dc.save();
  dc.setCompositionMode(QPainter::CompositionMode_Source);
  dc.drawImage(QPoint(x, y), *dc_);
  dc.restore();
}

void TBitmap32::Assign(const TBitmap32* source) {
  BeginUpdate();
  try {
    if (source == nullptr) {
      SetSize(0, 0);
    } else {
      SetSize(source->Width(), source->Height());
      if (!Empty() && !source->Empty()) {
        MoveLongword(source->Bits(), bits_.get(), static_cast<std::int64_t>(Width()) * Height());
        drawMode_ = source->drawMode_;
        masterAlpha_ = source->masterAlpha_;
        outerColor_ = source->outerColor_;
        stretchFilter_ = source->stretchFilter_;
      }
    }
  } catch (...) {
    EndUpdate();
    Changed();
    throw;
  }
  EndUpdate();
  Changed();
}

bool TBitmap32::Equal(const TBitmap32& other) const {
  if (Empty() || other.Empty()) return Empty() && other.Empty();
  if (typeid(*this) != typeid(other)) return false;
  // Our BMP serialisation is the size plus the raw pixels, so comparing
  // those is comparing the serialisations.
  return Width() == other.Width() && Height() == other.Height() &&
         std::memcmp(bits_.get(), other.Bits(),
                     static_cast<std::size_t>(static_cast<std::int64_t>(Width()) * Height() * 4)) == 0;
}

void TBitmap32::LoadFromStream(std::istream& stream) {
  try {
    TBmpImage image = ReadBmp(stream);
    BeginUpdate();
    try {
      // The reader hands over every pixel (what the file skips is already
      // transparent), so the storage is not cleared before the copy.
      const bool whole = image.Width > 0 && image.Height > 0 &&
                         image.Pixels.size() == static_cast<std::size_t>(std::int64_t{image.Width} * image.Height);
      if (whole)
        SetSizeUninitialized(*this, image.Width, image.Height);
      else
        SetSize(image.Width, image.Height);
      if (!Empty())
        std::memcpy(bits_.get(), image.Pixels.data(), image.Pixels.size() * sizeof(TColor32));
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
  } catch (...) {
    Changed();
    throw;
  }
  Changed();
}

void TBitmap32::SaveToStream(std::ostream& stream) const {
  if (Empty()) return;
  WriteBmp32(stream, Width(), Height(), bits_.get());
}

void TBitmap32::ReadData(std::istream& stream) {
  try {
    std::uint8_t head[8];
    if (!ReadExact(stream, head, 8)) throw EBitmapReadError(kReadError);
    const std::int32_t w = GetInt32(head);
    const std::int32_t h = GetInt32(head + 4);
    // Check the promised size against the bytes really there before
    // allocating for it.
    const std::int64_t pixels = (w > 0 && h > 0) ? static_cast<std::int64_t>(w) * h : 0;
    if (pixels > kMaxBitmapPixels) throw EBitmapReadError(kReadError);
    const std::int64_t remaining = StreamRemaining(stream);
    if (remaining >= 0) {
      if (remaining < pixels * 4) throw EBitmapReadError(kReadError);
      SetSize(w, h);
      if (!Empty() && !ReadExact(stream, bits_.get(), pixels * 4)) throw EBitmapReadError(kReadError);
    } else {
      // A stream that cannot tell its length: collect the bytes as they
      // come, so that a lying header costs nothing.
      std::vector<std::uint8_t> bytes;
      if (!ReadGrowing(stream, pixels * 4, bytes)) throw EBitmapReadError(kReadError);
      SetSize(w, h);
      if (!Empty()) std::memcpy(bits_.get(), bytes.data(), bytes.size());
    }
  } catch (...) {
    Changed();
    throw;
  }
  Changed();
}

void TBitmap32::WriteData(std::ostream& stream) const {
  PutInt32(stream, Width());
  PutInt32(stream, Height());
  if (!Empty())
    stream.write(reinterpret_cast<const char*>(bits_.get()),
                 static_cast<std::streamsize>(static_cast<std::int64_t>(Width()) * Height() * 4));
}

bool TBitmap32::DataIsStored(const TBitmap32* ancestor) const {
  if (ancestor != nullptr) return !Equal(*ancestor);
  return !Empty();
}

// ---- Pixels -----------------------------------------------------------------

TColor32 TBitmap32::GetPixelS(std::int32_t x, std::int32_t y) const {
  if (x >= clipRect_.Left && x < clipRect_.Right && y >= clipRect_.Top && y < clipRect_.Bottom)
    return GetPixel(x, y);
  return outerColor_;
}

void TBitmap32::SetPixelS(std::int32_t x, std::int32_t y, TColor32 value) {
  if (x >= clipRect_.Left && x < clipRect_.Right && y >= clipRect_.Top && y < clipRect_.Bottom)
    SetPixel(x, y, value);
}

void TBitmap32::SetPixelT(std::int32_t x, std::int32_t y, TColor32 value) {
  BLEND_MEM[combineMode_](value, *PixelPtr(x, y));
  EMMS();
}

void TBitmap32::SetPixelTS(std::int32_t x, std::int32_t y, TColor32 value) {
  if (x >= clipRect_.Left && x < clipRect_.Right && y >= clipRect_.Top && y < clipRect_.Bottom)
    SetPixelT(x, y, value);
}

namespace {

// Spreads a plot at (x, y) in 24.8 over its four pixels, each weighed by
// the gamma-corrected overlap and the colour's alpha; only the pixels that
// keep says are touched.
template <typename Keep>
void Plot256(TBitmap32& b, TCombineMem combine, std::int32_t x, std::int32_t y, TColor32 value, Keep keep) {
  const std::int32_t ix = x >> 8, iy = y >> 8;
  const std::uint32_t fx = static_cast<std::uint32_t>(x) & 0xFF;
  const std::uint32_t fy = static_cast<std::uint32_t>(y) & 0xFF;
  const std::uint32_t wx1 = GAMMA_TABLE[fx], wx0 = GAMMA_TABLE[255 - fx];
  const std::uint32_t wy1 = GAMMA_TABLE[fy], wy0 = GAMMA_TABLE[255 - fy];
  const std::uint32_t a = value >> 24;
  if (keep(ix, iy)) combine(value, *b.PixelPtr(ix, iy), (wx0 * a) * wy0 >> 16);
  if (keep(ix + 1, iy)) combine(value, *b.PixelPtr(ix + 1, iy), wy0 * (wx1 * a) >> 16);
  if (keep(ix + 1, iy + 1)) combine(value, *b.PixelPtr(ix + 1, iy + 1), (wx1 * a) * wy1 >> 16);
  if (keep(ix, iy + 1)) combine(value, *b.PixelPtr(ix, iy + 1), (wx0 * a) * wy1 >> 16);
  EMMS();
}

}  // namespace

void TBitmap32::SetPixelT256(std::int32_t x, std::int32_t y, TColor32 value) {
  Plot256(*this, COMBINE_MEM[combineMode_], x, y, value, [](std::int32_t, std::int32_t) { return true; });
}

void TBitmap32::SetPixelTS256(std::int32_t x, std::int32_t y, TColor32 value) {
  const TRect& c = clipRect_;
  const std::int64_t x64 = x, y64 = y;
  if (x64 < (static_cast<std::int64_t>(c.Left) - 1) * 256 || x64 >= static_cast<std::int64_t>(c.Right) * 256 ||
      y64 < (static_cast<std::int64_t>(c.Top) - 1) * 256 || y64 >= static_cast<std::int64_t>(c.Bottom) * 256)
    return;
  const std::int32_t ix = x >> 8, iy = y >> 8;
  if (ix >= c.Left && iy >= c.Top && ix < c.Right - 1 && iy < c.Bottom - 1) {
    SetPixelT256(x, y, value);
    return;
  }
  // On the clip border: only the corners that lie inside.
  Plot256(*this, COMBINE_MEM[combineMode_], x, y, value, [&c](std::int32_t px, std::int32_t py) {
    return px >= c.Left && px < c.Right && py >= c.Top && py < c.Bottom;
  });
}

void TBitmap32::SetPixelFS(TFixed x, TFixed y, TColor32 value) {
  SetPixelTS256(static_cast<std::int32_t>((static_cast<std::int64_t>(x) + 127) >> 8),
                static_cast<std::int32_t>((static_cast<std::int64_t>(y) + 127) >> 8), value);
  EMMS();
}

TColor32 TBitmap32::GetPixelT256(std::int32_t x, std::int32_t y) const {
  const std::uint32_t fx = static_cast<std::uint32_t>(x) & 0xFF;
  const std::uint32_t fy = static_cast<std::uint32_t>(y) & 0xFF;
  const TColor32* p = PixelPtr(x >> 8, y >> 8);
  const TColor32 result =
      Interpolator(GAMMA_TABLE[255 - fx], GAMMA_TABLE[255 - fy], p, p + Width());
  EMMS();
  return result;
}

TColor32 TBitmap32::GetPixelTS256(std::int32_t x, std::int32_t y) const {
  if (x > 0 && y > 0 && static_cast<std::int64_t>(x) < (static_cast<std::int64_t>(Width()) - 1) * 256 &&
      static_cast<std::int64_t>(y) < (static_cast<std::int64_t>(Height()) - 1) * 256)
    return GetPixelT256(x, y);
  return outerColor_;
}

// ---- Text -------------------------------------------------------------------

void TBitmap32::Textout(const TRect& dstRect, unsigned flags, const std::string& text) {
  if (dc_)
    DrawText(*dc_, QRect(QPoint(dstRect.Left, dstRect.Top), QPoint(dstRect.Right - 1, dstRect.Bottom - 1)),
             flags, Windows1252ToQString(text), *font_);
  Changed();
}

void TBitmap32::TextoutW(const TRect& dstRect, unsigned flags, const std::u16string& text) {
  if (dc_)
    DrawText(*dc_, QRect(QPoint(dstRect.Left, dstRect.Top), QPoint(dstRect.Right - 1, dstRect.Bottom - 1)),
             flags, QString::fromStdU16String(text), *font_);
  Changed();
}

TSize TBitmap32::TextExtentW(const std::u16string& text) const {
  // Qt measures without a device, with the same font the drawing uses.
  return TextExtent(*font_, QString::fromStdU16String(text));
}

}  // namespace kdl

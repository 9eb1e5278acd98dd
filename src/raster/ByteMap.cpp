#include "raster/ByteMap.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <typeinfo>

namespace kdl {

namespace {

// Runs body between BeginUpdate and (EndUpdate, Changed) of target, the
// closing pair also when body throws.
template <typename Body>
void InUpdate(TThreadPersistent& target, Body body) {
  target.BeginUpdate();
  try {
    body();
  } catch (...) {
    target.EndUpdate();
    target.Changed();
    throw;
  }
  target.EndUpdate();
  target.Changed();
}

std::uint8_t ChannelOf(TColor32 c, TByteMapChannel kind) {
  const std::uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  switch (kind) {
    case bcRed: return static_cast<std::uint8_t>(r);
    case bcGreen: return static_cast<std::uint8_t>(g);
    case bcBlue: return static_cast<std::uint8_t>(b);
    case bcAlpha: return static_cast<std::uint8_t>(c >> 24);
    case bcMeanRGB: return static_cast<std::uint8_t>((r + g + b) / 3);
    case bcIntensity: return static_cast<std::uint8_t>((r * 61 + g * 174 + b * 21) >> 8);
  }
  return 0;
}

}  // namespace

void TByteMap::ChangeSize(std::int32_t& width, std::int32_t& height, std::int32_t newWidth,
                          std::int32_t newHeight) {
  const std::int64_t n = static_cast<std::int64_t>(newWidth) * newHeight;
  // The same ceiling as the bitmap's, in bytes, so that a size read from
  // outside cannot ask for more than memory holds.
  if (n > kMaxBitmapPixels * 4) throw Exception("Out of memory");
  bits_.resize(static_cast<std::size_t>(n));
  width = newWidth;
  height = newHeight;
}

void TByteMap::Clear(std::uint8_t fillValue) {
  std::fill(bits_.begin(), bits_.end(), fillValue);
  Changed();
}

void TByteMap::Assign(const TThreadPersistent* source) {
  InUpdate(*this, [&] {
    if (const auto* map = dynamic_cast<const TByteMap*>(source)) {
      if (map == this) return;
      SetSize(map->Width(), map->Height());
      if (!bits_.empty()) std::memcpy(bits_.data(), map->Bits(), bits_.size());
    } else if (const auto* bitmap = dynamic_cast<const TBitmap32*>(source)) {
      ReadFrom(*bitmap, bcIntensity);
    } else {
      const std::string name = source == nullptr ? "nil" : typeid(*source).name();
      throw EConvertError("Cannot assign a " + name + " to a TByteMap");
    }
  });
}

void TByteMap::AssignTo(TBitmap32& dest) const { WriteTo(dest, bcMeanRGB); }

void TByteMap::ReadFrom(const TBitmap32& source, TByteMapChannel kind) {
  InUpdate(*this, [&] {
    SetSize(source.Width(), source.Height());
    if (bits_.empty() || source.Empty()) return;
    const TColor32* p = source.Bits();
    std::uint8_t* out = bits_.data();
    const std::size_t n = bits_.size();
    // One loop per channel, so that the compiler can vectorise each.
    const auto each = [&](auto channel) {
      for (std::size_t i = 0; i < n; ++i) out[i] = channel(p[i]);
    };
    switch (kind) {
      case bcMeanRGB:
        each([](TColor32 c) {
          return static_cast<std::uint8_t>((((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF)) / 3);
        });
        break;
      case bcAlpha:
        each([](TColor32 c) { return static_cast<std::uint8_t>(c >> 24); });
        break;
      default:
        for (std::size_t i = 0; i < n; ++i) out[i] = ChannelOf(p[i], kind);
        break;
    }
  });
}

void TByteMap::WriteTo(TBitmap32& dest, TByteMapChannel kind) const {
  bool sizeChanged = false;
  InUpdate(dest, [&] {
    sizeChanged = dest.SetSize(Width(), Height());
    if (bits_.empty() || dest.Empty()) return;
    TColor32* p = dest.Bits();
    if (kind == bcMeanRGB || kind == bcIntensity) {
      for (std::size_t i = 0; i < bits_.size(); ++i) p[i] = 0xFF000000u + bits_[i] * 0x010101u;
      return;
    }
    // Into one byte of the pixel; the other three stay.
    const int shift = kind == bcRed ? 16 : kind == bcGreen ? 8 : kind == bcBlue ? 0 : 24;
    const TColor32 keep = ~(TColor32{0xFF} << shift);
    for (std::size_t i = 0; i < bits_.size(); ++i)
      p[i] = (p[i] & keep) | static_cast<TColor32>(bits_[i]) << shift;
  });
  // A size change is announced once more, now with the pixels in place.
  // Resized is protected in the common base; a member pointer named
  // through this class reaches dest's override.
  if (sizeChanged) (static_cast<TCustomMap&>(dest).*(&TByteMap::Resized))();
}

}  // namespace kdl

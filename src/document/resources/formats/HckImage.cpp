#include "document/resources/formats/HckImage.h"

#include <cmath>
#include <cstring>

#include "document/resources/formats/HckCoders.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

constexpr std::uint8_t kHckMagic[4] = {'H', 'C', 'K', 0};

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

std::int64_t Remaining(TStream& stream) { return stream.Size() - stream.Position(); }

// Reads a u32 or raises message.
std::uint32_t ReadU32(TStream& stream, const char* message) {
  std::uint8_t b[4];
  if (stream.Read(b, 4) != 4) RaiseRasterError(message);
  return GetU32(b);
}

// Bytes of one plane of bits bits per sample over n pixels.
std::size_t PlaneSize(std::uint8_t bits, std::size_t n) {
  return bits == 8 ? n : bits == 1 ? (n + 7) / 8 : 0;
}

}  // namespace

const TRasterClass& THckImage::Class() { return RasterClassOf<THckImage>("THckImage"); }

bool THckImage::CanLoad(TStream* stream) {
  if (!stream) return false;
  const std::int64_t pos = stream->Position();
  std::uint8_t header[kHckHeaderSize];
  const std::int64_t n = stream->Read(header, kHckHeaderSize);
  stream->Seek(pos, soBeginning);
  return n == static_cast<std::int64_t>(kHckHeaderSize) && std::memcmp(header, kHckMagic, 4) == 0;
}

void THckImage::LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page,
                               std::int32_t width, std::int32_t height) {
  // 1. The header.
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  std::uint8_t h[kHckHeaderSize];
  if (stream->Read(h, kHckHeaderSize) != static_cast<std::int64_t>(kHckHeaderSize) ||
      std::memcmp(h, kHckMagic, 4) != 0)
    RaiseRasterError(kRasterCorrupted);
  headerWidth_ = GetU32(h + 4);
  headerHeight_ = static_cast<std::int32_t>(GetU32(h + 8));
  headerPages_ = static_cast<std::int32_t>(GetU32(h + 12));
  std::memcpy(bits_, h + 16, 5);
  compression_ = h[21];
  if (headerWidth_ > 0x7FFFFFFFu || headerHeight_ < 0) RaiseRasterError(kRasterCorrupted);
  width_ = static_cast<std::int32_t>(headerWidth_);
  height_ = headerHeight_;
  pageCount_ = headerPages_ > 1 ? headerPages_ : 1;
  if ((bits_[0] != 0 && bits_[0] != 1 && bits_[0] != 8) || (bits_[1] != 0 && bits_[1] != 8) ||
      (bits_[2] != 0 && bits_[2] != 8) || (bits_[3] != 0 && bits_[3] != 8) ||
      (bits_[4] != 0 && bits_[4] != 1 && bits_[4] != 8))
    RaiseRasterError(kRasterBitDepth);

  // 2. The raw size; nothing to read for an empty picture.
  const std::int64_t pixels = std::int64_t{width_} * height_;
  if (pixels > kMaxRasterPixels) RaiseRasterError(kRasterCorrupted);
  const int bitSum = bits_[0] + bits_[1] + bits_[2] + bits_[3] + bits_[4];
  const std::int64_t rawSize = pixels * ((bitSum + 7) / 8);
  if (rawSize == 0) return;

  // 3. The page.
  if (headerPages_ > 1) {
    if (page < 0 || page >= headerPages_) RaiseRasterError(kRasterNoSuchPage);
    for (std::int32_t i = 0; i < page; ++i) {
      const std::uint32_t length = ReadU32(*stream, kRasterCorrupted);
      if (length > Remaining(*stream)) RaiseRasterError(kRasterCorrupted);
      stream->Seek(length, soCurrent);
    }
    ReadU32(*stream, kRasterCorrupted);
  } else if (page != 0) {
    RaiseRasterError(kRasterNoSuchPage);
  }

  // 4. The page body.
  std::vector<std::uint8_t> raw;
  const auto r = static_cast<std::size_t>(rawSize);
  if (compression_ == kHckRaw) {
    if (rawSize > Remaining(*stream)) RaiseRasterError(kRasterCorrupted);
    raw.resize(r);
    if (stream->Read(raw.data(), rawSize) != rawSize) RaiseRasterError(kRasterCorrupted);
  } else if (compression_ == kHckPacked) {
    DecompressPlanes(stream, raw, r);
  } else {
    DecompressCustom(compression_, stream, raw, r);
  }
  if (raw.empty()) return;

  // 5. Into the bitmap, scaled down when a smaller picture was asked for.
  const double d = std::min(static_cast<double>(height) / height_,
                            static_cast<double>(width) / width_);
  if (d <= 0 || d >= 1) {
    bitmap->SetSize(width_, height_);
    UnpackPlanes(raw, *bitmap);
  } else {
    TBitmap32 full;
    full.SetSize(width_, height_);
    UnpackPlanes(raw, full);
    full.SetDrawMode(dmOpaque);
    full.SetStretchFilter(bitmap->StretchFilter());
    // A picture never shrinks to nothing.
    const auto w = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::nearbyint(d * width_)));
    const auto hh =
        std::max<std::int32_t>(1, static_cast<std::int32_t>(std::nearbyint(d * height_)));
    bitmap->SetSize(w, hh);
    full.DrawTo(*bitmap, bitmap->BoundsRect());
  }
}

void THckImage::DecompressPlanes(TStream* stream, std::vector<std::uint8_t>& raw,
                                 std::size_t rawSize) {
  const std::uint32_t storedRaw = ReadU32(*stream, kRasterDecompress);
  const std::uint32_t packedSize = ReadU32(*stream, kRasterDecompress);
  if (storedRaw != rawSize || packedSize > Remaining(*stream)) RaiseRasterError(kRasterDecompress);
  std::vector<std::uint8_t> packed(packedSize);
  if (stream->Read(packed.data(), packedSize) != packedSize) RaiseRasterError(kRasterDecompress);

  if (UnpackChain(packed.data(), packed.size(), rawSize, raw) != kCoderOk)
    RaiseRasterError(kRasterDecompress);
}

void THckImage::DecompressCustom(std::uint8_t, TStream*, std::vector<std::uint8_t>&, std::size_t) {
  RaiseRasterError(kRasterNoCodec);
}

void THckImage::UnpackPlanes(const std::vector<std::uint8_t>& raw, TBitmap32& bitmap) {
  const auto n = static_cast<std::size_t>(std::int64_t{bitmap.Width()} * bitmap.Height());
  TColor32* px = bitmap.Bits();
  std::size_t at = 0;
  // The next plane of the raw bytes; a short page is damaged.
  auto plane = [&](std::uint8_t bits) -> const std::uint8_t* {
    const std::size_t size = PlaneSize(bits, n);
    if (size > raw.size() - at) RaiseRasterError(kRasterCorrupted);
    const std::uint8_t* p = raw.data() + at;
    at += size;
    return p;
  };
  auto bit = [](const std::uint8_t* p, std::size_t i) { return (p[i / 8] >> (7 - i % 8)) & 1; };

  // Alpha sets whole pixels (colour 0), so it comes first.
  switch (bits_[0]) {
    case 0:
      for (std::size_t i = 0; i < n; ++i) px[i] = 0xFF000000u;
      break;
    case 1: {
      const std::uint8_t* a = plane(1);
      for (std::size_t i = 0; i < n; ++i) px[i] = bit(a, i) ? 0xFF000000u : 0;
      break;
    }
    case 8: {
      const std::uint8_t* a = plane(8);
      for (std::size_t i = 0; i < n; ++i) px[i] = TColor32{a[i]} << 24;
      break;
    }
    default:
      RaiseRasterError(kRasterBitDepth);
  }
  // Red, green and blue into bytes 2, 1 and 0.
  for (int c = 1; c <= 3; ++c) {
    if (bits_[c] == 0) continue;
    if (bits_[c] != 8) RaiseRasterError(kRasterBitDepth);
    const std::uint8_t* s = plane(8);
    const int shift = 8 * (3 - c);
    const TColor32 mask = ~(TColor32{0xFF} << shift);
    for (std::size_t i = 0; i < n; ++i) px[i] = (px[i] & mask) | (TColor32{s[i]} << shift);
  }
  // Gray into blue, green and red.
  if (bits_[4] == 1 || bits_[4] == 8) {
    const std::uint8_t* s = plane(bits_[4]);
    for (std::size_t i = 0; i < n; ++i) {
      const TColor32 v = bits_[4] == 8 ? s[i] : (bit(s, i) ? 0xFF : 0);
      px[i] = (px[i] & 0xFF000000u) | (v << 16) | (v << 8) | v;
    }
  } else if (bits_[4] != 0) {
    RaiseRasterError(kRasterBitDepth);
  }
}

void THckImage::SaveToStream(TStream* stream, TBitmap32* bitmap) {
  // 1.-2. The header.
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  headerWidth_ = static_cast<std::uint32_t>(bitmap->Width());
  headerHeight_ = bitmap->Height();
  headerPages_ = 1;
  const std::uint8_t bits[5] = {8, 8, 8, 8, 0};
  std::memcpy(bits_, bits, 5);
  compression_ = kHckPacked;
  std::uint8_t h[kHckHeaderSize] = {};
  std::memcpy(h, kHckMagic, 4);
  PutU32(h + 4, headerWidth_);
  PutU32(h + 8, static_cast<std::uint32_t>(headerHeight_));
  PutU32(h + 12, 1);
  std::memcpy(h + 16, bits_, 5);
  h[21] = compression_;
  stream->WriteBuffer(h, kHckHeaderSize);

  // 3. The planes alpha, red, green, blue from the pixels' memory order
  // B, G, R, A.
  const auto n = static_cast<std::size_t>(std::int64_t{bitmap->Width()} * bitmap->Height());
  if (n == 0) return;
  std::vector<std::uint8_t> raw(4 * n);
  const TColor32* px = bitmap->Bits();
  for (std::size_t i = 0; i < n; ++i) {
    const TColor32 c = px[i];
    raw[i] = static_cast<std::uint8_t>(c >> 24);
    raw[n + i] = static_cast<std::uint8_t>(c >> 16);
    raw[2 * n + i] = static_cast<std::uint8_t>(c >> 8);
    raw[3 * n + i] = static_cast<std::uint8_t>(c);
  }
  // 4. Packed.
  CompressPlanes(stream, raw);
}

void THckImage::CompressPlanes(TStream* stream, std::vector<std::uint8_t>& raw) {
  const std::size_t s = raw.size();
  std::vector<std::uint8_t> packed;
  if (s > 0xFFFFFFFFu || PackChain(raw, packed) != kCoderOk || packed.size() > 0xFFFFFFFFu)
    RaiseRasterError(kRasterCompress);
  std::uint8_t head[8];
  PutU32(head, static_cast<std::uint32_t>(s));
  PutU32(head + 4, static_cast<std::uint32_t>(packed.size()));
  stream->WriteBuffer(head, 8);
  stream->WriteBuffer(packed.data(), static_cast<std::int64_t>(packed.size()));
}

}  // namespace kdl

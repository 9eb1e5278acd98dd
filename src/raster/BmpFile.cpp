#include "raster/BmpFile.h"

#include <algorithm>
#include <bit>
#include <istream>
#include <ostream>

#include "raster/StreamIO.h"

namespace kdl {

namespace {

constexpr std::uint8_t kSignature[2] = {'B', 'M'};
constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV2HeaderSize = 52;
constexpr std::uint32_t kV3HeaderSize = 56;
constexpr std::uint32_t kV4HeaderSize = 108;
constexpr std::uint32_t kV5HeaderSize = 124;

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

// More palette entries than any sane file declares.
constexpr std::uint32_t kMaxDeclaredColors = 1u << 16;
// Bytes between the headers and the pixels that we are willing to skip.
constexpr std::int64_t kMaxGap = std::int64_t{1} << 24;
// Compressed data without a stated size is read up to this many bytes.
constexpr std::int64_t kMaxRleBytes = std::int64_t{1} << 28;
// Encoded runs describe at most 255 pixels in two bytes; allow for rows
// that end early.
constexpr std::int64_t kMaxRlePixelsPerByte = 256;

constexpr TColor32 kOpaque = 0xFF000000u;

[[noreturn]] void Invalid() { throw EInvalidGraphic(kInvalidBitmapMessage); }

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// One channel of a bit-field pixel, widened to 8 bits by repeating its
// bits (so 5-bit 31 is 255 and 5-bit 16 is 132), or cut to its top 8 bits.
struct TChannelMask {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  explicit TChannelMask(std::uint32_t m = 0) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    bits = std::bit_width(m >> shift);
  }
  std::uint32_t Get(std::uint32_t pixel) const {
    if (bits == 0) return 0;
    const std::uint64_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<std::uint32_t>(v >> (bits - 8)) & 0xFF;
    std::uint64_t r = 0;
    int filled = 0;
    while (filled < 8) {
      r = (r << bits) | v;
      filled += bits;
    }
    return static_cast<std::uint32_t>(r >> (filled - 8)) & 0xFF;
  }
};

struct THeader {
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: rows top-down
  std::uint32_t bpp = 0;
  std::uint32_t compression = BI_RGB;
  std::uint32_t sizeImage = 0;
  std::uint32_t colorsUsed = 0;
  std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool core = false;
};

class TBmpReader {
 public:
  explicit TBmpReader(std::istream& s) : s_(s) {}

  TBmpImage Read() {
    std::uint8_t file[kFileHeaderSize];
    if (!ReadExact(s_, file, kFileHeaderSize)) Invalid();
    if (file[0] != kSignature[0] || file[1] != kSignature[1]) Invalid();
    const std::uint32_t offBits = U32(file + 10);
    std::int64_t consumed = kFileHeaderSize;

    ReadInfoHeader(consumed);
    ValidateHeader();
    ReadPaletteAndSkip(offBits, consumed);

    TBmpImage image;
    image.Width = static_cast<std::int32_t>(h_.width);
    image.Height = static_cast<std::int32_t>(std::abs(h_.height));
    const std::int64_t w = h_.width, rows = std::abs(h_.height);
    if (h_.compression == BI_RLE8 || h_.compression == BI_RLE4) {
      const std::vector<std::uint8_t> data = ReadRleData();
      // A run of 2 bytes makes at most 255 pixels; a picture far larger
      // than its data could ever describe is not allocated for.
      if (w * rows > static_cast<std::int64_t>(data.size()) * kMaxRlePixelsPerByte) Invalid();
      image.Pixels.assign(static_cast<std::size_t>(w * rows), 0);
      DecodeRle(data, image);
    } else {
      DecodeRows(image);
    }
    return image;
  }

 private:
  void ReadInfoHeader(std::int64_t& consumed) {
    std::uint8_t sizeBytes[4];
    if (!ReadExact(s_, sizeBytes, 4)) Invalid();
    const std::uint32_t size = U32(sizeBytes);
    if (size != kCoreHeaderSize && size != kInfoHeaderSize && size != kV2HeaderSize &&
        size != kV3HeaderSize && size != kV4HeaderSize && size != kV5HeaderSize)
      Invalid();
    std::uint8_t hdr[kV5HeaderSize] = {};
    if (!ReadExact(s_, hdr + 4, size - 4)) Invalid();
    consumed += size;
    if (size == kCoreHeaderSize) {
      h_.core = true;
      h_.width = U16(hdr + 4);
      h_.height = U16(hdr + 6);
      h_.bpp = U16(hdr + 10);
      return;
    }
    h_.width = static_cast<std::int32_t>(U32(hdr + 4));
    h_.height = static_cast<std::int32_t>(U32(hdr + 8));
    h_.bpp = U16(hdr + 14);
    h_.compression = U32(hdr + 16);
    h_.sizeImage = U32(hdr + 20);
    h_.colorsUsed = U32(hdr + 32);
    if (size >= kV2HeaderSize) {
      h_.masks[0] = U32(hdr + 40);
      h_.masks[1] = U32(hdr + 44);
      h_.masks[2] = U32(hdr + 48);
    }
    if (size >= kV3HeaderSize) h_.masks[3] = U32(hdr + 52);
    // A plain info header is followed by the masks it announces.
    if (size == kInfoHeaderSize &&
        (h_.compression == BI_BITFIELDS || h_.compression == BI_ALPHABITFIELDS)) {
      const std::uint32_t n = h_.compression == BI_BITFIELDS ? 3 : 4;
      std::uint8_t m[16];
      if (!ReadExact(s_, m, n * 4)) Invalid();
      for (std::uint32_t i = 0; i < n; ++i) h_.masks[i] = U32(m + 4 * i);
      consumed += n * 4;
    }
  }

  void ValidateHeader() {
    const std::uint32_t b = h_.bpp;
    if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) Invalid();
    if (h_.width <= 0 || h_.height == 0 || h_.height == INT32_MIN) Invalid();
    const std::int64_t rows = std::abs(h_.height);
    if (h_.width > kMaxBmpPixels || rows > kMaxBmpPixels || h_.width * rows > kMaxBmpPixels)
      Invalid();
    switch (h_.compression) {
      case BI_RGB:
        break;
      case BI_RLE8:
        if (b != 8 || h_.height < 0) Invalid();
        break;
      case BI_RLE4:
        if (b != 4 || h_.height < 0) Invalid();
        break;
      case BI_BITFIELDS:
      case BI_ALPHABITFIELDS:
        if (b != 16 && b != 32) Invalid();
        break;
      default:
        Invalid();
    }
    if (h_.compression == BI_RGB && b == 16) {
      // 5-5-5 is what an uncompressed 16-bit file means.
      h_.masks[0] = 0x7C00;
      h_.masks[1] = 0x03E0;
      h_.masks[2] = 0x001F;
      h_.masks[3] = 0;
    }
  }

  void ReadPaletteAndSkip(std::uint32_t offBits, std::int64_t consumed) {
    const std::uint32_t entrySize = h_.core ? 3 : 4;
    std::int64_t declared = 0;
    if (h_.bpp <= 8) {
      declared = h_.colorsUsed != 0 ? h_.colorsUsed : (1u << h_.bpp);
      if (h_.colorsUsed > kMaxDeclaredColors) Invalid();
    }
    // The palette lies between the headers and the pixel offset; an offset
    // of zero (or one pointing into the headers) means pixels follow it.
    std::int64_t gap = declared * entrySize;
    if (offBits != 0 && offBits >= consumed) gap = static_cast<std::int64_t>(offBits) - consumed;
    if (gap > kMaxGap) Invalid();
    std::vector<std::uint8_t> bytes;
    if (!ReadGrowing(s_, gap, bytes)) Invalid();
    const std::int64_t count = std::min<std::int64_t>(
        {declared, static_cast<std::int64_t>(bytes.size()) / entrySize, std::int64_t{256}});
    palette_.assign(256, kOpaque);
    for (std::int64_t i = 0; i < count; ++i) {
      const std::uint8_t* p = bytes.data() + i * entrySize;
      palette_[static_cast<std::size_t>(i)] = kOpaque | (static_cast<TColor32>(p[2]) << 16) |
                                              (static_cast<TColor32>(p[1]) << 8) | p[0];
    }
  }

  void DecodeRows(TBmpImage& image) {
    const std::int64_t w = h_.width, rows = std::abs(h_.height);
    const std::int64_t rowBits = w * h_.bpp;
    const std::int64_t stride = (rowBits + 31) / 32 * 4;
    // The last row's padding may be missing; its pixels may not.
    const std::int64_t need = stride * (rows - 1) + (rowBits + 7) / 8;
    std::vector<std::uint8_t> data;
    if (!ReadGrowing(s_, stride * rows, data) && static_cast<std::int64_t>(data.size()) < need)
      Invalid();
    data.resize(static_cast<std::size_t>(stride * rows), 0);
    // Only now that the rows are really there is the picture allocated.
    image.Pixels.assign(static_cast<std::size_t>(w * rows), 0);

    const TChannelMask r(h_.masks[0]), g(h_.masks[1]), b(h_.masks[2]), a(h_.masks[3]);
    const bool bitfields = h_.bpp == 16 || (h_.bpp == 32 && h_.compression != BI_RGB);
    for (std::int64_t row = 0; row < rows; ++row) {
      const std::uint8_t* src = data.data() + row * stride;
      const std::int64_t y = h_.height < 0 ? row : rows - 1 - row;
      TColor32* dst = image.Pixels.data() + y * w;
      for (std::int64_t x = 0; x < w; ++x) {
        switch (h_.bpp) {
          case 1:
            dst[x] = palette_[(src[x >> 3] >> (7 - (x & 7))) & 1];
            break;
          case 4:
            dst[x] = palette_[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF];
            break;
          case 8:
            dst[x] = palette_[src[x]];
            break;
          case 24: {
            const std::uint8_t* p = src + x * 3;
            dst[x] = kOpaque | (static_cast<TColor32>(p[2]) << 16) |
                     (static_cast<TColor32>(p[1]) << 8) | p[0];
            break;
          }
          default: {
            const std::uint32_t v = h_.bpp == 16 ? U16(src + x * 2) : U32(src + x * 4);
            if (!bitfields) {
              dst[x] = v;  // B, G, R, A as stored; see below for the alpha
            } else {
              const std::uint32_t alpha = h_.masks[3] != 0 ? a.Get(v) : 255;
              dst[x] = (alpha << 24) | (r.Get(v) << 16) | (g.Get(v) << 8) | b.Get(v);
            }
          }
        }
      }
    }
    // Most writers leave the fourth byte of a plain 32-bit file zero, with no
    // meaning: such a picture is opaque. Any non-zero byte makes it alpha.
    if (h_.bpp == 32 && !bitfields) {
      TColor32 any = 0;
      for (const TColor32 c : image.Pixels) any |= c;
      if ((any & kOpaque) == 0)
        for (TColor32& c : image.Pixels) c |= kOpaque;
    }
  }

  std::vector<std::uint8_t> ReadRleData() {
    std::vector<std::uint8_t> data;
    if (h_.sizeImage != 0) {
      if (!ReadGrowing(s_, h_.sizeImage, data)) Invalid();
    } else {
      data = ReadToEnd(s_, kMaxRleBytes);
    }
    return data;
  }

  void DecodeRle(const std::vector<std::uint8_t>& data, TBmpImage& image) {
    const std::int64_t w = h_.width, rows = h_.height;
    const bool four = h_.compression == BI_RLE4;
    // Pixels the data skips stay transparent.
    std::int64_t x = 0, y = 0;  // y counts from the bottom row
    auto put = [&](std::uint32_t index) {
      if (x < w && y < rows) image.Pixels[static_cast<std::size_t>((rows - 1 - y) * w + x)] = palette_[index];
      ++x;
    };
    const std::size_t n = data.size();
    std::size_t p = 0;
    while (p + 1 < n && y < rows) {
      const std::uint32_t count = data[p], value = data[p + 1];
      p += 2;
      if (count > 0) {
        // An encoded run; pixels past the row's end are dropped.
        const std::uint32_t visible = x < w ? static_cast<std::uint32_t>(std::min<std::int64_t>(count, w - x)) : 0;
        for (std::uint32_t k = 0; k < visible; ++k) put(four ? ((k & 1) ? value & 0xF : value >> 4) : value);
        x += count - visible;
        continue;
      }
      if (value == 0) {  // end of line
        x = 0;
        ++y;
      } else if (value == 1) {  // end of bitmap
        break;
      } else if (value == 2) {  // delta
        if (p + 1 >= n) break;
        x += data[p];
        y += data[p + 1];
        p += 2;
      } else {  // absolute run of `value` pixels, padded to a word
        const std::size_t bytes = four ? (value + 1) / 2 : value;
        if (p + bytes > n) break;
        for (std::uint32_t k = 0; k < value; ++k) {
          const std::uint8_t byte = data[p + (four ? k / 2 : k)];
          put(four ? ((k & 1) ? byte & 0xF : byte >> 4) : byte);
        }
        p += (bytes + 1) & ~std::size_t{1};
      }
    }
  }

  std::istream& s_;
  THeader h_;
  std::vector<TColor32> palette_;
};

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

}  // namespace

TBmpImage ReadBmp(std::istream& stream) { return TBmpReader(stream).Read(); }

void WriteBmp32(std::ostream& stream, std::int32_t width, std::int32_t height,
                const TColor32* pixels) {
  if (width <= 0 || height <= 0) return;
  const std::uint64_t imageBytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4;
  std::uint8_t head[kFileHeaderSize + kInfoHeaderSize] = {};
  head[0] = kSignature[0];
  head[1] = kSignature[1];
  Put32(head + 2, static_cast<std::uint32_t>(kFileHeaderSize + kInfoHeaderSize + imageBytes));
  Put32(head + 10, kFileHeaderSize + kInfoHeaderSize);
  std::uint8_t* info = head + kFileHeaderSize;
  Put32(info, kInfoHeaderSize);
  Put32(info + 4, static_cast<std::uint32_t>(width));
  Put32(info + 8, static_cast<std::uint32_t>(height));  // bottom-up
  Put16(info + 12, 1);
  Put16(info + 14, 32);
  Put32(info + 16, BI_RGB);
  Put32(info + 20, static_cast<std::uint32_t>(imageBytes));
  stream.write(reinterpret_cast<const char*>(head), sizeof head);
  // TColor32 in memory is already B, G, R, A on the little-endian machines
  // we run on.
  static_assert(std::endian::native == std::endian::little);
  for (std::int64_t y = height - 1; y >= 0; --y)
    stream.write(reinterpret_cast<const char*>(pixels + y * width),
                 static_cast<std::streamsize>(width) * 4);
}

}  // namespace kdl

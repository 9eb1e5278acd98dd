#include "document/resources/formats/GifFormat.h"

#include <cstring>
#include <vector>

#include <gif_lib.h>

#include "document/resources/formats/BmpFormat.h"
#include "document/resources/formats/OctreeQuantizer.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"
#include "raster/UninitializedSize.h"

namespace kdl {

namespace {

constexpr int kMaxGifSide = 0xFFFF;
// An LZW code is at least two bits wide and stands for at most 4096 pixels.
constexpr std::int64_t kMaxGifPixelsPerByte = 4 * 4096;

int ReadFn(GifFileType* gif, GifByteType* data, int length) {
  try {
    const auto n = static_cast<TStream*>(gif->UserData)->Read(data, length);
    return static_cast<int>(n);
  } catch (...) {
    return 0;
  }
}

int WriteFn(GifFileType* gif, const GifByteType* data, int length) {
  try {
    const auto n = static_cast<TStream*>(gif->UserData)->Write(data, length);
    return static_cast<int>(n);
  } catch (...) {
    return 0;
  }
}

struct TGifReader {
  GifFileType* Gif = nullptr;
  ~TGifReader() {
    int error = 0;
    if (Gif) DGifCloseFile(Gif, &error);
  }
};

struct TGifWriter {
  GifFileType* Gif = nullptr;
  ~TGifWriter() {
    int error = 0;
    if (Gif) EGifCloseFile(Gif, &error);
  }
  // Closing writes the trailer; a failure there is a failed save.
  bool Close() {
    int error = 0;
    const int rc = EGifCloseFile(Gif, &error);
    Gif = nullptr;
    return rc == GIF_OK;
  }
};

struct TColorMapHolder {
  ColorMapObject* Map = nullptr;
  ~TColorMapHolder() { GifFreeMapObject(Map); }
};

[[noreturn]] void Corrupted() { RaiseRasterError(kRasterCorrupted); }

// Reads the first frame into bitmap, sized to the logical screen only now
// that a frame is there; pixels the frame does not draw stay transparent
// black. Neither the screen nor the frame may be larger than the bytes left
// could ever fill.
void ReadFirstFrame(GifFileType* gif, TStream& stream, TBitmap32& bitmap, int transparent) {
  if (DGifGetImageDesc(gif) != GIF_OK) Corrupted();
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!map || !map->Colors || map->ColorCount <= 0) Corrupted();
  const std::int64_t limit = (stream.Size() - stream.Position() + 1) * kMaxGifPixelsPerByte;
  const std::int64_t screen = std::int64_t{gif->SWidth} * gif->SHeight;
  const std::int64_t frame = std::int64_t{desc.Width} * desc.Height;
  if (screen > limit || frame > limit || frame > kMaxRasterPixels) Corrupted();
  // The clear below covers every pixel, so the new storage starts uncleared.
  SetSizeUninitialized(bitmap, gif->SWidth, gif->SHeight);
  if (!bitmap.Empty()) bitmap.Clear(0);
  if (desc.Width <= 0 || desc.Height <= 0) return;

  std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
  // Rows in stored order; interlaced files store every 8th row from 0, every
  // 8th from 4, every 4th from 2, every 2nd from 1.
  std::vector<int> rows;
  rows.reserve(static_cast<std::size_t>(desc.Height));
  if (desc.Interlace) {
    static const int kStart[4] = {0, 4, 2, 1};
    static const int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int y = kStart[pass]; y < desc.Height; y += kStep[pass]) rows.push_back(y);
  } else {
    for (int y = 0; y < desc.Height; ++y) rows.push_back(y);
  }
  for (const int row : rows) {
    if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) Corrupted();
    const int y = desc.Top + row;
    for (int x = 0; x < desc.Width; ++x) {
      const int index = line[static_cast<std::size_t>(x)];
      if (index >= map->ColorCount) Corrupted();
      const int px = desc.Left + x;
      if (index == transparent || y >= bitmap.Height() || px >= bitmap.Width()) continue;
      const GifColorType& c = map->Colors[index];
      bitmap.SetPixel(px, y,
                      0xFF000000u | (TColor32{c.Red} << 16) | (TColor32{c.Green} << 8) | c.Blue);
    }
  }
}

}  // namespace

const TRasterClass& TdtpGifFormat::Class() { return RasterClassOf<TdtpGifFormat>("TdtpGifFormat"); }

bool TdtpGifFormat::CanLoad(TStream* stream) { return !stream || StreamStartsWith(*stream, "GIF8", 4); }

void TdtpGifFormat::LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page,
                                   std::int32_t, std::int32_t) {
  if (page > 0) RaiseRasterError(kRasterNoSuchPage);
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  TGifReader reader;
  int error = 0;
  reader.Gif = DGifOpen(stream, ReadFn, &error);
  if (!reader.Gif) Corrupted();
  GifFileType* gif = reader.Gif;
  width_ = gif->SWidth;
  height_ = gif->SHeight;
  if (width_ < 0 || height_ < 0 || std::int64_t{width_} * height_ > kMaxRasterPixels) Corrupted();


  int transparent = -1;
  GifRecordType type = UNDEFINED_RECORD_TYPE;
  do {
    if (DGifGetRecordType(gif, &type) != GIF_OK) Corrupted();
    if (type == IMAGE_DESC_RECORD_TYPE) {
      ReadFirstFrame(gif, *stream, *bitmap, transparent);
      return;
    }
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) != GIF_OK) Corrupted();
      // The graphic control extension before the first frame gives its
      // transparent index.
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
        transparent = (ext[1] & 1) ? ext[4] : -1;
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) != GIF_OK) Corrupted();
      }
    }
  } while (type != TERMINATE_RECORD_TYPE);
  // A file without a frame has no picture.
  Corrupted();
}

void TdtpGifFormat::SaveToStream(TStream* stream, TBitmap32* bitmap) {
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  if (bitmap->Empty()) return;
  const std::int32_t w = bitmap->Width();
  const std::int32_t h = bitmap->Height();
  if (w > kMaxGifSide || h > kMaxGifSide) RaiseRasterError(kRasterCompress);
  const TColor32* px = bitmap->Bits();
  const auto n = static_cast<std::size_t>(std::int64_t{w} * h);

  // 1. Colour reduction; a pixel below the threshold needs an index of its
  // own, so the palette then keeps one free.
  bool anyTransparent = false;
  for (std::size_t i = 0; i < n && !anyTransparent; ++i)
    anyTransparent = static_cast<std::int32_t>(px[i] >> 24) < alphaThreshold_;
  std::vector<TPaletteEntry> palette;
  std::vector<std::uint8_t> indices;
  QuantizeAndDither(px, w, h, anyTransparent ? 255 : 256, palette, indices);

  // 2. The transparent index: the first unused one, else the least used.
  std::size_t uses[256] = {};
  for (std::uint8_t i : indices) ++uses[i];
  int transparent = 0;
  for (int i = 0; i < 256; ++i)
    if (uses[i] < uses[transparent]) transparent = i;
  for (int i = 0; i < 256; ++i)
    if (uses[i] == 0) {
      transparent = i;
      break;
    }

  // 3. Pixels below the threshold take it.
  for (std::size_t i = 0; i < n; ++i)
    if (static_cast<std::int32_t>(px[i] >> 24) < alphaThreshold_)
      indices[i] = static_cast<std::uint8_t>(transparent);

  // The colour map: a power of two that holds the palette and the index.
  int entries = static_cast<int>(palette.size());
  if (anyTransparent) entries = std::max(entries, transparent + 1);
  int mapSize = 2;
  while (mapSize < entries) mapSize *= 2;
  std::vector<GifColorType> colors(static_cast<std::size_t>(mapSize), GifColorType{0, 0, 0});
  for (std::size_t i = 0; i < palette.size(); ++i)
    colors[i] = GifColorType{palette[i].R, palette[i].G, palette[i].B};
  // 4. The transparent entry reads as TransparentColor.
  if (anyTransparent) {
    const TColor32 c = Color32(transparentColor_);
    colors[static_cast<std::size_t>(transparent)] =
        GifColorType{static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                     static_cast<GifByteType>(c)};
  }
  TColorMapHolder map;
  map.Map = GifMakeMapObject(mapSize, colors.data());
  if (!map.Map) RaiseRasterError(kRasterCompress);

  // 5. The file.
  TGifWriter writer;
  int error = 0;
  writer.Gif = EGifOpen(stream, WriteFn, &error);
  if (!writer.Gif) RaiseRasterError(kRasterCompress);
  GifFileType* gif = writer.Gif;
  EGifSetGifVersion(gif, true);
  bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, map.Map) == GIF_OK;
  if (ok && anyTransparent) {
    const GifByteType control[4] = {0x01, 0, 0, static_cast<GifByteType>(transparent)};
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
  for (std::int32_t y = 0; ok && y < h; ++y)
    ok = EGifPutLine(gif, indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w),
                     w) == GIF_OK;
  ok = writer.Close() && ok;
  if (!ok) RaiseRasterError(kRasterCompress);
}

}  // namespace kdl

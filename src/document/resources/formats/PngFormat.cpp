#include "document/resources/formats/PngFormat.h"

#include <csetjmp>
#include <vector>

#include <png.h>

#include "document/resources/formats/BmpFormat.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"
#include "raster/UninitializedSize.h"

namespace kdl {

namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Ancillary chunks whose data libpng would keep in memory and that we never
// use; skipped unread, so that a declared length costs nothing.
constexpr png_byte kSkippedChunks[] = {'t', 'E', 'X', 't', 0, 'z', 'T', 'X', 't', 0,
                                       'i', 'T', 'X', 't', 0, 's', 'P', 'L', 'T', 0,
                                       'e', 'X', 'I', 'f', 0, 'i', 'C', 'C', 'P', 0};
// No chunk that is still read may ask for more than this.
constexpr png_alloc_size_t kChunkMemoryLimit = png_alloc_size_t{4} << 20;
constexpr png_uint_32 kChunkCacheLimit = 128;
// Deflate cannot expand its input more than about 1032 times.
constexpr std::int64_t kMaxInflateRatio = 1032;

// libpng reports an error by a jump back to the step that called it; the
// steps below keep nothing with a destructor in their frames.
[[noreturn]] void ErrorFn(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp png, png_bytep data, png_size_t length) {
  auto* stream = static_cast<TStream*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = stream->Read(data, static_cast<std::int64_t>(length)) ==
         static_cast<std::int64_t>(length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "Read error");
}

void WriteFn(png_structp png, png_bytep data, png_size_t length) {
  auto* stream = static_cast<TStream*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = stream->Write(data, static_cast<std::int64_t>(length)) ==
         static_cast<std::int64_t>(length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "Write error");
}

void FlushFn(png_structp) {}

struct TPngReader {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  ~TPngReader() {
    if (Png) png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
  }
};

bool ReadHeader(TPngReader& r, TStream* stream) {
  r.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
  if (!r.Png) return false;
  r.Info = png_create_info_struct(r.Png);
  if (!r.Info) return false;
  if (setjmp(png_jmpbuf(r.Png))) return false;
  png_set_read_fn(r.Png, stream, ReadFn);
  png_set_keep_unknown_chunks(r.Png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks,
                              static_cast<int>(sizeof kSkippedChunks / 5));
  png_set_chunk_malloc_max(r.Png, kChunkMemoryLimit);
  png_set_chunk_cache_max(r.Png, kChunkCacheLimit);
  png_read_info(r.Png, r.Info);
  return true;
}

// png_read_info stops at the first IDAT: the bytes from there on must be
// able to inflate to the image's filtered rows before the bitmap is made.
bool PlausibleSize(TPngReader& r, TStream& stream) {
  const std::int64_t w = png_get_image_width(r.Png, r.Info);
  const std::int64_t h = png_get_image_height(r.Png, r.Info);
  const std::int64_t bits = std::int64_t{png_get_bit_depth(r.Png, r.Info)} * png_get_channels(r.Png, r.Info);
  const std::int64_t rawBytes = h * ((w * bits + 7) / 8 + 1);
  const std::int64_t present = stream.Size() - stream.Position();
  return rawBytes <= (present + 8) * kMaxInflateRatio;
}

// Every colour type becomes 8-bit B, G, R, A in memory order.
bool SetTransforms(TPngReader& r) {
  if (setjmp(png_jmpbuf(r.Png))) return false;
  png_set_expand(r.Png);
  png_set_scale_16(r.Png);
  png_set_gray_to_rgb(r.Png);
  png_set_bgr(r.Png);
  png_set_filler(r.Png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(r.Png);
  png_read_update_info(r.Png, r.Info);
  return png_get_rowbytes(r.Png, r.Info) == png_get_image_width(r.Png, r.Info) * 4;
}

bool ReadImage(TPngReader& r, png_bytepp rows) {
  if (setjmp(png_jmpbuf(r.Png))) return false;
  png_read_image(r.Png, rows);
  return true;
}

bool ReadEnd(TPngReader& r) {
  if (setjmp(png_jmpbuf(r.Png))) return false;
  png_read_end(r.Png, nullptr);
  return true;
}

struct TPngWriter {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  ~TPngWriter() {
    if (Png) png_destroy_write_struct(&Png, Info ? &Info : nullptr);
  }
};

bool Write(TPngWriter& w, TStream* stream, const TBitmap32& bitmap, png_bytepp rows) {
  w.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
  if (!w.Png) return false;
  w.Info = png_create_info_struct(w.Png);
  if (!w.Info) return false;
  if (setjmp(png_jmpbuf(w.Png))) return false;
  png_set_write_fn(w.Png, stream, WriteFn, FlushFn);
  png_set_IHDR(w.Png, w.Info, static_cast<png_uint_32>(bitmap.Width()),
               static_cast<png_uint_32>(bitmap.Height()), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(w.Png, 9);
  png_write_info(w.Png, w.Info);
  png_set_bgr(w.Png);
  png_write_image(w.Png, rows);
  png_write_end(w.Png, nullptr);
  return true;
}

}  // namespace

const TRasterClass& TdtpPngFormat::Class() { return RasterClassOf<TdtpPngFormat>("TdtpPngFormat"); }

bool TdtpPngFormat::CanLoad(TStream* stream) {
  return !stream || StreamStartsWith(*stream, kPngSignature, 8);
}

void TdtpPngFormat::LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page,
                                   std::int32_t, std::int32_t) {
  if (page > 0) RaiseRasterError(kRasterNoSuchPage);
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);

  auto reader = std::make_unique<TPngReader>();
  if (!ReadHeader(*reader, stream)) RaiseRasterError(kRasterCorrupted);
  const png_uint_32 w = png_get_image_width(reader->Png, reader->Info);
  const png_uint_32 h = png_get_image_height(reader->Png, reader->Info);
  const std::int64_t pixels = std::int64_t{w} * h;
  if (pixels <= 0 || pixels > kMaxRasterPixels) RaiseRasterError(kRasterCorrupted);
  if (!PlausibleSize(*reader, *stream)) RaiseRasterError(kRasterCorrupted);
  if (!SetTransforms(*reader)) RaiseRasterError(kRasterCorrupted);
  width_ = static_cast<std::int32_t>(w);
  height_ = static_cast<std::int32_t>(h);

  // A plain (not interlaced) image is written row after row, each row
  // whole, so its storage needs no clearing first; a failure clears the
  // rows from the one being read. Interlaced passes write pixels apart.
  const bool sequential = png_get_interlace_type(reader->Png, reader->Info) == PNG_INTERLACE_NONE;
  if (sequential)
    SetSizeUninitialized(*bitmap, width_, height_);
  else
    bitmap->SetSize(width_, height_);
  std::vector<png_bytep> rows(h);
  for (png_uint_32 y = 0; y < h; ++y)
    rows[y] = reinterpret_cast<png_bytep>(bitmap->ScanLine(static_cast<std::int32_t>(y)));
  if (!ReadImage(*reader, rows.data())) {
    if (sequential)
      ClearRowsFrom(*bitmap, static_cast<std::int32_t>(png_get_current_row_number(reader->Png)));
    RaiseRasterError(kRasterCorrupted);
  }
  // Damage after the pixels costs nothing of the picture.
  ReadEnd(*reader);
}

void TdtpPngFormat::SaveToStream(TStream* stream, TBitmap32* bitmap) {
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  if (bitmap->Empty()) return;
  std::vector<png_bytep> rows(static_cast<std::size_t>(bitmap->Height()));
  for (std::int32_t y = 0; y < bitmap->Height(); ++y)
    rows[static_cast<std::size_t>(y)] = reinterpret_cast<png_bytep>(bitmap->ScanLine(y));
  auto writer = std::make_unique<TPngWriter>();
  if (!Write(*writer, stream, *bitmap, rows.data())) RaiseRasterError(kRasterCompress);
}

}  // namespace kdl

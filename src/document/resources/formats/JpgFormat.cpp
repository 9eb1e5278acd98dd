#include "document/resources/formats/JpgFormat.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "document/resources/formats/BmpFormat.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"
#include "raster/UninitializedSize.h"

namespace kdl {

namespace {

constexpr std::size_t kIoBufferSize = 64 * 1024;
// libjpeg's own working memory (coefficient buffers of progressive files).
constexpr long kJpegMemoryLimit = 1L << 30;
// Every 8 x 8 block of every component costs at least one bit of Huffman
// code (its DC difference), so the bytes left after the header bound the
// blocks a file can really describe. Arithmetic coding can go below that on
// a flat picture; such files are held to the same bound.
constexpr std::int64_t kMinBitsPerBlock = 1;
// Once the data runs out, the Huffman decoder still holds at most this many
// bits of it, which finish at most as many MCUs (one bit each at best).
constexpr std::int64_t kBufferedBitsAtEnd = 128;

// libjpeg's default error handler ends the process; ours jumps back to the
// call that started the failing libjpeg operation.
struct TJpegError {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
};

void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->Jump, 1);
}

void OutputMessage(j_common_ptr) {}

void InitError(TJpegError& err) {
  jpeg_std_error(&err.Pub);
  err.Pub.error_exit = ErrorExit;
  err.Pub.output_message = OutputMessage;
}

// ---- Source over a TStream ----------------------------------------------------

struct TJpegSource {
  jpeg_source_mgr Pub;
  TStream* Stream;
  bool FakeEnd;
  JOCTET Buffer[kIoBufferSize];
};

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  std::int64_t n = 0;
  try {
    n = src->Stream->Read(src->Buffer, kIoBufferSize);
  } catch (...) {
    n = 0;
  }
  if (n <= 0) {
    // A truncated file ends in a fake end-of-image marker, so that what was
    // there still decodes (libjpeg fills the rest grey).
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->FakeEnd = true;
    src->Buffer[0] = 0xFF;
    src->Buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->Pub.next_input_byte = src->Buffer;
  src->Pub.bytes_in_buffer = static_cast<std::size_t>(n);
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(src->Pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->Pub.bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  src->Pub.next_input_byte += count;
  src->Pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// ---- Destination over a TStream -------------------------------------------------

struct TJpegDest {
  jpeg_destination_mgr Pub;
  TStream* Stream;
  JOCTET Buffer[kIoBufferSize];
};

void InitDestination(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<TJpegDest*>(cinfo->dest);
  dst->Pub.next_output_byte = dst->Buffer;
  dst->Pub.free_in_buffer = kIoBufferSize;
}

bool WriteAll(TStream* stream, const void* data, std::int64_t n) {
  try {
    return stream->Write(data, n) == n;
  } catch (...) {
    return false;
  }
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<TJpegDest*>(cinfo->dest);
  if (!WriteAll(dst->Stream, dst->Buffer, kIoBufferSize)) ERREXIT(cinfo, JERR_FILE_WRITE);
  dst->Pub.next_output_byte = dst->Buffer;
  dst->Pub.free_in_buffer = kIoBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<TJpegDest*>(cinfo->dest);
  const auto n = static_cast<std::int64_t>(kIoBufferSize - dst->Pub.free_in_buffer);
  if (n > 0 && !WriteAll(dst->Stream, dst->Buffer, n)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// ---- Decoding ----------------------------------------------------------------------

// A libjpeg object with our error handler, destroyed once created.
template <class TInfo>
struct TJpegSession {
  TInfo Info;
  TJpegError Error;
  bool Created = false;

  TJpegSession() {
    InitError(Error);
    Info.err = &Error.Pub;
  }
  ~TJpegSession() {
    if (Created) jpeg_destroy(reinterpret_cast<j_common_ptr>(&Info));
  }
  TJpegSession(const TJpegSession&) = delete;
  TJpegSession& operator=(const TJpegSession&) = delete;
};

struct TJpegDecoder : TJpegSession<jpeg_decompress_struct> {
  TJpegSource Source;

  explicit TJpegDecoder(TStream* stream) {
    Source.Pub = {nullptr, 0, InitSource, FillInputBuffer, SkipInputData, jpeg_resync_to_restart, TermSource};
    Source.Stream = stream;
    Source.FakeEnd = false;
  }
};

// Each step that can fail in libjpeg sets its own jump target; nothing with
// a destructor lives in these frames, so the jump skips no clean-up.
bool CreateAndReadHeader(TJpegDecoder& d) {
  if (setjmp(d.Error.Jump)) return false;
  jpeg_create_decompress(&d.Info);
  d.Created = true;
  d.Info.mem->max_memory_to_use = kJpegMemoryLimit;
  d.Info.src = &d.Source.Pub;
  return jpeg_read_header(&d.Info, TRUE) == JPEG_HEADER_OK;
}

bool CalcOutput(TJpegDecoder& d) {
  if (setjmp(d.Error.Jump)) return false;
  jpeg_calc_output_dimensions(&d.Info);
  return true;
}

bool StartDecompress(TJpegDecoder& d) {
  if (setjmp(d.Error.Jump)) return false;
  return jpeg_start_decompress(&d.Info) == TRUE;
}

// Reads up to count rows; got is how many came.
bool ReadRows(TJpegDecoder& d, JSAMPARRAY rows, JDIMENSION count, JDIMENSION& got) {
  if (setjmp(d.Error.Jump)) return false;
  got = jpeg_read_scanlines(&d.Info, rows, count);
  return got > 0;
}

// Whether the bytes after the header can fill the frame's blocks.
bool PlausibleSize(TJpegDecoder& d, TStream& stream) {
  std::int64_t blocks = 0;
  for (int i = 0; i < d.Info.num_components; ++i) {
    const jpeg_component_info& c = d.Info.comp_info[i];
    blocks += std::int64_t{c.width_in_blocks} * c.height_in_blocks;
  }
  const std::int64_t present =
      stream.Size() - stream.Position() + static_cast<std::int64_t>(d.Source.Pub.bytes_in_buffer);
  return blocks <= present * 8 / kMinBitsPerBlock;
}

// A single-scan Huffman file whose data ran out decodes every later block
// as zero, which comes out as one constant row. The first row that surely
// lies past the last data (the MCUs still buffered, the row being decoded
// and the upsampler's neighbour rows) is returned; -1 when unknown.
std::int64_t FirstRowPastData(const jpeg_decompress_struct& info, std::int64_t rowsAtEnd) {
  if (info.arith_code || jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&info)) ||
      info.MCUs_per_row == 0)
    return -1;
  // Rows of an MCU row at full size: when scaled down, a wider margin.
  const std::int64_t mcuRow = std::int64_t{info.max_v_samp_factor} * DCTSIZE;
  const std::int64_t buffered = (kBufferedBitsAtEnd + info.MCUs_per_row - 1) / info.MCUs_per_row;
  return (rowsAtEnd / mcuRow + buffered + 4) * mcuRow;
}

bool FinishDecompress(TJpegDecoder& d) {
  if (setjmp(d.Error.Jump)) return false;
  jpeg_finish_decompress(&d.Info);
  return true;
}

// Adobe files store CMYK inverted; the colour is the ink's complement
// darkened by black.
void CmykToBgra(const std::uint8_t* cmyk, TColor32* out, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x, cmyk += 4) {
    const unsigned k = cmyk[3];
    const unsigned r = (cmyk[0] * k + 127) / 255;
    const unsigned g = (cmyk[1] * k + 127) / 255;
    const unsigned b = (cmyk[2] * k + 127) / 255;
    out[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
  }
}

// ---- Encoding ------------------------------------------------------------------------

struct TJpegEncoder : TJpegSession<jpeg_compress_struct> {
  TJpegDest Dest;

  explicit TJpegEncoder(TStream* stream) {
    Dest.Pub = {nullptr, 0, InitDestination, EmptyOutputBuffer, TermDestination};
    Dest.Stream = stream;
  }
};

// Each step that can fail sets its own jump target, as in decoding.
bool StartEncode(TJpegEncoder& e, std::int32_t width, std::int32_t height, int quality) {
  if (setjmp(e.Error.Jump)) return false;
  jpeg_create_compress(&e.Info);
  e.Created = true;
  e.Info.dest = &e.Dest.Pub;
  e.Info.image_width = static_cast<JDIMENSION>(width);
  e.Info.image_height = static_cast<JDIMENSION>(height);
  // The pixels' memory order is B, G, R, A; the alpha byte is skipped.
  e.Info.input_components = 4;
  e.Info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&e.Info);
  jpeg_set_quality(&e.Info, quality, TRUE);
  jpeg_start_compress(&e.Info, TRUE);
  return true;
}

// Rows first .. first + count - 1 of bitmap, which is as wide as the picture.
bool EncodeRows(TJpegEncoder& e, const TBitmap32& bitmap, std::int32_t first, std::int32_t count) {
  if (setjmp(e.Error.Jump)) return false;
  for (std::int32_t y = first; y < first + count; ++y) {
    auto* row = reinterpret_cast<JSAMPROW>(const_cast<TColor32*>(bitmap.ScanLine(y)));
    jpeg_write_scanlines(&e.Info, &row, 1);
  }
  return true;
}

bool FinishEncode(TJpegEncoder& e) {
  if (setjmp(e.Error.Jump)) return false;
  jpeg_finish_compress(&e.Info);
  return true;
}

}  // namespace

const TRasterClass& TdtpJpgFormat::Class() { return RasterClassOf<TdtpJpgFormat>("TdtpJpgFormat"); }

bool TdtpJpgFormat::CanLoad(TStream* stream) {
  static const unsigned char kSoi[2] = {0xFF, 0xD8};
  return !stream || StreamStartsWith(*stream, kSoi, 2);
}

void TdtpJpgFormat::LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page,
                                   std::int32_t width, std::int32_t height) {
  if (page > 0) RaiseRasterError(kRasterNoSuchPage);
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);

  auto decoder = std::make_unique<TJpegDecoder>(stream);
  TJpegDecoder& d = *decoder;
  jpeg_decompress_struct& info = d.Info;
  if (!CreateAndReadHeader(d)) RaiseRasterError(kRasterCorrupted);
  if (!PlausibleSize(d, *stream)) RaiseRasterError(kRasterCorrupted);
  width_ = static_cast<std::int32_t>(info.image_width);
  height_ = static_cast<std::int32_t>(info.image_height);

  // The largest power-of-two reduction that still covers the requested size.
  unsigned scale = 1;
  while (static_cast<std::int64_t>(width_) >= std::int64_t{width} * scale * 2 &&
         static_cast<std::int64_t>(height_) >= std::int64_t{height} * scale * 2 && scale < 5)
    scale *= 2;
  info.scale_num = 1;
  info.scale_denom = scale;
  info.dct_method = JDCT_ISLOW;
  info.do_fancy_upsampling = TRUE;
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  if (!CalcOutput(d)) RaiseRasterError(kRasterCorrupted);
  const std::int64_t pixels = std::int64_t{info.output_width} * info.output_height;
  if (pixels <= 0 || pixels > kMaxRasterPixels) RaiseRasterError(kRasterCorrupted);
  if (!StartDecompress(d)) RaiseRasterError(kRasterCorrupted);

  const auto w = static_cast<std::int32_t>(info.output_width);
  const auto h = static_cast<std::int32_t>(info.output_height);
  // Every row is written below (a truncated file decodes grey to the end),
  // so the storage needs no clearing first; a failure clears what is left.
  SetSizeUninitialized(*bitmap, w, h);
  const auto fail = [&] {
    ClearRowsFrom(*bitmap, static_cast<std::int32_t>(info.output_scanline));
    RaiseRasterError(kRasterCorrupted);
  };
  if (cmyk) {
    std::vector<std::uint8_t> cmykRow(static_cast<std::size_t>(w) * 4);
    JSAMPROW row = cmykRow.data();
    for (std::int32_t y = 0; y < h; ++y) {
      JDIMENSION got = 0;
      if (!ReadRows(d, &row, 1, got)) fail();
      CmykToBgra(cmykRow.data(), bitmap->ScanLine(y), info.output_width);
    }
  } else {
    // Straight into the bitmap's rows, several per call. Past the end of
    // the data the rows are all alike: the first sure one is copied down.
    constexpr std::int32_t kBatch = 16;
    JSAMPROW rows[kBatch];
    std::int64_t pastData = -1;
    for (std::int32_t y = 0; y < h;) {
      if (pastData >= 0 && y > pastData) {
        const TColor32* last = bitmap->ScanLine(y - 1);
        for (; y < h; ++y) std::copy(last, last + w, bitmap->ScanLine(y));
        return;
      }
      const std::int32_t count = std::min(kBatch, h - y);
      for (std::int32_t k = 0; k < count; ++k)
        rows[k] = reinterpret_cast<JSAMPROW>(bitmap->ScanLine(y + k));
      JDIMENSION got = 0;
      if (!ReadRows(d, rows, static_cast<JDIMENSION>(count), got)) fail();
      y += static_cast<std::int32_t>(got);
      if (pastData < 0 && d.Source.FakeEnd) pastData = FirstRowPastData(info, y);
    }
  }
  // Trailing damage after the last row costs nothing of the picture.
  FinishDecompress(d);
  // Give back what libjpeg read ahead, so the stream stands after the image.
  if (!d.Source.FakeEnd && d.Source.Pub.bytes_in_buffer > 0)
    stream->Seek(-static_cast<std::int64_t>(d.Source.Pub.bytes_in_buffer), soCurrent);
}

void TdtpJpgFormat::SaveToStream(TStream* stream, TBitmap32* bitmap) {
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  if (bitmap->Empty()) return;
  TdtpJpgRowWriter writer(stream, bitmap->Width(), bitmap->Height(), quality_);
  writer.WriteRows(*bitmap);
  writer.Finish();
}

struct TdtpJpgRowWriter::TState {
  explicit TState(TStream* stream) : Encoder(stream) {}
  TJpegEncoder Encoder;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t Written = 0;
  bool Failed = false;
};

TdtpJpgRowWriter::TdtpJpgRowWriter(TStream* stream, std::int32_t width, std::int32_t height, std::uint8_t quality) {
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (width <= 0 || height <= 0) RaiseRasterError(kRasterCompress);
  state_ = std::make_unique<TState>(stream);
  state_->Width = width;
  state_->Height = height;
  if (!StartEncode(state_->Encoder, width, height, quality)) {
    state_->Failed = true;
    RaiseRasterError(kRasterCompress);
  }
}

TdtpJpgRowWriter::~TdtpJpgRowWriter() = default;

void TdtpJpgRowWriter::WriteRows(const TBitmap32& band) {
  TState& s = *state_;
  // A band of another width, or rows past the picture's last, would make
  // libjpeg read outside the band.
  if (s.Failed || band.Width() != s.Width || band.Height() > s.Height - s.Written) {
    s.Failed = true;
    RaiseRasterError(kRasterCompress);
  }
  if (!EncodeRows(s.Encoder, band, 0, band.Height())) {
    s.Failed = true;
    RaiseRasterError(kRasterCompress);
  }
  s.Written += band.Height();
}

void TdtpJpgRowWriter::Finish() {
  TState& s = *state_;
  if (s.Failed || s.Written != s.Height || !FinishEncode(s.Encoder)) {
    s.Failed = true;
    RaiseRasterError(kRasterCompress);
  }
}

}  // namespace kdl

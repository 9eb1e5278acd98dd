// Image formats beside their reference points: JPEG decoding at full and
// half scale against plain libjpeg-turbo as djpeg drives it (same file,
// same settings), PNG encoding of 12 megapixels at level 9, GIF reduction
// of a 1-megapixel photo, and ".hck" packing and unpacking against zlib
// level 6 on the same planes (speed, and the packed size as a counter).
// A 388-byte JPEG whose header claims 16375 x 8000 pixels is refused in
// under 1 ms (beside libjpeg reading just its header).
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <cstring>
#include <random>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

#include "document/resources/RasterFormats.h"
#include "document/resources/formats/GifFormat.h"
#include "document/resources/formats/HckCoders.h"
#include "document/resources/formats/JpgFormat.h"
#include "document/resources/formats/PngFormat.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"

namespace {

using kdl::TBitmap32;
using kdl::TColor32;

// Smooth colour fields, edges and grain: compresses like a photograph.
void MakePhoto(TBitmap32& b, int w, int h) {
  b.SetSize(w, h);
  std::mt19937 rng(1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double u = x / double(w), v = y / double(h);
      const int grain = static_cast<int>(rng() % 9) - 4;
      auto c = [&](double t) {
        return static_cast<TColor32>(std::min(255, std::max(0, static_cast<int>(t) + grain)));
      };
      b.SetPixel(x, y, 0xFF000000u | c(255 * (0.5 + 0.5 * std::sin(7 * u + 3 * v))) << 16 |
                           c(255 * v * (u > 0.5 ? 1 : 0.6)) << 8 |
                           c(255 * (0.5 + 0.5 * std::cos(11 * u * v))));
    }
}

const std::vector<std::uint8_t>& BigJpeg() {
  static const std::vector<std::uint8_t> bytes = [] {
    kdl::RegisterRasterFormats();
    TBitmap32 b;
    MakePhoto(b, 4000, 3000);
    kdl::TMemoryStream s;
    kdl::TdtpJpgFormat jpg;
    jpg.SaveToStream(&s, &b);
    const auto* p = static_cast<const std::uint8_t*>(s.Memory());
    return std::vector<std::uint8_t>(p, p + s.Size());
  }();
  return bytes;
}

void BM_JpegDecodeOurs(benchmark::State& state) {
  const auto& bytes = BigJpeg();
  kdl::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  const int scale = static_cast<int>(state.range(0));
  TBitmap32 b;
  for (auto _ : state) {
    s.Seek(0, kdl::soBeginning);
    kdl::TdtpJpgFormat jpg;
    jpg.LoadFromStream(&s, &b, 0, 4000 / scale, 3000 / scale);
    benchmark::DoNotOptimize(b.Bits());
  }
  state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_JpegDecodeOurs)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// What djpeg -dct int -scale 1/n does, without writing the output file.
void BM_JpegDecodeDjpegLibrary(benchmark::State& state) {
  const auto& bytes = BigJpeg();
  const auto scale = static_cast<unsigned>(state.range(0));
  // The whole picture, as djpeg holds it before writing.
  std::vector<JSAMPLE> image(4000 * 3000 * 3);
  for (auto _ : state) {
    jpeg_decompress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = scale;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
      JSAMPROW r = image.data() + std::size_t{info.output_scanline} * info.output_width * 3;
      jpeg_read_scanlines(&info, &r, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_JpegDecodeDjpegLibrary)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The djpeg program itself on the same file, output to /dev/null (process
// start-up included).
void BM_JpegDecodeDjpegProgram(benchmark::State& state) {
  const auto& bytes = BigJpeg();
  const std::string path = "/tmp/kdl-bench-" + std::to_string(getpid()) + ".jpg";
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return state.SkipWithError("cannot write the sample");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  const std::string command = "djpeg -dct int -scale 1/" + std::to_string(state.range(0)) +
                              " -outfile /dev/null " + path;
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("djpeg failed");
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_JpegDecodeDjpegProgram)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 64 x 64 grey picture's header with the frame made 16375 x 8000 and the
// file cut to 388 bytes.
const std::vector<std::uint8_t>& HugeHeaderCut() {
  static const std::vector<std::uint8_t> bytes = [] {
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = 64;
    info.image_height = 64;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::mt19937 rng(5);
    std::vector<JSAMPLE> row(64);
    while (info.next_scanline < 64) {
      for (auto& v : row) v = static_cast<JSAMPLE>(rng());
      JSAMPROW r = row.data();
      jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<std::uint8_t> b(out, out + size);
    jpeg_destroy_compress(&info);
    std::free(out);
    for (std::size_t i = 0; i + 9 < b.size(); ++i)
      if (b[i] == 0xFF && b[i + 1] == 0xC0) {
        b[i + 5] = 8000 >> 8, b[i + 6] = 8000 & 0xFF, b[i + 7] = 16375 >> 8, b[i + 8] = 16375 & 0xFF;
        break;
      }
    b.resize(388);
    return b;
  }();
  return bytes;
}

void BM_JpegRefuseHugeHeaderCut(benchmark::State& state) {
  kdl::RegisterRasterFormats();
  const auto& bytes = HugeHeaderCut();
  kdl::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  TBitmap32 b;
  for (auto _ : state) {
    s.Seek(0, kdl::soBeginning);
    kdl::TdtpJpgFormat jpg;
    try {
      jpg.LoadFromStream(&s, &b, 0, 0, 0);
      state.SkipWithError("the file was not refused");
      break;
    } catch (const kdl::Exception&) {
    }
  }
}
BENCHMARK(BM_JpegRefuseHugeHeaderCut)->Unit(benchmark::kMicrosecond);

// The least any reader does: libjpeg reading the same header.
void BM_JpegHeaderOnlyLibrary(benchmark::State& state) {
  const auto& bytes = HugeHeaderCut();
  for (auto _ : state) {
    jpeg_decompress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    benchmark::DoNotOptimize(info.image_width);
    jpeg_destroy_decompress(&info);
  }
}
BENCHMARK(BM_JpegHeaderOnlyLibrary)->Unit(benchmark::kMicrosecond);

void BM_PngEncodeLevel9(benchmark::State& state) {
  TBitmap32 b;
  MakePhoto(b, 4000, 3000);
  kdl::TdtpPngFormat png;
  std::int64_t size = 0;
  for (auto _ : state) {
    kdl::TMemoryStream s;
    png.SaveToStream(&s, &b);
    size = s.Size();
  }
  state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_PngEncodeLevel9)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_GifQuantiseAndDither(benchmark::State& state) {
  TBitmap32 b;
  MakePhoto(b, 1000, 1000);
  kdl::TdtpGifFormat gif;
  for (auto _ : state) {
    kdl::TMemoryStream s;
    gif.SaveToStream(&s, &b);
    benchmark::DoNotOptimize(s.Memory());
  }
  state.SetItemsProcessed(state.iterations() * 1000 * 1000);
}
BENCHMARK(BM_GifQuantiseAndDither)->Unit(benchmark::kMillisecond);

// The four planes of a 2000 x 1500 photo, as ".hck" stores them.
const std::vector<std::uint8_t>& Planes() {
  static const std::vector<std::uint8_t> raw = [] {
    TBitmap32 b;
    MakePhoto(b, 2000, 1500);
    const std::size_t n = 2000 * 1500;
    std::vector<std::uint8_t> r(4 * n);
    for (std::size_t i = 0; i < n; ++i) {
      const TColor32 c = b.Bits()[i];
      r[i] = static_cast<std::uint8_t>(c >> 24);
      r[n + i] = static_cast<std::uint8_t>(c >> 16);
      r[2 * n + i] = static_cast<std::uint8_t>(c >> 8);
      r[3 * n + i] = static_cast<std::uint8_t>(c);
    }
    return r;
  }();
  return raw;
}

std::vector<std::uint8_t> HckPack(const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> work(raw);
  std::vector<std::uint8_t> packed;
  kdl::PackChain(work, packed);
  return packed;
}

void BM_HckPack(benchmark::State& state) {
  const auto& raw = Planes();
  std::size_t size = 0;
  for (auto _ : state) size = HckPack(raw).size();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw.size()));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(raw.size());
}
BENCHMARK(BM_HckPack)->Unit(benchmark::kMillisecond);

void BM_HckUnpack(benchmark::State& state) {
  const auto& raw = Planes();
  const auto packed = HckPack(raw);
  std::vector<std::uint8_t> out(raw.size());
  for (auto _ : state) {
    kdl::UnpackChain(packed.data(), packed.size(), raw.size(), out);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != raw) state.SkipWithError("round trip failed");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw.size()));
}
BENCHMARK(BM_HckUnpack)->Unit(benchmark::kMillisecond);

void BM_ZlibDeflate6(benchmark::State& state) {
  const auto& raw = Planes();
  std::vector<std::uint8_t> out(compressBound(static_cast<uLong>(raw.size())));
  uLongf size = 0;
  for (auto _ : state) {
    size = static_cast<uLongf>(out.size());
    compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw.size()));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(raw.size());
}
BENCHMARK(BM_ZlibDeflate6)->Unit(benchmark::kMillisecond);

void BM_ZlibInflate(benchmark::State& state) {
  const auto& raw = Planes();
  std::vector<std::uint8_t> packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf size = static_cast<uLongf>(packed.size());
  compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6);
  std::vector<std::uint8_t> out(raw.size());
  for (auto _ : state) {
    uLongf n = static_cast<uLongf>(out.size());
    uncompress(out.data(), &n, packed.data(), size);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw.size()));
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

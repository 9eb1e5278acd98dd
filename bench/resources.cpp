// Resource bytes and the cache trim: the mapped stream beside memcpy of the
// same 256 MB (it should stay within 1.3x), the first decode of a
// 12-megapixel JPEG member beside decoding the same bytes from memory
// (within 5%: the resource adds no copy worth the name), and a trim over
// 1,000 resources (painting waits on it: well under 50 us).
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FakeDocument.h"
#include "document/Startup.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/RasterFormats.h"
#include "document/resources/ResourceThread.h"
#include "foundation/BrenlowXml.h"
#include "raster/Bitmap32.h"

namespace {

constexpr std::int64_t kStreamBytes = 256 << 20;
constexpr std::int64_t kChunk = 1 << 20;

void BM_MapStreamWriteRead(benchmark::State& state) {
  std::vector<char> chunk(kChunk, 'x');
  for (auto _ : state) {
    kdl::TMapStream s;
    for (std::int64_t at = 0; at < kStreamBytes; at += kChunk) s.WriteBuffer(chunk.data(), kChunk);
    s.SetPosition(0);
    for (std::int64_t at = 0; at < kStreamBytes; at += kChunk) s.ReadBuffer(chunk.data(), kChunk);
    benchmark::DoNotOptimize(chunk.data());
  }
  state.SetBytesProcessed(state.iterations() * kStreamBytes * 2);
}
BENCHMARK(BM_MapStreamWriteRead)->Unit(benchmark::kMillisecond);

void BM_MemcpyWriteRead(benchmark::State& state) {
  std::vector<char> chunk(kChunk, 'x');
  for (auto _ : state) {
    std::unique_ptr<char[]> block(new char[kStreamBytes]);
    for (std::int64_t at = 0; at < kStreamBytes; at += kChunk) std::memcpy(block.get() + at, chunk.data(), kChunk);
    for (std::int64_t at = 0; at < kStreamBytes; at += kChunk) std::memcpy(chunk.data(), block.get() + at, kChunk);
    benchmark::DoNotOptimize(chunk.data());
  }
  state.SetBytesProcessed(state.iterations() * kStreamBytes * 2);
}
BENCHMARK(BM_MemcpyWriteRead)->Unit(benchmark::kMillisecond);

// A 4000 x 3000 JPEG of a smooth picture, made once.
const std::string& Jpeg() {
  static const std::string bytes = [] {
    kdl::InitializeDocumentLibrary();
    kdl::TBitmap32 picture;
    picture.SetSize(4000, 3000);
    for (std::int32_t y = 0; y < 3000; ++y)
      for (std::int32_t x = 0; x < 4000; ++x)
        picture.Bits()[std::int64_t{y} * 4000 + x] =
            0xFF000000u | static_cast<std::uint32_t>((x / 16) & 255) << 16 |
            static_cast<std::uint32_t>((y / 12) & 255) << 8 | static_cast<std::uint32_t>((x + y) & 255);
    kdl::TMemoryStream s;
    kdl::TdtpImageFiler filer;
    filer.SetFormat(".jpg");
    filer.SetStream(&s);
    filer.SaveBitmap(&picture);
    return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
  }();
  return bytes;
}

void BM_FirstGetBitmapOfJpegMember(benchmark::State& state) {
  kdl::testing::FakeDocument doc;
  kdl::TMemoryStream member;
  member.WriteBuffer(Jpeg().data(), static_cast<std::int64_t>(Jpeg().size()));
  doc.Storage()->WriteStream("TMP0000001.jpg", member);
  kdl::TBrenlowXml xml;
  xml.ReadFromString("<Resource><ArchiveName>TMP0000001.jpg</ArchiveName><FileName>a.jpg</FileName>"
                     "<Storage>Archive</Storage></Resource>");
  for (auto _ : state) {
    auto r = kdl::TdtpResource::Create<kdl::TdtpBitmapResource>(&doc);
    r->LoadFromXml(*xml.Root());
    kdl::TResourceAccess access(*r);
    benchmark::DoNotOptimize(r->GetBitmap());
  }
}
BENCHMARK(BM_FirstGetBitmapOfJpegMember)->Unit(benchmark::kMillisecond);

void BM_LoadJpegFromMemory(benchmark::State& state) {
  kdl::TMemoryStream bytes;
  bytes.WriteBuffer(Jpeg().data(), static_cast<std::int64_t>(Jpeg().size()));
  for (auto _ : state) {
    kdl::TBitmap32 bitmap;
    bytes.SetPosition(0);
    kdl::LoadBitmapFromStream(&bytes, ".jpg", &bitmap, 0, 0, 0);
    benchmark::DoNotOptimize(bitmap.Bits());
  }
}
BENCHMARK(BM_LoadJpegFromMemory)->Unit(benchmark::kMillisecond);

void BM_PurgeThousandResources(benchmark::State& state) {
  kdl::InitializeDocumentLibrary();
  kdl::ResourceThread().Stop();
  kdl::testing::FakeDocument doc;
  kdl::TBrenlowXml xml;
  xml.ReadFromString("<Resource><Data><Size>3</Size><Filter>BinHex</Filter><Buffer>424D00</Buffer></Data>"
                     "<Storage>Embedded</Storage></Resource>");
  std::vector<std::unique_ptr<kdl::TdtpBitmapResource>> resources;
  for (int i = 0; i < 1000; ++i) {
    resources.push_back(kdl::TdtpResource::Create<kdl::TdtpBitmapResource>(&doc));
    resources.back()->LoadFromXml(*xml.Root());
  }
  for (auto _ : state) kdl::ResourceThread().Purge(true);
  resources.clear();
  kdl::ResourceThread().Start();
}
BENCHMARK(BM_PurgeThousandResources)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

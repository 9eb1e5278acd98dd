// Exporting a label as PDF at 600 dpi: a "CD Front" whose picture is a
// 3000 x 3000 photo (a page picture of 3094 x 3070 pixels), and a "DVD"
// label (6708 x 4582); beside them the CD front printed at 600 dpi to a
// PDF-format printer. Each run reports the process's peak resident size,
// reset through /proc/self/clear_refs just before the timed call. The floor
// runs in the same binary: libjpeg-turbo encoding a picture of the CD
// front's size at quality 100 from memory that is already filled.
#include <benchmark/benchmark.h>
#include "BenchMain.h"
#include <unistd.h>

#include <QApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

// After <cstdio>: libjpeg's header uses FILE.
#include <jpeglib.h>

#include "app/Localizer.h"
#include "app/output/PdfExport.h"
#include "app/output/PrintHelper.h"
#include "app/project/DtpHelper.h"
#include "app/project/Templates.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "document/resources/formats/JpgFormat.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/Stream.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/PrinterService.h"
#include "raster/Bitmap32.h"

namespace {

constexpr int kCDFront = 0, kDVD = 3;
constexpr int kPhotoSide = 3000;
constexpr int kFloorWidth = 3094, kFloorHeight = 3070;

std::filesystem::path Scratch() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("kdl-bench-pdf-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

// VmHWM and VmRSS in MiB.
double StatusMiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::stod(line.substr(prefix.size())) / 1024;  // kB
  return 0;
}

// The peak resident size starts again from the current one.
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void StartCompress(jpeg_compress_struct& info, int width, int height, int components, J_COLOR_SPACE space,
                   int quality) {
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
}

// A photo-like picture: smooth colour fields with fine grain, so that JPEG
// has real detail to keep. Written a row at a time, so that making it
// leaves no large block behind in the heap that the measured runs reuse.
void MakePhoto(const std::filesystem::path& file) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> grain(-12, 12);
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) std::abort();
  jpeg_compress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  StartCompress(info, kPhotoSide, kPhotoSide, 3, JCS_RGB, 90);
  std::vector<unsigned char> row(static_cast<std::size_t>(kPhotoSide) * 3);
  for (int y = 0; y < kPhotoSide; ++y) {
    for (int x = 0; x < kPhotoSide; ++x) {
      unsigned char* p = &row[static_cast<std::size_t>(x) * 3];
      p[0] = static_cast<unsigned char>(std::clamp(x * 255 / kPhotoSide + grain(rng), 0, 255));
      p[1] = static_cast<unsigned char>(std::clamp(y * 255 / kPhotoSide + grain(rng), 0, 255));
      p[2] = static_cast<unsigned char>(std::clamp(((x / 97 + y / 61) & 1 ? 200 : 60) + grain(rng), 0, 255));
    }
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(out);
}

void Setup() {
  static const bool done = [] {
    kdl::InitializeDocumentLibrary();
    kdl::RegisterApplicationShapeClasses();
    kdl::SetProgramFolder(std::filesystem::path(KDL_SOURCE_DIR) / "resources");
    kdl::Localizer().LoadFromFile(kdl::ProgramFolder() / "Languages" / "English.lng");
    MakePhoto(Scratch() / "photo.jpg");
    return true;
  }();
  (void)done;
}

// A label of the type with the photo in its picture frame, drawn once as
// the screen would have it, so that the photo is decoded before timing.
std::unique_ptr<kdl::TdtpDocument> MakeLabel(int type) {
  Setup();
  auto doc = std::make_unique<kdl::TdtpDocument>();
  doc->SetStoreThumbnails(false);
  kdl::CreateTemplate(*doc, type);
  kdl::LoadImageIntoShape(*doc, kdl::kImageIndex, (Scratch() / "photo.jpg").string());
  kdl::PrepareForOutput(*doc, false);
  benchmark::DoNotOptimize(doc->GetCurrentPage()->RenderThumbnail(200, 200, kdl::dtPrinter, 0));
  return doc;
}

// The resident size before the first timed call, and the peak during it:
// later calls reuse what the allocator kept and would hide the first peak.
class TPeakMeter {
 public:
  void Start() {
    if (done_) return;
    base_ = StatusMiB("VmRSS");
    ResetPeak();
  }
  void Stop() {
    if (done_) return;
    peak_ = StatusMiB("VmHWM");
    done_ = true;
  }
  void Report(benchmark::State& state) const {
    state.counters["base_MiB"] = base_;
    state.counters["peak_MiB"] = peak_;
  }

 private:
  bool done_ = false;
  double base_ = 0, peak_ = 0;
};

void ExportAt600(benchmark::State& state, int type) {
  std::unique_ptr<kdl::TdtpDocument> doc = MakeLabel(type);
  const std::string file = (Scratch() / "label.pdf").string();
  TPeakMeter meter;
  for (auto _ : state) {
    meter.Start();
    kdl::SaveDocumentToPdf(*doc, file, 2);
    meter.Stop();
  }
  meter.Report(state);
  state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(file)) / (1 << 20);
}

void BM_CDFrontPdf600(benchmark::State& state) { ExportAt600(state, kCDFront); }
BENCHMARK(BM_CDFrontPdf600)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_DVDPdf600(benchmark::State& state) { ExportAt600(state, kDVD); }
BENCHMARK(BM_DVDPdf600)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CDFrontPrint600(benchmark::State& state) {
  std::unique_ptr<kdl::TdtpDocument> doc = MakeLabel(kCDFront);
  kdl::SetPrinterNames(std::vector<std::string>{"Bench"});
  QPrinter& printer = kdl::CurrentPrinter();
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString((Scratch() / "sheet.pdf").string()));
  printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(5, 5, 5, 5),
                                    QPageLayout::Millimeter));
  TPeakMeter meter;
  for (auto _ : state) {
    meter.Start();
    kdl::PrintLabel(*doc);
    meter.Stop();
  }
  meter.Report(state);
  state.counters["dpi"] = printer.resolution();
  kdl::SetPrinterNames(std::nullopt);
}
BENCHMARK(BM_CDFrontPrint600)->Unit(benchmark::kMillisecond)->Iterations(3);

// The floor: libjpeg-turbo alone, quality 100, rows from a filled picture
// into memory.
void BM_JpegFloor(benchmark::State& state) {
  std::unique_ptr<kdl::TdtpDocument> doc = MakeLabel(kCDFront);
  std::unique_ptr<kdl::TBitmap32> picture =
      doc->GetCurrentPage()->RenderThumbnail(kFloorWidth, kFloorHeight, kdl::dtPrinter, 0);
  doc.reset();
  TPeakMeter meter;
  std::size_t bytes = 0;
  for (auto _ : state) {
    meter.Start();
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    StartCompress(info, kFloorWidth, kFloorHeight, 4, JCS_EXT_BGRX, 100);
    while (info.next_scanline < info.image_height) {
      const auto y = static_cast<std::int32_t>(info.next_scanline);
      auto* row = reinterpret_cast<JSAMPROW>(picture->ScanLine(y));
      jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    bytes = size;
    std::free(out);
    meter.Stop();
  }
  meter.Report(state);
  state.counters["jpeg_MiB"] = static_cast<double>(bytes) / (1 << 20);
}
BENCHMARK(BM_JpegFloor)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  bench::UseOffscreenPlatform();
  QApplication app(argc, argv);
  const int status = bench::RunBenchmarks(argc, argv);
  if (status != 0) return status;
  std::error_code ec;
  std::filesystem::remove_all(Scratch(), ec);
  return 0;
}

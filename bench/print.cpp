// Printing an A4 page at 600 dpi (4961 x 7016 device pixels) in bands: a
// stretched background image under 30 shapes (upright, turned and
// translucent rectangles), sent to a surface that drops the bands and to a
// PDF-format QPrinter. Each run reports the growth of the process's peak
// resident size. Peer in the same binary: cairo drawing the same scene into
// one whole-page image surface (139 MB), run last so that its peak does
// not hide ours.
#include <benchmark/benchmark.h>
#include "BenchMain.h"
#include <sys/resource.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

#include "FakeDocument.h"
#include "PageScene.h"
#include "PdfPrinter.h"
#include "QtApplication.h"
#include "RenderTestShapes.h"
#include "document/Startup.h"
#include "document/resources/BitmapResource.h"
#include "document/view/Page.h"
#include "platform/qt/Printer.h"

namespace {

constexpr double kDpm = 600 / 25.4;
constexpr kdl::TRect kSheet{0, 0, 4961, 7016};

// The benchmark library calls each function more than once; growth counts
// from before its first call, so that later calls report the first peak too.
double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
}

struct Rect {
  float L, T, W, H, Angle;
  int Alpha;
};

std::vector<Rect> SceneRects() {
  std::vector<Rect> rects;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 4; ++i) rects.push_back({12 + i * 48.0f, 15 + j * 52.0f, 36, 30, 0, 255});
  for (int k = 0; k < 6; ++k) rects.push_back({20 + k * 30.0f, 250, 20, 14, 15.0f * (k + 1), 255});
  for (int k = 0; k < 4; ++k) rects.push_back({30 + k * 40.0f, 272, 30, 18, 0, 140});
  return rects;
}

struct Scene {
  Scene() {
    kdl::InitializeDocumentLibrary();
    page.SetDocument(&doc);
    kdl::TBitmap32 image;
    kdl::bench::BackgroundImage(image);
    page.SetIsDefaultPage(false);
    page.BackgroundResource().SetBitmap(&image);
    for (const Rect& r : SceneRects()) {
      auto shape = std::make_unique<kdl::testing::RectShape>();
      shape->SetDocBoundsAngle(r.L, r.T, r.W, r.H, r.Angle);
      shape->SetMasterAlpha(r.Alpha);
      page.AddShape(std::move(shape));
    }
  }
  kdl::testing::FakeDocument doc;
  kdl::TdtpPage page;
};

class NullSurface : public kdl::TPrintSurface {
 public:
  void BeginDoc(const std::string&) override {}
  void NewPage() override {}
  void EndDoc() override {}
  void Abort() override {}
  kdl::TDeviceRect SheetRect() const override { return {0, 0, kSheet.Right, kSheet.Bottom}; }
  double Dpm() const override { return kDpm; }
  void DrawBand(std::int32_t, std::int32_t, const kdl::TBandPixels& band) override {
    benchmark::DoNotOptimize(band.Bits[0]);
  }
};

void BM_BandsToNullSurface(benchmark::State& state) {
  static const double before = PeakMiB();
  Scene scene;
  NullSurface surface;
  for (auto _ : state) {
    scene.page.ClearCaches();
    scene.page.PrintPage(surface, kSheet, static_cast<float>(kDpm), 0, false, false);
  }
  state.counters["peak_growth_MiB"] = PeakMiB() - before;
}
BENCHMARK(BM_BandsToNullSurface)->Unit(benchmark::kMillisecond);

void BM_BandsToPdfPrinter(benchmark::State& state) {
  static const double before = PeakMiB();
  kdl::test::EnsureApplication();
  Scene scene;
  const auto pdf = std::filesystem::temp_directory_path() / "kdl-bench-print.pdf";
  kdl::TQtPrintSurface surface;
  kdl::test::PrintToPdf(surface, pdf);
  for (auto _ : state) {
    scene.page.ClearCaches();
    surface.BeginDoc("Bench");
    const kdl::TDeviceRect sheet = surface.SheetRect();
    scene.page.PrintPage(surface, {sheet.Left, sheet.Top, sheet.Right, sheet.Bottom},
                         static_cast<float>(surface.Dpm()), 0, false, false);
    surface.EndDoc();
  }
  state.counters["peak_growth_MiB"] = PeakMiB() - before;
  std::error_code ec;
  std::filesystem::remove(pdf, ec);
}
BENCHMARK(BM_BandsToPdfPrinter)->Unit(benchmark::kMillisecond);

#if KDL_HAVE_CAIRO
// The same scene with cairo into one whole-page surface.
void BM_CairoWholePage(benchmark::State& state) {
  static const double before = PeakMiB();
  const kdl::bench::CairoBackground image;
  const std::vector<Rect> rects = SceneRects();
  for (auto _ : state) {
    cairo_surface_t* target =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSheet.Right, kSheet.Bottom);
    cairo_t* cr = cairo_create(target);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    image.Paint(cr, kSheet.Right, kSheet.Bottom);
    cairo_scale(cr, kDpm, kDpm);
    for (const Rect& r : rects) {
      cairo_save(cr);
      cairo_translate(cr, r.L, r.T);
      cairo_rotate(cr, -r.Angle * std::numbers::pi / 180);
      cairo_rectangle(cr, 0, 0, r.W, r.H);
      cairo_set_source_rgba(cr, 0x20 / 255.0, 0x60 / 255.0, 0xA0 / 255.0, r.Alpha / 255.0);
      cairo_fill(cr);
      cairo_restore(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(target);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(target));
    cairo_surface_destroy(target);
  }
  state.counters["peak_growth_MiB"] = PeakMiB() - before;
}
BENCHMARK(BM_CairoWholePage)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

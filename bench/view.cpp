// Repainting the document window: a 1920 x 1080 client area on the
// offscreen platform, through the whole paint event (the page rendered into
// the clip's bitmap and drawn into the backing store), at fit width and at
// 25, 100 and 400 % of actual size (100 % = 96 dpi), with 30 and with 300
// shapes: upright, turned and translucent rectangles (the last two through
// their render caches) and groups of two, over a stretched background
// image; with warm caches and after ClearCaches. Peer in the same binary:
// cairo drawing the same scene at the same scale and offset into a
// 1920 x 1080 image surface; floor: memcpy of the 8.3 MB frame. Then the
// user's labels, a CD Front and a DVD opened from saved projects holding a
// 3000 x 3000 photo, repainted at fit width, 100 % and 400 % beside a
// widget of the same size whose paint event draws the same label with
// QPainter (the photo's crop over its frame, the texts, the lines), in the
// same rounds. Last, a three-page job at 600 dpi to a PDF-format QPrinter.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QApplication>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

#include "PageScene.h"
#include "Rounds.h"
#include "PdfPrinter.h"
#include "QtApplication.h"
#include "RenderTestShapes.h"
#include "document/Startup.h"
#include "document/kinds/GroupShape.h"
#include "document/resources/BitmapResource.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/qt/Printer.h"

namespace {

using kdl::bench::BackgroundImage;

constexpr int kClientW = 1920, kClientH = 1080;
// 96 dpi in pixels per mm: "actual size" on a common screen.
constexpr double kActualDpm = 96 / 25.4;
// Zoom arguments: 0 is fit width, others percent of actual size.
constexpr int kFitWidth = 0;

enum Kind { kUpright, kTurned, kTranslucent, kGroup };

struct Item {
  float L, T, W, H, Angle;
  int Alpha;
  Kind K;
  std::uint32_t Color;
};

// n shapes in a grid over an A4 page; every sixth kind repeats.
std::vector<Item> SceneItems(int n) {
  const int cols = n <= 30 ? 5 : 15;
  const int rows = (n + cols - 1) / cols;
  const float cw = 190.0f / cols, ch = 277.0f / static_cast<float>(rows);
  std::vector<Item> items;
  for (int i = 0; i < n; ++i) {
    const float l = 10 + static_cast<float>(i % cols) * cw + cw * 0.1f;
    const float t = 10 + static_cast<float>(i / cols) * ch + ch * 0.1f;
    const float w = cw * 0.8f, h = ch * 0.8f;
    switch (i % 6) {
      case 3: items.push_back({l, t, w * 0.8f, h * 0.8f, 15.0f + static_cast<float>(i % 7) * 10, 255, kTurned, 0xFFC03010u}); break;
      case 4: items.push_back({l, t, w, h, 0, 140, kTranslucent, 0xFF10A040u}); break;
      case 5: items.push_back({l, t, w, h, 0, 255, kGroup, 0xFF8020C0u}); break;
      default: items.push_back({l, t, w, h, 0, 255, kUpright, 0xFF2060A0u}); break;
    }
  }
  return items;
}

std::unique_ptr<kdl::TdtpShape> MakeShape(const Item& item) {
  if (item.K == kGroup) {
    auto group = std::make_unique<kdl::TdtpGroupShape>();
    group->SetDocBoundsAngle(item.L, item.T, item.W, item.H, 0);
    for (int k = 0; k < 2; ++k) {
      auto child = std::make_unique<kdl::testing::RectShape>();
      child->Color = item.Color;
      child->SetDocBoundsAngle(static_cast<float>(k) * item.W / 2, 0, item.W / 2 - 1, item.H, 0);
      group->AddShape(std::move(child));
    }
    return group;
  }
  auto shape = std::make_unique<kdl::testing::RectShape>();
  shape->Color = item.Color;
  shape->SetDocBoundsAngle(item.L, item.T, item.W, item.H, item.Angle);
  shape->SetMasterAlpha(item.Alpha);
  return shape;
}

void FillPage(kdl::TdtpPage& page, int shapes, const kdl::TBitmap32& image) {
  page.SetIsDefaultPage(false);
  page.BackgroundResource().SetBitmap(&image);
  for (const Item& item : SceneItems(shapes)) page.AddShape(MakeShape(item));
}

// A shown document whose client area is exactly 1920 x 1080.
struct ViewScene {
  ViewScene(int shapes, int zoom) {
    kdl::test::EnsureApplication();
    kdl::InitializeDocumentLibrary();
    doc = std::make_unique<kdl::TdtpDocument>();
    doc->resize(kClientW, kClientH);
    doc->show();
    QApplication::processEvents();
    doc->resize(2 * kClientW - doc->ClientWidth(), 2 * kClientH - doc->ClientHeight());
    QApplication::processEvents();
    kdl::TBitmap32 image;
    BackgroundImage(image);
    FillPage(*doc->GetCurrentPage(), shapes, image);
    if (zoom == kFitWidth) {
      doc->ZoomReset();
    } else {
      doc->SetAutoWidth(false);
      doc->SetScreenDpm(static_cast<float>(kActualDpm * zoom / 100));
      doc->PageSizeChanged();
      // The middle of the page, where the window is full of shapes.
      std::int32_t dx = static_cast<std::int32_t>(doc->VirtualWidth() - kClientW) / 2;
      std::int32_t dy = static_cast<std::int32_t>(doc->VirtualHeight() - kClientH) / 2;
      doc->ScrollBy(dx, dy);
    }
    QApplication::processEvents();
  }
  std::unique_ptr<kdl::TdtpDocument> doc;
};

void BM_Repaint(benchmark::State& state) {
  const int shapes = static_cast<int>(state.range(0));
  const int zoom = static_cast<int>(state.range(1));
  const bool cold = state.range(2) != 0;
  ViewScene scene(shapes, zoom);
  kdl::TdtpPage& page = *scene.doc->GetCurrentPage();
  scene.doc->viewport()->repaint();
  for (auto _ : state) {
    if (cold) page.ClearCaches();
    scene.doc->viewport()->repaint();
  }
  state.counters["px_per_mm"] = scene.doc->ScreenDpm();
}

#if KDL_HAVE_CAIRO
// The same scene with cairo: desk, paper, the stretched background and the
// shapes, at the document's scale and scroll position.
void BM_CairoScene(benchmark::State& state) {
  const int shapes = static_cast<int>(state.range(0));
  const int zoom = static_cast<int>(state.range(1));
  ViewScene scene(shapes, zoom);
  const double s = scene.doc->ScreenDpm();
  const kdl::TFloatPoint origin = scene.doc->DocToScreen(
      {scene.doc->GetCurrentPage()->DocLeft(), scene.doc->GetCurrentPage()->DocTop()});
  scene.doc.reset();

  const kdl::bench::CairoBackground image;
  cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kClientW, kClientH);
  const std::vector<Item> items = SceneItems(shapes);
  const auto rect = [](cairo_t* cr, double l, double t, double w, double h, std::uint32_t c,
                       double alpha) {
    cairo_rectangle(cr, l, t, w, h);
    cairo_set_source_rgba(cr, ((c >> 16) & 255) / 255.0, ((c >> 8) & 255) / 255.0,
                          (c & 255) / 255.0, alpha);
    cairo_fill(cr);
  };
  for (auto _ : state) {
    cairo_t* cr = cairo_create(target);
    cairo_set_source_rgb(cr, 0x80 / 255.0, 0x80 / 255.0, 0x80 / 255.0);
    cairo_paint(cr);
    cairo_translate(cr, origin.X, origin.Y);
    cairo_scale(cr, s, s);
    rect(cr, 0, 0, 210, 297, 0xFFFFFFFFu, 1);
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, 210, 297);
    cairo_clip(cr);
    image.Paint(cr, 210, 297);
    cairo_restore(cr);
    for (const Item& item : items) {
      cairo_save(cr);
      cairo_translate(cr, item.L, item.T);
      cairo_rotate(cr, -item.Angle * std::numbers::pi / 180);
      if (item.K == kGroup) {
        rect(cr, 0, 0, item.W / 2 - 1, item.H, item.Color, 1);
        rect(cr, item.W / 2, 0, item.W / 2 - 1, item.H, item.Color, 1);
      } else {
        rect(cr, 0, 0, item.W, item.H, item.Color, item.Alpha / 255.0);
      }
      cairo_restore(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(target);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(target));
  }
  cairo_surface_destroy(target);
}
#endif

// The floor: one copy of the frame.
void BM_MemcpyFrame(benchmark::State& state) {
  const std::size_t bytes = std::size_t{kClientW} * kClientH * 4;
  std::vector<unsigned char> from(bytes, 0x5A), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMillisecond);

void ViewArgs(benchmark::internal::Benchmark* b, bool withCold) {
  b->ArgNames({"shapes", "zoom", "cold"});
  for (int shapes : {30, 300})
    for (int zoom : {kFitWidth, 25, 100, 400})
      for (int cold : {0, 1})
        if (withCold || cold == 0) b->Args({shapes, zoom, cold});
}

BENCHMARK(BM_Repaint)->Apply([](auto* b) { ViewArgs(b, true); })->Unit(benchmark::kMillisecond);
#if KDL_HAVE_CAIRO
BENCHMARK(BM_CairoScene)->Apply([](auto* b) { ViewArgs(b, false); })->Unit(benchmark::kMillisecond);
#endif

// A shown document holding a saved label project, its client area exactly
// 1920 x 1080, at fit width or at a percentage of actual size, scrolled to
// the middle of the page.
struct LabelView {
  LabelView(int type, int zoom) {
    doc = std::make_unique<kdl::TdtpDocument>();
    doc->resize(kClientW, kClientH);
    doc->show();
    QApplication::processEvents();
    doc->resize(2 * kClientW - doc->ClientWidth(), 2 * kClientH - doc->ClientHeight());
    kdl::OpenProject(*doc, kdl::bench::PhotoProject(type));
    if (zoom == kFitWidth) {
      doc->ZoomReset();
    } else {
      doc->SetAutoWidth(false);
      doc->SetScreenDpm(static_cast<float>(kActualDpm * zoom / 100));
      doc->PageSizeChanged();
      std::int32_t dx = static_cast<std::int32_t>(doc->VirtualWidth() - kClientW) / 2;
      std::int32_t dy = static_cast<std::int32_t>(doc->VirtualHeight() - kClientH) / 2;
      doc->ScrollBy(dx, dy);
    }
    kdl::bench::UntilPainted(doc->viewport());
  }
  std::unique_ptr<kdl::TdtpDocument> doc;
};

// The yardstick's window: the desk, then the label with QPainter.
class QPainterLabelView : public QWidget {
 public:
  QPainterLabelView(kdl::bench::TLabelScene scene, double dpm, QPointF origin)
      : scene_(std::move(scene)), dpm_(dpm), origin_(origin) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(kClientW, kClientH);
    show();
    kdl::bench::UntilPainted(this);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(0x80, 0x80, 0x80));
    kdl::bench::PaintLabel(p, scene_, dpm_, origin_);
  }

 private:
  kdl::bench::TLabelScene scene_;
  double dpm_;
  QPointF origin_;
};

// Args: template type, zoom (0 fit width, else percent of actual size).
void BM_PhotoLabelRepaint(benchmark::State& state) {
  LabelView view(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  kdl::TdtpPage& page = *view.doc->GetCurrentPage();
  const kdl::TFloatPoint origin = view.doc->DocToScreen({page.DocLeft(), page.DocTop()});
  QPainterLabelView yardstick(kdl::bench::DescribeLabel(*view.doc), view.doc->ScreenDpm(),
                              QPointF(origin.X, origin.Y));
  bench::TRounds rounds(state, "qpainter");
  rounds.Run([&] { view.doc->viewport()->repaint(); }, [&] { yardstick.repaint(); });
  state.counters["px_per_mm"] = view.doc->ScreenDpm();
}
BENCHMARK(BM_PhotoLabelRepaint)
    ->ArgNames({"type", "zoom"})
    ->ArgsProduct({{kdl::bench::kCDFront, kdl::bench::kDVD}, {kFitWidth, 100, 400}})
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Three pages of the 30-shape scene at 600 dpi to a PDF file.
void BM_PrintThreePagesToPdf(benchmark::State& state) {
  kdl::test::EnsureApplication();
  kdl::InitializeDocumentLibrary();
  kdl::TdtpDocument doc;
  kdl::TBitmap32 image;
  BackgroundImage(image);
  doc.SetPageCount(3);
  for (int k = 0; k < 3; ++k) FillPage(*doc.GetPage(k), 30, image);
  doc.SetPrintQuality(kdl::pqHigh);
  const auto pdf = std::filesystem::temp_directory_path() / "kdl-bench-view.pdf";
  kdl::TQtPrintSurface surface;
  kdl::test::PrintToPdf(surface, pdf);
  kdl::SetPrinter(&surface);
  for (auto _ : state) {
    for (int k = 0; k < 3; ++k) doc.GetPage(k)->ClearCaches();
    doc.PrintPages({0, 1, 2});
  }
  kdl::SetPrinter(nullptr);
  std::error_code ec;
  std::filesystem::remove(pdf, ec);
}
BENCHMARK(BM_PrintThreePagesToPdf)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

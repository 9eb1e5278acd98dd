// The image view repainting a 1920 x 1080 view of a 6000 x 4000 picture,
// after one scroll step and after a zoom change, at fit, 100 % and 400 %.
// repaint() includes the blit: the offscreen backing store is an image.
// Peers draw the same visible rectangle: QPainter::drawImage (plain and
// smooth) and pixman's scaled composite.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "raster/Image32.h"

#ifdef KDL_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int kBitmapWidth = 6000;
constexpr int kBitmapHeight = 4000;
constexpr int kViewWidth = 1920;
constexpr int kViewHeight = 1080;
constexpr int kBar = 16;

std::uint32_t PixelAt(int x, int y) {
  return 0xFF000000u | static_cast<std::uint32_t>((x * 255) / kBitmapWidth) << 16 |
         static_cast<std::uint32_t>((y * 255) / kBitmapHeight) << 8 |
         static_cast<std::uint32_t>(127.5 + 127 * std::sin(x * 0.05 + y * 0.03));
}

// The picture as a QImage; the view's bitmap copies it.
const QImage& Picture() {
  static const QImage picture = [] {
    QImage img(kBitmapWidth, kBitmapHeight, QImage::Format_RGB32);
    for (int y = 0; y < kBitmapHeight; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(img.scanLine(y));
      for (int x = 0; x < kBitmapWidth; ++x) row[x] = PixelAt(x, y);
    }
    return img;
  }();
  return picture;
}

double FitScale() {
  return std::min(static_cast<double>(kViewWidth) / kBitmapWidth,
                  static_cast<double>(kViewHeight) / kBitmapHeight);
}

// Arg 1: 0 fit, else the scale in thousandths.
double ScaleOf(std::int64_t code) { return code == 0 ? FitScale() : code / 1000.0; }

kdl::TImgView32& View() {
  static kdl::TImgView32* view = [] {
    auto* v = new kdl::TImgView32;
    v->ScrollBars().SetSize(kBar);
    v->resize(kViewWidth + kBar, kViewHeight + kBar);
    const QImage& p = Picture();
    v->Bitmap().SetSize(kBitmapWidth, kBitmapHeight);
    for (int y = 0; y < kBitmapHeight; ++y) {
      std::copy_n(reinterpret_cast<const std::uint32_t*>(p.constScanLine(y)), kBitmapWidth,
                  v->Bitmap().ScanLine(y));
    }
    v->show();
    // repaint() paints only once the window is exposed.
    for (int i = 0; i < 10 && !v->windowHandle()->isExposed(); ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return v;
  }();
  return *view;
}

// Args: mode (0 one scroll step, 1 zoom change), scale, filter (0 nearest,
// 2 linear).
void BM_ImageViewRepaint(benchmark::State& state) {
  kdl::TImgView32& view = View();
  const double scale = ScaleOf(state.range(1));
  view.Bitmap().SetStretchFilter(static_cast<kdl::TStretchFilter>(state.range(2)));
  view.SetScale(static_cast<float>(scale));
  view.CenterOn(kBitmapWidth / 2, kBitmapHeight / 2);
  view.repaint();
  if (!view.BackBufferValid()) {
    state.SkipWithError("the view did not paint");
    return;
  }
  const kdl::TColor32* buffer = view.BackBuffer().Bits();
  std::int64_t reallocations = 0;
  int step = 1;
  for (auto _ : state) {
    if (state.range(0) == 0) {
      // As the user's click on an arrow button does it.
      kdl::TCustomRangeBar* bar = view.HorzBar();
      kdl::TArrowBar::TUserChange user(*bar);
      step = -step;
      bar->SetPosition(bar->Position() + static_cast<float>(step * bar->Increment()));
    } else {
      step = -step;
      view.SetScale(static_cast<float>(scale * (step > 0 ? 1.0 : 1.01)));
    }
    view.repaint();
    benchmark::DoNotOptimize(view.BackBufferValid());
    if (view.BackBuffer().Bits() != buffer) {
      ++reallocations;
      buffer = view.BackBuffer().Bits();
    }
  }
  state.counters["reallocations"] = static_cast<double>(reallocations);
}

void ViewArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"zoom", "scale_x1000", "filter"});
  for (int mode : {0, 1})
    for (int s : {0, 1000, 4000})
      for (int f : {0, 2}) b->Args({mode, s, f});
  b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_ImageViewRepaint)->Apply(ViewArgs);

// The visible source rectangle at a scale, centred on the picture.
QRectF VisibleSource(double scale) {
  const double w = std::min<double>(kBitmapWidth, kViewWidth / scale);
  const double h = std::min<double>(kBitmapHeight, kViewHeight / scale);
  return {(kBitmapWidth - w) / 2, (kBitmapHeight - h) / 2, w, h};
}

// Args: scale, smooth (0 or 1).
void BM_QPainterDrawImage(benchmark::State& state) {
  const QImage& picture = Picture();
  const double scale = ScaleOf(state.range(0));
  QImage target(kViewWidth, kViewHeight, QImage::Format_RGB32);
  const QRectF source = VisibleSource(scale);
  const QRectF dest(0, 0, source.width() * scale, source.height() * scale);
  for (auto _ : state) {
    QPainter p(&target);
    p.setRenderHint(QPainter::SmoothPixmapTransform, state.range(1) != 0);
    p.drawImage(dest, picture, source);
    p.end();
    benchmark::DoNotOptimize(target.constBits());
  }
}
void PainterArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"scale_x1000", "smooth"});
  for (int s : {0, 1000, 4000})
    for (int smooth : {0, 1}) b->Args({s, smooth});
  b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_QPainterDrawImage)->Apply(PainterArgs);

#ifdef KDL_HAVE_PIXMAN
// Args: scale, filter (0 nearest, 1 bilinear).
void BM_PixmanScaledComposite(benchmark::State& state) {
  const QImage& picture = Picture();
  const double scale = ScaleOf(state.range(0));
  QImage target(kViewWidth, kViewHeight, QImage::Format_RGB32);
  pixman_image_t* s = pixman_image_create_bits(
      PIXMAN_x8r8g8b8, kBitmapWidth, kBitmapHeight,
      const_cast<std::uint32_t*>(reinterpret_cast<const std::uint32_t*>(picture.constBits())),
      kBitmapWidth * 4);
  pixman_image_t* d = pixman_image_create_bits(
      PIXMAN_x8r8g8b8, kViewWidth, kViewHeight, reinterpret_cast<std::uint32_t*>(target.bits()),
      kViewWidth * 4);
  const QRectF source = VisibleSource(scale);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(1 / scale), pixman_double_to_fixed(1 / scale));
  pixman_transform_translate(nullptr, &t, pixman_double_to_fixed(source.x()),
                             pixman_double_to_fixed(source.y()));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, state.range(1) ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST,
                          nullptr, 0);
  const int dw = static_cast<int>(source.width() * scale), dh = static_cast<int>(source.height() * scale);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dw, dh);
    benchmark::DoNotOptimize(target.constBits());
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}
void PixmanArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"scale_x1000", "bilinear"});
  for (int s : {0, 1000, 4000})
    for (int f : {0, 1}) b->Args({s, f});
  b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_PixmanScaledComposite)->Apply(PixmanArgs);
#endif

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

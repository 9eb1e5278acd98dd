// The crop dialog dragging its band over a 6000 x 4000 picture with a
// feather mask: one mouse move to the finished repaint of the view. Beside
// it the same drag and repaint with the overlay's washes switched off, so
// that the difference is the overlay's own cost.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>
#include <cstdint>
#include <memory>

#include "app/CropBitmapDialog.h"
#include "document/Startup.h"
#include "document/effects/MaskEffect.h"
#include "raster/Bitmap32.h"
#include "raster/Image32.h"
#include "raster/Layers.h"

namespace {

constexpr int kBitmapWidth = 6000;
constexpr int kBitmapHeight = 4000;

struct TSetup {
  kdl::TCropBitmapDialog dialog;
  kdl::TdtpMaskEffect effect;
  QPoint grab;

  TSetup() {
    kdl::InitializeDocumentLibrary();
    auto feather = std::make_unique<kdl::TdtpFeatherMask>();
    feather->SetFeather(20);
    effect.AddMask(std::move(feather));
    dialog.SetMaskEffect(&effect);
    dialog.show();
    for (int i = 0; i < 10 && !dialog.windowHandle()->isExposed(); ++i)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    kdl::TBitmap32 picture;
    picture.SetSize(kBitmapWidth, kBitmapHeight);
    for (int y = 0; y < kBitmapHeight; ++y) {
      kdl::TColor32* row = picture.ScanLine(y);
      for (int x = 0; x < kBitmapWidth; ++x)
        row[x] = 0xFF000000u | static_cast<std::uint32_t>(x * 255 / kBitmapWidth) << 16 |
                 static_cast<std::uint32_t>(y * 255 / kBitmapHeight) << 8 | static_cast<std::uint32_t>((x ^ y) & 255);
    }
    dialog.SetBitmap(picture, {1500, 1000, 4500, 3000});
    dialog.View().repaint();
    const kdl::TFloatRect s = dialog.Band()->GetScreenLocation();
    grab = QPoint(static_cast<int>((s.Left + s.Right) / 2), static_cast<int>((s.Top + s.Bottom) / 2));
  }

  void Send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QWidget& view = dialog.View();
    QMouseEvent e(type, QPointF(at), QPointF(view.mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&view, &e);
  }
};

TSetup& Setup() {
  static TSetup* setup = new TSetup;
  return *setup;
}

// Arg: 1 with the overlay, 0 without it.
void BM_CropBandDrag(benchmark::State& state) {
  TSetup& s = Setup();
  kdl::TRubberbandLayer* band = s.dialog.Band();
  const auto overlay = band->OnPaint;
  if (state.range(0) == 0) band->OnPaint = nullptr;
  s.Send(QEvent::MouseButtonPress, s.grab, Qt::LeftButton, Qt::LeftButton);
  int step = 1;
  for (auto _ : state) {
    step = -step;
    s.Send(QEvent::MouseMove, s.grab + QPoint(step > 0 ? 3 : 0, 0), Qt::NoButton, Qt::LeftButton);
    s.dialog.View().repaint();
    benchmark::DoNotOptimize(s.dialog.View().BackBufferValid());
  }
  s.Send(QEvent::MouseButtonRelease, s.grab, Qt::LeftButton, Qt::NoButton);
  band->OnPaint = overlay;
}
BENCHMARK(BM_CropBandDrag)->ArgName("overlay")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

// Dragging one shape across a 1920 x 1080 window onto a page of 300
// shapes at 100 % and 400 % of actual size (100 % = 96 dpi): per mouse
// move, HandleDrag of the selection and the repaint of what the drag
// outline covered before and covers now. Beside it the full repaint of the
// same window, the cost a move would have if it repainted everything. A
// move must fit a 60 Hz frame (16.7 ms) and should stay below 4 ms.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QApplication>
#include <QRegion>
#include <memory>

#include "QtApplication.h"
#include "RenderTestShapes.h"
#include "document/Startup.h"
#include "document/view/Document.h"
#include "document/view/Page.h"

namespace {

constexpr int kWindowW = 1920, kWindowH = 1080;
constexpr double kActualSizeDpm = 96 / 25.4;
constexpr int kShapeCount = 300;

// A shown document with an exact 1920 x 1080 client area, scrolled to the
// middle of a page full of shapes; the middle shape is selected.
class DragScene {
 public:
  explicit DragScene(int zoomPercent) {
    kdl::test::EnsureApplication();
    kdl::InitializeDocumentLibrary();
    doc_ = std::make_unique<kdl::TdtpDocument>();
    doc_->show();
    doc_->resize(kWindowW, kWindowH);
    QApplication::processEvents();
    doc_->resize(2 * kWindowW - doc_->ClientWidth(), 2 * kWindowH - doc_->ClientHeight());
    kdl::TdtpPage& page = *doc_->GetCurrentPage();
    // 15 x 20 shapes over the printable area; every fourth turned.
    for (int i = 0; i < kShapeCount; ++i) {
      auto shape = std::make_unique<kdl::testing::RectShape>();
      shape->Color = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
      const float left = 10 + static_cast<float>(i % 15) * 12.6f;
      const float top = 10 + static_cast<float>(i / 15) * 13.8f;
      shape->SetDocBoundsAngle(left, top, 10, 11, i % 4 == 3 ? 30.0f : 0.0f);
      page.AddShape(std::move(shape));
    }
    doc_->SetAutoWidth(false);
    doc_->SetScreenDpm(static_cast<float>(kActualSizeDpm * zoomPercent / 100));
    doc_->PageSizeChanged();
    std::int32_t dx = static_cast<std::int32_t>(doc_->VirtualWidth() - kWindowW) / 2;
    std::int32_t dy = static_cast<std::int32_t>(doc_->VirtualHeight() - kWindowH) / 2;
    doc_->ScrollBy(dx, dy);
    page.GetShape(kShapeCount / 2 + 7)->SetSelected(true);
    doc_->viewport()->repaint();
    doc_->ClearUndo();
  }

  kdl::TdtpDocument& Doc() { return *doc_; }

  // One mouse move: the selection previews the drag by delta (mm) and the
  // window repaints what the outline left and what it covers now.
  void Move(kdl::TFloatPoint delta) {
    kdl::TdtpPage& page = *doc_->GetCurrentPage();
    QRegion dirty;
    for (int i = 0; i < page.GetShapeCount(); ++i) {
      kdl::TdtpShape* shape = page.GetShape(i);
      if (!shape->Selected()) continue;
      dirty += Rect(shape->GetUpdateRect(), outline_);
      kdl::TAffineMatrix matrix;
      shape->HandleDrag(delta, false, kdl::hcBody, matrix);
      outline_ = Moved(shape->GetUpdateRect(), delta);
      dirty += outline_;
    }
    doc_->viewport()->repaint(dirty);
  }

 private:
  // The outline's pixels: the frame's update rectangle moved by the drag.
  QRect Moved(const kdl::TRect& r, kdl::TFloatPoint delta) const {
    const float dpm = doc_->ScreenDpm();
    return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top)
        .translated(static_cast<int>(delta.X * dpm), static_cast<int>(delta.Y * dpm));
  }
  static QRegion Rect(const kdl::TRect& r, const QRect& previous) {
    return QRegion(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top)) + previous;
  }

  std::unique_ptr<kdl::TdtpDocument> doc_;
  QRect outline_;
};

void BM_DragMove(benchmark::State& state) {
  DragScene scene(static_cast<int>(state.range(0)));
  // Back and forth over 40 mm in steps of half a millimetre.
  int step = 0;
  for (auto _ : state) {
    const int phase = step++ % 160;
    const float x = static_cast<float>(phase < 80 ? phase : 160 - phase) * 0.5f;
    scene.Move({x, x * 0.5f});
  }
}
BENCHMARK(BM_DragMove)->ArgName("zoom")->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);

void BM_FullRepaint(benchmark::State& state) {
  DragScene scene(static_cast<int>(state.range(0)));
  for (auto _ : state) scene.Doc().viewport()->repaint();
}
BENCHMARK(BM_FullRepaint)->ArgName("zoom")->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

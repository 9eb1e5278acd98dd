// Interactive editing: hovering over a page of 300 rectangles (a mouse
// move runs the document's hit test and picks the cursor; budget 1 ms per
// move), beside the floor of testing 300 rectangles for the point; and a
// freehand stroke growing to 5,000 points, each point's update within a
// 60 Hz frame (16.7 ms), reported per point.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QApplication>
#include <QMouseEvent>
#include <memory>
#include <vector>

#include "QtApplication.h"
#include "document/Startup.h"
#include "document/kinds/FreehandShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/view/Document.h"
#include "document/view/Page.h"

namespace {

struct Window {
  std::unique_ptr<QWidget> host;
  kdl::TdtpDocument* doc = nullptr;
  Window() {
    kdl::test::EnsureApplication();
    kdl::InitializeDocumentLibrary();
    host = std::make_unique<QWidget>();
    host->resize(1280, 900);
    doc = new kdl::TdtpDocument();
    doc->SetParent(host.get());
    doc->setGeometry(0, 0, 1280, 900);
    host->show();
    doc->SetUndoEnabled(false);
  }
};

void Move(kdl::TdtpDocument& doc, QPoint p, Qt::MouseButtons buttons) {
  QWidget* view = doc.viewport();
  QMouseEvent e(QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton, buttons, {});
  QApplication::sendEvent(view, &e);
}

std::vector<QRect> Scatter(kdl::TdtpDocument& doc) {
  std::vector<QRect> rects;
  for (int i = 0; i < 300; ++i) {
    auto shape = std::make_unique<kdl::TdtpRectangleShape>();
    const float x = 10 + static_cast<float>(i % 20) * 9.5f, y = 10 + static_cast<float>(i / 20) * 18;
    shape->SetDocBounds(x, y, 8, 15);
    const kdl::TFloatPoint a = shape->LocalToScreen({0, 0});
    rects.emplace_back(QPoint(int(a.X), int(a.Y)), QSize(30, 60));
    doc.AddShape(std::move(shape));
  }
  return rects;
}

void BM_HoverOver300Shapes(benchmark::State& state) {
  Window w;
  Scatter(*w.doc);
  int i = 0;
  for (auto _ : state) {
    Move(*w.doc, QPoint(5 + (i * 37) % 1200, 5 + (i * 53) % 850), Qt::NoButton);
    ++i;
  }
}
BENCHMARK(BM_HoverOver300Shapes)->Unit(benchmark::kMicrosecond);

void BM_RectContainsFloor(benchmark::State& state) {
  Window w;
  const std::vector<QRect> rects = Scatter(*w.doc);
  int i = 0;
  for (auto _ : state) {
    const QPoint p(5 + (i * 37) % 1200, 5 + (i * 53) % 850);
    int hits = 0;
    for (const QRect& r : rects) hits += r.contains(p) ? 1 : 0;
    benchmark::DoNotOptimize(hits);
    ++i;
  }
}
BENCHMARK(BM_RectContainsFloor)->Unit(benchmark::kMicrosecond);

void BM_FreehandStroke5000Points(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Window w;
    auto shape = std::make_unique<kdl::TdtpFreehandShape>();
    shape->SetDocBounds(20, 20, 10, 10);
    kdl::TdtpFreehandShape& f = *shape;
    w.doc->AddShape(std::move(shape));
    w.doc->EditShape(&f);
    QWidget* view = w.doc->viewport();
    QMouseEvent down(QEvent::MouseButtonPress, QPoint(100, 100), view->mapToGlobal(QPoint(100, 100)),
                     Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(view, &down);
    state.ResumeTiming();
    for (int k = 1; k <= 5000; ++k)
      Move(*w.doc, QPoint(100 + (k % 400) * 2, 100 + k / 400 * 4 + (k % 2) * 3), Qt::LeftButton);
    state.PauseTiming();
    w.doc->EndEdit(true);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_FreehandStroke5000Points)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

// The program's start, in process on the offscreen platform: the main
// window built, shown and run until the preview's first finished paint.
// Beside it a bare QMainWindow of the same size shown until its first
// paint: the floor that no start can go below.
//   window/templates:1  templates present, wizard off
//   window/templates:0  an empty templates folder: the seven files written
//   open_photo          opening a saved CD Front holding a 3000 x 3000
//                       photo, up to the preview's first paint
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QApplication>
#include <QImage>
#include <QMainWindow>
#include <QSettings>
#include <QStandardPaths>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/ApplicationSetup.h"
#include "app/MainForm.h"
#include "app/Settings.h"
#include "app/project/DtpHelper.h"
#include "app/project/Templates.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/ErrorDisplay.h"

namespace {

namespace fs = std::filesystem;

fs::path Scratch() {
  static const fs::path folder = [] {
    std::string name = (fs::temp_directory_path() / "kdl-bench-XXXXXX").string();
    if (!mkdtemp(name.data())) std::abort();
    return fs::path(name);
  }();
  return folder;
}

// Counts the paints of one widget.
class TPaintWatch : public QObject {
 public:
  explicit TPaintWatch(QWidget* widget) { widget->installEventFilter(this); }
  bool painted = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
};

// Runs the event loop until the widget has finished a paint: the filter
// sees the event just before the widget paints, and the paint ends before
// the loop returns.
void UntilPainted(QWidget* widget) {
  TPaintWatch watch(widget);
  while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  QCoreApplication::processEvents();
}

void StoreSettings() {
  kdl::TSettings s;
  s.RunWizardOnStartup = false;
  kdl::SaveSettings(*kdl::OpenUserSettings(), s);
}

void BM_BareWindow(benchmark::State& state) {
  for (auto _ : state) {
    QMainWindow window;
    window.resize(920, 635);
    window.show();
    UntilPainted(&window);
  }
}
BENCHMARK(BM_BareWindow)->Unit(benchmark::kMillisecond);

// Arg: 1 with the templates written, 0 with an empty templates folder.
void BM_MainWindow(benchmark::State& state) {
  StoreSettings();
  for (auto _ : state) {
    if (state.range(0) == 0) {
      state.PauseTiming();
      fs::remove_all(kdl::TemplatesFolder());
      fs::create_directories(kdl::TemplatesFolder());
      state.ResumeTiming();
    }
    kdl::TMainForm form;
    if (!form.Start()) state.SkipWithError("templates not written");
    form.show();
    UntilPainted(form.Document().viewport());
  }
}
BENCHMARK(BM_MainWindow)->ArgName("templates")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_OpenPhotoProject(benchmark::State& state) {
  StoreSettings();
  const fs::path photo = Scratch() / "photo.jpg";
  const fs::path project = Scratch() / "photo.ovx";
  {
    QImage image(3000, 3000, QImage::Format_RGB32);
    for (int y = 0; y < 3000; ++y)
      for (int x = 0; x < 3000; ++x) image.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
    image.save(QString::fromStdString(photo.string()), "JPG", 90);
    kdl::TdtpDocument doc;
    doc.SetStoreThumbnails(false);
    kdl::OpenProject(doc, kdl::GetTemplateFileName(0));
    kdl::LoadImageIntoShape(doc, kdl::kImageIndex, photo.string());
    kdl::SaveProjectFile(doc, project.string());
  }
  kdl::TMainForm form;
  form.Start();
  form.show();
  UntilPainted(form.Document().viewport());
  for (auto _ : state) {
    kdl::OpenProject(form.Document(), project.string());
    form.ProjectChanged();
    UntilPainted(form.Document().viewport());
    state.PauseTiming();
    if (auto* page = form.Document().GetCurrentPage()) page->ClearShapes();
    form.ProjectChanged();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenPhotoProject)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bench::UseOffscreenPlatform();
  // Settings and templates in scratch folders, never the user's.
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((Scratch() / "config").string()));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString((Scratch() / "data").string()));
  QApplication app(argc, argv);
  kdl::InitializeDocumentLibrary();
  kdl::RegisterApplicationShapeClasses();
  kdl::SetApplicationFont();
  kdl::SetErrorDisplay([](const std::string&) {});
  // The shipped assets of the source tree: languages, default picture.
  kdl::SetProgramFolder(fs::path(__FILE__).parent_path().parent_path() / "resources");
  // The first window also pays for the fonts and styles Qt loads once.
  {
    StoreSettings();
    kdl::TMainForm form;
    form.Start();
  }
  const int status = bench::RunBenchmarks(argc, argv);
  if (status != 0) return status;
  kdl::FinalizeDocumentLibrary();
  std::error_code ec;
  fs::remove_all(Scratch(), ec);
  return 0;
}

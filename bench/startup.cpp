// The program's start, in process on the offscreen platform: the main
// window built, shown and run until the preview's first finished paint.
// Beside it a bare QMainWindow of the same size shown until its first
// paint: the floor that no start can go below.
//   window/templates:1  templates present, wizard off
//   window/templates:0  an empty templates folder: the seven files written
//   OpenPhotoProject    opening a saved CD Front holding a 3000 x 3000
//                       photo, up to the preview's first paint, beside
//                       reading the project file and one libjpeg-turbo
//                       decode of the photo, in the same rounds
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QApplication>
#include <QMainWindow>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "PageScene.h"
#include "Rounds.h"
#include "app/MainForm.h"
#include "app/project/DtpHelper.h"
#include "app/project/Templates.h"
#include "document/view/Document.h"
#include "document/view/Page.h"

namespace {

namespace fs = std::filesystem;
using kdl::bench::UntilPainted;

std::vector<unsigned char> ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// libjpeg-turbo alone: the JPEG in memory decoded into 32-bit rows, as
// our bitmaps hold them.
void DecodeJpeg(const std::vector<unsigned char>& jpeg, std::vector<unsigned char>& pixels) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGRX;
  jpeg_start_decompress(&info);
  const std::size_t stride = std::size_t{info.output_width} * 4;
  pixels.resize(stride * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels.data() + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
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
  const fs::path project = kdl::bench::PhotoProject(kdl::bench::kCDFront);
  const std::vector<unsigned char> photo = ReadFile(kdl::bench::PhotoFile());
  std::vector<unsigned char> pixels;
  kdl::TMainForm form;
  form.Start();
  form.show();
  UntilPainted(form.Document().viewport());
  bench::TRounds rounds(state, "read_decode");
  rounds.Run(
      [&] {
        kdl::OpenProject(form.Document(), project.string());
        form.ProjectChanged();
        UntilPainted(form.Document().viewport());
      },
      [&] {
        benchmark::DoNotOptimize(ReadFile(project).size());
        DecodeJpeg(photo, pixels);
        benchmark::DoNotOptimize(pixels.data());
      },
      [&] {
        // Each open starts from an empty window, as after the program's start.
        if (auto* page = form.Document().GetCurrentPage()) page->ClearShapes();
        form.ProjectChanged();
        QCoreApplication::processEvents();
      });
  state.counters["project_MiB"] = static_cast<double>(fs::file_size(project)) / (1 << 20);
}
BENCHMARK(BM_OpenPhotoProject)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::Main(argc, argv); }

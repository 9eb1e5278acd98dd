// Exporting and printing the user's label, as the commands do it: a "CD
// Front" and a "DVD" opened from saved projects whose picture is a
// 3000 x 3000 photo, shown once in a window as the user sees them.
//   PdfExportJob  the export command's work (the page copy, the picture,
//                 the file) at 600 and at 150 dpi, beside libjpeg-turbo
//                 encoding a filled picture of the page's pixel size at
//                 the preset's quality (q100 at 600 dpi); the peak resident
//                 size of a fresh program that opens the project, shows it
//                 and exports it.
//   PrintJob      the CD Front printed on A4 at 600 dpi to a PDF-format
//                 printer, beside QPainter drawing the same label at
//                 600 dpi into a picture and that picture, without loss,
//                 onto the same printer; the peak as for the export.
#include <benchmark/benchmark.h>
#include "BenchMain.h"

#include <QApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "PageScene.h"
#include "Rounds.h"
#include "app/MainForm.h"
#include "app/output/PdfExport.h"
#include "app/output/PrintHelper.h"
#include "platform/qt/PrinterService.h"
#include "raster/Bitmap32.h"

namespace {

namespace kb = kdl::bench;

constexpr int kPreset600 = 2, kPreset150 = 0;

// VmRSS of this process in MiB.
double ResidentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;  // kB
  return 0;
}

// The current printer: a PDF file on A4 at 600 dpi.
QPrinter& PdfPrinter(const std::string& file) {
  kdl::SetPrinterNames(std::vector<std::string>{"Bench"});
  QPrinter& printer = kdl::CurrentPrinter();
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(file));
  printer.setResolution(600);
  printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(5, 5, 5, 5),
                                    QPageLayout::Millimeter));
  return printer;
}

// A shown document holding the saved project, painted once.
struct TShownLabel {
  explicit TShownLabel(int type) {
    doc.resize(920, 635);
    doc.show();
    kdl::OpenProject(doc, kb::PhotoProject(type));
    doc.ZoomReset();
    kb::UntilPainted(doc.viewport());
  }
  kdl::TdtpDocument doc;
};

// ---- Jobs in a fresh program: opened, shown, then the command ------------------------------

// args: project file, then the output file and the preset for an export.
void OpenInMainWindow(kdl::TMainForm& form, const std::string& project) {
  form.Start();
  form.show();
  kb::UntilPainted(form.Document().viewport());
  kdl::OpenProject(form.Document(), project);
  form.ProjectChanged();
  kb::UntilPainted(form.Document().viewport());
}

void ExportJob(const std::vector<std::string>& args, bench::TJobValues& out) {
  kdl::TMainForm form;
  OpenInMainWindow(form, args.at(0));
  out["open_MiB"] = ResidentMiB();
  out["first_ms"] = 1e3 * bench::Seconds([&] { kdl::ExportToPdf(form.Document(), args.at(1), std::stoi(args.at(2))); });
}

void PrintJob(const std::vector<std::string>& args, bench::TJobValues& out) {
  kdl::TMainForm form;
  OpenInMainWindow(form, args.at(0));
  PdfPrinter(args.at(1));
  out["open_MiB"] = ResidentMiB();
  out["first_ms"] = 1e3 * bench::Seconds([&] { kdl::PrintLabel(form.Document()); });
}

void ReportJob(benchmark::State& state, const bench::TJobResult& job) {
  state.counters["peak_MiB"] = job.PeakMiB;
  state.counters["open_MiB"] = job.Values.count("open_MiB") ? job.Values.at("open_MiB") : 0;
  state.counters["first_ms"] = job.Values.count("first_ms") ? job.Values.at("first_ms") : 0;
  if (!job.Ok) state.SkipWithError("the job in a fresh program failed");
}

// ---- The export ----------------------------------------------------------------------------

// libjpeg-turbo alone: rows of a filled picture into memory.
std::size_t EncodeJpeg(const kdl::TBitmap32& picture, int quality) {
  jpeg_compress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(picture.Width());
  info.image_height = static_cast<JDIMENSION>(picture.Height());
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    auto* row = reinterpret_cast<JSAMPROW>(
        const_cast<kdl::TColor32*>(picture.ScanLine(static_cast<std::int32_t>(info.next_scanline))));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::free(out);
  return size;
}

// The page as the export draws it, at the preset's pixel size.
std::unique_ptr<kdl::TBitmap32> PagePicture(kdl::TdtpDocument& project, int preset) {
  std::unique_ptr<kdl::TdtpDocument> copy = kdl::CopyCurrentPage(project, false);
  kdl::PrepareForOutput(*copy, false);
  kdl::TdtpPage* page = copy->GetCurrentPage();
  const kdl::TPixelSize pixels = kdl::PdfPixelSize({page->PageWidth(), page->PageHeight()}, preset);
  return page->RenderThumbnail(pixels.Width, pixels.Height, kdl::dtPrinter, 0);
}

// Args: template type, preset.
void BM_PdfExportJob(benchmark::State& state) {
  const int type = static_cast<int>(state.range(0));
  const int preset = static_cast<int>(state.range(1));
  const std::string file = (bench::Scratch() / "label.pdf").string();
  const bench::TJobResult job =
      bench::RunJob("export", {kb::PhotoProject(type), (bench::Scratch() / "job.pdf").string(), std::to_string(preset)});

  TShownLabel label(type);
  const std::unique_ptr<kdl::TBitmap32> picture = PagePicture(label.doc, preset);
  const int quality = kdl::kPdfPresets[static_cast<std::size_t>(preset)].Quality;
  std::size_t jpegBytes = 0;
  bench::TRounds rounds(state, "jpeg");
  rounds.Run([&] { kdl::ExportToPdf(label.doc, file, preset); },
             [&] { jpegBytes = EncodeJpeg(*picture, quality); });
  state.counters["jpeg_MiB"] = static_cast<double>(jpegBytes) / (1 << 20);
  ReportJob(state, job);
  state.counters["dpi"] = kdl::kPdfPresets[static_cast<std::size_t>(preset)].Resolution;
  state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(file)) / (1 << 20);
}
BENCHMARK(BM_PdfExportJob)
    ->ArgNames({"type", "preset"})
    ->Args({kb::kCDFront, kPreset600})
    ->Args({kb::kCDFront, kPreset150})
    ->Args({kb::kDVD, kPreset600})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- Printing ------------------------------------------------------------------------------

// The yardstick: the label drawn at the printer's resolution into a
// picture, and the picture onto the printer.
void PrintWithQPainter(QPrinter& printer, const kb::TLabelScene& scene) {
  const double dpm = printer.resolution() / 25.4;
  QImage picture(static_cast<int>(std::ceil(scene.Page.width() * dpm)),
                 static_cast<int>(std::ceil(scene.Page.height() * dpm)), QImage::Format_RGB32);
  {
    QPainter p(&picture);
    kb::PaintLabel(p, scene, dpm, QPointF(0, 0));
  }
  QPainter out(&printer);
  // Sent without loss, as the program sends its bands: left to itself the
  // PDF printer would encode the picture as JPEG, a different and lossy
  // job from the one the label's print does.
  out.setRenderHint(QPainter::LosslessImageRendering, true);
  out.drawImage(QPointF(0, 0), picture);
}

void BM_PrintJob(benchmark::State& state) {
  const std::string file = (bench::Scratch() / "sheet.pdf").string();
  const bench::TJobResult job =
      bench::RunJob("print", {kb::PhotoProject(kb::kCDFront), (bench::Scratch() / "job-sheet.pdf").string()});
  TShownLabel label(kb::kCDFront);
  const kb::TLabelScene scene = kb::DescribeLabel(label.doc);
  QPrinter& printer = PdfPrinter(file);
  bench::TRounds rounds(state, "qpainter");
  rounds.Run([&] { kdl::PrintLabel(label.doc); }, [&] { PrintWithQPainter(printer, scene); });
  // The files both sides wrote, so that a reader sees they sent alike.
  state.counters["qpainter_file_MiB"] = static_cast<double>(std::filesystem::file_size(file)) / (1 << 20);
  kdl::PrintLabel(label.doc);
  state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(file)) / (1 << 20);
  ReportJob(state, job);
  state.counters["dpi"] = printer.resolution();
  kdl::SetPrinterNames(std::nullopt);
}
BENCHMARK(BM_PrintJob)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::Main(argc, argv, {{"export", ExportJob}, {"print", PrintJob}});
}

#include "platform/qt/Printer.h"

#include <QFile>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>

#include "platform/Exception.h"

namespace kdl {

TQtPrintSurface::TQtPrintSurface()
    : printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {}

TQtPrintSurface::~TQtPrintSurface() {
  if (painter_ != nullptr && painter_->isActive()) painter_->end();
}

void TQtPrintSurface::BeginDoc(const std::string& title) {
  if (painter_ != nullptr) throw Exception("A print job is already running");
  printer_->setDocName(QString::fromStdString(title));
  auto painter = std::make_unique<QPainter>();
  if (!painter->begin(printer_.get())) throw Exception("The printer cannot start the job");
  // Bands are already at device resolution; a lossy or smoothed copy would
  // show their borders.
  painter->setRenderHint(QPainter::LosslessImageRendering, true);
  painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter_ = std::move(painter);
}

void TQtPrintSurface::NewPage() {
  if (painter_ == nullptr) throw Exception("No print job is running");
  if (!printer_->newPage()) throw Exception("The printer cannot start a new page");
}

void TQtPrintSurface::EndDoc() {
  if (painter_ == nullptr) throw Exception("No print job is running");
  const bool written = painter_->end();
  painter_.reset();
  if (!written) throw Exception("The printer could not finish the job");
}

void TQtPrintSurface::Abort() {
  if (painter_ == nullptr) return;
  const bool dropped = printer_->abort();
  if (painter_->isActive()) painter_->end();
  painter_.reset();
  // A file printer cannot take the job back: the half-written file goes.
  if (!dropped && printer_->outputFormat() == QPrinter::PdfFormat &&
      !printer_->outputFileName().isEmpty())
    QFile::remove(printer_->outputFileName());
}

TDeviceRect TQtPrintSurface::SheetRect() const {
  const QPageLayout layout = printer_->pageLayout();
  const int resolution = printer_->resolution();
  const QRect full = layout.fullRectPixels(resolution);
  // In full-page mode the paint rectangle is the full one: no offset.
  const QRect paint = layout.paintRectPixels(resolution);
  const int dx = paint.left() - full.left();
  const int dy = paint.top() - full.top();
  return {-dx, -dy, full.width() - dx, full.height() - dy};
}

double TQtPrintSurface::Dpm() const { return printer_->resolution() / 25.4; }

void TQtPrintSurface::DrawBand(std::int32_t x, std::int32_t y, const TBandPixels& band) {
  if (painter_ == nullptr) throw Exception("No print job is running");
  if (band.Bits == nullptr || band.Width <= 0 || band.Height <= 0) return;
  // A view of the caller's pixels; the device copies what it keeps.
  const QImage image(reinterpret_cast<const uchar*>(band.Bits), band.Width, band.Height,
                     static_cast<qsizetype>(band.Width) * 4, QImage::Format_RGB32);
  painter_->drawImage(QPoint(x, y), image);
}

namespace {

TPrintSurface*& Replacement() {
  static TPrintSurface* surface = nullptr;
  return surface;
}

}  // namespace

TQtPrintSurface& SystemPrinter() {
  // Never destroyed: a job left open at exit must not end in a static
  // destructor after Qt has gone.
  static TQtPrintSurface* printer = new TQtPrintSurface();
  return *printer;
}

TPrintSurface& Printer() {
  return Replacement() != nullptr ? *Replacement() : SystemPrinter();
}

void SetPrinter(TPrintSurface* surface) { Replacement() = surface; }

}  // namespace kdl

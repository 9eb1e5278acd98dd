#include "platform/qt/PrinterService.h"

#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>

#include "platform/Exception.h"
#include "platform/qt/Printer.h"

namespace kdl {
namespace {

// A printer list in place of the system's, and the name it made current.
struct TNameOverride {
  std::vector<std::string> Names;
  std::string Current;
};

std::optional<TNameOverride>& NameOverride() {
  static std::optional<TNameOverride> names;
  return names;
}

bool Listed(const std::vector<std::string>& names, const std::string& name) {
  return !name.empty() && std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

QPrinter& CurrentPrinter() { return SystemPrinter().Printer(); }

std::vector<std::string> PrinterNames() {
  if (NameOverride()) return NameOverride()->Names;
  std::vector<std::string> names;
  for (const QString& name : QPrinterInfo::availablePrinterNames()) names.push_back(name.toStdString());
  return names;
}

void SetPrinterNames(std::optional<std::vector<std::string>> names) {
  if (!names) {
    NameOverride().reset();
  } else if (NameOverride()) {
    NameOverride()->Names = std::move(*names);
  } else {
    NameOverride() = TNameOverride{std::move(*names), {}};
  }
}

std::string CurrentPrinterName() {
  if (NameOverride()) return NameOverride()->Current;
  return CurrentPrinter().printerName().toStdString();
}

void RefreshCurrentPrinter() {
  const std::vector<std::string> names = PrinterNames();
  if (NameOverride()) {
    std::string& current = NameOverride()->Current;
    if (!Listed(names, current)) current = names.empty() ? std::string() : names.front();
    return;
  }
  QPrinter& printer = CurrentPrinter();
  if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) return;
  if (names.empty() || Listed(names, printer.printerName().toStdString())) return;
  std::string chosen = QPrinterInfo::defaultPrinterName().toStdString();
  if (!Listed(names, chosen)) chosen = names.front();
  printer.setPrinterName(QString::fromStdString(chosen));
}

TPrinterMetrics CurrentPrinterMetrics() {
  QPrinter& printer = CurrentPrinter();
  const int resolution = printer.resolution();
  if (resolution <= 0) throw Exception("The printer reports no resolution");
  const QPageLayout layout = printer.pageLayout();
  const QRect full = layout.fullRectPixels(resolution);
  const QRect paint = layout.paintRectPixels(resolution);
  if (full.width() <= 0 || full.height() <= 0) throw Exception("The printer reports no paper size");
  TPrinterMetrics m;
  m.Resolution = resolution;
  m.PaperWidth = full.width();
  m.PaperHeight = full.height();
  m.OffsetX = paint.left() - full.left();
  m.OffsetY = paint.top() - full.top();
  m.PrintableWidth = paint.width();
  m.PrintableHeight = paint.height();
  return m;
}

std::string CurrentPaperName() { return CurrentPrinter().pageLayout().pageSize().name().toStdString(); }

bool PrinterLandscape() { return CurrentPrinter().pageLayout().orientation() == QPageLayout::Landscape; }

void SetPrinterLandscape(bool landscape) {
  CurrentPrinter().setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
}

bool RunPrintDialog(QWidget* parent) {
  QPrintDialog dialog(&CurrentPrinter(), parent);
  return dialog.exec() == QDialog::Accepted;
}

bool RunPrinterSetupDialog(QWidget* parent) {
  QPageSetupDialog dialog(&CurrentPrinter(), parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace kdl

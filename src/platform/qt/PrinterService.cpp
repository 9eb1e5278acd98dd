#include "platform/qt/PrinterService.h"

#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include "platform/Exception.h"
#include "platform/qt/Printer.h"

namespace kdl {
namespace {

std::optional<std::vector<std::string>>& NameOverride() {
  static std::optional<std::vector<std::string>> names;
  return names;
}

}  // namespace

QPrinter& CurrentPrinter() { return SystemPrinter().Printer(); }

std::vector<std::string> PrinterNames() {
  if (NameOverride()) return *NameOverride();
  std::vector<std::string> names;
  for (const QString& name : QPrinterInfo::availablePrinterNames()) names.push_back(name.toStdString());
  return names;
}

void SetPrinterNames(std::optional<std::vector<std::string>> names) { NameOverride() = std::move(names); }

std::string CurrentPrinterName() { return CurrentPrinter().printerName().toStdString(); }

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

// A print surface that writes an A4 PDF file, full page, for tests and
// benchmarks that print without a printer.
#pragma once

#include <QPageSize>
#include <QPrinter>
#include <filesystem>

#include "platform/qt/Printer.h"

namespace kdl::test {

inline void PrintToPdf(TQtPrintSurface& surface, const std::filesystem::path& pdf, int dpi = 600) {
  QPrinter& p = surface.Printer();
  p.setOutputFormat(QPrinter::PdfFormat);
  p.setOutputFileName(QString::fromStdString(pdf.string()));
  p.setResolution(dpi);
  p.setPageSize(QPageSize(QPageSize::A4));
  p.setFullPage(true);
}

}  // namespace kdl::test

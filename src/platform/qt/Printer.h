// The print surface on a QPrinter, and the process-wide current printer
// that the application's dialogs configure and print on. Tests replace the
// current printer with a recording surface or a PDF-format QPrinter.
#pragma once

#include <memory>
#include <string>

#include "platform/PrintSurface.h"

class QPainter;
class QPrinter;

namespace kdl {

class TQtPrintSurface : public TPrintSurface {
 public:
  // A high-resolution QPrinter on the system's default printer.
  TQtPrintSurface();
  ~TQtPrintSurface() override;
  TQtPrintSurface(const TQtPrintSurface&) = delete;
  TQtPrintSurface& operator=(const TQtPrintSurface&) = delete;

  // For the print dialogs and page setup.
  QPrinter& Printer() { return *printer_; }

  void BeginDoc(const std::string& title) override;
  void NewPage() override;
  void EndDoc() override;
  void Abort() override;
  TDeviceRect SheetRect() const override;
  double Dpm() const override;
  void DrawBand(std::int32_t x, std::int32_t y, const TBandPixels& band) override;

 private:
  std::unique_ptr<QPrinter> printer_;
  std::unique_ptr<QPainter> painter_;
};

// The current printer: the one set by SetPrinter, else the system printer.
TPrintSurface& Printer();
// The process-wide QPrinter surface, made on first use.
TQtPrintSurface& SystemPrinter();
// Replaces the current printer (not owned); nullptr restores the system one.
void SetPrinter(TPrintSurface* surface);

}  // namespace kdl

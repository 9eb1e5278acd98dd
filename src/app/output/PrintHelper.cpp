#include "app/output/PrintHelper.h"

#include <QApplication>
#include <QMessageBox>

#include "app/Localizer.h"
#include "app/Units.h"
#include "app/project/DtpHelper.h"
#include "app/shapes/ExLineShape.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/Printer.h"
#include "platform/qt/PrinterService.h"

namespace kdl {
namespace {

constexpr float kOutputLineWidth = 0.25f;

std::string Message(const char* key) { return Localizer().GetString("Messages", key); }

// Restores the cursor however the command ends.
struct TBusyCursor {
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

TPrinterPageInfo GetPrinterPageInfo() {
  TPrinterPageInfo info;
  if (PrinterNames().empty()) return info;
  try {
    const TPrinterMetrics m = CurrentPrinterMetrics();
    const int dpi = m.Resolution;
    info.PaperWidth = PixelsToMM(m.PaperWidth, dpi);
    info.PaperHeight = PixelsToMM(m.PaperHeight, dpi);
    info.MarginLeft = PixelsToMM(m.OffsetX, dpi);
    info.MarginTop = PixelsToMM(m.OffsetY, dpi);
    info.MarginRight = PixelsToMM(m.PaperWidth - m.PrintableWidth - m.OffsetX, dpi);
    info.MarginBottom = PixelsToMM(m.PaperHeight - m.PrintableHeight - m.OffsetY, dpi);
  } catch (const std::exception& e) {
    ShowError(e.what());
    return {};
  }
  return info;
}

std::string GetPrinterPaperName() { return CurrentPaperName(); }

int CheckPaperFit(TdtpDocument& document) {
  const TPrinterPageInfo info = GetPrinterPageInfo();
  // In the page's own precision: a page made exactly the printable size
  // must fit.
  const auto pw = static_cast<float>(info.PaperWidth - info.MarginLeft - info.MarginRight);
  const auto ph = static_cast<float>(info.PaperHeight - info.MarginTop - info.MarginBottom);
  TdtpPage* page = document.GetCurrentPage();
  if (!page) return pfFits;
  const float w = page->PageWidth(), h = page->PageHeight();
  if (w <= pw && h <= ph) return pfFits;
  if (w > ph || h > pw) return pfTooSmall;
  return pfFitsTurned;
}

void SetPageToPrinterPaper(TdtpDocument& document) {
  TdtpPage* page = document.GetCurrentPage();
  if (!page) return;
  const TPrinterPageInfo info = GetPrinterPageInfo();
  page->SetPageWidth(static_cast<float>(info.PaperWidth));
  page->SetPageHeight(static_cast<float>(info.PaperHeight));
  page->SetMarginLeft(static_cast<float>(info.MarginLeft));
  page->SetMarginTop(static_cast<float>(info.MarginTop));
  page->SetMarginRight(static_cast<float>(info.MarginRight));
  page->SetMarginBottom(static_cast<float>(info.MarginBottom));
}

void PrepareForOutput(TdtpDocument& document, bool forPrinter) {
  SetLineKindStyle(document, kCutLineTag, psSolid, kOutputLineWidth);
  SetLineKindStyle(document, kFoldLineTag, psSolid, kOutputLineWidth);
  // The project's switches decide what is output, whatever visibility a
  // file left on its lines.
  const auto* projectInfo = dynamic_cast<TDtpProjectInfoShape*>(document.GetShape(kProjectInfoIndex));
  if (projectInfo && !projectInfo->PrintCutLines()) SetLineKindVisible(document, kCutLineTag, false);
  if (projectInfo && !projectInfo->PrintFoldLines()) SetLineKindVisible(document, kFoldLineTag, false);
  if (!forPrinter) return;
  TdtpPage* page = document.GetCurrentPage();
  if (!page) return;
  const TPrinterPageInfo info = GetPrinterPageInfo();
  const double pw = info.PaperWidth - info.MarginLeft - info.MarginRight;
  const double ph = info.PaperHeight - info.MarginTop - info.MarginBottom;
  double dx = info.MarginLeft, dy = info.MarginTop;
  if (projectInfo && projectInfo->CenterPrinting()) {
    dx += (pw - page->PageWidth()) / 2;
    dy += (ph - page->PageHeight()) / 2;
  }
  OffsetAllShapes(document, static_cast<float>(dx), static_cast<float>(dy));
  SetPageToPrinterPaper(document);
}

void CheckPrinterOrientation(TdtpDocument& document) {
  if (CheckPaperFit(document) == pfFitsTurned) SetPrinterLandscape(!PrinterLandscape());
}

std::unique_ptr<TdtpDocument> CopyCurrentPage(TdtpDocument& source, bool forPrinter) {
  auto copy = std::make_unique<TdtpDocument>();
  copy->SetOptimizedPrinting(false);
  if (forPrinter) copy->SetPrintQuality(pqHigh);
  copy->SetQuality(sfLinear);
  const int index = copy->AddPage();
  copy->SetCurrentPageIndex(index);
  if (TdtpPage* page = source.GetCurrentPage()) copy->GetPage(index)->Assign(*page);
  return copy;
}

void PrintLabel(TdtpDocument& project) {
  try {
    project.update();
    TBusyCursor busy;
    std::unique_ptr<TdtpDocument> copy = CopyCurrentPage(project, true);
    copy->BeginPrinting();
    try {
      PrepareForOutput(*copy, true);
      const auto* info = dynamic_cast<TDtpProjectInfoShape*>(copy->GetShape(kProjectInfoIndex));
      copy->SetPrintTitle(info ? info->ProjectName() : std::string());
      copy->PrintPage(copy->CurrentPageIndex());
    } catch (...) {
      copy->EndPrinting();
      throw;
    }
    copy->EndPrinting();
  } catch (const std::exception&) {
    throw EOutputError(Message("PrintingError"));
  }
}

bool PrintCommand(TdtpDocument& project, QWidget* parent) {
  if (!HasPage(project)) return false;
  if (PrinterNames().empty()) {
    ShowError(Message("NoPrinter"));
    return false;
  }
  if (CheckPaperFit(project) != pfFits) {
    const QString text = QString::fromStdString(Message("SmallPaperSize") + "\n" + Message("PromptToContinue"));
    if (QMessageBox::warning(parent, QApplication::applicationDisplayName(), text,
                             QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
      return false;
  }
  if (!RunPrintDialog(parent)) return false;
  PrintLabel(project);
  return true;
}

bool PrintSetupCommand(QWidget* parent) { return RunPrinterSetupDialog(parent); }

}  // namespace kdl

// Print jobs of the document: the listed pages on the current printer, one
// sheet each, every page fitted to the sheet and turned where it gains.
#include <algorithm>
#include <cmath>

#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/PrintSurface.h"
#include "platform/qt/Printer.h"

namespace kdl {
namespace {

// Dots per mm of each print quality; the device's own resolution is 0.
constexpr float kLowDpm = 5.905512f;      // 150 dpi
constexpr float kMediumDpm = 11.811024f;  // 300 dpi
constexpr float kHighDpm = 23.622047f;    // 600 dpi

// Whether the page prints turned by a quarter: only when that gives a
// strictly larger scale on a sheet of width x height device pixels.
bool PrintsTurned(const TdtpPage& page, double width, double height) {
  const double pw = page.PageWidth(), ph = page.PageHeight();
  const double upright = std::min(height / ph, width / pw);
  const double turned = std::min(width / ph, height / pw);
  return turned > upright;
}

}  // namespace

float TdtpDocument::PrinterDpm() const {
  switch (printQuality_) {
    case pqLow:
      return kLowDpm;
    case pqMedium:
      return kMediumDpm;
    case pqHigh:
      return kHighDpm;
    case pqDevice:
      break;
  }
  return 0;
}

void TdtpDocument::PrintPage(int index) { PrintRange(index, 1); }

void TdtpDocument::PrintRange(int first, int count) {
  std::vector<int> pages;
  for (int i = 0; i < count; ++i) pages.push_back(first + i);
  PrintPages(pages);
}

TdtpPage* TdtpDocument::PrintablePage(int index) {
  TdtpPage* page = GetPage(index);
  if (!page) return nullptr;
  if (!page->IsLoaded()) LoadPage(index);
  // A page without area has nothing to put on a sheet.
  return page->HasArea() ? page : nullptr;
}

void TdtpDocument::PrintPages(const std::vector<int>& pages) {
  // 1. Not inside a load or save.
  CheckBusy();
  const int total = static_cast<int>(pages.size());
  DoProgress(ptPrint, 0, total, 0.0f);

  // 2-4. The job opens with the first page that prints: a list naming no
  // page leaves the printer alone, and no sheet stays blank.
  TPrintSurface& printer = Printer();
  bool open = false;
  progressCount_ = total;
  try {
    for (int i = 0; i < total; ++i) {
      progressPage_ = i + 1;
      DoProgress(ptPrint, i + 1, total, static_cast<float>(i) / static_cast<float>(total));
      if (TdtpPage* page = PrintablePage(pages[static_cast<std::size_t>(i)])) {
        if (open) {
          printer.NewPage();
        } else {
          printer.BeginDoc(printTitle_);
          open = true;
        }
        // a. The sheet in the printable area's coordinates.
        const TDeviceRect sheet = printer.SheetRect();
        // b-c. Fitted, upright or turned.
        const int rotation = PrintsTurned(*page, sheet.Width(), sheet.Height()) ? 1 : 0;
        page->PrintPage(printer, {sheet.Left, sheet.Top, sheet.Right, sheet.Bottom}, PrinterDpm(),
                        rotation, false, false);
      }
      // d. Progress between pages.
      if (i < total - 1)
        DoProgress(ptPrint, i + 1, total, static_cast<float>(i + 1) / static_cast<float>(total));
    }
    if (open) printer.EndDoc();
  } catch (...) {
    // A job left open would refuse the next one.
    progressCount_ = progressPage_ = 0;
    if (open) printer.Abort();
    throw;
  }
  progressCount_ = progressPage_ = 0;
  DoProgress(ptPrint, total, total, 1.0f);
}

}  // namespace kdl

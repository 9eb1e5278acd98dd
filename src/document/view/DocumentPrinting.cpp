// Print jobs of the document: listed pages, one sheet each.
#include "document/view/Document.h"

namespace kdl {

float TdtpDocument::PrinterDpm() const {
  switch (printQuality_) {
    case pqLow:
      return 5.905512f;
    case pqMedium:
      return 11.811024f;
    case pqHigh:
      return 23.622047f;
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

void TdtpDocument::PrintPages(const std::vector<int>& pages) {
  CheckBusy();
  const int total = static_cast<int>(pages.size());
  DoProgress(ptPrint, 0, total, 0.0f);
  DoProgress(ptPrint, total, total, 1.0f);
}

}  // namespace kdl

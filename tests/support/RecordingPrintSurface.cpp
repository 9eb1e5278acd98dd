#include "RecordingPrintSurface.h"

#include <algorithm>
#include <stdexcept>

namespace kdl::test {

void RecordingPrintSurface::AddSheet() {
  Sheet sheet;
  sheet.Width = std::max(0, sheet_.Width());
  sheet.Height = std::max(0, sheet_.Height());
  sheet.Pixels.assign(static_cast<std::size_t>(sheet.Width) * static_cast<std::size_t>(sheet.Height),
                      0xFFFFFFFFu);
  Sheets.push_back(std::move(sheet));
}

void RecordingPrintSurface::BeginDoc(const std::string& title) {
  Calls.push_back("BeginDoc " + title);
  if (printing_) throw std::logic_error("BeginDoc inside a job");
  printing_ = true;
  AddSheet();
}

void RecordingPrintSurface::NewPage() {
  Calls.push_back("NewPage");
  if (!printing_) throw std::logic_error("NewPage outside a job");
  AddSheet();
}

void RecordingPrintSurface::EndDoc() {
  Calls.push_back("EndDoc");
  if (!printing_) throw std::logic_error("EndDoc outside a job");
  printing_ = false;
}

void RecordingPrintSurface::Abort() {
  Calls.push_back("Abort");
  printing_ = false;
}

void RecordingPrintSurface::DrawBand(std::int32_t x, std::int32_t y, const TBandPixels& band) {
  Calls.push_back("DrawBand " + std::to_string(x) + " " + std::to_string(y) + " " +
                  std::to_string(band.Width) + " " + std::to_string(band.Height));
  if (!printing_) throw std::logic_error("DrawBand outside a job");
  const int page = static_cast<int>(Sheets.size()) - 1;
  Bands.push_back({page, {x, y, x + band.Width, y + band.Height}});
  Sheet& sheet = Sheets.back();
  for (std::int32_t row = 0; row < band.Height; ++row)
    for (std::int32_t col = 0; col < band.Width; ++col) {
      const std::int64_t dx = std::int64_t{x} + col - sheet_.Left;
      const std::int64_t dy = std::int64_t{y} + row - sheet_.Top;
      if (dx < 0 || dy < 0 || dx >= sheet.Width || dy >= sheet.Height) {
        ++ClippedPixels;
        continue;
      }
      // Opaque, as the device takes it.
      sheet.Pixels[static_cast<std::size_t>(dy * sheet.Width + dx)] =
          band.Bits[static_cast<std::size_t>(row) * static_cast<std::size_t>(band.Width) +
                    static_cast<std::size_t>(col)] |
          0xFF000000u;
    }
}

}  // namespace kdl::test

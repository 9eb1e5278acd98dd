// A print surface that keeps every call and composes each page's bands into
// one image of the sheet, white where no band landed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/PrintSurface.h"

namespace kdl::test {

class RecordingPrintSurface : public TPrintSurface {
 public:
  // The sheet as SheetRect gives it (origin at minus the printable offsets).
  RecordingPrintSurface(TDeviceRect sheet, double dpm) : sheet_(sheet), dpm_(dpm) {}

  void BeginDoc(const std::string& title) override;
  void NewPage() override;
  void EndDoc() override;
  void Abort() override;
  TDeviceRect SheetRect() const override { return sheet_; }
  double Dpm() const override { return dpm_; }
  void DrawBand(std::int32_t x, std::int32_t y, const TBandPixels& band) override;

  struct Band {
    int Page = 0;  // 0-based
    TDeviceRect Rect;
  };
  struct Sheet {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<std::uint32_t> Pixels;
    // (x, y) in device coordinates, inside the sheet.
    std::uint32_t At(std::int32_t x, std::int32_t y, const TDeviceRect& sheet) const {
      return Pixels[static_cast<std::size_t>(y - sheet.Top) * static_cast<std::size_t>(Width) +
                    static_cast<std::size_t>(x - sheet.Left)];
    }
  };

  // "BeginDoc <title>", "NewPage", "EndDoc", "Abort", "DrawBand x y w h".
  std::vector<std::string> Calls;
  std::vector<Band> Bands;
  std::vector<Sheet> Sheets;
  // Band pixels that fell outside the sheet.
  std::int64_t ClippedPixels = 0;

  std::uint32_t At(int page, std::int32_t x, std::int32_t y) const {
    return Sheets[static_cast<std::size_t>(page)].At(x, y, sheet_);
  }

 private:
  void AddSheet();

  TDeviceRect sheet_;
  double dpm_;
  bool printing_ = false;
};

}  // namespace kdl::test

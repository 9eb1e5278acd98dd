#include <gtest/gtest.h>

#include <QPageLayout>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "support/PdfPrinter.h"
#include "support/QtApplication.h"
#include "support/TestFiles.h"
#include "platform/qt/Printer.h"

namespace kdl {
namespace {

class PdfPrintSurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    surface_ = std::make_unique<TQtPrintSurface>();
    test::PrintToPdf(*surface_, pdf_);
  }

  // A w x h block of one colour.
  static std::vector<std::uint32_t> Block(std::int32_t w, std::int32_t h, std::uint32_t color) {
    return std::vector<std::uint32_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), color);
  }

  test::ScratchDir dir_;
  std::filesystem::path pdf_ = dir_ / "job.pdf";
  // Made in SetUp: a QPrinter needs the application first.
  std::unique_ptr<TQtPrintSurface> surface_;
};

TEST_F(PdfPrintSurfaceTest, SheetIsThePaperInDevicePixelsMovedByThePrintableOffset) {
  // Qt's A4 is 595 x 842 points: at 600 dpi Round(595 / 72 * 600) by
  // Round(842 / 72 * 600).
  EXPECT_EQ(surface_->SheetRect(), (TDeviceRect{0, 0, 4958, 7017}));
  EXPECT_DOUBLE_EQ(surface_->Dpm(), 600 / 25.4);

  // 18 pt margins outside full-page mode: the drawing origin is the
  // printable corner, so the sheet starts at minus 18 / 72 * 600 pixels.
  surface_->Printer().setFullPage(false);
  surface_->Printer().setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Point);
  EXPECT_EQ(surface_->SheetRect(), (TDeviceRect{-150, -150, 4958 - 150, 7017 - 150}));
}

TEST_F(PdfPrintSurfaceTest, BandsLandOneToOneWithoutSeams) {
  // Two bands meeting at y = 100, and a third beside them: every pixel
  // rendered back at the print resolution has its band's colour, right up
  // to the borders.
  const auto red = Block(200, 100, 0xFFFF0000u);
  const auto blue = Block(200, 57, 0xFF0000FFu);
  const auto green = Block(31, 157, 0x0000FF00u);  // alpha is ignored
  surface_->BeginDoc("Bands");
  surface_->DrawBand(40, 0, {red.data(), 200, 100});
  surface_->DrawBand(40, 100, {blue.data(), 200, 57});
  surface_->DrawBand(240, 0, {green.data(), 31, 157});
  surface_->EndDoc();

  int status = -1;
  test::RunCommand("qpdf --check '" + pdf_.string() + "' >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
  const std::string info = test::RunCommand("pdfinfo '" + pdf_.string() + "'");
  EXPECT_NE(info.find("595 x 842 pts (A4)"), std::string::npos) << info;

  test::RunCommand("pdftoppm -r 600 -x 0 -y 0 -W 300 -H 200 '" + pdf_.string() + "' '" +
                   (dir_ / "back").string() + "'");
  const test::PpmImage back = test::ReadPpm(dir_ / "back-1.ppm");
  ASSERT_EQ(back.Width, 300);
  ASSERT_EQ(back.Height, 200);
  // The renderer may spread an image's far edge over the next pixel when
  // it falls inside a point; that column and row are left out.
  int wrong = 0;
  for (std::int32_t y = 0; y < 200; ++y)
    for (std::int32_t x = 0; x < 300; ++x) {
      if (x == 271 || y == 157) continue;
      std::uint32_t want = 0xFFFFFFFFu;
      if (x >= 40 && x < 240 && y < 100) want = 0xFFFF0000u;
      else if (x >= 40 && x < 240 && y < 157) want = 0xFF0000FFu;
      else if (x >= 240 && x < 271 && y < 157) want = 0xFF00FF00u;
      wrong += back.At(x, y) != want;
    }
  EXPECT_EQ(wrong, 0);
}

TEST_F(PdfPrintSurfaceTest, JobsOutOfOrderRaiseAndAbortLeavesNoFile) {
  EXPECT_EQ(test::ErrorOf([&] { surface_->NewPage(); }), "No print job is running");
  EXPECT_EQ(test::ErrorOf([&] { surface_->EndDoc(); }), "No print job is running");
  const auto band = Block(4, 4, 0xFF000000u);
  EXPECT_EQ(test::ErrorOf([&] { surface_->DrawBand(0, 0, {band.data(), 4, 4}); }),
            "No print job is running");

  surface_->BeginDoc("Dropped");
  EXPECT_EQ(test::ErrorOf([&] { surface_->BeginDoc("Again"); }), "A print job is already running");
  surface_->DrawBand(0, 0, {band.data(), 4, 4});
  surface_->Abort();
  EXPECT_FALSE(std::filesystem::exists(pdf_));
  // The surface takes a new job afterwards.
  surface_->BeginDoc("Kept");
  surface_->NewPage();
  surface_->EndDoc();
  const std::string info = test::RunCommand("pdfinfo '" + pdf_.string() + "'");
  EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
}

}  // namespace
}  // namespace kdl

#include <gtest/gtest.h>

#include <QPageSize>
#include <QPrinter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/FakeDocument.h"
#include "support/QtApplication.h"
#include "support/RasterTesting.h"
#include "support/RecordingPrintSurface.h"
#include "support/RenderTestShapes.h"
#include "support/TestFiles.h"
#include "document/Startup.h"
#include "document/resources/BitmapResource.h"
#include "document/view/Page.h"
#include "document/view/PagePrinting.h"
#include "platform/qt/Printer.h"
#include "raster/Utilities.h"

namespace kdl {
namespace {

using test::RecordingPrintSurface;

constexpr double kDpm600 = 600 / 25.4;
constexpr TColor32 kMarker = 0xFF2060A0u;

bool Overlap(const TDeviceRect& a, const TDeviceRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

class PagePrintingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDocumentLibrary();
    page_.SetDocument(&doc_);
    doc_.Pages.push_back(&page_);
    doc_.Current = &page_;
  }
  void TearDown() override { page_.SetDocument(nullptr); }

  testing::RectShape& AddMarker(float left, float top, float size) {
    auto shape = std::make_unique<testing::RectShape>();
    shape->Color = kMarker;
    shape->SetDocBoundsAngle(left, top, size, size, 0);
    auto& ref = *shape;
    page_.AddShape(std::move(shape));
    return ref;
  }

  // The page rendered whole at dpm, as one band would be.
  void FullRender(float dpm, TBitmap32& full) {
    full.SetSize(static_cast<std::int32_t>(std::nearbyint(dpm * page_.PageWidth())),
                 static_cast<std::int32_t>(std::nearbyint(dpm * page_.PageHeight())));
    full.Clear(Color32(page_.PageColor()));
    TdtpPaintInfo info;
    info.Device = dtPrinter;
    info.BackColor = Color32(page_.PageColor()) & 0xFFFFFFu;
    info.Scale = info.RenderScale = dpm;
    info.StretchFilter = doc_.Quality();
    page_.Paint(full, {0, 0, page_.PageWidth(), page_.PageHeight()}, true, info);
  }

  testing::FakeDocument doc_;
  TdtpPage page_;
};

TEST_F(PagePrintingTest, A4At600DpiTilesTheSheetInBandsUnderTheLimit) {
  doc_.ProgressCountValue = 1;
  doc_.ProgressPageValue = 1;
  RecordingPrintSurface surface({0, 0, 4961, 7016}, kDpm600);
  surface.BeginDoc("A4");
  page_.PrintPage(surface, {0, 0, 4961, 7016}, static_cast<float>(kDpm600), 0, false, false);
  surface.EndDoc();

  const auto& bands = surface.Bands;
  ASSERT_GE(bands.size(), 19u);  // 34.8 Mpx in bands of fewer than 1.92 Mpx
  std::int64_t area = 0;
  for (std::size_t i = 0; i < bands.size(); ++i) {
    const TDeviceRect& r = bands[i].Rect;
    const std::int64_t a = std::int64_t{r.Width()} * r.Height();
    EXPECT_LT(a, kBandPixelLimit);
    EXPECT_GT(a, 0);
    EXPECT_TRUE(r.Left >= 0 && r.Top >= 0 && r.Right <= 4961 && r.Bottom <= 7016);
    for (std::size_t j = 0; j < i; ++j) EXPECT_FALSE(Overlap(r, bands[j].Rect)) << i << " " << j;
    area += a;
  }
  // Inside, disjoint and as large as the sheet: no gap either.
  EXPECT_EQ(area, std::int64_t{4961} * 7016);
  // The first cut goes across the height, at 7016 / 2.
  for (std::size_t i = 0; i < bands.size(); ++i) {
    if (i < bands.size() / 2) {
      EXPECT_LE(bands[i].Rect.Bottom, 3508);
    } else {
      EXPECT_GE(bands[i].Rect.Top, 3508);
    }
  }

  // One progress report per band, rising to exactly 1.0 with the last.
  ASSERT_EQ(doc_.ProgressLog.size(), bands.size());
  for (std::size_t i = 1; i < doc_.ProgressLog.size(); ++i)
    EXPECT_GT(doc_.ProgressLog[i].Percent, doc_.ProgressLog[i - 1].Percent);
  EXPECT_EQ(doc_.ProgressLog.back().Percent, 1.0f);
  EXPECT_EQ(doc_.ProgressLog.back().Kind, ptPrint);
  EXPECT_EQ(doc_.ProgressLog.back().Count, 1);
  EXPECT_EQ(doc_.PrintingDepth(), 0);

  // At 150 dpi the destination is 16 times the render size: its bands, in
  // device pixels, are bounded too.
  RecordingPrintSurface scaled({0, 0, 4961, 7016}, kDpm600);
  scaled.BeginDoc("150");
  page_.PrintPage150(scaled, {0, 0, 4961, 7016}, 0, false, false);
  scaled.EndDoc();
  area = 0;
  for (const auto& band : scaled.Bands) {
    const std::int64_t a = std::int64_t{band.Rect.Width()} * band.Rect.Height();
    EXPECT_LT(a, kBandPixelLimit);
    area += a;
  }
  EXPECT_EQ(area, std::int64_t{4961} * 7016);
}

TEST_F(PagePrintingTest, DpmZeroRendersAtTheCentredDestinationsSize) {
  page_.SetPageWidth(100);
  page_.SetPageHeight(100);
  RecordingPrintSurface surface({0, 0, 300, 500}, 3);
  surface.BeginDoc("Fit");
  page_.PrintPage(surface, {0, 0, 300, 500}, 0, 0, false, false);
  surface.EndDoc();
  ASSERT_EQ(surface.Bands.size(), 1u);
  EXPECT_EQ(surface.Bands[0].Rect, (TDeviceRect{0, 100, 300, 400}));
}

// Where a pixel of the upright render lands on the device: turned as the
// rotation says, then mirrored and flipped on the device.
struct Placement {
  int Rotation;
  bool Mirror, Flip;
};

TEST_F(PagePrintingTest, TurnsMirrorsAndFlipsBandsAsTheWholePage) {
  // 60 x 45 mm at 40 px/mm: 2400 x 1800 px, four bands; a 5 mm marker at
  // (20, 30) mm.
  page_.SetPageWidth(60);
  page_.SetPageHeight(45);
  AddMarker(20, 30, 5);
  const float dpm = 40;
  const std::int32_t w = 2400, h = 1800, ox = 7, oy = 11;
  for (int rotation = 0; rotation < 4; ++rotation)
    for (int variant = 0; variant < 4; ++variant) {
      const bool mirror = (variant & 1) != 0, flip = (variant & 2) != 0;
      SCOPED_TRACE(::testing::Message() << "rotation " << rotation << " mirror " << mirror
                                      << " flip " << flip);
      const bool quarter = rotation == 1 || rotation == 3;
      const std::int32_t dw = quarter ? h : w, dh = quarter ? w : h;
      RecordingPrintSurface surface({0, 0, ox + dw + 5, oy + dh + 5}, dpm);
      surface.BeginDoc("Turns");
      page_.PrintPage(surface, {ox, oy, ox + dw, oy + dh}, dpm, rotation, mirror, flip);
      surface.EndDoc();
      EXPECT_GE(surface.Bands.size(), 2u);

      // The full render, turned and mirrored by the raster utilities.
      TBitmap32 expected;
      FullRender(dpm, expected);
      if (rotation == 1) RotateLeft90(&expected);
      if (rotation == 2) Rotate180(&expected);
      if (rotation == 3) RotateRight90(&expected);
      if (mirror) MirrorHorizontal(&expected);
      if (flip) MirrorVertical(&expected);
      ASSERT_EQ(expected.Width(), dw);
      ASSERT_EQ(expected.Height(), dh);
      int worst = 0;
      for (std::int32_t y = 0; y < dh; ++y)
        for (std::int32_t x = 0; x < dw; ++x) {
          const TColor32 a = surface.At(0, ox + x, oy + y), b = expected.GetPixel(x, y) | 0xFF000000u;
          for (int shift = 0; shift < 24; shift += 8)
            worst = std::max(worst, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
        }
      EXPECT_LE(worst, 2);

      // The marker's centre, placed by hand: upright pixel (u, v) of
      // (2400, 1800) turns to (v, 2399 - u), (2399 - u, 1799 - v) or
      // (1799 - v, u); then mirror and flip on the device.
      std::int32_t u = static_cast<std::int32_t>(22.5 * dpm), v = static_cast<std::int32_t>(32.5 * dpm);
      std::int32_t x = u, y = v;
      if (rotation == 1) x = v, y = w - 1 - u;
      if (rotation == 2) x = w - 1 - u, y = h - 1 - v;
      if (rotation == 3) x = h - 1 - v, y = u;
      if (mirror) x = dw - 1 - x;
      if (flip) y = dh - 1 - y;
      EXPECT_EQ(surface.At(0, ox + x, oy + y), kMarker);
      // Nothing lands outside the target.
      EXPECT_EQ(surface.At(0, ox - 1, oy - 1), 0xFFFFFFFFu);
      EXPECT_EQ(surface.At(0, ox + dw, oy + dh), 0xFFFFFFFFu);
    }
}

TEST_F(PagePrintingTest, OptimizedPrintingSkipsBandsOfPurePaper) {
  page_.SetPageWidth(60);
  page_.SetPageHeight(45);
  AddMarker(2, 2, 5);
  const TRect target{0, 0, 2400, 1800};
  RecordingPrintSurface plain({0, 0, 2400, 1800}, 40);
  plain.BeginDoc("All");
  page_.PrintPage(plain, target, 40, 0, false, false);
  plain.EndDoc();
  ASSERT_EQ(plain.Bands.size(), 4u);
  // Paper arrives as white pixels.
  EXPECT_EQ(plain.At(0, 2399, 1799), 0xFFFFFFFFu);
  EXPECT_EQ(plain.ClippedPixels, 0);

  doc_.Optimized = true;
  RecordingPrintSurface optimized({0, 0, 2400, 1800}, 40);
  optimized.BeginDoc("Marked only");
  page_.PrintPage(optimized, target, 40, 0, false, false);
  optimized.EndDoc();
  ASSERT_EQ(optimized.Bands.size(), 1u);
  EXPECT_EQ(optimized.Bands[0].Rect, plain.Bands[0].Rect);
}

TEST_F(PagePrintingTest, UnprintablePagesAndSizesDrawNothingOrRaise) {
  RecordingPrintSurface surface({0, 0, 100, 100}, 1);
  surface.BeginDoc("Edge");
  // An empty target, a negative resolution.
  page_.PrintPage(surface, {10, 10, 10, 50}, 0, 0, false, false);
  page_.PrintPage(surface, {0, 0, 100, 100}, -3, 0, false, false);
  EXPECT_TRUE(surface.Bands.empty());
  // A rounded source size beyond 32 bits is refused, not wrapped.
  EXPECT_EQ(test::ErrorOf([&] { page_.PrintPage(surface, {0, 0, 100, 100}, 1e8f, 0, false, false); }),
            "The page is too large to print at this resolution");
  EXPECT_EQ(doc_.PrintingDepth(), 0);
  // A page without a size prints nothing and divides by nothing.
  page_.SetPageWidth(0);
  page_.PrintPage(surface, {0, 0, 100, 100}, 0, 0, false, false);
  EXPECT_TRUE(surface.Bands.empty());
  // Without a document nothing is printed.
  TdtpPage loose;
  loose.PrintPage(surface, {0, 0, 100, 100}, 1, 0, false, false);
  EXPECT_TRUE(surface.Bands.empty());
  surface.EndDoc();
}

// ---- End to end on a PDF printer ------------------------------------------------------

TEST_F(PagePrintingTest, PdfPrinterAt600DpiGivesBackTheDirectRender) {
  test::EnsureApplication();
  // A gradient background and shapes across the band borders.
  TBitmap32 image;
  image.SetSize(64, 48);
  for (std::int32_t y = 0; y < 48; ++y)
    for (std::int32_t x = 0; x < 64; ++x)
      image.SetPixel(x, y, Color32(static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 5), 0x80));
  page_.SetIsDefaultPage(false);
  page_.BackgroundResource().SetBitmap(&image);
  for (int k = 0; k < 6; ++k) AddMarker(30 + k * 25.0f, 120 + k * 12.0f, 30);

  test::ScratchDir dir;
  const auto pdf = dir / "page.pdf";
  TQtPrintSurface surface;
  surface.Printer().setOutputFormat(QPrinter::PdfFormat);
  surface.Printer().setOutputFileName(QString::fromStdString(pdf.string()));
  surface.Printer().setResolution(600);
  surface.Printer().setPageSize(QPageSize(QPageSize::A4));
  surface.Printer().setFullPage(true);
  surface.BeginDoc("Page");
  const TDeviceRect sheet = surface.SheetRect();
  page_.PrintPage(surface, {sheet.Left, sheet.Top, sheet.Right, sheet.Bottom},
                  static_cast<float>(surface.Dpm()), 0, false, false);
  surface.EndDoc();

  int status = -1;
  test::RunCommand("qpdf --check '" + pdf.string() + "' >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
  const std::string info = test::RunCommand("pdfinfo '" + pdf.string() + "'");
  EXPECT_NE(info.find("Page size:       595 x 842 pts (A4)"), std::string::npos) << info;

  // The direct render: the page drawn whole at the fit factor, where the
  // centred destination lies on the sheet.
  const double f = std::min(sheet.Height() / 297.0, sheet.Width() / 210.0);
  TBitmap32 direct;
  FullRender(static_cast<float>(f), direct);
  const std::int32_t dx = sheet.Left + (sheet.Width() - direct.Width()) / 2;
  const std::int32_t dy = sheet.Top + (sheet.Height() - direct.Height()) / 2;

  // A window over the middle crosses band borders both ways.
  const std::int32_t x0 = 1800, y0 = 2400, size = 2200;
  test::RunCommand("pdftoppm -r 600 -x " + std::to_string(x0) + " -y " + std::to_string(y0) +
                   " -W " + std::to_string(size) + " -H " + std::to_string(size) + " '" +
                   pdf.string() + "' '" + (dir / "back").string() + "'");
  const test::PpmImage back = test::ReadPpm(dir / "back-1.ppm");
  ASSERT_EQ(back.Width, size);
  ASSERT_EQ(back.Height, size);
  EXPECT_GE(test::Psnr(back, direct, x0 - dx, y0 - dy), 35.0);

  // No seam: a row or column on either side of a band border differs from
  // the direct render no more than the window's lines do in general.
  auto lineError = [&](bool row, std::int32_t at) {
    double sum = 0;
    for (std::int32_t i = 0; i < size; ++i) {
      const std::int32_t x = row ? i : at - x0, y = row ? at - y0 : i;
      const std::uint32_t p = back.At(x, y), q = direct.GetPixel(x0 + x - dx, y0 + y - dy);
      for (int shift = 0; shift < 24; shift += 8)
        sum += std::abs(int((p >> shift) & 255) - int((q >> shift) & 255));
    }
    return sum / (3.0 * size);
  };
  std::vector<double> rows;
  for (std::int32_t y = y0; y < y0 + size; ++y) rows.push_back(lineError(true, y));
  std::sort(rows.begin(), rows.end());
  const double limit = 2 * rows[rows.size() * 9 / 10] + 1;
  // The bands' own borders, as a recording surface sees them.
  RecordingPrintSurface recorder(sheet, surface.Dpm());
  recorder.BeginDoc("Borders");
  page_.PrintPage(recorder, {sheet.Left, sheet.Top, sheet.Right, sheet.Bottom},
                  static_cast<float>(surface.Dpm()), 0, false, false);
  recorder.EndDoc();
  int borders = 0;
  for (const auto& band : recorder.Bands) {
    const TDeviceRect& r = band.Rect;
    if (r.Top > y0 && r.Top < y0 + size) {
      ++borders;
      EXPECT_LT(lineError(true, r.Top - 1), limit) << "row " << r.Top - 1;
      EXPECT_LT(lineError(true, r.Top), limit) << "row " << r.Top;
    }
    if (r.Left > x0 && r.Left < x0 + size) {
      ++borders;
      EXPECT_LT(lineError(false, r.Left - 1), limit) << "column " << r.Left - 1;
      EXPECT_LT(lineError(false, r.Left), limit) << "column " << r.Left;
    }
  }
  EXPECT_GT(borders, 2);
}

}  // namespace
}  // namespace kdl

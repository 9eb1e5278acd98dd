// Printing onto a PDF-format printer and exporting PDF files, checked with
// poppler and qpdf, an independent writer of the file layout, and
// arithmetic done by hand.
#include <gtest/gtest.h>

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>

#include <jpeglib.h>

#include "ProjectTesting.h"
#include "RasterTesting.h"
#include "support/AllocationMeter.h"
#include "app/output/PdfExport.h"
#include "app/output/PrintHelper.h"
#include "app/project/DtpHelper.h"
#include "app/project/Templates.h"
#include "app/shapes/CropBitmapShape.h"
#include "app/shapes/ExLineShape.h"
#include "document/effects/MaskEffect.h"
#include "document/effects/Masks.h"
#include "document/resources/BitmapResource.h"
#include "document/text/TextBaseShape.h"
#include "document/view/Page.h"
#include "platform/qt/PrinterService.h"
#include "raster/Bitmap32.h"
#include "raster/Transforms.h"

namespace kdl::test {
namespace {

constexpr int kCDFront = 0, kCDBack = 2, kDVD = 3, kOrigami = 6;

class OutputTest : public ProjectFixture {
 protected:
  void SetUp() override {
    ProjectFixture::SetUp();
    SetPrinterNames(std::vector<std::string>{"Test printer"});
    UsePdfPrinter(5, 5, 5, 5);
  }
  void TearDown() override {
    SetPrinterNames(std::nullopt);
    CurrentPrinter().setOutputFileName({});
    CurrentPrinter().setOutputFormat(QPrinter::NativeFormat);
    ProjectFixture::TearDown();
  }
  // A4 portrait with these unprintable borders (mm), printing to sheet.pdf.
  void UsePdfPrinter(double left, double top, double right, double bottom) {
    QPrinter& printer = CurrentPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString((scratch / "sheet.pdf").string()));
    printer.setFullPage(false);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(left, top, right, bottom), QPageLayout::Millimeter));
  }
  void Make(int type) {
    ASSERT_TRUE(CreateTemplate(*doc, type));
    SetScreenLineWidths(*doc);
  }
  // Only the cut and fold lines stay visible.
  void LinesOnly() {
    for (int i = 1; i < kFirstLineIndex; ++i) SetShapeVisible(*doc, i, false);
  }
  std::string Tool(const std::string& command, int* status = nullptr) {
    return RunCommand(command + " 2>&1", status);
  }
  PpmImage Rasterise(const std::filesystem::path& pdf, const std::string& options) {
    int status = -1;
    Tool("pdftoppm " + options + " -singlefile '" + pdf.string() + "' '" + (scratch / "page").string() + "'",
         &status);
    EXPECT_EQ(status, 0);
    return ReadPpm(scratch / "page.ppm");
  }
};

// Centre and width (pixels) of the dark line crossing x0..x1 on row y.
std::pair<double, int> LineAcrossRow(const PpmImage& image, int y, int x0, int x1) {
  double sum = 0, weighted = 0;
  int dark = 0;
  for (int x = x0; x <= x1; ++x) {
    const double d = 255.0 - ((image.At(x, y) >> 8) & 255);
    sum += d;
    weighted += d * x;
    if (d > 127) ++dark;
  }
  return {sum > 0 ? weighted / sum + 0.5 : -1, dark};
}
std::pair<double, int> LineAcrossColumn(const PpmImage& image, int x, int y0, int y1) {
  double sum = 0, weighted = 0;
  int dark = 0;
  for (int y = y0; y <= y1; ++y) {
    const double d = 255.0 - ((image.At(x, y) >> 8) & 255);
    sum += d;
    weighted += d * y;
    if (d > 127) ++dark;
  }
  return {sum > 0 ? weighted / sum + 0.5 : -1, dark};
}

double Px300(double mm) { return mm / 25.4 * 300; }

std::string Decimal(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6).ptr;
  return std::string(text, end);
}

TEST_F(OutputTest, PaperFitAgainstPrintableArea) {
  // A4 less 5 mm all round: 200 x 287 mm.
  Make(kCDFront);  // 131 x 130
  EXPECT_EQ(CheckPaperFit(*doc), pfFits);
  Make(kDVD);  // 284 x 194: only turned
  EXPECT_EQ(CheckPaperFit(*doc), pfFitsTurned);
  EXPECT_FALSE(PrinterLandscape());
  CheckPrinterOrientation(*doc);
  EXPECT_TRUE(PrinterLandscape());
  EXPECT_EQ(CheckPaperFit(*doc), pfFits);
  UsePdfPrinter(5, 5, 5, 5);

  TdtpPage* page = doc->GetCurrentPage();
  page->SetPageWidth(300);
  page->SetPageHeight(300);
  EXPECT_EQ(CheckPaperFit(*doc), pfTooSmall);
  const TPrinterPageInfo info = GetPrinterPageInfo();
  // The PDF device keeps its sheet and margins in whole points.
  EXPECT_NEAR(info.PaperWidth, 595 / 72.0 * 25.4, 0.01);
  EXPECT_NEAR(info.PaperHeight, 842 / 72.0 * 25.4, 0.01);
  EXPECT_NEAR(info.MarginLeft, 14 / 72.0 * 25.4, 0.01);
  EXPECT_NEAR(info.MarginBottom, 14 / 72.0 * 25.4, 0.01);
  page->SetPageWidth(static_cast<float>(info.PaperWidth - info.MarginLeft - info.MarginRight));
  page->SetPageHeight(static_cast<float>(info.PaperHeight - info.MarginTop - info.MarginBottom));
  EXPECT_EQ(CheckPaperFit(*doc), pfFits);

  // Without a printer: the A4 defaults, 195 x 282 printable.
  SetPrinterNames(std::vector<std::string>{});
  const TPrinterPageInfo defaults = GetPrinterPageInfo();
  EXPECT_EQ(defaults.PaperWidth, 210);
  EXPECT_EQ(defaults.MarginLeft, 10);
  EXPECT_EQ(defaults.MarginRight, 5);
  EXPECT_EQ(CheckPaperFit(*doc), pfTooSmall);
  EXPECT_TRUE(Errors.empty());

  // A printer whose sheet rounds to no pixels at its resolution: the A4
  // defaults and one message, rather than a page without size.
  SetPrinterNames(std::vector<std::string>{"Test printer"});
  QPrinter& printer = CurrentPrinter();
  const int dpi = printer.resolution();
  printer.setResolution(1);
  const bool tiny = printer.setPageLayout(QPageLayout(QPageSize(QSizeF(1, 1), QPageSize::Point),
                                                      QPageLayout::Portrait, QMarginsF(), QPageLayout::Point));
  const TPrinterPageInfo none = GetPrinterPageInfo();
  printer.setResolution(dpi);
  UsePdfPrinter(5, 5, 5, 5);
  ASSERT_TRUE(tiny);
  EXPECT_EQ(none.PaperWidth, 210);
  EXPECT_EQ(none.PaperHeight, 297);
  EXPECT_EQ(Errors.size(), 1u);
}

TEST_F(OutputTest, CentredLabelMovesIntoPrintableArea) {
  Make(kOrigami);  // 174 x 254, centred
  const float left = doc->GetShape(kFirstLineIndex)->DocLeft();
  const float top = doc->GetShape(kFirstLineIndex)->DocTop();
  auto copy = CopyCurrentPage(*doc, true);
  PrepareForOutput(*copy, true);
  // Nominally (13 + 5, 16.5 + 5); the device's whole points make it
  // 595 x 842 pt with 14 pt margins.
  const double mm = 25.4 / 72;
  EXPECT_NEAR(copy->GetShape(kFirstLineIndex)->DocLeft() - left, ((595 - 28) * mm - 174) / 2 + 14 * mm, 0.01);
  EXPECT_NEAR(copy->GetShape(kFirstLineIndex)->DocTop() - top, ((842 - 28) * mm - 254) / 2 + 14 * mm, 0.01);
  EXPECT_NEAR(copy->GetShape(kFirstLineIndex)->DocLeft() - left, 18, 0.1);
  EXPECT_NEAR(copy->GetShape(kFirstLineIndex)->DocTop() - top, 21.5, 0.1);
  EXPECT_NEAR(copy->GetCurrentPage()->PageWidth(), 595 * mm, 0.01);
  // The project itself is untouched.
  EXPECT_EQ(doc->GetShape(kFirstLineIndex)->DocLeft(), left);
  EXPECT_EQ(doc->GetCurrentPage()->PageWidth(), 174);
}

TEST_F(OutputTest, PrintedCutLinesSitAtLabelAndPrinterMargins) {
  UsePdfPrinter(5, 7, 4, 6);
  Make(kCDFront);
  LinesOnly();
  PrintLabel(*doc);
  const auto pdf = scratch / "sheet.pdf";
  int status = -1;
  Tool("qpdf --check '" + pdf.string() + "'", &status);
  EXPECT_EQ(status, 0);
  const std::string info = Tool("pdfinfo '" + pdf.string() + "'");
  EXPECT_NE(info.find("Pages:           1\n"), std::string::npos) << info;
  EXPECT_NE(info.find("595 x 842 pts"), std::string::npos) << info;

  const PpmImage sheet = Rasterise(pdf, "-r 300");
  ASSERT_EQ(sheet.Width, 2480);
  // The frame: label margin (6, 6) + printer margin (5, 7 mm, kept by the
  // device as 14 and 20 pt) + 0 or 121/120.
  const double ml = 14 / 72.0 * 25.4, mt = 20 / 72.0 * 25.4;
  const double left = Px300(6 + ml), right = Px300(127 + ml), top = Px300(6 + mt), bottom = Px300(126 + mt);
  const int midY = static_cast<int>(Px300(73)), midX = static_cast<int>(Px300(71.5));
  for (double expected : {left, right}) {
    const auto [centre, width] = LineAcrossRow(sheet, midY, int(expected) - 15, int(expected) + 15);
    EXPECT_NEAR(centre, expected, 1.0);
    EXPECT_GE(width, 2);  // 0.25 mm is 2.95 pixels
    EXPECT_LE(width, 4);
  }
  for (double expected : {top, bottom}) {
    const auto [centre, width] = LineAcrossColumn(sheet, midX, int(expected) - 15, int(expected) + 15);
    EXPECT_NEAR(centre, expected, 1.0);
    EXPECT_GE(width, 2);
    EXPECT_LE(width, 4);
  }
  // The project keeps its screen lines.
  EXPECT_EQ(dynamic_cast<TDtpExLineShape*>(doc->GetShape(kFirstLineIndex))->LineWidth(), kScreenLineWidth);
}

TEST_F(OutputTest, FailedJobIsFollowedByGoodOne) {
  Make(kCDFront);
  CurrentPrinter().setOutputFileName(QString::fromStdString((scratch / "missing" / "sheet.pdf").string()));
  EXPECT_EQ(ErrorOf([&] { PrintLabel(*doc); }), Text("Messages", "PrintingError"));
  UsePdfPrinter(5, 5, 5, 5);
  PrintLabel(*doc);
  int status = -1;
  Tool("qpdf --check '" + (scratch / "sheet.pdf").string() + "'", &status);
  EXPECT_EQ(status, 0);
}

// The sheet is the prepared copy as the page renders it: its picture, texts
// and lines in place. The first copy of a project whose picture was just
// loaded must carry the picture too.
TEST_F(OutputTest, PrintedSheetMatchesPreparedCopy) {
  UsePdfPrinter(5, 7, 4, 6);
  Make(kCDFront);
  PrintLabel(*doc);
  auto copy = CopyCurrentPage(*doc, true);
  PrepareForOutput(*copy, true);
  TdtpPage* page = copy->GetCurrentPage();
  const double dpm = 100 / 25.4;
  const auto w = static_cast<std::int32_t>(std::lround(page->PageWidth() * dpm));
  const auto h = static_cast<std::int32_t>(std::lround(page->PageHeight() * dpm));
  const PpmImage sheet =
      Rasterise(scratch / "sheet.pdf", "-scale-to-x " + std::to_string(w) + " -scale-to-y " + std::to_string(h));
  ASSERT_EQ(sheet.Width, w);
  const std::unique_ptr<TBitmap32> direct = page->RenderThumbnail(w, h, dtPrinter, 0);
  ASSERT_TRUE(direct);
  EXPECT_GE(Psnr(sheet, *direct, 0, 0), 30.0);
}

// A kind of line whose printing is switched off in the project prints
// nothing, even where the file left its lines visible; the other kind
// prints thin, and the project keeps its own lines as they were.
TEST_F(OutputTest, CutLinesSwitchedOffPrintNone) {
  UsePdfPrinter(5, 7, 4, 6);
  Make(kCDBack);  // 161 x 130: a 151 x 120 cut frame, folds at 6.5 and 144.5
  LinesOnly();
  dynamic_cast<TDtpProjectInfoShape*>(doc->GetShape(kProjectInfoIndex))->SetPrintCutLines(false);
  PrintLabel(*doc);
  const PpmImage sheet = Rasterise(scratch / "sheet.pdf", "-r 300");
  // Label margin 6 mm + printer margins (14 and 20 pt on the device).
  const double ml = 6 + 14 / 72.0 * 25.4, mt = 6 + 20 / 72.0 * 25.4;
  // Across the middle row: the two folds, 0.25 mm, and no cut line.
  const int midY = static_cast<int>(Px300(mt + 60));
  std::vector<int> runs;
  for (int x = 1, run = 0; x < sheet.Width; ++x) {
    const bool dark = ((sheet.At(x, midY) >> 8) & 255) < 128;
    if (dark) ++run;
    if (!dark && run > 0) runs.push_back(x - run), runs.push_back(run), run = 0;
  }
  ASSERT_EQ(runs.size(), 4u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NEAR(runs[2 * i] + runs[2 * i + 1] / 2.0, Px300(ml + (i == 0 ? 6.5 : 144.5)), 1.5);
    EXPECT_LE(runs[2 * i + 1], 4);
  }
  // Down the middle column: nothing where the frame's top and bottom were.
  const int midX = static_cast<int>(Px300(ml + 75.5));
  int dark = 0;
  for (int y = 0; y < sheet.Height; ++y) dark += ((sheet.At(midX, y) >> 8) & 255) < 128;
  EXPECT_EQ(dark, 0);
  for (int i = kFirstLineIndex; i < doc->ShapeCount(); ++i) {
    auto* line = dynamic_cast<TDtpExLineShape*>(doc->GetShape(i));
    EXPECT_EQ(line->LineWidth(), kScreenLineWidth);
    EXPECT_TRUE(line->Visible());
  }
}

// ---- PDF export ------------------------------------------------------------------------

class PdfExportTest : public OutputTest {
 protected:
  // Exports, then checks the file against tools and an independent writer.
  void ExportAndCheck(int preset, int width, int height, int ptW, int ptH) {
    const auto pdf = scratch / "label.pdf";
    ExportToPdf(*doc, pdf.string(), preset);
    const std::string bytes = ReadFile(pdf);
    EXPECT_EQ(bytes.substr(bytes.size() - 6), "\n%%EOF");
    // The JPEG bytes as the file holds them.
    const std::size_t length = bytes.find("/Length ");
    const std::size_t stream = bytes.find(">>\nstream\n", length);
    const std::size_t size = std::stoul(bytes.substr(length + 8, stream - length - 8));
    WriteFile(scratch / "picture.jpg", bytes.substr(stream + 10, size));
    Tool("python3 '" KDL_SOURCE_DIR "/tests/app/pdf_layout.py' '" + (scratch / "picture.jpg").string() + "' " +
         std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(ptW) + " " +
         std::to_string(ptH) + " '" + (scratch / "rebuilt.pdf").string() + "'");
    EXPECT_TRUE(ReadFile(scratch / "rebuilt.pdf") == bytes);

    int status = -1;
    Tool("qpdf --check '" + pdf.string() + "'", &status);
    EXPECT_EQ(status, 0);
    const std::string info = Tool("pdfinfo '" + pdf.string() + "'");
    EXPECT_NE(info.find(std::to_string(ptW) + " x " + std::to_string(ptH) + " pts"), std::string::npos) << info;
    const std::string images = Tool("pdfimages -list '" + pdf.string() + "'");
    // The one image row: page num type width height color comp bpc enc ...
    std::istringstream rows(images);
    std::string line;
    for (int i = 0; i < 3; ++i) std::getline(rows, line);
    std::istringstream row(line);
    std::vector<std::string> cells{std::istream_iterator<std::string>(row), {}};
    EXPECT_GE(cells.size(), 9u) << images;
    if (cells.size() < 9) return;
    EXPECT_EQ(cells[3], std::to_string(width));
    EXPECT_EQ(cells[4], std::to_string(height));
    EXPECT_EQ(cells[5], "rgb");
    EXPECT_EQ(cells[6], "3");
    EXPECT_EQ(cells[8], "jpeg");

    // Read back through poppler at the picture's size: the picture as it was
    // before encoding, within the preset's loss. Poppler ends an image at
    // the pixel after the one its edge falls in, so an edge exactly on a
    // pixel boundary (as -scale-to-x W gives) widens the image by a pixel
    // and resamples it; half a pixel short, it is drawn one to one.
    const PpmImage read = Rasterise(pdf, "-rx " + Decimal((width - 0.5) * 72 / ptW) + " -ry " +
                                             Decimal((height - 0.5) * 72 / ptH) + " -x 0 -y 0 -W " +
                                             std::to_string(width) + " -H " + std::to_string(height));
    ASSERT_EQ(read.Width, width);
    ASSERT_EQ(read.Height, height);
    auto copy = CopyCurrentPage(*doc, false);
    PrepareForOutput(*copy, false);
    const std::unique_ptr<TBitmap32> picture =
        copy->GetCurrentPage()->RenderThumbnail(width, height, dtPrinter, 0);
    ASSERT_TRUE(picture);
    EXPECT_GE(Psnr(read, *picture, 0, 0), kMinPsnr[preset]) << "preset " << preset;
  }
  static constexpr double kMinPsnr[] = {30, 33, 40};
};

TEST_F(PdfExportTest, CDFrontAtEachPreset) {
  Make(kCDFront);
  ExportAndCheck(0, 773, 767, 371, 368);
  ExportAndCheck(1, 1547, 1535, 371, 368);
  ExportAndCheck(2, 3094, 3070, 371, 368);
  // The project keeps its screen lines.
  EXPECT_EQ(dynamic_cast<TDtpExLineShape*>(doc->GetShape(kFirstLineIndex))->LineWidth(), kScreenLineWidth);
}

TEST_F(PdfExportTest, OrigamiCase) {
  Make(kOrigami);  // 174 x 254 mm: 493 x 720 pt
  ExportAndCheck(0, 1027, 1500, 493, 720);
}

// The picture frame makes its intermediate a band of rows at a time where
// the second resampling is one to one, or takes each row from one
// intermediate row (a page picture whose axes round apart by a pixel); the
// picture is the whole intermediate's, bit for bit, when enlarging and when
// reducing, with translucent pixels blended.
TEST_F(PdfExportTest, BandedPictureEqualsWholeIntermediate) {
  Make(kCDFront);
  auto* shape = dynamic_cast<TdtpCropBitmapShape*>(doc->GetShape(kImageIndex));
  ASSERT_NE(shape, nullptr);
  TBitmap32 photo;
  FillRandom(photo, 2400, 1500, 5);
  shape->Image().SetBitmap(&photo);
  shape->SetDocWidth(80);
  shape->SetDocHeight(50);
  struct TCase {
    TRect Crop;
    std::int32_t Width, Height;  // the picture; the intermediate is 30 px/mm
  };
  // 3x enlarged in 14 bands, then with a column more; halved in 4 bands.
  for (const TCase& c : {TCase{{300, 200, 1100, 700}, 2400, 1500}, TCase{{300, 200, 1100, 700}, 2401, 1500},
                         TCase{{0, 0, 2400, 1500}, 1200, 750}}) {
    shape->SetCropRect(c.Crop);
    std::unique_ptr<TBitmap32> banded = shape->RenderThumbnail(c.Width, c.Height, dtPrinter, 0);
    ASSERT_TRUE(banded);
    TBitmap32 whole, expected;
    TdtpCropBitmapShape::StretchCropped(photo, whole, c.Crop, c.Height, c.Height * 8 / 5);
    expected.SetSize(c.Width, c.Height);
    expected.Clear(0);
    StretchTransfer(&expected, expected.BoundsRect(), expected.BoundsRect(), &whole, whole.BoundsRect(), sfLinear,
                    dmBlend, nullptr);
    EXPECT_TRUE(Pixels(*banded) == Pixels(expected)) << c.Width;
  }
  // The page picture of the export lets each shape's cache go once drawn:
  // the same pixels as with the caches kept.
  TdtpPage* page = doc->GetCurrentPage();
  const std::unique_ptr<TBitmap32> freed = page->RenderThumbnail(1300, 1290, dtPrinter, 0, true);
  EXPECT_EQ(doc->GetShape(kFirstTitleIndex)->Cache(), nullptr);
  const std::unique_ptr<TBitmap32> kept = page->RenderThumbnail(1300, 1290, dtPrinter, 0);
  EXPECT_NE(doc->GetShape(kFirstTitleIndex)->Cache(), nullptr);
  EXPECT_TRUE(Pixels(*freed) == Pixels(*kept));
}

// The JPEG bytes that libjpeg makes of a whole picture at quality.
std::string EncodeWhole(const TBitmap32& picture, int quality) {
  jpeg_compress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(picture.Width());
  info.image_height = static_cast<JDIMENSION>(picture.Height());
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  for (std::int32_t y = 0; y < picture.Height(); ++y) {
    auto* row = reinterpret_cast<JSAMPROW>(const_cast<TColor32*>(picture.ScanLine(y)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string bytes(reinterpret_cast<const char*>(out), size);
  std::free(out);
  return bytes;
}

class PdfBandsTest : public OutputTest {
 protected:
  // A photo of smooth fields and grain in the picture frame.
  void SetPhoto() {
    auto* shape = dynamic_cast<TdtpCropBitmapShape*>(doc->GetShape(kImageIndex));
    ASSERT_NE(shape, nullptr);
    TBitmap32 photo;
    FillRandom(photo, 900, 700, 11, true);
    for (std::int32_t y = 0; y < photo.Height(); ++y)
      for (std::int32_t x = 0; x < photo.Width(); ++x) {
        TColor32& p = *photo.PixelPtr(x, y);
        p = 0xFF000000u | ((p & 0x3F3F3Fu) + (static_cast<TColor32>(x * 190 / 900) << 16) +
                           (static_cast<TColor32>(y * 190 / 700) << 8));
      }
    shape->Image().SetBitmap(&photo);
  }
  // The prepared copy of the page that the export draws.
  std::unique_ptr<TdtpDocument> PreparedCopy() {
    auto copy = CopyCurrentPage(*doc, false);
    PrepareForOutput(*copy, false);
    return copy;
  }
  // Exports with the command and with band heights that leave a short last
  // band; every JPEG is libjpeg's encoding of the page picture drawn whole.
  void ExpectWholePictureBytes(int preset, std::initializer_list<std::int32_t> bandRows) {
    SCOPED_TRACE("preset " + std::to_string(preset));
    const int quality = kPdfPresets[static_cast<std::size_t>(preset)].Quality;
    // The reference: the page drawn whole, after a first picture of it, as
    // the user's project has been on screen before it is exported.
    TPixelSize pixels;
    std::string whole;
    for (int round = 0; round < 2; ++round) {
      auto copy = PreparedCopy();
      TdtpPage* page = copy->GetCurrentPage();
      pixels = PdfPixelSize({page->PageWidth(), page->PageHeight()}, preset);
      const std::unique_ptr<TBitmap32> picture =
          page->RenderThumbnail(pixels.Width, pixels.Height, dtPrinter, 0, true);
      ASSERT_TRUE(picture);
      if (round == 1) whole = EncodeWhole(*picture, quality);
    }

    const auto pdf = scratch / "bands.pdf";
    ExportToPdf(*doc, pdf.string(), preset);
    int status = -1;
    const std::string check = Tool("qpdf --check '" + pdf.string() + "'", &status);
    EXPECT_EQ(status, 0) << check;
    const std::string bytes = ReadFile(pdf);
    const std::size_t length = bytes.find("/Length ");
    const std::size_t stream = bytes.find(">>\nstream\n", length);
    ASSERT_NE(stream, std::string::npos);
    const std::size_t size = std::stoul(bytes.substr(length + 8, stream - length - 8));
    EXPECT_TRUE(size == whole.size() && bytes.compare(stream + 10, size, whole) == 0)
        << "the command's file, " << size << " bytes against " << whole.size();

    for (const std::int32_t rows : bandRows) {
      ASSERT_NE(pixels.Height % rows, 0) << "band heights must leave a short last band";
      auto copy = PreparedCopy();
      TMemoryStream jpeg;
      SavePageToJpgStream(*copy, &jpeg, pixels, static_cast<std::uint8_t>(quality), rows);
      const std::string banded(static_cast<const char*>(jpeg.Memory()), static_cast<std::size_t>(jpeg.Size()));
      EXPECT_TRUE(banded == whole) << rows << " rows a band";
    }
  }
};

TEST_F(PdfBandsTest, CDFrontWithAPhoto) {
  Make(kCDFront);
  SetPhoto();
  ExpectWholePictureBytes(0, {37, 100});
  ExpectWholePictureBytes(2, {333});
}

TEST_F(PdfBandsTest, DVDWithAPhoto) {
  Make(kDVD);
  SetPhoto();
  ExpectWholePictureBytes(0, {41});
  ExpectWholePictureBytes(2, {500});
}

// Text, a turned title and a masked frame go through the shapes' caches:
// each cache serves every band it reaches.
TEST_F(PdfBandsTest, TextTurnedShapeAndMask) {
  Make(kCDFront);
  SetPhoto();
  auto* shape = dynamic_cast<TdtpCropBitmapShape*>(doc->GetShape(kImageIndex));
  ASSERT_NE(shape, nullptr);
  auto effect = std::make_unique<TdtpMaskEffect>();
  effect->AddMask(std::make_unique<TdtpFeatherMask>());
  shape->AddEffect(std::move(effect));
  auto* title = dynamic_cast<TdtpTextBaseShape*>(doc->GetShape(kFirstTitleIndex));
  ASSERT_NE(title, nullptr);
  title->SetText(u"Night Drive");
  title->SetDocAngle(33.3f);
  if (auto* second = dynamic_cast<TdtpTextBaseShape*>(doc->GetShape(kFirstTitleIndex + 1)))
    second->SetText(u"Side B, 1987");
  ExpectWholePictureBytes(0, {29, 250});
  ExpectWholePictureBytes(2, {347});
}

TEST_F(PdfExportTest, FailuresKeepThePreviousFile) {
  Make(kCDFront);
  const auto pdf = scratch / "kept.pdf";
  WriteFile(pdf, "previous");
  const std::string message = Text("Messages", "PDFSavingError");
  // Below a regular file: cannot create.
  EXPECT_EQ(ErrorOf([&] { ExportToPdf(*doc, (pdf / "x.pdf").string(), 1); }), message);
  // A picture whose bytes fail while being copied.
  struct TFailingStream : TMemoryStream {
    std::int64_t Read(void*, std::int64_t) override { return 0; }
  } failing;
  failing.WriteBuffer("\xFF\xD8\xFF", 3);
  failing.SetPosition(0);
  EXPECT_EQ(WriteJpegAsPdf(&failing, {10, 10}, {10, 10}, pdf.string()), kPdfWriteError);
  EXPECT_EQ(WriteJpegAsPdf(&failing, {10, 10}, {10, 10}, (pdf / "x.pdf").string()), kPdfCannotCreate);
  // An empty picture is no picture.
  TMemoryStream empty;
  EXPECT_EQ(WriteJpegAsPdf(&empty, {10, 10}, {10, 10}, pdf.string()), kPdfNoJpeg);
  EXPECT_EQ(WriteJpegAsPdf(nullptr, {10, 10}, {10, 10}, pdf.string()), kPdfNoJpeg);
  EXPECT_THROW(SavePageToJpgStream(*doc, nullptr, {10, 10}, 80), Exception);
  // Presets outside the list and impossible pictures.
  EXPECT_EQ(ErrorOf([&] { SaveDocumentToPdf(*doc, pdf.string(), 3); }), message);
  EXPECT_EQ(ErrorOf([&] { SaveDocumentToPdf(*doc, pdf.string(), -1); }), message);
  doc->GetCurrentPage()->SetPageWidth(std::nanf(""));
  EXPECT_EQ(ErrorOf([&] { SaveDocumentToPdf(*doc, pdf.string(), 0); }), message);
  doc->GetCurrentPage()->SetPageWidth(3000);  // 70,866 pixels at 600 dpi
  EXPECT_EQ(ErrorOf([&] { SaveDocumentToPdf(*doc, pdf.string(), 2); }), message);
  doc->GetCurrentPage()->SetPageWidth(0.1f);
  EXPECT_EQ(ErrorOf([&] { SaveDocumentToPdf(*doc, pdf.string(), 0); }), message);
  EXPECT_EQ(ReadFile(pdf), "previous");
}

TEST_F(PdfExportTest, UnusablePageSizesFailBeforeAnyPicture) {
  // A picture side beyond what JPEG carries, or none at all, is refused
  // before the page is drawn at that size.
  if (!AllocationMeter::Available()) GTEST_SKIP() << "needs the sanitizer's allocator hooks";
  Make(kCDFront);
  const auto pdf = scratch / "never.pdf";
  const std::string message = Text("Messages", "PDFSavingError");
  struct TCase {
    float Width, Height;
    int Preset;
  };
  // 3000 mm at 600 dpi is 70,866 pixels; 2800 mm at 600 dpi is 66,141.
  for (const TCase& c : {TCase{3000, 2, 2}, TCase{2, 2800, 2}, TCase{-50, 100, 1}, TCase{100, 0.01f, 0},
                         TCase{std::numeric_limits<float>::infinity(), 10, 0}}) {
    SCOPED_TRACE(std::to_string(c.Width) + " x " + std::to_string(c.Height));
    doc->GetCurrentPage()->SetPageWidth(c.Width);
    doc->GetCurrentPage()->SetPageHeight(c.Height);
    AllocationMeter meter;
    EXPECT_EQ(ErrorOf([&] { SaveDocumentToPdf(*doc, pdf.string(), c.Preset); }), message);
    EXPECT_LT(meter.Largest(), 256 * 1024);
  }
  EXPECT_FALSE(std::filesystem::exists(pdf));
}

TEST_F(PdfExportTest, FileNamePresetIsOneComponent) {
  Make(kCDFront);
  auto* info = dynamic_cast<TDtpProjectInfoShape*>(doc->GetShape(kProjectInfoIndex));
  info->SetProjectName("../../etc/passwd");
  EXPECT_EQ(PdfFileNamePreset(*doc), ".._.._etc_passwd");
  info->SetProjectName("..");
  EXPECT_EQ(PdfFileNamePreset(*doc), "");
  info->SetProjectName("CD Front");
  EXPECT_EQ(PdfFileNamePreset(*doc), "CD Front");
}

}  // namespace
}  // namespace kdl::test

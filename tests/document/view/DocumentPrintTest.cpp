// Print jobs of the document: on a recording surface, the sheets, the turn,
// the progress and the failures; end to end, three pages on a PDF printer
// read back with poppler and qpdf.
#include <gtest/gtest.h>

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/QtApplication.h"
#include "support/RasterTesting.h"
#include "support/RecordingPrintSurface.h"
#include "support/RenderTestShapes.h"
#include "support/TestFiles.h"
#include "document/Startup.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/qt/Printer.h"

namespace kdl {
namespace {

using test::RecordingPrintSurface;

constexpr TColor32 kMarker = 0xFF2060A0u;
constexpr TColor32 kOther = 0xFFC03010u;
constexpr TColor32 kWhite = 0xFFFFFFFFu;
// A4 at 150 dpi.
constexpr TDeviceRect kA4Sheet{0, 0, 1240, 1754};

class ThrowingShape : public testing::RectShape {
 public:
  bool Throw = true;
  void Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) override {
    if (Throw) throw std::runtime_error("shape failed");
    RectShape::Paint32(bitmap, info);
  }
};

struct Progress {
  int Count, Total;
  float Percent;
  int JobCount, JobPage;
};

class DocumentPrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    InitializeDocumentLibrary();
    doc_ = std::make_unique<TdtpDocument>();
    doc_->OnProgress = [this](TdtpDocument& doc, TdtpProgressType kind, int count, int total,
                              float percent) {
      EXPECT_EQ(kind, ptPrint);
      progress_.push_back({count, total, percent, doc.ProgressCount(), doc.ProgressPage()});
    };
    SetPrinter(&surface_);
  }
  void TearDown() override { SetPrinter(nullptr); }

  template <class Shape = testing::RectShape>
  Shape& AddShape(TdtpPage& page, float left, float top, float size, TColor32 color) {
    auto shape = std::make_unique<Shape>();
    shape->Color = color;
    shape->SetDocBoundsAngle(left, top, size, size, 0);
    Shape& ref = *shape;
    page.AddShape(std::move(shape));
    return ref;
  }

  int Count(const std::string& call) const {
    int n = 0;
    for (const std::string& c : surface_.Calls) n += c == call;
    return n;
  }

  RecordingPrintSurface surface_{kA4Sheet, 150 / 25.4};
  std::unique_ptr<TdtpDocument> doc_;
  std::vector<Progress> progress_;
};

TEST_F(DocumentPrintTest, ALandscapePageTurnsAQuarterOnAPortraitSheet) {
  doc_->SetDefaultPageWidth(297);
  doc_->SetDefaultPageHeight(210);
  TdtpPage& page = *doc_->GetPage(0);
  AddShape(page, 0, 0, 30, kMarker);   // top-left
  AddShape(page, 267, 0, 30, kOther);  // top-right
  doc_->PrintPage(0);
  ASSERT_EQ(surface_.Sheets.size(), 1u);
  EXPECT_EQ(surface_.ClippedPixels, 0);
  // Turned counter-clockwise: the page's top edge runs up the sheet's left.
  EXPECT_EQ(surface_.At(0, 40, 1754 - 40), kMarker);
  EXPECT_EQ(surface_.At(0, 40, 40), kOther);
  EXPECT_EQ(surface_.At(0, 1240 - 40, 40), kWhite);
  EXPECT_EQ(surface_.At(0, 1240 - 40, 1754 - 40), kWhite);
}

TEST_F(DocumentPrintTest, EqualScalesPrintUprightAndCentred) {
  doc_->SetDefaultPageWidth(100);
  doc_->SetDefaultPageHeight(100);
  TdtpPage& page = *doc_->GetPage(0);
  AddShape(page, 0, 0, 20, kMarker);
  AddShape(page, 80, 0, 20, kOther);
  doc_->PrintPage(0);
  ASSERT_EQ(surface_.Sheets.size(), 1u);
  // 1240 px square, (1754 - 1240) / 2 = 257 px from the top.
  EXPECT_EQ(surface_.At(0, 20, 257 + 20), kMarker);
  EXPECT_EQ(surface_.At(0, 1240 - 20, 257 + 20), kOther);
  EXPECT_EQ(surface_.At(0, 20, 257 - 20), kWhite);
  EXPECT_EQ(surface_.At(0, 20, 257 + 1240 - 20), kWhite);
}

TEST_F(DocumentPrintTest, IndicesWithoutAPageGetNoSheetButCountInTheProgress) {
  AddShape(*doc_->GetPage(0), 10, 10, 20, kMarker);
  doc_->PrintPages({0, 99});
  EXPECT_EQ(surface_.Sheets.size(), 1u);
  EXPECT_EQ(Count("NewPage"), 0);
  EXPECT_EQ(Count("EndDoc"), 1);
  ASSERT_GE(progress_.size(), 4u);
  float last = 0;
  for (const Progress& p : progress_) {
    EXPECT_EQ(p.Total, 2);
    EXPECT_GE(p.Percent, last);
    last = p.Percent;
  }
  EXPECT_EQ(progress_.front().Count, 0);
  EXPECT_EQ(progress_.back().Count, 2);
  EXPECT_EQ(progress_.back().Percent, 1.0f);
  // The page's two bands report inside the first page's half, through the
  // job's count and page number.
  bool bands = false;
  for (const Progress& p : progress_)
    if (p.JobCount == 2 && p.JobPage == 1 && p.Percent > 0 && p.Percent < 0.5f) bands = true;
  EXPECT_TRUE(bands);
  EXPECT_EQ(doc_->ProgressCount(), 0);
  EXPECT_EQ(doc_->ProgressPage(), 0);

  // A missing page first, or between two: still no blank sheet.
  surface_.Sheets.clear();
  surface_.Calls.clear();
  doc_->PrintPages({99, 0, 99, 0});
  EXPECT_EQ(surface_.Sheets.size(), 2u);
  EXPECT_EQ(Count("NewPage"), 1);
  EXPECT_EQ(surface_.At(1, 10 * 1240 / 210 + 20, 10 * 1754 / 297 + 20), kMarker);

  // Lists without a printable page (none, or one without area) open no
  // job; the progress still starts and ends.
  surface_.Calls.clear();
  progress_.clear();
  doc_->PrintPages({});
  EXPECT_TRUE(surface_.Calls.empty());
  ASSERT_EQ(progress_.size(), 2u);
  EXPECT_EQ(progress_[0].Total, 0);
  EXPECT_EQ(progress_[0].Percent, 0.0f);
  EXPECT_EQ(progress_[1].Percent, 1.0f);
  doc_->SetPageCount(2);
  doc_->GetPage(1)->SetPageWidth(0);
  doc_->PrintPages({1, 7, -1});
  EXPECT_TRUE(surface_.Calls.empty());
  surface_.Sheets.clear();
  doc_->PrintRange(0, 2);
  EXPECT_EQ(surface_.Sheets.size(), 1u);
}

TEST_F(DocumentPrintTest, AFailingPageAbortsTheJobAndTheNextJobPrints) {
  doc_->SetPageCount(2);
  ThrowingShape& bad = AddShape<ThrowingShape>(*doc_->GetPage(1), 10, 10, 20, kMarker);
  EXPECT_THROW(doc_->PrintPages({0, 1}), std::runtime_error);
  ASSERT_FALSE(surface_.Calls.empty());
  EXPECT_EQ(surface_.Calls.back(), "Abort");
  EXPECT_EQ(Count("EndDoc"), 0);
  EXPECT_FALSE(doc_->IsPrinting());
  EXPECT_EQ(doc_->ProgressCount(), 0);

  bad.Throw = false;
  surface_.Calls.clear();
  EXPECT_NO_THROW(doc_->PrintPages({0, 1}));
  EXPECT_EQ(surface_.Calls.back(), "EndDoc");
  EXPECT_EQ(Count("NewPage"), 1);

  // A busy document refuses before the printer is touched.
  surface_.Calls.clear();
  doc_->BeginBusy(crHourGlass);
  EXPECT_EQ(test::ErrorOf([&] { doc_->PrintPage(0); }), kThreadingError);
  doc_->EndBusy();
  EXPECT_TRUE(surface_.Calls.empty());
}

// ---- End to end -------------------------------------------------------------------------------

TEST_F(DocumentPrintTest, ThreePagesOnAPdfPrinterReadBackAsRendered) {
  // A printer with 5 mm printable-area margins: the page still starts at
  // the sheet's physical corner.
  TQtPrintSurface pdf;
  test::ScratchDir dir;
  const auto file = dir / "job.pdf";
  pdf.Printer().setOutputFormat(QPrinter::PdfFormat);
  pdf.Printer().setOutputFileName(QString::fromStdString(file.string()));
  pdf.Printer().setResolution(600);
  pdf.Printer().setPageSize(QPageSize(QPageSize::A4));
  pdf.Printer().setFullPage(false);
  pdf.Printer().setPageMargins(QMarginsF(5, 5, 5, 5), QPageLayout::Millimeter);
  SetPrinter(&pdf);

  const TColor paper[3] = {0xFFFFFF, 0xE0F0FF, 0xD0FFD0};
  doc_->SetPageCount(3);
  for (int k = 0; k < 3; ++k) {
    TdtpPage& page = *doc_->GetPage(k);
    page.SetPageColor(paper[k]);
    AddShape(page, 0, 0, 10, kMarker);
    AddShape(page, 15 + 10 * k, 20, 25, kOther);
  }
  doc_->SetPrintQuality(pqHigh);
  doc_->PrintRange(0, 3);

  int status = -1;
  test::RunCommand("qpdf --check '" + file.string() + "' >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
  const std::string info = test::RunCommand("pdfinfo '" + file.string() + "'");
  EXPECT_NE(info.find("Pages:           3"), std::string::npos) << info;
  EXPECT_NE(info.find("Page size:       595 x 842 pts (A4)"), std::string::npos) << info;

  // The sheet's corner window, rendered by poppler and directly.
  const std::int32_t size = 1400, kInset = 8;
  const double sx = 4961 / 210.0, sy = 7016 / 297.0;
  for (int k = 0; k < 3; ++k) {
    const auto prefix = dir / ("page" + std::to_string(k));
    test::RunCommand("pdftoppm -r 600 -singlefile -f " + std::to_string(k + 1) + " -l " +
                     std::to_string(k + 1) + " -x 0 -y 0 -W " + std::to_string(size) + " -H " +
                     std::to_string(size) + " '" + file.string() + "' '" + prefix.string() + "'");
    const test::PpmImage back = test::ReadPpm(prefix.string() + ".ppm");
    ASSERT_EQ(back.Width, size);
    ASSERT_EQ(back.Height, size);
    test::PpmImage inner;
    inner.Width = inner.Height = size - 2 * kInset;
    for (std::int32_t y = kInset; y < size - kInset; ++y)
      for (std::int32_t x = kInset; x < size - kInset; ++x) inner.Pixels.push_back(back.At(x, y));

    TdtpPage& page = *doc_->GetPage(k);
    TBitmap32 direct;
    direct.SetSize(size, size);
    direct.Clear(Color32(page.PageColor()));
    TdtpPaintInfo paint;
    paint.Device = dtPrinter;
    paint.BackColor = Color32(page.PageColor()) & 0xFFFFFFu;
    paint.Scale = static_cast<float>(sx);
    paint.RenderScale = doc_->PrinterDpm();
    page.Paint(direct, {0, 0, static_cast<float>(size / sx), static_cast<float>(size / sy)}, true,
               paint);
    // Qt's PDF engine puts the printable area's origin on its own rounding
    // of the margins: the page may sit up to 2 px (0.08 mm) off the corner.
    double best = 0;
    int bestX = 9, bestY = 9;
    for (int oy = -2; oy <= 2; ++oy)
      for (int ox = -2; ox <= 2; ++ox) {
        const double psnr = test::Psnr(inner, direct, kInset + ox, kInset + oy);
        if (psnr > best) best = psnr, bestX = ox, bestY = oy;
      }
    EXPECT_GE(best, 35.0) << "page " << k << " off by " << bestX << "," << bestY;
    // The 10 mm marker starts at the corner, not 5 mm in.
    EXPECT_EQ(back.At(20, 20), kMarker) << "page " << k;
    EXPECT_EQ(back.At(260, 20), Color32(paper[k])) << "page " << k;
  }
}

}  // namespace
}  // namespace kdl

// How often the user's photo is decoded, counted at the image format
// registry: once when it is loaded, once when a saved project opens, and
// not again for repaints, prints and exports while the decoded picture is
// held; when the cache has let it go, a print or an export decodes it once.
#include <gtest/gtest.h>

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

#include <atomic>
#include <cstring>
#include <string>

#include "ProjectTesting.h"
#include "app/output/PdfExport.h"
#include "app/output/PrintHelper.h"
#include "app/project/Templates.h"
#include "app/shapes/CropBitmapShape.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/RasterFormats.h"
#include "document/shapes/Rendering.h"
#include "document/view/Page.h"
#include "platform/qt/PrinterService.h"
#include "raster/Bitmap32.h"

namespace kdl::test {
namespace {

std::atomic<int> g_jpegDecodes{0};
std::atomic<int> g_decodes{0};

void CountDecode(const TRasterClass& cls) {
  ++g_decodes;
  if (std::strstr(cls.ClassName, "Jpg") != nullptr) ++g_jpegDecodes;
}

class DecodeCountTest : public ProjectFixture {
 protected:
  void SetUp() override {
    ProjectFixture::SetUp();
    SetPrinterNames(std::vector<std::string>{"Test printer"});
    QPrinter& printer = CurrentPrinter();
    savedResolution_ = printer.resolution();
    savedLayout_ = printer.pageLayout();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString((scratch / "sheet.pdf").string()));
    printer.setResolution(100);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(5, 5, 5, 5),
                                      QPageLayout::Millimeter));
    SetRasterDecodeHook(&CountDecode);
  }
  void TearDown() override {
    SetRasterDecodeHook(nullptr);
    SetPrinterNames(std::nullopt);
    CurrentPrinter().setOutputFileName({});
    CurrentPrinter().setOutputFormat(QPrinter::NativeFormat);
    // The process's printer goes back as it was, for the tests after this.
    CurrentPrinter().setResolution(savedResolution_);
    CurrentPrinter().setPageLayout(savedLayout_);
    ProjectFixture::TearDown();
  }
  int savedResolution_ = 0;
  QPageLayout savedLayout_;
  // Decodes that body makes.
  template <typename Body>
  int Decodes(Body body) {
    g_decodes = 0;
    body();
    return g_decodes;
  }
  TdtpCropBitmapShape& Picture() { return *dynamic_cast<TdtpCropBitmapShape*>(doc->GetShape(kImageIndex)); }
  void Repaint() { (void)doc->GetCurrentPage()->RenderThumbnail(300, 300, dtScreen, 0); }
};

TEST_F(DecodeCountTest, OnePerPhotoForLoadOpenPaintExportAndPrint) {
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  // The photo: a JPEG of our own, as a camera would give.
  TBitmap32 photo;
  photo.SetSize(320, 240);
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) photo.SetPixel(x, y, 0xFF000000u | static_cast<TColor32>(x * 131 + y * 257));
  const std::string file = (scratch / "photo.jpg").string();
  {
    TdtpImageFiler filer;
    filer.SetFileName(file);
    filer.SaveBitmap(&photo);
  }

  g_jpegDecodes = 0;
  EXPECT_EQ(Decodes([&] { ASSERT_TRUE(LoadImageIntoShape(*doc, kImageIndex, file)); }), 1) << "load";
  EXPECT_EQ(Decodes([&] { Repaint(); }), 0) << "repaint";
  EXPECT_EQ(Decodes([&] { Repaint(); }), 0) << "second repaint";
  EXPECT_EQ(Decodes([&] { ExportToPdf(*doc, (scratch / "label.pdf").string(), 0); }), 0) << "export";
  EXPECT_EQ(Decodes([&] { PrintLabel(*doc); }), 0) << "print";

  // With the decoded picture let go, as the cache thread does to pictures
  // not in use: one decode for the job, none for its copy of the page.
  Picture().Image().Release();
  EXPECT_EQ(Decodes([&] { ExportToPdf(*doc, (scratch / "label.pdf").string(), 0); }), 1) << "export";
  Picture().Image().Release();
  EXPECT_EQ(Decodes([&] { PrintLabel(*doc); }), 1) << "print";
  Picture().Image().Release();
  EXPECT_EQ(Decodes([&] { Repaint(); }), 1) << "repaint";

  const std::string project = (scratch / "photo.ovx").string();
  ASSERT_TRUE(SaveProject(*doc, project));
  doc = std::make_unique<TdtpDocument>();
  doc->SetStoreThumbnails(false);
  EXPECT_EQ(Decodes([&] {
              ASSERT_TRUE(OpenProject(*doc, project));
              Repaint();
            }),
            1)
      << "open to first paint";
  EXPECT_EQ(Decodes([&] { ExportToPdf(*doc, (scratch / "label.pdf").string(), 0); }), 0) << "export";
  EXPECT_EQ(g_jpegDecodes, 5) << "every decode above was the photo's";
  EXPECT_TRUE(Errors.empty());
}

}  // namespace
}  // namespace kdl::test

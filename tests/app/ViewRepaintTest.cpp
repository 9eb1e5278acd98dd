// The document window showing a DVD label with a photo, repainted at one
// zoom and scroll position after another while the picture frame and the
// texts keep what they resampled, against the same view repainted with
// every cache let go first: the user must see the same pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>

#include <string>

#include "ProjectTesting.h"
#include "app/output/PdfExport.h"
#include "app/project/DtpHelper.h"
#include "app/project/Templates.h"
#include "document/resources/RasterFormats.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "raster/Bitmap32.h"

namespace kdl::test {
namespace {

class ViewRepaintTest : public ProjectFixture {
 protected:
  // The viewport as it is painted now.
  QImage Shown() {
    doc->viewport()->repaint();
    return doc->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  // Zoom in percent of 96 dpi (0 fits the width), scrolled by (dx, dy).
  void View(int zoom, std::int32_t dx, std::int32_t dy) {
    if (zoom == 0) {
      doc->ZoomReset();
    } else {
      doc->SetAutoWidth(false);
      doc->SetScreenDpm(static_cast<float>(96 / 25.4 * zoom / 100));
      doc->PageSizeChanged();
    }
    doc->ScrollBy(dx, dy);  // left with the part actually scrolled
    QApplication::processEvents();
  }
  // A DVD label whose frame holds a photo with fine detail, shown in a
  // 640 x 480 window: larger than the frame at fit width and smaller at
  // 400 %.
  void ShowDVDWithAPhoto() {
    ASSERT_TRUE(CreateDVDTemplate(*doc));
    TBitmap32 photo;
    photo.SetSize(640, 420);
    for (int y = 0; y < 420; ++y)
      for (int x = 0; x < 640; ++x)
        photo.SetPixel(x, y, 0xFF000000u | static_cast<TColor32>((x * 7) ^ (y * 13)) << 8 |
                                 static_cast<TColor32>(x * 255 / 640) << 16 | static_cast<TColor32>(y & 0xFF));
    const std::string file = (scratch / "photo.png").string();
    {
      TdtpImageFiler filer;
      filer.SetFileName(file);
      filer.SaveBitmap(&photo);
    }
    ASSERT_TRUE(LoadImageIntoShape(*doc, kImageIndex, file));
    doc->resize(640, 480);
    doc->show();
    QApplication::processEvents();
  }
};

TEST_F(ViewRepaintTest, KeptResamplingsShowWhatAFreshRepaintShows) {
  ShowDVDWithAPhoto();
  if (HasFatalFailure()) return;

  struct Step {
    int zoom;
    std::int32_t dx, dy;
  };
  // Back and forth between zooms, scrolling by odd amounts so that the
  // frame's corners round differently and the kept parts must grow.
  const Step steps[] = {{0, 0, 0},    {100, 37, 21}, {400, 900, 500}, {400, 133, 77}, {400, -301, -45},
                        {100, 0, 0},  {250, 415, 260}, {0, 0, 0},      {100, 13, 9}};
  // At each view V: a repaint with every cache let go; then V scrolled
  // down and right, drawn from what V kept and added to it, against the
  // same scrolled view drawn afresh; then back to V, drawn from what the
  // scrolled view kept and added, against V afresh. (Text caches of
  // another scale may be reused by design, so each comparison starts its
  // fresh side from none.)
  TdtpPage& page = *doc->GetCurrentPage();
  const auto expectSame = [](const QImage& kept, const QImage& fresh, const std::string& what) {
    ASSERT_FALSE(kept.isNull());
    ASSERT_EQ(kept.size(), fresh.size());
    int differing = 0;
    for (int y = 0; y < kept.height(); ++y)
      for (int x = 0; x < kept.width(); ++x) differing += kept.pixel(x, y) != fresh.pixel(x, y);
    EXPECT_EQ(differing, 0) << what;
  };
  int n = 0;
  for (const Step& s : steps) {
    const std::string what = "step " + std::to_string(n++) + " at zoom " + std::to_string(s.zoom);
    View(s.zoom, s.dx, s.dy);
    page.ClearCaches();
    const QImage fresh = Shown();
    std::int32_t ax = 41, ay = 27;
    doc->ScrollBy(ax, ay);
    const QImage keptAway = Shown();
    page.ClearCaches();
    expectSame(keptAway, Shown(), what + " scrolled");
    std::int32_t bx = -ax, by = -ay;
    doc->ScrollBy(bx, by);
    expectSame(Shown(), fresh, what + " back");
  }
  EXPECT_TRUE(Errors.empty());
}

// The export lets the window's pictures of the page go while it runs; the
// window then shows the label as a fresh paint does. (A text cache made at
// a larger scale may serve a smaller one by design, so the view before is
// drawn from none too.)
TEST_F(ViewRepaintTest, TheWindowShowsTheSameLabelAfterAnExport) {
  ShowDVDWithAPhoto();
  if (HasFatalFailure()) return;
  View(100, 120, 80);
  doc->GetCurrentPage()->ClearCaches();
  const QImage before = Shown();
  ExportToPdf(*doc, (scratch / "label.pdf").string(), 0);
  const QImage after = Shown();
  // Kept for a reader to look at.
  QDir().mkpath(QStringLiteral(KDL_BINARY_DIR "/artefacts"));
  after.save(QStringLiteral(KDL_BINARY_DIR "/artefacts/window-after-export.png"));
  ASSERT_EQ(before.size(), after.size());
  EXPECT_TRUE(before == after);
  EXPECT_TRUE(Errors.empty());
}

}  // namespace
}  // namespace kdl::test

// Page backgrounds painted against the real cache thread, for
// ThreadSanitizer: 25 pages, each with an archived background the thread
// may drop at any moment, painted again and again while it trims on a
// clock that advances 3 s a step.
#include <gtest/gtest.h>

#include <atomic>

#include "../resources/ResourceTestUtil.h"
#include "document/view/Page.h"
#include "platform/TickCount.h"

namespace kdl {
namespace {

TEST(PageStress, BackgroundsPaintWhileTheThreadTrims) {
  InitializeDocumentLibrary();
  testing::FakeDocument doc;
  test::TTrimmingThread trimming;

  std::vector<std::unique_ptr<TdtpPage>> pages;
  std::vector<TColor32> colours;
  for (int i = 0; i < 25; ++i) {
    auto page = std::make_unique<TdtpPage>();
    doc.Pages.push_back(page.get());
    page->SetDocument(&doc);
    page->SetPageWidth(10);
    page->SetPageHeight(10);
    page->SetMarginLeft(1);  // its own background from here on
    TBitmap32 picture;
    picture.SetSize(8, 8);
    colours.push_back(0xFF000000u | static_cast<TColor32>(0x010203 * (i + 1)));
    picture.Clear(colours.back());
    page->BackgroundResource().SetBitmap(&picture);
    if (i % 2 == 0) page->BackgroundResource().SetStorage(rsArchive);  // reread after a trim
    pages.push_back(std::move(page));
  }

  TBitmap32 target;
  target.SetSize(20, 20);
  TdtpPaintInfo info;
  info.Device = dtPrinter;
  for (int frame = 0; frame < 120; ++frame) {
    for (std::size_t i = 0; i < pages.size(); ++i) {
      target.Clear(0);
      pages[i]->SetPaintTransform({2, 0, 0, 2, 0, 0});
      pages[i]->Paint32(target, info);
      // Colour only: the stretch may round opaque alpha down by one.
      ASSERT_EQ(target.GetPixel(10, 10) & 0xFFFFFFu, colours[i] & 0xFFFFFFu) << frame << " " << i;
    }
  }
  ResourceThread().Stop();
  EXPECT_GT(ResourceThread().LastTrim(), 0u);
}

}  // namespace
}  // namespace kdl

// Painting against the real cache thread, for ThreadSanitizer: the main
// thread draws 40 resources inside their brackets while the thread trims
// on a clock that advances 3 s a step, and resources come and go meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <random>

#include "ResourceTestUtil.h"
#include "platform/TickCount.h"

namespace kdl {
namespace {

TEST(ResourceStress, PaintingWhileTheThreadTrims) {
  InitializeDocumentLibrary();
  testing::FakeDocument doc;
  test::TTrimmingThread trimming;

  auto picture = test::OpaqueBitmap(16, 16, 1);
  const std::string png = test::EncodedBytes(*picture, ".png");
  const std::string xml = "<Resource><Data><Size>" + std::to_string(png.size()) +
                          "</Size><Filter>Base64</Filter><Buffer>" + EncodeBase64(png.data(), png.size()) +
                          "</Buffer></Data><FileName>.png</FileName><Storage>Embedded</Storage></Resource>";
  auto make = [&](int i) {
    auto r = test::NewBitmapResource(&doc);
    test::LoadXml(*r, xml);
    if (i % 3 == 0) r->SetStorage(rsArchive);  // rereads its member after a trim
    return r;
  };
  std::vector<std::unique_ptr<TdtpBitmapResource>> resources;
  for (int i = 0; i < 40; ++i) resources.push_back(make(i));

  TBitmap32 canvas;
  canvas.SetSize(64, 64);
  std::mt19937 rng(7);
  const auto expected = test::Pixels(*picture);
  for (int frame = 0; frame < 150; ++frame) {
    for (auto& r : resources) {
      TResourceAccess access(*r);
      TBitmap32* b = r->GetBitmap();
      ASSERT_NE(b, nullptr);
      ASSERT_EQ(b->Width(), 16);
      b->DrawTo(canvas, TRect{0, 0, 16, 16});
    }
    // One resource goes and a new one comes; now and then one is changed.
    resources[rng() % resources.size()] = make(frame);
    if (frame % 10 == 0) resources[rng() % resources.size()]->SetBitmap(picture.get());
  }
  ResourceThread().Stop();
  EXPECT_GT(ResourceThread().LastTrim(), 0u);  // the thread did trim meanwhile
  for (auto& r : resources) EXPECT_EQ(test::ResourcePixels(*r), expected);
}

}  // namespace
}  // namespace kdl

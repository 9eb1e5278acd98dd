// Image shapes: sizes taken from new images against the 150 dpi and
// area-keeping formulas, the stretched paint against the image's pixels,
// the placeholder, XML written out by hand, and copies whose images live
// in temporary archive members.
#include <gtest/gtest.h>

#include <cmath>

#include "QtApplication.h"
#include "TestShapes.h"
#include "document/kinds/BitmapShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/resources/ResourceTestUtil.h"
#include "document/shapes/Rendering.h"

namespace kdl {
namespace {

using testing::FakeDocument;
using testing::LoadShapeXml;
using testing::ShapeXml;

class ImageShapes : public ::testing::Test {
 protected:
  void SetUp() override {
    // The image frame's caption measures with the platform's fonts.
    test::EnsureApplication();
    InitializeDocumentLibrary();
  }

  std::filesystem::path Png(std::int32_t w, std::int32_t h) {
    const auto path = scratch_ / ("image" + std::to_string(w) + "x" + std::to_string(h) + ".png");
    if (!std::filesystem::exists(path)) {
      auto picture = test::OpaqueBitmap(w, h, static_cast<std::uint32_t>(w * 7 + h));
      test::WriteFile(path, test::EncodedBytes(*picture, ".png"));
    }
    return path;
  }

  test::ScratchDir scratch_;
};

TEST_F(ImageShapes, NewImageSizesTheShapeAt150Dpi) {
  TdtpBitmapShape s;
  EXPECT_EQ(s.Cursor(), kCrossImageCursor);
  s.SetDocBounds(5, 6, 10, 10);
  s.Image().LoadFromFile(Png(1500, 1000));
  EXPECT_NEAR(s.DocWidth(), 254, 1e-3);
  EXPECT_NEAR(s.DocHeight(), 169.333, 1e-3);
  EXPECT_FLOAT_EQ(s.DocLeft(), 5);
  EXPECT_TRUE(s.PreserveAspect());
  EXPECT_NEAR(s.AspectRatio(), 1.5, 1e-6);

  // New pixels repaint without resizing.
  FakeDocument doc;
  s.SetDocument(&doc);
  const int before = doc.Invalidations;
  auto other = test::OpaqueBitmap(10, 40, 3);
  s.Image().SetBitmap(other.get());
  EXPECT_GT(doc.Invalidations, before);
  EXPECT_NEAR(s.DocWidth(), 254, 1e-3);
  EXPECT_EQ(s.CacheScale(), 0);
  s.SetDocument(nullptr);
}

TEST_F(ImageShapes, ImageFrameKeepsItsAreaAndCentre) {
  TdtpSnapBitmap s;
  TdtpShape* frame = s.GetFrame();
  ASSERT_TRUE(frame && s.GetCaption());

  s.SetDocBounds(30, 20, 120, 80);
  s.Image().LoadFromFile(Png(400, 300));
  // Same area, 4:3: c = sqrt(120000 / 9600).
  EXPECT_NEAR(s.DocWidth(), 400 / std::sqrt(12.5), 1e-3);
  EXPECT_NEAR(s.DocHeight(), 300 / std::sqrt(12.5), 1e-3);
  EXPECT_NEAR(s.DocLeft() + s.DocWidth() / 2, 90, 1e-3);
  EXPECT_NEAR(s.DocTop() + s.DocHeight() / 2, 60, 1e-3);
  EXPECT_NEAR(s.DocWidth() * s.DocHeight(), 9600, 0.05);
  EXPECT_FALSE(frame->Visible());
  EXPECT_FALSE(s.GetCaption()->Visible());
  // The frame rectangle follows its parent.
  EXPECT_NEAR(frame->DocWidth(), s.DocWidth(), 1e-3);

  // Cleared: the placeholder shows again once ImageChanged runs.
  s.Image().SetBitmap(nullptr);
  EXPECT_FALSE(frame->Visible());
  s.ImageChanged();
  EXPECT_TRUE(frame->Visible());
  EXPECT_TRUE(s.GetCaption()->Visible());
  EXPECT_NEAR(s.DocWidth(), 400 / std::sqrt(12.5), 1e-3);
}

TEST_F(ImageShapes, PaintStretchesTheImageOverTheFrame) {
  TdtpBitmapShape s;
  TBitmap32 image;
  image.SetSize(2, 2);
  image.SetPixel(0, 0, 0xFFFF0000);
  image.SetPixel(1, 0, 0xFF00FF00);
  image.SetPixel(0, 1, 0xFF0000FF);
  image.SetPixel(1, 1, 0xFFFFFFFF);
  s.Image().SetBitmap(&image);
  s.SetDocBounds(0, 0, 4, 3);
  TBitmap32 target;
  target.SetSize(60, 50);
  target.Clear(0xFF000000);
  // 10 px/mm from (5, 5): the frame covers pixels 5..44 x 5..34.
  s.SetPaintTransform(TAffineMatrix{10, 0, 0, 10, 5, 5});
  TdtpPaintInfo info;
  info.StretchFilter = sfNearest;
  s.Paint32(target, info);
  EXPECT_EQ(target.GetPixel(5, 5), 0xFFFF0000u);
  EXPECT_EQ(target.GetPixel(24, 19), 0xFFFF0000u);
  EXPECT_EQ(target.GetPixel(25, 5), 0xFF00FF00u);
  EXPECT_EQ(target.GetPixel(44, 19), 0xFF00FF00u);
  EXPECT_EQ(target.GetPixel(5, 20), 0xFF0000FFu);
  EXPECT_EQ(target.GetPixel(44, 34), 0xFFFFFFFFu);
  EXPECT_EQ(target.GetPixel(4, 5), 0xFF000000u);
  EXPECT_EQ(target.GetPixel(45, 20), 0xFF000000u);
  EXPECT_EQ(target.GetPixel(20, 35), 0xFF000000u);
  // Partly outside the target: clipped, not refused.
  s.SetPaintTransform(TAffineMatrix{10, 0, 0, 10, -30, 40});
  s.Paint32(target, info);
  EXPECT_EQ(target.GetPixel(0, 49), 0xFF00FF00u);
}

// Bytes that do not decode: the frame paints nothing over what lies
// beneath, the paint goes on, and repaints do not repeat the error.
TEST_F(ImageShapes, UndecodableImageDrawsNothingAndIsReportedOnce) {
  FakeDocument doc;
  TdtpBitmapShape s;
  s.SetDocument(&doc);
  s.SetDocBounds(0, 0, 4, 3);
  const auto broken = scratch_.Path() / "broken.png";
  test::WriteFile(broken, "\x89PNG\r\n\x1a\n not a picture");
  EXPECT_NO_THROW(s.Image().LoadFromFile(broken));
  TBitmap32 target;
  target.SetSize(60, 50);
  s.SetPaintTransform(TAffineMatrix{10, 0, 0, 10, 5, 5});
  int reports = 0;
  for (int repaint = 0; repaint < 3; ++repaint) {
    target.Clear(0xFF204060);
    EXPECT_NO_THROW(s.Paint32(target, TdtpPaintInfo{})) << repaint;
    for (std::int32_t y = 0; y < target.Height(); ++y)
      for (std::int32_t x = 0; x < target.Width(); ++x) ASSERT_EQ(target.GetPixel(x, y), 0xFF204060u) << x << "," << y;
    if (repaint == 0) reports = doc.CountEvents("LoadError");
  }
  // Heard at the load or the first paint, never again on a repaint.
  EXPECT_GE(reports, 1);
  EXPECT_EQ(doc.CountEvents("LoadError"), reports);
  s.SetDocument(nullptr);
}

TEST_F(ImageShapes, XmlAlwaysHoldsTheImage) {
  TdtpBitmapShape s;
  const std::string golden =
      "<shape><ClassName>TdtpBitmapShape</ClassName>"
      "<Anchors><default>True</default><LeftLock>True</LeftLock><TopLock>True</TopLock></Anchors>"
      "<Image><ClassName>TdtpBitmapResource</ClassName><Storage>Embedded</Storage></Image></shape>";
  EXPECT_EQ(ShapeXml(s), golden);
  TdtpBitmapShape copy;
  copy.SetStorageKind(rsArchive);
  LoadShapeXml(copy, golden);
  EXPECT_EQ(copy.GetStorageKind(), rsEmbedded);
  EXPECT_EQ(ShapeXml(copy), golden);
}

TEST_F(ImageShapes, CopiesOfArchivedImagesLeaveTheOriginalsWhole) {
  FakeDocument doc;
  TdtpShape root;
  root.SetDocument(&doc);
  auto add = [&](std::unique_ptr<TdtpBitmapShape> s, std::int32_t w, std::int32_t h) -> TdtpBitmapShape& {
    TdtpBitmapShape& ref = *s;
    root.AddShape(std::move(s));
    ref.SetStorageKind(rsArchive);
    // Pixels without a file of their own go to a temporary member.
    auto picture = test::OpaqueBitmap(w, h, static_cast<std::uint32_t>(w));
    ref.Image().SetBitmap(picture.get());
    return ref;
  };
  TdtpBitmapShape& plain = add(std::make_unique<TdtpBitmapShape>(), 12, 9);
  TdtpBitmapShape& framed = add(std::make_unique<TdtpSnapBitmap>(), 8, 11);
  const auto plainPixels = test::ResourcePixels(plain.Image());
  const auto framedPixels = test::ResourcePixels(framed.Image());
  ASSERT_EQ(plainPixels.size(), 12u * 9);
  ASSERT_TRUE(TqxStorage::IsTempStreamName(plain.Image().ArchiveName()));
  ASSERT_TRUE(TqxStorage::IsTempStreamName(framed.Image().ArchiveName()));

  // Copy and paste each, then delete the copies.
  for (TdtpBitmapShape* original : {&plain, &framed}) {
    const std::string data = original->SaveToString();
    std::unique_ptr<TdtpShape> copy = CreateShape(original->ClassName());
    TdtpShape& ref = *copy;
    root.AddShape(std::move(copy));
    ref.LoadFromString(data);
    EXPECT_NE(static_cast<TdtpBitmapShape&>(ref).Image().ArchiveName(), original->Image().ArchiveName());
    root.DeleteShape(root.IndexOfShape(&ref));
  }
  EXPECT_EQ(test::ResourcePixels(plain.Image()), plainPixels);
  EXPECT_EQ(test::ResourcePixels(framed.Image()), framedPixels);

  // Saved and read back into the same archive.
  const std::string xml = ShapeXml(root);
  TdtpShape reread;
  reread.SetDocument(&doc);
  LoadShapeXml(reread, xml);
  ASSERT_EQ(reread.GetShapeCount(), 2);
  auto& plain2 = dynamic_cast<TdtpBitmapShape&>(*reread.GetShape(0));
  auto& framed2 = dynamic_cast<TdtpSnapBitmap&>(*reread.GetShape(1));
  EXPECT_EQ(test::ResourcePixels(plain2.Image()), plainPixels);
  EXPECT_EQ(test::ResourcePixels(framed2.Image()), framedPixels);
  EXPECT_EQ(framed2.GetShapeCount(), 2);
  reread.SetDocument(nullptr);
  root.SetDocument(nullptr);
}

}  // namespace
}  // namespace kdl

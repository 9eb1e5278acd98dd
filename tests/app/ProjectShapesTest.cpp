// The project's own shape kinds: dashed lines against hand arithmetic and
// exact areas, the cropped image against its example and its quadrants, and
// the project information shape's one "Name" element.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "FakeDocument.h"
#include "QtApplication.h"
#include "app/shapes/CropBitmapShape.h"
#include "app/shapes/ExLineShape.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "document/resources/BitmapResource.h"
#include "document/shapes/Command.h"
#include "document/shapes/Rendering.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/view/Document.h"
#include "foundation/BrenlowXml.h"
#include "foundation/XmlNode.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

class ProjectShapesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    InitializeDocumentLibrary();
    RegisterApplicationShapeClasses();
  }
};

std::unique_ptr<TDtpExLineShape> DashedLine(TFloatPoint from, TFloatPoint to, float width) {
  auto line = std::make_unique<TDtpExLineShape>();
  line->SetLineWidth(width);
  line->SetPoint(0, from);
  line->SetPoint(1, to);
  line->SetPenStyle(psDashed);
  return line;
}

std::vector<TArrayOfFloatPoint> Contours(const TdtpPolygonShape& shape) {
  std::vector<TArrayOfFloatPoint> out;
  for (const auto& c : shape.Points())
    if (!c.empty()) out.push_back(c);
  return out;
}

// Four corners of a dash from a to b, half-width vector n as the line's
// formula gives it: (dy, dx) x w / 2L.
void ExpectDash(const TArrayOfFloatPoint& c, double ax, double ay, double bx, double by, double nx, double ny) {
  ASSERT_EQ(c.size(), 4u);
  const double want[4][2] = {{ax - nx, ay + ny}, {ax + nx, ay - ny}, {bx + nx, by - ny}, {bx - nx, by + ny}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(c[static_cast<std::size_t>(i)].X, want[i][0], 1e-4) << "corner " << i;
    EXPECT_NEAR(c[static_cast<std::size_t>(i)].Y, want[i][1], 1e-4) << "corner " << i;
  }
}

TEST_F(ProjectShapesTest, DashesFollowTheLineInFiveMillimetreSteps) {
  // 120 mm across: twelve dashes, then a piece of no length at the end.
  auto line = DashedLine({10, 20}, {130, 20}, 2);
  auto c = Contours(*line);
  ASSERT_EQ(c.size(), 13u);
  for (int k = 0; k < 12; ++k) ExpectDash(c[static_cast<std::size_t>(k)], 10.0 * k, 0, 10.0 * k + 5, 0, 0, 1);
  ExpectDash(c[12], 120, 0, 120, 0, 0, 1);

  // A 3-4-5 slope of 25 mm: two dashes and a last one of 5 mm.
  line = DashedLine({0, 0}, {15, 20}, 1);
  c = Contours(*line);
  ASSERT_EQ(c.size(), 3u);
  ExpectDash(c[0], 0, 0, 3, 4, 0.4, 0.3);
  ExpectDash(c[1], 6, 8, 9, 12, 0.4, 0.3);
  ExpectDash(c[2], 12, 16, 15, 20, 0.4, 0.3);

  // Solid again for any other style.
  line->SetPenStyle(2);
  EXPECT_EQ(Contours(*line).size(), 1u);
}

TEST_F(ProjectShapesTest, DamagedGeometryDrawsNothingOrSolidButNeverHangs) {
  auto line = DashedLine({5, 5}, {5, 5}, 1);
  EXPECT_TRUE(Contours(*line).empty());

  // A billion dashes would hang the program: it draws one solid body.
  line = DashedLine({0, 0}, {1e9f, 0}, 1);
  EXPECT_EQ(Contours(*line).size(), 1u);

  // A sound line with a broken width would put NaN corners into the fill.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float width : {nan, std::numeric_limits<float>::infinity()}) {
    line = DashedLine({0, 0}, {30, 0}, width);
    EXPECT_TRUE(Contours(*line).empty()) << width;
  }

  for (float width : {1.0f, nan}) {
    TBrenlowXml xml("shape");
    TXmlNode* points = xml.Root()->AddNewChild("Points");
    for (float x : {0.0f, std::numeric_limits<float>::infinity()}) {
      TXmlNode* p = points->AddNewChild("Point");
      p->WriteFloat("X", x, 1);
      p->WriteFloat("Y", nan, 1);
    }
    xml.Root()->WriteFloat("LineWidth", width, 0);
    xml.Root()->WriteInteger("PenStyle", 1, 0);
    TDtpExLineShape loaded;
    loaded.LoadFromXml(xml.Root());
    EXPECT_EQ(loaded.PenStyle(), psDashed);
    EXPECT_TRUE(Contours(loaded).empty());
  }
}

TEST_F(ProjectShapesTest, DashesCoverExactlyTheirArea) {
  // 25 mm by 1 mm: dashes of 5 + 5 + 5 mm, 15 mm² at 10 pixels per mm.
  auto line = DashedLine({10, 20}, {35, 20}, 1);
  TBitmap32 target;
  target.SetSize(300, 40);
  target.Clear(0xFFFFFFFFu);
  TAffineMatrix m;
  m.A = m.D = 10;
  m.E = 20;
  m.F = 20;
  line->SetPaintTransform(m);
  TdtpPaintInfo info;
  info.Scale = info.RenderScale = 10;
  line->Paint32(target, info);
  double ink = 0;
  for (int y = 0; y < target.Height(); ++y)
    for (int x = 0; x < target.Width(); ++x) ink += (255 - (*target.PixelPtr(x, y) & 0xFF)) / 255.0;
  EXPECT_NEAR(ink / 100, 15.0, 0.15);
  // The gaps stay white: the middle of the first gap, 7.5 mm along.
  EXPECT_EQ(*target.PixelPtr(20 + 75, 20), 0xFFFFFFFFu);
  EXPECT_NE(*target.PixelPtr(20 + 25, 20), 0xFFFFFFFFu);
}

TEST_F(ProjectShapesTest, PenStyleIsStoredAndUndone) {
  testing::FakeDocument doc;
  TDtpExLineShape shape;
  TDtpExLineShape* line = &shape;
  line->SetDocument(&doc);
  line->SetDocBounds(10, 10, 50, 0);
  doc.ClearUndo();
  line->SetPenStyle(psDashed);
  ASSERT_EQ(doc.UndoList().size(), 1u);
  EXPECT_EQ(doc.UndoList().back()->PropName, "PenStyle");
  const std::string stored = line->SaveToString();
  EXPECT_NE(stored.find("<PenStyle>1</PenStyle>"), std::string::npos);
  auto copy = CreateShape("TDtpExLineShape");
  copy->LoadFromString(stored);
  EXPECT_EQ(dynamic_cast<TDtpExLineShape&>(*copy).PenStyle(), psDashed);

  EXPECT_TRUE(doc.Undo(shape));
  EXPECT_EQ(doc.Refused, 0);
  EXPECT_EQ(line->PenStyle(), psSolid);
  EXPECT_EQ(line->SaveToString().find("PenStyle"), std::string::npos);
  line->SetPropertyText("penstyle", "1");
  EXPECT_EQ(line->PenStyle(), psDashed);
}

// 200 by 200 pixels: red, green, blue and yellow quadrants.
void FourColours(TBitmap32& b) {
  b.SetSize(200, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x)
      *b.PixelPtr(x, y) = y < 100 ? (x < 100 ? 0xFFFF0000u : 0xFF00FF00u) : (x < 100 ? 0xFF0000FFu : 0xFFFFFF00u);
}

void PaintAt(TdtpCropBitmapShape& shape, TBitmap32& target, double scale, double dx, double dy) {
  TAffineMatrix m;
  m.A = m.D = scale;
  m.E = dx;
  m.F = dy;
  shape.SetPaintTransform(m);
  TdtpPaintInfo info;
  info.Scale = info.RenderScale = static_cast<float>(scale);
  shape.Paint32(target, info);
}

TEST_F(ProjectShapesTest, DefaultCropRectFitsTheFramesAspectInsetByFivePercent) {
  TdtpCropBitmapShape shape;
  TRect r{1, 2, 3, 4};
  shape.DefaultCropRect(r);
  EXPECT_EQ(r.Left, 1) << "no bitmap leaves the rectangle";
  TBitmap32 photo;
  photo.SetSize(1000, 800);
  photo.Clear(0xFF808080u);
  shape.Image().SetBitmap(&photo);
  shape.SetDocBounds(0, 0, 120, 120);
  shape.DefaultCropRect(r);
  EXPECT_EQ(r.Left, 140);
  EXPECT_EQ(r.Top, 40);
  EXPECT_EQ(r.Right, 860);
  EXPECT_EQ(r.Bottom, 760);
  // A wide frame: s = min(800 / 20, 1000 / 100) = 10, 1000 by 200.
  shape.SetDocBounds(0, 0, 100, 20);
  shape.DefaultCropRect(r);
  EXPECT_EQ(r.Left, 50);
  EXPECT_EQ(r.Top, 300 + 10);
  EXPECT_EQ(r.Right, 950);
  EXPECT_EQ(r.Bottom, 490);
  // No area, no aspect: the whole bitmap.
  shape.SetDocBounds(0, 0, 0, 0);
  shape.DefaultCropRect(r);
  EXPECT_EQ(r.Left, 0);
  EXPECT_EQ(r.Top, 0);
  EXPECT_EQ(r.Right, 1000);
  EXPECT_EQ(r.Bottom, 800);
}

TEST_F(ProjectShapesTest, CropShowsOnlyItsQuadrantAndABandEqualsTheWholePaint) {
  TdtpCropBitmapShape shape;
  TBitmap32 image;
  FourColours(image);
  shape.Image().SetBitmap(&image);
  shape.SetDocBounds(0, 0, 40, 40);
  shape.SetCropRect({100, 0, 200, 100});
  TBitmap32 target;
  target.SetSize(200, 200);
  target.Clear(0xFFFFFFFFu);
  PaintAt(shape, target, 5, 0, 0);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x) ASSERT_EQ(*target.PixelPtr(x, y), 0xFF00FF00u) << x << "," << y;

  // A crop across all four colours, painted whole and in a band of 37 rows:
  // the band's pixels are the whole paint's.
  shape.SetCropRect({37, 61, 163, 139});
  target.Clear(0xFFFFFFFFu);
  PaintAt(shape, target, 5, 0, 0);
  TBitmap32 whole;
  TdtpCropBitmapShape::StretchCropped(image, whole, shape.CropRect(), 200, 200);
  TBitmap32 band;
  band.SetSize(200, 37);
  band.Clear(0xFFFFFFFFu);
  PaintAt(shape, band, 5, 0, -90);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 200; ++x) {
      ASSERT_EQ(*band.PixelPtr(x, y), *target.PixelPtr(x, y + 90)) << x << "," << y;
      ASSERT_EQ(*target.PixelPtr(x, y + 90), *whole.PixelPtr(x, y + 90)) << x << "," << y;
    }

  // Nothing of a crop outside the bitmap, and nothing of a frame so large
  // that a whole intermediate would not fit in memory.
  shape.SetCropRect({300, 300, 400, 400});
  band.Clear(0xFFFFFFFFu);
  PaintAt(shape, band, 5, 0, -90);
  EXPECT_EQ(*band.PixelPtr(100, 10), 0xFFFFFFFFu);
  shape.SetCropRect({100, 0, 200, 100});
  shape.SetDocBounds(0, 0, 4e6f, 4e6f);
  band.Clear(0xFFFFFFFFu);
  PaintAt(shape, band, 5, -1e6, -1e6);
  EXPECT_EQ(*band.PixelPtr(100, 10), 0xFF00FF00u);
}

TEST_F(ProjectShapesTest, CropAndPinnedFrameSurviveTheirXmlAndRestore) {
  TdtpDocument doc;
  auto owned = std::make_unique<TdtpCropBitmapShape>();
  TdtpCropBitmapShape* shape = owned.get();
  doc.AddShape(std::move(owned));
  shape->RestorePinned();
  EXPECT_FALSE(shape->Pinned());
  shape->SetDocBounds(10, 20, 30, 40);
  shape->RotateAboutCenter(90);
  shape->Pin();
  shape->SetCropRect({1, 2, 3, 4});
  shape->SetDocBounds(0, 0, 5, 5);
  const std::string stored = shape->SaveToString();
  EXPECT_EQ(stored.find("TempImage"), std::string::npos);
  auto copy = CreateShape("TdtpCropBitmapShape");
  copy->LoadFromString(stored);
  auto& c = dynamic_cast<TdtpCropBitmapShape&>(*copy);
  EXPECT_TRUE(c.Pinned());
  EXPECT_EQ(c.CropRect().Right, 3);
  EXPECT_FLOAT_EQ(c.PinnedWidth(), 30);
  EXPECT_FLOAT_EQ(c.PinnedAngle(), 90);
  EXPECT_EQ(c.GetStorageKind(), rsArchive);
  shape->RestorePinned();
  EXPECT_FLOAT_EQ(shape->DocLeft(), c.PinnedLeft());
  EXPECT_FLOAT_EQ(shape->DocTop(), c.PinnedTop());
  EXPECT_FLOAT_EQ(shape->DocWidth(), 30);
  EXPECT_FLOAT_EQ(shape->DocHeight(), 40);
  EXPECT_FLOAT_EQ(shape->DocAngle(), 90);
}

TEST_F(ProjectShapesTest, ProjectInformationKeepsOneNameElement) {
  TDtpProjectInfoShape info;
  info.SetName("shape name");
  info.SetProjectName("CD Front");
  info.SetCategory("CD");
  info.SetVersion(102);
  info.SetPrintCutLines(true);
  info.SetCenterPrinting(true);
  TBrenlowXml xml("shape");
  info.SaveToXml(xml.Root());
  TXmlNodeList names;
  xml.Root()->FindChildren("Name", &names);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(xml.Root()->ReadString("Name", ""), "CD Front");
  EXPECT_EQ(xml.Root()->FindChild("PrintFoldLines"), nullptr) << "a default is not written";
  auto copy = CreateShape("TDtpProjectInfoShape");
  copy->LoadFromXml(xml.Root());
  auto& c = dynamic_cast<TDtpProjectInfoShape&>(*copy);
  EXPECT_EQ(c.Version(), 102);
  EXPECT_EQ(c.ProjectName(), "CD Front");
  EXPECT_EQ(c.Category(), "CD");
  EXPECT_TRUE(c.PrintCutLines());
  EXPECT_FALSE(c.PrintFoldLines());
  EXPECT_TRUE(c.CenterPrinting());
}

}  // namespace
}  // namespace kdl

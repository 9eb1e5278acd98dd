// The placeholder group and the image frame's caption: their parts as the
// text and image shapes rely on them, hiding with text or an image, what a
// click on a part selects, and stored files that read back to working
// placeholders.
#include <gtest/gtest.h>

#include <regex>

#include "FakeDocument.h"
#include "QtApplication.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/kinds/BitmapShape.h"
#include "document/kinds/GroupShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/resources/BitmapResource.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/text/MemoShape.h"

namespace kdl {
namespace {

using testing::FakeDocument;
using testing::LoadShapeXml;
using testing::ShapeXml;

class PlaceHolders : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::EnsureApplication();
    InitializeDocumentLibrary();
  }
};

// The rectangle's sides, each exactly.
void ExpectRect(const TFloatRect& r, const TFloatRect& expected) {
  EXPECT_TRUE(r.Left == expected.Left && r.Top == expected.Top && r.Right == expected.Right &&
              r.Bottom == expected.Bottom)
      << r.Left << " " << r.Top << " " << r.Right << " " << r.Bottom;
}

constexpr const char* kPartAnchors =
    "<Anchors><SizeXProp>True</SizeXProp><SizeYProp>True</SizeYProp><LeftLock>True</LeftLock>"
    "<TopLock>True</TopLock></Anchors>";
constexpr const char* kDefaultAnchors =
    "<Anchors><default>True</default><LeftLock>True</LeftLock><TopLock>True</TopLock></Anchors>";

// The XML with the measured span sizes left out: they come from the
// platform's fonts.
std::string WithoutSpanSizes(const std::string& xml) {
  static const std::regex sizes("<Span>(<CharPos>[^<]*</CharPos>)?(<CharCount>[^<]*</CharCount>)?"
                                "(<Width>[^<]*</Width>)?(<Height>[^<]*</Height>)?</Span>");
  return std::regex_replace(xml, sizes, "<Span>$1$2</Span>");
}

TEST_F(PlaceHolders, AddedPlaceholderLiesBeneathAndTheFrameFitsIt) {
  TdtpShape shape;
  shape.SetDocBounds(50, 60, 10, 5);
  shape.AddShape(std::make_unique<TdtpShape>());
  shape.AddPlaceHolder();
  ASSERT_EQ(shape.GetShapeCount(), 2);
  auto* holder = dynamic_cast<TdtpPlaceHolder*>(shape.GetShape(0));
  ASSERT_NE(holder, nullptr);
  EXPECT_TRUE(holder->Fixed());
  EXPECT_EQ(holder->Anchors(), 0x78);
  // The frame goes around the children where they stand on the page.
  ExpectRect(shape.GetDocRect(), {50, 60, 90, 90});
  ExpectRect(holder->GetDocRect(), {0, 0, 40, 30});
  EXPECT_TRUE(shape.Grouped());
  // ClearShapes keeps it.
  shape.ClearShapes();
  EXPECT_EQ(shape.GetShapeCount(), 1);
}

TEST_F(PlaceHolders, TextShowsThePlaceholderOnlyWhileEmpty) {
  TdtpTextShape text;
  text.AddPlaceHolder();
  auto* holder = dynamic_cast<TdtpPlaceHolder*>(text.GetShape(0));
  ASSERT_NE(holder, nullptr);
  text.SetText(u"Title");
  EXPECT_FALSE(holder->Visible());
  text.SetText(u"");
  EXPECT_TRUE(holder->Visible());

  // Stored and read back as a placeholder, which still hides and shows.
  text.SetText(u"Title");
  std::unique_ptr<TdtpShape> copy = CreateShape("TdtpTextShape");
  LoadShapeXml(*copy, ShapeXml(text));
  auto& reread = dynamic_cast<TdtpTextShape&>(*copy);
  auto* holder2 = dynamic_cast<TdtpPlaceHolder*>(reread.GetShape(0));
  ASSERT_NE(holder2, nullptr);
  ASSERT_EQ(holder2->GetShapeCount(), 2);
  EXPECT_FALSE(holder2->Visible());
  reread.SetText(u"");
  EXPECT_TRUE(holder2->Visible());
  reread.SetText(u"Again");
  EXPECT_FALSE(holder2->Visible());
}

// The parts' elements as the kinds write them: the rectangle with its
// fill, curbs from a 0 mm outline and no outline width or colour (both 0);
// the caption 2 mm inside, 12 pt, centred both ways, no auto-size, its
// one span's position.
std::string FrameXml(const char* w, const char* h) {
  return std::string("<Shape Index=\"1\"><ClassName>TdtpRectangleShape</ClassName><AllowSelect>False</AllowSelect>") +
         kPartAnchors + "<CurbLeft>.1</CurbLeft><CurbTop>.1</CurbTop><CurbRight>.1</CurbRight><CurbBottom>.1</CurbBottom>" +
         "<DocHeight>" + h + "</DocHeight><DocWidth>" + w + "</DocWidth>" +
         "<FillAlpha>255</FillAlpha><FillColor>$00FFFFFF</FillColor><UseFill>True</UseFill>"
         "<UseOutline>True</UseOutline></Shape>";
}
std::string CaptionXml(const char* w, const char* h, bool editable) {
  return std::string("<Shape Index=\"2\"><ClassName>TdtpMemoShape</ClassName><AllowSelect>False</AllowSelect>") +
         (editable ? "" : "<AllowEdit>False</AllowEdit>") + kPartAnchors + "<DocLeft>2</DocLeft><DocTop>2</DocTop>" +
         "<DocHeight>" + h + "</DocHeight><DocWidth>" + w + "</DocWidth>" +
         "<Text>Place image here</Text><FontHeight>4.23333</FontHeight><Alignment>2</Alignment>"
         "<VertAlign>1</VertAlign><Font><Name>Arial</Name></Font>"
         "<Span><CharPos>1</CharPos><CharCount>16</CharCount></Span></Shape>";
}

TEST_F(PlaceHolders, PlaceholderXmlByElement) {
  TdtpPlaceHolder holder;
  const std::string golden = std::string("<shape><ClassName>TdtpPlaceHolder</ClassName>") + kDefaultAnchors +
                             "<DocHeight>30</DocHeight><DocWidth>40</DocWidth><Grouped>True</Grouped>" +
                             FrameXml("40", "30") + CaptionXml("36", "26", false) + "</shape>";
  EXPECT_EQ(WithoutSpanSizes(ShapeXml(holder)), golden);
  // Read into a fresh one, the stored parts take the fixed parts' places.
  std::unique_ptr<TdtpShape> copy = CreateShape("TdtpPlaceHolder");
  ASSERT_EQ(copy->ClassName(), "TdtpPlaceHolder");
  copy->GetShape(1)->SetVisible(false);
  LoadShapeXml(*copy, ShapeXml(holder));
  ASSERT_EQ(copy->GetShapeCount(), 2);
  EXPECT_TRUE(copy->GetShape(0)->Fixed() && copy->GetShape(1)->Fixed());
  EXPECT_TRUE(copy->GetShape(1)->Visible());
  EXPECT_EQ(ShapeXml(*copy), ShapeXml(holder));
}

TEST_F(PlaceHolders, ImageFrameXmlWithItsParts) {
  TdtpSnapBitmap s;
  const std::string golden = std::string("<shape><ClassName>TdtpSnapBitmap</ClassName>") + kDefaultAnchors +
                             "<DocHeight>80</DocHeight><DocWidth>120</DocWidth><Grouped>True</Grouped>" +
                             FrameXml("120", "80") + CaptionXml("116", "76", true) +
                             "<Image><ClassName>TdtpBitmapResource</ClassName><Storage>Embedded</Storage></Image>"
                             "</shape>";
  EXPECT_EQ(WithoutSpanSizes(ShapeXml(s)), golden);
  // Read back, the stored parts take the fixed ones' places.
  TdtpSnapBitmap copy;
  copy.GetFrame()->SetVisible(false);
  copy.GetCaption()->SetVisible(false);
  LoadShapeXml(copy, ShapeXml(s));
  ASSERT_EQ(copy.GetShapeCount(), 2);
  EXPECT_TRUE(copy.GetFrame()->Visible());
  EXPECT_TRUE(copy.GetCaption()->Visible());
  EXPECT_TRUE(copy.GetCaption()->Fixed());
  EXPECT_EQ(ShapeXml(copy), ShapeXml(s));
}

TEST_F(PlaceHolders, AClickOnAPartOfTheImageFrameSelectsTheFrame) {
  FakeDocument doc;
  doc.ScreenDpmValue = 2;
  TdtpSnapBitmap frame;
  frame.SetDocument(&doc);
  frame.SetDocBounds(10, 10, 120, 80);
  // A pixel of the caption and one of the rectangle outside the caption:
  // each answers the image frame.
  for (const TPoint p : {TPoint{140, 100}, TPoint{21, 21}}) {
    TdtpShape* hit = nullptr;
    EXPECT_TRUE(frame.ShapeAtPoint(p, hit)) << p.X << "," << p.Y;
    EXPECT_EQ(hit, &frame) << p.X << "," << p.Y;
  }
  TdtpShape* hit = nullptr;
  EXPECT_FALSE(frame.ShapeAtPoint({300, 300}, hit));
  EXPECT_EQ(hit, nullptr);
  frame.SetDocument(nullptr);
}

}  // namespace
}  // namespace kdl

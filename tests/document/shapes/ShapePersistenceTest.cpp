#include <gtest/gtest.h>

#include "FakeDocument.h"
#include "TestFiles.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/shapes/ShapeValues.h"
#include "foundation/BrenlowXml.h"

namespace kdl {
namespace {

using testing::FailingShape;
using testing::FakeDocument;
using testing::FixedChildShape;
using testing::MemberShape;

class ShapeXml : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitializeDocumentLibrary();
    testing::RegisterTestShapes();
  }
  static std::string Xml(TdtpShape& s) { return testing::ShapeXml(s); }
  static void Load(TdtpShape& s, const std::string& text) { testing::LoadShapeXml(s, text); }
};

constexpr const char* kDefaultAnchors =
    "<Anchors><default>True</default><LeftLock>True</LeftLock><TopLock>True</TopLock></Anchors>";

TEST_F(ShapeXml, EveryBasePropertyInTableOrder) {
  TdtpShape s;
  s.SetDocBoundsAngle(10, 20, 40, 0.25f, 30);
  s.SetAllowResize(false);
  s.SetAllowMove(false);
  s.SetAllowRotate(false);
  s.SetAllowSelect(false);
  s.SetAllowDelete(false);
  s.SetAllowEdit(false);
  s.SetAnchors(akPosXProp | akSizeYProp | akBottomLock);
  s.SetPreserveAspect(true);
  s.SetAspectRatio(1.5f);
  s.SetCurbs(1, 2, 3, 4);
  s.Constraints() = {5, 6, 70, 80};
  s.SetFlipped(true);
  s.SetMirrored(true);
  s.SetName("a<b>&c");
  s.SetTag(7);
  s.SetVisible(false);
  s.SetMasterAlpha(128);
  auto first = std::make_unique<TdtpShape>();
  first->SetTag(1);
  s.AddShape(std::move(first));
  auto second = std::make_unique<MemberShape>();
  second->SetDocWidth(2);
  s.AddShape(std::move(second));
  s.SetGrouped(true);

  const std::string golden =
      "<shape><ClassName>TdtpShape</ClassName>"
      "<AllowResize>False</AllowResize><AllowMove>False</AllowMove>"
      "<AllowRotate>False</AllowRotate><AllowSelect>False</AllowSelect>"
      "<AllowDelete>False</AllowDelete><AllowEdit>False</AllowEdit>"
      "<Anchors><PosXProp>True</PosXProp><SizeYProp>True</SizeYProp>"
      "<BottomLock>True</BottomLock></Anchors>"
      "<AspectRatio>1.5</AspectRatio>"
      "<CurbLeft>1</CurbLeft><CurbTop>2</CurbTop><CurbRight>3</CurbRight><CurbBottom>4</CurbBottom>"
      "<ConstraintMinHeight>5</ConstraintMinHeight><ConstraintMinWidth>6</ConstraintMinWidth>"
      "<ConstraintMaxHeight>70</ConstraintMaxHeight><ConstraintMaxWidth>80</ConstraintMaxWidth>"
      "<DocAngle>30</DocAngle><DocLeft>10</DocLeft><DocTop>20</DocTop>"
      "<DocHeight>.25</DocHeight><DocWidth>40</DocWidth>"
      "<Flipped>True</Flipped><Grouped>True</Grouped><Mirrored>True</Mirrored>"
      "<Name>a&lt;b&gt;&amp;c</Name><PreserveAspect>True</PreserveAspect><Tag>7</Tag>"
      "<Visible>False</Visible><MasterAlpha>$80</MasterAlpha>"
      "<Shape Index=\"1\"><ClassName>TdtpShape</ClassName>" +
      std::string(kDefaultAnchors) +
      "<Tag>1</Tag></Shape>"
      "<Shape Index=\"2\"><ClassName>TdtpTestMemberShape</ClassName>" +
      kDefaultAnchors +
      "<DocWidth>2</DocWidth></Shape></shape>";
  EXPECT_EQ(Xml(s), golden);

  // Reading it back gives the same fields, and the same text again.
  TdtpShape copy;
  Load(copy, golden);
  EXPECT_EQ(Xml(copy), golden);
  EXPECT_FLOAT_EQ(copy.DocHeight(), 0.25f);
  EXPECT_EQ(copy.MasterAlpha(), 128);
  EXPECT_EQ(copy.Name(), "a<b>&c");
  EXPECT_EQ(copy.Anchors(), akPosXProp | akSizeYProp | akBottomLock);
  ASSERT_EQ(copy.GetShapeCount(), 2);
  EXPECT_EQ(copy.GetShape(1)->ClassName(), "TdtpTestMemberShape");
  const TFloatPoint p = copy.LocalToParent({1, 0});  // cos and sin follow the angle
  EXPECT_NEAR(p.X, 10 + std::cos(std::numbers::pi / 6), 1e-6);
}

TEST_F(ShapeXml, MissingElementsReadTheirDefaults) {
  TdtpShape s;
  s.SetAnchors(0x78);
  s.SetMasterAlpha(10);
  s.SetAllowMove(false);
  // No "Anchors": the field stays; every other value takes its default.
  Load(s, "<shape><ClassName>TdtpShape</ClassName><DocAngle>400</DocAngle>"
          "<Shape><ClassName>TdtpNoSuchShape</ClassName><DocWidth>3</DocWidth>"
          "<Polygon>ignored</Polygon></Shape></shape>");
  EXPECT_EQ(s.Anchors(), 0x78);
  EXPECT_EQ(s.MasterAlpha(), 255);
  EXPECT_TRUE(s.AllowMove());
  EXPECT_FLOAT_EQ(s.DocAngle(), 400);  // stored as written
  ASSERT_EQ(s.GetShapeCount(), 1);
  EXPECT_EQ(s.GetShape(0)->ClassName(), "TdtpShape");
  EXPECT_FLOAT_EQ(s.GetShape(0)->DocWidth(), 3);
  EXPECT_THROW(s.LoadFromXml(nullptr), Exception);
}

TEST_F(ShapeXml, FailingChildIsReportedAndOnlyANewOneDeleted) {
  FakeDocument doc;
  FixedChildShape parent;  // child 0: fixed, fails whenever it reads
  parent.SetDocument(&doc);
  TdtpShape* fixed = parent.GetShape(0);
  Load(parent,
       "<shape><ClassName>TdtpTestFixedChildShape</ClassName>"
       "<Shape><ClassName>TdtpShape</ClassName><Tag>10</Tag></Shape>"
       "<Shape><ClassName>TdtpShape</ClassName><Tag>11</Tag></Shape>"
       "<Shape><ClassName>TdtpTestFailingShape</ClassName><Tag>12</Tag></Shape>"
       "<Shape><ClassName>TdtpShape</ClassName><Tag>13</Tag></Shape></shape>");
  ASSERT_EQ(parent.GetShapeCount(), 3);
  EXPECT_EQ(parent.GetShape(0), fixed);  // reused whatever the element's class
  EXPECT_EQ(parent.GetShape(1)->Tag(), 11);
  EXPECT_EQ(parent.GetShape(2)->Tag(), 13);
  EXPECT_EQ(doc.CountEvents("LoadError"), 2);
  EXPECT_EQ(doc.Events.back().Kind, "LoadInfo");
  EXPECT_TRUE(doc.UndoList().empty());  // reading records nothing
}

TEST_F(ShapeXml, RegistryFindsExactNamesInOrder) {
  RegisterShapeClass<MemberShape>();  // again: ignored
  int members = 0;
  for (const auto& h : ShapeClasses()) members += h.Name == "TdtpTestMemberShape";
  EXPECT_EQ(members, 1);
  EXPECT_EQ(ShapeClasses().front().Name, "TdtpShape");
  EXPECT_EQ(CreateShape("TdtpTestMemberShape")->ClassName(), "TdtpTestMemberShape");
  EXPECT_EQ(CreateShape("tdtptestmembershape")->ClassName(), "TdtpShape");
  EXPECT_EQ(CreateShape("")->ClassName(), "TdtpShape");
}

TEST(ShapeValues, TextForms) {
  EXPECT_EQ(FloatToStr(0.1f), "0.1");
  EXPECT_EQ(static_cast<float>(StrToFloat(FloatToStr(1.0f / 3))), 1.0f / 3);
  EXPECT_EQ(FloatToStr(-2.5e-7), "-2.5e-07");
  for (const char* bad : {"1,5", "", "nan"}) EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
  for (const char* bad : {"12x", "99999999999"}) EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  EXPECT_FALSE(TextToBool("1"));
  EXPECT_FALSE(TextIsTrue("true"));
  EXPECT_EQ(TextToFontStyles("SUb"), fsStrikeOut | fsUnderline);
}

TEST(ShapeValues, StreamPiecesCheckTheirLengths) {
  TMemoryStream m;
  WriteStreamString(m, "abc");
  WriteStreamString(m, "");
  WriteStreamBlock(m, nullptr);
  m.SetPosition(0);
  EXPECT_EQ(ReadStreamString(m), "abc");
  EXPECT_EQ(ReadStreamString(m), "");
  TMemoryStream target;
  ReadStreamBlock(m, target);
  EXPECT_EQ(target.Size(), 0);
  for (std::int32_t bad : {-1, 5, INT32_MAX}) {
    TMemoryStream s;
    WriteStreamInt(s, bad);
    s.WriteBuffer("xy", 2);
    s.SetPosition(0);
    EXPECT_EQ(test::ErrorOf([&] { ReadStreamString(s); }), "Invalid shape data");
  }
}

}  // namespace
}  // namespace kdl

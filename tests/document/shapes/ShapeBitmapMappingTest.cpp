// The base's small helpers: local millimetres to target pixels under the
// paint transform, checked against the affine map worked out by hand; the
// sign helpers; and construction from XML.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "document/shapes/Shape.h"
#include "foundation/BrenlowXml.h"
#include "raster/AffineTransform.h"

namespace kdl {
namespace {

// x' = 2x - y + 10.5, y' = x + 3y - 4: scaled, sheared and moved, so that
// every coefficient shows in the results.
TdtpShape& Mapped(TdtpShape& shape) {
  shape.SetDocSize(10, 5);
  shape.SetPaintTransform(AffineMatrix(2, 1, -1, 3, 10.5, -4));
  return shape;
}

TEST(ShapeBitmapMapping, PointsFollowTheAffineMapAndRoundHalvesToEven) {
  TdtpShape shape;
  Mapped(shape);
  const TDoublePoint p = shape.LocalToBitmap(3, 4);
  EXPECT_EQ(p.X, 12.5);  // 6 - 4 + 10.5
  EXPECT_EQ(p.Y, 11.0);  // 3 + 12 - 4
  // Halves go to the even neighbour: 12.5 -> 12, 13.5 -> 14, -0.5 -> 0.
  EXPECT_EQ(shape.LocalToBitmapPoint(3, 4).X, 12);
  EXPECT_EQ(shape.LocalToBitmapPoint(3.5, 4).X, 14);
  EXPECT_EQ(shape.LocalToBitmapPoint(-5.5, 0).X, 0);
  EXPECT_EQ(shape.LocalToBitmapPoint(0.5, 0).Y, -4);  // -3.5 -> -4
  // Unrounded values keep what a float would lose.
  EXPECT_EQ(shape.LocalToBitmap(0.1, 0).X, 2 * 0.1 + 10.5);
}

TEST(ShapeBitmapMapping, FrameSidesTakeTheirOwnAxisAndTheRectTheCorners) {
  TdtpShape shape;
  Mapped(shape);
  // Sides: Round(a·x + e) and Round(d·y + f), the shear left out.
  EXPECT_EQ(shape.GetPixelLeft(), 10);    // 10.5
  EXPECT_EQ(shape.GetPixelRight(), 30);   // 30.5
  EXPECT_EQ(shape.GetPixelTop(), -4);
  EXPECT_EQ(shape.GetPixelBottom(), 11);  // 15 - 4
  // The rectangle maps the corners with every term: (0, 0) and (10, 5).
  const TRect r = shape.GetPixelRect();
  EXPECT_EQ(r.Left, 10);
  EXPECT_EQ(r.Top, -4);
  EXPECT_EQ(r.Right, 26);   // 20 - 5 + 10.5 = 25.5
  EXPECT_EQ(r.Bottom, 21);  // 10 + 15 - 4
}

TEST(ShapeBitmapMapping, PositionsFarOutsideAnyBitmapStopAtABillionPixels) {
  TdtpShape shape;
  shape.SetDocSize(1, 1);
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  shape.SetPaintTransform(AffineMatrix(1, 0, 0, 1, 1e12, -1e300));
  EXPECT_EQ(shape.GetPixelLeft(), 1000000000);
  EXPECT_EQ(shape.GetPixelTop(), -1000000000);
  shape.SetPaintTransform(AffineMatrix(1, 0, 0, 1, kNaN, 0));
  EXPECT_EQ(shape.LocalToBitmapPoint(0, 0).X, -1000000000);
  EXPECT_EQ(shape.GetPixelRect().Right, -1000000000);
  EXPECT_EQ(shape.GetPixelRect().Bottom, 1);
}

TEST(ShapeSigns, IntegersAndSingles) {
  EXPECT_EQ(TdtpShape::SignOf(-7), -1);
  EXPECT_EQ(TdtpShape::SignOf(0), 0);
  EXPECT_EQ(TdtpShape::SignOf(12), 1);
  EXPECT_EQ(TdtpShape::SignOf(std::numeric_limits<std::int32_t>::min()), -1);
  EXPECT_EQ(TdtpShape::FloatSignOf(-0.0f), 0);
  EXPECT_EQ(TdtpShape::FloatSignOf(std::numeric_limits<float>::denorm_min()), 1);
  EXPECT_EQ(TdtpShape::FloatSignOf(-std::numeric_limits<float>::infinity()), -1);
  EXPECT_EQ(TdtpShape::FloatSignOf(std::numeric_limits<float>::quiet_NaN()), 0);
}

class TTaggedShape : public TdtpShape {
 public:
  std::string ClassName() const override { return "TdtpTestTaggedShape"; }
};

TEST(ShapeFromXml, MakesTheKindAndReadsItsState) {
  TBrenlowXml xml;
  xml.ReadFromString("<shape><ClassName>TdtpShape</ClassName><DocLeft>1.5</DocLeft><DocWidth>20</DocWidth>"
                     "<Tag>42</Tag></shape>");
  const std::unique_ptr<TTaggedShape> shape = TdtpShape::CreateFromXml<TTaggedShape>(xml.Root());
  EXPECT_EQ(shape->ClassName(), "TdtpTestTaggedShape");
  EXPECT_EQ(shape->DocLeft(), 1.5f);
  EXPECT_EQ(shape->DocWidth(), 20.0f);
  EXPECT_EQ(shape->Tag(), 42);
  EXPECT_EQ(TdtpShape::CreateFromXml(xml.Root())->Tag(), 42);
}

}  // namespace
}  // namespace kdl

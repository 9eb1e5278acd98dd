#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "document/view/Ruler.h"
#include "platform/qt/ErrorDisplay.h"
#include "support/QtApplication.h"

namespace kdl {
namespace {

const QColor kFace = QColor::fromRgb(0xD4, 0xD0, 0xC8);  // the classic button face
const QColor kWhite = QColor(Qt::white);
const QColor kBlack = QColor(Qt::black);

class RulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    SetErrorDisplay([](const std::string& m) { ADD_FAILURE() << "error shown: " << m; });
  }
  void TearDown() override { SetErrorDisplay(nullptr); }

  // A flat ruler of 400 px along its direction.
  static void Shape(TKdRuler& r, TRulerDir dir, TRulerUnit unit, double dpm) {
    r.SetFlat(true);
    r.SetDirection(dir);
    if (dir == rdTop || dir == rdBottom)
      r.resize(400, 33);
    else
      r.resize(33, 400);
    r.SetUnits(unit);
    r.SetScreenDpm(dpm);
  }

  // The pixel at a place along the ruler, depth pixels in from its inner
  // edge (where the ticks start).
  static QColor At(const QImage& img, TRulerDir dir, int along, int depth) {
    switch (dir) {
      case rdTop: return img.pixelColor(along, img.height() - 1 - depth);
      case rdBottom: return img.pixelColor(along, depth);
      case rdLeft: return img.pixelColor(img.width() - 1 - depth, along);
      case rdRight: return img.pixelColor(depth, along);
    }
    return {};
  }

  // Centres of the runs of text ink along the band, runs closer than 4 px
  // joined into one label.
  static std::vector<double> LabelCentres(const QImage& img, TRulerDir dir, const QRect& band) {
    const bool horizontal = dir == rdTop || dir == rdBottom;
    const int length = horizontal ? img.width() : img.height();
    std::vector<double> centres;
    int first = -1, last = -100;
    for (int a = 0; a < length; ++a) {
      bool ink = false;
      for (int c = horizontal ? band.top() : band.left();
           c <= (horizontal ? band.bottom() : band.right()) && !ink; ++c) {
        const QColor px = horizontal ? img.pixelColor(a, c) : img.pixelColor(c, a);
        ink = qGray(px.rgb()) < 128;
      }
      if (!ink) continue;
      if (a - last > 4) {
        if (first >= 0) centres.push_back((first + last + 1) / 2.0);
        first = a;
      }
      last = a;
    }
    if (first >= 0) centres.push_back((first + last + 1) / 2.0);
    return centres;
  }

  // Every tick r of a scale with ticks every t px (long every d-th) lies at
  // round(r t + 1) along a ruler of 400 px, 6 or 8 px deep.
  static void ExpectTicks(const QImage& img, TRulerDir dir, double t, int d, double o = 0) {
    for (int r = static_cast<int>(std::floor(o / t)); ; ++r) {
      const int p = static_cast<int>(std::nearbyint(-o + r * t + 1));
      if (p >= 400) break;
      if (p < 0) continue;
      const bool longTick = r % d == 0;
      SCOPED_TRACE("tick " + std::to_string(r) + " at " + std::to_string(p));
      EXPECT_EQ(At(img, dir, p, 0), kBlack);
      EXPECT_EQ(At(img, dir, p, 5), kBlack);
      EXPECT_EQ(At(img, dir, p, 6), longTick ? kBlack : kFace);
      EXPECT_EQ(At(img, dir, p, 7), longTick ? kBlack : kFace);
    }
  }

  static void ExpectLabels(TKdRuler& ruler, const QImage& img, double step, double o = 0) {
    const std::vector<double> centres = LabelCentres(img, ruler.Direction(), ruler.BandRect());
    std::vector<double> expected;
    // Labels cut by the ends are left out.
    for (int g = 0; -o + g * step + 1 < 390; ++g)
      if (-o + g * step + 1 > 10) expected.push_back(std::nearbyint(-o + g * step + 1));
    std::vector<double> found;
    for (double c : centres)
      if (c > 10 && c < 390) found.push_back(c);
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) EXPECT_NEAR(found[i], expected[i], 2.0) << i;
  }
};

TEST_F(RulerTest, TicksAndLabelsFallWhereTheScaleArithmeticPutsThem) {
  struct Case {
    TRulerUnit Unit;
    double Dpm, Offset;  // offset in the unit
    double Tick, Label;  // px
    int Long;            // every n-th tick is long
  };
  // Millimetres at full size: v = 40 / 5.905512 = 6.77, labels every
  // 10 mm, long ticks every 5 mm (at 1, 31, 60 and 90 px). Centimetres at
  // small zoom: v = 40 / 23 = 1.74, labels every 2 cm (46 px), ticks every
  // 2 mm. Pixels: v = 40, labels every 50 px, ticks every 5, every other
  // one long (the dpm is set from the screen below).
  for (const Case& c : {Case{ruMilli, 5.905512, 0, 5.905512, 59.05512, 5},
                        Case{ruCenti, 2.3, 0, 4.6, 46, 5}, Case{ruMilli, 5.905512, 13, 5.905512, 59.05512, 5},
                        Case{ruPixel, 0, 0, 5, 50, 2}}) {
    for (TRulerDir dir : {rdTop, rdLeft, rdRight, rdBottom}) {
      SCOPED_TRACE(std::to_string(c.Unit) + " offset " + std::to_string(c.Offset) + " direction " +
                   std::to_string(static_cast<int>(dir)));
      TKdRuler ruler;
      Shape(ruler, dir, c.Unit, c.Dpm);
      if (c.Unit == ruPixel) ruler.SetScreenDpm(ruler.logicalDpiX() / 25.4);
      ruler.SetOffset(c.Offset);
      const QImage img = ruler.grab().toImage();
      const double o = c.Offset * c.Dpm;
      if (c.Unit == ruMilli && c.Offset == 0)
        for (int p : {1, 31, 60, 90}) EXPECT_EQ(At(img, dir, p, 7), kBlack) << p;
      ExpectTicks(img, dir, c.Tick, c.Long, o);
      ExpectLabels(ruler, img, c.Label, o);
    }
  }
}

TEST_F(RulerTest, NoScaleForNoUnitOrABrokenZoom) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    TRulerUnit unit;
    double dpm;
    double offset;
  };
  for (const Case& c : {Case{ruNone, 5.9, 0}, Case{ruMilli, 0, 0}, Case{ruPixel, 0, 0},
                        Case{ruCenti, -3, 0}, Case{ruInch, nan, 0}, Case{ruMilli, inf, 0},
                        Case{ruMilli, 1e-310, 0}, Case{ruMilli, 5.9, nan}}) {
    SCOPED_TRACE(std::to_string(c.unit) + " " + std::to_string(c.dpm));
    TKdRuler ruler;
    Shape(ruler, rdTop, c.unit, c.dpm);
    ruler.SetOffset(c.offset);
    const QImage img = ruler.grab().toImage();
    const QRect band = ruler.BandRect();
    // The band alone, white, and nothing below it.
    for (int x = band.left(); x <= band.right(); ++x) {
      EXPECT_EQ(img.pixelColor(x, band.center().y()), kWhite) << x;
      EXPECT_EQ(img.pixelColor(x, 32), kFace) << x;
    }
  }
  // An offset far beyond any page still paints and returns.
  TKdRuler far;
  Shape(far, rdTop, ruMilli, 5.9);
  far.SetOffset(1e300);
  EXPECT_FALSE(far.grab().isNull());
  // So does a zoom so small that the label step needs 300 powers of ten.
  TKdRuler tiny;
  Shape(tiny, rdTop, ruMilli, 1e-300);
  EXPECT_FALSE(tiny.grab().isNull());
}

TEST_F(RulerTest, HairLineIsInvertedOverTheScaleUntilTheNextFullRepaint) {
  TKdRuler ruler;
  Shape(ruler, rdTop, ruMilli, 5.905512);
  ruler.SetHairLine(true);
  const QImage plain = ruler.grab().toImage();
  const QRect band = ruler.BandRect();
  const auto inverted = [&](const QImage& img, int x) {
    for (int y = band.top(); y <= band.bottom(); ++y)
      if (img.pixel(x, y) != (plain.pixel(x, y) ^ 0x00FFFFFFu)) return false;
    return true;
  };
  const auto sameOutside = [&](const QImage& img, int from, int to) {
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if ((x < from || x >= to || y < band.top() || y > band.bottom()) &&
            img.pixel(x, y) != plain.pixel(x, y))
          return false;
    return true;
  };

  ruler.SetHairLinePos(50);
  QImage img = ruler.grab().toImage();
  EXPECT_TRUE(inverted(img, 49));
  EXPECT_TRUE(sameOutside(img, 49, 50));

  // Moving it restores the old strip.
  ruler.SetHairLinePos(80);
  img = ruler.grab().toImage();
  EXPECT_TRUE(inverted(img, 79));
  EXPECT_TRUE(sameOutside(img, 79, 80));

  ruler.SetHairLineStyle(hlsRect);  // a full repaint: the line is gone
  EXPECT_EQ(ruler.grab().toImage(), plain);
  EXPECT_EQ(ruler.HairLinePos(), -1);
  ruler.SetHairLinePos(80);
  img = ruler.grab().toImage();
  for (int x = 1; x < 80; ++x) EXPECT_TRUE(inverted(img, x)) << x;
  EXPECT_TRUE(sameOutside(img, 1, 80));

  ruler.SetOffset(1);
  EXPECT_EQ(ruler.HairLinePos(), 80);
  ruler.grab();
  EXPECT_EQ(ruler.HairLinePos(), -1);
}

TEST_F(RulerTest, UnitsConvertTheOffsetAndDirectionsTurnTheControl) {
  TKdRuler ruler;
  EXPECT_EQ(ruler.size(), QSize(200, 33));
  ruler.SetUnits(ruMilli);
  ruler.SetOffset(25);
  ruler.SetUnits(ruCenti);
  EXPECT_DOUBLE_EQ(ruler.Offset(), 2.5);
  ruler.SetUnits(ruInch);
  EXPECT_NEAR(ruler.Offset(), 25 / 25.4, 1e-12);
  ruler.SetUnits(ruPixel);
  EXPECT_NEAR(ruler.Offset(), 25 / 25.4 * ruler.logicalDpiX(), 1e-9);
  ruler.SetUnits(ruNone);
  EXPECT_NEAR(ruler.Offset(), 25, 1e-9);

  ruler.SetDirection(rdBottom);
  EXPECT_EQ(ruler.size(), QSize(200, 33));
  ruler.SetDirection(rdLeft);
  EXPECT_EQ(ruler.size(), QSize(33, 200));
  ruler.SetDirection(rdRight);
  EXPECT_EQ(ruler.size(), QSize(33, 200));
}

TEST_F(RulerTest, CornerNamesTheUnitAndDrawsItsBandsTowardsTheRulers) {
  TKdRulerCorner corner;
  EXPECT_EQ(corner.size(), QSize(24, 24));
  EXPECT_EQ(corner.toolTip(), "centimeter");
  corner.SetUnits(ruNone);
  EXPECT_TRUE(corner.Caption().isEmpty());
  EXPECT_TRUE(corner.toolTip().isEmpty());

  // Without a caption the two bands show: towards the right and bottom
  // for the top-left corner, mirrored for the bottom-right one.
  QImage img = corner.grab().toImage();
  EXPECT_EQ(img.pixelColor(20, 14), kWhite);
  EXPECT_EQ(img.pixelColor(14, 20), kWhite);
  EXPECT_EQ(img.pixelColor(4, 4), kFace);
  corner.SetPosition(cpRightBottom);
  img = corner.grab().toImage();
  EXPECT_EQ(img.pixelColor(3, 9), kWhite);
  EXPECT_EQ(img.pixelColor(9, 3), kWhite);
  EXPECT_EQ(img.pixelColor(19, 19), kFace);
}

}  // namespace
}  // namespace kdl

// The font factory: pixel heights only, styles mapped, and measuring that
// agrees with drawing.
#include <gtest/gtest.h>

#include <algorithm>

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include "platform/qt/Canvas.h"
#include "platform/qt/Font.h"
#include "support/QtApplication.h"

namespace kdl {
namespace {

using test::EnsureApplication;

TEST(FontFactory, HeightsArePixelsAndMeasuringAgreesWithDrawing) {
  EnsureApplication();
  const QFont em = CreateFont("Arial", -30, fsBold | fsItalic);
  EXPECT_EQ(em.pixelSize(), 30);
  EXPECT_EQ(em.pointSize(), -1) << "never a point size";
  // A positive height is the cell: ascent + descent come to it.
  for (const int cell : {12, 25, 40, 100}) {
    const QFontMetricsF m(CreateFont("Arial", cell, 0));
    EXPECT_NEAR(m.ascent() + m.descent(), cell, 1.5) << cell;
  }

  TFont f;
  f.SetHeight(-16);
  f.SetStyle(fsBold);
  EXPECT_EQ(TextExtent(f, QString()), (TSize{0, 0}));
  const TSize one = TextExtent(f, QStringLiteral("M"));
  const TSize three = TextExtent(f, QStringLiteral("MMM"));
  EXPECT_EQ(one.cy, three.cy);
  EXPECT_NEAR(three.cx, 3 * one.cx, 2);
  // Drawing lands inside the measured extent.
  QImage image(100, 30, QImage::Format_ARGB32);
  image.fill(0xFF000000u);
  f.SetColor(0xFFFFFF);
  DrawText(image, QRect(0, 0, 100, 30), DT_NOPREFIX, QStringLiteral("MMM"), f);
  int right = -1;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 100; ++x)
      if (qBlue(image.pixel(x, y)) > 64) right = std::max(right, x);
  EXPECT_GE(right, three.cx / 2);
  EXPECT_LE(right, three.cx);
}

TEST(FontFactory, Windows1252) {
  EXPECT_EQ(Windows1252ToQString("\x80\x99\xE9\x81"), QString::fromUtf16(u"\u20AC\u2122\u00E9\u0081"));
  EXPECT_EQ(Windows1252ToQString("plain"), QStringLiteral("plain"));
}

TEST(Canvas, PaintsOnlyWithADevice) {
  EnsureApplication();
  TCanvas none(nullptr);
  int changes = 0;
  none.OnChange = [&] { ++changes; };
  none.TextRect(QRect(0, 0, 5, 5), 0, QStringLiteral("x"));
  EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace kdl

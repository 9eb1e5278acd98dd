#include <gtest/gtest.h>

#include <QCursor>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <set>

#include "platform/qt/Cursors.h"
#include "support/QtApplication.h"

namespace kdl {
namespace {

struct Drawn {
  TCursor id;
  const char* file;
};

constexpr Drawn kDrawn[] = {
    {crRotation, "rotation.png"},
    {crSizeCopy, "sizecopy.png"},
    {crDtpCross, "crdtpcross.png"},
    {crDtpCrossLine, "crdtpcrossline.png"},
    {crDtpCrossArrow, "crdtpcrossarrow.png"},
    {crDtpCrossRectangle, "crdtpcrossrectangle.png"},
    {crDtpCrossEllipse, "crdtpcrossellipse.png"},
    {crDtpCrossText, "crdtpcrosstext.png"},
    {crDtpCrossImage, "crdtpcrossimage.png"},
};

QString SourceFile(const char* name) {
  return QStringLiteral(KDL_SOURCE_DIR "/resources/cursors/") + QLatin1String(name);
}

TEST(Cursors, EveryDrawingIsCarriedWithAHotSpotOnIt) {
  test::EnsureApplication();
  std::set<QString> named;
  for (const Drawn& d : kDrawn) {
    SCOPED_TRACE(d.file);
    named.insert(d.file);
    const QCursor c = ScreenCursor(d.id);
    ASSERT_EQ(c.shape(), Qt::BitmapCursor);
    // The cursor shows the drawing in the source tree, pixel for pixel.
    const QImage source(SourceFile(d.file));
    ASSERT_FALSE(source.isNull());
    const QImage shown = c.pixmap().toImage().convertToFormat(source.format());
    EXPECT_EQ(shown, source);
    const QPoint hot = c.hotSpot();
    ASSERT_TRUE(source.rect().contains(hot));
    // The cross cursors aim with the centre of their cross: ink on the hot
    // spot and on each arm at the same distance.
    if (d.id <= crDtpCross) {
      for (const QPoint p : {hot, hot + QPoint(5, 0), hot - QPoint(5, 0), hot + QPoint(0, 5),
                             hot - QPoint(0, 5)})
        EXPECT_EQ(source.pixel(p), 0xFF000000u) << p.x() << "," << p.y();
    }
  }
  // No drawing in the folder is left without a number.
  for (const QString& f : QDir(SourceFile("")).entryList({"*.png"}, QDir::Files))
    EXPECT_EQ(named.count(f), 1u) << f.toStdString();
}

TEST(Cursors, StandardAndUnknownNumbersShowQtShapes) {
  test::EnsureApplication();
  EXPECT_EQ(ScreenCursor(crHourGlass).shape(), Qt::WaitCursor);
  EXPECT_EQ(ScreenCursor(-29).shape(), Qt::ArrowCursor);
  EXPECT_EQ(ScreenCursor(-39).shape(), Qt::ArrowCursor);
  QWidget w;
  SetWidgetCursor(&w, crDtpCrossText);
  EXPECT_EQ(w.cursor().hotSpot(), ScreenCursor(crDtpCrossText).hotSpot());
  SetWidgetCursor(&w, crSizeNS);
  EXPECT_EQ(w.cursor().shape(), Qt::SizeVerCursor);
}

}  // namespace
}  // namespace kdl

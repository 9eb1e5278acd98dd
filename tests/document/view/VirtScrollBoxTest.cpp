#include <gtest/gtest.h>

#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "document/view/VirtScrollBox.h"
#include "platform/qt/ErrorDisplay.h"
#include "support/QtApplication.h"

namespace kdl {
namespace {

// Counts the position changes and paints its virtual area in one colour.
class TestBox : public TVirtScrollBox {
 public:
  int changes = 0;
  bool throwOnChange = false;

 protected:
  void ScrollChanged() override {
    ++changes;
    if (throwOnChange) throw std::runtime_error("view failed");
  }
  void Paint(QPainter& painter, const QRect& clip) override {
    TVirtScrollBox::Paint(painter, clip);
    painter.fillRect(QRectF(-ScrollX(), -ScrollY(), VirtualWidth(), VirtualHeight()), Qt::red);
  }
};

class VirtScrollBoxTest : public ::testing::Test {
 protected:
  // The box is a member: the application must come before the fixture.
  static void SetUpTestSuite() { test::EnsureApplication(); }

  void SetUp() override {
    SetErrorDisplay([this](const std::string& m) { errors.push_back(m); });
    box.resize(300, 200);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    cw = box.ClientWidth();
    ch = box.ClientHeight();
  }
  void TearDown() override { SetErrorDisplay(nullptr); }

  // Where the user clicks to reach a part of a bar.
  static QPoint PartOf(QScrollBar* bar, QStyle::SubControl part) {
    QStyleOptionSlider o;
    o.initFrom(bar);
    o.subControls = QStyle::SC_All;
    o.orientation = bar->orientation();
    o.minimum = bar->minimum();
    o.maximum = bar->maximum();
    o.sliderPosition = bar->sliderPosition();
    o.sliderValue = bar->value();
    o.singleStep = bar->singleStep();
    o.pageStep = bar->pageStep();
    if (o.orientation == Qt::Horizontal) o.state |= QStyle::State_Horizontal;
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &o, part, bar).center();
  }

  TestBox box;
  std::vector<std::string> errors;
  int cw = 0, ch = 0;
};

TEST_F(VirtScrollBoxTest, LargeAreasScaleTheBarsDownToThirtyThousandUnits) {
  box.SetVirtualBounds(0, 0, 60000, 1000);
  EXPECT_FLOAT_EQ(box.ScrollBarScale(), 0.5f);
  QScrollBar* h = box.horizontalScrollBar();
  QScrollBar* v = box.verticalScrollBar();
  // A bar spans its maximum plus one page.
  EXPECT_EQ(h->maximum() + h->pageStep(), 30000);
  EXPECT_EQ(h->pageStep(), static_cast<int>(std::nearbyint(cw * 0.5)));
  EXPECT_EQ(v->maximum() + v->pageStep(), 500);

  // The thumb at the far end shows the last client width of the area.
  h->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_FLOAT_EQ(box.ScrollX(), 60000.0f - cw);
  EXPECT_EQ(h->value(), h->maximum());

  // Areas within the limit keep the scale 1.
  box.SetVirtualBounds(box.ScrollX(), 0, 30000, 1000);
  EXPECT_FLOAT_EQ(box.ScrollBarScale(), 1.0f);
  EXPECT_EQ(h->maximum() + h->pageStep(), 30000);
  // The position was clamped to the smaller area.
  EXPECT_FLOAT_EQ(box.ScrollX(), 30000.0f - cw);
}

TEST_F(VirtScrollBoxTest, ScrollByStaysInsideTheAreaAndReportsTheRealDelta) {
  box.SetVirtualBounds(20, 0, 1000, 100);
  box.changes = 0;
  std::int32_t dx = -50, dy = 0;
  box.ScrollBy(dx, dy);
  EXPECT_EQ(dx, -20);
  EXPECT_EQ(dy, 0);
  EXPECT_FLOAT_EQ(box.ScrollX(), 0.0f);
  EXPECT_EQ(box.changes, 1);

  dx = 5000;
  box.ScrollBy(dx, dy);
  EXPECT_EQ(dx, 1000 - cw);
  EXPECT_EQ(box.horizontalScrollBar()->value(), 1000 - cw);

  // Nothing to scroll: no change reported.
  dx = 10;
  box.ScrollBy(dx, dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(box.changes, 2);

  // A far end 0.4 px beyond the position leaves nothing to scroll either.
  box.SetVirtualBounds(10, 0, static_cast<float>(cw) + 10.4f, 50);
  box.changes = 0;
  dx = 5;
  box.ScrollBy(dx, dy);
  EXPECT_EQ(dx, 0);
  box.horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_FLOAT_EQ(box.ScrollX(), 10.0f);
  EXPECT_EQ(box.changes, 0);
}

TEST_F(VirtScrollBoxTest, BoundsThatAreNotFiniteLeaveTheOrigin) {
  const float inf = std::numeric_limits<float>::infinity();
  box.SetVirtualBounds(std::nanf(""), 5, inf, 100);
  EXPECT_EQ(box.ScrollX(), 0.0f);
  std::int32_t dx = 40, dy = 0;
  box.ScrollBy(dx, dy);
  EXPECT_EQ(box.ScrollX(), 0.0f);
  box.horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(box.ScrollX(), 0.0f);
  EXPECT_FALSE(box.viewport()->grab().isNull());
}

TEST_F(VirtScrollBoxTest, BarActionsStepByLinesPagesAndTheThumb) {
  box.SetVirtualBounds(0, 0, 60000, 5000);
  box.changes = 0;
  QScrollBar* h = box.horizontalScrollBar();
  QScrollBar* v = box.verticalScrollBar();

  // A click on the arrow button moves nine pixels, half as many bar units.
  QTest::mouseClick(h, Qt::LeftButton, {}, PartOf(h, QStyle::SC_ScrollBarAddLine));
  EXPECT_FLOAT_EQ(box.ScrollX(), 9.0f);
  EXPECT_EQ(h->value(), 4);  // 4.5 rounds to even
  EXPECT_EQ(box.changes, 1);

  // A click beside the thumb moves one client width.
  QTest::mouseClick(v, Qt::LeftButton, {}, PartOf(v, QStyle::SC_ScrollBarAddPage));
  EXPECT_FLOAT_EQ(box.ScrollY(), static_cast<float>(ch));
  v->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_FLOAT_EQ(box.ScrollY(), static_cast<float>(ch - 9));
  v->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_FLOAT_EQ(box.ScrollY(), 0.0f);
  v->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_FLOAT_EQ(box.ScrollY(), 5000.0f - ch);
  v->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_FLOAT_EQ(box.ScrollY(), 0.0f);

  // The thumb counts in bar units: 1000 units are 2000 pixels.
  h->setSliderDown(true);
  h->setSliderPosition(1000);
  EXPECT_FLOAT_EQ(box.ScrollX(), 2000.0f);
  h->setSliderDown(false);

  // Without tracking the content waits for the thumb to be let go.
  box.SetThumbTracking(false);
  h->setSliderDown(true);
  h->setSliderPosition(1500);
  EXPECT_FLOAT_EQ(box.ScrollX(), 2000.0f);
  h->setSliderDown(false);
  EXPECT_FLOAT_EQ(box.ScrollX(), 3000.0f);
  EXPECT_EQ(h->value(), 1500);
  EXPECT_TRUE(errors.empty());
}

TEST_F(VirtScrollBoxTest, BarsStayShownButDisabledUntilHiddenOrAutoScrollIsOff) {
  box.SetVirtualBounds(0, 0, 100, 5000);
  QScrollBar* h = box.horizontalScrollBar();
  QScrollBar* v = box.verticalScrollBar();
  EXPECT_TRUE(h->isVisible());
  EXPECT_FALSE(h->isEnabled());
  EXPECT_TRUE(v->isEnabled());

  box.HideScrollBars();
  EXPECT_FALSE(h->isVisible());
  EXPECT_FALSE(v->isVisible());
  box.UpdateScrollBars();
  EXPECT_TRUE(v->isVisible());

  // Off: back to the origin without a change report, bars gone, and the
  // bars no longer drive the content.
  std::int32_t dx = 0, dy = 300;
  box.ScrollBy(dx, dy);
  box.changes = 0;
  box.SetAutoScroll(false);
  EXPECT_FLOAT_EQ(box.ScrollY(), 0.0f);
  EXPECT_EQ(box.changes, 0);
  EXPECT_FALSE(v->isVisible());
  v->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_FLOAT_EQ(box.ScrollY(), 0.0f);
  box.SetAutoScroll(true);
  EXPECT_TRUE(v->isVisible());
  EXPECT_EQ(box.ClientHeight(), ch);
}

TEST_F(VirtScrollBoxTest, PaintFillsWhatTheAreaLeavesUncovered) {
  box.SetVirtualBounds(0, 0, 100.5f, 60);
  const QImage shot = box.viewport()->grab().toImage();
  const QColor workspace = QColor::fromRgb(0x80, 0x80, 0x80);
  EXPECT_EQ(shot.pixelColor(50, 30), QColor(Qt::red));
  EXPECT_EQ(shot.pixelColor(150, 30), workspace);
  EXPECT_EQ(shot.pixelColor(50, 100), workspace);
  box.SetColor(0x00FF00);
  EXPECT_EQ(box.viewport()->grab().toImage().pixelColor(150, 30), QColor(Qt::green));
}

TEST_F(VirtScrollBoxTest, AnErrorInTheViewReachesTheErrorDisplayNotTheEventLoop) {
  box.SetVirtualBounds(0, 0, 2000, 2000);
  box.throwOnChange = true;
  QScrollBar* h = box.horizontalScrollBar();
  QTest::mouseClick(h, Qt::LeftButton, {}, PartOf(h, QStyle::SC_ScrollBarAddPage));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "view failed");
}

}  // namespace
}  // namespace kdl

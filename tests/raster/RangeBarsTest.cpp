#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>
#include <cmath>
#include <random>

#include "support/ManualTimers.h"
#include "support/QtApplication.h"
#include "support/ShownErrors.h"
#include "raster/RangeBars.h"
#include "raster/Themes.h"
#include "raster/ThreadPersistent.h"

namespace kdl {
namespace {

// No paint, mouse or timer handler may fail.
class RangeBarTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureApplication(); }
  void TearDown() override { EXPECT_TRUE(errors_.Messages.empty()) << errors_.Messages.front(); }
  test::ShownErrors errors_;
};

// A bordered 100 x 16 bar has a 98 x 14 client area at (1, 1): buttons of
// 14 pixels, a 70-pixel track from client x 14 to 84.
constexpr QPoint kNextButton{92, 8};

TEST_F(RangeBarTest, HoldingTheNextButtonRepeatsAfter600ThenEvery100) {
  test::ManualTimers clock;
  TRangeBar bar;
  bar.SetRangeAndWindow(1000, 50);
  bar.show();
  int userScrolls = 0;
  bar.OnUserScroll = [&](TArrowBar*) { ++userScrolls; };

  QTest::mousePress(&bar, Qt::LeftButton, {}, kNextButton);
  EXPECT_EQ(bar.Position(), 8) << "one step at once";
  clock.Advance(599);
  EXPECT_EQ(bar.Position(), 8) << "not before 600 ms";
  clock.Advance(1);
  EXPECT_EQ(bar.Position(), 16);
  clock.Advance(99);
  EXPECT_EQ(bar.Position(), 16);
  clock.Advance(1);
  EXPECT_EQ(bar.Position(), 24);
  clock.Advance(300);
  EXPECT_EQ(bar.Position(), 48);
  EXPECT_EQ(userScrolls, 6) << "every step is the user's";
  QTest::mouseRelease(&bar, Qt::LeftButton, {}, kNextButton);
  clock.Advance(1000);
  EXPECT_EQ(bar.Position(), 48) << "release ends the repeat";
  EXPECT_EQ(bar.TimerPhase(), 3) << "the hover watch follows";
}

TEST_F(RangeBarTest, RepeatStopsAtTheEndAndTheHoverWatchEndsWhenThePointerLeaves) {
  test::ManualTimers clock;
  QWidget window;
  window.resize(200, 100);
  TRangeBar bar(&window);
  bar.SetRangeAndWindow(70, 50);  // positions 0 .. 20
  window.show();

  // Through the window, as the window system delivers: Qt tracks enter
  // and leave there.
  QWindow* w = window.windowHandle();
  QTest::mouseMove(w, kNextButton);
  QTest::mousePress(w, Qt::LeftButton, {}, kNextButton);
  EXPECT_EQ(bar.Position(), 8);
  clock.Advance(600);
  EXPECT_EQ(bar.Position(), 16);
  clock.Advance(100);
  EXPECT_EQ(bar.Position(), 20) << "clamped to the range";
  EXPECT_EQ(bar.TimerPhase(), 2);
  clock.Advance(100);
  EXPECT_EQ(bar.TimerPhase(), 3) << "a step that cannot move ends the repeat";
  EXPECT_EQ(bar.RepeatTimer().Interval(), 150u);
  clock.Advance(1000);
  EXPECT_EQ(bar.Position(), 20);
  EXPECT_EQ(bar.TimerPhase(), 3) << "the watch runs while the pointer stays";
  QTest::mouseRelease(w, Qt::LeftButton, {}, kNextButton);
  EXPECT_EQ(bar.TimerPhase(), 3);

  // Leaving the bar ends the watch.
  QTest::mouseMove(w, QPoint(150, 80));
  EXPECT_EQ(bar.TimerPhase(), 0);
  EXPECT_FALSE(bar.RepeatTimer().Enabled());
  EXPECT_EQ(bar.HoverZone(), bzNone);
}

TEST_F(RangeBarTest, ATrackPressPagesUntilTheThumbReachesThePointer) {
  test::ManualTimers clock;
  TRangeBar bar;
  bar.SetRangeAndWindow(1000, 100);
  bar.show();
  // Track length 70: a 17-pixel thumb at client 14 + round(53 P / 900).
  // Client x 60 lies under the thumb from P = 509 to 781.
  const QPoint at(61, 8);
  QTest::mousePress(&bar, Qt::LeftButton, {}, at);
  EXPECT_EQ(bar.Position(), 100);
  clock.Advance(600);
  EXPECT_EQ(bar.Position(), 200);
  clock.Advance(5000);
  EXPECT_EQ(bar.Position(), 600);
  EXPECT_EQ(bar.ZoneAt(60, 7), bzThumb);
  QTest::mouseRelease(&bar, Qt::LeftButton, {}, at);
}

TEST_F(RangeBarTest, SmallestThumbAndItsTravel) {
  TRangeBar bar;
  bar.SetBorderStyle(bsNone);
  bar.resize(132, 16);  // 16-pixel buttons, a 100-pixel track
  bar.SetRangeAndWindow(10000, 100);
  TRect t = bar.ThumbRect();
  EXPECT_EQ(t.Width(), 17);
  EXPECT_EQ(t.Left, 16);
  bar.SetPosition(1e9f);
  EXPECT_EQ(bar.Position(), 9900);
  t = bar.ThumbRect();
  EXPECT_EQ(t.Left - 16, 83);
  EXPECT_EQ(t.Right, 116);

  // Position clamps, a NaN included; a window as long as the range shows no
  // thumb.
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetPosition(500);
  bar.SetPosition(std::nanf(""));
  EXPECT_EQ(bar.Position(), 0);
  bar.SetRangeAndWindow(100, 100);
  EXPECT_FALSE(bar.ActiveLook());
  bar.SetPosition(30);
  EXPECT_EQ(bar.Position(), 0);
}

TEST_F(RangeBarTest, ADraggedBorderlessThumbStaysUnderThePointer) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    TRangeBar bar;
    bar.SetBorderStyle(bsNone);
    bar.resize(120 + static_cast<int>(rng() % 300), 16);
    const int range = 200 + static_cast<int>(rng() % 20000);
    bar.SetRangeAndWindow(range, 1 + static_cast<int>(rng() % (range - 1)));
    bar.show();
    const TRect t0 = bar.ThumbRect();
    ASSERT_GT(t0.Width(), 0);
    const QPoint grab((t0.Left + t0.Right) / 2, 8);
    QTest::mousePress(&bar, Qt::LeftButton, {}, grab);
    const TRect track = bar.TrackRect();
    const int room = track.Right - t0.Right;
    for (int d : {1, 5, room / 3, room / 2, room - 1}) {
      if (d <= 0 || d >= room) continue;
      QTest::mouseMove(&bar, grab + QPoint(d, 0));
      EXPECT_NEAR(bar.ThumbRect().Left - t0.Left, d, 1)
          << "range " << range << " window " << bar.EffectiveWindow() << " width " << bar.width();
    }
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, grab);
  }
}

TEST_F(RangeBarTest, AShortBorderedTrackDoesNotDrag) {
  // A 19-pixel bordered track: room for a thumb, none to drag it over.
  TRangeBar bar;
  bar.SetShowArrows(false);
  bar.resize(21, 16);
  bar.SetRangeAndWindow(10000, 10);
  bar.show();
  ASSERT_FALSE(IsRectEmpty(bar.ThumbRect()));
  QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(5, 8));
  QTest::mouseMove(&bar, QPoint(12, 8));
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_FALSE(std::isnan(bar.Position()));
  QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(12, 8));
  // Nor from the middle, either way: the thumb stays where it was.
  for (int dx : {-3, 3}) {
    bar.SetPosition(5000);
    const TRect t = bar.ThumbRect();
    const QPoint grab((t.Left + t.Right) / 2, 8);
    QTest::mousePress(&bar, Qt::LeftButton, {}, grab);
    QTest::mouseMove(&bar, grab + QPoint(dx, 0));
    EXPECT_EQ(bar.Position(), 5000) << dx;
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, grab + QPoint(dx, 0));
  }
}

TEST_F(RangeBarTest, RandomOperationsKeepThePositionInRange) {
  std::mt19937 rng(11);
  QWidget window;
  window.resize(600, 600);
  TRangeBar bar(&window);
  window.show();
  for (int step = 0; step < 600; ++step) {
    switch (rng() % 6) {
      case 0: bar.SetRangeAndWindow(static_cast<int>(rng() % 5000) - 100,
                                    static_cast<int>(rng() % 3000) - 100); break;
      case 1: bar.resize(1 + static_cast<int>(rng() % 500), 1 + static_cast<int>(rng() % 40)); break;
      case 2: bar.SetPosition(static_cast<float>(static_cast<int>(rng() % 8000) - 2000) / 3.0f); break;
      case 3: {
        QWheelEvent wheel(QPointF(5, 5), bar.mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, static_cast<int>(rng() % 721) - 360), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&bar, &wheel);
        break;
      }
      case 4: bar.SetCentered(!bar.Centered()); break;
      default: {
        const QPoint from(static_cast<int>(rng() % std::max(1, bar.width())), 5);
        QTest::mousePress(&bar, Qt::LeftButton, {}, from);
        QTest::mouseMove(&bar, from + QPoint(static_cast<int>(rng() % 400) - 200, 0));
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, from);
        break;
      }
    }
    const float top = static_cast<float>(bar.Range() - bar.EffectiveWindow());
    ASSERT_GE(bar.Position(), 0) << "step " << step;
    if (top > 0) {
      ASSERT_LE(bar.Position(), top) << "step " << step;
    } else {
      ASSERT_EQ(bar.Position(), 0) << "step " << step;
    }
  }
}

TEST_F(RangeBarTest, WheelStepsByIncrementPerNotch) {
  TRangeBar bar;
  bar.SetRangeAndWindow(1000, 100);
  int user = 0;
  bar.OnUserScroll = [&](TArrowBar*) { ++user; };
  auto wheel = [&](int dy) {
    QWheelEvent e(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, dy), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&bar, &e);
  };
  wheel(240);
  EXPECT_EQ(bar.Position(), 16) << "a positive delta increases the position";
  wheel(-60);
  EXPECT_EQ(bar.Position(), 12) << "half a notch moves half an increment";
  EXPECT_EQ(user, 2);
}

TEST_F(RangeBarTest, CentringKeepsTheCentresFraction) {
  TRangeBar bar;
  bar.SetCentered(true);
  bar.SetRangeAndWindow(1000, 100);
  bar.SetPosition(300);  // centre at 350 of 1000
  bar.SetRange(2000);
  EXPECT_FLOAT_EQ(bar.Position(), 2000 * 0.35 - 50);
  bar.SetRangeAndWindow(4000, 200);  // centre at 700 of 2000
  EXPECT_FLOAT_EQ(bar.Position(), 4000 * 0.35 - 100);
  // Not centred: the position only clamps.
  bar.SetCentered(false);
  bar.SetRange(1000);
  EXPECT_FLOAT_EQ(bar.Position(), 800);
}

// ---- Screenshots ------------------------------------------------------------

// Flat-look colours, one per element (0x00BBGGRR).
constexpr TColor kTrack = 0x00C000;
constexpr TColor kButton = 0xC00000;
constexpr TColor kHandle = 0x0000C0;
constexpr TColor kBorder = 0x202020;

QRgb Rgb(TColor c) { return Color32(c) | 0xFF000000u; }

struct Span {
  int from, to;  // widget x, half-open
  TColor color;
};

// Checks rows 2, 3 and 12 (inside the bevels, clear of the arrows and grip
// marks) against the spans, skipping a pixel either side of each boundary.
void ExpectSpans(const QImage& img, const std::vector<Span>& spans, const char* what) {
  for (int y : {2, 3, 12}) {
    for (const Span& s : spans) {
      for (int x = s.from + 2; x < s.to - 2; ++x) {
        EXPECT_EQ(img.pixel(x, y), Rgb(s.color)) << what << " at " << x << "," << y;
      }
    }
  }
}

TRangeBar* FlatBar(QWidget* parent) {
  auto* bar = new TRangeBar(parent);
  bar->setGeometry(0, 0, 100, 16);
  bar->SetStyle(rbsMac);
  bar->SetBackgnd(bgSolid);
  bar->SetColor(kTrack);
  bar->SetButtonColor(kButton);
  bar->SetHandleColor(kHandle);
  bar->SetBorderColor(kBorder);
  bar->SetRangeAndWindow(200, 50);
  bar->SetPosition(60);
  return bar;
}

TEST_F(RangeBarTest, FlatLookStatesMatchAHandMadeLayout) {
  test::ManualTimers clock;
  QWidget window;
  window.resize(120, 40);
  TRangeBar* bar = FlatBar(&window);
  window.show();
  // Client 98 x 14 at (1, 1); flat buttons 13 wide; track 72 long; thumb
  // 18 long at round(60 * 72 / 200) = 22: client 35 .. 53.
  const std::vector<Span> normal = {
      {1, 13, kButton}, {14, 36, kTrack}, {37, 53, kHandle}, {54, 86, kTrack}, {87, 99, kButton}};
  QImage img = bar->grab().toImage();
  ExpectSpans(img, normal, "normal");
  // The sunken single border.
  EXPECT_EQ(img.pixel(0, 8), Rgb(clBtnShadow));
  EXPECT_EQ(img.pixel(50, 0), Rgb(clBtnShadow));
  EXPECT_EQ(img.pixel(99, 8), Rgb(clBtnHighlight));
  EXPECT_EQ(img.pixel(50, 15), Rgb(clBtnHighlight));

  QTest::mouseMove(bar, QPoint(92, 8));
  EXPECT_EQ(bar->HoverZone(), bzNextButton);
  ExpectSpans(bar->grab().toImage(), normal, "hot");

  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(45, 8));
  EXPECT_EQ(bar->PressedZone(), bzThumb);
  ExpectSpans(bar->grab().toImage(), normal, "pressed thumb");
  QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(45, 8));

  // A press in the next track pages once: 110, thumb at round(39.6) = 40,
  // client 53 .. 71; the pressed track fills with the border colour.
  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(80, 8));
  EXPECT_EQ(bar->Position(), 110);
  ExpectSpans(bar->grab().toImage(),
              {{1, 13, kButton}, {14, 54, kTrack}, {55, 71, kHandle}, {72, 86, kBorder},
               {87, 99, kButton}},
              "pressed track");
  QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(80, 8));
}

// Pixels that differ between two grabs lie inside r (widget coordinates).
void ExpectChangesInside(const QImage& a, const QImage& b, const QRect& r, const char* what) {
  ASSERT_EQ(a.size(), b.size());
  int changed = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) == b.pixel(x, y)) continue;
      ++changed;
      EXPECT_TRUE(r.contains(x, y)) << what << ": pixel " << x << "," << y << " outside "
                                    << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    }
  }
  (void)changed;
}

QRect WidgetZone(const TArrowBar& bar, TBarZone zone) {
  const TRect r = bar.ZoneRect(zone);
  return QRect(r.Left, r.Top, r.Width(), r.Height()).translated(bar.ClientOrigin());
}

TEST_F(RangeBarTest, ThemedZonesChangeOnlyInsideThemselves) {
  ASSERT_TRUE(useThemes());
  test::ManualTimers clock;
  QWidget window;
  window.resize(300, 60);
  auto* bar = new TRangeBar(&window);
  bar->setGeometry(0, 0, 200, 20);
  bar->SetRangeAndWindow(1000, 100);
  bar->SetPosition(400);
  auto* still = new TRangeBar(&window);
  still->setGeometry(0, 30, 200, 20);
  still->SetRangeAndWindow(1000, 100);
  window.show();
  const QImage normal = bar->grab().toImage();

  QTest::mouseMove(bar, QPoint(195, 10));
  ExpectChangesInside(normal, bar->grab().toImage(), WidgetZone(*bar, bzNextButton), "hot button");
  const QRect thumb = WidgetZone(*bar, bzThumb);
  QTest::mouseMove(bar, thumb.center());
  ExpectChangesInside(normal, bar->grab().toImage(), thumb, "hot thumb");
  QTest::mousePress(bar, Qt::LeftButton, {}, thumb.center());
  ExpectChangesInside(normal, bar->grab().toImage(), thumb, "pressed thumb");
  QTest::mouseRelease(bar, Qt::LeftButton, {}, thumb.center());

  // A button press steps at once: compare with an unpressed bar at the new
  // position.
  QTest::mouseMove(bar, QPoint(3, 10));
  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(3, 10));
  still->SetPosition(bar->Position());
  ExpectChangesInside(still->grab().toImage(), bar->grab().toImage(),
                      WidgetZone(*bar, bzPrevButton), "pressed button");
  QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(3, 10));

  // So does a track press.
  QTest::mouseMove(&window, QPoint(250, 55));
  QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(thumb.right() + 20, 10));
  ASSERT_EQ(bar->PressedZone(), bzNextTrack);
  still->SetPosition(bar->Position());
  ExpectChangesInside(still->grab().toImage(), bar->grab().toImage(),
                      WidgetZone(*bar, bzNextTrack), "pressed track");
  QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(thumb.right() + 20, 10));
}

}  // namespace
}  // namespace kdl

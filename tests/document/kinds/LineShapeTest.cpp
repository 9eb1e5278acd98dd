// The line's outline against coordinates worked out by hand for each head
// style, its frame and turns against geometry, undo of point changes, and
// its XML against a text written out by hand.
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>

#include "ExactCoverage.h"
#include "FakeDocument.h"
#include "QtApplication.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/kinds/BitmapShape.h"
#include "document/kinds/LineShape.h"
#include "document/shapes/Command.h"
#include "document/shapes/HandlePainter.h"

namespace kdl {
namespace {

using testing::FakeDocument;
using testing::LoadShapeXml;
using testing::ShapeXml;

class LineShape : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitializeDocumentLibrary(); }

  // A horizontal 50 mm line of width 1 from (10, 20); heads 5 x 7.
  static void Horizontal(TdtpLineShape& l, std::uint8_t style0, std::uint8_t style1) {
    l.SetPoint(0, {10, 20});
    l.SetPoint(1, {60, 20});
    l.GetArrow(0)->SetStyle(style0);
    l.GetArrow(1)->SetStyle(style1);
  }
};

double ShoelaceArea(const TArrayOfFloatPoint& c) { return testing::PolygonArea(c); }

void ExpectContour(const TdtpLineShape& l, const std::vector<TFloatPoint>& expected, const char* what) {
  ASSERT_EQ(l.Points().size(), 1u) << what;
  const TArrayOfFloatPoint& c = l.Points()[0];
  ASSERT_EQ(c.size(), expected.size()) << what;
  for (std::size_t i = 0; i < c.size(); ++i) {
    EXPECT_NEAR(c[i].X, expected[i].X, 1e-4) << what << " point " << i;
    EXPECT_NEAR(c[i].Y, expected[i].Y, 1e-4) << what << " point " << i;
  }
}

TEST_F(LineShape, EachHeadStyleAsWorkedOutByHand) {
  // Frame coordinates: the first point at (0, 0), the second at (50, 0).
  // At the second end U = (1, 0), N = (0, 1), H = 7, B = (43, 0); at the
  // first end everything is mirrored.
  const double e = 2.8;                              // 7 / 5 x 2
  const double w = 7 - (std::sqrt(e * e + 1) + 1.4);  // arm length 2.626786
  const auto wf = static_cast<float>(w), we = static_cast<float>(w / e);
  struct Case {
    std::uint8_t Style;
    std::vector<TFloatPoint> Contour;
    double HeadArea;  // each head, beyond the body's 36 mm
  };
  const Case cases[] = {
      {asNoArrow, {{0, .5f}, {0, -.5f}, {50, -.5f}, {50, .5f}}, 7},
      {asArrow,
       {{7, .5f}, {7, 2.5f}, {0, 0}, {7, -2.5f}, {7, -.5f}, {43, -.5f}, {43, -2.5f}, {50, 0}, {43, 2.5f}, {43, .5f}},
       17.5},
      {asOpenArrow,
       {{7, .5f}, {7 - wf, .5f}, {7, .5f + we}, {7, 2.5f}, {0, 0}, {7, -2.5f}, {7, -.5f - we}, {7 - wf, -.5f},
        {7, -.5f}, {43, -.5f}, {43 + wf, -.5f}, {43, -.5f - we}, {43, -2.5f}, {50, 0}, {43, 2.5f},
        {43, .5f + we}, {43 + wf, .5f}, {43, .5f}},
       // The triangle less the two notches between the arms and the body.
       17.5 - w * (w / e)},
      {asDiamond,
       {{7, .5f}, {3.5f, 2.5f}, {0, 0}, {3.5f, -2.5f}, {7, -.5f}, {43, -.5f}, {46.5f, -2.5f}, {50, 0}, {46.5f, 2.5f},
        {43, .5f}},
       10.5 + 8.75},
      {asRectangle,
       {{7, .5f}, {7, 2.5f}, {0, 2.5f}, {0, -2.5f}, {7, -2.5f}, {7, -.5f}, {43, -.5f}, {43, -2.5f}, {50, -2.5f},
        {50, 2.5f}, {43, 2.5f}, {43, .5f}},
       35},
  };
  for (const Case& c : cases) {
    TdtpLineShape l;
    Horizontal(l, c.Style, c.Style);
    ExpectContour(l, c.Contour, kArrowStyleNames[c.Style]);
    const double body = c.Style == asNoArrow ? 50 - 14 : 36;
    EXPECT_NEAR(ShoelaceArea(l.Points()[0]), body + 2 * c.HeadArea, 1e-3) << kArrowStyleNames[c.Style];
  }
}

TEST_F(LineShape, StealthAndOvalHeadsFollowTheirCurves) {
  {
    TdtpLineShape l;
    Horizontal(l, asNoArrow, asStealthArrow);
    const TArrayOfFloatPoint& c = l.Points()[0];
    // Plain first end, then Q, the swept arc, the head's corners and tip,
    // the arc back and P.
    const double w = 7 - (std::sqrt(2.8 * 2.8 + 1) + 1.4);
    ASSERT_GE(c.size(), 12u);
    EXPECT_NEAR(c[3].X, 43 + w, 1e-4);  // arc start: Q + U x W
    EXPECT_NEAR(c[3].Y, -.5, 1e-4);
    const std::size_t n = (c.size() - 9) / 2;  // arc points per side - 1
    // Arc end: Q - N x (R + W / E) with R + W / E = 2.5 - 0.75.
    EXPECT_NEAR(c[3 + n].X, 43, 1e-4);
    EXPECT_NEAR(c[3 + n].Y, -2.25, 1e-4);
    EXPECT_EQ(c[4 + n], (TFloatPoint{43, -2.5f}));
    EXPECT_EQ(c[5 + n], (TFloatPoint{50, 0}));
    // The filled arrow less two swept notches, each bounded by the body,
    // the head's back and the curve Q + U W cos t - N (R sin t + W / E
    // (1 - cos t)), integrated finely here.
    const double r = 2.5 - 0.75 - w / 2.8;
    double notch2 = 0;
    const int steps = 20000;
    double px = 43, py = -.5;  // Q, where the notch starts and ends
    for (int i = 0; i <= steps + 1; ++i) {
      const double t = std::numbers::pi / 2 * std::min(i, steps) / steps;
      const double x = i > steps ? 43 : 43 + w * std::cos(t);
      const double y = i > steps ? -.5 : -.5 - r * std::sin(t) - w / 2.8 * (1 - std::cos(t));
      notch2 += px * y - x * py;
      px = x, py = y;
    }
    const double notch = std::abs(notch2) / 2;
    ASSERT_GT(notch, w * (w / 2.8) / 2);  // deeper than the open arrow's
    EXPECT_NEAR(ShoelaceArea(c) - 43, 17.5 - 2 * notch, 0.4);
  }
  {
    TdtpLineShape l;
    Horizontal(l, asNoArrow, asOval);
    const TArrayOfFloatPoint& c = l.Points()[0];
    // Every head point on the ellipse about (46.5, 0) with half axes 3.5
    // and 2.5; the tip among them.
    bool tip = false;
    for (std::size_t i = 3; i + 1 < c.size(); ++i) {
      EXPECT_NEAR(std::hypot((c[i].X - 46.5) / 3.5, c[i].Y / 2.5), 1, 1e-5) << i;
      tip = tip || c[i] == TFloatPoint{50, 0};
    }
    EXPECT_TRUE(tip);
    const double n = static_cast<double>(c.size() - 4 + 2) / 4;  // quarter arcs
    const double inscribed = 2 * n * 3.5 * 2.5 * std::sin(std::numbers::pi / (2 * n));
    const double head = ShoelaceArea(c) - 43;
    EXPECT_LE(head, std::numbers::pi * 3.5 * 2.5);
    EXPECT_GT(head, inscribed - 0.5);
  }
}

TEST_F(LineShape, NarrowHeadsShortLinesAndCoincidingPoints) {
  {
    // A head no wider than the line is a square end.
    TdtpLineShape l;
    Horizontal(l, asArrow, asArrow);
    l.SetLineWidth(5);
    ExpectContour(l, {{0, 2.5f}, {0, -2.5f}, {50, -2.5f}, {50, 2.5f}}, "narrow head");
  }
  {
    // A head longer than 70 % of the line is shortened to it.
    TdtpLineShape l;
    l.SetPoint(0, {0, 0});
    l.SetPoint(1, {5, 0});
    l.GetArrow(1)->SetStyle(asArrow);
    ExpectContour(l, {{0, .5f}, {0, -.5f}, {1.5f, -.5f}, {1.5f, -2.5f}, {5, 0}, {1.5f, 2.5f}, {1.5f, .5f}},
                  "clipped head");
  }
  {
    // Both points equal: the outline stays as it was.
    TdtpLineShape l;
    Horizontal(l, asNoArrow, asNoArrow);
    const TArrayOfArrayOfFloatPoint before = l.Points();
    l.SetPoint(1, {10, 20});
    EXPECT_EQ(l.GetPoint(0), l.GetPoint(1));
    EXPECT_EQ(l.Points(), before);
  }
}

TEST_F(LineShape, BrokenSizesDrawPlainEndsOrAHairlineBody) {
  TdtpLineShape l;
  Horizontal(l, asOpenArrow, asStealthArrow);
  l.SetLineWidth(-3);
  // Heads from a zero-width body: every point finite.
  for (const TFloatPoint& p : l.Points()[0]) EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y));
  EXPECT_EQ(l.Points()[0][0], (TFloatPoint{7, 0}));

  for (const char* value : {"NaN", "INF", "-INF"}) {
    TdtpLineShape broken;
    LoadShapeXml(broken, std::string("<shape><ClassName>TdtpLineShape</ClassName>"
                                     "<Arrow0><Style>StealthArrow</Style><Width>") +
                             value + "</Width><Length>7</Length></Arrow0>"
                                     "<Arrow1><Style>Oval</Style><Width>5</Width><Length>" +
                             value + "</Length></Arrow1>"
                                     "<Points><Point><X>10</X><Y>20</Y></Point><Point><X>60</X><Y>20</Y></Point>"
                                     "</Points><LineWidth>1</LineWidth><DocLeft>10</DocLeft><DocTop>20</DocTop>"
                                     "<DocHeight>1</DocHeight><DocWidth>50</DocWidth></shape>");
    ExpectContour(broken, {{0, .5f}, {0, -.5f}, {50, -.5f}, {50, .5f}}, value);
  }
}

TEST_F(LineShape, FrameRubberBandAndTurns) {
  // A level line has a 1 mm high frame; the body reaches half the width
  // above it.
  TdtpLineShape level;
  Horizontal(level, asNoArrow, asNoArrow);
  EXPECT_FLOAT_EQ(level.DocHeight(), 1);
  EXPECT_EQ(level.RelPoints(), (std::vector<TFloatPoint>{{0, 0}, {1, 0}}));
  EXPECT_FLOAT_EQ(level.MarginTop(), 0.5f);
  EXPECT_EQ(level.GetPoint(2), (TFloatPoint{0, 0}));
  EXPECT_EQ(level.GetArrow(2), nullptr);

  TdtpLineShape l;
  // Dragged up and to the left: the line starts where the drag began.
  l.SetBoundsRect({60, 30, 10, 20});
  EXPECT_EQ(l.GetPoint(0), (TFloatPoint{60, 30}));
  EXPECT_EQ(l.GetPoint(1), (TFloatPoint{10, 20}));

  // A quarter turn counter-clockwise about the frame's top-left corner.
  TdtpLineShape t;
  Horizontal(t, asNoArrow, asArrow);
  t.SetDocAngle(90);
  EXPECT_FLOAT_EQ(t.DocAngle(), 0);
  EXPECT_NEAR(t.GetPoint(0).X, 10, 1e-4);
  EXPECT_NEAR(t.GetPoint(0).Y, 20, 1e-4);
  EXPECT_NEAR(t.GetPoint(1).X, 10, 1e-4);
  EXPECT_NEAR(t.GetPoint(1).Y, -30, 1e-4);
  EXPECT_NEAR(t.DocTop(), -30, 1e-4);
  EXPECT_NEAR(t.DocWidth(), 1, 1e-4);
  EXPECT_NEAR(t.DocHeight(), 50, 1e-4);
}

// Random drags, turns, frame and width changes, each undone in reverse:
// frame, points and width come back (points within float rounding, as
// they are replayed through the frame).
TEST_F(LineShape, RandomChangesUndoneInReverse) {
  using State = std::array<float, 9>;  // frame, width, both points
  FakeDocument doc;
  TdtpLineShape l;
  l.SetDocument(&doc);
  auto snapshot = [&] {
    return State{l.DocLeft(), l.DocTop(),       l.DocWidth(),     l.DocHeight(),   l.LineWidth(),
                 l.GetPoint(0).X, l.GetPoint(0).Y, l.GetPoint(1).X, l.GetPoint(1).Y};
  };
  std::mt19937 rng(77);
  std::uniform_real_distribution<float> pos(-40, 40), size(0.5f, 30), angle(-360, 360);
  doc.ClearUndo();
  std::vector<State> states;
  for (int step = 0; step < 80; ++step) {
    states.push_back(snapshot());
    switch (rng() % 5) {
      case 0: l.SetPoint(0, {pos(rng), pos(rng)}); break;
      case 1: l.SetPoint(1, {pos(rng), pos(rng)}); break;
      case 2: l.SetDocAngle(angle(rng)); break;
      case 3: l.SetDocBounds(pos(rng), pos(rng), size(rng), size(rng)); break;
      default: l.SetLineWidth(size(rng) / 10); break;
    }
    if (doc.UndoGroupCount() < static_cast<int>(states.size())) states.pop_back();
  }
  ASSERT_GT(states.size(), 60u);
  auto near = [](float a, float b) { return std::abs(a - b) <= 1e-4f * std::max(1.0f, std::abs(b)); };
  while (!states.empty()) {
    ASSERT_TRUE(doc.Undo(l));
    const State now = snapshot(), was = states.back();
    for (std::size_t i = 0; i < now.size(); ++i)
      ASSERT_TRUE(i == 4 ? now[i] == was[i] : near(now[i], was[i])) << states.size() << " value " << i;
    EXPECT_EQ(l.DocAngle(), 0);
    states.pop_back();
  }
  EXPECT_EQ(doc.Refused, 0);
  // The replays recorded their inverses for redo.
  EXPECT_FALSE(doc.RedoList().empty());
  EXPECT_THROW(l.SetPropertyText("Points", "1;2;3"), EConvertError);
  l.SetDocument(nullptr);
}

// One turn, undone once: both ends come back exactly, also where the turn
// moves each end to another corner of the frame. Undoing the frame alone
// would leave the ends on the turned corners.
TEST_F(LineShape, ATurnUndoesToItsExactPoints) {
  for (const float angle : {90.0f, 180.0f, -90.0f, 30.0f}) {
    FakeDocument doc;
    TdtpLineShape l;
    l.SetDocument(&doc);
    l.SetPoint(0, {10, 20});
    l.SetPoint(1, {60, 40});
    doc.ClearUndo();
    l.SetDocAngle(angle);
    ASSERT_NE(l.GetPoint(1), (TFloatPoint{60, 40})) << angle;
    ASSERT_TRUE(doc.Undo(l)) << angle;
    EXPECT_EQ(l.GetPoint(0), (TFloatPoint{10, 20})) << angle;
    EXPECT_EQ(l.GetPoint(1), (TFloatPoint{60, 40})) << angle;
    EXPECT_EQ(doc.UndoGroupCount(), 0) << angle;
    l.SetDocument(nullptr);
  }
}

constexpr const char* kLineGolden =
    "<shape><Arrow0><Style>Diamond</Style><Width>5</Width><Length>7</Length></Arrow0>"
    "<Arrow1><Style>StealthArrow</Style><Width>5</Width><Length>7</Length></Arrow1>"
    "<Points><Point><X>10</X><Y>20</Y></Point><Point><X>60</X><Y>20</Y></Point></Points>"
    "<LineWidth>1</LineWidth>"
    "<ClassName>TdtpLineShape</ClassName>"
    "<Anchors><default>True</default><LeftLock>True</LeftLock><TopLock>True</TopLock></Anchors>"
    "<CurbLeft>.25</CurbLeft><CurbTop>.25</CurbTop><CurbRight>.25</CurbRight><CurbBottom>.25</CurbBottom>"
    "<DocLeft>10</DocLeft><DocTop>20</DocTop><DocHeight>1</DocHeight><DocWidth>50</DocWidth>"
    "<OutlineWidth>.5</OutlineWidth><FillAlpha>255</FillAlpha><UseFill>True</UseFill></shape>";

TEST_F(LineShape, XmlWritesItsOwnElementsFirst) {
  TdtpLineShape l;
  Horizontal(l, asDiamond, asStealthArrow);
  EXPECT_EQ(ShapeXml(l), kLineGolden);
  TdtpLineShape copy;
  LoadShapeXml(copy, kLineGolden);
  EXPECT_EQ(ShapeXml(copy), kLineGolden);
  EXPECT_EQ(copy.GetArrow(0)->Style(), asDiamond);
  EXPECT_EQ(copy.GetArrow(1)->Style(), asStealthArrow);
  EXPECT_EQ(copy.Points(), l.Points());

  // An unknown style name leaves the style; an absent arrow keeps its
  // values, a present one reads its sizes with default 0.
  TdtpLineShape odd;
  odd.GetArrow(0)->SetStyle(asOval);
  LoadShapeXml(odd, "<shape><Arrow0><Style>arrow</Style></Arrow0><ClassName>TdtpLineShape</ClassName></shape>");
  EXPECT_EQ(odd.GetArrow(0)->Style(), asOval);
  EXPECT_EQ(odd.GetArrow(0)->Width(), 0);
  EXPECT_EQ(odd.GetArrow(1)->Width(), 5);
  EXPECT_EQ(odd.LineWidth(), 0);

  // A style number past the table, from a caller, is ignored as well: the
  // line keeps a style it can name when written.
  odd.GetArrow(1)->SetStyle(asDiamond);
  for (const int past : {7, 8, 255}) {
    odd.GetArrow(1)->SetStyle(static_cast<std::uint8_t>(past));
    EXPECT_EQ(odd.GetArrow(1)->Style(), asDiamond) << past;
  }
  EXPECT_NE(ShapeXml(odd).find("<Arrow1><Style>Diamond</Style>"), std::string::npos);
}

TEST_F(LineShape, FilesWithTooFewPointsStillHaveBothEnds) {
  // No points: the frame's corners.
  TdtpLineShape none;
  LoadShapeXml(none, "<shape><ClassName>TdtpLineShape</ClassName><DocLeft>5</DocLeft><DocWidth>10</DocWidth>"
                     "<DocHeight>4</DocHeight><LineWidth>1</LineWidth></shape>");
  ASSERT_EQ(none.PointCount(), 2);
  EXPECT_EQ(none.GetPoint(0), (TFloatPoint{5, 0}));
  EXPECT_EQ(none.GetPoint(1), (TFloatPoint{15, 4}));
  none.SetDocAngle(45);
  none.SetPoint(1, {1, 1});
  EXPECT_EQ(none.GetPoint(1), (TFloatPoint{1, 1}));

  // One point: the second at the far corner of its 1 mm frame.
  TdtpLineShape one;
  LoadShapeXml(one, "<shape><Points><Point><X>3</X><Y>4</Y></Point></Points>"
                    "<ClassName>TdtpLineShape</ClassName><DocHeight>1</DocHeight><DocWidth>1</DocWidth>"
                    "<LineWidth>1</LineWidth></shape>");
  ASSERT_EQ(one.PointCount(), 2);
  EXPECT_EQ(one.GetPoint(0), (TFloatPoint{3, 4}));
  EXPECT_EQ(one.GetPoint(1), (TFloatPoint{4, 5}));
  EXPECT_FALSE(one.Points()[0].empty());

  // Extra points are kept at (0, 0) relative and do not build the outline.
  TdtpLineShape three;
  LoadShapeXml(three, "<shape><Points><Point><X>0</X></Point><Point><X>10</X><Y>10</Y></Point>"
                      "<Point><X>99</X><Y>99</Y></Point></Points><ClassName>TdtpLineShape</ClassName></shape>");
  ASSERT_EQ(three.PointCount(), 3);
  EXPECT_EQ(three.RelPoints()[2], (TFloatPoint{0, 0}));
}

// ---- Handles -----------------------------------------------------------------------------

// A line from (10, 20) to (60, 40) on a document of 2 px/mm.
class LineHandles : public LineShape {
 protected:
  void SetUp() override {
    // The drag outline paints with QPainter.
    test::EnsureApplication();
    doc.ScreenDpmValue = 2;
    line.SetDocument(&doc);
    line.SetPoint(0, {10, 20});
    line.SetPoint(1, {60, 40});
    line.SetSelected(true);
    doc.ClearUndo();
  }
  void TearDown() override { line.SetDocument(nullptr); }

  // Where handle i shows, in document mm.
  TFloatPoint HandleAt(int i) {
    line.UpdateHandles();
    const TdtpHandle* h = line.HandlePainter()->GetHandle(i);
    return h ? TFloatPoint{h->Position.X + line.DocLeft(), h->Position.Y + line.DocTop()} : TFloatPoint{-1, -1};
  }
  // Grabs the handle under the document point and drags it by delta mm.
  void Drag(TFloatPoint from, TFloatPoint delta) {
    const TPoint screen = RoundPoint({from.X * 2, from.Y * 2});
    ASSERT_EQ(line.HandleAtPoint(screen), hcPoint);
    TAffineMatrix matrix;
    line.HandleDrag(delta, false, hcPoint, matrix);
    line.ApplyDrag();
  }

  FakeDocument doc;
  TdtpLineShape line;
};

TEST_F(LineHandles, OneHandlePerPointJoinedByALine) {
  EXPECT_EQ(HandleAt(0), (TFloatPoint{10, 20}));
  EXPECT_EQ(HandleAt(1), (TFloatPoint{60, 40}));
  const TdtpHandlePainter& painter = *line.HandlePainter();
  ASSERT_EQ(painter.HandleCount(), 2);
  ASSERT_EQ(painter.DragLineCount(), 1);
  EXPECT_EQ(painter.GetDragLine(0)->HandleB, 1);

  // Mirrored the image shows the points reflected left to right, flipped
  // top to bottom; the handles sit on them.
  line.SetMirrored(true);
  EXPECT_EQ(HandleAt(0), (TFloatPoint{60, 20}));
  EXPECT_EQ(HandleAt(1), (TFloatPoint{10, 40}));
  line.SetFlipped(true);
  EXPECT_EQ(HandleAt(0), (TFloatPoint{60, 40}));
  EXPECT_EQ(HandleAt(1), (TFloatPoint{10, 20}));
}

TEST_F(LineHandles, DraggedPointLandsUnderTheMouseAndOneUndoBringsItBack) {
  Drag({60, 40}, {5, -3});
  EXPECT_EQ(line.GetPoint(0), (TFloatPoint{10, 20}));
  EXPECT_EQ(line.GetPoint(1), (TFloatPoint{65, 37}));
  EXPECT_EQ(line.GetDocRect().Right, 65);
  // The drag is over: a second commit changes nothing.
  line.ApplyDrag();
  EXPECT_EQ(line.GetPoint(1), (TFloatPoint{65, 37}));
  EXPECT_EQ(doc.UndoGroupCount(), 1);
  ASSERT_TRUE(doc.Undo(line));
  EXPECT_EQ(line.GetPoint(0), (TFloatPoint{10, 20}));
  EXPECT_EQ(line.GetPoint(1), (TFloatPoint{60, 40}));

  // A body drag still moves the whole line.
  const TPoint middle = RoundPoint({35 * 2, 30 * 2});
  EXPECT_TRUE(line.HitTest(middle));
  TAffineMatrix matrix;
  line.HandleDrag({1, 2}, false, hcBody, matrix);
  line.ApplyDrag();
  EXPECT_EQ(line.GetPoint(0), (TFloatPoint{11, 22}));
  EXPECT_EQ(line.GetPoint(1), (TFloatPoint{61, 42}));
}

TEST_F(LineHandles, MirroredAndFlippedDragsMoveTheShownEnd) {
  // Each reflection: the end grabbed where it shows follows the mouse,
  // the other end stays where it shows. Level ends too, whose frame
  // reaches 1 mm beyond them.
  struct Case {
    TFloatPoint P0, P1;
    bool Mirrored, Flipped;
    TFloatPoint Delta;
  };
  for (const Case& c : {Case{{10, 20}, {60, 40}, true, false, {5, -3}}, Case{{10, 20}, {60, 40}, false, true, {5, -3}},
                        Case{{10, 20}, {60, 40}, true, true, {5, -3}}, Case{{10, 20}, {60, 20}, false, true, {5, 0}},
                        Case{{10, 20}, {10, 50}, true, false, {0, 4}}, Case{{10, 20}, {60, 20}, true, true, {-7, 0}}}) {
    line.SetMirrored(false);
    line.SetFlipped(false);
    line.SetPoint(0, c.P0);
    line.SetPoint(1, c.P1);
    line.SetMirrored(c.Mirrored);
    line.SetFlipped(c.Flipped);
    const TFloatPoint shown0 = HandleAt(0), shown1 = HandleAt(1);
    doc.ClearUndo();
    Drag(shown1, c.Delta);
    const std::string what = std::to_string(c.P1.Y) + (c.Mirrored ? " mirrored" : "") + (c.Flipped ? " flipped" : "");
    const TFloatPoint now0 = HandleAt(0), now1 = HandleAt(1);
    EXPECT_NEAR(now1.X, shown1.X + c.Delta.X, 1e-4) << what;
    EXPECT_NEAR(now1.Y, shown1.Y + c.Delta.Y, 1e-4) << what;
    EXPECT_NEAR(now0.X, shown0.X, 1e-4) << what;
    EXPECT_NEAR(now0.Y, shown0.Y, 1e-4) << what;
    // Both points come back with one undo.
    ASSERT_TRUE(doc.Undo(line));
    EXPECT_EQ(line.GetPoint(0), c.P0) << what;
    EXPECT_EQ(line.GetPoint(1), c.P1) << what;
  }
}

TEST_F(LineHandles, BodyHitsFollowTheOutlineNotTheFrame) {
  // Horizontal from (0, 10) to (40, 10), 1 mm thick: the frame is
  // 10..11 mm high, the outline 9.5..10.5.
  line.SetPoint(0, {0, 10});
  line.SetPoint(1, {40, 10});
  line.SetLineWidth(1);
  doc.HitPoints = {{0, 0}};
  auto hit = [&](float x, float y) { return line.HitTest({static_cast<std::int32_t>(x * 2), static_cast<std::int32_t>(y * 2)}); };
  EXPECT_TRUE(hit(20, 10.1f));
  EXPECT_TRUE(hit(20, 9.6f));
  EXPECT_FALSE(hit(20, 10.75f));
  EXPECT_FALSE(hit(41, 10.1f));
}

// Read straight from XML in a document that records undo: the values are
// the file's, so nothing is recorded.
TEST_F(LineHandles, ReadersRecordNothing) {
  const std::string lineXml = ShapeXml(line);
  TdtpPolygonShape polygon;
  polygon.SetStorePoints(true);
  polygon.AddPoint({3, 4});
  polygon.SetOutlineWidth(2);
  const std::string polygonXml = ShapeXml(polygon);
  TdtpSnapBitmap frame;
  frame.SetDocBounds(5, 5, 30, 20);
  const std::string frameXml = ShapeXml(frame);

  TdtpLineShape line2;
  TdtpPolygonShape polygon2;
  TdtpSnapBitmap frame2;
  for (TdtpShape* s : std::initializer_list<TdtpShape*>{&line2, &polygon2, &frame2}) s->SetDocument(&doc);
  doc.ClearUndo();
  LoadShapeXml(line2, lineXml);
  LoadShapeXml(polygon2, polygonXml);
  LoadShapeXml(frame2, frameXml);
  EXPECT_TRUE(doc.UndoList().empty());
  EXPECT_EQ(ShapeXml(line2), lineXml);
  EXPECT_EQ(ShapeXml(polygon2), polygonXml);
  // The user's next change is recorded again.
  line2.SetLineWidth(3);
  EXPECT_EQ(doc.UndoList().size(), 1u);
  for (TdtpShape* s : std::initializer_list<TdtpShape*>{&line2, &polygon2, &frame2}) s->SetDocument(nullptr);
}

TEST_F(LineHandles, NewLineOutlineIsADottedXorDiagonal) {
  QImage image(60, 40, QImage::Format_RGB32);
  image.fill(0xFF808080u);
  {
    QPainter painter(&image);
    line.DrawFocusRect(painter, {10, 5, 40, 35}, 0x000000);
  }
  int flipped = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFFu) == 0x808080u) continue;
      // Only the gaps of the dots flip; every flipped pixel is on the
      // diagonal from the drag's start to the mouse.
      EXPECT_EQ(image.pixel(x, y) & 0xFFFFFFu, 0x7F7F7Fu) << x << "," << y;
      EXPECT_LE(std::abs((x - 10) - (y - 5)), 1) << x << "," << y;
      EXPECT_TRUE(x >= 10 && x < 40) << x << "," << y;
      ++flipped;
    }
  EXPECT_GT(flipped, 8);
  EXPECT_LT(flipped, 25);
}

}  // namespace
}  // namespace kdl

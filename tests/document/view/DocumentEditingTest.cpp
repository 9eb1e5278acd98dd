// Editing the page as a user does: QTest mouse and key events on an
// offscreen document, frames compared with the arithmetic of each gesture
// (4 px per mm, so every pixel step is an exact quarter millimetre).
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "ViewTesting.h"
#include "document/kinds/FreehandShape.h"
#include "document/kinds/LineShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/shapes/HandlePainter.h"
#include "document/shapes/PolygonPoints.h"
#include "support/ManualTimers.h"

namespace kdl {
namespace {

// Records what the editor hands to the clipboard and the window system.
class EditingDocument : public TdtpDocument {
 public:
  using TdtpDocument::TdtpDocument;
  int DragDrops = 0, Copies = 0, Pastes = 0, Cuts = 0;
  void BeginDragDrop() override { ++DragDrops; }
  void CopySelection() override { ++Copies; }
  void Paste() override { ++Pastes; }
  void CutSelection() override { ++Cuts; }
};

class DocumentEditingTest : public test::ShownDocumentTest<EditingDocument> {
 protected:
  void SetUp() override {
    ShownDocumentTest::SetUp();
    ExactScale();
    doc_->ClearUndo();
  }

  TdtpRectangleShape& AddRect(float left, float top, float width, float height, float angle = 0) {
    auto shape = std::make_unique<TdtpRectangleShape>();
    shape->SetDocBoundsAngle(left, top, width, height, angle);
    return test::AddUnrecorded(*doc_, std::move(shape));
  }
  int UndoGroups() { return test::UndoGroups(*doc_); }
};

TEST_F(DocumentEditingTest, ClickSelectsWithoutUndoAndSmallMovesStayClicks) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30);
  const QPoint p = At(a, 20, 15);
  Stroke(p, QPoint(2, 0));
  EXPECT_TRUE(a.Selected());
  EXPECT_EQ(doc_->FocusShape(), &a);
  EXPECT_EQ(a.DocLeft(), 20.0f);
  EXPECT_EQ(doc_->UndoCount(), 0);
  EXPECT_EQ(doc_->DragState(), dsIdle);

  // 3 px diagonally: 18 px squared is past the threshold; 0.75 mm each way.
  Press(p);
  Move(p + QPoint(3, 3));
  EXPECT_EQ(doc_->DragState(), dsDragging);
  EXPECT_TRUE(doc_->OutlinesShown());
  Release(p + QPoint(3, 3));
  EXPECT_FLOAT_EQ(a.DocLeft(), 20.75f);
  EXPECT_FLOAT_EQ(a.DocTop(), 20.75f);
  EXPECT_EQ(a.DocWidth(), 40.0f);
  EXPECT_EQ(UndoGroups(), 1);
}

TEST_F(DocumentEditingTest, MultiMoveShiftLockAndCancel) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30);
  TdtpRectangleShape& b = AddRect(80, 20, 20, 20);
  Click(At(a, 10, 10));
  Click(At(b, 10, 10), Qt::ShiftModifier);
  ASSERT_TRUE(a.Selected() && b.Selected());

  // Shift keeps the larger component (12 px = 3 mm across; 4 px down lost).
  // (Shift at the press would toggle the selection.)
  const QPoint from = At(a, 10, 10);
  Press(from);
  Move(from + QPoint(6, 2), Qt::ShiftModifier);
  Move(from + QPoint(12, 4), Qt::ShiftModifier);
  Release(from + QPoint(12, 4), Qt::ShiftModifier);
  EXPECT_FLOAT_EQ(a.DocLeft(), 23);
  EXPECT_FLOAT_EQ(a.DocTop(), 20);
  EXPECT_FLOAT_EQ(b.DocLeft(), 83);
  EXPECT_FLOAT_EQ(b.DocTop(), 20);
  EXPECT_EQ(UndoGroups(), 1);

  // Escape mid-drag leaves everything where it was.
  const QPoint from2 = At(a, 10, 10);
  Press(from2);
  Move(from2 + QPoint(20, 20));
  ASSERT_EQ(doc_->DragState(), dsDragging);
  QTest::keyClick(doc_, Qt::Key_Escape);
  EXPECT_EQ(doc_->DragState(), dsIdle);
  EXPECT_FALSE(doc_->OutlinesShown());
  Release(from2 + QPoint(20, 20));
  EXPECT_FLOAT_EQ(a.DocLeft(), 23);
  EXPECT_EQ(UndoGroups(), 1);
}

TEST_F(DocumentEditingTest, HandleDragResizesOnlyTheGrabbedShape) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30);
  TdtpRectangleShape& b = AddRect(80, 20, 20, 20);
  Click(At(b, 10, 10));
  Move(At(b, 20, 20), {}, false);
  // Clicking a deselects b: only selected shapes follow the handle.
  Click(At(a, 10, 10));
  const QPoint corner = At(a, 40, 30);
  TdtpShape* hit = nullptr;
  ASSERT_EQ(doc_->HitTest({corner.x(), corner.y()}, hit), 6);  // bottom-right
  EXPECT_EQ(hit, &a);
  Drag(corner, corner + QPoint(8, 4));
  EXPECT_FLOAT_EQ(a.DocLeft(), 20);
  EXPECT_FLOAT_EQ(a.DocWidth(), 42);
  EXPECT_FLOAT_EQ(a.DocHeight(), 31);
  EXPECT_FLOAT_EQ(b.DocWidth(), 20);
  EXPECT_EQ(UndoGroups(), 1);
}

TEST_F(DocumentEditingTest, HandleCursorsTurnWithTheShape) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30, 22);
  EXPECT_EQ(doc_->GetHandleCursor(&a, 2), crSizeNWSE);
  a.SetDocAngle(23);
  EXPECT_EQ(doc_->GetHandleCursor(&a, 2), crSizeWE);
  a.SetDocAngle(0);
  EXPECT_EQ(doc_->GetHandleCursor(&a, 3), crSizeWE);
  EXPECT_EQ(doc_->GetHandleCursor(&a, 4), crSizeNESW);
  EXPECT_EQ(doc_->GetHandleCursor(&a, 5), crSizeNS);
  // 90 degrees: two steps (round(112.5) = 112), 9 wraps to 2 on the way:
  // the top handle now pulls sideways.
  a.SetDocAngle(90);
  EXPECT_EQ(doc_->GetHandleCursor(&a, 9), crSizeWE);
  EXPECT_EQ(doc_->GetHandleCursor(&a, 1), doc_->Cursor());
}

TEST_F(DocumentEditingTest, DraggingOutOfTheWindowEndsUnapplied) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30);
  const QPoint from = At(a, 10, 10);
  Press(from);
  Move(from + QPoint(10, 0));
  ASSERT_EQ(doc_->DragState(), dsDragging);
  Move({-5, from.y()});
  EXPECT_EQ(doc_->DragState(), dsIdle);
  EXPECT_EQ(doc_->DragDrops, 1);
  Release({-5, from.y()});
  EXPECT_EQ(a.DocLeft(), 20.0f);
  EXPECT_EQ(doc_->UndoCount(), 0);
}

// The outline a drag shows, as the user sees it: the viewport grabbed
// between mouse moves and compared with the view at rest. Where the outline
// should stand follows from the mouse's pixel offsets alone.
class DragOutlineTest : public DocumentEditingTest {
 protected:
  QImage Grab() { return View()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // The share of pixels within `spread` px of the segment a-b (its ends
  // left out, where handles at rest sit) that differ from the rest view.
  static double Changed(const QImage& image, const QImage& rest, QPoint a, QPoint b,
                        int spread = 0) {
    const int steps = std::max(std::abs(b.x() - a.x()), std::abs(b.y() - a.y()));
    const bool across = std::abs(b.x() - a.x()) >= std::abs(b.y() - a.y());
    int changed = 0, total = 0;
    for (int i = 8; i <= steps - 8; ++i) {
      const double t = static_cast<double>(i) / steps;
      const int x = static_cast<int>(std::lround(a.x() + t * (b.x() - a.x())));
      const int y = static_cast<int>(std::lround(a.y() + t * (b.y() - a.y())));
      bool differs = false;
      for (int d = -spread; d <= spread; ++d) {
        const QPoint p = across ? QPoint(x, y + d) : QPoint(x + d, y);
        if (image.rect().contains(p) && image.pixel(p) != rest.pixel(p)) differs = true;
      }
      changed += differs ? 1 : 0;
      ++total;
    }
    return total ? static_cast<double>(changed) / total : 0;
  }
  // Every side of the quadrilateral at least half marked (the pen is
  // dotted), or none of it.
  static void ExpectFrame(const QImage& image, const QImage& rest, const std::vector<QPoint>& c,
                          bool shown, const char* what, int spread = 0) {
    for (std::size_t i = 0; i < c.size(); ++i) {
      const double share = Changed(image, rest, c[i], c[(i + 1) % c.size()], spread);
      if (shown) {
        EXPECT_GE(share, 0.4) << what << ", side " << i;
      } else {
        EXPECT_EQ(share, 0.0) << what << ", side " << i;
      }
    }
  }
  void SaveOnFailure(const QImage& image, const char* name) {
    if (HasFailure() || std::getenv("KDL_KEEP_SCREENSHOTS"))
      image.save(QString::fromLatin1(name) + QStringLiteral(".png"));
  }
  std::vector<QPoint> Frame(const TdtpShape& s, float l, float t, float r, float b, QPoint by = {}) {
    return {At(s, l, t) + by, At(s, r, t) + by, At(s, r, b) + by, At(s, l, b) + by};
  }
};

TEST_F(DragOutlineTest, MoveOutlineFollowsEveryMoveAndLeavesNothingBehind) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30);
  const QPoint from = At(a, 10, 10);
  Click(from);
  const QImage rest = Grab();

  Press(from);
  Move(from + QPoint(20, 12));
  ASSERT_EQ(doc_->DragState(), dsDragging);
  const QImage first = Grab();
  ExpectFrame(first, rest, Frame(a, 0, 0, 40, 30, {20, 12}), true, "first move");
  Move(from + QPoint(48, 36));
  const QImage second = Grab();
  ExpectFrame(second, rest, Frame(a, 0, 0, 40, 30, {48, 36}), true, "second move");
  ExpectFrame(second, rest, Frame(a, 0, 0, 40, 30, {20, 12}), false, "previous place");
  SaveOnFailure(second, "drag-outline-move");

  // Released: the shape stands where the outline was.
  Release(from + QPoint(48, 36));
  EXPECT_FLOAT_EQ(a.DocLeft(), 32);
  EXPECT_FLOAT_EQ(a.DocTop(), 29);
}

TEST_F(DragOutlineTest, ResizeRotateAndCopyDragShowTheirOutlines) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30);
  Click(At(a, 10, 10));
  const QImage rest = Grab();

  // The bottom-right handle by 16 px and 8 px: 4 mm wider, 2 mm taller.
  const QPoint corner = At(a, 40, 30);
  Press(corner);
  Move(corner + QPoint(16, 8));
  ASSERT_EQ(doc_->HitCode(), 6);
  ExpectFrame(Grab(), rest, Frame(a, 0, 0, 44, 32), true, "resize");
  QTest::keyClick(doc_, Qt::Key_Escape);
  Release(corner + QPoint(16, 8));
  ASSERT_FLOAT_EQ(a.DocWidth(), 40);

  // The rotation handle 20 mm above the centre, taken a quarter turn round
  // to its right: the outline is the frame turned about its centre, 30 mm
  // wide and 40 mm tall.
  const QPoint handle = At(a, 20, -5);
  TdtpShape* hit = nullptr;
  ASSERT_EQ(doc_->HitTest({handle.x(), handle.y()}, hit), 10);
  Press(handle);
  Move(At(a, 34, 1));
  Move(At(a, 40, 15));
  const QImage turned = Grab();
  ExpectFrame(turned, rest, Frame(a, 5, -5, 35, 35), true, "rotate", 1);
  SaveOnFailure(turned, "drag-outline-rotate");
  QTest::keyClick(doc_, Qt::Key_Escape);
  Release(At(a, 40, 15));
  ASSERT_FLOAT_EQ(a.DocAngle(), 0);

  // Ctrl over a body drag copies: the outline moves all the same.
  const QPoint from = At(a, 10, 10);
  Press(from);
  Move(from + QPoint(24, 0), Qt::ControlModifier);
  ASSERT_EQ(doc_->DragState(), dsDragging);
  ExpectFrame(Grab(), rest, Frame(a, 0, 0, 40, 30, {24, 0}), true, "copy-drag");
  QTest::keyClick(doc_, Qt::Key_Escape);
  Release(from + QPoint(24, 0), Qt::ControlModifier);
}

TEST_F(DocumentEditingTest, CopyDragLeavesTheOriginalsAndOneUndoTakesTheCopiesBack) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30);
  TdtpRectangleShape& b = AddRect(80, 20, 20, 20);
  Click(At(a, 10, 10));
  Click(At(b, 10, 10), Qt::ShiftModifier);
  ASSERT_TRUE(a.Selected() && b.Selected());
  doc_->ClearUndo();
  // 12 px right and 8 down with Ctrl: copies 3 mm right and 2 mm down.
  const QPoint from = At(a, 10, 10);
  Press(from);
  Move(from + QPoint(6, 4), Qt::ControlModifier);
  Move(from + QPoint(12, 8), Qt::ControlModifier);
  Release(from + QPoint(12, 8), Qt::ControlModifier);
  ASSERT_EQ(doc_->ShapeCount(), 4);
  EXPECT_FLOAT_EQ(a.DocLeft(), 20);
  EXPECT_FLOAT_EQ(b.DocLeft(), 80);
  std::vector<std::pair<float, float>> copies;
  for (int i = 2; i < 4; ++i) copies.emplace_back(doc_->GetShape(i)->DocLeft(), doc_->GetShape(i)->DocTop());
  std::sort(copies.begin(), copies.end());
  EXPECT_EQ(copies, (std::vector<std::pair<float, float>>{{23, 22}, {83, 22}}));
  EXPECT_EQ(UndoGroups(), 1);
  doc_->Undo();
  ASSERT_EQ(doc_->ShapeCount(), 2);
  EXPECT_EQ(doc_->GetShape(0), &a);
  EXPECT_EQ(doc_->GetShape(1), &b);
  EXPECT_EQ(doc_->UndoCount(), 0);
}

TEST_F(DocumentEditingTest, OnlyTheGrabbedShapeFollowsAHandle) {
  const auto addLine = [&](float y) -> TdtpLineShape& {
    auto line = std::make_unique<TdtpLineShape>();
    line->SetPoint(0, {20, y});
    line->SetPoint(1, {60, y + 10});
    return test::AddUnrecorded(*doc_, std::move(line));
  };
  TdtpLineShape& a = addLine(20);
  TdtpLineShape& b = addLine(60);
  const auto pointAt = [](TdtpLineShape& line, int i) {
    line.UpdateHandles();
    const TFloatPoint p = line.HandlePainter()->GetHandle(i)->Position;
    return At(line, p.X, p.Y);
  };
  Click(At(a, 20, 5));
  Click(At(b, 20, 5), Qt::ShiftModifier);
  // Shift on a's first point takes a out of the selection, Shift on its
  // body puts it back: a still remembers the point it was last asked for.
  Click(pointAt(a, 0), Qt::ShiftModifier);
  ASSERT_FALSE(a.Selected());
  Click(At(a, 20, 5), Qt::ShiftModifier);
  ASSERT_TRUE(a.Selected() && b.Selected());
  // Shift on b's last point takes b out and drags: a's points stay, for
  // nobody grabbed a handle of a.
  const QPoint end = pointAt(b, 1);
  Drag(end, end + QPoint(8, 4), Qt::ShiftModifier);
  EXPECT_EQ(a.GetPoint(0), (TFloatPoint{20, 20}));
  EXPECT_EQ(a.GetPoint(1), (TFloatPoint{60, 30}));
  EXPECT_EQ(b.GetPoint(1), (TFloatPoint{60, 70}));
}

TEST_F(DocumentEditingTest, RubberBandSelectsWhatItMeets) {
  TdtpRectangleShape& a = AddRect(20, 20, 10, 10);
  TdtpRectangleShape& b = AddRect(50, 20, 10, 10);
  TdtpRectangleShape& c = AddRect(20, 60, 10, 10);
  const QPoint from = At(a, -5, -5);
  const QPoint to = At(b, 5, 5);
  Press(from);
  EXPECT_EQ(doc_->DragState(), dsRubberBand);
  Move(to);
  EXPECT_TRUE(doc_->RubberBandShown());
  const TRect band = doc_->RubberBandRect();
  EXPECT_EQ(band.Left, from.x());
  EXPECT_EQ(band.Bottom, to.y());
  Release(to);
  EXPECT_TRUE(a.Selected());
  EXPECT_TRUE(b.Selected());
  EXPECT_FALSE(c.Selected());
  EXPECT_EQ(doc_->FocusShape(), &a);
  EXPECT_EQ(doc_->DragState(), dsIdle);
  EXPECT_EQ(doc_->UndoCount(), 0);
  // A click in empty space clears the selection.
  Click(At(c, 20, 20));
  EXPECT_FALSE(a.Selected() || b.Selected());
}

TEST_F(DocumentEditingTest, ClipboardKeysReachTheDocument) {
  AddRect(20, 20, 10, 10);
  QTest::keyClick(doc_, Qt::Key_C, Qt::ControlModifier);
  QTest::keyClick(doc_, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(doc_, Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(doc_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(doc_->Copies, 1);
  EXPECT_EQ(doc_->Pastes, 2);
  EXPECT_EQ(doc_->Cuts, 1);
  doc_->SetAllowKeyInput(false);
  QTest::keyClick(doc_, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(doc_->Copies, 1);
}

TEST_F(DocumentEditingTest, HotzoneRampsOnlyForARestingMouse) {
  test::ManualTimers timers;
  // Room for a second of scrolling to the right.
  doc_->SetPageWidth(3000);
  doc_->PageSizeChanged();
  doc_->SetHotzoneScrolling(hzsAlways);
  ASSERT_NE(doc_->HotzoneTimer(), nullptr);
  const int w = doc_->viewport()->width();
  const int h = doc_->viewport()->height();
  // Far from the zone, then a fast jump into the right edge's zone.
  Move({w / 2, h / 2}, {}, false);
  timers.Advance(20);
  Move({w - 2, h / 2}, {}, false);
  EXPECT_FALSE(doc_->HotzoneRunning());
  const float x0 = doc_->ScrollX();
  // Resting: the next step starts the scroll with a ramp of 10 ms.
  timers.Advance(100);
  Move({w - 2, h / 2}, {}, false);
  ASSERT_TRUE(doc_->HotzoneRunning());
  EXPECT_EQ(doc_->HotzoneRamp(), 10);
  // Then every tick adds its elapsed time; after 700 ms at full speed the
  // step is elapsed * f^2 * 2 px with f = 1 - 2 / (0.07 w).
  timers.Advance(1000);
  EXPECT_GE(doc_->HotzoneRamp(), 700);
  const float f = 1 - 2.0f / (0.07f * static_cast<float>(w));
  const float before = doc_->ScrollX();
  timers.Advance(50);
  EXPECT_NEAR(doc_->ScrollX() - before, std::lround(50 * f * f * 2), 1.0f);
  EXPECT_GT(doc_->ScrollX(), x0);
  doc_->SetHotzoneScrolling(hzsNoScroll);
  EXPECT_EQ(doc_->HotzoneTimer(), nullptr);
}

TEST_F(DocumentEditingTest, HintsShowAndHideThroughTheirTicks) {
  TdtpRectangleShape& a = AddRect(20, 20, 40, 30);
  a.SetHint("A rectangle");
  a.SetShowHint(true);
  Move(At(a, 10, 10), {}, false);
  ASSERT_NE(doc_->HintTimer(), nullptr);
  EXPECT_TRUE(doc_->HintTimer()->Enabled());
  EXPECT_EQ(doc_->HintTimer()->Interval(), 500u);
  doc_->HintTick();
  ASSERT_NE(doc_->HintWindow(), nullptr);
  EXPECT_TRUE(doc_->HintWindow()->isVisible());
  EXPECT_EQ(doc_->HintTimer()->Interval(), 2500u);
  // The hide tick frees the window from inside the timer's own tick.
  doc_->HintTimer()->Fire();
  EXPECT_EQ(doc_->HintWindow(), nullptr);
  EXPECT_FALSE(doc_->HintTimer()->Enabled());
  // Leaving the shape forgets it.
  Move({2, 2}, {}, false);
  EXPECT_EQ(doc_->HintShape(), nullptr);
}

// ---- Freehand drawing ----------------------------------------------------------------

class FreehandTest : public DocumentEditingTest {
 protected:
  TdtpFreehandShape& StartDrawing(float left = 30, float top = 30) {
    auto shape = std::make_unique<TdtpFreehandShape>();
    shape->SetDocBounds(left, top, 20, 20);
    TdtpFreehandShape& ref = test::AddUnrecorded(*doc_, std::move(shape));
    doc_->ClearUndo();
    doc_->EditShape(&ref);
    return ref;
  }
};

TEST_F(FreehandTest, StrokesStayWhereDrawnAndTheFrameEnclosesThem) {
  TdtpFreehandShape& f = StartDrawing();
  ASSERT_EQ(doc_->DragState(), dsInPlaceEdit);
  // Up and to the left of the frame, then right; the 1 px step (0.25 mm)
  // is below the 0.5 mm spacing and adds nothing.
  const QPoint a = At(f, -4, -2);
  const std::vector<QPoint> path = {a, a + QPoint(1, 0), a + QPoint(8, 0), a + QPoint(8, 12)};
  std::vector<TFloatPoint> docPoints;
  for (const QPoint& p : {path[0], path[2], path[3]})
    docPoints.push_back(f.LocalToDoc(f.ScreenToLocal({float(p.x()), float(p.y())})));
  Press(path[0]);
  for (std::size_t i = 1; i < path.size(); ++i) Move(path[i]);
  Release(path.back());
  ASSERT_EQ(f.Points().size(), 2u);  // the stroke and a fresh contour
  ASSERT_EQ(f.Points()[0].size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const TFloatPoint d = f.LocalToDoc(f.Points()[0][i]);
    EXPECT_NEAR(d.X, docPoints[i].X, 1e-3);
    EXPECT_NEAR(d.Y, docPoints[i].Y, 1e-3);
  }
  // The frame is the points' bounds: 2 mm by 3 mm from (26, 28).
  EXPECT_NEAR(f.DocLeft(), 26, 1e-3);
  EXPECT_NEAR(f.DocTop(), 28, 1e-3);
  EXPECT_NEAR(f.DocWidth(), 2, 1e-3);
  EXPECT_NEAR(f.DocHeight(), 3, 1e-3);

  // Space closes and finishes; the empty trailing stroke goes.
  QTest::keyClick(doc_, Qt::Key_Space);
  EXPECT_EQ(doc_->DragState(), dsIdle);
  EXPECT_TRUE(f.IsClosed());
  EXPECT_EQ(f.Points().size(), 1u);
  // The drawing is one undo step, and the next change is its own.
  EXPECT_EQ(UndoGroups(), 1);
  f.SetOutlineWidth(2);
  EXPECT_EQ(UndoGroups(), 2);
}

TEST_F(FreehandTest, CancelledDrawingGoesAndClosesItsGroup) {
  TdtpFreehandShape& f = StartDrawing();
  int selectionChanges = 0;
  doc_->OnSelectionChanged = [&](TdtpDocument&) { ++selectionChanges; };
  const QPoint a = At(f, 2, 2);
  Stroke(a, QPoint(10, 10));
  const int before = doc_->ShapeCount();
  const int records = doc_->UndoCount();
  QTest::keyClick(doc_, Qt::Key_Escape);
  EXPECT_EQ(doc_->ShapeCount(), before - 1);
  // Taking the drawing away is no step an Undo could bring back.
  EXPECT_EQ(doc_->UndoCount(), records);
  EXPECT_EQ(doc_->DragState(), dsIdle);
  QCoreApplication::processEvents();  // frees the discarded shape
  // The group is closed: a later change starts a group of its own.
  TdtpRectangleShape& r = AddRect(10, 10, 5, 5);
  const int groups = UndoGroups();
  r.SetOutlineWidth(1);
  EXPECT_EQ(UndoGroups(), groups + 1);
  r.SetSelected(true);
  EXPECT_GT(selectionChanges, 0);
}

TEST_F(FreehandTest, LeavingEditModeFinishesTheDrawing) {
  TdtpFreehandShape& f = StartDrawing();
  const QPoint a = At(f, 2, 2);
  Stroke(a, QPoint(8, 0));
  int selectionChanges = 0;
  doc_->OnSelectionChanged = [&](TdtpDocument&) { ++selectionChanges; };
  doc_->SetMode(vmBrowse);
  EXPECT_EQ(doc_->DragState(), dsIdle);
  EXPECT_EQ(doc_->EditedShape(), nullptr);
  EXPECT_EQ(f.Points().size(), 1u);
  EXPECT_EQ(f.Points()[0].size(), 2u);
  const int groups = UndoGroups();
  f.SetOutlineWidth(3);
  EXPECT_EQ(UndoGroups(), groups + 1);
  f.SetSelected(true);
  EXPECT_GT(selectionChanges, 0);
}

TEST_F(FreehandTest, AClickAloneLeavesOneEmptyContour) {
  TdtpFreehandShape& f = StartDrawing();
  f.SetAutoRestart(false);
  const QPoint a = At(f, 2, 2);
  Press(a);
  Release(a);
  // Releasing finished the drawing; the one-point stroke is dropped but a
  // contour remains, so drawing again works.
  EXPECT_EQ(doc_->DragState(), dsIdle);
  ASSERT_EQ(f.Points().size(), 1u);
  EXPECT_TRUE(f.Points()[0].empty());
  doc_->EditShape(&f);
  Stroke(a, QPoint(0, 8));
  EXPECT_EQ(f.Points()[0].size(), 2u);
}

TEST_F(FreehandTest, TheDrawingsRecordBringsItsStrokesBackExactly) {
  TdtpFreehandShape& f = StartDrawing();
  const QPoint a = At(f, 1, 1);
  Stroke(a, QPoint(9, 5));
  QTest::keyClick(doc_, Qt::Key_Return);
  const TArrayOfArrayOfFloatPoint first = f.Points();
  // A second drawing on the same shape moves the frame and adds a stroke.
  doc_->EditShape(&f);
  const QPoint b = At(f, -3, -3);
  Stroke(b, QPoint(-7, 11));
  QTest::keyClick(doc_, Qt::Key_Return);
  ASSERT_EQ(f.Points().size(), 2u);
  // The group opens with the strokes as they were; replaying it gives
  // them back unscaled, whatever the frame did meanwhile.
  const TdtpCommand* record = nullptr;
  for (const auto& c : doc_->UndoList())
    if (c->PropName == "Polygon") record = c.get();
  ASSERT_NE(record, nullptr);
  f.SetPropertyText("Polygon", record->OldValue);
  EXPECT_EQ(f.Points(), first);
}

TEST(PolygonPointsText, RoundTripsExactly) {
  const TArrayOfArrayOfFloatPoint contours = {{{0.1f, -2.5f}, {1e-7f, 3.4028235e38f}}, {}, {{7, 8}}};
  const std::string text = PointsToText(contours);
  EXPECT_EQ(TextToPoints(text), contours);
  EXPECT_EQ(TextToPoints(""), TArrayOfArrayOfFloatPoint(1));
  // Broken items are skipped, the rest survives.
  const TArrayOfArrayOfFloatPoint partial = TextToPoints("1,2 x,3 4;5,6");
  ASSERT_EQ(partial.size(), 2u);
  EXPECT_EQ(partial[0].size(), 1u);
  EXPECT_EQ(partial[1].size(), 1u);
}

}  // namespace
}  // namespace kdl

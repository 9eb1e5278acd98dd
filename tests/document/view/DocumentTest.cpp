// The document control as its callers meet it: the counters and their
// messages, pages and the current page, hit points, the animation timer on
// a test clock and the keyboard.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <utility>

#include "ManualTimers.h"
#include "TestFiles.h"
#include "TestShapes.h"
#include "ViewTesting.h"
#include "platform/qt/ErrorDisplay.h"

namespace kdl {
namespace {

using DocumentTest = test::DocumentLibraryTest;

std::unique_ptr<TdtpShape> NamedShape(const std::string& name) {
  auto shape = std::make_unique<TdtpShape>();
  shape->SetDocBounds(10, 10, 20, 20);
  shape->SetName(name);
  return shape;
}

TEST_F(DocumentTest, ShapeIdsAreFreshAcrossPagesAndShapes) {
  TdtpDocument doc;
  doc.AddPage();
  std::set<std::int32_t> ids{doc.GetPage(0)->ID(), doc.GetPage(1)->ID()};
  for (int i = 0; i < 3; ++i) {
    doc.AddShape(NamedShape("s"));
    ids.insert(doc.GetShape(i)->ID());
  }
  EXPECT_EQ(ids.size(), 5u);
  EXPECT_EQ(ids.count(0), 0u);
}

// ---- Counters -----------------------------------------------------------------------------------

TEST_F(DocumentTest, UnpairedEndsRaiseTheirMessagesAndKeepTheCounterBelowZero) {
  TdtpDocument doc;
  EXPECT_EQ(test::ErrorOf([&] { doc.EndUpdate(); }), kEndUpdateUnderflow);
  // Still at -1: a pair brings it back to -1 and raises again.
  doc.BeginUpdate();
  EXPECT_EQ(test::ErrorOf([&] { doc.EndUpdate(); }), kEndUpdateUnderflow);
  doc.BeginUpdate();
  doc.BeginUpdate();
  EXPECT_EQ(test::ErrorOf([&] { doc.EndUpdate(); }), "(no error)");

  TdtpDocument undo;
  EXPECT_EQ(test::ErrorOf([&] { undo.EndUndo(); }), kEndUndoUnderflow);

  TdtpDocument print;
  EXPECT_EQ(test::ErrorOf([&] { print.EndPrinting(); }), kEndPrintingUnderflow);
  EXPECT_FALSE(print.IsPrinting());
  print.BeginPrinting();
  EXPECT_FALSE(print.IsPrinting());
  print.BeginPrinting();
  EXPECT_TRUE(print.IsPrinting());
}

TEST_F(DocumentTest, EventsInsideAnUpdateBracketFireOnceAtItsEnd) {
  TdtpDocument doc;
  std::vector<std::pair<std::string, TdtpShape*>> log;
  doc.OnShapeChanged = [&](TdtpDocument&, TdtpShape* s) { log.push_back({"changed", s}); };
  doc.OnSelectionChanged = [&](TdtpDocument&) { log.push_back({"selection", nullptr}); };
  doc.OnFocusShape = [&](TdtpDocument&, TdtpShape* s) { log.push_back({"focus", s}); };
  doc.AddShape(NamedShape("a"));
  doc.AddShape(NamedShape("b"));
  log.clear();
  doc.BeginUpdate();
  doc.GetShape(0)->SetDocLeft(40);
  doc.GetShape(1)->SetDocLeft(50);
  doc.DoSelectionChanged(doc.GetShape(0));
  doc.DoFocusShape(doc.GetShape(1));
  EXPECT_TRUE(log.empty());
  doc.EndUpdate();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], std::make_pair(std::string("changed"), static_cast<TdtpShape*>(nullptr)));
  EXPECT_EQ(log[1].first, "selection");
  EXPECT_EQ(log[2].first, "focus");
  // Outside a bracket each change reports its shape.
  log.clear();
  doc.GetShape(0)->SetDocTop(33);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().second, doc.GetShape(0));
}

TEST_F(DocumentTest, BusyDocumentRefusesWorkThatMustNotNest) {
  TdtpDocument doc;
  doc.BeginBusy(crHourGlass);
  TMemoryStream stream;
  for (const std::function<void()>& work : std::initializer_list<std::function<void()>>{
           [&] { doc.CopySelection(); }, [&] { doc.Undo(); }, [&] { doc.PrintPages({0}); },
           [&] { doc.DeleteSelection(); }, [&] { doc.Paste(); }, [&] { doc.CutSelection(); },
           [&] { doc.SaveToStream(stream); }, [&] { doc.LoadFromStream(stream); }})
    EXPECT_EQ(test::ErrorOf(work), kThreadingError);
  EXPECT_EQ(doc.PageCount(), 1);
  doc.EndBusy();
  EXPECT_EQ(test::ErrorOf([&] { doc.CopySelection(); }), "(no error)");
}

// ---- Pages -------------------------------------------------------------------------------------

TEST_F(DocumentTest, PageCountOutsideItsRangeRaisesAndLeavesThePages) {
  TdtpDocument doc;
  doc.SetPageCount(3);
  TdtpPage* second = doc.GetPage(1);
  EXPECT_EQ(test::ErrorOf([&] { doc.SetPageCount(26); }), kInvalidPageCount);
  EXPECT_EQ(test::ErrorOf([&] { doc.SetPageCount(-1); }), kInvalidPageCount);
  EXPECT_EQ(doc.PageCount(), 3);
  EXPECT_EQ(doc.GetPage(1), second);
  doc.SetPageCount(25);
  EXPECT_EQ(doc.PageCount(), 25);
  // Our own files could not be opened again with a 26th page.
  EXPECT_EQ(test::ErrorOf([&] { doc.AddPage(); }), kInvalidPageCount);
  EXPECT_EQ(doc.PageCount(), 25);
  doc.SetPageCount(0);
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.CurrentPageIndex(), -1);
  EXPECT_EQ(doc.CurrentPage(), nullptr);
  EXPECT_EQ(doc.PageWidth(), 0.0f);
  EXPECT_TRUE(doc.Modified());
}

TEST_F(DocumentTest, DeletingTheCurrentPageSelectsThePageNowAtItsPlace) {
  {
    // The view takes the new current page's size at once: a wider page
    // gets a wider area without any change of its own.
    TdtpDocument doc;
    doc.SetPageCount(3);
    for (int i = 0; i < 3; ++i) doc.GetPage(i)->SetPageWidth(100.0f * static_cast<float>(i + 1));
    doc.SetCurrentPageIndex(1);
    const float narrow = doc.VirtualWidth() / doc.ScreenDpm();
    doc.DeletePage(1);
    ASSERT_EQ(doc.CurrentPage(), doc.GetPage(1));
    EXPECT_NEAR(doc.VirtualWidth() / doc.ScreenDpm() - narrow, 100.0f, 0.5f);
  }
  TdtpDocument doc;
  doc.SetPageCount(3);
  for (int i = 0; i < 3; ++i) doc.GetPage(i)->SetName("p" + std::to_string(i));
  doc.SetCurrentPageIndex(1);
  int sizeChangesSeen = 0;
  doc.OnPageChanged = [&](TdtpDocument& d, TdtpPage* p) {
    if (p && p == d.CurrentPage()) ++sizeChangesSeen;
  };
  doc.DeletePage(1);
  ASSERT_EQ(doc.PageCount(), 2);
  EXPECT_EQ(doc.CurrentPageIndex(), 1);
  EXPECT_EQ(doc.CurrentPage()->Name(), "p2");
  EXPECT_GT(sizeChangesSeen, 0);
  // The page now current is bound: its size changes reach the view.
  doc.CurrentPage()->SetPageWidth(400);
  EXPECT_GE(doc.VirtualWidth(), 400 * doc.ScreenDpm() - 0.5f);

  // After the last page the previous one; then none at all.
  doc.DeletePage(1);
  EXPECT_EQ(doc.CurrentPageIndex(), 0);
  EXPECT_EQ(doc.CurrentPage()->Name(), "p0");
  doc.DeletePage(0);
  EXPECT_EQ(doc.CurrentPageIndex(), -1);
  EXPECT_EQ(doc.CurrentPage(), nullptr);

  // Deleting an earlier page keeps the same page current.
  doc.SetPageCount(3);
  doc.SetCurrentPageIndex(2);
  TdtpPage* current = doc.CurrentPage();
  doc.DeletePage(0);
  EXPECT_EQ(doc.CurrentPageIndex(), 1);
  EXPECT_EQ(doc.CurrentPage(), current);
}

TEST_F(DocumentTest, ClearPagesRecordsNoUndoAndReportsEveryShape) {
  TdtpDocument doc;
  doc.AddShape(NamedShape("a"));
  doc.AddShape(NamedShape("b"));
  std::vector<TdtpShape*> destroyed;
  doc.OnShapeDestroy = [&](TdtpDocument&, TdtpShape* s) { destroyed.push_back(s); };
  TdtpPage* page = doc.GetPage(0);
  doc.ClearPages();
  EXPECT_EQ(destroyed.size(), 3u);
  EXPECT_EQ(destroyed.back(), page);
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.CurrentPageIndex(), -1);

  // Nor does deleting one page: its shapes cannot come back without it.
  TdtpDocument pages;
  pages.SetPageCount(2);
  pages.SetCurrentPageIndex(1);
  pages.AddShape(NamedShape("c"));
  pages.AddShape(NamedShape("d"));
  pages.ClearUndo();
  pages.DeletePage(1);
  EXPECT_EQ(pages.UndoCount(), 0);
  EXPECT_EQ(pages.PageCount(), 1);
  EXPECT_EQ(pages.GetPage(0)->GetShapeCount(), 0);
}

TEST_F(DocumentTest, DefaultPageSizeFollowsOnlyDefaultPages) {
  TdtpDocument doc;
  doc.AddPage();
  doc.GetPage(1)->SetIsDefaultPage(false);
  doc.GetPage(1)->SetPageWidth(99);
  doc.SetModified(false);
  doc.SetDefaultPageWidth(150);
  EXPECT_EQ(doc.GetPage(0)->PageWidth(), 150.0f);
  EXPECT_EQ(doc.GetPage(1)->PageWidth(), 99.0f);
  EXPECT_TRUE(doc.Modified());
}

// ---- Hit points --------------------------------------------------------------------------------

// The table built from its definition: the centre, four arms of n points
// and four diagonals at round(0.71 n).
std::multiset<std::pair<int, int>> ExpectedHitPoints(int n) {
  std::multiset<std::pair<int, int>> points{{0, 0}};
  for (int k = 1; k <= n; ++k) points.insert({{k, 0}, {-k, 0}, {0, k}, {0, -k}});
  const int b = static_cast<int>(std::lround(n * 0.71));
  points.insert({{b, b}, {-b, b}, {b, -b}, {-b, -b}});
  return points;
}

TEST_F(DocumentTest, HitPointsFollowTheSensitivity) {
  TdtpDocument doc;
  ASSERT_EQ(doc.HitPointCount(), 21);
  std::multiset<std::pair<int, int>> got;
  for (int i = 0; i < doc.HitPointCount(); ++i) got.insert({doc.GetHitPoint(i).X, doc.GetHitPoint(i).Y});
  EXPECT_EQ(got, ExpectedHitPoints(4));
  EXPECT_EQ(got.count({3, 3}), 1u);
  // Nearest first: the centre, then the farthest arm points.
  EXPECT_EQ(doc.GetHitPoint(0).X, 0);
  EXPECT_EQ(doc.GetHitPoint(1).X, 4);
  EXPECT_EQ(doc.GetHitPoint(21).X, 0);
  EXPECT_EQ(doc.GetHitPoint(-1).Y, 0);

  doc.SetHitSensitivity(2.0f);
  EXPECT_EQ(doc.HitPointCount(), 37);
  // Never fewer than two points per arm.
  doc.SetHitSensitivity(0.1f);
  got.clear();
  for (int i = 0; i < doc.HitPointCount(); ++i) got.insert({doc.GetHitPoint(i).X, doc.GetHitPoint(i).Y});
  EXPECT_EQ(got, ExpectedHitPoints(2));
}

// ---- Animation -----------------------------------------------------------------------------------

class DocumentAnimationTest : public DocumentTest {
 protected:
  // Pages with stale thumbnails; counts the refreshes (a refresh announces
  // its page).
  void Prepare(TdtpDocument& doc, int pages) {
    doc.SetPageCount(pages);
    doc.SetAutoPageUpdate(true);
    doc.SetThumbnailWidth(40);
    doc.OnPageChanged = [this](TdtpDocument&, TdtpPage* p) { refreshed_.push_back(p); };
    refreshed_.clear();
  }
  std::vector<TdtpPage*> refreshed_;
};

TEST_F(DocumentAnimationTest, RefreshesOnePageATickAfterTheDocumentRested) {
  test::ManualTimers timers;
  TdtpDocument doc;
  Prepare(doc, 3);
  int ticks = 0;
  doc.OnAnimate = [&](TdtpDocument&) { ++ticks; };
  // A tick never pumps events: what waits in the queue still waits after it.
  bool pumped = false;
  QMetaObject::invokeMethod(qApp, [&] { pumped = true; }, Qt::QueuedConnection);
  timers.Advance(1950);
  EXPECT_GT(ticks, 30);
  EXPECT_TRUE(refreshed_.empty());
  timers.Advance(50);
  ASSERT_EQ(refreshed_.size(), 1u);
  EXPECT_EQ(refreshed_[0], doc.GetPage(0));
  timers.Advance(50);
  timers.Advance(50);
  ASSERT_EQ(refreshed_.size(), 3u);
  EXPECT_EQ(refreshed_[2], doc.GetPage(2));
  timers.Advance(500);
  EXPECT_EQ(refreshed_.size(), 3u);
  EXPECT_FALSE(pumped);
  QCoreApplication::processEvents();
  EXPECT_TRUE(pumped);
}

TEST_F(DocumentAnimationTest, NothingIsRefreshedWhileDraggingOrBusy) {
  test::ManualTimers timers;
  TdtpDocument doc;
  Prepare(doc, 2);
  doc.SetDragState(dsDragging);
  timers.Advance(5000);
  EXPECT_TRUE(refreshed_.empty());
  // The drag counts as a change: the rest starts when it ends.
  doc.SetDragState(dsIdle);
  timers.Advance(1900);
  EXPECT_TRUE(refreshed_.empty());
  doc.BeginBusy(crHourGlass);
  timers.Advance(3000);
  EXPECT_TRUE(refreshed_.empty());
  doc.EndBusy();
  doc.BeginPrinting();
  timers.Advance(3000);
  EXPECT_TRUE(refreshed_.empty());
  doc.EndPrinting();
  timers.Advance(50);
  EXPECT_EQ(refreshed_.size(), 1u);
}

// A shape that cannot be drawn, so that its page's thumbnail fails.
class FailingShape : public TdtpShape {
 public:
  void Paint32(TBitmap32& /*bitmap*/, const TdtpPaintInfo& /*info*/) override {
    throw EDocumentError("cannot draw");
  }
};

TEST_F(DocumentAnimationTest, AThumbnailThatFailsIsReportedOnceNotEveryTick) {
  test::ManualTimers timers;
  std::vector<std::string> errors;
  SetErrorDisplay([&](const std::string& message) { errors.push_back(message); });
  TdtpDocument doc;
  Prepare(doc, 2);
  auto shape = std::make_unique<FailingShape>();
  shape->SetDocBounds(10, 10, 20, 20);
  doc.AddShape(std::move(shape));
  // Two seconds of rest, then many ticks: one report, and the other page
  // still gets its thumbnail.
  timers.Advance(2000);
  timers.Advance(3000);
  SetErrorDisplay(nullptr);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("cannot draw"), std::string::npos);
  EXPECT_EQ(std::count(refreshed_.begin(), refreshed_.end(), doc.GetPage(1)), 1);
}

TEST_F(DocumentAnimationTest, NoTickWhileAPageIsBeingRead) {
  // A load-error handler that shows a message box lets the timers run: a
  // tick then must not take thumbnails of half-read pages.
  testing::RegisterTestShapes();
  test::ManualTimers timers;
  TdtpDocument doc;
  test::LoadBytes(doc, test::ArchiveBytes(
                           {{kIndexMember, "<Document/>"},
                            {PageMemberName(0), "<Page Index=\"1\"><ClassName>TdtpPage</ClassName></Page>"},
                            {PageMemberName(1), "<Page Index=\"2\"><ClassName>TdtpPage</ClassName>"
                                                "<Shape Index=\"1\"><ClassName>TdtpTestFailingShape</ClassName>"
                                                "</Shape></Page>"}}));
  doc.SetAutoPageUpdate(true);
  doc.SetThumbnailWidth(40);  // every thumbnail is stale
  doc.OnPageChanged = [this](TdtpDocument&, TdtpPage* p) { refreshed_.push_back(p); };
  std::size_t refreshedInHandler = 0;
  int errors = 0;
  doc.OnLoadError = [&](TdtpDocument&, TdtpShape*, const std::string&) {
    ++errors;
    refreshed_.clear();
    timers.Advance(5000);
    refreshedInHandler = refreshed_.size();
  };
  doc.SetCurrentPageIndex(1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(refreshedInHandler, 0u);
  // Once the page is read, the ticks take their thumbnails again.
  refreshed_.clear();
  timers.Advance(5000);
  EXPECT_FALSE(refreshed_.empty());
}

TEST_F(DocumentAnimationTest, HandlerDeletingPagesDuringATickIsSafe) {
  test::ManualTimers timers;
  TdtpDocument doc;
  Prepare(doc, 4);
  doc.OnPageChanged = [&](TdtpDocument& d, TdtpPage* p) {
    refreshed_.push_back(p);
    // The thumbnail refresh announces its page; the handler thins the
    // document out from under the tick.
    if (d.PageCount() > 1) d.DeletePage(d.PageCount() - 1);
  };
  timers.Advance(4000);
  EXPECT_GE(doc.PageCount(), 1);
  EXPECT_FALSE(refreshed_.empty());
}

// ---- Keyboard -------------------------------------------------------------------------

TEST_F(DocumentTest, TabStaysWithTheDocument) {
  QWidget form;
  auto* layout = new QVBoxLayout(&form);
  auto* edit = new QLineEdit(&form);
  auto* doc = new TdtpDocument(&form);
  layout->addWidget(edit);
  layout->addWidget(doc);
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  doc->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(doc->hasFocus());
  QTest::keyClick(doc, Qt::Key_Tab);
  EXPECT_TRUE(doc->hasFocus());
  QTest::keyClick(doc, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(doc->hasFocus());
  EXPECT_FALSE(edit->hasFocus());
}

}  // namespace
}  // namespace kdl

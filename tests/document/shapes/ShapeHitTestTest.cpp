#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

#include "FakeDocument.h"
#include "RenderTestShapes.h"
#include "document/shapes/HandlePainter.h"
#include "document/shapes/HitPoints.h"
#include "document/shapes/Rendering.h"
#include "document/shapes/Shape.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

using testing::FakeDocument;

// Even-odd inside test of a pixel centre, worked with an upward vertical
// ray in doubled integer coordinates; nullopt when the centre lies on an
// edge, where the two rays may rightly disagree.
std::optional<bool> Inside(const std::vector<TPoint>& poly, TPoint pixel) {
  const std::int64_t cx = 2 * std::int64_t{pixel.X} + 1, cy = 2 * std::int64_t{pixel.Y} + 1;
  bool inside = false;
  for (std::size_t i = 0; i < poly.size(); ++i) {
    const std::int64_t x1 = 2 * std::int64_t{poly[i].X}, y1 = 2 * std::int64_t{poly[i].Y};
    const std::int64_t x2 = 2 * std::int64_t{poly[(i + 1) % poly.size()].X};
    const std::int64_t y2 = 2 * std::int64_t{poly[(i + 1) % poly.size()].Y};
    const std::int64_t cross = (x2 - x1) * (cy - y1) - (y2 - y1) * (cx - x1);
    if (cross == 0 && std::min(x1, x2) <= cx && cx <= std::max(x1, x2) && std::min(y1, y2) <= cy &&
        cy <= std::max(y1, y2))
      return std::nullopt;
    if ((x1 < cx) == (x2 < cx)) continue;
    // The edge meets the column at y1 + (cx - x1)(y2 - y1)/(x2 - x1); above the centre?
    const std::int64_t dx = x2 - x1;
    const std::int64_t lhs = y1 * dx + (cx - x1) * (y2 - y1);
    if (dx > 0 ? lhs < cy * dx : lhs > cy * dx) inside = !inside;
  }
  return inside;
}

// The frame's corners (grown by the margins or not) on screen, rounded.
std::vector<TPoint> ScreenCorners(const TdtpShape& s, bool grown) {
  const float l = grown ? -s.MarginLeft() : 0, t = grown ? -s.MarginTop() : 0;
  const float r = s.DocWidth() + (grown ? s.MarginRight() : 0);
  const float b = s.DocHeight() + (grown ? s.MarginBottom() : 0);
  std::vector<TPoint> out;
  for (TFloatPoint p : {TFloatPoint{l, t}, TFloatPoint{r, t}, TFloatPoint{r, b}, TFloatPoint{l, b}}) {
    const TFloatPoint q = s.LocalToScreen(p);
    out.push_back({static_cast<std::int32_t>(std::nearbyint(q.X)),
                   static_cast<std::int32_t>(std::nearbyint(q.Y))});
  }
  return out;
}

struct RandomFrame {
  explicit RandomFrame(std::mt19937& rng) {
    std::uniform_real_distribution<float> pos(-5, 60), size(0.05f, 40), angle(0, 360),
        margin(0, 3), zoom(0.3f, 25);
    doc.ScreenDpmValue = zoom(rng);
    doc.WindowOrigin = {pos(rng) / 4, pos(rng) / 4};
    shape.SetDocBoundsAngle(pos(rng), pos(rng), size(rng), size(rng), rng() % 4 ? angle(rng) : 0);
    shape.SetCurbs(margin(rng), margin(rng), margin(rng), margin(rng));
    shape.SetDocument(&doc);
  }
  FakeDocument doc;
  TdtpShape shape;
};

TEST(ShapeRegion, PixelsOfTurnedFramesFollowTheirCentres) {
  std::mt19937 rng(11);
  int decided = 0;
  for (int round = 0; round < 40; ++round) {
    RandomFrame f(rng);
    for (bool grown : {true, false}) {
      const std::optional<TScreenRegion> region =
          grown ? f.shape.CreateRegion() : f.shape.CreateScreenRegion();
      ASSERT_TRUE(region);
      const std::vector<TPoint> corners = ScreenCorners(f.shape, grown);
      const TRect box = f.shape.GetScreenBounds();
      for (std::int32_t y = box.Top - 3; y < box.Bottom + 3; y += 1 + (box.Height() > 200))
        for (std::int32_t x = box.Left - 3; x < box.Right + 3; x += 1 + (box.Width() > 200)) {
          const std::optional<bool> expected = Inside(corners, {x, y});
          if (!expected) continue;
          ++decided;
          ASSERT_EQ(region->Contains({x, y}), *expected) << round << " " << x << "," << y;
          // No pixel of the grown frame lies outside the screen bounds.
          if (grown && *expected) {
            ASSERT_TRUE(PtInRect(box, {x, y}));
          }
        }
    }
    // A rectangle meets the region exactly when one of its pixels belongs.
    const TScreenRegion region = *f.shape.CreateRegion();
    const TRect box = f.shape.GetScreenBounds();
    std::uniform_int_distribution<int> at(box.Left - 10, box.Right + 10), span(0, 12);
    for (int k = 0; k < 40; ++k) {
      const int l = at(rng), t = at(rng) - box.Left + box.Top;
      const TRect r{l, t, l + span(rng), t + span(rng)};
      bool any = false;
      for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x) any = any || region.Contains({x, y});
      ASSERT_EQ(f.shape.RectInShape(r), any);
    }
  }
  EXPECT_GT(decided, 100000);
}

TEST(ShapeHit, ProbesEaseThinFrames) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> thin(0.02f, 2);
  int hits = 0, misses = 0;
  for (int round = 0; round < 40; ++round) {
    RandomFrame f(rng);
    if (round % 2) f.shape.SetDocHeight(thin(rng));
    const std::vector<TPoint> grown = ScreenCorners(f.shape, true);
    const std::vector<TPoint> frame = ScreenCorners(f.shape, false);
    const TRect box = f.shape.GetScreenBounds();
    for (std::int32_t y = box.Top - 6; y < box.Bottom + 6; y += 1 + box.Height() / 60)
      for (std::int32_t x = box.Left - 6; x < box.Right + 6; x += 1 + box.Width() / 60) {
        std::optional<bool> expected = Inside(grown, {x, y});
        if (expected && *expected) {
          bool probe = false;
          for (const TPoint& o : DefaultHitPoints()) {
            const std::optional<bool> in = Inside(frame, {x + o.X, y + o.Y});
            if (!in) expected.reset();
            if (!expected) break;
            probe = probe || *in;
          }
          if (expected) expected = probe;
        }
        if (!expected) continue;
        ASSERT_EQ(f.shape.HitTest({x, y}), *expected) << round << " " << x << "," << y;
        (*expected ? hits : misses) += 1;
      }
  }
  EXPECT_GT(hits, 1000);
  EXPECT_GT(misses, 1000);
}

// The document's table is tested through the document; here the
// sensitivities that no setting should give: the smallest reach, or a
// bounded one instead of an overflowing count.
TEST(ShapeHit, HitPointTableOfBrokenSensitivities) {
  for (float broken : {std::nanf(""), -5.0f, INFINITY}) EXPECT_EQ(MakeHitPoints(broken).size(), 13u) << broken;
  const std::vector<TPoint> table = MakeHitPoints(1e9f);
  ASSERT_EQ(table.size(), 4u * 1000 + 5);
  EXPECT_EQ(table[1], (TPoint{1000, 0}));
}

// A cached shape whose every pixel has one alpha, probed in its middle.
struct CachedShape {
  CachedShape(std::uint32_t alpha, std::int32_t masterAlpha) {
    shape.SetDocBoundsAngle(10, 10, 20, 20, 0);
    shape.Color = alpha << 24 | 0x306090u;
    shape.SetForceCache(true);
    shape.SetMasterAlpha(masterAlpha);
    shape.SetDocument(&doc);
    TdtpPaintInfo info;
    info.Device = dtTransparent;
    info.BackColor = 0;
    info.Scale = info.RenderScale = doc.ScreenDpmValue;
    shape.PrepareCache(info);
  }
  FakeDocument doc;
  testing::RectShape shape;
};

TEST(ShapeHit, CacheAlphaThreshold) {
  const TPoint middle = RoundPoint(CachedShape(0, 255).shape.LocalToScreen({10, 10}));
  struct Case {
    std::uint32_t Alpha;
    std::int32_t Master;
    bool Hit;
  };
  for (const Case c : {Case{50, 255, false}, Case{51, 255, true}, Case{1, 0, true},
                       Case{0, 0, false}, Case{26, 128, true}}) {
    CachedShape s(c.Alpha, c.Master);
    ASSERT_TRUE(s.shape.Cache());
    const TPoint px = s.shape.LocalToCache(s.shape.ScreenToLocal({middle.X + 0.5f, middle.Y + 0.5f}));
    ASSERT_EQ(AlphaComponent(s.shape.Cache()->GetPixel(px.X, px.Y)), c.Alpha);
    EXPECT_EQ(s.shape.HitTestPixel(middle), c.Hit) << c.Alpha << " " << c.Master;
    EXPECT_EQ(s.shape.HitTest(middle), c.Hit);
  }
  // Outside the cache every pixel counts as hit; without a document none inside.
  CachedShape s(255, 255);
  EXPECT_TRUE(s.shape.HitTestPixel({-500, -500}));
  s.shape.SetDocument(nullptr);
  EXPECT_FALSE(s.shape.HitTestPixel({20, 20}));
}

TEST(ShapeHit, ShapeAtPointFindsTheUppermostVisibleChild) {
  FakeDocument doc;
  TdtpShape group;
  group.SetDocBoundsAngle(0, 0, 50, 50, 0);
  group.SetDocument(&doc);
  for (int i = 0; i < 3; ++i) {
    auto child = std::make_unique<TdtpShape>();
    child->SetDocBoundsAngle(5.0f + i, 5, 20, 20, 0);
    group.AddShape(std::move(child));
  }
  const TPoint p = RoundPoint(group.LocalToScreen({15, 15}));
  TdtpShape* found = nullptr;
  ASSERT_TRUE(group.ShapeAtPoint(p, found));
  EXPECT_EQ(found, group.GetShape(2));
  group.GetShape(2)->SetVisible(false);
  ASSERT_TRUE(group.ShapeAtPoint(p, found));
  EXPECT_EQ(found, group.GetShape(1));
  EXPECT_FALSE(group.ShapeAtPoint({-50, -50}, found));
  EXPECT_EQ(found, nullptr);
}

// ---- Handles ---------------------------------------------------------------------------

struct HandleFixture {
  explicit HandleFixture(FakeDocument::Handles style) {
    doc.HandleStyle = style;
    doc.ScreenDpmValue = 4;
    shape.SetDocBoundsAngle(10, 20, 20, 10, 0);
    shape.SetDocument(&doc);
    shape.SetSelected(true);
    shape.UpdateHandles();
  }
  TPoint HandleAt(int index) {
    return RoundPoint(shape.LocalToScreen(shape.HandlePainter()->GetHandle(index)->Position));
  }
  FakeDocument doc;
  TdtpShape shape;
};

TEST(ShapeHandles, CodesFollowThePermissions) {
  HandleFixture f(FakeDocument::Handles::W2K3);
  const std::uint8_t kinds[9] = {2, 9, 8, 7, 6, 5, 4, 3, 10};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(f.shape.HandleAtPoint(f.HandleAt(i)), kinds[i]);
    EXPECT_EQ(f.shape.ActiveHandle(), i);
  }
  // Mid-body: nothing here; the document tests the body.
  EXPECT_EQ(f.shape.HandleAtPoint(RoundPoint(f.shape.LocalToScreen({7, 5}))), hcNone);
  EXPECT_EQ(f.shape.ActiveHandle(), -1);
  f.shape.SetAllowResize(false);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(f.shape.HandleAtPoint(f.HandleAt(i)), hcNone);
  EXPECT_EQ(f.shape.HandleAtPoint(f.HandleAt(8)), hcRotate);
  f.shape.SetAllowResize(true);
  f.shape.SetAllowRotate(false);
  EXPECT_EQ(f.shape.HandleAtPoint(f.HandleAt(8)), hcNone);
  EXPECT_EQ(f.shape.ActiveHandle(), -1);
  EXPECT_EQ(f.shape.HandleAtPoint(f.HandleAt(0)), hcTopLeft);
  f.shape.SetSelected(false);
  EXPECT_EQ(f.shape.HandleAtPoint(f.HandleAt(0)), hcNone);
}

TEST(ShapeHandles, PlainFrameLinesAnswerTheirEdge) {
  HandleFixture f(FakeDocument::Handles::Default);
  ASSERT_EQ(f.shape.HandlePainter()->HandleCount(), 5);
  // 4 px per mm: the left edge at x = 40, its middle at y = 100.
  EXPECT_EQ(f.shape.HandleAtPoint({41, 100}), hcLeft);
  EXPECT_EQ(f.shape.ActiveHandle(), -1);
  EXPECT_EQ(f.shape.HandleAtPoint({43, 100}), hcNone);
  EXPECT_EQ(f.shape.HandleAtPoint({80, 79}), hcTop);
  f.shape.SetAllowResize(false);
  EXPECT_EQ(f.shape.HandleAtPoint({41, 100}), hcNone);
  EXPECT_EQ(f.shape.HandleAtPoint(f.HandleAt(4)), hcRotate);
}

// ---- Drags -----------------------------------------------------------------------------

TEST(ShapeDrag, RotationSnapping) {
  struct Case {
    float Step;
    bool Alt;
    float Angle;
  };
  for (const Case c : {Case{15, false, 15}, Case{15, true, 22}, Case{0, true, 20},
                       Case{0, false, 22}}) {
    FakeDocument doc;
    doc.HandleStyle = FakeDocument::Handles::W2K3;
    doc.StepAngleValue = c.Step;
    TdtpShape s;
    s.SetDocBoundsAngle(0, 0, 20, 10, 0);
    s.SetDocument(&doc);
    s.SetSelected(true);
    s.UpdateHandles();
    // Grab the rotation circle, 5 mm above the top, and swing it 22
    // degrees counter-clockwise about the centre.
    const TFloatPoint handle = s.HandlePainter()->GetHandle(8)->Position;
    ASSERT_EQ(s.HandleAtPoint(RoundPoint(s.LocalToScreen(handle))), hcRotate);
    const double r = 10, a = 22 * std::numbers::pi / 180;
    const TFloatPoint delta{static_cast<float>(-r * std::sin(a)),
                            static_cast<float>(r - r * std::cos(a))};
    TAffineMatrix m;
    s.HandleDrag(delta, c.Alt, hcRotate, m);
    EXPECT_NEAR(s.PendingDrag().Angle, c.Angle, 1e-3) << c.Step << " " << c.Alt;
  }
}

TEST(ShapeDrag, ShapesNotGrabbedTurnByTheirOwnHandle) {
  FakeDocument doc;
  doc.HandleStyle = FakeDocument::Handles::W2K3;
  TdtpShape grabbed, other;
  for (TdtpShape* s : {&grabbed, &other}) {
    s->SetDocBoundsAngle(0, 0, 20, 10, 0);
    s->SetDocument(&doc);
    s->SetSelected(true);
  }
  grabbed.UpdateHandles();
  ASSERT_EQ(grabbed.HandleAtPoint(RoundPoint(grabbed.LocalToScreen({10, -5}))), hcRotate);
  // The other one last found a corner: that stale index must not be taken
  // for a rotation handle.
  other.UpdateHandles();
  ASSERT_EQ(other.HandleAtPoint(RoundPoint(other.LocalToScreen({0, 0}))), hcTopLeft);
  TAffineMatrix m;
  grabbed.HandleDrag({-10, 10}, false, hcRotate, m);
  other.HandleDrag({-10, 10}, false, hcRotate, m);
  grabbed.ApplyDrag();
  other.ApplyDrag();
  EXPECT_NEAR(grabbed.DocAngle(), 90, 1e-3);
  EXPECT_NEAR(other.DocAngle(), 90, 1e-3);
  // A plain shape that may not turn has no rotation handle: it keeps its angle.
  TdtpShape fixed;
  fixed.SetDocBoundsAngle(0, 0, 20, 10, 30);
  fixed.SetAllowRotate(false);
  fixed.HandleDrag({-10, 10}, false, hcRotate, m);
  EXPECT_NEAR(fixed.PendingDrag().Angle, 30, 1e-4);
}

TEST(ShapeDrag, RandomDragsKeepTheOppositeSideAndMatchTheirPreview) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> size(0.3f, 40), angle(0, 360), move(-30, 30);
  for (int round = 0; round < 3000; ++round) {
    FakeDocument doc;
    doc.HandleStyle = round % 2 ? FakeDocument::Handles::W2K3 : FakeDocument::Handles::Plain;
    doc.ScreenDpmValue = 3;
    TdtpShape parent;
    parent.SetDocBoundsAngle(5, 7, 100, 100, round % 3 ? angle(rng) : 0);
    parent.SetDocument(&doc);
    auto owned = std::make_unique<TdtpShape>();
    // Every tenth shape has no area, as one read without its sizes.
    const bool flat = round % 7 == 3;
    owned->SetDocBoundsAngle(move(rng), move(rng), flat && round % 2 ? 0 : size(rng),
                             flat && round % 4 != 1 ? 0 : size(rng), angle(rng));
    TdtpShape& s = *owned;
    parent.AddShape(std::move(owned));
    if (round % 4 == 1) s.LockAspect();
    s.SetSelected(true);
    s.UpdateHandles();
    const std::uint8_t code = static_cast<std::uint8_t>(1 + round % 10);
    if (code == hcRotate) {
      const int index = s.HandlePainter()->HandleCount() - 1;
      s.SetActiveHandle(index);
    }
    const TFloatPoint delta{move(rng), move(rng)};
    const float w = s.DocWidth(), h = s.DocHeight(), a0 = s.DocAngle();
    // The point that must stay: the opposite side's, or the centre.
    const float fx = code == hcBody ? 0 : code >= 2 && code <= 4 ? 1 : code >= 6 && code <= 8 ? 0 : 0.5f;
    const float fy = code == hcBody ? 0 : code == 2 || code == 8 || code == 9 ? 1 : code >= 4 && code <= 6 ? 0 : 0.5f;
    const TFloatPoint before = s.LocalToDoc({fx * w, fy * h});

    TAffineMatrix m;
    s.HandleDrag(delta, false, code, m);
    if (flat) {
      const TdtpShape::TPendingDrag& p = s.PendingDrag();
      for (double v : {double{p.Left}, double{p.Top}, double{p.Width}, double{p.Height},
                       double{p.Angle}, m.A, m.B, m.C, m.D, m.E, m.F})
        ASSERT_TRUE(std::isfinite(v)) << round;
      s.ApplyDrag();
      ASSERT_TRUE(std::isfinite(s.DocLeft() + s.DocTop() + s.DocWidth() + s.DocAngle())) << round;
      continue;
    }
    std::vector<TFloatPoint> preview;
    for (int i = 0; i < s.HandlePainter()->HandleCount(); ++i)
      preview.push_back(s.LocalToScreen(s.HandlePainter()->GetHandle(i)->DragPosition));
    s.ApplyDrag();
    s.UpdateHandles();

    const TFloatPoint after = s.LocalToDoc({fx * s.DocWidth(), fy * s.DocHeight()});
    const TFloatPoint expected =
        code == hcBody ? TFloatPoint{before.X + delta.X, before.Y + delta.Y} : before;
    ASSERT_NEAR(after.X, expected.X, 1e-3) << round;
    ASSERT_NEAR(after.Y, expected.Y, 1e-3) << round;
    if (code != hcRotate) {
      ASSERT_NEAR(s.DocAngle(), a0, 1e-4);
    }
    // Frame handles shown during the drag are where the committed frame
    // puts them.
    for (int i = 0; i < s.HandlePainter()->HandleCount(); ++i) {
      const TdtpHandle& handle = *s.HandlePainter()->GetHandle(i);
      if (handle.Kind < hcTopLeft || handle.Kind > hcTop) continue;
      const TFloatPoint now = s.LocalToScreen(handle.Position);
      ASSERT_NEAR(now.X, preview[i].X, 0.5) << round << " handle " << i;
      ASSERT_NEAR(now.Y, preview[i].Y, 0.5) << round << " handle " << i;
    }
  }
}

}  // namespace
}  // namespace kdl

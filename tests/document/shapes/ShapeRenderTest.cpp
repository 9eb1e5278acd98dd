// Rendering checked against the exact area that each shape's frame covers
// in each pixel, computed in double by clipping the frame to the pixel.
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "ExactCoverage.h"
#include "FakeDocument.h"
#include "RenderTestShapes.h"
#include "document/Startup.h"
#include "document/kinds/GroupShape.h"
#include "document/shapes/Rendering.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

using testing::RectShape;

using testing::P;
using testing::Quad;
using testing::Coverage;
using testing::SegmentDistance;

double QuadArea(const Quad& q) { return testing::PolygonArea(q); }

// ---- Frames composed in double ------------------------------------------------

P LocalToParent(const TdtpShape& s, P p) {
  const double a = s.DocAngle() * std::numbers::pi / 180, c = std::cos(a), n = std::sin(a);
  return {p.X * c + p.Y * n + s.DocLeft(), -p.X * n + p.Y * c + s.DocTop()};
}

// The frame of s in target pixels: through every ancestor below root, each
// mirrored or flipped one turning its content about its own centre, then
// the view's origin and scale.
Quad FrameInTarget(const TdtpShape& s, const TdtpShape* root, double scale, P origin = {0, 0}) {
  Quad q{P{0, 0}, P{s.DocWidth(), 0}, P{s.DocWidth(), s.DocHeight()}, P{0, s.DocHeight()}};
  for (const TdtpShape* t = &s; t && t != root; t = t->Parent())
    for (P& p : q) {
      if (t->Mirrored()) p.X = t->DocWidth() - p.X;
      if (t->Flipped()) p.Y = t->DocHeight() - p.Y;
      p = LocalToParent(*t, p);
    }
  for (P& p : q) p = {(p.X - origin.X) * scale, (p.Y - origin.Y) * scale};
  return q;
}

// ---- Checks -------------------------------------------------------------------

double Alpha(const TBitmap32& b, int x, int y) { return b.GetPixel(x, y) >> 24; }

// Alpha read between pixel centres.
double AlphaAt(const TBitmap32& b, double x, double y) {
  const double u = x - 0.5, v = y - 0.5;
  const int i = static_cast<int>(std::floor(u)), j = static_cast<int>(std::floor(v));
  const double fu = u - i, fv = v - j;
  auto at = [&](int xx, int yy) {
    return Alpha(b, std::clamp(xx, 0, b.Width() - 1), std::clamp(yy, 0, b.Height() - 1));
  };
  return (1 - fv) * ((1 - fu) * at(i, j) + fu * at(i + 1, j)) + fv * ((1 - fu) * at(i, j + 1) + fu * at(i + 1, j + 1));
}

void WritePngs(const TBitmap32& actual, const std::vector<double>& expected, double inside,
               const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(KDL_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  QImage a(actual.Width(), actual.Height(), QImage::Format_Grayscale8);
  QImage e(actual.Width(), actual.Height(), QImage::Format_Grayscale8);
  for (int y = 0; y < actual.Height(); ++y)
    for (int x = 0; x < actual.Width(); ++x) {
      a.scanLine(y)[x] = static_cast<uchar>(Alpha(actual, x, y));
      e.scanLine(y)[x] = static_cast<uchar>(std::lround(inside * expected[static_cast<std::size_t>(y) * actual.Width() + x]));
    }
  a.save(QString::fromStdString((dir / (name + "-actual.png")).string()));
  e.save(QString::fromStdString((dir / (name + "-expected.png")).string()));
  ADD_FAILURE() << "images written to " << dir.string() << "/" << name << "-*.png";
}

struct Tolerance {
  double Far = 1.5;       // pixels farther than this from every edge are exact
  double Crossing = 0.25;  // each edge's half-level crossing, in pixels
  double Area = 0.005;     // total alpha against the exact area; < 0: not checked
};

// A cached rendering: settled pixels away from the edges, the right total,
// and every edge where it belongs.
void ExpectCached(const TBitmap32& img, const std::vector<Quad>& quads, const std::string& name,
                  double inside = 255, Tolerance tol = {}) {
  // A turned edge's partly covered cache pixels reach further: the sampler
  // reads between them and between its sub-samples.
  for (const Quad& q : quads)
    if (std::fabs(q[0].X - q[1].X) > 1e-9 && std::fabs(q[0].Y - q[1].Y) > 1e-9) tol.Far = std::max(tol.Far, 2.0);
  const int w = img.Width(), h = img.Height();
  const std::vector<double> exact = Coverage(quads, w, h);
  bool ok = true;
  int reported = 0;
  double sum = 0, area = 0;
  for (const Quad& q : quads) area += QuadArea(q);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      sum += Alpha(img, x, y);
      const P c{x + 0.5, y + 0.5};
      double d = 1e18;
      for (const Quad& q : quads)
        for (int i = 0; i < 4; ++i) d = std::min(d, SegmentDistance(c, q[i], q[(i + 1) % 4]));
      if (d <= tol.Far) continue;
      const double want = inside * exact[static_cast<std::size_t>(y) * w + x];
      if (std::fabs(Alpha(img, x, y) - want) > 1) {
        ok = false;
        if (reported++ < 5) ADD_FAILURE() << name << ": pixel " << x << "," << y << " is " << Alpha(img, x, y) << ", want " << want;
      }
    }
  if (tol.Area >= 0 && std::fabs(sum - inside * area) > tol.Area * inside * area) {
    ok = false;
    ADD_FAILURE() << name << ": total alpha " << sum << ", exact " << inside * area;
  }
  for (const Quad& q : quads) {
    const P centre{(q[0].X + q[2].X) / 2, (q[0].Y + q[2].Y) / 2};
    const double reach = 2 * tol.Far + 1;
    for (int i = 0; i < 4; ++i) {
      const P a = q[i], b = q[(i + 1) % 4];
      const double len = std::hypot(b.X - a.X, b.Y - a.Y);
      P n{(b.Y - a.Y) / len, -(b.X - a.X) / len};
      const P mid{(a.X + b.X) / 2, (a.Y + b.Y) / 2};
      if ((mid.X - centre.X) * n.X + (mid.Y - centre.Y) * n.Y < 0) n = {-n.X, -n.Y};
      // Points of the edge inside the image and clear of the corners, at
      // most nine of them spread evenly.
      std::vector<P> points;
      for (double along = 2 * reach; along <= len - 2 * reach; along += 2) {
        const P m{a.X + (b.X - a.X) * along / len, a.Y + (b.Y - a.Y) * along / len};
        if (m.X > reach && m.Y > reach && m.X < w - reach && m.Y < h - reach) points.push_back(m);
      }
      if (points.empty()) continue;  // the edge is out of view
      double total = 0;
      int count = 0;
      for (int k = 0; k < 9; ++k) {
        const P m = points[points.size() * (2 * k + 1) / 18];
        // Along the outward normal from well inside to well outside.
        double prev = AlphaAt(img, m.X - reach * n.X, m.Y - reach * n.Y);
        for (double t = -reach + 0.01; t <= reach; t += 0.01) {
          const double v = AlphaAt(img, m.X + t * n.X, m.Y + t * n.Y);
          if (prev >= inside / 2 && v < inside / 2) {
            total += t - 0.01 * (inside / 2 - v) / (prev - v);
            ++count;
            break;
          }
          prev = v;
        }
      }
      if (count < 9 || std::fabs(total / count) > tol.Crossing) {
        ok = false;
        ADD_FAILURE() << name << ": edge " << i << " crosses half level at "
                      << (count ? total / count : 1e9) << " px (" << count << " crossings)";
      }
    }
  }
  if (!ok) WritePngs(img, exact, inside, name);
}

// ---- Fixture ------------------------------------------------------------------

constexpr double kScale = 10;  // px/mm
constexpr int kW = 400, kH = 300;  // a 40 x 30 mm view

class ShapeRender : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitializeDocumentLibrary();
    testing::RegisterRenderTestClasses();
  }
  void SetUp() override {
    target_.SetSize(kW, kH);
    target_.Clear(0);
    info_.Device = dtPrinter;
    info_.Scale = info_.RenderScale = static_cast<float>(kScale);
  }
  void Paint(TdtpShape& s, TdtpPaintInfo info) { s.Paint(target_, {0, 0, 40, 30}, false, info); }
  void Paint(TdtpShape& s) { Paint(s, info_); }
  // A w x h frame turned about its centre at (cx, cy).
  static void Centre(TdtpShape& shape, float cx, float cy, float w, float h, float angle) {
    const double a = angle * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    shape.SetDocBoundsAngle(static_cast<float>(cx - (w / 2 * c + h / 2 * s)),
                            static_cast<float>(cy - (-w / 2 * s + h / 2 * c)), w, h, angle);
  }
  static std::unique_ptr<RectShape> Centred(float cx, float cy, float w, float h, float angle) {
    auto r = std::make_unique<RectShape>();
    Centre(*r, cx, cy, w, h, angle);
    return r;
  }
  static std::unique_ptr<RectShape> Rect(float l, float t, float w, float h, float angle = 0) {
    auto r = std::make_unique<RectShape>();
    r->SetDocBoundsAngle(l, t, w, h, angle);
    return r;
  }

  TBitmap32 target_;
  TdtpPaintInfo info_;
};

// The direct path is the rasteriser alone: each pixel within what a grid of
// 16 x 16 sub-samples resolves.
TEST_F(ShapeRender, UprightDrawsDirectlyPerPixel) {
  auto r = Rect(8.13f, 9.37f, 20.41f, 12.77f);
  r->SetForceCache(false);
  Paint(*r);
  EXPECT_EQ(r->Cache(), nullptr);
  EXPECT_EQ(r->Paints, 1);
  const std::vector<double> exact = Coverage({FrameInTarget(*r, nullptr, kScale)}, kW, kH);
  double worst = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      worst = std::max(worst, std::fabs(Alpha(target_, x, y) - 255 * exact[static_cast<std::size_t>(y) * kW + x]));
  EXPECT_LE(worst, 255.0 / 15 + 2);
  if (HasFailure()) WritePngs(target_, exact, 255, "upright");
}

TEST_F(ShapeRender, TurnedShapesThroughTheCache) {
  for (float angle : {90.0f, 30.0f, 217.5f}) {
    target_.Clear(0);
    auto r = Centred(20.13f, 14.77f, 14.41f, 8.77f, angle);
    Paint(*r);
    EXPECT_NE(r->Cache(), nullptr);
    ExpectCached(target_, {FrameInTarget(*r, nullptr, kScale)}, "turned" + std::to_string(static_cast<int>(angle)));
  }
}

// Upright too, a shape with a master alpha goes through the cache.
TEST_F(ShapeRender, MasterAlphaHalvesTheInside) {
  auto u = Rect(8.13f, 9.37f, 20.41f, 12.77f);
  u->SetMasterAlpha(128);
  Paint(*u);
  EXPECT_NE(u->Cache(), nullptr);
  EXPECT_NEAR(Alpha(target_, 180, 150), 128, 1);
  ExpectCached(target_, {FrameInTarget(*u, nullptr, kScale)}, "upright-alpha128", 128);
}

// Two unequal rectangles in a group: mirrored, flipped, both, and turned.
TEST_F(ShapeRender, MirroredAndFlippedGroups) {
  struct Case {
    bool mirrored, flipped;
    float angle;
  };
  for (const Case c : {Case{true, false, 0}, Case{false, true, 0}, Case{true, true, 0}, Case{true, false, 25}}) {
    target_.Clear(0);
    TdtpGroupShape g;
    Centre(g, 20.1f, 14.9f, 28.4f, 19.6f, c.angle);
    g.AddShape(Rect(2.2f, 3.1f, 10.3f, 6.2f));
    g.AddShape(Rect(15.7f, 8.9f, 8.1f, 9.3f));
    g.SetMirrored(c.mirrored);
    g.SetFlipped(c.flipped);
    Paint(g);
    EXPECT_NE(g.Cache(), nullptr);
    ExpectCached(target_, {FrameInTarget(*g.GetShape(0), nullptr, kScale), FrameInTarget(*g.GetShape(1), nullptr, kScale)},
                 std::string("group") + (c.mirrored ? "-mirrored" : "") + (c.flipped ? "-flipped" : "") +
                     (c.angle != 0 ? "-turned" : ""));
  }
}

// Three caches deep: each one a resampling, so the settled band is wider.
TEST_F(ShapeRender, NestedTurnedGroups) {
  TdtpGroupShape outer;
  outer.SetDocBoundsAngle(9, 5, 26, 21, 20);
  auto inner = std::make_unique<TdtpGroupShape>();
  inner->SetDocBoundsAngle(6, 2, 18, 13, -35);
  inner->AddShape(Rect(3, 3, 10, 6, 10));
  TdtpShape& rect = *inner->GetShape(0);
  outer.AddShape(std::move(inner));
  // The rectangle lies inside each frame it is cached in, and in the view.
  for (const TdtpShape* frame : {static_cast<const TdtpShape*>(rect.Parent()), static_cast<const TdtpShape*>(&outer)})
    for (const P& p : FrameInTarget(rect, frame, 1)) {
      ASSERT_GT(p.X, 0.5);
      ASSERT_GT(p.Y, 0.5);
      ASSERT_LT(p.X, frame->DocWidth() - 0.5);
      ASSERT_LT(p.Y, frame->DocHeight() - 0.5);
    }
  Paint(outer);
  ExpectCached(target_, {FrameInTarget(rect, nullptr, kScale)}, "nested", 255, {3, 0.35, 0.005});
}

// ---- Cache rules ----------------------------------------------------------------

TEST_F(ShapeRender, CacheBuiltReusedAndRebuilt) {
  auto r = Rect(5, 5, 10, 8, 30);
  auto paint = [&](float scale, bool exact = false) {
    TdtpPaintInfo info = info_;
    info.RenderScale = scale;
    info.ExactScale = exact;
    Paint(*r, info);
    return r->Paints;
  };
  EXPECT_EQ(paint(5.9f), 1);
  EXPECT_FLOAT_EQ(r->CacheScale(), 5.9f);
  EXPECT_EQ(paint(4), 1);
  EXPECT_EQ(paint(5.9f), 1);
  EXPECT_EQ(paint(8), 2);
  EXPECT_EQ(paint(4, true), 3);
  EXPECT_EQ(paint(4, true), 3);
  // Turning needs no new cache; a change of look makes it stale.
  r->SetDocAngle(31);
  EXPECT_EQ(paint(4), 3);
  r->SetDocBounds(5, 5, 11, 8);
  EXPECT_EQ(paint(4), 4);
  // FreeCache frees it after drawing.
  TdtpPaintInfo info = info_;
  info.FreeCache = true;
  Paint(*r, info);
  EXPECT_EQ(r->Paints, 5);
  EXPECT_EQ(r->Cache(), nullptr);
  EXPECT_FALSE(r->IsCacheValid());
  Paint(*r, info);
  EXPECT_EQ(r->Paints, 6);
}

TEST_F(ShapeRender, ChildChangeRebuildsCachedAncestors) {
  TdtpGroupShape outer;
  outer.SetDocBoundsAngle(5, 5, 30, 20, 10);
  auto inner = std::make_unique<TdtpGroupShape>();
  inner->SetDocBoundsAngle(2, 2, 20, 12, 5);
  inner->AddShape(Rect(1, 1, 8, 5));
  auto* leaf = static_cast<RectShape*>(inner->GetShape(0));
  auto* innerPtr = inner.get();
  outer.AddShape(std::move(inner));
  Paint(outer);
  Paint(outer);
  EXPECT_EQ(leaf->Paints, 1);
  EXPECT_TRUE(innerPtr->IsCacheValid());
  leaf->SetDocAngle(0.5f);  // now cached itself, and both groups stale
  EXPECT_FALSE(outer.IsCacheValid());
  EXPECT_FALSE(innerPtr->IsCacheValid());
  Paint(outer);
  EXPECT_EQ(leaf->Paints, 2);
  outer.ClearCaches();
  EXPECT_EQ(outer.Cache(), nullptr);
  EXPECT_EQ(innerPtr->Cache(), nullptr);
  EXPECT_EQ(leaf->Cache(), nullptr);
}

TEST_F(ShapeRender, CacheLayoutAndMargins) {
  auto r = Rect(5, 5, 20, 10, 30);
  r->SetCurbs(0.26f, 0.26f, 0.26f, 0.26f);
  Paint(*r);
  ASSERT_NE(r->Cache(), nullptr);
  // Ceil(2.6) = 3 pixels of border on each side of 200 x 100.
  EXPECT_EQ(r->Cache()->Width(), 3 + 203);
  EXPECT_EQ(r->Cache()->Height(), 3 + 103);

  // Without margins there is still one pixel of border.
  auto bare = Rect(5, 5, 20, 10, 30);
  Paint(*bare);
  EXPECT_EQ(bare->Cache()->Width(), 1 + 201);

  // Mirrored: the larger margin on both sides.
  target_.Clear(0);
  auto m = Rect(5, 5, 20, 10);
  m->SetMirrored(true);
  m->SetCurbs(1, 0, 3, 0);
  EXPECT_FLOAT_EQ(m->MarginLeft(), 3);
  EXPECT_FLOAT_EQ(m->MarginRight(), 3);
  Paint(*m);
  EXPECT_EQ(m->Cache()->Width(), 30 + 230);
  ExpectCached(target_, {FrameInTarget(*m, nullptr, kScale)}, "mirrored-margins");
}

TEST_F(ShapeRender, EmptyViewTargetOrScaleDrawsNothing) {
  auto r = Rect(5, 5, 20, 10, 30);
  r->Paint(target_, {10, 10, 10, 20}, false, info_);
  r->Paint(target_, {0, 0, 40, std::nanf("")}, false, info_);
  TBitmap32 empty;
  r->Paint(empty, {0, 0, 40, 30}, false, info_);
  for (float scale : {0.0f, -1.0f, std::nanf(""), INFINITY}) {
    TdtpPaintInfo info = info_;
    info.RenderScale = scale;
    Paint(*r, info);
  }
  EXPECT_EQ(r->Paints, 0);
  EXPECT_EQ(r->Cache(), nullptr);
  // A frame without area or with a non-finite side builds no cache.
  for (float w : {0.0f, -2.0f, std::nanf("")}) {
    auto z = Rect(5, 5, 10, 10, 30);
    z->SetDocSize(w, 10);
    Paint(*z);
    EXPECT_EQ(z->Cache(), nullptr);
  }
  for (int i = 0; i < kW * kH; ++i) ASSERT_EQ(target_.Bits()[i], 0u);
}

// A shape a metre wide at print resolution is rendered at a lower scale
// that fits the cap, once, and still lands in the right place.
TEST_F(ShapeRender, HugeShapeCacheIsCapped) {
  const double dpm = 600 / 25.4;
  auto r = Rect(0, 0, 2000, 2000, 30);
  TdtpPaintInfo info = info_;
  info.Scale = info.RenderScale = static_cast<float>(dpm);
  const float half = 150 / static_cast<float>(dpm);
  const TFloatRect view{-half, -half, half, half};  // 300 x 300 px round the top-left corner
  TBitmap32 target;
  target.SetSize(300, 300);
  target.Clear(0);
  r->Paint(target, view, false, info);
  target.Clear(0);
  r->Paint(target, view, false, info);
  EXPECT_EQ(r->Paints, 1);
  ASSERT_NE(r->Cache(), nullptr);
  EXPECT_LE(std::int64_t{r->Cache()->Width()} * r->Cache()->Height(), kRenderCacheMaxPixels);
  const double ratio = dpm / r->CacheScale();
  EXPECT_GT(ratio, 5);
  // Only the corner is in view; the far edges and the total are not checked.
  ExpectCached(target, {FrameInTarget(*r, nullptr, dpm, {view.Left, view.Top})}, "capped", 255,
               {1.5 * ratio, 0.5 * ratio, -1});
}

// ---- Thumbnails ----------------------------------------------------------------

TEST_F(ShapeRender, ThumbnailFillsItsFrameExactly) {
  auto r = Rect(17, 23, 40, 30);
  std::unique_ptr<TBitmap32> t = r->RenderThumbnail(80, 60, dtScreen, 2);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Width(), 84);
  EXPECT_EQ(t->Height(), 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 84; ++x) {
      const bool inside = x >= 2 && x < 82 && y >= 2 && y < 62;
      ASSERT_EQ(Alpha(*t, x, y), inside ? 255 : 0) << x << "," << y;
    }
  // Turned, the thumbnail is still of the upright frame (through the
  // cache, whose sub-samples soften the outermost pixels).
  r->SetDocAngle(40);
  t = r->RenderThumbnail(80, 60, dtPrinter, 2);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 84; ++x) {
      const bool inside = x >= 3 && x < 81 && y >= 3 && y < 61;
      const bool outside = x < 1 || x >= 83 || y < 1 || y >= 63;
      if (inside || outside) ASSERT_EQ(Alpha(*t, x, y), inside ? 255 : 0) << x << "," << y;
    }

  EXPECT_EQ(r->RenderThumbnail(0, 50, dtScreen, 0), nullptr);
  EXPECT_EQ(r->RenderThumbnail(-5, -5, dtScreen, 0), nullptr);
  EXPECT_EQ(r->RenderThumbnail(50, 50, dtScreen, -1), nullptr);
  auto z = Rect(0, 0, 0, 10);
  EXPECT_EQ(z->RenderThumbnail(80, 60, dtScreen, 2), nullptr);
}

// ---- Canvas pass and GDI alpha ------------------------------------------------------

TEST_F(ShapeRender, CanvasPassDrawsOpaquePixels) {
  auto r = Rect(10, 10, 20, 10);
  r->UseCanvas = true;
  r->Color = 0xFF40A020u;
  Paint(*r);
  EXPECT_EQ(target_.GetPixel(200, 150), 0xFF40A020u);
  EXPECT_EQ(target_.GetPixel(50, 50), 0u);  // untouched stays as it was
  EXPECT_FALSE(target_.CanvasAllocated());
}

TEST(RestoreGdiAlpha, OpaqueWhereAlphaWasZero) {
  TBitmap32 b;
  b.SetSize(3, 1);
  b.SetPixel(0, 0, 0x00123456u);
  b.SetPixel(1, 0, 0x01123456u);
  b.SetPixel(2, 0, 0xFF000000u);
  RestoreGdiAlpha(b, 0x80FFFFFFu);
  EXPECT_EQ(b.GetPixel(0, 0), 0xFF123456u);
  EXPECT_EQ(b.GetPixel(1, 0), 0x80FFFFFFu);
  EXPECT_EQ(b.GetPixel(2, 0), 0x80FFFFFFu);
}

}  // namespace
}  // namespace kdl

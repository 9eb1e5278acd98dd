#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "raster/Layers.h"
#include "raster/ThreadPersistent.h"

namespace kdl {
namespace {

struct Recorder {
  std::vector<std::string> log;
  void Watch(TCustomLayer* layer, const std::string& name) {
    layer->OnMouseDown = [this, name](TCustomLayer*, TMouseButton b, TShiftState, int x, int y) {
      log.push_back(name + " down " + std::to_string(b) + " " + std::to_string(x) + "," +
                    std::to_string(y));
    };
    layer->OnMouseMove = [this, name](TCustomLayer*, TShiftState, int x, int y) {
      log.push_back(name + " move " + std::to_string(x) + "," + std::to_string(y));
    };
    layer->OnMouseUp = [this, name](TCustomLayer*, TMouseButton b, TShiftState, int, int) {
      log.push_back(name + " up " + std::to_string(b));
    };
  }
};

TPositionedLayer* Positioned(TLayerCollection& c, float l, float t, float r, float b) {
  auto* layer = c.Add<TPositionedLayer>();
  layer->SetLocation({l, t, r, b});
  return layer;
}

TEST(LayerDispatch, CaptureButtonsAndStacking) {
  TLayerCollection c;
  TPositionedLayer* lower = Positioned(c, 0, 0, 50, 50);
  TPositionedLayer* upper = Positioned(c, 25, 25, 75, 75);
  Recorder rec;
  rec.Watch(lower, "lower");
  rec.Watch(upper, "upper");

  struct Step {
    const char* what;
    int action;  // 0 down, 1 move, 2 up
    TMouseButton button;
    int x, y;
    TCustomLayer* taken;
    TCustomLayer* capture;
    std::vector<std::string> log;
  };
  const std::vector<Step> steps = {
      {"press over both goes to the upper", 0, mbLeft, 30, 30, upper, upper, {"upper down 0 30,30"}},
      {"held move outside goes to the capture", 1, mbLeft, 5, 5, upper, upper, {"upper move 5,5"}},
      {"right press joins the capture", 0, mbRight, 5, 5, upper, upper, {"upper down 1 5,5"}},
      {"left release keeps it while right is held", 2, mbLeft, 5, 5, upper, upper, {"upper up 0"}},
      {"last release ends the capture", 2, mbRight, 5, 5, upper, nullptr, {"upper up 1"}},
      {"free move finds the layer below", 1, mbLeft, 5, 5, lower, nullptr, {"lower move 5,5"}},
      {"right press without capture runs no handler", 0, mbRight, 5, 5, lower, nullptr, {}},
      {"nothing under the pointer", 0, mbLeft, 90, 90, nullptr, nullptr, {}},
  };
  for (const Step& s : steps) {
    rec.log.clear();
    TCustomLayer* taken = nullptr;
    if (s.action == 0) taken = c.MouseDown(s.button, {}, s.x, s.y);
    if (s.action == 1) taken = c.MouseMove({}, s.x, s.y);
    if (s.action == 2) taken = c.MouseUp(s.button, {}, s.x, s.y);
    EXPECT_EQ(taken, s.taken) << s.what;
    EXPECT_EQ(c.MouseCapture(), s.capture) << s.what;
    EXPECT_EQ(rec.log, s.log) << s.what;
  }

  // A layer with loNoCapture is named, but a left press on it runs nothing.
  upper->SetOptionBits(upper->OptionBits() | loNoCapture);
  rec.log.clear();
  EXPECT_EQ(c.MouseDown(mbLeft, {}, 30, 30), upper);
  EXPECT_EQ(c.MouseCapture(), nullptr);
  EXPECT_TRUE(rec.log.empty());
  // Without mouse events a layer is not found.
  upper->SetMouseEvents(false);
  EXPECT_EQ(c.LayerAt(30, 30, loMouseEvents), lower);
}

TEST(LayerCollection, UnpairedEndUpdateAndAssign) {
  TLayerCollection c;
  c.BeginUpdate();
  c.EndUpdate();
  EXPECT_THROW(c.EndUpdate(), EAssertionFailed);

  // Layers cannot be copied: the target keeps what it had.
  TLayerCollection source;
  source.Add<TRubberbandLayer>();
  TCustomLayer* kept = c.Add<TPositionedLayer>();
  try {
    c.Assign(source);
    ADD_FAILURE() << "a collection with layers was copied";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TRubberbandLayer to a TRubberbandLayer");
  }
  ASSERT_EQ(c.Count(), 1);
  EXPECT_EQ(c.Items(0), kept);
  // An empty source empties the target.
  TLayerCollection empty;
  c.Assign(empty);
  EXPECT_EQ(c.Count(), 0);
}

TEST(LayerLifetime, FreeingAWatchedOrWatchingLayerLeavesNothingDangling) {
  TLayerCollection c;
  auto* band = c.Add<TRubberbandLayer>();
  auto* follower = c.Add<TPositionedLayer>();
  band->SetFollowerLayer(follower);
  band->SetLocation({5, 6, 70, 80});
  EXPECT_EQ(follower->Location().Right, 70) << "the follower moves with the band";
  EXPECT_NE(band->OptionBits() & loNoNotify, 0u);
  int destroyed = 0;
  follower->OnDestroy = [&](TCustomLayer*) { ++destroyed; };
  c.Delete(follower->Index());
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(band->FollowerLayer(), nullptr);
  EXPECT_EQ(band->OptionBits() & loNoNotify, 0u);
  band->SetLocation({1, 1, 20, 20});  // must not touch the freed follower

  // The other way round: the band goes first; the follower's list forgets
  // it, so freeing the follower calls nothing freed.
  auto* second = c.Add<TPositionedLayer>();
  band->SetFollowerLayer(second);
  c.Delete(band->Index());
  c.Delete(second->Index());
  EXPECT_EQ(c.Count(), 0);
}

// ---- Rubber band ----------------------------------------------------------------

// The handles as points, in the order they are tried, each a square of
// radius + 1 around its point.
TBandDragState ExpectedHandle(const TRect& r0, int radius, TRubberbandOptions o, int x, int y) {
  const int l = r0.Left, t = r0.Top, r = r0.Right - 1, b = r0.Bottom - 1;
  const int cx = (l + r) / 2, cy = (t + b) / 2, d = radius + 1;
  struct H {
    TRubberbandOptions family, excluded;
    int hx, hy;
    TBandDragState state;
  };
  const H handles[] = {
      {rbCornerHandles, rbNoBottomRight, r, b, bdBottomRight},
      {rbCornerHandles, rbNoBottomLeft, l, b, bdBottomLeft},
      {rbCornerHandles, rbNoTopRight, r, t, bdTopRight},
      {rbCornerHandles, rbNoTopLeft, l, t, bdTopLeft},
      {rbSideHandles, rbNoRight, r, cy, bdRight},
      {rbSideHandles, rbNoBottom, cx, b, bdBottom},
      {rbSideHandles, rbNoLeft, l, cy, bdLeft},
      {rbSideHandles, rbNoTop, cx, t, bdTop},
  };
  for (const H& h : handles) {
    if ((o & h.family) && !(o & h.excluded) && x >= h.hx - d && x <= h.hx + d && y >= h.hy - d &&
        y <= h.hy + d) {
      return h.state;
    }
  }
  if ((o & rbMove) && x >= l && x < r && y >= t && y < b) return bdMove;
  return bdNone;
}

TEST(RubberBand, HandleAtEveryPixelAroundABand) {
  TLayerCollection c;
  auto* band = c.Add<TRubberbandLayer>();
  const TRubberbandOptions options[] = {
      rbMove | rbSideHandles | rbCornerHandles | rbFrame, rbSideHandles,
      rbCornerHandles | rbNoTopLeft | rbNoBottomRight, rbMove | rbSideHandles | rbNoLeft | rbNoBottom};
  const TFloatRect rects[] = {{10, 10, 74, 74}, {20.4f, 15.6f, 31.5f, 24.5f}, {5, 5, 8, 9}};
  for (const TFloatRect& loc : rects) {
    band->SetLocation(loc);
    for (TRubberbandOptions o : options) {
      for (int radius : {1, 3, 6}) {
        band->SetOptions(o);
        band->SetHandleRadius(radius);
        const TRect r = MakeRect(loc);
        for (int y = r.Top - 12; y < r.Bottom + 12; ++y) {
          for (int x = r.Left - 12; x < r.Right + 12; ++x) {
            ASSERT_EQ(band->HandleAt(x, y), ExpectedHandle(r, radius, o, x, y))
                << "at " << x << "," << y << " options " << o << " radius " << radius;
          }
        }
      }
    }
  }
}

TEST(RubberBand, RandomDragsKeepTheSizeLimits) {
  TLayerCollection c;
  auto* band = c.Add<TRubberbandLayer>();
  std::mt19937 rng(3);
  int changes = 0;
  band->OnBandChanged = [&](TCustomLayer*) { ++changes; };
  for (int round = 0; round < 300; ++round) {
    const float minW = 5 + rng() % 20, minH = 5 + rng() % 20;
    const float maxW = (rng() % 3 == 0) ? 0 : minW + rng() % 60;
    const float maxH = (rng() % 3 == 0) ? 0 : minH + rng() % 60;
    band->SetMinWidth(minW);
    band->SetMinHeight(minH);
    band->SetMaxWidth(maxW);
    band->SetMaxHeight(maxH);
    const float w = maxW > 0 ? minW + (maxW - minW) / 2 : minW + 30;
    const float h = maxH > 0 ? minH + (maxH - minH) / 2 : minH + 30;
    band->SetLocation({100, 100, 100 + w, 100 + h});
    // Press on a random handle (or inside), then wander.
    const TRect r = MakeRect(band->Location());
    const int px[] = {r.Left, (r.Left + r.Right - 1) / 2, r.Right - 1};
    const int py[] = {r.Top, (r.Top + r.Bottom - 1) / 2, r.Bottom - 1};
    const int x0 = px[rng() % 3], y0 = py[rng() % 3];
    c.MouseDown(mbLeft, {}, x0, y0);
    ASSERT_TRUE(band->Dragging());
    for (int step = 0; step < 10; ++step) {
      c.MouseMove({}, static_cast<int>(rng() % 400), static_cast<int>(rng() % 400));
      const TFloatRect l = band->Location();
      ASSERT_GE(l.Right - l.Left, minW - 1e-3f);
      ASSERT_GE(l.Bottom - l.Top, minH - 1e-3f);
      if (maxW >= minW) ASSERT_LE(l.Right - l.Left, maxW + 1e-3f);
      if (maxH >= minH) ASSERT_LE(l.Bottom - l.Top, maxH + 1e-3f);
    }
    c.MouseUp(mbLeft, {}, 0, 0);
    EXPECT_FALSE(band->Dragging());
  }
  EXPECT_GT(changes, 0);

  // A sizing handler that keeps the current location suppresses the change.
  changes = 0;
  band->OnSizing = [](TRubberbandLayer* sender, const TFloatRect&, TFloatRect& proposed,
                      TBandDragState, TShiftState) { proposed = sender->Location(); };
  band->SetLocation({10, 10, 60, 60});
  c.MouseDown(mbLeft, {}, 30, 30);
  c.MouseMove({}, 80, 90);
  c.MouseUp(mbLeft, {}, 80, 90);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(band->Location().Left, 10);
}

}  // namespace
}  // namespace kdl

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "FakeDocument.h"
#include "document/shapes/Shape.h"
#include "foundation/BrenlowXml.h"
#include "foundation/XmlNode.h"
#include "platform/Exception.h"

namespace kdl {
namespace {

using testing::FakeDocument;

std::unique_ptr<TdtpShape> Frame(float l, float t, float w, float h, float a = 0) {
  auto s = std::make_unique<TdtpShape>();
  s->SetDocBoundsAngle(l, t, w, h, a);
  return s;
}

// The parent-space image of a local point, in double precision from the
// mapping's definition: local (1, 0) goes to (cos, -sin).
void MapExact(const TdtpShape& s, double x, double y, double& px, double& py) {
  const double r = s.DocAngle() * std::numbers::pi / 180.0;
  px = x * std::cos(r) + y * std::sin(r) + s.DocLeft();
  py = -x * std::sin(r) + y * std::cos(r) + s.DocTop();
}

TEST(ShapeAngle, KeptInOneTurn) {
  TdtpShape s;
  s.SetDocAngle(-30);
  EXPECT_FLOAT_EQ(s.DocAngle(), 330);
  TFloatPoint p = s.LocalToParent({1, 0});
  EXPECT_NEAR(p.X, std::cos(330 * std::numbers::pi / 180), 1e-6);
  EXPECT_NEAR(p.Y, -std::sin(330 * std::numbers::pi / 180), 1e-6);
  s.SetDocAngle(360);
  EXPECT_EQ(s.DocAngle(), 0);
  // a - Floor(a / 360) * 360 is 360 in single precision here.
  s.SetDocAngle(-1e-6f);
  EXPECT_EQ(s.DocAngle(), 0);
  p = s.LocalToParent({1, 0});
  EXPECT_NEAR(p.X, 1, 1e-6);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> any(-1e5f, 1e5f);
  for (int i = 0; i < 2000; ++i) {
    s.SetDocAngle(any(rng) * (i % 2 ? 1e-9f : 1.0f));
    ASSERT_GE(s.DocAngle(), 0);
    ASSERT_LT(s.DocAngle(), 360);
  }
}

TEST(ShapeAngle, NonFiniteAnglesChangeNothing) {
  FakeDocument doc;
  auto s = Frame(0, 0, 10, 10, 30);
  s->SetDocument(&doc);
  doc.ClearUndo();
  for (const float a : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity()}) {
    s->SetDocAngle(a);
    EXPECT_FLOAT_EQ(s->DocAngle(), 30) << a;
  }
  EXPECT_TRUE(doc.UndoList().empty());
}

TEST(ShapeFrame, OnlyChangedValuesNotifyAndRecord) {
  FakeDocument doc;
  auto s = Frame(1, 2, 3, 4, 5);
  s->SetDocument(&doc);
  int changes = 0;
  s->OnChange = [&](TdtpShape&) { ++changes; };
  const int invalidations = doc.Invalidations;
  s->SetDocBoundsAngle(1, 2, 3, 4, 5);
  s->SetDocLeft(1);
  s->SetMasterAlpha(255);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(doc.Invalidations, invalidations);
  EXPECT_TRUE(doc.UndoList().empty());
  EXPECT_EQ(doc.CountEvents("Changed"), 0);
  // A move records the one value that changed.
  s->SetDocLeft(15);
  ASSERT_EQ(doc.UndoList().size(), 1u);
  EXPECT_EQ(doc.UndoList()[0]->PropName, "DocLeft");
  EXPECT_EQ(doc.UndoList()[0]->OldValue, "1");
}

TEST(ShapeConstraints, SizeNeverBelowFloor) {
  TdtpShape s;
  float w = -5, h = 0.01f;
  EXPECT_TRUE(s.ConstrainSize(w, h));
  EXPECT_FLOAT_EQ(w, 0.1f);
  EXPECT_FLOAT_EQ(h, 0.1f);
  // LockAspect on a shape of height 0 gives no usable ratio: ignored.
  s.SetDocSize(10, 0);
  s.LockAspect();
  w = 3, h = 4;
  s.ConstrainSize(w, h);
  EXPECT_FLOAT_EQ(w, 3);
  EXPECT_FLOAT_EQ(h, 4);
  // A very flat ratio would shrink the height below the floor.
  s.SetDocSize(1000, 1);
  s.LockAspect();
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> side(-5, 50);
  for (int i = 0; i < 1000; ++i) {
    w = side(rng), h = side(rng);
    s.ConstrainSize(w, h);
    ASSERT_GE(w, 0.1f);
    ASSERT_GE(h, 0.1f);
    ASSERT_NEAR(w / h, 1000, 1e-2);
  }
  s.SetAllowResize(false);
  w = 1, h = 1;
  EXPECT_FALSE(s.ConstrainSize(w, h));
  EXPECT_FLOAT_EQ(w, 1000);
  EXPECT_FLOAT_EQ(h, 1);
}

TEST(ShapeConstraints, UnusableRatioIsNeverStored) {
  // Locking the aspect of a shape without height (a level line) or without
  // any size gives no ratio; none reaches the saved file either.
  for (const auto& [w, h] : {std::pair{10.0f, 0.0f}, std::pair{0.0f, 0.0f}}) {
    TdtpShape s;
    s.SetDocSize(w, h);
    s.SetPreserveAspect(true);
    EXPECT_TRUE(s.PreserveAspect());
    EXPECT_EQ(s.AspectRatio(), 0) << w << " x " << h;
    TBrenlowXml xml("shape");
    s.SaveToXml(xml.Root());
    EXPECT_EQ(xml.Root()->ReadFloat("AspectRatio", -1), 0) << xml.Root()->WriteToString();
  }
}

TEST(ShapeConstraints, BrokenStoredRatioIsIgnored) {
  // A file may hold any ratio; one that is not finite and positive keeps
  // the asked size instead of giving a negative or undefined side.
  TdtpShape read;
  TBrenlowXml xml;
  xml.ReadFromString(
      "<shape><ClassName>TdtpShape</ClassName><AspectRatio>-2</AspectRatio>"
      "<DocWidth>10</DocWidth><DocHeight>5</DocHeight><PreserveAspect>True</PreserveAspect></shape>");
  read.LoadFromXml(xml.Root());
  ASSERT_TRUE(read.PreserveAspect());
  ASSERT_EQ(read.AspectRatio(), -2);
  float w = 3, h = 4;
  read.ConstrainSize(w, h);
  EXPECT_FLOAT_EQ(w, 3);
  EXPECT_FLOAT_EQ(h, 4);
  for (const float ratio : {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                            -std::numeric_limits<float>::infinity()}) {
    read.SetAspectRatio(ratio);
    w = 3, h = 4;
    read.ConstrainSize(w, h);
    EXPECT_FLOAT_EQ(w, 3) << ratio;
    EXPECT_FLOAT_EQ(h, 4) << ratio;
  }
}

TEST(ShapeAnchors, GroupedParentLaysOutChildren) {
  auto group = Frame(0, 0, 10, 10);
  auto locked = Frame(2, 0, 4, 1);
  locked->SetAnchors(akLeftLock | akTopLock);
  auto sized = Frame(2, 0, 4, 1);
  sized->SetAnchors(akLeftLock | akTopLock | akSizeXProp);
  auto centred = Frame(2, 0, 4, 1);
  centred->SetAnchors(akPosXProp | akTopLock);
  auto far = Frame(2, 0, 4, 1);
  far->SetAnchors(akRightLock | akTopLock);
  TdtpShape* c[] = {locked.get(), sized.get(), centred.get(), far.get()};
  for (auto* p : {&locked, &sized, &centred, &far}) group->AddShape(std::move(*p));
  group->SetGrouped(true);
  group->SetDocWidth(20);
  EXPECT_FLOAT_EQ(c[0]->DocLeft(), 2);
  EXPECT_FLOAT_EQ(c[0]->DocWidth(), 4);
  EXPECT_FLOAT_EQ(c[1]->DocLeft(), 2);
  EXPECT_FLOAT_EQ(c[1]->DocWidth(), 8);
  EXPECT_FLOAT_EQ(c[2]->DocLeft() + c[2]->DocWidth() / 2, 8);  // centre 4 of 10 -> 8 of 20
  EXPECT_FLOAT_EQ(c[3]->DocLeft(), 2);  // far side kept, width kept
}

TEST(ShapeAnchors, ResizeThereAndBackRestoresChildren) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> pos(0, 50), size(1, 30), scale(0.3f, 3);
  std::uniform_int_distribution<int> bits(0, 0x1FF);
  for (int round = 0; round < 200; ++round) {
    auto group = Frame(0, 0, size(rng) + 20, size(rng) + 20);
    std::vector<TdtpShape*> kids;
    std::vector<TFloatRect> before;
    for (int i = 0; i < 5; ++i) {
      auto c = Frame(pos(rng), pos(rng), size(rng), size(rng));
      c->SetAnchors(static_cast<std::uint16_t>(bits(rng)));
      kids.push_back(c.get());
      before.push_back(c->GetDocRect());
      group->AddShape(std::move(c));
    }
    group->SetGrouped(true);
    const float w = group->DocWidth(), h = group->DocHeight();
    group->SetDocSize(w, h);  // no layout: direct
    group->SetDocBounds(0, 0, w * scale(rng), h * scale(rng));
    group->SetDocBounds(0, 0, w, h);
    for (std::size_t i = 0; i < kids.size(); ++i) {
      const TFloatRect r = kids[i]->GetDocRect();
      ASSERT_NEAR(r.Left, before[i].Left, 1e-4) << round;
      ASSERT_NEAR(r.Top, before[i].Top, 1e-4) << round;
      ASSERT_NEAR(r.Right, before[i].Right, 1e-4) << round;
      ASSERT_NEAR(r.Bottom, before[i].Bottom, 1e-4) << round;
    }
  }
}

TEST(ShapeGeometry, MapsAreInverseUpAChain) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> pos(-40, 40), size(1, 60), angle(-720, 720);
  for (int round = 0; round < 100; ++round) {
    auto root = Frame(pos(rng), pos(rng), size(rng), size(rng), angle(rng));
    TdtpShape* leaf = root.get();
    for (int level = 1; level < 5; ++level) {
      auto c = Frame(pos(rng), pos(rng), size(rng), size(rng), angle(rng));
      TdtpShape* next = c.get();
      leaf->AddShape(std::move(c));
      leaf = next;
    }
    // Up the chain in double precision, from the mapping's definition.
    const TFloatPoint local{pos(rng), pos(rng)};
    double x = local.X, y = local.Y;
    for (const TdtpShape* s = leaf; s; s = s->Parent()) MapExact(*s, x, y, x, y);
    const TFloatPoint doc = leaf->LocalToDoc(local);
    ASSERT_NEAR(doc.X, x, 1e-3);
    ASSERT_NEAR(doc.Y, y, 1e-3);
    const TFloatPoint back = leaf->DocToLocal(doc);
    ASSERT_NEAR(back.X, local.X, 1e-4);
    ASSERT_NEAR(back.Y, local.Y, 1e-4);
  }
}

TEST(ShapeGeometry, BoundsBoxTheMappedCorners) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> pos(-40, 40), size(0.5f, 60), angle(0, 360);
  for (int round = 0; round < 500; ++round) {
    auto s = Frame(pos(rng), pos(rng), size(rng), size(rng), angle(rng));
    double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (auto [cx, cy] : {std::pair{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}}) {
      double x, y;
      MapExact(*s, cx * s->DocWidth(), cy * s->DocHeight(), x, y);
      minX = std::min(minX, x), maxX = std::max(maxX, x);
      minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    const TFloatRect b = s->GetDocBounds();
    ASSERT_NEAR(b.Left, minX, 1e-4);
    ASSERT_NEAR(b.Top, minY, 1e-4);
    ASSERT_NEAR(b.Right, maxX, 1e-4);
    ASSERT_NEAR(b.Bottom, maxY, 1e-4);
  }
}

TEST(ShapeGeometry, RotationAndResizeKeepTheirFixedPoint) {
  std::mt19937 rng(13);
  std::uniform_real_distribution<float> pos(-40, 40), size(1, 60), angle(0, 360);
  for (int round = 0; round < 300; ++round) {
    auto s = Frame(pos(rng), pos(rng), size(rng), size(rng), angle(rng));
    const TFloatPoint centre = s->LocalToParent({s->DocWidth() / 2, s->DocHeight() / 2});
    s->RotateAboutCenter(angle(rng));
    const TFloatPoint after = s->LocalToParent({s->DocWidth() / 2, s->DocHeight() / 2});
    ASSERT_NEAR(after.X, centre.X, 1e-3);
    ASSERT_NEAR(after.Y, centre.Y, 1e-3);

    // Resize about the far corner: the test picks the new corner itself.
    s->SetAllowMove(round % 2 == 0);
    const TFloatPoint far = s->LocalToParent({s->DocWidth(), s->DocHeight()});
    const double w = size(rng), h = size(rng);
    const double r = s->DocAngle() * std::numbers::pi / 180.0;
    const double left = far.X - (w * std::cos(r) + h * std::sin(r));
    const double top = far.Y - (-w * std::sin(r) + h * std::cos(r));
    s->SetBounds(static_cast<float>(left), static_cast<float>(top), static_cast<float>(w),
                 static_cast<float>(h));
    const TFloatPoint kept = s->LocalToParent({s->DocWidth(), s->DocHeight()});
    ASSERT_NEAR(kept.X, far.X, 1e-3);
    ASSERT_NEAR(kept.Y, far.Y, 1e-3);
  }
}

TEST(ShapeGeometry, FitToShapesMovesNothing) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> pos(-40, 40), size(1, 30), angle(0, 360);
  for (int round = 0; round < 100; ++round) {
    auto parent = std::make_unique<TdtpShape>();
    auto group = Frame(round % 3 ? pos(rng) : 0, round % 3 ? pos(rng) : 0, 50, 50,
                       round % 2 ? angle(rng) : 0);
    TdtpShape& g = *group;
    parent->AddShape(std::move(group));
    std::vector<std::array<TFloatPoint, 4>> corners;
    for (int i = 0; i < 4; ++i) g.AddShape(Frame(pos(rng), pos(rng), size(rng), size(rng), angle(rng)));
    auto docCorners = [](const TdtpShape& c) {
      return std::array<TFloatPoint, 4>{c.LocalToDoc({0, 0}), c.LocalToDoc({c.DocWidth(), 0}),
                                        c.LocalToDoc({0, c.DocHeight()}),
                                        c.LocalToDoc({c.DocWidth(), c.DocHeight()})};
    };
    for (int i = 0; i < 4; ++i) corners.push_back(docCorners(*g.GetShape(i)));
    g.FitToShapes();
    EXPECT_TRUE(g.Grouped());
    const TFloatRect r = g.GetChildrenRect();
    ASSERT_NEAR(r.Left, 0, 1e-3);
    ASSERT_NEAR(r.Top, 0, 1e-3);
    for (int i = 0; i < 4; ++i) {
      const auto now = docCorners(*g.GetShape(i));
      for (int k = 0; k < 4; ++k) {
        ASSERT_NEAR(now[k].X, corners[i][k].X, 1e-3) << round;
        ASSERT_NEAR(now[k].Y, corners[i][k].Y, 1e-3) << round;
      }
      EXPECT_FALSE(g.GetShape(i)->AllowSelect());
    }
  }
}

TEST(ShapeChildren, OwnershipAndRefusals) {
  auto root = std::make_unique<TdtpShape>();
  auto child = std::make_unique<TdtpShape>();
  TdtpShape* c = child.get();
  EXPECT_EQ(root->AddShape(std::move(child)), 0);
  EXPECT_EQ(c->Parent(), root.get());
  // A shape cannot go into its own subtree.
  std::unique_ptr<TdtpShape> self(root.get());
  EXPECT_EQ(c->AddShape(std::move(self)), -1);
  EXPECT_EQ(root->AddShape(std::move(self)), -1);
  (void)self.release();
  EXPECT_EQ(root->AddShape(nullptr), -1);
  EXPECT_THROW(root->InsertShape(2, std::make_unique<TdtpShape>()), Exception);
  EXPECT_THROW(root->InsertShape(-1, std::make_unique<TdtpShape>()), Exception);
  root->InsertShape(1, std::make_unique<TdtpShape>());
  EXPECT_EQ(root->GetShapeCount(), 2);
  EXPECT_EQ(root->GetShape(2), nullptr);
  auto out = root->ExtractShape(c);
  ASSERT_EQ(out.get(), c);
  EXPECT_EQ(c->Parent(), nullptr);
  EXPECT_EQ(root->ExtractShape(c), nullptr);
  EXPECT_EQ(root->RemoveShape(nullptr), -1);
}

TEST(ShapeChildren, ClearShapesStopsAtTheFirstFixedChild) {
  auto make = [](std::initializer_list<bool> fixed) {
    auto root = std::make_unique<TdtpShape>();
    int i = 0;
    for (bool f : fixed) {
      auto c = std::make_unique<TdtpShape>();
      c->SetFixed(f);
      c->SetTag(i++);
      root->AddShape(std::move(c));
    }
    return root;
  };
  auto a = make({true, false, false});
  a->ClearShapes();
  ASSERT_EQ(a->GetShapeCount(), 1);
  EXPECT_EQ(a->GetShape(0)->Tag(), 0);
  auto b = make({false, true, false});
  b->ClearShapes();
  ASSERT_EQ(b->GetShapeCount(), 2);
  EXPECT_EQ(b->GetShape(1)->Tag(), 1);
}

TEST(ShapeChanges, NestedUpdatesDeliverOneChange) {
  FakeDocument doc;
  TdtpShape s;
  s.SetDocument(&doc);
  int changes = 0;
  s.OnChange = [&](TdtpShape&) { ++changes; };
  s.BeginUpdate();
  s.BeginUpdate();
  s.Changed();
  s.Changed();
  s.Changed();
  s.EndUpdate();
  EXPECT_EQ(changes, 0);
  s.EndUpdate();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(doc.CountEvents("Changed"), 1);
  EXPECT_THROW(s.EndUpdate(), Exception);
  // Loading raises no change events.
  doc.SetLoading(true);
  s.SetName("x");
  EXPECT_EQ(changes, 1);
}

TEST(ShapeChanges, ModifiedGoesUpAndFalseGoesDown) {
  FakeDocument doc;
  auto root = std::make_unique<TdtpShape>();
  root->SetDocument(&doc);
  root->AddShape(std::make_unique<TdtpShape>());
  TdtpShape* child = root->GetShape(0);
  child->AddShape(std::make_unique<TdtpShape>());
  TdtpShape* grandchild = child->GetShape(0);
  root->SetModified(false);
  doc.SetModified(false);
  grandchild->SetModified(true);
  EXPECT_TRUE(child->Modified());
  EXPECT_TRUE(root->Modified());
  EXPECT_TRUE(grandchild->Modified());
  EXPECT_TRUE(doc.Modified());
  root->SetModified(false);
  EXPECT_FALSE(grandchild->Modified());
}

TEST(ShapeDocument, JoiningGivesTheSubtreeFreshIds) {
  FakeDocument doc;
  auto root = std::make_unique<TdtpShape>();
  root->AddShape(std::make_unique<TdtpShape>());
  root->GetShape(0)->AddShape(std::make_unique<TdtpShape>());
  root->SetDocument(&doc);
  EXPECT_EQ(root->ID(), 1);
  EXPECT_EQ(root->GetShape(0)->ID(), 2);
  EXPECT_EQ(root->GetShape(0)->GetShape(0)->ID(), 3);
  root->AddShape(std::make_unique<TdtpShape>());
  EXPECT_EQ(root->GetShape(1)->ID(), 4);
  EXPECT_EQ(root->GetShape(1)->Document(), &doc);
  root->GetShape(1)->SetSelected(true);
  EXPECT_EQ(doc.CountEvents("Selection"), 1);
  root->DeleteShape(1);
  EXPECT_EQ(doc.CountEvents("Destroy"), 1);
}

}  // namespace
}  // namespace kdl

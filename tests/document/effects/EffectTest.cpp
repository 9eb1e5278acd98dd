#include <gtest/gtest.h>

#include "FakeDocument.h"
#include "RenderTestShapes.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/effects/Effect.h"
#include "document/effects/EffectShape.h"
#include "document/kinds/GroupShape.h"
#include "document/shapes/Command.h"
#include "document/shapes/Rendering.h"
#include "foundation/BrenlowXml.h"
#include "foundation/Storage.h"

namespace kdl {
namespace {

using testing::AlphaEffect;
using testing::FakeDocument;
using testing::MemberEffect;
using testing::RectShape;

class Effects : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitializeDocumentLibrary();
    testing::RegisterTestShapes();
    testing::RegisterRenderTestClasses();
  }
  static std::string Xml(const TdtpEffect& e) {
    TBrenlowXml xml("Effect");
    e.SaveToXml(xml.Root());
    return xml.Root()->WriteToString();
  }
  static std::string Xml(TdtpShape& s) { return testing::ShapeXml(s); }
  static void Load(TdtpShape& s, const std::string& text) { testing::LoadShapeXml(s, text); }
  static std::unique_ptr<AlphaEffect> Alpha(std::int32_t multiply, std::int32_t add) {
    auto e = std::make_unique<AlphaEffect>();
    e->Multiply = multiply;
    e->Add = add;
    return e;
  }
};

TEST_F(Effects, ElementsWrittenByHand) {
  TdtpEffect enabled;
  EXPECT_EQ(Xml(enabled), "<Effect><ClassName>TdtpEffect</ClassName><Enabled>True</Enabled></Effect>");
  TdtpEffect plain;
  plain.SetEnabled(false);
  EXPECT_EQ(Xml(plain), "<Effect><ClassName>TdtpEffect</ClassName></Effect>");
  plain.SetSource(3);
  EXPECT_EQ(Xml(plain), "<Effect><ClassName>TdtpEffect</ClassName><Source>3</Source></Effect>");

  // In the shape: after the shape's own elements, numbered from 1.
  TdtpEffectShape shape;
  shape.AddEffect(std::make_unique<TdtpEffect>());
  shape.AddEffect(Alpha(128, 7));
  const std::string xml = Xml(shape);
  const std::string effects =
      "<Effect Index=\"1\"><ClassName>TdtpEffect</ClassName><Enabled>True</Enabled></Effect>"
      "<Effect Index=\"2\"><ClassName>TdtpTestAlphaEffect</ClassName><Enabled>True</Enabled>"
      "<Multiply>128</Multiply><Add>7</Add></Effect></shape>";
  ASSERT_GE(xml.size(), effects.size());
  EXPECT_EQ(xml.substr(xml.size() - effects.size()), effects);
}

TEST_F(Effects, ReadBackAndUnknownClasses) {
  TdtpEffectShape shape;
  Load(shape,
       "<shape><ClassName>TdtpEffectShape</ClassName><DocWidth>10</DocWidth>"
       "<Effect Index=\"7\"><ClassName>TdtpNoSuchEffect</ClassName><Enabled>True</Enabled>"
       "<Source>-1</Source><Multiply>3</Multiply></Effect>"
       "<Effect><ClassName>TdtpTestAlphaEffect</ClassName><Multiply>100</Multiply></Effect>"
       "<Effect/></shape>");
  ASSERT_EQ(shape.EffectCount(), 3);
  EXPECT_EQ(shape.GetEffect(0)->ClassName(), "TdtpEffect");
  EXPECT_TRUE(shape.GetEffect(0)->Enabled());
  EXPECT_EQ(shape.GetEffect(0)->Source(), -1);
  auto* alpha = dynamic_cast<AlphaEffect*>(shape.GetEffect(1));
  ASSERT_NE(alpha, nullptr);
  EXPECT_FALSE(alpha->Enabled());  // absent reads as False
  EXPECT_EQ(alpha->Multiply, 100);
  EXPECT_EQ(shape.GetEffect(2)->ClassName(), "TdtpEffect");
  EXPECT_EQ(shape.GetEffect(2)->Source(), kEffectSourceCurrent);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(shape.GetEffect(i)->Shape(), &shape);
  EXPECT_EQ(shape.GetEffect(3), nullptr);
  EXPECT_EQ(shape.GetEffect(-1), nullptr);

  EXPECT_EQ(shape.FindEffect<AlphaEffect>(), alpha);

  // Loading again replaces the list.
  Load(shape, "<shape><ClassName>TdtpEffectShape</ClassName></shape>");
  EXPECT_EQ(shape.EffectCount(), 0);
}

TEST_F(Effects, InsertRefusesAndFreesOutOfRange) {
  TdtpEffectShape shape;
  EXPECT_EQ(shape.AddEffect(nullptr), -1);
  EXPECT_EQ(shape.InsertEffect(1, std::make_unique<TdtpEffect>()), nullptr);
  EXPECT_EQ(shape.InsertEffect(-1, std::make_unique<TdtpEffect>()), nullptr);
  EXPECT_EQ(shape.EffectCount(), 0);
  TdtpEffect* e = shape.InsertEffect(0, std::make_unique<TdtpEffect>());
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Shape(), &shape);
  shape.DeleteEffect(5);
  EXPECT_EQ(shape.EffectCount(), 1);
}

// Drawn through the cache, the effects run in list order on every pixel.
TEST_F(Effects, ApplyInListOrder) {
  auto render = [](std::unique_ptr<AlphaEffect> a, std::unique_ptr<AlphaEffect> b) {
    RectShape shape;
    shape.SetDocBounds(1, 1, 4, 3);
    shape.AddEffect(std::move(a));
    shape.AddEffect(std::move(b));
    TBitmap32 target;
    target.SetSize(60, 50);
    target.Clear(0);
    TdtpPaintInfo info;
    info.Device = dtPrinter;
    info.Scale = info.RenderScale = 10;
    shape.Paint(target, {0, 0, 6, 5}, false, info);
    EXPECT_NE(shape.Cache(), nullptr);
    return target.GetPixel(30, 25) >> 24;
  };
  // Halve, then add 100; and the other way round.
  const auto first = render(Alpha(128, 0), Alpha(255, 100));
  const auto second = render(Alpha(255, 100), Alpha(128, 0));
  EXPECT_EQ(first, AlphaEffect::Rule(AlphaEffect::Rule(255, 128, 0), 255, 100));  // 228
  EXPECT_EQ(second, AlphaEffect::Rule(AlphaEffect::Rule(255, 255, 100), 128, 0));  // 128
  EXPECT_NE(first, second);
}

TEST_F(Effects, DisabledEffectPaintsDirectly) {
  RectShape shape;
  shape.SetDocBounds(1, 1, 4, 3);
  shape.AddEffect(Alpha(0, 0));
  TBitmap32 target;
  target.SetSize(60, 50);
  TdtpPaintInfo info;
  info.Scale = info.RenderScale = 10;
  EXPECT_TRUE(shape.NeedsCache());
  shape.Paint(target, {0, 0, 6, 5}, false, info);
  EXPECT_NE(shape.Cache(), nullptr);

  shape.GetEffect(0)->SetEnabled(false);
  EXPECT_FALSE(shape.NeedsCache());
  target.Clear(0);
  shape.Paint(target, {0, 0, 6, 5}, false, info);
  EXPECT_EQ(shape.Cache(), nullptr);
  EXPECT_EQ(target.GetPixel(30, 25), shape.Color);
}

class EffectUndo : public Effects {
 protected:
  void SetUp() override {
    auto owned = std::make_unique<RectShape>();
    shape_ = owned.get();
    root_.AddShape(std::move(owned));
    root_.SetDocument(&doc_);
    doc_.ClearUndo();
  }
  // Replays record i as the undo stack would, recording nothing new.
  void Undo(std::size_t i) {
    doc_.SetUndoOn(false);
    EXPECT_TRUE(root_.ExecuteCommand(*doc_.UndoList().at(i)));
    doc_.SetUndoOn(true);
  }

  FakeDocument doc_;
  TdtpShape root_;
  RectShape* shape_ = nullptr;
};

TEST_F(EffectUndo, PropertyChangesRecordIndexDotName) {
  shape_->AddEffect(Alpha(1, 2));
  shape_->AddEffect(Alpha(3, 4));
  doc_.ClearUndo();
  shape_->GetEffect(0)->SetEnabled(false);
  shape_->GetEffect(1)->SetSource(0);
  shape_->GetEffect(1)->SetSource(0);  // unchanged: nothing
  ASSERT_EQ(doc_.UndoList().size(), 2u);
  const TdtpCommand& enabled = *doc_.UndoList()[0];
  EXPECT_EQ(enabled.Kind, ckEffectPropertyChanged);
  EXPECT_EQ(enabled.PropName, "0.Enabled");
  EXPECT_EQ(enabled.OldValue, "True");
  const TdtpCommand& source = *doc_.UndoList()[1];
  EXPECT_EQ(source.PropName, "1.Source");
  EXPECT_EQ(source.OldValue, "-2");

  Undo(1);
  EXPECT_EQ(shape_->GetEffect(1)->Source(), kEffectSourceCurrent);
  Undo(0);
  EXPECT_TRUE(shape_->GetEffect(0)->Enabled());

  // A record naming no effect is taken and ignored.
  TdtpCommand stale(ckEffectPropertyChanged, shape_->ID(), "9.Enabled", "False");
  EXPECT_TRUE(root_.ExecuteCommand(stale));

  // Nothing is recorded while loading.
  doc_.ClearUndo();
  doc_.SetUndoOn(false);
  shape_->AddEffect(Alpha(1, 2));
  shape_->GetEffect(2)->SetEnabled(false);
  EXPECT_TRUE(doc_.UndoList().empty());
}

TEST_F(EffectUndo, EffectsReadFromXmlAreNoEdit) {
  // Reading a stored shape is not an edit: its effects must neither mark the
  // document changed nor leave records an undo would replay.
  shape_->AddEffect(Alpha(1, 2));
  shape_->AddEffect(Alpha(3, 4));
  const std::string xml = Xml(*shape_);
  doc_.ClearUndo();
  doc_.SetModified(false);
  doc_.Events.clear();
  Load(*shape_, xml);
  ASSERT_EQ(shape_->EffectCount(), 2);
  EXPECT_TRUE(doc_.UndoList().empty());
  EXPECT_FALSE(doc_.Modified());
  for (const auto& e : doc_.Events) EXPECT_NE(e.Kind, "Changed");
}

TEST_F(Effects, EffectStringCarriesMembersOnlyWithAnArchive) {
  FakeDocument doc;
  TdtpEffectShape shape;
  shape.SetDocument(&doc);
  auto owned = std::make_unique<MemberEffect>();
  MemberEffect& e = *owned;
  shape.AddEffect(std::move(owned));
  e.ArchiveName = doc.Storage()->MakeUniqueTempName(".png");
  testing::WriteMember(*doc.Storage(), e.ArchiveName, "abc");
  e.SetSource(4);
  const std::string text = e.SaveToString();
  // One member, then the XML with root "effect".
  ASSERT_GE(text.size(), 4u);
  EXPECT_EQ(text.substr(0, 4), std::string("\x01\0\0\0", 4));
  EXPECT_NE(text.find("<effect>"), std::string::npos);

  MemberEffect copy;
  shape.AddEffect(std::make_unique<MemberEffect>());
  static_cast<MemberEffect*>(shape.GetEffect(1))->LoadFromString(text);
  EXPECT_EQ(shape.GetEffect(1)->Source(), 4);

  doc.SetHasArchive(false);
  EXPECT_EQ(e.SaveToString().substr(0, 4), std::string("\0\0\0\0", 4));

  // Assign copies through the XML form.
  copy.Assign(e);
  EXPECT_EQ(copy.Source(), 4);
  EXPECT_EQ(copy.ArchiveName, e.ArchiveName);
}

// A grouped group resized by its anchors is stored and read back with its
// children where the resize put them.
TEST_F(Effects, AnchoredGroupResizeReloads) {
  FakeDocument doc;
  TdtpShape page;
  page.SetDocument(&doc);
  auto group = std::make_unique<TdtpGroupShape>();
  TdtpGroupShape& g = *group;
  page.AddShape(std::move(group));
  g.SetDocBounds(10, 10, 40, 20);
  auto a = std::make_unique<RectShape>();
  a->SetDocBounds(4, 2, 10, 6);
  a->SetAnchors(akSizeXProp | akSizeYProp | akLeftLock | akTopLock);
  g.AddShape(std::move(a));
  auto b = std::make_unique<RectShape>();
  b->SetDocBounds(30, 12, 6, 5);
  b->SetAnchors(akRightLock | akBottomLock);
  g.AddShape(std::move(b));
  g.AddEffect(Alpha(200, 0));
  g.SetGrouped(true);
  g.SetDocBounds(10, 10, 80, 30);
  const TdtpShape& a1 = *g.GetShape(0);
  EXPECT_FLOAT_EQ(a1.DocWidth(), 20);
  EXPECT_FLOAT_EQ(a1.DocHeight(), 9);

  const std::string text = g.SaveToString();
  TdtpShape page2;
  page2.SetDocument(&doc);
  page2.AddShape(CreateShape("TdtpGroupShape"));
  auto& g2 = dynamic_cast<TdtpGroupShape&>(*page2.GetShape(0));
  g2.LoadFromString(text);
  EXPECT_TRUE(g2.Grouped());
  EXPECT_FLOAT_EQ(g2.DocWidth(), 80);
  ASSERT_EQ(g2.GetShapeCount(), 2);
  ASSERT_EQ(g2.EffectCount(), 1);
  EXPECT_EQ(g2.GetShape(0)->ClassName(), "TdtpTestRectShape");
  for (int i = 0; i < 2; ++i) {
    const TdtpShape& was = *g.GetShape(i);
    const TdtpShape& now = *g2.GetShape(i);
    EXPECT_EQ(now.DocLeft(), was.DocLeft());
    EXPECT_EQ(now.DocTop(), was.DocTop());
    EXPECT_EQ(now.DocWidth(), was.DocWidth());
    EXPECT_EQ(now.DocHeight(), was.DocHeight());
    EXPECT_EQ(now.Anchors(), was.Anchors());
  }
  // And it resizes back the same way after reloading.
  g2.SetDocBounds(10, 10, 40, 20);
  EXPECT_NEAR(g2.GetShape(0)->DocWidth(), 10, 1e-4);
  EXPECT_NEAR(g2.GetShape(0)->DocHeight(), 6, 1e-4);
}

}  // namespace
}  // namespace kdl

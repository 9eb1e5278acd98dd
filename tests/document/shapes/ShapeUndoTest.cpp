#include <gtest/gtest.h>

#include <map>
#include <random>

#include "FakeDocument.h"
#include "RenderTestShapes.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/kinds/BitmapShape.h"
#include "document/kinds/GroupShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/shapes/Command.h"
#include "foundation/BrenlowXml.h"

namespace kdl {
namespace {

using testing::FakeDocument;
using testing::MemberShape;

class ShapeUndo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitializeDocumentLibrary();
    testing::RegisterTestShapes();
    testing::RegisterRenderTestClasses();
  }
  void SetUp() override { root.SetDocument(&doc); }

  // What undo must bring back: the tree's XML, its IDs in pre-order and
  // every archive member's bytes.
  struct State {
    std::string Xml;
    std::vector<std::int32_t> Ids;
    std::map<std::string, std::string> Members;
    bool operator==(const State&) const = default;
  };
  static void CollectIds(const TdtpShape& s, std::vector<std::int32_t>& ids) {
    ids.push_back(s.ID());
    for (int i = 0; i < s.GetShapeCount(); ++i) CollectIds(*s.GetShape(i), ids);
  }
  State Snapshot() {
    State st;
    st.Xml = testing::ShapeXml(root);
    CollectIds(root, st.Ids);
    st.Members = testing::AllMembers(*doc.Storage());
    return st;
  }
  static void AllShapes(TdtpShape& s, std::vector<TdtpShape*>& out) {
    out.push_back(&s);
    for (int i = 0; i < s.GetShapeCount(); ++i) AllShapes(*s.GetShape(i), out);
  }

  FakeDocument doc;
  TdtpShape root;
};

TEST_F(ShapeUndo, PropertyRecordsReplayThroughTheirSetters) {
  root.AddShape(std::make_unique<TdtpShape>());
  TdtpShape& s = *root.GetShape(0);
  doc.ClearUndo();
  s.SetDocAngle(45.5f);
  ASSERT_TRUE(doc.Undo(root));
  EXPECT_FLOAT_EQ(s.DocAngle(), 0);
  ASSERT_EQ(doc.RedoList().size(), 1u);  // the inverse record
  EXPECT_EQ(doc.RedoList()[0]->OldValue, "45.5");

  s.SetPropertyText("masteralpha", "12");
  EXPECT_EQ(s.MasterAlpha(), 12);
  s.SetPropertyText("NoSuchProperty", "1");
  EXPECT_THROW(s.SetPropertyText("DocLeft", "1,5"), EConvertError);
  EXPECT_THROW(s.SetPropertyText("MasterAlpha", "1.5"), EConvertError);
  // A record nobody owns is refused.
  EXPECT_FALSE(root.ExecuteCommand(TdtpCommand(ckPropertyChanged, 999, "DocLeft", "1")));
}

TEST_F(ShapeUndo, DeletedSubtreeComesBackWithItsIds) {
  auto group = std::make_unique<TdtpShape>();
  group->AddShape(std::make_unique<TdtpShape>());
  group->GetShape(0)->AddShape(std::make_unique<MemberShape>());
  TdtpShape& g = *group;
  root.AddShape(std::move(group));
  auto& member = static_cast<MemberShape&>(*g.GetShape(0)->GetShape(0));
  member.Store("image bytes");
  const std::string memberName = member.ArchiveName;  // the shape goes before we look
  doc.ClearUndo();
  const State before = Snapshot();
  // An older record names the grandchild; then its grandparent goes.
  member.SetDocWidth(7);
  const State changed = Snapshot();
  root.DeleteShape(0);
  EXPECT_FALSE(doc.Storage()->StreamExists(memberName));  // went with the shape
  doc.Undo(root);
  EXPECT_EQ(Snapshot(), changed);
  doc.Undo(root);  // still finds the re-created grandchild by its ID
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(doc.Refused, 0);
}

TEST_F(ShapeUndo, ExtractedShapeIsRecordedButKeepsItsMembers) {
  root.AddShape(std::make_unique<MemberShape>());
  auto& m = static_cast<MemberShape&>(*root.GetShape(0));
  m.Store("kept");
  doc.ClearUndo();
  auto out = root.ExtractShape(&m);
  ASSERT_EQ(doc.UndoList().size(), 1u);
  EXPECT_EQ(doc.UndoList()[0]->Kind, ckChildDeleted);
  EXPECT_TRUE(doc.Storage()->StreamExists(m.ArchiveName));
  // Undo re-creates a copy; it must not share the living shape's member.
  doc.Undo(root);
  ASSERT_EQ(root.GetShapeCount(), 1);
  auto& copy = static_cast<MemberShape&>(*root.GetShape(0));
  EXPECT_NE(copy.ArchiveName, m.ArchiveName);
  EXPECT_EQ(copy.Bytes(), "kept");
}

TEST_F(ShapeUndo, RandomOperationsUndoneInReverse) {
  std::mt19937 rng(2024);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  std::uniform_real_distribution<float> pos(-30, 30), size(0.5f, 40), angle(-400, 400);
  int nextBytes = 0;
  auto newShape = [&]() -> std::unique_ptr<TdtpShape> {
    switch (pick(8)) {
      case 0: return std::make_unique<TdtpShape>();
      case 1: return std::make_unique<MemberShape>();
      case 2: return std::make_unique<TdtpEllipseShape>();
      case 3: return std::make_unique<TdtpRectangleShape>();
      case 4: return std::make_unique<TdtpRoundRectShape>();
      case 5: {
        auto p = std::make_unique<TdtpPolygonShape>();
        p->SetStorePoints(true);
        p->AddPointXY(1, 2);
        p->AddPointXY(30, 4);
        p->AddPointXY(12, 25);
        return p;
      }
      case 6: return std::make_unique<TdtpBitmapShape>();
      default: return std::make_unique<TdtpGroupShape>();
    }
  };
  auto fill = [&](TdtpShape& s) {
    if (auto* m = dynamic_cast<MemberShape*>(&s))
      m->Store("bytes " + std::to_string(nextBytes++) + std::string(static_cast<std::size_t>(pick(300)), 'q'));
  };
  // A random tree, some of it grouped with random anchors.
  for (int i = 0; i < 12; ++i) {
    std::vector<TdtpShape*> all;
    AllShapes(root, all);
    TdtpShape& parent = *all[static_cast<std::size_t>(pick(static_cast<int>(all.size())))];
    auto s = newShape();
    s->SetDocBoundsAngle(pos(rng), pos(rng), size(rng), size(rng), angle(rng));
    s->SetAnchors(static_cast<std::uint16_t>(pick(0x200)));
    TdtpShape& ref = *s;
    parent.AddShape(std::move(s));
    fill(ref);
    if (pick(2)) parent.SetGrouped(true);
  }
  doc.ClearUndo();

  std::vector<State> states;
  for (int step = 0; step < 120; ++step) {
    states.push_back(Snapshot());
    std::vector<TdtpShape*> all;
    AllShapes(root, all);
    TdtpShape& s = *all[static_cast<std::size_t>(pick(static_cast<int>(all.size())))];
    doc.BeginUndo();
    auto* effects = dynamic_cast<TdtpEffectShape*>(&s);
    TdtpEffect* effect = effects && effects->EffectCount() > 0
                             ? effects->GetEffect(pick(effects->EffectCount()))
                             : nullptr;
    switch (pick(effects ? 11 : 7)) {
      case 0: s.SetDocBounds(pos(rng), pos(rng), size(rng), size(rng)); break;
      case 1: s.SetDocAngle(angle(rng)); break;
      case 2: s.SetMasterAlpha(pick(256)); break;
      case 3: s.RotateAboutCenter(angle(rng)); break;
      case 4: {
        auto c = newShape();
        TdtpShape& ref = *c;
        s.AddShape(std::move(c));
        fill(ref);
        break;
      }
      case 5: {
        auto c = newShape();
        c->SetDocBounds(pos(rng), pos(rng), size(rng), size(rng));
        TdtpShape& ref = *c;
        s.InsertShape(pick(s.GetShapeCount() + 1), std::move(c));
        fill(ref);
        break;
      }
      case 6:
        if (s.GetShapeCount() > 0) s.DeleteShape(pick(s.GetShapeCount()));
        break;
      case 7: {
        // Half of them keep an archive member.
        std::unique_ptr<TdtpEffect> e = std::make_unique<TdtpEffect>();
        if (pick(2)) {
          auto m = std::make_unique<testing::MemberEffect>();
          m->ArchiveName = doc.Storage()->MakeUniqueTempName(".png");
          testing::WriteMember(*doc.Storage(), m->ArchiveName, "mask " + std::to_string(nextBytes++));
          e = std::move(m);
        }
        if (pick(2))
          effects->AddEffect(std::move(e));
        else
          effects->InsertEffect(pick(effects->EffectCount() + 1), std::move(e));
        break;
      }
      case 8:
        if (effect) effects->DeleteEffect(effect->GetIndex());
        break;
      case 9:
        if (effect) effect->SetEnabled(!effect->Enabled());
        break;
      case 10:
        if (effect) effect->SetSource(pick(effects->EffectCount() + 2) - 2);
        break;
    }
    // The vector kinds' own undoable setters.
    if (auto* poly = dynamic_cast<TdtpPolygonShape*>(&s); poly && pick(2)) {
      switch (pick(9)) {
        case 0: poly->SetOutlineWidth(static_cast<float>(pick(5)) / 2); break;
        case 1: poly->SetFillAlpha(pick(256)); break;
        case 2: poly->SetFillColor(pick(0x1000000)); break;
        case 3: poly->SetOutlineColor(pick(0x1000000)); break;
        case 4: poly->SetIsClosed(pick(2)); break;
        case 5: poly->SetUseFill(pick(2)); break;
        case 6: poly->SetUseOutline(pick(2)); break;
        default:
          if (auto* round = dynamic_cast<TdtpRoundRectShape*>(poly)) {
            round->SetCornerWidth(size(rng));
            round->SetCornerHeight(size(rng));
          }
          break;
      }
    }
    doc.EndUndo();
    if (doc.UndoGroupCount() < static_cast<int>(states.size())) states.pop_back();  // recorded nothing
  }
  ASSERT_GT(states.size(), 30u);
  while (!states.empty()) {
    ASSERT_TRUE(doc.Undo(root));
    ASSERT_EQ(Snapshot(), states.back()) << states.size();
    states.pop_back();
  }
  EXPECT_TRUE(doc.UndoList().empty());
  EXPECT_EQ(doc.Refused, 0);
}

}  // namespace
}  // namespace kdl

// The undo stack and the clipboard as the editor drives them: grouping and
// coalescing, the memory cap, whole user actions undone one at a time
// against the page's XML, the "Selection" text through the real clipboard
// and the private one, the paste offsets, and copies of archived images.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <random>

#include "TestFiles.h"
#include "TestShapes.h"
#include "ViewTesting.h"
#include "document/effects/Effect.h"
#include "document/effects/EffectShape.h"
#include "document/kinds/BitmapShape.h"
#include "document/kinds/LineShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/ResourceTestUtil.h"
#include "document/shapes/Command.h"
#include "foundation/XmlValues.h"
#include "platform/qt/MessageBox.h"

namespace kdl {
namespace {

class DocumentUndo : public test::DocumentLibraryTest {
 protected:
  void SetUp() override {
    DocumentLibraryTest::SetUp();
    static const bool registered = (testing::RegisterTestShapes(), true);
    (void)registered;
    SetMessageDisplay([this](const std::string& text) { messages_.push_back(text); });
  }
  void TearDown() override { SetMessageDisplay(nullptr); }

  std::vector<std::string> messages_;
};

TdtpShape& AddBox(TdtpDocument& doc, float left, float top, float w = 20, float h = 10) {
  auto shape = std::make_unique<TdtpShape>();
  shape->SetDocBounds(left, top, w, h);
  TdtpShape& ref = *shape;
  doc.AddShape(std::move(shape));
  return ref;
}

// The page as it would be stored: what undo must give back exactly.
std::string PageXml(TdtpPage& page) { return testing::ShapeXml(page); }

int Groups(const TdtpDocument& doc) { return test::UndoGroups(doc); }

std::vector<std::string> Members(TqxStorage& storage) {
  std::vector<std::string> names;
  for (int i = 0; i < storage.StreamCount(); ++i) names.push_back(storage.GetStreamName(i));
  std::sort(names.begin(), names.end());
  return names;
}

// A "Selection" text with the given shape elements, as another program
// might put it on the clipboard.
std::string SelectionText(const std::vector<std::pair<std::string, std::string>>& shapes) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Selection>\n";
  for (const auto& [cls, base64] : shapes)
    text += "  <shape><ClassName>" + cls + "</ClassName>" + base64 + "</shape>\n";
  return text + "</Selection>\n";
}

TEST_F(DocumentUndo, AGroupWhoseFirstRecordCoalescesIsStillItsOwnGroup) {
  TdtpDocument doc;
  TdtpShape& s = AddBox(doc, 10, 20);
  doc.ClearUndo();
  doc.BeginUndo();
  s.SetDocLeft(15);
  doc.EndUndo();

  // A record equal to the last one opens the next group and vanishes.
  doc.BeginUndo();
  s.RecordUndoFloat(ckPropertyChanged, "DocLeft", 10);
  s.SetMasterAlpha(50);
  doc.EndUndo();
  ASSERT_EQ(doc.UndoCount(), 2);

  doc.Undo();
  EXPECT_EQ(s.MasterAlpha(), 255);
  EXPECT_FLOAT_EQ(s.DocLeft(), 15) << "one Undo reverted two actions";
  doc.Undo();
  EXPECT_FLOAT_EQ(s.DocLeft(), 10);
  // The replay's inverse records sit in the redo list until the next edit.
  EXPECT_GT(doc.RedoCount(), 0);
  s.SetDocLeft(17);
  EXPECT_EQ(doc.RedoCount(), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DocumentUndo, OldestRecordsGoOnceTheyHoldMoreThanTenMebibytes) {
  TdtpDocument doc;
  doc.ClearUndo();
  // Each record counts name + value + 4 = exactly 1 MiB.
  auto record = [](std::int32_t id) {
    return std::make_unique<TdtpCommand>(ckPropertyChanged, id, "P", std::string((1 << 20) - 5, 'x'));
  };
  for (int id = 1; id <= 10; ++id) doc.AddUndo(record(id));
  EXPECT_EQ(doc.UndoCount(), 10);  // exactly 10 MiB stays
  doc.AddUndo(record(11));
  ASSERT_EQ(doc.UndoCount(), 10);
  EXPECT_EQ(doc.UndoList().front()->ShapeID, 2);
  EXPECT_EQ(doc.UndoList().back()->ShapeID, 11);
  // A record larger than the cap cannot be kept at all.
  doc.AddUndo(std::make_unique<TdtpCommand>(ckPropertyChanged, 12, "P", std::string(11 << 20, 'y')));
  EXPECT_EQ(doc.UndoCount(), 0);
  doc.AddUndo(record(13));
  EXPECT_EQ(doc.UndoCount(), 1);
}

TEST_F(DocumentUndo, LongRunsOfLargeDeletesAndUndosKeepRecording) {
  TdtpDocument doc;
  auto owned = std::make_unique<testing::MemberShape>();
  testing::MemberShape& shape = *owned;
  doc.AddShape(std::move(owned));
  shape.Store(std::string(3 << 20, 'z'));
  doc.ClearUndo();
  // Each delete records about 3 MiB; what Undo takes out must leave the
  // total, or after a few rounds every new record is trimmed at once.
  for (int round = 0; round < 12; ++round) {
    doc.GetShape(0)->SetSelected(true);
    doc.DeleteSelection();
    ASSERT_EQ(doc.ShapeCount(), 0);
    ASSERT_EQ(doc.UndoCount(), 1) << "round " << round;
    doc.Undo();
    ASSERT_EQ(doc.ShapeCount(), 1) << "round " << round;
    EXPECT_EQ(static_cast<testing::MemberShape*>(doc.GetShape(0))->Bytes().size(), 3u << 20);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DocumentUndo, DeleteSelectionIsOneActionAndSparesUndeletableShapes) {
  TdtpDocument doc;
  for (int i = 0; i < 4; ++i) AddBox(doc, 10.0f * i, 5).SetName("s" + std::to_string(i));
  doc.GetShape(2)->SetAllowDelete(false);
  for (int i : {0, 2, 3}) doc.GetShape(i)->SetSelected(true);
  doc.ClearUndo();
  const std::string before = PageXml(*doc.GetCurrentPage());
  doc.DeleteSelection();
  ASSERT_EQ(doc.ShapeCount(), 2);
  EXPECT_EQ(doc.GetShape(0)->Name(), "s1");
  EXPECT_EQ(doc.GetShape(1)->Name(), "s2");
  EXPECT_EQ(Groups(doc), 1);
  doc.Undo();
  EXPECT_EQ(PageXml(*doc.GetCurrentPage()), before);
  EXPECT_EQ(doc.UndoCount(), 0);
}

TEST_F(DocumentUndo, RecordsNobodyOwnsAreReportedOnce) {
  TdtpDocument doc;
  doc.BeginUndo();
  doc.AddUndo(std::make_unique<TdtpCommand>(ckPropertyChanged, 9999, "DocLeft", "1"));
  doc.AddUndo(std::make_unique<TdtpCommand>(ckPropertyChanged, 0, "DocLeft", "1"));
  doc.EndUndo();
  doc.Undo();
  // ID 0 is nobody's and silently ignored; an unknown ID is reported.
  EXPECT_EQ(messages_, std::vector<std::string>{"Unable to execute Undo"});
  EXPECT_EQ(doc.UndoCount(), 0);
}

// Random actions on random trees, each one group; undone one at a time,
// the page's XML must retrace every earlier state exactly.
TEST_F(DocumentUndo, RandomActionsUndoneOneByOneRetraceThePage) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };

    TdtpDocument doc;
    doc.SetUseClipboard(false);
    TdtpPage& page = *doc.GetCurrentPage();
    std::function<void(TdtpShape&, int)> grow = [&](TdtpShape& parent, int depth) {
      const int n = depth == 0 ? 3 + pick(3) : pick(3);
      for (int i = 0; i < n; ++i) {
        std::unique_ptr<TdtpShape> child;
        if (pick(3) == 0) {
          auto e = std::make_unique<TdtpEffectShape>();
          e->AddEffect(CreateEffect("TdtpEffect"));
          child = std::move(e);
        } else {
          child = std::make_unique<TdtpShape>();
        }
        child->SetDocBounds(uniform(0, 150), uniform(0, 200), uniform(1, 60), uniform(1, 60));
        TdtpShape& ref = *child;
        parent.AddShape(std::move(child));
        if (depth < 2) grow(ref, depth + 1);
      }
    };
    grow(page, 0);
    doc.ClearUndo();

    // Any shape of the tree, the page aside.
    auto anyShape = [&]() -> TdtpShape* {
      std::vector<TdtpShape*> all;
      std::function<void(TdtpShape&)> walk = [&](TdtpShape& s) {
        for (int i = 0; i < s.GetShapeCount(); ++i) {
          all.push_back(s.GetShape(i));
          walk(*s.GetShape(i));
        }
      };
      walk(page);
      return all.empty() ? nullptr : all[static_cast<std::size_t>(pick(static_cast<int>(all.size())))];
    };
    auto selectSome = [&] {
      doc.ClearSelection();
      for (int i = 0; i < page.GetShapeCount(); ++i)
        if (pick(2)) page.GetShape(i)->SetSelected(true);
    };

    std::vector<std::string> states;
    for (int step = 0; step < 40; ++step) {
      const std::string before = PageXml(page);
      const int groups = Groups(doc);
      TdtpShape* s = anyShape();
      const int action = pick(11);
      doc.BeginUndo();
      if (s && action == 10 && !doc.UndoList().empty() &&
          doc.UndoList().back()->Kind == ckPropertyChanged) {
        // The group's first record coalesces with the last one.
        const TdtpCommand& last = *doc.UndoList().back();
        doc.AddUndo(std::make_unique<TdtpCommand>(last.Kind, last.ShapeID, last.PropName, last.OldValue));
        s->SetMasterAlpha(pick(256));
      } else if (s) {
        switch (action) {
          case 0: s->SetDocPosition(uniform(-20, 200), uniform(-20, 250)); break;
          case 1: s->SetDocSize(uniform(0.5f, 90), uniform(0.5f, 90)); break;
          case 2: s->SetDocAngle(uniform(0, 360)); break;
          case 3: s->SetMasterAlpha(pick(256)); break;
          case 4: {
            auto child = std::make_unique<TdtpShape>();
            child->SetDocBounds(uniform(0, 20), uniform(0, 20), 5, 5);
            s->AddShape(std::move(child));
            break;
          }
          case 5:
            if (TdtpShape* parent = s->Parent()) parent->DeleteShape(parent->IndexOfShape(s));
            break;
          case 6:
            if (auto* e = dynamic_cast<TdtpEffectShape*>(s)) {
              if (e->EffectCount() > 0 && pick(2))
                e->DeleteEffect(pick(e->EffectCount()));
              else
                e->AddEffect(CreateEffect("TdtpEffect"));
            }
            break;
          case 7: selectSome(); doc.CutSelection(); break;
          case 8: doc.Paste(); break;
          case 9: selectSome(); doc.DeleteSelection(); break;
          default: break;
        }
      }
      doc.EndUndo();
      const int added = Groups(doc) - groups;
      ASSERT_LE(added, 1) << "action " << action;
      if (added == 1)
        states.push_back(before);
      else
        ASSERT_EQ(PageXml(page), before) << "action " << action << " changed the page unrecorded";
    }
    ASSERT_FALSE(states.empty());
    for (std::size_t k = states.size(); k-- > 0;) {
      doc.Undo();
      ASSERT_EQ(PageXml(page), states[k]) << "undo to state " << k;
    }
    EXPECT_EQ(doc.UndoCount(), 0);
    EXPECT_TRUE(messages_.empty());
  }
}

// ---- Clipboard ------------------------------------------------------------------

TEST_F(DocumentUndo, PastedCopiesStepAwayOnTheirOwnPageOnly) {
  for (bool system : {true, false}) {
    SCOPED_TRACE(system ? "system clipboard" : "private text");
    TdtpDocument doc;
    doc.SetUseClipboard(system);
    AddBox(doc, 30, 40).SetSelected(true);
    doc.CopySelection();
    doc.Paste();
    ASSERT_EQ(doc.ShapeCount(), 2);
    EXPECT_FLOAT_EQ(doc.GetShape(1)->DocLeft(), 40);
    EXPECT_FLOAT_EQ(doc.GetShape(1)->DocTop(), 50);
    EXPECT_TRUE(doc.GetShape(1)->Selected());
    EXPECT_FALSE(doc.GetShape(0)->Selected());
    doc.Paste();
    ASSERT_EQ(doc.ShapeCount(), 3);
    EXPECT_FLOAT_EQ(doc.GetShape(2)->DocLeft(), 50);
    EXPECT_FLOAT_EQ(doc.GetShape(2)->DocTop(), 60);
    // Each paste is one action.
    doc.Undo();
    EXPECT_EQ(doc.ShapeCount(), 2);

    // On another page the copies keep the copied place (the clipboard
    // still holds the second copy), until pasted there again.
    doc.SetCurrentPageIndex(doc.AddPage());
    doc.Paste();
    ASSERT_EQ(doc.ShapeCount(), 1);
    EXPECT_FLOAT_EQ(doc.GetShape(0)->DocLeft(), 50);
    doc.Paste();
    EXPECT_FLOAT_EQ(doc.GetShape(1)->DocLeft(), 60);
  }
}

TEST_F(DocumentUndo, CutForgetsTheSourceAndDeletedPagesAreForgotten) {
  TdtpDocument doc;
  doc.SetUseClipboard(false);
  AddBox(doc, 30, 40).SetSelected(true);
  doc.CutSelection();
  EXPECT_EQ(doc.ShapeCount(), 0);
  doc.Paste();
  ASSERT_EQ(doc.ShapeCount(), 1);
  EXPECT_FLOAT_EQ(doc.GetShape(0)->DocLeft(), 30);
  doc.Undo();
  doc.Undo();
  ASSERT_EQ(doc.ShapeCount(), 1);
  EXPECT_FLOAT_EQ(doc.GetShape(0)->DocLeft(), 30);

  // Copy from page 0, then delete that page: the page that takes its place
  // is not the copy's source.
  doc.AddPage();
  doc.GetShape(0)->SetSelected(true);
  doc.CopySelection();
  doc.DeletePage(0);
  doc.SetCurrentPageIndex(0);
  doc.Paste();
  ASSERT_EQ(doc.ShapeCount(), 1);
  EXPECT_FLOAT_EQ(doc.GetShape(0)->DocLeft(), 30);
}

TEST_F(DocumentUndo, CanPasteWantsXmlAtTheVeryStart) {
  TdtpDocument doc;
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(" <?xml version=\"1.0\"?><Selection/>");
  EXPECT_FALSE(doc.CanPaste());
  clipboard->setText("plain words");
  EXPECT_FALSE(doc.CanPaste());
  AddBox(doc, 1, 2).SetSelected(true);
  doc.CopySelection();
  // What we put there starts with the declaration, no byte-order mark.
  EXPECT_TRUE(clipboard->text().startsWith("<?xml"));
  EXPECT_TRUE(doc.CanPaste());

  // The private text stands apart from the system clipboard.
  doc.SetUseClipboard(false);
  EXPECT_FALSE(doc.CanPaste());
  doc.CopySelection();
  EXPECT_TRUE(doc.CanPaste());
  clipboard->setText("other");
  doc.Paste();
  EXPECT_EQ(doc.ShapeCount(), 2);
  doc.SetUseClipboard(true);
  doc.SetUseClipboard(false);
  EXPECT_FALSE(doc.CanPaste());
}

// A shape string written by hand: members, then the XML.
std::string ShapeString(const std::vector<std::pair<std::string, std::string>>& members,
                        const std::string& xml) {
  auto put = [](std::string& out, std::size_t n) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((n >> (8 * i)) & 0xFF);
  };
  std::string out;
  put(out, members.size());
  for (const auto& [name, bytes] : members) {
    put(out, name.size());
    out += name;
    put(out, bytes.size());
    out += bytes;
  }
  put(out, xml.size());
  return out + xml;
}

TEST_F(DocumentUndo, PastedShapesBringOnlyTheMembersTheyUse) {
  TdtpDocument doc;
  const std::string data = ShapeString(
      {{"a.png", "picture"}, {"unused.png", "stowaway"}, {"Page0007.xml", "<page/>"}},
      "<shape><ArchiveName>a.png</ArchiveName><DocWidth>5</DocWidth></shape>");
  ASSERT_EQ(doc.PasteFromString(SelectionText({{"TdtpTestMemberShape", EncodeBase64(data.data(), data.size())}})), 1);
  auto& shape = static_cast<testing::MemberShape&>(*doc.GetShape(0));
  EXPECT_EQ(shape.Bytes(), "picture");
  EXPECT_EQ(Members(*doc.Storage()), std::vector<std::string>{"a.png"});
}

TEST_F(DocumentUndo, PastingLinesAndPolygonsRecordsOnlyThePaste) {
  TdtpDocument doc;
  doc.SetUseClipboard(false);
  auto line = std::make_unique<TdtpLineShape>();
  line->AddLinePoint({5, 5});
  line->AddLinePoint({60, 30});
  auto polygon = std::make_unique<TdtpPolygonShape>();
  polygon->SetDocBounds(0, 0, 40, 40);
  polygon->SetStorePoints(true);
  for (TFloatPoint p : {TFloatPoint{0, 0}, TFloatPoint{40, 10}, TFloatPoint{20, 40}}) polygon->AddPoint(p);
  TdtpShape& l = *line;
  TdtpShape& p = *polygon;
  doc.AddShape(std::move(line));
  doc.AddShape(std::move(polygon));
  l.SetSelected(true);
  p.SetSelected(true);
  doc.CopySelection();
  doc.ClearUndo();
  const std::string before = PageXml(*doc.GetCurrentPage());

  doc.Paste();
  ASSERT_EQ(doc.ShapeCount(), 4);
  // Two shapes joined the page and moved by the offset: nothing else.
  EXPECT_EQ(Groups(doc), 1);
  for (const auto& c : doc.UndoList())
    EXPECT_TRUE(c->Kind == ckChildInserted || c->PropName == "DocLeft" || c->PropName == "DocTop")
        << c->PropName;
  doc.Undo();
  EXPECT_EQ(PageXml(*doc.GetCurrentPage()), before);
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DocumentUndo, PasteFromStringCountsOnlyWhatItAdded) {
  TdtpDocument doc;
  testing::MemberShape original;
  original.SetDocBounds(1, 2, 3, 4);
  const std::string good = EncodeBase64(original.SaveToString().data(), original.SaveToString().size());
  std::string bad = original.SaveToString();
  bad.resize(bad.size() - 3);  // the XML is cut short
  const std::string truncated = EncodeBase64(bad.data(), bad.size());
  doc.ClearUndo();
  const auto members = Members(*doc.Storage());

  EXPECT_EQ(doc.PasteFromString("not xml at all <"), 0);
  EXPECT_EQ(doc.PasteFromString("<?xml version=\"1.0\"?><Other><shape/></Other>"), 0);
  EXPECT_EQ(doc.PasteFromString(SelectionText({{"TdtpTestMemberShape", "!!not base64!!"},
                                               {"TdtpTestMemberShape", truncated},
                                               {"TdtpPage", good},
                                               {"TdtpTestFailingShape", good}})),
            0);
  EXPECT_EQ(doc.ShapeCount(), 0);
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_EQ(Members(*doc.Storage()), members);

  // What the pasted-shape handler changes on a new copy is part of the
  // copy, not a step of its own.
  doc.OnShapePasted = [](TdtpDocument&, TdtpShape* s) { s->SetDocWidth(s->DocWidth() + 1); };
  EXPECT_EQ(doc.PasteFromString(SelectionText({{"TdtpTestMemberShape", good},
                                               {"TdtpTestMemberShape", truncated},
                                               {"NoSuchClass", good}})),
            2);
  ASSERT_EQ(doc.ShapeCount(), 2);
  EXPECT_EQ(doc.GetShape(0)->ClassName(), "TdtpTestMemberShape");
  EXPECT_EQ(doc.GetShape(1)->ClassName(), "TdtpShape");  // unknown: the base kind
  EXPECT_FLOAT_EQ(doc.GetShape(1)->DocHeight(), 4);
  EXPECT_FLOAT_EQ(doc.GetShape(1)->DocWidth(), 4);
  // Joining the page is all a paste records.
  EXPECT_EQ(doc.UndoCount(), 2);
  doc.OnShapePasted = nullptr;

  // Without a page nothing joins, and nothing is left in the archive.
  doc.SetPageCount(0);
  const auto membersWithoutPage = Members(*doc.Storage());
  const std::string withPicture =
      ShapeString({{"a.png", "picture"}}, "<shape><ArchiveName>a.png</ArchiveName></shape>");
  EXPECT_EQ(doc.PasteFromString(SelectionText(
                {{"TdtpShape", good},
                 {"TdtpTestMemberShape", EncodeBase64(withPicture.data(), withPicture.size())}})),
            0);
  EXPECT_EQ(Members(*doc.Storage()), membersWithoutPage);
}

TEST_F(DocumentUndo, PastedImagesNeverShareTheOriginalsMember) {
  test::ScratchDir scratch;
  TdtpDocument doc;
  doc.SetUseClipboard(false);
  auto owned = std::make_unique<TdtpBitmapShape>();
  TdtpBitmapShape& image = *owned;
  doc.AddShape(std::move(owned));
  image.SetStorageKind(rsArchive);
  auto picture = test::OpaqueBitmap(13, 7, 5);
  image.Image().SetBitmap(picture.get());
  const auto pixels = test::ResourcePixels(image.Image());
  ASSERT_TRUE(TqxStorage::IsTempStreamName(image.Image().ArchiveName()));

  // Copy, paste, delete the copy, save and open again.
  image.SetSelected(true);
  doc.CopySelection();
  doc.Paste();
  ASSERT_EQ(doc.ShapeCount(), 2);
  auto& copy = static_cast<TdtpBitmapShape&>(*doc.GetShape(1));
  EXPECT_NE(copy.Image().ArchiveName(), image.Image().ArchiveName());
  EXPECT_EQ(test::ResourcePixels(copy.Image()), pixels);
  doc.DeleteSelection();
  ASSERT_EQ(doc.ShapeCount(), 1);
  const auto file = scratch.Path() / "copy.ovx";
  doc.SaveToFile(file.string());

  TdtpDocument reopened;
  reopened.LoadFromFile(file.string());
  ASSERT_EQ(reopened.ShapeCount(), 1);
  auto& loaded = static_cast<TdtpBitmapShape&>(*reopened.GetShape(0));
  EXPECT_EQ(test::ResourcePixels(loaded.Image()), pixels);
  EXPECT_EQ(reopened.UndoCount(), 0);
}

}  // namespace
}  // namespace kdl

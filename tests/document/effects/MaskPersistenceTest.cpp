// The mask effect's XML written by hand, and a mask image carried through
// saving and reopening, copying its shape and undoing its effect's removal.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FakeDocument.h"
#include "RasterTesting.h"
#include "RenderTestShapes.h"
#include "TestFiles.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/effects/MaskEffect.h"
#include "document/resources/BitmapResource.h"
#include "foundation/BrenlowXml.h"
#include "foundation/Storage.h"

namespace kdl {
namespace {

using testing::FakeDocument;
using testing::RectShape;

std::string EffectXml(const TdtpEffect& e) {
  TBrenlowXml xml("Effect");
  e.SaveToXml(xml.Root());
  return xml.Root()->WriteToString();
}

void LoadEffectXml(TdtpEffect& e, const std::string& text) {
  TBrenlowXml xml;
  xml.ReadFromString(text);
  e.LoadFromXml(xml.Root());
}

const std::string kFeather =
    "<Mask Index=\"1\"><ClassName>TdtpFeatherMask</ClassName><Enabled>True</Enabled>"
    "<Operation>3</Operation><Feather>.01</Feather></Mask>";
const std::string kPositionHead =
    "<Mask Index=\"2\"><ClassName>TdtpPositionMask</ClassName><Enabled>True</Enabled>"
    "<FlipAlphaChannel>True</FlipAlphaChannel>";
const std::string kPositionTail = "<Height>.5</Height><Left>.25</Left><Rotation>1</Rotation></Mask>";
const std::string kBitmap =
    "<Mask Index=\"3\"><ClassName>TdtpBitmapMask</ClassName><Enabled>True</Enabled>"
    "<Operation>5</Operation><Top>.125</Top><Width>.75</Width><Rotation>3</Rotation>"
    "<OutsideIsTransparent>True</OutsideIsTransparent>"
    "<Image><ClassName>TdtpBitmapResource</ClassName><Storage>Embedded</Storage></Image></Mask>";
const std::string kPolygon =
    "<Mask Index=\"4\"><ClassName>TdtpPolygonMask</ClassName><Enabled>True</Enabled>"
    "<Style>3</Style></Mask>";
const std::string kGlyph =
    "<Mask Index=\"5\"><ClassName>TdtpPolygonMask</ClassName><Operation>6</Operation>"
    "<GlyphFontName>Liberation Serif</GlyphFontName><Shape>2</Shape>"
    "<GlyphFontStyle><Bold>True</Bold><Strikeout>True</Strikeout></GlyphFontStyle>"
    "<GlyphText>Star</GlyphText></Mask>";
const std::string kHead = "<Effect><ClassName>TdtpMaskEffect</ClassName><Enabled>True</Enabled>";

class MaskPersistence : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitializeDocumentLibrary();
    testing::RegisterRenderTestClasses();
  }
};

TEST_F(MaskPersistence, OneMaskOfEachKindWrittenByHand) {
  TdtpMaskEffect effect;
  effect.AddMask(std::make_unique<TdtpFeatherMask>());
  auto position = std::make_unique<TdtpPositionMask>();
  position->SetFlipAlphaChannel(true);
  position->SetHeight(0.5f);
  position->SetLeft(0.25f);
  position->SetRotation(1);
  effect.AddMask(std::move(position));
  auto bitmap = std::make_unique<TdtpBitmapMask>();
  bitmap->SetOperation(5);
  bitmap->SetTop(0.125f);
  bitmap->SetWidth(0.75f);
  bitmap->SetRotation(3);
  bitmap->SetOutsideIsTransparent(true);
  effect.AddMask(std::move(bitmap));
  effect.AddMask(std::make_unique<TdtpPolygonMask>());
  auto glyph = std::make_unique<TdtpPolygonMask>();
  glyph->SetEnabled(false);
  glyph->SetOperation(6);
  glyph->SetGlyphFontName("Liberation Serif");
  glyph->SetShape(2);
  glyph->SetStyle(0);
  glyph->SetGlyphFontStyle(fsBold | fsStrikeOut);
  glyph->SetGlyphText(u"Star");
  effect.AddMask(std::move(glyph));
  const std::string golden =
      kHead + kFeather + kPositionHead + kPositionTail + kBitmap + kPolygon + kGlyph + "</Effect>";
  EXPECT_EQ(EffectXml(effect), golden);

  // Read back: a position mask is not a class of its own and comes back as
  // a plain mask, which keeps what every mask has.
  TdtpMaskEffect reread;
  LoadEffectXml(reread, golden);
  ASSERT_EQ(reread.MaskCount(), 5);
  EXPECT_EQ(reread.GetMask(1)->ClassName(), "TdtpMask");
  EXPECT_EQ(reread.GetMask(5), nullptr);
  EXPECT_EQ(EffectXml(reread), kHead + kFeather +
                                   "<Mask Index=\"2\"><ClassName>TdtpMask</ClassName><Enabled>True</Enabled>"
                                   "<FlipAlphaChannel>True</FlipAlphaChannel></Mask>" +
                                   kBitmap + kPolygon + kGlyph + "</Effect>");
  auto* polygon = dynamic_cast<TdtpPolygonMask*>(reread.GetMask(3));
  ASSERT_TRUE(polygon);
  EXPECT_TRUE(polygon->RebuildPending());
  auto* star = dynamic_cast<TdtpPolygonMask*>(reread.GetMask(4));
  ASSERT_TRUE(star);
  EXPECT_EQ(star->GlyphText(), u"Star");
  EXPECT_EQ(star->GlyphFontStyle(), fsBold | fsStrikeOut);
  EXPECT_FALSE(star->Enabled());

  // Absent elements read their own defaults: Style 0, Height and Width 1.
  TdtpMaskEffect bare;
  LoadEffectXml(bare, "<Effect><ClassName>TdtpMaskEffect</ClassName>"
                      "<Mask><ClassName>TdtpPolygonMask</ClassName></Mask>"
                      "<Mask><ClassName>TdtpNoSuchMask</ClassName></Mask></Effect>");
  ASSERT_EQ(bare.MaskCount(), 2);
  auto* p = dynamic_cast<TdtpPolygonMask*>(bare.GetMask(0));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->Style(), 0);
  EXPECT_EQ(p->Width(), 1);
  EXPECT_FALSE(p->Enabled());
  EXPECT_EQ(bare.GetMask(1)->ClassName(), "TdtpMask");

  // The effect reaches the shape through its class name.
  EXPECT_EQ(CreateEffect("TdtpMaskEffect")->ClassName(), "TdtpMaskEffect");
  EXPECT_EQ(CreateMask("TdtpPositionMask")->ClassName(), "TdtpMask");
  EXPECT_EQ(CreateMask("tdtpfeathermask")->ClassName(), "TdtpMask");
}

TEST_F(MaskPersistence, ByteFieldsPastTheirRangeNeverWrapOntoValidValues) {
  // 256 would wrap to 0 and -255 to 1; each becomes 255, which no table knows.
  for (const char* value : {"256", "257", "-255", "-1", "65536"}) {
    SCOPED_TRACE(value);
    const std::string v(value);
    TdtpMaskEffect effect;
    LoadEffectXml(effect, kHead + "<Mask><ClassName>TdtpBitmapMask</ClassName><Operation>" + v +
                              "</Operation><Rotation>" + v + "</Rotation></Mask>"
                              "<Mask><ClassName>TdtpPolygonMask</ClassName><Shape>" + v + "</Shape><Style>" + v +
                              "</Style></Mask></Effect>");
    ASSERT_EQ(effect.MaskCount(), 2);
    auto* bitmap = dynamic_cast<TdtpBitmapMask*>(effect.GetMask(0));
    auto* polygon = dynamic_cast<TdtpPolygonMask*>(effect.GetMask(1));
    ASSERT_TRUE(bitmap && polygon);
    EXPECT_EQ(bitmap->Operation(), 255);
    EXPECT_EQ(bitmap->Rotation(), 255);
    EXPECT_EQ(polygon->Shape(), 255);
    EXPECT_EQ(polygon->Style(), 255);
  }
  // The ends of the range stay as they are.
  TdtpMaskEffect effect;
  LoadEffectXml(effect, kHead + "<Mask><ClassName>TdtpBitmapMask</ClassName><Operation>254</Operation>"
                                "<Rotation>0</Rotation></Mask></Effect>");
  auto* bitmap = dynamic_cast<TdtpBitmapMask*>(effect.GetMask(0));
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->Operation(), 254);
  EXPECT_EQ(bitmap->Rotation(), 0);
}

// ---- The mask image in a document --------------------------------------------------

class MaskImage : public MaskPersistence {
 protected:
  void SetUp() override {
    picture_ = std::make_unique<TBitmap32>();
    test::FillRandom(*picture_, 7, 5, 11);
    for (int i = 0; i < 35; ++i) picture_->Bits()[i] |= 0xFF000000u;
  }
  // A shape in doc with a mask effect holding one archived bitmap mask.
  std::unique_ptr<RectShape> NewShape(FakeDocument& doc) {
    auto shape = std::make_unique<RectShape>();
    shape->SetDocument(&doc);
    shape->SetDocBounds(0, 0, 10, 10);
    auto effect = std::make_unique<TdtpMaskEffect>();
    auto mask = std::make_unique<TdtpBitmapMask>();
    TdtpBitmapMask& m = *mask;
    effect->AddMask(std::move(mask));
    shape->AddEffect(std::move(effect));
    m.Image().SetStorage(rsArchive);
    m.Image().SetBitmap(picture_.get());
    return shape;
  }
  static TdtpBitmapMask& MaskOf(TdtpShape& shape) {
    auto* effect = static_cast<TdtpEffectShape&>(shape).FindEffect<TdtpMaskEffect>();
    EXPECT_TRUE(effect);
    auto* mask = dynamic_cast<TdtpBitmapMask*>(effect->GetMask(0));
    EXPECT_TRUE(mask);
    return *mask;
  }
  static std::vector<TColor32> PixelsOf(TdtpShape& shape) {
    TdtpResource& r = MaskOf(shape).Image();
    TResourceAccess access(r);
    TBitmap32* b = r.GetBitmap();
    return b ? test::Pixels(*b) : std::vector<TColor32>{};
  }
  std::unique_ptr<TBitmap32> picture_;
  test::ScratchDir scratch_;
};

TEST_F(MaskImage, JoinsTheDocumentAndSurvivesSaveAndReopen) {
  FakeDocument doc;
  auto shape = NewShape(doc);
  EXPECT_EQ(MaskOf(*shape).Image().Document(), &doc);
  const std::string name = MaskOf(*shape).Image().ArchiveName();
  ASSERT_FALSE(name.empty());
  std::vector<std::string> names;
  shape->GetResourceNames(names);
  EXPECT_EQ(names, std::vector<std::string>{name});
  const std::string xml = testing::ShapeXml(*shape);
  const auto file = scratch_ / "doc.stor";
  doc.Storage()->SaveToFile(file);

  FakeDocument reopened;
  reopened.Storage()->LoadFromFile(file);
  RectShape again;
  again.SetDocument(&reopened);
  testing::LoadShapeXml(again, xml);
  EXPECT_EQ(MaskOf(again).Image().ArchiveName(), name);
  EXPECT_EQ(PixelsOf(again), test::Pixels(*picture_));
  // Saved once more, it still names its member.
  EXPECT_EQ(testing::ShapeXml(again), xml);
  EXPECT_TRUE(reopened.Storage()->StreamExists(name));
  // A mask added later joins at once.
  auto* effect = again.FindEffect<TdtpMaskEffect>();
  effect->AddMask(std::make_unique<TdtpBitmapMask>());
  EXPECT_EQ(static_cast<TdtpBitmapMask*>(effect->GetMask(1))->Image().Document(), &reopened);
}

TEST_F(MaskImage, CopiesOfTheShapeOwnTheirMembers) {
  FakeDocument doc;
  auto shape = NewShape(doc);
  RectShape copy;
  copy.SetDocument(&doc);
  copy.Assign(*shape);
  const std::string mine = MaskOf(*shape).Image().ArchiveName();
  const std::string theirs = MaskOf(copy).Image().ArchiveName();
  EXPECT_NE(mine, theirs);
  EXPECT_TRUE(doc.Storage()->StreamExists(theirs));
  EXPECT_EQ(PixelsOf(copy), test::Pixels(*picture_));
  // Changing the original's image leaves the copy's alone.
  TBitmap32 other;
  other.SetSize(2, 2);
  other.Clear(0xFF00FF00u);
  MaskOf(*shape).Image().SetBitmap(&other);
  EXPECT_EQ(PixelsOf(copy), test::Pixels(*picture_));

  // Into another document, through the shape string.
  FakeDocument elsewhere;
  RectShape far;
  far.SetDocument(&elsewhere);
  far.LoadFromString(copy.SaveToString());
  EXPECT_EQ(PixelsOf(far), test::Pixels(*picture_));
}

TEST_F(MaskImage, UndoingTheEffectsRemovalBringsTheImageBack) {
  FakeDocument doc;
  TdtpShape root;
  root.SetDocument(&doc);
  root.AddShape(NewShape(doc));
  TdtpEffectShape& shape = static_cast<TdtpEffectShape&>(*root.GetShape(0));
  const std::string name = MaskOf(shape).Image().ArchiveName();
  doc.ClearUndo();
  shape.DeleteEffect(0);
  EXPECT_EQ(shape.EffectCount(), 0);
  ASSERT_TRUE(doc.Undo(root));
  EXPECT_EQ(doc.Refused, 0);
  ASSERT_EQ(shape.EffectCount(), 1);
  EXPECT_EQ(PixelsOf(shape), test::Pixels(*picture_));
  EXPECT_TRUE(doc.Storage()->StreamExists(MaskOf(shape).Image().ArchiveName()));
}

TEST_F(MaskImage, ReadingTheShapeReadsTheImageFromTheDocumentsArchive) {
  // The image knows its document before it reads its XML: its member is read
  // at once, and a member the archive lacks is forgotten rather than named
  // again by the next save.
  FakeDocument doc;
  auto shape = NewShape(doc);
  const std::string name = MaskOf(*shape).Image().ArchiveName();
  const std::string xml = testing::ShapeXml(*shape);
  const auto file = scratch_ / "doc.stor";
  doc.Storage()->SaveToFile(file);

  FakeDocument reopened;
  reopened.Storage()->LoadFromFile(file);
  RectShape again;
  again.SetDocument(&reopened);
  testing::LoadShapeXml(again, xml);
  EXPECT_EQ(MaskOf(again).Image().Document(), &reopened);
  EXPECT_TRUE(MaskOf(again).Image().DataLoaded());
  EXPECT_EQ(MaskOf(again).Image().GetLoadState(), 1);
  EXPECT_EQ(MaskOf(again).Image().ArchiveName(), name);

  FakeDocument empty;
  RectShape lost;
  lost.SetDocument(&empty);
  testing::LoadShapeXml(lost, xml);
  EXPECT_TRUE(MaskOf(lost).Image().ArchiveName().empty());
  EXPECT_EQ(PixelsOf(lost), std::vector<TColor32>{});
}

}  // namespace
}  // namespace kdl

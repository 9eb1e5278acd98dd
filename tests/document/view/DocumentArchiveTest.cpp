// Documents saved and opened again: whole round trips member by member,
// pages read only on first use and carried over untouched, members
// renumbered by a page deletion, settings from untrusted files, saves that
// fail, and files checked and written by an independent Python reader.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "../resources/ResourceTestUtil.h"
#include "TestFiles.h"
#include "ViewTesting.h"
#include "document/effects/Effect.h"
#include "document/effects/EffectShape.h"
#include "document/kinds/GroupShape.h"
#include "document/resources/BitmapResource.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

using Members = std::map<std::string, std::string>;
using test::MemberBytes;
using test::OpaqueBitmap;
using test::WriteMember;

using DocumentArchiveTest = test::DocumentLibraryTest;
using test::ArchiveBytes;
using test::LoadBytes;
using test::SaveBytes;

Members ReadMembers(const std::string& bytes) {
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  m.Seek(0, soBeginning);
  TqxStorage storage;
  storage.LoadFromStream(m);
  Members out;
  for (const TqxIndexItem& item : storage.Items()) out[item.Name] = MemberBytes(storage, item.Name);
  return out;
}

std::string PageXml(int number, const std::vector<std::string>& shapes) {
  std::string xml = "<Page Index=\"" + std::to_string(number) + "\"><ClassName>TdtpPage</ClassName>";
  int i = 0;
  for (const std::string& name : shapes) {
    xml += "<Shape Index=\"" + std::to_string(++i) +
           "\"><ClassName>TdtpShape</ClassName><DocWidth>10</DocWidth><DocHeight>10</DocHeight><Name>" +
           name + "</Name></Shape>";
  }
  return xml + "</Page>";
}

std::vector<std::string> ShapeNames(TdtpPage* page) {
  std::vector<std::string> names;
  for (int i = 0; i < page->GetShapeCount(); ++i) names.push_back(page->GetShape(i)->Name());
  return names;
}

std::unique_ptr<TdtpShape> NamedShape(const std::string& name, float left = 10) {
  auto shape = std::make_unique<TdtpShape>();
  shape->SetDocBounds(left, 12, 30, 20);
  shape->SetName(name);
  return shape;
}

// Three pages: a group whose children follow their anchors and an effect
// shape on the first, a page of its own size and colour, a plain default
// page; the default background a PNG member of the archive.
void BuildThreePages(TdtpDocument& doc) {
  doc.SetPageCount(3);
  auto group = std::make_unique<TdtpGroupShape>();
  group->SetDocBounds(20, 20, 80, 60);
  group->SetName("group");
  auto child = NamedShape("anchored", 5);
  child->SetAnchors(akRightLock | akBottomLock | akSizeXProp);
  group->AddShape(std::move(child));
  group->AddShape(NamedShape("plain", 40));
  group->SetGrouped(true);
  doc.AddShape(std::move(group));
  auto effect = std::make_unique<TdtpEffectShape>();
  effect->SetDocBounds(30, 100, 50, 40);
  effect->SetName("effect");
  effect->AddEffect(std::make_unique<TdtpEffect>());
  doc.AddShape(std::move(effect));

  doc.SetCurrentPageIndex(1);
  TdtpPage* own = doc.CurrentPage();
  own->SetIsDefaultPage(false);
  own->SetPageWidth(120);
  own->SetPageHeight(125.5f);
  own->SetPageColor(0x00FF00);
  doc.AddShape(NamedShape("second"));

  doc.SetCurrentPageIndex(2);
  doc.AddShape(NamedShape("third"));
  doc.SetCurrentPageIndex(0);

  TResourcesLock lock;
  TdtpBitmapResource& bgr = *doc.DefaultBackground();
  bgr.SetStorage(rsArchive);
  bgr.ChangeFileExt(".png");
  auto bitmap = OpaqueBitmap(7, 5, 42);
  bgr.SetBitmap(bitmap.get());
}

// ---- Round trips ---------------------------------------------------------------------------------

TEST_F(DocumentArchiveTest, FullRewriteOfAnOpenedDocumentIsByteIdentical) {
  TdtpDocument doc;
  BuildThreePages(doc);
  const std::string first = SaveBytes(doc);
  EXPECT_FALSE(doc.Modified());

  TdtpDocument again;
  LoadBytes(again, first);
  ASSERT_EQ(again.PageCount(), 3);
  for (int i = 0; i < 3; ++i) again.SetCurrentPageIndex(i);
  EXPECT_EQ(ShapeNames(again.GetPage(0)), (std::vector<std::string>{"group", "effect"}));
  EXPECT_EQ(again.GetPage(1)->PageWidth(), 120.0f);
  EXPECT_FALSE(again.GetPage(1)->IsDefaultPage());
  again.ForceFullSave();
  const std::string second = SaveBytes(again);

  const Members a = ReadMembers(first), b = ReadMembers(second);
  std::vector<std::string> names;
  for (const auto& [name, bytes] : a) names.push_back(name);
  // Index, three pages, three thumbnails and the background image.
  EXPECT_EQ(a.size(), 8u);
  EXPECT_EQ(a.count("Thumb0003.bmp"), 1u);
  ASSERT_EQ(a.size(), b.size());
  for (const auto& [name, bytes] : a) {
    ASSERT_EQ(b.count(name), 1u) << name;
    EXPECT_EQ(b.at(name), bytes) << name;
  }
}

TEST_F(DocumentArchiveTest, DefaultIndexMatchesTheHandWrittenFile) {
  TdtpDocument doc;
  const Members m = ReadMembers(SaveBytes(doc));
  const std::string golden =
      test::ReadFile(std::string(KDL_SOURCE_DIR) + "/tests/document/view/data/DefaultIndex.xml");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(m.at("Index.xml"), golden);
  // One empty page and its thumbnail beside it.
  EXPECT_EQ(m.count("Page0001.xml"), 1u);
  EXPECT_EQ(m.count("Thumb0001.bmp"), 1u);
}

// ---- Lazy pages ------------------------------------------------------------------------------------

TEST_F(DocumentArchiveTest, GapsInPageNumbersAreEmptyPagesAndPagesLoadOnFirstUse) {
  TdtpDocument doc;
  LoadBytes(doc, ArchiveBytes({{"Index.xml", "<Document/>"},
                              {"Page0001.xml", PageXml(1, {"one"})},
                              {"Page0003.xml", PageXml(3, {"three"})}}));
  ASSERT_EQ(doc.PageCount(), 3);
  EXPECT_TRUE(doc.GetPage(0)->IsLoaded());
  EXPECT_FALSE(doc.GetPage(1)->IsLoaded());
  EXPECT_FALSE(doc.GetPage(2)->IsLoaded());
  EXPECT_FALSE(doc.Modified());
  EXPECT_EQ(ShapeNames(doc.GetPage(0)), std::vector<std::string>{"one"});
  doc.SetCurrentPageIndex(1);
  EXPECT_TRUE(doc.GetPage(1)->IsLoaded());
  EXPECT_EQ(doc.GetPage(1)->GetShapeCount(), 0);
  doc.SetCurrentPageIndex(2);
  EXPECT_EQ(ShapeNames(doc.GetPage(2)), std::vector<std::string>{"three"});
}

TEST_F(DocumentArchiveTest, SecondSaveWithoutChangesLeavesPageMembersAlone) {
  TdtpDocument doc;
  LoadBytes(doc, ArchiveBytes({{"Index.xml", "<Document/>"},
                              {"Page0001.xml", PageXml(1, {"one"})},
                              {"Page0002.xml", PageXml(2, {"two"})}}));
  const Members first = ReadMembers(SaveBytes(doc));
  // Neither page changed: both members are the bytes that were read.
  EXPECT_EQ(first.at("Page0001.xml"), PageXml(1, {"one"}));
  EXPECT_EQ(first.at("Page0002.xml"), PageXml(2, {"two"}));
  WriteMember(*doc.Storage(), "Page0002.xml", PageXml(2, {"replaced"}));
  const Members second = ReadMembers(SaveBytes(doc));
  EXPECT_EQ(second.at("Page0002.xml"), PageXml(2, {"replaced"}));
  EXPECT_EQ(second.at("Page0001.xml"), first.at("Page0001.xml"));
  // A changed page is written again.
  doc.AddShape(NamedShape("new"));
  const Members third = ReadMembers(SaveBytes(doc));
  EXPECT_NE(third.at("Page0001.xml"), first.at("Page0001.xml"));
  EXPECT_EQ(third.at("Page0002.xml"), PageXml(2, {"replaced"}));
}

TEST_F(DocumentArchiveTest, UnvisitedPageSurvivesEverythingThatRewritesPages) {
  TdtpDocument doc;
  LoadBytes(doc, ArchiveBytes({{"Index.xml", "<Document/>"},
                              {"Page0001.xml", PageXml(1, {"one"})},
                              {"Page0002.xml", PageXml(2, {"two"})},
                              {"Page0003.xml", PageXml(3, {"three-a", "three-b"})}}));
  doc.SetThumbnailWidth(100);
  doc.SetDefaultPageHeight(200);
  doc.ForceFullSave();
  doc.DeletePage(0);
  ASSERT_EQ(doc.PageCount(), 2);
  const std::string saved = SaveBytes(doc);
  TdtpDocument reopened;
  LoadBytes(reopened, saved);
  ASSERT_EQ(reopened.PageCount(), 2);
  reopened.SetCurrentPageIndex(1);
  EXPECT_EQ(ShapeNames(reopened.GetPage(0)), std::vector<std::string>{"two"});
  EXPECT_EQ(ShapeNames(reopened.GetPage(1)), (std::vector<std::string>{"three-a", "three-b"}));
  EXPECT_EQ(reopened.GetPage(1)->PageHeight(), 200.0f);
  EXPECT_EQ(reopened.ThumbnailWidth(), 100);
}

TEST_F(DocumentArchiveTest, UnreadablePageKeepsItsMemberUntilTheUserChangesIt) {
  const std::string corrupt = "<Page Index=\"2\"><Shape Index=\"1\"><ClassName>TdtpShape</Page></Shape>";
  const std::string archive = ArchiveBytes({{"Index.xml", "<Document/>"},
                                           {"Page0001.xml", PageXml(1, {"one"})},
                                           {"Page0002.xml", corrupt}});
  {
    // Never visited, through a size change and a forced full save.
    TdtpDocument doc;
    LoadBytes(doc, archive);
    doc.SetDefaultPageWidth(100);
    doc.SetThumbnailHeight(70);
    doc.ForceFullSave();
    EXPECT_EQ(ReadMembers(SaveBytes(doc)).at("Page0002.xml"), corrupt);
  }
  TdtpDocument doc;
  LoadBytes(doc, archive);
  // Visited: the error is reported, the page stays empty, the member too.
  EXPECT_EQ(test::ErrorOf([&] { doc.SetCurrentPageIndex(1); }), "Incorrect close tag in element ClassName");
  EXPECT_EQ(doc.CurrentPageIndex(), 1);
  EXPECT_EQ(doc.GetPage(1)->GetShapeCount(), 0);
  doc.SetCurrentPageIndex(0);
  EXPECT_EQ(test::ErrorOf([&] { doc.SetCurrentPageIndex(1); }), "(no error)");
  doc.ForceFullSave();
  EXPECT_EQ(ReadMembers(SaveBytes(doc)).at("Page0002.xml"), corrupt);
  // A first page that cannot be read: the document opens all the same.
  TdtpDocument first;
  EXPECT_EQ(test::ErrorOf([&] {
              LoadBytes(first, ArchiveBytes({{"Index.xml", "<Document/>"},
                                            {"Page0001.xml", corrupt},
                                            {"Page0002.xml", PageXml(2, {"two"})}}));
            }),
            "Incorrect close tag in element ClassName");
  EXPECT_EQ(first.PageCount(), 2);
  EXPECT_EQ(first.CurrentPageIndex(), 0);
  EXPECT_FALSE(first.IsLoading());
  EXPECT_EQ(ReadMembers(SaveBytes(first)).at("Page0001.xml"), corrupt);
  // What the user puts on it is saved.
  doc.AddShape(NamedShape("mine"));
  TdtpDocument reopened;
  LoadBytes(reopened, SaveBytes(doc));
  reopened.SetCurrentPageIndex(1);
  EXPECT_EQ(ShapeNames(reopened.GetPage(1)), std::vector<std::string>{"mine"});
}

TEST_F(DocumentArchiveTest, DeletingAPageRenumbersTheLaterMembers) {
  TdtpDocument doc;
  LoadBytes(doc, ArchiveBytes({{"Index.xml", "<Document/>"},
                              {"Page0001.xml", PageXml(1, {"one"})},
                              {"Page0002.xml", PageXml(2, {"two"})},
                              {"Page0003.xml", PageXml(3, {"three"})},
                              {"Thumb0001.bmp", "t1"},
                              {"Thumb0002.bmp", "t2"},
                              {"Thumb0003.bmp", "t3"},
                              {"Image.png", "img"}}));
  doc.DeletePage(1);
  TqxStorage& s = *doc.Storage();
  EXPECT_EQ(MemberBytes(s, "Page0001.xml"), PageXml(1, {"one"}));
  EXPECT_EQ(MemberBytes(s, "Page0002.xml"), PageXml(3, {"three"}));
  EXPECT_FALSE(s.StreamExists("Page0003.xml"));
  EXPECT_EQ(MemberBytes(s, "Thumb0001.bmp"), "t1");
  EXPECT_EQ(MemberBytes(s, "Thumb0002.bmp"), "t3");
  EXPECT_FALSE(s.StreamExists("Thumb0003.bmp"));
  EXPECT_EQ(MemberBytes(s, "Image.png"), "img");
  EXPECT_TRUE(doc.Modified());
  doc.DeletePage(7);
  EXPECT_EQ(doc.PageCount(), 2);
}

// ---- Refused files ---------------------------------------------------------------------------------

TEST_F(DocumentArchiveTest, FilesThatCannotBeOpenedSayWhy) {
  TdtpDocument doc;
  EXPECT_EQ(test::ErrorOf([&] { LoadBytes(doc, ArchiveBytes({{"Page0001.xml", PageXml(1, {})}})); }),
            kNoIndexFound);
  EXPECT_EQ(test::ErrorOf([&] { LoadBytes(doc, ArchiveBytes({{"Index.xml", ""}})); }), kNoIndexFound);
  // A crafted page number makes no pages at all.
  EXPECT_EQ(test::ErrorOf([&] {
              LoadBytes(doc, ArchiveBytes({{"Index.xml", "<Document/>"}, {"Page9999.xml", ""}}));
            }),
            kInvalidPageCount);
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_FALSE(doc.IsLoading());
  EXPECT_FALSE(doc.IsBusy());
  EXPECT_EQ(test::ErrorOf([&] {
              LoadBytes(doc, ArchiveBytes({{"Index.xml", "<Document/>"}, {"Page0026.xml", ""}}));
            }),
            kInvalidPageCount);
  LoadBytes(doc, ArchiveBytes({{"Index.xml", "<Document/>"}, {"Page0025.xml", ""}, {"PageXY.xml", ""}}));
  EXPECT_EQ(doc.PageCount(), 25);
  EXPECT_EQ(test::ErrorOf([&] { doc.LoadFromFile("/nonexistent/file.kdl"); }),
            "Cannot find file \"/nonexistent/file.kdl\"");
  // The document was not reset for a missing file.
  EXPECT_EQ(doc.PageCount(), 25);
}

TEST_F(DocumentArchiveTest, SettingsThatWouldBreakTheViewReadAsDefaults) {
  TdtpDocument doc;
  LoadBytes(doc, ArchiveBytes({{"Index.xml",
                               "<Document><HandleColor>$00123456</HandleColor>"
                               "<StretchFilter>99</StretchFilter><RenderDpm>-3</RenderDpm>"
                               "<ScreenDpm>0</ScreenDpm><ViewStyle>7</ViewStyle>"
                               "<DefaultPageWidth>0</DefaultPageWidth>"
                               "<DefaultPageHeight>1e39</DefaultPageHeight>"
                               "<DefaultGridSize>1e300</DefaultGridSize>"
                               "<ThumbnailWidth>100000</ThumbnailWidth><ThumbnailHeight>0</ThumbnailHeight>"
                               "<ShowMargins>True</ShowMargins></Document>"},
                              {"Page0001.xml", PageXml(1, {"one"})}}));
  EXPECT_EQ(doc.HandleColor(), 0x123456);
  EXPECT_EQ(doc.Quality(), sfNearest);
  EXPECT_FLOAT_EQ(doc.RenderDpm(), 5.905512f);
  EXPECT_FLOAT_EQ(doc.ScreenDpm(), 5.905512f);
  EXPECT_EQ(doc.ViewStyle(), vsPrintLayout);
  EXPECT_EQ(doc.DefaultPageWidth(), 210.0f);
  EXPECT_EQ(doc.DefaultPageHeight(), 297.0f);
  EXPECT_EQ(doc.DefaultGridSize(), 5.0f);
  EXPECT_EQ(doc.ThumbnailWidth(), 80);
  EXPECT_EQ(doc.ThumbnailHeight(), 60);
  EXPECT_TRUE(doc.ShowMargins());
  // Read defaults, not the new document's: a missing element is False.
  EXPECT_FALSE(doc.SnapToGrid());

  // The setters refuse the same values.
  for (std::int32_t side : {0, -5, 100000}) {
    doc.SetThumbnailWidth(side);
    doc.SetThumbnailHeight(side);
  }
  EXPECT_EQ(doc.ThumbnailWidth(), 80);
  EXPECT_EQ(doc.ThumbnailHeight(), 60);
  for (float dpm : {0.0f, -3.0f, NAN, INFINITY}) doc.SetRenderDpm(dpm);
  EXPECT_FLOAT_EQ(doc.RenderDpm(), 5.905512f);
}

// ---- Saving ------------------------------------------------------------------------------------------

TEST_F(DocumentArchiveTest, FailedSaveLeavesTheDocumentModifiedWithItsUndo) {
  test::ScratchDir dir;
  TdtpDocument doc;
  doc.AddShape(NamedShape("a"));
  doc.GetShape(0)->SetDocLeft(50);
  const int undo = doc.UndoCount();
  ASSERT_GT(undo, 0);
  EXPECT_NE(test::ErrorOf([&] { doc.SaveToFile((dir / "missing" / "x.kdl").string()); }), "(no error)");
  EXPECT_TRUE(doc.Modified());
  EXPECT_EQ(doc.UndoCount(), undo);
  EXPECT_FALSE(doc.IsBusy());

  doc.SetUndoPastSave(true);
  doc.SaveToFile((dir / "x.kdl").string());
  EXPECT_FALSE(doc.Modified());
  EXPECT_EQ(doc.UndoCount(), undo);
  doc.SetUndoPastSave(false);
  doc.SaveToFile((dir / "x.kdl").string());
  EXPECT_EQ(doc.UndoCount(), 0);

  TdtpDocument reopened;
  reopened.LoadFromFile((dir / "x.kdl").string());
  EXPECT_EQ(ShapeNames(reopened.GetPage(0)), std::vector<std::string>{"a"});
  EXPECT_EQ(reopened.GetPage(0)->GetShape(0)->DocLeft(), 50.0f);
}

TEST_F(DocumentArchiveTest, LoadStartedFromASaveProgressHandlerIsRefused) {
  TdtpDocument doc;
  doc.AddPage();
  const std::string other = SaveBytes(doc);
  std::string error;
  std::vector<float> percents;
  doc.OnProgress = [&](TdtpDocument& d, TdtpProgressType kind, int, int, float percent) {
    if (kind != ptSave) return;
    percents.push_back(percent);
    if (error.empty()) error = test::ErrorOf([&] { LoadBytes(d, other); });
  };
  doc.ForceFullSave();
  SaveBytes(doc);
  EXPECT_EQ(error, kThreadingError);
  EXPECT_EQ(doc.PageCount(), 2);
  const std::vector<float> expected{0.1f, 0.3f, 0.35f, 0.6f, 0.8f, 0.85f, 1.0f};
  ASSERT_EQ(percents.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(percents[i], expected[i], 1e-6) << i;
}

// ---- The Python reader -------------------------------------------------------------------------------

std::map<std::string, std::vector<std::string>> RunReader(const std::string& command,
                                                          const std::filesystem::path& file) {
  int status = 0;
  const std::string out =
      test::RunCommand("python3 " KDL_SOURCE_DIR "/tests/document/view/document_reader.py " +
                           command + " " + file.string() + " 2>&1",
                       &status);
  EXPECT_EQ(status, 0) << out;
  std::map<std::string, std::vector<std::string>> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto space = line.find(' ');
    lines[line.substr(0, space)].push_back(space == std::string::npos ? "" : line.substr(space + 1));
  }
  return lines;
}

TEST_F(DocumentArchiveTest, PythonReaderFindsWhatTheDocumentWrote) {
  test::ScratchDir dir;
  TdtpDocument doc;
  BuildThreePages(doc);
  doc.SetThumbnailWidth(64);
  doc.SaveToFile((dir / "doc.kdl").string());
  auto lines = RunReader("check", dir / "doc.kdl");

  EXPECT_EQ(lines["setting"],
            (std::vector<std::string>{"HandleColor $00FFFFFF", "StretchFilter 2",
                                      "RenderDpm 5.90551", "ScreenDpm 5.90551",
                                      "ShowMargins True", "DefaultBgrImage ", "ThumbnailWidth 64"}));
  EXPECT_EQ(lines["page"], (std::vector<std::string>{"Page0001.xml 1 group,effect",
                                                     "Page0002.xml 2 second", "Page0003.xml 3 third"}));
  EXPECT_TRUE(lines["missing"].empty());
  ASSERT_EQ(lines["background"].size(), 1u);
  auto source = OpaqueBitmap(7, 5, 42);
  std::string rgba;
  for (int i = 0; i < 35; ++i) {
    const TColor32 c = source->Bits()[i];
    for (int shift : {16, 8, 0, 24}) rgba.push_back(static_cast<char>((c >> shift) & 0xFF));
  }
  EXPECT_EQ(lines["background"][0], "7 5 " + test::Hex(rgba));
}

TEST_F(DocumentArchiveTest, DocumentWrittenByPythonOpensWithItsShapes) {
  test::ScratchDir dir;
  RunReader("write", dir / "py.kdl");
  TdtpDocument doc;
  doc.LoadFromFile((dir / "py.kdl").string());
  ASSERT_EQ(doc.PageCount(), 2);
  EXPECT_EQ(doc.DefaultPageWidth(), 120.0f);
  EXPECT_EQ(doc.ThumbnailWidth(), 40);
  TdtpPage* first = doc.GetPage(0);
  ASSERT_EQ(ShapeNames(first), (std::vector<std::string>{"Caf\u00e9", "second"}));
  EXPECT_EQ(first->GetShape(0)->DocLeft(), 10.0f);
  EXPECT_EQ(first->GetShape(0)->DocHeight(), 40.0f);
  EXPECT_EQ(first->GetShape(1)->DocTop(), 2.5f);
  doc.SetCurrentPageIndex(1);
  TdtpPage* second = doc.GetPage(1);
  EXPECT_FALSE(second->IsDefaultPage());
  EXPECT_EQ(second->PageWidth(), 100.0f);
  EXPECT_EQ(ShapeNames(second), std::vector<std::string>{"only"});
}

}  // namespace
}  // namespace kdl

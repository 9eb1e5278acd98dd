// Opening a document changes nothing but the document in memory: no undo
// records from the readers of lines, polygons, texts, placeholders and
// image frames, whether the page is read at once, on first use, for a
// thumbnail or for a save; and image paths a file names are never created,
// and ones that are not regular files paint nothing and are reported once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QPainter>
#include <filesystem>
#include <map>

#include "../resources/ResourceTestUtil.h"
#include "TestFiles.h"
#include "TestShapes.h"
#include "ViewTesting.h"
#include "document/kinds/BitmapShape.h"
#include "document/kinds/GroupShape.h"
#include "document/kinds/LineShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/resources/BitmapResource.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/text/MemoShape.h"
#include "document/text/TextShape.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

using test::OpaqueBitmap;
using test::ScratchDir;

using test::LoadBytes;
using test::SaveBytes;
using DocumentOpening = test::DocumentLibraryTest;

std::unique_ptr<TdtpLineShape> Line(float x0, float y0, float x1, float y1) {
  auto line = std::make_unique<TdtpLineShape>();
  line->SetPoint(0, {x0, y0});
  line->SetPoint(1, {x1, y1});
  return line;
}

std::unique_ptr<TdtpPolygonShape> Triangle(float x, float y) {
  auto poly = std::make_unique<TdtpPolygonShape>();
  poly->AddPointXY(x, y);
  poly->AddPointXY(x + 30, y + 5);
  poly->AddPointXY(x + 10, y + 25);
  poly->SetIsClosed(true);
  return poly;
}

// Two pages of every kind of shape that reads points, text or an image.
void BuildProject(TdtpDocument& doc) {
  doc.SetPageCount(2);
  doc.AddShape(Line(10, 10, 80, 40));
  doc.AddShape(Triangle(20, 60));
  auto rect = std::make_unique<TdtpRectangleShape>();
  rect->SetDocBounds(100, 20, 40, 30);
  doc.AddShape(std::move(rect));
  auto round = std::make_unique<TdtpRoundRectShape>();
  round->SetDocBounds(100, 60, 40, 30);
  round->SetCornerWidth(6);
  doc.AddShape(std::move(round));
  auto ellipse = std::make_unique<TdtpEllipseShape>();
  ellipse->SetDocBounds(100, 100, 30, 20);
  doc.AddShape(std::move(ellipse));
  auto text = std::make_unique<TdtpTextShape>();
  text->SetDocBounds(10, 120, 60, 10);
  text->SetText(u"Disc one");
  doc.AddShape(std::move(text));
  auto memo = std::make_unique<TdtpMemoShape>();
  memo->SetDocBounds(10, 140, 60, 30);
  memo->SetText(u"first line\r\nsecond line");
  doc.AddShape(std::move(memo));
  auto image = std::make_unique<TdtpBitmapShape>();
  {
    TResourcesLock lock;
    auto bitmap = OpaqueBitmap(12, 9, 7);
    image->Image().SetBitmap(bitmap.get());
  }
  image->SetDocBounds(80, 150, 24, 18);
  doc.AddShape(std::move(image));
  auto group = std::make_unique<TdtpGroupShape>();
  group->SetDocBounds(20, 200, 80, 60);
  group->AddShape(Line(0, 0, 40, 30));
  group->AddShape(Triangle(5, 5));
  group->SetGrouped(true);
  doc.AddShape(std::move(group));
  // A line with heads, turned; a polygon of two stored contours; corners
  // in percent; an image frame; a text with a placeholder, made by name
  // as the reader makes it.
  auto headed = Line(10, 20, 70, 45);
  headed->GetArrow(0)->SetStyle(asStealthArrow);
  headed->GetArrow(1)->SetStyle(asOval);
  headed->SetDocAngle(30);
  doc.AddShape(std::move(headed));
  doc.AddShape(testing::StoredPolygon({{{0, 0}, {30, 0}, {30, 20}}, {{5, 5}, {10, 5}, {5, 15}}}, 20, 60, 30, 20));
  auto percent = std::make_unique<TdtpRoundRectShape>();
  percent->SetCornerPropertiesArePercentage(true);
  percent->SetCornerWidth(30);
  doc.AddShape(std::move(percent));
  auto frame = std::make_unique<TdtpSnapBitmap>();
  frame->SetDocBounds(80, 80, 60, 40);
  doc.AddShape(std::move(frame));
  std::unique_ptr<TdtpShape> titled = CreateShape("TdtpTextShape");
  titled->AddPlaceHolder();
  titled->SetPropertyText("Text", "Title");
  doc.AddShape(std::move(titled));

  doc.SetCurrentPageIndex(1);
  doc.AddShape(Line(5, 5, 60, 5));
  doc.AddShape(Triangle(40, 40));
  doc.SetCurrentPageIndex(0);
}

QImage Painted(TdtpPage& page) {
  QImage target(200, 280, QImage::Format_RGB32);
  target.fill(Qt::black);
  QPainter painter(&target);
  page.PaintToCanvas(painter, TRect{0, 0, 200, 280}, 20.0f, true);
  painter.end();
  return target;
}

TEST_F(DocumentOpening, ReadingPagesRecordsNoUndoAndLeavesUndoWorking) {
  std::string bytes;
  {
    TdtpDocument source;
    BuildProject(source);
    bytes = SaveBytes(source);
  }
  TdtpDocument doc;
  doc.resize(400, 300);
  // What the user did before opening goes with the old document.
  doc.AddShape(Line(0, 0, 10, 10));
  doc.GetCurrentPage()->GetShape(0)->SetDocLeft(30);
  ASSERT_GT(doc.UndoCount(), 0);

  LoadBytes(doc, bytes);
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_TRUE(doc.UndoList().empty());
  EXPECT_EQ(doc.RedoCount(), 0);
  ASSERT_EQ(doc.PageCount(), 2);
  ASSERT_EQ(doc.GetPage(0)->GetShapeCount(), 14);
  EXPECT_FALSE(doc.GetPage(1)->IsLoaded());

  // Painting, a thumbnail that reads the second page, then visiting it.
  doc.viewport()->grab();
  Painted(*doc.GetPage(0));
  doc.GetPage(1)->UpdateThumbnail();
  doc.SetCurrentPageIndex(1);
  EXPECT_TRUE(doc.GetPage(1)->IsLoaded());
  doc.viewport()->grab();
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_FALSE(doc.Modified());

  // The lock of the readers is gone: the user's first change is one
  // group, and replaying it gives back the page as it was opened.
  ASSERT_TRUE(doc.UndoEnabled());
  const std::string opened = testing::ShapeXml(*doc.GetCurrentPage());
  auto* line = dynamic_cast<TdtpLineShape*>(doc.GetCurrentPage()->GetShape(0));
  ASSERT_NE(line, nullptr);
  line->SetPoint(1, {70, 9});
  EXPECT_EQ(test::UndoGroups(doc), 1);
  doc.Undo();
  EXPECT_EQ(testing::ShapeXml(*doc.GetCurrentPage()), opened);
}

TEST_F(DocumentOpening, PagesReadForASaveOrFromAFileRecordNothing) {
  ScratchDir dir;
  {
    TdtpDocument source;
    BuildProject(source);
    source.SaveToFile((dir / "project.kdl").string());
  }
  TdtpDocument doc;
  doc.LoadFromFile((dir / "project.kdl").string());
  EXPECT_EQ(doc.UndoCount(), 0);
  // A full save reads the unvisited page first.
  doc.SetUndoPastSave(true);
  doc.ForceFullSave();
  SaveBytes(doc);
  EXPECT_TRUE(doc.GetPage(1)->IsLoaded());
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_EQ(doc.GetPage(1)->GetShapeCount(), 2);
}

TEST_F(DocumentOpening, UnreadablePageLeavesUndoUnlocked) {
  TdtpDocument doc;
  LoadBytes(doc, test::ArchiveBytes({{kIndexMember, "<Document/>"},
                                     {PageMemberName(0), "<Page Index=\"1\"><ClassName>TdtpPage</ClassName></Page>"},
                                     {PageMemberName(1), "<Page><Shape><ClassName>TdtpLineShape</Class"}}));
  EXPECT_ANY_THROW(doc.SetCurrentPageIndex(1));
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_TRUE(doc.UndoEnabled());
  EXPECT_FALSE(doc.IsLoading());
}

// ---- Image paths named by a file ----------------------------------------------------------------

std::string ImageShapeXml(int index, const std::string& fileName) {
  return "<Shape Index=\"" + std::to_string(index) +
         "\"><ClassName>TdtpBitmapShape</ClassName><DocLeft>10</DocLeft><DocTop>" +
         std::to_string(10 + index * 40) +
         "</DocTop><DocWidth>30</DocWidth><DocHeight>30</DocHeight><Image><ClassName>"
         "TdtpBitmapResource</ClassName><FileName>" +
         fileName + "</FileName><Storage>External</Storage></Image></Shape>";
}

std::string ProjectNaming(const std::vector<std::string>& files) {
  std::string page =
      "<Page Index=\"1\"><ClassName>TdtpPage</ClassName><DocWidth>210</DocWidth><DocHeight>297</DocHeight>";
  for (std::size_t i = 0; i < files.size(); ++i) page += ImageShapeXml(static_cast<int>(i) + 1, files[i]);
  return test::ArchiveBytes({{kIndexMember, "<Document/>"}, {PageMemberName(0), page + "</Page>"}});
}

TdtpBitmapShape& ImageShape(TdtpDocument& doc, int index) {
  auto* shape = dynamic_cast<TdtpBitmapShape*>(doc.GetPage(0)->GetShape(index));
  if (!shape) throw Exception("not an image shape");
  return *shape;
}

TEST_F(DocumentOpening, ImagePathIntoAMissingFolderIsNeverCreated) {
  ScratchDir scratch;
  const std::filesystem::path absent = scratch / "absent";
  const std::string named = (absent / "cover.png").string();
  TdtpDocument doc;
  doc.resize(400, 300);
  LoadBytes(doc, ProjectNaming({named}));
  doc.viewport()->grab();
  Painted(*doc.GetPage(0));
  {
    TResourcesLock lock;
    auto bitmap = OpaqueBitmap(8, 8, 3);
    ImageShape(doc, 0).Image().SetBitmap(bitmap.get());
  }
  doc.viewport()->grab();
  const std::string saved = SaveBytes(doc);
  doc.SaveToFile((scratch / "saved.kdl").string());
  EXPECT_FALSE(std::filesystem::exists(absent));
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.Path()))
    entries.push_back(entry.path().filename().string());
  EXPECT_EQ(entries, std::vector<std::string>{"saved.kdl"});

  // The project still names the path, and the new pixels stay in memory.
  TdtpDocument reopened;
  LoadBytes(reopened, saved);
  EXPECT_EQ(ImageShape(reopened, 0).Image().FileName(), named);
  EXPECT_FALSE(std::filesystem::exists(absent));
}

TEST_F(DocumentOpening, FifoOrFolderPaintsNothingAndIsReportedOnce) {
  ScratchDir scratch;
  const std::string fifo = (scratch / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(scratch / "folder");
  TdtpDocument doc;
  doc.resize(400, 300);
  std::map<TdtpShape*, int> reports;
  doc.OnLoadError = [&](TdtpDocument&, TdtpShape* shape, const std::string& message) {
    EXPECT_FALSE(message.empty());
    ++reports[shape];
  };
  LoadBytes(doc, ProjectNaming({fifo, (scratch / "folder").string()}));
  ASSERT_EQ(doc.GetPage(0)->GetShapeCount(), 2);

  // Both frames stay empty: the page looks like one without shapes.
  TdtpDocument empty;
  LoadBytes(empty, ProjectNaming({}));
  const QImage blank = Painted(*empty.GetPage(0));
  for (int round = 0; round < 3; ++round) {
    EXPECT_NO_THROW(doc.viewport()->grab());
    QImage target;
    EXPECT_NO_THROW(target = Painted(*doc.GetPage(0)));
    EXPECT_EQ(target, blank);
  }
  TdtpShape* first = &ImageShape(doc, 0);
  TdtpShape* second = &ImageShape(doc, 1);
  EXPECT_EQ(reports, (std::map<TdtpShape*, int>{{first, 1}, {second, 1}}));

  // New pixels are the user's: they paint, and a later failure is news.
  {
    TResourcesLock lock;
    auto bitmap = OpaqueBitmap(8, 8, 3);
    ImageShape(doc, 0).Image().SetBitmap(bitmap.get());
  }
  EXPECT_NE(Painted(*doc.GetPage(0)), blank);
  EXPECT_EQ(reports[first], 1);
  EXPECT_FALSE(std::filesystem::is_regular_file(fifo));
}

}  // namespace
}  // namespace kdl

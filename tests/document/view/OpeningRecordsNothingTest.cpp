// Opening a document is not an edit: reading lines, polygons, image frames
// and placeholders, on the first page or a page read on first use, leaves
// the undo list empty, and the first record after opening is the user's.
#include <gtest/gtest.h>

#include "QtApplication.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/shapes/BitmapShape.h"
#include "document/shapes/Command.h"
#include "document/shapes/LineShape.h"
#include "document/shapes/PolygonShape.h"
#include "document/shapes/ShapeRegistry.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/Storage.h"

namespace kdl {
namespace {

using testing::ShapeXml;

class OpeningRecordsNothing : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    InitializeDocumentLibrary();
  }
};

std::string SaveBytes(TdtpDocument& doc) {
  TMemoryStream m;
  doc.SaveToStream(m);
  return {static_cast<const char*>(m.Memory()), static_cast<std::size_t>(m.Size())};
}

void LoadBytes(TdtpDocument& doc, const std::string& bytes) {
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  m.Seek(0, soBeginning);
  doc.LoadFromStream(m);
}

// A line with heads, a stored-points polygon with two contours, a round
// rectangle, an image frame and a text with a placeholder.
void AddDrawing(TdtpDocument& doc, float shift) {
  auto line = std::make_unique<TdtpLineShape>();
  line->SetPoint(0, {10 + shift, 20});
  line->SetPoint(1, {70, 45 - shift});
  line->GetArrow(0)->SetStyle(asStealthArrow);
  line->GetArrow(1)->SetStyle(asOval);
  line->SetLineWidth(1.5f);
  line->SetDocAngle(30);
  doc.AddShape(std::move(line));

  auto polygon = std::make_unique<TdtpPolygonShape>();
  polygon->SetStorePoints(true);
  polygon->ClearPoints();
  for (const TFloatPoint p : {TFloatPoint{0, 0}, {30, 0}, {30, 20}}) polygon->AddPoint(p);
  polygon->NewContour();
  for (const TFloatPoint p : {TFloatPoint{5, 5}, {10, 5}, {5, 15}}) polygon->AddPoint(p);
  polygon->SetDocBounds(20 + shift, 60, 30, 20);
  polygon->SetOutlineWidth(0.7f);
  doc.AddShape(std::move(polygon));

  auto round = std::make_unique<TdtpRoundRectShape>();
  round->SetCornerPropertiesArePercentage(true);
  round->SetCornerWidth(30);
  doc.AddShape(std::move(round));

  auto frame = std::make_unique<TdtpSnapBitmap>();
  frame->SetDocBounds(80, 80, 60, 40);
  doc.AddShape(std::move(frame));

  // By name: the text header and the document's cursor table both name
  // the text cursor.
  std::unique_ptr<TdtpShape> text = CreateShape("TdtpTextShape");
  text->AddPlaceHolder();
  text->SetPropertyText("Text", "Title");
  doc.AddShape(std::move(text));
}

TEST_F(OpeningRecordsNothing, OpenedDocumentHasNothingToUndo) {
  std::string bytes;
  {
    TdtpDocument doc;
    doc.SetPageCount(2);
    AddDrawing(doc, 0);
    doc.SetCurrentPageIndex(1);
    AddDrawing(doc, 5);
    doc.SetCurrentPageIndex(0);
    ASSERT_GT(doc.UndoCount(), 0);
    bytes = SaveBytes(doc);
  }

  TdtpDocument doc;
  LoadBytes(doc, bytes);
  ASSERT_EQ(doc.PageCount(), 2);
  TdtpPage& first = *doc.GetPage(0);
  ASSERT_EQ(first.GetShapeCount(), 5);
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_FALSE(doc.Modified());
  // The page read on first use records nothing either.
  ASSERT_FALSE(doc.GetPage(1)->IsLoaded());
  doc.SetCurrentPageIndex(1);
  ASSERT_EQ(doc.GetPage(1)->GetShapeCount(), 5);
  EXPECT_EQ(doc.UndoCount(), 0);
  doc.SetCurrentPageIndex(0);
  // Painted once, as the view would: no record either.
  for (int i = 0; i < first.GetShapeCount(); ++i) (void)first.GetShape(i)->GetUpdateRect();
  EXPECT_EQ(doc.UndoCount(), 0);

  // One user action is one record; replaying it gives back the page as
  // it was opened.
  const std::string opened = ShapeXml(first);
  auto& line = dynamic_cast<TdtpLineShape&>(*first.GetShape(0));
  line.SetLineWidth(4);
  ASSERT_EQ(doc.UndoCount(), 1);
  const TdtpCommand& command = *doc.UndoList().back();
  EXPECT_EQ(command.ShapeID, line.ID());
  EXPECT_TRUE(first.ExecuteCommand(command));
  EXPECT_EQ(ShapeXml(first), opened);
}

}  // namespace
}  // namespace kdl

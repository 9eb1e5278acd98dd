// Opening a template or a saved drawing is no edit: the undo list stays
// empty through opening, reading every page and painting, and after any one
// change of any shape, one Undo gives back exactly the pages as opened.
#include <gtest/gtest.h>

#include <charconv>
#include <functional>
#include <string>
#include <vector>

#include "ProjectTesting.h"
#include "TestShapes.h"
#include "app/project/Templates.h"
#include "app/shapes/ExLineShape.h"
#include "document/kinds/FreehandShape.h"
#include "document/kinds/LineShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/shapes/Command.h"
#include "document/text/TextBaseShape.h"
#include "document/view/Page.h"

namespace kdl {
namespace {

class OpeningUndo : public test::ProjectFixture {};

// Every page as the document saves it.
std::string PagesXml(TdtpDocument& doc) {
  std::string all;
  for (int i = 0; i < doc.PageCount(); ++i) all += testing::ShapeXml(*doc.GetPage(i)) + "\n";
  return all;
}

// The frames and points of every shape to the last bit, which a file's six
// digits would not tell apart: Undo must give back the very values.
void AddGeometry(TdtpShape& shape, std::string& out) {
  char buffer[32];
  const auto put = [&](float v) {
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
    out += ' ';
  };
  out += shape.ClassName() + ": ";
  for (float v : {shape.DocLeft(), shape.DocTop(), shape.DocWidth(), shape.DocHeight(), shape.DocAngle()}) put(v);
  if (auto* line = dynamic_cast<TdtpLineShape*>(&shape)) {
    for (int i = 0; i < line->PointCount(); ++i) put(line->GetPoint(i).X), put(line->GetPoint(i).Y);
  } else if (auto* polygon = dynamic_cast<TdtpPolygonShape*>(&shape); polygon && polygon->StorePoints()) {
    for (const auto& contour : polygon->Points())
      for (const TFloatPoint& p : contour) put(p.X), put(p.Y);
  }
  out += "\n";
  for (int i = 0; i < shape.GetShapeCount(); ++i) AddGeometry(*shape.GetShape(i), out);
}

std::string Geometry(TdtpDocument& doc) {
  std::string out;
  for (int i = 0; i < doc.PageCount(); ++i) AddGeometry(*doc.GetPage(i), out);
  return out;
}

// A template with the user's drawing added: lines of both kinds, a polygon
// of the user's own points with two contours, a freehand drawing of two
// strokes, and a second page with a line, read only when first shown.
void AddDrawing(TdtpDocument& doc) {
  auto line = std::make_unique<TdtpLineShape>();
  line->SetPoint(0, {12.5f, 20});
  line->SetPoint(1, {70.3f, 44.9f});
  line->SetLineWidth(1.3f);
  doc.AddShape(std::move(line));
  auto dashed = std::make_unique<TDtpExLineShape>();
  dashed->SetPoint(0, {5, 90});
  dashed->SetPoint(1, {95.7f, 81.1f});
  dashed->SetPenStyle(2);
  doc.AddShape(std::move(dashed));

  doc.AddShape(testing::StoredPolygon({{{0, 0}, {31.7f, 0.3f}, {29.9f, 21.1f}},
                                       {{5.1f, 5.3f}, {10.7f, 5.9f}, {5.3f, 15.1f}}},
                                      20.3f, 60.7f, 31.7f, 21.1f));

  auto freehand = std::make_unique<TdtpFreehandShape>();
  freehand->ClearPoints();
  for (const TFloatPoint p : {TFloatPoint{0, 3.3f}, {4.1f, 0}, {9.7f, 6.1f}, {13.9f, 2.2f}}) freehand->AddPoint(p);
  freehand->NewContour();
  for (const TFloatPoint p : {TFloatPoint{1.1f, 9.9f}, {7.3f, 11.7f}}) freehand->AddPoint(p);
  freehand->SetDocBounds(40.1f, 100.9f, 13.9f, 11.7f);
  freehand->SetOutlineWidth(0.35f);
  doc.AddShape(std::move(freehand));

  doc.SetCurrentPageIndex(doc.AddPage());
  auto second = std::make_unique<TdtpLineShape>();
  second->SetPoint(0, {30.1f, 7.7f});
  second->SetPoint(1, {3.3f, 50.9f});
  doc.AddShape(std::move(second));
  doc.SetCurrentPageIndex(0);
}

// One change a user can make, by one call.
struct TAction {
  const char* Name;
  std::function<bool(TdtpDocument&, int)> Apply;  // false: not for this shape
};

std::vector<TAction> Actions() {
  return {
      {"move and resize",
       [](TdtpDocument& doc, int i) {
         TdtpShape& s = *doc.GetShape(i);
         s.SetDocBounds(s.DocLeft() + 7.3f, s.DocTop() - 3.1f, s.DocWidth() * 1.37f + 0.3f,
                        s.DocHeight() * 0.77f + 0.1f);
         return true;
       }},
      {"width only",
       [](TdtpDocument& doc, int i) {
         TdtpShape& s = *doc.GetShape(i);
         s.SetDocWidth(s.DocWidth() / 3 + 0.7f);
         return true;
       }},
      {"rotate",
       [](TdtpDocument& doc, int i) {
         TdtpShape& s = *doc.GetShape(i);
         s.SetDocAngle(s.DocAngle() + 33.3f);
         return true;
       }},
      {"delete",
       [](TdtpDocument& doc, int i) {
         doc.DeleteShape(i);
         return true;
       }},
      {"end point",
       [](TdtpDocument& doc, int i) {
         auto* line = dynamic_cast<TdtpLineShape*>(doc.GetShape(i));
         if (!line) return false;
         line->SetPoint(1, {line->GetPoint(1).X + 4.3f, line->GetPoint(0).Y - 2.9f});
         return true;
       }},
      {"outline",
       [](TdtpDocument& doc, int i) {
         auto* polygon = dynamic_cast<TdtpPolygonShape*>(doc.GetShape(i));
         if (!polygon) return false;
         polygon->SetOutlineWidth(polygon->OutlineWidth() + 1.1f);
         return true;
       }},
      {"text",
       [](TdtpDocument& doc, int i) {
         auto* text = dynamic_cast<TdtpTextBaseShape*>(doc.GetShape(i));
         if (!text) return false;
         text->SetText(text->Text() + u" and more");
         return true;
       }},
  };
}

TEST_F(OpeningUndo, EveryTemplateAndADrawingOpenWithNothingToUndo) {
  CreateTemplateFiles(*doc);
  std::vector<std::string> files;
  for (int type = 0; type < kTemplateCount; ++type) files.push_back(GetTemplateFileName(type));
  ASSERT_TRUE(OpenProject(*doc, files[0]));
  AddDrawing(*doc);
  files.push_back((scratch / "drawing.ovx").string());
  ASSERT_TRUE(SaveProject(*doc, files.back()));
  // What the user did before opening goes with the old project.
  doc->GetShape(0)->SetDocLeft(3);
  ASSERT_GT(doc->UndoCount(), 0);

  for (std::size_t f = 0; f < files.size(); ++f) {
    SCOPED_TRACE(files[f]);
    ASSERT_TRUE(OpenProject(*doc, files[f]));
    EXPECT_EQ(doc->UndoCount(), 0);
    EXPECT_TRUE(doc->UndoList().empty());
    EXPECT_EQ(doc->RedoCount(), 0);
    // A new project from a template has its texts filled in: by the
    // program, not the user.
    EXPECT_FALSE(doc->Modified());
    if (f < kTemplateCount) ApplyTemplateTexts(*doc, static_cast<int>(f));
    EXPECT_EQ(doc->UndoCount(), 0);
    // Reading every page on first use, and painting, records nothing.
    EXPECT_EQ(doc->PageCount() > 1, f == kTemplateCount);
    if (doc->PageCount() > 1) EXPECT_FALSE(doc->GetPage(1)->IsLoaded());
    const int current = doc->CurrentPageIndex();
    for (int i = 0; i < doc->PageCount(); ++i) doc->SetCurrentPageIndex(i);
    doc->SetCurrentPageIndex(current);
    doc->resize(500, 400);
    doc->grab();
    EXPECT_EQ(doc->UndoCount(), 0);

    const std::string opened = PagesXml(*doc), exact = Geometry(*doc);
    for (const TAction& action : Actions()) {
      for (int i = 0; i < doc->ShapeCount(); ++i) {
        SCOPED_TRACE(std::string(action.Name) + " of shape " + std::to_string(i) + ", " +
                     doc->GetShape(i)->ClassName());
        if (!action.Apply(*doc, i)) continue;
        ASSERT_GT(doc->UndoCount(), 0);
        ASSERT_NE(PagesXml(*doc), opened);
        doc->Undo();
        EXPECT_EQ(doc->UndoCount(), 0);
        ASSERT_EQ(PagesXml(*doc), opened);
        ASSERT_EQ(Geometry(*doc), exact);
      }
    }
  }
  EXPECT_TRUE(Errors.empty());
}

}  // namespace
}  // namespace kdl

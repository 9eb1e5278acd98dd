// The seven template files: written into a scratch data folder, checked by
// an independent reader against a hand-written table, and carried through
// open and save twice.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "ProjectTesting.h"
#include "app/project/Templates.h"
#include "app/shapes/CropBitmapShape.h"
#include "app/shapes/ExLineShape.h"
#include "document/resources/BitmapResource.h"
#include "document/text/MemoShape.h"
#include "document/view/Page.h"
#include "foundation/Storage.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

class TemplatesTest : public test::ProjectFixture {};

std::map<std::string, std::string> Members(const std::string& file) {
  TqxStorage storage;
  storage.LoadFromFile(file);
  std::map<std::string, std::string> out;
  for (int i = 0; i < storage.StreamCount(); ++i) {
    const std::string name = storage.GetStreamName(i);
    TMemoryStream m;
    storage.ReadStream(name, m);
    out[name] = std::string(static_cast<const char*>(m.Memory()), static_cast<std::size_t>(m.Size()));
  }
  return out;
}

TEST_F(TemplatesTest, FilesMatchTheHandWrittenTable) {
  EXPECT_TRUE(TemplateFilesMissing());
  CreateTemplateFiles(*doc);
  EXPECT_FALSE(TemplateFilesMissing());
  EXPECT_EQ(doc->ShapeCount(), 0);
  EXPECT_FALSE(doc->Modified());
  EXPECT_EQ(GetTemplateFileName(3), (TemplatesFolder() / "DVD.ovx").string());
  EXPECT_EQ(GetTemplateFileName(7), "");
  int status = 0;
  const std::string out = test::RunCommand("python3 " KDL_SOURCE_DIR "/tests/app/check_templates.py '" +
                                               TemplatesFolder().string() + "' '" + Defaultjpg() + "' 2>&1",
                                           &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "ok\n");
}

TEST_F(TemplatesTest, ASetBrokenOffPartWayIsWrittenAgainOnTheNextStart) {
  // The origami file cannot be replaced: a folder stands in its place.
  std::filesystem::create_directories(TemplatesFolder() / "Origami CD Case.ovx");
  EXPECT_THROW(CreateTemplateFiles(*doc), std::exception);
  EXPECT_TRUE(TemplateFilesMissing());
  std::filesystem::remove(TemplatesFolder() / "Origami CD Case.ovx");
  CreateTemplateFiles(*doc);
  EXPECT_FALSE(TemplateFilesMissing());
  for (int type = 0; type < kTemplateCount; ++type) EXPECT_TRUE(std::filesystem::exists(GetTemplateFileName(type)));

  // A missing picture ends the build with the open-file error.
  SetProgramFolder(scratch.Path());
  try {
    CreateCDFrontTemplate(*doc);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              Text("Messages", "FileOpenError") + " \"" + (scratch.Path() / "Resources" / "default.jpg").string() +
                  "\"");
  }
}

// A template's page is its own even where the document's defaults happen
// to equal it: changing the defaults later must not move its margins or
// size, in the document or in the file.
TEST_F(TemplatesTest, TemplatePagesKeepTheirSizeWhenTheDefaultsChange) {
  // The CD Front's page, and the defaults equal to it while it is built.
  const std::array<float, 6> own = {131, 130, 6, 6, 4, 4};
  ASSERT_TRUE(doc->GetCurrentPage()->IsDefaultPage());
  doc->SetDefaultPageWidth(own[0]);
  doc->SetDefaultPageHeight(own[1]);
  doc->SetDefaultMarginLeft(own[2]);
  doc->SetDefaultMarginTop(own[3]);
  doc->SetDefaultMarginRight(own[4]);
  doc->SetDefaultMarginBottom(own[5]);
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  doc->SetDefaultPageWidth(210);
  doc->SetDefaultPageHeight(297);
  for (auto set : {&TdtpDocument::SetDefaultMarginLeft, &TdtpDocument::SetDefaultMarginTop,
                   &TdtpDocument::SetDefaultMarginRight, &TdtpDocument::SetDefaultMarginBottom})
    (doc.get()->*set)(15);
  const auto now = [](TdtpPage* p) {
    return std::array<float, 6>{p->PageWidth(), p->PageHeight(), p->MarginLeft(),
                                p->MarginTop(),   p->MarginRight(), p->MarginBottom()};
  };
  EXPECT_EQ(now(doc->GetCurrentPage()), own);
  const std::string file = (scratch / "own.ovx").string();
  ASSERT_TRUE(SaveProject(*doc, file));
  ASSERT_TRUE(OpenProject(*doc, file));
  EXPECT_EQ(now(doc->GetCurrentPage()), own);
}

void ExpectSameModel(TdtpDocument& built, TdtpDocument& loaded) {
  ASSERT_EQ(built.ShapeCount(), loaded.ShapeCount());
  TdtpPage* a = built.GetCurrentPage();
  TdtpPage* b = loaded.GetCurrentPage();
  EXPECT_FLOAT_EQ(a->PageWidth(), b->PageWidth());
  EXPECT_FLOAT_EQ(a->PageHeight(), b->PageHeight());
  EXPECT_FLOAT_EQ(a->MarginLeft(), b->MarginLeft());
  EXPECT_FLOAT_EQ(a->MarginBottom(), b->MarginBottom());
  for (int i = 0; i < built.ShapeCount(); ++i) {
    SCOPED_TRACE(i);
    TdtpShape* x = built.GetShape(i);
    TdtpShape* y = loaded.GetShape(i);
    ASSERT_EQ(x->ClassName(), y->ClassName());
    EXPECT_EQ(x->Tag(), y->Tag());
    EXPECT_EQ(x->Visible(), y->Visible());
    EXPECT_EQ(x->AllowSelect(), y->AllowSelect());
    EXPECT_EQ(x->AllowDelete(), y->AllowDelete());
    EXPECT_EQ(x->AllowEdit(), y->AllowEdit());
    if (auto* lx = dynamic_cast<TDtpExLineShape*>(x)) {
      // The frame of a line is normalised on reading; its ends are not.
      auto* ly = dynamic_cast<TDtpExLineShape*>(y);
      for (int p = 0; p < 2; ++p) {
        EXPECT_NEAR(lx->GetPoint(p).X, ly->GetPoint(p).X, 1e-4);
        EXPECT_NEAR(lx->GetPoint(p).Y, ly->GetPoint(p).Y, 1e-4);
      }
      EXPECT_FLOAT_EQ(ly->LineWidth(), kScreenLineWidth);
      EXPECT_EQ(lx->PenStyle(), ly->PenStyle());
      continue;
    }
    EXPECT_FLOAT_EQ(x->DocLeft(), y->DocLeft());
    EXPECT_FLOAT_EQ(x->DocTop(), y->DocTop());
    EXPECT_FLOAT_EQ(x->DocWidth(), y->DocWidth());
    EXPECT_FLOAT_EQ(x->DocHeight(), y->DocHeight());
    EXPECT_FLOAT_EQ(x->DocAngle(), y->DocAngle());
    if (auto* ix = dynamic_cast<TDtpProjectInfoShape*>(x)) {
      auto* iy = dynamic_cast<TDtpProjectInfoShape*>(y);
      EXPECT_EQ(ix->Version(), iy->Version());
      EXPECT_EQ(ix->ProjectName(), iy->ProjectName());
      EXPECT_EQ(ix->Category(), iy->Category());
      EXPECT_EQ(ix->PrintCutLines(), iy->PrintCutLines());
      EXPECT_EQ(ix->PrintFoldLines(), iy->PrintFoldLines());
      EXPECT_EQ(ix->CenterPrinting(), iy->CenterPrinting());
    } else if (auto* cx = dynamic_cast<TdtpCropBitmapShape*>(x)) {
      auto* cy = dynamic_cast<TdtpCropBitmapShape*>(y);
      EXPECT_EQ(cx->CropRect().Right, cy->CropRect().Right);
      EXPECT_EQ(cx->CropRect().Bottom, cy->CropRect().Bottom);
      EXPECT_EQ(cx->Pinned(), cy->Pinned());
      EXPECT_FLOAT_EQ(cx->PinnedLeft(), cy->PinnedLeft());
      EXPECT_FLOAT_EQ(cx->PinnedHeight(), cy->PinnedHeight());
      EXPECT_FALSE(cy->IsEmpty());
    } else if (auto* tx = dynamic_cast<TdtpTextBaseShape*>(x)) {
      auto* ty = dynamic_cast<TdtpTextBaseShape*>(y);
      EXPECT_TRUE(tx->Text() == ty->Text());
      EXPECT_EQ(tx->GetFontName(), ty->GetFontName());
      EXPECT_FLOAT_EQ(tx->GetFontHeight(), ty->GetFontHeight());
      EXPECT_EQ(tx->GetFontStyle(), ty->GetFontStyle());
      EXPECT_EQ(tx->Alignment(), ty->Alignment());
      EXPECT_EQ(tx->VertAlign(), ty->VertAlign());
      EXPECT_EQ(tx->AutoSize(), ty->AutoSize());
    }
  }
}

TEST_F(TemplatesTest, EachTemplateOpensSavesAndReopensUnchanged) {
  CreateTemplateFiles(*doc);
  for (int type = 0; type < kTemplateCount; ++type) {
    SCOPED_TRACE(type);
    const std::string first = (scratch / ("first" + std::to_string(type) + ".ovx")).string();
    const std::string second = (scratch / ("second" + std::to_string(type) + ".ovx")).string();
    ASSERT_TRUE(OpenProject(*doc, GetTemplateFileName(type)));
    ASSERT_TRUE(SaveProject(*doc, first));
    ASSERT_TRUE(OpenProject(*doc, first));
    ASSERT_TRUE(SaveProject(*doc, second));
    EXPECT_EQ(Members(first), Members(second));
    TdtpDocument built;
    ASSERT_TRUE(CreateTemplate(built, type));
    ExpectSameModel(built, *doc);
  }
  EXPECT_TRUE(Errors.empty());
}

// The help's template table gives each page's size in whole millimetres, in
// type order; the built templates must have those pages.
TEST_F(TemplatesTest, HelpPagesGiveTheTemplatesPageSizes) {
  const std::string page = test::ReadFile(ProgramFolder() / "Helps" / "English" / "getting-started.html");
  const std::regex size(R"re(<td>(\d+) &times; (\d+) mm</td>)re");
  std::vector<std::pair<int, int>> sizes;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), size); it != std::sregex_iterator(); ++it)
    sizes.emplace_back(std::stoi((*it)[1]), std::stoi((*it)[2]));
  ASSERT_EQ(sizes.size(), static_cast<std::size_t>(kTemplateCount));
  for (int type = 0; type < kTemplateCount; ++type) {
    TdtpDocument built;
    ASSERT_TRUE(CreateTemplate(built, type));
    const TdtpPage* p = built.GetCurrentPage();
    ASSERT_NE(p, nullptr);
    EXPECT_FLOAT_EQ(p->PageWidth(), static_cast<float>(sizes[type].first)) << type;
    EXPECT_FLOAT_EQ(p->PageHeight(), static_cast<float>(sizes[type].second)) << type;
  }
}

}  // namespace
}  // namespace kdl

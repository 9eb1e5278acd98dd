// Opening, checking and saving label projects, the editing operations of
// the data panel, and the user's picture in the image shape.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ProjectTesting.h"
#include "app/project/Templates.h"
#include "app/shapes/CropBitmapShape.h"
#include "app/shapes/ExLineShape.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/RasterFormats.h"
#include "document/text/MemoShape.h"
#include "document/text/TextShape.h"
#include "document/view/Page.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

using test::ReadFile;

class ProjectTest : public test::ProjectFixture {
 protected:
  // A CD Front project saved to name, changed first by change.
  std::string SavedProject(const std::string& name, const std::function<void(TdtpDocument&)>& change = {}) {
    TdtpDocument d;
    EXPECT_TRUE(CreateCDFrontTemplate(d));
    if (change) change(d);
    const std::string file = (scratch / name).string();
    d.SaveToFile(file);
    return file;
  }
  TDtpProjectInfoShape* Info() { return dynamic_cast<TDtpProjectInfoShape*>(doc->GetShape(0)); }
  std::pair<int, int> ImageSize(int index = kImageIndex) {
    auto* shape = dynamic_cast<TdtpCropBitmapShape*>(doc->GetShape(index));
    TResourceAccess access(shape->Image());
    TBitmap32* b = shape->Image().GetBitmap();
    return b ? std::pair{b->Width(), b->Height()} : std::pair{0, 0};
  }
};

TEST_F(ProjectTest, OnlyVersion102OfTheInformationShapeOpens) {
  const std::string twoLines =
      Text("Messages", "LoadingError") + "\r\n" + Text("Messages", "UnSupportedProjectVersion");
  struct Case {
    const char* name;
    std::function<void(TdtpDocument&)> change;
    std::string message;
  };
  const Case refused[] = {
      {"v101.ovx", [](TdtpDocument& d) { dynamic_cast<TDtpProjectInfoShape*>(d.GetShape(0))->SetVersion(101); },
       twoLines},
      {"v103.ovx", [](TdtpDocument& d) { dynamic_cast<TDtpProjectInfoShape*>(d.GetShape(0))->SetVersion(103); },
       twoLines},
      {"none.ovx", [](TdtpDocument& d) { dynamic_cast<TDtpProjectInfoShape*>(d.GetShape(0))->SetVersion(0); },
       twoLines},
      {"class.ovx", [](TdtpDocument& d) { d.DeleteShape(0); }, twoLines},
      {"empty.ovx", [](TdtpDocument& d) { d.GetCurrentPage()->ClearShapes(); }, Text("Messages", "LoadingError")},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    const std::string file = SavedProject(c.name, c.change);
    const std::string bytes = ReadFile(file);
    // A project was open before: the refused file leaves none behind.
    ASSERT_TRUE(CreateCDFrontTemplate(*doc));
    Errors.clear();
    EXPECT_FALSE(OpenProject(*doc, file));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], c.message);
    EXPECT_FALSE(HasPage(*doc));
    EXPECT_FALSE(doc->Modified());
    EXPECT_EQ(ReadFile(file), bytes);
  }

  // Bytes that are no archive, and a file that is not there.
  test::WriteFile(scratch / "junk.ovx", "not a project");
  for (const std::string file : {(scratch / "junk.ovx").string(), (scratch / "missing.ovx").string()}) {
    if (doc->PageCount() == 0) doc->AddPage();
    ASSERT_TRUE(CreateCDFrontTemplate(*doc));
    Errors.clear();
    EXPECT_FALSE(OpenProject(*doc, file));
    EXPECT_EQ(Errors.size(), 1u);
    EXPECT_FALSE(HasPage(*doc));
    EXPECT_FALSE(doc->Modified());
  }

  int zooms = 0, orientation = 0;
  Errors.clear();
  EXPECT_TRUE(OpenProject(*doc, SavedProject("v102.ovx"), {[&] { ++orientation; }, [&] { ++zooms; }, {}}));
  EXPECT_TRUE(Errors.empty());
  EXPECT_TRUE(IsSupportedProject(*doc));
  EXPECT_EQ(doc->ShapeCount(), 11);
  EXPECT_EQ(zooms + orientation, 2);
  EXPECT_FALSE(doc->Modified());
  for (int i = kFirstLineIndex; i < doc->ShapeCount(); ++i)
    EXPECT_FLOAT_EQ(dynamic_cast<TDtpExLineShape*>(doc->GetShape(i))->LineWidth(), kScreenLineWidth);
}

TEST_F(ProjectTest, AFailedSaveKeepsThePreviousFileAndTheModifiedFlag) {
  // The temporary file beside a name this long cannot be made; the
  // previous file is a copy of a save under a short name.
  const std::string file = (scratch / (std::string(250, 'p') + ".ovx")).string();
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  ASSERT_TRUE(SaveProject(*doc, (scratch / "short.ovx").string()));
  EXPECT_FALSE(doc->Modified());
  std::filesystem::copy_file(scratch / "short.ovx", file);
  const std::string before = ReadFile(file);
  SetShapeText(*doc, 2, "changed");
  ASSERT_TRUE(doc->Modified());
  int refreshed = 0;
  EXPECT_FALSE(SaveProject(*doc, file, {{}, {}, [&] { ++refreshed; }}));
  EXPECT_EQ(Errors.size(), 1u);
  EXPECT_EQ(refreshed, 0);
  EXPECT_TRUE(doc->Modified());
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_THROW(SaveProjectFile(*doc, file), Exception);
  EXPECT_TRUE(doc->Modified());
}

TEST_F(ProjectTest, DataPanelOperationsOnTheirRoles) {
  ASSERT_TRUE(CreateCDFrontDoubleTemplate(*doc));

  // Template texts: placeholders only, the contents with its line breaks.
  SetShapeText(*doc, 5, "");
  ApplyTemplateTexts(*doc, 1);
  EXPECT_EQ(Info()->ProjectName(), Text("TemplateNames", "CDFrontDouble"));
  EXPECT_EQ(Info()->Category(), Text("TemplateCategories", "CD"));
  EXPECT_EQ(GetTextShapeText(*doc, 2), Text("TemplateResources", "Title1"));
  EXPECT_EQ(GetTextShapeText(*doc, 4), Text("TemplateResources", "Title3"));
  EXPECT_EQ(GetTextShapeText(*doc, 5), "");
  auto* contents = dynamic_cast<TdtpMemoShape*>(doc->GetShape(kContentsIndex));
  EXPECT_EQ(contents->Lines().Count(), 3);
  EXPECT_EQ(GetMemoShapeText(*doc, 6), Localizer().GetString("TemplateResources", "Contents", true));

  // Line kinds: cut lines hide, fold lines and the information shape stay.
  SetLineKindVisible(*doc, kCutLineTag, false);
  for (int i = kFirstLineIndex; i < doc->ShapeCount(); ++i)
    EXPECT_EQ(doc->GetShape(i)->Visible(), doc->GetShape(i)->Tag() == kFoldLineTag) << i;
  SetLineKindVisible(*doc, kFoldLineTag, false);
  EXPECT_FALSE(doc->GetShape(0)->Visible());
  EXPECT_TRUE(doc->GetShape(kImageIndex)->Visible());
  EXPECT_THROW(SetLineKindStyle(*doc, kProjectInfoTag, psSolid, 1), EInvalidCast);

  // Selection toggles one shape; lines and the information are never selected.
  SelectShape(*doc, 2);
  EXPECT_TRUE(doc->GetShape(2)->Selected());
  SelectShape(*doc, 2);
  for (int i = 0; i < doc->ShapeCount(); ++i) EXPECT_FALSE(doc->GetShape(i)->Selected()) << i;
  SelectShape(*doc, 3);
  SelectShape(*doc, kImageIndex);
  for (int i = 0; i < doc->ShapeCount(); ++i) EXPECT_EQ(doc->GetShape(i)->Selected(), i == kImageIndex) << i;
  SelectShape(*doc, kFirstLineIndex);
  EXPECT_FALSE(doc->GetShape(kFirstLineIndex)->Selected());
  SelectShape(*doc, 99);

  // Texts by role: a memo takes lines, a text shape its text, others nothing.
  SetShapeText(*doc, kContentsIndex, "a\r\nb");
  EXPECT_EQ(contents->Lines().Count(), 2);
  EXPECT_EQ(GetMemoShapeText(*doc, kContentsIndex), "a\r\nb");
  SetShapeText(*doc, 3, "Ärger");
  EXPECT_EQ(GetTextShapeText(*doc, 3), "Ärger");
  SetShapeText(*doc, kFirstLineIndex, "x");
  SetShapeText(*doc, 99, "x");
  SetHorzAlignment(*doc, 3, 0);
  SetVertAlignment(*doc, kContentsIndex, 2);
  EXPECT_EQ(dynamic_cast<TdtpTextBaseShape*>(doc->GetShape(3))->Alignment(), 0);
  EXPECT_EQ(contents->VertAlign(), 2);

  // Moving everything keeps the offsets between shapes.
  const float left = doc->GetShape(kImageIndex)->DocLeft();
  OffsetAllShapes(*doc, 3, -2);
  EXPECT_FLOAT_EQ(doc->GetShape(kImageIndex)->DocLeft(), left + 3);
}

TEST_F(ProjectTest, OpeningAProjectKeepsItsPlaceholderTexts) {
  const std::string file = SavedProject("titles.ovx");
  ASSERT_TRUE(OpenProject(*doc, file));
  EXPECT_EQ(GetTextShapeText(*doc, 2), "_TMP_");
  EXPECT_EQ(GetTextShapeText(*doc, 3), "_TMP_");
}

TEST_F(ProjectTest, ThePictureSurvivesBadFilesAndANonAsciiPath) {
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  ASSERT_EQ(ImageSize(), std::pair(600, 600));

  // A photo of our own, 40 by 30, under a path with letters outside ASCII.
  TBitmap32 photo;
  photo.SetSize(40, 30);
  photo.Clear(0xFF336699u);
  const std::filesystem::path photoFile = scratch / "Fotos für Ölbilder ♫.bmp";
  {
    TdtpImageFiler filer;
    filer.SetFileName(photoFile.string());
    filer.SaveBitmap(&photo);
  }
  ASSERT_TRUE(LoadImageIntoShape(*doc, kImageIndex, photoFile.string()));
  EXPECT_TRUE(Errors.empty());
  EXPECT_EQ(ImageSize(), std::pair(40, 30));
  auto* shape = dynamic_cast<TdtpCropBitmapShape*>(doc->GetShape(kImageIndex));
  EXPECT_FLOAT_EQ(shape->DocWidth(), 121) << "the pinned frame comes back";
  EXPECT_FALSE(shape->PreserveAspect());

  // Bytes that do not decode, and a file that is not there: reported, and
  // the photo stays.
  test::WriteFile(scratch / "broken.jpg", "\xFF\xD8\xFF garbage");
  EXPECT_FALSE(LoadImageIntoShape(*doc, kImageIndex, (scratch / "broken.jpg").string()));
  EXPECT_FALSE(LoadImageIntoShape(*doc, kImageIndex, (scratch / "gone.png").string()));
  EXPECT_EQ(Errors.size(), 2u);
  EXPECT_EQ(ImageSize(), std::pair(40, 30));

  const std::string file = (scratch / "photo.ovx").string();
  ASSERT_TRUE(SaveProject(*doc, file));
  ASSERT_TRUE(OpenProject(*doc, file));
  EXPECT_EQ(ImageSize(), std::pair(40, 30));
  ASSERT_TRUE(SaveProject(*doc, (scratch / "again.ovx").string()));
  ASSERT_TRUE(OpenProject(*doc, (scratch / "again.ovx").string()));
  EXPECT_EQ(ImageSize(), std::pair(40, 30));

  // An image shape without a picture gets the default one.
  auto empty = std::make_unique<TdtpCropBitmapShape>();
  const int index = doc->AddShape(std::move(empty));
  EXPECT_FALSE(LoadImageIntoShape(*doc, index, (scratch / "broken.jpg").string()));
  EXPECT_EQ(ImageSize(index), std::pair(600, 600));
}

}  // namespace
}  // namespace kdl

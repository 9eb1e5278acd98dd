// A saved project whose photo no longer decodes: it opens, the user hears
// why once, the frame shows its placeholder, painting stays quiet, and the
// photo's bytes go back into the file unchanged on the next save.
#include <gtest/gtest.h>

#include <string>

#include "ProjectTesting.h"
#include "app/project/Templates.h"
#include "app/shapes/CropBitmapShape.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/RasterFormats.h"
#include "document/view/Page.h"
#include "foundation/Storage.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"

namespace kdl::test {
namespace {

class BrokenPhotoTest : public ProjectFixture {
 protected:
  // The bytes of the project's one JPEG member, and its name.
  static std::string Member(const std::string& project, std::string* name = nullptr) {
    TqxStorage storage;
    storage.LoadFromFile(project);
    for (int i = 0; i < storage.StreamCount(); ++i) {
      const std::string member = storage.GetStreamName(i);
      if (member.size() < 4 || member.substr(member.size() - 4) != ".jpg") continue;
      TMemoryStream bytes;
      storage.ReadStream(member, bytes);
      if (name) *name = member;
      return std::string(static_cast<const char*>(bytes.Memory()), static_cast<std::size_t>(bytes.Size()));
    }
    return {};
  }
};

TEST_F(BrokenPhotoTest, OpensWithOneErrorAndKeepsTheBytes) {
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  TBitmap32 photo;
  photo.SetSize(64, 48);
  photo.Clear(0xFF336699u);
  const std::string file = (scratch / "photo.jpg").string();
  {
    TdtpImageFiler filer;
    filer.SetFileName(file);
    filer.SaveBitmap(&photo);
  }
  ASSERT_TRUE(LoadImageIntoShape(*doc, kImageIndex, file));
  const std::string project = (scratch / "photo.ovx").string();
  ASSERT_TRUE(SaveProject(*doc, project));

  // The member damaged in place, as a disk or a transfer might leave it.
  std::string name;
  ASSERT_FALSE(Member(project, &name).empty());
  const std::string broken = "\xFF\xD8\xFF garbage, not a picture";
  {
    TqxStorage storage;
    storage.LoadFromFile(project);
    TMemoryStream bytes;
    bytes.WriteBuffer(broken.data(), static_cast<std::int64_t>(broken.size()));
    storage.WriteStream(name, bytes);
    storage.SaveToFile(project);
  }

  doc = std::make_unique<TdtpDocument>();
  doc->SetStoreThumbnails(false);
  Errors.clear();
  ASSERT_TRUE(OpenProject(*doc, project));
  ASSERT_EQ(Errors.size(), 1u) << "the user hears of the photo once, when the project opens";
  auto* shape = dynamic_cast<TdtpCropBitmapShape*>(doc->GetShape(kImageIndex));
  ASSERT_NE(shape, nullptr);
  EXPECT_TRUE(shape->IsEmpty());
  EXPECT_EQ(Errors[0], shape->Image().ErrorMessage()) << "the message is the photo's own";
  // Repaints neither fail nor repeat the message.
  (void)doc->GetCurrentPage()->RenderThumbnail(200, 200, dtScreen, 0);
  (void)doc->GetCurrentPage()->RenderThumbnail(300, 300, dtScreen, 0);
  EXPECT_EQ(Errors.size(), 1u);

  // Saved again, the member holds the bytes it held.
  const std::string again = (scratch / "again.ovx").string();
  ASSERT_TRUE(SaveProject(*doc, again));
  EXPECT_EQ(Member(again), broken);
  EXPECT_EQ(Errors.size(), 1u);
}

}  // namespace
}  // namespace kdl::test

// Pictures in saved documents, as a user meets them: a picture whose member
// name could pass for one of the document's own (opened, pasted or
// copy-dragged) never changes the page count, and a save keeps exactly the
// members something refers to. Pictures are written by Qt's PNG encoder and
// compared with Qt's pixels; member lists come from the independent Python
// reader of the archive format.
#include <gtest/gtest.h>


#include <QImage>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../resources/ResourceTestUtil.h"
#include "TestFiles.h"
#include "ViewTesting.h"
#include "document/resources/BitmapResource.h"
#include "document/kinds/BitmapShape.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using test::LoadBytes;
using test::SaveBytes;

// A w x h picture of a pattern that differs with seed.
QImage Picture(int w, int h, int seed) {
  QImage image(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, qRgb((x * 37 + seed * 11) & 255, (y * 53 + seed) & 255, (x * y + seed * 7) & 255));
  return image;
}

fs::path SavePicture(const QImage& image, const fs::path& file) {
  EXPECT_TRUE(image.save(QString::fromStdString(file.string()), "PNG"));
  return fs::absolute(file).lexically_normal();
}

// Whether the shape shows exactly the picture's pixels.
bool Shows(TdtpShape* shape, const QImage& picture) {
  auto* bitmap = dynamic_cast<TdtpBitmapShape*>(shape);
  if (!bitmap) return false;
  const std::vector<TColor32> pixels = test::ResourcePixels(bitmap->Image());
  if (pixels.size() != static_cast<std::size_t>(picture.width()) * picture.height()) return false;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (static_cast<std::uint32_t>(pixels[static_cast<std::size_t>(y * picture.width() + x)]) !=
          picture.pixel(x, y))
        return false;
  return true;
}

// A picture shape on the current page, its bytes stored in the archive.
TdtpBitmapShape& AddPicture(TdtpDocument& doc, const fs::path& file, float left) {
  auto shape = std::make_unique<TdtpBitmapShape>();
  shape->Image().SetStorage(rsArchive);
  TdtpBitmapShape& added = *shape;
  doc.AddShape(std::move(shape));
  added.Image().LoadFromFile(file);
  // A new image sizes the shape; a frame large enough to grab.
  added.SetDocBounds(left, 10, 30, 20);
  return added;
}

// The members of a saved archive, name to bytes, as the Python reader lists them.
std::map<std::string, std::string> ReaderMembers(const fs::path& file) {
  int status = 0;
  const std::string out = test::RunCommand(
      "python3 " + std::string(KDL_SOURCE_DIR) + "/tests/foundation/storage_reader.py read " + file.string(), &status);
  EXPECT_EQ(status, 0) << out;
  std::map<std::string, std::string> members;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name, offset, size, hex;
    std::getline(fields, name, '\t');
    std::getline(fields, offset, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, hex, '\t');
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    members[name] = bytes;
  }
  return members;
}

std::vector<std::string> Names(const std::map<std::string, std::string>& members) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : members) names.push_back(name);
  return names;
}

class ProjectMembersTest : public test::ShownDocumentTest<> {
 protected:
  void SetUp() override {
    ShownDocumentTest::SetUp();
    ExactScale();
    a_ = Picture(7, 5, 1);
    b_ = Picture(6, 4, 2);
    c_ = Picture(5, 3, 3);
    aFile_ = SavePicture(a_, dir_ / "a.png");
    bFile_ = SavePicture(b_, dir_ / "b.png");
    cFile_ = SavePicture(c_, dir_ / "c.png");
  }

  // A one-page project as an older build stored it: a's picture in the
  // member "Page9999.png", b's in "Page0003.png", both named so by the page.
  std::string LegacyProject() {
    TdtpDocument doc;
    AddPicture(doc, aFile_, 10);
    AddPicture(doc, bFile_, 60);
    TMemoryStream saved;
    doc.SaveToStream(saved);
    saved.SetPosition(0);
    TqxStorage storage;
    storage.LoadFromStream(saved);
    std::string page = test::MemberBytes(storage, "Page0001.xml");
    for (const auto& [from, to] : {std::pair{aFile_.string(), std::string("Page9999.png")},
                                   std::pair{bFile_.string(), std::string("Page0003.png")}}) {
      EXPECT_TRUE(storage.StreamExists(from)) << from;
      storage.RenameStream(from, to);
      for (std::size_t at; (at = page.find(from)) != std::string::npos;) page.replace(at, from.size(), to);
    }
    test::WriteMember(storage, "Page0001.xml", page);
    TMemoryStream out;
    storage.SaveToStream(out);
    return test::StreamBytes(out);
  }

  test::ScratchDir dir_;
  QImage a_, b_, c_;
  fs::path aFile_, bFile_, cFile_;
};

// ---- Names that could pass for the document's own --------------------------------------------

TEST_F(ProjectMembersTest, OpenedPicturesNamedLikePagesAreNoPagesAndCopyDragKeepsThem) {
  LoadBytes(*doc_, LegacyProject());
  ASSERT_EQ(doc_->PageCount(), 1);
  ASSERT_EQ(doc_->GetPage(0)->GetShapeCount(), 2);
  EXPECT_TRUE(Shows(doc_->GetShape(0), a_));
  EXPECT_TRUE(Shows(doc_->GetShape(1), b_));

  // Ctrl-drag copies the second picture 10 mm to the right (the opened
  // settings brought their own zoom).
  ExactScale();
  TdtpShape* original = doc_->GetShape(1);
  const QPoint from = At(*original, 15, 10);
  Click(from);
  ASSERT_TRUE(original->Selected());
  Drag(from, from + QPoint(40, 0), Qt::ControlModifier);
  ASSERT_EQ(doc_->GetPage(0)->GetShapeCount(), 3);
  EXPECT_FLOAT_EQ(doc_->GetShape(2)->DocLeft(), original->DocLeft() + 10);

  const fs::path file = dir_ / "saved.kdl";
  doc_->SaveToFile(file.string());
  TdtpDocument again;
  again.LoadFromFile(file.string());
  ASSERT_EQ(again.PageCount(), 1);
  ASSERT_EQ(again.GetPage(0)->GetShapeCount(), 3);
  EXPECT_TRUE(Shows(again.GetShape(0), a_));
  EXPECT_TRUE(Shows(again.GetShape(1), b_));
  EXPECT_TRUE(Shows(again.GetShape(2), b_));
  // The copy took a fresh name of its own extension; nothing new looks like a page.
  for (const std::string& name : Names(ReaderMembers(file))) {
    if (name == "Page9999.png" || name == "Page0003.png") continue;
    EXPECT_TRUE(name == "Index.xml" || name == "Page0001.xml" || name == "Thumb0001.bmp" ||
                (TqxStorage::IsTempStreamName(name) && name.size() == 14 && name.substr(10) == ".png"))
        << name;
  }
}

TEST_F(ProjectMembersTest, OnlyPageMembersOfTheirOwnFormCountAsPages) {
  // Letter case does not matter, as for every member name; a number without
  // ".xml", or of another length, is no page.
  TdtpDocument source;
  source.SetPageCount(2);
  const std::string bytes = SaveBytes(source);
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  TqxStorage storage;
  storage.LoadFromStream(m);
  storage.RenameStream("Page0002.xml", "PAGE0002.XML");
  test::WriteMember(storage, "Page0007", "x");
  test::WriteMember(storage, "Page00030.xml", "x");
  test::WriteMember(storage, "Page0005.xml.bak", "x");
  test::WriteMember(storage, "Page-001.xml", "x");
  TMemoryStream out;
  storage.SaveToStream(out);
  TdtpDocument doc;
  LoadBytes(doc, test::StreamBytes(out));
  EXPECT_EQ(doc.PageCount(), 2);
}

TEST_F(ProjectMembersTest, PastedPicturesNamedLikePagesTakeFreshNames) {
  // The clipboard text of an older build that held such members.
  TdtpDocument source;
  LoadBytes(source, LegacyProject());
  for (int i = 0; i < 2; ++i) source.GetShape(i)->SetSelected(true);
  std::string text;
  source.SelectionToString(text);

  ASSERT_EQ(doc_->PasteFromString(text), 2);
  for (const char* name : {"Page9999.png", "Page0003.png"})
    EXPECT_FALSE(doc_->Storage()->StreamExists(name)) << name;
  const std::string saved = SaveBytes(*doc_);
  TdtpDocument again;
  LoadBytes(again, saved);
  ASSERT_EQ(again.PageCount(), 1);
  ASSERT_EQ(again.GetPage(0)->GetShapeCount(), 2);
  EXPECT_TRUE(Shows(again.GetShape(0), a_));
  EXPECT_TRUE(Shows(again.GetShape(1), b_));
}

// ---- Members nothing refers to ----------------------------------------------------------------

TEST_F(ProjectMembersTest, ReplacingAPictureTwiceLeavesOnlyTheLastInTheFile) {
  TdtpBitmapShape& shape = AddPicture(*doc_, aFile_, 10);
  const fs::path file = dir_ / "replaced.kdl";
  doc_->SaveToFile(file.string());
  shape.Image().LoadFromFile(bFile_);
  shape.Image().LoadFromFile(cFile_);
  doc_->SaveToFile(file.string());

  const auto members = ReaderMembers(file);
  EXPECT_EQ(Names(members), (std::vector<std::string>{cFile_.string(), "Index.xml", "Page0001.xml", "Thumb0001.bmp"}));
  EXPECT_EQ(members.count(cFile_.string()) ? members.at(cFile_.string()) : "", test::ReadFile(cFile_));
  TdtpDocument again;
  again.LoadFromFile(file.string());
  EXPECT_TRUE(Shows(again.GetShape(0), c_));
}

TEST_F(ProjectMembersTest, PagesNotReadYetKeepTheirPictures) {
  TdtpDocument source;
  source.SetPageCount(3);
  const fs::path files[3] = {aFile_, bFile_, cFile_};
  for (int i = 0; i < 3; ++i) {
    source.SetCurrentPageIndex(i);
    AddPicture(source, files[i], 10);
  }
  source.SetCurrentPageIndex(0);
  const fs::path file = dir_ / "lazy.kdl";
  source.SaveToFile(file.string());

  // Opened, only the first page is read; its picture is replaced.
  doc_->LoadFromFile(file.string());
  ASSERT_FALSE(doc_->GetPage(1)->IsLoaded());
  auto* first = dynamic_cast<TdtpBitmapShape*>(doc_->GetShape(0));
  ASSERT_NE(first, nullptr);
  first->Image().LoadFromFile(cFile_);
  doc_->SaveToFile(file.string());

  const auto names = Names(ReaderMembers(file));
  EXPECT_EQ(names, (std::vector<std::string>{bFile_.string(), cFile_.string(), "Index.xml", "Page0001.xml",
                                             "Page0002.xml", "Page0003.xml", "Thumb0001.bmp", "Thumb0002.bmp",
                                             "Thumb0003.bmp"}));
  TdtpDocument again;
  again.LoadFromFile(file.string());
  ASSERT_EQ(again.PageCount(), 3);
  const QImage* shown[3] = {&c_, &b_, &c_};
  for (int i = 0; i < 3; ++i) {
    again.SetCurrentPageIndex(i);
    EXPECT_TRUE(Shows(again.GetShape(0), *shown[i])) << "page " << i + 1;
  }
}

using test::FileSizeLimit;

TEST_F(ProjectMembersTest, FailedSaveLeavesTheFileAsItWas) {
  TdtpBitmapShape& shape = AddPicture(*doc_, aFile_, 10);
  const fs::path file = dir_ / "kept.kdl";
  doc_->SaveToFile(file.string());
  const std::string before = test::ReadFile(file);
  shape.Image().LoadFromFile(bFile_);
  {
    FileSizeLimit limit(64);
    EXPECT_THROW(doc_->SaveToFile(file.string()), std::exception);
  }
  EXPECT_EQ(test::ReadFile(file), before);
  EXPECT_TRUE(doc_->Modified());

  // The next save that can write stores the new picture alone.
  doc_->SaveToFile(file.string());
  EXPECT_EQ(Names(ReaderMembers(file)),
            (std::vector<std::string>{bFile_.string(), "Index.xml", "Page0001.xml", "Thumb0001.bmp"}));
  TdtpDocument again;
  again.LoadFromFile(file.string());
  EXPECT_TRUE(Shows(again.GetShape(0), b_));
}

}  // namespace
}  // namespace kdl

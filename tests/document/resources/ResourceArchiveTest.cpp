// Resources whose bytes live in a real archive, saved to a file and read
// back the way a document would.
#include <gtest/gtest.h>

#include "ResourceTestUtil.h"

namespace kdl {
namespace {

using test::NewBitmapResource;

class ResourceArchive : public ::testing::Test {
 protected:
  void SetUp() override { InitializeDocumentLibrary(); }

  // A PNG file of a known picture, read into a new resource of doc that
  // keeps its bytes in the archive.
  std::unique_ptr<TdtpBitmapResource> FromPng(testing::FakeDocument& doc, const std::string& name,
                                              TBitmap32& picture) {
    const auto path = scratch_ / name;
    if (!std::filesystem::exists(path)) test::WriteFile(path, test::EncodedBytes(picture, ".png"));
    auto r = NewBitmapResource(&doc);
    r->SetStorage(rsArchive);
    r->LoadFromFile(path);
    return r;
  }
  // Saves doc's archive to a file and loads it into reread.
  void Reopen(testing::FakeDocument& doc, testing::FakeDocument& reread) {
    const auto file = scratch_ / "doc.stor";
    doc.Storage()->SaveToFile(file);
    reread.Storage()->LoadFromFile(file);
  }
  std::unique_ptr<TdtpBitmapResource> Reread(testing::FakeDocument& doc, const std::string& xml) {
    auto r = NewBitmapResource(&doc);
    test::LoadXml(*r, xml);
    return r;
  }

  test::ScratchDir scratch_;
};

TEST_F(ResourceArchive, CopiesKeepTheirImagesUnderMembersOfTheirOwn) {
  auto picture = test::OpaqueBitmap(9, 7, 1);
  testing::FakeDocument a, b;
  auto original = FromPng(a, "a.png", *picture);
  auto sameDocument = NewBitmapResource(&a);
  sameDocument->Assign(*original);
  auto otherDocument = NewBitmapResource(&b);
  otherDocument->Assign(*original);
  EXPECT_TRUE(sameDocument->DataModified());
  const std::string xmlOriginal = test::SaveXml(*original);
  const std::string xmlSame = test::SaveXml(*sameDocument);
  const std::string xmlOther = test::SaveXml(*otherDocument);
  EXPECT_NE(original->ArchiveName(), sameDocument->ArchiveName());
  EXPECT_FALSE(sameDocument->ArchiveName().empty());
  EXPECT_TRUE(TqxStorage::IsTempStreamName(otherDocument->ArchiveName()));

  testing::FakeDocument a2, b2;
  Reopen(a, a2);
  Reopen(b, b2);
  const auto expected = test::Pixels(*picture);
  EXPECT_EQ(test::ResourcePixels(*Reread(a2, xmlOriginal)), expected);
  EXPECT_EQ(test::ResourcePixels(*Reread(a2, xmlSame)), expected);
  EXPECT_EQ(test::ResourcePixels(*Reread(b2, xmlOther)), expected);

  // Changing the copy leaves the original's member alone.
  auto other = test::OpaqueBitmap(3, 3, 2);
  sameDocument->SetBitmap(other.get());
  EXPECT_EQ(test::ResourcePixels(*Reread(a, xmlOriginal)), expected);
}

TEST_F(ResourceArchive, TwoResourcesFromOneFileStayApart) {
  auto picture = test::OpaqueBitmap(6, 5, 3);
  testing::FakeDocument doc;
  auto first = FromPng(doc, "shared.png", *picture);
  auto second = FromPng(doc, "shared.png", *picture);
  // Both are named after the file; the member holds the same bytes once.
  EXPECT_EQ(first->ArchiveName(), second->ArchiveName());
  auto changed = test::OpaqueBitmap(4, 4, 4);
  second->SetBitmap(changed.get());
  EXPECT_NE(second->ArchiveName(), first->ArchiveName());
  // The first rereads its member after a trim and still finds its picture.
  first->Release();
  EXPECT_EQ(first->GetLoadState(), 0);
  EXPECT_EQ(test::ResourcePixels(*first), test::Pixels(*picture));
  EXPECT_EQ(test::ResourcePixels(*second), test::Pixels(*changed));
}

TEST_F(ResourceArchive, TheDocumentsOwnMembersAreNeverWritten) {
  testing::FakeDocument doc;
  TqxStorage& storage = *doc.Storage();
  test::WriteMember(storage, "Index.xml", "<Document/>");
  test::WriteMember(storage, "Page0001.xml", "<Page/>");
  auto picture = test::OpaqueBitmap(2, 2, 5);
  for (const char* name : {"Index.xml", "index.XML", "Page0001.xml", "Thumb0001.bmp", "Fonts.dat"}) {
    SCOPED_TRACE(name);
    auto r = Reread(doc, std::string("<Resource><ArchiveName>") + name +
                             "</ArchiveName><FileName>x.png</FileName><Storage>Archive</Storage></Resource>");
    r->SetBitmap(picture.get());
    EXPECT_TRUE(TqxStorage::IsTempStreamName(r->ArchiveName()));
    r->SetBitmap(nullptr);
  }
  EXPECT_EQ(test::MemberBytes(storage, "Index.xml"), "<Document/>");
  EXPECT_EQ(test::MemberBytes(storage, "Page0001.xml"), "<Page/>");
}

TEST_F(ResourceArchive, AFailedReadKeepsTheMember) {
  auto picture = test::OpaqueBitmap(5, 5, 6);
  testing::FakeDocument doc;
  test::WriteMember(*doc.Storage(), "TMP0000001.png", test::EncodedBytes(*picture, ".png"));
  const auto file = scratch_ / "doc.stor";
  doc.Storage()->SaveToFile(file);
  const std::string saved = test::ReadFile(file);

  // Opened, then the file is cut short under the archive: its member can no
  // longer be read.
  testing::FakeDocument reread;
  reread.Storage()->LoadFromFile(file);
  test::WriteFile(file, saved.substr(0, saved.size() - 10));
  auto r = Reread(reread, "<Resource><ArchiveName>TMP0000001.png</ArchiveName><FileName>a.png</FileName>"
                          "<Storage>Archive</Storage></Resource>");
  EXPECT_EQ(r->ArchiveName(), "TMP0000001.png");
  EXPECT_FALSE(r->DataLoaded());
  EXPECT_NE(test::SaveXml(*r).find("TMP0000001.png"), std::string::npos);
  EXPECT_TRUE(reread.Storage()->StreamExists("TMP0000001.png"));
  // Once the file is whole again, the next use reads the picture.
  test::WriteFile(file, saved);
  EXPECT_EQ(test::ResourcePixels(*r), test::Pixels(*picture));
}

TEST_F(ResourceArchive, PngStaysPngAndUnknownExtensionsBecomeHck) {
  test::ScratchDir dir;
  testing::FakeDocument doc;
  auto picture = test::OpaqueBitmap(8, 8, 8);
  auto r = FromPng(doc, "keep.png", *picture);
  auto changed = test::OpaqueBitmap(5, 4, 9);
  r->SetBitmap(changed.get());
  test::WriteFile(dir / "out.png", test::DataBytes(*r));
  int status = -1;
  test::RunCommand("pngcheck -q " + (dir / "out.png").string() + " >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::ResourcePixels(*r), test::Pixels(*changed));

  // A JPEG under a name no format claims is decoded by its content; a
  // change is stored as ".hck", without losing either image on the way.
  const std::string jpeg = test::EncodedBytes(*picture, ".jpg");
  auto photo = NewBitmapResource(&doc);
  test::LoadXml(*photo, "<Resource><Data><Size>" + std::to_string(jpeg.size()) +
                            "</Size><Filter>Base64</Filter><Buffer>" + EncodeBase64(jpeg.data(), jpeg.size()) +
                            "</Buffer></Data><FileName>photo.jpe</FileName><Storage>Embedded</Storage></Resource>");
  EXPECT_EQ(test::ResourcePixels(*photo).size(), 64u);
  photo->SetBitmap(changed.get());
  photo->SetStorage(rsArchive);
  EXPECT_EQ(photo->FileName(), "photo.hck");
  EXPECT_EQ(test::DataBytes(*photo).substr(0, 4), std::string("HCK\0", 4));
  testing::FakeDocument reread;
  Reopen(doc, reread);
  EXPECT_EQ(test::ResourcePixels(*Reread(reread, test::SaveXml(*photo))), test::Pixels(*changed));
}

TEST_F(ResourceArchive, AFailedDecodeIsRememberedUntilTheBytesChange) {
  testing::FakeDocument doc;
  auto r = NewBitmapResource(&doc);
  int decodes = 0;
  r->OnLoadObject = [&](TdtpResource&, TStream&, std::unique_ptr<TBitmap32>&) {
    ++decodes;
    throw ERasterError("Image file is corrupted");
  };
  const std::string xml = "<Resource><Data><Size>2</Size><Filter>BinHex</Filter><Buffer>0102</Buffer></Data>"
                          "<Storage>Embedded</Storage></Resource>";
  test::LoadXml(*r, xml);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(test::ErrorOf([&] { test::ResourcePixels(*r); }), "Image file is corrupted");
  EXPECT_EQ(decodes, 1);
  EXPECT_EQ(r->ErrorMessage(), "Image file is corrupted");
  test::LoadXml(*r, xml);
  test::ErrorOf([&] { test::ResourcePixels(*r); });
  EXPECT_EQ(decodes, 2);
  // A new picture replaces the broken one.
  auto picture = test::OpaqueBitmap(2, 2, 10);
  r->OnLoadObject = nullptr;
  r->SetBitmap(picture.get());
  EXPECT_EQ(test::ResourcePixels(*r), test::Pixels(*picture));
  EXPECT_EQ(r->ErrorMessage(), "");
}

TEST_F(ResourceArchive, AccessBracketsPairUp) {
  testing::FakeDocument doc;
  auto r = NewBitmapResource(&doc);
  EXPECT_EQ(test::ErrorOf([&] { r->EndAccess(); }), "Access count mismatch");
  EXPECT_EQ(r->AccessCount(), 0);
  {
    TResourceAccess outer(*r);
    TResourceAccess inner(*r);
    EXPECT_EQ(r->AccessCount(), 2);
  }
  EXPECT_EQ(r->AccessCount(), 0);
  // The lock is free again: another thread can take it.
  std::thread other([] {
    TResourcesLock lock;
  });
  other.join();
}

}  // namespace
}  // namespace kdl

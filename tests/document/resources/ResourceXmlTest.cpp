// The resource node written by hand, the legacy bitmap form packed by the
// independent Python model of the ".hck" coders, and external files named
// by a document.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ResourceTestUtil.h"
#include "support/AllocationMeter.h"

namespace kdl {
namespace {

using test::NewBitmapResource;

// A 2x2 24-bit BMP written out by hand: top row red, white; bottom row
// blue, green.
const std::string kBmpHex =
    "424D460000000000000036000000280000000200000002000000010018000000000010000000130B0000130B"
    "00000000000000000000FF000000FF0000000000FFFFFFFF0000";
const std::string kBmpBase64 =
    "Qk1GAAAAAAAAADYAAAAoAAAAAgAAAAIAAAABABgAAAAAABAAAAATCwAAEwsAAAAAAAAAAAAA/wAAAP8AAAAAAP////8AAA==";
const std::vector<TColor32> kBmpPixels = {0xFFFF0000u, 0xFFFFFFFFu, 0xFF0000FFu, 0xFF00FF00u};

std::string BmpBytes() {
  std::string out;
  for (std::size_t i = 0; i < kBmpHex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(kBmpHex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Embedded(const std::string& filter, const std::string& buffer, const std::string& size = "70") {
  return "<Resource><ClassName>TdtpBitmapResource</ClassName><Data><Size>" + size + "</Size><Filter>" +
         filter + "</Filter><Buffer>" + buffer + "</Buffer></Data><FileName>.bmp</FileName>"
         "<Storage>Embedded</Storage></Resource>";
}

class ResourceXml : public ::testing::Test {
 protected:
  void SetUp() override { InitializeDocumentLibrary(); }
  testing::FakeDocument doc_;
  test::ScratchDir scratch_;
};

TEST_F(ResourceXml, EmbeddedBytesInEitherEncoding) {
  for (const auto& [filter, buffer] : {std::pair{"Base64", kBmpBase64}, std::pair{"BinHex", kBmpHex}}) {
    SCOPED_TRACE(filter);
    auto r = NewBitmapResource(&doc_);
    test::LoadXml(*r, Embedded(filter, buffer));
    EXPECT_EQ(r->Storage(), rsEmbedded);
    EXPECT_EQ(r->GetLoadState(), 1);  // bytes only: nothing is decoded while reading
    EXPECT_EQ(test::ResourcePixels(*r), kBmpPixels);
  }
  // Written back: the elements in their order, the bytes always in Base64.
  auto r = NewBitmapResource(&doc_);
  test::LoadXml(*r, Embedded("BinHex", kBmpHex));
  EXPECT_EQ(test::SaveXml(*r),
            "<Resource><ClassName>TdtpBitmapResource</ClassName><Data><Size>70</Size><Filter>Base64</Filter>"
            "<Buffer>" + kBmpBase64 + "</Buffer></Data><FileName>.bmp</FileName><Storage>Embedded</Storage>"
            "</Resource>");
}

TEST_F(ResourceXml, DamagedEmbeddedData) {
  auto r = NewBitmapResource(&doc_);
  EXPECT_EQ(test::ErrorOf([&] { test::LoadXml(*r, Embedded("UUEncode", kBmpBase64)); }),
            "Unsupported binary encoding");
  // A size beyond the bytes present is refused before anything is sized by it.
  for (const char* size : {"2000000000", "-5"})
    EXPECT_EQ(test::ErrorOf([&] { test::LoadXml(*r, Embedded("Base64", kBmpBase64, size)); }),
              "Missing data in binary stream")
        << size;
  // No buffer, or a buffer without a byte count.
  for (const std::string& data : {std::string("<Size>4</Size><Filter>Base64</Filter>"),
                                  "<Filter>Base64</Filter><Buffer>" + kBmpBase64 + "</Buffer>"})
    EXPECT_EQ(test::ErrorOf([&] {
                test::LoadXml(*r, "<Resource><Data>" + data + "</Data><Storage>Embedded</Storage></Resource>");
              }),
              "Missing data in binary stream")
        << data;
  // Size 0 reads nothing; an unknown storage text keeps the kind.
  test::LoadXml(*r, Embedded("Nonsense", kBmpBase64, "0"));
  EXPECT_EQ(r->GetLoadState(), 0);
  test::LoadXml(*r, "<Resource><Storage>Cloud</Storage></Resource>");
  EXPECT_EQ(r->Storage(), rsEmbedded);
}

TEST_F(ResourceXml, ArchiveNoneAndExternalKinds) {
  const std::string bmp = BmpBytes();
  test::WriteMember(*doc_.Storage(), "TMP0000042.bmp", bmp);
  auto archived = NewBitmapResource(&doc_);
  test::LoadXml(*archived, "<Resource><ArchiveName>TMP0000042.bmp</ArchiveName><FileName>a.bmp</FileName>"
                           "<Storage>Archive</Storage></Resource>");
  EXPECT_EQ(test::ResourcePixels(*archived), kBmpPixels);
  std::vector<std::string> names;
  archived->GetArchiveNames(names);
  EXPECT_EQ(names, std::vector<std::string>{"TMP0000042.bmp"});

  // A missing member gives no bytes and no name.
  auto missing = NewBitmapResource(&doc_);
  test::LoadXml(*missing, "<Resource><ArchiveName>TMP9999999.bmp</ArchiveName><Storage>Archive</Storage></Resource>");
  EXPECT_EQ(missing->ArchiveName(), "");
  EXPECT_EQ(missing->GetBitmap(), nullptr);

  test::WriteFile(scratch_ / "pic.bmp", bmp);
  auto external = NewBitmapResource(&doc_);
  test::LoadXml(*external, "<Resource><FileName>" + (scratch_ / "pic.bmp").string() +
                               "</FileName><Storage>External</Storage></Resource>");
  EXPECT_EQ(test::ResourcePixels(*external), kBmpPixels);
  EXPECT_FALSE(external->DataModified());

  auto none = NewBitmapResource(&doc_);
  test::LoadXml(*none, "<Resource><Storage>None</Storage></Resource>");
  EXPECT_EQ(none->Storage(), rsNone);
  EXPECT_EQ(test::SaveXml(*none), "<Resource><ClassName>TdtpBitmapResource</ClassName><Storage>None</Storage></Resource>");
}

TEST_F(ResourceXml, EmptiedArchivedResourceDeletesItsMember) {
  test::WriteMember(*doc_.Storage(), "TMP0000007.bmp", "not really a picture");
  auto r = NewBitmapResource(&doc_);
  test::LoadXml(*r, "<Resource><ArchiveName>TMP0000007.bmp</ArchiveName><Storage>Archive</Storage></Resource>");
  r->SetObject(nullptr);  // the object is gone, so are the bytes
  EXPECT_FALSE(doc_.Storage()->StreamExists("TMP0000007.bmp"));
  EXPECT_EQ(test::SaveXml(*r), "<Resource><ClassName>TdtpBitmapResource</ClassName><Storage>Archive</Storage></Resource>");
  // Never so for one of the document's own members.
  test::WriteMember(*doc_.Storage(), "Page0001.xml", "<Page/>");
  test::LoadXml(*r, "<Resource><ArchiveName>Page0001.xml</ArchiveName><Storage>Archive</Storage></Resource>");
  r->SetObject(nullptr);
  EXPECT_EQ(test::MemberBytes(*doc_.Storage(), "Page0001.xml"), "<Page/>");
}

// ---- Legacy bitmaps ----------------------------------------------------------------

std::unique_ptr<TBitmap32> ReadLegacy(const std::string& xmlText) {
  TBrenlowXml xml;
  xml.ReadFromString(xmlText);
  std::unique_ptr<TBitmap32> bitmap;
  const TXmlNode* image = xml.Root()->FindChild("BackgroundImage");
  EXPECT_TRUE(image && IsLegacyBitmapXml(*image));
  ReadBitmapXml(xml.Root(), "BackgroundImage", bitmap);
  return bitmap;
}

TEST_F(ResourceXml, LegacyBitmapsDecodeToTheirPixels) {
  auto bitmap = ReadLegacy(test::LegacyBitmapXml(BmpBytes(), scratch_));
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(test::Pixels(*bitmap), kBmpPixels);

  // A larger, 32-bit one with alpha, whose size is no multiple of 4 planes'
  // worth of groups plus a tail.
  auto picture = std::make_unique<TBitmap32>();
  test::FillRandom(*picture, 13, 11, 21);
  const std::string file = test::EncodedBytes(*picture, ".bmp");
  auto read = ReadLegacy(test::LegacyBitmapXml(file, scratch_));
  ASSERT_TRUE(read);
  EXPECT_EQ(test::Pixels(*read), test::Pixels(*picture));
}

TEST_F(ResourceXml, LegacySizesAreCheckedFirst) {
  // SourceSize 0 (or negative) gives no bitmap.
  for (const char* source : {"0", "-70"})
    EXPECT_FALSE(ReadLegacy(std::string("<Page><BackgroundImage><CompressedSize>4</CompressedSize><SourceSize>") +
                            source + "</SourceSize><Buffer>AAAAAA==</Buffer></BackgroundImage></Page>"));
  // A compressed size other than the bytes present, or a file larger than
  // any BMP we read, is refused before the buffers are made; so are bytes
  // that do not unpack.
  for (const auto& [compressed, source] : {std::pair{"400", "70"}, {"4", "2000000000"}, {"4", "70"}})
    EXPECT_EQ(test::ErrorOf([&] {
                ReadLegacy(std::string("<Page><BackgroundImage><CompressedSize>") + compressed +
                           "</CompressedSize><SourceSize>" + source +
                           "</SourceSize><Buffer>AAAAAA==</Buffer></BackgroundImage></Page>");
              }),
              "Unable to decompress")
        << compressed << " " << source;
}

// ---- External files ------------------------------------------------------------------

TEST_F(ResourceXml, ExternalPathsFromAFileCreateNothing) {
  const auto folder = scratch_ / "never";
  const auto target = folder / "image.png";
  auto r = NewBitmapResource(&doc_);
  test::LoadXml(*r, "<Resource><FileName>" + target.string() + "</FileName><Storage>External</Storage></Resource>");
  EXPECT_EQ(r->GetBitmap(), nullptr);
  auto picture = test::OpaqueBitmap(3, 3, 30);
  r->SetBitmap(picture.get());
  test::SaveXml(*r);
  PurgeResources();
  EXPECT_FALSE(std::filesystem::exists(folder));
  // Nothing is lost: the unsaved bytes stay with the resource.
  EXPECT_TRUE(r->DataModified());
  EXPECT_EQ(test::ResourcePixels(*r), test::Pixels(*picture));

  // A path the user picked in this session is written, atomically.
  const auto chosen = scratch_ / "chosen.png";
  PermitExternalWrite(chosen);
  auto mine = NewBitmapResource(&doc_);
  test::LoadXml(*mine, "<Resource><FileName>" + chosen.string() + "</FileName><Storage>External</Storage></Resource>");
  mine->SetBitmap(picture.get());
  EXPECT_FALSE(mine->DataModified());
  EXPECT_EQ(test::ReadFile(chosen), test::DataBytes(*mine));
}

TEST_F(ResourceXml, ExternalFilesMustBeRegular) {
  const auto fifo = scratch_ / "pipe.png";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo.string(), scratch_.Path().string(), std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    auto r = NewBitmapResource(&doc_);
    test::LoadXml(*r, "<Resource><FileName>" + path + "</FileName><Storage>External</Storage></Resource>");
    EXPECT_EQ(r->GetLoadState(), 0);
    EXPECT_EQ(test::ErrorOf([&] { test::ResourcePixels(*r); }), "Not a regular file: " + path);
    EXPECT_EQ(r->ErrorMessage(), "Not a regular file: " + path);
    // The user asking for such a file hears of it at once.
    EXPECT_EQ(test::ErrorOf([&] { r->LoadFromFile(path); }), "Not a regular file: " + path);
    EXPECT_EQ(r->GetLoadState(), 0);
  }
  auto r = NewBitmapResource(&doc_);
  EXPECT_EQ(test::ErrorOf([&] { r->LoadFromFile(scratch_ / "absent.png"); }),
            "File does not exist: " + (scratch_ / "absent.png").string());
}

TEST_F(ResourceXml, HugeStatedSizesAllocateNothing) {
  // A size far beyond the text is refused before a buffer of that size is made.
  if (!test::AllocationMeter::Available()) GTEST_SKIP() << "needs the sanitizer's allocator hooks";
  auto r = NewBitmapResource(&doc_);
  for (const auto& [filter, buffer] : {std::pair{"Base64", kBmpBase64}, std::pair{"BinHex", kBmpHex}}) {
    test::AllocationMeter meter;
    EXPECT_EQ(test::ErrorOf([&] { test::LoadXml(*r, Embedded(filter, buffer, "2000000000")); }),
              "Missing data in binary stream")
        << filter;
    EXPECT_LT(meter.Largest(), 1 << 24) << filter;
  }
}

TEST_F(ResourceXml, AFailedEncodeKeepsTheOldBytesAndTheChangedPicture) {
  auto r = NewBitmapResource(&doc_);
  test::LoadXml(*r, Embedded("Base64", kBmpBase64));
  ASSERT_EQ(test::ResourcePixels(*r), kBmpPixels);
  // The writer fails half-way, after some bytes.
  r->OnStoreObject = [](TdtpResource&, TStream& target, TBitmap32&) {
    target.WriteBuffer("BMxx", 4);
    throw Exception("Disk full");
  };
  std::unique_ptr<TBitmap32> changed = test::OpaqueBitmap(3, 3, 7);
  const std::vector<TColor32> changedPixels = test::Pixels(*changed);
  EXPECT_EQ(test::ErrorOf([&] { r->SetObject(std::move(changed)); }), "Disk full");
  EXPECT_EQ(test::DataBytes(*r), BmpBytes());
  EXPECT_TRUE(r->ObjectModified());
  EXPECT_EQ(test::ResourcePixels(*r), changedPixels);
  // A writer that works then replaces the bytes.
  r->OnStoreObject = nullptr;
  r->Flush();
  EXPECT_FALSE(r->ObjectModified());
  EXPECT_NE(test::DataBytes(*r), BmpBytes());
}

TEST_F(ResourceXml, ExternalFilesAboveTheCapAreRefusedUnread) {
  // Sparse: the size costs no disk and, refused, no memory.
  const auto big = scratch_ / "big.bmp";
  test::WriteFile(big, BmpBytes());
  std::filesystem::resize_file(big, kMaxExternalFileSize + 1);
  auto r = NewBitmapResource(&doc_);
  test::LoadXml(*r, "<Resource><FileName>" + big.string() + "</FileName><Storage>External</Storage></Resource>");
  EXPECT_EQ(r->GetLoadState(), 0);
  EXPECT_EQ(r->ErrorMessage(), "File is too large: " + big.string());
  EXPECT_EQ(test::ErrorOf([&] { r->LoadFromFile(big); }), "File is too large: " + big.string());
  EXPECT_EQ(r->GetLoadState(), 0);
}

}  // namespace
}  // namespace kdl

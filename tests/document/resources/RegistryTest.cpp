#include <gtest/gtest.h>

#include "document/resources/RasterFormats.h"
#include "document/resources/formats/BmpFormat.h"
#include "document/resources/formats/GifFormat.h"
#include "document/resources/formats/HckImage.h"
#include "document/resources/formats/JpgFormat.h"
#include "document/resources/formats/PngFormat.h"
#include "ImageTestUtil.h"

namespace kdl {
namespace {

[[maybe_unused]] auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::FormatsEnvironment);

std::string RaiseMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const ERasterError& e) {
    return e.what();
  }
  return "(no ERasterError)";
}

void Sample(TBitmap32& b, std::int32_t w, std::int32_t h) {
  b.SetSize(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      b.SetPixel(x, y, 0xFF000000u | static_cast<TColor32>((x * 37) << 16 | (y * 11) << 8 | (x ^ y)));
}

std::vector<std::uint8_t> Encode(const std::string& ext, TBitmap32& b) {
  TMemoryStream s;
  TdtpImageFiler filer;
  filer.SetFormat(ext);
  filer.SetStream(&s);
  filer.SaveBitmap(&b);
  EXPECT_EQ(filer.Size(), s.Size());
  return test::StreamBytes(s);
}

TEST(RasterRegistry, OrderDescriptionsExtensionsAndFlags) {
  ASSERT_EQ(RasterFormatCount(), 5);
  RegisterRasterFormats();  // a second call changes nothing
  ASSERT_EQ(RasterFormatCount(), 5);
  struct Row {
    const TRasterClass* cls;
    const char* description;
    const char* extensions;
    std::uint16_t flags;
  } rows[] = {
      {&TdtpBmpFormat::Class(), "Windows Bitmap", ".bmp;.dib;", 15},
      {&TdtpJpgFormat::Class(), "JPEG images", ".jpg;.jp;.jpeg;", 0xE1F},
      {&THckImage::Class(), "HCK Image", ".hck;", 0x6F},
      {&TdtpGifFormat::Class(), "Compuserve GIF", ".gif;", 0x106F},
      {&TdtpPngFormat::Class(), "Portable Network Graphics", ".png;", 0x4F},
  };
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(RasterFormat(i), rows[i].cls) << i;
    EXPECT_EQ(RasterClassDescription(rows[i].cls), rows[i].description);
    EXPECT_EQ(RasterClassExtensions(rows[i].cls), rows[i].extensions);
    EXPECT_EQ(RasterClassFlags(rows[i].cls), rows[i].flags);
    EXPECT_EQ(rows[i].cls->Create()->Flags(), rows[i].flags);
  }
}

TEST(RasterRegistry, ExtensionLookupIsASubstringSearch) {
  EXPECT_EQ(RasterClassByExtension("a/b/Photo.JPG"), &TdtpJpgFormat::Class());
  EXPECT_EQ(RasterClassByExtension("x.jp"), &TdtpJpgFormat::Class());
  EXPECT_EQ(RasterClassByExtension("x.eg"), nullptr);
  // A format hint is searched as it is: "eg;" lies inside ".jpeg;".
  TdtpImageFiler filer;
  filer.SetFormat("eg");
  filer.ChooseReader();
  ASSERT_NE(filer.Raster(), nullptr);
  EXPECT_EQ(&filer.Raster()->ClassType(), &TdtpJpgFormat::Class());
  EXPECT_EQ(RasterClassByExtension("x.dib"), &TdtpBmpFormat::Class());
  EXPECT_EQ(RasterClassByExtension("noextension"), nullptr);
  EXPECT_EQ(RasterClassByExtension("dir.d/noextension"), nullptr);
  EXPECT_EQ(RasterClassByExtension("x.tif"), nullptr);
  EXPECT_EQ(FindWriterClass(".gif"), &TdtpGifFormat::Class());
  EXPECT_EQ(FindWriterClass(".tif"), nullptr);
}

TEST(RasterRegistry, FilerErrors) {
  TBitmap32 b;
  TdtpImageFiler filer;
  EXPECT_EQ(RaiseMessage([&] { filer.LoadBitmap(nullptr); }), "Input bitmap not assigned");
  EXPECT_EQ(RaiseMessage([&] { filer.SaveBitmap(nullptr); }), "Input bitmap not assigned");
  filer.SetFormat(".tif");
  EXPECT_EQ(RaiseMessage([&] { filer.LoadBitmap(&b); }), "Unknown raster format \".tif\"");
  EXPECT_EQ(RaiseMessage([&] { filer.SaveBitmap(&b); }), "Cannot save format \".tif\"");

  TdtpRaster base(TdtpBmpFormat::Class());
  EXPECT_EQ(RaiseMessage([&] { base.LoadFromStream(nullptr, &b, 0, 0, 0); }),
            "Loading from stream is not implemented");
  EXPECT_EQ(RaiseMessage([&] { base.SaveToStream(nullptr, &b); }), "Method not implemented");
}

TEST(RasterRegistry, PageOneOfBmpOrJpegDoesNotExist) {
  TBitmap32 b;
  Sample(b, 8, 8);
  for (const char* ext : {".bmp", ".jpg"}) {
    TMemoryStream s;
    test::StreamFromBytes(s, Encode(ext, b));
    TBitmap32 out;
    EXPECT_EQ(RaiseMessage([&] { LoadBitmapFromStream(&s, ext, &out, 1, 0, 0); }),
              "Requested non-existing page")
        << ext;
  }
}

// Without a usable extension each format checks the signature, so every
// kind reaches its own reader.
TEST(RasterRegistry, StreamsWithoutExtensionAreReadBySignature) {
  TBitmap32 b;
  Sample(b, 13, 7);
  for (const char* ext : {".bmp", ".jpg", ".hck", ".gif", ".png"}) {
    TMemoryStream s;
    test::StreamFromBytes(s, Encode(ext, b));
    TdtpImageFiler filer;
    filer.SetStream(&s);
    TBitmap32 out;
    filer.LoadBitmap(&out);
    ASSERT_NE(filer.Raster(), nullptr);
    EXPECT_EQ(&filer.Raster()->ClassType(), RasterClassByExtension(std::string("x") + ext)) << ext;
    EXPECT_EQ(out.Width(), 13);
    EXPECT_EQ(out.Height(), 7);
    // GIF reading stops after the first frame, before the trailer byte.
    EXPECT_EQ(filer.Size(), s.Size() - (std::string(ext) == ".gif" ? 1 : 0)) << ext;
  }
  TMemoryStream junk;
  test::StreamFromBytes(junk, {1, 2, 3, 4, 5, 6, 7, 8});
  TdtpImageFiler filer;
  filer.SetStream(&junk);
  TBitmap32 out;
  EXPECT_EQ(RaiseMessage([&] { filer.LoadBitmap(&out); }), "Unknown raster format \"\"");
}

TEST(RasterRegistry, ExtensionWinsOverContentExceptForHck) {
  TBitmap32 b;
  Sample(b, 5, 4);
  // A PNG named ".bmp" goes to the BMP reader, which finds it corrupt.
  TMemoryStream png;
  test::StreamFromBytes(png, Encode(".png", b));
  TBitmap32 out;
  EXPECT_EQ(RaiseMessage([&] { LoadBitmapFromStream(&png, ".bmp", &out, 0, 0, 0); }),
            "Image file is corrupted");
  // A PNG named ".hck" fails the ".hck" check and is found by signature.
  png.Seek(0, soBeginning);
  TdtpImageFiler filer;
  filer.SetFormat(".hck");
  filer.SetStream(&png);
  filer.LoadBitmap(&out);
  EXPECT_EQ(&filer.Raster()->ClassType(), &TdtpPngFormat::Class());
  EXPECT_TRUE(out.Equal(b));
}

TEST(RasterRegistry, BmpKeepsAlphaAndFilesRoundTrip) {
  test::ScratchDir dir;
  TBitmap32 b;
  Sample(b, 9, 6);
  b.SetPixel(3, 2, 0x40123456u);
  for (const char* name : {"a.bmp", "a.png", "a.hck"}) {
    TdtpImageFiler saver;
    saver.SetFileName((dir / name).string());
    saver.SaveBitmap(&b);
    EXPECT_EQ(saver.Size(), static_cast<std::int64_t>(std::filesystem::file_size(dir / name)));
    TBitmap32 out;
    test::LoadFile(dir / name, out);
    EXPECT_TRUE(out.Equal(b)) << name;
  }
}

TEST(RasterRegistry, BottomLeftColourBecomesTransparentWithFlag40) {
  TBitmap32 b;
  Sample(b, 4, 3);
  b.SetPixel(0, 2, 0xFF00FF00u);
  b.SetPixel(3, 0, 0xFF00FF00u);
  TMemoryStream s;
  test::StreamFromBytes(s, Encode(".bmp", b));
  RegisterRasterFormat(TdtpBmpFormat::Class(), "Windows Bitmap", ".bmp;.dib;", 15 | 0x40);
  TBitmap32 out;
  LoadBitmapFromStream(&s, ".bmp", &out, 0, 0, 0);
  RegisterRasterFormat(TdtpBmpFormat::Class(), "Windows Bitmap", ".bmp;.dib;", 15);
  EXPECT_EQ(out.GetPixel(0, 2), 0u);
  EXPECT_EQ(out.GetPixel(3, 0), 0u);
  EXPECT_EQ(out.GetPixel(1, 1), b.GetPixel(1, 1));
}

}  // namespace
}  // namespace kdl

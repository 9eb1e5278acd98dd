// Resources that hold the same bytes share one decode: the count of decodes
// at the format registry, the pixels against the bytes' own decode, and
// the other holder's pixels after one of them takes a new picture.
#include <gtest/gtest.h>

#include <atomic>

#include "ResourceTestUtil.h"

namespace kdl {
namespace {

using test::DataBytes;
using test::Pixels;
using test::NewBitmapResource;
using test::ResourcePixels;

std::atomic<int> g_decodes{0};
void CountDecode(const TRasterClass&) { ++g_decodes; }

class SharedDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeDocumentLibrary();
    SetRasterDecodeHook(&CountDecode);
    g_decodes = 0;
  }
  void TearDown() override { SetRasterDecodeHook(nullptr); }

  TBitmap32* Decoded(TdtpResource& r) {
    TResourceAccess access(r);
    return r.GetBitmap();
  }
  // A copy through the resource's own XML: the same bytes, not yet decoded.
  std::unique_ptr<TdtpBitmapResource> CopyOf(TdtpResource& r) {
    auto copy = NewBitmapResource(nullptr);
    test::LoadXml(*copy, test::SaveXml(r));
    EXPECT_EQ(DataBytes(*copy), DataBytes(r));
    return copy;
  }
};

TEST_F(SharedDecode, ACopyOfDecodedBytesDecodesNothingAndANewPictureIsItsOwn) {
  const auto photo = test::OpaqueBitmap(61, 47, 3);
  const auto other = test::OpaqueBitmap(61, 47, 4);
  auto source = NewBitmapResource(nullptr);
  source->SetBitmap(photo.get());
  // Decoded from its bytes, as a picture read from a file is.
  source->Release();
  ASSERT_NE(Decoded(*source), nullptr);
  EXPECT_EQ(g_decodes, 1);

  auto copy = CopyOf(*source);
  EXPECT_EQ(Decoded(*copy), Decoded(*source)) << "one bitmap for both";
  EXPECT_EQ(g_decodes, 1);

  // The copy takes a picture of its own; the source keeps its pixels.
  copy->SetBitmap(other.get());
  EXPECT_EQ(ResourcePixels(*copy), Pixels(*other));
  EXPECT_EQ(ResourcePixels(*source), Pixels(*photo));
  // And the source's pixels are still shared by a further copy.
  auto third = CopyOf(*source);
  EXPECT_EQ(ResourcePixels(*third), Pixels(*photo));
  EXPECT_EQ(g_decodes, 1);
}

TEST_F(SharedDecode, APictureSetFromOutsideIsNeverTakenForItsBytesDecode) {
  // Stored as JPEG, the bytes decode to other pixels than the picture that
  // was set: a copy must decode them itself.
  const auto photo = test::OpaqueBitmap(64, 48, 5);
  auto source = NewBitmapResource(nullptr);
  source->ChangeFileExt(".jpg");
  source->SetBitmap(photo.get());
  auto copy = CopyOf(*source);
  EXPECT_EQ(ResourcePixels(*source), Pixels(*photo));
  TBitmap32 expected;
  {
    TMemoryStream bytes;
    const std::string data = DataBytes(*source);
    bytes.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    bytes.SetPosition(0);
    LoadBitmapFromStream(&bytes, ".jpg", &expected, 0, 0, 0);
  }
  g_decodes = 0;
  EXPECT_EQ(ResourcePixels(*copy), Pixels(expected));
  EXPECT_NE(Pixels(expected), Pixels(*photo)) << "JPEG keeps only an approximation";
  EXPECT_EQ(g_decodes, 1);

  // Same bytes under another extension name another decoder: no sharing.
  auto hck = CopyOf(*copy);
  hck->ChangeFileExt(".png");
  g_decodes = 0;
  try {
    (void)Decoded(*hck);
  } catch (const std::exception&) {
  }
  EXPECT_EQ(g_decodes, 1);
}

}  // namespace
}  // namespace kdl

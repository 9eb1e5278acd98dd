// What the resource tests share: the library set up once, bitmap
// resources in a fake document, image bytes and resource XML.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "FakeDocument.h"
#include "TestShapes.h"
#include "document/Startup.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/RasterFormats.h"
#include "document/resources/ResourceThread.h"
#include "foundation/BrenlowXml.h"
#include "foundation/Storage.h"
#include "foundation/XmlValues.h"
#include "platform/TickCount.h"
#include "raster/Bitmap32.h"
#include "support/RasterTesting.h"
#include "support/TestFiles.h"

namespace kdl::test {

// Runs the real cache thread on a clock that advances 3 s at every reading,
// so that it trims as often as it can; stops it before the clock goes,
// however the test ends.
class TTrimmingThread {
 public:
  TTrimmingThread() {
    SetTickSource([this] { return clock_.fetch_add(3000) + 3000; });
    ResourceThread().Start();
  }
  ~TTrimmingThread() {
    ResourceThread().Stop();
    SetTickSource(nullptr);
  }
  TTrimmingThread(const TTrimmingThread&) = delete;
  TTrimmingThread& operator=(const TTrimmingThread&) = delete;

 private:
  std::atomic<std::uint64_t> clock_{0};
};

inline std::unique_ptr<TdtpBitmapResource> NewBitmapResource(TdtpDocumentServices* document) {
  InitializeDocumentLibrary();
  return TdtpResource::Create<TdtpBitmapResource>(document);
}

// A random opaque bitmap (JPEG and BMP round trips keep no alpha).
inline std::unique_ptr<TBitmap32> OpaqueBitmap(std::int32_t w, std::int32_t h, std::uint32_t seed) {
  auto b = std::make_unique<TBitmap32>();
  FillRandom(*b, w, h, seed);
  for (std::int64_t i = 0; i < std::int64_t{w} * h; ++i) b->Bits()[i] |= 0xFF000000u;
  return b;
}

// The bitmap encoded by the registry's writer for the extension.
inline std::string EncodedBytes(TBitmap32& bitmap, const std::string& extension) {
  TMemoryStream s;
  TdtpImageFiler filer;
  filer.SetFormat(extension);
  filer.SetStream(&s);
  filer.SaveBitmap(&bitmap);
  return {static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size())};
}

inline std::string DataBytes(TdtpResource& r) {
  TResourceAccess access(r);
  TMapStream& d = r.Data();
  std::string out(static_cast<std::size_t>(d.Size()), '\0');
  d.SetPosition(0);
  if (!out.empty()) d.ReadBuffer(out.data(), d.Size());
  return out;
}

using testing::MemberBytes;
using testing::WriteMember;

// The resource's pixels, decoded inside a bracket.
inline std::vector<TColor32> ResourcePixels(TdtpResource& r) {
  TResourceAccess access(r);
  TBitmap32* b = r.GetBitmap();
  return b ? Pixels(*b) : std::vector<TColor32>{};
}

// Writes the resource into a node of its own and returns the XML text.
inline std::string SaveXml(TdtpResource& r) {
  TBrenlowXml xml("Resource");
  r.SaveToXml(*xml.Root());
  return xml.Root()->WriteToString();
}

inline void LoadXml(TdtpResource& r, const std::string& text) {
  TBrenlowXml xml;
  xml.ReadFromString(text);
  r.LoadFromXml(*xml.Root());
}

// The XML of a legacy bitmap holding file, packed by the Python model.
inline std::string LegacyBitmapXml(const std::string& file, const ScratchDir& dir) {
  // The file's bytes split into 4 planes: the inverse of the reader's
  // interleaving, written out directly.
  const std::size_t k = file.size() / 4;
  std::string planes;
  for (int p = 0; p < 4; ++p)
    for (std::size_t i = 0; i < k; ++i) planes.push_back(file[i * 4 + static_cast<std::size_t>(p)]);
  planes += file.substr(k * 4);
  WriteFile(dir / "raw", planes);
  int status = -1;
  RunCommand("python3 " KDL_SOURCE_DIR "/tests/document/resources/HckModel.py " + (dir / "raw").string() +
                       " " + (dir / "packed").string(),
                   &status);
  EXPECT_EQ(status, 0);
  const std::string packed = ReadFile(dir / "packed").substr(8);
  return "<Page><BackgroundImage><CompressedSize>" + std::to_string(packed.size()) +
         "</CompressedSize><SourceSize>" + std::to_string(file.size()) + "</SourceSize><Buffer>" +
         EncodeBase64(packed.data(), packed.size()) + "</Buffer></BackgroundImage></Page>";
}

}  // namespace kdl::test

// Reads arbitrary bytes as XML into a bitmap resource of a document whose
// archive holds the document's own parts and an image, decodes it, writes
// it back, and reads the same root as a legacy bitmap. Any input must end
// in our exception or in a result; the document's own members never change.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FakeDocument.h"
#include "document/resources/BitmapResource.h"
#include "document/resources/RasterFormats.h"
#include "foundation/BrenlowXml.h"
#include "raster/Bitmap32.h"

namespace {

std::string Member(kdl::TqxStorage& storage, const std::string& name) {
  kdl::TMemoryStream s;
  storage.ReadStream(name, s);
  return {static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size())};
}

void Put(kdl::TqxStorage& storage, const std::string& name, const std::string& bytes) {
  kdl::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  storage.WriteStream(name, s);
}

// The smallest BMP: one opaque red pixel.
const std::string kPixelBmp(
    "BM\x3a\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0"
    "\x04\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0\0\0\xff\0",
    58);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (kdl::RegisterRasterFormats(), kdl::SetDocumentLibraryXmlDefaults(),
                             kdl::RegisterResourceClasses(), true);
  (void)ready;
  kdl::testing::FakeDocument doc;
  kdl::TqxStorage& archive = *doc.Storage();
  Put(archive, "Index.xml", "<Document/>");
  Put(archive, "Page0001.xml", "<Page/>");
  Put(archive, "TMP0000001.bmp", kPixelBmp);

  kdl::TBrenlowXml xml;
  try {
    xml.ReadFromString(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const kdl::Exception&) {
    return 0;
  }
  kdl::TXmlNode* root = xml.Root();
  if (!root) return 0;

  auto resource = kdl::TdtpResource::Create<kdl::TdtpBitmapResource>(&doc);
  try {
    resource->LoadFromXml(*root);
    {
      kdl::TResourceAccess access(*resource);
      resource->GetBitmap();
    }
    kdl::TBrenlowXml out("Resource");
    resource->SaveToXml(*out.Root());
  } catch (const kdl::Exception&) {
  }
  // A trim in between must find everything in order.
  resource->Release();
  if (resource->MemorySize() < 0) std::abort();

  std::unique_ptr<kdl::TBitmap32> legacy;
  try {
    kdl::ReadBitmapXml(root, "BackgroundImage", legacy);
    kdl::ReadBitmapXml(root, "DefaultBgrImage", legacy);
  } catch (const kdl::Exception&) {
  }
  resource.reset();
  legacy.reset();

  if (Member(archive, "Index.xml") != "<Document/>" || Member(archive, "Page0001.xml") != "<Page/>")
    std::abort();
  return 0;
}

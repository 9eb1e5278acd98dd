// The legacy XML bitmaps: a BMP file split into 4 planes, packed by the
// ".hck" coders and stored in the node's binary encoding.
#include <vector>

#include "document/resources/BitmapResource.h"
#include "document/resources/RasterFormats.h"
#include "document/resources/StreamAdapter.h"
#include "document/resources/formats/HckCoders.h"
#include "foundation/XmlNode.h"
#include "raster/Bitmap32.h"
#include "raster/BmpFile.h"

namespace kdl {

namespace {

// The largest BMP file the raster reader accepts: its pixel cap at 32 bits,
// the file and V5 headers, bit-field masks and a full palette.
constexpr std::int64_t kMaxLegacyBmpSize = kMaxBmpPixels * 4 + 14 + 124 + 12 + 1024;

}  // namespace

void ReadCompressedStreamXml(const TXmlNode* node, std::string_view name, TMemoryStream* stream) {
  if (!node || name.empty() || !stream) return;
  const TXmlNode* child = node->FindChild(name);
  if (!child) return;
  const std::int64_t compressedSize = child->ReadInt64("CompressedSize", 0);
  const std::int64_t sourceSize = child->ReadInt64("SourceSize", 0);
  if (compressedSize <= 0 || sourceSize <= 0) return;
  // Both sizes are checked against what is really there before any buffer
  // is sized by them.
  const TXmlNode* buffer = child->FindChild("Buffer");
  if (!buffer || buffer->GetBinaryLength() != compressedSize || sourceSize > kMaxLegacyBmpSize)
    RaiseRasterError(kRasterDecompress);
  std::vector<std::uint8_t> packed(static_cast<std::size_t>(compressedSize));
  buffer->ReadBinary(packed.data(), compressedSize);
  std::vector<std::uint8_t> raw;
  if (UnpackChain(packed.data(), packed.size(), static_cast<std::size_t>(sourceSize), raw) != kCoderOk)
    RaiseRasterError(kRasterDecompress);
  stream->SetSize(0);
  stream->WriteBuffer(raw.data(), static_cast<std::int64_t>(raw.size()));
  stream->SetPosition(0);
}

void ReadBitmapXml(const TXmlNode* node, std::string_view name, std::unique_ptr<TBitmap32>& bitmap) {
  if (!node || name.empty()) return;
  TMemoryStream stream;
  ReadCompressedStreamXml(node, name, &stream);
  if (stream.Size() == 0) return;
  auto* bytes = static_cast<std::uint8_t*>(stream.Memory());
  PlanesToPixels(bytes, bytes, static_cast<std::size_t>(stream.Size()), 4);
  if (!bitmap) bitmap = std::make_unique<TBitmap32>();
  TStreamReader in(stream);
  bitmap->LoadFromStream(in);
}

bool IsLegacyBitmapXml(const TXmlNode& node) { return node.FindChild("SourceSize") != nullptr; }

}  // namespace kdl

// The image resource: bytes of an image file decoded through the image
// format registry into a TBitmap32, and encoded back into the same format
// when that format writes streams (else into ".hck").
#pragma once

#include <memory>
#include <string_view>

#include "document/resources/Resource.h"

namespace kdl {

class TMemoryStream;

class TdtpBitmapResource : public TdtpResource {
 public:
  std::string ClassName() const override { return "TdtpBitmapResource"; }

  // Copies the bitmap (the caller keeps its own); null clears the resource.
  // A resource without a name of its own gets the extension ".hck". Fires
  // OnChange, which flushes.
  void SetBitmap(const TBitmap32* bitmap);
  // Owners call it after drawing into the bitmap directly; a bitmap that
  // GetBitmap shares with another resource is not theirs to draw into.
  virtual void BitmapChanged();

 protected:
  explicit TdtpBitmapResource(TdtpDocumentServices* document) : TdtpResource(document) {}

  void StoreObject(TStream& target, TBitmap32& object) override;
  void LoadObject(TStream& source, std::unique_ptr<TBitmap32>& object) override;
  void ReadExternalFile(TStream& file) override;
  std::int64_t GetObjectSize() override;
};

// Whether an owner has a bitmap to write: one that decodes, or bytes that
// do not (they are still the user's).
bool HoldsBitmap(TdtpBitmapResource& resource);

// ---- Legacy XML bitmaps ------------------------------------------------------------
// An older form of bitmaps in XML, still read for backgrounds: the child
// "name" holds "CompressedSize", "SourceSize" and "Buffer" (the packed
// bytes in the node's binary encoding) of a BMP file split into 4 planes.

// Unpacks the child into stream; nothing without node, stream or child, or
// when either size is not positive. Sizes that disagree with the bytes
// present, or a BMP larger than any we read, raise "Unable to decompress".
void ReadCompressedStreamXml(const TXmlNode* node, std::string_view name, TMemoryStream* stream);
// Reads the child's BMP into bitmap (made when null); nothing when the
// child gives no bytes.
void ReadBitmapXml(const TXmlNode* node, std::string_view name, std::unique_ptr<TBitmap32>& bitmap);
// Whether node holds a legacy bitmap rather than a resource node.
bool IsLegacyBitmapXml(const TXmlNode& node);

}  // namespace kdl

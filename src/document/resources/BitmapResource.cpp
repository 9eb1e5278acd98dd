#include "document/resources/BitmapResource.h"

#include <vector>

#include "document/resources/RasterFormats.h"
#include "raster/Bitmap32.h"

namespace kdl {

namespace {

constexpr const char* kHckExtension = ".hck";

// Whether a format for the extension reads or writes streams as flags asks.
bool FormatCan(const std::string& extension, std::uint16_t flags) {
  const TRasterClass* cls = RasterClassByExtension(extension);
  return cls && (RasterClassFlags(cls) & flags) == flags;
}

void SaveAs(TBitmap32& bitmap, const std::string& extension, TStream& target) {
  TdtpImageFiler filer;
  filer.SetFormat(extension);
  filer.SetStream(&target);
  filer.SaveBitmap(&bitmap);
}

}  // namespace

void TdtpBitmapResource::SetBitmap(const TBitmap32* bitmap) {
  {
    TResourceAccess access(*this);
    if (!bitmap) {
      ClearContent();
    } else {
      // Broken bytes must not stop an image from being replaced.
      try {
        SetLoadState(2);
      } catch (const std::exception&) {
      }
      Touch();
      std::unique_ptr<TBitmap32> object;
      if (!Object() && GetFileExt().empty()) ChangeFileExt(kHckExtension);
      // A bitmap shared with another resource of the same bytes stays theirs.
      if (!Object() || ObjectShared()) object = std::make_unique<TBitmap32>();
      TBitmap32* target = object ? object.get() : Object();
      target->Assign(bitmap);
      if (object) ReplaceObject(std::move(object));
      MarkObjectModified();
    }
  }
  DoChange();
}

bool HoldsBitmap(TdtpBitmapResource& resource) {
  TResourceAccess access(resource);
  try {
    return resource.GetBitmap() != nullptr;
  } catch (const std::exception&) {
    return true;
  }
}

void TdtpBitmapResource::BitmapChanged() {
  {
    TResourceAccess access(*this);
    MarkObjectModified();
  }
  DoChange();
}

void TdtpBitmapResource::StoreObject(TStream& target, TBitmap32& object) {
  // A format that cannot write streams, or none registered for the name
  // (a JPEG named ".jpe" is read by its content), is stored as ".hck":
  // every image must reach the archive.
  std::string extension = GetFileExt();
  if (!FormatCan(extension, rfWritesStreams | rfWriter)) extension = kHckExtension;
  SaveAs(object, extension, target);
  if (extension != GetFileExt()) ChangeFileExt(extension);
}

void TdtpBitmapResource::LoadObject(TStream& source, std::unique_ptr<TBitmap32>& object) {
  auto bitmap = std::make_unique<TBitmap32>();
  LoadBitmapFromStream(&source, GetFileExt(), bitmap.get(), 0, 0, 0);
  object = std::move(bitmap);
}

void TdtpBitmapResource::ReadExternalFile(TStream& file) {
  if (FormatCan(GetFileExt(), rfReadsStreams)) {
    TdtpResource::ReadExternalFile(file);
    return;
  }
  // Otherwise a reader is found by the content, and the picture is kept as
  // ".hck" bytes.
  TMemoryStream bytes;
  bytes.LoadFromStream(file);
  TBitmap32 bitmap;
  TdtpImageFiler filer;
  filer.SetStream(&bytes);
  filer.LoadBitmap(&bitmap);
  Data().SetSize(0);
  SaveAs(bitmap, kHckExtension, Data());
  Data().SetPosition(0);
  ChangeFileExt(kHckExtension);
}

std::int64_t TdtpBitmapResource::GetObjectSize() {
  const TBitmap32* bitmap = Object();
  return bitmap ? std::int64_t{bitmap->Width()} * bitmap->Height() * 4 : 0;
}

// ---- Registry ------------------------------------------------------------------------

void RegisterResourceClasses() {
  RegisterResourceClass<TdtpResource>("TdtpResource");
  RegisterResourceClass<TdtpBitmapResource>("TdtpBitmapResource");
}

}  // namespace kdl

#include "document/resources/formats/BmpFormat.h"

#include <cstring>

#include "document/resources/StreamAdapter.h"
#include "foundation/Stream.h"
#include "raster/Bitmap32.h"
#include "raster/BmpFile.h"

namespace kdl {

bool StreamStartsWith(TStream& stream, const void* signature, std::int64_t size) {
  const std::int64_t pos = stream.Position();
  unsigned char head[16];
  const std::int64_t n = stream.Read(head, size);
  stream.Seek(pos, soBeginning);
  return n == size && std::memcmp(head, signature, static_cast<std::size_t>(size)) == 0;
}

const TRasterClass& TdtpBmpFormat::Class() { return RasterClassOf<TdtpBmpFormat>("TdtpBmpFormat"); }

bool TdtpBmpFormat::CanLoad(TStream* stream) {
  return !stream || StreamStartsWith(*stream, "BM", 2);
}

void TdtpBmpFormat::LoadFromStream(TStream* stream, TBitmap32* bitmap, std::int32_t page,
                                   std::int32_t, std::int32_t) {
  if (page > 0) RaiseRasterError(kRasterNoSuchPage);
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  try {
    TStreamReader in(*stream);
    bitmap->LoadFromStream(in);
  } catch (const EInvalidGraphic&) {
    RaiseRasterError(kRasterCorrupted);
  }
  width_ = bitmap->Width();
  height_ = bitmap->Height();
  if ((flags_ & rfBottomLeftTransparent) && !bitmap->Empty()) {
    const TColor32 key = bitmap->GetPixel(0, height_ - 1);
    TColor32* p = bitmap->Bits();
    const std::int64_t n = static_cast<std::int64_t>(width_) * height_;
    for (std::int64_t i = 0; i < n; ++i)
      if (p[i] == key) p[i] = 0;
  }
}

void TdtpBmpFormat::SaveToStream(TStream* stream, TBitmap32* bitmap) {
  if (!stream) RaiseRasterError(kRasterStreamUnassigned);
  if (!bitmap) RaiseRasterError(kRasterInputNotAssigned);
  TStreamWriter out(*stream);
  bitmap->SaveToStream(out);
  out.flush();
  if (!out) throw EWriteError("Stream write error");
}

}  // namespace kdl

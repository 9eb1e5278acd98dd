#include "document/kinds/BitmapShape.h"

#include <cmath>
#include <limits>

#include "document/kinds/GroupShape.h"
#include "document/kinds/PolygonShape.h"
#include "document/resources/BitmapResource.h"
#include "document/shapes/Rendering.h"
#include "document/text/MemoShape.h"
#include "foundation/XmlNode.h"
#include "raster/Bitmap32.h"
#include "raster/Transforms.h"

namespace kdl {

namespace {

std::int32_t RoundPixel(double v) {
  v = std::nearbyint(v);
  if (!(v > std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
  if (v >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v);
}

}  // namespace

// ---- TdtpBitmapShape ---------------------------------------------------------------------

TdtpBitmapShape::TdtpBitmapShape() : image_(TdtpResource::Create<TdtpBitmapResource>(nullptr)) {
  // New bytes bring their own errors.
  image_->OnLoaded = [this](TdtpResource&) {
    errorReported_ = false;
    ImageChanged();
  };
  image_->OnChange = [this](TdtpResource&) {
    errorReported_ = false;
    ImageInvalidated();
  };
  SetCursor(kCrossImageCursor);
}

TdtpBitmapShape::~TdtpBitmapShape() {
  image_->OnLoaded = nullptr;
  image_->OnChange = nullptr;
}

TBitmap32* TdtpBitmapShape::CurrentBitmap() {
  try {
    TBitmap32* bitmap = image_->GetBitmap();
    return bitmap && !bitmap->Empty() ? bitmap : nullptr;
  } catch (const std::exception& e) {
    // A file that cannot be read or bytes that do not decode show nothing;
    // the user hears why once, not on every repaint.
    if (!errorReported_) {
      errorReported_ = true;
      ReportError(e.what());
    }
    return nullptr;
  }
}

void TdtpBitmapShape::ImageChanged() {
  {
    TResourceAccess access(*image_);
    TBitmap32* bitmap = CurrentBitmap();
    if (!bitmap) return;
    SetDocBounds(DocLeft(), DocTop(), static_cast<float>(bitmap->Width() / kImageShapeDpm),
                 static_cast<float>(bitmap->Height() / kImageShapeDpm));
  }
  LockAspect();
  UpdateAll();
}

void TdtpBitmapShape::ImageInvalidated() { Update(); }

void TdtpBitmapShape::GetResourceNames(std::vector<std::string>& names) const {
  TdtpEffectShape::GetResourceNames(names);
  image_->GetArchiveNames(names);
}

void TdtpBitmapShape::Paint32(TBitmap32& bitmap, const TdtpPaintInfo& info) {
  TdtpEffectShape::Paint32(bitmap, info);
  TResourceAccess access(*image_);
  TBitmap32* image = CurrentBitmap();
  if (!image || bitmap.Empty()) return;
  // The frame in target pixels.
  const TAffineMatrix& m = PaintTransform();
  const double w = DocWidth(), h = DocHeight();
  const TRect dst{RoundPixel(m.E), RoundPixel(m.F), RoundPixel(m.A * w + m.C * h + m.E),
                  RoundPixel(m.B * w + m.D * h + m.F)};
  if (dst.Right <= dst.Left || dst.Bottom <= dst.Top) return;
  StretchTransfer(&bitmap, dst, bitmap.BoundsRect(), image, image->BoundsRect(), info.StretchFilter, dmBlend,
                  nullptr);
}

void TdtpBitmapShape::SetDocument(TdtpDocumentServices* document) {
  TdtpEffectShape::SetDocument(document);
  TResourcesLock lock;
  image_->SetDocument(document);
}

int TdtpBitmapShape::GetStorageKind() const { return static_cast<int>(image_->Storage()); }

void TdtpBitmapShape::SetStorageKind(int kind) {
  if (kind < rsNone || kind > rsEmbedded) return;
  image_->SetStorage(static_cast<TdtpResourceStorage>(kind));
}

void TdtpBitmapShape::LoadFromXml(TXmlNode* node) {
  // What the reader sets is the file's, not the user's change.
  TLoadScope loading(*this);
  TdtpEffectShape::LoadFromXml(node);
  if (TXmlNode* image = node->FindChild("Image")) image_->LoadFromXml(*image);
}

void TdtpBitmapShape::SaveToXml(TXmlNode* node) {
  TdtpEffectShape::SaveToXml(node);
  if (!node) return;
  image_->SaveToXml(*node->AddNewChild("Image"));
}

// ---- TdtpSnapBitmap ----------------------------------------------------------------------

TdtpSnapBitmap::TdtpSnapBitmap() {
  constexpr float kWidth = 120, kHeight = 80;
  AddShape(MakePlaceHolderFrame(kWidth, kHeight));
  AddShape(MakePlaceHolderCaption(kWidth, kHeight));
  FitToShapes();
}

bool TdtpSnapBitmap::ShapeAtPoint(TPoint screen, TdtpShape*& shape) {
  const bool hit = TdtpBitmapShape::ShapeAtPoint(screen, shape);
  // The frame and the caption are parts of the image frame, never picked
  // alone.
  if (shape) shape = this;
  return hit;
}

void TdtpSnapBitmap::ShowPlaceholder(bool visible) {
  if (TdtpShape* frame = GetFrame()) frame->SetVisible(visible);
  if (TdtpShape* caption = GetCaption()) caption->SetVisible(visible);
}

void TdtpSnapBitmap::ImageChanged() {
  bool hasBitmap;
  {
    TResourceAccess access(Image());
    hasBitmap = CurrentBitmap() != nullptr;
  }
  ShowPlaceholder(!hasBitmap);
  {
    TResourceAccess access(Image());
    TBitmap32* bitmap = CurrentBitmap();
    if (!bitmap) return;
    const double a = static_cast<double>(bitmap->Width()) * bitmap->Height();
    const double b = static_cast<double>(DocWidth()) * DocHeight();
    if (a == 0 || !(b > 0) || !std::isfinite(b)) return;
    const double c = std::sqrt(a / b);
    const double w = bitmap->Width() / c, h = bitmap->Height() / c;
    SetDocBounds(static_cast<float>(DocLeft() + (DocWidth() - w) / 2),
                 static_cast<float>(DocTop() + (DocHeight() - h) / 2), static_cast<float>(w),
                 static_cast<float>(h));
  }
  LockAspect();
  UpdateAll();
}

}  // namespace kdl

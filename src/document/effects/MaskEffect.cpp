#include "document/effects/MaskEffect.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "document/effects/CombineMaps.h"
#include "document/effects/EffectShape.h"
#include "foundation/XmlNode.h"
#include "raster/AffineTransform.h"

namespace kdl {
namespace {

// Round (halves to even) of a transformed frame corner, held inside the
// integer range; NaN goes to 0.
std::int32_t RoundCorner(double v) {
  constexpr double kLimit = 1 << 28;
  if (!(v == v)) return 0;
  return static_cast<std::int32_t>(std::nearbyint(std::clamp(v, -kLimit, kLimit)));
}

}  // namespace

TdtpMaskEffect::TdtpMaskEffect() = default;

TdtpMaskEffect::~TdtpMaskEffect() = default;

void TdtpMaskEffect::Apply(TBitmap32& bitmap, const TdtpPaintInfo& /*info*/) {
  const TdtpEffectShape* shape = Shape();
  if (!shape || bitmap.Empty()) return;
  // The frame in cache pixels: the local corners under the paint transform.
  const TDoublePoint p0 = shape->LocalToBitmap(0, 0);
  const TDoublePoint p1 = shape->LocalToBitmap(shape->DocWidth(), shape->DocHeight());
  const TRect frame{RoundCorner(p0.X), RoundCorner(p0.Y), RoundCorner(p1.X), RoundCorner(p1.Y)};
  // Kept per thread like the masks' scratch: a fresh map is zeroed and
  // faulted in, then overwritten whole by ReadFrom.
  thread_local TByteMap alpha;
  alpha.ReadFrom(bitmap, bcAlpha);
  ApplyMasks(alpha, frame);
  alpha.WriteTo(bitmap, bcAlpha);
}

void TdtpMaskEffect::ApplyMasks(TByteMap& alpha, const TRect& frame) {
  // Kept per thread: a fresh map of the cache's size is zeroed and faulted
  // in page by page, and it is cleared before each mask anyway.
  thread_local TByteMap scratch;
  for (const auto& mask : masks_) {
    if (!mask->Enabled()) continue;
    // A kind that folds itself in row by row needs no map of the size.
    if (mask->RenderInto(alpha, frame)) continue;
    scratch.SetSize(alpha.Width(), alpha.Height());
    scratch.Clear(0);
    mask->Render(scratch, alpha, frame);
    CombineByteMaps(&alpha, &scratch, &alpha, mask->Operation());
  }
}

void TdtpMaskEffect::SetShape(TdtpEffectShape* shape) {
  TdtpEffect::SetShape(shape);
  DocumentChanged();
}

void TdtpMaskEffect::DocumentChanged() {
  for (const auto& mask : masks_) mask->DocumentChanged();
}

void TdtpMaskEffect::AdjustMargins(float& left, float& top, float& right, float& bottom) const {
  for (const auto& mask : masks_) mask->AdjustMargins(left, top, right, bottom);
}

void TdtpMaskEffect::GetResourceNames(std::vector<std::string>& names) const {
  for (const auto& mask : masks_) mask->GetResourceNames(names);
}

// Values read from XML are stored without change events, so the masks go
// straight into the list; each joins the effect (and its document) before
// it reads its own elements.
void TdtpMaskEffect::LoadFromXml(TXmlNode* node) {
  TdtpEffect::LoadFromXml(node);
  masks_.clear();
  TXmlNodeList elements;
  node->FindChildren("Mask", &elements);
  for (TXmlNode* element : elements) {
    TdtpMask& mask = *masks_.emplace_back(CreateMask(element->ReadString("ClassName", "")));
    mask.SetOwner(this);
    mask.LoadFromXml(element);
  }
}

void TdtpMaskEffect::SaveToXml(TXmlNode* node) const {
  TdtpEffect::SaveToXml(node);
  if (!node) return;
  for (std::size_t i = 0; i < masks_.size(); ++i) {
    TXmlNode* element = node->AddNewChild("Mask");
    element->AddAttributeInt("Index", static_cast<std::int64_t>(i) + 1);
    masks_[i]->SaveToXml(element);
  }
}

int TdtpMaskEffect::AddMask(std::unique_ptr<TdtpMask> mask) {
  if (!mask) return -1;
  Invalidate();
  const int index = MaskCount();
  TdtpMask& m = *masks_.emplace_back(std::move(mask));
  m.SetOwner(this);
  InvalidateBitmap();
  Changed();
  return index;
}

TdtpMask* TdtpMaskEffect::GetMask(int index) const {
  if (index < 0 || index >= MaskCount()) return nullptr;
  return masks_[static_cast<std::size_t>(index)].get();
}

void RegisterMaskClasses() {
  RegisterMaskClass<TdtpMask>("TdtpMask");
  RegisterMaskClass<TdtpFeatherMask>("TdtpFeatherMask");
  RegisterMaskClass<TdtpBitmapMask>("TdtpBitmapMask");
  RegisterMaskClass<TdtpPolygonMask>("TdtpPolygonMask");
  RegisterEffectClass("TdtpMaskEffect", [] { return std::unique_ptr<TdtpEffect>(new TdtpMaskEffect()); });
}

}  // namespace kdl

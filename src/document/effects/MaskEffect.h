// The mask effect: rewrites the alpha channel of its shape's cache through
// an ordered list of masks, each folded into the alpha left by the one
// before it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/effects/Effect.h"
#include "document/effects/Masks.h"

namespace kdl {

class TdtpMaskEffect : public TdtpEffect {
 public:
  TdtpMaskEffect();
  ~TdtpMaskEffect() override;
  std::string ClassName() const override { return "TdtpMaskEffect"; }

  // Reads the cache's alpha, runs ApplyMasks over the shape's frame in
  // cache pixels and writes the alpha back. Nothing without a shape.
  void Apply(TBitmap32& bitmap, const TdtpPaintInfo& info) override;
  // Every enabled mask in order renders into a scratch map that its
  // operation folds into alpha; frame is in alpha's pixels.
  void ApplyMasks(TByteMap& alpha, const TRect& frame);
  void SetShape(TdtpEffectShape* shape) override;
  void DocumentChanged() override;
  void AdjustMargins(float& left, float& top, float& right, float& bottom) const override;
  void GetResourceNames(std::vector<std::string>& names) const override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) const override;

  // Takes the mask and returns its index; -1 for nil.
  int AddMask(std::unique_ptr<TdtpMask> mask);
  int MaskCount() const { return static_cast<int>(masks_.size()); }
  // Nil out of range.
  TdtpMask* GetMask(int index) const;

 private:
  std::vector<std::unique_ptr<TdtpMask>> masks_;
};

// The mask kinds and the mask effect; run once by InitializeDocumentLibrary.
void RegisterMaskClasses();

}  // namespace kdl

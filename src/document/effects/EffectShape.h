// The base of every drawable shape kind and of groups: a shape with an
// ordered, owned list of effects that change its cache after drawing. An
// enabled effect puts the shape on the cached path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/effects/Effect.h"
#include "document/shapes/Shape.h"

namespace kdl {

class TdtpEffectShape : public TdtpShape {
 public:
  TdtpEffectShape();
  ~TdtpEffectShape() override;

  std::string ClassName() const override { return "TdtpEffectShape"; }

  // Takes the effect and returns its index; -1 for nil.
  int AddEffect(std::unique_ptr<TdtpEffect> effect);
  // At an index in 0..count; otherwise the effect is freed and nil returned.
  TdtpEffect* InsertEffect(int index, std::unique_ptr<TdtpEffect> effect);
  // Frees the effect; an index out of range is ignored.
  void DeleteEffect(int index);
  int EffectCount() const { return static_cast<int>(effects_.size()); }
  // Nil out of range.
  TdtpEffect* GetEffect(int index) const;
  int IndexOfEffect(const TdtpEffect* effect) const;
  // The first effect of class T or of a class derived from it.
  template <class T>
  T* FindEffect() const {
    for (const auto& e : effects_)
      if (auto* found = dynamic_cast<T*>(e.get())) return found;
    return nullptr;
  }
  // Kinds: 3 added (oldValue: the index), 4 deleted (the effect string
  // goes with the record), 5 property changed (propName "index.name").
  void RecordEffectUndo(std::uint8_t kind, TdtpEffect* effect, const std::string& oldValue,
                        const std::string& propName, int index);

  // Inherited, then every effect hears of it.
  void SetDocument(TdtpDocumentServices* document) override;
  void GetResourceNames(std::vector<std::string>& names) const override;
  bool NeedsPostProcess() const override;
  void PostProcess(TBitmap32& bitmap, const TdtpPaintInfo& info) override;
  void AdjustMargins(float& left, float& top, float& right, float& bottom) const override;
  void ClearShapes() override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;
  bool ExecuteCommand(const TdtpCommand& command) override;

 private:
  std::vector<std::unique_ptr<TdtpEffect>> effects_;
};

}  // namespace kdl

#include "document/effects/Effect.h"

#include "document/effects/EffectShape.h"
#include "document/shapes/Command.h"
#include "document/shapes/ShapeString.h"
#include "document/shapes/ShapeValues.h"
#include "foundation/BrenlowXml.h"
#include "foundation/XmlNode.h"
#include "platform/Exception.h"

namespace kdl {

namespace {

std::vector<TEffectClassHolder>& Holders() {
  static std::vector<TEffectClassHolder> holders;
  return holders;
}

std::unique_ptr<TdtpEffect> CreateBaseEffect() { return std::make_unique<TdtpEffect>(); }

// "Tdtp" before and "Effect" after the name shown to the user.
constexpr std::size_t kDisplayPrefix = 4;
constexpr std::size_t kDisplaySuffix = 6;

}  // namespace

void TdtpEffect::Assign(const TdtpEffect& source) {
  if (&source == this) return;
  TBrenlowXml xml("effect");
  source.SaveToXml(xml.Root());
  LoadFromXml(xml.Root());
}

void TdtpEffect::Invalidate() {
  if (shape_) shape_->Invalidate();
}

void TdtpEffect::SetPropertyText(const std::string& propName, const std::string& value) {
  if (propName == "Source")
    SetSource(StrToInt(value));
  else if (propName == "Enabled")
    SetEnabled(TextIsTrue(value));
}

std::string TdtpEffect::GetDisplayName() const {
  const std::string name = ClassName();
  if (name.size() <= kDisplayPrefix + kDisplaySuffix) return {};
  return name.substr(kDisplayPrefix, name.size() - kDisplayPrefix - kDisplaySuffix);
}

void TdtpEffect::LoadFromXml(TXmlNode* node) {
  if (!node) throw Exception("XML Node is not assigned");
  enabled_ = node->ReadBool("Enabled", false);
  source_ = node->ReadInteger("Source", kEffectSourceCurrent);
}

void TdtpEffect::SaveToXml(TXmlNode* node) const {
  if (!node) return;
  node->FindOrAddChild("ClassName")->SetValueText(ClassName());
  node->WriteBool("Enabled", enabled_, false);
  node->WriteInteger("Source", source_, kEffectSourceCurrent);
}

void TdtpEffect::InvalidateBitmap() {
  if (shape_) shape_->Update();
}

void TdtpEffect::SetEnabled(bool value) {
  if (value == enabled_) return;
  RecordChange("Enabled", BoolToText(enabled_));
  enabled_ = value;
  InvalidateBitmap();
}

void TdtpEffect::SetSource(std::int32_t value) {
  if (value == source_) return;
  RecordChange("Source", std::to_string(source_));
  source_ = value;
  Changed();
}

int TdtpEffect::GetIndex() const { return shape_ ? shape_->IndexOfEffect(this) : -1; }

void TdtpEffect::Changed() {
  Loaded();
  InvalidateBitmap();
  if (shape_) shape_->Changed();
}

void TdtpEffect::RecordChange(const std::string& propName, const std::string& oldValue) {
  if (shape_) shape_->RecordEffectUndo(ckEffectPropertyChanged, this, oldValue, propName, GetIndex());
}

std::string TdtpEffect::SaveToString() const {
  return WriteStoredString(
      shape_ ? shape_->GetStorage() : nullptr,
      [this] {
        std::vector<std::string> names;
        GetResourceNames(names);
        return names;
      },
      "effect", [this](TXmlNode* root) { SaveToXml(root); });
}

void TdtpEffect::LoadFromString(std::string_view data) {
  if (data.empty()) return;
  ReadStoredString(data, shape_ ? shape_->GetStorage() : nullptr, nullptr,
                   [this](TXmlNode* root) { LoadFromXml(root); });
}

// ---- Registry ------------------------------------------------------------------

void RegisterEffectClass(const std::string& name, TdtpEffectFactory factory) {
  if (!factory) return;
  for (const TEffectClassHolder& h : Holders())
    if (h.Name == name) return;
  Holders().push_back({name, factory});
}

TdtpEffectFactory FindEffectClass(const std::string& name) {
  for (const TEffectClassHolder& h : Holders())
    if (h.Name == name) return h.Create;
  return &CreateBaseEffect;
}

std::unique_ptr<TdtpEffect> CreateEffect(const std::string& name) { return FindEffectClass(name)(); }

const std::vector<TEffectClassHolder>& EffectClasses() { return Holders(); }

void RegisterEffectClasses() { RegisterEffectClass<TdtpEffect>(); }

}  // namespace kdl

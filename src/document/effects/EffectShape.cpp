#include "document/effects/EffectShape.h"

#include <utility>

#include "document/shapes/Command.h"
#include "document/shapes/DocumentServices.h"
#include "document/shapes/ShapeValues.h"
#include "foundation/Storage.h"
#include "foundation/XmlNode.h"

namespace kdl {

TdtpEffectShape::TdtpEffectShape() = default;

TdtpEffectShape::~TdtpEffectShape() = default;

int TdtpEffectShape::AddEffect(std::unique_ptr<TdtpEffect> effect) {
  if (!effect) return -1;
  Invalidate();
  const int index = EffectCount();
  RecordEffectUndo(ckEffectAdded, effect.get(), std::to_string(index), "", index);
  TdtpEffect& e = *effects_.emplace_back(std::move(effect));
  e.SetShape(this);
  Update();
  Changed();
  return index;
}

TdtpEffect* TdtpEffectShape::InsertEffect(int index, std::unique_ptr<TdtpEffect> effect) {
  if (!effect || index < 0 || index > EffectCount()) return nullptr;
  Invalidate();
  RecordEffectUndo(ckEffectAdded, effect.get(), std::to_string(index), "", index);
  TdtpEffect& e = **effects_.insert(effects_.begin() + index, std::move(effect));
  e.SetShape(this);
  Update();
  Changed();
  return &e;
}

void TdtpEffectShape::DeleteEffect(int index) {
  if (index < 0 || index >= EffectCount()) return;
  Invalidate();
  RecordEffectUndo(ckEffectDeleted, effects_[static_cast<std::size_t>(index)].get(), "", "", index);
  effects_.erase(effects_.begin() + index);
  Update();
  Changed();
}

TdtpEffect* TdtpEffectShape::GetEffect(int index) const {
  if (index < 0 || index >= EffectCount()) return nullptr;
  return effects_[static_cast<std::size_t>(index)].get();
}

int TdtpEffectShape::IndexOfEffect(const TdtpEffect* effect) const {
  for (std::size_t i = 0; i < effects_.size(); ++i)
    if (effects_[i].get() == effect) return static_cast<int>(i);
  return -1;
}

void TdtpEffectShape::RecordEffectUndo(std::uint8_t kind, TdtpEffect* effect,
                                       const std::string& oldValue, const std::string& propName,
                                       int index) {
  if (!effect) return;
  const bool records = RecordsUndo();
  std::unique_ptr<TdtpCommand> command;
  switch (kind) {
    case ckEffectAdded:
      if (records) command = std::make_unique<TdtpCommand>(kind, ID(), "", std::to_string(index));
      break;
    case ckEffectDeleted: {
      // The string first: it carries the members deleted below.
      if (records) {
        auto data = std::make_unique<TMemoryStream>();
        WriteStreamString(*data, effect->SaveToString());
        command = std::make_unique<TdtpCommand>(kind, ID(), std::to_string(index),
                                                effect->ClassName(), std::move(data));
      }
      if (TqxStorage* storage = GetStorage()) {
        std::vector<std::string> names;
        effect->GetResourceNames(names);
        for (const std::string& name : names)
          if (TqxStorage::IsTempStreamName(name)) storage->DeleteStream(name);
      }
      break;
    }
    case ckEffectPropertyChanged:
      if (records)
        command = std::make_unique<TdtpCommand>(kind, ID(), std::to_string(index) + "." + propName,
                                                oldValue);
      break;
    default:
      break;
  }
  if (!command) return;
  if (Document()->UndoEnabled())
    Document()->AddUndo(std::move(command));
  else
    Document()->AddRedo(std::move(command));
}

void TdtpEffectShape::SetDocument(TdtpDocumentServices* document) {
  TdtpShape::SetDocument(document);
  for (const auto& e : effects_) e->DocumentChanged();
}

void TdtpEffectShape::GetResourceNames(std::vector<std::string>& names) const {
  TdtpShape::GetResourceNames(names);
  for (const auto& e : effects_) e->GetResourceNames(names);
}

bool TdtpEffectShape::NeedsPostProcess() const {
  if (TdtpShape::NeedsPostProcess()) return true;
  for (const auto& e : effects_)
    if (e->Enabled()) return true;
  return false;
}

// Source may ask for the bitmap before any effect or after an earlier one,
// but no effect kind reads such a copy, and at print resolution each costs
// tens of MiB: the copies are left to the first kind that reads them.
void TdtpEffectShape::PostProcess(TBitmap32& bitmap, const TdtpPaintInfo& info) {
  for (const auto& e : effects_)
    if (e->Enabled()) e->Apply(bitmap, info);
  TdtpShape::PostProcess(bitmap, info);
}

void TdtpEffectShape::AdjustMargins(float& left, float& top, float& right, float& bottom) const {
  for (const auto& e : effects_) e->AdjustMargins(left, top, right, bottom);
  TdtpShape::AdjustMargins(left, top, right, bottom);
}

void TdtpEffectShape::ClearShapes() {
  effects_.clear();
  TdtpShape::ClearShapes();
}

void TdtpEffectShape::SaveToXml(TXmlNode* node) {
  TdtpShape::SaveToXml(node);
  if (!node) return;
  for (std::size_t i = 0; i < effects_.size(); ++i) {
    TXmlNode* element = node->AddNewChild("Effect");
    element->AddAttributeInt("Index", static_cast<std::int64_t>(i) + 1);
    effects_[i]->SaveToXml(element);
  }
}

// Values read from XML are stored without undo records or change events,
// so the effects go straight into the list.
void TdtpEffectShape::LoadFromXml(TXmlNode* node) {
  TdtpShape::LoadFromXml(node);
  TXmlNodeList elements;
  node->FindChildren("Effect", &elements);
  for (TXmlNode* element : elements) {
    TdtpEffect& e = *effects_.emplace_back(CreateEffect(element->ReadString("ClassName", "")));
    e.SetShape(this);
    e.LoadFromXml(element);
    e.Loaded();
  }
  UpdateMargins();
}

bool TdtpEffectShape::ExecuteCommand(const TdtpCommand& command) {
  if (command.ShapeID != ID() || command.Kind < ckEffectAdded ||
      command.Kind > ckEffectPropertyChanged)
    return TdtpShape::ExecuteCommand(command);
  switch (command.Kind) {
    case ckEffectAdded:
      DeleteEffect(StrToInt(command.OldValue));
      break;
    case ckEffectDeleted: {
      TdtpEffect* e = InsertEffect(StrToInt(command.PropName), CreateEffect(command.OldValue));
      if (e && command.Data) {
        command.Data->SetPosition(0);
        const std::string text = ReadStreamString(*command.Data);
        command.Data->SetPosition(0);
        e->LoadFromString(text);
        Update();
      }
      break;
    }
    default: {
      const std::size_t dot = command.PropName.find('.');
      if (dot == std::string::npos) break;
      TdtpEffect* e = GetEffect(StrToInt(std::string_view(command.PropName).substr(0, dot)));
      if (e) e->SetPropertyText(command.PropName.substr(dot + 1), command.OldValue);
      break;
    }
  }
  return true;
}

}  // namespace kdl

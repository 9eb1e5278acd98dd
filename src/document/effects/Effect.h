// An effect changes an effect shape's rendered cache after drawing. The
// base kind persists what every effect has (Enabled, Source) and does
// nothing when applied; an unknown class name reads as one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kdl {

class TBitmap32;
class TdtpEffectShape;
class TXmlNode;
struct TdtpPaintInfo;

// Source values: the bitmap as it is, or as it was before any effect;
// k >= 0 names the bitmap right after effect k.
inline constexpr std::int32_t kEffectSourceCurrent = -2;
inline constexpr std::int32_t kEffectSourceOriginal = -1;

class TdtpEffect {
 public:
  TdtpEffect() = default;
  virtual ~TdtpEffect() = default;
  TdtpEffect(const TdtpEffect&) = delete;
  TdtpEffect& operator=(const TdtpEffect&) = delete;

  // The name stored in XML and looked up in the effect class registry.
  virtual std::string ClassName() const { return "TdtpEffect"; }

  // Through the XML form, so that every kind copies what it persists.
  virtual void Assign(const TdtpEffect& source);
  // The owner's Invalidate.
  virtual void Invalidate();
  virtual void Apply(TBitmap32& /*bitmap*/, const TdtpPaintInfo& /*info*/) {}
  virtual void Loaded() {}
  virtual void SetShape(TdtpEffectShape* shape) { shape_ = shape; }
  // The owner's document changed; kinds holding resources pass it on.
  virtual void DocumentChanged() {}
  // Grows the owner's render margins, in mm.
  virtual void AdjustMargins(float& /*left*/, float& /*top*/, float& /*right*/,
                             float& /*bottom*/) const {}
  // Replays a kind-5 undo record; names are exact.
  virtual void SetPropertyText(const std::string& propName, const std::string& value);
  // The class name without "Tdtp" and "Effect"; empty for a shorter name.
  virtual std::string GetDisplayName() const;
  // Appends the archive member names the effect uses.
  virtual void GetResourceNames(std::vector<std::string>& /*names*/) const {}
  virtual void LoadFromXml(TXmlNode* node);
  virtual void SaveToXml(TXmlNode* node) const;
  // The owner's Update: its cache and margins are stale.
  virtual void InvalidateBitmap();

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  std::int32_t Source() const { return source_; }
  void SetSource(std::int32_t value);
  TdtpEffectShape* Shape() const { return shape_; }
  // The position in the owner's list; -1 without owner.
  int GetIndex() const;
  void Changed();
  void RecordChange(const std::string& propName, const std::string& oldValue);

  // The effect string: the members the effect uses (none when the owner has
  // no archive) and its XML with root "effect".
  std::string SaveToString() const;
  // Reads what SaveToString wrote (any root name); Loaded is not called.
  void LoadFromString(std::string_view data);

 private:
  bool enabled_ = true;
  TdtpEffectShape* shape_ = nullptr;
  std::int32_t source_ = kEffectSourceCurrent;
};

// ---- Effect class registry -------------------------------------------------

using TdtpEffectFactory = std::unique_ptr<TdtpEffect> (*)();

struct TEffectClassHolder {
  std::string Name;
  TdtpEffectFactory Create = nullptr;
};

// A name already registered is ignored. Call only at start-up.
void RegisterEffectClass(const std::string& name, TdtpEffectFactory factory);
template <class T>
void RegisterEffectClass() {
  RegisterEffectClass(T().ClassName(), [] { return std::unique_ptr<TdtpEffect>(new T()); });
}
// The factory of the first class of exactly that name; TdtpEffect's when
// none has it.
TdtpEffectFactory FindEffectClass(const std::string& name);
std::unique_ptr<TdtpEffect> CreateEffect(const std::string& name);
const std::vector<TEffectClassHolder>& EffectClasses();

// The library's own effect kinds; run once by InitializeDocumentLibrary.
void RegisterEffectClasses();

}  // namespace kdl

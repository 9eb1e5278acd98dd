// Masks of the mask effect: each renders a byte map the size of the shape's
// cache (a feathered copy of the alpha, an image's brightness placed in the
// frame, or a filled outline placed in the frame) that the effect folds
// into the alpha with the mask's operation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/shapes/PolygonPoints.h"
#include "platform/FontStyles.h"
#include "raster/ByteMap.h"
#include "raster/Types.h"

namespace kdl {

class TdtpBitmapResource;
class TdtpDocumentServices;
class TdtpMaskEffect;
class TXmlNode;

class TdtpMask {
 public:
  TdtpMask() = default;
  virtual ~TdtpMask() = default;
  TdtpMask(const TdtpMask&) = delete;
  TdtpMask& operator=(const TdtpMask&) = delete;

  // The name stored in XML and looked up in the mask class registry.
  virtual std::string ClassName() const { return "TdtpMask"; }

  // Fills mask (alpha's size, cleared to 0) from alpha and the frame
  // rectangle in map pixels. The base inverts the result when
  // FlipAlphaChannel is set; every kind ends with it.
  virtual void Render(TByteMap& mask, const TByteMap& alpha, const TRect& frame);
  // Folds the mask into alpha with its operation, as Render into a cleared
  // map and CombineByteMaps would, but row by row without a map of alpha's
  // size. False, with alpha untouched, where a kind does not do this (the
  // base) or cannot for this size; the effect then renders.
  virtual bool RenderInto(TByteMap& /*alpha*/, const TRect& /*frame*/) { return false; }
  // The owner effect's Changed.
  virtual void Changed();
  // Grows the owning shape's render margins, in mm.
  virtual void AdjustMargins(float& /*left*/, float& /*top*/, float& /*right*/,
                             float& /*bottom*/) const {}
  virtual void GetResourceNames(std::vector<std::string>& /*names*/) const {}
  virtual void LoadFromXml(TXmlNode* node);
  virtual void SaveToXml(TXmlNode* node) const;
  // The owning shape's document changed, or the mask joined an owner.
  virtual void DocumentChanged() {}

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool FlipAlphaChannel() const { return flipAlphaChannel_; }
  void SetFlipAlphaChannel(bool value);
  std::uint8_t Operation() const { return operation_; }
  void SetOperation(std::uint8_t value);

  TdtpMaskEffect* Owner() const { return owner_; }
  // Set by the effect that takes the mask.
  void SetOwner(TdtpMaskEffect* owner);
  // The owning shape's document; nil without one.
  TdtpDocumentServices* Document() const;

 protected:
  // Stores without a change event, for the kinds' own defaults.
  void InitOperation(std::uint8_t value) { operation_ = value; }
  // The base Render's step: inverts mask when FlipAlphaChannel is set.
  void FinishRender(TByteMap& mask) const;
  // A setter's work: a new value is stored, then Changed.
  template <class T>
  void Store(T& field, const T& value) {
    if (value == field) return;
    field = value;
    Changed();
  }

 private:
  bool enabled_ = true;
  TdtpMaskEffect* owner_ = nullptr;
  bool flipAlphaChannel_ = false;
  std::uint8_t operation_ = 0;
};

// A blurred copy of the alpha, contrast doubled so that the soft edge lies
// inside the shape's outline.
class TdtpFeatherMask : public TdtpMask {
 public:
  TdtpFeatherMask() { InitOperation(3); }
  std::string ClassName() const override { return "TdtpFeatherMask"; }

  void Render(TByteMap& mask, const TByteMap& alpha, const TRect& frame) override;
  bool RenderInto(TByteMap& alpha, const TRect& frame) override;
  void AdjustMargins(float& left, float& top, float& right, float& bottom) const override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) const override;

  // The blur radius as a fraction of the frame's longer side.
  float Feather() const { return feather_; }
  void SetFeather(float value);

 private:
  // The blur's radius in map pixels for the frame.
  float Radius(const TRect& frame) const;

  float feather_ = 0.01f;
};

// A mask placed in the frame: Left and Top as fractions of the frame, and
// Width and Height as the kinds below read them.
class TdtpPositionMask : public TdtpMask {
 public:
  std::string ClassName() const override { return "TdtpPositionMask"; }

  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) const override;

  float Height() const { return height_; }
  void SetHeight(float value);
  float Left() const { return left_; }
  void SetLeft(float value);
  float Top() const { return top_; }
  void SetTop(float value);
  float Width() const { return width_; }
  void SetWidth(float value);
  // Quarter turns: 1 left, 2 half, 3 right; anything else none.
  std::uint8_t Rotation() const { return rotation_; }
  void SetRotation(std::uint8_t value);

 private:
  float height_ = 1;
  float left_ = 0;
  float top_ = 0;
  float width_ = 1;
  std::uint8_t rotation_ = 0;
};

// An image's brightness stretched into (Left, Top)-(Width, Height) of the
// frame: here Width and Height are the right and bottom edges.
class TdtpBitmapMask : public TdtpPositionMask {
 public:
  TdtpBitmapMask();
  ~TdtpBitmapMask() override;
  std::string ClassName() const override { return "TdtpBitmapMask"; }

  void Render(TByteMap& mask, const TByteMap& alpha, const TRect& frame) override;
  void GetResourceNames(std::vector<std::string>& names) const override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) const override;
  void DocumentChanged() override;

  TdtpBitmapResource& Image() { return *image_; }
  // Outside the image the mask is 255 (else 0).
  bool OutsideIsTransparent() const { return outsideIsTransparent_; }
  void SetOutsideIsTransparent(bool value);

 private:
  std::unique_ptr<TdtpBitmapResource> image_;
  bool outsideIsTransparent_ = false;
};

// A filled outline in the unit square, placed at (Left, Top) of the frame
// and sized Width x Height of it. Style 3 builds a predefined Shape (0
// ellipse, 1 rounded square, 2 star); Style 0 keeps the points given.
class TdtpPolygonMask : public TdtpPositionMask {
 public:
  TdtpPolygonMask();
  std::string ClassName() const override { return "TdtpPolygonMask"; }

  void Render(TByteMap& mask, const TByteMap& alpha, const TRect& frame) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) const override;

  void ClearPoints();
  void StartLine();
  // To the last line; one is started when there is none.
  void AddPoint(float x, float y);
  void BuildShape();
  const TArrayOfArrayOfFloatPoint& Points() const { return points_; }
  // The predefined shape is built again at the next Render.
  bool RebuildPending() const { return rebuild_; }

  std::uint8_t Shape() const { return shape_; }
  void SetShape(std::uint8_t value);
  std::uint8_t Style() const { return style_; }
  void SetStyle(std::uint8_t value);
  // Kept for the documents that carry them; rendering ignores them.
  const std::string& GlyphFontName() const { return glyphFontName_; }
  void SetGlyphFontName(const std::string& value);
  TFontStyles GlyphFontStyle() const { return glyphFontStyle_; }
  void SetGlyphFontStyle(TFontStyles value);
  const std::u16string& GlyphText() const { return glyphText_; }
  void SetGlyphText(const std::u16string& value);

 private:
  TArrayOfArrayOfFloatPoint points_;
  std::string glyphFontName_;
  std::uint8_t shape_ = 0;
  std::uint8_t style_ = 3;
  TFontStyles glyphFontStyle_ = 0;
  std::u16string glyphText_;
  bool rebuild_ = true;
};

// Maps every point linearly so that the bounding box becomes the unit
// square; an axis without extent goes to 0.
void NormalizeToUnitSquare(TArrayOfArrayOfFloatPoint& lines);

// The "GlyphFontStyle" element: Booleans "Bold", "Italic", "Underline",
// "Strikeout" under node.
TFontStyles ReadFontStyleXml(const TXmlNode* node);
void WriteFontStyleXml(TXmlNode* node, TFontStyles style);

// ---- Mask class registry ---------------------------------------------------------

using TdtpMaskFactory = std::unique_ptr<TdtpMask> (*)();

struct TMaskClassHolder {
  std::string Name;
  TdtpMaskFactory Create = nullptr;
};

// A name already registered is ignored. Call only at start-up.
void RegisterMaskClass(const std::string& name, TdtpMaskFactory factory);
template <class T>
void RegisterMaskClass(const std::string& name) {
  RegisterMaskClass(name, [] { return std::unique_ptr<TdtpMask>(new T()); });
}
// Exact name; TdtpMask's factory when unknown.
TdtpMaskFactory MaskClassByName(const std::string& name);
std::unique_ptr<TdtpMask> CreateMask(const std::string& name);

}  // namespace kdl

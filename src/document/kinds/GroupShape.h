// The group container: an effect shape stored and created under its own
// class name. Its children follow their anchors when Grouped is set.
// TdtpPlaceHolder is a ready-made group: a white rectangle with a centred
// "Place image here" caption, shown over empty text or image frames.
#pragma once

#include <memory>
#include <string>

#include "document/effects/EffectShape.h"

namespace kdl {

class TdtpRectangleShape;
class TdtpMemoShape;

class TdtpGroupShape : public TdtpEffectShape {
 public:
  std::string ClassName() const override { return "TdtpGroupShape"; }
};

class TdtpPlaceHolder : public TdtpGroupShape {
 public:
  // The rectangle and the caption, both fixed, so that a stored
  // placeholder's elements are read into them.
  TdtpPlaceHolder();
  std::string ClassName() const override { return "TdtpPlaceHolder"; }
};

// Anchors of the placeholder parts: sized with the parent, left and top
// locked.
inline constexpr std::uint16_t kPlaceHolderAnchors = 0x78;
inline constexpr const char16_t* kPlaceHolderText = u"Place image here";

// The white, black-edged background of a placeholder, width x height mm.
std::unique_ptr<TdtpRectangleShape> MakePlaceHolderFrame(float width, float height);
// The centred caption inside a frame of width x height mm, 2 mm in from
// each side.
std::unique_ptr<TdtpMemoShape> MakePlaceHolderCaption(float width, float height);

}  // namespace kdl

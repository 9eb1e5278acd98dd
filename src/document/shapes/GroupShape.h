// The group container: an effect shape stored and created under its own
// class name. Its children follow their anchors when Grouped is set.
#pragma once

#include <string>

#include "document/effects/EffectShape.h"

namespace kdl {

class TdtpGroupShape : public TdtpEffectShape {
 public:
  std::string ClassName() const override { return "TdtpGroupShape"; }
};

}  // namespace kdl

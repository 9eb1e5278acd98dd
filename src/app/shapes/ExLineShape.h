// The label's cut and fold lines: the library's straight line with a pen
// style that can draw it as 5 mm dashes with 5 mm gaps.
#pragma once

#include <cstdint>
#include <string>

#include "document/kinds/LineShape.h"

namespace kdl {

enum TDtpPenStyle : std::uint8_t {
  psSolid = 0,
  psDashed = 1,
};

// More dashes than this come only from damaged geometry; such a line draws
// solid rather than building millions of contours.
inline constexpr double kMaxDashCount = 100000;

class TDtpExLineShape : public TdtpLineShape {
 public:
  TDtpExLineShape() = default;

  std::string ClassName() const override { return "TDtpExLineShape"; }

  // 0 solid, 1 dashed; any other value draws solid.
  std::uint8_t PenStyle() const { return penStyle_; }
  void SetPenStyle(std::uint8_t value);

  void BuildPoints() override;
  void SetPropertyText(const std::string& propName, const std::string& value) override;
  void LoadFromXml(TXmlNode* node) override;
  void SaveToXml(TXmlNode* node) override;

 private:
  void AddDash(double ax, double ay, double bx, double by, double nx, double ny);

  std::uint8_t penStyle_ = psSolid;
};

}  // namespace kdl

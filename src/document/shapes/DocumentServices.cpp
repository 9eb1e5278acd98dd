#include "document/shapes/DocumentServices.h"

#include "document/shapes/HandlePainter.h"
#include "document/shapes/HitPoints.h"

namespace kdl {

int TdtpDocumentServices::HitPointCount() const {
  return static_cast<int>(DefaultHitPoints().size());
}

TPoint TdtpDocumentServices::GetHitPoint(int index) const {
  const std::vector<TPoint>& points = DefaultHitPoints();
  return index >= 0 && index < static_cast<int>(points.size())
             ? points[static_cast<std::size_t>(index)]
             : TPoint{};
}

std::unique_ptr<TdtpHandlePainter> TdtpDocumentServices::CreateHandlePainter(TdtpShape&) {
  return nullptr;
}

}  // namespace kdl
